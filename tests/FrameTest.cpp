// The frame shared by the effects: samplers, window rotation, sliding window, fill colour.
#include <cmath>

#include "Common/FillColor.h"
#include "Common/RowCache.h"
#include "Common/Samplers.h"
#include "TestSupport.h"

namespace {

using fxtest::HostFixture;

class FrameTest : public HostFixture {};

// A 3-pixel, 2-row table of one-sample pixels, at 8 or 16 bits.
template <class T>
struct GrayTable {
  T row0[3];
  T row1[3];
  T* rows[2] = {row0, row1};
};

template <class T>
int Sample(GrayTable<T>& t, double x, double y) {
  T out = 0;
  fx::BilinearSample<T>(t.rows, x, y, 2, 1, 3, &out);
  return out;
}

TEST_F(FrameTest, BilinearSamplerEdgeCases) {
  struct Case {
    const char* what;
    double x, y;
    int expected8;  // with row0 = {100, 200, 50}, row1 = {0, 255, 90}
  };
  const Case cases[] = {
      {"exact pixel", 1, 0, 200},
      {"half way truncates", 0.5, 0, 150},
      {"x = width - 0.5 clamps both columns", 2.5, 0, 50},
      {"x = -0.5 extrapolates", -0.5, 0, 50},  // 100 - (200 - 100) / 2
      {"y beyond the table", 1, 7.5, 255},
      {"y <= -1 uses row 0", 1, -3.25, 200},
      {"y between -1 and 0 extrapolates and clamps to 0", 0, -0.5, 150},
      {"mid cell", 0.5, 0.5, 138},  // (100 + 200 + 0 + 255) / 4 = 138.75
  };
  for (const auto& c : cases) {
    GrayTable<uint8_t> t8{{100, 200, 50}, {0, 255, 90}};
    EXPECT_EQ(Sample(t8, c.x, c.y), c.expected8) << c.what;
    GrayTable<uint16_t> t16{{100 * 257, 200 * 257, 50 * 257}, {0, 255 * 257, 90 * 257}};
    const double exact = c.expected8 * 257.0;
    EXPECT_NEAR(Sample(t16, c.x, c.y), exact, 257) << c.what;
  }
}

TEST_F(FrameTest, SamplerClampsTheValueRange) {
  GrayTable<uint8_t> t{{255, 250, 0}, {255, 255, 0}};
  EXPECT_EQ(Sample(t, -0.9, 0), 255);  // 255 + 0.9 * 5 = 259.5 lowered to 255
  GrayTable<uint8_t> low{{10, 200, 0}, {0, 0, 0}};
  EXPECT_EQ(Sample(low, -0.5, 0), 0);  // 10 - 95 is negative: raised to 0
  GrayTable<uint16_t> high{{65535, 65000, 0}, {0, 0, 0}};
  EXPECT_EQ(Sample(high, -0.5, 0), 65535);
  // Absurd coordinates clamp to the table's corner instead of misbehaving.
  EXPECT_EQ(Sample(t, 1e300, -1e300), 0);
  EXPECT_EQ(Sample(t, std::nan(""), 0.0), 255);
}

TEST_F(FrameTest, SamplerInterpolatesThreeSamplesAndKeepsTheFourth) {
  uint8_t row0[8] = {0, 100, 200, 11, 100, 200, 0, 22};
  uint8_t row1[8] = {0, 100, 200, 33, 100, 200, 0, 44};
  uint8_t* rows[2] = {row0, row1};
  uint8_t out[4] = {0, 0, 0, 99};
  fx::BilinearSample8(rows, 0.5, 0.25, 2, 4, 2, out);
  EXPECT_EQ(out[0], 50);
  EXPECT_EQ(out[1], 150);
  EXPECT_EQ(out[2], 100);
  EXPECT_EQ(out[3], 99);
}

TEST_F(FrameTest, RotateRowWindowStartsAtTheOldestRow) {
  int values[4] = {0, 1, 2, 3};
  int* ring[4] = {&values[0], &values[1], &values[2], &values[3]};
  int* view[4];
  for (int start = 0; start < 4; ++start) {
    fx::RotateRowWindow(ring, view, 4, start);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(*view[i], (i + start) % 4);
  }
}

TEST_F(FrameTest, SlidingWindowHoldsRowsAroundTheOutputRowClamped) {
  fxtest::TestBitmap b(2, 9, 8, ORDER_GRAY);
  for (int y = 0; y < 9; ++y) b->Data[y * b->BytesPerLine] = uint8_t(y);
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
  for (int n : {1, 3, 5}) {
    fx::SlidingRowWindow window;
    ASSERT_EQ(window.Allocate(n, 8), SUCCESS);
    std::vector<int> produced;
    int32_t rc = window.Slide(a, 2, 7, 9, [&](int32_t y, uint8_t** view) {
      produced.push_back(y);
      for (int i = 0; i < n; ++i) {
        int expected = std::clamp(y - n / 2 + i, 0, 8);
        EXPECT_EQ(view[i][0], expected) << "n " << n << " y " << y << " i " << i;
      }
      return SUCCESS;
    });
    EXPECT_EQ(rc, SUCCESS);
    EXPECT_EQ(produced, (std::vector<int>{2, 3, 4, 5, 6}));
  }
  HostCloseRowAccess(a);
}

TEST_F(FrameTest, FillColourPreparationPerDepth) {
  struct Case {
    int32_t bpp;
    uint32_t order;
    COLORREF colour;
    uint32_t r, g, b;
  };
  const Case cases[] = {
      {24, 0, 0x00102030, 0x30, 0x20, 0x10},
      {48, 0, 0x00102030, 0x3000, 0x2000, 0x1000},
      {8, 2, 0x00102030, 34, 34, 34},              // (16 + 5 * 32 + 2 * 48) / 8
      {16, 2, 0x04001234, 0x1234, 0x1234, 0x1234},  // bit 26: the literal 16-bit level
      {16, 2, 0x00000080, 0x2000, 0x2000, 0x2000},  // (0 + 0 + 2 * 0x8000) / 8
  };
  for (const auto& c : cases) {
    fxtest::TestBitmap bmp(2, 2, c.bpp, c.order);
    fx::PreparedColor p = fx::PrepareFillColor(bmp.get(), c.colour);
    EXPECT_EQ(p.r, c.r) << c.bpp;
    EXPECT_EQ(p.g, c.g) << c.bpp;
    EXPECT_EQ(p.b, c.b) << c.bpp;
  }
}

}  // namespace
