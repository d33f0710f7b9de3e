#include "codelistfile.h"

#include "codepage932.h"

#include <QFile>

namespace base {

QStringList readCodeListLines(const QString& path) {
    QStringList lines;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    const QByteArray bytes = file.readAll();
    // A list cut short by a read error would leave codes out without a word; none is better.
    if (file.error() != QFileDevice::NoError)
        return lines;
    QStringDecoder decoder = codePage932Decoder();
    if (!decoder.isValid())
        return lines;
    const QString text = decoder.decode(bytes);

    // Byte 0x0A never occurs inside a double-byte character, so splitting the decoded text is the
    // same as splitting the bytes.
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        const qsizetype next = end < 0 ? text.size() : end + 1;
        if (end < 0)
            end = text.size();
        QStringView line = QStringView(text).mid(start, end - start);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        lines.append(line.toString());
        start = next;
    }
    return lines;
}

} // namespace base
