// Ring effect: cuts the image into concentric rings around a centre and turns each ring by its own
// angle, like the rings of a combination lock. The angles grow step by step from ring to ring or
// are random (from the generator seeded with `seed`, or with the tick count when it is 0). Pixels
// whose turned source falls outside the rectangle are filled with a colour, taken from the nearest
// edge of the work area, or left alone. The centre disc and everything beyond the outer ring keep
// their pixels. Any failure after the write preparation is answered with ERROR_NO_MEMORY.
//
// The work area (the rings' bounding box grown by two pixels, within the rectangle) is read into a
// rectangle row table; the angles are drawn on the calling thread; the rows are turned in parallel.
//
// Extreme inputs and open points:
// - `flags` with neither the ring-width bit (0x100) nor the total-radius bit (0x200) leaves a ring
//   width of 0, which every pixel would be divided by: ERROR_INV_PARAMETER.
// - dx² + dy², the margin (n + 1) · w + 2 and the outer radius are formed in 64 bits (identical
//   to 32 bits for pictures below 46341 pixels a side).
// - A turned source always lies within the margin of the centre, so inside the table's rows; the
//   row index is clamped to the table all the same.
// - Gray pixels take one level: (5·green + 2·red + blue + 4) >> 3, or bits 0-15 of the colour
//   with bit 26 at 16 bits; four-sample pixels move and fill three samples and keep the fourth.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "Common/RectRows.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowEngine.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;
constexpr uint32_t kOutsideMask = 0x3, kFill = 0, kKeep = 2;
constexpr uint32_t kSteppedAngles = 0x10, kRingWidth = 0x100, kTotalRadius = 0x200;

struct Rings {
  int32_t cx, cy;
  int64_t width, count, outer;  // ring width w, ring count n, outer radius (n + 1) · w
  RECT rect, area;              // rectangle to process, work area
  uint32_t outside;
  const double* cosine;
  const double* sine;
  SampleColor fill;
};

template <class T, int32_t C>
inline void CopyPixel(T* to, const T* from) {
  for (int32_t k = 0; k < C; ++k) to[k] = from[k];
}

// Output row y (`out` holds its table row): every column of the work area.
template <class T, int32_t C>
void RingRow(const Rings& g, T* const* table, int32_t y, int32_t step, T* out) {
  const int64_t dy = int64_t{y} - g.cy;
  const RECT& a = g.area;
  for (int32_t x = a.left; x < a.right; ++x) {
    const int64_t dx = int64_t{x} - g.cx;
    const auto r = static_cast<int64_t>(std::sqrt(static_cast<double>(dy * dy + dx * dx)));
    if (r < g.width || r > g.outer) continue;
    const int64_t k = std::clamp<int64_t>(r / g.width - 1, 0, g.count - 1);
    const double c = g.cosine[k], s = g.sine[k];
    const double fx = static_cast<double>(dx), fy = static_cast<double>(dy);
    const int32_t sx = TruncToInt32(fx * c - fy * s + g.cx);
    const int32_t sy = TruncToInt32(fx * s + fy * c + g.cy);
    T* pixel = out + int64_t{x} * step;
    const bool inside =
        sx >= g.rect.left && sx < g.rect.right && sy >= g.rect.top && sy < g.rect.bottom;
    if (!inside && g.outside == kKeep) continue;
    if (!inside && g.outside == kFill) {
      PutColor(pixel, C == 1, g.fill);
      continue;
    }
    const int32_t tx = inside ? sx : std::clamp(sx, a.left, a.right - 1);
    const int32_t ty = std::clamp(sy, a.top, a.bottom - 1);
    CopyPixel<T, C>(pixel, table[ty - a.top] + int64_t{tx} * step);
  }
}

struct RingArgs {
  int32_t centerX, centerY;
  uint32_t radius, ringCount, seed, fillColor;
  int32_t angle;
  uint32_t flags;
};

