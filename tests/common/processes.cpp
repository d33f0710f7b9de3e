#include "processes.h"

#include <QDir>
#include <QFile>
#include <QList>

#include <optional>

namespace testing {

namespace {

// "PID (comm) STATE PPID ..." of /proc/PID/stat.
struct ProcStat {
    QByteArray name;
    char state = 0;
    qint64 parent = 0;
};

std::optional<ProcStat> procStat(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = f.readAll();
    const int open = text.indexOf('(');
    const int close = text.lastIndexOf(')');
    if (open < 0 || close < open)
        return std::nullopt;
    const QList<QByteArray> rest = text.mid(close + 2).split(' ');
    if (rest.size() < 2 || rest[0].isEmpty())
        return std::nullopt;
    return ProcStat{text.mid(open + 1, close - open - 1), rest[0].at(0), rest[1].toLongLong()};
}

} // namespace

qint64 childProcess(qint64 parent, const QByteArray& name) {
    const QStringList entries = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString& entry : entries) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid)
            continue;
        const auto s = procStat(pid);
        if (s && s->parent == parent && s->name == name && s->state != 'Z')
            return pid;
    }
    return 0;
}

bool processGone(qint64 pid) {
    const auto s = procStat(pid);
    return !s || s->state == 'Z';
}

} // namespace testing
