// Parsing of "name=value" words into the registry's named values, for every parameter kind (a
// test-only descriptor carries the kinds no registered effect has yet).
#include <cstring>

#include "Common/RegistryDefs.h"
#include "TestSupport.h"
#include "tools/fxkit/Values.h"

namespace {

using fxcli::EffectArgs;
using fxcli::UsageError;

TEST(CliValuesTest, IntegersPointsAndColours) {
  // Decimal or 0x hex with an optional sign, within 64 bits.
  const std::pair<const char*, int64_t> integers[] = {
      {"0", 0},
      {"-5", -5},
      {"+7", 7},
      {"0x1F", 31},
      {"-0x10", -16},
      {"0X7fffffffffffffff", INT64_MAX},
      {"9223372036854775807", INT64_MAX},
      {"-9223372036854775808", INT64_MIN},
  };
  for (const auto& [text, value] : integers) {
    int64_t v = 0;
    EXPECT_TRUE(fxcli::ParseInt64(text, v)) << text;
    EXPECT_EQ(v, value) << text;
  }
  for (const char* text :
       {"9223372036854775808", "0x10000000000000000", "", "-", "0x", "1.5", "12a", " 1", "0x1g"}) {
    int64_t v = 0;
    EXPECT_FALSE(fxcli::ParseInt64(text, v)) << text;
  }

  struct Case {
    FxKind kind;
    const char* text;
    int64_t packed;
  };
  const Case cases[] = {
      {FX_KIND_INT32, "-1", -1},
      {FX_KIND_INT32, "0xFFFFFFFF", -1},  // the same 32-bit word
      {FX_KIND_INT32, "-2147483648", INT32_MIN},
      {FX_KIND_UINT32, "-1", 0xFFFFFFFF},
      {FX_KIND_UINT32, "4294967295", 0xFFFFFFFF},
      {FX_KIND_FLAGS, "0x10", 16},
      {FX_KIND_COLOR, "#102030", 0x302010},  // #RRGGBB to 0x00BBGGRR
      {FX_KIND_COLOR, "#FFfF00", 0x00FFFF},
      {FX_KIND_COLOR, "0x00302010", 0x302010},
      {FX_KIND_POINT, "3,-4", int64_t{3} | int64_t{uint32_t(-4)} << 32},
      {FX_KIND_POINT, "0x10,0", 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(fxcli::ParseScalar(c.kind, c.text, "x"), c.packed);
    // Formatting and parsing again gives the same word.
    EXPECT_EQ(fxcli::ParseScalar(c.kind, fxcli::FormatScalar(c.kind, c.packed), "x"), c.packed);
  }
  const std::pair<FxKind, const char*> refused[] = {
      {FX_KIND_INT32, "-2147483649"}, {FX_KIND_UINT32, "4294967296"},
      {FX_KIND_COLOR, "#10203"},      {FX_KIND_COLOR, "#1020304"},
      {FX_KIND_COLOR, "#10203g"},     {FX_KIND_INT32, "#102030"},
      {FX_KIND_POINT, "3"},           {FX_KIND_POINT, "1,2,3"},
      {FX_KIND_POINT, "1,"},          {FX_KIND_POINT, "2147483648,0"},
  };
  for (const auto& [kind, text] : refused)
    EXPECT_THROW(fxcli::ParseScalar(kind, text, "x"), UsageError) << text;
}

// A descriptor with every kind: two records sharing a field name, arrays with and without a
// count, a record array and a bitmap.
struct Rec {
  uint32_t size;
  int32_t tileWidth;
  uint32_t shared;
  POINT where;
};
struct Light {
  uint32_t size;
  int32_t x, y;
  uint32_t kind;
};
const FxFieldDesc kRecFields[] = {
    fx::Field("size", FX_KIND_UINT32, 0, 0, 0, fx::kAnyUInt32Max, "size"),
    fx::Field("TileWidth", FX_KIND_INT32, 4, 8, 1, 360, "w"),
    fx::Field("shared", FX_KIND_COLOR, 8, 0x10, 0, fx::kAnyUInt32Max, "s"),
    fx::Field("where", FX_KIND_POINT, 12, int64_t{5} | int64_t{6} << 32, fx::kAnyInt32Min,
              fx::kAnyInt32Max, "p"),
};
const FxRecordDesc kRec = {"Rec", sizeof(Rec), kRecFields, 4};
const FxFieldDesc kOtherFields[] = {
    fx::Field("size", FX_KIND_UINT32, 0, 0, 0, fx::kAnyUInt32Max, "size"),
    fx::Field("shared", FX_KIND_UINT32, 4, 3, 0, 9, "s"),
};
const FxRecordDesc kOther = {"Other", 8, kOtherFields, 2};
const FxFieldDesc kLightFields[] = {
    fx::Field("size", FX_KIND_UINT32, 0, 0, 0, fx::kAnyUInt32Max, "size"),
    fx::Field("x", FX_KIND_INT32, 4, 11, fx::kAnyInt32Min, fx::kAnyInt32Max, "x"),
    fx::Field("y", FX_KIND_INT32, 8, 22, fx::kAnyInt32Min, fx::kAnyInt32Max, "y"),
    fx::Field("kind", FX_KIND_UINT32, 12, 0, 0, 1, "k"),
};
const FxRecordDesc kLight = {"Light", sizeof(Light), kLightFields, 4};
const int32_t kCurve[] = {0, 500, 1000};
const int32_t kCorners[] = {0, 0, 9, 0, 0, 9, 9, 9};
const FxParamDesc kParams[] = {
    fx::IntParam("angle", 400, -36000, 36000, "a"),
    fx::CenterParam("center", "c"),
    fx::ColorParam("fillColor", 0, "f"),
    fx::RecordParam("info", &kRec, "i"),
    fx::RecordParam("extra", &kOther, "e"),
    fx::IntArrayParam("curve", kCurve, 3, -1000, 1000, 0, "curve"),
    fx::CountParam("curveCount", FX_KIND_UINT32, 5, 1, 100, "n"),
    fx::IntArrayParam("corners", kCorners, 8, fx::kAnyInt32Min, fx::kAnyInt32Max, 8, "k"),
    fx::RecordArrayParam("lights", &kLight, 1, "l"),
    fx::CountParam("count", FX_KIND_INT32, 8, 1, 100, "n"),
    fx::BitmapParam("bumpBitmap", FX_DEFAULT_IMAGE_COPY, "b"),
    fx::FlagsParam("flags", 0, 0, 0, "f"),
};
const FxEffectDesc kEffect = {"kinds",
                              "Fx_KindsBitmap",
                              FX_FAMILY_DISTORTION,
                              "every kind",
                              kParams,
                              fx::CountOf(kParams),
                              [](BitmapRecord*, const FxValue*) { return SUCCESS; },
                              nullptr,
                              0,
                              0};

const FxNamedValue* Find(const std::vector<FxNamedValue>& values, const char* name) {
  for (const FxNamedValue& v : values)
    if (!std::strcmp(v.name, name)) return &v;
  return nullptr;
}

class CliArgsTest : public fxtest::HostFixture {};

TEST_F(CliArgsTest, EveryKindBuildsItsValue) {
  EffectArgs args(kEffect);
  args.Add({"angle=-1500", "center=10,-20", "fillColor=#FF8000", "TileWidth=16", "info.shared=0x55",
            "where=1,2", "extra.shared=4", "curve=1,-2,0x3,#000001", "corners=1,2,3,4,5,6,7,8",
            "lights[2].x=-9", "lights[0].kind=1", "bumpBitmap=@card:8x6"});
  const std::vector<FxNamedValue>& v = args.Values();
  EXPECT_EQ(Find(v, "angle")->value.i, -1500);
  EXPECT_EQ(Find(v, "center")->value.pt.x, 10);
  EXPECT_EQ(Find(v, "center")->value.pt.y, -20);
  EXPECT_EQ(Find(v, "fillColor")->value.i, 0x0080FF);
  EXPECT_EQ(Find(v, "curveCount"), nullptr);  // omitted: the registry counts the curve
  // Records: the size filled in, named fields set, the others at their defaults.
  const auto* info = static_cast<const Rec*>(Find(v, "info")->value.ptr);
  EXPECT_EQ((std::vector<int64_t>{info->size, info->tileWidth, info->shared, info->where.x,
                                  info->where.y}),
            (std::vector<int64_t>{sizeof(Rec), 16, 0x55, 1, 2}));
  const auto* extra = static_cast<const uint32_t*>(Find(v, "extra")->value.ptr);
  EXPECT_EQ((std::vector<uint32_t>{extra[0], extra[1]}), (std::vector<uint32_t>{8, 4}));
  const FxNamedValue* curve = Find(v, "curve");
  ASSERT_EQ(curve->count, 4u);
  const auto* values = static_cast<const int32_t*>(curve->value.ptr);
  EXPECT_EQ(std::vector<int32_t>(values, values + 4), std::vector<int32_t>({1, -2, 3, 0x010000}));
  EXPECT_EQ(Find(v, "corners")->count, 8u);
  const FxNamedValue* lights = Find(v, "lights");
  ASSERT_EQ(lights->count, 3u);  // highest index + 1
  const auto* l = static_cast<const Light*>(lights->value.ptr);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(l[i].size, sizeof(Light)) << i;
    EXPECT_EQ(l[i].x, i == 2 ? -9 : 11) << i;
    EXPECT_EQ(l[i].y, 22) << i;
    EXPECT_EQ(l[i].kind, i == 0 ? 1u : 0u) << i;
  }
  const auto* bump = static_cast<const BitmapRecord*>(Find(v, "bumpBitmap")->value.ptr);
  EXPECT_EQ(bump->Width, 8);
  EXPECT_EQ(bump->Height, 6);

  // "null" for pointers, a size given on purpose, counts passed on as given.
  EffectArgs nulls(kEffect);
  nulls.Add({"info.size=99", "curve=null", "lights=null", "curveCount=0", "bumpBitmap=null"});
  const std::vector<FxNamedValue>& n = nulls.Values();
  ASSERT_EQ(n.size(), 5u);
  EXPECT_EQ(static_cast<const Rec*>(Find(n, "info")->value.ptr)->size, 99u);
  for (const char* name : {"curve", "lights", "bumpBitmap"})
    EXPECT_EQ(Find(n, name)->value.ptr, nullptr) << name;
  EXPECT_EQ(Find(n, "curveCount")->value.i, 0);
  EffectArgs counted(kEffect);
  counted.Add({"curve=1,2,3,4", "curveCount=4", "count=-3"});
  EXPECT_EQ(Find(counted.Values(), "curveCount")->value.i, 4);
  EXPECT_EQ(Find(counted.Values(), "count")->value.i, -3);  // the export judges it
  EffectArgs last(kEffect);
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
      {{"angle"}, "angle: expected name=value"},
      {{"=5"}, "=5: expected name=value"},
      {{"angle="}, "angle=: missing value"},
      {{"angle=x"}, "angle=x: expected an integer"},
      {{"angle=1", "angle=2"}, "angle given twice"},
      {{"TileWidth=1", "info.TileWidth=2"}, "TileWidth given twice"},
      {{"shared=1"}, "more than one record"},
      {{"size=1"}, "more than one record"},
      {{"info.nope=1"}, "Rec has no field 'nope'"},
      {{"info=5"}, "info is a record"},
      {{"lights=5"}, "lights is an array of records"},
      {{"lights[1024].x=1"}, "record index"},
      {{"lights[-1].x=1"}, "record index"},
      {{"lights[0].z=1"}, "Light has no field 'z'"},
      {{"angle[0].x=1"}, "unknown parameter 'angle[0].x'"},
      {{"curve=1,,2"}, "curve=1,,2: expected an integer"},
      {{"curve=1,2", "curveCount=3"}, "curveCount=3 is more than the 2 value(s) of curve"},
      {{"curveCount=4"}, "curveCount=4 is more than the 3 value(s) of curve"},
      {{"lights[1].x=1", "count=3"}, "count=3 is more than the 2 value(s) of lights"},
      {{"corners=1,2,3"}, "corners needs exactly 8 values, got 3"},
      {{"lights=null", "lights[0].x=1"}, "lights was given as null"},
      {{"bumpBitmap=/no/such/file.png"}, "bumpBitmap: /no/such/file.png:"},
      {{"bumpBitmap=@card:0x5"}, "bumpBitmap: @card:0x5"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words.back());
    EffectArgs args(kEffect);
    try {
      args.Add(c.words);
      args.Values();
      ADD_FAILURE() << "accepted";
    } catch (const UsageError& e) {
      const std::string message = e.what();
      EXPECT_NE(message.find(c.culprit), std::string::npos) << message;
      EXPECT_EQ(message.rfind("kinds: ", 0), 0u) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
}

TEST_F(CliArgsTest, DescribeShowsWhatTheCallSees) {
  fxtest::TestBitmap b(40, 30, 24);
  ASSERT_TRUE(b.ok());
  EffectArgs args(kEffect);
  args.Add(fxcli::SplitWords(" angle=7\tTileWidth=9  curve=4,5\nlights[1].kind=1 "));
  const std::string text = args.Describe(b.get());
  for (const char* part :
       {"angle=7 ", "center=20,15 ", "fillColor=0x0 ", "info={TileWidth=9 shared=0x10 where=5,6}",
        "extra={shared=3}", "curve=4,5 ", "curveCount=2 ", "corners=0,0,9,0,0,9,9,9 ",
        "lights[0]={x=11 y=22 kind=0} lights[1]={x=11 y=22 kind=1} ", "count=2 ",
        "bumpBitmap=(copy of the image) ", "flags=0x0"})
    EXPECT_NE(text.find(part), std::string::npos) << part << " in " << text;
}

}  // namespace
