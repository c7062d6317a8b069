// Host layer: formats, orientation views, regions, write phases, progress, runtime helpers and
// fault injection (the reliability suites drive the other fault kinds and the clocks).
#include <algorithm>
#include <array>
#include <cstring>
#include <thread>

#include "TestSupport.h"
#include "host/runtime/Runtime.h"

namespace {

using fxtest::TestBitmap;
using fxtest::WorkingRows;
using Box = std::array<int32_t, 4>;

Box BoxOf(const RECT& r) {
  return {r.left, r.top, r.right, r.bottom};
}

class HostTest : public fxtest::HostFixture {};

TEST_F(HostTest, GeneratorIsTheClassicSequenceOnEachThread) {
  fxrt::srand(1);
  EXPECT_EQ(fxrt::rand(), 41);
  EXPECT_EQ(fxrt::rand(), 18467);
  EXPECT_EQ(fxrt::rand(), 6334);
  int32_t other = 0;
  std::thread([&] { other = fxrt::rand(); }).join();  // a new thread starts at state 1
  EXPECT_EQ(other, 41);
  EXPECT_EQ(fxrt::rand(), 26500);  // and leaves this thread's state alone
  // The public seed call drives the same per-thread state.
  HostSeedRandom(1);
  EXPECT_EQ(HostRandom(), 41);
  EXPECT_EQ(fxrt::rand(), 18467);
}

TEST_F(HostTest, EveryDepthHasItsWorkingFormatAndRoundTrips) {
  struct Case {
    int32_t bpp;
    uint32_t order;
    int32_t sampleBits, pixelStep;
  };
  const Case cases[] = {{1, 0, 8, 3},   {4, 0, 8, 3},   {8, 0, 8, 3},   {8, 2, 8, 1},
                        {12, 2, 16, 1}, {16, 2, 16, 1}, {24, 0, 8, 3},  {24, 1, 8, 3},
                        {32, 0, 8, 4},  {32, 1, 8, 4},  {48, 0, 16, 3}, {48, 1, 16, 3},
                        {64, 0, 16, 4}, {64, 1, 16, 4}};
  for (const auto& c : cases) {
    for (uint8_t orientation : {1, 4, 6}) {
      SCOPED_TRACE(std::to_string(c.bpp) + " order " + std::to_string(c.order) + " orientation " +
                   std::to_string(orientation));
      TestBitmap b(13, 7, c.bpp, c.order, orientation);
      ASSERT_TRUE(b.ok());
      RowAccess* a = nullptr;
      ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
      EXPECT_EQ(HostSampleBits(a), c.sampleBits);
      EXPECT_EQ(HostPixelStep(a), c.pixelStep);
      EXPECT_EQ(HostRowBytes(a), b->Width * c.pixelStep * c.sampleBits / 8);
      EXPECT_EQ(HostIsGrayscale(b.get()) != 0, c.pixelStep == 1);
      HostCloseRowAccess(a);
      b.FillNoise(7);
      const auto stored = b.Stored();
      fxtest::WriteWorkingRows(b.get(), WorkingRows(b.get()));
      EXPECT_EQ(b.Stored(), stored);
    }
  }
}

// Stored bytes by hand and the working row they read as: colour as blue, green, red (alpha
// last), 12-bit gray scaled to 16 bits (16-bit samples in native order, here little-endian).
TEST_F(HostTest, StoredSamplesReadAsWorkingSamples) {
  struct Case {
    int32_t bpp;
    uint32_t order;
    std::vector<uint8_t> stored, working;
  };
  const Case cases[] = {
      {24, ORDER_BGR, {10, 20, 30}, {10, 20, 30}},
      {24, ORDER_RGB, {10, 20, 30}, {30, 20, 10}},
      {32, ORDER_RGB, {1, 2, 3, 4}, {3, 2, 1, 4}},
      {48, ORDER_RGB, {1, 2, 3, 4, 5, 6}, {5, 6, 3, 4, 1, 2}},
      {12, ORDER_GRAY, {0, 0, 0xBC, 0x0A, 0xFF, 0x0F}, {0, 0, 0xCA, 0xAB, 0xFF, 0xFF}},
  };
  for (const Case& c : cases) {
    TestBitmap b(3, 1, c.bpp, c.order);
    std::memcpy(b->Data, c.stored.data(), c.stored.size());
    const auto row = fxtest::WorkingRow(b.get(), 0);
    EXPECT_EQ(std::vector<uint8_t>(row.begin(), row.begin() + c.working.size()), c.working)
        << c.bpp << " order " << c.order;
  }
}

// Red-first rows of every width up to a few blocks of the wide copy, and its tail: the first and
// third samples of each pixel trade places on the way in and back on the way out.
TEST_F(HostTest, RedFirstRowsSwapTheirOuterSamplesAtEveryWidth) {
  for (int32_t bpp : {24, 32, 48, 64}) {
    const int32_t sampleBytes = bpp >= 48 ? 2 : 1, pixelBytes = bpp / 8;
    for (int32_t width = 1; width <= 23; ++width) {
      SCOPED_TRACE(std::to_string(bpp) + " bpp, width " + std::to_string(width));
      TestBitmap b(width, 2, bpp, ORDER_RGB);
      ASSERT_TRUE(b.ok());
      b.FillNoise(uint32_t(width));
      const auto stored = b.Stored();
      const auto row = fxtest::WorkingRow(b.get(), 1);
      const uint8_t* source = b->Data + b->BytesPerLine;
      for (int32_t x = 0; x < width; ++x)
        for (int32_t k = 0; k < pixelBytes; ++k) {
          const int32_t sample = k / sampleBytes, byte = k % sampleBytes;
          const int32_t from = sample == 0 ? 2 : sample == 2 ? 0 : sample;
          ASSERT_EQ(row[size_t(x * pixelBytes + k)],
                    source[x * pixelBytes + from * sampleBytes + byte])
              << "pixel " << x << " byte " << k;
        }
      fxtest::WriteWorkingRows(b.get(), WorkingRows(b.get()));
      EXPECT_EQ(b.Stored(), stored);
    }
  }
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
  row[3 * 8 + 2] = 200;           // pixel 8 reddish: nearest entry is red
  row[0] = row[1] = row[2] = 10;  // pixel 0 near black
  ASSERT_EQ(HostBeginWrite(a), SUCCESS);
  ASSERT_EQ(HostWriteRow(a, row, 0, 0, 0), SUCCESS);
  HostCloseRowAccess(a);
  EXPECT_EQ(b.Data[0], 0x00);
  EXPECT_EQ(b.Data[1], 0x80);
  HostFreeBitmap(&b);
}

TEST_F(HostTest, OrientationViewsPresentTheStoredImageTransformed) {
  const int sw = 6, sh = 4;
  for (int o = 1; o <= 8; ++o) {
    SCOPED_TRACE("orientation " + std::to_string(o));
    // 5 to 8 transpose (view rows run along stored columns); then 2, 3, 7 and 8 run the stored
    // columns backwards, and 3, 4, 6 and 7 the stored rows.
    const bool transposed = o >= 5, backX = o == 2 || o == 3 || o >= 7,
               backY = o == 3 || o == 4 || o == 6 || o == 7;
    TestBitmap b(sw, sh, 8, ORDER_GRAY);
    for (int y = 0; y < sh; ++y)
      for (int x = 0; x < sw; ++x) b->Data[y * b->BytesPerLine + x] = uint8_t(y * 16 + x);
    ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, o, 0), SUCCESS);
    EXPECT_EQ(b->Width, transposed ? sh : sw);
    EXPECT_EQ(b->Height, transposed ? sw : sh);
    const auto rows = WorkingRows(b.get());
    for (int y = 0; y < b->Height; ++y)
      for (int x = 0; x < b->Width; ++x) {
        const int u = transposed ? y : x, v = transposed ? x : y;
        const int sx = backX ? sw - 1 - u : u, sy = backY ? sh - 1 - v : v;
        ASSERT_EQ(rows[y * b->Width + x], sy * 16 + sx) << x << "," << y;
      }
  }
}

