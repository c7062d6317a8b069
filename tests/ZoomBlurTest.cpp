// Zoom blur: entry checks, every pixel against a direct evaluation in both window modes, the
// lowering of length to R, the pixels left alone, and every failure path. The registry test
// covers both ray blurs.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>

#include "TestSupport.h"
#include "fxkit/registry.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class ZoomBlurTest : public HostFixture {};

// The working rows of a bitmap and their format.
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

int64_t Clamp(int64_t v, int64_t lo, int64_t hi) {
  return std::min(std::max(v, lo), hi);
}

// Sample k of the blurred pixel (x, y), evaluated straight from the definition.
uint32_t ExpectedZoom(const Image& im, RECT rc, POINT c, uint32_t length, uint32_t strength,
                      int32_t x, int32_t y, int32_t k) {
  const double pi = 3.1415926535;
  const int64_t bigX = std::max<int64_t>(rc.right - c.x, c.x - rc.left);
  const int64_t bigY = std::max<int64_t>(rc.bottom - c.y, c.y - rc.top);
  const int64_t ref = int64_t(std::sqrt(double(bigX * bigX + bigY * bigY)));
  const int64_t len = std::min<int64_t>(length, ref);
  const double s = strength / 10.0;
  const int64_t half = len * (int64_t(s) + 1);
  const bool whole = 2 * half + 1 >= im.height;

  const int64_t dx = x - c.x, dy = y - c.y;
  const double phi = std::atan2(double(dy), double(dx));
  int deg = int(phi * (180.0 / pi));
  if (phi < 0) deg += 360;
  if (deg == 360) deg = 0;
  const double dist = std::sqrt(double(dx * dx + dy * dy));
  const int64_t n = int64_t(dist * len / ref);
  if (n == 0) return im.at(x, y, k);
  uint64_t sum = 0;
  for (int64_t j = 0; j < n; ++j) {
    // Entry j of the degree's list: the pixel, then +i and -i steps; from i = len/2 on, zero.
    const int64_t i = (j + 1) / 2;
    int64_t ox = 0, oy = 0;
    if (j > 0 && i < len / 2) {
      ox = int64_t(std::round(i * std::cos(deg * (pi / 180.0))));
      oy = int64_t(std::round(i * std::sin(deg * (pi / 180.0))));
      if (j % 2 == 0) ox = -ox, oy = -oy;
    }
    int64_t sx = x - ox, sy = y - oy;
    if (s != 0) {
      const double stretch = 1.0 + dist * s / ref;
      sx = x - int64_t(ox * stretch);
      sy = y + int64_t(-oy * stretch);
    }
    // Sliding window: rows beyond y ± half read as the outermost window row.
    if (!whole) sy = Clamp(sy, y - half, y + half);
    sum += im.at(Clamp(sx, 0, im.width - 1), Clamp(sy, 0, im.height - 1), k);
  }
  return uint32_t(sum / n);
}

