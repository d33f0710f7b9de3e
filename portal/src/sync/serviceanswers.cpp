#include "sync/serviceanswers.h"

#include "sync/jsonreader.h"

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

// Why an answer that is no JSON object is not read.
QString notJson(const QByteArray& body) {
    return body.trimmed().startsWith('<')
               ? QStringLiteral("JSON ではなく HTML のページが返されました")
               : QStringLiteral("応答の JSON が読めません（途中で切れているか壊れています）");
}

QString noData() {
    return QStringLiteral("応答に data がありません");
}

Envelope envelopeOf(const QByteArray& body) {
    Envelope e;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject()) {
        e.why = notJson(body);
        return e;
    }
    const QJsonObject top = doc.object();
    const QJsonValue data = top.value(QLatin1String("data"));
    if (!data.isArray()) {
        e.why = noData();
        return e;
    }
    e.ok = true;
    e.data = data.toArray();
    e.nextKey = top.value(QLatin1String("pagination_key")).toString();
    return e;
}

QString text(const QJsonValue& v) {
    if (v.isString())
        return v.toString().trimmed();
    if (v.isDouble())
        return QString::number(v.toDouble(), 'f', 0);
    return {};
}

// The service writes "2026-01-05"; "20260105" is read as well.
QDate dateFrom(const QString& text) {
    const QDate iso = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return iso.isValid() ? iso : QDate::fromString(text, QStringLiteral("yyyyMMdd"));
}

QDate dateOf(const QJsonValue& v) {
    return dateFrom(text(v));
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
    // Read straight from the bytes: building a document of a day of every code would take as long
    // as storing it.
    BarsPage page;
    JsonReader json(body);
    bool haveData = false;
    using Scalar = JsonReader::Scalar;
    const auto number = [](const Scalar& s) -> std::optional<double> {
        if (s.type == Scalar::Number)
            return s.number;
        if (s.type == Scalar::Text) {
            bool ok = false;
            const double d = s.text.trimmed().toDouble(&ok);
            if (ok && std::isfinite(d))
                return d;
        }
        return std::nullopt;
    };
    const auto textOf = [](const Scalar& s) {
        return s.type == Scalar::Text     ? s.text.trimmed()
               : s.type == Scalar::Number ? QString::number(s.number, 'f', 0)
                                          : QString();
    };
    QString lastDateText;
    QDate lastDate;
    if (json.beginObject()) {
        while (const auto key = json.nextKey()) {
            if (*key == QLatin1String("pagination_key")) {
                const Scalar k = json.scalar();
                page.nextKey = k.type == Scalar::Text ? k.text : QString();
                continue;
            }
            if (*key != QLatin1String("data") || json.peek() != JsonReader::Kind::Array) {
                json.skip();
                continue;
            }
            haveData = true;
            json.beginArray();
            while (json.nextElement()) {
                if (json.peek() != JsonReader::Kind::Object) {
                    json.skip();
                    ++page.skipped;
                    continue;
                }
                json.beginObject();
                Scalar code, date, open, high, low, close, volume, turnover, factor;
                while (const auto field = json.nextKey()) {
                    Scalar* into = nullptr;
                    if (field->size() == 1) {
                        switch (field->front().unicode()) {
                        case 'O':
                            into = &open;
                            break;
                        case 'H':
                            into = &high;
                            break;
                        case 'L':
                            into = &low;
                            break;
                        case 'C':
                            into = &close;
                            break;
                        }
                    } else if (*field == QLatin1String("Code")) {
                        into = &code;
                    } else if (*field == QLatin1String("Date")) {
                        into = &date;
                    } else if (*field == QLatin1String("Vo")) {
                        into = &volume;
                    } else if (*field == QLatin1String("Va")) {
                        into = &turnover;
                    } else if (*field == QLatin1String("AdjFactor")) {
                        into = &factor;
                    }
                    if (into)
                        *into = json.scalar();
                    else
                        json.skip();
                }
                // Every record of a day holds the same date: it is read once.
                const QString dateText = textOf(date);
                if (dateText != lastDateText) {
                    lastDateText = dateText;
                    lastDate = dateFrom(dateText);
                }
                const auto shortened = shortCode(textOf(code));
                store::DailyBar bar;
                bar.date = lastDate;
                if (!shortened || !bar.date.isValid()) {
                    ++page.skipped;
                    continue;
                }
                const auto o = number(open), h = number(high), l = number(low), c = number(close);
                // A day without trades has no prices: it is kept as such, never as a price of
                // zero.
                if (o && h && l && c && *l > 0) {
                    bar.open = o;
                    bar.high = h;
                    bar.low = l;
                    bar.close = c;
                    if (const auto v = number(volume))
                        bar.volume = qint64(std::llround(*v));
                    if (const auto va = number(turnover))
                        bar.turnover = qint64(std::llround(*va));
                }
                const auto f = number(factor);
                bar.adjustment = f && *f > 0 ? *f : 1.0;
                page.bars.append({*shortened, bar});
            }
        }
    }
    if (json.failed() || !json.atEnd() || !haveData) {
        const bool wholeJson = !json.failed() && json.atEnd();
        page = BarsPage();
        page.why = wholeJson ? noData() : notJson(body);
        return page;
    }
    page.ok = true;
    return page;
}

// A small page (the calendar, the listing), read through a JSON document: each record handed to
// take, what the page came with set on it.
template <typename Page, typename Take> Page readPage(const QByteArray& body, Take take) {
    Page page;
    const Envelope e = envelopeOf(body);
    page.why = e.why;
    if (!e.ok)
        return page;
    page.ok = true;
    page.nextKey = e.nextKey;
    for (const QJsonValue& item : e.data)
        take(page, item.toObject());
    return page;
}

CalendarPage readCalendarPage(const QByteArray& body) {
    return readPage<CalendarPage>(body, [](CalendarPage& page, const QJsonObject& o) {
        const QString division = text(o.value(QLatin1String("HolDiv")));
        const QDate date = dateOf(o.value(QLatin1String("Date")));
        if (date.isValid() && (division == QLatin1String("1") || division == QLatin1String("2")))
            page.tradingDays.append(date);
    });
}

MasterPage readMasterPage(const QByteArray& body) {
    return readPage<MasterPage>(body, [](MasterPage& page, const QJsonObject& o) {
        const auto code = shortCode(text(o.value(QLatin1String("Code"))));
        const QString name = text(o.value(QLatin1String("CoName")));
        if (!code || name.isEmpty()) {
            ++page.skipped;
            return;
        }
        page.listings.append({*code, name, text(o.value(QLatin1String("MktNm")))});
    });
}

QString serviceMessage(const QByteArray& body) {
    const QJsonDocument doc = QJsonDocument::fromJson(body);
    return doc.isObject() ? doc.object().value(QLatin1String("message")).toString().left(300)
                          : QString();
}

} // namespace portal::sync
