// ZigZag: waves that fade out towards the rim of the ellipse inscribed in the rectangle, in one
// of two styles. Around the centre, every pixel is turned about the centre by a damped sine of
// its distance (as the radial wave does); as pond ripples, every pixel inside the ellipse is
// shifted diagonally (the same amount right and down) by a damped sine of its elliptical
// distance. Sampled through the interpolation weight table, dividing by 9990 at both sample
// sizes (16-bit results beyond 65535 become 65535).
//
// Extreme inputs:
// - Around the centre, a centre one pixel from a corner of the rectangle (e.g. (1, 1)) makes the
//   least corner distance Rr 1, and the phase scale divides by Rr - 1 = 0: the call does nothing
//   and answers SUCCESS. A centre on the corner itself (Rr - 1 = -1) is processed.
// - waves × 2 is formed in double precision (no 32-bit overflow), dy·dy in 64 bits.
// - Around the centre, a turn can move a source further than the window reaches: the sampled
//   row pair is kept inside the window (rows 0 .. N - 2).
// - Pond style with a negative amplitude: the window holds 2·|a| + 1 rows; the shift keeps the
//   sign of a (a = trunc(amplitude × 0.707)), so the waves are turned over. The window size is
//   formed in 64 bits.
#include <cmath>
#include <type_traits>

#include "Common/Wave_sfx.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

inline constexpr uint32_t kStyleMask = 0xF0;
inline constexpr uint32_t kStyleAround = 0x00, kStylePond = 0x10;
// Every kernel of this effect divides by 9990, 16-bit ones too.
inline constexpr uint32_t kZigZagDivisor = 9990;

struct ZigZagGeometry {
  RECT rect;
  int32_t width, height, cx, cy;
  double hw, hh;
  double phase;  // radians
  // Around the centre.
  double scale;    // waves × 2π / (Rr - 1)
  double damping;  // damping / 1000
  double turn;     // m × π / 180
  int64_t rowMax;  // N - 2
  // Pond.
  uint32_t dampingLevel;  // damping, 0 .. 1000
  double waves;           // waves / 100000
  double diagonal;        // sqrt(hw² + hh²)
  double shiftHalf;       // a / 2: the shift's scale, signed
  int64_t half;
  bool pond;
  uint32_t edge;
  WaveFillPixels fill;
  const WaveWeights* weights;
};

template <class T, int kSamples>
void AroundRow(const ZigZagGeometry& g, const WaveRows<T>& rows, int32_t y, int32_t step, T* out) {
  const WaveFill<T>& fill = g.fill.For(T{});
  const int64_t dyi = int64_t{y} - g.cy;
  const double dy = static_cast<double>(dyi), dy2 = static_cast<double>(dyi * dyi);
  const double ny = dy / g.hh;
  const double half = static_cast<double>(g.half);
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const double dx = static_cast<double>(int64_t{x} - g.cx);
    const double nx = dx / g.hw;
    const double e = std::sqrt(nx * nx + ny * ny);
    const double arg = std::sqrt(dx * dx + dy2) * g.scale + g.phase;
    double damp = 1 - g.damping * e;
    damp = damp < 0 ? 0 : (damp > 1 ? 1 : damp);
    double theta = damp * g.turn * std::sin(arg);
    if (theta < 0) theta = theta + 2 * kWavePi;
    const double ct = std::cos(theta), st = std::sin(theta);
    const double sx = ct * dx - st * dy + g.cx;
    const double sy = st * dx + ct * dy + g.cy;
    T* pixel = out + int64_t{x} * step;
    const double xi = std::trunc(sx), yi = std::trunc(sy);
    if ((xi > g.width || xi < 0 || yi < 0 || yi > g.height) &&
        WaveOutside<T, kSamples>(g.edge, fill, pixel))
      continue;
    const double sw = sy - y + half;
    int64_t r0 = TruncSat(sw);
    r0 = r0 < 0 ? 0 : (r0 > g.rowMax ? g.rowMax : r0);
    WaveSample<T, kZigZagDivisor, kSamples>(rows, *g.weights, sx, sw, r0, g.width, step, pixel);
  }
}

