// Zoom wave: pushes every pixel in or out along the ray from a centre point by an amount that is
// a sine of its angle around the centre, growing from innerPercent of the amplitude at the centre
// to the whole amplitude at the farthest corner: the image looks zoomed in a wavy star. Sampled
// through the interpolation weight table from a window of 2·amplitude + 3 source rows.
//
// Extreme inputs: the window size 2·amplitude + 3 and the product R × innerPercent are formed in
// 64 bits, and dy·dy too (no 32-bit wrap for huge offsets). The reference distance R is the
// truncated distance to the farthest corner, so a pixel can lie up to a pixel further out and be
// displaced a little more than the amplitude (much more only on tiny rectangles): the sampled
// rows are kept inside the window (each row of the pair clamped to it).
#include <cmath>
#include <type_traits>

#include "Common/Wave_sfx.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

struct ZoomWaveGeometry {
  RECT rect;
  int32_t width, height, cx, cy;
  double base, k1, k2;  // displacement k2 × (k1 × r + base) before the sine
  double frequency, phase;
  int64_t half;
  uint32_t edge;
  WaveFillPixels fill;
  const WaveWeights* weights;
};

template <class T, int kSamples>
void ZoomWaveRow(const ZoomWaveGeometry& g, const WaveRows<T>& rows, int32_t y, int32_t step,
                 T* out) {
  constexpr uint32_t kDivisor = SampleTraits<T>::kWeightDivisor;
  const WaveFill<T>& fill = g.fill.For(T{});
  const int64_t dyi = int64_t{y} - g.cy;
  const double dy = static_cast<double>(dyi), dy2 = static_cast<double>(dyi * dyi);
  const double half = static_cast<double>(g.half);
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const double dx = static_cast<double>(int64_t{x} - g.cx);
    const double r = std::sqrt(dx * dx + dy2);
    double theta = std::atan2(dy, dx);
    if (theta < 0) theta = theta + 2 * kWavePi;
    const double d = g.k2 * (g.k1 * r + g.base) * std::sin(theta * g.frequency + g.phase);
    const double sx = x + d * std::cos(theta);
    const double sw = half + d * std::sin(theta);
    const int64_t wi = TruncSat(sw);
    const int64_t sourceRow = int64_t{y} - g.half + wi;
    const double xi = std::trunc(sx);
    T* pixel = out + int64_t{x} * step;
    if ((xi > g.width || xi < 0 || sourceRow < 0 || sourceRow > g.height) &&
        WaveOutside<T, kSamples>(g.edge, fill, pixel))
      continue;
    WaveSample<T, kDivisor, kSamples>(rows, *g.weights, sx, sw, wi, g.width, step, pixel);
  }
}

int32_t ZoomWaveDriver(BitmapRecord* bitmap, uint32_t amplitude, uint32_t frequency, int32_t phase,
                       uint32_t innerPercent, POINT center, uint32_t fillColor, uint32_t flags) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  WaveWeights weights;
  if (!weights.Prepare()) return ERROR_NO_MEMORY;
  ZoomWaveGeometry g{};
  g.rect = ProcessRect(bitmap);
  g.width = bitmap->Width;
  g.height = bitmap->Height;
  g.cx = center.x;
  g.cy = center.y;
  // R is at least 1: the corners (left, top) and (right, bottom) are a diagonal pixel apart.
  const int64_t reach = CornerDistance(center, g.rect, true);
  const double r = static_cast<double>(reach);
  g.base = static_cast<double>(reach * innerPercent / 100);
  g.k1 = (r - g.base) / r;
  g.k2 = amplitude / r;
  g.frequency = frequency;
  g.phase = phase * kWavePi / 18000.0;
  g.half = (2 * int64_t{amplitude} + 3) / 2;
  g.edge = flags & kWaveEdgeMask;
  g.fill = MakeWaveFill(fillColor, access.PixelStep());
  g.weights = &weights;
  const int32_t step = access.PixelStep();
  return RunWaveRows(bitmap, access, g.rect, WaveWindowPlan{2 * int64_t{amplitude} + 3},
                     [&](int32_t y, const auto& rows, auto* out, auto samples) {
                       using T = std::remove_pointer_t<decltype(out)>;
                       ZoomWaveRow<T, decltype(samples)::value>(g, rows, y, step, out);
                     });
}

inline constexpr FxFlagField kZoomWaveFlagFields[] = {kWaveEdgeField};

const FxParamDesc kZoomWaveParams[] = {
    UIntParam("amplitude", 10, 1, kAnyUInt32Max,
              "largest displacement in pixels, reached at the farthest corner"),
    UIntParam("frequency", 8, 1, kAnyUInt32Max, "number of waves around the full circle"),
    IntParam("phase", 0, -36000, 36000, "phase of the wave in hundredths of a degree"),
    UIntParam("innerPercent", 20, 0, 100, "displacement at the centre in percent of the amplitude"),
    CenterParam("center", "centre of the zoom; inside the rectangle grown by one pixel"),
    ColorParam("fillColor", 0x000000, "colour of pixels whose source is off the bitmap (fill)"),
    FlagsParam("flags", kWaveEdge, 0, 2, "outside: 0 fill, 1 edge, 2 keep", kZoomWaveFlagFields),
};

const FxPreset kZoomWavePresets[] = {
    {"star", "amplitude=5.2084%s frequency=6 innerPercent=0"},
    {"flower", "amplitude=2.5%s frequency=16 innerPercent=50 phase=4500"},
    {"wobble", "amplitude=8.3334%s frequency=3 innerPercent=100 outside=fill fillColor=#101820"},
};

}  // namespace

extern const FxEffectDesc kZoomWaveEffect = {
    "zoom-wave",
    "Fx_ZoomWaveBitmap",
    FX_FAMILY_DISTORTION,
    "Zooms the image in and out along the rays from a centre in a wavy star pattern",
    kZoomWaveParams,
    CountOf(kZoomWaveParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_ZoomWaveBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgI32(v[2]), ArgU32(v[3]), v[4].pt,
                               ArgU32(v[5]), ArgU32(v[6]));
    },
    kZoomWavePresets,
    CountOf(kZoomWavePresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_ZoomWaveBitmap(BitmapRecord* bitmap, uint32_t amplitude, uint32_t frequency,
                          int32_t phase, uint32_t innerPercent, POINT center, uint32_t fillColor,
                          uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  if (amplitude == 0 || frequency == 0 || phase < -36000 || phase > 36000 || innerPercent > 100 ||
      flags > fx::kWaveKeep)
    return ERROR_INV_PARAMETER;
  // The centre is a point of the picture as the effect works on it (orientation 1).
  fx::OrientationGuard orientation(bitmap);
  if (!fx::CenterInGrownRect(fx::ProcessRect(bitmap), center)) return ERROR_INV_PARAMETER;
  if (amplitude == 1 && frequency == 1) return HostNothingToDo();
  return fx::ZoomWaveDriver(bitmap, amplitude, frequency, phase, innerPercent, center, fillColor,
                            flags);
}
