// Test support implementation.
#include "TestSupport.h"

#include "frame/RowEngine.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <memory>

namespace fxtest {

const std::vector<Depth>& AllDepths() {
  return fxrel::Formats();
}

void TestBitmap::FillSmooth() {
  BitmapRecord* b = get();
  RowAccess* a = nullptr;
  ASSERT_EQ(HostOpenRowAccess(b, &a, 2), SUCCESS);
  ASSERT_EQ(HostBeginWrite(a), SUCCESS);
  const int32_t step = HostPixelStep(a), bits = HostSampleBits(a);
  std::vector<uint8_t> row(HostRowBytes(a) + 64);
  for (int32_t y = 0; y < b->Height; ++y) {
    for (int32_t x = 0; x < b->Width; ++x) {
      for (int32_t k = 0; k < step; ++k) {
        uint32_t v = (k == 0)   ? (x * 255) / std::max(1, b->Width - 1)
                     : (k == 1) ? (y * 255) / std::max(1, b->Height - 1)
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

std::vector<uint8_t> WorkingRows(BitmapRecord* bitmap) {
  return fxrel::ReadWorking(bitmap).rows;
}

std::vector<uint8_t> WorkingRow(BitmapRecord* bitmap, int32_t y) {
  const fxrel::Working w = fxrel::ReadWorking(bitmap);
  if (w.rows.empty() || y < 0 || y >= bitmap->Height) return {};
  const auto row = w.rows.begin() + ptrdiff_t{y} * w.rowBytes;
  return std::vector<uint8_t>(row, row + w.rowBytes);
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

std::string EffectName(const ::testing::TestParamInfo<uint32_t>& info) {
  std::string name = FxEffectAt(info.param)->shortName;
  for (char& ch : name)
    if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
  return name;
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

constexpr int32_t kInjected = -2077;   // a host code no host operation answers by itself
constexpr int32_t kCancelled = -3777;  // the callback's answer, outside every code range

// The kinds of failure in sweep order: the plan field that arms one, the count of operations
// the host made, and the tally. A cancel has neither plan field nor count: reports count it.
struct FaultKind {
  const char* name;
  int64_t HostFaultPlan::*arm;
  int64_t HostFaultCounts::*made;
  int64_t SweepStats::*tally;
};
constexpr FaultKind kKinds[] = {
    {"alloc", &HostFaultPlan::failAllocAt, &HostFaultCounts::allocs, &SweepStats::allocs},
    {"read", &HostFaultPlan::failReadAt, &HostFaultCounts::reads, &SweepStats::reads},
    {"write", &HostFaultPlan::failWriteAt, &HostFaultCounts::writes, &SweepStats::writes},
    {"begin", &HostFaultPlan::failBeginAt, &HostFaultCounts::begins, &SweepStats::begins},
    {"open", &HostFaultPlan::failOpenAt, &HostFaultCounts::opens, &SweepStats::opens},
    {"cancel", nullptr, nullptr, &SweepStats::cancels},
};

// FNV-1a over bytes, continuing from `h`.
uint64_t Mix(uint64_t h, const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

// Counts status reports and hashes their values; answers kCancelled at report `cancelAt`
// (never when 0).
struct ReportCounter {
  int64_t reports = 0, cancelAt = 0, afterCancel = 0;
  uint64_t percents = 1469598103934665603ull;
  static int32_t Callback(int32_t percent, void* userData) {
    auto* self = static_cast<ReportCounter*>(userData);
    ++self->reports;
    self->percents = Mix(self->percents, &percent, sizeof(percent));
    if (self->cancelAt > 0 && self->reports > self->cancelAt) ++self->afterCancel;
    return self->cancelAt > 0 && self->reports >= self->cancelAt ? kCancelled : SUCCESS;
  }
};

// A call made ready for one sweep step: the bitmap and every argument exist before `run`, so
// the fault plan counts only the operations of the code under test.
struct Prepared {
  std::unique_ptr<fxrel::Bitmap> bitmap;
  std::function<int32_t(BitmapRecord*)> run;
};

SweepStats Sweep(const std::function<Prepared()>& prepare, const FxEffectDesc* effect,
                 const std::string& label) {
  SweepStats stats;
  const uint32_t traits = effect->traits;
  const bool untouchedBeforeWrite = !(traits & (FX_TRAIT_WHOLE_IMAGE | FX_TRAIT_RESIZES));
  for (const FaultKind& kind : kKinds) {
    const bool alloc = kind.arm == &HostFaultPlan::failAllocAt, cancel = !kind.arm;
    for (int64_t n = 1;; ++n) {
      Prepared call = prepare();
      BitmapRecord* bitmap = call.bitmap->get();
      const fxrel::Snapshot before = fxrel::Take(bitmap);
      ReportCounter counter;
      counter.cancelAt = cancel ? n : 0;
      HostExchangeCallback(&ReportCounter::Callback, &counter, nullptr, nullptr);
      fxrel::CallContext context{effect,   0,   HostLiveBlocks(), &ReportCounter::Callback,
                                 &counter, true};
      HostFaultPlan plan;
      plan.code = kInjected;
      if (!cancel) plan.*kind.arm = n;
      HostSetFaultPlan(plan);
      const int32_t rc = context.rc = call.run(bitmap);
      const HostFaultCounts counts = HostGetFaultCounts();
      HostSetFaultPlan(HostFaultPlan{});
      const std::string where = label + " " + kind.name + " #" + std::to_string(n);
      EXPECT_EQ(fxrel::CheckCall(context, before, bitmap), "") << where;
      HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
      const std::vector<uint8_t> stored = fxrel::StoredBytes(bitmap);
      stats.trace.push_back(Mix(Mix(counter.percents, &rc, sizeof(rc)), stored.data(), stored.size()));
      if (kind.arm == &HostFaultPlan::failReadAt || kind.arm == &HostFaultPlan::failWriteAt) {
        // The same failure without a status callback, where nothing can stop the writes between
        // rows and the threads may write the rows they computed: the same code and pixels.
        Prepared quiet = prepare();
        BitmapRecord* quietBitmap = quiet.bitmap->get();
        const fxrel::Snapshot quietBefore = fxrel::Take(quietBitmap);
        fxrel::CallContext quietContext{effect, 0, HostLiveBlocks(), nullptr, nullptr, true};
        HostSetFaultPlan(plan);
        quietContext.rc = quiet.run(quietBitmap);
        const HostFaultCounts quietCounts = HostGetFaultCounts();
        HostSetFaultPlan(HostFaultPlan{});
        EXPECT_EQ(fxrel::CheckCall(quietContext, quietBefore, quietBitmap), "") << where;
        EXPECT_EQ(quietContext.rc, rc) << where << " without a status callback";
        EXPECT_TRUE(quietCounts.allocs == counts.allocs && quietCounts.reads == counts.reads &&
                    quietCounts.writes == counts.writes)
            << where << ": other operations counted without a status callback";
        EXPECT_TRUE(fxrel::StoredBytes(quietBitmap) == stored)
            << where << ": other pixels without a status callback";
      }

      if ((cancel ? counter.reports : counts.*kind.made) < n) {
        // Fewer than n such operations: the call ran unhindered and must succeed.
        EXPECT_EQ(rc, SUCCESS) << where << ": the unhindered call failed";
        // Without progress of its own, an effect reports only as its rows are written.
        EXPECT_TRUE((traits & FX_TRAIT_PROGRESS) || counter.reports <= counts.writes)
            << label << ": reports progress besides its row writes without FX_TRAIT_PROGRESS";
        break;
      }
      const int32_t expected = alloc ? ERROR_NO_MEMORY : cancel ? kCancelled : kInjected;
      if (counts.hitWhilePaused && (traits & FX_TRAIT_WHOLE_IMAGE)) {
        // A whole-image host operation failed inside the effect, which may leave its result
        // unexamined and go on to answer what follows.
        EXPECT_TRUE(rc == expected || fxrel::IsKnownCode(rc)) << where << ": answered " << rc;
      } else if (traits & FX_TRAIT_FAILURE_AS_NO_MEMORY) {
        EXPECT_TRUE(rc == expected || rc == ERROR_NO_MEMORY) << where << ": answered " << rc;
      } else {
        EXPECT_EQ(rc, expected) << where;
      }
      EXPECT_EQ(counter.afterCancel, 0) << where << ": reports went on after the cancel";
      const int64_t writesBefore = counts.writes - (kind.arm == &HostFaultPlan::failWriteAt);
      if (writesBefore == 0 && untouchedBeforeWrite) {
        EXPECT_EQ(fxrel::StoredBytes(bitmap), before.stored) << where << ": pixels changed";
      }
      ++stats.points;
      ++(stats.*kind.tally);
      if (::testing::Test::HasFailure()) return stats;
    }
    if (::testing::Test::HasFailure()) return stats;
  }
  return stats;
}

}  // namespace

ThreadSetting::ThreadSetting(int32_t threads) : minPixels_(fx::ParallelMinPixels()) {
  HostSetThreadCount(threads);
  fx::SetParallelMinPixels(0);
}

ThreadSetting::~ThreadSetting() {
  HostSetThreadCount(0);
  fx::SetParallelMinPixels(minPixels_);
}

SweepStats& SweepStats::operator+=(const SweepStats& other) {
  points += other.points;
  trace.insert(trace.end(), other.trace.begin(), other.trace.end());
  for (const FaultKind& kind : kKinds) this->*kind.tally += other.*kind.tally;
  return *this;
}

std::string SweepStats::Summary() const {
  std::string out = std::to_string(points) + " fault points";
  const char* separator = " (";
  for (const FaultKind& kind : kKinds) {
    out += separator + std::string(kind.name) + " " + std::to_string(this->*kind.tally);
    separator = ", ";
  }
  return out + ")";
}

SweepStats SweepFaults(const FxEffectDesc* effect, const fxrel::Scene& scene,
                       const std::vector<FxNamedValue>& values) {
  const auto prepare = [&] {
    Prepared p{std::make_unique<fxrel::Bitmap>(), nullptr};
    EXPECT_EQ(fxrel::MakeScene(*p.bitmap, scene), SUCCESS);
    if (!values.empty()) {
      p.run = [&](BitmapRecord* b) {
        fxrel::PrepareRun(effect, 0);  // every step draws the same random numbers
        return FxInvoke(effect, b, values.data(), static_cast<uint32_t>(values.size()));
      };
      return p;
    }
    auto call = std::make_shared<fxrel::EffectCall>(effect);
    call->Resolve(p.bitmap->get());
    p.run = [call](BitmapRecord* b) { return call->Invoke(b); };
    return p;
  };
  return Sweep(prepare, effect, std::string(effect->shortName) + " " + fxrel::Describe(scene));
}

}  // namespace fxtest
