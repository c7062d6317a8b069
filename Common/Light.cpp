// Light: relights the image. Every sample is first dimmed by an ambient light (a colour and an
// intensity); then each light of the array is added in turn, either a flood light over the whole
// rectangle or a spot light shaped as a rotated ellipse shining from one of its foci, and after
// every light an overall brightness factor applies. A light mixes a multiplicative part (a tint in
// proportion to the sample) with an additive part (the light's colour) by its `mix` share.
//
// Functional light: a thin entry to three lighting operations of the host (directional, point and
// spot light, host/Lighting.cpp), chosen by the option bits of its record.
//
// Light works in the bitmap's own orientation and its rows, independent of each other, run in
// parallel; functional light works in orientation 1, its host operations row by row on the
// calling thread.
//
// Open points and extreme inputs:
// - The ambient and brightness tables and the flood light's product colour x intensity are formed
//   in 64 bits: where the 32-bit products would wrap (intensities or brightness beyond about
//   65000 percent), the result saturates to the brightest value instead; ordinary values are
//   exact. A flood of intensity 0 may lose a level through the two double weights: kept.
// - Spot light: the half-axes (width + 1) / 2 and (height + 1) / 2, their squares, and k1, k2 are
//   formed in 64 bits, and the 16-bit product p x c unsigned, so nothing wraps: identical to the
//   32-bit arithmetic wherever that does not overflow (every intensity up to about 3000
//   percent); beyond, a stronger light gives a brighter result instead of a wrapped one.
// - A spot of height 0 (or width 0) has a half-axis of 0 that would divide by zero: it is taken
//   as 1, the thinnest ellipse (height 1 gives the same half-axis), so the light lies on the
//   major axis's line.
// - A pixel of four samples is processed as a colour pixel (three samples); the fourth keeps its
//   value.
// - Functional light: a null record answers ERROR_NULL_INFO instead of being read.
#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;
constexpr uint32_t kLightSize = 44;
constexpr uint32_t kFunctionalLightSize = 52;
static_assert(sizeof(LightInfo) == kLightSize);
static_assert(sizeof(FunctionalLightInfo) == kFunctionalLightSize);

// One light prepared for the rows.
struct PreparedLight {
  bool flood;
  int32_t x, y;
  uint32_t samples[3];  // the light's colour as a working pixel
  // Flood: the two weights and (c x intensity) / 100.0 per sample.
  double keep, add, term[3];
  // Spot.
  double a, aPlusF, a2, b2, f, cosT, sinT;
  int64_t mulShare, addShare;  // (100 - mix) x intensity / 100 and mix x intensity / 100
  int32_t falloff;
};

struct LightSetup {
  RECT rect;
  int32_t pixelStep;
  const PreparedLight* lights;
  int32_t count;
};

// Tables of N entries for samples of type T.
template <class T>
struct LightTables {
  const T* ambient[3];
  const T* brightness;
};

template <class T>
void SpotRow(const PreparedLight& l, const T* bright, const LightSetup& s, int32_t y, T* out) {
  constexpr int32_t kMax = SampleTraits<T>::kMax;
  const int32_t samples = IsColorPixel(s.pixelStep) ? 3 : 1;
  const double dy = static_cast<double>(int64_t{y} - l.y);
  for (int32_t x = s.rect.left; x < s.rect.right; ++x) {
    T* p = out + int64_t{x} * s.pixelStep;
    const double dx = static_cast<double>(int64_t{x} - l.x);
    const double u = dx * l.cosT - dy * l.sinT;
    const double w = dx * l.sinT + dy * l.cosT;
    const double ev = 1000 * (u * u / l.a2 + w * w / l.b2);
    if (ev < 1001) {  // e = trunc(ev) <= 1000: inside the ellipse
      const int32_t e = static_cast<int32_t>(ev);
      const int64_t rim = e >= 951 ? (1000 - e) * 20 : 1000;
      int64_t lum = 0;
      if (e != 1000) {
        const double d = std::hypot(u + l.f, w);
        double r = 1e8 * d / (l.aPlusF * (100000 - l.falloff * e));
        if (r > 1000) r = 1000;
        lum = static_cast<int64_t>(1000 - r);
      }
      const int64_t k1 = l.mulShare * rim * lum / 100000;
      const int64_t k2 = l.addShare * rim * lum / 100000;
      for (int32_t k = 0; k < samples; ++k) {
        const int64_t pv = p[k], c = l.samples[k];
        double v;
        if constexpr (sizeof(T) == 1) {
          v = static_cast<double>(pv + k1 * (pv * c) / 255000 + k2 * c / 1000);
        } else {
          v = pv + (k1 / 100.0) * static_cast<double>(pv * c) / 655350.0 +
              static_cast<double>(k2 * c / 1000);
        }
        p[k] = static_cast<T>(v > kMax ? kMax : (v < 0 ? 0 : v));
      }
    }
    for (int32_t k = 0; k < samples; ++k) p[k] = bright[p[k]];
  }
}

