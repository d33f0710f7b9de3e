#include "chart/chartretrieval.h"
#include "chart/composition.h"
#include "files.h"
#include "operations.h"
#include "platform/multitransfer.h"
#include "platform/serverconfig.h"
#include "platform/transfer.h"
#include "searchlog.h"
#include "settings/settingsstore.h"
#include "table.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QMap>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

using testing::kDefaultTerms;
using testing::sameWalkForEveryTerm;

} // namespace

// The terms of one display fetched side by side against the portal, judged by what a display
// one transfer after another leaves: the same images in the same panes and files, the same
// failure, and each term asking the suffixes in the same order.
class TestDisplayFetch : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_portal.started()); }

    void init() {
        QVERIFY(m_portal.restart());
        QVERIFY(m_folder.renew());
        m_transfer = std::make_unique<platform::MultiTransfer>();
        m_retrieval = std::make_unique<chart::ChartRetrieval>(
            *m_transfer, platform::ServerConfig::allAt(m_portal.base()), m_folder.path());
        // No keys: the default terms and overlays.
        m_options = chart::ChartOptions::read(settings::SettingsStore(m_folder.filePath("s.ini")));
    }

    void cleanup() {
        m_retrieval.reset();
        m_transfer.reset();
    }

    void delayedDisplay_data() { testing::suffixRows(); }

    void delayedDisplay() {
        QFETCH(QString, suffix);
        const QString code = m_portal.codeUnder(suffix);
        QVERIFY2(!code.isEmpty(), qPrintable(suffix));
        m_portal.server().setFaults(testing::slowBy(30));

        const Display shown = display(code);

        QVERIFY(!shown.result.failed);
        QCOMPARE(shown.result.fetchedTerms, kDefaultTerms.size());
        QCOMPARE(shown.walks,
                 sameWalkForEveryTerm(
                     code, testing::kSuffixes.mid(0, testing::kSuffixes.indexOf(suffix) + 1)));
        m_portal.server().setFaults({});
        // The default terms are the first four, so each pane shows the term of its own index.
        for (int pane = 0; pane < kDefaultTerms.size(); ++pane) {
            const QByteArray expected = chartOf(code, suffix, pane);
            QVERIFY(expected.startsWith("GIF"));
            QVERIFY2(shown.panes.value(pane) == expected, qPrintable(kDefaultTerms[pane]));
            const QString file = m_retrieval->termFilePath(pane);
            QVERIFY2(testing::fileBytes(file) == expected, qPrintable(file));
        }
        QCOMPARE(m_transfer->pending(), 0);
    }

    void failingTermInTheMiddle() {
        const QString code = m_portal.codeUnder(QStringLiteral(".t"));
        portal::Faults faults;
        faults.missingTerm = QStringLiteral("6m");
        m_portal.server().setFaults(faults);

        const Display shown = display(code);

        // Failed at the six-month term, as a display in order fails: the terms before it in their
        // files, nothing after it written, the code (not the server) to blame.
        QVERIFY(shown.result.failed);
        QCOMPARE(shown.result.fetchedTerms, 2);
        QVERIFY(!shown.result.serverUnreachable());
        QCOMPARE(shown.walks.value(QStringLiteral("6m")),
                 sameWalkForEveryTerm(code, testing::kSuffixes).value("6m"));
        for (int term : {0, 1})
            QVERIFY(QFile(m_retrieval->termFilePath(term)).size() > 0);
        for (int term : {2, 3})
            QVERIFY(!QFile::exists(m_retrieval->termFilePath(term)));
        // Nothing is left running behind the failure.
        QCOMPARE(m_transfer->pending(), 0);
    }

    void rememberedSuffix_data() {
        // The code's own suffix, where the portal moves it before the second display (empty: it
        // stays), and the suffixes each term asks the first and the second time.
        testing::columns<QString, QString, QStringList, QStringList>(
            {"suffix", "movedTo", "first", "second"});
        const QStringList& all = testing::kSuffixes;
        QTest::newRow(".n stays") << ".n"
                                  << "" << all << QStringList{".n"};
        QTest::newRow(".t stays") << ".t"
                                  << "" << QStringList{".t"} << QStringList{".t"};
        QTest::newRow(".t moves to .o") << ".t"
                                        << ".o" << QStringList{".t"} << all.mid(0, 4);
        QTest::newRow(".o moves to .t") << ".o"
                                        << ".t" << all.mid(0, 4) << QStringList{".o", ".t"};
        QTest::newRow(".n moves to .j") << ".n"
                                        << ".j" << all << QStringList{".n", ".t", ".j"};
    }

    void rememberedSuffix() {
        QFETCH(QString, suffix);
        QFETCH(QString, movedTo);
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        const QString code = m_portal.codeUnder(suffix);

        const Display before = display(code);
        QVERIFY(!before.result.failed);
        QCOMPARE(before.walks, sameWalkForEveryTerm(code, first));

        if (!movedTo.isEmpty()) {
            portal::Faults moved;
            moved.movedCode = code;
            moved.movedSuffix = movedTo;
            m_portal.server().setFaults(moved);
        }
        const Display after = display(code);
        QVERIFY(!after.result.failed);
        QCOMPARE(after.walks, sameWalkForEveryTerm(code, second));
        QCOMPARE(after.panes.size(), kDefaultTerms.size());

        // Once it has answered, the new suffix is asked first.
        const Display third = display(code);
        QCOMPARE(third.walks, sameWalkForEveryTerm(code, {movedTo.isEmpty() ? suffix : movedTo}));
    }

    void boundOnADisplay() {
        // A server that answers every chart with a GIF that never ends: a byte now and then keeps
        // each transfer's own time-out from ever running out.
        QTcpServer dripping;
        QVERIFY(dripping.listen(QHostAddress::LocalHost));
        QTimer drip;
        QList<QTcpSocket*> clients;
        QObject::connect(&dripping, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket* socket = dripping.nextPendingConnection()) {
                clients << socket;
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [socket] {
                    socket->readAll();
                    socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nGIF89a");
                });
            }
        });
        QObject::connect(&drip, &QTimer::timeout, this, [&] {
            for (QTcpSocket* socket : std::as_const(clients)) {
                if (socket->state() == QAbstractSocket::ConnectedState)
                    socket->write("x");
            }
        });
        drip.start(50);
        const QString base = QStringLiteral("http://127.0.0.1:%1").arg(dripping.serverPort());
        chart::ChartRetrieval retrieval(*m_transfer, platform::ServerConfig::allAt(base),
                                        m_folder.path());
        retrieval.setBoundMs(500);

        int shown = 0;
        const chart::RetrievalResult result =
            testing::runDisplay(retrieval, QStringLiteral("4674"), m_options,
                                [&](int, const QString&, const QByteArray&) { ++shown; });

        // Ended by the bound: a failure that a search counts as an unanswered candidate.
        QVERIFY(result.failed);
        QVERIFY(result.timedOut);
        QVERIFY(result.serverUnreachable());
        QCOMPARE(shown, 0);
        QCOMPARE(m_transfer->pending(), 0);
    }

