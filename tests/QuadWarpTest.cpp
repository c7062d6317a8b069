// Perspective: entry checks, a hand-worked column, the exact weight total of the box filter,
// and whole pictures against the two passes written out literally (the box filter walking every
// source position, one 1.0 at a time).
#include <algorithm>
#include <array>
#include <cmath>

#include "Common/QuadWarp.h"
#include "EffectCheck.h"

namespace {

using namespace fxtest;

struct Args {
  std::array<int32_t, 8> corners{0, 0, 12, 0, 0, 10, 12, 10};
  uint32_t fillColor = 0x3060C0, flags = 1;
};

Call Perspective(const Args& a, bool nullCorners = false) {
  return [=](BitmapRecord* b) {
    POINT points[4];
    for (int i = 0; i < 4; ++i) points[i] = POINT{a.corners[2 * i], a.corners[2 * i + 1]};
    return Fx_PerspectiveBitmap(b, nullCorners ? nullptr : points, a.fillColor, a.flags);
  };
}

// In orientation 1 (where the corners are measured) a one-row region.
void OneRowRegion(BitmapRecord* b) {
  HostSetOrientation(nullptr, b, BITMAP_STRUCT_SIZE, 1, 0);
  const RECT row{0, 3, 12, 4};
  HostSetRegionRect(b, nullptr, &row, 1);
  HostSetOrientation(nullptr, b, BITMAP_STRUCT_SIZE, 6, 0);
}

TEST(QuadWarpTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"null bitmap", nullptr, [](BitmapRecord*) { return Perspective({})(nullptr); },
       ERROR_NO_BITMAP},
      {"struct size before the corners", StructSize(0), Perspective({}, true),
       ERROR_INV_STRUCT_SIZE},
      {"null corners", nullptr, Perspective({}, true), bad},
      {"x0 = x1", nullptr, Perspective({.corners = {5, 0, 5, 0, 0, 10, 12, 10}}), bad},
      {"y1 = y3", nullptr, Perspective({.corners = {0, 0, 12, 4, 0, 10, 12, 4}}), bad},
      {"order before flags", nullptr,
       Perspective({.corners = {0, 9, 12, 0, 0, 9, 12, 10}, .flags = 0}), bad},
      {"flags 0", nullptr, Perspective({.flags = 0}), bad},
      {"flags 3", nullptr, Perspective({.flags = 3}), bad},
      {"corner one beyond right", nullptr, Perspective({.corners = {0, 0, 13, 0, 0, 10, 12, 10}}),
       bad},
      {"corner above the top", nullptr, Perspective({.corners = {0, -1, 12, 0, 0, 10, 12, 10}}),
       bad},
      {"own corners accepted", nullptr, Perspective({}), SUCCESS, kSome},
      {"one row high changes nothing", OneRowRegion,
       Perspective({.corners = {0, 3, 12, 3, 0, 4, 12, 4}, .flags = 2}), SUCCESS, kNone},
  });
}

// Corners on the rectangle's own corners: the rows are copied, and every column resampled at
// i × (Hp - 1) / (Hp + 0.00005), which squeezes it by a row.
TEST(QuadWarpTest, OwnCornersSqueezeEveryColumnByARow) {
  TestBitmap b(3, 5, 8, ORDER_GRAY);
  const uint8_t column[5] = {0, 100, 200, 250, 250};
  std::vector<uint8_t> rows = WorkingRows(b.get());
  const size_t rowBytes = rows.size() / 5;
  for (int32_t y = 0; y < 5; ++y) std::fill_n(rows.begin() + y * rowBytes, 3, column[y]);
  WriteWorkingRows(b.get(), rows);
  POINT corners[4] = {{0, 0}, {3, 0}, {0, 5}, {3, 5}};
  ASSERT_EQ(Fx_PerspectiveBitmap(b.get(), corners, 0, 1), SUCCESS);
  // 0·(4/5.00005) = 0, 0.79999 → 0 + 100·0.79999, 1.59998 → 100 + 100·0.59998,
  // 2.39998 → 200 + 50·0.39998, 3.19997 → 250.
  const uint8_t expected[5] = {0, 79, 159, 219, 250};
  const std::vector<uint8_t> after = WorkingRows(b.get());
  for (int32_t y = 0; y < 5; ++y)
    for (int32_t x = 0; x < 3; ++x)
      EXPECT_EQ(after[y * rowBytes + x], expected[y]) << x << "," << y;
}

