// Marks on the real window when their file cannot be written, or holds something else: the user
// is told, the marks stay, and nothing is read over them; the mark buttons read the code box as
// the display request does.
#include "controls.h"
#include "mainwin/form1.h"
#include "mainwin/form2.h"
#include "operations.h"
#include "table.h"
#include "testsupport.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

namespace {

const QString kMarkFile = QStringLiteral("MARK.csv");

QStringList rows(const Form1& w) {
    QStringList r;
    for (int i = 0; i < testing::ui(w).List1->count(); ++i)
        r << testing::ui(w).List1->item(i)->text().left(4);
    return r;
}

bool setAge(const QString& path, int seconds) {
    QFile f(path);
    return f.open(QIODevice::ReadWrite) &&
           f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(-seconds),
                         QFileDevice::FileModificationTime);
}

} // namespace

class TestMarkSaves : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() {
        QVERIFY(m_portal.started());
        QVERIFY(!m_portal.server().suffixFor(QStringLiteral("4674")).isEmpty());
    }

    void init() { m_folder = std::make_unique<testing::ProgramFolder>(m_portal.base()); }

    void cleanup() { m_folder.reset(); }

    void buttonsTakeDisplayTexts_data() {
        testing::rowsOf<QString>("typed",
                                 {{"plain", "4674"},
                                  {"blank in front", " 4674"},
                                  {"decimal point", "4674.0"},
                                  {"full-width digits", QStringLiteral("４６７４")},
                                  {"full-width blank in front", QStringLiteral("　4674")}});
    }

    // Whatever text the display request shows as 4674, the enabled mark buttons set and clear 4674.
    void buttonsTakeDisplayTexts() {
        QFETCH(QString, typed);
        auto w = openWindow();
        const testing::MainControls c = testing::ui(*w);
        c.Text1->setText(typed);
        w->Text1_DblClick();
        QVERIFY(testing::idle(*w));
        QTRY_VERIFY_WITH_TIMEOUT(c.Text1->isEnabled(), 30000);
        // Displayed as typed: the code box keeps the user's text.
        QCOMPARE(c.Text1->text(), typed);
        QVERIFY(c.Command4->isEnabled());
        QVERIFY(!c.Command5->isEnabled());

        c.Command4->click();
        QCOMPARE(w->markLine(), QStringLiteral("4674,"));
        QCOMPARE(rows(*w), QStringList{"4674"});
        QCOMPARE(m_folder->readFile(kMarkFile), QByteArray("4674,\r\n"));
        QVERIFY(!c.Command4->isEnabled());
        QVERIFY(c.Command5->isEnabled());

        c.Command5->click();
        QCOMPARE(w->markLine(), QString());
        QCOMPARE(rows(*w), QStringList{});
        QCOMPARE(m_folder->readFile(kMarkFile), QByteArray("\r\n"));
        QVERIFY(c.Command4->isEnabled());
        QVERIFY(!c.Command5->isEnabled());
    }

    // The first failed save of a file is told, naming the file; later ones are not, and the marks
    // stay listed in memory.
    void failedSaveToldOncePerFile() {
        // Even root cannot write a file where a folder stands.
        QVERIFY(QDir(m_folder->path()).mkdir(kMarkFile));
        auto w = openWindow();
        testing::MessageCatcher messages;
        setMark(*w, QStringLiteral("4674"));
        setMark(*w, QStringLiteral("1000"));
        testing::ui(*w).Text1->setText(QStringLiteral("4674"));
        w->Command5_Click();

        QCOMPARE(messages.texts().size(), 1);
        const QString told = messages.texts().first();
        QVERIFY2(told.contains(QDir::toNativeSeparators(m_folder->file(kMarkFile))),
                 qPrintable(told));
        QVERIFY2(told.contains(QStringLiteral("保存できませんでした")), qPrintable(told));
        QCOMPARE(w->markLine(), QStringLiteral("1000,"));
        QCOMPARE(rows(*w), QStringList{"1000"});
        QVERIFY(testing::ui(*w).Command8->isEnabled());
    }

    void closingTriesAgain_data() {
        testing::rowsOf<bool>("writableAtClose",
                              {{"still failing: told", false}, {"writable again: saved", true}});
    }

    void closingTriesAgain() {
        QFETCH(bool, writableAtClose);
        QVERIFY(QDir(m_folder->path()).mkdir(kMarkFile));
        auto w = openWindow();
        {
            testing::MessageCatcher messages;
            setMark(*w, QStringLiteral("4674"));
            QCOMPARE(messages.texts().size(), 1);
        }
        if (writableAtClose)
            QVERIFY(QDir(m_folder->path()).rmdir(kMarkFile));

        testing::MessageCatcher messages;
        w->close();
        if (writableAtClose) {
            QCOMPARE(messages.texts(), QStringList{});
            QCOMPARE(m_folder->readFile(kMarkFile), QByteArray("4674,\r\n"));
        } else {
            // Told again, though told before: the marks are lost now.
            QCOMPARE(messages.texts().size(), 1);
            QVERIFY(messages.texts().first().contains(m_folder->file(kMarkFile)));
            QVERIFY(messages.texts().first().contains(QStringLiteral("失われます")));
        }
    }

    void cancelKeepsUnsavedMarks_data() {
        QTest::addColumn<bool>("defaultFile"); // the marks belong to the default file, or another
        QTest::newRow("default mark file") << true;
        QTest::newRow("another mark file") << false;
    }

    // Cancel in the mark-file dialog goes back to the default file, but never reads it over marks
    // whose save failed: their file stays in use, with them, and they are saved once it can be
    // written.
    void cancelKeepsUnsavedMarks() {
        QFETCH(bool, defaultFile);
        m_folder->writeFile(kMarkFile, "9999,\r\n");
        const QString other = m_folder->file(QStringLiteral("other.csv"));
        m_folder->writeFile(QStringLiteral("other.csv"), "1301,\r\n");
        const QString inUse = defaultFile ? m_folder->file(kMarkFile) : other;
        auto w = openWindow();
        if (!defaultFile) {
            switchMarkFile(*w, other);
            QCOMPARE(w->markFileName(), other);
        }
        // The file in use becomes a folder: no save reaches it.
        QVERIFY(QFile::remove(inUse));
        QVERIFY(QDir().mkdir(inUse));
        const QString before = w->markLine();
        {
            testing::MessageCatcher messages;
            setMark(*w, QStringLiteral("4674"));
            QCOMPARE(messages.texts().size(), 1);
        }
        const QString marks = before + QStringLiteral("4674,");
        QCOMPARE(w->markLine(), marks);

        {
            testing::MessageCatcher messages;
            switchMarkFile(*w, std::nullopt);
            QCOMPARE(w->markFileName(), inUse);
            QCOMPARE(w->markLine(), marks);
            QCOMPARE(rows(*w).size(), 2);
        }

        // Writable again: the next save writes the kept marks into their own file.
        QVERIFY(QDir().rmdir(inUse));
        setMark(*w, QStringLiteral("1000"));
        QFile saved(inUse);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), (marks + QStringLiteral("1000,\r\n")).toLatin1());
        if (!defaultFile)
            QCOMPARE(m_folder->readFile(kMarkFile), QByteArray("9999,\r\n"));
    }

    // Choosing another file while marks are unsaved: one more try, then the user is told that they
    // are lost, naming their file.
    void switchingAwayFromUnsavedMarks() {
        QVERIFY(QDir(m_folder->path()).mkdir(kMarkFile));
        m_folder->writeFile(QStringLiteral("other.csv"), "1301,\r\n");
        auto w = openWindow();
        testing::MessageCatcher messages;
        setMark(*w, QStringLiteral("4674"));
        QCOMPARE(messages.texts().size(), 1);

        switchMarkFile(*w, m_folder->file(QStringLiteral("other.csv")));
        QCOMPARE(messages.texts().size(), 2);
        QVERIFY(messages.texts().last().contains(m_folder->file(kMarkFile)));
        QVERIFY(messages.texts().last().contains(QStringLiteral("失われます")));
        QCOMPARE(w->markLine(), QStringLiteral("1301,"));
    }

    void startAndClose_data() {
        // kind: "file", "link" (MARK.csv links to notes.txt holding bytes), "folder"
        // set: a code marked before closing, "" for none; saved: the bytes after, "" for unchanged
        testing::columns<QString, QByteArray, bool, QString, QByteArray>(
            {"kind", "bytes", "told", "set", "saved"});
        const QByteArray notes("7203,6758,\r\nmemo: 9984 later\r\nmore notes\r\n");
        const QByteArray loneCr("7203,6758,\r1301,\r\n9984,");
        const QByteArray huge = QByteArray(2 * 1024 * 1024, '1') + "\r\n";
        QTest::newRow("link to a notes file") << "link" << notes << false << "" << QByteArray();
        QTest::newRow("further lines") << "file" << notes << false << "" << QByteArray();
        QTest::newRow("lone CR") << "file" << loneCr << false << "" << QByteArray();
        QTest::newRow("no line end")
            << "file" << QByteArray("7203,") << false << "" << QByteArray();
        QTest::newRow("folder") << "folder" << QByteArray() << true << "" << QByteArray();
        QTest::newRow("first line beyond the limit")
            << "file" << huge << true << "" << QByteArray();
        QTest::newRow("link to a notes file, a mark set")
            << "link" << notes << false << "4674"
            << QByteArray("7203,6758,4674,\r\nmemo: 9984 later\r\nmore notes\r\n");
        QTest::newRow("lone CR, a mark set") << "file" << loneCr << false << "4674"
                                             << QByteArray("7203,6758,4674,\r\n1301,\r\n9984,");
    }

    // Starting and closing with no change leaves the mark file's bytes and time as they were; a
    // change writes the first line only; a file that cannot be read is told once, named.
    void startAndClose() {
        QFETCH(QString, kind);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, told);
        QFETCH(QString, set);
        QFETCH(QByteArray, saved);

        const QString path = m_folder->file(kMarkFile);
        const QString target =
            kind == QLatin1String("link") ? m_folder->file(QStringLiteral("notes.txt")) : path;
        if (kind == QLatin1String("folder")) {
            QVERIFY(QDir(m_folder->path()).mkdir(kMarkFile));
        } else {
            QFile f(target);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(f.write(bytes), bytes.size());
            f.close();
            QVERIFY(setAge(target, 3600));
            if (target != path)
                QVERIFY(QFile::link(target, path));
        }
        const QDateTime before = QFileInfo(target).lastModified();

        QStringList messages;
        std::unique_ptr<Form1> w;
        if (told) {
            w = testing::shownWindowTelling(m_folder->context(), &messages);
            QCOMPARE(messages.size(), 1);
            QVERIFY2(messages.first().contains(QDir::toNativeSeparators(path)),
                     qPrintable(messages.first()));
            QVERIFY2(messages.first().contains(QStringLiteral("読み込めません")),
                     qPrintable(messages.first()));
            QCOMPARE(w->markLine(), QString());
        } else {
            w = openWindow();
        }
        if (!set.isEmpty())
            setMark(*w, set);
        testing::MessageCatcher atClose;
        w->close();
        QCOMPARE(atClose.texts(), QStringList());

        if (kind == QLatin1String("folder")) {
            QVERIFY(QFileInfo(path).isDir());
            return;
        }
        QCOMPARE(QFileInfo(path).isSymLink(), kind == QLatin1String("link"));
        QFile after(target);
        QVERIFY(after.open(QIODevice::ReadOnly));
        if (saved.isEmpty()) {
            QVERIFY(after.readAll() == bytes);
            QCOMPARE(QFileInfo(target).lastModified(), before);
        } else {
            QCOMPARE(after.readAll(), saved);
        }
    }

    void leftoversRemovedAtStart() {
        m_folder->writeFile(kMarkFile, "4674,\r\n");
        const QStringList leftovers{"MARK.csv.a1B2c3", "temp1.gif.Zz09aa", "temp2.html.4kQx7P"};
        const QStringList kept{"MARK.csv.backup", "other.csv.a1B2c3"};
        for (const QString& name : leftovers + kept) {
            m_folder->writeFile(name, "4674,1000,\r\n");
            QVERIFY(setAge(m_folder->file(name), 3600));
        }
        auto w = openWindow();
        for (const QString& name : leftovers)
            QVERIFY2(!QFileInfo::exists(m_folder->file(name)), qPrintable(name));
        for (const QString& name : kept)
            QVERIFY2(QFileInfo::exists(m_folder->file(name)), qPrintable(name));
        QCOMPARE(w->markLine(), QStringLiteral("4674,"));
    }

