#include "store/pricestore.h"

#include <QDateTime>
#include <QFile>

#include <sqlite3.h>

#include <algorithm>
#include <cmath>

namespace portal::store {

namespace {

// The schema. Prices are tenths of a yen as integers: exact for the exchange's prices, and SQLite
// stores an integer in as few bytes as it needs, where a real always takes eight. Days are
// yyyymmdd integers. A bar's row has no rowid: the key (code, day) is the row's place in the
// table, so one code's history is one range of pages.
constexpr int kSchemaVersion = 1;
const char* const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS bars (
    code TEXT NOT NULL,
    day INTEGER NOT NULL,
    open INTEGER,
    high INTEGER,
    low INTEGER,
    close INTEGER,
    volume INTEGER,
    turnover INTEGER,
    adjustment REAL,
    PRIMARY KEY (code, day)
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS sources (
    code TEXT PRIMARY KEY NOT NULL,
    kind TEXT NOT NULL,
    origin TEXT NOT NULL,
    updated TEXT NOT NULL
) WITHOUT ROWID;
CREATE TABLE IF NOT EXISTS state (
    key TEXT PRIMARY KEY NOT NULL,
    value TEXT NOT NULL
) WITHOUT ROWID;
)sql";

enum Statement {
    SelectCodeRange,
    SelectDay,
    SelectCodes,
    SelectSource,
    CountBars,
    DataVersion,
    SelectExisting,
    InsertBar,
    UpdateBar,
    UpsertSource,
    UpsertState,
    SelectState,
    SelectKinds,
    Begin,
    Commit,
    Rollback,
    StatementCount
};

const char* const kStatements[StatementCount] = {
    "SELECT day, open, high, low, close, volume, turnover, adjustment FROM bars WHERE code = ?1 "
    "AND day BETWEEN ?2 AND ?3 ORDER BY day",
    // One day across every code: the codes are walked through the key, one seek each, and each
    // code's day is one more seek, where "WHERE day = ?" alone would read every row of the table.
    "WITH RECURSIVE c(code) AS (SELECT min(code) FROM bars UNION ALL "
    "SELECT (SELECT min(code) FROM bars WHERE code > c.code) FROM c WHERE c.code IS NOT NULL) "
    "SELECT b.code, b.open, b.high, b.low, b.close, b.volume, b.turnover, b.adjustment "
    "FROM c JOIN bars b ON b.code = c.code AND b.day = ?1 ORDER BY b.code",
    "WITH RECURSIVE c(code) AS (SELECT min(code) FROM bars UNION ALL "
    "SELECT (SELECT min(code) FROM bars WHERE code > c.code) FROM c WHERE c.code IS NOT NULL) "
    "SELECT code FROM c WHERE code IS NOT NULL",
    "SELECT kind, origin, updated FROM sources WHERE code = ?1",
    "SELECT count(*) FROM bars",
    "PRAGMA data_version",
    "SELECT open, high, low, close, volume, turnover, adjustment FROM bars WHERE code = ?1 AND "
    "day = ?2",
    "INSERT OR IGNORE INTO bars (code, day, open, high, low, close, volume, turnover, adjustment) "
    "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)",
    "UPDATE bars SET open = ?3, high = ?4, low = ?5, close = ?6, volume = ?7, turnover = ?8, "
    "adjustment = ?9 WHERE code = ?1 AND day = ?2",
    "INSERT INTO sources (code, kind, origin, updated) VALUES (?1, ?2, ?3, ?4) "
    "ON CONFLICT (code) DO UPDATE SET kind = ?2, origin = ?3, updated = ?4",
    "INSERT INTO state (key, value) VALUES (?1, ?2) ON CONFLICT (key) DO UPDATE SET value = ?2",
    "SELECT value FROM state WHERE key = ?1",
    "WITH RECURSIVE c(code) AS (SELECT min(code) FROM bars UNION ALL "
    "SELECT (SELECT min(code) FROM bars WHERE code > c.code) FROM c WHERE c.code IS NOT NULL) "
    "SELECT s.kind, count(*), max((SELECT max(day) FROM bars WHERE code = c.code)) FROM c "
    "LEFT JOIN sources s ON s.code = c.code WHERE c.code IS NOT NULL GROUP BY s.kind "
    "ORDER BY count(*) DESC",
    "BEGIN IMMEDIATE",
    "COMMIT",
    "ROLLBACK",
};

int dayNumber(const QDate& d) {
    return d.year() * 10000 + d.month() * 100 + d.day();
}

QDate dateOf(int n) {
    return QDate(n / 10000, n / 100 % 100, n % 100);
}

// Resets a statement when it goes out of scope, so that it holds no read lock between uses.
class Use {
public:
    explicit Use(sqlite3_stmt* s)
        : m_s(s) {}
    ~Use() {
        sqlite3_reset(m_s);
        sqlite3_clear_bindings(m_s);
    }
    Use(const Use&) = delete;
    Use& operator=(const Use&) = delete;
    sqlite3_stmt* operator->() const { return m_s; }
    operator sqlite3_stmt*() const { return m_s; }

private:
    sqlite3_stmt* m_s;
};

void bindText(sqlite3_stmt* s, int i, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    sqlite3_bind_text(s, i, utf8.constData(), int(utf8.size()), SQLITE_TRANSIENT);
}

QString columnText(sqlite3_stmt* s, int i) {
    return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s, i)),
                             sqlite3_column_bytes(s, i));
}

