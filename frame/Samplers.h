// Pixel samplers of the inverse-mapping effects: bilinear interpolation on a table of working
// rows (no rounding, clamped at the table's edges, extrapolating between -1 and 0), linear
// interpolation along one row, and the rotation of a ring of rows into a view.
#pragma once

#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "frame/Frame.h"

namespace fx {

// Coordinates beyond this magnitude clamp to the table's edge rows and columns exactly as the
// literal arithmetic would; limiting them keeps the integer conversions defined.
inline constexpr double kSampleCoordinateLimit = 1073741824.0;

inline double LimitCoordinate(double v) {
  if (v >= -kSampleCoordinateLimit && v <= kSampleCoordinateLimit) return v;
  return v > 0 ? kSampleCoordinateLimit : -kSampleCoordinateLimit;  // NaN goes low
}

// Clamps a source coordinate into [lo, hi - 1]: the edge pixels stand in for positions outside.
inline double ClampToSpan(double v, int32_t lo, int32_t hi) {
  if (v >= hi) return hi - 1;
  if (v < lo) return lo;
  return v;
}

#if defined(__SSE2__)
// The first three samples of four pixels as 32-bit lanes (the fourth lane 0).
inline __m128i ThreeSamples(const uint8_t* p) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i bytes = _mm_cvtsi32_si128(static_cast<int32_t>(p[0] | p[1] << 8 | p[2] << 16));
  return _mm_unpacklo_epi16(_mm_unpacklo_epi8(bytes, zero), zero);
}
inline __m128i ThreeSamples(const uint16_t* p) {
  const __m128i two = _mm_cvtsi32_si128(static_cast<int32_t>(p[0] | uint32_t{p[1]} << 16));
  return _mm_unpacklo_epi16(_mm_insert_epi16(two, p[2], 2), _mm_setzero_si128());
}

// The bilinear blend of three samples, two lanes of doubles at a time: each lane makes the same
// IEEE operations in the same order as the one-sample formula of BilinearSampleOf, so the bits
// are the same; the differences are formed in 32-bit integers as there.
template <class T>
inline void Bilinear3(const T* q00, const T* q01, const T* q10, const T* q11, double fx, double fy,
                      T* out) {
  const __m128i i00 = ThreeSamples(q00), i01 = ThreeSamples(q01);
  const __m128i i10 = ThreeSamples(q10), i11 = ThreeSamples(q11);
  const __m128i e1 = _mm_sub_epi32(i01, i00), e2 = _mm_sub_epi32(i10, i00);
  const __m128i e3 = _mm_sub_epi32(_mm_sub_epi32(_mm_add_epi32(i00, i11), i01), i10);
  const __m128d vx = _mm_set1_pd(fx), vy = _mm_set1_pd(fy);
  auto blend = [&](__m128i p00, __m128i d1, __m128i d2, __m128i d3) {
    const __m128d a = _mm_add_pd(_mm_cvtepi32_pd(p00), _mm_mul_pd(_mm_cvtepi32_pd(d1), vx));
    const __m128d b = _mm_add_pd(a, _mm_mul_pd(_mm_cvtepi32_pd(d2), vy));
    return _mm_cvttpd_epi32(_mm_add_pd(b, _mm_mul_pd(_mm_mul_pd(_mm_cvtepi32_pd(d3), vx), vy)));
  };
  const __m128i low = blend(i00, e1, e2, e3);
  const __m128i high = blend(_mm_shuffle_epi32(i00, 0xEE), _mm_shuffle_epi32(e1, 0xEE),
                             _mm_shuffle_epi32(e2, 0xEE), _mm_shuffle_epi32(e3, 0xEE));
  const __m128i t = _mm_unpacklo_epi64(low, high);  // lanes 0, 1, 2 (and 3)
  if constexpr (sizeof(T) == 1) {
    // Saturating packs clamp to 0 .. 255 exactly as the one-sample clamp does.
    const uint32_t packed = static_cast<uint32_t>(
        _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(t, t), _mm_setzero_si128())));
    out[0] = static_cast<T>(packed);
    out[1] = static_cast<T>(packed >> 8);
    out[2] = static_cast<T>(packed >> 16);
  } else {
    // Clamped to 0 .. 65535 by a signed saturating pack around the middle of the range.
    const __m128i middle = _mm_set1_epi32(32768);
    const __m128i words = _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(t, middle), t),
                                        _mm_set1_epi16(static_cast<int16_t>(0x8000)));
    const auto packed = static_cast<uint64_t>(_mm_cvtsi128_si64(words));
    out[0] = static_cast<T>(packed);
    out[1] = static_cast<T>(packed >> 16);
    out[2] = static_cast<T>(packed >> 32);
  }
}
#endif

