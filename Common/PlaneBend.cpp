// Plane bend: the plane of Common/Plane.cpp (picture centred, no offsets) bent around an axis that
// runs across it: flat up to bendPosition picture pixels beyond the picture's centre, then rolled
// over a cylinder of bendRadius through bendAngle (toward the viewer's side like a curling page
// when positive, away like a banner over a drum when negative), then straight on along the
// tangent. A ray takes the nearest of its hits on the three pieces (on the picture, for a single
// picture in fill or keep mode); the picture runs along the surface by arc length, so it is bent,
// not stretched.
//
// In the section through the line of sight (forward z, toward the plane n; viewer at the origin,
// plane at n = D, ray (t·f, t·s)), with the bend at Zb = f + bendPosition, σ = +1 for a positive
// angle and -1 for a negative one, Θ = |bendAngle| in radians and r = bendRadius:
// - flat: t = D / s for s > 0, where z = t·f ≤ Zb; along = z;
// - arc: centre C = (Zb, D - σ·r), points C + (r·sin φ, σ·r·cos φ) for 0 ≤ φ ≤ Θ (the roots of
//   the ray-circle quadratic, nearer first, φ = atan2(z - Zb, σ·(n - Cn)) taken in [0, 2π));
//   along = Zb + r·φ;
// - tail: from the arc's end E along the tangent (cos Θ, -σ·sin Θ) by μ ≥ 0; along = Zb + r·Θ + μ.
// bendAngle 0 leaves the plane flat everywhere (the same pixels as Fx_PlaneBitmap); a radius of 0
// is a sharp crease. Model, sampling and extreme inputs otherwise as Common/PlaneView.h.
#include <cmath>

#include "Common/PlaneView.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

struct BentSurface {
  double D, Zb, r, theta, sigma;
  bool bent;
  double Cn, Ez, En, Tz, Tn, alongEnd;

  BentSurface(double distance, double f, int32_t position, int32_t radius, int32_t angle)
      : D(distance),
        Zb(f + position),
        r(radius),
        theta(0),
        sigma(angle < 0 ? -1.0 : 1.0),
        bent(angle != 0) {
    theta = (angle < 0 ? -static_cast<double>(angle) : angle) * kPlanePi / 18000.0;
    Cn = D - sigma * r;
    Ez = Zb + r * std::sin(theta);
    En = Cn + sigma * r * std::cos(theta);
    Tz = std::cos(theta);
    Tn = -sigma * std::sin(theta);
    alongEnd = Zb + r * theta;
  }

  // Every hit, nearest first: the flat part, the arc's (up to two), the tail's.
  int32_t Hits(double s, double f, SurfaceHit* hits) const {
    int32_t n = 0;
    const auto add = [&](double t, double along) {
      if (!(t > 0 && t < 1e300)) return;
      int32_t i = n++;
      for (; i > 0 && hits[i - 1].t > t; --i) hits[i] = hits[i - 1];
      hits[i] = SurfaceHit{t, along};
    };
    if (s > 0) {
      const double t = D / s, z = t * f;
      if (!bent || z <= Zb) add(t, z);
    }
    if (!bent) return n;
    if (r > 0) {
      const double dd = f * f + s * s, dc = f * Zb + s * Cn;
      const double cc = (Zb * Zb + Cn * Cn) - r * r;
      const double disc = dc * dc - dd * cc;
      if (disc >= 0) {
        const double root = std::sqrt(disc);
        for (double t : {(dc - root) / dd, (dc + root) / dd}) {
          double phi = std::atan2(t * f - Zb, sigma * (t * s - Cn));
          if (phi < 0) phi += 2 * kPlanePi;
          if (phi <= theta) add(t, Zb + r * phi);
        }
      }
    }
    const double det = Tz * s - f * Tn;
    if (det != 0) {
      const double t = (Tz * En - Ez * Tn) / det, mu = (f * En - s * Ez) / det;
      if (mu >= 0) add(t, alongEnd + mu);
    }
    return n;
  }
};

