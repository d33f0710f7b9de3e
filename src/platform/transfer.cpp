#include "transfer.h"

#include "curlsetup.h"

namespace platform {

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
    curlsetup::ensureInitialised();
    d->options = options;
    d->handle = curl_easy_init();
    if (!d->handle)
        return;
    curlsetup::configure(d->handle, options);
    curl_easy_setopt(d->handle, CURLOPT_WRITEFUNCTION, &Private::write);
    curl_easy_setopt(d->handle, CURLOPT_WRITEDATA, d.get());
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
    result.status = curlsetup::statusFor(code, d->overSize);
    // An HTTP error status still carries a body; the caller judges what it holds.
    if (result.status == FetchResult::Status::Answered)
        result.body = std::move(d->body);
    d->body = QByteArray();
    return result;
}

namespace curlsetup {

void ensureInitialised() {
    // libcurl wants its global set-up once per process, before any handle exists; a
    // function-local static gives that once and thread-safely.
    static const bool initialised = [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        return true;
    }();
    (void)initialised;
}

void configure(CURL* h, const Transfer::Options& options) {
    curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
    curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
    // A portal that moves to https keeps working; a redirect anywhere else is refused by
    // libcurl and the transfer counts as a miss.
    curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
    curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    if (options.maxBytes > 0)
        curl_easy_setopt(h, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(options.maxBytes));
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

} // namespace curlsetup

} // namespace platform
