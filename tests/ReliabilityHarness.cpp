// Registry-driven calls and the checks every call must pass.
#include "ReliabilityHarness.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "host/HostInternal.h"

namespace fxrel {

namespace {

constexpr uint32_t kSeed = 20240601u;
constexpr uint32_t kTick = 123456u;
constexpr int64_t kTime = 1700000000;

// A palette of distinct, well-spread colours, so nearest-entry write-back is lossless.
void MakePalette(COLORREF* palette) {
  for (uint32_t i = 0; i < 256; ++i)
    palette[i] = ((i * 37) & 0xFF) | ((i * 91 + 17) & 0xFF) << 8 | ((i * 53 + 101) & 0xFF) << 16;
}

// Bytes of pixels in a stored row; never past the stride, whatever the record's depth says.
int64_t StoredRowBytes(const BitmapRecord* b) {
  const int32_t bits = b->BitsPerPixel == 12 ? 16 : b->BitsPerPixel;
  if (bits <= 0 || b->StoredWidth <= 0 || b->BytesPerLine <= 0) return 0;
  return std::min<int64_t>((int64_t{b->StoredWidth} * bits + 7) / 8, b->BytesPerLine);
}

bool IsPointKind(FxKind kind) {
  return kind == FX_KIND_POINT;
}
bool IsRecordKind(FxKind kind) {
  return kind == FX_KIND_RECORD || kind == FX_KIND_RECORD_ARRAY;
}

void StoreField(uint8_t* record, const FxFieldDesc& f, uint32_t recordSize, int64_t value) {
  if (IsPointKind(f.kind)) {
    if (f.offset + sizeof(POINT) > recordSize) return;
    POINT p{static_cast<int32_t>(value & 0xFFFFFFFF), static_cast<int32_t>(value >> 32)};
    std::memcpy(record + f.offset, &p, sizeof(p));
  } else {
    if (f.offset + sizeof(uint32_t) > recordSize) return;
    const uint32_t v = static_cast<uint32_t>(value);
    std::memcpy(record + f.offset, &v, sizeof(v));
  }
}

void FillDefaultRecord(uint8_t* record, const FxRecordDesc& desc) {
  for (uint32_t i = 0; i < desc.fieldCount; ++i)
    StoreField(record, desc.fields[i], desc.size, desc.fields[i].defaultValue);
  const uint32_t size = desc.size;
  std::memcpy(record, &size, sizeof(size));
}

// The centre of the rectangle to process as the effect sees it (orientation 1), as the
// registry's default does.
POINT DefaultCenter(BitmapRecord* b) {
  if (!b || b->StructSize < BITMAP_STRUCT_SIZE_OLD) return POINT{0, 0};
  const uint8_t saved = b->Orientation;
  HostSetOrientation(nullptr, b, BITMAP_STRUCT_SIZE, 1, 0);
  RECT r{0, 0, b->Width, b->Height};
  if (HostHasRegion(b)) HostGetRegionBounds(b, nullptr, &r);
  HostSetOrientation(nullptr, b, BITMAP_STRUCT_SIZE, saved, 0);
  return POINT{static_cast<int32_t>((int64_t{r.left} + r.right) / 2),
               static_cast<int32_t>((int64_t{r.top} + r.bottom) / 2)};
}

const int32_t kEmptyArray[1] = {0};

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

Bitmap::~Bitmap() {
  HostFreeBitmap(&record_);
}

int32_t Bitmap::Create(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t order,
                       uint8_t orientation, uint32_t seed) {
  HostFreeBitmap(&record_);
  COLORREF palette[256];
  MakePalette(palette);
  const int32_t rc = HostCreateBitmap(&record_, BITMAP_STRUCT_SIZE, 1, width, height, bitsPerPixel,
                                      order, palette, orientation, nullptr, 0);
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

int64_t OwnedBlocks(const BitmapRecord* b) {
  if (!b) return 0;
  return int64_t{(b->HostFlags & host::kHostOwnsData) && b->Data} +
         int64_t{(b->HostFlags & host::kHostOwnsPalette) && b->Palette} +
         int64_t{b->Region != nullptr};
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

namespace {

// Working rows of the current view, or empty when the bitmap cannot be read.
std::vector<uint8_t> ReadWorking(BitmapRecord* b, int32_t* sampleBits, int32_t* pixelStep,
                                 int32_t* rowBytes) {
  std::vector<uint8_t> out;
  RowAccess* a = nullptr;
  if (!b || HostOpenRowAccess(b, &a, 2) != SUCCESS) return out;
  *sampleBits = HostSampleBits(a);
  *pixelStep = HostPixelStep(a);
  *rowBytes = HostRowBytes(a);
  out.resize(size_t(*rowBytes) * b->Height);
  for (int32_t y = 0; y < b->Height; ++y)
    if (HostReadRow(a, out.data() + size_t(y) * *rowBytes, y, 0, nullptr) != SUCCESS) {
      out.clear();
      break;
    }
  HostCloseRowAccess(a);
  return out;
}

}  // namespace

Snapshot Take(BitmapRecord* b) {
  Snapshot s;
  if (!b) return s;
  s.stored = StoredBytes(b);
  s.width = b->Width;
  s.height = b->Height;
  s.storedWidth = b->StoredWidth;
  s.storedHeight = b->StoredHeight;
  s.bitsPerPixel = b->BitsPerPixel;
  s.order = b->Order;
  s.flags = b->Flags;
  s.structSize = b->StructSize;
  s.orientation = b->Orientation;
  s.hasRegion = HostHasRegion(b) != 0;
  s.ownedBlocks = OwnedBlocks(b);
  s.working = ReadWorking(b, &s.sampleBits, &s.pixelStep, &s.rowBytes);
  if (!s.working.empty()) {
    s.inRegion.resize(size_t(s.width) * s.height);
    for (int32_t y = 0; y < s.height; ++y)
      for (int32_t x = 0; x < s.width; ++x)
        s.inRegion[size_t(y) * s.width + x] = HostIsInRegion(b, x, y) ? 1 : 0;
  }
  return s;
}

// One argument and the storage it points into.
struct EffectCall::Arg {
  bool set = false;
  bool null = false;
  int64_t value = 0;
  POINT point{};
  std::vector<uint8_t> records;  // RECORD and RECORD_ARRAY
  uint32_t recordCount = 0;
  bool recordsMade = false;
  std::vector<int32_t> ints;  // INT_ARRAY
  std::unique_ptr<Bitmap> bitmap;
  int axis = -1;  // a point coordinate set over the default
  int32_t axisValue = 0;
};

EffectCall::EffectCall(const FxEffectDesc* effect) : effect_(effect) {
  for (uint32_t i = 0; i < effect->paramCount; ++i) args_.push_back(std::make_unique<Arg>());
}

EffectCall::~EffectCall() = default;

int64_t Canonical(FxKind kind, int64_t value) {
  const uint32_t bits = static_cast<uint32_t>(value);
  if (kind == FX_KIND_INT32) return static_cast<int32_t>(bits);
  return bits;
}

void EffectCall::SetValue(uint32_t param, int64_t value) {
  Arg& a = *args_[param];
  a.set = true;
  a.null = false;
  a.value = Canonical(effect_->params[param].kind, value);
}

void EffectCall::SetPoint(uint32_t param, POINT point) {
  Arg& a = *args_[param];
  a.set = true;
  a.point = point;
}

void EffectCall::SetPointCoordinate(uint32_t param, int axis, int32_t value) {
  Arg& a = *args_[param];
  a.axis = axis;
  a.axisValue = value;
  if (a.set) (axis ? a.point.y : a.point.x) = value;
}

void EffectCall::SetNull(uint32_t param) {
  Arg& a = *args_[param];
  a.set = true;
  a.null = true;
  a.records.clear();
  a.recordCount = 0;
  a.recordsMade = true;
  a.ints.clear();
  a.bitmap.reset();
}

EffectCall::Arg& EffectCall::EnsureRecords(uint32_t param) {
  Arg& a = *args_[param];
  const FxParamDesc& p = effect_->params[param];
  if (!a.recordsMade && p.record) {
    a.recordsMade = true;
    a.recordCount = p.kind == FX_KIND_RECORD_ARRAY ? p.defaultArrayCount : 1;
    a.records.assign(size_t{std::max<uint32_t>(1, a.recordCount)} * p.record->size, 0);
    for (uint32_t r = 0; r < a.recordCount; ++r)
      FillDefaultRecord(a.records.data() + size_t{r} * p.record->size, *p.record);
  }
  a.set = true;
  return a;
}

void EffectCall::SetRecordCount(uint32_t param, uint32_t count) {
  const FxParamDesc& p = effect_->params[param];
  if (!p.record) return;
  Arg& a = EnsureRecords(param);
  a.null = false;
  const size_t size = p.record->size;
  a.records.resize(size * std::max<uint32_t>(1, count), 0);
  for (uint32_t r = a.recordCount; r < count; ++r)
    FillDefaultRecord(a.records.data() + r * size, *p.record);
  a.recordCount = count;
}

void EffectCall::SetRecordField(uint32_t param, uint32_t record, uint32_t field, int64_t value) {
  const FxParamDesc& p = effect_->params[param];
  if (!p.record || field >= p.record->fieldCount) return;
  Arg& a = EnsureRecords(param);
  if (record >= a.recordCount) return;
  StoreField(a.records.data() + size_t{record} * p.record->size, p.record->fields[field],
             p.record->size, value);
}

void EffectCall::SetRecordSize(uint32_t param, uint32_t size) {
  const FxParamDesc& p = effect_->params[param];
  if (!p.record) return;
  Arg& a = EnsureRecords(param);
  if (a.records.size() >= sizeof(size)) std::memcpy(a.records.data(), &size, sizeof(size));
}

void EffectCall::SetArray(uint32_t param, std::vector<int32_t> values) {
  Arg& a = *args_[param];
  a.set = true;
  a.null = false;
  a.ints = std::move(values);
}

void EffectCall::SetBitmap(uint32_t param, std::unique_ptr<Bitmap> bitmap) {
  Arg& a = *args_[param];
  a.set = true;
  a.null = !bitmap;
  a.bitmap = std::move(bitmap);
}

void EffectCall::Resolve(BitmapRecord* bitmap) {
  const uint32_t n = effect_->paramCount;
  for (uint32_t i = 0; i < n; ++i) {
    const FxParamDesc& p = effect_->params[i];
    Arg& a = *args_[i];
    if (a.set || p.defaultRule == FX_DEFAULT_COUNT) continue;
    a.set = true;
    switch (p.defaultRule) {
      case FX_DEFAULT_VALUE:
        if (IsPointKind(p.kind))
          a.point = POINT{static_cast<int32_t>(p.defaultValue & 0xFFFFFFFF),
                          static_cast<int32_t>(p.defaultValue >> 32)};
        else
          a.value = Canonical(p.kind, p.defaultValue);
        break;
      case FX_DEFAULT_CENTER:
        a.point = DefaultCenter(bitmap);
        break;
      case FX_DEFAULT_WIDTH_PERCENT:
        a.value = bitmap ? int64_t{bitmap->Width} * p.defaultValue / 100 : 0;
        break;
      case FX_DEFAULT_HEIGHT_PERCENT:
        a.value = bitmap ? int64_t{bitmap->Height} * p.defaultValue / 100 : 0;
        break;
      case FX_DEFAULT_NULL:
        a.null = true;
        break;
      case FX_DEFAULT_IMAGE_COPY: {
        a.bitmap = std::make_unique<Bitmap>();
        if (!bitmap || HostSetOrientation(a.bitmap->get(), bitmap, BITMAP_STRUCT_SIZE,
                                          bitmap->Orientation, 7) != SUCCESS) {
          a.bitmap.reset();  // passed as null
        }
        break;
      }
      case FX_DEFAULT_TEXTURE:
        a.bitmap = std::make_unique<Bitmap>();
        if (a.bitmap->Create(128, 128, 8, ORDER_GRAY, 1, 77) != SUCCESS) {
          a.bitmap.reset();  // passed as null
        }
        break;
      case FX_DEFAULT_ARRAY:
        if (p.kind == FX_KIND_INT_ARRAY) {
          a.ints.assign(p.defaultArray, p.defaultArray + p.defaultArrayCount);
        } else if (IsRecordKind(p.kind)) {
          a.set = false;
          EnsureRecords(i);
        }
        break;
      case FX_DEFAULT_COUNT:
        break;
    }
    if (IsPointKind(p.kind) && a.axis >= 0) (a.axis ? a.point.y : a.point.x) = a.axisValue;
  }
  for (uint32_t i = 0; i < n; ++i) {
    const FxParamDesc& p = effect_->params[i];
    Arg& a = *args_[i];
    if (a.set || p.defaultRule != FX_DEFAULT_COUNT) continue;
    a.set = true;
    a.value = 0;
    if (p.arrayParam >= 0 && static_cast<uint32_t>(p.arrayParam) < n) {
      const Arg& array = *args_[p.arrayParam];
      if (!array.null)
        a.value = effect_->params[p.arrayParam].kind == FX_KIND_INT_ARRAY
                      ? static_cast<int64_t>(array.ints.size())
                      : array.recordCount;
    }
  }
}

void PrepareRun(const FxEffectDesc* effect, int run) {
  // An effect that does not declare a trait sees other generator and clock values on run 1,
  // so an undeclared use shows as a difference between two runs.
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
    const FxParamDesc& p = effect_->params[i];
    const Arg& a = *args_[i];
    FxNamedValue& v = values[i];
    v.name = p.name;
    v.count = 0;
    switch (p.kind) {
      case FX_KIND_POINT:
        v.value.pt = a.point;
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
        v.value.ptr = a.null || !a.bitmap ? nullptr : a.bitmap->get();
        break;
      default:
        v.value.i = a.value;
        break;
    }
  }
  PrepareRun(effect_, run);
  return FxInvoke(effect_, bitmap, values.data(), n);
}

bool IsKnownCode(int32_t rc) {
  switch (rc) {
    case 0:  // answered by an export that resets an out-of-range field of its record
    case SUCCESS:
    case ERROR_NO_MEMORY:
    case ERROR_NO_BITMAP:
    case ERROR_POINT_OUT_OF_RANGE:
    case ERROR_INV_PARAMETER:
    case ERROR_EMPTY_RECT:
    case ERROR_INV_STRUCT_SIZE:
    case ERROR_NULL_INFO:
    case ERROR_UNSUPPORTED_FLAG:
    case ERROR_UNSUPPORTED_ORDER:
    case FX_REGISTRY_UNKNOWN_PARAMETER:
    case FX_REGISTRY_DUPLICATE_PARAMETER:
    case FX_REGISTRY_COUNT_TOO_LARGE:
      return true;
    default:
      return rc <= ERROR_HOST_BAD_FORMAT && rc >= ERROR_HOST_CANCELLED;  // host codes
  }
}

std::string CheckCall(const CallContext& c, const Snapshot& before, BitmapRecord* b) {
  std::ostringstream problems;
  const uint32_t traits = c.effect->traits;
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

  const bool sameOrientation = b->Orientation == before.orientation;
  if (!sameOrientation && !(resizes && b->Orientation == 1))
    problems << "orientation " << int(b->Orientation) << " after the call, "
             << int(before.orientation) << " before\n";
  if (b->StructSize != before.structSize) problems << "StructSize changed\n";
  if (!resizes) {
    if (b->Width != before.width || b->Height != before.height ||
        b->StoredWidth != before.storedWidth || b->StoredHeight != before.storedHeight)
      problems << "size changed to " << b->Width << "x" << b->Height << "\n";
    if (b->BitsPerPixel != before.bitsPerPixel || b->Order != before.order)
      problems << "format changed\n";
    if (b->Flags != before.flags) problems << "Flags changed\n";
    if ((HostHasRegion(b) != 0) != before.hasRegion) problems << "region dropped or added\n";
  } else if (c.rc == SUCCESS &&
             (b->BitsPerPixel != before.bitsPerPixel || b->Order != before.order)) {
    problems << "format not restored after a successful call\n";
  }
  if (before.working.empty()) return problems.str();

  int32_t bits = 0, step = 0, rowBytes = 0;
  const std::vector<uint8_t> after = ReadWorking(b, &bits, &step, &rowBytes);
  if (after.empty()) {
    problems << "the bitmap can no longer be read\n";
    return problems.str();
  }
  if (resizes || !sameOrientation || after.size() != before.working.size()) return problems.str();
  const int32_t sampleBytes = bits / 8;
  int64_t outside = 0, alpha = 0;
  for (int32_t y = 0; y < before.height; ++y)
    for (int32_t x = 0; x < before.width; ++x) {
      const size_t at = size_t(y) * rowBytes + size_t(x) * step * sampleBytes;
      if (before.hasRegion && !before.inRegion[size_t(y) * before.width + x] &&
          std::memcmp(&after[at], &before.working[at], size_t(step) * sampleBytes) != 0)
        ++outside;
      if (step == 4 && !(traits & FX_TRAIT_WHOLE_IMAGE) &&
          std::memcmp(&after[at + 3 * sampleBytes], &before.working[at + 3 * sampleBytes],
                      sampleBytes) != 0)
        ++alpha;
    }
  if (outside) problems << outside << " pixels outside the region changed\n";
  if (alpha) problems << alpha << " fourth samples changed\n";
  return problems.str();
}

std::string TestName(const FxEffectDesc* effect) {
  std::string name = effect->shortName;
  for (char& ch : name)
    if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9')))
      ch = '_';
  return name;
}

}  // namespace fxrel
