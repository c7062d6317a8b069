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

/* Blur, light and glow --------------------------------------------------------------------- */

/* Averages along the rays through `center`: `length` samples at the farthest corner (0 or 1 is a
 * no-op), `strength` 0..100 stretches their spacing with the distance. */
FXKIT_API int32_t Fx_ZoomBlurBitmap(BitmapRecord* bitmap, uint32_t length, uint32_t strength,
                                    POINT center, uint32_t flags);

/* Averages along arcs of the circles around `center`: `length` samples at the farthest corner
 * (0 or 1 is a no-op), arc angle atan(spread / (R / length)); `spread` 0 is a no-op. */
FXKIT_API int32_t Fx_RadialBlurBitmap(BitmapRecord* bitmap, uint32_t length, int32_t spread,
                                      POINT center, uint32_t flags);

/* Gives edges a raised, shadowed look: every sample gets a directional 3 x 3 derivative added
 * (direction 0 .. 7: light from the left, bottom-left, bottom, bottom-right, right, top-right, top,
 * top-left), of its own channel (mode 0) or of the gray image for the whole pixel (mode 1).
 * Samples below `level` are left alone; level below 256 (4096 on 12-bit gray, 65536 on 16-bit
 * gray and 48/64-bit colour). Works in the bitmap's own orientation. */
FXKIT_API int32_t Fx_AddShadowBitmap(BitmapRecord* bitmap, uint32_t direction, uint32_t level,
                                     uint32_t mode);

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

/* Parameter record of Fx_MosaicTilesBitmap. */
typedef struct MosaicTilesInfo {
  uint32_t StructSize;   /* 48 */
  uint32_t Intensity;    /* 0..100: image and joints are both weighted by Intensity / 100 */
  uint32_t LineWidth;    /* 1..15: width of the joints */
  uint32_t TileWidth;    /* grid: distance of the vertical joints; polar: degrees between rays */
  uint32_t TileHeight;   /* grid: distance of the horizontal joints; polar: distance of rings */
  uint32_t CenterX;      /* polar: centre, relative to the rectangle's left (0 .. width) */
  uint32_t CenterY;      /* polar: centre, relative to the rectangle's top (0 .. height) */
  uint32_t Flags;        /* bits 0-3: 0 grid, 1 polar, other values no joints; bits 4-7: 0 no
                            shadow, 1 or 2 add a shadow (per channel, gray); below 34 */
  uint32_t ShadowParam1; /* shadow direction 0..7 */
  uint32_t ShadowParam2; /* shadow level 0..255 (on the sample range of deep bitmaps) */
  uint32_t LineColor;    /* colour of the joints */
  uint32_t TileColor;    /* colour of the mask between the joints */
} MosaicTilesInfo;

/* Lays the rectangle in tiles: wavy, jittered joints of LineColor (a grid, or rings and rays
 * around a centre) on a mask of TileColor, added to the image with Intensity / 100 weights, then
 * optionally shaded by Fx_AddShadowBitmap. flags must be 0. Continues the thread's generator
 * sequence. */
FXKIT_API int32_t Fx_MosaicTilesBitmap(BitmapRecord* bitmap, MosaicTilesInfo* info, uint32_t flags);

/* Rebuilds the rectangle from four-sided tiles in grout of groutColor (groutWidth 1..15), each
 * tile one colour of the image under one of its corners. flags bits 0-3: 0 grid of tileWidth x
 * tileHeight tiles, 1 rings of tiles tileWidth wide around the centre, 2 a grid with a disc of
 * rings, 3..15 nothing; bits 4-7: 1 or 2 add a shadow (Fx_AddShadowBitmap with ShadowParam1
 * direction, ShadowParam2 level, per channel or gray); flags below 35. Continues the thread's
 * generator sequence. */
FXKIT_API int32_t Fx_RomanMosaicBitmap(BitmapRecord* bitmap, uint32_t tileWidth,
                                       uint32_t tileHeight, uint32_t groutWidth,
                                       uint32_t ShadowParam1, uint32_t ShadowParam2,
                                       uint32_t groutColor, uint32_t flags);

/* Prints the image on a texture bitmap, stretched over the rectangle or tiled (flags 0x10, with
 * rowShift pixels of shift per row of tiles): imageVisibility 0..100 percent of the image's detail
 * stays, textureContrast 0..200 percent. xOffset, yOffset (at most the texture's size; values
 * below 1 count from the right and bottom) shift the texture. flags bits 0-3: 0, 2 or 4. */
FXKIT_API int32_t Fx_CanvasBitmap(BitmapRecord* bitmap, BitmapRecord* texture,
                                  uint32_t imageVisibility, uint32_t textureContrast,
                                  int32_t xOffset, int32_t yOffset, int32_t rowShift,
                                  uint32_t flags);

/* Shows the rectangle through glass blocks: each block shows its surroundings shrunk to half
 * size about its centre. blockWidth, blockHeight: 1 .. half the rectangle's size, in pixels or as
 * counts of blocks; flags 0x10 or 0x20 (height as a count or a size) plus 1 or 2 (width). */
FXKIT_API int32_t Fx_GlassEffectBitmap(BitmapRecord* bitmap, int32_t blockWidth,
                                       int32_t blockHeight, uint32_t flags);

/* Turns the lower half of the rectangle into a rippled reflection of the upper half: amplitude in
 * pixels at the bottom (up to 2^31 - 1), frequency waves across and down; fadeOut non-zero makes
 * the reflection strongest at the middle line. flags must be 0. */
FXKIT_API int32_t Fx_OceanBitmap(BitmapRecord* bitmap, uint32_t amplitude, uint32_t frequency,
                                 int32_t fadeOut, uint32_t flags);

/* Plots every (lineSpacing + 1)-th row of the rectangle as a white curve on black whose height
 * above the row follows the row's gray levels, up to maxHeight rows (both 0 .. the height). flags
 * must be 0. */
FXKIT_API int32_t Fx_RevEffectBitmap(BitmapRecord* bitmap, uint32_t lineSpacing, uint32_t maxHeight,
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
