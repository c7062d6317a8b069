// Test support implementation.
#include "TestSupport.h"

#include <algorithm>
#include <cstring>

namespace fxtest {

const std::vector<Depth>& AllDepths() {
  static const std::vector<Depth> depths = [] {
    std::vector<Depth> out;
    for (const fxrel::Format& f : fxrel::Formats())
      out.push_back({f.bitsPerPixel, f.order, f.name});
    return out;
  }();
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

TestBitmap::~TestBitmap() {
  HostFreeBitmap(&record_);
}

void TestBitmap::FillNoise(uint32_t seed) {
  fxrel::FillNoise(&record_, seed);
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
          reinterpret_cast<uint16_t*>(row.data())[x * step + k] =
              static_cast<uint16_t>(v * 257 + (x % 3));
        else
          row[x * step + k] = static_cast<uint8_t>(v);
      }
    }
    ASSERT_EQ(HostWriteRow(a, row.data(), y, 0, 0), SUCCESS);
  }
  HostCloseRowAccess(a);
}

std::vector<uint8_t> TestBitmap::Stored() const {
  return fxrel::StoredBytes(&record_);
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

enum class FaultKind { Alloc, Read, Write, Begin, Open, Cancel };

int64_t CountOf(const HostFaultCounts& c, FaultKind kind) {
  switch (kind) {
    case FaultKind::Alloc:
      return c.allocs;
    case FaultKind::Read:
      return c.reads;
    case FaultKind::Write:
      return c.writes;
    case FaultKind::Begin:
      return c.begins;
    case FaultKind::Open:
      return c.opens;
    case FaultKind::Cancel:
      return 0;
  }
  return 0;
}

const char* NameOf(FaultKind kind) {
  switch (kind) {
    case FaultKind::Alloc:
      return "alloc";
    case FaultKind::Read:
      return "read";
    case FaultKind::Write:
      return "write";
    case FaultKind::Begin:
      return "begin";
    case FaultKind::Open:
      return "open";
    case FaultKind::Cancel:
      return "cancel";
  }
  return "?";
}

constexpr int32_t kInjected = -2077;   // a host code no host operation answers by itself
constexpr int32_t kCancelled = -3777;  // the callback's answer, outside every code range

// Counts status reports; answers kCancelled at report `cancelAt` (never when 0).
struct ReportCounter {
  int64_t reports = 0;
  int64_t cancelAt = 0;
  int64_t afterCancel = 0;
  static int32_t Callback(int32_t /*percent*/, void* userData) {
    auto* self = static_cast<ReportCounter*>(userData);
    ++self->reports;
    if (self->cancelAt > 0 && self->reports > self->cancelAt) ++self->afterCancel;
    return self->cancelAt > 0 && self->reports >= self->cancelAt ? kCancelled : SUCCESS;
  }
};

// 1 .. total, or at most `cap` of them: the first half, the last quarter and evenly spaced
// points between.
std::vector<int64_t> PointsOf(int64_t total, int64_t cap) {
  std::vector<int64_t> points;
  if (cap <= 0 || total <= cap) {
    for (int64_t n = 1; n <= total; ++n) points.push_back(n);
    return points;
  }
  const int64_t head = cap / 2, tail = cap / 4, middle = cap - head - tail;
  for (int64_t n = 1; n <= head; ++n) points.push_back(n);
  for (int64_t i = 1; i <= middle; ++i)
    points.push_back(head + (total - tail - head) * i / (middle + 1));
  for (int64_t n = total - tail + 1; n <= total; ++n) points.push_back(n);
  points.erase(std::unique(points.begin(), points.end()), points.end());
  return points;
}

// A TestBitmap with the call the old interface gives.
class LegacyCall : public PreparedCall {
 public:
  LegacyCall(std::unique_ptr<TestBitmap> bitmap, const std::function<int32_t(BitmapRecord*)>& call)
      : bitmap_(std::move(bitmap)), call_(call) {}
  BitmapRecord* bitmap() override { return bitmap_->get(); }
  int32_t Run() override { return call_(bitmap_->get()); }

 private:
  std::unique_ptr<TestBitmap> bitmap_;
  const std::function<int32_t(BitmapRecord*)>& call_;
};

}  // namespace

