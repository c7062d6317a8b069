// Registry-driven calls and the checks every call must pass.
#include "ReliabilityHarness.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <optional>
#include <sstream>

#include "host/HostInternal.h"

namespace fxrel {

namespace {

constexpr uint32_t kSeed = 20240601u;
constexpr uint32_t kTick = 123456u;
constexpr int64_t kTime = 1700000000;
const int32_t kEmptyArray[1] = {0};

// Bytes of pixels in a stored row; never past the stride, whatever the record's depth says.
int64_t StoredRowBytes(const BitmapRecord* b) {
  const int32_t bits = b->BitsPerPixel == 12 ? 16 : b->BitsPerPixel;
  if (bits <= 0 || b->StoredWidth <= 0 || b->BytesPerLine <= 0) return 0;
  return std::min<int64_t>((int64_t{b->StoredWidth} * bits + 7) / 8, b->BytesPerLine);
}

}  // namespace

const std::vector<Format>& Formats() {
  static const std::vector<Format> formats = {
      {1, ORDER_BGR, "pal1"},   {4, ORDER_BGR, "pal4"},     {8, ORDER_BGR, "pal8"},
      {8, ORDER_GRAY, "gray8"}, {12, ORDER_GRAY, "gray12"}, {16, ORDER_GRAY, "gray16"},
      {24, ORDER_BGR, "bgr24"}, {24, ORDER_RGB, "rgb24"},   {32, ORDER_BGR, "bgr32"},
      {32, ORDER_RGB, "rgb32"}, {48, ORDER_BGR, "bgr48"},   {48, ORDER_RGB, "rgb48"},
      {64, ORDER_BGR, "bgr64"}, {64, ORDER_RGB, "rgb64"},
  };
  return formats;
}

const Format& FormatNamed(const char* name) {
  for (const Format& f : Formats())
    if (std::strcmp(f.name, name) == 0) return f;
  return Formats().front();
}

Bitmap::~Bitmap() {
  HostFreeBitmap(&record_);
}

int32_t Bitmap::Allocate(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t order,
                         uint8_t orientation) {
  HostFreeBitmap(&record_);
  // Distinct, well-spread palette colours make nearest-entry write-back lossless.
  COLORREF palette[256];
  for (uint32_t i = 0; i < 256; ++i)
    palette[i] = ((i * 37) & 0xFF) | ((i * 91 + 17) & 0xFF) << 8 | ((i * 53 + 101) & 0xFF) << 16;
  return HostCreateBitmap(&record_, BITMAP_STRUCT_SIZE, 1, width, height, bitsPerPixel, order,
                          palette, orientation, nullptr, 0);
}

int32_t Bitmap::Create(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t order,
                       uint8_t orientation, uint32_t seed) {
  const int32_t rc = Allocate(width, height, bitsPerPixel, order, orientation);
  if (rc == SUCCESS) FillNoise(&record_, seed);
  return rc;
}

void FillNoise(BitmapRecord* b, uint32_t seed) {
  if (!b->Data) return;
  uint32_t state = seed * 2654435761u + 1;
  const uint32_t paletteMask = b->PaletteCount ? b->PaletteCount - 1 : 0;
  const int64_t bytes = StoredRowBytes(b);
  for (int32_t y = 0; y < b->StoredHeight; ++y) {
    uint8_t* row = b->Data + int64_t{y} * b->BytesPerLine;
    for (int64_t i = 0; i < bytes; ++i) {
      state = state * 1664525u + 1013904223u;
      uint8_t v = static_cast<uint8_t>(state >> 24);
      if (b->BitsPerPixel == 8 && b->Order != ORDER_GRAY) v &= paletteMask;
      row[i] = v;
    }
    if (b->BitsPerPixel == 12)
      for (int32_t x = 0; x < b->StoredWidth; ++x) row[2 * x + 1] &= 0x0F;
  }
}

int32_t SetRectRegion(BitmapRecord* b) {
  const int32_t w = b->Width, h = b->Height;
  RECT r{w / 6, h / 5, w - w / 4, h - h / 6};
  r.right = std::max(r.right, r.left + 1);
  r.bottom = std::max(r.bottom, r.top + 1);
  return HostSetRegionRect(b, nullptr, &r, 1);
}

int32_t SetMaskRegion(BitmapRecord* b) {
  const int32_t w = b->Width, h = b->Height;
  std::vector<uint8_t> mask(size_t(w) * h, 0);
  const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
  const double rx = std::max(1.0, w / 2.0), ry = std::max(1.0, h / 2.0);
  bool any = false;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const double dx = (x - cx) / rx, dy = (y - cy) / ry, d = dx * dx + dy * dy;
      const bool notch = x > cx && y >= cy - 0.5 && y <= cy + 0.5;
      if (d >= 0.12 && d <= 0.9 && !notch) mask[size_t(y) * w + x] = 1, any = true;
    }
  if (!any) mask[0] = 1;
  return HostSetRegionMask(b, mask.data(), w);
}

