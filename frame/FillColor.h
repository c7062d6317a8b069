// The fill colour of the distortions: a COLORREF prepared for the bitmap's depth (16-bit
// scaling, bit 26 for a literal 16-bit gray level, gray mix) and written into working pixels.
#pragma once

#include <cstdint>

#include "frame/Frame.h"

namespace fx {

struct PreparedColor {
  uint32_t r, g, b;
};

// r, g, b from bits 0-7, 8-15, 16-23; shifted left by 8 for the deep depths (12, 16, 48, 64);
// for 12- and 16-bit gray with bit 26 set, all three are colour & 0xFFFF; for gray bitmaps all
// three become (b + 5g + 2r) / 8.
PreparedColor PrepareFillColor(const BitmapRecord* bitmap, COLORREF colour);

// Writes blue, green, red into the first three samples of a colour pixel, or the prepared b into
// a gray pixel. A fourth sample is left alone.
template <class T>
inline void WriteFill(T* pixel, int32_t pixelStep, const PreparedColor& c) {
  if (IsColorPixel(pixelStep)) {
    pixel[0] = static_cast<T>(c.b);
    pixel[1] = static_cast<T>(c.g);
    pixel[2] = static_cast<T>(c.r);
  } else {
    pixel[0] = static_cast<T>(c.b);
  }
}

}  // namespace fx