// Angles of the rings, turned into their cosines and sines.
int32_t MakeAngles(const RingArgs& args, int64_t n, HostBlock<double>& table) {
  if (2 * n > UINT32_MAX || !table.Allocate(static_cast<uint32_t>(2 * n))) return ERROR_NO_MEMORY;
  double* cosine = table.get();
  double* sine = cosine + n;
  if (args.flags & kSteppedAngles) {
    for (int64_t k = 0; k < n; ++k) {
      const double theta = static_cast<double>(k + 1) * (args.angle / 100.0) * (kPi / 180.0);
      cosine[k] = std::cos(theta), sine[k] = std::sin(theta);
    }
    return SUCCESS;
  }
  fxrt::srand(args.seed != 0 ? args.seed : fxrt::GetTickCount());
  for (int64_t k = 0; k < n; ++k) {
    const double theta = -1.0 * ((fxrt::rand() % 360) * kPi / 180.0);
    cosine[k] = std::cos(theta), sine[k] = std::sin(theta);
  }
  return SUCCESS;
}

int32_t RingPass(RowAccess* access, const RingArgs& args, Rings& g) {
  RowTable table;
  int32_t rc = ReadRectRows(access, g.area, table);
  if (rc != SUCCESS) return rc;
  HostBlock<double> angles;
  rc = MakeAngles(args, g.count, angles);
  if (rc != SUCCESS) return rc;
  g.cosine = angles.get();
  g.sine = angles.get() + g.count;
  const size_t rowBytes = static_cast<size_t>(HostRowBytes(access));
  RowSlots slots;
  if (!slots.Allocate(rowBytes, 0)) return ERROR_NO_MEMORY;
  const int32_t step = HostPixelStep(access);
  return WithSampleType(HostSampleBits(access), [&](auto sample) {
    using T = decltype(sample);
    T* const* rows = reinterpret_cast<T* const*>(table.rows());
    return RunRows(
        slots, g.area.top, g.area.bottom, g.area.right - g.area.left,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          std::memcpy(out, rows[y - g.area.top], rowBytes);
          if (IsColorPixel(step))
            RingRow<T, 3>(g, rows, y, step, reinterpret_cast<T*>(out));
          else
            RingRow<T, 1>(g, rows, y, step, reinterpret_cast<T*>(out));
        },
        NoHostCall(), WriteRow(access));
  });
}

int32_t RingDriver(BitmapRecord* bitmap, const RingArgs& args) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  Rings g{};
  HostGetRegionBounds(bitmap, nullptr, &g.rect);
  g.cx = args.centerX;
  g.cy = args.centerY;
  g.outside = args.flags & kOutsideMask;
  g.fill = PrepareSampleColor(args.fillColor, access.SampleBits(), access.PixelStep() == 1);
  if (args.flags & kTotalRadius) {
    g.width = args.radius / (int64_t{args.ringCount} + 1);
    g.count = args.ringCount;
    if (g.width < 2) g.width = 2, g.count = args.radius;
  } else {
    g.width = args.radius;
    g.count = args.ringCount;
  }
  g.outer = (g.count + 1) * g.width;
  const int64_t m = g.outer + 2;
  const auto within = [](int64_t v, int32_t lo, int32_t hi) {
    return static_cast<int32_t>(std::clamp<int64_t>(v, lo, hi));
  };
  const RECT& r = g.rect;
  g.area.left = within(g.cx - m, r.left, r.right);
  g.area.right = within(g.cx + m, g.area.left, r.right);
  g.area.top = within(g.cy - m, r.top, r.bottom);
  g.area.bottom = within(g.cy + m, g.area.top, r.bottom);
  if (HostBeginRectWrite(access, 0, 100, &g.area) != SUCCESS ||
      RingPass(access, args, g) != SUCCESS)
    return ERROR_NO_MEMORY;
  access.Close();
  HostFinishUpdate(bitmap);
  return SUCCESS;
}

constexpr FxFlagValue kOutsideValues[] = {{"fill", 0, "fill with fillColor"},
                                          {"edge", 1, "take the nearest pixel of the work area"},
                                          {"keep", 2, "leave the pixel"},
                                          {"edge3", 3, "as edge"}};
constexpr FxFlagValue kAngleValues[] = {
    {"random", 0, "random angles from the seed"},
    {"step", kSteppedAngles, "ring k turns by (k + 1) x angle / 100 degrees"}};
constexpr FxFlagValue kRadiusValues[] = {
    {"ring-width", kRingWidth, "radius is the width of one ring"},
    {"total", kTotalRadius, "radius is the outer radius of all rings"}};
