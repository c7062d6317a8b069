// Content-aware down-scale and up-scale: the seam search against a literal evaluation, seam
// counts and sizes (with regions and orientations), masks, formats, entry checks, progress and
// cancellation.
#include <algorithm>
#include <array>
#include <functional>
#include <memory>

#include "Common/IntelligentRescale.h"
#include "EffectCheck.h"
#include "host/runtime/Runtime.h"

namespace {

using fxtest::TestBitmap;

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr int64_t kClock = 1700000000;

// Every seam seeds the generator from the clock, which the tests fix.
class IntelligentRescaleTest : public fxtest::HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    HostFixTime(kClock);
  }
  void TearDown() override {
    HostReleaseClocks();
    HostFixture::TearDown();
  }
};

// Down-scale to w x h, or up-scale in passes of at most 1 / steps of the size (both axes).
int32_t Rescale(BitmapRecord* b, bool up, int32_t w, int32_t h, int32_t order = 0,
                int32_t steps = 1, BitmapRecord* mask = nullptr, uint32_t remove = kNone,
                uint32_t keep = kNone) {
  return up ? Fx_IntelligentUpScaleBitmap(b, mask, remove, keep, w, steps, h, steps, order, 0)
            : Fx_IntelligentDownScaleBitmap(b, mask, remove, keep, w, h, order, 0);
}

uint32_t Lcg(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return state >> 8;
}

// The seam search as the algorithm states it: an energy map by start column with removed pixels
// marked, a full cost pass per seam over the remaining pixels, the candidates of the bottom row,
// srand(time) and one rand, and the backtracking with its tie-breaks. Returns, per seam, the
// start column removed in each row.
std::vector<std::vector<int32_t>> LiteralSeams(const std::vector<uint8_t>& energy, int w0, int h,
                                               int seams, int64_t time) {
  const uint32_t kGone = 0xFFFFFFFF;
  const int32_t kCap = 1000000, kMissing = 2000000;
  std::vector<uint32_t> e(energy.begin(), energy.end());
  std::vector<int32_t> cost(size_t(w0) * h), column(size_t(w0) * h);
  auto M = [&](int y, int k) { return cost[size_t(y) * w0 + k]; };
  // Left, up and right neighbours of column k in the row above row y, of w columns: the last
  // column's form first (it serves a one-column row), then the first column's.
  auto above = [&](int y, int k, int w) -> std::array<int32_t, 3> {
    if (k == w - 1) return {M(y - 1, std::max(k - 1, 0)), M(y - 1, k), kMissing};
    if (k == 0) return {kMissing, M(y - 1, 0), M(y - 1, 1)};
    return {M(y - 1, k - 1), M(y - 1, k), M(y - 1, k + 1)};
  };
  std::vector<std::vector<int32_t>> out;
  for (int s = 0, w = w0; s < seams; ++s, --w) {
    int32_t m = kCap;
    for (int y = 0; y < h; ++y) {
      for (int x = 0, k = 0; x < w0; ++x) {
        if (e[size_t(y) * w0 + x] == kGone) continue;
        int32_t c = int32_t(e[size_t(y) * w0 + x]);
        if (y >= 1) {
          const auto [left, up, right] = above(y, k, w);
          c += std::min({kCap, left, up, right});
        }
        cost[size_t(y) * w0 + k] = c;
        column[size_t(y) * w0 + k] = x;
        if (y == h - 1 && c < m) m = c;
        ++k;
      }
    }
    std::vector<int32_t> candidates;
    for (int k = 0; k < w; ++k)
      if (M(h - 1, k) == m) candidates.push_back(k);
    if (candidates.empty()) {  // nothing at or below the ceiling: the cheapest columns
      for (int k = 0; k < w; ++k) m = k == 0 ? M(h - 1, 0) : std::min(m, M(h - 1, k));
      for (int k = 0; k < w; ++k)
        if (M(h - 1, k) == m) candidates.push_back(k);
    }
    fxrt::srand(uint32_t(time));
    int c = candidates[fxrt::rand() % int(candidates.size())];
    std::vector<int32_t> removed(h);
    for (int y = h - 1;; --y) {
      const int x = column[size_t(y) * w0 + c];
      removed[y] = x;
      e[size_t(y) * w0 + x] = kGone;
      if (y == 0) break;
      const auto [left, up, right] = above(y, c, w);
      int32_t best = kCap, next = c;
      if (left < best) next = std::max(c - 1, 0), best = left;
      if (up < best) next = c, best = up;
      if (right < best) next = c + 1;
      c = next;
    }
    out.push_back(removed);
  }
  return out;
}

