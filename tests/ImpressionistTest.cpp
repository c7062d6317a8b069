// Impressionist: entry checks, the displacement values, the order of draws against a direct
// model of the scatter, reproducibility after seeding, and the failure paths.
#include <algorithm>
#include <functional>
#include <map>
#include <set>

#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class ImpressionistTest : public HostFixture {};

TEST_F(ImpressionistTest, EntryChecksInTheirOrder) {
  struct Case {
    const char* what;
    std::function<void(BitmapRecord*)> spoil;
    uint32_t h, v, flags;
    int32_t expected;
  };
  const auto none = [](BitmapRecord*) {};
  const Case cases[] = {
      {"flags", none, 5, 5, 1, ERROR_INV_PARAMETER},
      {"struct size", [](BitmapRecord* b) { b->StructSize = 271; }, 0, 0, 0, ERROR_INV_STRUCT_SIZE},
      {"32-bit gray", [](BitmapRecord* b) { b->Order = ORDER_GRAY; }, 0, 0, 0,
       ERROR_UNSUPPORTED_ORDER},
      {"flag 0x200", [](BitmapRecord* b) { b->Flags |= 0x200; }, 0, 0, 0, ERROR_UNSUPPORTED_FLAG},
      {"both lengths 0", none, 0, 0, 0, ERROR_INV_PARAMETER},
      {"struct size 228", [](BitmapRecord* b) { b->StructSize = 228; }, 3, 2, 0, SUCCESS},
      {"one length 0", none, 0, 4, 0, SUCCESS},
  };
  for (const auto& c : cases) {
    TestBitmap b(12, 10, 32, ORDER_BGR, 6);
    ASSERT_TRUE(b.ok());
    c.spoil(b.get());
    EXPECT_EQ(Fx_ImpressionistBitmap(b.get(), c.h, c.v, c.flags), c.expected) << c.what;
    EXPECT_EQ(b->Orientation, 6) << c.what;
    b->StructSize = 272;
  }
  EXPECT_EQ(Fx_ImpressionistBitmap(nullptr, 5, 5, 0), ERROR_NO_BITMAP);
  EXPECT_EQ(Fx_ImpressionistBitmap(nullptr, 5, 5, 2), ERROR_INV_PARAMETER);
}

TEST_F(ImpressionistTest, BothLengthsOneChangeNothingAndDrawNothing) {
  TestBitmap b(9, 7, 24);
  b.FillNoise(4);
  const auto before = b.Stored();
  HostSeedRandom(77);
  EXPECT_EQ(Fx_ImpressionistBitmap(b.get(), 1, 1, 0), SUCCESS);
  const int32_t next = HostRandom();
  HostSeedRandom(77);
  EXPECT_EQ(next, HostRandom()) << "the no-op drew from the generator";
  EXPECT_EQ(b.Stored(), before);
}

// Reaches and every displacement their formula can give (from the even and odd draws by hand).
struct ReachValues {
  uint32_t reach;
  std::set<int32_t> values;
};
const ReachValues kReachValues[] = {
    {1, {0}},                      // r mod 2 of an even r, r mod 1
    {2, {0, 1, 2}},                // even r mod 3; odd r mod 1
    {4, {-1, 0, 2}},               // even r mod 4; odd r mod 2
    {5, {-2, -1, 0, 2}},           // even r mod 4; odd r mod 3
    {7, {-3, -1, 0, 1, 2, 3, 4}},  // even r mod 5; odd r mod 4
    {8, {-3, -1, 0, 2, 4}},        // even r mod 6; odd r mod 4
};

// Every displacement observed over many seeded draws, horizontally (a row whose pixel x holds x)
// or vertically (a column whose row y holds y); edge pixels are left out.
std::set<int32_t> ObservedDisplacements(uint32_t reach, bool vertical) {
  std::set<int32_t> seen;
  const int32_t w = vertical ? 3 : 64, h = vertical ? 64 : 1;
  for (uint32_t seed = 1; seed <= 40; ++seed) {
    TestBitmap b(w, h, 8, ORDER_GRAY);
    std::vector<uint8_t> rows(size_t(w) * h);
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) rows[y * w + x] = uint8_t(vertical ? y : x);
    fxtest::WriteWorkingRows(b.get(), rows);
    HostSeedRandom(seed);
    EXPECT_EQ(Fx_ImpressionistBitmap(b.get(), vertical ? 0 : reach, vertical ? reach : 0, 0),
              SUCCESS);
    const auto after = fxtest::WorkingRows(b.get());
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const int32_t at = vertical ? y : x;
        if (at >= 8 && at < 56) seen.insert(int32_t(after[y * w + x]) - at);
      }
  }
  return seen;
}

TEST_F(ImpressionistTest, DisplacementsAreExactlyTheFormulasValues) {
  for (const auto& c : kReachValues) {
    EXPECT_EQ(ObservedDisplacements(c.reach, false), c.values) << "horizontal reach " << c.reach;
    EXPECT_EQ(ObservedDisplacements(c.reach, true), c.values) << "vertical reach " << c.reach;
  }
}

