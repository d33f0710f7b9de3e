// Code normalisation and stepping on any text the code box can hold (the input read as UTF-8).
#include "chart/securitycode.h"

#include <QString>

#include <cstdint>
#include <cstdlib>

using namespace chart;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text =
        QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const auto code = normalizeCode(text);
    const auto shown = codeToDisplay(text);
    // A code to display is a normalised code of four characters, and normalising is idempotent.
    if (shown && (!code || *shown != *code || !isCodeLength(*shown)))
        std::abort();
    if (code && normalizeCode(*code) != code)
        std::abort();
    isPlainCode(text);
    for (const StepDirection dir : {StepDirection::Up, StepDirection::Down}) {
        const auto first = firstStepCandidate(text, dir);
        if (first.has_value() != readCodeNumber(text).has_value())
            std::abort();
        const QString start = code ? *code : text;
        const QString next = nextStepCandidate(start, dir);
        // Stepping never leaves the search without a number to go on with.
        if (!readCodeNumber(next))
            std::abort();
        nextPossibleCode(start, dir);
        if (first)
            nextPossibleCode(*first, dir);
    }
    return 0;
}
