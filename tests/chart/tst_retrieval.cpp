#include "chart/chartretrieval.h"
#include "files.h"
#include "operations.h"
#include "platform/multitransfer.h"
#include "platform/serverconfig.h"
#include "platform/transfer.h"
#include "searchlog.h"
#include "settings/settingsstore.h"
#include "table.h"
#include "testsupport.h"

#include <algorithm>

#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>

Q_DECLARE_METATYPE(portal::Faults)

namespace {
using Stored = QMap<QString, QString>;

const char* const kMarker = "<!-- AD END Location: CT";
const QByteArray kAnchored = "<h3 id=\"ZELK\"></h3>         ";

// What the log shows for a chart request: path and query exactly as the viewer sends them.
QString intraday(const QString& code, const QString& exchange) {
    return QStringLiteral("/c/1d/%1/%2%3.gif").arg(code.left(1), code, exchange);
}
QString technical(const QString& code, const QString& exchange, const QString& pair,
                  const QString& term) {
    return QStringLiteral("/z?s=%1%2&a=v&p=%3&t=%4&l=off&z=m&q=c").arg(code, exchange, pair, term);
}

// Every exchange up to and including the one the code is served under.
QStringList exchangesUpTo(const QString& served) {
    QStringList out;
    for (const QString& e : testing::kSuffixes) {
        out << e;
        if (e == served)
            break;
    }
    return out;
}

struct Pane {
    int index;
    QString path;
};

// The log's chart requests grouped by term ("1d", "3m", ...), each in the order it was made.
QMap<QString, QStringList> byTerm(const QStringList& targets, const QString& code) {
    QMap<QString, QStringList> out;
    for (const QString& t : targets) {
        if (t.contains(code))
            out[testing::termOf(t)] << t;
    }
    return out;
}
} // namespace

Q_DECLARE_METATYPE(Stored)

