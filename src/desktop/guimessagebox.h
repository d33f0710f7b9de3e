#pragma once

#include <QString>

class QWidget;

namespace platform {

// A modal box with the application title, the text, no icon and only an OK button. Returns when
// the user has pressed OK (or closed the box).
void showMessage(QWidget* parent, const QString& text);

} // namespace platform
