#include "inputhold.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <QWindow>

InputHold::InputHold(QWidget* window)
    : QObject(window)
    , m_window(window) {
    qApp->installEventFilter(this);
}

InputHold::~InputHold() {
    qApp->removeEventFilter(this);
}

void InputHold::hold() {
    m_holding = true;
}

void InputHold::release() {
    m_holding = false;
    if (m_replaying)
        return; // the loop below goes on where it is
    m_replaying = true;
    std::size_t next = 0;
    while (next < m_held.size() && !m_holding) {
        Held held = std::move(m_held[next++]);
        if (held.call)
            held.call();
        else if (held.receiver)
            QCoreApplication::sendEvent(held.receiver, held.event.get());
    }
    // A replayed event started another display: the rest waits for that one.
    m_held.erase(m_held.begin(), m_held.begin() + static_cast<std::ptrdiff_t>(next));
    m_replaying = false;
}

void InputHold::defer(std::function<void()> call) {
    if (!m_holding) {
        call();
        return;
    }
    m_held.push_back({nullptr, nullptr, std::move(call)});
}

void InputHold::discard() {
    m_holding = false;
    m_held.clear();
}

bool InputHold::belongsToWindow(QObject* object) const {
    for (QObject* o = object; o; o = o->parent()) {
        if (o->isWidgetType())
            return static_cast<QWidget*>(o)->window() == m_window;
        if (o->isWindowType())
            return o == m_window->windowHandle();
    }
    return false;
}

bool InputHold::eventFilter(QObject* watched, QEvent* event) {
    if (!m_holding || m_replaying)
        return false;
    switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
        if (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            return false;
        break;
    case QEvent::Shortcut:
        // Escape stops a search at once, as its key does.
        if (static_cast<QShortcutEvent*>(event)->key() == QKeySequence(Qt::Key_Escape))
            return false;
        break;
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
        break;
    default:
        return false;
    }
    if (!belongsToWindow(watched))
        return false;
    m_held.push_back({watched, std::unique_ptr<QEvent>(event->clone()), {}});
    return true;
}
