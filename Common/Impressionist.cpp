// Impressionist: the look of short brush dabs. Every pixel of the rectangle takes a pixel a
// random distance away, first along its row and then along its column, with separate horizontal
// and vertical reach. The effect streams through the bitmap with a window of source rows; each
// row is scattered horizontally as it enters the window, and each output row picks its pixels
// vertically from the window. Draws continue the thread's generator sequence (it is not seeded
// here), so a caller who seeds first gets reproducible output.
//
// Extreme inputs: vertLength above 65535 is treated as 65535. From there on the displacement no
// longer depends on the reach (every draw r moves by +r or -r), so the picture is the same kind,
// but the window stays at 65537 rows instead of growing towards 2^32 rows (whose count would not
// fit in 32 bits); for such reaches the assignment of draws to pixels is not the literal one.
// horzLength takes any value (its moduli fit in unsigned 32 bits). Columns x + d are formed in
// 64 bits. Four-sample pixels keep their fourth sample: the scatter writes three samples into
// copies of the source rows, and rows outside the rectangle's columns keep their pixels.
#include <algorithm>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
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
// row `src`, one draw per pixel from left to right.
template <class T, int32_t Samples>
void ScatterRow(const T* src, T* dst, const RECT& rect, int32_t width, int32_t step,
                const int16_t* reach) {
  const int64_t last = int64_t{width} - 1;
  for (int32_t x = rect.left; x < rect.right; ++x) {
    const int64_t sx = std::clamp<int64_t>(int64_t{x} + reach[fxrt::rand()], 0, last);
    CopyPixel<T, Samples>(dst + int64_t{x} * step, src + sx * step);
  }
}

// Vertical pass: pixel x of `out` gets pixel x of view[half + d], one draw per pixel.
template <class T, int32_t Samples>
void GatherRow(T* const* view, int32_t half, T* out, const RECT& rect, int32_t step,
               const int16_t* reach) {
  for (int32_t x = rect.left; x < rect.right; ++x) {
    const int64_t offset = int64_t{x} * step;
    CopyPixel<T, Samples>(out + offset, view[half + reach[fxrt::rand()]] + offset);
  }
}

struct ImpressionistJob {
  RowAccess* access;
  RECT rect;
  int32_t width, height, step, n;
  size_t rowBytes;
  uint8_t** ring;
  uint8_t** view;
  uint8_t* scratch;           // the output row, also the horizontal pass's scratch
  const int16_t* horizontal;  // displacement of every draw
  const int16_t* vertical;
};

template <class T, int32_t Samples>
int32_t RunWindow(const ImpressionistJob& job) {
  const int32_t n = job.n, half = n / 2;
  T* scratch = reinterpret_cast<T*>(job.scratch);
  int64_t source = int64_t{job.rect.top} - half;
  int32_t slot = 0, centre = half, y = job.rect.top;
  while (y < job.rect.bottom) {
    const auto row = static_cast<int32_t>(std::clamp<int64_t>(source, 0, job.height - 1));
    int32_t rc = HostReadRow(job.access, job.ring[slot], row, 0, nullptr);
    if (rc != SUCCESS) return rc;
    T* fresh = reinterpret_cast<T*>(job.ring[slot]);
    HostMemCopy(scratch, fresh, job.rowBytes);
    ScatterRow<T, Samples>(fresh, scratch, job.rect, job.width, job.step, job.horizontal);
    HostMemCopy(fresh, scratch, job.rowBytes);

    if (source >= int64_t{job.rect.top} + half) {
      HostCenterRowWindow(reinterpret_cast<void* const*>(job.ring),
                          reinterpret_cast<void**>(job.view), n, centre);
      T* const* view = reinterpret_cast<T* const*>(job.view);
      HostMemCopy(scratch, view[half], job.rowBytes);  // row y: columns outside stay, alpha stays
      GatherRow<T, Samples>(view, half, scratch, job.rect, job.step, job.vertical);
      rc = HostWriteRow(job.access, scratch, y, 0, 0);
      if (rc != SUCCESS) return rc;
      ++y;
      if (++centre == n) centre = 0;
    }
    ++source;
    if (++slot == n) slot = 0;
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

  RowTable ring;
  HostBlock<uint8_t*> view;
  HostBlock<uint8_t> output;
  HostBlock<int16_t> displacements;
  if (!ring.AllocateTable(static_cast<uint32_t>(n)) ||
      !ring.AllocateRows(rowBytes + 4 * static_cast<size_t>(step)) ||
      !view.AllocateCleared(static_cast<uint32_t>(n)) || !access.AllocRowBuffer(output) ||
      !displacements.Allocate(2 * kDraws))
    return ERROR_NO_MEMORY;
  FillDisplacements(h, displacements.get());
  FillDisplacements(v, displacements.get() + kDraws);

  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;

  ImpressionistJob job{};
  job.access = access;
  job.rect = ProcessRect(bitmap);
  job.width = bitmap->Width;
  job.height = bitmap->Height;
  job.step = step;
  job.n = n;
  job.rowBytes = rowBytes;
  job.ring = ring.rows();
  job.view = view.get();
  job.scratch = output.get();
  job.horizontal = displacements.get();
  job.vertical = displacements.get() + kDraws;
  rc = WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return IsColorPixel(step) ? RunWindow<T, 3>(job) : RunWindow<T, 1>(job);
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
    {"coarse", "horzLength=24 vertLength=24"},
    {"streaks", "horzLength=30 vertLength=1"},
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
    FX_TRAIT_RANDOM | FX_TRAIT_MOVES_PIXELS | FX_TRAIT_SERIAL,
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
