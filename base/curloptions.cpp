#include "curloptions.h"

namespace base {

void initialiseCurl() {
    // libcurl wants its global set-up once per process, before any handle exists; a
    // function-local static gives that once and thread-safely.
    static const bool initialised = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)initialised;
}

void configureCurl(CURL* h, const CurlOptions& options) {
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // A server that moves to https keeps working; a redirect anywhere else is refused by libcurl
    // and the transfer fails.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (options.maxBytes > 0)
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
    if (options.loopbackWithoutProxy)
        curl_easy_setopt(h, CURLOPT_NOPROXY, "localhost,127.0.0.1,::1");
    // libcurl keeps its own copy of the text.
    if (!options.userAgent.isEmpty())
        curl_easy_setopt(h, CURLOPT_USERAGENT, options.userAgent.constData());
}

} // namespace base
