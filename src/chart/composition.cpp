#include "composition.h"

#include <cmath>

namespace chart {

namespace {

using settings::Key;

const std::array<Term, 7> kTerms{{
    {Key::TERM1d, TermKind::Intraday, "", "", "temp1.gif"},
    {Key::TERM3m, TermKind::Technical, "&t=3m", "m25,m75", "temp2.gif"},
    {Key::TERM6m, TermKind::Technical, "&t=6m", "m25,m75", "temp3.gif"},
    {Key::TERM1y, TermKind::Technical, "&t=1y", "m65,m130", "temp4.gif"},
    {Key::TERM2y, TermKind::Technical, "&t=2y", "m65,m130", "temp5.gif"},
    {Key::TERM5y, TermKind::Technical, "&t=5y", "m130,m260", "temp6.gif"},
    {Key::TERMay, TermKind::Technical, "&t=ay", "m130,m260", "temp7.gif"},
}};

const std::array<const char*, 5> kExchangeSuffixes{".t", ".j", ".q", ".o", ".n"};

// Week periods go to the server in trading days, five to the week.
const std::array<Overlay, 13> kOverlays{{
    {Key::AV25d, "m25,"},
    {Key::AV75d, "m75,"},
    {Key::AV13w, "m65,"},
    {Key::AV26w, "m130,"},
    {Key::AV52w, "m260,"},
    {Key::EAV25d, "e25,"},
    {Key::EAV75d, "e75,"},
    {Key::EAV13w, "e65,"},
    {Key::EAV26w, "e130,"},
    {Key::EAV52w, "e260,"},
    {Key::ITEM1, "b,"},
    {Key::ITEM2, "p,"},
    {Key::ITEM3, "v,"},
}};

} // namespace

const std::array<Term, 7>& terms() {
    return kTerms;
}
const std::array<const char*, 5>& exchangeSuffixes() {
    return kExchangeSuffixes;
}
const std::array<Overlay, 13>& overlays() {
    return kOverlays;
}

ChartOptions ChartOptions::read(const settings::SettingsStore& store) {
    ChartOptions o;
    auto on = [&store](Key key) {
        return store.readFlag(key) == 1;
    };
    for (std::size_t i = 0; i < kTerms.size(); ++i)
        o.terms[i] = on(kTerms[i].key);
    o.detail = on(Key::TERMIF);
    for (std::size_t i = 0; i < kOverlays.size(); ++i)
        o.overlays[i] = on(kOverlays[i].key);
    o.normal = store.readSwitch(Key::NORMAL);
    o.fourPanes = store.readSwitch(Key::GRAF);
    return o;
}

QString parameterString(const ChartOptions& options) {
    QString params;
    if (!options.normal) {
        for (std::size_t i = 0; i < kOverlays.size(); ++i) {
            if (options.overlays[i])
                params += QLatin1String(kOverlays[i].token);
        }
    }
    if (!params.isEmpty())
        params.chop(1);
    return params;
}

QString termParameters(const ChartOptions& options, const QString& parameterString,
                       const Term& term) {
    return options.normal ? QString::fromLatin1(term.standardPair) : parameterString;
}

QString ratioParameter(double ratio) {
    if (!(ratio > 1.0) || !std::isfinite(ratio))
        return QString();
    QString text = QString::number(std::round(ratio * 100.0) / 100.0, 'f', 2);
    while (text.endsWith(QLatin1Char('0')))
        text.chop(1);
    if (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return text == QLatin1String("1") ? QString() : text;
}

QString technicalAddress(const QString& base, const QString& code, const QString& exchange,
                         const QString& params, const Term& term, double ratio) {
    QString address = base + QLatin1String("/z?s=") + code + exchange + QLatin1String("&a=v&p=") +
                      params + QLatin1String(term.suffix) + QLatin1String("&l=off&z=m&q=c");
    const QString r = ratioParameter(ratio);
    if (!r.isEmpty())
        address += QLatin1String("&dpr=") + r;
    return address;
}

QString intradayAddress(const QString& base, const QString& code, const QString& exchange,
                        double ratio) {
    QString address = base + QLatin1String("/c/1d/") + code.left(1) + QLatin1Char('/') + code +
                      exchange + QLatin1String(".gif");
    const QString r = ratioParameter(ratio);
    if (!r.isEmpty())
        address += QLatin1String("?dpr=") + r;
    return address;
}

double shownRatio(int imageWidth, double askedRatio, int paneWidth) {
    if (ratioParameter(askedRatio).isEmpty() || imageWidth <= paneWidth)
        return 1.0;
    return ratioParameter(askedRatio).toDouble();
}

QString mobileSummaryAddress(const QString& gatewayBase, const QString& code) {
    QString encoded = gatewayBase + QLatin1String("/bin/rs");
    encoded.replace(QLatin1Char(':'), QLatin1String("%3A"));
    encoded.replace(QLatin1Char('/'), QLatin1String("%2F"));
    return gatewayBase + QLatin1String("/bin/gw?url=") + encoded +
           QLatin1String("&ag=i&cr=i&src=p&word=") + code + QLatin1String("&site=12");
}

QString detailQuoteAddress(const QString& quoteBase, const QString& code) {
    return quoteBase + QLatin1String("/q?s=") + code + QLatin1String("&d=t&k=c3&h=on&z=m");
}

} // namespace chart
