// Vignette: the checks in their order, the softness mapping written back, hand-worked band edges
// (amount 0, a fractional inner size), and every shape and band mode against the formulas, with
// and without a region.
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

VignetteInfo Info(int32_t x, int32_t y, int32_t amount, uint32_t softness, uint32_t width,
                  uint32_t height, uint32_t color, uint32_t options) {
  return VignetteInfo{36, x, y, amount, softness, width, height, color, options};
}

Call VignetteCall(VignetteInfo info, uint32_t flags = 0) {
  return [=](BitmapRecord* b) mutable { return Fx_VignetteBitmap(b, &info, flags); };
}

TEST(VignetteTest, ChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  const VignetteInfo ok = Info(5, 6, 50, 50, 4, 3, 0xFF, 19);
  const auto with = [&](auto change) {
    VignetteInfo v = ok;
    change(v);
    return VignetteCall(v);
  };
  CheckEntryCases({
      {"StructSize before flags", StructSize(0), VignetteCall(ok, 1), ERROR_INV_STRUCT_SIZE},
      {"flags", nullptr, VignetteCall(ok, 1), bad},
      {"null record", nullptr, [](BitmapRecord* b) { return Fx_VignetteBitmap(b, nullptr, 0); },
       bad},
      {"size 35 before options", nullptr, with([](auto& v) { v.size = 35, v.options = 99; }),
       ERROR_INV_STRUCT_SIZE},
      {"options 20", nullptr, with([](auto& v) { v.options = 20; }), bad},
      // The centre is checked against the view as given: 10 x 12.
      {"centre at the width and height", nullptr, with([](auto& v) { v.x = 10, v.y = 12; }),
       SUCCESS, kSome},
      {"x = width + 1", nullptr, with([](auto& v) { v.x = 11; }), bad},
      {"y = -1", nullptr, with([](auto& v) { v.y = -1; }), bad},
      {"amount -101", nullptr, with([](auto& v) { v.amount = -101; }), bad},
      {"softness 101", nullptr, with([](auto& v) { v.softness = 101; }), bad},
      {"ellipse of height 0", nullptr, with([](auto& v) { v.height = 0; }), bad},
      {"circle of width 0", nullptr, with([](auto& v) { v.width = 0, v.options = 2; }), SUCCESS},
      {"shape 4 changes nothing", nullptr, with([](auto& v) { v.options = 4, v.amount = -60; }),
       SUCCESS, kNone},
      {"shape 15 changes nothing", nullptr, with([](auto& v) { v.options = 15, v.amount = 0; }),
       SUCCESS, kNone},
  });
}

TEST(VignetteTest, SoftnessIsMappedAndWrittenBack) {
  const uint32_t cases[][2] = {{0, 50}, {1, 54}, {50, 273}, {100, 496}};
  for (const auto& c : cases) {
    TestBitmap b(4, 3, 24);
    VignetteInfo v = Info(1, 1, 50, c[0], 2, 2, 0, 2);
    EXPECT_EQ(Fx_VignetteBitmap(b.get(), &v, 0), SUCCESS);
    EXPECT_EQ(v.softness, c[1]) << "softness " << c[0];
  }
}