// Working rows of a bitmap with their format.
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

// The generator, drawn independently of the library's.
struct Lcg {
  uint32_t state;
  uint32_t Next() {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFFu;
  }
};

int32_t Displacement(uint32_t n, uint32_t r) {
  return r % 2 == 0 ? int32_t(r % (n / 2 + 2)) : -int32_t(r % ((n - 1) / 2 + 1));
}

// The scatter written directly: every source row s from top - half on is scattered along the
// row as it is read; output row y, produced once rows up to y + half are read, takes pixel x from
// scattered row y + d. Returns expected[y][x][k] for the colour samples (others unchanged).
std::vector<uint32_t> ModelScatter(const Snapshot& s, RECT rc, uint32_t h, uint32_t v, Lcg& g) {
  h = std::max(h, 1u);
  v = std::max(v, 1u);
  const int64_t half = ((v & ~1u) + 3) / 2;
  const int32_t colours = s.step >= 3 ? 3 : 1;
  std::map<int64_t, std::vector<uint32_t>> scattered;
  std::vector<uint32_t> out(size_t(s.width) * s.height * s.step);
  for (int32_t y = 0; y < s.height; ++y)
    for (int32_t x = 0; x < s.width; ++x)
      for (int32_t k = 0; k < s.step; ++k)
        out[(size_t(y) * s.width + x) * s.step + k] = s.at(x, y, k);
  int64_t next = rc.top - half;
  for (int32_t y = rc.top; y < rc.bottom; ++y) {
    for (; next <= y + half; ++next) {
      const int32_t row = int32_t(std::clamp<int64_t>(next, 0, s.height - 1));
      auto& line = scattered[next];
      line.assign(size_t(s.width) * colours, 0);
      for (int32_t x = rc.left; x < rc.right; ++x) {
        const int64_t sx =
            std::clamp<int64_t>(x + int64_t(Displacement(h, g.Next())), 0, s.width - 1);
        for (int32_t k = 0; k < colours; ++k) line[x * colours + k] = s.at(int32_t(sx), row, k);
      }
    }
    for (int32_t x = rc.left; x < rc.right; ++x) {
      const auto& line = scattered.at(y + Displacement(v, g.Next()));
      for (int32_t k = 0; k < colours; ++k)
        out[(size_t(y) * s.width + x) * s.step + k] = line[x * colours + k];
    }
  }
  return out;
}

TEST_F(ImpressionistTest, MatchesADirectModelOfTheScatterAndItsDraws) {
  struct Case {
    int32_t bpp;
    uint32_t order;
    int32_t w, hgt;
    uint32_t h, v, seed;
    RECT region;  // empty: none
    bool mask;    // region as an elliptic mask inside `region`
    uint8_t orientation;
  };
  const Case cases[] = {
      {24, ORDER_BGR, 23, 17, 5, 5, 7, {}, false, 1},
      {8, ORDER_GRAY, 19, 13, 0, 5, 3, {}, false, 1},
      {48, ORDER_RGB, 15, 11, 9, 4, 11, {3, 2, 12, 9}, false, 1},
      {32, ORDER_BGR, 17, 12, 6, 7, 5, {2, 1, 16, 11}, true, 1},
      {16, ORDER_GRAY, 13, 9, 3, 0, 99, {}, false, 6},
      {64, ORDER_BGR, 11, 8, 12, 12, 2, {}, false, 1},  // window taller than the image
      {8, ORDER_BGR, 12, 10, 4, 3, 8, {}, false, 1},    // palette
      {12, ORDER_GRAY, 10, 6, 0xFFFFFFFFu, 2, 4, {}, false, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("bpp " + std::to_string(c.bpp) + " h " + std::to_string(c.h) + " v " +
                 std::to_string(c.v));
    TestBitmap b(c.w, c.hgt, c.bpp, c.order, c.orientation);
    b.FillNoise(c.seed);
    ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, 1, 0), SUCCESS);
    RECT rc{0, 0, b->Width, b->Height};
    std::vector<uint8_t> mask;
    if (c.region.right > c.region.left) {
      rc = c.region;
      if (c.mask) {
        mask.assign(size_t(b->Width) * b->Height, 0);
        const double cx = (rc.left + rc.right - 1) / 2.0, cy = (rc.top + rc.bottom - 1) / 2.0;
        const double ax = (rc.right - rc.left) / 2.0, ay = (rc.bottom - rc.top) / 2.0;
        for (int32_t y = rc.top; y < rc.bottom; ++y)
          for (int32_t x = rc.left; x < rc.right; ++x)
            mask[y * b->Width + x] =
                (x - cx) * (x - cx) / (ax * ax) + (y - cy) * (y - cy) / (ay * ay) <= 1.0;
        ASSERT_EQ(HostSetRegionMask(b.get(), mask.data(), b->Width), SUCCESS);
      } else {
        ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &rc, 1), SUCCESS);
      }
      HostGetRegionBounds(b.get(), nullptr, &rc);
    }
    const Snapshot s = Take(b.get());
    Lcg g{c.seed};
    const auto model = ModelScatter(s, rc, c.h, c.v, g);
    ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, c.orientation, 0), SUCCESS);

    HostSeedRandom(c.seed);
    ASSERT_EQ(Fx_ImpressionistBitmap(b.get(), c.h, c.v, 0), SUCCESS);
    EXPECT_EQ(HostRandom(), int32_t(g.Next())) << "a different number of draws";
    EXPECT_EQ(b->Orientation, c.orientation);
    ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, 1, 0), SUCCESS);
    const Snapshot after = Take(b.get());
    int32_t moved = 0;
    for (int32_t y = 0; y < s.height; ++y)
      for (int32_t x = 0; x < s.width; ++x) {
        const bool inside = mask.empty() || mask[y * s.width + x];
        for (int32_t k = 0; k < s.step; ++k) {
          const uint32_t want =
              inside ? model[(size_t(y) * s.width + x) * s.step + k] : s.at(x, y, k);
          ASSERT_EQ(after.at(x, y, k), want) << x << "," << y << " sample " << k;
          moved += want != s.at(x, y, k);
        }
      }
    EXPECT_GT(moved, 10);
  }
}

