#include "multitransfer.h"

#include "base/curloptions.h"
#include "curlsetup.h"

#include <QHash>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <QUrl>

#include <map>
#include <vector>

namespace platform {

namespace {

struct Job {
    MultiTransfer::Ticket ticket = 0;
    QByteArray url;
    QString host;
    MultiTransfer::Done done;
    CURL* easy = nullptr; // null while queued
    QByteArray body;
    qint64 maxBytes = 0;
    bool overSize = false;

    static size_t write(char* data, size_t size, size_t count, void* user) {
        auto* self = static_cast<Job*>(user);
        const size_t bytes = size * count;
        if (self->maxBytes > 0 && self->body.size() + static_cast<qint64>(bytes) > self->maxBytes) {
            self->overSize = true;
            return 0; // anything short of `bytes` makes libcurl abort the transfer
        }
        self->body.append(data, static_cast<qsizetype>(bytes));
        return bytes;
    }
};

// The two notifiers libcurl asks for on one socket.
struct SocketWatch {
    QSocketNotifier* read = nullptr;
    QSocketNotifier* write = nullptr;
};

// Transfers to one host share its slots; the port counts, since two servers on one machine
// are two hosts to be polite to.
QString hostKey(const QString& url) {
    const QUrl u(url);
    return u.host().toLower() + QLatin1Char(':') +
           QString::number(u.port(u.scheme() == QLatin1String("https") ? 443 : 80));
}

} // namespace

struct MultiTransfer::Private {
    MultiTransfer* q = nullptr;
    Transfer::Options options;
    int maxPerHost = kMaxPerHost;
    CURLM* multi = nullptr;
    QTimer timer;
    Ticket nextTicket = 1;
    std::map<Ticket, std::unique_ptr<Job>> jobs; // started and queued, in order of their start
    QHash<QString, int> active;                  // per host, handed to libcurl
    int inFlight = 0;
    std::vector<CURL*> idle;
    QHash<curl_socket_t, SocketWatch> watches;
    std::map<Ticket, std::pair<Done, FetchResult>> finished; // waiting for delivery
    bool deliveryPosted = false;

    static int onSocket(CURL*, curl_socket_t s, int what, void* user, void*) {
        static_cast<Private*>(user)->watch(s, what);
        return 0;
    }
    static int onTimer(CURLM*, long timeoutMs, void* user) {
        auto* self = static_cast<Private*>(user);
        // libcurl may not be called back into from here; the timer does it from the loop.
        if (timeoutMs < 0)
            self->timer.stop();
        else
            self->timer.start(static_cast<int>(timeoutMs));
        return 0;
    }

    void watch(curl_socket_t s, int what) {
        if (what == CURL_POLL_REMOVE) {
            const auto it = watches.find(s);
            if (it == watches.end())
                return;
            // Possibly inside the notifier's own signal: disable now, delete later.
            for (QSocketNotifier* n : {it->read, it->write}) {
                n->setEnabled(false);
                n->deleteLater();
            }
            watches.erase(it);
            return;
        }
        auto it = watches.find(s);
        if (it == watches.end()) {
            SocketWatch w;
            w.read = new QSocketNotifier(s, QSocketNotifier::Read, q);
            w.write = new QSocketNotifier(s, QSocketNotifier::Write, q);
            w.read->setEnabled(false);
            w.write->setEnabled(false);
            QObject::connect(w.read, &QSocketNotifier::activated, q,
                             [this, s] { act(s, CURL_CSELECT_IN); });
            QObject::connect(w.write, &QSocketNotifier::activated, q,
                             [this, s] { act(s, CURL_CSELECT_OUT); });
            it = watches.insert(s, w);
        }
        it->read->setEnabled(what == CURL_POLL_IN || what == CURL_POLL_INOUT);
        it->write->setEnabled(what == CURL_POLL_OUT || what == CURL_POLL_INOUT);
    }

    void act(curl_socket_t s, int events) {
        int running = 0;
        curl_multi_socket_action(multi, s, events, &running);
        collect();
    }

    CURL* takeHandle() {
        if (!idle.empty()) {
            CURL* h = idle.back();
            idle.pop_back();
            return h;
        }
        CURL* h = curl_easy_init();
        if (h) {
            curlsetup::configure(h, options.connectTimeoutMs, options.totalTimeoutMs,
                                 options.maxBytes);
            curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &Job::write);
        }
        return h;
    }

    void release(Job& job) {
        if (!job.easy)
            return;
        curl_multi_remove_handle(multi, job.easy);
        idle.push_back(job.easy);
        job.easy = nullptr;
        --active[job.host];
        --inFlight;
    }

    // Hands queued transfers to libcurl while their hosts have free slots, oldest first.
    void startQueued() {
        for (auto& [ticket, job] : jobs) {
            if (job->easy || active.value(job->host) >= maxPerHost)
                continue;
            CURL* h = takeHandle();
            if (!h) {
                finish(ticket, CURLE_FAILED_INIT);
                return startQueued(); // the map changed under the loop
            }
            curl_easy_setopt(h, CURLOPT_URL, job->url.constData());
            curl_easy_setopt(h, CURLOPT_WRITEDATA, job.get());
            curl_easy_setopt(h, CURLOPT_PRIVATE, reinterpret_cast<char*>(ticket));
            if (curl_multi_add_handle(multi, h) != CURLM_OK) {
                idle.push_back(h);
                finish(ticket, CURLE_FAILED_INIT);
                return startQueued();
            }
            job->easy = h;
            ++active[job->host];
            ++inFlight;
        }
    }

