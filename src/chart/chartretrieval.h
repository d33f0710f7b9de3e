#pragma once

#include "composition.h"
#include "displayfetch.h"
#include "platform/serverconfig.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace platform {
class MultiTransfer;
} // namespace platform

namespace chart {

// What every display and search shares, without any window: the transfer, the servers, the
// session's suffix memory and the temporary files. The waiting is done by the operations
// (DisplayOperation, the searches), which report through signals; nothing here blocks.
class ChartRetrieval {
public:
    ChartRetrieval(platform::MultiTransfer& transfer, const platform::ServerConfig& servers,
                   const QString& programFolder);
    ChartRetrieval(const ChartRetrieval&) = delete;
    ChartRetrieval& operator=(const ChartRetrieval&) = delete;

    // bytes are the image as fetched; the file at gifPath may be written only later.
    using ShowPane = std::function<void(int pane, const QString& gifPath, const QByteArray& bytes)>;

    // A fetch finished elsewhere (a search's look-ahead): its files written and its panes shown,
    // in pane order, as a display would have.
    void commit(const DisplayFetch& fetch, const ShowPane& showPane);

    // The detail page: fetches the quote page, writes the anchor over the marker, saves it as
    // temp2.html and hands done the address to navigate the detail pane to (file URL + "#ZELK").
    // The pane never shows an earlier code's page: without a marker the page is written
    // unchanged; without an answer the file is emptied. Cancelling the ticket drops done.
    platform::MultiTransfer::Ticket fetchDetailPage(const QString& code,
                                                    std::function<void(const QString&)> done);

    QString detailFilePath() const;
    QString termFilePath(int term) const;

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
};

} // namespace chart
