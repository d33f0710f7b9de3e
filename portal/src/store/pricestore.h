#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <QVector>

#include <memory>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

namespace portal::store {

// One stored trading day of one code, as the source gave it: unadjusted prices in yen (at most one
// decimal is kept), the volume in shares, the turnover in yen where known, and the day's
// adjustment factor (0.5 on the first day after a two-for-one split; 1 on every other day).
// A day without trades keeps its date with no prices and no volume.
struct DailyBar {
    QDate date;
    std::optional<double> open, high, low, close;
    std::optional<qint64> volume;
    std::optional<qint64> turnover;
    double adjustment = 1.0;
    bool traded() const { return close.has_value(); }
};

// Where a code's prices came from and when they were last written.
struct Source {
    QString kind;   // "import", "refresh", "migration" or "jquants"
    QString origin; // the file or address, without anything secret
    QDateTime updated;
};

// What one write did.
struct WriteCount {
    int added = 0;     // days that were not stored before
    int replaced = 0;  // stored days that now hold other values
    int unchanged = 0; // stored days written again with the same values
};

// The price database, DATA/prices.sqlite: one SQLite connection. Writers and readers in other
// processes go on side by side (write-ahead log); a writer waits for another writer up to a busy
// timeout. Every write is one transaction, so a crash leaves the store as it was before it.
// Not thread-safe: one thread at a time uses one PriceStore.
class PriceStore {
public:
    static constexpr int kBusyTimeoutMs = 10000;

    ~PriceStore();
    PriceStore(const PriceStore&) = delete;
    PriceStore& operator=(const PriceStore&) = delete;

    // Opens or creates the database at path, with its tables. Null, and why in error (Japanese),
    // when it cannot be opened or is no price database of this program.
    static std::unique_ptr<PriceStore> open(const QString& path, QString* error);
    // The database file of a data folder.
    static QString pathIn(const QString& dataDir);

    QString path() const { return m_path; }

    // A code's days, oldest first.
    QVector<DailyBar> bars(const QString& code) const;
    // A code's days from `from` to `to`, both included: one range of the key.
    QVector<DailyBar> bars(const QString& code, const QDate& from, const QDate& to) const;
    // Every code's bar of one day, in code order (the read a ranking makes).
    struct CodeBar {
        QString code;
        DailyBar bar;
    };
    QVector<CodeBar> day(const QDate& date) const;
    // The codes with stored days, in code order.
    QStringList codes() const;
    std::optional<Source> source(const QString& code) const;
    // How many codes came from each kind of source, and the newest day among them.
    struct KindCount {
        QString kind; // empty for codes stored without a source
        int codes = 0;
        QDate newest;
    };
    QVector<KindCount> kinds() const;
    // How many days are stored, over every code.
    qint64 barCount() const;

    // Changes whenever another connection commits to the database: a reader's cheap test of
    // whether what it read may be stale.
    qint64 dataVersion() const;

    // A write: begin, put days, commit. Nothing is stored until commit(); a writer destroyed
    // without a commit rolls its days back.
    class Writer {
    public:
        explicit Writer(PriceStore& store);
        ~Writer();
        Writer(const Writer&) = delete;
        Writer& operator=(const Writer&) = delete;
        // False when the transaction could not be begun (another writer kept it past the busy
        // timeout, a read-only folder); error() says why.
        bool isOpen() const { return m_open; }
        bool put(const QString& code, const DailyBar& bar);
        // Records where a code's prices came from, stamped with the time of the commit.
        bool setSource(const QString& code, const QString& kind, const QString& origin);
        // Keeps a value of the store's own state (the sync's place, whether old files moved in).
        bool setState(const QString& key, const QString& value);
        bool commit();
        const WriteCount& count() const { return m_count; }
        QString error() const { return m_error; }

    private:
        bool fail();
        // One of the store's statements with texts bound to ?1, ?2, ...
        bool runWith(int which, const QStringList& texts);
        PriceStore& m_store;
        bool m_open = false;
        WriteCount m_count;
        QString m_error;
    };

    // A value of the store's own state; empty when never set.
    QString state(const QString& key) const;

private:
    PriceStore(sqlite3* db, const QString& path);
    sqlite3_stmt* statement(int which) const;
    QString lastError() const;
    // A code's days with day numbers (yyyymmdd) from first to last.
    QVector<DailyBar> barsBetween(const QString& code, int first, int last) const;

    sqlite3* m_db = nullptr;
    QString m_path;
    mutable std::vector<sqlite3_stmt*> m_statements;
};

// A day's adjustment factors folded into prices: each day's prices multiplied, and its volume
// divided, by the product of the factors of every later day, so that a split does not show as a
// fall. Days without trades are left out.
struct AdjustedBar {
    QDate date;
    double open = 0, high = 0, low = 0, close = 0;
    qint64 volume = 0;
};
QVector<AdjustedBar> adjusted(const QVector<DailyBar>& bars);

} // namespace portal::store
