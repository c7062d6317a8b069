// Test support implementation.
#include "TestSupport.h"

#include <cstring>

namespace fxtest {

const std::vector<Depth>& AllDepths() {
  static const std::vector<Depth> depths = {
      {1, ORDER_BGR, "pal1"},   {4, ORDER_BGR, "pal4"},   {8, ORDER_BGR, "pal8"},
      {8, ORDER_GRAY, "gray8"}, {12, ORDER_GRAY, "gray12"}, {16, ORDER_GRAY, "gray16"},
      {24, ORDER_BGR, "bgr24"}, {24, ORDER_RGB, "rgb24"}, {32, ORDER_BGR, "bgr32"},
      {32, ORDER_RGB, "rgb32"}, {48, ORDER_BGR, "bgr48"}, {48, ORDER_RGB, "rgb48"},
      {64, ORDER_BGR, "bgr64"}, {64, ORDER_RGB, "rgb64"},
  };
  return depths;
}

TestBitmap::TestBitmap(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t order,
                       uint8_t orientation) {
  // A palette with distinct, well-spread colours makes nearest-entry write-back lossless.
  COLORREF palette[256];
  for (uint32_t i = 0; i < 256; ++i)
    palette[i] = ((i * 37) & 0xFF) | ((i * 91 + 17) & 0xFF) << 8 | ((i * 53 + 101) & 0xFF) << 16;
  created_ = HostCreateBitmap(&record_, BITMAP_STRUCT_SIZE, 1, width, height, bitsPerPixel, order,
                              palette, orientation, nullptr, 0);
}

TestBitmap::~TestBitmap() { HostFreeBitmap(&record_); }

void TestBitmap::FillNoise(uint32_t seed) {
  uint32_t state = seed * 2654435761u + 1;
  const uint32_t paletteMask = record_.PaletteCount ? record_.PaletteCount - 1 : 0;
  for (int32_t y = 0; y < record_.StoredHeight; ++y) {
    uint8_t* row = record_.Data + int64_t{y} * record_.BytesPerLine;
    int64_t bytes = (int64_t{record_.StoredWidth} * (record_.BitsPerPixel == 12 ? 16 : record_.BitsPerPixel) + 7) / 8;
    for (int64_t i = 0; i < bytes; ++i) {
      state = state * 1664525u + 1013904223u;
      uint8_t v = static_cast<uint8_t>(state >> 24);
      if (record_.BitsPerPixel == 8 && record_.Order != ORDER_GRAY) v &= paletteMask;
      row[i] = v;
    }
    if (record_.BitsPerPixel == 12)
      for (int32_t x = 0; x < record_.StoredWidth; ++x) row[2 * x + 1] &= 0x0F;
  }
}

void TestBitmap::FillSmooth() {
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(&record_, &a, 2), SUCCESS);
  ASSERT_EQ(HostBeginWrite(a), SUCCESS);
  const int32_t step = HostPixelStep(a), bits = HostSampleBits(a);
  std::vector<uint8_t> row(HostRowBytes(a) + 64);
  for (int32_t y = 0; y < record_.Height; ++y) {
    for (int32_t x = 0; x < record_.Width; ++x) {
      for (int32_t k = 0; k < step; ++k) {
        uint32_t v = (k == 0)   ? (x * 255) / std::max(1, record_.Width - 1)
                     : (k == 1) ? (y * 255) / std::max(1, record_.Height - 1)
                     : (k == 2) ? (((x / 4) + (y / 4)) % 2 ? 200 : 40)
                                : 255;
        if (step == 1) v = ((x * 7 + y * 3) % 256 + ((x / 5) % 2) * 60) % 256;
        if (bits == 16)
          reinterpret_cast<uint16_t*>(row.data())[x * step + k] = static_cast<uint16_t>(v * 257 + (x % 3));
        else
          row[x * step + k] = static_cast<uint8_t>(v);
      }
    }
    ASSERT_EQ(HostWriteRow(a, row.data(), y, 0, 0), SUCCESS);
  }
  HostCloseRowAccess(a);
}

std::vector<uint8_t> TestBitmap::Stored() const {
  int64_t bytes = (int64_t{record_.StoredWidth} * (record_.BitsPerPixel == 12 ? 16 : record_.BitsPerPixel) + 7) / 8;
  std::vector<uint8_t> out;
  for (int32_t y = 0; y < record_.StoredHeight; ++y) {
    const uint8_t* row = record_.Data + int64_t{y} * record_.BytesPerLine;
    out.insert(out.end(), row, row + bytes);
  }
  return out;
}

std::vector<uint8_t> WorkingRows(BitmapRecord* bitmap) {
  RowAccess* a = nullptr;
  std::vector<uint8_t> out;
  if (HostOpenRowAccess(bitmap, &a, 2) != SUCCESS) return out;
  const int32_t bytes = HostRowBytes(a);
  out.resize(size_t(bytes) * bitmap->Height);
  for (int32_t y = 0; y < bitmap->Height; ++y)
    EXPECT_EQ(HostReadRow(a, out.data() + size_t(y) * bytes, y, 0, nullptr), SUCCESS);
  HostCloseRowAccess(a);
  return out;
}

