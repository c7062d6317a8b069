// Clouds, Perlin noise and plasma, checked against direct evaluations of their formulas.
#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <set>
#include <tuple>

#include "Common/Noise.h"
#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class ProceduralTest : public HostFixture {};

// Working samples of a bitmap, taken before an effect runs.
struct Snap {
  std::vector<uint8_t> rows;
  int32_t rowBytes = 0, bits = 0, step = 0;
  explicit Snap(BitmapRecord* b) {
    RowAccess* a = nullptr;
    EXPECT_EQ(HostOpenRowAccess(b, &a, 2), SUCCESS);
    rowBytes = HostRowBytes(a), bits = HostSampleBits(a), step = HostPixelStep(a);
    HostCloseRowAccess(a);
    rows = fxtest::WorkingRows(b);
  }
  uint32_t at(int32_t x, int32_t y, int32_t k) const {
    return fxtest::SampleAt(rows, rowBytes, bits, step, x, y, k);
  }
  double max() const { return bits == 16 ? 65535.0 : 255.0; }
};

// Compares every sample of `b` with `want` inside `rect` (the first three samples of a pixel) and
// with the snapshot elsewhere; returns how many samples changed.
int ExpectPixels(BitmapRecord* b, const Snap& s, RECT rect,
                 const std::function<uint32_t(int32_t, int32_t, int32_t)>& want) {
  const Snap after(b);
  int changed = 0;
  for (int32_t y = 0; y < b->Height; ++y)
    for (int32_t x = 0; x < b->Width; ++x)
      for (int32_t k = 0; k < s.step; ++k) {
        const bool in = x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
        const uint32_t expected = in && k < 3 ? want(x, y, k) : s.at(x, y, k);
        EXPECT_EQ(after.at(x, y, k), expected) << x << "," << y << " sample " << k;
        if (::testing::Test::HasFailure()) return changed;
        changed += after.at(x, y, k) != s.at(x, y, k);
      }
  return changed;
}

// The gradient noise written out directly from its definition.
struct RefNoise {
  int32_t p[1026];
  double g[1026][2];
  explicit RefNoise(uint32_t seed) {
    uint32_t state = seed;
    auto rnd = [&] {
      return static_cast<int>(((state = state * 214013u + 2531011u) >> 16) & 0x7FFF);
    };
    for (int i = 0; i < 512; ++i) {
      p[i] = rnd() & 0x1FF;
      double gx, gy, s;
      do {
        gx = ((rnd() & 0x3FF) - 512.0) / 512.0;
        gy = ((rnd() & 0x3FF) - 512.0) / 512.0;
        s = gx * gx + gy * gy;
      } while (s <= 0 || s > 1.0);
      g[i][0] = gx * (1.0 / std::sqrt(s));
      g[i][1] = gy * (1.0 / std::sqrt(s));
    }
    for (int i = 0; i < 514; ++i)
      p[512 + i] = p[i], g[512 + i][0] = g[i][0], g[512 + i][1] = g[i][1];
  }
  static double Fade(double u) { return (2 * std::fabs(u) - 3) * (u * u) + 1; }
  double N(int x, int y, int length, int frequency, int octaves) const {
    double sum = 0;
    for (int o = 0; o < octaves; ++o) {
      const double px = ((1 << o) * frequency) * (double(x) / length);
      const double py = ((1 << o) * frequency) * (double(y) / length);
      const int ix = int(px), iy = int(py);
      const double fx[2] = {px - ix, px - ix - 1.0}, fy[2] = {py - iy, py - iy - 1.0};
      const int ax[2] = {ix & 511, (ix + 1) & 511}, cy[2] = {p[iy & 511], p[(iy + 1) & 511]};
      double n = 0;
      for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) {
          const double* gr = g[p[ax[i] + cy[j]]];
          n += Fade(fx[i]) * Fade(fy[j]) * (gr[0] * fx[i] + gr[1] * fy[j]);
        }
      sum += n / std::pow(2.0, o);
    }
    return 0.58 * (sum + 0.94);
  }
};

