// Canvas, glass effect, ocean and rev effect: their checks in order, hand-worked rows, and every
// sample against the steps written out here (the canvas's row counter and three-part texture row,
// the glass block maps, the ocean's row mapping, the rev plots gathered per output row).
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

class TextureEffectsTest : public HostFixture {};

Call Canvas(BitmapRecord* texture, uint32_t visibility, uint32_t contrast, int32_t xOffset,
            int32_t yOffset, int32_t shift, uint32_t flags) {
  return [=](BitmapRecord* b) {
    return Fx_CanvasBitmap(b, texture, visibility, contrast, xOffset, yOffset, shift, flags);
  };
}
Call Glass(int32_t w, int32_t h, uint32_t flags) {
  return [=](BitmapRecord* b) { return Fx_GlassEffectBitmap(b, w, h, flags); };
}
Call Ocean(uint32_t amplitude, uint32_t frequency, int32_t fadeOut, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_OceanBitmap(b, amplitude, frequency, fadeOut, flags); };
}
Call Rev(uint32_t spacing, uint32_t height, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_RevEffectBitmap(b, spacing, height, flags); };
}

// The entry bitmap is 12 x 10 in orientation 1 (hw 6, hh 5) and 10 x 12 as the canvas sees it
// (in its own orientation, 6); the texture is 6 x 4.
TEST_F(TextureEffectsTest, ChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  TestBitmap texture(6, 4, 8, ORDER_GRAY);
  texture.FillNoise(5);
  BitmapRecord* t = texture.get();
  const Spoil gray32 = [](BitmapRecord* b) { b->Order = ORDER_GRAY; };
  const Spoil unallocated = [](BitmapRecord* b) { b->Flags &= ~FLAG_ALLOCATED; };
  const Spoil flag200 = [](BitmapRecord* b) { b->Flags |= FLAG_UNSUPPORTED; };
  // clang-format off
  CheckEntryCases({
      {"canvas: the order first", gray32, Canvas(t, 101, 0, 0, 0, 0, 0), ERROR_UNSUPPORTED_ORDER},
      {"canvas: StructSize is not its concern", StructSize(0), Canvas(t, 101, 0, 0, 0, 0, 0), bad},
      {"canvas: visibility 101", nullptr, Canvas(t, 101, 0, 0, 0, 0, 0x10), bad},
      {"canvas: contrast 201", nullptr, Canvas(t, 50, 201, 0, 0, 0, 0x10), bad},
      {"canvas: flags 0x20", nullptr, Canvas(t, 50, 100, 0, 0, 0, 0x20), bad},
      {"canvas: method 3", nullptr, Canvas(t, 50, 100, 0, 0, 0, 0x03), bad},
      {"canvas: method 4, high bits", nullptr, Canvas(t, 50, 100, 0, 0, 0, 0xF00014), SUCCESS, kSome},
      {"canvas: null texture", nullptr, Canvas(nullptr, 50, 100, 0, 0, 0, 0x10), ERROR_NO_BITMAP},
      {"canvas: xOffset past the texture", nullptr, Canvas(t, 50, 100, 7, 0, 0, 0x10), bad},
      {"canvas: yOffset the texture's height", nullptr, Canvas(t, 50, 100, 6, 4, 0, 0x10), SUCCESS},
      {"canvas: stretched, offsets up to the rectangle", nullptr, Canvas(t, 50, 100, 10, 12, 0, 0), SUCCESS},
      {"canvas: stretched, offset past it", nullptr, Canvas(t, 50, 100, 10, 13, 0, 0), bad},
      {"canvas: huge negative offsets", nullptr, Canvas(t, 50, 100, INT32_MIN, INT32_MIN, INT32_MAX, 0x10), SUCCESS},
      {"glass: StructSize", StructSize(0), Glass(3, 3, 0x22), ERROR_INV_STRUCT_SIZE},
      {"glass: flag 0x200", flag200, Glass(3, 3, 0x22), ERROR_UNSUPPORTED_FLAG},
      {"glass: unallocated after the record", unallocated, Glass(3, 3, 0x22), ERROR_NO_BITMAP},
      {"glass: width 0", nullptr, Glass(0, 3, 0x22), bad},
      {"glass: width 7 > hw", nullptr, Glass(7, 3, 0x22), bad},
      {"glass: height 6 > hh", nullptr, Glass(3, 6, 0x22), bad},
      {"glass: count 1", nullptr, Glass(1, 3, 0x21), bad},
      {"glass: 0x13", nullptr, Glass(3, 3, 0x13), bad},
      {"glass: 0x12, bits 16 up ignored", nullptr, Glass(3, 3, 0xABC0012), SUCCESS, kSome},
      {"glass: size 1 is a no-op", nullptr, Glass(1, 3, 0x22), SUCCESS, kNone},
      {"glass: negative size is a no-op", nullptr, Glass(-4, 3, 0x22), SUCCESS, kNone},
      {"ocean: flags before the bitmap", StructSize(0), Ocean(5, 5, 0, 1), bad},
      {"ocean: StructSize", StructSize(0), Ocean(5, 5, 0), ERROR_INV_STRUCT_SIZE},
      {"ocean: unallocated", unallocated, Ocean(5, 5, 0), ERROR_NO_BITMAP},
      {"ocean: amplitude 2^31", nullptr, Ocean(0x80000000u, 5, 0), bad},
      {"ocean: amplitude 2^31 - 1", nullptr, Ocean(0x7FFFFFFF, 5, 0), SUCCESS, kSome},
      {"rev: flags first", StructSize(0), Rev(1, 1, 1), bad},
      {"rev: StructSize", StructSize(0), Rev(1, 1), ERROR_INV_STRUCT_SIZE},
      {"rev: the order", gray32, Rev(1, 1), ERROR_UNSUPPORTED_ORDER},
      {"rev: spacing 11 > height", nullptr, Rev(11, 1), bad},
      {"rev: height before flag 0x200", flag200, Rev(1, 11), bad},
      {"rev: flag 0x200", flag200, Rev(10, 10), ERROR_UNSUPPORTED_FLAG},
      {"rev: both the height", nullptr, Rev(10, 10), SUCCESS, kSome},
  });
  // clang-format on
}

