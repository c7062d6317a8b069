// Vignette: fades the image toward a colour outside (or inside) a square, rectangle, circle or
// ellipse centred on a chosen point. Between an inner and an outer size the colour's weight rises
// along a power curve whose exponent is the softness; the amount sets how far the band reaches
// and its sign on which side the colour lies. With a region, the effect works on a copy of the
// region's bounding rectangle that carries the region, and puts it back through the region.
//
// Open points and extreme inputs:
// - The fade base b is clamped to 0 before pow: the square and rectangle bands can give a small
//   negative base for an inner size that is not a whole number of pixels (e.g. width 7 at amount
//   50), which would make pow NaN; the steps' own caps at 1 stay as they are, and amount 0 (sign
//   0) follows the steps, its inner band's base growing without a cap.
// - An ellipse of width or height 0 would divide by zero: ERROR_INV_PARAMETER, after the other
//   checks. Sizes, their squares and the circle's radii are formed in 64 bits (double for the
//   band edges), so no size wraps; blends are clipped to the sample range in double before the
//   conversion.
// - The centre is checked against the rectangle to process as seen before the orientation is
//   set to 1, as the checks come first; the work then uses orientation 1.
// - When the run on the region's copy fails, its code is returned and the copy is not combined
//   back (the bitmap is left as it was). The status callback is switched off around the copy and
//   the combination, so progress runs once over the rows of the vignette.
// - A fourth sample keeps its value.
#include <cmath>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr uint32_t kVignetteSize = 36;
static_assert(sizeof(VignetteInfo) == kVignetteSize);

enum Shape : uint32_t { kSquare = 0, kRectangle = 1, kCircle = 2, kEllipse = 3 };

struct VignetteSetup {
  RECT rect;
  int32_t cx, cy, pixelStep;
  uint32_t shape;
  bool outer;  // band mode 16: the band lies outside the given size
  int32_t sign;
  double k, gamma;
  // Square and rectangle: inner half-sizes, their truncations and the band width.
  double innerX, innerY, band;
  int64_t innerXTrunc, innerYTrunc;
  // Circle: integer radii and band width.
  int64_t rIn, rWidth;
  // Ellipse: squared half-axes, t and g.
  double a2, b2, t, g;
  double color[3];
};

// The fade value b of the pixel at distances (dx, dy); *untouched when the pixel keeps its
// colour (outer band mode, inside the square or rectangle).
double Fade(const VignetteSetup& s, int64_t dx, int64_t dy, bool* untouched) {
  switch (s.shape) {
    case kSquare:
    case kRectangle: {
      const bool inside = dx < s.innerXTrunc && dy < s.innerYTrunc;
      if (s.outer) {
        if (inside) {
          *untouched = true;
          return 0;
        }
        const double ex = dx - s.innerX, ey = dy - s.innerY;
        const double b =
            (s.shape == kSquare ? (dx > dy ? dx : dy) - s.innerX : (ex > ey ? ex : ey)) / s.band;
        return b > 1 ? 1 : b;
      }
      if (inside) return 0;
      const double ex = dx - s.innerX, ey = dy - s.innerY;
      double b =
          (s.shape == kSquare ? (dx > dy ? dx : dy) - s.innerX : (ex > ey ? ex : ey)) / s.band;
      if (b > 1 && s.sign >= 1) b = 0;
      if (b > 1 && s.sign < 0) b = 1;
      return b;
    }
    case kCircle: {
      const int64_t d =
          static_cast<int64_t>(std::sqrt(static_cast<double>(dx * dx + dy * dy))) - s.rIn;
      const int64_t w = s.rWidth;
      int64_t e;
      if (!s.outer)
        e = s.sign < 1 ? (d < 0 ? 0 : (d > w ? w : d)) : (d < 0 || d > w ? 0 : d);
      else if (s.sign < 1)
        e = d >= 0 ? (w < d ? w : d) : w;
      else
        e = d < 0 ? 0 : (d > w ? w : d);
      const double b = static_cast<double>(e) / w;
      return b > 1 ? 1 : b;
    }
    default: {  // kEllipse
      const double q = static_cast<double>(dx * dx) / s.a2 + static_cast<double>(dy * dy) / s.b2;
      if (s.sign == 0) return q;
      double u;
      if (s.outer && s.sign < 0)
        u = q >= s.t ? q - s.t : 1;
      else
        u = q >= s.t ? q - s.t : 0;
      if (!s.outer && s.sign < 1) return u >= s.g ? 1 : u / s.g;
      if (!s.outer) return u >= s.g ? 0 : u / s.g;
      return u >= s.g ? 1 : u / s.g;
    }
  }
}

