// The registry's reading of human values: named bit fields, integers against kinds and ranges,
// relative sizes and points, colours, suggestions for unknown names, presets, and what
// FxInvokeEx reports. A probe effect of its own holds one parameter of each shape; the named
// fields of the registered effects are checked against their exports.
#include <cstring>
#include <set>

#include "TestSupport.h"
#include "frame/RegistryDefs.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

constexpr FxFlagValue kLowValues[] = {{"a", 0, "a"}, {"b", 1, "b"}, {"c", 2, "c"}};
constexpr FxFlagValue kHighValues[] = {{"off", 0, "off"}, {"on", 0x10, "on"}};
constexpr FxFlagField kProbeFields[] = {
    fx::FlagField("low", 0x0F, kLowValues, "low"),
    fx::FlagField("high", 0xF0, kHighValues, "high"),
};
constexpr FxFlagValue kDirValues[] = {{"rows", 0, "rows"}, {"columns", 1, "columns"}};
constexpr FxFlagField kDirFields[] = {fx::FlagField("dir", fx::kWholeWord, kDirValues, "dir")};

struct Rec {
  uint32_t size;
  uint32_t style;
};
constexpr FxFlagValue kPatternValues[] = {{"stripes", 0, "s"}, {"rings", 4, "r"}};
constexpr FxFlagField kStyleFields[] = {fx::FlagField("pattern", 0x0F, kPatternValues, "p")};
const FxFieldDesc kRecFields[] = {
    fx::Field("size", FX_KIND_UINT32, 0, 0, 0, fx::kAnyUInt32Max, "size"),
    fx::Field("Style", FX_KIND_FLAGS, 4, 0x16, 0, 0x3F, "style", kStyleFields),
};
const FxRecordDesc kRec = {"Rec", sizeof(Rec), kRecFields, 2};
const int32_t kArray[] = {1, 2};

enum { kI, kU, kF, kC, kP, kR, kDir, kArr, kRecP, kCount };
const FxParamDesc kParams[] = {
    fx::IntParam("i", 0, fx::kAnyInt32Min, fx::kAnyInt32Max, "i"),
    fx::UIntParam("u", 0, 0, fx::kAnyUInt32Max, "u"),
    fx::FlagsParam("f", 0x12, 0, fx::kAnyUInt32Max, "f", kProbeFields),
    fx::ColorParam("c", 0, "c"),
    fx::PointParam("p", 0, 0, "p"),
    fx::IntParam("r", 0, -500, 500, "r"),
    fx::Named(fx::UIntParam("dir", 0, 0, 1, "dir"), kDirFields),
    fx::IntArrayParam("arr", kArray, 2, fx::kAnyInt32Min, fx::kAnyInt32Max, 0, "arr"),
    fx::RecordParam("rec", &kRec, "rec"),
};
static_assert(fx::CountOf(kParams) == kCount);
int32_t Ignore(BitmapRecord*, const FxValue*) {
  return SUCCESS;
}
const FxPreset kPresets[] = {{"strong", "r=400"}, {"weak", "r=10"}};
const FxEffectDesc kProbe = {
    "probe", "Fx_ProbeBitmap", FX_FAMILY_DISTORTION, "probe", kParams, kCount, Ignore, kPresets, 2,
    0};

struct Parse {
  int32_t rc;
  int64_t value;
  uint32_t mask;
  std::string message;
};

Parse ParseOn(const FxEffectDesc& e, const char* name, const char* text, BitmapRecord* bitmap) {
  FxTarget target;
  char message[512];
  Parse out{FxResolveName(&e, name, &target, message, sizeof(message)), 0, 0, message};
  if (out.rc != SUCCESS) return out;
  FxParsed parsed{};
  out.rc = FxParseValue(&e, &target, text, bitmap, &parsed, message, sizeof(message));
  out.value = parsed.value;
  out.mask = parsed.mask;
  out.message = message;
  return out;
}

Parse ParseProbe(const char* name, const char* text, BitmapRecord* bitmap = nullptr) {
  return ParseOn(kProbe, name, text, bitmap);
}

int64_t Point(int32_t x, int32_t y) {
  return static_cast<int64_t>(uint64_t{uint32_t(x)} | uint64_t{uint32_t(y)} << 32);
}

