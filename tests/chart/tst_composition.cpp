#include "chart/composition.h"
#include "settings/settingsstore.h"
#include "table.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
const QString kBase = QStringLiteral("http://quotes.test:9000");

using Stored = QMap<QString, QString>;

Stored allOverlays(const QString& value) {
    Stored s;
    for (const chart::Overlay& o : chart::overlays())
        s[QLatin1String(settings::info(o.key).key)] = value;
    return s;
}

Stored onlyTerms(const QStringList& on) {
    Stored s;
    for (const chart::Term& t : chart::terms()) {
        const QLatin1String name(settings::info(t.key).key);
        s[name] = on.contains(name) ? "1" : "0";
    }
    return s;
}

Stored merged(Stored a, const Stored& b) {
    for (auto it = b.begin(); it != b.end(); ++it)
        a[it.key()] = it.value();
    return a;
}

QString technical(const QString& code, const QString& exchange, const QString& params,
                  const QString& term) {
    return kBase + "/z?s=" + code + exchange + "&a=v&p=" + params + "&t=" + term + "&l=off&z=m&q=c";
}
} // namespace

Q_DECLARE_METATYPE(Stored)

// The chart addresses a display composes from the stored chart options and the code.
class TestComposition : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void addresses_data() {
        // stored: SETUP keys written to the store before the display reads it;
        // addresses: for every enabled term in term order, its address under `exchange`;
        // summary/quote: the two page addresses of the code (empty: not looked at in this row).
        testing::columns<Stored, QString, QString, QStringList, bool, bool, QString, QString>(
            {"stored", "code", "exchange", "addresses", "fourPanes", "detail", "summary", "quote"});

        QTest::newRow("no chart keys: four default terms, standard pairs")
            << Stored{} << "4674"
            << ".t"
            << QStringList{kBase + "/c/1d/4/4674.t.gif",
                           kBase + "/z?s=4674.t&a=v&p=m25,m75&t=3m&l=off&z=m&q=c",
                           technical("4674", ".t", "m25,m75", "6m"),
                           technical("4674", ".t", "m65,m130", "1y")}
            << true << false
            << kBase + "/bin/gw?url=http%3A%2F%2Fquotes.test%3A9000%2Fbin%2Frs"
                       "&ag=i&cr=i&src=p&word=4674&site=12"
            << kBase + "/q?s=4674&d=t&k=c3&h=on&z=m";

        QTest::newRow("defaults under the third exchange")
            << Stored{} << "4674"
            << ".q"
            << QStringList{kBase + "/c/1d/4/4674.q.gif", technical("4674", ".q", "m25,m75", "3m"),
                           technical("4674", ".q", "m25,m75", "6m"),
                           kBase + "/z?s=4674.q&a=v&p=m65,m130&t=1y&l=off&z=m&q=c"}
            << true << false << QString() << QString();

        QTest::newRow("NORMAL False, no overlay: empty parameters")
            << merged(merged(allOverlays("0"), onlyTerms({"TERM6m"})), {{"NORMAL", "False"}})
            << "4674"
            << ".t" << QStringList{kBase + "/z?s=4674.t&a=v&p=&t=6m&l=off&z=m&q=c"} << true << false
            << QString() << QString();

        QTest::newRow("NORMAL False, default overlays")
            << Stored{{"NORMAL", "False"}} << "4674"
            << ".t"
            << QStringList{kBase + "/c/1d/4/4674.t.gif",
                           technical("4674", ".t", "m25,m75,e25,e75", "3m"),
                           technical("4674", ".t", "m25,m75,e25,e75", "6m"),
                           technical("4674", ".t", "m25,m75,e25,e75", "1y")}
            << true << false << QString() << QString();

        QTest::newRow("NORMAL False, only ITEM3")
            << merged(merged(allOverlays("0"), onlyTerms({"TERM3m"})),
                      {{"NORMAL", "False"}, {"ITEM3", "1"}})
            << "4674"
            << ".t" << QStringList{technical("4674", ".t", "v", "3m")} << true << false << QString()
            << QString();

        QTest::newRow("NORMAL False, all 13 overlays in token order")
            << merged(merged(allOverlays("1"), onlyTerms({"TERM3m", "TERMay"})),
                      {{"NORMAL", "False"}})
            << "4674"
            << ".t"
            << QStringList{technical("4674", ".t",
                                     "m25,m75,m65,m130,m260,e25,e75,e65,e130,e260,b,p,v", "3m"),
                           technical("4674", ".t",
                                     "m25,m75,m65,m130,m260,e25,e75,e65,e130,e260,b,p,v", "ay")}
            << true << false << QString() << QString();

