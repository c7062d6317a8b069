// Free-hand wave: the wave with a shape the caller draws. The curve (integer values) is one
// period, repeated along the wave's direction; every pixel is displaced across that direction
// by amount × value / 100000 pixels, the value read from the curve at the pixel's place within
// the period (linearly between neighbouring values). Sampled through the interpolation weight
// table, dividing by 10000 at both sample sizes.
//
// Extreme inputs: the window size trunc(M / 100000) × 2 + 5 is formed in 64 bits (M, the largest
// amount × |value|, reaches 2^63). The period product (count - 1) × wavelength is formed in 64
// bits; a table of one computed entry takes 100 / wavelength periods, and an extent under one
// pixel (Lr - 1 = 0) divides the position by 1. Tables too large to count in 32 bits answer
// ERROR_NO_MEMORY. The curve must hold curveCount values (the caller's promise).
#include <cmath>
#include <type_traits>

#include "Common/Wave_sfx.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

// Every kernel of this effect divides by 10000, 8-bit ones too.
inline constexpr uint32_t kFreeHandDivisor = 10000;

struct FreeHandGeometry {
  RECT rect;
  int32_t width, height;
  double c, s, hw, hh, shiftU;
  const double* expanded;
  int64_t entries;
  int64_t half;
  uint32_t edge;
  WaveFillPixels fill;
  const WaveWeights* weights;
};

template <class T, int kSamples>
void FreeHandRow(const FreeHandGeometry& g, const WaveRows<T>& rows, int32_t y, int32_t step,
                 T* out) {
  const WaveFill<T>& fill = g.fill.For(T{});
  const double sj = g.s * (static_cast<double>(y - g.rect.top) - g.hh);
  const double half = static_cast<double>(g.half);
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const double i = static_cast<double>(x - g.rect.left) - g.hw;
    const double u = g.c * i - sj + g.shiftU + g.hw;
    const double dA = ExpandedAt(g.expanded, g.entries, u * 10.0);
    const double sx = x + g.s * dA;
    const double sw = half + g.c * dA;
    const double xi = std::trunc(sx);
    const int64_t wi = TruncSat(sw);
    const int64_t sourceRow = int64_t{y} + wi - g.half;
    T* pixel = out + int64_t{x} * step;
    if ((xi > g.width || xi < 0 || sourceRow < 0 || sourceRow > g.height) &&
        WaveOutside<T, kSamples>(g.edge, fill, pixel))
      continue;
    WaveSample<T, kFreeHandDivisor, kSamples>(rows, *g.weights, sx, sw, wi, g.width, step, pixel);
  }
}

// Table entries 0 .. count: the curve's value at i·P / (Lr - 1) periods, scaled to pixels.
void FillCurveTable(double* table, int64_t count, const int32_t* curve, int64_t segments,
                    uint32_t amount, double periods, int64_t lr) {
  const double divisor = lr - 1 == 0 ? 1.0 : static_cast<double>(lr - 1);
  for (int64_t i = 0; i <= count; ++i) {
    const double x = static_cast<double>(i) * periods / divisor;
    const double phi = std::fabs(x) - std::trunc(std::fabs(x));
    const double q = static_cast<double>(segments) * phi;
    int64_t j = static_cast<int64_t>(q);
    if (j > segments - 1) j = segments - 1;
    const double t = std::fabs(q) - std::trunc(std::fabs(q));
    table[i] = (amount / 100.0) * ((1 - t) * curve[j] + t * curve[j + 1]) / 1000.0;
  }
}

int32_t FreeHandDriver(BitmapRecord* bitmap, const int32_t* curve, uint32_t curveCount,
                       uint32_t amount, uint32_t wavelength, double a, uint32_t fillColor,
                       uint32_t flags, int64_t n) {
  const int32_t width = bitmap->Width, height = bitmap->Height;
  const double c = std::cos(a), s = std::sin(a);
  const int64_t count = static_cast<int64_t>(std::fabs(width * c) + std::fabs(height * s)) + 1;
  if (10 * count > int64_t{UINT32_MAX}) return ERROR_NO_MEMORY;

  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  HostBlock<double> table, expanded;
  WaveWeights weights;
  if (!weights.Prepare() || !table.Allocate(static_cast<uint32_t>(count + 1)) ||
      !expanded.Allocate(static_cast<uint32_t>(10 * count)))
    return ERROR_NO_MEMORY;

  FreeHandGeometry g{};
  g.rect = ProcessRect(bitmap);
  const int64_t wr = int64_t{g.rect.right} - g.rect.left, hr = int64_t{g.rect.bottom} - g.rect.top;
  const double lx = std::fabs(wr * c) + std::fabs(hr * s);
  const int64_t lr = static_cast<int64_t>(lx) + 1;
  const double periods = WavePeriods(count, wavelength, (flags & kWaveUnitMask) == kWaveUnitCount);
  FillCurveTable(table.get(), count, curve, int64_t{curveCount} - 1, amount, periods, lr);
  HostExpandTable(expanded.get(), table.get(), static_cast<uint32_t>(10 * count));

  g.width = width;
  g.height = height;
  g.c = c;
  g.s = s;
  g.hw = static_cast<double>(wr) / 2.0;
  g.hh = static_cast<double>(hr) / 2.0;
  g.shiftU = (lx - static_cast<double>(wr)) / 2;
  g.expanded = expanded.get();
  g.entries = 10 * count;
  g.half = n / 2;
  g.edge = flags & kWaveEdgeMask;
  g.fill = MakeWaveFill(fillColor, access.PixelStep());
  g.weights = &weights;
  const int32_t step = access.PixelStep();
  return RunWaveRows(bitmap, access, g.rect, WaveWindowPlan{n},
                     [&](int32_t y, const auto& rows, auto* out, auto samples) {
                       using T = std::remove_pointer_t<decltype(out)>;
                       FreeHandRow<T, decltype(samples)::value>(g, rows, y, step, out);
                     });
}