// Canvas --------------------------------------------------------------------------------------

struct CanvasCase {
  const char* what;
  Scene scene;
  int32_t textureBpp;
  uint32_t textureOrder;
  int32_t tw, th;  // texture size; stretched cases use the rectangle's size (no resampling)
  uint32_t visibility, contrast;
  int32_t xOffset, yOffset, shift;
  uint32_t flags;
};

// The texture's samples as the bitmap's kernels see them: the bitmap's depth (>> 8 or << 8), one
// gray sample when either is gray.
std::vector<uint32_t> TextureSamples(const Snapshot& t, const Snapshot& image, int32_t x,
                                     int32_t y) {
  const auto v = [&](int32_t k) {
    uint32_t s = t.at(x, y, k);
    if (t.bits == 16 && image.bits == 8) s >>= 8;
    if (t.bits == 8 && image.bits == 16) s <<= 8;
    return s;
  };
  if (t.step == 1) return {v(0), v(0), v(0)};
  if (image.step == 1) {
    const uint32_t g = (v(0) + 5 * v(1) + 2 * v(2) + 4) / 8;
    return {g, g, g};
  }
  return {v(0), v(1), v(2)};
}

std::vector<uint32_t> ModelCanvas(const Snapshot& s, const Snapshot& t, const RECT& rc,
                                  const CanvasCase& c) {
  std::vector<uint32_t> out = s.All();
  const int32_t n = s.bits == 16 ? 65536 : 256;
  const int32_t iv = c.visibility, tc = c.contrast, k = iv * 255 / 100;
  const int32_t wt = t.width, ht = t.height, hb = rc.bottom - rc.top, wb = rc.right - rc.left;
  int32_t yo = c.yOffset < 1 ? c.yOffset + ht : c.yOffset;
  int32_t xo = c.xOffset < 1 ? c.xOffset + wt : c.xOffset;
  int32_t j = 0, shift = 0;
  if (c.flags & 0x10) {
    j = hb / ht;
    if ((j + yo) * ht < hb) ++j;
    shift = c.shift;
  }
  int32_t x0 = (xo + j * shift) % wt, row = ht - yo - 1;
  for (int32_t y = rc.top; y < rc.bottom; ++y) {
    if (++row == ht) row = 0, --j, x0 = (xo + j * shift) % wt;
    const int32_t o = x0 < 1 ? wt + x0 : x0;
    for (int32_t i = 0; i < wb; ++i) {
      // The first min(Wb, o) pixels from texture pixel Wt - o on, then whole repetitions.
      const int32_t tx = i < std::min(wb, o) ? wt - o + i : (i - o) % wt;
      const auto tex = TextureSamples(t, s, tx, row);
      for (int32_t q = 0; q < std::min(s.step, 3); ++q) {
        const int32_t tv = int32_t(tex[q]), p = int32_t(s.at(rc.left + i, y, q));
        const int32_t curve = tv + (tv - n / 2) * tc * iv / 10000;
        const int32_t v = ((k * (p - tv)) >> 8) + curve;
        out[(size_t(y) * s.width + rc.left + i) * s.step + q] = uint32_t(std::clamp(v, 0, s.max()));
      }
    }
  }
  return out;
}

