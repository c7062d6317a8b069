// Ring effect, puzzle, dice and fragment: their own checks, a tile permutation worked by hand,
// the fit-to-whole-tiles sizes, and every pixel against direct models that follow the steps
// (rings turned pixel by pixel, tiles copied, flipped, mirrored and transposed in place, borders
// painted row by row, the four-neighbour means).
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

struct Lcg {
  uint32_t state;
  int32_t Next() {
    state = state * 214013u + 2531011u;
    return int32_t((state >> 16) & 0x7FFFu);
  }
};

// A colour as the ring's fill and the tile borders take it: b, g, r (x257 at 16 bits) or one
// gray level, bits 0-15 with bit 26 at 16 bits.
std::vector<uint32_t> LevelColour(uint32_t c, const Snapshot& s) {
  const uint32_t r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255, m = s.bits == 16 ? 257 : 1;
  if (s.step >= 3) return {b * m, g * m, r * m};
  const uint32_t level =
      s.bits == 16 && (c & 0x04000000u) ? c & 0xFFFF : ((5 * g + 2 * r + b + 4) >> 3) * m;
  return {level, level, level};
}

// A rectangle of whole pixels (every working sample) taken out of a snapshot and put back.
struct Pixels {
  int32_t w, h, step;
  std::vector<uint32_t> v;
  uint32_t* at(int32_t x, int32_t y) { return &v[(size_t(y) * w + x) * step]; }
  static Pixels Of(const Snapshot& s, RECT rc) {
    Pixels p{rc.right - rc.left, rc.bottom - rc.top, s.step, {}};
    for (int32_t y = rc.top; y < rc.bottom; ++y)
      for (int32_t x = rc.left; x < rc.right; ++x)
        for (int32_t k = 0; k < s.step; ++k) p.v.push_back(s.at(x, y, k));
    return p;
  }
  std::vector<uint32_t> Into(const Snapshot& s, RECT rc) const {
    std::vector<uint32_t> out = s.All();
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        for (int32_t k = 0; k < step; ++k)
          out[(size_t(rc.top + y) * s.width + rc.left + x) * s.step + k] =
              v[(size_t(y) * w + x) * step + k];
    return out;
  }
};

// Ring effect -----------------------------------------------------------------------------------

struct RingParams {
  int32_t cx, cy;
  uint32_t radius, count, seed, fill;
  int32_t angle;
  uint32_t flags;
};

std::vector<uint32_t> ModelRing(const Snapshot& s, RECT rc, const RingParams& p, uint32_t tick) {
  int64_t w = p.radius, n = p.count;
  if (p.flags & 0x200) {
    w = p.radius / (p.count + 1);
    if (w < 2) w = 2, n = p.radius;
  }
  const int64_t m = (n + 1) * w + 2;
  const RECT a{int32_t(std::max<int64_t>(p.cx - m, rc.left)),
               int32_t(std::max<int64_t>(p.cy - m, rc.top)),
               int32_t(std::min<int64_t>(p.cx + m, rc.right)),
               int32_t(std::min<int64_t>(p.cy + m, rc.bottom))};
  std::vector<double> theta(static_cast<size_t>(n));
  Lcg g{p.seed ? p.seed : tick};
  for (int64_t k = 0; k < n; ++k)
    theta[k] = p.flags & 0x10 ? (k + 1) * (p.angle / 100.0) * (kPi / 180.0)
                              : -1.0 * ((g.Next() % 360) * kPi / 180.0);
  std::vector<uint32_t> out = s.All();
  const int32_t colours = s.step >= 3 ? 3 : 1;
  const auto fill = LevelColour(p.fill, s);
  for (int32_t y = a.top; y < a.bottom; ++y)
    for (int32_t x = a.left; x < a.right; ++x) {
      const int64_t dx = x - p.cx, dy = y - p.cy;
      const int64_t r = int64_t(std::sqrt(double(dy * dy + dx * dx)));
      if (r < w || r > (n + 1) * w) continue;
      const double t = theta[std::clamp<int64_t>(r / w - 1, 0, n - 1)];
      int32_t sx = int32_t(dx * std::cos(t) - dy * std::sin(t) + p.cx);
      int32_t sy = int32_t(dx * std::sin(t) + dy * std::cos(t) + p.cy);
      const bool inside = sx >= rc.left && sx < rc.right && sy >= rc.top && sy < rc.bottom;
      for (int32_t k = 0; k < colours; ++k) {
        uint32_t& o = out[(size_t(y) * s.width + x) * s.step + k];
        if (!inside && (p.flags & 3) == 2) continue;
        if (!inside && (p.flags & 3) == 0) {
          o = fill[k];
          continue;
        }
        if (!inside)
          sx = std::clamp(sx, a.left, a.right - 1), sy = std::clamp(sy, a.top, a.bottom - 1);
        o = s.at(sx, sy, k);
      }
    }
  return out;
}

