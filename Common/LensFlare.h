// The lens flare's element tables, intensity profiles and blends, shared with its tests.
#pragma once

#include <cstdint>

namespace fx {

// One row of a flare type's table: kind 1-9, size and rim as fractions of the drawing width
// (kinds 5-8 also scale their size with the brightness), the position t on the line from the
// light through the image centre (kinds 1-4), the colour at brightness 100 (kind 8 takes the
// caller's) and whether a ring (kinds 4, 9) skips its inner square.
struct FlareElement {
  uint32_t kind;
  double size, rim, t;
  uint32_t red, green, blue;
  bool square;
};

// The element table of flare type 0, 1 or 2, in drawing order; null for any other type.
const FlareElement* FlareTable(uint32_t type, uint32_t* count);

// The coverage `a` an element of `kind` (size s, rim w) gives a pixel at distance d from its
// centre; false where the profile does not reach the pixel (nothing is blended there).
bool FlareCoverage(uint32_t kind, double d, double s, double w, uint32_t brightness, double* a);

// Screen blends of sample p with colour component c at coverage a, clipped to the sample range:
// 8-bit p + (255 - p)·c·k / 255000 with k = trunc(1000a) in integers; 16-bit moves p by 257 times
// the 8-bit step of its level p / 257 with c / 257 (to 0 or 65535 where the 8-bit blend clips).
uint8_t FlareBlend8(uint32_t p, uint32_t c, double a);
uint16_t FlareBlend16(uint32_t p, uint32_t c, double a);

}  // namespace fx
