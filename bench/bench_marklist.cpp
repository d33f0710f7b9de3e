// The mark list of a full watch list: 6,553 marks, their rows looked up in the shipped code
// list, against the floor of reading the code-list file once.

#include "bench.h"

#include "marks/codelist.h"
#include "marks/markstring.h"
#include "timing.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int kMarks = 6553;
constexpr int kRuns = 25;

// 6,553 distinct codes spread evenly over 1000..9999: listed codes and unlisted ones mixed, as a
// list built by stepping would hold.
marks::MarkString spreadMarks() {
    marks::MarkString m;
    for (int i = 0; i < kMarks; ++i)
        m.append(QString::number(1000 + static_cast<int>(qint64(i) * 9000 / kMarks)));
    return m;
}

void run() {
    const QString path = QCoreApplication::applicationDirPath() + QLatin1Char('/') +
                         QString::fromUtf8(marks::CodeList::kFileName);
    if (!QFile::exists(path)) {
        std::printf("code list not found beside the program: %s\n", qPrintable(path));
        return;
    }
    const marks::MarkString marks = spreadMarks();

    std::vector<double> floorMs;
    std::vector<double> listMs;
    std::vector<double> loadMs;
    qsizetype sink = 0;
    int listed = 0;
    for (int r = 0; r < kRuns; ++r) {
        QElapsedTimer t;
        t.start();
        {
            QFile f(path);
            if (f.open(QIODevice::ReadOnly))
                sink += f.readAll().size();
        }
        floorMs.push_back(t.nsecsElapsed() / 1e6);

        t.start();
        sink += marks::CodeList::load(path).size();
        loadMs.push_back(t.nsecsElapsed() / 1e6);

        t.start();
        const marks::CodeList codes = marks::CodeList::load(path);
        const QStringList rows = marks::markListRows(marks, codes);
        listMs.push_back(t.nsecsElapsed() / 1e6);
        sink += rows.size();
        listed = static_cast<int>(std::count_if(rows.cbegin(), rows.cend(), [](const QString& row) {
            return !row.endsWith(QLatin1String(",????,????"));
        }));
    }
    std::printf("%d marks, %d of them in the code list (median of %d runs, sink %lld)\n",
                marks.rowCount(), listed, kRuns, static_cast<long long>(sink));
    const double floor = median(floorMs);
    report(QStringLiteral("code-list file read once"), floor, QStringLiteral("ms"));
    report(QStringLiteral("code list decoded and indexed"), median(loadMs), QStringLiteral("ms"),
           floor);
    report(QStringLiteral("mark list of 6553 marks (load + lookups)"), median(listMs),
           QStringLiteral("ms"), floor);
}

static BenchRegistrar reg("marklist", [] { run(); });

} // namespace
