#pragma once

#include <QMetaType>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace platform {

class MultiTransfer;
struct FetchResult;

// Starts the stand-in portal that lies beside the program when the configured chart server is a
// loopback address that nothing listens on, and stops it again. A portal that already listens
// there is left alone: it is neither started nor stopped.
//
// Everything runs on the thread's event loop: start() returns at once, the look at the address
// and the wait for the started portal go on through socket notifiers, QProcess signals and a
// timer, and the outcome comes once through finished(). Only stopping waits, briefly and for the
// child process alone (see stop()).
class PortalStarter : public QObject {
    Q_OBJECT

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
    PortalStarter(const QString& portalProgram, const QString& dataFolder,
                  QObject* parent = nullptr);
    ~PortalStarter() override;
    PortalStarter(const PortalStarter&) = delete;
    PortalStarter& operator=(const PortalStarter&) = delete;

    static constexpr std::chrono::milliseconds kDefaultWait{20000};
    // How long stop() waits for the child after SIGTERM, and again after SIGKILL.
    static constexpr std::chrono::milliseconds kStopWait{2000};
    static constexpr std::chrono::milliseconds kKillWait{1000};

    // Begins the start and returns at once; finished() follows from the event loop, never from
    // inside this call. wait bounds the time from launching the portal until it listens.
    // chartBase is the chart server's base address ("http://127.0.0.1:8470"). A start still
    // pending is abandoned first, as by stop().
    void start(const QString& chartBase, std::chrono::milliseconds wait = kDefaultWait);
    // Between start() and finished().
    bool isPending() const;
    // Abandons a pending start (its finished() never comes) and stops the portal this object
    // started, if any. The child gets SIGTERM and up to kStopWait to end, then SIGKILL and up to
    // kKillWait: a wait for a process, never for the network, so closing stays quick.
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

Q_SIGNALS:
    // The outcome of start(), once per start() that is not abandoned.
    void finished(const platform::PortalStarter::Result& result);

private:
    enum class Probe { Nothing, Portal, Other };
    enum class Stage { Idle, Probing, Launching, Reprobing, Delivering };
    static Probe probeKind(const FetchResult& r);
    static Result failed(const QString& address, const QString& reason);
    void probe(std::function<void(Probe)> then);
    void probed(Probe found);
    void launch();
    void processOutput();
    void processError(QProcess::ProcessError error);
    void processEnded(int exitCode, QProcess::ExitStatus status);
    void waitedTooLong();
    void forward(QProcess::ProcessChannel channel);
    void finish(const Result& result);
    void abandon();
    void endProcess();

    QString m_program;
    QString m_dataFolder;
    QProcess m_process;
    QTimer m_deadline;
    std::unique_ptr<MultiTransfer> m_probe;
    Stage m_stage = Stage::Idle;
    quint64 m_attempt = 0; // counts starts and abandons; a stale delivery sees another number
    QString m_address;     // host:port of the pending start
    std::chrono::milliseconds m_wait{kDefaultWait};
    QByteArray m_output;       // what the portal printed before it said that it listens
    bool m_forwarding = false; // it listens: its output goes to our error output
};

} // namespace platform

Q_DECLARE_METATYPE(platform::PortalStarter::Result)
