#include "prices/pricecsv.h"

#include <QDateTime>
#include <QHash>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cmath>
#include <optional>

namespace portal {

namespace {

// No price or volume comes near this; beyond it a volume would not fit the 64-bit count it is
// stored as, and would come back as a negative number.
constexpr double kLargestValue = 1e15;

enum Role { Date, Open, High, Low, Close, Volume, AdjClose, RoleCount };

// Japanese names, used in messages whatever the layout.
const char* const kRoleNames[RoleCount] = {"日付", "始値",   "高値",      "安値",
                                           "終値", "出来高", "調整後終値"};

// Header names as they are compared: lower case, without blanks, dots, underscores and a unit in
// brackets ("出来高(株)", "Adj. Close").
QString headerKey(QString name) {
    static const QRegularExpression unit(QStringLiteral("[(（][^)）]*[)）]"));
    static const QRegularExpression noise(QStringLiteral("[\\s._\\x{3000}]"));
    name.remove(unit);
    name.remove(noise);
    return name.toLower();
}

int roleOf(const QString& header) {
    static const QHash<QString, int> roles = [] {
        QHash<QString, int> r;
        const std::pair<const char*, int> names[] = {
            {"date", Date},         {"日付", Date},
            {"open", Open},         {"始値", Open},
            {"high", High},         {"高値", High},
            {"low", Low},           {"安値", Low},
            {"close", Close},       {"終値", Close},
            {"volume", Volume},     {"出来高", Volume},
            {"adjclose", AdjClose}, {"調整後終値", AdjClose},
        };
        for (const auto& [name, role] : names)
            r.insert(QString::fromUtf8(name), role);
        return r;
    }();
    return roles.value(headerKey(header), -1);
}

bool isJapaneseHeader(const QString& header) {
    return std::any_of(header.begin(), header.end(), [](QChar c) { return c.unicode() >= 0x3000; });
}

// UTF-8 when the bytes are UTF-8 (with or without a byte-order mark), code page 932 otherwise.
QString decode(QByteArray bytes) {
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    QStringDecoder utf8(QStringDecoder::Utf8);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return text;
    QStringDecoder sjis("Shift_JIS");
    if (sjis.isValid()) {
        text = sjis(bytes);
        if (!sjis.hasError())
            return text;
    }
    return QString::fromLatin1(bytes);
}

// One line of comma-separated fields; a field in double quotes may hold commas and "" for a quote.
QStringList splitFields(const QString& line) {
    QStringList out;
    if (!line.contains(QLatin1Char('"'))) {
        out = line.split(QLatin1Char(','));
        for (QString& f : out)
            f = f.trimmed();
        return out;
    }
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"')) {
                    field += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            out.append(field.trimmed());
            field.clear();
        } else {
            field += c;
        }
    }
    out.append(field.trimmed());
    return out;
}

bool isAsciiDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// Digits from position i, at least min and at most max of them; the value, or -1.
int digitsAt(QStringView text, qsizetype& i, int min, int max) {
    int value = 0, n = 0;
    while (i < text.size() && n < max && isAsciiDigit(text[i])) {
        value = value * 10 + (text[i].unicode() - '0');
        ++i;
        ++n;
    }
    return n >= min ? value : -1;
}

bool charAt(QStringView text, qsizetype& i, char16_t c) {
    if (i < text.size() && text[i] == QChar(c)) {
        ++i;
        return true;
    }
    return false;
}

// 2024/09/30, 2024-09-30, 2024/9/30, 20240930 (exactly eight digits) or 2024年9月30日. Written
// out by hand: the rows of a twelve-year file are thousands of dates and a regular expression
// per field is most of the time.
std::optional<QDate> parseDate(QStringView text) {
    qsizetype i = 0;
    const int y = digitsAt(text, i, 4, 4);
    int m = -1, d = -1;
    if (y < 0 || i == text.size()) {
        return std::nullopt;
    } else if (isAsciiDigit(text[i])) {
        m = digitsAt(text, i, 2, 2);
        d = digitsAt(text, i, 2, 2);
    } else if (charAt(text, i, u'年')) {
        m = digitsAt(text, i, 1, 2);
        d = charAt(text, i, u'月') ? digitsAt(text, i, 1, 2) : -1;
        if (!charAt(text, i, u'日'))
            return std::nullopt;
    } else {
        auto separator = [&] {
            return charAt(text, i, u'/') || charAt(text, i, u'-');
        };
        m = separator() ? digitsAt(text, i, 1, 2) : -1;
        d = separator() ? digitsAt(text, i, 1, 2) : -1;
    }
    if (m < 0 || d < 0 || i != text.size())
        return std::nullopt;
    const QDate date(y, m, d);
    if (!date.isValid())
        return std::nullopt;
    return date;
}

