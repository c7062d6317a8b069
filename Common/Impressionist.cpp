// Impressionist: the look of short brush dabs. Every pixel of the rectangle takes a pixel a
// random distance away, first along its row and then along its column, with separate horizontal
// and vertical reach. The effect streams through the bitmap with a window of source rows; each
// row is scattered horizontally as it enters the window, and each output row picks its pixels
// vertically from the window. Draws continue the thread's generator sequence (it is not seeded
// here), so a caller who seeds first gets reproducible output. Every row's draws are fixed in
// number, so each scatter and gather starts from its own place in the sequence
// (fxrt::RandAdvance) and rows run on the row engine with the serial window's pixels; afterwards
// the generator stands where the serial window leaves it, also when a row fails.
//
// Extreme inputs: vertLength above 65535 is treated as 65535. From there on the displacement no
// longer depends on the reach (every draw r moves by +r or -r), so the picture is the same kind,
// but the window stays at 65537 rows instead of growing towards 2^32 rows (whose count would not
// fit in 32 bits); for such reaches the assignment of draws to pixels is not the literal one.
// horzLength takes any value (its moduli fit in unsigned 32 bits). Columns x + d are formed in
// 64 bits. Four-sample pixels keep their fourth sample: the scatter writes three samples into
// copies of the source rows, and rows outside the rectangle's columns keep their pixels.
#include <algorithm>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

// Beyond this vertical reach the displacements are the same for every reach.
constexpr uint32_t kMaxVerticalReach = 65535;

// Displacement for reach n >= 1 and a draw r in 0 .. 32767: an even draw moves forward by
// r mod (n div 2 + 2), an odd draw back by r mod ((n - 1) div 2 + 1). Tabulated for every draw
// (|d| <= 32767 fits 16 bits), which spares a division and an unpredictable branch per pixel.
void FillDisplacements(uint32_t n, int16_t* table) {
  const uint32_t forward = n / 2 + 2, back = (n - 1) / 2 + 1;
  for (uint32_t r = 0; r <= static_cast<uint32_t>(fxrt::RAND_MAX_VALUE); ++r)
    table[r] = static_cast<int16_t>((r & 1u) ? -static_cast<int32_t>(r % back)
                                             : static_cast<int32_t>(r % forward));
}
constexpr uint32_t kDraws = fxrt::RAND_MAX_VALUE + 1;

template <class T, int32_t Samples>
inline void CopyPixel(T* dst, const T* src) {
  for (int32_t k = 0; k < Samples; ++k) dst[k] = src[k];
}

// Horizontal pass: pixel x of `dst` gets pixel clamp(x + d, 0, width - 1) of the unscattered
// row `src`, one draw per pixel from left to right, continuing `state`.
template <class T, int32_t Samples>
void ScatterRow(const T* src, T* dst, const RECT& rect, int32_t width, int32_t step,
                const int16_t* reach, uint32_t state) {
  const int64_t last = int64_t{width} - 1;
  for (int32_t x = rect.left; x < rect.right; ++x) {
    const int64_t sx = std::clamp<int64_t>(int64_t{x} + reach[fxrt::RandFrom(state)], 0, last);
    CopyPixel<T, Samples>(dst + int64_t{x} * step, src + sx * step);
  }
}

// Vertical pass: pixel x of `out` gets pixel x of view[half + d], one draw per pixel.
template <class T, int32_t Samples>
void GatherRow(T* const* view, int32_t half, T* out, const RECT& rect, int32_t step,
               const int16_t* reach, uint32_t state) {
  for (int32_t x = rect.left; x < rect.right; ++x) {
    const int64_t offset = int64_t{x} * step;
    CopyPixel<T, Samples>(out + offset, view[half + reach[fxrt::RandFrom(state)]] + offset);
  }
}

// The serial order of the draws, W per pass: source row i (bitmap row top - half + i, clamped)
// is scattered as it enters the window, and once 2 half + 1 rows are in, output row j = i - 2 half
// is gathered. So the scatter of row i starts at draw W (i + max(0, i - 2 half)) and the gather of
// output row j at draw W (2 j + 2 half + 1).
struct DrawOrder {
  uint32_t first;  // the generator's state before the effect
  uint64_t w;
  int64_t twoHalf;
  uint32_t Scatter(int64_t i) const {
    return fxrt::RandAdvance(first, w * uint64_t(i + std::max<int64_t>(0, i - twoHalf)));
  }
  uint32_t Gather(int64_t j) const {
    return fxrt::RandAdvance(first, w * uint64_t(2 * j + twoHalf + 1));
  }
};

