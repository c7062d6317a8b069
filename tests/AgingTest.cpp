// Aging: its checks in order, and every sample against a model written out from the stated steps
// (colour preparation, the seed from the calendar time, the layer choice, scratches, dust, pit
// walks, then the grain and the paints in row order) for known seeds and times; the generator
// left where the serial grain leaves it; dense masks that end promptly.
#include <algorithm>

#include "EffectCheck.h"
#include "host/runtime/Runtime.h"

namespace {

using namespace fxtest;

struct Aging {
  uint32_t horz = 2, vert = 3, length = 6, dust = 30, pits = 20;
  int32_t pitLength = 5;
  COLORREF scratch = 0x102030, dustColor = 0x405060, pitsColor = 0x708090;
  uint32_t flags = 0x0F;
  int32_t operator()(BitmapRecord* b) const {
    return Fx_AgingBitmap(b, horz, vert, length, dust, pits, pitLength, scratch, dustColor,
                          pitsColor, flags);
  }
};
Call With(Aging a) {
  return [=](BitmapRecord* b) { return a(b); };
}

TEST(AgingTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  Aging high, top, over, shortScratch, shortUnused, dust, dustUnused, pits, pitsUnused, walk0,
      walk0Unused;
  high.flags = 0x80, top.flags = 0x8000, over.flags = 0x10000;
  shortScratch.length = 1, shortScratch.flags = 0x02;
  shortUnused.length = 1, shortUnused.flags = 0x0C;
  dust.dust = 1001, dust.flags = 0x04;
  dustUnused.dust = 1001, dustUnused.flags = 0x0B;
  pits.pits = 1001, pits.flags = 0x08;
  pitsUnused.pits = 1001, pitsUnused.flags = 0x07;
  walk0.pitLength = 0, walk0.flags = 0x08;
  walk0Unused.pitLength = 0, walk0Unused.flags = 0x07;
  // clang-format off
  CheckEntryCases({
      {"struct size first", StructSize(271), With(high), ERROR_INV_STRUCT_SIZE},
      {"flag 0x200 before allocation", [](BitmapRecord* b) { b->Flags = FLAG_UNSUPPORTED; },
       With(high), ERROR_UNSUPPORTED_FLAG},
      {"allocation before flags", [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; },
       With(high), ERROR_NO_BITMAP},
      {"flags 0x80", nullptr, With(high), bad},
      {"flags 0x8000", nullptr, With(top), bad},
      {"bits 16-31 are not looked at", nullptr, With(over), SUCCESS, kSome},
      {"scratch length 1", nullptr, With(shortScratch), bad},
      {"scratch length unused", nullptr, With(shortUnused), SUCCESS, kSome},
      {"dust density 1001", nullptr, With(dust), bad},
      {"dust density unused", nullptr, With(dustUnused), SUCCESS, kSome},
      {"pit density 1001", nullptr, With(pits), bad},
      {"pit density unused", nullptr, With(pitsUnused), SUCCESS, kSome},
      {"pit length 0", nullptr, With(walk0), bad},
      {"pit length unused", nullptr, With(walk0Unused), SUCCESS, kSome},
  });
  // clang-format on
}

TEST(AgingTest, AnEmptyRectangleIsRefused) {
  // The host never answers an empty region, so the rectangle is emptied through the record's
  // size: no draw may reach rand() % 0.
  TestBitmap b(8, 6, 24);
  for (const bool zeroWidth : {true, false})
    for (const uint32_t flags : {0x00u, 0x0Fu}) {
      BitmapRecord empty = *b.get();
      (zeroWidth ? empty.Width : empty.Height) = 0;
      Aging a;
      a.flags = flags;
      EXPECT_EQ(a(&empty), ERROR_EMPTY_RECT) << zeroWidth << " " << flags;
    }
}

// The stated steps, written out -------------------------------------------------------------

struct Lcg {
  uint32_t state;
  uint32_t Next() {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFF;
  }
};

// {b, g, r} of a colour as prepared for this bitmap.
std::vector<uint32_t> Prepared(const BitmapRecord* b, uint32_t c, bool scratch) {
  uint32_t r = c & 255, g = (c >> 8) & 255, bl = (c >> 16) & 255;
  const int32_t bpp = b->BitsPerPixel;
  const bool gray = b->Order == ORDER_GRAY;
  const bool shift = scratch ? (bpp == 12 || bpp == 16 || bpp == 48 || bpp == 64)
                             : (bpp == 12 || bpp == 48 || bpp == 64 || (bpp == 16 && gray));
  if (shift) r *= 256, g *= 256, bl *= 256;
  if ((bpp == 12 || bpp == 16) && gray && (c & 0x04000000)) r = g = bl = c & 0xFFFF;
  if (gray) r = g = bl = (bl + 5 * g + 2 * r) / 8;
  return {bl, g, r};
}

struct Model {
  std::vector<uint32_t> samples;  // ordered as Snapshot::All
  uint32_t stateAfter = 0;
};

Model ModelAging(const Snapshot& s, const BitmapRecord* b, const RECT& rc, const Aging& a,
                 uint32_t seed, int64_t time) {
  Lcg g{seed};
  const uint32_t w = uint32_t(rc.right - rc.left), h = uint32_t(rc.bottom - rc.top);
  std::vector<uint8_t> mask;
  if (a.flags & 0x0F) {
    mask.assign(size_t(w) * h, 0);
    g.state = uint32_t(time);
    const auto scratches = [&](uint32_t count, bool vertical) {
      for (uint32_t i = 0; i < count; ++i) {
        uint32_t x, y;
        do {
          y = g.Next() % h;
          x = g.Next() % w;
        } while (mask[size_t(y) * w + x] != 0);
        const uint32_t len = a.length - g.Next() % (a.length / 2);
        for (uint32_t t = 0; t < len; ++t) {
          const uint32_t px = vertical ? x : x + t, py = vertical ? y + t : y;
          if (px >= w || py >= h) break;
          mask[size_t(py) * w + px] = 1;
        }
      }
    };
    const auto dust = [&] {
      if (a.dust == 1000) return std::fill(mask.begin(), mask.end(), 2);
      for (uint64_t i = 0; i < uint64_t(w) * h * a.dust / 1000; ++i) {
        const uint32_t y = g.Next() % h, x = g.Next() % w;
        mask[size_t(y) * w + x] |= 2;
      }
    };
    const auto pits = [&] {
      if (a.pits == 1000) return std::fill(mask.begin(), mask.end(), 4);
      for (uint64_t i = 0; i < uint64_t(w) * h * a.pits / 1000; ++i) {
        uint32_t y = g.Next() % h, x = g.Next() % w;
        const int32_t n = int32_t(g.Next()) % a.pitLength;
        for (int32_t step = 0; step < n; ++step) {
          if (x >= w || y >= h) break;
          mask[size_t(y) * w + x] |= 4;
          if (g.Next() & 1)
            x += g.Next() % 3 - 1;
          else
            y += g.Next() % 3 - 1;
        }
      }
    };
    if (a.dust == 1000) {
      if (a.pits == 1000) {
        if (a.flags & 8) pits();
      } else if (a.flags & 4) {
        dust();
      }
    } else if (a.pits == 1000) {
      if (a.flags & 8) pits();
    } else {
      if (a.flags & 1) scratches(a.vert, true);
      if (a.flags & 2) scratches(a.horz, false);
      if (a.flags & 4) dust();
      if (a.flags & 8) pits();
    }
  }
  const std::vector<uint32_t> colours[3] = {Prepared(b, a.scratch, true),
                                            Prepared(b, a.dustColor, false),
                                            Prepared(b, a.pitsColor, false)};
  const uint32_t max = uint32_t(s.max());
  const int32_t channels = s.step >= 3 ? 3 : 1;
  Model m{s.All(), 0};
  for (int32_t y = rc.top; y < rc.bottom; ++y)
    for (int32_t x = rc.left; x < rc.right; ++x) {
      uint32_t* p = &m.samples[(size_t(y) * s.width + x) * s.step];
      for (int32_t k = 0; k < channels; ++k) {
        const uint32_t r1 = g.Next(), r2 = g.Next();
        uint32_t v = p[k] - ((p[k] & 252) >> 2);
        v += max == 255 ? (r1 & 24) + (r2 & 16) : (r1 & 0x1818) + (r2 & 0x1010);
        p[k] = std::min(v, max);
      }
      const uint8_t bits = mask.empty() ? 0 : mask[size_t(y - rc.top) * w + (x - rc.left)];
      for (int32_t layer = 0; layer < 3; ++layer)
        if (bits & (1 << layer))
          for (int32_t k = 0; k < channels; ++k)
            p[k] = (a.flags & (0x10u << layer)) ? colours[layer][k] : max - p[k];
    }
  m.stateAfter = g.state;
  return m;
}

TEST(AgingTest, RowStatesJumpAheadLikeDraws) {
  // The grain rows start from states jumped ahead by their draws; the jump must equal drawing.
  struct Case {
    uint32_t state;
    uint64_t draws;
  };
  const Case cases[] = {{1, 0}, {1, 1}, {4242, 2}, {0xFFFFFFFFu, 3}, {7, 1000}, {123456789, 65537}};
  for (const Case& c : cases) {
    Lcg g{c.state};
    for (uint64_t i = 0; i < c.draws; ++i) g.Next();
    EXPECT_EQ(fxrt::RandAdvance(c.state, c.draws), g.state) << c.state << " " << c.draws;
  }
  // The generator's period is 2^32 draws: a full period and its multiples come back.
  for (const uint32_t state : {0u, 99u, 0x80000001u}) {
    EXPECT_EQ(fxrt::RandAdvance(state, uint64_t{1} << 32), state);
    EXPECT_EQ(fxrt::RandAdvance(state, uint64_t{3} << 32), state);
  }
}

TEST(AgingTest, EverySampleFollowsTheStatedSteps) {
  struct Case {
    const char* what;
    Scene scene;
    Aging a;
  };
  const auto aging = [](uint32_t flags, auto&& adjust) {
    Aging a;
    a.flags = flags;
    adjust(a);
    return a;
  };
  const auto same = [](Aging&) {};
  // clang-format off
  const Case cases[] = {
      {"grain only, gray8", {13, 11, 8, ORDER_GRAY, {}, 1}, aging(0x00, same)},
      {"every layer inverted, bgr24, region", {14, 10, 24, ORDER_BGR, {3, 2, 12, 9}, 2},
       aging(0x0F, same)},
      {"every layer painted, bgr32 in view 6", {12, 13, 32, ORDER_BGR, {}, 3, 6},
       aging(0x7F, same)},
      {"scratches painted, rgb48 (colours x 256)", {11, 12, 48, ORDER_RGB, {}, 4},
       aging(0x13, [](Aging& a) { a.vert = 5, a.length = 40; })},
      {"gray16: saturating grain, literal dust colour", {15, 14, 16, ORDER_GRAY, {1, 2, 14, 13}, 0},
       aging(0x6C, [](Aging& a) { a.dustColor = 0x04001234; a.pitsColor = 0x04005678; })},
      {"gray12 in view 5", {10, 9, 12, ORDER_GRAY, {}, 6, 5}, aging(0x3F, same)},
      {"dust 1000 covers all, other layers not drawn", {9, 8, 24, ORDER_BGR, {}, 8},
       aging(0x2F, [](Aging& a) { a.dust = 1000; })},
      {"dust 1000 with its flag clear: pits not drawn", {9, 8, 24, ORDER_BGR, {}, 9},
       aging(0x48, [](Aging& a) { a.dust = 1000; })},
      {"pits 1000 win over dust 1000", {9, 8, 24, ORDER_BGR, {}, 10},
       aging(0x4C, [](Aging& a) { a.dust = 1000, a.pits = 1000; })},
      {"pits 1000, dust flag set", {9, 8, 64, ORDER_BGR, {}, 11},
       aging(0x0C, [](Aging& a) { a.pits = 1000; })},
      {"pit walks of length 1: none", {9, 8, 24, ORDER_BGR, {}, 12},
       aging(0x48, [](Aging& a) { a.pits = 500, a.pitLength = 1; })},
      {"negative pit length", {12, 10, 24, ORDER_BGR, {}, 13},
       aging(0x08, [](Aging& a) { a.pits = 100, a.pitLength = -9; })},
      {"long scratches both ways", {16, 12, 8, ORDER_GRAY, {}, 14},
       aging(0x03, [](Aging& a) { a.vert = 6, a.horz = 5, a.length = 1000; })},
  };
  // clang-format on
  const int64_t time = 1699999997;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t seed = 4242;
    HostFixTime(time);
    HostSeedRandom(seed);
    uint32_t after = 0;
    CompareWithReference(c.scene, With(c.a),
                         FromModel([&](const Snapshot& s, BitmapRecord* b, const RECT& rc) {
                           Model m = ModelAging(s, b, rc, c.a, seed, time);
                           after = m.stateAfter;
                           return m.samples;
                         }));
    // The generator stands where the serial grain leaves it.
    Lcg next{after};
    EXPECT_EQ(uint32_t(HostRandom()), next.Next());
  }
}

