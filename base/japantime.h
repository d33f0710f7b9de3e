#pragma once

#include <QDateTime>

namespace base {

// Japan's wall-clock time of a moment, whatever the machine's time zone: its date() and time() are
// what a clock in Japan shows (UTC+9; Japan keeps no summer time, so a fixed offset is the whole
// rule). The result is a UTC time shifted by nine hours, for reading and comparing only.
QDateTime inJapan(const QDateTime& moment);

} // namespace base
