// Whole-rectangle cache and row window allocation and reads.
#include "frame/RowCache.h"

#include <algorithm>

namespace fx {

int32_t RectRowCache::Build(RowAccess* access, const RECT& rect, size_t scratchBytes) {
  const int32_t h = rect.bottom - rect.top;
  const size_t rowBytes = static_cast<size_t>(HostRowBytes(access));
  if (h < 0) return ERROR_EMPTY_RECT;
  if (!rows_.AllocateTable(static_cast<uint32_t>(h)) || !rows_.AllocateRowsToRead(rowBytes))
    return ERROR_NO_MEMORY;
  if (!slots_.Allocate(rowBytes, scratchBytes)) return ERROR_NO_MEMORY;
  return HostReadRows(access, rows_.rows(), rect.top, h);
}

int32_t ReadClampedRows(RowAccess* access, uint8_t* const* rows, int64_t from, int32_t count,
                        int32_t height) {
  int32_t k = 0;
  const auto readOne = [&](int64_t c) {
    const auto row = static_cast<int32_t>(c < 0 ? 0 : (c > height - 1 ? height - 1 : c));
    return HostReadRow(access, rows[k++], row, 0, nullptr);
  };
  for (; k < count && from + k < 0;)
    if (const int32_t rc = readOne(from + k); rc != SUCCESS) return rc;
  if (k < count && from + k < height) {
    const auto inside = static_cast<int32_t>(std::min<int64_t>(count - k, height - (from + k)));
    if (const int32_t rc = HostReadRows(access, rows + k, static_cast<int32_t>(from + k), inside);
        rc != SUCCESS)
      return rc;
    k += inside;
  }
  for (; k < count;)
    if (const int32_t rc = readOne(from + k); rc != SUCCESS) return rc;
  return SUCCESS;
}

int32_t RowWindow::AllocateSliding(int32_t n, size_t rowBytes) {
  if (n < 1) return ERROR_EMPTY_RECT;
  n_ = n;
  sliding_ = true;
  band_ = SlidingBandRows(rowBytes);
  // A band's window and, where the window is more than the band's own rows, the next band.
  const int64_t rows = int64_t{n} - 1 + (n > 1 ? 2 : 1) * int64_t{band_};
  if (!rows_.AllocateTable(static_cast<uint32_t>(rows)) || !rows_.AllocateRows(rowBytes))
    return ERROR_NO_MEMORY;
  return SUCCESS;
}

int32_t RowWindow::AllocateRowByRow(size_t rowBytes, RowSlots& slots, size_t scratchBytes) {
  const int32_t rc = AllocateSliding(1, rowBytes);
  if (rc != SUCCESS) return rc;
  return slots.Allocate(rowBytes, ViewBytes() + scratchBytes) ? SUCCESS : ERROR_NO_MEMORY;
}

int32_t RowWindow::AllocateWhole(int32_t count, size_t rowBytes) {
  if (count < 1) return ERROR_EMPTY_RECT;
  n_ = count;
  sliding_ = false;
  if (!rows_.AllocateTable(static_cast<uint32_t>(count)) || !rows_.AllocateRows(rowBytes))
    return ERROR_NO_MEMORY;
  return SUCCESS;
}

int32_t RowWindow::ReadWhole(RowAccess* access, int32_t first) {
  return HostReadRows(access, rows_.rows(), first, n_);
}

void RowWindow::RotateTable(int32_t b) {
  uint8_t** table = rows_.rows();
  std::rotate(table, table + b, table + rows_.count());
}

}  // namespace fx
