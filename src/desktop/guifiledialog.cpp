#include "guifiledialog.h"

#include <QFileDialog>
#include <QFileInfo>

namespace platform {

std::optional<QString> chooseOpenFile(QWidget* parent, const QString& title, const QString& filter,
                                      const QString& fileName) {
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // A typed name of a file that does not exist is handed back as it is.
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    const QFileInfo preset(fileName);
    if (!fileName.isEmpty()) {
        dialog.setDirectory(preset.absolutePath());
        dialog.selectFile(preset.fileName());
    }
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.first();
}

} // namespace platform
