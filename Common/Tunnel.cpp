// Tunnel: shows the rectangle as the inside wall of a cylindrical tunnel seen by a viewer looking
// down its axis. A ray through each output pixel meets the wall; the angle around the axis and
// the depth along it pick a position in the image (tiled along the depth, endlessly or a given
// number of times), and the colour there is faded toward a fade colour with the ray's length.
// The vanishing point and pixels beyond the last tile get the fill colour or keep their values.
//
// Extreme inputs (ordinary inputs give the literal pixels):
// - The fade slope uses the signed difference fadeEnd - fadeStart, so a fade that weakens
//   along the tunnel works; fadeDistance × 100 is formed in 64 bits.
// - fadeDistance 0 means the fade has already reached its end: every hit is faded by
//   fadeEnd / 100 (the limit of an ever shorter fade distance), with no division by zero.
// - radius² is formed in 64 bits; dx², dy², viewDistance² and their sum in double precision
//   (exact, and equal to the 32-bit values while each coordinate stays below 46341 and the sum
//   below 2^31), so a large radius or view distance gives a sensible tunnel rather than a
//   wrapped, negative square. dx and dy are exact for any centre.
// - The vanishing point is tested before the ray is normalised, so a viewDistance of 0 never
//   divides zero by zero there.
// - The tile number and the position within the tile are formed in double precision: no 32-bit
//   wrap for hits extremely deep down the tunnel.
// - A rectangle one pixel wide (layout 0x20) or one pixel high (layout 0x10) has a single
//   position around the axis: the rotation offset is 0 and every hit samples that one column
//   (or row). Every sample position is clamped to the cache by the sampler.
#include <cmath>

#include "frame/FillColor.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "frame/Samplers.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;
constexpr uint32_t kAngleAlongRows = 0x10;     // layout: angle down the rows, depth across
constexpr uint32_t kAngleAlongColumns = 0x20;  // layout: angle across the columns, depth down
constexpr uint32_t kModeFill = 1;
constexpr uint32_t kModeKeep = 2;

// The tunnel's own colour preparation: bit 26 gives a 16-bit gray level at every depth (its
// high byte at 8 bits), and gray data mixes the three components with >> 3.
PreparedColor PrepareTunnelColor(const BitmapRecord* bitmap, uint32_t c) {
  uint32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
  const bool literalGray = (c & 0x04000000u) != 0;
  if (literalGray) r = g = b = (c & 0xFFFF) >> 8;
  const int32_t bpp = bitmap->BitsPerPixel;
  if (bpp == 12 || bpp == 16 || bpp == 48 || bpp == 64) {
    if (literalGray) {
      r = g = b = c & 0xFFFF;
    } else {
      r <<= 8;
      g <<= 8;
      b <<= 8;
    }
  }
  if (bitmap->Order == ORDER_GRAY) r = g = b = (b + 5 * g + 2 * r) >> 3;
  return PreparedColor{r, g, b};
}

struct TunnelView {
  RECT rect;
  int32_t rectW, rectH;
  double cx, cy;
  double Z;       // viewDistance
  double Q;       // radius²
  double s;       // depthScale / 100
  double offset;  // depthOffset
  int32_t repeat;
  double fadeSlope, fadeBase;
  int32_t off;  // rotation offset around the axis, in texture pixels
  bool angleAlongColumns;
  bool fillMode;
  PreparedColor fill, fade;
};

template <class T>
inline void FadeSamples(T* pixel, int32_t count, const uint32_t* fade, double f) {
  constexpr double kMax = SampleTraits<T>::kMax;
  for (int32_t k = 0; k < count; ++k) {
    double v = pixel[k] * (1 - f) + fade[k] * f;
    if (v < 0) v = 0;
    if (v > kMax) v = kMax;
    pixel[k] = static_cast<T>(v);
  }
}

