#include "recorder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace testing {

const char* const kRecorder = "#!/bin/sh\n"
                              "{\n"
                              "  printf 'program=%s\\n' \"${0##*/}\"\n"
                              "  printf 'cwd=%s\\n' \"$(pwd -P)\"\n"
                              "  for a in \"$@\"; do printf 'arg=%s\\n' \"$a\"; done\n"
                              "  printf 'end\\n'\n"
                              "} >> \"$LAUNCH_RECORD\"\n";

Record readRecord(const QString& path) {
    Record r;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return r;
    for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        if (line.startsWith(QLatin1String("program=")))
            r.program = line.mid(8);
        else if (line.startsWith(QLatin1String("cwd=")))
            r.cwd = line.mid(4);
        else if (line.startsWith(QLatin1String("arg=")))
            r.arguments << line.mid(4);
        else if (line == QLatin1String("end"))
            ++r.launches;
    }
    return r;
}

bool writeProgram(const QString& path, const QByteArray& text, bool executable) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(text) != text.size())
        return false;
    f.close();
    QFile::Permissions p = QFile::ReadOwner | QFile::WriteOwner;
    if (executable)
        p |= QFile::ExeOwner;
    return f.setPermissions(p);
}

bool writeRecorder(const QString& folder, const QString& name) {
    return writeProgram(folder + QLatin1Char('/') + name, kRecorder);
}

LaunchEnvironment::LaunchEnvironment()
    : m_path(qgetenv("PATH"))
    , m_browser(qgetenv("BROWSER"))
    , m_hadBrowser(qEnvironmentVariableIsSet("BROWSER")) {}

bool LaunchEnvironment::setUp() {
    return m_work.isValid() && m_bin.isValid() && QDir::setCurrent(m_work.path());
}

QString LaunchEnvironment::nextRecord() {
    const QString record = m_bin.filePath(QStringLiteral("record-%1.txt").arg(++m_run));
    qputenv("LAUNCH_RECORD", record.toLocal8Bit());
    return record;
}

bool LaunchEnvironment::noFile(const QString& name) const {
    return !QFileInfo::exists(m_work.filePath(name)) && !QFileInfo::exists(m_bin.filePath(name)) &&
           !QFileInfo::exists(QDir::current().filePath(name));
}

void LaunchEnvironment::restore() const {
    qputenv("PATH", m_path);
    if (m_hadBrowser)
        qputenv("BROWSER", m_browser);
    else
        qunsetenv("BROWSER");
}

} // namespace testing
