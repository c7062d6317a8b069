// The row handling of ripple and the free radial bend: every output row is computed from a window
// of 2·reach + 1 source rows around it (rows clamped to the bitmap), or from every row of the
// rectangle once that window would reach the rectangle's height. The window rows carry 4 spare
// pixels; in whole mode the rectangle's rows are read after the write phase begins.
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RowCache.h"

namespace fx {

// The source rows of one output row: n rows with the output row at index w. A sliding window
// holds the bitmap rows y - w .. y + w; a whole one the rectangle's rows from its top.
template <class T>
struct WindowRows {
  T* const* rows;
  int32_t n;
  int32_t w;
  bool sliding;
};

// Opens the row access (mode 2), allocates the window and the output slots, begins the write
// phase (the region variant when the bitmap has one) and runs row(y, sources, pixelStep, width,
// out) for every row y of rect, `out` starting as a copy of row y (T* samples, uint8_t or
// uint16_t). The window size 2·reach + 1 is formed in 64 bits. Stops at the first failing host
// call and returns its code.
template <class Row>
int32_t RunRippleWindow(BitmapRecord* bitmap, const RECT& rect, int64_t reach, Row&& row) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t pixelStep = access.PixelStep();
  const int32_t width = bitmap->Width, height = bitmap->Height;
  const int32_t rectH = rect.bottom - rect.top;
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  const size_t windowBytes = rowBytes + 4 * size_t(pixelStep);

  const int64_t n = 2 * reach + 1;
  RowWindow window;
  rc = n >= rectH ? window.AllocateWhole(rectH, windowBytes)
                  : window.AllocateSliding(static_cast<int32_t>(n), windowBytes);
  if (rc != SUCCESS) return rc;
  RowSlots slots;
  if (!slots.Allocate(windowBytes, window.ViewBytes())) return ERROR_NO_MEMORY;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  if (!window.sliding()) {
    rc = window.ReadWhole(access, rect.top);
    if (rc != SUCCESS) return rc;
  }

  return WithSampleType(access.SampleBits(), [&](auto sample) -> int32_t {
    using T = decltype(sample);
    const int32_t rows = window.size();
    const bool sliding = window.sliding();
    return window.Run(
        access, slots, rect.top, rect.bottom, height, rect.top, rect.right - rect.left,
        [&](int32_t y, uint8_t* const* source, int32_t w, uint8_t* out, uint8_t*) {
          std::memcpy(out, source[w], rowBytes);
          row(y, WindowRows<T>{reinterpret_cast<T* const*>(source), rows, w, sliding}, pixelStep,
              width, reinterpret_cast<T*>(out));
        },
        DiscardRead(access, slots), WriteRow(access));
  });
}

}  // namespace fx