template <class T>
void FloodRow(const PreparedLight& l, const T* bright, const LightSetup& s, T* out) {
  constexpr int32_t kMax = SampleTraits<T>::kMax;
  const int32_t samples = IsColorPixel(s.pixelStep) ? 3 : 1;
  for (int32_t x = s.rect.left; x < s.rect.right; ++x) {
    T* p = out + int64_t{x} * s.pixelStep;
    for (int32_t k = 0; k < samples; ++k) {
      const double v = l.keep * p[k] + l.add * (p[k] + l.term[k]);
      p[k] = bright[static_cast<T>(v > kMax ? kMax : (v < 0 ? 0 : v))];
    }
  }
}

template <class T>
void LightRow(const LightSetup& s, const LightTables<T>& t, int32_t y, T* out) {
  const int32_t samples = IsColorPixel(s.pixelStep) ? 3 : 1;
  for (int32_t x = s.rect.left; x < s.rect.right; ++x) {
    T* p = out + int64_t{x} * s.pixelStep;
    for (int32_t k = 0; k < samples; ++k) p[k] = t.ambient[k][p[k]];
  }
  for (int32_t i = 0; i < s.count; ++i) {
    if (s.lights[i].flood)
      FloodRow(s.lights[i], t.brightness, s, out);
    else
      SpotRow(s.lights[i], t.brightness, s, y, out);
  }
}

// The light's colour as one working pixel, by the host's conversion.
void ColorSamples(COLORREF color, int32_t bits, int32_t samples, uint32_t out[3]) {
  uint16_t pixel[4] = {0, 0, 0, 0};
  uint8_t pixel8[4] = {0, 0, 0, 0};
  if (bits == 16) {
    HostColorToPixel(pixel, color, 16, samples);
    for (int32_t k = 0; k < 3; ++k) out[k] = pixel[k < samples ? k : 0];
  } else {
    HostColorToPixel(pixel8, color, 8, samples);
    for (int32_t k = 0; k < 3; ++k) out[k] = pixel8[k < samples ? k : 0];
  }
}

void PrepareLight(const LightInfo& info, int32_t bits, int32_t samples, PreparedLight* l) {
  *l = PreparedLight{};
  l->flood = info.kind == 1;
  l->x = info.x;
  l->y = info.y;
  ColorSamples(info.color, bits, samples, l->samples);
  if (l->flood) {
    l->keep = (100 - info.mix) / 100.0;
    l->add = info.mix / 100.0;
    for (int32_t k = 0; k < 3; ++k) {
      const uint64_t product = uint64_t{l->samples[k]} * info.intensity;
      l->term[k] = (product > UINT32_MAX ? UINT32_MAX : product) / 100.0;
    }
    return;
  }
  const int64_t a = std::max<int64_t>((int64_t{info.width} + 1) / 2, 1);
  const int64_t b = std::max<int64_t>((int64_t{info.height} + 1) / 2, 1);
  const double theta = info.angle * kPi / 18000.0;
  l->a = static_cast<double>(a);
  l->a2 = static_cast<double>(a * a);
  l->b2 = static_cast<double>(b * b);
  const int64_t diff = a * a - b * b;
  l->f = std::sqrt(static_cast<double>(diff < 0 ? -diff : diff));
  l->aPlusF = a + l->f;
  l->cosT = std::cos(theta);
  l->sinT = std::sin(theta);
  l->mulShare = int64_t{100 - info.mix} * info.intensity / 100;
  l->addShare = int64_t{info.mix} * info.intensity / 100;
  l->falloff = static_cast<int32_t>(info.falloff);
}