int32_t MakeScene(Bitmap& bitmap, const Scene& s) {
  int32_t rc = bitmap.Create(s.width, s.height, s.format.bitsPerPixel, s.format.order,
                             s.orientation, s.seed);
  if (rc != SUCCESS) return rc;
  if (s.region == RegionKind::Rect) rc = SetRectRegion(bitmap.get());
  if (s.region == RegionKind::Mask) rc = SetMaskRegion(bitmap.get());
  return rc;
}

std::string Describe(const Scene& s) {
  static const char* const kRegions[] = {"no region", "rect region", "mask region"};
  return std::string(s.format.name) + " " + std::to_string(s.width) + "x" +
         std::to_string(s.height) + " orientation " + std::to_string(s.orientation) + " " +
         kRegions[static_cast<int>(s.region)];
}

Working ReadWorking(BitmapRecord* b) {
  Working w;
  RowAccess* a = nullptr;
  if (!b || HostOpenRowAccess(b, &a, 2) != SUCCESS) return w;
  w.sampleBits = HostSampleBits(a);
  w.pixelStep = HostPixelStep(a);
  w.rowBytes = HostRowBytes(a);
  w.rows.resize(size_t(w.rowBytes) * b->Height);
  for (int32_t y = 0; y < b->Height; ++y)
    if (HostReadRow(a, w.rows.data() + size_t(y) * w.rowBytes, y, 0, nullptr) != SUCCESS) {
      w.rows.clear();
      break;
    }
  HostCloseRowAccess(a);
  return w;
}

std::vector<uint8_t> StoredBytes(const BitmapRecord* b) {
  std::vector<uint8_t> out;
  if (!b || !b->Data || b->StoredHeight <= 0) return out;
  const int64_t bytes = StoredRowBytes(b);
  for (int32_t y = 0; y < b->StoredHeight; ++y) {
    const uint8_t* row = b->Data + int64_t{y} * b->BytesPerLine;
    out.insert(out.end(), row, row + bytes);
  }
  return out;
}

int64_t OwnedBlocks(const BitmapRecord* b) {
  if (!b) return 0;
  return int64_t{(b->HostFlags & host::kHostOwnsData) && b->Data} +
         int64_t{(b->HostFlags & host::kHostOwnsPalette) && b->Palette} +
         int64_t{b->Region != nullptr};
}

Snapshot Take(BitmapRecord* b) {
  Snapshot s;
  if (!b) return s;
  s.record = *b;
  s.stored = StoredBytes(b);
  s.hasRegion = HostHasRegion(b) != 0;
  s.ownedBlocks = OwnedBlocks(b);
  s.working = ReadWorking(b);
  if (!s.working.rows.empty())
    for (int32_t y = 0; y < b->Height; ++y)
      for (int32_t x = 0; x < b->Width; ++x) s.inRegion.push_back(HostIsInRegion(b, x, y) ? 1 : 0);
  return s;
}

// One argument and the storage it points into.
struct EffectCall::Arg {
  bool set = false, null = false;
  bool itself = false;                   // a bitmap parameter given the bitmap called on
  FxValue value{};                       // scalars and points
  std::optional<int32_t> coordinate[2];  // point coordinates set over the value
  std::vector<uint8_t> records;          // RECORD and RECORD_ARRAY, made on first use
  uint32_t recordCount = 0;
  std::vector<int32_t> ints;                                       // INT_ARRAY
  std::vector<std::unique_ptr<std::vector<int32_t>>> fieldArrays;  // array fields' values
  std::unique_ptr<Bitmap> bitmap;
};

