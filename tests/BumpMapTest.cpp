// Bump map: the checks and no-op tests in their order, a flat relief and the shift tables by
// hand, both placements against the formulas, the image as its own bump map, the height table,
// the bump map's region, and `heightTable=` on the command line.
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"
#ifdef FXKIT_CLI_PATH
#include "tools/fxkit/Values.h"
#endif

namespace {

using namespace fxtest;

BumpMapInfo Info(int32_t azimuth, uint32_t elevation, uint32_t depth, uint32_t tile = 0) {
  BumpMapInfo info{};
  info.size = 52;
  info.azimuth = azimuth;
  info.elevation = elevation;
  info.depth = depth;
  info.tile = tile;
  return info;
}

// A gray 8-bit bump map of the given levels (row by row).
struct Bump : TestBitmap {
  Bump(int32_t w, int32_t h, const std::vector<uint8_t>& levels) : TestBitmap(w, h, 8, ORDER_GRAY) {
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x)
        get()->Data[y * get()->BytesPerLine + x] =
            levels.size() == 1 ? levels[0] : levels[size_t(y) * w + x];
  }
};

TEST(BumpMapTest, ChecksAndNoOpsInTheirOrder) {
  std::vector<uint8_t> ramp(30);
  for (size_t i = 0; i < ramp.size(); ++i) ramp[i] = uint8_t(i * 53);
  Bump bump(6, 5, ramp);
  const auto call = [&](BumpMapInfo info, uint32_t flags = 0, BitmapRecord* other = nullptr) {
    return [=, &bump](BitmapRecord* b) mutable {
      return Fx_BumpMapBitmap(b, other ? other : bump.get(), &info, flags);
    };
  };
  const auto with = [&](auto change) {
    BumpMapInfo info = Info(45, 45, 2);
    change(info);
    return call(info);
  };
  Bump flat(6, 1, {9});
  CheckEntryCases({
      {"flags first", StructSize(0), call(Info(45, 45, 2), 1), ERROR_INV_PARAMETER},
      {"bitmap StructSize", StructSize(0), call(Info(45, 45, 2)), ERROR_INV_STRUCT_SIZE},
      {"null bump map", nullptr,
       [](BitmapRecord* b) {
         BumpMapInfo info = Info(45, 45, 2);
         return Fx_BumpMapBitmap(b, nullptr, &info, 0);
       },
       ERROR_NO_BITMAP},
      {"null record", nullptr,
       [&](BitmapRecord* b) { return Fx_BumpMapBitmap(b, bump.get(), nullptr, 0); },
       ERROR_NULL_INFO},
      {"size 51", nullptr, with([](auto& i) { i.size = 51; }), ERROR_INV_STRUCT_SIZE},
      {"brightness 1001 before the no-op", nullptr,
       with([](auto& i) { i.brightness = 1001, i.depth = 0; }), ERROR_INV_PARAMETER},
      {"intensity -1001", nullptr, with([](auto& i) { i.intensity = -1001; }), ERROR_INV_PARAMETER},
      {"depth 0", nullptr, with([](auto& i) { i.depth = 0; }), SUCCESS, kNone},
      {"azimuth 361", nullptr, with([](auto& i) { i.azimuth = 361; }), SUCCESS, kNone},
      {"elevation 181", nullptr, with([](auto& i) { i.elevation = 181; }), SUCCESS, kNone},
      {"destX = Width + 1", nullptr, with([](auto& i) { i.destX = 11; }), SUCCESS, kNone},
      {"bumpY = -(bump height) - 1", nullptr, with([](auto& i) { i.bumpY = -6; }), SUCCESS, kNone},
      {"limits accepted", nullptr,
       with([](auto& i) { i.azimuth = -360, i.elevation = 180, i.bumpX = -6, i.destY = 12; }),
       SUCCESS},
      {"a one-row bump map after the no-op tests", nullptr, call(Info(45, 45, 2), 0, flat.get()),
       ERROR_INV_PARAMETER},
  });
}

