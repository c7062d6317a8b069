// Ripple: entry checks, and the sliding and whole-rectangle windows with the three outside modes
// against a direct evaluation.
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using fxtest::kNone;
using fxtest::kSome;
using fxtest::Snapshot;

class RippleTest : public fxtest::HostFixture {};

struct Args {
  int32_t amplitude = 4, frequency = 3, phase = 0, attenuation = 100;
  POINT center{6, 5};
  uint32_t fillColor = 0x204060, flags = 0;
};

fxtest::Call Ripple(const Args& a) {
  return [=](BitmapRecord* b) {
    return Fx_RippleBitmap(b, a.amplitude, a.frequency, a.phase, a.attenuation, a.center,
                           a.fillColor, a.flags);
  };
}
fxtest::Call With(std::function<void(Args&)> set) {
  Args a;
  set(a);
  return Ripple(a);
}

TEST_F(RippleTest, EntryChecksInTheirOrder) {
  const auto out = ERROR_POINT_OUT_OF_RANGE;
  // clang-format off
  fxtest::CheckEntryCases({
      {"struct size before flags", [](BitmapRecord* b) { b->StructSize = 0; },
       With([](Args& a) { a.flags = 3; }), ERROR_INV_STRUCT_SIZE},
      {"flags 3 before the no-op", nullptr, With([](Args& a) { a.flags = 3, a.amplitude = 0; }),
       ERROR_INV_PARAMETER},
      {"amplitude 0 before the rest", nullptr, Ripple({0, -5, 50000, 5000, {500, 500}, 0, 0}),
       SUCCESS, kNone},
      {"negative amplitude", nullptr, With([](Args& a) { a.amplitude = -1; }), out},
      {"frequency 0", nullptr, With([](Args& a) { a.frequency = 0; }), out},
      {"phase 36001", nullptr, With([](Args& a) { a.phase = 36001; }), out},
      {"attenuation 1001", nullptr, With([](Args& a) { a.attenuation = 1001; }), out},
      {"centre at right + 1", nullptr, With([](Args& a) { a.center = {13, 0}; }), out},
      {"limits accepted", nullptr,
       With([](Args& a) { a.phase = -36000, a.attenuation = 1000, a.center = {-1, 10}; }),
       SUCCESS, kSome},
  });
  // clang-format on
}

// One output sample, re-derived: the damped sine displacement along the ray, and the source row
// looked up in the window as it is laid out (rows around y clamped to the bitmap, or the
// rectangle's rows when the window would reach the rectangle's height).
uint32_t ExpectedRipple(const Snapshot& s, const RECT& rc, const Args& a,
                        const std::vector<uint32_t>& fill, int32_t x, int32_t y, int32_t k) {
  const double pi = 3.1415926535;
  const double Dx = std::max(a.center.x - rc.left, rc.right - a.center.x);
  const double Dy = std::max(a.center.y - rc.top, rc.bottom - a.center.y);
  const double R = std::sqrt(Dx * Dx + Dy * Dy);
  const double dx = x - a.center.x, dy = y - a.center.y;
  const double r = std::sqrt(dx * dx + dy * dy), theta = std::atan2(dy, dx);
  const double d = a.amplitude *
                   std::sin(r * (a.frequency / R * (2.0 * pi)) + a.phase * pi / 18000.0) /
                   (1.0 + r * (a.attenuation / R / 10.0));
  double sx = x + d * std::cos(theta), oy = d * std::sin(theta);
  const double sy = y + oy;
  const bool inside = sx < rc.right && sx >= rc.left && sy < rc.bottom && sy >= rc.top;
  if (!inside && a.flags == 2) return s.at(x, y, k);
  if (!inside && a.flags == 0) return s.step == 1 ? fill[0] : fill[k];
  if (!inside) {
    if (sx >= rc.right) sx = rc.right - 1;
    if (sx < rc.left) sx = rc.left;
    if (sy >= rc.bottom) oy = rc.bottom - 1 - y;
    if (sy < rc.top) oy = rc.top - y;
  }
  const int64_t rectH = rc.bottom - rc.top;
  if (2 * int64_t{a.amplitude} + 1 >= rectH) {
    return fxtest::ReferenceBilinear(
        s, [&](int32_t i) { return rc.top + i; }, int32_t(rectH), sx, (y - rc.top) + oy, k);
  }
  const int32_t half = a.amplitude;
  return fxtest::ReferenceBilinear(
      s, [&](int32_t i) { return std::clamp(y - half + i, 0, s.height - 1); }, 2 * half + 1, sx,
      half + oy, k);
}

TEST_F(RippleTest, WindowsAndOutsideModesMatchADirectEvaluation) {
  struct Case {
    const char* what;
    fxtest::Scene scene;
    Args args;
  };
  // scene; amplitude, frequency, phase, attenuation, centre, fill colour
  // clang-format off
  const Case cases[] = {
      {"sliding 8-bit", {30, 24, 24, ORDER_BGR}, {3, 4, 4500, 200, {14, 11}, 0x3060C0}},
      {"sliding 16-bit, centre outside", {27, 22, 48, ORDER_RGB},
       {5, 2, -9000, 0, {-1, 21}, 0xFF8040}},
      {"sliding in a region", {26, 25, 32, ORDER_BGR, {3, 6, 23, 21}},
       {2, 5, 1000, 0, {12, 13}, 0x10E020}},
      {"whole: amplitude 3 on five rows", {25, 20, 8, ORDER_GRAY, {3, 4, 22, 9}},
       {3, 3, 0, 50, {10, 6}, 0x405060}},
      {"whole: window exactly the height", {25, 20, 48, ORDER_BGR, {2, 7, 23, 12}},
       {2, 4, 9000, 0, {12, 9}, 0x405060}},
      {"whole 16-bit gray, literal level", {21, 16, 16, ORDER_GRAY},
       {9, 2, 27000, 300, {4, 12}, 0x0400ABCD}},
      {"largest amplitude", {18, 14, 64, ORDER_BGR}, {INT32_MAX, 1, 0, 0, {9, 7}, 0x7F7F7F}},
  };
  // clang-format on
  for (const auto& c : cases) {
    for (uint32_t flags : {0u, 1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << c.what << " flags " << flags);
      Args args = c.args;
      args.flags = flags;
      const int32_t changed = fxtest::CompareWithReference(
          c.scene, Ripple(args),
          [&](const Snapshot& s, BitmapRecord* b, const RECT& rc, int32_t x, int32_t y, int32_t k) {
            return ExpectedRipple(s, rc, args, fxtest::ReferenceFill(b, args.fillColor), x, y, k);
          });
      // The largest amplitude throws almost every source outside: kept in mode 2.
      EXPECT_GT(changed, flags == 2 && args.amplitude == INT32_MAX ? 0 : 10);
    }
  }
}

}  // namespace
