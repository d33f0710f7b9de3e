// Every address form of the stand-in portal against a real server on a loopback port: status,
// content type and first byte; the suffix rule; the detail page; hostile queries; the request log.
#include "portalclient.h"
#include "table.h"

#include <QtTest>

using portal::PortalServer;

class TestRoutes : public QObject {
    Q_OBJECT

    std::unique_ptr<PortalServer> m_server;
    QString m_code; // a listed ".t" code
    QString m_name;
    QString m_unknown; // four digits that are not listed

private Q_SLOTS:
    void initTestCase() {
        const auto listings = portal::readCodeList(codeListPath());
        QVERIFY2(!listings.isEmpty(), qPrintable(codeListPath()));
        m_code = firstCodeWithSuffix(QStringLiteral(".t"));
        QVERIFY(!m_code.isEmpty());
        for (const auto& l : listings) {
            if (l.code == m_code)
                m_name = l.name;
        }
        for (int n = 0; n < 10000 && m_unknown.isEmpty(); ++n) {
            const QString c = QStringLiteral("%1").arg(n, 4, 10, QLatin1Char('0'));
            if (std::none_of(listings.begin(), listings.end(),
                             [&](const portal::Listing& l) { return l.code == c; }))
                m_unknown = c;
        }
        m_server = std::make_unique<PortalServer>(testOptions());
        QVERIFY(m_server->start());
        QVERIFY(m_server->port() != 0);
        QCOMPARE(m_server->baseUrl(), QStringLiteral("http://127.0.0.1:%1").arg(m_server->port()));
    }
    void cleanupTestCase() { m_server.reset(); }

