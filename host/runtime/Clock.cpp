// Per-process clocks that applications and tests can fix for reproducible output.
#include <atomic>
#include <chrono>
#include <ctime>

#include "fxkit/host.h"
#include "host/runtime/Runtime.h"

namespace {
const auto kProcessStart = std::chrono::steady_clock::now();
std::atomic<bool> gTickFixed{false};
std::atomic<uint32_t> gFixedTick{0};
std::atomic<bool> gTimeFixed{false};
std::atomic<int64_t> gFixedTime{0};
}  // namespace

namespace fxrt {

uint32_t GetTickCount() {
  if (gTickFixed.load()) return gFixedTick.load();
  auto elapsed = std::chrono::steady_clock::now() - kProcessStart;
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
  return static_cast<uint32_t>(static_cast<uint64_t>(ms));  // wraps after 49.7 days, as ticks do
}

int64_t _time64(int64_t* out) {
  int64_t now = gTimeFixed.load() ? gFixedTime.load() : static_cast<int64_t>(std::time(nullptr));
  if (out) *out = now;
  return now;
}

}  // namespace fxrt

void HostFixTickCount(uint32_t milliseconds) {
  gFixedTick.store(milliseconds);
  gTickFixed.store(true);
}

void HostFixTime(int64_t seconds) {
  gFixedTime.store(seconds);
  gTimeFixed.store(true);
}

void HostReleaseClocks(void) {
  gTickFixed.store(false);
  gTimeFixed.store(false);
}

uint32_t HostGetTickCount(void) { return fxrt::GetTickCount(); }
int64_t HostGetTime(void) { return fxrt::_time64(nullptr); }
