#include "files.h"

#include <QFile>

#include <sys/stat.h>

namespace testing {

QByteArray fileBytes(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("(cannot open)");
    return f.readAll();
}

bool writeBytes(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

bool isSymLink(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool FreshFolder::renew() {
    m_dir = std::make_unique<QTemporaryDir>();
    return m_dir->isValid();
}

} // namespace testing
