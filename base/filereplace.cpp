#include "base/filereplace.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace base {

namespace {

bool writeAll(int fd, const QByteArray& bytes) {
    const char* p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

// The folder allows no new file: overwrite the plain file that is there. O_NOFOLLOW refuses a
// symbolic link at the name, so a link never carries the write elsewhere.
bool overwriteInPlace(const QByteArray& target, const QByteArray& bytes) {
    const int fd = ::open(target.constData(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    const bool plain = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    const bool ok = plain && writeAll(fd, bytes);
    return ::close(fd) == 0 && ok;
}

// A temporary name's random part: six of [A-Za-z0-9], drawn at random, so it almost always mixes
// two kinds of them. A name a person gives ("MARK.csv.backup", "MARK.csv.202601") rarely does.
bool isLeftoverSuffix(QStringView suffix) {
    if (suffix.size() != 6)
        return false;
    bool lower = false;
    bool upper = false;
    bool digit = false;
    for (const QChar c : suffix) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z'))
            lower = true;
        else if (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
            upper = true;
        else if (c >= QLatin1Char('0') && c <= QLatin1Char('9'))
            digit = true;
        else
            return false;
    }
    return int(lower) + int(upper) + int(digit) >= 2;
}

} // namespace

bool replaceFile(const QString& path, const QByteArray& bytes, bool durable) {
    const QByteArray target = QFile::encodeName(path);
    QByteArray temporary = target + ".XXXXXX";
    // mkostemp creates the name exclusively: nothing planted there can be opened instead.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        return errno == EACCES && overwriteInPlace(target, bytes);
    // The file stays readable by the owner alone (mkostemp's mode): only this program reads it.
    bool ok = writeAll(fd, bytes) && (!durable || ::fsync(fd) == 0);
    ok = ::close(fd) == 0 && ok;
    // rename() replaces the name itself: a link there is dropped, its target stays untouched.
    if (ok && ::rename(temporary.constData(), target.constData()) == 0)
        return true;
    ::unlink(temporary.constData());
    return false;
}

int removeSaveLeftovers(const QString& path, int minimumAgeSeconds) {
    const QFileInfo info(path);
    const QString prefix = info.fileName() + QLatin1Char('.');
    const QDir folder = info.dir();
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-minimumAgeSeconds);
    int removed = 0;
    const QFileInfoList entries =
        folder.entryInfoList({prefix + QStringLiteral("??????")}, QDir::Files | QDir::Hidden);
    for (const QFileInfo& entry : entries) {
        if (entry.isSymLink() ||
            !isLeftoverSuffix(QStringView(entry.fileName()).mid(prefix.size())))
            continue;
        if (entry.lastModified().toUTC() > before)
            continue;
        if (QFile::remove(entry.filePath()))
            ++removed;
    }
    return removed;
}

} // namespace base
