// Tunnel: entry checks, both layouts and modes against a direct evaluation (tiles, the vanishing
// point, fades in both directions, extreme sizes, thin rectangles), and the failure paths.
#include <algorithm>
#include <cmath>
#include <functional>
#include <string>

#include "BilinearReference.h"

namespace {

using fxtest::HostFixture;
using fxtest::Snapshot;
using fxtest::TestBitmap;

class TunnelTest : public HostFixture {};

struct Args {
  POINT center{6, 4};
  int32_t depthOffset = 0, viewDistance = 30, radius = 10, repeat = -1, rotation = 0,
          depthScale = 100;
  uint32_t fadeStart = 0, fadeEnd = 100;
  int32_t fadeDistance = 2;
  uint32_t fadeColor = 0, fillColor = 0x0000FF, flags = 0x21;
};

int32_t Call(BitmapRecord* b, const Args& a) {
  return Fx_TunnelBitmap(b, a.center, a.depthOffset, a.viewDistance, a.radius, a.repeat, a.rotation,
                         a.depthScale, a.fadeStart, a.fadeEnd, a.fadeDistance, a.fadeColor,
                         a.fillColor, a.flags);
}

TEST_F(TunnelTest, EntryChecksInTheirOrder) {
  struct Case {
    const char* what;
    std::function<void(BitmapRecord*)> spoil;
    std::function<void(Args&)> set;
    int32_t expected;
  };
  const auto none = [](BitmapRecord*) {};
  const auto same = [](Args&) {};
  const auto unallocated = [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; };
  const Case cases[] = {
      {"struct size before the storage test",
       [](BitmapRecord* b) { b->StructSize = 271, b->Flags &= ~FLAG_ALLOCATED; }, same,
       ERROR_INV_STRUCT_SIZE},
      {"32-bit gray before the storage test",
       [](BitmapRecord* b) { b->Order = ORDER_GRAY, b->Flags &= ~FLAG_ALLOCATED; }, same,
       ERROR_UNSUPPORTED_ORDER},
      {"flag 0x200 before the storage test",
       [](BitmapRecord* b) { b->Flags = (b->Flags | 0x200) & ~FLAG_ALLOCATED; }, same,
       ERROR_UNSUPPORTED_FLAG},
      {"storage before the parameters", unallocated, [](Args& a) { a.repeat = -2; },
       ERROR_NO_BITMAP},
      {"repeat -2", none, [](Args& a) { a.repeat = -2; }, ERROR_INV_PARAMETER},
      {"fadeStart 101", none, [](Args& a) { a.fadeStart = 101; }, ERROR_INV_PARAMETER},
      {"fadeEnd 101", none, [](Args& a) { a.fadeEnd = 101; }, ERROR_INV_PARAMETER},
      {"fadeStart compared unsigned", none, [](Args& a) { a.fadeStart = 0xFFFFFFFFu; },
       ERROR_INV_PARAMETER},
      {"rotation -1", none, [](Args& a) { a.rotation = -1; }, ERROR_INV_PARAMETER},
      {"flags 0x31", none, [](Args& a) { a.flags = 0x31; }, ERROR_INV_PARAMETER},
      {"flags 0x10", none, [](Args& a) { a.flags = 0x10; }, ERROR_INV_PARAMETER},
      {"flags 0x23", none, [](Args& a) { a.flags = 0x23; }, ERROR_INV_PARAMETER},
      {"flags 0x121: bits 8-11 belong to both words", none, [](Args& a) { a.flags = 0x121; },
       ERROR_INV_PARAMETER},
      {"flags 0x11", none, [](Args& a) { a.flags = 0x11; }, SUCCESS},
      {"flags 0x22", none, [](Args& a) { a.flags = 0x22; }, SUCCESS},
      {"flags 0x12", none, [](Args& a) { a.flags = 0x12; }, SUCCESS},
      {"bits above 15 ignored", none, [](Args& a) { a.flags = 0xABC10021u; }, SUCCESS},
      {"limits accepted", none,
       [](Args& a) { a.repeat = -1, a.fadeStart = 100, a.fadeEnd = 100, a.rotation = 0; }, SUCCESS},
      {"centre far off the image", none,
       [](Args& a) {
         a.center = {-1000, 5000};
       },
       SUCCESS},
      {"fadeDistance 0", none, [](Args& a) { a.fadeDistance = 0; }, SUCCESS},
  };
  for (const auto& c : cases) {
    for (uint8_t orientation : {1, 6}) {
      TestBitmap b(12, 9, 32, ORDER_BGR);
      ASSERT_TRUE(b.ok());
      ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, orientation, 0), SUCCESS);
      b.FillNoise(7);
      c.spoil(b.get());
      Args args;
      c.set(args);
      const auto before = b.Stored();
      EXPECT_EQ(Call(b.get(), args), c.expected) << c.what << " orientation " << int(orientation);
      EXPECT_EQ(b->Orientation, orientation) << c.what;
      if (c.expected != SUCCESS) {
        EXPECT_EQ(b.Stored(), before) << c.what;
      }
      b->StructSize = 272;
      b->Flags |= FLAG_ALLOCATED;
    }
  }
  EXPECT_EQ(Call(nullptr, Args{}), ERROR_NO_BITMAP);
}