// The bilinear sample at (x, y) for pixels of `Step` samples (1: gray, 3 or 4: colour, the
// first three interpolated; 0: `step` samples, known at run time), coordinates already within
// ±kSampleCoordinateLimit.
template <class T, int Step>
inline void BilinearSampleOf(T* const* rows, double x, double y, int32_t rowCount, int32_t width,
                             T* out, int32_t step = Step) {
  int32_t iy = static_cast<int32_t>(y), ix = static_cast<int32_t>(x);
  const double fy = y - iy, fx = x - ix;
  int32_t iy1 = iy + 1, ix1 = ix + 1;
  if (iy1 <= 0)
    iy = iy1 = 0;
  else if (iy1 >= rowCount)
    iy = iy1 = rowCount - 1;
  if (ix1 >= width)
    ix = ix1 = width - 1;
  else if (ix1 <= 0)
    ix = ix1 = 0;
  const T* row0 = rows[iy];
  const T* row1 = rows[iy1];
  const int32_t pixelStep = Step ? Step : step;
  const int32_t count = pixelStep == 1 ? 1 : 3;
  const int32_t a = ix * pixelStep, b = ix1 * pixelStep;
#if defined(__SSE2__)
  if (count == 3) {
    Bilinear3(row0 + a, row0 + b, row1 + a, row1 + b, fx, fy, out);
    return;
  }
#endif
  for (int32_t k = 0; k < count; ++k) {
    const int32_t p00 = row0[a + k], p01 = row0[b + k];
    const int32_t p10 = row1[a + k], p11 = row1[b + k];
    const int32_t d1 = p01 - p00, d2 = p10 - p00, d3 = p00 + p11 - p01 - p10;
    const double v = ((p00 + d1 * fx) + d2 * fy) + (d3 * fx) * fy;
    int32_t value = static_cast<int32_t>(v);
    if (value < 0) value = 0;
    if (value > SampleTraits<T>::kMax) value = SampleTraits<T>::kMax;
    out[k] = static_cast<T>(value);
  }
}

// The bilinear sample at (x, y): x in pixels of the row, y an index into `rows`. Writes the
// first sample of a one-sample pixel, else the first three; a fourth sample is left alone.
template <class T>
inline void BilinearSample(T* const* rows, double x, double y, int32_t rowCount, int32_t pixelStep,
                           int32_t width, T* out) {
  x = LimitCoordinate(x);
  y = LimitCoordinate(y);
  if (pixelStep == 3)
    BilinearSampleOf<T, 3>(rows, x, y, rowCount, width, out);
  else if (pixelStep == 1)
    BilinearSampleOf<T, 1>(rows, x, y, rowCount, width, out);
  else if (pixelStep == 4)
    BilinearSampleOf<T, 4>(rows, x, y, rowCount, width, out);
  else
    BilinearSampleOf<T, 0>(rows, x, y, rowCount, width, out, pixelStep);
}

void BilinearSample8(uint8_t* const* rows, double x, double y, int32_t rowCount, int32_t pixelStep,
                     int32_t width, uint8_t* out);
void BilinearSample16(uint16_t* const* rows, double x, double y, int32_t rowCount,
                      int32_t pixelStep, int32_t width, uint16_t* out);

// The linear sample at column x of one row: the pixel at trunc(x) and its right neighbour
// (clamped to the last pixel), weighted by the fraction, truncated and clamped to the sample
// range. Writes the first sample of a one-sample pixel, else the first three.
// Positions at or before -1 (and NaN) take the first pixel and positions past the last pixel
// take the last one; inside the row the result is that of the plain arithmetic.
template <class T>
inline void LinearSample(const T* row, double x, int32_t pixelStep, int32_t width, T* out) {
  if (!(x > -1.0))
    x = 0.0;
  else if (x > width - 1)
    x = width - 1;
  const int32_t ix = static_cast<int32_t>(x);
  const double fx = x - ix;
  int32_t ix1 = ix + 1;
  if (ix1 >= width) ix1 = width - 1;
  const int32_t count = pixelStep == 1 ? 1 : 3;
  const int32_t a = pixelStep == 1 ? ix : ix * pixelStep;
  const int32_t b = pixelStep == 1 ? ix1 : ix1 * pixelStep;
  for (int32_t k = 0; k < count; ++k) {
    const int32_t p0 = row[a + k], p1 = row[b + k];
    const double v = p0 + (p1 - p0) * fx;
    int32_t value = static_cast<int32_t>(v);
    if (value < 0) value = 0;
    if (value > SampleTraits<T>::kMax) value = SampleTraits<T>::kMax;
    out[k] = static_cast<T>(value);
  }
}

void LinearSample8(const uint8_t* row, double x, int32_t pixelStep, int32_t width, uint8_t* out);
void LinearSample16(const uint16_t* row, double x, int32_t pixelStep, int32_t width, uint16_t* out);

// view[i] = ring[(i + start) mod count], start in 0 .. count - 1.
template <class P>
inline void RotateRowWindow(P* const* ring, P** view, int32_t count, int32_t start) {
  for (int32_t i = 0; i < count; ++i) {
    int32_t j = i + start;
    if (j >= count) j -= count;
    view[i] = ring[j];
  }
}

}  // namespace fx
