#include "ranking.h"

#include "base/codelistfile.h"

#include <QDir>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

namespace marks {

namespace {

const QString kRankingHeader = QStringLiteral("rank,code,name,value");
const QString kNewestHeader = QStringLiteral("date,sample");

// The fields of one CSV line; a quoted field may hold commas and doubled quotes. nullopt for a
// quote left open.
std::optional<QStringList> csvFields(const QString& line) {
    QStringList fields;
    QString field;
    bool quoted = false;
    for (int i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < line.size() && line.at(i + 1) == QLatin1Char('"'))
                field += line.at(++i);
            else if (c == QLatin1Char('"'))
                quoted = false;
            else
                field += c;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            fields << field;
            field.clear();
        } else {
            field += c;
        }
    }
    if (quoted)
        return std::nullopt;
    fields << field;
    return fields;
}

// The lines of an answer without their ends (CR LF or LF), the empty last one left out.
QStringList answerLines(const QByteArray& csv) {
    QStringList lines = QString::fromUtf8(csv).split(QLatin1Char('\n'));
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r')))
            line.chop(1);
    }
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString saveReason(SaveFailure failure) {
    switch (failure) {
    case SaveFailure::None:
        return {};
    case SaveFailure::FolderMissing:
        return QStringLiteral("保存先のフォルダがありません。");
    case SaveFailure::NotAFile:
        return QStringLiteral("同じ名前のフォルダがあります。");
    case SaveFailure::NotPermitted:
        return QStringLiteral("ファイルまたはフォルダへの書き込みが許可されていません。");
    case SaveFailure::WriteFailed:
        return QStringLiteral("書き込みに失敗しました。ディスクの空きを確認して下さい。");
    case SaveFailure::NotReadable:
    case SaveFailure::TooLong:
        return QStringLiteral("同じ名前のファイルを読み込めないため、上書きしません。");
    }
    return {};
}

} // namespace

const QVector<RankingKind>& rankingKinds() {
    static const QVector<RankingKind> kinds{
        {QStringLiteral("up"), QStringLiteral("値上がり率"), QStringLiteral("前日比(%)")},
        {QStringLiteral("down"), QStringLiteral("値下がり率"), QStringLiteral("前日比(%)")},
        {QStringLiteral("volume"), QStringLiteral("出来高急増"), QStringLiteral("25日平均比(倍)")},
        {QStringLiteral("turnover"), QStringLiteral("売買代金"), QStringLiteral("売買代金(円)")},
        {QStringLiteral("high"), QStringLiteral("年初来高値更新"), QStringLiteral("更新幅(%)")},
        {QStringLiteral("low"), QStringLiteral("年初来安値更新"), QStringLiteral("更新幅(%)")},
        {QStringLiteral("golden"), QStringLiteral("ゴールデンクロス"),
         QStringLiteral("25日線の75日線比(%)")},
    };
    return kinds;
}

QString rankingAddress(const QString& base, const QString& key, const QString& market, int count,
                       const QDate& date) {
    return base + QStringLiteral("/rank?kind=") +
           QString::fromLatin1(QUrl::toPercentEncoding(key)) + QStringLiteral("&market=") +
           QString::fromLatin1(QUrl::toPercentEncoding(market)) + QStringLiteral("&n=") +
           QString::number(count) + QStringLiteral("&date=") + date.toString(Qt::ISODate);
}

QString newestDayAddress(const QString& base) {
    return base + QStringLiteral("/rank/latest");
}

std::optional<QVector<RankingRow>> parseRanking(const QByteArray& csv) {
    const QStringList lines = answerLines(csv);
    if (lines.isEmpty() || lines.first() != kRankingHeader)
        return std::nullopt;
    QVector<RankingRow> rows;
    for (int i = 1; i < lines.size(); ++i) {
        const auto fields = csvFields(lines[i]);
        if (!fields || fields->size() != 4)
            return std::nullopt;
        bool ok = false;
        const int rank = fields->at(0).toInt(&ok);
        // Every code goes into the mark line, whose marks are four characters and a comma.
        if (!ok || rank != i || fields->at(1).size() != 4 ||
            fields->at(1).contains(QLatin1Char(',')))
            return std::nullopt;
        rows.append({rank, fields->at(1), fields->at(2), fields->at(3)});
    }
    return rows;
}

