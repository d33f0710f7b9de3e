#include "codeform.h"

namespace base {

namespace {

bool isDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

// Letters the exchange leaves out of its codes, as they read like digits or like each other.
bool isCodeLetter(QChar c) {
    return c >= QLatin1Char('A') && c <= QLatin1Char('Z') && !QStringView(u"BEIOQVZ").contains(c);
}

} // namespace

bool isPlainCode(const QString& text) {
    if (text.size() != 4)
        return false;
    for (const QChar c : text) {
        if (!isDigit(c))
            return false;
    }
    return true;
}

bool isAlphanumericCode(const QString& text) {
    if (text.size() != 4 || !isDigit(text[0]) || !isDigit(text[2]))
        return false;
    const bool letter1 = isCodeLetter(text[1]);
    const bool letter3 = isCodeLetter(text[3]);
    return (letter1 || isDigit(text[1])) && (letter3 || isDigit(text[3])) && (letter1 || letter3);
}

bool isCode(const QString& text) {
    return isPlainCode(text) || isAlphanumericCode(text);
}

} // namespace base
