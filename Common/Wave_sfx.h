// The machinery the wave family shares (wave, radial wave, zoom wave, zigzag, free-hand wave):
// the edge modes and flag fields, the one-dimensional wave tables of the wave (four shapes, the
// triangle reshaping, the expansion to tenths), the 101 x 101 interpolation weight table and the
// four-neighbour sum read through it, the fill pixel, and the window of source rows the kernels
// run on.
//
// The window. Each effect sizes a window of N source rows around the output row y, the row y at
// window index N / 2 (`half`), rows beyond the bitmap replicated from its first or last row; the
// kernels address rows by window index. RowWindow holds exactly that window (for an even N laid
// out as the ring of rows used to be, see frame/RowCache.h). Two further layouts hold the same
// rows: the radial wave's whole-bitmap mode (N equal to the height: every row, addressed by
// bitmap row), and, for a window whose half reaches the bitmap's height or more (huge
// amplitudes), every row of the bitmap with window index k standing for row clamp(y - half + k):
// since half >= height, clamping the window index to the window and then the row to the bitmap
// lands on the same row as clamping the row alone, for every index.
//
// Extreme inputs: every table index and window row read is kept inside its table (indexes the
// formulas keep inside anyway, so ordinary inputs are untouched); coordinates are truncated
// with saturation (NaN gives 0) so no conversion is undefined; a one-pixel-wide bitmap samples
// its one column twice (the column clamp 0 .. W - 2 is empty there).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "frame/RowEngine.h"

namespace fx {

inline constexpr double kWavePi = 3.1415926535;

// Flag fields -----------------------------------------------------------------------------------

// What a pixel whose source lies outside the bitmap receives (flags bits 0-3).
enum WaveEdge : uint32_t { kWaveFill = 0, kWaveEdge = 1, kWaveKeep = 2 };
inline constexpr uint32_t kWaveEdgeMask = 0x0F;
// Unit of a wavelength (bits 4-7): percent of the extent, or a number of waves.
inline constexpr uint32_t kWaveUnitMask = 0xF0;
inline constexpr uint32_t kWaveUnitPercent = 0x00, kWaveUnitCount = 0x10;
// Shape of the wave (bits 8-11).
enum WaveShape : uint32_t {
  kWaveSine = 0x000,
  kWaveCosine = 0x100,
  kWaveSquare = 0x200,
  kWaveTriangle = 0x300
};
inline constexpr uint32_t kWaveShapeMask = 0xF00;

// Named values of the flag fields, for the descriptors.
inline constexpr FxFlagValue kWaveEdgeValues[] = {
    {"fill", kWaveFill, "the fill colour"},
    {"edge", kWaveEdge, "interpolated from the nearest edge pixels"},
    {"keep", kWaveKeep, "the pixel keeps its value"},
};
inline constexpr FxFlagField kWaveEdgeField =
    FlagField("outside", kWaveEdgeMask, kWaveEdgeValues, "a pixel whose source is off the bitmap");
inline constexpr FxFlagValue kWaveUnitValues[] = {
    {"percent", kWaveUnitPercent, "wavelength in percent of the extent"},
    {"count", kWaveUnitCount, "wavelength as a number of waves over the extent"},
};
inline constexpr FxFlagField kWaveUnitField =
    FlagField("unit", kWaveUnitMask, kWaveUnitValues, "unit of the wavelength");

// Wave tables -----------------------------------------------------------------------------------

// Periods over a table of `count` computed entries: `wavelength` waves (unit count), or
// (count - 1) / ((count - 1) · wavelength / 100), which is 100 / wavelength up to rounding.
double WavePeriods(int64_t count, uint32_t wavelength, bool unitCount);

// Fills table[0 .. count] (count computed entries and the end entry the expansion reads) with
// the shape: sine amp·sin(φ(i) / extent), cosine likewise, square ±amp by the sign of
// amp·sin(φ(i) / (extent + 1)), φ(i) = i·periods·2π; the triangle starts as the sine. `across`
// (the wave's second table) negates every value. A zero extent divides by 1.
void FillWaveTable(double* table, int64_t count, WaveShape shape, double amp, double periods,
                   int64_t extent, bool across);

// Reshapes the sine table[0 .. n - 1] (table[n] is read) into straight segments through its
// turning points and zero crossings: q periods over the table, amplitude a, `across` for the
// second table (which seeks rising crossings first). ERROR_NO_MEMORY when the point list cannot
// be allocated.
int32_t ReshapeTriangle(double* table, int64_t n, double q, double a, bool across);

// A table entry for a position in tenths, kept inside the table (10·count entries).
inline const double& ExpandedAt(const double* expanded, int64_t entries, double tenths) {
  int64_t k = tenths >= 0 ? static_cast<int64_t>(tenths < 9.0e18 ? tenths : 9.0e18) : 0;
  return expanded[k < entries ? k : entries - 1];
}

// Weight table, fill pixel, sampling -----------------------------------------------------------

// The 101 x 101 bilinear weights of HostFillWeightTable, indexed [fx][fy] in hundredths.
class WaveWeights {
 public:
  // Allocates (101 row pointers, then the entries) and fills the table; false on failure.
  bool Prepare();
  const HostWeights& At(int32_t fx, int32_t fy) const { return index_[fx][fy]; }

