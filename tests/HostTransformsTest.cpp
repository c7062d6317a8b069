// Whole-bitmap host operations: turns, trims, re-layouts, conversions, hand-over of storage and
// the filters of the content-aware rescaling.
#include <algorithm>
#include <array>
#include <cstring>
#include <functional>

#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class HostTransformsTest : public HostFixture {};

// A bitmap's picture in working samples.
struct View {
  std::vector<uint8_t> rows;
  int32_t w, h, bits, step;
  explicit View(BitmapRecord* b) : rows(fxtest::WorkingRows(b)), w(b->Width), h(b->Height) {
    RowAccess* a = nullptr;
    EXPECT_EQ(HostOpenRowAccess(b, &a, 2), SUCCESS);
    bits = HostSampleBits(a), step = HostPixelStep(a);
    HostCloseRowAccess(a);
  }
  uint32_t at(int32_t x, int32_t y, int32_t k) const {
    return fxtest::SampleAt(rows, w * step * bits / 8, bits, step, x, y, k);
  }
};

using PixelMap =
    std::function<void(int32_t x, int32_t y, int32_t w, int32_t h, int32_t* sx, int32_t* sy)>;

TEST_F(HostTransformsTest, TurnsTrimsAndRelayoutsMovePixelsExactly) {
  struct Case {
    const char* what;
    std::function<int32_t(BitmapRecord*)> op;
    bool swaps;           // the result is h x w
    int32_t dw, dh;       // otherwise the size changes by these
    PixelMap source;      // result (x, y) shows picture (sx, sy) of the w x h original
    uint8_t orientation;  // expected afterwards; 0: unchanged
  };
  const Case cases[] = {
      {"turn 9000", [](BitmapRecord* b) { return HostRotateBitmap(b, 9000, 1, 0); }, true, 0, 0,
       [](int x, int y, int w, int, int* sx, int* sy) { *sx = w - 1 - y, *sy = x; }, 0},
      {"turn -9000", [](BitmapRecord* b) { return HostRotateBitmap(b, -9000, 1, 0); }, true, 0, 0,
       [](int x, int y, int, int h, int* sx, int* sy) { *sx = y, *sy = h - 1 - x; }, 0},
      {"turn 18000", [](BitmapRecord* b) { return HostRotateBitmap(b, 18000, 1, 0); }, false, 0, 0,
       [](int x, int y, int w, int h, int* sx, int* sy) { *sx = w - 1 - x, *sy = h - 1 - y; }, 0},
      {"trim", [](BitmapRecord* b) { return HostTrimBitmap(b, 2, 1, b->Width - 5, b->Height - 3); },
       false, -5, -3, [](int x, int y, int, int, int* sx, int* sy) { *sx = x + 2, *sy = y + 1; },
       0},
      {"re-lay in 7", [](BitmapRecord* b) { return HostChangeOrientation(b, b, 272, 7); }, false, 0,
       0, [](int x, int y, int, int, int* sx, int* sy) { *sx = x, *sy = y; }, 7},
  };
  for (const auto& d : fxtest::AllDepths()) {
    for (uint8_t orientation : {1, 6}) {
      for (const auto& c : cases) {
        SCOPED_TRACE(std::string(d.name) + " orientation " + std::to_string(orientation) + " " +
                     c.what);
        TestBitmap b(11, 7, d.bitsPerPixel, d.order, orientation);
        b.FillNoise(9);
        // An irregular mask region clear of the edges: it must move with its pixels.
        std::vector<uint8_t> mask(size_t(b->Width) * b->Height);
        for (int32_t y = 1; y + 1 < b->Height; ++y)
          for (int32_t x = 1; x + 2 < b->Width; ++x)
            mask[y * b->Width + x] = (x * x + 3 * y) % 7 < 3;
        ASSERT_EQ(HostSetRegionMask(b.get(), mask.data(), b->Width), SUCCESS);
        const View before(b.get());
        ASSERT_EQ(c.op(b.get()), SUCCESS);
        EXPECT_EQ(b->Orientation, c.orientation ? c.orientation : orientation);
        EXPECT_EQ(b->Width, c.swaps ? before.h : before.w + c.dw);
        EXPECT_EQ(b->Height, c.swaps ? before.w : before.h + c.dh);
        const View after(b.get());
        RECT bounds;
        HostGetRegionBounds(b.get(), nullptr, &bounds);
        for (int32_t y = 0; y < after.h; ++y)
          for (int32_t x = 0; x < after.w; ++x) {
            int32_t sx, sy;
            c.source(x, y, before.w, before.h, &sx, &sy);
            for (int32_t k = 0; k < after.step; ++k)
              ASSERT_EQ(after.at(x, y, k), before.at(sx, sy, k)) << x << "," << y << " " << k;
            const bool inside = mask[size_t(sy) * before.w + sx];
            ASSERT_EQ(HostIsInRegion(b.get(), x, y) != 0, inside) << x << "," << y;
            if (inside) {
              ASSERT_TRUE(x >= bounds.left && x < bounds.right && y >= bounds.top &&
                          y < bounds.bottom);
            }
          }
      }
    }
  }
}

