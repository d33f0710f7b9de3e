#pragma once

#include <QObject>

class QSocketNotifier;

namespace platform {

// Turns SIGTERM and SIGINT into a Qt signal on the event loop, so that the program can end the
// way closing its window ends it (settings and marks saved, the portal stopped) instead of
// dying where it stands. One instance at a time; the default handling comes back when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // false when the handlers could not be installed (the default handling then stays).
    bool isActive() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void received(int signalNumber);

private:
    void readPipe();
    QSocketNotifier* m_notifier = nullptr;
};

} // namespace platform
