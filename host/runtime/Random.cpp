// The per-thread linear congruential generator. Unsigned arithmetic wraps modulo 2^32 by design.
#include "fxkit/host.h"
#include "host/runtime/Runtime.h"

namespace {
thread_local uint32_t tState = 1;
}

namespace fxrt {

void srand(uint32_t seed) { tState = seed; }

int32_t rand() {
  tState = tState * 214013u + 2531011u;
  return static_cast<int32_t>((tState >> 16) & 0x7FFFu);
}

}  // namespace fxrt

void HostSeedRandom(uint32_t seed) { fxrt::srand(seed); }
int32_t HostRandom(void) { return fxrt::rand(); }
