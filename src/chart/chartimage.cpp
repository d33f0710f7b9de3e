#include "chartimage.h"

#include "base/japantime.h"
#include "composition.h"

#include <QBuffer>
#include <QFileInfo>
#include <QRegularExpression>

#include <array>
#include <iterator>

namespace chart {

QString termName(int term) {
    static const char* const names[] = {"1d", "3m", "6m", "1y", "2y", "5y", "10y"};
    static_assert(std::size(names) == std::tuple_size_v<std::array<Term, 7>>, "a name per term");
    if (term < 0 || term >= static_cast<int>(std::size(names)))
        return QString();
    return QLatin1String(names[term]);
}

int termOfFile(const QString& path) {
    const QString name = QFileInfo(path).fileName();
    for (std::size_t i = 0; i < terms().size(); ++i) {
        if (name == QLatin1String(terms()[i].fileName))
            return static_cast<int>(i);
    }
    return -1;
}

QString chartImageFileName(const QString& code, int term, const QDate& lastPrice) {
    return code + QLatin1Char('_') + termName(term) + QLatin1Char('_') +
           lastPrice.toString(QStringLiteral("yyyyMMdd")) + QLatin1String(".png");
}

std::optional<QDate> lastPriceDate(const QString& pageText) {
    static const QRegularExpression date(QStringLiteral("(\\d{4})/(\\d{2})/(\\d{2})"));
    for (auto it = date.globalMatch(pageText); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        const QDate d(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
        if (d.isValid())
            return d;
    }
    return std::nullopt;
}

QDate dateInJapan(const QDateTime& now) {
    return base::inJapan(now).date();
}

QByteArray pngBytes(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (image.isNull() || !image.save(&buffer, "PNG"))
        return QByteArray();
    return bytes;
}

} // namespace chart
