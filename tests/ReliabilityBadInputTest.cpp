// Every registered effect on bad input: spoiled bitmap records, every parameter (record fields,
// arrays and bitmaps included) at its range limits, one beyond and at the 32-bit extremes, null
// and wrongly sized records, and bitmaps of one row or column. Every call must answer a known
// code, release everything, restore the orientation and keep pixels outside the region; the
// record checks of the entry protocol must answer their codes without touching a pixel.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <set>
#include <sstream>

#include "TestSupport.h"

namespace {

using fxrel::RegionKind;
using fxrel::Scene;

fxrel::Format FormatNamed(const char* name) {
  for (const auto& f : fxrel::Formats())
    if (std::string(f.name) == name) return f;
  return fxrel::Formats().front();
}

class ReliabilityBadInputTest : public fxtest::HostFixture,
                                public ::testing::WithParamInterface<uint32_t> {
 protected:
  const FxEffectDesc* effect() const { return FxEffectAt(GetParam()); }

  // Calls the effect on `bitmap` with the arguments `call` holds (resolved against `resolveOn`)
  // and checks the call left everything clean. Returns the effect's code.
  int32_t RunClean(fxrel::EffectCall& call, BitmapRecord* resolveOn, BitmapRecord* bitmap,
                   const std::string& where) {
    call.Resolve(resolveOn);
    const fxrel::Snapshot before = fxrel::Take(bitmap);
    fxrel::CallContext context;
    context.effect = effect();
    context.blocksBefore = HostLiveBlocks();
    context.rc = call.Invoke(bitmap);
    EXPECT_EQ(fxrel::CheckCall(context, before, bitmap), "") << where;
    ++calls_;
    return context.rc;
  }

  void Report(const char* what) {
    std::printf("[ stats    ] %s: %d bad-input calls (%s)\n", effect()->shortName, calls_, what);
  }

  int32_t calls_ = 0;
};

TEST_P(ReliabilityBadInputTest, SpoiledBitmapRecordsAreRefusedUntouched) {
  struct Case {
    const char* what;
    std::function<void(BitmapRecord*)> spoil;
    std::function<bool(int32_t)> expected;
  };
  const auto refused = [](int32_t rc) { return rc != SUCCESS; };
  const Case cases[] = {
      {"unallocated", [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; }, refused},
      {"StructSize 0", [](BitmapRecord* b) { b->StructSize = 0; },
       [](int32_t rc) { return rc == ERROR_INV_STRUCT_SIZE; }},
      {"StructSize 271", [](BitmapRecord* b) { b->StructSize = 271; },
       [](int32_t rc) { return rc == ERROR_INV_STRUCT_SIZE; }},
      {"Order 2 with 32 bits", [](BitmapRecord* b) { b->Order = ORDER_GRAY; }, refused},
      {"flag 0x200", [](BitmapRecord* b) { b->Flags |= FLAG_UNSUPPORTED; },
       [](int32_t) { return true; }},
      // Orientation codes no view has: nothing to restore them to once changed.
      {"Orientation 0", [](BitmapRecord* b) { b->Orientation = 0; }, refused},
      {"Orientation 9", [](BitmapRecord* b) { b->Orientation = 9; }, refused},
      {"BitsPerPixel 7", [](BitmapRecord* b) { b->BitsPerPixel = 7; }, refused},
      {"no pixel storage", [](BitmapRecord* b) { b->Data = nullptr; }, refused},
  };
  const Scene scene{FormatNamed("bgr32"), 12, 9, 6, RegionKind::Rect, 5};
  for (const Case& c : cases) {
    const std::string where = std::string(effect()->shortName) + ": " + c.what;
    fxrel::Bitmap bitmap;
    ASSERT_EQ(fxrel::MakeScene(bitmap, scene), SUCCESS);
    const BitmapRecord intact = *bitmap.get();
    fxrel::EffectCall call(effect());
    call.Resolve(bitmap.get());  // arguments from the intact bitmap
    c.spoil(bitmap.get());
    const std::vector<uint8_t> pixels = fxrel::StoredBytes(bitmap.get());
    const int32_t rc = RunClean(call, bitmap.get(), bitmap.get(), where);
    EXPECT_TRUE(c.expected(rc)) << where << ": answered " << rc;
    if (rc != SUCCESS && !(effect()->traits & FX_TRAIT_RESIZES)) {
      EXPECT_TRUE(fxrel::StoredBytes(bitmap.get()) == pixels) << where << ": pixels changed";
    }
    // The registry's own defaults, formed from the spoiled record, must not disturb it either.
    const fxrel::Snapshot spoiled = fxrel::Take(bitmap.get());
    fxrel::CallContext context;
    context.effect = effect();
    context.blocksBefore = HostLiveBlocks();
    fxrel::PrepareRun(effect(), 0);
    context.rc = FxInvoke(effect(), bitmap.get(), nullptr, 0);
    EXPECT_EQ(fxrel::CheckCall(context, spoiled, bitmap.get()), "") << where << " (defaults)";
    ++calls_;
    // Let the owner free it normally.
    bitmap->StructSize = intact.StructSize;
    bitmap->BitsPerPixel = intact.BitsPerPixel;
    if (!bitmap->Data) bitmap->Data = intact.Data;
  }

  // A null bitmap, with arguments that would suit a real one.
  fxrel::Bitmap model;
  ASSERT_EQ(fxrel::MakeScene(model, scene), SUCCESS);
  fxrel::EffectCall call(effect());
  call.Resolve(model.get());
  const int32_t rc = RunClean(call, model.get(), nullptr, "null bitmap");
  EXPECT_TRUE(rc == ERROR_NO_BITMAP || rc == ERROR_INV_PARAMETER) << "null bitmap: " << rc;

  // The older, shorter record is processed exactly like the full one.
  fxrel::Bitmap shortRecord, fullRecord;
  ASSERT_EQ(fxrel::MakeScene(shortRecord, scene), SUCCESS);
  ASSERT_EQ(fxrel::MakeScene(fullRecord, scene), SUCCESS);
  shortRecord->StructSize = BITMAP_STRUCT_SIZE_OLD;
  fxrel::EffectCall shortCall(effect()), fullCall(effect());
  EXPECT_EQ(RunClean(shortCall, shortRecord.get(), shortRecord.get(), "StructSize 228"),
            RunClean(fullCall, fullRecord.get(), fullRecord.get(), "StructSize 272"));
  EXPECT_TRUE(fxrel::StoredBytes(shortRecord.get()) == fxrel::StoredBytes(fullRecord.get()))
      << "StructSize 228 gave other pixels than 272";
  shortRecord->StructSize = BITMAP_STRUCT_SIZE;
  Report("bitmap records");
}

// The values a 32-bit parameter is tried with: its limits, one beyond each, the 32-bit extremes
// and 0, as distinct 32-bit patterns.
std::vector<int64_t> Extremes(FxKind kind, int64_t min, int64_t max) {
  std::vector<int64_t> out;
  std::set<uint32_t> seen;
  for (int64_t v : {min, max, min - 1, max + 1, int64_t{INT32_MIN}, int64_t{INT32_MAX},
                    int64_t{UINT32_MAX}, int64_t{0}})
    if (seen.insert(static_cast<uint32_t>(v)).second) out.push_back(fxrel::Canonical(kind, v));
  return out;
}

// One way to spoil one argument of a call.
struct Variant {
  std::string what;
  std::function<void(fxrel::EffectCall&)> apply;
  int32_t expected = 0;  // a code the call must answer, or 0 for any known code
};

std::vector<Variant> VariantsOf(const FxEffectDesc* effect) {
  std::vector<Variant> out;
  constexpr int64_t kMaxElements = 256;  // arrays grown to a count value are capped here
  for (uint32_t i = 0; i < effect->paramCount; ++i) {
    const FxParamDesc& p = effect->params[i];
    const std::string name = p.name;
    switch (p.kind) {
      case FX_KIND_INT32:
      case FX_KIND_UINT32:
      case FX_KIND_FLAGS:
      case FX_KIND_COLOR:
        for (int64_t v : Extremes(p.kind, p.minValue, p.maxValue)) {
          const bool isCount = p.defaultRule == FX_DEFAULT_COUNT && p.arrayParam >= 0;
          out.push_back({name + "=" + std::to_string(v), [=](fxrel::EffectCall& c) {
                           // A count within reach gets as many elements, so the export can
                           // read what it is told to.
                           if (isCount && v > 0 && v <= kMaxElements) {
                             const FxParamDesc& a = effect->params[p.arrayParam];
                             if (a.kind == FX_KIND_INT_ARRAY) {
                               std::vector<int32_t> values(static_cast<size_t>(v));
                               for (size_t k = 0; k < values.size(); ++k)
                                 values[k] = a.defaultArrayCount
                                                 ? a.defaultArray[k % a.defaultArrayCount]
                                                 : static_cast<int32_t>(a.minValue);
                               c.SetArray(static_cast<uint32_t>(p.arrayParam), values);
                             } else {
                               c.SetRecordCount(static_cast<uint32_t>(p.arrayParam),
                                                static_cast<uint32_t>(v));
                             }
                           }
                           c.SetValue(i, v);
                         }});
        }
        break;
      case FX_KIND_POINT:
        for (int axis = 0; axis < 2; ++axis)
          for (int64_t v : Extremes(FX_KIND_INT32, p.minValue, p.maxValue))
            out.push_back(
                {name + (axis ? ".y=" : ".x=") + std::to_string(v), [=](fxrel::EffectCall& c) {
                   c.SetPointCoordinate(i, axis, static_cast<int32_t>(v));
                 }});
        break;
      case FX_KIND_RECORD:
      case FX_KIND_RECORD_ARRAY: {
        out.push_back({name + " null", [=](fxrel::EffectCall& c) { c.SetNull(i); }});
        if (!p.record) break;
        const FxRecordDesc& r = *p.record;
        // A record passed by default must be refused for any other size.
        const bool required = p.defaultRule == FX_DEFAULT_ARRAY &&
                              (p.kind == FX_KIND_RECORD || p.defaultArrayCount > 0);
        for (int64_t size :
             {int64_t{0}, int64_t{r.size} - 1, int64_t{r.size} + 1, int64_t{UINT32_MAX}})
          out.push_back(
              {name + " size " + std::to_string(size),
               [=](fxrel::EffectCall& c) { c.SetRecordSize(i, static_cast<uint32_t>(size)); },
               required ? ERROR_INV_STRUCT_SIZE : 0});
        for (uint32_t f = 1; f < r.fieldCount; ++f) {
          const FxFieldDesc& field = r.fields[f];
          for (int64_t v : Extremes(field.kind == FX_KIND_POINT ? FX_KIND_INT32 : field.kind,
                                    field.minValue, field.maxValue)) {
            const int64_t stored =
                field.kind == FX_KIND_POINT
                    ? static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(v)) *
                                           0x100000001ull)
                    : v;
            out.push_back({name + "." + field.name + "=" + std::to_string(v),
                           [=](fxrel::EffectCall& c) { c.SetRecordField(i, 0, f, stored); }});
          }
        }
        break;
      }
      case FX_KIND_INT_ARRAY: {
        out.push_back({name + " null", [=](fxrel::EffectCall& c) { c.SetNull(i); }});
        const size_t length =
            p.fixedCount ? p.fixedCount : std::max<size_t>(1, p.defaultArrayCount);
        if (!p.fixedCount)
          out.push_back({name + " empty", [=](fxrel::EffectCall& c) { c.SetArray(i, {}); }});
        for (int64_t v : Extremes(FX_KIND_INT32, p.minValue, p.maxValue))
          out.push_back({name + " all " + std::to_string(v), [=](fxrel::EffectCall& c) {
                           c.SetArray(i, std::vector<int32_t>(length, static_cast<int32_t>(v)));
                         }});
        break;
      }
      case FX_KIND_BITMAP: {
        out.push_back({name + " null", [=](fxrel::EffectCall& c) { c.SetNull(i); }});
        struct Shape {
          const char* what;
          const char* format;
          int32_t w, h;
          std::function<void(BitmapRecord*)> spoil;
        };
        const Shape shapes[] = {
            {"1x1 gray8", "gray8", 1, 1, nullptr},
            {"40x3 rgb64", "rgb64", 40, 3, nullptr},
            {"unallocated", "bgr24", 12, 9, [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; }},
            {"StructSize 0", "bgr24", 12, 9, [](BitmapRecord* b) { b->StructSize = 0; }},
        };
        for (const Shape& s : shapes)
          out.push_back({name + " " + s.what, [=](fxrel::EffectCall& c) {
                           auto b = std::make_unique<fxrel::Bitmap>();
                           b->Create(s.w, s.h, FormatNamed(s.format).bitsPerPixel,
                                     FormatNamed(s.format).order, 1, 9);
                           if (s.spoil) s.spoil(b->get());
                           c.SetBitmap(i, std::move(b));
                         }});
        break;
      }
    }
  }
  return out;
}

