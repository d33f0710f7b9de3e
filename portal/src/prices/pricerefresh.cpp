#include "prices/pricerefresh.h"

#include "base/curloptions.h"
#include "base/markline.h"
#include "prices/datastore.h"
#include "prices/marketdata.h"
#include "prices/pricecsv.h"
#include "prices/priceimport.h"

#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QSettings>
#include <QThread>
#include <QUrl>

#include <memory>

namespace portal {

namespace {

const QString kPlaceholder = QStringLiteral("{code}");
constexpr qint64 kMaxAnswerBytes = 32 * 1024 * 1024;

QString sourceKey() {
    return QStringLiteral("refresh/source");
}
QString refreshedKey(const QString& code) {
    return QStringLiteral("refreshed/") + code;
}

size_t collect(char* data, size_t size, size_t n, void* user) {
    auto* body = static_cast<QByteArray*>(user);
    if (body->size() + qint64(size * n) > kMaxAnswerBytes)
        return 0; // ends the transfer with a write error
    body->append(data, qsizetype(size * n));
    return size * n;
}

struct Fetched {
    bool ok = false;
    QByteArray body;
    QString error; // Japanese, when !ok
};

// One libcurl handle for the whole run, so a source on one host keeps its connection.
class Fetcher {
public:
    Fetcher(long connectMs, long totalMs)
        : m_curl(newHandle(), curl_easy_cleanup) {
        CURL* c = m_curl.get();
        if (!c)
            return;
        // Neither the template nor a redirect may lead anywhere but http and https; a source on
        // this machine is never reached through a proxy.
        base::CurlOptions options;
        options.connectTimeoutMs = connectMs;
        options.totalTimeoutMs = totalMs;
        options.maxBytes = kMaxAnswerBytes;
        options.userAgent = QByteArrayLiteral("quote-portal");
        options.loopbackWithoutProxy = true;
        base::configureCurl(c, options);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    }

    Fetched fetch(const QString& url) {
        Fetched f;
        CURL* c = m_curl.get();
        if (!c) {
            f.error = QStringLiteral("転送を始められません");
            return f;
        }
        const QByteArray u = url.toUtf8();
        curl_easy_setopt(c, CURLOPT_URL, u.constData());
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &f.body);
        const CURLcode rc = curl_easy_perform(c);
        long status = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        switch (rc) {
        case CURLE_OK:
            break;
        case CURLE_COULDNT_CONNECT:
            f.error = QStringLiteral("接続できません（拒否されました）");
            return f;
        case CURLE_COULDNT_RESOLVE_HOST:
            f.error = QStringLiteral("ホスト名が見つかりません");
            return f;
        case CURLE_OPERATION_TIMEDOUT:
            f.error = QStringLiteral("応答がありません（時間切れ）");
            return f;
        case CURLE_WRITE_ERROR:
        case CURLE_FILESIZE_EXCEEDED:
            f.error = QStringLiteral("応答が大きすぎます");
            return f;
        default:
            f.error = QStringLiteral("転送に失敗しました: %1")
                          .arg(QString::fromUtf8(curl_easy_strerror(rc)));
            return f;
        }
        if (status != 200) {
            f.error = QStringLiteral("HTTP %1 が返されました").arg(status);
            return f;
        }
        f.ok = true;
        return f;
    }

private:
    static CURL* newHandle() {
        base::initialiseCurl();
        return curl_easy_init();
    }

    std::unique_ptr<CURL, void (*)(CURL*)> m_curl;
};

} // namespace

QString checkSourceTemplate(const QString& source) {
    if (!source.contains(kPlaceholder))
        return QStringLiteral("取得元のアドレス “%1” に {code} がありません").arg(source);
    const QUrl url(sourceAddress(source, QStringLiteral("1301")), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty())
        return QStringLiteral("取得元のアドレス “%1” は http または https のアドレスではありません")
            .arg(source);
    return {};
}

QString sourceAddress(const QString& source, const QString& code) {
    QString out = source;
    return out.replace(kPlaceholder, QString::fromLatin1(QUrl::toPercentEncoding(code)));
}

QStringList markFileCodes(const QString& path) {
    const std::optional<QString> line = base::readMarkLine(path);
    if (!line)
        return {};
    QStringList fields = line->split(QLatin1Char(','));
    fields.removeLast(); // what follows the last comma is no code
    QStringList codes;
    for (const QString& f : std::as_const(fields)) {
        const QString code = f.trimmed().toUpper();
        if (isCode(code) && !codes.contains(code))
            codes.append(code);
    }
    return codes;
}

QString configurationPath(const QString& dataDir) {
    return dataDir + QStringLiteral("/quote-portal.ini");
}

