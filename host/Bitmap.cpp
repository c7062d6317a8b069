// Bitmap records: stored formats, creation and release of pixel storage, orientation views and
// whole-record copies.
#include <algorithm>
#include <cstring>

#include "host/Host.h"
#include "host/HostInternal.h"
#include "host/RowEngine.h"

namespace host {

PixelFormat FormatOf(int32_t bitsPerPixel, uint32_t order) {
  switch (bitsPerPixel) {
    case 1: return PixelFormat::Pal1;
    case 4: return PixelFormat::Pal4;
    case 8: return order == ORDER_GRAY ? PixelFormat::Gray8 : PixelFormat::Pal8;
    case 12: return order == ORDER_GRAY ? PixelFormat::Gray12 : PixelFormat::Invalid;
    case 16: return order == ORDER_GRAY ? PixelFormat::Gray16 : PixelFormat::Invalid;
    case 24: return order <= ORDER_RGB ? PixelFormat::Rgb24 : PixelFormat::Invalid;
    case 32: return order <= ORDER_RGB ? PixelFormat::Rgb32 : PixelFormat::Invalid;
    case 48: return order <= ORDER_RGB ? PixelFormat::Rgb48 : PixelFormat::Invalid;
    case 64: return order <= ORDER_RGB ? PixelFormat::Rgb64 : PixelFormat::Invalid;
    default: return PixelFormat::Invalid;
  }
}

bool IsPaletteFormat(PixelFormat f) {
  return f == PixelFormat::Pal1 || f == PixelFormat::Pal4 || f == PixelFormat::Pal8;
}

int32_t StoredBitsPerPixel(PixelFormat f) {
  switch (f) {
    case PixelFormat::Pal1: return 1;
    case PixelFormat::Pal4: return 4;
    case PixelFormat::Pal8:
    case PixelFormat::Gray8: return 8;
    case PixelFormat::Gray12:
    case PixelFormat::Gray16: return 16;
    case PixelFormat::Rgb24: return 24;
    case PixelFormat::Rgb32: return 32;
    case PixelFormat::Rgb48: return 48;
    case PixelFormat::Rgb64: return 64;
    default: return 0;
  }
}

int32_t WorkingSampleBits(PixelFormat f) {
  switch (f) {
    case PixelFormat::Gray12:
    case PixelFormat::Gray16:
    case PixelFormat::Rgb48:
    case PixelFormat::Rgb64: return 16;
    default: return 8;
  }
}

int32_t WorkingPixelStep(PixelFormat f) {
  switch (f) {
    case PixelFormat::Gray8:
    case PixelFormat::Gray12:
    case PixelFormat::Gray16: return 1;
    case PixelFormat::Rgb32:
    case PixelFormat::Rgb64: return 4;
    default: return 3;
  }
}

int64_t MinimumStride(PixelFormat f, int32_t width) {
  int64_t bits = int64_t{width} * StoredBitsPerPixel(f);
  return ((bits + 31) / 32) * 4;
}

bool ValidOrientation(uint32_t o) { return o >= 1 && o <= 8; }
bool IsTransposed(uint32_t o) { return o >= 5 && o <= 8; }

void ViewSize(uint32_t o, int32_t sw, int32_t sh, int32_t* w, int32_t* h) {
  *w = IsTransposed(o) ? sh : sw;
  *h = IsTransposed(o) ? sw : sh;
}

ViewMap MakeViewMap(uint32_t o, int32_t sw, int32_t sh) {
  switch (o) {
    case 2: return {sw - 1, 0, -1, 0, 0, 1};
    case 3: return {sw - 1, sh - 1, -1, 0, 0, -1};
    case 4: return {0, sh - 1, 1, 0, 0, -1};
    case 5: return {0, 0, 0, 1, 1, 0};
    case 6: return {0, sh - 1, 0, -1, 1, 0};
    case 7: return {sw - 1, sh - 1, 0, -1, -1, 0};
    case 8: return {sw - 1, 0, 0, 1, -1, 0};
    default: return {0, 0, 1, 0, 0, 1};
  }
}

void StoredToView(uint32_t o, int32_t sw, int32_t sh, int32_t sx, int32_t sy, int32_t* x,
                  int32_t* y) {
  switch (o) {
    case 2: *x = sw - 1 - sx, *y = sy; break;
    case 3: *x = sw - 1 - sx, *y = sh - 1 - sy; break;
    case 4: *x = sx, *y = sh - 1 - sy; break;
    case 5: *x = sy, *y = sx; break;
    case 6: *x = sh - 1 - sy, *y = sx; break;
    case 7: *x = sh - 1 - sy, *y = sw - 1 - sx; break;
    case 8: *x = sy, *y = sw - 1 - sx; break;
    default: *x = sx, *y = sy; break;
  }
}

int32_t ValidateForAccess(const BitmapRecord* b) {
  if (!b || !(b->Flags & FLAG_ALLOCATED) || !b->Data) return ERROR_NO_BITMAP;
  if (b->StructSize != BITMAP_STRUCT_SIZE && b->StructSize != BITMAP_STRUCT_SIZE_OLD)
    return ERROR_INV_STRUCT_SIZE;
  PixelFormat f = FormatOf(b->BitsPerPixel, b->Order);
  if (f == PixelFormat::Invalid) return ERROR_HOST_BAD_FORMAT;
  if (!ValidOrientation(b->Orientation)) return ERROR_HOST_BAD_RECORD;
  if (b->StoredWidth < 1 || b->StoredHeight < 1 || b->StoredWidth > kMaxDimension ||
      b->StoredHeight > kMaxDimension)
    return ERROR_HOST_BAD_RECORD;
  int32_t w, h;
  ViewSize(b->Orientation, b->StoredWidth, b->StoredHeight, &w, &h);
  if (w != b->Width || h != b->Height) return ERROR_HOST_BAD_RECORD;
  if (b->BytesPerLine < MinimumStride(f, b->StoredWidth)) return ERROR_HOST_BAD_RECORD;
  if (IsPaletteFormat(f) && (!b->Palette || b->PaletteCount == 0)) return ERROR_HOST_BAD_RECORD;
  return SUCCESS;
}

void DetachStorage(BitmapRecord* b) {
  b->Data = nullptr;
  b->Palette = nullptr;
  b->PaletteCount = 0;
  b->Region = nullptr;
  b->HostFlags = 0;
  b->Flags &= ~FLAG_ALLOCATED;
}

}  // namespace host

