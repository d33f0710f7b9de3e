#include "composition.h"

#include "settings/settingsstore.h"

namespace chart {

namespace {

const std::array<Term, 7> kTerms{{
    {"TERM1d", TermKind::Intraday, "", "", "temp1.gif"},
    {"TERM3m", TermKind::Technical, "&t=3m", "m25,m75", "temp2.gif"},
    {"TERM6m", TermKind::Technical, "&t=6m", "m25,m75", "temp3.gif"},
    {"TERM1y", TermKind::Technical, "&t=1y", "m65,m130", "temp4.gif"},
    {"TERM2y", TermKind::Technical, "&t=2y", "m65,m130", "temp5.gif"},
    {"TERM5y", TermKind::Technical, "&t=5y", "m130,m260", "temp6.gif"},
    {"TERMay", TermKind::Technical, "&t=ay", "m130,m260", "temp7.gif"},
}};

const std::array<const char*, 5> kExchangeSuffixes{".t", ".j", ".q", ".o", ".n"};

// Week periods go to the server in trading days, five to the week.
const std::array<Overlay, 13> kOverlays{{
    {"AV25d", "m25,"},
    {"AV75d", "m75,"},
    {"AV13w", "m65,"},
    {"AV26w", "m130,"},
    {"AV52w", "m260,"},
    {"EAV25d", "e25,"},
    {"EAV75d", "e75,"},
    {"EAV13w", "e65,"},
    {"EAV26w", "e130,"},
    {"EAV52w", "e260,"},
    {"ITEM1", "b,"},
    {"ITEM2", "p,"},
    {"ITEM3", "v,"},
}};

QString storedText(const settings::SettingsStore& store, const char* key) {
    const settings::KeyInfo* info = settings::findKey(QLatin1String(key));
    const QString section = QLatin1String(info ? info->section : settings::kSetup);
    const QString fallback = QLatin1String(info ? info->defaultText : "");
    return store.GetSetting(section, QLatin1String(key), fallback);
}

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

bool ChartOptions::readFlagOn(const settings::SettingsStore& store, const char* key) {
    const auto value = settings::parseFlag(storedText(store, key));
    return value && *value == 1;
}

bool ChartOptions::readSwitchOn(const settings::SettingsStore& store, const char* key) {
    return settings::parseSwitch(storedText(store, key)).value_or(false);
}

ChartOptions ChartOptions::read(const settings::SettingsStore& store) {
    ChartOptions o;
    for (std::size_t i = 0; i < kTerms.size(); ++i)
        o.terms[i] = readFlagOn(store, kTerms[i].key);
    o.detail = readFlagOn(store, "TERMIF");
    for (std::size_t i = 0; i < kOverlays.size(); ++i)
        o.overlays[i] = readFlagOn(store, kOverlays[i].key);
    o.normal = readSwitchOn(store, "NORMAL");
    o.fourPanes = readSwitchOn(store, "GRAF");
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

QString technicalAddress(const QString& base, const QString& code, const QString& exchange,
                         const QString& params, const Term& term) {
    return base + QLatin1String("/z?s=") + code + exchange + QLatin1String("&a=v&p=") + params +
           QLatin1String(term.suffix) + QLatin1String("&l=off&z=m&q=c");
}

QString intradayAddress(const QString& base, const QString& code, const QString& exchange) {
    return base + QLatin1String("/c/1d/") + code.left(1) + QLatin1Char('/') + code + exchange +
           QLatin1String(".gif");
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
