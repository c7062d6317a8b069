// Pointillist and colored balls: their own checks, the dot masks on hand-worked radii, and every
// pixel and the number of draws against a direct model that stamps dot after dot as the steps
// describe (the canvas, the height table, the product-table blends, the shading, the gradients).
#include <algorithm>
#include <cmath>
#include <functional>

#include "Common/Pointillist.h"
#include "EffectCheck.h"

namespace {

using namespace fxtest;

// The generator, drawn independently of the library's.
struct Lcg {
  uint32_t state;
  int32_t Next() {
    state = state * 214013u + 2531011u;
    return int32_t((state >> 16) & 0x7FFFu);
  }
};

// A disc mask of radius r over (2r + 1)² points, written out from the steps.
struct Mask {
  int32_t r;
  std::vector<int32_t> v;
  int32_t& at(int64_t dx, int64_t dy) { return v[size_t((dy + r) * (2 * r + 1) + dx + r)]; }
  int32_t get(int64_t dx, int64_t dy) const { return v[size_t((dy + r) * (2 * r + 1) + dx + r)]; }
};

Mask Coverage(int32_t r) {
  Mask k{r, std::vector<int32_t>(size_t(2 * r + 1) * (2 * r + 1), 0)};
  for (int64_t dy = -r; dy <= r; ++dy)
    for (int64_t dx = -r; dx <= r; ++dx)
      if (dx * dx + dy * dy <= int64_t{r} * r) k.at(dx, dy) = 255;
  const auto raise = [&](int64_t dx, int64_t dy, double w) {
    k.at(dx, dy) = int32_t(std::min(255 * w + k.at(dx, dy), 255.0));
  };
  const auto sixteen = [&](int64_t i, double y) {
    const int64_t fy = int64_t(y), cy = std::min<int64_t>(fy + 1, r);
    const double w1 = double(cy) - y, w2 = y - double(fy);
    for (int64_t p : {fy, cy}) {
      const double w = p == fy ? w1 : w2;
      raise(i, p, w), raise(-i, p, w), raise(i, -p, w), raise(-i, -p, w);
      raise(p, i, w), raise(-p, i, w), raise(p, -i, w), raise(-p, -i, w);
    }
  };
  int64_t i = 1;
  double y = std::sqrt(double(int64_t{r} * r - 1));
  while (y > double(i)) {
    sixteen(i, y);
    ++i;
    y = std::sqrt(double(int64_t{r} * r - i * i));
  }
  if (y == double(i))
    k.at(i, i) = k.at(-i, i) = k.at(i, -i) = k.at(-i, -i) = 255;
  else
    sixteen(i, y);
  return k;
}

Mask Height(const Mask& k) {
  Mask e{k.r, std::vector<int32_t>(k.v.size(), 0)};
  for (int64_t dy = -k.r; dy <= k.r; ++dy)
    for (int64_t dx = -k.r; dx <= k.r; ++dx) {
      const int64_t q = int64_t{k.r} * k.r - dx * dx - dy * dy;
      if (k.get(dx, dy) != 0 && q > 0) e.at(dx, dy) = int32_t(254 * std::sqrt(double(q)) / k.r);
    }
  return e;
}

TEST(DotsTest, MasksOfSmallRadiiAsWorkedByHand) {
  // Radius 2: the disc, then i = 1, y = √3: (±1, ±2) and (±2, ±1) raised by 255·(√3 - 1) = 186;
  // the final raises with i = 2, y = 0 add nothing. Heights 254·√q / 2.
  const std::vector<int32_t> k2 = {0,   186, 255, 186, 0,   186, 255, 255, 255, 186, 255, 255, 255,
                                   255, 255, 186, 255, 255, 255, 186, 0,   186, 255, 186, 0};
  const std::vector<int32_t> e2 = {0,   0, 0, 0,   0,   0,   179, 219, 179, 0, 0, 219, 254,
                                   219, 0, 0, 179, 219, 179, 0,   0,   0,   0, 0, 0};
  // Radius 1: the plus shape; the diagonals stay 0.
  const std::vector<int32_t> k1 = {0, 255, 0, 255, 255, 255, 0, 255, 0};
  for (const auto& [r, k, e] : {std::tuple{2, k2, e2}, std::tuple{1, k1, std::vector<int32_t>{}}}) {
    const fx::MaskShape shape = fx::ClipMask(uint32_t(r), 100, 100);
    std::vector<uint8_t> kb(shape.size()), eb(shape.size());
    fx::BuildCoverageMask(shape, kb.data());
    fx::BuildHeightMask(shape, kb.data(), eb.data());
    EXPECT_EQ(std::vector<int32_t>(kb.begin(), kb.end()), k) << "radius " << r;
    if (!e.empty()) {
      EXPECT_EQ(std::vector<int32_t>(eb.begin(), eb.end()), e) << "radius " << r;
    }
  }
  // Radius 7 ends its loop at i = 5, y = √24 = 4.899: fy = 4, cy = 5 = i, so (5, 5) is listed
  // twice among the sixteen points and raised twice by 255·0.899 = 229, reaching 255; (6, 4) was
  // raised once at i = 4 (y = √33, cy = 6) by 255·(√33 - 5) = 189.
  {
    const fx::MaskShape shape = fx::ClipMask(7, 100, 100);
    std::vector<uint8_t> kb(shape.size());
    fx::BuildCoverageMask(shape, kb.data());
    EXPECT_EQ(kb[shape.at(5, 5)], 255);
    EXPECT_EQ(kb[shape.at(-5, 5)], 255);
    EXPECT_EQ(kb[shape.at(6, 4)], 189);
    EXPECT_EQ(kb[shape.at(-4, -6)], 189);
  }
  // A mask clipped to what reaches a 4 x 11 rectangle is the middle of the whole one.
  const Mask whole = Coverage(9), wholeHeight = Height(whole);
  const fx::MaskShape clipped = fx::ClipMask(9, 4, 11);
  ASSERT_EQ(clipped.hx, 3);
  ASSERT_EQ(clipped.hy, 9);
  std::vector<uint8_t> kb(clipped.size()), eb(clipped.size());
  fx::BuildCoverageMask(clipped, kb.data());
  fx::BuildHeightMask(clipped, kb.data(), eb.data());
  for (int32_t dy = -9; dy <= 9; ++dy)
    for (int32_t dx = -3; dx <= 3; ++dx) {
      EXPECT_EQ(kb[clipped.at(dx, dy)], whole.get(dx, dy)) << dx << "," << dy;
      EXPECT_EQ(eb[clipped.at(dx, dy)], wholeHeight.get(dx, dy)) << dx << "," << dy;
    }
}

// The working samples of a colour as the dots use it: b, g, r or the gray level, x257 at 16 bits.
std::vector<uint32_t> Split(uint32_t colour, const Snapshot& s) {
  const uint32_t r = colour & 255, g = (colour >> 8) & 255, b = (colour >> 16) & 255;
  const uint32_t m = s.bits == 16 ? 257 : 1;
  if (s.step == 1) return std::vector<uint32_t>(3, ((5 * g + 2 * r + b + 4) >> 3) * m);
  return {b * m, g * m, r * m};
}

// T[a][b] = a·b div 255 applied to 8-bit samples; the 16-bit blend in integers.
uint32_t Mix(const Snapshot& s, uint32_t c, uint32_t v, uint32_t a) {
  if (s.bits == 16) return std::min((c * a + v * (255 - a)) / 255, 65535u);
  return std::min(c * a / 255 + v * (255 - a) / 255, 255u);
}

// The canvas of a model: every sample of the view, with the height table of the rectangle.
struct Canvas {
  const Snapshot& s;
  RECT rc;
  std::vector<uint32_t> px;
  std::vector<int32_t> heights;
  int32_t w() const { return rc.right - rc.left; }
  int32_t h() const { return rc.bottom - rc.top; }
  int32_t colours() const { return s.step >= 3 ? 3 : 1; }
  uint32_t& at(int32_t xx, int32_t yy, int32_t k) {
    return px[(size_t(rc.top + yy) * s.width + rc.left + xx) * s.step + k];
  }
  int32_t& height(int32_t xx, int32_t yy) { return heights[size_t(yy) * w() + xx]; }
};

std::vector<uint32_t> ModelPointillist(const Snapshot& s, RECT rc, uint32_t r, uint32_t colour,
                                       uint32_t flags, Lcg& g) {
  Canvas cv{s, rc, s.All(), {}};
  const int32_t w = cv.w(), h = cv.h();
  cv.heights.assign(size_t(w) * h, 0);
  if ((flags & 0xF) == 2) {
    const auto c = Split(colour, s);
    for (int32_t yy = 0; yy < h; ++yy)
      for (int32_t xx = 0; xx < w; ++xx)
        for (int32_t k = 0; k < cv.colours(); ++k) cv.at(xx, yy, k) = c[k];
  }
  const bool shaded = (flags & 0xF0) == 0x20;
  const Mask k = Coverage(int32_t(r)), e = Height(k);
  const int64_t m = std::max(w, h), n = std::max<int64_t>(m * m / (int64_t{r} * r), 2);
  for (int64_t it = 0; it < n; ++it) {
    const int32_t x = g.Next() % w, y = g.Next() % h;
    if (cv.height(x, y) >= 255) continue;
    uint32_t c[3];
    for (int32_t j = 0; j < cv.colours(); ++j) c[j] = s.at(rc.left + x, rc.top + y, j);
    for (int32_t dy = -int32_t(r); dy <= int32_t(r); ++dy)
      for (int32_t dx = -int32_t(r); dx <= int32_t(r); ++dx) {
        const int32_t xx = x + dx, yy = y + dy;
        if (yy < 0 || yy >= h || xx < 0 || xx >= w || k.get(dx, dy) == 0) continue;
        if (shaded && e.get(dx, dy) < cv.height(xx, yy)) continue;
        cv.height(xx, yy) = dx == 0 && dy == 0 ? 255 : e.get(dx, dy);
        for (int32_t j = 0; j < cv.colours(); ++j)
          cv.at(xx, yy, j) = Mix(s, c[j], cv.at(xx, yy, j), uint32_t(k.get(dx, dy)));
      }
  }
  return cv.px;
}

TEST(DotsTest, PointillistEntryChecks) {
  const auto call = [](uint32_t r, uint32_t flags) {
    return [=](BitmapRecord* b) { return Fx_PointillistBitmap(b, r, 0, flags); };
  };
  CheckEntryCases({
      {"struct size before the radius", StructSize(1), call(0, 0x11), ERROR_INV_STRUCT_SIZE},
      {"radius 0", nullptr, call(0, 0x11), ERROR_INV_PARAMETER},
      {"canvas 3", nullptr, call(2, 0x13), ERROR_INV_PARAMETER},
      {"dots 0x30", nullptr, call(2, 0x31), ERROR_INV_PARAMETER},
      {"bits above 7 ignored", nullptr, call(2, 0x121), SUCCESS, kSome},
      {"radius 32768: the mask would not fit", nullptr, call(32768, 0x11), ERROR_INV_PARAMETER},
      {"radius 32767, clipped to the picture", nullptr, call(32767, 0x22), SUCCESS, kSome},
  });
}

TEST(DotsTest, PointillistMatchesDotByDotStamping) {
  struct Case {
    Scene scene;
    uint32_t r, colour, flags;
  };
  const Case cases[] = {
      {{23, 17, 24, ORDER_BGR, {}, 7}, 2, 0, 0x11},
      {{19, 13, 16, ORDER_GRAY, {3, 2, 15, 11}, 0}, 3, 0x4080C0, 0x22},
      {{30, 20, 32, ORDER_RGB, {}, 5}, 1, 0x102030, 0x12},     // four samples, collisions
      {{14, 9, 48, ORDER_BGR, {2, 4, 13, 5}, 9}, 2, 0, 0x11},  // a one-row rectangle
      {{21, 15, 8, ORDER_GRAY, {}, 3, 6}, 4, 0xFFFFFF, 0x12},  // transposed view
      {{320, 320, 8, ORDER_GRAY, {}, 11}, 1, 0, 0x11},         // several chunks of dots
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.scene.width << "x" << c.scene.height << " bpp "
                                      << c.scene.bpp << " flags " << c.flags);
    Lcg g{c.scene.seed + 100};
    int32_t next = 0;
    const int32_t changed = CompareWithReference(
        c.scene,
        [&](BitmapRecord* b) {
          HostSeedRandom(c.scene.seed + 100);
          const int32_t rc = Fx_PointillistBitmap(b, c.r, c.colour, c.flags);
          next = HostRandom();
          return rc;
        },
        FromModel([&](const Snapshot& s, BitmapRecord*, const RECT& rc) {
          return ModelPointillist(s, rc, c.r, c.colour, c.flags, g);
        }));
    EXPECT_EQ(next, g.Next()) << "a different number of draws";
    EXPECT_GT(changed, 0);
  }
}

