// Colour preparation of the fill colour.
#include "frame/FillColor.h"

namespace fx {

PreparedColor PrepareFillColor(const BitmapRecord* bitmap, COLORREF colour) {
  uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  const int32_t bpp = bitmap->BitsPerPixel;
  const bool deep = bpp == 12 || bpp == 16 || bpp == 48 || bpp == 64;
  const bool gray = HostIsGrayscale(bitmap) != 0;
  if (deep) {
    r <<= 8;
    g <<= 8;
    b <<= 8;
    if ((bpp == 12 || bpp == 16) && gray && (colour & 0x04000000u)) r = g = b = colour & 0xFFFF;
  }
  if (gray) r = g = b = (b + 5 * g + 2 * r) / 8;
  return PreparedColor{r, g, b};
}

}  // namespace fx