// Prepared colour sample k (blue, green, red, or the gray mix) at the snapshot's sample size.
double Prepared(uint32_t c, const Snap& s, int k) {
  const int r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255;
  const int v = s.step == 1 ? (5 * g + 2 * r + b + 4) >> 3 : (k == 0 ? b : k == 1 ? g : r);
  return s.bits == 16 ? v * 257 : v;
}

enum Blend { kReplace, kDifference, kAverage, kKeep };

// Texture sample t for a level, blended into s.
uint32_t Shade(const Snap& s, int level, uint32_t back, uint32_t fore, int k, Blend blend,
               int opacity, uint32_t sample) {
  const double m = s.max();
  const int t = int(Prepared(fore, s, k) / m * level + Prepared(back, s, k) / m * (m - level));
  const double a = (100 - opacity) / 100.0, d = std::abs(t - int(sample));
  switch (blend) {
    case kReplace:
      return t;
    case kDifference:
      return uint32_t((1.0 - d / m) * d * opacity / 100.0 + a * d);
    case kAverage:
      return uint32_t(a * sample + opacity / 100.0 * (0.5 * sample + t * 0.5));
    default:
      return sample;
  }
}

int ClampLevel(double v, double m) {
  return int(std::clamp(v, 0.0, m));
}

TEST_F(ProceduralTest, TablesForSeedOneFollowTheGenerator) {
  // The classic generator from seed 1 yields 41, 18467, 6334, 26500, 19169, 15724, ...
  // P[0] = 41 & 511; (18467, 6334) give (-477, -322)/512, too long; (26500, 19169) give
  // (388, 225)/512, accepted; P[1] = 15724 & 511 = 364.
  fx::NoiseTables t;
  ASSERT_TRUE(t.Allocate());
  t.Build(1);
  EXPECT_EQ(t.perm()[0], 41);
  EXPECT_EQ(t.perm()[1], 364);
  const double len = std::sqrt(388.0 * 388.0 + 225.0 * 225.0);
  EXPECT_NEAR(t.grad()[0].x, 388.0 / len, 1e-15);
  EXPECT_NEAR(t.grad()[0].y, 225.0 / len, 1e-15);
  for (int i = 0; i < 514; ++i) {
    ASSERT_EQ(t.perm()[512 + i], t.perm()[i]);
    ASSERT_EQ(t.grad()[512 + i].x, t.grad()[i].x);
  }
}

TEST_F(ProceduralTest, CloudsMatchADirectEvaluation) {
  struct Case {
    int32_t bpp;
    uint32_t order, seed, frequency, octaves, opacity, back, fore, flags;
    RECT region;  // empty: none
    int32_t width = 23, height = 13;
  };
  const Case cases[] = {
      {24, ORDER_BGR, 7, 3, 5, 100, 0x000000, 0xFFFFFF, 0, {}},
      {8, ORDER_GRAY, 2, 4, 3, 60, 0x2080F3, 0x10FF44, 1, {}},
      {48, ORDER_RGB, 99, 2, 16, 35, 0x123456, 0xABCDEF, 2, {}},
      {32, ORDER_BGR, 5, 16, 2, 80, 0x0000FF, 0xFF0000, 1, {3, 2, 18, 9}},
      {16, ORDER_GRAY, 11, 5, 4, 100, 0xFFFFFF, 0x000000, 0, {6, 0, 15, 13}},
      // Wider than the 512 cell indices: octave 5 at frequency 16 wraps them along each row.
      {24, ORDER_BGR, 8, 16, 7, 100, 0x000000, 0xFFFFFF, 0, {}, 530, 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("bpp " + std::to_string(c.bpp) + " flags " + std::to_string(c.flags));
    TestBitmap b(c.width, c.height, c.bpp, c.order);
    b.FillNoise(c.seed);
    const bool region = c.region.right > 0;
    if (region) {
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &c.region, 1), SUCCESS);
    }
    const RECT r = region ? c.region : RECT{0, 0, c.width, c.height};
    const Snap s(b.get());
    ASSERT_EQ(Fx_CloudsBitmap(b.get(), c.seed, c.frequency, c.octaves, c.opacity, c.back, c.fore,
                              c.flags),
              SUCCESS);
    const RefNoise ref(c.seed);
    const int length = std::max(r.right - r.left, r.bottom - r.top);
    const Blend blend = c.flags == 0 ? kReplace : c.flags == 1 ? kDifference : kAverage;
    EXPECT_GT(ExpectPixels(
                  b.get(), s, r,
                  [&](int32_t x, int32_t y, int32_t k) {
                    const double n = ref.N(x - r.left, y - r.top, length, c.frequency, c.octaves);
                    const int level = ClampLevel(std::floor(s.max() * n), s.max());
                    return Shade(s, level, c.back, c.fore, k, blend, c.opacity, s.at(x, y, k));
                  }),
              40);
  }
}

