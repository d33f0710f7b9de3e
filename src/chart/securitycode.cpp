#include "securitycode.h"

#include <QLocale>

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

std::optional<QString> codeToDisplay(const QString& text) {
    auto code = normalizeCode(text);
    if (!code || !isCodeLength(*code))
        return std::nullopt;
    return code;
}

bool isPlainCode(const QString& text) {
    if (text.size() != 4)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
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

} // namespace chart