Call Ring(const RingParams& p) {
  return [=](BitmapRecord* b) {
    return Fx_RingEffectBitmap(b, p.cx, p.cy, p.radius, p.count, p.seed, p.fill, p.angle, p.flags);
  };
}

TEST(TilesTest, RingEntryChecks) {
  // 12 x 10 in orientation 1: the diagonal D is 15.
  const RingParams ok{6, 5, 8, 3, 9, 0, 1000, 0x211};
  const auto with = [&](auto change) {
    RingParams p = ok;
    change(p);
    return Ring(p);
  };
  const auto bad = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"accepted", nullptr, Ring(ok), SUCCESS, kSome},
      {"centre x = width", nullptr, with([](RingParams& p) { p.cx = 12; }), SUCCESS},
      {"centre x = width + 1", nullptr, with([](RingParams& p) { p.cx = 13; }), bad},
      {"centre y negative", nullptr, with([](RingParams& p) { p.cy = -1; }), bad},
      {"radius D", nullptr, with([](RingParams& p) { p.radius = 15; }), SUCCESS},
      {"radius D + 1", nullptr, with([](RingParams& p) { p.radius = 16; }), bad},
      {"radius 1", nullptr, with([](RingParams& p) { p.radius = 1; }), bad},
      {"ringCount D div 2 + 1", nullptr, with([](RingParams& p) { p.count = 8; }), bad},
      {"seed 501", nullptr, with([](RingParams& p) { p.seed = 501; }), bad},
      {"angle 18001", nullptr, with([](RingParams& p) { p.angle = 18001; }), bad},
      {"flags 531", nullptr, with([](RingParams& p) { p.flags = 531; }), bad},
      {"flags 530", nullptr, with([](RingParams& p) { p.flags = 530; }), SUCCESS},
      {"no ring width: refused", nullptr, with([](RingParams& p) { p.flags = 0x11; }), bad},
      {"stepped angle 0 changes nothing", nullptr, with([](RingParams& p) { p.angle = 0; }),
       SUCCESS, kNone},
  });
}

TEST(TilesTest, RingMatchesTheRingsTurnedPixelByPixel) {
  constexpr uint32_t kTick = 4321;
  const struct {
    Scene scene;
    RingParams p;
  } cases[] = {
      {{40, 30, 24, ORDER_BGR, {}, 7}, {20, 15, 14, 3, 0, 0x3080FF, 3000, 0x210}},
      {{33, 25, 16, ORDER_GRAY, {2, 3, 30, 22}, 0}, {5, 20, 4, 4, 17, 0, 0, 0x101}},
      {{29, 21, 64, ORDER_RGB, {}, 5}, {29, 0, 5, 10, 0, 0, 0, 0x202}},  // w = 2, n = 5; tick seed
      {{26, 18, 16, ORDER_GRAY, {}, 0}, {13, 9, 9, 2, 3, 0x0400ABCD, 0, 0x200}},  // bit 26 fill
      {{24, 20, 8, ORDER_GRAY, {4, 4, 20, 16}, 9}, {12, 10, 6, 1, 0, 0x00FF00, -9000, 0x113}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "bpp " << c.scene.bpp << " flags " << c.p.flags);
    HostFixTickCount(kTick);
    const int32_t changed = CompareWithReference(
        c.scene, Ring(c.p), FromModel([&](const Snapshot& s, BitmapRecord*, const RECT& rc) {
          return ModelRing(s, rc, c.p, kTick);
        }));
    HostReleaseClocks();
    EXPECT_GT(changed, 0);
  }
}

// Puzzle and dice: the tile grid -----------------------------------------------------------------

