#include "markstring.h"

#include "base/codeform.h"

namespace marks {

namespace {
constexpr int kMarkWidth = 5; // four code characters and the comma
constexpr int kCodeWidth = 4;

// Only a code of four characters without a comma keeps the five-character layout intact and
// can never match inside another mark: four digits or the alphanumeric form.
bool isMarkableCode(const QString& code) {
    return base::isCode(code);
}
} // namespace

QString MarkString::mark(int k) const {
    if (k <= 0)
        return QString();
    // Computed in 64 bits so a huge k cannot overflow into a valid offset.
    const qint64 offset = static_cast<qint64>(k - 1) * kMarkWidth;
    if (offset >= m_text.size())
        return QString();
    return m_text.mid(static_cast<int>(offset), kCodeWidth);
}

int MarkString::find(const QString& code) const {
    if (code.isEmpty())
        return 0;
    const QStringView text(m_text);
    for (int offset = 0; offset < text.size(); offset += kMarkWidth) {
        // Only offsets at a mark boundary; a damaged last mark may be shorter than a code.
        if (text.mid(offset, kCodeWidth) == code)
            return offset / kMarkWidth + 1;
    }
    return 0;
}

bool MarkString::append(const QString& code) {
    if (!isMarkableCode(code) || contains(code))
        return false;
    m_text += code;
    m_text += QLatin1Char(',');
    return true;
}

bool MarkString::remove(const QString& code) {
    if (!isMarkableCode(code))
        return false;
    const int k = find(code);
    if (k == 0)
        return false;
    // A damaged last mark without its comma loses only what is there.
    m_text.remove((k - 1) * kMarkWidth, kMarkWidth);
    return true;
}

} // namespace marks