// The window as a band of rows: the rows of output rows j0 .. j1 - 1 (source rows j0 ..
// j1 - 1 + 2 half) are read in order on the calling thread, the new ones scattered on the row
// engine (each in place, from a copy of itself), then the band's output rows gathered on the row
// engine and written in row order; the next band's new rows are read meanwhile where the engine
// allows it. Every row starts from its own place in the draw order, so the pixels are the serial
// window's at any thread count.
template <class T, int32_t Samples>
int32_t RunWindow(RowAccess* access, const RECT& rect, int32_t width, int32_t height, int32_t step,
                  int32_t n, RowTable& table, int32_t band, const RowSlots& slots,
                  const int16_t* horizontal, const int16_t* vertical, const DrawOrder& order) {
  const int32_t half = n / 2, rows = rect.bottom - rect.top;
  const size_t rowBytes = slots.rowBytes();
  const int64_t pixels = int64_t{rect.right} - rect.left;
  uint8_t** rowsOf = table.rows();  // row k holds source row j0 + k
  int64_t next = 0;                 // the next source row to read
  // Reads the source rows up to those of output row j - 1, into the table of band j0.
  const auto readUpTo = [&](int32_t j, int32_t j0) {
    const int64_t to = int64_t{j} + 2 * half;
    if (next >= to) return int32_t{SUCCESS};
    const int32_t rc = ReadClampedRows(access, rowsOf + (next - j0), rect.top - half + next,
                                       static_cast<int32_t>(to - next), height);
    next = to;
    return rc;
  };
  int32_t rc = readUpTo(std::min(rows, band), 0);
  if (rc != SUCCESS) return rc;
  int64_t scattered = 0;  // source rows before this one are scattered
  for (int32_t j0 = 0; j0 < rows; j0 += band) {
    const int32_t j1 = std::min(rows, j0 + band);
    const int64_t from = scattered, to = int64_t{j1} + 2 * half;
    scattered = to;
    rc = RunRows(
        slots, static_cast<int32_t>(from - j0), static_cast<int32_t>(to - j0), pixels,
        [&](int32_t k, uint8_t* copy, uint8_t*) {
          std::memcpy(copy, rowsOf[k], rowBytes);
          ScatterRow<T, Samples>(reinterpret_cast<const T*>(copy), reinterpret_cast<T*>(rowsOf[k]),
                                 rect, width, step, horizontal, order.Scatter(j0 + k));
        },
        NoHostCall(), NoWrite());
    if (rc != SUCCESS) return rc;
    rc = RunRows(
        slots, rect.top + j0, rect.top + j1, pixels,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          const int32_t j = y - rect.top;
          T* const* view = reinterpret_cast<T* const*>(rowsOf + (j - j0));
          auto* to = reinterpret_cast<T*>(out);
          // row y: columns outside stay, alpha stays
          CopyAroundColumns(to, view[half], rowBytes, rect.left, rect.right, step);
          GatherRow<T, Samples>(view, half, to, rect, step, vertical, order.Gather(j));
        },
        NoHostCall(), WriteRow(access),
        // the next band's new source rows, read while this band's rows are gathered
        [&] { return readUpTo(std::min(rows, j1 + band), j0); });
    if (rc != SUCCESS) return rc;
    std::rotate(rowsOf, rowsOf + (j1 - j0), rowsOf + table.count());
  }
  return SUCCESS;
}

int32_t ImpressionistDriver(BitmapRecord* bitmap, uint32_t horzLength, uint32_t vertLength) {
  const uint32_t h = std::max<uint32_t>(horzLength, 1);
  const uint32_t v = std::clamp<uint32_t>(vertLength, 1, kMaxVerticalReach);
  const auto n = static_cast<int32_t>((v & ~1u) + 3);

  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t step = access.PixelStep();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  const int32_t band = host::BandRows(static_cast<int64_t>(rowBytes));

  RowTable table;  // the window's n - 1 rows and two bands' new rows
  RowSlots slots;
  HostBlock<int16_t> displacements;
  if (!table.AllocateTable(static_cast<uint32_t>(n - 1 + 2 * band)) ||
      !table.AllocateRows(rowBytes + 4 * static_cast<size_t>(step)) ||
      !slots.Allocate(rowBytes, 0) || !displacements.Allocate(2 * kDraws))
    return ERROR_NO_MEMORY;
  FillDisplacements(h, displacements.get());
  FillDisplacements(v, displacements.get() + kDraws);

  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;

  // Afterwards the generator stands where the serial window leaves it, also when a row fails.
  const RECT rect = ProcessRect(bitmap);
  const int64_t rows = int64_t{rect.bottom} - rect.top, pixels = int64_t{rect.right} - rect.left;
  const DrawOrder order{fxrt::RandState(), uint64_t(pixels), int64_t{n} - 1};
  fxrt::srand(fxrt::RandAdvance(order.first, uint64_t(pixels) * uint64_t(2 * rows + n - 1)));
  rc = WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    const auto run = IsColorPixel(step) ? RunWindow<T, 3> : RunWindow<T, 1>;
    return run(access, rect, bitmap->Width, bitmap->Height, step, n, table, band, slots,
               displacements.get(), displacements.get() + kDraws, order);
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

const FxParamDesc kImpressionistParams[] = {
    UIntParam("horzLength", 8, 0, kAnyUInt32Max,
              "horizontal reach of the scatter in pixels; 0 counts as 1"),
    UIntParam("vertLength", 8, 0, kAnyUInt32Max,
              "vertical reach of the scatter in pixels; 0 counts as 1 (both 0 is refused)"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kImpressionistPresets[] = {
    {"coarse", "horzLength=5%s vertLength=5%s"},
    {"streaks", "horzLength=6%s vertLength=1"},
};

}  // namespace

extern const FxEffectDesc kImpressionistEffect = {
    "impressionist",
    "Fx_ImpressionistBitmap",
    FX_FAMILY_ARTISTIC,
    "Scatters pixels a random distance along rows and columns, like short brush dabs",
    kImpressionistParams,
    CountOf(kImpressionistParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_ImpressionistBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]));
    },
    kImpressionistPresets,
    CountOf(kImpressionistPresets),
    FX_TRAIT_RANDOM | FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_ImpressionistBitmap(BitmapRecord* bitmap, uint32_t horzLength, uint32_t vertLength,
                               uint32_t flags) {
  if (flags != 0) return ERROR_INV_PARAMETER;
  int32_t rc = fx::CheckBitmap(bitmap, /*testAllocated=*/false);
  if (rc != SUCCESS) return rc;
  if (horzLength == 0 && vertLength == 0) return ERROR_INV_PARAMETER;
  if (horzLength == 1 && vertLength == 1) return HostNothingToDo();
  fx::OrientationGuard orientation(bitmap);
  return fx::ImpressionistDriver(bitmap, horzLength, vertLength);
}