// The tile-grid painter written out: rows 0, th, ..., th - 1, 2th - 1, ... and row 1 whole; in
// every row columns 0, tw, ..., tw - 1, ... and column 1.
void Borders(Pixels& d, int32_t tw, int32_t th, const std::vector<uint32_t>& c) {
  if (tw < 5 || th < 5) return;
  const int32_t colours = d.step >= 3 ? 3 : 1;
  const auto paint = [&](int32_t x, int32_t y) {
    for (int32_t k = 0; k < colours; ++k) d.at(x, y)[k] = c[k];
  };
  for (int32_t y = 0; y < d.h; ++y) {
    const bool whole = y % th == 0 || y % th == th - 1 || y == 1;
    for (int32_t x = 0; x < d.w; ++x)
      if (whole || x % tw == 0 || x % tw == tw - 1 || x == 1) paint(x, y);
  }
}

void CopyTile(Pixels& d, const Pixels& s, int32_t dx, int32_t dy, int32_t sx, int32_t sy, int32_t w,
              int32_t h) {
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      std::copy_n(&s.v[(size_t(sy + y) * s.w + sx + x) * s.step], s.step, d.at(dx + x, dy + y));
}

std::vector<uint32_t> Permutation(uint32_t count, uint32_t seed) {
  std::vector<uint32_t> p(count);
  for (uint32_t i = 0; i < count; ++i) p[i] = i;
  Lcg g{seed};
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t a = uint32_t(g.Next());
    std::swap(p[i], p[a * uint32_t(g.Next()) % count]);
  }
  return p;
}

struct TileParams {
  uint32_t tileX, tileY, seed, flags, border;
};

std::vector<uint32_t> ModelPuzzle(const Snapshot& s, RECT rc, const TileParams& p, uint32_t tick) {
  const Pixels src = Pixels::Of(s, rc);
  Pixels d = src;
  const int32_t W = src.w, H = src.h;
  int32_t tw, th, cols, rows;
  if (p.flags & 0x10) {
    tw = p.tileX, th = p.tileY, cols = (W + tw - 1) / tw, rows = (H + th - 1) / th;
  } else {
    tw = W / p.tileX, th = H / p.tileY;
    cols = p.tileX + (W % p.tileX != 0), rows = p.tileY + (H % p.tileY != 0);
  }
  const int32_t rw = W % tw, rh = H % th, category = (rw != 0) + 2 * (rh != 0);
  const uint32_t seed = p.seed ? p.seed : tick;
  const std::vector<std::vector<uint32_t>> perms[4] = {
      {Permutation(rows * cols, seed)},
      {Permutation((cols - 1) * rows, seed), Permutation(rows, seed)},
      {Permutation((rows - 1) * cols, seed), Permutation(cols, seed)},
      {Permutation((rows - 1) * (cols - 1), seed), Permutation(rows - 1, seed),
       Permutation(cols - 1, seed)}};
  const auto& P = perms[category];
  if (p.flags & 2) {
    const int32_t fc = category & 1 ? cols - 1 : cols;
    for (uint32_t i = 0; i < P[0].size(); ++i)
      CopyTile(d, src, (i % fc) * tw, (i / fc) * th, (P[0][i] % fc) * tw, (P[0][i] / fc) * th, tw,
               th);
    if (category == 1)
      for (int32_t i = 0; i < rows; ++i)
        CopyTile(d, src, (cols - 1) * tw, i * th, (cols - 1) * tw, P[1][i] * th, rw, th);
    if (category == 2)
      for (int32_t i = 0; i < cols; ++i)
        CopyTile(d, src, i * tw, (rows - 1) * th, P[1][i] * tw, (rows - 1) * th, tw, rh);
    if (category == 3) {
      for (int32_t i = 0; i < rows - 1; ++i)
        CopyTile(d, src, (cols - 1) * tw, i * th, (cols - 1) * tw, P[1][i] * th, rw, th);
      for (int32_t i = 0; i < cols - 1; ++i)
        CopyTile(d, src, i * tw, (rows - 1) * th, P[2][i] * tw, (rows - 1) * th, tw, rh);
    }
  }
  if (p.flags & 1) Borders(d, tw, th, LevelColour(p.border, s));
  return d.Into(s, rc);
}

Call Puzzle(const TileParams& p) {
  return [=](BitmapRecord* b) {
    return Fx_PuzzleEffectBitmap(b, p.tileX, p.tileY, p.seed, p.flags, p.border);
  };
}
Call Dice(const TileParams& p) {
  return [=](BitmapRecord* b) {
    return Fx_DiceEffectBitmap(b, p.tileX, p.tileY, p.seed, p.flags, p.border);
  };
}

