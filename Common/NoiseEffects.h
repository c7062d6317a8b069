// What clouds and Perlin noise share in front of the noise engine: the descriptors of their
// first six parameters (seed, frequency, octaves, opacity, back and fore colour, in export
// order) and the paint those parameters set up.
#pragma once

#include <cstdint>

#include "Common/Noise.h"
#include "frame/RegistryDefs.h"

namespace fx {

inline constexpr FxParamDesc kNoiseSeedParam = UIntParam(
    "seed", 1, 0, kAnyUInt32Max, "seed of the generator; the same seed, the same texture");
inline constexpr FxParamDesc kNoiseFrequencyParam =
    UIntParam("frequency", 4, 0, 16, "lattice cells across the longer side at the first octave");
inline constexpr FxParamDesc kNoiseOctavesParam =
    UIntParam("octaves", 6, 0, 16, "octaves summed, each of double frequency and half amplitude");
inline constexpr FxParamDesc kNoiseOpacityParam = UIntParam(
    "opacity", 100, 0, 100, "weight of the texture in the difference and average, percent");
inline constexpr FxParamDesc kNoiseBackParam =
    ColorParam("backColor", 0x000000, "colour where the noise is 0");
inline constexpr FxParamDesc kNoiseForeParam =
    ColorParam("foreColor", 0xFFFFFF, "colour where the noise is at its top");

// The paint of those parameters; the caller chooses the modulation and the blends.
inline NoisePaint BaseNoisePaint(uint32_t seed, uint32_t frequency, uint32_t octaves,
                                 uint32_t opacity, COLORREF backColor, COLORREF foreColor) {
  NoisePaint paint;
  paint.seed = seed, paint.frequency = frequency, paint.octaves = octaves;
  paint.opacity = opacity, paint.backColor = backColor, paint.foreColor = foreColor;
  return paint;
}

}  // namespace fx
