// Mosaic tiles and roman mosaic: their checks in order, the combine arithmetic, and the joints and
// tiles against the drawing steps written out here (the generator's draws in their order, the
// points and corners, the colours), drawn with the host's drawing on a reference mask.
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

class TileEffectsTest : public HostFixture {};

MosaicTilesInfo Info(uint32_t flags, uint32_t tileWidth = 4, uint32_t tileHeight = 4) {
  MosaicTilesInfo i{};
  i.StructSize = 48;
  i.Intensity = 100;
  i.LineWidth = 2;
  i.TileWidth = tileWidth;
  i.TileHeight = tileHeight;
  i.CenterX = 3;
  i.CenterY = 3;
  i.Flags = flags;
  i.ShadowParam1 = 7;
  i.ShadowParam2 = 0;
  i.LineColor = 0xFFFFFF;
  i.TileColor = 0;
  return i;
}

Call Mosaic(MosaicTilesInfo info, uint32_t flags = 0) {
  return [=](BitmapRecord* b) mutable { return Fx_MosaicTilesBitmap(b, &info, flags); };
}
template <class F>
Call MosaicWith(uint32_t flags, F&& change) {
  MosaicTilesInfo info = Info(flags);
  change(info);
  return Mosaic(info);
}

Call Roman(uint32_t tw, uint32_t th, uint32_t gw, uint32_t p1, uint32_t p2, uint32_t flags) {
  return
      [=](BitmapRecord* b) { return Fx_RomanMosaicBitmap(b, tw, th, gw, p1, p2, 0x808080, flags); };
}