std::optional<NewestDay> parseNewestDay(const QByteArray& csv) {
    const QStringList lines = answerLines(csv);
    if (lines.size() != 2 || lines.first() != kNewestHeader)
        return std::nullopt;
    const QStringList fields = lines[1].split(QLatin1Char(','));
    if (fields.size() != 2 || (fields[1] != QLatin1String("0") && fields[1] != QLatin1String("1")))
        return std::nullopt;
    NewestDay day{QDate::fromString(fields[0], Qt::ISODate), fields[1] == QLatin1String("1")};
    if (!fields[0].isEmpty() && !day.date.isValid())
        return std::nullopt;
    return day;
}

QString rankingFileName(const QString& key, const QDate& date) {
    return QStringLiteral("RANK_%1_%2.csv").arg(key, date.toString(QStringLiteral("yyyyMMdd")));
}

QString rankingMarkLine(const QVector<RankingRow>& rows) {
    QString line;
    line.reserve(rows.size() * 5);
    for (const RankingRow& row : rows)
        line += row.code + QLatin1Char(',');
    return line;
}

SaveResult saveRanking(const QString& folder, const QString& key, const QDate& date,
                       const QVector<RankingRow>& rows, QString* path, QString* message) {
    const QString file = QDir(folder).filePath(rankingFileName(key, date));
    if (path)
        *path = file;
    const SaveResult result = writeMarkLine(file, rankingMarkLine(rows));
    if (message)
        *message =
            result ? QString()
                   : QStringLiteral("ランキングをマークファイルに保存できませんでした。\n%1\n%2")
                         .arg(QDir::toNativeSeparators(file), saveReason(result.failure));
    return result;
}

QStringList codeListMarkets(const QString& codeListPath) {
    QStringList markets;
    for (const QString& line : base::readCodeListLines(codeListPath)) {
        const QString market = line.section(QLatin1Char(','), 2, 2).trimmed();
        if (!market.isEmpty() && !markets.contains(market))
            markets << market;
    }
    return markets;
}

RankingFetch::RankingFetch(const QString& base, QObject* parent)
    : QObject(parent)
    , m_base(base)
    , m_network(new QNetworkAccessManager(this)) {}

RankingFetch::~RankingFetch() {
    // Dropped without a word: whoever would hear of it is going too.
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
    }
}

void RankingFetch::fetchNewestDay() {
    get(newestDayAddress(m_base), false);
}

void RankingFetch::fetchRanking(const QString& key, const QString& market, int count,
                                const QDate& date) {
    get(rankingAddress(m_base, key, market, count, date), true);
}

void RankingFetch::get(const QString& address, bool ranking) {
    if (m_reply) {
        // The question before is no longer wanted: it ends in no signal.
        QNetworkReply* old = m_reply;
        m_reply = nullptr;
        old->disconnect(this);
        old->abort();
        old->deleteLater();
    }
    QNetworkRequest request{QUrl(address)};
    request.setTransferTimeout(kTimeoutMs);
    QNetworkReply* reply = m_network->get(request);
    m_reply = reply;
    connect(reply, &QNetworkReply::finished, this,
            [this, reply, ranking] { finished(reply, ranking); });
}

void RankingFetch::finished(QNetworkReply* reply, bool ranking) {
    reply->deleteLater();
    if (m_reply == reply)
        m_reply = nullptr;
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QByteArray body = reply->readAll();
    if (status == 400) {
        Q_EMIT failed(QStringLiteral("ポータルがランキングの条件を受け付けませんでした：%1")
                          .arg(QString::fromUtf8(body).trimmed()));
        return;
    }
    if (reply->error() == QNetworkReply::OperationCanceledError ||
        reply->error() == QNetworkReply::TimeoutError) {
        Q_EMIT failed(QStringLiteral("ポータル（%1）から %2 秒たっても答えがありません。")
                          .arg(m_base)
                          .arg(kTimeoutMs / 1000));
        return;
    }
    if (status == 0) {
        Q_EMIT failed(QStringLiteral("ポータル（%1）に接続できません。quote-portal が動いているか"
                                     "確かめて下さい。")
                          .arg(m_base));
        return;
    }
    if (status != 200) {
        Q_EMIT failed(QStringLiteral("ポータルがエラーを返しました（HTTP %1）。ランキングを作れる"
                                     "ポータルか確かめて下さい。")
                          .arg(status));
        return;
    }
    if (ranking) {
        if (const auto rows = parseRanking(body)) {
            Q_EMIT rankingFetched(*rows);
            return;
        }
    } else if (const auto day = parseNewestDay(body)) {
        Q_EMIT newestDayFetched(*day);
        return;
    }
    Q_EMIT failed(QStringLiteral("ポータルの答えがランキングの形ではありません。"));
}

} // namespace marks
