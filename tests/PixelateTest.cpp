// Pixelate: entry checks and flags codes, hand-computed cells, polar sectors and rings, a direct
// model of both cell shapes over every depth, wide average sums, and the failure paths.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>

#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class PixelateTest : public HostFixture {};

TEST_F(PixelateTest, EntryChecksAndFlagsCodes) {
  struct Case {
    const char* what;
    std::function<void(BitmapRecord*)> spoil;
    int32_t cellWidth, cellHeight;
    uint32_t opacity;
    POINT center;
    uint32_t flags;
    int32_t expected;
    bool unchanged;  // SUCCESS without touching the pixels
  };
  const auto none = [](BitmapRecord*) {};
  const POINT mid{6, 5};
  // A 12 x 10 rectangle in orientation 1.
  const Case cases[] = {
      {"unallocated", [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; }, 4, 4, 100, mid, 0x312,
       ERROR_NO_BITMAP, false},
      {"flag 0x200", [](BitmapRecord* b) { b->Flags |= 0x200; }, 4, 4, 100, mid, 0xA12,
       ERROR_UNSUPPORTED_FLAG, false},
      {"0x912 accepted", none, 3, 4, 100, mid, 0x912, SUCCESS, false},
      {"0x312 refused", none, 3, 4, 100, mid, 0x312, ERROR_INV_PARAMETER, false},
      {"0x412 accepted", none, 3, 4, 100, mid, 0x412, SUCCESS, false},
      {"no size or count bits", none, 3, 4, 100, mid, 0x012, ERROR_INV_PARAMETER, false},
      {"bit 12", none, 3, 4, 100, mid, 0x1A12, ERROR_INV_PARAMETER, false},
      {"bits 20-31 ignored", none, 3, 4, 100, mid, 0xFFF00A12, SUCCESS, false},
      {"shape 0", none, 3, 4, 100, mid, 0xA02, ERROR_INV_PARAMETER, false},
      {"shape 0x30", none, 3, 4, 100, mid, 0xA32, ERROR_INV_PARAMETER, false},
      {"opacity 0 before the colour", none, 3, 4, 0, mid, 0x117, SUCCESS, true},
      {"opacity 0 after the flags", none, 3, 4, 0, mid, 0x312, ERROR_INV_PARAMETER, false},
      {"opacity 0 before the cells", none, 0, -3, 0, POINT{99, 99}, 0xA22, SUCCESS, true},
      {"opacity 101", none, 3, 4, 101, mid, 0xA12, ERROR_INV_PARAMETER, false},
      {"colour 3", none, 3, 4, 100, mid, 0xA13, ERROR_INV_PARAMETER, false},
      {"cellWidth 0", none, 0, 4, 100, mid, 0xA12, ERROR_POINT_OUT_OF_RANGE, false},
      {"cellHeight negative", none, 3, -5, 100, mid, 0xA12, ERROR_POINT_OUT_OF_RANGE, false},
      {"width count 13 > 12", none, 13, 4, 100, mid, 0x912, ERROR_POINT_OUT_OF_RANGE, false},
      {"width count 12", none, 12, 4, 100, mid, 0x912, SUCCESS, false},
      {"height count 11 > 10", none, 3, 11, 100, mid, 0x612, ERROR_POINT_OUT_OF_RANGE, false},
      {"size 1 x 1", none, 1, 1, 100, mid, 0xA12, SUCCESS, true},
      {"size 1 x count 1", none, 1, 1, 100, mid, 0x612, SUCCESS, true},
      {"count 1 x size 1", none, 1, 1, 100, mid, 0x912, SUCCESS, false},
      {"huge sizes are lowered", none, 0x7FFFFFFF, 0x7FFFFFFF, 100, mid, 0xA12, SUCCESS, false},
      {"polar sectors 361", none, 361, 4, 100, mid, 0xA22 ^ 0x300, ERROR_POINT_OUT_OF_RANGE, false},
      {"polar sectors 360", none, 360, 4, 100, mid, 0xA22 ^ 0x300, SUCCESS, false},
      {"polar angle 400 lowered", none, 400, 4, 100, mid, 0xA22, SUCCESS, false},
      {"polar centre right + 1", none, 30, 4, 100, POINT{13, 5}, 0xA22, ERROR_POINT_OUT_OF_RANGE,
       false},
      {"polar centre at right, bottom", none, 30, 4, 100, POINT{12, 10}, 0xA22, SUCCESS, false},
      {"grid ignores the centre", none, 3, 4, 100, POINT{99, 99}, 0xA12, SUCCESS, false},
  };
  for (const auto& c : cases) {
    TestBitmap b(10, 12, 24, ORDER_BGR, 6);  // seen as 12 x 10 in orientation 1
    ASSERT_TRUE(b.ok());
    b.FillNoise(1);
    const auto before = b.Stored();
    c.spoil(b.get());
    EXPECT_EQ(Fx_PixelateBitmap(b.get(), c.cellWidth, c.cellHeight, c.opacity, c.center, c.flags),
              c.expected)
        << c.what;
    EXPECT_EQ(b->Orientation, 6) << c.what;
    b->StructSize = 272;
    b->Flags |= FLAG_ALLOCATED;
    if (c.unchanged || c.expected != SUCCESS) {
      EXPECT_EQ(b.Stored(), before) << c.what;
    } else {
      EXPECT_NE(b.Stored(), before) << c.what;
    }
  }
  EXPECT_EQ(Fx_PixelateBitmap(nullptr, 3, 3, 100, POINT{0, 0}, 0x312), ERROR_NO_BITMAP);
}

