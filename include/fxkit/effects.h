/* fxkit effects: one export per effect. Each changes the bitmap in place and returns SUCCESS or a
 * negative result code (fxkit/types.h). Parameters follow the bitmap in the order given here. */
#ifndef FXKIT_EFFECTS_H
#define FXKIT_EFFECTS_H

#include "fxkit/types.h"

/* Geometric distortions ------------------------------------------------------------------- */

/* Twists the image around `center`: angle in degrees-per-e of the twist, 0 is a no-op. */
FXKIT_API int32_t Fx_SwirlBitmap(BitmapRecord* bitmap, int32_t angle, POINT center, uint32_t flags);

/* Bulges (strength > 0) or pinches (< 0) the ellipse inscribed in the rectangle around `center`,
 * -500 .. 500, 0 is a no-op. flags bits 0-3: sources outside the rectangle get fillColor (0), the
 * nearest edge (1) or leave the pixel (2); 0x10: radii folded past the centre handled alike. */
FXKIT_API int32_t Fx_SpherizeBitmap(BitmapRecord* bitmap, int32_t strength, POINT center,
                                    uint32_t fillColor, uint32_t flags);

/* Wraps the rectangle around a cylinder: strength -100 .. 100 (0 is a no-op), direction 0 remaps
 * rows (vertical axis), 1 columns (horizontal axis); flags must be 0. */
FXKIT_API int32_t Fx_CylindricalBitmap(BitmapRecord* bitmap, int32_t strength, uint32_t direction,
                                       uint32_t flags);

/* Bends the rectangle as if printed on a sphere (flags shape 0, about `center`) or a cylinder
 * (0x100 along rows, 0x200 along columns, about the rectangle's centre); strength -500 .. 500;
 * outside modes and fold handling as Fx_SpherizeBitmap. */
FXKIT_API int32_t Fx_BendingBitmap(BitmapRecord* bitmap, int32_t strength, POINT center,
                                   uint32_t fillColor, uint32_t flags);

/* Pushes the middle of the inscribed ellipse outward (strength > 0, growing with ramp 0 .. 1000)
 * or pulls it inward (< 0); strength -500 .. 500; outside modes and fold handling as
 * Fx_SpherizeBitmap. */
FXKIT_API int32_t Fx_PunchBitmap(BitmapRecord* bitmap, int32_t strength, uint32_t ramp,
                                 POINT center, uint32_t fillColor, uint32_t flags);

/* Blur, light and glow --------------------------------------------------------------------- */

/* Artistic, tile and texture --------------------------------------------------------------- */

/* Procedural textures ---------------------------------------------------------------------- */

/* Content-aware rescaling ------------------------------------------------------------------ */

#endif
