// Radial blur: entry checks, every pixel against a direct evaluation in both window modes, the
// pixels left alone, and every failure path.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class RadialBlurTest : public HostFixture {};

struct Image {
  std::vector<uint8_t> rows;
  int32_t rowBytes = 0, bits = 0, step = 0, width, height;
  explicit Image(BitmapRecord* b)
      : rows(fxtest::WorkingRows(b)), width(b->Width), height(b->Height) {
    RowAccess* a = nullptr;
    EXPECT_EQ(HostOpenRowAccess(b, &a, 2), SUCCESS);
    rowBytes = HostRowBytes(a), bits = HostSampleBits(a), step = HostPixelStep(a);
    HostCloseRowAccess(a);
  }
  uint32_t at(int64_t x, int64_t y, int32_t k) const {
    return fxtest::SampleAt(rows, rowBytes, bits, step, int32_t(x), int32_t(y), k);
  }
};

// Sample k of the blurred pixel (x, y), evaluated straight from the definition.
uint32_t ExpectedRadial(const Image& im, RECT rc, POINT c, uint32_t length, int32_t spread,
                        int32_t x, int32_t y, int32_t k) {
  const double pi = 3.1415926535;
  const int64_t bigX = std::max<int64_t>(rc.right - c.x, c.x - rc.left);
  const int64_t bigY = std::max<int64_t>(rc.bottom - c.y, c.y - rc.top);
  const int64_t ref = int64_t(std::sqrt(double(bigX * bigX + bigY * bigY)));
  int64_t len = length, q = ref / len;
  if (q == 0) len = ref, q = 1;
  const double arc = std::atan2(double(spread), double(q));
  const int64_t rows = std::min<int64_t>(2 * int64_t(ref * std::sin(arc)) + 1, im.height);
  const bool whole = rows == im.height;
  const int64_t w = whole ? y : rows / 2;  // row of y in the window

  const int64_t dx = x - c.x, dy = y - c.y;
  double phi = std::atan2(double(dy), double(dx));
  const double r = std::floor(std::sqrt(double(dx * dx + dy * dy)));
  const int64_t n = int64_t(r * (double(len) / double(ref)) + 0.5);
  if (n == 0) return im.at(x, y, k);
  if (phi < 0) phi += 2 * pi;
  const double first = phi - ((arc / 2.0) / double(len)) * double(n);
  uint64_t sum = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double psi = first + (arc / double(n)) * double(i);
    const double sx = r * std::cos(psi) + c.x, sy = r * std::sin(psi) + double(w - dy);
    const int64_t col = sx < 0 ? 0 : std::min<int64_t>(int64_t(sx + 0.5), im.width - 1);
    const int64_t slot = sy < 0 ? 0 : int64_t(std::min(sy + 0.5, double(rows - 1)));
    // The window row `slot` holds bitmap row y - w + slot, clamped to the bitmap when read.
    const int64_t row = std::clamp<int64_t>(y - w + slot, 0, im.height - 1);
    sum += im.at(col, row, k);
  }
  return uint32_t(sum / n);
}