// The vignette written out from its formulas.
uint32_t ExpectedVignette(const Sample& p, const VignetteInfo& v) {
  const int64_t M = p.s.max();
  const uint32_t r = v.color & 255, g = (v.color >> 8) & 255, bl = (v.color >> 16) & 255;
  int64_t c = p.s.step == 1 ? (2 * r + 5 * g + bl + 4) / 8 : (p.k == 0 ? bl : p.k == 1 ? g : r);
  if (M == 65535) c *= 257;
  uint32_t sv = v.softness;
  sv = sv ? sv * 451 / 101 + 50 : 50;
  const double gamma = std::clamp(sv, 50u, 500u) / 100.0;
  const int32_t s = v.amount > 0 ? 1 : v.amount < 0 ? -1 : 0;
  const double k = std::abs(v.amount) / 100.0;
  const bool outer = v.options >= 16;
  const int64_t dx = std::abs(p.x - p.rc.left - v.x), dy = std::abs(p.y - p.rc.top - v.y);
  double b = 0;
  switch (v.options & 15) {
    case 0:
    case 1: {
      const double aIn = outer ? v.width : (1 - k) * v.width;
      const double bIn = (v.options & 15) == 0 ? aIn : outer ? v.height : (1 - k) * v.height;
      const double aOut = outer ? (1 + k) * v.width : v.width;
      const double bOut = (v.options & 15) == 0 ? aOut : outer ? (1 + k) * v.height : v.height;
      double w = std::max(aOut - aIn, bOut - bIn);
      if (w == 0) w = 1;
      const bool inside = dx < int64_t(aIn) && dy < int64_t(bIn);
      if (outer && inside) return p.before();
      b = inside ? 0 : std::max(dx - aIn, dy - bIn) / w;
      if (outer) b = std::min(b, 1.0);
      if (!outer && s >= 1 && b > 1) b = 0;
      if (!outer && s < 0 && b > 1) b = 1;
      break;
    }
    case 2: {
      const int64_t rIn = outer ? v.width : int64_t(v.width * (1 - k));
      const int64_t rOut = outer ? int64_t(v.width * (1 + k)) : v.width;
      const int64_t w = rOut == rIn ? 1 : rOut - rIn;
      const int64_t d = int64_t(std::sqrt(double(dx * dx + dy * dy))) - rIn;
      int64_t e;
      if (!outer && s < 1)
        e = std::min(std::max<int64_t>(d, 0), w);
      else if (!outer)
        e = (d < 0 || d > w) ? 0 : d;
      else if (s < 1)
        e = d >= 0 ? std::min(w, d) : w;
      else
        e = std::min(w, std::max<int64_t>(d, 0));
      b = std::min(double(e) / w, 1.0);
      break;
    }
    case 3: {
      const double q = double(dx * dx) / (double(v.width) * v.width) +
                       double(dy * dy) / (double(v.height) * v.height);
      const double t = 1 - k, g2 = k == 0 ? 0.001 : k;
      if (s == 0) {
        b = q;
      } else {
        const double u = q >= t ? q - t : (outer && s < 0 ? 1 : 0);
        b = u >= g2 ? (!outer && s >= 1 ? 0 : 1) : u / g2;
      }
      break;
    }
    default:
      return p.before();
  }
  const double f = std::pow(std::max(b, 0.0), gamma);
  const double keep = s == 1 ? 1 - f : f, tint = s == 1 ? f : 1 - f;
  const double out = p.before() * keep + c * tint;
  return uint32_t(out > M ? M : out < 0 ? 0 : out);
}

TEST(VignetteTest, EveryShapeAndBandModeMatchesTheFormulas) {
  const Scene scenes[] = {
      {23, 17, 24, ORDER_BGR, {}, 0, 1},
      {23, 17, 48, ORDER_RGB, {3, 2, 20, 15}, 7, 1},  // the region path, centre relative
      {23, 17, 12, ORDER_GRAY, {}, 5, 1},
  };
  for (const Scene& scene : scenes)
    for (uint32_t options : {0u, 1u, 2u, 3u, 16u, 17u, 18u, 19u})
      for (int32_t amount : {-60, 0, 45}) {
        VignetteInfo v = Info(9, 6, amount, 30, 7, 5, 0x2050A0, options);
        SCOPED_TRACE(::testing::Message()
                     << "bpp " << scene.bpp << " options " << options << " amount " << amount);
        const VignetteInfo original = v;
        CompareWithReference(scene, VignetteCall(v),
                             [&](const Sample& p) { return ExpectedVignette(p, original); });
      }
}

}  // namespace

namespace {

// The registry hands the export a copy of the record: the softness written back stays out of the
// caller's values, so the same values serve again (benchmarks and sweeps repeat calls).
TEST(VignetteTest, TheRegistryCallLeavesTheValuesAlone) {
  VignetteInfo v = Info(3, 2, 60, 40, 4, 3, 0, 19);
  FxNamedValue named{"info", {}, 1};
  named.value.ptr = &v;
  fxtest::TestBitmap b(8, 6, 24);
  EXPECT_EQ(FxInvoke(FxFindEffect("vignette"), b.get(), &named, 1), SUCCESS);
  EXPECT_EQ(FxInvoke(FxFindEffect("vignette"), b.get(), &named, 1), SUCCESS);
  EXPECT_EQ(v.softness, 40u);
}

}  // namespace