TEST(TilesTest, PuzzleAndDiceEntryChecks) {
  // 12 x 10 in orientation 1.
  const auto bad = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"puzzle tileX = width", nullptr, Puzzle({12, 2, 1, 0x12, 0}), SUCCESS},
      {"puzzle tileX > width", nullptr, Puzzle({13, 2, 1, 0x12, 0}), bad},
      {"puzzle tileY 0", nullptr, Puzzle({2, 0, 1, 0x12, 0}), bad},
      {"puzzle size and count", nullptr, Puzzle({2, 2, 1, 0x32, 0}), bad},
      {"puzzle neither", nullptr, Puzzle({2, 2, 1, 0x02, 0}), bad},
      {"puzzle flags 0x124", nullptr, Puzzle({2, 2, 1, 0x124, 0}), bad},
      {"puzzle seed 501", nullptr, Puzzle({2, 2, 501, 0x12, 0}), bad},
      {"puzzle 0x10 alone copies out and back", nullptr, Puzzle({3, 3, 1, 0x10, 0}), SUCCESS,
       kNone},
      {"dice flags 0", nullptr, Dice({2, 2, 1, 0, 0}), bad},
      {"dice size and count", nullptr, Dice({2, 2, 1, 0x30, 0}), bad},
      {"dice no tile size: refused", nullptr, Dice({2, 2, 1, 0x101, 0}), bad},
      {"dice flags 290", nullptr, Dice({2, 2, 1, 290, 0}), bad},
      {"dice flags 289", nullptr, Dice({2, 2, 1, 289, 0}), SUCCESS, kSome},
      {"dice tileX > width", nullptr, Dice({13, 2, 1, 0x10, 0}), bad},
  });
}

TEST(TilesTest, PuzzleMatchesTileByTileCopies) {
  constexpr uint32_t kTick = 77;
  const struct {
    Scene scene;
    TileParams p;
  } cases[] = {
      {{31, 22, 24, ORDER_BGR, {}, 7}, {4, 3, 7, 0x23, 0xFFFFFF}},  // partial column and row
      {{11, 11, 24, ORDER_RGB, {}, 2}, {4, 4, 5, 0x22, 0}},         // rows and columns 9, 10 stay
      {{20, 15, 16, ORDER_GRAY, {}, 0}, {6, 4, 0, 0x12, 0}},        // tick seed
      {{36, 30, 48, ORDER_BGR, {3, 2, 33, 29}, 4}, {3, 2, 9, 0x23, 0x2060A0}},  // partial row only
      {{40, 26, 16, ORDER_GRAY, {}, 6}, {6, 5, 3, 0x13, 0x04001234}},  // 16-bit gray border
      {{30, 24, 32, ORDER_BGR, {}, 8}, {5, 4, 2, 0x21, 0x00FF00}},     // borders, no shuffle
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "bpp " << c.scene.bpp << " flags " << c.p.flags);
    HostFixTickCount(kTick);
    CompareWithReference(c.scene, Puzzle(c.p),
                         FromModel([&](const Snapshot& s, BitmapRecord*, const RECT& rc) {
                           return ModelPuzzle(s, rc, c.p, kTick);
                         }));
    HostReleaseClocks();
  }
}

