// Lens flare: its checks, the element profiles and blends on hand-checked values, every sample of
// the direct and the reduced path against an evaluation written out from the element tables and
// the rays' arithmetic, and a 16-bit picture against its 8-bit version.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <tuple>

#include "Common/LensFlare.h"
#include "EffectCheck.h"
#ifdef FXKIT_CLI_PATH
#include "tools/fxkit/Card.h"
#endif

namespace {

using namespace fxtest;

Call Flare(POINT center, uint32_t brightness, uint32_t type, uint32_t color, uint32_t seed = 1) {
  return [=](BitmapRecord* b) {
    HostSeedRandom(seed);
    return Fx_LensFlareBitmap(b, center, brightness, type, color);
  };
}

TEST(LensFlareTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  // clang-format off
  CheckEntryCases({
      {"struct size", StructSize(0), Flare({1, 1}, 100, 3, 0), ERROR_INV_STRUCT_SIZE},
      {"order before the centre", [](BitmapRecord* b) { b->Order = ORDER_GRAY; },
       Flare({99, 99}, 100, 0, 0), ERROR_UNSUPPORTED_ORDER},
      {"centre at x = right", nullptr, Flare({12, 3}, 100, 0, 0), bad},
      {"centre at y = -1", nullptr, Flare({3, -1}, 100, 0, 0), bad},
      {"type 3", nullptr, Flare({3, 3}, 100, 3, 0), bad},
      {"centre at right - 1, bottom - 1", nullptr, Flare({11, 9}, 100, 2, 0), SUCCESS, kSome},
  });
  // clang-format on
}

TEST(LensFlareTest, ProfilesAndBlendsByHand) {
  struct Profile {
    uint32_t kind;
    double d, s, w;
    uint32_t brightness;
    bool lit;
    double a;
  };
  const double inf = INFINITY;
  // clang-format off
  const Profile profiles[] = {
      {1, 5, 10, 0, 100, true, 0.25},   {1, 10, 10, 0, 100, false, 0}, {1, 0, 0, 0, 100, false, 0},
      {2, 9, 10, 2, 100, true, 0.5},    {2, 5, 10, 2, 100, true, 1},   {2, 3, 10, 0, 100, true, 1},
      {2, 10, 10, 0, 100, false, 0},    // rim 0 leaves d = s out
      {3, 9, 10, 2, 100, true, 0.5},    {3, 4, 10, 2, 100, true, 1 - 0.12 * 3},
      {4, 11, 10, 2, 100, true, 0.5},   {4, 9.5, 10, 2, 100, true, 0.75},
      {4, 12, 10, 2, 100, false, 0},    {9, 8, 10, 2, 100, false, 0},  {9, 10, 10, 2, 100, true, 1},
      {5, 5, 10, 0, 200, true, 0.5},    {7, 7.5, 10, 0, 100, true, 0.0625},
      {8, 5, 10, 0, 50, true, 0.25},    {6, 0, inf, 0, 100, false, 0},
  };
  // clang-format on
  for (const Profile& p : profiles) {
    double a = -7;
    EXPECT_EQ(fx::FlareCoverage(p.kind, p.d, p.s, p.w, p.brightness, &a), p.lit)
        << "kind " << p.kind << " d " << p.d;
    if (p.lit) {
      EXPECT_DOUBLE_EQ(a, p.a) << "kind " << p.kind << " d " << p.d;
    }
  }
  // 8-bit: p + (255 - p)·c·trunc(1000a) / 255000.
  EXPECT_EQ(fx::FlareBlend8(55, 100, 0.5), 94);  // 55 + 200·100·500 / 255000 = 55 + 39
  EXPECT_EQ(fx::FlareBlend8(200, 255, 1.0), 255);
  EXPECT_EQ(fx::FlareBlend8(100, 200, -0.1), 88);  // the dark centre of kind 3: -12
  EXPECT_EQ(fx::FlareBlend8(0, 0, 1e9), 0);
  EXPECT_EQ(fx::FlareBlend8(10, 255, 5e7), 255) << "wide products saturate";
  EXPECT_EQ(fx::FlareBlend8(10, 1, 1e300), 255);
  EXPECT_EQ(fx::FlareBlend8(10, 1, -1e300), 0);
  // 16-bit: 257 times the 8-bit step of the level p / 257.
  EXPECT_EQ(fx::FlareBlend16(257 * 55, 257 * 100, 0.5), 257 * 94);
  EXPECT_EQ(fx::FlareBlend16(1000, 25700, 0.5), 1000 + 257 * 49);  // level 3: 252·100·500 / 255000
  EXPECT_EQ(fx::FlareBlend16(60000, 65535, 3), 65535);
  EXPECT_EQ(fx::FlareBlend16(60000, 65535, -30), 0);
  EXPECT_EQ(fx::FlareBlend16(256, 65535, 0.0001), 256) << "no 8-bit step, no change";
  // Spot checks of the tables against the listing.
  uint32_t n = 0;
  const fx::FlareElement* t1 = fx::FlareTable(1, &n);
  ASSERT_EQ(n, 20u);
  EXPECT_FALSE(t1[13].square) << "type 1, element 14 evaluates its whole ring";
  EXPECT_TRUE(t1[14].square);
  EXPECT_EQ(fx::FlareTable(0, &n)[21].green, 70u);
  EXPECT_EQ(n, 24u);
  EXPECT_DOUBLE_EQ(fx::FlareTable(2, &n)[11].size, 0.38);
  EXPECT_EQ(fx::FlareTable(3, &n), nullptr);
}

// The working samples of a picture as signed values, row by row.
struct Picture {
  int32_t width, height, step, bits;
  std::vector<int64_t> v;
  int64_t& at(int32_t x, int32_t y, int32_t k) { return v[(size_t(y) * width + x) * step + k]; }
  int64_t max() const { return bits == 16 ? 65535 : 255; }
};

// The flare elements of `type`, drawn on rectangle rc of the picture with the light at (cx, cy).
void ReferenceFlare(Picture& pic, const RECT& rc, double cx, double cy, uint32_t brightness,
                    uint32_t type, uint32_t color) {
  uint32_t count = 0;
  const fx::FlareElement* table = fx::FlareTable(type, &count);
  const int32_t w = rc.right - rc.left, h = rc.bottom - rc.top;
  const double ic = rc.left + w / 2, jc = rc.top + h / 2, b = brightness / 100.0;
  for (int32_t y = rc.top; y < rc.bottom; ++y)
    for (int32_t x = rc.left; x < rc.right; ++x)
      for (uint32_t j = 0; j < count; ++j) {
        const fx::FlareElement& e = table[j];
        const bool ghost = e.kind <= 4, ring = e.kind == 4 || e.kind == 9;
        const double ex = ghost ? ic + e.t * (ic - cx) : cx, ey = ghost ? jc + e.t * (jc - cy) : cy;
        double size = e.size * w;
        if (e.kind >= 5 && e.kind <= 8) size *= b;
        const double rim = e.rim * w, reach = ring ? size + size * rim : size;
        if (x < int64_t(ex - reach) || x > int64_t(ex + reach) || y < int64_t(ey - reach) ||
            y > int64_t(ey + reach))
          continue;
        if (e.square) {
          const double s = (size - rim) / std::sqrt(2.0);
          if (x >= int64_t(ex - s) && x < int64_t(ex + s) && y >= int64_t(ey - s) &&
              y < int64_t(ey + s))
            continue;
        }
        const double d = std::hypot(ex - x, ey - y);
        double a;
        if (e.kind == 1 || (e.kind >= 5 && e.kind <= 8)) {
          const double q = (size - d) / size;
          if (!(q > 0)) continue;
          a = e.kind == 1 ? q * q : e.kind == 8 ? q * brightness / 100 : q * q * brightness / 100;
        } else if (ring) {
          const double q = std::fabs((size - d) / rim);
          if (!(q < 1)) continue;
          a = 1 - q;
        } else {
          const double q = (size - d) / rim;
          if (!(q > 0)) continue;
          a = e.kind == 2 ? std::min(q, 1.0) : (q <= 1 ? q : 1 - 0.12 * q);
        }
        int64_t rgb[3] = {e.red, e.green, e.blue};
        if (e.kind == 8)
          rgb[0] = color & 255, rgb[1] = (color >> 8) & 255, rgb[2] = (color >> 16) & 255;
        for (int64_t& c : rgb) c = int64_t(std::min(c * b, 255.0));
        const int64_t scale = pic.bits == 16 ? 257 : 1;  // the gray level mixes the 8-bit values
        const int64_t byChannel[3] = {rgb[2] * scale, rgb[1] * scale, rgb[0] * scale};
        for (int32_t k = 0; k < std::min(pic.step, 3); ++k) {
          const int64_t c =
              pic.step == 1 ? (2 * rgb[0] + 5 * rgb[1] + rgb[2] + 4) / 8 * scale : byChannel[k];
          int64_t& p = pic.at(x, y, k);
          if (pic.bits == 8) {
            p = std::clamp<int64_t>(p + (255 - p) * c * int64_t(a * 1000) / 255000, 0, 255);
          } else {  // 257 times the 8-bit step of the level
            const int64_t level = p / 257, c8 = c / 257;
            const int64_t v8 = std::clamp<int64_t>(
                level + (255 - level) * c8 * int64_t(a * 1000) / 255000, 0, 255);
            p = v8 == level ? p : (v8 == 0 || v8 == 255) ? v8 * 257 : p + 257 * (v8 - level);
          }
        }
      }
}

// The classic generator as the runtime defines it.
struct Lcg {
  uint32_t state;
  int32_t Next() {
    state = state * 214013u + 2531011u;
    return int32_t((state >> 16) & 0x7FFF);
  }
};

// The rays: lines of random length every `angleStep` degrees in groups of thickness + 1.
void ReferenceRays(Picture& pic, const RECT& rc, POINT c, uint32_t brightness, uint32_t type,
                   Lcg& lcg) {
  const int32_t angleStep = type == 0 ? 5 : type == 1 ? 7 : 10, thickness = type == 2 ? 3 : 2;
  const int32_t radius = int32_t((rc.right - rc.left) * 0.35);
  const int32_t top = std::max(rc.top, c.y - radius), bottom = std::min(rc.bottom, c.y + radius);
  const auto light = [&](int64_t x, int64_t y, int64_t k) {
    if (x >= rc.right) return;
    for (int32_t s = 0; s < std::min(pic.step, 3); ++s) {
      int64_t& p = pic.at(int32_t(x), int32_t(y), s);
      // 16-bit samples gain 257 times the 8-bit step of their level.
      const int64_t gain = int64_t(brightness) * k * (pic.max() - p);
      p = std::min(p + (pic.bits == 8 ? gain / 1000000 : gain / 257000000 * 257), pic.max());
    }
  };
  for (int32_t g = 0; g < 360; g += angleStep)
    for (int32_t a = g; a <= g + thickness; ++a) {
      const double phi = (a - 45) * 3.14 / 180;
      const int32_t draw = lcg.Next(), length = radius ? draw % radius : 0;
      for (int32_t r = 0; r < length; ++r) {
        const double px = c.x + r * std::cos(phi), py = (c.y - top) + r * std::sin(phi);
        if (px < rc.left || px > rc.right || py < 0 || py > rc.bottom - 1 || py > bottom - top - 2)
          continue;
        const int64_t ix = int64_t(px), iy = int64_t(py);
        const int64_t fx = int64_t(100 * (px - ix)), fy = int64_t(100 * (py - iy));
        const int64_t f0 = int64_t((1 - double(r) / length) * 2000);
        const int64_t f1 = int64_t((1 - double(r + 1) / length) * 2000);
        light(ix, top + iy, f0 * ((100 - fx) * (100 - fy)) / 10000);
        light(ix + 1, top + iy, f1 * (fx * (100 - fy)) / 10000);
        light(ix, top + iy + 1, f0 * ((100 - fx) * fy) / 10000);
        light(ix + 1, top + iy + 1, f1 * (fx * fy) / 10000);
      }
    }
}

Picture PictureOf(const Snapshot& s) {
  Picture p{s.width, s.height, s.step, s.bits, {}};
  for (uint32_t v : s.All()) p.v.push_back(v);
  return p;
}

std::vector<uint32_t> Samples(const Picture& p) {
  return {p.v.begin(), p.v.end()};
}

struct FlareCase {
  POINT center;
  uint32_t brightness, type, color, seed;
};

TEST(LensFlareTest, DirectPathMatchesTheDefinition) {
  struct Case {
    const char* what;
    Scene scene;
    FlareCase f;
  };
  // clang-format off
  const Case cases[] = {
      {"bgr24, type 0", {90, 60, 24, ORDER_BGR, {}, 1}, {{30, 18}, 100, 0, 0x0060A0FF, 3}},
      {"gray8, type 1, region", {80, 70, 8, ORDER_GRAY, {10, 5, 75, 66}, 0}, {{60, 20}, 150, 1, 0x00FFFFFF, 4}},
      {"rgb48, type 2", {100, 50, 48, ORDER_RGB, {}, 2}, {{80, 40}, 120, 2, 0x0080C0FF, 5}},
      {"bgr32, type 0, bright", {70, 64, 32, ORDER_BGR, {4, 4, 66, 60}, 3}, {{10, 50}, 5000, 0, 0x00FF8040, 6}},
      {"gray16, gray core by bit 26", {64, 48, 16, ORDER_GRAY, {}, 4}, {{20, 20}, 100, 0, 0x0400A0FF, 7}},
      {"bgr64, brightness 0", {50, 40, 64, ORDER_BGR, {}, 5}, {{5, 5}, 0, 1, 0x00FFFFFF, 8}},
      {"gray12, type 2", {60, 40, 12, ORDER_GRAY, {}, 6}, {{45, 10}, 200, 2, 0x00FFC080, 9}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const FlareCase f = c.f;
    const int32_t changed = CompareWithReference(
        c.scene, Flare(f.center, f.brightness, f.type, f.color, f.seed),
        FromModel([&](const Snapshot& s, BitmapRecord* b, const RECT& rc) {
          Picture pic = PictureOf(s);
          uint32_t color = f.color;
          if ((b->BitsPerPixel == 12 || b->BitsPerPixel == 16) && b->Order == ORDER_GRAY &&
              (color & (1u << 26)))
            color = ((color & 0xFFFF) >> 8) * 0x010101u;
          ReferenceFlare(pic, rc, f.center.x, f.center.y, f.brightness, f.type, color);
          Lcg lcg{f.seed};
          ReferenceRays(pic, rc, f.center, f.brightness, f.type, lcg);
          return Samples(pic);
        }));
    if (f.brightness > 0) {
      EXPECT_GT(changed, 200);
    }
  }
}

TEST(LensFlareTest, ReducedPathDrawsSmallEnlargesAndLightens) {
  struct Case {
    const char* what;
    Scene scene;
    FlareCase f;
  };
  // clang-format off
  const Case cases[] = {
      {"bgr24, 700 x 50", {700, 50, 24, ORDER_BGR, {}, 1}, {{200, 20}, 100, 0, 0x0060A0FF, 3}},
      {"gray8, 40 x 600, region", {40, 600, 8, ORDER_GRAY, {5, 30, 38, 590}, 2}, {{20, 100}, 130, 1, 0, 4}},
      {"rgb48, 530 x 60, region", {530, 60, 48, ORDER_RGB, {3, 2, 527, 58}, 0}, {{400, 30}, 100, 2, 0x00FFFFFF, 5}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const FlareCase f = c.f;
    CompareWithReference(
        c.scene, Flare(f.center, f.brightness, f.type, f.color, f.seed),
        FromModel([&](const Snapshot& s, BitmapRecord* b, const RECT& rc) {
          const int32_t width = rc.right - rc.left, height = rc.bottom - rc.top;
          const int32_t rw = width <= height ? int32_t(0.5 + 520.0 * width / height) : 520;
          const int32_t rh = width <= height ? 520 : int32_t(0.5 + 520.0 * height / width);
          // The flare on black at the reduced size, enlarged by the host's resize.
          TestBitmap small(rw, rh, b->BitsPerPixel, b->Order);
          Snapshot black = Snapshot::Of(small.get());
          Picture drawn = PictureOf(black);
          ReferenceFlare(drawn, {0, 0, rw, rh}, double(f.center.x - rc.left) * rw / width,
                         double(f.center.y - rc.top) * rh / height, f.brightness, f.type, f.color);
          std::vector<uint8_t> rows(black.rows.size());
          for (int32_t y = 0; y < rh; ++y)
            for (int32_t i = 0; i < rw * drawn.step; ++i) {
              const int64_t v = drawn.v[size_t(y) * rw * drawn.step + i];
              if (drawn.bits == 16)
                std::memcpy(&rows[size_t(y) * black.rowBytes + 2 * i], &v, 2);
              else
                rows[size_t(y) * black.rowBytes + i] = uint8_t(v);
            }
          WriteWorkingRows(small.get(), rows);
          EXPECT_EQ(HostResizeBitmap(small.get(), width, height, 4), SUCCESS);
          const Picture big = PictureOf(Snapshot::Of(small.get()));
          // Lightened into the rectangle, then the rays.
          Picture pic = PictureOf(s);
          for (int32_t y = 0; y < height; ++y)
            for (int32_t x = 0; x < width; ++x)
              for (int32_t k = 0; k < std::min(pic.step, 3); ++k) {
                int64_t& p = pic.at(rc.left + x, rc.top + y, k);
                p = std::max(p, big.v[(size_t(y) * width + x) * big.step + k]);
              }
          Lcg lcg{f.seed};
          ReferenceRays(pic, rc, f.center, f.brightness, f.type, lcg);
          return Samples(pic);
        }));
  }
}

// A 16-bit copy of an 8-bit picture (every sample x 257), both given the same flare.
struct DeepPair {
  BitmapRecord* eight;
  BitmapRecord deep{};
  DeepPair(BitmapRecord* picture, int32_t deepBits) : eight(picture) {
    EXPECT_EQ(HostConvertBitmap(&deep, eight, BITMAP_STRUCT_SIZE, deepBits,
                                deepBits == 16 ? ORDER_GRAY : ORDER_RGB, nullptr, 0, 0, 0, 0),
              SUCCESS);
  }
  ~DeepPair() { HostFreeBitmap(&deep); }
  // The largest |deep - 257 x eight|, the samples further off than `tolerance`, and the 8-bit
  // samples that changed.
  struct Gap {
    int64_t worst = 0, beyond = 0, changed = 0, samples = 0;
  };
  Gap Compare(const Snapshot& before, int64_t tolerance) {
    const Snapshot a = Snapshot::Of(eight), d = Snapshot::Of(&deep);
    Gap g;
    for (int32_t y = 0; y < a.height; ++y)
      for (int32_t x = 0; x < a.width; ++x)
        for (int32_t k = 0; k < a.step; ++k) {
          const int64_t gap = std::abs(int64_t(d.at(x, y, k)) - 257 * int64_t(a.at(x, y, k)));
          g.worst = std::max(g.worst, gap);
          g.beyond += gap > tolerance;
          g.changed += a.at(x, y, k) != before.at(x, y, k);
          ++g.samples;
        }
    return g;
  }
};

// A photo-like picture of the given size and format.
struct Photo {
#ifdef FXKIT_CLI_PATH
  fxcli::ImagePtr card;
  Photo(int32_t w, int32_t h) : card(fxcli::MakeCard(w, h)) {}
  BitmapRecord* get() {
    return card->get();
  }
#else
  TestBitmap smooth;
  Photo(int32_t w, int32_t h) : smooth(w, h, 24, ORDER_RGB) {
    smooth.FillSmooth();
  }
  BitmapRecord* get() {
    return smooth.get();
  }
#endif
};

// The whole flare: exactly 257 times the 8-bit flare on the direct path, and within 1 % of the
// sample range everywhere on the reduced path (whose enlargement rounds at each depth).
TEST(LensFlareTest, SixteenBitsShowTheEightBitFlare) {
  for (uint32_t type = 0; type < 3; ++type) {
    SCOPED_TRACE(type);
    for (const auto& [w, h] : {std::pair{640, 480}, {400, 300}}) {  // reduced and direct
      Photo photo(w, h);
      TestBitmap gray(w, h, 8, ORDER_GRAY);
      gray.FillSmooth();
      for (auto [picture, bits, center] : {std::tuple{photo.get(), 48, POINT{w / 3, h / 4}},
                                           {gray.get(), 16, POINT{2 * w / 3, h / 3}}}) {
        DeepPair pair(picture, bits);
        const Snapshot before = Snapshot::Of(picture);
        for (BitmapRecord* b : {pair.eight, &pair.deep}) {
          HostSeedRandom(21);
          ASSERT_EQ(Fx_LensFlareBitmap(b, center, 100, type, 0x0060A0FF), SUCCESS);
        }
        const DeepPair::Gap gap = pair.Compare(before, 655);
        EXPECT_EQ(gap.beyond, 0) << w << "x" << h << ", " << bits << " bits: off by over 1 %";
        if (w <= 520) {
          EXPECT_EQ(gap.worst, 0) << "the direct path is exact";
        }
        EXPECT_GT(gap.changed, gap.samples / 10) << "the flare is there";
      }
    }
  }
}

// Every failure path of the reduced path (scratch bitmap, enlargement, combination) cleans up.
TEST(LensFlareTest, ReducedPathFailuresCleanUp) {
  const FxEffectDesc* effect = FxFindEffect("lens-flare");
  ASSERT_NE(effect, nullptr);
  for (const fxrel::Scene& scene :
       {fxrel::Scene{fxrel::FormatNamed("bgr24"), 530, 6, 1, fxrel::RegionKind::Mask, 3},
        fxrel::Scene{fxrel::FormatNamed("gray16"), 5, 540, 1, fxrel::RegionKind::Rect, 4}}) {
    const SweepStats stats = SweepFaults(effect, scene);
    EXPECT_GT(stats.allocs, 10);
    EXPECT_GT(stats.writes, 10);
  }
}

}  // namespace
