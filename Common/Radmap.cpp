// Free radial bend: every pixel moves along the ray from a centre point by a displacement that
// depends only on its distance from the centre and that the caller draws as a free curve,
// stretched over the largest distance from the centre and scaled by an amount in pixels. The
// colour comes, bilinearly interpolated, from the displaced distance on the same ray; sources
// outside the rectangle get a fill colour, the nearest edge, or leave the pixel. A window of
// 2·amount + 1 rows (or the whole rectangle) is held, as ripple holds it.
//
// Extreme inputs: a null curve or a curveCount beyond 2^31 - 1 answers ERROR_INV_PARAMETER like
// a curveCount of 0. The window size 2·amount + 1 is formed in 64 bits, so amounts of 2^31 and
// more select the whole-rectangle window instead of wrapping. The squares dx² and dy² and their
// sum are formed in 64 bits (identical below 46341 pixels). A profile of one entry would divide
// 0 by 0; it cannot arise (the largest distance is at least sqrt(2)), and would change nothing.
// A profile too long to allocate answers ERROR_NO_MEMORY.
#include <algorithm>
#include <cmath>

#include "Common/RippleWindow.h"
#include "Common/Sphere.h"
#include "Common/XYRemap.h"
#include "frame/FillColor.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/Samplers.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

// The fill colour of this effect: the distortions' preparation, with the gray mix applied by
// Order 2 rather than by asking the host.
PreparedColor PrepareRadFill(const BitmapRecord* bitmap, uint32_t colour) {
  uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  const int32_t bpp = bitmap->BitsPerPixel;
  if (bpp == 12 || bpp == 16 || bpp == 48 || bpp == 64) {
    r <<= 8, g <<= 8, b <<= 8;
    if ((bpp == 12 || bpp == 16) && HostIsGrayscale(bitmap) && (colour & 0x04000000u))
      r = g = b = colour & 0xFFFF;
  }
  if (bitmap->Order == ORDER_GRAY) r = g = b = (b + 5 * g + 2 * r) / 8;
  return PreparedColor{r, g, b};
}

struct RadBend {
  RECT rect;
  RadialOptions o;
  const double* table;  // displacement at distance i from the centre, i = 0 .. n - 1
  int64_t n;
};

template <class T>
void RadBendRow(const RadBend& g, const WindowRows<T>& src, int32_t y, int32_t step, int32_t width,
                T* out) {
  const RECT& rc = g.rect;
  const int32_t cx = g.o.center.x, cy = g.o.center.y;
  const int32_t dy = y - cy;
  const int64_t dy2 = int64_t{dy} * dy;
  const double top = src.sliding ? rc.top : 0, bottom = src.sliding ? rc.bottom : src.n;
  for (int32_t x = rc.left; x < rc.right; ++x) {
    const int32_t dx = x - cx;
    const double r = std::sqrt(static_cast<double>(int64_t{dx} * dx + dy2));
    const int64_t i0 = std::min(g.n - 1, static_cast<int64_t>(r));
    double t = r - static_cast<double>(i0), u = 1 - t;
    int64_t i1 = i0 + 1;
    if (i1 >= g.n) i1 = g.n - 1, t = 1, u = 0;
    const double theta = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
    double rp = g.table[i0] * u + g.table[i1] * t + r;
    if (rp <= 0 && g.o.fold && FoldPixel(g.o, rc, x, dx, dy, step, out, rp)) continue;
    T* pixel = out + int64_t{x} * step;
    double sx = cx + rp * std::cos(theta);
    double oy = rp * std::sin(theta) - dy;
    // A sliding window tests the source row y + oy against the rectangle, a whole one the
    // window row w + oy against the table; both sample at w + oy.
    double v = src.sliding ? y + oy : src.w + oy;
    if (!(rc.left <= sx && sx < rc.right && top <= v && v < bottom)) {
      if (g.o.mode == kOutsideFill) {
        WriteFill(pixel, step, g.o.fill);
        continue;
      }
      if (g.o.mode == kOutsideKeep) continue;
      sx = ClampToSpan(sx, rc.left, rc.right);
      if (v >= bottom || v < top) {
        v = v >= bottom ? bottom - 1 : top;
        oy = src.sliding ? v - y : v - src.w;
      }
    }
    BilinearSample<T>(src.rows, sx, src.w + oy, src.n, step, width, pixel);
  }
}

const int32_t kDefaultCurve[] = {0, -1000, -500, 0};

const FxFlagValue kOutsideValues[] = {
    {"fill", kOutsideFill, "the fill colour"},
    {"edge", kOutsideEdge, "the nearest edge of the rectangle"},
    {"keep", kOutsideKeep, "the pixel keeps its value"},
};
const FxFlagValue kFoldValues[] = {
    {"through", 0, "a distance pushed below 0 reaches through the centre to the other side"},
    {"stop", kFoldFlag, "a distance pushed to 0 or below is handled by the outside mode"},
};
const FxFlagField kRadBendFlags[] = {
    FlagField("outside", 0x0F, kOutsideValues, "what a source outside the rectangle gives"),
    FlagField("fold", 0xF0, kFoldValues, "what a displaced distance of 0 or less does"),
};

