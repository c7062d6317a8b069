// Free plane bend: the caller draws a displacement profile as a free curve; it is stretched over
// the width of the rectangle and scaled by an amount in pixels, and every pixel takes its colour
// from its own row at the position displaced by its column's profile value. The vertical
// direction is the same pass on the bitmap seen transposed (orientation 5); both directions run
// the horizontal pass first. Sources outside get a fill colour, the nearest pixel, or leave the
// pixel alone.
//
// Extreme inputs: a null curve, a curveCount of 0 or one beyond 2^31 - 1 answers
// ERROR_INV_PARAMETER after the flags checks (the profile would read outside the curve). A
// rectangle one pixel wide (or empty) in a pass would make the profile divide 0 by 0: that pass
// changes nothing and succeeds. Displacements of any size are compared as doubles; the sampler
// limits the coordinates it converts.
#include "Common/XYRemap.h"

#include <cstring>

#include "frame/FillColor.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "frame/Samplers.h"
#include "fxkit/effects.h"

namespace fx {

void ResampleCurve(const int32_t* curve, int32_t curveCount, uint32_t amount, double* table,
                   int32_t n) {
  const int32_t last = curveCount - 1;
  for (int32_t i = 0; i < n; ++i) {
    const double p = static_cast<double>(i) / (n - 1) * last;
    const int32_t i0 = static_cast<int32_t>(p);
    const double t = p - static_cast<int32_t>(p);  // p >= 0: |p| - trunc(|p|)
    const int32_t i1 = i0 + 1 < last ? i0 + 1 : last;
    table[i] = ((1 - t) * curve[i0] + t * curve[i1]) / 1000.0;
    table[i] = table[i] * static_cast<double>(amount);
  }
}

namespace {

enum PlaneMode : uint32_t { kFill = 0, kNearest = 1, kKeep = 2 };
constexpr uint32_t kHorizontal = 0x10, kVertical = 0x20;

// The fill colour of this effect: the distortions' preparation, with the gray mix rounded.
PreparedColor PreparePlaneFill(const BitmapRecord* bitmap, uint32_t colour) {
  uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  const int32_t bpp = bitmap->BitsPerPixel;
  const bool gray = HostIsGrayscale(bitmap) != 0;
  if (bpp == 12 || bpp == 16 || bpp == 48 || bpp == 64) {
    r <<= 8, g <<= 8, b <<= 8;
    if ((bpp == 12 || bpp == 16) && gray && (colour & 0x04000000u)) r = g = b = colour & 0xFFFF;
  }
  if (gray) r = g = b = (b + 5 * g + 2 * r + 4) / 8;
  return PreparedColor{r, g, b};
}

struct PlaneBend {
  RECT rect;
  const double* table;  // displacement per column of the rectangle
  uint32_t mode;
  PreparedColor fill;
};

// One row: column x takes the source row at x + table[x - left], interpolated along the row with
// the rectangle's right edge as the width limit.
template <class T>
void PlaneBendRow(const PlaneBend& g, T* source, int32_t pixelStep, T* out) {
  T* const rows[1] = {source};
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const double sx = x + g.table[x - g.rect.left];
    T* pixel = out + int64_t{x} * pixelStep;
    if (sx >= g.rect.right || sx < 0) {
      if (g.mode == kFill) {
        WriteFill(pixel, pixelStep, g.fill);
        continue;
      }
      if (g.mode == kKeep) continue;
    }
    BilinearSample<T>(rows, sx, 0.0, 1, pixelStep, g.rect.right, pixel);
  }
}

// One pass over the rows of the bitmap as currently seen, progress between first and last.
int32_t PlaneBendPass(BitmapRecord* bitmap, const int32_t* curve, int32_t curveCount,
                      uint32_t amount, uint32_t mode, const PreparedColor& fill, int32_t first,
                      int32_t last) {
  int32_t rc = CheckBitmapPresent(bitmap);
  if (rc != SUCCESS) return rc;
  AccessOwner access;
  rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t pixelStep = access.PixelStep();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  const size_t bufferBytes = rowBytes + 4 * size_t(pixelStep);
  const RECT rect = ProcessRect(bitmap);
  const int32_t n = rect.right - rect.left;
  if (n <= 1) return HostNothingToDo();

  RowWindow source;
  RowSlots slots;
  rc = source.AllocateRowByRow(bufferBytes, slots);
  if (rc != SUCCESS) return rc;
  HostBlock<double> table;
  if (!table.Allocate(static_cast<uint32_t>(n))) return ERROR_NO_MEMORY;
  ResampleCurve(curve, curveCount, amount, table.get(), n);
  rc = BeginWritePhaseEx(access, bitmap, first, last);
  if (rc != SUCCESS) return rc;

  const PlaneBend g{rect, table.get(), mode, fill};
  return WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return source.Run(
        access, slots, rect.top, rect.bottom, bitmap->Height, rect.top, n,
        [&](int32_t, uint8_t* const* rows, int32_t w, uint8_t* out, uint8_t*) {
          std::memcpy(out, rows[w], rowBytes);
          PlaneBendRow<T>(g, reinterpret_cast<T*>(rows[w]), pixelStep, reinterpret_cast<T*>(out));
        },
        DiscardRead(access, slots), WriteRow(access));
  });
}

