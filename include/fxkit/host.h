/* fxkit host layer, public part: what an application needs to make bitmaps and regions, follow
 * and cancel a running effect, seed the generator and fix the clocks. */
#ifndef FXKIT_HOST_H
#define FXKIT_HOST_H

#include <stddef.h>

#include "fxkit/types.h"

/* Per-thread status callback: called with a percentage while an effect runs. Any answer other
 * than SUCCESS cancels the effect, which cleans up and returns that answer. */
typedef int32_t (*FxStatusCallback)(int32_t percent, void* userData);

/* Bitmaps ---------------------------------------------------------------------------------- */

/* Sets up a record without pixel storage: Width x Height at bitsPerPixel, orientation 1, order
 * BGR (gray for 12 and 16 bits), a gray ramp palette for 1, 4 and 8 bits. */
FXKIT_API int32_t HostInitBitmap(BitmapRecord* bitmap, uint32_t structSize, int32_t width,
                                 int32_t height, int32_t bitsPerPixel);

/* Allocates zeroed pixel storage (and a palette where needed) for a record from HostInitBitmap
 * and sets FLAG_ALLOCATED. memoryMode is accepted for compatibility; storage is always in memory. */
FXKIT_API int32_t HostAllocBitmapData(BitmapRecord* bitmap, int32_t memoryMode);

/* Creates a bitmap in one call. palette: paletteCount colours for 1/4/8-bit colour bitmaps (null
 * gives a gray ramp). data: null allocates zeroed storage owned by the host; otherwise the bitmap
 * wraps the caller's rows (bytesPerLine apart) and HostFreeBitmap leaves them alone. The new
 * bitmap is seen in `orientation` (1 .. 8) from the start. */
FXKIT_API int32_t HostCreateBitmap(BitmapRecord* bitmap, uint32_t structSize, int32_t memoryMode,
                                   int32_t width, int32_t height, int32_t bitsPerPixel,
                                   uint32_t order, const COLORREF* palette, uint8_t orientation,
                                   void* data, int32_t bytesPerLine);

/* Releases the storage, palette and region the host owns for this record and clears
 * FLAG_ALLOCATED. Safe on a record already freed. */
FXKIT_API int32_t HostFreeBitmap(BitmapRecord* bitmap);

/* Number of palette entries used by the depth (2, 16, 256), 0 for direct colour. */
FXKIT_API uint32_t HostPaletteSize(int32_t bitsPerPixel);

/* View form (copy null, mode 0): sets the orientation (1 .. 8); Width, Height, regions and row
 * access then describe the image as seen in it. Copy form (mode 7): fills `copy` as an independent
 * copy of `bitmap`, pixels, palette and region included. */
FXKIT_API int32_t HostSetOrientation(BitmapRecord* copy, BitmapRecord* bitmap, uint32_t structSize,
                                     uint32_t orientation, uint32_t mode);

/* Whole-bitmap operations ------------------------------------------------------------------ *
 * Geometry is that of the picture as seen in the bitmap's orientation; results are seen in the
 * same orientation. Regions follow their pixels. A destination record distinct from the source is
 * filled anew: free any storage it holds first. */

/* Fills `destination` as an independent copy of `source` (pixels, palette, region). */
FXKIT_API int32_t HostCopyBitmap(BitmapRecord* destination, BitmapRecord* source,
                                 uint32_t structSize);

/* Makes `destination` describe the bitmap of `source`: what `destination` owned is released first,
 * and `source` is left without storage (its FLAG_ALLOCATED cleared). */
FXKIT_API int32_t HostAssignBitmap(BitmapRecord* destination, BitmapRecord* source,
                                   uint32_t structSize);

/* Converts to bitsPerPixel/order (every depth the host holds), in place when destination is
 * source. palette: paletteCount colours for a palette depth, or null for the source's palette,
 * the image's own colours when they fit, else a uniform palette. flags and reserved: 0. */
FXKIT_API int32_t HostConvertBitmap(BitmapRecord* destination, BitmapRecord* source,
                                    uint32_t structSize, int32_t bitsPerPixel, uint32_t order,
                                    const COLORREF* palette, uint32_t paletteCount, uint32_t flags,
                                    int32_t reserved1, int32_t reserved2);

