#pragma once

#include "server/connectionguard.h"

#include <QDate>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>

namespace portal {

// Faults a test or benchmark injects; all off by default.
struct Faults {
    int delayMs = 0;             // wait this long before every answer
    bool dropConnection = false; // close the connection without any answer
    bool status500 = false;      // answer every request with status 500 and an HTML page
    QString nonImageCode;        // charts of this code answer "G..." text that is no image
    QString missingTerm;         // technical charts of this term ("6m") answer 404
    QString movedCode;           // this code is served under movedSuffix, not its own suffix
    QString movedSuffix;
    enum class Marker { Normal, Absent, AtOffset, Twice };
    Marker marker = Marker::Normal; // the detail page's "<!-- AD END Location: CT -->"
    int markerOffset = 0;           // with AtOffset: the byte offset the marker starts at
};

struct LogEntry {
    QString method;
    QString target; // path and query as requested
    int status = 0;
    // When the request came in: answers the portal still owed (this one included), and
    // connections open that had asked something. A client's concurrency, seen from here.
    int inFlight = 0;
    int connections = 0;
};

struct PortalOptions {
    QString dataDir; // holds the code-list file and prices.sqlite; empty: the program folder
    QDate asOf;      // last trading day of synthetic histories; null: today
};

// The stand-in quote portal. It serves on its own thread, so a caller on the main thread can
// make blocking transfers against it.
class PortalServer {
public:
    explicit PortalServer(const PortalOptions& options = {});
    ~PortalServer();
    PortalServer(const PortalServer&) = delete;
    PortalServer& operator=(const PortalServer&) = delete;

    // Port 0 picks a free port. Returns false when it cannot listen.
    bool start(const QHostAddress& address = QHostAddress::LocalHost, quint16 port = 0);
    void stop();
    quint16 port() const;
    QString baseUrl() const; // "http://127.0.0.1:PORT"

    void setFaults(const Faults& faults);
    Faults faults() const;

    // What clients may make the server hold; taken at the next start().
    void setLimits(const ServerLimits& limits);
    ServerLimits limits() const;

    // The request log is for tests and is kept unless turned off; the shipped program keeps none.
    void setKeepRequestLog(bool keep);
    QList<LogEntry> requestLog() const;
    void clearLog();
    // The log so far, emptied in the same step: nothing arriving meanwhile is lost.
    QList<LogEntry> takeLog();

    // The exchange suffix a listed code is served under (".t", ".j", ...), empty for an
    // unknown code.
    QString suffixFor(const QString& code) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace portal
