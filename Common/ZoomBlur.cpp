// Zoom blur: every pixel of the rectangle becomes the plain average of whole pixels taken on the
// ray through the centre, centred on the pixel. The number of samples grows with the distance
// from the centre (`length` of them at the reference distance R) and `strength` stretches their
// spacing with the distance, as if the camera had zoomed during the exposure.
//
// The offsets along the ray are tabled once per call for every whole degree, so the inner loop
// does no trigonometry: atan2 and sqrt run once per pixel, two multiplications per sample when
// the spacing is stretched.
//
// Extreme inputs: R is formed from 64-bit squares (see Rays.h); with a wrapped R the sample
// count would run past the end of a list (it is also capped at the list length, which no
// ordinary input reaches). The window height length·(trunc(s) + 1)
// is formed in 64 bits, so a huge one selects the whole-bitmap mode instead of wrapping. Sample
// positions are formed in 64 bits before they are clamped to the bitmap and the window. R = 0
// cannot occur for a non-empty rectangle with the centre in it grown by one (R ≥ 1); were it
// to, every pixel would average no samples and the driver leaves the bitmap as it is. The ray
// table takes 2880·length bytes (length ≤ R), which grows to gigabytes only on bitmaps of
// hundreds of thousands of pixels a side.
#include <cmath>
#include <type_traits>

#include "frame/Frame.h"
#include "Common/Rays.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;
constexpr int32_t kDegrees = 360;

struct RayOffset {
  int32_t ox, oy;
};
static_assert(sizeof(RayOffset) == 8);

// Rounds half away from zero.
inline int32_t RoundAway(double v) {
  return TruncToInt32(v >= 0 ? v + 0.5 : v - 0.5);
}

// One list of `length` offsets per whole degree: entry 0 is the pixel itself, then the pairs
// at ±1, ±2, ... steps along the ray; the one or two entries left over stay (0, 0).
class RayTable {
 public:
  RayTable() = default;
  ~RayTable() { Free(); }
  RayTable(const RayTable&) = delete;
  RayTable& operator=(const RayTable&) = delete;

  // The table of 360 list pointers, then each list, all zero-filled.
  bool Allocate(uint32_t length) {
    if (!table_.AllocateCleared(kDegrees)) return false;
    for (int32_t d = 0; d < kDegrees; ++d) {
      table_[d] = static_cast<RayOffset*>(FX_ALLOC(length, sizeof(RayOffset)));
      if (!table_[d]) return false;
      HostMemSet(table_[d], 0, size_t{length} * sizeof(RayOffset));
    }
    length_ = length;
    return true;
  }

  void Fill() {
    for (int32_t d = 0; d < kDegrees; ++d) {
      const double theta = d * (kPi / 180.0);
      const double c = std::cos(theta), sn = std::sin(theta);
      RayOffset* list = table_[d];
      for (uint32_t i = 1; i < length_ / 2; ++i) {
        const int32_t px = RoundAway(i * c), py = RoundAway(i * sn);
        list[2 * i - 1] = RayOffset{px, py};
        list[2 * i] = RayOffset{-px, -py};
      }
    }
  }

  const RayOffset* list(int32_t degree) const { return table_[degree]; }

 private:
  void Free() {
    if (!table_) return;
    for (int32_t d = 0; d < kDegrees; ++d)
      if (table_[d]) FX_FREE(table_[d]);
    table_.Reset();
  }

  HostBlock<RayOffset*> table_;
  uint32_t length_ = 0;
};

struct ZoomGeometry {
  RECT rect;
  int32_t cx, cy;
  int32_t width;        // W, the bitmap's
  uint32_t listLength;  // entries per ray list: length after lowering to R
  double length;        // the same, as a double
  double ref;           // R
  double s;             // strength / 10
  const RayTable* rays;
};

