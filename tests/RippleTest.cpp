// Ripple: entry checks, the sliding and whole-rectangle windows and the three outside modes
// against a direct evaluation, regions, and the failure paths.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "BilinearReference.h"

namespace {

using fxtest::HostFixture;
using fxtest::Snapshot;
using fxtest::TestBitmap;

class RippleTest : public HostFixture {};

struct Args {
  int32_t amplitude = 4, frequency = 3, phase = 0, attenuation = 100;
  POINT center{6, 5};
  uint32_t fillColor = 0x204060, flags = 0;
};

int32_t Call(BitmapRecord* b, const Args& a) {
  return Fx_RippleBitmap(b, a.amplitude, a.frequency, a.phase, a.attenuation, a.center, a.fillColor,
                         a.flags);
}

TEST_F(RippleTest, EntryChecksInTheirOrder) {
  struct Case {
    const char* what;
    std::function<void(BitmapRecord*)> spoil;
    std::function<void(Args&)> set;
    int32_t expected;
  };
  const auto none = [](BitmapRecord*) {};
  const auto same = [](Args&) {};
  const Case cases[] = {
      {"unallocated", [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; }, same, ERROR_NO_BITMAP},
      {"struct size before flags", [](BitmapRecord* b) { b->StructSize = 0; },
       [](Args& a) { a.flags = 3; }, ERROR_INV_STRUCT_SIZE},
      {"32-bit gray", [](BitmapRecord* b) { b->Order = ORDER_GRAY; }, same,
       ERROR_UNSUPPORTED_ORDER},
      {"flag 0x200", [](BitmapRecord* b) { b->Flags |= 0x200; }, same, ERROR_UNSUPPORTED_FLAG},
      {"flags 3 before the no-op", none, [](Args& a) { a.flags = 3, a.amplitude = 0; },
       ERROR_INV_PARAMETER},
      {"zero amplitude before the ranges", none,
       [](Args& a) {
         a.amplitude = 0, a.phase = 50000, a.center = {500, 500};
       },
       SUCCESS},
      {"negative amplitude", none, [](Args& a) { a.amplitude = -1; }, ERROR_POINT_OUT_OF_RANGE},
      {"frequency 0", none, [](Args& a) { a.frequency = 0; }, ERROR_POINT_OUT_OF_RANGE},
      {"phase 36001", none, [](Args& a) { a.phase = 36001; }, ERROR_POINT_OUT_OF_RANGE},
      {"phase -36001", none, [](Args& a) { a.phase = -36001; }, ERROR_POINT_OUT_OF_RANGE},
      {"attenuation -1", none, [](Args& a) { a.attenuation = -1; }, ERROR_POINT_OUT_OF_RANGE},
      {"attenuation 1001", none, [](Args& a) { a.attenuation = 1001; }, ERROR_POINT_OUT_OF_RANGE},
      {"range limits accepted", none,
       [](Args& a) { a.phase = -36000, a.attenuation = 1000, a.frequency = 1; }, SUCCESS},
      {"centre at right, bottom", none,
       [](Args& a) {
         a.center = {12, 9};
       },
       SUCCESS},
      {"centre at left - 1, top - 1", none,
       [](Args& a) {
         a.center = {-1, -1};
       },
       SUCCESS},
      {"centre at right + 1", none,
       [](Args& a) {
         a.center = {13, 0};
       },
       ERROR_POINT_OUT_OF_RANGE},
      {"centre at top - 2", none,
       [](Args& a) {
         a.center = {3, -2};
       },
       ERROR_POINT_OUT_OF_RANGE},
  };
  for (const auto& c : cases) {
    for (uint8_t orientation : {1, 6}) {
      TestBitmap b(12, 9, 32, ORDER_BGR);  // the effect works on the stored 12 x 9
      ASSERT_TRUE(b.ok());
      ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, orientation, 0), SUCCESS);
      b.FillNoise(7);
      c.spoil(b.get());
      Args args;
      c.set(args);
      const auto before = b.Stored();
      EXPECT_EQ(Call(b.get(), args), c.expected) << c.what << " orientation " << int(orientation);
      EXPECT_EQ(b->Orientation, orientation) << c.what;
      if (c.expected != SUCCESS || args.amplitude == 0) {
        EXPECT_EQ(b.Stored(), before) << c.what;
      }
      b->StructSize = 272;
    }
  }
  EXPECT_EQ(Call(nullptr, Args{}), ERROR_NO_BITMAP);
}