        QTest::newRow("NORMAL True ignores overlays; long terms' standard pairs")
            << merged(merged(allOverlays("1"), onlyTerms({"TERM2y", "TERM5y", "TERMay"})),
                      {{"NORMAL", "True"}})
            << "4674"
            << ".t"
            << QStringList{technical("4674", ".t", "m65,m130", "2y"),
                           technical("4674", ".t", "m130,m260", "5y"),
                           technical("4674", ".t", "m130,m260", "ay")}
            << true << false << QString() << QString();

        QTest::newRow("all seven terms in term order")
            << onlyTerms({"TERMay", "TERM5y", "TERM2y", "TERM1y", "TERM6m", "TERM3m", "TERM1d"})
            << "4674"
            << ".n"
            << QStringList{kBase + "/c/1d/4/4674.n.gif",
                           technical("4674", ".n", "m25,m75", "3m"),
                           technical("4674", ".n", "m25,m75", "6m"),
                           technical("4674", ".n", "m65,m130", "1y"),
                           technical("4674", ".n", "m65,m130", "2y"),
                           technical("4674", ".n", "m130,m260", "5y"),
                           technical("4674", ".n", "m130,m260", "ay")}
            << true << false << QString() << QString();

        // Only 1 is on; a text that is no flag reads as the key's default, as every reader does.
        QTest::newRow("term keys 2 and -1 are off, text is the default")
            << Stored{{"TERM1d", "2"}, {"TERM3m", "-1"}, {"TERM6m", "abc"}, {"TERM1y", "1"}}
            << "4674"
            << ".t"
            << QStringList{technical("4674", ".t", "m25,m75", "6m"),
                           technical("4674", ".t", "m65,m130", "1y")}
            << true << false << QString() << QString();

        QTest::newRow("term key beyond 16 bits is the default")
            << Stored{{"TERM1d", "65537"}, {"TERM3m", "0"}, {"TERM6m", "0"}, {"TERM1y", " 1 "}}
            << "4674"
            << ".t"
            << QStringList{kBase + "/c/1d/4/4674.t.gif", technical("4674", ".t", "m65,m130", "1y")}
            << true << false << QString() << QString();

        QTest::newRow("overlay keys 2 and -1 are off, text is the default")
            << merged(onlyTerms({"TERM3m"}), {{"NORMAL", "False"},
                                              {"AV25d", "2"},
                                              {"AV75d", "-1"},
                                              {"EAV25d", "abc"},
                                              {"EAV75d", "1"}})
            << "4674"
            << ".t" << QStringList{technical("4674", ".t", "e25,e75", "3m")} << true << false
            << QString() << QString();

        QTest::newRow("NORMAL that is no switch is the default, True")
            << merged(onlyTerms({"TERM6m"}), {{"NORMAL", "maybe"}}) << "4674"
            << ".t" << QStringList{technical("4674", ".t", "m25,m75", "6m")} << true << false
            << QString() << QString();

        QTest::newRow("no term at all")
            << onlyTerms({}) << "4674"
            << ".t" << QStringList{} << true << false << QString() << QString();

        QTest::newRow("code 1000 intraday path")
            << onlyTerms({"TERM1d"}) << "1000"
            << ".t" << QStringList{kBase + "/c/1d/1/1000.t.gif"} << true << false
            << kBase + "/bin/gw?url=http%3A%2F%2Fquotes.test%3A9000%2Fbin%2Frs"
                       "&ag=i&cr=i&src=p&word=1000&site=12"
            << kBase + "/q?s=1000&d=t&k=c3&h=on&z=m";

        QTest::newRow("code 9999 intraday path")
            << onlyTerms({"TERM1d"}) << "9999"
            << ".t" << QStringList{kBase + "/c/1d/9/9999.t.gif"} << true << false << QString()
            << QString();

        QTest::newRow("two panes, detail on")
            << merged(onlyTerms({"TERM1d"}), {{"GRAF", "False"}, {"TERMIF", "1"}}) << "4674"
            << ".j" << QStringList{kBase + "/c/1d/4/4674.j.gif"} << false << true << QString()
            << QString();

