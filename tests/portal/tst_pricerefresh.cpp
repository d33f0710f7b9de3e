// quote-portal refresh against a price source on a loopback port that answers as the test
// tells it: good prices, 404, an HTML page, garbage, no answer at all; a refused connection; a
// code refreshed today; templates that are not http or https; the codes of the mark file.
#include "pricefolder.h"
#include "prices/pricecsv.h"
#include "prices/pricerefresh.h"
#include "servers.h"
#include "table.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QMutex>
#include <QSettings>
#include <QStringEncoder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

const QByteArray kStored = "Date,Open,High,Low,Close,Volume\n2024-09-27,1,2,1,2,3\n";

// A price source: the first part of the path says how to answer ("/good/7203.csv").
class PriceSource : public testing::ThreadedServer {
public:
    PriceSource() {
        start([this](QObject& owner) -> quint16 {
            auto* server = new QTcpServer(&owner);
            server->listen(QHostAddress::LocalHost, 0);
            serve(*server);
            return server->serverPort();
        });
    }

    QStringList requests() const {
        QMutexLocker lock(&m_mutex);
        return m_requests;
    }

private:
    void serve(QTcpServer& server) {
        QObject::connect(&server, &QTcpServer::newConnection, &server, [this, &server] {
            while (QTcpSocket* s = server.nextPendingConnection()) {
                auto* buffer = new QByteArray;
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s, buffer] {
                    buffer->append(s->readAll());
                    const int end = buffer->indexOf("\r\n\r\n");
                    if (end < 0)
                        return;
                    const QByteArray target = buffer->left(end).split(' ').value(1);
                    buffer->remove(0, end + 4);
                    {
                        QMutexLocker lock(&m_mutex);
                        m_requests.append(QString::fromLatin1(target));
                    }
                    answer(s, target);
                });
                QObject::connect(s, &QTcpSocket::disconnected, s, [s, buffer] {
                    delete buffer;
                    s->deleteLater();
                });
            }
        });
    }

    static void send(QTcpSocket* s, int status, const QByteArray& type, const QByteArray& body) {
        s->write("HTTP/1.1 " + QByteArray::number(status) + " X\r\nContent-Type: " + type +
                 "\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    }
    static void answer(QTcpSocket* s, const QByteArray& target) {
        if (target.startsWith("/good/"))
            send(s, 200, "text/csv",
                 "Date,Open,High,Low,Close,Adj Close,Volume\n"
                 "2024-09-30,2740,2760,2600,2613,2613,2000\n"
                 "2024-10-01,2613,2650,2601,2640,2640,1800\n");
        else if (target.startsWith("/missing/"))
            send(s, 404, "text/html", "<html><body>404 Not Found</body></html>");
        else if (target.startsWith("/html/"))
            send(s, 200, "text/html; charset=UTF-8",
                 "<!DOCTYPE html>\n<html><body><p>Please log in</p></body></html>");
        else if (target.startsWith("/garbage/"))
            send(s, 200, "application/octet-stream",
                 QByteArray("\x1f\x8b\x08\0garbage\xff\xfe", 14));
        else if (target.startsWith("/badrow/"))
            send(s, 200, "text/csv",
                 "Date,Open,High,Low,Close,Volume\n2024-09-30,2740,2700,2600,2613,2000\n");
        // "/silent/": the request is read and never answered.
    }

    mutable QMutex m_mutex;
    QStringList m_requests;
};

} // namespace

class TestPriceRefresh : public QObject, private PriceFolder {
    Q_OBJECT

    PriceSource m_source;

    QString programDir() const { return folderPath(QStringLiteral("program")); }
    QString base() const { return m_source.base(); }
    CommandRun refresh(const QStringList& args) {
        CommandRun r;
        QTextStream out(&r.out), err(&r.err);
        r.status = portal::runRefresh(QStringList{QStringLiteral("--data"), dataDir()} + args,
                                      programDir(), out, err);
        return r;
    }
    int requestsFor(const QString& code) const {
        int n = 0;
        for (const QString& r : m_source.requests())
            n += r.contains(code);
        return n;
    }

private Q_SLOTS:
    void initTestCase() { QVERIFY(m_source.port() != 0); }
    void init() {
        renewFolder();
        QVERIFY(QDir().mkpath(programDir()));
    }