TEST_F(IntelligentRescaleTest, SeamSearchMatchesTheLiteralPass) {
  struct Case {
    const char* what;
    int w, h, seams;
    std::function<uint8_t(int x, int y, uint32_t& rng)> energy;
  };
  const Case cases[] = {
      {"uniform noise", 40, 30, 39, [](int, int, uint32_t& r) { return uint8_t(Lcg(r)); }},
      {"three levels: ties everywhere", 33, 25, 33,
       [](int, int, uint32_t& r) { return uint8_t(Lcg(r) % 3); }},
      {"one row", 17, 1, 10, [](int, int, uint32_t& r) { return uint8_t(Lcg(r) % 5); }},
      {"tall: costs pass the ceiling", 6, 4100, 6,
       [](int x, int, uint32_t& r) { return uint8_t(x == 2 ? Lcg(r) % 2 : 250 + Lcg(r) % 6); }},
      {"tall: every cost beyond the ceiling", 5, 4300, 3,
       [](int, int, uint32_t& r) { return uint8_t(240 + Lcg(r) % 16); }},
  };
  for (const auto& c : cases) {
    for (int64_t time : {kClock, kClock + 7}) {
      SCOPED_TRACE(std::string(c.what) + " time " + std::to_string(time));
      HostFixTime(time);
      uint32_t rng = uint32_t(c.w * 131 + c.h);
      std::vector<uint8_t> energy(size_t(c.w) * c.h);
      for (int y = 0; y < c.h; ++y)
        for (int x = 0; x < c.w; ++x) energy[size_t(y) * c.w + x] = c.energy(x, y, rng);
      const auto expected = LiteralSeams(energy, c.w, c.h, c.seams, time);

      fx::SeamCarver carver;
      ASSERT_EQ(carver.Init(energy.data(), c.w, c.w, c.h, c.seams), SUCCESS);
      for (int s = 0; s < c.seams; ++s) {
        carver.FindSeam();
        carver.RemoveSeam();
      }
      std::vector<int32_t> removed(c.seams);
      std::vector<uint8_t> kept(c.w);
      for (int y = 0; y < c.h; ++y) {
        ASSERT_EQ(carver.Columns(y, removed.data(), kept.data()), SUCCESS);
        for (int s = 0; s < c.seams; ++s) ASSERT_EQ(removed[s], expected[s][y]) << s << "," << y;
        EXPECT_EQ(std::count(kept.begin(), kept.end(), 1), c.w - c.seams);
      }
    }
  }
}

// Working rows of a 24-bit bitmap (order 1, which the effects take without conversion).
struct Picture {
  int w, h;
  std::vector<uint8_t> px;  // blue, green, red
  int a = 0, b = 0;         // the flat band of a band picture
  uint8_t* at(int x, int y) { return &px[(size_t(y) * w + x) * 3]; }
  const uint8_t* at(int x, int y) const { return &px[(size_t(y) * w + x) * 3]; }
};

// Noise in 0 .. 100 with a flat band of gray 200 in columns [a, b).
Picture BandPicture(int w, int h, int a, int b, uint32_t seed) {
  Picture p{w, h, std::vector<uint8_t>(size_t(w) * h * 3), a, b};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < 3; ++k) p.at(x, y)[k] = x >= a && x < b ? 200 : uint8_t(Lcg(seed) % 101);
  return p;
}