        QTest::newRow("GRAF that is no switch is the default, TERMIF 2 is off")
            << merged(onlyTerms({"TERM1d"}), {{"GRAF", "four"}, {"TERMIF", "2"}}) << "4674"
            << ".t" << QStringList{kBase + "/c/1d/4/4674.t.gif"} << true << false << QString()
            << QString();
    }

    void addresses() {
        QFETCH(Stored, stored);
        QFETCH(QString, code);
        QFETCH(QString, exchange);
        QFETCH(QStringList, addresses);
        QFETCH(bool, fourPanes);
        QFETCH(bool, detail);
        QFETCH(QString, summary);
        QFETCH(QString, quote);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString ini = dir.filePath("ZELK.ini");
        {
            settings::SettingsStore writer(ini);
            for (auto it = stored.begin(); it != stored.end(); ++it)
                writer.SaveSetting(settings::kSetup, it.key(), it.value());
        }
        const settings::SettingsStore store(ini);
        const chart::ChartOptions options = chart::ChartOptions::read(store);

        const QString params = chart::parameterString(options);
        QStringList composed;
        for (std::size_t i = 0; i < chart::terms().size(); ++i) {
            if (!options.terms[i])
                continue;
            const chart::Term& term = chart::terms()[i];
            composed << (term.kind == chart::TermKind::Intraday
                             ? chart::intradayAddress(kBase, code, exchange)
                             : chart::technicalAddress(kBase, code, exchange,
                                                       chart::termParameters(options, params, term),
                                                       term));
        }
        QCOMPARE(composed, addresses);
        QCOMPARE(options.fourPanes, fourPanes);
        QCOMPARE(options.detail, detail);
        if (!summary.isEmpty())
            QCOMPARE(chart::mobileSummaryAddress(kBase, code), summary);
        if (!quote.isEmpty())
            QCOMPARE(chart::detailQuoteAddress(kBase, code), quote);
    }

    // On a HiDPI screen the charts are asked for at the window's ratio; at ratio 1 (and below)
    // the addresses are exactly those without it.
    void pixelRatioAddresses_data() {
        testing::columns<double, QString>({"ratio", "parameter"});
        QTest::newRow("1") << 1.0 << "";
        QTest::newRow("1.25") << 1.25 << "1.25";
        QTest::newRow("1.5") << 1.5 << "1.5";
        QTest::newRow("2") << 2.0 << "2";
        QTest::newRow("2.5") << 2.5 << "2.5";
        QTest::newRow("3") << 3.0 << "3";
        QTest::newRow("1.333333") << 1.333333 << "1.33";
        QTest::newRow("1.666667") << 1.666667 << "1.67";
        QTest::newRow("1.1") << 1.1 << "1.1";
        QTest::newRow("2.999 rounds to 3") << 2.999 << "3";
        QTest::newRow("1.001 rounds to 1") << 1.001 << "";
        QTest::newRow("0.5") << 0.5 << "";
        QTest::newRow("0") << 0.0 << "";
    }

    void pixelRatioAddresses() {
        QFETCH(double, ratio);
        QFETCH(QString, parameter);

        QCOMPARE(chart::ratioParameter(ratio), parameter);
        const chart::Term& threeMonths = chart::terms()[1];
        const QString technicalAt1 = technical("4674", ".t", "m25,m75", "3m");
        const QString intradayAt1 = kBase + "/c/1d/4/4674.t.gif";
        QCOMPARE(chart::technicalAddress(kBase, "4674", ".t", "m25,m75", threeMonths),
                 technicalAt1);
        QCOMPARE(chart::intradayAddress(kBase, "4674", ".t"), intradayAt1);
        QCOMPARE(chart::technicalAddress(kBase, "4674", ".t", "m25,m75", threeMonths, ratio),
                 parameter.isEmpty() ? technicalAt1 : technicalAt1 + "&dpr=" + parameter);
        QCOMPARE(chart::intradayAddress(kBase, "4674", ".t", ratio),
                 parameter.isEmpty() ? intradayAt1 : intradayAt1 + "?dpr=" + parameter);
    }

    // A chart wider than its pane was drawn at the ratio asked for; one that fits came from a
    // portal that ignores the parameter and is shown as it is.
    void shownRatio_data() {
        testing::columns<int, double, double>({"imageWidth", "asked", "shown"});
        QTest::newRow("ratio 1") << 521 << 1.0 << 1.0;
        QTest::newRow("2, drawn at 2") << 1042 << 2.0 << 2.0;
        QTest::newRow("1.5, drawn at 1.5") << 782 << 1.5 << 1.5;
        QTest::newRow("1.333333, drawn at 1.33") << 693 << 1.333333 << 1.33;
        QTest::newRow("2, drawn at 1") << 521 << 2.0 << 1.0;
        QTest::newRow("1.25, drawn at 1") << 519 << 1.25 << 1.0;
    }

    void shownRatio() {
        QFETCH(int, imageWidth);
        QFETCH(double, asked);
        QFETCH(double, shown);
        QCOMPARE(chart::shownRatio(imageWidth, asked, 521), shown);
    }
};

QTEST_GUILESS_MAIN(TestComposition)
#include "tst_composition.moc"