TEST_F(ZoomBlurTest, PixelsMatchTheDefinition) {
  struct Case {
    const char* what;
    int32_t width, height, bpp;
    uint32_t order, length, strength;
    POINT center;
    RECT region;  // empty: none
  };
  const Case cases[] = {
      // Sliding window (2·half + 1 < height), including rows near the top edge.
      {"sliding, s = 0", 23, 40, 24, ORDER_BGR, 6, 0, {11, 30}, {}},
      {"sliding, stretched", 21, 60, 24, ORDER_RGB, 6, 15, {4, 50}, {}},
      {"sliding, gray 16-bit", 17, 50, 16, ORDER_GRAY, 5, 9, {16, 45}, {}},
      {"sliding, 64 bpp region", 20, 48, 64, ORDER_BGR, 4, 20, {9, 30}, {3, 5, 18, 40}},
      // Whole-bitmap mode.
      {"whole, strength 100", 20, 16, 24, ORDER_BGR, 5, 100, {6, 4}, {}},
      {"whole, 48 bpp, centre outside", 19, 15, 48, ORDER_BGR, 9, 35, {-1, 15}, {}},
      {"whole, long rays", 64, 48, 8, ORDER_GRAY, 40, 0, {20, 30}, {}},
      {"whole, 32 bpp region", 22, 18, 32, ORDER_BGR, 8, 55, {10, 10}, {2, 1, 19, 17}},
      {"length above R", 16, 12, 24, ORDER_BGR, 1000, 10, {8, 6}, {}},
      {"70000 wide: R² beyond 32 bits", 70000, 2, 8, ORDER_GRAY, 4, 0, {0, 0}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestBitmap b(c.width, c.height, c.bpp, c.order);
    b.FillNoise(uint32_t(c.width * 7 + c.length));
    const bool hasRegion = c.region.right > c.region.left;
    if (hasRegion) {
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &c.region, 1), SUCCESS);
    }
    const RECT rc = hasRegion ? c.region : RECT{0, 0, c.width, c.height};
    const Image before(b.get());
    ASSERT_EQ(Fx_ZoomBlurBitmap(b.get(), c.length, c.strength, c.center, 0), SUCCESS);
    const Image after(b.get());
    int64_t changed = 0;
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x)
        for (int32_t k = 0; k < before.step; ++k) {
          const bool inRect = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
          const uint32_t want =
              inRect && k < 3 ? ExpectedZoom(before, rc, c.center, c.length, c.strength, x, y, k)
                              : before.at(x, y, k);
          ASSERT_EQ(after.at(x, y, k), want) << "pixel " << x << "," << y << " sample " << k;
          changed += want != before.at(x, y, k);
        }
    EXPECT_GT(changed, 10);
  }
}

TEST_F(ZoomBlurTest, EntryChecksInTheirOrder) {
  struct Case {
    const char* what;
    std::function<void(BitmapRecord*)> spoil;
    uint32_t length, strength;
    POINT center;
    uint32_t flags;
    int32_t expected;
  };
  const auto none = [](BitmapRecord*) {};
  const Case cases[] = {
      {"unallocated before flags",
       [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; },
       5,
       0,
       {5, 5},
       1,
       ERROR_NO_BITMAP},
      {"flags before struct size",
       [](BitmapRecord* b) { b->StructSize = 0; },
       5,
       0,
       {5, 5},
       1,
       ERROR_INV_PARAMETER},
      {"struct size before strength",
       [](BitmapRecord* b) { b->StructSize = 271; },
       5,
       101,
       {5, 5},
       0,
       ERROR_INV_STRUCT_SIZE},
      {"32-bit gray",
       [](BitmapRecord* b) { b->Order = ORDER_GRAY; },
       5,
       0,
       {5, 5},
       0,
       ERROR_UNSUPPORTED_ORDER},
      {"flag 0x200",
       [](BitmapRecord* b) { b->Flags |= 0x200; },
       5,
       0,
       {5, 5},
       0,
       ERROR_UNSUPPORTED_FLAG},
      {"strength 101 before the length no-op", none, 1, 101, {5, 5}, 0, ERROR_POINT_OUT_OF_RANGE},
      {"strength 2^32 - 1", none, 5, 0xFFFFFFFFu, {5, 5}, 0, ERROR_POINT_OUT_OF_RANGE},
      {"length 0, far centre", none, 0, 100, {5000, -5000}, 0, SUCCESS},
      {"length 1, far centre", none, 1, 0, {-5000, 5000}, 0, SUCCESS},
      {"centre at right, bottom", none, 5, 0, {12, 10}, 0, SUCCESS},
      {"centre at left - 1, top - 1", none, 5, 30, {-1, -1}, 0, SUCCESS},
      {"centre at right + 1", none, 5, 0, {13, 0}, 0, ERROR_POINT_OUT_OF_RANGE},
      {"centre at top - 2", none, 5, 0, {3, -2}, 0, ERROR_POINT_OUT_OF_RANGE},
  };
  for (const auto& c : cases) {
    for (uint8_t orientation : {1, 6}) {
      TestBitmap b(12, 10, 32, ORDER_BGR);  // 12 x 10 in orientation 1, where the effect works
      b.FillNoise(9);
      ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, orientation, 0), SUCCESS);
      const auto before = b.Stored();
      c.spoil(b.get());
      EXPECT_EQ(Fx_ZoomBlurBitmap(b.get(), c.length, c.strength, c.center, c.flags), c.expected)
          << c.what << ", orientation " << int(orientation);
      EXPECT_EQ(b->Orientation, orientation) << c.what;
      b->StructSize = 272, b->Order = ORDER_BGR;
      b->Flags = (b->Flags | FLAG_ALLOCATED) & ~0x200u;
      EXPECT_EQ(b.Stored() != before, c.expected == SUCCESS && c.length >= 2) << c.what;
    }
  }
  EXPECT_EQ(Fx_ZoomBlurBitmap(nullptr, 5, 0, POINT{0, 0}, 1), ERROR_NO_BITMAP);
}