// One gray row of ten pixels in three columns (count mode: columns 0-3, 4-6, 7-9), by hand.
TEST_F(PixelateTest, ThreeColumnsOfATenPixelRow) {
  const uint8_t row[10] = {11, 20, 30, 40, 50, 60, 71, 80, 90, 100};
  struct Case {
    uint32_t colour, opacity;
    uint8_t expected[10];
  };
  const Case cases[] = {
      {0, 100, {40, 40, 40, 40, 71, 71, 71, 100, 100, 100}},
      {1, 100, {11, 11, 11, 11, 50, 50, 50, 80, 80, 80}},
      {2, 100, {25, 25, 25, 25, 60, 60, 60, 90, 90, 90}},  // 101/4, 181/3, 270/3
      {0, 50, {25, 30, 35, 40, 60, 65, 71, 90, 95, 100}},  // (50 c + 50 p) / 100
      {2, 30, {15, 21, 28, 35, 53, 60, 67, 83, 90, 97}},   // (30 c + 70 p) / 100
  };
  for (const auto& c : cases) {
    TestBitmap b(10, 1, 8, ORDER_GRAY);
    fxtest::WriteWorkingRows(b.get(), std::vector<uint8_t>(row, row + 10));
    ASSERT_EQ(Fx_PixelateBitmap(b.get(), 3, 1, c.opacity, POINT{0, 0}, 0x510 | c.colour), SUCCESS);
    EXPECT_EQ(fxtest::WorkingRows(b.get()), std::vector<uint8_t>(c.expected, c.expected + 10))
        << "colour " << c.colour << " opacity " << c.opacity;
  }
  // A pixel of 100 in a cell whose maximum is 201, at opacity 50: 150.
  TestBitmap b(2, 1, 8, ORDER_GRAY);
  fxtest::WriteWorkingRows(b.get(), {100, 201});
  ASSERT_EQ(Fx_PixelateBitmap(b.get(), 1, 1, 50, POINT{0, 0}, 0x510), SUCCESS);
  EXPECT_EQ(fxtest::WorkingRows(b.get()), (std::vector<uint8_t>{150, 201}));
}