    void answers_data() {
        // path: "" for a port nobody listens on
        testing::columns<QString, int, QString>({"path", "status", "line"});
        QTest::newRow("good prices") << QStringLiteral("good") << 0
                                     << QStringLiteral("7203: 追加 2 行、置換 0 行、2024/09/30 - "
                                                       "2024/10/01");
        QTest::newRow("404") << QStringLiteral("missing") << 1
                             << QStringLiteral("7203: 失敗: HTTP 404");
        QTest::newRow("an HTML page")
            << QStringLiteral("html") << 1 << QStringLiteral("7203: 失敗: HTML のページ");
        QTest::newRow("garbage") << QStringLiteral("garbage") << 1
                                 << QStringLiteral("7203: 失敗: 見出し行");
        QTest::newRow("a bad row")
            << QStringLiteral("badrow") << 1 << QStringLiteral("7203: 失敗: 不正な行が 1 行");
        QTest::newRow("never answers")
            << QStringLiteral("silent") << 1 << QStringLiteral("7203: 失敗: 応答がありません");
        QTest::newRow("refused") << QString() << 1 << QStringLiteral("7203: 失敗: 接続できません");
    }
    void answers() {
        QFETCH(QString, path);
        QFETCH(int, status);
        QFETCH(QString, line);
        store(QStringLiteral("7203"), kStored);
        const QString source =
            path.isEmpty() ? testing::deadBase() + QStringLiteral("/{code}.csv")
                           : base() + QLatin1Char('/') + path + QStringLiteral("/{code}.csv");
        const CommandRun r = refresh({QStringLiteral("--source"), source, QStringLiteral("7203")});
        QCOMPARE(r.status, status);
        QVERIFY2(r.out.startsWith(line), qPrintable(r.out));
        QCOMPARE(r.out.count(QLatin1Char('\n')), 1); // one progress line
        if (status == 0) {
            const portal::History h =
                portal::parsePriceCsv(storedBytes(QStringLiteral("7203"))).bars;
            QCOMPARE(h.size(), 3); // the stored day and the two fetched ones
            QCOMPARE(h.last().close, 2640.0);
            QVERIFY(r.err.isEmpty());
        } else {
            QCOMPARE(storedBytes(QStringLiteral("7203")), kStored);
            QVERIFY2(r.err.contains(QStringLiteral("取得できなかった銘柄（1）: 7203")),
                     qPrintable(r.err));
        }
    }

    void refreshedTodayIsNotFetchedAgain() {
        const QString source = base() + QStringLiteral("/good/today-{code}.csv");
        const CommandRun first =
            refresh({QStringLiteral("--source"), source, QStringLiteral("6758")});
        QCOMPARE(first.status, 0);
        QCOMPARE(requestsFor(QStringLiteral("today-6758")), 1);
        // The source is kept, so the second run needs none.
        const CommandRun second = refresh({QStringLiteral("6758")});
        QCOMPARE(second.status, 0);
        QVERIFY2(second.out.startsWith(QStringLiteral("6758: 今日は取得済みです")),
                 qPrintable(second.out));
        QCOMPARE(requestsFor(QStringLiteral("today-6758")), 1);
        const CommandRun forced = refresh({QStringLiteral("--force"), QStringLiteral("6758")});
        QCOMPARE(forced.status, 0);
        QVERIFY2(forced.out.startsWith(QStringLiteral("6758: 追加 0 行、置換 0 行、同じ値 2 行")),
                 qPrintable(forced.out));
        QCOMPARE(requestsFor(QStringLiteral("today-6758")), 2);
    }

    void aFailedFetchIsTriedAgainTheSameDay() {
        const QString source = base() + QStringLiteral("/missing/again-{code}.csv");
        QCOMPARE(refresh({QStringLiteral("--source"), source, QStringLiteral("6501")}).status, 1);
        QCOMPARE(refresh({QStringLiteral("6501")}).status, 1);
        QCOMPARE(requestsFor(QStringLiteral("again-6501")), 2);
    }

    void badTemplates_data() {
        testing::rowsOf<QString>("source",
                                 {{"ftp", QStringLiteral("ftp://127.0.0.1/{code}.csv")},
                                  {"file", QStringLiteral("file:///etc/{code}")},
                                  {"no scheme", QStringLiteral("127.0.0.1/{code}.csv")},
                                  {"no placeholder", QStringLiteral("http://127.0.0.1/7203.csv")},
                                  {"no host", QStringLiteral("http:///{code}.csv")}});
    }
    void badTemplates() {
        QFETCH(QString, source);
        const int before = int(m_source.requests().size());
        const CommandRun r = refresh({QStringLiteral("--source"), source, QStringLiteral("7203")});
        QCOMPARE(r.status, 2);
        QVERIFY2(r.err.contains(QStringLiteral("取得元のアドレス")), qPrintable(r.err));
        QCOMPARE(int(m_source.requests().size()), before);
        // A refused template is not kept.
        QSettings config(portal::configurationPath(dataDir()), QSettings::IniFormat);
        QVERIFY(config.value(QStringLiteral("refresh/source")).toString().isEmpty());
    }

