// Swirl: its own checks in their order, and every pixel against a direct evaluation.
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

Call Swirl(int32_t angle, POINT center, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_SwirlBitmap(b, angle, center, flags); };
}

TEST(SwirlTest, EntryChecksInTheirOrder) {
  const auto out = ERROR_POINT_OUT_OF_RANGE;
  CheckEntryCases({
      {"angle 0 before the centre", nullptr, Swirl(0, {5000, -5000}), SUCCESS, kNone},
      {"centre at right, bottom", nullptr, Swirl(100, {12, 10}), SUCCESS, kSome},
      {"centre at left - 1, top - 1", nullptr, Swirl(100, {-1, -1}), SUCCESS, kSome},
      {"centre at right + 1", nullptr, Swirl(100, {13, 0}), out},
      {"centre at top - 2", nullptr, Swirl(100, {3, -2}), out},
  });
}

// The source of a pixel turns about the centre by log(R / r) x angle / 180 radians, R the
// ellipse's radius in the pixel's direction; sources are clamped into the rectangle.
uint32_t ExpectedSwirl(const Sample& p, POINT c, int32_t angle) {
  const int dx = p.x - c.x, dy = p.y - c.y;
  if (dx == 0 && dy == 0) return p.before();
  const RECT& rc = p.rc;
  const int a = (rc.right - rc.left) / 2, b = (rc.bottom - rc.top) / 2, h = rc.bottom - rc.top;
  const double r = std::sqrt(double(dx * dx + dy * dy));
  double theta = std::atan2(double(dy), double(dx));
  if (theta < 0) theta += kPi * 2.0;
  const double R = std::sqrt(double(a * a) * std::cos(theta) * std::cos(theta) +
                             double(b * b) * std::sin(theta) * std::sin(theta));
  const double t = std::log(R / r) * (angle / 180.0);
  if (t == 0 || r > R) return p.before();
  double sx = r * std::cos(theta + t) + c.x;
  double sy = r * std::sin(theta + t) + c.y - rc.top;
  sx = sx >= rc.right ? rc.right - 1 : (sx < rc.left ? rc.left : sx);
  sy = sy >= h ? h - 1 : (sy < 0 ? 0 : sy);
  return ReferenceBilinear(p.s, rc, sx, sy, p.k);
}

TEST(SwirlTest, PixelsMatchADirectEvaluation) {
  struct Case {
    Scene scene;
    int32_t angle;
    POINT center;
  };
  const Case cases[] = {
      {{33, 27, 24, ORDER_BGR}, 900, {20, 14}},
      {{33, 27, 48, ORDER_RGB}, -2500, {9, 20}},
      {{33, 27, 16, ORDER_GRAY}, 70000, {15, 15}},
      {{9, 21, 8, ORDER_GRAY, {4, 0, 5, 21}, 5}, 5000, {4, 10}},  // one column: moves along it
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "bpp " << c.scene.bpp << " angle " << c.angle);
    EXPECT_GT(
        CompareWithReference(c.scene, Swirl(c.angle, c.center),
                             [&](const Sample& p) { return ExpectedSwirl(p, c.center, c.angle); }),
        5);
  }
}

}  // namespace
