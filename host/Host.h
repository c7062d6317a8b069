// The host operations the effects call: memory, bitmap queries, row access in the working
// format, progress, and small helpers. Effects reach pixels only through these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fxkit/host.h"
#include "fxkit/types.h"

// Opaque row-access handle; see RowAccess.cpp.
struct RowAccess;

// A zeroed progress context, 40 bytes as callers allocate it.
struct HostProgressContext {
  int32_t started;
  int32_t lastPercent;
  int32_t reserved[8];
};
static_assert(sizeof(HostProgressContext) == 40);

// Memory ---------------------------------------------------------------------------------------

// count x size bytes, or null (size overflow, fault injection, out of memory). Zero bytes gives a
// valid block. Every block counts in HostLiveBlocks until HostFreeMemory.
void* HostAllocMemory(uint32_t count, uint32_t size, int32_t line, const char* unit);
// As HostAllocMemory, the block starts zeroed.
void* HostAllocClearedMemory(uint32_t count, uint32_t size, int32_t line, const char* unit);
void HostFreeMemory(void* block, int32_t line, const char* unit);
void HostMemSet(void* block, int value, size_t count);
void HostMemCopy(void* destination, const void* source, size_t count);

// Bitmap queries -------------------------------------------------------------------------------

int32_t HostIsGrayscale(const BitmapRecord* bitmap);
int32_t HostFinishUpdate(BitmapRecord* bitmap);
int32_t HostGetProcessRect(const BitmapRecord* bitmap, int32_t reserved, RECT* rect);

// Row access -----------------------------------------------------------------------------------

// mode 2 is the plain mode; the bits 0x10, 0x80 and 0x100 are accepted and change nothing.
int32_t HostOpenRowAccess(BitmapRecord* bitmap, RowAccess** handle, int32_t mode);
void HostCloseRowAccess(RowAccess* handle);
int32_t HostSampleBits(const RowAccess* handle);   // 8 or 16
int32_t HostPixelStep(const RowAccess* handle);    // samples per pixel: 1, 3 or 4
int32_t HostRowBytes(const RowAccess* handle);     // bytes of one working row
// One working row plus 4 x pixel step spare bytes (at least), or null.
void* HostAllocRowBuffer(RowAccess* handle);
int32_t HostReadRow(RowAccess* handle, void* buffer, int32_t row, int32_t reserved, void* unused);
int32_t HostWriteRow(RowAccess* handle, const void* buffer, int32_t row, int32_t reserved,
                     int32_t unused);
// Rows first .. first + count - 1 into rows[0 .. count - 1], as that many HostReadRow calls in
// order: the same fault points, and on the first failure its code with the rows before it read.
// A turned view's band is read one stored row at a time, about as fast as plain rows.
int32_t HostReadRows(RowAccess* handle, uint8_t* const* rows, int32_t first, int32_t count);
// rows[0 .. count - 1] into rows first .. first + count - 1, as that many HostWriteRow calls in
// order: the same fault points, progress reports and cancel point.
int32_t HostWriteRows(RowAccess* handle, const uint8_t* const* rows, int32_t first,
                      int32_t count);
// Begin the write phase. The region variants change only pixels inside the bitmap's region; the
// Ex variants report progress between first and last percent as rows are written.
int32_t HostBeginWrite(RowAccess* handle);
int32_t HostBeginRegionWrite(RowAccess* handle);
int32_t HostBeginWriteEx(RowAccess* handle, int32_t firstPercent, int32_t lastPercent);
int32_t HostBeginRegionWriteEx(RowAccess* handle, int32_t firstPercent, int32_t lastPercent);
// Write phase whose progress runs over rect's rows (one step per row written or per
// HostAdvanceProgress step); writes keep to the bitmap's region when it has one.
int32_t HostBeginRectWrite(RowAccess* handle, int32_t firstPercent, int32_t lastPercent,
                           const RECT* rect);
// Advances the progress of the write phase by `steps` and answers the callback's verdict.
int32_t HostAdvanceProgress(RowAccess* handle, int32_t steps);

// Progress -------------------------------------------------------------------------------------

int32_t HostProgressBegin(HostProgressContext* context);
int32_t HostProgressReport(HostProgressContext* context, int32_t percent);
// Calls this thread's status callback (SUCCESS when there is none).
int32_t HostReportStatus(int32_t percent);

