#include "prices/marketdata.h"

#include "base/codelistfile.h"
#include "prices/datastore.h"
#include "store/pricestore.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QMutexLocker>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

namespace portal {

namespace {

// splitmix64: small, fast and the same on every platform, unlike the standard distributions.
class Random {
public:
    explicit Random(quint64 seed)
        : m_state(seed) {}
    quint64 next() {
        quint64 z = (m_state += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    double gauss() {
        const double u1 = std::max(uniform(), 1e-300);
        const double u2 = uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    }

private:
    quint64 m_state;
};

// Qt 6.4's string hash, on processors with VAES, leaves the upper halves of the vector registers
// in use; the plain SSE arithmetic of the walks below then runs some ten times slower until they
// are cleared (measured: 6.3 ms against 0.6 ms for one invented history after one QHash lookup).
// The lower halves, all that SSE code uses, are kept.
void clearUpperVectorState() {
#if defined(__x86_64__) && defined(__GNUC__)
    static const bool avx = __builtin_cpu_supports("avx");
    if (avx)
        __asm__ volatile("vzeroupper");
#endif
}

bool isTradingDay(const QDate& d) {
    if (d.dayOfWeek() > 5)
        return false;
    // The exchange is closed over the New Year holidays.
    if ((d.month() == 1 && d.day() <= 3) || (d.month() == 12 && d.day() == 31))
        return false;
    return true;
}

QDate lastTradingDay(QDate d) {
    while (!isTradingDay(d))
        d = d.addDays(-1);
    return d;
}

} // namespace

namespace {

bool isDigit(QChar c) {
    return c.unicode() >= '0' && c.unicode() <= '9';
}

// The capital letters the exchange puts into codes: all but B, E, I, O, Q, V and Z.
bool isCodeLetter(QChar c) {
    return c.unicode() >= 'A' && c.unicode() <= 'Z' && !QStringView(u"BEIOQVZ").contains(c);
}

bool isAlphanumericCode(const QString& text) {
    if (text.size() != 4 || !isDigit(text[0]) || !isDigit(text[2]))
        return false;
    const bool letter1 = isCodeLetter(text[1]);
    const bool letter3 = isCodeLetter(text[3]);
    return (letter1 || isDigit(text[1])) && (letter3 || isDigit(text[3])) && (letter1 || letter3);
}

// A number of its own for every code, to seed its synthetic prices: a four-digit code's value,
// an alphanumeric code's value in base 36 above that range.
quint64 codeSeed(const QString& code) {
    if (!isAlphanumericCode(code))
        return quint64(code.toInt());
    quint64 n = 0;
    for (const QChar c : code)
        n = n * 36 + quint64(isDigit(c) ? c.unicode() - '0' : c.unicode() - 'A' + 10);
    return 10000 + n;
}

// The number that picks a code's suffix: a four-digit code's value; for an alphanumeric code its
// digits read as a number plus the letters' places in the alphabet (A = 1), so neighbouring
// codes spread over the suffixes as numbers do.
int suffixNumber(const QString& code) {
    int digits = 0;
    int letters = 0;
    for (const QChar c : code) {
        if (isDigit(c))
            digits = digits * 10 + (c.unicode() - '0');
        else
            letters += c.unicode() - 'A' + 1;
    }
    return digits + letters;
}

} // namespace

bool isCode(const QString& text) {
    if (text.size() != 4)
        return false;
    return std::all_of(text.begin(), text.end(), isDigit) || isAlphanumericCode(text);
}

std::optional<QString> codeFromUser(const QString& text) {
    // NFKC makes full-width digits and letters plain ones, as an input method gives them.
    const QString code = text.normalized(QString::NormalizationForm_KC).trimmed().toUpper();
    if (!isCode(code))
        return std::nullopt;
    if (!isAlphanumericCode(code) && code.toInt() < 1000)
        return std::nullopt;
    return code;
}

double tickSize(double price) {
    static const double limits[][2] = {
        {3000, 1},     {5000, 5},       {30000, 10},     {50000, 50},       {300000, 100},
        {500000, 500}, {3000000, 1000}, {5000000, 5000}, {30000000, 10000}, {50000000, 50000},
    };
    for (const auto& l : limits) {
        if (price <= l[0])
            return l[1];
    }
    return 100000;
}

double roundToTick(double price) {
    const double tick = tickSize(price);
    return std::max(tick, std::round(price / tick) * tick);
}

QString suffixForCode(const QString& code) {
    if (!isCode(code))
        return {};
    switch (suffixNumber(code) % 20) {
    case 15:
        return QStringLiteral(".j");
    case 16:
        return QStringLiteral(".q");
    case 17:
        return QStringLiteral(".o");
    case 18:
        return QStringLiteral(".n");
    default:
        return QStringLiteral(".t");
    }
}

QVector<Listing> readCodeList(const QString& path) {
    QVector<Listing> out;
    for (const QString& line : base::readCodeListLines(path)) {
        const QStringList f = line.split(QLatin1Char(','));
        if (f.size() < 2 || !isCode(f[0].trimmed()))
            continue;
        out.append({f[0].trimmed(), f[1].trimmed(), f.size() > 2 ? f[2].trimmed() : QString()});
    }
    return out;
}

History syntheticHistory(const QString& code, const QDate& asOfDate) {
    History bars;
    if (!isCode(code))
        return bars;
    const QDate last = lastTradingDay(asOfDate.isValid() ? asOfDate : QDate::currentDate());
    const QDate first = last.addYears(-12).addMonths(-2);
    clearUpperVectorState();
    Random rnd(0x51ED270Bu * (codeSeed(code) + 1) + 0x2545F4914F6CDD1DULL);

    // A price level between about 150 and 15000 yen, spread evenly on a log scale.
    const double level = std::exp(std::log(150.0) + rnd.uniform() * std::log(100.0));
    const double vol = 0.012 + 0.012 * rnd.uniform(); // daily volatility
    const double baseVolume = std::clamp(4.0e7 / level, 2000.0, 3.0e7);

    // Log-price walk with a slow pull back to the level, so twelve years stay in a plausible band.
    double x = 0.25 * rnd.gauss();
    double prevClose = roundToTick(level * std::exp(x));
    bars.sample = true;
    bars.reserve(3200);
    for (QDate d = first; d <= last; d = d.addDays(1)) {
        if (!isTradingDay(d))
            continue;
        x = x * 0.998 + vol * rnd.gauss();
        Bar b;
        b.date = d;
        b.open = roundToTick(prevClose * std::exp(0.004 * rnd.gauss()));
        b.close = roundToTick(level * std::exp(x));
        const double top = std::max(b.open, b.close);
        const double bottom = std::min(b.open, b.close);
        b.high = roundToTick(top * std::exp(std::abs(0.6 * vol * rnd.gauss())));
        b.low = roundToTick(bottom * std::exp(-std::abs(0.6 * vol * rnd.gauss())));
        b.high = std::max(b.high, top);
        b.low = std::min(b.low, bottom);
        const double move = std::abs(b.close / prevClose - 1.0);
        const double v = baseVolume * std::exp(0.45 * rnd.gauss()) * (1.0 + 12.0 * move);
        b.volume = std::max<qint64>(100, qint64(v / 100.0) * 100);
        prevClose = b.close;
        bars.append(b);
    }
    return bars;
}

QVector<MinuteBar> intradaySession(const QString& code, const Bar& day) {
    QVector<MinuteBar> out;
    for (int m = 9 * 60; m <= 11 * 60 + 30; ++m)
        out.append({m, 0, 0});
    for (int m = 12 * 60 + 30; m <= 15 * 60 + 30; ++m)
        out.append({m, 0, 0});
    const int n = out.size();
    clearUpperVectorState();
    Random rnd(codeSeed(code) * 7919u + quint64(day.date.toJulianDay()));

    // A random walk pinned to the day's open and close, then stretched so that it touches the
    // day's high and low and never leaves them.
    QVector<double> w(n, 0.0);
    for (int i = 1; i < n; ++i)
        w[i] = w[i - 1] + rnd.gauss();
    QVector<double> lin(n), b(n);
    for (int i = 0; i < n; ++i) {
        const double t = double(i) / (n - 1);
        lin[i] = day.open + (day.close - day.open) * t;
        b[i] = w[i] - t * w[n - 1];
    }
    double up = 1e300, down = 1e300;
    for (int i = 0; i < n; ++i) {
        if (b[i] > 1e-9)
            up = std::min(up, (day.high - lin[i]) / b[i]);
        if (b[i] < -1e-9)
            down = std::min(down, (lin[i] - day.low) / -b[i]);
    }
    if (up > 1e299)
        up = 0;
    if (down > 1e299)
        down = 0;
    QVector<double> weight(n);
    double weightSum = 0;
    for (int i = 0; i < n; ++i) {
        const double p = lin[i] + (b[i] > 0 ? up : down) * b[i];
        out[i].price = std::clamp(roundToTick(p), day.low, day.high);
        // Trading is heaviest at the opening and closing of each session.
        const int m = out[i].minuteOfDay;
        const int fromEdge =
            std::min({std::abs(m - 540), std::abs(m - 690), std::abs(m - 750), std::abs(m - 930)});
        weight[i] = (1.0 + 6.0 * std::exp(-fromEdge / 8.0)) * std::exp(0.5 * rnd.gauss());
        weightSum += weight[i];
    }
    out[0].price = day.open;
    out[n - 1].price = day.close;
    for (int i = 0; i < n; ++i)
        out[i].volume = qint64(day.volume * weight[i] / weightSum / 100.0) * 100;
    return out;
}

MarketData::MarketData(const QString& dataDir, const QDate& asOf, int cacheLimit)
    : m_dataDir(dataDir)
    , m_asOf(lastTradingDay(asOf.isValid() ? asOf : QDate::currentDate()))
    , m_cacheLimit(std::max(1, cacheLimit)) {
    loadListings();
    QTextStream err(stderr);
    QString error;
    m_store = openDataStore(dataDir, &error, &err);
    if (!m_store)
        err << error << QStringLiteral("。株価はすべてサンプルデータになります") << Qt::endl;
}

MarketData::~MarketData() = default;

namespace {

const QString& codeListName() {
    static const QString name = QLatin1Char('/') + QString::fromUtf8(base::kCodeListFileName);
    return name;
}

// When the data folder's code list was written; null when it has none.
QDateTime listStamp(const QFileInfo& list) {
    return list.exists() ? list.lastModified() : QDateTime();
}

} // namespace

void MarketData::loadListings() {
    // The data folder's list, else the one shipped beside the program: a portal started by hand
    // on a user's data folder still knows every listed code.
    const QFileInfo own(m_dataDir + codeListName());
    m_listStamp = listStamp(own);
    m_listings = readCodeList(
        own.exists() ? own.filePath() : QCoreApplication::applicationDirPath() + codeListName());
    m_index.clear();
    for (int i = 0; i < m_listings.size(); ++i)
        m_index.insert(m_listings[i].code, i);
}

QSet<QString> MarketData::storedCodes() const {
    QMutexLocker lock(&m_mutex);
    if (!m_store)
        return {};
    // Read again only after another connection has committed.
    const qint64 version = m_store->dataVersion();
    if (version != m_storedCodesVersion) {
        const QStringList codes = m_store->codes();
        m_storedCodes = QSet<QString>(codes.begin(), codes.end());
        m_storedCodesVersion = version;
    }
    return m_storedCodes;
}

QDate MarketData::newestStoredDay() const {
    QMutexLocker lock(&m_mutex);
    QDate newest;
    if (m_store) {
        for (const auto& k : m_store->kinds()) {
            if (k.newest.isValid() && (!newest.isValid() || k.newest > newest))
                newest = k.newest;
        }
    }
    return newest;
}

History MarketData::storedSpan(const QString& code, const QDate& from, const QDate& to) const {
    QVector<store::DailyBar> raw;
    {
        QMutexLocker lock(&m_mutex);
        if (m_store)
            raw = m_store->bars(code, from, to);
    }
    return adjustedHistory(raw);
}

QString MarketData::storeState(const QString& key) const {
    QMutexLocker lock(&m_mutex);
    return m_store ? m_store->state(key) : QString();
}

void MarketData::reloadListingsIfChanged() {
    if (listStamp(QFileInfo(m_dataDir + codeListName())) != m_listStamp)
        loadListings();
}

const Listing* MarketData::find(const QString& code) const {
    const auto it = m_index.constFind(code);
    return it == m_index.constEnd() ? nullptr : &m_listings[*it];
}

QString MarketData::suffixFor(const QString& code) const {
    return find(code) ? suffixForCode(code) : QString();
}

std::shared_ptr<const History> MarketData::history(const QString& code) const {
    if (!isCode(code) || !find(code))
        return {};
    QMutexLocker lock(&m_mutex);
    // One cheap question per request: has anyone else committed since? It is what lets a running
    // portal show an import without a restart.
    if (m_store) {
        const qint64 version = m_store->dataVersion();
        if (version != m_storeVersion) {
            m_cache.clear();
            m_storeVersion = version;
        }
    }
    if (auto it = m_cache.find(code); it != m_cache.end()) {
        it->lastUse = ++m_useCounter;
        return it->history;
    }
    History bars;
    if (m_store) {
        ++m_storeReads;
        bars = storedHistory(*m_store, code);
    }
    if (bars.isEmpty())
        bars = syntheticHistory(code, m_asOf);
    auto shared = std::make_shared<const History>(std::move(bars));
    if (m_cache.size() >= m_cacheLimit) {
        // A linear pass is fine at a few hundred entries, next to reading or inventing a history.
        auto oldest = m_cache.begin();
        for (auto it = m_cache.begin(); it != m_cache.end(); ++it) {
            if (it->lastUse < oldest->lastUse)
                oldest = it;
        }
        m_cache.erase(oldest);
    }
    m_cache.insert(code, {shared, ++m_useCounter});
    return shared;
}

int MarketData::cachedHistories() const {
    QMutexLocker lock(&m_mutex);
    return int(m_cache.size());
}

int MarketData::storeReads() const {
    QMutexLocker lock(&m_mutex);
    return m_storeReads;
}

} // namespace portal
