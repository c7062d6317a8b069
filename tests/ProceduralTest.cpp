// Clouds, Perlin noise and plasma: their own parameter checks, the uniform level without
// octaves, and every pixel against direct evaluations of their formulas.
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "Common/Noise.h"
#include "EffectCheck.h"

namespace {

using namespace fxtest;

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
double Prepared(uint32_t c, const Snapshot& s, int k) {
  const int r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255;
  const int v = s.step == 1 ? (5 * g + 2 * r + b + 4) >> 3 : (k == 0 ? b : k == 1 ? g : r);
  return s.bits == 16 ? v * 257 : v;
}

enum Blend { kReplace, kDifference, kAverage, kKeep };

// Texture sample t for the level v (truncated and clamped), blended into the sample.
uint32_t Shade(const Sample& p, double v, uint32_t back, uint32_t fore, Blend blend, int opacity) {
  const Snapshot& s = p.s;
  const int k = p.k;
  const uint32_t sample = p.before();
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

TEST(ProceduralTest, CloudsMatchADirectEvaluation) {
  struct Case {
    Scene scene;  // its seed is also the effect's
    uint32_t frequency, octaves, opacity, back, fore, flags;
  };
  const Case cases[] = {
      {{23, 13, 24, ORDER_BGR, {}, 7}, 3, 5, 100, 0x000000, 0xFFFFFF, 0},
      {{23, 13, 8, ORDER_GRAY, {}, 2}, 4, 3, 60, 0x2080F3, 0x10FF44, 1},
      {{23, 13, 48, ORDER_RGB, {}, 99}, 2, 16, 35, 0x123456, 0xABCDEF, 2},
      // No octave: the uniform level 0.58 × 0.94, 139.
      {{17, 11, 24, ORDER_BGR, {}, 3}, 5, 0, 100, 0x000000, 0xFFFFFF, 0},
      // Wider than the 512 cell indices: octave 5 at frequency 16 wraps them along each row.
      {{530, 2, 24, ORDER_BGR, {}, 8}, 16, 7, 100, 0x000000, 0xFFFFFF, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "bpp " << c.scene.bpp << " flags " << c.flags);
    const RefNoise ref(c.scene.seed);
    const Blend blend = c.flags == 0 ? kReplace : c.flags == 1 ? kDifference : kAverage;
    const int32_t changed = CompareWithReference(
        c.scene,
        [&](BitmapRecord* b) {
          return Fx_CloudsBitmap(b, c.scene.seed, c.frequency, c.octaves, c.opacity, c.back, c.fore,
                                 c.flags);
        },
        [&](const Sample& p) {
          const RECT& r = p.rc;
          const int length = std::max(r.right - r.left, r.bottom - r.top);
          const double n = ref.N(p.x - r.left, p.y - r.top, length, c.frequency, c.octaves);
          return Shade(p, std::floor(p.s.max() * n), c.back, c.fore, blend, c.opacity);
        });
    EXPECT_EQ(changed > 40, c.opacity != 0 || c.flags != 2);
  }
}

TEST(ProceduralTest, PerlinModesAndBlendsMatchADirectEvaluation) {
  const int32_t cx = 6, cy = 4, wave = 37, amount = 3;
  for (int32_t bpp : {24, 48}) {
    for (uint32_t mode : {0x00u, 0x10u, 0x20u, 0x30u})
      for (uint32_t blend : {0u, 1u, 2u, mode == 0x30 ? 3u : 5u}) {
        const uint32_t flags = mode | blend;
        SCOPED_TRACE(::testing::Message() << "bpp " << bpp << " flags " << flags);
        const RefNoise ref(9);
        const Blend kind = blend == 0   ? kReplace
                           : blend == 1 ? kAverage
                           : blend == 2 ? kDifference
                                        : (bpp == 24 ? kKeep : kAverage);
        const int32_t changed = CompareWithReference(
            {19, 12, bpp, ORDER_BGR, {}, flags + 1},
            [&](BitmapRecord* b) {
              return Fx_PerlinBitmap(b, 9, 3, 4, 70, 0x204080, 0xF0E0C0, cx, cy, wave,
                                     mode == 0x20 ? 15 : amount, flags);
            },
            [&](const Sample& p) {
              const double m = p.s.max();
              const int32_t x = p.x, y = p.y;
              double v = std::floor(m * ref.N(x, y, 19, 3, 4));
              if (mode == 0x00)
                v = std::sin(wave / 100.0 *
                             std::sqrt(double(x - cx) * (x - cx) + double(y - cy) * (y - cy))) *
                    v * amount;
              else if (mode == 0x10)
                v = std::sin(((x + y) * wave) / 100.0) * v * amount;
              else if (mode == 0x20)
                v = ((bpp == 24 ? 510.0 : 131070.0) / (std::fabs(v) + m) - 1.0 + 15 / 100.0) * m;
              return Shade(p, v, 0x204080, 0xF0E0C0, kind, 70);
            });
        EXPECT_EQ(changed == 0, kind == kKeep);
      }
  }
}

Call Clouds(uint32_t frequency, uint32_t octaves, uint32_t opacity, uint32_t flags) {
  return [=](BitmapRecord* b) {
    return Fx_CloudsBitmap(b, ~0u, frequency, octaves, opacity, 0, ~0u, flags);
  };
}
Call Perlin(uint32_t opacity, int32_t center, int32_t wave, uint32_t amount, uint32_t flags) {
  return [=](BitmapRecord* b) {
    return Fx_PerlinBitmap(b, 1, 4, 4, opacity, 0, ~0u, center, center, wave, amount, flags);
  };
}

TEST(ProceduralTest, NoiseEntryChecks) {
  const auto bad = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"clouds flags 3", nullptr, Clouds(4, 4, 50, 3), bad},
      {"clouds frequency 17", nullptr, Clouds(17, 4, 50, 0), bad},
      {"clouds octaves 17", nullptr, Clouds(4, 17, 50, 0), bad},
      {"clouds opacity 101", nullptr, Clouds(4, 4, 101, 0), bad},
      {"perlin flags 0x34", nullptr, Perlin(50, 0, 0, 5, 0x34), bad},
      {"perlin amount 101", nullptr, Perlin(50, 0, 0, 101, 0x00), bad},
      {"perlin (x + y) × wave beyond 2^31", nullptr, Perlin(50, 0, INT32_MIN, 100, 0x11), SUCCESS,
       kSome},
  });
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
    // clang-format off
    const std::vector<std::vector<double>> angles = {
        {x / l}, {y / l}, {(x + y) / l}, {x / l, y / l}, {dc / l},
        {x / (2 * l), y / l, (x + y) / (2 * l), d0 / l}, {x / (2 * l), y / l, dc / l, d0 / l}};
    // clang-format on
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
        c[k] = period ? uint32_t(n / 2 + n / 2 * std::sin(kPi * i / period)) : 0;
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

