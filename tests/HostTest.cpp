// Host layer: formats, orientation views, regions, write phases, progress, runtime helpers and
// fault injection.
#include <algorithm>
#include <cstring>
#include <thread>

#include "TestSupport.h"
#include "host/runtime/Runtime.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class HostTest : public HostFixture {};

TEST_F(HostTest, GeneratorFollowsTheClassicSequence) {
  fxrt::srand(1);
  EXPECT_EQ(fxrt::rand(), 41);
  EXPECT_EQ(fxrt::rand(), 18467);
  EXPECT_EQ(fxrt::rand(), 6334);
  // The public seed call drives the same per-thread state.
  HostSeedRandom(1);
  EXPECT_EQ(HostRandom(), 41);
}

TEST_F(HostTest, GeneratorIsPerThread) {
  fxrt::srand(1);
  int32_t other = 0;
  std::thread([&] { other = fxrt::rand(); }).join();  // a new thread starts at state 1
  EXPECT_EQ(other, 41);
  EXPECT_EQ(fxrt::rand(), 41);
}

TEST_F(HostTest, EveryDepthRoundTripsThroughWorkingRows) {
  for (const auto& d : fxtest::AllDepths()) {
    for (uint8_t orientation : {1, 4, 6}) {
      SCOPED_TRACE(std::string(d.name) + " orientation " + std::to_string(orientation));
      TestBitmap b(13, 7, d.bitsPerPixel, d.order, orientation);
      ASSERT_TRUE(b.ok());
      b.FillNoise(7);
      const auto stored = b.Stored();
      fxtest::WriteWorkingRows(b.get(), fxtest::WorkingRows(b.get()));
      EXPECT_EQ(b.Stored(), stored);
    }
  }
}

TEST_F(HostTest, WorkingFormatFollowsTheDepth) {
  struct Case {
    int32_t bpp;
    uint32_t order;
    int32_t sampleBits, pixelStep;
  };
  const Case cases[] = {{1, 0, 8, 3},  {4, 0, 8, 3},  {8, 0, 8, 3},  {8, 2, 8, 1},  {12, 2, 16, 1},
                        {16, 2, 16, 1}, {24, 1, 8, 3}, {32, 0, 8, 4}, {48, 0, 16, 3}, {64, 1, 16, 4}};
  for (const auto& c : cases) {
    TestBitmap b(5, 3, c.bpp, c.order);
    ASSERT_TRUE(b.ok()) << c.bpp;
    RowAccess* a = nullptr;
    ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
    EXPECT_EQ(HostSampleBits(a), c.sampleBits) << c.bpp;
    EXPECT_EQ(HostPixelStep(a), c.pixelStep) << c.bpp;
    EXPECT_EQ(HostRowBytes(a), 5 * c.pixelStep * c.sampleBits / 8) << c.bpp;
    EXPECT_EQ(HostIsGrayscale(b.get()) != 0, c.pixelStep == 1) << c.bpp;
    HostCloseRowAccess(a);
  }
}

TEST_F(HostTest, ColourSamplesArriveBlueGreenRedInBothOrders) {
  for (uint32_t order : {ORDER_BGR, ORDER_RGB}) {
    TestBitmap b(2, 1, 24, order);
    uint8_t* p = b->Data;
    p[0] = 10, p[1] = 20, p[2] = 30;  // stored order
    auto row = fxtest::WorkingRow(b.get(), 0);
    EXPECT_EQ(row[0], order == ORDER_BGR ? 10 : 30);
    EXPECT_EQ(row[1], 20);
    EXPECT_EQ(row[2], order == ORDER_BGR ? 30 : 10);
  }
}

TEST_F(HostTest, TwelveBitGrayScalesToSixteenBitsAndBack) {
  TestBitmap b(3, 1, 12, ORDER_GRAY);
  const uint16_t stored[3] = {0, 0x0ABC, 0x0FFF};
  std::memcpy(b->Data, stored, sizeof(stored));
  auto row = fxtest::WorkingRow(b.get(), 0);
  const uint16_t* w = reinterpret_cast<const uint16_t*>(row.data());
  EXPECT_EQ(w[0], 0);
  EXPECT_EQ(w[1], 0xABCA);
  EXPECT_EQ(w[2], 0xFFFF);
}

