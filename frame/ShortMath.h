// Row-wide arithmetic for the short paths (Samplers.h). SinCosRow is cheaper than libm's sincos
// and within a stated bound of the exact values, which is all a short path needs, since it bounds
// its errors and leaves every pixel the bound cannot decide to the literal arithmetic; it is never
// used where a value must equal the literal one. SqrtRow gives exact square roots.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace fx {

// For |t| <= kSinCosReach, SinCosRow's results lie within kSinCosError of sin t and cos t:
// the reduction t - k pi/2 (pi/2 in three parts, the first two of 32 bits, so k times them is
// exact for |k| < 2^21) errs by a few units of the last place of a value below 0.8, the Taylor
// series to r^15 and r^16 leave less than 5e-17 on |r| <= pi/4, and their evaluation rounds
// by a few units of the last place of a value below 1: under 2e-15 together; the bound allows
// five times that. Larger and non-finite arguments go to libm.
inline constexpr double kSinCosReach = 0x1p20;
inline constexpr double kSinCosError = 1e-14;

namespace shortmath {

inline constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
inline constexpr double kHalfPi1 = 0x1.921fb54400000p+0;
inline constexpr double kHalfPi2 = 0x1.0b4611a600000p-34;
inline constexpr double kHalfPi3 = 0x1.3198a2e037073p-69;
// Adding and subtracting 1.5 x 2^52 rounds a double below 2^51 to the nearest integer.
inline constexpr double kRoundToInteger = 0x1.8p52;

// Taylor coefficients: sin r = r + r³ (S1 + r² (S2 + ...)), cos r = 1 - r²/2 + r⁴ (C2 + ...).
inline constexpr double kS[] = {
    -1.0 / 6,        1.0 / 120,        -1.0 / 5040,         1.0 / 362880,
    -1.0 / 39916800, 1.0 / 6227020800, -1.0 / 1307674368000};
inline constexpr double kC[] = {
    1.0 / 24,        -1.0 / 720,         1.0 / 40320,         -1.0 / 3628800,
    1.0 / 479001600, -1.0 / 87178291200, 1.0 / 20922789888000};

}  // namespace shortmath

// v[i] = sqrt(v[i]) for i < n, two lanes at a time: the bits of std::sqrt (both are correctly
// rounded), so unlike the rest of this file it may serve the literal arithmetic too.
inline void SqrtRow(double* v, int32_t n) {
  int32_t i = 0;
#if defined(__SSE2__)
  for (; i + 2 <= n; i += 2) _mm_storeu_pd(v + i, _mm_sqrt_pd(_mm_loadu_pd(v + i)));
#endif
  for (; i < n; ++i) v[i] = std::sqrt(v[i]);
}

namespace shortmath {

// Vectors of N doubles and of N 64-bit integers (lane masks, bit patterns).
template <int N>
using Doubles [[gnu::vector_size(8 * N)]] = double;
template <int N>
using Integers [[gnu::vector_size(8 * N)]] = int64_t;

// s[i], c[i] = sin and cos of t[i] for i < N, every t[i] within reach; every lane makes the same
// IEEE operations in the same order whatever N is, so the bits do not depend on it.
template <int N>
[[gnu::always_inline]] inline void SinCosLanes(const double* t, double* s, double* c) {
  using D = Doubles<N>;
  using I = Integers<N>;
  D x;
  std::memcpy(&x, t, sizeof x);
  const D m = x * kTwoOverPi + kRoundToInteger;
  const D k = m - kRoundToInteger;
  D r = x - k * kHalfPi1;
  r = r - k * kHalfPi2;
  r = r - k * kHalfPi3;
  const D r2 = r * r;
  D ps = D{} + kS[6], pc = D{} + kC[6];
  for (int32_t j = 5; j >= 0; --j) {
    ps = kS[j] + r2 * ps;
    pc = kC[j] + r2 * pc;
  }
  const D sr = r + (r * r2) * ps;
  const D cr = (1.0 - r2 * 0.5) + (r2 * r2) * pc;
  // Quadrant q = k mod 4, the low bits of m's significand: (sin, cos) = (s, c), (c, -s),
  // (-s, -c), (-c, s).
  const I q = (I)m;
  const I swap = (q & 1) != 0;
  const I sign = I{} + INT64_MIN;
  const I negSin = ((q & 2) != 0) & sign, negCos = (((q + 1) & 2) != 0) & sign;
  const I si = (I)sr, ci = (I)cr;
  const I sinBits = ((ci & swap) | (si & ~swap)) ^ negSin;
  const I cosBits = ((si & swap) | (ci & ~swap)) ^ negCos;
  const D sine = (D)sinBits, cosine = (D)cosBits;
  std::memcpy(s, &sine, sizeof sine);
  std::memcpy(c, &cosine, sizeof cosine);
}

// SinCosRow N values at a time over the first n values but a remainder below N; a group with a
// value beyond the reach (or NaN) goes to libm. Returns the number of values done.
template <int N>
[[gnu::always_inline]] inline int32_t SinCosGroups(const double* t, double* s, double* c,
                                                   int32_t n) {
  int32_t i = 0;
  for (; i + N <= n; i += N) {
    bool within = true;
    for (int32_t j = 0; j < N; ++j) within &= std::abs(t[i + j]) <= kSinCosReach;
    if (within) {
      SinCosLanes<N>(t + i, s + i, c + i);
      continue;
    }
    for (int32_t j = 0; j < N; ++j) ::sincos(t[i + j], &s[i + j], &c[i + j]);
  }
  return i;
}

// SinCosGroups<4> for processors with AVX2 (ShortMath.cpp).
int32_t SinCosGroupsOfFour(const double* t, double* s, double* c, int32_t n);

}  // namespace shortmath

// s[i], c[i] = sin t[i], cos t[i] within kSinCosError, for i < n: four lanes at a time where the
// processor has AVX2, else two; the bits are the same either way.
inline void SinCosRow(const double* t, double* s, double* c, int32_t n) {
  int32_t i = 0;
#if defined(__x86_64__)
  static const bool four = __builtin_cpu_supports("avx2");
  if (four) i = shortmath::SinCosGroupsOfFour(t, s, c, n);
#endif
  i += shortmath::SinCosGroups<2>(t + i, s + i, c + i, n - i);
  for (; i < n; ++i) ::sincos(t[i], &s[i], &c[i]);
}

}  // namespace fx