    void addressForms_data() {
        // namesCode: the page shows the code's name
        testing::columns<QByteArray, int, QByteArray, char, bool>(
            {"target", "status", "contentType", "firstByte", "namesCode"});

        const QByteArray c = m_code.toLatin1();
        const QByteArray d = c.left(1);
        const QByteArray u = m_unknown.toLatin1();
        const QByteArray j = firstCodeWithSuffix(QStringLiteral(".j")).toLatin1();
        const QByteArray gif = "image/gif", html = "text/html";
        auto chart = [](const QByteArray& s, const QByteArray& p, const QByteArray& t) {
            return "/z?s=" + s + "&a=v&p=" + p + "&t=" + t + "&l=off&z=m&q=c";
        };
        for (const char* term : {"3m", "6m", "1y", "2y", "5y", "ay"})
            QTest::addRow("technical %s", term)
                << chart(c + ".t", "m25,m75", term) << 200 << gif << 'G' << false;
        QTest::newRow("technical, no overlays")
            << chart(c + ".t", "", "6m") << 200 << gif << 'G' << false;
        QTest::newRow("technical, all tokens")
            << chart(c + ".t", "m25,m75,m65,m130,m260,e25,e75,e65,e130,e260,b,p,v", "1y") << 200
            << gif << 'G' << false;
        QTest::newRow("technical under .j")
            << chart(j + ".j", "m65,m130", "1y") << 200 << gif << 'G' << false;
        QTest::newRow("intraday") << "/c/1d/" + d + "/" + c + ".t.gif" << 200 << gif << 'G'
                                  << false;
        QTest::newRow("mobile gateway")
            << "/bin/gw?url=http%3A%2F%2F127.0.0.1%3A8470%2Fbin%2Frs&ag=i&cr=i&src=p&word=" + c +
                   "&site=12"
            << 200 << html << '<' << true;
        QTest::newRow("gateway search page")
            << QByteArray("/bin/rs") << 200 << html << '<' << false;
        QTest::newRow("detail quote")
            << "/q?s=" + c + "&d=t&k=c3&h=on&z=m" << 200 << html << '<' << true;
        QTest::newRow("company profile")
            << "/biz/fundamental/" + c + ".html" << 200 << html << '<' << true;
        QTest::newRow("news") << "/news?s=" + c << 200 << html << '<' << true;
        QTest::newRow("message board") << "/bbs?action=q&board=" + c << 200 << html << '<' << true;
        QTest::newRow("report") << "/report/sector33/brand_report/" + c + ".html" << 200 << html
                                << '<' << true;
        QTest::newRow("support page") << QByteArray("/support/") << 200 << html << '<' << false;

        // Misses: unknown codes, other suffixes, unknown paths.
        for (const char* sfx : {".j", ".q", ".o", ".n"}) {
            QTest::addRow("technical under %s", sfx)
                << chart(c + sfx, "m25,m75", "3m") << 404 << html << '<' << false;
            QTest::addRow("intraday under %s", sfx)
                << "/c/1d/" + d + "/" + c + sfx + ".gif" << 404 << html << '<' << false;
        }
        QTest::newRow("technical unknown code")
            << chart(u + ".t", "", "3m") << 404 << html << '<' << false;
        QTest::newRow("technical unknown term")
            << chart(c + ".t", "", "7y") << 404 << html << '<' << false;
        QTest::newRow("intraday wrong folder")
            << "/c/1d/" + QByteArray(d == "9" ? "1" : "9") + "/" + c + ".t.gif" << 404 << html
            << '<' << false;
        QTest::newRow("intraday unknown code")
            << "/c/1d/" + u.left(1) + "/" + u + ".t.gif" << 404 << html << '<' << false;
        QTest::newRow("detail unknown code")
            << "/q?s=" + u + "&d=t&k=c3&h=on&z=m" << 404 << html << '<' << false;
        QTest::newRow("gateway unknown code")
            << "/bin/gw?word=" + u + "&site=12" << 404 << html << '<' << false;
        QTest::newRow("company unknown code")
            << "/biz/fundamental/" + u + ".html" << 404 << html << '<' << false;
        QTest::newRow("news empty code") << QByteArray("/news?s=") << 404 << html << '<' << false;
        QTest::newRow("board other action")
            << "/bbs?action=x&board=" + c << 404 << html << '<' << false;
        QTest::newRow("root") << QByteArray("/") << 404 << html << '<' << false;
        QTest::newRow("unknown path")
            << QByteArray("/quote/list.html") << 404 << html << '<' << false;
        QTest::newRow("detail under POST") << "/q?s=" + c << 404 << html << '<' << false;

        // Hostile queries.
        QTest::newRow("technical without code")
            << QByteArray("/z?a=v&p=&t=3m") << 404 << html << '<' << false;
        QTest::newRow("technical without term")
            << "/z?s=" + c + ".t&a=v&p=" << 404 << html << '<' << false;
        QTest::newRow("doubled code")
            << "/z?s=" + c + ".t&s=" + c + ".t&a=v&p=&t=3m" << 404 << html << '<' << false;
        QTest::newRow("doubled term")
            << "/z?s=" + c + ".t&t=3m&t=6m" << 404 << html << '<' << false;
        QTest::newRow("doubled detail code")
            << "/q?s=" + c + "&s=" + c << 404 << html << '<' << false;
        QTest::newRow("code with a slash")
            << "/z?s=" + c.left(2) + "/" + c.mid(2) + ".t&t=3m" << 404 << html << '<' << false;
        QTest::newRow("code with encoded slash")
            << "/q?s=" + c.left(2) + "%2F" + c.mid(2) << 404 << html << '<' << false;
        QTest::newRow("code with dots") << "/z?s=" + c + "..t&t=3m" << 404 << html << '<' << false;
        QTest::newRow("code with parent folder")
            << "/z?s=../" + c + ".t&t=3m" << 404 << html << '<' << false;
        QTest::newRow("path with parent folder")
            << "/biz/fundamental/../" + c + ".html" << 404 << html << '<' << false;
        QTest::newRow("detail with suffix") << "/q?s=" + c + ".t" << 404 << html << '<' << false;
        QTest::newRow("five digits") << "/q?s=" + c + "0" << 404 << html << '<' << false;
        QTest::newRow("full-width digits")
            << QByteArray("/q?s=%EF%BC%91%EF%BC%93%EF%BC%90%EF%BC%91") << 404 << html << '<'
            << false;
        // Longer than any request head the portal takes.
        QTest::newRow("100000-character query")
            << "/z?s=" + QByteArray(100000, '1') + ".t&t=3m" << 431 << html << '<' << false;
        QTest::newRow("100000-character detail query")
            << "/q?s=" + c + "&x=" + QByteArray(100000, '%') << 431 << html << '<' << false;
    }
    void addressForms() {
        QFETCH(QByteArray, target);
        QFETCH(int, status);
        QFETCH(QByteArray, contentType);
        QFETCH(char, firstByte);
        QFETCH(bool, namesCode);
        const QByteArray method =
            QByteArray(QTest::currentDataTag()).contains("POST") ? "POST" : "GET";
        const Answer a = fetch(m_server->port(), target, method);
        QCOMPARE(a.status, status);
        QVERIFY2(a.contentType.startsWith(contentType), a.contentType.constData());
        QVERIFY(!a.body.isEmpty());
        QCOMPARE(a.body.at(0), firstByte);
        if (namesCode)
            QVERIFY(QString::fromUtf8(a.body).contains(m_name));
        // The server is still there for the next request.
        QCOMPARE(fetch(m_server->port(), "/support/").status, 200);
    }

