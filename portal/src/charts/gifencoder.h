#pragma once

#include <QByteArray>
#include <QColor>
#include <QImage>
#include <QVector>

namespace portal {

// The colours charts are drawn in. Lines and fills are drawn without smoothing, so they keep these
// exact colours; only the smoothed edges of text bring other colours, and those are mapped to the
// nearest grey or title-blue blend. The palette is fixed, so no per-image colour analysis is
// needed, and a line colour never turns up where its line is not drawn.
namespace colors {
inline const QColor background{255, 255, 255};
inline const QColor text{20, 20, 20};
inline const QColor axis{90, 90, 90};
inline const QColor grid{222, 222, 222};
// Candles in the domestic colours (the default) and in the western ones.
inline const QColor domesticRising{220, 20, 40};
inline const QColor domesticFalling{20, 80, 220};
inline const QColor westernRising{16, 150, 72};
inline const QColor westernFalling{214, 39, 40};
inline const QColor volume{110, 140, 190};
inline const QColor band{120, 120, 200};
inline const QColor sar{30, 30, 160};
inline const QColor previousClose{150, 150, 150};
inline const QColor intraday{20, 60, 170};
inline const QColor title{0, 40, 110};
// "サンプルデータ" behind charts drawn from invented prices: pale enough to sit under the lines,
// dark enough to read at pane size.
inline const QColor sample{244, 170, 120};
// One colour per moving-average token, in token order m25 m75 m65 m130 m260 e25 e75 e65 e130 e260.
inline const QColor averages[10] = {
    {240, 130, 0},  {170, 40, 210}, {150, 60, 190}, {140, 90, 40},   {0, 150, 150},
    {230, 40, 170}, {90, 60, 255},  {120, 140, 0},  {250, 110, 140}, {0, 100, 90},
};
} // namespace colors

// The 256-entry palette the encoder writes.
const QVector<QRgb>& chartPalette();

// GIF89a bytes of an image, each pixel mapped to the nearest palette colour. Empty on failure.
QByteArray encodeGif(const QImage& image);

} // namespace portal
