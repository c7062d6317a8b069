// Regions: a rectangle or a mask, kept in stored coordinates so they survive orientation changes;
// bounds and membership are answered in the bitmap's current view.
#include <algorithm>
#include <cstring>

#include "host/Host.h"
#include "host/HostInternal.h"
#include "host/runtime/Runtime.h"

namespace host {

HostRegionData* RegionOf(const BitmapRecord* b) {
  return b ? reinterpret_cast<HostRegionData*>(b->Region) : nullptr;
}

bool RegionContainsStored(const HostRegionData* r, int32_t sx, int32_t sy) {
  if (!r) return true;
  const RECT& b = r->bounds;
  if (sx < b.left || sx >= b.right || sy < b.top || sy >= b.bottom) return false;
  if (!r->isMask) return true;
  return r->mask[int64_t{sy - b.top} * r->maskStride + (sx - b.left)] != 0;
}

HostRegionData* NewRegion(const RECT& storedBounds, bool isMask) {
  int64_t w = storedBounds.right - storedBounds.left;
  int64_t h = storedBounds.bottom - storedBounds.top;
  size_t maskBytes = isMask ? static_cast<size_t>(w * h) : 0;
  auto* r = static_cast<HostRegionData*>(CountedAlloc(sizeof(HostRegionData) + maskBytes));
  if (!r) return nullptr;
  r->bounds = storedBounds;
  r->isMask = isMask;
  r->maskStride = isMask ? static_cast<int32_t>(w) : 0;
  r->mask = isMask ? reinterpret_cast<uint8_t*>(r + 1) : nullptr;
  if (maskBytes) std::memset(r->mask, 0, maskBytes);
  return r;
}

HostRegionData* CloneRegion(const HostRegionData* src) {
  HostRegionData* r = NewRegion(src->bounds, src->isMask);
  if (r && src->isMask)
    std::memcpy(r->mask, src->mask,
                static_cast<size_t>(src->maskStride) * (src->bounds.bottom - src->bounds.top));
  return r;
}

void DeleteRegion(HostRegionData* r) { CountedFree(r); }

}  // namespace host

namespace {

bool Usable(const BitmapRecord* b) {
  return b && b->StoredWidth > 0 && b->StoredHeight > 0 && host::ValidOrientation(b->Orientation);
}

// Converts a view rectangle (already clipped to the view) to stored coordinates.
RECT ViewRectToStored(const BitmapRecord* b, const RECT& v) {
  host::ViewMap m = host::MakeViewMap(b->Orientation, b->StoredWidth, b->StoredHeight);
  int32_t x0 = m.sx0 + v.left * m.xx + v.top * m.yx;
  int32_t y0 = m.sy0 + v.left * m.xy + v.top * m.yy;
  int32_t x1 = m.sx0 + (v.right - 1) * m.xx + (v.bottom - 1) * m.yx;
  int32_t y1 = m.sy0 + (v.right - 1) * m.xy + (v.bottom - 1) * m.yy;
  return RECT{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1) + 1, std::max(y0, y1) + 1};
}

RECT StoredRectToView(const BitmapRecord* b, const RECT& s) {
  int32_t x0, y0, x1, y1;
  host::StoredToView(b->Orientation, b->StoredWidth, b->StoredHeight, s.left, s.top, &x0, &y0);
  host::StoredToView(b->Orientation, b->StoredWidth, b->StoredHeight, s.right - 1, s.bottom - 1,
                     &x1, &y1);
  return RECT{std::min(x0, x1), std::min(y0, y1), std::max(x0, x1) + 1, std::max(y0, y1) + 1};
}

void ReplaceRegion(BitmapRecord* b, host::HostRegionData* r) {
  if (b->Region) host::DeleteRegion(host::RegionOf(b));
  b->Region = reinterpret_cast<HostRegion*>(r);
}

}  // namespace