// Row y of a band picture with the band `grown` pixels wider (negative: narrower) and the
// `trimmed` right-most columns cut.
std::vector<uint8_t> BandRow(const Picture& p, int y, int grown, int trimmed) {
  const uint8_t* row = p.px.data() + size_t(y) * p.w * 3;
  std::vector<uint8_t> out(row, row + p.a * 3);
  out.insert(out.end(), size_t(p.b - p.a + grown) * 3, 200);
  out.insert(out.end(), row + p.b * 3, row + p.w * 3);
  out.resize(size_t(p.w + grown - trimmed) * 3);
  return out;
}

Picture Transposed(const Picture& p) {
  Picture t{p.h, p.w, std::vector<uint8_t>(p.px.size())};
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) std::copy_n(p.at(x, y), 3, t.at(y, x));
  return t;
}

// The picture as seen in the orientation.
std::unique_ptr<TestBitmap> MakeBitmap(const Picture& p, uint8_t orientation = 1,
                                       uint32_t order = ORDER_RGB) {
  auto b = std::make_unique<TestBitmap>(p.w, p.h, 24, order, orientation);
  fxtest::WriteWorkingRows(b->get(), p.px);
  return b;
}

// W = 100 with a flat band of 40 columns: seams take the band's inner columns, so the band's
// width shows the number of seams and the cut right-hand noise shows the trims. Turned cases
// carve the transposed picture height first; the carving follows the view; in a region of the
// upper rows only they lose seams, the trim cuts every row. BGR goes through the passes' RGB
// copy and comes back in its own order.
TEST_F(IntelligentRescaleTest, SeamsComeFromTheFlatBandInTheStatedCounts) {
  struct Case {
    const char* what;
    bool up, turned;
    int target, steps, grown, trimmed;
    uint8_t view = 1;
    int regionRows = 12;
    uint32_t order = ORDER_RGB;
  };
  const Case cases[] = {
      {"100 -> 90: 7 seams, 3 columns trimmed", false, false, 90, 1, -7, 3, 6},
      {"100 -> 97 in a region of 5 rows", false, false, 97, 1, -3, 0, 1, 5},
      {"100 -> 110: one pass of 17 seams, 7 trimmed", true, false, 110, 5, 17, 7, 1, 12, ORDER_BGR},
      {"100 -> 150 in passes to 120, 140, 150", true, false, 150, 5, 27 + 27 + 17, 21, 3},
      {"height 100 -> 90, height first", false, true, 90, 1, -7, 3, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Picture p = BandPicture(100, 12, 30, 70, 5);
    auto b = MakeBitmap(c.turned ? Transposed(p) : p, c.view, c.order);
    if (c.regionRows < 12) {
      const RECT rows{0, 0, 100, c.regionRows};
      ASSERT_EQ(HostSetRegionRect(b->get(), nullptr, &rows, 1), SUCCESS);
    }
    ASSERT_EQ(c.turned ? Rescale(b->get(), c.up, 12, c.target, 1, c.steps)
                       : Rescale(b->get(), c.up, c.target, 12, 0, c.steps),
              SUCCESS);
    EXPECT_EQ((*b)->Orientation, c.view);
    Picture want{p.w + c.grown - c.trimmed, p.h, {}};
    for (int y = 0; y < p.h; ++y) {
      const auto row = y < c.regionRows ? BandRow(p, y, c.grown, c.trimmed)
                                        : BandRow(p, y, 0, c.trimmed - c.grown);
      want.px.insert(want.px.end(), row.begin(), row.end());
    }
    if (c.turned) want = Transposed(want);
    ASSERT_EQ((*b)->Width, want.w);
    ASSERT_EQ((*b)->Height, want.h);
    EXPECT_EQ((*b)->Order, c.order);
    EXPECT_EQ(fxtest::WorkingRows(b->get()), want.px);
  }
}

TEST_F(IntelligentRescaleTest, MaskColoursDecideWhatGoesAndWhatStays) {
  // Remove: one red pixel per row on an 8-connected path goes, the rest of the row closes up;
  // the width asked is the width, and the height is left alone with a mask.
  {
    const Picture p = BandPicture(30, 12, 0, 0, 9);
    Picture m{30, 12, std::vector<uint8_t>(30 * 12 * 3, 0)};
    auto path = [](int y) { return 10 + (y / 2) % 2; };
    for (int y = 0; y < 12; ++y) m.at(path(y), y)[2] = 255;
    auto b = MakeBitmap(p), mask = MakeBitmap(m);
    ASSERT_EQ(Rescale(b->get(), false, 30, 5, 1, 1, mask->get(), 0x0000FF), SUCCESS);
    const Picture q{(*b)->Width, (*b)->Height, fxtest::WorkingRows(b->get())};
    ASSERT_EQ(q.w, 27);  // W - S - 2 with S = 1
    ASSERT_EQ(q.h, 12);
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 27; ++x)
        ASSERT_TRUE(std::equal(q.at(x, y), q.at(x, y) + 3, p.at(x < path(y) ? x : x + 1, y)))
            << x << "," << y;
  }
  // Keep: the flat band, which would go first, is marked green and survives whole.
  for (bool up : {false, true}) {
    const Picture p = BandPicture(60, 10, 20, 30, 4);
    Picture m{60, 10, std::vector<uint8_t>(60 * 10 * 3, 0)};
    for (int y = 0; y < 10; ++y)
      for (int x = 20; x < 30; ++x) m.at(x, y)[1] = 255;
    auto b = MakeBitmap(p), mask = MakeBitmap(m);
    ASSERT_EQ(Rescale(b->get(), up, up ? 64 : 56, 10, 0, 1, mask->get(), kNone, 0x00FF00), SUCCESS);
    const Picture q{(*b)->Width, (*b)->Height, fxtest::WorkingRows(b->get())};
    ASSERT_EQ(q.w, up ? 64 : 56);
    for (int y = 0; y < 10; ++y) {
      int band = 0;
      for (int x = 0; x < q.w; ++x) band += q.at(x, y)[0] == 200;
      EXPECT_EQ(band, 10) << (up ? "up" : "down") << " row " << y;
    }
  }
}

