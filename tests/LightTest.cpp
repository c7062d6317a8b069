// Light: the checks in their order, hand-worked ambient, brightness and focus values, and flood
// and spot lights against the formulas written out; functional light: its checks and the three
// host lighting operations on their geometry (a light straight above a flat surface, a point
// light's falloff at known distances, a spot's cone).
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

LightInfo Flood(uint32_t intensity, uint32_t color, uint32_t mix, int32_t x = 0, int32_t y = 0) {
  return LightInfo{44, x, y, 0, 0, 0, intensity, 0, color, mix, 1};
}
LightInfo Spot(int32_t x, int32_t y, uint32_t width, uint32_t height, int32_t angle,
               uint32_t intensity, uint32_t falloff, uint32_t color, uint32_t mix) {
  return LightInfo{44, x, y, width, height, angle, intensity, falloff, color, mix, 0};
}

Call LightCall(std::vector<LightInfo> lights, uint32_t brightness = 100, uint32_t ambient = 100,
               uint32_t ambientColor = 0xFFFFFF, uint32_t flags = 0, int32_t count = -1) {
  return [=](BitmapRecord* b) mutable {
    return Fx_LightBitmap(b, lights.data(), count < 0 ? int32_t(lights.size()) : count, brightness,
                          ambient, ambientColor, flags);
  };
}

TEST(LightTest, ChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  const LightInfo ok = Flood(50, 0xFFFFFF, 50);
  const auto with = [&](auto change) {
    LightInfo l = Spot(5, 6, 8, 4, 0, 100, 50, 0xFFFFFF, 50);
    change(l);
    return std::vector<LightInfo>{ok, l};
  };
  // The view is 10 x 12 (the light keeps the bitmap's orientation).
  CheckEntryCases({
      {"StructSize before flags", StructSize(0), LightCall({ok}, 100, 100, 0, 1),
       ERROR_INV_STRUCT_SIZE},
      {"flags", nullptr, LightCall({ok}, 100, 100, 0, 1), bad},
      {"null lights", nullptr,
       [](BitmapRecord* b) { return Fx_LightBitmap(b, nullptr, 1, 1, 1, 1, 0); }, ERROR_NULL_INFO},
      {"first size before count", nullptr,
       LightCall({LightInfo{43, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}}, 100, 100, 0, 0, 0),
       ERROR_INV_STRUCT_SIZE},
      {"count 0", nullptr, LightCall({ok}, 100, 100, 0, 0, 0), bad},
      {"centre on the right and bottom edges", nullptr,
       LightCall(with([](LightInfo& l) { l.x = 10, l.y = 12; })), SUCCESS, kSome},
      {"x = right + 1", nullptr, LightCall(with([](LightInfo& l) { l.x = 11; })), bad},
      {"y = -1", nullptr, LightCall(with([](LightInfo& l) { l.y = -1; })), bad},
      {"angle 36001", nullptr, LightCall(with([](LightInfo& l) { l.angle = 36001; })), bad},
      {"falloff 101", nullptr, LightCall(with([](LightInfo& l) { l.falloff = 101; })), bad},
      {"kind 2", nullptr, LightCall(with([](LightInfo& l) { l.kind = 2; })), bad},
      {"mix 101", nullptr, LightCall(with([](LightInfo& l) { l.mix = 101; })), bad},
      {"width below height", nullptr, LightCall(with([](LightInfo& l) { l.width = 3; })), bad},
      {"a later record's size is not tested", nullptr,
       LightCall(with([](LightInfo& l) { l.size = 0; })), SUCCESS},
  });
}

// One 8-bit gray pixel of value p under the call; the light centred on it.
uint32_t OnePixel(uint8_t p, const Call& call, int32_t bpp = 8) {
  TestBitmap b(1, 1, bpp, ORDER_GRAY);
  if (bpp == 8)
    b->Data[0] = p;
  else
    reinterpret_cast<uint16_t*>(b->Data)[0] = p * 257;
  EXPECT_EQ(call(b.get()), SUCCESS);
  return bpp == 8 ? b->Data[0] : reinterpret_cast<uint16_t*>(b->Data)[0];
}

