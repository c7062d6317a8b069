// Entry checks, orientation guard, rectangle to process and the shared owners.
#include "frame/Frame.h"

#include <algorithm>

#include "frame/RowEngine.h"

namespace fx {

int32_t CheckBitmapPresent(const BitmapRecord* bitmap, bool testAllocated) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (testAllocated && !(bitmap->Flags & FLAG_ALLOCATED)) return ERROR_NO_BITMAP;
  return SUCCESS;
}

int32_t CheckRecordLayout(const BitmapRecord* bitmap) {
  if (bitmap->StructSize != BITMAP_STRUCT_SIZE && bitmap->StructSize != BITMAP_STRUCT_SIZE_OLD)
    return ERROR_INV_STRUCT_SIZE;
  if (bitmap->Order == ORDER_GRAY && bitmap->BitsPerPixel == 32) return ERROR_UNSUPPORTED_ORDER;
  return SUCCESS;
}

int32_t CheckBitmapRecord(const BitmapRecord* bitmap) {
  if (const int32_t rc = CheckRecordLayout(bitmap); rc != SUCCESS) return rc;
  if (bitmap->Flags & FLAG_UNSUPPORTED) return ERROR_UNSUPPORTED_FLAG;
  return SUCCESS;
}

int32_t CheckBitmap(const BitmapRecord* bitmap, bool testAllocated) {
  int32_t rc = CheckBitmapPresent(bitmap, testAllocated);
  return rc != SUCCESS ? rc : CheckBitmapRecord(bitmap);
}

RECT ProcessRect(const BitmapRecord* bitmap) {
  RECT rect{0, 0, bitmap->Width, bitmap->Height};
  if (HostHasRegion(bitmap)) HostGetRegionBounds(bitmap, nullptr, &rect);
  return rect;
}

bool CenterInGrownRect(const RECT& rect, POINT center) {
  RECT grown;
  fxrt::CopyRect(&grown, &rect);
  fxrt::InflateRect(&grown, 1, 1);
  return fxrt::PtInRect(&grown, center) != 0;
}

OrientationGuard::OrientationGuard(BitmapRecord* bitmap)
    : bitmap_(bitmap), saved_(bitmap->Orientation) {
  HostSetOrientation(nullptr, bitmap_, BITMAP_STRUCT_SIZE, 1, 0);
}

OrientationGuard::~OrientationGuard() {
  HostSetOrientation(nullptr, bitmap_, BITMAP_STRUCT_SIZE, saved_, 0);
}

bool RowTable::AllocateTable(uint32_t count) {
  Free();
  if (!table_.AllocateCleared(count)) return false;
  count_ = count;
  return true;
}

bool RowTable::AllocateRowsToRead(size_t rowBytes) {
  for (uint32_t i = 0; i < count_; ++i) {
    auto* row = static_cast<uint8_t*>(FX_ALLOC(static_cast<uint32_t>(rowBytes), 1));
    if (!row) return false;
    table_[i] = row;
  }
  return true;
}

bool RowTable::AllocateRows(size_t rowBytes) {
  if (!AllocateRowsToRead(rowBytes)) return false;
  // Cleared once all are allocated (the allocations stay one per row, in order), on every thread.
  const auto parallel = static_cast<int32_t>(std::min<uint32_t>(count_, INT32_MAX));
  ParallelFor(parallel, static_cast<int64_t>(rowBytes),
              [&](int32_t i) { HostMemSet(table_[static_cast<uint32_t>(i)], 0, rowBytes); });
  for (uint32_t i = static_cast<uint32_t>(parallel); i < count_; ++i)
    HostMemSet(table_[i], 0, rowBytes);
  return true;
}

void RowTable::Free() {
  for (uint32_t i = 0; i < count_ && table_; ++i)
    if (table_[i]) FX_FREE(table_[i]);
  table_.Reset();
  count_ = 0;
}

int32_t BeginWritePhase(RowAccess* access, const BitmapRecord* bitmap) {
  return HostHasRegion(bitmap) ? HostBeginRegionWrite(access) : HostBeginWrite(access);
}

int32_t BeginWritePhaseEx(RowAccess* access, const BitmapRecord* bitmap, int32_t first,
                          int32_t last) {
  return HostHasRegion(bitmap) ? HostBeginRegionWriteEx(access, first, last)
                               : HostBeginWriteEx(access, first, last);
}

}  // namespace fx
