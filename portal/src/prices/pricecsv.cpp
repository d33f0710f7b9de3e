#include "prices/pricecsv.h"

#include "base/codepage932.h"
#include "base/japantime.h"

#include <QBuffer>
#include <QDateTime>
#include <QHash>
#include <QIODevice>
#include <QRegularExpression>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
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

// One line's bytes as text. A file is UTF-8 (perhaps with a byte-order mark) or code page 932;
// the first line that is not plain ASCII tells which. A line that does not decode that way is
// tried the other way, then taken byte for byte, so one stray line does not spoil the rest.
class LineDecoder {
public:
    void preferUtf8() { m_decided = true; }

    // A line cut short (too long) may end inside a character, so it does not decide.
    QString operator()(const QByteArray& bytes, bool mayDecide) {
        if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return uchar(c) < 0x80; }))
            return QString::fromLatin1(bytes);
        QString text;
        QStringDecoder* order[] = {&m_utf8, &m_sjis};
        if (m_sjisFirst)
            std::swap(order[0], order[1]);
        for (QStringDecoder* decoder : order) {
            if (!decoder->isValid())
                continue;
            decoder->resetState();
            text = QString(decoder->decode(bytes));
            if (decoder->hasError())
                continue;
            if (!m_decided && mayDecide) {
                m_decided = true;
                m_sjisFirst = decoder == &m_sjis;
            }
            return text;
        }
        return QString::fromLatin1(bytes);
    }

private:
    // The file's byte-order mark is taken off before; one further on stays a character, as it
    // would in a file decoded whole.
    QStringDecoder m_utf8{QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom};
    QStringDecoder m_sjis = base::codePage932Decoder();
    bool m_decided = false;
    bool m_sjisFirst = false;
};

// Lines of a device, read in chunks, so that no line is held whole however long it is.
class LineReader {
public:
    explicit LineReader(QIODevice& in)
        : m_in(in) {}

    // The next line without its end (\n or \r\n); false past the last. A line longer than
    // kMaxLineBytes comes back cut to that length, with tooLong set, and the rest is read past.
    bool next(QByteArray& line, bool& tooLong) {
        line.clear();
        tooLong = false;
        bool any = false;
        for (;;) {
            if (m_pos >= m_chunk.size() && !fill())
                break;
            any = true;
            const char* start = m_chunk.constData() + m_pos;
            const qsizetype available = m_chunk.size() - m_pos;
            const char* end = static_cast<const char*>(std::memchr(start, '\n', available));
            const qsizetype length = end ? end - start : available;
            // One byte over the limit is kept, for a CR before the LF.
            const qsizetype room = kMaxLineBytes + 1 - line.size();
            if (!tooLong)
                line.append(start, std::min(length, room));
            tooLong = tooLong || length > room;
            m_pos += length + (end ? 1 : 0);
            if (end)
                break;
        }
        if (!tooLong && line.endsWith('\r'))
            line.chop(1);
        if (line.size() > kMaxLineBytes) {
            tooLong = true;
            line.truncate(kMaxLineBytes);
        }
        return any;
    }

private:
    static constexpr qsizetype kChunk = 64 * 1024;

    bool fill() {
        m_chunk.resize(kChunk);
        const qint64 n = m_in.read(m_chunk.data(), kChunk);
        m_chunk.resize(n > 0 ? qsizetype(n) : 0);
        m_pos = 0;
        return n > 0;
    }

    QIODevice& m_in;
    QByteArray m_chunk;
    qsizetype m_pos = 0;
};

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

// A file of more lines than an int counts is no price file, but reading one must not overflow.
int saturated(qint64 n) {
    return int(std::min<qint64>(n, std::numeric_limits<int>::max()));
}

// The rows after the header, checked one at a time. What is kept stays bounded whatever the
// input: one entry per date in the accepted range and at most kMaxRowProblems reasons.
class RowReader {
public:
    RowReader(PriceFile& out, const std::array<int, RoleCount>& column, const QDate& today)
        : m_out(out)
        , m_column(column)
        , m_today(today)
        , m_needed(*std::max_element(column.begin(), column.end()) + 1) {}

    void tooLong(qint64 line) {
        problem(
            line,
            QStringLiteral("行が長すぎます（%1 KiB を超えています）").arg(kMaxLineBytes / 1024));
    }

