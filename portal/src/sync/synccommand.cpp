#include "sync/synccommand.h"

#include "prices/datastore.h"
#include "prices/priceimport.h"
#include "prices/pricerefresh.h"
#include "sync/apikey.h"

#include <QCommandLineParser>
#include <QFile>
#include <QLocale>
#include <QSettings>
#include <QUrl>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace portal::sync {

namespace {

const QString kEnabledKey = QStringLiteral("jquants/sync");
const QString kPlanSetting = QStringLiteral("jquants/plan");
const QString kApiSetting = QStringLiteral("jquants/api");
const QString kRateSetting = QStringLiteral("jquants/rate");

std::atomic<bool> g_stop{false};

// The first Ctrl+C ends the run after the request under way, with the days so far stored; a
// second one ends the program at once (the store stays consistent either way).
void stopOnSignal(int) {
    g_stop.store(true);
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
}

QDate dateArgument(const QString& text) {
    const QDate iso = QDate::fromString(text, Qt::ISODate);
    return iso.isValid() ? iso : QDate::fromString(text, QStringLiteral("yyyyMMdd"));
}

QString duration(qint64 ms) {
    const qint64 minutes = (ms + 59999) / 60000;
    if (minutes < 60)
        return QStringLiteral("%1分").arg(minutes);
    return QStringLiteral("%1時間%2分").arg(minutes / 60).arg(minutes % 60);
}

QString planOptionHelp() {
    return QStringLiteral("J-Quants plan: free, light, standard or premium.");
}

// The plan of --plan where given; false, with why on err, for a plan there is none of.
bool planGiven(const QCommandLineParser& parser, const QCommandLineOption& option, Plan& plan,
               QTextStream& err) {
    if (!parser.isSet(option))
        return true;
    const auto p = planFromText(parser.value(option));
    if (!p) {
        err << QStringLiteral("--plan は free、light、standard、premium のどれかです") << Qt::endl;
        return false;
    }
    plan = *p;
    return true;
}

} // namespace

SyncSettings readSyncSettings(const QString& dataDir) {
    const QSettings config(configurationPath(dataDir), QSettings::IniFormat);
    SyncSettings s;
    s.enabled = config.value(kEnabledKey)
                    .toString()
                    .trimmed()
                    .compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
    s.plan = planFromText(config.value(kPlanSetting).toString()).value_or(Plan::Free);
    s.rate = std::max(0, config.value(kRateSetting).toInt());
    const QString api = config.value(kApiSetting).toString().trimmed();
    if (!api.isEmpty())
        s.apiBase = api;
    return s;
}

bool enableSync(const QString& dataDir, Plan plan) {
    QSettings config(configurationPath(dataDir), QSettings::IniFormat);
    config.setValue(kEnabledKey, QStringLiteral("true"));
    config.setValue(kPlanSetting, planKey(plan));
    config.sync();
    return config.status() == QSettings::NoError;
}

QString serviceTitle(const QString& planKeyText) {
    const Plan plan = planFromText(planKeyText).value_or(Plan::Free);
    return plan == Plan::Free ? QStringLiteral("J-Quants（Free：12週遅れ）")
                              : QStringLiteral("J-Quants（%1）").arg(planTitle(plan));
}