// Colored balls ----------------------------------------------------------------------------------

struct Balls {
  int32_t count;
  uint32_t radius, variation;
  int32_t lightAngle;
  uint32_t highlight, back1, back2;
  std::vector<uint32_t> palette;
  uint32_t brightness, brightnessVariation;
  int32_t frequency;
  uint32_t flags;
};

int32_t CallBalls(BitmapRecord* b, const Balls& p) {
  return Fx_ColoredBallsBitmap(b, p.count, p.radius, p.variation, p.lightAngle, p.highlight,
                               p.back1, p.back2, p.palette.data(), uint32_t(p.palette.size()),
                               p.brightness, p.brightnessVariation, p.frequency, p.flags);
}

// Shading of a ball of radius r toward a light 45 degrees up at lightAngle, as the steps give it.
Mask Shading(const Mask& k, int32_t lightAngle, double top) {
  const int32_t r = k.r;
  Mask s{r, std::vector<int32_t>(k.v.size(), 0)};
  const double el = 45 * kPi / 180, th = lightAngle * kPi / 18000, l = r + r / 2;
  const double lz = l * std::cos(el), lx = l * std::sin(el) * std::cos(th);
  const double ly = l * std::sin(el) * std::sin(th);
  for (int32_t dy = -r; dy <= r; ++dy)
    for (int32_t dx = -r; dx <= r; ++dx) {
      const int64_t q = int64_t{r} * r - dx * dx - dy * dy;
      if (k.get(dx, dy) == 0 || q <= 0) continue;
      const double z = std::sqrt(double(q));
      const double vx = lx - dx, vy = ly - dy, vz = lz - z;
      const double len = std::sqrt(vx * vx + vy * vy + vz * vz);
      const double dot = vx * (dx / double(r)) + vy * (dy / double(r)) + vz * (z / double(r));
      s.at(dx, dy) = int32_t(std::max(0.0, top * dot / len));
    }
  return s;
}

