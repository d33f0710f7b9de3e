#include "jquantsstandin.h"

#include <QAbstractHttpServer>
#include <QElapsedTimer>
#include <QHttpServerRequest>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutex>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QUrlQuery>

#include <cmath>
#include <deque>

namespace standin {

namespace {

QDate dateParameter(const QString& text) {
    const QDate iso = QDate::fromString(text, Qt::ISODate);
    return iso.isValid() ? iso : QDate::fromString(text, QStringLiteral("yyyyMMdd"));
}

double tenth(double v) {
    return std::round(v * 10.0) / 10.0;
}

struct Answer {
    int status = 200;
    QByteArray body;
    int retryAfterSeconds = -1;
};

QByteArray json(const QJsonObject& o) {
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

Answer message(int status, const char* text) {
    return {status, json({{QStringLiteral("message"), QString::fromLatin1(text)}}), -1};
}

} // namespace

StandInOptions usualOptions(int count, const QDate& first, const QDate& last) {
    StandInOptions o;
    o.first = first;
    o.last = last;
    static const char* const markets[] = {"プライム", "スタンダード", "グロース"};
    for (int i = 0; i < count; ++i) {
        const QString code = QString::number(1301 + i) + QLatin1Char('0');
        o.issues.append(
            {code, QStringLiteral("銘柄%1").arg(1301 + i), QString::fromUtf8(markets[i % 3])});
        if (i == 8)
            o.issues.append({QStringLiteral("130A0"), QStringLiteral("ｉシェアーズ,テスト"),
                             QStringLiteral("その他")});
    }
    o.issues.append(
        {QStringLiteral("25935"), QStringLiteral("優先株テスト"), QStringLiteral("プライム")});
    std::sort(o.issues.begin(), o.issues.end(),
              [](const Issue& a, const Issue& b) { return a.code < b.code; });
    // The first Wednesday after a week in: a holiday, a day without trades, a split.
    QDate d = first.addDays(7);
    while (d.dayOfWeek() != 3)
        d = d.addDays(1);
    if (d < last) {
        o.holidays.insert(d);
        o.noTrade.insert(QStringLiteral("13010 ") +
                         d.addDays(1).toString(QStringLiteral("yyyyMMdd")));
        o.splits.insert(QStringLiteral("13050"), d.addDays(2));
    }
    return o;
}

struct JQuantsStandIn::Private {
    StandInOptions options;
    mutable QMutex mutex; // guards the faults and the log
    std::deque<std::pair<QDate, Fault>> dayFaults;
    std::deque<std::pair<QString, Fault>> pathFaults;
    QList<Request> log;
    QVector<qint64> recent; // answered times, for the rate limit
    QElapsedTimer clock;
    QThread* thread = nullptr;
    quint16 port = 0;

    std::optional<Fault> takeFault(const QString& path, const QDate& day) {
        QMutexLocker lock(&mutex);
        const auto take = [](auto& faults, auto match) -> std::optional<Fault> {
            for (auto it = faults.begin(); it != faults.end(); ++it) {
                if (!match(it->first))
                    continue;
                Fault f = it->second;
                if (--it->second.times <= 0)
                    faults.erase(it);
                return f;
            }
            return std::nullopt;
        };
        if (day.isValid()) {
            if (auto f = take(dayFaults, [&day](const QDate& d) { return d == day; }))
                return f;
        }
        return take(pathFaults, [&path](const QString& p) { return p == path; });
    }

    Answer faultAnswer(const Fault& f) const {
        switch (f.kind) {
        case Fault::Html:
            return {200, "<!DOCTYPE html><html><body><h1>Please use a browser</h1></body></html>"};
        case Fault::Truncated:
            return {200, "{\"data\":[{\"Date\":\"2026-01-05\",\"Code\":\"13010\",\"O\":1"};
        case Fault::NoData:
            return {200, "{\"message\":\"maintenance\"}"};
        case Fault::TooMany:
            return {429, "{\"message\":\"Too Many Requests\"}", f.retryAfterSeconds};
        case Fault::Unauthorized:
            return message(401, "Unauthorized");
        case Fault::Forbidden:
            return message(403, "Your subscription covers the following dates: 2024-09-11 ~ "
                                "2026-09-11. If you want more data, please check other plans.");
        case Fault::ServerError:
            return message(500, "Internal Server Error");
        }
        return message(500, "Internal Server Error");
    }