EffectCall::EffectCall(const FxEffectDesc* effect) : effect_(effect), args_(effect->paramCount) {}

EffectCall::~EffectCall() = default;

int64_t Canonical(FxKind kind, int64_t value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  return kind == FX_KIND_INT32 ? int64_t{static_cast<int32_t>(bits)} : int64_t{bits};
}

EffectCall::Arg& EffectCall::Given(uint32_t param) {
  Arg& a = args_[param];
  a.set = true;
  a.null = false;
  return a;
}

void EffectCall::SetValue(uint32_t param, int64_t value) {
  Given(param).value.i = Canonical(effect_->params[param].kind, value);
}

void EffectCall::SetPointCoordinate(uint32_t param, int axis, int32_t value) {
  args_[param].coordinate[axis] = value;
}

void EffectCall::SetNull(uint32_t param) {
  args_[param] = Arg{};
  args_[param].set = args_[param].null = true;
}

EffectCall::Arg& EffectCall::EnsureRecords(uint32_t param) {
  Arg& a = args_[param];
  const FxParamDesc& p = effect_->params[param];
  if (a.records.empty() && p.record) {
    a.recordCount = p.kind == FX_KIND_RECORD_ARRAY ? p.defaultArrayCount : 1;
    a.records.assign(size_t{std::max<uint32_t>(1, a.recordCount)} * p.record->size, 0);
    for (uint32_t r = 0; r < a.recordCount; ++r)
      FxFillRecordDefaults(p.record, a.records.data() + size_t{r} * p.record->size);
  }
  a.set = true;
  return a;
}

void EffectCall::SetRecordCount(uint32_t param, uint32_t count) {
  const FxRecordDesc* record = effect_->params[param].record;
  if (!record) return;
  Arg& a = EnsureRecords(param);
  a.null = false;
  a.records.resize(size_t{record->size} * std::max<uint32_t>(1, count), 0);
  for (uint32_t r = a.recordCount; r < count; ++r)
    FxFillRecordDefaults(record, a.records.data() + size_t{r} * record->size);
  a.recordCount = count;
}

void EffectCall::SetRecordField(uint32_t param, uint32_t record, uint32_t field, int64_t value) {
  const FxRecordDesc* desc = effect_->params[param].record;
  if (!desc || field >= desc->fieldCount || desc->fields[field].kind == FX_KIND_INT_ARRAY) return;
  Arg& a = EnsureRecords(param);
  if (record < a.recordCount)
    FxStoreField(&desc->fields[field], a.records.data() + size_t{record} * desc->size, value);
}

void EffectCall::SetRecordArray(uint32_t param, uint32_t record, uint32_t field,
                                const std::vector<int32_t>* values) {
  const FxRecordDesc* desc = effect_->params[param].record;
  if (!desc || field >= desc->fieldCount || desc->fields[field].kind != FX_KIND_INT_ARRAY) return;
  Arg& a = EnsureRecords(param);
  if (record >= a.recordCount) return;
  const int32_t* pointer = nullptr;
  if (values) {
    a.fieldArrays.push_back(std::make_unique<std::vector<int32_t>>(*values));
    pointer = a.fieldArrays.back()->data();
  }
  FxStoreField(&desc->fields[field], a.records.data() + size_t{record} * desc->size,
               static_cast<int64_t>(reinterpret_cast<intptr_t>(pointer)));
}

void EffectCall::SetRecordSize(uint32_t param, uint32_t size) {
  if (!effect_->params[param].record) return;
  Arg& a = EnsureRecords(param);
  if (a.records.size() >= sizeof(size)) std::memcpy(a.records.data(), &size, sizeof(size));
}

void EffectCall::SetArray(uint32_t param, std::vector<int32_t> values) {
  Given(param).ints = std::move(values);
}

void EffectCall::SetBitmap(uint32_t param, std::unique_ptr<Bitmap> bitmap) {
  Given(param).null = !bitmap;
  args_[param].itself = false;
  args_[param].bitmap = std::move(bitmap);
}

