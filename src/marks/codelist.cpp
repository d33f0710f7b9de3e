#include "codelist.h"

#include "base/codeform.h"
#include "base/codepage932.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>

namespace marks {

namespace {
constexpr int kCodeWidth = 4;
} // namespace

CodeList CodeList::load(const QString& path) {
    CodeList list;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return list;
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return list;
    QStringDecoder decoder = base::codePage932Decoder();
    if (!decoder.isValid())
        return list;
    const QString text = decoder.decode(bytes);

    // Lines end in CR LF; a bare LF is taken as a line end too. Byte 0x0A never occurs inside a
    // double-byte character, so splitting the decoded text is the same as splitting the bytes.
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(QLatin1Char('\n'), start);
        const qsizetype next = end < 0 ? text.size() : end + 1;
        if (end < 0)
            end = text.size();
        QStringView line = QStringView(text).mid(start, end - start);
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
        // A line shorter than a code keys on its whole text; the first line of a code wins.
        const QString key = line.left(kCodeWidth).toString();
        if (!list.m_rows.contains(key)) {
            list.m_rows.insert(key, line.toString());
            if (base::isAlphanumericCode(key))
                list.m_alphanumeric.append(key);
        }
        start = next;
    }
    std::sort(list.m_alphanumeric.begin(), list.m_alphanumeric.end());
    return list;
}

QString CodeList::row(const QString& code) const {
    const auto it = m_rows.constFind(code);
    if (it != m_rows.constEnd())
        return it.value();
    return code + QLatin1String(",????,????");
}

QStringList markListRows(const MarkString& marks, const CodeList& codes) {
    QStringList rows;
    rows.reserve(marks.rowCount());
    for (int k = 1;; ++k) {
        const QString code = marks.mark(k);
        if (code.isEmpty())
            break;
        rows.append(codes.row(code));
    }
    return rows;
}

} // namespace marks