    QJsonObject barObject(const QString& code, const QDate& day, const Record& r,
                          double laterFactor) const {
        const auto value = [](const std::optional<double>& v) {
            return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
        };
        const auto adjusted = [&](const std::optional<double>& v) {
            return v ? QJsonValue(tenth(*v * laterFactor)) : QJsonValue(QJsonValue::Null);
        };
        QJsonObject o{
            {QStringLiteral("Date"), day.toString(Qt::ISODate)},
            {QStringLiteral("Code"), code},
            {QStringLiteral("O"), value(r.open)},
            {QStringLiteral("H"), value(r.high)},
            {QStringLiteral("L"), value(r.low)},
            {QStringLiteral("C"), value(r.close)},
            // Limit flags come as strings on some days and numbers on others.
            {QStringLiteral("UL"), day.day() % 2 ? QJsonValue(QStringLiteral("0")) : QJsonValue(0)},
            {QStringLiteral("LL"), QStringLiteral("0")},
            {QStringLiteral("Vo"),
             r.volume ? QJsonValue(double(*r.volume)) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("Va"), value(r.turnover)},
            {QStringLiteral("AdjFactor"), r.adjFactor},
            {QStringLiteral("AdjO"), adjusted(r.open)},
            {QStringLiteral("AdjH"), adjusted(r.high)},
            {QStringLiteral("AdjL"), adjusted(r.low)},
            {QStringLiteral("AdjC"), adjusted(r.close)},
            {QStringLiteral("AdjVo"),
             r.volume ? QJsonValue(double(std::llround(double(*r.volume) / laterFactor)))
                      : QJsonValue(QJsonValue::Null)}};
        return o;
    }

    double laterFactor(const QString& code, const QDate& day) const {
        const auto split = options.splits.constFind(code);
        return split != options.splits.constEnd() && day < *split ? 0.5 : 1.0;
    }

    // One page of records, from `offset`; the key of the next page changes from page to page and
    // holds characters that must be percent-encoded.
    Answer page(const QJsonArray& all, int offset, const QString& keyTag) const {
        QJsonArray data;
        for (int i = offset; i < all.size() && i < offset + options.pageSize; ++i)
            data.append(all[i]);
        QJsonObject top{{QStringLiteral("data"), data}};
        if (offset + options.pageSize < all.size())
            top.insert(QStringLiteral("pagination_key"),
                       QString::fromLatin1(QByteArray(keyTag.toUtf8() + ':' +
                                                      QByteArray::number(offset + options.pageSize))
                                               .toBase64()) +
                           QStringLiteral("+/="));
        return {200, json(top)};
    }

    static int offsetOf(const QString& key, const QString& keyTag) {
        if (key.isEmpty())
            return 0;
        const QByteArray raw = QByteArray::fromBase64(key.chopped(3).toLatin1());
        const int colon = raw.lastIndexOf(':');
        if (colon < 0 || raw.left(colon) != keyTag.toUtf8())
            return -1;
        return raw.mid(colon + 1).toInt();
    }