// Four sectors of 90 degrees, rings 5 pixels wide, around the centre of a 21 x 21 image: the
// cells from integer tests. With 3.1415926535 (just below pi) the pixels straight above the
// centre land at 269.99... degrees, in the third sector.
TEST_F(PixelateTest, PolarCellsFollowSectorsAndRings) {
  auto cellOf = [](int32_t dx, int32_t dy) {
    const int32_t d2 = dx * dx + dy * dy;
    const int32_t ring = d2 < 25 ? 0 : d2 < 100 ? 1 : d2 < 225 ? 2 : 3;
    int32_t sector;
    if (dx > 0 && dy >= 0)
      sector = 0;
    else if (dx <= 0 && dy > 0)
      sector = 1;
    else if (dx < 0 || (dx == 0 && dy < 0))
      sector = 2;
    else
      sector = 3;
    return ring == 0 ? 0 : ring * 4 + sector;
  };
  TestBitmap b(21, 21, 8, ORDER_GRAY);
  b.FillNoise(8);
  const auto before = fxtest::WorkingRows(b.get());
  ASSERT_EQ(Fx_PixelateBitmap(b.get(), 4, 5, 100, POINT{10, 10}, 0x920), SUCCESS);
  const auto after = fxtest::WorkingRows(b.get());
  std::map<int32_t, uint8_t> maxima;
  for (int32_t y = 0; y < 21; ++y)
    for (int32_t x = 0; x < 21; ++x) {
      uint8_t& m = maxima[cellOf(x - 10, y - 10)];
      m = std::max(m, before[y * 21 + x]);
    }
  EXPECT_EQ(maxima.size(), 9u);  // the disc and two rings of four sectors
  for (int32_t y = 0; y < 21; ++y)
    for (int32_t x = 0; x < 21; ++x)
      ASSERT_EQ(after[y * 21 + x], maxima[cellOf(x - 10, y - 10)]) << x << "," << y;
}

struct Snapshot {
  std::vector<uint8_t> rows;
  int32_t rowBytes = 0, bits = 0, step = 0, width = 0, height = 0;
  uint32_t at(int32_t x, int32_t y, int32_t k) const {
    return fxtest::SampleAt(rows, rowBytes, bits, step, x, y, k);
  }
};

Snapshot Take(BitmapRecord* b) {
  RowAccess* a = nullptr;
  EXPECT_EQ(HostOpenRowAccess(b, &a, 2), SUCCESS);
  Snapshot s{fxtest::WorkingRows(b), HostRowBytes(a), HostSampleBits(a),
             HostPixelStep(a),       b->Width,        b->Height};
  HostCloseRowAccess(a);
  return s;
}

struct Params {
  int32_t cellWidth, cellHeight;
  uint32_t opacity;
  POINT center;
  uint32_t flags;
};

