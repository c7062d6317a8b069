// What the blurs along rays and circles share: the reference distance R from the centre to the
// farthest corner of the rectangle, the window of source rows run either over the whole bitmap
// or as a sliding ring around the output row, and plain per-channel averages of whole pixels.
// Also the burst of rays of the lens flare: lines of random length from a point, lightening the
// pixels they cross with bilinear shares that fade along the line.
//
// Extreme inputs: the squares of R are formed in 64 bits (the 32-bit sum wraps once the
// rectangle's diagonal passes 65535 pixels and would make R too small). Channel sums are 64-bit,
// so averages of more than 65537 16-bit pixels do not wrap; identical for every smaller count.
// The window is asked for in 64 bits, so a huge requested height means the whole-bitmap mode.
// Flare rays: an 8-bit sample gains brightness·k·(255 - p) / 1000000 formed in 64 bits, so a
// large brightness saturates instead of wrapping (identical to 32 bits below brightness 8421). A
// 16-bit sample gains 257·floor(brightness·k·(65535 - p) / 257000000): the 8-bit gain of its level
// in steps of 257, so a 16-bit image shows exactly the rays of its 8-bit version scaled by 257
// (32-bit products would wrap from brightness 33 and lose the rays). Lines write only inside the
// rectangle (their second column stops at right - 1) and its rows; an angle step below 1, a
// negative thickness or radius is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "frame/Frame.h"
#include "frame/RowCache.h"

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

// The end of both exports: in orientation 1, the rectangle (not empty) and the centre (inside it
// grown by one pixel), then blur(rect, R). R = 0 cannot occur with such a centre; were it to,
// the bitmap would stay as it is.
template <class Blur>
int32_t RunRayBlur(BitmapRecord* bitmap, POINT center, Blur&& blur) {
  OrientationGuard orientation(bitmap);
  const RECT rect = ProcessRect(bitmap);
  if (IsEmpty(rect)) return ERROR_EMPTY_RECT;
  if (!CenterInGrownRect(rect, center)) return ERROR_POINT_OUT_OF_RANGE;
  const uint32_t ref = RayReferenceDistance(rect, center);
  return ref == 0 ? SUCCESS : blur(rect, ref);
}

// The frame of a ray blur: the row access, the window of source rows and the output slots. When
// the requested window (2·half + 1 rows) reaches the bitmap's height, every row is read once
// (whole mode, the window row of y is y); otherwise a window of N rows slides along with the
// output rows (the window row of y is half), each row read clamped to the bitmap. Either way the
// window holds the unchanged image.
class RayPass {
 public:
  // Opens the row access (mode 2) and allocates the window rows (a working row and four pixels
  // each).
  int32_t Open(BitmapRecord* bitmap, int64_t requestedRows);

  // Allocates the output slots and begins the write phase. Then, for every output row y of rect,
  // the row starts as the source row y (so columns the kernel leaves alone, and a fourth sample,
  // keep their values), row(channels, rows, rowCount, w, y, pixelStep, out, scratch) fills it
  // from the window rows (row of y at index w) with samples of type T (uint8_t or uint16_t),
  // channels an std::integral_constant (3 or 1) and scratchBytes of scratch, on any thread, and
  // it is written back on the calling thread. Stops at the first host code other than SUCCESS.
  template <class Row>
  int32_t Run(BitmapRecord* bitmap, const RECT& rect, Row&& row, size_t scratchBytes = 0) {
    const int32_t pixelStep = access_.PixelStep(), rowCount = rows_.size();
    const size_t rowBytes = static_cast<size_t>(access_.RowBytes());
    RowSlots slots;
    if (!slots.Allocate(rowBytes + 4 * size_t(pixelStep), rows_.ViewBytes() + scratchBytes))
      return ERROR_NO_MEMORY;
    int32_t rc = BeginWritePhase(access_, bitmap);
    if (rc != SUCCESS) return rc;
    if (!rows_.sliding()) {
      rc = rows_.ReadWhole(access_, 0);
      if (rc != SUCCESS) return rc;
    }
    return WithSampleType(access_.SampleBits(), [&](auto sample) {
      using T = decltype(sample);
      return WithChannels(pixelStep, [&](auto channels) {
        return rows_.Run(
            access_, slots, rect.top, rect.bottom, height_, 0, rect.right - rect.left,
            [&](int32_t y, uint8_t* const* rows, int32_t w, uint8_t* out, uint8_t* scratch) {
              std::memcpy(out, rows[w], rowBytes);
              row(channels, reinterpret_cast<T* const*>(rows), rowCount, w, y, pixelStep,
                  reinterpret_cast<T*>(out), scratch);
            },
            NoHostCall(), WriteRow(access_));
      });
    });
  }

 private:
  AccessOwner access_;
  RowWindow rows_;
  int32_t height_ = 0;
};

// Draws the lens flare's rays on the bitmap around `center` (inside the rectangle to process):
// for every group of thickness + 1 one-degree lines, one group every angleStep degrees, each line
// gets a random length below `radius` (one draw per line from the thread's generator) and lights
// the pixels it crosses by `brightness` percent, fading to nothing at its end. Progress runs from
// 81 to 100 over the band's rows and the lines. SUCCESS, ERROR_NO_BITMAP, ERROR_INV_PARAMETER (the
// centre outside the rectangle, an angle step below 1), ERROR_NO_MEMORY or a host code.
int32_t DrawFlareRays(BitmapRecord* bitmap, POINT center, int32_t radius, uint32_t brightness,
                      int32_t angleStep, int32_t thickness);

}  // namespace fx
