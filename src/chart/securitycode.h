#pragma once

#include <QString>

#include <optional>

namespace chart {

// The one code normalisation that the display request, code stepping, the clipboard read and
// mark navigation share: the text read as a number (blanks around it allowed, digit grouping
// accepted, and what a Japanese input method gives: full-width digits, blanks, minus and full
// stop), then written again with no decimal places and no grouping ("4674.4" -> "4674",
// "0999" -> "999", "-123" -> "-123"). Text that is no number gives nullopt. The caller accepts
// the result only when it is exactly four characters long (isCodeLength).
std::optional<double> readCodeNumber(const QString& text);
QString formatCodeNumber(double value);
std::optional<QString> normalizeCode(const QString& text);
inline bool isCodeLength(const QString& normalized) {
    return normalized.size() == 4;
}
// normalizeCode() with the four-character test: the code to display, or nullopt.
std::optional<QString> codeToDisplay(const QString& text);

// A four-character code of ASCII digits (what marks and the code list hold).
bool isPlainCode(const QString& text);

// Code stepping over the range 1000..9999.
enum class StepDirection { Up = 1, Down = -1 };
// The first candidate of a search: the code box's text read as a number, plus or minus one,
// written as decimal text ("4674.4" up -> "4675.4"); not wrapped. nullopt when the text is no
// number.
std::optional<QString> firstStepCandidate(const QString& codeBoxText, StepDirection dir);
// The candidate after a failed one: its normalised form plus or minus one; up wraps to "1000"
// at 9999 or more, down to "9999" at 1000 or less.
QString nextStepCandidate(const QString& normalizedCandidate, StepDirection dir);

// Far outside the range a search's candidates have more (or, between -99 and 999, fewer) than
// four characters and are never displayed; stepping through them one by one could take hours,
// and forever where adding one no longer changes the number. The nearest candidate in the
// search's direction that can have four characters ("-999", "1000" or "9999"), or candidate
// itself: nothing displayable is passed over.
QString nextPossibleCode(const QString& candidate, StepDirection dir);

} // namespace chart
