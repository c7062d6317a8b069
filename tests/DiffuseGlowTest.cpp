// Diffuse glow: its checks in their order, the host's Gaussian kernel and palette query, and every
// sample against a direct evaluation (gray mix, threshold, column then row blur, grain drawn from
// the classic generator, colour mix).
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

Call Diffuse(int32_t threshold, uint32_t amount, uint32_t radius, uint32_t grain, uint32_t color,
             uint32_t flags = 0, uint32_t seed = 1) {
  return [=](BitmapRecord* b) {
    HostSeedRandom(seed);
    return Fx_DiffuseGlowBitmap(b, threshold, amount, radius, grain, color, flags);
  };
}

TEST(DiffuseGlowTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  EXPECT_EQ(Fx_DiffuseGlowBitmap(nullptr, 0, 0, 0, 0, 0, 1), ERROR_NO_BITMAP);
  // clang-format off
  CheckEntryCases({
      {"struct size before flags", StructSize(228 + 1), Diffuse(0, 0, 0, 0, 0, 1),
       ERROR_INV_STRUCT_SIZE},
      {"order before flags", [](BitmapRecord* b) { b->Order = ORDER_GRAY; },
       Diffuse(0, 0, 0, 0, 0, 1), ERROR_UNSUPPORTED_ORDER},
      {"flags before flag 0x200", [](BitmapRecord* b) { b->Flags |= 0x200; },
       Diffuse(0, 0, 0, 0, 0, 1), bad},
      {"flag 0x200 before threshold", [](BitmapRecord* b) { b->Flags |= 0x200; },
       Diffuse(1001, 0, 0, 0, 0), ERROR_UNSUPPORTED_FLAG},
      {"threshold -1001", nullptr, Diffuse(-1001, 0, 0, 0, 0), bad},
      {"amount 1001", nullptr, Diffuse(0, 1001, 0, 0, 0), bad},
      {"radius 1001", nullptr, Diffuse(0, 0, 1001, 0, 0), bad},
      {"grain 1001", nullptr, Diffuse(0, 0, 0, 1001, 0), bad},
      {"limits accepted", nullptr, Diffuse(-1000, 1000, 1000, 1000, 0xFFFFFFFF), SUCCESS, kSome},
  });
  // clang-format on
}

TEST(DiffuseGlowTest, GaussKernelIsTheRoundedSampledGaussian) {
  // 65535·exp(-d²/2) for d = 0, 1, 2: 65535, 39748.98, 8869.17; rounded half up.
  uint16_t w[5] = {};
  EXPECT_EQ(HostGaussKernel(w, 5, 1.0), 8869u + 39749 + 65535 + 39749 + 8869);
  EXPECT_EQ(std::vector<uint16_t>(w, w + 5),
            (std::vector<uint16_t>{8869, 39749, 65535, 39749, 8869}));
  // Sigma 12.5 / 3 (radius 0): 25 weights, symmetric, the ends exp(-144 / (2 sigma²)) of 65535.
  uint16_t k[25] = {};
  const double sigma = 12.5 / 3;
  uint32_t sum = 0;
  ASSERT_GT(HostGaussKernel(k, 25, sigma), 0u);
  for (int i = 0; i < 25; ++i) {
    EXPECT_EQ(k[i], k[24 - i]);
    sum += k[i];
  }
  EXPECT_EQ(HostGaussKernel(k, 25, sigma), sum);
  EXPECT_EQ(k[0], uint16_t(std::floor(65535 * std::exp(-144 / (2 * sigma * sigma)) + 0.5)));
  // Out of range: even or non-positive counts, non-positive sigma.
  uint16_t untouched[4] = {7, 7, 7, 7};
  for (const auto& [count, s] : {std::pair{4, 1.0}, {0, 1.0}, {-3, 1.0}, {3, 0.0}, {3, -1.0}})
    EXPECT_EQ(HostGaussKernel(untouched, count, s), 0u) << count << " " << s;
  EXPECT_EQ(untouched[0], 7);
}

