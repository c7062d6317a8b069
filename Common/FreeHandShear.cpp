// Free-hand shear: every row of the rectangle shifts sideways by its own amount, read from a
// caller-drawn curve of amplitudes spread evenly from the top to the bottom of the rectangle and
// interpolated linearly between its entries. Each output pixel blends two neighbouring source
// pixels of its row with integer weights from a table of hundredths. With direction 0x10 the
// columns shift instead, the host presenting the bitmap in orientation 8 (rows along the stored
// columns). Sources outside the row get the fill colour, keep the pixel, or take the nearest
// edge pixels.
//
// Extreme inputs and choices:
// - |amplitude| is formed in 64 bits, so -2^31 is refused like any entry beyond ±1000; a null
//   `amplitudes` with a positive count is refused the same way (ERROR_INV_PARAMETER).
// - Every output row starts as a copy of its source row, so a fourth sample and the columns
//   outside the rectangle keep their values.
// - A row one pixel wide blends its only pixel with itself (the neighbour index is limited to
//   the row as well as the first index).
// - A rectangle of no rows builds no shift table entries from a division by zero; there is
//   nothing to shift.
#include <algorithm>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

enum ShearMode : uint32_t { kFill = 0, kEdge = 1, kKeep = 2 };
constexpr uint32_t kColumns = 0x10;

// The blend weights for fractions in hundredths: w0 for the pixel at the source index, w1 for
// its right neighbour, computed in doubles; entries 100 .. 199 repeat 0 .. 99.
struct ShearWeights {
  uint32_t w0[200], w1[200];
};

void FillShearWeights(ShearWeights& table) {
  for (int32_t i = 0; i < 200; ++i) {
    const double x = (i % 100) / 100.0;
    const double g = x - static_cast<int32_t>(x);
    table.w0[i] = static_cast<uint32_t>(10000.0 * g);
    table.w1[i] = static_cast<uint32_t>(10000.0 * (1.0 - g));
  }
}

// shift[i] for i = 0 .. count: the curve read at the fraction of the rectangle's rows row i lies
// at, times amount percent of half the rectangle's width.
void FillShiftTable(const int32_t* a, int32_t count, uint32_t amount, const RECT& rect, int32_t h,
                    double* shift) {
  const int32_t rows = rect.bottom - rect.top;
  const double halfW = (int64_t{rect.right} - rect.left) / 2.0;
  for (int32_t i = 0; i <= h; ++i) {
    if (rows <= 0) {
      shift[i] = 0;
      continue;
    }
    const double u = static_cast<double>(i) / rows;
    const double f = u - static_cast<int64_t>(u);
    const double pos = (count - 1) * f;
    const int32_t n = static_cast<int32_t>(pos);
    const double t = pos - static_cast<int32_t>(pos);
    const double curve = t == 0 ? a[n] : (1 - t) * a[n] + t * a[n + 1];
    shift[i] = amount / 100.0 * curve * halfW / 1000.0;
  }
}

struct Shear {
  RECT rect;
  int32_t width;  // W, the bitmap's width as seen
  uint32_t mode;
  const double* shift;
  const ShearWeights* weights;
  const void* fill;  // one working pixel
};

template <class T>
void ShearRow(const Shear& g, int32_t y, const T* src, int32_t step, T* out) {
  const double s = g.shift[y - g.rect.top];
  const int32_t whole = static_cast<int32_t>(s);
  const int32_t k = static_cast<int32_t>(100 * (s - whole)) + 100;
  const uint32_t w0 = g.weights->w0[k], w1 = g.weights->w1[k];
  const uint32_t divisor = SampleTraits<T>::kWeightDivisor;
  const int32_t samples = step < 3 ? 1 : 3;
  const int64_t lastPair = std::max(g.width - 2, 0);
  const T* fill = static_cast<const T*>(g.fill);
  for (int32_t x = g.rect.left; x < g.rect.right; ++x) {
    const int64_t j = int64_t{x} - whole;
    T* pixel = out + int64_t{x} * step;
    if (j > g.width || j < 0) {
      if (g.mode == kFill) {
        for (int32_t c = 0; c < samples; ++c) pixel[c] = fill[c];
        continue;
      }
      if (g.mode == kKeep) continue;  // the pixel is already the source pixel at x
    }
    const int64_t jc = std::clamp<int64_t>(j, 0, lastPair);
    const int64_t jn = std::min<int64_t>(jc + 1, g.width - 1);
    for (int32_t c = 0; c < samples; ++c)
      pixel[c] = static_cast<T>((w0 * src[jc * step + c] + w1 * src[jn * step + c]) / divisor);
  }
}

