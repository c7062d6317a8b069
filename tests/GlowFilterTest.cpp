// Glow filter: its checks in their order, and every sample against a direct count of its window
// (edge rows and columns repeated), in both window modes, for ordinary and very large windows.
#include <algorithm>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

Call Glow(uint32_t dim, uint32_t bright, uint32_t threshold, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_GlowFilterBitmap(b, dim, bright, threshold, flags); };
}

TEST(GlowFilterTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  EXPECT_EQ(Fx_GlowFilterBitmap(nullptr, 3, 1, 0, 1), bad) << "flags before the null bitmap";
  // clang-format off
  CheckEntryCases({
      {"struct size before flags", StructSize(271), Glow(3, 1, 0, 1), ERROR_INV_STRUCT_SIZE},
      {"flag 0x200 before dim", [](BitmapRecord* b) { b->Flags |= 0x200; }, Glow(0, 1, 0),
       ERROR_UNSUPPORTED_FLAG},
      {"dim 0", nullptr, Glow(0, 1, 0), bad},
      {"dim 1 before the threshold", nullptr, Glow(1, 1, 99999), SUCCESS, kNone},
      {"threshold 256 on 32 bits", nullptr, Glow(3, 1, 256), bad},
      {"threshold 255 on 32 bits", nullptr, Glow(3, 4, 255), SUCCESS, kSome},
  });
  // clang-format on
  // The threshold's range follows the bitmap.
  const struct {
    int32_t bpp;
    uint32_t order, accepted;
  } ranges[] = {{8, ORDER_GRAY, 255}, {12, ORDER_GRAY, 4095}, {16, ORDER_GRAY, 65535},
                {24, ORDER_BGR, 255}, {48, ORDER_RGB, 65535}, {64, ORDER_BGR, 65535}};
  for (const auto& r : ranges) {
    TestBitmap b(5, 4, r.bpp, r.order);
    EXPECT_EQ(Fx_GlowFilterBitmap(b.get(), 3, 1, r.accepted, 0), SUCCESS) << r.bpp;
    EXPECT_EQ(Fx_GlowFilterBitmap(b.get(), 3, 1, r.accepted + 1, 0), bad) << r.bpp;
  }
}

// Positions t in [lo, hi] that land on index i of n once clamped to 0 .. n - 1.
uint64_t Fills(int64_t lo, int64_t hi, int64_t i, int64_t n) {
  const int64_t from = i == 0 ? lo : std::max(lo, i), to = i == n - 1 ? hi : std::min(hi, i);
  return to >= from ? uint64_t(to - from + 1) : 0;
}

// The glow of sample k at (x, y): the window rows y - hb .. y + ha and columns x - hb .. x + ha,
// clamped, summed straight from the picture; the reference value from row y + (dim even).
uint32_t ExpectedGlow(const Sample& p, uint32_t dim, uint32_t bright, uint32_t threshold) {
  const Snapshot& im = p.s;
  const int64_t hb = (int64_t(dim) - 1) / 2, ha = dim / 2;
  const int32_t refRow = std::min<int32_t>(p.y + (dim % 2 == 0), im.height - 1);
  const int64_t v = im.at(p.x, refRow, p.k);
  unsigned __int128 d = 0;
  for (int32_t r = 0; r < im.height; ++r) {
    const uint64_t rowFills = Fills(p.y - hb, p.y + ha, r, im.height);
    for (int32_t c = 0; rowFills && c < im.width; ++c) {
      const uint64_t fills = Fills(p.x - hb, p.x + ha, c, im.width);
      const int64_t diff = int64_t(im.at(c, r, p.k)) - v;
      d += static_cast<unsigned __int128>(rowFills * fills) * uint64_t(diff < 0 ? -diff : diff);
    }
  }
  const uint64_t q = uint64_t(dim) * dim - 1;
  if (im.bits == 8) {
    const unsigned __int128 g = (d / q) * bright;
    const uint32_t clipped = g > 255 ? 255 : uint32_t(g);
    return clipped > threshold ? clipped : 0;
  }
  const unsigned __int128 g = d * bright / q;
  const uint32_t clipped = g > 65535 ? 65535 : uint32_t(g);
  return clipped >= threshold ? clipped : 0;
}

