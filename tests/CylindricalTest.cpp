// Cylindrical and the linear samplers: entry checks, every pixel against a direct evaluation in
// both directions, hand-worked samples, and the fault paths.
#include <cmath>
#include <functional>

#include "Common/Samplers.h"
#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class CylindricalTest : public HostFixture {};

TEST_F(CylindricalTest, EntryChecksInTheirOrder) {
  struct Case {
    const char* what;
    std::function<void(BitmapRecord*)> spoil;
    int32_t strength;
    uint32_t direction, flags;
    int32_t expected;
  };
  const auto none = [](BitmapRecord*) {};
  const Case cases[] = {
      {"unallocated", [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; }, 50, 0, 1,
       ERROR_NO_BITMAP},
      {"size before flags", [](BitmapRecord* b) { b->StructSize = 100; }, 50, 0, 1,
       ERROR_INV_STRUCT_SIZE},
      {"flags before order", [](BitmapRecord* b) { b->Order = ORDER_GRAY; }, 50, 0, 1,
       ERROR_INV_PARAMETER},
      {"32-bit gray", [](BitmapRecord* b) { b->Order = ORDER_GRAY; }, 50, 0, 0,
       ERROR_UNSUPPORTED_ORDER},
      {"flags before strength", none, 101, 0, 4, ERROR_INV_PARAMETER},
      {"strength 101", none, 101, 0, 0, ERROR_POINT_OUT_OF_RANGE},
      {"strength -101", none, -101, 2, 0, ERROR_POINT_OUT_OF_RANGE},
      {"strength 0 before direction", none, 0, 2, 0, SUCCESS},
      {"direction 2", none, 100, 2, 0, ERROR_INV_PARAMETER},
      {"strength 100", none, 100, 1, 0, SUCCESS},
      {"strength -100", none, -100, 0, 0, SUCCESS},
  };
  for (const auto& c : cases) {
    TestBitmap b(12, 9, 32);
    ASSERT_TRUE(b.ok());
    b.FillNoise(2);
    ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, 7, 0), SUCCESS);
    c.spoil(b.get());
    const auto before = b.Stored();
    EXPECT_EQ(Fx_CylindricalBitmap(b.get(), c.strength, c.direction, c.flags), c.expected)
        << c.what;
    EXPECT_EQ(b->Orientation, 7) << c.what;
    EXPECT_EQ(b.Stored() != before, c.expected == SUCCESS && c.strength != 0) << c.what;
    b->StructSize = 272;
  }
  EXPECT_EQ(Fx_CylindricalBitmap(nullptr, 50, 0, 1), ERROR_NO_BITMAP);
}

// Direct evaluation of one remapped sample in the processing view.
struct View {
  std::vector<uint8_t> rows;
  int32_t rowBytes, bits, step;
  uint32_t at(int32_t x, int32_t y, int32_t k) const {
    return fxtest::SampleAt(rows, rowBytes, bits, step, x, y, k);
  }
};

uint32_t ExpectedSample(const View& v, RECT rc, int32_t strength, int32_t width, int32_t x,
                        int32_t y, int32_t k) {
  const int32_t A = (rc.right - rc.left) / 2, cx = (rc.right + rc.left) / 2, d = x - cx;
  const double kk = std::abs(strength) / 100.0, q = 3.1415926535 / (2.0 * A);
  double s = strength < 0 ? A * std::sin(d * q) : std::asin(double(d) / A) / q;
  s = (s - d) * kk + d;
  if (d == 0 || s * d <= 0) s = d;
  const double sx = cx + s >= rc.right ? rc.right - 1 : std::max(cx + s, double(rc.left));
  const int32_t ix = int32_t(sx), ix1 = std::min(ix + 1, width - 1);
  const double p0 = v.at(ix, y, k), value = p0 + (v.at(ix1, y, k) - p0) * (sx - ix);
  return uint32_t(std::clamp<int64_t>(int64_t(value), 0, v.bits == 16 ? 65535 : 255));
}

