// Canvas: prints the image onto a texture such as canvas or paper. A texture bitmap is stretched
// over the rectangle to process (resized by the host's filter) or tiled across it, each row of
// tiles optionally shifted sideways against the one above, and every sample is combined with its
// texture sample through a contrast curve: p' = ((k·(p − t)) >> 8) + L[t], k = imageVisibility ×
// 255 / 100, L[t] = t + (t − n/2) × textureContrast × imageVisibility / 10000. The effect works in
// the bitmap's own orientation; the texture is prepared on the calling thread and the rows are
// combined in parallel.
//
// Open points and extreme inputs:
// - The texture is read in the bitmap's sample depth (16-bit samples shifted right by 8 on 8-bit
//   bitmaps, 8-bit samples shifted left by 8 on 16-bit ones) and as one gray sample per pixel when
//   either bitmap is gray (colour becomes the host's gray mix, HostGrayRow, of the shifted
//   samples, as the host's conversions shift before they mix); a gray texture lends its one
//   sample to all three colour samples. A colour pixel's fourth sample is kept.
// - A null texture is ERROR_NO_BITMAP; a texture the host cannot copy answers the host's code.
// - Offsets of any size wrap around the texture (offsets below 1 count from the right and the
//   bottom, as many times as needed), so no row or column outside the texture is ever read; the
//   shift of a row of tiles, (xOffset + j × rowShift) mod width, is formed in 64 bits.
// - Writes go through the bitmap's region: pixels outside a region mask keep their values.
#include <algorithm>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr uint32_t kTile = 0x10;

struct CanvasArgs {
  BitmapRecord* texture;
  uint32_t imageVisibility, textureContrast;
  int32_t xOffset, yOffset, rowShift;
  uint32_t flags;
};

// A copy of the texture's rectangle, released on destruction.
class TextureCopy {
 public:
  ~TextureCopy() {
    if (made_) HostFreeBitmap(&record_);
  }
  int32_t Make(BitmapRecord* texture) {
    RECT r;
    HostGetProcessRect(texture, 0, &r);
    const int32_t rc = HostCopyBitmapRect(&record_, texture, BITMAP_STRUCT_SIZE, r.left, r.top,
                                          r.right - r.left, r.bottom - r.top);
    made_ = rc == SUCCESS;
    return rc;
  }
  BitmapRecord* get() { return &record_; }

 private:
  BitmapRecord record_{};
  bool made_ = false;
};

// floor-mod for a positive modulus.
int64_t Wrap(int64_t v, int64_t m) {
  const int64_t r = v % m;
  return r < 0 ? r + m : r;
}

// The texture rows in the bitmap's sample type T, `step` (1 or 3) samples per pixel: the samples
// shifted to T's depth, then, for one sample per pixel, the host's gray mix (a gray texture is its
// own level).
template <class T>
int32_t ReadTexture(RowAccess* access, int32_t height, int32_t width, int32_t step,
                    HostBlock<T>& texels, uint8_t* row) {
  const int32_t bits = HostSampleBits(access), from = HostPixelStep(access);
  const int64_t count = int64_t{width} * height * step;
  HostBlock<T> shifted;
  if (count > UINT32_MAX || !texels.Allocate(static_cast<uint32_t>(count)) ||
      !shifted.Allocate(static_cast<uint32_t>(int64_t{width} * from)))
    return ERROR_NO_MEMORY;
  T* c = shifted.get();
  for (int32_t y = 0; y < height; ++y) {
    const int32_t rc = HostReadRow(access, row, y, 0, nullptr);
    if (rc != SUCCESS) return rc;
    for (int64_t i = 0; i < int64_t{width} * from; ++i) {
      const uint32_t v = bits == 16 ? reinterpret_cast<const uint16_t*>(row)[i] : row[i];
      c[i] = static_cast<T>(sizeof(T) == 1 && bits == 16  ? v >> 8
                            : sizeof(T) == 2 && bits == 8 ? v << 8
                                                          : v);
    }
    T* out = texels.get() + int64_t{y} * width * step;
    if (step == 1) {
      HostGrayRow(c, sizeof(T) * 8, from, width, out);
    } else {
      for (int32_t x = 0; x < width; ++x)
        for (int32_t k = 0; k < 3; ++k) out[x * 3 + k] = c[int64_t{x} * from + k];
    }
  }
  return SUCCESS;
}

