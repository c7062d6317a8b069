// Gray levels of working rows: the host's gray mix applied to a row the effects already hold.
// The definition is in host/Host.h.
#include "host/Host.h"

namespace {

template <class T>
void GrayRow(const T* row, int32_t step, int32_t width, T* gray) {
  if (step < 3) {
    for (int32_t x = 0; x < width; ++x) gray[x] = row[int64_t{x} * step];
    return;
  }
  for (int32_t x = 0; x < width; ++x) {
    const T* p = row + int64_t{x} * step;
    gray[x] = static_cast<T>((uint32_t{p[0]} + 5 * uint32_t{p[1]} + 2 * uint32_t{p[2]} + 4) / 8);
  }
}

}  // namespace

void HostGrayRow(const void* row, int32_t sampleBits, int32_t pixelStep, int32_t width,
                 void* gray) {
  if (!row || !gray || width < 1 || pixelStep < 1) return;
  if (sampleBits == 16)
    GrayRow(static_cast<const uint16_t*>(row), pixelStep, width, static_cast<uint16_t*>(gray));
  else
    GrayRow(static_cast<const uint8_t*>(row), pixelStep, width, static_cast<uint8_t*>(gray));
}
