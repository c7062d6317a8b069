// Radial wave: turns every pixel about a centre by an angle that is a sine of its distance from
// the centre, so that concentric rings twist back and forth (up to amplitude percent of 90
// degrees). The turned position is sampled through the interpolation weight table from a
// window of source rows around the output row, or from every row of the bitmap when that window
// would be as high as the bitmap.
//
// Extreme inputs: a one-pixel rectangle with the centre on one of its corners makes the
// reference distance Rr 1 and the phase scale 0 / 0: the call does nothing and answers SUCCESS.
// The period product (Rr - 1) × wavelength is formed in 64 bits. A turn can move a source
// further than the window reaches (the window is sized by the largest turn's sine, the turn
// moves by its chord): the sampled row pair is kept inside the window (rows 0 .. N - 2), as it
// is kept inside the bitmap (0 .. Height - 2) in whole-bitmap mode.
#include <cmath>
#include <type_traits>

#include "Common/Wave_sfx.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

struct RadWaveGeometry {
  RECT rect;
  int32_t width, height, cx, cy;
  double scale;  // P × 2π / (Rr - 1)
  double phase;  // radians
  double turn;   // m × π / 180, the largest turn
  bool absolute;
  double half;     // N / 2 in sliding mode
  int64_t rowMax;  // the last first row of a sampled pair
  uint32_t edge;
  WaveFillPixels fill;
  const WaveWeights* weights;
};

template <class T, int kSamples>
void RadWaveRow(const RadWaveGeometry& g, const WaveRows<T>& rows, int32_t y, int32_t step,
                T* out) {
  constexpr uint32_t kDivisor = SampleTraits<T>::kWeightDivisor;
  const WaveFill<T>& fill = g.fill.For(T{});
  const double dy = static_cast<double>(int64_t{y} - g.cy);
  const double dy2 = dy * dy;
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const double dx = static_cast<double>(int64_t{x} - g.cx);
    const double arg = std::sqrt(dx * dx + dy2) * g.scale + g.phase;
    double theta = g.turn * std::sin(arg);
    if (theta < 0) theta = theta + 2 * kWavePi;
    const double ct = std::cos(theta), st = std::sin(theta);
    const double sx = ct * dx - st * dy + g.cx;
    const double sy = st * dx + ct * dy + g.cy;
    T* pixel = out + int64_t{x} * step;
    const double xi = std::trunc(sx), yi = std::trunc(sy);
    if ((xi > g.width || xi < 0 || yi < 0 || yi > g.height) &&
        WaveOutside<T, kSamples>(g.edge, fill, pixel))
      continue;
    const double sw = g.absolute ? sy : sy - y + g.half;
    int64_t r0 = TruncSat(sw);
    r0 = r0 < 0 ? 0 : (r0 > g.rowMax ? g.rowMax : r0);
    WaveSample<T, kDivisor, kSamples>(rows, *g.weights, sx, sw, r0, g.width, step, pixel);
  }
}

int32_t RadWaveDriver(BitmapRecord* bitmap, const RECT& rect, POINT center, uint32_t fillColor,
                      uint32_t flags, int64_t n, double periods, int64_t rr, uint32_t m,
                      int32_t phase) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  WaveWeights weights;
  if (!weights.Prepare()) return ERROR_NO_MEMORY;
  RadWaveGeometry g{};
  g.rect = rect;
  g.width = bitmap->Width;
  g.height = bitmap->Height;
  g.cx = center.x;
  g.cy = center.y;
  g.scale = periods * 2 * kWavePi / static_cast<double>(rr - 1);
  g.phase = phase * kWavePi / 18000;
  g.turn = m * kWavePi / 180.0;
  g.absolute = n == g.height;
  g.half = static_cast<double>(n / 2);
  g.rowMax = n - 2;
  g.edge = flags & kWaveEdgeMask;
  g.fill = MakeWaveFill(fillColor, access.PixelStep());
  g.weights = &weights;
  const int32_t step = access.PixelStep();
  return RunWaveRows(bitmap, access, rect, WaveWindowPlan{n, g.absolute},
                     [&](int32_t y, const auto& rows, auto* out, auto samples) {
                       using T = std::remove_pointer_t<decltype(out)>;
                       RadWaveRow<T, decltype(samples)::value>(g, rows, y, step, out);
                     });
}