TEST_F(ProceduralTest, CloudsProperties) {
  const auto run = [](int32_t bpp, uint32_t seed, uint32_t frequency, uint32_t octaves,
                      uint32_t opacity, uint32_t flags) {
    TestBitmap b(17, 11, bpp, bpp == 16 ? ORDER_GRAY : ORDER_BGR);
    b.FillNoise(4);
    EXPECT_EQ(Fx_CloudsBitmap(b.get(), seed, frequency, octaves, opacity, 0, 0xFFFFFF, flags),
              SUCCESS);
    return Snap(b.get());
  };
  // No octave, or frequency 0, paints the uniform level 0.58 × 0.94 of the range.
  for (auto [bpp, frequency, octaves, level] : {std::tuple{24, 5u, 0u, 139u},
                                                {24, 0u, 9u, 139u},
                                                {48, 0u, 3u, 35729u},
                                                {16, 7u, 0u, 35729u}}) {
    const Snap s = run(bpp, 3, frequency, octaves, 100, 0);
    for (int32_t i = 0; i < 17 * 11 * s.step; ++i)
      ASSERT_EQ(s.at(i % 17, i / 17 % 11, i / (17 * 11)), level) << bpp;
  }
  // Black to white gives gray on every sample; the seed alone decides the texture.
  const Snap a = run(24, 21, 4, 5, 100, 0), again = run(24, 21, 4, 5, 100, 0);
  EXPECT_EQ(a.rows, again.rows);
  EXPECT_NE(a.rows, run(24, 22, 4, 5, 100, 0).rows);
  std::set<uint32_t> levels;
  for (int32_t y = 0; y < 11; ++y)
    for (int32_t x = 0; x < 17; ++x) {
      ASSERT_EQ(a.at(x, y, 0), a.at(x, y, 1));
      ASSERT_EQ(a.at(x, y, 0), a.at(x, y, 2));
      levels.insert(a.at(x, y, 0));
    }
  EXPECT_GT(levels.size(), 20u);
  // Opacity 0: the average keeps the image, the difference gives |t − s|.
  TestBitmap original(17, 11, 24);
  original.FillNoise(4);
  const Snap s(original.get());
  EXPECT_EQ(run(24, 21, 4, 5, 0, 2).rows, s.rows);
  const Snap d = run(24, 21, 4, 5, 0, 1);
  for (size_t i = 0; i < s.rows.size(); ++i)
    ASSERT_EQ(d.rows[i], std::abs(int(a.rows[i]) - int(s.rows[i]))) << i;
}

