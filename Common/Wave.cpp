// Wave: bends the image with a periodic wave running in a chosen direction. Two wave tables are
// computed once per call, one along the wave's direction and one across it (sine, cosine,
// square or triangle); every pixel of the rectangle takes its colour, through the interpolation
// weight table, from a position displaced by the two table values turned into the wave's
// direction. Sources off the bitmap get the fill colour, are interpolated from the edge, or
// leave the pixel. A window of 2·amplitude' + 1 source rows around the output row is enough.
//
// Extreme inputs: amplitude' = trunc(amplitude × 0.707) is kept in 64 bits (above 2^31 - 1 it
// is not wrapped to a negative window). The period product (count - 1) × wavelength is formed in
// 64 bits; a table of one computed entry (a picture under one pixel along the direction) takes
// 100 / wavelength periods; an extent under one pixel divides the phase by 1 (see Wave_sfx.h).
// Tables too large to count in 32 bits answer ERROR_NO_MEMORY.
#include <cmath>
#include <type_traits>

#include "Common/Wave_sfx.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

struct WaveCall {
  uint32_t wavelength, horizontalPercent, verticalPercent, flags;
  int32_t angle;  // 0 .. 18000
  int64_t half;   // amplitude'
  COLORREF fillColor;
};

// What a row needs: the rectangle turned into the wave's frame and the expanded tables.
struct WaveGeometry {
  RECT rect;
  int32_t width, height;
  double c, s, hw, hh;
  double shiftU, shiftV;  // (Lx - Wr) / 2, (Ly - Hr) / 2
  const double* expandedA;
  const double* expandedB;
  int64_t entriesA, entriesB;
  int64_t half;
  uint32_t edge;
  WaveFillPixels fill;
  const WaveWeights* weights;
};

template <class T, int kSamples>
void WaveRow(const WaveGeometry& g, const WaveRows<T>& rows, int32_t y, int32_t step, T* out) {
  constexpr uint32_t kDivisor = SampleTraits<T>::kWeightDivisor;
  const WaveFill<T>& fill = g.fill.For(T{});
  const double j = static_cast<double>(y - g.rect.top) - g.hh;
  const double sj = g.s * j, cj = g.c * j;
  const double half = static_cast<double>(g.half);
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const double i = static_cast<double>(x - g.rect.left) - g.hw;
    const double u = g.c * i - sj + g.shiftU + g.hw;
    const double v = g.s * i + cj + g.shiftV + g.hh;
    const double dA = ExpandedAt(g.expandedA, g.entriesA, u * 10.0);
    const double dB = ExpandedAt(g.expandedB, g.entriesB, v * 10.0);
    const double sx = g.s * dA + g.c * dB + x;
    const double sw = g.c * dA - g.s * dB + half;
    const double xi = std::trunc(sx);
    const int64_t wi = TruncSat(sw);
    const int64_t sourceRow = int64_t{y} + wi - g.half;
    T* pixel = out + int64_t{x} * step;
    if ((xi > g.width || xi < 0 || sourceRow < 0 || sourceRow > g.height) &&
        WaveOutside<T, kSamples>(g.edge, fill, pixel))
      continue;
    WaveSample<T, kDivisor, kSamples>(rows, *g.weights, sx, sw, wi, g.width, step, pixel);
  }
}

int32_t WaveDriver(BitmapRecord* bitmap, const WaveCall& call) {
  const int32_t width = bitmap->Width, height = bitmap->Height;
  const double a = call.angle * kWavePi / 18000.0;
  const double c = std::cos(a), s = std::sin(a);
  const int64_t countA = static_cast<int64_t>(std::fabs(width * c) + std::fabs(height * s)) + 1;
  const int64_t countB = static_cast<int64_t>(std::fabs(height * c) + std::fabs(width * s)) + 1;
  if (10 * countA > int64_t{UINT32_MAX} || 10 * countB > int64_t{UINT32_MAX})
    return ERROR_NO_MEMORY;

  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  HostBlock<double> tableA, tableB, expandedA, expandedB;
  WaveWeights weights;
  if (!tableA.Allocate(static_cast<uint32_t>(countA + 1)) ||
      !expandedB.Allocate(static_cast<uint32_t>(10 * countB)) ||
      !expandedA.Allocate(static_cast<uint32_t>(10 * countA)) ||
      !tableB.Allocate(static_cast<uint32_t>(countB + 1)) || !weights.Prepare())
    return ERROR_NO_MEMORY;

  // The rectangle turned into the wave's frame: u along the direction, v across it.
  WaveGeometry g{};
  g.rect = ProcessRect(bitmap);
  const int64_t wr = int64_t{g.rect.right} - g.rect.left, hr = int64_t{g.rect.bottom} - g.rect.top;
  const double lx = std::fabs(wr * c) + std::fabs(hr * s);
  const double ly = std::fabs(hr * c) + std::fabs(wr * s);
  const int64_t lxT = static_cast<int64_t>(lx), lyT = static_cast<int64_t>(ly);

  // The two tables: along the direction (verticalPercent of m) and across it.
  const double m = static_cast<double>(call.half) * 0.707;
  const double ampA = (call.verticalPercent / 100.0) * m;
  const double ampB = (call.horizontalPercent / 100.0) * m;
  const double periods =
      WavePeriods(countA, call.wavelength, (call.flags & kWaveUnitMask) == kWaveUnitCount);
  const auto shape = static_cast<WaveShape>(call.flags & kWaveShapeMask);
  FillWaveTable(tableA.get(), countA, shape, ampA, periods, lxT, false);
  FillWaveTable(tableB.get(), countB, shape, ampB, periods, lyT, true);
  if (shape == kWaveTriangle) {
    rc = ReshapeTriangle(tableA.get(), countA, periods * countA / (lxT + 1),
                         call.verticalPercent * m / 100, false);
    if (rc == SUCCESS)
      rc = ReshapeTriangle(tableB.get(), countB, periods * countB / (lyT + 1),
                           call.horizontalPercent * m / 100, true);
    if (rc != SUCCESS) return rc;
  }
  HostExpandTable(expandedA.get(), tableA.get(), static_cast<uint32_t>(10 * countA));
  HostExpandTable(expandedB.get(), tableB.get(), static_cast<uint32_t>(10 * countB));

  g.width = width;
  g.height = height;
  g.c = c;
  g.s = s;
  g.hw = static_cast<double>(wr) / 2.0;
  g.hh = static_cast<double>(hr) / 2.0;
  g.shiftU = (lx - static_cast<double>(wr)) / 2;
  g.shiftV = (ly - static_cast<double>(hr)) / 2;
  g.expandedA = expandedA.get();
  g.expandedB = expandedB.get();
  g.entriesA = 10 * countA;
  g.entriesB = 10 * countB;
  g.half = call.half;
  g.edge = call.flags & kWaveEdgeMask;
  g.fill = MakeWaveFill(call.fillColor, access.PixelStep());
  g.weights = &weights;
  const int32_t step = access.PixelStep();
  return RunWaveRows(bitmap, access, g.rect, WaveWindowPlan{2 * call.half + 1},
                     [&](int32_t y, const auto& rows, auto* out, auto samples) {
                       using T = std::remove_pointer_t<decltype(out)>;
                       WaveRow<T, decltype(samples)::value>(g, rows, y, step, out);
                     });
}