// A rectangle stays the same rectangle of pixels; a trim that leaves it out removes it.
TEST_F(HostTransformsTest, RectangleRegionsFollowTheirPixels) {
  TestBitmap c(13, 9, 8, ORDER_GRAY, 3);
  RECT r{2, 1, 6, 4}, bounds;
  ASSERT_EQ(HostSetRegionRect(c.get(), nullptr, &r, 1), SUCCESS);
  ASSERT_EQ(HostRotateBitmap(c.get(), -9000, 1, 0), SUCCESS);  // (x, y) shows (y, 8 - x)
  HostGetRegionBounds(c.get(), nullptr, &bounds);
  EXPECT_EQ((std::array{bounds.left, bounds.top, bounds.right, bounds.bottom}),
            (std::array{5, 2, 8, 6}));
  ASSERT_EQ(HostTrimBitmap(c.get(), 0, 0, 9, 2), SUCCESS);  // the region lies below row 1
  EXPECT_EQ(HostHasRegion(c.get()), 0);
}

TEST_F(HostTransformsTest, ConversionsRoundTripEveryDepth) {
  for (const auto& d : fxtest::AllDepths()) {
    for (bool inPlace : {true, false}) {
      SCOPED_TRACE(std::string(d.name) + (inPlace ? " in place" : " into a new record"));
      TestBitmap b(9, 6, d.bitsPerPixel, d.order, 8);
      b.FillNoise(2);
      RECT r{1, 1, 4, 3};
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &r, 1), SUCCESS);
      const auto stored = b.Stored();
      const View before(b.get());
      BitmapRecord other{};
      BitmapRecord* target = inPlace ? b.get() : &other;
      ASSERT_EQ(HostConvertBitmap(target, b.get(), 272, 24, ORDER_BGR, nullptr, 0, 0, 0, 0),
                SUCCESS);
      EXPECT_EQ(target->BitsPerPixel, 24);
      EXPECT_EQ(target->Orientation, 8);
      EXPECT_EQ(HostHasRegion(target), 1);
      const View colour(target);
      for (int32_t y = 0; y < before.h; ++y)
        for (int32_t x = 0; x < before.w; ++x)
          for (int32_t k = 0; k < 3; ++k) {
            const uint32_t v = before.at(x, y, before.step == 1 ? 0 : k);
            ASSERT_EQ(colour.at(x, y, k), before.bits == 16 ? (v + 128) / 257 : v) << x << "," << y;
          }
      ASSERT_EQ(
          HostConvertBitmap(target, target, 272, d.bitsPerPixel, d.order, nullptr, 0, 0, 0, 0),
          SUCCESS);
      EXPECT_EQ(target->BitsPerPixel, d.bitsPerPixel);
      EXPECT_EQ(target->Order, d.order);
      const View back(target);
      for (int32_t y = 0; y < before.h; ++y)
        for (int32_t x = 0; x < before.w; ++x)
          for (int32_t k = 0; k < before.step; ++k) {
            uint32_t want = before.at(x, y, k);
            if (k == 3)
              want = before.bits == 16 ? 65535 : 255;  // alpha comes back opaque
            else if (before.bits == 16)
              want = (want + 128) / 257 * 257;
            if (d.bitsPerPixel == 12) want = (want >> 4) << 4 | want >> 12;
            ASSERT_EQ(back.at(x, y, k), want) << x << "," << y << " " << k;
          }
      if (!inPlace) {
        EXPECT_EQ(b.Stored(), stored);  // the source is left alone
        HostFreeBitmap(&other);
      }
    }
  }
}