TEST_F(HostTest, PaletteImagesReadAsColourAndWriteTheNearestEntry) {
  const COLORREF palette[2] = {0x000000, 0x0000FF};  // black, red
  BitmapRecord b{};
  ASSERT_EQ(HostCreateBitmap(&b, 272, 1, 9, 1, 1, ORDER_BGR, palette, 1, nullptr, 0), SUCCESS);
  b.Data[0] = 0x80;  // pixel 0 red, the rest black
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(&b, &a, 2), SUCCESS);
  uint8_t row[64];
  ASSERT_EQ(HostReadRow(a, row, 0, 0, nullptr), SUCCESS);
  EXPECT_EQ(row[2], 255);  // red sample of pixel 0
  EXPECT_EQ(row[5], 0);
  row[3 * 8 + 2] = 200;  // pixel 8 reddish: nearest entry is red
  row[0] = row[1] = row[2] = 10;  // pixel 0 near black
  ASSERT_EQ(HostBeginWrite(a), SUCCESS);
  ASSERT_EQ(HostWriteRow(a, row, 0, 0, 0), SUCCESS);
  HostCloseRowAccess(a);
  EXPECT_EQ(b.Data[0], 0x00);
  EXPECT_EQ(b.Data[1], 0x80);
  HostFreeBitmap(&b);
}

// Stored pixel (sx, sy) that view pixel (x, y) shows, for stored size sw x sh.
void ExpectedStored(int o, int sw, int sh, int x, int y, int* sx, int* sy) {
  switch (o) {
    case 1: *sx = x, *sy = y; break;               // as stored
    case 2: *sx = sw - 1 - x, *sy = y; break;      // mirrored
    case 3: *sx = sw - 1 - x, *sy = sh - 1 - y; break;  // turned half way
    case 4: *sx = x, *sy = sh - 1 - y; break;      // bottom-up
    case 5: *sx = y, *sy = x; break;               // transposed: rows are stored columns
    case 6: *sx = y, *sy = sh - 1 - x; break;      // turned clockwise
    case 7: *sx = sw - 1 - y, *sy = sh - 1 - x; break;  // transverse
    case 8: *sx = sw - 1 - y, *sy = x; break;      // turned anticlockwise
  }
}

TEST_F(HostTest, OrientationViewsPresentTheStoredImageTransformed) {
  const int sw = 6, sh = 4;
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE("orientation " + std::to_string(o));
    TestBitmap b(sw, sh, 8, ORDER_GRAY);
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) b->Data[y * b->BytesPerLine + x] = uint8_t(y * 16 + x);
    ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, o, 0), SUCCESS);
    EXPECT_EQ(b->Width, o >= 5 ? sh : sw);
    EXPECT_EQ(b->Height, o >= 5 ? sw : sh);
    auto rows = fxtest::WorkingRows(b.get());
    for (int y = 0; y < b->Height; ++y)
      for (int x = 0; x < b->Width; ++x) {
        int sx, sy;
        ExpectedStored(o, sw, sh, x, y, &sx, &sy);
        ASSERT_EQ(rows[y * b->Width + x], sy * 16 + sx) << x << "," << y;
      }
  }
}

TEST_F(HostTest, CopyFormMakesAnIndependentCopy) {
  TestBitmap b(5, 4, 24);
  b.FillNoise(3);
  RECT r{1, 1, 3, 3};
  ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &r, 1), SUCCESS);
  BitmapRecord copy{};
  ASSERT_EQ(HostSetOrientation(&copy, b.get(), 272, 1, 7), SUCCESS);
  EXPECT_NE(copy.Data, b->Data);
  EXPECT_EQ(fxtest::WorkingRows(&copy), fxtest::WorkingRows(b.get()));
  EXPECT_TRUE(HostHasRegion(&copy));
  copy.Data[0] ^= 0xFF;
  EXPECT_NE(fxtest::WorkingRows(&copy), fxtest::WorkingRows(b.get()));
  HostFreeBitmap(&copy);
}