TEST(LightTest, HandWorkedValues) {
  const uint32_t white = 0xFFFFFF, gray50 = 0x323232;
  struct Case {
    const char* what;
    uint8_t p;
    Call call;
    uint32_t expected;
  };
  const Case cases[] = {
      // A[i] = i x 255 x 100 / 25500 = i, B[i] = i, the flood adds nothing.
      {"neutral ambient and an empty flood", 77, LightCall({Flood(0, white, 0)}), 77},
      {"ambient 40: 77 x 255 x 40 / 25500", 77, LightCall({Flood(0, white, 0)}, 100, 40), 30},
      {"ambient 0 darkens everything", 77, LightCall({Flood(0, white, 0)}, 100, 0), 0},
      // Flood, mix 100: p + c x intensity / 100 = 77 + 50 x 60 / 100.
      {"additive flood", 77, LightCall({Flood(60, gray50, 100)}), 107},
      // Flood, mix 0 is a tint only: 1.0 x p.
      {"multiplicative flood keeps p", 77, LightCall({Flood(60, gray50, 0)}), 77},
      // Brightness 50 after each of two lights: (77 / 2) / 2.
      {"brightness halves twice", 77, LightCall({Flood(0, white, 0), Flood(0, white, 0)}, 50), 19},
      // At the focus of a circle at intensity 100, k1 = 10 (100 - m), k2 = 10 m: m = 0 adds
      // p x c / 255, m = 100 adds c.
      {"focus, multiplicative", 100, LightCall({Spot(0, 0, 9, 9, 0, 100, 0, white, 0)}), 200},
      {"focus, additive", 100, LightCall({Spot(0, 0, 9, 9, 0, 100, 0, gray50, 100)}), 150},
      {"focus, clipped", 200, LightCall({Spot(0, 0, 9, 9, 0, 100, 0, white, 100)}), 255},
      // Height 0 acts as 1: b = 1, f = sqrt(24), r = 1e8 f / ((5 + f) 1e5) = 494.9, L = 505,
      // k1 = 505: 100 + 505 x 25500 / 255000.
      {"height 0", 100, LightCall({Spot(0, 0, 9, 0, 0, 100, 0, white, 0)}), 150},
      {"height 1", 100, LightCall({Spot(0, 0, 9, 1, 0, 100, 0, white, 0)}), 150},
      // The flood's product saturates instead of wrapping: 50 x 0x7FFFFFFF would wrap.
      {"huge flood saturates", 10, LightCall({Flood(0x7FFFFFFF, gray50, 1)}), 255},
  };
  for (const auto& c : cases) EXPECT_EQ(OnePixel(c.p, c.call), c.expected) << c.what;
  // 16 bits: the ambient table in double, 77 x 257 x 65535 x 0.4 / 65535.
  EXPECT_EQ(OnePixel(77, LightCall({Flood(0, white, 0)}, 100, 40), 16), 7915u);
  // The focus at 16 bits: p + (1000 / 100.0) x p x c / 655350.0 = 2p for white.
  EXPECT_EQ(OnePixel(100, LightCall({Spot(0, 0, 9, 9, 0, 100, 0, white, 0)}), 16), 51400u);
}