// One output sample, re-derived: the damped sine displacement along the ray, and the source row
// looked up in the window the way the window is laid out (rows around y, clamped to the bitmap,
// or the rectangle's rows when the window would reach its height).
uint32_t ExpectedRipple(const Snapshot& s, const RECT& rc, const Args& a,
                        const std::vector<uint32_t>& fill, int32_t x, int32_t y, int32_t k) {
  const double pi = 3.1415926535;
  const double Dx = std::max(a.center.x - rc.left, rc.right - a.center.x);
  const double Dy = std::max(a.center.y - rc.top, rc.bottom - a.center.y);
  const double R = std::sqrt(Dx * Dx + Dy * Dy);
  const double damping = a.attenuation / R / 10.0;
  const double omega = a.frequency / R * (2.0 * pi);
  const double phi = a.phase * pi / 18000.0;
  const double dx = x - a.center.x, dy = y - a.center.y;
  const double r = std::sqrt(dx * dx + dy * dy), theta = std::atan2(dy, dx);
  const double d = a.amplitude * std::sin(r * omega + phi) / (1.0 + r * damping);
  double sx = x + d * std::cos(theta), oy = d * std::sin(theta);
  const double sy = y + oy;
  const bool inside = sx < rc.right && sx >= rc.left && sy < rc.bottom && sy >= rc.top;
  if (!inside && a.flags == 2) return s.at(x, y, k);
  if (!inside && a.flags == 0) return s.step == 1 ? fill[0] : fill[k];
  if (!inside) {
    if (sx >= rc.right) sx = rc.right - 1;
    if (sx < rc.left) sx = rc.left;
    if (sy >= rc.bottom) oy = rc.bottom - 1 - y;
    if (sy < rc.top) oy = rc.top - y;
  }
  const int64_t rectH = rc.bottom - rc.top;
  const bool whole = 2 * int64_t{a.amplitude} + 1 >= rectH;
  const int32_t n = whole ? int32_t(rectH) : 2 * a.amplitude + 1, half = n / 2;
  if (whole) {
    return fxtest::ReferenceBilinear(
        s, [&](int32_t i) { return rc.top + i; }, n, sx, (y - rc.top) + oy, k);
  }
  return fxtest::ReferenceBilinear(
      s, [&](int32_t i) { return std::clamp(y - half + i, 0, s.height - 1); }, n, sx, half + oy, k);
}