// The bitmap record itself is checked by the registry's bad-input sweep; these are the mask's
// checks, the 32-bit gray refusal and the sizes and orders that change nothing or resize.
TEST_F(IntelligentRescaleTest, EntryChecksInTheirOrder) {
  using Spoil = std::function<void(BitmapRecord * bitmap, BitmapRecord * mask)>;
  struct Case {
    const char* what;
    bool up;
    Spoil spoil;  // of the 12 x 6 gray bitmap or, when set, its 24-bit mask
    bool mask;
    int32_t width, height, steps, order, expected;
    bool resized = false;  // else nothing changes
  };
  const auto tall = [](BitmapRecord*, BitmapRecord* m) { m->Height = 9; };
  const auto bare = [](BitmapRecord*, BitmapRecord* m) { m->Flags = 0; };
  const auto other = [](BitmapRecord*, BitmapRecord* m) {  // unallocated, another size and depth
    m->Flags = 0, m->Width = m->Height = 3, m->BitsPerPixel = 8;
  };
  const auto bad = ERROR_INV_PARAMETER;
  // clang-format off
  const Case cases[] = {
      {"mask struct size", false, [](BitmapRecord*, BitmapRecord* m) { m->StructSize = 4; }, true,
       8, 6, 1, 0, ERROR_INV_STRUCT_SIZE},
      {"mask size", false, tall, true, 8, 6, 1, 0, ERROR_POINT_OUT_OF_RANGE},
      {"mask size", true, tall, true, 16, 6, 1, 0, ERROR_POINT_OUT_OF_RANGE},
      {"unallocated mask", false, bare, true, 8, 6, 1, 0, bad},
      {"mask differing in all three", true, other, true, 16, 6, 1, 0, bad},
      {"32-bit gray", false, [](BitmapRecord* b, BitmapRecord*) { b->BitsPerPixel = 32; }, false,
       8, 6, 1, 0, ERROR_UNSUPPORTED_ORDER},
      {"the same size", false, nullptr, false, 12, 6, 1, 0, SUCCESS},
      {"clamped to the size", false, nullptr, false, 40, 7, 1, 0, SUCCESS},
      {"order 2", false, nullptr, false, 8, 4, 1, 2, SUCCESS},
      {"steps 0, width first, nothing to grow", true, nullptr, false, 12, 5, 0, 0, bad},
      {"steps 0, height first: taken as 1", true, nullptr, false, 14, 7, 0, 1, SUCCESS, true},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.what) + (c.up ? " up" : " down"));
    TestBitmap b(12, 6, 8, ORDER_GRAY), mask(12, 6, 24, ORDER_BGR);
    b.FillNoise(3);
    const auto stored = b.Stored();
    if (c.spoil) c.spoil(b.get(), mask.get());
    EXPECT_EQ(
        Rescale(b.get(), c.up, c.width, c.height, c.order, c.steps, c.mask ? mask.get() : nullptr),
        c.expected);
    if (c.resized) {
      EXPECT_EQ(b->Width, c.width);
      EXPECT_EQ(b->Height, c.height);
    } else {  // nothing removed, and back from 24 bits as it was
      b->BitsPerPixel = 8;
      EXPECT_EQ(b.Stored(), stored);
    }
  }
}

