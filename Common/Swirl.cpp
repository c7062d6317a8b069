// Swirl: twists the image around a centre point. Inside the ellipse inscribed in the rectangle,
// each pixel takes the colour at the same distance from the centre but turned by an angle that
// grows with the logarithm of how far inside the rim it lies; the rim, everything outside it
// and the centre pixel keep their values.
//
// Extreme inputs: the squares dx² + dy², a² and b² are formed in 64 bits rather than wrapping
// in 32 (identical for every rectangle narrower than 46341 pixels). A rectangle of zero rows
// allocates an empty cache and returns SUCCESS with nothing changed.
#include <cmath>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "frame/Samplers.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;

struct SwirlGeometry {
  RECT rect;
  int32_t cx, cy;
  int64_t a2, b2;  // squared half-axes of the ellipse
  int32_t rows;    // H, the cache height
  double turn;     // angle / 180.0
};

template <class T>
void SwirlRow(const SwirlGeometry& g, T* const* cache, int32_t y, int32_t pixelStep, int32_t width,
              T* out) {
  const int32_t dy = y - g.cy;
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const int32_t dx = x - g.cx;
    if (dx == 0 && dy == 0) continue;
    const double r = std::sqrt(static_cast<double>(int64_t{dx} * dx + int64_t{dy} * dy));
    double theta = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
    if (theta < 0) theta = theta + kPi * 2.0;
    const double c = std::cos(theta), s = std::sin(theta);
    const double bigR =
        std::sqrt(static_cast<double>(g.a2) * c * c + static_cast<double>(g.b2) * s * s);
    const double t = std::log(bigR / r) * g.turn;
    if (t == 0 || r > bigR) continue;
    const double phi = theta + t;
    const double sx = ClampToSpan(r * std::cos(phi) + g.cx, g.rect.left, g.rect.right);
    const double sy = ClampToSpan(r * std::sin(phi) + g.cy - g.rect.top, 0, g.rows);
    BilinearSample<T>(cache, sx, sy, g.rows, pixelStep, width, out + int64_t{x} * pixelStep);
  }
}

int32_t SwirlDriver(BitmapRecord* bitmap, int32_t angle, POINT center) {
  SwirlGeometry g;
  g.rect = ProcessRect(bitmap);
  g.cx = center.x;
  g.cy = center.y;
  const int64_t a = (int64_t{g.rect.right} - g.rect.left) / 2;
  const int64_t b = (int64_t{g.rect.bottom} - g.rect.top) / 2;
  g.a2 = a * a;
  g.b2 = b * b;
  g.rows = g.rect.bottom - g.rect.top;
  g.turn = angle / 180.0;
  return RunOverCachedRect(bitmap, g.rect,
                           [&](auto* const* cache, int32_t y, int32_t pixelStep, int32_t width,
                               auto* out, uint8_t*) { SwirlRow(g, cache, y, pixelStep, width, out); });
}

const FxParamDesc kSwirlParams[] = {
    IntParam("angle", 400, kAnyInt32Min, kAnyInt32Max,
             "twist: at a distance of R/e the image turns by angle/180 radians; sign sets the "
             "sense; 0 does nothing"),
    CenterParam("center", "centre of the twist; inside the rectangle grown by one pixel"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kSwirlPresets[] = {
    {"strong", "angle=3000"},
    {"reverse", "angle=-1500"},
};

}  // namespace

extern const FxEffectDesc kSwirlEffect = {
    "swirl",
    "Fx_SwirlBitmap",
    FX_FAMILY_DISTORTION,
    "Twists the image around a centre point, strongest near the centre",
    kSwirlParams,
    CountOf(kSwirlParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_SwirlBitmap(b, ArgI32(v[0]), v[1].pt, ArgU32(v[2]));
    },
    kSwirlPresets,
    CountOf(kSwirlPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_SwirlBitmap(BitmapRecord* bitmap, int32_t angle, POINT center, uint32_t flags) {
  if (flags != 0) return ERROR_INV_PARAMETER;
  int32_t rc = fx::CheckBitmap(bitmap);
  if (rc != SUCCESS) return rc;
  if (angle == 0) {
    HostNothingToDo();
    return SUCCESS;
  }
  fx::OrientationGuard orientation(bitmap);
  const RECT rect = fx::ProcessRect(bitmap);
  if (!fx::CenterInGrownRect(rect, center)) return ERROR_POINT_OUT_OF_RANGE;
  return fx::SwirlDriver(bitmap, angle, center);
}
