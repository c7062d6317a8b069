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

/* Lays the rectangle on a plane seen in perspective (a floor or a wall receding to a horizon).
 * vanishingPoint: where the plane's depth lines meet; tilt: the plane's angle around the line of
 * sight in hundredths of a degree (0 floor, 9000 wall on the right, 18000 ceiling, 27000 wall on
 * the left); distance: the viewer's distance from the plane in pixels (the picture shows at its
 * own size that far from the horizon); fieldOfView: 1 .. 17999 hundredths of a degree across the
 * rectangle's width; rotation: turns the picture on the plane; offsetX, offsetY: move it across
 * and along the plane, in picture pixels. The plane fades from fadeStart to fadeEnd percent toward
 * fadeColor with the depth (fadeDistance: depth in picture pixels over which 63% of the change is
 * made; 0 fades everything by fadeEnd). flags bits 0-3: sky and off-picture positions take
 * fillColor (0), off-picture positions take the picture's nearest edge (1), or both keep the pixel
 * (2); bits 4-7: the picture once (0x00), repeated (0x10) or mirrored (0x20); bits 8-11:
 * adaptive supersampling (0x000) or one sample per pixel (0x100). */
FXKIT_API int32_t Fx_PlaneBitmap(BitmapRecord* bitmap, POINT vanishingPoint, int32_t tilt,
                                 int32_t distance, int32_t fieldOfView, int32_t rotation,
                                 int32_t offsetX, int32_t offsetY, uint32_t fadeStart,
                                 uint32_t fadeEnd, int32_t fadeDistance, uint32_t fadeColor,
                                 uint32_t fillColor, uint32_t flags);

/* Fx_PlaneBitmap's plane (picture centred, without offsets) bent around an axis across it: flat
 * up to bendPosition picture pixels beyond the picture's centre, then rolled over a cylinder of
 * bendRadius pixels through bendAngle hundredths of a degree (-36000 .. 36000; positive curls up
 * toward the viewer like a page, negative bends away like a banner over a drum), then straight
 * again. Other parameters as Fx_PlaneBitmap. */
FXKIT_API int32_t Fx_PlaneBendBitmap(BitmapRecord* bitmap, POINT vanishingPoint, int32_t tilt,
                                     int32_t distance, int32_t fieldOfView, int32_t rotation,
                                     int32_t bendPosition, int32_t bendRadius, int32_t bendAngle,
                                     uint32_t fadeStart, uint32_t fadeEnd, int32_t fadeDistance,
                                     uint32_t fadeColor, uint32_t fillColor, uint32_t flags);

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
/* One light of Fx_LightBitmap (44 bytes). */
typedef struct LightInfo {
  uint32_t size;      /* 44 (tested on the first record) */
  int32_t x, y;       /* centre of the light; inside the rectangle, its right and bottom included */
  uint32_t width;     /* spot: full length of the ellipse's major axis; not below height */
  uint32_t height;    /* spot: full length of the minor axis */
  int32_t angle;      /* spot: rotation of the ellipse, hundredths of a degree, -36000..36000 */
  uint32_t intensity; /* strength, percent */
  uint32_t falloff;   /* spot: 0..100, how much faster the light fades toward the rim */
  uint32_t color;     /* COLORREF */
  uint32_t mix;       /* share of the additive part, percent 0..100; the rest tints */
  uint32_t kind;      /* 0 spot light (an ellipse lit from a focus), 1 flood light */
} LightInfo;

/* Relights the rectangle: every sample is scaled by the ambient light (ambientIntensity percent
 * of ambientColor), then the `count` lights are added in order, each followed by the brightness
 * factor (percent). Works in the bitmap's own orientation; flags must be 0. */
FXKIT_API int32_t Fx_LightBitmap(BitmapRecord* bitmap, LightInfo* lights, int32_t count,
                                 uint32_t brightness, uint32_t ambientIntensity,
                                 uint32_t ambientColor, uint32_t flags);

