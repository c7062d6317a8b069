/* fxkit effects: one export per effect. Each changes the bitmap in place and returns SUCCESS or a
 * negative result code (fxkit/types.h). Parameters follow the bitmap in the order given here. */
#ifndef FXKIT_EFFECTS_H
#define FXKIT_EFFECTS_H

#include "fxkit/types.h"

/* Geometric distortions ------------------------------------------------------------------- */

/* Twists the image around `center`: angle in degrees-per-e of the twist, 0 is a no-op. */
FXKIT_API int32_t Fx_SwirlBitmap(BitmapRecord* bitmap, int32_t angle, POINT center, uint32_t flags);

/* Blur, light and glow --------------------------------------------------------------------- */

/* Artistic, tile and texture --------------------------------------------------------------- */

/* Procedural textures ---------------------------------------------------------------------- */

/* Content-aware rescaling ------------------------------------------------------------------ */

/* Narrows and lowers the bitmap to newWidth x newHeight by removing seams of least energy. An
 * optional mask of the same size marks pixels to remove first (removeColor) or to keep
 * (keepColor); 0xFFFFFFFF leaves a colour unused. order 0: width first, 1: height first. */
FXKIT_API int32_t Fx_IntelligentDownScaleBitmap(BitmapRecord* bitmap, BitmapRecord* maskBitmap,
                                                uint32_t removeColor, uint32_t keepColor,
                                                int32_t newWidth, int32_t newHeight, int32_t order,
                                                uint32_t flags);

/* Widens and heightens the bitmap (up to twice its size less one) by doubling seams of least
 * energy, in widthSteps / heightSteps passes for large growths; mask and order as above. */
FXKIT_API int32_t Fx_IntelligentUpScaleBitmap(BitmapRecord* bitmap, BitmapRecord* maskBitmap,
                                              uint32_t removeColor, uint32_t keepColor,
                                              int32_t newWidth, int32_t widthSteps,
                                              int32_t newHeight, int32_t heightSteps,
                                              int32_t order, uint32_t flags);

#endif