// One row: image pixel i of the rectangle takes texture pixel (i + wt - o) mod wt.
template <class T>
void CanvasRow(T* out, const T* texture, int32_t left, int32_t width, int32_t step, int32_t wt,
               int32_t textureStep, int32_t o, int32_t k, const int32_t* curve) {
  constexpr int32_t kMax = SampleTraits<T>::kMax;
  const int32_t samples = IsColorPixel(step) ? 3 : 1;
  T* p = out + int64_t{left} * step;
  int32_t tx = wt - o;
  for (int32_t i = 0; i < width; ++i, p += step) {
    const T* t = texture + int64_t{tx} * textureStep;
    for (int32_t s = 0; s < samples; ++s) {
      const int32_t tv = t[textureStep == 1 ? 0 : s];
      const int32_t v = ((k * (int32_t{p[s]} - tv)) >> 8) + curve[tv];
      p[s] = static_cast<T>(std::clamp(v, 0, kMax));
    }
    if (++tx == wt) tx = 0;
  }
}

int32_t CanvasDriver(BitmapRecord* bitmap, const CanvasArgs& args) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t step = access.PixelStep(), bits = access.SampleBits();
  TextureCopy copy;
  rc = copy.Make(args.texture);
  if (rc != SUCCESS) return rc;
  RECT rect;
  HostGetProcessRect(bitmap, 0, &rect);
  const int32_t wb = rect.right - rect.left, hb = rect.bottom - rect.top;
  if (!(args.flags & kTile)) {
    CallbackPause pause;
    rc = HostResizeBitmap(copy.get(), wb, hb, static_cast<int32_t>(args.flags & 15));
    if (rc != SUCCESS) return rc;
  }
  const bool gray = !IsColorPixel(step) || HostIsGrayscale(copy.get());
  const int32_t textureStep = gray ? 1 : 3;
  AccessOwner textureAccess;
  rc = textureAccess.Open(copy.get(), 2);
  if (rc != SUCCESS) return rc;
  HostBlock<uint8_t> textureRow;
  if (!textureAccess.AllocRowBuffer(textureRow)) return ERROR_NO_MEMORY;

  // The contrast curve, n entries.
  const int32_t n = bits == 16 ? 65536 : 256;
  HostBlock<int32_t> curve;
  if (!curve.Allocate(static_cast<uint32_t>(n))) return ERROR_NO_MEMORY;
  const auto contrast = static_cast<int32_t>(args.textureContrast);
  const auto visibility = static_cast<int32_t>(args.imageVisibility);
  for (int32_t i = 0; i < n; ++i) curve[i] = i + (i - n / 2) * contrast * visibility / 10000;
  const int32_t k = visibility * 255 / 100;

  RECT tr;
  HostGetProcessRect(copy.get(), 0, &tr);
  const int32_t wt = tr.right - tr.left, ht = std::abs(tr.bottom - tr.top);
  if (args.xOffset > wt || args.yOffset > ht) return ERROR_INV_PARAMETER;
  // Offsets of 1 .. size: below 1 they count from the right or the bottom, wrapped.
  const int64_t yOffset = Wrap(int64_t{args.yOffset} - 1, ht) + 1;
  const int64_t xOffset = args.xOffset;
  int64_t j = 0, shift = 0;
  if (args.flags & kTile) {
    j = hb / ht;
    if ((j + yOffset) * ht < hb) ++j;
    shift = args.rowShift;
  }

  rc = BeginWritePhaseEx(access, bitmap, 0, 100);
  if (rc != SUCCESS) return rc;
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  RowWindow source;
  RowSlots slots;
  rc = source.AllocateRowByRow(rowBytes, slots);
  if (rc != SUCCESS) return rc;
  rc = WithSampleType(bits, [&](auto sample) {
    using T = decltype(sample);
    HostBlock<T> texels;
    int32_t rc = ReadTexture<T>(textureAccess, ht, wt, textureStep, texels, textureRow.get());
    if (rc != SUCCESS) return rc;
    return source.RunInPlace(
        access, slots, rect.top, rect.bottom, bitmap->Height, wb,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          // Row y is the (y - top + 1)-th step of the counter that starts at ht - yOffset - 1.
          const int64_t u = ht - yOffset + (y - rect.top);
          const int64_t c = u % ht, tileRow = j - u / ht;
          const int64_t x0 = (xOffset + tileRow * shift) % wt;  // the remainder's sign as C's
          const auto o = static_cast<int32_t>(x0 < 1 ? wt + x0 : x0);
          CanvasRow<T>(reinterpret_cast<T*>(out), texels.get() + c * wt * textureStep, rect.left,
                       wb, step, wt, textureStep, o, k, curve.get());
        },
        NoHostCall(), WriteRow(access));
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

const FxFlagValue kModes[] = {
    {"stretch", 0x00, "the texture stretched over the rectangle"},
    {"tile", 0x10, "the texture repeated across the rectangle"},
};
const FxFlagField kFlagFields[] = {
    FlagField("mode", 0xF0, kModes, "how the texture covers the rectangle"),
};

const FxParamDesc kCanvasParams[] = {
    BitmapParam("texture", FX_DEFAULT_TEXTURE, "the texture: canvas, paper, any picture"),
    UIntParam("imageVisibility", 70, 0, 100, "how much of the image's own detail stays, percent"),
    UIntParam("textureContrast", 100, 0, 200, "contrast of the texture, percent"),
    IntParam("xOffset", 0, kAnyInt32Min, kAnyInt32Max,
             "horizontal offset into the texture, at most its width; below 1 counts from the "
             "right"),
    IntParam("yOffset", 0, kAnyInt32Min, kAnyInt32Max,
             "vertical offset into the texture, at most its height; below 1 counts from the "
             "bottom"),
    IntParam("rowShift", 0, kAnyInt32Min, kAnyInt32Max,
             "tiling: pixels each row of tiles is shifted against the one below"),
    FlagsParam("flags", 0x10, 0, 0xFFFFFF14,
               "0x10 tiles the texture, else it is stretched; bits 0-3: the resize method, 0, 2 "
               "or 4",
               kFlagFields),
};

const FxPreset kCanvasPresets[] = {
    {"linen", "imageVisibility=75 textureContrast=140 mode=tile"},
    {"stretched-paper", "imageVisibility=85 textureContrast=60 mode=stretch"},
    {"brick-bond", "imageVisibility=60 textureContrast=120 rowShift=64 mode=tile"},
};

}  // namespace