TEST_F(TextureEffectsTest, CanvasFollowsTheRowCounterAndTextureRows) {
  // clang-format off
  const CanvasCase cases[] = {
      {"tiled, shifted, gray texture on colour", {17, 11, 24, ORDER_BGR, {2, 1, 15, 10}, 3}, 8, ORDER_GRAY, 5, 3, 70, 140, 2, -1, 3, 0x10},
      {"tiled, negative shift, 16-bit texture on 8-bit colour", {13, 9, 24, ORDER_RGB, {}, 4}, 48, ORDER_BGR, 4, 4, 40, 200, 0, 2, -5, 0x10},
      {"tiled, 8-bit colour texture on 16-bit colour", {12, 8, 64, ORDER_BGR, {1, 0, 12, 7}, 6}, 24, ORDER_BGR, 3, 5, 100, 0, -2, 5, 1, 0x10},
      {"tiled, colour texture on 16-bit gray", {9, 10, 16, ORDER_GRAY, {}, 7}, 24, ORDER_RGB, 4, 3, 0, 120, 4, 0, 0, 0x10},
      {"stretched to the rectangle's size", {11, 7, 24, ORDER_BGR, {}, 8}, 8, ORDER_GRAY, 11, 7, 55, 80, -3, 4, 9, 0x02},
  };
  // clang-format on
  for (const CanvasCase& c : cases) {
    SCOPED_TRACE(c.what);
    TestBitmap texture(c.tw, c.th, c.textureBpp, c.textureOrder);
    texture.FillNoise(19);
    const Snapshot t = Snapshot::Of(texture.get());
    CompareWithReference(
        c.scene,
        Canvas(texture.get(), c.visibility, c.contrast, c.xOffset, c.yOffset, c.shift, c.flags),
        FromModel([&](const Snapshot& s, BitmapRecord*, const RECT& rc) {
          return ModelCanvas(s, t, rc, c);
        }));
  }
}

// Offsets of any size wrap: many texture sizes away gives the same picture.
TEST_F(TextureEffectsTest, CanvasOffsetsWrapAroundTheTexture) {
  TestBitmap texture(5, 3, 8, ORDER_GRAY);
  texture.FillNoise(2);
  const struct { int32_t x, y, shift; } near[] = {{2, -1, 7}, {0, 3, -4}, {-4, 1, 0}};
  for (const auto& o : near) {
    TestBitmap a(14, 9, 24), b(14, 9, 24);
    a.FillNoise(3), b.FillNoise(3);
    ASSERT_EQ(Fx_CanvasBitmap(a.get(), texture.get(), 60, 150, o.x, o.y, o.shift, 0x10), SUCCESS);
    ASSERT_EQ(Fx_CanvasBitmap(b.get(), texture.get(), 60, 150, o.x - 5 * 400000, o.y - 3 * 700000,
                              o.shift, 0x10),
              SUCCESS);
    EXPECT_TRUE(a.Stored() == b.Stored()) << o.x << "," << o.y;
  }
}

// Glass effect -----------------------------------------------------------------------------------

