#include "pages/router.h"

#include "charts/chartrenderer.h"
#include "charts/gifencoder.h"
#include "pages/rankpage.h"
#include "sync/pricesync.h"
#include "sync/synccommand.h"

#include <QLocale>
#include <QMap>
#include <QRegularExpression>
#include <QUrl>

#include <algorithm>
#include <cmath>

namespace portal {

namespace {

const QByteArray kHtml = "text/html; charset=UTF-8";
const QByteArray kMarker = "<!-- AD END Location: CT -->";

QString yen(double v) {
    static const QLocale c(QLocale::English);
    if (std::abs(v - std::round(v)) < 1e-6)
        return c.toString(qint64(std::llround(v)));
    return c.toString(v, 'f', 1);
}

QString signedYen(double v) {
    return (v > 0 ? QStringLiteral("+") : QString()) + yen(v);
}

QString esc(const QString& s) {
    return s.toHtmlEscaped();
}

// Query parameters, decoded. A name that occurs twice makes the whole query unusable, since the
// portal would not know which one is meant.
std::optional<QMap<QString, QString>> parseQuery(const QByteArray& query) {
    QMap<QString, QString> out;
    if (query.isEmpty())
        return out;
    for (const QByteArray& pair : query.split('&')) {
        if (pair.isEmpty())
            continue;
        const int eq = pair.indexOf('=');
        QByteArray key = eq < 0 ? pair : pair.left(eq);
        QByteArray value = eq < 0 ? QByteArray() : pair.mid(eq + 1);
        key.replace('+', ' ');
        value.replace('+', ' ');
        const QString k = QUrl::fromPercentEncoding(key);
        if (out.contains(k))
            return std::nullopt;
        out.insert(k, QUrl::fromPercentEncoding(value));
    }
    return out;
}

QByteArray pageStart(const QString& title) {
    return QStringLiteral("<!DOCTYPE html>\n<html lang=\"ja\">\n<head>\n<meta charset=\"UTF-8\">\n"
                          "<title>%1</title>\n<style>body{font-family:sans-serif;margin:8px}"
                          "table{border-collapse:collapse}td,th{border:1px solid #ccc;"
                          "padding:2px 6px;text-align:right}th{background:#eef}</style>\n"
                          "</head>\n<body>\n")
        .arg(esc(title))
        .toUtf8();
}

QByteArray page(const QString& title, const QString& body) {
    return pageStart(title) + body.toUtf8() + "\n</body>\n</html>\n";
}

Response html(const QByteArray& body) {
    return {200, kHtml, body};
}

// Navigation of the portal, as the outside portal has it above every quote page.
QString navigation(const MarketData& data, const QString& code) {
    static const char* sections[][2] = {{"/", "トップ"},
                                        {"/news/", "ニュース"},
                                        {"/stocks/", "株価"},
                                        {"/ranking/", "ランキング"},
                                        {"/fund/", "投資信託"},
                                        {"/fx/", "為替"},
                                        {"/futures/", "先物・オプション"},
                                        {"/bond/", "債券"},
                                        {"/portfolio/", "ポートフォリオ"},
                                        {"/bbs/", "掲示板"},
                                        {"/screening/", "スクリーニング"},
                                        {"/ipo/", "IPO"},
                                        {"/earnings/", "決算"},
                                        {"/yutai/", "株主優待"},
                                        {"/market/", "マーケット概況"},
                                        {"/support/", "ヘルプ"}};
    static const char* rankings[] = {"値上がり率", "値下がり率",      "出来高",      "売買代金",
                                     "年初来高値", "年初来安値",      "ストップ高",  "ストップ安",
                                     "配当利回り", "PER（会社予想）", "PBR（実績）", "時価総額"};
    static const char* indices[][2] = {{"日経平均", "38,712.55"}, {"TOPIX", "2,701.34"},
                                       {"グロース250", "643.20"}, {"JPX日経400", "24,310.87"},
                                       {"ドル/円", "151.42"},     {"ユーロ/円", "163.95"}};
    QString s;
    s += QStringLiteral("<div id=\"masthead\"><a href=\"/\"><b>Quorvix ファイナンス</b></a>\n"
                        "<form action=\"/bin/rs\" method=\"get\">銘柄コード・企業名 "
                        "<input name=\"word\" value=\"%1\" size=\"12\"> <input type=\"submit\" "
                        "value=\"株価検索\"></form></div>\n<ul id=\"gnav\">\n")
             .arg(esc(code));
    for (const auto& sct : sections)
        s += QStringLiteral("<li><a href=\"%1\">%2</a></li>\n")
                 .arg(QString::fromLatin1(sct[0]), QString::fromUtf8(sct[1]));
    s += QStringLiteral("</ul>\n<div id=\"ticker\"><table><tr>");
    for (const auto& idx : indices)
        s += QStringLiteral("<th>%1</th><td>%2</td>")
                 .arg(QString::fromUtf8(idx[0]), QString::fromUtf8(idx[1]));
    s += QStringLiteral("</tr></table></div>\n<div id=\"ranking\"><h4>株式ランキング</h4><ul>\n");
    int kind = 0;
    for (const char* r : rankings)
        s += QStringLiteral("<li><a href=\"/ranking/?kd=%1&amp;mk=1\">%2</a></li>\n")
                 .arg(++kind)
                 .arg(QString::fromUtf8(r));
    // Codes other readers are looking at: a fixed spread over the code list.
    s += QStringLiteral("</ul></div>\n<div id=\"watched\"><h4>みんなが見ている銘柄</h4><ol>\n");
    const auto& all = data.listings();
    for (int i = 0; i < 20 && !all.isEmpty(); ++i) {
        const Listing& l = all[(i * 211 + 17) % all.size()];
        s += QStringLiteral("<li><a href=\"/q?s=%1&amp;d=t&amp;k=c3&amp;h=on&amp;z=m\">%2 (%1)</a>"
                            "</li>\n")
                 .arg(l.code, esc(l.name));
    }
    s += QStringLiteral("</ol></div>\n<div id=\"subnav\">");
    for (const auto& [label, path] :
         {std::pair{"基本情報", "/q?s="}, std::pair{"チャート", "/z?s="},
          std::pair{"時系列", "/q?d=hist&s="}, std::pair{"ニュース", "/news?s="},
          std::pair{"企業情報", "/biz/fundamental/"}, std::pair{"掲示板", "/bbs?action=q&board="},
          std::pair{"レポート", "/report/sector33/brand_report/"}}) {
        s += QStringLiteral("<a href=\"%1%2\">%3</a> | ")
                 .arg(QString::fromLatin1(path).toHtmlEscaped(), code, QString::fromUtf8(label));
    }
    s += QStringLiteral("</div>\n<!-- AD BEGIN Location: CT -->\n<div class=\"ad\">"
                        "<a href=\"/support/\">口座開設キャンペーン実施中：手数料0円から</a>"
                        "</div>\n");
    return s;
}

// Pages drawn from invented prices say so, next to the prices.
QString sampleMark(const History& h) {
    if (!h.sample)
        return {};
    return QStringLiteral(
        " <span class=\"sample\" style=\"color:#fff;background:#c8501e;"
        "padding:0 4px;font-weight:bold;white-space:nowrap\">サンプルデータ</span>");
}

struct Quote {
    Bar last;
    double prevClose = 0;
    double low52 = 0, high52 = 0;
};

Quote quoteOf(const History& h) {
    Quote q;
    q.last = h.last();
    q.prevClose = h.size() >= 2 ? h[h.size() - 2].close : q.last.open;
    q.low52 = 1e300;
    q.high52 = 0;
    const QDate from = q.last.date.addYears(-1);
    for (int i = int(h.size()) - 1; i >= 0 && h[i].date > from; --i) {
        q.low52 = std::min(q.low52, h[i].low);
        q.high52 = std::max(q.high52, h[i].high);
    }
    return q;
}

QString changeText(const Quote& q) {
    const double ch = q.last.close - q.prevClose;
    return QStringLiteral("%1 (%2%)")
        .arg(signedYen(ch),
             (ch > 0 ? QStringLiteral("+") : QString()) +
                 QString::number(q.prevClose > 0 ? ch / q.prevClose * 100 : 0, 'f', 2));
}

QString volumeText(qint64 v) {
    static const QLocale c(QLocale::English);
    return c.toString(v) + QStringLiteral("株");
}

// Where the price came from and how fresh it is, and how far a running sync has come.
QString freshness(const MarketData& data, const History& h, const Quote& q) {
    const sync::SyncState state = sync::syncState(
        data.dataDir(), [&data](const QString& key) { return data.storeState(key); });
    const QString day = q.last.date.toString(QStringLiteral("yyyy/MM/dd"));
    QString text;
    if (h.sourceKind == QLatin1String("jquants"))
        text = sync::serviceTitle(state.plan) + day + QStringLiteral(" 終値");
    else if (!h.sample)
        text = QStringLiteral("取込 ") + day;
    else
        text = day + QStringLiteral(" 15:30 終値");
    if (state.running)
        text += QStringLiteral("<br>\n") + esc(state.runningText());
    return text;
}

QByteArray summaryPage(const MarketData& data, const Listing& l, const History& h) {
    const Quote q = quoteOf(h);
    return page(QStringLiteral("%1 %2").arg(l.code, l.name),
                // A mobile page opens with the site's bar, search box and menu; the data follows
                // them, where a narrow panel whose top is covered still shows it.
                QStringLiteral(
                    "<div style=\"height:124px;overflow:hidden;font-size:12px\">\n"
                    "<div style=\"background:#7b0099;color:#fff;padding:4px;font-weight:bold\">"
                    "ファイナンス モバイル</div>\n"
                    "<form action=\"/bin/gw\" method=\"get\" style=\"margin:4px 0\">"
                    "<input type=\"hidden\" name=\"site\" value=\"12\">"
                    "<input name=\"word\" size=\"6\"> <input type=\"submit\" value=\"株価検索\">"
                    "</form>\n"
                    "<div>市況 | ランキング | ニュース</div>\n<div>為替 | 投資信託 | 掲示板</div>\n"
                    "<div>ポートフォリオ | ヘルプ</div>\n</div>\n"
                    "<div style=\"width:210px;font-size:12px\">\n"
                    "<b>%1</b> (%2)<br>\n<span style=\"font-size:16px\">%3円</span>%7<br>\n"
                    "前日比 %4<br>\n出来高 %5<br>\n%6\n</div>")
                    .arg(esc(l.name), l.code, yen(q.last.close), changeText(q),
                         volumeText(q.last.volume), freshness(data, h, q), sampleMark(h)));
}

QByteArray searchPage(const QString& word) {
    return page(QStringLiteral("株価検索"),
                QStringLiteral("<form action=\"/bin/gw\" method=\"get\">\n"
                               "<input type=\"hidden\" name=\"site\" value=\"12\">\n"
                               "銘柄コード<br><input name=\"word\" value=\"%1\" size=\"6\">\n"
                               "<input type=\"submit\" value=\"検索\">\n</form>")
                    .arg(esc(word)));
}

Response chartAnswer(const MarketData& data, const Listing& l, const Faults& faults,
                     const std::function<QImage(const History&)>& draw) {
    if (!faults.nonImageCode.isEmpty() && faults.nonImageCode == l.code)
        return {200, "text/plain; charset=UTF-8",
                "Gateway notice: the chart of " + l.code.toLatin1() + " is being prepared.\n"};
    const auto h = data.history(l.code);
    const QByteArray gif = encodeGif(draw(h ? *h : History()));
    if (gif.isEmpty())
        return errorPage(500);
    return {200, "image/gif", gif};
}

// The listing for a "CODE.SFX" text, only under the code's own suffix (or the one it was moved
// to).
const Listing* listingWithSuffix(const MarketData& data, const QString& text,
                                 const Faults& faults) {
    const int dot = text.indexOf(QLatin1Char('.'));
    if (dot != 4)
        return nullptr;
    const QString code = text.left(4);
    if (!isCode(code))
        return nullptr;
    const QString suffix = code == faults.movedCode ? faults.movedSuffix : data.suffixFor(code);
    if (text.mid(4) != suffix)
        return nullptr;
    return data.find(code);
}

const Listing* listingOf(const MarketData& data, const QString& code) {
    return isCode(code) ? data.find(code) : nullptr;
}

} // namespace

Response errorPage(int status) {
    const QString title = status == 404 ? QStringLiteral("404 ページが見つかりません")
                                        : QStringLiteral("%1 サーバーエラー").arg(status);
    const QString text = status == 404 ? QStringLiteral("お探しのページは見つかりませんでした。"
                                                        "銘柄コードとアドレスをご確認ください。")
                                       : QStringLiteral("ただいまアクセスが集中しています。"
                                                        "しばらくしてから再度お試しください。");
    return {status, kHtml, page(title, QStringLiteral("<h1>%1</h1>\n<p>%2</p>").arg(title, text))};
}

QByteArray detailPage(const MarketData& data, const Listing& l, const Faults& faults) {
    const auto hist = data.history(l.code);
    const History& h = *hist;
    const Quote q = quoteOf(h);
    const QString title =
        QStringLiteral("%1【%2】：株価 - Quorvix ファイナンス").arg(l.name, l.code);
    QByteArray head = pageStart(title) + navigation(data, l.code).toUtf8();

    QString dataHtml;
    dataHtml += QStringLiteral("<h2>%1 <small>(%2) %3</small>%4</h2>\n")
                    .arg(esc(l.name), l.code, esc(l.market), sampleMark(h));
    if (h.sample)
        dataHtml += QStringLiteral("<p class=\"sample\">この銘柄の株価は架空のサンプルデータです。"
                                   "実際の株価は quote-portal import で取り込めます。</p>\n");
    dataHtml += QStringLiteral("<table id=\"quote\">\n"
                               "<tr><th>現在値</th><td>%1円</td><th>前日比</th><td>%2</td></tr>\n"
                               "<tr><th>始値</th><td>%3</td><th>高値</th><td>%4</td></tr>\n"
                               "<tr><th>安値</th><td>%5</td><th>前日終値</th><td>%6</td></tr>\n"
                               "<tr><th>出来高</th><td>%7</td><th>年初来・52週レンジ</th>"
                               "<td>%8 - %9</td></tr>\n</table>\n")
                    .arg(yen(q.last.close), changeText(q), yen(q.last.open), yen(q.last.high),
                         yen(q.last.low), yen(q.prevClose), volumeText(q.last.volume), yen(q.low52),
                         yen(q.high52));
    dataHtml += QStringLiteral("<p>%1 15:30 現在</p>\n<h3>時系列</h3>\n<table id=\"history\">\n"
                               "<tr><th>日付</th><th>始値</th><th>高値</th><th>安値</th>"
                               "<th>終値</th><th>出来高</th></tr>\n")
                    .arg(q.last.date.toString(QStringLiteral("yyyy/MM/dd")));
    for (int i = int(h.size()) - 1; i >= 0 && i >= int(h.size()) - 10; --i) {
        const Bar& b = h[i];
        dataHtml +=
            QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td><td>%4</td><td>%5</td>"
                           "<td>%6</td></tr>\n")
                .arg(b.date.toString(QStringLiteral("yyyy/MM/dd")), yen(b.open), yen(b.high),
                     yen(b.low), yen(b.close), QLocale(QLocale::English).toString(b.volume));
    }
    dataHtml += QStringLiteral("</table>\n");
    const QByteArray dataBytes = dataHtml.toUtf8();
    const QByteArray tail = "<div id=\"footer\"><a href=\"/support/\">ヘルプ・お問い合わせ</a> "
                            "| 株価情報は投資判断の参考として提供しています。</div>\n"
                            "</body>\n</html>\n";