TEST(GlowFilterTest, EverySampleMatchesADirectWindowCount) {
  struct Case {
    const char* what;
    Scene scene;
    uint32_t dim, bright, threshold;
  };
  // clang-format off
  const Case cases[] = {
      // Sliding window (dim below the height): odd and even sides, regions, other views.
      {"gray8, dim 3", {13, 11, 8, ORDER_GRAY, {}, 1}, 3, 4, 10},
      {"bgr24, dim 2, region", {14, 10, 24, ORDER_BGR, {3, 2, 12, 9}, 2}, 2, 3, 0},
      {"bgr32, dim 4, view 6", {12, 13, 32, ORDER_BGR, {1, 1, 11, 12}, 3, 6}, 4, 2, 30},
      {"rgb48, dim 5", {11, 12, 48, ORDER_RGB, {}, 4}, 5, 7, 9000},
      {"gray16, dim 6, smooth", {15, 14, 16, ORDER_GRAY, {2, 3, 13, 12}, 0}, 6, 40, 2000},
      {"bgr64, dim 3, view 5", {9, 10, 64, ORDER_BGR, {}, 5, 5}, 3, 1, 0},
      {"gray12, dim 3", {10, 9, 12, ORDER_GRAY, {}, 6}, 3, 5, 100},
      // Whole mode: windows as tall as the bitmap or taller, edges repeated many times.
      {"bgr24, dim 9 = height", {12, 9, 24, ORDER_BGR, {}, 7}, 9, 6, 12},
      {"gray8, dim 40", {7, 5, 8, ORDER_GRAY, {1, 0, 6, 5}, 8}, 40, 9, 3},
      {"rgb48, dim 21", {6, 8, 48, ORDER_RGB, {}, 9}, 21, 3, 0},
      // Very large windows: 64-bit counts and 128-bit sums.
      {"gray16, dim 70001", {5, 4, 16, ORDER_GRAY, {}, 10}, 70001, 3, 0},
      {"bgr24, dim 2^32 - 1", {4, 3, 24, ORDER_BGR, {}, 11}, 0xFFFFFFFFu, 2, 0},
      // Products far beyond 32 bits saturate rather than wrap.
      {"bgr24, bright 2^32 - 1", {9, 8, 24, ORDER_BGR, {}, 12}, 3, 0xFFFFFFFFu, 0},
      {"rgb48, bright 2^31, threshold 65535", {9, 8, 48, ORDER_RGB, {}, 13}, 4, 0x80000000u,
       65535},
      {"gray8, threshold 255 blacks out", {8, 6, 8, ORDER_GRAY, {}, 14}, 3, 0xFFFFFFFFu, 255},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const uint32_t threshold = c.scene.bpp == 12 ? c.threshold * 16 + 15 : c.threshold;
    const int32_t changed = CompareWithReference(
        c.scene, Glow(c.dim, c.bright, c.threshold),
        [&](const Sample& p) { return ExpectedGlow(p, c.dim, c.bright, threshold); });
    EXPECT_GT(changed, 10);
  }
}

TEST(GlowFilterTest, FlatAreasGoBlack) {
  for (const int32_t bpp : {8, 24, 48}) {
    TestBitmap b(9, 7, bpp, bpp == 8 ? ORDER_GRAY : ORDER_BGR);
    RowAccess* a = nullptr;
    ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
    ASSERT_EQ(HostBeginWrite(a), SUCCESS);
    std::vector<uint8_t> row(HostRowBytes(a), 0x5A);
    for (int32_t y = 0; y < 7; ++y) ASSERT_EQ(HostWriteRow(a, row.data(), y, 0, 0), SUCCESS);
    HostCloseRowAccess(a);
    ASSERT_EQ(Fx_GlowFilterBitmap(b.get(), 4, 0xFFFFFFFFu, 0, 0), SUCCESS);
    for (uint8_t byte : b.Stored()) ASSERT_EQ(byte, 0) << bpp;
  }
}

// Failure paths of the whole-bitmap window (dim at least the height) and of very large windows.
TEST(GlowFilterTest, TallWindowFailuresCleanUp) {
  const FxEffectDesc* effect = FxFindEffect("glow-filter");
  ASSERT_NE(effect, nullptr);
  for (const int64_t dim : {int64_t{12}, int64_t{100000}}) {
    const FxNamedValue values[] = {{"dim", {dim}, 0}};
    const SweepStats stats =
        SweepFaults(effect, {fxrel::FormatNamed("rgb48"), 10, 9, 1, fxrel::RegionKind::Mask, 5},
                    {values, values + 1});
    EXPECT_GT(stats.allocs, 0);
    EXPECT_GT(stats.writes, 0);
  }
}

}  // namespace