// Writes a constant row everywhere through the region write and checks the result per pixel.
void ExpectRegionWriteKeepsOutside(BitmapRecord* b) {
  auto before = fxtest::WorkingRows(b);
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(b, &a, 2), SUCCESS);
  ASSERT_EQ(HostBeginRegionWrite(a), SUCCESS);
  std::vector<uint8_t> row(HostRowBytes(a), 0xEE);
  for (int y = 0; y < b->Height; ++y) ASSERT_EQ(HostWriteRow(a, row.data(), y, 0, 0), SUCCESS);
  const int step = HostPixelStep(a);
  HostCloseRowAccess(a);
  auto after = fxtest::WorkingRows(b);
  int inside = 0;
  for (int y = 0; y < b->Height; ++y)
    for (int x = 0; x < b->Width; ++x) {
      size_t i = (size_t(y) * b->Width + x) * step;
      if (HostIsInRegion(b, x, y)) {
        ++inside;
        EXPECT_EQ(after[i], 0xEE) << x << "," << y;
      } else {
        EXPECT_EQ(after[i], before[i]) << x << "," << y;
      }
    }
  EXPECT_GT(inside, 0);
}

TEST_F(HostTest, RegionWritesChangeOnlyPixelsInside) {
  for (uint8_t o : {1, 4, 6}) {
    SCOPED_TRACE("orientation " + std::to_string(o));
    TestBitmap rect(9, 7, 24, ORDER_BGR, o);
    rect.FillNoise(1);
    RECT r{2, 1, 6, 5};
    ASSERT_EQ(HostSetRegionRect(rect.get(), nullptr, &r, 1), SUCCESS);
    RECT bounds;
    HostGetRegionBounds(rect.get(), nullptr, &bounds);
    EXPECT_EQ(std::memcmp(&bounds, &r, sizeof(RECT)), 0);
    ExpectRegionWriteKeepsOutside(rect.get());

    TestBitmap masked(9, 7, 8, ORDER_GRAY, o);
    masked.FillNoise(2);
    std::vector<uint8_t> mask(masked->Width * masked->Height, 0);
    for (int y = 0; y < masked->Height; ++y)
      for (int x = 0; x < masked->Width; ++x) mask[y * masked->Width + x] = (x + y) % 3 == 0;
    ASSERT_EQ(HostSetRegionMask(masked.get(), mask.data(), masked->Width), SUCCESS);
    for (int y = 0; y < masked->Height; ++y)
      for (int x = 0; x < masked->Width; ++x)
        ASSERT_EQ(HostIsInRegion(masked.get(), x, y) != 0, mask[y * masked->Width + x] != 0);
    ExpectRegionWriteKeepsOutside(masked.get());
  }
}

TEST_F(HostTest, RegionBoundsFollowTheOrientation) {
  TestBitmap b(10, 6, 24);
  RECT r{1, 2, 4, 3};  // stored coordinates while in orientation 1
  ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &r, 1), SUCCESS);
  ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, 5, 0), SUCCESS);
  RECT t;
  HostGetRegionBounds(b.get(), nullptr, &t);
  EXPECT_EQ(t.left, 2);
  EXPECT_EQ(t.top, 1);
  EXPECT_EQ(t.right, 3);
  EXPECT_EQ(t.bottom, 4);
  HostFreeRegion(b.get());
  HostGetRegionBounds(b.get(), nullptr, &t);
  EXPECT_EQ(t.right, 6);  // whole view without a region
  EXPECT_EQ(t.bottom, 10);
}

