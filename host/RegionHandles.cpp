// Region handles: a bitmap's region taken off as an object of its own (a rectangle or a mask of
// bytes over its bounds, in view coordinates), moved, and set on another bitmap. The vignette
// uses them to carry a region onto a copy of its bounding rectangle. Definitions in host/Host.h.
#include <algorithm>
#include <cstring>

#include "host/Host.h"
#include "host/HostInternal.h"
#include "host/runtime/Runtime.h"

struct HostRegionHandle {
  RECT bounds;  // view coordinates, right and bottom exclusive
  int32_t isMask;
  int32_t stride;  // mask bytes per row (the bounds' width)
  uint8_t* mask;   // inside the same block, or null
};

namespace {

constexpr int32_t kRectRegion = 2, kMaskRegion = 3;

int32_t Saturate(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

}  // namespace

HostRegionHandle* HostGetRegionHandle(const BitmapRecord* bitmap) {
  if (!HostHasRegion(bitmap)) return nullptr;
  RECT bounds;
  HostGetRegionBounds(bitmap, nullptr, &bounds);
  const bool isMask = host::RegionOf(bitmap)->isMask != 0;
  const int64_t w = int64_t{bounds.right} - bounds.left, h = int64_t{bounds.bottom} - bounds.top;
  const int64_t maskBytes = isMask ? w * h : 0;
  if (w <= 0 || h <= 0 || maskBytes > int64_t{UINT32_MAX} - int64_t{sizeof(HostRegionHandle)})
    return nullptr;
  auto* handle = static_cast<HostRegionHandle*>(
      FX_ALLOC(static_cast<uint32_t>(sizeof(HostRegionHandle) + maskBytes), 1));
  if (!handle) return nullptr;
  handle->bounds = bounds;
  handle->isMask = isMask;
  handle->stride = isMask ? static_cast<int32_t>(w) : 0;
  handle->mask = isMask ? reinterpret_cast<uint8_t*>(handle + 1) : nullptr;
  for (int64_t y = 0; y < (isMask ? h : 0); ++y)
    for (int64_t x = 0; x < w; ++x)
      handle->mask[y * w + x] = HostIsInRegion(bitmap, static_cast<int32_t>(bounds.left + x),
                                               static_cast<int32_t>(bounds.top + y))
                                    ? 1
                                    : 0;
  return handle;
}

int32_t HostSetRegion(BitmapRecord* bitmap, void* /*reserved*/, const HostRegionHandle* region,
                      int32_t /*mode*/) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (!region) return ERROR_HOST_BAD_ARGUMENT;
  if (!region->isMask) return HostSetRegionRect(bitmap, nullptr, &region->bounds, 1);
  // A mask over the whole view, set from the handle's bytes that fall inside it.
  const int32_t w = bitmap->Width, h = bitmap->Height;
  if (w <= 0 || h <= 0) return ERROR_HOST_BAD_ARGUMENT;
  auto* mask = static_cast<uint8_t*>(FX_ALLOC_CLEARED(static_cast<uint32_t>(w), h));
  if (!mask) return ERROR_NO_MEMORY;
  const RECT& b = region->bounds;
  bool any = false;
  for (int64_t y = std::max<int64_t>(b.top, 0); y < std::min<int64_t>(b.bottom, h); ++y)
    for (int64_t x = std::max<int64_t>(b.left, 0); x < std::min<int64_t>(b.right, w); ++x) {
      const uint8_t inside = region->mask[(y - b.top) * region->stride + (x - b.left)];
      mask[y * w + x] = inside;
      any = any || inside;
    }
  const int32_t rc = any ? HostSetRegionMask(bitmap, mask, w) : ERROR_EMPTY_RECT;
  FX_FREE(mask);
  return rc;
}

int32_t HostReleaseTracked(int32_t kind, void* object) {
  if (kind != 3 || !object) return ERROR_HOST_BAD_ARGUMENT;
  FX_FREE(object);
  return SUCCESS;
}

namespace fxrt {

int32_t GetRgnBox(const HostRegionHandle* region, RECT* box) {
  if (!region) return 0;
  if (box) *box = region->bounds;
  return region->isMask ? kMaskRegion : kRectRegion;
}

int32_t OffsetRgn(HostRegionHandle* region, int32_t dx, int32_t dy) {
  if (!region) return 0;
  RECT& b = region->bounds;
  b = RECT{Saturate(int64_t{b.left} + dx), Saturate(int64_t{b.top} + dy),
           Saturate(int64_t{b.right} + dx), Saturate(int64_t{b.bottom} + dy)};
  return region->isMask ? kMaskRegion : kRectRegion;
}

}  // namespace fxrt
