#include "chart/detailpage.h"
#include "table.h"

#include <QtTest>

namespace {
const QByteArray kMarker = "<!-- AD END Location: CT";
// The marker's "<", the empty heading with id ZELK, nine blanks: 28 bytes from the marker's start.
const QByteArray kAnchored = "<h3 id=\"ZELK\"></h3>         ";

// Filler that holds no "<" at all, so only the planted markers can match.
QByteArray filler(int length) {
    QByteArray bytes(length, 'x');
    for (int i = 0; i < length; ++i)
        bytes[i] = "abcdefgh ;\n"[i % 11];
    return bytes;
}
} // namespace

// The anchor written into the quote page so that the detail pane opens scrolled to the data.
class TestDetailPage : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void marker_data() {
        // found: offset of the anchored marker (-1: none); the page after writing is compared with
        // the page built with the anchor in place of the first marker.
        testing::columns<QByteArray, int>({"page", "found"});

        QTest::newRow("at 0") << kMarker + " -->" + filler(500) << 0;
        QTest::newRow("at 1") << filler(1) + kMarker + " -->" << 1;
        QTest::newRow("at 15000") << filler(15000) + kMarker + " -->" + filler(200) << 15000;
        QTest::newRow("at 15001") << filler(15001) + kMarker + " -->" + filler(200) << -1;
        QTest::newRow("at the very end") << filler(300) + kMarker << 300;
        QTest::newRow("two bytes after the end") << filler(300) + kMarker + "--" << 300;
        QTest::newRow("twice") << filler(100) + kMarker + " -->" + filler(50) + kMarker + " -->"
                               << 100;
        QTest::newRow("absent") << filler(20000) << -1;
        QTest::newRow("cut short at the end") << filler(300) + kMarker.left(23) << -1;
        QTest::newRow("one byte differs") << filler(10) + "<!-- AD END Location: Ct -->" << -1;
        QTest::newRow("after near misses")
            << filler(10) + "<!-- AD END" + filler(10) + kMarker.left(23) + "x" + filler(10) +
                   kMarker + " -->"
            << 10 + 11 + 10 + 24 + 10;
        QTest::newRow("empty page") << QByteArray() << -1;
        QTest::newRow("shorter than the marker") << QByteArray("<!--") << -1;
        QTest::newRow("page of non-ASCII bytes")
            << QByteArray("\x82\xa0\x82\xa2\x82\xa4") + kMarker + " -->" + QByteArray(10, '\xff')
            << 6;
    }

    void marker() {
        QFETCH(QByteArray, page);
        QFETCH(int, found);

        QByteArray expected = page;
        if (found >= 0) {
            const int count = std::min<int>(kAnchored.size(), page.size() - found);
            expected.replace(found, count, kAnchored.left(count));
        }

        const std::optional<int> at = chart::findDetailMarker(page);
        QCOMPARE(at.value_or(-1), found);

        QByteArray written = page;
        QCOMPARE(chart::writeDetailAnchor(written), found >= 0);
        QCOMPARE(written.size(), page.size());
        QCOMPARE(written, expected);
    }
};

QTEST_GUILESS_MAIN(TestDetailPage)
#include "tst_detailpage.moc"
