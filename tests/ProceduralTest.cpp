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

// Texture sample t for the level v (truncated and clamped), blended into s.
uint32_t Shade(const Snap& s, double v, uint32_t back, uint32_t fore, int k, Blend blend,
               int opacity, uint32_t sample) {
  const double m = s.max();
  const int level = int(std::clamp(double(int64_t(v)), 0.0, m));
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
    EXPECT_GT(ExpectPixels(b.get(), s, r,
                           [&](int32_t x, int32_t y, int32_t k) {
                             const double n =
                                 ref.N(x - r.left, y - r.top, length, c.frequency, c.octaves);
                             return Shade(s, std::floor(s.max() * n), c.back, c.fore, k, blend,
                                          c.opacity, s.at(x, y, k));
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
  const Snap a = run(24, 21, 4, 5, 100, 0);
  HostSeedRandom(12345);  // whatever state the generator was left in
  EXPECT_EQ(a.rows, run(24, 21, 4, 5, 100, 0).rows);
  EXPECT_NE(a.rows, run(24, 22, 4, 5, 100, 0).rows);
  for (size_t i = 0; i < a.rows.size(); i += 3)
    ASSERT_TRUE(a.rows[i] == a.rows[i + 1] && a.rows[i] == a.rows[i + 2]) << i;
  EXPECT_GT(std::set<uint8_t>(a.rows.begin(), a.rows.end()).size(), 20u);
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
          return Shade(s, v, 0x204080, 0xF0E0C0, k, kind, 70, s.at(x, y, k));
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
}

TEST_F(ProceduralTest, NoiseEntryChecks) {
  struct Case {
    bool perlin;
    uint32_t frequency, octaves, opacity, amount, flags;
    int32_t center, wave, expected;
  };
  const Case cases[] = {
      {false, 4, 4, 50, 0, 3, 0, 0, ERROR_INV_PARAMETER},
      {false, 17, 4, 50, 0, 0, 0, 0, ERROR_INV_PARAMETER},
      {false, 4, 17, 50, 0, 0, 0, 0, ERROR_INV_PARAMETER},
      {false, 4, 4, 101, 0, 0, 0, 0, ERROR_INV_PARAMETER},
      {false, 16, 16, 100, 0, 2, 0, 0, SUCCESS},
      {true, 4, 4, 50, 5, 0x34, 0, 0, ERROR_INV_PARAMETER},
      {true, 4, 4, 50, 101, 0x00, 0, 0, ERROR_INV_PARAMETER},
      {true, 16, 16, 100, 100, 0x00, INT32_MIN, INT32_MAX, SUCCESS},  // far centre, huge rings
      {true, 4, 4, 50, 100, 0x11, 0, INT32_MIN, SUCCESS},             // (x + y) × wave > 2^31
  };
  for (const auto& c : cases) {
    TestBitmap b(9, 7, 24, ORDER_BGR, 6);
    b.FillNoise(2);
    const auto before = b.Stored();
    const int32_t rc =
        c.perlin
            ? Fx_PerlinBitmap(b.get(), 1, c.frequency, c.octaves, c.opacity, 0, ~0u, c.center,
                              c.center, c.wave, c.amount, c.flags)
            : Fx_CloudsBitmap(b.get(), ~0u, c.frequency, c.octaves, c.opacity, 0, ~0u, c.flags);
    EXPECT_EQ(rc, c.expected) << c.perlin << " flags " << c.flags;
    EXPECT_EQ(b->Orientation, 6);
    EXPECT_EQ(b.Stored() == before, c.expected != SUCCESS);
  }
  TestBitmap b(9, 7, 24);
  b->Flags |= FLAG_UNSUPPORTED;  // the bitmap is refused before the parameters are looked at
  EXPECT_EQ(Fx_PerlinBitmap(b.get(), 1, 4, 4, 50, 0, 0, 0, 0, 0, 101, 0x34),
            ERROR_UNSUPPORTED_FLAG);
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
    const std::vector<std::vector<double>> angles = {
        {x / l},
        {y / l},
        {(x + y) / l},
        {x / l, y / l},
        {dc / l},
        {x / (2 * l), y / l, (x + y) / (2 * l), d0 / l},
        {x / (2 * l), y / l, dc / l, d0 / l}};
    const auto& a = angles[info.Style & 15];
    double sum = 0;  // h + h·sin(a0) + h + h·sin(a1) ..., left to right
    for (double angle : a) sum = sum + h, sum = sum + h * std::sin(angle);
    return (uint32_t(sum) / uint32_t(a.size()) + info.Shift) % n;
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
      const uint32_t periods[4][3] = {{0, 0, 0},
                                      {n / 8, n / 4, n / 2},
                                      {n / 16, n / 2, 0},
                                      {info.RedPeriod, info.GreenPeriod, info.BluePeriod}};
      for (int k = 0; k < 3; ++k) {
        const uint32_t period = periods[(info.Style >> 4) & 3][k];
        c[k] = period ? uint32_t(n / 2 + n / 2 * std::sin(3.1415926535 * i / period)) : 0;
      }
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

TEST_F(ProceduralTest, PlasmaEntryChecks) {
  // Record fields by index: 1-3 periods, 4 ImagePercent, 5 Shift, 6 Wavelength, 7 Style.
  struct Case {
    int32_t bpp;
    uint32_t structSize, bitmapFlags, flags;
    int field;
    uint32_t value;
    int32_t expected;
  };
  const Case cases[] = {
      {24, 1, 0, 1, 0, 32, ERROR_INV_STRUCT_SIZE},  // bitmap size before flags
      {24, 272, 0x200, 1, 0, 32, ERROR_INV_PARAMETER},
      {24, 272, 0x200, 0, 0, 32, ERROR_UNSUPPORTED_FLAG},
      {24, 272, 0, 0, 0, 28, ERROR_INV_STRUCT_SIZE},
      {24, 272, 0, 0, 6, 0, ERROR_INV_PARAMETER},     // wavelength 0
      {24, 272, 0, 0, 7, 0x37, ERROR_INV_PARAMETER},  // pattern 7
      {24, 272, 0, 0, 7, 0x44, ERROR_INV_PARAMETER},  // colour style 0x40
      {24, 272, 0, 0, 5, 256, ERROR_INV_PARAMETER},   // shift beyond 8 bits
      {12, 272, 0, 0, 5, 4096, ERROR_INV_PARAMETER},  // beyond 12 bits
      {16, 272, 0, 0, 5, 4096, SUCCESS},
      {24, 272, 0, 0, 0, 32, SUCCESS},                // blue period 300 unused by style 0x14
      {24, 272, 0, 0, 7, 0x34, ERROR_INV_PARAMETER},  // but beyond 8 bits for style 0x30
      {24, 272, 0, 0, 4, 101, 0},                     // ImagePercent reset, nothing done
  };
  for (const auto& c : cases) {
    TestBitmap b(9, 7, c.bpp, c.bpp == 24 ? ORDER_BGR : ORDER_GRAY, 5);
    b.FillNoise(2);
    const auto before = b.Stored();
    PlasmaInfo info = Plasma(0x14, 50, 0, 300, 10, 20, 300);
    reinterpret_cast<uint32_t*>(&info)[c.field] = c.value;
    b->StructSize = c.structSize, b->Flags |= c.bitmapFlags;
    EXPECT_EQ(Fx_PlasmaFilterBitmap(b.get(), &info, c.flags), c.expected) << c.field << c.value;
    b->StructSize = 272, b->Flags &= ~c.bitmapFlags;
    EXPECT_EQ(b->Orientation, 5);
    EXPECT_EQ(b.Stored() == before, c.expected != SUCCESS);
    EXPECT_EQ(info.ImagePercent, c.expected == 0 ? 0u : 50u);
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