inline constexpr FxFlagValue kShapeValues[] = {
    {"sine", kWaveSine, "sine wave"},
    {"cosine", kWaveCosine, "cosine wave (the sine shifted by a quarter period)"},
    {"square", kWaveSquare, "square wave"},
    {"triangle", kWaveTriangle, "triangle wave (straight segments between the turns)"},
};
inline constexpr FxFlagField kWaveFlagFields[] = {
    kWaveEdgeField,
    kWaveUnitField,
    FlagField("shape", kWaveShapeMask, kShapeValues, "shape of the wave"),
};

const FxParamDesc kWaveParams[] = {
    UIntParam("amplitude", 20, 0, kAnyUInt32Max,
              "size of the wave: displacements reach about amplitude / 2 pixels; below 2 does "
              "nothing"),
    UIntParam("wavelength", 10, 0, kAnyUInt32Max,
              "wave length in percent of the extent (1..100), or the number of waves (unit "
              "count); 0 does nothing"),
    IntParam("angle", 0, -18000, 18000,
             "direction of the wave in hundredths of a degree (modulo 180 degrees)"),
    UIntParam("horizontalPercent", 0, 0, 100,
              "share of the amplitude displacing across the direction (at angle 0: rows shift "
              "sideways)"),
    UIntParam("verticalPercent", 100, 0, 100,
              "share of the amplitude displacing along the direction (at angle 0: columns shift "
              "up and down)"),
    ColorParam("fillColor", 0x000000, "colour of pixels whose source is off the bitmap (fill)"),
    FlagsParam("flags", kWaveEdge, 0, kAnyUInt32Max,
               "bits 0-3 outside: 0 fill, 1 edge, 2 keep; bits 4-7 unit: 0 percent, 0x10 count; "
               "bits 8-11 shape: 0 sine, 0x100 cosine, 0x200 square, 0x300 triangle",
               kWaveFlagFields),
};

const FxPreset kWavePresets[] = {
    {"gentle", "amplitude=2.5%s wavelength=25"},
    {"square", "amplitude=3.3334%s wavelength=8 outside=edge shape=square"},
    {"diagonal-triangle", "amplitude=6.25%s wavelength=6 angle=4500 horizontalPercent=40 unit=count shape=triangle"},
    {"both-axes",
     "amplitude=5%s wavelength=20 horizontalPercent=100 outside=fill shape=cosine "
     "fillColor=#203040"},
};

}  // namespace

extern const FxEffectDesc kWaveEffect = {
    "wave",
    "Fx_WaveBitmap",
    FX_FAMILY_DISTORTION,
    "Bends the image with a periodic wave (sine, cosine, square or triangle) in any direction",
    kWaveParams,
    CountOf(kWaveParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_WaveBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgI32(v[2]), ArgU32(v[3]), ArgU32(v[4]),
                           ArgU32(v[5]), ArgU32(v[6]));
    },
    kWavePresets,
    CountOf(kWavePresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_WaveBitmap(BitmapRecord* bitmap, uint32_t amplitude, uint32_t wavelength, int32_t angle,
                      uint32_t horizontalPercent, uint32_t verticalPercent, uint32_t fillColor,
                      uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  const auto half = static_cast<int64_t>(amplitude * 0.707);
  if (half == 0 || wavelength == 0) return HostNothingToDo();
  const uint32_t unit = flags & fx::kWaveUnitMask;
  if (horizontalPercent > 100 || verticalPercent > 100 || angle < -18000 || angle > 18000 ||
      (flags & fx::kWaveShapeMask) > fx::kWaveTriangle ||
      (flags & fx::kWaveEdgeMask) > fx::kWaveKeep ||
      (unit != fx::kWaveUnitPercent && unit != fx::kWaveUnitCount) ||
      (wavelength > 100 && unit == fx::kWaveUnitPercent))
    return ERROR_INV_PARAMETER;
  if (angle < 0) angle += 18000;
  fx::OrientationGuard orientation(bitmap);
  return fx::WaveDriver(
      bitmap, {wavelength, horizontalPercent, verticalPercent, flags, angle, half, fillColor});
}