TEST_F(HostTransformsTest, CopiesAreIndependentAndAssignHandsOverStorage) {
  TestBitmap a(6, 5, 8, ORDER_BGR);
  a.FillNoise(1);
  RECT r{1, 1, 3, 3};
  ASSERT_EQ(HostSetRegionRect(a.get(), nullptr, &r, 1), SUCCESS);
  BitmapRecord copy{}, taker{};
  taker.StructSize = 228;
  ASSERT_EQ(HostCopyBitmap(&copy, a.get(), 272), SUCCESS);
  EXPECT_NE(copy.Data, a->Data);
  EXPECT_EQ(fxtest::WorkingRows(&copy), fxtest::WorkingRows(a.get()));
  EXPECT_EQ(HostHasRegion(&copy), 1);
  const uint8_t* data = copy.Data;
  ASSERT_EQ(HostAssignBitmap(&taker, &copy, 272), SUCCESS);
  EXPECT_EQ(taker.StructSize, 228u);
  EXPECT_EQ(taker.Data, data);
  EXPECT_EQ(HostHasRegion(&taker), 1);
  EXPECT_EQ(copy.Flags & FLAG_ALLOCATED, 0u);
  EXPECT_EQ(copy.Data, nullptr);
  // Assigning over a bitmap releases what it held (the fixture counts the blocks).
  ASSERT_EQ(HostAssignBitmap(a.get(), &taker, 272), SUCCESS);
  EXPECT_EQ(a->Data, data);
  HostFreeBitmap(&copy);
  HostFreeBitmap(&taker);
}

// The filters against a direct evaluation, on a gray and a colour bitmap, with and without a
// region (pixels outside keep their values).
TEST_F(HostTransformsTest, FiltersFollowTheirFormulas) {
  struct Case {
    const char* what;
    std::function<int32_t(BitmapRecord*)> op;
    std::function<int64_t(const View&, int x, int y, int k)> expected;
  };
  auto clampedAt = [](const View& v, int x, int y, int k) {
    return int64_t(v.at(std::clamp(x, 0, v.w - 1), std::clamp(y, 0, v.h - 1), k));
  };
  auto maximum = [](const View& v) { return v.bits == 16 ? 65535 : 255; };
  const Case cases[] = {
      {"pre-filter 30", [](BitmapRecord* b) { return HostPreFilter(b, 30, 0, 0); },
       [&](const View& v, int x, int y, int k) {
         const int w[3] = {1, 2, 1};
         int64_t sum = 0;
         for (int j = -1; j <= 1; ++j)
           for (int i = -1; i <= 1; ++i) sum += w[i + 1] * w[j + 1] * clampedAt(v, x + i, y + j, k);
         return (clampedAt(v, x, y, k) * 70 + (sum + 8) / 16 * 30 + 50) / 100;
       }},
      {"energy 135", [](BitmapRecord* b) { return HostEnergyFilter(b, 135); },
       [&](const View& v, int x, int y, int k) {
         int64_t gx = 0, gy = 0;
         for (int t = -1; t <= 1; ++t) {
           const int w = t == 0 ? 2 : 1;
           gx += w * (clampedAt(v, x + 1, y + t, k) - clampedAt(v, x - 1, y + t, k));
           gy += w * (clampedAt(v, x + t, y + 1, k) - clampedAt(v, x + t, y - 1, k));
         }
         return std::min<int64_t>((std::abs(gx) + std::abs(gy)) * 135 / 800, maximum(v));
       }},
      {"channel mix", [](BitmapRecord* b) { return HostChannelMix(b, 500, 300, 200); },
       [&](const View& v, int x, int y, int) {
         const int64_t b = v.at(x, y, 0), g = v.step == 1 ? b : v.at(x, y, 1),
                       r = v.step == 1 ? b : v.at(x, y, 2);
         return (r * 500 + g * 300 + b * 200 + 500) / 1000;
       }},
  };
  for (const auto& c : cases) {
    for (auto [bpp, order] :
         {std::pair{8, ORDER_GRAY}, std::pair{48, ORDER_RGB}, std::pair{32, ORDER_BGR}}) {
      for (bool region : {false, true}) {
        SCOPED_TRACE(std::string(c.what) + " " + std::to_string(bpp) + (region ? " region" : ""));
        TestBitmap b(7, 5, bpp, order, 5);
        b.FillNoise(11);
        if (region) {
          RECT r{2, 1, 5, 4};
          ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &r, 1), SUCCESS);
        }
        const View before(b.get());
        ASSERT_EQ(c.op(b.get()), SUCCESS);
        const View after(b.get());
        for (int y = 0; y < before.h; ++y)
          for (int x = 0; x < before.w; ++x)
            for (int k = 0; k < before.step; ++k) {
              const bool inside = HostIsInRegion(b.get(), x, y) != 0;
              const int64_t want =
                  inside && k < 3 ? c.expected(before, x, y, k) : before.at(x, y, k);
              ASSERT_EQ(int64_t(after.at(x, y, k)), want) << x << "," << y << " " << k;
            }
      }
    }
  }
  TestBitmap colour(4, 3, 24, ORDER_RGB);
  EXPECT_EQ(HostRotateBitmap(colour.get(), 4500, 1, 0), ERROR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(HostTrimBitmap(colour.get(), 1, 0, 4, 3), ERROR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(HostGrayscaleBitmap(colour.get(), 10), ERROR_HOST_BAD_ARGUMENT);
}

}  // namespace
