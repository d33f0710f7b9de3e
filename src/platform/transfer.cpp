#include "transfer.h"

#include <curl/curl.h>

namespace platform {

namespace {

// libcurl wants its global set-up once per process, before any handle exists; a function-local
// static gives that once and thread-safely.
void ensureCurlInitialised() {
    static const bool initialised = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)initialised;
}

} // namespace

struct Transfer::Private {
    Options options;
    CURL* handle = nullptr;
    QByteArray body;
    bool overSize = false;

    static size_t write(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Private*>(user);
        const size_t bytes = size * count;
        if (self->body.size() + static_cast<qint64>(bytes) > self->options.maxBytes) {
            self->overSize = true;
            return 0; // anything short of `bytes` makes libcurl abort the transfer
        }
        self->body.append(data, static_cast<qsizetype>(bytes));
        return bytes;
    }
};

Transfer::Transfer()
    : Transfer(Options{}) {}

Transfer::Transfer(const Options& options)
    : d(std::make_unique<Private>()) {
    ensureCurlInitialised();
    d->options = options;
    d->handle = curl_easy_init();
    if (!d->handle)
        return;
    CURL* h = d->handle;
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Private::write);
    curl_easy_setopt(h, CURLOPT_WRITEDATA, d.get());
    if (options.maxBytes > 0)
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
}

Transfer::~Transfer() {
    if (d->handle)
        curl_easy_cleanup(d->handle);
}

const Transfer::Options& Transfer::options() const {
    return d->options;
}

FetchResult Transfer::fetch(const QString& url) {
    FetchResult result;
    if (!d->handle)
        return result;
    d->body.clear();
    d->overSize = false;
    const QByteArray address = url.toUtf8();
    curl_easy_setopt(d->handle, CURLOPT_URL, address.constData());
    const CURLcode code = curl_easy_perform(d->handle);
    switch (code) {
    case CURLE_OK:
        // An HTTP error status still carries a body; the caller judges what it holds.
        result.status = FetchResult::Status::Answered;
        result.body = std::move(d->body);
        break;
    case CURLE_COULDNT_CONNECT:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
        result.status = FetchResult::Status::Unreachable;
        break;
    case CURLE_OPERATION_TIMEDOUT:
        result.status = FetchResult::Status::TimedOut;
        break;
    case CURLE_FILESIZE_EXCEEDED:
        result.status = FetchResult::Status::TooLarge;
        break;
    case CURLE_WRITE_ERROR:
        result.status = d->overSize ? FetchResult::Status::TooLarge : FetchResult::Status::Failed;
        break;
    default:
        result.status = FetchResult::Status::Failed;
        break;
    }
    d->body = QByteArray();
    return result;
}

} // namespace platform