// One 8-bit gray pixel p under a flat bump map: d = trunc(L2), m = trunc(sqrt(L2)),
// shade = min(d / m, 255).
TEST(BumpMapTest, FlatReliefAndShiftTablesByHand) {
  const auto shade = [](uint32_t elevation, uint32_t depth, int32_t brightness, int32_t intensity,
                        uint8_t p) {
    TestBitmap b(3, 2, 8, ORDER_GRAY);
    for (int32_t y = 0; y < 2; ++y) std::fill_n(b->Data + y * b->BytesPerLine, 3, p);
    Bump bump(3, 3, {77});
    BumpMapInfo info = Info(10, elevation, depth);
    info.brightness = brightness, info.intensity = intensity;
    EXPECT_EQ(Fx_BumpMapBitmap(b.get(), bump.get(), &info, 0), SUCCESS);
    return b->Data[0];
  };
  // Light straight above, depth 1: L2 = 1530 x 255, d = 390150, m = 624, shade 255: unchanged.
  EXPECT_EQ(shade(90, 1, 0, 0, 200), 200);
  // Elevation 30, depth 4: L2 = 382 x sin 30 x 255 = 48705 less a hair, d = 48704, m = 220,
  // shade 221: 200 x 221 / 255.
  EXPECT_EQ(shade(30, 4, 0, 0, 200), 173);
  // Shifts on 256 entries: sOut = (100 x 256 + 500) / 1000 = 26, sIn = (-50 x 256 + 500) / 1000
  // = -12; 200 -> IN 188 -> OUT 214; 5 -> IN 0 -> OUT 26.
  EXPECT_EQ(shade(90, 1, 100, -50, 200), 214);
  EXPECT_EQ(shade(90, 1, 100, -50, 5), 26);
  // Elevation 0: L2 = 0, flat areas get shade 0 and become OUT[0].
  EXPECT_EQ(shade(0, 1, 100, 0, 200), 26);
}

// The bump map written out: levels as heights, the window rows clamped to 0 .. h - 2, the light
// vector, the shade, the placement, the shift tables.
struct BumpModel {
  std::vector<uint8_t> levels;
  int32_t bw, bh;
  BumpMapInfo info;

  int32_t Level(int32_t x, int32_t y) const {
    return levels[size_t(std::clamp(y, 0, bh - 2)) * bw + std::clamp(x, 0, bw - 1)];
  }
  uint32_t Shade(int32_t x, int32_t y) const {
    const int32_t gx = (Level(x - 1, y - 1) + Level(x - 1, y) + Level(x - 1, y + 1)) -
                       (Level(x + 1, y - 1) + Level(x + 1, y) + Level(x + 1, y + 1));
    const int32_t gy = (Level(x - 1, y + 1) + Level(x, y + 1) + Level(x + 1, y + 1)) -
                       (Level(x - 1, y - 1) + Level(x, y - 1) + Level(x + 1, y - 1));
    const double a = (info.azimuth < 0 ? info.azimuth + 360 : info.azimuth) * kPi / 180;
    const double e = info.elevation * kPi / 180;
    const double l0 = std::cos(a) * std::cos(e) * 255, l1 = std::sin(a) * std::cos(e) * 255;
    const double l2 = double(1530 / info.depth) * std::sin(e) * 255;
    const int32_t d = int32_t(gx * l0 + gy * l1 + l2);
    if (d < 0) return 0;
    const int32_t m = int32_t(std::sqrt(gx * gx + gy * gy + l2));
    return m == 0 ? 0 : std::min(d / m, 255);
  }
  static int32_t Wrap(int64_t v, int32_t n) { return int32_t(((v % n) + n) % n); }