template <class T>
void VignetteRow(const VignetteSetup& s, int32_t y, T* out) {
  if (s.shape > kEllipse) return;  // shapes 4 .. 15 leave the pixels as they are
  constexpr double kMax = SampleTraits<T>::kMax;
  const int32_t samples = IsColorPixel(s.pixelStep) ? 3 : 1;
  const int64_t dy = y > s.cy ? int64_t{y} - s.cy : int64_t{s.cy} - y;
  for (int32_t x = s.rect.left; x < s.rect.right; ++x) {
    const int64_t dx = x > s.cx ? int64_t{x} - s.cx : int64_t{s.cx} - x;
    bool untouched = false;
    double b = Fade(s, dx, dy, &untouched);
    if (untouched) continue;
    if (b < 0) b = 0;
    const double f = b == 0 ? 0.0 : b == 1 ? 1.0 : std::pow(b, s.gamma);  // pow's exact cases
    const double keep = s.sign == 1 ? 1 - f : f, tint = s.sign == 1 ? f : 1 - f;
    T* p = out + int64_t{x} * s.pixelStep;
    for (int32_t k = 0; k < samples; ++k) {
      const double v = p[k] * keep + s.color[k] * tint;
      p[k] = static_cast<T>(v >= kMax ? kMax : (v > 0 ? v : 0));
    }
  }
}

// The band geometry of the record.
void PrepareShape(const VignetteInfo& info, VignetteSetup* s) {
  s->shape = info.options & 15;
  s->outer = (info.options & 0xF0) == 16;
  s->sign = info.amount > 0 ? 1 : (info.amount < 0 ? -1 : 0);
  s->k = (info.amount < 0 ? -info.amount : info.amount) / 100.0;
  const double width = info.width, height = info.height;
  switch (s->shape) {
    case kSquare:
    case kRectangle: {
      const double ix = s->outer ? width : (1 - s->k) * width;
      const double iy = s->outer ? height : (1 - s->k) * height;
      const double ox = s->outer ? (1 + s->k) * width : width;
      const double oy = s->outer ? (1 + s->k) * height : height;
      s->innerX = ix;
      s->innerY = s->shape == kSquare ? ix : iy;
      double band = ox - ix;
      if (s->shape == kRectangle && oy - iy > band) band = oy - iy;
      s->band = band == 0 ? 1 : band;
      s->innerXTrunc = static_cast<int64_t>(s->innerX);
      s->innerYTrunc = static_cast<int64_t>(s->innerY);
      break;
    }
    case kCircle: {
      const int64_t w = info.width;
      const int64_t rIn = s->outer ? w : static_cast<int64_t>(width * (1 - s->k));
      const int64_t rOut = s->outer ? static_cast<int64_t>(width * (1 + s->k)) : w;
      s->rIn = rIn;
      s->rWidth = rOut == rIn ? 1 : rOut - rIn;
      break;
    }
    case kEllipse: {
      s->a2 = static_cast<double>(uint64_t{info.width} * info.width);
      s->b2 = static_cast<double>(uint64_t{info.height} * info.height);
      s->t = 1 - s->k;
      s->g = s->k == 0 ? 0.001 : s->k;
      break;
    }
    default:
      break;
  }
}

