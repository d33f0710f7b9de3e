// The price-file reader on any bytes: what it accepts is a clean history, and what the portal
// writes back reads again as the same days.
#include "prices/pricecsv.h"

#include <QByteArray>

#include <cmath>
#include <cstdint>
#include <cstdlib>

using namespace portal;

namespace {

bool isCleanHistory(const History& bars) {
    for (qsizetype i = 0; i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        if (!bar.date.isValid() || (i > 0 && !(bars[i - 1].date < bar.date)))
            return false;
        for (double price : {bar.open, bar.high, bar.low, bar.close}) {
            if (!std::isfinite(price) || price < 0)
                return false;
        }
        if (bar.high < bar.low || bar.volume < 0)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const PriceFile file = parsePriceCsv(bytes);
    if (!isCleanHistory(file.bars))
        std::abort();
    if (file.bars.isEmpty())
        return 0;

    const PriceFile again = parsePriceCsv(writePriceCsv(file.bars));
    if (!again.problems.isEmpty() || again.bars.size() != file.bars.size())
        std::abort();
    for (qsizetype i = 0; i < file.bars.size(); ++i) {
        if (again.bars[i].date != file.bars[i].date)
            std::abort();
    }
    return 0;
}
