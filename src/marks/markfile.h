#pragma once

#include <QString>

#include <optional>

namespace marks {

// The first line of a mark file without its line end (CR LF, LF or none). nullopt when the file
// cannot be opened or holds no byte at all; "" when the first line is empty.
std::optional<QString> readMarkLine(const QString& path);

// Writes text + CR LF so that the old file stays whole until the new one is complete (written
// beside it and renamed into place). Returns false when nothing was replaced; the old file is
// then untouched.
bool writeMarkLine(const QString& path, const QString& text);

} // namespace marks
