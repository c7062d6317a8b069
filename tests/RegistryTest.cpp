// The registry: descriptors against the export declarations, and the generic call's handling of
// every parameter kind; then the command line's "name=value" words for every kind. Both go
// through a probe effect defined here, since no registered effect has all the kinds.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "TestSupport.h"
#include "frame/RegistryDefs.h"
#include "tools/fxkit/Values.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

std::string ReadSource(const char* relative) {
  std::ifstream in(std::string(FXKIT_SOURCE_DIR) + relative);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// The parameter names of every "FXKIT_API int32_t Fx_...(BitmapRecord* bitmap, ...)"
// declaration, in order, after the bitmap.
std::map<std::string, std::vector<std::string>> ReadDeclaredNames() {
  const std::string source = ReadSource("/include/fxkit/effects.h");
  const std::string marker = "FXKIT_API int32_t ";
  std::map<std::string, std::vector<std::string>> exports;
  for (size_t at = source.find(marker); at != std::string::npos; at = source.find(marker, at + 1)) {
    const size_t open = source.find('(', at), close = source.find(')', open);
    auto& names = exports[source.substr(at + marker.size(), open - at - marker.size())];
    std::stringstream list(source.substr(open + 1, close - open - 1));
    std::string item;
    std::getline(list, item, ',');  // the bitmap the export works on
    while (std::getline(list, item, ',')) {
      item.erase(item.find_last_not_of(" \n") + 1);
      names.push_back(item.substr(item.find_last_of(" *\n") + 1));
    }
  }
  return exports;
}

// Names and parameter order against the declarations (CheckRegistry.cmake matches the export
// names against the library); defaults, counts and records consistent within each descriptor.
TEST(RegistryTest, DescriptorsMatchTheExportDeclarations) {
  const auto declared = ReadDeclaredNames();
  ASSERT_FALSE(declared.empty());
  EXPECT_EQ(declared.size(), FxEffectCount());
  // Short names: the words between Fx_ and Bitmap, lower case, joined by '-'.
  for (const char* name : {"swirl", "zoom-blur", "intelligent-down-scale"}) {
    ASSERT_NE(FxFindEffect(name), nullptr) << name;
    EXPECT_EQ(FxFindEffect(name)->shortName, std::string(name));
  }
  for (uint32_t i = 0; i < FxEffectCount(); ++i) {
    const FxEffectDesc& e = *FxEffectAt(i);
    SCOPED_TRACE(e.exportName);
    EXPECT_EQ(FxFindEffect(e.shortName), &e);  // which also makes the short names unique
    EXPECT_EQ(FxFindEffect(e.exportName), &e);
    EXPECT_GE(e.presetCount, 1u);
    // Front ends carrying alpha need to know whether the effect moves pixels or only tones.
    EXPECT_EQ(__builtin_popcount(e.traits & (FX_TRAIT_MOVES_PIXELS | FX_TRAIT_TONES_ONLY)), 1);
    const auto it = declared.find(e.exportName);
    ASSERT_NE(it, declared.end()) << "no declaration in fxkit/effects.h";
    ASSERT_EQ(e.paramCount, it->second.size());
    for (uint32_t p = 0; p < e.paramCount; ++p) {
      const FxParamDesc& d = e.params[p];
      SCOPED_TRACE(d.name);
      EXPECT_EQ(d.name, it->second[p]) << "parameter " << p;
      EXPECT_LE(d.minValue, d.maxValue);
      if (d.defaultRule == FX_DEFAULT_VALUE && d.kind != FX_KIND_POINT) {
        EXPECT_GE(d.defaultValue, d.minValue);
        EXPECT_LE(d.defaultValue, d.maxValue);
      }
      if (d.defaultRule == FX_DEFAULT_COUNT) {
        ASSERT_TRUE(d.arrayParam >= 0 && uint32_t(d.arrayParam) < e.paramCount);
        const FxKind counted = e.params[d.arrayParam].kind;
        EXPECT_TRUE(counted == FX_KIND_INT_ARRAY || counted == FX_KIND_RECORD_ARRAY);
      }
      if (d.kind != FX_KIND_RECORD && d.kind != FX_KIND_RECORD_ARRAY) continue;
      ASSERT_TRUE(d.record && d.record->fieldCount >= 1);
      for (uint32_t f = 0; f < d.record->fieldCount; ++f) {
        const FxFieldDesc& field = d.record->fields[f];
        const bool wide = field.kind == FX_KIND_POINT || field.kind == FX_KIND_INT_ARRAY;
        EXPECT_LE(field.offset + (wide ? 8 : 4), d.record->size) << field.name;
      }
    }
  }
}

// The probe effect ---------------------------------------------------------------------------

struct ProbeRecord {
  uint32_t size;
  int32_t a;
  uint32_t b;
  POINT p;
};
struct ProbeLight {
  uint32_t size;
  int32_t x;
  uint32_t kind;
};

const FxFieldDesc kProbeFields[] = {
    fx::Field("size", FX_KIND_UINT32, 0, 0, 0, fx::kAnyUInt32Max, "record size"),
    fx::Field("a", FX_KIND_INT32, 4, -5, -100, 100, "a"),
    fx::Field("b", FX_KIND_COLOR, 8, 0xFF, 0, fx::kAnyUInt32Max, "b"),
    fx::Field("p", FX_KIND_POINT, 12, int64_t{1} | int64_t{2} << 32, fx::kAnyInt32Min,
              fx::kAnyInt32Max, "p"),
};
const FxRecordDesc kProbeRecord = {"ProbeRecord", sizeof(ProbeRecord), kProbeFields, 4};
const FxFieldDesc kLightFields[] = {
    fx::Field("size", FX_KIND_UINT32, 0, 0, 0, fx::kAnyUInt32Max, "record size"),
    fx::Field("x", FX_KIND_INT32, 4, 7, fx::kAnyInt32Min, fx::kAnyInt32Max, "x"),
    fx::Field("kind", FX_KIND_UINT32, 8, 1, 0, 1, "kind"),
};
const FxRecordDesc kLightRecord = {"ProbeLight", sizeof(ProbeLight), kLightFields, 3};
// A second record sharing the field name "b".
const FxFieldDesc kExtraFields[] = {
    fx::Field("size", FX_KIND_UINT32, 0, 0, 0, fx::kAnyUInt32Max, "record size"),
    fx::Field("b", FX_KIND_UINT32, 4, 3, 0, 9, "b"),
};
const FxRecordDesc kExtraRecord = {"ProbeExtra", 8, kExtraFields, 2};
const int32_t kCurve[] = {10, 20, 30};
const int32_t kCorners[] = {0, 0, 9, 0, 0, 9, 9, 9};

// clang-format off
enum ProbeParam { kCenter, kWidth, kHeight, kFill, kOffset, kInfo, kCurveP, kCurveCount, kCornersP,
                  kLights, kLightCount, kTexture, kCopy, kMask, kFlags, kExtra, kParamCount };
// clang-format on
const FxParamDesc kProbeParams[] = {
    fx::CenterParam("center", "c"),
    fx::SizeParam("width", FX_DEFAULT_WIDTH_PERCENT, 25, 0, 1000, "w"),
    fx::SizeParam("height", FX_DEFAULT_HEIGHT_PERCENT, 50, 0, 1000, "h"),
    fx::ColorParam("fill", 0x123456, "f"),
    fx::PointParam("offset", -3, 7, "o"),
    fx::RecordParam("info", &kProbeRecord, "i"),
    fx::IntArrayParam("curve", kCurve, 3, -1000, 1000, 0, "curve"),
    fx::CountParam("curveCount", FX_KIND_UINT32, kCurveP, 0, 100, "n"),
    fx::IntArrayParam("corners", kCorners, 8, fx::kAnyInt32Min, fx::kAnyInt32Max, 8, "k"),
    fx::RecordArrayParam("lights", &kLightRecord, 2, "l"),
    fx::CountParam("lightCount", FX_KIND_INT32, kLights, 1, 100, "n"),
    fx::BitmapParam("texture", FX_DEFAULT_TEXTURE, "t"),
    fx::BitmapParam("copy", FX_DEFAULT_IMAGE_COPY, "c"),
    fx::BitmapParam("mask", FX_DEFAULT_NULL, "m"),
    fx::FlagsParam("flags", 0, 0, 0, "f"),
    fx::RecordParam("extra", &kExtraRecord, "e"),
};
static_assert(fx::CountOf(kProbeParams) == kParamCount);

// What the probe export saw, copied out before the registry releases its storage. The probe
// reads its arrays up to the counts it is given, as real exports do.
struct Seen {
  bool called = false;
  FxValue args[kParamCount];
  ProbeRecord info{};
  std::vector<int32_t> curve, corners;
  std::vector<ProbeLight> lights;
  int32_t textureWidth = 0, textureBits = 0;
  std::vector<uint8_t> copyPixels;
  bool copyIsBitmap = false, maskNull = false;
};
Seen gSeen;

int32_t Probe(BitmapRecord* bitmap, const FxValue* v) {
  gSeen = Seen{};
  gSeen.called = true;
  std::copy(v, v + kParamCount, gSeen.args);
  if (v[kInfo].ptr) std::memcpy(&gSeen.info, v[kInfo].ptr, sizeof(ProbeRecord));
  const auto* curve = static_cast<const int32_t*>(v[kCurveP].ptr);
  for (uint32_t i = 0; curve && i < uint32_t(v[kCurveCount].i); ++i)
    gSeen.curve.push_back(curve[i]);
  const auto* corners = static_cast<const int32_t*>(v[kCornersP].ptr);
  if (corners) gSeen.corners.assign(corners, corners + 8);
  const auto* lights = static_cast<const ProbeLight*>(v[kLights].ptr);
  for (int32_t i = 0; lights && i < int32_t(v[kLightCount].i); ++i)
    gSeen.lights.push_back(lights[i]);
  if (const auto* t = static_cast<const BitmapRecord*>(v[kTexture].ptr)) {
    gSeen.textureWidth = t->Width;
    gSeen.textureBits = t->BitsPerPixel;
  }
  if (const auto* c = static_cast<const BitmapRecord*>(v[kCopy].ptr)) {
    gSeen.copyIsBitmap = c != bitmap && c->Data != bitmap->Data;
    gSeen.copyPixels.assign(c->Data, c->Data + int64_t{c->BytesPerLine} * c->StoredHeight);
  }
  gSeen.maskNull = v[kMask].ptr == nullptr;
  return SUCCESS;
}

const FxEffectDesc kProbe = {"probe", "Fx_ProbeBitmap", FX_FAMILY_DISTORTION,
                             "probe", kProbeParams,     kParamCount,
                             Probe,   nullptr,          0,
                             0};

FxNamedValue Int(const char* name, int64_t v, uint32_t count = 0) {
  FxNamedValue n{name, {}, count};
  n.value.i = v;
  return n;
}
FxNamedValue Ptr(const char* name, const void* p, uint32_t count) {
  FxNamedValue n{name, {}, count};
  n.value.ptr = p;
  return n;
}

class RegistryInvokeTest : public HostFixture {};

TEST_F(RegistryInvokeTest, DefaultsFollowTheirRules) {
  for (uint8_t orientation : {1, 6}) {
    SCOPED_TRACE(int(orientation));
    TestBitmap b(40, 30, 24, ORDER_BGR);  // stored 40 x 30; the effects work in orientation 1
    ASSERT_TRUE(b.ok());
    b.FillNoise(3);
    const RECT region{10, 4, 30, 20};
    ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &region, 1), SUCCESS);
    ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, orientation, 0), SUCCESS);
    const std::vector<uint8_t> before = b.Stored();
    ASSERT_EQ(FxInvoke(&kProbe, b.get(), nullptr, 0), SUCCESS);
    ASSERT_TRUE(gSeen.called);
    EXPECT_EQ(b->Orientation, orientation);
    const FxValue* a = gSeen.args;
    // The centre of the region in orientation 1, 25% of the width and 50% of the height.
    EXPECT_EQ((std::vector<int64_t>{a[kCenter].pt.x, a[kCenter].pt.y, a[kWidth].i, a[kHeight].i,
                                    a[kFill].i, a[kOffset].pt.x, a[kOffset].pt.y, a[kFlags].i}),
              (std::vector<int64_t>{20, 12, 10, 15, 0x123456, -3, 7, 0}));
    const ProbeRecord& info = gSeen.info;
    EXPECT_EQ((std::vector<int64_t>{info.size, info.a, info.b, info.p.x, info.p.y}),
              (std::vector<int64_t>{sizeof(ProbeRecord), -5, 0xFF, 1, 2}));
    EXPECT_EQ(gSeen.curve, std::vector<int32_t>({10, 20, 30}));
    EXPECT_EQ(gSeen.corners, std::vector<int32_t>(kCorners, kCorners + 8));
    ASSERT_EQ(gSeen.lights.size(), 2u);
    for (const ProbeLight& l : gSeen.lights) {
      EXPECT_EQ((std::vector<int64_t>{l.size, l.x, l.kind}),
                (std::vector<int64_t>{sizeof(ProbeLight), 7, 1}));
    }
    EXPECT_EQ(gSeen.textureWidth, 128);
    EXPECT_EQ(gSeen.textureBits, 8);
    EXPECT_TRUE(gSeen.copyIsBitmap);
    EXPECT_EQ(gSeen.copyPixels, before);
    EXPECT_TRUE(gSeen.maskNull);
  }
}