// The region holds exactly the view pixels marked in `inside`, and a region write of a constant
// row everywhere changes just those.
void ExpectRegion(BitmapRecord* b, const std::vector<uint8_t>& inside) {
  auto before = WorkingRows(b);
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(b, &a, 2), SUCCESS);
  ASSERT_EQ(HostBeginRegionWrite(a), SUCCESS);
  std::vector<uint8_t> row(HostRowBytes(a), 0xEE);
  for (int y = 0; y < b->Height; ++y) ASSERT_EQ(HostWriteRow(a, row.data(), y, 0, 0), SUCCESS);
  const int step = HostPixelStep(a);
  HostCloseRowAccess(a);
  auto after = WorkingRows(b);
  for (int y = 0; y < b->Height; ++y)
    for (int x = 0; x < b->Width; ++x) {
      const size_t i = size_t(y) * b->Width + x;
      ASSERT_EQ(HostIsInRegion(b, x, y) != 0, inside[i] != 0) << x << "," << y;
      EXPECT_EQ(after[i * step], inside[i] ? 0xEE : before[i * step]) << x << "," << y;
    }
}

TEST_F(HostTest, RegionWritesChangeOnlyPixelsInside) {
  for (uint8_t o : {1, 4, 6}) {
    SCOPED_TRACE("orientation " + std::to_string(o));
    TestBitmap rect(9, 7, 24, ORDER_BGR, o), masked(9, 7, 8, ORDER_GRAY, o);
    rect.FillNoise(1);
    masked.FillNoise(2);
    const int32_t w = rect->Width, h = rect->Height;
    RECT r{2, 1, 6, 5}, bounds;
    std::vector<uint8_t> inRect(size_t(w) * h), mask(size_t(w) * h);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        inRect[y * w + x] = x >= 2 && x < 6 && y >= 1 && y < 5;
        mask[y * w + x] = x + 2 < w && (x + y) % 3 == 0;  // clear of the right edge
      }
    ASSERT_EQ(HostSetRegionRect(rect.get(), nullptr, &r, 1), SUCCESS);
    HostGetRegionBounds(rect.get(), nullptr, &bounds);
    EXPECT_EQ(BoxOf(bounds), BoxOf(r));
    ExpectRegion(rect.get(), inRect);
    ASSERT_EQ(HostSetRegionMask(masked.get(), mask.data(), w), SUCCESS);
    ExpectRegion(masked.get(), mask);
  }
}