std::vector<uint32_t> ModelBalls(const Snapshot& s, RECT rc, const Balls& p, Lcg& g) {
  Canvas cv{s, rc, s.All(), {}};
  const int32_t w = cv.w(), h = cv.h();
  cv.heights.assign(size_t(w) * h, 0);
  const uint32_t top = s.bits == 16 ? 65535 : 255;
  const auto blend = [&](uint32_t c, uint32_t v, uint32_t t) -> uint32_t {
    if (s.bits == 16)
      return uint32_t(
          std::min<uint64_t>((uint64_t{c} * t + uint64_t{v} * (65535 - t)) / 65535, 65535));
    return std::min(c * t / 255 + v * (255 - t) / 255, 255u);
  };
  // The canvas.
  const uint32_t style = p.flags & 0xF;
  if ((p.flags & 0xF00) == 0x200) {
    const auto c1 = Split(p.back1, s), c2 = Split(p.back2, s);
    const double d = std::sqrt(double(w * w + h * h)), m = std::min(w, h);
    const double k2 = ((d / 2) * 2 / m) * ((d / 2) * 2 / m);
    const double f = double((uint32_t(p.frequency) + 100) / 100), g0 = top / 2.0;
    for (int32_t yy = 0; yy < h; ++yy)
      for (int32_t xx = 0; xx < w; ++xx) {
        const double cx = xx - w / 2, cy = yy - h / 2;
        double dd = 0;
        if (style == 4) dd = std::sqrt(cx * cx + cy * cy) / (d / 2);
        if (style == 5) dd = std::sqrt(cx * cx / (k2 * (w * w) / 4) + cy * cy / (k2 * (h * h) / 4));
        const uint32_t gw = style == 2   ? uint32_t((std::cos(f * kPi * xx / w) + 1) * g0)
                            : style == 3 ? uint32_t((std::cos(f * kPi * yy / h) + 1) * g0)
                            : dd < 1     ? uint32_t((std::cos(f * kPi * dd) + 1) * g0)
                                         : 0;
        for (int32_t j = 0; j < cv.colours(); ++j)
          cv.at(xx, yy, j) = style == 1 ? c1[j] : blend(c1[j], c2[j], gw);
      }
  }
  // The slots and the balls.
  const uint32_t rmin = p.radius - p.radius * p.variation / 100;
  const uint32_t n = 2 * (p.radius * p.variation / 100) + 1;
  std::vector<Mask> ks, es, ss;
  for (uint32_t k = 0; k < n; ++k) {
    if (rmin + k == 0) {  // a slot without masks: its draws are dropped
      ks.push_back(Mask{0, {0}}), es.push_back(Mask{0, {0}}), ss.push_back(Mask{0, {0}});
      continue;
    }
    ks.push_back(Coverage(int32_t(rmin + k)));
    es.push_back(Height(ks.back()));
    ss.push_back(Shading(ks.back(), p.lightAngle, top));
  }
  const auto hl = Split(p.highlight, s);
  uint32_t brightness = p.brightness;
  const int64_t spread = int64_t{brightness} * p.brightnessVariation / 100;
  const bool shaded = (p.flags & 0xF0) == 0x20, modulate = (p.flags & 0xF000) == 0x1000;
  for (int32_t i = 0; i < p.count;) {
    const int32_t x = g.Next() % w, y = g.Next() % h;
    const uint32_t k = uint32_t(g.Next()) % n;
    if (rmin + k == 0) continue;
    const auto q = Split(p.palette[uint32_t(g.Next()) % p.palette.size()], s);
    const int64_t b =
        std::clamp<int64_t>(brightness + (int64_t(g.Next() % 201 - 100) * spread) / 100, 0, top);
    ++i;
    uint32_t u[3];
    for (int32_t j = 0; j < cv.colours(); ++j) {
      const uint64_t pv = s.at(rc.left + x, rc.top + y, j);
      u[j] = uint32_t(std::min<uint64_t>(
          modulate ? pv * (q[j] + b) / top : (pv * (top - b) + q[j] * b) / top, top));
    }
    const int32_t r = int32_t(rmin + k);
    for (int32_t dy = -r; dy <= r; ++dy)
      for (int32_t dx = -r; dx <= r; ++dx) {
        const int32_t xx = x + dx, yy = y + dy;
        if (yy < 0 || yy >= h || xx < 0 || xx >= w || ks[k].get(dx, dy) == 0) continue;
        if (!shaded || es[k].get(dx, dy) >= cv.height(xx, yy)) {
          cv.height(xx, yy) = dx == 0 && dy == 0 ? 255 : es[k].get(dx, dy);
          for (int32_t j = 0; j < cv.colours(); ++j)
            cv.at(xx, yy, j) = Mix(s, u[j], cv.at(xx, yy, j), uint32_t(ks[k].get(dx, dy)));
        }
        for (int32_t j = 0; j < cv.colours(); ++j)
          cv.at(xx, yy, j) = blend(hl[j], cv.at(xx, yy, j), uint32_t(ss[k].get(dx, dy)));
      }
  }
  return cv.px;
}

