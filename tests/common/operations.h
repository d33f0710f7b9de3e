#pragma once

// Operations run to their end from a test: the event loop turns (QTest::qWaitFor) until they
// report, as the window's own loop would.

#include "chart/chartretrieval.h"
#include "chart/composition.h"
#include "chart/displayfetch.h"

#include <QString>

class Form1;

namespace testing {

// One display of code to its end: its panes announced through showPane as they come.
chart::RetrievalResult runDisplay(chart::ChartRetrieval& retrieval, const QString& code,
                                  const chart::ChartOptions& options,
                                  const chart::ChartRetrieval::ShowPane& showPane = {});

// The detail page of code, fetched and written: the address the detail pane goes to.
QString runDetailPage(chart::ChartRetrieval& retrieval, const QString& code);

// Waits until the window runs no display and no search; false when it still does after a
// generous bound.
[[nodiscard]] bool idle(const Form1& window);

} // namespace testing
