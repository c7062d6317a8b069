// The command line's bitmaps: an owner for host bitmaps, the tool's one error type, and the
// conversion of any stored bitmap format to and from the sample layouts image files use.
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "fxkit/fxkit.h"
#include "tools/fxkit/Metadata.h"

namespace fxcli {

// A usage-level failure (bad value, unreadable or unwritable file). The message names the
// culprit; the command line prints it on one line and exits with status 2.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The user interrupted the run (Ctrl-C) while a file was read, the effect ran or a file was
// written. The command line prints "fxkit: interrupted" and exits with status 130.
class Interrupted : public std::runtime_error {
 public:
  Interrupted() : std::runtime_error("interrupted") {}
};

// Largest width or height, and pixel count, the tool accepts from a file or a card size.
inline constexpr int32_t kMaxImageSide = 65535;
inline constexpr int64_t kMaxImagePixels = int64_t{1} << 28;

// A host bitmap the tool owns; freed on destruction. The record never moves, so pointers to it
// can be passed to effects.
class Image {
 public:
  Image();
  ~Image();
  Image(const Image&) = delete;
  Image& operator=(const Image&) = delete;

  // Allocates zeroed storage (orientation 1). Throws UsageError("<what>: ...") on failure.
  void Create(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t order,
              const std::string& what);
  // An independent copy of `source` (pixels, palette, region) seen in orientation 1.
  void CopyFrom(BitmapRecord* source, const std::string& what);

  BitmapRecord* get() { return &record_; }
  const BitmapRecord* get() const { return &record_; }
  BitmapRecord* operator->() { return &record_; }
  const BitmapRecord* operator->() const { return &record_; }
  uint8_t* Row(int32_t y) { return record_.Data + int64_t{y} * record_.BytesPerLine; }

  // What the file said besides the pixels (empty for the card).
  ImageMeta meta;

 private:
  BitmapRecord record_;
};
using ImagePtr = std::unique_ptr<Image>;

// How the samples of a file row are laid out: 1 (gray), 3 (R, G, B) or 4 (R, G, B, A) channels
// of 8 or 16 bits (16-bit samples native-endian).
struct SampleLayout {
  int32_t channels;
  int32_t bits;
  bool operator==(const SampleLayout&) const = default;
};

// The layout that holds a bitmap's stored pixels without loss: gray 8/16 (12-bit gray widens to
// 16), RGB 8 (24 bpp and palette images), RGBA 8 (32), RGB 16 (48), RGBA 16 (64).
SampleLayout NaturalLayout(const BitmapRecord& bitmap);
// Bits per pixel and Order of the bitmap a file layout is loaded into.
int32_t BitsPerPixelFor(SampleLayout layout);
uint32_t OrderFor(SampleLayout layout);

// Stored row y (the orientation-1 layout, StoredWidth pixels) converted to `layout`: gray from
// colour by (b + 5g + 2r + 4) / 8, colour from gray by copying, 16 to 8 bits by rounding
// (v * 255 + 32767) / 65535, 8 to 16 by * 257, a missing alpha as opaque. With a `background`
// (0x00BBGGRR) and a layout without alpha, a pixel with alpha a is first laid over it:
// (c * a + bg * (max - a) + max / 2) / max at the bitmap's depth (bg * 257 for 16 bits); without
// one the alpha is dropped. `out` holds width * channels samples.
void ExportRow(const BitmapRecord& bitmap, int32_t y, SampleLayout layout, uint8_t* out,
               const COLORREF* background = nullptr);

// True when ExportRow copies stored rows as they are: already in the layout (red first, same
// depth and samples) with no alpha to flatten.
bool RowsExportAsStored(const BitmapRecord& bitmap, SampleLayout layout,
                        const COLORREF* background = nullptr);

// A bitmap in the natural format of `layout`: 8 bpp or 16 bpp gray (Order 2), or 24/32/48/64
// bpp colour in Order 1 (red first), so file rows copy straight into stored rows.
ImagePtr NewImageFor(int32_t width, int32_t height, SampleLayout layout, const std::string& what);

// One byte per stored pixel, row by row: 1 where any colour sample (alpha excluded) is non-zero.
std::vector<uint8_t> NonZeroMask(const BitmapRecord& bitmap);

}  // namespace fxcli