// Light written out from its formulas: the ambient and brightness tables per sample value, then
// every light per sample.
uint32_t ExpectedLight(const Sample& p, const std::vector<LightInfo>& lights, uint32_t brightness,
                       uint32_t ambient, uint32_t ambientColor) {
  const int64_t M = p.s.max();
  const bool deep = M == 65535;
  const auto colour = [&](uint32_t c) -> int64_t {
    const int64_t r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255;
    const int64_t v = p.s.step == 1 ? (b + 5 * g + 2 * r) / 8 : (p.k == 0 ? b : p.k == 1 ? g : r);
    return deep ? v * 257 : v;
  };
  const auto clip = [&](double v) { return int64_t(v > M ? M : (v < 0 ? 0 : v)); };
  const auto bright = [&](int64_t i) { return std::min<int64_t>(i * brightness / 100, M); };
  int64_t v = p.before();
  const int64_t a = colour(ambientColor);
  v = deep ? clip(v * a * (ambient / 100.0) / 65535.0)
           : std::min<int64_t>(v * a * ambient / 25500, M);
  for (const LightInfo& l : lights) {
    const int64_t c = colour(l.color);
    if (l.kind == 1) {
      v = bright(clip((100 - l.mix) / 100.0 * v + l.mix / 100.0 * (v + (c * l.intensity) / 100.0)));
      continue;
    }
    const int64_t ah = (int64_t{l.width} + 1) / 2, bh = std::max<int64_t>((l.height + 1) / 2, 1);
    const double theta = l.angle * kPi / 18000.0;
    const double f = std::sqrt(double(std::llabs(ah * ah - bh * bh)));
    const double dx = p.x - l.x, dy = p.y - l.y;
    const double u = dx * std::cos(theta) - dy * std::sin(theta);
    const double w = dx * std::sin(theta) + dy * std::cos(theta);
    const int64_t e = int64_t(1000 * (u * u / double(ah * ah) + w * w / double(bh * bh)));
    if (e <= 1000) {
      const int64_t E = e >= 951 ? (1000 - e) * 20 : 1000;
      int64_t L = 0;
      if (e != 1000) {
        const double r = std::min(
            1000.0, 1e8 * std::hypot(u + f, w) / ((ah + f) * (100000 - int64_t{l.falloff} * e)));
        L = int64_t(1000 - r);
      }
      const int64_t k1 = ((100 - l.mix) * int64_t{l.intensity}) / 100 * E * L / 100000;
      const int64_t k2 = (l.mix * int64_t{l.intensity}) / 100 * E * L / 100000;
      v = deep ? clip(v + (k1 / 100.0) * double(v * c) / 655350.0 + double(k2 * c / 1000))
               : clip(double(v + (k1 * (v * c)) / 255000 + (k2 * c) / 1000));
    }
    v = bright(v);
  }
  return uint32_t(v);
}