const Balls kBalls{40,  3,  50, 22500, 0xFFFFFF, 0x000000, 0x2040A0, {0x3030E0, 0x30C0F0, 0x40C040},
                   120, 30, 0,  0x2110};

TEST(DotsTest, ColoredBallsEntryChecks) {
  const auto with = [](std::function<void(Balls&)> change) {
    return [=](BitmapRecord* b) {
      Balls p = kBalls;
      change(p);
      return CallBalls(b, p);
    };
  };
  const auto bad = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"radius 0", nullptr, with([](Balls& p) { p.radius = 0; }), bad},
      {"largest radius 32768", nullptr, with([](Balls& p) { p.radius = 21846; }), bad},
      {"largest radius 32767", nullptr, with([](Balls& p) { p.radius = 21845, p.count = 2; }),
       SUCCESS, kSome},
      {"variation 101", nullptr, with([](Balls& p) { p.variation = 101; }), bad},
      {"no palette entries for balls", nullptr, with([](Balls& p) { p.palette.clear(); }), bad},
      {"no palette entries, no balls", nullptr,
       with([](Balls& p) { p.palette.clear(), p.count = 0; }), SUCCESS},
      {"frequency -101", nullptr, with([](Balls& p) { p.frequency = -101; }), bad},
      {"frequency -100", nullptr, with([](Balls& p) { p.frequency = -100; }), SUCCESS, kSome},
      // 12 x 10 with windows of 9 x 9 (largest radius 4): at most 480000 / 81 = 5925 balls.
      {"5926 balls", nullptr, with([](Balls& p) { p.count = 5926; }), bad},
      {"5925 balls", nullptr, with([](Balls& p) { p.count = 5925; }), SUCCESS, kSome},
      {"colour field 3", nullptr, with([](Balls& p) { p.flags = 0x3110; }), bad},
      {"painted style 0", nullptr, with([](Balls& p) { p.flags = 0x2220; }), bad},
      {"style ignored on the image", nullptr, with([](Balls& p) { p.flags = 0x211F; }), SUCCESS,
       kSome},
      {"brightness 256 at 8 bits", nullptr, with([](Balls& p) { p.brightness = 256; }), bad},
  });
}