TEST(RegistryTextTest, IntegersColoursAndPointsByKind) {
  struct Case {
    const char* name;
    const char* text;
    int64_t value;  // as FxNamedValue carries it
  };
  const Case accepted[] = {
      {"i", "0xFFFFFFFF", -1},  // an 8-digit hex literal is a 32-bit pattern
      {"i", "-2147483648", INT32_MIN},
      {"i", "-0x10", -16},
      {"u", "4294967295", 0xFFFFFFFF},
      {"u", "0xFFFFFFFF", 0xFFFFFFFF},
      {"f", "-1", 0xFFFFFFFF},  // flag words and colours are bit patterns
      {"f", "0x10", 0x10},
      {"c", "#102030", 0x302010},  // #RRGGBB to 0x00BBGGRR
      {"c", "#1A2", 0x22AA11},     // #RGB doubles each digit
      {"c", "rgb(16, 32,48)", 0x302010},
      {"c", "teal", 0x808000},                  // #008080
      {"c", "RebeccaPurple", 0x993366},         // #663399
      {"c", "lightgoldenrodyellow", 0xD2FAFA},  // #FAFAD2
      {"c", "0x00302010", 0x302010},
      {"c", "-1", 0xFFFFFFFF},
      {"p", "3,-4", Point(3, -4)},
      {"r", "-500", -500},
      {"dir", "columns", 1},  // a whole-word name
      {"DIR", "Rows", 0},     // names ignore case
      {"dir", "1", 1},
      {"arr", "#000001", 0x010000},  // array elements take colour forms too
      {"Style", "0x3F", 0x3F},
  };
  for (const Case& c : accepted) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.text);
    const Parse p = ParseProbe(c.name, c.text);
    EXPECT_EQ(p.rc, SUCCESS) << p.message;
    EXPECT_EQ(p.value, c.value);
    EXPECT_EQ(p.message, "");
  }
  struct Refused {
    const char* name;
    const char* text;
    int32_t rc;
    const char* message;
  };
  const Refused refused[] = {
      {"i", "3000000000", FX_REGISTRY_OUT_OF_RANGE,
       "probe: i=3000000000 is outside -2147483648..2147483647"},
      {"i", "0x100000000", FX_REGISTRY_OUT_OF_RANGE,
       "probe: i=0x100000000 is outside -2147483648..2147483647"},
      {"u", "-1", FX_REGISTRY_OUT_OF_RANGE, "probe: u=-1 is outside 0..4294967295"},
      {"r", "501", FX_REGISTRY_OUT_OF_RANGE, "probe: r=501 is outside -500..500"},
      {"Style", "0x40", FX_REGISTRY_OUT_OF_RANGE, "probe: Style=0x40 is outside 0x0..0x3F"},
      {"dir", "2", FX_REGISTRY_OUT_OF_RANGE, "probe: dir=2 is outside 0..1"},
      {"i", "1.5", FX_REGISTRY_BAD_VALUE, "probe: i=1.5: expected an integer"},
      {"dir", "colums", FX_REGISTRY_BAD_VALUE, "(did you mean columns?)"},
      {"c", "#10203", FX_REGISTRY_BAD_VALUE, "probe: c=#10203: expected a colour"},
      {"c", "#10203g", FX_REGISTRY_BAD_VALUE, "expected a colour"},
      {"c", "rgb(1,2)", FX_REGISTRY_BAD_VALUE, "expected a colour"},
      {"c", "rgb(1,2,256)", FX_REGISTRY_BAD_VALUE, "expected a colour"},
      {"c", "whte", FX_REGISTRY_BAD_VALUE, "(did you mean white?)"},
      {"i", "#102030", FX_REGISTRY_BAD_VALUE, "expected an integer"},
      {"p", "3", FX_REGISTRY_BAD_VALUE, "expected a point"},
      {"p", "1,2,3", FX_REGISTRY_BAD_VALUE, "expected a point"},
      {"p", "2147483648,0", FX_REGISTRY_OUT_OF_RANGE, "is outside -2147483648..2147483647"},
      {"low", "d", FX_REGISTRY_BAD_VALUE, "probe: low=d: expected a, b or c"},
      {"rec", "1", FX_REGISTRY_BAD_VALUE, "probe: rec takes no single value"},
  };
  for (const Refused& c : refused) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.text);
    const Parse p = ParseProbe(c.name, c.text);
    EXPECT_EQ(p.rc, c.rc);
    EXPECT_NE(p.message.find(c.message), std::string::npos) << p.message;
  }
}

