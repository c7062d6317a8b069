// Free plane bend: entry checks, the profile on hand-worked curves, a hand-worked row, and whole
// pictures (rows, columns, both; a region starting right of column 0) against the passes
// written out from their description.
#include <cmath>

#include "Common/XYRemap.h"
#include "EffectCheck.h"

namespace {

using namespace fxtest;

struct Args {
  std::vector<int32_t> curve{0, 1000, -300};
  int64_t count = -1;  // -1: the curve's length
  uint32_t amount = 4, fillColor = 0x406080, flags = 0x10;
};

Call PlaneBend(const Args& a, bool nullCurve = false) {
  return [=](BitmapRecord* b) {
    const uint32_t count = a.count < 0 ? uint32_t(a.curve.size()) : uint32_t(a.count);
    return Fx_FreePlaneBendBitmap(b, nullCurve ? nullptr : a.curve.data(), count, a.amount,
                                  a.fillColor, a.flags);
  };
}

TEST(XYRemapTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"null bitmap", nullptr, [](BitmapRecord*) { return PlaneBend({})(nullptr); },
       ERROR_NO_BITMAP},
      {"struct size before allocation",
       [](BitmapRecord* b) {
         b->StructSize = 0;
         b->Flags &= ~FLAG_ALLOCATED;
       },
       PlaneBend({}), ERROR_INV_STRUCT_SIZE},
      {"unallocated before flags", [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; },
       PlaneBend({.flags = 0}), ERROR_NO_BITMAP},
      {"no direction", nullptr, PlaneBend({.flags = 0x01}), bad},
      {"bits 8-15", nullptr, PlaneBend({.flags = 0x110}), bad},
      {"outside mode 3", nullptr, PlaneBend({.flags = 0x13}), bad},
      {"flags before the curve", nullptr, PlaneBend({.flags = 0}, true), bad},
      {"null curve", nullptr, PlaneBend({}, true), bad},
      {"no curve values", nullptr, PlaneBend({.count = 0}), bad},
      {"high bits not examined", nullptr, PlaneBend({.flags = 0x10011}), SUCCESS, kSome},
      {"zero curve changes nothing", nullptr,
       PlaneBend({.curve = {0}, .amount = 99, .flags = 0x31}), SUCCESS, kNone},
  });
}

TEST(XYRemapTest, ProfileResamplesTheCurve) {
  struct Case {
    std::vector<int32_t> curve;
    uint32_t amount;
    std::vector<double> table;
  };
  const Case cases[] = {
      // p = i/4 × 2 = 0, 0.5, 1, 1.5, 2: 0, 500, 1000, 350, -300 thousandths of 100.
      {{0, 1000, -300}, 100, {0, 50, 100, 35, -30}},
      // One value: the same shift everywhere.
      {{-250}, 8, {-2, -2, -2}},
      // p = i/2 × 4 = 0, 2, 4: the entries themselves, the last one without a neighbour.
      {{10, 20, 30, 40, 50}, 1000, {10, 30, 50}},
      // The amount is unsigned: 2^32 - 1 pixels per 1000.
      {{1000, 1000}, 0xFFFFFFFFu, {4294967295.0, 4294967295.0}},
  };
  for (const auto& c : cases) {
    std::vector<double> table(c.table.size());
    fx::ResampleCurve(c.curve.data(), int32_t(c.curve.size()), c.amount, table.data(),
                      int32_t(table.size()));
    for (size_t i = 0; i < table.size(); ++i) EXPECT_DOUBLE_EQ(table[i], c.table[i]) << i;
  }
}

// A 5-pixel row 0, 40, 80, 120, 160 bent by 0 .. 2 pixels (curve 0, 1000, amount 2): sources at
// 0, 1.5, 3, 4.5 and 6; the last one lies beyond the right edge.
TEST(XYRemapTest, HandWorkedRow) {
  struct Case {
    uint32_t mode;
    uint8_t last;
  };
  // Fill 0x000003 on gray: (0 + 5·0 + 2·3 + 4) / 8 = 1, where the unrounded mix would give 0.
  for (const Case& c : {Case{0, 1}, Case{1, 160}, Case{2, 160}}) {
    TestBitmap b(5, 2, 8, ORDER_GRAY);
    std::vector<uint8_t> rows = WorkingRows(b.get());
    const size_t rowBytes = rows.size() / 2;
    for (size_t y = 0; y < 2; ++y)
      for (size_t x = 0; x < 5; ++x) rows[y * rowBytes + x] = uint8_t(40 * x);
    WriteWorkingRows(b.get(), rows);
    ASSERT_EQ(PlaneBend({.curve = {0, 1000}, .amount = 2, .fillColor = 3, .flags = 0x10 | c.mode})(
                  b.get()),
              SUCCESS);
    // 4.5: columns 4 and 5 clamp to the last column, which is returned whole.
    const uint8_t expected[5] = {0, 60, 120, 160, c.last};
    const std::vector<uint8_t> after = WorkingRows(b.get());
    for (size_t y = 0; y < 2; ++y)
      for (size_t x = 0; x < 5; ++x)
        EXPECT_EQ(after[y * rowBytes + x], expected[x]) << "mode " << c.mode << " x " << x;
  }
}

