#pragma once

#include "marks/markfile.h"

#include <QByteArray>
#include <QDate>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

namespace marks {

// A kind of ranking the portal makes: its key in the address and the mark file's name, and what
// the dialog calls it and its value.
struct RankingKind {
    QString key;          // "up"
    QString caption;      // "値上がり率"
    QString valueCaption; // "前日比(%)"
};
// In the order the dialog offers them.
const QVector<RankingKind>& rankingKinds();

// The portal's addresses: a ranking, and the newest day it holds. An empty market means every
// market; it is percent-encoded, so any text of the code list goes through.
QString rankingAddress(const QString& base, const QString& key, const QString& market, int count,
                       const QDate& date);
QString newestDayAddress(const QString& base);

struct RankingRow {
    int rank = 0;
    QString code;
    QString name;
    QString value; // as the portal wrote it
};
// The rows of a ranking answer ("rank,code,name,value" and its rows, fields quoted where they
// must be); nullopt when it is not such an answer.
std::optional<QVector<RankingRow>> parseRanking(const QByteArray& csv);

struct NewestDay {
    QDate date;
    bool sample = false; // the portal holds no stored prices: everything is invented
};
// The answer of newestDayAddress ("date,sample" and one row); nullopt when it is not one.
std::optional<NewestDay> parseNewestDay(const QByteArray& csv);

// "RANK_up_20261204.csv".
QString rankingFileName(const QString& key, const QDate& date);
// The codes as a mark line: each followed by a comma.
QString rankingMarkLine(const QVector<RankingRow>& rows);

// Writes the ranking's codes as a mark file into folder (one line, code page 932, CR LF); the
// file's full path in path. On failure, message says so in Japanese, naming the file and why.
SaveResult saveRanking(const QString& folder, const QString& key, const QDate& date,
                       const QVector<RankingRow>& rows, QString* path, QString* message);

// The markets of a code list file, in the order they first occur.
QStringList codeListMarkets(const QString& codeListPath);

// One question to the portal at a time, on the event loop: a newer question drops the one still
// on the way. Every question ends in exactly one signal; failures are told in Japanese.
class RankingFetch : public QObject {
    Q_OBJECT

public:
    explicit RankingFetch(const QString& base, QObject* parent = nullptr);
    ~RankingFetch() override;

    void fetchNewestDay();
    void fetchRanking(const QString& key, const QString& market, int count, const QDate& date);
    bool busy() const { return !m_reply.isNull(); }
    QString base() const { return m_base; }

    // A question without an answer by then has failed. Generous: the first ranking of a portal
    // that holds no prices invents a history for every listed code.
    static constexpr int kTimeoutMs = 120000;

Q_SIGNALS:
    void newestDayFetched(const marks::NewestDay& day);
    void rankingFetched(const QVector<marks::RankingRow>& rows);
    void failed(const QString& message);

private:
    void get(const QString& address, bool ranking);
    void finished(QNetworkReply* reply, bool ranking);

    QString m_base;
    QNetworkAccessManager* m_network = nullptr;
    QPointer<QNetworkReply> m_reply;
};

} // namespace marks