// Runs the probe with the values on a fresh bitmap; what it saw is left in gSeen.
int32_t CallProbe(const std::vector<FxNamedValue>& values) {
  TestBitmap b(16, 12, 8, ORDER_GRAY);
  gSeen = Seen{};
  const int32_t rc = FxInvoke(&kProbe, b.get(), values.data(), uint32_t(values.size()));
  EXPECT_EQ(gSeen.called, rc == SUCCESS);
  return rc;
}

TEST_F(RegistryInvokeTest, GivenValuesAndCountsReachTheExport) {
  using Values = std::vector<int32_t>;
  const int32_t five[] = {1, 2, 3, 4, 5};
  ProbeLight three[3] = {{44, 1, 0}, {0, 2, 0}, {0, 3, 1}};
  ProbeRecord record{99, 42, 7, {5, 6}};
  FxNamedValue point{"center", {}, 0};
  point.value.pt = POINT{-4, 9};
  ASSERT_EQ(CallProbe({point, Ptr("info", &record, 1)}), SUCCESS);
  EXPECT_EQ(gSeen.args[kCenter].pt.x, -4);
  EXPECT_EQ(gSeen.args[kCenter].pt.y, 9);
  EXPECT_EQ(gSeen.info.size, 99u);  // a caller's record goes as given
  EXPECT_EQ(gSeen.info.a, 42);
  ASSERT_EQ(CallProbe({Ptr("curve", five, 5)}), SUCCESS);
  EXPECT_EQ(gSeen.curve, Values({1, 2, 3, 4, 5}));  // the count follows the given array
  ASSERT_EQ(CallProbe({Ptr("curve", five, 5), Int("curveCount", 2)}), SUCCESS);
  EXPECT_EQ(gSeen.curve, Values({1, 2}));
  ASSERT_EQ(CallProbe({Ptr("lights", three, 3)}), SUCCESS);
  ASSERT_EQ(gSeen.lights.size(), 3u);
  EXPECT_EQ(gSeen.lights[2].x, 3);
  // Counts of 0 or below, null arrays and null bitmaps are the export's to judge.
  ASSERT_EQ(CallProbe({Int("curveCount", 0)}), SUCCESS);
  EXPECT_TRUE(gSeen.curve.empty());
  ASSERT_EQ(CallProbe({Int("lightCount", -1)}), SUCCESS);
  EXPECT_EQ(gSeen.args[kLightCount].i, -1);
  ASSERT_EQ(CallProbe({Ptr("corners", nullptr, 0), Ptr("copy", nullptr, 0)}), SUCCESS);
  EXPECT_TRUE(gSeen.corners.empty());
  EXPECT_TRUE(gSeen.copyPixels.empty());
}

