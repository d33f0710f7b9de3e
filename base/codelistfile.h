#pragma once

#include <QStringList>

namespace base {

// The code list's file name (UTF-8): beside the programs, and in the portal's data folder.
inline constexpr char kCodeListFileName[] = "銘柄コード一覧20060513.csv";

// The lines of a code list file, "code,name,market" each, without their line ends: code page 932,
// lines ending in CR LF, a bare LF taken as a line end too; what follows the last line end is a
// line when it is not empty. Empty when the file is missing or cannot be read whole, or when the
// converter set has no code page 932.
QStringList readCodeListLines(const QString& path);

} // namespace base
