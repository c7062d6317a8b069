// Polar coordinates: entry checks, and both directions with the three outside modes on odd and
// even rectangles against a direct evaluation.
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

Call Polar(uint32_t fillColor, uint32_t flags) {
  return [=](BitmapRecord* b) { return Fx_PolarBitmap(b, fillColor, flags); };
}

TEST(PolarTest, EntryChecksInTheirOrder) {
  CheckEntryCases({
      {"direction 0x20 before mode 3", nullptr, Polar(0, 0x23), ERROR_POINT_OUT_OF_RANGE},
      {"mode 3", nullptr, Polar(0, 3), ERROR_INV_PARAMETER},
  });
}

// One output sample, re-derived from the two mappings. A one-pixel-thin rectangle is left as
// it is (documented: it has no polar mapping).
uint32_t ExpectedPolar(const Sample& p, uint32_t fillColor, uint32_t flags) {
  const double T = 2.0 * kPi;
  const RECT& rc = p.rc;
  const int w = rc.right - rc.left - 1, h = rc.bottom - rc.top - 1, rows = h + 1;
  if (w == 0 || h == 0) return p.before();
  const int cx = (rc.left + rc.right) / 2, cyr = (rc.top + rc.bottom) / 2 - rc.top;
  const double D = std::sqrt(w * w / 4.0 + h * h / 4.0);
  const double m = D / (std::min(w, h) / 2.0);
  double sx, sy;
  if ((flags & 0xF0) == 0) {
    const int dx = p.x - cx, dy = (p.y - rc.top) - cyr;
    double theta = std::atan2(double(dy), double(dx));
    if (theta < 0) theta += T;
    sx = (w / T) * theta + rc.left;
    sy = (h / D * m) * std::sqrt(double(dx * dx + dy * dy));
  } else {
    const double rho = D * (p.y - rc.top) / h * (1 / m), phi = (T / w) * (p.x - rc.left);
    sx = rho * std::cos(phi) + cx;
    sy = rho * std::sin(phi) + cyr;
  }
  if (!(sx >= rc.left && sx < rc.right && sy >= 0 && sy < rows)) {
    if ((flags & 0xF) == 2) return p.before();
    if ((flags & 0xF) == 0) return ReferenceFill(p.bitmap, fillColor)[p.s.step == 1 ? 0 : p.k];
    if (sx >= rc.right) sx = rc.right - 1;
    if (sx < rc.left) sx = rc.left;
    if (sy >= rows) sy = rows - 1;
    if (sy < 0) sy = 0;
  }
  return ReferenceBilinear(p.s, rc, sx, sy, p.k);
}

TEST(PolarTest, BothDirectionsAndOutsideModesMatchADirectEvaluation) {
  struct Case {
    Scene scene;
    uint32_t fillColor;
  };
  const Case cases[] = {
      {{15, 11, 24, ORDER_BGR, {}}, 0x3060C0},              // odd sizes
      {{16, 12, 48, ORDER_RGB, {}}, 0x00FF8040},            // even sizes, 16-bit samples
      {{19, 14, 32, ORDER_BGR, {3, 2, 14, 11}}, 0x10E020},  // region; fourth sample kept
      {{12, 10, 24, ORDER_BGR, {5, 0, 6, 10}}, 0xFFFFFF},   // one pixel wide
  };
  for (const auto& c : cases) {
    for (uint32_t flags : {0x00u, 0x01u, 0x02u, 0x10u, 0x11u, 0x12u}) {
      SCOPED_TRACE(::testing::Message() << c.scene.width << "x" << c.scene.height << " bpp "
                                        << c.scene.bpp << " flags " << flags);
      const int32_t changed = CompareWithReference(
          c.scene, Polar(c.fillColor, flags),
          [&](const Sample& p) { return ExpectedPolar(p, c.fillColor, flags); });
      const RECT& r = c.scene.region;
      EXPECT_EQ(changed > 20, r.right - r.left != 1 && r.bottom - r.top != 1);  // thin: unchanged
    }
  }
}

}  // namespace
