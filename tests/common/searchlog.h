#pragma once

#include "chart/securitycode.h"

#include <QString>
#include <QStringList>

namespace testing {

// The code of every candidate a search tried, in the order the portal saw them: each candidate
// starts with its one-day chart under ".t".
QStringList candidatesIn(const QStringList& targets);

// What a search asked for, checked against the one-by-one search it stands for: every code of
// tried (the last one is the code found) was asked for, and beyond them only the few candidates
// after the found one that the look-ahead reaches. Returns what is wrong, or an empty text.
QString searchAskedWrong(const QStringList& asked, const QStringList& tried,
                         chart::StepDirection direction, const QStringList& alphanumericCodes = {});

} // namespace testing
