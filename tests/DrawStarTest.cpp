// Draw star: entry checks, and the star's geometry, coverage, glow and blends on pixels worked out
// by hand (tips at the outer radius, the centre, the glow along a tip's axis).
#include "Canvas.h"

namespace {

using namespace fxtest;

StarInfo Star() {
  StarInfo s{};
  s.StructSize = sizeof(StarInfo);
  s.center = {20, 20};
  s.points = 4;
  s.outerRadius = 10;
  s.innerRadius = 4;
  s.color = 0xFEFEFE;
  s.opacity = 100;
  s.glowColor = 0xFEFEFE;
  return s;
}

Call Draw(StarInfo s, uint32_t flags = 0, bool null = false) {
  return [=](BitmapRecord* b) mutable { return Fx_DrawStarBitmap(b, null ? nullptr : &s, flags); };
}

template <class F>
StarInfo With(F change) {
  StarInfo s = Star();
  s.center = {6, 5};
  s.outerRadius = 4;
  change(s);
  return s;
}

TEST(DrawStarTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  // clang-format off
  CheckEntryCases({
      {"flags before the record", nullptr, Draw(Star(), 3, true), bad},
      {"bits above the blend", nullptr, Draw(Star(), 0x10), bad},
      {"null record", nullptr, Draw(Star(), 0, true), ERROR_NULL_INFO},
      {"record size", nullptr, Draw(With([](StarInfo& s) { s.StructSize = 44; })),
       ERROR_INV_STRUCT_SIZE},
      {"one point", nullptr, Draw(With([](StarInfo& s) { s.points = 1; })), bad},
      {"101 points", nullptr, Draw(With([](StarInfo& s) { s.points = 101; })), bad},
      {"outer radius", nullptr, Draw(With([](StarInfo& s) { s.outerRadius = 65536; })), bad},
      {"rotation", nullptr, Draw(With([](StarInfo& s) { s.rotation = -36001; })), bad},
      {"glow opacity", nullptr, Draw(With([](StarInfo& s) { s.glowOpacity = 101; })), bad},
      {"invisible", nullptr, Draw(With([](StarInfo& s) { s.opacity = 0; })), SUCCESS, kNone},
      {"glow alone", nullptr,
       Draw(With([](StarInfo& s) { s.opacity = 0, s.glowRadius = 3, s.glowOpacity = 50; })),
       SUCCESS, kSome},
      {"far off the image", nullptr, Draw(With([](StarInfo& s) { s.center = {-90, 5}; })),
       SUCCESS, kNone},
      {"drawn", nullptr, Draw(With([](StarInfo&) {})), SUCCESS, kSome},
  });
  // clang-format on
}

// A star of level 254, radii 10 and 4, over a level of 100 (24 bits; all three samples agree):
// the centre is covered, a tip pixel lies on the edge (coverage 0.5: 100 + 154 / 2 = 177), the
// pixel beyond it is a full pixel outside. The glow along a tip's axis fades as
// (1 - d / glowRadius)² with the distance d to the tip: 100 + 154·(1 - 2/5)² = 155.44.
TEST(DrawStarTest, TipsCentreAndGlowWorkedByHand) {
  struct Case {
    const char* what;
    StarInfo star;
    uint32_t flags;
    std::vector<std::tuple<int32_t, int32_t, uint32_t>> pixels;  // x, y, sample 0
  };
  StarInfo glow = Star();
  glow.glowRadius = 5, glow.glowOpacity = 100;
  StarInfo turned = Star();  // three tips, the first turned 90 degrees clockwise: to the right
  turned.points = 3, turned.rotation = 9000;
  StarInfo grey = Star();
  grey.color = 0x808080;
  StarInfo offImage = Star();  // centre off the left edge, first tip pointing right
  offImage.center = {-5, 20}, offImage.rotation = 9000;
  // clang-format off
  const Case cases[] = {
      {"four tips", Star(), 0,
       {{20, 20, 254}, {20, 10, 177}, {30, 20, 177}, {20, 30, 177}, {10, 20, 177},
        {20, 9, 100}, {31, 20, 100}, {27, 13, 100}}},
      {"glow along the axis", glow, 0,
       {{20, 10, 254}, {20, 8, 155}, {20, 7, 125}, {20, 5, 100}, {32, 20, 155}}},
      {"clockwise turn", turned, 0, {{30, 20, 177}, {10, 20, 100}, {20, 10, 100}}},
      // 128 at coverage 0.5 and 1: over 100 + 28/2, 128; screen 100 + (128 - 100·128/255)/2 =
      // 138.9, 100 + 128 - 50.2 = 177.8; add 100 + 64, 228.
      {"over", grey, 0, {{20, 10, 114}, {20, 20, 128}}},
      {"screen", grey, 1, {{20, 10, 139}, {20, 20, 178}}},
      {"add", grey, 2, {{20, 10, 164}, {20, 20, 228}}},
      {"centre off the image", offImage, 0, {{5, 20, 177}, {0, 20, 254}, {6, 20, 100}}},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Canvas canvas(41, 41, 24);
    canvas.Fill(100);
    ASSERT_EQ(Draw(c.star, c.flags)(canvas.get()), SUCCESS);
    const Snapshot s = canvas.Take();
    for (const auto& [x, y, want] : c.pixels) {
      for (int32_t k = 0; k < 3; ++k) EXPECT_EQ(s.at(x, y, k), want) << x << "," << y;
    }
  }
}

// Colours on gray and 16-bit rows: red 0x0000FF is the level (2·255 + 4) / 8 = 64, times 257 on
// 16-bit samples; a tip over 1000 takes half of it.
TEST(DrawStarTest, GrayAndDeepColours) {
  StarInfo red = Star();
  red.color = 0x0000FF;
  for (const auto& [bpp, over, centre, tip] :
       {std::tuple{8, 10u, 64u, 37u}, std::tuple{16, 1000u, 16448u, 8724u}}) {
    Canvas canvas(41, 41, bpp, ORDER_GRAY);
    canvas.Fill(over);
    ASSERT_EQ(Draw(red)(canvas.get()), SUCCESS);
    const Snapshot s = canvas.Take();
    EXPECT_EQ(s.at(20, 20, 0), centre) << bpp;
    EXPECT_EQ(s.at(20, 10, 0), tip) << bpp;
    EXPECT_EQ(s.at(20, 9, 0), over) << bpp;
  }
}

}  // namespace
