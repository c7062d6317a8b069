// The runtime services the effects rely on: the classic generator, the clocks and the Windows
// rectangle helpers. Call them qualified (fxrt::rand) so the C library's rand is never reached.
#pragma once

#include <cstdint>

#include "fxkit/types.h"

namespace fxrt {

// Linear congruential generator, one state per thread, initial state 1:
// state = state * 214013 + 2531011 (mod 2^32); rand = (state >> 16) & 0x7FFF.
void srand(uint32_t seed);
int32_t rand();
constexpr int32_t RAND_MAX_VALUE = 0x7FFF;
// The same step on a state of the caller's own: a row function given its row's first state
// draws the numbers the thread's generator would.
inline int32_t RandFrom(uint32_t& state) {
  state = state * 214013u + 2531011u;
  return static_cast<int32_t>((state >> 16) & 0x7FFFu);
}
// The thread's generator state (what the next rand() steps from), without drawing.
uint32_t RandState();
// The state `draws` rand() calls after `state`, in O(log draws) steps: effects that draw a known
// number of values per row give each row its own starting state and compute rows in parallel.
uint32_t RandAdvance(uint32_t state, uint64_t draws);

// Milliseconds since the process started, unless fixed with HostFixTickCount.
uint32_t GetTickCount();
// Seconds since 1970, unless fixed with HostFixTime. A non-null `out` receives the value too.
int64_t _time64(int64_t* out);

// Windows rectangle helpers with their documented meaning (right and bottom exclusive).
int32_t SetRect(RECT* rect, int32_t left, int32_t top, int32_t right, int32_t bottom);
int32_t CopyRect(RECT* destination, const RECT* source);
int32_t InflateRect(RECT* rect, int32_t dx, int32_t dy);
int32_t OffsetRect(RECT* rect, int32_t dx, int32_t dy);
// Non-zero when the intersection is not empty; an empty result is set to {0, 0, 0, 0}.
int32_t IntersectRect(RECT* destination, const RECT* a, const RECT* b);
int32_t IsRectEmpty(const RECT* rect);
int32_t PtInRect(const RECT* rect, POINT point);

}  // namespace fxrt
