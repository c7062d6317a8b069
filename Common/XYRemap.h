// The displacement profile of the caller-drawn bends (free plane bend, free radial bend): a curve
// of integer values in thousandths, stretched over n positions with linear interpolation and
// scaled by an amount in pixels.
#pragma once

#include <cstdint>

namespace fx {

// table[i] for i = 0 .. n - 1 (n >= 2): the curve read at p = i / (n - 1) × (curveCount - 1),
// interpolated between entries trunc(p) and the next one (the last entry stands in beyond the
// end), divided by 1000.0, then multiplied by amount. curveCount is 1 .. 2^31 - 1.
void ResampleCurve(const int32_t* curve, int32_t curveCount, uint32_t amount, double* table,
                   int32_t n);

}  // namespace fx