TEST(DotsTest, ColoredBallsMatchBallByBallStamping) {
  const auto with = [](std::function<void(Balls&)> change) {
    Balls p = kBalls;
    change(p);
    return p;
  };
  const struct {
    Scene scene;
    Balls balls;
  } cases[] = {
      {{31, 23, 24, ORDER_BGR, {}, 7}, kBalls},
      {{27, 19, 48, ORDER_RGB, {2, 3, 25, 17}, 3}, with([](Balls& p) {
         p.flags = 0x1224, p.brightness = 30000, p.variation = 60, p.radius = 4;
       })},
      // 8-bit gray with a white highlight: every level indexes the product table.
      {{25, 17, 8, ORDER_GRAY, {1, 1, 24, 16}, 0},
       with([](Balls& p) { p.flags = 0x2215, p.brightness = 900, p.count = 25; })},
      {{23, 15, 16, ORDER_GRAY, {}, 4, 6}, with([](Balls& p) {
         p.flags = 0x2222, p.frequency = 250, p.variation = 100, p.radius = 2, p.lightAngle = 9000;
       })},
      {{21, 13, 32, ORDER_BGR, {}, 5}, with([](Balls& p) {
         p.flags = 0x1213, p.count = 15, p.brightness = 40, p.lightAngle = -4500;
       })},
      {{20, 12, 64, ORDER_BGR, {}, 6}, with([](Balls& p) { p.flags = 0x2211, p.count = 12; })},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << "bpp " << c.scene.bpp << " flags " << std::hex << c.balls.flags);
    Lcg g{c.scene.seed + 500};
    int32_t next = 0;
    CompareWithReference(
        c.scene,
        [&](BitmapRecord* b) {
          HostSeedRandom(c.scene.seed + 500);
          const int32_t rc = CallBalls(b, c.balls);
          next = HostRandom();
          return rc;
        },
        FromModel([&](const Snapshot& s, BitmapRecord*, const RECT& rc) {
          return ModelBalls(s, rc, c.balls, g);
        }));
    EXPECT_EQ(next, g.Next()) << "a different number of draws";
  }
}

