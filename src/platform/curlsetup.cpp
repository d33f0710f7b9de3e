#include "curlsetup.h"

#include "base/curloptions.h"

namespace platform::curlsetup {

void configure(CURL* handle, long connectTimeoutMs, long totalTimeoutMs, qint64 maxBytes) {
    base::CurlOptions options;
    options.connectTimeoutMs = connectTimeoutMs;
    options.totalTimeoutMs = totalTimeoutMs;
    options.maxBytes = maxBytes;
    base::configureCurl(handle, options);
}

FetchResult::Status statusFor(CURLcode code, bool overSize) {
    switch (code) {
    case CURLE_OK:
        return FetchResult::Status::Answered;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        return FetchResult::Status::Unreachable;
    case CURLE_OPERATION_TIMEDOUT:
        return FetchResult::Status::TimedOut;
    case CURLE_FILESIZE_EXCEEDED:
        return FetchResult::Status::TooLarge;
    case CURLE_WRITE_ERROR:
        return overSize ? FetchResult::Status::TooLarge : FetchResult::Status::Failed;
    default:
        return FetchResult::Status::Failed;
    }
}

} // namespace platform::curlsetup
