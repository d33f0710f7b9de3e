#include "chart/detailpage.h"
#include "controls.h"
#include "desktop/guiwebview.h"
#include "files.h"
#include "mainwin/form1.h"
#include "table.h"
#include "testsupport.h"

#include <QApplication>
#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>
#include <QtTest>

namespace {

// A web server on loopback that answers from a table of pages and keeps everything it was sent:
// every request line, every byte (headers and bodies), and every WebSocket attempt, which it
// records and then refuses.
class RecordingServer : public QObject {
public:
    RecordingServer() {
        connect(&m_server, &QTcpServer::newConnection, this, &RecordingServer::accept);
        m_server.listen(QHostAddress::LocalHost, 0);
    }

    QString base() const {
        return QStringLiteral("http://127.0.0.1:%1").arg(m_server.serverPort());
    }
    QString wsBase() const {
        return QStringLiteral("ws://127.0.0.1:%1").arg(m_server.serverPort());
    }
    void serve(const QByteArray& path, const QByteArray& type, const QByteArray& body) {
        m_pages.insert(path, {type, body});
    }
    // "GET /path?query", "POST /path", "WS /path?query".
    const QList<QByteArray>& requests() const { return m_requests; }
    const QByteArray& received() const { return m_received; }
    bool saw(const QByteArray& request) const { return m_requests.contains(request); }
    bool sawPathStarting(const QByteArray& path) const {
        for (const QByteArray& r : m_requests) {
            if (r.mid(r.indexOf(' ') + 1).startsWith(path))
                return true;
        }
        return false;
    }

private:
    struct Page {
        QByteArray type;
        QByteArray body;
    };

    void accept() {
        while (QTcpSocket* socket = m_server.nextPendingConnection()) {
            auto buffer = std::make_shared<QByteArray>();
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                const QByteArray bytes = socket->readAll();
                m_received += bytes;
                *buffer += bytes;
                answerWhenComplete(socket, *buffer);
            });
        }
    }

    void answerWhenComplete(QTcpSocket* socket, QByteArray& buffer) {
        const qsizetype headEnd = buffer.indexOf("\r\n\r\n");
        if (headEnd < 0)
            return;
        const QByteArray head = buffer.left(headEnd);
        const QList<QByteArray> lines = head.split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        qsizetype length = 0;
        bool upgrade = false;
        for (const QByteArray& line : lines) {
            const QByteArray l = line.trimmed().toLower();
            if (l.startsWith("content-length:"))
                length = l.mid(15).trimmed().toLongLong();
            if (l.startsWith("upgrade:") && l.contains("websocket"))
                upgrade = true;
        }
        if (buffer.size() < headEnd + 4 + length)
            return;
        buffer.clear();
        const QByteArray method = upgrade ? QByteArray("WS") : requestLine.value(0);
        const QByteArray target = requestLine.value(1);
        m_requests << method + ' ' + target;

        const qsizetype query = target.indexOf('?');
        const auto page = m_pages.constFind(query < 0 ? target : target.left(query));
        QByteArray answer;
        if (!upgrade && page != m_pages.constEnd()) {
            answer = "HTTP/1.1 200 OK\r\nContent-Type: " + page->type +
                     "\r\nContent-Length: " + QByteArray::number(page->body.size()) +
                     "\r\nConnection: close\r\n\r\n" + page->body;
        } else {
            answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
        }
        socket->write(answer);
        socket->disconnectFromHost();
    }

    QTcpServer m_server;
    QHash<QByteArray, Page> m_pages;
    QList<QByteArray> m_requests;
    QByteArray m_received;
};

QByteArray pngOf(int width, int height, QColor colour) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QByteArray fileUrl(const QString& path) {
    return QUrl::fromLocalFile(path).toEncoded();
}