TEST(LightTest, FloodAndSpotLightsMatchTheFormulas) {
  const std::vector<LightInfo> lights = {
      Spot(9, 7, 17, 9, 3000, 140, 60, 0x4080FF, 35),  // rotated ellipse lit from a focus
      Flood(25, 0xC0FFE0, 40, 5, 5),
      Spot(3, 12, 11, 11, 0, 90, 100, 0xFFFFFF, 0),  // a circle, multiplicative
  };
  const struct {
    const char* what;
    Scene scene;
  } cases[] = {
      {"24-bit, region, orientation 6", {19, 15, 24, ORDER_BGR, {1, 2, 17, 14}, 0, 6}},
      {"48-bit noise", {19, 15, 48, ORDER_RGB, {}, 4}},
      {"16-bit gray", {19, 15, 16, ORDER_GRAY, {}, 0}},
      {"32-bit noise", {19, 15, 32, ORDER_BGR, {}, 8}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_GT(CompareWithReference(
                  c.scene, LightCall(lights, 90, 85, 0xF0E0FF),
                  [&](const Sample& p) { return ExpectedLight(p, lights, 90, 85, 0xF0E0FF); }),
              100);
  }
}

// Functional light -----------------------------------------------------------------------------

FunctionalLightInfo Functional(uint32_t options) {
  FunctionalLightInfo f{};
  f.size = 52;
  f.color = 0xFFFFFF;
  f.intensity = 100;
  f.radius = 100;
  f.falloff = 100;
  f.coneAngle = 9000;
  f.options = options;
  return f;
}

Call FunctionalCall(FunctionalLightInfo info, uint32_t flags = 0) {
  return [=](BitmapRecord* b) mutable { return Fx_FunctionalLightBitmap(b, &info, flags); };
}

TEST(LightTest, FunctionalLightChecks) {
  const auto bad = ERROR_INV_PARAMETER;
  const auto with = [](uint32_t options, auto change) {
    FunctionalLightInfo f = Functional(options);
    change(f);
    return FunctionalCall(f);
  };
  CheckEntryCases({
      {"StructSize", StructSize(271), FunctionalCall(Functional(0x1000), 1), ERROR_INV_STRUCT_SIZE},
      {"flags", nullptr, FunctionalCall(Functional(0x1000), 1), bad},
      {"size 51", nullptr, with(0x1000, [](auto& f) { f.size = 51; }), ERROR_INV_STRUCT_SIZE},
      {"null record", nullptr,
       [](BitmapRecord* b) { return Fx_FunctionalLightBitmap(b, nullptr, 0); }, ERROR_NULL_INFO},
      {"no operation", nullptr, FunctionalCall(Functional(0x8FFF)), bad},
      {"directional", nullptr, FunctionalCall(Functional(0x1000)), SUCCESS, kSome},
      {"elevation 9001", nullptr, with(0x1000, [](auto& f) { f.elevation = 9001; }), bad},
      {"azimuth -36001", nullptr, with(0x1000, [](auto& f) { f.azimuth = -36001; }), bad},
      {"point falloff 1001", nullptr, with(0x2000, [](auto& f) { f.falloff = 1001; }), bad},
      {"spot cone 36001", nullptr, with(0x4000, [](auto& f) { f.coneAngle = 36001; }), bad},
      {"spot softness 101", nullptr, with(0x4000, [](auto& f) { f.softness = 101; }), bad},
      // 0x3000: only the directional light runs, whose fields are valid.
      {"the first operation wins", nullptr, with(0x3000, [](auto& f) { f.falloff = 5000; }),
       SUCCESS},
  });
}

// An 8-bit gray bitmap of `width` x `height` filled with `level`, lit, and read back.
std::vector<uint8_t> LitGray(int32_t width, int32_t height, const std::vector<uint8_t>& levels,
                             const FunctionalLightInfo& info) {
  TestBitmap b(width, height, 8, ORDER_GRAY);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      b->Data[y * b->BytesPerLine + x] = levels.size() == 1 ? levels[0] : levels[y * width + x];
  FunctionalLightInfo copy = info;
  EXPECT_EQ(Fx_FunctionalLightBitmap(b.get(), &copy, 0), SUCCESS);
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) out.push_back(b->Data[y * b->BytesPerLine + x]);
  return out;
}

// p x (ambient + intensity x s x c / 255) / 100, truncated and clipped.
uint8_t Lit(double p, double s, double ambient, double intensity, double c) {
  const double v = p * ((ambient + intensity * s * c / 255.0) / 100.0);
  return uint8_t(v >= 255 ? 255 : v);
}