// The source position of every output position along one axis, as the steps give it.
std::vector<int64_t> BlockSteps(double w, int32_t first, int32_t end) {
  std::vector<int64_t> out;
  int64_t s = first;
  double bx = w / 2 + first, f = w / 2 - std::trunc(w / 2);
  int64_t boundary = int64_t(bx);
  for (int64_t x = first; x < end; ++x) {
    if (x >= boundary) {
      s -= int64_t(std::trunc(w));
      bx += w;
      boundary = int64_t(bx);
      if (std::trunc(f) != std::trunc(f + (w - std::trunc(w)))) s -= 1;
      f += w - std::trunc(w);
    }
    out.push_back(s);
    s += 2;
  }
  return out;
}

TEST_F(TextureEffectsTest, GlassBlockMaps) {
  // Count mode, 100 wide, 3 blocks: w = 33.33...; the boundaries fall at trunc(16.67 + k·33.33)
  // = 16, 50, 83. In doubles the fractional parts 0.6666666666666679 + 0.3333333333333357 pass 1
  // at the first boundary (back by 34), not at the next two (back by 33).
  const auto cols = BlockSteps(100.0 / 3, 0, 100);
  EXPECT_EQ(cols[15], 30);
  EXPECT_EQ(cols[16], 32 - 34);
  EXPECT_EQ(cols[49], cols[16] + 2 * 33);
  EXPECT_EQ(cols[50], cols[49] + 2 - 33);
  EXPECT_EQ(cols[83], cols[82] + 2 - 33);

  struct Case {
    const char* what;
    Scene scene;
    int32_t bw, bh;
    uint32_t flags;
  };
  const Case cases[] = {
      {"count mode, 100 wide", {100, 12, 24, ORDER_BGR, {}, 4}, 3, 2, 0x11},
      {"fractional sizes in a region", {23, 19, 32, ORDER_RGB, {3, 2, 22, 18}, 5}, 4, 3, 0x11},
      {"size mode, 16-bit gray", {20, 16, 16, ORDER_GRAY, {}, 6}, 5, 3, 0x22},
      {"mixed, region at the bottom edge", {18, 14, 48, ORDER_BGR, {0, 6, 18, 14}, 7}, 4, 2, 0x12},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CompareWithReference(c.scene, Glass(c.bw, c.bh, c.flags), [&](const Sample& p) {
      const RECT& rc = p.rc;
      const int32_t hw = (rc.right - rc.left) / 2, hh = (rc.bottom - rc.top) / 2;
      const double w = (c.flags & 0xF) == 1 ? double(hw * 2) / c.bw : c.bw;
      const double h = (c.flags & 0xF0) == 0x10 ? double(hh * 2) / c.bh : c.bh;
      const int64_t s = BlockSteps(w, rc.left, rc.right)[p.x - rc.left];
      const int64_t t = BlockSteps(h, rc.top, rc.bottom)[p.y - rc.top];
      const int64_t col = s < rc.left ? rc.left : (s < rc.right ? s : p.x);
      const int64_t row = t >= rc.bottom ? p.y : std::clamp<int64_t>(t, 0, p.s.height - 1);
      return p.s.at(int32_t(col), int32_t(row), p.k);
    });
  }
}

// Ocean ------------------------------------------------------------------------------------------

