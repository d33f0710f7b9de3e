#pragma once

#include <QElapsedTimer>

#include <algorithm>
#include <functional>
#include <vector>

// Milliseconds per call, over enough calls to last about a second (at least `minRuns`); the first
// call only warms caches, fonts and lookups and is not counted.
inline double msPerCall(const std::function<void()>& f, int minRuns = 20) {
    f();
    QElapsedTimer t;
    t.start();
    int runs = 0;
    while (runs < minRuns || t.elapsed() < 1000) {
        f();
        ++runs;
    }
    return double(t.nsecsElapsed()) / 1e6 / runs;
}

// The middle value; the upper one of the two middle values of an even count.
inline double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