TEST_F(ProceduralTest, PerlinModesAndBlendsMatchADirectEvaluation) {
  const int32_t cx = 6, cy = 4, wave = 37, amount = 3;
  for (int32_t bpp : {24, 48}) {
    for (uint32_t mode : {0x00u, 0x10u, 0x20u, 0x30u})
      for (uint32_t blend : {0u, 1u, 2u, mode == 0x30 ? 3u : 5u}) {
        const uint32_t flags = mode | blend;
        SCOPED_TRACE("bpp " + std::to_string(bpp) + " flags " + std::to_string(flags));
        TestBitmap b(19, 12, bpp);
        b.FillNoise(flags);
        const Snap s(b.get());
        ASSERT_EQ(Fx_PerlinBitmap(b.get(), 9, 3, 4, 70, 0x204080, 0xF0E0C0, cx, cy, wave,
                                  mode == 0x20 ? 15 : amount, flags),
                  SUCCESS);
        const RefNoise ref(9);
        const Blend kind = blend == 0   ? kReplace
                           : blend == 1 ? kAverage
                           : blend == 2 ? kDifference
                                        : (bpp == 24 ? kKeep : kAverage);
        const int changed = ExpectPixels(b.get(), s, {0, 0, 19, 12}, [&](int x, int y, int k) {
          const double m = s.max();
          double v = std::floor(m * ref.N(x, y, 19, 3, 4));
          if (mode == 0x00)
            v = std::sin(wave / 100.0 *
                         std::sqrt(double(x - cx) * (x - cx) + double(y - cy) * (y - cy))) *
                v * amount;
          else if (mode == 0x10)
            v = std::sin(((x + y) * wave) / 100.0) * v * amount;
          else if (mode == 0x20)
            v = ((bpp == 24 ? 510.0 : 131070.0) / (std::fabs(v) + m) - 1.0 + 15 / 100.0) * m;
          return Shade(s, ClampLevel(int(v), m), 0x204080, 0xF0E0C0, k, kind, 70, s.at(x, y, k));
        });
        EXPECT_EQ(changed == 0, kind == kKeep);
      }
  }
}

TEST_F(ProceduralTest, PerlinProperties) {
  const auto perlin = [](int32_t bpp, uint32_t octaves, uint32_t amount, uint32_t flags,
                         int32_t wave = 50) {
    TestBitmap b(15, 15, bpp);
    b.FillNoise(1);
    EXPECT_EQ(
        Fx_PerlinBitmap(b.get(), 5, 4, octaves, 100, 0x00FF00, 0xFFFFFF, 7, 7, wave, amount, flags),
        SUCCESS);
    return Snap(b.get());
  };
  TestBitmap b(15, 15, 24);
  b.FillNoise(1);
  ASSERT_EQ(Fx_CloudsBitmap(b.get(), 5, 4, 3, 100, 0x00FF00, 0xFFFFFF, 0), SUCCESS);
  EXPECT_EQ(perlin(24, 3, 0, 0x30).rows, Snap(b.get()).rows);
  // Without octaves the level depends on the distance from the ring centre only.
  const Snap rings = perlin(24, 0, 1, 0x00);
  for (int d = 1; d < 8; ++d)
    for (int k = 0; k < 3; ++k) {
      EXPECT_EQ(rings.at(7 + d, 7, k), rings.at(7 - d, 7, k));
      EXPECT_EQ(rings.at(7 + d, 7, k), rings.at(7, 7 - d, k));
      EXPECT_EQ(rings.at(7 + d, 7 + d, k), rings.at(7 - d, 7 - d, k));
    }
  // Amount 0 or wave frequency 0 flatten the rings to the back colour (0x00FF00 is green).
  for (const Snap& s : {perlin(24, 4, 0, 0x00), perlin(24, 4, 5, 0x00, 0)})
    for (int32_t i = 0; i < 15 * 15; ++i)
      ASSERT_TRUE(s.at(i % 15, i / 15, 0) == 0 && s.at(i % 15, i / 15, 1) == 255);
  // Contrast with no noise left (octaves 0: v = 139) and amount 0: level (510/394 − 1) × 255.
  const Snap contrast = perlin(24, 0, 0, 0x20);
  EXPECT_EQ(contrast.at(3, 3, 0), uint32_t(int((510.0 / 394.0 - 1.0) * 255.0)));
}