/* The record of Fx_FunctionalLightBitmap (52 bytes: thirteen 32-bit fields). `options` chooses
 * the operation: the first of 0x1000 (directional), 0x2000 (point), 0x4000 (spot) that is set.
 * Every operation changes each sample p to p x (ambient + intensity x s x c / 255) / 100
 * (clipped), c the light's colour sample (gray pixels: (b + 5g + 2r) / 8), s in 0..1 the light
 * reaching the pixel:
 *   directional: s = the cosine between the light (azimuth, elevation) and the normal of the
 *     picture's relief (its gray levels as heights, 4 pixels for the full range); a flat picture
 *     gets s = sin(elevation) everywhere;
 *   point: s = (1 - d / radius) ^ (falloff / 100) at a distance d < radius from (x, y), else 0;
 *   spot: the point light's s inside a cone from (x, y) along the azimuth, coneAngle wide, its
 *     edge fading linearly over the outer softness percent of the half-opening; 0 outside.
 * Angles in hundredths of a degree; azimuth 0 points to the right, 9000 to the top. */
typedef struct FunctionalLightInfo {
  uint32_t size;      /* 52 */
  int32_t x, y;       /* point, spot: position of the light, bitmap coordinates (may lie outside) */
  int32_t azimuth;    /* directional: side the light comes from; spot: where the beam points;
                         -36000..36000 */
  uint32_t elevation; /* directional: height above the horizon, 0..9000 (9000 straight above) */
  uint32_t radius;    /* point, spot: reach in pixels; no light at or beyond it */
  uint32_t falloff;   /* point, spot: fade exponent in hundredths, 0..1000 (100 linear) */
  uint32_t coneAngle; /* spot: full opening of the beam, 0..36000 */
  uint32_t softness;  /* spot: percent of the half-opening over which the edge fades, 0..100 */
  uint32_t color;     /* COLORREF of the light */
  uint32_t intensity; /* strength, percent (100 with white: a fully lit sample is unchanged) */
  uint32_t ambient;   /* light everywhere, percent of the sample */
  uint32_t options;   /* 0x1000 directional, 0x2000 point, 0x4000 spot */
} FunctionalLightInfo;

/* Lights the rectangle (in orientation 1) with the operation `info` chooses; a field outside its
 * range answers ERROR_INV_PARAMETER. flags must be 0. */
FXKIT_API int32_t Fx_FunctionalLightBitmap(BitmapRecord* bitmap, FunctionalLightInfo* info,
                                           uint32_t flags);

/* Parameter record of Fx_BumpMapBitmap (52 bytes, laid out on 4-byte boundaries: the pointer
 * follows the eleventh 32-bit field directly). Out-of-range offsets, |azimuth| > 360,
 * elevation > 180 or depth 0 make the call a no-op. */
#pragma pack(push, 4)
typedef struct BumpMapInfo {
  uint32_t size;               /* 52 */
  int32_t azimuth;             /* direction of the light, degrees, -360..360 (negative: + 360) */
  uint32_t elevation;          /* height of the light, degrees, 0..180 */
  uint32_t depth;              /* relief depth, 1 or more: the light's height is divided by it */
  int32_t bumpX;               /* start inside the bump map, -its width..its width */
  int32_t bumpY;               /* -its height..its height */
  int32_t destX;               /* position of the relief in the bitmap, -Width..Width */
  int32_t destY;               /* -Height..Height */
  uint32_t tile;               /* non-zero: the bump map repeats over the bitmap */
  int32_t brightness;          /* output shift, thousandths of the sample range, -1000..1000 */
  int32_t intensity;           /* input shift, thousandths of the sample range, -1000..1000 */
  const uint32_t* heightTable; /* null, or 256 entries: the low byte of entry g replaces level g */
} BumpMapInfo;
#pragma pack(pop)

/* Embosses the image with the relief of `bumpBitmap`'s gray levels (it may be the bitmap itself:
 * a private copy is used), lit from (azimuth, elevation), tiled or laid once. flags must be 0. */
FXKIT_API int32_t Fx_BumpMapBitmap(BitmapRecord* bitmap, BitmapRecord* bumpBitmap,
                                   BumpMapInfo* info, uint32_t flags);

