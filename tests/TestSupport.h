// Shared test support: bitmaps of every depth, deterministic content, working-row snapshots, a
// fixture that proves no host block leaks, and the fault-path sweep.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "ReliabilityHarness.h"
#include "fxkit/fxkit.h"
#include "host/Host.h"

namespace fxtest {

using Depth = fxrel::Format;
// Every stored format the host supports.
const std::vector<Depth>& AllDepths();

// A host-allocated bitmap with zero pixels, freed on destruction.
class TestBitmap : public fxrel::Bitmap {
 public:
  TestBitmap(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t order = ORDER_BGR,
             uint8_t orientation = 1)
      : created_(Allocate(width, height, bitsPerPixel, order, orientation)) {}
  bool ok() const { return created_ == SUCCESS; }

  // Deterministic pseudo-random stored bytes (palette indices stay inside the palette).
  void FillNoise(uint32_t seed) { fxrel::FillNoise(get(), seed); }
  // Smooth content: gradients and a few edges, as seen in the current view. Working values.
  void FillSmooth();
  // Stored bytes of every row (padding excluded).
  std::vector<uint8_t> Stored() const { return fxrel::StoredBytes(get()); }

 private:
  int32_t created_;
};

// Every view row of the bitmap in the working format, concatenated.
std::vector<uint8_t> WorkingRows(BitmapRecord* bitmap);
// The working row y of the bitmap.
std::vector<uint8_t> WorkingRow(BitmapRecord* bitmap, int32_t y);
// Writes working rows (as WorkingRows returns them) back to the bitmap.
void WriteWorkingRows(BitmapRecord* bitmap, const std::vector<uint8_t>& rows);

// Working sample k of pixel (x, y) from a WorkingRows snapshot.
uint32_t SampleAt(const std::vector<uint8_t>& rows, int32_t rowBytes, int32_t sampleBits,
                  int32_t pixelStep, int32_t x, int32_t y, int32_t k);

// The test name of a registry index: the effect's short name with '_' for what GoogleTest
// refuses.
std::string EffectName(const ::testing::TestParamInfo<uint32_t>& info);

// Checks every test ends with the host blocks it started with, no fault plan and no callback.
class HostFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  int64_t baselineBlocks_ = 0;
};

// Runs the effects called on this thread on `threads` threads, small pictures included, until
// destroyed; results must not depend on it.
class ThreadSetting {
 public:
  explicit ThreadSetting(int32_t threads);
  ~ThreadSetting();
  ThreadSetting(const ThreadSetting&) = delete;
  ThreadSetting& operator=(const ThreadSetting&) = delete;

 private:
  int64_t minPixels_;
};
// The thread count the sweeps compare with one thread.
inline constexpr int32_t kManyThreads = 4;

// The fault-path sweep. For each kind of failure (allocation, row read, row write, write
// preparation, open) the 1st, 2nd, ... operation of a fresh call is failed until the call makes
// fewer and succeeds; then the status callback cancels at its 1st, 2nd, ... report. Each time
// the code must be ERROR_NO_MEMORY, the injected host code or the callback's answer (or
// ERROR_NO_MEMORY where the effect's FX_TRAIT_FAILURE_AS_NO_MEMORY says so), no block may
// leak, the orientation and the callback must come back, no report may follow a cancel, and a
// failure before the first row write must leave the pixels unchanged.
struct SweepStats {
  int64_t points = 0;  // fault points exercised, cancels included
  int64_t allocs = 0, reads = 0, writes = 0, begins = 0, opens = 0, cancels = 0;
  // Per fault point: a hash of the code, the stored pixels and the progress values reported.
  std::vector<uint64_t> trace;

  SweepStats& operator+=(const SweepStats& other);
  std::string Summary() const;  // "N fault points (alloc N, read N, ...)"
};

// A registered effect on fresh bitmaps of `scene`, with its defaults or, when `values` holds
// any, through FxInvoke with those; every step also checked with fxrel::CheckCall under the
// effect's traits, which decide whether the pixels must stay unchanged before the first write.
SweepStats SweepFaults(const FxEffectDesc* effect, const fxrel::Scene& scene,
                       const std::vector<FxNamedValue>& values = {});

}  // namespace fxtest
