// Source rows of the row functions: the whole-rectangle cache (every row of the rectangle, read
// before the write phase) and the row window (n source rows around each output row, read a band
// of output rows at a time, or every row of a span at once). Both hand their rows to row
// functions that the row engine runs in parallel; the rows never change while it runs.
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RowEngine.h"
#include "frame/Samplers.h"

namespace fx {

// Every row of the rectangle. Build allocates (table of H pointers, H rows of HostRowBytes, all
// not cleared, then the output slots) and reads rows top .. bottom - 1 into entries 0 .. H - 1.
// ERROR_NO_MEMORY or the failing read's code otherwise.
class RectRowCache {
 public:
  int32_t Build(RowAccess* access, const RECT& rect, size_t scratchBytes = 0);
  uint8_t** rows() const { return rows_.rows(); }
  template <class T>
  T* const* rowsAs() const {
    return reinterpret_cast<T* const*>(rows_.rows());
  }
  const RowSlots& slots() const { return slots_; }
  int32_t height() const { return static_cast<int32_t>(rows_.count()); }

 private:
  RowTable rows_;
  RowSlots slots_;
};

// Opens the row access (mode 2), caches the rectangle, begins the write phase and runs every row
// y of rect: the output row starts as row y, row(rows, y, pixelStep, width, out, scratch) fills
// it from the cached rows (table index 0 is rect.top) with T samples (uint8_t or uint16_t) and
// `scratchBytes` of scratch, and it is written back. Row y is read before it is written, as a
// serial driver reads its output row. Stops at the first code other than SUCCESS.
template <class Row>
int32_t RunOverCachedRect(BitmapRecord* bitmap, const RECT& rect, Row&& row,
                          size_t scratchBytes = 0) {
  int32_t rc = CheckBitmapPresent(bitmap);
  if (rc != SUCCESS) return rc;
  AccessOwner access;
  rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t pixelStep = access.PixelStep(), width = bitmap->Width;
  RectRowCache cache;
  rc = cache.Build(access, rect, scratchBytes);
  if (rc != SUCCESS) return rc;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  return WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    T* const* rows = cache.rowsAs<T>();
    return RunRows(
        cache.slots(), rect.top, rect.bottom, rect.right - rect.left,
        [&](int32_t y, uint8_t* out, uint8_t* scratch) {
          std::memcpy(out, rows[y - rect.top], rowBytes);
          row(rows, y, pixelStep, width, reinterpret_cast<T*>(out), scratch);
        },
        DiscardRead(access, cache.slots()), WriteRow(access));
  });
}

// Reads bitmap row clamp(from + k, 0, height - 1) into rows[k] for k = 0 .. count - 1, as that
// many single-row reads in order would; the rows inside the bitmap go in one band read, which the
// host splits among the threads.
int32_t ReadClampedRows(RowAccess* access, uint8_t* const* rows, int64_t from, int32_t count,
                        int32_t height);

// Output rows a band of the sliding window covers: kBandRows, up to kMaxSlidingBandRows for rows
// short enough that the band's rows stay within 4 MiB. Every band ends in a wait for the threads,
// which for cheap rows costs as much as the rows; longer bands wait less often.
inline constexpr int32_t kBandRows = 64;
inline constexpr int32_t kMaxSlidingBandRows = 256;
inline int32_t SlidingBandRows(size_t rowBytes) {
  const size_t fit = (size_t{4} << 20) / (rowBytes ? rowBytes : 1);
  return fit >= kMaxSlidingBandRows ? kMaxSlidingBandRows
                                    : (fit <= kBandRows ? kBandRows : int32_t(fit));
}

// The source rows of row functions that read a bounded neighbourhood of the output row.
//
// Sliding mode: the window of output row y is n bitmap rows with h = n / 2, the rows
// y - h .. y - h + n - 1 for odd n, each clamped to the bitmap. For even n the window is laid out
// as the ring of n rows used to be: index 0 holds row y + h, indexes 1 .. n - 1 rows
// y - h + 1 .. y + h - 1. Either way index h holds row y. The rows are read a band of
// SlidingBandRows output rows at a time: the window's first n - 1 rows once, then the rows each
// band adds.
//
// Whole mode: `count` rows read once from a first row; the row of y is at index y - first.
class RowWindow {
 public:
  int32_t AllocateSliding(int32_t n, size_t rowBytes);
  int32_t AllocateWhole(int32_t count, size_t rowBytes);
  // A one-row sliding window (each output row reads its own source row) and the output slots
  // its row functions write through, each with `scratchBytes` of their own beyond the view.
  int32_t AllocateRowByRow(size_t rowBytes, RowSlots& slots, size_t scratchBytes = 0);
  // Whole mode: reads bitmap rows first .. first + count - 1.
  int32_t ReadWhole(RowAccess* access, int32_t first);

  bool sliding() const { return sliding_; }
  int32_t size() const { return n_; }
  int32_t half() const { return n_ / 2; }
  // Scratch the window needs in every output slot (the per-row table of a sliding window).
  size_t ViewBytes() const { return sliding_ ? (size_t(n_) * sizeof(uint8_t*) + 63) / 64 * 64 : 0; }

