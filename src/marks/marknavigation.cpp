#include "marknavigation.h"

#include <cmath>

namespace marks {

int advancePosition(int position, double n) {
    const int next = position + 1;
    if (next >= n + 1.0)
        return 1;
    return next;
}

int stepBackPosition(int position, double n) {
    int previous = position - 1;
    if (previous < 0)
        previous = 1;
    // n is length / 5, so its fraction is a multiple of 0.2 and never exactly one half: every
    // rounding rule gives the same last mark.
    if (previous == 0)
        previous = static_cast<int>(std::lround(n));
    return previous;
}

} // namespace marks
