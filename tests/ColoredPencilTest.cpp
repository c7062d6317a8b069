// The two colored pencil effects: their checks in order; colored pencil's every sample against
// the stated formula with copies counted out directly; the extended pipeline's split rule, combine
// steps, progress steps and threshold limits (the glow filter's).
#include <algorithm>
#include <cmath>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

Call Pencil(uint32_t strength, uint32_t size, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_ColoredPencilBitmap(b, strength, size, flags); };
}

TEST(ColoredPencilTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  EXPECT_EQ(Fx_ColoredPencilBitmap(nullptr, 50, 10, 1), ERROR_NO_BITMAP);
  const auto flag200 = [](BitmapRecord* b) { b->Flags |= FLAG_UNSUPPORTED; };
  // clang-format off
  CheckEntryCases({
      {"struct size first", StructSize(0), Pencil(50, 10, 1), ERROR_INV_STRUCT_SIZE},
      {"32-bit gray before flags", [](BitmapRecord* b) { b->Order = ORDER_GRAY; },
       Pencil(50, 10, 1), ERROR_UNSUPPORTED_ORDER},
      {"flags before strength 0", nullptr, Pencil(0, 10, 1), bad},
      {"strength 0 before flag 0x200 and size", flag200, Pencil(0, 999), SUCCESS, kNone},
      {"flag 0x200 before the ranges", flag200, Pencil(101, 10), ERROR_UNSUPPORTED_FLAG},
      {"strength 101", nullptr, Pencil(101, 10), bad},
      {"size 101", nullptr, Pencil(50, 101), bad},
      {"limits", nullptr, Pencil(100, 100), SUCCESS, kSome},
  });
  // clang-format on
}

// The copies' samples: the brightest neighbour and the neighbourhood's mean, r = 1 + size / 10.
void Copies(const Snapshot& s, int32_t x, int32_t y, int32_t k, uint32_t size, int32_t& a,
            int32_t& b) {
  const int32_t r = 1 + int32_t(size / 10);
  int64_t sum = 0, n = 0;
  a = 0;
  for (int32_t v = std::max(0, y - r); v <= std::min(s.height - 1, y + r); ++v)
    for (int32_t u = std::max(0, x - r); u <= std::min(s.width - 1, x + r); ++u) {
      const int32_t p = int32_t(s.at(u, v, k));
      a = std::max(a, p);
      sum += p, ++n;
    }
  b = int32_t((sum + n / 2) / n);
}

uint32_t ExpectedPencil(const Sample& p, uint32_t strength, uint32_t size) {
  const int32_t max = p.s.max(), pv = int32_t(p.before());
  const double k = p.s.bits == 16 ? 48 : 3;
  int32_t a = 0, b = 0;
  Copies(p.s, p.x, p.y, p.k, size, a, b);
  const int32_t d = a < pv ? 0 : std::max(std::abs(a - pv), std::abs(b - pv));
  const double w = d == 0 ? 0 : 1 / (d / std::sqrt(pv + 1.0) / k + 1);
  const double t = (max - pv) * w - double(int64_t{d} * pv) / max;
  const double v = std::trunc(pv + strength / 100.0 * t);
  return uint32_t(std::clamp(v, 0.0, double(max)));
}

TEST(ColoredPencilTest, EverySampleFollowsTheFormula) {
  struct Case {
    const char* what;
    Scene scene;
    uint32_t strength, size;
  };
  // clang-format off
  const Case cases[] = {
      {"gray8", {13, 11, 8, ORDER_GRAY, {}, 1}, 70, 10},
      {"bgr24, region", {14, 10, 24, ORDER_BGR, {3, 2, 12, 9}, 2}, 100, 0},
      {"bgr32 in view 6", {12, 13, 32, ORDER_BGR, {1, 1, 11, 12}, 3, 6}, 45, 35},
      {"rgb48", {11, 12, 48, ORDER_RGB, {}, 4}, 85, 20},
      {"gray16, smooth", {15, 14, 16, ORDER_GRAY, {2, 3, 13, 12}, 0}, 100, 100},
      {"bgr64 in view 5", {9, 10, 64, ORDER_BGR, {}, 5, 5}, 30, 5},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const int32_t changed = CompareWithReference(
        c.scene, Pencil(c.strength, c.size),
        [&](const Sample& p) { return ExpectedPencil(p, c.strength, c.size); });
    EXPECT_GT(changed, 10);
  }
}

// The extended pipeline ------------------------------------------------------------------------

struct Ext {
  uint32_t dim = 3, bright = 6, threshold = 24, level1 = 300;
  int32_t length = 12;
  uint32_t level2 = 500;
  int32_t angle = 4500;
  uint32_t flags = 0x02;
  int32_t operator()(BitmapRecord* b) const {
    return Fx_ColoredPencilBitmapExt(b, dim, bright, threshold, level1, length, level2, angle,
                                     flags);
  }
};
Call With(Ext e) {
  return [=](BitmapRecord* b) { return e(b); };
}