    switch (faults.marker) {
    case Faults::Marker::Absent:
        return head + dataBytes + tail;
    case Faults::Marker::Twice:
        return head + kMarker + "\n" + dataBytes + kMarker + "\n" + tail;
    case Faults::Marker::AtOffset: {
        const int at = std::max(0, faults.markerOffset);
        QByteArray prefix;
        if (head.size() <= at) {
            prefix = head;
        } else {
            prefix = pageStart(title);
            if (prefix.size() > at)
                prefix.clear();
        }
        prefix.append(QByteArray(at - prefix.size(), ' '));
        return prefix + kMarker + "\n" + dataBytes + tail;
    }
    case Faults::Marker::Normal:
        break;
    }
    return head + kMarker + "\n" + dataBytes + tail;
}

Response route(const MarketData& data, const QByteArray& method, const QByteArray& path,
               const QByteArray& query, const Faults& faults, const ChartStyle& style) {
    // No address of the portal carries more than a few hundred bytes of query; a longer one is
    // refused before any of it is decoded.
    constexpr int kMaxQuery = 4096;
    if ((method != "GET" && method != "HEAD") || query.size() > kMaxQuery)
        return errorPage(404);
    const auto params = parseQuery(query);
    if (!params)
        return errorPage(404);
    auto param = [&](const char* key) {
        return params->value(QLatin1String(key));
    };

    // Both chart routes take dpr=R for screens with more pixels than points; without it, or with
    // a value that is no number, a chart is drawn at ratio 1.
    ChartStyle chartStyle = style;
    chartStyle.pixelRatio = pixelRatioFromText(param("dpr"));
    if (path == "/z") {
        const Listing* l = listingWithSuffix(data, param("s"), faults);
        const auto term = termFromText(param("t"));
        if (!l || !term || (!faults.missingTerm.isEmpty() && param("t") == faults.missingTerm))
            return errorPage(404);
        const Overlays overlays = parseOverlays(param("p"));
        return chartAnswer(data, *l, faults, [&](const History& h) {
            return renderTechnicalChart(*l, h, *term, overlays, chartStyle);
        });
    }
    static const QRegularExpression intraday(
        QStringLiteral("^/c/1d/([0-9])/([0-9][0-9A-Z][0-9][0-9A-Z]\\.[a-z])\\.gif$"));
    if (path.startsWith("/c/1d/")) {
        const auto m = intraday.match(QString::fromLatin1(path));
        const Listing* l = m.hasMatch() ? listingWithSuffix(data, m.captured(2), faults) : nullptr;
        if (!l || l->code.at(0) != m.captured(1).at(0))
            return errorPage(404);
        return chartAnswer(data, *l, faults, [&](const History& h) {
            return renderIntradayChart(*l, h, chartStyle);
        });
    }
    if (path == "/bin/gw") {
        const Listing* l = listingOf(data, param("word"));
        if (!l)
            return errorPage(404);
        return html(summaryPage(data, *l, *data.history(l->code)));
    }
    if (path == "/bin/rs")
        return html(searchPage(param("word")));
    if (path == "/q") {
        const Listing* l = listingOf(data, param("s"));
        if (!l)
            return errorPage(404);
        return html(detailPage(data, *l, faults));
    }
    static const QRegularExpression pagePath(
        QStringLiteral("^/(biz/fundamental|report/sector33/brand_report)/"
                       "([0-9][0-9A-Z][0-9][0-9A-Z])\\.html$"));
    if (path.startsWith("/biz/") || path.startsWith("/report/")) {
        const auto m = pagePath.match(QString::fromLatin1(path));
        const Listing* l = m.hasMatch() ? listingOf(data, m.captured(2)) : nullptr;
        if (!l)
            return errorPage(404);
        const auto h = data.history(l->code);
        const Quote q = quoteOf(*h);
        if (m.captured(1).startsWith(QLatin1String("biz")))
            return html(page(QStringLiteral("%1【%2】企業情報").arg(l->name, l->code),
                             QStringLiteral("<h1>%1 (%2)</h1>\n<h2>企業情報</h2>\n<table>\n"
                                            "<tr><th>市場</th><td>%3</td></tr>\n"
                                            "<tr><th>単元株数</th><td>100株</td></tr>\n"
                                            "<tr><th>決算</th><td>3月末日</td></tr>\n"
                                            "<tr><th>株価</th><td>%4円%5</td></tr>\n</table>")
                                 .arg(esc(l->name), l->code, esc(l->market), yen(q.last.close),
                                      sampleMark(*h))));
        return html(page(QStringLiteral("%1【%2】アナリストレポート").arg(l->name, l->code),
                         QStringLiteral("<h1>%1 (%2)</h1>\n<h2>業種別レポート</h2>\n"
                                        "<p>52週レンジ %3円 - %4円。現在値 %5円。%6</p>")
                             .arg(esc(l->name), l->code, yen(q.low52), yen(q.high52),
                                  yen(q.last.close), sampleMark(*h))));
    }
    if (path == "/news") {
        const Listing* l = listingOf(data, param("s"));
        if (!l)
            return errorPage(404);
        const auto h = data.history(l->code);
        const Quote q = quoteOf(*h);
        return html(
            page(QStringLiteral("%1【%2】ニュース").arg(l->name, l->code),
                 QStringLiteral("<h1>%1 (%2) 関連ニュース</h1>\n<ul>\n"
                                "<li>%3 %1、終値は%4円（前日比 %5）%6</li>\n"
                                "<li>%1、定時株主総会の開催日を発表</li>\n</ul>")
                     .arg(esc(l->name), l->code, q.last.date.toString(QStringLiteral("yyyy/MM/dd")),
                          yen(q.last.close), changeText(q), sampleMark(*h))));
    }
    if (path == "/bbs") {
        const Listing* l = listingOf(data, param("board"));
        if (param("action") != QLatin1String("q") || !l)
            return errorPage(404);
        return html(page(QStringLiteral("%1【%2】掲示板").arg(l->name, l->code),
                         QStringLiteral("<h1>%1 (%2) 掲示板</h1>\n<ol>\n"
                                        "<li>出来高が増えてきましたね。</li>\n"
                                        "<li>来週の決算発表に注目しています。</li>\n</ol>")
                             .arg(esc(l->name), l->code)));
    }
    if (path == "/support/")
        return html(page(QStringLiteral("サポート - Quorvix Chart Viewer"),
                         QStringLiteral("<h1>Quorvix Chart Viewer サポート</h1>\n"
                                        "<p>よくある質問、設定ファイルの説明、"
                                        "お問い合わせ窓口のご案内です。</p>")));
    if (path == "/rank" || path == "/rank/latest")
        return rankPage(data, path, *params);
    return errorPage(404);
}

} // namespace portal