// The entry bitmap is 12 x 10 in orientation 1: D = trunc(sqrt(244) + 1) = 16 for the mosaic;
// hw 6, hh 5, hd trunc(sqrt(61) + 1) / 2 = 4 for the roman mosaic.
TEST_F(TileEffectsTest, ChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  const Spoil flag200 = [](BitmapRecord* b) { b->Flags |= FLAG_UNSUPPORTED; };
  const Spoil gray32 = [](BitmapRecord* b) { b->Order = ORDER_GRAY; };
  MosaicTilesInfo small = Info(0);
  small.StructSize = 47;
  // clang-format off
  CheckEntryCases({
      {"mosaic: StructSize before flags", StructSize(0), Mosaic(Info(0), 1), ERROR_INV_STRUCT_SIZE},
      {"mosaic: flags before the order", gray32, Mosaic(Info(0), 1), bad},
      {"mosaic: the order", gray32, Mosaic(Info(0)), ERROR_UNSUPPORTED_ORDER},
      {"mosaic: null record", nullptr, [](BitmapRecord* b) { return Fx_MosaicTilesBitmap(b, nullptr, 0); }, bad},
      {"mosaic: record size 47", nullptr, Mosaic(small), ERROR_INV_STRUCT_SIZE},
      {"mosaic: Flags 34", nullptr, Mosaic(Info(34)), bad},
      {"mosaic: Flags 0x21 polar with gray shadow", nullptr, Mosaic(Info(0x21)), SUCCESS, kSome},
      {"mosaic: Intensity 101", nullptr, MosaicWith(0, [](auto& i) { i.Intensity = 101; }), bad},
      {"mosaic: LineWidth 0", nullptr, MosaicWith(0, [](auto& i) { i.LineWidth = 0; }), bad},
      {"mosaic: LineWidth 16", nullptr, MosaicWith(0, [](auto& i) { i.LineWidth = 16; }), bad},
      {"mosaic: grid TileWidth 0", nullptr, Mosaic(Info(0, 0, 4)), bad},
      {"mosaic: grid TileHeight huge", nullptr, Mosaic(Info(0, 4, 0xFFFFFFFF)), SUCCESS, kSome},
      {"mosaic: polar CenterX 13", nullptr, MosaicWith(1, [](auto& i) { i.CenterX = 13; }), bad},
      {"mosaic: polar CenterX 12", nullptr, MosaicWith(1, [](auto& i) { i.CenterX = 12; }), SUCCESS},
      {"mosaic: polar CenterY -1", nullptr, MosaicWith(1, [](auto& i) { i.CenterY = 0xFFFFFFFF; }), bad},
      {"mosaic: grid ignores the centre", nullptr, MosaicWith(0, [](auto& i) { i.CenterY = 99; }), SUCCESS},
      {"mosaic: polar TileHeight 17 > D", nullptr, Mosaic(Info(1, 10, 17)), bad},
      {"mosaic: polar TileHeight D", nullptr, Mosaic(Info(1, 10, 16)), SUCCESS},
      {"mosaic: polar TileWidth 361", nullptr, Mosaic(Info(1, 361, 4)), bad},
      {"mosaic: shadow direction 8", nullptr, MosaicWith(0x10, [](auto& i) { i.ShadowParam1 = 8; }), bad},
      {"mosaic: shadow level 256", nullptr, MosaicWith(0x20, [](auto& i) { i.ShadowParam2 = 256; }), bad},
      {"mosaic: no shadow, any direction", nullptr, MosaicWith(0, [](auto& i) { i.ShadowParam1 = 8; }), SUCCESS},
      {"mosaic: shadow on a refused bitmap", flag200, Mosaic(Info(0x10)), ERROR_UNSUPPORTED_FLAG},
      {"mosaic: flag 0x200 without shadow", flag200, Mosaic(Info(0)), SUCCESS, kSome},
      {"roman: StructSize", StructSize(0), Roman(3, 3, 1, 0, 0, 0), ERROR_INV_STRUCT_SIZE},
      {"roman: the order", gray32, Roman(3, 3, 1, 0, 0, 0), ERROR_UNSUPPORTED_ORDER},
      {"roman: flags 35", nullptr, Roman(3, 3, 1, 0, 0, 35), bad},
      {"roman: grid tileWidth 1", nullptr, Roman(1, 3, 1, 0, 0, 0), bad},
      {"roman: grid tileWidth hw", nullptr, Roman(6, 5, 1, 0, 0, 0), SUCCESS, kSome},
      {"roman: grid tileWidth 7", nullptr, Roman(7, 3, 1, 0, 0, 0), bad},
      {"roman: grid tileHeight 6", nullptr, Roman(3, 6, 1, 0, 0, 0), bad},
      {"roman: rings tileWidth hd", nullptr, Roman(4, 99, 1, 0, 0, 1), SUCCESS},
      {"roman: rings tileWidth 5", nullptr, Roman(5, 3, 1, 0, 0, 1), bad},
      {"roman: disc needs tileHeight", nullptr, Roman(4, 6, 1, 0, 0, 2), bad},
      {"roman: groutWidth 0", nullptr, Roman(3, 3, 0, 0, 0, 0), bad},
      {"roman: groutWidth 16", nullptr, Roman(3, 3, 16, 0, 0, 0), bad},
      {"roman: shadow direction 8", nullptr, Roman(3, 3, 1, 8, 0, 0x10), bad},
      {"roman: shadow level 256", nullptr, Roman(3, 3, 1, 0, 256, 0x20), bad},
      {"roman: shadow on a refused bitmap", flag200, Roman(3, 3, 1, 0, 0, 0x10), ERROR_UNSUPPORTED_FLAG},
      {"roman: layout 3 lays nothing", nullptr, Roman(99, 99, 1, 0, 0, 3), SUCCESS, kNone},
      {"roman: layout 15 with a shadow", nullptr, Roman(0, 0, 1, 0, 0, 0x1F), SUCCESS, kNone},
  });
  // clang-format on
  // Where the grid step is the difference (tileWidth >= width / 2 - 15), a step of 0 is refused.
  TestBitmap b(40, 40, 24);
  EXPECT_EQ(Fx_RomanMosaicBitmap(b.get(), 6, 6, 6, 0, 0, 0, 0), ERROR_INV_PARAMETER);
  EXPECT_EQ(Fx_RomanMosaicBitmap(b.get(), 6, 6, 5, 0, 0, 0, 0), SUCCESS);
}

