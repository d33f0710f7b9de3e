#pragma once

#include "composition.h"
#include "displayfetch.h"
#include "platform/serverconfig.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

namespace platform {
class MultiTransfer;
} // namespace platform

namespace chart {

// The chart part of a display, without any window: the enabled terms are fetched concurrently
// (DisplayFetch); each accepted image is handed to showPane with its pane counter as it arrives,
// and written to the term's temporary file in the program folder once every term before it has
// been accepted, so the files end as a one-by-one display leaves them. A term with five misses
// ends the run with failed set. Every other failing step (a file that cannot be written, ...) is
// passed over.
//
// The calls that wait do so in a local event loop: the window repaints, moves and reacts
// meanwhile, and cancel() ends the wait at once.
class ChartRetrieval {
public:
    ChartRetrieval(platform::MultiTransfer& transfer, const platform::ServerConfig& servers,
                   const QString& programFolder);
    ~ChartRetrieval();
    ChartRetrieval(const ChartRetrieval&) = delete;
    ChartRetrieval& operator=(const ChartRetrieval&) = delete;

    // bytes are the image as fetched; the file at gifPath may be written only later.
    using ShowPane = std::function<void(int pane, const QString& gifPath, const QByteArray& bytes)>;
    RetrievalResult fetchTerms(const QString& code, const ChartOptions& options,
                               const ShowPane& showPane);

    // Waits in a local event loop until fetch has finished; cancel() (or the application
    // quitting) ends the wait and the fetch with it, as cancelled.
    void waitFor(DisplayFetch& fetch);

    // A fetch finished elsewhere (a search's look-ahead): its files written and its panes shown,
    // in pane order, as fetchTerms would have.
    void commit(const DisplayFetch& fetch, const ShowPane& showPane);

    // The detail page: fetch the quote page, write the anchor over the marker, save it as
    // temp2.html and return the address to navigate the detail pane to (file URL + "#ZELK").
    // The pane never shows an earlier code's page: without a marker the page is written
    // unchanged; without an answer the file is emptied.
    QString prepareDetailPage(const QString& code);

    QString detailFilePath() const;
    QString termFilePath(int term) const;

    // Ends every wait now running: a display fails as cancelled, a detail page counts as
    // unanswered.
    void cancel();
    bool busy() const { return !m_waits.empty(); }

    // A display, or one search candidate, not finished after this long fails.
    void setBoundMs(int ms) { m_boundMs = ms; }
    int boundMs() const { return m_boundMs; }

    platform::MultiTransfer& transfer() { return m_multi; }
    const platform::ServerConfig& servers() const { return m_servers; }
    SuffixMemory& suffixMemory() { return m_memory; }

private:
    platform::MultiTransfer& m_multi;
    platform::ServerConfig m_servers; // a copy, so a temporary configuration is safe to hand in
    QString m_folder;
    SuffixMemory m_memory;
    int m_boundMs = DisplayFetch::kBoundMs;
    std::vector<std::function<void()>> m_waits; // how to end each wait, innermost last
};

} // namespace chart