void bindPrice(sqlite3_stmt* s, int i, const std::optional<double>& yen) {
    if (yen)
        sqlite3_bind_int64(s, i, std::llround(*yen * 10.0));
    else
        sqlite3_bind_null(s, i);
}

void bindCount(sqlite3_stmt* s, int i, const std::optional<qint64>& n) {
    if (n)
        sqlite3_bind_int64(s, i, *n);
    else
        sqlite3_bind_null(s, i);
}

std::optional<double> columnPrice(sqlite3_stmt* s, int i) {
    if (sqlite3_column_type(s, i) == SQLITE_NULL)
        return std::nullopt;
    return double(sqlite3_column_int64(s, i)) / 10.0;
}

std::optional<qint64> columnCount(sqlite3_stmt* s, int i) {
    if (sqlite3_column_type(s, i) == SQLITE_NULL)
        return std::nullopt;
    return qint64(sqlite3_column_int64(s, i));
}

// Columns from `first` on: open, high, low, close, volume, turnover, adjustment.
DailyBar barFrom(sqlite3_stmt* s, int first, const QDate& date) {
    DailyBar b;
    b.date = date;
    b.open = columnPrice(s, first);
    b.high = columnPrice(s, first + 1);
    b.low = columnPrice(s, first + 2);
    b.close = columnPrice(s, first + 3);
    b.volume = columnCount(s, first + 4);
    b.turnover = columnCount(s, first + 5);
    b.adjustment = sqlite3_column_type(s, first + 6) == SQLITE_NULL
                       ? 1.0
                       : sqlite3_column_double(s, first + 6);
    return b;
}

// What a bar is once stored: prices rounded to tenths of a yen.
DailyBar asStored(DailyBar b) {
    for (std::optional<double>* p : {&b.open, &b.high, &b.low, &b.close}) {
        if (*p)
            *p = double(std::llround(**p * 10.0)) / 10.0;
    }
    return b;
}

bool sameBar(const DailyBar& a, const DailyBar& b) {
    return a.open == b.open && a.high == b.high && a.low == b.low && a.close == b.close &&
           a.volume == b.volume && a.turnover == b.turnover && a.adjustment == b.adjustment;
}

} // namespace

PriceStore::PriceStore(sqlite3* db, const QString& path)
    : m_db(db)
    , m_path(path)
    , m_statements(StatementCount, nullptr) {}

PriceStore::~PriceStore() {
    for (sqlite3_stmt* s : m_statements)
        sqlite3_finalize(s);
    sqlite3_close(m_db);
}

QString PriceStore::pathIn(const QString& dataDir) {
    return dataDir + QStringLiteral("/prices.sqlite");
}

std::unique_ptr<PriceStore> PriceStore::open(const QString& path, QString* error) {
    sqlite3* db = nullptr;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db,
                                   SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    auto fail = [&](const QString& why) -> std::unique_ptr<PriceStore> {
        if (error)
            *error = QStringLiteral("価格データベース %1 を開けません（%2）").arg(path, why);
        sqlite3_close(db);
        return nullptr;
    };
    if (rc != SQLITE_OK)
        return fail(QString::fromUtf8(db ? sqlite3_errmsg(db) : sqlite3_errstr(rc)));
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    // A file that is not a database of this program is refused before anything is written to it.
    sqlite3_stmt* version = nullptr;
    int userVersion = -1;
    if (sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &version, nullptr) == SQLITE_OK &&
        sqlite3_step(version) == SQLITE_ROW)
        userVersion = sqlite3_column_int(version, 0);
    const QString readError = QString::fromUtf8(sqlite3_errmsg(db));
    sqlite3_finalize(version);
    if (userVersion < 0)
        return fail(readError);
    if (userVersion > kSchemaVersion)
        return fail(QStringLiteral("このプログラムより新しい形式です"));
    // WAL lets a running portal read while an import writes. NORMAL is durable enough with it:
    // a crash can lose the last commits, never leave a half-written one. Where WAL cannot be had
    // (a file system without shared memory), the store still works, readers then waiting for
    // writers.
    sqlite3_exec(db, "PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL", nullptr, nullptr,
                 nullptr);
    if (userVersion == 0) {
        char* message = nullptr;
        const QByteArray create = QByteArray("BEGIN IMMEDIATE; ") + kSchema +
                                  "PRAGMA user_version = " + QByteArray::number(kSchemaVersion) +
                                  "; COMMIT;";
        if (sqlite3_exec(db, create.constData(), nullptr, nullptr, &message) != SQLITE_OK) {
            const QString why = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
            sqlite3_free(message);
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            return fail(why);
        }
    }
    return std::unique_ptr<PriceStore>(new PriceStore(db, path));
}

