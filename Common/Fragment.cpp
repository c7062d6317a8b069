// Fragment: a shattered, doubled look. Every pixel of the rectangle becomes the mean of the four
// pixels `offset` pixels away diagonally (upper left with lower right, upper right with lower
// left, each pair scaled by intensity / 200 and truncated on its own before the final halving),
// so the picture appears four times over, darkened to `intensity` percent. Neighbours beyond the
// rectangle are taken from its first or last row and column. The rectangle's rows are held in a
// rectangle row table, so results never feed back into the source; rows are computed in parallel.
//
// Extreme inputs and open points:
// - 16-bit samples get the same pass on 16-bit values (sums formed in 32 bits).
// - A negative `offset` takes its absolute value (INT32_MIN gives 2^31); i ± d and x ± d are
//   formed in 64 bits and clamped to the rectangle, so neighbours never leave the row table.
// - Four-sample pixels change their first three samples and keep the fourth.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "Common/RectRows.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowEngine.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

// Table row i of the rectangle (R rows, columns left .. right - 1) into `out`.
template <class T, int32_t C>
void FragmentRow(T* const* rows, int64_t i, int64_t count, const RECT& rc, int64_t d, double q,
                 int32_t step, T* out) {
  const T* upper = rows[std::max<int64_t>(i - d, 0)];
  const T* lower = rows[std::min<int64_t>(i + d, count - 1)];
  for (int64_t x = rc.left; x < rc.right; ++x) {
    const int64_t c1 = std::max<int64_t>(x - d, rc.left) * step;
    const int64_t c2 = std::min<int64_t>(x + d, int64_t{rc.right} - 1) * step;
    T* pixel = out + x * step;
    for (int32_t s = 0; s < C; ++s) {
      const auto a = static_cast<int32_t>((int32_t{upper[c1 + s]} + lower[c2 + s]) * q);
      const auto b = static_cast<int32_t>((int32_t{upper[c2 + s]} + lower[c1 + s]) * q);
      pixel[s] = static_cast<T>((a + b) >> 1);
    }
  }
}

int32_t FragmentPass(RowAccess* access, const RECT& rect, int64_t d, uint32_t intensity) {
  RowTable table;
  int32_t rc = ReadRectRows(access, rect, table);
  if (rc != SUCCESS) return rc;
  const size_t rowBytes = static_cast<size_t>(HostRowBytes(access));
  RowSlots slots;
  if (!slots.Allocate(rowBytes, 0)) return ERROR_NO_MEMORY;
  const int32_t step = HostPixelStep(access);
  const int64_t count = table.count();
  const double q = intensity / 200.0;
  return WithSampleType(HostSampleBits(access), [&](auto sample) {
    using T = decltype(sample);
    T* const* rows = reinterpret_cast<T* const*>(table.rows());
    return RunRows(
        slots, rect.top, rect.bottom, rect.right - rect.left,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          const int64_t i = int64_t{y} - rect.top;
          std::memcpy(out, rows[i], rowBytes);
          T* row = reinterpret_cast<T*>(out);
          if (IsColorPixel(step))
            FragmentRow<T, 3>(rows, i, count, rect, d, q, step, row);
          else
            FragmentRow<T, 1>(rows, i, count, rect, d, q, step, row);
        },
        NoHostCall(), WriteRow(access));
  });
}

int32_t FragmentDriver(BitmapRecord* bitmap, int32_t offset, uint32_t intensity) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  RECT rect{};
  HostGetProcessRect(bitmap, 0, &rect);
  rc = BeginWritePhaseEx(access, bitmap, 1, 100);
  if (rc != SUCCESS) return rc;
  rc = FragmentPass(access, rect, std::abs(int64_t{offset}), intensity);
  access.Close();
  HostFinishUpdate(bitmap);
  return rc;
}

const FxParamDesc kFragmentParams[] = {
    IntParam("offset", 6, kAnyInt32Min, kAnyInt32Max,
             "diagonal distance of the four copies in pixels (a negative value counts as its "
             "absolute value)"),
    UIntParam("intensity", 100, 0, 100,
              "brightness of the result in percent of the four-pixel mean; 0 paints black"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kFragmentPresets[] = {
    {"shattered", "offset=12"},
    {"subtle", "offset=3 intensity=90"},
    {"dim-echo", "offset=24 intensity=70"},
};

}  // namespace

extern const FxEffectDesc kFragmentEffect = {
    "fragment",
    "Fx_FragmentBitmap",
    FX_FAMILY_ARTISTIC,
    "Replaces every pixel by the mean of four diagonal neighbours: a shattered, doubled look",
    kFragmentParams,
    CountOf(kFragmentParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_FragmentBitmap(b, ArgI32(v[0]), ArgU32(v[1]), ArgU32(v[2]));
    },
    kFragmentPresets,
    CountOf(kFragmentPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_FragmentBitmap(BitmapRecord* bitmap, int32_t offset, uint32_t intensity,
                          uint32_t flags) {
  using namespace fx;
  const int32_t rc = CheckBitmap(bitmap, /*testAllocated=*/false);
  if (rc != SUCCESS) return rc;
  if (flags != 0 || intensity > 100) return ERROR_INV_PARAMETER;
  OrientationGuard orientation(bitmap);
  return FragmentDriver(bitmap, offset, intensity);
}
