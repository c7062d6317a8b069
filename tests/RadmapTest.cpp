// Free radial bend: entry checks, the centre's neighbourhood worked by hand, and whole pictures
// (sliding and whole-rectangle windows, every outside mode, with and without fold handling)
// against the steps written out from their description.
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

struct Args {
  std::vector<int32_t> curve{0, -1000, 500};
  int64_t count = -1;  // -1: the curve's length
  uint32_t amount = 3;
  POINT center{6, 5};
  uint32_t fillColor = 0x2080C0, flags = 1;
};

Call RadBend(const Args& a, bool nullCurve = false) {
  return [=](BitmapRecord* b) {
    const uint32_t count = a.count < 0 ? uint32_t(a.curve.size()) : uint32_t(a.count);
    return Fx_FreeRadBendBitmap(b, nullCurve ? nullptr : a.curve.data(), count, a.amount, a.center,
                                a.fillColor, a.flags);
  };
}

TEST(RadmapTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER, out = ERROR_POINT_OUT_OF_RANGE;
  CheckEntryCases({
      {"unallocated", [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; }, RadBend({}),
       ERROR_NO_BITMAP},
      {"no curve values before amount 0", nullptr, RadBend({.count = 0, .amount = 0}), bad},
      {"null curve", nullptr, RadBend({}, true), bad},
      {"amount 0 before the rest", nullptr,
       RadBend({.amount = 0, .center = {99, 99}, .flags = 0x33}), SUCCESS, kNone},
      {"centre before flags", nullptr, RadBend({.center = {14, 0}, .flags = 0x20}), out},
      {"centre one pixel outside", nullptr, RadBend({.center = {-1, 10}}), SUCCESS, kSome},
      {"fold field 0x20", nullptr, RadBend({.flags = 0x20}), bad},
      {"outside mode 3", nullptr, RadBend({.flags = 0x13}), bad},
      {"bits 8-31 not examined", nullptr, RadBend({.flags = 0xFFFFFF12}), SUCCESS, kSome},
  });
}

