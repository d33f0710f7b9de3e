#pragma once

// A portal on a loopback port over a data folder of its own: the first lines of the shipped code
// list, and a store that holds 80 trading days for the first of them (or nothing), so that a
// ranking over every code it lists takes no time.

#include "testsupport.h"

#include "base/codelistfile.h"
#include "store/pricestore.h"

#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <memory>

namespace testing {

class SmallPortal {
public:
    static inline const QDate kLastDay{2026, 12, 4};

    // codes: how many codes of the shipped list it lists; stored: for how many of them it holds
    // prices (0: every price is invented).
    SmallPortal(int codes, int stored) {
        QFile shipped(binFolder() + QLatin1Char('/') + QString::fromUtf8(base::kCodeListFileName));
        if (!shipped.open(QIODevice::ReadOnly))
            return;
        const QList<QByteArray> lines = shipped.readAll().split('\n');
        QFile list(m_dir.filePath(QString::fromUtf8(base::kCodeListFileName)));
        if (!list.open(QIODevice::WriteOnly))
            return;
        for (int i = 0; i < codes && i < lines.size(); ++i) {
            list.write(lines[i] + '\n');
            m_codes << QString::fromLatin1(lines[i].left(4));
        }
        list.close();
        if (stored > 0)
            fill(stored);
        m_server =
            std::make_unique<portal::PortalServer>(portal::PortalOptions{m_dir.path(), kLastDay});
        m_started = m_server->start();
    }

    bool started() const { return m_started; }
    QString base() const { return m_server ? m_server->baseUrl() : QString(); }
    const QStringList& codes() const { return m_codes; }

private:
    void fill(int stored) {
        auto store = portal::store::PriceStore::open(
            portal::store::PriceStore::pathIn(m_dir.path()), nullptr);
        if (!store)
            return;
        portal::store::PriceStore::Writer w(*store);
        int day = 0;
        for (QDate d = kLastDay.addDays(-115); d <= kLastDay; d = d.addDays(1)) {
            if (d.dayOfWeek() > 5)
                continue;
            for (int c = 0; c < stored && c < m_codes.size(); ++c) {
                portal::store::DailyBar b;
                b.date = d;
                const double p = std::round(500 + 100 * std::sin(day * 0.2 + c));
                b.open = b.high = b.low = b.close = p;
                b.volume = 1000 + (c * 37 + day * 11) % 900;
                w.put(m_codes[c], b);
            }
            ++day;
        }
        w.commit();
    }

    QTemporaryDir m_dir;
    QStringList m_codes;
    std::unique_ptr<portal::PortalServer> m_server;
    bool m_started = false;
};

} // namespace testing
