// Swirl: its own checks in their order, and every pixel against a direct evaluation.
#include <cmath>
#include <vector>

#include "Common/Swirl.h"
#include "EffectCheck.h"
#include "ShortPathPicture.h"

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

// Every row of the rectangle through the short path and through the literal arithmetic alone.
template <class T>
ShortPathCount CompareShortPath(int32_t width, int32_t height, int32_t step, RECT rect,
                                POINT center, int32_t angle, uint32_t seed) {
  auto rows = ShortPathPicture<T>(width, height, step, seed);
  std::vector<T*> cache;
  for (int32_t y = rect.top; y < rect.bottom; ++y) cache.push_back(rows[y].data());
  const fx::SwirlGeometry g = fx::MakeSwirlGeometry(rect, angle, center);
  std::vector<uint8_t> scratch(fx::SwirlScratchBytes(rect));
  ShortPathCount count;
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    std::vector<T> quick = rows[y], literal = rows[y];
    count.literal +=
        fx::SwirlRow<T>(g, cache.data(), y, step, width, quick.data(), scratch.data(), false);
    count.moved +=
        fx::SwirlRow<T>(g, cache.data(), y, step, width, literal.data(), scratch.data(), true);
    for (size_t i = 0; i < quick.size(); ++i) count.differing += quick[i] != literal[i];
  }
  return count;
}

// The short path decides a pixel's samples only when its bound proves them equal to the
// literal arithmetic's; over millions of pixels of every kind of picture and twist, every
// sample is equal, and for ordinary twists nearly every pixel is decided by the short path.
TEST(SwirlTest, ShortPathGivesTheLiteralSamples) {
  struct Case {
    const char* name;
    int32_t width, height, step;
    bool wide;  // 16-bit samples
    RECT rect;
    POINT center;
    int32_t angle;
    double maxLiteral;  // the largest share of moved pixels left to the literal arithmetic
  };
  const Case cases[] = {
      {"24-bit, default", 800, 600, 3, false, {0, 0, 800, 600}, {400, 300}, 400, 0.01},
      {"24-bit, strong reverse", 640, 480, 3, false, {0, 0, 640, 480}, {200, 300}, -3000, 0.01},
      {"32-bit, inner rectangle", 640, 480, 4, false, {37, 51, 600, 433}, {301, 250}, 1500, 0.01},
      {"gray, centre at the corner", 640, 480, 1, false, {0, 0, 640, 480}, {-1, -1}, 700, 0.01},
      {"24-bit, centre past the right edge",
       320,
       240,
       3,
       false,
       {0, 0, 320, 240},
       {320, -1},
       700,
       0.01},
      {"48-bit", 640, 480, 3, true, {0, 0, 640, 480}, {320, 240}, -900, 0.01},
      {"64-bit, tall", 200, 700, 4, true, {0, 0, 200, 700}, {100, 350}, 2000, 0.01},
      {"16-bit gray", 480, 480, 1, true, {10, 10, 470, 470}, {240, 240}, 1, 0.01},
      {"24-bit, largest angle", 640, 480, 3, false, {0, 0, 640, 480}, {320, 240}, INT32_MAX, 1},
      {"48-bit, smallest angle", 480, 360, 3, true, {0, 0, 480, 360}, {240, 180}, INT32_MIN, 1},
      {"24-bit, huge twist", 640, 480, 3, false, {0, 0, 640, 480}, {320, 240}, 90000, 1},
      {"one row high", 900, 3, 3, false, {0, 0, 900, 3}, {450, 1}, 800, 1},
      {"one column wide", 3, 900, 3, false, {0, 0, 3, 900}, {1, 450}, 800, 1},
      {"two pixels", 2, 2, 3, false, {0, 0, 2, 2}, {0, 0}, 800, 1},
  };
  int64_t compared = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const uint32_t seed = static_cast<uint32_t>(c.width) * 31 + static_cast<uint32_t>(c.angle);
    const ShortPathCount n =
        c.wide
            ? CompareShortPath<uint16_t>(c.width, c.height, c.step, c.rect, c.center, c.angle, seed)
            : CompareShortPath<uint8_t>(c.width, c.height, c.step, c.rect, c.center, c.angle, seed);
    EXPECT_EQ(n.differing, 0);
    EXPECT_LE(n.literal, c.maxLiteral * n.moved) << n.literal << " of " << n.moved;
    compared += n.moved;
  }
  EXPECT_GT(compared, 2000000);
}

}  // namespace
