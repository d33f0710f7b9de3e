// A full upward search over the code range when no code is served: 9,000 candidates, each a
// display whose first term misses under all five exchanges (45,000 transfers), against a bare
// libcurl loop over the same addresses on one handle.
#include "bench.h"

#include "chart/chartretrieval.h"
#include "chart/securitycode.h"
#include "platform/multitransfer.h"
#include "platform/serverconfig.h"
#include "portalserver.h"
#include "settings/settingsstore.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <curl/curl.h>

#include <string>
#include <vector>

namespace {

size_t keepBody(char* data, size_t size, size_t count, void* user) {
    static_cast<std::string*>(user)->append(data, size * count);
    return size * count;
}

const BenchRegistrar reg("stepping", [] {
    // A portal whose code list is empty knows no code at all.
    QTemporaryDir data;
    QFile empty(data.filePath(QString::fromUtf8("銘柄コード一覧20060513.csv")));
    if (!empty.open(QIODevice::WriteOnly)) {
        std::printf("cannot write the empty code list\n");
        return;
    }
    empty.close();
    portal::PortalOptions options;
    options.dataDir = data.path();
    portal::PortalServer server(options);
    if (!server.start()) {
        std::printf("portal did not start\n");
        return;
    }

    QTemporaryDir folder;
    settings::SettingsStore store(folder.filePath("settings.ini")); // no keys: the defaults
    const platform::ServerConfig servers = platform::ServerConfig::allAt(server.baseUrl());
    platform::MultiTransfer transfer;
    chart::ChartRetrieval retrieval(transfer, servers, folder.path());

    CURL* bare = curl_easy_init();
    std::string body;
    curl_easy_setopt(bare, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(bare, CURLOPT_WRITEFUNCTION, &keepBody);
    curl_easy_setopt(bare, CURLOPT_WRITEDATA, &body);

    // From 9998 upwards: 9999 first, then 1000 to 9998, which is every code once.
    constexpr int kCandidates = 9000;
    constexpr int kChunk = 250;
    QString candidate =
        *chart::firstStepCandidate(QStringLiteral("9998"), chart::StepDirection::Up);
    qint64 searchNs = 0;
    qint64 floorNs = 0;
    int transfers = 0;
    int found = 0;
    QElapsedTimer t;
    // The search and the floor take turns, a chunk of candidates each, so that load from
    // elsewhere on the machine falls on both alike.
    for (int done = 0; done < kCandidates; done += kChunk) {
        std::vector<std::string> urls;
        t.start();
        for (int i = 0; i < kChunk; ++i) {
            const std::optional<QString> code = chart::normalizeCode(candidate);
            if (code && chart::isCodeLength(*code)) {
                const chart::RetrievalResult r =
                    retrieval.fetchTerms(*code, chart::ChartOptions::read(store), {});
                transfers += r.transfers;
                found += r.failed ? 0 : 1;
            }
            candidate =
                chart::nextStepCandidate(code.value_or(candidate), chart::StepDirection::Up);
            QCoreApplication::processEvents();
        }
        searchNs += t.nsecsElapsed();
        // The same addresses, taken from the portal's log.
        for (const portal::LogEntry& e : server.requestLog())
            urls.push_back((server.baseUrl() + e.target).toStdString());
        server.clearLog();
        t.start();
        for (const std::string& url : urls) {
            body.clear();
            curl_easy_setopt(bare, CURLOPT_URL, url.c_str());
            curl_easy_perform(bare);
        }
        floorNs += t.nsecsElapsed();
        server.clearLog();
    }
    curl_easy_cleanup(bare);

    std::printf("candidates %d, transfers %d, found %d\n", kCandidates, transfers, found);
    report(QStringLiteral("full upward pass, no code served"), searchNs / 1e9, QStringLiteral("s"),
           floorNs / 1e9);
});

} // namespace