// Pattern 2 draws no joints: every sample becomes p·k + m·k with m the tile colour's sample
// (x257 at 16 bits; the gray mask holds (b + 5g + 2r + 4) / 8), clamped and truncated.
TEST_F(TileEffectsTest, MosaicCombineArithmetic) {
  const COLORREF tile = 0x3080C0;  // blue 0x30, green 0x80, red 0xC0; gray 134
  const uint32_t colour[3] = {0x30, 0x80, 0xC0}, gray = (0x30 + 5 * 0x80 + 2 * 0xC0 + 4) / 8;
  for (uint32_t intensity : {70u, 100u}) {
    MosaicTilesInfo info = Info(0x02);
    info.Intensity = intensity;
    info.TileColor = tile;
    const Scene scenes[] = {
        {13, 9, 24, ORDER_BGR, {2, 1, 11, 8}, 0, 6},
        {9, 7, 64, ORDER_RGB, {}, 5},
        {8, 6, 8, ORDER_GRAY, {1, 1, 7, 5}, 0},
        {8, 6, 16, ORDER_GRAY, {}, 3},
    };
    for (const Scene& scene : scenes) {
      SCOPED_TRACE(::testing::Message() << scene.bpp << " bits, intensity " << intensity);
      CompareWithReference(scene, Mosaic(info), [&](const Sample& p) {
        const double k = intensity / 100.0, max = p.s.max();
        const double m = (p.s.step == 1 ? gray : colour[p.k]) * (p.s.bits == 16 ? 257.0 : 1.0);
        const double v = p.before() * k + m * k;
        return uint32_t(v > max ? max : v);
      });
    }
  }
}

// The next value >= v that is 1 modulo 3.
int64_t RaiseToOneModThree(int64_t v) {
  while (v % 3 != 1) ++v;
  return v;
}

// An 8-bit gray (joints) or 24-bit (tiles) picture drawn with the host's drawing.
class Reference {
 public:
  Reference(int32_t w, int32_t h, int32_t bpp, COLORREF fill)
      : bitmap_(w, h, bpp, bpp == 8 ? ORDER_GRAY : ORDER_BGR), dc_(nullptr) {
    EXPECT_EQ(HostFillBitmap(bitmap_.get(), fill), SUCCESS);
    dc_ = HostCreateBitmapDC(bitmap_.get());
  }
  ~Reference() { HostDeleteBitmapDC(dc_); }
  void Bezier(const std::vector<POINT>& points, int64_t count, int32_t width, COLORREF c) {
    HostDrawObject* pen = HostCreatePen(HOST_PEN_SOLID, width, c);
    HostDrawObject* old = HostSelectObject(dc_, pen);
    EXPECT_EQ(HostPolyBezier(dc_, points.data(), uint32_t(count)), SUCCESS);
    HostSelectObject(dc_, old);
    HostDeleteObject(pen);
  }
  void Tile(const POINT* corners, COLORREF c) {
    HostDrawObject* pen = HostCreatePen(HOST_PEN_SOLID, 1, c);
    HostDrawObject* brush = HostCreateBrush(c);
    HostDrawObject* oldPen = HostSelectObject(dc_, pen);
    HostDrawObject* oldBrush = HostSelectObject(dc_, brush);
    EXPECT_EQ(HostPolygon(dc_, corners, 4), SUCCESS);
    HostSelectObject(dc_, oldPen);
    HostSelectObject(dc_, oldBrush);
    HostDeleteObject(pen);
    HostDeleteObject(brush);
  }
  Snapshot Rows() { return Snapshot::Of(bitmap_.get()); }

 private:
  TestBitmap bitmap_;
  HostDC* dc_;
};