TEST(RegistryTextTest, NamedFieldsSetTheirBitsOnly) {
  // Each name gives its bits and its mask; applied on the word as (word & ~mask) | value.
  const struct {
    const char* name;
    const char* text;
    int64_t value;
    uint32_t mask;
  } cases[] = {
      {"low", "c", 2, 0x0F},         {"high", "on", 0x10, 0xF0},        {"f.high", "off", 0, 0xF0},
      {"pattern", "rings", 4, 0x0F}, {"rec.pattern", "RINGS", 4, 0x0F},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Parse p = ParseProbe(c.name, c.text);
    ASSERT_EQ(p.rc, SUCCESS) << p.message;
    EXPECT_EQ(p.value, c.value);
    EXPECT_EQ(p.mask, c.mask);
  }
  // And back: a word as its named fields, with the default's fields left out on request.
  char text[128];
  EXPECT_EQ(FxFormatNamed(kProbeFields, 2, 0x11, nullptr, text, sizeof(text)), 1);
  EXPECT_STREQ(text, "low=b high=on");
  const uint32_t def = 0x12;
  EXPECT_EQ(FxFormatNamed(kProbeFields, 2, 0x11, &def, text, sizeof(text)), 1);
  EXPECT_STREQ(text, "low=b");
  for (uint32_t unnamed : {0x13u, 0x20u, 0x100u}) {  // a value or a bit without a name
    EXPECT_EQ(FxFormatNamed(kProbeFields, 2, unnamed, nullptr, text, sizeof(text)), 0) << unnamed;
    EXPECT_STREQ(text, "");
  }
}

class RegistryRelativeTest : public HostFixture {};

TEST_F(RegistryRelativeTest, SizesAndPointsAreMeasuredOnTheRectangleInOrientationOne) {
  // A 200 x 100 bitmap with the region 50 x 40 at (10, 20), seen in orientation 6: the effects
  // work in orientation 1, where the rectangle is 50 wide and 40 high.
  TestBitmap b(200, 100, 24, ORDER_BGR);
  const RECT region{10, 20, 60, 60};
  ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &region, 1), SUCCESS);
  ASSERT_EQ(HostSetOrientation(nullptr, b.get(), BITMAP_STRUCT_SIZE, 6, 0), SUCCESS);
  const struct {
    const char* name;
    const char* text;
    int64_t value;
  } cases[] = {
      {"i", "50%w", 25},
      {"i", "33.3333%h", 13},  // 13.33332, truncated
      {"i", "-10%s", -4},      // the shorter side is 40; toward zero
      {"i", "250%s", 100},
      {"u", "0.5%W", 0},
      {"p", "50%,50%", Point(35, 40)},  // from the left and top edge
      {"p", "0%,100%", Point(10, 60)},
      {"p", "5,25%", Point(5, 30)},  // absolute and relative mixed
      {"p", "-10%,0", Point(5, 0)},
      {"arr", "10%w", 5},
      {"Style", "100%h", 40},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.name) + "=" + c.text);
    const Parse p = ParseProbe(c.name, c.text, b.get());
    EXPECT_EQ(p.rc, SUCCESS) << p.message;
    EXPECT_EQ(p.value, c.value);
    // Without a picture the same text is valid but cannot be measured.
    const Parse unmeasured = ParseProbe(c.name, c.text);
    EXPECT_EQ(unmeasured.rc, FX_REGISTRY_NEEDS_BITMAP);
    EXPECT_NE(unmeasured.message.find("relative to the picture"), std::string::npos);
  }
  EXPECT_EQ(b->Orientation, 6);  // measured without leaving the view changed
  const Parse outside = ParseProbe("r", "2000%w", b.get());
  EXPECT_EQ(outside.rc, FX_REGISTRY_OUT_OF_RANGE);
  EXPECT_EQ(outside.message, "probe: r=2000%w is 1000 on this picture, outside -500..500");
  for (const char* bad : {"5%x", "%w", "1.23456%w", "1234567890%w", "5%,", "1.%w"})
    EXPECT_EQ(ParseProbe("i", bad, b.get()).rc, FX_REGISTRY_BAD_VALUE) << bad;
}

