#include "sync/apikey.h"

#include "base/filereplace.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace portal::sync {

namespace {

constexpr qsizetype kMaxKeyBytes = 4096;

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

} // namespace

QString keyFilePath() {
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || !QDir::isAbsolutePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/quorvix/jquants.key");
}

QByteArray cleanKey(const QByteArray& text) {
    const QByteArray key = text.trimmed();
    if (key.size() > kMaxKeyBytes)
        return {};
    for (const char c : key) {
        if (uchar(c) <= 0x20 || uchar(c) == 0x7f)
            return {};
    }
    return key;
}

KeyLookup findKey() {
    KeyLookup found;
    if (const QByteArray env = cleanKey(qgetenv("JQUANTS_API_KEY")); !env.isEmpty()) {
        found.key = env;
        return found;
    }
    const QString path = keyFilePath();
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) {
        if (errno != ENOENT)
            found.error =
                QStringLiteral("API キーのファイル %1 を読めません（%2）").arg(path, systemError());
        return found;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        found.error =
            QStringLiteral("API キーのファイル %1 は普通のファイルではありません").arg(path);
        return found;
    }
    // A key others can read is a key others can use.
    if ((st.st_mode & (S_IRWXG | S_IRWXO)) != 0 || st.st_uid != ::getuid()) {
        ::close(fd);
        found.error = QStringLiteral("API キーのファイル %1 は他のユーザーも読めるため使いません。"
                                     "chmod 600 %1 で持ち主だけが読めるようにしてください")
                          .arg(path);
        return found;
    }
    QFile file;
    QByteArray text;
    if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        text = file.read(kMaxKeyBytes + 1);
    else
        ::close(fd);
    found.key = cleanKey(text);
    found.fromFile = path;
    if (found.key.isEmpty())
        found.error = QStringLiteral("API キーのファイル %1 に使えるキーがありません").arg(path);
    return found;
}

QString writeKeyFile(const QByteArray& key, const QString& path) {
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return QStringLiteral("フォルダ %1 を作れません").arg(folder);
    ::chmod(QFile::encodeName(folder).constData(), 0700);
    // A new file, readable by its owner only from the start, renamed over the name: no moment in
    // which others could read the key, and a link at the path is replaced, never written through.
    if (!base::replaceFile(path, key + '\n', true))
        return QStringLiteral("%1 に書けません（%2）").arg(path, systemError());
    // A folder that takes no new file has the old file overwritten in place: it is made the
    // owner's alone all the same.
    if (::chmod(QFile::encodeName(path).constData(), 0600) != 0)
        return QStringLiteral("%1 を持ち主だけが読めるようにできません（%2）")
            .arg(path, systemError());
    return {};
}

} // namespace portal::sync
