// The window's own upward search (昇順検索) over the whole code range when no code is served:
// every candidate's first term misses under all five exchanges. On loopback it is measured
// against a bare libcurl loop over the same addresses on one handle; with the portal holding
// every answer back 30 ms (a network's round trip) against what eight transfers in flight
// allow: one answer's time x transfers / 8.
//
// Then how long the window takes to close during a display against a server that never
// answers.
#include "bareloop.h"
#include "bench.h"
#include "wait.h"

#include "chart/chartretrieval.h"
#include "mainwin/form1.h"
#include "marks/codelist.h"
#include "platform/multitransfer.h"
#include "platform/serverconfig.h"
#include "server/portalserver.h"
#include "timing.h"

#include <QApplication>
#include <QCloseEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <string>
#include <vector>

namespace {

// A program folder with the code list and every server role at base.
ViewerContext contextAt(const QTemporaryDir& folder, const QString& base) {
    const QString codeList = QString::fromUtf8(marks::CodeList::kFileName);
    QFile::copy(QCoreApplication::applicationDirPath() + QLatin1Char('/') + codeList,
                folder.filePath(codeList));
    QSettings servers(folder.filePath(QStringLiteral("servers.ini")), QSettings::IniFormat);
    for (const char* role : {"technical-chart", "chart-image", "mobile-gateway", "quote"})
        servers.setValue(QStringLiteral("servers/") + QLatin1String(role), base);
    servers.sync();
    ViewerContext context;
    context.programFolder = folder.path();
    context.dataFolder = folder.path();
    context.settingsFile = folder.filePath(QStringLiteral("settings.ini"));
    return context;
}

// Presses OK on every message box while it lives.
class MessageCloser {
public:
    MessageCloser() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            if (QWidget* box = QApplication::activeModalWidget()) {
                ++m_seen;
                box->close();
            }
        });
        m_timer.start(20);
    }
    int seen() const { return m_seen; }

private:
    QTimer m_timer;
    int m_seen = 0;
};

struct Pass {
    double seconds = 0;
    std::vector<std::string> urls;
};

// One full pass from 9998 upwards, the portal's log drained as it goes (it keeps only so much).
Pass fullPass(portal::PortalServer& server, const QTemporaryDir& folder) {
    Form1 window(contextAt(folder, server.baseUrl()));
    window.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("9998"));
    Pass pass;
    QTimer drainer;
    const auto drain = [&] {
        for (const portal::LogEntry& e : server.takeLog())
            pass.urls.push_back((server.baseUrl() + e.target).toStdString());
    };
    QObject::connect(&drainer, &QTimer::timeout, drain);
    drainer.start(100);
    MessageCloser closer;
    server.clearLog();
    QElapsedTimer t;
    t.start();
    window.findChild<QPushButton*>(QStringLiteral("Command6"))->click();
    turnUntil([&] { return !window.searching(); });
    pass.seconds = t.nsecsElapsed() / 1e9;
    drain();
    if (closer.seen() != 1)
        std::printf("expected one message at the end of the pass, saw %d\n", closer.seen());
    return pass;
}

double secondsFor(BareLoop& bare, const std::vector<std::string>& urls) {
    QElapsedTimer t;
    t.start();
    bare.fetchAll(urls);
    return t.nsecsElapsed() / 1e9;
}

double bareLoopSeconds(const std::vector<std::string>& urls) {
    BareLoop bare;
    return secondsFor(bare, urls);
}

// The median time of one answer, on a kept-alive connection.
double oneAnswerSeconds(const std::string& url) {
    BareLoop bare;
    bare.fetchAll({url}); // connects
    std::vector<double> times;
    for (int i = 0; i < 21; ++i)
        times.push_back(secondsFor(bare, {url}));
    return median(times);
}

