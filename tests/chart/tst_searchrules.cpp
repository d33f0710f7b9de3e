// The rules of code and mark stepping, without a window, a server or a timer: which candidate
// comes next, and when a search ends, on a fake clock.

#include "chart/searchrules.h"
#include "table.h"

#include <QtTest>

#include <iterator>

using chart::CandidateOutcome;
using chart::CodeSearch;
using chart::MarkSearch;
using chart::SearchVerdict;
using chart::StepDirection;

namespace {

// How a verdict reads when a row fails, in the order of SearchVerdict.
QString verdictName(SearchVerdict v) {
    static const char* const names[] = {"continue", "found", "no code found", "unreachable"};
    static_assert(int(SearchVerdict::ServerUnreachable) + 1 == std::size(names));
    return QString::fromLatin1(names[int(v)]);
}

// One candidate of a scripted search: "CODE OUTCOME START END", the outcome D (displayed),
// M (missed) or U (missed, no answer at all), the times in ms on the fake clock when the
// candidate starts and when its outcome is judged.
struct Trial {
    QString code;
    CandidateOutcome outcome;
    qint64 start, end;
};

Trial parseTrial(const QString& text) {
    const QStringList f = text.split(QLatin1Char(' '));
    const QChar o = f.value(1).at(0);
    const CandidateOutcome outcome = o == QLatin1Char('D')   ? CandidateOutcome::Displayed
                                     : o == QLatin1Char('U') ? CandidateOutcome::MissedUnreachable
                                                             : CandidateOutcome::Missed;
    return {f.value(0), outcome, f.value(2).toLongLong(), f.value(3).toLongLong()};
}

} // namespace

