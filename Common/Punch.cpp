// Punch: pushes the middle of the ellipse inscribed in the rectangle outward or pulls it inward
// around a chosen centre, as if the image were punched from behind or pinched from the front.
// The frame is spherize's (window, outside modes, fold handling, fill); only the radius function
// differs. Negative strength: r' = (r²/R - r)·k + r, which folds past the centre for k > 1;
// positive: r' = (sqrt(r·R) - r)·(1 - exp(e·r))·k + r with e = -ramp / 1000, never below r.
//
// Fold handling with the fill colour fills the centre pixel through its row neighbours, as in
// spherize. Extreme inputs: those of spherize (64-bit squares, bounded window, the centre of a
// rectangle one or two pixels wide stays).
#include <cstdlib>

#include "Common/Sphere.h"
#include "Common/SphereRemaps.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

const FxParamDesc kPunchParams[] = {
    IntParam("strength", 100, -500, 500,
             "positive pushes the middle outward, negative pulls it inward; |strength|/100 "
             "weights the remapping; 0 does nothing"),
    UIntParam("ramp", 20, 0, 1000,
              "how fast the outward push grows from the centre (positive strength); 0 makes "
              "a positive strength do nothing"),
    CenterParam("center", "centre of the effect; inside the rectangle grown by one pixel"),
    kSphereFillParam,
    kSphereFlagsParam,
};

const FxPreset kPunchPresets[] = {
    {"punch", "strength=400 ramp=2 outside=edge"},
    {"pull", "strength=-100"},
    {"folded", "strength=-200 fold=on outside=keep"},
};

}  // namespace

extern const FxEffectDesc kPunchEffect = {
    "punch",
    "Fx_PunchBitmap",
    FX_FAMILY_DISTORTION,
    "Pushes the middle of the inscribed ellipse outward or pulls it inward",
    kPunchParams,
    CountOf(kPunchParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_PunchBitmap(b, ArgI32(v[0]), ArgU32(v[1]), v[2].pt, ArgU32(v[3]), ArgU32(v[4]));
    },
    kPunchPresets,
    CountOf(kPunchPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_PunchBitmap(BitmapRecord* bitmap, int32_t strength, uint32_t ramp, POINT center,
                       uint32_t fillColor, uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap);
  if (rc != SUCCESS) return rc;
  if (std::llabs(int64_t{strength}) > 500 || ramp > 1000) return ERROR_POINT_OUT_OF_RANGE;
  rc = fx::CheckOutsideFlags(flags);
  if (rc != SUCCESS) return rc;
  if (strength == 0 || (ramp == 0 && strength >= 1)) {
    HostNothingToDo();
    return SUCCESS;
  }
  fx::OrientationGuard orientation(bitmap);
  const RECT rect = fx::ProcessRect(bitmap);
  if (fx::IsEmpty(rect)) return ERROR_EMPTY_RECT;
  if (!fx::CenterInGrownRect(rect, center)) return ERROR_POINT_OUT_OF_RANGE;
  const double e = (-1.0 * ramp) / 1000.0;
  const fx::PreparedColor fill = fx::PrepareFillColor(bitmap, fillColor);
  const double k = std::abs(strength) / 100.0;
  return fx::SphereDriver(bitmap, k, fx::MakeRadialOptions(center, flags, fill),
                          [&](const fx::SphereGeometry&) {
                            return fx::PunchRemap{k, e, strength > 0};
                          });
}
