// Row-wide arithmetic for the short paths (Samplers.h). SinCosRow is cheaper than libm's sincos
// and within a stated bound of the exact values, which is all a short path needs, since it bounds
// its errors and leaves every pixel the bound cannot decide to the literal arithmetic; it is never
// used where a value must equal the literal one. SqrtRow gives exact square roots.
#pragma once

#include <cmath>
#include <cstdint>

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

// s[i], c[i] = sin t[i], cos t[i] within kSinCosError, for i < n.
inline void SinCosRow(const double* t, double* s, double* c, int32_t n) {
  using namespace shortmath;
  int32_t i = 0;
#if defined(__SSE2__)
  const __m128d reach = _mm_set1_pd(kSinCosReach), sign = _mm_set1_pd(-0.0);
  for (; i + 2 <= n; i += 2) {
    const __m128d x = _mm_loadu_pd(t + i);
    // Both lanes within reach (NaN fails the test): the vector path; else libm for the pair.
    if (_mm_movemask_pd(_mm_cmple_pd(_mm_andnot_pd(sign, x), reach)) != 3) {
      ::sincos(t[i], &s[i], &c[i]);
      ::sincos(t[i + 1], &s[i + 1], &c[i + 1]);
      continue;
    }
    const __m128d magic = _mm_set1_pd(kRoundToInteger);
    const __m128d k = _mm_sub_pd(_mm_add_pd(_mm_mul_pd(x, _mm_set1_pd(kTwoOverPi)), magic), magic);
    __m128d r = _mm_sub_pd(x, _mm_mul_pd(k, _mm_set1_pd(kHalfPi1)));
    r = _mm_sub_pd(r, _mm_mul_pd(k, _mm_set1_pd(kHalfPi2)));
    r = _mm_sub_pd(r, _mm_mul_pd(k, _mm_set1_pd(kHalfPi3)));
    const __m128d r2 = _mm_mul_pd(r, r);
    __m128d ps = _mm_set1_pd(kS[6]), pc = _mm_set1_pd(kC[6]);
    for (int32_t j = 5; j >= 0; --j) {
      ps = _mm_add_pd(_mm_set1_pd(kS[j]), _mm_mul_pd(r2, ps));
      pc = _mm_add_pd(_mm_set1_pd(kC[j]), _mm_mul_pd(r2, pc));
    }
    const __m128d sr = _mm_add_pd(r, _mm_mul_pd(_mm_mul_pd(r, r2), ps));
    const __m128d cr = _mm_add_pd(_mm_sub_pd(_mm_set1_pd(1.0), _mm_mul_pd(r2, _mm_set1_pd(0.5))),
                                  _mm_mul_pd(_mm_mul_pd(r2, r2), pc));
    // Quadrant q = k mod 4: (sin, cos) = (s, c), (c, -s), (-s, -c), (-c, s).
    const __m128i q = _mm_cvtpd_epi32(k);  // 32-bit lanes 0 and 1
    const __m128i one = _mm_set1_epi32(1), two = _mm_set1_epi32(2);
    // A 32-bit mask per lane widened to the 64 bits of its double.
    auto wide = [](__m128i m) { return _mm_castsi128_pd(_mm_unpacklo_epi32(m, m)); };
    const __m128d swap = wide(_mm_cmpeq_epi32(_mm_and_si128(q, one), one));
    const __m128d negSin = _mm_and_pd(sign, wide(_mm_cmpeq_epi32(_mm_and_si128(q, two), two)));
    const __m128d negCos =
        _mm_and_pd(sign, wide(_mm_cmpeq_epi32(_mm_and_si128(_mm_add_epi32(q, one), two), two)));
    const __m128d sinValue = _mm_or_pd(_mm_and_pd(swap, cr), _mm_andnot_pd(swap, sr));
    const __m128d cosValue = _mm_or_pd(_mm_and_pd(swap, sr), _mm_andnot_pd(swap, cr));
    _mm_storeu_pd(s + i, _mm_xor_pd(sinValue, negSin));
    _mm_storeu_pd(c + i, _mm_xor_pd(cosValue, negCos));
  }
#endif
  for (; i < n; ++i) ::sincos(t[i], &s[i], &c[i]);
}

}  // namespace fx