// The steps written out: the profile over the largest distance from the centre (measured from
// 0), the window of 2·amount + 1 rows around the output row or the rectangle's rows, the
// displaced distance on the same ray, the outside modes and the centre rule.
std::vector<uint32_t> LiteralRadBend(const Snapshot& s, BitmapRecord* bitmap, const RECT& rc,
                                     const Args& a) {
  const int64_t cx = a.center.x, cy = a.center.y;
  const int64_t wr = rc.right - rc.left, hr = rc.bottom - rc.top;
  const int64_t dxMax = std::max(cx, wr - cx), dyMax = std::max(cy, hr - cy);
  const int64_t n = int64_t(std::ceil(std::sqrt(double(dxMax * dxMax + dyMax * dyMax))));
  const int32_t count = int32_t(a.curve.size());
  std::vector<double> table(n);
  for (int64_t i = 0; i < n; ++i) {
    const double p = double(i) / (n - 1) * (count - 1);
    const int32_t i0 = int32_t(p);
    const double t = p - i0;
    table[i] =
        ((1 - t) * a.curve[i0] + t * a.curve[std::min(count - 1, i0 + 1)]) / 1000.0 * a.amount;
  }
  const bool whole = 2 * int64_t{a.amount} + 1 >= hr;
  const int32_t rows = whole ? int32_t(hr) : int32_t(2 * a.amount + 1), half = rows / 2;
  const std::vector<uint32_t> fill = ReferenceFill(bitmap, a.fillColor);
  const uint32_t mode = a.flags & 0x0F;
  const bool fold = (a.flags & 0x10) != 0;
  const int32_t samples = s.step >= 3 ? 3 : 1;
  std::vector<uint32_t> out = s.All();
  for (int32_t y = rc.top; y < rc.bottom; ++y) {
    const int32_t w = whole ? y - rc.top : half;
    const auto tableRow = [&](int32_t i) {
      return whole ? rc.top + i : std::clamp(y - half + i, 0, s.height - 1);
    };
    const auto put = [&](int32_t x, int32_t k, uint32_t v) {
      out[(size_t(y) * s.width + x) * s.step + k] = v;
    };
    const auto paint = [&](int32_t x) {
      for (int32_t k = 0; k < samples; ++k) put(x, k, fill[k]);
    };
    for (int32_t x = rc.left; x < rc.right; ++x) {
      const int64_t dx = x - cx, dy = y - cy;
      const double r = std::sqrt(double(dx * dx + dy * dy));
      const int64_t i0 = std::min(n - 1, int64_t(r));
      double t = r - i0, u = 1 - t;
      int64_t i1 = i0 + 1;
      if (i1 >= n) i1 = n - 1, t = 1, u = 0;
      const double theta = std::atan2(double(dy), double(dx));
      double rp = table[i0] * u + table[i1] * t + r;
      if (rp <= 0 && fold) {
        if (mode == 2) continue;
        if (mode == 0) {
          if (dy == 0 && dx == 0) continue;
          if (dy == 0 && dx == 1 && x != rc.left) paint(x - 1);
          if (dy == 0 && dx == -1 && x != rc.right - 1) paint(x + 1);
          paint(x);
          continue;
        }
        rp = 0;
      }
      double sx = cx + rp * std::cos(theta), oy = rp * std::sin(theta) - dy;
      double row = w + oy;
      const bool inside = rc.left <= sx && sx < rc.right &&
                          (whole ? 0 <= row && row < rows : rc.top <= y + oy && y + oy < rc.bottom);
      if (!inside) {
        if (mode == 0) paint(x);
        if (mode != 1) continue;
        if (sx >= rc.right) sx = rc.right - 1;
        if (sx < rc.left) sx = rc.left;
        if (whole && row >= rows)
          row = rows - 1;
        else if (whole && row < 0)
          row = 0;
        else if (!whole && y + oy >= rc.bottom)
          row = w + double(rc.bottom - 1 - y);
        else if (!whole && y + oy < rc.top)
          row = w + double(rc.top - y);
      }
      for (int32_t k = 0; k < samples; ++k)
        put(x, k, uint32_t(ReferenceBilinear(s, tableRow, rows, sx, row, k)));
    }
  }
  return out;
}

TEST(RadmapTest, PicturesMatchTheLiteralSteps) {
  struct Case {
    const char* what;
    Scene scene;
    Args args;
  };
  // clang-format off
  const Case cases[] = {
      {"sliding, 8-bit colour", {22, 18, 24, ORDER_BGR, {}, 3},
       {.curve = {0, -1000, -400, 300}, .amount = 3, .center = {10, 8}}},
      {"sliding, pulling through the centre", {20, 16, 16, ORDER_GRAY, {}, 4},
       {.curve = {-1000, 0}, .amount = 4, .center = {9, 9}}},
      {"whole window in a region", {18, 14, 48, ORDER_BGR, {3, 2, 16, 9}, 5},
       {.curve = {200, -800, 600}, .amount = 5, .center = {8, 5}}},
      {"whole window, one curve value", {14, 12, 32, ORDER_BGR},
       {.curve = {-400}, .amount = 20, .center = {4, 7}}},
  };
  // clang-format on
  for (const auto& c : cases)
    for (uint32_t flags : {0x00u, 0x01u, 0x02u, 0x10u, 0x11u, 0x12u}) {
      SCOPED_TRACE(::testing::Message() << c.what << " flags " << flags);
      Args args = c.args;
      args.flags = flags;
      const int32_t changed = CompareWithReference(
          c.scene, RadBend(args),
          FromModel([&](auto& s, auto* b, auto& rc) { return LiteralRadBend(s, b, rc, args); }));
      EXPECT_GT(changed, 10);
    }
}

}  // namespace
