// Effects on pictures with an alpha channel. The library keeps a fourth sample unchanged; a
// front end that reads it as alpha makes it follow the pixels here, for the effects whose
// registry entry says they move or mix pixels (FX_TRAIT_MOVES_PIXELS):
//   1. the colour is premultiplied by alpha, so a transparent pixel weighs nothing in a mix and
//      never shows the colour hidden under it;
//   2. the effect runs on the colour (a 24 or 48 bpp copy) and again, with the same parameters,
//      region and generator seed and clocks, on the alpha as a gray bitmap of the same depth;
//   3. the colour is divided by the new alpha again.
// Parameters on the alpha run: a colour the effect paints (a fill, a fade target) is opaque
// paint, so every colour parameter and colour record field becomes the plane's maximum
// (0x00FFFFFF on 8-bit planes; bit 26 | 0xFFFF, a literal 16-bit level, on 16-bit planes).
// Values with other high bits set are markers, not colours (0xFFFFFFFF: "not used"), and pass
// unchanged. A bitmap parameter that defaults to a copy of the image gets a copy of the
// premultiplied colour on both runs, so both follow the same picture.
// Effects that only change tones (FX_TRAIT_TONES_ONLY) run once and keep the alpha. A picture
// whose alpha is opaque everywhere runs once too, on the colour, and stays opaque.
// Limit: an effect whose movement depends on the picture's content (seam carving picks seams by
// the colour's energy) moves the alpha by the alpha's own content.
#pragma once

#include <functional>

#include "fxkit/fxkit.h"

namespace fxcli {

// True for 32 and 64 bpp colour bitmaps: a fourth sample the tool reads as straight alpha.
bool HasAlpha(const BitmapRecord& bitmap);

// Called before each run of the effect: seeds the generator and sets the clocks.
using RunSetup = std::function<void()>;

// FxInvoke with the alpha rules above. Returns the effect's result (the colour run's first, then
// the alpha run's) or ERROR_NO_MEMORY when a copy cannot be made; on failure the bitmap is
// unchanged. Pixels whose premultiplied colour and alpha come back unchanged keep their exact
// stored values (outside a region, say), whatever their hidden colour.
// `options` and `report` are FxInvokeEx's (range checks, the parameter a refusal names).
int32_t InvokeWithAlpha(const FxEffectDesc& effect, BitmapRecord* bitmap,
                        const FxNamedValue* values, uint32_t valueCount, const RunSetup& setup,
                        uint32_t options = 0, FxReport* report = nullptr);

}  // namespace fxcli
