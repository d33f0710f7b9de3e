#include "marks/markstring.h"
#include "table.h"

#include <QtTest>

using marks::MarkString;

class TestMarkString : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // One row: a start string, then operations "+code" (set) or "-code" (clear), each with whether
    // it changed the list, and the mark string afterwards.
    void setAndClear_data() {
        testing::columns<QString, QStringList, QList<bool>, QString>(
            {"start", "operations", "changed", "result"});

        QTest::newRow("set three in order") << "" << QStringList{"+4674", "+1000", "+9999"}
                                            << QList<bool>{true, true, true} << "4674,1000,9999,";
        QTest::newRow("clear the middle mark")
            << "4674,1000,9999," << QStringList{"-1000"} << QList<bool>{true} << "4674,9999,";
        QTest::newRow("clear the first mark")
            << "4674,1000,9999," << QStringList{"-4674"} << QList<bool>{true} << "1000,9999,";
        QTest::newRow("clear the only mark")
            << "4674," << QStringList{"-4674"} << QList<bool>{true} << "";
        QTest::newRow("set an already marked code") << "4674,1000," << QStringList{"+1000", "+4674"}
                                                    << QList<bool>{false, false} << "4674,1000,";
        QTest::newRow("clear a code that is not marked")
            << "4674,1000," << QStringList{"-9999"} << QList<bool>{false} << "4674,1000,";
        QTest::newRow("set after clear") << "4674,1000," << QStringList{"-4674", "+4674"}
                                         << QList<bool>{true, true} << "1000,4674,";
        QTest::newRow("duplicates: clear removes the first")
            << "4674,1000,4674," << QStringList{"-4674"} << QList<bool>{true} << "1000,4674,";
        QTest::newRow("duplicates: clear twice removes both")
            << "4674,1000,4674," << QStringList{"-4674", "-4674"} << QList<bool>{true, true}
            << "1000,";
        QTest::newRow("damaged: last mark without comma is cleared whole")
            << "4674,1000" << QStringList{"-1000"} << QList<bool>{true} << "4674,";
        QTest::newRow("damaged: clear before a short remainder")
            << "4674,1000,99" << QStringList{"-1000"} << QList<bool>{true} << "4674,99";
        QTest::newRow("damaged: letters stay, codes around them clear")
            << "4674,abcd,9999," << QStringList{"-9999", "-4674"} << QList<bool>{true, true}
            << "abcd,";
        QTest::newRow("no clear across two marks")
            << "4674,1000," << QStringList{"-74,1", "-4,10", "-674,", "-1000,"}
            << QList<bool>{false, false, false, false} << "4674,1000,";
        QTest::newRow("no clear of a code that only ends a longer text")
            << "4674,1000," << QStringList{"-674", "-100", "-00"}
            << QList<bool>{false, false, false} << "4674,1000,";
        QTest::newRow("text that is no code is never set")
            << "4674," << QStringList{"+ 4674", "+467",   "+46745", "+abcd",
                                      "+",      "+4674 ", "+12,3",  QStringLiteral("+４６７４"),
                                      "+-123"}
            << QList<bool>{false, false, false, false, false, false, false, false, false}
            << "4674,";
        QTest::newRow("alphanumeric codes set and clear")
            << "4674," << QStringList{"+130A", "+1A3C", "+130A", "-4674", "-1A3C"}
            << QList<bool>{true, true, false, true, true} << "130A,";
        QTest::newRow("alphanumeric code only as kept")
            << "130A," << QStringList{"+130a", "+13A0", "+1A3B", "-130a", "-30A,"}
            << QList<bool>{false, false, false, false, false} << "130A,";
        QTest::newRow("text that is no code never clears a mark")
            << "4674,1000," << QStringList{"- 4674", "-467", "-46745", "-"}
            << QList<bool>{false, false, false, false} << "4674,1000,";
    }

    void setAndClear() {
        QFETCH(QString, start);
        QFETCH(QStringList, operations);
        QFETCH(QList<bool>, changed);
        QFETCH(QString, result);
        QCOMPARE(operations.size(), changed.size());

        MarkString marks(start);
        for (int i = 0; i < operations.size(); ++i) {
            const QString code = operations[i].mid(1);
            const bool set = operations[i].startsWith(QLatin1Char('+'));
            const bool did = set ? marks.append(code) : marks.remove(code);
            QVERIFY2(did == changed[i], qPrintable(operations[i]));
        }
        QCOMPARE(marks.text(), result);
        QCOMPARE(marks.isEmpty(), result.isEmpty());
    }

    // What the mark list and navigation see of a string: its marks, n as a real number, the rows.
    void layout_data() {
        testing::columns<QString, QStringList, double>({"text", "markTexts", "count"});

        QTest::newRow("well formed")
            << "4674,1000,9999," << QStringList{"4674", "1000", "9999"} << 3.0;
        QTest::newRow("empty") << "" << QStringList{} << 0.0;
        QTest::newRow("one mark") << "4674," << QStringList{"4674"} << 1.0;
        QTest::newRow("no comma after the last mark")
            << "4674,1000,9999" << QStringList{"4674", "1000", "9999"} << 2.8;
        QTest::newRow("remainder of one character")
            << "4674,1000,9" << QStringList{"4674", "1000", "9"} << 2.2;
        QTest::newRow("remainder of two characters")
            << "4674,1000,99" << QStringList{"4674", "1000", "99"} << 2.4;
        QTest::newRow("remainder of three characters")
            << "4674,1000,999" << QStringList{"4674", "1000", "999"} << 2.6;
        QTest::newRow("letters") << "4674,abcd,9999," << QStringList{"4674", "abcd", "9999"} << 3.0;
        QTest::newRow("a short mark shifts the rest")
            << "467,1000,9999," << QStringList{"467,", "000,", "999,"} << 2.8;
    }

    void layout() {
        QFETCH(QString, text);
        QFETCH(QStringList, markTexts);
        QFETCH(double, count);

        const MarkString marks(text);
        QCOMPARE(marks.countReal(), count);
        QCOMPARE(marks.rowCount(), markTexts.size());
        for (int k = 1; k <= markTexts.size(); ++k)
            QCOMPARE(marks.mark(k), markTexts[k - 1]);
        QVERIFY(marks.mark(0).isEmpty());
        QVERIFY(marks.mark(-1).isEmpty());
        QVERIFY(marks.mark(markTexts.size() + 1).isEmpty());
        QVERIFY(marks.mark(std::numeric_limits<int>::max()).isEmpty());
    }

    void find_data() {
        testing::columns<QString, QString, int>({"text", "code", "position"});

        QTest::newRow("first") << "4674,1000,9999,"
                               << "4674" << 1;
        QTest::newRow("middle") << "4674,1000,9999,"
                                << "1000" << 2;
        QTest::newRow("last") << "4674,1000,9999,"
                              << "9999" << 3;
        QTest::newRow("not marked") << "4674,1000,9999,"
                                    << "1001" << 0;
        QTest::newRow("empty list") << ""
                                    << "4674" << 0;
        QTest::newRow("empty code") << "4674,"
                                    << "" << 0;
        QTest::newRow("first of duplicates") << "1000,4674,4674,"
                                             << "4674" << 2;
        QTest::newRow("across marks 74,1") << "4674,1000,"
                                           << "74,1" << 0;
        QTest::newRow("across marks 4,10") << "4674,1000,"
                                           << "4,10" << 0;
        QTest::newRow("inside a mark") << "4674,1000,"
                                       << "674," << 0;
        QTest::newRow("digits spanning a boundary") << "4674,1000,"
                                                    << "7410" << 0;
        QTest::newRow("last mark without comma") << "4674,1000"
                                                 << "1000" << 2;
        QTest::newRow("shifted by a short mark") << "467,1000,"
                                                 << "1000" << 0;
        QTest::newRow("letters") << "abcd,4674,"
                                 << "4674" << 2;
    }

    void find() {
        QFETCH(QString, text);
        QFETCH(QString, code);
        QFETCH(int, position);

        const MarkString marks(text);
        QCOMPARE(marks.find(code), position);
        QCOMPARE(marks.contains(code), position > 0);
    }

    // Lists longer than a 16-bit offset can address.
    void longLists_data() {
        testing::rowsOf<int>("count", {{"6,553 marks", 6553},
                                       {"6,554 marks", 6554},
                                       {"7,000 marks", 7000},
                                       {"every code 1000 to 9999", 9000}});
    }

    void longLists() {
        QFETCH(int, count);

        MarkString marks;
        for (int i = 0; i < count; ++i)
            QVERIFY(marks.append(QString::number(1000 + i)));
        const QString last = QString::number(1000 + count - 1);

        QCOMPARE(marks.text().size(), count * 5);
        QCOMPARE(marks.rowCount(), count);
        QCOMPARE(marks.countReal(), double(count));
        QCOMPARE(marks.mark(count), last);
        QCOMPARE(marks.find(last), count);
        QVERIFY(!marks.append(last));

        // Clearing the first mark moves every other one forward.
        QVERIFY(marks.remove(QStringLiteral("1000")));
        QCOMPARE(marks.rowCount(), count - 1);
        QCOMPARE(marks.mark(count - 1), last);
        QCOMPARE(marks.find(last), count - 1);
        QVERIFY(marks.remove(last));
        QVERIFY(!marks.contains(last));
        QVERIFY(marks.text().endsWith(QString::number(1000 + count - 2) + QLatin1Char(',')));
    }
};

QTEST_APPLESS_MAIN(TestMarkString)
#include "tst_markstring.moc"