    void noSourceConfiguredMeansNoRequest() {
        const CommandRun r = refresh({QStringLiteral("7203")});
        QCOMPARE(r.status, 2);
        QVERIFY(r.err.contains(QStringLiteral("取得元が設定されていません")));
    }

    void codesOfTheMarkFile_data() {
        testing::columns<bool, int>({"inDataFolder", "status"});
        QTest::newRow("in the data folder") << true << 0;
        // The data folder's marks are the user's; a mark file beside the program is not read.
        QTest::newRow("beside the program only") << false << 2;
    }
    void codesOfTheMarkFile() {
        QFETCH(bool, inDataFolder);
        QFETCH(int, status);
        const QString folder = inDataFolder ? dataDir() : programDir();
        QVERIFY(testing::writeBytes(folder + QStringLiteral("/MARK.csv"),
                                    QStringEncoder("Shift_JIS")(QStringLiteral("9432,8306,\r\n"))));
        const QString source = base() + QStringLiteral("/good/mark-{code}.csv");
        const auto before = m_source.requests().size();
        const CommandRun r = refresh({QStringLiteral("--source"), source});
        QCOMPARE(r.status, status);
        if (status != 0) {
            QVERIFY2(r.err.contains(QStringLiteral("MARK.csv")), qPrintable(r.err));
            QCOMPARE(m_source.requests().size(), before);
            return;
        }
        const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        QVERIFY(lines[0].startsWith(QStringLiteral("9432: ")));
        QVERIFY(lines[1].startsWith(QStringLiteral("8306: ")));
        QCOMPARE(requestsFor(QStringLiteral("mark-9432")), 1);
        QCOMPARE(requestsFor(QStringLiteral("mark-8306")), 1);
    }

    void failuresAreSummedUp() {
        const QString source = base() + QStringLiteral("/missing/sum-{code}.csv");
        const CommandRun r = refresh({QStringLiteral("--source"), source, QStringLiteral("4063"),
                                      QStringLiteral("x1"), QStringLiteral("6861")});
        QCOMPARE(r.status, 1);
        QCOMPARE(r.out.count(QLatin1Char('\n')), 3);
        QVERIFY2(r.err.contains(QStringLiteral("取得できなかった銘柄（3）: x1, 4063, 6861")),
                 qPrintable(r.err));
    }

    void markFileCodes_data() {
        testing::columns<QByteArray, QStringList>({"bytes", "codes"});
        QTest::newRow("two") << QByteArray("7203,6758,") << QStringList{"7203", "6758"};
        QTest::newRow("only the first line")
            << QByteArray("7203,\r\n6758,\r\n") << QStringList{"7203"};
        QTest::newRow("no comma after the last") << QByteArray("7203,6758") << QStringList{"7203"};
        QTest::newRow("empty") << QByteArray() << QStringList{};
        QTest::newRow("no codes among them") << QByteArray("abc,12,7203,") << QStringList{"7203"};
        // The viewer shows the marks up to the first line end of any kind; no others are fetched.
        QTest::newRow("a lone CR ends the first line")
            << QByteArray("7203,\r6758,\r\n") << QStringList{"7203"};
    }
    void markFileCodes() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, codes);
        const QString path = folderPath(QStringLiteral("MARK.csv"));
        QVERIFY(testing::writeBytes(path, bytes));
        QCOMPARE(portal::markFileCodes(path), codes);
    }

    void codeIsPercentEncoded() {
        QCOMPARE(portal::sourceAddress(QStringLiteral("https://h.example/q?s={code}&x=1"),
                                       QStringLiteral("7203")),
                 QStringLiteral("https://h.example/q?s=7203&x=1"));
        QCOMPARE(portal::sourceAddress(QStringLiteral("http://h.example/{code}.csv"),
                                       QStringLiteral("1 A&/")),
                 QStringLiteral("http://h.example/1%20A%26%2F.csv"));
    }
};

QTEST_GUILESS_MAIN(TestPriceRefresh)
#include "tst_pricerefresh.moc"
