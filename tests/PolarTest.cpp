// Polar coordinates: entry checks, both directions and the three outside modes against a direct
// evaluation, thin rectangles, and the failure paths.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "BilinearReference.h"

namespace {

using fxtest::HostFixture;
using fxtest::Snapshot;
using fxtest::TestBitmap;

class PolarTest : public HostFixture {};

TEST_F(PolarTest, EntryChecksInTheirOrder) {
  struct Case {
    const char* what;
    std::function<void(BitmapRecord*)> spoil;
    uint32_t flags;
    int32_t expected;
  };
  const auto none = [](BitmapRecord*) {};
  const Case cases[] = {
      {"unallocated", [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; }, 0x20, ERROR_NO_BITMAP},
      {"struct size before flags", [](BitmapRecord* b) { b->StructSize = 271; }, 0x20,
       ERROR_INV_STRUCT_SIZE},
      {"struct size 228", [](BitmapRecord* b) { b->StructSize = 228; }, 0, SUCCESS},
      {"32-bit gray", [](BitmapRecord* b) { b->Order = ORDER_GRAY; }, 3, ERROR_UNSUPPORTED_ORDER},
      {"flag 0x200", [](BitmapRecord* b) { b->Flags |= 0x200; }, 0x20, ERROR_UNSUPPORTED_FLAG},
      {"direction 0x20", none, 0x20, ERROR_POINT_OUT_OF_RANGE},
      {"direction before mode", none, 0x23, ERROR_POINT_OUT_OF_RANGE},
      {"mode 3", none, 3, ERROR_INV_PARAMETER},
      {"mode 15", none, 0x1F, ERROR_INV_PARAMETER},
      {"higher bits ignored", none, 0x112, SUCCESS},
      {"direction 0x10 mode 1", none, 0x11, SUCCESS},
  };
  for (const auto& c : cases) {
    for (uint8_t orientation : {1, 6}) {
      TestBitmap b(12, 9, 32, ORDER_BGR);
      ASSERT_TRUE(b.ok());
      ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, orientation, 0), SUCCESS);
      b.FillNoise(7);
      c.spoil(b.get());
      const auto before = b.Stored();
      EXPECT_EQ(Fx_PolarBitmap(b.get(), 0x123456, c.flags), c.expected)
          << c.what << " orientation " << int(orientation);
      EXPECT_EQ(b->Orientation, orientation) << c.what;
      if (c.expected != SUCCESS) {
        EXPECT_EQ(b.Stored(), before) << c.what;
      }
      b->StructSize = 272;
    }
  }
  EXPECT_EQ(Fx_PolarBitmap(nullptr, 0, 0x20), ERROR_NO_BITMAP);
}

// One output sample, re-derived from the definition of the two mappings.
uint32_t ExpectedPolar(const Snapshot& s, const RECT& rc, uint32_t flags,
                       const std::vector<uint32_t>& fill, int32_t x, int32_t y, int32_t k) {
  const double T = 2.0 * 3.1415926535;
  const int w = rc.right - rc.left - 1, h = rc.bottom - rc.top - 1, rows = h + 1;
  const int cx = (rc.left + rc.right) / 2, cyr = (rc.top + rc.bottom) / 2 - rc.top;
  const double D = std::sqrt(w * w / 4.0 + h * h / 4.0);
  const double m = D / (std::min(w, h) / 2.0);
  double sx, sy;
  if ((flags & 0xF0) == 0) {
    const int dx = x - cx, dy = (y - rc.top) - cyr;
    const double r = std::sqrt(double(dx * dx + dy * dy));
    double theta = std::atan2(double(dy), double(dx));
    if (theta < 0) theta += T;
    sx = (w / T) * theta + rc.left;
    sy = (h / D * m) * r;
  } else {
    const double rho = D * (y - rc.top) / h * (1 / m);
    const double phi = (T / w) * (x - rc.left);
    sx = rho * std::cos(phi) + cx;
    sy = rho * std::sin(phi) + cyr;
  }
  const bool inside = sx >= rc.left && sx < rc.right && sy >= 0 && sy < rows;
  const uint32_t mode = flags & 0xF;
  if (!inside && mode == 2) return s.at(x, y, k);
  if (!inside && mode == 0) return s.step == 1 ? fill[0] : fill[k];
  if (!inside) {
    sx = std::clamp(sx, double(rc.left), double(rc.right - 1));
    sy = std::clamp(sy, 0.0, double(rows - 1));
  }
  return fxtest::ReferenceBilinear(
      s, [&](int32_t i) { return rc.top + i; }, rows, sx, sy, k);
}