  uint32_t Expected(const Sample& p) const {
    const int32_t W = p.s.width, H = p.s.height;
    int64_t bx, by;
    if (info.tile) {
      const int64_t left = std::max<int64_t>(info.destX, p.rc.left);
      const int64_t top = std::max<int64_t>(info.destY, p.rc.top);
      const int64_t right = std::min<int64_t>(int64_t{info.destX} + W, p.rc.right);
      const int64_t bottom = std::min<int64_t>(int64_t{info.destY} + H, p.rc.bottom);
      if (p.x < left || p.x >= right || p.y < top || p.y >= bottom) return p.before();
      bx = Wrap(int64_t{p.x} + (info.destX < 0 ? -info.destX : 0) + Wrap(info.bumpX, bw), bw);
      by = Wrap(int64_t{p.y} - info.destY + Wrap(info.bumpY, bh), bh);
    } else {
      int64_t dl = info.destX, sl = info.bumpX, dt = info.destY, st = info.bumpY;
      const int64_t mx = std::min(dl, sl), my = std::min(dt, st);
      if (mx < 0) dl -= mx, sl -= mx;
      if (my < 0) dt -= my, st -= my;
      const int64_t w = std::min(p.rc.right - dl, std::min<int64_t>(bw, sl + W) - sl);
      const int64_t h = std::min(p.rc.bottom - dt, std::min<int64_t>(bh, st + H) - st);
      if (p.x < dl || p.x >= dl + w || p.y < dt || p.y >= dt + h) return p.before();
      bx = p.x - dl + sl;
      by = p.y - dt + st;
    }
    const int64_t n = p.s.max() + 1;
    const auto shifted = [&](int64_t i, int32_t thousandths) {
      return std::clamp<int64_t>(i + (thousandths * n + 500) / 1000, 0, n - 1);
    };
    const int64_t v = shifted(p.before(), info.intensity) * Shade(int32_t(bx), int32_t(by)) / 255;
    return uint32_t(shifted(std::min<int64_t>(v, p.s.max()), info.brightness));
  }
};

