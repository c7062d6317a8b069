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

/* Procedural textures ---------------------------------------------------------------------- */

/* Content-aware rescaling ------------------------------------------------------------------ */

#endif