constexpr FxFlagField kRingFields[] = {
    FlagField("outside", kOutsideMask, kOutsideValues, "sources outside the rectangle"),
    FlagField("angles", kSteppedAngles, kAngleValues, "how the rings turn"),
    FlagField("sizing", kRingWidth | kTotalRadius, kRadiusValues, "what radius measures"),
};

const FxParamDesc kRingParams[] = {
    Param("centerX", FX_KIND_INT32, FX_DEFAULT_WIDTH_PERCENT, 50, 0, kAnyInt32Max,
          "centre column, 0 .. width"),
    Param("centerY", FX_KIND_INT32, FX_DEFAULT_HEIGHT_PERCENT, 50, 0, kAnyInt32Max,
          "centre row, 0 .. height"),
    Param("radius", FX_KIND_UINT32, FX_DEFAULT_HEIGHT_PERCENT, 45, 2, kAnyInt32Max,
          "ring width (flags 0x100) or outer radius of all rings (0x200); 2 .. the diagonal"),
    UIntParam("ringCount", 6, 1, kAnyInt32Max, "number of rings; 1 .. half the diagonal"),
    UIntParam("seed", 1, 0, 500, "seed of the random angles; 0 seeds from the tick count"),
    ColorParam("fillColor", 0x000000,
               "fill for sources outside the rectangle (outside=fill); bit 26: 16-bit gray level"),
    IntParam("angle", 1500, -18000, 18000,
             "angle step in hundredths of a degree (flags 0x10): ring k turns by (k + 1) x step"),
    FlagsParam("flags", 0x201, 0x100, 530,
               "bits 0-1: 0 fill, 1 nearest edge, 2 keep; 0x10 stepped angles (else random); "
               "0x100 radius is the ring width, 0x200 the total radius",
               kRingFields),
};

const FxPreset kRingPresets[] = {
    {"combination-lock", "ringCount=8 angle=1200 outside=edge angles=step sizing=total"},
    {"random-rings", "ringCount=12 seed=7 outside=edge angles=random sizing=total"},
    {"wide-rings", "radius=8%s ringCount=5 seed=3 outside=keep angles=random sizing=ring-width"},
};

}  // namespace

extern const FxEffectDesc kRingEffect = {
    "ring-effect",
    "Fx_RingEffectBitmap",
    FX_FAMILY_ARTISTIC,
    "Turns concentric rings around a centre by their own angles, like a combination lock",
    kRingParams,
    CountOf(kRingParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_RingEffectBitmap(b, ArgI32(v[0]), ArgI32(v[1]), ArgU32(v[2]), ArgU32(v[3]),
                                 ArgU32(v[4]), ArgU32(v[5]), ArgI32(v[6]), ArgU32(v[7]));
    },
    kRingPresets,
    CountOf(kRingPresets),
    FX_TRAIT_RANDOM | FX_TRAIT_CLOCK | FX_TRAIT_FAILURE_AS_NO_MEMORY | FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_RingEffectBitmap(BitmapRecord* bitmap, int32_t centerX, int32_t centerY, uint32_t radius,
                            uint32_t ringCount, uint32_t seed, uint32_t fillColor, int32_t angle,
                            uint32_t flags) {
  using namespace fx;
  const int32_t rc = CheckBitmap(bitmap, /*testAllocated=*/false);
  if (rc != SUCCESS) return rc;
  OrientationGuard orientation(bitmap);
  const int64_t width = bitmap->Width, height = bitmap->Height;
  const auto d =
      static_cast<int64_t>(std::sqrt(static_cast<double>(width * width + height * height)));
  if (centerX < 0 || centerX > width || centerY < 0 || centerY > height || seed > 500 ||
      flags >= 531 || angle < -18000 || angle > 18000 || radius < 2 || radius > d ||
      ringCount == 0 || ringCount > d / 2)
    return ERROR_INV_PARAMETER;
  if (!(flags & (kRingWidth | kTotalRadius))) return ERROR_INV_PARAMETER;  // no ring width
  return RingDriver(bitmap,
                    RingArgs{centerX, centerY, radius, ringCount, seed, fillColor, angle, flags});
}