TEST_F(RadialBlurTest, PixelsMatchTheDefinition) {
  struct Case {
    const char* what;
    int32_t width, height, bpp;
    uint32_t order, length;
    int32_t spread;
    POINT center;
    RECT region;  // empty: none
  };
  const Case cases[] = {
      // Sliding window (2h + 1 < height), including rows near the top edge.
      {"sliding, 24 bpp", 30, 60, 24, ORDER_BGR, 8, 1, {14, 40}, {}},
      {"sliding, gray 16-bit", 24, 70, 16, ORDER_GRAY, 12, 2, {3, 60}, {}},
      {"sliding, 64 bpp region", 26, 64, 64, ORDER_BGR, 6, 1, {12, 35}, {2, 4, 24, 60}},
      // Whole-bitmap mode: a large spread makes the window reach the height.
      {"whole, large spread", 24, 20, 24, ORDER_RGB, 10, 1000, {11, 9}, {}},
      {"whole, 48 bpp, centre outside", 21, 17, 48, ORDER_BGR, 7, 3, {21, -1}, {}},
      {"whole, gray 8-bit region", 25, 19, 8, ORDER_GRAY, 9, 5, {8, 8}, {3, 2, 20, 16}},
      {"length above R", 18, 14, 32, ORDER_BGR, 500, 1, {9, 7}, {}},
      {"70000 pixels wide", 70000, 2, 8, ORDER_GRAY, 3, 1, {0, 1}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestBitmap b(c.width, c.height, c.bpp, c.order);
    ASSERT_TRUE(b.ok());
    b.FillNoise(uint32_t(c.height * 3 + c.length));
    const bool hasRegion = c.region.right > c.region.left;
    if (hasRegion) {
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &c.region, 1), SUCCESS);
    }
    const RECT rc = hasRegion ? c.region : RECT{0, 0, c.width, c.height};
    const Image before(b.get());
    ASSERT_EQ(Fx_RadialBlurBitmap(b.get(), c.length, c.spread, c.center, 0), SUCCESS);
    const auto after = fxtest::WorkingRows(b.get());
    int64_t changed = 0;
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x)
        for (int32_t k = 0; k < before.step; ++k) {
          const bool inRect = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
          const uint32_t want =
              inRect && k < 3 ? ExpectedRadial(before, rc, c.center, c.length, c.spread, x, y, k)
                              : before.at(x, y, k);
          const uint32_t got =
              fxtest::SampleAt(after, before.rowBytes, before.bits, before.step, x, y, k);
          ASSERT_EQ(got, want) << "pixel " << x << "," << y << " sample " << k;
          changed += got != before.at(x, y, k);
        }
    EXPECT_GT(changed, 10);
  }
}

TEST_F(RadialBlurTest, EntryChecksInTheirOrder) {
  struct Case {
    const char* what;
    std::function<void(BitmapRecord*)> spoil;
    uint32_t length;
    int32_t spread;
    POINT center;
    uint32_t flags;
    int32_t expected;
  };
  const auto none = [](BitmapRecord*) {};
  const Case cases[] = {
      {"flags before the bitmap",
       [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; },
       5,
       3,
       {5, 5},
       1,
       ERROR_INV_PARAMETER},
      {"unallocated",
       [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; },
       5,
       3,
       {5, 5},
       0,
       ERROR_NO_BITMAP},
      {"struct size",
       [](BitmapRecord* b) { b->StructSize = 0; },
       5,
       3,
       {5, 5},
       0,
       ERROR_INV_STRUCT_SIZE},
      {"32-bit gray",
       [](BitmapRecord* b) { b->Order = ORDER_GRAY; },
       5,
       3,
       {5, 5},
       0,
       ERROR_UNSUPPORTED_ORDER},
      {"flag 0x200 before spread",
       [](BitmapRecord* b) { b->Flags |= 0x200; },
       5,
       -1,
       {5, 5},
       0,
       ERROR_UNSUPPORTED_FLAG},
      {"negative spread before the length no-op", none, 1, -1, {5, 5}, 0, ERROR_INV_PARAMETER},
      {"most negative spread", none, 5, INT32_MIN, {5, 5}, 0, ERROR_INV_PARAMETER},
      {"spread 0, far centre", none, 5, 0, {5000, 5000}, 0, SUCCESS},
      {"length 1, far centre", none, 1, 7, {-5000, 0}, 0, SUCCESS},
      {"length 0", none, 0, 7, {5, 5}, 0, SUCCESS},
      {"centre at right, top - 1", none, 5, 3, {12, -1}, 0, SUCCESS},
      {"centre at left - 1, bottom", none, 5, 3, {-1, 10}, 0, SUCCESS},
      {"centre at left - 2", none, 5, 3, {-2, 4}, 0, ERROR_POINT_OUT_OF_RANGE},
      {"centre at bottom + 1", none, 5, 3, {4, 11}, 0, ERROR_POINT_OUT_OF_RANGE},
  };
  for (const auto& c : cases) {
    for (uint8_t orientation : {1, 8}) {
      TestBitmap b(12, 10, 32, ORDER_BGR);
      ASSERT_TRUE(b.ok());
      b.FillNoise(5);
      ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, orientation, 0), SUCCESS);
      const auto before = b.Stored();
      c.spoil(b.get());
      EXPECT_EQ(Fx_RadialBlurBitmap(b.get(), c.length, c.spread, c.center, c.flags), c.expected)
          << c.what << ", orientation " << int(orientation);
      EXPECT_EQ(b->Orientation, orientation) << c.what;
      b->StructSize = 272;
      b->Order = ORDER_BGR;
      b->Flags = (b->Flags | FLAG_ALLOCATED) & ~0x200u;
      const bool applied = c.expected == SUCCESS && c.length >= 2 && c.spread != 0;
      EXPECT_EQ(b.Stored() != before, applied) << c.what;
    }
  }
  EXPECT_EQ(Fx_RadialBlurBitmap(nullptr, 5, 3, POINT{0, 0}, 1), ERROR_INV_PARAMETER);
  EXPECT_EQ(Fx_RadialBlurBitmap(nullptr, 5, 3, POINT{0, 0}, 0), ERROR_NO_BITMAP);
}

