// The reader of the data service's daily bars on any bytes: never a crash or a hang, never a
// price of zero or a code the viewer cannot show; what Qt's own JSON parser takes as
// {"data": [...]}, written out again as strict JSON, is read whole, record for record, and where
// both read the bytes as they came, they agree.
#include "prices/marketdata.h"
#include "sync/serviceanswers.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdint>
#include <cstdlib>

using namespace portal;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const sync::BarsPage page = sync::readBarsPage(bytes);
    for (const auto& b : page.bars) {
        if (!isCode(b.code) || !b.bar.date.isValid() || !(b.bar.adjustment > 0))
            std::abort();
        if (b.bar.traded() && !(*b.bar.low > 0))
            std::abort();
    }
    if (!page.ok && (!page.bars.isEmpty() || page.why.isEmpty()))
        std::abort();

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error == QJsonParseError::NoError && doc.isObject() &&
        doc.object().value(QLatin1String("data")).isArray()) {
        const QJsonArray records = doc.object().value(QLatin1String("data")).toArray();
        if (page.ok && page.bars.size() + page.skipped != records.size())
            std::abort();
        // Qt takes some things strict JSON does not (".5", "\0"); what it writes is strict.
        const sync::BarsPage strict = sync::readBarsPage(doc.toJson(QJsonDocument::Compact));
        if (!strict.ok || strict.bars.size() + strict.skipped != records.size())
            std::abort();
    }
    sync::readCalendarPage(bytes);
    sync::readMasterPage(bytes);
    return 0;
}
