#pragma once

#include "fetchresult.h"

#include <QString>

#include <memory>

namespace platform {

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
