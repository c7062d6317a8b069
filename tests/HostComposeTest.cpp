// Whole-bitmap composition: rectangle copies, the resampling filter on hand-worked rows, the
// combine operations, fills and the bilinear weight table.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "TestSupport.h"
#include "host/RowEngine.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class HostComposeTest : public HostFixture {};

// Working samples of a bitmap, and a way to set them.
struct Samples {
  BitmapRecord* b;
  std::vector<uint8_t> rows;
  int32_t bits = 8, step = 1, rowBytes = 0;
  explicit Samples(BitmapRecord* bitmap) : b(bitmap) { Reload(); }
  void Reload() {
    rows = fxtest::WorkingRows(b);
    RowAccess* a = nullptr;
    EXPECT_EQ(HostOpenRowAccess(b, &a, 2), SUCCESS);
    bits = HostSampleBits(a), step = HostPixelStep(a), rowBytes = HostRowBytes(a);
    HostCloseRowAccess(a);
  }
  uint32_t at(int32_t x, int32_t y, int32_t k = 0) const {
    return fxtest::SampleAt(rows, rowBytes, bits, step, x, y, k);
  }
  void set(int32_t x, int32_t y, int32_t k, uint32_t v) {
    uint8_t* p = rows.data() + size_t(y) * rowBytes;
    if (bits == 16) {
      const uint16_t s = static_cast<uint16_t>(v);
      std::memcpy(p + 2 * (size_t(x) * step + k), &s, 2);
    } else {
      p[size_t(x) * step + k] = static_cast<uint8_t>(v);
    }
  }
  void Store() { fxtest::WriteWorkingRows(b, rows); }
};

TEST(HostWeightTableTest, BilinearSharesInHundredths) {
  std::vector<HostWeights> entries(101 * 101);
  std::vector<HostWeights*> table(101);
  for (int i = 0; i < 101; ++i) table[i] = &entries[size_t(i) * 101];
  HostFillWeightTable(table.data());
  const HostWeights& w = table[30][70];  // fx 0.30, fy 0.70
  EXPECT_EQ(w.w[0], 70 * 30);
  EXPECT_EQ(w.w[1], 30 * 30);
  EXPECT_EQ(w.w[2], 70 * 70);
  EXPECT_EQ(w.w[3], 30 * 70);
  EXPECT_EQ(table[0][0].w[0], 10000);
  EXPECT_EQ(table[100][100].w[3], 10000);
  for (const HostWeights& e : entries) EXPECT_EQ(e.w[0] + e.w[1] + e.w[2] + e.w[3], 10000);
}

TEST_F(HostComposeTest, ResizeFilterOnHandWorkedRows) {
  struct Case {
    std::vector<uint32_t> in;  // one gray row
    int32_t to;
    std::vector<uint32_t> out;
  };
  const Case cases[] = {
      // Growing: targets at source 0 (held), 0.25, 0.75, 1 (held).
      {{0, 100}, 4, {0, 25, 75, 100}},
      // Halving averages pairs; by 1.5 the middle pixel is shared half and half.
      {{10, 20, 30, 40}, 2, {15, 35}},
      {{0, 30, 60}, 2, {10, 50}},
      // Rounding half up: (0 + 1) / 2.
      {{0, 1}, 1, {1}},
  };
  for (const Case& c : cases) {
    for (bool transposed : {false, true}) {
      // The row runs along x, or along y of a transposed bitmap seen in orientation 6.
      const int32_t n = static_cast<int32_t>(c.in.size());
      TestBitmap b(transposed ? 1 : n, transposed ? n : 1, 8, ORDER_GRAY, transposed ? 6 : 1);
      ASSERT_TRUE(b.ok());
      Samples s(b.get());
      for (int32_t i = 0; i < n; ++i) s.set(transposed ? 0 : i, transposed ? i : 0, 0, c.in[i]);
      s.Store();
      ASSERT_EQ(HostResizeBitmap(b.get(), transposed ? 1 : c.to, transposed ? c.to : 1, 4),
                SUCCESS);
      EXPECT_EQ(b->Orientation, transposed ? 6 : 1);
      Samples r(b.get());
      for (int32_t i = 0; i < c.to; ++i)
        EXPECT_EQ(r.at(transposed ? 0 : i, transposed ? i : 0), c.out[i])
            << "target " << i << (transposed ? " along y" : " along x");
    }
  }
}