TEST_F(RegistryInvokeTest, ValuesThatDoNotFitAreRefused) {
  const int32_t five[] = {1, 2, 3, 4, 5}, seven[] = {1, 2, 3, 4, 5, 6, 7};
  const ProbeLight three[3] = {};
  const std::pair<std::vector<FxNamedValue>, int32_t> cases[] = {
      {{Ptr("curve", five, 5), Int("curveCount", 6)}, FX_REGISTRY_COUNT_TOO_LARGE},
      {{Int("curveCount", 4)}, FX_REGISTRY_COUNT_TOO_LARGE},  // beyond the default array
      {{Ptr("curve", five, 5), Int("curveCount", 0x80000000)}, FX_REGISTRY_COUNT_TOO_LARGE},
      {{Ptr("lights", three, 3), Int("lightCount", 4)}, FX_REGISTRY_COUNT_TOO_LARGE},
      {{Ptr("corners", seven, 7)}, FX_REGISTRY_ARRAY_TOO_SHORT},
      {{Int("nope", 1)}, FX_REGISTRY_UNKNOWN_PARAMETER},
      {{Int("flags", 1), Int("flags", 2)}, FX_REGISTRY_DUPLICATE_PARAMETER},
  };
  for (size_t i = 0; i < std::size(cases); ++i)
    EXPECT_EQ(CallProbe(cases[i].first), cases[i].second) << "case " << i;
  EXPECT_EQ(FxInvoke(nullptr, nullptr, nullptr, 0), FX_REGISTRY_UNKNOWN_EFFECT);
}