// The mosaic's joints as the steps give them, from the generator as it stands.
void DrawJoints(Reference& ref, const MosaicTilesInfo& info, int32_t wr, int32_t hr) {
  const auto rnd = [] { return int64_t{HostRandom()}; };
  const int64_t diagonal = int64_t(std::floor(std::sqrt(double(wr * wr + hr * hr))) + 2.0) - 2;
  const int32_t pen = int32_t(info.LineWidth);
  if ((info.Flags & 15) == 0) {
    const auto joint = [&](int64_t n, int64_t o, bool alongX, int64_t count) {
      std::vector<POINT> p;
      for (int64_t q = 0; q < (n - 1) / 3; ++q) {
        const int64_t across = rnd() % 5 + o + 1;
        p.push_back(alongX ? POINT{int32_t(3 * q), int32_t(across)}
                           : POINT{int32_t(across), int32_t(3 * q)});
      }
      const int64_t across = rnd() % 5 + o + 1;
      const POINT end =
          alongX ? POINT{int32_t(n + 1), int32_t(across)} : POINT{int32_t(across), int32_t(n + 1)};
      p.insert(p.end(), 3, end);
      ref.Bezier(p, count, pen, info.LineColor);
    };
    for (int64_t j = 0; j <= hr / info.TileHeight; ++j)
      joint(wr, j * info.TileHeight, true, RaiseToOneModThree((wr + 2) / 3));
    for (int64_t i = 0; i <= wr / info.TileWidth; ++i)
      joint(hr, i * info.TileWidth, false, RaiseToOneModThree((hr + 2) / 3));
    return;
  }
  const double cx = info.CenterX, cy = info.CenterY;
  for (int64_t k = 1; k <= diagonal / info.TileHeight; ++k) {
    std::vector<POINT> ring;
    for (int32_t i = 0; i < 72; ++i) {
      const double r = double(rnd() % 5 + k * info.TileHeight + 1);
      const double a = (i * 5) * 3.14159265 / 180.0;
      ring.push_back(POINT{int32_t(r * std::cos(a) + cx), int32_t(r * std::sin(a) + cy)});
    }
    ring.push_back(ring[0]);
    ref.Bezier(ring, 73, pen, info.LineColor);
  }
  const int64_t rays = RaiseToOneModThree(diagonal / 3);
  for (int64_t k = 1; k <= 360 / info.TileWidth; ++k) {
    std::vector<POINT> ray;
    for (int64_t i = 0; i < rays; ++i) {
      const double a = double(rnd() % 3 + k * info.TileWidth + 1) * 3.14159265 / 180.0;
      ray.push_back(POINT{int32_t(double(3 * i) * std::cos(a) + cx),
                          int32_t(double(3 * i) * std::sin(a) + cy)});
    }
    ref.Bezier(ray, rays, pen, info.LineColor);
  }
}

// On a black picture with intensity 100 and a black tile colour the result is the mask itself:
// the joints in the line colour, nothing else, placed relative to the region's corner. The polar
// cases have rectangles so small that a ring (73 points) outnumbers the point count P.
TEST_F(TileEffectsTest, MosaicJointsFollowTheSteps) {
  struct Case {
    const char* what;
    int32_t width, height, bpp;
    uint32_t order;
    RECT region;
    MosaicTilesInfo info;
  };
  MosaicTilesInfo grid = Info(0x00, 7, 5), polar = Info(0x01, 40, 3), tiny = Info(0x01, 90, 2);
  grid.LineWidth = 3;
  polar.CenterX = 9, polar.CenterY = 4;
  tiny.CenterX = 2, tiny.CenterY = 5, tiny.LineWidth = 1, tiny.LineColor = 0x0000FF;
  const Case cases[] = {
      {"grid in a region", 30, 20, 24, ORDER_BGR, {4, 3, 26, 17}, grid},
      {"grid on 16-bit gray", 17, 12, 16, ORDER_GRAY, {}, grid},
      {"polar, diagonal 16", 14, 10, 24, ORDER_RGB, {1, 2, 13, 10}, polar},
      {"polar on 5 x 6, red joints", 5, 6, 48, ORDER_BGR, {}, tiny},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestBitmap b(c.width, c.height, c.bpp, c.order);
    const bool region = c.region.right > 0;
    const RECT rc = region ? c.region : RECT{0, 0, c.width, c.height};
    if (region) {
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &rc, 1), SUCCESS);
    }
    MosaicTilesInfo info = c.info;
    HostSeedRandom(4242);
    ASSERT_EQ(Fx_MosaicTilesBitmap(b.get(), &info, 0), SUCCESS);
    const Snapshot got = Snapshot::Of(b.get());

    const int32_t wr = rc.right - rc.left, hr = rc.bottom - rc.top;
    const bool gray = got.step == 1;
    Reference ref(wr, hr, gray ? 8 : 24, 0);
    HostSeedRandom(4242);
    DrawJoints(ref, info, wr, hr);
    const Snapshot mask = ref.Rows();
    int32_t joints = 0;
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x)
        for (int32_t k = 0; k < got.step; ++k) {
          const bool inside = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
          uint32_t want = inside ? mask.at(x - rc.left, y - rc.top, k) : 0;
          if (got.bits == 16) want *= 257;
          joints += want != 0;
          ASSERT_EQ(got.at(x, y, k), want) << x << "," << y << " sample " << k;
        }
    EXPECT_GT(joints, 0);
  }
}

