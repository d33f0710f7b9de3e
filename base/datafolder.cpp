#include "datafolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#include <unistd.h>

namespace base {

namespace {
bool writableFolder(const QString& folder) {
    // access() also answers "no" on a read-only mount, where the permission bits still say yes.
    const QByteArray path = QFile::encodeName(folder);
    return QFileInfo(folder).isDir() && ::access(path.constData(), W_OK | X_OK) == 0;
}
} // namespace

QString xdgDataFolder() {
    // Qt reads $XDG_DATA_HOME and falls back to ~/.local/share, as the XDG rules say.
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QLatin1String("/quorvix");
}

QString userDataFolder(const QString& programFolder) {
    if (writableFolder(programFolder))
        return programFolder;
    const QString folder = xdgDataFolder();
    // Where even the user's own data folder cannot be made, the program folder is all there is;
    // saving the marks then fails where it is reported.
    if (!QDir().mkpath(folder) || !writableFolder(folder))
        return programFolder;
    return folder;
}

} // namespace base
