#include "securitycode.h"

#include <QLocale>

#include <algorithm>
#include <cmath>

namespace chart {

namespace {

// What a Japanese input method types for a number, mapped to the plain characters the numeric
// conversion understands. Everything else passes unchanged (and fails there if it is no number).
QString plainForm(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u >= 0xFF10 && u <= 0xFF19) // full-width digits
            out.append(QChar(u'0' + (u - 0xFF10)));
        else if (u == 0x3000) // ideographic (full-width) blank
            out.append(QLatin1Char(' '));
        else if (u == 0xFF0D || u == 0x2212) // full-width hyphen-minus, minus sign
            out.append(QLatin1Char('-'));
        else if (u == 0xFF0B) // full-width plus
            out.append(QLatin1Char('+'));
        else if (u == 0xFF0E) // full-width full stop
            out.append(QLatin1Char('.'));
        else if (u == 0xFF0C) // full-width comma, as a digit group separator
            out.append(QLatin1Char(','));
        else
            out.append(c);
    }
    return out;
}

// The number conventions of the Japanese locale ("." decimal point, "," digit groups) are those
// of the C locale; using it keeps the result independent of the desktop's language.
const QLocale& numberLocale() {
    static const QLocale c = QLocale::c();
    return c;
}

QString shortestDecimal(double value) {
    return numberLocale().toString(value, 'g', QLocale::FloatingPointShortest);
}

// What an input method types for a code, as half-width upper case: full-width digits and
// letters, the ideographic blank, lower case. Everything else passes unchanged.
QString foldedCodeText(const QString& text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        char16_t u = c.unicode();
        if (u >= 0xFF01 && u <= 0xFF5E) // full-width forms of ASCII
            u = static_cast<char16_t>(u - 0xFF01 + u'!');
        else if (u == 0x3000)
            u = u' ';
        if (u >= u'a' && u <= u'z')
            u = static_cast<char16_t>(u - u'a' + u'A');
        out.append(QChar(u));
    }
    return out;
}

// Where a normalised candidate stands in code order. Numbers below the range stand before
// every code (the empty text), numbers above it after every code.
QString placeInCodeOrder(const QString& normalizedCandidate) {
    if (base::isCode(normalizedCandidate))
        return normalizedCandidate;
    const std::optional<double> value = readCodeNumber(normalizedCandidate);
    if (value && *value > 9999)
        return QString(1, QChar(0xFFFF));
    return QString();
}

// The alphanumeric code that comes first on the way from place `from` to the number `to`
// (exclusive at both ends), or `to` itself. A way that does not go the search's direction in
// code order passes over the end of the range.
QString firstOnTheWay(const QString& from, const QString& to, StepDirection dir,
                      const QStringList& codes) {
    if (dir == StepDirection::Up) {
        const auto after = std::upper_bound(codes.begin(), codes.end(), from);
        if (from < to) {
            if (after != codes.end() && *after < to)
                return *after;
            return to;
        }
        if (after != codes.end())
            return *after;
        if (!codes.isEmpty() && codes.first() < to)
            return codes.first();
        return to;
    }
    const auto before = std::lower_bound(codes.begin(), codes.end(), from);
    if (to < from) {
        if (before != codes.begin() && to < *(before - 1))
            return *(before - 1);
        return to;
    }
    if (before != codes.begin())
        return *(before - 1);
    if (!codes.isEmpty() && to < codes.last())
        return codes.last();
    return to;
}

// The number of the range next to an alphanumeric code in the search's direction, with the
// same wrap as nextStepCandidate().
QString numberBeside(const QString& code, StepDirection dir) {
    // Four-digit numbers sort as their texts do, so the range can be halved by text.
    int low = 1000;
    int high = 9999;
    if (dir == StepDirection::Up) {
        // The smallest number whose text is greater than the code.
        if (!(QString::number(high) > code))
            return QStringLiteral("1000");
        while (low < high) {
            const int mid = low + (high - low) / 2;
            if (QString::number(mid) > code)
                high = mid;
            else
                low = mid + 1;
        }
        return low >= 9999 ? QStringLiteral("1000") : QString::number(low);
    }
    // The greatest number whose text is less than the code.
    if (!(QString::number(low) < code))
        return QStringLiteral("9999");
    while (low < high) {
        const int mid = low + (high - low + 1) / 2;
        if (QString::number(mid) < code)
            low = mid;
        else
            high = mid - 1;
    }
    return low <= 1000 ? QStringLiteral("9999") : QString::number(low);
}

} // namespace