TEST_F(RippleTest, WindowsAndOutsideModesMatchADirectEvaluation) {
  struct Case {
    const char* what;
    int32_t width, height, bpp;
    uint32_t order;
    RECT region;  // empty: none
    Args args;
  };
  const Case cases[] = {
      {"sliding 8-bit", 30, 24, 24, ORDER_BGR, {}, {3, 4, 4500, 200, {14, 11}, 0x3060C0, 0}},
      {"sliding 16-bit, centre outside",
       27,
       22,
       48,
       ORDER_RGB,
       {},
       {5, 2, -9000, 0, {-1, 21}, 0x00FF8040, 0}},
      {"sliding in a region",
       26,
       25,
       32,
       ORDER_BGR,
       {3, 6, 23, 21},
       {2, 5, 1000, 0, {12, 13}, 0x10E020, 0}},
      {"whole: amplitude 3 on five rows",
       25,
       20,
       8,
       ORDER_GRAY,
       {3, 4, 22, 9},
       {3, 3, 0, 50, {10, 6}, 0x405060, 0}},
      {"whole: window exactly the height",
       25,
       20,
       48,
       ORDER_BGR,
       {2, 7, 23, 12},
       {2, 4, 9000, 0, {12, 9}, 0x405060, 0}},
      {"whole 16-bit gray, literal level",
       21,
       16,
       16,
       ORDER_GRAY,
       {},
       {9, 2, 27000, 300, {4, 12}, 0x0400ABCD, 0}},
      {"largest amplitude", 18, 14, 64, ORDER_BGR, {}, {INT32_MAX, 1, 0, 0, {9, 7}, 0x7F7F7F, 0}},
  };
  for (const auto& c : cases) {
    for (uint32_t flags : {0u, 1u, 2u}) {
      SCOPED_TRACE(std::string(c.what) + " flags " + std::to_string(flags));
      TestBitmap b(c.width, c.height, c.bpp, c.order);
      b.FillSmooth();
      const bool hasRegion = c.region.right > c.region.left;
      if (hasRegion) {
        ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &c.region, 1), SUCCESS);
      }
      const RECT rc = hasRegion ? c.region : RECT{0, 0, c.width, c.height};
      Args args = c.args;
      args.flags = flags;
      const Snapshot s = Snapshot::Of(b.get());
      const auto fill = fxtest::ReferenceFill(b.get(), args.fillColor);
      ASSERT_EQ(Call(b.get(), args), SUCCESS);
      const auto after = fxtest::WorkingRows(b.get());
      int changed = 0;
      for (int32_t y = 0; y < c.height; ++y)
        for (int32_t x = 0; x < c.width; ++x)
          for (int32_t k = 0; k < s.step; ++k) {
            const bool inRect = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
            const uint32_t got = fxtest::SampleAt(after, s.rowBytes, s.bits, s.step, x, y, k);
            const uint32_t want =
                inRect && k < 3 ? ExpectedRipple(s, rc, args, fill, x, y, k) : s.at(x, y, k);
            ASSERT_EQ(got, want) << x << "," << y << " sample " << k;
            changed += got != s.at(x, y, k);
          }
      // The largest amplitude throws almost every source outside: kept in mode 2.
      EXPECT_GT(changed, flags == 2 && args.amplitude == INT32_MAX ? 0 : 10);
    }
  }
}

TEST_F(RippleTest, RegionMaskKeepsOutsidePixels) {
  TestBitmap b(40, 30, 48);
  b.FillSmooth();
  std::vector<uint8_t> mask(40 * 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) mask[y * 40 + x] = (x - 18) * (x - 18) + (y - 14) * (y - 14) < 90;
  ASSERT_EQ(HostSetRegionMask(b.get(), mask.data(), 40), SUCCESS);
  const Snapshot s = Snapshot::Of(b.get());
  Args args{3, 2, 0, 0, {18, 14}, 0xFFFFFF, 1};
  ASSERT_EQ(Call(b.get(), args), SUCCESS);
  const auto after = fxtest::WorkingRows(b.get());
  int changedInside = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      for (int k = 0; k < 3; ++k) {
        const uint32_t got = fxtest::SampleAt(after, s.rowBytes, s.bits, s.step, x, y, k);
        if (!mask[y * 40 + x]) {
          ASSERT_EQ(got, s.at(x, y, k)) << x << "," << y;
        } else {
          changedInside += got != s.at(x, y, k);
        }
      }
  EXPECT_GT(changedInside, 20);
}

TEST_F(RippleTest, EveryFailurePathCleansUp) {
  for (int32_t amplitude : {2, 12}) {  // sliding window, whole rectangle
    auto stats = fxtest::SweepFaults(
        [] {
          auto b = std::make_unique<TestBitmap>(9, 10, 24, ORDER_BGR, 8);
          b->FillNoise(3);
          return b;
        },
        [amplitude](BitmapRecord* b) {
          return Call(b, Args{amplitude, 2, 0, 0, {4, 4}, 0, 1});
        },
        "ripple");
    EXPECT_GT(stats.points, 15);
  }
}

}  // namespace