TEST(BumpMapTest, BothPlacementsMatchTheFormulas) {
  std::vector<uint8_t> levels(9 * 7);
  for (size_t i = 0; i < levels.size(); ++i) levels[i] = uint8_t((i * 97 + i / 9 * 31) % 256);
  Bump bump(9, 7, levels);
  struct Case {
    const char* what;
    Scene scene;
    BumpMapInfo info;
  };
  const auto info = [](int32_t az, uint32_t el, uint32_t depth, uint32_t tile, int32_t bumpX,
                       int32_t bumpY, int32_t destX, int32_t destY, int32_t brightness,
                       int32_t intensity) {
    BumpMapInfo i = Info(az, el, depth, tile);
    i.bumpX = bumpX, i.bumpY = bumpY, i.destX = destX, i.destY = destY;
    i.brightness = brightness, i.intensity = intensity;
    return i;
  };
  const Case cases[] = {
      {"tiled, offsets", {20, 15, 24, ORDER_BGR}, info(-60, 35, 2, 1, -4, 3, 2, -3, 0, 0)},
      {"tiled, region, shifts",
       {20, 15, 48, ORDER_RGB, {2, 1, 18, 13}, 6},
       info(200, 50, 1, 1, 5, -6, -5, 4, 120, -80)},
      {"laid once inside", {20, 15, 8, ORDER_GRAY, {}, 3}, info(30, 20, 3, 0, 2, 1, 4, 6, 0, 0)},
      {"laid once, negative offsets",
       {20, 15, 32, ORDER_BGR, {1, 1, 19, 14}, 9},
       info(300, 20, 1, 0, -3, 2, 5, -1, -30, 40)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const BumpModel model{levels, 9, 7, c.info};
    EXPECT_GT(CompareWithReference(
                  c.scene,
                  [&](BitmapRecord* b) {
                    BumpMapInfo i = c.info;
                    return Fx_BumpMapBitmap(b, bump.get(), &i, 0);
                  },
                  [&](const Sample& p) { return model.Expected(p); }),
              10);
  }
}

TEST(BumpMapTest, ImageAsItsOwnBumpMapHeightTableAndBumpRegion) {
  // The image as its own bump map equals a separate copy of it, tiled and laid once.
  for (uint32_t tile : {0u, 1u}) {
    TestBitmap self(17, 11, 24, ORDER_BGR, 6), other(17, 11, 24, ORDER_BGR, 6);
    self.FillNoise(4);
    other.FillNoise(4);
    BitmapRecord copy{};
    ASSERT_EQ(HostCopyBitmap(&copy, other.get(), BITMAP_STRUCT_SIZE), SUCCESS);
    HostSetOrientation(nullptr, &copy, BITMAP_STRUCT_SIZE, 1, 0);  // as the private copy is seen
    BumpMapInfo a = Info(120, 40, 2, tile), b = a;
    a.destX = b.destX = 3;
    EXPECT_EQ(Fx_BumpMapBitmap(self.get(), self.get(), &a, 0), SUCCESS);
    EXPECT_EQ(Fx_BumpMapBitmap(other.get(), &copy, &b, 0), SUCCESS);
    EXPECT_EQ(self.Stored(), other.Stored()) << "tile " << tile;
    EXPECT_EQ(self->Orientation, 6);
    HostFreeBitmap(&copy);
  }
  // A height table that inverts the levels equals the inverted bump map.
  std::vector<uint8_t> levels(8 * 6), inverted(8 * 6);
  for (size_t i = 0; i < levels.size(); ++i)
    levels[i] = uint8_t(i * 41), inverted[i] = 255 - levels[i];
  std::vector<uint32_t> table(256);
  for (uint32_t g = 0; g < 256; ++g) table[g] = 0xABCD00 | (255 - g);  // only the low byte counts
  Bump plain(8, 6, levels), flipped(8, 6, inverted);
  TestBitmap x(12, 9, 24), y(12, 9, 24);
  x.FillNoise(2);
  y.FillNoise(2);
  BumpMapInfo withTable = Info(45, 45, 1, 1), without = withTable;
  withTable.heightTable = table.data();
  EXPECT_EQ(Fx_BumpMapBitmap(x.get(), plain.get(), &withTable, 0), SUCCESS);
  EXPECT_EQ(Fx_BumpMapBitmap(y.get(), flipped.get(), &without, 0), SUCCESS);
  EXPECT_EQ(x.Stored(), y.Stored());
  // Laid once, a bump pixel outside the bump map's region leaves its bitmap pixel alone.
  TestBitmap z(12, 9, 8, ORDER_GRAY);
  z.FillNoise(5);
  const auto before = z.Stored();
  const RECT region{2, 1, 5, 4};
  ASSERT_EQ(HostSetRegionRect(plain.get(), nullptr, &region, 1), SUCCESS);
  BumpMapInfo once = Info(45, 10, 1, 0);
  EXPECT_EQ(Fx_BumpMapBitmap(z.get(), plain.get(), &once, 0), SUCCESS);
  int32_t changed = 0;
  for (int32_t row = 0; row < 9; ++row)
    for (int32_t col = 0; col < 12; ++col) {
      const size_t at = size_t(row) * z->BytesPerLine + col;
      const bool inside = col >= 2 && col < 5 && row >= 1 && row < 4;
      if (!inside) {
        EXPECT_EQ(z->Data[at], before[size_t(row) * 12 + col]) << col << "," << row;
      }
      changed += z->Data[at] != before[size_t(row) * 12 + col];
    }
  EXPECT_GT(changed, 0);
}

#ifdef FXKIT_CLI_PATH
TEST(BumpMapTest, HeightTableOnTheCommandLine) {
  const FxEffectDesc* effect = FxFindEffect("bump-map");
  ASSERT_NE(effect, nullptr);
  std::string values;
  for (int32_t g = 0; g < 256; ++g) values += (g ? "," : "") + std::to_string(255 - g);
  fxcli::EffectArgs args(*effect);
  args.Add({"bumpBitmap=@card:16x12", "heightTable=" + values, "depth=2"});
  const auto& named = args.Values();
  const auto* info = static_cast<const BumpMapInfo*>(named[1].value.ptr);
  ASSERT_EQ(std::string(named[1].name), "info");
  const uint32_t* table = info->heightTable;  // a copy: the field is 4-byte aligned only
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table[0], 255u);
  EXPECT_EQ(table[255], 0u);
  EXPECT_EQ(info->depth, 2u);
  EXPECT_NE(args.Describe(nullptr).find("heightTable=255,254,"), std::string::npos);

  fxcli::EffectArgs shortList(*effect);
  shortList.Add("heightTable=1,2,3");
  EXPECT_THROW(shortList.Values(), fxcli::UsageError);
  fxcli::EffectArgs none(*effect);
  none.Add("info.heightTable=null");
  const uint32_t* nullTable =
      static_cast<const BumpMapInfo*>(none.Values()[0].value.ptr)->heightTable;
  EXPECT_EQ(nullTable, nullptr);
  EXPECT_THROW(none.Add("heightTable=1"), fxcli::UsageError);  // given twice
}
#endif

}  // namespace