    // Moves a job to the finished list; the caller makes sure delivery follows.
    void finish(Ticket ticket, CURLcode code) {
        const auto it = jobs.find(ticket);
        if (it == jobs.end())
            return;
        Job& job = *it->second;
        release(job);
        FetchResult result;
        result.status = curlsetup::statusFor(code, job.overSize);
        if (result.status == FetchResult::Status::Answered)
            result.body = std::move(job.body);
        finished.emplace(ticket, std::make_pair(std::move(job.done), std::move(result)));
        jobs.erase(it);
        postDelivery();
    }

    void collect() {
        int left = 0;
        std::vector<std::pair<Ticket, CURLcode>> done;
        while (CURLMsg* msg = curl_multi_info_read(multi, &left)) {
            if (msg->msg != CURLMSG_DONE)
                continue;
            char* priv = nullptr;
            curl_easy_getinfo(msg->easy_handle, CURLINFO_PRIVATE, &priv);
            done.emplace_back(reinterpret_cast<Ticket>(priv), msg->data.result);
        }
        for (const auto& [ticket, code] : done)
            finish(ticket, code);
        if (!done.empty())
            startQueued();
    }

    void postDelivery() {
        if (deliveryPosted)
            return;
        deliveryPosted = true;
        QTimer::singleShot(0, q, [this] { deliver(); });
    }

    void deliver() {
        deliveryPosted = false;
        QPointer<MultiTransfer> alive(q);
        // A callback may cancel others that finished in the same turn; those stay silent.
        while (!finished.empty()) {
            auto it = finished.begin();
            auto [done, result] = std::move(it->second);
            finished.erase(it);
            if (done)
                done(std::move(result));
            if (!alive)
                return;
        }
    }
};

MultiTransfer::MultiTransfer(const Transfer::Options& options, QObject* parent)
    : QObject(parent)
    , d(std::make_unique<Private>()) {
    base::initialiseCurl();
    d->q = this;
    d->options = options;
    d->timer.setSingleShot(true);
    connect(&d->timer, &QTimer::timeout, this, [this] { d->act(CURL_SOCKET_TIMEOUT, 0); });
    d->multi = curl_multi_init();
    if (!d->multi)
        return;
    curl_multi_setopt(d->multi, CURLMOPT_SOCKETFUNCTION, &Private::onSocket);
    curl_multi_setopt(d->multi, CURLMOPT_SOCKETDATA, d.get());
    curl_multi_setopt(d->multi, CURLMOPT_TIMERFUNCTION, &Private::onTimer);
    curl_multi_setopt(d->multi, CURLMOPT_TIMERDATA, d.get());
    setMaxPerHost(kMaxPerHost);
}

MultiTransfer::~MultiTransfer() {
    if (d->multi) {
        for (auto& [ticket, job] : d->jobs)
            d->release(*job);
        d->jobs.clear();
        for (CURL* h : d->idle)
            curl_easy_cleanup(h);
        d->idle.clear();
        curl_multi_cleanup(d->multi);
    }
    for (const SocketWatch& w : std::as_const(d->watches)) {
        delete w.read;
        delete w.write;
    }
    d->watches.clear();
}

void MultiTransfer::setMaxPerHost(int limit) {
    d->maxPerHost = qMax(1, limit);
    if (d->multi) {
        // libcurl's own limit stays behind ours, for hosts a redirect leads to.
        curl_multi_setopt(d->multi, CURLMOPT_MAX_HOST_CONNECTIONS, long(d->maxPerHost));
        curl_multi_setopt(d->multi, CURLMOPT_MAXCONNECTS, long(d->maxPerHost * 4));
    }
    d->startQueued();
}

const Transfer::Options& MultiTransfer::options() const {
    return d->options;
}

MultiTransfer::Ticket MultiTransfer::fetch(const QString& url, Done done) {
    const Ticket ticket = d->nextTicket++;
    auto job = std::make_unique<Job>();
    job->ticket = ticket;
    job->url = url.toUtf8();
    job->host = hostKey(url);
    job->done = std::move(done);
    job->maxBytes = d->options.maxBytes;
    d->jobs.emplace(ticket, std::move(job));
    if (!d->multi)
        d->finish(ticket, CURLE_FAILED_INIT);
    else
        d->startQueued();
    return ticket;
}

void MultiTransfer::cancel(Ticket ticket) {
    d->finished.erase(ticket);
    const auto it = d->jobs.find(ticket);
    if (it == d->jobs.end())
        return;
    const bool wasActive = it->second->easy != nullptr;
    d->release(*it->second);
    d->jobs.erase(it);
    if (wasActive)
        d->startQueued();
}

int MultiTransfer::pending() const {
    return static_cast<int>(d->jobs.size() + d->finished.size());
}

int MultiTransfer::inFlight() const {
    return d->inFlight;
}

} // namespace platform
