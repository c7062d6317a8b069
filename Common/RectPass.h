// The frame of the effects that may sample anywhere in the rectangle to process (polar, tunnel):
// the row access, the whole rectangle cached, the write phase and one call per output row.
#pragma once

#include <cstdint>

#include "Common/Frame.h"
#include "Common/RowCache.h"

namespace fx {

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

}  // namespace fx
