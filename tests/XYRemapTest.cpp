// Free plane bend: entry checks, the profile on hand-worked curves, and hand-worked rows,
// columns, both, and a region starting right of column 0.
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

// Pixels 0, 40, 80, 120, 160 along the bent direction, bent by 0 .. 2 pixels (curve 0, 1000,
// amount 2 over 5 positions: 0, 0.5, 1, 1.5, 2): sources at 0, 1.5, 3, 4.5 and 6. 4.5 clamps
// both columns to the last one; 6 lies beyond the edge. The fill 0x000003 on gray is
// (0 + 5·0 + 2·3 + 4) / 8 = 1, where the unrounded mix would give 0.
TEST(XYRemapTest, HandWorkedLines) {
  struct Case {
    const char* what;
    uint32_t flags;
    int32_t width, height;
    std::vector<int32_t> curve;
    RECT region;
    std::vector<uint8_t> expected;  // row by row
  };
  const std::vector<uint8_t> ramp = {0, 40, 80, 120, 160};
  // clang-format off
  const std::vector<Case> cases = {
      {"rows, fill", 0x10, 5, 1, {0, 1000}, {}, {0, 60, 120, 160, 1}},
      {"rows, nearest", 0x11, 5, 1, {0, 1000}, {}, {0, 60, 120, 160, 160}},
      {"rows, keep", 0x12, 5, 1, {0, 1000}, {}, {0, 60, 120, 160, 160}},
      {"columns, fill", 0x20, 1, 5, {0, 1000}, {}, {0, 60, 120, 160, 1}},
      // Both: the rows first, then every column (constant now) keeps its value but the last
      // row, whose source lies below the rectangle.
      {"both, fill", 0x30, 5, 5, {0, 1000}, {},
       {0, 60, 120, 160, 1, 0, 60, 120, 160, 1, 0, 60, 120, 160, 1, 0, 60, 120, 160, 1,
        1, 1, 1, 1, 1}},
      // A region from column 1: the shift of -1 takes column 0, outside the region's bounds
      // but not below 0.
      {"region right of column 0", 0x10, 5, 1, {-1000}, {1, 0, 5, 1}, {0, 0, 40, 80, 120}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestBitmap b(c.width, c.height, 8, ORDER_GRAY);
    std::vector<uint8_t> rows = WorkingRows(b.get());
    const size_t rowBytes = rows.size() / c.height;
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x) rows[y * rowBytes + x] = ramp[c.width > 1 ? x : y];
    WriteWorkingRows(b.get(), rows);
    if (c.region.right > 0) {
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &c.region, 1), SUCCESS);
    }
    ASSERT_EQ(PlaneBend({.curve = c.curve,
                         .amount = c.curve.size() > 1 ? 2u : 1u,
                         .fillColor = 3,
                         .flags = c.flags})(b.get()),
              SUCCESS);
    const std::vector<uint8_t> after = WorkingRows(b.get());
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x)
        EXPECT_EQ(after[y * rowBytes + x], c.expected[y * c.width + x]) << x << "," << y;
  }
}

}  // namespace
