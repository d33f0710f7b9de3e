#include "base/japantime.h"

namespace base {

QDateTime inJapan(const QDateTime& moment) {
    return moment.toUTC().addSecs(9 * 3600);
}

} // namespace base
