#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace platform {

// A modal open-file dialog with the title, a filter in Qt's form ("description(*.ext)") and the
// file name preselected. The chosen file need not exist; the caller decides what a missing file
// means. Returns the chosen full path, or nullopt when the user cancels.
std::optional<QString> chooseOpenFile(QWidget* parent, const QString& title, const QString& filter,
                                      const QString& fileName);

// A modal save-file dialog with the title, a filter and the file name preselected (a full path:
// its folder is opened); a name typed without a suffix gets defaultSuffix. Asks before a file is
// replaced. Qt's own dialog where the platform has none of its own to show (offscreen, as under
// tests), so that it can be driven. Returns the chosen full path, or nullopt on Cancel.
std::optional<QString> chooseSaveFile(QWidget* parent, const QString& title, const QString& filter,
                                      const QString& fileName, const QString& defaultSuffix);

} // namespace platform
