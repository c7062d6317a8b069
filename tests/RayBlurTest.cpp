// Zoom and radial blur: their own checks in their order, every pixel against a direct
// evaluation in both window modes, and the registry's calls of both.
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"
#include "fxkit/registry.h"

namespace {

using fxtest::kNone;
using fxtest::kSome;
using fxtest::Snapshot;

class RayBlurTest : public fxtest::HostFixture {};

fxtest::Call Zoom(uint32_t length, uint32_t strength, POINT center, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_ZoomBlurBitmap(b, length, strength, center, flags); };
}

fxtest::Call Radial(uint32_t length, int32_t spread, POINT center, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_RadialBlurBitmap(b, length, spread, center, flags); };
}

TEST_F(RayBlurTest, EntryChecksInTheirOrder) {
  const auto unallocated = [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; };
  const auto out = ERROR_POINT_OUT_OF_RANGE;
  fxtest::CheckEntryCases({
      {"zoom: bitmap before flags", unallocated, Zoom(5, 0, {5, 5}, 1), ERROR_NO_BITMAP},
      {"zoom: flags before struct size", [](BitmapRecord* b) { b->StructSize = 0; },
       Zoom(5, 0, {5, 5}, 1), ERROR_INV_PARAMETER},
      {"zoom: struct size before strength", [](BitmapRecord* b) { b->StructSize = 271; },
       Zoom(5, 101, {5, 5}), ERROR_INV_STRUCT_SIZE},
      {"zoom: strength 2^32 - 1 before the no-op", nullptr, Zoom(1, 0xFFFFFFFFu, {5, 5}), out},
      {"zoom: length 1 before the centre", nullptr, Zoom(1, 0, {-5000, 5000}), SUCCESS, kNone},
      {"zoom: centre at right, bottom", nullptr, Zoom(5, 0, {12, 10}), SUCCESS, kSome},
      {"zoom: centre at right + 1", nullptr, Zoom(5, 0, {13, 0}), out},
      {"radial: flags before the bitmap", unallocated, Radial(5, 3, {5, 5}, 1),
       ERROR_INV_PARAMETER},
      {"radial: flag 0x200 before spread", [](BitmapRecord* b) { b->Flags |= 0x200; },
       Radial(5, -1, {5, 5}), ERROR_UNSUPPORTED_FLAG},
      {"radial: spread INT32_MIN before the no-op", nullptr, Radial(1, INT32_MIN, {5, 5}),
       ERROR_INV_PARAMETER},
      {"radial: spread 0 before the centre", nullptr, Radial(5, 0, {5000, 5000}), SUCCESS, kNone},
      {"radial: length 1 before the centre", nullptr, Radial(1, 7, {-5000, 0}), SUCCESS, kNone},
      {"radial: centre at right, top - 1", nullptr, Radial(5, 3, {12, -1}), SUCCESS, kSome},
      {"radial: centre at bottom + 1", nullptr, Radial(5, 3, {4, 11}), out},
  });
}

// Sample k of the blurred pixel (x, y), evaluated straight from the definition.
uint32_t ExpectedZoom(const Snapshot& im, RECT rc, POINT c, uint32_t length, uint32_t strength,
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
    if (!whole) sy = std::clamp<int64_t>(sy, y - half, y + half);
    sum += im.at(int32_t(std::clamp<int64_t>(sx, 0, im.width - 1)),
                 int32_t(std::clamp<int64_t>(sy, 0, im.height - 1)), k);
  }
  return uint32_t(sum / n);
}