/* Turns the bitmap into gray levels of bitsPerPixel (8, 12 or 16), (b + 5g + 2r + 4) / 8. */
FXKIT_API int32_t HostGrayscaleBitmap(BitmapRecord* bitmap, int32_t bitsPerPixel);

/* Turns the picture by a multiple of 9000 hundredths of a degree, counter-clockwise for positive
 * angles; the size follows the turn. Other angles: ERROR_HOST_BAD_ARGUMENT. flags and fillColor
 * are accepted for compatibility. */
FXKIT_API int32_t HostRotateBitmap(BitmapRecord* bitmap, int32_t angle, uint32_t flags,
                                   COLORREF fillColor);

/* Keeps the rectangle (left, top, width, height) of the picture, which must lie inside it. */
FXKIT_API int32_t HostTrimBitmap(BitmapRecord* bitmap, int32_t left, int32_t top, int32_t width,
                                 int32_t height);

/* Re-lays the storage so that the picture seen now is seen unchanged in `orientation` (1 .. 8):
 * with 1, the stored rows become the picture's rows. A distinct destination gets a copy. */
FXKIT_API int32_t HostChangeOrientation(BitmapRecord* destination, BitmapRecord* source,
                                        uint32_t structSize, uint32_t orientation);

/* Fills `destination` as a new bitmap (orientation 1, the source's depth, order and palette, no
 * region) holding the rectangle (left, top, width, height) of the source's picture, which must lie
 * inside it. */
FXKIT_API int32_t HostCopyBitmapRect(BitmapRecord* destination, BitmapRecord* source,
                                     uint32_t structSize, int32_t left, int32_t top, int32_t width,
                                     int32_t height);

/* Resizes the picture to width x height in place (new storage, same depth, order, palette and
 * orientation; a region is dropped). The filter, the same for every method value, works on
 * working samples and separately along x, then y: an axis that grows interpolates linearly between
 * pixel centres (target d at source (d + 0.5) * from / to - 0.5, held at the edges); an axis that
 * shrinks averages the source pixels the target covers, [d * from / to, (d + 1) * from / to),
 * weighted by overlap. Sums are doubles, rounded half up once at the end; a fourth sample comes
 * from the nearest source pixel. */
FXKIT_API int32_t HostResizeBitmap(BitmapRecord* bitmap, int32_t width, int32_t height,
                                   int32_t method);

/* Combine operations of HostCombineBitmaps. */
#define HOST_COMBINE_COPY 800u               /* the source's colour replaces the destination's */
#define HOST_COMBINE_COPY_SOURCE_REGION 48u  /* the same, only where the source's region holds
                                                the source pixel */
#define HOST_COMBINE_LIGHTEN 5649u           /* each colour sample becomes the larger of the two */
/* The combine operations of a pencil drawing, on each colour sample d of the destination and s
 * of the source (max 255 or 65535; quotients rounded to the nearest integer):
 * - screen: max - (max - d)(max - s) / max. Two stroke layers drawn on black merge: black in
 *   either leaves the other, and light meets light as two transparencies held to a lamp do.
 * - multiply by the negative: d (max - s) / max. Glowing edges on black (the glow filter) become
 *   pencil lines: black in the source keeps the drawing, a bright edge darkens it.
 * - multiply: d s / max. The drawing laid over the photo as a transparent sheet: white paper
 *   shows the photo, strokes darken it. */
#define HOST_COMBINE_SCREEN 768u
#define HOST_COMBINE_MULTIPLY_NEGATIVE 1537u
#define HOST_COMBINE_MULTIPLY 2304u

/* Combines source pixel (sourceLeft + x, sourceTop + y) into destination pixel (left + x, top + y)
 * for x < width, y < height, clipped to both pictures; writes keep to the destination's region.
 * Colours convert between depths as HostConvertBitmap does (x257, (v + 128) / 257, gray
 * (b + 5g + 2r + 4) / 8 at the destination's size; a gray source is repeated in three samples);
 * on a gray destination the blending operations blend the source's gray level with the
 * destination's; a fourth destination sample keeps its value. Distinct bitmaps only. */