TEST(QuadWarpTest, WeightTotalMatchesAdditionsOneAtATime) {
  for (double start : {0.0, 0.25, 1.0 / 3.0, 0.7, 1.0 - 1e-9, 1.9999999, 3.1415926535}) {
    double loop = start;
    for (int64_t count = 0; count <= 5000; ++count) {
      ASSERT_EQ(fx::AddOnesAsLoop(start, count), loop) << start << " + " << count;
      loop += 1.0;
    }
  }
  // Far along, the rounding at each power of two still agrees.
  double loop = 0.3;
  for (int64_t count = 1; count <= (int64_t{1} << 22); ++count) loop += 1.0;
  EXPECT_EQ(fx::AddOnesAsLoop(0.3, int64_t{1} << 22), loop);
}

// The two passes written out from their description.
class LiteralPerspective {
 public:
  using Pixel = std::array<int64_t, 3>;
  using Line = std::vector<Pixel>;

  LiteralPerspective(const Snapshot& s, BitmapRecord* bitmap, const RECT& rc, const Args& a)
      : s_(s), rc_(rc), a_(a), samples_(s.step >= 3 ? 3 : 1), max_(s.max()) {
    for (int32_t y = 0; y < s.height; ++y) {
      Line row(s.width);
      for (int32_t x = 0; x < s.width; ++x)
        for (int32_t k = 0; k < samples_; ++k) row[x][k] = s.at(x, y, k);
      image_.push_back(row);
    }
    original_ = image_;
    // Fill: a gray bitmap takes the rounded mix in blue; gray and 48/64-bit scale by 257.
    int64_t r = a.fillColor & 255, g = (a.fillColor >> 8) & 255, bl = (a.fillColor >> 16) & 255;
    if (bitmap->Order == ORDER_GRAY) bl = (2 * r + 5 * g + bl + 4) / 8, r = g = 0;
    if (bitmap->Order == ORDER_GRAY || bitmap->BitsPerPixel >= 48) r *= 257, g *= 257, bl *= 257;
    const int64_t mask = s.bits == 16 ? 0xFFFF : 0xFF;
    fill_ = {bl & mask, g & mask, r & mask};
  }

