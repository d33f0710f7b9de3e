#pragma once

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

} // namespace testing
