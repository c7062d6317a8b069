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

/* Remaps the rectangle by a caller-drawn displacement profile: curveCount values of curve (in
 * thousandths of `amount` pixels) stretched over its width; flags bits 4-7 select rows (0x10),
 * columns (0x20) or both (0x30 .. 0xF0), bits 0-3 what a source outside gives: fillColor (0), the
 * nearest pixel (1) or nothing (2); bits 8-15 must be 0. */
FXKIT_API int32_t Fx_FreePlaneBendBitmap(BitmapRecord* bitmap, const int32_t* curve,
                                         uint32_t curveCount, uint32_t amount, uint32_t fillColor,
                                         uint32_t flags);

/* Moves every pixel along the ray from `center` by a caller-drawn curve of its distance
 * (curveCount values in thousandths of `amount` pixels, stretched to the farthest corner); amount
 * 0 is a no-op. flags bits 0-3 as Fx_RippleBitmap; 0x10: distances pushed to 0 or below are
 * handled by that mode instead of reaching through the centre. */
FXKIT_API int32_t Fx_FreeRadBendBitmap(BitmapRecord* bitmap, const int32_t* curve,
                                       uint32_t curveCount, uint32_t amount, POINT center,
                                       uint32_t fillColor, uint32_t flags);

/* Maps the rectangle onto the quadrilateral of corners[0..3] (top-left, top-right, bottom-left,
 * bottom-right, inside the rectangle with right and bottom included). flags 1: pixels outside it
 * keep the picture as it was; 2: they take fillColor. */
FXKIT_API int32_t Fx_PerspectiveBitmap(BitmapRecord* bitmap, const POINT* corners,
                                       uint32_t fillColor, uint32_t flags);

/* Shifts every row sideways by a caller-drawn curve: count amplitudes (-1000 .. 1000, thousandths
 * of half the rectangle's width) from its top to its bottom, scaled by amount percent (0 .. 100;
 * 0 or an all-zero curve is a no-op). flags bits 0-3: a source outside the row gives fillColor
 * (0), keeps the pixel (2) or takes the nearest edge (other); bits 4-7: 0x10 shifts columns. */
FXKIT_API int32_t Fx_FreeHandShearBitmap(BitmapRecord* bitmap, const int32_t* amplitudes,
                                         int32_t count, uint32_t amount, uint32_t fillColor,
                                         uint32_t flags);
/* The wave family. flags bits 0-3 (outside mode): a pixel whose source is off the bitmap gets
 * fillColor (0), is interpolated from the edge (1) or keeps its value (2). */

/* Bends the image with a periodic wave: amplitude' = trunc(amplitude * 0.707) (0 is a no-op)
 * sizes displacements of about amplitude / 2 pixels, split horizontalPercent across and
 * verticalPercent along the direction angle (-18000 .. 18000, hundredths of a degree);
 * wavelength 0 is a no-op. flags bits 4-7: wavelength in percent of the extent (0, 1 .. 100) or
 * a number of waves (0x10); bits 8-11: sine 0, cosine 0x100, square 0x200, triangle 0x300. */
FXKIT_API int32_t Fx_WaveBitmap(BitmapRecord* bitmap, uint32_t amplitude, uint32_t wavelength,
                                int32_t angle, uint32_t horizontalPercent,
                                uint32_t verticalPercent, uint32_t fillColor, uint32_t flags);

/* Turns every pixel about center by up to amplitude percent of 90 degrees (0 .. 100, below 2 a
 * no-op), the turn a sine of the distance: wavelength in percent of the farthest corner's
 * distance (flags bits 4-7 = 0) or a number of waves (other values; other than 0x10 with a
 * 9-row window); phase -36000 .. 36000. */
FXKIT_API int32_t Fx_RadWaveBitmap(BitmapRecord* bitmap, uint32_t amplitude, uint32_t wavelength,
                                   int32_t phase, POINT center, uint32_t fillColor,
                                   uint32_t flags);

/* Pushes pixels in or out along the rays from center by amplitude pixels (not 0) times a sine
 * of their angle with frequency waves around the circle (not 0), from innerPercent (0 .. 100)
 * of the amplitude at the centre to all of it at the farthest corner. flags: 0, 1 or 2. */
FXKIT_API int32_t Fx_ZoomWaveBitmap(BitmapRecord* bitmap, uint32_t amplitude, uint32_t frequency,
                                    int32_t phase, uint32_t innerPercent, POINT center,
                                    uint32_t fillColor, uint32_t flags);

