// Diffuse glow: the light (or, with a negative threshold, the dark) parts of the image glow
// softly in a colour, with film-like grain. A gray copy of the image is cut into a two-level mask
// by the threshold, the mask is blurred with a Gaussian kernel down the columns and then along
// the rows, and every pixel is mixed with the glow colour as far as the blurred mask says it
// belongs to the glowing part, the mix perturbed per pixel by random grain.
//
// The gray copy is made and converted by the host (HostCopyBitmap, HostGrayscaleBitmap: the
// host's gray mix (b + 5g + 2r + 4) / 8 at 8 bits), then read once into a mask of the rows the
// blur reaches; the column blur and the row blur of each output row run in its row function.
// The grain's random numbers (one per pixel of the rectangle, row by row, also when grain is 0)
// are drawn by each row's function from the row's own place in the generator's sequence
// (fxrt::RandAdvance), so the rows run on any thread; before each band the thread's generator is
// moved to where drawing that band's numbers would leave it, also when a later row fails.
//
// Extreme inputs and choices:
// - k is signed after the grain: a negative value clamps to 0, one above 255 to 255; the grain
//   applies to 16-bit samples as to 8-bit ones.
// - The blur's weighted sums stay below 2^32 for every radius (at most 125 weights of 65535 on
//   levels of 255), so they are exact in 32 bits.
// - The column blur covers only the columns the row blur reads, and the mask only the rows the
//   column blur reads; the values are those of the whole-copy passes.
// - A fourth sample keeps its value.
#include <algorithm>
#include <cstring>

#include "Common/Glows.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"
#include "host/runtime/Runtime.h"

namespace fx {
namespace {

// The Gaussian of the blur: weights w[0 .. n - 1], symmetric about w[half], and their sum.
struct BlurKernel {
  HostBlock<uint16_t> w;
  int32_t half = 0;
  uint32_t sum = 0;