// The source rows are read with a progress report after every row but the first, as a row-by-row
// loop does: the same reports after the same number of reads, the same stop when the callback
// cancels or a read fails, whatever rows the reads are grouped into.
TEST(DotsTest, CanvasSourceReportsAsEachRowIsRead) {
  struct Report {
    int32_t percent;
    int64_t reads;
    bool operator==(const Report&) const = default;
  };
  struct Trace {
    std::vector<Report> reports;
    int32_t cancelAt;  // the report (0-based) answered with a cancel, or -1
  };
  const auto callback = [](int32_t percent, void* user) -> int32_t {
    auto& t = *static_cast<Trace*>(user);
    t.reports.push_back({percent, HostGetFaultCounts().reads});
    return int32_t(t.reports.size()) - 1 == t.cancelAt ? ERROR_HOST_CANCELLED : SUCCESS;
  };
  for (const int32_t h : {1, 2, 37, 300})
    for (const auto& [scale, base] : {std::pair{10, 2}, std::pair{5, 10}, std::pair{400, 0}})
      for (const int32_t cancelAt : {-1, 0, 3})
        for (const int64_t failReadAt : {int64_t{0}, int64_t{1}, int64_t{h / 2 + 1}}) {
          SCOPED_TRACE("h " + std::to_string(h) + " scale " + std::to_string(scale) + " cancel " +
                       std::to_string(cancelAt) + " fail " + std::to_string(failReadAt));
          // The row-by-row model: read row i, then report from row 1 on (repeats do nothing).
          Trace want{{}, cancelAt};
          int32_t wantRc = SUCCESS;
          for (int32_t i = 0, last = 0; i < h && wantRc == SUCCESS; ++i) {
            if (failReadAt == i + 1) {
              wantRc = ERROR_HOST_INJECTED;
              break;
            }
            const auto percent =
                static_cast<int32_t>(int64_t{i} * scale / std::max(h - 1, 1)) + base;
            if (i == 0 || percent == last) continue;
            last = percent;
            want.reports.push_back({percent, i + 1});
            if (int32_t(want.reports.size()) - 1 == cancelAt) wantRc = ERROR_HOST_CANCELLED;
          }

          TestBitmap bitmap(4, h, 8, ORDER_GRAY);
          RowAccess* access = nullptr;
          ASSERT_EQ(HostOpenRowAccess(bitmap.get(), &access, 2), SUCCESS);
          fx::DotCanvas canvas;
          ASSERT_EQ(canvas.Allocate(access, RECT{0, 0, 4, h}), SUCCESS);
          HostProgressContext progress{1, 0, {}};
          Trace got{{}, cancelAt};
          FxStatusCallback previous;
          void* previousUser;
          HostExchangeCallback(callback, &got, &previous, &previousUser);
          HostFaultPlan plan;
          plan.failReadAt = failReadAt;
          HostSetFaultPlan(plan);
          const int32_t rc = fx::ReadCanvasSource(access, canvas, &progress, scale, base);
          HostSetFaultPlan(HostFaultPlan{});
          HostExchangeCallback(previous, previousUser, nullptr, nullptr);
          HostCloseRowAccess(access);
          EXPECT_EQ(rc, wantRc);
          EXPECT_EQ(got.reports, want.reports);
        }
}

}  // namespace
