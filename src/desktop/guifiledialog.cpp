#include "guifiledialog.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QGuiApplication>

namespace platform {

namespace {

// The file the user chose in the dialog; nullopt when it was cancelled.
std::optional<QString> chosenFile(QFileDialog& dialog) {
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return std::nullopt;
    return chosen.first();
}

} // namespace

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
    return chosenFile(dialog);
}

std::optional<QString> chooseSaveFile(QWidget* parent, const QString& title, const QString& filter,
                                      const QString& fileName, const QString& defaultSuffix) {
    QFileDialog dialog(parent, title);
    dialog.setObjectName(QStringLiteral("SaveFileDialog"));
    if (QGuiApplication::platformName() == QLatin1String("offscreen") ||
        QGuiApplication::platformName() == QLatin1String("minimal"))
        dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(filter);
    dialog.setDefaultSuffix(defaultSuffix);
    const QFileInfo preset(fileName);
    dialog.setDirectory(preset.absolutePath());
    dialog.selectFile(preset.fileName());
    return chosenFile(dialog);
}

} // namespace platform
