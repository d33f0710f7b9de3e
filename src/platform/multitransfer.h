#pragma once

#include "transfer.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

namespace platform {

// Many transfers at once, driven from the thread's Qt event loop (socket notifiers and a timer),
// so the window keeps working while they run. At most maxPerHost transfers to one host are in
// flight; the others wait in order of their start. Connections are kept open and reused.
// A transfer's callback runs from the event loop, never from inside fetch() or cancel().
class MultiTransfer : public QObject {
    Q_OBJECT

public:
    static constexpr int kMaxPerHost = 8;

    explicit MultiTransfer(const Transfer::Options& options = {}, QObject* parent = nullptr);
    ~MultiTransfer() override;
    MultiTransfer(const MultiTransfer&) = delete;
    MultiTransfer& operator=(const MultiTransfer&) = delete;

    using Ticket = quint64;
    using Done = std::function<void(FetchResult)>;
    // Starts (or queues) a transfer; done gets its result unless it is cancelled first.
    Ticket fetch(const QString& url, Done done);
    // Ends the transfer and drops its callback; an unknown or finished ticket is ignored.
    void cancel(Ticket ticket);

    // Transfers started and not yet delivered, queued ones included.
    int pending() const;
    // Of those, the ones handed to libcurl (at most maxPerHost per host).
    int inFlight() const;
    const Transfer::Options& options() const;
    void setMaxPerHost(int limit);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace platform
