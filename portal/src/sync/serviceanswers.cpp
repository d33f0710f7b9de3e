#include "sync/serviceanswers.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>

namespace portal::sync {

namespace {

struct Envelope {
    bool ok = false;
    QString why;
    QJsonArray data;
    QString nextKey;
};

Envelope envelopeOf(const QByteArray& body) {
    Envelope e;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        const QByteArray start = body.trimmed().left(64).toLower();
        e.why = start.startsWith('<') ? QStringLiteral("JSON ではなく HTML のページが返されました")
                                      : QStringLiteral("応答の JSON が読めません（途中で切れて"
                                                       "いるか壊れています）");
        return e;
    }
    const QJsonObject top = doc.object();
    const QJsonValue data = top.value(QLatin1String("data"));
    if (!data.isArray()) {
        e.why = QStringLiteral("応答に data がありません");
        return e;
    }
    e.ok = true;
    e.data = data.toArray();
    e.nextKey = top.value(QLatin1String("pagination_key")).toString();
    return e;
}

// Fields come as numbers, as strings holding numbers, or null.
std::optional<double> number(const QJsonValue& v) {
    if (v.isDouble())
        return std::isfinite(v.toDouble()) ? std::optional(v.toDouble()) : std::nullopt;
    if (v.isString()) {
        bool ok = false;
        const double d = v.toString().trimmed().toDouble(&ok);
        if (ok && std::isfinite(d))
            return d;
    }
    return std::nullopt;
}

QString text(const QJsonValue& v) {
    if (v.isString())
        return v.toString().trimmed();
    if (v.isDouble())
        return QString::number(v.toDouble(), 'f', 0);
    return {};
}

QDate dateOf(const QJsonValue& v) {
    const QString t = text(v);
    const QDate iso = QDate::fromString(t, Qt::ISODate);
    return iso.isValid() ? iso : QDate::fromString(t, QStringLiteral("yyyyMMdd"));
}

} // namespace

std::optional<QString> shortCode(const QString& serviceCode) {
    QString code = serviceCode;
    if (code.size() == 5) {
        if (code.back() != QLatin1Char('0'))
            return std::nullopt;
        code.chop(1);
    }
    return isCode(code) ? std::optional(code) : std::nullopt;
}

BarsPage readBarsPage(const QByteArray& body) {
    BarsPage page;
    const Envelope e = envelopeOf(body);
    page.why = e.why;
    if (!e.ok)
        return page;
    page.ok = true;
    page.nextKey = e.nextKey;
    page.bars.reserve(e.data.size());
    for (const QJsonValue& item : e.data) {
        const QJsonObject o = item.toObject();
        const auto code = shortCode(text(o.value(QLatin1String("Code"))));
        store::DailyBar bar;
        bar.date = dateOf(o.value(QLatin1String("Date")));
        if (!code || !bar.date.isValid()) {
            ++page.skipped;
            continue;
        }
        const auto open = number(o.value(QLatin1String("O")));
        const auto high = number(o.value(QLatin1String("H")));
        const auto low = number(o.value(QLatin1String("L")));
        const auto close = number(o.value(QLatin1String("C")));
        // A day without trades has no prices: it is kept as such, never as a price of zero.
        if (open && high && low && close && *low > 0) {
            bar.open = open;
            bar.high = high;
            bar.low = low;
            bar.close = close;
            if (const auto v = number(o.value(QLatin1String("Vo"))))
                bar.volume = qint64(std::llround(*v));
            if (const auto va = number(o.value(QLatin1String("Va"))))
                bar.turnover = qint64(std::llround(*va));
        }
        const auto factor = number(o.value(QLatin1String("AdjFactor")));
        bar.adjustment = factor && *factor > 0 ? *factor : 1.0;
        page.bars.append({*code, bar});
    }
    return page;
}

CalendarPage readCalendarPage(const QByteArray& body) {
    CalendarPage page;
    const Envelope e = envelopeOf(body);
    page.why = e.why;
    if (!e.ok)
        return page;
    page.ok = true;
    page.nextKey = e.nextKey;
    for (const QJsonValue& item : e.data) {
        const QJsonObject o = item.toObject();
        const QString division = text(o.value(QLatin1String("HolDiv")));
        const QDate date = dateOf(o.value(QLatin1String("Date")));
        if (date.isValid() && (division == QLatin1String("1") || division == QLatin1String("2")))
            page.tradingDays.append(date);
    }
    return page;
}

MasterPage readMasterPage(const QByteArray& body) {
    MasterPage page;
    const Envelope e = envelopeOf(body);
    page.why = e.why;
    if (!e.ok)
        return page;
    page.ok = true;
    page.nextKey = e.nextKey;
    for (const QJsonValue& item : e.data) {
        const QJsonObject o = item.toObject();
        const auto code = shortCode(text(o.value(QLatin1String("Code"))));
        const QString name = text(o.value(QLatin1String("CoName")));
        if (!code || name.isEmpty()) {
            ++page.skipped;
            continue;
        }
        page.listings.append({*code, name, text(o.value(QLatin1String("MktNm")))});
    }
    return page;
}

QString serviceMessage(const QByteArray& body) {
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    return doc.isObject() ? doc.object().value(QLatin1String("message")).toString().left(300)
                          : QString();
}

} // namespace portal::sync