// With a shadow the level is scaled to the sample range: the same as the joints without shadow
// followed by add shadow with level x257 (16 bits), v << 4 | v >> 4 (12 bits) or v (8 bits).
TEST_F(TileEffectsTest, ShadowLevelFollowsTheSampleRange) {
  const struct {
    int32_t bpp;
    uint32_t order, level, scaled;
  } cases[] = {
      {48, ORDER_BGR, 120, 120 * 257},
      {16, ORDER_GRAY, 200, 200 * 257},
      {12, ORDER_GRAY, 0xAB, 0xABA},
      {24, ORDER_RGB, 90, 90},
  };
  for (const auto& c : cases) {
    for (uint32_t mode : {0u, 1u}) {
      SCOPED_TRACE(::testing::Message() << c.bpp << " bits, mode " << mode);
      TestBitmap shaded(16, 12, c.bpp, c.order), plain(16, 12, c.bpp, c.order);
      shaded.FillNoise(8);
      plain.FillNoise(8);
      MosaicTilesInfo info = Info(0x00 | (mode + 1) << 4, 5, 4);
      info.ShadowParam1 = 3, info.ShadowParam2 = c.level, info.Intensity = 90;
      HostSeedRandom(7);
      ASSERT_EQ(Fx_MosaicTilesBitmap(shaded.get(), &info, 0), SUCCESS);
      info.Flags = 0x00;
      HostSeedRandom(7);
      ASSERT_EQ(Fx_MosaicTilesBitmap(plain.get(), &info, 0), SUCCESS);
      ASSERT_EQ(Fx_AddShadowBitmap(plain.get(), 3, c.scaled, mode), SUCCESS);
      EXPECT_TRUE(shaded.Stored() == plain.Stored());
    }
  }
}

// rnd(lo, n) of the roman mosaic.
int32_t Rnd(int32_t lo, int32_t n) {
  return int32_t(std::min<uint32_t>(uint32_t(HostRandom() % n + lo), uint32_t(n)));
}

struct RomanTiles {
  uint32_t tileWidth, tileHeight, groutWidth;
  COLORREF grout;
};

// The colour of the picture at (x, y), the position clamped into it (8-bit samples).
COLORREF ColourAt(const Snapshot& s, int64_t x, int64_t y) {
  x = std::clamp<int64_t>(x, 0, s.width - 1), y = std::clamp<int64_t>(y, 0, s.height - 1);
  if (s.step == 1) return s.at(x, y, 0) * 0x010101u;
  return s.at(x, y, 2) | s.at(x, y, 1) << 8 | s.at(x, y, 0) << 16;
}

