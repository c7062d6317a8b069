// Cylindrical: wraps the rectangle around a vertical cylinder (positive strength: the middle
// columns widen and the edges squeeze, as on the side of a can) or the inverse (negative). Each
// row is remapped on its own: a pixel takes the colour at a displaced, fractional column of the
// same row, interpolated linearly. Direction 1 does the same along columns through the host's
// transposed view. The displacement depends only on the column, so it is worked out once per
// column and reused for every row.
//
// Extreme inputs: a rectangle one pixel wide has A = 0, where the literal formulas give 0/0; its
// only column is the axis and keeps its pixels (the axis column always does).
#include <cstdlib>

#include "Common/Sphere.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr uint32_t kDirectionRows = 0;
constexpr uint32_t kDirectionColumns = 1;

// Source column of every column of the rectangle, for strength s and weight k.
void CylinderColumns(const RECT& rect, int32_t strength, double* columns) {
  const int32_t a = static_cast<int32_t>((int64_t{rect.right} - rect.left) / 2);
  const int32_t cx = static_cast<int32_t>((int64_t{rect.right} + rect.left) / 2);
  const double k = std::abs(strength) / 100.0;
  const double q = kSpherePi / (2.0 * a);
  for (int32_t x = rect.left; x < rect.right; ++x) {
    const int32_t d = x - cx;
    double s = strength < 0 ? a * std::sin(d * q) : std::asin(static_cast<double>(d) / a) / q;
    s = (s - d) * k + d;
    if (d == 0 || s * d <= 0) s = d;  // the axis, and displacements across it, stay put
    columns[x - rect.left] = ClampToSpan(cx + s, rect.left, rect.right);
  }
}

template <class T>
void CylinderRow(const RECT& rect, const double* columns, const T* src, T* dst, int32_t step,
                 int32_t width) {
  for (int32_t x = rect.left; x < rect.right; ++x)
    LinearSample<T>(src, columns[x - rect.left], step, width, dst + int64_t{x} * step);
}

int32_t CylindricalDriver(BitmapRecord* bitmap, int32_t strength) {
  RowPairPass pass;
  int32_t rc = pass.Open(bitmap);
  if (rc != SUCCESS) return rc;
  const RECT rect = pass.rect();
  HostBlock<double> columns;
  if (!columns.Allocate(static_cast<uint32_t>(rect.right - rect.left))) return ERROR_NO_MEMORY;
  CylinderColumns(rect, strength, columns.get());
  return WithSampleType(pass.sampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return pass.Run(bitmap, [&](int32_t, const uint8_t* src, uint8_t* dst) {
      CylinderRow<T>(rect, columns.get(), reinterpret_cast<const T*>(src),
                     reinterpret_cast<T*>(dst), pass.step(), pass.width());
    });
  });
}

constexpr FxFlagValue kDirectionValues[] = {
    {"vertical", kDirectionRows, "the axis stands upright: pixels move along the rows"},
    {"horizontal", kDirectionColumns, "the axis lies flat: pixels move along the columns"},
};
constexpr FxFlagField kDirectionFields[] = {
    FlagField("direction", kWholeWord, kDirectionValues, "the cylinder's axis"),
};

const FxParamDesc kCylindricalParams[] = {
    IntParam("strength", 60, -100, 100,
             "positive widens the middle and squeezes the edges, negative the inverse; "
             "|strength|/100 weights the mapping; 0 does nothing"),
    Named(UIntParam("direction", 0, 0, 1,
                    "0: vertical axis (rows are remapped), 1: horizontal axis (columns are "
                    "remapped)"),
          kDirectionFields),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kCylindricalPresets[] = {
    {"can", "strength=100"},
    {"inverse", "strength=-100"},
    {"horizontal-axis", "strength=80 direction=horizontal"},
};

}  // namespace

extern const FxEffectDesc kCylindricalEffect = {
    "cylindrical",
    "Fx_CylindricalBitmap",
    FX_FAMILY_DISTORTION,
    "Wraps the image around a vertical or horizontal cylinder",
    kCylindricalParams,
    CountOf(kCylindricalParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_CylindricalBitmap(b, ArgI32(v[0]), ArgU32(v[1]), ArgU32(v[2]));
    },
    kCylindricalPresets,
    CountOf(kCylindricalPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_CylindricalBitmap(BitmapRecord* bitmap, int32_t strength, uint32_t direction,
                             uint32_t flags) {
  int32_t rc = fx::CheckBitmapPresent(bitmap);
  if (rc != SUCCESS) return rc;
  if (bitmap->StructSize != BITMAP_STRUCT_SIZE && bitmap->StructSize != BITMAP_STRUCT_SIZE_OLD)
    return ERROR_INV_STRUCT_SIZE;
  if (flags != 0) return ERROR_INV_PARAMETER;
  rc = fx::CheckBitmapRecord(bitmap);
  if (rc != SUCCESS) return rc;
  if (std::llabs(int64_t{strength}) > 100) return ERROR_POINT_OUT_OF_RANGE;
  if (strength == 0) {
    HostNothingToDo();
    return SUCCESS;
  }
  fx::OrientationGuard orientation(bitmap);
  if (fx::IsEmpty(fx::ProcessRect(bitmap))) return ERROR_EMPTY_RECT;
  if (direction == fx::kDirectionRows) return fx::CylindricalDriver(bitmap, strength);
  if (direction != fx::kDirectionColumns) return ERROR_INV_PARAMETER;
  HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, 5, 0);
  rc = fx::CylindricalDriver(bitmap, strength);
  HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, 1, 0);
  return rc;
}
