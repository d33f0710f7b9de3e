#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace testing {

// A shell script that stands in for a browser, calculator or spreadsheet program: it appends
// its name, its working folder and each argument on a line of its own to $LAUNCH_RECORD, then
// an end line.
extern const char* const kRecorder;

// What the recorder wrote: the last launch's program, folder and arguments, and how many
// launches ended.
struct Record {
    QString program;
    QString cwd;
    QStringList arguments;
    int launches = 0;
};
Record readRecord(const QString& path);

// Writes a program file with the given text; without the executable bit when asked.
bool writeProgram(const QString& path, const QByteArray& text, bool executable = true);
// The recorder under a name in a folder.
bool writeRecorder(const QString& folder, const QString& name);

// The environment the launch tests change, as it was when this was made: PATH and BROWSER.
class LaunchEnvironment {
public:
    LaunchEnvironment();
    // Names a new record file in folder as $LAUNCH_RECORD, one for every test row; returns it.
    QString nextRecord(const QString& folder);
    // Puts PATH and BROWSER back as they were.
    void restore() const;

private:
    QByteArray m_path;
    QByteArray m_browser;
    bool m_hadBrowser = false;
    int m_run = 0;
};

} // namespace testing