TEST_P(ReliabilityBadInputTest, EveryParameterAtItsLimitsAndBeyond) {
  const Scene scenes[] = {
      {FormatNamed("bgr24"), 12, 9, 1, RegionKind::None, 21},
      {FormatNamed("gray16"), 12, 9, 6, RegionKind::Rect, 22},
  };
  const std::vector<Variant> variants = VariantsOf(effect());
  int32_t failures = 0;
  for (const Scene& scene : scenes)
    for (const Variant& v : variants) {
      const std::string where =
          std::string(effect()->shortName) + " " + v.what + " on " + fxrel::Describe(scene);
      fxrel::Bitmap bitmap;
      ASSERT_EQ(fxrel::MakeScene(bitmap, scene), SUCCESS);
      fxrel::EffectCall call(effect());
      v.apply(call);
      const int32_t rc = RunClean(call, bitmap.get(), bitmap.get(), where);
      if (v.expected) {
        EXPECT_EQ(rc, v.expected) << where;
      }
      if (HasFailure() && ++failures >= 8) return;
    }
  Report("parameters");
}

TEST_P(ReliabilityBadInputTest, OneRowAndOneColumnBitmaps) {
  const struct { int32_t w, h; } sizes[] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}};
  int32_t failures = 0;
  for (const auto& size : sizes)
    for (const char* format : {"pal1", "gray12", "bgr24", "rgb64"})
      for (uint8_t orientation : {1, 6})
        for (RegionKind region : {RegionKind::None, RegionKind::Rect}) {
          const Scene scene{FormatNamed(format), size.w, size.h, orientation, region, 31};
          const std::string where = std::string(effect()->shortName) + " " + fxrel::Describe(scene);
          fxrel::Bitmap bitmap;
          ASSERT_EQ(fxrel::MakeScene(bitmap, scene), SUCCESS) << where;
          fxrel::EffectCall call(effect());
          RunClean(call, bitmap.get(), bitmap.get(), where);
          if (HasFailure() && ++failures >= 8) return;
        }
  Report("small bitmaps");
}

