// The pencil host operations against their definitions in host/Host.h (the neighbourhood filters
// counted out directly, the pressure curve and the strokes on hand-worked rows, the grain by its
// structure), and the pencil combine operations of HostCombineBitmaps on hand-worked samples.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

class HostPencilTest : public HostFixture {};

// A gray or colour bitmap whose working samples are `v` (one row per inner vector).
void SetRows(BitmapRecord* b, const std::vector<std::vector<uint32_t>>& v) {
  const Snapshot s = Snapshot::Of(b);
  std::vector<uint8_t> rows = s.rows;
  for (size_t y = 0; y < v.size(); ++y)
    for (size_t i = 0; i < v[y].size(); ++i) {
      uint8_t* p = rows.data() + y * s.rowBytes;
      if (s.bits == 16) {
        const uint16_t w = static_cast<uint16_t>(v[y][i]);
        std::memcpy(p + 2 * i, &w, 2);
      } else {
        p[i] = static_cast<uint8_t>(v[y][i]);
      }
    }
  WriteWorkingRows(b, rows);
}
std::vector<uint32_t> Row(BitmapRecord* b, int32_t y) {
  const Snapshot s = Snapshot::Of(b);
  std::vector<uint32_t> out;
  for (int32_t x = 0; x < s.width; ++x)
    for (int32_t k = 0; k < s.step; ++k) out.push_back(s.at(x, y, k));
  return out;
}

// Filter A (maximum) or B (mean) of sample k at (x, y), counted over the clipped square.
uint32_t Neighbourhood(const Snapshot& s, int32_t x, int32_t y, int32_t k, uint32_t size,
                       bool maximum) {
  const int32_t r = 1 + static_cast<int32_t>(size / 10);
  uint64_t sum = 0, n = 0;
  uint32_t top = 0;
  for (int32_t v = std::max(0, y - r); v <= std::min(s.height - 1, y + r); ++v)
    for (int32_t u = std::max(0, x - r); u <= std::min(s.width - 1, x + r); ++u) {
      const uint32_t p = s.at(u, v, k);
      top = std::max(top, p);
      sum += p;
      ++n;
    }
  return maximum ? top : static_cast<uint32_t>((sum + n / 2) / n);
}

