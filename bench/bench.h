#pragma once

#include <QString>

#include <functional>

// A benchmark registers itself with a name; quorvix-bench runs them all (or the ones named on
// its command line) and each prints its own lines through report().
struct BenchRegistrar {
    BenchRegistrar(const char* name, std::function<void()> run);
};

// "name: value unit (ratio x floor)" on standard output, one figure per line.
void report(const QString& figure, double value, const QString& unit, double floor = 0.0);