// Reports seen by the status callback, and a cancel once a percentage is reached.
struct Reports {
  std::vector<int32_t> seen;
  int32_t cancelAt = 1000;
  static int32_t Callback(int32_t percent, void* user) {
    auto* r = static_cast<Reports*>(user);
    r->seen.push_back(percent);
    return percent >= r->cancelAt ? ERROR_HOST_CANCELLED : SUCCESS;
  }
};

// Reports rise to 100 after the seams: (s + 1) x 100 / S for a few, every hundredth for many,
// the pass's share when inserting. A cancel during the seam search gives the bitmap back as it
// was, in its own format.
TEST_F(IntelligentRescaleTest, ProgressRisesWithTheSeamsAndACancelLeavesTheBitmapAlone) {
  struct Case {
    const char* what;
    bool up;
    int w, target;
    size_t at;  // one report worked out by hand
    int32_t expected;
  };
  const Case cases[] = {
      {"7 seams: report 4 is 4 x 100 / 7", false, 100, 90, 4, 57},
      {"147 seams: every hundredth", false, 300, 150, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (int32_t cancelAt : {1000, 50}) {
      TestBitmap b(c.w, 6, cancelAt == 1000 ? 24 : 8, cancelAt == 1000 ? ORDER_RGB : ORDER_GRAY);
      b.FillNoise(1);
      const auto before = b.Stored();
      Reports r;
      r.cancelAt = cancelAt;
      HostExchangeCallback(&Reports::Callback, &r, nullptr, nullptr);
      const int32_t rc = Rescale(b.get(), c.up, c.target, 6);
      HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
      ASSERT_FALSE(r.seen.empty());
      if (cancelAt == 1000) {
        EXPECT_EQ(rc, SUCCESS);
        const auto end = std::find(r.seen.begin(), r.seen.end(), 100);
        ASSERT_NE(end, r.seen.end());
        EXPECT_TRUE(std::is_sorted(r.seen.begin(), end));
        EXPECT_EQ(r.seen.front(), 0);
        ASSERT_GT(r.seen.size(), c.at);
        EXPECT_EQ(r.seen[c.at], c.expected);
        EXPECT_EQ(b->Width, c.target);
      } else {
        EXPECT_EQ(rc, ERROR_HOST_CANCELLED);
        EXPECT_GE(r.seen.back(), 50);
        EXPECT_TRUE(std::is_sorted(r.seen.begin(), r.seen.end()));
        EXPECT_EQ(b->BitsPerPixel, 8);
        EXPECT_EQ(b->Order, ORDER_GRAY);
        EXPECT_EQ(b.Stored(), before);
      }
    }
  }
}

}  // namespace