TEST_F(CylindricalTest, PixelsMatchADirectEvaluation) {
  struct Case {
    int32_t bpp;
    uint32_t order;
    int32_t strength;
    uint32_t direction;
    RECT region;  // empty: none
  };
  const Case cases[] = {
      {24, ORDER_BGR, 100, 0, {}},
      {48, ORDER_RGB, -70, 0, {}},
      {8, ORDER_GRAY, 45, 1, {}},
      {16, ORDER_GRAY, -100, 1, {}},
      {32, ORDER_BGR, 80, 0, {5, 2, 28, 19}},
      {64, ORDER_BGR, -35, 1, {3, 4, 24, 22}},
      {24, ORDER_BGR, 90, 0, {12, 3, 13, 20}},  // one column wide: A = 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("bpp " + std::to_string(c.bpp) + " strength " + std::to_string(c.strength) +
                 " direction " + std::to_string(c.direction));
    TestBitmap b(32, 24, c.bpp, c.order);
    b.FillNoise(c.bpp * 3 + c.direction);
    if (c.region.right > c.region.left) {
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &c.region, 1), SUCCESS);
    }
    const uint8_t view = c.direction == 1 ? 5 : 1;  // columns are remapped as rows of view 5
    const auto look = [&](uint8_t o) { HostSetOrientation(nullptr, b.get(), 272, o, 0); };
    look(view);
    RowAccess* a = nullptr;
    ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
    const View before{fxtest::WorkingRows(b.get()), HostRowBytes(a), HostSampleBits(a),
                      HostPixelStep(a)};
    HostCloseRowAccess(a);
    const int32_t width = b->Width, height = b->Height;
    RECT rc{0, 0, width, height};
    if (HostHasRegion(b.get())) HostGetRegionBounds(b.get(), nullptr, &rc);
    look(1);
    ASSERT_EQ(Fx_CylindricalBitmap(b.get(), c.strength, c.direction, 0), SUCCESS);
    look(view);
    const View after{fxtest::WorkingRows(b.get()), before.rowBytes, before.bits, before.step};
    look(1);
    int moved = 0;
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x)
        for (int32_t k = 0; k < before.step; ++k) {
          const bool inRect = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
          const uint32_t want = inRect && k < 3
                                    ? ExpectedSample(before, rc, c.strength, width, x, y, k)
                                    : before.at(x, y, k);
          ASSERT_EQ(after.at(x, y, k), want) << x << "," << y << " sample " << k;
          moved += after.at(x, y, k) != before.at(x, y, k);
        }
    EXPECT_EQ(moved > 50, rc.right - rc.left > 1);
  }
}

// Linear samples worked by hand on a row of three colour pixels and on one gray row.
TEST_F(CylindricalTest, LinearSamplesByHand) {
  const uint8_t colour[] = {10, 200, 0, 77, 20, 100, 50, 88, 60, 0, 255, 99};  // B, G, R, A
  struct Case {
    double x;
    uint8_t b, g, r;
  };
  const Case cases[] = {
      {0.0, 10, 200, 0},   {1.5, 40, 50, 152},  // half-way, truncated: (20+60)/2, (100+0)/2
      {0.25, 12, 175, 12}, {2.9, 60, 0, 255},   // the last pixel has no right neighbour
      {-0.5, 5, 250, 0},                        // extrapolated, then clamped to 0 .. 255
      {-1.0, 10, 200, 0},  {-7.0, 10, 200, 0},
      {1e12, 60, 0, 255},  {NAN, 10, 200, 0},  // held at the row's ends
  };
  for (const auto& c : cases) {
    uint8_t out[4] = {1, 2, 3, 4};
    fx::LinearSample8(colour, c.x, 4, 3, out);
    EXPECT_EQ(out[0], c.b) << c.x;
    EXPECT_EQ(out[1], c.g) << c.x;
    EXPECT_EQ(out[2], c.r) << c.x;
    EXPECT_EQ(out[3], 4) << "the fourth sample is never written";
  }
  const uint16_t gray[] = {65535, 1000, 3};
  const std::pair<double, uint16_t> grayCases[] = {
      {0.5, 33267}, {-0.25, 65535}, {1.75, 252}, {2.0, 3}};
  for (const auto& [x, want] : grayCases) {
    uint16_t out[2] = {7, 7};
    fx::LinearSample16(gray, x, 1, 3, out);
    EXPECT_EQ(out[0], want) << x;
    EXPECT_EQ(out[1], 7);
  }
}

TEST_F(CylindricalTest, EveryFailurePathCleansUp) {
  for (uint32_t direction : {0u, 1u}) {
    auto stats = fxtest::SweepFaults(
        [] {
          auto b = std::make_unique<TestBitmap>(9, 6, 48, ORDER_BGR, 3);
          b->FillNoise(5);
          return b;
        },
        [direction](BitmapRecord* b) { return Fx_CylindricalBitmap(b, -60, direction, 0); },
        "cylindrical");
    EXPECT_GT(stats.points, 10);
  }
}

}  // namespace