using host::PixelFormat;

namespace {

// Writes only the bytes a record of `structSize` holds.
void ClearRecord(BitmapRecord* b, uint32_t structSize) {
  std::memset(b, 0, structSize == BITMAP_STRUCT_SIZE_OLD ? BITMAP_STRUCT_SIZE_OLD
                                                         : sizeof(BitmapRecord));
  b->StructSize = structSize;
}

bool ValidStructSize(uint32_t s) { return s == BITMAP_STRUCT_SIZE || s == BITMAP_STRUCT_SIZE_OLD; }

void FillGrayRamp(COLORREF* palette, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t v = count > 1 ? i * 255 / (count - 1) : 0;
    palette[i] = v | v << 8 | v << 16;
  }
}

int32_t AllocPalette(BitmapRecord* b, const COLORREF* source, uint32_t count) {
  auto* palette = static_cast<COLORREF*>(FX_ALLOC(count, sizeof(COLORREF)));
  if (!palette) return ERROR_NO_MEMORY;
  if (source)
    std::memcpy(palette, source, count * sizeof(COLORREF));
  else
    FillGrayRamp(palette, count);
  b->Palette = palette;
  b->PaletteCount = count;
  b->HostFlags |= host::kHostOwnsPalette;
  return SUCCESS;
}

int32_t CheckGeometry(int32_t width, int32_t height, PixelFormat f, int64_t* stride) {
  if (f == PixelFormat::Invalid) return ERROR_HOST_BAD_FORMAT;
  if (width < 1 || height < 1 || width > host::kMaxDimension || height > host::kMaxDimension)
    return ERROR_HOST_BAD_ARGUMENT;
  *stride = host::MinimumStride(f, width);
  if (*stride > INT32_MAX || *stride * height > host::kMaxStorageBytes)
    return ERROR_HOST_BAD_ARGUMENT;
  return SUCCESS;
}

}  // namespace

uint32_t HostPaletteSize(int32_t bitsPerPixel) {
  switch (bitsPerPixel) {
    case 1: return 2;
    case 4: return 16;
    case 8: return 256;
    default: return 0;
  }
}

