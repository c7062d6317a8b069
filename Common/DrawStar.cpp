// Draw star: paints a star of `points` tips on the image, with a soft glow around it. The star
// is the polygon whose corners alternate between the outer radius (tips) and the inner radius
// (notches); each pixel's signed distance d to its edge gives the anti-aliased coverage
// clamp(0.5 - d, 0, 1) and the glow (1 - d / glowRadius)² beyond the edge (full inside). The
// glow is laid first, then the star, over, screened or added, and the result rounded.
//
// Distance to the star: the star is symmetric under the 2·points reflections through its tips
// and notches, so a pixel's offset is folded into the wedge between the first tip and the next
// notch (mirrored across the tip's axis, turned back by whole tip-to-tip angles from a table,
// and mirrored across the notch's axis when beyond it), where the nearest edge is the segment
// tip-notch; the pixel is inside when it lies on the centre's side of that segment.
// The wedge angles use π to full double precision, so the wedges tile the circle exactly; the
// rotation (hundredths of a degree) converts with the library's 3.1415926535.
//
// Extreme inputs: radii are limited to 65535 and the centre may lie anywhere (its offsets are
// formed in double precision); only the rows and columns within reach of the star and its glow
// are read and written. An inner radius of 0 makes the tips lines of no area, drawn as
// half-covered hairlines; an inner radius above the outer one swaps the roles of tips and notches.
#include <cmath>
#include <cstddef>
#include <cstring>

#include "Common/Paint.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;                // rotations, as everywhere in the library
constexpr double kFullPi = 3.14159265358979323846;  // the star's symmetry: wedges that tile 2π
constexpr uint32_t kStarInfoSize = 48;
static_assert(sizeof(StarInfo) == kStarInfoSize);
constexpr uint32_t kMaxPoints = 100;
constexpr uint32_t kMaxRadius = 65535;

enum StarBlend : uint32_t { kBlendOver = 0, kBlendScreen = 1, kBlendAdd = 2 };

struct StarShape {
  double cx, cy;
  double tipX, tipY;          // unit vector from the centre toward the first tip
  double R;                   // outer radius: the tip A = (R, 0) in the wedge
  double bx, by;              // the notch B = (r cos(π/n), r sin(π/n)) in the wedge
  double abx, aby, ab2;       // B - A and its squared length
  double sideCentre;          // cross(B - A, O - A): the centre's side of the edge
  double sector, halfSector;  // 2π / n and π / n
  double halfCos, halfSin;    // cos and sin of π / n: the notch's axis
  double turnCos[kMaxPoints + 1], turnSin[kMaxPoints + 1];  // k·2π / n
  uint32_t points;
  double glowRadius;
  double opacity, glowOpacity;  // 0 .. 1
  uint32_t blend;
  PaintColor color, glow;
  int64_t x0, x1;  // the columns within reach
};

StarShape MakeShape(const StarInfo& info, uint32_t flags) {
  StarShape s{};
  const double theta = info.rotation * kPi / 18000.0;
  s.cx = info.center.x;
  s.cy = info.center.y;
  s.tipX = std::sin(theta);  // clockwise from straight up, rows running downward
  s.tipY = -std::cos(theta);
  s.points = info.points;
  s.sector = 2.0 * kFullPi / info.points;
  s.halfSector = kFullPi / info.points;
  s.halfCos = std::cos(s.halfSector);
  s.halfSin = std::sin(s.halfSector);
  s.R = info.outerRadius;
  s.bx = info.innerRadius * s.halfCos;
  s.by = info.innerRadius * s.halfSin;
  s.abx = s.bx - s.R;
  s.aby = s.by;
  s.ab2 = s.abx * s.abx + s.aby * s.aby;
  s.sideCentre = s.aby * s.R;
  for (uint32_t k = 0; k <= info.points; ++k) {
    s.turnCos[k] = std::cos(k * s.sector);
    s.turnSin[k] = std::sin(k * s.sector);
  }
  s.glowRadius = info.glowRadius;
  s.opacity = info.opacity / 100.0;
  s.glowOpacity = info.glowOpacity / 100.0;
  s.blend = flags & 0x0F;
  return s;
}

// Signed distance from offset (dx, dy) to the star's edge, negative inside.
inline double StarDistance(const StarShape& s, double dx, double dy) {
  // Along the first tip's axis and across it (mirrored onto one side).
  const double a = dx * s.tipX + dy * s.tipY;
  const double b = std::fabs(dx * -s.tipY + dy * s.tipX);
  const double phi = std::atan2(b, a);  // 0 .. π
  uint32_t k = static_cast<uint32_t>(phi / s.sector);
  if (k > s.points) k = s.points;
  // Turned back by k tip-to-tip angles.
  double px = a * s.turnCos[k] + b * s.turnSin[k];
  double py = b * s.turnCos[k] - a * s.turnSin[k];
  // Beyond the notch's axis: mirrored across it.
  if (py * s.halfCos > px * s.halfSin) {
    const double along = 2.0 * (px * s.halfCos + py * s.halfSin);
    px = along * s.halfCos - px;
    py = along * s.halfSin - py;
  }
  const double qx = px - s.R, qy = py;
  double t = s.ab2 > 0 ? (qx * s.abx + qy * s.aby) / s.ab2 : 0.0;
  if (t < 0) t = 0;
  if (t > 1) t = 1;
  const double ex = qx - t * s.abx, ey = qy - t * s.aby;
  const double dist = std::sqrt(ex * ex + ey * ey);
  const double side = s.abx * qy - s.aby * qx;
  return s.sideCentre > 0 && side > 0 ? -dist : dist;
}