const int32_t kDefaultCurve[] = {0, 1000, 0, -1000, 0};

const FxFlagValue kOutsideValues[] = {
    {"fill", kFill, "the fill colour"},
    {"edge", kNearest, "the nearest pixel of the range"},
    {"keep", kKeep, "the pixel keeps its value"},
};
const FxFlagValue kDirectionValues[] = {
    {"rows", kHorizontal, "pixels move along their rows"},
    {"columns", kVertical, "pixels move along their columns"},
    {"both", 0x30, "along rows, then along columns"},
};
const FxFlagField kPlaneBendFlags[] = {
    FlagField("outside", 0x0F, kOutsideValues, "what a source outside the range gives"),
    FlagField("direction", 0xF0, kDirectionValues,
              "0x10 rows, 0x20 columns, any other non-zero value both"),
};

const FxParamDesc kFreePlaneBendParams[] = {
    IntArrayParam("curve", kDefaultCurve, CountOf(kDefaultCurve), kAnyInt32Min, kAnyInt32Max, 0,
                  "displacement profile across the rectangle, in thousandths of amount"),
    CountParam("curveCount", FX_KIND_UINT32, 0, 1, kAnyInt32Max,
               "values of curve used; defaults to the list's length"),
    UIntParam("amount", 20, 0, kAnyUInt32Max, "pixels per 1000 curve units"),
    ColorParam("fillColor", 0,
               "colour for sources outside (outside=fill); bit 26: low 16 bits are a 16-bit "
               "gray level"),
    FlagsParam("flags", kHorizontal | kNearest, 0x10, 0xFFFF00F2,
               "bits 0-3: outside 0 fill, 1 nearest, 2 keep; bits 4-7: 0x10 rows, 0x20 columns, "
               "0x30 both; bits 8-15 must be 0",
               kPlaneBendFlags),
};

const FxPreset kFreePlaneBendPresets[] = {
    {"s-bend", "curve=0,1000,0,-1000,0 amount=8.3334%s"},
    {"bulge", "curve=0,600,0,-600,0 amount=6.25%s direction=both"},
    {"shrink", "curve=0,500,1000 amount=12.5%s outside=fill direction=columns fillColor=#203040"},
};

}  // namespace

extern const FxEffectDesc kFreePlaneBendEffect = {
    "free-plane-bend",
    "Fx_FreePlaneBendBitmap",
    FX_FAMILY_DISTORTION,
    "Remaps rows, columns or both by a caller-drawn displacement curve",
    kFreePlaneBendParams,
    CountOf(kFreePlaneBendParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_FreePlaneBendBitmap(b, ArgPtr<const int32_t>(v[0]), ArgU32(v[1]), ArgU32(v[2]),
                                    ArgU32(v[3]), ArgU32(v[4]));
    },
    kFreePlaneBendPresets,
    CountOf(kFreePlaneBendPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_FreePlaneBendBitmap(BitmapRecord* bitmap, const int32_t* curve, uint32_t curveCount,
                               uint32_t amount, uint32_t fillColor, uint32_t flags) {
  if (!bitmap) return ERROR_NO_BITMAP;
  int32_t rc = fx::CheckBitmapRecord(bitmap);
  if (rc != SUCCESS) return rc;
  if (!(bitmap->Flags & FLAG_ALLOCATED)) return ERROR_NO_BITMAP;
  if ((flags & 0xFFF0) == 0) return ERROR_INV_PARAMETER;
  if ((flags & 0xFF0F) > fx::kKeep) return ERROR_INV_PARAMETER;
  if (!curve || curveCount == 0 || curveCount > INT32_MAX) return ERROR_INV_PARAMETER;

  const fx::PreparedColor fill = fx::PreparePlaneFill(bitmap, fillColor);
  const uint32_t mode = flags & 0x0F, direction = flags & 0xF0;
  const int32_t count = static_cast<int32_t>(curveCount);
  fx::OrientationGuard orientation(bitmap);  // orientation 1 for the horizontal pass
  if (direction == fx::kVertical) {
    HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, 5, 0);
    return fx::PlaneBendPass(bitmap, curve, count, amount, mode, fill, 0, 100);
  }
  const bool both = direction != fx::kHorizontal;
  rc = fx::PlaneBendPass(bitmap, curve, count, amount, mode, fill, 0, both ? 50 : 100);
  if (!both || rc != SUCCESS) return rc;
  HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, 5, 0);
  return fx::PlaneBendPass(bitmap, curve, count, amount, mode, fill, 51, 100);
}
