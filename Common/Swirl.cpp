// Swirl: twists the image around a centre point. Inside the ellipse inscribed in the rectangle,
// each pixel takes the colour at the same distance from the centre but turned by an angle that
// grows with the logarithm of how far inside the rim it lies; the rim, everything outside it
// and the centre pixel keep their values.
//
// The literal arithmetic per pixel is sqrt, atan2, sincos, sqrt, divide, log, sincos and a
// bilinear sample. A shorter path gets the same samples with one libm call, log: the cosine and
// sine of the pixel's angle are dx / r and dy / r (turned by the 1.8e-10 radians by which
// 2 x 3.1415926535 falls short of a turn, for pixels above the centre row, whose atan2 is
// negative), and the turned direction comes from the sine and cosine of t (SinCosRow, within a
// stated bound) by the angle-sum rule. It bounds how far its source position can lie from the
// literal one (libm's errors are a unit or two in the last place; the bound allows several times
// that, and grows with |angle|), and keeps a pixel only when every position within the bound
// gives the same samples and the same inside-the-rim decision. Every other pixel takes the
// literal arithmetic, so the output is the literal one.
//
// Extreme inputs: the squares dx² + dy², a² and b² are formed in 64 bits rather than wrapping
// in 32 (identical for every rectangle narrower than 46341 pixels). A rectangle of zero rows
// allocates an empty cache and returns SUCCESS with nothing changed.
#include "Common/Swirl.h"

#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "frame/Samplers.h"
#include "frame/ShortMath.h"
#include "fxkit/effects.h"