// "1234", "1,234,567", "-12.5", "+3", ".5"; nothing else (no exponents, no words such as "nan",
// no separators out of place such as "12,34").
std::optional<double> parseNumber(const QString& text) {
    QByteArray plain;
    plain.reserve(text.size());
    int i = 0;
    const int n = int(text.size());
    if (i < n && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-')))
        plain += char(text[i++].unicode());
    int whole = 0;  // digits before the point
    int group = -1; // digits since the last thousands separator; -1 before the first
    for (; i < n; ++i) {
        const QChar c = text[i];
        if (isAsciiDigit(c)) {
            plain += char(c.unicode());
            ++whole;
            if (group >= 0)
                ++group;
        } else if (c == QLatin1Char(',')) {
            if (whole == 0 || (group < 0 ? whole > 3 : group != 3))
                return std::nullopt;
            group = 0;
        } else {
            break;
        }
    }
    if (group >= 0 && group != 3)
        return std::nullopt;
    if (i < n && text[i] == QLatin1Char('.')) {
        plain += '.';
        int fraction = 0;
        for (++i; i < n && isAsciiDigit(text[i]); ++i, ++fraction)
            plain += char(text[i].unicode());
        if (fraction == 0)
            return std::nullopt;
    } else if (whole == 0) {
        return std::nullopt;
    }
    if (i != n)
        return std::nullopt;
    bool ok = false;
    const double v = plain.toDouble(&ok);
    if (!ok || !std::isfinite(v))
        return std::nullopt;
    return v;
}

QString quoted(const QString& text) {
    return QStringLiteral("“%1”").arg(text.left(40));
}

QString number(double v) {
    if (std::abs(v - std::round(v)) < 1e-9 && std::abs(v) < 1e15)
        return QString::number(qint64(std::llround(v)));
    QString s = QString::number(v, 'f', 4);
    while (s.endsWith(QLatin1Char('0')))
        s.chop(1);
    if (s.endsWith(QLatin1Char('.')))
        s.chop(1);
    return s;
}

constexpr int kHeaderSearchLines = 10;

QDate firstTradingDay() {
    return QDate(1949, 5, 16); // the exchange reopened after the war
}

QString day(const QDate& date) {
    return date.toString(QStringLiteral("yyyy/MM/dd"));
}

} // namespace

QString layoutName(PriceLayout layout) {
    switch (layout) {
    case PriceLayout::Portal:
        return QStringLiteral("portal");
    case PriceLayout::Japanese:
        return QStringLiteral("japanese");
    case PriceLayout::English:
        return QStringLiteral("english");
    case PriceLayout::Unknown:
        break;
    }
    return QStringLiteral("unknown");
}

QDate todayInJapan() {
    // Japan keeps no summer time, so a fixed offset is the whole rule.
    return QDateTime::currentDateTimeUtc().addSecs(9 * 3600).date();
}