template <class T>
inline void PaintSamples(T* pixel, int32_t count, const StarShape& s, double glow, double body) {
  constexpr double kMax = SampleTraits<T>::kMax;
  for (int32_t k = 0; k < count; ++k) {
    double v = pixel[k];
    const double g = s.glow.s[k], c = s.color.s[k];
    switch (s.blend) {
      case kBlendScreen:
        v = v + (g - v * g / kMax) * glow;
        v = v + (c - v * c / kMax) * body;
        break;
      case kBlendAdd:
        v = v + g * glow;
        v = v + c * body;
        break;
      default:
        v = v + (g - v) * glow;
        v = v + (c - v) * body;
        break;
    }
    pixel[k] = RoundSample<T>(v);
  }
}

template <class T>
void StarRow(const StarShape& s, int32_t y, int32_t pixelStep, T* out) {
  const double dy = static_cast<double>(y) - s.cy;
  const int32_t count = IsColorPixel(pixelStep) ? 3 : 1;
  for (int64_t x = s.x0; x < s.x1; ++x) {
    const double d = StarDistance(s, static_cast<double>(x) - s.cx, dy);
    double cover = 0.5 - d;
    if (cover < 0) cover = 0;
    if (cover > 1) cover = 1;
    double glow = 0;
    if (d <= 0) {
      glow = 1;
    } else if (d < s.glowRadius) {
      const double u = 1.0 - d / s.glowRadius;
      glow = u * u;
    }
    const double body = cover * s.opacity;
    glow *= s.glowOpacity;
    if (body == 0 && glow == 0) continue;
    PaintSamples(out + x * pixelStep, count, s, glow, body);
  }
}

int32_t StarDriver(BitmapRecord* bitmap, const RECT& rect, StarShape& s, const StarInfo& info) {
  // Pixels beyond the larger radius plus the glow (and the half pixel of coverage) never change.
  const double reach = (info.outerRadius > info.innerRadius ? info.outerRadius : info.innerRadius) +
                       s.glowRadius + 1.0;
  const auto lowest = [&](double c, int32_t lo) {
    const double v = std::ceil(c - reach);
    return v < lo ? int64_t{lo} : static_cast<int64_t>(v);
  };
  const auto beyond = [&](double c, int32_t hi) {
    const double v = std::floor(c + reach) + 1;
    return v > hi ? int64_t{hi} : static_cast<int64_t>(v);
  };
  const int64_t y0 = lowest(s.cy, rect.top), y1 = beyond(s.cy, rect.bottom);
  s.x0 = lowest(s.cx, rect.left);
  s.x1 = beyond(s.cx, rect.right);
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  if (y0 >= y1 || s.x0 >= s.x1) return SUCCESS;  // nothing of the star in the rectangle
  const int32_t sampleBits = access.SampleBits(), pixelStep = access.PixelStep();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  s.color = PreparePaint(info.color, sampleBits, pixelStep);
  s.glow = PreparePaint(info.glowColor, sampleBits, pixelStep);
  RowWindow source;
  RowSlots slots;
  rc = source.AllocateRowByRow(rowBytes, slots);
  if (rc != SUCCESS) return rc;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  const int32_t top = static_cast<int32_t>(y0), bottom = static_cast<int32_t>(y1);
  return WithSampleType(sampleBits, [&](auto sample) {
    using T = decltype(sample);
    return source.RunInPlace(
        access, slots, top, bottom, bitmap->Height, s.x1 - s.x0,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          StarRow<T>(s, y, pixelStep, reinterpret_cast<T*>(out));
        },
        NoHostCall(), WriteRow(access));
  });
}

constexpr FxFlagValue kBlendValues[] = {
    {"over", kBlendOver, "laid over the image"},
    {"screen", kBlendScreen, "screened: lightens, never darker than the image"},
    {"add", kBlendAdd, "added to the image: light that burns out to white"},
};
constexpr FxFlagField kStarFlagFields[] = {
    FlagField("blend", 0x0F, kBlendValues, "how the star and its glow combine with the image"),
};

constexpr int64_t PointDefault(int32_t x, int32_t y) {
  return static_cast<int64_t>(static_cast<uint32_t>(x)) |
         static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(y)) << 32);
}