// A page that tries every way a page has to read a local file and carry it off. What it reads
// it sends by image, by fetch and by WebSocket ("/leak..."); what it cannot read it notes by an
// image ("/report?..."). Before anything else it sends "channel" by all three, which shows that
// the ways out were open. "/report?done" ends it.
QByteArray hostilePageText(const QString& base, const QString& wsBase, const QString& secretText,
                           const QString& secretImage) {
    QFile file(QStringLiteral(QUORVIX_SOURCE_DIR "/tests/desktop/hostile.html"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return QString::fromUtf8(file.readAll())
        .arg(base, wsBase, QString::fromUtf8(fileUrl(secretText)),
             QString::fromUtf8(fileUrl(secretImage)))
        .toUtf8();
}

// A listener on loopback that only counts who connects to it.
class ConnectionCounter : public QObject {
public:
    ConnectionCounter() {
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection()) {
                ++m_connections;
                socket->abort();
                socket->deleteLater();
            }
        });
        m_server.listen(QHostAddress::LocalHost, 0);
    }
    quint16 port() const { return m_server.serverPort(); }
    int connections() const { return m_connections; }

private:
    QTcpServer m_server;
    int m_connections = 0;
};

// A page whose scripts retitle it, call listenerPort by WebSocket, EventSource, beacon, fetch
// and a WebRTC relay, and then spin; the image at afterScripts comes after them in the markup.
QByteArray scriptedPageText(quint16 listenerPort, const QString& afterScripts) {
    QFile file(QStringLiteral(QUORVIX_SOURCE_DIR "/tests/desktop/scripted.html"));
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    const QString port = QString::number(listenerPort);
    return QString::fromUtf8(file.readAll())
        .arg(QStringLiteral("http://127.0.0.1:") + port, QStringLiteral("ws://127.0.0.1:") + port,
             QStringLiteral("turn:127.0.0.1:%1?transport=tcp").arg(port), afterScripts)
        .toUtf8();
}

// The result of a script in the view's page, waited for. It runs in the application's own world,
// which sees the page's document even where the page may run no script of its own.
QVariant evaluate(QWebEngineView& view, const QString& script) {
    QVariant result;
    bool done = false;
    view.page()->runJavaScript(script, QWebEngineScript::ApplicationWorld, [&](const QVariant& v) {
        result = v;
        done = true;
    });
    if (!QTest::qWaitFor([&] { return done; }, 30000))
        return QVariant();
    return result;
}

} // namespace

