// Dry: its checks in order, and every sample against the window's extremes counted out directly
// (edges repeated, the reference pixel from row size div 2 of the window) and the stated choice,
// in both window modes and for windows far larger than the bitmap; hand-worked edges.
#include <algorithm>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

Call Dry(uint32_t size, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_DryBitmap(b, size, flags); };
}

TEST(DryTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  EXPECT_EQ(Fx_DryBitmap(nullptr, 0, 1), ERROR_NO_BITMAP);
  const auto flag200 = [](BitmapRecord* b) { b->Flags |= FLAG_UNSUPPORTED; };
  // clang-format off
  CheckEntryCases({
      {"struct size first", StructSize(1), Dry(0, 1), ERROR_INV_STRUCT_SIZE},
      {"32-bit gray", [](BitmapRecord* b) { b->Order = ORDER_GRAY; }, Dry(0, 1),
       ERROR_UNSUPPORTED_ORDER},
      {"flags before flag 0x200", flag200, Dry(0, 1), bad},
      {"flag 0x200 before size", flag200, Dry(0), ERROR_UNSUPPORTED_FLAG},
      {"size 0", nullptr, Dry(0), bad},
      {"size 1 does nothing", nullptr, Dry(1), SUCCESS, kNone},
      {"size 2", nullptr, Dry(2), SUCCESS, kSome},
  });
  // clang-format on
}

// Window extremes of pixel (x, y) and the choice between them: a gray sample, or a colour
// sample of a four-sample pixel, on its own; the three samples of a colour pixel together. The
// window's rows and columns clamp to the picture, so only the positions inside it are visited
// (windows far larger than the picture included).
uint32_t ExpectedDry(const Sample& p, uint32_t size) {
  const Snapshot& s = p.s;
  const int64_t hb = (int64_t(size) - 1) / 2, ha = size / 2;
  const int32_t channels = s.step >= 3 ? 3 : 1;
  const int64_t v0 = std::max<int64_t>(p.y - hb, 0), v1 = std::min<int64_t>(p.y + ha, s.height - 1);
  const int64_t u0 = std::max<int64_t>(p.x - hb, 0), u1 = std::min<int64_t>(p.x + ha, s.width - 1);
  uint32_t lo[3], hi[3], m[3];
  const int32_t refRow = std::min<int32_t>(p.y + (size % 2 == 0), s.height - 1);
  for (int32_t k = 0; k < channels; ++k) {
    lo[k] = UINT32_MAX, hi[k] = 0;
    for (int64_t v = v0; v <= v1; ++v)
      for (int64_t u = u0; u <= u1; ++u) {
        const uint32_t q = s.at(int32_t(u), int32_t(v), k);
        lo[k] = std::min(lo[k], q), hi[k] = std::max(hi[k], q);
      }
    m[k] = s.at(p.x, refRow, k);
  }
  if (channels == 1 || s.step == 4) {  // four samples: each colour sample on its own
    const int32_t k = channels == 1 ? 0 : p.k;
    const int64_t up = std::abs(int64_t(hi[k]) - m[k]), down = std::abs(int64_t(lo[k]) - m[k]);
    return up >= down ? lo[k] : hi[k];
  }
  const auto y = [](const uint32_t* q) { return int64_t(5 * q[1] + 2 * q[2] + q[0] + 4) / 8; };
  const bool dark = std::abs(y(hi) - y(m)) >= std::abs(y(lo) - y(m));
  return dark ? lo[p.k] : hi[p.k];
}

TEST(DryTest, EverySampleTakesTheCloserExtreme) {
  struct Case {
    const char* what;
    Scene scene;
    uint32_t size;
  };
  // clang-format off
  const Case cases[] = {
      // Sliding windows: odd and even sizes, regions, other views.
      {"gray8, size 3", {13, 11, 8, ORDER_GRAY, {}, 1}, 3},
      {"bgr24, size 2, region", {14, 10, 24, ORDER_BGR, {3, 2, 12, 9}, 2}, 2},
      {"bgr32, size 4, view 6", {12, 13, 32, ORDER_BGR, {1, 1, 11, 12}, 3, 6}, 4},
      {"rgb48, size 5", {11, 12, 48, ORDER_RGB, {}, 4}, 5},
      {"gray16, size 6, smooth", {15, 14, 16, ORDER_GRAY, {2, 3, 13, 12}, 0}, 6},
      {"bgr64, size 3, view 5", {9, 10, 64, ORDER_BGR, {}, 5, 5}, 3},
      {"gray12, size 7", {10, 9, 12, ORDER_GRAY, {}, 6}, 7},
      // Whole mode: windows as tall as the bitmap or taller, wider than a row.
      {"bgr24, size 9 = height", {12, 9, 24, ORDER_BGR, {}, 8}, 9},
      {"gray8, size 14", {7, 5, 8, ORDER_GRAY, {1, 0, 6, 5}, 9}, 14},
      {"rgb48, size 10, smooth", {16, 8, 48, ORDER_RGB, {}, 0}, 10},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t changed = CompareWithReference(
        c.scene, Dry(c.size), [&](const Sample& p) { return ExpectedDry(p, c.size); });
    EXPECT_GT(changed, 10);
  }
  for (const uint32_t size : {65536u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    SCOPED_TRACE(size);
    CompareWithReference({6, 5, 24, ORDER_BGR, {}, 10}, Dry(size),
                         [&](const Sample& p) { return ExpectedDry(p, size); });
  }
}

TEST(DryTest, HandWorkedEdges) {
  struct Case {
    const char* what;
    uint32_t size;
    std::vector<std::vector<uint8_t>> in, out;  // gray rows
  };
  const Case cases[] = {
      // The grey pixel half-way between black and white takes the darker side.
      {"tie goes dark", 3, {{0, 100, 200}}, {{0, 0, 200}}},
      // 140 lies closer to 60 than to 255.
      {"closer extreme", 3, {{0, 60, 140, 255}}, {{0, 0, 60, 255}}},
      // Even size: columns and rows x .. x + 1, y .. y + 1, the reference from row y + 1.
      {"even window", 2, {{10, 50}, {100, 20}}, {{100, 20}, {100, 20}}},
      {"flat stays", 5, {{77, 77, 77}, {77, 77, 77}}, {{77, 77, 77}, {77, 77, 77}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t w = int32_t(c.in[0].size()), h = int32_t(c.in.size());
    TestBitmap b(w, h, 8, ORDER_GRAY);
    for (int32_t y = 0; y < h; ++y)
      std::copy(c.in[y].begin(), c.in[y].end(), b->Data + int64_t{y} * b->BytesPerLine);
    ASSERT_EQ(Fx_DryBitmap(b.get(), c.size, 0), SUCCESS);
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* row = b->Data + int64_t{y} * b->BytesPerLine;
      EXPECT_EQ(std::vector<uint8_t>(row, row + w), c.out[y]) << "row " << y;
    }
  }
}

}  // namespace
