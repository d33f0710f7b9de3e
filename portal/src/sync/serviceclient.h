#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <atomic>
#include <memory>

typedef void CURL;
struct curl_slist;

namespace portal::sync {

// The exchange's data service, by default at its published address.
inline constexpr char kDefaultApiBase[] = "https://api.jquants.com/v2";

// One answer of the service: its status and body, how long it asked to be left alone
// (Retry-After), or why no answer came (Japanese).
struct Answer {
    int status = 0; // 0: no answer
    QByteArray body;
    qint64 retryAfterMs = -1;
    QString error;
};

// GET requests to the service over one connection, each carrying the key in its x-api-key header
// and nowhere else: never in the address, never in what is logged.
class ServiceClient {
public:
    // A transfer under way ends when stop becomes true.
    ServiceClient(const QString& apiBase, const QByteArray& key,
                  const std::atomic<bool>* stop = nullptr);
    ~ServiceClient();
    ServiceClient(const ServiceClient&) = delete;
    ServiceClient& operator=(const ServiceClient&) = delete;

    using Query = QList<QPair<QString, QString>>;
    Answer get(const QString& path, const Query& query);

private:
    QString m_base;
    std::unique_ptr<CURL, void (*)(CURL*)> m_curl;
    curl_slist* m_headers = nullptr;
    const std::atomic<bool>* m_stop;
};

} // namespace portal::sync