TEST_F(ProceduralTest, NoiseEntryChecks) {
  struct Case {
    const char* what;
    std::function<int32_t(BitmapRecord*)> call;
    int32_t expected;
  };
  const Case cases[] = {
      {"clouds flags 3", [](BitmapRecord* b) { return Fx_CloudsBitmap(b, 1, 4, 4, 50, 0, 0, 3); },
       ERROR_INV_PARAMETER},
      {"clouds frequency 17",
       [](BitmapRecord* b) { return Fx_CloudsBitmap(b, 1, 17, 4, 50, 0, 0, 0); },
       ERROR_INV_PARAMETER},
      {"clouds octaves 17",
       [](BitmapRecord* b) { return Fx_CloudsBitmap(b, 1, 4, 17, 50, 0, 0, 0); },
       ERROR_INV_PARAMETER},
      {"clouds opacity 101",
       [](BitmapRecord* b) { return Fx_CloudsBitmap(b, 1, 4, 4, 101, 0, 0, 0); },
       ERROR_INV_PARAMETER},
      {"clouds limits",
       [](BitmapRecord* b) { return Fx_CloudsBitmap(b, ~0u, 16, 16, 100, 0, 0, 2); }, SUCCESS},
      {"perlin flags 0x34",
       [](BitmapRecord* b) { return Fx_PerlinBitmap(b, 1, 4, 4, 50, 0, 0, 0, 0, 0, 5, 0x34); },
       ERROR_INV_PARAMETER},
      {"perlin amount 101",
       [](BitmapRecord* b) { return Fx_PerlinBitmap(b, 1, 4, 4, 50, 0, 0, 0, 0, 0, 101, 0); },
       ERROR_INV_PARAMETER},
      {"perlin far centre, huge wave",
       [](BitmapRecord* b) {
         return Fx_PerlinBitmap(b, 1, 4, 4, 50, 0, 0xFFFFFF, INT32_MIN, INT32_MAX, INT32_MAX, 100,
                                0x00);
       },
       SUCCESS},
      {"perlin huge waves",
       [](BitmapRecord* b) {
         return Fx_PerlinBitmap(b, 1, 4, 4, 50, 0, 0xFFFFFF, 0, 0, INT32_MIN, 100, 0x11);
       },
       SUCCESS},
      {"perlin 0x200",
       [](BitmapRecord* b) {
         b->Flags |= FLAG_UNSUPPORTED;
         return Fx_PerlinBitmap(b, 1, 4, 4, 50, 0, 0, 0, 0, 0, 101, 0x34);
       },
       ERROR_UNSUPPORTED_FLAG},
  };
  for (const auto& c : cases) {
    TestBitmap b(9, 7, 24, ORDER_BGR, 6);
    b.FillNoise(2);
    const auto before = b.Stored();
    EXPECT_EQ(c.call(b.get()), c.expected) << c.what;
    EXPECT_EQ(b->Orientation, 6) << c.what;
    if (c.expected != SUCCESS) {
      EXPECT_EQ(b.Stored(), before) << c.what;
    }
    b->Flags &= ~FLAG_UNSUPPORTED;
  }
  EXPECT_EQ(Fx_CloudsBitmap(nullptr, 1, 4, 4, 50, 0, 0, 0), ERROR_NO_BITMAP);
}

