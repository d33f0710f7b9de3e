#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace base {

// The first line of a mark file without its line end, decoded from code page 932 (the code
// list's code page, and that of mark files made on other systems). A line ends at CR LF, at a
// lone CR or at LF. nullopt when the file cannot be opened or holds no byte at all; "" when the
// first line is empty. Read as UTF-8 where the converter set has no code page 932, as
// encodeMarkLine writes it there.
std::optional<QString> readMarkLine(const QString& path);

// What reading a mark file's first line found.
enum class MarkLineStatus {
    Read,       // line holds the first line
    NoLine,     // the file holds no byte at all
    Missing,    // nothing stands at the name
    NotAFile,   // a folder stands at the name
    Unreadable, // the file may not be opened or read
    TooLong,    // the first line is longer than the limit; line stays empty
};

struct MarkLineRead {
    MarkLineStatus status = MarkLineStatus::Missing;
    QString line;
    qint64 bytesRead = 0; // what was taken from the file: the work done, whatever its size
};

// readMarkLine with the reason when there is no line, reading no more than maxLineBytes of the
// first line (and one chunk past it): a first line beyond it is refused without being held.
MarkLineRead readMarkLineChecked(const QString& path, qint64 maxLineBytes);

// A mark line as it is written, without its line end: in code page 932, or UTF-8 where the
// converter set has none, so that what is saved there reads back as it was.
QByteArray encodeMarkLine(const QString& text);

} // namespace base
