// Free-hand shear: entry checks, the weight table and the blend worked by hand, the column
// direction through orientation 8, and whole pictures against the steps written out.
#include <cmath>
#include <optional>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

struct Args {
  std::vector<int32_t> amplitudes{0, 700, -400};
  std::optional<int32_t> count = std::nullopt;  // the curve's length when not given
  uint32_t amount = 60, fillColor = 0x30A050, flags = 1;
};

Call Shear(const Args& a, bool nullCurve = false) {
  return [=](BitmapRecord* b) {
    return Fx_FreeHandShearBitmap(b, nullCurve ? nullptr : a.amplitudes.data(),
                                  a.count.value_or(int32_t(a.amplitudes.size())), a.amount,
                                  a.fillColor, a.flags);
  };
}

TEST(FreeHandShearTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"amount 101", nullptr, Shear({.amplitudes = {0}, .amount = 101}), bad},
      {"entry 1001", nullptr, Shear({.amplitudes = {0, 1001}}), bad},
      {"entry -2^31", nullptr, Shear({.amplitudes = {INT32_MIN}}), bad},
      {"amount 0 before the curve", nullptr, Shear({.amplitudes = {-1001}, .amount = 0}), SUCCESS,
       kNone},
      {"entries past count not read", nullptr, Shear({.amplitudes = {0, 5000}, .count = 1}),
       SUCCESS, kNone},
      {"count 0", nullptr, Shear({.count = 0}), SUCCESS, kNone},
      {"count -5", nullptr, Shear({.count = -5}), SUCCESS, kNone},
      {"null curve", nullptr, Shear({}, true), bad},
      {"unallocated reaches the host", [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; },
       Shear({}), ERROR_NO_BITMAP},
      {"columns", nullptr, Shear({.flags = 0x10}), SUCCESS, kSome},
  });
}

