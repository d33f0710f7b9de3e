#include "base/codeform.h"
#include "chart/securitycode.h"
#include "table.h"

#include <QtTest>

using chart::StepDirection;

Q_DECLARE_METATYPE(chart::StepDirection)

// What the code box's text becomes before a display, and the candidates a search walks through.
class TestSecurityCode : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void normalisation_data() {
        // normalized: what the number is written back as (null: the text is no number);
        // display: what is handed to the display (null: refused with the message).
        testing::columns<QString, QString, QString>({"text", "normalized", "display"});

        const QString none;
        QTest::newRow("plain code") << "4674"
                                    << "4674"
                                    << "4674";
        QTest::newRow("blank in front") << " 4674"
                                        << "4674"
                                        << "4674";
        QTest::newRow("blanks around") << "  4674   "
                                       << "4674"
                                       << "4674";
        QTest::newRow("decimals dropped") << "4674.4"
                                          << "4674"
                                          << "4674";
        QTest::newRow("half rounds away from zero") << "4674.5"
                                                    << "4675"
                                                    << "4675";
        QTest::newRow("negative half rounds away from zero") << "-123.5"
                                                             << "-124"
                                                             << "-124";
        QTest::newRow("leading zero dropped") << "0999"
                                              << "999" << none;
        QTest::newRow("five digits") << "12345"
                                     << "12345" << none;
        QTest::newRow("negative four characters") << "-123"
                                                  << "-123"
                                                  << "-123";
        QTest::newRow("tiny negative is zero") << "-0.2"
                                               << "0" << none;
        QTest::newRow("empty") << "" << none << none;
        QTest::newRow("only blanks") << "   " << none << none;
        QTest::newRow("letters") << "abcd" << none << none;
        QTest::newRow("letters inside") << "46a4" << none << none;
        QTest::newRow("two numbers") << "46 74" << none << none;
        QTest::newRow("digit grouping") << "4,674"
                                        << "4674"
                                        << "4674";
        QTest::newRow("exponent") << "1e3"
                                  << "1000"
                                  << "1000";
        QTest::newRow("exponent upper case") << "4.674E3"
                                             << "4674"
                                             << "4674";
        QTest::newRow("full-width digits") << "４６７４"
                                           << "4674"
                                           << "4674";
        QTest::newRow("full-width blank in front") << "　４６７４"
                                                   << "4674"
                                                   << "4674";
        QTest::newRow("full-width minus") << "－１２３"
                                          << "-123"
                                          << "-123";
        QTest::newRow("full-width full stop") << "４６７４．４"
                                              << "4674"
                                              << "4674";
        QTest::newRow("mixed widths") << "4６7４"
                                      << "4674"
                                      << "4674";
        QTest::newRow("tab and line end") << "\t4674\r\n"
                                          << "4674"
                                          << "4674";
        QTest::newRow("control character") << QString("46") + QChar(1) + "74" << none << none;
        QTest::newRow("nul character") << QString("4674") + QChar(0) << none << none;
        QTest::newRow("nan") << "nan" << none << none;
        QTest::newRow("NaN") << "NaN" << none << none;
        QTest::newRow("inf") << "inf" << none << none;
        QTest::newRow("-inf") << "-inf" << none << none;
        QTest::newRow("beyond the double range") << "1e309" << none << none;
    }

    void normalisation() {
        QFETCH(QString, text);
        QFETCH(QString, normalized);
        QFETCH(QString, display);

        const std::optional<QString> got = chart::normalizeCode(text);
        QCOMPARE(got.has_value(), !normalized.isNull());
        if (got)
            QCOMPARE(*got, normalized);

        const std::optional<QString> code = chart::codeToDisplay(text);
        QCOMPARE(code.has_value(), !display.isNull());
        if (code)
            QCOMPARE(*code, display);
    }

    void textOfAnyLength_data() {
        testing::columns<QString, QString>({"text", "display"});

        const QString none;
        QTest::newRow("10,000 digits") << QString(10000, QLatin1Char('9')) << none;
        QTest::newRow("10,000 letters") << QString(10000, QLatin1Char('x')) << none;
        QTest::newRow("10,000 blanks then a code") << QString(10000, QLatin1Char(' ')) + "4674"
                                                   << "4674";
        QTest::newRow("code then 10,000 full-width blanks")
            << "4674" + QString(10000, QChar(0x3000)) << "4674";
        QTest::newRow("10,000 decimals") << "4674." + QString(9995, QLatin1Char('4')) << "4674";
        QString controls;
        for (char16_t c = 0; c < 32; ++c)
            controls += QChar(c);
        QTest::newRow("every control character") << controls.repeated(300) << none;
        QTest::newRow("largest finite magnitude") << "1e308" << none;
        QTest::newRow("largest negative magnitude") << "-1.7976931348623157e308" << none;
        QTest::newRow("smallest magnitude") << "4.9e-324" << none;
    }

    void textOfAnyLength() {
        QFETCH(QString, text);
        QFETCH(QString, display);

        const std::optional<QString> code = chart::codeToDisplay(text);
        QCOMPARE(code.has_value(), !display.isNull());
        if (code)
            QCOMPARE(*code, display);
        // Whatever the text, a search can start from it or says it has no starting point.
        const auto first = chart::firstStepCandidate(text, StepDirection::Up);
        if (first) {
            const auto normalized = chart::normalizeCode(*first);
            QVERIFY(normalized.has_value());
            const QString next = chart::nextStepCandidate(*normalized, StepDirection::Up);
            QVERIFY(chart::normalizeCode(next).has_value());
        }
    }

    void stepping_data() {
        // tried: the normalised candidates a search hands on, in order, while each one fails.
        testing::columns<QString, StepDirection, QString, QStringList>(
            {"codeBox", "direction", "firstCandidate", "tried"});

        QTest::newRow("4674 up") << "4674" << StepDirection::Up << "4675"
                                 << QStringList{"4675", "4676", "4677"};
        QTest::newRow("4674 down")
            << "4674" << StepDirection::Down << "4673" << QStringList{"4673", "4672"};
        QTest::newRow("9998 up") << "9998" << StepDirection::Up << "9999"
                                 << QStringList{"9999", "1000", "1001"};
        QTest::newRow("9997 up skips 9999")
            << "9997" << StepDirection::Up << "9998" << QStringList{"9998", "1000", "1001"};
        QTest::newRow("9999 up") << "9999" << StepDirection::Up << "10000"
                                 << QStringList{"10000", "1000", "1001"};
        QTest::newRow("1001 down")
            << "1001" << StepDirection::Down << "1000" << QStringList{"1000", "9999", "9998"};
        QTest::newRow("1002 down skips 1000")
            << "1002" << StepDirection::Down << "1001" << QStringList{"1001", "9999", "9998"};
        QTest::newRow("1000 down")
            << "1000" << StepDirection::Down << "999" << QStringList{"999", "9999", "9998"};
        QTest::newRow("0999 up") << "0999" << StepDirection::Up << "1000"
                                 << QStringList{"1000", "1001"};
        QTest::newRow("4674.4 up")
            << "4674.4" << StepDirection::Up << "4675.4" << QStringList{"4675", "4676"};
        QTest::newRow("full-width 1001 down")
            << "１００１" << StepDirection::Down << "1000" << QStringList{"1000", "9999"};
        QTest::newRow("negative up")
            << "-1001" << StepDirection::Up << "-1000" << QStringList{"-1000", "-999", "-998"};
        QTest::newRow("no number up") << "abc" << StepDirection::Up << QString() << QStringList{};
        QTest::newRow("empty down") << "" << StepDirection::Down << QString() << QStringList{};
    }

    void stepping() {
        QFETCH(QString, codeBox);
        QFETCH(StepDirection, direction);
        QFETCH(QString, firstCandidate);
        QFETCH(QStringList, tried);

        const std::optional<QString> first = chart::firstStepCandidate(codeBox, direction);
        QCOMPARE(first.has_value(), !firstCandidate.isNull());
        if (!first)
            return;
        QCOMPARE(*first, firstCandidate);

        QStringList walked;
        QString candidate = *first;
        while (walked.size() < tried.size()) {
            const std::optional<QString> normalized = chart::normalizeCode(candidate);
            QVERIFY(normalized.has_value());
            walked << *normalized;
            candidate = chart::nextStepCandidate(*normalized, direction);
        }
        QCOMPARE(walked, tried);
    }

    void possibleCode_data() {
        testing::columns<QString, StepDirection, QString>({"candidate", "direction", "next"});

        QTest::newRow("up from far below")
            << "-100000000000000000000" << StepDirection::Up << "-999";
        QTest::newRow("up from -1000") << "-1000" << StepDirection::Up << "-999";
        QTest::newRow("up at -999 stays") << "-999" << StepDirection::Up << "-999";
        QTest::newRow("up at -100 stays") << "-100" << StepDirection::Up << "-100";
        QTest::newRow("up from -99") << "-99" << StepDirection::Up << "1000";
        QTest::newRow("up from 999") << "999" << StepDirection::Up << "1000";
        QTest::newRow("up inside the range") << "4675" << StepDirection::Up << "4675";
        QTest::newRow("down from far above")
            << "100000000000000000000" << StepDirection::Down << "9999";
        QTest::newRow("down from 10000") << "10000" << StepDirection::Down << "9999";
        QTest::newRow("down inside the range") << "4673" << StepDirection::Down << "4673";
        QTest::newRow("down below the range is left to the wrap")
            << "999" << StepDirection::Down << "999";
    }

    void possibleCode() {
        QFETCH(QString, candidate);
        QFETCH(StepDirection, direction);
        QFETCH(QString, next);
        QCOMPARE(chart::nextPossibleCode(candidate, direction), next);
    }

    void codeKinds_data() {
        // display: the code handed to the display (null: refused with the message).
        testing::columns<QString, QString>({"text", "display"});

        const QString none;
        QTest::newRow("130A") << "130A"
                              << "130A";
        QTest::newRow("lower case") << "130a"
                                    << "130A";
        QTest::newRow("full-width") << "１３０Ａ"
                                    << "130A";
        QTest::newRow("full-width lower case") << "１３０ａ"
                                               << "130A";
        QTest::newRow("blanks around") << " \t130A  "
                                       << "130A";
        QTest::newRow("full-width blanks around") << "　130A　"
                                                  << "130A";
        QTest::newRow("letter second") << "1A30"
                                       << "1A30";
        QTest::newRow("letters second and fourth") << "1A3C"
                                                   << "1A3C";
        QTest::newRow("forbidden letter B") << "1A3B" << none;
        QTest::newRow("forbidden letter E") << "130E" << none;
        QTest::newRow("forbidden letter I") << "1I30" << none;
        QTest::newRow("forbidden letter O") << "130O" << none;
        QTest::newRow("forbidden letter Q") << "130Q" << none;
        QTest::newRow("forbidden letter V") << "1V30" << none;
        QTest::newRow("forbidden letter Z") << "130Z" << none;
        QTest::newRow("letter third") << "13A0" << none;
        QTest::newRow("letter first") << "A130" << none;
        QTest::newRow("five characters") << "130AC" << none;
        QTest::newRow("three characters") << "13A" << none;
        QTest::newRow("blank inside") << "13 0A" << none;
        QTest::newRow("non-ASCII letter") << "130Ä" << none;
        // Numbers keep their own rules.
        QTest::newRow("four digits") << "4674"
                                     << "4674";
        QTest::newRow("decimals") << "4674.4"
                                  << "4674";
        QTest::newRow("grouping") << "4,674"
                                  << "4674";
        QTest::newRow("exponent") << "1e3"
                                  << "1000";
        QTest::newRow("exponent upper case") << "1E3"
                                             << "1000";
        QTest::newRow("leading zero") << "0999" << none;
        QTest::newRow("negative") << "-123"
                                  << "-123";
    }

    void codeKinds() {
        QFETCH(QString, text);
        QFETCH(QString, display);

        const std::optional<QString> code = chart::codeToDisplay(text);
        QCOMPARE(code.has_value(), !display.isNull());
        if (code)
            QCOMPARE(*code, display);
    }

    void searchOrder_data() {
        // tried: the normalised candidates a search hands on, in order, while each one fails.
        testing::columns<QString, StepDirection, QStringList, QStringList>(
            {"codeBox", "direction", "listed", "tried"});

        const QStringList near{"130A", "131A"};
        QTest::newRow("1309 up") << "1309" << StepDirection::Up << near
                                 << QStringList{"130A", "1310", "1311"};
        QTest::newRow("1310 down")
            << "1310" << StepDirection::Down << near << QStringList{"130A", "1309", "1308"};
        QTest::newRow("130A up") << "130A" << StepDirection::Up << near
                                 << QStringList{"1310", "1311"};
        QTest::newRow("130A down")
            << "130A" << StepDirection::Down << near << QStringList{"1309", "1308"};
        QTest::newRow("full-width lower case up")
            << "１３０ａ" << StepDirection::Up << near << QStringList{"1310"};
        QTest::newRow("1319 up") << "1319" << StepDirection::Up << near
                                 << QStringList{"131A", "1320"};
        QTest::newRow("two codes in one gap up")
            << "1309" << StepDirection::Up << QStringList{"130A", "130C"}
            << QStringList{"130A", "130C", "1310"};
        QTest::newRow("two codes in one gap down")
            << "1310" << StepDirection::Down << QStringList{"130A", "130C"}
            << QStringList{"130C", "130A", "1309"};
        QTest::newRow("unlisted code up")
            << "135C" << StepDirection::Up << near << QStringList{"1360", "1361"};
        QTest::newRow("unlisted code down")
            << "1A3C" << StepDirection::Down << near << QStringList{"1999", "1998"};
        QTest::newRow("decimal code box up")
            << "1309.4" << StepDirection::Up << near << QStringList{"130A", "1310"};
        QTest::newRow("nothing listed")
            << "1309" << StepDirection::Up << QStringList{} << QStringList{"1310", "1311"};
        const QStringList ends{"012A", "999A"};
        QTest::newRow("9998 up wraps past the codes beyond the ends")
            << "9998" << StepDirection::Up << ends
            << QStringList{"9999", "999A", "012A", "1000", "1001"};
        QTest::newRow("1001 down wraps past the codes beyond the ends")
            << "1001" << StepDirection::Down << ends
            << QStringList{"1000", "012A", "999A", "9999", "9998"};
        QTest::newRow("999A up") << "999A" << StepDirection::Up << ends
                                 << QStringList{"012A", "1000"};
        QTest::newRow("from below the range up")
            << "-101" << StepDirection::Up << ends << QStringList{"-100", "012A", "1000"};
        QTest::newRow("from above the range down")
            << "1e20" << StepDirection::Down << ends
            << QStringList{"100000000000000000000", "999A", "9999"};
        QTest::newRow("9999 up") << "9999" << StepDirection::Up << ends
                                 << QStringList{"10000", "012A", "1000"};
        QTest::newRow("not a code") << "13A0" << StepDirection::Up << near << QStringList{};
    }

    void searchOrder() {
        QFETCH(QString, codeBox);
        QFETCH(StepDirection, direction);
        QFETCH(QStringList, listed);
        QFETCH(QStringList, tried);

        const std::optional<QString> first =
            chart::firstSearchCandidate(codeBox, direction, listed);
        QCOMPARE(first.has_value(), !tried.isEmpty());
        QStringList walked;
        QString candidate = first.value_or(QString());
        while (walked.size() < tried.size()) {
            const std::optional<QString> normalized = chart::normalizeSearchCandidate(candidate);
            QVERIFY(normalized.has_value());
            walked << *normalized;
            candidate = chart::nextSearchCandidate(*normalized, direction, listed);
        }
        QCOMPARE(walked, tried);
    }

    void fullPass_data() {
        testing::columns<QString, StepDirection>({"codeBox", "direction"});

        QTest::newRow("9998 up") << "9998" << StepDirection::Up;
        QTest::newRow("1001 down") << "1001" << StepDirection::Down;
        QTest::newRow("130A up") << "130A" << StepDirection::Up;
        QTest::newRow("258A down") << "258A" << StepDirection::Down;
        QTest::newRow("far below up") << "-1e20" << StepDirection::Up;
        QTest::newRow("far above down") << "1e20" << StepDirection::Down;
    }

    void fullPass() {
        QFETCH(QString, codeBox);
        QFETCH(StepDirection, direction);
        const QStringList listed{"012A", "130A", "131A", "1A3C", "258A", "999A", "9A0C"};

        // A search that never finds a code: it walks until a code of the pass comes again.
        QStringList codes;
        QSet<QString> seen;
        std::optional<QString> candidate = chart::firstSearchCandidate(codeBox, direction, listed);
        QVERIFY(candidate.has_value());
        for (int steps = 0; steps < 100000; ++steps) {
            const std::optional<QString> normalized = chart::normalizeSearchCandidate(*candidate);
            QVERIFY(normalized.has_value());
            if (base::isCode(*normalized)) {
                if (seen.contains(*normalized))
                    break;
                seen.insert(*normalized);
                codes << *normalized;
            }
            candidate = chart::nextSearchCandidate(*normalized, direction, listed);
        }
        // Every number of the range and every listed code once (9999 upward and 1000 downward are
        // reached only as the first candidate), the others in code order between two wraps.
        for (const QString& code : listed)
            QVERIFY2(seen.contains(code), qPrintable(code));
        const QString onlyFirst = direction == StepDirection::Up ? "9999" : "1000";
        const int numbers = seen.contains(onlyFirst) ? 9000 : 8999;
        QCOMPARE(codes.size(), numbers + listed.size());
        int wraps = 0;
        for (int i = 1; i < codes.size(); ++i) {
            const bool inOrder =
                direction == StepDirection::Up ? codes[i - 1] < codes[i] : codes[i] < codes[i - 1];
            wraps += inOrder ? 0 : 1;
        }
        QVERIFY2(wraps <= 1, qPrintable(QString::number(wraps)));
    }
};

QTEST_GUILESS_MAIN(TestSecurityCode)
#include "tst_securitycode.moc"
