#include "codelist.h"

#include "base/codeform.h"

#include <algorithm>

namespace marks {

namespace {
constexpr int kCodeWidth = 4;
} // namespace

CodeList CodeList::load(const QString& path) {
    CodeList list;
    for (const QString& line : base::readCodeListLines(path)) {
        // A line shorter than a code keys on its whole text; the first line of a code wins.
        const QString key = line.left(kCodeWidth);
        if (!list.m_rows.contains(key)) {
            list.m_rows.insert(key, line);
            if (base::isAlphanumericCode(key))
                list.m_alphanumeric.append(key);
        }
    }
    std::sort(list.m_alphanumeric.begin(), list.m_alphanumeric.end());
    return list;
}

CodeList CodeList::loadPreferred(const QString& dataFolder, const QString& programFolder) {
    const QString name = QLatin1Char('/') + QString::fromUtf8(kFileName);
    CodeList own = load(dataFolder + name);
    return own.size() > 0 ? own : load(programFolder + name);
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