TEST(DiffuseGlowTest, GetPaletteCopiesTheColourTable) {
  TestBitmap pal(4, 4, 8, ORDER_BGR), rgb(4, 4, 24, ORDER_BGR);
  std::vector<COLORREF> out(300, 0xDEAD);
  EXPECT_EQ(HostGetPalette(pal.get(), out.data(), 300), 256u);
  for (uint32_t i = 0; i < 256; ++i) EXPECT_EQ(out[i], pal->Palette[i]);
  EXPECT_EQ(out[299], 0u);
  EXPECT_EQ(HostGetPalette(rgb.get(), out.data(), 3), 0u);
  EXPECT_EQ(out[0], 0u);
  EXPECT_EQ(HostGetPalette(nullptr, nullptr, 0), 0u);
}

// The classic generator as the runtime defines it.
struct Lcg {
  uint32_t state;
  int32_t Next() {
    state = state * 214013u + 2531011u;
    return int32_t((state >> 16) & 0x7FFF);
  }
};

struct DiffuseCase {
  int32_t threshold;
  uint32_t amount, radius, grain, color, seed;
};

// Every sample of the view after the glow, evaluated from the definition.
std::vector<uint32_t> DiffuseModel(const Snapshot& s, const RECT& rc, const DiffuseCase& c) {
  const int32_t w = s.width, h = s.height, step = s.step;
  const auto narrow = [&](uint32_t v) { return s.bits == 16 ? (v + 128) / 257 : v; };
  // Gray level, threshold table.
  const int32_t t = c.threshold * 255 / 1000;
  std::vector<uint32_t> mask(size_t(w) * h);
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t b = narrow(s.at(x, y, 0)), g = narrow(s.at(x, y, step >= 3 ? 1 : 0)),
                     r = narrow(s.at(x, y, step >= 3 ? 2 : 0));
      const int32_t level = int32_t((b + 5 * g + 2 * r + 4) / 8);
      mask[size_t(y) * w + x] = t < 1 ? (level < -t ? 0 : 255) : (level < 255 - t ? 255 : 0);
    }
  // Kernel.
  const int32_t r = int32_t(c.radius / 4 + 50);
  const double sigma = (2 * (r / 10.0 + 1.0) + 0.5) / 3.0;
  const int32_t n = 2 * int32_t(3 * sigma) + 1, half = (n - 1) / 2;
  std::vector<uint64_t> k(n);
  uint64_t total = 0;
  for (int32_t i = 0; i < n; ++i)
    total += k[i] = uint64_t(
        std::floor(65535 * std::exp(-double(i - half) * (i - half) / (2 * sigma * sigma)) + 0.5));
  const auto blur = [&](auto at, int32_t i, int32_t length) {
    uint64_t sum = k[half] * at(i);
    for (int32_t j = 0; j < half; ++j)
      sum += k[j] * (at(std::max(i - half + j, 0)) + at(std::min(i + half - j, length - 1)));
    return uint32_t(std::min<uint64_t>(sum / total, 255));
  };
  std::vector<uint32_t> down(size_t(w) * h);  // columns blurred
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x)
      down[size_t(y) * w + x] = blur([&](int32_t yy) { return mask[size_t(yy) * w + x]; }, y, h);
  // Colour pixel.
  const uint32_t cr = c.color & 255, cg = (c.color >> 8) & 255, cb = (c.color >> 16) & 255;
  std::vector<int64_t> col = {cb, cg, cr};
  if (step == 1) col = {(cb + 5 * cg + 2 * cr) / 8};
  if (s.bits == 16)
    for (int64_t& v : col) v *= 257;

  std::vector<uint32_t> out = s.All();
  Lcg lcg{c.seed};
  const int32_t gain = int32_t((c.grain * 255 + 500) / 1000);
  for (int32_t y = rc.top; y < rc.bottom; ++y)
    for (int32_t x = rc.left; x < rc.right; ++x) {
      const uint32_t m = blur([&](int32_t xx) { return down[size_t(y) * w + xx]; }, x, w);
      int32_t kk = 255 - int32_t(c.amount * m / 1000);
      kk -= lcg.Next() % (2 * gain + 1) - gain;
      kk = std::clamp(kk, 0, 255);
      for (int32_t ch = 0; ch < std::min(step, 3); ++ch) {
        uint32_t& v = out[(size_t(y) * w + x) * step + ch];
        const int64_t mixed = ((255 - kk) * int64_t(v)) / 255 + (kk * col[ch]) / 255;
        v = uint32_t(std::clamp<int64_t>(mixed, 0, s.bits == 16 ? 65535 : 255));
      }
    }
  return out;
}