TEST(AgingTest, SixteenBitGrainNeverWrapsWhiteToBlack) {
  TestBitmap b(40, 30, 48);
  std::vector<uint8_t> white(WorkingRows(b.get()).size(), 0xFF);
  WriteWorkingRows(b.get(), white);
  Aging a;
  a.flags = 0;
  ASSERT_EQ(a(b.get()), SUCCESS);
  const Snapshot s = Snapshot::Of(b.get());
  uint32_t lowest = 65535;
  for (int32_t y = 0; y < 30; ++y)
    for (int32_t x = 0; x < 40; ++x)
      for (int32_t k = 0; k < 3; ++k) lowest = std::min(lowest, s.at(x, y, k));
  EXPECT_GE(lowest, 65535u - 63u);
}

TEST(AgingTest, DenseScratchesEndWhenTheMaskIsFull) {
  // Far more long scratches than a 17 x 13 mask can start: every position ends up scratched
  // (inverted after the grain) and the call returns.
  for (const uint32_t flags : {0x01u, 0x02u, 0x03u}) {
    TestBitmap b(17, 13, 8, ORDER_GRAY);
    Aging a;
    a.flags = flags, a.vert = a.horz = 4000000000u, a.length = 0xFFFFFFFFu;
    ASSERT_EQ(a(b.get()), SUCCESS);
    // Black samples grain to at most 40, inverted at least 215.
    for (int32_t y = 0; y < 13; ++y)
      for (int32_t x = 0; x < 17; ++x)
        EXPECT_GE(b->Data[int64_t{y} * b->BytesPerLine + x], 215) << x << "," << y;
  }
}

}  // namespace
