// Plane and plane bend: entry checks; the horizon and the row where the picture lies at its own
// size, worked by hand; every output sample of single-ray planes against a direct evaluation of
// the model; supersampling where the picture shrinks; the bend's wall and the unbent part.
#include <cmath>

#include "Canvas.h"

namespace {

using namespace fxtest;

struct Args {
  POINT vp{10, 2};
  int32_t tilt = 0, distance = 6, fieldOfView = 9000, rotation = 0, offsetX = 0, offsetY = 0;
  int32_t bendPosition = 0, bendRadius = 0, bendAngle = 0;  // plane bend only
  uint32_t fadeStart = 0, fadeEnd = 0;
  int32_t fadeDistance = 0;
  uint32_t fadeColor = 0xFFFFFF, fillColor = 0x0000FF, flags = 0x100;  // once, fill, one ray
};

Call Plane(const Args& a) {
  return [=](BitmapRecord* b) {
    return Fx_PlaneBitmap(b, a.vp, a.tilt, a.distance, a.fieldOfView, a.rotation, a.offsetX,
                          a.offsetY, a.fadeStart, a.fadeEnd, a.fadeDistance, a.fadeColor,
                          a.fillColor, a.flags);
  };
}
Call Bend(const Args& a) {
  return [=](BitmapRecord* b) {
    return Fx_PlaneBendBitmap(b, a.vp, a.tilt, a.distance, a.fieldOfView, a.rotation,
                              a.bendPosition, a.bendRadius, a.bendAngle, a.fadeStart, a.fadeEnd,
                              a.fadeDistance, a.fadeColor, a.fillColor, a.flags);
  };
}

TEST(PlaneTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  // clang-format off
  CheckEntryCases({
      {"outside 3", nullptr, Plane({.flags = 3}), bad},
      {"tiling 0x30", nullptr, Plane({.flags = 0x30}), bad},
      {"sampling 0x200", nullptr, Plane({.flags = 0x200}), bad},
      {"bit 12", nullptr, Plane({.flags = 0x1000}), bad},
      {"flags before the values", nullptr, Plane({.distance = 0, .flags = 3}), bad},
      {"distance 0", nullptr, Plane({.distance = 0}), bad},
      {"field of view 0", nullptr, Plane({.fieldOfView = 0}), bad},
      {"field of view 180 degrees", nullptr, Plane({.fieldOfView = 18000}), bad},
      {"tilt", nullptr, Plane({.tilt = 36001}), bad},
      {"fade end 101", nullptr, Plane({.fadeEnd = 101}), bad},
      {"fade distance -1", nullptr, Plane({.fadeDistance = -1}), bad},
      {"vanishing point far off", nullptr, Plane({.vp = {-5000, 9000}, .flags = 0x12}), SUCCESS},
      {"plane", nullptr, Plane({.flags = 0x21}), SUCCESS, kSome},
      {"bend radius -1", nullptr, Bend({.bendRadius = -1}), bad},
      {"bend angle", nullptr, Bend({.bendAngle = -36001}), bad},
      {"bend flags", nullptr, Bend({.bendRadius = -1, .flags = 0x40}), bad},
      {"bend", nullptr, Bend({.bendRadius = 3, .bendAngle = 9000}), SUCCESS, kSome},
  });
  // clang-format on
}

// The picture is 21 x 17 with its centre at (10, 8). The vanishing point (10, 2) puts the horizon
// on row 2: rows 0 .. 2 see the sky. Row 2 + distance = 8 meets the plane at t = 1, where the
// picture lies at its own width with its middle row: output (x, 8) is picture (x + ... , 8) with
// column 10 + (x - 10) - offsetX, whatever the field of view.
TEST(PlaneTest, HorizonAndTheRowAtTheViewersDistanceWorkedByHand) {
  struct Case {
    const char* what;
    Args args;
    std::function<int32_t(int32_t)> source;  // picture column of output (x, 8); -1: fill
  };
  // clang-format off
  const Case cases[] = {
      {"as it is", {}, [](int32_t x) { return x; }},
      {"narrow view", {.fieldOfView = 2000}, [](int32_t x) { return x; }},
      {"moved right", {.offsetX = 1}, [](int32_t x) { return x - 1; }},
      {"moved a picture over, repeated", {.offsetX = 21, .flags = 0x110},
       [](int32_t x) { return x; }},
      {"moved a picture over, mirrored", {.offsetX = 21, .flags = 0x120},
       [](int32_t x) { return 20 - x; }},
      {"moved away along the plane: middle row still shows at t = 1", {.offsetY = 0, .flags = 0x101},
       [](int32_t x) { return x; }},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    for (auto [bpp, order] :
         {std::pair{24, uint32_t{ORDER_BGR}}, std::pair{16, uint32_t{ORDER_GRAY}}}) {
      Canvas canvas(21, 17, bpp, order);
      canvas.Fill([](int32_t x, int32_t y, int32_t k) { return (x * 37 + y * 11 + k * 50) % 251; });
      const Snapshot before = canvas.Take();
      ASSERT_EQ(Plane(c.args)(canvas.get()), SUCCESS);
      const Snapshot s = canvas.Take();
      const auto fill = ReferenceFill(canvas.get(), c.args.fillColor);
      for (int32_t x = 0; x < 21; ++x)
        for (int32_t k = 0; k < s.step; ++k) {
          for (int32_t y = 0; y <= 2; ++y) EXPECT_EQ(s.at(x, y, k), fill[k]) << x << "," << y;
          const int32_t from = c.source(x);
          EXPECT_EQ(s.at(x, 8, k), from < 0 ? fill[k] : before.at(from, 8, k)) << x;
        }
      if (c.args.offsetX == 1) {
        for (int32_t k = 0; k < s.step; ++k) EXPECT_EQ(s.at(0, 8, k), fill[k]);
      }
    }
  }
}

// A fade of 50 at both ends halves the way to the fade colour everywhere (rounded half up); keep
// mode leaves the sky alone; the ceiling (tilt 180 degrees) sees the sky below the horizon; a wall
// on the right (90 degrees) sees it left of the vanishing point.
TEST(PlaneTest, FadeKeepAndTilts) {
  Canvas canvas(21, 17, 24);
  const auto value = [](int32_t x, int32_t y, int32_t k) { return uint32_t(x * 9 + y + k * 7); };
  canvas.Fill(value);
  ASSERT_EQ(
      Plane({.fadeStart = 50, .fadeEnd = 50, .fadeColor = 0xC8C8C8, .flags = 0x102})(canvas.get()),
      SUCCESS);
  Snapshot s = canvas.Take();
  for (int32_t x = 0; x < 21; ++x) {
    EXPECT_EQ(s.at(x, 1, 0), value(x, 1, 0));  // the sky kept
    EXPECT_EQ(s.at(x, 8, 0), uint32_t(std::floor(value(x, 8, 0) * 0.5 + 200 * 0.5 + 0.5)));
  }
  canvas.Fill(value);
  ASSERT_EQ(Plane({.vp = {10, 12}, .tilt = 18000, .flags = 0x100})(canvas.get()), SUCCESS);
  s = canvas.Take();
  for (int32_t y = 13; y < 17; ++y) EXPECT_EQ(s.at(4, y, 2), 255u) << y;
  EXPECT_NE(s.at(4, 3, 2), 255u);
  canvas.Fill(value);
  ASSERT_EQ(Plane({.vp = {10, 8}, .tilt = 9000, .flags = 0x100})(canvas.get()), SUCCESS);
  s = canvas.Take();
  for (int32_t x = 0; x < 10; ++x) EXPECT_EQ(s.at(x, 3, 2), 255u) << x;
  EXPECT_NE(s.at(16, 3, 2), 255u);
}

// One output sample of a single-ray plane, evaluated from the model as the effect documents it.
int32_t WrappedBilinear(const Snapshot& s, const RECT& rc, double col, double row, int32_t k,
                        bool mirror) {
  const int32_t W = rc.right - rc.left, H = rc.bottom - rc.top;
  const auto wrap = [&](double c, int32_t n) {
    const double period = mirror ? 2.0 * n : n;
    double r = c - std::floor(c / period) * period;
    return r >= period ? 0.0 : r;
  };
  const auto index = [&](int32_t i, int32_t n) {
    if (!mirror) return i % n;
    i %= 2 * n;
    return i < n ? i : 2 * n - 1 - i;
  };
  const double c = wrap(col, W), r = wrap(row, H);
  const int32_t ix = int32_t(c), iy = int32_t(r);
  const double fx = c - ix, fy = r - iy;
  const auto at = [&](int32_t i, int32_t j) {
    return int32_t(s.at(rc.left + index(i, W), rc.top + index(j, H), k));
  };
  const int32_t p00 = at(ix, iy), p01 = at(ix + 1, iy), p10 = at(ix, iy + 1),
                p11 = at(ix + 1, iy + 1);
  const double v =
      ((p00 + (p01 - p00) * fx) + (p10 - p00) * fy) + ((p00 + p11 - p01 - p10) * fx) * fy;
  return std::clamp(int32_t(v), 0, s.max());
}

uint32_t ExpectedPlane(const Sample& p, const Args& a) {
  const RECT& rc = p.rc;
  const int32_t W = rc.right - rc.left, H = rc.bottom - rc.top;
  const uint32_t outside = a.flags & 0xF, tiling = a.flags & 0xF0;
  const auto colour = [&](uint32_t c) {
    return ReferenceFill(p.bitmap, c)[p.s.step == 1 ? 0 : p.k];
  };
  const double tau = a.tilt * kPi / 18000.0, rho = a.rotation * kPi / 18000.0;
  const double f = (W / 2.0) / std::tan(a.fieldOfView * kPi / 36000.0);
  const double dx = p.x - double(a.vp.x), dy = p.y - double(a.vp.y);
  const double s = dx * std::sin(tau) + dy * std::cos(tau);
  const double l = dx * std::cos(tau) - dy * std::sin(tau);
  if (!(s > 0)) return outside == 2 ? p.before() : colour(a.fillColor);
  const double t = a.distance / s;
  const double pp = t * l - a.offsetX, q = t * f - f - a.offsetY;
  double col = (W - 1) / 2.0 + (pp * std::cos(rho) + q * std::sin(rho));
  double row = (H - 1) / 2.0 - (q * std::cos(rho) - pp * std::sin(rho));
  double v;
  if (tiling != 0) {
    v = WrappedBilinear(p.s, rc, col, row, p.k, tiling == 0x20);
  } else {
    if (!(col >= 0 && col < W && row >= 0 && row < H)) {
      if (outside == 2) return p.before();
      if (outside == 0) return colour(a.fillColor);
      col = std::clamp(col, 0.0, W - 1.0), row = std::clamp(row, 0.0, H - 1.0);
    }
    v = ReferenceBilinear(p.s, rc, rc.left + col, row, p.k);
  }
  double fade = a.fadeEnd / 100.0;
  if (a.fadeDistance > 0)
    fade = a.fadeStart / 100.0 +
           (double(a.fadeEnd) - a.fadeStart) / 100.0 * (1.0 - std::exp(-(t * f) / a.fadeDistance));
  if (a.fadeStart != 0 || a.fadeEnd != 0) v = v * (1 - fade) + colour(a.fadeColor) * fade;
  return uint32_t(std::clamp(std::floor(v + 0.5), 0.0, double(p.s.max())));
}

TEST(PlaneTest, SingleRayPlanesMatchADirectEvaluation) {
  struct Case {
    const char* what;
    Scene scene;
    Args args;
  };
  // clang-format off
  const Case cases[] = {
      {"floor, turned, edge", {40, 30, 24, ORDER_BGR, {}},
       {.vp = {18, 6}, .distance = 9, .fieldOfView = 7000, .rotation = 2500, .flags = 0x101}},
      {"tilted in a region, repeated, faded", {36, 30, 48, ORDER_BGR, {3, 2, 33, 27}},
       {.vp = {15, 4}, .tilt = 3000, .distance = 7, .rotation = -4000, .offsetX = 5,
        .offsetY = -9, .fadeStart = 10, .fadeEnd = 90, .fadeDistance = 30, .fadeColor = 0x406080,
        .flags = 0x110}},
      {"wall on the left, mirrored, gray 16", {30, 26, 16, ORDER_GRAY, {}},
       {.vp = {20, 12}, .tilt = 27000, .distance = 5, .fieldOfView = 12000, .offsetY = 3,
        .fadeEnd = 60, .fadeDistance = 0, .flags = 0x120}},
      {"ceiling, keep", {32, 24, 32, ORDER_BGR, {}},
       {.vp = {16, 20}, .tilt = 18000, .distance = 6, .rotation = 9000, .flags = 0x102}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_GT(CompareWithReference(c.scene, Plane(c.args),
                                   [&](const Sample& p) { return ExpectedPlane(p, c.args); }),
              100);
  }
}

// Adaptive sampling: where the picture is magnified (near the viewer) the pixel is the single ray
// itself; toward the horizon several rays are averaged, which calms the aliasing of fine detail.
TEST(PlaneTest, SupersamplingOnlyWhereThePictureShrinks) {
  const Args args{.vp = {32, 4}, .distance = 40, .fieldOfView = 6000, .flags = 0x10};
  Snapshot result[2];
  for (int32_t single = 0; single < 2; ++single) {
    Canvas canvas(64, 48, 24);
    canvas.Fill([](int32_t x, int32_t y, int32_t) { return ((x + y) % 2) ? 230u : 20u; });
    Args a = args;
    a.flags |= single ? 0x100 : 0;
    ASSERT_EQ(Plane(a)(canvas.get()), SUCCESS);
    result[single] = canvas.Take();
  }
  const auto roughness = [](const Snapshot& s, int32_t y) {
    int64_t sum = 0;
    for (int32_t x = 1; x < s.width; ++x)
      sum += std::abs(int32_t(s.at(x, y, 0)) - int32_t(s.at(x - 1, y, 0)));
    return sum;
  };
  for (int32_t x = 0; x < 64; ++x) EXPECT_EQ(result[0].at(x, 47, 0), result[1].at(x, 47, 0)) << x;
  // Rows 15 and 20 show 3 to 4 picture pixels per output pixel.
  for (int32_t y : {15, 20}) EXPECT_LT(roughness(result[0], y) * 2, roughness(result[1], y)) << y;
}

// The bent plane with a bend angle of 0 is the plane; with a bend behind the rows seen, those
// rows are the plane's as well.
TEST(PlaneTest, UnbentPartIsThePlane) {
  for (const Args& a :
       {Args{.bendPosition = 30, .bendRadius = 5, .bendAngle = 0, .flags = 0x10},
        Args{.bendPosition = 30, .bendRadius = 5, .bendAngle = 9000, .flags = 0x10},
        Args{.bendPosition = 30, .bendRadius = 0, .bendAngle = -20000, .flags = 0x21}}) {
    SCOPED_TRACE(a.bendAngle);
    Canvas plane(21, 17, 24), bent(21, 17, 24);
    const auto value = [](int32_t x, int32_t y, int32_t k) {
      return uint32_t(x * 13 + y * 7 + k * 60) % 256;
    };
    plane.Fill(value);
    bent.Fill(value);
    ASSERT_EQ(Plane(a)(plane.get()), SUCCESS);
    ASSERT_EQ(Bend(a)(bent.get()), SUCCESS);
    const Snapshot p = plane.Take(), b = bent.Take();
    // The flat part reaches z = f + 30 (f about 10.5): rows with s = y - 2 of 2 or more.
    const int32_t first = a.bendAngle == 0 ? 0 : 5;
    for (int32_t y = first; y < 17; ++y)
      for (int32_t x = 0; x < 21; ++x)
        for (int32_t k = 0; k < 3; ++k) ASSERT_EQ(b.at(x, y, k), p.at(x, y, k)) << x << "," << y;
    if (a.bendAngle > 0) {
      EXPECT_NE(b.rows, p.rows);  // the wall the bend raises shows above the horizon
    }
  }
}

// A quarter bend raises a wall at z = Zb + r that stands D - r above the arc's end where the level
// ray through the vanishing point meets it: the picture position there is q = bendPosition +
// r·(π / 2) + (D - r) beyond the centre, in the picture's middle column. Bent the other way, the
// plane drops away and the level ray sees the sky.
TEST(PlaneTest, TheBendsWallWorkedByHand) {
  const Args up{.vp = {10, 20},
                .distance = 10,
                .bendPosition = -10,
                .bendRadius = 4,
                .bendAngle = 9000,
                .flags = 0x100};
  Canvas canvas(21, 41, 24);
  canvas.Fill([](int32_t x, int32_t y, int32_t k) { return uint32_t(x * 3 + y * 6 + k); });
  const Snapshot before = canvas.Take();
  ASSERT_EQ(Bend(up)(canvas.get()), SUCCESS);
  const double q = -10 + 4 * (9000 * kPi / 18000) + (10 - 4);
  const RECT whole{0, 0, 21, 41};
  for (int32_t k = 0; k < 3; ++k)
    EXPECT_EQ(canvas.Take().at(10, 20, k),
              uint32_t(ReferenceBilinear(before, whole, 10, 20 - q, k)));

  Args down = up;
  down.bendAngle = -9000;
  canvas.Fill(0);
  ASSERT_EQ(Bend(down)(canvas.get()), SUCCESS);
  EXPECT_EQ(canvas.Take().at(10, 20, 2), 255u);
}

}  // namespace
