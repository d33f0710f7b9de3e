#include "bench.h"

#include <QApplication>

#include <cstdio>
#include <map>
#include <string>

namespace {
std::map<std::string, std::function<void()>>& registry() {
    static std::map<std::string, std::function<void()>> r;
    return r;
}
} // namespace

BenchRegistrar::BenchRegistrar(const char* name, std::function<void()> run) {
    registry()[name] = std::move(run);
}

void report(const QString& figure, double value, const QString& unit, double floor) {
    if (floor > 0.0)
        std::printf("%s: %.3f %s (%.2f x floor %.3f %s)\n", qPrintable(figure), value,
                    qPrintable(unit), value / floor, floor, qPrintable(unit));
    else
        std::printf("%s: %.3f %s\n", qPrintable(figure), value, qPrintable(unit));
    std::fflush(stdout);
}

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM",
            qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QApplication app(argc, argv);
    const QStringList wanted = app.arguments().mid(1);
    for (const auto& [name, run] : registry()) {
        if (wanted.isEmpty() || wanted.contains(QString::fromStdString(name))) {
            std::printf("== %s\n", name.c_str());
            run();
        }
    }
    return 0;
}
