// Swirl's geometry and row function, shared with its tests.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fxkit/types.h"

namespace fx {

struct SwirlGeometry {
  RECT rect;
  int32_t cx, cy;
  int64_t a2, b2;    // squared half-axes of the ellipse
  int32_t rows;      // H, the cache height
  double turn;       // angle / 180.0
  double rimSpread;  // EllipseRimSpread(a², b²), the short path's rim part
};

SwirlGeometry MakeSwirlGeometry(const RECT& rect, int32_t angle, POINT center);

// Scratch bytes one call of SwirlRow needs.
size_t SwirlScratchBytes(const RECT& rect);

// Output row y from the cached rows (index 0 is rect.top): every pixel the twist moves gets its
// sample; the others are left as they are. A pixel whose samples the short path below decides
// takes them from it, the others take the literal arithmetic; with `literalOnly` every pixel
// does. Returns the number of pixels that took the literal arithmetic.
template <class T>
int32_t SwirlRow(const SwirlGeometry& g, T* const* cache, int32_t y, int32_t pixelStep,
                 int32_t width, T* out, uint8_t* scratch, bool literalOnly = false);

extern template int32_t SwirlRow<uint8_t>(const SwirlGeometry&, uint8_t* const*, int32_t, int32_t,
                                          int32_t, uint8_t*, uint8_t*, bool);
extern template int32_t SwirlRow<uint16_t>(const SwirlGeometry&, uint16_t* const*, int32_t, int32_t,
                                           int32_t, uint16_t*, uint8_t*, bool);

}  // namespace fx