TEST_F(ZoomBlurTest, LengthAboveRActsAsRAndShortRaysKeepPixels) {
  // 12 x 9 with the centre at (3, 2): Dx = 9, Dy = 7, R = trunc(sqrt(130)) = 11.
  for (int32_t bpp : {24, 16}) {
    for (uint32_t strength : {0u, 40u}) {
      const auto run = [&](uint32_t length) {
        TestBitmap b(12, 9, bpp, bpp == 16 ? ORDER_GRAY : ORDER_BGR);
        b.FillNoise(4);
        EXPECT_EQ(Fx_ZoomBlurBitmap(b.get(), length, strength, POINT{3, 2}, 0), SUCCESS);
        return b.Stored();
      };
      const auto atR = run(11);
      EXPECT_NE(atR, run(10));
      for (uint32_t length : {12u, 500u, 0xFFFFFFFFu})
        EXPECT_EQ(run(length), atR) << "length " << length << " strength " << strength;
    }
  }
  // 41 x 31, centre (20, 15): R = 26; with length 4, n = 0 wherever 4·dist < 26.
  TestBitmap b(41, 31, 24);
  b.FillNoise(11);
  const Image before(b.get());
  ASSERT_EQ(Fx_ZoomBlurBitmap(b.get(), 4, 0, POINT{20, 15}, 0), SUCCESS);
  const Image after(b.get());
  int kept = 0;
  for (int32_t y = 0; y < 31; ++y)
    for (int32_t x = 0; x < 41; ++x)
      if (4 * std::hypot(x - 20.0, y - 15.0) < 26) {
        for (int32_t k = 0; k < 3; ++k) EXPECT_EQ(after.at(x, y, k), before.at(x, y, k));
        ++kept;
      }
  EXPECT_GT(kept, 100);  // about pi · 6.5²
  EXPECT_NE(after.rows, before.rows);
}

// Whole-bitmap mode clamps sample rows to the bitmap; the same rectangle in a taller bitmap whose
// extra rows repeat the last one runs in sliding mode and must give the same pixels.
TEST_F(ZoomBlurTest, WholeModeMatchesSlidingMode) {
  for (int32_t bpp : {24, 48}) {
    TestBitmap small(20, 16, bpp), tall(20, 130, bpp);  // half = 5 · 11 = 55: N = 111
    small.FillNoise(2);
    const Image src(small.get());
    std::vector<uint8_t> rows(size_t(src.rowBytes) * 130);
    for (int32_t y = 0; y < 130; ++y)
      std::memcpy(&rows[size_t(src.rowBytes) * y],
                  &src.rows[size_t(src.rowBytes) * std::min(y, 15)], src.rowBytes);
    fxtest::WriteWorkingRows(tall.get(), rows);
    const RECT top{0, 0, 20, 16};
    ASSERT_EQ(HostSetRegionRect(tall.get(), nullptr, &top, 1), SUCCESS);
    ASSERT_EQ(Fx_ZoomBlurBitmap(small.get(), 5, 100, POINT{6, 4}, 0), SUCCESS);
    ASSERT_EQ(Fx_ZoomBlurBitmap(tall.get(), 5, 100, POINT{6, 4}, 0), SUCCESS);
    const auto whole = fxtest::WorkingRows(small.get()), sliding = fxtest::WorkingRows(tall.get());
    EXPECT_TRUE(std::equal(whole.begin(), whole.end(), sliding.begin()));
    EXPECT_NE(whole, src.rows);
  }
}

