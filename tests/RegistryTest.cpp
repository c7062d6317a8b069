// The registry: descriptors against the export declarations, and the generic call's handling of
// every parameter kind (through a probe effect defined here, since no registered effect has
// all the kinds).
#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include "Common/RegistryDefs.h"
#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

std::string ReadSource(const char* relative) {
  std::ifstream in(std::string(FXKIT_SOURCE_DIR) + relative);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Every "FXKIT_API int32_t Fx_...(BitmapRecord* bitmap, type name, ...)" declaration: the
// parameters after the bitmap as (type, name), the type's words joined by single spaces.
using Declared = std::vector<std::pair<std::string, std::string>>;
std::map<std::string, Declared> ReadExportDeclarations() {
  const std::string source = ReadSource("/include/fxkit/effects.h");
  const std::string marker = "FXKIT_API int32_t ";
  std::map<std::string, Declared> exports;
  for (size_t at = source.find(marker); at != std::string::npos; at = source.find(marker, at + 1)) {
    const size_t open = source.find('(', at), close = source.find(')', open);
    Declared& params = exports[source.substr(at + marker.size(), open - at - marker.size())];
    std::stringstream list(source.substr(open + 1, close - open - 1));
    std::string item;
    std::getline(list, item, ',');  // the bitmap the export works on
    while (std::getline(list, item, ',')) {
      std::stringstream words(item);
      std::vector<std::string> w{std::istream_iterator<std::string>(words), {}};
      std::string type;
      for (size_t i = 0; i + 1 < w.size(); ++i) type += (i ? " " : "") + w[i];
      params.emplace_back(type, w.empty() ? "" : w.back());
    }
  }
  return exports;
}

// Whether a declared C type can carry a parameter of this kind.
bool KindFitsType(FxKind kind, const std::string& type) {
  const auto has = [&](const char* word) { return type.find(word) != std::string::npos; };
  if (has("*")) {
    if (has("BitmapRecord")) return kind == FX_KIND_BITMAP;
    if (has("int32_t") || has("COLORREF") || has("POINT")) return kind == FX_KIND_INT_ARRAY;
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
std::string ShortNameOf(std::string exportName) {
  exportName.erase(0, 3);
  if (const size_t bitmap = exportName.find("Bitmap"); bitmap != std::string::npos)
    exportName.erase(bitmap, 6);
  std::string name;
  for (char c : exportName) {
    if (std::isupper(uint8_t(c)) && !name.empty()) name += '-';
    name += char(std::tolower(uint8_t(c)));
  }
  return name;
}

// Names, parameter order and kinds against the declarations; defaults, counts and records
// consistent within each descriptor.
TEST(RegistryTest, DescriptorsMatchTheExportDeclarations) {
  const auto declared = ReadExportDeclarations();
  ASSERT_FALSE(declared.empty());
  std::set<std::string> registered;
  for (uint32_t i = 0; i < FxEffectCount(); ++i) {
    const FxEffectDesc& e = *FxEffectAt(i);
    SCOPED_TRACE(e.exportName);
    registered.insert(e.exportName);
    EXPECT_EQ(e.shortName, ShortNameOf(e.exportName));
    EXPECT_EQ(FxFindEffect(e.shortName), &e);  // which also makes the short names unique
    EXPECT_EQ(FxFindEffect(e.exportName), &e);
    EXPECT_TRUE(e.summary && *e.summary && e.call);
    EXPECT_GE(e.presetCount, 1u);
    for (uint32_t s = 0; s < e.presetCount; ++s)
      EXPECT_TRUE(e.presets[s].name && *e.presets[s].name && e.presets[s].values);
    const auto it = declared.find(e.exportName);
    ASSERT_NE(it, declared.end()) << "no declaration in fxkit/effects.h";
    ASSERT_EQ(e.paramCount, it->second.size());
    for (uint32_t p = 0; p < e.paramCount; ++p) {
      const FxParamDesc& d = e.params[p];
      SCOPED_TRACE(d.name);
      EXPECT_EQ(d.name, it->second[p].second) << "parameter " << p;
      EXPECT_TRUE(KindFitsType(d.kind, it->second[p].first))
          << FxKindName(d.kind) << " for " << it->second[p].first;
      EXPECT_TRUE(d.help && *d.help);
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
      if (d.kind == FX_KIND_INT_ARRAY && d.defaultRule == FX_DEFAULT_ARRAY) {
        EXPECT_GE(d.defaultArrayCount, d.fixedCount);
      }
      if (d.kind != FX_KIND_RECORD && d.kind != FX_KIND_RECORD_ARRAY) continue;
      ASSERT_TRUE(d.record && d.record->fieldCount >= 1);
      EXPECT_EQ(d.record->fields[0].offset, 0u) << "field 0 is the size";
      for (uint32_t f = 0; f < d.record->fieldCount; ++f) {
        const FxFieldDesc& field = d.record->fields[f];
        EXPECT_LE(field.offset + (field.kind == FX_KIND_POINT ? 8 : 4), d.record->size)
            << field.name;
        EXPECT_EQ(FxFindField(d.record, field.name), int32_t(f)) << "duplicate " << field.name;
      }
    }
  }
  for (const auto& [name, d] : declared) EXPECT_TRUE(registered.count(name)) << name;
}

TEST(RegistryTest, EveryResultCodeHasItsName) {
  std::stringstream lines(ReadSource("/include/fxkit/types.h") +
                          ReadSource("/include/fxkit/registry.h"));
  int found = 0;
  for (std::string line; std::getline(lines, line);) {
    std::stringstream words(line);
    std::string define, name, value;
    words >> define >> name >> value;
    if (define != "#define" ||
        (name != "SUCCESS" && name.rfind("ERROR_", 0) != 0 && name.rfind("FX_REGISTRY_", 0) != 0))
      continue;
    const char* known = FxResultName(std::stoi(value.substr(value[0] == '(')));  // "(-11)"
    ASSERT_NE(known, nullptr) << name;
    EXPECT_EQ(known, name);
    ++found;
  }
  EXPECT_GE(found, 20);
  EXPECT_EQ(FxResultName(12345), nullptr);
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

// clang-format off
enum ProbeParam { kCenter, kWidth, kHeight, kFill, kOffset, kInfo, kCurveP, kCurveCount, kCornersP,
                  kLights, kLightCount, kTexture, kCopy, kMask, kFlags, kParamCount };
// clang-format on
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
  ASSERT_EQ(CallProbe({Ptr("curve", five, 5), Int("curveCount", 5)}), SUCCESS);  // every value
  EXPECT_EQ(gSeen.curve, Values({1, 2, 3, 4, 5}));
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
      {{Ptr("curve", nullptr, 0), Int("curveCount", 1)}, FX_REGISTRY_COUNT_TOO_LARGE},
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
