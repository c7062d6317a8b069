// Whole-rectangle cache and sliding window allocation and reads.
#include "frame/RowCache.h"

namespace fx {

int32_t RectRowCache::Build(RowAccess* access, const RECT& rect) {
  const int32_t h = rect.bottom - rect.top;
  const size_t rowBytes = static_cast<size_t>(HostRowBytes(access));
  if (h < 0) return ERROR_EMPTY_RECT;
  if (!rows_.AllocateTable(static_cast<uint32_t>(h)) || !rows_.AllocateRows(rowBytes))
    return ERROR_NO_MEMORY;
  if (!output_.AllocateCleared(static_cast<uint32_t>(rowBytes))) return ERROR_NO_MEMORY;
  for (int32_t i = 0; i < h; ++i) {
    int32_t rc = HostReadRow(access, rows_.rows()[i], rect.top + i, 0, nullptr);
    if (rc != SUCCESS) return rc;
  }
  return SUCCESS;
}

int32_t SlidingRowWindow::Allocate(int32_t n, size_t rowBytes) {
  if (n < 1) return ERROR_EMPTY_RECT;
  n_ = n;
  if (!ring_.AllocateTable(static_cast<uint32_t>(n))) return ERROR_NO_MEMORY;
  if (!view_.AllocateCleared(static_cast<uint32_t>(n))) return ERROR_NO_MEMORY;
  if (!ring_.AllocateRows(rowBytes)) return ERROR_NO_MEMORY;
  return SUCCESS;
}

int32_t SlidingRowWindow::ReadAll(RowAccess* access, int32_t first) {
  for (int32_t i = 0; i < n_; ++i) {
    int32_t rc = HostReadRow(access, ring_.rows()[i], first + i, 0, nullptr);
    if (rc != SUCCESS) return rc;
  }
  return SUCCESS;
}

}  // namespace fx