TEST_F(HostTest, RegionBoundsFollowTheOrientation) {
  TestBitmap b(10, 6, 24);
  RECT r{1, 2, 4, 3}, t;  // stored coordinates while in orientation 1
  ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &r, 1), SUCCESS);
  ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, 5, 0), SUCCESS);
  HostGetRegionBounds(b.get(), nullptr, &t);
  EXPECT_EQ(BoxOf(t), (Box{2, 1, 3, 4}));
  HostFreeRegion(b.get());
  HostGetRegionBounds(b.get(), nullptr, &t);
  EXPECT_EQ(BoxOf(t), (Box{0, 0, 6, 10}));  // the whole view without a region
}

TEST_F(HostTest, RowOperationsAnswerClearCodes) {
  TestBitmap b(4, 3, 24);
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2 | 0x10 | 0x80 | 0x100), SUCCESS);
  uint8_t row[64] = {};
  EXPECT_EQ(HostWriteRow(a, row, 0, 0, 0), ERROR_HOST_WRONG_PHASE);
  EXPECT_EQ(HostReadRow(a, row, 3, 0, nullptr), ERROR_HOST_ROW_RANGE);
  EXPECT_EQ(HostReadRow(a, nullptr, 0, 0, nullptr), ERROR_HOST_BAD_ARGUMENT);
  ASSERT_EQ(HostBeginWrite(a), SUCCESS);
  EXPECT_EQ(HostBeginWrite(a), ERROR_HOST_WRONG_PHASE);
  EXPECT_EQ(HostReadRow(a, row, 0, 0, nullptr), SUCCESS);  // reading stays possible
  HostCloseRowAccess(a);

  BitmapRecord bad = *b.get();
  bad.Width = 5;  // inconsistent with the storage
  EXPECT_EQ(HostOpenRowAccess(&bad, &a, 2), ERROR_HOST_BAD_RECORD);
  bad = *b.get();
  bad.BitsPerPixel = 16;
  bad.Order = ORDER_BGR;
  EXPECT_EQ(HostOpenRowAccess(&bad, &a, 2), ERROR_HOST_BAD_FORMAT);
}

