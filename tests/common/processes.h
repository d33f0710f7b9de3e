#pragma once

#include <QByteArray>

namespace testing {

// A running (not yet reaped) child of parent with the given program name, or 0.
qint64 childProcess(qint64 parent, const QByteArray& name);
// The process has ended: gone, or only waiting to be reaped.
bool processGone(qint64 pid);

} // namespace testing