SweepStats SweepFaults(const std::function<std::unique_ptr<PreparedCall>()>& prepare,
                       const SweepOptions& options, const std::string& label) {
  SweepStats stats;
  const uint32_t traits = options.effect ? options.effect->traits : 0;
  const bool untouchedBeforeWrite = !(traits & (FX_TRAIT_WHOLE_IMAGE | FX_TRAIT_RESIZES));

  // The unhindered call: how many operations of each kind and reports there are to fail.
  HostFaultCounts total;
  ReportCounter dry;
  {
    auto call = prepare();
    HostExchangeCallback(&ReportCounter::Callback, &dry, nullptr, nullptr);
    HostSetFaultPlan(HostFaultPlan{});
    const int32_t rc = call->Run();
    total = HostGetFaultCounts();
    HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
    if (rc != SUCCESS) {
      ADD_FAILURE() << label << ": the unhindered call answered " << rc;
      return stats;
    }
    // Without progress of its own, an effect reports only as its rows are written.
    if (options.effect && !(traits & FX_TRAIT_PROGRESS)) {
      EXPECT_LE(dry.reports, total.writes)
          << label << ": reports progress besides its row writes without FX_TRAIT_PROGRESS";
    }
  }

  for (FaultKind kind : {FaultKind::Alloc, FaultKind::Read, FaultKind::Write, FaultKind::Begin,
                         FaultKind::Open, FaultKind::Cancel}) {
    if (kind == FaultKind::Cancel && !options.cancel) break;
    const int64_t available = kind == FaultKind::Cancel ? dry.reports : CountOf(total, kind);
    for (int64_t n : PointsOf(available, options.maxPointsPerKind)) {
      auto call = prepare();
      BitmapRecord* bitmap = call->bitmap();
      const fxrel::Snapshot before = fxrel::Take(bitmap);
      ReportCounter counter;
      counter.cancelAt = kind == FaultKind::Cancel ? n : 0;
      HostExchangeCallback(&ReportCounter::Callback, &counter, nullptr, nullptr);
      const int64_t blocks = HostLiveBlocks();
      HostFaultPlan plan;
      plan.code = kInjected;
      switch (kind) {
        case FaultKind::Alloc:
          plan.failAllocAt = n;
          break;
        case FaultKind::Read:
          plan.failReadAt = n;
          break;
        case FaultKind::Write:
          plan.failWriteAt = n;
          break;
        case FaultKind::Begin:
          plan.failBeginAt = n;
          break;
        case FaultKind::Open:
          plan.failOpenAt = n;
          break;
        case FaultKind::Cancel:
          break;
      }
      HostSetFaultPlan(plan);
      const int32_t rc = call->Run();
      const HostFaultCounts counts = HostGetFaultCounts();
      HostSetFaultPlan(HostFaultPlan{});
      const std::string where = label + " " + NameOf(kind) + " #" + std::to_string(n);

      int32_t expected = kind == FaultKind::Alloc    ? ERROR_NO_MEMORY
                         : kind == FaultKind::Cancel ? kCancelled
                                                     : kInjected;
      if (options.rowFailureCode && kind != FaultKind::Alloc && kind != FaultKind::Open)
        expected = options.rowFailureCode;
      if (counts.hitWhilePaused && (traits & FX_TRAIT_WHOLE_IMAGE)) {
        // A whole-image host operation failed inside the effect, which may leave its result
        // unexamined and go on to answer what follows.
        EXPECT_TRUE(rc == expected || fxrel::IsKnownCode(rc)) << where << ": answered " << rc;
      } else if (traits & FX_TRAIT_FAILURE_AS_NO_MEMORY) {
        EXPECT_TRUE(rc == expected || rc == ERROR_NO_MEMORY) << where << ": answered " << rc;
      } else {
        EXPECT_EQ(rc, expected) << where;
      }
      if (kind == FaultKind::Cancel) {
        EXPECT_GE(counter.reports, n) << where << ": fewer reports than the unhindered call";
        EXPECT_EQ(counter.afterCancel, 0) << where << ": reports went on after the cancel";
      } else {
        EXPECT_GE(CountOf(counts, kind), n)
            << where << ": fewer operations than the unhindered call";
      }
      if (options.effect) {
        fxrel::CallContext context;
        context.effect = options.effect;
        context.rc = rc;
        context.blocksBefore = blocks;
        context.callback = &ReportCounter::Callback;
        context.userData = &counter;
        context.extraCodesAllowed = true;
        EXPECT_EQ(fxrel::CheckCall(context, before, bitmap), "") << where;
      } else {
        EXPECT_EQ(HostLiveBlocks() - fxrel::OwnedBlocks(bitmap), blocks - before.ownedBlocks)
            << where << ": host blocks leaked";
        EXPECT_EQ(bitmap->Orientation, before.orientation) << where;
        FxStatusCallback callback = nullptr;
        HostExchangeCallback(&ReportCounter::Callback, &counter, &callback, nullptr);
        EXPECT_EQ(callback, &ReportCounter::Callback) << where << ": callback not restored";
      }
      HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
      const int64_t writesBefore = counts.writes - (kind == FaultKind::Write ? 1 : 0);
      if (writesBefore == 0 && untouchedBeforeWrite) {
        EXPECT_EQ(fxrel::StoredBytes(bitmap), before.stored) << where << ": pixels changed";
      }
      ++stats.points;
      switch (kind) {
        case FaultKind::Alloc:
          ++stats.allocs;
          break;
        case FaultKind::Read:
          ++stats.reads;
          break;
        case FaultKind::Write:
          ++stats.writes;
          break;
        case FaultKind::Begin:
          ++stats.begins;
          break;
        case FaultKind::Open:
          ++stats.opens;
          break;
        case FaultKind::Cancel:
          ++stats.cancels;
          break;
      }
      if (::testing::Test::HasFailure()) return stats;
    }
  }
  return stats;
}

SweepStats SweepFaults(const std::function<std::unique_ptr<TestBitmap>()>& make,
                       const std::function<int32_t(BitmapRecord*)>& call, const std::string& label,
                       int32_t rowFailureCode) {
  SweepOptions options;
  options.rowFailureCode = rowFailureCode;
  return SweepFaults(
      [&]() -> std::unique_ptr<PreparedCall> { return std::make_unique<LegacyCall>(make(), call); },
      options, label);
}

}  // namespace fxtest
