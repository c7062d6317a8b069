// Host operations of the glow and flare effects: the sampled Gaussian kernel of the diffuse glow
// and the palette query of the lens flare's scratch bitmap. Definitions in host/Host.h and
// include/fxkit/host.h.
#include <cmath>

#include "host/Host.h"

uint32_t HostGaussKernel(uint16_t* weights, int32_t count, double sigma) {
  if (!weights || count < 1 || count % 2 == 0 || count > 65535 || !(sigma > 0)) return 0;
  const int32_t half = (count - 1) / 2;
  const double twoSigma2 = 2.0 * sigma * sigma;
  uint32_t sum = 0;
  for (int32_t i = 0; i < count; ++i) {
    const double d = i - half;
    const double w = std::floor(65535.0 * std::exp(-(d * d) / twoSigma2) + 0.5);
    weights[i] = static_cast<uint16_t>(w);
    sum += weights[i];
  }
  return sum;
}

uint32_t HostGetPalette(const BitmapRecord* bitmap, COLORREF* palette, uint32_t count) {
  const uint32_t held = bitmap && bitmap->Palette ? bitmap->PaletteCount : 0;
  for (uint32_t i = 0; palette && i < count; ++i) palette[i] = i < held ? bitmap->Palette[i] : 0;
  return held;
}