  // Runs output rows top .. bottom - 1 (height: the bitmap's, for clamping): compute(y, rows, w,
  // out, scratch) gets the window rows (row y at index w) and the output slot, any thread;
  // before(y) and after(y, row) are the host calls of row y on the calling thread. In whole mode
  // the rows must have been read from `first`.
  template <class Compute, class Before, class After>
  int32_t Run(RowAccess* access, const RowSlots& slots, int32_t top, int32_t bottom, int32_t height,
              int32_t first, int64_t pixelsPerRow, Compute&& compute, Before&& before,
              After&& after) {
    return Drive<false>(access, slots, top, bottom, height, first, pixelsPerRow, compute, before,
                        after);
  }

  // Run for row functions that change source row y into output row y: compute(y, row, scratch)
  // gets the output row holding source row y. In a one-row window inside the bitmap the row is
  // read straight into the output row, and not moved at all where that is the stored row itself
  // (where the write is a plain copy), so the pixels cross memory once.
  template <class Compute, class Before, class After>
  int32_t RunInPlace(RowAccess* access, const RowSlots& slots, int32_t top, int32_t bottom,
                     int32_t height, int64_t pixelsPerRow, Compute&& compute, Before&& before,
                     After&& after) {
    return Drive<true>(access, slots, top, bottom, height, top, pixelsPerRow, compute, before,
                       after);
  }

 private:
  template <bool InPlace, class Compute, class Before, class After>
  int32_t Drive(RowAccess* access, const RowSlots& slots, int32_t top, int32_t bottom,
                int32_t height, int32_t first, int64_t pixelsPerRow, Compute& compute,
                Before& before, After& after) {
    // The row function on the window rows (row y at index w).
    const auto apply = [&](int32_t y, uint8_t* const* rows, int32_t w, uint8_t* out,
                           uint8_t* scratch) {
      if constexpr (InPlace) {
        std::memcpy(out, rows[w], slots.rowBytes());
        compute(y, out, scratch);
      } else {
        compute(y, rows, w, out, scratch);
      }
    };
    uint8_t** table = rows_.rows();
    if (!sliding_) {
      return RunRows(
          slots, top, bottom, pixelsPerRow,
          [&](int32_t y, uint8_t* out, uint8_t* scratch) {
            apply(y, table, y - first, out, scratch);
          },
          before, after);
    }
    const int32_t n = n_, h = n_ / 2;
    // Table entry k holds counter base + k; the band's first window starts at y0 + h + 1 - n.
    int32_t rc = ReadClampedRows(access, table, int64_t{top} + h + 1 - n, n - 1, height);
    if (rc != SUCCESS) return rc;
    // A window of one row inside the bitmap: each row is read by the thread that computes it,
    // its checks and fault points taken first for the band, in order.
    const bool ownRows = n == 1 && top >= 0 && bottom <= height;
    const host::DeferredRowReads reads(access);
    // With room for two bands, each band's rows are read while the band before is computed.
    const bool readAhead = !ownRows && rows_.count() >= uint32_t(n - 1 + 2 * band_);
    const auto bandEnd = [&](int32_t y0) { return bottom - y0 > band_ ? y0 + band_ : bottom; };
    const auto readBand = [&](int32_t y0, int32_t at) {
      return ReadClampedRows(access, table + (n - 1) + at, int64_t{y0} + h, bandEnd(y0) - y0,
                             height);
    };
    if (readAhead && top < bottom && (rc = readBand(top, 0)) != SUCCESS) return rc;
    for (int32_t y0 = top; y0 < bottom; y0 += band_) {
      const int32_t y1 = bandEnd(y0);
      if (ownRows) {
        rc = reads.Read(table, y0, y1 - y0);
        if (rc != SUCCESS) return rc;
        rc = RunRows(
            slots, y0, y1, pixelsPerRow,
            [&](int32_t y, uint8_t* out, uint8_t* scratch) {
              if constexpr (InPlace) {
                reads.FetchInto(out, table[y - y0], y, slots.rowBytes());
                compute(y, out, scratch + ViewBytes());
              } else {
                reads.Fetch(table[y - y0], y);
                compute(y, table + (y - y0), 0, out, scratch + ViewBytes());
              }
            },
            before, after);
        if (rc != SUCCESS) return rc;
        continue;
      }
      if (!readAhead && (rc = readBand(y0, 0)) != SUCCESS) return rc;
      const auto readNext = [&] {
        return readAhead && y1 < bottom ? readBand(y1, y1 - y0) : SUCCESS;
      };
      rc = RunRows(
          slots, y0, y1, pixelsPerRow,
          [&](int32_t y, uint8_t* out, uint8_t* scratch) {
            uint8_t** at = table + (y - y0);
            if (n % 2 == 0) {
              auto** view = reinterpret_cast<uint8_t**>(scratch);
              view[0] = at[n - 1];
              for (int32_t i = 1; i < n; ++i) view[i] = at[i - 1];
              at = view;
            }
            apply(y, at, h, out, scratch + ViewBytes());
          },
          before, after, readNext);
      if (rc != SUCCESS) return rc;
      RotateTable(y1 - y0);
    }
    return SUCCESS;
  }

  // Moves the rows after a finished band of b rows (its last n - 1 and the next band's) to the
  // front.
  void RotateTable(int32_t b);

  RowTable rows_;
  int32_t n_ = 0;
  int32_t band_ = kBandRows;  // output rows of a band (sliding mode)
  bool sliding_ = false;
};

}  // namespace fx
