// The memory floor of an effect that rewrites a picture in place: every row of a 1920x1080
// picture read through the row access and written back, with no work in between, in the bands
// the host splits among the threads. An effect cannot move its pixels for less; the floor's own
// speed-up from one thread to all cores is what the machine's memory allows an effect whose time
// is mostly moving pixels.
//
// "floor/copy" keeps one row store, so the picture and the store (12 MB at 24 bits) stay in a
// large last-level cache. "floor/copy-uncached" reads into one of six stores in turn, so every
// pass misses the cache as an effect does whose pixels go through several picture-sized buffers
// (a working copy, a row cache, the output rows): its speed-up is what the machine's memory
// itself allows.
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "fxkit/fxkit.h"
#include "host/Host.h"

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080;

void CopyFloor(benchmark::State& state, int32_t bitsPerPixel, int32_t threads, int32_t stores) {
  BitmapRecord bitmap{};
  if (HostCreateBitmap(&bitmap, 272, 1, kWidth, kHeight, bitsPerPixel, ORDER_BGR, nullptr, 1,
                       nullptr, 0) != SUCCESS) {
    state.SkipWithError("cannot create the bitmap");
    return;
  }
  RowAccess* access = nullptr;
  if (HostOpenRowAccess(&bitmap, &access, 2) != SUCCESS) {
    HostFreeBitmap(&bitmap);
    state.SkipWithError("cannot open the rows");
    return;
  }
  const size_t rowBytes = static_cast<size_t>(HostRowBytes(access));
  std::vector<uint8_t> storage(rowBytes * kHeight * size_t(stores));
  std::vector<std::vector<uint8_t*>> rowSets(size_t(stores), std::vector<uint8_t*>(size_t{kHeight}));
  for (int32_t s = 0; s < stores; ++s)
    for (int32_t y = 0; y < kHeight; ++y)
      rowSets[s][y] = storage.data() + rowBytes * (size_t(s) * kHeight + size_t(y));
  HostCloseRowAccess(access);

  int32_t rc = SUCCESS;
  HostSetThreadCount(threads);
  size_t pass = 0;
  for (auto _ : state) {
    const std::vector<uint8_t*>& rows = rowSets[pass++ % rowSets.size()];
    rc = HostOpenRowAccess(&bitmap, &access, 2);
    if (rc != SUCCESS) break;
    rc = HostReadRows(access, rows.data(), 0, kHeight);
    if (rc == SUCCESS) rc = HostBeginWrite(access);
    if (rc == SUCCESS) rc = HostWriteRows(access, rows.data(), 0, kHeight);
    HostCloseRowAccess(access);
    if (rc != SUCCESS) break;
  }
  HostSetThreadCount(0);
  HostFreeBitmap(&bitmap);
  if (rc != SUCCESS) state.SkipWithError(("result " + std::to_string(rc)).c_str());
  state.counters["Mpix"] = benchmark::Counter(double(kWidth) * kHeight / 1e6,
                                              benchmark::Counter::kIsIterationInvariantRate);
}

// Named like the effects' benchmarks: "floor/copy/24/t1", "floor/copy-uncached/48/t2".
[[maybe_unused]] const bool kRegistered = [] {
  const int32_t cores = HostGetThreadCount();
  for (const auto& [floor, stores] : {std::pair{"copy", 1}, std::pair{"copy-uncached", 6}})
    for (int32_t bits : {24, 48})
      for (int32_t threads : {1, cores}) {
        const std::string name = std::string("floor/") + floor + "/" + std::to_string(bits) +
                                 "/t" + std::to_string(threads);
        benchmark::RegisterBenchmark(name.c_str(), CopyFloor, bits, threads, stores)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        if (cores == 1) break;
      }
  return true;
}();

}  // namespace
