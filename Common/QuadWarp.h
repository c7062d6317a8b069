// The exact weight total of the perspective box filter, shared with its tests.
#pragma once

#include <cstdint>

namespace fx {

// x + 1.0 added `count` times, each addition rounded as a loop rounds it, in O(log count) steps:
// inside one binade the additions are exact, so only the steps that cross a power of two are
// made one at a time. For 0 <= x and results below 2^52.
double AddOnesAsLoop(double x, int64_t count);

}  // namespace fx
