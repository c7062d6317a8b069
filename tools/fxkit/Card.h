// The built-in test card: colour bars, smooth gradients, a fine grid, concentric circles, sharp
// edges and a noise patch, generated in code at any size.
#pragma once

#include <string>

#include "tools/fxkit/Image.h"

namespace fxcli {

inline constexpr int32_t kCardWidth = 640;
inline constexpr int32_t kCardHeight = 480;

// "@card" or "@card:..." (the size is checked by MakeCard).
bool IsCardName(const std::string& name);
// The card for "@card" (640x480) or "@card:WxH"; throws UsageError on a malformed or absurd
// size.
ImagePtr MakeCard(const std::string& name);
// A 24 bpp card (Order 1, red first) of the given size.
ImagePtr MakeCard(int32_t width, int32_t height);

}  // namespace fxcli