// A 10-pixel rectangle (half width 5) on 16-bit gray. amplitude 59 at 100 %: s = 59·5/1000 =
// 0.295, weight index trunc(29.5) + 100 = 129: w0 = trunc(10000 × 0.29) = 2900 and
// w1 = trunc(10000 × 0.71) = 7100, j = x. amplitude 1000 at 100 %: s = 5, index 100: w0 = 0,
// w1 = 10000, j = x - 5, so the pixel takes column x - 4 (blended from x - 5 and x - 4).
TEST(FreeHandShearTest, WeightsAndBlendByHand) {
  struct Case {
    int32_t amplitude;
    uint32_t flags;
    std::vector<uint32_t> expected;  // per column of the row 65535, 0, 0, ..., 0, 1000
  };
  const std::vector<Case> cases = {
      // 2900·65535 / 10000 = 19005; columns 1 .. 7: 0; column 8: 7100·1000 / 10000 = 710;
      // column 9 (j = W - 1) is limited to the pair of columns 8 and 9 as well.
      {59, 0, {19005, 0, 0, 0, 0, 0, 0, 0, 710, 710}},
      // Columns 0 .. 4 have j < 0 and take the fill (0x000080 on gray: 2·128 / 8 = 32, × 257);
      // columns 5 .. 9 take column x - 4 whole.
      {1000, 0, {8224, 8224, 8224, 8224, 8224, 0, 0, 0, 0, 0}},
      // Keep: columns 0 .. 4 keep their values.
      {1000, 2, {65535, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
      // Edge: j limited to 0, so columns 0 .. 4 blend columns 0 and 1 by w1: 0.
      {1000, 1, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "amplitude " << c.amplitude << " flags " << c.flags);
    TestBitmap b(10, 1, 16, ORDER_GRAY);
    std::vector<uint8_t> rows = WorkingRows(b.get());
    auto* samples = reinterpret_cast<uint16_t*>(rows.data());
    samples[0] = 65535, samples[9] = 1000;
    WriteWorkingRows(b.get(), rows);
    ASSERT_EQ(
        Shear({.amplitudes = {c.amplitude}, .amount = 100, .fillColor = 0x80, .flags = c.flags})(
            b.get()),
        SUCCESS);
    const std::vector<uint8_t> after = WorkingRows(b.get());
    for (int32_t x = 0; x < 10; ++x)
      EXPECT_EQ(reinterpret_cast<const uint16_t*>(after.data())[x], c.expected[x]) << "x " << x;
  }
  // On 8-bit samples the blend divides by 9990: 200 between two 200s stays 200, 255 stays 255.
  TestBitmap b(10, 1, 8, ORDER_GRAY);
  std::vector<uint8_t> rows = WorkingRows(b.get());
  std::fill_n(rows.begin(), 5, 200), std::fill_n(rows.begin() + 5, 5, 255);
  WriteWorkingRows(b.get(), rows);
  ASSERT_EQ(Shear({.amplitudes = {1000}, .amount = 100, .flags = 2})(b.get()), SUCCESS);
  // Columns 5 .. 9 take columns 1 .. 5: 200·10000 / 9990 = 200.2, 255·10000 / 9990 = 255.25.
  const std::vector<uint8_t> expected = {200, 200, 200, 200, 200, 200, 200, 200, 200, 255};
  const std::vector<uint8_t> after = WorkingRows(b.get());
  EXPECT_EQ(std::vector<uint8_t>(after.begin(), after.begin() + 10), expected);
}

// Columns are the rows of orientation 8: a bitmap held in orientation 1 and shifted by columns
// ends like the same bitmap held in orientation 8 and shifted by its rows, and keeps its view.
TEST(FreeHandShearTest, ColumnsAreTheRowsOfOrientationEight) {
  for (uint8_t view : {1, 6}) {
    TestBitmap byColumns(14, 11, 24, ORDER_BGR, view), byRows(14, 11, 24, ORDER_BGR, view);
    byColumns.FillNoise(21), byRows.FillNoise(21);
    HostSetOrientation(nullptr, byRows.get(), BITMAP_STRUCT_SIZE, 8, 0);
    ASSERT_EQ(Shear({.flags = 0x10})(byColumns.get()), SUCCESS);
    ASSERT_EQ(Shear({.flags = 0x10})(byRows.get()), SUCCESS);
    EXPECT_EQ(byColumns->Orientation, view);
    EXPECT_EQ(byRows->Orientation, 8);
    EXPECT_EQ(byColumns.Stored(), byRows.Stored());
  }
}

// The steps written out: the shift per row from the curve, the weights in doubles, the blend of
// columns j and j + 1 (limited to the row) divided by 9990 or 10000, and the outside modes.
std::vector<uint32_t> LiteralShear(const Snapshot& s, BitmapRecord* bitmap, const RECT& rc,
                                   const Args& a) {
  const int32_t rows = rc.bottom - rc.top, count = int32_t(a.amplitudes.size());
  const double halfW = (rc.right - rc.left) / 2.0;
  const uint32_t mode = a.flags & 0x0F, divisor = s.bits == 16 ? 10000 : 9990;
  // The fill pixel: blue, green, red, or (b + 5g + 2r) / 8 for gray; × 257 for 16-bit samples.
  const uint32_t r = a.fillColor & 255, g = (a.fillColor >> 8) & 255, b = (a.fillColor >> 16) & 255;
  uint32_t fill[3] = {b, g, r};
  if (bitmap->Order == ORDER_GRAY) fill[0] = (b + 5 * g + 2 * r) / 8;
  for (uint32_t& f : fill) f = s.bits == 16 ? f * 257 : f;
  const int32_t samples = s.step >= 3 ? 3 : 1;
  std::vector<uint32_t> out = s.All();
  for (int32_t y = rc.top; y < rc.bottom; ++y) {
    const double u = double(y - rc.top) / rows, f = u - int64_t(u);
    const double pos = (count - 1) * f, t = pos - int32_t(pos);
    const int32_t n = int32_t(pos);
    const double curve =
        t == 0 ? a.amplitudes[n] : (1 - t) * a.amplitudes[n] + t * a.amplitudes[n + 1];
    const double shift = a.amount / 100.0 * curve * halfW / 1000.0;
    const double g = (int32_t(100 * (shift - int32_t(shift))) + 100) % 100 / 100.0;
    const uint32_t w0 = uint32_t(10000.0 * g), w1 = uint32_t(10000.0 * (1.0 - g));
    for (int32_t x = rc.left; x < rc.right; ++x) {
      const int32_t j = x - int32_t(shift);
      if ((j > s.width || j < 0) && (mode == 0 || mode == 2)) {
        for (int32_t k = 0; k < samples && mode == 0; ++k)
          out[(size_t(y) * s.width + x) * s.step + k] = fill[k];
        continue;
      }
      const int32_t jc = std::clamp(j, 0, s.width - 2);
      for (int32_t k = 0; k < samples; ++k)
        out[(size_t(y) * s.width + x) * s.step + k] =
            (w0 * s.at(jc, y, k) + w1 * s.at(jc + 1, y, k)) / divisor;
    }
  }
  return out;
}

TEST(FreeHandShearTest, PicturesMatchTheLiteralSteps) {
  struct Case {
    const char* what;
    Scene scene;
    Args args;
  };
  // clang-format off
  const Case cases[] = {
      {"8-bit colour, wavy", {24, 20, 24, ORDER_BGR, {}, 3},
       {.amplitudes = {0, 600, -600, 300, -900, 0}, .amount = 70}},
      {"16-bit gray in a region", {20, 16, 16, ORDER_GRAY, {3, 2, 18, 15}, 4},
       {.amplitudes = {-1000, 1000}, .amount = 45}},
      {"one entry, 32-bit smooth", {17, 9, 32, ORDER_BGR}, {.amplitudes = {-333}, .amount = 100}},
      {"48-bit, small shifts", {15, 12, 48, ORDER_BGR, {0, 1, 15, 12}, 5},
       {.amplitudes = {13, -27, 41, -7}, .amount = 100}},
  };
  // clang-format on
  for (const auto& c : cases)
    for (uint32_t mode : {0u, 1u, 2u, 7u}) {
      SCOPED_TRACE(::testing::Message() << c.what << " mode " << mode);
      Args args = c.args;
      args.flags = mode;
      const int32_t changed = CompareWithReference(
          c.scene, Shear(args),
          FromModel([&](auto& s, auto* b, auto& rc) { return LiteralShear(s, b, rc, args); }));
      EXPECT_GT(changed, 10);
    }
}

}  // namespace
