#include "transfer.h"

#include "base/curloptions.h"
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
    base::initialiseCurl();
    d->options = options;
    d->handle = curl_easy_init();
    if (!d->handle)
        return;
    curlsetup::configure(d->handle, options.connectTimeoutMs, options.totalTimeoutMs,
                         options.maxBytes);
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

} // namespace platform