// The plasma written out from its definition: pattern index and table colour of one pixel.
struct PlasmaRef {
  PlasmaInfo info;
  uint32_t n;
  uint32_t Index(int x, int y, int cols, int rows) const {
    const double h = n / 2, l = info.Wavelength / 100.0;
    const double dc =
        std::sqrt(double(x - cols / 2) * (x - cols / 2) + double(y - rows / 2) * (y - rows / 2));
    const double d0 = std::sqrt(double(x) * x + double(y) * y);
    uint32_t v = 0;
    switch (info.Style & 15) {
      case 0:
        v = uint32_t(h + h * std::sin(x / l));
        break;
      case 1:
        v = uint32_t(h + h * std::sin(y / l));
        break;
      case 2:
        v = uint32_t(h + h * std::sin((x + y) / l));
        break;
      case 3:
        v = uint32_t(h + h * std::sin(x / l) + h + h * std::sin(y / l)) / 2;
        break;
      case 4:
        v = uint32_t(h + h * std::sin(dc / l));
        break;
      case 5:
        v = uint32_t(h + h * std::sin(x / (2 * l)) + h + h * std::sin(y / l) + h +
                     h * std::sin((x + y) / (2 * l)) + h + h * std::sin(d0 / l)) /
            4;
        break;
      default:
        v = uint32_t(h + h * std::sin(x / (2 * l)) + h + h * std::sin(y / l) + h +
                     h * std::sin(dc / l) + h + h * std::sin(d0 / l)) /
            4;
    }
    return (v + info.Shift) % n;
  }
  // Red, green, blue of table entry i, weighted by 100 − ImagePercent.
  std::array<uint32_t, 3> Color(uint32_t i) const {
    double c[3];
    if ((info.Style & 0xF0) == 0) {
      const double hue = i / double(n - 1) * 359.0;
      const int sector = int(hue / 60);
      const double f = hue / 60 - sector, q = 1 - f;
      const double table[6][3] = {{1, f, 0}, {q, 1, 0}, {0, 1, f}, {0, q, 1}, {f, 0, 1}, {1, 0, q}};
      for (int k = 0; k < 3; ++k) c[k] = uint32_t(table[sector][k] * (n - 1));
    } else {
      const uint32_t style = info.Style & 0xF0;
      const uint32_t periods[3] = {style == 0x10   ? n / 8
                                   : style == 0x20 ? n / 16
                                                   : info.RedPeriod,
                                   style == 0x10   ? n / 4
                                   : style == 0x20 ? n / 2
                                                   : info.GreenPeriod,
                                   style == 0x10   ? n / 2
                                   : style == 0x20 ? 0
                                                   : info.BluePeriod};
      for (int k = 0; k < 3; ++k)
        c[k] = periods[k] ? uint32_t(n / 2 + n / 2 * std::sin(3.1415926535 * i / periods[k])) : 0;
    }
    std::array<uint32_t, 3> out;
    for (int k = 0; k < 3; ++k) out[k] = (uint32_t(c[k]) * (100 - info.ImagePercent) + 50) / 100;
    return out;
  }
};

PlasmaInfo Plasma(uint32_t style, uint32_t percent, uint32_t shift, uint32_t wavelength,
                  uint32_t red = 0, uint32_t green = 0, uint32_t blue = 0) {
  return PlasmaInfo{32, red, green, blue, percent, shift, wavelength, style};
}

TEST_F(ProceduralTest, PlasmaMatchesADirectEvaluation) {
  struct Case {
    int32_t bpp;
    uint32_t order;
    PlasmaInfo info;
    RECT region;
  };
  const Case cases[] = {
      {24, ORDER_BGR, Plasma(0x00, 40, 10, 250), {}},
      {48, ORDER_RGB, Plasma(0x11, 25, 1000, 333), {}},
      {8, ORDER_GRAY, Plasma(0x22, 60, 7, 180), {}},
      {32, ORDER_BGR, Plasma(0x33, 0, 200, 420, 20, 50, 0), {2, 1, 17, 11}},
      {16, ORDER_GRAY, Plasma(0x04, 75, 65535, 270), {}},
      {24, ORDER_RGB, Plasma(0x15, 10, 255, 150), {4, 3, 20, 14}},
      {64, ORDER_BGR, Plasma(0x36, 50, 12345, 510, 3000, 65535, 1), {}},
      {24, ORDER_BGR, Plasma(0x06, 100, 3, 90), {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("bpp " + std::to_string(c.bpp) + " style " + std::to_string(c.info.Style));
    TestBitmap b(21, 15, c.bpp, c.order);
    b.FillNoise(c.info.Style);
    const bool region = c.region.right > 0;
    if (region) {
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &c.region, 1), SUCCESS);
    }
    const RECT r = region ? c.region : RECT{0, 0, 21, 15};
    const Snap s(b.get());
    PlasmaInfo info = c.info;
    ASSERT_EQ(Fx_PlasmaFilterBitmap(b.get(), &info, 0), SUCCESS);
    const PlasmaRef ref{c.info, s.bits == 16 ? 65536u : 256u};
    const int changed = ExpectPixels(b.get(), s, r, [&](int x, int y, int k) {
      const auto t =
          ref.Color(ref.Index(x - r.left, y - r.top, r.right - r.left, r.bottom - r.top));
      const uint32_t add = s.step == 1 ? (t[2] + 5 * t[1] + 2 * t[0]) / 8 : t[2 - k];
      return std::min<uint32_t>((s.at(x, y, k) * c.info.ImagePercent + 50) / 100 + add,
                                uint32_t(s.max()));
    });
    EXPECT_EQ(changed == 0, c.info.ImagePercent == 100);
  }
}