// Applies one "name=value" item of a preset in the command line's syntax; false when the item
// names nothing the effect has or its value does not parse.
bool ApplyPresetItem(const FxEffectDesc* effect, fxrel::EffectCall& call, const std::string& item) {
  const size_t eq = item.find('=');
  if (eq == std::string::npos || eq == 0) return false;
  const std::string name = item.substr(0, eq), value = item.substr(eq + 1);
  auto parseInt = [](const std::string& s, int64_t* out) {
    if (s.empty()) return false;
    if (s[0] == '#' && s.size() == 7) {
      char* end = nullptr;
      const uint32_t rgb = static_cast<uint32_t>(std::strtoul(s.c_str() + 1, &end, 16));
      if (*end) return false;
      *out = (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
      return true;
    }
    char* end = nullptr;
    *out = std::strtoll(s.c_str(), &end, 0);
    return *end == '\0';
  };
  auto parseList = [&](const std::string& s, std::vector<int32_t>* out) {
    std::stringstream ss(s);
    std::string part;
    while (std::getline(ss, part, ',')) {
      int64_t v;
      if (!parseInt(part, &v)) return false;
      out->push_back(static_cast<int32_t>(v));
    }
    return !out->empty();
  };
  const int32_t index = FxFindParam(effect, name.c_str());
  if (index >= 0) {
    const FxParamDesc& p = effect->params[index];
    std::vector<int32_t> list;
    int64_t v = 0;
    switch (p.kind) {
      case FX_KIND_POINT:
        if (!parseList(value, &list) || list.size() != 2) return false;
        call.SetPoint(index, POINT{list[0], list[1]});
        return true;
      case FX_KIND_INT_ARRAY:
        if (!parseList(value, &list)) return false;
        call.SetArray(index, list);
        return true;
      case FX_KIND_BITMAP:
        return value.rfind("@card", 0) == 0;  // the default image stands in
      case FX_KIND_RECORD:
      case FX_KIND_RECORD_ARRAY:
        return false;
      default:
        if (!parseInt(value, &v)) return false;
        call.SetValue(index, v);
        return true;
    }
  }
  // A record field: "field=value", or "records[k].field=value" in a record array.
  std::string field = name;
  uint32_t record = 0;
  int32_t only = -1;
  const size_t open = name.find('['), close = name.find("].");
  if (open != std::string::npos && close != std::string::npos && close > open) {
    only = FxFindParam(effect, name.substr(0, open).c_str());
    if (only < 0) return false;
    record = static_cast<uint32_t>(
        std::strtoul(name.substr(open + 1, close - open - 1).c_str(), nullptr, 10));
    field = name.substr(close + 2);
  }
  for (uint32_t i = 0; i < effect->paramCount; ++i) {
    if (only >= 0 && i != static_cast<uint32_t>(only)) continue;
    const FxRecordDesc* r = effect->params[i].record;
    if (!r) continue;
    for (uint32_t f = 1; f < r->fieldCount; ++f) {
      if (field != r->fields[f].name) continue;
      int64_t v = 0;
      std::vector<int32_t> list;
      if (r->fields[f].kind == FX_KIND_POINT) {
        if (!parseList(value, &list) || list.size() != 2) return false;
        v = static_cast<int64_t>(static_cast<uint32_t>(list[0])) |
            static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(list[1])) << 32);
      } else if (!parseInt(value, &v)) {
        return false;
      }
      if (effect->params[i].kind == FX_KIND_RECORD_ARRAY) call.SetRecordCount(i, record + 1);
      call.SetRecordField(i, record, f, v);
      return true;
    }
  }
  return false;
}

