// Arrays as bitmaps: which bitmap format holds an array's samples, an owner for the bitmaps the
// binding makes, and row copies between arrays and bitmaps. Free of Python so it can run with
// the interpreter released.
#pragma once

#include <cstdint>

#include "fxkit/fxkit.h"

namespace fxpy {

// H x W: gray (Order 2) at 8 or 16 bits per pixel; H x W x 3: colour, 24 or 48; H x W x 4:
// colour plus a fourth sample the effects keep, 32 or 64. Colour is red first (ORDER_RGB),
// the order image libraries and the command line use.
struct PixelLayout {
  int32_t channels = 0;     // 1, 3 or 4
  int32_t sampleBytes = 0;  // 1 or 2
  int32_t bitsPerPixel = 0;
  uint32_t order = 0;
  int64_t RowBytes(int64_t width) const { return width * channels * sampleBytes; }
};

// The layout of `channels` samples of `sampleBytes` each; false when the bitmap has none.
bool LayoutFor(int32_t channels, int32_t sampleBytes, PixelLayout& layout);

// Packed rows `rowBytes` apart can serve as a bitmap's storage when the stride meets the host's
// rule (a multiple of 4 bytes); otherwise the binding copies into a bitmap of its own.
bool CanWrapRows(int64_t rowBytes);

// A bitmap the binding made: host storage or an array's rows. Freed (region included) on
// destruction; the array's rows are never freed by the host.
class HostBitmap {
 public:
  HostBitmap() = default;
  ~HostBitmap() { HostFreeBitmap(&record_); }
  HostBitmap(const HostBitmap&) = delete;
  HostBitmap& operator=(const HostBitmap&) = delete;

  int32_t Create(int32_t width, int32_t height, const PixelLayout& layout);
  int32_t Wrap(uint8_t* rows, int32_t width, int32_t height, const PixelLayout& layout,
               int64_t rowBytes);
  BitmapRecord* get() { return &record_; }
  const BitmapRecord* get() const { return &record_; }

 private:
  BitmapRecord record_{};
};

// Copies packed rows (rowBytes apart, rowBytes each) into the bitmap's stored rows, and back.
void CopyRowsIn(const uint8_t* rows, int64_t rowBytes, BitmapRecord& bitmap);
void CopyRowsOut(const BitmapRecord& bitmap, uint8_t* rows, int64_t rowBytes);

}  // namespace fxpy
