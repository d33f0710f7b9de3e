#pragma once

#include <QDate>
#include <QDateTime>
#include <QHash>
#include <QMutex>
#include <QSet>
#include <QString>
#include <QVector>

#include <memory>
#include <optional>

namespace portal {

namespace store {
class PriceStore;
}

struct Bar {
    QDate date;
    double open = 0;
    double high = 0;
    double low = 0;
    double close = 0;
    qint64 volume = 0;
};

// Daily bars, oldest first, one per trading day, and whether they were invented: every chart and
// page drawn from invented prices says so.
struct History : QVector<Bar> {
    using QVector<Bar>::QVector;
    bool sample = false;
    // Where stored prices came from ("jquants", "import", ...); empty for invented ones.
    QString sourceKind;
};

struct Listing {
    QString code; // four ASCII digits, or the exchange's alphanumeric form ("130A")
    QString name;
    QString market;
};

// A code as a user types it on the command line: width and case folded ("７２０３", "130a"), then
// four digits from 1000 to 9999 or the alphanumeric form; nullopt for anything else ("0000",
// "12345", "-123", "4674.4").
std::optional<QString> codeFromUser(const QString& text);

// True when the text is exactly four ASCII digits, or the exchange's alphanumeric form: the
// second and/or fourth character a capital letter other than B, E, I, O, Q, V and Z, the others
// digits. Checked before any file name is built from it. The portal stands in for the quote
// server, which judges codes by its own rule, not by the viewer's (base::isCode); this is that
// server's rule, kept apart so that the viewer is tested against an independent one.
bool isCode(const QString& text);

// Exchange price step for a price level (1 yen up to 3000, 5 up to 5000, 10 up to 30000, ...).
double tickSize(double price);
double roundToTick(double price);

// The exchange suffix of a listed code. Fixed by the code's number modulo 20, so the choice is
// stable and every suffix gets listed codes: remainders 15 ".j", 16 ".q", 17 ".o", 18 ".n", all
// others ".t" (16 of 20, so four codes in five are ".t"). An alphanumeric code's number is its
// digits read as a number plus its letters' places in the alphabet (A = 1): "130A" is 131 (".t"),
// "134A" 135 (".j").
QString suffixForCode(const QString& code);

// Reads the code list (base::readCodeListLines) into listings. Lines without a code (isCode) are
// left out.
QVector<Listing> readCodeList(const QString& path);

// A deterministic history for a code: weekdays (New Year holidays left out) for a little more than
// twelve years up to asOf (or the weekday before it), prices on the exchange's steps, volumes in
// lots of 100.
History syntheticHistory(const QString& code, const QDate& asOf);

// Minute prices of the last session of a history: 9:00-11:30 and 12:30-15:30.
struct MinuteBar {
    int minuteOfDay = 0; // minutes since midnight
    double price = 0;
    qint64 volume = 0;
};
QVector<MinuteBar> intradaySession(const QString& code, const Bar& day);

// Listed codes and their histories, shared by every request. Thread-safe. The listed codes are the
// data folder's code list, or the one beside the program where the folder has none. Histories
// come from the data folder's price database, opened (and created, moving old price files in)
// here; a code the store does not hold gets an invented history. At most cacheLimit histories are
// kept, the least recently used going first; a commit from any other process (an import, a
// refresh) empties the cache, so that the next request sees it.
class MarketData {
public:
    static constexpr int kDefaultCacheLimit = 256;
    MarketData(const QString& dataDir, const QDate& asOf, int cacheLimit = kDefaultCacheLimit);
    ~MarketData();

    const QVector<Listing>& listings() const { return m_listings; }
    // Reads the code list again when its file changed (a sync wrote the exchange's listing).
    // Only the thread that answers requests calls it, between two requests.
    void reloadListingsIfChanged();
    const Listing* find(const QString& code) const;
    QString suffixFor(const QString& code) const; // empty for an unknown code
    QDate asOf() const { return m_asOf; }
    QString dataDir() const { return m_dataDir; }
    // A value of the store's own state (store::PriceStore::state); empty without a store.
    QString storeState(const QString& key) const;
    // The history of a listed code: the stored days when there are any, invented otherwise.
    std::shared_ptr<const History> history(const QString& code) const;
    // What a ranking reads of the store: the codes it holds and its newest day, and one code's
    // days from `from` to `to` with the splits among them folded in (prices compare within the
    // span as they do in the whole history). Empty without a store.
    QSet<QString> storedCodes() const;
    QDate newestStoredDay() const;
    History storedSpan(const QString& code, const QDate& from, const QDate& to) const;
    // How many histories are kept now, and how often one was read from the store (for tests).
    int cachedHistories() const;
    int storeReads() const;

private:
    struct Entry {
        std::shared_ptr<const History> history;
        quint64 lastUse = 0;
    };

    void loadListings();

    QString m_dataDir;
    QDateTime m_listStamp;
    QDate m_asOf;
    int m_cacheLimit;
    QVector<Listing> m_listings;
    QHash<QString, int> m_index;
    mutable QMutex m_mutex;
    std::unique_ptr<store::PriceStore> m_store; // null when the database cannot be opened
    mutable qint64 m_storeVersion = -1;
    mutable QHash<QString, Entry> m_cache;
    mutable quint64 m_useCounter = 0;
    mutable int m_storeReads = 0;
    mutable QSet<QString> m_storedCodes; // as of m_storedCodesVersion
    mutable qint64 m_storedCodesVersion = -1;
};

} // namespace portal