// The ambient table of each sample and the brightness table, one entry per sample value.
template <class T>
void BuildLightTables(HostBlock<T> (&ambient)[3], HostBlock<T>& bright, int32_t samples,
                      const uint32_t ambientSamples[3], uint32_t ambientIntensity,
                      uint32_t brightness) {
  constexpr uint32_t kMax = SampleTraits<T>::kMax;
  for (int32_t k = 0; k < samples; ++k) {
    for (uint32_t i = 0; i <= kMax; ++i) {
      if constexpr (sizeof(T) == 1) {
        const uint64_t v = uint64_t{i} * ambientSamples[k] * ambientIntensity / 25500;
        ambient[k][i] = static_cast<T>(v > kMax ? kMax : v);
      } else {
        const double v =
            static_cast<double>(i) * ambientSamples[k] * (ambientIntensity / 100.0) / 65535.0;
        ambient[k][i] = static_cast<T>(v > kMax ? kMax : (v < 0 ? 0 : v));
      }
    }
  }
  for (uint32_t i = 0; i <= kMax; ++i) {
    const uint64_t v = uint64_t{i} * brightness / 100;
    bright[i] = static_cast<T>(v > kMax ? kMax : v);
  }
}

template <class T>
int32_t LightPass(BitmapRecord* bitmap, AccessOwner& access, const LightInfo* lights, int32_t count,
                  uint32_t brightness, uint32_t ambientIntensity, COLORREF ambientColor) {
  const int32_t pixelStep = access.PixelStep(), bits = access.SampleBits();
  const int32_t samples = IsColorPixel(pixelStep) ? 3 : 1;
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  RowWindow source;
  RowSlots slots;
  int32_t rc = source.AllocateRowByRow(rowBytes, slots);
  if (rc != SUCCESS) return rc;
  HostBlock<PreparedLight> prepared;
  HostBlock<T> ambient[3], bright;
  if (!prepared.Allocate(static_cast<uint32_t>(count))) return ERROR_NO_MEMORY;
  for (int32_t k = 0; k < samples; ++k)
    if (!ambient[k].Allocate(SampleTraits<T>::kMax + 1)) return ERROR_NO_MEMORY;
  if (!bright.Allocate(SampleTraits<T>::kMax + 1)) return ERROR_NO_MEMORY;
  rc = BeginWritePhaseEx(access, bitmap, 0, 100);
  if (rc != SUCCESS) return rc;
  RECT rect;
  HostGetRegionBounds(bitmap, nullptr, &rect);

  uint32_t ambientSamples[3];
  ColorSamples(ambientColor, bits, samples, ambientSamples);
  BuildLightTables<T>(ambient, bright, samples, ambientSamples, ambientIntensity, brightness);
  for (int32_t i = 0; i < count; ++i) PrepareLight(lights[i], bits, samples, &prepared[i]);
  const LightSetup setup{rect, pixelStep, prepared.get(), count};
  const LightTables<T> tables{{ambient[0].get(), ambient[1].get(), ambient[2].get()}, bright.get()};
  return source.RunInPlace(
      access, slots, rect.top, rect.bottom, bitmap->Height, rect.right - rect.left,
      [&](int32_t y, uint8_t* out, uint8_t*) {
        LightRow<T>(setup, tables, y, reinterpret_cast<T*>(out));
      },
      NoHostCall(), WriteRow(access));
}