int32_t ShearDriver(BitmapRecord* bitmap, const int32_t* amplitudes, int32_t count, uint32_t amount,
                    uint32_t fillColor, uint32_t mode) {
  const int32_t height = bitmap->Height;
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t step = access.PixelStep(), bits = access.SampleBits();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  const size_t bufferBytes = rowBytes + 4 * size_t(step);
  RowWindow source;
  RowSlots slots;
  rc = source.AllocateRowByRow(bufferBytes, slots);
  if (rc != SUCCESS) return rc;
  HostBlock<double> shift;
  if (!shift.Allocate(static_cast<uint32_t>(height) + 1)) return ERROR_NO_MEMORY;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;

  RECT rect{};
  HostGetRegionBounds(bitmap, nullptr, &rect);
  FillShiftTable(amplitudes, count, amount, rect, height, shift.get());
  ShearWeights weights;
  FillShearWeights(weights);
  alignas(8) uint8_t fill[8] = {};
  HostColorToPixel(fill, fillColor, bits, step);

  const Shear g{rect, bitmap->Width, mode, shift.get(), &weights, fill};
  rc = WithSampleType(bits, [&](auto sample) {
    using T = decltype(sample);
    return source.Run(
        access, slots, rect.top, rect.bottom, height, rect.top, rect.right - rect.left,
        [&](int32_t y, uint8_t* const* rows, int32_t w, uint8_t* out, uint8_t*) {
          std::memcpy(out, rows[w], rowBytes);
          ShearRow<T>(g, y, reinterpret_cast<const T*>(rows[w]), step, reinterpret_cast<T*>(out));
        },
        DiscardRead(access, slots), WriteRow(access));
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

// Sets the orientation the direction works in (1 for rows, 8 for columns, none for other
// directions) when the bitmap is not in it already, and restores the saved one if it changed.
class ShearOrientation {
 public:
  ShearOrientation(BitmapRecord* bitmap, uint32_t direction)
      : bitmap_(bitmap), saved_(bitmap->Orientation) {
    const uint8_t wanted = direction == 0 ? 1 : (direction == kColumns ? 8 : 0);
    if (wanted && saved_ != wanted) {
      HostSetOrientation(nullptr, bitmap_, bitmap_->StructSize, wanted, 0);
      changed_ = true;
    }
  }
  ~ShearOrientation() {
    if (changed_) HostSetOrientation(nullptr, bitmap_, bitmap_->StructSize, saved_, 0);
  }
  ShearOrientation(const ShearOrientation&) = delete;
  ShearOrientation& operator=(const ShearOrientation&) = delete;

 private:
  BitmapRecord* bitmap_;
  uint8_t saved_;
  bool changed_ = false;
};

const int32_t kDefaultAmplitudes[] = {0, 400, -400, 400, 0};

const FxFlagValue kOutsideValues[] = {
    {"fill", kFill, "the fill colour"},
    {"edge", kEdge, "the nearest edge pixels (any value but 0 and 2)"},
    {"keep", kKeep, "the pixel keeps its value"},
};
const FxFlagValue kDirectionValues[] = {
    {"rows", 0, "rows shift sideways"},
    {"columns", kColumns, "columns shift up and down"},
};
const FxFlagField kShearFlags[] = {
    FlagField("outside", 0x0F, kOutsideValues, "what a source outside the row gives"),
    FlagField("direction", 0xF0, kDirectionValues, "which lines shift"),
};

const FxParamDesc kFreeHandShearParams[] = {
    IntArrayParam("amplitudes", kDefaultAmplitudes, CountOf(kDefaultAmplitudes), -1000, 1000, 0,
                  "shift curve from the top to the bottom of the rectangle, in thousandths of "
                  "half its width"),
    CountParam("count", FX_KIND_INT32, 0, kAnyInt32Min, kAnyInt32Max,
               "entries of amplitudes used (0 or less does nothing); defaults to the list's "
               "length"),
    UIntParam("amount", 50, 0, 100, "percentage applied to the whole curve; 0 does nothing"),
    ColorParam("fillColor", 0, "colour for sources outside the row (outside=fill)"),
    FlagsParam("flags", kEdge, 0, kAnyUInt32Max,
               "bits 0-3: outside 0 fill, 2 keep, other values nearest edge; bits 4-7: 0 rows, "
               "0x10 columns",
               kShearFlags),
};

const FxPreset kFreeHandShearPresets[] = {
    {"wavy",
     "amplitudes=0,700,1000,700,0,-700,-1000,-700,0,700,1000,700,0,-700,-1000,-700,0 "
     "amount=10"},
    {"lean", "amplitudes=-600,600 amount=50 outside=fill fillColor=#202020"},
    {"folded-columns", "amplitudes=0,1000,0,-1000,0 amount=10 direction=columns"},
};

}  // namespace

extern const FxEffectDesc kFreeHandShearEffect = {
    "free-hand-shear",
    "Fx_FreeHandShearBitmap",
    FX_FAMILY_DISTORTION,
    "Shifts every row (or column) sideways by a caller-drawn curve",
    kFreeHandShearParams,
    CountOf(kFreeHandShearParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_FreeHandShearBitmap(b, ArgPtr<const int32_t>(v[0]), ArgI32(v[1]), ArgU32(v[2]),
                                    ArgU32(v[3]), ArgU32(v[4]));
    },
    kFreeHandShearPresets,
    CountOf(kFreeHandShearPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_FreeHandShearBitmap(BitmapRecord* bitmap, const int32_t* amplitudes, int32_t count,
                               uint32_t amount, uint32_t fillColor, uint32_t flags) {
  const int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  if (amount > 100) return ERROR_INV_PARAMETER;
  int64_t largest = 0;
  for (int32_t i = 0; amplitudes && i < count; ++i)
    largest = std::max(largest, amplitudes[i] < 0 ? -int64_t{amplitudes[i]} : amplitudes[i]);
  if (amount == 0) return HostNothingToDo();
  if (largest > 1000 || (count > 0 && !amplitudes)) return ERROR_INV_PARAMETER;
  if (largest == 0) return HostNothingToDo();
  fx::ShearOrientation orientation(bitmap, flags & 0xF0);
  return fx::ShearDriver(bitmap, amplitudes, count, amount, fillColor, flags & 0x0F);
}