    Answer route(const QString& path, const QUrlQuery& query, const QByteArray& key) {
        const QString date = query.queryItemValue(QStringLiteral("date"));
        const QDate day = dateParameter(date);
        if (auto f = takeFault(path, day))
            return faultAnswer(*f);
        if (key.isEmpty())
            return message(401, "Unauthorized");
        if (key != options.key.toUtf8())
            return message(403, "The incoming api key is invalid or expired");
        if (options.limitPerMinute > 0) {
            QMutexLocker lock(&mutex);
            const qint64 now = clock.elapsed();
            while (!recent.isEmpty() && recent.first() <= now - 60000)
                recent.removeFirst();
            if (recent.size() >= options.limitPerMinute)
                return message(429, "Too Many Requests");
            recent.append(now);
        }
        const QString pageKey =
            query.queryItemValue(QStringLiteral("pagination_key"), QUrl::FullyDecoded);
        if (path == QLatin1String("/v2/markets/calendar")) {
            QJsonArray data;
            const QDate from = dateParameter(query.queryItemValue(QStringLiteral("from")));
            const QDate to = dateParameter(query.queryItemValue(QStringLiteral("to")));
            for (QDate d = std::max(from, options.first);
                 d.isValid() && d <= to && d <= options.last; d = d.addDays(1)) {
                const int division = tradingDay(d) ? 1 : 0;
                data.append(QJsonObject{{QStringLiteral("Date"), d.toString(Qt::ISODate)},
                                        {QStringLiteral("HolDiv"), QString::number(division)}});
            }
            return page(data, offsetOf(pageKey, QStringLiteral("cal")), QStringLiteral("cal"));
        }
        if (path == QLatin1String("/v2/equities/master")) {
            QJsonArray data;
            for (const Issue& i : std::as_const(options.issues))
                data.append(
                    QJsonObject{{QStringLiteral("Date"), options.last.toString(Qt::ISODate)},
                                {QStringLiteral("Code"), i.code},
                                {QStringLiteral("CoName"), i.name},
                                {QStringLiteral("Mkt"), QStringLiteral("0111")},
                                {QStringLiteral("MktNm"), i.market}});
            const int offset = offsetOf(pageKey, QStringLiteral("master"));
            return offset < 0 ? message(400, "invalid pagination_key")
                              : page(data, offset, QStringLiteral("master"));
        }
        if (path == QLatin1String("/v2/equities/bars/daily")) {
            const QString code = query.queryItemValue(QStringLiteral("code"));
            QJsonArray data;
            QString tag;
            if (!code.isEmpty()) {
                const QDate from = dateParameter(query.queryItemValue(QStringLiteral("from")));
                const QDate to = dateParameter(query.queryItemValue(QStringLiteral("to")));
                tag = QStringLiteral("code") + code;
                for (const Issue& i : std::as_const(options.issues)) {
                    // A four-character code asks for the common stock only.
                    if (i.code != code && i.code != code + QLatin1Char('0'))
                        continue;
                    for (QDate d = std::max(from, options.first); d <= std::min(to, options.last);
                         d = d.addDays(1)) {
                        if (tradingDay(d))
                            data.append(
                                barObject(i.code, d, record(i.code, d), laterFactor(i.code, d)));
                    }
                }
            } else if (day.isValid()) {
                tag = QStringLiteral("date") + day.toString(QStringLiteral("yyyyMMdd"));
                if (tradingDay(day)) {
                    for (const Issue& i : std::as_const(options.issues))
                        data.append(
                            barObject(i.code, day, record(i.code, day), laterFactor(i.code, day)));
                }
            } else {
                return message(400, "This API requires at least 1 parameter as follows; date,code");
            }
            const int offset = offsetOf(pageKey, tag);
            return offset < 0 ? message(400, "invalid pagination_key") : page(data, offset, tag);
        }
        return message(403, "Missing Authentication Token");
    }

    bool tradingDay(const QDate& d) const {
        return d >= options.first && d <= options.last && d.dayOfWeek() <= 5 &&
               !options.holidays.contains(d);
    }