TEST_F(HostComposeTest, ResizeKeepsDepthAndSeparatesTheAxes) {
  // A 2 x 2 colour picture doubled: the corners keep their colours, every sample interpolates
  // on its own, and 16-bit samples stay 16-bit.
  for (int32_t bpp : {24, 48}) {
    TestBitmap b(2, 2, bpp);
    Samples s(b.get());
    const uint32_t scale = bpp == 48 ? 257 : 1;
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 2; ++x)
        for (int32_t k = 0; k < 3; ++k) s.set(x, y, k, (x * 200 + y * 40 + k * 5) * scale);
    s.Store();
    ASSERT_EQ(HostResizeBitmap(b.get(), 4, 4, 4), SUCCESS);
    Samples r(b.get());
    EXPECT_EQ(r.bits, bpp == 48 ? 16 : 8);
    EXPECT_EQ(r.at(0, 0, 2), 10 * scale);
    EXPECT_EQ(r.at(3, 3, 0), 240 * scale);
    // x = 1 maps to source 0.25 and y = 2 to 0.75: 200·0.25 + 40·0.75 + 5.
    EXPECT_EQ(r.at(1, 2, 1), (50 + 30 + 5) * scale);
  }
}

TEST_F(HostComposeTest, ResizeOverManyRowsOnAnyThreadCount) {
  // Rows of one level, y, resized down the rows over several bands of target rows, on one thread
  // and many. Halving averages rows 2d and 2d + 1: 2d + 0.5, rounded up. Quadrupling takes
  // s = (d + 0.5) / 4 - 0.5 held to [0, 49], all exact in binary, rounded half up. A fourth
  // sample comes from source row d * from / to.
  struct Case {
    int32_t fromH, toH;
  };
  for (const Case c : {Case{200, 100}, Case{50, 200}})
    for (const int32_t threads : {1, fxtest::kManyThreads}) {
      SCOPED_TRACE(::testing::Message()
                   << c.fromH << " -> " << c.toH << " rows, " << threads << " threads");
      const fxtest::ThreadSetting setting(threads);
      TestBitmap b(3, c.fromH, 32);
      Samples s(b.get());
      for (int32_t y = 0; y < c.fromH; ++y)
        for (int32_t x = 0; x < 3; ++x) {
          for (int32_t k = 0; k < 3; ++k) s.set(x, y, k, uint32_t(y));
          s.set(x, y, 3, uint32_t(7 * y) & 255);
        }
      s.Store();
      ASSERT_EQ(HostResizeBitmap(b.get(), 3, c.toH, 4), SUCCESS);
      const Samples r(b.get());
      for (int32_t d = 0; d < c.toH; ++d) {
        const double held = std::clamp((d + 0.5) / 4 - 0.5, 0.0, 49.0);
        const uint32_t level =
            c.toH < c.fromH ? uint32_t(2 * d + 1) : uint32_t(std::floor(held + 0.5));
        const uint32_t fourth = uint32_t(7 * (d * c.fromH / c.toH)) & 255;
        for (int32_t x = 0; x < 3; ++x) {
          for (int32_t k = 0; k < 3; ++k) ASSERT_EQ(r.at(x, d, k), level) << x << "," << d;
          ASSERT_EQ(r.at(x, d, 3), fourth) << x << "," << d;
        }
      }
    }
}

