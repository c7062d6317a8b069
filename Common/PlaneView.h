// The camera, picture placement and rendering shared by the plane and the bent plane. A viewer
// looks along the line through the vanishing point at a surface that contains lines parallel to
// that line (a floor, a wall, a ceiling: `tilt` turns it around the line of sight). The picture
// (the rectangle to process) lies on the surface; each output pixel casts a ray, and the surface
// point it meets gives a picture position, sampled bilinearly, repeated or mirrored when tiled and
// faded toward a colour with the depth. Where the picture is shrunk, a pixel averages a grid of up
// to 4 x 4 rays (adaptive supersampling), which also smooths the horizon and silhouettes.
//
// Coordinates: for output position (x, y), dx = x - vx, dy = y - vy; the ray runs across the
// surface by l = dx·cos τ - dy·sin τ, toward it by s = dx·sin τ + dy·cos τ, and forward by the
// focal length f = (rectangle width / 2) / tan(fieldOfView / 2). The surface (a `Surface`) turns
// the pair (s, f) into its hits, nearest first: the ray's length t and the distance `along` the
// surface (for the flat plane at distance D: t = D / s for s > 0, along = t·f). Then X = t·l
// across, p = X - offsetX, q = along - f - offsetY (the picture's centre lies where s = D), turned
// by the rotation ρ: p' = p·cos ρ + q·sin ρ, q' = q·cos ρ - p·sin ρ, give the picture column (W -
// 1) / 2 + p' and row (H - 1) / 2 - q'. The fade of a hit at forward depth z = t·f is fadeStart +
// (fadeEnd - fadeStart)·(1 - exp(-z / fadeDistance)), in percent (fadeEnd when fadeDistance is 0).
//
// Samples: one picture: positions in [0, W) x [0, H) are sampled with BilinearSample on the
// cached rows. In fill and keep mode the surface ends at the picture's edges (a ray takes its
// nearest hit on the picture, so a curled page shows what lies beyond its edge); in edge mode it
// goes on, positions off the picture taking its nearest edge (ClampToSpan). Tiled: the four pixels
// around floor(col), floor(row) are taken modulo the picture (mirrored in every other copy for
// `mirror`), with the bilinear arithmetic of BilinearSample. Rays without a hit (the sky) take
// the fill colour, or keep the pixel in keep mode.
//
// Supersampling: the span of a pixel is the larger of the picture distances between its centre's
// position and those of its right and lower neighbours; n = ceil(span - 0.5) rays per side
// (1 .. 4) at offsets (i + 0.5) / n - 0.5; 4 when some of the three centres hit and some do not,
// 1 when none does. One ray per pixel is the pixel centre itself, so
// magnified areas are exact bilinear samples. The average of the rays (each faded) is rounded
// half up; a keep ray counts the pixel's own value.
//
// Extreme inputs: every distance is formed in double precision; a hit farther than 1e300 (a
// grazing ray) counts as a miss; tiled positions are reduced modulo the picture in double
// precision (exact for ordinary depths, a deterministic but arbitrary pixel near the horizon);
// positions beyond ±2^30 are limited by the sampler as everywhere in the library.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "Common/Paint.h"
#include "frame/FillColor.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "frame/Samplers.h"