TEST_F(HostPencilTest, FiltersTakeTheNeighbourhoodsMaximumAndMean) {
  struct Case {
    const char* what;
    Scene scene;
    uint32_t size;
  };
  // clang-format off
  const Case cases[] = {
      {"gray8, r 1", {13, 11, 8, ORDER_GRAY, {}, 1}, 0},
      {"bgr24, r 2, region", {14, 10, 24, ORDER_BGR, {3, 2, 12, 9}, 2}, 19},
      {"bgr32, r 3, view 6", {12, 13, 32, ORDER_BGR, {}, 3, 6}, 25},
      {"rgb48, r 6", {11, 12, 48, ORDER_RGB, {}, 4}, 55},
      {"gray16, r 11 beyond the picture", {7, 9, 16, ORDER_GRAY, {1, 1, 6, 8}, 5}, 100},
      {"bgr64, r 2, smooth", {15, 9, 64, ORDER_BGR, {}, 0, 5}, 10},
      // Taller than a band of rows: the rows carried from band to band.
      {"bgr24, r 11, 150 rows", {5, 150, 24, ORDER_BGR, {}, 6}, 100},
      {"gray8, r 1, 130 rows, region", {3, 130, 8, ORDER_GRAY, {0, 5, 3, 120}, 7}, 5},
  };
  // clang-format on
  for (const Case& c : cases)
    for (const bool maximum : {true, false})
      for (const int32_t threads : {1, kManyThreads}) {
        SCOPED_TRACE(std::string(c.what) + (maximum ? " A" : " B") + ", threads " +
                     std::to_string(threads));
        const ThreadSetting setting(threads);
        const auto filter = [&](BitmapRecord* b) {
          return maximum ? HostPencilFilterA(b, c.size) : HostPencilFilterB(b, c.size);
        };
        const int32_t changed = CompareWithReference(c.scene, filter, [&](const Sample& p) {
          return Neighbourhood(p.s, p.x, p.y, p.k, c.size, maximum);
        });
        EXPECT_GT(changed, 10);
      }
  TestBitmap b(4, 3, 24);
  EXPECT_EQ(HostPencilFilterA(b.get(), 101), ERROR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(HostPencilFilterB(b.get(), 101), ERROR_HOST_BAD_ARGUMENT);
}

TEST_F(HostPencilTest, PressureBendsTheInk) {
  // ink i = max - s becomes max (i / max)^(500 / value), rounded half up.
  struct Case {
    uint32_t value, in, out;
  };
  const Case cases[] = {
      {500, 77, 77},     // power 1
      {1000, 191, 127},  // i 64: sqrt(64 * 255) = 127.75 -> 128
      {1000, 0, 0},      // i 255 stays
      {1000, 255, 255},  // no ink stays paper
      {250, 127, 191},   // i 128: 128^2 / 255 = 64.25 -> 64
      {0, 3, 255},       // no pressure: paper
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    TestBitmap b(1, 1, 8, ORDER_GRAY);
    SetRows(b.get(), {{c.in}});
    ASSERT_EQ(HostPencilAdjust(b.get(), c.value, 0), SUCCESS);
    EXPECT_EQ(Row(b.get(), 0), std::vector<uint32_t>{c.out});
  }
  // 16 bits, colour, a fourth sample kept: i 65535 - 16383 = 49152 at power 2:
  // 49152^2 / 65535 = 36864.56 -> 36865.
  TestBitmap deep(1, 1, 64);
  SetRows(deep.get(), {{16383, 65535, 0, 1234}});
  ASSERT_EQ(HostPencilAdjust(deep.get(), 250, 0), SUCCESS);
  EXPECT_EQ(Row(deep.get(), 0), (std::vector<uint32_t>{65535 - 36865, 65535, 0, 1234}));
  EXPECT_EQ(HostPencilAdjust(deep.get(), 1001, 0), ERROR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(HostPencilAdjust(deep.get(), 500, 1), ERROR_HOST_BAD_ARGUMENT);
}

TEST_F(HostPencilTest, StrokesAverageAlongTheDirection) {
  struct Case {
    const char* what;
    int32_t amount, angle;
    std::vector<std::vector<uint32_t>> in, out;  // gray rows
  };
  // clang-format off
  const std::vector<Case> cases = {
      // Offsets -1, 0, 1 along x, the edge column repeated: (0 + 0 + 30 + 1) / 3 = 10, ...
      {"along x", 3, 0, {{0, 30, 60, 90}}, {{10, 30, 60, 80}}},
      {"half a turn is the same line", -3, 18000, {{0, 30, 60, 90}}, {{10, 30, 60, 80}}},
      // n 2: t = -0.5, 0.5 give offsets 0 and 1; (60 + 90 + 1) / 2 = 75.
      {"even length", 2, 0, {{0, 30, 60, 90}}, {{15, 45, 75, 90}}},
      {"down a column", 3, 9000, {{0}, {30}, {60}, {90}}, {{10}, {30}, {60}, {80}}},
      // 45 degrees rises to the right: (x, y) averages (x - 1, y + 1), itself and (x + 1, y - 1);
      // the centre (60 + 30 + 90 + 1) / 3 = 60, the top right (30 + 90 + 90 + 1) / 3 = 70.
      {"rising diagonal", 3, 4500, {{0, 0, 90}, {0, 30, 0}, {60, 0, 0}},
       {{0, 30, 70}, {20, 60, 30}, {50, 20, 0}}},
      {"length 1 changes nothing", 1, 0, {{0, 30, 60, 90}}, {{0, 30, 60, 90}}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t h = int32_t(c.in.size()), w = int32_t(c.in[0].size());
    TestBitmap b(w, h, 8, ORDER_GRAY);
    SetRows(b.get(), c.in);
    ASSERT_EQ(HostDirectionalFilter(b.get(), c.amount, c.angle, 0), SUCCESS);
    for (int32_t y = 0; y < h; ++y) EXPECT_EQ(Row(b.get(), y), c.out[y]) << "row " << y;
  }
  TestBitmap b(4, 3, 24);
  EXPECT_EQ(HostDirectionalFilter(b.get(), 5, 0, 2), ERROR_HOST_BAD_ARGUMENT);
}

TEST_F(HostPencilTest, GrainRunsInSegmentsAlongTheStrokes) {
  // On a flat picture the mean is the picture; the grain gives each line (a row at angle 0, a
  // column at 9000) segments of n pixels of one ink factor in [0.5, 1.5), staggered by line.
  const uint32_t flat = 100, ink = 255 - flat;
  const int32_t n = 6, w = 40, h = 30;
  for (const int32_t angle : {0, 9000}) {
    SCOPED_TRACE(angle);
    TestBitmap b(w, h, 8, ORDER_GRAY);
    SetRows(b.get(), std::vector<std::vector<uint32_t>>(h, std::vector<uint32_t>(w, flat)));
    ASSERT_EQ(HostDirectionalFilter(b.get(), n, angle, 1), SUCCESS);
    const Snapshot s = Snapshot::Of(b.get());
    std::set<uint32_t> values, firstRuns;
    for (int32_t line = 0; line < (angle ? w : h); ++line) {
      const auto at = [&](int32_t i) { return angle ? s.at(line, i, 0) : s.at(i, line, 0); };
      std::vector<int32_t> runs{1};
      for (int32_t i = 1; i < (angle ? h : w); ++i) {
        if (at(i) == at(i - 1))
          ++runs.back();
        else
          runs.push_back(1);
      }
      firstRuns.insert(uint32_t(runs.front()));
      // Inner runs are whole segments (two equal neighbours may merge into 2n).
      for (size_t r = 1; r + 1 < runs.size(); ++r) EXPECT_EQ(runs[r] % n, 0) << "line " << line;
      for (int32_t i = 0; i < (angle ? h : w); ++i) {
        const uint32_t v = at(i);
        values.insert(v);
        EXPECT_GE(v, 255 - uint32_t(std::floor(ink * 1.5 + 0.5)));
        EXPECT_LE(v, 255 - uint32_t(std::floor(ink * 0.5 + 0.5)));
      }
    }
    EXPECT_GT(values.size(), 10u) << "the factors vary";
    EXPECT_GT(firstRuns.size(), 2u) << "segments are staggered";
  }
  // White paper takes no grain.
  TestBitmap white(9, 7, 48);
  SetRows(white.get(), std::vector<std::vector<uint32_t>>(7, std::vector<uint32_t>(27, 65535)));
  ASSERT_EQ(HostDirectionalFilter(white.get(), 4, 3000, 1), SUCCESS);
  for (int32_t y = 0; y < 7; ++y) EXPECT_EQ(Row(white.get(), y), std::vector<uint32_t>(27, 65535));
}

TEST_F(HostPencilTest, PencilCombinesBlendEachSample) {
  struct Case {
    uint32_t operation;
    int32_t destinationBpp, sourceBpp;
    std::vector<uint32_t> destination, source, out;
  };
  // clang-format off
  const Case cases[] = {
      // screen: 255 - (55 * 155 + 127) / 255 = 222; 255 - (155 * 0 + 127) / 255 = 255.
      {HOST_COMBINE_SCREEN, 24, 24, {200, 100, 0}, {100, 255, 50}, {222, 255, 50}},
      // multiply by the negative: (200 * 155 + 127) / 255 = 122.
      {HOST_COMBINE_MULTIPLY_NEGATIVE, 24, 24, {200, 100, 0}, {100, 255, 50}, {122, 0, 0}},
      // multiply: (200 * 100 + 127) / 255 = 78, (100 * 255 + 127) / 255 = 100.
      {HOST_COMBINE_MULTIPLY, 24, 24, {200, 100, 0}, {100, 255, 50}, {78, 100, 0}},
      // 16 bits: (40000 * 30000 + 32767) / 65535 = 18310.9 -> 18311.
      {HOST_COMBINE_MULTIPLY, 48, 48, {40000, 0, 65535}, {30000, 9, 65535}, {18311, 0, 65535}},
      // A gray destination blends with the source's level (20 + 5 * 100 + 2 * 200 + 4) / 8 = 115:
      // 255 - (55 * 140 + 127) / 255 = 225.
      {HOST_COMBINE_SCREEN, 8, 24, {200}, {20, 100, 200}, {225}},
      // An 8-bit source on 16 bits is scaled by 257: 65535 - 25700 = 39835 of negative.
      {HOST_COMBINE_MULTIPLY_NEGATIVE, 48, 24, {65535, 1000, 0}, {100, 0, 255}, {39835, 1000, 0}},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.operation);
    TestBitmap d(1, 1, c.destinationBpp, c.destinationBpp == 8 ? ORDER_GRAY : ORDER_BGR);
    TestBitmap s(1, 1, c.sourceBpp, c.sourceBpp == 8 ? ORDER_GRAY : ORDER_BGR);
    SetRows(d.get(), {c.destination});
    SetRows(s.get(), {c.source});
    ASSERT_EQ(HostCombineBitmaps(d.get(), 0, 0, 1, 1, s.get(), 0, 0, c.operation), SUCCESS);
    EXPECT_EQ(Row(d.get(), 0), c.out);
  }
}

}  // namespace