const FxFieldDesc kStarFields[] = {
    Field("StructSize", FX_KIND_UINT32, offsetof(StarInfo, StructSize), kStarInfoSize, 0,
          kAnyUInt32Max, "record size, 48"),
    Field("center", FX_KIND_POINT, offsetof(StarInfo, center), PointDefault(48, 40), kAnyInt32Min,
          kAnyInt32Max, "centre of the star; may lie off the image"),
    Field("points", FX_KIND_UINT32, offsetof(StarInfo, points), 5, 2, kMaxPoints, "number of tips"),
    Field("outerRadius", FX_KIND_UINT32, offsetof(StarInfo, outerRadius), 40, 0, kMaxRadius,
          "distance of the tips from the centre, pixels"),
    Field("innerRadius", FX_KIND_UINT32, offsetof(StarInfo, innerRadius), 16, 0, kMaxRadius,
          "distance of the notches between the tips, pixels; small values give thin rays"),
    Field("rotation", FX_KIND_INT32, offsetof(StarInfo, rotation), 0, -36000, 36000,
          "turn of the first tip clockwise from straight up, hundredths of a degree"),
    Field("color", FX_KIND_COLOR, offsetof(StarInfo, color), 0x30D0FF, 0, kAnyUInt32Max,
          "colour of the star"),
    Field("opacity", FX_KIND_UINT32, offsetof(StarInfo, opacity), 100, 0, 100,
          "opacity of the star, percent"),
    Field("glowColor", FX_KIND_COLOR, offsetof(StarInfo, glowColor), 0x40A0FF, 0, kAnyUInt32Max,
          "colour of the glow"),
    Field("glowRadius", FX_KIND_UINT32, offsetof(StarInfo, glowRadius), 40, 0, kMaxRadius,
          "reach of the glow beyond the star's edge, pixels; 0 no glow"),
    Field("glowOpacity", FX_KIND_UINT32, offsetof(StarInfo, glowOpacity), 60, 0, 100,
          "opacity of the glow at the star's edge, percent"),
};

const FxRecordDesc kStarRecord = {"StarInfo", kStarInfoSize, kStarFields, CountOf(kStarFields)};

const FxParamDesc kStarParams[] = {
    RecordParam("info", &kStarRecord, "the star's shape, place, colours and glow"),
    FlagsParam("flags", 0, 0, 2, "bits 0-3: 0 laid over, 1 screened, 2 added", kStarFlagFields),
};

const FxPreset kStarPresets[] = {
    {"night-sky",
     "center=72%,22% points=4 outerRadius=12%s innerRadius=1%s rotation=0 color=white "
     "glowColor=#8FB8FF glowRadius=6%s glowOpacity=70 blend=screen"},
    {"sheriff",
     "center=50%,50% points=5 outerRadius=30%s innerRadius=14%s color=#E8B830 opacity=90 "
     "glowColor=#FFF0A0 glowRadius=2%s glowOpacity=40"},
    {"sparkle",
     "center=35%,40% points=8 outerRadius=9%s innerRadius=1.2%s rotation=1125 color=#FFFFE0 "
     "glowColor=#FFD080 glowRadius=4%s glowOpacity=50 blend=add"},
};

}  // namespace

extern const FxEffectDesc kDrawStarEffect = {
    "draw-star",
    "Fx_DrawStarBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Draws an anti-aliased star with a soft glow",
    kStarParams,
    CountOf(kStarParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_DrawStarBitmap(b, ArgPtr<StarInfo>(v[0]), ArgU32(v[1]));
    },
    kStarPresets,
    CountOf(kStarPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_DrawStarBitmap(BitmapRecord* bitmap, StarInfo* info, uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap);
  if (rc != SUCCESS) return rc;
  if ((flags & ~0x0Fu) != 0 || (flags & 0x0F) > fx::kBlendAdd) return ERROR_INV_PARAMETER;
  if (!info) return ERROR_NULL_INFO;
  if (info->StructSize != fx::kStarInfoSize) return ERROR_INV_STRUCT_SIZE;
  if (info->points < 2 || info->points > fx::kMaxPoints || info->outerRadius > fx::kMaxRadius ||
      info->innerRadius > fx::kMaxRadius || info->glowRadius > fx::kMaxRadius ||
      info->rotation < -36000 || info->rotation > 36000 || info->opacity > 100 ||
      info->glowOpacity > 100)
    return ERROR_INV_PARAMETER;
  const bool body = info->opacity > 0 && (info->outerRadius > 0 || info->innerRadius > 0);
  const bool glow = info->glowOpacity > 0 && info->glowRadius > 0;
  if (!body && !glow) {
    HostNothingToDo();
    return SUCCESS;
  }
  fx::OrientationGuard orientation(bitmap);
  const RECT rect = fx::ProcessRect(bitmap);
  if (fx::IsEmpty(rect)) return ERROR_EMPTY_RECT;
  fx::StarShape shape = fx::MakeShape(*info, flags);
  return fx::StarDriver(bitmap, rect, shape, *info);
}