// The chart terms and the detail page of one display, with the portal's request log as the
// witness of every transfer.
class TestRetrieval : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_portal.started()); }

    void init() {
        QVERIFY(m_folder.renew());
        platform::Transfer::Options o;
        o.connectTimeoutMs = 1000;
        o.totalTimeoutMs = 1500;
        m_transfer = std::make_unique<platform::MultiTransfer>(o);
        m_portal.server().setFaults({});
        m_portal.clearLog();
    }

    void cleanup() { m_portal.server().setFaults({}); }

    void terms_data() {
        // served: the exchange the chosen code is served under ("": a code nobody serves);
        // nonImage: the portal answers the code's charts with "G" text that is no image.
        // termsOn: the term names of the enabled terms, in order
        testing::columns<Stored, QString, bool, QStringList>(
            {"stored", "served", "nonImage", "termsOn"});

        QTest::newRow("default four terms, code under .t")
            << Stored{} << ".t" << false << QStringList{"1d", "3m", "6m", "1y"};
        QTest::newRow("default four terms, code under .o")
            << Stored{} << ".o" << false << QStringList{"1d", "3m", "6m", "1y"};
        QTest::newRow("code under .n")
            << Stored{} << ".n" << false << QStringList{"1d", "3m", "6m", "1y"};
        QTest::newRow("unknown code")
            << Stored{} << "" << false << QStringList{"1d", "3m", "6m", "1y"};
        QTest::newRow("five terms") << Stored{{"TERM2y", "1"}} << ".t" << false
                                    << QStringList{"1d", "3m", "6m", "1y", "2y"};
        QTest::newRow("four terms in the two-pane arrangement")
            << Stored{{"GRAF", "False"}} << ".t" << false << QStringList{"1d", "3m", "6m", "1y"};
        QTest::newRow("long terms only, overlays of their own")
            << Stored{{"TERM1d", "0"}, {"TERM3m", "0"}, {"TERM6m", "0"},     {"TERM1y", "0"},
                      {"TERM5y", "1"}, {"TERMay", "1"}, {"NORMAL", "False"}, {"AV25d", "0"},
                      {"AV75d", "0"},  {"EAV25d", "0"}, {"EAV75d", "0"},     {"ITEM1", "1"}}
            << ".j" << false << QStringList{"5y", "ay"};
        QTest::newRow("no term at all")
            << Stored{{"TERM1d", "0"}, {"TERM3m", "0"}, {"TERM6m", "0"}, {"TERM1y", "0"}} << ".t"
            << false << QStringList{};
        QTest::newRow("answers beginning with G that are no image")
            << Stored{} << ".t" << true << QStringList{"1d", "3m", "6m", "1y"};
    }

    void terms() {
        QFETCH(Stored, stored);
        QFETCH(QString, served);
        QFETCH(bool, nonImage);
        QFETCH(QStringList, termsOn);

        QString code = m_portal.codeUnder(served);
        for (int c = 1000; served.isEmpty() && c <= 9999; ++c) {
            if (m_portal.server().suffixFor(QString::number(c)).isEmpty()) {
                code = QString::number(c);
                break;
            }
        }
        QVERIFY2(!code.isEmpty(), qPrintable("no listed code under " + served));
        QCOMPARE(m_portal.server().suffixFor(code), served);
        if (nonImage) {
            portal::Faults f;
            f.nonImageCode = code;
            m_portal.server().setFaults(f);
        }
        const chart::ChartOptions opts = options(stored);
        const bool normal = !stored.contains("NORMAL");
        const QMap<QString, QString> standardPair{{"3m", "m25,m75"},   {"6m", "m25,m75"},
                                                  {"1y", "m65,m130"},  {"2y", "m65,m130"},
                                                  {"5y", "m130,m260"}, {"ay", "m130,m260"}};
        const QMap<QString, QString> fileOf{
            {"1d", "temp1.gif"}, {"3m", "temp2.gif"}, {"6m", "temp3.gif"}, {"1y", "temp4.gif"},
            {"2y", "temp5.gif"}, {"5y", "temp6.gif"}, {"ay", "temp7.gif"}};

        // The transfers the log must show, term by term (terms run side by side, so only the order
        // within a term is fixed): every term from ".t" again up to the served exchange; for an
        // unknown code the first term under all five, and the others no further than that.
        QMap<QString, QStringList> expected;
        const QStringList tried = exchangesUpTo(served);
        for (const QString& term : termsOn) {
            for (const QString& e : tried) {
                expected[term] << (term == "1d"
                                       ? intraday(code, e)
                                       : technical(code, e, normal ? standardPair[term] : "b",
                                                   term));
            }
        }

        const auto servers = platform::ServerConfig::allAt(m_portal.base());
        chart::ChartRetrieval retrieval(*m_transfer, servers, m_folder.path());
        QList<Pane> panes;
        const chart::RetrievalResult result = testing::runDisplay(
            retrieval, code, opts, [&](int pane, const QString& path, const QByteArray&) {
                panes << Pane{pane, path};
            });

        const QMap<QString, QStringList> seen = byTerm(m_portal.targets(), code);
        QCOMPARE(result.unreachable, 0);
        QVERIFY(!result.serverUnreachable());

        if (served.isEmpty()) {
            QCOMPARE(seen.value(termsOn.first()), expected.value(termsOn.first()));
            for (auto it = seen.begin(); it != seen.end(); ++it) {
                QVERIFY2(termsOn.contains(it.key()), qPrintable(it.key()));
                QCOMPARE(it.value(), expected.value(it.key()).mid(0, it.value().size()));
            }
            QVERIFY(result.transfers >= 5);
            QVERIFY(result.failed);
            QVERIFY(panes.isEmpty());
            QVERIFY(QDir(m_folder.path()).entryList({"temp*"}).isEmpty());
            return;
        }
        QCOMPARE(seen, expected);
        QCOMPARE(result.transfers, m_portal.targets().size());
        QVERIFY(!result.failed);
        QCOMPARE(result.fetchedTerms, termsOn.size());
        QCOMPARE(panes.size(), termsOn.size());
        // Panes are painted as their terms arrive, in whatever order that is.
        std::sort(panes.begin(), panes.end(),
                  [](const Pane& a, const Pane& b) { return a.index < b.index; });
        for (int i = 0; i < termsOn.size(); ++i) {
            QCOMPARE(panes[i].index, i);
            QCOMPARE(QFileInfo(panes[i].path).absoluteFilePath(),
                     QFileInfo(m_folder.filePath(fileOf[termsOn[i]])).absoluteFilePath());
            const QByteArray bytes = testing::fileBytes(m_folder.filePath(fileOf[termsOn[i]]));
            QVERIFY(bytes.startsWith("G"));
            // A real chart loads as a picture; a "G" text is written all the same and loads as
            // none.
            QCOMPARE(QImage(panes[i].path).isNull(), nonImage);
            if (!nonImage)
                QVERIFY(bytes.startsWith("GIF8"));
        }
        // Terms that are off write nothing.
        QCOMPARE(QDir(m_folder.path()).entryList({"temp*.gif"}).size(), termsOn.size());
    }

    void termsOffKeepTheirFiles() {
        // A file of a term that is off keeps what an earlier display wrote; a fetched term's file
        // is replaced whole, however long it was.
        QFile old(m_folder.filePath("temp7.gif"));
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("left from an earlier display");
        old.close();
        QFile longer(m_folder.filePath("temp1.gif"));
        QVERIFY(longer.open(QIODevice::WriteOnly));
        longer.write(QByteArray(4 * 1024 * 1024, 'x'));
        longer.close();

        const QString code = m_portal.codeUnder(".t");
        const auto servers = platform::ServerConfig::allAt(m_portal.base());
        chart::ChartRetrieval retrieval(*m_transfer, servers, m_folder.path());
        const auto result = testing::runDisplay(retrieval, code, options({}), {});
        QVERIFY(!result.failed);
        QCOMPARE(testing::fileBytes(m_folder.filePath("temp7.gif")),
                 QByteArray("left from an earlier display"));
        QVERIFY(!QImage(m_folder.filePath("temp1.gif")).isNull());
        QVERIFY(testing::fileBytes(m_folder.filePath("temp1.gif")).size() < 4 * 1024 * 1024);
    }

    void serverNotListening() {
        const quint16 port = testing::closedPort();
        QVERIFY(port != 0);
        const auto nobody =
            platform::ServerConfig::allAt(QStringLiteral("http://127.0.0.1:%1").arg(port));
        chart::ChartRetrieval retrieval(*m_transfer, nobody, m_folder.path());
        int shown = 0;
        const auto result =
            testing::runDisplay(retrieval, "4674", options({}),
                                [&](int, const QString&, const QByteArray&) { ++shown; });
        QVERIFY(result.failed);
        // The other terms ran beside the first until it failed.
        QVERIFY(result.transfers >= 5);
        QCOMPARE(result.unreachable, result.transfers);
        QVERIFY(result.serverUnreachable());
        QCOMPARE(shown, 0);

        // An error page on every request is an answer: the server is there, the code is not.
        portal::Faults errors;
        errors.status500 = true;
        m_portal.server().setFaults(errors);
        const auto portalServers = platform::ServerConfig::allAt(m_portal.base());
        chart::ChartRetrieval answering(*m_transfer, portalServers, m_folder.path());
        const auto refused =
            testing::runDisplay(answering, m_portal.codeUnder(".t"), options({}), {});
        QVERIFY(refused.failed);
        QVERIFY(refused.transfers >= 5);
        QCOMPARE(refused.unreachable, 0);
        QVERIFY(!refused.serverUnreachable());
    }

    void detailPage_data() {
        // offsets: where the portal puts the marker (none: absent); anchoredAt: where the anchor
        // must appear in the written file (-1: page written unchanged).
        testing::columns<portal::Faults, int>({"faults", "anchoredAt"});

        portal::Faults normal;
        QTest::newRow("the portal's own page") << normal << -2; // -2: where the page has it
        portal::Faults at0;
        at0.marker = portal::Faults::Marker::AtOffset;
        at0.markerOffset = 0;
        QTest::newRow("marker at 0") << at0 << 0;
        portal::Faults at15000 = at0;
        at15000.markerOffset = 15000;
        QTest::newRow("marker at 15000") << at15000 << 15000;
        portal::Faults at15001 = at0;
        at15001.markerOffset = 15001;
        QTest::newRow("marker at 15001") << at15001 << -1;
        portal::Faults twice;
        twice.marker = portal::Faults::Marker::Twice;
        QTest::newRow("marker twice") << twice << -2;
        portal::Faults absent;
        absent.marker = portal::Faults::Marker::Absent;
        QTest::newRow("marker absent") << absent << -1;
    }

    void detailPage() {
        QFETCH(portal::Faults, faults);
        QFETCH(int, anchoredAt);

        const QString code = m_portal.codeUnder(".t");
        m_portal.server().setFaults(faults);
        // The page as the portal serves it, fetched by a transfer of its own.
        platform::Transfer own;
        const platform::FetchResult served =
            own.fetch(m_portal.base() + "/q?s=" + code + "&d=t&k=c3&h=on&z=m");
        QVERIFY(served.answered());
        const QByteArray page = served.body;
        if (anchoredAt == -2) {
            anchoredAt = int(page.indexOf(kMarker));
            QVERIFY(anchoredAt >= 0 && anchoredAt <= 15000);
        }
        // An earlier display's page must not survive.
        QFile earlier(m_folder.filePath("temp2.html"));
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write(QByteArray(60000, 'e'));
        earlier.close();
        m_portal.clearLog();

        const auto servers = platform::ServerConfig::allAt(m_portal.base());
        chart::ChartRetrieval retrieval(*m_transfer, servers, m_folder.path());
        const QString address = testing::runDetailPage(retrieval, code);

        QCOMPARE(m_portal.targets(), QStringList{"/q?s=" + code + "&d=t&k=c3&h=on&z=m"});
        const QUrl url(address);
        QCOMPARE(url.fragment(), QStringLiteral("ZELK"));
        QCOMPARE(QFileInfo(url.toLocalFile()).absoluteFilePath(),
                 QFileInfo(m_folder.filePath("temp2.html")).absoluteFilePath());

        const QByteArray written = testing::fileBytes(m_folder.filePath("temp2.html"));
        QCOMPARE(written.size(), page.size());
        QByteArray expected = page;
        if (anchoredAt >= 0)
            expected.replace(anchoredAt, kAnchored.size(), kAnchored);
        QCOMPARE(written, expected);
        if (anchoredAt >= 0) {
            // Only the first marker is replaced.
            QCOMPARE(written.indexOf(kMarker), page.indexOf(kMarker, anchoredAt + 1));
        }
    }

    void detailPageWithoutAnswer() {
        QFile earlier(m_folder.filePath("temp2.html"));
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("<html>an earlier code's page</html>");
        earlier.close();

        const quint16 port = testing::closedPort();
        QVERIFY(port != 0);
        const auto nobody =
            platform::ServerConfig::allAt(QStringLiteral("http://127.0.0.1:%1").arg(port));
        chart::ChartRetrieval refused(*m_transfer, nobody, m_folder.path());
        const QString address = testing::runDetailPage(refused, "4674");
        QVERIFY(address.endsWith("temp2.html#ZELK"));
        QVERIFY(QFileInfo::exists(m_folder.filePath("temp2.html")));
        QCOMPARE(testing::fileBytes(m_folder.filePath("temp2.html")), QByteArray());

        // A connection dropped without an answer likewise leaves an empty page.
        earlier.open(QIODevice::WriteOnly);
        earlier.write("<html>an earlier code's page</html>");
        earlier.close();
        portal::Faults drop;
        drop.dropConnection = true;
        m_portal.server().setFaults(drop);
        const auto portalServers = platform::ServerConfig::allAt(m_portal.base());
        chart::ChartRetrieval dropped(*m_transfer, portalServers, m_folder.path());
        testing::runDetailPage(dropped, m_portal.codeUnder(".t"));
        QCOMPARE(testing::fileBytes(m_folder.filePath("temp2.html")), QByteArray());
    }

private:
    chart::ChartOptions options(const Stored& stored) {
        settings::SettingsStore store(m_folder.filePath("settings.ini"));
        for (auto it = stored.begin(); it != stored.end(); ++it)
            store.SaveSetting(settings::kSetup, it.key(), it.value());
        return chart::ChartOptions::read(store);
    }

    testing::TestPortal m_portal;
    testing::FreshFolder m_folder;
    std::unique_ptr<platform::MultiTransfer> m_transfer;
};

QTEST_MAIN(TestRetrieval)
#include "tst_retrieval.moc"
