// The binding's test effect.
#include "Probe.h"

#include <array>
#include <cstring>

namespace fxpy {

namespace {

thread_local ProbeCall tLastCall;

constexpr int64_t kU32 = UINT32_MAX;

const FxFieldDesc kInfoFields[] = {
    {"StructSize", FX_KIND_UINT32, 0, 24, 0, kU32, "size", nullptr, 0},
    {"Level", FX_KIND_INT32, 4, -3, -100, 100, "a signed field", nullptr, 0},
    {"Mode", FX_KIND_FLAGS, 8, 0x12, 0, kU32, "a flags field", nullptr, 0},
    {"Tint", FX_KIND_COLOR, 12, 0x0000FF, 0, kU32, "a colour field", nullptr, 0},
    {"Spot", FX_KIND_POINT, 16, 2 | int64_t{3} << 32, INT32_MIN, INT32_MAX, "a point field", nullptr, 0},
};
const FxRecordDesc kInfo{"ProbeInfo", 24, kInfoFields, 5};

const FxFieldDesc kLightFields[] = {
    {"StructSize", FX_KIND_UINT32, 0, 12, 0, kU32, "size", nullptr, 0},
    {"X", FX_KIND_INT32, 4, 1, INT32_MIN, INT32_MAX, "x", nullptr, 0},
    {"Y", FX_KIND_INT32, 8, 2, INT32_MIN, INT32_MAX, "y", nullptr, 0},
};
const FxRecordDesc kLight{"ProbeLight", 12, kLightFields, 3};

const int32_t kCurve[] = {10, 20, 30};
const int32_t kCorners[] = {1, 2, 3, 4};

FxParamDesc Param(const char* name, FxKind kind, FxDefaultRule rule, int64_t def, int64_t min,
                  int64_t max) {
  return FxParamDesc{name,    kind,    rule, def, min, max,     "probe",
                     nullptr, nullptr, 0,    -1,  0,   nullptr, 0};
}

const FxParamDesc* Params() {
  static const std::array<FxParamDesc, 13> params = [] {
    std::array<FxParamDesc, 13> p = {
        Param("i", FX_KIND_INT32, FX_DEFAULT_VALUE, 5, -100, 100),
        Param("u", FX_KIND_UINT32, FX_DEFAULT_VALUE, 7, 0, kU32),
        Param("flags", FX_KIND_FLAGS, FX_DEFAULT_VALUE, 0x10, 0, kU32),
        Param("center", FX_KIND_POINT, FX_DEFAULT_CENTER, 0, INT32_MIN, INT32_MAX),
        Param("color", FX_KIND_COLOR, FX_DEFAULT_VALUE, 0x00FF00, 0, kU32),
        Param("info", FX_KIND_RECORD, FX_DEFAULT_ARRAY, 0, 0, 0),
        Param("curve", FX_KIND_INT_ARRAY, FX_DEFAULT_ARRAY, 0, INT32_MIN, INT32_MAX),
        Param("curveCount", FX_KIND_INT32, FX_DEFAULT_COUNT, 0, 0, INT32_MAX),
        Param("lights", FX_KIND_RECORD_ARRAY, FX_DEFAULT_ARRAY, 0, 0, 0),
        Param("lightCount", FX_KIND_UINT32, FX_DEFAULT_COUNT, 0, 0, kU32),
        Param("corners", FX_KIND_INT_ARRAY, FX_DEFAULT_ARRAY, 0, INT32_MIN, INT32_MAX),
        Param("texture", FX_KIND_BITMAP, FX_DEFAULT_NULL, 0, 0, 0),
        Param("size", FX_KIND_INT32, FX_DEFAULT_WIDTH_PERCENT, 50, 0, INT32_MAX),
    };
    p[5].record = &kInfo;
    p[6].defaultArray = kCurve;
    p[6].defaultArrayCount = 3;
    p[7].arrayParam = 6;
    p[8].record = &kLight;
    p[8].defaultArrayCount = 2;
    p[9].arrayParam = 8;
    p[10].defaultArray = kCorners;
    p[10].defaultArrayCount = 4;
    p[10].fixedCount = 4;
    return p;
  }();
  return params.data();
}

template <class T>
std::vector<T> Copy(const void* data, size_t count) {
  std::vector<T> out(count);
  if (count) std::memcpy(out.data(), data, count * sizeof(T));
  return out;
}

int32_t ProbeThunk(BitmapRecord* bitmap, const FxValue* args) {
  ProbeCall c;
  c.width = bitmap->Width;
  c.height = bitmap->Height;
  c.bitsPerPixel = bitmap->BitsPerPixel;
  c.order = bitmap->Order;
  c.i = static_cast<int32_t>(args[0].i);
  c.u = static_cast<uint32_t>(args[1].i);
  c.flags = static_cast<uint32_t>(args[2].i);
  c.center = args[3].pt;
  c.color = static_cast<uint32_t>(args[4].i);
  c.infoNull = !args[5].ptr;
  if (!c.infoNull) c.info = Copy<uint8_t>(args[5].ptr, kInfo.size);
  c.curveNull = !args[6].ptr;
  c.curveCount = static_cast<int32_t>(args[7].i);
  if (!c.curveNull && c.curveCount > 0) c.curve = Copy<int32_t>(args[6].ptr, size_t(c.curveCount));
  c.lightsNull = !args[8].ptr;
  c.lightCount = static_cast<uint32_t>(args[9].i);
  if (!c.lightsNull) c.lights = Copy<uint8_t>(args[8].ptr, size_t{c.lightCount} * kLight.size);
  c.cornersNull = !args[10].ptr;
  if (!c.cornersNull) c.corners = Copy<int32_t>(args[10].ptr, 4);
  const auto* texture = static_cast<const BitmapRecord*>(args[11].ptr);
  c.textureNull = !texture;
  if (texture) {
    c.textureWidth = texture->Width;
    c.textureHeight = texture->Height;
    c.textureBitsPerPixel = texture->BitsPerPixel;
    c.textureOrder = texture->Order;
    const size_t rowBytes = size_t(texture->StoredWidth) * size_t(texture->BitsPerPixel) / 8;
    for (int32_t y = 0; y < texture->StoredHeight; ++y) {
      const uint8_t* row = texture->Data + int64_t{y} * texture->BytesPerLine;
      c.textureRows.insert(c.textureRows.end(), row, row + rowBytes);
    }
  }
  c.size = static_cast<int32_t>(args[12].i);
  tLastCall = std::move(c);
  return SUCCESS;
}

}  // namespace

const FxEffectDesc& ProbeEffect() {
  static const FxEffectDesc effect{
      "_probe", "_probe", FX_FAMILY_DISTORTION, "records its arguments", Params(), 13, &ProbeThunk,
      nullptr,  0,        FX_TRAIT_TONES_ONLY};
  return effect;
}

const ProbeCall& LastProbeCall() {
  return tLastCall;
}

}  // namespace fxpy
