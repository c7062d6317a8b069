// Radial blur: every pixel of the rectangle becomes the plain average of whole pixels taken on
// the circle through it around the centre, over an arc of fixed angle, as if the image had
// turned about the centre during the exposure. The number of samples grows with the distance
// from the centre (`length` of them at the reference distance R); the arc angle is
// atan(spread / q) with q = R / length.
//
// Extreme inputs: R is formed from 64-bit squares (see Rays.h). The window half-height
// trunc(R·sin Θ) and the row offset w - dy are formed in 64 bits, and sample columns are
// compared with the width before truncation, so every conversion is defined; identical for
// every bitmap the 32-bit arithmetic handles. R = 0 cannot occur for a non-empty rectangle with
// the centre in it grown by one (R ≥ 1); were it to, length / R would be undefined, so the
// driver leaves the bitmap as it is.
#include "Common/RadialBlur.h"

#include <cmath>

#include "Common/Rays.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowEngine.h"
#include "frame/Samplers.h"
#include "frame/ShortMath.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

struct RadialGeometry {
  RECT rect;
  int32_t cx, cy;
  int32_t width;  // W, the bitmap's
  double theta;   // arc angle Θ
  double f;       // length / R
  double a;       // (Θ / 2) / length
  // The sample offsets of every count n up to tableCounts (RadialOffsets).
  const double* offsets = nullptr;
  uint32_t tableCounts = 0;
};

// Counts whose sample offsets are tabulated: 1024 · 1025 pairs of doubles at most (8.2 MiB, for
// blurs of 1024 samples or more, which take seconds on a large picture).
constexpr uint32_t kMaxTableCount = 1024;

// Doubles of the table for counts 1 .. counts: n cosines and n sines for each count n.
size_t RadialTableSize(uint32_t counts) {
  return size_t{counts} * (counts + 1);
}

// The cosines (n of them) and then the sines of the offsets of a pixel with n samples.
inline const double* OffsetsOfCount(const RadialGeometry& g, uint32_t n) {
  return g.offsets + size_t{n} * (n - 1);
}

// Every count's offsets, the counts spread over the threads.
void FillRadialOffsets(const RadialGeometry& g, double* table) {
  const auto counts = static_cast<int32_t>(g.tableCounts);
  ParallelFor(counts, counts / 2, [&](int32_t i) {
    const auto n = static_cast<uint32_t>(i) + 1;
    double* c = table + size_t{n} * (n - 1);
    RadialOffsets(g.theta, g.a, n, c, c + n);
  });
}

// Samples whose angles, sines and cosines are computed together before they are gathered.
constexpr uint32_t kChunk = 256;

// Scratch of a row: the radius of every pixel (exact and truncated), and the angles, sines and
// cosines of a chunk of samples.
size_t RadialBlurScratch(const RECT& rect) {
  return (size_t(rect.right) - size_t(rect.left)) * 2 * sizeof(double) +
         3 * kChunk * sizeof(double);
}

// One output row. rows: the window (rowCount rows, the row of y at index w). Pixels whose
// sample count is 0 are left as they are in `out`, which starts as the source row. The literal
// arithmetic of sample k of a pixel: t = (φ - a·n) + step·k with φ = atan2(dy, dx) (plus 2π for a
// negative angle), the nearest pixel to (r cos t + cx, r sin t + (w - dy)), r the truncated
// distance.
//
// Short path: the sample's direction is the pixel's direction (dx, dy) / ρ turned by the
// tabulated offset, which gives cos t and sin t within E = RadialTurnError(dy); counts beyond
// the table take SinCosRow's values of the literal angles, within kSinCosError. The column and
// the row then lie within
//   e = 1.01 r E + 16 kRoundingUnit (r + |offset| + 1)
// of the literal ones (the rounding of both evaluations and of the + 0.5 included); a sample
// whose nearest pixel that interval decides takes it, any other takes libm's sincos of its
// literal angle.
template <int C, class T>
void RadialBlurRow(const RadialGeometry& g, T* const* rows, int32_t rowCount, int32_t w, int32_t y,
                   int32_t pixelStep, T* out, uint8_t* scratch) {
  const int32_t count = g.rect.right - g.rect.left;
  double* rhos = reinterpret_cast<double*>(scratch);
  double* radii = rhos + count;
  double* ts = radii + count;
  double* cs = ts + kChunk;
  double* sn = cs + kChunk;
  const int32_t dy = y - g.cy;
  const int64_t dy2 = int64_t{dy} * dy;
  const double fdy = dy;
  const double rowOffset = static_cast<double>(int64_t{w} - dy);  // circle row within the window
  const int64_t lastColumn = g.width - 1, lastRow = rowCount - 1;
  const double columnFixed = 16 * kRoundingUnit * (std::abs(static_cast<double>(g.cx)) + 1);
  const double rowFixed = 16 * kRoundingUnit * (std::abs(rowOffset) + 1);
  const double turnError = RadialTurnError(dy);
  for (int32_t i = 0; i < count; ++i) {
    const int32_t dx = g.rect.left + i - g.cx;
    rhos[i] = static_cast<double>(int64_t{dx} * dx + dy2);
  }
  SqrtRow(rhos, count);
  for (int32_t i = 0; i < count; ++i) radii[i] = static_cast<double>(static_cast<int64_t>(rhos[i]));
  for (int32_t i = 0; i < count; ++i) {
    const int32_t x = g.rect.left + i, dx = x - g.cx;
    const double r = radii[i];
    const uint32_t n = static_cast<uint32_t>(r * g.f + 0.5);
    if (n == 0) continue;
    const double step = g.theta / n;
    // The literal start angle, formed when a sample first needs it.
    bool started = false;
    double start = 0;
    auto literalStart = [&] {
      if (!started) start = RadialStart(g.a, dx, dy, n), started = true;
      return start;
    };
    ChannelSums<T, C> sums;
    // Adds the sample whose cosine and sine are known within the spread of ex and ey: its
    // nearest pixel where that decides it, else the literal arithmetic at angle(), the literal
    // angle.
    auto add = [&](double c, double s, double ex, double ey, auto angle) {
      int64_t column, row;
      if (!NearestIndexWithin(r * c + g.cx, ex, lastColumn, &column) ||
          !NearestIndexWithin(r * s + rowOffset, ey, lastRow, &row)) {
        ::sincos(angle(), &s, &c);
        column = NearestIndex(r * c + g.cx, lastColumn);
        row = NearestIndex(r * s + rowOffset, lastRow);
      }
      sums.Add(rows[row] + column * pixelStep);
    };
    if (n <= g.tableCounts) {
      const double* oc = OffsetsOfCount(g, n);
      const double* os = oc + n;
      const double inverse = 1.0 / rhos[i];
      const double dc = dx * inverse, ds = fdy * inverse;
      const double spread = 1.01 * r * turnError + 16 * kRoundingUnit * r;
      const double ex = spread + columnFixed, ey = spread + rowFixed;
      for (uint32_t k = 0; k < n; ++k) {
        double c, s;
        RadialTurn(dc, ds, oc[k], os[k], &c, &s);
        add(c, s, ex, ey, [&] { return literalStart() + step * k; });
      }
    } else {
      const double from = literalStart();
      const double spread = 1.01 * r * kSinCosError + 16 * kRoundingUnit * r;
      const double ex = spread + columnFixed, ey = spread + rowFixed;
      for (uint32_t k0 = 0; k0 < n; k0 += kChunk) {
        const int32_t len = static_cast<int32_t>(n - k0 > kChunk ? kChunk : n - k0);
        for (int32_t j = 0; j < len; ++j) ts[j] = from + step * (k0 + j);
        SinCosRow(ts, sn, cs, len);
        for (int32_t j = 0; j < len; ++j) add(cs[j], sn[j], ex, ey, [&] { return ts[j]; });
      }
    }
    sums.StoreAverage(out + int64_t{x} * pixelStep, n);
  }
}