int32_t HostInitBitmap(BitmapRecord* b, uint32_t structSize, int32_t width, int32_t height,
                       int32_t bitsPerPixel) {
  if (!b) return ERROR_NO_BITMAP;
  if (!ValidStructSize(structSize)) return ERROR_INV_STRUCT_SIZE;
  if (width < 0 || height < 0) return ERROR_HOST_BAD_ARGUMENT;
  ClearRecord(b, structSize);
  b->Width = b->StoredWidth = width;
  b->Height = b->StoredHeight = height;
  b->BitsPerPixel = bitsPerPixel;
  b->Order = (bitsPerPixel == 12 || bitsPerPixel == 16) ? ORDER_GRAY : ORDER_BGR;
  b->Orientation = 1;
  return SUCCESS;
}

int32_t HostAllocBitmapData(BitmapRecord* b, int32_t /*memoryMode*/) {
  if (!b) return ERROR_NO_BITMAP;
  if (!ValidStructSize(b->StructSize)) return ERROR_INV_STRUCT_SIZE;
  if (b->Flags & FLAG_ALLOCATED) return ERROR_HOST_BAD_RECORD;
  PixelFormat f = host::FormatOf(b->BitsPerPixel, b->Order);
  int64_t stride = 0;
  int32_t rc = CheckGeometry(b->StoredWidth, b->StoredHeight, f, &stride);
  if (rc != SUCCESS) return rc;
  if (host::IsPaletteFormat(f) && !b->Palette) {
    rc = AllocPalette(b, nullptr, HostPaletteSize(b->BitsPerPixel));
    if (rc != SUCCESS) return rc;
  }
  auto* data = static_cast<uint8_t*>(
      HostAllocClearedMemory(static_cast<uint32_t>(stride), static_cast<uint32_t>(b->StoredHeight),
                             __LINE__, __FILE__));
  if (!data) {
    if (b->HostFlags & host::kHostOwnsPalette) {
      FX_FREE(b->Palette);
      b->Palette = nullptr;
      b->PaletteCount = 0;
      b->HostFlags &= ~host::kHostOwnsPalette;
    }
    return ERROR_NO_MEMORY;
  }
  b->Data = data;
  b->BytesPerLine = static_cast<int32_t>(stride);
  b->HostFlags |= host::kHostOwnsData;
  b->Flags |= FLAG_ALLOCATED;
  return SUCCESS;
}

int32_t HostCreateBitmap(BitmapRecord* b, uint32_t structSize, int32_t memoryMode, int32_t width,
                         int32_t height, int32_t bitsPerPixel, uint32_t order,
                         const COLORREF* palette, uint8_t orientation, void* data,
                         int32_t bytesPerLine) {
  if (!b) return ERROR_NO_BITMAP;
  if (!ValidStructSize(structSize)) return ERROR_INV_STRUCT_SIZE;
  if (orientation == 0) orientation = 1;
  if (!host::ValidOrientation(orientation)) return ERROR_HOST_BAD_ARGUMENT;
  PixelFormat f = host::FormatOf(bitsPerPixel, order);
  int64_t stride = 0;
  int32_t rc = CheckGeometry(width, height, f, &stride);
  if (rc != SUCCESS) return rc;
  // Width and height are as seen in `orientation`; storage holds the orientation-1 layout.
  int32_t storedWidth = host::IsTransposed(orientation) ? height : width;
  int32_t storedHeight = host::IsTransposed(orientation) ? width : height;
  stride = host::MinimumStride(f, storedWidth);
  if (stride > INT32_MAX) return ERROR_HOST_BAD_ARGUMENT;
  if (data && bytesPerLine < stride) return ERROR_HOST_BAD_ARGUMENT;

  ClearRecord(b, structSize);
  b->StoredWidth = storedWidth;
  b->StoredHeight = storedHeight;
  b->Width = width;
  b->Height = height;
  b->BitsPerPixel = bitsPerPixel;
  b->Order = order;
  b->Orientation = orientation;
  if (host::IsPaletteFormat(f)) {
    rc = AllocPalette(b, palette, HostPaletteSize(bitsPerPixel));
    if (rc != SUCCESS) return rc;
  }
  if (data) {
    b->Data = static_cast<uint8_t*>(data);
    b->BytesPerLine = bytesPerLine;
    b->Flags |= FLAG_ALLOCATED;
    return SUCCESS;
  }
  rc = HostAllocBitmapData(b, memoryMode);
  if (rc != SUCCESS) HostFreeBitmap(b);
  return rc;
}

