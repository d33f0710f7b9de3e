#include "appicon.h"

#include <QColor>
#include <QPainter>

namespace platform {

namespace {

// Everything in units of a 16-unit square.
const QColor kBackground(16, 32, 64);
const QColor kAverage(250, 210, 80);
constexpr qreal kWick = 1.5; // how far a wick reaches past its body

struct Candle {
    qreal x, top, bottom;
    QColor colour;
};
const Candle kCandles[] = {{3, 7, 12, QColor(220, 60, 60)},
                           {7.5, 5, 10, QColor(60, 200, 90)},
                           {12, 2, 8, QColor(60, 200, 90)}};
constexpr qreal kBodyWidth = 2.4;
const QPointF kAverageFrom(1, 13);
const QPointF kAverageTo(15, 4);

QByteArray number(qreal v) {
    return QByteArray::number(v, 'g', 4);
}

} // namespace

QImage iconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(kBackground);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal u = size / 16.0;
    for (const Candle& c : kCandles) {
        p.setPen(QPen(c.colour, u));
        p.drawLine(QPointF(c.x * u, (c.top - kWick) * u), QPointF(c.x * u, (c.bottom + kWick) * u));
        p.fillRect(
            QRectF((c.x - kBodyWidth / 2) * u, c.top * u, kBodyWidth * u, (c.bottom - c.top) * u),
            c.colour);
    }
    p.setPen(QPen(kAverage, u));
    p.drawLine(kAverageFrom * u, kAverageTo * u);
    p.end();
    return image;
}

QByteArray iconSvg() {
    auto colour = [](const QColor& c) {
        return c.name().toLatin1();
    };
    QByteArray svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                     "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" "
                     "viewBox=\"0 0 16 16\">\n";
    svg += "  <rect width=\"16\" height=\"16\" fill=\"" + colour(kBackground) + "\"/>\n";
    for (const Candle& c : kCandles) {
        svg += "  <line x1=\"" + number(c.x) + "\" y1=\"" + number(c.top - kWick) + "\" x2=\"" +
               number(c.x) + "\" y2=\"" + number(c.bottom + kWick) + "\" stroke=\"" +
               colour(c.colour) + "\" stroke-width=\"1\"/>\n";
        svg += "  <rect x=\"" + number(c.x - kBodyWidth / 2) + "\" y=\"" + number(c.top) +
               "\" width=\"" + number(kBodyWidth) + "\" height=\"" + number(c.bottom - c.top) +
               "\" fill=\"" + colour(c.colour) + "\"/>\n";
    }
    svg += "  <line x1=\"" + number(kAverageFrom.x()) + "\" y1=\"" + number(kAverageFrom.y()) +
           "\" x2=\"" + number(kAverageTo.x()) + "\" y2=\"" + number(kAverageTo.y()) +
           "\" stroke=\"" + colour(kAverage) + "\" stroke-width=\"1\"/>\n";
    svg += "</svg>\n";
    return svg;
}

} // namespace platform
