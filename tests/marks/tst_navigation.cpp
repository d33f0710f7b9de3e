#include "marks/marknavigation.h"
#include "table.h"

#include <QtTest>

class TestNavigation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The first candidate position of a click, forward and backward.
    void firstCandidate_data() {
        testing::columns<int, double, int, int>({"position", "n", "forward", "backward"});

        QTest::newRow("3 marks, from 0") << 0 << 3.0 << 1 << 1;
        QTest::newRow("3 marks, from 1") << 1 << 3.0 << 2 << 3;
        QTest::newRow("3 marks, from 2") << 2 << 3.0 << 3 << 1;
        QTest::newRow("3 marks, from n") << 3 << 3.0 << 1 << 2;
        QTest::newRow("3 marks, from n+1") << 4 << 3.0 << 1 << 3;
        QTest::newRow("3 marks, from n+3") << 6 << 3.0 << 1 << 5;
        QTest::newRow("1 mark, from 0") << 0 << 1.0 << 1 << 1;
        QTest::newRow("1 mark, from 1") << 1 << 1.0 << 1 << 1;
        QTest::newRow("1 mark, from 3 after clears") << 3 << 1.0 << 1 << 2;
        QTest::newRow("7,000 marks, from n") << 7000 << 7000.0 << 1 << 6999;
        QTest::newRow("7,000 marks, from 1") << 1 << 7000.0 << 2 << 7000;
        // Damaged strings: n is length / 5 and not whole.
        QTest::newRow("no comma after the last mark (2.8), from 2") << 2 << 2.8 << 3 << 1;
        QTest::newRow("no comma after the last mark (2.8), from 3") << 3 << 2.8 << 1 << 2;
        QTest::newRow("no comma after the last mark (2.8), from 1") << 1 << 2.8 << 2 << 3;
        QTest::newRow("remainder of one character (2.2), from 2") << 2 << 2.2 << 3 << 1;
        QTest::newRow("remainder of one character (2.2), from 3") << 3 << 2.2 << 1 << 2;
        QTest::newRow("remainder of one character (2.2), from 1") << 1 << 2.2 << 2 << 2;
        QTest::newRow("remainder of three characters (2.6), from 1") << 1 << 2.6 << 2 << 3;
        QTest::newRow("two characters only (0.4), from 1") << 1 << 0.4 << 1 << 0;
        QTest::newRow("two characters only (0.4), from 0") << 0 << 0.4 << 1 << 1;
    }

    void firstCandidate() {
        QFETCH(int, position);
        QFETCH(double, n);
        QFETCH(int, forward);
        QFETCH(int, backward);

        QCOMPARE(marks::advancePosition(position, n), forward);
        QCOMPARE(marks::stepBackPosition(position, n), backward);
    }

    // Positions shown by repeated clicks of one button.
    void sequence_data() {
        testing::columns<double, int, bool, QList<int>>({"n", "start", "forward", "positions"});

        QTest::newRow("forward over three marks from 0")
            << 3.0 << 0 << true << QList<int>{1, 2, 3, 1, 2};
        QTest::newRow("backward over three marks from 0")
            << 3.0 << 0 << false << QList<int>{1, 3, 2, 1, 3};
        QTest::newRow("forward after a double-click on row 2")
            << 3.0 << 3 << true << QList<int>{1, 2};
        QTest::newRow("backward past the end after two clears")
            << 1.0 << 3 << false << QList<int>{2, 1, 1, 1};
        QTest::newRow("forward past the end after two clears")
            << 1.0 << 3 << true << QList<int>{1, 1};
        QTest::newRow("forward over a damaged remainder")
            << 2.2 << 0 << true << QList<int>{1, 2, 3, 1};
        QTest::newRow("backward over a damaged remainder")
            << 2.2 << 0 << false << QList<int>{1, 2, 1, 2};
    }

    void sequence() {
        QFETCH(double, n);
        QFETCH(int, start);
        QFETCH(bool, forward);
        QFETCH(QList<int>, positions);

        int position = start;
        QList<int> shown;
        for (int i = 0; i < positions.size(); ++i) {
            position = forward ? marks::advancePosition(position, n)
                               : marks::stepBackPosition(position, n);
            shown.append(position);
        }
        QCOMPARE(shown, positions);
    }
};

QTEST_APPLESS_MAIN(TestNavigation)
#include "tst_navigation.moc"