// The tunnel's colour preparation, {b, g, r}: bit 26 is a gray level at every depth, gray data
// mixes with >> 3.
std::vector<uint32_t> TunnelColor(BitmapRecord* bitmap, uint32_t c) {
  uint32_t r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255;
  const bool bit26 = c & (1u << 26);
  if (bit26) r = g = b = (c & 0xFFFF) / 256;
  const int32_t bpp = bitmap->BitsPerPixel;
  if (bpp == 12 || bpp == 16 || bpp == 48 || bpp == 64) {
    if (bit26)
      r = g = b = c & 0xFFFF;
    else
      r *= 256, g *= 256, b *= 256;
  }
  if (bitmap->Order == ORDER_GRAY) r = g = b = (b + 5 * g + 2 * r) / 8;
  return {b, g, r};
}

// One output sample, re-derived: the ray through (x, y) from the viewer meets the cylinder of the
// given radius; its angle and depth select the source, its length the fade.
uint32_t ExpectedTunnel(const Snapshot& s, const RECT& rc, const Args& a,
                        const std::vector<uint32_t>& fill, const std::vector<uint32_t>& fade,
                        int32_t x, int32_t y, int32_t k) {
  const double pi = 3.1415926535;
  const bool fillMode = (a.flags & 0xF) == 1, angleAcross = (a.flags & 0xF0) == 0x20;
  const uint32_t fillSample = s.step == 1 ? fill[0] : fill[k];
  const double dx = double(x) - a.center.x, dy = double(y) - a.center.y, Z = a.viewDistance;
  if (dx == 0 && dy == 0) return fillMode ? fillSample : s.at(x, y, k);
  const double L = std::sqrt(dx * dx + dy * dy + Z * Z);
  const double ux = dx / L, uy = dy / L, uz = Z / L;
  const double a2 = ux * ux + uy * uy;
  const double Q = double(a.radius) * a.radius;
  const double disc = -4.0 * a2 * (-Q);
  if (disc < 0) return fillMode ? fillSample : s.at(x, y, k);
  const double t = std::fabs(std::min(std::sqrt(disc) / (2 * a2), -std::sqrt(disc) / (2 * a2)));
  const double hx = t * ux, hy = t * uy, hz = t * uz + Z;
  const double depth = std::fabs(hz) * (a.depthScale / 100.0) + a.depthOffset;
  const double beta = std::atan2(hy, hx) + pi;
  const int rectW = rc.right - rc.left, rectH = rc.bottom - rc.top;
  const int around = (angleAcross ? rectW : rectH) - 1;
  const int off = around > 0 ? a.rotation % around : 0;
  double u = std::fabs(beta * around / (2.0 * pi)) + off;
  if (u > around) u -= around;
  const int tile = angleAcross ? rectH : rectW;
  const double n = std::trunc(depth / tile);
  if (a.repeat != -1 && n >= a.repeat) return fillMode ? fillSample : s.at(x, y, k);
  const double col = angleAcross ? u + rc.left : depth - n * tile + rc.left;
  const double row = angleAcross ? depth - n * tile : u;
  const int32_t v = fxtest::ReferenceBilinear(
      s, [&](int32_t i) { return rc.top + i; }, rectH, col, row, k);
  double f;
  if (a.fadeDistance == 0) {
    f = a.fadeEnd / 100.0;
  } else {
    const double slope = (double(a.fadeEnd) - double(a.fadeStart)) / (a.fadeDistance * 100 * 100.0);
    f = std::clamp(std::fabs(t) * slope + a.fadeStart / 100.0, 0.0, 1.0);
  }
  const double faded = v * (1 - f) + (s.step == 1 ? fade[0] : fade[k]) * f;
  return uint32_t(std::clamp(faded, 0.0, double(s.max())));
}