TEST_F(HostComposeTest, CopyRectTakesTheRectangleAsSeen) {
  for (const auto& d : fxtest::AllDepths()) {
    SCOPED_TRACE(d.name);
    TestBitmap b(9, 7, d.bitsPerPixel, d.order, 6);
    b.FillNoise(5);
    BitmapRecord copy{};
    ASSERT_EQ(HostCopyBitmapRect(&copy, b.get(), 272, 2, 1, 5, 4), SUCCESS);
    Samples src(b.get()), dst(&copy);
    EXPECT_EQ(copy.Width, 5);
    EXPECT_EQ(copy.Height, 4);
    EXPECT_EQ(copy.BitsPerPixel, d.bitsPerPixel);
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 5; ++x)
        for (int32_t k = 0; k < src.step; ++k)
          ASSERT_EQ(dst.at(x, y, k), src.at(x + 2, y + 1, k)) << x << "," << y;
    HostFreeBitmap(&copy);
    EXPECT_EQ(HostCopyBitmapRect(&copy, b.get(), 272, 5, 0, 5, 4), ERROR_HOST_BAD_ARGUMENT);
  }
}

TEST_F(HostComposeTest, CombineOperations) {
  // An 8-bit colour source into a 16-bit colour or gray destination.
  for (int32_t destBpp : {48, 16}) {
    SCOPED_TRACE(destBpp);
    TestBitmap dst(6, 5, destBpp, destBpp == 16 ? ORDER_GRAY : ORDER_BGR);
    TestBitmap src(6, 5, 24);
    Samples d(dst.get()), s(src.get());
    for (int32_t y = 0; y < 5; ++y)
      for (int32_t x = 0; x < 6; ++x) {
        for (int32_t k = 0; k < d.step; ++k) d.set(x, y, k, 30000);
        for (int32_t k = 0; k < 3; ++k) s.set(x, y, k, x * 40 + k * 10);
      }
    d.Store();
    s.Store();
    const RECT region{0, 0, 6, 1};  // the source region: its first row
    ASSERT_EQ(HostSetRegionRect(src.get(), nullptr, &region, 1), SUCCESS);
    // Rows 1-2: copy of source rows 0-1 shifted by one column; row 3: through the source's region
    // (only source row 0 is in it); row 4: lighten.
    ASSERT_EQ(HostCombineBitmaps(dst.get(), 0, 1, 6, 2, src.get(), 1, 0, HOST_COMBINE_COPY),
              SUCCESS);
    ASSERT_EQ(
        HostCombineBitmaps(dst.get(), 0, 3, 6, 1, src.get(), 0, 0, HOST_COMBINE_COPY_SOURCE_REGION),
        SUCCESS);
    ASSERT_EQ(
        HostCombineBitmaps(dst.get(), 0, 4, 6, 1, src.get(), 0, 1, HOST_COMBINE_COPY_SOURCE_REGION),
        SUCCESS);
    ASSERT_EQ(HostCombineBitmaps(dst.get(), 0, 0, 6, 1, src.get(), 0, 0, HOST_COMBINE_LIGHTEN),
              SUCCESS);
    Samples r(dst.get());
    const auto expect = [&](int32_t sx, int32_t k) {  // source pixel sx at 16 bits
      const uint32_t b = sx * 40, g = b + 10, red = b + 20;
      const uint32_t c[3] = {b * 257, g * 257, red * 257};
      return destBpp == 16 ? (c[0] + 5 * c[1] + 2 * c[2] + 4) / 8 : c[k];
    };
    for (int32_t x = 0; x < 6; ++x)
      for (int32_t k = 0; k < r.step; ++k) {
        EXPECT_EQ(r.at(x, 1, k), x < 5 ? expect(x + 1, k) : 30000u) << "copy, x " << x;
        EXPECT_EQ(r.at(x, 3, k), expect(x, k)) << "source region, x " << x;
        EXPECT_EQ(r.at(x, 4, k), 30000u) << "outside the source region, x " << x;
        EXPECT_EQ(r.at(x, 0, k), std::max(30000u, expect(x, k))) << "lighten, x " << x;
      }
  }
}

