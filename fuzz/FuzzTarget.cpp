// Fuzz target: one input decodes to one call of a registered effect (the effect, the bitmap's
// format, size, orientation, region and content, a spoiled record field, every parameter,
// the generator seed, and optionally an injected fault or a cancel), made through the registry.
// Every call must pass the reliability checks; a violation aborts with a message.
#include "fuzz/FuzzTarget.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/ReliabilityHarness.h"

namespace fxfuzz {

namespace {

constexpr int32_t kInjected = -2077;
constexpr int32_t kCancelled = -3777;
constexpr int32_t kMaxSide = 20;
constexpr int32_t kMaxArray = 24;

// Reads bytes from the input; zeros once it is used up.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t U8() { return at_ < size_ ? data_[at_++] : 0; }
  uint32_t U32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v = v << 8 | U8();
    return v;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t at_ = 0;
};

[[noreturn]] void Fail(const std::string& what, const FxEffectDesc* effect) {
  std::fprintf(stderr, "fxkit fuzz: %s: %s\n", effect ? effect->shortName : "?", what.c_str());
  std::abort();
}

// A 32-bit value for a parameter with range min .. max, by selector; false keeps the default.
bool Choose(Input& in, uint8_t selector, int64_t min, int64_t max, int64_t* out) {
  switch (selector % 16) {
    case 6:
      *out = min;
      return true;
    case 7:
      *out = max;
      return true;
    case 8:
      *out = min - 1;
      return true;
    case 9:
      *out = max + 1;
      return true;
    case 10:
      *out = INT32_MIN;
      return true;
    case 11:
      *out = INT32_MAX;
      return true;
    case 12:
      *out = UINT32_MAX;
      return true;
    case 13:
      *out = 0;
      return true;
    case 14:
      *out = static_cast<int32_t>(in.U32());
      return true;
    case 15: {  // a small value near the bottom of the range
      const int64_t base = min < -16 ? -16 : min;
      *out = base + in.U8() % 48;
      return true;
    }
    default:
      return false;  // selectors 0 .. 5: the default
  }
}

struct FaultChoice {
  int kind = -1;  // 0 alloc, 1 read, 2 write, 3 begin, 4 open, 5 cancel
  int64_t at = 0;
};

struct Canceller {
  int64_t reports = 0, cancelAt = 0;
  static int32_t Callback(int32_t, void* userData) {
    auto* self = static_cast<Canceller*>(userData);
    ++self->reports;
    return self->cancelAt > 0 && self->reports >= self->cancelAt ? kCancelled : SUCCESS;
  }
};

void DecodeParams(Input& in, const FxEffectDesc* effect, BitmapRecord* bitmap,
                  fxrel::EffectCall& call) {
  for (uint32_t i = 0; i < effect->paramCount; ++i) {
    const FxParamDesc& p = effect->params[i];
    const uint8_t selector = in.U8();
    int64_t v = 0;
    switch (p.kind) {
      case FX_KIND_INT32:
      case FX_KIND_UINT32:
      case FX_KIND_FLAGS:
      case FX_KIND_COLOR:
        // Counts come from the arrays the input gives, so they never exceed them.
        if (p.defaultRule == FX_DEFAULT_COUNT && p.arrayParam >= 0) {
          if (selector % 16 == 10) call.SetValue(i, INT32_MIN);
          if (selector % 16 == 13) call.SetValue(i, 0);
          break;
        }
        if (Choose(in, selector, p.minValue, p.maxValue, &v)) call.SetValue(i, v);
        break;
      case FX_KIND_POINT:
        if (Choose(in, selector, -4, kMaxSide + 4, &v))
          call.SetPointCoordinate(i, 0, static_cast<int32_t>(v));
        if (Choose(in, in.U8(), -4, kMaxSide + 4, &v))
          call.SetPointCoordinate(i, 1, static_cast<int32_t>(v));
        break;
      case FX_KIND_RECORD:
      case FX_KIND_RECORD_ARRAY: {
        if (selector % 16 == 1) {
          call.SetNull(i);
          break;
        }
        if (!p.record || selector % 16 == 0) break;
        if (p.kind == FX_KIND_RECORD_ARRAY) call.SetRecordCount(i, 1 + in.U8() % 4);
        if (selector % 16 == 2) call.SetRecordSize(i, in.U32());
        const uint32_t edits = in.U8() % 6;
        for (uint32_t e = 0; e < edits && p.record->fieldCount > 1; ++e) {
          const uint8_t record = in.U8() % 4;
          const uint32_t index = 1 + in.U8() % (p.record->fieldCount - 1);
          const FxFieldDesc& f = p.record->fields[index];
          if (f.kind == FX_KIND_INT_ARRAY) {  // null, or values chosen one by one
            if (in.U8() % 2 == 0) {
              call.SetRecordArray(i, record, index, nullptr);
              continue;
            }
            std::vector<int32_t> values(f.arrayCount);
            for (uint32_t k = 0; k < f.arrayCount; ++k)
              values[k] = static_cast<int32_t>(
                  Choose(in, in.U8(), f.minValue, f.maxValue, &v) ? v : int64_t{k});
            call.SetRecordArray(i, record, index, &values);
            continue;
          }
          if (!Choose(in, in.U8(), f.minValue, f.maxValue, &v)) continue;
          if (f.kind == FX_KIND_POINT)
            v = static_cast<int64_t>(static_cast<uint32_t>(v)) |
                static_cast<int64_t>(static_cast<uint64_t>(in.U32()) << 32);
          call.SetRecordField(i, record, index, v);
        }
        break;
      }
      case FX_KIND_INT_ARRAY: {
        if (selector % 16 == 1) {
          call.SetNull(i);
          break;
        }
        if (selector % 16 == 0) break;
        const uint32_t length = p.fixedCount ? p.fixedCount : in.U8() % (kMaxArray + 1);
        std::vector<int32_t> values(length);
        for (uint32_t k = 0; k < length; ++k) {
          const int64_t fallback =
              p.defaultArrayCount ? p.defaultArray[k % p.defaultArrayCount] : p.minValue;
          values[k] =
              static_cast<int32_t>(Choose(in, in.U8(), p.minValue, p.maxValue, &v) ? v : fallback);
        }
        call.SetArray(i, values);
        break;
      }
      case FX_KIND_BITMAP: {
        if (selector % 16 == 1) {
          call.SetNull(i);
          break;
        }
        if (selector % 16 < 8) break;
        if (selector % 16 == 9) {  // a copy of the bitmap itself: a mask of the same size
          auto copy = std::make_unique<fxrel::Bitmap>();
          HostSetOrientation(copy->get(), bitmap, BITMAP_STRUCT_SIZE, bitmap->Orientation, 7);
          call.SetBitmap(i, std::move(copy));
          break;
        }
        const fxrel::Format& f = fxrel::Formats()[in.U8() % fxrel::Formats().size()];
        auto b = std::make_unique<fxrel::Bitmap>();
        const int32_t w = 1 + in.U8() % kMaxSide, h = 1 + in.U8() % kMaxSide;
        if (b->Create(w, h, f.bitsPerPixel, f.order, 1 + in.U8() % 8, in.U8()) != SUCCESS)
          Fail("cannot create a bitmap parameter", effect);
        if (selector % 16 == 15) (*b)->Flags &= ~FLAG_ALLOCATED;
        call.SetBitmap(i, std::move(b));
        break;
      }
    }
  }
}

// One call, checked. Returns the effect's code.
int32_t RunOne(const uint8_t* data, size_t size, int twin, std::vector<uint8_t>* output) {
  Input in(data, size);
  const uint32_t count = FxEffectCount();
  if (count == 0) return SUCCESS;
  const FxEffectDesc* effect = FxEffectAt(in.U8() % count);
  const fxrel::Format format = fxrel::Formats()[in.U8() % fxrel::Formats().size()];
  const int32_t width = 1 + in.U8() % kMaxSide, height = 1 + in.U8() % kMaxSide;
  const uint8_t orientation = 1 + in.U8() % 8;
  const uint8_t regionByte = in.U8();
  const uint32_t contentSeed = in.U8();
  const uint8_t spoiler = in.U8();
  const uint8_t faultByte = in.U8();
  const uint8_t faultAt = in.U8();
  const uint8_t options = in.U8();

  fxrel::Bitmap bitmap;
  if (bitmap.Create(width, height, format.bitsPerPixel, format.order, orientation, contentSeed) !=
      SUCCESS)
    Fail("cannot create the bitmap", effect);
  switch (regionByte % 4) {
    case 1:
      fxrel::SetRectRegion(bitmap.get());
      break;
    case 2:
      fxrel::SetMaskRegion(bitmap.get());
      break;
    case 3: {
      RECT r{in.U8() % width, in.U8() % height, 0, 0};
      r.right = r.left + 1 + in.U8() % width;
      r.bottom = r.top + 1 + in.U8() % height;
      HostSetRegionRect(bitmap.get(), nullptr, &r, 1);
      break;
    }
    default:
      break;
  }

  fxrel::EffectCall call(effect);
  DecodeParams(in, effect, bitmap.get(), call);
  call.Resolve(bitmap.get());

  // Spoil the record after the arguments were resolved against the intact bitmap.
  BitmapRecord* target = bitmap.get();
  const BitmapRecord intact = *bitmap.get();
  const bool spoiled = spoiler >= 224;
  if (spoiled) {
    switch (spoiler % 12) {
      case 0:
        bitmap->StructSize = BITMAP_STRUCT_SIZE_OLD;
        break;
      case 1:
        bitmap->StructSize = 0;
        break;
      case 2:
        bitmap->Flags &= ~FLAG_ALLOCATED;
        break;
      case 3:
        bitmap->Order = ORDER_GRAY;
        break;
      case 4:
        bitmap->Flags |= FLAG_UNSUPPORTED;
        break;
      case 5:
        target = nullptr;
        break;
      case 6:
        bitmap->StructSize = 271;
        break;
      case 7:
        bitmap->Orientation = 0;
        break;
      case 8:
        bitmap->Orientation = 9;
        break;
      case 9:
        bitmap->BitsPerPixel = 7;
        break;
      case 10:
        bitmap->Orientation = 255;
        break;
      default:
        bitmap->Data = nullptr;
        break;
    }
  }

  FaultChoice fault;
  if (faultByte >= 176 && !twin) {
    fault.kind = faultByte % 6;
    fault.at = 1 + faultAt % 48;
  }
  Canceller canceller;
  canceller.cancelAt = fault.kind == 5 ? fault.at : 0;
  HostExchangeCallback(&Canceller::Callback, &canceller, nullptr, nullptr);

  const fxrel::Snapshot before = fxrel::Take(target);
  fxrel::CallContext context;
  context.effect = effect;
  context.blocksBefore = HostLiveBlocks();
  context.callback = &Canceller::Callback;
  context.userData = &canceller;
  context.extraCodesAllowed = fault.kind >= 0;
  HostFaultPlan plan;
  plan.code = kInjected;
  switch (fault.kind) {
    case 0:
      plan.failAllocAt = fault.at;
      break;
    case 1:
      plan.failReadAt = fault.at;
      break;
    case 2:
      plan.failWriteAt = fault.at;
      break;
    case 3:
      plan.failBeginAt = fault.at;
      break;
    case 4:
      plan.failOpenAt = fault.at;
      break;
    default:
      break;
  }
  HostSetFaultPlan(plan);
  context.rc = call.Invoke(target, twin);
  const HostFaultCounts counts = HostGetFaultCounts();
  HostSetFaultPlan(HostFaultPlan{});

  std::string problems = fxrel::CheckCall(context, before, target);
  HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
  if (fault.kind >= 0) {
    const int64_t reached[] = {counts.allocs, counts.reads, counts.writes,
                               counts.begins, counts.opens, canceller.reports};
    const int32_t expected[] = {ERROR_NO_MEMORY, kInjected, kInjected,
                                kInjected,       kInjected, kCancelled};
    const bool unexamined = counts.hitWhilePaused && (effect->traits & FX_TRAIT_WHOLE_IMAGE);
    const bool noMemory = (effect->traits & FX_TRAIT_FAILURE_AS_NO_MEMORY) && fault.kind != 0 &&
                          context.rc == ERROR_NO_MEMORY;
    if (reached[fault.kind] >= fault.at && context.rc != expected[fault.kind] && !unexamined &&
        !noMemory)
      problems += "fault " + std::to_string(fault.kind) + " #" + std::to_string(fault.at) +
                  " answered " + std::to_string(context.rc) + "\n";
    if (context.rc != expected[fault.kind] && !fxrel::IsKnownCode(context.rc))
      problems += "unknown result code " + std::to_string(context.rc) + "\n";
    const int64_t writes = counts.writes - (fault.kind == 2 ? 1 : 0);
    if (target && writes == 0 && reached[fault.kind] >= fault.at &&
        !(effect->traits & (FX_TRAIT_WHOLE_IMAGE | FX_TRAIT_RESIZES)) &&
        fxrel::StoredBytes(target) != before.stored)
      problems += "pixels changed before the first row write\n";
  }
  if (!problems.empty()) Fail(problems, effect);

  // Give the record back what the owner needs to free it.
  if (spoiled) {
    bitmap->StructSize = intact.StructSize;
    bitmap->BitsPerPixel = intact.BitsPerPixel;
    if (!bitmap->Data) bitmap->Data = intact.Data;
  }
  if (output) {
    *output = fxrel::StoredBytes(bitmap.get());
    output->push_back(static_cast<uint8_t>(context.rc));
  }
  // The twin run repeats a clean call on a fresh bitmap with the same input.
  if (!twin && (options & 1) && fault.kind < 0 && !spoiled) {
    std::vector<uint8_t> first = fxrel::StoredBytes(bitmap.get());
    first.push_back(static_cast<uint8_t>(context.rc));
    std::vector<uint8_t> second;
    RunOne(data, size, 1, &second);
    if (first != second) Fail("a second run with the same input gave other pixels", effect);
  }
  return context.rc;
}

}  // namespace