sqlite3_stmt* PriceStore::statement(int which) const {
    sqlite3_stmt*& s = m_statements[size_t(which)];
    if (!s && sqlite3_prepare_v3(m_db, kStatements[which], -1, SQLITE_PREPARE_PERSISTENT, &s,
                                 nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        s = nullptr;
    }
    return s;
}

QString PriceStore::lastError() const {
    return QString::fromUtf8(sqlite3_errmsg(m_db));
}

QVector<DailyBar> PriceStore::bars(const QString& code) const {
    return barsBetween(code, 0, 99991231);
}

QVector<DailyBar> PriceStore::bars(const QString& code, const QDate& from, const QDate& to) const {
    return barsBetween(code, dayNumber(from), dayNumber(to));
}

QVector<DailyBar> PriceStore::barsBetween(const QString& code, int first, int last) const {
    QVector<DailyBar> out;
    sqlite3_stmt* raw = statement(SelectCodeRange);
    if (!raw)
        return out;
    Use s(raw);
    bindText(s, 1, code);
    sqlite3_bind_int(s, 2, first);
    sqlite3_bind_int(s, 3, last);
    while (sqlite3_step(s) == SQLITE_ROW)
        out.append(barFrom(s, 1, dateOf(sqlite3_column_int(s, 0))));
    return out;
}

QVector<PriceStore::CodeBar> PriceStore::day(const QDate& date) const {
    QVector<CodeBar> out;
    sqlite3_stmt* raw = statement(SelectDay);
    if (!raw)
        return out;
    Use s(raw);
    sqlite3_bind_int(s, 1, dayNumber(date));
    while (sqlite3_step(s) == SQLITE_ROW)
        out.append({columnText(s, 0), barFrom(s, 1, date)});
    return out;
}

QStringList PriceStore::codes() const {
    QStringList out;
    sqlite3_stmt* raw = statement(SelectCodes);
    if (!raw)
        return out;
    Use s(raw);
    while (sqlite3_step(s) == SQLITE_ROW)
        out.append(columnText(s, 0));
    return out;
}

QVector<PriceStore::KindCount> PriceStore::kinds() const {
    QVector<KindCount> out;
    sqlite3_stmt* raw = statement(SelectKinds);
    if (!raw)
        return out;
    Use s(raw);
    while (sqlite3_step(s) == SQLITE_ROW)
        out.append({columnText(s, 0), sqlite3_column_int(s, 1), dateOf(sqlite3_column_int(s, 2))});
    return out;
}

std::optional<Source> PriceStore::source(const QString& code) const {
    sqlite3_stmt* raw = statement(SelectSource);
    if (!raw)
        return std::nullopt;
    Use s(raw);
    bindText(s, 1, code);
    if (sqlite3_step(s) != SQLITE_ROW)
        return std::nullopt;
    return Source{columnText(s, 0), columnText(s, 1),
                  QDateTime::fromString(columnText(s, 2), Qt::ISODate)};
}

qint64 PriceStore::barCount() const {
    sqlite3_stmt* raw = statement(CountBars);
    if (!raw)
        return 0;
    Use s(raw);
    return sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : 0;
}

qint64 PriceStore::dataVersion() const {
    sqlite3_stmt* raw = statement(DataVersion);
    if (!raw)
        return -1;
    Use s(raw);
    return sqlite3_step(s) == SQLITE_ROW ? sqlite3_column_int64(s, 0) : -1;
}

QString PriceStore::state(const QString& key) const {
    sqlite3_stmt* raw = statement(SelectState);
    if (!raw)
        return {};
    Use s(raw);
    bindText(s, 1, key);
    return sqlite3_step(s) == SQLITE_ROW ? columnText(s, 0) : QString();
}

PriceStore::Writer::Writer(PriceStore& store)
    : m_store(store) {
    sqlite3_stmt* begin = store.statement(Begin);
    if (!begin) {
        fail();
        return;
    }
    Use s(begin);
    m_open = sqlite3_step(s) == SQLITE_DONE;
    if (!m_open)
        m_error = store.lastError();
}

PriceStore::Writer::~Writer() {
    if (m_open) {
        if (sqlite3_stmt* rollback = m_store.statement(Rollback)) {
            Use s(rollback);
            sqlite3_step(s);
        }
    }
}

bool PriceStore::Writer::fail() {
    if (m_error.isEmpty())
        m_error = m_store.lastError();
    return false;
}

namespace {

// Binds a bar's values to the ?1..?9 of the insert and the update.
void bindBar(sqlite3_stmt* s, const QString& code, int day, const DailyBar& bar) {
    bindText(s, 1, code);
    sqlite3_bind_int(s, 2, day);
    bindPrice(s, 3, bar.open);
    bindPrice(s, 4, bar.high);
    bindPrice(s, 5, bar.low);
    bindPrice(s, 6, bar.close);
    bindCount(s, 7, bar.volume);
    bindCount(s, 8, bar.turnover);
    // A factor of 1 is the rule and costs no byte as NULL.
    if (bar.adjustment != 1.0)
        sqlite3_bind_double(s, 9, bar.adjustment);
    else
        sqlite3_bind_null(s, 9);
}

} // namespace

bool PriceStore::Writer::put(const QString& code, const DailyBar& given) {
    if (!m_open || !given.date.isValid())
        return fail();
    const DailyBar bar = asStored(given);
    const int day = dayNumber(bar.date);
    // A new day, the common case of an import or a sync, costs one statement.
    {
        sqlite3_stmt* raw = m_store.statement(InsertBar);
        if (!raw)
            return fail();
        Use s(raw);
        bindBar(s, code, day, bar);
        if (sqlite3_step(s) != SQLITE_DONE)
            return fail();
        if (sqlite3_changes(m_store.m_db) == 1) {
            ++m_count.added;
            return true;
        }
    }
    {
        sqlite3_stmt* raw = m_store.statement(SelectExisting);
        if (!raw)
            return fail();
        Use s(raw);
        bindText(s, 1, code);
        sqlite3_bind_int(s, 2, day);
        if (sqlite3_step(s) != SQLITE_ROW)
            return fail();
        if (sameBar(barFrom(s, 0, bar.date), bar)) {
            ++m_count.unchanged;
            return true;
        }
    }
    sqlite3_stmt* raw = m_store.statement(UpdateBar);
    if (!raw)
        return fail();
    Use s(raw);
    bindBar(s, code, day, bar);
    if (sqlite3_step(s) != SQLITE_DONE)
        return fail();
    ++m_count.replaced;
    return true;
}

bool PriceStore::Writer::runWith(int which, const QStringList& texts) {
    sqlite3_stmt* raw = m_open ? m_store.statement(which) : nullptr;
    if (!raw)
        return fail();
    Use s(raw);
    for (int i = 0; i < texts.size(); ++i)
        bindText(s, i + 1, texts[i]);
    return sqlite3_step(s) == SQLITE_DONE || fail();
}

bool PriceStore::Writer::setSource(const QString& code, const QString& kind,
                                   const QString& origin) {
    return runWith(UpsertSource,
                   {code, kind, origin, QDateTime::currentDateTimeUtc().toString(Qt::ISODate)});
}

bool PriceStore::Writer::setState(const QString& key, const QString& value) {
    return runWith(UpsertState, {key, value});
}

bool PriceStore::Writer::commit() {
    sqlite3_stmt* raw = m_open ? m_store.statement(Commit) : nullptr;
    if (!raw)
        return fail();
    Use s(raw);
    if (sqlite3_step(s) != SQLITE_DONE)
        return fail();
    m_open = false;
    return true;
}

QVector<AdjustedBar> adjusted(const QVector<DailyBar>& bars) {
    QVector<AdjustedBar> out;
    out.reserve(bars.size());
    // From the newest day back: a day's factor applies to every day before it.
    double factor = 1.0;
    for (auto it = bars.crbegin(); it != bars.crend(); ++it) {
        if (it->traded()) {
            AdjustedBar a;
            a.date = it->date;
            a.close = *it->close * factor;
            a.open = it->open.value_or(*it->close) * factor;
            a.high = it->high.value_or(*it->close) * factor;
            a.low = it->low.value_or(*it->close) * factor;
            a.volume = qint64(std::llround(double(it->volume.value_or(0)) / factor));
            out.append(a);
        }
        if (it->adjustment > 0)
            factor *= it->adjustment;
    }
    std::reverse(out.begin(), out.end());
    return out;
}

} // namespace portal::store