// The command line's words ------------------------------------------------------------------

TEST(CliValuesTest, OptionIntegers) {
  // Decimal or 0x hex with an optional sign, within 64 bits.
  const std::pair<const char*, int64_t> integers[] = {
      {"-5", -5},
      {"0x1F", 31},
      {"-0x10", -16},
      {"0X7fffffffffffffff", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
  };
  for (const auto& [text, value] : integers) {
    int64_t v = 0;
    EXPECT_TRUE(fxcli::ParseInt64(text, v)) << text;
    EXPECT_EQ(v, value) << text;
  }
  for (const char* text :
       {"9223372036854775808", "0x10000000000000000", "", "0x", "1.5", "12a", " 1"}) {
    int64_t v = 0;
    EXPECT_FALSE(fxcli::ParseInt64(text, v)) << text;
  }
}

const FxNamedValue* Find(const std::vector<FxNamedValue>& values, const char* name) {
  for (const FxNamedValue& v : values)
    if (!std::strcmp(v.name, name)) return &v;
  return nullptr;
}

class CliArgsTest : public HostFixture {};

TEST_F(CliArgsTest, EveryKindBuildsItsValue) {
  fxcli::EffectArgs args(kProbe);
  args.Add({"center=10,-20", "fill=#FF8000", "a=16", "info.b=0x55", "p=1,2", "extra.b=4",
            "curve=1,-2,0x3,10%w", "corners=1,2,3,4,5,6,7,rgb(1,0,0)", "lights[2].x=-9",
            "lights[0].kind=0", "texture=@card:8x6"});
  EXPECT_TRUE(args.Relative());
  EXPECT_THROW(args.Values(), fxcli::UsageError);  // 10%w needs a picture to measure
  TestBitmap picture(40, 30, 24, ORDER_BGR);
  const std::vector<FxNamedValue>& v = args.Values(picture.get());
  EXPECT_EQ(Find(v, "center")->value.pt.x, 10);
  EXPECT_EQ(Find(v, "center")->value.pt.y, -20);
  EXPECT_EQ(Find(v, "fill")->value.i, 0x0080FF);
  EXPECT_EQ(Find(v, "curveCount"), nullptr);  // omitted: the registry counts the curve
  // Records: the size filled in, named fields set, the others at their defaults.
  const auto* info = static_cast<const ProbeRecord*>(Find(v, "info")->value.ptr);
  EXPECT_EQ((std::vector<int64_t>{info->size, info->a, info->b, info->p.x, info->p.y}),
            (std::vector<int64_t>{sizeof(ProbeRecord), 16, 0x55, 1, 2}));
  const auto* extra = static_cast<const uint32_t*>(Find(v, "extra")->value.ptr);
  EXPECT_EQ((std::vector<uint32_t>{extra[0], extra[1]}), (std::vector<uint32_t>{8, 4}));
  const FxNamedValue* curve = Find(v, "curve");
  ASSERT_EQ(curve->count, 4u);
  const auto* values = static_cast<const int32_t*>(curve->value.ptr);
  EXPECT_EQ(std::vector<int32_t>(values, values + 4), std::vector<int32_t>({1, -2, 3, 4}));
  EXPECT_EQ(Find(v, "corners")->count, 8u);
  EXPECT_EQ(static_cast<const int32_t*>(Find(v, "corners")->value.ptr)[7], 1);
  const FxNamedValue* lights = Find(v, "lights");
  ASSERT_EQ(lights->count, 3u);  // highest index + 1
  const auto* l = static_cast<const ProbeLight*>(lights->value.ptr);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(l[i].size, sizeof(ProbeLight)) << i;
    EXPECT_EQ(l[i].x, i == 2 ? -9 : 7) << i;
    EXPECT_EQ(l[i].kind, i == 0 ? 0u : 1u) << i;
  }
  const auto* texture = static_cast<const BitmapRecord*>(Find(v, "texture")->value.ptr);
  EXPECT_EQ(texture->Width, 8);
  EXPECT_EQ(texture->Height, 6);

  // "null" for pointers, a size given on purpose, counts passed on as given.
  fxcli::EffectArgs nulls(kProbe);
  nulls.Add({"info.size=99", "curve=null", "lights=null", "curveCount=0", "texture=null"});
  const std::vector<FxNamedValue>& n = nulls.Values();
  ASSERT_EQ(n.size(), 5u);
  EXPECT_EQ(static_cast<const ProbeRecord*>(Find(n, "info")->value.ptr)->size, 99u);
  for (const char* name : {"curve", "lights", "texture"})
    EXPECT_EQ(Find(n, name)->value.ptr, nullptr) << name;
  EXPECT_EQ(Find(n, "curveCount")->value.i, 0);
  fxcli::EffectArgs last(kProbe);
  last.Add("lights[1023].kind=1");  // the highest index there may be
  EXPECT_EQ(Find(last.Values(), "lights")->count, 1024u);
}

