#pragma once

#include "fetchresult.h"

#include <curl/curl.h>

// What the blocking and the concurrent transfers share: the options every easy handle gets, and
// what a finished transfer's code means.
namespace platform::curlsetup {

// base's option set with the transfer's time-outs and size cap (0: none). Proxies are used as the
// environment names them, and no user agent is sent.
void configure(CURL* handle, long connectTimeoutMs, long totalTimeoutMs, qint64 maxBytes);

FetchResult::Status statusFor(CURLcode code, bool overSize);

} // namespace platform::curlsetup