class TestSearchRules : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Which candidate comes next.
    void candidates_data() {
        // tried: the first four codes a search tries
        testing::columns<QString, int, QStringList>({"codeBox", "step", "tried"});

        QTest::newRow("4674 up") << "4674" << 1 << QStringList{"4675", "4676", "4677", "4678"};
        QTest::newRow("4674 down") << "4674" << -1 << QStringList{"4673", "4672", "4671", "4670"};
        QTest::newRow("9998 up: 9999 only as the first, then the wrap")
            << "9998" << 1 << QStringList{"9999", "1000", "1001", "1002"};
        QTest::newRow("9999 up wraps")
            << "9999" << 1 << QStringList{"1000", "1001", "1002", "1003"};
        QTest::newRow("1001 down wraps")
            << "1001" << -1 << QStringList{"1000", "9999", "9998", "9997"};
        QTest::newRow("0999 up") << "0999" << 1 << QStringList{"1000", "1001", "1002", "1003"};
        QTest::newRow("4674.4 up") << "4674.4" << 1 << QStringList{"4675", "4676", "4677", "4678"};
        QTest::newRow("full-width digits")
            << "４６７４" << 1 << QStringList{"4675", "4676", "4677", "4678"};
        // Jumped over: candidates that can never have four characters.
        QTest::newRow("-1e20 up starts at -999")
            << "-1e20" << 1 << QStringList{"-999", "-998", "-997", "-996"};
        QTest::newRow("-102 up jumps from -100 to 1000")
            << "-102" << 1 << QStringList{"-101", "-100", "1000", "1001"};
        QTest::newRow("5 up jumps to 1000")
            << "5" << 1 << QStringList{"1000", "1001", "1002", "1003"};
        QTest::newRow("1e20 down starts at 9999")
            << "1e20" << -1 << QStringList{"9999", "9998", "9997", "9996"};
        QTest::newRow("12345 up wraps to 1000")
            << "12345" << 1 << QStringList{"1000", "1001", "1002", "1003"};
        QTest::newRow("-500 down wraps to 9999")
            << "-500" << -1 << QStringList{"-501", "9999", "9998", "9997"};
        QTest::newRow("letters: no search") << "abcd" << 1 << QStringList{};
        QTest::newRow("empty: no search") << "" << -1 << QStringList{};
    }

    void candidates() {
        QFETCH(QString, codeBox);
        QFETCH(int, step);
        QFETCH(QStringList, tried);

        const auto dir = StepDirection(step);
        QStringList got;
        if (const auto first = CodeSearch::firstCandidate(codeBox, dir))
            got = QStringList{*first} + CodeSearch::candidatesAfter(*first, dir, 3);
        QCOMPARE(got, tried);
    }

    void alphanumericCandidates_data() {
        // listed: the code list's alphanumeric codes
        // tried: the first four codes a search tries
        testing::columns<QString, int, QStringList, QStringList>(
            {"codeBox", "step", "listed", "tried"});

        const QStringList near{"130A", "131A"};
        QTest::newRow("1309 up") << "1309" << 1 << near
                                 << QStringList{"130A", "1310", "1311", "1312"};
        QTest::newRow("130A up goes on from its place")
            << "130A" << 1 << near << QStringList{"1310", "1311", "1312", "1313"};
        QTest::newRow("1311 down")
            << "1311" << -1 << near << QStringList{"1310", "130A", "1309", "1308"};
        QTest::newRow("lower-case 131a down")
            << "131a" << -1 << near << QStringList{"1319", "1318", "1317", "1316"};
        const QStringList ends{"012A", "999A"};
        QTest::newRow("-102 up meets the codes below the range")
            << "-102" << 1 << ends << QStringList{"-101", "-100", "012A", "1000"};
        QTest::newRow("9999 up") << "9999" << 1 << ends
                                 << QStringList{"012A", "1000", "1001", "1002"};
        QTest::newRow("1001 down wraps past both ends")
            << "1001" << -1 << ends << QStringList{"1000", "012A", "999A", "9999"};
        QTest::newRow("not a code: no search") << "13A0" << 1 << near << QStringList{};
    }

    void alphanumericCandidates() {
        QFETCH(QString, codeBox);
        QFETCH(int, step);
        QFETCH(QStringList, listed);
        QFETCH(QStringList, tried);

        const auto dir = StepDirection(step);
        QStringList got;
        if (const auto first = CodeSearch::firstCandidate(codeBox, dir, listed))
            got = QStringList{*first} + CodeSearch::candidatesAfter(*first, dir, 3, listed);
        QCOMPARE(got, tried);
    }

    void lookingAheadChangesNothing() {
        // A look-ahead asks for the coming candidates; the rules judge only what is admitted.
        qint64 now = 0;
        CodeSearch search([&now] { return now; });
        QCOMPARE(search.admit(QStringLiteral("9998")), SearchVerdict::Continue);
        const QStringList ahead =
            CodeSearch::candidatesAfter(QStringLiteral("9998"), StepDirection::Up, 3);
        QCOMPARE(ahead, (QStringList{"1000", "1001", "1002"}));
        QCOMPARE(CodeSearch::candidatesAfter(QStringLiteral("9998"), StepDirection::Up, 3), ahead);
        QCOMPARE(search.judge(CandidateOutcome::MissedUnreachable), SearchVerdict::Continue);
        // Outcomes probed ahead, judged in order with their own start times.
        QCOMPARE(search.admit(ahead[0]), SearchVerdict::Continue);
        QCOMPARE(search.judge(CandidateOutcome::MissedUnreachable, 0), SearchVerdict::Continue);
        QCOMPARE(search.admit(ahead[1]), SearchVerdict::Continue);
        QCOMPARE(search.judge(CandidateOutcome::MissedUnreachable, 0),
                 SearchVerdict::ServerUnreachable);
    }

    // When a search ends.
    void stopping_data() {
        // verdicts: one per trial; the search stops at the last
        testing::columns<QStringList, QStringList>({"trials", "verdicts"});

        QTest::newRow("found at once") << QStringList{"1000 D 0 10"} << QStringList{"found"};
        QTest::newRow("found after misses")
            << QStringList{"1000 M 0 10", "1001 M 10 20", "1002 D 20 30"}
            << QStringList{"continue", "continue", "found"};
        QTest::newRow("a code tried twice ends the pass")
            << QStringList{"9999 M 0 1", "1000 M 1 2", "1001 M 2 3", "1000 M 3 4"}
            << QStringList{"continue", "continue", "continue", "no code found"};
        QTest::newRow("three unreachable candidates in a row")
            << QStringList{"1000 U 0 10", "1001 U 10 20", "1002 U 20 30"}
            << QStringList{"continue", "continue", "unreachable"};
        QTest::newRow("an answer in between starts the count over")
            << QStringList{"1000 U 0 1", "1001 U 1 2", "1002 M 2 3",
                           "1003 U 3 4", "1004 U 4 5", "1005 U 5 6"}
            << QStringList{"continue", "continue", "continue",
                           "continue", "continue", "unreachable"};
        QTest::newRow("20 s of unreachable answers")
            << QStringList{"1000 U 0 15000", "1001 U 15000 20000"}
            << QStringList{"continue", "unreachable"};
        QTest::newRow("just under 20 s goes on")
            << QStringList{"1000 U 0 15000", "1001 U 15000 19999"}
            << QStringList{"continue", "continue"};
        QTest::newRow("20 s count from the start of the streak's first candidate")
            << QStringList{"1000 M 0 500", "1001 U 1000 19000", "1002 U 19000 21000"}
            << QStringList{"continue", "continue", "unreachable"};
        QTest::newRow("one candidate alone lasting 20 s")
            << QStringList{"1000 U 0 20000"} << QStringList{"unreachable"};
        QTest::newRow("slow answers are no dead server")
            << QStringList{"1000 M 0 30000", "1001 M 30000 60000"}
            << QStringList{"continue", "continue"};
        QTest::newRow("a time after an answer does not count")
            << QStringList{"1000 U 0 15000", "1001 M 15000 16000", "1002 U 16000 30000"}
            << QStringList{"continue", "continue", "continue"};
        QTest::newRow("found after unreachable candidates")
            << QStringList{"1000 U 0 10", "1001 U 10 20", "1002 D 20 30"}
            << QStringList{"continue", "continue", "found"};
        QTest::newRow("codes with letters are kept apart")
            << QStringList{"130A M 0 1", "1309 M 1 2", "130a M 2 3", "130A M 3 4"}
            << QStringList{"continue", "continue", "continue", "no code found"};
    }

    void stopping() {
        QFETCH(QStringList, trials);
        QFETCH(QStringList, verdicts);

        qint64 now = 0;
        CodeSearch search([&now] { return now; });
        QStringList got;
        for (const QString& text : trials) {
            const Trial t = parseTrial(text);
            now = t.start;
            SearchVerdict v = search.admit(t.code);
            if (v == SearchVerdict::Continue) {
                now = t.end;
                v = search.judge(t.outcome);
            }
            got << verdictName(v);
            if (v != SearchVerdict::Continue)
                break;
        }
        QCOMPARE(got, verdicts);
    }

    // The marks.
    void markPositions_data() {
        // markCount: the mark string's length / 5
        // position: where the search starts
        // tried: every mark failing: the positions tried
        testing::columns<double, int, int, QList<int>>({"markCount", "position", "step", "tried"});

        QTest::newRow("three marks forward from 0") << 3.0 << 0 << 1 << QList<int>{1, 2, 3};
        QTest::newRow("three marks forward from 2") << 3.0 << 2 << 1 << QList<int>{3, 1, 2};
        QTest::newRow("three marks back from 0") << 3.0 << 0 << -1 << QList<int>{1, 3, 2};
        QTest::newRow("three marks back from 2") << 3.0 << 2 << -1 << QList<int>{1, 3, 2};
        QTest::newRow("one mark") << 1.0 << 0 << 1 << QList<int>{1};
        QTest::newRow("a mark without its comma") << 1.8 << 0 << 1 << QList<int>{1, 2};
        QTest::newRow("position beyond the marks") << 2.0 << 7 << 1 << QList<int>{1, 2};
    }

    void markPositions() {
        QFETCH(double, markCount);
        QFETCH(int, position);
        QFETCH(int, step);
        QFETCH(QList<int>, tried);

        // As the window steps: the position moves, the mark there fails, until a position that
        // failed before comes round again.
        MarkSearch search;
        QList<int> got;
        int p = MarkSearch::positionAfter(position, markCount, StepDirection(step));
        while (!search.failedBefore(p) && got.size() < 100) {
            got << p;
            search.recordFailure(p);
            p = MarkSearch::positionAfter(p, markCount, StepDirection(step));
        }
        QCOMPARE(got, tried);
    }
};

QTEST_GUILESS_MAIN(TestSearchRules)
#include "tst_searchrules.moc"
