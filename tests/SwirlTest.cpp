// Swirl and, through it, the common entry protocol.
#include <cmath>
#include <functional>

#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class SwirlTest : public HostFixture {};

TEST_F(SwirlTest, EntryChecksInTheirOrder) {
  struct Case {
    const char* what;
    std::function<void(BitmapRecord*)> spoil;
    int32_t angle;
    POINT center;
    uint32_t flags;
    int32_t expected;
  };
  const auto none = [](BitmapRecord*) {};
  const Case cases[] = {
      {"flags before anything", none, 100, {5, 5}, 1, ERROR_INV_PARAMETER},
      {"unallocated", [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; }, 100, {5, 5}, 0,
       ERROR_NO_BITMAP},
      {"struct size 0", [](BitmapRecord* b) { b->StructSize = 0; }, 100, {5, 5}, 0,
       ERROR_INV_STRUCT_SIZE},
      {"struct size 271", [](BitmapRecord* b) { b->StructSize = 271; }, 100, {5, 5}, 0,
       ERROR_INV_STRUCT_SIZE},
      {"struct size 228 accepted", [](BitmapRecord* b) { b->StructSize = 228; }, 100, {5, 5}, 0,
       SUCCESS},
      {"32-bit gray", [](BitmapRecord* b) { b->Order = ORDER_GRAY; }, 100, {5, 5}, 0,
       ERROR_UNSUPPORTED_ORDER},
      {"flag 0x200", [](BitmapRecord* b) { b->Flags |= 0x200; }, 100, {5, 5}, 0,
       ERROR_UNSUPPORTED_FLAG},
      {"struct size before order", [](BitmapRecord* b) { b->StructSize = 1, b->Order = 2; }, 100,
       {5, 5}, 0, ERROR_INV_STRUCT_SIZE},
      {"angle 0 with a far centre", none, 0, {5000, -5000}, 0, SUCCESS},
      {"centre at right, bottom", none, 100, {12, 10}, 0, SUCCESS},
      {"centre at left - 1, top - 1", none, 100, {-1, -1}, 0, SUCCESS},
      {"centre at right + 1", none, 100, {13, 0}, 0, ERROR_POINT_OUT_OF_RANGE},
      {"centre at top - 2", none, 100, {3, -2}, 0, ERROR_POINT_OUT_OF_RANGE},
  };
  for (const auto& c : cases) {
    for (uint8_t orientation : {1, 6}) {
      TestBitmap b(12, 10, 32, ORDER_BGR);
      ASSERT_TRUE(b.ok());
      ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, orientation, 0), SUCCESS);
      c.spoil(b.get());
      const int32_t w = b->Width, h = b->Height;
      EXPECT_EQ(Fx_SwirlBitmap(b.get(), c.angle, c.center, c.flags), c.expected)
          << c.what << " orientation " << int(orientation);
      EXPECT_EQ(b->Orientation, orientation) << c.what;
      EXPECT_EQ(b->Width, w);
      EXPECT_EQ(b->Height, h);
      b->StructSize = 272;  // let the fixture free it normally
    }
  }
  EXPECT_EQ(Fx_SwirlBitmap(nullptr, 100, POINT{0, 0}, 0), ERROR_NO_BITMAP);
  EXPECT_EQ(Fx_SwirlBitmap(nullptr, 100, POINT{0, 0}, 4), ERROR_INV_PARAMETER);
}

// Independent evaluation of one swirled pixel from a snapshot of the working rows.
struct Snapshot {
  std::vector<uint8_t> rows;
  int32_t rowBytes, bits, step, width;
  uint32_t at(int32_t x, int32_t y, int32_t k) const {
    return fxtest::SampleAt(rows, rowBytes, bits, step, x, y, k);
  }
};

uint32_t ExpectedSwirl(const Snapshot& s, RECT rc, POINT c, int32_t angle, int32_t x, int32_t y,
                       int32_t k) {
  const double pi = 3.1415926535;
  const int dx = x - c.x, dy = y - c.y;
  if (dx == 0 && dy == 0) return s.at(x, y, k);
  const int a = (rc.right - rc.left) / 2, b = (rc.bottom - rc.top) / 2, h = rc.bottom - rc.top;
  const double r = std::sqrt(double(dx * dx + dy * dy));
  double theta = std::atan2(double(dy), double(dx));
  if (theta < 0) theta += pi * 2.0;
  const double R = std::sqrt(double(a * a) * std::cos(theta) * std::cos(theta) +
                             double(b * b) * std::sin(theta) * std::sin(theta));
  const double t = std::log(R / r) * (angle / 180.0);
  if (t == 0 || r > R) return s.at(x, y, k);
  double sx = r * std::cos(theta + t) + c.x;
  double sy = r * std::sin(theta + t) + c.y - rc.top;
  sx = sx >= rc.right ? rc.right - 1 : (sx < rc.left ? rc.left : sx);
  sy = sy >= h ? h - 1 : (sy < 0 ? 0 : sy);
  // Bilinear interpolation on the rectangle's rows.
  int ix = int(sx), iy = int(sy);
  double fx = sx - ix, fy = sy - iy;
  int ix1 = std::min(ix + 1, s.width - 1), iy1 = std::min(iy + 1, h - 1);
  if (ix + 1 >= s.width) ix = s.width - 1;
  const double p00 = s.at(ix, rc.top + iy, k), p01 = s.at(ix1, rc.top + iy, k);
  const double p10 = s.at(ix, rc.top + iy1, k), p11 = s.at(ix1, rc.top + iy1, k);
  double v = ((p00 + (p01 - p00) * fx) + (p10 - p00) * fy) + ((p00 + p11 - p01 - p10) * fx) * fy;
  const double max = s.bits == 16 ? 65535 : 255;
  return uint32_t(std::clamp(double(int64_t(v)), 0.0, max));
}