inline constexpr FxFlagValue kRadWaveUnitValues[] = {
    {"percent", kWaveUnitPercent, "wavelength in percent of the farthest corner's distance"},
    {"count", kWaveUnitCount, "wavelength as a number of waves out to the farthest corner"},
    {"count-narrow", 0x20, "as count, with the narrowest window (9 rows)"},
};
inline constexpr FxFlagField kRadWaveFlagFields[] = {
    kWaveEdgeField,
    FlagField("unit", kWaveUnitMask, kRadWaveUnitValues, "unit of the wavelength"),
};

const FxParamDesc kRadWaveParams[] = {
    UIntParam("amplitude", 4, 0, 100,
              "largest turn in percent of 90 degrees; below 2 does nothing"),
    UIntParam("wavelength", 25, 1, kAnyUInt32Max,
              "wave length in percent of the farthest corner's distance, or the number of waves "
              "(unit count)"),
    IntParam("phase", 0, -36000, 36000, "phase of the wave in hundredths of a degree"),
    CenterParam("center", "centre of the rings; inside the rectangle grown by one pixel"),
    ColorParam("fillColor", 0x000000, "colour of pixels whose source is off the bitmap (fill)"),
    FlagsParam("flags", kWaveEdge, 0, kAnyUInt32Max,
               "bits 0-3 outside: 0 fill, 1 edge, 2 keep; bits 4-7 unit: 0 percent, 0x10 count, "
               "other values count with a 9-row window",
               kRadWaveFlagFields),
};

const FxPreset kRadWavePresets[] = {
    {"rings", "amplitude=3 wavelength=8 unit=count"},
    {"twister", "amplitude=20 wavelength=60"},
    {"ripple-keep", "amplitude=8 wavelength=10 outside=keep"},
};

}  // namespace

extern const FxEffectDesc kRadWaveEffect = {
    "rad-wave",
    "Fx_RadWaveBitmap",
    FX_FAMILY_DISTORTION,
    "Twists concentric rings back and forth about a centre point",
    kRadWaveParams,
    CountOf(kRadWaveParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_RadWaveBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgI32(v[2]), v[3].pt, ArgU32(v[4]),
                              ArgU32(v[5]));
    },
    kRadWavePresets,
    CountOf(kRadWavePresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_RadWaveBitmap(BitmapRecord* bitmap, uint32_t amplitude, uint32_t wavelength,
                         int32_t phase, POINT center, uint32_t fillColor, uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  if (amplitude > 100 || wavelength == 0) return ERROR_INV_PARAMETER;
  if (amplitude < 2) return HostNothingToDo();
  if (phase < -36000 || phase > 36000) return ERROR_INV_PARAMETER;
  // The centre is a point of the picture as the effect works on it (orientation 1).
  fx::OrientationGuard orientation(bitmap);
  const RECT rect = fx::ProcessRect(bitmap);
  if (!fx::CenterInGrownRect(rect, center)) return ERROR_INV_PARAMETER;
  if ((flags & fx::kWaveEdgeMask) > fx::kWaveKeep) return ERROR_INV_PARAMETER;

  const uint32_t m = amplitude * 90 / 100;
  const uint32_t unit = flags & fx::kWaveUnitMask;
  const double alpha = unit == fx::kWaveUnitPercent || unit == fx::kWaveUnitCount
                           ? amplitude * 90.0 * fx::kWavePi / 18000.0
                           : 0.0;
  const int64_t rb = fx::CornerDistance(center, RECT{0, 0, bitmap->Width, bitmap->Height}, true);
  int64_t n = static_cast<int64_t>(std::sin(alpha) * static_cast<double>(rb)) * 2 + 9;
  if (n > bitmap->Height) n = bitmap->Height;
  if (n < 2) return HostNothingToDo();
  const int64_t rr = fx::CornerDistance(center, rect, true);
  if (rr - 1 == 0) return HostNothingToDo();
  const double periods = fx::WavePeriods(rr, wavelength, unit != fx::kWaveUnitPercent);
  return fx::RadWaveDriver(bitmap, rect, center, fillColor, flags, n, periods, rr, m, phase);
}
