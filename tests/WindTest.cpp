// Wind: the checks in their order, the cases that need no model (a uniform image, -9000 and
// 27000), and every pixel against the streak formulas with the line lengths drawn from the same
// seeded generator.
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

Call WindCall(uint32_t length, int32_t angle, uint32_t opacity, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_WindBitmap(b, length, angle, opacity, flags); };
}

TEST(WindTest, ChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"flags before the bitmap", StructSize(0), WindCall(10, 0, 50, 1), bad},
      {"StructSize", StructSize(0), WindCall(10, 0, 50), ERROR_INV_STRUCT_SIZE},
      {"length 0", nullptr, WindCall(0, 0, 50), bad},
      {"angle 36001", nullptr, WindCall(10, 36001, 50), bad},
      {"opacity 101 before the no-op", nullptr, WindCall(2, 0, 101), bad},
      {"length 2 does nothing", nullptr, WindCall(2, -36000, 100), SUCCESS, kNone},
      {"length 3", nullptr, WindCall(3, -36000, 100), SUCCESS, kSome},
  });
}

TEST(WindTest, UniformImageAndEquivalentAngles) {
  TestBitmap uniform(14, 9, 24);
  std::fill_n(uniform->Data, uniform->BytesPerLine * 9, 0x5A);
  const auto before = uniform.Stored();
  HostSeedRandom(3);
  EXPECT_EQ(Fx_WindBitmap(uniform.get(), 20, 4500, 30, 0), SUCCESS);
  EXPECT_EQ(uniform.Stored(), before);
  // -9000 and 27000 are the same wind; the same seed gives the same streaks.
  TestBitmap a(15, 11, 24), b(15, 11, 24);
  a.FillNoise(6);
  b.FillNoise(6);
  HostSeedRandom(9);
  EXPECT_EQ(Fx_WindBitmap(a.get(), 12, -9000, 60, 0), SUCCESS);
  HostSeedRandom(9);
  EXPECT_EQ(Fx_WindBitmap(b.get(), 12, 27000, 60, 0), SUCCESS);
  EXPECT_EQ(a.Stored(), b.Stored());
}

// Wind written out from its formulas; `lengths` are the line lengths in the order drawn.
uint32_t ExpectedWind(const Sample& p, int32_t angle, uint32_t opacity,
                      const std::vector<uint32_t>& lengths) {
  if (angle < 0) angle += 36000;
  const int32_t working = angle == 0 ? angle - 18000 : angle + 18000;
  const double t = working * kPi / 18000;
  const int32_t W = p.s.width, H = p.s.height;
  const double base =
      std::cos(t) * (p.y - H / 2) +
      (int64_t((std::fabs(H * std::cos(t)) + std::fabs((W - 1) * std::sin(t)) - H) / 2 + H / 2) +
       1);
  const double d = std::sin(t) * (p.x - W / 2) + base;
  const int64_t li = int64_t(d);
  const double frac = std::fabs(d) - std::trunc(std::fabs(d));
  const uint32_t l1 = lengths.at(li), l2 = lengths.at(li + 1);
  const uint32_t lMax = std::max(l1, l2), lMin = std::min(l1, l2);
  const int32_t probe = p.s.step == 1 ? 0 : 1;
  int32_t best = -1, bestK = 0, shortK = 0, bx = 0, by = 0, sx = 0, sy = 0;
  for (uint32_t k = 0; k < lMax; ++k) {
    const int32_t x = std::clamp(p.x + int32_t(std::cos(t) * k), 0, W - 1);
    const int32_t y = std::clamp(p.y + int32_t(-std::sin(t) * k), 0, H - 1);
    if (int32_t(p.s.at(x, y, probe)) >= best) best = p.s.at(x, y, probe), bestK = k, bx = x, by = y;
    if (k == lMin - 1) shortK = bestK, sx = bx, sy = by;
  }
  const auto weight = [&](uint32_t i, int32_t j) -> int64_t {
    if (opacity == 100) return 0;
    const double q = double(i * 100) / (100 - opacity);
    return q != 0 ? int64_t(j * 100 / q) : 0;
  };
  const int64_t a = weight(lMax, bestK), b = weight(lMin, shortK), own = p.before();
  const int64_t u = ((100 - a) * p.s.at(bx, by, p.k) + a * own) / 100;
  const int64_t v = ((100 - b) * p.s.at(sx, sy, p.k) + b * own) / 100;
  return uint32_t(l1 >= l2 ? u * (1 - frac) + v * frac : v * (1 - frac) + u * frac);
}

TEST(WindTest, StreaksMatchTheFormulas) {
  const struct {
    const char* what;
    Scene scene;
    uint32_t length;
    int32_t angle;
    uint32_t opacity;
  } cases[] = {
      {"from the left, 24-bit", {26, 14, 24, ORDER_BGR, {}, 3}, 9, 0, 60},
      {"diagonal, region, 48-bit", {21, 17, 48, ORDER_RGB, {3, 2, 19, 15}, 8}, 7, -13500, 35},
      {"from below, full opacity, gray", {16, 19, 8, ORDER_GRAY, {}, 5}, 12, 9000, 100},
      {"opacity 0, a window taller than the bitmap", {18, 6, 64, ORDER_BGR, {}, 2}, 40, 3000, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    // The lengths the effect will draw: D + 1 values from the generator, seeded alike.
    int32_t working = c.angle < 0 ? c.angle + 36000 : c.angle;
    working = working == 0 ? -18000 : working + 18000;
    const double t = working * kPi / 18000;
    const int64_t lines =
        int64_t(std::fabs(c.scene.height * std::cos(t)) + std::fabs(c.scene.width * std::sin(t))) +
        3;
    HostSeedRandom(77);
    std::vector<uint32_t> lengths;
    for (int64_t i = 0; i <= lines; ++i) lengths.push_back(uint32_t(HostRandom()) % c.length + 1);
    HostSeedRandom(77);
    const int32_t changed = CompareWithReference(
        c.scene, WindCall(c.length, c.angle, c.opacity),
        [&](const Sample& p) { return ExpectedWind(p, c.angle, c.opacity, lengths); });
    EXPECT_GT(changed, 20);
  }
}

}  // namespace
