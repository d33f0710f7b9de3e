// The price-file reader on any bytes: what it accepts is a clean history of days the exchange
// could have traded, the same whether the bytes come whole or a few at a time, and what the
// portal writes back reads again as the same days.
#include "prices/pricecsv.h"

#include <QByteArray>
#include <QIODevice>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace portal;

namespace {

// Fixed, so that a failing input fails again on any later day.
const QDate kToday(2026, 12, 8);

// Hands the bytes out three at a time, as a pipe might, so lines cross every read boundary.
class Trickle : public QIODevice {
public:
    explicit Trickle(const QByteArray& bytes)
        : m_bytes(bytes) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char* data, qint64 max) override {
        const qint64 n = std::min({max, qint64(3), qint64(m_bytes.size()) - m_pos});
        std::memcpy(data, m_bytes.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QByteArray m_bytes;
    qint64 m_pos = 0;
};

bool sameBars(const History& a, const History& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const Bar& x, const Bar& y) {
        return x.date == y.date && x.open == y.open && x.high == y.high && x.low == y.low &&
               x.close == y.close && x.volume == y.volume;
    });
}

bool sameFile(const PriceFile& a, const PriceFile& b) {
    if (a.layout != b.layout || a.error != b.error || a.problemCount != b.problemCount ||
        a.problems.size() != b.problems.size() || !sameBars(a.bars, b.bars))
        return false;
    for (qsizetype i = 0; i < a.problems.size(); ++i) {
        if (a.problems[i].line != b.problems[i].line ||
            a.problems[i].reason != b.problems[i].reason)
            return false;
    }
    return true;
}

bool isCleanHistory(const History& bars) {
    for (qsizetype i = 0; i < bars.size(); ++i) {
        const Bar& bar = bars[i];
        if (!bar.date.isValid() || (i > 0 && !(bars[i - 1].date < bar.date)))
            return false;
        if (bar.date < QDate(1949, 5, 16) || bar.date > kToday)
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
    const PriceFile file = parsePriceCsv(bytes, kToday);
    if (!isCleanHistory(file.bars))
        std::abort();
    if (file.problems.size() > kMaxRowProblems || file.problemCount < file.problems.size() ||
        (file.problemCount > file.problems.size() && file.problems.size() < kMaxRowProblems))
        std::abort();
    Trickle trickle(bytes);
    if (!sameFile(file, readPriceCsv(trickle, kToday)))
        std::abort();
    if (file.bars.isEmpty())
        return 0;

    const PriceFile again = parsePriceCsv(writePriceCsv(file.bars), kToday);
    if (!again.problems.isEmpty() || again.bars.size() != file.bars.size())
        std::abort();
    for (qsizetype i = 0; i < file.bars.size(); ++i) {
        if (again.bars[i].date != file.bars[i].date)
            std::abort();
    }
    return 0;
}
