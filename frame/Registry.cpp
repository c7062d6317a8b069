// The registry: the explicit list of effect descriptors, lookup by name, and the generic call
// that resolves named values and defaults into the export's arguments.
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RegistryText.h"
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

uint32_t FxEffectCount(void) {
  return kEffectListSize;
}

const FxEffectDesc* FxEffectAt(uint32_t index) {
  return index < kEffectListSize ? kEffectList[index] : nullptr;
}

const FxEffectDesc* FxFindEffect(const char* name) {
  if (!name) return nullptr;
  for (uint32_t i = 0; i < kEffectListSize; ++i)
    if (!std::strcmp(kEffectList[i]->shortName, name) ||
        !std::strcmp(kEffectList[i]->exportName, name))
      return kEffectList[i];
  for (uint32_t i = 0; i < kEffectListSize; ++i)
    if (fx::SameName(kEffectList[i]->shortName, name) ||
        fx::SameName(kEffectList[i]->exportName, name))
      return kEffectList[i];
  return nullptr;
}

const char* FxFamilyName(FxFamily family) {
  switch (family) {
    case FX_FAMILY_DISTORTION:
      return "distortion";
    case FX_FAMILY_BLUR_LIGHT_GLOW:
      return "blur/light/glow";
    case FX_FAMILY_ARTISTIC:
      return "artistic/tile/texture";
    case FX_FAMILY_PROCEDURAL:
      return "procedural";
    case FX_FAMILY_RESCALING:
      return "rescaling";
  }
  return "unknown";
}

const char* FxKindName(FxKind kind) {
  switch (kind) {
    case FX_KIND_INT32:
      return "int32";
    case FX_KIND_UINT32:
      return "uint32";
    case FX_KIND_FLAGS:
      return "flags";
    case FX_KIND_POINT:
      return "point";
    case FX_KIND_COLOR:
      return "color";
    case FX_KIND_RECORD:
      return "record";
    case FX_KIND_INT_ARRAY:
      return "int-array";
    case FX_KIND_RECORD_ARRAY:
      return "record-array";
    case FX_KIND_BITMAP:
      return "bitmap";
  }
  return "unknown";
}

int32_t FxFindParam(const FxEffectDesc* effect, const char* name) {
  if (!effect || !name) return -1;
  for (uint32_t i = 0; i < effect->paramCount; ++i)
    if (!std::strcmp(effect->params[i].name, name)) return static_cast<int32_t>(i);
  for (uint32_t i = 0; i < effect->paramCount; ++i)
    if (fx::SameName(effect->params[i].name, name)) return static_cast<int32_t>(i);
  return -1;
}

const char* FxResultName(int32_t code) {
  switch (code) {
#define FX_NAME(c) \
  case c:          \
    return #c;
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
    FX_NAME(FX_REGISTRY_BAD_VALUE)
    FX_NAME(FX_REGISTRY_OUT_OF_RANGE)
    FX_NAME(FX_REGISTRY_NEEDS_BITMAP)
    FX_NAME(FX_REGISTRY_AMBIGUOUS_NAME)
    FX_NAME(FX_REGISTRY_UNKNOWN_PRESET)
#undef FX_NAME
  }
  return nullptr;
}

int32_t FxFindField(const FxRecordDesc* record, const char* name) {
  if (!record || !name) return -1;
  for (uint32_t i = 0; i < record->fieldCount; ++i)
    if (!std::strcmp(record->fields[i].name, name)) return static_cast<int32_t>(i);
  for (uint32_t i = 0; i < record->fieldCount; ++i)
    if (fx::SameName(record->fields[i].name, name)) return static_cast<int32_t>(i);
  return -1;
}

void FxStoreField(const FxFieldDesc* field, void* record, int64_t value) {
  if (!field || !record) return;
  auto* bytes = static_cast<uint8_t*>(record) + field->offset;
  if (field->kind == FX_KIND_POINT) {
    const POINT p = fx::UnpackPoint(value);
    std::memcpy(bytes, &p, sizeof(p));
  } else if (field->kind == FX_KIND_INT_ARRAY) {
    const auto* p = reinterpret_cast<const int32_t*>(static_cast<intptr_t>(value));
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
    case FX_DEFAULT_CENTER:
      value->pt = fx::DefaultCenter(bitmap);
      return 1;
    case FX_DEFAULT_WIDTH_PERCENT:
      value->i = int64_t{fx::ExtentInOrientationOne(bitmap).whole.right} * p->defaultValue / 100;
      return 1;
    case FX_DEFAULT_HEIGHT_PERCENT:
      value->i = int64_t{fx::ExtentInOrientationOne(bitmap).whole.bottom} * p->defaultValue / 100;
      return 1;
    default:
      return 0;
  }
}