// Helpers --------------------------------------------------------------------------------------

int32_t HostNothingToDo();
// Writes `colour` (0x00BBGGRR) as one working pixel: blue, green, red in samples 0, 1, 2; a gray
// pixel gets (b + 5g + 2r) / 8; 16-bit samples are scaled by 257. A fourth sample is left alone.
void HostColorToPixel(void* buffer, COLORREF colour, int32_t bitsPerSample,
                      int32_t samplesPerPixel);
// view[i] = ring[(centre + i - count / 2) mod count]: the centre slot lands in the middle entry.
void HostCenterRowWindow(void* const* ring, void** view, int32_t count, int32_t centre);

// The four bilinear weights of a source position whose fractions fx, fy are in hundredths: the
// neighbours (x0, r0), (x0 + 1, r0), (x0, r0 + 1), (x0 + 1, r0 + 1), in this order.
struct HostWeights {
  int32_t w[4];
};
// table[fx][fy] for fx, fy = 0 .. 100 (101 pointers, each to 101 entries) gets the exact shares
// (100 - fx)(100 - fy), fx(100 - fy), (100 - fx)fy, fx·fy, which sum to 10000.
void HostFillWeightTable(HostWeights* const* table);

// Whole-image filters of the content-aware rescaling ------------------------------------------
// Each works on the picture as seen, keeps a fourth sample, writes through the bitmap's region and
// answers SUCCESS or the first host code.

// Blends every sample with its 3 x 3 binomial blur by `strength` percent (0 .. 100).
int32_t HostPreFilter(BitmapRecord* bitmap, int32_t strength, int32_t reserved1, int32_t reserved2);
// Every colour pixel becomes the gray level (r*redWeight + g*greenWeight + b*blueWeight) / 1000,
// rounded and saturated, in all three samples; a gray level is mixed as r = g = b.
int32_t HostChannelMix(BitmapRecord* bitmap, int32_t redWeight, int32_t greenWeight,
                       int32_t blueWeight);
// Every sample becomes its Sobel edge strength (|gx| + |gy|) * gain / 800, saturated.
int32_t HostEnergyFilter(BitmapRecord* bitmap, int32_t gain);

// Fault injection, per thread (tests) ----------------------------------------------------------

struct HostFaultPlan {
  int64_t failAllocAt = 0;   // fail the N-th allocation (1-based); 0: never
  int64_t failReadAt = 0;    // the N-th HostReadRow answers `code`
  int64_t failWriteAt = 0;   // the N-th HostWriteRow answers `code`
  int64_t failBeginAt = 0;   // the N-th write preparation answers `code`
  int64_t failOpenAt = 0;    // the N-th HostOpenRowAccess answers `code`
  int32_t code = ERROR_HOST_INJECTED;
};
struct HostFaultCounts {
  int64_t allocs = 0;
  int64_t reads = 0;
  int64_t writes = 0;
  int64_t begins = 0;
  int64_t opens = 0;
  // The injected fault hit while the status callback was switched off, that is inside a
  // whole-image host operation whose result an effect may leave unexamined.
  bool hitWhilePaused = false;
};
// Installs a plan and resets the counters; a default plan disarms.
void HostSetFaultPlan(const HostFaultPlan& plan);
HostFaultCounts HostGetFaultCounts();

// Allocation helpers that tag the call site.
#define FX_ALLOC(count, size) HostAllocMemory((count), (size), __LINE__, __FILE__)
#define FX_ALLOC_CLEARED(count, size) HostAllocClearedMemory((count), (size), __LINE__, __FILE__)
#define FX_FREE(block) HostFreeMemory((block), __LINE__, __FILE__)

// The wave family -------------------------------------------------------------------------------

// Expands a table to tenths of a unit: destination[k], k = 0 .. count - 1, stands for position
// k / 10 and reads table[k / 10] and table[k / 10 + 1]. With i0 = k / 10, f = k / 10.0 - i0,
// w0 = trunc(10 × (1 - f)) and w1 = trunc(10 × f), entry k = (w0·table[i0] + w1·table[i0 + 1]) /
// (w0 + w1) (w0 + w1 is 9 or 10, as the doubles round).
void HostExpandTable(double* destination, const double* table, uint32_t count);