TEST(LightTest, DirectionalLightOverFlatAndRaisedSurfaces) {
  // Straight above a flat surface: s = 1, so white light of intensity 100 keeps every sample.
  FunctionalLightInfo f = Functional(0x1000);
  f.elevation = 9000;
  EXPECT_EQ(LitGray(4, 3, {200}, f), std::vector<uint8_t>(12, 200));
  // Lower light and a coloured, weaker one with ambient: s = sin(elevation) on a flat surface.
  f.elevation = 3000, f.color = 0x808080, f.intensity = 70, f.ambient = 20;
  const double s30 = std::sin(3000 * kPi / 18000.0);
  EXPECT_EQ(LitGray(4, 3, {200}, f), std::vector<uint8_t>(12, Lit(200, s30, 20, 70, 128)));
  // A step 100 | 200 between columns 1 and 2 lit from the right at 45 degrees: the relief rises
  // toward the light there, so its normal turns away from it and the step darkens.
  f = Functional(0x1000);
  f.elevation = 4500;
  f.azimuth = 0;
  std::vector<uint8_t> levels;
  for (int32_t y = 0; y < 3; ++y)
    for (int32_t x = 0; x < 4; ++x) levels.push_back(x < 2 ? 100 : 200);
  const auto out = LitGray(4, 3, levels, f);
  const double e = 4500 * kPi / 18000.0;
  const double lx = std::cos(e), lz = std::sin(e);
  for (int32_t x = 0; x < 4; ++x) {
    // Sobel across the step: 4 x 100 at columns 1 and 2, 0 elsewhere; gy = 0.
    const int32_t gx = (x == 1 || x == 2) ? 400 : 0;
    const double nx = -gx / 510.0;
    const double s = std::max(0.0, (nx * lx + lz) / std::sqrt(nx * nx + 1));
    for (int32_t y = 0; y < 3; ++y)
      EXPECT_EQ(out[y * 4 + x], Lit(x < 2 ? 100 : 200, s, 0, 100, 255)) << x << "," << y;
  }
  // Steps 100 | 200 | 100 between rows 63 and 64 and rows 127 and 128 of a 150-row picture lit
  // from the top: the relief's rows come across from one band of rows to the next, on one
  // thread or many. Sobel down the steps: gy = +-400 on the rows either side of each step.
  f.azimuth = 9000;
  const double ly = -std::cos(e) * std::sin(9000 * kPi / 18000.0);
  const auto level = [](int32_t y) { return y >= 64 && y < 128 ? 200 : 100; };
  std::vector<uint8_t> rows;
  for (int32_t y = 0; y < 150; ++y) rows.insert(rows.end(), 3, uint8_t(level(y)));
  for (const int32_t threads : {1, kManyThreads}) {
    const ThreadSetting setting(threads);
    const auto lit = LitGray(3, 150, rows, f);
    for (int32_t y = 0; y < 150; ++y) {
      const int32_t gy = y == 63 || y == 64 ? 400 : (y == 127 || y == 128 ? -400 : 0);
      const double ny = -gy / 510.0;
      const double s = std::max(0.0, (ny * ly + lz) / std::sqrt(ny * ny + 1));
      for (int32_t x = 0; x < 3; ++x)
        EXPECT_EQ(lit[y * 3 + x], Lit(level(y), s, 0, 100, 255))
            << x << "," << y << " threads " << threads;
    }
  }
}

TEST(LightTest, PointAndSpotLightsFadeAsDocumented) {
  // A 101 x 1 row lit from (0, 0): distance d = x.
  FunctionalLightInfo f = Functional(0x2000);
  for (uint32_t falloff : {0u, 100u, 200u}) {
    f.falloff = falloff;
    const auto out = LitGray(101, 1, {200}, f);
    for (int32_t d : {0, 25, 50, 99, 100}) {
      const double s = d < 100 ? std::pow(1 - d / 100.0, falloff / 100.0) : 0;
      EXPECT_EQ(out[d], Lit(200, s, 0, 100, 255)) << "falloff " << falloff << " d " << d;
    }
  }
  // At d = 50 the linear light is half: 100; quadratic a quarter: 50; ambient 30 beyond.
  f.falloff = 200;
  f.ambient = 30;
  const auto quadratic = LitGray(101, 1, {200}, f);
  EXPECT_EQ(quadratic[50], 110);  // 200 x (30 + 100 x 0.25) / 100
  EXPECT_EQ(quadratic[100], 60);  // 200 x 30 / 100
  // A spot from (0, 5) pointing right, 90 degrees wide: a pixel 30 degrees off the axis is lit,
  // one 60 degrees off is not; softness 50 fades from 22.5 to 45 degrees.
  f = Functional(0x4000);
  f.y = 5;
  f.falloff = 0;
  f.radius = 1000;
  const auto angleOf = [](int32_t x, int32_t y) {
    return std::atan2(double(std::abs(y - 5)), double(x)) * 180 / kPi;
  };
  for (uint32_t softness : {0u, 50u}) {
    f.softness = softness;
    const auto out = LitGray(12, 11, {200}, f);
    for (int32_t y = 0; y < 11; ++y)
      for (int32_t x = 0; x < 12; ++x) {
        const double phi = angleOf(x, y), edge = 45 * softness / 100.0;
        const double cone = (x == 0 && y == 5) ? 1
                            : phi > 45         ? 0
                            : phi <= 45 - edge ? 1
                                               : (45 - phi) / edge;
        const int32_t expected = Lit(200, cone, 0, 100, 255);
        // Angles computed in degrees here and in radians there may differ in the last bit.
        EXPECT_NEAR(out[y * 12 + x], expected, 1) << x << "," << y << " softness " << softness;
      }
  }
}

}  // namespace
