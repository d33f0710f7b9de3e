#include "base/codeform.h"
#include "table.h"

#include <QtTest>

// What a code is, as the marks, the code list and the display keep it.
class TestCodeForm : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void plainCode_data() {
        testing::columns<QString, bool>({"text", "plain"});

        QTest::newRow("code") << "4674" << true;
        QTest::newRow("leading zero") << "0999" << true;
        QTest::newRow("three digits") << "999" << false;
        QTest::newRow("negative") << "-123" << false;
        QTest::newRow("blank") << " 467" << false;
        QTest::newRow("full-width digits") << "４６７４" << false;
        QTest::newRow("letters") << "46a4" << false;
    }

    void plainCode() {
        QFETCH(QString, text);
        QFETCH(bool, plain);
        QCOMPARE(base::isPlainCode(text), plain);
    }

    void codeKinds_data() {
        // kept: whether the text as it stands is a code that marks and the code list hold;
        // alphanumeric: whether it is one in the exchange's alphanumeric form.
        testing::columns<QString, bool, bool>({"text", "kept", "alphanumeric"});

        QTest::newRow("130A") << "130A" << true << true;
        QTest::newRow("lower case") << "130a" << false << false;
        QTest::newRow("full-width") << "１３０Ａ" << false << false;
        QTest::newRow("full-width lower case") << "１３０ａ" << false << false;
        QTest::newRow("blanks around") << " \t130A  " << false << false;
        QTest::newRow("full-width blanks around") << "　130A　" << false << false;
        QTest::newRow("letter second") << "1A30" << true << true;
        QTest::newRow("letters second and fourth") << "1A3C" << true << true;
        QTest::newRow("forbidden letter B") << "1A3B" << false << false;
        QTest::newRow("forbidden letter E") << "130E" << false << false;
        QTest::newRow("forbidden letter I") << "1I30" << false << false;
        QTest::newRow("forbidden letter O") << "130O" << false << false;
        QTest::newRow("forbidden letter Q") << "130Q" << false << false;
        QTest::newRow("forbidden letter V") << "1V30" << false << false;
        QTest::newRow("forbidden letter Z") << "130Z" << false << false;
        QTest::newRow("letter third") << "13A0" << false << false;
        QTest::newRow("letter first") << "A130" << false << false;
        QTest::newRow("five characters") << "130AC" << false << false;
        QTest::newRow("three characters") << "13A" << false << false;
        QTest::newRow("blank inside") << "13 0A" << false << false;
        QTest::newRow("non-ASCII letter") << "130Ä" << false << false;
        QTest::newRow("four digits") << "4674" << true << false;
        QTest::newRow("decimals") << "4674.4" << false << false;
        QTest::newRow("grouping") << "4,674" << false << false;
        QTest::newRow("exponent") << "1e3" << false << false;
        QTest::newRow("exponent upper case") << "1E3" << false << false;
        QTest::newRow("leading zero") << "0999" << true << false;
        QTest::newRow("negative") << "-123" << false << false;
    }

    void codeKinds() {
        QFETCH(QString, text);
        QFETCH(bool, kept);
        QFETCH(bool, alphanumeric);

        QCOMPARE(base::isCode(text), kept);
        QCOMPARE(base::isAlphanumericCode(text), alphanumeric);
        QCOMPARE(base::isPlainCode(text), kept && !alphanumeric);
    }

    // Code order is QString's own: an alphanumeric code falls between the numbers around it.
    void codeOrder() {
        QStringList codes{"1310", "2000", "130A", "1A00", "1309", "1999", "130C"};
        std::sort(codes.begin(), codes.end());
        QCOMPARE(codes, (QStringList{"1309", "130A", "130C", "1310", "1999", "1A00", "2000"}));
    }
};

QTEST_GUILESS_MAIN(TestCodeForm)
#include "tst_codeform.moc"
