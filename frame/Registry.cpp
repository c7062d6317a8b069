// The registry: the explicit list of effect descriptors, lookup by name, and the generic call
// that resolves named values and defaults into the export's arguments.
#include <cstring>
#include <memory>
#include <vector>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
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

POINT UnpackPoint(int64_t packed) {
  const uint64_t u = static_cast<uint64_t>(packed);
  return POINT{static_cast<int32_t>(static_cast<uint32_t>(u)),
               static_cast<int32_t>(static_cast<uint32_t>(u >> 32))};
}

// The bitmap's whole rectangle and the rectangle to process as the effects see them: in
// orientation 1. A record with an orientation code outside 1 .. 8 is measured as it stands (the
// export will refuse it), so the record is never left changed.
struct Extent {
  RECT whole, process;
};
Extent ExtentInOrientationOne(BitmapRecord* bitmap) {
  if (!bitmap || bitmap->StructSize < BITMAP_STRUCT_SIZE_OLD) return Extent{};
  const uint8_t saved = bitmap->Orientation;
  const bool switchView = saved >= 2 && saved <= 8;
  if (switchView) HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, 1, 0);
  Extent e{RECT{0, 0, bitmap->Width, bitmap->Height}, ProcessRect(bitmap)};
  if (switchView) HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, saved, 0);
  return e;
}

