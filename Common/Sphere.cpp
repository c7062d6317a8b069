// Spherize: wraps the image around a sphere (positive strength: the middle bulges towards the
// viewer) or into a hollow (negative: the middle is pinched), inside the ellipse inscribed in the
// rectangle and centred on a chosen point. Each pixel inside the ellipse takes the colour on the
// same ray at a remapped radius; pixels outside it keep their values. Sources outside the
// rectangle get the fill colour, the nearest edge's colour, or leave the pixel (flags bits 0-3);
// flag 0x10 handles radii folded past the centre. Also the shared pieces of Sphere.h.
//
// Fold handling with the fill colour: the centre pixel is skipped when reached, but the pixels
// beside it on its row (dx = 1 and dx = -1) fill it as well as themselves when they fold, so
// with a strength that folds them the centre ends up filled too.
//
// Extreme inputs: a², b² and dx² + dy² are formed in 64 bits rather than wrapping in 32 (the same
// for rectangles narrower than 46341 pixels); the window size is computed without overflow and
// limited to the rectangle's height; a rectangle one or two pixels wide has a zero ellipse radius
// at the centre pixel, whose remapped radius 0/0 is taken as its limit 0 (the pixel stays);
// |strength| is compared in 64 bits, so INT32_MIN is out of range.
#include "Common/Sphere.h"

#include <cstdlib>

#include "Common/SphereRemaps.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"

namespace fx {

SphereGeometry MakeSphereGeometry(const RECT& rect) {
  const int64_t a = (int64_t{rect.right} - rect.left - 1) / 2;
  const int64_t b = (int64_t{rect.bottom} - rect.top - 1) / 2;
  return SphereGeometry{rect, a * a, b * b, std::sqrt(static_cast<double>(a * a + b * b)),
                        EllipseRimSpread(static_cast<double>(a * a), static_cast<double>(b * b))};
}

int32_t SphereWindowSize(double D, double k, int32_t rows) {
  const int64_t n = int64_t{TruncToInt32(D * 0.44 * k)} + 3;
  return n > rows ? rows : static_cast<int32_t>(n);
}

int32_t SphereEntry(BitmapRecord* bitmap, int32_t strength, POINT center, uint32_t fillColor,
                    uint32_t flags, SphereWork work) {
  int32_t rc = CheckBitmap(bitmap);
  if (rc != SUCCESS) return rc;
  if (std::llabs(int64_t{strength}) > 500) return ERROR_POINT_OUT_OF_RANGE;
  if (strength == 0) {
    HostNothingToDo();
    return SUCCESS;
  }
  OrientationGuard orientation(bitmap);
  const RECT rect = ProcessRect(bitmap);
  if (IsEmpty(rect)) return ERROR_EMPTY_RECT;
  if (!CenterInGrownRect(rect, center)) return ERROR_POINT_OUT_OF_RANGE;
  const PreparedColor fill = PrepareFillColor(bitmap, fillColor);
  rc = CheckOutsideFlags(flags);
  if (rc != SUCCESS) return rc;
  return work(bitmap, std::abs(strength) / 100.0, strength > 0,
              MakeRadialOptions(center, flags, fill), flags);
}

int32_t RowPairPass::Open(BitmapRecord* bitmap) {
  int32_t rc = CheckBitmapPresent(bitmap);
  if (rc != SUCCESS) return rc;
  rc = access_.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  width_ = bitmap->Width;
  rect_ = ProcessRect(bitmap);
  step_ = access_.PixelStep();
  const size_t bytes = static_cast<size_t>(access_.RowBytes()) + 4 * static_cast<size_t>(step_);
  return source_.AllocateRowByRow(bytes, slots_);
}

namespace {

const FxParamDesc kSpherizeParams[] = {
    IntParam("strength", 100, -500, 500,
             "positive bulges the middle, negative pinches it; |strength|/100 weights the "
             "remapping; 0 does nothing"),
    CenterParam("center", "centre of the sphere; inside the rectangle grown by one pixel"),
    kSphereFillParam,
    kSphereFlagsParam,
};

const FxPreset kSpherizePresets[] = {
    {"bulge", "strength=250 outside=edge"},
    {"pinch", "strength=-100 outside=edge"},
    {"folded", "strength=-250 fold=on outside=keep"},
};

}  // namespace

extern const FxEffectDesc kSpherizeEffect = {
    "spherize",
    "Fx_SpherizeBitmap",
    FX_FAMILY_DISTORTION,
    "Wraps the image around a sphere or into a hollow inside the inscribed ellipse",
    kSpherizeParams,
    CountOf(kSpherizeParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_SpherizeBitmap(b, ArgI32(v[0]), v[1].pt, ArgU32(v[2]), ArgU32(v[3]));
    },
    kSpherizePresets,
    CountOf(kSpherizePresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_SpherizeBitmap(BitmapRecord* bitmap, int32_t strength, POINT center, uint32_t fillColor,
                          uint32_t flags) {
  return fx::SphereEntry(
      bitmap, strength, center, fillColor, flags,
      [](BitmapRecord* b, double k, bool outward, const fx::RadialOptions& o, uint32_t) {
        return fx::SphereDriver(b, k, o, [&](const fx::SphereGeometry&) {
          return fx::SpherizeRemap{k, outward};
        });
      });
}
