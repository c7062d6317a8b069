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

// Scratch of one row: five doubles and an index per pixel of the rectangle's width.
size_t SwirlScratchBytes(const RECT& rect) {
  return (size_t(rect.right) - size_t(rect.left)) * (5 * sizeof(double) + sizeof(int32_t));
}

// True when (dx, dy) lies outside the rim in exact arithmetic by a margin far beyond the
// rounding of the row's floating-point test r > R: r > R means r^4 > a²dx² + b²dy², since
// R² = a²cos²θ + b²sin²θ with cos θ = dx / r, sin θ = dy / r. Such pixels keep their values.
inline bool SurelyOutside(const SwirlGeometry& g, int64_t dx, int64_t dy, double r2) {
  const double bound = static_cast<double>(g.a2) * static_cast<double>(dx * dx) +
                       static_cast<double>(g.b2) * static_cast<double>(dy * dy);
  return r2 * r2 > bound * 1.000001;
}

// One output row, staged so that the libm calls of different pixels overlap: the pixels that
// may move and their radii, then every angle, every sine and cosine, every rim radius and
// logarithm, every turned sine and cosine, and last the samples. Each value is computed exactly
// as the per-pixel arithmetic computes it (sincos gives the bits of sin and cos).
template <class T>
void SwirlRow(const SwirlGeometry& g, T* const* cache, int32_t y, int32_t pixelStep, int32_t width,
              T* out, uint8_t* scratch) {
  const int32_t n = g.rect.right - g.rect.left;
  double* r = reinterpret_cast<double*>(scratch);
  double* theta = r + n;
  double* c = theta + n;
  double* s = c + n;
  double* ratio = s + n;
  auto* xs = reinterpret_cast<int32_t*>(ratio + n);
  const int32_t dy = y - g.cy;
  const double fdy = dy;
  int32_t m = 0;
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const int32_t dx = x - g.cx;
    if (dx == 0 && dy == 0) continue;
    const double r2 = static_cast<double>(int64_t{dx} * dx + int64_t{dy} * dy);
    if (SurelyOutside(g, dx, dy, r2)) continue;
    xs[m] = x;
    r[m++] = std::sqrt(r2);
  }
  for (int32_t i = 0; i < m; ++i) {
    const double t = std::atan2(fdy, static_cast<double>(xs[i] - g.cx));
    theta[i] = t < 0 ? t + kPi * 2.0 : t;
  }
  for (int32_t i = 0; i < m; ++i) ::sincos(theta[i], &s[i], &c[i]);
  for (int32_t i = 0; i < m; ++i)
    c[i] = std::sqrt(static_cast<double>(g.a2) * c[i] * c[i] +
                     static_cast<double>(g.b2) * s[i] * s[i]);  // the rim radius R
  for (int32_t i = 0; i < m; ++i) ratio[i] = c[i] / r[i];
  // The turn t; pixels on or beyond the rim, and those not turned, keep their values.
  int32_t k = 0;
  for (int32_t i = 0; i < m; ++i) {
    const double t = std::log(ratio[i]) * g.turn;
    if (t == 0 || r[i] > c[i]) continue;
    xs[k] = xs[i];
    r[k] = r[i];
    theta[k++] = theta[i] + t;
  }
  for (int32_t i = 0; i < k; ++i) ::sincos(theta[i], &s[i], &c[i]);
  for (int32_t i = 0; i < k; ++i) {
    const double sx = ClampToSpan(r[i] * c[i] + g.cx, g.rect.left, g.rect.right);
    const double sy = ClampToSpan(r[i] * s[i] + g.cy - g.rect.top, 0, g.rows);
    BilinearSample<T>(cache, sx, sy, g.rows, pixelStep, width, out + int64_t{xs[i]} * pixelStep);
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
  return RunOverCachedRect(
      bitmap, g.rect,
      [&](auto* const* cache, int32_t y, int32_t pixelStep, int32_t width, auto* out,
          uint8_t* scratch) { SwirlRow(g, cache, y, pixelStep, width, out, scratch); },
      SwirlScratchBytes(g.rect));
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
