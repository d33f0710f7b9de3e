#include "portalstarter.h"

#include "multitransfer.h"
#include "transfer.h"

#include <QFile>
#include <QFileInfo>
#include <QProcessEnvironment>
#include <QUrl>

#include <csignal>
#include <cstdio>

#include <sys/prctl.h>
#include <unistd.h>

namespace platform {

namespace {
// The portal's support page names the program; any other server answering there is not ours.
const QByteArray kPortalMark = "Quorvix Chart Viewer";
} // namespace

PortalStarter::PortalStarter(const QString& portalProgram, const QString& dataFolder,
                             QObject* parent)
    : QObject(parent)
    , m_program(portalProgram)
    , m_dataFolder(dataFolder) {
    // The outcome may be handed on through queued connections.
    qRegisterMetaType<PortalStarter::Result>();
    m_deadline.setSingleShot(true);
    connect(&m_deadline, &QTimer::timeout, this, &PortalStarter::waitedTooLong);
    connect(&m_process, &QProcess::readyReadStandardOutput, this, &PortalStarter::processOutput);
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] {
        // Until it listens, its error output is kept for the message should it fail.
        if (m_forwarding)
            forward(QProcess::StandardError);
    });
    connect(&m_process, &QProcess::errorOccurred, this, &PortalStarter::processError);
    connect(&m_process, &QProcess::finished, this, &PortalStarter::processEnded);
}

PortalStarter::~PortalStarter() {
    stop();
    // A child that outlived even SIGKILL is left to QProcess, whose end must not call back here.
    m_process.disconnect(this);
}

PortalStarter::Endpoint PortalStarter::loopbackEndpoint(const QString& base) {
    const QUrl url(base);
    if (!url.isValid() || url.scheme() != QLatin1String("http") || url.host().isEmpty())
        return {};
    // QUrl has already put the host into its canonical form ("127.0.0.1", "::1").
    const QString host = url.host().toLower();
    Endpoint e;
    e.port = url.port(80);
    if (host == QLatin1String("localhost")) {
        e.host = QStringLiteral("127.0.0.1");
    } else if (host == QLatin1String("::1")) {
        e.host = QStringLiteral("[::1]");
    } else {
        const QStringList parts = host.split(QLatin1Char('.'));
        bool valid = parts.size() == 4;
        for (const QString& part : parts) {
            bool ok = false;
            const int v = part.toInt(&ok);
            valid = valid && ok && v >= 0 && v <= 255;
        }
        if (!valid || parts.first() != QLatin1String("127"))
            return {};
        e.host = host;
    }
    return e;
}

PortalStarter::Probe PortalStarter::probeKind(const FetchResult& r) {
    if (r.status == FetchResult::Status::Unreachable)
        return Probe::Nothing;
    if (r.answered() && r.body.contains(kPortalMark))
        return Probe::Portal;
    return Probe::Other;
}

void PortalStarter::probe(std::function<void(Probe)> then) {
    // Short bounds: on loopback a portal answers at once, and a silent server must not hold up
    // the start for long.
    Transfer::Options options;
    options.connectTimeoutMs = 2000;
    options.totalTimeoutMs = 4000;
    options.maxBytes = 1024 * 1024;
    m_probe = std::make_unique<MultiTransfer>(options);
    const MultiTransfer* const asked = m_probe.get();
    m_probe->fetch(QStringLiteral("http://%1/support/").arg(m_address),
                   [this, asked, then = std::move(then)](const FetchResult& r) {
                       if (m_probe.get() != asked)
                           return;
                       // One look only: no connection is kept open to whatever answered. Not
                       // deleted here, as it is the one calling; with this object at the latest.
                       MultiTransfer* const done = m_probe.release();
                       done->setParent(this);
                       done->deleteLater();
                       then(probeKind(r));
                   });
}

PortalStarter::Result PortalStarter::failed(const QString& address, const QString& reason) {
    Result r;
    r.outcome = Outcome::Failed;
    r.address = address;
    r.message = QStringLiteral("チャートサーバー（%1）のポータルを起動できませんでした。\n"
                               "理由：%2\n"
                               "ポータルなしでこのまま続けます。")
                    .arg(address, reason);
    return r;
}

void PortalStarter::start(const QString& chartBase, std::chrono::milliseconds wait) {
    if (isPending())
        stop();
    ++m_attempt;
    m_wait = wait;
    m_output.clear();

    const Endpoint endpoint = loopbackEndpoint(chartBase);
    if (!endpoint.isValid()) {
        m_address.clear();
        finish({Outcome::NotLoopback, QString(), QString()});
        return;
    }
    m_address = QStringLiteral("%1:%2").arg(endpoint.host).arg(endpoint.port);
    m_stage = Stage::Probing;
    probe([this](Probe found) { probed(found); });
}

bool PortalStarter::isPending() const {
    return m_stage != Stage::Idle;
}

void PortalStarter::probed(Probe found) {
    switch (found) {
    case Probe::Portal:
        finish({Outcome::AlreadyListening, m_address, QString()});
        return;
    case Probe::Other:
        // Whatever takes connections there (the user's own server, a tunnel to a portal
        // elsewhere, a portal that is slow to answer) is the user's choice: used, and nothing
        // said.
        finish({Outcome::AlreadyListening, m_address, QString()});
        return;
    case Probe::Nothing:
        launch();
        return;
    }
}