void EffectCall::Resolve(BitmapRecord* bitmap) {
  const uint32_t n = effect_->paramCount;
  for (uint32_t i = 0; i < n; ++i) {
    const FxParamDesc& p = effect_->params[i];
    Arg& a = args_[i];
    if (a.set || p.defaultRule == FX_DEFAULT_COUNT) continue;
    a.set = true;
    if (FxScalarDefault(&p, bitmap, &a.value)) continue;
    switch (p.defaultRule) {
      case FX_DEFAULT_IMAGE_COPY:  // a copy that cannot be made is passed as null
        a.bitmap = std::make_unique<Bitmap>();
        if (!bitmap || HostSetOrientation(a.bitmap->get(), bitmap, BITMAP_STRUCT_SIZE,
                                          bitmap->Orientation, 7) != SUCCESS)
          a.bitmap.reset();
        break;
      case FX_DEFAULT_IMAGE_ITSELF:
        a.itself = true;
        break;
      case FX_DEFAULT_TEXTURE:
        a.bitmap = std::make_unique<Bitmap>();
        if (a.bitmap->Create(128, 128, 8, ORDER_GRAY, 1, 77) != SUCCESS) a.bitmap.reset();
        break;
      case FX_DEFAULT_ARRAY:
        if (p.kind == FX_KIND_INT_ARRAY)
          a.ints.assign(p.defaultArray, p.defaultArray + p.defaultArrayCount);
        else
          EnsureRecords(i);
        break;
      default:  // FX_DEFAULT_NULL
        a.null = true;
        break;
    }
  }
  // Counts follow the arrays just resolved.
  for (uint32_t i = 0; i < n; ++i) {
    const FxParamDesc& p = effect_->params[i];
    Arg& a = args_[i];
    if (a.set || p.defaultRule != FX_DEFAULT_COUNT) continue;
    a.set = true;
    a.value.i = 0;
    if (p.arrayParam >= 0 && static_cast<uint32_t>(p.arrayParam) < n && !args_[p.arrayParam].null)
      a.value.i = effect_->params[p.arrayParam].kind == FX_KIND_INT_ARRAY
                      ? static_cast<int64_t>(args_[p.arrayParam].ints.size())
                      : args_[p.arrayParam].recordCount;
  }
}

void PrepareRun(const FxEffectDesc* effect, int run) {
  const bool random = effect->traits & FX_TRAIT_RANDOM;
  const bool clock = effect->traits & FX_TRAIT_CLOCK;
  const bool same = run == 0;
  HostSeedRandom(random || same ? kSeed : kSeed ^ 0x9E3779B9u);
  HostFixTickCount(clock || same ? kTick : kTick + 7777777u);
  HostFixTime(clock || same ? kTime : kTime - 123456789);
}

int32_t EffectCall::Invoke(BitmapRecord* bitmap, int run) const {
  const uint32_t n = effect_->paramCount;
  std::vector<FxNamedValue> values(n);
  for (uint32_t i = 0; i < n; ++i) {
    const Arg& a = args_[i];
    FxNamedValue& v = values[i];
    v = FxNamedValue{effect_->params[i].name, a.value, 0};
    switch (effect_->params[i].kind) {
      case FX_KIND_POINT:
        if (a.coordinate[0]) v.value.pt.x = *a.coordinate[0];
        if (a.coordinate[1]) v.value.pt.y = *a.coordinate[1];
        break;
      case FX_KIND_RECORD:
      case FX_KIND_RECORD_ARRAY:
        v.value.ptr = a.null || a.records.empty() ? nullptr : a.records.data();
        v.count = a.null ? 0 : a.recordCount;
        break;
      case FX_KIND_INT_ARRAY:
        v.value.ptr = a.null ? nullptr : (a.ints.empty() ? kEmptyArray : a.ints.data());
        v.count = a.null ? 0 : static_cast<uint32_t>(a.ints.size());
        break;
      case FX_KIND_BITMAP:
        v.value.ptr = a.itself ? bitmap : a.null || !a.bitmap ? nullptr : a.bitmap->get();
        break;
      default:  // scalars
        break;
    }
  }
  PrepareRun(effect_, run);
  return FxInvoke(effect_, bitmap, values.data(), n);
}

