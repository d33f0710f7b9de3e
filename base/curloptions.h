#pragma once

#include <QByteArray>

#include <curl/curl.h>

namespace base {

// What a transfer of either program asks of libcurl, besides the address and where the answer
// goes.
struct CurlOptions {
    long connectTimeoutMs = 3000;
    long totalTimeoutMs = 5000;
    // The largest answer: one announced as larger ends the transfer (the writer must stop one that
    // turns out larger). 0: no cap.
    qint64 maxBytes = 0;
    // Sent as the User-Agent header; empty: none is sent.
    QByteArray userAgent;
    // Loopback addresses are reached directly, whatever proxy the environment names.
    bool loopbackWithoutProxy = false;
};

// Redirects are followed at most this many times, and only to http or https.
constexpr long kMaxRedirects = 5;

// libcurl's one-time set-up for the process; any thread may call it, any number of times, before
// it makes a handle.
void initialiseCurl();

// Sets the options on an easy handle: the time-outs and the size cap, no signals, http and https
// only, and redirects within bounds (a redirect anywhere else ends the transfer as a failure).
void configureCurl(CURL* handle, const CurlOptions& options);

} // namespace base