namespace fx {

inline constexpr double kPlanePi = 3.1415926535;

enum PlaneOutside : uint32_t { kPlaneFill = 0, kPlaneEdge = 1, kPlaneKeep = 2 };
enum PlaneTiling : uint32_t { kPlaneOnce = 0x00, kPlaneRepeat = 0x10, kPlaneMirror = 0x20 };
inline constexpr uint32_t kPlaneSingleSample = 0x100;
inline constexpr int32_t kPlaneMaxRays = 4;  // per side of a pixel

// ERROR_INV_PARAMETER unless the outside mode, the tiling and the sampling are known values and
// no other bit is set.
inline int32_t CheckPlaneFlags(uint32_t flags) {
  const uint32_t outside = flags & 0x0F, tiling = flags & 0xF0, sampling = flags & 0xF00;
  if (outside > kPlaneKeep ||
      (tiling != kPlaneOnce && tiling != kPlaneRepeat && tiling != kPlaneMirror) ||
      (sampling != 0 && sampling != kPlaneSingleSample) || (flags & ~0xFFFu) != 0)
    return ERROR_INV_PARAMETER;
  return SUCCESS;
}

// The parameters both planes share, as the exports receive them.
struct PlaneParams {
  POINT vanishingPoint;
  int32_t tilt, distance, fieldOfView, rotation, offsetX, offsetY;
  uint32_t fadeStart, fadeEnd;
  int32_t fadeDistance;
  uint32_t fadeColor, fillColor, flags;
};

// ERROR_INV_PARAMETER for a value outside its range (offsets take any value).
inline int32_t CheckPlaneParams(const PlaneParams& p) {
  if (p.tilt < -36000 || p.tilt > 36000 || p.distance < 1 || p.fieldOfView < 1 ||
      p.fieldOfView > 17999 || p.rotation < -36000 || p.rotation > 36000 || p.fadeStart > 100 ||
      p.fadeEnd > 100 || p.fadeDistance < 0)
    return ERROR_INV_PARAMETER;
  return SUCCESS;
}

// Where a ray lands. kind: 0 no hit (the sky, or beyond the edge of a single picture), 1 a hit.
struct PlaneHit {
  double col, row, depth;
  int32_t kind;
};

struct PlaneView {
  RECT rect;
  int32_t W, H;
  double vx, vy;
  double tiltCos, tiltSin;
  double D, f;
  double rotCos, rotSin;
  double offsetX, offsetY;
  double centreCol, centreRow;
  double fadeBase, fadeSpan, fadeDistance;  // fractions of 1; distance in picture pixels
  bool fading;
  uint32_t outside, tiling;
  bool single;
  PreparedColor fill, fade;
};

inline PlaneView MakePlaneView(const BitmapRecord* bitmap, const RECT& rect, const PlaneParams& p) {
  PlaneView v{};
  v.rect = rect;
  v.W = rect.right - rect.left;
  v.H = rect.bottom - rect.top;
  v.vx = p.vanishingPoint.x;
  v.vy = p.vanishingPoint.y;
  const double tau = p.tilt * kPlanePi / 18000.0, rho = p.rotation * kPlanePi / 18000.0;
  v.tiltCos = std::cos(tau);
  v.tiltSin = std::sin(tau);
  v.rotCos = std::cos(rho);
  v.rotSin = std::sin(rho);
  v.D = p.distance;
  v.f = (v.W / 2.0) / std::tan(p.fieldOfView * kPlanePi / 36000.0);
  v.offsetX = p.offsetX;
  v.offsetY = p.offsetY;
  v.centreCol = (v.W - 1) / 2.0;
  v.centreRow = (v.H - 1) / 2.0;
  v.fadeBase = p.fadeStart / 100.0;
  v.fadeSpan = (static_cast<double>(p.fadeEnd) - static_cast<double>(p.fadeStart)) / 100.0;
  v.fadeDistance = p.fadeDistance;
  v.fading = p.fadeStart != 0 || p.fadeEnd != 0;
  v.outside = p.flags & 0x0F;
  v.tiling = p.flags & 0xF0;
  v.single = (p.flags & kPlaneSingleSample) != 0;
  v.fill = PrepareFillColor(bitmap, p.fillColor);
  v.fade = PrepareFillColor(bitmap, p.fadeColor);
  return v;
}

// Where a ray meets a surface: its length t and the distance along the surface.
struct SurfaceHit {
  double t, along;
};
inline constexpr int32_t kMaxSurfaceHits = 4;

// The flat plane at distance D.
struct FlatSurface {
  double D;
  int32_t Hits(double s, double f, SurfaceHit* hits) const {
    if (!(s > 0)) return 0;
    const double t = D / s;
    if (!(t < 1e300)) return 0;
    hits[0] = SurfaceHit{t, t * f};
    return 1;
  }
};

// The ray through output position (x, y) against the surface: the nearest hit, or with one
// picture and the fill or keep mode the nearest hit on the picture (the surface off the picture
// is not there: a curled page shows what lies behind its edge).
template <class Surface>
inline PlaneHit MapPlane(const PlaneView& v, const Surface& surface, double x, double y) {
  PlaneHit h{0, 0, 0, 0};
  const double dx = x - v.vx, dy = y - v.vy;
  const double s = dx * v.tiltSin + dy * v.tiltCos;
  const double l = dx * v.tiltCos - dy * v.tiltSin;
  SurfaceHit hits[kMaxSurfaceHits];
  const int32_t count = surface.Hits(s, v.f, hits);
  const bool sheet = v.tiling == kPlaneOnce && v.outside != kPlaneEdge;
  for (int32_t i = 0; i < count; ++i) {
    const double p = hits[i].t * l - v.offsetX, q = hits[i].along - v.f - v.offsetY;
    h.col = v.centreCol + (p * v.rotCos + q * v.rotSin);
    h.row = v.centreRow - (q * v.rotCos - p * v.rotSin);
    if (sheet && !(h.col >= 0 && h.col < v.W && h.row >= 0 && h.row < v.H)) continue;
    h.depth = hits[i].t * v.f;
    h.kind = 1;
    return h;
  }
  return PlaneHit{0, 0, 0, 0};
}

// Rays per side of a pixel from its centre's hit and its right and lower neighbours'.
inline int32_t PlaneRays(const PlaneHit& a, const PlaneHit& right, const PlaneHit& below) {
  if (a.kind == 0 && right.kind == 0 && below.kind == 0) return 1;
  if (a.kind != right.kind || a.kind != below.kind) return kPlaneMaxRays;
  const double sx = std::hypot(right.col - a.col, right.row - a.row);
  const double sy = std::hypot(below.col - a.col, below.row - a.row);
  const double span = sx > sy ? sx : sy;
  if (!(span <= kPlaneMaxRays + 0.5)) return kPlaneMaxRays;  // NaN as well
  const int32_t n = static_cast<int32_t>(std::ceil(span - 0.5));
  return n < 1 ? 1 : n;
}

// Position c reduced into [0, n): modulo n (repeat) or 2n (mirror).
inline double WrapPosition(double c, double period) {
  double r = c - std::floor(c / period) * period;
  if (!(r >= 0) || r >= period) r = 0;
  return r;
}
// Picture index of wrapped index i (0 .. period): mirrored copies run backward.
inline int64_t TileIndex(int64_t i, int64_t n, bool mirror) {
  if (!mirror) return i >= n ? i - n : i;
  if (i >= 2 * n) return 0;
  return i >= n ? 2 * n - 1 - i : i;
}

// Bilinear sample of the tiled picture at (col, row): samples 0..count-1 into out.
template <class T>
inline void TiledSample(const PlaneView& v, T* const* rows, double col, double row,
                        int32_t pixelStep, int32_t count, double* out) {
  const bool mirror = v.tiling == kPlaneMirror;
  const double c = WrapPosition(col, mirror ? 2.0 * v.W : v.W);
  const double r = WrapPosition(row, mirror ? 2.0 * v.H : v.H);
  const int64_t ix = static_cast<int64_t>(c), iy = static_cast<int64_t>(r);
  const double fx = c - ix, fy = r - iy;
  const int64_t a = (int64_t{v.rect.left} + TileIndex(ix, v.W, mirror)) * pixelStep;
  const int64_t b = (int64_t{v.rect.left} + TileIndex(ix + 1, v.W, mirror)) * pixelStep;
  const T* row0 = rows[TileIndex(iy, v.H, mirror)];
  const T* row1 = rows[TileIndex(iy + 1, v.H, mirror)];
  for (int32_t k = 0; k < count; ++k) {
    const int32_t p00 = row0[a + k], p01 = row0[b + k];
    const int32_t p10 = row1[a + k], p11 = row1[b + k];
    const int32_t d1 = p01 - p00, d2 = p10 - p00, d3 = p00 + p11 - p01 - p10;
    const double value = ((p00 + d1 * fx) + d2 * fy) + (d3 * fx) * fy;
    int32_t s = static_cast<int32_t>(value);
    if (s < 0) s = 0;
    if (s > SampleTraits<T>::kMax) s = SampleTraits<T>::kMax;
    out[k] = s;
  }
}

// The colour of one ray, added to sum[0..count-1].
template <class T>
inline void AddRay(const PlaneView& v, T* const* rows, int32_t pixelStep, int32_t width,
                   int32_t count, const PlaneHit& h, const T* own, double* sum) {
  const bool keep = v.outside == kPlaneKeep;
  if (h.kind == 0) {
    const uint32_t fill[3] = {v.fill.b, v.fill.g, v.fill.r};
    for (int32_t k = 0; k < count; ++k) sum[k] += keep ? own[k] : fill[k];
    return;
  }
  double s[3];
  if (v.tiling == kPlaneOnce) {
    T sample[4];
    const double col = ClampToSpan(h.col, 0, v.W), row = ClampToSpan(h.row, 0, v.H);
    BilinearSample<T>(rows, v.rect.left + col, row, v.H, pixelStep, width, sample);
    for (int32_t k = 0; k < count; ++k) s[k] = sample[k];
  } else {
    TiledSample<T>(v, rows, h.col, h.row, pixelStep, count, s);
  }
  if (v.fading) {
    double f = v.fadeBase + v.fadeSpan;
    if (v.fadeDistance > 0)
      f = v.fadeBase + v.fadeSpan * (1.0 - std::exp(-h.depth / v.fadeDistance));
    const uint32_t fade[3] = {v.fade.b, v.fade.g, v.fade.r};
    for (int32_t k = 0; k < count; ++k) s[k] = s[k] * (1 - f) + fade[k] * f;
  }
  for (int32_t k = 0; k < count; ++k) sum[k] += s[k];
}

// Scratch of one row: the hits of the row's centres (W + 1, the right neighbour of the last
// pixel included) and of the row below (W).
inline size_t PlaneScratchBytes(const RECT& rect) {
  return (2 * size_t(rect.right - rect.left) + 1) * sizeof(PlaneHit);
}

template <class T, class Surface>
void PlaneRow(const PlaneView& v, const Surface& surface, T* const* rows, int32_t y,
              int32_t pixelStep, int32_t width, T* out, uint8_t* scratch) {
  const int32_t count = IsColorPixel(pixelStep) ? 3 : 1;
  PlaneHit* here = reinterpret_cast<PlaneHit*>(scratch);
  PlaneHit* below = here + v.W + 1;
  for (int32_t i = 0; i <= v.W; ++i) {
    if (i == v.W && v.single) break;
    here[i] = MapPlane(v, surface, static_cast<double>(v.rect.left) + i, y);
  }
  if (!v.single)
    for (int32_t i = 0; i < v.W; ++i)
      below[i] = MapPlane(v, surface, static_cast<double>(v.rect.left) + i, y + 1.0);
  for (int32_t i = 0; i < v.W; ++i) {
    T* pixel = out + (int64_t{v.rect.left} + i) * pixelStep;
    const int32_t n = v.single ? 1 : PlaneRays(here[i], here[i + 1], below[i]);
    double sum[3] = {0, 0, 0};
    if (n == 1) {
      AddRay(v, rows, pixelStep, width, count, here[i], pixel, sum);
    } else {
      const double x = static_cast<double>(v.rect.left) + i;
      for (int32_t a = 0; a < n; ++a)
        for (int32_t b = 0; b < n; ++b) {
          const double ox = (b + 0.5) / n - 0.5, oy = (a + 0.5) / n - 0.5;
          AddRay(v, rows, pixelStep, width, count, MapPlane(v, surface, x + ox, y + oy), pixel,
                 sum);
        }
    }
    const double rays = static_cast<double>(n) * n;
    for (int32_t k = 0; k < count; ++k) pixel[k] = RoundSample<T>(sum[k] / rays);
  }
}

// Caches the rectangle and renders every row of it against the surface.
template <class Surface>
int32_t RunPlane(BitmapRecord* bitmap, const PlaneView& v, const Surface& surface) {
  return RunOverCachedRect(
      bitmap, v.rect,
      [&](auto rows, int32_t y, int32_t pixelStep, int32_t width, auto out, uint8_t* scratch) {
        PlaneRow(v, surface, rows, y, pixelStep, width, out, scratch);
      },
      PlaneScratchBytes(v.rect));
}

// Descriptor pieces both planes share.
inline constexpr FxFlagValue kPlaneOutsideValues[] = {
    {"fill", kPlaneFill, "the sky and positions off the picture take the fill colour"},
    {"edge", kPlaneEdge,
     "positions off the picture take its nearest edge pixel; the sky takes the fill colour"},
    {"keep", kPlaneKeep, "the sky and positions off the picture keep their pixels"},
};
inline constexpr FxFlagValue kPlaneTilingValues[] = {
    {"once", kPlaneOnce, "one picture on the plane"},
    {"repeat", kPlaneRepeat, "the picture repeated over the whole plane"},
    {"mirror", kPlaneMirror, "repeated, every other copy mirrored so the copies meet seamlessly"},
};
inline constexpr FxFlagValue kPlaneSamplingValues[] = {
    {"adaptive", 0, "shrunk areas, the horizon and edges average up to 4 x 4 rays per pixel"},
    {"single", kPlaneSingleSample, "one ray per pixel (faster, aliased in the distance)"},
};
inline constexpr FxFlagField kPlaneFlagFields[] = {
    FlagField("outside", 0x0F, kPlaneOutsideValues, "what the sky and off-picture positions get"),
    FlagField("tiling", 0xF0, kPlaneTilingValues, "how the picture covers the plane"),
    FlagField("sampling", 0xF00, kPlaneSamplingValues, "rays per pixel"),
};

}  // namespace fx
