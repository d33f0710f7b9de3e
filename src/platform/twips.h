#pragma once

#include <QRect>

namespace platform {

// The windows' layout figures are kept in twips, as the forms were drawn; the screen has 15
// twips to the pixel.
inline QRect twips(int left, int top, int width, int height) {
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

} // namespace platform
