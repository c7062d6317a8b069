// Colours the drawing effects (star, bricks) paint, in the working format's sample scale, and the
// rounding of a blended value back to a sample.
#pragma once

#include <cstdint>

#include "frame/Frame.h"

namespace fx {

// A COLORREF as working samples: blue, green, red in s[0..2] for colour pixels (each 8-bit
// component times 257 on 16-bit rows, so 255 becomes 65535); for gray pixels s[0] (and s[1],
// s[2]) is the level (blue + 5·green + 2·red + 4) / 8 of the 8-bit components, likewise scaled.
struct PaintColor {
  double s[3];
};

inline PaintColor PreparePaint(uint32_t colour, int32_t sampleBits, int32_t pixelStep) {
  const uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  const double scale = sampleBits == 16 ? 257.0 : 1.0;
  if (!IsColorPixel(pixelStep)) {
    const double level = ((b + 5 * g + 2 * r + 4) / 8) * scale;
    return PaintColor{{level, level, level}};
  }
  return PaintColor{{b * scale, g * scale, r * scale}};
}

// A blended value as a sample: limited to 0 .. max and rounded half up.
template <class T>
inline T RoundSample(double v) {
  constexpr double kMax = SampleTraits<T>::kMax;
  if (!(v > 0)) return 0;  // NaN too
  if (v >= kMax) return static_cast<T>(SampleTraits<T>::kMax);
  return static_cast<T>(static_cast<int32_t>(v + 0.5));
}

}  // namespace fx
