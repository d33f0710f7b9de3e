#include "sync/serviceclient.h"

#include "base/curloptions.h"

#include <QDateTime>
#include <QUrl>

namespace portal::sync {

namespace {

// A day of every listed code is a few megabytes; far more is no answer of the service.
constexpr qint64 kMaxAnswerBytes = 256 * 1024 * 1024;

size_t collect(char* data, size_t size, size_t n, void* user) {
    auto* body = static_cast<QByteArray*>(user);
    if (body->size() + qint64(size * n) > kMaxAnswerBytes)
        return 0;
    body->append(data, qsizetype(size * n));
    return size * n;
}

size_t header(char* data, size_t size, size_t n, void* user) {
    const QByteArray line = QByteArray(data, qsizetype(size * n)).trimmed();
    const int colon = line.indexOf(':');
    if (colon > 0 && line.left(colon).trimmed().compare("retry-after", Qt::CaseInsensitive) == 0) {
        const QByteArray value = line.mid(colon + 1).trimmed();
        bool ok = false;
        const qint64 seconds = value.toLongLong(&ok);
        qint64 ms = -1;
        if (ok && seconds >= 0) {
            ms = seconds * 1000;
        } else {
            const QDateTime at = QDateTime::fromString(QString::fromLatin1(value), Qt::RFC2822Date);
            if (at.isValid())
                ms = std::max<qint64>(0, QDateTime::currentDateTimeUtc().msecsTo(at));
        }
        *static_cast<qint64*>(user) = ms;
    }
    return size * n;
}

int keepGoing(void* stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return stop && static_cast<const std::atomic<bool>*>(stop)->load() ? 1 : 0;
}

CURL* newHandle() {
    base::initialiseCurl();
    return curl_easy_init();
}

} // namespace

ServiceClient::ServiceClient(const QString& apiBase, const QByteArray& key,
                             const std::atomic<bool>* stop)
    : m_base(apiBase.endsWith(QLatin1Char('/')) ? apiBase.chopped(1) : apiBase)
    , m_curl(newHandle(), curl_easy_cleanup)
    , m_stop(stop) {
    CURL* c = m_curl.get();
    if (!c)
        return;
    base::CurlOptions options;
    options.connectTimeoutMs = 15000;
    // A page of every code on a slow line; a stalled one is ended by the low-speed limit below.
    options.totalTimeoutMs = 300000;
    options.maxBytes = kMaxAnswerBytes;
    options.userAgent = QByteArrayLiteral("quote-portal");
    options.loopbackWithoutProxy = true;
    base::configureCurl(c, options);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, 60L);
    curl_easy_setopt(c, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, collect);
    curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, header);
    curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, keepGoing);
    curl_easy_setopt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(m_stop));
    curl_easy_setopt(c, CURLOPT_NOPROGRESS, m_stop ? 0L : 1L);
    m_headers = curl_slist_append(m_headers, QByteArray("x-api-key: " + key).constData());
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, m_headers);
}

ServiceClient::~ServiceClient() {
    m_curl.reset();
    curl_slist_free_all(m_headers);
}

Answer ServiceClient::get(const QString& path, const Query& query) {
    Answer a;
    CURL* c = m_curl.get();
    if (!c) {
        a.error = QStringLiteral("転送を始められません");
        return a;
    }
    // Every value is percent-encoded: a pagination key may hold "+", "=" or "/".
    QByteArray url = m_base.toUtf8() + path.toUtf8();
    for (qsizetype i = 0; i < query.size(); ++i)
        url += (i == 0 ? '?' : '&') + query[i].first.toUtf8() + '=' +
               QUrl::toPercentEncoding(query[i].second);
    curl_easy_setopt(c, CURLOPT_URL, url.constData());
    curl_easy_setopt(c, CURLOPT_WRITEDATA, &a.body);
    curl_easy_setopt(c, CURLOPT_HEADERDATA, &a.retryAfterMs);
    const CURLcode rc = curl_easy_perform(c);
    long status = 0;
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    if (rc != CURLE_OK) {
        a.error = rc == CURLE_OPERATION_TIMEDOUT ? QStringLiteral("応答がありません（時間切れ）")
                  : rc == CURLE_COULDNT_CONNECT ? QStringLiteral("接続できません")
                  : rc == CURLE_COULDNT_RESOLVE_HOST
                      ? QStringLiteral("ホスト名が見つかりません")
                      : QStringLiteral("転送に失敗しました: %1")
                            .arg(QString::fromUtf8(curl_easy_strerror(rc)));
        a.body.clear();
        return a;
    }
    a.status = int(status);
    return a;
}

} // namespace portal::sync
