// The detail-page marker scan and the anchor written over it, on any page bytes.
#include "chart/detailpage.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace chart;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray original(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto found = findDetailMarker(original);
    if (found) {
        const qsizetype markerLength = static_cast<qsizetype>(std::strlen(kDetailMarker));
        if (*found < 0 || *found > kDetailScanLast ||
            original.mid(*found, markerLength) != QByteArray(kDetailMarker))
            std::abort();
    }
    QByteArray page = original;
    const bool written = writeDetailAnchor(page);
    // The page keeps its length; only the bytes after the marker's "<" change.
    if (written != found.has_value() || page.size() != original.size())
        std::abort();
    if (!written && page != original)
        std::abort();
    if (written) {
        const qsizetype anchorEnd =
            std::min<qsizetype>(page.size(), *found + 1 + std::strlen(kDetailAnchor));
        if (page.left(*found + 1) != original.left(*found + 1) ||
            page.mid(anchorEnd) != original.mid(anchorEnd))
            std::abort();
    }
    return 0;
}
