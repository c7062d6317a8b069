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
#include <cmath>

#include "frame/Frame.h"
#include "Common/Rays.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;

struct RadialGeometry {
  RECT rect;
  int32_t cx, cy;
  int32_t width;  // W, the bitmap's
  double theta;   // arc angle Θ
  double f;       // length / R
  double a;       // (Θ / 2) / length
};

// Samples whose sines and cosines are computed together before they are gathered.
constexpr uint32_t kChunk = 256;

// Scratch of a row: the angle and radius of every pixel, and the sines and cosines of a chunk.
size_t RadialBlurScratch(const RECT& rect) {
  return (size_t(rect.right) - size_t(rect.left)) * 2 * sizeof(double) +
         2 * kChunk * sizeof(double);
}

// One output row. rows: the window (rowCount rows, the row of y at index w). Pixels whose
// sample count is 0 are left as they are in `out`, which starts as the source row. Staged so
// that the libm calls overlap: every angle and radius of the row first, then for each pixel the
// sines and cosines of a chunk of samples before their gathering; every value is the one the
// per-sample arithmetic gives (sincos gives the bits of sin and cos).
template <int C, class T>
void RadialBlurRow(const RadialGeometry& g, T* const* rows, int32_t rowCount, int32_t w, int32_t y,
                   int32_t pixelStep, T* out, uint8_t* scratch) {
  const int32_t count = g.rect.right - g.rect.left;
  double* phis = reinterpret_cast<double*>(scratch);
  double* radii = phis + count;
  double* cs = radii + count;
  double* sn = cs + kChunk;
  const int32_t dy = y - g.cy;
  const int64_t dy2 = int64_t{dy} * dy;
  const double rowOffset = static_cast<double>(int64_t{w} - dy);  // circle row within the window
  const double columns = g.width, lastRow = rowCount - 1;
  for (int32_t i = 0; i < count; ++i)
    phis[i] = std::atan2(static_cast<double>(dy), static_cast<double>(g.rect.left + i - g.cx));
  for (int32_t i = 0; i < count; ++i) {
    const int32_t dx = g.rect.left + i - g.cx;
    radii[i] = static_cast<double>(
        static_cast<int64_t>(std::sqrt(static_cast<double>(int64_t{dx} * dx + dy2))));
  }
  for (int32_t i = 0; i < count; ++i) {
    const int32_t x = g.rect.left + i;
    double phi = phis[i];
    const double r = radii[i];
    const uint32_t n = static_cast<uint32_t>(r * g.f + 0.5);
    if (n == 0) continue;
    const double step = g.theta / n;
    if (phi < 0) phi += 2 * kPi;
    const double start = phi - g.a * n;
    ChannelSums<T, C> sums;
    for (uint32_t k0 = 0; k0 < n; k0 += kChunk) {
      const uint32_t k1 = n - k0 > kChunk ? k0 + kChunk : n;
      for (uint32_t k = k0; k < k1; ++k) ::sincos(start + step * k, &sn[k - k0], &cs[k - k0]);
      for (uint32_t k = k0; k < k1; ++k) {
        const double sx = r * cs[k - k0] + g.cx;
        const double sy = r * sn[k - k0] + rowOffset;
        int64_t column = 0, row = 0;
        if (sx >= 0) {
          const double v = sx + 0.5;
          column = v < columns ? static_cast<int64_t>(v) : g.width - 1;
        }
        if (sy >= 0) {
          const double v = sy + 0.5;
          row = static_cast<int64_t>(v < lastRow ? v : lastRow);
        }
        sums.Add(rows[row] + column * pixelStep);
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
  const int32_t rc = pass.Open(bitmap, 2 * h + 1);
  if (rc != SUCCESS) return rc;

  const RadialGeometry g{
      rect, center.x, center.y, bitmap->Width, theta, double(length) / ref, (theta / 2.0) / length};
  return pass.Run(
      bitmap, rect,
      [&](auto channels, auto rows, int32_t rowCount, int32_t w, int32_t y, int32_t pixelStep,
          auto out, uint8_t* scratch) {
        RadialBlurRow<decltype(channels)::value>(g, rows, rowCount, w, y, pixelStep, out,
                                                 scratch);
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
    {"spin", "length=40 spread=20"},
    {"gentle", "length=10 spread=2"},
    {"corner", "length=30 spread=8 center=0,0"},
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
