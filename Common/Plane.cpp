// Plane: the picture laid on a plane seen in perspective, a floor, a wall or a ceiling receding to
// a horizon through the vanishing point. The plane lies `distance` pixels from the viewer; each
// pixel's ray meets it at a depth that grows toward the horizon, where the picture shrinks to a
// point, fades toward the fade colour and meets the sky (the fill colour). The model, the
// sampling and the extreme-input decisions are in Common/PlaneView.h.
#include "Common/PlaneView.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

const FxParamDesc kPlaneParams[] = {
    CenterParam("vanishingPoint",
                "where the plane's depth lines meet; the horizon passes through it (may lie off "
                "the image)"),
    IntParam("tilt", 0, -36000, 36000,
             "the plane's turn around the line of sight, hundredths of a degree: 0 floor, 9000 "
             "wall on the right, 18000 ceiling, 27000 wall on the left"),
    IntParam("distance", 120, 1, kAnyInt32Max,
             "distance of the viewer from the plane, pixels: the picture shows at its own width "
             "that far from the horizon"),
    IntParam("fieldOfView", 9000, 1, 17999,
             "angle of view across the rectangle's width, hundredths of a degree; wider "
             "foreshortens more"),
    IntParam("rotation", 0, -36000, 36000,
             "turn of the picture on the plane, hundredths of a degree"),
    IntParam("offsetX", 0, kAnyInt32Min, kAnyInt32Max,
             "moves the picture across the plane, picture pixels"),
    IntParam("offsetY", 0, kAnyInt32Min, kAnyInt32Max,
             "moves the picture along the plane, away from the viewer, picture pixels"),
    UIntParam("fadeStart", 0, 0, 100, "fade at the viewer, percent"),
    UIntParam("fadeEnd", 100, 0, 100, "fade at the horizon, percent"),
    IntParam("fadeDistance", 2000, 0, kAnyInt32Max,
             "depth over which the fade makes 63% of its change, picture pixels; 0 fades "
             "everything by fadeEnd"),
    ColorParam("fadeColor", 0xC0A080, "colour the plane fades toward (a haze)"),
    ColorParam("fillColor", 0xC0A080, "colour of the sky and of positions off the picture"),
    FlagsParam("flags", kPlaneRepeat, 0, 0x122,
               "bits 0-3 outside: 0 fill, 1 nearest edge, 2 keep; bits 4-7 tiling: 0x00 once, "
               "0x10 repeat, 0x20 mirror; 0x100 one ray per pixel",
               kPlaneFlagFields),
};

const FxPreset kPlanePresets[] = {
    {"chessboard-floor",
     "vanishingPoint=50%,35% distance=30%h fieldOfView=10000 tiling=mirror fadeEnd=100 "
     "fadeDistance=250%w fadeColor=#D8E4F0 fillColor=#D8E4F0"},
    {"gallery-wall",
     "vanishingPoint=25%,50% tilt=9000 rotation=-9000 distance=30%w fieldOfView=9000 "
     "tiling=once outside=fill fadeEnd=40 fadeDistance=300%w fadeColor=#202020 "
     "fillColor=#303030"},
    {"endless-road",
     "vanishingPoint=50%,30% distance=40%h fieldOfView=6000 tiling=repeat fadeEnd=90 "
     "fadeDistance=400%h fadeColor=#F0E0C0 fillColor=#80B0E0"},
};

}  // namespace

extern const FxEffectDesc kPlaneEffect = {
    "plane",
    "Fx_PlaneBitmap",
    FX_FAMILY_DISTORTION,
    "Lays the image on a floor or wall seen in perspective, receding to a horizon",
    kPlaneParams,
    CountOf(kPlaneParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_PlaneBitmap(b, v[0].pt, ArgI32(v[1]), ArgI32(v[2]), ArgI32(v[3]), ArgI32(v[4]),
                            ArgI32(v[5]), ArgI32(v[6]), ArgU32(v[7]), ArgU32(v[8]), ArgI32(v[9]),
                            ArgU32(v[10]), ArgU32(v[11]), ArgU32(v[12]));
    },
    kPlanePresets,
    CountOf(kPlanePresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_PlaneBitmap(BitmapRecord* bitmap, POINT vanishingPoint, int32_t tilt, int32_t distance,
                       int32_t fieldOfView, int32_t rotation, int32_t offsetX, int32_t offsetY,
                       uint32_t fadeStart, uint32_t fadeEnd, int32_t fadeDistance,
                       uint32_t fadeColor, uint32_t fillColor, uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap);
  if (rc == SUCCESS) rc = fx::CheckPlaneFlags(flags);
  if (rc != SUCCESS) return rc;
  const fx::PlaneParams p{vanishingPoint, tilt,      distance,  fieldOfView, rotation,
                          offsetX,        offsetY,   fadeStart, fadeEnd,     fadeDistance,
                          fadeColor,      fillColor, flags};
  rc = fx::CheckPlaneParams(p);
  if (rc != SUCCESS) return rc;
  fx::OrientationGuard orientation(bitmap);
  const RECT rect = fx::ProcessRect(bitmap);
  if (fx::IsEmpty(rect)) return ERROR_EMPTY_RECT;
  const fx::PlaneView view = fx::MakePlaneView(bitmap, rect, p);
  return fx::RunPlane(bitmap, view, fx::FlatSurface{view.D});
}
