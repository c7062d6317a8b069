// Pixel samplers of the inverse-mapping effects: bilinear interpolation on a table of working
// rows (no rounding, clamped at the table's edges, extrapolating between -1 and 0), linear
// interpolation along one row, and the rotation of a ring of rows into a view.
#pragma once

#include <cmath>
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

// The four pixels of a bilinear sample as 32-bit lanes of their first three samples: p00 and
// the differences d1 = p01 - p00, d2 = p10 - p00, d3 = p00 + p11 - p01 - p10.
struct Corners3 {
  __m128i p00, d1, d2, d3;
};

template <class T>
inline Corners3 CornersOf(const T* q00, const T* q01, const T* q10, const T* q11) {
  const __m128i i00 = ThreeSamples(q00), i01 = ThreeSamples(q01);
  const __m128i i10 = ThreeSamples(q10), i11 = ThreeSamples(q11);
  return {i00, _mm_sub_epi32(i01, i00), _mm_sub_epi32(i10, i00),
          _mm_sub_epi32(_mm_sub_epi32(_mm_add_epi32(i00, i11), i01), i10)};
}

// The blend ((p00 + d1 fx) + d2 fy) + (d3 fx) fy of lanes lo (0, 1) or hi (2, 3) as doubles.
inline __m128d Blend2(const Corners3& q, bool hi, __m128d vx, __m128d vy) {
  auto lanes = [hi](__m128i v) { return _mm_cvtepi32_pd(hi ? _mm_shuffle_epi32(v, 0xEE) : v); };
  const __m128d a = _mm_add_pd(lanes(q.p00), _mm_mul_pd(lanes(q.d1), vx));
  const __m128d b = _mm_add_pd(a, _mm_mul_pd(lanes(q.d2), vy));
  return _mm_add_pd(b, _mm_mul_pd(_mm_mul_pd(lanes(q.d3), vx), vy));
}

// Two pairs of blended lanes truncated, clamped to the sample range and packed: sample k in
// bits 8k (8-bit) or 16k (16-bit). Saturating packs clamp exactly as the one-sample clamp does.
template <class T>
inline uint64_t Pack3(__m128d low, __m128d high) {
  const __m128i t = _mm_unpacklo_epi64(_mm_cvttpd_epi32(low), _mm_cvttpd_epi32(high));
  if constexpr (sizeof(T) == 1) {
    return static_cast<uint32_t>(
        _mm_cvtsi128_si32(_mm_packus_epi16(_mm_packs_epi32(t, t), _mm_setzero_si128())));
  } else {
    // Clamped to 0 .. 65535 by a signed saturating pack around the middle of the range.
    const __m128i middle = _mm_set1_epi32(32768);
    const __m128i words = _mm_xor_si128(_mm_packs_epi32(_mm_sub_epi32(t, middle), t),
                                        _mm_set1_epi16(static_cast<int16_t>(0x8000)));
    return static_cast<uint64_t>(_mm_cvtsi128_si64(words));
  }
}

template <class T>
inline void StorePacked3(uint64_t packed, T* out) {
  constexpr int kBits = 8 * sizeof(T);
  out[0] = static_cast<T>(packed);
  out[1] = static_cast<T>(packed >> kBits);
  out[2] = static_cast<T>(packed >> (2 * kBits));
}

// The bilinear blend of three samples, two lanes of doubles at a time: each lane makes the same
// IEEE operations in the same order as the one-sample formula of BilinearSampleOf, so the bits
// are the same; the differences are formed in 32-bit integers as there.
template <class T>
inline void Bilinear3(const T* q00, const T* q01, const T* q10, const T* q11, double fx, double fy,
                      T* out) {
  const Corners3 q = CornersOf(q00, q01, q10, q11);
  const __m128d vx = _mm_set1_pd(fx), vy = _mm_set1_pd(fy);
  StorePacked3(Pack3<T>(Blend2(q, false, vx, vy), Blend2(q, true, vx, vy)), out);
}
#endif

