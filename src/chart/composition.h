#pragma once

#include "settings/settingsstore.h"

#include <QString>

#include <array>

namespace chart {

enum class TermKind { Intraday, Technical };

struct Term {
    settings::Key key; // its flag, TERM1d ...
    TermKind kind;
    const char* suffix;       // "&t=3m"; empty for the intraday term
    const char* standardPair; // "m25,m75"; empty for the intraday term
    const char* fileName;     // "temp1.gif" ... "temp7.gif", in the program folder
};

// The seven chart terms in the order they are fetched.
const std::array<Term, 7>& terms();
// ".t", ".j", ".q", ".o", ".n", in the order they are tried.
const std::array<const char*, 5>& exchangeSuffixes();
// The 13 overlay keys (AV25d ... ITEM3) and their tokens ("m25," ...), in token order.
struct Overlay {
    settings::Key key;
    const char* token;
};
const std::array<Overlay, 13>& overlays();

// The chart options as one display reads them, through the store's readers (a missing key or a
// text that does not parse gives the key's default). A flag is on only when it reads as exactly
// 1.
struct ChartOptions {
    std::array<bool, 7> terms{};
    bool detail = false; // TERMIF
    std::array<bool, 13> overlays{};
    bool normal = true;    // NORMAL
    bool fourPanes = true; // GRAF
    // The window's device pixel ratio when the display was asked for (not a setting): above 1,
    // the charts are asked for at that ratio.
    double pixelRatio = 1.0;

    static ChartOptions read(const settings::SettingsStore& store);
};

// The text after "&p=" before the standard pairs are applied: the tokens of the overlays that
// are on, without the trailing comma, when NORMAL is off; empty when it is on.
QString parameterString(const ChartOptions& options);

// The parameter string a technical term actually sends: its standard pair under NORMAL.
QString termParameters(const ChartOptions& options, const QString& parameterString,
                       const Term& term);

// The device pixel ratio as a chart address carries it: rounded to two decimals, without
// trailing zeros ("2", "1.5", "1.25", "1.33"). Empty at a ratio that rounds to 1 or less: the
// addresses are then exactly those of a screen without scaling.
QString ratioParameter(double ratio);

// base + "/z?s=" + code + suffix + "&a=v&p=" + params + term suffix + "&l=off&z=m&q=c", and
// "&dpr=" + R after it when the ratio is above 1.
QString technicalAddress(const QString& base, const QString& code, const QString& exchange,
                         const QString& params, const Term& term, double ratio = 1.0);
// base + "/c/1d/" + first character of code + "/" + code + suffix + ".gif", and "?dpr=" + R
// after it when the ratio is above 1.
QString intradayAddress(const QString& base, const QString& code, const QString& exchange,
                        double ratio = 1.0);

// The device pixel ratio a received chart is shown at, so that it fills its pane at full
// sharpness: the ratio it was asked for when the image is wider than the pane (the portal drew
// it at that ratio), else 1 (a portal that ignores the parameter draws every chart to fit a
// pane at ratio 1).
double shownRatio(int imageWidth, double askedRatio, int paneWidth);

// The summary panel's page: base + "/bin/gw?url=" + encoded(base + "/bin/rs") +
// "&ag=i&cr=i&src=p&word=" + code + "&site=12"; ":" as "%3A", "/" as "%2F".
QString mobileSummaryAddress(const QString& gatewayBase, const QString& code);
// base + "/q?s=" + code + "&d=t&k=c3&h=on&z=m"
QString detailQuoteAddress(const QString& quoteBase, const QString& code);

} // namespace chart
