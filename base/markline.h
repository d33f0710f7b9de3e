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

// A mark line as it is written, without its line end: in code page 932, or UTF-8 where the
// converter set has none, so that what is saved there reads back as it was.
QByteArray encodeMarkLine(const QString& text);

} // namespace base