template <class T, int kSamples>
void PondRow(const ZigZagGeometry& g, const WaveRows<T>& rows, int32_t y, int32_t step, T* out) {
  const WaveFill<T>& fill = g.fill.For(T{});
  const double ny = static_cast<double>(int64_t{y} - g.cy) / g.hh;
  const double half = static_cast<double>(g.half);
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const double nx = static_cast<double>(int64_t{x} - g.cx) / g.hw;
    const double e = std::sqrt(nx * nx + ny * ny);
    // Outside the inscribed ellipse the pixel stays as it is.
    const int64_t ei = TruncSat(e * 1000);
    if (ei > 1000) continue;
    const double s =
        std::sin(static_cast<double>(ei) * g.waves * (kWavePi / 2.0) * g.diagonal + g.phase);
    const uint32_t level = 1000 - (g.dampingLevel * static_cast<uint32_t>(ei)) / 1000;
    const double d = (level * g.shiftHalf * s) / 1000.0;
    const double sx = x + d;
    const double sw = half + d;
    const int64_t wi = TruncSat(sw);
    const int64_t sourceRow = int64_t{y} + wi - g.half;
    const double xi = std::trunc(sx);
    T* pixel = out + int64_t{x} * step;
    if ((xi > g.width || xi < 0 || sourceRow < 0 || sourceRow > g.height) &&
        WaveOutside<T, kSamples>(g.edge, fill, pixel))
      continue;
    WaveSample<T, kZigZagDivisor, kSamples>(rows, *g.weights, sx, sw, wi, g.width, step, pixel);
  }
}

int32_t ZigZagDriver(BitmapRecord* bitmap, ZigZagGeometry& g, COLORREF fillColor, int64_t n) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  WaveWeights weights;
  if (!weights.Prepare()) return ERROR_NO_MEMORY;
  g.width = bitmap->Width;
  g.height = bitmap->Height;
  g.fill = MakeWaveFill(fillColor, access.PixelStep());
  g.weights = &weights;
  const int32_t step = access.PixelStep();
  return RunWaveRows(bitmap, access, g.rect, WaveWindowPlan{n},
                     [&](int32_t y, const auto& rows, auto* out, auto samples) {
                       using T = std::remove_pointer_t<decltype(out)>;
                       constexpr int kSamples = decltype(samples)::value;
                       if (g.pond)
                         PondRow<T, kSamples>(g, rows, y, step, out);
                       else
                         AroundRow<T, kSamples>(g, rows, y, step, out);
                     });
}

inline constexpr FxFlagValue kStyleValues[] = {
    {"around", kStyleAround, "pixels turn about the centre"},
    {"pond", kStylePond, "pixels shift diagonally, as ripples on a pond"},
};
inline constexpr FxFlagField kZigZagFlagFields[] = {
    kWaveEdgeField,
    FlagField("style", kStyleMask, kStyleValues, "style of the waves"),
};

const FxParamDesc kZigZagParams[] = {
    IntParam("amplitude", 30, kAnyInt32Min, kAnyInt32Max,
             "around: largest turn in percent of 90 degrees (1..100); pond: largest shift, about "
             "amplitude / 3 pixels (negative turns the waves over); 0 does nothing"),
    UIntParam("damping", 1000, 0, 1000,
              "fading towards the rim of the inscribed ellipse, in thousandths per radius"),
    IntParam("waves", 6, kAnyInt32Min, kAnyInt32Max, "number of waves; not 0"),
    IntParam("phase", 0, -36000, 36000, "phase of the waves in hundredths of a degree"),
    CenterParam("center", "centre of the waves; inside the rectangle grown by one pixel"),
    ColorParam("fillColor", 0x000000, "colour of pixels whose source is off the bitmap (fill)"),
    FlagsParam("flags", kWaveEdge, 0, kAnyUInt32Max,
               "bits 0-3 outside: 0 fill, 1 edge, 2 keep; bits 4-7 style: 0 around the centre, "
               "0x10 pond",
               kZigZagFlagFields),
};

