#pragma once

#include <QString>

// What a security code is, for everything that keeps codes: the marks, the code list and the
// display.
namespace base {

// A four-character code of ASCII digits.
bool isPlainCode(const QString& text);

// The exchange's alphanumeric form: four characters, the second and/or the fourth a capital
// letter other than B, E, I, O, Q, V and Z, the others digits ("130A", "1A3C").
bool isAlphanumericCode(const QString& text);

// A code as marks and the code list keep it: four ASCII digits or the alphanumeric form. Code
// order is the order of the characters' values, QString's own operator<, so
// "1309" < "130A" < "1310".
bool isCode(const QString& text);

} // namespace base