TEST_F(HostComposeTest, CombineOverManyRowsOnAnyThreadCount) {
  // 200 rows clipped at the top and bottom of both pictures, on one thread and many: destination
  // rows 0 .. 194 take source rows 5 .. 199 sample by sample (a fourth sample keeps its value).
  struct Case {
    int32_t bpp;
    uint32_t order, operation;
  };
  const Case cases[] = {
      {24, ORDER_BGR, HOST_COMBINE_MULTIPLY}, {24, ORDER_BGR, HOST_COMBINE_COPY},
      {32, ORDER_BGR, HOST_COMBINE_LIGHTEN},  {48, ORDER_RGB, HOST_COMBINE_LIGHTEN},
      {8, ORDER_GRAY, HOST_COMBINE_COPY},     {16, ORDER_GRAY, HOST_COMBINE_MULTIPLY},
  };
  for (const Case& c : cases)
    for (const int32_t threads : {1, fxtest::kManyThreads}) {
      SCOPED_TRACE(::testing::Message()
                   << c.bpp << " bpp, operation " << c.operation << ", " << threads << " threads");
      const fxtest::ThreadSetting setting(threads);
      TestBitmap dst(7, 200, c.bpp, c.order), src(7, 200, c.bpp, c.order);
      dst.FillNoise(5);
      src.FillNoise(6);
      const Samples before(dst.get()), s(src.get());
      ASSERT_EQ(HostCombineBitmaps(dst.get(), 0, -3, 7, 300, src.get(), 0, 2, c.operation),
                SUCCESS);
      const Samples after(dst.get());
      const uint64_t max = before.bits == 16 ? 65535 : 255;
      for (int32_t y = 0; y < 200; ++y)
        for (int32_t x = 0; x < 7; ++x)
          for (int32_t k = 0; k < before.step; ++k) {
            const uint32_t d = before.at(x, y, k);
            uint32_t expected = d;
            if (y < 195 && k < 3) {
              const uint32_t v = s.at(x, y + 5, k);
              expected = c.operation == HOST_COMBINE_COPY      ? v
                         : c.operation == HOST_COMBINE_LIGHTEN ? std::max(d, v)
                                                               : uint32_t((d * v + max / 2) / max);
            }
            ASSERT_EQ(after.at(x, y, k), expected) << x << "," << y << "," << k;
          }
    }
}

// A copy the way the combine's band was first made: the band's source rows read, then its
// destination rows, the rows copied, the band written; each a call of its own.
int32_t CopyBandByBand(BitmapRecord* dst, BitmapRecord* src, int32_t rows) {
  RowAccess *in = nullptr, *out = nullptr;
  int32_t rc = HostOpenRowAccess(src, &in, 2);
  if (rc == SUCCESS) rc = HostOpenRowAccess(dst, &out, 2);
  if (rc == SUCCESS) rc = HostBeginWrite(out);
  const int32_t bytes = HostRowBytes(in), band = host::BandRows(2 * int64_t{bytes});
  std::vector<uint8_t> a(size_t(band) * bytes), b(size_t(band) * bytes);
  std::vector<uint8_t*> ra(size_t(band), nullptr), rb(size_t(band), nullptr);
  for (int32_t k = 0; k < band; ++k) ra[k] = &a[size_t(k) * bytes], rb[k] = &b[size_t(k) * bytes];
  for (int32_t y0 = 0; y0 < rows && rc == SUCCESS; y0 += band) {
    const int32_t n = std::min(band, rows - y0);
    rc = HostReadRows(in, ra.data(), y0, n);
    if (rc == SUCCESS) rc = HostReadRows(out, rb.data(), y0, n);
    if (rc != SUCCESS) break;
    for (int32_t k = 0; k < n; ++k) std::memcpy(rb[k], ra[k], size_t(bytes));
    rc = HostWriteRows(out, rb.data(), y0, n);
  }
  HostCloseRowAccess(in);
  HostCloseRowAccess(out);
  return rc;
}