std::vector<uint8_t> WorkingRow(BitmapRecord* bitmap, int32_t y) {
  RowAccess* a = nullptr;
  std::vector<uint8_t> out;
  if (HostOpenRowAccess(bitmap, &a, 2) != SUCCESS) return out;
  out.resize(HostRowBytes(a));
  EXPECT_EQ(HostReadRow(a, out.data(), y, 0, nullptr), SUCCESS);
  HostCloseRowAccess(a);
  return out;
}

void WriteWorkingRows(BitmapRecord* bitmap, const std::vector<uint8_t>& rows) {
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(bitmap, &a, 2), SUCCESS);
  ASSERT_EQ(HostBeginWrite(a), SUCCESS);
  const int32_t bytes = HostRowBytes(a);
  ASSERT_EQ(rows.size(), size_t(bytes) * bitmap->Height);
  for (int32_t y = 0; y < bitmap->Height; ++y)
    EXPECT_EQ(HostWriteRow(a, rows.data() + size_t(y) * bytes, y, 0, 0), SUCCESS);
  HostCloseRowAccess(a);
}

uint32_t SampleAt(const std::vector<uint8_t>& rows, int32_t rowBytes, int32_t sampleBits,
                  int32_t pixelStep, int32_t x, int32_t y, int32_t k) {
  const uint8_t* row = rows.data() + size_t(y) * rowBytes;
  if (sampleBits == 16) {
    uint16_t v;
    std::memcpy(&v, row + 2 * (size_t(x) * pixelStep + k), 2);
    return v;
  }
  return row[size_t(x) * pixelStep + k];
}

void HostFixture::SetUp() {
  HostSetFaultPlan(HostFaultPlan{});
  HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
  HostSeedRandom(1);
  baselineBlocks_ = HostLiveBlocks();
}

void HostFixture::TearDown() {
  HostSetFaultPlan(HostFaultPlan{});
  HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(HostLiveBlocks(), baselineBlocks_) << "host blocks leaked";
}

namespace {

enum class FaultKind { Alloc, Read, Write, Begin, Open };

int64_t CountOf(const HostFaultCounts& c, FaultKind kind) {
  switch (kind) {
    case FaultKind::Alloc: return c.allocs;
    case FaultKind::Read: return c.reads;
    case FaultKind::Write: return c.writes;
    case FaultKind::Begin: return c.begins;
    case FaultKind::Open: return c.opens;
  }
  return 0;
}

const char* NameOf(FaultKind kind) {
  switch (kind) {
    case FaultKind::Alloc: return "alloc";
    case FaultKind::Read: return "read";
    case FaultKind::Write: return "write";
    case FaultKind::Begin: return "begin";
    case FaultKind::Open: return "open";
  }
  return "?";
}

}  // namespace

SweepStats SweepFaults(const std::function<std::unique_ptr<TestBitmap>()>& make,
                       const std::function<int32_t(BitmapRecord*)>& call,
                       const std::string& label, int32_t rowFailureCode) {
  SweepStats stats;
  constexpr int32_t kInjected = -2077;
  for (FaultKind kind :
       {FaultKind::Alloc, FaultKind::Read, FaultKind::Write, FaultKind::Begin, FaultKind::Open}) {
    for (int64_t n = 1; n < 200000; ++n) {
      auto bitmap = make();
      const std::vector<uint8_t> before = bitmap->Stored();
      const uint8_t orientation = (*bitmap)->Orientation;
      const int64_t blocks = HostLiveBlocks();
      HostFaultPlan plan;
      plan.code = kInjected;
      switch (kind) {
        case FaultKind::Alloc: plan.failAllocAt = n; break;
        case FaultKind::Read: plan.failReadAt = n; break;
        case FaultKind::Write: plan.failWriteAt = n; break;
        case FaultKind::Begin: plan.failBeginAt = n; break;
        case FaultKind::Open: plan.failOpenAt = n; break;
      }
      HostSetFaultPlan(plan);
      const int32_t rc = call(bitmap->get());
      const HostFaultCounts counts = HostGetFaultCounts();
      HostSetFaultPlan(HostFaultPlan{});
      const std::string where = label + " " + NameOf(kind) + " #" + std::to_string(n);
      EXPECT_EQ(HostLiveBlocks(), blocks) << where;
      EXPECT_EQ((*bitmap)->Orientation, orientation) << where;
      if (CountOf(counts, kind) < n) {
        EXPECT_EQ(rc, SUCCESS) << where << ": the unhindered call failed";
        break;
      }
      ++stats.points;
      int32_t expected = kInjected;
      if (kind == FaultKind::Alloc)
        expected = ERROR_NO_MEMORY;
      else if (kind != FaultKind::Open && rowFailureCode != 0)
        expected = rowFailureCode;
      EXPECT_EQ(rc, expected) << where;
      const int64_t writesBefore = counts.writes - (kind == FaultKind::Write ? 1 : 0);
      if (writesBefore == 0) {
        EXPECT_EQ(bitmap->Stored(), before) << where << ": pixels changed";
      }
      if (::testing::Test::HasFailure()) return stats;
    }
  }
  return stats;
}

}  // namespace fxtest
