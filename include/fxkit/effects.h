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

#endif