    Record record(const QString& code, const QDate& day) const {
        Record r;
        const auto split = options.splits.constFind(code);
        r.adjFactor = split != options.splits.constEnd() && *split == day ? 0.5 : 1.0;
        if (options.noTrade.contains(code + QLatin1Char(' ') +
                                     day.toString(QStringLiteral("yyyyMMdd"))))
            return r;
        const uint h = qHash(code, 7u);
        const double base = 200 + (h % 4000);
        const double t = double(QDate(2000, 1, 1).daysTo(day));
        double close = tenth(base * (1.0 + 0.2 * std::sin(t / 17.0 + (h % 100))));
        // After a two-for-one split the shares trade at half the price, twice as many.
        const bool afterSplit = split != options.splits.constEnd() && day >= *split;
        if (afterSplit)
            close = tenth(close / 2);
        const double open = tenth(close * (1.0 + 0.01 * std::cos(t + h)));
        r.open = open;
        r.close = close;
        r.high = tenth(std::max(open, close) * 1.02);
        r.low = tenth(std::min(open, close) * 0.98);
        r.volume = qint64(1000 * (1 + (h + qint64(t)) % 97)) * (afterSplit ? 2 : 1);
        r.turnover = std::round(close * double(*r.volume));
        return r;
    }
};

namespace {

class Server : public QAbstractHttpServer {
public:
    explicit Server(JQuantsStandIn::Private* d)
        : m_d(d) {}

protected:
    bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
        const QUrl url = request.url();
        const QString path = url.path();
        const QUrlQuery query(url);
        QByteArray key;
        for (const auto& [name, value] : request.headers()) {
            if (name.compare("x-api-key", Qt::CaseInsensitive) == 0)
                key = value.trimmed();
        }
        const Answer a = m_d->route(path, query, key);
        {
            QMutexLocker lock(&m_d->mutex);
            m_d->log.append({path + (url.hasQuery() ? QLatin1Char('?') + url.query() : QString()),
                             a.status, !key.isEmpty(), m_d->clock.elapsed()});
        }
        QByteArray head =
            "HTTP/1.1 " + QByteArray::number(a.status) + (a.status == 200 ? " OK" : " Error") +
            "\r\nContent-Type: " + (a.body.startsWith('<') ? "text/html" : "application/json") +
            "\r\nContent-Length: " + QByteArray::number(a.body.size()) + "\r\n";
        if (a.retryAfterSeconds >= 0)
            head += "Retry-After: " + QByteArray::number(a.retryAfterSeconds) + "\r\n";
        socket->write(head + "\r\n" + a.body);
        return true;
    }
    void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
        handleRequest(request, socket);
    }

private:
    JQuantsStandIn::Private* m_d;
};

class ServerThread : public QThread {
public:
    explicit ServerThread(JQuantsStandIn::Private* d)
        : m_d(d) {}
    QSemaphore ready;

protected:
    void run() override {
        Server server(m_d);
        auto* listener = new QTcpServer(&server);
        if (listener->listen(QHostAddress::LocalHost, 0)) {
            server.bind(listener);
            m_d->port = listener->serverPort();
        }
        ready.release();
        if (m_d->port != 0)
            exec();
    }

private:
    JQuantsStandIn::Private* m_d;
};

} // namespace

JQuantsStandIn::JQuantsStandIn(StandInOptions options)
    : d(std::make_unique<Private>()) {
    d->options = std::move(options);
    d->clock.start();
}

JQuantsStandIn::~JQuantsStandIn() {
    if (d->thread) {
        d->thread->quit();
        d->thread->wait();
        delete d->thread;
    }
}

bool JQuantsStandIn::start() {
    auto* thread = new ServerThread(d.get());
    thread->start();
    thread->ready.acquire();
    d->thread = thread;
    return d->port != 0;
}

QString JQuantsStandIn::apiBase() const {
    return QStringLiteral("http://127.0.0.1:%1/v2").arg(d->port);
}

const StandInOptions& JQuantsStandIn::options() const {
    return d->options;
}

void JQuantsStandIn::failDay(const QDate& day, const Fault& fault) {
    QMutexLocker lock(&d->mutex);
    d->dayFaults.emplace_back(day, fault);
}

void JQuantsStandIn::failPath(const QString& path, const Fault& fault) {
    QMutexLocker lock(&d->mutex);
    d->pathFaults.emplace_back(path, fault);
}

QList<JQuantsStandIn::Request> JQuantsStandIn::requests() const {
    QMutexLocker lock(&d->mutex);
    return d->log;
}

void JQuantsStandIn::clearRequests() {
    QMutexLocker lock(&d->mutex);
    d->log.clear();
}

bool JQuantsStandIn::tradingDay(const QDate& day) const {
    return d->tradingDay(day);
}

Record JQuantsStandIn::record(const QString& code, const QDate& day) const {
    return d->record(code, day);
}

} // namespace standin
