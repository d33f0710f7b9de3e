#include "prices/ranking.h"

#include <QHash>
#include <QMutex>
#include <QSet>

#include <algorithm>
#include <array>
#include <thread>

namespace portal {

namespace {

constexpr std::array<std::pair<RankKind, const char*>, 7> kKeys{{
    {RankKind::Up, "up"},
    {RankKind::Down, "down"},
    {RankKind::Volume, "volume"},
    {RankKind::Turnover, "turnover"},
    {RankKind::High, "high"},
    {RankKind::Low, "low"},
    {RankKind::Golden, "golden"},
}};

// Falls and new lows are ranked by how far down they went: the smallest value first.
bool lowestFirst(RankKind kind) {
    return kind == RankKind::Down || kind == RankKind::Low;
}

// The average close of the `days` bars that end at index last.
double averageClose(const History& h, int last, int days) {
    double sum = 0;
    for (int i = last - days + 1; i <= last; ++i)
        sum += h[i].close;
    return sum / days;
}

// The index of date's bar, or -1.
int indexOf(const History& h, const QDate& date) {
    const auto it = std::lower_bound(h.cbegin(), h.cend(), date,
                                     [](const Bar& b, const QDate& d) { return b.date < d; });
    return it != h.cend() && it->date == date ? int(it - h.cbegin()) : -1;
}

// What a ranking keeps of an invented history: the bars of its last year, compact. An
// invented history is the same at every request (it depends on the code and the portal's day
// alone), but inventing one takes about a millisecond and the histories of every code do not fit
// in MarketData's cache: without this, every ranking over invented prices would invent them all
// again, some seconds each time.
struct CompactBar {
    qint32 day = 0; // Julian day
    float high = 0, low = 0, close = 0;
    quint32 volume = 0;
};

struct InventedTail {
    static constexpr int kLeadBars = 80; // more than the longest average needs before a day

    bool whole = false; // the tail is the whole history
    QVector<CompactBar> bars;

    // The bars of the last day's year, and kLeadBars before its first.
    static InventedTail of(const History& h) {
        InventedTail tail;
        const QDate from(h.last().date.year(), 1, 1);
        int first = int(h.size()) - 1;
        while (first > 0 && h[first - 1].date >= from)
            --first;
        first = std::max(0, first - kLeadBars);
        tail.whole = first == 0;
        tail.bars.reserve(int(h.size()) - first);
        for (int i = first; i < h.size(); ++i) {
            const Bar& b = h[i];
            tail.bars.append({qint32(b.date.toJulianDay()), float(b.high), float(b.low),
                              float(b.close),
                              quint32(std::clamp<qint64>(b.volume, 0, 0xffffffff))});
        }
        return tail;
    }

    // Whether the tail holds all that a ranking of date looks at: the day, every earlier day of
    // its year and the days its averages need. Any tail serves the question of the newest day.
    bool serves(const QDate& date) const {
        if (whole || bars.isEmpty() || !date.isValid())
            return true;
        const QDate first = QDate::fromJulianDay(bars.first().day);
        return first < QDate(date.year(), 1, 1) && date.addDays(-kLeadBars * 7 / 5 - 14) > first;
    }

