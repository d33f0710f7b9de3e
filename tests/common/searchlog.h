#pragma once

#include "chart/securitycode.h"

#include <QMap>
#include <QString>
#include <QStringList>

namespace testing {

// Whether a target of the portal's log is a chart: "/c/1d/..." or "/z?...".
bool isChartTarget(const QString& target);
// "/c/1d/4/4674.t.gif" -> "1d"; "/z?s=4674.t&...&t=3m&..." -> "3m".
QString termOf(const QString& target);
// The "CODE.SFX" a chart transfer asked for.
QString codeAndSuffixOf(const QString& target);
// The chart requests among targets, term by term ("1d", "3m", ...), each as "CODE.SFX" in the
// order the term made them: terms run side by side, a term's suffixes one after the other.
QMap<QString, QStringList> chartWalks(const QStringList& targets);

// The terms a display with the default settings fetches, in pane order.
inline const QStringList kDefaultTerms{QStringLiteral("1d"), QStringLiteral("3m"),
                                       QStringLiteral("6m"), QStringLiteral("1y")};
// Code under each of the suffixes, in order: "4674.t", "4674.j", ...
QStringList suffixWalk(const QString& code, const QStringList& suffixes);
// The walks of a display of the default terms in which every term asks for code under the
// suffixes, in order (as chartWalks gives them).
QMap<QString, QStringList> sameWalkForEveryTerm(const QString& code, const QStringList& suffixes);

// The code of every candidate a search tried, in the order the portal saw them: each candidate
// starts with its one-day chart under ".t".
QStringList candidatesIn(const QStringList& targets);

// What a search asked for, checked against the one-by-one search it stands for: every code of
// tried (the last one is the code found) was asked for, and beyond them only the few candidates
// after the found one that the look-ahead reaches. Returns what is wrong, or an empty text.
QString searchAskedWrong(const QStringList& asked, const QStringList& tried,
                         chart::StepDirection direction, const QStringList& alphanumericCodes = {});

} // namespace testing
