#include "tools/fxkit/Alpha.h"

#include <cstring>
#include <list>
#include <vector>

#include "tools/fxkit/Image.h"

namespace fxcli {

namespace {

// Paint as the alpha run sees it: opaque.
constexpr uint32_t kOpaque8 = 0x00FFFFFF;
constexpr uint32_t kOpaque16 = 0x0400FFFF;  // bit 26: the low 16 bits are a literal level

bool IsPaint(uint32_t colour) {
  const uint32_t high = colour & 0xFF000000u;
  return high == 0 || high == 0x04000000u;
}

// Stored samples of one kind (8 or 16 bits), read and written by index.
template <class T>
T* Samples(BitmapRecord* b, int32_t y) {
  return reinterpret_cast<T*>(b->Data + int64_t{y} * b->BytesPerLine);
}

// Owns copies of records, arrays and bitmaps that the changed named values point to.
struct Arguments {
  std::vector<FxNamedValue> values;
  std::list<std::vector<uint8_t>> blocks;
  std::list<Image> bitmaps;
};

FxNamedValue* Find(std::vector<FxNamedValue>& values, const char* name) {
  for (FxNamedValue& v : values)
    if (std::strcmp(v.name, name) == 0) return &v;
  return nullptr;
}

// A copy of `source` for a bitmap parameter that defaults to a copy of the image.
int32_t AddImageCopies(const FxEffectDesc& effect, BitmapRecord* source, Arguments& args) {
  for (uint32_t p = 0; p < effect.paramCount; ++p) {
    const FxParamDesc& param = effect.params[p];
    if (param.kind != FX_KIND_BITMAP || param.defaultRule != FX_DEFAULT_IMAGE_COPY ||
        Find(args.values, param.name))
      continue;
    Image& copy = args.bitmaps.emplace_back();
    if (HostCopyBitmap(copy.get(), source, BITMAP_STRUCT_SIZE) != SUCCESS) return ERROR_NO_MEMORY;
    FxNamedValue v{param.name, FxValue{}, 0};
    v.value.ptr = copy.get();
    args.values.push_back(v);
  }
  return SUCCESS;
}

// Turns the colours of a record block (count records) into opaque paint.
void PaintRecords(const FxRecordDesc& record, uint8_t* block, uint32_t count, uint32_t opaque) {
  for (uint32_t r = 0; r < count; ++r)
    for (uint32_t f = 1; f < record.fieldCount; ++f) {
      const FxFieldDesc& field = record.fields[f];
      if (field.kind != FX_KIND_COLOR) continue;
      uint32_t colour;
      std::memcpy(&colour, block + size_t(r) * record.size + field.offset, sizeof(colour));
      if (IsPaint(colour)) FxStoreField(&field, block + size_t(r) * record.size, opaque);
    }
}

// The alpha run's values: every colour the effect paints is opaque.
void PaintOpaque(const FxEffectDesc& effect, BitmapRecord* plane, uint32_t opaque,
                 Arguments& args) {
  for (uint32_t p = 0; p < effect.paramCount; ++p) {
    const FxParamDesc& param = effect.params[p];
    FxNamedValue* given = Find(args.values, param.name);
    if (param.kind == FX_KIND_COLOR) {
      FxValue value{};
      if (given)
        value = given->value;
      else if (!FxScalarDefault(&param, plane, &value))
        continue;
      if (!IsPaint(uint32_t(value.i))) continue;
      if (given) {
        given->value.i = opaque;
      } else {
        FxNamedValue v{param.name, FxValue{}, 0};
        v.value.i = opaque;
        args.values.push_back(v);
      }
    } else if ((param.kind == FX_KIND_RECORD || param.kind == FX_KIND_RECORD_ARRAY) &&
               param.record) {
      const FxRecordDesc& record = *param.record;
      uint32_t count = 0;
      std::vector<uint8_t> block;
      if (given) {
        if (!given->value.ptr) continue;
        count = param.kind == FX_KIND_RECORD ? 1 : given->count;
        const auto* from = static_cast<const uint8_t*>(given->value.ptr);
        block.assign(from, from + size_t(count) * record.size);
      } else {
        if (param.defaultRule != FX_DEFAULT_ARRAY) continue;
        count = param.kind == FX_KIND_RECORD ? 1 : param.defaultArrayCount;
        block.resize(size_t(count) * record.size);
        for (uint32_t r = 0; r < count; ++r)
          FxFillRecordDefaults(&record, block.data() + size_t(r) * record.size);
      }
      if (count == 0) continue;
      PaintRecords(record, block.data(), count, opaque);
      std::vector<uint8_t>& kept = args.blocks.emplace_back(std::move(block));
      if (given) {
        given->value.ptr = kept.data();
      } else {
        FxNamedValue v{param.name, FxValue{}, count};
        v.value.ptr = kept.data();
        args.values.push_back(v);
      }
    }
  }
}

template <class T>
bool AllOpaque(BitmapRecord* b, uint32_t max) {
  for (int32_t y = 0; y < b->StoredHeight; ++y) {
    const T* row = Samples<T>(b, y);
    for (int32_t x = 0; x < b->StoredWidth; ++x)
      if (row[4 * x + 3] != max) return false;
  }
  return true;
}

// Colour planes of the copy premultiplied by the source's alpha; the alpha plane filled.
template <class T>
void Split(BitmapRecord* source, BitmapRecord* colour, BitmapRecord* alpha, uint32_t max) {
  for (int32_t y = 0; y < source->StoredHeight; ++y) {
    const T* in = Samples<T>(source, y);
    T* c = Samples<T>(colour, y);
    T* a = alpha ? Samples<T>(alpha, y) : nullptr;
    for (int32_t x = 0; x < source->StoredWidth; ++x) {
      const uint32_t alphaValue = in[4 * x + 3];
      for (int k = 0; k < 3; ++k) c[3 * x + k] = T((in[4 * x + k] * alphaValue + max / 2) / max);
      if (a) a[x] = T(alphaValue);
    }
  }
}

// The straight colour of a premultiplied sample.
inline uint32_t Unpremultiply(uint32_t c, uint32_t a, uint32_t max) {
  if (a == 0) return 0;
  const uint32_t v = (c * max + a / 2) / a;
  return v > max ? max : v;
}

// Writes the runs' results into a 4-sample bitmap of the same size: a pixel whose premultiplied
// colour and alpha did not change keeps its stored samples.
template <class T>
void Merge(BitmapRecord* target, BitmapRecord* colour, BitmapRecord* alpha, uint32_t max,
           bool keepUnchanged) {
  for (int32_t y = 0; y < target->StoredHeight; ++y) {
    T* out = Samples<T>(target, y);
    const T* c = Samples<T>(colour, y);
    const T* a = alpha ? Samples<T>(alpha, y) : nullptr;
    for (int32_t x = 0; x < target->StoredWidth; ++x) {
      const uint32_t newAlpha = a ? a[x] : max;
      if (keepUnchanged && newAlpha == out[4 * x + 3]) {
        bool same = true;
        for (int k = 0; k < 3 && same; ++k)
          same = c[3 * x + k] == (out[4 * x + k] * newAlpha + max / 2) / max;
        if (same) continue;
      }
      for (int k = 0; k < 3; ++k) out[4 * x + k] = T(Unpremultiply(c[3 * x + k], newAlpha, max));
      out[4 * x + 3] = T(newAlpha);
    }
  }
}

// While two runs share one progress bar, the colour run reports 0 .. 50 and the alpha run
// 50 .. 100 to the status callback that was installed.
class HalfProgress {
 public:
  explicit HalfProgress(int32_t half) : offset_(half * 50) {
    HostExchangeCallback(&HalfProgress::Report, this, &callback_, &user_);
  }
  ~HalfProgress() { HostExchangeCallback(callback_, user_, nullptr, nullptr); }
  HalfProgress(const HalfProgress&) = delete;
  HalfProgress& operator=(const HalfProgress&) = delete;