TEST_F(HostTest, RowOperationsAnswerClearCodes) {
  TestBitmap b(4, 3, 24);
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2 | 0x10 | 0x80 | 0x100), SUCCESS);
  uint8_t row[64] = {};
  EXPECT_EQ(HostWriteRow(a, row, 0, 0, 0), ERROR_HOST_WRONG_PHASE);
  EXPECT_EQ(HostReadRow(a, row, 3, 0, nullptr), ERROR_HOST_ROW_RANGE);
  EXPECT_EQ(HostReadRow(a, row, -1, 0, nullptr), ERROR_HOST_ROW_RANGE);
  EXPECT_EQ(HostReadRow(a, nullptr, 0, 0, nullptr), ERROR_HOST_BAD_ARGUMENT);
  ASSERT_EQ(HostBeginWrite(a), SUCCESS);
  EXPECT_EQ(HostBeginWrite(a), ERROR_HOST_WRONG_PHASE);
  EXPECT_EQ(HostReadRow(a, row, 0, 0, nullptr), SUCCESS);  // reading stays possible
  HostCloseRowAccess(a);

  BitmapRecord bad = *b.get();
  bad.Width = 5;  // inconsistent with the storage
  EXPECT_EQ(HostOpenRowAccess(&bad, &a, 2), ERROR_HOST_BAD_RECORD);
  bad = *b.get();
  bad.Flags = 0;
  EXPECT_EQ(HostOpenRowAccess(&bad, &a, 2), ERROR_NO_BITMAP);
  bad = *b.get();
  bad.BitsPerPixel = 16;
  bad.Order = ORDER_BGR;
  EXPECT_EQ(HostOpenRowAccess(&bad, &a, 2), ERROR_HOST_BAD_FORMAT);
}

TEST_F(HostTest, WritePhaseReportsProgressAndHonoursCancel) {
  struct Log {
    std::vector<int32_t> percents;
    int32_t cancelAt = -1;
  } log;
  auto callback = [](int32_t percent, void* user) -> int32_t {
    auto* l = static_cast<Log*>(user);
    l->percents.push_back(percent);
    return percent >= l->cancelAt && l->cancelAt >= 0 ? ERROR_HOST_CANCELLED : SUCCESS;
  };
  HostExchangeCallback(callback, &log, nullptr, nullptr);
  TestBitmap b(4, 20, 24);
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
  ASSERT_EQ(HostBeginWriteEx(a, 10, 60), SUCCESS);
  uint8_t row[64] = {};
  for (int y = 0; y < 20; ++y) ASSERT_EQ(HostWriteRow(a, row, y, 0, 0), SUCCESS);
  HostCloseRowAccess(a);
  ASSERT_FALSE(log.percents.empty());
  EXPECT_TRUE(std::is_sorted(log.percents.begin(), log.percents.end()));
  EXPECT_GE(log.percents.front(), 10);
  EXPECT_EQ(log.percents.back(), 60);

  log = Log{{}, 50};
  ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
  ASSERT_EQ(HostBeginWrite(a), SUCCESS);
  int32_t rc = SUCCESS;
  int y = 0;
  for (; y < 20 && rc == SUCCESS; ++y) rc = HostWriteRow(a, row, y, 0, 0);
  HostCloseRowAccess(a);
  EXPECT_EQ(rc, ERROR_HOST_CANCELLED);
  EXPECT_LT(y, 20);
}

TEST_F(HostTest, FaultPlanFailsTheChosenOperation) {
  HostFaultPlan plan;
  plan.failAllocAt = 2;
  HostSetFaultPlan(plan);
  void* first = FX_ALLOC(4, 1);
  void* second = FX_ALLOC(4, 1);
  void* third = FX_ALLOC(4, 1);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  FX_FREE(first);
  FX_FREE(third);

  TestBitmap b(4, 3, 8, ORDER_GRAY);
  plan = HostFaultPlan{};
  plan.failReadAt = 2;
  plan.code = -4242;
  HostSetFaultPlan(plan);
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
  uint8_t row[32];
  EXPECT_EQ(HostReadRow(a, row, 0, 0, nullptr), SUCCESS);
  EXPECT_EQ(HostReadRow(a, row, 0, 0, nullptr), -4242);
  EXPECT_EQ(HostGetFaultCounts().reads, 2);
  HostCloseRowAccess(a);
}

