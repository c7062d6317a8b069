// Row caches of the inverse-mapping effects: the whole-rectangle cache (every row of the
// rectangle, read before the write phase) and the sliding window of source rows (a ring of N
// rows around the output row, or every row when N reaches the height).
#pragma once

#include <cstdint>

#include "frame/Frame.h"
#include "frame/Samplers.h"

namespace fx {

// Every row of the rectangle plus one output row. Build allocates (table of H pointers, H rows
// of HostRowBytes, then the output row, all zero-filled) and reads rows top .. bottom - 1 into
// entries 0 .. H - 1. ERROR_NO_MEMORY or the failing read's code otherwise.
class RectRowCache {
 public:
  int32_t Build(RowAccess* access, const RECT& rect);
  uint8_t** rows() const { return rows_.rows(); }
  template <class T>
  T* const* rowsAs() const {
    return reinterpret_cast<T* const*>(rows_.rows());
  }
  uint8_t* output() const { return output_.get(); }
  int32_t height() const { return static_cast<int32_t>(rows_.count()); }

 private:
  RowTable rows_;
  HostBlock<uint8_t> output_;
};

// Opens the row access (mode 2), caches the rectangle, begins the write phase and, for every
// row y of rect, reads it into the output row, calls row(rows, y, pixelStep, width, out) with
// the cached rows (table index 0 is rect.top) and the output row as T (uint8_t or uint16_t
// samples), and writes it back. Stops at the first code other than SUCCESS.
template <class Row>
int32_t RunOverCachedRect(BitmapRecord* bitmap, const RECT& rect, Row&& row) {
  int32_t rc = CheckBitmapPresent(bitmap);
  if (rc != SUCCESS) return rc;
  AccessOwner access;
  rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t pixelStep = access.PixelStep(), width = bitmap->Width;
  RectRowCache cache;
  rc = cache.Build(access, rect);
  if (rc != SUCCESS) return rc;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  return WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    T* out = reinterpret_cast<T*>(cache.output());
    return ProcessRows(access, rect.top, rect.bottom, cache.output(),
                       [&](int32_t y) { row(cache.rowsAs<T>(), y, pixelStep, width, out); });
  });
}

// A ring of N source rows with its rotated view. Allocate creates, zero-filled and in this
// order, the ring table, the view table and N rows of rowBytes bytes.
class SlidingRowWindow {
 public:
  int32_t Allocate(int32_t n, size_t rowBytes);
  int32_t size() const { return n_; }
  int32_t half() const { return n_ / 2; }
  uint8_t** ring() const { return ring_.rows(); }
  uint8_t** view() const { return view_.get(); }
  template <class T>
  T* const* ringAs() const {
    return reinterpret_cast<T* const*>(ring_.rows());
  }

  // Whole mode: reads bitmap rows first .. first + N - 1 into ring entries 0 .. N - 1.
  int32_t ReadAll(RowAccess* access, int32_t first);

  // Sliding mode. The source counter starts at top - half; each pass reads bitmap row
  // clamp(counter, 0, height - 1) into the next ring slot. Once the window holds rows
  // y - half .. y + half, the view is rotated (view[0] the oldest row) and produce(y, view)
  // runs; it returns SUCCESS to go on. Stops at the first other code.
  template <class Produce>
  int32_t Slide(RowAccess* access, int32_t top, int32_t bottom, int32_t height, Produce&& produce) {
    const int32_t n = n_, h = n_ / 2;
    int32_t source = top - h, slot = 0, start = 0, y = top;
    while (y < bottom) {
      int32_t row = source < 0 ? 0 : (source > height - 1 ? height - 1 : source);
      int32_t rc = HostReadRow(access, ring_.rows()[slot], row, 0, nullptr);
      if (rc != SUCCESS) return rc;
      ++source;
      if (++slot == n) slot = 0;
      if (source < top + h + 1) continue;  // still filling the window
      RotateRowWindow(ring_.rows(), view_.get(), n, start);
      rc = produce(y, view_.get());
      if (rc != SUCCESS) return rc;
      ++y;
      if (++start == n) start = 0;
    }
    return SUCCESS;
  }

 private:
  RowTable ring_;
  HostBlock<uint8_t*> view_;
  int32_t n_ = 0;
};

}  // namespace fx
