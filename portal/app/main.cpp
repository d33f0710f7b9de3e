// quote-portal: the stand-in quote portal as a program.
#include "prices/priceexport.h"
#include "prices/priceimport.h"
#include "prices/pricerefresh.h"
#include "server/portalserver.h"
#include "sync/backgroundsync.h"
#include "sync/synccommand.h"

#include <QCommandLineParser>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char** argv) {
    // Subcommands that work on the data folder and end; no server, no drawing.
    using Command = int (*)(const QStringList&, const QString&, QTextStream&, QTextStream&);
    const std::pair<const char*, Command> commands[] = {
        {"import", portal::runImport},   {"export", portal::runExport},
        {"refresh", portal::runRefresh}, {"sync", portal::sync::runSync},
        {"key", portal::sync::runKey},   {"status", portal::sync::runStatus},
    };
    for (const auto& [name, run] : commands) {
        if (argc > 1 && qstrcmp(argv[1], name) == 0) {
            QCoreApplication app(argc, argv);
            QTextStream out(stdout), err(stderr);
            return run(app.arguments().mid(2), QCoreApplication::applicationDirPath(), out, err);
        }
    }
    // Charts are drawn into images; no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quote-portal"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Stand-in quote portal with technical charts"));
    parser.addHelpOption();
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Address and port (default 127.0.0.1:8470)."),
                                    QStringLiteral("host:port"), QStringLiteral("127.0.0.1:8470"));
    const QCommandLineOption dataDir = portal::dataFolderOption();
    const QCommandLineOption asOf(QStringLiteral("as-of"),
                                  QStringLiteral("Last trading day of synthetic histories."),
                                  QStringLiteral("yyyy-mm-dd"));
    const QCommandLineOption delay(QStringLiteral("delay-ms"),
                                   QStringLiteral("Wait this long before every answer."),
                                   QStringLiteral("ms"));
    const QCommandLineOption drop(QStringLiteral("drop"),
                                  QStringLiteral("Close every connection without an answer."));
    const QCommandLineOption status500(QStringLiteral("status-500"),
                                       QStringLiteral("Answer every request with status 500."));
    const QCommandLineOption nonImage(QStringLiteral("non-image-code"),
                                      QStringLiteral("Charts of this code answer text, no image."),
                                      QStringLiteral("code"));
    const QCommandLineOption marker(
        QStringLiteral("marker"), QStringLiteral("Detail page marker: absent, twice or offset:N."),
        QStringLiteral("how"));
    parser.addOptions({listen, dataDir, asOf, delay, drop, status500, nonImage, marker});
    const portal::ServerLimits defaults;
    const QCommandLineOption maxConnections(
        QStringLiteral("max-connections"),
        QStringLiteral("Connections open at once (default %1).").arg(defaults.maxConnections),
        QStringLiteral("n"));
    const QCommandLineOption idleTimeout(
        QStringLiteral("idle-timeout-ms"),
        QStringLiteral("Close a connection idle this long (default %1).")
            .arg(defaults.idleTimeoutMs),
        QStringLiteral("ms"));
    const QCommandLineOption maxHead(
        QStringLiteral("max-header-bytes"),
        QStringLiteral("Largest request head (default %1).").arg(defaults.maxHeadBytes),
        QStringLiteral("bytes"));
    const QCommandLineOption headerTimeout(
        QStringLiteral("header-timeout-ms"),
        QStringLiteral("Close a connection whose request head takes longer (default %1).")
            .arg(defaults.headerTimeoutMs),
        QStringLiteral("ms"));
    parser.addOptions({maxConnections, idleTimeout, maxHead, headerTimeout});
    parser.process(app);

    const QString listenText = parser.value(listen);
    const int colon = listenText.lastIndexOf(QLatin1Char(':'));
    bool portOk = false;
    const int port = listenText.mid(colon + 1).toInt(&portOk);
    const QHostAddress host(
        colon > 0 ? listenText.left(colon).remove(QLatin1Char('[')).remove(QLatin1Char(']'))
                  : QString());
    if (colon <= 0 || !portOk || port < 0 || port > 65535 || host.isNull()) {
        std::fprintf(stderr, "quote-portal: --listen wants HOST:PORT, got \"%s\"\n",
                     qPrintable(listenText));
        return 2;
    }

    portal::PortalOptions options;
    options.dataDir = portal::dataFolderFrom(parser, QCoreApplication::applicationDirPath());
    if (parser.isSet(asOf)) {
        options.asOf = QDate::fromString(parser.value(asOf), Qt::ISODate);
        if (!options.asOf.isValid()) {
            std::fprintf(stderr, "quote-portal: --as-of wants YYYY-MM-DD\n");
            return 2;
        }
    }

    portal::ServerLimits limits;
    const auto positive = [&parser](const QCommandLineOption& option, int& value) {
        if (!parser.isSet(option))
            return true;
        bool ok = false;
        const int n = parser.value(option).toInt(&ok);
        if (!ok || n <= 0) {
            std::fprintf(stderr, "quote-portal: --%s wants a number above 0\n",
                         qPrintable(option.names().constFirst()));
            return false;
        }
        value = n;
        return true;
    };
    if (!positive(maxConnections, limits.maxConnections) ||
        !positive(idleTimeout, limits.idleTimeoutMs) || !positive(maxHead, limits.maxHeadBytes) ||
        !positive(headerTimeout, limits.headerTimeoutMs))
        return 2;

    portal::Faults faults;
    faults.delayMs = parser.value(delay).toInt();
    faults.dropConnection = parser.isSet(drop);
    faults.status500 = parser.isSet(status500);
    faults.nonImageCode = parser.value(nonImage);
    if (parser.isSet(marker)) {
        const QString m = parser.value(marker);
        if (m == QLatin1String("absent")) {
            faults.marker = portal::Faults::Marker::Absent;
        } else if (m == QLatin1String("twice")) {
            faults.marker = portal::Faults::Marker::Twice;
        } else if (m.startsWith(QLatin1String("offset:"))) {
            bool ok = false;
            faults.markerOffset = m.mid(7).toInt(&ok);
            if (!ok || faults.markerOffset < 0) {
                std::fprintf(stderr, "quote-portal: --marker offset:N wants N >= 0\n");
                return 2;
            }
            faults.marker = portal::Faults::Marker::AtOffset;
        } else {
            std::fprintf(stderr, "quote-portal: --marker wants absent, twice or offset:N\n");
            return 2;
        }
    }

    portal::PortalServer server(options);
    server.setFaults(faults);
    server.setLimits(limits);
    // Only tests read the request log; a portal that runs for days must not grow one.
    server.setKeepRequestLog(false);
    if (!server.start(host, quint16(port))) {
        std::fprintf(stderr, "quote-portal: cannot listen on %s\n", qPrintable(listenText));
        return 1;
    }
    const QString shownHost = host.protocol() == QAbstractSocket::IPv6Protocol
                                  ? QStringLiteral("[%1]").arg(host.toString())
                                  : host.toString();
    std::printf("listening on http://%s:%u\n", qPrintable(shownHost), unsigned(server.port()));
    std::fflush(stdout);

    // With a key set and [jquants] sync=true in the data folder's quote-portal.ini, the store is
    // kept current while the portal runs.
    portal::sync::BackgroundSync background(options.dataDir);
    background.start();

    return app.exec();
}