FXKIT_API int32_t HostCombineBitmaps(BitmapRecord* destination, int32_t left, int32_t top,
                                     int32_t width, int32_t height, BitmapRecord* source,
                                     int32_t sourceLeft, int32_t sourceTop, uint32_t operation);

/* Fills the picture (through its region, when it has one) with `colour` as HostColorToPixel writes
 * it. */
FXKIT_API int32_t HostFillBitmap(BitmapRecord* bitmap, COLORREF colour);

/* Regions (coordinates as seen in the bitmap's current orientation) ------------------------- */

/* Sets a rectangular region, clipped to the bitmap. reserved must be null; mode 1 replaces. */
FXKIT_API int32_t HostSetRegionRect(BitmapRecord* bitmap, void* reserved, const RECT* rect,
                                    int32_t mode);
/* Sets a region from a Width x Height mask of bytes; non-zero bytes are inside. */
FXKIT_API int32_t HostSetRegionMask(BitmapRecord* bitmap, const uint8_t* mask, int32_t maskStride);
FXKIT_API int32_t HostFreeRegion(BitmapRecord* bitmap);
FXKIT_API int32_t HostHasRegion(const BitmapRecord* bitmap);
/* The region's bounding rectangle, or {0, 0, Width, Height} without a region. */
FXKIT_API int32_t HostGetRegionBounds(const BitmapRecord* bitmap, void* reserved, RECT* rect);
/* Non-zero when pixel (x, y) of the current view lies inside the region (always, without one). */
FXKIT_API int32_t HostIsInRegion(const BitmapRecord* bitmap, int32_t x, int32_t y);

/* Status callback, per thread ---------------------------------------------------------------- */

/* Installs (newCallback, newUserData) for this thread; the previous pair is stored where the
 * pointers are not null. */
FXKIT_API void HostExchangeCallback(FxStatusCallback newCallback, void* newUserData,
                                    FxStatusCallback* oldCallback, void** oldUserData);

/* Generator and clocks ----------------------------------------------------------------------- */

/* The per-thread generator the effects draw from (seed 1 at thread start). */
FXKIT_API void HostSeedRandom(uint32_t seed);
FXKIT_API int32_t HostRandom(void);

/* Fix the per-process clocks the effects read (tick count in ms, calendar time in seconds), or
 * let them run again. */
FXKIT_API void HostFixTickCount(uint32_t milliseconds);
FXKIT_API void HostFixTime(int64_t seconds);
FXKIT_API void HostReleaseClocks(void);
FXKIT_API uint32_t HostGetTickCount(void);
FXKIT_API int64_t HostGetTime(void);

/* Threads ----------------------------------------------------------------------------------- */

/* Threads the effects called on this thread may use (1 .. 256); 0 restores the default: the
 * FXKIT_THREADS environment variable, else the machine's cores. Results never depend on it. */
FXKIT_API void HostSetThreadCount(int32_t threads);
FXKIT_API int32_t HostGetThreadCount(void);

/* Diagnostics -------------------------------------------------------------------------------- */

/* Host memory blocks currently allocated (pixel storage, tables, row buffers, handles). */
FXKIT_API int64_t HostLiveBlocks(void);

/* Freed blocks of 1 KiB or more are held for the next allocations of their size class, up to
 * 128 MiB in all: memory fresh from the system costs a page fault per page on first touch, which
 * can take longer than an effect's own work on the picture. HostTrimMemory gives the held blocks
 * back to the system and returns their bytes. Held blocks never count as live. */
FXKIT_API int64_t HostTrimMemory(void);

/* Library version string. */
FXKIT_API const char* FxVersion(void);

/* Glow and flare --------------------------------------------------------------------------- */

/* Writes `count` entries to `palette`: the bitmap's colour table first (as many entries as it
 * holds and count allows), zeros after it. Returns the number of entries the bitmap holds: 2, 16
 * or 256 for palette depths, 0 for direct colour and gray (and for a null bitmap). */
FXKIT_API uint32_t HostGetPalette(const BitmapRecord* bitmap, COLORREF* palette, uint32_t count);

#endif