// Glow and flare ------------------------------------------------------------------------------

// A sampled Gaussian of standard deviation sigma as `count` (odd, 1 .. 65535) integer weights:
// weights[i] = floor(65535 * exp(-(i - half)² / (2 sigma²)) + 0.5) with half = (count - 1) / 2,
// so the middle weight is 65535 and the weights are symmetric about it. Returns their sum (below
// 2^32), or 0 without writing anything when count or sigma (> 0) is out of range.
uint32_t HostGaussKernel(uint16_t* weights, int32_t count, double sigma);
// Blur, light and glow: lighting and region handles ---------------------------------------------

struct FunctionalLightInfo;

// The lighting operations of Fx_FunctionalLightBitmap (host/Lighting.cpp). Each works on the
// rectangle to process (the region's bounds) in the bitmap's current view, row by row, writing
// through the region; a fourth sample keeps its value. With M the sample maximum, c_k the light's
// colour sample k at 8 bits (blue, green, red of `color`; a gray pixel (b + 5g + 2r) / 8) and s
// in 0 .. 1 the light reaching the pixel, every colour sample (or the gray sample) p becomes
//   p' = p x f_k, f_k = (ambient + intensity x s x c_k / 255.0) / 100.0, clipped to 0 .. M and
//   truncated.
// Angles are hundredths of a degree, turned into radians by x 3.1415926535 / 18000; azimuth 0
// points along +x (right), 9000 along -y (up). A field outside its range: ERROR_INV_PARAMETER.
//
// A, directional (azimuth -36000 .. 36000, elevation 0 .. 9000): the light vector
//   L = (cos e cos a, -cos e sin a, sin e); the picture is a relief whose height is 4 pixels x
//   gray / M (gray: the sample, or (b + 5g + 2r + 4) / 8), so with the Sobel sums of the gray
//   levels gx = (right column: 1, 2, 1) - (left column), gy = (row below) - (row above),
//   neighbours clamped to the bitmap, the normal is N = (-gx / 2M, -gy / 2M, 1) / |...| and
//   s = max(0, N . L). A flat picture gets s = sin e; a light straight above (e = 9000) gives s
//   = 1.
int32_t HostFunctionalLightA(BitmapRecord* bitmap, const FunctionalLightInfo* info);
// B, point (falloff 0 .. 1000): with d the distance of the pixel from (x, y),
//   s = (1 - d / radius) ^ (falloff / 100.0) when d < radius, else 0.
int32_t HostFunctionalLightB(BitmapRecord* bitmap, const FunctionalLightInfo* info);
// C, spot (azimuth -36000 .. 36000, falloff 0 .. 1000, coneAngle 0 .. 36000, softness 0 .. 100):
//   s = the point light's s x cone, where phi is the angle between the pixel's direction from
//   (x, y) and the beam (cos azimuth, -sin azimuth), h = coneAngle / 2 in radians and
//   g = h x softness / 100: cone = 0 when phi > h, 1 when phi <= h - g, else (h - phi) / g. The
//   light's own pixel (d = 0) is on the beam.
int32_t HostFunctionalLightC(BitmapRecord* bitmap, const FunctionalLightInfo* info);

// Region handles (host/RegionHandles.cpp): a region taken off a bitmap, moved and set on another.
// A handle holds a rectangle, or a mask of bytes over its bounds, in the coordinates of the view
// it was taken in. It lives in host memory until HostReleaseTracked(3, handle).
struct HostRegionHandle;
// A new handle holding the bitmap's region as seen in its current view; null when the bitmap has
// no region or memory fails.
HostRegionHandle* HostGetRegionHandle(const BitmapRecord* bitmap);
// Replaces the bitmap's region by the handle's, clipped to its current view (`mode` 1 replaces;
// `reserved` null). SUCCESS, ERROR_EMPTY_RECT when none of it lies in the bitmap (the bitmap's
// region is then left as it was), ERROR_NO_MEMORY, or ERROR_HOST_BAD_ARGUMENT.
int32_t HostSetRegion(BitmapRecord* bitmap, void* reserved, const HostRegionHandle* region,
                      int32_t mode);
// Ends the host's hold on an object it handed out: kind 3, a region handle, is freed. SUCCESS, or
// ERROR_HOST_BAD_ARGUMENT for another kind or a null object.
int32_t HostReleaseTracked(int32_t kind, void* object);

