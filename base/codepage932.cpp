#include "codepage932.h"

#include <QStringEncoder>

namespace base {

const char* codePage932Name() {
    // The registered name first, the plain Shift_JIS name for a converter set that lacks it.
    static const char* const name = [] {
        for (const char* candidate : {"windows-31j", "cp932", "Shift_JIS"}) {
            if (QStringDecoder(candidate).isValid() && QStringEncoder(candidate).isValid())
                return candidate;
        }
        return static_cast<const char*>(nullptr);
    }();
    return name;
}

QStringDecoder codePage932Decoder() {
    const char* name = codePage932Name();
    return name ? QStringDecoder(name) : QStringDecoder();
}

} // namespace base