// Pixelate written directly: the cell of every pixel as a (row, column) or (sector, ring) pair,
// the cell colours collected in a map, then the blend. Returns every working sample.
std::vector<uint32_t> ModelPixelate(const Snapshot& s, RECT rc, const Params& p) {
  const int32_t wr = rc.right - rc.left, hr = rc.bottom - rc.top;
  const bool widthCount = p.flags & 0x100, heightCount = p.flags & 0x400;
  std::function<std::pair<int64_t, int64_t>(int32_t, int32_t)> cellOf;
  if ((p.flags & 0xF0) == 0x10) {
    const double cw = widthCount ? double(wr) / p.cellWidth : std::min(p.cellWidth, wr);
    const double ch = heightCount ? double(hr) / p.cellHeight : std::min(p.cellHeight, hr);
    cellOf = [=](int32_t x, int32_t y) {
      return std::pair<int64_t, int64_t>(int64_t((y - rc.top) / ch), int64_t((x - rc.left) / cw));
    };
  } else {
    const double angle = widthCount ? 360.0 / p.cellWidth : std::min(p.cellWidth, 360);
    const int64_t dxm = std::max(p.center.x - rc.left, rc.right - p.center.x);
    const int64_t dym = std::max(p.center.y - rc.top, rc.bottom - p.center.y);
    const double bigR = std::sqrt(double(dxm * dxm + dym * dym));
    double ringWidth = heightCount ? bigR / p.cellHeight : p.cellHeight;
    if (!heightCount && int64_t(bigR / p.cellHeight) == 0) ringWidth = bigR;
    const POINT c = p.center;
    cellOf = [=](int32_t x, int32_t y) {
      const int64_t dx = x - c.x, dy = y - c.y;
      double a = std::atan2(double(dy), double(dx)) * (180.0 / 3.1415926535);
      if (a < 0) a += 360;
      if (a == 360) a = 0;
      const auto ring = int64_t(std::sqrt(double(dx * dx + dy * dy)) / ringWidth);
      return std::pair<int64_t, int64_t>(ring == 0 ? 0 : int64_t(a / angle), ring);
    };
  }
  const int32_t colours = s.step >= 3 ? 3 : 1, mode = p.flags & 0xF;
  const uint64_t max = s.bits == 16 ? 65535 : 255;
  std::map<std::pair<int64_t, int64_t>, std::vector<uint64_t>> cells;
  std::map<std::pair<int64_t, int64_t>, uint64_t> counts;
  for (int32_t y = rc.top; y < rc.bottom; ++y)
    for (int32_t x = rc.left; x < rc.right; ++x) {
      const auto key = cellOf(x, y);
      auto [it, fresh] = cells.try_emplace(key, colours, mode == 1 ? ~uint64_t{0} : 0);
      ++counts[key];
      for (int32_t k = 0; k < colours; ++k) {
        const uint64_t v = s.at(x, y, k);
        uint64_t& cell = it->second[k];
        cell = mode == 0 ? std::max(cell, v) : mode == 1 ? std::min(cell, v) : cell + v;
      }
    }
  std::vector<uint32_t> out;
  for (int32_t y = 0; y < s.height; ++y)
    for (int32_t x = 0; x < s.width; ++x)
      for (int32_t k = 0; k < s.step; ++k) {
        const uint64_t v = s.at(x, y, k);
        const bool inside = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
        if (!inside || k >= colours) {
          out.push_back(uint32_t(v));
          continue;
        }
        const auto key = cellOf(x, y);
        uint64_t c = cells.at(key)[k];
        if (mode == 2) c /= counts.at(key);
        out.push_back(uint32_t(std::min((p.opacity * c + (100 - p.opacity) * v) / 100, max)));
      }
  return out;
}