// A fill the way it was first made: a band of rows read, painted (with the rows of `painted`),
// written; each a call of its own.
int32_t FillBandByBand(BitmapRecord* dst, const std::vector<std::vector<uint8_t>>& painted) {
  RowAccess* out = nullptr;
  int32_t rc = HostOpenRowAccess(dst, &out, 2);
  if (rc == SUCCESS) rc = HostBeginWrite(out);
  const int32_t bytes = HostRowBytes(out), band = host::BandRows(bytes);
  std::vector<uint8_t> b(size_t(band) * bytes);
  std::vector<uint8_t*> rb(size_t(band), nullptr);
  for (int32_t k = 0; k < band; ++k) rb[k] = &b[size_t(k) * bytes];
  for (int32_t y0 = 0; y0 < dst->Height && rc == SUCCESS; y0 += band) {
    const int32_t n = std::min(band, dst->Height - y0);
    rc = HostReadRows(out, rb.data(), y0, n);
    if (rc != SUCCESS) break;
    for (int32_t k = 0; k < n; ++k) std::memcpy(rb[k], painted[size_t(y0 + k)].data(), bytes);
    rc = HostWriteRows(out, rb.data(), y0, n);
  }
  HostCloseRowAccess(out);
  return rc;
}

// The rows of `bitmap` as read.
std::vector<std::vector<uint8_t>> WorkingRows(BitmapRecord* bitmap) {
  RowAccess* a = nullptr;
  EXPECT_EQ(HostOpenRowAccess(bitmap, &a, 2), SUCCESS);
  std::vector<std::vector<uint8_t>> rows(size_t(bitmap->Height),
                                         std::vector<uint8_t>(size_t(HostRowBytes(a))));
  for (int32_t y = 0; y < bitmap->Height; ++y)
    EXPECT_EQ(HostReadRow(a, rows[size_t(y)].data(), y, 0, nullptr), SUCCESS);
  HostCloseRowAccess(a);
  return rows;
}

TEST_F(HostComposeTest, CombineAndFillFaultsFallAsWithOneCallAStep) {
  // The combine and the fill read, change and write each row on one thread; the n-th row read or
  // write failing must leave the same rows written, with the same code, as the calls one by one.
  constexpr COLORREF kColour = 0x00A05010;
  for (const bool fill : {false, true})
    for (const int32_t bpp : {24, 8})
      for (const int32_t threads : {1, fxtest::kManyThreads})
        for (const bool write : {false, true})
          for (int64_t n = 1; n <= (write || fill ? 201 : 401); ++n) {
            SCOPED_TRACE(::testing::Message()
                         << (fill ? "fill, " : "combine, ") << bpp << " bpp, " << threads
                         << " threads, " << (write ? "write " : "read ") << n);
            const fxtest::ThreadSetting setting(threads);
            const uint32_t order = bpp == 8 ? ORDER_GRAY : ORDER_BGR;
            TestBitmap src(9, 200, bpp, order), dst(9, 200, bpp, order), ref(9, 200, bpp, order);
            src.FillNoise(3);
            dst.FillNoise(4);
            ref.FillNoise(4);
            std::vector<std::vector<uint8_t>> painted;
            if (fill) {
              TestBitmap plain(9, 200, bpp, order);
              ASSERT_EQ(HostFillBitmap(plain.get(), kColour), SUCCESS);
              painted = WorkingRows(plain.get());
            }
            HostFaultPlan plan;
            (write ? plan.failWriteAt : plan.failReadAt) = n;
            HostSetFaultPlan(plan);
            const int32_t expected = fill ? FillBandByBand(ref.get(), painted)
                                          : CopyBandByBand(ref.get(), src.get(), 200);
            const HostFaultCounts one = HostGetFaultCounts();
            HostSetFaultPlan(plan);
            const int32_t got = fill ? HostFillBitmap(dst.get(), kColour)
                                     : HostCombineBitmaps(dst.get(), 0, 0, 9, 200, src.get(), 0, 0,
                                                          HOST_COMBINE_COPY);
            const HostFaultCounts together = HostGetFaultCounts();
            HostSetFaultPlan(HostFaultPlan{});
            ASSERT_EQ(got, expected);
            ASSERT_EQ(together.reads, one.reads);
            ASSERT_EQ(together.writes, one.writes);
            ASSERT_EQ(dst.Stored(), ref.Stored());
          }
}