TEST_F(PolarTest, BothDirectionsAndOutsideModesMatchADirectEvaluation) {
  struct Case {
    int32_t width, height, bpp;
    uint32_t order;
    RECT region;  // empty: none
    uint32_t fillColor;
  };
  const Case cases[] = {
      {15, 11, 24, ORDER_BGR, {}, 0x3060C0},              // odd sizes
      {16, 12, 48, ORDER_RGB, {}, 0x00FF8040},            // even sizes, 16-bit samples
      {14, 17, 8, ORDER_GRAY, {}, 0x405060},              // taller than wide
      {13, 10, 16, ORDER_GRAY, {}, 0x0400ABCD},           // bit 26: a literal 16-bit level
      {19, 14, 32, ORDER_BGR, {3, 2, 14, 11}, 0x10E020},  // region; fourth sample untouched
      {20, 15, 64, ORDER_BGR, {2, 3, 18, 15}, 0x7F7F7F},
  };
  for (const auto& c : cases) {
    for (uint32_t flags : {0x00u, 0x01u, 0x02u, 0x10u, 0x11u, 0x12u}) {
      SCOPED_TRACE("bpp " + std::to_string(c.bpp) + " size " + std::to_string(c.width) + "x" +
                   std::to_string(c.height) + " flags " + std::to_string(flags));
      TestBitmap b(c.width, c.height, c.bpp, c.order);
      b.FillSmooth();
      const bool hasRegion = c.region.right > c.region.left;
      if (hasRegion) {
        ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &c.region, 1), SUCCESS);
      }
      const RECT rc = hasRegion ? c.region : RECT{0, 0, c.width, c.height};
      const Snapshot s = Snapshot::Of(b.get());
      const auto fill = fxtest::ReferenceFill(b.get(), c.fillColor);
      ASSERT_EQ(Fx_PolarBitmap(b.get(), c.fillColor, flags), SUCCESS);
      const auto after = fxtest::WorkingRows(b.get());
      int changed = 0, filled = 0;
      for (int32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < c.width; ++x) {
          const bool inRect = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
          bool isFill = true;
          for (int32_t k = 0; k < s.step; ++k) {
            const uint32_t got = fxtest::SampleAt(after, s.rowBytes, s.bits, s.step, x, y, k);
            const uint32_t want =
                inRect && k < 3 ? ExpectedPolar(s, rc, flags, fill, x, y, k) : s.at(x, y, k);
            ASSERT_EQ(got, want) << x << "," << y << " sample " << k;
            changed += got != s.at(x, y, k);
            if (k < 3) isFill = isFill && got == (s.step == 1 ? fill[0] : fill[k]);
          }
          filled += inRect && isFill;
        }
      EXPECT_GT(changed, 20);
      if (flags == 0) {
        EXPECT_GT(filled, 4);  // the corners beyond the largest ring
      }
    }
  }
}

TEST_F(PolarTest, ThinRectangleIsLeftAsItIs) {
  for (RECT region : {RECT{5, 0, 6, 10}, RECT{0, 4, 12, 5}}) {
    for (uint32_t flags : {0x00u, 0x01u, 0x10u, 0x11u}) {
      TestBitmap b(12, 10, 24);
      b.FillNoise(11);
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &region, 1), SUCCESS);
      const auto before = b.Stored();
      EXPECT_EQ(Fx_PolarBitmap(b.get(), 0xFFFFFF, flags), SUCCESS);
      EXPECT_EQ(b.Stored(), before) << "flags " << flags;
    }
  }
}

TEST_F(PolarTest, EveryFailurePathCleansUp) {
  for (uint32_t flags : {0x00u, 0x11u}) {
    auto stats = fxtest::SweepFaults(
        [] {
          auto b = std::make_unique<TestBitmap>(9, 7, 48, ORDER_BGR, 5);
          b->FillNoise(3);
          return b;
        },
        [flags](BitmapRecord* b) { return Fx_PolarBitmap(b, 0x808080, flags); }, "polar");
    EXPECT_GT(stats.points, 15);
  }
}

}  // namespace
