// Small host helpers the effects share: the no-op answer, colour to working pixel, and the
// centred layout of a ring of rows.
#include "host/Host.h"

int32_t HostNothingToDo() { return SUCCESS; }

void HostColorToPixel(void* buffer, COLORREF colour, int32_t bitsPerSample,
                      int32_t samplesPerPixel) {
  if (!buffer) return;
  uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  uint32_t samples[3] = {b, g, r};
  if (samplesPerPixel == 1) samples[0] = (b + 5 * g + 2 * r) / 8;
  int32_t count = samplesPerPixel == 1 ? 1 : 3;
  for (int32_t k = 0; k < count; ++k) {
    if (bitsPerSample == 16)
      static_cast<uint16_t*>(buffer)[k] = static_cast<uint16_t>(samples[k] * 257);
    else
      static_cast<uint8_t*>(buffer)[k] = static_cast<uint8_t>(samples[k]);
  }
}

void HostCenterRowWindow(void* const* ring, void** view, int32_t count, int32_t centre) {
  if (!ring || !view || count <= 0) return;
  int32_t j = (centre - count / 2) % count;
  if (j < 0) j += count;
  for (int32_t i = 0; i < count; ++i) {
    view[i] = ring[j];
    if (++j == count) j = 0;
  }
}

const char* FxVersion(void) { return "fxkit 0.1.0"; }