bool IsKnownCode(int32_t rc) {
  // 0 comes from an export that resets an out-of-range field of its record.
  return rc == 0 || FxResultName(rc) != nullptr;
}

std::string CheckCall(const CallContext& c, const Snapshot& before, BitmapRecord* b) {
  std::ostringstream problems;
  const uint32_t traits = c.effect ? c.effect->traits : 0;
  const bool resizes = traits & FX_TRAIT_RESIZES;
  if (!c.extraCodesAllowed && !IsKnownCode(c.rc))
    problems << "unknown result code " << c.rc << "\n";
  const int64_t leaked =
      (HostLiveBlocks() - OwnedBlocks(b)) - (c.blocksBefore - before.ownedBlocks);
  if (leaked != 0) problems << leaked << " host blocks leaked\n";
  FxStatusCallback callback = nullptr;
  void* userData = nullptr;
  HostExchangeCallback(c.callback, c.userData, &callback, &userData);
  if (callback != c.callback || userData != c.userData)
    problems << "the status callback was not restored\n";
  if (!b) return problems.str();

  const BitmapRecord& was = before.record;
  const bool sameOrientation = b->Orientation == was.Orientation;
  if (!sameOrientation && !(resizes && b->Orientation == 1))
    problems << "orientation " << int(b->Orientation) << " after the call, " << int(was.Orientation)
             << " before\n";
  if (!c.effect) return problems.str();
  if (b->StructSize != was.StructSize) problems << "StructSize changed\n";
  const bool sameFormat = b->BitsPerPixel == was.BitsPerPixel && b->Order == was.Order;
  if (!resizes) {
    if (b->Width != was.Width || b->Height != was.Height || b->StoredWidth != was.StoredWidth ||
        b->StoredHeight != was.StoredHeight)
      problems << "size changed to " << b->Width << "x" << b->Height << "\n";
    if (!sameFormat) problems << "format changed\n";
    if (b->Flags != was.Flags) problems << "Flags changed\n";
    if ((HostHasRegion(b) != 0) != before.hasRegion) problems << "region dropped or added\n";
  } else if (c.rc == SUCCESS && !sameFormat) {
    problems << "format not restored after a successful call\n";
  }
  if (before.working.rows.empty()) return problems.str();

  const Working after = ReadWorking(b);
  if (after.rows.empty()) problems << "the bitmap can no longer be read\n";
  if (resizes || !sameOrientation || after.rows.size() != before.working.rows.size())
    return problems.str();
  const int32_t sampleBytes = after.sampleBits / 8, step = after.pixelStep;
  const size_t pixelBytes = size_t(step) * sampleBytes;
  int64_t outside = 0, alpha = 0;
  for (int32_t y = 0; y < was.Height; ++y)
    for (int32_t x = 0; x < was.Width; ++x) {
      const size_t at = size_t(y) * after.rowBytes + x * pixelBytes;
      const uint8_t *now = &after.rows[at], *then = &before.working.rows[at];
      if (before.hasRegion && !before.inRegion[size_t(y) * was.Width + x] &&
          std::memcmp(now, then, pixelBytes) != 0)
        ++outside;
      if (step == 4 && !(traits & FX_TRAIT_WHOLE_IMAGE) &&
          std::memcmp(now + 3 * sampleBytes, then + 3 * sampleBytes, sampleBytes) != 0)
        ++alpha;
    }
  if (outside) problems << outside << " pixels outside the region changed\n";
  if (alpha) problems << alpha << " fourth samples changed\n";
  return problems.str();
}

std::string InvokeChecked(EffectCall& call, BitmapRecord* bitmap, int32_t* rc, int run) {
  call.Resolve(bitmap);
  const Snapshot before = Take(bitmap);
  CallContext context;
  context.effect = call.effect();
  context.blocksBefore = HostLiveBlocks();
  context.rc = *rc = call.Invoke(bitmap, run);
  return CheckCall(context, before, bitmap);
}

}  // namespace fxrel
