// Perlin noise: the cloud texture with the noise level modulated before it is mapped to the two
// colours: concentric rings around a centre, diagonal waves, a contrast curve, or nothing; the
// colour then replaces the pixels or is averaged or differenced with them at a given opacity.
//
// Extreme inputs: see Common/Noise.cpp (ring distances and the wave product in 64 bits).
#include "Common/NoiseEffects.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr FxFlagValue kPatternValues[] = {
    {"rings", 0x00, "rings around centerX, centerY"},
    {"waves", 0x10, "diagonal waves"},
    {"contrast", 0x20, "the noise through a contrast curve"},
    {"plain", 0x30, "the noise as it is"},
};
constexpr FxFlagValue kBlendValues[] = {
    {"replace", 0x0, "the texture replaces the pixels"},
    {"average", 0x1, "the average of texture and pixels, at the opacity"},
    {"difference", 0x2, "the difference of texture and pixels, at the opacity"},
};
constexpr FxFlagField kPerlinFlagFields[] = {
    FlagField("pattern", 0xF0, kPatternValues, "how the noise level is shaped"),
    FlagField("blend", 0x0F, kBlendValues, "how the texture combines with the image"),
};

const FxParamDesc kPerlinParams[] = {
    kNoiseSeedParam,
    kNoiseFrequencyParam,
    kNoiseOctavesParam,
    kNoiseOpacityParam,
    kNoiseBackParam,
    kNoiseForeParam,
    SizeParam("centerX", FX_DEFAULT_WIDTH_PERCENT, 50, kAnyInt32Min, kAnyInt32Max,
              "ring centre, columns from the rectangle's left"),
    SizeParam("centerY", FX_DEFAULT_HEIGHT_PERCENT, 50, kAnyInt32Min, kAnyInt32Max,
              "ring centre, rows from the rectangle's top"),
    IntParam("waveFrequency", 8, kAnyInt32Min, kAnyInt32Max,
             "rings and waves: radians per pixel in hundredths"),
    UIntParam("amount", 2, 0, 100,
              "gain of rings and waves, or the contrast curve's offset, percent"),
    FlagsParam("flags", 0x00, 0, 0x33,
               "bits 4-7 mode: 0x00 rings, 0x10 waves, 0x20 contrast, 0x30 plain; bits 0-3 "
               "blend: 0 replace, 1 average, 2 difference",
               kPerlinFlagFields),
};

const FxPreset kPerlinPresets[] = {
    {"plain", "pattern=plain frequency=5 octaves=7 blend=average opacity=60"},
    {"waves",
     "pattern=waves waveFrequency=15 amount=3 foreColor=#F0D080 backColor=#402010 "
     "blend=average opacity=70"},
    {"contrast", "pattern=contrast blend=difference amount=10 opacity=80"},
};

}  // namespace

extern const FxEffectDesc kPerlinEffect = {
    "perlin",
    "Fx_PerlinBitmap",
    FX_FAMILY_PROCEDURAL,
    "Paints seeded gradient noise as rings, waves or contrast between two colours",
    kPerlinParams,
    CountOf(kPerlinParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_PerlinBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]), ArgU32(v[3]),
                             ArgU32(v[4]), ArgU32(v[5]), ArgI32(v[6]), ArgI32(v[7]), ArgI32(v[8]),
                             ArgU32(v[9]), ArgU32(v[10]));
    },
    kPerlinPresets,
    CountOf(kPerlinPresets),
    FX_TRAIT_RANDOM | FX_TRAIT_TONES_ONLY,
};

}  // namespace fx

int32_t Fx_PerlinBitmap(BitmapRecord* bitmap, uint32_t seed, uint32_t frequency, uint32_t octaves,
                        uint32_t opacity, uint32_t backColor, uint32_t foreColor, int32_t centerX,
                        int32_t centerY, int32_t waveFrequency, uint32_t amount, uint32_t flags) {
  const int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  if (flags > 0x33 || frequency > 16 || octaves > 16 || opacity > 100 || amount > 100)
    return ERROR_INV_PARAMETER;
  fx::NoisePaint paint =
      fx::BaseNoisePaint(seed, frequency, octaves, opacity, backColor, foreColor);
  paint.centerX = centerX;
  paint.centerY = centerY;
  paint.waveFrequency = waveFrequency;
  paint.amount = amount;
  paint.modulation = static_cast<fx::NoiseModulation>(flags >> 4);  // rings, waves, contrast, none
  switch (flags & 0x0F) {
    case 0:
      paint.blend8 = paint.blend16 = fx::NoiseBlend::kReplace;
      break;
    case 1:
      paint.blend8 = paint.blend16 = fx::NoiseBlend::kAverage;
      break;
    case 2:
      paint.blend8 = paint.blend16 = fx::NoiseBlend::kDifference;
      break;
    default:  // 8-bit rows keep their samples; 16-bit rows average
      paint.blend8 = fx::NoiseBlend::kKeep;
      paint.blend16 = fx::NoiseBlend::kAverage;
      break;
  }
  fx::OrientationGuard orientation(bitmap);
  return fx::PaintNoise(bitmap, paint);
}