POINT DefaultCenter(BitmapRecord* bitmap) {
  const RECT r = ExtentInOrientationOne(bitmap).process;
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

const char* FxResultName(int32_t code) {
  switch (code) {
#define FX_NAME(c) case c: return #c;
    FX_NAME(SUCCESS)
    FX_NAME(ERROR_NO_MEMORY)
    FX_NAME(ERROR_NO_BITMAP)
    FX_NAME(ERROR_POINT_OUT_OF_RANGE)
    FX_NAME(ERROR_INV_PARAMETER)
    FX_NAME(ERROR_EMPTY_RECT)
    FX_NAME(ERROR_INV_STRUCT_SIZE)
    FX_NAME(ERROR_NULL_INFO)
    FX_NAME(ERROR_UNSUPPORTED_FLAG)
    FX_NAME(ERROR_UNSUPPORTED_ORDER)
    FX_NAME(ERROR_HOST_BAD_FORMAT)
    FX_NAME(ERROR_HOST_BAD_RECORD)
    FX_NAME(ERROR_HOST_ROW_RANGE)
    FX_NAME(ERROR_HOST_WRONG_PHASE)
    FX_NAME(ERROR_HOST_BAD_ARGUMENT)
    FX_NAME(ERROR_HOST_INJECTED)
    FX_NAME(ERROR_HOST_CANCELLED)
    FX_NAME(FX_REGISTRY_UNKNOWN_PARAMETER)
    FX_NAME(FX_REGISTRY_DUPLICATE_PARAMETER)
    FX_NAME(FX_REGISTRY_COUNT_TOO_LARGE)
    FX_NAME(FX_REGISTRY_ARRAY_TOO_SHORT)
    FX_NAME(FX_REGISTRY_UNKNOWN_EFFECT)
#undef FX_NAME
  }
  return nullptr;
}

int32_t FxFindField(const FxRecordDesc* record, const char* name) {
  if (!record || !name) return -1;
  for (uint32_t i = 0; i < record->fieldCount; ++i)
    if (!std::strcmp(record->fields[i].name, name)) return static_cast<int32_t>(i);
  return -1;
}

void FxStoreField(const FxFieldDesc* field, void* record, int64_t value) {
  if (!field || !record) return;
  auto* bytes = static_cast<uint8_t*>(record) + field->offset;
  if (field->kind == FX_KIND_POINT) {
    const POINT p = fx::UnpackPoint(value);
    std::memcpy(bytes, &p, sizeof(p));
  } else {
    const uint32_t v = static_cast<uint32_t>(value);
    std::memcpy(bytes, &v, sizeof(v));
  }
}

void FxFillRecordDefaults(const FxRecordDesc* record, void* out) {
  if (!record || !out) return;
  std::memset(out, 0, record->size);
  for (uint32_t i = 0; i < record->fieldCount; ++i)
    FxStoreField(&record->fields[i], out, record->fields[i].defaultValue);
  const uint32_t size = record->size;
  std::memcpy(out, &size, sizeof(size));
}

int32_t FxScalarDefault(const FxParamDesc* p, BitmapRecord* bitmap, FxValue* value) {
  if (!p || !value) return 0;
  switch (p->defaultRule) {
    case FX_DEFAULT_VALUE:
      if (p->kind == FX_KIND_POINT)
        value->pt = fx::UnpackPoint(p->defaultValue);
      else
        value->i = p->defaultValue;
      return 1;
    case FX_DEFAULT_CENTER: value->pt = fx::DefaultCenter(bitmap); return 1;
    case FX_DEFAULT_WIDTH_PERCENT:
      value->i = int64_t{fx::ExtentInOrientationOne(bitmap).whole.right} * p->defaultValue / 100;
      return 1;
    case FX_DEFAULT_HEIGHT_PERCENT:
      value->i = int64_t{fx::ExtentInOrientationOne(bitmap).whole.bottom} * p->defaultValue / 100;
      return 1;
    default: return 0;
  }
}

int32_t FxInvoke(const FxEffectDesc* effect, BitmapRecord* bitmap, const FxNamedValue* values,
                 uint32_t valueCount) {
  if (!effect) return FX_REGISTRY_UNKNOWN_EFFECT;
  if (!values) valueCount = 0;
  const uint32_t n = effect->paramCount;
  std::vector<const FxNamedValue*> given(n, nullptr);
  for (uint32_t i = 0; i < valueCount; ++i) {
    const int32_t index = FxFindParam(effect, values[i].name);
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
      // An export reads a fixed-length array in full, whatever it was given.
      if (p.kind == FX_KIND_INT_ARRAY && p.fixedCount && args[i].ptr &&
          given[i]->count < p.fixedCount)
        return FX_REGISTRY_ARRAY_TOO_SHORT;
      continue;
    }
    if (FxScalarDefault(&p, bitmap, &args[i])) continue;
    switch (p.defaultRule) {
      case FX_DEFAULT_IMAGE_COPY: {
        BitmapRecord* copy = scratch.Bitmap();
        if (!bitmap ||
            HostSetOrientation(copy, bitmap, BITMAP_STRUCT_SIZE, bitmap->Orientation, 7) != SUCCESS)
          args[i].ptr = nullptr;
        else
          args[i].ptr = copy;
        break;
      }
      case FX_DEFAULT_TEXTURE:
        args[i].ptr = fx::MakeTexture(scratch);
        if (!args[i].ptr) return ERROR_NO_MEMORY;  // the texture could not be made
        break;
      case FX_DEFAULT_ARRAY:
        if (p.kind == FX_KIND_INT_ARRAY) {
          args[i].ptr = p.defaultArray;
          arrayCounts[i] = p.defaultArrayCount;
        } else if (p.record) {
          const uint32_t records = p.kind == FX_KIND_RECORD_ARRAY ? p.defaultArrayCount : 1;
          uint8_t* block = scratch.Bytes(size_t{p.record->size} * records);
          for (uint32_t r = 0; r < records; ++r)
            FxFillRecordDefaults(p.record, block + size_t{r} * p.record->size);
          args[i].ptr = block;
          arrayCounts[i] = records;
        }
        break;
      default: args[i].ptr = nullptr; break;  // FX_DEFAULT_NULL
    }
  }
  for (uint32_t i = 0; i < n; ++i) {
    const FxParamDesc& p = effect->params[i];
    if (p.defaultRule != FX_DEFAULT_COUNT) continue;
    const bool arrayValid = p.arrayParam >= 0 && static_cast<uint32_t>(p.arrayParam) < n;
    const uint32_t available = arrayValid ? arrayCounts[p.arrayParam] : 0;
    if (!given[i]) {
      args[i].i = available;
      continue;
    }
    args[i] = given[i]->value;
    // A count beyond the values there are would make the export read past them. The count is
    // judged as the export's 32-bit type sees it; zero and negative counts go through.
    const int64_t count = p.kind == FX_KIND_INT32 ? int64_t{static_cast<int32_t>(args[i].i)}
                                                  : int64_t{static_cast<uint32_t>(args[i].i)};
    if (arrayValid && count > 0 && static_cast<uint64_t>(count) > available)
      return FX_REGISTRY_COUNT_TOO_LARGE;
  }
  return effect->call(bitmap, args.data());
}
