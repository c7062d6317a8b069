// Every registered effect on bad input: spoiled bitmap records, every parameter (record fields,
// arrays and bitmaps included) at its range limits, one beyond and at the 32-bit extremes, null
// and wrongly sized records, and bitmaps of one row or column. Every call must answer a known
// code, release everything, restore the orientation and keep pixels outside the region; the
// record checks of the entry protocol must answer their codes without touching a pixel. Each call
// runs on one thread and on several, with the same code and pixels.
#include <cstdio>
#include <functional>
#include <set>

#include "TestSupport.h"
#ifdef FXKIT_CLI_PATH
#include "tools/fxkit/Values.h"
#endif

namespace {

using fxrel::FormatNamed;
using fxrel::RegionKind;
using fxrel::Scene;

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

class ReliabilityBadInputTest : public fxtest::HostFixture,
                                public ::testing::WithParamInterface<uint32_t> {
 protected:
  const FxEffectDesc* effect() const { return FxEffectAt(GetParam()); }

  // Calls the effect on `bitmap` with the arguments `call` holds, defaults resolved against the
  // bitmap unless they already are, and checks the call left everything clean. The code.
  int32_t RunClean(fxrel::EffectCall& call, BitmapRecord* bitmap, const std::string& where) {
    int32_t rc = 0;
    EXPECT_EQ(fxrel::InvokeChecked(call, bitmap, &rc), "") << where;
    ++calls_;
    return rc;
  }

  // The same through FxInvoke, the registry forming every value not given.
  void RunRegistry(BitmapRecord* bitmap, const std::vector<FxNamedValue>& values,
                   const std::string& where) {
    const fxrel::Snapshot before = fxrel::Take(bitmap);
    fxrel::CallContext context{effect(), 0, HostLiveBlocks()};
    fxrel::PrepareRun(effect(), 0);
    context.rc = FxInvoke(effect(), bitmap, values.data(), static_cast<uint32_t>(values.size()));
    EXPECT_EQ(fxrel::CheckCall(context, before, bitmap), "") << where;
    ++calls_;
  }

  // Every variant on a fresh bitmap of every scene; stops after 8 failing calls.
  void Sweep(const std::vector<Scene>& scenes, const std::vector<Variant>& variants,
             const char* what) {
    int32_t failures = 0;
    for (const Scene& scene : scenes)
      for (const Variant& v : variants) {
        const std::string where =
            std::string(effect()->shortName) + " " + v.what + " on " + fxrel::Describe(scene);
        // Once on one thread and once on several: the same code and the same pixels.
        fxrel::Bitmap bitmap[2];
        int32_t rc[2] = {0, 0};
        for (int t = 0; t < 2; ++t) {
          fxtest::ThreadSetting threads(t == 0 ? 1 : fxtest::kManyThreads);
          ASSERT_EQ(fxrel::MakeScene(bitmap[t], scene), SUCCESS) << where;
          fxrel::EffectCall call(effect());
          v.apply(call);
          rc[t] = RunClean(call, bitmap[t].get(), where);
        }
        EXPECT_TRUE(!v.expected || rc[0] == v.expected) << where << ": answered " << rc[0];
        EXPECT_EQ(rc[1], rc[0]) << where << " on " << fxtest::kManyThreads << " threads";
        EXPECT_TRUE(fxrel::StoredBytes(bitmap[0].get()) == fxrel::StoredBytes(bitmap[1].get()))
            << where << ": other pixels on " << fxtest::kManyThreads << " threads";
        if (HasFailure() && ++failures >= 8) return;
      }
    Report(what);
  }

  void Report(const char* what) {
    std::printf("[ stats    ] %s: %d bad-input calls (%s)\n", effect()->shortName, calls_, what);
  }

  int32_t calls_ = 0;
};

TEST_P(ReliabilityBadInputTest, SpoiledBitmapRecordsAreRefusedUntouched) {
  enum Expect { kRefused, kStructSize, kNoBitmap, kAnyCode };
  const struct {
    const char* what;
    void (*spoil)(BitmapRecord*);  // null: a null bitmap, with arguments that suit a real one
    Expect expect;
  } cases[] = {
      {"null bitmap", nullptr, kNoBitmap},
      {"unallocated", [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; }, kRefused},
      {"StructSize 0", [](BitmapRecord* b) { b->StructSize = 0; }, kStructSize},
      {"StructSize 271", [](BitmapRecord* b) { b->StructSize = 271; }, kStructSize},
      {"Order 2 with 32 bits", [](BitmapRecord* b) { b->Order = ORDER_GRAY; }, kRefused},
      {"flag 0x200", [](BitmapRecord* b) { b->Flags |= FLAG_UNSUPPORTED; }, kAnyCode},
      // Orientation codes no view has: nothing to restore them to once changed.
      {"Orientation 0", [](BitmapRecord* b) { b->Orientation = 0; }, kRefused},
      {"Orientation 9", [](BitmapRecord* b) { b->Orientation = 9; }, kRefused},
      {"BitsPerPixel 7", [](BitmapRecord* b) { b->BitsPerPixel = 7; }, kRefused},
      {"no pixel storage", [](BitmapRecord* b) { b->Data = nullptr; }, kRefused},
  };
  const Scene scene{FormatNamed("bgr32"), 12, 9, 6, RegionKind::Rect, 5};
  for (const auto& c : cases) {
    const std::string where = std::string(effect()->shortName) + ": " + c.what;
    fxrel::Bitmap bitmap;
    ASSERT_EQ(fxrel::MakeScene(bitmap, scene), SUCCESS);
    const BitmapRecord intact = *bitmap.get();
    fxrel::EffectCall call(effect());
    call.Resolve(bitmap.get());  // arguments from the intact bitmap
    BitmapRecord* target = c.spoil ? bitmap.get() : nullptr;
    if (c.spoil) c.spoil(target);
    const std::vector<uint8_t> pixels = fxrel::StoredBytes(bitmap.get());
    const int32_t rc = RunClean(call, target, where);
    const bool expected = c.expect == kStructSize ? rc == ERROR_INV_STRUCT_SIZE
                          : c.expect == kNoBitmap
                              ? rc == ERROR_NO_BITMAP || rc == ERROR_INV_PARAMETER
                              : c.expect == kAnyCode || rc != SUCCESS;
    EXPECT_TRUE(expected) << where << ": answered " << rc;
    if (rc != SUCCESS && !(effect()->traits & FX_TRAIT_RESIZES)) {
      EXPECT_TRUE(fxrel::StoredBytes(bitmap.get()) == pixels) << where << ": pixels changed";
    }
    // The registry's own defaults, formed from the spoiled record, must not disturb it either.
    RunRegistry(target, {}, where + " (registry defaults)");
    // Let the owner free it normally.
    bitmap->StructSize = intact.StructSize;
    bitmap->BitsPerPixel = intact.BitsPerPixel;
    if (!bitmap->Data) bitmap->Data = intact.Data;
  }

  // The older, shorter record is processed exactly like the full one.
  fxrel::Bitmap shortRecord, fullRecord;
  ASSERT_EQ(fxrel::MakeScene(shortRecord, scene), SUCCESS);
  ASSERT_EQ(fxrel::MakeScene(fullRecord, scene), SUCCESS);
  shortRecord->StructSize = BITMAP_STRUCT_SIZE_OLD;
  fxrel::EffectCall shortCall(effect()), fullCall(effect());
  EXPECT_EQ(RunClean(shortCall, shortRecord.get(), "StructSize 228"),
            RunClean(fullCall, fullRecord.get(), "StructSize 272"));
  EXPECT_TRUE(fxrel::StoredBytes(shortRecord.get()) == fxrel::StoredBytes(fullRecord.get()))
      << "StructSize 228 gave other pixels than 272";
  shortRecord->StructSize = BITMAP_STRUCT_SIZE;
  Report("bitmap records");
}

// Gives the array parameter `array` `count` elements (defaults repeated, or records of default
// fields), so that the export can read as many as a count parameter tells it to.
void GrowArray(fxrel::EffectCall& call, const FxParamDesc& array, uint32_t index, uint32_t count) {
  if (array.kind != FX_KIND_INT_ARRAY) return call.SetRecordCount(index, count);
  std::vector<int32_t> values(count, static_cast<int32_t>(array.minValue));
  for (uint32_t k = 0; k < count && array.defaultArrayCount; ++k)
    values[k] = array.defaultArray[k % array.defaultArrayCount];
  call.SetArray(index, values);
}

std::vector<Variant> VariantsOf(const FxEffectDesc* effect) {
  std::vector<Variant> out;
  const auto add = [&](std::string what, std::function<void(fxrel::EffectCall&)> apply,
                       int32_t expected = 0) {
    out.push_back({what, apply, expected});
  };
  for (uint32_t i = 0; i < effect->paramCount; ++i) {
    const FxParamDesc& p = effect->params[i];
    const std::string name = p.name;
    switch (p.kind) {
      case FX_KIND_INT32:
      case FX_KIND_UINT32:
      case FX_KIND_FLAGS:
      case FX_KIND_COLOR:
        for (int64_t v : Extremes(p.kind, p.minValue, p.maxValue))
          add(name + "=" + std::to_string(v), [=](fxrel::EffectCall& c) {
            const bool isCount = p.defaultRule == FX_DEFAULT_COUNT && p.arrayParam >= 0;
            if (isCount && v > 0 && v <= 256)  // a count within reach
              GrowArray(c, effect->params[p.arrayParam], p.arrayParam, static_cast<uint32_t>(v));
            c.SetValue(i, v);
          });
        break;
      case FX_KIND_POINT:
        for (int axis = 0; axis < 2; ++axis)
          for (int64_t v : Extremes(FX_KIND_INT32, p.minValue, p.maxValue))
            add(name + (axis ? ".y=" : ".x=") + std::to_string(v),
                [=](fxrel::EffectCall& c) { c.SetPointCoordinate(i, axis, int32_t(v)); });
        break;
      case FX_KIND_RECORD:
      case FX_KIND_RECORD_ARRAY: {
        add(name + " null", [=](fxrel::EffectCall& c) { c.SetNull(i); });
        if (!p.record) break;
        const FxRecordDesc& r = *p.record;
        // A record passed by default must be refused for any other size.
        const bool required = p.defaultRule == FX_DEFAULT_ARRAY &&
                              (p.kind == FX_KIND_RECORD || p.defaultArrayCount > 0);
        for (int64_t size :
             {int64_t{0}, r.size - int64_t{1}, r.size + int64_t{1}, int64_t{UINT32_MAX}})
          add(
              name + " size " + std::to_string(size),
              [=](fxrel::EffectCall& c) { c.SetRecordSize(i, static_cast<uint32_t>(size)); },
              required ? ERROR_INV_STRUCT_SIZE : 0);
        for (uint32_t f = 1; f < r.fieldCount; ++f) {
          const FxFieldDesc& field = r.fields[f];
          if (field.kind == FX_KIND_INT_ARRAY) {  // null, or every value at an extreme
            add(name + "." + field.name + " null",
                [=](fxrel::EffectCall& c) { c.SetRecordArray(i, 0, f, nullptr); });
            for (int64_t v : Extremes(FX_KIND_INT32, field.minValue, field.maxValue))
              add(name + "." + field.name + " all " + std::to_string(v), [=](fxrel::EffectCall& c) {
                const std::vector<int32_t> values(field.arrayCount, static_cast<int32_t>(v));
                c.SetRecordArray(i, 0, f, &values);
              });
            continue;
          }
          const bool point = field.kind == FX_KIND_POINT;  // both coordinates take the value
          for (int64_t v :
               Extremes(point ? FX_KIND_INT32 : field.kind, field.minValue, field.maxValue)) {
            const int64_t stored = point ? int64_t(uint64_t{uint32_t(v)} * 0x100000001ull) : v;
            add(name + "." + field.name + "=" + std::to_string(v),
                [=](fxrel::EffectCall& c) { c.SetRecordField(i, 0, f, stored); });
          }
        }
        break;
      }
      case FX_KIND_INT_ARRAY: {
        add(name + " null", [=](fxrel::EffectCall& c) { c.SetNull(i); });
        if (!p.fixedCount) add(name + " empty", [=](fxrel::EffectCall& c) { c.SetArray(i, {}); });
        const size_t length =
            p.fixedCount ? p.fixedCount : std::max<size_t>(1, p.defaultArrayCount);
        for (int64_t v : Extremes(FX_KIND_INT32, p.minValue, p.maxValue))
          add(name + " all " + std::to_string(v), [=](fxrel::EffectCall& c) {
            c.SetArray(i, std::vector<int32_t>(length, static_cast<int32_t>(v)));
          });
        break;
      }
      case FX_KIND_BITMAP: {
        add(name + " null", [=](fxrel::EffectCall& c) { c.SetNull(i); });
        const struct {
          const char* what;
          const char* format;
          int32_t w, h;
          void (*spoil)(BitmapRecord*);
        } shapes[] = {
            {"1x1", "gray8", 1, 1, [](BitmapRecord*) {}},
            {"40x3", "rgb64", 40, 3, [](BitmapRecord*) {}},
            {"unallocated", "bgr24", 12, 9, [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; }},
            {"StructSize 0", "bgr24", 12, 9, [](BitmapRecord* b) { b->StructSize = 0; }},
        };
        for (const auto& s : shapes)
          add(name + " " + s.what + " " + s.format, [=](fxrel::EffectCall& c) {
            auto b = std::make_unique<fxrel::Bitmap>();
            const fxrel::Format& f = FormatNamed(s.format);
            b->Create(s.w, s.h, f.bitsPerPixel, f.order, 1, 9);
            s.spoil(b->get());
            c.SetBitmap(i, std::move(b));
          });
        break;
      }
    }
  }
  return out;
}

TEST_P(ReliabilityBadInputTest, EveryParameterAtItsLimitsAndBeyond) {
  Sweep({{FormatNamed("bgr24"), 12, 9, 1, RegionKind::None, 21},
         {FormatNamed("gray16"), 12, 9, 6, RegionKind::Rect, 22}},
        VariantsOf(effect()), "parameters");
}

TEST_P(ReliabilityBadInputTest, OneRowAndOneColumnBitmaps) {
  const int32_t sizes[][2] = {{1, 1}, {1, 7}, {7, 1}, {2, 2}};
  std::vector<Scene> scenes;
  for (const auto& size : sizes)
    for (const char* format : {"pal1", "gray12", "bgr24", "rgb64"})
      for (uint8_t orientation : {1, 6})
        for (RegionKind region : {RegionKind::None, RegionKind::Rect})
          scenes.push_back({FormatNamed(format), size[0], size[1], orientation, region, 31});
  Sweep(scenes, {{"defaults", [](fxrel::EffectCall&) {}}}, "small bitmaps");
}

#ifdef FXKIT_CLI_PATH  // the presets are read by the command line's parser
TEST_P(ReliabilityBadInputTest, PresetsRunClean) {
  const FxEffectDesc* e = effect();
  // Sizes relative to the picture are measured as on the 640 x 480 card, the presets' model.
  fxrel::Bitmap card;
  ASSERT_EQ(fxrel::MakeScene(card, {FormatNamed("bgr24"), 640, 480, 1, RegionKind::None, 0}),
            SUCCESS);
  for (uint32_t k = 0; k < e->presetCount; ++k)
    for (const Scene& scene : {Scene{FormatNamed("bgr24"), 12, 9, 1, RegionKind::None, 41},
                               Scene{FormatNamed("rgb48"), 64, 48, 6, RegionKind::Mask, 42}}) {
      const std::string where = std::string(e->shortName) + " preset " + e->presets[k].name +
                                " on " + fxrel::Describe(scene);
      fxcli::EffectArgs args(*e);
      std::vector<FxNamedValue> values;
      ASSERT_NO_THROW({
        args.Add(fxcli::SplitWords(e->presets[k].values));
        values = args.Values(card.get());
      }) << where;
      fxrel::Bitmap bitmap;
      ASSERT_EQ(fxrel::MakeScene(bitmap, scene), SUCCESS);
      RunRegistry(bitmap.get(), values, where);
    }
  Report("presets");
}
#endif

INSTANTIATE_TEST_SUITE_P(Registry, ReliabilityBadInputTest, ::testing::Range(0u, FxEffectCount()),
                         fxtest::EffectName);

}  // namespace
