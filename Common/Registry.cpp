// The registry: the explicit list of effect descriptors, lookup by name, and the generic call
// that resolves named values and defaults into the export's arguments.
#include <cstring>
#include <memory>
#include <vector>

#include "Common/Frame.h"
#include "Common/RegistryDefs.h"
#include "fxkit/host.h"

namespace fx {

namespace {

// Storage the resolved arguments point into; released after the call.
struct InvokeScratch {
  std::vector<std::unique_ptr<uint8_t[]>> blocks;
  std::vector<std::unique_ptr<BitmapRecord>> bitmaps;
  ~InvokeScratch() {
    for (auto& b : bitmaps) HostFreeBitmap(b.get());
  }
  uint8_t* Bytes(size_t n) {
    blocks.push_back(std::make_unique<uint8_t[]>(n ? n : 1));
    std::memset(blocks.back().get(), 0, n ? n : 1);
    return blocks.back().get();
  }
  BitmapRecord* Bitmap() {
    bitmaps.push_back(std::make_unique<BitmapRecord>());
    std::memset(bitmaps.back().get(), 0, sizeof(BitmapRecord));
    return bitmaps.back().get();
  }
};

void StoreField(uint8_t* record, const FxFieldDesc& f, int64_t value) {
  if (f.kind == FX_KIND_POINT) {
    POINT p{static_cast<int32_t>(value & 0xFFFFFFFF), static_cast<int32_t>(value >> 32)};
    std::memcpy(record + f.offset, &p, sizeof(p));
  } else {
    uint32_t v = static_cast<uint32_t>(value);
    std::memcpy(record + f.offset, &v, sizeof(v));
  }
}

// A record holding every field's default; field 0 is the size.
void FillDefaultRecord(uint8_t* record, const FxRecordDesc& desc) {
  for (uint32_t i = 0; i < desc.fieldCount; ++i) StoreField(record, desc.fields[i], desc.fields[i].defaultValue);
  uint32_t size = desc.size;
  std::memcpy(record, &size, sizeof(size));
}

// The centre of the rectangle to process as the effect will see it (orientation 1).
POINT DefaultCenter(BitmapRecord* bitmap) {
  if (!bitmap || bitmap->StructSize < BITMAP_STRUCT_SIZE_OLD) return POINT{0, 0};
  uint8_t saved = bitmap->Orientation;
  HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, 1, 0);
  RECT r = ProcessRect(bitmap);
  HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, saved, 0);
  return POINT{static_cast<int32_t>((int64_t{r.left} + r.right) / 2),
               static_cast<int32_t>((int64_t{r.top} + r.bottom) / 2)};
}

// A 128 x 128 8-bit gray canvas-like texture: a woven pattern with fine noise.
BitmapRecord* MakeTexture(InvokeScratch& scratch) {
  BitmapRecord* t = scratch.Bitmap();
  if (HostCreateBitmap(t, BITMAP_STRUCT_SIZE, 1, 128, 128, 8, ORDER_GRAY, nullptr, 1, nullptr, 0) !=
      SUCCESS)
    return nullptr;
  uint32_t state = 12345;
  for (int32_t y = 0; y < 128; ++y) {
    uint8_t* row = t->Data + int64_t{y} * t->BytesPerLine;
    for (int32_t x = 0; x < 128; ++x) {
      state = state * 1103515245u + 12345u;
      int32_t weave = ((x / 4 + y / 4) & 1) ? 40 : -40;
      int32_t thread = (x % 4 == 0 || y % 4 == 0) ? -30 : 0;
      int32_t v = 128 + weave + thread + static_cast<int32_t>((state >> 16) % 21) - 10;
      row[x] = static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v));
    }
  }
  return t;
}

}  // namespace
}  // namespace fx

using fx::kEffectList;
using fx::kEffectListSize;

uint32_t FxEffectCount(void) { return kEffectListSize; }

const FxEffectDesc* FxEffectAt(uint32_t index) {
  return index < kEffectListSize ? kEffectList[index] : nullptr;
}

const FxEffectDesc* FxFindEffect(const char* name) {
  if (!name) return nullptr;
  for (uint32_t i = 0; i < kEffectListSize; ++i)
    if (!std::strcmp(kEffectList[i]->shortName, name) ||
        !std::strcmp(kEffectList[i]->exportName, name))
      return kEffectList[i];
  return nullptr;
}

const char* FxFamilyName(FxFamily family) {
  switch (family) {
    case FX_FAMILY_DISTORTION: return "distortion";
    case FX_FAMILY_BLUR_LIGHT_GLOW: return "blur/light/glow";
    case FX_FAMILY_ARTISTIC: return "artistic/tile/texture";
    case FX_FAMILY_PROCEDURAL: return "procedural";
    case FX_FAMILY_RESCALING: return "rescaling";
  }
  return "unknown";
}

