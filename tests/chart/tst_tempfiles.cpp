// The temporary chart and page files of a display, where something else stands at their names.
#include "chart/chartretrieval.h"
#include "files.h"
#include "operations.h"
#include "platform/multitransfer.h"
#include "platform/serverconfig.h"
#include "table.h"
#include "testsupport.h"

#include <QtTest>

using testing::fileBytes;
using testing::isSymLink;

class TestTempFiles : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_portal.started()); }

    void plantedLinks_data() {
        testing::rowsOf<QString>("name", {{"one-day chart", "temp1.gif"},
                                          {"six-month chart", "temp3.gif"},
                                          {"detail page", "temp2.html"}});
    }

    // A link planted at a temporary name is replaced by the file; the user's file it pointed to is
    // left as it was.
    void plantedLinks() {
        QFETCH(QString, name);

        QTemporaryDir folder;
        QTemporaryDir home;
        QVERIFY(folder.isValid() && home.isValid());
        const QString victim = home.filePath(QStringLiteral(".profile"));
        const QByteArray victimBytes("export PATH=/usr/bin\n");
        QVERIFY(testing::writeBytes(victim, victimBytes));
        const QString planted = folder.filePath(name);
        QVERIFY(QFile::link(victim, planted));

        platform::MultiTransfer transfer;
        const platform::ServerConfig servers = platform::ServerConfig::allAt(m_portal.base());
        chart::ChartRetrieval retrieval(transfer, servers, folder.path());
        chart::ChartOptions options;
        options.terms = {true, true, true, true, false, false, false};
        const QString code = m_portal.codeUnder(QStringLiteral(".t"));
        const chart::RetrievalResult r = testing::runDisplay(retrieval, code, options, {});
        QVERIFY(!r.failed);
        testing::runDetailPage(retrieval, code);

        QCOMPARE(fileBytes(victim), victimBytes);
        QVERIFY(!isSymLink(planted));
        const QByteArray written = fileBytes(planted);
        QVERIFY(!written.isEmpty());
        QCOMPARE(written.at(0), name.endsWith(QLatin1String(".gif")) ? 'G' : '<');
    }

private:
    testing::TestPortal m_portal;
};

QTEST_MAIN(TestTempFiles)
#include "tst_tempfiles.moc"
