#include "base/codepage932.h"
#include "table.h"

#include <QStringEncoder>
#include <QtTest>

// Code page 932 as the code list, the mark file and Japanese price files are written: Windows'
// own table, not the stricter JIS one, whose wave dash, minus and extensions differ.
class TestCodePage932 : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(base::codePage932Name()); }

    void decodeAndEncode_data() {
        testing::columns<QByteArray, QString>({"bytes", "text"});

        QTest::newRow("ASCII") << QByteArray("4674,1000,") << QStringLiteral("4674,1000,");
        QTest::newRow("backslash and tilde bytes stay ASCII")
            << QByteArray("\\~") << QStringLiteral("\\~");
        QTest::newRow("kanji") << QByteArray("\x8b\xc9\x97\x6d") << QStringLiteral("極洋");
        QTest::newRow("second byte is a backslash")
            << QByteArray("\x95\x5c\x8e\xa6") << QStringLiteral("表示");
        QTest::newRow("half-width katakana") << QByteArray("\xb1\xb2") << QStringLiteral("ｱｲ");
        QTest::newRow("wave dash as Windows writes it")
            << QByteArray("\x81\x60") << QString(QChar(0xFF5E));
        QTest::newRow("full-width minus as Windows writes it")
            << QByteArray("\x81\x7c") << QString(QChar(0xFF0D));
        QTest::newRow("full-width backslash") << QByteArray("\x81\x5f") << QString(QChar(0xFF3C));
        QTest::newRow("circled digit") << QByteArray("\x87\x40") << QStringLiteral("①");
        QTest::newRow("IBM extension") << QByteArray("\xfa\x40") << QStringLiteral("ⅰ");
    }

    void decodeAndEncode() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);

        QStringDecoder decoder = base::codePage932Decoder();
        QVERIFY(decoder.isValid());
        QCOMPARE(QString(decoder.decode(bytes)), text);
        QVERIFY(!decoder.hasError());

        QStringEncoder encoder(base::codePage932Name());
        QCOMPARE(QByteArray(encoder.encode(text)), bytes);
    }
};

QTEST_GUILESS_MAIN(TestCodePage932)
#include "tst_codepage932.moc"