// Cancelling through the callback is swept by the reliability suites and the command line.
TEST_F(HostTest, WritePhaseReportsProgressOverItsRange) {
  std::vector<int32_t> percents;
  HostExchangeCallback(
      [](int32_t percent, void* user) -> int32_t {
        static_cast<std::vector<int32_t>*>(user)->push_back(percent);
        return SUCCESS;
      },
      &percents, nullptr, nullptr);
  TestBitmap b(4, 20, 24);
  uint8_t row[64] = {};
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
  EXPECT_EQ(HostBeginWriteEx(a, 10, 60), SUCCESS);  // the write phase covers 10 .. 60 percent
  for (int y = 0; y < 20; ++y) EXPECT_EQ(HostWriteRow(a, row, y, 0, 0), SUCCESS);
  HostCloseRowAccess(a);
  ASSERT_FALSE(percents.empty());
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_GE(percents.front(), 10);
  EXPECT_EQ(percents.back(), 60);
}

// A band of rows moved with HostReadRows / HostWriteRows against the same rows moved one call at
// a time: the same pixels in every format and orientation (turned views walk the band by stored
// rows, shared among threads), and the same codes, written rows and progress reports when the
// n-th read or write fails or the callback stops the work at its n-th report.
struct RowTrace {
  int32_t code = SUCCESS;
  std::vector<uint8_t> stored, read;
  std::vector<int32_t> percents;
  int64_t reads = 0, writes = 0;
};