namespace fxrt {
// Region queries with the meaning of their Windows namesakes: the bounding box (right and bottom
// exclusive) and a move by (dx, dy), saturating at the 32-bit limits. Both answer the region's
// kind: 2 for a rectangle, 3 for a mask, 0 for a null handle.
int32_t GetRgnBox(const HostRegionHandle* region, RECT* box);
int32_t OffsetRgn(HostRegionHandle* region, int32_t dx, int32_t dy);
}  // namespace fxrt
// Drawing on mask bitmaps (the tile effects) -------------------------------------------------
// A drawing context draws straight into the stored pixels of an 8-bit gray, 24-bit or 32-bit
// colour bitmap, in the picture as seen in its orientation, clipped to the picture (its region is
// ignored), without anti-aliasing: every pixel drawn takes exactly the pen's or brush's colour.
// A colour on a gray bitmap is the host's gray mix (b + 5g + 2r + 4) / 8; a fourth byte is left
// alone. Geometry: pixel (x, y) is the unit square centred on the point (x, y).
//
// Lines: the thin line from A to B is, for each step along its longer axis (x on ties) from A to B
// inclusive, the pixel whose other coordinate is A's plus round-half-up(i·|d minor| / |d major|)
// in the direction of B (i the steps taken). A pen of width w paints, at every pixel p of the thin
// line, the pixels p + (dx, dy) with dx, dy in [-(w - 1) div 2, w div 2] and
// (2dx - e)² + (2dy - e)² <= w², e = w div 2 - (w - 1) div 2 (a disc; w = 1 is the pixel, 2 and 3
// squares of 2 and 3).
//
// PolyBezier(points, 1 + 3k): cubic segment j uses points 3j .. 3j + 3. Each is flattened into N
// chords, N = ceil(L / 2) limited to 1 .. 4096, L the sum of max(|dx|, |dy|) over its three
// control legs; chord ends are B(i / N) for i = 0 .. N, B(t) = u³P0 + 3u²tP1 + 3ut²P2 + t³P3
// (u = 1 - t, each product left to right, terms summed in this order), rounded to
// floor(v + 0.5) per coordinate. Every chord is a thin line drawn with the pen.
//
// Polygon(points, n >= 2): first the brush fills every pixel whose centre lies inside the
// polygon by the even-odd rule, a scanline y meeting an edge when min(y0, y1) <= y < max(y0, y1)
// and a centre counting as inside a crossing at X when X <= x; then the pen draws the thin lines
// of the closed outline (point n - 1 back to point 0). A new context has a stock pen (black, width
// 1) and a stock brush (white) selected. Points beyond ±2^28 are refused (ERROR_HOST_BAD_ARGUMENT).
struct HostDC;
struct HostDrawObject;

#define HOST_PEN_SOLID 0

// A drawing context on the bitmap, or null (a format other than 8-bit gray, 24 or 32 bits, a
// record the host cannot read, or no memory).
HostDC* HostCreateBitmapDC(BitmapRecord* bitmap);
// Releases the context; objects selected into it are deselected, not deleted.
void HostDeleteBitmapDC(HostDC* dc);
// A solid pen of `width` pixels (below 1 counts as 1) and `colour` (0x00BBGGRR), or null (a style
// other than HOST_PEN_SOLID, a width above 1024, no memory).
HostDrawObject* HostCreatePen(int32_t style, int32_t width, COLORREF colour);
// A solid brush, or null (no memory).
HostDrawObject* HostCreateBrush(COLORREF colour);
// Selects a pen or brush; answers the object of that kind selected before (null for a null
// context or object).
HostDrawObject* HostSelectObject(HostDC* dc, HostDrawObject* object);
// Deletes a pen or brush. A selected object is refused (ERROR_HOST_BAD_ARGUMENT); the stock
// objects need no deletion (SUCCESS, nothing happens).
int32_t HostDeleteObject(HostDrawObject* object);
// Draw with the selected pen (PolyBezier) or brush and pen (Polygon); SUCCESS,
// ERROR_HOST_BAD_ARGUMENT (null context or points, a count outside the forms above, a point
// beyond ±2^28) or ERROR_NO_MEMORY.
int32_t HostPolyBezier(HostDC* dc, const POINT* points, uint32_t count);
int32_t HostPolygon(HostDC* dc, const POINT* points, uint32_t count);
// `lists` Bézier polylines drawn with the selected pen as HostPolyBezier draws each, their points
// one after the other (counts[i] points for list i); the same pixels as drawing them one by one,
// painted on the calling thread's threads. Nothing is drawn when any list is refused
// (ERROR_HOST_BAD_ARGUMENT, as HostPolyBezier refuses a list, or a null context or counts).
int32_t HostPolyPolyBezier(HostDC* dc, const POINT* points, const uint32_t* counts,
                           uint32_t lists);