const FxParamDesc kFreeRadBendParams[] = {
    IntArrayParam("curve", kDefaultCurve, CountOf(kDefaultCurve), kAnyInt32Min, kAnyInt32Max, 0,
                  "radial displacement from the centre to the farthest corner, in thousandths of "
                  "amount; negative values pull the image outward (bulge)"),
    CountParam("curveCount", FX_KIND_UINT32, 0, 1, kAnyInt32Max,
               "values of curve used; defaults to the list's length"),
    UIntParam("amount", 20, 0, kAnyUInt32Max, "pixels per 1000 curve units; 0 does nothing"),
    CenterParam("center", "centre of the bend; inside the rectangle grown by one pixel"),
    ColorParam("fillColor", 0,
               "colour for sources outside (outside=fill); bit 26: low 16 bits are a 16-bit "
               "gray level"),
    FlagsParam("flags", kOutsideEdge, 0, 0xFFFFFF12,
               "bits 0-3: outside 0 fill, 1 nearest edge, 2 keep; 0x10: distances at or below 0 "
               "handled by the outside mode",
               kRadBendFlags),
};

const FxPreset kFreeRadBendPresets[] = {
    {"bulge", "curve=0,-1000,-700,0 amount=8.3334%s"},
    {"pinch", "curve=0,1000,600,0 amount=6.25%s"},
    {"rings", "curve=0,800,-800,800,-800,0 amount=2.5%s outside=fill"},
};

}  // namespace

extern const FxEffectDesc kFreeRadBendEffect = {
    "free-rad-bend",
    "Fx_FreeRadBendBitmap",
    FX_FAMILY_DISTORTION,
    "Moves pixels along rays from a centre by a caller-drawn curve of their distance",
    kFreeRadBendParams,
    CountOf(kFreeRadBendParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_FreeRadBendBitmap(b, ArgPtr<const int32_t>(v[0]), ArgU32(v[1]), ArgU32(v[2]),
                                  v[3].pt, ArgU32(v[4]), ArgU32(v[5]));
    },
    kFreeRadBendPresets,
    CountOf(kFreeRadBendPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_FreeRadBendBitmap(BitmapRecord* bitmap, const int32_t* curve, uint32_t curveCount,
                             uint32_t amount, POINT center, uint32_t fillColor, uint32_t flags) {
  if (!bitmap) return ERROR_NO_BITMAP;
  int32_t rc = fx::CheckBitmapRecord(bitmap);
  if (rc != SUCCESS) return rc;
  if (!(bitmap->Flags & FLAG_ALLOCATED)) return ERROR_NO_BITMAP;
  if (!curve || curveCount == 0 || curveCount > INT32_MAX) return ERROR_INV_PARAMETER;
  if (amount == 0) {
    HostNothingToDo();
    return SUCCESS;
  }
  fx::OrientationGuard orientation(bitmap);
  const RECT rect = fx::ProcessRect(bitmap);
  if (fx::IsEmpty(rect)) return ERROR_EMPTY_RECT;
  if (!fx::CenterInGrownRect(rect, center)) return ERROR_POINT_OUT_OF_RANGE;
  const fx::PreparedColor fill = fx::PrepareRadFill(bitmap, fillColor);
  rc = fx::CheckOutsideFlags(flags);
  if (rc != SUCCESS) return rc;

  // The profile spans the largest distance from the centre, measured from 0 rather than from the
  // rectangle's left and top.
  const int64_t wr = int64_t{rect.right} - rect.left, hr = int64_t{rect.bottom} - rect.top;
  const int64_t dx = std::max<int64_t>(center.x, wr - center.x);
  const int64_t dy = std::max<int64_t>(center.y, hr - center.y);
  const double R = std::sqrt(static_cast<double>(dx) * static_cast<double>(dx) +
                             static_cast<double>(dy) * static_cast<double>(dy));
  const double entries = std::ceil(R);
  if (entries <= 1) return HostNothingToDo();
  if (entries > INT32_MAX) return ERROR_NO_MEMORY;
  const int32_t n = static_cast<int32_t>(entries);
  fx::HostBlock<double> table;
  if (!table.Allocate(static_cast<uint32_t>(n))) return ERROR_NO_MEMORY;
  fx::ResampleCurve(curve, static_cast<int32_t>(curveCount), amount, table.get(), n);

  const fx::RadBend g{rect, fx::MakeRadialOptions(center, flags, fill), table.get(), n};
  return fx::RunRippleWindow(bitmap, rect, amount,
                             [&](int32_t y, const auto& src, int32_t step, int32_t width,
                                 auto* out) { fx::RadBendRow(g, src, y, step, width, out); });
}