int32_t LightDriver(BitmapRecord* bitmap, const LightInfo* lights, int32_t count,
                    uint32_t brightness, uint32_t ambientIntensity, COLORREF ambientColor) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  rc = WithSampleType(access.SampleBits(), [&](auto sample) {
    return LightPass<decltype(sample)>(bitmap, access, lights, count, brightness, ambientIntensity,
                                       ambientColor);
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

// Descriptors ----------------------------------------------------------------------------------

const FxFlagValue kLightKinds[] = {
    {"spot", 0, "an ellipse lit from a focus"},
    {"flood", 1, "light over the whole rectangle"},
};
const FxFlagField kLightKindFields[] = {
    FlagField("kind", kWholeWord, kLightKinds, "the kind of light"),
};
const FxFlagValue kOperations[] = {
    {"directional", 0x1000, "a distant light over the picture's relief"},
    {"point", 0x2000, "a light at (x, y) fading with distance"},
    {"spot", 0x4000, "a point light limited to a cone"},
};
const FxFlagField kOperationFields[] = {
    FlagField("operation", 0x7000, kOperations, "the lighting operation"),
};

#define LIGHT_FIELD(name) offsetof(LightInfo, name)
const FxFieldDesc kLightFields[] = {
    Field("size", FX_KIND_UINT32, LIGHT_FIELD(size), kLightSize, 0, kAnyUInt32Max,
          "record size, 44 (tested on the first record)"),
    Field("x", FX_KIND_INT32, LIGHT_FIELD(x), 4, kAnyInt32Min, kAnyInt32Max,
          "centre of the light, bitmap coordinates; left <= x <= right of the rectangle"),
    Field("y", FX_KIND_INT32, LIGHT_FIELD(y), 4, kAnyInt32Min, kAnyInt32Max,
          "centre of the light; top <= y <= bottom of the rectangle"),
    Field("width", FX_KIND_UINT32, LIGHT_FIELD(width), 400, 0, kAnyUInt32Max,
          "spot: full length of the ellipse's major axis in pixels; not below height"),
    Field("height", FX_KIND_UINT32, LIGHT_FIELD(height), 300, 0, kAnyUInt32Max,
          "spot: full length of the minor axis; 0 acts as 1"),
    Field("angle", FX_KIND_INT32, LIGHT_FIELD(angle), 0, -36000, 36000,
          "spot: rotation of the ellipse, hundredths of a degree"),
    Field("intensity", FX_KIND_UINT32, LIGHT_FIELD(intensity), 40, 0, kAnyUInt32Max,
          "strength of the light, percent"),
    Field("falloff", FX_KIND_UINT32, LIGHT_FIELD(falloff), 50, 0, 100,
          "spot: how much faster the light fades toward the rim"),
    Field("color", FX_KIND_COLOR, LIGHT_FIELD(color), 0x80C0FF, 0, kAnyUInt32Max,
          "colour of the light"),
    Field("mix", FX_KIND_UINT32, LIGHT_FIELD(mix), 30, 0, 100,
          "share of the additive part, percent; the rest tints in proportion to the sample"),
    Field("kind", FX_KIND_UINT32, LIGHT_FIELD(kind), 1, 0, 1, "0 spot light, 1 flood light",
          kLightKindFields),
};
#undef LIGHT_FIELD

const FxRecordDesc kLightRecord = {"LightInfo", kLightSize, kLightFields, CountOf(kLightFields)};

const FxParamDesc kLightParams[] = {
    RecordArrayParam("lights", &kLightRecord, 1,
                     "the lights, applied in order: lights[0].x=10 lights[0].kind=0 ..."),
    CountParam("count", FX_KIND_INT32, 0, 1, kAnyInt32Max, "number of lights, at least 1"),
    UIntParam("brightness", 100, 0, kAnyUInt32Max,
              "overall brightness after every light, percent (100 unchanged)"),
    UIntParam("ambientIntensity", 90, 0, kAnyUInt32Max,
              "ambient light applied first, percent (100 with white: unchanged)"),
    ColorParam("ambientColor", 0xFFFFFF, "colour of the ambient light"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kLightPresets[] = {
    {"warm-spot",
     "lights[0].kind=spot lights[0].x=37%w lights[0].y=33%h lights[0].width=130%s "
     "lights[0].height=83%s "
     "lights[0].angle=-3000 lights[0].intensity=150 lights[0].falloff=40 lights[0].color=#FFB060 "
     "lights[0].mix=35 ambientIntensity=55"},
    {"two-spots",
     "lights[0].kind=spot lights[0].x=12%w lights[0].y=62%h lights[0].width=83%s "
     "lights[0].height=46%s "
     "lights[0].intensity=120 lights[0].color=#60A0FF lights[0].mix=50 lights[1].kind=spot "
     "lights[1].x=62%w lights[1].y=8%h lights[1].width=65%s lights[1].height=65%s "
     "lights[1].intensity=100 lights[1].color=#FF8040 lights[1].falloff=80 ambientIntensity=40"},
    {"cool-flood",
     "lights[0].intensity=30 lights[0].color=#A0C0FF lights[0].mix=60 brightness=105 "
     "ambientIntensity=85"},
};

// Functional light.
#define FL_FIELD(name) offsetof(FunctionalLightInfo, name)
const FxFieldDesc kFunctionalLightFields[] = {
    Field("size", FX_KIND_UINT32, FL_FIELD(size), kFunctionalLightSize, 0, kAnyUInt32Max,
          "record size, 52"),
    Field("x", FX_KIND_INT32, FL_FIELD(x), 0, kAnyInt32Min, kAnyInt32Max,
          "point and spot: position of the light, bitmap coordinates (may lie outside)"),
    Field("y", FX_KIND_INT32, FL_FIELD(y), 0, kAnyInt32Min, kAnyInt32Max,
          "point and spot: position of the light"),
    Field("azimuth", FX_KIND_INT32, FL_FIELD(azimuth), -4500, -36000, 36000,
          "hundredths of a degree, 0 toward the right, 9000 toward the top; directional: the side "
          "the light comes from; spot: where the beam points"),
    Field("elevation", FX_KIND_UINT32, FL_FIELD(elevation), 4500, 0, 9000,
          "directional: height of the light above the horizon, hundredths of a degree (9000 "
          "straight above)"),
    Field("radius", FX_KIND_UINT32, FL_FIELD(radius), 600, 0, kAnyUInt32Max,
          "point and spot: reach of the light in pixels; nothing beyond it"),
    Field("falloff", FX_KIND_UINT32, FL_FIELD(falloff), 100, 0, 1000,
          "point and spot: the light fades as (1 - distance / radius) ^ (falloff / 100); 0 even "
          "up to the radius, 100 linear, 200 quadratic"),
    Field("coneAngle", FX_KIND_UINT32, FL_FIELD(coneAngle), 6000, 0, 36000,
          "spot: full opening of the beam, hundredths of a degree"),
    Field("softness", FX_KIND_UINT32, FL_FIELD(softness), 50, 0, 100,
          "spot: share of the half-opening, percent, over which the beam's edge fades (0 hard)"),
    Field("color", FX_KIND_COLOR, FL_FIELD(color), 0xE0F0FF, 0, kAnyUInt32Max,
          "colour of the light"),
    Field("intensity", FX_KIND_UINT32, FL_FIELD(intensity), 100, 0, kAnyUInt32Max,
          "strength of the light, percent (100 white, fully lit: the sample unchanged)"),
    Field("ambient", FX_KIND_UINT32, FL_FIELD(ambient), 20, 0, kAnyUInt32Max,
          "light everywhere, percent of the sample kept where the light does not reach"),
    Field("options", FX_KIND_FLAGS, FL_FIELD(options), 0x1000, 0, kAnyUInt32Max,
          "the operation: 0x1000 directional, 0x2000 point, 0x4000 spot (the first of them "
          "that is set; none: ERROR_INV_PARAMETER)",
          kOperationFields),
};
#undef FL_FIELD

const FxRecordDesc kFunctionalLightRecord = {"FunctionalLightInfo", kFunctionalLightSize,
                                             kFunctionalLightFields,
                                             CountOf(kFunctionalLightFields)};

const FxParamDesc kFunctionalLightParams[] = {
    RecordParam("info", &kFunctionalLightRecord,
                "the light: fields by name, the operation in options. Every sample p becomes p x "
                "(ambient + intensity x s x c / 255) / 100, c the light's colour sample, s the "
                "light reaching the pixel (0 .. 1): directional: the cosine between the light and "
                "the normal of the picture's relief (gray levels as heights, 4 pixels for the "
                "full range); point: (1 - d / radius) ^ (falloff / 100) within the radius; spot: "
                "the point light's s inside the cone"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kFunctionalLightPresets[] = {
    {"low-sun",
     "operation=directional azimuth=13500 elevation=2500 color=#FFD8A0 intensity=110 "
     "ambient=25"},
    {"lamp",
     "operation=point x=47%w y=42%h radius=65%s falloff=150 color=#FFE0B0 intensity=120 "
     "ambient=15"},
    {"stage-spot",
     "operation=spot x=0 y=0 azimuth=-4500 coneAngle=4000 softness=40 radius=140%s "
     "falloff=50 color=#FFFFFF intensity=130 ambient=10"},
};

}  // namespace

extern const FxEffectDesc kLightEffect = {
    "light",
    "Fx_LightBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Relights the image with an ambient light and flood or elliptical spot lights",
    kLightParams,
    CountOf(kLightParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_LightBitmap(b, ArgPtr<LightInfo>(v[0]), ArgI32(v[1]), ArgU32(v[2]), ArgU32(v[3]),
                            ArgU32(v[4]), ArgU32(v[5]));
    },
    kLightPresets,
    CountOf(kLightPresets),
    FX_TRAIT_TONES_ONLY,
};

extern const FxEffectDesc kFunctionalLightEffect = {
    "functional-light",
    "Fx_FunctionalLightBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Lights the image with a directional, point or spot light of the host",
    kFunctionalLightParams,
    CountOf(kFunctionalLightParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_FunctionalLightBitmap(b, ArgPtr<FunctionalLightInfo>(v[0]), ArgU32(v[1]));
    },
    kFunctionalLightPresets,
    CountOf(kFunctionalLightPresets),
    FX_TRAIT_TONES_ONLY,
};

}  // namespace fx

int32_t Fx_LightBitmap(BitmapRecord* bitmap, LightInfo* lights, int32_t count, uint32_t brightness,
                       uint32_t ambientIntensity, COLORREF ambientColor, uint32_t flags) {
  if (bitmap && bitmap->StructSize != BITMAP_STRUCT_SIZE &&
      bitmap->StructSize != BITMAP_STRUCT_SIZE_OLD)
    return ERROR_INV_STRUCT_SIZE;
  if (flags != 0) return ERROR_INV_PARAMETER;
  int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  if (!lights) return ERROR_NULL_INFO;
  if (lights[0].size != fx::kLightSize) return ERROR_INV_STRUCT_SIZE;
  RECT rect;
  HostGetRegionBounds(bitmap, nullptr, &rect);
  if (count < 1) return ERROR_INV_PARAMETER;
  for (int32_t i = 0; i < count; ++i) {
    const LightInfo& l = lights[i];
    if (l.x < rect.left || l.x > rect.right || l.y < rect.top || l.y > rect.bottom ||
        l.angle < -36000 || l.angle > 36000 || l.falloff > 100 || l.kind > 1 || l.mix > 100 ||
        l.width < l.height)
      return ERROR_INV_PARAMETER;
  }
  return fx::LightDriver(bitmap, lights, count, brightness, ambientIntensity, ambientColor);
}

int32_t Fx_FunctionalLightBitmap(BitmapRecord* bitmap, FunctionalLightInfo* info, uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  if (flags != 0) return ERROR_INV_PARAMETER;
  if (!info) return ERROR_NULL_INFO;
  if (info->size != fx::kFunctionalLightSize) return ERROR_INV_STRUCT_SIZE;
  fx::OrientationGuard orientation(bitmap);
  if (info->options & 0x1000) return HostFunctionalLightA(bitmap, info);
  if (info->options & 0x2000) return HostFunctionalLightB(bitmap, info);
  if (info->options & 0x4000) return HostFunctionalLightC(bitmap, info);
  return ERROR_INV_PARAMETER;
}