TEST_F(RayBlurTest, ZoomPixelsMatchTheDefinition) {
  struct Case {
    const char* what;
    fxtest::Scene scene;
    uint32_t length, strength;
    POINT center;
  };
  const Case cases[] = {
      // Sliding window (2·half + 1 < height), including rows near the top edge.
      {"sliding, s = 0", {23, 40, 24, ORDER_BGR, {}, 1}, 6, 0, {11, 30}},
      {"sliding, stretched", {21, 60, 24, ORDER_RGB, {}, 2}, 6, 15, {4, 50}},
      {"sliding, gray 16-bit", {17, 50, 16, ORDER_GRAY, {}, 3}, 5, 9, {16, 45}},
      {"sliding, 64 bpp mask", {20, 48, 64, ORDER_BGR, {3, 5, 18, 40}, 4, true}, 4, 20, {9, 30}},
      // Whole-bitmap mode.
      {"whole, strength 100", {20, 16, 24, ORDER_BGR, {}, 5}, 5, 100, {6, 4}},
      {"whole, 48 bpp, centre outside", {19, 15, 48, ORDER_BGR, {}, 6}, 9, 35, {-1, 15}},
      {"whole, long rays", {64, 48, 8, ORDER_GRAY, {}, 7}, 40, 0, {20, 30}},
      {"whole, 32 bpp region", {22, 18, 32, ORDER_BGR, {2, 1, 19, 17}, 8}, 8, 55, {10, 10}},
      {"length 2^32 - 1 acts as R", {16, 12, 24, ORDER_BGR, {}, 9}, 0xFFFFFFFFu, 10, {8, 6}},
      {"70000 wide: R² beyond 32 bits", {70000, 2, 8, ORDER_GRAY, {}, 10}, 4, 0, {0, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t changed = fxtest::CompareWithReference(
        c.scene, Zoom(c.length, c.strength, c.center),
        [&](const Snapshot& s, BitmapRecord*, const RECT& rc, int32_t x, int32_t y, int32_t k) {
          return ExpectedZoom(s, rc, c.center, c.length, c.strength, x, y, k);
        });
    EXPECT_GT(changed, 10);
  }
}

// Sample k of the blurred pixel (x, y), evaluated straight from the definition.
uint32_t ExpectedRadial(const Snapshot& im, RECT rc, POINT c, uint32_t length, int32_t spread,
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
    sum += im.at(int32_t(col), int32_t(row), k);
  }
  return uint32_t(sum / n);
}

TEST_F(RayBlurTest, RadialPixelsMatchTheDefinition) {
  struct Case {
    const char* what;
    fxtest::Scene scene;
    uint32_t length;
    int32_t spread;
    POINT center;
  };
  const Case cases[] = {
      // Sliding window (2h + 1 < height), including rows near the top edge.
      {"sliding, 24 bpp", {30, 60, 24, ORDER_BGR, {}, 1}, 8, 1, {14, 40}},
      {"sliding, gray 16-bit", {24, 70, 16, ORDER_GRAY, {}, 2}, 12, 2, {3, 60}},
      {"sliding, 64 bpp mask", {26, 64, 64, ORDER_BGR, {2, 4, 24, 60}, 3, true}, 6, 1, {12, 35}},
      // Whole-bitmap mode: a large spread makes the window reach the height.
      {"whole, large spread", {24, 20, 24, ORDER_RGB, {}, 4}, 10, 1000, {11, 9}},
      {"whole, 48 bpp, centre outside", {21, 17, 48, ORDER_BGR, {}, 5}, 7, 3, {21, -1}},
      {"whole, gray 8-bit region", {25, 19, 8, ORDER_GRAY, {3, 2, 20, 16}, 6}, 9, 5, {8, 8}},
      {"length above R", {18, 14, 32, ORDER_BGR, {}, 7}, 500, 1, {9, 7}},
      {"70000 pixels wide", {70000, 2, 8, ORDER_GRAY, {}, 8}, 3, 1, {0, 1}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t changed = fxtest::CompareWithReference(
        c.scene, Radial(c.length, c.spread, c.center),
        [&](const Snapshot& s, BitmapRecord*, const RECT& rc, int32_t x, int32_t y, int32_t k) {
          return ExpectedRadial(s, rc, c.center, c.length, c.spread, x, y, k);
        });
    EXPECT_GT(changed, 10);
  }
}

// The descriptors' thunks pass every value to its own parameter.
TEST_F(RayBlurTest, RegistryCallsBothRayBlursWithTheirParameters) {
  for (const char* name : {"zoom-blur", "radial-blur"}) {
    const FxEffectDesc* effect = FxFindEffect(name);
    ASSERT_NE(effect, nullptr) << name;
    const FxNamedValue values[] = {{"length", {.i = 9}, 0},
                                   {effect->params[1].name, {.i = 25}, 0},  // strength, spread
                                   {"center", {.pt = {7, 3}}, 0}};
    fxtest::TestBitmap viaRegistry(30, 22, 24), plain(30, 22, 24);
    viaRegistry.FillNoise(6), plain.FillNoise(6);
    EXPECT_EQ(FxInvoke(effect, viaRegistry.get(), values, 3), SUCCESS);
    EXPECT_EQ((name[0] == 'z' ? Zoom(9, 25, {7, 3}) : Radial(9, 25, {7, 3}))(plain.get()), SUCCESS);
    EXPECT_EQ(viaRegistry.Stored(), plain.Stored()) << name;
  }
}

}  // namespace
