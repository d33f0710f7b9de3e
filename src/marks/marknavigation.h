#pragma once

namespace marks {

// Position arithmetic of stepping through the marks; n is the mark string's length / 5.
// Forward: position + 1, back to 1 once it reaches n + 1 or more.
int advancePosition(int position, double n);
// Backward: position - 1; below 0 becomes 1; 0 becomes n rounded to the nearest whole number.
int stepBackPosition(int position, double n);

} // namespace marks