int32_t VignetteRun(BitmapRecord* bitmap, VignetteInfo* info) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  rc = BeginWritePhaseEx(access, bitmap, 1, 100);
  if (rc != SUCCESS) return rc;

  uint32_t v = info->softness;
  v = v ? v * 451 / 101 + 50 : 50;
  v = v < 50 ? 50 : (v > 500 ? 500 : v);
  info->softness = v;

  VignetteSetup s{};
  HostGetProcessRect(bitmap, 0, &s.rect);
  s.cx = info->x;
  s.cy = info->y;
  s.pixelStep = access.PixelStep();
  s.gamma = v / 100.0;
  PrepareShape(*info, &s);
  const int32_t bits = access.SampleBits();
  const uint32_t scale = bits == 16 ? 257 : 1;
  const uint32_t r = info->color & 0xFF, g = (info->color >> 8) & 0xFF,
                 b = (info->color >> 16) & 0xFF;
  if (IsColorPixel(s.pixelStep)) {
    s.color[0] = b * scale, s.color[1] = g * scale, s.color[2] = r * scale;
  } else {
    s.color[0] = (2 * r + 5 * g + b + 4) / 8 * scale;
  }

  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  RowWindow source;
  RowSlots slots;
  rc = source.AllocateRowByRow(rowBytes, slots);
  if (rc != SUCCESS) return rc;
  rc = WithSampleType(bits, [&](auto sample) {
    using T = decltype(sample);
    return source.RunInPlace(
        access, slots, s.rect.top, s.rect.bottom, bitmap->Height, s.rect.right - s.rect.left,
        [&](int32_t y, uint8_t* out, uint8_t*) { VignetteRow<T>(s, y, reinterpret_cast<T*>(out)); },
        NoHostCall(), WriteRow(access));
  });
  access.Close();
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

// A bitmap the effect made, freed on every path.
struct OwnedBitmap {
  BitmapRecord record{};
  ~OwnedBitmap() { HostFreeBitmap(&record); }
};

// The region path: the vignette on a copy of the bounding rectangle carrying the region at its
// origin, combined back through the bitmap's region.
int32_t VignetteOnRegionCopy(BitmapRecord* bitmap, VignetteInfo* info) {
  RECT rect;
  HostGetProcessRect(bitmap, 0, &rect);
  const int32_t width = rect.right - rect.left, height = rect.bottom - rect.top;
  OwnedBitmap copy;
  {
    CallbackPause pause;
    int32_t rc = HostCopyBitmapRect(&copy.record, bitmap, BITMAP_STRUCT_SIZE, rect.left, rect.top,
                                    width, height < 0 ? -height : height);
    if (rc != SUCCESS) return rc;
    HostRegionHandle* region = HostGetRegionHandle(bitmap);
    if (!region) return ERROR_NO_MEMORY;
    RECT box;
    fxrt::GetRgnBox(region, &box);
    fxrt::OffsetRgn(region, -box.left, -box.top);
    rc = HostSetRegion(&copy.record, nullptr, region, 1);
    HostReleaseTracked(3, region);
    if (rc != SUCCESS) return rc;
  }
  int32_t rc = VignetteRun(&copy.record, info);
  HostFreeRegion(&copy.record);
  if (rc != SUCCESS) return rc;
  CallbackPause pause;
  return HostCombineBitmaps(bitmap, rect.left, rect.top, width, height < 0 ? -height : height,
                            &copy.record, 0, 0, HOST_COMBINE_COPY);
}

// Descriptors ----------------------------------------------------------------------------------

const FxFlagValue kVignetteShapes[] = {
    {"square", 0, "a square of radius width"},
    {"rectangle", 1, "a rectangle of half-sizes width and height"},
    {"circle", 2, "a circle of radius width"},
    {"ellipse", 3, "an ellipse of half-axes width and height"},
};
const FxFlagValue kVignetteBands[] = {
    {"inside", 0, "the band lies inside the size"},
    {"outside", 16, "the band lies outside the size"},
};
const FxFlagField kVignetteOptionFields[] = {
    FlagField("shape", 0xF, kVignetteShapes, "the shape the band follows"),
    FlagField("band", 0x10, kVignetteBands, "which side of the size the band lies on"),
};