/* Waves fading out towards the rim of the inscribed ellipse (damping 0 .. 1000), waves not 0.
 * flags bits 4-7: 0 turns pixels about center by up to amplitude (1 .. 100) percent of 90
 * degrees; 0x10 shifts them diagonally as pond ripples (amplitude any, 0 a no-op). */
FXKIT_API int32_t Fx_ZigZagBitmap(BitmapRecord* bitmap, int32_t amplitude, uint32_t damping,
                                  int32_t waves, int32_t phase, POINT center,
                                  uint32_t fillColor, uint32_t flags);

/* The wave with a drawn shape: curve holds curveCount (at least 2) values of one period, a value
 * v displacing amount * v / 100000 pixels across the direction angle (-36000 .. 36000; at 0 the
 * curve runs down the image). wavelength and flags bits 4-7 as Fx_WaveBitmap (any wavelength
 * with 0x10). An all-zero curve is a no-op. */
FXKIT_API int32_t Fx_FreeHandWaveBitmap(BitmapRecord* bitmap, const int32_t* curve,
                                        uint32_t curveCount, uint32_t amount, uint32_t wavelength,
                                        int32_t angle, uint32_t fillColor, uint32_t flags);

/* Blur, light and glow --------------------------------------------------------------------- */

/* Averages along the rays through `center`: `length` samples at the farthest corner (0 or 1 is a
 * no-op), `strength` 0..100 stretches their spacing with the distance. */
FXKIT_API int32_t Fx_ZoomBlurBitmap(BitmapRecord* bitmap, uint32_t length, uint32_t strength,
                                    POINT center, uint32_t flags);

/* Averages along arcs of the circles around `center`: `length` samples at the farthest corner
 * (0 or 1 is a no-op), arc angle atan(spread / (R / length)); `spread` 0 is a no-op. */
FXKIT_API int32_t Fx_RadialBlurBitmap(BitmapRecord* bitmap, uint32_t length, int32_t spread,
                                      POINT center, uint32_t flags);

/* Glowing edges on black: every sample becomes its mean absolute difference from the same channel
 * of the dim x dim window around it, times `bright`, clipped; results below `threshold` (widened
 * to threshold * 16 + 15 on 12-bit gray) become 0. dim 0 is refused, 1 is a no-op; works in the
 * bitmap's current orientation. */
FXKIT_API int32_t Fx_GlowFilterBitmap(BitmapRecord* bitmap, uint32_t dim, uint32_t bright,
                                      uint32_t threshold, uint32_t flags);

/* Makes the light (threshold > 0) or dark (< 0) parts glow softly in `color`: a gray copy cut at
 * threshold (-1000 .. 1000, thousandths of 255) is blurred (radius 0 .. 1000) and mixes the
 * colour in; amount 0 .. 1000 is the share of the image kept outside the glow, grain 0 .. 1000 the
 * random grain. Continues the thread's generator sequence (one draw per pixel). */
FXKIT_API int32_t Fx_DiffuseGlowBitmap(BitmapRecord* bitmap, int32_t threshold, uint32_t amount,
                                       uint32_t radius, uint32_t grain, uint32_t color,
                                       uint32_t flags);

/* Paints a lens flare with the light at `center` (inside the rectangle): core, halo in `color`,
 * ghosts toward the image centre and rays, brightness in percent, type 0, 1 or 2 (the element
 * table). Continues the thread's generator sequence (one draw per ray). */
FXKIT_API int32_t Fx_LensFlareBitmap(BitmapRecord* bitmap, POINT center, uint32_t brightness,
                                     uint32_t type, uint32_t color);

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

/* A coloured-pencil drawing: every sample with local contrast d (against the brightest neighbour
 * and the mean of a neighbourhood set by `size` 0..100) moves by `strength` percent (0 is a no-op)
 * toward white when d is small and keeps or darkens its colour when d is large; d = 0 keeps it. */
FXKIT_API int32_t Fx_ColoredPencilBitmap(BitmapRecord* bitmap, uint32_t strength, uint32_t size,
                                         uint32_t flags);

