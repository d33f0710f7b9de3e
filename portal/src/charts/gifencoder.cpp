#include "charts/gifencoder.h"

#include <QHash>

#include <gif_lib.h>

#include <array>
#include <cstring>
#include <vector>

namespace portal {

namespace {

int kTextEdgeFirst = 0; // palette range that smoothed text edges map to
int kTextEdgeEnd = 0;

QVector<QRgb> buildPalette() {
    QVector<QColor> base = {colors::background, colors::text, colors::axis, colors::grid};
    base += QVector<QColor>{colors::domesticRising, colors::domesticFalling, colors::westernRising,
                            colors::westernFalling};
    base += QVector<QColor>{colors::volume,   colors::band,  colors::sar,   colors::previousClose,
                            colors::intraday, colors::title, colors::sample};
    for (const QColor& c : colors::averages)
        base.append(c);
    QVector<QRgb> pal;
    for (const QColor& c : base)
        pal.append(c.rgb());
    // Text edges: a grey ramp, and the title colour blended with the background.
    for (int g = 0; g < 16; ++g)
        pal.append(qRgb(g * 17, g * 17, g * 17));
    const QColor t = colors::title;
    for (int k = 1; k <= 3; ++k)
        pal.append(qRgb((t.red() * (4 - k) + 255 * k) / 4, (t.green() * (4 - k) + 255 * k) / 4,
                        (t.blue() * (4 - k) + 255 * k) / 4));
    kTextEdgeFirst = int(base.size());
    kTextEdgeEnd = int(pal.size());
    while (pal.size() < 256)
        pal.append(qRgb(255, 255, 255));
    pal.resize(256);
    return pal;
}

// For colours that are no palette entry: the nearest text-edge entry, at 5 bits per channel.
struct Lookup {
    std::array<quint8, 32 * 32 * 32> index{};
    QHash<QRgb, quint8> exact;
    Lookup() {
        const QVector<QRgb>& pal = chartPalette();
        for (int i = pal.size() - 1; i >= 0; --i)
            exact.insert(pal[i] | 0xFF000000, quint8(i));
        for (int r = 0; r < 32; ++r) {
            for (int g = 0; g < 32; ++g) {
                for (int b = 0; b < 32; ++b) {
                    const int rr = r * 8 + 4, gg = g * 8 + 4, bb = b * 8 + 4;
                    int best = 0;
                    long bestDist = 1L << 40;
                    for (int i = kTextEdgeFirst; i < kTextEdgeEnd; ++i) {
                        const long dr = qRed(pal[i]) - rr, dg = qGreen(pal[i]) - gg,
                                   db = qBlue(pal[i]) - bb;
                        const long dist = 3 * dr * dr + 4 * dg * dg + 2 * db * db;
                        if (dist < bestDist) {
                            bestDist = dist;
                            best = i;
                        }
                    }
                    index[(r << 10) | (g << 5) | b] = quint8(best);
                }
            }
        }
    }
};

int writeToArray(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<QByteArray*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}

} // namespace

const QVector<QRgb>& chartPalette() {
    static const QVector<QRgb> palette = buildPalette();
    return palette;
}

QByteArray encodeGif(const QImage& source) {
    if (source.isNull())
        return {};
    static const Lookup lookup;
    const QImage image =
        source.format() == QImage::Format_RGB32 || source.format() == QImage::Format_ARGB32
            ? source
            : source.convertToFormat(QImage::Format_RGB32);
    const int w = image.width(), h = image.height();
    const QVector<QRgb>& pal = chartPalette();

    // Colours that are palette entries (all lines and fills) map exactly; only smoothed text
    // edges go through the coarse lookup.
    std::vector<GifPixelType> pixels(size_t(w) * h);
    // A small direct-mapped cache in front of the lookups: a chart has few distinct colours.
    struct Slot {
        QRgb rgb = 0;
        quint8 index = 0;
    };
    std::array<Slot, 512> cache{}; // rgb 0 (fully transparent black) never occurs in a key
    auto indexOf = [&](QRgb c) {
        Slot& slot = cache[((c * 2654435761u) >> 23) & 511];
        if (slot.rgb == c)
            return slot.index;
        quint8 i = lookup.index[((qRed(c) >> 3) << 10) | ((qGreen(c) >> 3) << 5) | (qBlue(c) >> 3)];
        if ((pal[i] | 0xFF000000) != c) {
            const auto exact = lookup.exact.constFind(c);
            if (exact != lookup.exact.constEnd())
                i = *exact;
        }
        slot = {c, i};
        return i;
    };
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        GifPixelType* out = pixels.data() + size_t(y) * w;
        QRgb lastRgb = row[0] | 0xFF000000;
        quint8 lastIndex = indexOf(lastRgb);
        for (int x = 0; x < w; ++x) {
            const QRgb c = row[x] | 0xFF000000;
            if (c != lastRgb) {
                lastRgb = c;
                lastIndex = indexOf(c);
            }
            out[x] = lastIndex;
        }
    }

    QByteArray bytes;
    bytes.reserve(w * h / 4);
    int error = 0;
    GifFileType* gif = EGifOpen(&bytes, writeToArray, &error);
    if (!gif)
        return {};
    std::array<GifColorType, 256> colours{};
    for (int i = 0; i < 256; ++i)
        colours[i] = {GifByteType(qRed(pal[i])), GifByteType(qGreen(pal[i])),
                      GifByteType(qBlue(pal[i]))};
    ColorMapObject* map = GifMakeMapObject(256, colours.data());
    EGifSetGifVersion(gif, true);
    bool ok = map && EGifPutScreenDesc(gif, w, h, 8, 0, map) == GIF_OK &&
              EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < h; ++y)
        ok = EGifPutLine(gif, pixels.data() + size_t(y) * w, w) == GIF_OK;
    if (map)
        GifFreeMapObject(map);
    if (EGifCloseFile(gif, &error) != GIF_OK)
        ok = false;
    return ok ? bytes : QByteArray();
}

} // namespace portal
