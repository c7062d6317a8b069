// Zoom and radial blur: their own checks in their order, and every pixel against a direct
// evaluation in both window modes.
#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "Common/RadialBlur.h"
#include "EffectCheck.h"

namespace {

using namespace fxtest;

Call Zoom(uint32_t length, uint32_t strength, POINT center, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_ZoomBlurBitmap(b, length, strength, center, flags); };
}

Call Radial(uint32_t length, int32_t spread, POINT center, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_RadialBlurBitmap(b, length, spread, center, flags); };
}

TEST(RayBlurTest, EntryChecksInTheirOrder) {
  const auto out = ERROR_POINT_OUT_OF_RANGE, bad = ERROR_INV_PARAMETER,
             size = ERROR_INV_STRUCT_SIZE;
  // clang-format off
  CheckEntryCases({
      {"zoom: struct size before strength", StructSize(271), Zoom(5, 101, {5, 5}), size},
      {"zoom: strength 2^32 - 1 before the no-op", nullptr, Zoom(1, 0xFFFFFFFFu, {5, 5}), out},
      {"zoom: length 1 before the centre", nullptr, Zoom(1, 0, {-5000, 5000}), SUCCESS, kNone},
      {"zoom: centre at right, bottom", nullptr, Zoom(5, 0, {12, 10}), SUCCESS, kSome},
      {"radial: flag 0x200 before spread", [](BitmapRecord* b) { b->Flags |= 0x200; },
       Radial(5, -1, {5, 5}), ERROR_UNSUPPORTED_FLAG},
      {"radial: spread INT32_MIN before the no-op", nullptr, Radial(1, INT32_MIN, {5, 5}), bad},
      {"radial: spread 0 before the centre", nullptr, Radial(5, 0, {5000, 5000}), SUCCESS, kNone},
      {"radial: length 1 before the centre", nullptr, Radial(1, 7, {-5000, 0}), SUCCESS, kNone},
      {"radial: centre at bottom + 1", nullptr, Radial(5, 3, {4, 11}), out},
  });
  // clang-format on
}

// The reference distance R: from the centre to the farthest corner of the rectangle.
int64_t Reach(const RECT& rc, POINT c) {
  const int64_t bigX = std::max<int64_t>(rc.right - c.x, c.x - rc.left);
  const int64_t bigY = std::max<int64_t>(rc.bottom - c.y, c.y - rc.top);
  return int64_t(std::sqrt(double(bigX * bigX + bigY * bigY)));
}

// Sample k of the zoom-blurred pixel (x, y), evaluated straight from the definition.
uint32_t ExpectedZoom(const Sample& p, POINT c, uint32_t length, uint32_t strength) {
  const Snapshot& im = p.s;
  const int64_t ref = Reach(p.rc, c), len = std::min<int64_t>(length, ref);
  const double s = strength / 10.0;
  const int64_t half = len * (int64_t(s) + 1);
  const bool whole = 2 * half + 1 >= im.height;

  const int64_t dx = p.x - c.x, dy = p.y - c.y;
  const double phi = std::atan2(double(dy), double(dx));
  int deg = int(phi * (180.0 / kPi));
  if (phi < 0) deg += 360;
  if (deg == 360) deg = 0;
  const double dist = std::sqrt(double(dx * dx + dy * dy));
  const int64_t n = int64_t(dist * len / ref);
  if (n == 0) return p.before();
  uint64_t sum = 0;
  for (int64_t j = 0; j < n; ++j) {
    // Entry j of the degree's list: the pixel, then +i and -i steps; from i = len/2 on, zero.
    const int64_t i = (j + 1) / 2;
    int64_t ox = 0, oy = 0;
    if (j > 0 && i < len / 2) {
      ox = int64_t(std::round(i * std::cos(deg * (kPi / 180.0))));
      oy = int64_t(std::round(i * std::sin(deg * (kPi / 180.0))));
      if (j % 2 == 0) ox = -ox, oy = -oy;
    }
    int64_t sx = p.x - ox, sy = p.y - oy;
    if (s != 0) {
      const double stretch = 1.0 + dist * s / ref;
      sx = p.x - int64_t(ox * stretch);
      sy = p.y + int64_t(-oy * stretch);
    }
    // Sliding window: rows beyond y ± half read as the outermost window row.
    if (!whole) sy = std::clamp<int64_t>(sy, p.y - half, p.y + half);
    sum += im.at(int32_t(std::clamp<int64_t>(sx, 0, im.width - 1)),
                 int32_t(std::clamp<int64_t>(sy, 0, im.height - 1)), p.k);
  }
  return uint32_t(sum / n);
}

