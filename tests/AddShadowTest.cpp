// Add shadow: the checks in their order (the level limit by depth), a hand-worked edge, and every
// direction and mode against the kernels written out as formulas.
#include <algorithm>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

Call Shadow(uint32_t direction, uint32_t level, uint32_t mode) {
  return [=](BitmapRecord* b) { return Fx_AddShadowBitmap(b, direction, level, mode); };
}

TEST(AddShadowTest, ChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"StructSize 0", StructSize(0), Shadow(0, 0, 0), ERROR_INV_STRUCT_SIZE},
      {"level 256 on 32 bits", nullptr, Shadow(0, 256, 0), bad},
      {"level 255", nullptr, Shadow(0, 255, 0), SUCCESS},
      {"direction 8", nullptr, Shadow(8, 0, 0), bad},
      {"mode 2", nullptr, Shadow(0, 0, 2), bad},
  });
  // The level's limit follows the depth; it is tested before direction and mode.
  const struct {
    int32_t bpp;
    uint32_t order, level, direction;
    int32_t expected;
  } levels[] = {
      {8, ORDER_GRAY, 256, 0, bad},        {8, ORDER_BGR, 255, 0, SUCCESS},
      {12, ORDER_GRAY, 4095, 0, SUCCESS},  {12, ORDER_GRAY, 4096, 0, bad},
      {16, ORDER_GRAY, 65535, 0, SUCCESS}, {16, ORDER_GRAY, 65536, 0, bad},
      {24, ORDER_BGR, 256, 9, bad},        {48, ORDER_RGB, 65535, 0, SUCCESS},
      {64, ORDER_BGR, 65536, 0, bad},      {64, ORDER_BGR, 65535, 9, bad},
  };
  for (const auto& c : levels) {
    TestBitmap b(5, 4, c.bpp, c.order);
    b.FillNoise(3);
    EXPECT_EQ(Fx_AddShadowBitmap(b.get(), c.direction, c.level, 0), c.expected)
        << c.bpp << " bits, level " << c.level;
  }
}

// g of one direction, as the Part's table writes it, from the rows above (a), at (b) and below
// (c) at the columns left (l), centre (x) and right (r).
int32_t Kernel(uint32_t d, const std::function<int32_t(int32_t, int32_t)>& at, int32_t l, int32_t x,
               int32_t r) {
  const auto a = [&](int32_t i) { return at(0, i); };
  const auto b = [&](int32_t i) { return at(1, i); };
  const auto c = [&](int32_t i) { return at(2, i); };
  switch (d) {
    case 0:
      return (a(r) - a(l)) + 2 * (b(r) - b(l));
    case 1:
      return a(x) + 2 * a(r) + b(r) - b(l) - 2 * c(l) - c(x);
    case 2:
      return a(l) + 2 * a(x) + a(r) - c(l) - 2 * c(x) - c(r);
    case 3:
      return 2 * a(l) + a(x) + b(l) - b(r) - c(x) - 2 * c(r);
    case 4:
      return (a(l) - a(r)) + 2 * (b(l) - b(r));
    case 5:
      return -2 * a(r) - a(x) + b(l) - b(r) + 2 * c(l) + c(x);
    case 6:
      return -a(l) - 2 * a(x) - a(r) + c(l) + 2 * c(x) + c(r);
    default:
      return -2 * a(l) - a(x) - b(l) + b(r) + c(x) + 2 * c(r);
  }
}

uint32_t ExpectedShadow(const Sample& p, uint32_t d, uint32_t level, uint32_t mode) {
  const Snapshot& s = p.s;
  const int32_t rows[3] = {std::max(p.y - 1, 0), p.y, std::min(p.y + 1, s.height - 1)};
  const int32_t l = std::max(p.x - 1, 0), r = std::min(p.x + 1, s.width - 1);
  const auto gray = [&](int32_t x, int32_t y) -> int32_t {
    if (s.step == 1) return s.at(x, y, 0);
    return (s.at(x, y, 0) + 5 * s.at(x, y, 1) + 2 * s.at(x, y, 2) + 4) / 8;
  };
  int32_t g;
  const int64_t v = p.before();
  if (mode == 0) {
    if (v < level) return v;
    g = Kernel(
        d, [&](int32_t row, int32_t x) { return int32_t(s.at(x, rows[row], p.k)); }, l, p.x, r);
  } else {
    if (s.at(p.x, p.y, 0) < level) return v;
    g = Kernel(
        d, [&](int32_t row, int32_t x) { return gray(x, rows[row]); }, l, p.x, r);
  }
  return uint32_t(std::clamp<int64_t>(v + g, 0, s.max()));
}

TEST(AddShadowTest, EveryDirectionAndModeMatchTheFormulas) {
  const struct {
    const char* what;
    Scene scene;
    uint32_t level;
  } cases[] = {
      {"32-bit colour, region, orientation 6", {13, 9, 32, ORDER_BGR, {2, 1, 12, 8}, 0, 6}, 40},
      {"48-bit noise", {9, 7, 48, ORDER_RGB, {}, 5}, 20000},
      {"12-bit gray, region at the edges", {8, 6, 12, ORDER_GRAY, {0, 0, 8, 3}, 3}, 2000},
      {"8-bit gray, one row", {11, 1, 8, ORDER_GRAY, {}, 9}, 0},
  };
  for (const auto& c : cases)
    for (uint32_t mode : {0u, 1u})
      for (uint32_t d = 0; d < 8; ++d) {
        SCOPED_TRACE(::testing::Message() << c.what << " direction " << d << " mode " << mode);
        const int32_t changed = CompareWithReference(
            c.scene, Shadow(d, c.level, mode),
            [&](const Sample& p) { return ExpectedShadow(p, d, c.level, mode); });
        // A single row has no vertical edges.
        EXPECT_EQ(changed > 0, c.scene.height > 1 || (d != 2 && d != 6));
      }
}

}  // namespace
