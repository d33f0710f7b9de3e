// Stand-in portal: time to draw and encode a chart, and the rate of 404 answers over one
// keep-alive connection.
#include "bench.h"
#include "timing.h"

#include "charts/chartrenderer.h"
#include "charts/gifencoder.h"
#include "prices/marketdata.h"
#include "server/portalserver.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSemaphore>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <curl/curl.h>

#include <functional>

namespace {

size_t discard(char*, size_t size, size_t n, void*) {
    return size * n;
}

// Microseconds per answer for `count` GETs of one address over one reused easy handle.
double usPerAnswer(const QByteArray& url, int count) {
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.constData());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, discard);
    curl_easy_perform(curl); // connect once
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < count; ++i)
        curl_easy_perform(curl);
    const double us = double(t.nsecsElapsed()) / 1e3 / count;
    // New connections made by the last transfer: none when the connection was kept alive.
    long connects = 0;
    curl_easy_getinfo(curl, CURLINFO_NUM_CONNECTS, &connects);
    curl_easy_cleanup(curl);
    if (connects != 0)
        std::printf("warning: %s did not keep the connection alive\n", url.constData());
    return us;
}

// The floor for answers: a bare socket server on its own thread that writes one canned 404 for
// every request head it sees, without parsing, routing or logging.
class CannedServer : public QThread {
public:
    quint16 port = 0;
    QSemaphore ready;

protected:
    void run() override {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost, 0);
        port = server.serverPort();
        static const QByteArray answer =
            "HTTP/1.1 404 Not Found\r\nContent-Type: text/html; charset=UTF-8\r\n"
            "Content-Length: 10\r\nConnection: keep-alive\r\n\r\n<p>404</p>";
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&server] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                auto* buffer = new QByteArray;
                QObject::connect(s, &QTcpSocket::readyRead, s, [s, buffer] {
                    buffer->append(s->readAll());
                    int end;
                    while ((end = buffer->indexOf("\r\n\r\n")) >= 0) {
                        buffer->remove(0, end + 4);
                        s->write(answer);
                    }
                });
                QObject::connect(s, &QTcpSocket::disconnected, s, [s, buffer] {
                    delete buffer;
                    s->deleteLater();
                });
            }
        });
        ready.release();
        exec();
    }
};

void run() {
    const QString dir = QCoreApplication::applicationDirPath();
    const QDate asOf(2026, 12, 4);
    portal::MarketData data(dir, asOf);
    if (data.listings().isEmpty()) {
        std::printf("no code list beside the program in %s\n", qPrintable(dir));
        return;
    }
    const portal::Listing listing = data.listings().first();
    const auto history = data.history(listing.code);

    QImage blank(portal::kChartWidth, portal::kChartHeight, QImage::Format_RGB32);
    blank.fill(portal::colors::background);
    const double blankMs = msPerCall([&] { portal::encodeGif(blank); });

    const auto four = portal::parseOverlays(QStringLiteral("m25,m75,e25,e75"));
    const auto all =
        portal::parseOverlays(QStringLiteral("m25,m75,m65,m130,m260,e25,e75,e65,e130,e260,b,p,v"));
    const double threeMonths = msPerCall([&] {
        portal::encodeGif(
            portal::renderTechnicalChart(listing, *history, portal::Term::ThreeMonths, four));
    });
    const double tenYears = msPerCall([&] {
        portal::encodeGif(
            portal::renderTechnicalChart(listing, *history, portal::Term::TenYears, all));
    });
    const QImage drawn =
        portal::renderTechnicalChart(listing, *history, portal::Term::TenYears, all);
    const double encodeOnly = msPerCall([&] { portal::encodeGif(drawn); });
    const double intraday =
        msPerCall([&] { portal::encodeGif(portal::renderIntradayChart(listing, *history)); });

    report(QStringLiteral("chart 3m, 4 overlays, draw+encode"), threeMonths, QStringLiteral("ms"),
           blankMs);
    report(QStringLiteral("chart 10y, 13 tokens, draw+encode"), tenYears, QStringLiteral("ms"),
           blankMs);
    report(QStringLiteral("chart 10y, 13 tokens, encode only"), encodeOnly, QStringLiteral("ms"),
           blankMs);
    report(QStringLiteral("intraday chart, draw+encode"), intraday, QStringLiteral("ms"), blankMs);

    portal::PortalOptions options;
    options.dataDir = dir;
    options.asOf = asOf;
    portal::PortalServer server(options);
    if (!server.start()) {
        std::printf("portal did not start\n");
        return;
    }
    CannedServer canned;
    canned.start();
    canned.ready.acquire();

    const int count = 5000;
    const double floorUs =
        usPerAnswer("http://127.0.0.1:" + QByteArray::number(canned.port) + "/nothing", count);
    const double portalUs = usPerAnswer(server.baseUrl().toLatin1() + "/nothing", count);
    canned.quit();
    canned.wait();
    server.stop();

    report(QStringLiteral("404 answer, one keep-alive connection"), portalUs, QStringLiteral("us"),
           floorUs);
    report(QStringLiteral("404 answers per second"), 1e6 / portalUs, QStringLiteral("1/s"));
}

static BenchRegistrar reg("portal", run);

} // namespace