TEST_F(TunnelTest, LayoutsModesTilesAndFadesMatchADirectEvaluation) {
  struct Shape {
    int32_t width, height, bpp;
    uint32_t order;
  };
  struct Case {
    const char* what;
    Shape shape;
    RECT region;  // empty: none
    Args args;    // flags give the layout; both modes are run
  };
  // args: center, depthOffset, viewDistance, radius, repeat, rotation, depthScale, fadeStart,
  // fadeEnd, fadeDistance, fadeColor, fillColor, layout
  // clang-format off
  const Case cases[] = {
      {"across, endless, fade to gray reaching its end",
       {32, 24, 24, ORDER_BGR}, {},
       {{15, 11}, 0, 40, 20, -1, 0, 100, 0, 100, 2, 0x808080, 0x0000FF, 0x20}},
      {"across, endless, weakening fade passing zero",
       {32, 24, 24, ORDER_BGR}, {},
       {{15, 11}, 0, 30, 60, -1, 0, 100, 50, 0, 1, 0xFFFFFF, 0x0000FF, 0x20}},
      {"down, two tiles, weakening fade to white",
       {30, 22, 48, ORDER_RGB}, {},
       {{10, 8}, 2, 10, 12, 2, 7, 100, 80, 20, 1, 0xFFFFFF, 0x0000FF, 0x10}},
      {"across, one tile, negative offset, constant fade, centre off the image",
       {26, 20, 8, ORDER_GRAY}, {},
       {{-5, 40}, -10, 25, 15, 1, 3, 50, 30, 30, 3, 0x808080, 0xFFFFFF, 0x20}},
      {"down, 16-bit gray with literal levels",
       {21, 17, 16, ORDER_GRAY}, {},
       {{9, 9}, 0, 50, 8, -1, 2, 100, 10, 90, 4, 0x0400C350, 0x04001234, 0x10}},
      {"across in a region, rotated",
       {30, 24, 32, ORDER_BGR}, {4, 3, 25, 19},
       {{14, 10}, 3, 8, 9, 3, 100, 80, 0, 60, 2, 0x103050, 0x0000FF, 0x20}},
      {"no tile at all",
       {16, 12, 24, ORDER_BGR}, {},
       {{8, 6}, 0, 30, 10, 0, 0, 100, 0, 100, 2, 0, 0x0000FF, 0x20}},
      {"radius and view distance beyond 32-bit squares",
       {24, 18, 24, ORDER_BGR}, {},
       {{12, 9}, 0, 100000, 50000, -1, 0, 1, 0, 0, 50000, 0, 0x0000FF, 0x20}},
      {"fadeDistance 0 fades by fadeEnd",
       {20, 16, 64, ORDER_BGR}, {},
       {{10, 8}, 0, 30, 10, -1, 0, 100, 20, 60, 0, 0xFFFFFF, 0x0000FF, 0x10}},
      {"one pixel wide, angle across",
       {14, 12, 24, ORDER_BGR}, {6, 0, 7, 12},
       {{6, 5}, 0, 20, 6, -1, 5, 100, 0, 50, 2, 0, 0x0000FF, 0x20}},
      {"one pixel high, angle down",
       {14, 12, 48, ORDER_BGR}, {3, 5, 13, 6},
       {{6, 5}, 0, 20, 6, -1, 3, 100, 0, 50, 2, 0, 0x0000FF, 0x10}},
  };
  // clang-format on
  for (const auto& c : cases) {
    for (uint32_t mode : {1u, 2u}) {
      SCOPED_TRACE(std::string(c.what) + " mode " + std::to_string(mode));
      TestBitmap b(c.shape.width, c.shape.height, c.shape.bpp, c.shape.order);
      b.FillSmooth();
      const bool hasRegion = c.region.right > c.region.left;
      if (hasRegion) {
        ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &c.region, 1), SUCCESS);
      }
      const RECT rc = hasRegion ? c.region : RECT{0, 0, c.shape.width, c.shape.height};
      Args args = c.args;
      args.flags |= mode;
      const Snapshot s = Snapshot::Of(b.get());
      const auto fill = TunnelColor(b.get(), args.fillColor);
      const auto fade = TunnelColor(b.get(), args.fadeColor);
      ASSERT_EQ(Call(b.get(), args), SUCCESS);
      const auto after = fxtest::WorkingRows(b.get());
      int changed = 0;
      for (int32_t y = 0; y < c.shape.height; ++y)
        for (int32_t x = 0; x < c.shape.width; ++x)
          for (int32_t k = 0; k < s.step; ++k) {
            const bool inRect = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
            const uint32_t got = fxtest::SampleAt(after, s.rowBytes, s.bits, s.step, x, y, k);
            const uint32_t want =
                inRect && k < 3 ? ExpectedTunnel(s, rc, args, fill, fade, x, y, k) : s.at(x, y, k);
            ASSERT_EQ(got, want) << x << "," << y << " sample " << k;
            changed += got != s.at(x, y, k);
          }
      if (args.repeat == 0 && mode == 2) {
        EXPECT_EQ(changed, 0);  // nothing sampled, nothing filled
      } else {
        EXPECT_GT(changed, 5);
      }
    }
  }
}

