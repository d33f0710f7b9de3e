// The window's start with a 20 MB mark file (one first line of about four million marks) against
// a start with no mark file: the window built, shown and its start messages answered. The file
// size can be set with QUORVIX_BENCH_MARK_MB, for profiling smaller files.

#include "bench.h"

#include "mainwin/form1.h"
#include "mainwin/viewercontext.h"
#include "timing.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <cstdio>
#include <vector>

namespace {

constexpr int kRuns = 3;

// Dismisses every message box while it lives: a refused or unreadable file is told at start.
class MessageCloser {
public:
    MessageCloser() {
        QObject::connect(&m_timer, &QTimer::timeout, [] {
            if (QWidget* box = QApplication::activeModalWidget())
                box->close();
        });
        m_timer.start(10);
    }

private:
    QTimer m_timer;
};

// Distinct-looking codes cycling over 1000..9999, each followed by its comma.
QByteArray markLineOf(qint64 bytes) {
    QByteArray line;
    line.reserve(bytes + 2);
    for (int i = 0; line.size() + 5 <= bytes; ++i)
        line += QByteArray::number(1000 + i % 9000) + ',';
    return line + "\r\n";
}

double startMs(const QTemporaryDir& folder) {
    ViewerContext context;
    context.programFolder = folder.path();
    context.dataFolder = folder.path();
    context.settingsFile = folder.filePath(QStringLiteral("settings.ini"));
    MessageCloser closer;
    QElapsedTimer t;
    t.start();
    double ms = 0;
    {
        Form1 window(context);
        window.show();
        while (!window.windowHandle() || !window.windowHandle()->isExposed())
            QApplication::processEvents(QEventLoop::AllEvents, 10);
        // The start messages come just after the window appears.
        QApplication::processEvents();
        ms = t.nsecsElapsed() / 1e6;
        window.close();
    }
    return ms;
}

void run() {
    const qint64 mb = qEnvironmentVariableIsSet("QUORVIX_BENCH_MARK_MB")
                          ? qEnvironmentVariableIntValue("QUORVIX_BENCH_MARK_MB")
                          : 20;
    QTemporaryDir empty;
    QTemporaryDir big;
    {
        QFile f(big.filePath(QStringLiteral("MARK.csv")));
        if (!f.open(QIODevice::WriteOnly) || f.write(markLineOf(mb * 1000 * 1000)) < 0) {
            std::printf("cannot write the mark file\n");
            return;
        }
    }
    std::vector<double> none;
    std::vector<double> large;
    for (int r = 0; r < kRuns; ++r) {
        none.push_back(startMs(empty));
        large.push_back(startMs(big));
    }
    const double floor = median(none);
    report(QStringLiteral("start without a mark file"), floor, QStringLiteral("ms"));
    report(QStringLiteral("start with a %1 MB mark file").arg(mb), median(large),
           QStringLiteral("ms"), floor);
}

static BenchRegistrar reg("markstart", [] { run(); });

} // namespace
