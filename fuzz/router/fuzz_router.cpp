// The portal's request routing on any request line: "METHOD target", the target being the path
// and query as they arrive, still percent-encoded. Every answer the router gives must be a page
// it can send: a status, a content type and, for a success, a body.
#include "pages/router.h"
#include "prices/marketdata.h"

#include <QGuiApplication>

#include <cstdint>
#include <cstdlib>
#include <memory>

namespace {
std::unique_ptr<portal::MarketData> g_data;
}

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    // Charts are drawn with fonts, which need a GUI application; no screen is used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Kept to the end of the process and never destroyed: taken down among the static
    // destructors, it would leave the fonts' per-thread caches behind.
    static QGuiApplication* const app = new QGuiApplication(*argc, *argv);
    Q_UNUSED(app);
    g_data =
        std::make_unique<portal::MarketData>(QStringLiteral(QUORVIX_BIN_DIR), QDate(2026, 12, 4));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray line(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const qsizetype blank = line.indexOf(' ');
    const QByteArray method = blank < 0 ? line : line.left(blank);
    const QByteArray target = blank < 0 ? QByteArray() : line.mid(blank + 1);
    const qsizetype mark = target.indexOf('?');
    const QByteArray path = mark < 0 ? target : target.left(mark);
    const QByteArray query = mark < 0 ? QByteArray() : target.mid(mark + 1);

    const portal::Response answer = portal::route(*g_data, method, path, query, portal::Faults{});
    if (answer.status < 200 || answer.status > 599 || answer.contentType.isEmpty())
        std::abort();
    if (answer.status == 200 && answer.body.isEmpty())
        std::abort();
    return 0;
}
