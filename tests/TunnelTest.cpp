// Tunnel: entry checks, and both layouts and modes against a direct evaluation (tiles, the
// vanishing point, fades both ways and past their limits, extreme sizes, thin rectangles).
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

struct Args {
  POINT center{6, 4};
  int32_t depthOffset = 0, viewDistance = 30, radius = 10, repeat = -1, rotation = 0,
          depthScale = 100;
  uint32_t fadeStart = 0, fadeEnd = 100;
  int32_t fadeDistance = 2;
  uint32_t fadeColor = 0, fillColor = 0x0000FF, flags = 0x21;
};

Call Tunnel(const Args& a) {
  return [=](BitmapRecord* b) {
    return Fx_TunnelBitmap(b, a.center, a.depthOffset, a.viewDistance, a.radius, a.repeat,
                           a.rotation, a.depthScale, a.fadeStart, a.fadeEnd, a.fadeDistance,
                           a.fadeColor, a.fillColor, a.flags);
  };
}

TEST(TunnelTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  // clang-format off
  CheckEntryCases({
      {"repeat -2", nullptr, Tunnel({.repeat = -2}), bad},
      {"fadeStart unsigned", nullptr, Tunnel({.fadeStart = 0xFFFFFFFFu}), bad},
      {"rotation -1", nullptr, Tunnel({.rotation = -1}), bad},
      {"flags 0x31", nullptr, Tunnel({.flags = 0x31}), bad},
      {"flags 0x121: bits 8-11 in both words", nullptr, Tunnel({.flags = 0x121}), bad},
      {"bits above 15 ignored", nullptr, Tunnel({.flags = 0xABC10022u}), SUCCESS},
      {"centre far off the image", nullptr, Tunnel({.center = {-1000, 5000}}), SUCCESS},
  });
  // clang-format on
}

// One output sample, re-derived: the ray from the viewer through (x, y) meets the cylinder; its
// angle and depth select the source, its length the fade. fadeDistance 0 fades by fadeEnd and a
// one-pixel rectangle has no rotation offset (documented choices). Colours with bit 26 are gray
// levels at every depth.
uint32_t ExpectedTunnel(const Sample& p, const Args& a) {
  const RECT& rc = p.rc;
  const bool angleAcross = (a.flags & 0xF0) == 0x20;
  const auto color = [&](uint32_t c) {
    return ReferenceFill(p.bitmap, c, true)[p.s.step == 1 ? 0 : p.k];
  };
  const uint32_t kept = (a.flags & 0xF) == 1 ? color(a.fillColor) : p.before();
  const double dx = double(p.x) - a.center.x, dy = double(p.y) - a.center.y, Z = a.viewDistance;
  if (dx == 0 && dy == 0) return kept;
  const double L = std::sqrt(dx * dx + dy * dy + Z * Z);
  const double ux = dx / L, uy = dy / L, uz = Z / L, a2 = ux * ux + uy * uy;
  const double disc = -4.0 * a2 * (-(double(a.radius) * a.radius));
  if (disc < 0) return kept;
  const double t = std::fabs(std::min(std::sqrt(disc) / (2 * a2), -std::sqrt(disc) / (2 * a2)));
  const double hz = t * uz + Z;
  const double depth = std::fabs(hz) * (a.depthScale / 100.0) + a.depthOffset;
  const double beta = std::atan2(t * uy, t * ux) + kPi;
  const int rectW = rc.right - rc.left, rectH = rc.bottom - rc.top;
  const int around = (angleAcross ? rectW : rectH) - 1, tile = angleAcross ? rectH : rectW;
  double u = std::fabs(beta * around / (2.0 * kPi)) + (around > 0 ? a.rotation % around : 0);
  if (u > around) u -= around;
  const double n = std::trunc(depth / tile);
  if (a.repeat != -1 && n >= a.repeat) return kept;
  const double col = angleAcross ? u + rc.left : depth - n * tile + rc.left;
  const double row = angleAcross ? depth - n * tile : u;
  const int32_t v = ReferenceBilinear(p.s, rc, col, row, p.k);
  double f = a.fadeEnd / 100.0;
  if (a.fadeDistance != 0) {
    const double slope = (double(a.fadeEnd) - double(a.fadeStart)) / (a.fadeDistance * 100 * 100.0);
    f = std::clamp(std::fabs(t) * slope + a.fadeStart / 100.0, 0.0, 1.0);
  }
  return uint32_t(std::clamp(v * (1 - f) + color(a.fadeColor) * f, 0.0, double(p.s.max())));
}

TEST(TunnelTest, LayoutsModesTilesAndFadesMatchADirectEvaluation) {
  struct Case {
    const char* what;
    Scene scene;
    Args args;  // flags give the layout; both modes are run
  };
  // args: center, depthOffset, viewDistance, radius, repeat, rotation, depthScale, fadeStart,
  // fadeEnd, fadeDistance, fadeColor, fillColor, layout
  // clang-format off
  const Case cases[] = {
      {"across, endless, fade to gray past its end", {32, 24, 24, ORDER_BGR, {}},
       {{15, 11}, 0, 40, 20, -1, 0, 100, 0, 100, 2, 0x808080, 0x0000FF, 0x20}},
      {"down, 16-bit gray, literal levels", {21, 17, 16, ORDER_GRAY, {}},
       {{9, 9}, 0, 50, 8, -1, 2, 100, 10, 90, 4, 0x0400C350, 0x04001234, 0x10}},
      {"across in a region, rotated, three tiles", {30, 24, 32, ORDER_BGR, {4, 3, 25, 19}},
       {{14, 10}, 3, 8, 9, 3, 100, 80, 0, 60, 2, 0x103050, 0x0000FF, 0x20}},
      {"no tile at all", {16, 12, 24, ORDER_BGR, {}},
       {{8, 6}, 0, 30, 10, 0, 0, 100, 0, 100, 2, 0, 0x0000FF, 0x20}},
      {"fadeDistance 0 fades by fadeEnd", {20, 16, 64, ORDER_BGR, {}},
       {{10, 8}, 0, 30, 10, -1, 0, 100, 20, 60, 0, 0xFFFFFF, 0x0000FF, 0x10}},
  };
  // clang-format on
  for (const auto& c : cases) {
    for (uint32_t mode : {1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << c.what << " mode " << mode);
      Args args = c.args;
      args.flags |= mode;
      const int32_t changed = CompareWithReference(
          c.scene, Tunnel(args), [&](const Sample& p) { return ExpectedTunnel(p, args); });
      EXPECT_EQ(changed > 5, args.repeat != 0 || mode != 2);  // no tile, no fill: unchanged
    }
  }
}

}  // namespace