// The web panes run the real web view, offscreen, against pages served on loopback: what a
// hostile or intercepted quote page can reach, and what a good one still shows.
class TestWebView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init() {
        QVERIFY(m_dir.renew());
        m_server = std::make_unique<RecordingServer>();
    }

    void cleanup() { m_server.reset(); }

    void hostilePage_data() {
        testing::rowsOf<bool>(
            "local", {{"detail pane (saved page)", true}, {"summary panel (portal page)", false}});
    }

    void hostilePage() {
        QFETCH(bool, local);
        const QByteArray secret =
            "secret-" + QByteArray::number(QRandomGenerator::global()->generate());
        const QString secretText = m_dir.filePath(QStringLiteral("MARK.csv"));
        const QString secretImage = m_dir.filePath(QStringLiteral("photo.png"));
        QFile text(secretText);
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write(secret + "\r\n");
        text.close();
        QFile image(secretImage);
        QVERIFY(image.open(QIODevice::WriteOnly));
        image.write(pngOf(3, 3, QColor(200, 100, 50)));
        image.close();
        QFile hostname(QStringLiteral("/etc/hostname"));
        const QByteArray host =
            hostname.open(QIODevice::ReadOnly) ? hostname.readAll().trimmed() : "";

        QWebEngineView view;
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        show(view, local,
             hostilePageText(m_server->base(), m_server->wsBase(), secretText, secretImage));
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 60000);
        QVERIFY(loaded.first().first().toBool());
        // Its markup got no local file: the picture from one stayed empty.
        QCOMPARE(evaluate(view, QStringLiteral("document.getElementById('picture').naturalWidth"))
                     .toInt(),
                 0);
        // Its scripts did not run, so nothing was read or sent: not even the first "channel",
        // no leak by any way, the files' text nowhere, no window opened.
        QVERIFY2(!m_server->sawPathStarting("/channel"),
                 m_server->requests().join('\n').constData());
        QVERIFY2(!m_server->sawPathStarting("/leak"), m_server->requests().join('\n').constData());
        QVERIFY(!m_server->sawPathStarting("/report"));
        QVERIFY(!m_server->received().contains(secret));
        if (host.size() >= 3)
            QVERIFY(!m_server->received().contains("=" + host));
        QVERIFY(!m_server->sawPathStarting("/popup"));
    }

    void scriptsDoNotRun_data() {
        testing::rowsOf<bool>(
            "local", {{"detail pane (saved page)", true}, {"summary panel (portal page)", false}});
    }

    // A page's scripts would retitle it, spin a core and call a loopback port every way a page
    // can; in a pane none of them runs, and the page is still shown as its markup says.
    void scriptsDoNotRun() {
        QFETCH(bool, local);
        ConnectionCounter listener;
        QVERIFY(listener.port() != 0);
        m_server->serve("/after.png", "image/png", pngOf(7, 5, Qt::blue));

        QWebEngineView view;
        QSignalSpy loaded(&view, &QWebEngineView::loadFinished);
        show(view, local,
             scriptedPageText(listener.port(), m_server->base() + QStringLiteral("/after.png")));
        QTRY_VERIFY_WITH_TIMEOUT(!loaded.isEmpty(), 60000);
        QVERIFY(loaded.first().first().toBool());
        QCOMPARE(view.title(), QStringLiteral("written"));
        QCOMPARE(listener.connections(), 0);
        // The markup after the scripts was read, and the renderer answers (no busy loop holds it).
        QVERIFY(m_server->saw("GET /after.png"));
        QCOMPARE(
            evaluate(view, QStringLiteral("document.getElementById('after').naturalWidth")).toInt(),
            7);
    }

    void portalImageAndStyle_data() {
        testing::rowsOf<bool>(
            "local", {{"detail pane (saved page)", true}, {"summary panel (portal page)", false}});
    }

    // The quote page's own chart picture and style sheet come from the portal and are shown.
    void portalImageAndStyle() {
        QFETCH(bool, local);
        m_server->serve("/chart.png", "image/png", pngOf(60, 40, Qt::darkGreen));
        m_server->serve("/style.css", "text/css", "#quote { width: 123px; }");
        const QByteArray page =
            QStringLiteral(
                "<!DOCTYPE html>\n<html><head><link rel=\"stylesheet\" href=\"%1/style.css\">"
                "</head>\n<body><div id=\"quote\">4674</div>"
                "<img id=\"chart\" src=\"%1/chart.png\"></body></html>\n")
                .arg(m_server->base())
                .toUtf8();
        QWebEngineView view;
        show(view, local, page);
        QTRY_COMPARE_WITH_TIMEOUT(
            evaluate(view,
                     QStringLiteral("document.images.length ? document.images[0].naturalWidth : 0"))
                .toInt(),
            60, 60000);
        QTRY_COMPARE_WITH_TIMEOUT(
            evaluate(view,
                     QStringLiteral("getComputedStyle(document.getElementById('quote')).width"))
                .toString(),
            QStringLiteral("123px"), 30000);
        QVERIFY(m_server->saw("GET /chart.png"));
    }

    // The saved detail page opens scrolled to the anchor written over the marker.
    void anchor() {
        QByteArray page =
            "<!DOCTYPE html><html><body><div style=\"height: 4000px\">header</div>"
            "<!-- AD END Location: CT -->"
            "<p id=\"data\">data</p><div style=\"height: 4000px\"></div></body></html>";
        QVERIFY(chart::writeDetailAnchor(page));
        QWebEngineView view;
        show(view, true, page);
        // The fragment scrolls the page with scripts off.
        QTRY_VERIFY_WITH_TIMEOUT(view.page()->scrollPosition().y() > 3000, 60000);
        QCOMPARE(
            evaluate(view, QStringLiteral("document.getElementById('ZELK') !== null")).toBool(),
            true);
    }

    void navigation_data() {
        testing::columns<QString, bool>({"url", "allowed"});
        QTest::newRow("http") << "http://127.0.0.1:8470/q?s=4674" << true;
        QTest::newRow("https") << "https://quote.example.jp/q?s=4674" << true;
        QTest::newRow("blank") << "about:blank" << true;
        QTest::newRow("the saved page") << "file:///opt/quorvix/temp2.html" << true;
        QTest::newRow("the saved page at its anchor")
            << "file:///opt/quorvix/temp2.html#ZELK" << true;
        QTest::newRow("the saved page by another path")
            << "file:///opt/quorvix/./charts/../temp2.html#ZELK" << true;
        QTest::newRow("the saved page with a query")
            << "file:///opt/quorvix/temp2.html?x=1" << false;
        QTest::newRow("another file beside it") << "file:///opt/quorvix/MARK.csv" << false;
        QTest::newRow("a system file") << "file:///etc/passwd" << false;
        QTest::newRow("a file on a host") << "file://server/opt/quorvix/temp2.html" << false;
        QTest::newRow("ftp") << "ftp://127.0.0.1/" << false;
        QTest::newRow("data") << "data:text/html,<b>x</b>" << false;
        QTest::newRow("javascript") << "javascript:alert(1)" << false;
        QTest::newRow("mailto") << "mailto:a@example.jp" << false;
        QTest::newRow("view-source") << "view-source:http://127.0.0.1/" << false;
        QTest::newRow("chrome") << "chrome://settings" << false;
        QTest::newRow("qrc") << "qrc:/page.html" << false;
        QTest::newRow("another about page") << "about:settings" << false;
        QTest::newRow("http without a host") << "http:///etc/passwd" << false;
        QTest::newRow("upper-case scheme") << "HTTP://127.0.0.1/" << true;
    }

    void navigation() {
        QFETCH(QString, url);
        QFETCH(bool, allowed);
        QCOMPARE(
            platform::isAllowedWebNavigation(QUrl(url), QStringLiteral("/opt/quorvix/temp2.html")),
            allowed);
    }

    // The main window's three panes are such panes; the detail panes may show the saved page.
    void windowPanes() {
        testing::ProgramFolder folder(testing::deadBase());
        const std::unique_ptr<Form1> window = folder.openWindow();
        for (QWebEngineView* pane :
             {testing::ui(*window).WebBrowser1, testing::ui(*window).WebBrowser2,
              testing::ui(*window).WebBrowser3}) {
            QVERIFY(qobject_cast<platform::GuiWebPage*>(pane->page()));
            QVERIFY(!pane->settings()->testAttribute(
                QWebEngineSettings::LocalContentCanAccessFileUrls));
            QVERIFY(!pane->settings()->testAttribute(QWebEngineSettings::JavascriptEnabled));
        }
        const QUrl saved = QUrl::fromLocalFile(folder.file(QStringLiteral("temp2.html")));
        const auto* detail =
            qobject_cast<platform::GuiWebPage*>(testing::ui(*window).WebBrowser2->page());
        QVERIFY(detail->allows(saved));
        QVERIFY(qobject_cast<platform::GuiWebPage*>(testing::ui(*window).WebBrowser3->page())
                    ->allows(saved));
        QVERIFY(!qobject_cast<platform::GuiWebPage*>(testing::ui(*window).WebBrowser1->page())
                     ->allows(saved));
    }

private:
    // The detail pane shows the saved page from the program folder as the window does: the file's
    // address with "#ZELK"; the summary panel shows a page of the portal's.
    void show(QWebEngineView& view, bool local, const QByteArray& page) {
        view.resize(520, 300);
        view.show();
        if (local) {
            platform::isolateWebView(&view, localPage());
            QFile file(localPage());
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write(page);
            file.close();
            view.setUrl(QUrl(QUrl::fromLocalFile(localPage()).toString() +
                             QLatin1String(chart::kDetailFragment)));
        } else {
            platform::isolateWebView(&view);
            m_server->serve("/page", "text/html; charset=utf-8", page);
            view.setUrl(QUrl(m_server->base() + QStringLiteral("/page")));
        }
    }

    QString localPage() const { return m_dir.filePath(QStringLiteral("temp2.html")); }

    testing::FreshFolder m_dir;
    std::unique_ptr<RecordingServer> m_server;
};

QUORVIX_WINDOW_TEST_MAIN(TestWebView)

#include "tst_webview.moc"