// The passes written out: a pixel of the rectangle takes its own line at x + table[x - left],
// tested against the rectangle's right edge and column 0 and interpolated with the right edge as
// the last pixel. Columns are the same on the transposed picture.
class LiteralPlaneBend {
 public:
  LiteralPlaneBend(const Snapshot& s, BitmapRecord* bitmap, const Args& a) : s_(s), a_(a) {
    for (int32_t y = 0; y < s.height; ++y)
      for (int32_t x = 0; x < s.width; ++x)
        for (int32_t k = 0; k < s.step; ++k) image_.push_back(s.at(x, y, k));
    int64_t r = a.fillColor & 255, g = (a.fillColor >> 8) & 255, b = (a.fillColor >> 16) & 255;
    if (s.bits == 16) r <<= 8, g <<= 8, b <<= 8;
    if (bitmap->Order == ORDER_GRAY) r = g = b = (b + 5 * g + 2 * r + 4) / 8;
    fill_[0] = b, fill_[1] = g, fill_[2] = r;
  }

  std::vector<uint32_t> Run(const RECT& rc) {
    const uint32_t direction = a_.flags & 0xF0;
    if (direction != 0x20) Pass(rc, false);
    if (direction != 0x10) Pass(RECT{rc.top, rc.left, rc.bottom, rc.right}, true);
    return image_;
  }

 private:
  // Sample k of pixel (x, y), where (x, y) are transposed coordinates when `columns`.
  uint32_t& At(bool columns, int64_t x, int64_t y, int32_t k) {
    if (columns) std::swap(x, y);
    return image_[(size_t(y) * s_.width + size_t(x)) * s_.step + k];
  }

  void Pass(const RECT& rc, bool columns) {
    const int32_t n = rc.right - rc.left, count = int32_t(a_.curve.size());
    std::vector<double> table(n);
    for (int32_t i = 0; i < n; ++i) {
      const double p = double(i) / (n - 1) * (count - 1);
      const int32_t i0 = int32_t(p);
      const double t = p - i0;
      table[i] =
          ((1 - t) * a_.curve[i0] + t * a_.curve[std::min(count - 1, i0 + 1)]) / 1000.0 * a_.amount;
    }
    const int32_t lines = columns ? s_.width : s_.height, length = columns ? s_.height : s_.width;
    const int32_t samples = s_.step >= 3 ? 3 : 1, max = s_.max();
    for (int32_t y = rc.top; y < rc.bottom && y < lines; ++y) {
      std::vector<uint32_t> line;
      for (int32_t x = 0; x < length; ++x)
        for (int32_t k = 0; k < s_.step; ++k) line.push_back(At(columns, x, y, k));
      for (int32_t x = rc.left; x < rc.right; ++x) {
        const double sx = x + table[x - rc.left];
        const uint32_t mode = a_.flags & 0x0F;
        if ((sx >= rc.right || sx < 0) && mode != 1) {
          for (int32_t k = 0; k < samples && mode == 0; ++k) At(columns, x, y, k) = fill_[k];
          continue;
        }
        int32_t ix = int32_t(sx), ix1 = ix + 1;
        const double fx = sx - ix;
        if (ix1 >= rc.right)
          ix = ix1 = rc.right - 1;
        else if (ix1 <= 0)
          ix = ix1 = 0;
        for (int32_t k = 0; k < samples; ++k) {
          const int32_t p0 = line[ix * s_.step + k], p1 = line[ix1 * s_.step + k];
          const int64_t v = int64_t(p0 + (p1 - p0) * fx);
          At(columns, x, y, k) = uint32_t(std::clamp<int64_t>(v, 0, max));
        }
      }
    }
  }

  const Snapshot& s_;
  Args a_;
  std::vector<uint32_t> image_;
  uint32_t fill_[3];
};

TEST(XYRemapTest, PicturesMatchTheLiteralPasses) {
  struct Case {
    const char* what;
    Scene scene;
    Args args;
  };
  // clang-format off
  const Case cases[] = {
      {"rows, 8-bit colour", {16, 9, 24, ORDER_BGR, {}, 3},
       {.curve = {0, 1000, -1000, 400}, .amount = 3, .flags = 0x10}},
      {"columns, 16-bit gray", {9, 14, 16, ORDER_GRAY, {}, 4},
       {.curve = {-500, 800}, .amount = 5, .flags = 0x20}},
      {"both in a region right of column 0", {15, 12, 48, ORDER_BGR, {4, 2, 13, 11}, 5},
       {.curve = {300, -1000, 700, 0}, .amount = 6, .flags = 0xF0}},
      {"both, smooth 32-bit, large reach", {12, 10, 32, ORDER_BGR},
       {.curve = {0, 2000, -3000}, .amount = 9, .flags = 0x30}},
  };
  // clang-format on
  for (const auto& c : cases)
    for (uint32_t mode : {0u, 1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << c.what << " mode " << mode);
      Args args = c.args;
      args.flags |= mode;
      const int32_t changed =
          CompareWithReference(c.scene, PlaneBend(args), FromModel([&](auto& s, auto* b, auto& rc) {
                                 return LiteralPlaneBend(s, b, args).Run(rc);
                               }));
      EXPECT_GT(changed, 10);
    }
}

}  // namespace