private:
    struct Display {
        chart::RetrievalResult result;
        QMap<int, QByteArray> panes;
        QMap<QString, QStringList> walks; // term -> the "CODE.SFX" it asked, in order
    };
    Display display(const QString& code);
    // What the term's chart is under the code's own suffix, fetched on its own.
    QByteArray chartOf(const QString& code, const QString& suffix, int term);

    testing::TestPortal m_portal;
    testing::FreshFolder m_folder;
    std::unique_ptr<platform::MultiTransfer> m_transfer;
    std::unique_ptr<chart::ChartRetrieval> m_retrieval;
    chart::ChartOptions m_options;
};

TestDisplayFetch::Display TestDisplayFetch::display(const QString& code) {
    Display out;
    m_portal.clearLog();
    out.result = testing::runDisplay(
        *m_retrieval, code, m_options,
        [&](int pane, const QString&, const QByteArray& bytes) { out.panes.insert(pane, bytes); });
    out.walks = testing::chartWalks(m_portal.targets());
    return out;
}

QByteArray TestDisplayFetch::chartOf(const QString& code, const QString& suffix, int term) {
    const chart::Term& t = chart::terms()[term];
    const QString base = m_portal.base();
    const QString address =
        t.kind == chart::TermKind::Intraday
            ? chart::intradayAddress(base, code, suffix)
            : chart::technicalAddress(
                  base, code, suffix,
                  chart::termParameters(m_options, chart::parameterString(m_options), t), t);
    platform::Transfer own;
    return own.fetch(address).body;
}

QTEST_MAIN(TestDisplayFetch)
#include "tst_displayfetch.moc"
