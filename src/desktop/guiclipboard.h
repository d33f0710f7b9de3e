#pragma once

#include <QImage>
#include <QString>

#include <optional>

namespace platform {

// The clipboard's plain text, or nullopt when it holds none (a picture, nothing, no clipboard).
std::optional<QString> clipboardText();
// Clears the clipboard and puts text on it; a clipboard that cannot be set changes nothing.
void setClipboardText(const QString& text);
// Puts an image on the clipboard, in place of what it held.
void setClipboardImage(const QImage& image);

} // namespace platform
