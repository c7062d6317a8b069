// Polar: converts the rectangle between rectangular and polar coordinates about its centre. In
// the default direction every row of the image becomes a ring around the centre and every column
// a ray (the image is wrapped around the centre); the other direction unrolls the rings into rows.
// Output pixels whose source lies outside the rectangle get the fill colour, the nearest edge
// colour, or keep their values.
//
// Extreme inputs: the squares w², h² and dx² + dy² are formed in 64 bits rather than wrapping in
// 32 (identical for every rectangle narrower and lower than 46341 pixels). A rectangle one pixel
// wide or one pixel high has no sensible polar mapping in either direction (the ring scale is
// infinite or undefined): every row is read and written back unchanged and the call succeeds.
#include <cmath>
#include <type_traits>

#include "frame/FillColor.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "frame/Samplers.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;
constexpr uint32_t kToRectangular = 0x10;

enum OutsideMode : uint32_t { kFill = 0, kNearestEdge = 1, kKeep = 2 };

struct PolarGeometry {
  RECT rect;
  int32_t cx;         // centre column, absolute
  int32_t cyr;        // centre row, relative to top
  int32_t rows;       // cache rows
  int32_t w, h;       // last column and last row index of the rectangle
  double ringScale;   // direction 0: (h / D · m)
  double angleScale;  // direction 0: w / T
  double D, m, T;
  uint32_t mode;
  PreparedColor fill;
};

// Samples (sx, sy) in range, or handles an outside position by the mode.
template <class T>
inline void Place(const PolarGeometry& g, T* const* cache, double sx, double sy, int32_t pixelStep,
                  int32_t width, T* pixel) {
  if (!(sx >= g.rect.left && sx < g.rect.right && sy >= 0 && sy < g.rows)) {
    if (g.mode == kKeep) return;
    if (g.mode == kFill) {
      WriteFill(pixel, pixelStep, g.fill);
      return;
    }
    sx = ClampToSpan(sx, g.rect.left, g.rect.right);
    sy = ClampToSpan(sy, 0, g.rows);
  }
  BilinearSample<T>(cache, sx, sy, g.rows, pixelStep, width, pixel);
}

// Rectangular to polar: the output pixel at radius r and angle θ shows source column θ along
// the width and source row r along the height.
template <class T>
void ToPolarRow(const PolarGeometry& g, T* const* cache, int32_t y, int32_t pixelStep,
                int32_t width, T* out) {
  const int64_t dy = int64_t{y - g.rect.top} - g.cyr;
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const int64_t dx = int64_t{x} - g.cx;
    const double r = std::sqrt(static_cast<double>(dx * dx + dy * dy));
    double theta = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
    if (theta < 0) theta = theta + g.T;
    const double sx = g.angleScale * theta + g.rect.left;
    const double sy = g.ringScale * r;
    Place<T>(g, cache, sx, sy, pixelStep, width, out + int64_t{x} * pixelStep);
  }
}

// Polar to rectangular: output row y is the ring of radius proportional to y, unrolled from
// angle 0 at the left edge to a full turn at the right edge.
template <class T>
void ToRectangularRow(const PolarGeometry& g, T* const* cache, int32_t y, int32_t pixelStep,
                      int32_t width, T* out) {
  const double rho = g.D * (y - g.rect.top) / g.h * (1 / g.m);
  const double step = g.T / g.w;
  for (int32_t i = 0; i <= g.w; ++i) {
    const double phi = step * i;
    const double sx = rho * std::cos(phi) + g.cx;
    const double sy = rho * std::sin(phi) + g.cyr;
    Place<T>(g, cache, sx, sy, pixelStep, width, out + (int64_t{g.rect.left} + i) * pixelStep);
  }
}

int32_t PolarDriver(BitmapRecord* bitmap, const PreparedColor& fill, uint32_t flags) {
  PolarGeometry g{};
  g.rect = ProcessRect(bitmap);
  g.cx = static_cast<int32_t>((int64_t{g.rect.left} + g.rect.right) / 2);
  g.cyr = static_cast<int32_t>((int64_t{g.rect.top} + g.rect.bottom) / 2 - g.rect.top);
  g.rows = g.rect.bottom - g.rect.top;
  g.w = g.rect.right - g.rect.left - 1;
  g.h = g.rect.bottom - g.rect.top - 1;
  const int64_t w2 = int64_t{g.w} * g.w, h2 = int64_t{g.h} * g.h;
  const bool thin = g.w == 0 || g.h == 0;  // no sensible mapping: rows stay as they are
  g.D = std::sqrt(static_cast<double>(w2) / 4.0 + static_cast<double>(h2) / 4.0);
  g.T = 2.0 * kPi;
  if (!thin) {
    g.m = g.D / ((g.w < g.h ? g.w : g.h) / 2.0);
    g.angleScale = g.w / g.T;
    g.ringScale = g.h / g.D * g.m;
  }
  g.mode = flags & 0x0F;
  g.fill = fill;
  const bool toRectangular = (flags & 0xF0) == kToRectangular;
  return RunOverCachedRect(bitmap, g.rect,
                           [&](auto rows, int32_t y, int32_t pixelStep, int32_t width, auto out,
                               uint8_t*) {
                             using T = std::remove_pointer_t<decltype(out)>;
                             if (thin) return;
                             if (toRectangular)
                               ToRectangularRow<T>(g, rows, y, pixelStep, width, out);
                             else
                               ToPolarRow<T>(g, rows, y, pixelStep, width, out);
                           });
}

const FxParamDesc kPolarParams[] = {
    ColorParam("fillColor", 0x000000,
               "colour of pixels whose source lies outside the rectangle (outside mode 0); bit 26 "
               "gives a 16-bit gray level directly"),
    FlagsParam("flags", 0, 0, kAnyUInt32Max,
               "bits 0-3: outside mode (0 fill, 1 nearest edge, 2 keep); bits 4-7: direction "
               "(0 rectangular to polar, 0x10 polar to rectangular)"),
};

const FxPreset kPolarPresets[] = {
    {"unroll", "flags=0x11"},
    {"wrap-edge", "flags=1"},
    {"wrap-keep", "flags=2"},
};

}  // namespace

extern const FxEffectDesc kPolarEffect = {
    "polar",
    "Fx_PolarBitmap",
    FX_FAMILY_DISTORTION,
    "Wraps the image around its centre (rows become rings) or unrolls the rings into rows",
    kPolarParams,
    CountOf(kPolarParams),
    [](BitmapRecord* b, const FxValue* v) { return Fx_PolarBitmap(b, ArgU32(v[0]), ArgU32(v[1])); },
    kPolarPresets,
    CountOf(kPolarPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_PolarBitmap(BitmapRecord* bitmap, uint32_t fillColor, uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap);
  if (rc != SUCCESS) return rc;
  const uint32_t direction = flags & 0xF0;
  if (direction != 0 && direction != fx::kToRectangular) return ERROR_POINT_OUT_OF_RANGE;
  if ((flags & 0x0F) > 2) return ERROR_INV_PARAMETER;
  fx::OrientationGuard orientation(bitmap);
  const RECT rect = fx::ProcessRect(bitmap);
  if (fx::IsEmpty(rect)) return ERROR_EMPTY_RECT;
  const fx::PreparedColor fill = fx::PrepareFillColor(bitmap, fillColor);
  return fx::PolarDriver(bitmap, fill, flags);
}