const BenchRegistrar search("search", [] {
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

    {
        QTemporaryDir folder;
        const Pass pass = fullPass(server, folder);
        std::printf("loopback: %zu transfers\n", pass.urls.size());
        report(QStringLiteral("full upward pass in the window, loopback, vs a bare loop"),
               pass.seconds, QStringLiteral("s"), bareLoopSeconds(pass.urls));
    }
    {
        portal::Faults slow;
        slow.delayMs = 30;
        server.setFaults(slow);
        QTemporaryDir folder;
        const Pass pass = fullPass(server, folder);
        const double answer = oneAnswerSeconds(pass.urls.front());
        std::printf("30 ms delay: %zu transfers, one answer %.1f ms\n", pass.urls.size(),
                    answer * 1e3);
        report(QStringLiteral("full upward pass in the window, 30 ms delay, vs one answer x "
                              "transfers / 8"),
               pass.seconds, QStringLiteral("s"), answer * double(pass.urls.size()) / 8.0);
        server.setFaults({});
    }
});

// The first display of a code in a session: no suffix is remembered yet, so a code served only
// under ".n" costs each term five answers one after the other. Against one answer's time.
const BenchRegistrar firstDisplay("firstdisplay", [] {
    portal::PortalServer server;
    if (!server.start()) {
        std::printf("portal did not start\n");
        return;
    }
    portal::Faults slow;
    slow.delayMs = 30;
    server.setFaults(slow);
    const platform::ServerConfig servers = platform::ServerConfig::allAt(server.baseUrl());
    chart::ChartOptions options;
    options.terms = {true, true, true, true, false, false, false};
    for (const char* exchange : {".t", ".n"}) {
        QString code;
        for (int c = 1300; c <= 9999 && code.isEmpty(); ++c) {
            if (server.suffixFor(QString::number(c)) == QLatin1String(exchange))
                code = QString::number(c);
        }
        std::vector<double> times;
        int transfers = 0;
        for (int round = 0; round < 15; ++round) {
            QTemporaryDir folder;
            platform::MultiTransfer transfer;
            chart::ChartRetrieval retrieval(transfer, servers, folder.path());
            server.clearLog();
            QElapsedTimer t;
            t.start();
            runDisplay(retrieval, code, options, {});
            times.push_back(t.nsecsElapsed() / 1e3);
            transfers = int(server.requestLog().size());
        }
        const std::string one =
            (server.baseUrl() + QStringLiteral("/c/1d/1/1000.t.gif")).toStdString();
        report(QStringLiteral("first display of a code under %1 in a session, %2 transfers, 30 ms "
                              "delay, median, vs one answer")
                   .arg(QLatin1String(exchange))
                   .arg(transfers),
               median(times) / 1e3, QStringLiteral("ms"), oneAnswerSeconds(one) * 1e3);
    }
});

const BenchRegistrar closing("close", [] {
    // Takes every connection and request, never answers.
    QTcpServer silent;
    if (!silent.listen(QHostAddress::LocalHost)) {
        std::printf("cannot listen\n");
        return;
    }
    int asked = 0;
    QObject::connect(&silent, &QTcpServer::newConnection, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket, [&, socket] {
                socket->readAll();
                ++asked;
            });
        }
    });
    const QString base = QStringLiteral("http://127.0.0.1:%1").arg(silent.serverPort());

    std::vector<double> times;
    for (int round = 0; round < 10; ++round) {
        QTemporaryDir folder;
        ViewerContext context = contextAt(folder, base);
        context.transfer.connectTimeoutMs = 600000;
        context.transfer.totalTimeoutMs = 600000;
        Form1 window(context);
        window.show();
        asked = 0;
        QElapsedTimer sinceClose;
        QTimer poster;
        QObject::connect(&poster, &QTimer::timeout, [&] {
            if (asked < 4)
                return;
            poster.stop();
            sinceClose.start();
            QCoreApplication::postEvent(window.windowHandle(), new QCloseEvent);
        });
        poster.start(5);
        window.findChild<QLineEdit*>(QStringLiteral("Text1"))->setText(QStringLiteral("4674"));
        MessageCloser closer;
        window.Text1_DblClick();
        turnUntil([&] { return !window.isVisible(); });
        times.push_back(sinceClose.nsecsElapsed() / 1e6);
        if (window.isVisible())
            std::printf("the window did not close\n");
    }
    std::printf("close during a display against a silent server, worst of %zu: %.1f ms\n",
                times.size(), *std::max_element(times.begin(), times.end()));
    report(QStringLiteral("close during a display against a silent server, median"), median(times),
           QStringLiteral("ms"));
});

} // namespace
