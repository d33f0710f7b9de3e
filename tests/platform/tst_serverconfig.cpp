#include "files.h"
#include "platform/serverconfig.h"
#include "table.h"

#include <QtTest>

// The same program is the child whose standard error is read: with SERVERCONFIG_CHILD_INI set
// it loads that file and exits.

using platform::ServerConfig;
using platform::ServerRole;

namespace {

const char* const kChildIni = "SERVERCONFIG_CHILD_INI";
const QString kDefaultBase = QStringLiteral("http://127.0.0.1:8470");
const QString kDefaultSupport = QStringLiteral("http://127.0.0.1:8470/support/");

} // namespace

class TestServerConfig : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() { QVERIFY(m_dir.renew()); }

    void entry_data() {
        // written: the value as it stands in the file
        // used: the address the program goes on with
        testing::columns<QString, QByteArray, QString, bool>(
            {"key", "written", "used", "rejected"});

        const QString news = QStringLiteral("news");
        const QString support = QStringLiteral("support-page");

        QTest::newRow("http") << news << QByteArray("http://news.test:8003")
                              << "http://news.test:8003" << false;
        QTest::newRow("https") << news << QByteArray("https://news.test") << "https://news.test"
                               << false;
        QTest::newRow("trailing slashes dropped")
            << news << QByteArray("http://news.test:8003//") << "http://news.test:8003" << false;
        QTest::newRow("path prefix")
            << news << QByteArray("http://news.test/portal") << "http://news.test/portal" << false;
        QTest::newRow("upper-case scheme")
            << news << QByteArray("HTTP://news.test") << "HTTP://news.test" << false;
        QTest::newRow("unquoted comma is part of the address")
            << news << QByteArray("http://news.test/a,b") << "http://news.test/a,b" << false;
        QTest::newRow("ftp") << news << QByteArray("ftp://news.test") << kDefaultBase << true;
        QTest::newRow("file") << news << QByteArray("file:///etc/hostname") << kDefaultBase << true;
        QTest::newRow("script") << news << QByteArray("javascript:alert(1)") << kDefaultBase
                                << true;
        QTest::newRow("no scheme") << news << QByteArray("127.0.0.1:8003") << kDefaultBase << true;
        QTest::newRow("relative") << news << QByteArray("/news") << kDefaultBase << true;
        QTest::newRow("no host") << news << QByteArray("http://") << kDefaultBase << true;
        QTest::newRow("blank in the host")
            << news << QByteArray("http://news .test") << kDefaultBase << true;
        QTest::newRow("base with a query")
            << news << QByteArray("http://news.test/?x=1") << kDefaultBase << true;
        QTest::newRow("unquoted comma, not an address")
            << news << QByteArray("http://news.test,ftp://x") << kDefaultBase << true;

        QTest::newRow("support page") << support << QByteArray("https://help.test/page.html")
                                      << "https://help.test/page.html" << false;
        QTest::newRow("support page with query and unquoted comma")
            << support << QByteArray("http://help.test/p?a=1,2&b=3")
            << "http://help.test/p?a=1,2&b=3" << false;
        QTest::newRow("support page, quoted comma")
            << support << QByteArray("\"http://help.test/p?a=1,2\"") << "http://help.test/p?a=1,2"
            << false;
        QTest::newRow("support page, file")
            << support << QByteArray("file:///etc/passwd") << kDefaultSupport << true;
        QTest::newRow("support page, relative")
            << support << QByteArray("support.html") << kDefaultSupport << true;
        QTest::newRow("support page, script")
            << support << QByteArray("javascript:open()") << kDefaultSupport << true;
    }

    void entry() {
        QFETCH(QString, key);
        QFETCH(QByteArray, written);
        QFETCH(QString, used);
        QFETCH(bool, rejected);

        const QString ini = m_dir.filePath(QStringLiteral("servers.ini"));
        // Another entry beside it, always good, is not disturbed by a bad one.
        QVERIFY(testing::writeBytes(ini, "[servers]\nquote=http://quote.test:8001\n" +
                                             key.toLatin1() + '=' + written + '\n'));

        QStringList lines;
        const ServerConfig config = ServerConfig::load(ini, &lines);
        const QString got = key == QLatin1String("support-page") ? config.supportPage()
                                                                 : config.base(ServerRole::News);
        QCOMPARE(got, used);
        QCOMPARE(config.base(ServerRole::Quote), QStringLiteral("http://quote.test:8001"));
        QCOMPARE(lines.size(), rejected ? 1 : 0);
        if (rejected) {
            QVERIFY2(lines.first().contains(key + QLatin1Char('=')), qPrintable(lines.first()));
            QVERIFY2(lines.first().contains(QString::fromLatin1(written).remove(QLatin1Char('"'))),
                     qPrintable(lines.first()));
        }
    }

    // What the user sees on the terminal: one line for each bad entry, naming key and value, and
    // nothing for the good ones.
    void oneLinePerRejectedEntry() {
        const QString ini = m_dir.filePath(QStringLiteral("servers.ini"));
        QVERIFY(testing::writeBytes(ini, "[servers]\n"
                                         "technical-chart=http://chart.test:8001\n"
                                         "chart-image=gopher://image.test\n"
                                         "quote=http://quote.test/a,b\n"
                                         "news=\"line\\nbreak\"\n"
                                         "support-page=file:///etc/passwd\n"));

        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QLatin1String(kChildIni), ini);
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(), {});
        QVERIFY(child.waitForFinished(30000));
        QCOMPARE(child.exitCode(), 0);
        const QStringList lines = QString::fromLocal8Bit(child.readAllStandardError())
                                      .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines.at(0).contains(QLatin1String("chart-image=\"gopher://image.test\"")),
                 qPrintable(lines.at(0)));
        // The escaped line break stays on the one line.
        QVERIFY2(lines.at(1).contains(QLatin1String("news=\"line\\x0abreak\"")),
                 qPrintable(lines.at(1)));
        QVERIFY2(lines.at(2).contains(QLatin1String("support-page=\"file:///etc/passwd\"")),
                 qPrintable(lines.at(2)));
    }

private:
    testing::FreshFolder m_dir;
};

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsSet(kChildIni)) {
        ServerConfig::load(qEnvironmentVariable(kChildIni));
        return 0;
    }
    QCoreApplication app(argc, argv);
    TestServerConfig test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serverconfig.moc"