TEST_F(HostTest, RectangleHelpersKeepTheirDocumentedMeaning) {
  RECT r;
  fxrt::SetRect(&r, 0, 0, 10, 5);
  fxrt::InflateRect(&r, 1, 1);
  EXPECT_TRUE(fxrt::PtInRect(&r, POINT{-1, -1}));
  EXPECT_TRUE(fxrt::PtInRect(&r, POINT{10, 5}));
  EXPECT_FALSE(fxrt::PtInRect(&r, POINT{11, 0}));
  EXPECT_FALSE(fxrt::PtInRect(&r, POINT{0, 6}));
  fxrt::OffsetRect(&r, 2, 3);
  EXPECT_EQ(r.left, 1);
  EXPECT_EQ(r.bottom, 9);
  RECT a{0, 0, 4, 4}, b{2, 2, 8, 8}, c{5, 5, 6, 6}, out;
  EXPECT_TRUE(fxrt::IntersectRect(&out, &a, &b));
  EXPECT_EQ(out.left, 2);
  EXPECT_EQ(out.right, 4);
  EXPECT_FALSE(fxrt::IntersectRect(&out, &a, &c));
  EXPECT_EQ(out.right, 0);
  RECT extreme{INT32_MIN, 0, INT32_MAX, 1};
  fxrt::InflateRect(&extreme, 1, 1);  // saturates instead of wrapping
  EXPECT_EQ(extreme.left, INT32_MIN);
  EXPECT_EQ(extreme.right, INT32_MAX);
}

TEST_F(HostTest, ClocksCanBeFixed) {
  HostFixTickCount(1234);
  HostFixTime(99);
  EXPECT_EQ(fxrt::GetTickCount(), 1234u);
  int64_t t = 0;
  EXPECT_EQ(fxrt::_time64(&t), 99);
  EXPECT_EQ(t, 99);
  HostReleaseClocks();
  EXPECT_GT(fxrt::_time64(nullptr), 1600000000);
}

TEST_F(HostTest, ColourToPixelAndCentredWindow) {
  uint8_t p8[4] = {0, 0, 0, 77};
  HostColorToPixel(p8, 0x00112233, 8, 4);
  EXPECT_EQ(p8[0], 0x11);
  EXPECT_EQ(p8[1], 0x22);
  EXPECT_EQ(p8[2], 0x33);
  EXPECT_EQ(p8[3], 77);
  uint16_t p16[1];
  HostColorToPixel(p16, 0x00FFFFFF, 16, 1);
  EXPECT_EQ(p16[0], 65535);

  int rows[5] = {0, 1, 2, 3, 4};
  void* ring[5] = {&rows[0], &rows[1], &rows[2], &rows[3], &rows[4]};
  void* view[5];
  HostCenterRowWindow(ring, view, 5, 0);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(*static_cast<int*>(view[i]), (i + 3) % 5);
  EXPECT_EQ(view[2], ring[0]);
}

TEST_F(HostTest, CreationRejectsWhatTheHostCannotHold) {
  BitmapRecord b{};
  EXPECT_EQ(HostCreateBitmap(&b, 272, 1, 0, 5, 24, 0, nullptr, 1, nullptr, 0), ERROR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(HostCreateBitmap(&b, 272, 1, 5, 5, 16, ORDER_BGR, nullptr, 1, nullptr, 0),
            ERROR_HOST_BAD_FORMAT);
  EXPECT_EQ(HostCreateBitmap(&b, 271, 1, 5, 5, 24, 0, nullptr, 1, nullptr, 0), ERROR_INV_STRUCT_SIZE);
  EXPECT_EQ(HostCreateBitmap(&b, 272, 1, 1 << 25, 5, 24, 0, nullptr, 1, nullptr, 0),
            ERROR_HOST_BAD_ARGUMENT);
  // Wrapping caller memory: the host leaves it alone when freeing.
  uint8_t pixels[4 * 3] = {};
  ASSERT_EQ(HostCreateBitmap(&b, 228, 1, 4, 3, 8, ORDER_GRAY, nullptr, 1, pixels, 4), SUCCESS);
  EXPECT_EQ(b.Data, pixels);
  HostFreeBitmap(&b);
  EXPECT_EQ(b.Flags & FLAG_ALLOCATED, 0u);
}

}  // namespace
