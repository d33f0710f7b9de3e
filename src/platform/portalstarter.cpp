#include "portalstarter.h"

#include "transfer.h"

#include <QDeadlineTimer>
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

PortalStarter::PortalStarter(const QString& portalProgram, const QString& dataFolder)
    : m_program(portalProgram)
    , m_dataFolder(dataFolder) {}

PortalStarter::~PortalStarter() {
    stop();
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

PortalStarter::Probe PortalStarter::probe(const QString& base) {
    // Short bounds: on loopback a portal answers at once, and a silent server must not hold up
    // the start for long.
    Transfer::Options options;
    options.connectTimeoutMs = 2000;
    options.totalTimeoutMs = 4000;
    options.maxBytes = 1024 * 1024;
    Transfer transfer(options);
    const FetchResult r = transfer.fetch(base + QLatin1String("/support/"));
    if (r.status == FetchResult::Status::Unreachable)
        return Probe::Nothing;
    if (r.answered() && r.body.contains(kPortalMark))
        return Probe::Portal;
    return Probe::Other;
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

PortalStarter::Result PortalStarter::start(const QString& chartBase,
                                           std::chrono::milliseconds wait) {
    const Endpoint endpoint = loopbackEndpoint(chartBase);
    if (!endpoint.isValid())
        return {Outcome::NotLoopback, QString(), QString()};
    const QString address = QStringLiteral("%1:%2").arg(endpoint.host).arg(endpoint.port);
    const QString base = QStringLiteral("http://") + address;

    switch (probe(base)) {
    case Probe::Portal:
        return {Outcome::AlreadyListening, address, QString()};
    case Probe::Other:
        return failed(address, QStringLiteral("このアドレスでは、ポータルではない別のプログラムが"
                                              "待ち受けています。"));
    case Probe::Nothing:
        break;
    }

    const QString name = QFileInfo(m_program).fileName();
    const QFileInfo program(m_program);
    if (!program.isFile())
        return failed(address, QStringLiteral("%1 がプログラムのフォルダー（%2）にありません。")
                                   .arg(name, program.absolutePath()));
    if (!program.isExecutable())
        return failed(address, QStringLiteral("%1 を実行できません（実行の許可がありません）。")
                                   .arg(program.absoluteFilePath()));

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

    stop();
    m_process.setProgram(m_program);
    m_process.setArguments(
        {QStringLiteral("--listen"), address, QStringLiteral("--data"), m_dataFolder});
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

    QDeadlineTimer deadline(wait);
    m_process.start();
    if (!m_process.waitForStarted(int(deadline.remainingTime()))) {
        const QString error = m_process.errorString();
        m_process.kill();
        m_process.waitForFinished(2000);
        return failed(address,
                      QStringLiteral("%1 を実行できませんでした（%2）。").arg(name, error));
    }

    // The portal's first line on standard output says that it listens.
    QByteArray output;
    for (;;) {
        output += m_process.readAllStandardOutput();
        if (output.contains("listening on")) {
            forwardOutput();
            return {Outcome::Started, address, QString()};
        }
        if (m_process.state() == QProcess::NotRunning || deadline.hasExpired())
            break;
        m_process.waitForReadyRead(int(deadline.remainingTime()));
    }

    if (m_process.state() != QProcess::NotRunning) {
        stop();
        return failed(address,
                      QStringLiteral("%1 が %2 秒待っても接続を受け付けませんでした。")
                          .arg(name)
                          .arg(std::chrono::duration_cast<std::chrono::seconds>(wait).count()));
    }
    const QString errors = QString::fromLocal8Bit(m_process.readAllStandardError()).trimmed();
    const QString why = m_process.exitStatus() == QProcess::CrashExit
                            ? QStringLiteral("%1 が起動してすぐに異常終了しました。").arg(name)
                            : QStringLiteral("%1 が起動してすぐに終了しました（終了コード %2）。")
                                  .arg(name)
                                  .arg(m_process.exitCode());
    // Another viewer may have started its portal there in the meantime.
    if (probe(base) == Probe::Portal)
        return {Outcome::AlreadyListening, address, QString()};
    return failed(address, errors.isEmpty()
                               ? why
                               : why + QLatin1Char('\n') + errors.section(QLatin1Char('\n'), -1));
}

void PortalStarter::forwardOutput() {
    // Once it runs, whatever it says goes to the viewer's own error output, so its pipes never
    // fill up.
    auto forward = [this](QProcess::ProcessChannel channel) {
        m_process.setReadChannel(channel);
        const QByteArray bytes = m_process.readAll();
        if (!bytes.isEmpty()) {
            std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
            std::fflush(stderr);
        }
    };
    QObject::connect(&m_process, &QProcess::readyReadStandardOutput, &m_process,
                     [forward] { forward(QProcess::StandardOutput); });
    QObject::connect(&m_process, &QProcess::readyReadStandardError, &m_process,
                     [forward] { forward(QProcess::StandardError); });
    forward(QProcess::StandardError);
}

void PortalStarter::stop() {
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(5000);
    }
}

bool PortalStarter::running() const {
    return m_process.state() != QProcess::NotRunning;
}

qint64 PortalStarter::processId() const {
    return m_process.processId();
}

} // namespace platform