TEST(TilesTest, FitResizesToWholeTiles) {
  // Without a region the bitmap itself takes the fitted size: size mode, 100 wide with tiles of
  // 30: 100 mod 30 = 10 < 15, so 3 columns and 90 (tiles of 40: 20 >= 20, 3 columns and 120);
  // count mode, 3 columns: 100 mod 3 = 1 is not below 3 div 2, so 102.
  const struct {
    uint32_t tileX, tileY, flags;
    int32_t width, height;
  } cases[] = {{30, 20, 0x110, 90, 40}, {3, 3, 0x120, 102, 42}, {40, 16, 0x110, 120, 48}};
  for (const auto& c : cases)
    for (bool dice : {false, true}) {
      TestBitmap b(100, 40, 24);
      b.FillNoise(5);
      const TileParams p{c.tileX, c.tileY, 1, c.flags, 0};
      EXPECT_EQ((dice ? Dice(p) : Puzzle(p))(b.get()), SUCCESS);
      EXPECT_EQ(b->Width, c.width) << c.flags << (dice ? " dice" : " puzzle");
      EXPECT_EQ(b->Height, c.height) << c.flags << (dice ? " dice" : " puzzle");
    }
  // With a region the rectangle is resized by the host and put back, clipped to the bitmap.
  TestBitmap b(50, 30, 24);
  fxrel::Bitmap copy;  // an empty record the copy fills
  b.FillSmooth();
  const RECT region{10, 5, 45, 25};
  ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &region, 1), SUCCESS);
  ASSERT_EQ(HostCopyBitmapRect(copy.get(), b.get(), 272, 10, 5, 35, 20), SUCCESS);
  ASSERT_EQ(HostResizeBitmap(copy.get(), 36, 20, 4), SUCCESS);  // 35 -> 3 tiles of 12
  const Snapshot resized = Snapshot::Of(copy.get());
  ASSERT_EQ(Fx_PuzzleEffectBitmap(b.get(), 12, 10, 1, 0x110, 0), SUCCESS);
  const Snapshot s = Snapshot::Of(b.get());
  EXPECT_EQ(s.width, 50);
  for (int32_t y = 5; y < 25; ++y)
    for (int32_t x = 10; x < 45; ++x)
      for (int32_t k = 0; k < 3; ++k)
        ASSERT_EQ(s.at(x, y, k), resized.at(x - 10, y - 5, k)) << x << "," << y;
}

// The dice's pieces turned in place, as the steps describe.
void Flip(Pixels& d, int32_t x, int32_t y, int32_t w, int32_t h) {
  for (int32_t i = 0; i < h / 2; ++i)
    for (int32_t c = 0; c < w; ++c)
      std::swap_ranges(d.at(x + c, y + i), d.at(x + c, y + i) + d.step, d.at(x + c, y + h - 1 - i));
}
void Mirror(Pixels& d, int32_t x, int32_t y, int32_t w, int32_t h) {
  for (int32_t r = 0; r < h; ++r)
    for (int32_t i = 0; i < w / 2; ++i)
      std::swap_ranges(d.at(x + i, y + r), d.at(x + i, y + r) + d.step, d.at(x + w - 1 - i, y + r));
}
void Transpose(Pixels& d, int32_t x, int32_t y, int32_t t) {
  for (int32_t i = 0; i < t; ++i)
    for (int32_t j = i + 1; j < t; ++j)
      std::swap_ranges(d.at(x + i, y + j), d.at(x + i, y + j) + d.step, d.at(x + j, y + i));
}

std::vector<uint32_t> ModelDice(const Snapshot& s, RECT rc, const TileParams& p) {
  Pixels d = Pixels::Of(s, rc);
  const int32_t W = d.w, H = d.h;
  const int32_t tw = p.flags & 0x20 ? W / p.tileX : p.tileX;
  const int32_t th = p.flags & 0x20 ? H / p.tileY : p.tileY;
  const int32_t rw = W % tw, rh = H % th;
  Lcg g{p.seed};
  const auto general = [&](int32_t k, int32_t x, int32_t y, int32_t w, int32_t h) {
    if (k == 1) Flip(d, x, y, w, h);
    if (k == 2) Mirror(d, x, y, w, h), Flip(d, x, y, w, h);
    if (k == 3) Mirror(d, x, y, w, h);
  };
  for (int32_t y = 0; y < H - rh; y += th)
    for (int32_t x = 0; x < W - rw; x += tw) {
      const int32_t k = g.Next() % 4;
      if (tw != th) {
        general(k, x, y, tw, th);
      } else {
        if (k == 1) Transpose(d, x, y, tw), Mirror(d, x, y, tw, th);
        if (k == 2) Mirror(d, x, y, tw, th), Flip(d, x, y, tw, th);
        if (k == 3) Transpose(d, x, y, tw), Flip(d, x, y, tw, th);
      }
    }
  if (rw != 0)
    for (int32_t y = 0; y < H;) {
      const int32_t r = g.Next(), left = H - y;
      const int32_t h = left >= 2 * th || left == th ? th : left;
      general(r % 4, W - rw, y, rw, h);
      y += h;
    }
  if (rh != 0)
    for (int32_t x = 0; x < W - rw; x += tw) general(g.Next() % 4, x, H - rh, tw, rh);
  if (p.flags & 1) Borders(d, tw, th, LevelColour(p.border, s));
  return d.Into(s, rc);
}