    void add(qint64 line, const QStringList& f) {
        if (std::all_of(f.begin(), f.end(), [](const QString& s) { return s.isEmpty(); }))
            return;
        if (f.size() < m_needed) {
            problem(
                line,
                QStringLiteral("列が足りません（%1 列、%2 列必要）").arg(f.size()).arg(m_needed));
            return;
        }
        const auto date = parseDate(f[m_column[Date]]);
        if (!date) {
            problem(line, QStringLiteral("日付を読めません: %1").arg(quoted(f[m_column[Date]])));
            return;
        }
        if (*date > m_today) {
            problem(line, QStringLiteral("日付 %1 は未来の日付です（今日は %2）")
                              .arg(day(*date), day(m_today)));
            return;
        }
        if (*date < firstTradingDay()) {
            problem(line, QStringLiteral("日付 %1 は取引所が再開した %2 より前です")
                              .arg(day(*date), day(firstTradingDay())));
            return;
        }
        std::array<double, RoleCount> v{};
        QString bad;
        for (int r = Open; r < RoleCount && bad.isEmpty(); ++r) {
            if (m_column[r] < 0)
                continue;
            const QString& text = f[m_column[r]];
            const auto n = parseNumber(text);
            if (!n)
                bad = QStringLiteral("%1を数値として読めません: %2")
                          .arg(QString::fromUtf8(kRoleNames[r]), quoted(text));
            else if (*n < 0)
                bad = QStringLiteral("%1が負の値です: %2")
                          .arg(QString::fromUtf8(kRoleNames[r]), text);
            else if (*n > kLargestValue)
                bad = QStringLiteral("%1が大きすぎます: %2")
                          .arg(QString::fromUtf8(kRoleNames[r]), text);
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
            problem(line, bad);
            return;
        }
        Bar b;
        b.date = *date;
        b.open = v[Open];
        b.high = v[High];
        b.low = v[Low];
        b.close = v[Close];
        b.volume = qint64(std::llround(v[Volume]));
        if (m_column[AdjClose] >= 0 && v[AdjClose] > 0 && std::abs(v[AdjClose] - v[Close]) > 1e-9) {
            const double factor = v[AdjClose] / v[Close];
            b.open *= factor;
            b.high *= factor;
            b.low *= factor;
            b.close *= factor;
        }
        const auto [it, first] = m_days.try_emplace(b.date, Day{saturated(line), b, false});
        if (first)
            return;
        const Bar& p = it->second.bar;
        const bool same = p.open == b.open && p.high == b.high && p.low == b.low &&
                          p.close == b.close && p.volume == b.volume;
        if (!same) {
            problem(line, QStringLiteral("日付 %1 が %2 行目にもあり、値が違います")
                              .arg(day(b.date))
                              .arg(it->second.line));
            it->second.disputed = true;
        }
    }

    // By date; a disputed date has none of its rows.
    History bars() const {
        History out;
        out.reserve(qsizetype(m_days.size()));
        for (const auto& entry : m_days) {
            if (!entry.second.disputed)
                out.append(entry.second.bar);
        }
        return out;
    }

private:
    void problem(qint64 line, const QString& reason) {
        m_out.problemCount = saturated(qint64(m_out.problemCount) + 1);
        if (m_out.problems.size() < kMaxRowProblems)
            m_out.problems.append({saturated(line), reason});
    }

    struct Day {
        int line; // the first line of the date, which a differing later row names
        Bar bar;
        bool disputed;
    };
    PriceFile& m_out;
    const std::array<int, RoleCount> m_column;
    const QDate m_today;
    const int m_needed;
    std::map<QDate, Day> m_days;
};

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
    return base::inJapan(QDateTime::currentDateTimeUtc()).date();
}

PriceFile readPriceCsv(QIODevice& in, const QDate& today) {
    PriceFile out;
    LineReader reader(in);
    LineDecoder decode;
    QByteArray bytes;
    bool tooLong = false;
    qint64 line = 0;

    // Where the rows start and which column holds what: a header among the first lines with
    // text, or none when the first of them is already a row in the portal's order.
    std::array<int, RoleCount> column;
    column.fill(-1);
    QStringList firstRow; // the fields of the first line with text when it is a row
    bool firstRowTooLong = false;
    int seen = 0;
    while (column[Date] < 0 && seen < kHeaderSearchLines && reader.next(bytes, tooLong)) {
        if (++line == 1 && bytes.startsWith("\xEF\xBB\xBF")) {
            bytes.remove(0, 3);
            decode.preferUtf8();
        }
        const QString text = decode(bytes, !tooLong);
        const QString trimmed = text.trimmed();
        if (trimmed.isEmpty())
            continue;
        if (++seen == 1 && trimmed.startsWith(QLatin1Char('<'))) {
            out.error = QStringLiteral("HTML のページで、株価の CSV ではありません");
            return out;
        }
        const QStringList f = splitFields(text);
        if (seen == 1 && f.size() >= 6 && parseDate(f[0])) {
            // No header: the portal's own column order.
            for (int r = Date; r <= Volume; ++r)
                column[r] = r;
            out.layout = PriceLayout::Portal;
            firstRow = f;
            firstRowTooLong = tooLong;
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
                            .arg(line)
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
    }
    if (column[Date] < 0) {
        out.error = seen == 0 ? QStringLiteral("中身がありません")
                              : QStringLiteral("見出し行（日付,始値,高値,安値,終値,出来高 または "
                                               "Date,Open,High,Low,Close,Volume）が見つかりません");
        return out;
    }

    RowReader rows(out, column, today.isValid() ? today : todayInJapan());
    if (firstRowTooLong)
        rows.tooLong(line);
    else if (!firstRow.isEmpty())
        rows.add(line, firstRow);
    while (reader.next(bytes, tooLong)) {
        ++line;
        if (tooLong)
            rows.tooLong(line);
        else
            rows.add(line, splitFields(decode(bytes, true)));
    }
    out.bars = rows.bars();
    return out;
}

PriceFile parsePriceCsv(const QByteArray& bytes, const QDate& today) {
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    return readPriceCsv(buffer, today);
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
