// Ripple: concentric waves spread from a centre point, as on a water surface. Every pixel takes
// the colour found a damped sine of its distance further along the ray from the centre; pixels
// whose source falls outside the rectangle get the fill colour, the nearest edge colour, or keep
// their values. Only a window of 2·amplitude + 1 source rows is held in memory.
//
// Extreme inputs: the window size 2·amplitude + 1 is formed in 64 bits, so an amplitude of 2^30
// or more selects the whole-rectangle window instead of wrapping to a negative size. The
// reference distance is never zero (the centre lies in the rectangle grown by one pixel, so the
// larger of the two distances to the rectangle's sides is at least one pixel).
#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame/FillColor.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "frame/Samplers.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;

enum OutsideMode : uint32_t { kFill = 0, kNearestEdge = 1, kKeep = 2 };

struct RippleWave {
  RECT rect;
  int32_t cx, cy;
  double amplitude;
  double omega;    // frequency / R × 2π
  double phase;    // radians
  double damping;  // attenuation / R / 10
  uint32_t mode;
  PreparedColor fill;
};

// One output row. `window` holds the source rows, row y at index w; rowCount entries.
template <class T>
void RippleRow(const RippleWave& g, T* const* window, int32_t rowCount, int32_t w, int32_t y,
               int32_t pixelStep, int32_t width, T* out) {
  const double dy = static_cast<double>(y) - g.cy;
  const double dy2 = dy * dy;
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const double dx = static_cast<double>(x) - g.cx;
    const double r = std::sqrt(dx * dx + dy2);
    const double theta = std::atan2(dy, dx);
    const double d = g.amplitude * std::sin(r * g.omega + g.phase) / (1.0 + r * g.damping);
    double sx = x + d * std::cos(theta);
    double oy = d * std::sin(theta);
    const double sy = y + oy;
    T* pixel = out + int64_t{x} * pixelStep;
    if (!(sx < g.rect.right && sx >= g.rect.left && sy < g.rect.bottom && sy >= g.rect.top)) {
      if (g.mode == kKeep) continue;
      if (g.mode == kFill) {
        WriteFill(pixel, pixelStep, g.fill);
        continue;
      }
      sx = ClampToSpan(sx, g.rect.left, g.rect.right);
      if (sy >= g.rect.bottom)
        oy = g.rect.bottom - 1 - y;
      else if (sy < g.rect.top)
        oy = g.rect.top - y;
    }
    BilinearSample<T>(window, sx, w + oy, rowCount, pixelStep, width, pixel);
  }
}

int32_t RippleDriver(BitmapRecord* bitmap, const RECT& rect, const RippleWave& g,
                     int32_t amplitude) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t pixelStep = access.PixelStep();
  const int32_t width = bitmap->Width, height = bitmap->Height;
  const int32_t rectH = rect.bottom - rect.top;
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  const size_t windowBytes = rowBytes + 4 * size_t(pixelStep);

  // The window reaches `amplitude` rows above and below the output row.
  const int64_t n = 2 * int64_t{amplitude} + 1;
  RowWindow window;
  rc = n >= rectH ? window.AllocateWhole(rectH, windowBytes)
                  : window.AllocateSliding(static_cast<int32_t>(n), windowBytes);
  if (rc != SUCCESS) return rc;
  RowSlots slots;
  if (!slots.Allocate(windowBytes, window.ViewBytes())) return ERROR_NO_MEMORY;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  if (!window.sliding()) {
    rc = window.ReadWhole(access, rect.top);
    if (rc != SUCCESS) return rc;
  }

  return WithSampleType(access.SampleBits(), [&](auto sample) -> int32_t {
    using T = decltype(sample);
    const int32_t rows = window.size();
    return window.Run(
        access, slots, rect.top, rect.bottom, height, rect.top, rect.right - rect.left,
        [&](int32_t y, uint8_t* const* source, int32_t w, uint8_t* out, uint8_t*) {
          std::memcpy(out, source[w], rowBytes);
          RippleRow<T>(g, reinterpret_cast<T* const*>(source), rows, w, y, pixelStep, width,
                       reinterpret_cast<T*>(out));
        },
        DiscardRead(access, slots), WriteRow(access));
  });
}

