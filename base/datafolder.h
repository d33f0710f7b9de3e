#pragma once

#include <QString>

namespace base {

// The folder for the user's own files: the mark file, the temporary chart and page files, the
// portal's price data. A program folder the user can write to (a portable folder such as
// build/bin) keeps them beside the program; an installed one, which the user cannot write to,
// sends them to $XDG_DATA_HOME/quorvix (by default ~/.local/share/quorvix), created here when it
// is missing. This is the one place that decides it.
QString userDataFolder(const QString& programFolder);

// $XDG_DATA_HOME/quorvix, or ~/.local/share/quorvix; not created.
QString xdgDataFolder();

} // namespace base