    void suffixRule_data() { testing::suffixRows(); }
    void suffixRule() {
        QFETCH(QString, suffix);
        const auto listings = portal::readCodeList(codeListPath());
        int withSuffix = 0;
        for (const auto& l : listings) {
            const QString s = m_server->suffixFor(l.code);
            QVERIFY(testing::kSuffixes.contains(s));
            withSuffix += s == suffix;
        }
        QVERIFY2(withSuffix > 0, "no listed code under this suffix");
        if (suffix == QLatin1String(".t"))
            QVERIFY(withSuffix > listings.size() / 2);
        else
            QVERIFY(withSuffix < listings.size() / 10);

        // A code is served under its own suffix only, by both chart servers.
        const QByteArray code = firstCodeWithSuffix(suffix).toLatin1();
        QCOMPARE(m_server->suffixFor(QString::fromLatin1(code)), suffix);
        QCOMPARE(wrongSuffixAnswers(code, suffix, "&a=v&p=&t=3m&l=off&z=m&q=c"), QStringList());
    }

    // Alphanumeric codes are served like four-digit ones, each under the suffix its digits and
    // letters pick.
    void alphanumericCodes_data() {
        testing::columns<QString, QString>({"code", "suffix"});
        QTest::newRow("130A") << QStringLiteral("130A") << QStringLiteral(".t");
        QTest::newRow("134A") << QStringLiteral("134A") << QStringLiteral(".j");
        QTest::newRow("135A") << QStringLiteral("135A") << QStringLiteral(".q");
        QTest::newRow("136A") << QStringLiteral("136A") << QStringLiteral(".o");
        QTest::newRow("137A") << QStringLiteral("137A") << QStringLiteral(".n");
        QTest::newRow("258A") << QStringLiteral("258A") << QStringLiteral(".t");
    }
    void alphanumericCodes() {
        QFETCH(QString, code);
        QFETCH(QString, suffix);
        QCOMPARE(m_server->suffixFor(code), suffix);
        const QByteArray c = code.toLatin1();
        QCOMPARE(wrongSuffixAnswers(c, suffix, "&a=v&p=m25&t=6m&l=off&z=m&q=c"), QStringList());
        for (const QByteArray& page :
             {"/q?s=" + c + "&d=t&k=c3&h=on&z=m", "/bin/gw?word=" + c + "&site=12",
              "/biz/fundamental/" + c + ".html", "/report/sector33/brand_report/" + c + ".html",
              "/news?s=" + c, "/bbs?action=q&board=" + c}) {
            const Answer a = fetch(m_server->port(), page);
            QVERIFY2(a.status == 200, page.constData());
            QVERIFY2(QString::fromUtf8(a.body).contains(code), page.constData());
        }
        // Only the code as listed: not in lower case, not in full width.
        const QByteArray lower = code.toLower().toLatin1();
        QCOMPARE(fetch(m_server->port(), "/q?s=" + lower).status, 404);
        QCOMPARE(fetch(m_server->port(), "/biz/fundamental/" + lower + ".html").status, 404);
        QCOMPARE(fetch(m_server->port(), "/z?s=" + lower + suffix.toLatin1() + "&t=3m").status,
                 404);
        QCOMPARE(
            fetch(m_server->port(), "/q?s=" + QUrl::toPercentEncoding(code.left(3) + QChar(0xFF21)))
                .status,
            404);
    }

