// Clouds: paints a soft cloud texture over the image, a blend between a back and a fore colour
// driven by gradient noise of several octaves, which replaces the pixels, or is combined with
// them as a difference or an average at a given opacity. The same seed gives the same clouds.
//
// Extreme inputs: see Common/Noise.cpp (lattice size, zero octaves).
#include "Common/NoiseEffects.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr FxFlagValue kBlendValues[] = {
    {"replace", 0, "the clouds replace the pixels"},
    {"difference", 1, "the difference of clouds and pixels, at the opacity"},
    {"average", 2, "the average of clouds and pixels, at the opacity"},
};
constexpr FxFlagField kCloudsFlagFields[] = {
    FlagField("blend", kWholeWord, kBlendValues, "how the clouds combine with the image"),
};

const FxParamDesc kCloudsParams[] = {
    kNoiseSeedParam,
    kNoiseFrequencyParam,
    kNoiseOctavesParam,
    kNoiseOpacityParam,
    kNoiseBackParam,
    kNoiseForeParam,
    FlagsParam("flags", 0, 0, 2, "0 replace the pixels, 1 difference, 2 average",
               kCloudsFlagFields),
};

const FxPreset kCloudsPresets[] = {
    {"sky", "frequency=3 octaves=8 backColor=#2060C0 foreColor=white"},
    {"difference", "seed=7 frequency=6 octaves=5 blend=difference opacity=60"},
    {"haze", "frequency=2 octaves=4 blend=average opacity=70 backColor=gray"},
};

}  // namespace

extern const FxEffectDesc kCloudsEffect = {
    "clouds",
    "Fx_CloudsBitmap",
    FX_FAMILY_PROCEDURAL,
    "Paints seeded cloud noise between two colours, replacing or blending with the image",
    kCloudsParams,
    CountOf(kCloudsParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_CloudsBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]), ArgU32(v[3]),
                             ArgU32(v[4]), ArgU32(v[5]), ArgU32(v[6]));
    },
    kCloudsPresets,
    CountOf(kCloudsPresets),
    FX_TRAIT_RANDOM | FX_TRAIT_TONES_ONLY,
};

}  // namespace fx

int32_t Fx_CloudsBitmap(BitmapRecord* bitmap, uint32_t seed, uint32_t frequency, uint32_t octaves,
                        uint32_t opacity, uint32_t backColor, uint32_t foreColor, uint32_t flags) {
  const int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  if (flags >= 3 || frequency >= 17 || octaves >= 17 || opacity >= 101) return ERROR_INV_PARAMETER;
  fx::NoisePaint paint =
      fx::BaseNoisePaint(seed, frequency, octaves, opacity, backColor, foreColor);
  paint.modulation = fx::NoiseModulation::kNone;
  const fx::NoiseBlend blend = flags == 0   ? fx::NoiseBlend::kReplace
                               : flags == 1 ? fx::NoiseBlend::kDifference
                                            : fx::NoiseBlend::kAverage;
  paint.blend8 = paint.blend16 = blend;
  fx::OrientationGuard orientation(bitmap);
  return fx::PaintNoise(bitmap, paint);
}