int32_t HostSetRegionRect(BitmapRecord* b, void* /*reserved*/, const RECT* rect, int32_t /*mode*/) {
  if (!Usable(b)) return ERROR_NO_BITMAP;
  if (!rect) return ERROR_HOST_BAD_ARGUMENT;
  RECT view{0, 0, b->Width, b->Height}, clipped;
  if (!fxrt::IntersectRect(&clipped, rect, &view)) return ERROR_EMPTY_RECT;
  host::HostRegionData* r = host::NewRegion(ViewRectToStored(b, clipped), false);
  if (!r) return ERROR_NO_MEMORY;
  ReplaceRegion(b, r);
  return SUCCESS;
}

int32_t HostSetRegionMask(BitmapRecord* b, const uint8_t* mask, int32_t maskStride) {
  if (!Usable(b)) return ERROR_NO_BITMAP;
  if (!mask || maskStride < b->Width) return ERROR_HOST_BAD_ARGUMENT;
  RECT vb{b->Width, b->Height, 0, 0};  // bounds of the set bytes, in view coordinates
  for (int32_t y = 0; y < b->Height; ++y) {
    const uint8_t* row = mask + int64_t{y} * maskStride;
    for (int32_t x = 0; x < b->Width; ++x) {
      if (!row[x]) continue;
      vb.left = std::min(vb.left, x);
      vb.right = std::max(vb.right, x + 1);
      vb.top = std::min(vb.top, y);
      vb.bottom = std::max(vb.bottom, y + 1);
    }
  }
  if (fxrt::IsRectEmpty(&vb)) return ERROR_EMPTY_RECT;
  RECT sb = ViewRectToStored(b, vb);
  host::HostRegionData* r = host::NewRegion(sb, true);
  if (!r) return ERROR_NO_MEMORY;
  host::ViewMap m = host::MakeViewMap(b->Orientation, b->StoredWidth, b->StoredHeight);
  for (int32_t y = vb.top; y < vb.bottom; ++y) {
    const uint8_t* row = mask + int64_t{y} * maskStride;
    for (int32_t x = vb.left; x < vb.right; ++x) {
      if (!row[x]) continue;
      int32_t sx = m.sx0 + x * m.xx + y * m.yx, sy = m.sy0 + x * m.xy + y * m.yy;
      r->mask[int64_t{sy - sb.top} * r->maskStride + (sx - sb.left)] = 1;
    }
  }
  ReplaceRegion(b, r);
  return SUCCESS;
}

int32_t HostFreeRegion(BitmapRecord* b) {
  if (!b) return ERROR_NO_BITMAP;
  ReplaceRegion(b, nullptr);
  return SUCCESS;
}

int32_t HostHasRegion(const BitmapRecord* b) { return b && b->Region ? 1 : 0; }

int32_t HostGetRegionBounds(const BitmapRecord* b, void* /*reserved*/, RECT* rect) {
  if (!b || !rect) return ERROR_HOST_BAD_ARGUMENT;
  if (b->Region && Usable(b))
    *rect = StoredRectToView(b, host::RegionOf(b)->bounds);
  else
    *rect = RECT{0, 0, b->Width, b->Height};
  return SUCCESS;
}

int32_t HostGetProcessRect(const BitmapRecord* b, int32_t /*reserved*/, RECT* rect) {
  return HostGetRegionBounds(b, nullptr, rect);
}

int32_t HostIsInRegion(const BitmapRecord* b, int32_t x, int32_t y) {
  if (!Usable(b) || x < 0 || y < 0 || x >= b->Width || y >= b->Height) return 0;
  if (!b->Region) return 1;
  host::ViewMap m = host::MakeViewMap(b->Orientation, b->StoredWidth, b->StoredHeight);
  return host::RegionContainsStored(host::RegionOf(b), m.sx0 + x * m.xx + y * m.yx,
                                    m.sy0 + x * m.xy + y * m.yy);
}