TEST(RegistryTextTest, UnknownNamesSuggestTheNearest) {
  char message[512];
  const struct {
    const char* typed;
    const char* found;    // short name, or null when unknown
    const char* message;  // expected within the message
  } effects[] = {
      {"Swirl", "swirl", ""},
      {"FX_SWIRLBITMAP", "swirl", ""},
      {"swril", nullptr, "unknown effect 'swril' (did you mean swirl?)"},
      {"BLUR", nullptr, "(did you mean zoom-blur or radial-blur?)"},
      {"spherise", nullptr, "(did you mean spherize?)"},
      {"xyzzy", nullptr, "unknown effect 'xyzzy'"},
  };
  for (const auto& c : effects) {
    SCOPED_TRACE(c.typed);
    const FxEffectDesc* e = FxLookupEffect(c.typed, message, sizeof(message));
    EXPECT_EQ(e ? std::string(e->shortName) : "", c.found ? c.found : "");
    EXPECT_NE(std::string(message).find(c.message), std::string::npos) << message;
  }
  EXPECT_EQ(std::string(message).find("did you mean"), std::string::npos) << message;

  const struct {
    const char* typed;
    int32_t rc;
    const char* message;
  } names[] = {
      {"R", SUCCESS, ""},
      {"hihg", FX_REGISTRY_UNKNOWN_PARAMETER,
       "probe: unknown parameter 'hihg' (did you mean high?)"},
      {"Stlye", FX_REGISTRY_UNKNOWN_PARAMETER, "(did you mean Style?)"},
      {"rec.Stlye", FX_REGISTRY_UNKNOWN_PARAMETER,
       "Rec has no field 'Stlye' (did you mean Style?)"},
      {"qqq", FX_REGISTRY_UNKNOWN_PARAMETER, "probe: unknown parameter 'qqq'"},
  };
  for (const auto& c : names) {
    SCOPED_TRACE(c.typed);
    FxTarget target;
    EXPECT_EQ(FxResolveName(&kProbe, c.typed, &target, message, sizeof(message)), c.rc);
    EXPECT_NE(std::string(message).find(c.message), std::string::npos) << message;
  }

  EXPECT_EQ(FxFindPreset(&kProbe, "STRONG", message, sizeof(message)), &kPresets[0]);
  EXPECT_EQ(FxFindPreset(&kProbe, "stron", message, sizeof(message)), nullptr);
  EXPECT_STREQ(message, "probe: unknown preset 'stron' (did you mean strong?)");
  EXPECT_EQ(FxFindPreset(&kProbe, "zz", message, sizeof(message)), nullptr);
  EXPECT_STREQ(message, "probe: unknown preset 'zz' (presets: strong, weak)");
  // A short buffer still gets a terminated message.
  char tiny[8];
  FxLookupEffect("nope", tiny, sizeof(tiny));
  EXPECT_STREQ(tiny, "unknown");
}

class RegistryReportTest : public HostFixture {};