TEST_F(TextureEffectsTest, OceanFollowsItsFormulas) {
  struct Case {
    const char* what;
    Scene scene;
    uint32_t amplitude, frequency;
    int32_t fadeOut;
  };
  const Case cases[] = {
      {"odd half, colour, region", {21, 17, 24, ORDER_BGR, {2, 1, 19, 16}, 3}, 5, 3, 0},
      {"even half, 16-bit, fading", {16, 14, 48, ORDER_RGB, {}, 4}, 9, 7, -1},
      {"one column: no sideways wave", {1, 12, 8, ORDER_GRAY, {}, 5}, 4, 2, 0},
      {"four samples, large amplitude", {10, 9, 32, ORDER_BGR, {}, 6}, 100000, 5, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CompareWithReference(c.scene, Ocean(c.amplitude, c.frequency, c.fadeOut), [&](const Sample& p) {
      const RECT& rc = p.rc;
      const int32_t wr = rc.right - rc.left, hr = rc.bottom - rc.top, half = (hr + 1) / 2;
      if (p.y < rc.top + half) return p.before();
      int32_t t = p.y - (rc.top + half);
      if (half % 2 == 0) t += 1;
      const double f = double(t) / half, g = 1 - f;
      const uint32_t a = uint32_t(c.amplitude * f);
      const double q = double(c.frequency) / (hr - 1);
      const int64_t e =
          std::clamp<int64_t>(t + int64_t(a * std::cos(t * q * 2 * kPi)), 0, half - 1);
      const int32_t i = p.x - rc.left;
      const int64_t shift =
          wr > 1 ? int64_t(a * std::sin(i * (double(c.frequency) / (wr - 1)) * 2 * kPi)) : 0;
      const int64_t sx = std::clamp<int64_t>(p.x + shift, rc.left, rc.right - 1);
      const double own = p.before(),
                   mirror = p.s.at(int32_t(sx), int32_t(rc.top + half - 1 - e), p.k);
      const double v = c.fadeOut ? f * own + g * mirror : g * own + f * mirror;
      return uint32_t(std::clamp(v, 0.0, double(p.s.max())));
    });
  }
}

// Rev effect -------------------------------------------------------------------------------------

// One column, 6 rows, rows 0, 2, 4 plotted (lineSpacing 1) up to 3 rows high: levels 255, 0, 128
// rise (L·3 + 128) / 256 = 3, 0, 2 rows, onto rows -3 (dropped), 2 and 2.
TEST_F(TextureEffectsTest, RevPlotsByHand) {
  const struct {
    uint32_t spacing, height;
    std::vector<uint8_t> levels, expected;
  } cases[] = {
      {1, 3, {255, 9, 0, 9, 128, 9}, {0, 0, 255, 0, 0, 0}},
      // Every row of a black picture plots onto itself.
      {0, 4, {0, 0, 0, 0, 0, 0}, {255, 255, 255, 255, 255, 255}},
      // Height 0 puts every level on its own row; rows between plots stay black.
      {2, 0, {200, 7, 7, 50, 7, 7}, {255, 0, 0, 255, 0, 0}},
      // A window taller than the rectangle: the last rows come from the window in turn.
      {5, 6, {0, 255, 255, 255, 255, 255}, {255, 0, 0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    TestBitmap b(1, 6, 8, ORDER_GRAY);
    for (int32_t y = 0; y < 6; ++y) b->Data[y * b->BytesPerLine] = c.levels[y];
    ASSERT_EQ(Fx_RevEffectBitmap(b.get(), c.spacing, c.height, 0), SUCCESS);
    std::vector<uint8_t> got;
    for (int32_t y = 0; y < 6; ++y) got.push_back(b->Data[y * b->BytesPerLine]);
    EXPECT_EQ(got, c.expected) << "spacing " << c.spacing << " height " << c.height;
  }
}

// Gathered per output row r: white where some plotted row y (top, top + B, ... below bottom)
// places its pixel's level at r = y - (level·maxHeight + n / 2) / n.
TEST_F(TextureEffectsTest, RevPlotsGatheredPerRow) {
  struct Case {
    const char* what;
    Scene scene;
    uint32_t spacing, height;
  };
  const Case cases[] = {
      {"overlapping curves, colour, region", {15, 20, 24, ORDER_BGR, {2, 3, 13, 19}, 3}, 2, 7},
      {"separate curves, 16-bit gray", {12, 18, 16, ORDER_GRAY, {}, 4}, 5, 3},
      {"four samples, every row", {9, 14, 64, ORDER_RGB, {1, 0, 8, 14}, 5}, 0, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    CompareWithReference(c.scene, Rev(c.spacing, c.height), [&](const Sample& p) {
      const Snapshot& s = p.s;
      const int64_t n = s.bits == 16 ? 65536 : 256, b = c.spacing + 1;
      const auto level = [&](int32_t x, int32_t y) -> int64_t {
        if (s.step == 1) return s.at(x, y, 0);
        return (s.at(x, y, 0) + 5 * s.at(x, y, 1) + 2 * s.at(x, y, 2) + 4) / 8;
      };
      for (int64_t y = p.rc.top; y < p.rc.bottom; y += b)
        if (y - (level(p.x, int32_t(y)) * c.height + n / 2) / n == p.y) return uint32_t(s.max());
      return 0u;
    });
  }
}

}  // namespace
