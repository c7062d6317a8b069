// The host operation of the wave family: a displacement table expanded to tenths of a unit.
#include "host/Host.h"

void HostExpandTable(double* destination, const double* table, uint32_t count) {
  if (!destination || !table) return;
  for (uint32_t k = 0; k < count; ++k) {
    const uint32_t i0 = k / 10;
    const double f = k / 10.0 - i0;
    const int32_t w0 = static_cast<int32_t>(10 * (1 - f)), w1 = static_cast<int32_t>(10 * f);
    destination[k] = (w0 * table[i0] + w1 * table[i0 + 1]) / (w0 + w1);
  }
}
