// Different bitmaps processed on several threads at once, each call itself spreading its rows
// over several workers of the shared pool, give exactly the pixels, codes and progress reports of
// serial runs on one thread: the generator, the status callback and the fault plan are per
// thread, and the effects keep no state of their own.
#include <cstdio>
#include <thread>

#include "TestSupport.h"

namespace {

struct Job {
  const FxEffectDesc* effect;
  fxrel::Scene scene;
};

struct Result {
  int32_t rc = 0, width = 0, height = 0;
  std::vector<uint8_t> pixels;
  std::vector<int32_t> reports;
  bool operator==(const Result&) const = default;
};

int32_t Record(int32_t percent, void* userData) {
  static_cast<std::vector<int32_t>*>(userData)->push_back(percent);
  return SUCCESS;
}

// Without the status callback (watched false) nothing can stop the writes between rows, and the
// threads that compute rows may write them too; no reports are recorded then.
Result RunJob(const Job& job, bool watched = true) {
  Result r;
  fxrel::Bitmap bitmap;
  if (fxrel::MakeScene(bitmap, job.scene) != SUCCESS) return r;
  fxrel::EffectCall call(job.effect);
  call.Resolve(bitmap.get());
  if (watched) HostExchangeCallback(&Record, &r.reports, nullptr, nullptr);
  r.rc = call.Invoke(bitmap.get());
  HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
  r.pixels = fxrel::StoredBytes(bitmap.get());
  r.width = bitmap->Width;
  r.height = bitmap->Height;
  return r;
}

class ReliabilityThreadTest : public fxtest::HostFixture {};

TEST_F(ReliabilityThreadTest, ParallelRunsMatchSerialRuns) {
  const char* const formats[] = {"bgr24", "gray16", "rgb32", "pal8", "bgr48", "gray12"};
  std::vector<Job> jobs;
  for (uint32_t e = 0; e < FxEffectCount(); ++e)
    for (uint32_t f = 0; f < std::size(formats); ++f)
      jobs.push_back({FxEffectAt(e),
                      {fxrel::FormatNamed(formats[f]), 16, 12, uint8_t(f % 2 ? 6 : 1),
                       static_cast<fxrel::RegionKind>(f % 3), 1000 + e * 10 + f}});

  std::vector<Result> serial;
  {
    fxtest::ThreadSetting one(1);
    for (const Job& job : jobs) serial.push_back(RunJob(job));
  }

  // Every thread runs every job, starting at a different one, so that different effects and
  // formats overlap in time; odd threads run them without the status callback.
  constexpr size_t kThreads = 4;
  std::vector<std::vector<Result>> parallel(kThreads, std::vector<Result>(jobs.size()));
  std::vector<std::thread> threads;
  for (size_t t = 0; t < kThreads; ++t)
    threads.emplace_back([&, t] {
      fxtest::ThreadSetting many(fxtest::kManyThreads);
      for (size_t k = 0; k < jobs.size(); ++k) {
        const size_t j = (k + t * jobs.size() / kThreads) % jobs.size();
        parallel[t][j] = RunJob(jobs[j], t % 2 == 0);
      }
    });
  for (auto& thread : threads) thread.join();

  for (size_t j = 0; j < jobs.size(); ++j) {
    const std::string where =
        std::string(jobs[j].effect->shortName) + " " + fxrel::Describe(jobs[j].scene);
    EXPECT_EQ(serial[j].rc, SUCCESS) << where;
    for (size_t t = 0; t < kThreads; ++t) {
      if (t % 2) parallel[t][j].reports = serial[j].reports;
      EXPECT_TRUE(parallel[t][j] == serial[j])
          << where << " on thread " << t << ": other code, size, pixels or progress reports";
    }
  }
  std::printf("[ stats    ] %zu jobs on %zu threads, %zu effects\n", jobs.size(), kThreads,
              size_t{FxEffectCount()});
}

}  // namespace