TEST(DiffuseGlowTest, EverySampleMatchesTheDefinition) {
  struct Case {
    const char* what;
    Scene scene;
    DiffuseCase c;
  };
  // clang-format off
  const Case cases[] = {
      {"bgr24, light side", {40, 30, 24, ORDER_BGR, {}, 0}, {300, 800, 0, 100, 0x00FFE0C0, 5}},
      {"gray8, dark side, region", {33, 28, 8, ORDER_GRAY, {3, 4, 30, 25}, 1},
       {-400, 600, 200, 40, 0x00336699, 7}},
      {"rgb48, grain at 16 bits", {30, 26, 48, ORDER_RGB, {}, 0}, {500, 900, 100, 300, 0xFFFFFF, 9}},
      {"bgr32, region", {28, 35, 32, ORDER_BGR, {2, 1, 20, 33}, 3},
       {150, 950, 1000, 0, 0x0000A0FF, 3}},
      {"gray16, grain 1000 drives k past both ends", {26, 20, 16, ORDER_GRAY, {}, 4},
       {700, 500, 50, 1000, 0x0080FF80, 11}},
      {"gray12", {21, 19, 12, ORDER_GRAY, {}, 5}, {200, 700, 300, 80, 0x00FFFFFF, 2}},
      {"bgr64, amount 0 paints the colour", {20, 18, 64, ORDER_BGR, {}, 6},
       {100, 0, 0, 0, 0x00204080, 13}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t changed = CompareWithReference(
        c.scene, Diffuse(c.c.threshold, c.c.amount, c.c.radius, c.c.grain, c.c.color, 0, c.c.seed),
        FromModel([&](const Snapshot& s, BitmapRecord*, const RECT& rc) {
          return DiffuseModel(s, rc, c.c);
        }));
    EXPECT_GT(changed, 50);
  }
}

TEST(DiffuseGlowTest, FullMaskAndAmountKeepTheImageAndDrawOnePerPixel) {
  // threshold 0: every level is on the kept side, the blurred mask is 255 everywhere.
  TestBitmap b(17, 11, 24);
  b.FillNoise(3);
  const auto before = b.Stored();
  HostSeedRandom(77);
  ASSERT_EQ(Fx_DiffuseGlowBitmap(b.get(), 0, 1000, 500, 0, 0x123456, 0), SUCCESS);
  EXPECT_EQ(b.Stored(), before);
  Lcg lcg{77};
  for (int i = 0; i < 17 * 11; ++i) lcg.Next();
  EXPECT_EQ(HostRandom(), lcg.Next()) << "one draw per pixel, also with grain 0";
}

// The grain is drawn a band of 64 rows at a time before the band's rows are written: a failing
// write leaves the generator after the draws of the band it falls in.
TEST(DiffuseGlowTest, AFailingWriteLeavesTheGeneratorAfterItsBandsDraws) {
  const int32_t width = 5, height = 150;
  const auto run = [&](int64_t failWriteAt) {
    TestBitmap b(width, height, 24);
    b.FillNoise(4);
    HostSeedRandom(9);
    HostFaultPlan plan;
    plan.failWriteAt = failWriteAt;
    HostSetFaultPlan(plan);
    const int32_t rc = Fx_DiffuseGlowBitmap(b.get(), 150, 850, 300, 40, 0xFFFFFF, 0);
    const int64_t writes = HostGetFaultCounts().writes;
    HostSetFaultPlan(HostFaultPlan{});
    return std::pair{rc, writes};
  };
  // Writes made before the rows' own (the gray copy's), found from a run without a failure.
  const auto [whole, allWrites] = run(0);
  ASSERT_EQ(whole, SUCCESS);
  const int64_t before = allWrites - height;
  for (const auto& [failingRow, rowsDrawn] : {std::pair{0, 64}, {63, 64}, {64, 128}, {140, 150}}) {
    SCOPED_TRACE(failingRow);
    EXPECT_EQ(run(before + failingRow + 1).first, ERROR_HOST_INJECTED);
    Lcg lcg{9};
    for (int64_t i = 0; i < int64_t{rowsDrawn} * width; ++i) lcg.Next();
    EXPECT_EQ(HostRandom(), lcg.Next());
  }
}

}  // namespace
