#include "unprivileged.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>

#include <grp.h>
#include <sys/types.h>
#include <unistd.h>

namespace testing {

namespace {
constexpr uid_t kNobody = 65534;
}

bool handToChild(const QString& path) {
    if (::geteuid() != 0)
        return true;
    return ::chown(QFile::encodeName(path).constData(), kNobody, kNobody) == 0;
}

int runChild(const QProcessEnvironment& extra, QString* output) {
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(extra);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::MergedChannels);
    if (::geteuid() == 0) {
        child.setChildProcessModifier([] {
            // Between fork and exec: plain system calls only. A child that cannot give up root
            // must not go on as root, or the test would prove nothing.
            if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0)
                ::_exit(97);
        });
    }
    child.start(QCoreApplication::applicationFilePath(), {});
    if (!child.waitForFinished(60000) || child.exitStatus() != QProcess::NormalExit)
        return -1;
    if (output)
        *output = QString::fromLocal8Bit(child.readAll());
    return child.exitCode();
}

} // namespace testing