TEST_F(RegistryReportTest, InvokeExNamesTheRefusedParameter) {
  TestBitmap b(16, 12, 24, ORDER_BGR);
  const FxEffectDesc* plasma = FxFindEffect("plasma-filter");
  const FxEffectDesc* spherize = FxFindEffect("spherize");
  ASSERT_TRUE(plasma && spherize);
  uint8_t info[32];
  FxFillRecordDefaults(plasma->params[0].record, info);
  const uint32_t zero = 0;
  std::memcpy(info + 24, &zero, 4);  // Wavelength, field 6
  const struct {
    const FxEffectDesc* effect;
    std::vector<FxNamedValue> values;
    int32_t rc, param, field;
    const char* message;
  } cases[] = {
      {spherize,
       {{"strength", {.i = 600}, 0}},
       FX_REGISTRY_OUT_OF_RANGE,
       0,
       -1,
       "spherize: strength=600 is outside -500..500"},
      {spherize,
       {{"fillColor", {.i = -1}, 0}, {"flags", {.i = 0x100000000}, 0}},
       FX_REGISTRY_OUT_OF_RANGE,
       3,
       -1,
       "spherize: flags=4294967296 is outside 0x0..0xFFFFFFFF"},
      {plasma,
       {{"info", {.ptr = info}, 1}},
       FX_REGISTRY_OUT_OF_RANGE,
       0,
       6,
       "plasma-filter: Wavelength=0 is outside 1..4294967295"},
      {spherize,
       {{"strenght", {.i = 1}, 0}},
       FX_REGISTRY_UNKNOWN_PARAMETER,
       -1,
       -1,
       "spherize: unknown parameter 'strenght' (did you mean strength?)"},
      {spherize,
       {{"strength", {.i = 1}, 0}, {"Strength", {.i = 2}, 0}},
       FX_REGISTRY_DUPLICATE_PARAMETER,
       0,
       -1,
       "spherize: strength given twice"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    FxReport report;
    EXPECT_EQ(FxInvokeEx(c.effect, b.get(), c.values.data(), uint32_t(c.values.size()),
                         FX_INVOKE_CHECK_RANGES, &report),
              c.rc);
    EXPECT_EQ(report.param, c.param);
    EXPECT_EQ(report.field, c.field);
    EXPECT_STREQ(report.message, c.message);
  }
  // Without the check the export judges the value itself; a run it accepts reports nothing.
  FxReport report;
  const FxNamedValue strong{"strength", {.i = 600}, 0};
  EXPECT_EQ(FxInvokeEx(spherize, b.get(), &strong, 1, 0, &report), ERROR_POINT_OUT_OF_RANGE);
  const FxNamedValue fine{"strength", {.i = 100}, 0};
  EXPECT_EQ(FxInvokeEx(spherize, b.get(), &fine, 1, FX_INVOKE_CHECK_RANGES, &report), SUCCESS);
  EXPECT_EQ(report.param, -1);
  EXPECT_STREQ(report.message, "");
}

// Every flags-like parameter and record field of the registered effects: a word with more than
// one accepted value has named fields; names are unique within the effect; every named value
// lies in its field's mask, and set on the default it is a word the export accepts.
class RegistryNamedFieldsTest : public HostFixture {};

TEST_F(RegistryNamedFieldsTest, EveryFlagsWordIsNamedAndEveryNameIsAccepted) {
  size_t named = 0;
  for (uint32_t i = 0; i < FxEffectCount(); ++i) {
    const FxEffectDesc& e = *FxEffectAt(i);
    SCOPED_TRACE(e.shortName);
    std::set<std::string> names;
    struct Owner {
      int32_t param, field;  // field -1: the parameter itself
      const char* name;
      FxKind kind;
      int64_t min, max, def;
      const FxFlagField* fields;
      uint32_t count;
    };
    std::vector<Owner> owners;
    for (uint32_t p = 0; p < e.paramCount; ++p) {
      const FxParamDesc& d = e.params[p];
      owners.push_back({int32_t(p), -1, d.name, d.kind, d.minValue, d.maxValue, d.defaultValue,
                        d.flagFields, d.flagFieldCount});
      if (d.kind == FX_KIND_RECORD && d.record)
        for (uint32_t f = 1; f < d.record->fieldCount; ++f) {
          const FxFieldDesc& fd = d.record->fields[f];
          owners.push_back({int32_t(p), int32_t(f), fd.name, fd.kind, fd.minValue, fd.maxValue,
                            fd.defaultValue, fd.flagFields, fd.flagFieldCount});
        }
    }
    for (const Owner& o : owners) {
      SCOPED_TRACE(o.name);
      std::string lower = o.name;
      for (char& ch : lower) ch = char(std::tolower(ch));
      EXPECT_TRUE(names.insert(lower).second) << "name used twice";
      if (o.kind == FX_KIND_FLAGS && o.max > o.min) {
        EXPECT_GT(o.count, 0u) << "flags unnamed";
      }
      for (uint32_t k = 0; k < o.count; ++k) {
        const FxFlagField& f = o.fields[k];
        SCOPED_TRACE(f.name);
        std::string field = f.name;
        for (char& ch : field) ch = char(std::tolower(ch));
        if (field != lower) {
          EXPECT_TRUE(names.insert(field).second) << "name used twice";
        }
        std::set<uint32_t> values;
        for (uint32_t v = 0; v < f.valueCount; ++v) {
          const FxFlagValue& value = f.values[v];
          const std::string word = std::string(f.name) + "=" + value.name;
          SCOPED_TRACE(word);
          EXPECT_EQ(value.value & ~f.mask, 0u);
          EXPECT_TRUE(values.insert(value.value).second) << "value named twice";
          // Set on the default through the registry's own parsing, then run.
          const Parse parsed = ParseOn(e, f.name, value.name, nullptr);
          ASSERT_EQ(parsed.rc, SUCCESS) << parsed.message;
          const uint32_t composed = (uint32_t(o.def) & ~parsed.mask) | uint32_t(parsed.value);
          EXPECT_TRUE(composed >= o.min && composed <= o.max);
          TestBitmap b(24, 16, 24, ORDER_BGR);
          b.FillNoise(5);
          const FxParamDesc& param = e.params[o.param];
          FxNamedValue given{param.name, {}, 0};
          std::vector<uint8_t> record;
          if (o.field < 0) {
            given.value.i = o.kind == FX_KIND_INT32 ? int32_t(composed) : int64_t{composed};
          } else {
            record.resize(param.record->size);
            FxFillRecordDefaults(param.record, record.data());
            FxStoreField(&param.record->fields[o.field], record.data(), composed);
            given.value.ptr = record.data();
            given.count = 1;
          }
          const int32_t rc = FxInvoke(&e, b.get(), &given, 1);
          EXPECT_EQ(rc, SUCCESS) << FxResultName(rc);
          ++named;
        }
      }
    }
  }
  EXPECT_GT(named, 40u);
}

}  // namespace