int runSync(const QStringList& args, const QString& programDir, QTextStream& out,
            QTextStream& err) {
    QCommandLineParser parser;
    const QCommandLineOption plan(QStringLiteral("plan"), planOptionHelp(), QStringLiteral("plan"));
    const QCommandLineOption rate(QStringLiteral("rate"),
                                  QStringLiteral("Requests per minute, instead of the plan's."),
                                  QStringLiteral("n"));
    const QCommandLineOption from(QStringLiteral("from"), QStringLiteral("First day."),
                                  QStringLiteral("yyyy-mm-dd"));
    const QCommandLineOption to(QStringLiteral("to"), QStringLiteral("Last day."),
                                QStringLiteral("yyyy-mm-dd"));
    const QCommandLineOption api(
        QStringLiteral("api-base"),
        QStringLiteral("Service address (default %1).").arg(QString::fromLatin1(kDefaultApiBase)),
        QStringLiteral("url"));
    parser.addOptions({dataFolderOption(), plan, rate, from, to, api});
    const QString usage = QStringLiteral("使い方: quote-portal sync [--data DIR] [--plan "
                                         "free|light|standard|premium] [--rate N] "
                                         "[--from YYYY-MM-DD] [--to YYYY-MM-DD] [--api-base URL]");
    if (!parseCommand(parser, QStringLiteral("quote-portal sync"), args, usage, err))
        return 2;
    if (!parser.positionalArguments().isEmpty()) {
        err << usage << Qt::endl;
        return 2;
    }
    SyncOptions options;
    options.dataDir = dataFolderFrom(parser, programDir);
    const SyncSettings settings = readSyncSettings(options.dataDir);
    options.plan = settings.plan;
    options.apiBase = settings.apiBase;
    options.rate = settings.rate;
    if (!planGiven(parser, plan, options.plan, err))
        return 2;
    if (parser.isSet(rate)) {
        bool ok = false;
        options.rate = parser.value(rate).toInt(&ok);
        if (!ok || options.rate <= 0 || options.rate > 100000) {
            err << QStringLiteral("--rate は 1 分あたりのリクエスト数（1 以上）です") << Qt::endl;
            return 2;
        }
    }
    for (const auto& [option, date] : {std::pair{&from, &options.from}, {&to, &options.to}}) {
        if (!parser.isSet(*option))
            continue;
        *date = dateArgument(parser.value(*option));
        if (!date->isValid()) {
            err << QStringLiteral("--%1 は YYYY-MM-DD の日付です").arg(option->names().first())
                << Qt::endl;
            return 2;
        }
    }
    if (parser.isSet(api))
        options.apiBase = parser.value(api);
    const QUrl base(options.apiBase);
    if (!base.isValid() ||
        (base.scheme() != QLatin1String("https") && base.scheme() != QLatin1String("http")) ||
        base.host().isEmpty()) {
        err << QStringLiteral("--api-base は http または https のアドレスです") << Qt::endl;
        return 2;
    }
    const KeyLookup key = findKey();
    if (key.key.isEmpty()) {
        err << (key.error.isEmpty()
                    ? QStringLiteral("J-Quants の API キーがありません。quote-portal key set で"
                                     "設定するか、環境変数 JQUANTS_API_KEY に入れてください")
                    : key.error)
            << Qt::endl;
        return 2;
    }
    options.key = key.key;
    options.stop = &g_stop;
    g_stop.store(false);
    std::signal(SIGINT, stopOnSignal);
    std::signal(SIGTERM, stopOnSignal);

    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    static const QLocale english(QLocale::English);
    PriceSync sync(options);
    sync.onNote = [&](const QString& text) {
        if (terminal)
            out << QStringLiteral("\r\x1b[K");
        out << text << Qt::endl;
    };
    sync.onDay = [&](const DayReport& d) {
        const QString state = d.stored ? QStringLiteral("%1 銘柄").arg(english.toString(d.codes))
                                       : QStringLiteral("未取得（%1）").arg(d.why);
        if (terminal) {
            out << QStringLiteral("\r\x1b[K同期 %1/%2 日（残り %3 日） %4 回/分 残り約 %5  %6 %7")
                       .arg(d.done)
                       .arg(d.total)
                       .arg(d.total - d.done)
                       .arg(d.perMinute)
                       .arg(duration(d.leftMs), d.day.toString(QStringLiteral("yyyy/MM/dd")), state)
                << Qt::flush;
        } else {
            out << QStringLiteral("%1 %2/%3 %4")
                       .arg(d.day.toString(QStringLiteral("yyyy/MM/dd")))
                       .arg(d.done)
                       .arg(d.total)
                       .arg(state)
                << Qt::endl;
        }
    };
    const SyncResult r = sync.run();
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    if (terminal)
        out << QStringLiteral("\r\x1b[K");
    out << QStringLiteral("保存 %1 日、失敗 %2 日、未配信 %3 日、リクエスト %4 回")
               .arg(r.daysStored)
               .arg(r.daysFailed)
               .arg(r.daysPending)
               .arg(r.requests);
    if (r.skippedRecords > 0)
        out << QStringLiteral("、対象外の銘柄（優先株など）%1 件").arg(r.skippedRecords);
    out << Qt::endl;
    if (!r.message.isEmpty())
        err << r.message << Qt::endl;
    switch (r.outcome) {
    case SyncResult::Done:
        return 0;
    case SyncResult::Busy:
        return 3;
    case SyncResult::Stopped:
        err << QStringLiteral("中断しました。次の同期は続きから始まります") << Qt::endl;
        return 1;
    default:
        return 1;
    }
}