/* Parameter record of Fx_VignetteBitmap (36 bytes). The call writes the mapped softness back. */
typedef struct VignetteInfo {
  uint32_t size;     /* 36 */
  int32_t x, y;      /* centre, from the rectangle's left and top; 0..its width, 0..its height */
  int32_t amount;    /* -100..100: band width in percent; sign: colour outside (+) or inside (-) */
  uint32_t softness; /* 0..100, the fade's exponent; replaced by its mapped value 50..500 */
  uint32_t width;    /* radius (square, circle) or horizontal half-size (rectangle, ellipse) */
  uint32_t height;   /* vertical half-size (rectangle, ellipse); not 0 for the ellipse */
  uint32_t color;    /* COLORREF */
  uint32_t options;  /* 0..19: bits 0-3 shape 0 square, 1 rectangle, 2 circle, 3 ellipse;
                        16: the band lies outside the size */
} VignetteInfo;

/* Fades the rectangle toward `color` beyond (or within) a shape around the centre. With a region
 * it works on a copy of the bounding rectangle, put back through the region. flags must be 0. */
FXKIT_API int32_t Fx_VignetteBitmap(BitmapRecord* bitmap, VignetteInfo* info, uint32_t flags);

/* Gives edges a raised, shadowed look: every sample gets a directional 3 x 3 derivative added
 * (direction 0 .. 7: light from the left, bottom-left, bottom, bottom-right, right, top-right, top,
 * top-left), of its own channel (mode 0) or of the gray image for the whole pixel (mode 1).
 * Samples below `level` are left alone; level below 256 (4096 on 12-bit gray, 65536 on 16-bit
 * gray and 48/64-bit colour). Works in the bitmap's own orientation. */
FXKIT_API int32_t Fx_AddShadowBitmap(BitmapRecord* bitmap, uint32_t direction, uint32_t level,
                                     uint32_t mode);

/* Smears bright parts along the wind in streaks of random length up to `length` (1 and 2 do
 * nothing), angle -36000..36000 hundredths of a degree (0: wind from the left), opacity 0..100.
 * Continues the thread's generator sequence. flags must be 0. */
FXKIT_API int32_t Fx_WindBitmap(BitmapRecord* bitmap, uint32_t length, int32_t angle,
                                uint32_t opacity, uint32_t flags);
/* Parameter record of Fx_DrawStarBitmap. */
typedef struct StarInfo {
  uint32_t StructSize;  /* 48 */
  POINT center;         /* centre of the star, bitmap coordinates (may lie off the image) */
  uint32_t points;      /* number of tips, 2 .. 100 */
  uint32_t outerRadius; /* distance of the tips from the centre, pixels, 0 .. 65535 */
  uint32_t innerRadius; /* distance of the notches between the tips, pixels, 0 .. 65535 */
  int32_t rotation;     /* turn of the first tip clockwise from straight up, hundredths of a
                           degree, -36000 .. 36000 */
  uint32_t color;       /* COLORREF of the star */
  uint32_t opacity;     /* of the star, percent 0 .. 100 */
  uint32_t glowColor;   /* COLORREF of the glow */
  uint32_t glowRadius;  /* reach of the glow beyond the star's edge, pixels, 0 .. 65535 */
  uint32_t glowOpacity; /* of the glow at the star's edge, percent 0 .. 100 */
} StarInfo;

/* Draws an anti-aliased star (points tips, alternating outer and inner radii) with a soft glow
 * that fades over glowRadius pixels beyond its edge. flags bits 0-3: the star and the glow are
 * laid over the image (0), screened (1) or added (2); other bits must be 0. A star that is
 * invisible (no opacity or no size, and no glow) leaves the image alone. */
FXKIT_API int32_t Fx_DrawStarBitmap(BitmapRecord* bitmap, StarInfo* info, uint32_t flags);

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

/* Repaints the rectangle with random anti-aliased dots of radius dotRadius (1 .. 32767), each in
 * the colour of the pixel at its centre. flags bits 0-3: 1 dots over the image, 2 over a canvas
 * of `color`; bits 4-7: 0x10 flat dots, 0x20 shaded beads (a dot covers only what lies lower).
 * Continues the thread's generator sequence. */
FXKIT_API int32_t Fx_PointillistBitmap(BitmapRecord* bitmap, uint32_t dotRadius, uint32_t color,
                                       uint32_t flags);

/* Scatters ballCount lit balls (radius ballRadius +- radiusVariation percent) over the image or a
 * painted background (plain backColor1 or cosine gradients to backColor2 of frequency
 * (frequency + 100) / 100). Each ball mixes the pixel under its centre with a random entry of
 * `palette` (paletteCount colours 0x00BBGGRR) at a random brightness and is lit toward
 * highlightColor from lightAngle (hundredths of a degree, 0 from the right). flags: 0x1000
 * modulate or 0x2000 blend; 0x100 image or 0x200 painted canvas (bits 0-3: 1 plain, 2 along x,
 * 3 along y, 4 circular, 5 elliptical); 0x10 flat or 0x20 shaded balls. Continues the thread's
 * generator sequence. */