  bool Make(uint32_t radius) {
    const uint32_t r = radius / 4 + 50;
    const double sigma = (2 * (r / 10.0 + 1.0) + 0.5) / 3.0;
    const int32_t n = 2 * static_cast<int32_t>(3 * sigma) + 1;
    half = (n - 1) / 2;
    if (!w.Allocate(static_cast<uint32_t>(n))) return false;
    sum = HostGaussKernel(w.get(), n, sigma);
    return sum != 0 && sum != UINT32_MAX;
  }
};

struct DiffuseGeometry {
  const uint8_t* mask;  // thresholded gray levels, `width` per row, from bitmap row maskTop
  int32_t maskTop, width, height;
  int32_t left, right;
  int32_t c0, c1;  // the columns the row blur reads
  const uint16_t* w;
  int32_t half;
  uint32_t sum;
  uint32_t amount;
  int32_t channels, step;
  const uint8_t* mix8;  // 8-bit: [channel][k][v] = the mix of v with the colour at weight k
  int32_t colour16[3];  // 16-bit: the colour pixel
};

// The blurred mask of output row y: the column blur of columns c0 .. c1 into `column` (acc holds
// the sums), then the row blur of x = left .. right - 1 into m[x - left], reading `column`
// through `padded`, the row with its edge values repeated half positions beyond each end.
void BlurredMaskRow(const DiffuseGeometry& g, int32_t y, uint32_t* acc, uint8_t* column,
                    uint8_t* padded, uint8_t* m) {
  const int32_t span = g.c1 - g.c0 + 1, across = g.right - g.left, half = g.half;
  const auto row = [&](int32_t r) { return g.mask + int64_t{r - g.maskTop} * g.width + g.c0; };
  const uint8_t* mid = row(y);
  for (int32_t c = 0; c < span; ++c) acc[c] = uint32_t{g.w[half]} * mid[c];
  for (int32_t i = 0; i < half; ++i) {
    const uint32_t w = g.w[i];
    if (w == 0) continue;
    const uint8_t* a = row(std::max(y - half + i, 0));
    const uint8_t* b = row(std::min(y + half - i, g.height - 1));
    for (int32_t c = 0; c < span; ++c) acc[c] += w * (uint32_t{a[c]} + b[c]);
  }
  for (int32_t c = 0; c < span; ++c)
    column[c] = static_cast<uint8_t>(std::min(acc[c] / g.sum, 255u));

  const int64_t first = int64_t{g.left} - half, last = g.width - 1;
  for (int32_t j = 0; j < across + 2 * half; ++j)
    padded[j] = column[std::clamp<int64_t>(first + j, 0, last) - g.c0];
  for (int32_t k = 0; k < across; ++k) acc[k] = uint32_t{g.w[half]} * padded[k + half];
  for (int32_t i = 0; i < half; ++i) {
    const uint32_t w = g.w[i];
    if (w == 0) continue;
    const uint8_t* a = padded + i;
    const uint8_t* b = padded + 2 * half - i;
    for (int32_t k = 0; k < across; ++k) acc[k] += w * (uint32_t{a[k]} + b[k]);
  }
  for (int32_t k = 0; k < across; ++k) m[k] = static_cast<uint8_t>(std::min(acc[k] / g.sum, 255u));
}

// One output row: every pixel of the rectangle mixed with the colour at weight k.
template <class T>
void DiffuseRow(const DiffuseGeometry& g, const int16_t* grain, const uint8_t* m, T* out) {
  for (int32_t x = g.left; x < g.right; ++x) {
    int32_t k = 255 - static_cast<int32_t>(g.amount * m[x - g.left] / 1000);
    k -= grain[x - g.left];
    const int32_t kk = std::clamp(k, 0, 255);
    T* p = out + int64_t{x} * g.step;
    for (int32_t c = 0; c < g.channels; ++c) {
      if constexpr (sizeof(T) == 1) {
        p[c] = g.mix8[(size_t(c) * 256 + kk) * 256 + p[c]];
      } else {
        const int32_t v = ((255 - kk) * p[c]) / 255 + (kk * g.colour16[c]) / 255;
        p[c] = static_cast<T>(std::clamp(v, 0, 65535));
      }
    }
  }
}

int32_t DiffuseGlowDriver(BitmapRecord* bitmap, int32_t threshold, uint32_t amount, uint32_t radius,
                          uint32_t grain, uint32_t color) {
  RECT rect;
  HostGetRegionBounds(bitmap, nullptr, &rect);
  const int32_t width = bitmap->Width, height = bitmap->Height;
  BlurKernel kernel;
  if (!kernel.Make(radius)) return ERROR_NO_MEMORY;
  const int32_t half = kernel.half;

  // Threshold table: levels on the glowing side become 0, the others 255.
  uint8_t table[256];
  const int32_t t = threshold * 255 / 1000;
  for (int32_t i = 0; i < 256; ++i) table[i] = t < 1 ? (i < -t ? 0 : 255) : (i < 255 - t ? 255 : 0);

  // The mask: the gray copy's rows the column blur of the rectangle's rows reads.
  DiffuseGeometry g{};
  g.maskTop = std::max(rect.top - half, 0);
  const int32_t maskBottom = std::min(int64_t{rect.bottom} + half, int64_t{height});
  HostBlock<uint8_t> mask;
  {
    ScratchBitmap copy;
    int32_t rc;
    {
      CallbackPause pause;
      rc = HostCopyBitmap(&copy.record, bitmap, BITMAP_STRUCT_SIZE);
      if (rc == SUCCESS) rc = HostGrayscaleBitmap(&copy.record, 8);
    }
    if (rc != SUCCESS) return rc;
    AccessOwner access;
    rc = access.Open(&copy.record, 130);
    if (rc != SUCCESS) return rc;
    const int64_t maskBytes = int64_t{maskBottom - g.maskTop} * width;
    if (maskBytes > UINT32_MAX || !mask.Allocate(static_cast<uint32_t>(maskBytes)))
      return ERROR_NO_MEMORY;
    // The gray rows are read straight into the mask a band at a time, then thresholded in place.
    uint8_t* band[kBandRows];
    for (int32_t y0 = g.maskTop; y0 < maskBottom; y0 += kBandRows) {
      const int32_t count = std::min(kBandRows, maskBottom - y0);
      for (int32_t k = 0; k < count; ++k)
        band[k] = mask.get() + int64_t{y0 + k - g.maskTop} * width;
      rc = HostReadRows(access, band, y0, count);
      if (rc != SUCCESS) return rc;
      ParallelFor(count, width, [&](int32_t k) {
        for (int32_t x = 0; x < width; ++x) band[k][x] = table[band[k][x]];
      });
    }
  }

  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t step = access.PixelStep(), bits = access.SampleBits();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  g.mask = mask.get();
  g.width = width;
  g.height = height;
  g.left = rect.left;
  g.right = rect.right;
  g.c0 = std::max(rect.left - half, 0);
  g.c1 = static_cast<int32_t>(std::min(int64_t{rect.right} - 1 + half, int64_t{width} - 1));
  g.w = kernel.w.get();
  g.half = half;
  g.sum = kernel.sum;
  g.amount = amount;
  g.step = step;
  g.channels = std::min(step, 3);

  // The colour as one working pixel, and for 8-bit samples every mix of a value with it.
  uint8_t pixel[8] = {};
  HostColorToPixel(pixel, color, bits, step);
  HostBlock<uint8_t> mix8;
  if (bits == 16) {
    for (int32_t c = 0; c < g.channels; ++c) {
      uint16_t v;
      std::memcpy(&v, pixel + 2 * c, 2);
      g.colour16[c] = v;
    }
  } else {
    if (!mix8.Allocate(static_cast<uint32_t>(g.channels) * 256 * 256)) return ERROR_NO_MEMORY;
    for (int32_t c = 0; c < g.channels; ++c)
      for (int32_t k = 0; k < 256; ++k)
        for (int32_t v = 0; v < 256; ++v)
          mix8[(size_t(c) * 256 + k) * 256 + v] =
              static_cast<uint8_t>(std::min(((255 - k) * v) / 255 + (k * pixel[c]) / 255, 255));
    g.mix8 = mix8.get();
  }

  // Per output row: the grain of the band's rows, drawn ahead on the calling thread.
  const int32_t across = rect.right - rect.left;
  const int32_t gain = static_cast<int32_t>((grain * 255 + 500) / 1000);
  const size_t span = size_t(std::max(g.c1 - g.c0 + 1, 0));
  const size_t rowSpan = size_t(std::max(across, 0));
  // Scratch: the row's grain (rounded to keep the sums aligned), the sums, the blurred column,
  // the padded row and the blurred mask row.
  const size_t noiseBytes = (rowSpan * sizeof(int16_t) + 7) / 8 * 8;
  const size_t scratchBytes =
      noiseBytes + span * sizeof(uint32_t) + span + (rowSpan + 2 * half) + rowSpan;
  BandPass pass;
  RowSlots slots;
  if (!pass.Allocate(rowBytes) || !slots.Allocate(rowBytes, scratchBytes)) return ERROR_NO_MEMORY;
  rc = BeginWritePhaseEx(access, bitmap, 51, 100);
  if (rc != SUCCESS) return rc;

  return WithSampleType(bits, [&](auto sample) -> int32_t {
    using T = decltype(sample);
    const uint32_t first = fxrt::RandState();  // the first row's first draw steps from here
    const uint64_t draws = rowSpan;            // per row
    rc = pass.Run(
        access, slots, rect.top, rect.bottom, across,
        [&](int32_t, int32_t y1) {
          fxrt::srand(fxrt::RandAdvance(first, draws * uint64_t(y1 - rect.top)));
          return SUCCESS;
        },
        [&](int32_t y, const uint8_t*, uint8_t* out, uint8_t* scratch) {
          if (across <= 0) return;
          auto* rowNoise = reinterpret_cast<int16_t*>(scratch);
          uint32_t state = fxrt::RandAdvance(first, draws * uint64_t(y - rect.top));
          for (int32_t k = 0; k < across; ++k)
            rowNoise[k] = static_cast<int16_t>(fxrt::RandFrom(state) % (2 * gain + 1) - gain);
          auto* acc = reinterpret_cast<uint32_t*>(scratch + noiseBytes);
          uint8_t* column = reinterpret_cast<uint8_t*>(acc + span);
          uint8_t* padded = column + span;
          uint8_t* m = padded + rowSpan + 2 * half;
          BlurredMaskRow(g, y, acc, column, padded, m);
          DiffuseRow(g, rowNoise, m, reinterpret_cast<T*>(out));
        });
    if (rc == SUCCESS) HostFinishUpdate(bitmap);
    return rc;
  });
}

const FxParamDesc kDiffuseGlowParams[] = {
    IntParam("threshold", 150, -1000, 1000,
             "which parts glow, in thousandths of 255: positive, the gray levels from 255 less "
             "that much up; negative, the levels below that much; 0 none"),
    UIntParam("amount", 850, 0, 1000,
              "thousandths of the image kept away from the glow; 0 paints the colour everywhere"),
    UIntParam("radius", 300, 0, 1000, "spread of the glow: 0 blurs with sigma 4.2, 1000 with 20.8"),
    UIntParam("grain", 40, 0, 1000, "random grain, thousandths of 255"),
    ColorParam("color", 0xFFFFFF, "glow colour"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kDiffuseGlowPresets[] = {
    {"dreamy", "threshold=250 amount=800 radius=700 grain=20 color=#FFF0DC"},
    {"film", "threshold=120 amount=900 radius=150 grain=150"},
    {"night", "threshold=-250 amount=850 radius=500 grain=40 color=#283C78"},
};

}  // namespace

extern const FxEffectDesc kDiffuseGlowEffect = {
    "diffuse-glow",
    "Fx_DiffuseGlowBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Makes the light parts of the image glow softly in a colour, with film grain",
    kDiffuseGlowParams,
    CountOf(kDiffuseGlowParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_DiffuseGlowBitmap(b, ArgI32(v[0]), ArgU32(v[1]), ArgU32(v[2]), ArgU32(v[3]),
                                  ArgU32(v[4]), ArgU32(v[5]));
    },
    kDiffuseGlowPresets,
    CountOf(kDiffuseGlowPresets),
    FX_TRAIT_TONES_ONLY | FX_TRAIT_RANDOM,
};

}  // namespace fx

int32_t Fx_DiffuseGlowBitmap(BitmapRecord* bitmap, int32_t threshold, uint32_t amount,
                             uint32_t radius, uint32_t grain, uint32_t color, uint32_t flags) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (const int32_t rc = fx::CheckRecordLayout(bitmap); rc != SUCCESS) return rc;
  if (flags != 0) return ERROR_INV_PARAMETER;
  if (bitmap->Flags & FLAG_UNSUPPORTED) return ERROR_UNSUPPORTED_FLAG;
  if (threshold < -1000 || threshold > 1000 || amount > 1000 || radius > 1000 || grain > 1000)
    return ERROR_INV_PARAMETER;
  fx::OrientationGuard orientation(bitmap);
  return fx::DiffuseGlowDriver(bitmap, threshold, amount, radius, grain, color);
}