template <class T>
void TunnelRow(const TunnelView& g, T* const* cache, int32_t y, int32_t pixelStep, int32_t width,
               T* out) {
  constexpr double kTwoPi = 2.0 * kPi;
  const double dy = static_cast<double>(y) - g.cy;
  const double dy2 = dy * dy, z2 = g.Z * g.Z;
  const int32_t count = IsColorPixel(pixelStep) ? 3 : 1;
  const uint32_t fade[3] = {g.fade.b, g.fade.g, g.fade.r};
  const int32_t around = (g.angleAlongColumns ? g.rectW : g.rectH) - 1;
  const double tile = g.angleAlongColumns ? g.rectH : g.rectW;
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    T* pixel = out + int64_t{x} * pixelStep;
    const double dx = static_cast<double>(x) - g.cx;
    // The vanishing point has no hit (and no ray direction when the viewer is in the plane).
    if (dx == 0 && dy == 0) {
      if (g.fillMode) WriteFill(pixel, pixelStep, g.fill);
      continue;
    }
    const double L = std::sqrt(dx * dx + dy2 + z2);
    const double ux = dx / L, uy = dy / L, uz = g.Z / L;
    const double a = ux * ux + uy * uy;
    const double disc = -4.0 * a * (-g.Q);
    if (disc < 0) {
      if (g.fillMode) WriteFill(pixel, pixelStep, g.fill);
      continue;
    }
    // The ray length |min(√disc / 2a, −√disc / 2a)|: the two roots differ only in sign, so it
    // is the positive one, with the same bits.
    const double t = std::sqrt(disc) / (2 * a);
    const double hx = t * ux, hy = t * uy, hz = t * uz + g.Z;
    const double depth = std::fabs(hz) * g.s + g.offset;
    const double beta = std::atan2(hy, hx) + kPi;
    double u = std::fabs(beta * around / kTwoPi) + g.off;
    if (u > around) u = u - around;
    const double n = std::trunc(depth / tile);
    if (g.repeat != -1 && !(n < g.repeat)) {
      if (g.fillMode) WriteFill(pixel, pixelStep, g.fill);
      continue;
    }
    if (g.angleAlongColumns)
      BilinearSample<T>(cache, u + g.rect.left, depth - n * tile, g.rectH, pixelStep, width, pixel);
    else
      BilinearSample<T>(cache, depth - n * tile + g.rect.left, u, g.rectH, pixelStep, width, pixel);
    double f = std::fabs(t) * g.fadeSlope + g.fadeBase;
    if (f < 0) f = 0;
    if (f > 1) f = 1;
    FadeSamples<T>(pixel, count, fade, f);
  }
}

struct TunnelParams {
  POINT center;
  int32_t depthOffset, viewDistance, radius, repeat, rotation, depthScale;
  uint32_t fadeStart, fadeEnd;
  int32_t fadeDistance;
  PreparedColor fade, fill;
  uint32_t flags;
};

int32_t TunnelDriver(BitmapRecord* bitmap, const TunnelParams& p) {
  TunnelView g{};
  g.rect = ProcessRect(bitmap);
  g.rectW = g.rect.right - g.rect.left;
  g.rectH = g.rect.bottom - g.rect.top;
  g.cx = p.center.x;
  g.cy = p.center.y;
  g.Z = p.viewDistance;
  g.Q = static_cast<double>(int64_t{p.radius} * p.radius);
  g.s = p.depthScale / 100.0;
  g.offset = p.depthOffset;
  g.repeat = p.repeat;
  const int32_t fadeDiff = static_cast<int32_t>(p.fadeEnd) - static_cast<int32_t>(p.fadeStart);
  if (p.fadeDistance != 0) {
    g.fadeSlope = fadeDiff / (static_cast<double>(int64_t{p.fadeDistance} * 100) * 100.0);
    g.fadeBase = p.fadeStart / 100.0;
  } else {
    g.fadeSlope = 0;
    g.fadeBase = p.fadeEnd / 100.0;
  }
  g.angleAlongColumns = (p.flags & 0xFFF0) == kAngleAlongColumns;
  const int64_t around = int64_t{g.angleAlongColumns ? g.rectW : g.rectH} - 1;
  g.off = around == 0 ? 0 : static_cast<int32_t>(p.rotation % around);
  g.fillMode = (p.flags & 0xFF0F) == kModeFill;
  g.fill = p.fill;
  g.fade = p.fade;

  return RunOverCachedRect(bitmap, g.rect,
                           [&](auto rows, int32_t y, int32_t pixelStep, int32_t width, auto out,
                               uint8_t*) {
                             TunnelRow(g, rows, y, pixelStep, width, out);
                           });
}