TEST_F(ProceduralTest, PlasmaProperties) {
  // Percent 0 replaces the pixels by the table: style 0x20 adds no blue; pattern 0 repeats
  // column 0 (index half + Shift) down every row.
  TestBitmap b(16, 9, 24);
  b.FillNoise(8);
  PlasmaInfo info = Plasma(0x20, 0, 5, 300);
  ASSERT_EQ(Fx_PlasmaFilterBitmap(b.get(), &info, 0), SUCCESS);
  const Snap s(b.get());
  const auto top = PlasmaRef{info, 256}.Color((128 + 5) % 256);
  for (int y = 0; y < 9; ++y) {
    EXPECT_EQ(s.at(0, y, 1), top[1]);
    EXPECT_EQ(s.at(0, y, 2), top[0]);
    for (int x = 0; x < 16; ++x) EXPECT_EQ(s.at(x, y, 0), 0u);
  }
}

TEST_F(ProceduralTest, PlasmaEntryChecks) {
  struct Case {
    const char* what;
    int32_t bpp;
    uint32_t order;
    std::function<void(BitmapRecord*, PlasmaInfo&)> spoil;
    uint32_t flags;
    int32_t expected;
  };
  const auto none = [](BitmapRecord*, PlasmaInfo&) {};
  const Case cases[] = {
      {"struct size before flags", 24, ORDER_BGR,
       [](BitmapRecord* b, PlasmaInfo&) { b->StructSize = 1; }, 1, ERROR_INV_STRUCT_SIZE},
      {"flags before 0x200", 24, ORDER_BGR, [](BitmapRecord* b, PlasmaInfo&) { b->Flags |= 0x200; },
       1, ERROR_INV_PARAMETER},
      {"0x200", 24, ORDER_BGR, [](BitmapRecord* b, PlasmaInfo&) { b->Flags |= 0x200; }, 0,
       ERROR_UNSUPPORTED_FLAG},
      {"record size", 24, ORDER_BGR, [](BitmapRecord*, PlasmaInfo& i) { i.StructSize = 28; }, 0,
       ERROR_INV_STRUCT_SIZE},
      {"wavelength 0", 24, ORDER_BGR, [](BitmapRecord*, PlasmaInfo& i) { i.Wavelength = 0; }, 0,
       ERROR_INV_PARAMETER},
      {"pattern 7", 24, ORDER_BGR, [](BitmapRecord*, PlasmaInfo& i) { i.Style = 0x07; }, 0,
       ERROR_INV_PARAMETER},
      {"style 0x40", 24, ORDER_BGR, [](BitmapRecord*, PlasmaInfo& i) { i.Style = 0x40; }, 0,
       ERROR_INV_PARAMETER},
      {"shift 256 at 8 bits", 24, ORDER_BGR, [](BitmapRecord*, PlasmaInfo& i) { i.Shift = 256; }, 0,
       ERROR_INV_PARAMETER},
      {"shift 4096 at 12 bits", 12, ORDER_GRAY,
       [](BitmapRecord*, PlasmaInfo& i) { i.Shift = 4096; }, 0, ERROR_INV_PARAMETER},
      {"shift 4096 at 16 bits", 16, ORDER_GRAY,
       [](BitmapRecord*, PlasmaInfo& i) { i.Shift = 4096; }, 0, SUCCESS},
      {"period 256 with 0x30", 24, ORDER_BGR,
       [](BitmapRecord*, PlasmaInfo& i) { i.Style = 0x30, i.BluePeriod = 256; }, 0,
       ERROR_INV_PARAMETER},
      {"period ignored without 0x30", 24, ORDER_BGR,
       [](BitmapRecord*, PlasmaInfo& i) { i.Style = 0x10, i.BluePeriod = 256; }, 0, SUCCESS},
      {"percent 101", 24, ORDER_BGR, [](BitmapRecord*, PlasmaInfo& i) { i.ImagePercent = 101; }, 0,
       0},
      {"defaults", 24, ORDER_BGR, none, 0, SUCCESS},
  };
  for (const auto& c : cases) {
    TestBitmap b(9, 7, c.bpp, c.order, 5);
    b.FillNoise(2);
    const auto before = b.Stored();
    PlasmaInfo info = Plasma(0x04, 50, 0, 300);
    c.spoil(b.get(), info);
    EXPECT_EQ(Fx_PlasmaFilterBitmap(b.get(), &info, c.flags), c.expected) << c.what;
    EXPECT_EQ(b->Orientation, 5) << c.what;
    if (c.expected != SUCCESS) {
      EXPECT_EQ(b.Stored(), before) << c.what;
    }
    if (c.expected == 0) {
      EXPECT_EQ(info.ImagePercent, 0u);
    }
    b->StructSize = 272, b->Flags &= ~0x200u;
  }
  TestBitmap b(4, 4, 24);
  EXPECT_EQ(Fx_PlasmaFilterBitmap(b.get(), nullptr, 0), ERROR_NULL_INFO);
  EXPECT_EQ(Fx_PlasmaFilterBitmap(nullptr, nullptr, 0), ERROR_NO_BITMAP);
}