TEST_F(PixelateTest, MatchesADirectModelOfBothCellShapes) {
  struct Case {
    const char* what;
    int32_t bpp;
    uint32_t order;
    Params p;
    RECT region;  // empty: none
    bool mask;    // region as a mask: every other row of `region`
  };
  const Case cases[] = {
      {"grid sizes, maximum", 24, ORDER_BGR, {5, 4, 100, {}, 0xA10}, {}, false},
      {"grid counts, minimum", 8, ORDER_GRAY, {3, 2, 50, {}, 0x511}, {}, false},
      {"grid height lowered, average, region",
       48,
       ORDER_RGB,
       {6, 30, 37, {}, 0xA12},
       {3, 2, 19, 13},
       false},
      {"grid count x size, average, 12 bits", 12, ORDER_GRAY, {4, 3, 100, {}, 0x912}, {}, false},
      {"polar degrees x ring width, average, mask",
       32,
       ORDER_BGR,
       {30, 4, 100, {7, 5}, 0xA22},
       {2, 1, 20, 15},
       true},
      {"polar counts, maximum", 16, ORDER_GRAY, {7, 3, 80, {11, 8}, 0x520}, {}, false},
      {"polar ring wider than R, minimum",
       64,
       ORDER_BGR,
       {5, 1000, 100, {-1, -1}, 0x921},
       {},
       false},
      {"polar with 2e9 rings, average",
       24,
       ORDER_RGB,
       {9, 2000000000, 100, {6, 4}, 0x522},
       {},
       false},
      {"polar 7-degree sectors, maximum", 24, ORDER_BGR, {7, 2, 65, {23, 17}, 0xA20}, {}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TestBitmap b(23, 17, c.bpp, c.order);
    b.FillNoise(c.p.flags);
    RECT rc{0, 0, 23, 17};
    std::vector<uint8_t> mask;
    if (c.region.right > c.region.left) {
      rc = c.region;
      if (c.mask) {
        mask.assign(23 * 17, 0);
        for (int32_t y = rc.top; y < rc.bottom; y += 2)
          for (int32_t x = rc.left; x < rc.right; ++x) mask[y * 23 + x] = 1;
        ASSERT_EQ(HostSetRegionMask(b.get(), mask.data(), 23), SUCCESS);
      } else {
        ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &rc, 1), SUCCESS);
      }
      HostGetRegionBounds(b.get(), nullptr, &rc);
    }
    const Snapshot s = Take(b.get());
    const auto model = ModelPixelate(s, rc, c.p);
    ASSERT_EQ(Fx_PixelateBitmap(b.get(), c.p.cellWidth, c.p.cellHeight, c.p.opacity, c.p.center,
                                c.p.flags),
              SUCCESS);
    const Snapshot after = Take(b.get());
    int32_t changed = 0;
    size_t i = 0;
    for (int32_t y = 0; y < s.height; ++y)
      for (int32_t x = 0; x < s.width; ++x)
        for (int32_t k = 0; k < s.step; ++k, ++i) {
          uint32_t want = mask.empty() || mask[y * 23 + x] ? model[i] : s.at(x, y, k);
          if (c.bpp == 12) want = (want >> 4) << 4 | want >> 12;  // stored as 12 bits
          ASSERT_EQ(after.at(x, y, k), want) << x << "," << y << " sample " << k;
          changed += want != s.at(x, y, k);
        }
    EXPECT_GT(changed, 20);
  }
}

// One cell of 67600 16-bit pixels: sums beyond 32 bits still give the true average.
TEST_F(PixelateTest, LargeSixteenBitCellsAverageWithoutWrapping) {
  TestBitmap b(260, 260, 16, ORDER_GRAY);
  std::vector<uint8_t> rows(260 * 260 * 2);
  for (size_t i = 0; i < rows.size() / 2; ++i) {
    const uint16_t v = i % 2 ? 65534 : 65535;
    std::memcpy(&rows[2 * i], &v, 2);
  }
  fxtest::WriteWorkingRows(b.get(), rows);
  ASSERT_EQ(Fx_PixelateBitmap(b.get(), 1, 1, 100, POINT{0, 0}, 0x512), SUCCESS);
  const auto after = fxtest::WorkingRows(b.get());
  for (size_t i = 0; i < after.size() / 2; ++i) {
    uint16_t v;
    std::memcpy(&v, &after[2 * i], 2);
    ASSERT_EQ(v, 65534) << i;  // trunc(65534.5)
  }
}

TEST_F(PixelateTest, EveryFailurePathCleansUp) {
  struct Case {
    int32_t bpp;
    uint32_t order;
    Params p;
  };
  const Case cases[] = {
      {24, ORDER_BGR, {3, 2, 60, {}, 0xA12}},
      {16, ORDER_GRAY, {45, 2, 100, {4, 3}, 0xA20}},
      {32, ORDER_BGR, {4, 100000000, 100, {2, 2}, 0x520}},  // numbered cells
  };
  for (const auto& c : cases) {
    auto stats = fxtest::SweepFaults(
        [&c] {
          auto b = std::make_unique<TestBitmap>(8, 6, c.bpp, c.order, 4);
          b->FillNoise(3);
          return b;
        },
        [&c](BitmapRecord* b) {
          return Fx_PixelateBitmap(b, c.p.cellWidth, c.p.cellHeight, c.p.opacity, c.p.center,
                                   c.p.flags);
        },
        "pixelate", ERROR_NO_MEMORY);
    EXPECT_GT(stats.points, 15);
  }
}

}  // namespace