 private:
  static int32_t Report(int32_t percent, void* user) {
    const auto* self = static_cast<HalfProgress*>(user);
    return self->callback_ ? self->callback_(self->offset_ + percent / 2, self->user_) : SUCCESS;
  }
  int32_t offset_;
  FxStatusCallback callback_ = nullptr;
  void* user_ = nullptr;
};

int32_t Convert(BitmapRecord* b, int32_t bits, uint32_t order) {
  return HostConvertBitmap(b, b, BITMAP_STRUCT_SIZE, bits, order, nullptr, 0, 0, 0, 0);
}

}  // namespace

bool HasAlpha(const BitmapRecord& b) {
  return (b.BitsPerPixel == 32 || b.BitsPerPixel == 64) && b.Order != ORDER_GRAY;
}

int32_t InvokeWithAlpha(const FxEffectDesc& effect, BitmapRecord* bitmap,
                        const FxNamedValue* values, uint32_t valueCount, const RunSetup& setup,
                        uint32_t options, FxReport* report) {
  if (!bitmap || !HasAlpha(*bitmap) || !(effect.traits & FX_TRAIT_MOVES_PIXELS) || !bitmap->Data) {
    if (setup) setup();
    return FxInvokeEx(&effect, bitmap, values, valueCount, options, report);
  }
  const bool deep = bitmap->BitsPerPixel == 64;
  const uint32_t max = deep ? 65535 : 255;
  const bool opaque = deep ? AllOpaque<uint16_t>(bitmap, max) : AllOpaque<uint8_t>(bitmap, max);

  Image colour, alpha;
  int32_t rc = HostCopyBitmap(colour.get(), bitmap, BITMAP_STRUCT_SIZE);
  if (rc == SUCCESS) rc = Convert(colour.get(), deep ? 48 : 24, bitmap->Order);
  if (rc == SUCCESS && !opaque) rc = HostCopyBitmap(alpha.get(), colour.get(), BITMAP_STRUCT_SIZE);
  if (rc == SUCCESS && !opaque) rc = Convert(alpha.get(), deep ? 16 : 8, ORDER_GRAY);
  if (rc != SUCCESS) return rc;
  if (!opaque) {
    if (deep)
      Split<uint16_t>(bitmap, colour.get(), alpha.get(), max);
    else
      Split<uint8_t>(bitmap, colour.get(), alpha.get(), max);
  }

  Arguments colourArgs, alphaArgs;
  colourArgs.values.assign(values, values + valueCount);
  alphaArgs.values.assign(values, values + valueCount);
  rc = AddImageCopies(effect, colour.get(), colourArgs);
  if (rc == SUCCESS && !opaque) rc = AddImageCopies(effect, colour.get(), alphaArgs);
  if (rc != SUCCESS) return rc;
  if (!opaque) PaintOpaque(effect, alpha.get(), deep ? kOpaque16 : kOpaque8, alphaArgs);

  if (setup) setup();
  if (opaque) {
    rc = FxInvokeEx(&effect, colour.get(), colourArgs.values.data(),
                    uint32_t(colourArgs.values.size()), options, report);
  } else {
    HalfProgress first(0);
    rc = FxInvokeEx(&effect, colour.get(), colourArgs.values.data(),
                    uint32_t(colourArgs.values.size()), options, report);
  }
  if (rc != SUCCESS) return rc;
  if (!opaque) {
    if (setup) setup();
    {
      HalfProgress second(1);
      rc = FxInvokeEx(&effect, alpha.get(), alphaArgs.values.data(),
                      uint32_t(alphaArgs.values.size()), options, report);
    }
    if (rc != SUCCESS) return rc;
    if (alpha->StoredWidth != colour->StoredWidth || alpha->StoredHeight != colour->StoredHeight)
      return ERROR_INV_PARAMETER;
  }

  const bool sameSize =
      colour->StoredWidth == bitmap->StoredWidth && colour->StoredHeight == bitmap->StoredHeight;
  BitmapRecord* target = bitmap;
  Image resized;
  if (!sameSize) {
    // A resizing effect: a new 4-sample bitmap of the new size replaces the old one.
    rc = HostConvertBitmap(resized.get(), colour.get(), BITMAP_STRUCT_SIZE, bitmap->BitsPerPixel,
                           bitmap->Order, nullptr, 0, 0, 0, 0);
    if (rc != SUCCESS) return rc;
    target = resized.get();
  }
  BitmapRecord* alphaPlane = opaque ? nullptr : alpha.get();
  if (deep)
    Merge<uint16_t>(target, colour.get(), alphaPlane, max, sameSize);
  else
    Merge<uint8_t>(target, colour.get(), alphaPlane, max, sameSize);
  if (!sameSize) return HostAssignBitmap(bitmap, resized.get(), BITMAP_STRUCT_SIZE);
  return SUCCESS;
}

}  // namespace fxcli
