#pragma once

#include <QByteArray>

#include <optional>

namespace chart {

// "<!-- AD END Location: CT", looked for as raw bytes at start offsets 0 to 15000 inclusive.
inline constexpr char kDetailMarker[] = "<!-- AD END Location: CT";
inline constexpr int kDetailScanLast = 15000;
// What is written over the 27 bytes after the marker's "<": h3 id="ZELK"></h3> and nine blanks.
inline constexpr char kDetailAnchor[] = "h3 id=\"ZELK\"></h3>         ";
inline constexpr char kDetailFragment[] = "#ZELK";

// The first start offset of the marker within the scan window, or nullopt.
std::optional<int> findDetailMarker(const QByteArray& page);
// Writes the anchor over the first marker in place (only the bytes inside the page; the length
// never changes). Returns whether a marker was found.
bool writeDetailAnchor(QByteArray& page);

} // namespace chart
