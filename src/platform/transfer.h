#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

namespace platform {

// What became of one transfer. Only Answered carries a body; a caller that needs the first byte
// of an image treats everything else (and an empty body) as a miss.
struct FetchResult {
    enum class Status {
        Answered,    // the server answered; body holds what it sent, whatever the HTTP status
        Unreachable, // refused, no route, name not resolved
        TimedOut,    // connect or total time-out
        TooLarge,    // the answer passed the size cap
        Failed,      // any other transfer error (connection dropped without an answer, ...)
    };
    Status status = Status::Failed;
    QByteArray body;

    bool answered() const { return status == Status::Answered; }
    // Nothing came back from the server at all: refused or timed out (used to tell a dead
    // server from one that answers with error pages).
    bool unreachable() const { return status == Status::Unreachable || status == Status::TimedOut; }
};

// A synchronous fetch of an address into bytes. One libcurl easy handle lives as long as this
// object, so keep-alive connections are reused across fetches. No window events are processed
// during a transfer.
class Transfer {
public:
    struct Options {
        long connectTimeoutMs = 3000;
        long totalTimeoutMs = 5000;
        qint64 maxBytes = 16 * 1024 * 1024;
    };

    Transfer();
    explicit Transfer(const Options& options);
    ~Transfer();
    Transfer(const Transfer&) = delete;
    Transfer& operator=(const Transfer&) = delete;

    FetchResult fetch(const QString& url);

    const Options& options() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