const FxParamDesc kTunnelParams[] = {
    CenterParam("center", "vanishing point (the tunnel's axis); may lie off the image"),
    IntParam("depthOffset", 0, kAnyInt32Min, kAnyInt32Max,
             "added to the depth of every hit: moves the texture along the tunnel"),
    IntParam("viewDistance", 200, kAnyInt32Min, kAnyInt32Max,
             "distance of the viewer from the image plane, in pixels"),
    IntParam("radius", 100, kAnyInt32Min, kAnyInt32Max, "radius of the tunnel, in pixels"),
    IntParam("repeat", -1, -1, kAnyInt32Max,
             "texture tiles along the depth; -1 endless, 0 none (all filled or kept)"),
    IntParam("rotation", 0, 0, kAnyInt32Max, "offset of the texture around the axis, in pixels"),
    IntParam("depthScale", 100, kAnyInt32Min, kAnyInt32Max, "percentage applied to the depth"),
    UIntParam("fadeStart", 0, 0, 100, "fade percentage at the viewer"),
    UIntParam("fadeEnd", 100, 0, 100, "fade percentage at the fade distance"),
    IntParam("fadeDistance", 50, kAnyInt32Min, kAnyInt32Max,
             "ray length over which the fade goes from fadeStart to fadeEnd, in hundreds of "
             "pixels; 0 fades every hit by fadeEnd"),
    ColorParam("fadeColor", 0x000000,
               "colour the texture fades toward; bit 26 gives a 16-bit gray level directly"),
    ColorParam("fillColor", 0x000000,
               "colour of the vanishing point and of pixels beyond the last tile (mode 1)"),
    FlagsParam("flags", 0x21, 0x11, kAnyUInt32Max,
               "layout 0x10 (angle down the rows) or 0x20 (angle across the columns), plus mode "
               "1 (fill) or 2 (keep)"),
};

const FxPreset kTunnelPresets[] = {
    {"three-tiles", "repeat=3 fillColor=#102030"},
    {"sideways", "flags=0x12 viewDistance=400 radius=60 rotation=120"},
    {"into-the-light", "fadeStart=80 fadeEnd=20 fadeDistance=20 fadeColor=#FFFFFF"},
};

}  // namespace

extern const FxEffectDesc kTunnelEffect = {
    "tunnel",
    "Fx_TunnelBitmap",
    FX_FAMILY_DISTORTION,
    "Shows the image as the inside wall of a tunnel, tiled along its depth and faded",
    kTunnelParams,
    CountOf(kTunnelParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_TunnelBitmap(b, v[0].pt, ArgI32(v[1]), ArgI32(v[2]), ArgI32(v[3]), ArgI32(v[4]),
                             ArgI32(v[5]), ArgI32(v[6]), ArgU32(v[7]), ArgU32(v[8]), ArgI32(v[9]),
                             ArgU32(v[10]), ArgU32(v[11]), ArgU32(v[12]));
    },
    kTunnelPresets,
    CountOf(kTunnelPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_TunnelBitmap(BitmapRecord* bitmap, POINT center, int32_t depthOffset,
                        int32_t viewDistance, int32_t radius, int32_t repeat, int32_t rotation,
                        int32_t depthScale, uint32_t fadeStart, uint32_t fadeEnd,
                        int32_t fadeDistance, uint32_t fadeColor, uint32_t fillColor,
                        uint32_t flags) {
  int32_t rc = fx::CheckBitmapPresent(bitmap, false);
  if (rc == SUCCESS) rc = fx::CheckBitmapRecord(bitmap);
  if (rc == SUCCESS) rc = fx::CheckBitmapPresent(bitmap);
  if (rc != SUCCESS) return rc;
  if (repeat < -1 || fadeStart > 100 || fadeEnd > 100 || rotation < 0) return ERROR_INV_PARAMETER;
  const uint32_t layout = flags & 0xFFF0, mode = flags & 0xFF0F;
  if ((layout != fx::kAngleAlongRows && layout != fx::kAngleAlongColumns) ||
      (mode != fx::kModeFill && mode != fx::kModeKeep))
    return ERROR_INV_PARAMETER;
  const fx::TunnelParams p{center,
                           depthOffset,
                           viewDistance,
                           radius,
                           repeat,
                           rotation,
                           depthScale,
                           fadeStart,
                           fadeEnd,
                           fadeDistance,
                           fx::PrepareTunnelColor(bitmap, fadeColor),
                           fx::PrepareTunnelColor(bitmap, fillColor),
                           flags};
  fx::OrientationGuard orientation(bitmap);
  return fx::TunnelDriver(bitmap, p);
}
