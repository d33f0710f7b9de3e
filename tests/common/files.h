#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace testing {

// The whole content of a file. A file that cannot be read gives "(cannot open)", a text no test
// writes, so that a missing file never compares equal to an empty one.
QByteArray fileBytes(const QString& path);

// Writes the bytes as the file's whole content; false when not all of them could be written.
bool writeBytes(const QString& path, const QByteArray& bytes);

// The path names a symbolic link (not what it points to).
bool isSymLink(const QString& path);

// A temporary folder a test class makes anew before every test (in init()), so that every test
// and every row of its data starts in an empty folder.
class FreshFolder {
public:
    // Replaces the folder and all in it with a new, empty one; false when none could be made.
    bool renew();
    QString path() const { return m_dir->path(); }
    QString filePath(const QString& name) const { return m_dir->filePath(name); }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
};

} // namespace testing