inline int64_t Clamp64(int64_t v, int64_t lo, int64_t hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

// One output row. rows: the window (rowCount rows, the row of y at index w). Pixels whose
// sample count is 0 are left as they are in `out`, which starts as the source row.
template <int C, class T>
void ZoomBlurRow(const ZoomGeometry& g, T* const* rows, int32_t rowCount, int32_t w, int32_t y,
                 int32_t pixelStep, T* out) {
  const int32_t dy = y - g.cy;
  const int64_t dy2 = int64_t{dy} * dy;
  const int64_t lastColumn = g.width - 1, lastRow = rowCount - 1;
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const int32_t dx = x - g.cx;
    const double phi = std::atan2(static_cast<double>(dy), static_cast<double>(dx));
    int32_t deg = static_cast<int32_t>(phi * (180.0 / kPi));
    if (phi < 0) deg += 360;
    if (deg == 360) deg = 0;
    const double dist = std::sqrt(static_cast<double>(int64_t{dx} * dx + dy2));
    uint32_t n = static_cast<uint32_t>(dist * g.length / g.ref);
    if (n == 0) continue;
    if (n > g.listLength) n = g.listLength;  // never while dist < R + 1; keeps reads in the list
    const RayOffset* list = g.rays->list(deg);
    ChannelSums<T, C> sums;
    if (g.s == 0) {
      for (uint32_t j = 0; j < n; ++j) {
        const int64_t sx = Clamp64(int64_t{x} - list[j].ox, 0, lastColumn);
        const int64_t sr = Clamp64(int64_t{w} - list[j].oy, 0, lastRow);
        sums.Add(rows[sr] + sx * pixelStep);
      }
    } else {
      const double k = 1.0 + dist * g.s / g.ref;
      for (uint32_t j = 0; j < n; ++j) {
        const int64_t sx = Clamp64(x - static_cast<int64_t>(list[j].ox * k), 0, lastColumn);
        const int64_t sr = Clamp64(w + static_cast<int64_t>(-list[j].oy * k), 0, lastRow);
        sums.Add(rows[sr] + sx * pixelStep);
      }
    }
    sums.StoreAverage(out + int64_t{x} * pixelStep, n);
  }
}

int32_t ZoomBlurDriver(BitmapRecord* bitmap, uint32_t length, double s, const RECT& rect,
                       POINT center, uint32_t ref) {
  if (length > ref) length = ref;

  const int64_t half = int64_t{length} * (static_cast<int64_t>(s) + 1);
  RayPass pass;
  int32_t rc = pass.Open(bitmap, 2 * half + 1);
  if (rc != SUCCESS) return rc;
  RayTable rays;
  if (!rays.Allocate(length)) return ERROR_NO_MEMORY;
  rays.Fill();

  const ZoomGeometry g{rect,           center.x,    center.y, bitmap->Width, length,
                       double(length), double(ref), s,        &rays};
  return pass.Run(bitmap, rect,
                  [&](auto channels, auto rows, int32_t rowCount, int32_t w, int32_t y,
                      int32_t pixelStep, auto out, uint8_t*) {
                    ZoomBlurRow<decltype(channels)::value>(g, rows, rowCount, w, y, pixelStep, out);
                  });
}

const FxParamDesc kZoomBlurParams[] = {
    UIntParam("length", 20, 0, kAnyUInt32Max,
              "samples averaged at the farthest corner; 0 or 1 does nothing; above R acts as R"),
    UIntParam("strength", 0, 0, 100, "stretch of the sample spacing with the distance, tenths"),
    CenterParam("center", "centre of the zoom; inside the rectangle grown by one pixel"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kZoomBlurPresets[] = {
    {"rush", "length=40 strength=30"},
    {"corner", "length=24 center=0,0"},
    {"stretched", "length=12 strength=100"},
};

}  // namespace

extern const FxEffectDesc kZoomBlurEffect = {
    "zoom-blur",
    "Fx_ZoomBlurBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Blurs along the rays through a centre point, more with the distance, as a zoom would",
    kZoomBlurParams,
    CountOf(kZoomBlurParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_ZoomBlurBitmap(b, ArgU32(v[0]), ArgU32(v[1]), v[2].pt, ArgU32(v[3]));
    },
    kZoomBlurPresets,
    CountOf(kZoomBlurPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_ZoomBlurBitmap(BitmapRecord* bitmap, uint32_t length, uint32_t strength, POINT center,
                          uint32_t flags) {
  int32_t rc = fx::CheckBitmapPresent(bitmap);
  if (rc != SUCCESS) return rc;
  if (flags != 0) return ERROR_INV_PARAMETER;
  rc = fx::CheckBitmapRecord(bitmap);
  if (rc != SUCCESS) return rc;
  if (strength > 100) return ERROR_POINT_OUT_OF_RANGE;
  if (length < 2) {
    HostNothingToDo();
    return SUCCESS;
  }
  return fx::RunRayBlur(bitmap, center, [&](const RECT& rect, uint32_t ref) {
    return fx::ZoomBlurDriver(bitmap, length, strength / 10.0, rect, center, ref);
  });
}
