// Reference pieces for checking the inverse-mapping effects pixel by pixel: a snapshot of the
// working rows and a plain re-derivation of the bilinear sample on a table of rows.
#pragma once

#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "TestSupport.h"

namespace fxtest {

struct Snapshot {
  std::vector<uint8_t> rows;
  int32_t rowBytes = 0, bits = 8, step = 1, width = 0, height = 0;

  static Snapshot Of(BitmapRecord* bitmap) {
    Snapshot s;
    RowAccess* a = nullptr;
    EXPECT_EQ(HostOpenRowAccess(bitmap, &a, 2), SUCCESS);
    s.rowBytes = HostRowBytes(a);
    s.bits = HostSampleBits(a);
    s.step = HostPixelStep(a);
    HostCloseRowAccess(a);
    s.width = bitmap->Width;
    s.height = bitmap->Height;
    s.rows = WorkingRows(bitmap);
    return s;
  }
  uint32_t at(int32_t x, int32_t y, int32_t k) const {
    return SampleAt(rows, rowBytes, bits, step, x, y, k);
  }
  int32_t max() const { return bits == 16 ? 65535 : 255; }
};

// Sample k at (x, y), where y indexes a table of rowCount rows and tableRow maps a table index
// to the bitmap row it holds. Truncation, edge clamping and the order of the sums as the
// sampler is defined.
inline int32_t ReferenceBilinear(const Snapshot& s, const std::function<int32_t(int32_t)>& tableRow,
                                 int32_t rowCount, double x, double y, int32_t k) {
  int32_t ix = static_cast<int32_t>(x), iy = static_cast<int32_t>(y);
  const double fx = x - ix, fy = y - iy;
  int32_t ix1 = ix + 1, iy1 = iy + 1;
  if (iy1 <= 0)
    iy = iy1 = 0;
  else if (iy1 >= rowCount)
    iy = iy1 = rowCount - 1;
  if (ix1 >= s.width)
    ix = ix1 = s.width - 1;
  else if (ix1 <= 0)
    ix = ix1 = 0;
  const int32_t p00 = s.at(ix, tableRow(iy), k), p01 = s.at(ix1, tableRow(iy), k);
  const int32_t p10 = s.at(ix, tableRow(iy1), k), p11 = s.at(ix1, tableRow(iy1), k);
  const double v =
      ((p00 + (p01 - p00) * fx) + (p10 - p00) * fy) + ((p00 + p11 - p01 - p10) * fx) * fy;
  const int64_t t = static_cast<int64_t>(v);
  return static_cast<int32_t>(t < 0 ? 0 : (t > s.max() ? s.max() : t));
}

// A COLORREF as the distortions prepare it: deep depths scale by 256, bit 26 gives a 16-bit
// gray level directly on 12/16-bit gray, gray bitmaps mix (b + 5g + 2r) / 8. {b, g, r}.
inline std::vector<uint32_t> ReferenceFill(BitmapRecord* bitmap, uint32_t c) {
  uint32_t r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255;
  const int32_t bpp = bitmap->BitsPerPixel;
  const bool gray = bitmap->Order == ORDER_GRAY;
  if (bpp == 12 || bpp == 16 || bpp == 48 || bpp == 64) {
    r *= 256, g *= 256, b *= 256;
    if (gray && bpp <= 16 && (c & (1u << 26))) r = g = b = c & 0xFFFF;
  }
  if (gray) r = g = b = (b + 5 * g + 2 * r) / 8;
  return {b, g, r};
}

}  // namespace fxtest