  std::vector<uint32_t> Run() {
    const auto& c = a_.corners;
    const int64_t x0 = c[0], y0 = c[1], x1 = c[2], y1 = c[3], x2 = c[4], y2 = c[5], x3 = c[6],
                  y3 = c[7];
    const int32_t L = rc_.left, T = rc_.top, Wp = rc_.right - rc_.left, Hp = rc_.bottom - rc_.top;
    std::vector<int64_t> length(Wp, -1), start(Wp, -1);
    const double kL = double(x2 - x0) / (Hp - 1), kR = double(x3 - x1) / (Hp - 1);
    for (int32_t t = 0; t < Hp; ++t) {
      const double xl = kL * t + (x0 - L), xr = kR * t + (x1 - L);
      if (t == 0) {
        for (int64_t col = int64_t(std::clamp(xl, 0.0, Wp - 1.0));
             col <= int64_t(std::clamp(std::ceil(xr), 0.0, Wp - 1.0)); ++col)
          length[col] = Hp - 1, start[col] = 0;
      } else {
        const int64_t cl = int64_t(xl), cr = int64_t(std::ceil(xr));
        if (cl >= 0 && cl < Wp) {
          length[cl] = kL >= 0 ? t : Hp - 1 - t;
          start[cl] = kL >= 0 ? 0 : t;
        }
        if (cr >= 0 && cr < Wp) {
          length[cr] = kR >= 0 ? Hp - 1 - t : t;
          start[cr] = kR >= 0 ? t : 0;
        }
      }
      image_[T + t] = Resample(0, image_[T + t], original_[T + t], xl, xr - xl, L, rc_.right, 0, 0);
    }
    const auto slope = [](int64_t ya, int64_t yb, int64_t xa, int64_t xb) {
      return xa == xb ? 1.0 : double(ya - yb) / double(xa - xb);
    };
    const double sL = slope(y0, y2, x0, x2), sT = slope(y1, y0, x1, x0);
    const double sR = slope(y3, y1, x3, x1), sB = slope(y3, y2, x3, x2);
    for (int32_t t = 0; t < Wp; ++t) {
      const double le = sL * t + (y2 - T) - sL * (x2 - L), to = sT * t + (y0 - T) - sT * (x0 - L);
      const double ri = sR * t + (y1 - T) - sR * (x1 - L), bo = sB * t + (y2 - T) - sB * (x2 - L);
      double end = bo, s0 = to;
      if (sL >= 0) end = std::min(end, le);
      if (sR < 0) end = std::min(end, ri);
      if (sL < 0) s0 = std::max(s0, le);
      if (sR >= 0) s0 = std::max(s0, ri);
      Line column(s_.height), before(s_.height);
      for (int32_t y = 0; y < s_.height; ++y)
        column[y] = image_[y][L + t], before[y] = original_[y][L + t];
      column =
          Resample(1, column, before, s0, end - s0 + 0.00005, T, rc_.bottom, length[t], start[t]);
      for (int32_t y = 0; y < s_.height; ++y) image_[y][L + t] = column[y];
    }
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < s_.height; ++y)
      for (int32_t x = 0; x < s_.width; ++x)
        for (int32_t k = 0; k < s_.step; ++k)
          out.push_back(k < samples_ ? uint32_t(image_[y][x][k]) : s_.at(x, y, k));
    return out;
  }

 private:
  // One row (pass 0) or column (pass 1) over the rectangle's positions lo .. hi (exclusive
  // `right`), starting at s0 with span S.
  Line Resample(int pass, const Line& p, const Line& copy, double s0, double S, int32_t L,
                int32_t R, int64_t len, int64_t start) const {
    const int32_t Wp = R - L;
    Line out = p;
    if (S == Wp || (pass == 1 && len < 0)) return out;
    const bool enlarging = S > Wp;
    const int64_t lo = pass == 0 ? L : start + L, hi = pass == 0 ? R : len + start + L + 1;
    int64_t r = lo;
    double w = 1.0;
    for (int32_t i = 0; i < Wp; ++i) {
      const double d = i - s0;
      double src;
      if (pass == 0) {
        src = d * (Wp - 1) / S + L;
      } else if (S == 0) {
        src = double(len + start + L);
        if (d >= 0) s0 = R;
      } else {
        src = d * len / S + start + L;
      }
      const Pixel oc = a_.flags == 2 ? fill_ : copy[L + i];
      const auto value = [&](int64_t j) { return j < lo || j >= hi ? oc : p[j]; };
      if (!(d >= 0 && d < S + 1)) {
        r = int64_t(src);
        out[L + i] = oc;
        continue;
      }
      const int64_t ip = int64_t(src);
      const double f = src - ip;
      if (enlarging) {
        if (src < lo || src >= hi) continue;
        for (int32_t k = 0; k < samples_; ++k)
          out[L + i][k] = int64_t(
              std::min(p[ip][k] * (1 - f) + p[std::min(ip + 1, hi - 1)][k] * f, double(max_)));
        continue;
      }
      Pixel sum{0, 0, 0};
      double total = 0.0;
      for (int64_t j = r; j <= ip; ++j) {
        for (int32_t k = 0; k < samples_; ++k) sum[k] += int64_t(value(j)[k] * w);
        total += w;
        w = 1.0;
        r = j + 1;
      }
      for (int32_t k = 0; k < samples_; ++k) sum[k] += int64_t(value(r)[k] * f);
      total += f;
      w = 1 - f;
      for (int32_t k = 0; k < samples_; ++k)
        out[L + i][k] = total == 0 ? oc[k]
                                   : std::max<int64_t>(
                                         0, int64_t(std::min(sum[k] / total + 0.5, double(max_))));
    }
    return out;
  }

  const Snapshot& s_;
  RECT rc_;
  Args a_;
  int32_t samples_;
  int64_t max_;
  Pixel fill_{};
  std::vector<Line> image_, original_;
};

TEST(QuadWarpTest, PicturesMatchTheLiteralPasses) {
  struct Case {
    const char* what;
    Scene scene;
    std::array<int32_t, 8> corners;
  };
  // clang-format off
  const Case cases[] = {
      {"keystone, 8-bit colour", {12, 10, 24, ORDER_BGR, {}, 5}, {3, 0, 9, 0, 0, 10, 12, 10}},
      {"widening, 16-bit gray", {12, 10, 16, ORDER_GRAY, {}, 6}, {0, 2, 12, 0, 1, 8, 11, 10}},
      {"corner inside, 32-bit", {16, 12, 32, ORDER_BGR, {}, 7}, {0, 0, 16, 0, 0, 12, 9, 7}},
      {"tilted page in a region", {18, 14, 48, ORDER_BGR, {2, 1, 17, 13}, 8},
       {4, 3, 16, 1, 2, 12, 14, 13}},
      {"vertical left edge, smooth", {14, 11, 24, ORDER_BGR}, {0, 0, 14, 3, 0, 11, 10, 9}},
      {"narrow bottom, 8-bit gray", {12, 10, 8, ORDER_GRAY, {}, 9}, {0, 0, 12, 0, 4, 10, 8, 10}},
  };
  // clang-format on
  for (const auto& c : cases)
    for (uint32_t flags : {1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << c.what << " flags " << flags);
      const Args args{c.corners, 0x2050A0, flags};
      const int32_t changed = CompareWithReference(
          c.scene, Perspective(args), FromModel([&](auto& s, auto* b, auto& rc) {
            return LiteralPerspective(s, b, rc, args).Run();
          }));
      EXPECT_GT(changed, 10);
    }
}

}  // namespace