namespace fx {
namespace {

// What FxInvokeEx refused, written into the caller's report.
struct Refusal {
  FxReport* report;
  const FxEffectDesc& effect;
  int32_t Refuse(int32_t code, int32_t param, int32_t field, int32_t element,
                 const std::string& text) const {
    if (report) {
      report->param = param;
      report->field = field;
      report->element = element;
      WriteMessage(report->message, sizeof(report->message),
                   std::string(effect.shortName) + ": " + text);
    }
    return code;
  }
};

std::string Outside(const std::string& name, FxKind kind, int64_t value, int64_t min, int64_t max) {
  return name + "=" + ValueText(kind, value) + " is outside " + RangeText(kind, min, max);
}

// A point's coordinates against the range of each.
bool PointInRange(POINT p, int64_t min, int64_t max) {
  return p.x >= min && p.x <= max && p.y >= min && p.y <= max;
}

// Every field of `records` records at `base` within its range; SUCCESS or the refusal.
int32_t CheckRecords(const Refusal& refuse, int32_t param, const uint8_t* base, uint32_t records) {
  const FxParamDesc& p = refuse.effect.params[param];
  const FxRecordDesc& r = *p.record;
  for (uint32_t k = 0; k < records; ++k)
    for (uint32_t f = 0; f < r.fieldCount; ++f) {
      const FxFieldDesc& field = r.fields[f];
      const uint8_t* at = base + size_t{k} * r.size + field.offset;
      const std::string name = p.kind == FX_KIND_RECORD_ARRAY
                                   ? std::string(p.name) + "[" + Decimal(k) + "]." + field.name
                                   : std::string(field.name);
      const int32_t element = p.kind == FX_KIND_RECORD_ARRAY ? int32_t(k) : -1;
      if (field.kind == FX_KIND_POINT) {
        POINT pt;
        std::memcpy(&pt, at, sizeof(pt));
        if (!PointInRange(pt, field.minValue, field.maxValue))
          return refuse.Refuse(FX_REGISTRY_OUT_OF_RANGE, param, int32_t(f), element,
                               name + "=" + Decimal(pt.x) + "," + Decimal(pt.y) + " is outside " +
                                   RangeText(FX_KIND_INT32, field.minValue, field.maxValue));
        continue;
      }
      uint32_t word;
      std::memcpy(&word, at, sizeof(word));
      const int64_t value =
          field.kind == FX_KIND_INT32 ? int64_t{static_cast<int32_t>(word)} : int64_t{word};
      if (!InKindAndRange(field.kind, value, field.minValue, field.maxValue))
        return refuse.Refuse(FX_REGISTRY_OUT_OF_RANGE, param, int32_t(f), element,
                             Outside(name, field.kind, value, field.minValue, field.maxValue));
    }
  return SUCCESS;
}

// A given value against its kind and range (FX_INVOKE_CHECK_RANGES).
int32_t CheckGiven(const Refusal& refuse, int32_t param, const FxNamedValue& v) {
  const FxParamDesc& p = refuse.effect.params[param];
  switch (p.kind) {
    case FX_KIND_POINT:
      if (!PointInRange(v.value.pt, p.minValue, p.maxValue))
        return refuse.Refuse(FX_REGISTRY_OUT_OF_RANGE, param, -1, -1,
                             std::string(p.name) + "=" + Decimal(v.value.pt.x) + "," +
                                 Decimal(v.value.pt.y) + " is outside " +
                                 RangeText(FX_KIND_INT32, p.minValue, p.maxValue));
      return SUCCESS;
    case FX_KIND_INT_ARRAY: {
      const auto* values = static_cast<const int32_t*>(v.value.ptr);
      for (uint32_t k = 0; values && k < v.count; ++k)
        if (values[k] < p.minValue || values[k] > p.maxValue)
          return refuse.Refuse(FX_REGISTRY_OUT_OF_RANGE, param, -1, int32_t(k),
                               Outside(std::string(p.name) + "[" + Decimal(k) + "]", FX_KIND_INT32,
                                       values[k], p.minValue, p.maxValue));
      return SUCCESS;
    }
    case FX_KIND_RECORD:
    case FX_KIND_RECORD_ARRAY:
      if (!v.value.ptr || !p.record) return SUCCESS;
      return CheckRecords(refuse, param, static_cast<const uint8_t*>(v.value.ptr),
                          p.kind == FX_KIND_RECORD ? 1 : v.count);
    case FX_KIND_BITMAP:
      return SUCCESS;
    default:
      if (!InKindAndRange(p.kind, v.value.i, p.minValue, p.maxValue))
        return refuse.Refuse(FX_REGISTRY_OUT_OF_RANGE, param, -1, -1,
                             Outside(p.name, p.kind, v.value.i, p.minValue, p.maxValue));
      return SUCCESS;
  }
}

}  // namespace
}  // namespace fx

