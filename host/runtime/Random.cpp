// The per-thread linear congruential generator. Unsigned arithmetic wraps modulo 2^32 by design.
#include "fxkit/host.h"
#include "host/runtime/Runtime.h"

namespace {
thread_local uint32_t tState = 1;
}

namespace fxrt {

void srand(uint32_t seed) { tState = seed; }

int32_t rand() { return RandFrom(tState); }

uint32_t RandState() { return tState; }

uint32_t RandAdvance(uint32_t state, uint64_t draws) {
  // Composes the step x -> 214013 x + 2531011 with itself by squaring: (mul, add) for 2^k steps.
  uint32_t mul = 1, add = 0, stepMul = 214013u, stepAdd = 2531011u;
  for (; draws != 0; draws >>= 1) {
    if (draws & 1) {
      mul *= stepMul;
      add = add * stepMul + stepAdd;
    }
    stepAdd = (stepMul + 1) * stepAdd;
    stepMul *= stepMul;
  }
  return mul * state + add;
}

}  // namespace fxrt

void HostSeedRandom(uint32_t seed) { fxrt::srand(seed); }
int32_t HostRandom(void) { return fxrt::rand(); }