// The grid tiles as the steps give them: steps, counts, offsets and corners, drawn in the colour
// under each tile's first corner.
void DrawGrid(Reference& ref, const Snapshot& image, const RECT& rc, const RomanTiles& t) {
  const uint32_t wr = rc.right - rc.left, hr = rc.bottom - rc.top;
  struct Axis {
    uint32_t step, count, offset;
  };
  const auto axis = [&](uint32_t tile, uint32_t size) {
    uint32_t step = tile < size / 2 - 15u ? tile + t.groutWidth : tile - t.groutWidth;
    const uint32_t count = size / step;
    uint32_t rest = size - step * count;
    if (rest > count && count != 0) step += rest / count, rest %= count;
    return Axis{step, count, rest / 2};
  };
  const Axis ax = axis(t.tileWidth, wr), ay = axis(t.tileHeight, hr);
  const int32_t j = int32_t(std::max(t.groutWidth / 2, 1u));
  for (uint32_t i = 0; i < ay.count; ++i)
    for (uint32_t k = 0; k < ax.count; ++k) {
      const int32_t x0 = ax.offset + k * ax.step, x1 = ax.offset + (k + 1) * ax.step;
      const int32_t y0 = ay.offset + i * ay.step, y1 = ay.offset + (i + 1) * ay.step;
      POINT p[4];
      p[0].x = x0 + Rnd(1, j), p[0].y = y0 + Rnd(1, j);
      p[1].x = x1 - Rnd(1, j), p[1].y = y0 + Rnd(1, j);
      p[2].x = x1 - Rnd(1, j), p[2].y = y1 - Rnd(1, j);
      p[3].x = x0 + Rnd(1, j), p[3].y = y1 - Rnd(1, j);
      ref.Tile(p, ColourAt(image, rc.left + p[0].x, rc.top + p[0].y));
    }
}

// The rings as the steps give them; returns the last ring's bounding rectangle.
RECT DrawRings(Reference& ref, const Snapshot& image, const RECT& rc, const RomanTiles& tiles,
               bool inscribed) {
  const int64_t wr = rc.right - rc.left, hr = rc.bottom - rc.top;
  const int32_t t = tiles.tileWidth, g = std::max<int32_t>(tiles.groutWidth, 2);
  const int32_t cx = wr / 2, cy = hr / 2;
  const int64_t bigR =
      inscribed ? std::min(wr, hr) / 2 : int64_t(std::sqrt(double(wr * wr + hr * hr))) / 2;
  RECT disc{0, 0, 0, 0};
  for (int32_t i = 0; i < bigR / (t + 2 * g); ++i) {
    const int32_t ri = (i + 1) * t + (2 * i + 1) * g, ro = ri + t + g;
    const int32_t c = int32_t(6.2831853 * ri), n = c / (t + 2 * g), rest = c % (t + 2 * g);
    const double at = (t + rest / n) / double(ri), ag = g / double(ri);
    const double s = Rnd(0, 360) * 3.14159265 / 180.0;
    for (int32_t m = 0; m < n; ++m) {
      double a = s + m * at + (2 * m + 1) * ag, b = a + at;
      const auto corner = [&](double angle, int32_t r) {
        return POINT{int32_t(std::floor(cx + r * std::cos(angle))),
                     int32_t(std::floor(cy + r * std::sin(angle)))};
      };
      POINT q[4];
      a -= Rnd(0, g / 2) / double(ri);
      q[0] = corner(a, ri - Rnd(2, g));
      a -= Rnd(0, g / 2) / double(ri);
      q[1] = corner(a, ro - Rnd(2, g));
      b += Rnd(0, g / 2) / double(ri);
      q[2] = corner(b, ro - Rnd(2, g));
      b += Rnd(0, g / 2) / double(ri);
      q[3] = corner(b, ri - Rnd(2, g));
      ref.Tile(q, ColourAt(image, rc.left + q[3].x, rc.top + q[3].y));
    }
    disc = RECT{cx - ro - g, cy - ro - g, cx + ro + g, cy + ro + g};
  }
  return disc;
}

