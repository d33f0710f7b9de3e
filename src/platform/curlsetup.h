#pragma once

#include "transfer.h"

#include <curl/curl.h>

// What the blocking and the concurrent transfers share: libcurl's one-time set-up, the options
// every easy handle gets, and what a finished transfer's code means.
namespace platform::curlsetup {

void ensureInitialised();

// Time-outs, the size cap, and redirects within bounds: at most kMaxRedirects, and only to http
// or https, so a redirect elsewhere ends the transfer as a failure.
void configure(CURL* handle, const Transfer::Options& options);

FetchResult::Status statusFor(CURLcode code, bool overSize);

constexpr long kMaxRedirects = 5;

} // namespace platform::curlsetup