// Sample k of the radially blurred pixel (x, y), evaluated straight from the definition.
uint32_t ExpectedRadial(const Sample& p, POINT c, uint32_t length, int32_t spread) {
  const Snapshot& im = p.s;
  const int64_t ref = Reach(p.rc, c);
  int64_t len = length, q = ref / len;
  if (q == 0) len = ref, q = 1;
  const double arc = std::atan2(double(spread), double(q));
  const int64_t rows = std::min<int64_t>(2 * int64_t(ref * std::sin(arc)) + 1, im.height);
  const int64_t w = rows == im.height ? p.y : rows / 2;  // row of y in the window

  const int64_t dx = p.x - c.x, dy = p.y - c.y;
  double phi = std::atan2(double(dy), double(dx));
  const double r = std::floor(std::sqrt(double(dx * dx + dy * dy)));
  const int64_t n = int64_t(r * (double(len) / double(ref)) + 0.5);
  if (n == 0) return p.before();
  if (phi < 0) phi += 2 * kPi;
  const double first = phi - ((arc / 2.0) / double(len)) * double(n);
  uint64_t sum = 0;
  for (int64_t i = 0; i < n; ++i) {
    const double psi = first + (arc / double(n)) * double(i);
    const double sx = r * std::cos(psi) + c.x, sy = r * std::sin(psi) + double(w - dy);
    const int64_t col = sx < 0 ? 0 : std::min<int64_t>(int64_t(sx + 0.5), im.width - 1);
    const int64_t slot = sy < 0 ? 0 : int64_t(std::min(sy + 0.5, double(rows - 1)));
    // The window row `slot` holds bitmap row y - w + slot, clamped to the bitmap when read.
    const int64_t row = std::clamp<int64_t>(p.y - w + slot, 0, im.height - 1);
    sum += im.at(int32_t(col), int32_t(row), p.k);
  }
  return uint32_t(sum / n);
}

TEST(RayBlurTest, PixelsMatchTheDefinition) {
  struct Case {
    const char* what;
    bool zoom;
    Scene scene;
    uint32_t length;
    int32_t amount;  // zoom: strength; radial: spread
    POINT center;
  };
  // clang-format off
  const Case cases[] = {
      // Sliding window (2·half + 1 < height), including rows near the top edge.
      {"zoom, s = 0", true, {23, 40, 24, ORDER_BGR, {}, 1}, 6, 0, {11, 30}},
      {"zoom, stretched", true, {21, 60, 24, ORDER_RGB, {}, 2}, 6, 15, {4, 50}},
      {"radial, 64 bpp region", false, {26, 64, 64, ORDER_BGR, {2, 4, 24, 60}, 3}, 6, 1, {12, 35}},
      // Whole-bitmap mode: the window reaches the height.
      {"zoom, strength 100", true, {20, 16, 24, ORDER_BGR, {}, 5}, 5, 100, {6, 4}},
      {"radial, large spread", false, {24, 20, 24, ORDER_RGB, {}, 4}, 10, 1000, {11, 9}},
      {"radial, 48 bpp, centre outside", false, {21, 17, 48, ORDER_BGR, {}, 5}, 7, 3, {21, -1}},
      {"radial, counts beyond the table", false, {1100, 4, 24, ORDER_BGR, {}, 6}, 0xFFFFFFFFu, 3,
       {2, 2}},
      // Lengths beyond R act as R; widths whose R² leaves 32 bits.
      {"zoom, length 2^32 - 1", true, {16, 12, 24, ORDER_BGR, {}, 9}, 0xFFFFFFFFu, 10, {8, 6}},
      {"zoom, 70000 wide", true, {70000, 2, 8, ORDER_GRAY, {}, 10}, 4, 0, {0, 0}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Call call =
        c.zoom ? Zoom(c.length, c.amount, c.center) : Radial(c.length, c.amount, c.center);
    EXPECT_GT(CompareWithReference(c.scene, call,
                                   [&](const Sample& p) {
                                     return c.zoom
                                                ? ExpectedZoom(p, c.center, c.length, c.amount)
                                                : ExpectedRadial(p, c.center, c.length, c.amount);
                                   }),
              10);
  }
}

// The short path's sample directions (the pixel's direction turned by a tabulated offset) lie
// within RadialTurnError of libm's sine and cosine of the literal sample angles, over two
// million samples of every direction, arc and count; below the centre the error is the
// shortfall of 2 · 3.1415926535 from 2π, which the bound must take in.
TEST(RayBlurTest, TurnedDirectionsStayWithinTheirBound) {
  std::mt19937 random(5);
  double worstAbove = 0, worstBelow = 0;
  std::vector<double> oc, os;
  for (int i = 0; i < 20000; ++i) {
    const uint32_t length = 2 + random() % 300;
    const double theta = std::atan2(double(1 + random() % 400), double(1 + random() % 200));
    const double a = (theta / 2.0) / length;
    const uint32_t n = 1 + random() % length;
    const int32_t dx = int32_t(random() % 6001) - 3000, dy = int32_t(random() % 6001) - 3000;
    if (dx == 0 && dy == 0) continue;
    oc.resize(n);
    os.resize(n);
    fx::RadialOffsets(theta, a, n, oc.data(), os.data());
    const double rho = std::sqrt(double(int64_t{dx} * dx + int64_t{dy} * dy));
    const double inverse = 1.0 / rho, dc = dx * inverse, ds = dy * inverse;
    const double start = fx::RadialStart(a, dx, dy, n), step = theta / n;
    for (uint32_t k = 0; k < n; k += 1 + n / 100) {
      double c, s, lc, ls;
      fx::RadialTurn(dc, ds, oc[k], os[k], &c, &s);
      ::sincos(start + step * k, &ls, &lc);
      const double error = std::max(std::abs(c - lc), std::abs(s - ls));
      ASSERT_LE(error, fx::RadialTurnError(dy)) << dx << "," << dy << " n " << n << " k " << k;
      (dy < 0 ? worstBelow : worstAbove) = std::max(dy < 0 ? worstBelow : worstAbove, error);
    }
  }
  EXPECT_LT(worstAbove, fx::kDirectionError);
  EXPECT_GT(worstBelow, 1e-10);
}

}  // namespace
