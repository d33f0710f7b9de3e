#pragma once

#include <QDate>
#include <QHash>
#include <QMutex>
#include <QString>
#include <QVector>

#include <memory>

namespace portal {

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
};

struct Listing {
    QString code; // four ASCII digits, or the exchange's alphanumeric form ("130A")
    QString name;
    QString market;
};

// True when the text is exactly four ASCII digits, or the exchange's alphanumeric form: the
// second and/or fourth character a capital letter other than B, E, I, O, Q, V and Z, the others
// digits. Checked before any file name is built from it.
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

// Reads the code list (Shift_JIS, CR LF, "code,name,market" lines). Lines without a code (isCode)
// are left out.
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

// Listed codes and their histories, shared by every request. Thread-safe. A price file is read
// once and kept until it changes on disk (an import or refresh while the portal runs is seen by
// the next request); at most cacheLimit histories are kept, the least recently used going first.
class MarketData {
public:
    static constexpr int kDefaultCacheLimit = 256;
    MarketData(const QString& dataDir, const QDate& asOf, int cacheLimit = kDefaultCacheLimit);

    const QVector<Listing>& listings() const { return m_listings; }
    const Listing* find(const QString& code) const;
    QString suffixFor(const QString& code) const; // empty for an unknown code
    QDate asOf() const { return m_asOf; }
    // The history of a listed code: prices/CODE.csv when present, synthetic otherwise.
    std::shared_ptr<const History> history(const QString& code) const;
    // How many histories are kept now, and how often a price file was parsed (for tests).
    int cachedHistories() const;
    int priceFileReads() const;

private:
    // What identifies one version of a price file: a rewrite (even to the same size within the
    // same second) gets a new inode, since files are replaced by renaming.
    struct FileStamp {
        bool exists = false;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 mtimeNs = 0;
        bool operator==(const FileStamp& o) const {
            return exists == o.exists && inode == o.inode && size == o.size && mtimeNs == o.mtimeNs;
        }
    };
    struct Entry {
        std::shared_ptr<const History> history;
        FileStamp stamp;
        quint64 lastUse = 0;
    };
    FileStamp stampOf(const QString& path) const;

    QString m_dataDir;
    QDate m_asOf;
    int m_cacheLimit;
    QVector<Listing> m_listings;
    QHash<QString, int> m_index;
    mutable QMutex m_mutex;
    mutable QHash<QString, Entry> m_cache;
    mutable quint64 m_useCounter = 0;
    mutable int m_fileReads = 0;
};

} // namespace portal
