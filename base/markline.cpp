#include "markline.h"

#include "codepage932.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>
#include <limits>
#include <utility>

namespace base {

namespace {

QString decodeLine(const QByteArray& bytes) {
    QStringDecoder decoder = codePage932Decoder();
    if (decoder.isValid())
        return decoder.decode(bytes);
    return QString::fromUtf8(bytes);
}

} // namespace

std::optional<QString> readMarkLine(const QString& path) {
    MarkLineRead read = readMarkLineChecked(path, std::numeric_limits<qint64>::max());
    if (read.status != MarkLineStatus::Read)
        return std::nullopt;
    return std::move(read.line);
}

MarkLineRead readMarkLineChecked(const QString& path, qint64 maxLineBytes) {
    MarkLineRead read;
    const QFileInfo info(path);
    if (info.isDir()) {
        read.status = MarkLineStatus::NotAFile;
        return read;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        read.status = info.exists() || info.isSymLink() ? MarkLineStatus::Unreadable
                                                        : MarkLineStatus::Missing;
        return read;
    }
    // Only the first line counts, however long the rest of the file is: read up to its end.
    QByteArray line;
    char chunk[4096];
    for (;;) {
        const qint64 n = file.read(chunk, sizeof chunk);
        if (n < 0) {
            read.status = MarkLineStatus::Unreadable;
            return read;
        }
        if (n == 0)
            break;
        read.bytesRead += n;
        // CR and LF never occur inside a double-byte character of code page 932.
        const char* end =
            std::find_if(chunk, chunk + n, [](char c) { return c == '\r' || c == '\n'; });
        line.append(chunk, end - chunk);
        if (line.size() > maxLineBytes) {
            read.status = MarkLineStatus::TooLong;
            return read;
        }
        if (end != chunk + n)
            break;
    }
    if (read.bytesRead == 0) {
        read.status = MarkLineStatus::NoLine; // zero bytes: no line at all
        return read;
    }
    read.status = MarkLineStatus::Read;
    read.line = decodeLine(line);
    return read;
}

QByteArray encodeMarkLine(const QString& text) {
    if (const char* name = codePage932Name()) {
        QStringEncoder encoder(name);
        return encoder.encode(text);
    }
    return text.toUtf8();
}

} // namespace base