int RunInput(const uint8_t* data, size_t size) {
  const int64_t blocks = HostLiveBlocks();
  RunOne(data, size, 0, nullptr);
  if (HostLiveBlocks() != blocks) Fail("host blocks leaked by the input", nullptr);
  return 0;
}

std::vector<std::vector<uint8_t>> SeedInputs() {
  std::vector<std::vector<uint8_t>> seeds;
  // Every effect slot with its defaults across formats, orientations and regions.
  for (uint8_t e = 0; e < 64; ++e) {
    std::vector<uint8_t> s = {e,
                              static_cast<uint8_t>(e % 14),
                              11,
                              8,
                              static_cast<uint8_t>(e % 8),
                              static_cast<uint8_t>(e % 3),
                              e,
                              0,
                              0,
                              0,
                              1};
    s.resize(s.size() + 32, 0);
    seeds.push_back(s);
  }
  // Every effect slot with each parameter at a range limit or an extreme, and with faults.
  for (uint8_t e = 0; e < 64; ++e) {
    const uint8_t selector = static_cast<uint8_t>(6 + e % 10);
    std::vector<uint8_t> s = {e,
                              static_cast<uint8_t>((e * 5) % 14),
                              5,
                              3,
                              static_cast<uint8_t>(e % 8),
                              static_cast<uint8_t>(e % 4),
                              e,
                              static_cast<uint8_t>(e % 4 == 0 ? 224 + e / 4 % 12 : 0),
                              static_cast<uint8_t>(e % 3 == 0 ? 176 + e % 6 : 0),
                              static_cast<uint8_t>(e),
                              0,
                              1,
                              2,
                              3,
                              4};
    for (int k = 0; k < 40; ++k) s.push_back(k % 3 == 0 ? selector : static_cast<uint8_t>(k * 7));
    seeds.push_back(s);
  }
  return seeds;
}

}  // namespace fxfuzz
