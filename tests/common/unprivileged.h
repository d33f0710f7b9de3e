#pragma once

#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace testing {

// Permissions only stop an ordinary user: root writes into read-only folders. A test that needs
// a folder where no new file can be created runs the step in a child process of its own program,
// as the unprivileged user "nobody" when the test runs as root.

// Gives a file or folder to the user the child runs as (nothing to do when not root).
bool handToChild(const QString& path);

// Runs this test program again with the environment added, as that user; returns its exit code,
// or -1 when it could not be run.
int runChild(const QProcessEnvironment& extra, QString* output = nullptr);

} // namespace testing