const FxParamDesc kPlaneBendParams[] = {
    CenterParam("vanishingPoint",
                "where the flat part's depth lines meet; its horizon passes through it (may lie "
                "off the image)"),
    IntParam("tilt", 0, -36000, 36000,
             "the plane's turn around the line of sight, hundredths of a degree: 0 floor, 9000 "
             "wall on the right, 18000 ceiling, 27000 wall on the left"),
    IntParam("distance", 120, 1, kAnyInt32Max,
             "distance of the viewer from the flat part, pixels: the picture shows at its own "
             "width that far from the horizon"),
    IntParam("fieldOfView", 9000, 1, 17999,
             "angle of view across the rectangle's width, hundredths of a degree"),
    IntParam("rotation", 0, -36000, 36000,
             "turn of the picture on the plane, hundredths of a degree (the bend stays across "
             "the line of sight)"),
    IntParam("bendPosition", 0, kAnyInt32Min, kAnyInt32Max,
             "where the bend starts, picture pixels beyond the picture's centre"),
    IntParam("bendRadius", 80, 0, kAnyInt32Max, "radius of the bend, pixels; 0 a sharp crease"),
    IntParam("bendAngle", 18000, -36000, 36000,
             "how far the plane turns, hundredths of a degree: positive curls up toward the "
             "viewer, negative bends away; 0 flat"),
    UIntParam("fadeStart", 0, 0, 100, "fade at the viewer, percent"),
    UIntParam("fadeEnd", 60, 0, 100, "fade at the horizon, percent"),
    IntParam("fadeDistance", 2000, 0, kAnyInt32Max,
             "depth over which the fade makes 63% of its change, picture pixels; 0 fades "
             "everything by fadeEnd"),
    ColorParam("fadeColor", 0x000000, "colour the plane fades toward"),
    ColorParam("fillColor", 0x000000, "colour of the sky and of positions off the picture"),
    FlagsParam("flags", kPlaneOnce, 0, 0x122,
               "bits 0-3 outside: 0 fill, 1 nearest edge, 2 keep; bits 4-7 tiling: 0x00 once, "
               "0x10 repeat, 0x20 mirror; 0x100 one ray per pixel",
               kPlaneFlagFields),
};

const FxPreset kPlaneBendPresets[] = {
    {"curled-page",
     "vanishingPoint=50%,15% distance=45%h fieldOfView=7000 bendPosition=15%h bendRadius=8%s "
     "bendAngle=24000 fadeEnd=50 fadeDistance=300%h fillColor=#383430 fadeColor=#383430"},
    {"over-the-crest",
     "vanishingPoint=50%,20% distance=40%h fieldOfView=8000 bendPosition=0 bendRadius=40%s "
     "bendAngle=-9000 tiling=mirror fadeEnd=70 fadeDistance=200%h fillColor=#FFFFFF "
     "fadeColor=#FFFFFF"},
    {"studio-cove",
     "vanishingPoint=50%,30% distance=35%h fieldOfView=9000 bendPosition=15%h bendRadius=20%s "
     "bendAngle=9000 tiling=repeat fadeEnd=30 fadeDistance=300%h fillColor=#E0E0E0 "
     "fadeColor=#E0E0E0"},
};

}  // namespace

extern const FxEffectDesc kPlaneBendEffect = {
    "plane-bend",
    "Fx_PlaneBendBitmap",
    FX_FAMILY_DISTORTION,
    "Lays the image on a plane in perspective that curls up like a page or bends over a drum",
    kPlaneBendParams,
    CountOf(kPlaneBendParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_PlaneBendBitmap(b, v[0].pt, ArgI32(v[1]), ArgI32(v[2]), ArgI32(v[3]), ArgI32(v[4]),
                                ArgI32(v[5]), ArgI32(v[6]), ArgI32(v[7]), ArgU32(v[8]),
                                ArgU32(v[9]), ArgI32(v[10]), ArgU32(v[11]), ArgU32(v[12]),
                                ArgU32(v[13]));
    },
    kPlaneBendPresets,
    CountOf(kPlaneBendPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_PlaneBendBitmap(BitmapRecord* bitmap, POINT vanishingPoint, int32_t tilt,
                           int32_t distance, int32_t fieldOfView, int32_t rotation,
                           int32_t bendPosition, int32_t bendRadius, int32_t bendAngle,
                           uint32_t fadeStart, uint32_t fadeEnd, int32_t fadeDistance,
                           uint32_t fadeColor, uint32_t fillColor, uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap);
  if (rc == SUCCESS) rc = fx::CheckPlaneFlags(flags);
  if (rc != SUCCESS) return rc;
  const fx::PlaneParams p{vanishingPoint, tilt,    distance,     fieldOfView, rotation,  0,    0,
                          fadeStart,      fadeEnd, fadeDistance, fadeColor,   fillColor, flags};
  rc = fx::CheckPlaneParams(p);
  if (rc != SUCCESS) return rc;
  if (bendRadius < 0 || bendAngle < -36000 || bendAngle > 36000) return ERROR_INV_PARAMETER;
  fx::OrientationGuard orientation(bitmap);
  const RECT rect = fx::ProcessRect(bitmap);
  if (fx::IsEmpty(rect)) return ERROR_EMPTY_RECT;
  const fx::PlaneView view = fx::MakePlaneView(bitmap, rect, p);
  const fx::BentSurface surface(view.D, view.f, bendPosition, bendRadius, bendAngle);
  return fx::RunPlane(bitmap, view, surface);
}
