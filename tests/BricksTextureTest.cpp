// Bricks texture: entry checks, the brick layout against maps drawn by hand (mortar crossings at
// the rectangle's corner, course shifts), the brick colours drawn per brick from the seed, and the
// light vector on a flat wall and the lit side of a brick.
#include <cmath>
#include <string>

#include "Canvas.h"

namespace {

using namespace fxtest;

struct Args {
  uint32_t brickWidth = 6, brickHeight = 3, mortarWidth = 2, rowOffset = 50;
  uint32_t brickColor = 0x3264C8, mortarColor = 0x1E140A;  // (200, 100, 50) and (10, 20, 30)
  uint32_t colorVariation = 0, roughness = 0, seed = 1;
  int32_t azimuth = 135;
  uint32_t elevation = 90, depth = 1, opacity = 100, flags = 0;
};

Call Bricks(const Args& a) {
  return [=](BitmapRecord* b) {
    return Fx_BricksTextureBitmap(b, a.brickWidth, a.brickHeight, a.mortarWidth, a.rowOffset,
                                  a.brickColor, a.mortarColor, a.colorVariation, a.roughness,
                                  a.seed, a.azimuth, a.elevation, a.depth, a.opacity, a.flags);
  };
}

TEST(BricksTextureTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  // clang-format off
  CheckEntryCases({
      {"blend 4", nullptr, Bricks({.flags = 4}), bad},
      {"flags before the opacity", nullptr, Bricks({.opacity = 0, .flags = 0x10}), bad},
      {"brick width 0", nullptr, Bricks({.brickWidth = 0}), bad},
      {"brick height 65536", nullptr, Bricks({.brickHeight = 65536}), bad},
      {"row offset 101", nullptr, Bricks({.rowOffset = 101}), bad},
      {"azimuth 361", nullptr, Bricks({.azimuth = 361}), bad},
      {"elevation 181", nullptr, Bricks({.elevation = 181}), bad},
      {"depth 0", nullptr, Bricks({.depth = 0}), bad},
      {"opacity 0", nullptr, Bricks({.opacity = 0}), SUCCESS, kNone},
      {"painted", nullptr, Bricks({}), SUCCESS, kSome},
  });
  // clang-format on
}

// With the light straight above and the relief depth 1, the flat light term drowns every slope
// (the shade clamps at 255 = the flat shade), so each pixel is exactly the brick colour (B) or the
// mortar colour (m). Bricks 6 x 3 in joints 2 wide: pitches 8 and 5; a mortar crossing at the
// rectangle's corner; each course shifted by floor(j·rowOffset·8 / 100) more.
TEST(BricksTextureTest, LayoutMatchesMapsDrawnByHand) {
  struct Case {
    const char* what;
    Args args;
    RECT region;                   // empty: the whole bitmap
    std::vector<std::string> map;  // from the rectangle's top-left corner
  };
  // clang-format off
  const Case cases[] = {
      {"running bond: courses shifted by 4", {}, {},
       {"mmmmmmmmmmmmmmmmmmmm",
        "mmmmmmmmmmmmmmmmmmmm",
        "mmBBBBBBmmBBBBBBmmBB",
        "mmBBBBBBmmBBBBBBmmBB",
        "mmBBBBBBmmBBBBBBmmBB",
        "mmmmmmmmmmmmmmmmmmmm",
        "mmmmmmmmmmmmmmmmmmmm",
        "BBBBmmBBBBBBmmBBBBBB",
        "BBBBmmBBBBBBmmBBBBBB",
        "BBBBmmBBBBBBmmBBBBBB",
        "mmmmmmmmmmmmmmmmmmmm",
        "mmmmmmmmmmmmmmmmmmmm",
        "mmBBBBBBmmBBBBBBmmBB"}},
      {"raking: 25% shifts 2, then 4, then 6", {.rowOffset = 25}, {},
       {"mmmmmmmmmmmmmmmmmmmm",
        "mmmmmmmmmmmmmmmmmmmm",
        "mmBBBBBBmmBBBBBBmmBB",
        "mmBBBBBBmmBBBBBBmmBB",
        "mmBBBBBBmmBBBBBBmmBB",
        "mmmmmmmmmmmmmmmmmmmm",
        "mmmmmmmmmmmmmmmmmmmm",
        "BBBBBBmmBBBBBBmmBBBB",
        "BBBBBBmmBBBBBBmmBBBB",
        "BBBBBBmmBBBBBBmmBBBB",
        "mmmmmmmmmmmmmmmmmmmm",
        "mmmmmmmmmmmmmmmmmmmm",
        "BBBBmmBBBBBBmmBBBBBB",
        "BBBBmmBBBBBBmmBBBBBB",
        "BBBBmmBBBBBBmmBBBBBB",
        "mmmmmmmmmmmmmmmmmmmm",
        "mmmmmmmmmmmmmmmmmmmm",
        "BBmmBBBBBBmmBBBBBBmm"}},
      {"stack bond, no joints", {.brickWidth = 3, .brickHeight = 2, .mortarWidth = 0,
                                 .rowOffset = 0}, {},
       {"BBBBBB", "BBBBBB"}},
      {"the pattern starts at the region's corner", {.mortarWidth = 1}, {5, 3, 25, 20},
       {"mmmmmmmmmmmmmmm",
        "mBBBBBBmBBBBBBm",
        "mBBBBBBmBBBBBBm",
        "mBBBBBBmBBBBBBm",
        "mmmmmmmmmmmmmmm",
        "BBBBmBBBBBBmBBB"}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Canvas canvas(24, 20, 24);
    canvas.Fill(77);
    const bool region = c.region.right > c.region.left;
    if (region) {
      ASSERT_EQ(HostSetRegionRect(canvas.get(), nullptr, &c.region, 1), SUCCESS);
    }
    ASSERT_EQ(Bricks(c.args)(canvas.get()), SUCCESS);
    const Snapshot s = canvas.Take();
    const int32_t left = region ? c.region.left : 0, top = region ? c.region.top : 0;
    for (size_t v = 0; v < c.map.size(); ++v)
      for (size_t u = 0; u < c.map[v].size(); ++u) {
        const bool brick = c.map[v][u] == 'B';
        const uint32_t want[3] = {brick ? 50u : 30u, brick ? 100u : 20u, brick ? 200u : 10u};
        for (int32_t k = 0; k < 3; ++k)
          ASSERT_EQ(s.at(left + int32_t(u), top + int32_t(v), k), want[k])
              << "u " << u << " v " << v << " sample " << k;
      }
    if (region) {
      EXPECT_EQ(s.at(c.region.left - 1, c.region.top, 0), 77u);  // outside the region
    }
  }
}

// Colour variation: every pixel of a brick gets one colour, bricks differ, and the seed alone
// decides which (the same seed, the same wall; another seed, another wall).
TEST(BricksTextureTest, VariationIsDrawnPerBrickFromTheSeed) {
  const auto wall = [](uint32_t seed) {
    Canvas canvas(40, 20, 24);
    canvas.Fill(0);
    EXPECT_EQ(Bricks({.colorVariation = 100, .seed = seed})(canvas.get()), SUCCESS);
    return canvas.Take();
  };
  const Snapshot a = wall(7), b = wall(7), c = wall(8);
  EXPECT_EQ(a.rows, b.rows);
  EXPECT_NE(a.rows, c.rows);
  // Brick 0 of course 0 covers columns 2..7, rows 2..4; brick 1 columns 10..15.
  for (int32_t k = 0; k < 3; ++k) {
    for (int32_t y = 2; y <= 4; ++y)
      for (int32_t x = 2; x <= 7; ++x) EXPECT_EQ(a.at(x, y, k), a.at(2, 2, k)) << x << "," << y;
  }
  EXPECT_NE(a.at(2, 2, 2), a.at(10, 2, 2));
  EXPECT_NE(a.at(2, 2, 2), 200u);  // varied away from the given colour
}

// The light vector: a wall that is all mortar is flat, so every pixel is shaded by the flat shade
// sqrt(L2), L2 = (1530 / depth)·sin(elevation)·255 with the division in integers; with the relief
// alone the image is scaled by sqrt(L2) / max(sqrt(L2), 64).
TEST(BricksTextureTest, FlatWallIsShadedByTheLightsHeight) {
  for (const auto& [elevation, depth] :
       {std::pair{10u, 100u}, std::pair{3u, 7u}, std::pair{45u, 6u}}) {
    SCOPED_TRACE(::testing::Message() << "elevation " << elevation << " depth " << depth);
    Canvas canvas(16, 12, 48);
    canvas.Fill(60000);
    ASSERT_EQ(Bricks({.mortarWidth = 100, .elevation = elevation, .depth = depth, .flags = 3})(
                  canvas.get()),
              SUCCESS);
    const double l2 = double(1530 / depth) * std::sin(elevation * kPi / 180) * 255;
    const double flat = std::min(std::sqrt(l2), 255.0);
    const double want = std::floor(60000 * (flat / std::max(flat, 64.0)) + 0.5);
    EXPECT_EQ(canvas.Take().at(5, 5, 1), uint32_t(want));
  }
}

// Light from the left (azimuth 180) brightens the brick's left bevel and darkens its right one;
// from the right (0) the other way round. Relief alone on a level image, one brick 20 wide.
TEST(BricksTextureTest, TheLitSideFacesTheLight) {
  for (int32_t azimuth : {180, 0, -180}) {
    Canvas canvas(30, 12, 24);
    canvas.Fill(128);
    ASSERT_EQ(Bricks({.brickWidth = 20,
                      .brickHeight = 8,
                      .mortarWidth = 2,
                      .azimuth = azimuth,
                      .elevation = 30,
                      .depth = 12,
                      .flags = 3})(canvas.get()),
              SUCCESS);
    const Snapshot s = canvas.Take();
    // Brick columns 2..21: left bevel at 2, right bevel at 21; row 6 is mid-brick.
    const int32_t leftSide = s.at(2, 6, 0), rightSide = s.at(21, 6, 0), middle = s.at(11, 6, 0);
    EXPECT_EQ(middle, 128) << azimuth;  // flat: the flat shade, neutral above 64
    if (azimuth == 0) {
      EXPECT_GT(rightSide, middle);
      EXPECT_LT(leftSide, middle);
    } else {
      EXPECT_GT(leftSide, middle) << azimuth;
      EXPECT_LT(rightSide, middle) << azimuth;
    }
  }
}

}  // namespace