TEST_F(TunnelTest, HugeRadiusStillHitsTheWall) {
  // A squared radius beyond 2^31 must not turn negative: only the vanishing point is filled.
  TestBitmap b(24, 18, 24);
  b.FillSmooth();  // red (sample 2) stays within 40 .. 200
  Args args{{12, 9}, 0, 300, 60000, -1, 0, 100, 0, 0, 1, 0, 0x0000FF, 0x21};
  ASSERT_EQ(Call(b.get(), args), SUCCESS);
  const auto after = fxtest::WorkingRows(b.get());
  int filled = 0;
  for (size_t i = 0; i < after.size(); i += 3) filled += after[i + 2] == 255;
  EXPECT_EQ(filled, 1);
}

TEST_F(TunnelTest, FadeFromZeroToZeroLeavesSampledColoursUnfaded) {
  std::vector<uint8_t> results[2];
  for (int i = 0; i < 2; ++i) {
    TestBitmap b(28, 20, 48);
    b.FillSmooth();
    const auto before = fxtest::WorkingRows(b.get());
    Args args{{13, 9}, 0, 40, 12, -1, 0, 100, 0, 0, 1, i ? 0xFFFFFFu : 0u, 0x0000FF, 0x22};
    ASSERT_EQ(Call(b.get(), args), SUCCESS);
    results[i] = fxtest::WorkingRows(b.get());
    EXPECT_NE(results[i], before);
  }
  EXPECT_EQ(results[0], results[1]);  // black and white fade colours make no difference
}

TEST_F(TunnelTest, EveryFailurePathCleansUp) {
  for (uint32_t flags : {0x21u, 0x12u}) {
    auto stats = fxtest::SweepFaults(
        [] {
          auto b = std::make_unique<TestBitmap>(9, 7, 16, ORDER_GRAY, 3);
          b->FillNoise(3);
          return b;
        },
        [flags](BitmapRecord* b) {
          Args args;
          args.flags = flags;
          return Call(b, args);
        },
        "tunnel");
    EXPECT_GT(stats.points, 15);
  }
}

}  // namespace