int refreshPrices(const RefreshOptions& options, QTextStream& out, QTextStream& err) {
    QSettings config(configurationPath(options.dataDir), QSettings::IniFormat);
    const QString source =
        options.source.isEmpty() ? config.value(sourceKey()).toString() : options.source;
    if (source.isEmpty()) {
        err << QStringLiteral("価格の取得元が設定されていません。--source で {code} を含む "
                              "http/https のアドレスを指定してください")
            << Qt::endl;
        return 2;
    }
    if (const QString why = checkSourceTemplate(source); !why.isEmpty()) {
        err << why << Qt::endl;
        return 2;
    }
    if (!options.source.isEmpty()) {
        config.setValue(sourceKey(), options.source);
        config.sync();
    }

    QStringList codes;
    QStringList failed;
    if (options.codes.isEmpty()) {
        codes = markFileCodes(options.dataDir + QStringLiteral("/MARK.csv"));
        if (codes.isEmpty()) {
            err << QStringLiteral("取得する銘柄がありません（コードの指定がなく、MARK.csv にも"
                                  "印がありません）")
                << Qt::endl;
            return 2;
        }
    } else {
        for (const QString& c : options.codes) {
            if (const auto code = codeFromUser(c)) {
                codes.append(*code);
            } else {
                out << c << QStringLiteral(": 銘柄コードではありません") << Qt::endl;
                failed.append(c);
            }
        }
    }

    QString storeError;
    const auto store = openDataStore(options.dataDir, &storeError, &err);
    if (!store) {
        err << storeError << Qt::endl;
        return 2;
    }
    const QDate today = options.today.isValid() ? options.today : QDate::currentDate();
    const QString todayText = today.toString(Qt::ISODate);
    Fetcher fetcher(options.connectTimeoutMs, options.totalTimeoutMs);
    QElapsedTimer sinceLast;
    for (const QString& code : std::as_const(codes)) {
        if (!options.force && config.value(refreshedKey(code)).toString() == todayText) {
            out << code << QStringLiteral(": 今日は取得済みです（--force で取り直します）")
                << Qt::endl;
            continue;
        }
        if (sinceLast.isValid() && sinceLast.elapsed() < options.minIntervalMs)
            QThread::msleep(quint64(options.minIntervalMs - sinceLast.elapsed()));
        sinceLast.start();
        const Fetched f = fetcher.fetch(sourceAddress(source, code));
        QString why = f.error;
        PriceFile csv;
        if (f.ok) {
            csv = parsePriceCsv(f.body);
            if (!csv.error.isEmpty())
                why = csv.error;
            else if (csv.problemCount > 0)
                why = QStringLiteral("不正な行が %1 行あります（%2 行目: %3）")
                          .arg(csv.problemCount)
                          .arg(csv.problems[0].line)
                          .arg(csv.problems[0].reason);
            else if (csv.bars.isEmpty())
                why = QStringLiteral("株価の行がありません");
        }
        if (why.isEmpty()) {
            // The origin kept is the address without its query or user, which may hold a key.
            const QString origin = QUrl(sourceAddress(source, code))
                                       .adjusted(QUrl::RemoveQuery | QUrl::RemoveUserInfo)
                                       .toString();
            const StoreResult stored =
                storeBars(*store, code, csv.bars, QStringLiteral("refresh"), origin);
            if (stored.ok) {
                config.setValue(refreshedKey(code), todayText);
                config.sync();
                out << code << QStringLiteral(": ") << describeWrite(stored, csv.bars) << Qt::endl;
                continue;
            }
            why = stored.error;
        }
        out << code << QStringLiteral(": 失敗: ") << why << Qt::endl;
        failed.append(code);
    }
    if (!failed.isEmpty()) {
        err << QStringLiteral("取得できなかった銘柄（%1）: %2")
                   .arg(failed.size())
                   .arg(failed.join(QStringLiteral(", ")))
            << Qt::endl;
        return 1;
    }
    return 0;
}

int runRefresh(const QStringList& args, const QString& programDir, QTextStream& out,
               QTextStream& err) {
    QCommandLineParser parser;
    const QCommandLineOption source(QStringLiteral("source"),
                                    QStringLiteral("Address template with {code}; kept."),
                                    QStringLiteral("template"));
    const QCommandLineOption force(QStringLiteral("force"),
                                   QStringLiteral("Fetch codes refreshed today again."));
    parser.addOptions({dataFolderOption(), source, force});
    if (!parseCommand(
            parser, QStringLiteral("quote-portal refresh"), args,
            QStringLiteral("使い方: quote-portal refresh [--data DIR] [--source TEMPLATE] "
                           "[--force] [CODE...]"),
            err))
        return 2;
    RefreshOptions options;
    options.dataDir = dataFolderFrom(parser, programDir);
    options.source = parser.value(source);
    options.force = parser.isSet(force);
    options.codes = parser.positionalArguments();
    return refreshPrices(options, out, err);
}

} // namespace portal