RowTrace MoveRows(const fxtest::Depth& depth, uint8_t orientation, bool banded, bool masked,
                  const HostFaultPlan& plan, int32_t stopAtReport) {
  RowTrace t;
  TestBitmap b(37, 23, depth.bitsPerPixel, depth.order, orientation);
  b.FillNoise(5);
  if (masked) {
    std::vector<uint8_t> mask(size_t(b->Width) * b->Height);
    for (size_t i = 0; i < mask.size(); ++i) mask[i] = i % 7 < 4;
    EXPECT_EQ(HostSetRegionMask(b.get(), mask.data(), b->Width), SUCCESS);
  }
  struct Reports {
    std::vector<int32_t>* percents;
    int32_t stopAt;
  } reports{&t.percents, stopAtReport};
  HostExchangeCallback(
      [](int32_t percent, void* user) -> int32_t {
        auto* r = static_cast<Reports*>(user);
        r->percents->push_back(percent);
        return int32_t(r->percents->size()) == r->stopAt ? ERROR_HOST_CANCELLED : SUCCESS;
      },
      &reports, nullptr, nullptr);
  RowAccess* a = nullptr;
  EXPECT_EQ(HostOpenRowAccess(b.get(), &a, 2), SUCCESS);
  const int32_t h = b->Height, bytes = HostRowBytes(a);
  std::vector<std::vector<uint8_t>> rows(static_cast<size_t>(h), std::vector<uint8_t>(bytes));
  std::vector<uint8_t*> pointers;
  for (auto& row : rows) pointers.push_back(row.data());
  HostSetFaultPlan(plan);
  // Reads in bands of 7 rows (the last one short), then every row rewritten from the bottom up
  // with its samples reversed, in bands of 9.
  for (int32_t y = 0; y < h && t.code == SUCCESS; y += 7) {
    const int32_t n = std::min(7, h - y);
    if (banded) t.code = HostReadRows(a, pointers.data() + y, y, n);
    for (int32_t k = 0; !banded && k < n && t.code == SUCCESS; ++k)
      t.code = HostReadRow(a, pointers[y + k], y + k, 0, nullptr);
  }
  for (const auto& row : rows) t.read.insert(t.read.end(), row.begin(), row.end());
  if (t.code == SUCCESS) t.code = masked ? HostBeginRegionWrite(a) : HostBeginWrite(a);
  std::vector<const uint8_t*> reversed;
  for (int32_t y = 0; y < h; ++y) {
    std::reverse(rows[size_t(y)].begin(), rows[size_t(y)].end());
    reversed.push_back(rows[size_t(h - 1 - y)].data());
  }
  for (int32_t y = 0; y < h && t.code == SUCCESS; y += 9) {
    const int32_t n = std::min(9, h - y);
    if (banded) t.code = HostWriteRows(a, reversed.data() + y, y, n);
    for (int32_t k = 0; !banded && k < n && t.code == SUCCESS; ++k)
      t.code = HostWriteRow(a, reversed[size_t(y + k)], y + k, 0, 0);
  }
  t.reads = HostGetFaultCounts().reads;
  t.writes = HostGetFaultCounts().writes;
  HostSetFaultPlan(HostFaultPlan{});
  HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
  HostCloseRowAccess(a);
  t.stored = b.Stored();
  return t;
}

TEST_F(HostTest, BandsOfRowsMoveAsTheirRowCallsInOrder) {
  fxtest::ThreadSetting threads(fxtest::kManyThreads);
  for (const auto& depth : fxtest::AllDepths())
    for (uint8_t orientation : {1, 3, 5, 6, 7, 8})
      for (bool masked : {false, true}) {
        SCOPED_TRACE(std::string(depth.name) + " orientation " + std::to_string(orientation) +
                     (masked ? " masked" : ""));
        std::vector<std::pair<HostFaultPlan, int32_t>> runs = {{HostFaultPlan{}, 0}};
        for (int64_t n : {1, 6, 8, 20, 23}) {
          HostFaultPlan read, write;
          read.failReadAt = n, write.failWriteAt = n;
          runs.push_back({read, 0});
          runs.push_back({write, 0});
        }
        for (int32_t report : {1, 2, 7, 30}) runs.push_back({HostFaultPlan{}, report});
        for (const auto& [plan, stopAt] : runs) {
          SCOPED_TRACE("read fault " + std::to_string(plan.failReadAt) + ", write fault " +
                       std::to_string(plan.failWriteAt) + ", stop at report " +
                       std::to_string(stopAt));
          const RowTrace one = MoveRows(depth, orientation, false, masked, plan, stopAt);
          const RowTrace band = MoveRows(depth, orientation, true, masked, plan, stopAt);
          EXPECT_EQ(band.code, one.code);
          EXPECT_EQ(band.read, one.read);
          EXPECT_EQ(band.stored, one.stored);
          EXPECT_EQ(band.percents, one.percents);
          EXPECT_EQ(band.reads, one.reads);
          EXPECT_EQ(band.writes, one.writes);
        }
      }
}

TEST_F(HostTest, FaultPlanFailsTheChosenAllocationAndBlocksAreCounted) {
  const int64_t live = HostLiveBlocks();
  HostFaultPlan plan;
  plan.failAllocAt = 2;
  HostSetFaultPlan(plan);
  void* first = FX_ALLOC(4, 1);
  void* second = FX_ALLOC(4, 1);
  void* third = FX_ALLOC(4, 1);
  EXPECT_NE(first, nullptr);
  EXPECT_EQ(second, nullptr);
  EXPECT_NE(third, nullptr);
  EXPECT_EQ(HostLiveBlocks(), live + 2);
  FX_FREE(first);
  FX_FREE(third);
  EXPECT_EQ(HostLiveBlocks(), live);
}

