/* fxkit effects: one export per effect. Each changes the bitmap in place and returns SUCCESS or a
 * negative result code (fxkit/types.h). Parameters follow the bitmap in the order given here. */
#ifndef FXKIT_EFFECTS_H
#define FXKIT_EFFECTS_H

#include "fxkit/types.h"

/* Geometric distortions ------------------------------------------------------------------- */

/* Twists the image around `center`: angle in degrees-per-e of the twist, 0 is a no-op. */
FXKIT_API int32_t Fx_SwirlBitmap(BitmapRecord* bitmap, int32_t angle, POINT center, uint32_t flags);

/* Converts the rectangle between rectangular and polar coordinates about its centre. flags bits
 * 0-3: outside mode (0 fill with fillColor, 1 nearest edge, 2 keep); bits 4-7: 0 wraps rows into
 * rings, 0x10 unrolls rings into rows. */
FXKIT_API int32_t Fx_PolarBitmap(BitmapRecord* bitmap, uint32_t fillColor, uint32_t flags);

/* Shows the rectangle as the inside wall of a tunnel whose axis passes through `center`, tiled
 * `repeat` times along the depth (-1 endless) and faded from fadeStart to fadeEnd percent toward
 * fadeColor over fadeDistance hundred pixels. flags: layout 0x10 or 0x20 | mode 1 (fill) or 2
 * (keep). */
FXKIT_API int32_t Fx_TunnelBitmap(BitmapRecord* bitmap, POINT center, int32_t depthOffset,
                                  int32_t viewDistance, int32_t radius, int32_t repeat,
                                  int32_t rotation, int32_t depthScale, uint32_t fadeStart,
                                  uint32_t fadeEnd, int32_t fadeDistance, uint32_t fadeColor,
                                  uint32_t fillColor, uint32_t flags);

/* Spreads damped concentric ripples from `center`: amplitude in pixels (0 is a no-op),
 * frequency periods over the reference distance, phase in hundredths of a degree, attenuation
 * 0 .. 1000. flags: 0 fill with fillColor, 1 nearest edge, 2 keep. */
FXKIT_API int32_t Fx_RippleBitmap(BitmapRecord* bitmap, int32_t amplitude, int32_t frequency,
                                  int32_t phase, int32_t attenuation, POINT center,
                                  uint32_t fillColor, uint32_t flags);

/* Blur, light and glow --------------------------------------------------------------------- */

/* Artistic, tile and texture --------------------------------------------------------------- */

/* Procedural textures ---------------------------------------------------------------------- */

/* Content-aware rescaling ------------------------------------------------------------------ */

#endif
