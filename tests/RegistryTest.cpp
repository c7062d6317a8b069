// The registry: descriptors against the export declarations, and the generic call's handling of
// every parameter kind (through a probe effect defined here, since no registered effect has
// all the kinds).
#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "Common/RegistryDefs.h"
#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

// Declarations ------------------------------------------------------------------------------

struct Declared {
  std::vector<std::string> types, names;  // parameters after the bitmap
};

std::string ReadSource(const char* relative) {
  std::ifstream in(std::string(FXKIT_SOURCE_DIR) + relative);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Trim(const std::string& s) {
  const size_t a = s.find_first_not_of(" \t\n");
  const size_t b = s.find_last_not_of(" \t\n");
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

bool IsIdentifierChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

// "FXKIT_API int32_t Fx_NameBitmap(BitmapRecord* bitmap, type name, ...)" declarations.
std::map<std::string, Declared> ReadExportDeclarations() {
  const std::string source = ReadSource("/include/fxkit/effects.h");
  const std::string marker = "FXKIT_API int32_t ";
  std::map<std::string, Declared> exports;
  for (size_t at = source.find(marker); at != std::string::npos; at = source.find(marker, at + 1)) {
    const size_t open = source.find('(', at), close = source.find(')', open);
    const std::string name = Trim(source.substr(at + marker.size(), open - at - marker.size()));
    if (name.rfind("Fx_", 0) != 0 || close == std::string::npos) continue;
    Declared d;
    std::stringstream params(source.substr(open + 1, close - open - 1));
    std::string item;
    for (bool first = true; std::getline(params, item, ','); first = false) {
      item = Trim(item);
      size_t split = item.size();
      while (split > 0 && IsIdentifierChar(item[split - 1])) --split;
      if (first) continue;  // the bitmap the export works on
      std::string type;     // whitespace collapsed
      for (char c : Trim(item.substr(0, split)))
        if (!std::isspace(static_cast<unsigned char>(c)) || (!type.empty() && type.back() != ' '))
          type += std::isspace(static_cast<unsigned char>(c)) ? ' ' : c;
      d.types.push_back(Trim(type));
      d.names.push_back(item.substr(split));
    }
    exports[name] = d;
  }
  return exports;
}

// Whether a declared C type can carry a parameter of this kind.
bool KindFitsType(FxKind kind, const std::string& type) {
  const bool pointer = type.find('*') != std::string::npos;
  if (pointer) {
    if (type.find("BitmapRecord") != std::string::npos) return kind == FX_KIND_BITMAP;
    if (type.find("int32_t") != std::string::npos || type.find("COLORREF") != std::string::npos ||
        type.find("POINT") != std::string::npos)
      return kind == FX_KIND_INT_ARRAY;
    return kind == FX_KIND_RECORD || kind == FX_KIND_RECORD_ARRAY;
  }
  if (type == "POINT") return kind == FX_KIND_POINT;
  if (type == "int32_t") return kind == FX_KIND_INT32;
  if (type == "uint32_t" || type == "COLORREF")
    return kind == FX_KIND_UINT32 || kind == FX_KIND_FLAGS || kind == FX_KIND_COLOR;
  return false;
}

// Short names: the words of the export name between Fx_ and Bitmap (and after it), lower case,
// joined by '-'.
std::string ShortNameOf(const std::string& exportName) {
  std::string core = exportName.substr(3);
  const size_t bitmap = core.find("Bitmap");
  if (bitmap != std::string::npos) core.erase(bitmap, 6);
  std::string name;
  for (char c : core) {
    if (std::isupper(static_cast<unsigned char>(c)) && !name.empty()) name += '-';
    name += char(std::tolower(static_cast<unsigned char>(c)));
  }
  return name;
}

TEST(RegistryTest, DescriptorsMatchTheExportDeclarations) {
  const auto declared = ReadExportDeclarations();
  ASSERT_FALSE(declared.empty());
  std::set<std::string> shortNames, registered;
  for (uint32_t i = 0; i < FxEffectCount(); ++i) {
    const FxEffectDesc& e = *FxEffectAt(i);
    SCOPED_TRACE(e.exportName);
    registered.insert(e.exportName);
    EXPECT_TRUE(shortNames.insert(e.shortName).second) << "duplicate short name";
    EXPECT_EQ(e.shortName, ShortNameOf(e.exportName));
    EXPECT_EQ(FxFindEffect(e.shortName), &e);
    EXPECT_EQ(FxFindEffect(e.exportName), &e);
    const auto it = declared.find(e.exportName);
    ASSERT_NE(it, declared.end()) << "no declaration in fxkit/effects.h";
    ASSERT_EQ(e.paramCount, it->second.names.size());
    for (uint32_t p = 0; p < e.paramCount; ++p) {
      EXPECT_EQ(e.params[p].name, it->second.names[p]) << "parameter " << p;
      EXPECT_TRUE(KindFitsType(e.params[p].kind, it->second.types[p]))
          << e.params[p].name << ": " << FxKindName(e.params[p].kind) << " for "
          << it->second.types[p];
    }
  }
  for (const auto& [name, d] : declared) EXPECT_TRUE(registered.count(name)) << name;
}

TEST(RegistryTest, DescriptorsAreConsistent) {
  for (uint32_t i = 0; i < FxEffectCount(); ++i) {
    const FxEffectDesc& e = *FxEffectAt(i);
    SCOPED_TRACE(e.shortName);
    EXPECT_TRUE(e.summary && *e.summary);
    EXPECT_NE(e.call, nullptr);
    EXPECT_GE(e.presetCount, 1u);
    for (uint32_t s = 0; s < e.presetCount; ++s)
      EXPECT_TRUE(e.presets[s].name && *e.presets[s].name && e.presets[s].values);
    for (uint32_t p = 0; p < e.paramCount; ++p) {
      const FxParamDesc& d = e.params[p];
      SCOPED_TRACE(d.name);
      EXPECT_TRUE(d.help && *d.help);
      EXPECT_LE(d.minValue, d.maxValue);
      if (d.defaultRule == FX_DEFAULT_VALUE && d.kind != FX_KIND_POINT) {
        EXPECT_GE(d.defaultValue, d.minValue);
        EXPECT_LE(d.defaultValue, d.maxValue);
      }
      if (d.defaultRule == FX_DEFAULT_COUNT) {
        ASSERT_GE(d.arrayParam, 0);
        ASSERT_LT(uint32_t(d.arrayParam), e.paramCount);
        const FxKind counted = e.params[d.arrayParam].kind;
        EXPECT_TRUE(counted == FX_KIND_INT_ARRAY || counted == FX_KIND_RECORD_ARRAY);
      }
      if (d.kind == FX_KIND_INT_ARRAY && d.defaultRule == FX_DEFAULT_ARRAY) {
        EXPECT_GE(d.defaultArrayCount, d.fixedCount);
      }
      if (d.kind == FX_KIND_RECORD || d.kind == FX_KIND_RECORD_ARRAY) {
        ASSERT_NE(d.record, nullptr);
        ASSERT_GE(d.record->fieldCount, 1u);
        EXPECT_EQ(d.record->fields[0].offset, 0u) << "field 0 is the size";
        for (uint32_t f = 0; f < d.record->fieldCount; ++f) {
          const FxFieldDesc& field = d.record->fields[f];
          const uint32_t bytes = field.kind == FX_KIND_POINT ? 8 : 4;
          EXPECT_LE(field.offset + bytes, d.record->size) << field.name;
          EXPECT_EQ(FxFindField(d.record, field.name), int32_t(f)) << "duplicate " << field.name;
        }
      }
    }
  }
}

TEST(RegistryTest, EveryResultCodeHasItsName) {
  std::stringstream lines(ReadSource("/include/fxkit/types.h"));
  std::string line;
  int found = 0;
  while (std::getline(lines, line)) {
    std::stringstream words(line);
    std::string define, name, value;
    words >> define >> name >> value;
    if (define != "#define" || (name != "SUCCESS" && name.rfind("ERROR_", 0) != 0)) continue;
    value.erase(
        std::remove_if(value.begin(), value.end(), [](char c) { return c == '(' || c == ')'; }),
        value.end());
    const char* known = FxResultName(std::stoi(value));
    ASSERT_NE(known, nullptr) << name;
    EXPECT_EQ(known, name);
    ++found;
  }
  EXPECT_GE(found, 10);
  EXPECT_EQ(FxResultName(12345), nullptr);
  EXPECT_STREQ(FxResultName(FX_REGISTRY_COUNT_TOO_LARGE), "FX_REGISTRY_COUNT_TOO_LARGE");
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
const int32_t kCurve[] = {10, 20, 30};
const int32_t kCorners[] = {0, 0, 9, 0, 0, 9, 9, 9};

enum ProbeParam {
  kCenter,
  kWidth,
  kHeight,
  kFill,
  kOffset,
  kInfo,
  kCurveP,
  kCurveCount,
  kCornersP,
  kLights,
  kLightCount,
  kTexture,
  kCopy,
  kMask,
  kFlags,
  kParamCount
};
const FxParamDesc kProbeParams[] = {
    fx::CenterParam("center", "c"),
    fx::SizeParam("width", FX_DEFAULT_WIDTH_PERCENT, 25, 0, 1000, "w"),
    fx::SizeParam("height", FX_DEFAULT_HEIGHT_PERCENT, 50, 0, 1000, "h"),
    fx::ColorParam("fill", 0x123456, "f"),
    fx::PointParam("offset", -3, 7, "o"),
    fx::RecordParam("info", &kProbeRecord, "i"),
    fx::IntArrayParam("curve", kCurve, 3, -1000, 1000, 0, "curve"),
    fx::CountParam("curveCount", FX_KIND_UINT32, kCurveP, 1, 100, "n"),
    fx::IntArrayParam("corners", kCorners, 8, fx::kAnyInt32Min, fx::kAnyInt32Max, 8, "k"),
    fx::RecordArrayParam("lights", &kLightRecord, 2, "l"),
    fx::CountParam("lightCount", FX_KIND_INT32, kLights, 1, 100, "n"),
    fx::BitmapParam("texture", FX_DEFAULT_TEXTURE, "t"),
    fx::BitmapParam("copy", FX_DEFAULT_IMAGE_COPY, "c"),
    fx::BitmapParam("mask", FX_DEFAULT_NULL, "m"),
    fx::FlagsParam("flags", 0, 0, 0, "f"),
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
    EXPECT_EQ(gSeen.args[kCenter].pt.x, 20);  // centre of the region in orientation 1
    EXPECT_EQ(gSeen.args[kCenter].pt.y, 12);
    EXPECT_EQ(gSeen.args[kWidth].i, 10);   // 25% of 40
    EXPECT_EQ(gSeen.args[kHeight].i, 15);  // 50% of 30
    EXPECT_EQ(gSeen.args[kFill].i, 0x123456);
    EXPECT_EQ(gSeen.args[kOffset].pt.x, -3);
    EXPECT_EQ(gSeen.args[kOffset].pt.y, 7);
    EXPECT_EQ(gSeen.info.size, sizeof(ProbeRecord));
    EXPECT_EQ(gSeen.info.a, -5);
    EXPECT_EQ(gSeen.info.b, 0xFFu);
    EXPECT_EQ(gSeen.info.p.x, 1);
    EXPECT_EQ(gSeen.info.p.y, 2);
    EXPECT_EQ(gSeen.curve, std::vector<int32_t>({10, 20, 30}));
    EXPECT_EQ(gSeen.corners, std::vector<int32_t>(kCorners, kCorners + 8));
    ASSERT_EQ(gSeen.lights.size(), 2u);
    for (const ProbeLight& l : gSeen.lights) {
      EXPECT_EQ(l.size, sizeof(ProbeLight));
      EXPECT_EQ(l.x, 7);
      EXPECT_EQ(l.kind, 1u);
    }
    EXPECT_EQ(gSeen.textureWidth, 128);
    EXPECT_EQ(gSeen.textureBits, 8);
    EXPECT_TRUE(gSeen.copyIsBitmap);
    EXPECT_EQ(gSeen.copyPixels, before);
    EXPECT_TRUE(gSeen.maskNull);
    EXPECT_EQ(gSeen.args[kFlags].i, 0);
  }
}

TEST_F(RegistryInvokeTest, GivenValuesCountsAndRefusals) {
  const int32_t five[] = {1, 2, 3, 4, 5};
  const int32_t seven[] = {1, 2, 3, 4, 5, 6, 7};
  ProbeLight three[3] = {{44, 1, 0}, {0, 2, 0}, {0, 3, 1}};
  ProbeRecord record{99, 42, 7, {5, 6}};
  FxNamedValue point{"center", {}, 0};
  point.value.pt = POINT{-4, 9};
  struct Case {
    const char* what;
    std::vector<FxNamedValue> values;
    int32_t expected;
    std::function<void()> check;
  };
  const std::vector<Case> cases = {
      {"a point and a record pass through",
       {point, Ptr("info", &record, 1)},
       SUCCESS,
       [] {
         EXPECT_EQ(gSeen.args[kCenter].pt.x, -4);
         EXPECT_EQ(gSeen.args[kCenter].pt.y, 9);
         EXPECT_EQ(gSeen.info.size, 99u);  // a caller's record goes as given
         EXPECT_EQ(gSeen.info.a, 42);
       }},
      {"count follows the given array",
       {Ptr("curve", five, 5)},
       SUCCESS,
       [] {
         EXPECT_EQ(gSeen.curve, std::vector<int32_t>({1, 2, 3, 4, 5}));
       }},
      {"a smaller count",
       {Ptr("curve", five, 5), Int("curveCount", 2)},
       SUCCESS,
       [] {
         EXPECT_EQ(gSeen.curve, std::vector<int32_t>({1, 2}));
       }},
      {"count 0 reaches the export",
       {Int("curveCount", 0)},
       SUCCESS,
       [] { EXPECT_TRUE(gSeen.curve.empty()); }},
      {"negative signed count reaches the export",
       {Int("lightCount", -1)},
       SUCCESS,
       [] { EXPECT_EQ(gSeen.args[kLightCount].i, -1); }},
      {"count beyond the given array",
       {Ptr("curve", five, 5), Int("curveCount", 6)},
       FX_REGISTRY_COUNT_TOO_LARGE,
       nullptr},
      {"count beyond the default array",
       {Int("curveCount", 4)},
       FX_REGISTRY_COUNT_TOO_LARGE,
       nullptr},
      {"count with a null array",
       {Ptr("curve", nullptr, 0), Int("curveCount", 1)},
       FX_REGISTRY_COUNT_TOO_LARGE,
       nullptr},
      {"unsigned count beyond 2^31",
       {Ptr("curve", five, 5), Int("curveCount", 0x80000000)},
       FX_REGISTRY_COUNT_TOO_LARGE,
       nullptr},
      {"record array count from the records",
       {Ptr("lights", three, 3)},
       SUCCESS,
       [] {
         ASSERT_EQ(gSeen.lights.size(), 3u);
         EXPECT_EQ(gSeen.lights[2].x, 3);
       }},
      {"record array count too large",
       {Ptr("lights", three, 3), Int("lightCount", 4)},
       FX_REGISTRY_COUNT_TOO_LARGE,
       nullptr},
      {"a fixed array too short", {Ptr("corners", seven, 7)}, FX_REGISTRY_ARRAY_TOO_SHORT, nullptr},
      {"a null fixed array reaches the export",
       {Ptr("corners", nullptr, 0)},
       SUCCESS,
       [] { EXPECT_TRUE(gSeen.corners.empty()); }},
      {"a null bitmap reaches the export",
       {Ptr("copy", nullptr, 0)},
       SUCCESS,
       [] { EXPECT_TRUE(gSeen.copyPixels.empty()); }},
      {"unknown name", {Int("nope", 1)}, FX_REGISTRY_UNKNOWN_PARAMETER, nullptr},
      {"duplicate", {Int("flags", 1), Int("flags", 2)}, FX_REGISTRY_DUPLICATE_PARAMETER, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestBitmap b(16, 12, 8, ORDER_GRAY);
    ASSERT_TRUE(b.ok());
    gSeen = Seen{};
    EXPECT_EQ(FxInvoke(&kProbe, b.get(), c.values.data(), uint32_t(c.values.size())), c.expected);
    EXPECT_EQ(gSeen.called, c.expected == SUCCESS);
    if (c.check && gSeen.called) c.check();
  }
  EXPECT_EQ(FxInvoke(nullptr, nullptr, nullptr, 0), FX_REGISTRY_UNKNOWN_EFFECT);
}

TEST_F(RegistryInvokeTest, ScalarDefaultsLeaveABadOrientationAlone) {
  TestBitmap b(10, 8, 24);
  ASSERT_TRUE(b.ok());
  b->Orientation = 9;  // invalid: the export refuses it; measuring must not repair it
  FxValue v{};
  ASSERT_EQ(FxScalarDefault(&kProbeParams[kCenter], b.get(), &v), 1);
  EXPECT_EQ(b->Orientation, 9);
  b->Orientation = 1;
  EXPECT_EQ(FxScalarDefault(&kProbeParams[kInfo], b.get(), &v), 0);
}

}  // namespace
