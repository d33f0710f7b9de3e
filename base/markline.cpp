#include "markline.h"

#include "codepage932.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringEncoder>

#include <algorithm>

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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Only the first line counts, however long the rest of the file is: read up to its end.
    QByteArray line;
    bool anyByte = false;
    char chunk[4096];
    for (;;) {
        const qint64 n = file.read(chunk, sizeof chunk);
        if (n <= 0)
            break;
        anyByte = true;
        // CR and LF never occur inside a double-byte character of code page 932.
        const char* end =
            std::find_if(chunk, chunk + n, [](char c) { return c == '\r' || c == '\n'; });
        line.append(chunk, end - chunk);
        if (end != chunk + n)
            break;
    }
    if (!anyByte)
        return std::nullopt; // zero bytes: no line at all
    return decodeLine(line);
}

QByteArray encodeMarkLine(const QString& text) {
    if (const char* name = codePage932Name()) {
        QStringEncoder encoder(name);
        return encoder.encode(text);
    }
    return text.toUtf8();
}

} // namespace base