// The colour of pixel (x, y) of the picture as seen, the position clamped into the picture:
// palette entry, colour samples, or a gray level in all three; 16-bit samples become
// (v + 128) / 257, 12-bit levels are first widened as the row access does (v << 4 | v >> 8).
// 0xFFFFFFFF for a bitmap the host cannot read.
COLORREF HostGetPixelColor(const BitmapRecord* bitmap, int32_t x, int32_t y);

// Gray levels of working rows (the tile and texture effects) ---------------------------------
// The gray level of every pixel of a working row of `width` pixels (sampleBits 8 or 16,
// pixelStep samples per pixel) into `gray`, one level per pixel of the same sample size: a
// one-sample pixel is its own level; a colour pixel is the host's gray mix (b + 5g + 2r + 4) / 8
// of its first three samples (blue, green, red), as HostGrayscaleBitmap turns colour into gray.
void HostGrayRow(const void* row, int32_t sampleBits, int32_t pixelStep, int32_t width,
                 void* gray);

// Pencil drawing (the colored pencil effects) --------------------------------------------------
// Whole-image operations on the picture as seen. Each changes the colour samples (a fourth sample
// keeps its value), writes through the bitmap's region when it has one, and answers SUCCESS, the
// first host code, or ERROR_HOST_BAD_ARGUMENT for an argument outside the range given.

// The neighbourhood of `size` (0 .. 100): the square of side 2r + 1 centred on the pixel,
// r = 1 + size / 10, clipped to the picture.
// Filter A, the brightest neighbour: every sample becomes the largest value of its channel in the
// neighbourhood, so it is never below the sample.
int32_t HostPencilFilterA(BitmapRecord* bitmap, uint32_t size);
// Filter B, the neighbourhood's mean: every sample becomes the mean of its channel over the
// neighbourhood's n pixels, (sum + n / 2) / n in integers.
int32_t HostPencilFilterB(BitmapRecord* bitmap, uint32_t size);

// Pencil pressure `value` (0 .. 1000; `reserved` 0) on the ink of every sample s, i = max - s:
// 0 leaves white paper; otherwise i becomes max x (i / max)^(500 / value), rounded half up (500
// keeps the picture, 1000 draws darker, lower values lighter).
int32_t HostPencilAdjust(BitmapRecord* bitmap, uint32_t value, int32_t reserved);

// Pencil strokes along the direction `angle` (hundredths of a degree, counter-clockwise from the
// x axis as the picture is seen: 4500 rises to the right, 13500 to the left).
// With n = min(|amount|, 256) (n <= 1 changes nothing) and (c, s) the cosine and sine of
// angle x 3.1415926535 / 18000:
// - the stroke: every sample becomes the mean of the n samples at the offsets
//   (floor(t c + 0.5), floor(-t s + 0.5)), t = i - (n - 1) / 2 for i = 0 .. n - 1, positions
//   clamped to the picture; (sum + n / 2) / n;
// - mode 1 also gives the strokes a pencil's grain: pixel (x, y) lies on line
//   j = floor(x s + y c) across the direction, in segment k = floor((x c - y s + n u) / n) along
//   it, with u = Hash(j) / 2^32 staggering the segments of neighbouring lines; with
//   g = Hash(Hash(j) ^ k) / 2^32, the ink i = max - m of the stroke's mean m becomes
//   i x (0.5 + g), rounded half up and held to 0 .. max. Hash(v) is the 32-bit finalizer of
//   MurmurHash3 on the value's 32-bit pattern. Mode 0 draws the strokes without grain.
int32_t HostDirectionalFilter(BitmapRecord* bitmap, int32_t amount, int32_t angle, int32_t mode);
