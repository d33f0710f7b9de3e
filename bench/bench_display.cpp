// One display of the default four chart terms, for a code served under ".t" (four transfers)
// and for one served only under ".n" (twenty the first time, four once its suffix is known).
// On loopback each is measured against the same addresses fetched back to back by a bare
// libcurl loop on one handle; with the portal holding every answer back (a network's round
// trip) against the time of one answer.
#include "bareloop.h"
#include "bench.h"
#include "wait.h"

#include "chart/chartretrieval.h"
#include "platform/multitransfer.h"
#include "platform/serverconfig.h"
#include "server/portalserver.h"
#include "settings/settingsstore.h"
#include "timing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <algorithm>
#include <string>
#include <vector>

namespace {

QString codeUnder(portal::PortalServer& server, const QString& exchange) {
    for (int c = 1300; c <= 9999; ++c) {
        if (server.suffixFor(QString::number(c)) == exchange)
            return QString::number(c);
    }
    return QString();
}

void displayAgainstFloor(portal::PortalServer& server, const QString& exchange, int rounds,
                         int delayMs) {
    const QString code = codeUnder(server, exchange);
    if (code.isEmpty()) {
        std::printf("no listed code under %s\n", qPrintable(exchange));
        return;
    }
    portal::Faults faults;
    faults.delayMs = delayMs;
    server.setFaults(faults);

    QTemporaryDir folder;
    settings::SettingsStore store(folder.filePath("settings.ini")); // no keys: the defaults
    const platform::ServerConfig servers = platform::ServerConfig::allAt(server.baseUrl());
    platform::MultiTransfer transfer;
    chart::ChartRetrieval retrieval(transfer, servers, folder.path());
    int shown = 0;
    const auto showPane = [&shown](int, const QString&, const QByteArray&) {
        ++shown;
    };

    // A first display warms both sides and finds the code's suffix; the second tells which
    // addresses a display fetches from then on.
    server.clearLog();
    const chart::RetrievalResult first =
        runDisplay(retrieval, code, chart::ChartOptions::read(store), showPane);
    server.clearLog();
    const chart::RetrievalResult warm =
        runDisplay(retrieval, code, chart::ChartOptions::read(store), showPane);
    std::vector<std::string> urls;
    for (const portal::LogEntry& e : server.requestLog())
        urls.push_back((server.baseUrl() + e.target).toStdString());
    BareLoop bare;
    bare.fetchAll(urls);
    // With a delay the floor is one answer: the first address alone.
    if (delayMs > 0)
        urls.resize(1);

    // The two take turns, each going first every other round, so that load from elsewhere on
    // the machine falls on both alike; the best and the middle round of each are reported.
    std::vector<double> display;
    std::vector<double> floor;
    QElapsedTimer t;
    const auto timeDisplay = [&] {
        t.start();
        runDisplay(retrieval, code, chart::ChartOptions::read(store), showPane);
        display.push_back(t.nsecsElapsed() / 1e6);
    };
    const auto timeFloor = [&] {
        t.start();
        bare.fetchAll(urls);
        floor.push_back(t.nsecsElapsed() / 1e6);
    };
    for (int i = 0; i < rounds; ++i) {
        if (i % 2 == 0) {
            timeDisplay();
            timeFloor();
        } else {
            timeFloor();
            timeDisplay();
        }
    }
    server.setFaults({});
    const QString against = delayMs > 0 ? QStringLiteral("one answer at %1 ms delay").arg(delayMs)
                                        : QStringLiteral("a bare loop, loopback");
    const QString figure =
        QStringLiteral("display of 4 terms, code %1 under %2, %3 transfers (first %4), vs %5, "
                       "%6 of %7 rounds")
            .arg(code, exchange)
            .arg(warm.transfers)
            .arg(first.transfers)
            .arg(against);
    report(figure.arg(QStringLiteral("best"), QString::number(rounds)),
           *std::min_element(display.begin(), display.end()), QStringLiteral("ms"),
           *std::min_element(floor.begin(), floor.end()));
    report(figure.arg(QStringLiteral("median"), QString::number(rounds)), median(display),
           QStringLiteral("ms"), median(floor));
}

const BenchRegistrar reg("display", [] {
    portal::PortalOptions options;
    options.dataDir = QCoreApplication::applicationDirPath();
    portal::PortalServer server(options);
    if (!server.start()) {
        std::printf("portal did not start\n");
        return;
    }
    displayAgainstFloor(server, QStringLiteral(".t"), 60, 0);
    displayAgainstFloor(server, QStringLiteral(".n"), 60, 0);
    displayAgainstFloor(server, QStringLiteral(".t"), 30, 30);
    displayAgainstFloor(server, QStringLiteral(".n"), 30, 30);
});

} // namespace
