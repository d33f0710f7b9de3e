#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

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

// Where the launch tests run: a working folder every launch inherits, a folder for the stand-in
// programs and their records, and the environment they change (PATH and BROWSER) as it was when
// this was made.
class LaunchEnvironment {
public:
    LaunchEnvironment();
    // Makes the working folder the current one; false when a folder could not be made.
    bool setUp();
    const QTemporaryDir& work() const { return m_work; }
    const QTemporaryDir& bin() const { return m_bin; }
    // Names a new record file in the program folder as $LAUNCH_RECORD, one for every test row;
    // returns it.
    QString nextRecord();
    // No file of this name turned up in the working, program or current folder: no text handed
    // to a program ran as a shell command.
    bool noFile(const QString& name) const;
    // Puts PATH and BROWSER back as they were.
    void restore() const;

private:
    QTemporaryDir m_work;
    QTemporaryDir m_bin;
    QByteArray m_path;
    QByteArray m_browser;
    bool m_hadBrowser = false;
    int m_run = 0;
};

} // namespace testing