PriceFile parsePriceCsv(const QByteArray& bytes, const QDate& today) {
    const QDate lastDay = today.isValid() ? today : todayInJapan();
    PriceFile out;
    const QString text = decode(bytes);
    if (text.trimmed().isEmpty()) {
        out.error = QStringLiteral("中身がありません");
        return out;
    }
    if (text.trimmed().startsWith(QLatin1Char('<'))) {
        out.error = QStringLiteral("HTML のページで、株価の CSV ではありません");
        return out;
    }
    QStringList lines = text.split(QLatin1Char('\n'));
    for (QString& l : lines) {
        if (l.endsWith(QLatin1Char('\r')))
            l.chop(1);
    }

    // Where the rows start and which column holds what.
    std::array<int, RoleCount> column;
    column.fill(-1);
    int firstRow = -1;
    int seen = 0;
    for (int i = 0; i < lines.size() && seen < kHeaderSearchLines && firstRow < 0; ++i) {
        if (lines[i].trimmed().isEmpty())
            continue;
        ++seen;
        const QStringList f = splitFields(lines[i]);
        if (seen == 1 && f.size() >= 6 && parseDate(f[0])) {
            // No header: the portal's own column order.
            for (int r = Date; r <= Volume; ++r)
                column[r] = r;
            out.layout = PriceLayout::Portal;
            firstRow = i;
            break;
        }
        std::array<int, RoleCount> found;
        found.fill(-1);
        bool japanese = false;
        for (int c = 0; c < f.size(); ++c) {
            const int role = roleOf(f[c]);
            if (role >= 0 && found[role] < 0) {
                found[role] = c;
                japanese = japanese || isJapaneseHeader(f[c]);
            }
        }
        if (found[Date] < 0)
            continue;
        QStringList missing;
        for (int r = Open; r <= Volume; ++r) {
            if (found[r] < 0)
                missing.append(QString::fromUtf8(kRoleNames[r]));
        }
        if (!missing.isEmpty()) {
            out.error = QStringLiteral("%1 行目の見出しに %2 の列がありません")
                            .arg(i + 1)
                            .arg(missing.join(QStringLiteral("・")));
            return out;
        }
        column = found;
        const bool portalOrder = f.size() == 6 && found[AdjClose] < 0 &&
                                 std::is_sorted(found.begin(), found.begin() + Volume + 1) &&
                                 f[0] == QLatin1String("Date");
        out.layout = japanese      ? PriceLayout::Japanese
                     : portalOrder ? PriceLayout::Portal
                                   : PriceLayout::English;
        firstRow = i + 1;
    }
    if (firstRow < 0) {
        out.error = QStringLiteral(
            "見出し行（日付,始値,高値,安値,終値,出来高 または Date,Open,High,Low,Close,Volume）が"
            "見つかりません");
        return out;
    }

    const int needed = *std::max_element(column.begin(), column.end()) + 1;
    struct Seen {
        int line;
        Bar bar;
    };
    QHash<QDate, Seen> byDate;
    QHash<QDate, bool> conflicting;
    History rows;
    for (int i = firstRow; i < lines.size(); ++i) {
        const int lineNo = i + 1;
        const QStringList f = splitFields(lines[i]);
        if (std::all_of(f.begin(), f.end(), [](const QString& s) { return s.isEmpty(); }))
            continue;
        auto problem = [&](const QString& reason) {
            out.problems.append({lineNo, reason});
        };
        if (f.size() < needed) {
            problem(QStringLiteral("列が足りません（%1 列、%2 列必要）").arg(f.size()).arg(needed));
            continue;
        }
        const auto date = parseDate(f[column[Date]]);
        if (!date) {
            problem(QStringLiteral("日付を読めません: %1").arg(quoted(f[column[Date]])));
            continue;
        }
        if (*date > lastDay) {
            problem(QStringLiteral("日付 %1 は未来の日付です（今日は %2）")
                        .arg(day(*date), day(lastDay)));
            continue;
        }
        if (*date < firstTradingDay()) {
            problem(QStringLiteral("日付 %1 は取引所が再開した %2 より前です")
                        .arg(day(*date), day(firstTradingDay())));
            continue;
        }
        std::array<double, RoleCount> v{};
        QString bad;
        for (int r = Open; r < RoleCount && bad.isEmpty(); ++r) {
            if (column[r] < 0)
                continue;
            const auto n = parseNumber(f[column[r]]);
            if (!n)
                bad = QStringLiteral("%1を数値として読めません: %2")
                          .arg(QString::fromUtf8(kRoleNames[r]), quoted(f[column[r]]));
            else if (*n < 0)
                bad = QStringLiteral("%1が負の値です: %2")
                          .arg(QString::fromUtf8(kRoleNames[r]), f[column[r]]);
            else if (*n > kLargestValue)
                bad = QStringLiteral("%1が大きすぎます: %2")
                          .arg(QString::fromUtf8(kRoleNames[r]), f[column[r]]);
            else if (*n == 0 && r != Volume)
                bad = QStringLiteral("%1が 0 です").arg(QString::fromUtf8(kRoleNames[r]));
            else
                v[r] = *n;
        }
        if (bad.isEmpty() && v[High] < std::max({v[Low], v[Open], v[Close]}))
            bad = QStringLiteral("高値 %1 が安値・始値・終値より低い値です").arg(number(v[High]));
        if (bad.isEmpty() && v[Low] > std::min(v[Open], v[Close]))
            bad = QStringLiteral("安値 %1 が始値・終値より高い値です").arg(number(v[Low]));
        if (!bad.isEmpty()) {
            problem(bad);
            continue;
        }
        Bar b;
        b.date = *date;
        b.open = v[Open];
        b.high = v[High];
        b.low = v[Low];
        b.close = v[Close];
        b.volume = qint64(std::llround(v[Volume]));
        if (column[AdjClose] >= 0 && v[AdjClose] > 0 && std::abs(v[AdjClose] - v[Close]) > 1e-9) {
            const double factor = v[AdjClose] / v[Close];
            b.open *= factor;
            b.high *= factor;
            b.low *= factor;
            b.close *= factor;
        }
        const auto previous = byDate.constFind(b.date);
        if (previous != byDate.constEnd()) {
            const Bar& p = previous->bar;
            const bool same = p.open == b.open && p.high == b.high && p.low == b.low &&
                              p.close == b.close && p.volume == b.volume;
            if (!same) {
                problem(QStringLiteral("日付 %1 が %2 行目にもあり、値が違います")
                            .arg(day(b.date))
                            .arg(previous->line));
                conflicting.insert(b.date, true);
            }
            continue;
        }
        byDate.insert(b.date, {lineNo, b});
        rows.append(b);
    }
    if (!conflicting.isEmpty())
        rows.erase(std::remove_if(rows.begin(), rows.end(),
                                  [&](const Bar& b) { return conflicting.contains(b.date); }),
                   rows.end());
    std::stable_sort(rows.begin(), rows.end(),
                     [](const Bar& a, const Bar& b) { return a.date < b.date; });
    out.bars = std::move(rows);
    return out;
}

QByteArray writePriceCsv(const History& bars) {
    QByteArray out = "Date,Open,High,Low,Close,Volume\n";
    out.reserve(40 * (bars.size() + 1));
    for (const Bar& b : bars) {
        out += b.date.toString(Qt::ISODate).toLatin1() + ',' + number(b.open).toLatin1() + ',' +
               number(b.high).toLatin1() + ',' + number(b.low).toLatin1() + ',' +
               number(b.close).toLatin1() + ',' + QByteArray::number(b.volume) + '\n';
    }
    return out;
}

} // namespace portal