// Freed blocks of 1 KiB or more are held for reuse: a reused block must behave as a fresh one
// (zeroed when asked, never counted as live), stay within the limit and go back on a trim.
TEST_F(HostTest, HeldBlocksComeBackLikeFreshOnesAndTrimReleasesThem) {
  HostTrimMemory();
  const int64_t live = HostLiveBlocks();
  for (const uint32_t bytes : {uint32_t{1024}, uint32_t{5760}, uint32_t{1} << 20}) {
    SCOPED_TRACE(bytes);
    auto* dirty = static_cast<uint8_t*>(FX_ALLOC(bytes, 1));
    ASSERT_NE(dirty, nullptr);
    std::memset(dirty, 0xA5, bytes);
    FX_FREE(dirty);
    EXPECT_EQ(HostLiveBlocks(), live);
    // A much smaller request leaves the held block alone; one of the same size takes it.
    void* small = FX_ALLOC(bytes / 4, 1);
    auto* again = static_cast<uint8_t*>(FX_ALLOC_CLEARED(bytes, 1));
    EXPECT_NE(small, static_cast<void*>(dirty));
    EXPECT_EQ(again, dirty);
    ASSERT_NE(again, nullptr);
    EXPECT_TRUE(std::all_of(again, again + bytes, [](uint8_t v) { return v == 0; }));
    EXPECT_EQ(HostLiveBlocks(), live + 2);
    FX_FREE(small);
    FX_FREE(again);
  }
  EXPECT_GE(HostTrimMemory(), int64_t{1} << 20);
  EXPECT_EQ(HostTrimMemory(), 0);

  // Blocks beyond 128 MiB in all go back to the system at once (their pages are never touched).
  std::vector<void*> big;
  for (int i = 0; i < 5; ++i) big.push_back(FX_ALLOC(48u << 20, 1));
  for (void* b : big) {
    ASSERT_NE(b, nullptr);
    FX_FREE(b);
  }
  const int64_t held = HostTrimMemory();
  EXPECT_GE(held, int64_t{48} << 20);
  EXPECT_LE(held, int64_t{128} << 20);
  EXPECT_EQ(HostLiveBlocks(), live);
}

TEST_F(HostTest, RectangleHelpersKeepTheirDocumentedMeaning) {
  RECT r;
  fxrt::SetRect(&r, 0, 0, 10, 5);
  fxrt::InflateRect(&r, 1, 1);
  EXPECT_TRUE(fxrt::PtInRect(&r, POINT{-1, -1}));
  EXPECT_TRUE(fxrt::PtInRect(&r, POINT{10, 5}));
  EXPECT_FALSE(fxrt::PtInRect(&r, POINT{11, 0}));
  EXPECT_FALSE(fxrt::PtInRect(&r, POINT{0, 6}));
  RECT extreme{INT32_MIN, 0, INT32_MAX, 1};
  fxrt::InflateRect(&extreme, 1, 1);  // saturates instead of wrapping
  EXPECT_EQ(BoxOf(extreme), (Box{INT32_MIN, -1, INT32_MAX, 2}));
}

TEST_F(HostTest, CreationRejectsWhatTheHostCannotHold) {
  BitmapRecord b{};
  EXPECT_EQ(HostCreateBitmap(&b, 272, 1, 5, 5, 16, ORDER_BGR, nullptr, 1, nullptr, 0),
            ERROR_HOST_BAD_FORMAT);
  EXPECT_EQ(HostCreateBitmap(&b, 271, 1, 5, 5, 24, 0, nullptr, 1, nullptr, 0),
            ERROR_INV_STRUCT_SIZE);
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