int32_t FxInvoke(const FxEffectDesc* effect, BitmapRecord* bitmap, const FxNamedValue* values,
                 uint32_t valueCount) {
  return FxInvokeEx(effect, bitmap, values, valueCount, 0, nullptr);
}

int32_t FxInvokeEx(const FxEffectDesc* effect, BitmapRecord* bitmap, const FxNamedValue* values,
                   uint32_t valueCount, uint32_t options, FxReport* report) {
  if (report) {
    report->param = report->field = report->element = -1;
    report->message[0] = '\0';
  }
  if (!effect) {
    if (report) fx::WriteMessage(report->message, sizeof(report->message), "no effect");
    return FX_REGISTRY_UNKNOWN_EFFECT;
  }
  const fx::Refusal refuse{report, *effect};
  if (!values) valueCount = 0;
  const uint32_t n = effect->paramCount;
  std::vector<const FxNamedValue*> given(n, nullptr);
  for (uint32_t i = 0; i < valueCount; ++i) {
    const int32_t index = FxFindParam(effect, values[i].name);
    if (index < 0) {
      std::vector<std::string> names;
      for (uint32_t p = 0; p < n; ++p) names.push_back(effect->params[p].name);
      const std::string name = values[i].name ? values[i].name : "(null)";
      return refuse.Refuse(FX_REGISTRY_UNKNOWN_PARAMETER, -1, -1, -1,
                           "unknown parameter '" + name + "'" + fx::Suggestion(name, names));
    }
    if (given[index])
      return refuse.Refuse(FX_REGISTRY_DUPLICATE_PARAMETER, index, -1, -1,
                           std::string(effect->params[index].name) + " given twice");
    given[index] = &values[i];
    if (options & FX_INVOKE_CHECK_RANGES) {
      const int32_t rc = fx::CheckGiven(refuse, index, values[i]);
      if (rc != SUCCESS) return rc;
    }
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
      if ((p.kind == FX_KIND_RECORD || p.kind == FX_KIND_RECORD_ARRAY) && p.record && args[i].ptr) {
        const size_t bytes =
            size_t{p.record->size} *
            (p.kind == FX_KIND_RECORD || given[i]->count == 0 ? 1 : given[i]->count);
        uint8_t* copy = scratch.Bytes(bytes);
        std::memcpy(copy, args[i].ptr, bytes);
        args[i].ptr = copy;
      }
      // An export reads a fixed-length array in full, whatever it was given.
      if (p.kind == FX_KIND_INT_ARRAY && p.fixedCount && args[i].ptr &&
          given[i]->count < p.fixedCount)
        return refuse.Refuse(FX_REGISTRY_ARRAY_TOO_SHORT, int32_t(i), -1, -1,
                             std::string(p.name) + " needs " + fx::Decimal(p.fixedCount) +
                                 " values, got " + fx::Decimal(given[i]->count));
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
      case FX_DEFAULT_IMAGE_ITSELF:
        args[i].ptr = bitmap;
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
      default:
        args[i].ptr = nullptr;
        break;  // FX_DEFAULT_NULL
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
      return refuse.Refuse(FX_REGISTRY_COUNT_TOO_LARGE, int32_t(i), -1, -1,
                           std::string(p.name) + "=" + fx::Decimal(count) + " is more than the " +
                               fx::Decimal(available) + " value(s) of " +
                               effect->params[p.arrayParam].name);
  }
  return effect->call(bitmap, args.data());
}