// Every layout on colour and gray pictures with a region: the mask of grout and tiles replaces the
// region; layout 2's rings are centred on the region and brought back inside the last ring's
// bounding rectangle.
TEST_F(TileEffectsTest, RomanTilesFollowTheSteps) {
  struct Case {
    const char* what;
    int32_t width, height, bpp;
    uint32_t order;
    RECT region;
    RomanTiles tiles;
    uint32_t layout;
  };
  const Case cases[] = {
      // 100 wide: 10 < 50 - 15, so the step is 10 + 3 = 13, 7 tiles, the rest 9 > 7 widens the
      // step to 14 and leaves 2, an offset of 1.
      {"grid, 100 wide", 100, 24, 24, ORDER_BGR, {}, {10, 5, 3, 0x2040E0}, 0},
      {"grid on gray in a region", 31, 22, 8, ORDER_GRAY, {3, 2, 29, 20}, {4, 3, 1, 0x10F080}, 0},
      {"grid, step the difference", 80, 20, 24, ORDER_RGB, {}, {30, 4, 6, 0x000000}, 0},
      {"rings", 41, 33, 24, ORDER_BGR, {}, {5, 0, 2, 0xFFFFFF}, 1},
      {"rings in a region", 50, 40, 24, ORDER_BGR, {6, 4, 44, 37}, {4, 0, 3, 0x203040}, 1},
      {"grid with a disc, off-centre region",
       60,
       44,
       24,
       ORDER_BGR,
       {10, 6, 58, 40},
       {4, 4, 2, 0xC0C0C0},
       2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    TestBitmap b(c.width, c.height, c.bpp, c.order);
    b.FillNoise(31);
    const bool region = c.region.right > 0;
    const RECT rc = region ? c.region : RECT{0, 0, c.width, c.height};
    if (region) {
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &rc, 1), SUCCESS);
    }
    const Snapshot image = Snapshot::Of(b.get());
    HostSeedRandom(99);
    ASSERT_EQ(Fx_RomanMosaicBitmap(b.get(), c.tiles.tileWidth, c.tiles.tileHeight,
                                   c.tiles.groutWidth, 0, 0, c.tiles.grout, c.layout),
              SUCCESS);
    const Snapshot got = Snapshot::Of(b.get());

    // The grout as the mask is filled: the colour, or its rounded gray on gray pictures.
    const bool gray = image.step == 1;
    const uint32_t r = c.tiles.grout & 255, g = (c.tiles.grout >> 8) & 255,
                   bl = c.tiles.grout >> 16;
    const uint32_t v = (5 * g + 2 * r + bl + 4) >> 3;
    const COLORREF fill = gray ? v * 0x010101u : c.tiles.grout;
    const int32_t wr = rc.right - rc.left, hr = rc.bottom - rc.top;
    Reference tiles(wr, hr, 24, fill), rings(wr, hr, 24, fill);
    HostSeedRandom(99);
    RECT disc{0, 0, 0, 0};
    if (c.layout == 1) DrawRings(tiles, image, rc, c.tiles, false);
    if (c.layout == 2) disc = DrawRings(rings, image, rc, c.tiles, true);
    if (c.layout != 1) DrawGrid(tiles, image, rc, c.tiles);
    const Snapshot mask = tiles.Rows(), discMask = rings.Rows();
    for (int32_t y = 0; y < c.height; ++y)
      for (int32_t x = 0; x < c.width; ++x) {
        const bool inside = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
        const int32_t mx = x - rc.left, my = y - rc.top;
        const bool inDisc =
            mx >= disc.left && mx < disc.right && my >= disc.top && my < disc.bottom;
        const Snapshot& from = inDisc ? discMask : mask;
        for (int32_t k = 0; k < got.step; ++k) {
          uint32_t want = image.at(x, y, k);
          if (inside && gray)
            want = (from.at(mx, my, 0) + 5 * from.at(mx, my, 1) + 2 * from.at(mx, my, 2) + 4) / 8;
          else if (inside)
            want = from.at(mx, my, k);
          ASSERT_EQ(got.at(x, y, k), want) << x << "," << y << " sample " << k;
        }
      }
  }
}

}  // namespace
