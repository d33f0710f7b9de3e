#include "searchlog.h"

#include "chart/lookahead.h"
#include "chart/searchrules.h"

#include <QRegularExpression>
#include <QUrl>
#include <QUrlQuery>

namespace testing {

bool isChartTarget(const QString& target) {
    return target.startsWith(QLatin1String("/z?")) || target.startsWith(QLatin1String("/c/1d/"));
}

QString termOf(const QString& target) {
    if (target.startsWith(QLatin1String("/c/1d/")))
        return QStringLiteral("1d");
    const QUrlQuery query(QUrl(target).query());
    return query.queryItemValue(QStringLiteral("t"));
}

QString codeAndSuffixOf(const QString& target) {
    if (target.startsWith(QLatin1String("/c/1d/"))) {
        QString file = target.section(QLatin1Char('/'), -1);
        file.chop(4); // ".gif"
        return QUrl::fromPercentEncoding(file.toLatin1());
    }
    return QUrlQuery(QUrl(target).query()).queryItemValue(QStringLiteral("s"), QUrl::FullyDecoded);
}

QMap<QString, QStringList> chartWalks(const QStringList& targets) {
    QMap<QString, QStringList> out;
    for (const QString& t : targets) {
        if (isChartTarget(t))
            out[termOf(t)] << codeAndSuffixOf(t);
    }
    return out;
}

QStringList suffixWalk(const QString& code, const QStringList& suffixes) {
    QStringList out;
    for (const QString& suffix : suffixes)
        out << code + suffix;
    return out;
}

QMap<QString, QStringList> sameWalkForEveryTerm(const QString& code, const QStringList& suffixes) {
    QMap<QString, QStringList> out;
    for (const QString& term : kDefaultTerms)
        out[term] = suffixWalk(code, suffixes);
    return out;
}

QStringList candidatesIn(const QStringList& targets) {
    static const QRegularExpression firstTransfer(
        QStringLiteral("^/c/1d/[^/]/([^/.]+)\\.t\\.gif$"));
    QStringList out;
    for (const QString& t : targets) {
        const auto m = firstTransfer.match(t);
        if (m.hasMatch())
            out << m.captured(1);
    }
    return out;
}

QString searchAskedWrong(const QStringList& asked, const QStringList& tried,
                         chart::StepDirection direction, const QStringList& alphanumericCodes) {
    for (const QString& code : tried) {
        if (!asked.contains(code))
            return QStringLiteral("never asked for %1").arg(code);
    }
    const QStringList ahead =
        tried.isEmpty()
            ? QStringList()
            : chart::CodeSearch::candidatesAfter(tried.last(), direction,
                                                 chart::LookAhead::kDepth - 1, alphanumericCodes);
    for (const QString& code : asked) {
        if (!tried.contains(code) && !ahead.contains(code))
            return QStringLiteral("%1 asked for, beyond the look-ahead (%2)")
                .arg(code, ahead.join(QLatin1Char(',')));
    }
    return QString();
}

} // namespace testing