int32_t HostFreeBitmap(BitmapRecord* b) {
  if (!b) return ERROR_NO_BITMAP;
  if ((b->HostFlags & host::kHostOwnsData) && b->Data) FX_FREE(b->Data);
  if ((b->HostFlags & host::kHostOwnsPalette) && b->Palette) FX_FREE(b->Palette);
  if (b->Region) host::DeleteRegion(host::RegionOf(b));
  host::DetachStorage(b);
  return SUCCESS;
}

int32_t HostIsGrayscale(const BitmapRecord* b) {
  if (!b) return 0;
  PixelFormat f = host::FormatOf(b->BitsPerPixel, b->Order);
  return f == PixelFormat::Gray8 || f == PixelFormat::Gray12 || f == PixelFormat::Gray16;
}

int32_t HostFinishUpdate(BitmapRecord* /*bitmap*/) { return SUCCESS; }

namespace {

// Fills `copy` as an independent copy of `b`, seen in `orientation`.
int32_t CopyRecord(BitmapRecord* copy, const BitmapRecord* b, uint32_t structSize,
                   uint32_t orientation) {
  int32_t rc = host::ValidateForAccess(b);
  if (rc != SUCCESS) return rc;
  if (!ValidStructSize(structSize)) return ERROR_INV_STRUCT_SIZE;
  if (!host::ValidOrientation(orientation)) return ERROR_HOST_BAD_ARGUMENT;
  BitmapRecord tmp;
  ClearRecord(&tmp, structSize);
  tmp.StoredWidth = b->StoredWidth;
  tmp.StoredHeight = b->StoredHeight;
  tmp.BitsPerPixel = b->BitsPerPixel;
  tmp.Order = b->Order;
  tmp.Orientation = static_cast<uint8_t>(orientation);
  host::ViewSize(orientation, b->StoredWidth, b->StoredHeight, &tmp.Width, &tmp.Height);
  PixelFormat f = host::FormatOf(b->BitsPerPixel, b->Order);
  if (host::IsPaletteFormat(f)) {
    rc = AllocPalette(&tmp, b->Palette, std::min(b->PaletteCount, HostPaletteSize(b->BitsPerPixel)));
    if (rc != SUCCESS) return rc;
  }
  int64_t stride = host::MinimumStride(f, b->StoredWidth);
  auto* data = static_cast<uint8_t*>(
      FX_ALLOC(static_cast<uint32_t>(stride), static_cast<uint32_t>(b->StoredHeight)));
  if (!data) {
    HostFreeBitmap(&tmp);
    return ERROR_NO_MEMORY;
  }
  host::ParallelFor(b->StoredHeight, b->StoredWidth, [&](int32_t y) {
    std::memcpy(data + y * stride, b->Data + int64_t{y} * b->BytesPerLine, stride);
  });
  tmp.Data = data;
  tmp.BytesPerLine = static_cast<int32_t>(stride);
  tmp.HostFlags |= host::kHostOwnsData;
  tmp.Flags = FLAG_ALLOCATED;
  if (b->Region) {
    auto* region = host::CloneRegion(host::RegionOf(b));
    if (!region) {
      HostFreeBitmap(&tmp);
      return ERROR_NO_MEMORY;
    }
    tmp.Region = reinterpret_cast<HostRegion*>(region);
  }
  std::memcpy(copy, &tmp, structSize);
  return SUCCESS;
}

}  // namespace

int32_t HostSetOrientation(BitmapRecord* copy, BitmapRecord* b, uint32_t structSize,
                           uint32_t orientation, uint32_t mode) {
  if (!b) return ERROR_NO_BITMAP;
  if (copy && mode == 7) return CopyRecord(copy, b, structSize, orientation);
  if (!host::ValidOrientation(orientation)) return ERROR_HOST_BAD_ARGUMENT;
  // A record whose orientation names no view keeps it: once changed, it could not be set back.
  if (!host::ValidOrientation(b->Orientation)) return ERROR_HOST_BAD_RECORD;
  b->Orientation = static_cast<uint8_t>(orientation);
  host::ViewSize(orientation, b->StoredWidth, b->StoredHeight, &b->Width, &b->Height);
  return SUCCESS;
}