std::optional<double> readCodeNumber(const QString& text) {
    const QString plain = plainForm(text).trimmed();
    if (plain.isEmpty())
        return std::nullopt;
    bool ok = false;
    const double value = numberLocale().toDouble(plain, &ok);
    // NaN and infinities spelt out, or a number beyond the double range, are no code.
    if (!ok || !std::isfinite(value))
        return std::nullopt;
    return value;
}

QString formatCodeNumber(double value) {
    if (!std::isfinite(value))
        return QString();
    // std::round rounds halves away from zero; adding 0.0 turns a rounded -0 into 0.
    const double rounded = std::round(value) + 0.0;
    // Whole doubles are written out in full ('f' with no decimals), never through an integer
    // type, so 1e308 gives its 309 digits instead of overflowing.
    return numberLocale().toString(rounded, 'f', 0);
}

std::optional<QString> normalizeCode(const QString& text) {
    const auto value = readCodeNumber(text);
    if (!value)
        return std::nullopt;
    return formatCodeNumber(*value);
}

std::optional<QString> readAlphanumericCode(const QString& text) {
    const QString folded = foldedCodeText(text).trimmed();
    if (!base::isAlphanumericCode(folded))
        return std::nullopt;
    return folded;
}

std::optional<QString> codeToDisplay(const QString& text) {
    // A number keeps the numeric rules whatever its length; no alphanumeric code reads as one.
    if (readCodeNumber(text)) {
        auto code = normalizeCode(text);
        if (!code || !isCodeLength(*code))
            return std::nullopt;
        return code;
    }
    return readAlphanumericCode(text);
}

std::optional<QString> firstStepCandidate(const QString& codeBoxText, StepDirection dir) {
    const auto value = readCodeNumber(codeBoxText);
    if (!value)
        return std::nullopt;
    return shortestDecimal(*value + static_cast<int>(dir));
}

QString nextStepCandidate(const QString& normalizedCandidate, StepDirection dir) {
    const QString wrapTo =
        dir == StepDirection::Up ? QStringLiteral("1000") : QStringLiteral("9999");
    const auto value = readCodeNumber(normalizedCandidate);
    if (!value)
        return wrapTo;
    const double next = *value + static_cast<int>(dir);
    if (dir == StepDirection::Up ? next >= 9999.0 : next <= 1000.0)
        return wrapTo;
    return formatCodeNumber(next);
}

QString nextPossibleCode(const QString& candidate, StepDirection direction) {
    const std::optional<double> value = readCodeNumber(candidate);
    if (!value)
        return candidate;
    if (direction == StepDirection::Up) {
        if (*value < -999)
            return QStringLiteral("-999");
        if (*value > -100 && *value < 1000)
            return QStringLiteral("1000");
    } else if (*value > 9999) {
        return QStringLiteral("9999");
    }
    return candidate;
}

std::optional<QString> firstSearchCandidate(const QString& codeBoxText, StepDirection dir,
                                            const QStringList& alphanumericCodes) {
    if (const std::optional<QString> first = firstStepCandidate(codeBoxText, dir)) {
        // The first candidate does not wrap, so only codes between the box and it come first.
        const std::optional<QString> from = normalizeCode(codeBoxText);
        const std::optional<QString> to = normalizeCode(*first);
        if (!from || !to || !base::isPlainCode(*to))
            return first;
        const QString place = placeInCodeOrder(*from);
        if (dir == StepDirection::Up ? !(place < *to) : !(*to < place))
            return first;
        const QString onTheWay = firstOnTheWay(place, *to, dir, alphanumericCodes);
        return onTheWay == *to ? *first : onTheWay;
    }
    if (const std::optional<QString> code = readAlphanumericCode(codeBoxText))
        return nextSearchCandidate(*code, dir, alphanumericCodes);
    return std::nullopt;
}

std::optional<QString> normalizeSearchCandidate(const QString& candidate) {
    if (base::isAlphanumericCode(candidate))
        return candidate;
    return normalizeCode(candidate);
}

QString nextSearchCandidate(const QString& normalizedCandidate, StepDirection dir,
                            const QStringList& alphanumericCodes) {
    const QString next = base::isAlphanumericCode(normalizedCandidate)
                             ? numberBeside(normalizedCandidate, dir)
                             : nextPossibleCode(nextStepCandidate(normalizedCandidate, dir), dir);
    // Outside the range the numbers pass no code; the alphanumeric codes wait for the way in.
    if (!base::isPlainCode(next))
        return next;
    return firstOnTheWay(placeInCodeOrder(normalizedCandidate), next, dir, alphanumericCodes);
}

} // namespace chart
