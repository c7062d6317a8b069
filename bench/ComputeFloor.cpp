// The computing floor of the row engine: 1080 rows of pure arithmetic (each a few passes over a
// row of 1920 pixels held in the core's own cache), handed out by host::ParallelFor as an
// effect's rows are, with no picture memory touched. Its speed-up from one thread to all cores
// is what the machine gives parallel work at that moment: on a shared virtual machine the
// second core's share of its physical core varies from run to run, and an effect's speed-up
// cannot be read more finely than this floor's spread.
//
// "floor/compute" hands the rows out in one job; "floor/compute-banded" in 52 jobs of 21 rows,
// as many hand-outs as impressionist makes (17 bands of three), so the difference between the
// two is what the hand-outs themselves cost.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fxkit/fxkit.h"
#include "host/RowEngine.h"

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080, kPasses = 2;

void ComputeFloor(benchmark::State& state, int32_t bitsPerPixel, int32_t threads,
                  int32_t rowsPerJob) {
  const size_t samples = size_t{kWidth} * 3 * size_t(bitsPerPixel / 24);
  std::vector<uint32_t> results(size_t{kHeight});
  const auto row = [&](int32_t y) {
    // A row of its own on every thread, in its cache after the first row.
    thread_local uint16_t a[kWidth * 6], b[kWidth * 6];
    for (size_t i = 0; i < samples; ++i) a[i] = uint16_t(i * 7 + size_t(y)), b[i] = uint16_t(i * 3);
    for (int32_t pass = 0; pass < kPasses; ++pass)
      for (size_t i = 0; i < samples; ++i) b[i] = uint16_t((b[i] > a[i] ? b[i] : a[i]) + a[i]);
    results[size_t(y)] = b[size_t(y) % samples];
  };
  HostSetThreadCount(threads);
  for (auto _ : state) {
    for (int32_t y0 = 0; y0 < kHeight; y0 += rowsPerJob)
      host::ParallelFor(std::min(rowsPerJob, kHeight - y0), kWidth,
                        [&](int32_t k) { row(y0 + k); });
    benchmark::DoNotOptimize(results.data());
  }
  HostSetThreadCount(0);
  state.counters["Mpix"] = benchmark::Counter(double(kWidth) * kHeight / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

// Named like the effects' benchmarks: "floor/compute/24/t1", "floor/compute-banded/48/t2" (48
// bits work through twice the samples).
[[maybe_unused]] const bool kRegistered = [] {
  const int32_t cores = HostGetThreadCount();
  for (const auto& [floor, rowsPerJob] :
       {std::pair{"compute", kHeight}, std::pair{"compute-banded", 21}})
    for (int32_t bits : {24, 48})
      for (int32_t threads : {1, cores}) {
        const std::string name = std::string("floor/") + floor + "/" + std::to_string(bits) + "/t" +
                                 std::to_string(threads);
        benchmark::RegisterBenchmark(name.c_str(), ComputeFloor, bits, threads, rowsPerJob)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        if (cores == 1) break;
      }
  return true;
}();

}  // namespace
