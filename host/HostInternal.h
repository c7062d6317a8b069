// Host internals shared by the host units: stored pixel formats, orientation views, regions and
// the per-thread fault plan. Effects never include this.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "fxkit/types.h"
#include "host/Host.h"

namespace host {

enum class PixelFormat { Invalid, Pal1, Pal4, Pal8, Gray8, Gray12, Gray16, Rgb24, Rgb32, Rgb48, Rgb64 };

PixelFormat FormatOf(int32_t bitsPerPixel, uint32_t order);
bool IsPaletteFormat(PixelFormat format);
// Bits one stored pixel occupies (12-bit gray lives in 16-bit words).
int32_t StoredBitsPerPixel(PixelFormat format);
int32_t WorkingSampleBits(PixelFormat format);
int32_t WorkingPixelStep(PixelFormat format);
// Bytes of a stored row of `width` pixels, padded to 4 bytes.
int64_t MinimumStride(PixelFormat format, int32_t width);

constexpr uint32_t kHostOwnsData = 0x1;
constexpr uint32_t kHostOwnsPalette = 0x2;
constexpr int32_t kMaxDimension = 1 << 24;
constexpr int64_t kMaxStorageBytes = int64_t{1} << 34;

// Clears the record's storage fields without freeing them: their owner has freed or taken them.
void DetachStorage(BitmapRecord* bitmap);

bool ValidOrientation(uint32_t orientation);
bool IsTransposed(uint32_t orientation);

// Maps view coordinates (x, y) of an orientation to stored coordinates:
// sx = sx0 + x*xx + y*yx, sy = sy0 + x*xy + y*yy.
struct ViewMap {
  int32_t sx0, sy0, xx, xy, yx, yy;
};
ViewMap MakeViewMap(uint32_t orientation, int32_t storedWidth, int32_t storedHeight);
// Stored coordinates to view coordinates.
void StoredToView(uint32_t orientation, int32_t storedWidth, int32_t storedHeight, int32_t sx,
                  int32_t sy, int32_t* x, int32_t* y);
// View size of the stored size in an orientation.
void ViewSize(uint32_t orientation, int32_t storedWidth, int32_t storedHeight, int32_t* width,
              int32_t* height);

// A region in stored coordinates: its bounds and, for a mask region, one byte per pixel of the
// bounds (non-zero inside). Lives in one host block.
struct HostRegionData {
  RECT bounds;  // stored coordinates, right/bottom exclusive
  int32_t isMask;
  int32_t maskStride;
  uint8_t* mask;  // points into the same block, or null
};

HostRegionData* RegionOf(const BitmapRecord* bitmap);
bool RegionContainsStored(const HostRegionData* region, int32_t sx, int32_t sy);
// Creates a region block (mask bytes zeroed when isMask), or null.
HostRegionData* NewRegion(const RECT& storedBounds, bool isMask);
HostRegionData* CloneRegion(const HostRegionData* region);
void DeleteRegion(HostRegionData* region);

// Validates the record for row access: ERROR_NO_BITMAP, ERROR_INV_STRUCT_SIZE,
// ERROR_HOST_BAD_FORMAT, ERROR_HOST_BAD_RECORD, or SUCCESS.
int32_t ValidateForAccess(const BitmapRecord* bitmap);

// Fault injection hooks (per thread). Each call counts one operation of its kind.
bool FaultOnAlloc();
bool FaultOnRead(int32_t* code);
bool FaultOnWrite(int32_t* code);
bool FaultOnBegin(int32_t* code);
bool FaultOnOpen(int32_t* code);

// Whether this thread has a status callback installed (not switched off).
bool StatusCallbackInstalled();

// HostReadRows(in, inRows, inFirst, count), HostReadRows(out, outRows, outFirst, count),
// combine(context, k) for every row k and HostWriteRows(out, outRows, outFirst, count), with the
// same fault points, checks, progress and result. Where nothing can stop the writes between two
// rows, each row is read, combined and written by one thread in one hand-out to the threads (a
// failed call leaves the row buffers unspecified). combine touches only row k's buffers. Without
// `in` (null) only the destination rows are read.
int32_t ReadCombineWriteRows(RowAccess* in, uint8_t* const* inRows, int32_t inFirst, RowAccess* out,
                             uint8_t* const* outRows, int32_t outFirst, int32_t count,
                             void (*combine)(void*, int32_t), void* context);
template <class Combine>
int32_t ReadCombineWrite(RowAccess* in, uint8_t* const* inRows, int32_t inFirst, RowAccess* out,
                         uint8_t* const* outRows, int32_t outFirst, int32_t count,
                         Combine&& combine) {
  return ReadCombineWriteRows(
      in, inRows, inFirst, out, outRows, outFirst, count,
      [](void* c, int32_t k) { (*static_cast<std::remove_reference_t<Combine>*>(c))(k); },
      &combine);
}

// Counted raw allocation without the fault hook (used by the hooks' own callers).
void* CountedAlloc(size_t bytes, bool cleared = false);
void CountedFree(void* block);

}  // namespace host
