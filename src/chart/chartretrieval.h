#pragma once

#include "composition.h"
#include "platform/serverconfig.h"

#include <QString>

#include <functional>

namespace platform {
class Transfer;
} // namespace platform

namespace chart {

struct RetrievalResult {
    bool failed = false;  // a term missed under all five suffixes (G_bGETGIFERR)
    int fetchedTerms = 0; // terms accepted, i.e. the pane counter at the end
    int transfers = 0;    // transfers made
    int unreachable = 0;  // of those, refused or timed out (no answer at all)
    bool serverUnreachable() const { return transfers > 0 && unreachable == transfers; }
};

// The chart part of a display, without any window: for each enabled term in term order, try the
// exchange suffixes from ".t" again, accept an answer whose first byte is 'G', write it to the
// term's temporary file in the program folder, and hand the pane counter and the file to
// showPane. A term with five misses ends the run with failed set. Every other failing step (a
// file that cannot be written, ...) is passed over.
class ChartRetrieval {
public:
    ChartRetrieval(platform::Transfer& transfer, const platform::ServerConfig& servers,
                   const QString& programFolder);

    using ShowPane = std::function<void(int pane, const QString& gifPath)>;
    RetrievalResult fetchTerms(const QString& code, const ChartOptions& options,
                               const ShowPane& showPane);

    // The detail page: fetch the quote page, write the anchor over the marker, save it as
    // temp2.html and return the address to navigate the detail pane to (file URL + "#ZELK").
    // The pane never shows an earlier code's page: without a marker the page is written
    // unchanged; without an answer the file is emptied.
    QString prepareDetailPage(const QString& code);

    QString detailFilePath() const;

private:
    platform::Transfer& m_transfer;
    platform::ServerConfig m_servers; // a copy, so a temporary configuration is safe to hand in
    QString m_folder;
};

} // namespace chart
