// The machinery shared by the sphere and cylinder distortions (spherize, punch, bending,
// cylindrical). Spherize, punch and spherical bending move every pixel inside a bound around a
// centre along its ray to a remapped radius; they differ only in the bound and the radius
// function (a `Remap` with Reach(geometry), Bound(geometry, cos, sin) and Map(r, R), and for the
// short path of SphereRow BoundSpread and MapSpread; the remaps are in SphereRemaps.h). This
// header holds their outside modes and fold handling, the driver with its window of source rows
// (a sliding ring of N rows around the output row, or every row of the rectangle when N reaches
// its height), and the row-pair pass of the effects that remap within one row (cylindrical,
// cylindrical bending).
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "frame/FillColor.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "frame/Samplers.h"

namespace fx {

inline constexpr double kSpherePi = 3.1415926535;

// What happens to a pixel whose source lies outside the rectangle (flags bits 0-3).
enum OutsideMode : int32_t { kOutsideFill = 0, kOutsideEdge = 1, kOutsideKeep = 2 };
// Fold handling of remapped radii at or below zero (flags bit 4).
inline constexpr uint32_t kFoldFlag = 0x10;

// ERROR_INV_PARAMETER unless flags bits 4-7 are 0 or 0x10 and bits 0-3 are 0, 1 or 2; higher
// bits are not looked at.
inline int32_t CheckOutsideFlags(uint32_t flags) {
  if ((flags & 0xF0) != 0 && (flags & 0xF0) != kFoldFlag) return ERROR_INV_PARAMETER;
  if ((flags & 0x0F) > kOutsideKeep) return ERROR_INV_PARAMETER;
  return SUCCESS;
}

// The descriptors' fill colour, and the outside flags of spherize and punch.
inline constexpr FxParamDesc kSphereFillParam =
    ColorParam("fillColor", 0,
               "colour for sources outside the rectangle (mode 0); bit 26: low 16 bits are a "
               "16-bit gray level");
inline constexpr FxFlagValue kOutsideValues[] = {
    {"fill", kOutsideFill, "the fill colour"},
    {"edge", kOutsideEdge, "the colour of the nearest pixel of the rectangle"},
    {"keep", kOutsideKeep, "the pixel keeps its value"},
};
inline constexpr FxFlagValue kFoldValues[] = {
    {"off", 0, "a radius remapped past the centre samples the far side"},
    {"on", kFoldFlag,
     "a radius remapped past the centre follows the outside mode (edge: the centre's colour)"},
};
inline constexpr FxFlagField kOutsideField =
    FlagField("outside", 0x0F, kOutsideValues, "what a pixel whose source is outside gets");
inline constexpr FxFlagField kFoldField =
    FlagField("fold", 0xF0, kFoldValues, "handling of radii remapped past the centre");
inline constexpr FxFlagField kSphereFlagFields[] = {kOutsideField, kFoldField};
inline constexpr FxParamDesc kSphereFlagsParam =
    FlagsParam("flags", 0, 0, kAnyUInt32Max,
               "bits 0-3: outside mode 0 fill, 1 nearest edge, 2 keep; 0x10: fold handling",
               kSphereFlagFields);

// A call's choices: the centre, the outside mode, fold handling and the prepared fill colour.
struct RadialOptions {
  POINT center;
  int32_t mode;
  bool fold;
  PreparedColor fill;
};

inline RadialOptions MakeRadialOptions(POINT center, uint32_t flags, const PreparedColor& fill) {
  return RadialOptions{center, static_cast<int32_t>(flags & 0x0F), (flags & kFoldFlag) != 0, fill};
}

// The rectangle and what is derived from it.
struct SphereGeometry {
  RECT rect;
  int64_t a2, b2;    // squared half-axes a = (right - left - 1) / 2, b = (bottom - top - 1) / 2
  double D;          // sqrt(a² + b²), the half-diagonal
  double rimSpread;  // EllipseRimSpread(a², b²)
};
SphereGeometry MakeSphereGeometry(const RECT& rect);

// sqrt(a²·c·c + b²·s·s): the distance of the inscribed ellipse's rim in direction (c, s).
inline double EllipseRadius(const SphereGeometry& g, double c, double s) {
  return std::sqrt(static_cast<double>(g.a2) * c * c + static_cast<double>(g.b2) * s * s);
}

// A radius no ellipse radius exceeds: the longer half-axis with a margin far above the rounding
// of EllipseRadius. Pixels beyond it are outside in every direction and skip the trigonometry.
inline double EllipseReach(const SphereGeometry& g) {
  return std::sqrt(static_cast<double>(g.a2 > g.b2 ? g.a2 : g.b2)) * 1.000000001;
}

// The spreads of the short path (SphereRow): BoundSpread(g, R) bounds how far the literal bound
// may lie from R, taken from a direction within kDirectionError of the literal one;
// MapSpread(r, R, dR, rp) bounds how far the literal Map(r, R') may lie from rp = Map(r, R)
// when |R' - R| <= dR, rounding and libm errors of both evaluations included. The bound test
// keeps R - r > 2 dR, so r < R - dR. The ellipse's spread holds for R >= 1, which the short
// path requires.
inline double EllipseBoundSpread(const SphereGeometry& g, double R) {
  return EllipseSpreadFrom(g.rimSpread, R);
}

// dR grown by the rounding of r / R and R / q in the literal evaluation.
inline double GrownSpread(double dR, double R) {
  return dR + 4 * kRoundingUnit * R;
}

// The rounding of (A - r)·k + r and of A itself: eight units of every magnitude it passes.
inline double MapRounding(double A, double r, double k, double rp) {
  return 8 * kRoundingUnit * ((k + 1) * (std::abs(A) + r) + std::abs(rp));
}

// The export of spherize and bending up to their own work, in order: the bitmap checks, strength
// beyond ±500 refused and 0 doing nothing, then in orientation 1 the rectangle (not empty), the
// centre (inside it grown by one pixel), the fill colour prepared and the outside flags checked;
// work(bitmap, k = |strength| / 100, strength > 0, options, flags) does the rest.
using SphereWork = int32_t (*)(BitmapRecord* bitmap, double k, bool outward,
                               const RadialOptions& options, uint32_t flags);
int32_t SphereEntry(BitmapRecord* bitmap, int32_t strength, POINT center, uint32_t fillColor,
                    uint32_t flags, SphereWork work);

// Rows of the source window: trunc(D·0.44·k) + 3, at most `rows`.
int32_t SphereWindowSize(double D, double k, int32_t rows);

// Fold handling of a pixel whose remapped radius is at or below zero (fold handling on). Mode 1
// takes the source at the centre (rp = 0) and lets the pixel go on; mode 2 keeps the pixel;
// mode 0 fills it, except the centre pixel itself, which is skipped; on the centre's row the
// pixels at dx = 1 and dx = -1 also fill their neighbour towards the centre, so the centre ends
// filled when either of them folds. Returns true when the pixel is finished.
template <class T>
inline bool FoldPixel(const RadialOptions& o, const RECT& rect, int32_t x, int32_t dx, int32_t dy,
                      int32_t step, T* row, double& rp) {
  if (o.mode == kOutsideEdge) {
    rp = 0;
    return false;
  }
  if (o.mode == kOutsideKeep) return true;
  if (dy == 0) {
    if (dx == 0) return true;
    if (dx == 1 && x != rect.left) WriteFill(row + int64_t{x - 1} * step, step, o.fill);
    if (dx == -1 && x != rect.right - 1) WriteFill(row + int64_t{x + 1} * step, step, o.fill);
  }
  WriteFill(row + int64_t{x} * step, step, o.fill);
  return true;
}

// Where a row of the sphere driver takes its sources: `rows` (n entries) with the output row at
// index w. A sliding window tests the source row against the rectangle, a whole one against
// the table.
template <class T>
struct SphereSources {
  T* const* rows;
  int32_t n;
  int32_t w;
  bool sliding;
};

// True when (dx, dy) lies beyond the ellipse bound in exact arithmetic by a margin far beyond
// the rounding of the floating-point test r > bound: with cos θ = dx / r and sin θ = dy / r,
// r > sqrt(a²cos²θ + b²sin²θ) means r^4 > a²dx² + b²dy².
inline bool SurelyBeyondEllipse(const SphereGeometry& g, int64_t dx, int64_t dy, double r2) {
  const double bound = static_cast<double>(g.a2) * static_cast<double>(dx * dx) +
                       static_cast<double>(g.b2) * static_cast<double>(dy * dy);
  return r2 * r2 > bound * 1.000001;
}

// Scratch of SphereRow: eight doubles and three indexes per pixel of the rectangle's width.
inline size_t SphereRowScratch(const RECT& rect) {
  return (size_t(rect.right) - size_t(rect.left)) * (8 * sizeof(double) + 3 * sizeof(int32_t));
}

// The literal arithmetic of SphereRow for the pixels xs[0 .. m) of row y, staged so that the
// libm calls of different pixels overlap: every radius and angle, every sine and cosine, every
// bound, every remapped radius, then the pixels. Each value is computed exactly as the per-pixel
// arithmetic computes it; pixels beyond the bound keep their values. The pixels need not come
// in order: each writes only itself, but for the fold fills of the centre's neighbours, which
// land on the centre pixel, and that pixel writes nothing of its own when they do.
template <class T, class Remap>
void SphereLiteralPixels(const SphereGeometry& g, const RadialOptions& o, const Remap& remap,
                         const SphereSources<T>& src, int32_t y, int32_t step, int32_t width,
                         T* out, int32_t* xs, int32_t m, double* rs, double* th, double* cs,
                         double* sn, double* bounds) {
  const RECT& rc = g.rect;
  const int32_t cx = o.center.x, cy = o.center.y;
  const int32_t dy = y - cy;
  const int64_t dy2 = int64_t{dy} * dy;
  const double fdy = dy;
  for (int32_t i = 0; i < m; ++i) {
    const int32_t dx = xs[i] - cx;
    rs[i] = std::sqrt(static_cast<double>(int64_t{dx} * dx + dy2));
    th[i] = std::atan2(fdy, static_cast<double>(dx));
  }
  for (int32_t i = 0; i < m; ++i) ::sincos(th[i], &sn[i], &cs[i]);
  int32_t k = 0;
  for (int32_t i = 0; i < m; ++i) {
    const double bound = remap.Bound(g, cs[i], sn[i]);
    if (rs[i] > bound) continue;
    xs[k] = xs[i], rs[k] = rs[i], cs[k] = cs[i], sn[k] = sn[i];
    bounds[k++] = bound;
  }
  // A zero bound leaves only the centre (r = 0) inside; it stays where it is.
  for (int32_t i = 0; i < k; ++i) th[i] = bounds[i] == 0 ? 0.0 : remap.Map(rs[i], bounds[i]);
  for (int32_t i = 0; i < k; ++i) {
    const int32_t x = xs[i], dx = x - cx;
    const double c = cs[i], s = sn[i];
    double rp = th[i];
    if (o.fold && rp <= 0 && FoldPixel(o, rc, x, dx, dy, step, out, rp)) continue;
    T* pixel = out + int64_t{x} * step;
    double sx = cx + rp * c;
    const double oy = rp * s;
    // The source row: a sliding window tests row y + d against the rectangle and samples at
    // w + d; a whole one tests and samples at table position (w - dy) + oy.
    double d = oy - dy, v = src.sliding ? y + d : (src.w - dy) + oy;
    const double lo = src.sliding ? rc.top : 0, hi = src.sliding ? rc.bottom : src.n;
    if (!(rc.left <= sx && sx < rc.right && lo <= v && v < hi)) {
      if (o.mode == kOutsideFill) {
        WriteFill(pixel, step, o.fill);
        continue;
      }
      if (o.mode == kOutsideKeep) continue;
      if (sx >= rc.right)
        sx = rc.right - 1;
      else if (sx < rc.left)
        sx = rc.left;
      if (v >= hi || v < lo) {
        v = v >= hi ? hi - 1 : lo;
        d = v - y;
      }
    }
    BilinearSample<T>(src.rows, sx, src.sliding ? src.w + d : v, src.n, step, width, pixel);
  }
}

// Where a pixel whose source position is known within e takes its sample, as the literal
// arithmetic's outside test and modes decide. Returns 1 when the pixel is finished (sampled,
// filled or kept), 0 when the bound cannot decide it.
template <class T>
inline int32_t SphereShortPixel(const SphereGeometry& g, const RadialOptions& o,
                                const SphereSources<T>& src, int32_t y, int32_t step, int32_t width,
                                double sx, double oy, double e, T* pixel) {
  const RECT& rc = g.rect;
  const int32_t dy = y - o.center.y;
  double d = oy - dy, v = src.sliding ? y + d : (src.w - dy) + oy;
  const int32_t lo = src.sliding ? rc.top : 0, hi = src.sliding ? rc.bottom : src.n;
  const bool inside = sx - e >= rc.left && sx + e < rc.right && v - e >= lo && v + e < hi;
  if (!inside) {
    const bool outside = sx + e < rc.left || sx - e >= rc.right || v + e < lo || v - e >= hi;
    if (o.mode != kOutsideEdge) {
      if (!outside) return 0;
      if (o.mode == kOutsideFill) WriteFill(pixel, step, o.fill);
      return 1;
    }
  }
  // Inside, or the nearest edge: each coordinate clamped into the rectangle, a clamped one exact.
  double ax, ex, av, ev;
  if (!ClampedWithin(sx, e, rc.left, rc.right, &ax, &ex) || !ClampedWithin(v, e, lo, hi, &av, &ev))
    return 0;
  if (av != v) d = av - y;  // clamped to an edge row, as the literal arithmetic does
  const double at = src.sliding ? src.w + d : av;
  // Between -1 and 0 the sampler extrapolates from the next row; the clamp gives row 0 only.
  if (!(at - ev >= 0)) return 0;
  double ay, ey;
  if (!ClampedWithin(at, ev, 0, src.n, &ay, &ey)) return 0;
  return BilinearSampleWithin<T>(src.rows, ax, ay, ex, ey, src.n, step, width, pixel) ? 1 : 0;
}

// One output row y of spherize, punch or spherical bending, remapped in place in `out`: the
// pixels within reach and their radii, then the short path (below) and the literal arithmetic
// for the pixels it leaves. A remap whose bound is the inscribed ellipse says so with
// kEllipseBound, and pixels surely beyond it skip the trigonometry. With `literalOnly` every
// pixel takes the literal arithmetic. Returns the number of pixels that did.
//
// The short path takes the direction of a pixel as (dx, dy) / r instead of atan2 and sincos,
// the bound from it (within BoundSpread of the literal one), the remapped radius rp from that
// bound (within MapSpread of the literal one), and the source position from those, within
//   e = 2 (1.01 (|rp| kDirectionError + spread) + 16 kRoundingUnit (the magnitudes summed)).
// A pixel is decided when the bound test, the fold test, the outside test and the sample come
// out the same for every value within those bounds; the centre pixel always takes the literal
// arithmetic. The pixels at dx and -dx share r, the bound and rp (the bound depends on c² only,
// and (-dx) / r is -(dx / r) exactly), so these are taken once per distance |dx|.
template <class T, class Remap>
int32_t SphereRow(const SphereGeometry& g, const RadialOptions& o, const Remap& remap,
                  const SphereSources<T>& src, int32_t y, int32_t step, int32_t width, T* out,
                  uint8_t* scratch, bool literalOnly = false) {
  const RECT& rc = g.rect;
  const int32_t n = rc.right - rc.left;
  double* rs = reinterpret_cast<double*>(scratch);
  double* th = rs + n;
  double* cs = th + n;
  double* sn = cs + n;
  double* bounds = sn + n;
  double* sx = bounds + n;
  double* oy = sx + n;
  double* es = oy + n;
  auto* xs = reinterpret_cast<int32_t*>(es + n);
  int32_t* literal = xs + n;
  int32_t* where = literal + n;
  const int32_t cx = o.center.x, cy = o.center.y;
  const int32_t dy = y - cy;
  const int64_t dy2 = int64_t{dy} * dy;
  const double fdy = dy;
  const double reach = remap.Reach(g);
  if (literalOnly) {
    int32_t m = 0;
    for (int32_t x = rc.left; x < rc.right; ++x) {
      const int32_t dx = x - cx;
      const int64_t r2 = int64_t{dx} * dx + dy2;
      if constexpr (Remap::kEllipseBound)
        if (SurelyBeyondEllipse(g, dx, dy, static_cast<double>(r2))) continue;
      const double r = std::sqrt(static_cast<double>(r2));
      if (r > reach) continue;
      xs[m] = x;
      rs[m++] = r;
    }
    SphereLiteralPixels(g, o, remap, src, y, step, width, out, xs, m, rs, th, cs, sn, bounds);
    return m;
  }
  // The distances |dx| the row's pixels take: [u0, u1], at most n of them.
  int32_t u0, u1;
  DistanceRange(rc.left - cx, rc.right - 1 - cx, &u0, &u1);
  constexpr int32_t kBeyond = -1, kLiteral = -2;
  // Per distance: beyond, literal, or the index of its shared values (rs: r, cs: |dx| / r,
  // sn: dy / r, bounds: the bound, th: its spread).
  int32_t k = 0;
  for (int32_t u = u0; u <= u1; ++u) {
    int32_t& slot = where[u - u0];
    slot = kBeyond;
    const int64_t r2 = int64_t{u} * u + dy2;
    if constexpr (Remap::kEllipseBound)
      if (SurelyBeyondEllipse(g, u, dy, static_cast<double>(r2))) continue;
    const double r = std::sqrt(static_cast<double>(r2));
    if (r > reach) continue;
    if (r == 0) {
      slot = kLiteral;
      continue;
    }
    const double inverse = 1.0 / r;
    const double c = u * inverse, s = fdy * inverse;
    const double bound = remap.Bound(g, c, s);
    const double spread = remap.BoundSpread(g, bound);
    if (bound >= 1 && r - bound > 2 * spread) continue;  // beyond the bound on both paths
    if (!(bound >= 1 && bound - r > 2 * spread)) {
      slot = kLiteral;
      continue;
    }
    rs[k] = r, cs[k] = c, sn[k] = s, th[k] = spread;
    bounds[k] = bound;
    slot = k++;
  }
  for (int32_t i = 0; i < k; ++i) {
    const double rp = remap.Map(rs[i], bounds[i]);
    th[i] = remap.MapSpread(rs[i], bounds[i], th[i], rp);
    bounds[i] = rp;
  }
  // Positions and bounds first, so that the sampling loop can fetch the source rows of a pixel
  // a few places ahead.
  int32_t p = 0, q = 0;
  const double fixed = std::abs(static_cast<double>(cx)) + std::abs(fdy) +
                       std::abs(static_cast<double>(y)) + src.n + 1;
  for (int32_t x = rc.left; x < rc.right; ++x) {
    const int32_t dx = x - cx;
    const int32_t i = where[(dx < 0 ? -dx : dx) - u0];
    if (i == kBeyond) continue;
    if (i == kLiteral) {
      literal[p++] = x;
      continue;
    }
    double rp = bounds[i], spread = th[i];
    if (o.fold && !(rp - spread > 0)) {
      // Surely folded: kept, filled, or (nearest edge) sampled at the centre, rp = 0 exactly.
      // The centre's row neighbours also fill the centre: they take the literal arithmetic.
      if (!(rp + spread <= 0) || (o.mode == kOutsideFill && dy == 0 && (dx == 1 || dx == -1))) {
        literal[p++] = x;
        continue;
      }
      if (o.mode == kOutsideKeep) continue;
      if (o.mode == kOutsideFill) {
        WriteFill(out + int64_t{x} * step, step, o.fill);
        continue;
      }
      rp = 0;
      spread = 0;
    }
    const double c = dx < 0 ? -cs[i] : cs[i];
    const double px = cx + rp * c, py = rp * sn[i];
    xs[q] = x;
    sx[q] = px;
    oy[q] = py;
    // A folded pixel sampling the centre (rp = 0) has an exact position.
    es[q++] = rp == 0 && spread == 0
                  ? 0.0
                  : 2 * (1.01 * (std::abs(rp) * kDirectionError + spread) +
                         16 * kRoundingUnit * (fixed + std::abs(rp) + std::abs(px) + std::abs(py)));
  }
  constexpr int32_t kAhead = 8;
  const double top = src.w - dy;  // the table position of the centre's row
  for (int32_t i = 0; i < q; ++i) {
    if (i + kAhead < q)
      PrefetchSample(src.rows, sx[i + kAhead], top + oy[i + kAhead], rc.left, rc.right, src.n,
                     step);
    if (!SphereShortPixel<T>(g, o, src, y, step, width, sx[i], oy[i], es[i],
                             out + int64_t{xs[i]} * step))
      literal[p++] = xs[i];
  }
  SphereLiteralPixels(g, o, remap, src, y, step, width, out, literal, p, rs, th, cs, sn, bounds);
  return p;
}

// The sphere driver: opens the row access, builds the geometry of the rectangle, sizes the window
// from its half-diagonal and k = |strength| / 100, allocates the window rows and the output slots,
// begins the write phase and remaps every row from a sliding window of N rows around it (rows
// clamped to the bitmap) or, when N reaches the height, from every row of the rectangle.
// makeRemap(geometry) gives the effect's radius function.
template <class MakeRemap>
int32_t SphereDriver(BitmapRecord* bitmap, double k, const RadialOptions& o,
                     MakeRemap&& makeRemap) {
  int32_t rc = CheckBitmapPresent(bitmap);
  if (rc != SUCCESS) return rc;
  AccessOwner access;
  rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t width = bitmap->Width, height = bitmap->Height;
  const SphereGeometry g = MakeSphereGeometry(ProcessRect(bitmap));
  const int32_t rows = g.rect.bottom - g.rect.top;
  const int32_t step = access.PixelStep();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  const size_t windowBytes = rowBytes + 4 * static_cast<size_t>(step);
  const int32_t n = SphereWindowSize(g.D, k, rows);

  RowWindow window;
  rc = n != rows ? window.AllocateSliding(n, windowBytes) : window.AllocateWhole(n, windowBytes);
  if (rc != SUCCESS) return rc;
  RowSlots slots;
  if (!slots.Allocate(windowBytes, window.ViewBytes() + SphereRowScratch(g.rect)))
    return ERROR_NO_MEMORY;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  if (!window.sliding()) {
    rc = window.ReadWhole(access, g.rect.top);
    if (rc != SUCCESS) return rc;
  }

  const auto remap = makeRemap(g);
  return WithSampleType(access.SampleBits(), [&](auto sample) -> int32_t {
    using T = decltype(sample);
    return window.Run(
        access, slots, g.rect.top, g.rect.bottom, height, g.rect.top, g.rect.right - g.rect.left,
        [&](int32_t y, uint8_t* const* source, int32_t w, uint8_t* out, uint8_t* scratch) {
          std::memcpy(out, source[w], rowBytes);
          const SphereSources<T> src{reinterpret_cast<T* const*>(source), n, w, window.sliding()};
          SphereRow<T>(g, o, remap, src, y, step, width, reinterpret_cast<T*>(out), scratch);
        },
        DiscardRead(access, slots), WriteRow(access));
  });
}

// The pass of the effects that remap within one row. Open opens the row access (mode 2), reads
// the rectangle in the current orientation and allocates the source rows and the output slots
// (HostRowBytes + 4 x pixel step bytes each). Run begins the write phase and, for every row y of
// the rectangle, calls row(y, source, destination) with the source row y and a destination that
// starts as a copy of it (any thread), then writes the destination back on the calling thread;
// the source rows are read a band at a time. It stops at the first failing host call.
class RowPairPass {
 public:
  int32_t Open(BitmapRecord* bitmap);
  const RECT& rect() const { return rect_; }
  int32_t step() const { return step_; }
  int32_t width() const { return width_; }
  int32_t sampleBits() const { return access_.SampleBits(); }

  template <class Row>
  int32_t Run(BitmapRecord* bitmap, Row&& row) {
    int32_t rc = BeginWritePhase(access_, bitmap);
    if (rc != SUCCESS) return rc;
    const size_t rowBytes = static_cast<size_t>(access_.RowBytes());
    return source_.Run(
        access_, slots_, rect_.top, rect_.bottom, bitmap->Height, rect_.top,
        rect_.right - rect_.left,
        [&](int32_t y, uint8_t* const* source, int32_t w, uint8_t* out, uint8_t*) {
          std::memcpy(out, source[w], rowBytes);
          row(y, source[w], out);
        },
        DiscardRead(access_, slots_), WriteRow(access_));
  }

 private:
  AccessOwner access_;
  RowWindow source_;
  RowSlots slots_;
  RECT rect_{};
  int32_t step_ = 0, width_ = 0;
};

}  // namespace fx
