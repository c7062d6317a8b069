// Arrays as bitmaps.
#include "Pixels.h"

#include <cstring>

namespace fxpy {

bool LayoutFor(int32_t channels, int32_t sampleBytes, PixelLayout& layout) {
  if ((channels != 1 && channels != 3 && channels != 4) || (sampleBytes != 1 && sampleBytes != 2))
    return false;
  layout.channels = channels;
  layout.sampleBytes = sampleBytes;
  layout.bitsPerPixel = channels * sampleBytes * 8;
  layout.order = channels == 1 ? ORDER_GRAY : ORDER_RGB;
  return true;
}

bool CanWrapRows(int64_t rowBytes) {
  return rowBytes > 0 && rowBytes % 4 == 0 && rowBytes <= INT32_MAX;
}

int32_t HostBitmap::Create(int32_t width, int32_t height, const PixelLayout& layout) {
  HostFreeBitmap(&record_);
  return HostCreateBitmap(&record_, sizeof(BitmapRecord), 1, width, height, layout.bitsPerPixel,
                          layout.order, nullptr, 1, nullptr, 0);
}

int32_t HostBitmap::Wrap(uint8_t* rows, int32_t width, int32_t height, const PixelLayout& layout,
                         int64_t rowBytes) {
  HostFreeBitmap(&record_);
  if (!CanWrapRows(rowBytes)) return ERROR_HOST_BAD_ARGUMENT;
  return HostCreateBitmap(&record_, sizeof(BitmapRecord), 1, width, height, layout.bitsPerPixel,
                          layout.order, nullptr, 1, rows, static_cast<int32_t>(rowBytes));
}

void CopyRowsIn(const uint8_t* rows, int64_t rowBytes, BitmapRecord& bitmap) {
  for (int32_t y = 0; y < bitmap.StoredHeight; ++y)
    std::memcpy(bitmap.Data + int64_t{y} * bitmap.BytesPerLine, rows + y * rowBytes,
                static_cast<size_t>(rowBytes));
}

void CopyRowsOut(const BitmapRecord& bitmap, uint8_t* rows, int64_t rowBytes) {
  for (int32_t y = 0; y < bitmap.StoredHeight; ++y)
    std::memcpy(rows + y * rowBytes, bitmap.Data + int64_t{y} * bitmap.BytesPerLine,
                static_cast<size_t>(rowBytes));
}

}  // namespace fxpy