int runKey(const QStringList& args, const QString& programDir, QTextStream& out, QTextStream& err) {
    QCommandLineParser parser;
    const QCommandLineOption plan(QStringLiteral("plan"), planOptionHelp(), QStringLiteral("plan"));
    parser.addOptions({dataFolderOption(), plan});
    const QString usage =
        QStringLiteral("使い方: quote-portal key set [--data DIR] [--plan PLAN] < キーのファイル");
    if (!parseCommand(parser, QStringLiteral("quote-portal key"), args, usage, err))
        return 2;
    if (parser.positionalArguments() != QStringList{QStringLiteral("set")}) {
        err << usage << Qt::endl;
        return 2;
    }
    const QString dataDir = dataFolderFrom(parser, programDir);
    Plan chosen = readSyncSettings(dataDir).plan;
    if (!planGiven(parser, plan, chosen, err))
        return 2;

    // Typed at a terminal, the key is not echoed.
    const bool terminal = ::isatty(STDIN_FILENO) == 1;
    termios saved{};
    if (terminal) {
        err << QStringLiteral("J-Quants の API キーを入力してください: ") << Qt::flush;
        if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
    }
    QFile in;
    QByteArray line;
    if (in.open(stdin, QIODevice::ReadOnly))
        line = in.readLine(8192);
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        err << Qt::endl;
    }
    const QByteArray key = cleanKey(line);
    if (key.isEmpty()) {
        err << QStringLiteral("API キーが読めません。標準入力から 1 行で渡してください")
            << Qt::endl;
        return 2;
    }
    const QString path = keyFilePath();
    if (const QString why = writeKeyFile(key, path); !why.isEmpty()) {
        err << QStringLiteral("API キーを保存できません: ") << why << Qt::endl;
        return 1;
    }
    if (!enableSync(dataDir, chosen)) {
        err << QStringLiteral("%1 に書けません").arg(configurationPath(dataDir)) << Qt::endl;
        return 1;
    }
    out << QStringLiteral("API キーを %1 に保存しました（持ち主だけが読めます）。"
                          "quote-portal sync で株価を取り込めます（プラン: %2）")
               .arg(path, planTitle(chosen))
        << Qt::endl;
    return 0;
}

int runStatus(const QStringList& args, const QString& programDir, QTextStream& out,
              QTextStream& err) {
    QCommandLineParser parser;
    parser.addOptions({dataFolderOption()});
    if (!parseCommand(parser, QStringLiteral("quote-portal status"), args,
                      QStringLiteral("使い方: quote-portal status [--data DIR]"), err))
        return 2;
    const QString dataDir = dataFolderFrom(parser, programDir);
    QString error;
    const auto store = openDataStore(dataDir, &error, &err);
    if (!store) {
        err << error << Qt::endl;
        return 2;
    }
    static const QLocale english(QLocale::English);
    int real = 0;
    QDate newest;
    QStringList parts;
    for (const auto& k : store->kinds()) {
        real += k.codes;
        if (k.newest.isValid() && (!newest.isValid() || k.newest > newest))
            newest = k.newest;
        const QString kind = k.kind == QLatin1String("jquants") ? QStringLiteral("J-Quants")
                             : k.kind.isEmpty()                 ? QStringLiteral("不明")
                                                                : QStringLiteral("取込");
        parts.append(QStringLiteral("%1 %2").arg(kind, english.toString(k.codes)));
    }
    const SyncState sync =
        syncState(dataDir, [&store](const QString& key) { return store->state(key); });
    out << QStringLiteral("価格データベース: %1").arg(store->path()) << Qt::endl;
    out << QStringLiteral("実際の株価のある銘柄: %1").arg(english.toString(real));
    if (!parts.isEmpty())
        out << QStringLiteral("（%1）").arg(parts.join(QStringLiteral("、")));
    out << Qt::endl;
    out << QStringLiteral("最新の日: %1")
               .arg(newest.isValid() ? newest.toString(QStringLiteral("yyyy/MM/dd"))
                                     : QStringLiteral("なし"))
        << Qt::endl;
    if (sync.lastRun.isEmpty()) {
        out << QStringLiteral("最後の同期: まだありません") << Qt::endl;
    } else {
        out << QStringLiteral("最後の同期: %1 %2 %3")
                   .arg(sync.lastRun, serviceTitle(sync.plan), sync.lastResult)
            << Qt::endl;
    }
    if (sync.running)
        out << sync.runningText() << Qt::endl;
    const SyncSettings settings = readSyncSettings(dataDir);
    out << QStringLiteral("ポータルの自動同期: %1")
               .arg(settings.enabled ? QStringLiteral("する（%1）").arg(planTitle(settings.plan))
                                     : QStringLiteral("しない"))
        << Qt::endl;
    return 0;
}

} // namespace portal::sync