// One period of a rounded wave, 10 pixels high at amount 100.
const int32_t kDefaultCurve[] = {0, 7071, 10000, 7071, 0, -7071, -10000, -7071, 0};

inline constexpr FxFlagField kFreeHandFlagFields[] = {kWaveEdgeField, kWaveUnitField};

const FxParamDesc kFreeHandParams[] = {
    IntArrayParam("curve", kDefaultCurve, CountOf(kDefaultCurve), kAnyInt32Min, kAnyInt32Max, 0,
                  "one period of the wave; a value v displaces by amount × v / 100000 pixels"),
    CountParam("curveCount", FX_KIND_UINT32, 0, 2, kAnyUInt32Max,
               "number of curve values (at least 2); defaults to the list's length"),
    UIntParam("amount", 100, 1, kAnyUInt32Max, "scale of the curve in percent"),
    UIntParam("wavelength", 10, 1, kAnyUInt32Max,
              "wave length in percent of the extent, or the number of waves (unit count)"),
    IntParam("angle", 0, -36000, 36000,
             "direction in hundredths of a degree; at 0 the curve runs down the image and shifts "
             "pixels sideways"),
    ColorParam("fillColor", 0x000000, "colour of pixels whose source is off the bitmap (fill)"),
    FlagsParam("flags", kWaveEdge, 0, kAnyUInt32Max,
               "bits 0-3 outside: 0 fill, 1 edge, 2 keep; bits 4-7 unit: 0 percent, 0x10 count",
               kFreeHandFlagFields),
};

const FxPreset kFreeHandPresets[] = {
    {"saw-tooth", "curve=0,1000 amount=1500 wavelength=8"},
    {"steps", "curve=0,0,8000,8000,0,0,-8000,-8000,0 amount=150 wavelength=12 angle=9000"},
    {"lazy-s", "curve=0,12000,4000,-4000,-12000,0 amount=100 wavelength=3 angle=4500 unit=count"},
};

}  // namespace

extern const FxEffectDesc kFreeHandWaveEffect = {
    "free-hand-wave",
    "Fx_FreeHandWaveBitmap",
    FX_FAMILY_DISTORTION,
    "Bends the image with a wave whose shape is a curve the caller draws",
    kFreeHandParams,
    CountOf(kFreeHandParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_FreeHandWaveBitmap(b, ArgPtr<const int32_t>(v[0]), ArgU32(v[1]), ArgU32(v[2]),
                                   ArgU32(v[3]), ArgI32(v[4]), ArgU32(v[5]), ArgU32(v[6]));
    },
    kFreeHandPresets,
    CountOf(kFreeHandPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_FreeHandWaveBitmap(BitmapRecord* bitmap, const int32_t* curve, uint32_t curveCount,
                              uint32_t amount, uint32_t wavelength, int32_t angle,
                              uint32_t fillColor, uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  const uint32_t unit = flags & fx::kWaveUnitMask;
  if (curveCount < 2 || wavelength == 0 || !curve || angle < -36000 || angle > 36000 ||
      amount == 0 || (flags & fx::kWaveEdgeMask) > fx::kWaveKeep ||
      (unit != fx::kWaveUnitPercent && unit != fx::kWaveUnitCount))
    return ERROR_INV_PARAMETER;
  double most = 0;
  for (uint32_t i = 0; i < curveCount; ++i) {
    const double v = static_cast<double>(amount) * std::fabs(static_cast<double>(curve[i]));
    if (v > most) most = v;
  }
  if (most <= 0) return HostNothingToDo();
  const int64_t n = static_cast<int64_t>(most / 100000) * 2 + 5;
  // The curve runs across the given direction.
  const double a = (angle + 27000) * fx::kWavePi / 18000.0;
  fx::OrientationGuard orientation(bitmap);
  return fx::FreeHandDriver(bitmap, curve, curveCount, amount, wavelength, a, fillColor, flags, n);
}
