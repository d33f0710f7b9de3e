#include "pages/rankpage.h"

#include "prices/ranking.h"

#include <QRegularExpression>

#include <cmath>

namespace portal {

namespace {

const QByteArray kCsv = "text/csv; charset=UTF-8; header=present";

constexpr int kDefaultCount = 50;
constexpr int kMaxCount = 10000; // more than there are listed codes

Response badRequest(const QString& text) {
    return {400, "text/plain; charset=UTF-8", (text + QStringLiteral("\n")).toUtf8()};
}

// A field as CSV wants it: quoted only where it holds a comma, a quote or a line end.
QString csvField(const QString& text) {
    static const QRegularExpression special(QStringLiteral("[\",\r\n]"));
    if (!text.contains(special))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString valueText(RankKind kind, double value) {
    if (kind == RankKind::Turnover)
        return QString::number(qint64(std::llround(value)));
    return QString::number(value, 'f', 2);
}

} // namespace

Response rankPage(const MarketData& data, const QByteArray& path,
                  const QMap<QString, QString>& params) {
    if (path == "/rank/latest") {
        const RankDay day = newestRankDay(data);
        return {200, kCsv,
                QStringLiteral("date,sample\r\n%1,%2\r\n")
                    .arg(day.newest.toString(Qt::ISODate),
                         day.sample ? QStringLiteral("1") : QStringLiteral("0"))
                    .toUtf8()};
    }

    const auto kind = rankKindFromKey(params.value(QStringLiteral("kind")));
    if (!kind)
        return badRequest(QStringLiteral("kind が不正です（up, down, volume, turnover, high, "
                                         "low, golden のいずれか）。"));
    const QString market = params.value(QStringLiteral("market"));
    if (!market.isEmpty() && !listedMarkets(data).contains(market))
        return badRequest(QStringLiteral("市場「%1」は銘柄コード一覧にありません。").arg(market));
    int count = kDefaultCount;
    if (params.contains(QStringLiteral("n"))) {
        bool ok = false;
        count = params.value(QStringLiteral("n")).toInt(&ok);
        if (!ok || count < 1 || count > kMaxCount)
            return badRequest(QStringLiteral("n（件数）は 1 から %1 までの整数で指定してください。")
                                  .arg(kMaxCount));
    }
    QDate date;
    const QString dateText = params.value(QStringLiteral("date"));
    if (!dateText.isEmpty()) {
        static const QRegularExpression form(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
        date = QDate::fromString(dateText, Qt::ISODate);
        if (!form.match(dateText).hasMatch() || !date.isValid())
            return badRequest(QStringLiteral("date（日付）は YYYY-MM-DD の形で指定してください。"));
    }

    const Ranking ranking = rankCodes(data, *kind, market, count, date);
    QString csv = QStringLiteral("rank,code,name,value\r\n");
    for (int i = 0; i < ranking.rows.size(); ++i) {
        const RankedCode& row = ranking.rows[i];
        csv += QStringLiteral("%1,%2,%3,%4\r\n")
                   .arg(i + 1)
                   .arg(row.code, csvField(row.name), valueText(*kind, row.value));
    }
    return {200, kCsv, csv.toUtf8()};
}

} // namespace portal