TEST(ProceduralTest, PlasmaMatchesADirectEvaluation) {
  struct Case {
    Scene scene;
    PlasmaInfo info;
  };
  const Case cases[] = {
      {{21, 15, 24, ORDER_BGR}, Plasma(0x00, 40, 10, 250)},
      {{21, 15, 48, ORDER_RGB}, Plasma(0x11, 25, 1000, 333)},
      {{21, 15, 8, ORDER_GRAY}, Plasma(0x22, 60, 7, 180)},
      {{21, 15, 32, ORDER_BGR, {2, 1, 17, 11}}, Plasma(0x33, 0, 200, 420, 20, 50, 0)},
      {{21, 15, 16, ORDER_GRAY}, Plasma(0x04, 75, 65535, 270)},
      {{21, 15, 24, ORDER_RGB, {4, 3, 20, 14}}, Plasma(0x15, 10, 255, 150)},
      {{21, 15, 64, ORDER_BGR}, Plasma(0x36, 50, 12345, 510, 3000, 65535, 1)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "bpp " << c.scene.bpp << " style " << c.info.Style);
    Scene scene = c.scene;
    scene.seed = c.info.Style + 1;
    const int32_t changed = CompareWithReference(
        scene,
        [&](BitmapRecord* b) {
          PlasmaInfo info = c.info;
          return Fx_PlasmaFilterBitmap(b, &info, 0);
        },
        [&](const Sample& p) {
          const RECT& r = p.rc;
          const PlasmaRef ref{c.info, p.s.bits == 16 ? 65536u : 256u};
          const auto t =
              ref.Color(ref.Index(p.x - r.left, p.y - r.top, r.right - r.left, r.bottom - r.top));
          const uint32_t add = p.s.step == 1 ? (t[2] + 5 * t[1] + 2 * t[0]) / 8 : t[2 - p.k];
          return std::min<uint32_t>((p.before() * c.info.ImagePercent + 50) / 100 + add,
                                    uint32_t(p.s.max()));
        });
    EXPECT_EQ(changed == 0, c.info.ImagePercent == 100);
  }
}

// A call with the record field `field` set to `value` (1-3 periods, 4 ImagePercent, 5 Shift,
// 6 Wavelength, 7 Style); only an ImagePercent beyond 100 is reset, answering 0.
Call PlasmaWith(int field, uint32_t value, uint32_t flags = 0) {
  return [=](BitmapRecord* b) {
    PlasmaInfo info = Plasma(0x14, 50, 0, 300, 10, 20, 300);
    reinterpret_cast<uint32_t*>(&info)[field] = value;
    const int32_t rc = Fx_PlasmaFilterBitmap(b, &info, flags);
    EXPECT_EQ(info.ImagePercent, rc == 0 ? 0u : 50u);
    return rc;
  };
}

TEST(ProceduralTest, PlasmaEntryChecks) {
  const auto bad = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"record size 28", nullptr, PlasmaWith(0, 28), ERROR_INV_STRUCT_SIZE},
      {"wavelength 0", nullptr, PlasmaWith(6, 0), bad},
      {"pattern 7", nullptr, PlasmaWith(7, 0x37), bad},
      {"colour style 0x40", nullptr, PlasmaWith(7, 0x44), bad},
      {"shift beyond 8 bits", nullptr, PlasmaWith(5, 256), bad},
      {"blue period 300 beyond 8 bits for style 0x30", nullptr, PlasmaWith(7, 0x34), bad},
      {"ImagePercent 101 reset, nothing done", nullptr, PlasmaWith(4, 101), 0},
  });
  // The shift's limit follows the sample size: 12 bits on 12-bit gray, 16 on 16-bit gray.
  for (auto [bpp, expected] : {std::pair{12, bad}, {16, SUCCESS}}) {
    TestBitmap b(9, 7, bpp, ORDER_GRAY);
    EXPECT_EQ(PlasmaWith(5, 4096)(b.get()), expected) << bpp;
  }
}

}  // namespace