namespace fx {

namespace {

constexpr double kPi = 3.1415926535;
// What the literal angle of a pixel above the centre row (dy < 0), atan2 + 2 x kPi, lacks of a
// full turn.
constexpr double kTurnShortfall = kPi * 2.0 - 6.283185307179586476925;
constexpr double kUnit = kRoundingUnit;
constexpr double kDirection = kDirectionError;

// Scratch of one row: nine doubles and four indexes per pixel of the rectangle's width.
constexpr size_t kScratchPerPixel = 9 * sizeof(double) + 4 * sizeof(int32_t);

// True when (dx, dy) lies outside the rim in exact arithmetic by a margin far beyond the
// rounding of the row's floating-point test r > R: r > R means r^4 > a²dx² + b²dy², since
// R² = a²cos²θ + b²sin²θ with cos θ = dx / r, sin θ = dy / r. Such pixels keep their values.
inline bool SurelyOutside(const SwirlGeometry& g, int64_t dx, int64_t dy, double r2) {
  const double bound = static_cast<double>(g.a2) * static_cast<double>(dx * dx) +
                       static_cast<double>(g.b2) * static_cast<double>(dy * dy);
  return r2 * r2 > bound * 1.000001;
}

inline double RadiusOf(int32_t dx, int32_t dy) {
  return std::sqrt(static_cast<double>(int64_t{dx} * dx + int64_t{dy} * dy));
}

// The literal arithmetic for the pixels xs[0 .. m) of row y, staged so that the libm calls of
// different pixels overlap: every angle, every sine and cosine, every rim radius and logarithm,
// every turned sine and cosine, and last the samples. sincos gives the bits of sin and cos.
template <class T>
void LiteralPixels(const SwirlGeometry& g, T* const* cache, int32_t y, int32_t pixelStep,
                   int32_t width, T* out, int32_t* xs, int32_t m, double* r, double* theta,
                   double* c, double* s, double* ratio) {
  const int32_t dy = y - g.cy;
  const double fdy = dy;
  for (int32_t i = 0; i < m; ++i) {
    r[i] = RadiusOf(xs[i] - g.cx, dy);
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

}  // namespace

SwirlGeometry MakeSwirlGeometry(const RECT& rect, int32_t angle, POINT center) {
  SwirlGeometry g;
  g.rect = rect;
  g.cx = center.x;
  g.cy = center.y;
  const int64_t a = (int64_t{rect.right} - rect.left) / 2;
  const int64_t b = (int64_t{rect.bottom} - rect.top) / 2;
  g.a2 = a * a;
  g.b2 = b * b;
  g.rows = rect.bottom - rect.top;
  g.turn = angle / 180.0;
  g.rimSpread = EllipseRimSpread(static_cast<double>(g.a2), static_cast<double>(g.b2));
  return g;
}

size_t SwirlScratchBytes(const RECT& rect) {
  return (size_t(rect.right) - size_t(rect.left)) * kScratchPerPixel;
}

// The short path, for the pixels that may move (SurelyOutside sorts out most of the others):
//   1. the direction (c, s) = (dx, dy) / r, turned by kTurnShortfall above the centre row, and
//      the rim radius R from it; pixels not clearly inside or outside the rim, whatever the
//      literal R within its bound, go to the literal path;
//   2. every log(R / r) and turn t;
//   3. every sine and cosine of t, within kSinCosError (SinCosRow);
//   4. the source position r(c cos t - s sin t) + cx, r(s cos t + c sin t) + cy - top and the
//      bound on its distance from the literal one; the sample when the bound decides it.
// The bounds add, with a margin, every rounding and libm error of both paths, in units of
// kUnit: the direction's (kDirection), carried through R, the ratio and the logarithm into t
// (times |turn|), the rounding of the literal θ + t and of both positions.
//   - |literal R - R| <= R rel <= EllipseSpreadFrom(g.rimSpread, R) = rim / 2 + 16 kUnit R, for
//     R >= 1; the rim test keeps twice that.
//   - the position's error is 2 r (3 kDirection + |turn| |literal log - log| + the roundings
//     of t, θ + t and the sines), with |literal log - log| <= 2.02 (rel + 4 kUnit) + 8 kUnit
//     |log|, r < R inside the rim and |log| |turn| about |t|: at most
//     1.03 |turn| rim + r (6 kDirection + 56 kUnit + 41 kUnit |turn| + 27 kUnit |t|), plus
//     2 r (2 kSinCosError) for the sine and cosine of t, plus 16 kUnit times the magnitudes the
//     positions are summed from.
//
// On the centre's row and below (dy >= 0, no turn shortfall) the pixels at dx and -dx share r,
// the direction up to the sign of its cosine, R and t, so steps 1 to 3 are taken once per
// distance |dx| there; above the centre row once per pixel.
template <class T>
int32_t SwirlRow(const SwirlGeometry& g, T* const* cache, int32_t y, int32_t pixelStep,
                 int32_t width, T* out, uint8_t* scratch, bool literalOnly) {
  const int32_t n = g.rect.right - g.rect.left;
  double* r = reinterpret_cast<double*>(scratch);
  double* c = r + n;
  double* s = c + n;
  double* ratio = s + n;
  double* t = ratio + n;
  double* ct = t + n;
  double* st = ct + n;
  double* sx = st + n;
  double* sy = sx + n;
  auto* xs = reinterpret_cast<int32_t*>(sy + n);
  int32_t* literal = xs + n;
  int32_t* ds = literal + n;
  int32_t* where = ds + n;
  const int32_t dy = y - g.cy;
  const double fdy = dy;
  // The entries: distances |dx| where mirrored, else every dx of the row, from d0 on.
  const bool mirrored = dy >= 0 && !literalOnly;
  int32_t d0 = g.rect.left - g.cx, d1 = g.rect.right - 1 - g.cx;
  if (mirrored) DistanceRange(d0, d1, &d0, &d1);
  constexpr int32_t kKept = -1, kLiteral = -2;
  int32_t m = 0;
  for (int32_t d = d0; d <= d1; ++d) {
    where[d - d0] = kKept;
    if (d == 0 && dy == 0) continue;
    const double r2 = static_cast<double>(int64_t{d} * d + int64_t{dy} * dy);
    if (SurelyOutside(g, d, dy, r2)) continue;
    ds[m] = d;
    r[m++] = r2;
  }
  SqrtRow(r, m);
  if (literalOnly) {
    for (int32_t i = 0; i < m; ++i) xs[i] = g.cx + ds[i];
    LiteralPixels(g, cache, y, pixelStep, width, out, xs, m, r, c, s, ratio, t);
    return m;
  }
  const double a2 = static_cast<double>(g.a2), b2 = static_cast<double>(g.b2);
  const double rim = 2 * g.rimSpread;
  const double shortfall = dy < 0 ? kTurnShortfall : 0.0;
  // Every direction, rim radius R (into t) and ratio R / r first, two lanes at a time; then the
  // rim decisions.
  int32_t i = 0;
#if defined(__SSE2__)
  {
    const __m128d one = _mm_set1_pd(1.0), y2 = _mm_set1_pd(fdy), turn = _mm_set1_pd(shortfall);
    const __m128d va2 = _mm_set1_pd(a2), vb2 = _mm_set1_pd(b2);
    for (; i + 2 <= m; i += 2) {
      const __m128d inverse = _mm_div_pd(one, _mm_loadu_pd(r + i));
      const __m128d dx = _mm_cvtepi32_pd(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(ds + i)));
      const __m128d c0 = _mm_mul_pd(dx, inverse), s0 = _mm_mul_pd(y2, inverse);
      const __m128d ci = _mm_sub_pd(c0, _mm_mul_pd(s0, turn));
      const __m128d si = _mm_add_pd(s0, _mm_mul_pd(c0, turn));
      const __m128d R = _mm_sqrt_pd(
          _mm_add_pd(_mm_mul_pd(_mm_mul_pd(va2, ci), ci), _mm_mul_pd(_mm_mul_pd(vb2, si), si)));
      _mm_storeu_pd(c + i, ci);
      _mm_storeu_pd(s + i, si);
      _mm_storeu_pd(t + i, R);
      _mm_storeu_pd(ratio + i, _mm_mul_pd(R, inverse));
    }
  }
#endif
  for (; i < m; ++i) {
    const double inverse = 1.0 / r[i];
    const double c0 = ds[i] * inverse, s0 = fdy * inverse;
    c[i] = c0 - s0 * shortfall;
    s[i] = s0 + c0 * shortfall;
    t[i] = std::sqrt(a2 * c[i] * c[i] + b2 * s[i] * s[i]);
    ratio[i] = t[i] * inverse;
  }
  int32_t k = 0;
  for (i = 0; i < m; ++i) {
    const double R = t[i];
    const double margin = 2 * EllipseSpreadFrom(g.rimSpread, R);
    if (R >= 1 && r[i] - R > margin) continue;  // beyond the rim on both paths
    if (!(R >= 1 && R - r[i] > margin)) {       // too near the rim (or R too small) to tell
      where[ds[i] - d0] = kLiteral;
      continue;
    }
    where[ds[i] - d0] = k;
    r[k] = r[i];
    c[k] = c[i];
    s[k] = s[i];
    ratio[k++] = ratio[i];
  }
  for (int32_t i = 0; i < k; ++i) t[i] = std::log(ratio[i]) * g.turn;
  SinCosRow(t, st, ct, k);
  const double absTurn = std::abs(g.turn);
  const double fixed = std::abs(static_cast<double>(g.cx)) + std::abs(static_cast<double>(g.cy)) +
                       std::abs(static_cast<double>(g.rect.top));
  const double errConst = 1.03 * absTurn * rim;
  const double errPerR = 6 * kDirection + 4 * kSinCosError + 56 * kUnit + 41 * kUnit * absTurn;
  double* err = ratio;
  // Positions and bounds first, so that the sampling loop can fetch the source rows of a pixel
  // a few places ahead: near the centre neighbouring pixels sample far-apart places.
  int32_t p = 0, q = 0;
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const int32_t dx = x - g.cx;
    const int32_t j = where[(mirrored && dx < 0 ? -dx : dx) - d0];
    if (j == kKept) continue;
    if (j == kLiteral) {
      literal[p++] = x;
      continue;
    }
    const double cj = mirrored && dx < 0 ? -c[j] : c[j];
    const double c2 = cj * ct[j] - s[j] * st[j], s2 = s[j] * ct[j] + cj * st[j];
    const double px = r[j] * c2 + g.cx;
    const double py = r[j] * s2 + g.cy - g.rect.top;
    xs[q] = x;
    sx[q] = px;
    sy[q] = py;
    err[q++] = errConst + r[j] * (errPerR + 27 * kUnit * std::abs(t[j])) +
               16 * kUnit * (fixed + std::abs(px) + std::abs(py));
  }
  constexpr int32_t kAhead = 8;
  for (int32_t i = 0; i < q; ++i) {
    if (i + kAhead < q)
      PrefetchSample(cache, sx[i + kAhead], sy[i + kAhead], g.rect.left, g.rect.right, g.rows,
                     pixelStep);
    double ax, ex, ay, ey;
    if (!ClampedWithin(sx[i], err[i], g.rect.left, g.rect.right, &ax, &ex) ||
        !ClampedWithin(sy[i], err[i], 0, g.rows, &ay, &ey) ||
        !BilinearSampleWithin<T>(cache, ax, ay, ex, ey, g.rows, pixelStep, width,
                                 out + int64_t{xs[i]} * pixelStep))
      literal[p++] = xs[i];
  }
  LiteralPixels(g, cache, y, pixelStep, width, out, literal, p, r, c, s, ratio, t);
  return p;
}

template int32_t SwirlRow<uint8_t>(const SwirlGeometry&, uint8_t* const*, int32_t, int32_t, int32_t,
                                   uint8_t*, uint8_t*, bool);
template int32_t SwirlRow<uint16_t>(const SwirlGeometry&, uint16_t* const*, int32_t, int32_t,
                                    int32_t, uint16_t*, uint8_t*, bool);

namespace {

int32_t SwirlDriver(BitmapRecord* bitmap, int32_t angle, POINT center) {
  const RECT rect = ProcessRect(bitmap);
  const SwirlGeometry g = MakeSwirlGeometry(rect, angle, center);
  return RunOverCachedRect(
      bitmap, rect,
      [&](auto* const* cache, int32_t y, int32_t pixelStep, int32_t width, auto* out,
          uint8_t* scratch) { SwirlRow(g, cache, y, pixelStep, width, out, scratch); },
      SwirlScratchBytes(rect));
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