TEST(TilesTest, DiceMatchesPiecesTurnedInPlace) {
  const struct {
    Scene scene;
    TileParams p;
  } cases[] = {
      {{14, 11, 24, ORDER_BGR, {}, 7}, {4, 4, 3, 0x10, 0}},     // square: quarter turns
      {{17, 10, 24, ORDER_RGB, {}, 2}, {5, 3, 9, 0x10, 0}},     // strip pieces 3, 3, 4
      {{12, 100, 8, ORDER_GRAY, {}, 4}, {5, 30, 11, 0x10, 0}},  // strip pieces 30, 30, 40
      {{24, 20, 48, ORDER_BGR, {2, 1, 22, 19}, 5}, {3, 2, 21, 0x21, 0xFF8040}},  // count, borders
      {{21, 21, 16, ORDER_GRAY, {}, 0}, {7, 7, 500, 0x11, 0x04000F0F}},  // square, 16-bit gray
      {{19, 13, 64, ORDER_RGB, {}, 3}, {6, 6, 8, 0x11, 0x00FFFF}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.scene.width << "x" << c.scene.height << " tiles "
                                      << c.p.tileX << "x" << c.p.tileY);
    CompareWithReference(c.scene, Dice(c.p),
                         FromModel([&](const Snapshot& s, BitmapRecord*, const RECT& rc) {
                           return ModelDice(s, rc, c.p);
                         }));
  }
}

// Fragment -------------------------------------------------------------------------------------

std::vector<uint32_t> ModelFragment(const Snapshot& s, RECT rc, int32_t offset,
                                    uint32_t intensity) {
  std::vector<uint32_t> out = s.All();
  const int64_t d = std::abs(int64_t{offset}), rows = rc.bottom - rc.top;
  const double q = intensity / 200.0;
  const int32_t colours = s.step >= 3 ? 3 : 1;
  for (int64_t i = 0; i < rows; ++i) {
    const int32_t r1 = int32_t(rc.top + std::max<int64_t>(i - d, 0));
    const int32_t r2 = int32_t(rc.top + std::min<int64_t>(i + d, rows - 1));
    for (int64_t x = rc.left; x < rc.right; ++x) {
      const int32_t c1 = int32_t(std::max<int64_t>(x - d, rc.left));
      const int32_t c2 = int32_t(std::min<int64_t>(x + d, rc.right - 1));
      for (int32_t k = 0; k < colours; ++k) {
        const int32_t a = int32_t((s.at(c1, r1, k) + s.at(c2, r2, k)) * q);
        const int32_t b = int32_t((s.at(c2, r1, k) + s.at(c1, r2, k)) * q);
        out[(size_t(rc.top + i) * s.width + x) * s.step + k] = uint32_t((a + b) >> 1);
      }
    }
  }
  return out;
}

TEST(TilesTest, FragmentEntryChecksAndTheFourNeighbourMean) {
  const auto call = [](int32_t offset, uint32_t intensity, uint32_t flags) {
    return [=](BitmapRecord* b) { return Fx_FragmentBitmap(b, offset, intensity, flags); };
  };
  CheckEntryCases({
      {"struct size before the flags", StructSize(0), call(3, 50, 1), ERROR_INV_STRUCT_SIZE},
      {"flags 1", nullptr, call(3, 50, 1), ERROR_INV_PARAMETER},
      {"intensity 101", nullptr, call(3, 101, 0), ERROR_INV_PARAMETER},
      {"offset 0 at 100 percent keeps every pixel", nullptr, call(0, 100, 0), SUCCESS, kNone},
  });
  const struct {
    Scene scene;
    int32_t offset;
    uint32_t intensity;
  } cases[] = {
      {{23, 17, 24, ORDER_BGR, {}, 7}, 3, 77},
      {{19, 15, 16, ORDER_GRAY, {2, 3, 17, 12}, 0}, -2, 100},  // 16 bits, absolute offset
      {{15, 9, 64, ORDER_RGB, {}, 5}, INT32_MIN, 100},         // clamped to the corners
      {{12, 10, 48, ORDER_BGR, {}, 4}, 5, 0},                  // black
      {{9, 14, 12, ORDER_GRAY, {}, 2, 6}, 1, 60},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "bpp " << c.scene.bpp << " offset " << c.offset);
    CompareWithReference(c.scene, call(c.offset, c.intensity, 0),
                         FromModel([&](const Snapshot& s, BitmapRecord*, const RECT& rc) {
                           return ModelFragment(s, rc, c.offset, c.intensity);
                         }));
  }
}

}  // namespace