const char* FxKindName(FxKind kind) {
  switch (kind) {
    case FX_KIND_INT32: return "int32";
    case FX_KIND_UINT32: return "uint32";
    case FX_KIND_FLAGS: return "flags";
    case FX_KIND_POINT: return "point";
    case FX_KIND_COLOR: return "color";
    case FX_KIND_RECORD: return "record";
    case FX_KIND_INT_ARRAY: return "int-array";
    case FX_KIND_RECORD_ARRAY: return "record-array";
    case FX_KIND_BITMAP: return "bitmap";
  }
  return "unknown";
}

int32_t FxFindParam(const FxEffectDesc* effect, const char* name) {
  if (!effect || !name) return -1;
  for (uint32_t i = 0; i < effect->paramCount; ++i)
    if (!std::strcmp(effect->params[i].name, name)) return static_cast<int32_t>(i);
  return -1;
}

int32_t FxInvoke(const FxEffectDesc* effect, BitmapRecord* bitmap, const FxNamedValue* values,
                 uint32_t valueCount) {
  if (!effect) return FX_REGISTRY_UNKNOWN_PARAMETER;
  const uint32_t n = effect->paramCount;
  std::vector<const FxNamedValue*> given(n, nullptr);
  for (uint32_t i = 0; i < valueCount; ++i) {
    int32_t index = FxFindParam(effect, values[i].name);
    if (index < 0) return FX_REGISTRY_UNKNOWN_PARAMETER;
    if (given[index]) return FX_REGISTRY_DUPLICATE_PARAMETER;
    given[index] = &values[i];
  }

  fx::InvokeScratch scratch;
  std::vector<FxValue> args(n);
  std::vector<uint32_t> arrayCounts(n, 0);  // element counts of the array arguments
  for (uint32_t i = 0; i < n; ++i) {
    const FxParamDesc& p = effect->params[i];
    if (p.defaultRule == FX_DEFAULT_COUNT) continue;  // resolved once the arrays are known
    if (given[i]) {
      args[i] = given[i]->value;
      arrayCounts[i] = given[i]->count;
      continue;
    }
    switch (p.defaultRule) {
      case FX_DEFAULT_VALUE:
        if (p.kind == FX_KIND_POINT)
          args[i].pt = POINT{static_cast<int32_t>(p.defaultValue & 0xFFFFFFFF),
                             static_cast<int32_t>(p.defaultValue >> 32)};
        else
          args[i].i = p.defaultValue;
        break;
      case FX_DEFAULT_CENTER: args[i].pt = fx::DefaultCenter(bitmap); break;
      case FX_DEFAULT_WIDTH_PERCENT:
        args[i].i = bitmap ? int64_t{bitmap->Width} * p.defaultValue / 100 : 0;
        break;
      case FX_DEFAULT_HEIGHT_PERCENT:
        args[i].i = bitmap ? int64_t{bitmap->Height} * p.defaultValue / 100 : 0;
        break;
      case FX_DEFAULT_NULL: args[i].ptr = nullptr; break;
      case FX_DEFAULT_IMAGE_COPY: {
        BitmapRecord* copy = scratch.Bitmap();
        if (!bitmap || HostSetOrientation(copy, bitmap, BITMAP_STRUCT_SIZE,
                                          bitmap->Orientation, 7) != SUCCESS)
          args[i].ptr = nullptr;
        else
          args[i].ptr = copy;
        break;
      }
      case FX_DEFAULT_TEXTURE: args[i].ptr = fx::MakeTexture(scratch); break;
      case FX_DEFAULT_ARRAY:
        if (p.kind == FX_KIND_INT_ARRAY) {
          args[i].ptr = p.defaultArray;
          arrayCounts[i] = p.defaultArrayCount;
        } else if (p.record) {
          uint32_t records = p.kind == FX_KIND_RECORD_ARRAY ? p.defaultArrayCount : 1;
          uint8_t* block = scratch.Bytes(size_t{p.record->size} * records);
          for (uint32_t r = 0; r < records; ++r)
            fx::FillDefaultRecord(block + size_t{r} * p.record->size, *p.record);
          args[i].ptr = block;
          arrayCounts[i] = records;
        }
        break;
      case FX_DEFAULT_COUNT: break;
    }
  }
  for (uint32_t i = 0; i < n; ++i) {
    const FxParamDesc& p = effect->params[i];
    if (p.defaultRule != FX_DEFAULT_COUNT) continue;
    const bool arrayValid = p.arrayParam >= 0 && static_cast<uint32_t>(p.arrayParam) < n;
    const uint32_t available = arrayValid ? arrayCounts[p.arrayParam] : 0;
    if (given[i]) {
      args[i] = given[i]->value;
      // A count beyond the values given would make the export read past them.
      if (arrayValid && given[p.arrayParam] && args[i].i > 0 &&
          static_cast<uint64_t>(args[i].i) > available)
        return FX_REGISTRY_COUNT_TOO_LARGE;
    } else {
      args[i].i = available;
    }
  }
  return effect->call(bitmap, args.data());
}