TEST_F(HostComposeTest, CombineAndFillKeepToTheDestinationRegion) {
  TestBitmap dst(5, 4, 24), src(5, 4, 24);
  src.FillNoise(3);
  std::vector<uint8_t> mask(20, 0);
  mask[1 * 5 + 2] = mask[2 * 5 + 3] = 1;
  ASSERT_EQ(HostSetRegionMask(dst.get(), mask.data(), 5), SUCCESS);
  ASSERT_EQ(HostCombineBitmaps(dst.get(), 0, 0, 5, 4, src.get(), 0, 0, HOST_COMBINE_COPY), SUCCESS);
  Samples d(dst.get()), s(src.get());
  for (int32_t y = 0; y < 4; ++y)
    for (int32_t x = 0; x < 5; ++x)
      EXPECT_EQ(d.at(x, y, 1), mask[size_t(y) * 5 + x] ? s.at(x, y, 1) : 0u) << x << "," << y;
  ASSERT_EQ(HostFillBitmap(dst.get(), 0x00102030), SUCCESS);  // r 0x30, g 0x20, b 0x10
  d.Reload();
  EXPECT_EQ(d.at(2, 1, 0), 0x10u);
  EXPECT_EQ(d.at(2, 1, 2), 0x30u);
  EXPECT_EQ(d.at(0, 0, 0), 0u);
  EXPECT_EQ(HostCombineBitmaps(dst.get(), 0, 0, 5, 4, src.get(), 0, 0, 12345),
            ERROR_HOST_BAD_ARGUMENT);
}

TEST_F(HostComposeTest, FillFollowsTheColourRule) {
  TestBitmap gray(3, 2, 16, ORDER_GRAY), colour(3, 2, 48);
  ASSERT_EQ(HostFillBitmap(gray.get(), 0x00C08040), SUCCESS);
  ASSERT_EQ(HostFillBitmap(colour.get(), 0x00C08040), SUCCESS);
  // Gray (b + 5g + 2r) / 8 of r 0x40, g 0x80, b 0xC0, scaled by 257; colour samples B, G, R.
  EXPECT_EQ(Samples(gray.get()).at(2, 1), (0xC0u + 5 * 0x80u + 2 * 0x40u) / 8 * 257);
  EXPECT_EQ(Samples(colour.get()).at(1, 1, 0), 0xC0u * 257);
  EXPECT_EQ(Samples(colour.get()).at(1, 1, 2), 0x40u * 257);
  // A fourth sample keeps its value.
  for (int32_t bits : {32, 64}) {
    TestBitmap alpha(3, 2, bits);
    alpha.FillNoise(3);
    const auto before = Samples(alpha.get());
    ASSERT_EQ(HostFillBitmap(alpha.get(), 0x00C08040), SUCCESS);
    const auto after = Samples(alpha.get());
    const uint32_t scale = bits == 64 ? 257 : 1;
    for (int32_t y = 0; y < 2; ++y)
      for (int32_t x = 0; x < 3; ++x) {
        EXPECT_EQ(after.at(x, y, 0), 0xC0u * scale);
        EXPECT_EQ(after.at(x, y, 1), 0x80u * scale);
        EXPECT_EQ(after.at(x, y, 3), before.at(x, y, 3)) << bits << " bits " << x << "," << y;
      }
  }
}

}  // namespace
