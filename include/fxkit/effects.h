/* fxkit effects: one export per effect. Each changes the bitmap in place and returns SUCCESS or a
 * negative result code (fxkit/types.h). Parameters follow the bitmap in the order given here. */
#ifndef FXKIT_EFFECTS_H
#define FXKIT_EFFECTS_H

#include "fxkit/types.h"

/* Geometric distortions ------------------------------------------------------------------- */

/* Twists the image around `center`: angle in degrees-per-e of the twist, 0 is a no-op. */
FXKIT_API int32_t Fx_SwirlBitmap(BitmapRecord* bitmap, int32_t angle, POINT center, uint32_t flags);

/* Blur, light and glow --------------------------------------------------------------------- */

/* Averages along the rays through `center`: `length` samples at the farthest corner (0 or 1 is a
 * no-op), `strength` 0..100 stretches their spacing with the distance. */
FXKIT_API int32_t Fx_ZoomBlurBitmap(BitmapRecord* bitmap, uint32_t length, uint32_t strength,
                                    POINT center, uint32_t flags);

/* Averages along arcs of the circles around `center`: `length` samples at the farthest corner
 * (0 or 1 is a no-op), arc angle atan(spread / (R / length)); `spread` 0 is a no-op. */
FXKIT_API int32_t Fx_RadialBlurBitmap(BitmapRecord* bitmap, uint32_t length, int32_t spread,
                                      POINT center, uint32_t flags);

/* Artistic, tile and texture --------------------------------------------------------------- */

/* Scatters every pixel a random distance along its row (reach horzLength) and then its column
 * (reach vertLength); 0 counts as 1, both 1 is a no-op, both 0 is refused. Continues the thread's
 * generator sequence. */
FXKIT_API int32_t Fx_ImpressionistBitmap(BitmapRecord* bitmap, uint32_t horzLength,
                                         uint32_t vertLength, uint32_t flags);

/* Paints grid or polar cells (around `center`) with their maximum, minimum or average colour at
 * `opacity` percent; `flags` selects the colour, the shape and whether the cell dimensions are
 * sizes or counts. */
FXKIT_API int32_t Fx_PixelateBitmap(BitmapRecord* bitmap, int32_t cellWidth, int32_t cellHeight,
                                    uint32_t opacity, POINT center, uint32_t flags);

/* Procedural textures ---------------------------------------------------------------------- */

/* Content-aware rescaling ------------------------------------------------------------------ */

#endif