TEST_F(ZoomBlurTest, UniformImageStaysUniformAndRegionMaskHolds) {
  TestBitmap b(40, 30, 64);
  std::vector<uint8_t> rows(Image(b.get()).rows.size());
  const uint16_t px[4] = {1000, 20000, 65535, 7};  // B, G, R, A
  for (size_t i = 0; i < rows.size(); i += 8) std::memcpy(&rows[i], px, 8);
  fxtest::WriteWorkingRows(b.get(), rows);
  ASSERT_EQ(Fx_ZoomBlurBitmap(b.get(), 30, 70, POINT{5, 25}, 0), SUCCESS);
  EXPECT_EQ(fxtest::WorkingRows(b.get()), rows);

  TestBitmap m(40, 30, 24);
  m.FillNoise(8);
  std::vector<uint8_t> mask(40 * 30);
  for (int i = 0; i < 40 * 30; ++i)
    mask[i] = (i % 40 - 20) * (i % 40 - 20) + (i / 40 - 15) * (i / 40 - 15) < 120;
  ASSERT_EQ(HostSetRegionMask(m.get(), mask.data(), 40), SUCCESS);
  const Image before(m.get());
  ASSERT_EQ(Fx_ZoomBlurBitmap(m.get(), 12, 20, POINT{15, 12}, 0), SUCCESS);
  const Image after(m.get());
  for (int i = 0; i < 40 * 30 * 3; ++i)
    EXPECT_TRUE(mask[i / 3] || after.rows[i] == before.rows[i]) << "pixel " << i / 3;
  EXPECT_NE(after.rows, before.rows);
}

TEST_F(ZoomBlurTest, RegistryCallsBothRayBlursWithTheirParameters) {
  struct Case {
    const char* effect;
    const char* second;  // the parameter after length
    std::function<int32_t(BitmapRecord*)> direct;
  };
  const Case cases[] = {
      {"zoom-blur", "strength",
       [](BitmapRecord* b) {
         return Fx_ZoomBlurBitmap(b, 9, 25, {7, 3}, 0);
       }},
      {"radial-blur", "spread",
       [](BitmapRecord* b) {
         return Fx_RadialBlurBitmap(b, 9, 25, {7, 3}, 0);
       }},
  };
  for (const auto& c : cases) {
    const FxEffectDesc* effect = FxFindEffect(c.effect);
    ASSERT_NE(effect, nullptr) << c.effect;
    const FxNamedValue values[] = {
        {"length", {.i = 9}, 0}, {c.second, {.i = 25}, 0}, {"center", {.pt = {7, 3}}, 0}};
    TestBitmap viaRegistry(30, 22, 24), direct(30, 22, 24), defaults(30, 22, 24);
    for (TestBitmap* b : {&viaRegistry, &direct, &defaults}) b->FillNoise(6);
    const auto untouched = defaults.Stored();
    EXPECT_EQ(FxInvoke(effect, viaRegistry.get(), values, 3), SUCCESS);
    EXPECT_EQ(c.direct(direct.get()), SUCCESS);
    EXPECT_EQ(viaRegistry.Stored(), direct.Stored()) << c.effect;
    EXPECT_EQ(FxInvoke(effect, defaults.get(), nullptr, 0), SUCCESS) << c.effect;
    EXPECT_NE(defaults.Stored(), untouched) << c.effect << ": the defaults do nothing";
  }
}

TEST_F(ZoomBlurTest, EveryFailurePathCleansUp) {
  struct Case {
    int32_t bpp, height;
    uint32_t strength;
  };
  // length 4 on 6 x height, centre (2, 3): 2·half + 1 = 9 < 12 rows slides; 33 >= 7 is whole.
  for (const Case& c : {Case{24, 12, 0}, Case{16, 12, 5}, Case{24, 7, 30}}) {
    auto stats = fxtest::SweepFaults(
        [c] {
          auto b = std::make_unique<TestBitmap>(6, c.height, c.bpp,
                                                c.bpp == 16 ? ORDER_GRAY : ORDER_BGR, 4);
          b->FillNoise(3);
          return b;
        },
        [c](BitmapRecord* b) {
          return Fx_ZoomBlurBitmap(b, 4, c.strength, POINT{2, 3}, 0);
        },
        "zoom blur");
    EXPECT_GT(stats.points, 20);
  }
}

}  // namespace
