// The mark file's line and the mark string built from it: any file content is read, listed,
// searched, set and cleared. (Saving is left out: each save waits for the disk, which would
// leave a few hundred runs in a fuzz run's time.)
#include "base/markline.h"
#include "marks/markstring.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

using namespace marks;

namespace {

QString markFilePath() {
    static QTemporaryDir dir;
    static const QString path = dir.filePath(QStringLiteral("MARK.csv"));
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString path = markFilePath();
    {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        file.write(bytes);
    }
    const auto line = base::readMarkLine(path);
    if (!line)
        return 0;
    MarkString marks(*line);
    const int rows = marks.rowCount();
    for (int k = 0; k <= rows + 1; ++k) {
        const QString code = marks.mark(k);
        if (code.size() == 4) {
            const int at = marks.find(code);
            if (at < 1 || at > k)
                std::abort();
        }
    }
    marks.mark(rows * 2 + 1000000);

    // A code from the first bytes of the input: set, found, cleared (on whole marks; a damaged
    // last mark shifts what is appended after it, as it always has).
    const QString code = QString::fromLatin1(bytes.left(4));
    const int before = static_cast<int>(marks.text().size());
    if (marks.append(code) && before % 5 == 0) {
        if (!marks.contains(code) || marks.text().size() != before + 5)
            std::abort();
        if (!marks.remove(code) || marks.text().size() != before)
            std::abort();
    }
    marks.remove(code);

    return 0;
}
