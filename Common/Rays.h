// What the blurs along rays and circles share: the reference distance R from the centre to the
// farthest corner of the rectangle, the window of source rows run either over the whole bitmap
// or as a sliding ring around the output row, and plain per-channel averages of whole pixels.
//
// Extreme inputs: the squares of R are formed in 64 bits (the 32-bit sum wraps once the
// rectangle's diagonal passes 65535 pixels and would make R too small). Channel sums are 64-bit,
// so averages of more than 65537 16-bit pixels do not wrap; identical for every smaller count.
// The window is asked for in 64 bits, so a huge requested height means the whole-bitmap mode.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "Common/Frame.h"
#include "Common/RowCache.h"

namespace fx {

// trunc(sqrt(Dx² + Dy²)), with Dx = max(right - cx, cx - left) and Dy likewise.
uint32_t RayReferenceDistance(const RECT& rect, POINT center);

// Calls f(std::integral_constant<int, 3>) for a colour pixel (three samples averaged, a fourth
// left alone), else f(std::integral_constant<int, 1>).
template <class F>
decltype(auto) WithChannels(int32_t pixelStep, F&& f) {
  if (IsColorPixel(pixelStep)) return f(std::integral_constant<int, 3>{});
  return f(std::integral_constant<int, 1>{});
}

// Per-channel sums of whole pixels (C = 1 for gray, 3 for colour) and their truncated average.
// Kept as separate members so they stay in registers across the sample loop.
template <class T, int C>
struct ChannelSums {
  static_assert(C == 1 || C == 3);
  uint64_t s0 = 0, s1 = 0, s2 = 0;

  void Add(const T* pixel) {
    s0 += pixel[0];
    if constexpr (C == 3) {
      s1 += pixel[1];
      s2 += pixel[2];
    }
  }
  void StoreAverage(T* out, uint32_t n) const {
    out[0] = Average(s0, n);
    if constexpr (C == 3) {
      out[1] = Average(s1, n);
      out[2] = Average(s2, n);
    }
  }

 private:
  // A 32-bit division whenever the sum fits, as it does for any ordinary count.
  static T Average(uint64_t sum, uint32_t n) {
    return static_cast<T>(sum >> 32 ? sum / n : static_cast<uint32_t>(sum) / n);
  }
};

// The source rows the ray kernels sample. When the requested window (2·half + 1 rows) reaches
// the bitmap's height, every row is read once (whole mode, the window row of y is y); otherwise
// a ring of N rows slides along with the output row (the window row of y is half), each row
// read clamped to the bitmap. Either way the window holds the unchanged image.
class RayWindow {
 public:
  // Allocates, in this order, the ring table, the view table and N rows of windowRowBytes bytes.
  int32_t Allocate(int64_t requestedRows, int32_t height, size_t windowRowBytes);
  bool whole() const { return whole_; }
  int32_t rowCount() const { return rows_.size(); }

  // For every output row y of rect: the row starts as the source row y (so columns the kernel
  // leaves alone, and a fourth sample, keep their values), produce(y, rows, w) fills it from the
  // window rows (row of y at index w), and it is written back. Stops at the first host code
  // other than SUCCESS.
  template <class Produce>
  int32_t Run(RowAccess* access, const RECT& rect, int32_t height, uint8_t* out,
              Produce&& produce) {
    const size_t rowBytes = static_cast<size_t>(HostRowBytes(access));
    if (whole_) {
      int32_t rc = rows_.ReadAll(access, 0);
      if (rc != SUCCESS) return rc;
      uint8_t* const* rows = rows_.ring();
      for (int32_t y = rect.top; y < rect.bottom; ++y) {
        std::memcpy(out, rows[y], rowBytes);
        produce(y, rows, y);
        rc = HostWriteRow(access, out, y, 0, 0);
        if (rc != SUCCESS) return rc;
      }
      return SUCCESS;
    }
    const int32_t half = rows_.half();
    return rows_.Slide(access, rect.top, rect.bottom, height, [&](int32_t y, uint8_t** view) {
      std::memcpy(out, view[half], rowBytes);
      produce(y, static_cast<uint8_t* const*>(view), half);
      return HostWriteRow(access, out, y, 0, 0);
    });
  }

 private:
  SlidingRowWindow rows_;
  bool whole_ = false;
};

}  // namespace fx
