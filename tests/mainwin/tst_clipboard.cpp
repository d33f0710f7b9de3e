#include "controls.h"
#include "mainwin/form1.h"
#include "table.h"
#include "testsupport.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QtTest>

#include <memory>

namespace {

// A clipboard holding a picture and no text at all.
void putImageOnly() {
    QImage picture(8, 8, QImage::Format_RGB32);
    picture.fill(Qt::red);
    auto* data = new QMimeData;
    data->setImageData(picture);
    QGuiApplication::clipboard()->setMimeData(data);
}

} // namespace

class TestClipboard : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(QGuiApplication::clipboard());
        QVERIFY(m_portal.started());
        m_folder = std::make_unique<testing::ProgramFolder>(m_portal.base());
        m_window = m_folder->openWindow();
    }

    void cleanupTestCase() { m_window.reset(); }

    void read_data() {
        // codeBox: expected after the read; "1301" beforehand
        testing::columns<bool, QString, QString>({"imageOnly", "clipboard", "codeBox"});

        QTest::newRow("code") << false << "4674"
                              << "4674";
        QTest::newRow("decimal") << false << "4674.4"
                                 << "4674";
        QTest::newRow("leading zero, three digits") << false << "0999"
                                                    << "1301";
        QTest::newRow("letters") << false << "abcd"
                                 << "1301";
        QTest::newRow("full-width digits") << false << QStringLiteral("４６７４") << "4674";
        QTest::newRow("blanks around") << false << " 4674\n"
                                       << "4674";
        QTest::newRow("five digits") << false << "46740"
                                     << "1301";
        QTest::newRow("empty text") << false << ""
                                    << "1301";
        QTest::newRow("picture only") << true << ""
                                      << "1301";
    }

    void read() {
        QFETCH(bool, imageOnly);
        QFETCH(QString, clipboard);
        QFETCH(QString, codeBox);

        if (imageOnly) {
            putImageOnly();
            QVERIFY(!QGuiApplication::clipboard()->mimeData()->hasText());
        } else {
            QGuiApplication::clipboard()->setText(clipboard);
        }
        testing::ui(*m_window).Text1->setText(QStringLiteral("1301"));
        m_portal.clearLog();

        testing::MessageCatcher messages;
        testing::ui(*m_window).Command2->click();

        QCOMPARE(testing::ui(*m_window).Text1->text(), codeBox);
        QCOMPARE(messages.texts(), QStringList());
        // Reading a code displays nothing: no chart was asked for.
        QCOMPARE(m_portal.targets(), QStringList());
        QVERIFY(testing::ui(*m_window).Picture1[0]->pixmap().isNull());
        // The clipboard itself is left as it was.
        if (imageOnly)
            QVERIFY(QGuiApplication::clipboard()->mimeData()->hasImage());
        else
            QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    }

    void write_data() {
        testing::rowsOf<QString>("codeBox", {{"code", "4674"},
                                             {"decimal, not normalised", "4674.4"},
                                             {"leading zero", "0999"},
                                             {"no code", "46 74; touch x"},
                                             {"full-width", QStringLiteral("４６７４")},
                                             {"empty", ""}});
    }

    void write() {
        QFETCH(QString, codeBox);

        // Whatever was there before, a picture included, is replaced.
        putImageOnly();
        testing::ui(*m_window).Text1->setText(codeBox);

        testing::MessageCatcher messages;
        testing::ui(*m_window).Command3->click();

        const QMimeData* data = QGuiApplication::clipboard()->mimeData();
        QVERIFY(data);
        QVERIFY(!data->hasImage());
        QCOMPARE(QGuiApplication::clipboard()->text(), codeBox);
        QCOMPARE(testing::ui(*m_window).Text1->text(), codeBox);
        QCOMPARE(messages.texts(), QStringList());
    }

private:
    testing::TestPortal m_portal;
    std::unique_ptr<testing::ProgramFolder> m_folder;
    std::unique_ptr<Form1> m_window;
};

QUORVIX_WINDOW_TEST_MAIN(TestClipboard)
#include "tst_clipboard.moc"