TEST_P(ReliabilityBadInputTest, PresetsParseAndRunClean) {
  const FxEffectDesc* e = effect();
  for (uint32_t k = 0; k < e->presetCount; ++k) {
    const FxPreset& preset = e->presets[k];
    for (const Scene& scene : {Scene{FormatNamed("bgr24"), 12, 9, 1, RegionKind::None, 41},
                               Scene{FormatNamed("rgb48"), 64, 48, 6, RegionKind::Mask, 42}}) {
      const std::string where =
          std::string(e->shortName) + " preset " + preset.name + " on " + fxrel::Describe(scene);
      fxrel::EffectCall call(e);
      std::stringstream items(preset.values);
      std::string item;
      while (items >> item) EXPECT_TRUE(ApplyPresetItem(e, call, item)) << where << ": " << item;
      fxrel::Bitmap bitmap;
      ASSERT_EQ(fxrel::MakeScene(bitmap, scene), SUCCESS);
      RunClean(call, bitmap.get(), bitmap.get(), where);
    }
  }
  Report("presets");
}

INSTANTIATE_TEST_SUITE_P(Registry, ReliabilityBadInputTest, ::testing::Range(0u, FxEffectCount()),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                           return fxrel::TestName(FxEffectAt(info.param));
                         });

}  // namespace
