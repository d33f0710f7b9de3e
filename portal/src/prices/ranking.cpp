#include "prices/ranking.h"

#include <QHash>
#include <QMutex>

#include <algorithm>
#include <array>

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

// The invented tails of one MarketData, good as long as nothing was stored since they were taken.
// A commit to the store empties MarketData's cache; the last history this took from it (probe)
// coming back as another one is the sign of that, or of the probe's going out of the cache, and
// either way the tails are taken anew.
struct InventedTails {
    const MarketData* data = nullptr;
    QString probeCode;
    std::shared_ptr<const History> probe;
    QHash<QString, InventedTail> tails;

    void validate(const MarketData& of) {
        if (data != &of || !probe || of.history(probeCode) != probe) {
            tails.clear();
            probe.reset();
        }
        data = &of;
    }
};

QMutex tailsMutex;
InventedTails& inventedTails() {
    static InventedTails tails;
    return tails;
}

// The listed codes asked for, with their histories handed to each in turn; a history is read
// once and dropped at once, as every code's would not fit in memory. Invented histories come from
// their tails where those serve the day.
template <typename Visit>
void forEachHistory(const MarketData& data, const QString& market, const QDate& date, Visit visit) {
    QMutexLocker lock(&tailsMutex);
    InventedTails& memo = inventedTails();
    memo.validate(data);
    for (const Listing& l : data.listings()) {
        if (!market.isEmpty() && l.market != market)
            continue;
        if (const auto tail = memo.tails.constFind(l.code);
            tail != memo.tails.constEnd() && tail->serves(date)) {
            visit(l, tail->history());
            continue;
        }
        const auto h = data.history(l.code);
        if (!h || h->isEmpty())
            continue;
        if (h->sample)
            memo.tails.insert(l.code, InventedTail::of(*h));
        memo.probe = h;
        memo.probeCode = l.code;
        visit(l, *h);
    }
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
    RankDay stored, invented{QDate(), true};
    forEachHistory(data, QString(), QDate(), [&](const Listing&, const History& h) {
        RankDay& day = h.sample ? invented : stored;
        if (!day.newest.isValid() || h.last().date > day.newest)
            day.newest = h.last().date;
    });
    return stored.newest.isValid() ? stored : invented;
}

Ranking rankCodes(const MarketData& data, RankKind kind, const QString& market, int count,
                  const QDate& date) {
    QDate day = date;
    if (!day.isValid())
        day = newestRankDay(data).newest;

    // Invented prices are ranked only as long as no stored ones have turned up.
    QVector<RankedCode> stored, invented;
    bool anyStored = false;
    forEachHistory(data, market, day, [&](const Listing& l, const History& h) {
        if (h.sample && anyStored)
            return;
        anyStored = anyStored || !h.sample;
        if (const auto value = rankValue(kind, h, day))
            (h.sample ? invented : stored).append({l.code, l.name, *value});
    });

    Ranking ranking;
    ranking.date = day;
    ranking.sample = !anyStored;
    ranking.rows = anyStored ? std::move(stored) : std::move(invented);
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