TEST(ColoredPencilExtTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER;
  EXPECT_EQ(Ext{}(nullptr), bad) << "a null bitmap is a bad parameter here";
  Ext level1, level2, angle, angleSplit, neither, photoOnly, dim0;
  level1.level1 = 1001, level2.level2 = 1001, angle.angle = -18001;
  angleSplit.angle = 18001, angleSplit.flags = 0x01;
  neither.flags = 0x04, photoOnly.flags = 0x10;
  dim0.dim = 0;
  Ext sizeFirst = level1;
  sizeFirst.flags = 0;
  // clang-format off
  CheckEntryCases({
      {"struct size first", StructSize(271), With(sizeFirst), ERROR_INV_STRUCT_SIZE},
      {"flag 0x200", [](BitmapRecord* b) { b->Flags |= FLAG_UNSUPPORTED; }, With(sizeFirst),
       ERROR_UNSUPPORTED_FLAG},
      {"strokeLevel1", nullptr, With(level1), bad},
      {"strokeLevel2", nullptr, With(level2), bad},
      {"strokeAngle in the simple pipeline", nullptr, With(angle), bad},
      {"no pipeline", nullptr, With(neither), bad},
      {"0x10 alone", nullptr, With(photoOnly), bad},
      {"the glow's dim 0 passes through", nullptr, With(dim0), bad},
      {"strokeAngle unused by the split pipeline", nullptr, With(angleSplit), SUCCESS, kSome},
  });
  // clang-format on
}

TEST(ColoredPencilExtTest, ThresholdLimitsAreTheGlowFilters) {
  const struct {
    int32_t bpp;
    uint32_t order, limit;
  } depths[] = {{8, ORDER_GRAY, 255},   {12, ORDER_GRAY, 4095}, {16, ORDER_GRAY, 65535},
                {24, ORDER_BGR, 255},   {32, ORDER_BGR, 255},   {48, ORDER_RGB, 65535},
                {64, ORDER_BGR, 65535}, {8, ORDER_BGR, 255}};
  for (const auto& d : depths)
    for (const uint32_t threshold : {d.limit, d.limit + 1}) {
      SCOPED_TRACE(std::to_string(d.bpp) + " bits, threshold " + std::to_string(threshold));
      TestBitmap b(6, 5, d.bpp, d.order);
      b.FillNoise(3);
      const int32_t glow = Fx_GlowFilterBitmap(b.get(), 3, 1, threshold, 0);
      Ext e;
      e.threshold = threshold;
      EXPECT_EQ(e(b.get()), glow);
      EXPECT_EQ(glow, threshold == d.limit ? SUCCESS : ERROR_INV_PARAMETER);
    }
}

// Working samples of a one-row 24-bit bitmap.
std::vector<uint32_t> RunRow(const std::vector<uint32_t>& in, const Ext& e) {
  TestBitmap b(int32_t(in.size() / 3), 1, 24);
  for (size_t i = 0; i < in.size(); ++i) b->Data[i] = uint8_t(in[i]);
  EXPECT_EQ(e(b.get()), SUCCESS);
  return std::vector<uint32_t>(b->Data, b->Data + in.size());
}

TEST(ColoredPencilExtTest, SplitCopiesMergeAsLight) {
  // No strokes, pressures that keep the tones, a glow that leaves every edge black: the result
  // is the dark copy screened with the bright one.
  Ext e;
  e.length = 0, e.level1 = e.level2 = 500, e.bright = 1, e.threshold = 255;
  // (0, 0, 200) lives in the bright copy only, (0, 0, 0) in neither, (127, 0, 0) in the dark one,
  // (128, 128, 128) in the bright one; (100, 200, 50) in both: 255 - ((255 - v)^2 + 127) / 255.
  const std::vector<uint32_t> in = {0, 0, 200, 0, 0, 0, 127, 0, 0, 128, 128, 128, 100, 200, 50};
  const std::vector<uint32_t> out = {0, 0, 200, 0, 0, 0, 127, 0, 0, 128, 128, 128, 161, 243, 90};
  for (const uint32_t flags : {0x01u, 0x03u, 0x21u}) {
    e.flags = flags;
    EXPECT_EQ(RunRow(in, e), out) << flags;
  }
  // The simple pipeline leaves such a picture alone; over the photo it is multiplied by itself:
  // (200 * 200 + 127) / 255 = 157, (100 * 100 + 127) / 255 = 39, (50 * 50 + 127) / 255 = 10.
  e.flags = 0x02;
  EXPECT_EQ(RunRow(in, e), in);
  e.flags = 0x12;
  EXPECT_EQ(RunRow({100, 200, 50}, e), (std::vector<uint32_t>{39, 157, 10}));
}

// Status reports of one call, in order.
std::vector<int32_t> Reports(const Ext& e) {
  static std::vector<int32_t> seen;
  seen.clear();
  HostExchangeCallback(
      [](int32_t percent, void*) {
        seen.push_back(percent);
        return SUCCESS;
      },
      nullptr, nullptr, nullptr);
  TestBitmap b(20, 16, 24);
  b.FillNoise(9);
  EXPECT_EQ(e(b.get()), SUCCESS);
  HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
  return seen;
}

TEST(ColoredPencilExtTest, ProgressInFixedSteps) {
  Ext e;
  EXPECT_EQ(Reports(e), (std::vector<int32_t>{0, 15, 30, 45, 60, 75, 90, 100}));
  e.flags = 0x11;
  EXPECT_EQ(Reports(e), (std::vector<int32_t>{0,  5,  8,  10, 13, 15, 17, 20, 33, 35, 38, 40, 43,
                                              45, 48, 50, 53, 55, 57, 70, 73, 85, 90, 95, 100}));
}

TEST(ColoredPencilExtTest, AFailedProgressContextIsNoMemory) {
  TestBitmap b(8, 6, 24);
  b.FillNoise(4);
  const auto before = b.Stored();
  HostFaultPlan plan;
  plan.failAllocAt = 1;  // the context is the first allocation without flag 0x10
  HostSetFaultPlan(plan);
  const int32_t rc = Ext{}(b.get());
  HostSetFaultPlan(HostFaultPlan{});
  EXPECT_EQ(rc, ERROR_NO_MEMORY);
  EXPECT_EQ(b.Stored(), before);
}

}  // namespace
