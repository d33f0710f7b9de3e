#pragma once

#include "sync/pricesync.h"

#include <QString>
#include <QStringList>
#include <QTextStream>

namespace portal::sync {

// The [jquants] group of the data folder's quote-portal.ini: whether the running portal keeps the
// store current, with which plan, at which rate (the plan's unless rate= says otherwise, as
// --rate does) and address (the service's own unless a test or a proxy says otherwise).
struct SyncSettings {
    bool enabled = false;
    Plan plan = Plan::Free;
    int rate = 0;
    QString apiBase = QString::fromLatin1(kDefaultApiBase);
};
SyncSettings readSyncSettings(const QString& dataDir);
// Turns the portal's sync on with the plan; the rest of the file stays as it is.
bool enableSync(const QString& dataDir, Plan plan);

// "J-Quants（Free：12週遅れ）", "J-Quants（Light）": where prices came from, as pages say it.
QString serviceTitle(const QString& planKeyText);

// `quote-portal sync [--data DIR] [--plan PLAN] [--rate N] [--from DATE] [--to DATE]
// [--api-base URL]`. Exit status 0 when every day is stored, 1 when some failed or the run was
// refused or stopped, 2 when it could not start (no key, bad arguments), 3 when another sync of
// the folder runs.
int runSync(const QStringList& args, const QString& programDir, QTextStream& out, QTextStream& err);

// `quote-portal key set [--data DIR] [--plan PLAN]`: the key from standard input.
int runKey(const QStringList& args, const QString& programDir, QTextStream& out, QTextStream& err);

// `quote-portal status [--data DIR]`: what the store holds and how the last sync went.
int runStatus(const QStringList& args, const QString& programDir, QTextStream& out,
              QTextStream& err);

} // namespace portal::sync
