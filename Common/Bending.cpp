// Bending: bends the rectangle as if printed on a curved surface. The spherical shape (flags
// 0) is spherize's remapping inside the circle of the rectangle's half-diagonal D around the
// chosen centre: r' = (asin(r / D) / q - r)·k + r for positive strength, (D·sin(r·q) - r)·k + r
// for negative, q = pi / 2D. The cylindrical shapes (0x100 along rows, 0x200 along columns
// through the transposed view) compute the same remapping about the rectangle's own centre and
// apply only its horizontal component, sampling linearly within the row.
//
// Fold handling with the fill colour fills the centre pixel through its row neighbours, as in
// spherize. Extreme inputs: those of spherize (64-bit squares, bounded window); a rectangle of at
// most two pixels each way has D = 0, and its centre pixel (the only one within D) stays.
#include "Common/Sphere.h"
#include "Common/SphereRemaps.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr uint32_t kShapeMask = 0xF00;
constexpr uint32_t kShapeSpherical = 0x000;
constexpr uint32_t kShapeHorizontal = 0x100;
constexpr uint32_t kShapeVertical = 0x200;

// One row of the cylindrical shapes: the radial remapping about (cx, cy), moved along the row.
template <class T>
void BendRow(const SphereGeometry& g, const RadialOptions& o, const BendRemap& remap, int32_t y,
             const T* src, T* dst, int32_t step, int32_t width) {
  const RECT& rc = g.rect;
  const int32_t cx = o.center.x, cy = o.center.y;
  const int32_t dy = y - cy;
  const int64_t dy2 = int64_t{dy} * dy;
  const double fdy = dy;
  for (int32_t x = rc.left; x < rc.right; ++x) {
    const int32_t dx = x - cx;
    const double r = std::sqrt(static_cast<double>(int64_t{dx} * dx + dy2));
    if (r > g.D) continue;
    const double theta = std::atan2(fdy, static_cast<double>(dx));
    double rp = g.D == 0 ? 0.0 : remap.Map(r, g.D);
    if (o.fold && rp <= 0 && FoldPixel(o, rc, x, dx, dy, step, dst, rp)) continue;
    T* pixel = dst + int64_t{x} * step;
    double sx = cx + rp * std::cos(theta);
    if (!(rc.left <= sx && sx < rc.right)) {
      if (o.mode == kOutsideFill) {
        WriteFill(pixel, step, o.fill);
        continue;
      }
      if (o.mode == kOutsideKeep) continue;
      sx = sx >= rc.right ? rc.right - 1 : rc.left;
    }
    LinearSample<T>(src, sx, step, width, pixel);
  }
}

int32_t CylindricalBendDriver(BitmapRecord* bitmap, double k, bool outward, RadialOptions o) {
  RowPairPass pass;
  int32_t rc = pass.Open(bitmap);
  if (rc != SUCCESS) return rc;
  const SphereGeometry g = MakeSphereGeometry(pass.rect());
  o.center = POINT{static_cast<int32_t>((int64_t{g.rect.right} + g.rect.left) / 2),
                   static_cast<int32_t>((int64_t{g.rect.bottom} + g.rect.top) / 2)};
  const BendRemap remap = MakeBendRemap(g, k, outward);
  return WithSampleType(pass.sampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return pass.Run(bitmap, [&](int32_t y, const uint8_t* src, uint8_t* dst) {
      BendRow<T>(g, o, remap, y, reinterpret_cast<const T*>(src), reinterpret_cast<T*>(dst),
                 pass.step(), pass.width());
    });
  });
}

// The shapes, once the entry checks have passed.
int32_t BendingWork(BitmapRecord* bitmap, double k, bool outward, const RadialOptions& options,
                    uint32_t flags) {
  switch (flags & kShapeMask) {
    case kShapeSpherical:
      return SphereDriver(bitmap, k, options,
                          [&](const SphereGeometry& g) { return MakeBendRemap(g, k, outward); });
    case kShapeHorizontal:
      return CylindricalBendDriver(bitmap, k, outward, options);
    case kShapeVertical: {
      HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, 5, 0);
      const int32_t rc = CylindricalBendDriver(bitmap, k, outward, options);
      HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, 1, 0);
      return rc;
    }
    default:
      return ERROR_INV_PARAMETER;
  }
}

constexpr FxFlagValue kShapeValues[] = {
    {"spherical", kShapeSpherical, "a sphere around the centre"},
    {"vertical", kShapeHorizontal, "a cylinder with a vertical axis: pixels move along the rows"},
    {"horizontal", kShapeVertical,
     "a cylinder with a horizontal axis: pixels move along the columns"},
};
constexpr FxFlagField kBendingFlagFields[] = {
    kOutsideField,
    kFoldField,
    FlagField("shape", kShapeMask, kShapeValues, "the surface the image is printed on"),
};

const FxParamDesc kBendingParams[] = {
    IntParam("strength", 100, -500, 500,
             "positive: asin form (bulge), negative: sin form; |strength|/100 weights the "
             "remapping; 0 does nothing"),
    CenterParam("center",
                "centre of the spherical bend; inside the rectangle grown by one pixel (checked "
                "for every shape)"),
    kSphereFillParam,
    FlagsParam("flags", 0, 0, kAnyUInt32Max,
               "bits 0-3: outside mode 0 fill, 1 nearest edge, 2 keep; 0x10: fold handling; "
               "shape 0 spherical, 0x100 cylindrical along rows, 0x200 along columns",
               kBendingFlagFields),
};

const FxPreset kBendingPresets[] = {
    {"vertical-cylinder", "strength=200 shape=vertical outside=edge"},
    {"horizontal-cylinder", "strength=100 shape=horizontal outside=edge"},
    {"corner", "strength=150 center=0%,0% outside=edge"},
};

}  // namespace

extern const FxEffectDesc kBendingEffect = {
    "bending",
    "Fx_BendingBitmap",
    FX_FAMILY_DISTORTION,
    "Bends the image as if printed on a sphere or a cylinder",
    kBendingParams,
    CountOf(kBendingParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_BendingBitmap(b, ArgI32(v[0]), v[1].pt, ArgU32(v[2]), ArgU32(v[3]));
    },
    kBendingPresets,
    CountOf(kBendingPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_BendingBitmap(BitmapRecord* bitmap, int32_t strength, POINT center, uint32_t fillColor,
                         uint32_t flags) {
  return fx::SphereEntry(bitmap, strength, center, fillColor, flags, fx::BendingWork);
}
