#pragma once

#include <QProcess>
#include <QString>

#include <chrono>

namespace platform {

// Starts the stand-in portal that lies beside the program when the configured chart server is a
// loopback address that nothing listens on, and stops it again. A portal that already listens
// there is left alone: it is neither started nor stopped.
class PortalStarter {
public:
    enum class Outcome {
        NotLoopback,      // the chart server lies elsewhere: nothing to do
        AlreadyListening, // a portal answers there already
        Started,          // ours, listening; stopped by stop() or with this object
        Failed,           // no portal there and none could be started; see message
    };
    struct Result {
        Outcome outcome = Outcome::Failed;
        QString address; // host:port of the chart server
        QString message; // Failed only: why, in Japanese, naming the address
    };

    // portalProgram: the quote-portal file beside the program; dataFolder: where its price data
    // lives (handed to it as --data).
    PortalStarter(const QString& portalProgram, const QString& dataFolder);
    ~PortalStarter();
    PortalStarter(const PortalStarter&) = delete;
    PortalStarter& operator=(const PortalStarter&) = delete;

    static constexpr std::chrono::milliseconds kDefaultWait{20000};

    // Blocks until the portal listens, fails, or wait has passed. chartBase is the chart
    // server's base address ("http://127.0.0.1:8470").
    Result start(const QString& chartBase, std::chrono::milliseconds wait = kDefaultWait);
    // Stops the portal this object started, if any, and waits for it to end.
    void stop();

    bool running() const;
    qint64 processId() const;

    // The loopback host and port of a base address; empty when the address is not loopback.
    struct Endpoint {
        QString host; // as the portal's --listen wants it: "127.0.0.1", "[::1]"
        int port = 0;
        bool isValid() const { return !host.isEmpty(); }
    };
    static Endpoint loopbackEndpoint(const QString& base);

private:
    enum class Probe { Nothing, Portal, Other };
    static Probe probe(const QString& base);
    static Result failed(const QString& address, const QString& reason);
    void forwardOutput();

    QString m_program;
    QString m_dataFolder;
    QProcess m_process;
};

} // namespace platform