    void suffixOfUnknownCodeIsEmpty() {
        QVERIFY(m_server->suffixFor(m_unknown).isEmpty());
        QVERIFY(m_server->suffixFor(QStringLiteral("13a1")).isEmpty());
        // The alphanumeric form, but not listed.
        QVERIFY(m_server->suffixFor(QStringLiteral("130C")).isEmpty());
        QCOMPARE(fetch(m_server->port(), "/q?s=130C").status, 404);
        QVERIFY(m_server->suffixFor(QString()).isEmpty());
    }

    void detailPageMarker() {
        const Answer a =
            fetch(m_server->port(), "/q?s=" + m_code.toLatin1() + "&d=t&k=c3&h=on&z=m");
        QCOMPARE(a.status, 200);
        const QByteArray marker = "<!-- AD END Location: CT -->";
        const int at = a.body.indexOf(marker);
        QVERIFY(at >= 2048); // a header of realistic size first
        QVERIFY(at <= 15000);
        QCOMPARE(a.body.count(marker), 1);
        // The quote data follows the marker.
        const QString data = QString::fromUtf8(a.body.mid(at));
        for (const char* label :
             {"現在値", "前日比", "始値", "高値", "安値", "前日終値", "出来高", "52週", "時系列"})
            QVERIFY2(data.contains(QString::fromUtf8(label)), label);
        QVERIFY(data.contains(m_name));
    }

    void summaryPageForNarrowPanel() {
        const Answer a =
            fetch(m_server->port(),
                  "/bin/gw?url=x&ag=i&cr=i&src=p&word=" + m_code.toLatin1() + "&site=12");
        const QString page = QString::fromUtf8(a.body);
        QVERIFY(page.contains(m_name));
        for (const char* label : {"円", "前日比", "出来高", "15:30"})
            QVERIFY2(page.contains(QString::fromUtf8(label)), label);
    }

    void requestLog() {
        m_server->clearLog();
        const QByteArray ok = "/news?s=" + m_code.toLatin1();
        const QByteArray miss = "/z?s=" + m_unknown.toLatin1() + ".t&a=v&p=m25,m75&t=3m";
        fetch(m_server->port(), ok);
        fetch(m_server->port(), miss);
        const auto log = m_server->requestLog();
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0].method, QStringLiteral("GET"));
        QCOMPARE(log[0].target, QString::fromLatin1(ok));
        QCOMPARE(log[0].status, 200);
        QCOMPARE(log[1].target, QString::fromLatin1(miss));
        QCOMPARE(log[1].status, 404);
        m_server->clearLog();
        QVERIFY(m_server->requestLog().isEmpty());
    }

    void secondServerGetsItsOwnPort() {
        PortalServer other(testOptions());
        QVERIFY(other.start());
        QVERIFY(other.port() != m_server->port());
        QCOMPARE(fetch(other.port(), "/support/").status, 200);
        other.stop();
        QCOMPARE(other.port(), quint16(0));
        // The port in use cannot be taken twice.
        PortalServer clash(testOptions());
        QVERIFY(!clash.start(QHostAddress::LocalHost, m_server->port()));
    }

private:
    // Both chart servers serve a code under its own suffix only: the chart addresses of code
    // under every suffix that did not answer 200 under suffix and 404 under the others, each as
    // "target: status". params follow the code in the technical chart's query.
    QStringList wrongSuffixAnswers(const QByteArray& code, const QString& suffix,
                                   const QByteArray& params) const {
        QStringList wrong;
        for (const QString& other : testing::kSuffixes) {
            const int expected = suffix == other ? 200 : 404;
            const QByteArray sfx = other.toLatin1();
            for (const QByteArray& target : {"/z?s=" + code + sfx + params,
                                             "/c/1d/" + code.left(1) + "/" + code + sfx + ".gif"}) {
                const int status = fetch(m_server->port(), target).status;
                if (status != expected)
                    wrong << QStringLiteral("%1: %2").arg(QString::fromLatin1(target)).arg(status);
            }
        }
        return wrong;
    }
};

QTEST_MAIN(TestRoutes)
#include "tst_routes.moc"
