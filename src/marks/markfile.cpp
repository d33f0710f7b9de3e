#include "markfile.h"

#include <QFile>
#include <QSaveFile>

namespace marks {

std::optional<QString> readMarkLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Only the first line counts, however long the rest of the file is.
    const QByteArray line = file.readLine();
    if (line.isEmpty())
        return std::nullopt; // zero bytes: no line at all
    QByteArrayView bytes(line);
    if (bytes.endsWith('\n'))
        bytes.chop(1);
    if (bytes.endsWith('\r'))
        bytes.chop(1);
    // A well-formed mark string is ASCII; anything else is taken as UTF-8, the desktop's encoding.
    return QString::fromUtf8(bytes);
}

bool writeMarkLine(const QString& path, const QString& text) {
    // Written beside the old file and renamed over it only when complete, so a crash, a full disk
    // or a kill during the save leaves the old file whole.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray bytes = text.toUtf8();
    bytes += "\r\n";
    if (file.write(bytes) != bytes.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

} // namespace marks