TEST_F(RadialBlurTest, UniformImageStaysUniformAndRegionMaskHolds) {
  TestBitmap b(40, 30, 32);
  std::vector<uint8_t> rows(Image(b.get()).rows.size());
  const uint8_t px[4] = {9, 130, 255, 77};  // B, G, R, A
  for (size_t i = 0; i < rows.size(); i += 4) std::memcpy(&rows[i], px, 4);
  fxtest::WriteWorkingRows(b.get(), rows);
  ASSERT_EQ(Fx_RadialBlurBitmap(b.get(), 25, 40, POINT{30, 3}, 0), SUCCESS);
  EXPECT_EQ(fxtest::WorkingRows(b.get()), rows);

  TestBitmap m(40, 30, 16, ORDER_GRAY);
  m.FillNoise(8);
  std::vector<uint8_t> mask(40 * 30);
  for (int i = 0; i < 40 * 30; ++i)
    mask[i] = (i % 40 + i / 40) % 7 != 0 && i % 40 > 5 && i / 40 < 26;
  ASSERT_EQ(HostSetRegionMask(m.get(), mask.data(), 40), SUCCESS);
  const Image before(m.get());
  ASSERT_EQ(Fx_RadialBlurBitmap(m.get(), 10, 2, POINT{20, 14}, 0), SUCCESS);
  const Image after(m.get());
  for (int i = 0; i < 40 * 30; ++i)
    EXPECT_TRUE(mask[i] || after.at(i % 40, i / 40, 0) == before.at(i % 40, i / 40, 0)) << i;
  EXPECT_NE(after.rows, before.rows);
}

TEST_F(RadialBlurTest, EveryFailurePathCleansUp) {
  struct Case {
    int32_t bpp, height;
    uint32_t length;
    int32_t spread;
  };
  // 6 x 12, centre (2, 3): R = 9, q = 4; spread 1 gives h = 2 (sliding), 100 gives whole.
  for (const Case& c : {Case{24, 12, 2, 1}, Case{16, 12, 2, 1}, Case{48, 12, 3, 100}}) {
    auto stats = fxtest::SweepFaults(
        [c] {
          auto b = std::make_unique<TestBitmap>(6, c.height, c.bpp,
                                                c.bpp == 16 ? ORDER_GRAY : ORDER_BGR, 4);
          b->FillNoise(3);
          return b;
        },
        [c](BitmapRecord* b) {
          return Fx_RadialBlurBitmap(b, c.length, c.spread, POINT{2, 3}, 0);
        },
        "radial blur");
    EXPECT_GT(stats.points, 10);
  }
}

}  // namespace