private:
    // The window on the program folder, with the file chooser of the mark-file switch answering
    // m_chosen (nullopt: Cancel).
    std::unique_ptr<Form1> openWindow() {
        ViewerContext ctx = m_folder->context();
        ctx.chooseFile = [this](QWidget*, const QString&, const QString&, const QString&) {
            return m_chosen;
        };
        // A folder at the mark file's name is told once the window is up.
        if (!QFileInfo(m_folder->file(kMarkFile)).isDir())
            return testing::shownWindow(ctx);
        QStringList told;
        auto w = testing::shownWindowTelling(ctx, &told);
        [&] {
            QCOMPARE(told.size(), 1);
            QVERIFY(told.first().contains(QDir::toNativeSeparators(m_folder->file(kMarkFile))));
        }();
        return w;
    }

    void setMark(Form1& w, const QString& code) {
        testing::ui(w).Text1->setText(code);
        w.Command4_Click();
    }

    void switchMarkFile(Form1& w, const std::optional<QString>& chosen) {
        m_chosen = chosen;
        Form2 dialog(w);
        dialog.show();
        testing::ui(dialog).Command2->click();
        dialog.close();
    }

    testing::TestPortal m_portal;
    std::unique_ptr<testing::ProgramFolder> m_folder;
    std::optional<QString> m_chosen;
};

QUORVIX_WINDOW_TEST_MAIN(TestMarkSaves)

#include "tst_marksaves.moc"