 private:
  HostBlock<HostWeights*> index_;
  HostBlock<HostWeights> entries_;
};

// The fill colour as one working pixel (HostColorToPixel) at each sample size: three samples, or
// one for gray. Prepared on the calling thread; the kernels pick theirs with For(T{}).
template <class T>
struct WaveFill {
  T s[3] = {0, 0, 0};
};
struct WaveFillPixels {
  WaveFill<uint8_t> s8;
  WaveFill<uint16_t> s16;
  const WaveFill<uint8_t>& For(uint8_t) const { return s8; }
  const WaveFill<uint16_t>& For(uint16_t) const { return s16; }
};
WaveFillPixels MakeWaveFill(COLORREF colour, int32_t pixelStep);

// Truncation toward zero to 64 bits, saturated far beyond any row or column (NaN gives 0).
inline int64_t TruncSat(double v) {
  if (v >= 4.0e18) return int64_t{4000000000000000000};
  if (v <= -4.0e18) return -int64_t{4000000000000000000};
  return v == v ? static_cast<int64_t>(v) : 0;
}

// The hundredths of the fractional part of a >= 0: trunc((a - trunc(a)) × 100), 0 .. 99.
inline int32_t Hundredths(double a) {
  const double f = (a - std::trunc(a)) * 100;
  return f >= 0 && f < 100 ? static_cast<int32_t>(f) : 0;
}

// The source rows of one output row as the kernels see them: window index k (row y at the
// window's half) is table[k + base], kept inside the table.
template <class T>
struct WaveRows {
  T* const* table;
  int32_t count;
  int64_t base;
  const T* Row(int64_t k) const {
    const int64_t i = k + base;
    return table[i < 0 ? 0 : (i >= count ? count - 1 : i)];
  }
};

// Columns x0 = trunc(sx) clamped to 0 .. W - 2 and x0 + 1 (both 0 on a one-column bitmap), as
// sample offsets of a pixel of `step` samples.
struct WaveColumns {
  int64_t a, b;
};
inline WaveColumns ColumnsOf(double sx, int32_t width, int32_t step) {
  const int64_t xi = TruncSat(sx);
  int64_t x0 = xi > int64_t{width} - 2 ? int64_t{width} - 2 : xi;
  if (x0 < 0) x0 = 0;
  const int64_t x1 = x0 + 1 < width ? x0 + 1 : x0;
  return {x0 * step, x1 * step};
}

// The four-neighbour sum: each of the first kSamples samples is (w0·p(x0, r0) + w1·p(x0 + 1, r0)
// + w2·p(x0, r0 + 1) + w3·p(x0 + 1, r0 + 1)) / kDivisor, summed as an unsigned integer; results
// beyond the sample's maximum (a divisor below 10000) become the maximum.
template <class T, uint32_t kDivisor, int kSamples>
inline void WaveBlend(const T* r0, const T* r1, const WaveColumns& c, const HostWeights& w,
                      T* out) {
  constexpr uint32_t kMax = static_cast<uint32_t>(SampleTraits<T>::kMax);
  const uint32_t w0 = static_cast<uint32_t>(w.w[0]), w1 = static_cast<uint32_t>(w.w[1]);
  const uint32_t w2 = static_cast<uint32_t>(w.w[2]), w3 = static_cast<uint32_t>(w.w[3]);
  for (int k = 0; k < kSamples; ++k) {
    const uint32_t sum = w0 * r0[c.a + k] + w1 * r0[c.b + k] + w2 * r1[c.a + k] + w3 * r1[c.b + k];
    const uint32_t v = sum / kDivisor;
    out[k] = static_cast<T>(v > kMax ? kMax : v);
  }
}

// Samples the window at column sx and window position sw, rows r0 and r0 + 1 (window indexes),
// with the weights of the hundredths of |sx| and |sw|.
template <class T, uint32_t kDivisor, int kSamples>
inline void WaveSample(const WaveRows<T>& rows, const WaveWeights& weights, double sx, double sw,
                       int64_t r0, int32_t width, int32_t step, T* out) {
  const WaveColumns c = ColumnsOf(sx, width, step);
  const HostWeights& w = weights.At(Hundredths(std::fabs(sx)), Hundredths(std::fabs(sw)));
  WaveBlend<T, kDivisor, kSamples>(rows.Row(r0), rows.Row(r0 + 1), c, w, out);
}

// A pixel whose source is off the bitmap: edge mode 0 writes the fill pixel (three samples, or
// the first for gray), mode 2 leaves the pixel (the output row holds it unchanged); both answer
// true. Edge mode 1 answers false: the pixel is sampled as an inside one.
template <class T, int kSamples>
inline bool WaveOutside(uint32_t edge, const WaveFill<T>& fill, T* pixel) {
  if (edge == kWaveFill)
    for (int k = 0; k < kSamples; ++k) pixel[k] = fill.s[k];
  return edge != kWaveEdge;
}

// The driver ------------------------------------------------------------------------------------

// How the window is held: `n` rows (the window N), or, with `absolute`, every row of the bitmap
// addressed by bitmap row (the radial wave's whole-bitmap mode; n is then the height).
struct WaveWindowPlan {
  int64_t n;
  bool absolute = false;
};

// Allocates the window and the output slots, begins the write phase (region or not), reads the
// rows and runs every row y of rect: the output row starts as row y (so a fourth sample and the
// columns outside the rectangle keep their values), kernel(y, rows, out, samples) with rows a
// WaveRows<T>, out the row's T samples and samples a std::integral_constant<int, 3> for colour
// pixels or <int, 1> for gray; each row is written back, and after a successful last row
// HostFinishUpdate is called. Returns SUCCESS or the first other code.
template <class Kernel>
int32_t RunWaveRows(BitmapRecord* bitmap, AccessOwner& access, const RECT& rect,
                    const WaveWindowPlan& plan, Kernel&& kernel) {
  const int32_t height = bitmap->Height;
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  const size_t windowBytes = rowBytes + 4 * static_cast<size_t>(access.PixelStep());
  const int64_t half = plan.n / 2;
  const bool whole = plan.absolute || half >= height;
  // A sliding window that cannot be counted in 32 bits could not be allocated either.
  if (!whole && plan.n > INT32_MAX) return ERROR_NO_MEMORY;
  RowWindow window;
  int32_t rc = whole ? window.AllocateWhole(height, windowBytes)
                     : window.AllocateSliding(static_cast<int32_t>(plan.n), windowBytes);
  if (rc != SUCCESS) return rc;
  RowSlots slots;
  if (!slots.Allocate(windowBytes, window.ViewBytes())) return ERROR_NO_MEMORY;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  if (whole) {
    rc = window.ReadWhole(access, 0);
    if (rc != SUCCESS) return rc;
  }
  const int32_t count = window.size();
  const auto run = [&](auto sample, auto samples) {
    using T = decltype(sample);
    return window.Run(
        access, slots, rect.top, rect.bottom, height, 0, int64_t{rect.right} - rect.left,
        [&](int32_t y, uint8_t* const* source, int32_t w, uint8_t* out, uint8_t*) {
          std::memcpy(out, source[w], rowBytes);
          const WaveRows<T> rows{reinterpret_cast<T* const*>(source), count,
                                 plan.absolute ? 0 : int64_t{w} - half};
          kernel(y, rows, reinterpret_cast<T*>(out), samples);
        },
        NoHostCall(), WriteRow(access));
  };
  rc = WithSampleType(access.SampleBits(), [&](auto sample) {
    if (IsColorPixel(access.PixelStep())) return run(sample, std::integral_constant<int, 3>{});
    return run(sample, std::integral_constant<int, 1>{});
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

// The largest of trunc(distance from (cx, cy) to each of four corners), or the least.
int64_t CornerDistance(POINT center, const RECT& corners, bool greatest);

}  // namespace fx