const FxParamDesc kRippleParams[] = {
    IntParam("amplitude", 10, 0, kAnyInt32Max, "largest displacement in pixels; 0 does nothing"),
    IntParam("frequency", 10, 1, kAnyInt32Max,
             "wave periods between the centre and the farthest corner of the rectangle"),
    IntParam("phase", 0, -36000, 36000, "phase of the wave in hundredths of a degree"),
    IntParam("attenuation", 100, 0, 1000, "damping with the distance from the centre; 0 none"),
    CenterParam("center", "centre of the ripples; inside the rectangle grown by one pixel"),
    ColorParam("fillColor", 0x000000,
               "colour of pixels whose source lies outside the rectangle (flags 0); bit 26 gives "
               "a 16-bit gray level directly"),
    FlagsParam("flags", 1, 0, 2,
               "source outside the rectangle: 0 fill colour, 1 nearest edge, 2 keep the pixel"),
};

const FxPreset kRipplePresets[] = {
    {"pond", "amplitude=4 frequency=20 attenuation=0"},
    {"splash", "amplitude=30 frequency=5 attenuation=200 phase=9000"},
    {"fill", "amplitude=15 frequency=8 flags=0 fillColor=#204080"},
};

}  // namespace

extern const FxEffectDesc kRippleEffect = {
    "ripple",
    "Fx_RippleBitmap",
    FX_FAMILY_DISTORTION,
    "Spreads damped concentric ripples from a centre point, as on a water surface",
    kRippleParams,
    CountOf(kRippleParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_RippleBitmap(b, ArgI32(v[0]), ArgI32(v[1]), ArgI32(v[2]), ArgI32(v[3]), v[4].pt,
                             ArgU32(v[5]), ArgU32(v[6]));
    },
    kRipplePresets,
    CountOf(kRipplePresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_RippleBitmap(BitmapRecord* bitmap, int32_t amplitude, int32_t frequency, int32_t phase,
                        int32_t attenuation, POINT center, uint32_t fillColor, uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap);
  if (rc != SUCCESS) return rc;
  if (flags > 2) return ERROR_INV_PARAMETER;
  if (amplitude == 0) {
    HostNothingToDo();
    return SUCCESS;
  }
  if (amplitude < 0 || frequency <= 0 || phase < -36000 || phase > 36000 || attenuation < 0 ||
      attenuation > 1000)
    return ERROR_POINT_OUT_OF_RANGE;
  fx::OrientationGuard orientation(bitmap);
  const RECT rect = fx::ProcessRect(bitmap);
  if (fx::IsEmpty(rect)) return ERROR_EMPTY_RECT;
  if (!fx::CenterInGrownRect(rect, center)) return ERROR_POINT_OUT_OF_RANGE;

  fx::RippleWave g{};
  g.rect = rect;
  g.cx = center.x;
  g.cy = center.y;
  const int64_t dxMax = std::max(int64_t{center.x} - rect.left, int64_t{rect.right} - center.x);
  const int64_t dyMax = std::max(int64_t{center.y} - rect.top, int64_t{rect.bottom} - center.y);
  const double R = std::sqrt(static_cast<double>(dxMax) * static_cast<double>(dxMax) +
                             static_cast<double>(dyMax) * static_cast<double>(dyMax));
  g.amplitude = amplitude;
  g.damping = attenuation / R / 10.0;
  g.omega = frequency / R * (2.0 * fx::kPi);
  g.phase = phase * fx::kPi / 18000.0;
  g.mode = flags;
  g.fill = fx::PrepareFillColor(bitmap, fillColor);
  return fx::RippleDriver(bitmap, rect, g, amplitude);
}
