// Code normalisation and the code search's stepping on any text the code box can hold (the
// input read as UTF-8).
#include "base/codeform.h"
#include "chart/securitycode.h"

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdlib>

using namespace chart;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto code = normalizeCode(text);
    const auto shown = codeToDisplay(text);
    // A code to display is four characters: the normalised number or an alphanumeric code.
    if (shown && !base::isCode(*shown) && !(code && *shown == *code && isCodeLength(*shown)))
        std::abort();
    if (code && normalizeCode(*code) != code)
        std::abort();
    const auto alphanumeric = readAlphanumericCode(text);
    if (alphanumeric && !base::isAlphanumericCode(*alphanumeric))
        std::abort();
    base::isPlainCode(text);

    static const QStringList codes{QStringLiteral("130A"), QStringLiteral("1A3C"),
                                   QStringLiteral("999A")};
    for (const StepDirection dir : {StepDirection::Up, StepDirection::Down}) {
        const auto first = firstStepCandidate(text, dir);
        if (first.has_value() != readCodeNumber(text).has_value())
            std::abort();
        const QString start = code ? *code : text;
        // Stepping never leaves the search without a number to go on with.
        if (!readCodeNumber(nextStepCandidate(start, dir)))
            std::abort();
        nextPossibleCode(start, dir);
        if (first)
            nextPossibleCode(*first, dir);

        const auto search = firstSearchCandidate(text, dir, codes);
        if (!search)
            continue;
        const auto normalized = normalizeSearchCandidate(*search);
        if (!normalized)
            continue;
        // A few steps on from there always give a candidate the search can go on with.
        QString candidate = *normalized;
        for (int i = 0; i < 4; ++i) {
            candidate = nextSearchCandidate(candidate, dir, codes);
            const auto next = normalizeSearchCandidate(candidate);
            if (!next)
                std::abort();
            candidate = *next;
        }
    }
    return 0;
}
