#include "operations.h"

#include "chart/displayoperation.h"
#include "mainwin/form1.h"

#include <QEventLoop>
#include <QTimer>

#include <functional>

namespace testing {

namespace {

constexpr int kLongestMs = 120000;

// Turns the event loop until done() holds or the bound has passed. A local loop sleeps in the
// dispatcher until something happens, where QTest::qWaitFor sleeps 10 ms whenever nothing is
// pending: across the thousands of turns of a search that would be most of its time.
bool turnUntil(const std::function<bool()>& done) {
    if (done())
        return true;
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done())
            loop.quit();
    });
    poll.start(1);
    QTimer::singleShot(kLongestMs, &loop, &QEventLoop::quit);
    loop.exec();
    return done();
}

} // namespace

chart::RetrievalResult runDisplay(chart::ChartRetrieval& retrieval, const QString& code,
                                  const chart::ChartOptions& options,
                                  const chart::ChartRetrieval::ShowPane& showPane) {
    chart::DisplayOperation display(retrieval);
    bool ended = false;
    QObject::connect(&display, &chart::DisplayOperation::paneShown, &display,
                     [&](int pane, const QString& path, const QByteArray& bytes) {
                         if (showPane)
                             showPane(pane, path, bytes);
                     });
    QObject::connect(&display, &chart::DisplayOperation::finished, &display, [&] { ended = true; });
    display.start(code, options);
    if (!turnUntil([&] { return ended; }))
        qWarning("an operation did not end in time");
    return display.result();
}

QString runDetailPage(chart::ChartRetrieval& retrieval, const QString& code) {
    QString address;
    bool ended = false;
    retrieval.fetchDetailPage(code, [&](const QString& a) {
        address = a;
        ended = true;
    });
    if (!turnUntil([&] { return ended; }))
        qWarning("an operation did not end in time");
    return address;
}

bool idle(const Form1& window) {
    return turnUntil([&] { return !window.displaying() && !window.searching(); });
}

} // namespace testing
