#pragma once

// The benchmarks drive displays and searches as the window does and turn the event loop until
// they have ended.

#include "chart/chartretrieval.h"
#include "chart/displayoperation.h"

#include <QEventLoop>

#include <functional>

inline void turnUntil(const std::function<bool()>& done) {
    QEventLoop loop;
    while (!done())
        loop.processEvents(QEventLoop::WaitForMoreEvents, 50);
}

inline chart::RetrievalResult runDisplay(chart::ChartRetrieval& retrieval, const QString& code,
                                         const chart::ChartOptions& options,
                                         const chart::ChartRetrieval::ShowPane& showPane = {}) {
    chart::DisplayOperation display(retrieval);
    bool ended = false;
    QObject::connect(&display, &chart::DisplayOperation::paneShown, &display,
                     [&](int pane, const QString& path, const QByteArray& bytes) {
                         if (showPane)
                             showPane(pane, path, bytes);
                     });
    QObject::connect(&display, &chart::DisplayOperation::finished, &display, [&] { ended = true; });
    display.start(code, options);
    turnUntil([&] { return ended; });
    return display.result();
}
