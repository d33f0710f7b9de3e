#pragma once

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

class QEvent;
class QWidget;

// Holds the mouse and key input given to one window while a display runs, and hands it on once
// the display has ended, in the order it came, to whatever is there then, as if it had just been
// given: a button that was disabled meanwhile ignores its click, a shortcut acts. Escape (its key
// and its shortcut) and everything that is not input (closing, painting, timers) pass at once. A
// held event that starts another display keeps the rest held behind it.
class InputHold : public QObject {
    Q_OBJECT

public:
    explicit InputHold(QWidget* window);
    ~InputHold() override;

    void hold();
    void release();
    // A call that came in as the handling of input (a handler called directly) waits its turn
    // with the held input; run at once when nothing is held.
    void defer(std::function<void()> call);
    // Drops what was held (the window is closing).
    void discard();
    bool holding() const { return m_holding; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool belongsToWindow(QObject* object) const;

    struct Held {
        QPointer<QObject> receiver;
        std::unique_ptr<QEvent> event;
        std::function<void()> call;
    };
    QWidget* m_window;
    std::vector<Held> m_held;
    bool m_holding = false;
    bool m_replaying = false;
};