#define VIGNETTE_FIELD(name) offsetof(VignetteInfo, name)
const FxFieldDesc kVignetteFields[] = {
    Field("size", FX_KIND_UINT32, VIGNETTE_FIELD(size), kVignetteSize, 0, kAnyUInt32Max,
          "record size, 36"),
    Field("x", FX_KIND_INT32, VIGNETTE_FIELD(x), 0, kAnyInt32Min, kAnyInt32Max,
          "centre, from the rectangle's left edge; 0 .. its width"),
    Field("y", FX_KIND_INT32, VIGNETTE_FIELD(y), 0, kAnyInt32Min, kAnyInt32Max,
          "centre, from the rectangle's top edge; 0 .. its height"),
    Field("amount", FX_KIND_INT32, VIGNETTE_FIELD(amount), 100, -100, 100,
          "band width, percent of the size; positive: the colour outside, negative: inside"),
    Field("softness", FX_KIND_UINT32, VIGNETTE_FIELD(softness), 0, 0, 100,
          "exponent of the fade (0 .. 100 maps to 0.5 .. 4.96); replaced by the mapped value"),
    Field("width", FX_KIND_UINT32, VIGNETTE_FIELD(width), 2200, 0, kAnyUInt32Max,
          "radius of square and circle, horizontal half-size of rectangle and ellipse"),
    Field("height", FX_KIND_UINT32, VIGNETTE_FIELD(height), 1300, 0, kAnyUInt32Max,
          "vertical half-size of rectangle and ellipse (not 0 for the ellipse)"),
    Field("color", FX_KIND_COLOR, VIGNETTE_FIELD(color), 0x000000, 0, kAnyUInt32Max,
          "the vignette colour"),
    Field("options", FX_KIND_FLAGS, VIGNETTE_FIELD(options), 19, 0, 19,
          "bits 0-3 shape: 0 square, 1 rectangle, 2 circle, 3 ellipse (4 .. 15 change nothing); "
          "16: the band lies outside the size instead of inside",
          kVignetteOptionFields),
};
#undef VIGNETTE_FIELD

const FxRecordDesc kVignetteRecord = {"VignetteInfo", kVignetteSize, kVignetteFields,
                                      CountOf(kVignetteFields)};

const FxParamDesc kVignetteParams[] = {
    RecordParam("info", &kVignetteRecord, "the shape, band and colour: fields by name"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kVignettePresets[] = {
    {"soft",
     "x=50%w y=50%h width=35%w height=40%h amount=60 softness=40 shape=ellipse "
     "band=outside"},
    {"sepia-fade",
     "x=50%w y=50%h width=30%w height=35%h amount=80 softness=20 color=#704214 "
     "shape=ellipse band=outside"},
    {"spotlight", "x=50%w y=40%h width=40%s amount=-80 softness=90 shape=circle band=inside"},
};

}  // namespace

extern const FxEffectDesc kVignetteEffect = {
    "vignette",
    "Fx_VignetteBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Fades the image toward a colour outside or inside a square, rectangle, circle or ellipse",
    kVignetteParams,
    CountOf(kVignetteParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_VignetteBitmap(b, ArgPtr<VignetteInfo>(v[0]), ArgU32(v[1]));
    },
    kVignettePresets,
    CountOf(kVignettePresets),
    FX_TRAIT_TONES_ONLY | FX_TRAIT_WHOLE_IMAGE,
};

}  // namespace fx

int32_t Fx_VignetteBitmap(BitmapRecord* bitmap, VignetteInfo* info, uint32_t flags) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (const int32_t rc = fx::CheckRecordLayout(bitmap); rc != SUCCESS) return rc;
  if (flags != 0) return ERROR_INV_PARAMETER;
  if (!info) return ERROR_INV_PARAMETER;
  if (info->size != fx::kVignetteSize) return ERROR_INV_STRUCT_SIZE;
  if (info->options > 19) return ERROR_INV_PARAMETER;
  RECT rect;
  HostGetProcessRect(bitmap, 0, &rect);
  if (info->x < 0 || int64_t{info->x} > int64_t{rect.right} - rect.left || info->y < 0 ||
      int64_t{info->y} > int64_t{rect.bottom} - rect.top || info->amount < -100 ||
      info->amount > 100 || info->softness > 100)
    return ERROR_INV_PARAMETER;
  if ((info->options & 15) == fx::kEllipse && (info->width == 0 || info->height == 0))
    return ERROR_INV_PARAMETER;
  fx::OrientationGuard orientation(bitmap);
  if (HostHasRegion(bitmap)) return fx::VignetteOnRegionCopy(bitmap, info);
  return fx::VignetteRun(bitmap, info);
}