    History history() const {
        History h;
        h.sample = true;
        h.reserve(bars.size());
        for (const CompactBar& c : bars) {
            Bar b;
            b.date = QDate::fromJulianDay(c.day);
            b.high = c.high;
            b.low = c.low;
            b.open = b.close = c.close;
            b.volume = c.volume;
            h.append(b);
        }
        return h;
    }
};

// The invented tails of the listed codes at one portal day. Invented histories depend on the code
// and that day alone, so they stay good for as long as the portal runs on the same day.
struct InventedTails {
    const MarketData* data = nullptr;
    QDate asOf;
    QHash<QString, InventedTail> tails;
};

QMutex tailsMutex;
InventedTails& inventedTails() {
    static InventedTails tails;
    return tails;
}

// The first day a ranking of a kind on a day looks at: as many trading days before it as the kind
// compares with, with room for holidays, or the first day of its year.
QDate spanStart(RankKind kind, const QDate& date) {
    switch (kind) {
    case RankKind::Up:
    case RankKind::Down:
        return date.addDays(-20);
    case RankKind::Turnover:
        return date;
    case RankKind::Volume:
        return date.addDays(-(26 * 7 / 5 + 20));
    case RankKind::Golden:
        return date.addDays(-(76 * 7 / 5 + 25));
    case RankKind::High:
    case RankKind::Low:
        return QDate(date.year(), 1, 1);
    }
    return date;
}

// The listed codes of a market (empty: every market) with the prices a ranking of kind on date
// reads, handed to visit one after the other. Where any of the codes has stored prices, those
// codes, each read from the store for the span the kind needs; else the invented histories, made
// on every core at the first ranking and kept compact for the next.
template <typename Visit>
bool forEachHistory(const MarketData& data, const QString& market, RankKind kind, const QDate& date,
                    Visit visit) {
    QVector<const Listing*> listed;
    for (const Listing& l : data.listings()) {
        if (market.isEmpty() || l.market == market)
            listed.append(&l);
    }
    const QSet<QString> stored = data.storedCodes();
    const bool anyStored = std::any_of(listed.begin(), listed.end(), [&stored](const Listing* l) {
        return stored.contains(l->code);
    });
    if (anyStored) {
        const QDate from = spanStart(kind, date);
        for (const Listing* l : std::as_const(listed)) {
            if (!stored.contains(l->code))
                continue;
            const History h = data.storedSpan(l->code, from, date);
            if (!h.isEmpty())
                visit(*l, h);
        }
        return true;
    }

    QMutexLocker lock(&tailsMutex);
    InventedTails& memo = inventedTails();
    if (memo.data != &data || memo.asOf != data.asOf()) {
        memo = InventedTails();
        memo.data = &data;
        memo.asOf = data.asOf();
    }
    QVector<const Listing*> missing;
    for (const Listing* l : std::as_const(listed)) {
        const auto tail = memo.tails.constFind(l->code);
        if (tail == memo.tails.constEnd() || !tail->serves(date))
            missing.append(l);
    }
    // Some milliseconds a code: the first ranking of invented prices shares them out.
    QVector<InventedTail> made(missing.size());
    const int workers = std::max(1, std::min(int(std::thread::hardware_concurrency()), 8));
    std::vector<std::thread> threads;
    for (int w = 0; w < workers; ++w) {
        threads.emplace_back([&, w] {
            for (qsizetype i = w; i < missing.size(); i += workers) {
                const History h = syntheticHistory(missing[i]->code, memo.asOf);
                if (!h.isEmpty())
                    made[i] = InventedTail::of(h);
            }
        });
    }
    for (auto& t : threads)
        t.join();
    for (qsizetype i = 0; i < missing.size(); ++i)
        memo.tails.insert(missing[i]->code, std::move(made[i]));
    for (const Listing* l : std::as_const(listed)) {
        const auto tail = memo.tails.constFind(l->code);
        if (tail != memo.tails.constEnd() && !tail->bars.isEmpty())
            visit(*l, tail->history());
    }
    return false;
}

} // namespace

std::optional<RankKind> rankKindFromKey(const QString& key) {
    for (const auto& [kind, text] : kKeys) {
        if (key == QLatin1String(text))
            return kind;
    }
    return std::nullopt;
}

QString rankKey(RankKind kind) {
    for (const auto& [k, text] : kKeys) {
        if (k == kind)
            return QString::fromLatin1(text);
    }
    return {};
}

std::optional<double> rankValue(RankKind kind, const History& h, const QDate& date) {
    const int i = indexOf(h, date);
    if (i < 0)
        return std::nullopt;
    const Bar& b = h[i];
    switch (kind) {
    case RankKind::Up:
    case RankKind::Down: {
        if (i < 1 || h[i - 1].close <= 0)
            return std::nullopt;
        const double change = (b.close / h[i - 1].close - 1.0) * 100.0;
        if (kind == RankKind::Up ? change > 0 : change < 0)
            return change;
        return std::nullopt;
    }
    case RankKind::Volume: {
        constexpr int kDays = 25;
        if (i < kDays)
            return std::nullopt;
        double sum = 0;
        for (int j = i - kDays; j < i; ++j)
            sum += double(h[j].volume);
        if (sum <= 0)
            return std::nullopt;
        const double ratio = double(b.volume) / (sum / kDays);
        return ratio > 1.0 ? std::optional<double>(ratio) : std::nullopt;
    }
    case RankKind::Turnover:
        if (b.volume <= 0)
            return std::nullopt;
        return b.close * double(b.volume);
    case RankKind::High:
    case RankKind::Low: {
        // Every earlier day of the same year; a first trading day of the year has none to beat.
        const bool high = kind == RankKind::High;
        std::optional<double> extreme;
        for (int j = i - 1; j >= 0 && h[j].date.year() == date.year(); --j) {
            const double v = high ? h[j].high : h[j].low;
            if (!extreme || (high ? v > *extreme : v < *extreme))
                extreme = v;
        }
        if (!extreme || *extreme <= 0)
            return std::nullopt;
        const double price = high ? b.high : b.low;
        if (high ? price > *extreme : price < *extreme)
            return (price / *extreme - 1.0) * 100.0;
        return std::nullopt;
    }
    case RankKind::Golden: {
        constexpr int kShort = 25, kLong = 75;
        if (i < kLong) // the long average needs its 75 days on the day before as well
            return std::nullopt;
        const double shortNow = averageClose(h, i, kShort), longNow = averageClose(h, i, kLong);
        const double shortBefore = averageClose(h, i - 1, kShort);
        const double longBefore = averageClose(h, i - 1, kLong);
        if (shortNow > longNow && !(shortBefore > longBefore) && longNow > 0)
            return (shortNow / longNow - 1.0) * 100.0;
        return std::nullopt;
    }
    }
    return std::nullopt;
}

RankDay newestRankDay(const MarketData& data) {
    const QDate stored = data.newestStoredDay();
    // Invented histories end on the portal's day.
    return stored.isValid() ? RankDay{stored, false} : RankDay{data.asOf(), true};
}

Ranking rankCodes(const MarketData& data, RankKind kind, const QString& market, int count,
                  const QDate& date) {
    QDate day = date;
    if (!day.isValid())
        day = newestRankDay(data).newest;

    Ranking ranking;
    ranking.date = day;
    ranking.sample =
        !forEachHistory(data, market, kind, day, [&](const Listing& l, const History& h) {
            if (const auto value = rankValue(kind, h, day))
                ranking.rows.append({l.code, l.name, *value});
        });
    const bool ascending = lowestFirst(kind);
    auto before = [ascending](const RankedCode& a, const RankedCode& b) {
        if (a.value != b.value)
            return ascending ? a.value < b.value : a.value > b.value;
        return a.code < b.code;
    };
    const int kept = std::clamp(count, 0, int(ranking.rows.size()));
    std::partial_sort(ranking.rows.begin(), ranking.rows.begin() + kept, ranking.rows.end(),
                      before);
    ranking.rows.resize(kept);
    return ranking;
}

QStringList listedMarkets(const MarketData& data) {
    QStringList markets;
    for (const Listing& l : data.listings()) {
        if (!l.market.isEmpty() && !markets.contains(l.market))
            markets << l.market;
    }
    return markets;
}

} // namespace portal