TEST_F(ProceduralTest, RegistryDefaultsPaintAndFailuresCleanUp) {
  for (const char* name : {"clouds", "perlin", "plasma-filter"}) {
    const FxEffectDesc* e = FxFindEffect(name);
    ASSERT_NE(e, nullptr) << name;
    TestBitmap b(64, 48, 24);
    b.FillSmooth();
    const auto before = b.Stored();
    EXPECT_EQ(FxInvoke(e, b.get(), nullptr, 0), SUCCESS) << name;
    EXPECT_NE(b.Stored(), before) << name;
  }
  const auto make = [](int32_t bpp, uint32_t order, bool region) {
    return [=] {
      auto b = std::make_unique<TestBitmap>(8, 6, bpp, order, 4);
      b->FillNoise(3);
      const RECT r{1, 1, 7, 4};
      if (region) HostSetRegionRect(b->get(), nullptr, &r, 1);
      return b;
    };
  };
  const auto clouds = [](BitmapRecord* b) { return Fx_CloudsBitmap(b, 3, 4, 3, 50, 0, ~0u, 1); };
  const auto perlin = [](BitmapRecord* b) {
    return Fx_PerlinBitmap(b, 3, 4, 3, 50, 0, ~0u, 2, 2, 40, 2, 0x02);
  };
  const auto plasma = [](BitmapRecord* b) {
    PlasmaInfo info = Plasma(0x35, 30, 9, 200, 10, 20, 30);
    return Fx_PlasmaFilterBitmap(b, &info, 0);
  };
  EXPECT_GT(fxtest::SweepFaults(make(24, ORDER_BGR, true), clouds, "clouds").points, 10);
  EXPECT_GT(fxtest::SweepFaults(make(16, ORDER_GRAY, false), perlin, "perlin").points, 10);
  EXPECT_GT(fxtest::SweepFaults(make(32, ORDER_BGR, true), plasma, "plasma").points, 10);
}

}  // namespace
