// Content-aware down-scale and up-scale: the seam search against a literal evaluation, seam
// counts and sizes, masks, formats, orientation, progress, cancellation and failure paths.
#include <algorithm>
#include <functional>

#include "Common/IntelligentRescale.h"
#include "TestSupport.h"
#include "fxkit/registry.h"
#include "host/runtime/Runtime.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

constexpr uint32_t kNone = 0xFFFFFFFF;
constexpr int64_t kClock = 1700000000;

class IntelligentRescaleTest : public HostFixture {
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
  std::vector<std::vector<int32_t>> out;
  for (int s = 0, w = w0; s < seams; ++s, --w) {
    int32_t m = kCap;
    for (int y = 0; y < h; ++y) {
      for (int x = 0, k = 0; x < w0; ++x) {
        if (e[size_t(y) * w0 + x] == kGone) continue;
        int32_t c = int32_t(e[size_t(y) * w0 + x]);
        if (y >= 1) {
          int32_t left = kMissing, up = M(y - 1, k), right = kMissing;
          if (k == 0) left = kMissing, up = M(y - 1, 0), right = w > 1 ? M(y - 1, 1) : 0;
          if (k == w - 1) left = M(y - 1, std::max(k - 1, 0)), up = M(y - 1, k), right = kMissing;
          if (k != 0 && k != w - 1) left = M(y - 1, k - 1), right = M(y - 1, k + 1);
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
      int32_t left = kMissing, up = 0, right = kMissing;
      if (c == 0) up = M(y - 1, 0), right = w > 1 ? M(y - 1, 1) : 0;
      if (c == w - 1) left = M(y - 1, std::max(c - 1, 0)), up = M(y - 1, c), right = kMissing;
      if (c != 0 && c != w - 1) left = M(y - 1, c - 1), up = M(y - 1, c), right = M(y - 1, c + 1);
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

TEST_F(IntelligentRescaleTest, SeamSearchMatchesTheLiteralPassAndTheFullRecomputation) {
  struct Case {
    const char* what;
    int w, h, seams;
    std::function<uint8_t(int x, int y, uint32_t& rng)> energy;
  };
  const Case cases[] = {
      {"uniform noise", 40, 30, 39, [](int, int, uint32_t& r) { return uint8_t(Lcg(r)); }},
      {"three levels: ties everywhere", 33, 25, 33,
       [](int, int, uint32_t& r) { return uint8_t(Lcg(r) % 3); }},
      {"blocks and ramps", 57, 41, 30,
       [](int x, int y, uint32_t& r) {
         return uint8_t(((x / 7 + y / 5) % 3) * 40 + (x + y) % 9 + (Lcg(r) % 4 == 0));
       }},
      {"flat", 12, 9, 12, [](int, int, uint32_t&) { return uint8_t(0); }},
      {"one row", 17, 1, 10, [](int, int, uint32_t& r) { return uint8_t(Lcg(r) % 5); }},
      {"one column", 1, 12, 1, [](int, int, uint32_t& r) { return uint8_t(Lcg(r)); }},
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

      fx::SeamCarver fast, full;
      full.set_incremental(false);
      ASSERT_EQ(fast.Init(energy.data(), c.w, c.w, c.h, c.seams), SUCCESS);
      ASSERT_EQ(full.Init(energy.data(), c.w, c.w, c.h, c.seams), SUCCESS);
      for (int s = 0; s < c.seams; ++s) {
        fast.FindSeam();
        full.FindSeam();
        for (int y = 0; y < c.h; ++y) ASSERT_EQ(fast.seam()[y], full.seam()[y]) << s << "," << y;
        fast.RemoveSeam();
        full.RemoveSeam();
        for (int y = 0; y < c.h; ++y)
          for (int k = 0; k < fast.width(); ++k)
            ASSERT_EQ(fast.Cost(y, k), full.Cost(y, k)) << "seam " << s << " at " << k << "," << y;
      }
      std::vector<int32_t> removed(c.seams);
      std::vector<uint8_t> kept(c.w);
      for (int y = 0; y < c.h; ++y) {
        ASSERT_EQ(fast.Columns(y, removed.data(), kept.data()), SUCCESS);
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
  uint8_t* at(int x, int y) { return &px[(size_t(y) * w + x) * 3]; }
  const uint8_t* at(int x, int y) const { return &px[(size_t(y) * w + x) * 3]; }
};

// Noise in 0 .. 100 with a flat band of gray 200 in columns [a, b).
Picture BandPicture(int w, int h, int a, int b, uint32_t seed) {
  Picture p{w, h, std::vector<uint8_t>(size_t(w) * h * 3)};
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int k = 0; k < 3; ++k) p.at(x, y)[k] = x >= a && x < b ? 200 : uint8_t(Lcg(seed) % 101);
  return p;
}

Picture Transposed(const Picture& p) {
  Picture t{p.h, p.w, std::vector<uint8_t>(p.px.size())};
  for (int y = 0; y < p.h; ++y)
    for (int x = 0; x < p.w; ++x) std::copy_n(&p.px[(size_t(y) * p.w + x) * 3], 3, t.at(y, x));
  return t;
}

std::unique_ptr<TestBitmap> MakeBitmap(const Picture& p, uint8_t orientation = 1) {
  auto b = std::make_unique<TestBitmap>(p.w, p.h, 24, ORDER_RGB, orientation);
  fxtest::WriteWorkingRows(b->get(), p.px);
  return b;
}

Picture Read(BitmapRecord* b) {
  return Picture{b->Width, b->Height, fxtest::WorkingRows(b)};
}

// Each row: the band picture's row with the band `grown` pixels wider (negative: narrower), the
// `trimmed` right-most columns cut.
Picture BandExpected(const Picture& p, int a, int b, int grown, int trimmed) {
  const int w = p.w + grown - trimmed;
  Picture e{w, p.h, {}};
  for (int y = 0; y < p.h; ++y) {
    std::vector<uint8_t> row;
    for (int x = 0; x < a; ++x)
      row.insert(row.end(), &p.px[(size_t(y) * p.w + x) * 3], &p.px[(size_t(y) * p.w + x) * 3] + 3);
    row.insert(row.end(), size_t(b - a + grown) * 3, 200);
    for (int x = b; x < p.w; ++x)
      row.insert(row.end(), &p.px[(size_t(y) * p.w + x) * 3], &p.px[(size_t(y) * p.w + x) * 3] + 3);
    row.resize(size_t(w) * 3);
    e.px.insert(e.px.end(), row.begin(), row.end());
  }
  return e;
}

TEST_F(IntelligentRescaleTest, SeamsComeFromTheFlatBandInTheStatedCounts) {
  // W = 100 with a flat band of 40 columns: seams take the band's inner columns, so the band's
  // width shows the number of seams and the cut right-hand noise shows the trims.
  struct Case {
    const char* what;
    bool up, turned;
    int target, steps, grown, trimmed;
  };
  const Case cases[] = {
      {"100 -> 90: 7 seams, 3 columns trimmed", false, false, 90, 0, -7, 3},
      {"100 -> 97: exactly 3 seams", false, false, 97, 0, -3, 0},
      {"100 -> 110: one pass of 17 seams, 7 trimmed", true, false, 110, 5, 17, 7},
      {"100 -> 150 in passes to 120, 140, 150", true, false, 150, 5, 27 + 27 + 17, 21},
      {"height 100 -> 90, height first", false, true, 90, 0, -7, 3},
      {"height 100 -> 150 in steps", true, true, 150, 5, 71, 21},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Picture p = BandPicture(100, 12, 30, 70, 5);
    auto b = MakeBitmap(c.turned ? Transposed(p) : p);
    int32_t rc;
    if (c.up)
      rc = c.turned ? Fx_IntelligentUpScaleBitmap(b->get(), nullptr, kNone, kNone, 12, 1, c.target,
                                                  c.steps, 0, 0)
                    : Fx_IntelligentUpScaleBitmap(b->get(), nullptr, kNone, kNone, c.target,
                                                  c.steps, 12, 1, 0, 0);
    else
      rc = c.turned
               ? Fx_IntelligentDownScaleBitmap(b->get(), nullptr, kNone, kNone, 12, c.target, 1, 0)
               : Fx_IntelligentDownScaleBitmap(b->get(), nullptr, kNone, kNone, c.target, 12, 0, 0);
    ASSERT_EQ(rc, SUCCESS);
    EXPECT_EQ((*b)->BitsPerPixel, 24);
    EXPECT_EQ((*b)->Order, ORDER_RGB);
    const Picture expected = BandExpected(p, 30, 70, c.grown, c.trimmed);
    const Picture got = Read(b->get());
    const Picture want = c.turned ? Transposed(expected) : expected;
    ASSERT_EQ(got.w, want.w);
    ASSERT_EQ(got.h, want.h);
    EXPECT_EQ(got.px, want.px);
  }
}

TEST_F(IntelligentRescaleTest, ARemovedSeamIsEightConnected) {
  for (uint32_t seed : {1u, 2u, 3u, 4u}) {
    Picture p{20, 30, std::vector<uint8_t>(20 * 30 * 3)};
    for (int i = 0; i < 20 * 30; ++i) {  // every pixel distinct
      p.px[i * 3] = uint8_t(i), p.px[i * 3 + 1] = uint8_t(i >> 8),
               p.px[i * 3 + 2] = uint8_t(Lcg(seed));
    }
    auto b = MakeBitmap(p);
    HostFixTime(kClock + seed);
    ASSERT_EQ(Fx_IntelligentDownScaleBitmap(b->get(), nullptr, kNone, kNone, 19, 30, 0, 0),
              SUCCESS);
    Picture q = Read(b->get());
    ASSERT_EQ(q.w, 19);
    int previous = -1;
    for (int y = 0; y < 30; ++y) {
      int gone = 19;  // the first column where the row differs from the original
      for (int x = 0; x < 19; ++x)
        if (!std::equal(q.at(x, y), q.at(x, y) + 3, p.at(x, y))) {
          gone = x;
          break;
        }
      for (int x = gone; x < 19; ++x)
        ASSERT_TRUE(std::equal(q.at(x, y), q.at(x, y) + 3, p.at(x + 1, y)));
      if (previous >= 0) {
        EXPECT_LE(std::abs(gone - previous), 1) << "row " << y;
      }
      previous = gone;
    }
  }
}

TEST_F(IntelligentRescaleTest, MaskColoursDecideWhatGoesAndWhatStays) {
  const uint32_t red = 0x0000FF, green = 0x00FF00;
  // Remove: one red pixel per row on an 8-connected path; the width asked is the width.
  {
    const Picture p = BandPicture(30, 12, 0, 0, 9);
    auto b = MakeBitmap(p);
    Picture m{30, 12, std::vector<uint8_t>(30 * 12 * 3, 0)};
    auto path = [](int y) { return 10 + (y / 2) % 2; };
    for (int y = 0; y < 12; ++y) m.at(path(y), y)[2] = 255;
    auto mask = MakeBitmap(m);
    ASSERT_EQ(Fx_IntelligentDownScaleBitmap(b->get(), mask->get(), red, kNone, 30, 5, 1, 0),
              SUCCESS);
    Picture q = Read(b->get());
    ASSERT_EQ(q.w, 27);  // W - S - 2 with S = 1
    ASSERT_EQ(q.h, 12);  // the height is left alone with a mask
    for (int y = 0; y < 12; ++y)
      for (int x = 0; x < 27; ++x)
        ASSERT_TRUE(std::equal(q.at(x, y), q.at(x, y) + 3, p.at(x < path(y) ? x : x + 1, y)))
            << x << "," << y;
  }
  // Keep: the flat band, which would go first, is marked green and survives whole.
  for (bool up : {false, true}) {
    const Picture p = BandPicture(60, 10, 20, 30, 4);
    auto b = MakeBitmap(p);
    Picture m{60, 10, std::vector<uint8_t>(60 * 10 * 3, 0)};
    for (int y = 0; y < 10; ++y)
      for (int x = 20; x < 30; ++x) m.at(x, y)[1] = 255;
    auto mask = MakeBitmap(m);
    const int32_t rc =
        up ? Fx_IntelligentUpScaleBitmap(b->get(), mask->get(), kNone, green, 64, 1, 10, 1, 0, 0)
           : Fx_IntelligentDownScaleBitmap(b->get(), mask->get(), kNone, green, 56, 10, 0, 0);
    ASSERT_EQ(rc, SUCCESS);
    Picture q = Read(b->get());
    ASSERT_EQ(q.w, up ? 64 : 56);
    for (int y = 0; y < 10; ++y) {
      int band = 0;
      for (int x = 0; x < q.w; ++x) band += q.at(x, y)[0] == 200;
      EXPECT_EQ(band, 10) << (up ? "up" : "down") << " row " << y;
    }
  }
}

TEST_F(IntelligentRescaleTest, EveryDepthComesBackInItsFormat) {
  for (const auto& d : fxtest::AllDepths()) {
    for (bool up : {false, true}) {
      SCOPED_TRACE(std::string(d.name) + (up ? " up" : " down"));
      TestBitmap b(24, 16, d.bitsPerPixel, d.order);
      b.FillSmooth();
      const auto before = fxtest::WorkingRows(b.get());
      const int32_t rc =
          up ? Fx_IntelligentUpScaleBitmap(b.get(), nullptr, kNone, kNone, 29, 1, 16, 1, 0, 0)
             : Fx_IntelligentDownScaleBitmap(b.get(), nullptr, kNone, kNone, 19, 16, 0, 0);
      ASSERT_EQ(rc, SUCCESS);
      EXPECT_EQ(b->BitsPerPixel, d.bitsPerPixel);
      EXPECT_EQ(b->Order, d.order);
      ASSERT_EQ(b->Width, up ? 29 : 19);
      ASSERT_EQ(b->Height, 16);
      // Every pixel of a row comes from the same row before, through an 8-bit round trip.
      RowAccess* a = nullptr;
      ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
      const int32_t bits = HostSampleBits(a), step = HostPixelStep(a);
      HostCloseRowAccess(a);
      const auto after = fxtest::WorkingRows(b.get());
      auto eight = [&](const std::vector<uint8_t>& rows, int w, int x, int y, int k) {
        uint32_t v = fxtest::SampleAt(rows, w * step * bits / 8, bits, step, x, y, k);
        return bits == 16 ? (v + 128) / 257 : v;
      };
      for (int y = 0; y < 16; ++y)
        for (int x = 0; x < b->Width; ++x) {
          bool found = false;
          for (int sx = 0; sx < 24 && !found; ++sx) {
            found = true;
            for (int k = 0; k < std::min(step, 3); ++k)
              found = found && eight(after, b->Width, x, y, k) == eight(before, 24, sx, y, k);
          }
          ASSERT_TRUE(found) << x << "," << y;
          if (d.bitsPerPixel == 16) {
            ASSERT_EQ(fxtest::SampleAt(after, b->Width * 2, 16, 1, x, y, 0) % 257, 0u);
          }
        }
    }
  }
}

TEST_F(IntelligentRescaleTest, ATurnedBitmapIsCarvedAsSeen) {
  const Picture p = BandPicture(40, 18, 10, 20, 8);
  for (uint8_t orientation : {3, 6, 8}) {
    for (bool up : {false, true}) {
      SCOPED_TRACE(std::to_string(orientation) + (up ? " up" : " down"));
      auto ref = MakeBitmap(p);
      auto turned = MakeBitmap(p, orientation);  // the same picture seen through the orientation
      for (BitmapRecord* b : {ref->get(), turned->get()}) {
        const int32_t rc =
            up ? Fx_IntelligentUpScaleBitmap(b, nullptr, kNone, kNone, 47, 2, 21, 1, 1, 0)
               : Fx_IntelligentDownScaleBitmap(b, nullptr, kNone, kNone, 33, 15, 0, 0);
        ASSERT_EQ(rc, SUCCESS);
      }
      EXPECT_EQ((*turned)->Orientation, orientation);
      EXPECT_EQ(Read(turned->get()).px, Read(ref->get()).px);
      EXPECT_EQ((*turned)->Width, up ? 47 : 33);
    }
  }
}

TEST_F(IntelligentRescaleTest, ARegionKeepsTheOutsideBeforeTheTrim) {
  const Picture p = BandPicture(30, 10, 12, 20, 2);
  auto b = MakeBitmap(p);
  RECT inside{0, 0, 30, 5};  // the upper half
  ASSERT_EQ(HostSetRegionRect(b->get(), nullptr, &inside, 1), SUCCESS);
  ASSERT_EQ(Fx_IntelligentDownScaleBitmap(b->get(), nullptr, kNone, kNone, 27, 10, 0, 0), SUCCESS);
  Picture q = Read(b->get());
  ASSERT_EQ(q.w, 27);
  for (int y = 0; y < 10; ++y) {
    const bool outside = y >= 5;
    Picture row = BandExpected(p, 12, 20, outside ? 0 : -3, outside ? 3 : 0);
    EXPECT_TRUE(std::equal(q.at(0, y), q.at(0, y) + 27 * 3, row.at(0, y))) << "row " << y;
  }
}

TEST_F(IntelligentRescaleTest, EntryChecksInTheirOrder) {
  // clang-format off
  enum Spoil { kNothing, kUnallocated, kSize0, kSize271, kGray32, kMaskSize, kMaskTall, kMaskBare,
               kMaskOther };
  // clang-format on
  // Spoils one field of the 12 x 6 gray bitmap or its 24-bit mask, or puts it back.
  auto apply = [](Spoil s, BitmapRecord* b, BitmapRecord* m, bool undo) {
    switch (s) {
      case kUnallocated:
        b->Flags = undo ? FLAG_ALLOCATED : 0;
        break;
      case kSize0:
        b->StructSize = undo ? 272 : 0;
        break;
      case kSize271:
        b->StructSize = undo ? 272 : 271;
        break;
      case kGray32:
        b->BitsPerPixel = undo ? 8 : 32;
        break;
      case kMaskSize:
        m->StructSize = undo ? 272 : 4;
        break;
      case kMaskTall:
        m->Height = undo ? 6 : 9;
        break;
      case kMaskBare:
        m->Flags = undo ? FLAG_ALLOCATED : 0;
        break;
      case kMaskOther:  // unallocated, and of another width, height and depth
        m->Flags = undo ? FLAG_ALLOCATED : 0, m->Width = undo ? 12 : 3, m->Height = undo ? 6 : 3;
        m->BitsPerPixel = undo ? 24 : 8;
        break;
      case kNothing:
        break;
    }
  };
  struct Case {
    const char* what;
    bool up;
    Spoil spoil;
    bool mask;
    int32_t width, height, steps, order;
    uint32_t flags;
    int32_t expected;
    bool unchanged;  // nothing removed, and back from 24 bits as it was
  };
  const Case cases[] = {
      {"flags before the record", false, kSize0, false, 8, 6, 1, 0, 1, ERROR_INV_PARAMETER, false},
      {"flags before the record", true, kSize0, false, 16, 6, 1, 0, 1, ERROR_INV_PARAMETER, false},
      {"struct size", false, kSize271, false, 8, 6, 1, 0, 0, ERROR_INV_STRUCT_SIZE, false},
      {"struct size", true, kSize271, false, 16, 6, 1, 0, 0, ERROR_INV_STRUCT_SIZE, false},
      {"mask struct size", false, kMaskSize, true, 8, 6, 1, 0, 0, ERROR_INV_STRUCT_SIZE, false},
      {"mask size", false, kMaskTall, true, 8, 6, 1, 0, 0, ERROR_POINT_OUT_OF_RANGE, false},
      {"mask size", true, kMaskTall, true, 16, 6, 1, 0, 0, ERROR_POINT_OUT_OF_RANGE, false},
      {"unallocated mask", false, kMaskBare, true, 8, 6, 1, 0, 0, ERROR_INV_PARAMETER, false},
      {"unallocated mask", true, kMaskBare, true, 16, 6, 1, 0, 0, ERROR_INV_PARAMETER, false},
      {"mask differing in all three", true, kMaskOther, true, 16, 6, 1, 0, 0, ERROR_INV_PARAMETER,
       false},
      {"unallocated bitmap", false, kUnallocated, false, 8, 6, 1, 0, 0, ERROR_INV_PARAMETER, false},
      {"32-bit gray", false, kGray32, false, 8, 6, 1, 0, 0, ERROR_UNSUPPORTED_ORDER, false},
      {"the same size", false, kNothing, false, 12, 6, 1, 0, 0, SUCCESS, true},
      {"the same size", true, kNothing, false, 12, 6, 1, 0, 0, SUCCESS, true},
      {"clamped to the size", false, kNothing, false, 40, 7, 1, 0, 0, SUCCESS, true},
      {"clamped to the size", true, kNothing, false, 3, 2, 1, 0, 0, SUCCESS, true},
      {"order 2", false, kNothing, false, 8, 4, 1, 2, 0, SUCCESS, true},
      {"order 2", true, kNothing, false, 16, 8, 1, 2, 0, SUCCESS, true},
      {"steps 0, width first, nothing to grow", true, kNothing, false, 12, 5, 0, 0, 0,
       ERROR_INV_PARAMETER, false},
      {"steps 0, height first: taken as 1", true, kNothing, false, 14, 7, 0, 1, 0, SUCCESS, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.what) + (c.up ? " up" : " down"));
    TestBitmap b(12, 6, 8, ORDER_GRAY), mask(12, 6, 24, ORDER_BGR);
    b.FillNoise(3);
    const auto stored = b.Stored();
    apply(c.spoil, b.get(), mask.get(), false);
    BitmapRecord* m = c.mask ? mask.get() : nullptr;
    EXPECT_EQ(c.up ? Fx_IntelligentUpScaleBitmap(b.get(), m, kNone, kNone, c.width, c.steps,
                                                 c.height, c.steps, c.order, c.flags)
                   : Fx_IntelligentDownScaleBitmap(b.get(), m, kNone, kNone, c.width, c.height,
                                                   c.order, c.flags),
              c.expected);
    apply(c.spoil, b.get(), mask.get(), true);
    if (c.unchanged) {
      EXPECT_EQ(b->BitsPerPixel, 8);
      EXPECT_EQ(b.Stored(), stored);
    } else if (c.expected == SUCCESS) {
      EXPECT_EQ(b->Width, c.width);
      EXPECT_EQ(b->Height, c.height);
    }
  }
  EXPECT_EQ(Fx_IntelligentDownScaleBitmap(nullptr, nullptr, kNone, kNone, 1, 1, 0, 0),
            ERROR_NO_BITMAP);
  EXPECT_EQ(Fx_IntelligentUpScaleBitmap(nullptr, nullptr, kNone, kNone, 1, 1, 1, 1, 0, 0),
            ERROR_NO_BITMAP);
}

// Reports seen by the status callback, and an optional cancel once a percentage is reached.
struct Reports {
  std::vector<int32_t> seen;
  int32_t cancelAt = 1000;
  static int32_t Callback(int32_t percent, void* user) {
    auto* r = static_cast<Reports*>(user);
    r->seen.push_back(percent);
    return percent >= r->cancelAt ? ERROR_HOST_CANCELLED : SUCCESS;
  }
};

TEST_F(IntelligentRescaleTest, ProgressRisesWithTheSeamsAndACancelStopsCleanly) {
  struct Case {
    const char* what;
    bool up;
    int w, target;
    std::vector<int32_t> expected;  // empty: check the shape only
  };
  std::vector<int32_t> all(101);
  for (int i = 0; i <= 100; ++i) all[i] = i;
  const Case cases[] = {
      {"7 seams: (s + 1) x 100 / 7", false, 100, 90, {0, 14, 28, 42, 57, 71, 85, 100}},
      {"147 seams: every hundredth", false, 300, 150, all},
      {"17 seams inserted",
       true,
       100,
       110,
       {0, 5, 11, 17, 23, 29, 35, 41, 47, 52, 58, 64, 70, 76, 82, 88, 94, 100, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const Picture p = BandPicture(c.w, 6, c.w / 4, c.w * 3 / 4, 1);
    for (int32_t cancelAt : {1000, 50}) {
      auto b = MakeBitmap(p);
      Reports r;
      r.cancelAt = cancelAt;
      HostExchangeCallback(&Reports::Callback, &r, nullptr, nullptr);
      const int32_t rc =
          c.up ? Fx_IntelligentUpScaleBitmap(b->get(), nullptr, kNone, kNone, c.target, 1, 6, 1, 0,
                                             0)
               : Fx_IntelligentDownScaleBitmap(b->get(), nullptr, kNone, kNone, c.target, 6, 0, 0);
      HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
      if (cancelAt == 1000) {
        EXPECT_EQ(rc, SUCCESS);
        EXPECT_EQ(r.seen, c.expected);
        EXPECT_EQ((*b)->Width, c.target);
      } else {
        EXPECT_EQ(rc, ERROR_HOST_CANCELLED);
        ASSERT_FALSE(r.seen.empty());
        EXPECT_GE(r.seen.back(), 50);
        EXPECT_TRUE(std::is_sorted(r.seen.begin(), r.seen.end()));
        EXPECT_EQ((*b)->Width, c.w);  // nothing written yet
        EXPECT_EQ(Read(b->get()).px, p.px);
      }
    }
  }
}

TEST_F(IntelligentRescaleTest, ACancelledCallGivesTheBitmapBackInItsOwnFormat) {
  for (bool up : {false, true}) {
    TestBitmap b(40, 6, 8, ORDER_GRAY);
    b.FillNoise(11);
    const auto before = b.Stored();
    Reports r;
    r.cancelAt = 50;
    HostExchangeCallback(&Reports::Callback, &r, nullptr, nullptr);
    const int32_t rc =
        up ? Fx_IntelligentUpScaleBitmap(b.get(), nullptr, kNone, kNone, 60, 1, 6, 1, 0, 0)
           : Fx_IntelligentDownScaleBitmap(b.get(), nullptr, kNone, kNone, 30, 6, 0, 0);
    HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(rc, ERROR_HOST_CANCELLED) << up;
    EXPECT_EQ(b->BitsPerPixel, 8) << up;
    EXPECT_EQ(b->Order, ORDER_GRAY) << up;
    EXPECT_EQ(b.Stored(), before) << up;
  }
}

TEST_F(IntelligentRescaleTest, EveryFailurePathCleansUp) {
  const Picture p = BandPicture(16, 10, 5, 9, 6);
  auto make = [&] {
    auto b = std::make_unique<TestBitmap>(16, 10, 24, ORDER_RGB, 4);
    fxtest::WriteWorkingRows(b->get(), p.px);
    return b;
  };
  auto down = fxtest::SweepFaults(
      make,
      [](BitmapRecord* b) {
        return Fx_IntelligentDownScaleBitmap(b, nullptr, kNone, kNone, 13, 8, 0, 0);
      },
      "down-scale");
  auto up = fxtest::SweepFaults(
      make,
      [](BitmapRecord* b) {
        return Fx_IntelligentUpScaleBitmap(b, nullptr, kNone, kNone, 19, 1, 12, 1, 1, 0);
      },
      "up-scale");
  EXPECT_GT(down.points, 40);
  EXPECT_GT(up.points, 40);
}

TEST_F(IntelligentRescaleTest, RegistryDefaultsGiveAVisibleChange) {
  for (const char* name : {"intelligent-down-scale", "intelligent-up-scale"}) {
    const FxEffectDesc* e = FxFindEffect(name);
    ASSERT_NE(e, nullptr) << name;
    auto b = MakeBitmap(BandPicture(64, 48, 20, 40, 3));
    ASSERT_EQ(FxInvoke(e, b->get(), nullptr, 0), SUCCESS) << name;
    EXPECT_EQ((*b)->Width, std::string(name) == "intelligent-down-scale" ? 48 : 80);
    EXPECT_EQ((*b)->Height, 48);
  }
  // 640 x 480 to 480 x 480 by name, as the command line passes it: no column left black.
  auto b = MakeBitmap(BandPicture(640, 480, 200, 300, 12));
  FxNamedValue values[2] = {{"newWidth", {}, 0}, {"newHeight", {}, 0}};
  values[0].value.i = 480, values[1].value.i = 480;
  ASSERT_EQ(FxInvoke(FxFindEffect("intelligent-down-scale"), b->get(), values, 2), SUCCESS);
  const Picture q = Read(b->get());
  ASSERT_EQ(q.w, 480);
  ASSERT_EQ(q.h, 480);
  for (int x = 0; x < q.w; ++x) {
    bool black = true;
    for (int y = 0; y < q.h && black; ++y)
      black = !q.at(x, y)[0] && !q.at(x, y)[1] && !q.at(x, y)[2];
    ASSERT_FALSE(black) << "column " << x;
  }
}

}  // namespace
