#pragma once

#include "chartretrieval.h"
#include "composition.h"
#include "displayfetch.h"

#include <QByteArray>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

namespace chart {

// One display as an operation on the event loop: from the request until its panes and pages are
// set. The enabled terms are fetched side by side (DisplayFetch); each accepted image is
// announced with its pane counter as it arrives, and written to the term's temporary file once
// every term before it has been accepted, so the files end as a one-by-one display leaves them.
// When the charts succeeded and the detail page is on, the page is fetched and written next.
// finished() comes once, from the event loop; nothing here waits.
class DisplayOperation : public QObject {
    Q_OBJECT

public:
    explicit DisplayOperation(ChartRetrieval& retrieval, QObject* parent = nullptr);
    ~DisplayOperation() override; // ends silently

    void start(const QString& code, const ChartOptions& options);
    // The showing of a search's winner, probed ahead: its files written and its panes shown at
    // once, then the detail page as for any display.
    void show(std::unique_ptr<DisplayFetch> probed, const ChartOptions& options);
    // Ends a running display as failed and cancelled; no signal follows.
    void cancel();

    bool isRunning() const { return m_running; }
    const QString& code() const { return m_code; }
    // The ratio the charts were asked for at (a search's winner: the search's).
    double pixelRatio() const { return m_options.pixelRatio; }
    const RetrievalResult& result() const { return m_result; }
    // Where the detail pane goes: set when the display succeeded with the detail page on.
    const QString& detailAddress() const { return m_detailAddress; }

Q_SIGNALS:
    // bytes are the image as fetched; the file at gifPath may be written only later. A pane
    // beyond the window's four is the window's to drop.
    void paneShown(int pane, const QString& gifPath, const QByteArray& bytes);
    void finished();

private:
    void onTerm(const TermImage& image);
    void chartsDone();
    void finish();

    ChartRetrieval& m_retrieval;
    ChartOptions m_options;
    QString m_code;
    std::unique_ptr<DisplayFetch> m_fetch;
    std::vector<TermImage> m_arrived; // by pane, until written
    int m_written = 0;
    RetrievalResult m_result;
    QString m_detailAddress;
    platform::MultiTransfer::Ticket m_detailTicket = 0;
    bool m_running = false;
};

} // namespace chart