/* A coloured-pencil drawing by a pipeline: the glow filter's edges (dim, bright, threshold) drawn
 * as lines over pencil strokes (pressures strokeLevel1 and strokeLevel2 0..1000, strokeLength
 * pixels, strokeAngle -18000..18000 for the simple pipeline). flags: 0x01 split pipeline (dark
 * and bright pixels hatched apart), else 0x02 simple; 0x10 lays the drawing over the picture. */
FXKIT_API int32_t Fx_ColoredPencilBitmapExt(BitmapRecord* bitmap, uint32_t dim, uint32_t bright,
                                            uint32_t threshold, uint32_t strokeLevel1,
                                            int32_t strokeLength, uint32_t strokeLevel2,
                                            int32_t strokeAngle, uint32_t flags);

/* A dry-brush look: every pixel takes the darkest or the brightest value of the size x size window
 * around it, whichever is closer (colour pixels by brightness; ties go dark). size 0 is refused,
 * 1 is a no-op; works in the bitmap's current orientation. */
FXKIT_API int32_t Fx_DryBitmap(BitmapRecord* bitmap, uint32_t size, uint32_t flags);

/* Old film: grain that darkens by about a quarter, and with flags 0x01/0x02/0x04/0x08 a random
 * mask of vertical/horizontal scratches (maxScratchLength >= 2), dust and pits (densities per
 * thousand pixels, 0..1000; maxPitLength not 0) painted in their colours (0x10/0x20/0x40) or
 * inverted. The mask's generator is seeded from the calendar time; the grain alone continues the
 * thread's sequence. */
FXKIT_API int32_t Fx_AgingBitmap(BitmapRecord* bitmap, uint32_t horzScratchCount,
                                 uint32_t vertScratchCount, uint32_t maxScratchLength,
                                 uint32_t dustDensity, uint32_t pitsDensity, int32_t maxPitLength,
                                 COLORREF scratchColor, COLORREF dustColor, COLORREF pitsColor,
                                 uint32_t flags);

/* Procedural textures ---------------------------------------------------------------------- */

/* Paints seeded gradient noise (clouds) between backColor (noise 0) and foreColor (noise 1).
 * frequency, octaves 0..16; opacity 0..100 weighs blends 1 and 2; flags 0 replace, 1 difference,
 * 2 average. The same seed gives the same texture. */
FXKIT_API int32_t Fx_CloudsBitmap(BitmapRecord* bitmap, uint32_t seed, uint32_t frequency,
                                  uint32_t octaves, uint32_t opacity, uint32_t backColor,
                                  uint32_t foreColor, uint32_t flags);

/* The clouds noise modulated before colour mapping. flags bits 4-7: 0x00 rings around
 * (centerX, centerY) (relative to the rectangle), 0x10 diagonal waves, 0x20 contrast curve, 0x30
 * none; bits 0-3: 0 replace, 1 average, 2 difference. waveFrequency in hundredths; amount
 * 0..100 is the gain of rings and waves or the contrast offset in percent. */
FXKIT_API int32_t Fx_PerlinBitmap(BitmapRecord* bitmap, uint32_t seed, uint32_t frequency,
                                  uint32_t octaves, uint32_t opacity, uint32_t backColor,
                                  uint32_t foreColor, int32_t centerX, int32_t centerY,
                                  int32_t waveFrequency, uint32_t amount, uint32_t flags);

/* Parameter record of Fx_PlasmaFilterBitmap. */
typedef struct PlasmaInfo {
  uint32_t StructSize;   /* 32 */
  uint32_t RedPeriod;    /* colour style 0x30: period of the red table wave, in table entries */
  uint32_t GreenPeriod;  /* likewise green */
  uint32_t BluePeriod;   /* likewise blue */
  uint32_t ImagePercent; /* share of the pixel kept, 0..100; the plasma gets the rest */
  uint32_t Shift;        /* offset added to every pattern index */
  uint32_t Wavelength;   /* of the pattern waves, hundredths of a pixel; not 0 */
  uint32_t Style;        /* bits 0-3 pattern 0..6; bits 4-7 colours: 0x00 rainbow, 0x10, 0x20
                            fixed sine tables, 0x30 sine tables with the periods above */
} PlasmaInfo;

/* Adds a plasma pattern (sums of sine waves indexing a colour table) to the pixels scaled down to
 * ImagePercent. flags must be 0. */
FXKIT_API int32_t Fx_PlasmaFilterBitmap(BitmapRecord* bitmap, PlasmaInfo* info, uint32_t flags);

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