TEST_F(ImpressionistTest, SeedingFirstReproducesTheOutput) {
  auto run = [](uint32_t seed, bool reseed) {
    TestBitmap b(21, 15, 24);
    b.FillNoise(9);
    if (reseed) HostSeedRandom(seed);
    EXPECT_EQ(Fx_ImpressionistBitmap(b.get(), 7, 6, 0), SUCCESS);
    return b.Stored();
  };
  const auto first = run(1234, true);
  EXPECT_EQ(run(1234, true), first);
  EXPECT_NE(run(1234, false), first) << "the sequence must continue, not restart";
  EXPECT_NE(run(4321, true), first);
}

// Every output pixel equals some source pixel within the prose range of both reaches (clamped
// at the edges), the three colour samples together; also for reaches at the top of the range.
TEST_F(ImpressionistTest, EveryPixelIsASourcePixelWithinReach) {
  struct Case {
    uint32_t h, v;
    int32_t w, hgt;
  };
  const Case cases[] = {{6, 9, 20, 16}, {0xFFFFFFFFu, 2, 9, 6}, {3, 0xFFFFFFFFu, 7, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE("h " + std::to_string(c.h) + " v " + std::to_string(c.v));
    TestBitmap b(c.w, c.hgt, 24);
    b.FillNoise(c.h ^ c.v);
    const Snapshot s = Take(b.get());
    ASSERT_EQ(Fx_ImpressionistBitmap(b.get(), c.h, c.v, 0), SUCCESS);
    const Snapshot after = Take(b.get());
    auto range = [](uint32_t n, int32_t& lo, int32_t& hi) {
      lo = -int32_t(std::min<uint32_t>((n - 1) / 2, 32767));
      hi = int32_t(std::min<uint32_t>(n / 2 + 1, 32767));
    };
    int32_t xlo, xhi, ylo, yhi;
    range(c.h, xlo, xhi);
    range(c.v, ylo, yhi);
    for (int32_t y = 0; y < s.height; ++y)
      for (int32_t x = 0; x < s.width; ++x) {
        bool found = false;
        for (int32_t dy = std::max(ylo, -y); dy <= std::min(yhi, s.height - 1 - y) && !found; ++dy)
          for (int32_t dx = std::max(xlo, -x); dx <= std::min(xhi, s.width - 1 - x); ++dx) {
            if (after.at(x, y, 0) == s.at(x + dx, y + dy, 0) &&
                after.at(x, y, 1) == s.at(x + dx, y + dy, 1) &&
                after.at(x, y, 2) == s.at(x + dx, y + dy, 2)) {
              found = true;
              break;
            }
          }
        ASSERT_TRUE(found) << "pixel " << x << "," << y;
      }
  }
}

// Beyond 65535 the vertical displacements no longer depend on the reach; the window stops
// growing there, so larger reaches give the 65535 picture.
TEST_F(ImpressionistTest, VerticalReachBeyond65535ActsAs65535) {
  auto run = [](uint32_t v) {
    TestBitmap b(6, 5, 8, ORDER_GRAY);
    b.FillNoise(21);
    HostSeedRandom(17);
    EXPECT_EQ(Fx_ImpressionistBitmap(b.get(), 3, v, 0), SUCCESS);
    return b.Stored();
  };
  EXPECT_EQ(run(0xFFFFFFFFu), run(65535));
}

TEST_F(ImpressionistTest, EveryFailurePathCleansUp) {
  for (int32_t bpp : {24, 16}) {
    auto stats = fxtest::SweepFaults(
        [bpp] {
          auto b = std::make_unique<TestBitmap>(8, 6, bpp, bpp == 16 ? ORDER_GRAY : ORDER_BGR, 4);
          b->FillNoise(3);
          return b;
        },
        [](BitmapRecord* b) { return Fx_ImpressionistBitmap(b, 4, 3, 0); }, "impressionist");
    EXPECT_GT(stats.points, 15);
  }
}

}  // namespace
