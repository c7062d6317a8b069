// Rev effect: the image becomes a stack of line graphs. Every (lineSpacing + 1)-th row of the
// rectangle is read as gray levels and plotted, white on black, as a curve whose height above
// that row grows with the level, up to maxHeight rows; the plots replace the rectangle's rows, and
// curves of neighbouring rows overlap when maxHeight exceeds lineSpacing.
//
// The plot is a scatter into a window of the N = max(lineSpacing, maxHeight) + 1 rows that the
// next plot can still reach: a row is final, and written, once the plots have moved past it.
// Every output row collects the curves of up to maxHeight / (lineSpacing + 1) + 1 source rows in
// turn, so the effect runs on the calling thread, one step per plotted pixel (FX_TRAIT_SERIAL).
//
// Open points and extreme inputs:
// - The gray level of a colour pixel is the host's gray mix (HostGrayRow, (b + 5g + 2r + 4) / 8)
//   of the working samples, in place of a row access that delivers gray rows; the plotted
//   level is written back as that gray in every colour sample (white or black). A fourth sample
//   keeps its value (each output row starts as the bitmap's row).
// - The limits lineSpacing, maxHeight <= height use the height as the effect works on it (in
//   orientation 1). The plot height of level i, (i × maxHeight + n / 2) / n, is formed in 64
//   bits (the same value whenever the product fits 32 bits).
// - Writing is prepared once (the host refuses a second preparation).
// - Rows the plots would place above the rectangle's top are dropped, also in the last step: the
//   rows after the last one written start no higher than the top.
// - Writes go through the bitmap's region: pixels outside a region mask keep their values.
#include <algorithm>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

struct RevSetup {
  RECT rect;
  int32_t step;          // samples per working pixel
  int32_t block;         // B = lineSpacing + 1
  int32_t window;        // N
  const uint32_t* rise;  // window row of every level
};

// Plots source row `in` into the window rows: the pixel's column in row rise[level] is set, the
// level being the host's gray mix. `gray` is a scratch row of gray levels.
template <class T>
void PlotRow(const RevSetup& s, const T* in, T* gray, T** window) {
  constexpr T kMax = static_cast<T>(SampleTraits<T>::kMax);
  const int32_t left = s.rect.left;
  HostGrayRow(in + int64_t{left} * s.step, sizeof(T) * 8, s.step, s.rect.right - left, gray + left);
  for (int32_t x = left; x < s.rect.right; ++x) window[s.rise[gray[x]]][x] = kMax;
}

// Writes window row `plot` (one gray sample per pixel) as bitmap row y over its own pixels.
template <class T>
int32_t WritePlot(RowAccess* access, const RevSetup& s, const T* plot, int32_t y, T* out) {
  int32_t rc = HostReadRow(access, out, y, 0, nullptr);
  if (rc != SUCCESS) return rc;
  const int32_t samples = IsColorPixel(s.step) ? 3 : 1;
  for (int32_t x = s.rect.left; x < s.rect.right; ++x)
    for (int32_t k = 0; k < samples; ++k) out[int64_t{x} * s.step + k] = plot[x];
  return HostWriteRow(access, out, y, 0, 0);
}

template <class T>
int32_t RunPlots(RowAccess* access, const RevSetup& s, T** window, T** rotation, T* in, T* gray,
                 T* out, size_t plotBytes) {
  const int32_t n = s.window, b = s.block;
  const RECT& r = s.rect;
  int64_t last = int64_t{r.top} - 1;
  for (int64_t y = r.top; y < r.bottom; y += b) {
    int32_t rc = HostReadRow(access, in, static_cast<int32_t>(y), 0, nullptr);
    if (rc != SUCCESS) return rc;
    PlotRow<T>(s, in, gray, window);
    for (int32_t k = 0; k < b; ++k) {
      const int64_t row = y - (n - 1) + k;
      if (row < r.top) continue;
      rc = WritePlot<T>(access, s, window[k], static_cast<int32_t>(row), out);
      if (rc != SUCCESS) return rc;
    }
    last = y - (n - 1) + (b - 1);
    // The first b rows are written: they become the window's last rows, cleared.
    for (int32_t k = 0; k < b; ++k) std::memset(window[k], 0, plotBytes);
    if (b < n) {
      for (int32_t k = 0; k < n; ++k) rotation[k] = window[(k + b) % n];
      std::memcpy(window, rotation, size_t(n) * sizeof(T*));
    }
  }
  // The rows after the last written one, from window row 0 on (row last + 1).
  for (int64_t row = std::max(last + 1, int64_t{r.top}); row < r.bottom; ++row) {
    const int32_t rc =
        WritePlot<T>(access, s, window[row - (last + 1)], static_cast<int32_t>(row), out);
    if (rc != SUCCESS) return rc;
  }
  return SUCCESS;
}