void PortalStarter::launch() {
    const QString name = QFileInfo(m_program).fileName();
    const QFileInfo program(m_program);
    if (!program.isFile()) {
        finish(failed(m_address, QStringLiteral("%1 がプログラムのフォルダー（%2）にありません。")
                                     .arg(name, program.absolutePath())));
        return;
    }
    if (!program.isExecutable()) {
        finish(failed(m_address, QStringLiteral("%1 を実行できません（実行の許可がありません）。")
                                     .arg(program.absoluteFilePath())));
        return;
    }

    // The portal reads the code list from its data folder. A data folder apart from the program
    // gets a link to the list that ships beside the program, so an update of the program updates
    // it too; a list the user put there is kept.
    const QString codeList = QStringLiteral("/銘柄コード一覧20060513.csv");
    const QString shipped = program.absolutePath() + codeList;
    const QString inData = m_dataFolder + codeList;
    if (QFileInfo(m_dataFolder).absoluteFilePath() != program.absolutePath() &&
        !QFileInfo(inData).isFile() && QFileInfo(shipped).isFile()) {
        QFile::remove(inData); // a dangling link left by an earlier install
        QFile::link(shipped, inData);
    }

    // One started earlier by this object, at an address where nothing listens now.
    endProcess();
    m_forwarding = false;
    m_output.clear();
    m_process.setProgram(m_program);
    m_process.setArguments(
        {QStringLiteral("--listen"), m_address, QStringLiteral("--data"), m_dataFolder});
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    // It draws charts into images only and must never open a window on the user's display.
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    m_process.setProcessEnvironment(environment);
    const pid_t viewer = ::getpid();
    m_process.setChildProcessModifier([viewer] {
        // The portal goes with the viewer however the viewer ends, SIGKILL included.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != viewer)
            ::_exit(1);
    });

    m_stage = Stage::Launching;
    m_deadline.start(m_wait);
    m_process.start();
}

void PortalStarter::processOutput() {
    if (m_forwarding) {
        forward(QProcess::StandardOutput);
        return;
    }
    m_output += m_process.readAllStandardOutput();
    // The portal's first line on standard output says that it listens.
    if (m_stage != Stage::Launching || !m_output.contains("listening on"))
        return;
    // Once it runs, whatever it says goes to the viewer's own error output, so its pipes never
    // fill up.
    m_forwarding = true;
    m_output.clear();
    forward(QProcess::StandardError);
    finish({Outcome::Started, m_address, QString()});
}

void PortalStarter::processError(QProcess::ProcessError error) {
    // A crash or a failed kill ends in processEnded(); only a program that never ran ends here.
    if (m_stage != Stage::Launching || error != QProcess::FailedToStart)
        return;
    finish(failed(m_address, QStringLiteral("%1 を実行できませんでした（%2）。")
                                 .arg(QFileInfo(m_program).fileName(), m_process.errorString())));
}

void PortalStarter::processEnded(int exitCode, QProcess::ExitStatus status) {
    if (m_stage != Stage::Launching)
        return;
    m_deadline.stop();
    const QString name = QFileInfo(m_program).fileName();
    const QString errors = QString::fromLocal8Bit(m_process.readAllStandardError()).trimmed();
    QString why = status == QProcess::CrashExit
                      ? QStringLiteral("%1 が起動してすぐに異常終了しました。").arg(name)
                      : QStringLiteral("%1 が起動してすぐに終了しました（終了コード %2）。")
                            .arg(name)
                            .arg(exitCode);
    if (!errors.isEmpty())
        why += QLatin1Char('\n') + errors.section(QLatin1Char('\n'), -1);
    // Another viewer may have started its portal there in the meantime.
    m_stage = Stage::Reprobing;
    probe([this, why](Probe found) {
        if (found != Probe::Nothing)
            finish({Outcome::AlreadyListening, m_address, QString()});
        else
            finish(failed(m_address, why));
    });
}

void PortalStarter::waitedTooLong() {
    // It may have said so just now, with the signal not yet handled.
    processOutput();
    if (m_stage != Stage::Launching)
        return;
    const Result result = failed(
        m_address, QStringLiteral("%1 が %2 秒待っても接続を受け付けませんでした。")
                       .arg(QFileInfo(m_program).fileName())
                       .arg(std::chrono::duration_cast<std::chrono::seconds>(m_wait).count()));
    // Set before the process ends, so its end does not count as a failed start.
    finish(result);
    endProcess();
}

void PortalStarter::forward(QProcess::ProcessChannel channel) {
    const QByteArray bytes = channel == QProcess::StandardOutput ? m_process.readAllStandardOutput()
                                                                 : m_process.readAllStandardError();
    if (!bytes.isEmpty()) {
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
    }
}

void PortalStarter::finish(const Result& result) {
    m_stage = Stage::Delivering;
    m_deadline.stop();
    // Always from the event loop: a receiver may start again, stop or delete this object, none
    // of which it could safely do from inside start() or a QProcess signal.
    const quint64 attempt = m_attempt;
    QTimer::singleShot(0, this, [this, attempt, result] {
        if (attempt != m_attempt || m_stage != Stage::Delivering)
            return;
        m_stage = Stage::Idle;
        Q_EMIT finished(result);
    });
}

void PortalStarter::abandon() {
    ++m_attempt;
    m_stage = Stage::Idle;
    m_deadline.stop();
    m_probe.reset();
}

void PortalStarter::stop() {
    abandon();
    endProcess();
    m_forwarding = false;
}

void PortalStarter::endProcess() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    // The portal ends at once on SIGTERM; the waits only bound a portal that hangs, so a closing
    // window is never held up for more than a few seconds.
    m_process.terminate();
    if (!m_process.waitForFinished(int(kStopWait.count()))) {
        m_process.kill();
        m_process.waitForFinished(int(kKillWait.count()));
    }
}

bool PortalStarter::running() const {
    return m_process.state() != QProcess::NotRunning;
}

qint64 PortalStarter::processId() const {
    return m_process.processId();
}

} // namespace platform
