#include "detailpage.h"

#include <algorithm>
#include <cstring>

namespace chart {

namespace {
constexpr int kMarkerLength = sizeof(kDetailMarker) - 1;
constexpr int kAnchorLength = sizeof(kDetailAnchor) - 1;
static_assert(kMarkerLength == 24 && kAnchorLength == 27);
} // namespace

std::optional<int> findDetailMarker(const QByteArray& page) {
    // A start offset where the marker would run past the end cannot match.
    const qsizetype lastStart = std::min<qsizetype>(kDetailScanLast, page.size() - kMarkerLength);
    const char* data = page.constData();
    for (qsizetype at = 0; at <= lastStart; ++at) {
        if (data[at] == kDetailMarker[0] &&
            std::memcmp(data + at, kDetailMarker, kMarkerLength) == 0)
            return static_cast<int>(at);
    }
    return std::nullopt;
}

bool writeDetailAnchor(QByteArray& page) {
    const auto at = findDetailMarker(page);
    if (!at)
        return false;
    // The anchor reaches four bytes past the marker; near the end of the page only the bytes
    // that fall inside it are written, so the page keeps its length.
    const qsizetype from = *at + 1;
    const qsizetype count = std::min<qsizetype>(kAnchorLength, page.size() - from);
    std::memcpy(page.data() + from, kDetailAnchor, static_cast<std::size_t>(count));
    return true;
}

} // namespace chart
