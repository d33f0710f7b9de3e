// The display, code search and mark step as operations, without any window: each ends once with
// finished(), never from inside start(); a cancelled one says nothing more; a paused search
// judges no candidate until it is resumed; a mark step follows marks changed between two
// candidates. Against the portal in the process, the clock of the unreachable rule a fake one.
#include "chart/displayoperation.h"
#include "chart/searchoperation.h"
#include "files.h"
#include "platform/multitransfer.h"
#include "platform/serverconfig.h"
#include "settings/settingsstore.h"
#include "table.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using Outcome = chart::SearchOperation::Outcome;

Q_DECLARE_METATYPE(Outcome)

class TestOperations : public QObject {
    Q_OBJECT

    std::unique_ptr<chart::ChartRetrieval> retrievalAt(const QString& base) {
        return std::make_unique<chart::ChartRetrieval>(
            *m_transfer, platform::ServerConfig::allAt(base), m_folder.path());
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_portal.started()); }
    void init() {
        QVERIFY(m_portal.restart());
        QVERIFY(m_folder.renew());
        m_transfer = std::make_unique<platform::MultiTransfer>();
        m_options = chart::ChartOptions::read(settings::SettingsStore(m_folder.filePath("s.ini")));
        m_options.detail = true;
    }
    void cleanup() { m_transfer.reset(); }

    void display_data() {
        testing::columns<QString, bool, int, bool>({"code", "detail", "panes", "failed"});
        const QString served = m_portal.codeUnder(QStringLiteral(".t"));
        QTest::newRow("served, detail page on") << served << true << 4 << false;
        QTest::newRow("served, detail page off") << served << false << 4 << false;
        QTest::newRow("under another suffix")
            << m_portal.codeUnder(QStringLiteral(".n")) << true << 4 << false;
        QTest::newRow("not listed") << QStringLiteral("1000") << true << 0 << true;
    }
    void display() {
        QFETCH(QString, code);
        QFETCH(bool, detail);
        QFETCH(int, panes);
        QFETCH(bool, failed);
        auto retrieval = retrievalAt(m_portal.base());
        chart::DisplayOperation op(*retrieval);
        QSignalSpy shown(&op, &chart::DisplayOperation::paneShown);
        QSignalSpy finished(&op, &chart::DisplayOperation::finished);
        chart::ChartOptions options = m_options;
        options.detail = detail;
        op.start(code, options);
        // Nothing is announced from inside start().
        QCOMPARE(finished.size(), 0);
        QVERIFY(op.isRunning());
        QVERIFY(finished.wait(30000));
        QCOMPARE(finished.size(), 1);
        QVERIFY(!op.isRunning());
        QCOMPARE(op.result().failed, failed);
        QCOMPARE(shown.size(), panes);
        for (const QList<QVariant>& pane : shown)
            QVERIFY(testing::fileBytes(pane.at(1).toString()).startsWith("GIF8"));
        // The detail page only after charts, and only when asked for.
        QCOMPARE(op.detailAddress().endsWith(QLatin1String("#ZELK")), detail && !failed);
        QCOMPARE(QFile::exists(retrieval->detailFilePath()), detail && !failed);
    }

    void cancelledDisplaySaysNothing() {
        m_portal.server().setFaults(testing::slowBy(300));
        auto retrieval = retrievalAt(m_portal.base());
        chart::DisplayOperation op(*retrieval);
        QSignalSpy finished(&op, &chart::DisplayOperation::finished);
        op.start(m_portal.codeUnder(QStringLiteral(".t")), m_options);
        op.cancel();
        QVERIFY(!finished.wait(800));
        QVERIFY(op.result().cancelled);
        QVERIFY(op.result().failed);
    }

    void codeSearch_data() {
        testing::columns<QString, bool, Outcome>({"from", "reachable", "outcome"});
        QTest::newRow("a served code ahead") << QStringLiteral("1300") << true << Outcome::Found;
        QTest::newRow("no number") << QStringLiteral("abc") << true << Outcome::NotACode;
        QTest::newRow("nothing answers")
            << QStringLiteral("4674") << false << Outcome::ServerUnreachable;
    }
    void codeSearch() {
        QFETCH(QString, from);
        QFETCH(bool, reachable);
        QFETCH(Outcome, outcome);
        auto retrieval = retrievalAt(reachable ? m_portal.base() : testing::deadBase());
        // Every look at the clock is ten seconds on: a refused streak is long at once.
        qint64 now = 0;
        chart::CodeSearchOperation op(*retrieval, m_options, {}, [&now] { return now += 10000; });
        QSignalSpy judged(&op, &chart::SearchOperation::candidateJudged);
        QSignalSpy finished(&op, &chart::SearchOperation::finished);
        op.start(from, chart::StepDirection::Up);
        QCOMPARE(finished.size(), 0);
        QVERIFY(finished.wait(60000));
        QCOMPARE(op.outcome(), outcome);
        const auto winner = op.takeWinner();
        QCOMPARE(winner != nullptr, outcome == Outcome::Found);
        if (winner) {
            // The first listed code above 1300, unshown: no file written yet.
            int first = 1301;
            while (m_portal.server().suffixFor(QString::number(first)).isEmpty())
                ++first;
            QCOMPARE(winner->code(), QString::number(first));
            QCOMPARE(judged.last().at(0).toString(), winner->code());
            QVERIFY(!QFile::exists(retrieval->termFilePath(0)));
        }
    }

    void pausedSearchJudgesNothing() {
        m_portal.server().setFaults(testing::slowBy(20));
        auto retrieval = retrievalAt(m_portal.base());
        chart::CodeSearchOperation op(*retrieval, m_options, {});
        QSignalSpy judged(&op, &chart::SearchOperation::candidateJudged);
        QSignalSpy finished(&op, &chart::SearchOperation::finished);
        // Upward from 9998: some three hundred unlisted codes before the first listed one.
        op.start(QStringLiteral("9998"), chart::StepDirection::Up);
        QTRY_VERIFY(judged.size() >= 2);
        op.pause();
        const auto atPause = judged.size();
        // Every probe under way has its answers by then.
        QTest::qWait(500);
        QCOMPARE(judged.size(), atPause);
        QVERIFY(op.isRunning());
        op.resume();
        QTRY_VERIFY(judged.size() > atPause);
        op.cancel();
        QVERIFY(!finished.wait(200));
        QCOMPARE(op.outcome(), Outcome::Cancelled);
    }

    void markStep_data() {
        // marks: the mark line; change: the line put in place once the first candidate is judged
        // (empty: none, "-": emptied); position: where the step ends.
        testing::columns<QString, QString, Outcome, int>(
            {"marks", "change", "outcome", "position"});
        const QString served = m_portal.codeUnder(QStringLiteral(".t"));
        const QString other = m_portal.codeUnder(QStringLiteral(".j"));
        QTest::newRow("first mark served")
            << served + QStringLiteral(",") << QString() << Outcome::Found << 1;
        QTest::newRow("past unlisted marks")
            << QStringLiteral("1000,1001,") + served + QStringLiteral(",") << QString()
            << Outcome::Found << 3;
        QTest::newRow("none served")
            << QStringLiteral("1000,1001,") << QString() << Outcome::NoMarkShown << 1;
        // The marks change under the look-ahead: the step goes on from the new marks.
        QTest::newRow("marks changed meanwhile")
            << QStringLiteral("1000,1001,1002,")
            << QStringLiteral("1000,") + other + QLatin1Char(',') << Outcome::Found << 2;
        QTest::newRow("marks emptied meanwhile")
            << QStringLiteral("1000,1001,1002,") << QStringLiteral("-") << Outcome::Ended << 0;
    }
    void markStep() {
        QFETCH(QString, marks);
        QFETCH(QString, change);
        QFETCH(Outcome, outcome);
        QFETCH(int, position);
        auto retrieval = retrievalAt(m_portal.base());
        QString line = marks;
        int at = 0;
        chart::MarkStepOperation op(*retrieval, m_options,
                                    {[&] { return line; }, [&] { return at; },
                                     [&](int p) {
                                         at = p;
                                     }});
        QSignalSpy finished(&op, &chart::SearchOperation::finished);
        if (!change.isEmpty()) {
            // Between two turns, as a click on マーク設定 or マーク解除 comes.
            connect(
                &op, &chart::SearchOperation::candidateJudged, &op,
                [&] {
                    if (line == marks)
                        line = change == QLatin1String("-") ? QString() : change;
                },
                Qt::QueuedConnection);
        }
        op.start(chart::StepDirection::Up);
        QVERIFY(finished.wait(60000));
        QCOMPARE(op.outcome(), outcome);
        if (outcome != Outcome::Ended)
            QCOMPARE(at, position);
    }

private:
    testing::TestPortal m_portal;
    testing::FreshFolder m_folder;
    std::unique_ptr<platform::MultiTransfer> m_transfer;
    chart::ChartOptions m_options;
};

// The portal in the process draws its charts with the GUI module; the operations use no widget.
QTEST_MAIN(TestOperations)
#include "tst_operations.moc"