const FxPreset kZigZagPresets[] = {
    {"pond", "amplitude=6.25%s damping=300 waves=12 style=pond"},
    {"whirl", "amplitude=60 waves=3"},
    {"fine-keep", "amplitude=15 waves=10 outside=keep"},
    {"choppy-pond", "amplitude=-4.1667%s damping=0 waves=40 outside=keep style=pond"},
};

}  // namespace

extern const FxEffectDesc kZigZagEffect = {
    "zig-zag",
    "Fx_ZigZagBitmap",
    FX_FAMILY_DISTORTION,
    "Waves fading towards the rim of the inscribed ellipse: turning about the centre or pond "
    "ripples",
    kZigZagParams,
    CountOf(kZigZagParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_ZigZagBitmap(b, ArgI32(v[0]), ArgU32(v[1]), ArgI32(v[2]), ArgI32(v[3]), v[4].pt,
                             ArgU32(v[5]), ArgU32(v[6]));
    },
    kZigZagPresets,
    CountOf(kZigZagPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_ZigZagBitmap(BitmapRecord* bitmap, int32_t amplitude, uint32_t damping, int32_t waves,
                        int32_t phase, POINT center, uint32_t fillColor, uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  if (waves == 0) return ERROR_INV_PARAMETER;
  if (amplitude == 0) return HostNothingToDo();
  if (damping > 1000 || phase < -36000 || phase > 36000) return ERROR_INV_PARAMETER;
  // The centre is a point of the picture as the effect works on it (orientation 1).
  fx::OrientationGuard orientation(bitmap);
  fx::ZigZagGeometry g{};
  g.rect = fx::ProcessRect(bitmap);
  if (!fx::CenterInGrownRect(g.rect, center)) return ERROR_INV_PARAMETER;
  const uint32_t style = flags & fx::kStyleMask;
  if ((flags & fx::kWaveEdgeMask) > fx::kWaveKeep ||
      (style != fx::kStyleAround && style != fx::kStylePond) ||
      (style == fx::kStyleAround && (amplitude < 1 || amplitude > 100)))
    return ERROR_INV_PARAMETER;

  g.cx = center.x;
  g.cy = center.y;
  g.hw = (int64_t{g.rect.right} - g.rect.left) / 2.0;
  g.hh = (int64_t{g.rect.bottom} - g.rect.top) / 2.0;
  g.phase = phase * fx::kWavePi / 18000.0;
  g.edge = flags & fx::kWaveEdgeMask;
  int64_t n;
  if (style == fx::kStyleAround) {
    const int32_t m = amplitude * 90 / 100;
    const double alpha = amplitude * 90.0 * fx::kWavePi / 18000.0;
    const int64_t rb = fx::CornerDistance(center, RECT{0, 0, bitmap->Width, bitmap->Height}, true);
    n = static_cast<int64_t>(std::sin(alpha) * static_cast<double>(rb)) * 2 + 9;
    if (n > bitmap->Height) n = bitmap->Height;
    if (n < 2) return HostNothingToDo();
    const int64_t rr = fx::CornerDistance(center, g.rect, false);
    if (rr - 1 == 0) return HostNothingToDo();
    g.scale = static_cast<double>(waves) * 2 * fx::kWavePi / static_cast<double>(rr - 1);
    g.damping = damping / 1000.0;
    g.turn = m * fx::kWavePi / 180.0;
    g.rowMax = n - 2;
  } else {
    const auto a = static_cast<int64_t>(amplitude * 0.707);
    if (a == 0) return HostNothingToDo();
    n = 2 * (a < 0 ? -a : a) + 1;
    g.pond = true;
    g.dampingLevel = damping;
    g.waves = waves / 100000.0;
    g.diagonal = std::sqrt(g.hw * g.hw + g.hh * g.hh);
    g.shiftHalf = static_cast<double>(a) / 2.0;
  }
  g.half = n / 2;
  return fx::ZigZagDriver(bitmap, g, fillColor, n);
}
