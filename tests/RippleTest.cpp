// Ripple: entry checks, and the sliding and whole-rectangle windows with the three outside modes
// against a direct evaluation.
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

struct Args {
  int32_t amplitude = 4, frequency = 3, phase = 0, attenuation = 100;
  POINT center{6, 5};
  uint32_t fillColor = 0x204060, flags = 0;
};

Call Ripple(const Args& a) {
  return [=](BitmapRecord* b) {
    return Fx_RippleBitmap(b, a.amplitude, a.frequency, a.phase, a.attenuation, a.center,
                           a.fillColor, a.flags);
  };
}

TEST(RippleTest, EntryChecksInTheirOrder) {
  const auto out = ERROR_POINT_OUT_OF_RANGE;
  CheckEntryCases({
      {"flags 3 before the no-op", nullptr, Ripple({.amplitude = 0, .flags = 3}),
       ERROR_INV_PARAMETER},
      {"amplitude 0 before the rest", nullptr, Ripple({0, -5, 50000, 5000, {500, 500}, 0, 0}),
       SUCCESS, kNone},
      {"negative amplitude", nullptr, Ripple({.amplitude = -1}), out},
      {"frequency 0", nullptr, Ripple({.frequency = 0}), out},
      {"phase 36001", nullptr, Ripple({.phase = 36001}), out},
      {"attenuation 1001", nullptr, Ripple({.attenuation = 1001}), out},
      {"centre at right + 1", nullptr, Ripple({.center = {13, 0}}), out},
      {"limits accepted", nullptr,
       Ripple({.phase = -36000, .attenuation = 1000, .center = {-1, 10}}), SUCCESS, kSome},
  });
}

// One output sample, re-derived: the damped sine displacement along the ray, and the source row
// looked up in the window as it is laid out (rows around y clamped to the bitmap, or the
// rectangle's rows when the window would reach the rectangle's height).
uint32_t ExpectedRipple(const Sample& p, const Args& a) {
  const RECT& rc = p.rc;
  const double Dx = std::max(a.center.x - rc.left, rc.right - a.center.x);
  const double Dy = std::max(a.center.y - rc.top, rc.bottom - a.center.y);
  const double R = std::sqrt(Dx * Dx + Dy * Dy);
  const double dx = p.x - a.center.x, dy = p.y - a.center.y;
  const double r = std::sqrt(dx * dx + dy * dy), theta = std::atan2(dy, dx);
  const double d = a.amplitude *
                   std::sin(r * (a.frequency / R * (2.0 * kPi)) + a.phase * kPi / 18000.0) /
                   (1.0 + r * (a.attenuation / R / 10.0));
  double sx = p.x + d * std::cos(theta), oy = d * std::sin(theta);
  const double sy = p.y + oy;
  if (!(sx < rc.right && sx >= rc.left && sy < rc.bottom && sy >= rc.top)) {
    if (a.flags == 2) return p.before();
    if (a.flags == 0) return ReferenceFill(p.bitmap, a.fillColor)[p.s.step == 1 ? 0 : p.k];
    if (sx >= rc.right) sx = rc.right - 1;
    if (sx < rc.left) sx = rc.left;
    if (sy >= rc.bottom) oy = rc.bottom - 1 - p.y;
    if (sy < rc.top) oy = rc.top - p.y;
  }
  if (2 * int64_t{a.amplitude} + 1 >= rc.bottom - rc.top)
    return ReferenceBilinear(p.s, rc, sx, (p.y - rc.top) + oy, p.k);
  const int32_t half = a.amplitude;
  return ReferenceBilinear(
      p.s, [&](int32_t i) { return std::clamp(p.y - half + i, 0, p.s.height - 1); }, 2 * half + 1,
      sx, half + oy, p.k);
}

TEST(RippleTest, WindowsAndOutsideModesMatchADirectEvaluation) {
  struct Case {
    const char* what;
    Scene scene;
    Args args;
  };
  // scene; amplitude, frequency, phase, attenuation, centre, fill colour
  // clang-format off
  const Case cases[] = {
      {"sliding 8-bit", {30, 24, 24, ORDER_BGR}, {3, 4, 4500, 200, {14, 11}, 0x3060C0}},
      {"whole: window exactly the height", {25, 20, 48, ORDER_BGR, {2, 7, 23, 12}},
       {2, 4, 9000, 0, {12, 9}, 0x405060}},
      {"largest amplitude", {18, 14, 64, ORDER_BGR}, {INT32_MAX, 1, 0, 0, {9, 7}, 0x7F7F7F}},
  };
  // clang-format on
  for (const auto& c : cases) {
    for (uint32_t flags : {0u, 1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << c.what << " flags " << flags);
      Args args = c.args;
      args.flags = flags;
      const int32_t changed = CompareWithReference(
          c.scene, Ripple(args), [&](const Sample& p) { return ExpectedRipple(p, args); });
      // The largest amplitude throws almost every source outside: kept in mode 2.
      EXPECT_GT(changed, flags == 2 && args.amplitude == INT32_MAX ? 0 : 10);
    }
  }
}

}  // namespace