TEST_F(SwirlTest, PixelsMatchADirectEvaluation) {
  struct Case {
    int32_t bpp;
    uint32_t order;
    int32_t angle;
    POINT center;
    RECT region;  // empty: no region
  };
  const Case cases[] = {
      {24, ORDER_BGR, 900, {20, 14}, {}},   {48, ORDER_RGB, -2500, {9, 20}, {}},
      {8, ORDER_GRAY, 400, {31, 0}, {}},     {16, ORDER_GRAY, 70000, {15, 15}, {}},
      {32, ORDER_BGR, 1200, {18, 12}, {4, 3, 29, 25}}, {12, ORDER_GRAY, -800, {10, 9}, {2, 2, 21, 15}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("bpp " + std::to_string(c.bpp) + " angle " + std::to_string(c.angle));
    TestBitmap b(33, 27, c.bpp, c.order);
    b.FillSmooth();
    const bool hasRegion = c.region.right > c.region.left;
    if (hasRegion) {
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &c.region, 1), SUCCESS);
    }
    const RECT rc = hasRegion ? c.region : RECT{0, 0, 33, 27};
    RowAccess* a = nullptr;
    ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
    Snapshot s{fxtest::WorkingRows(b.get()), HostRowBytes(a), HostSampleBits(a), HostPixelStep(a), 33};
    HostCloseRowAccess(a);
    ASSERT_EQ(Fx_SwirlBitmap(b.get(), c.angle, c.center, 0), SUCCESS);
    const auto after = fxtest::WorkingRows(b.get());
    int moved = 0;
    for (int32_t y = 0; y < 27; ++y)
      for (int32_t x = 0; x < 33; ++x)
        for (int32_t k = 0; k < s.step; ++k) {
          const uint32_t got = fxtest::SampleAt(after, s.rowBytes, s.bits, s.step, x, y, k);
          const bool inRect = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
          uint32_t want = inRect && k < 3 ? ExpectedSwirl(s, rc, c.center, c.angle, x, y, k)
                                          : s.at(x, y, k);
          if (c.bpp == 12) want = (want >> 4) << 4 | want >> 12;  // stored as 12 bits
          ASSERT_EQ(got, want) << x << "," << y << " sample " << k;
          moved += got != s.at(x, y, k);
        }
    EXPECT_GT(moved, 20);
  }
}

TEST_F(SwirlTest, RegionMaskKeepsOutsidePixels) {
  TestBitmap b(40, 30, 24);
  b.FillSmooth();
  std::vector<uint8_t> mask(40 * 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) mask[y * 40 + x] = (x - 20) * (x - 20) + (y - 15) * (y - 15) < 100;
  ASSERT_EQ(HostSetRegionMask(b.get(), mask.data(), 40), SUCCESS);
  const auto before = fxtest::WorkingRows(b.get());
  ASSERT_EQ(Fx_SwirlBitmap(b.get(), 3000, POINT{20, 15}, 0), SUCCESS);
  const auto after = fxtest::WorkingRows(b.get());
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      if (!mask[y * 40 + x]) {
        for (int k = 0; k < 3; ++k) {
          ASSERT_EQ(after[(y * 40 + x) * 3 + k], before[(y * 40 + x) * 3 + k]);
        }
      }
  EXPECT_NE(after, before);
}

TEST_F(SwirlTest, OnePixelWideRectangleMovesOnlyAlongTheColumn) {
  TestBitmap b(9, 21, 8, ORDER_GRAY);
  b.FillNoise(5);
  RECT r{4, 0, 5, 21};
  ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &r, 1), SUCCESS);
  const auto before = fxtest::WorkingRows(b.get());
  ASSERT_EQ(Fx_SwirlBitmap(b.get(), 5000, POINT{4, 10}, 0), SUCCESS);
  const auto after = fxtest::WorkingRows(b.get());
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 9; ++x)
      if (x != 4) {
        EXPECT_EQ(after[y * 9 + x], before[y * 9 + x]);
      }
  EXPECT_EQ(after[10 * 9 + 4], before[10 * 9 + 4]);  // the centre pixel
}

TEST_F(SwirlTest, EveryFailurePathCleansUp) {
  for (int32_t bpp : {24, 16}) {
    auto stats = fxtest::SweepFaults(
        [bpp] {
          auto b = std::make_unique<TestBitmap>(8, 6, bpp, bpp == 16 ? ORDER_GRAY : ORDER_BGR, 4);
          b->FillNoise(3);
          return b;
        },
        [](BitmapRecord* b) { return Fx_SwirlBitmap(b, 2000, POINT{4, 3}, 0); }, "swirl");
    EXPECT_GT(stats.points, 15);
  }
}

}  // namespace