extern const FxEffectDesc kCanvasEffect = {
    "canvas",
    "Fx_CanvasBitmap",
    FX_FAMILY_ARTISTIC,
    "Prints the image on a texture such as canvas or paper, stretched or tiled",
    kCanvasParams,
    CountOf(kCanvasParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_CanvasBitmap(b, ArgPtr<BitmapRecord>(v[0]), ArgU32(v[1]), ArgU32(v[2]),
                             ArgI32(v[3]), ArgI32(v[4]), ArgI32(v[5]), ArgU32(v[6]));
    },
    kCanvasPresets,
    CountOf(kCanvasPresets),
    FX_TRAIT_TONES_ONLY,
};

}  // namespace fx

int32_t Fx_CanvasBitmap(BitmapRecord* bitmap, BitmapRecord* texture, uint32_t imageVisibility,
                        uint32_t textureContrast, int32_t xOffset, int32_t yOffset,
                        int32_t rowShift, uint32_t flags) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (bitmap->Order == ORDER_GRAY && bitmap->BitsPerPixel == 32) return ERROR_UNSUPPORTED_ORDER;
  const uint32_t method = flags & 0x0F;
  if (imageVisibility > 100 || textureContrast > 200 || (flags & 0xF0) > fx::kTile || method == 1 ||
      method == 3 || method >= 5)
    return ERROR_INV_PARAMETER;
  if (!texture) return ERROR_NO_BITMAP;
  return fx::CanvasDriver(bitmap, fx::CanvasArgs{texture, imageVisibility, textureContrast, xOffset,
                                                 yOffset, rowShift, flags});
}
