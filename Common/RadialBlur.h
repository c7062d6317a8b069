// Radial blur's sample angles and the short path's way to their sines and cosines, shared with
// its tests.
#pragma once

#include <cmath>
#include <cstdint>

#include "frame/Samplers.h"

namespace fx {

inline constexpr double kRadialPi = 3.1415926535;

// The literal start angle of a pixel at (dx, dy) with n samples: φ - a·n, with φ = atan2(dy, dx)
// plus 2π (as 2 · 3.1415926535) when negative. Sample k lies at start + (Θ / n)·k.
inline double RadialStart(double a, int32_t dx, int32_t dy, uint32_t n) {
  double phi = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
  if (phi < 0) phi += 2 * kRadialPi;
  return phi - a * n;
}

// The offsets of the n samples of a pixel from its own direction, (Θ / n)·k - a·n for k < n:
// their cosines into c[0 .. n) and sines into s[0 .. n).
inline void RadialOffsets(double theta, double a, uint32_t n, double* c, double* s) {
  const double step = theta / n, start = a * n;
  for (uint32_t k = 0; k < n; ++k) ::sincos(step * k - start, &s[k], &c[k]);
}

// The direction (dc, ds) = (dx, dy) / sqrt(dx² + dy²) turned by an offset with cosine oc and
// sine os: within RadialTurnError(dy) of libm's cosine and sine of the literal sample angle.
inline void RadialTurn(double dc, double ds, double oc, double os, double* c, double* s) {
  *c = dc * oc - ds * os;
  *s = ds * oc + dc * os;
}

// The turn's error: the direction and atan2 (kDirectionError), the roundings of the angle sums,
// the turn and the offsets' libm values (under 5e-15 together), and for dy < 0 the 1.8e-10 by
// which 2 · 3.1415926535 falls short of 2π.
inline double RadialTurnError(int32_t dy) {
  return 2 * kDirectionError + (dy < 0 ? 2e-10 : 0);
}

}  // namespace fx