// The four pixels a bilinear sample at (x, y) blends: the rows of trunc(y) and the next, the
// sample offsets of trunc(x) and the next (both clamped to the table), and the fractions.
template <class T>
struct BilinearCell {
  const T* row0;
  const T* row1;
  int32_t a, b;
  double fx, fy;
  BilinearCell(T* const* rows, double x, double y, int32_t rowCount, int32_t width,
               int32_t pixelStep) {
    int32_t iy = static_cast<int32_t>(y), ix = static_cast<int32_t>(x);
    fy = y - iy;
    fx = x - ix;
    int32_t iy1 = iy + 1, ix1 = ix + 1;
    if (iy1 <= 0)
      iy = iy1 = 0;
    else if (iy1 >= rowCount)
      iy = iy1 = rowCount - 1;
    if (ix1 >= width)
      ix = ix1 = width - 1;
    else if (ix1 <= 0)
      ix = ix1 = 0;
    row0 = rows[iy];
    row1 = rows[iy1];
    a = ix * pixelStep;
    b = ix1 * pixelStep;
  }
};

// The bilinear sample at (x, y) for pixels of `Step` samples (1: gray, 3 or 4: colour, the
// first three interpolated; 0: `step` samples, known at run time), coordinates already within
// ±kSampleCoordinateLimit.
template <class T, int Step>
inline void BilinearSampleOf(T* const* rows, double x, double y, int32_t rowCount, int32_t width,
                             T* out, int32_t step = Step) {
  const int32_t pixelStep = Step ? Step : step;
  const BilinearCell<T> c(rows, x, y, rowCount, width, pixelStep);
  const double fx = c.fx, fy = c.fy;
  const int32_t count = pixelStep == 1 ? 1 : 3;
#if defined(__SSE2__)
  if (count == 3) {
    Bilinear3(c.row0 + c.a, c.row0 + c.b, c.row1 + c.a, c.row1 + c.b, fx, fy, out);
    return;
  }
#endif
  for (int32_t k = 0; k < count; ++k) {
    const int32_t p00 = c.row0[c.a + k], p01 = c.row0[c.b + k];
    const int32_t p10 = c.row1[c.a + k], p11 = c.row1[c.b + k];
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

// Starts loading the cache line at p. Written as an instruction because the optimiser may
// drop the prefetch builtin as an operation without effect.
inline void PrefetchLine(const void* p) {
#if defined(__x86_64__) || defined(__i386__)
  asm volatile("prefetcht0 %0" : : "m"(*static_cast<const char*>(p)));
#else
  __builtin_prefetch(p);
#endif
}

// Short paths: an effect may compute a pixel's source position more cheaply than its literal
// arithmetic, bound the distance between the two, and keep the pixel only when every position
// within the bound gives the same output (below); the rest take the literal arithmetic.
//
// The relative rounding of one IEEE operation.
inline constexpr double kRoundingUnit = 0x1p-53;
// A bound on |cos(atan2(dy, dx)) - dx / r| and |sin(atan2(dy, dx)) - dy / r| for r = sqrt(dx² +
// dy²) and on the rounding of an angle below 8 plus a constant: atan2, sin and cos err by a
// unit or two in the last place (at most 2e-15 together here); the bound allows five times that.
inline constexpr double kDirectionError = 1e-14;

// How far the rim radius R = sqrt(a²c² + b²s²) of a direction (c, s) may move when c and s each
// move by up to kDirectionError, rounding of both evaluations included, for R >= 1:
// EllipseSpreadFrom(EllipseRimSpread(a², b²), R). |a²(c'² - c²) + b²(s'² - s²)| <=
// 2 kDirectionError (a²|c| + b²|s|) + kDirectionError² (a² + b²), and (a²|c| + b²|s|)² <=
// (a² + b²) R² (Cauchy-Schwarz), divided by R' + R >= R. The rim part does not depend on R:
// callers take it once per call.
inline double EllipseRimSpread(double a2, double b2) {
  return 2 * kDirectionError * std::sqrt(a2 + b2) + kDirectionError * kDirectionError * (a2 + b2);
}
inline double EllipseSpreadFrom(double rimSpread, double R) {
  return rimSpread + 16 * kRoundingUnit * R;
}

// The distances |d| of the offsets d in [left, right] (left <= right): [*first, *last], at most
// right - left + 1 of them. Rows that mirror pixels about the centre column take their shared
// values once per distance.
inline void DistanceRange(int32_t left, int32_t right, int32_t* first, int32_t* last) {
  *first = left > 0 ? left : (right < 0 ? -right : 0);
  *last = left > 0 ? right : (right < 0 ? -left : (-left > right ? -left : right));
}

// Starts loading the two rows a bilinear sample near (x, y) reads, x clamped into
// [left, right - 1] and y into the table as the samplers clamp; nothing for NaN.
template <class T>
inline void PrefetchSample(T* const* rows, double x, double y, int32_t left, int32_t right,
                           int32_t rowCount, int32_t pixelStep) {
  x = ClampToSpan(x, left, right);
  y = ClampToSpan(y, 0, rowCount);
  if (!(x == x && y == y)) return;
  const int32_t iy = static_cast<int32_t>(y);
  const int64_t at = int64_t{static_cast<int32_t>(x)} * pixelStep;
  PrefetchLine(rows[iy] + at);
  PrefetchLine(rows[iy + 1 < rowCount ? iy + 1 : iy] + at);
}

// A source coordinate known only to lie within e of v, clamped into [lo, hi - 1] as ClampToSpan
// does: true when every value in the interval gives the same pixel index, with *at the value
// to sample and *within how far the true one may lie from it (0 when clamped to an edge); false
// when the interval meets an edge of the clamp or a pixel boundary, or v or e is not finite.
inline bool ClampedWithin(double v, double e, int32_t lo, int32_t hi, double* at, double* within) {
  const double low = v - e, high = v + e;
  if (low >= hi) {
    *at = hi - 1;
    *within = 0;
    return true;
  }
  if (high < lo) {
    *at = lo;
    *within = 0;
    return true;
  }
  if (!(low >= lo && high < hi) || static_cast<int32_t>(low) != static_cast<int32_t>(high))
    return false;
  *at = v;
  *within = e;
  return true;
}

// The whole pixel nearest a coordinate s, clamped to [0, last]: 0 for s below 0 (and NaN), else
// trunc(s + 0.5) capped at last.
inline int64_t NearestIndex(double s, int64_t last) {
  if (!(s >= 0)) return 0;
  const double v = s + 0.5;
  return v < static_cast<double>(last) ? static_cast<int64_t>(v) : last;
}

// NearestIndex for a coordinate known only to lie within e of s, where e also covers the
// rounding of s + 0.5: true with *index set when every coordinate in that interval gives the
// same index; false near a pixel boundary or the clamps, or when s or e is not finite.
inline bool NearestIndexWithin(double s, double e, int64_t last, int64_t* index) {
  const double v = s + 0.5;
  if (v + e < 1) {  // below 0, or rounding to 0
    *index = 0;
    return true;
  }
  if (!(s - e >= 0)) return false;
  const double low = v - e, high = v + e;
  if (low >= static_cast<double>(last)) {
    *index = last;
    return true;
  }
  if (!(high < static_cast<double>(last)) ||
      static_cast<int64_t>(low) != static_cast<int64_t>(high))
    return false;
  *index = static_cast<int64_t>(v);
  return true;
}

// BilinearSampleOf's result for a position known only to within ex across and ey down of
// (x, y), both already inside the table with one pixel index each way (ClampedWithin): writes
// it and returns true when every position in that box gives the same samples, else writes
// nothing and returns false. The blend is linear in each fraction, so its change across the
// box is bounded by the differences times the box's sides (the colour path takes the largest
// differences the sample range allows, one spread for three samples); both evaluations round
// alike, within 2e-9 of each other for these magnitudes, and not at all when the four pixels
// are equal or the position is exact (ex = ey = 0: the same operations on the same values).
template <class T>
[[gnu::always_inline]] inline bool BilinearSampleWithin(T* const* rows, double x, double y,
                                                        double ex, double ey, int32_t rowCount,
                                                        int32_t pixelStep, int32_t width, T* out) {
  const BilinearCell<T> c(rows, x, y, rowCount, width, pixelStep);
  const double fx = c.fx, fy = c.fy;
  const int32_t count = pixelStep == 1 ? 1 : 3;
#if defined(__SSE2__)
  if (count == 3) {
    const Corners3 q = CornersOf(c.row0 + c.a, c.row0 + c.b, c.row1 + c.a, c.row1 + c.b);
    const __m128d vx = _mm_set1_pd(fx), vy = _mm_set1_pd(fy);
    // One spread for the three samples, from the largest differences the sample range allows
    // (|d1|, |d2| <= max, |d3| <= 2 max); none for a sample whose four pixels are equal.
    constexpr double kMax = SampleTraits<T>::kMax;
    const double any = ex == 0 && ey == 0 ? 0.0 : 3 * kMax * (ex + ey) + 4 * kMax * ex * ey + 2e-9;
    const __m128i flat =
        _mm_cmpeq_epi32(_mm_or_si128(_mm_or_si128(q.d1, q.d2), q.d3), _mm_setzero_si128());
    const __m128d spreadOf = _mm_set1_pd(any);
    __m128d low[2], high[2];
    for (int32_t h = 0; h < 2; ++h) {
      const __m128i mask = h ? _mm_unpackhi_epi32(flat, flat) : _mm_unpacklo_epi32(flat, flat);
      const __m128d spread = _mm_andnot_pd(_mm_castsi128_pd(mask), spreadOf);
      const __m128d v = Blend2(q, h != 0, vx, vy);
      low[h] = _mm_sub_pd(v, spread);
      high[h] = _mm_add_pd(v, spread);
    }
    const uint64_t packed = Pack3<T>(low[0], low[1]);
    if (packed != Pack3<T>(high[0], high[1])) return false;
    StorePacked3(packed, out);
    return true;
  }
#endif
  int32_t values[3];
  for (int32_t k = 0; k < count; ++k) {
    const int32_t p00 = c.row0[c.a + k], p01 = c.row0[c.b + k];
    const int32_t p10 = c.row1[c.a + k], p11 = c.row1[c.b + k];
    const int32_t d1 = p01 - p00, d2 = p10 - p00, d3 = p00 + p11 - p01 - p10;
    const double v = ((p00 + d1 * fx) + d2 * fy) + (d3 * fx) * fy;
    double spread = 0;
    if ((d1 != 0 || d2 != 0 || d3 != 0) && (ex != 0 || ey != 0)) {
      const double a1 = std::abs(d1), a2 = std::abs(d2), a3 = std::abs(d3);
      spread = (a1 + a3) * ex + (a2 + a3) * ey + 2 * a3 * ex * ey + 2e-9;
    }
    int32_t low = static_cast<int32_t>(v - spread), high = static_cast<int32_t>(v + spread);
    low = low < 0 ? 0 : (low > SampleTraits<T>::kMax ? SampleTraits<T>::kMax : low);
    high = high < 0 ? 0 : (high > SampleTraits<T>::kMax ? SampleTraits<T>::kMax : high);
    if (low != high) return false;
    values[k] = low;
  }
  for (int32_t k = 0; k < count; ++k) out[k] = static_cast<T>(values[k]);
  return true;
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
