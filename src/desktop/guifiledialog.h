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

} // namespace platform