int32_t RadialBlurDriver(BitmapRecord* bitmap, uint32_t length, int32_t spread, const RECT& rect,
                         POINT center, uint32_t ref) {
  uint32_t q = ref / length;
  if (q == 0) {
    length = ref;
    q = 1;
  }
  const double theta = std::atan2(static_cast<double>(spread), static_cast<double>(q));

  const int64_t h = static_cast<int64_t>(ref * std::sin(theta));
  RayPass pass;
  int32_t rc = pass.Open(bitmap, 2 * h + 1);
  if (rc != SUCCESS) return rc;

  // No pixel has more than `length` samples: r ≤ R.
  const uint32_t tableCounts = length < kMaxTableCount ? length : kMaxTableCount;
  HostBlock<double> table;
  if (!table.Allocate(static_cast<uint32_t>(RadialTableSize(tableCounts)))) return ERROR_NO_MEMORY;
  RadialGeometry g{
      rect, center.x, center.y, bitmap->Width, theta, double(length) / ref, (theta / 2.0) / length};
  g.offsets = table.get();
  g.tableCounts = tableCounts;
  FillRadialOffsets(g, table.get());
  return pass.Run(
      bitmap, rect,
      [&](auto channels, auto rows, int32_t rowCount, int32_t w, int32_t y, int32_t pixelStep,
          auto out, uint8_t* scratch) {
        RadialBlurRow<decltype(channels)::value>(g, rows, rowCount, w, y, pixelStep, out, scratch);
      },
      RadialBlurScratch(rect));
}

const FxParamDesc kRadialBlurParams[] = {
    UIntParam("length", 20, 0, kAnyUInt32Max,
              "samples averaged at the farthest corner; 0 or 1 does nothing; above R acts as R"),
    IntParam("spread", 5, 0, kAnyInt32Max,
             "angular extent: the arc is atan(spread / (R / length)); 0 does nothing"),
    CenterParam("center", "centre of rotation; inside the rectangle grown by one pixel"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kRadialBlurPresets[] = {
    {"spin", "length=40 spread=4%s"},
    {"gentle", "length=10 spread=0.5%s"},
    {"corner", "length=30 spread=1.7%s center=0%,0%"},
};

}  // namespace

extern const FxEffectDesc kRadialBlurEffect = {
    "radial-blur",
    "Fx_RadialBlurBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Blurs along circles around a centre point, as if the image had turned about it",
    kRadialBlurParams,
    CountOf(kRadialBlurParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_RadialBlurBitmap(b, ArgU32(v[0]), ArgI32(v[1]), v[2].pt, ArgU32(v[3]));
    },
    kRadialBlurPresets,
    CountOf(kRadialBlurPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_RadialBlurBitmap(BitmapRecord* bitmap, uint32_t length, int32_t spread, POINT center,
                            uint32_t flags) {
  if (flags != 0) return ERROR_INV_PARAMETER;
  int32_t rc = fx::CheckBitmap(bitmap);
  if (rc != SUCCESS) return rc;
  if (spread < 0) return ERROR_INV_PARAMETER;
  if (length < 2 || spread == 0) {
    HostNothingToDo();
    return SUCCESS;
  }
  return fx::RunRayBlur(bitmap, center, [&](const RECT& rect, uint32_t ref) {
    return fx::RadialBlurDriver(bitmap, length, spread, rect, center, ref);
  });
}