int32_t RevDriver(BitmapRecord* bitmap, uint32_t lineSpacing, uint32_t maxHeight) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  HostBlock<uint8_t> in, out;
  if (!access.AllocRowBuffer(in) || !access.AllocRowBuffer(out)) return ERROR_NO_MEMORY;
  RevSetup s{};
  s.rect = ProcessRect(bitmap);
  s.step = access.PixelStep();
  s.block = static_cast<int32_t>(lineSpacing) + 1;
  s.window = static_cast<int32_t>(std::max(lineSpacing, maxHeight)) + 1;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;

  const int32_t bits = access.SampleBits();
  const uint32_t levels = bits == 16 ? 65536 : 256;
  const size_t plotBytes = size_t(bitmap->Width) * (bits / 8);
  RowTable window;
  HostBlock<uint32_t> rise;
  HostBlock<uint8_t*> rotation;
  HostBlock<uint8_t> gray;
  if (!window.AllocateTable(static_cast<uint32_t>(s.window)) || !window.AllocateRows(plotBytes) ||
      !rise.Allocate(levels) || !rotation.Allocate(static_cast<uint32_t>(s.window)) ||
      !gray.Allocate(static_cast<uint32_t>(plotBytes)))
    return ERROR_NO_MEMORY;
  for (uint32_t i = 0; i < levels; ++i)
    rise[i] = static_cast<uint32_t>(s.window - 1 - (uint64_t{i} * maxHeight + levels / 2) / levels);
  s.rise = rise.get();

  rc = WithSampleType(bits, [&](auto sample) {
    using T = decltype(sample);
    return RunPlots<T>(access, s, reinterpret_cast<T**>(window.rows()),
                       reinterpret_cast<T**>(rotation.get()), reinterpret_cast<T*>(in.get()),
                       reinterpret_cast<T*>(gray.get()), reinterpret_cast<T*>(out.get()),
                       plotBytes);
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

const FxParamDesc kRevParams[] = {
    UIntParam("lineSpacing", 4, 0, kAnyUInt32Max,
              "rows between two plotted rows, 0 .. the height (0 plots every row)"),
    UIntParam("maxHeight", 8, 0, kAnyUInt32Max,
              "rows the brightest level rises above its row, 0 .. the height"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kRevPresets[] = {
    {"landscape", "lineSpacing=6 maxHeight=30"},
    {"dense-lines", "lineSpacing=2 maxHeight=10"},
    {"tall-ridges", "lineSpacing=16 maxHeight=32"},
};

}  // namespace

extern const FxEffectDesc kRevEffectEffect = {
    "rev-effect",
    "Fx_RevEffectBitmap",
    FX_FAMILY_ARTISTIC,
    "Turns the image into stacked line graphs of its rows' brightness, white on black",
    kRevParams,
    CountOf(kRevParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_RevEffectBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]));
    },
    kRevPresets,
    CountOf(kRevPresets),
    FX_TRAIT_MOVES_PIXELS | FX_TRAIT_SERIAL,
};

}  // namespace fx

int32_t Fx_RevEffectBitmap(BitmapRecord* bitmap, uint32_t lineSpacing, uint32_t maxHeight,
                           uint32_t flags) {
  using namespace fx;
  if (flags != 0) return ERROR_INV_PARAMETER;
  int32_t rc = CheckBitmapPresent(bitmap, /*testAllocated=*/false);
  if (rc != SUCCESS) return rc;
  rc = CheckRecordLayout(bitmap);
  if (rc != SUCCESS) return rc;
  OrientationGuard orientation(bitmap);
  const uint32_t height = bitmap->Height > 0 ? static_cast<uint32_t>(bitmap->Height) : 0;
  if (lineSpacing > height || maxHeight > height) return ERROR_INV_PARAMETER;
  if (bitmap->Flags & FLAG_UNSUPPORTED) return ERROR_UNSUPPORTED_FLAG;
  return RevDriver(bitmap, lineSpacing, maxHeight);
}