TEST_F(CliArgsTest, BadWordsNameTheCulprit) {
  struct Case {
    std::vector<std::string> words;
    const char* culprit;  // expected in the one-line message
  };
  const Case cases[] = {
      {{"nope=1"}, "unknown parameter 'nope'"},
      {{"width"}, "width: expected name=value"},
      {{"width="}, "width=: missing value"},
      {{"width=x"}, "width=x: expected an integer"},
      {{"width=1001"}, "width=1001 is outside 0..1000"},
      {{"curve=1,2000"}, "curve=2000 is outside -1000..1000"},
      {{"a=1", "info.a=200"}, "a=200 is outside -100..100"},
      {{"width=1", "width=2"}, "width given twice"},
      {{"a=1", "info.a=2"}, "a given twice"},
      {{"b=1"}, "more than one record"},
      {{"info.nope=1"}, "ProbeRecord has no field 'nope'"},
      {{"info=5"}, "info is a record"},
      {{"lights=5"}, "lights is an array of records"},
      {{"lights[1024].x=1"}, "record index"},
      {{"lights[0].z=1"}, "ProbeLight has no field 'z'"},
      {{"curve=1,2", "curveCount=3"}, "curveCount=3 is more than the 2 value(s) of curve"},
      {{"curveCount=4"}, "curveCount=4 is more than the 3 value(s) of curve"},
      {{"corners=1,2,3"}, "corners needs exactly 8 values, got 3"},
      {{"lights=null", "lights[0].x=1"}, "lights was given as null"},
      {{"texture=/no/such/file.png"}, "texture: /no/such/file.png:"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.back());
    fxcli::EffectArgs args(kProbe);
    try {
      args.Add(c.words);
      args.Values();
      ADD_FAILURE() << "accepted";
    } catch (const fxcli::UsageError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(c.culprit), std::string::npos) << message;
      EXPECT_EQ(message.rfind("probe: ", 0), 0u) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
}

}  // namespace
