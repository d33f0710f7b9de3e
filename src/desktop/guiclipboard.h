#pragma once

#include <QString>

#include <optional>

namespace platform {

// The clipboard's plain text, or nullopt when it holds none (a picture, nothing, no clipboard).
std::optional<QString> clipboardText();
// Clears the clipboard and puts text on it; a clipboard that cannot be set changes nothing.
void setClipboardText(const QString& text);

} // namespace platform
