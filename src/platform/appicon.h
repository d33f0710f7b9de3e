#pragma once

#include <QByteArray>
#include <QImage>

namespace platform {

// The program's icon: three candles and a rising average line on a dark square. Drawn from one
// description, so that the window, the menu entry and the package show the same picture.
QImage iconImage(int size);
// The same picture as an SVG document.
QByteArray iconSvg();

} // namespace platform