FXKIT_API int32_t Fx_ColoredBallsBitmap(BitmapRecord* bitmap, int32_t ballCount,
                                        uint32_t ballRadius, uint32_t radiusVariation,
                                        int32_t lightAngle, uint32_t highlightColor,
                                        uint32_t backColor1, uint32_t backColor2,
                                        const COLORREF* palette, uint32_t paletteCount,
                                        uint32_t brightness, uint32_t brightnessVariation,
                                        int32_t frequency, uint32_t flags);

/* Turns concentric rings around (centerX, centerY) by their own angles, like a combination lock.
 * flags: bits 0-1 sources outside the rectangle 0 fillColor, 1 (or 3) nearest edge, 2 keep; 0x10
 * ring k turns by (k + 1) x angle / 100 degrees, else random angles from `seed` (0: the tick
 * count); 0x100 radius is the ring width, 0x200 the outer radius of ringCount rings. */
FXKIT_API int32_t Fx_RingEffectBitmap(BitmapRecord* bitmap, int32_t centerX, int32_t centerY,
                                      uint32_t radius, uint32_t ringCount, uint32_t seed,
                                      uint32_t fillColor, int32_t angle, uint32_t flags);

/* Cuts the rectangle into tiles (tileX x tileY tiles with flags 0x20, tiles of tileX x tileY
 * pixels with 0x10) and shuffles them (0x02, from `seed`, 0: the tick count) and draws borders in
 * borderColor (0x01); 0x100 first resizes to whole tiles (the bitmap itself without a region). */
FXKIT_API int32_t Fx_PuzzleEffectBitmap(BitmapRecord* bitmap, uint32_t tileX, uint32_t tileY,
                                        uint32_t seed, uint32_t flags, uint32_t borderColor);

/* Turns every tile at random like a thrown die (flips, mirrors, half turns; quarter turns for
 * square tiles), from `seed` (0: the tick count). Tiles, borders and fitting as
 * Fx_PuzzleEffectBitmap. */
FXKIT_API int32_t Fx_DiceEffectBitmap(BitmapRecord* bitmap, uint32_t tileX, uint32_t tileY,
                                      uint32_t seed, uint32_t flags, uint32_t borderColor);

/* Every pixel becomes the mean of the four pixels `offset` away diagonally, at `intensity`
 * (0 .. 100) percent; flags must be 0. */
FXKIT_API int32_t Fx_FragmentBitmap(BitmapRecord* bitmap, int32_t offset, uint32_t intensity,
                                    uint32_t flags);
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
/* Paints a brick wall over the rectangle: bricks of brickWidth x brickHeight pixels (1 .. 65535)
 * in mortar joints mortarWidth wide (0 .. 65535), each course shifted by rowOffset percent of a
 * brick more than the one above (50: running bond), with a mortar crossing at the rectangle's
 * top-left corner. Each brick's colour varies by colorVariation percent and the surface grain by
 * roughness percent, from a stateless hash of seed and the brick or pixel (the same wall at any
 * thread count). The relief is lit as a bump map: light from azimuth degrees (-360 .. 360, 0 from
 * the right, 90 from the top) at elevation degrees (0 .. 180), depth 1 .. 100 dividing the light's
 * height. The lit wall is combined with the image at opacity percent (0 is a no-op); flags bits
 * 0-3: painted over (0), multiplied (1), overlaid (2), or only its relief applied to the image
 * (3); other bits must be 0. */
FXKIT_API int32_t Fx_BricksTextureBitmap(BitmapRecord* bitmap, uint32_t brickWidth,
                                         uint32_t brickHeight, uint32_t mortarWidth,
                                         uint32_t rowOffset, uint32_t brickColor,
                                         uint32_t mortarColor, uint32_t colorVariation,
                                         uint32_t roughness, uint32_t seed, int32_t azimuth,
                                         uint32_t elevation, uint32_t depth, uint32_t opacity,
                                         uint32_t flags);

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
