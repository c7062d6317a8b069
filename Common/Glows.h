// What the glow and flare effects share: a bitmap record of their own, and a pass that changes
// rows in place with row functions, a band of rows at a time, with a hook on the calling thread
// before each band (the tables a band needs, such as random draws, are made there).
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RowCache.h"
#include "frame/RowEngine.h"

namespace fx {

// A bitmap record made by the effect, its storage freed on every path.
struct ScratchBitmap {
  BitmapRecord record{};
  ~ScratchBitmap() { HostFreeBitmap(&record); }
};

class BandPass {
 public:
  // The band's source rows, each of rowBytes.
  bool Allocate(size_t rowBytes) {
    rowBytes_ = rowBytes;
    return rows_.AllocateTable(kBandRows) && rows_.AllocateRows(rowBytes);
  }

  // Rows top .. bottom - 1, kBandRows at a time: the band's rows are read, band(y0, y1) runs on
  // the calling thread, then row(y, source, out, scratch) computes each output row (starting as a
  // copy of its source row) on any thread, and the rows are written back in order. Stops at the
  // first code other than SUCCESS. Where the view's rows are stored rows, the band read only takes
  // its checks and fault points, and each row is moved in by the thread that computes it.
  template <class Band, class Row>
  int32_t Run(RowAccess* access, const RowSlots& slots, int32_t top, int32_t bottom,
              int64_t pixelsPerRow, Band&& band, Row&& row) {
    uint8_t** rows = rows_.rows();
    const host::DeferredRowReads reads(access);
    for (int32_t y0 = top; y0 < bottom; y0 += kBandRows) {
      const int32_t y1 = bottom - y0 > kBandRows ? y0 + kBandRows : bottom;
      int32_t rc = reads.Read(rows, y0, y1 - y0);
      if (rc != SUCCESS) return rc;
      rc = band(y0, y1);
      if (rc != SUCCESS) return rc;
      rc = RunRows(
          slots, y0, y1, pixelsPerRow,
          [&](int32_t y, uint8_t* out, uint8_t* scratch) {
            uint8_t* source = rows[y - y0];
            reads.Fetch(source, y);
            std::memcpy(out, source, rowBytes_);
            row(y, source, out, scratch);
          },
          NoHostCall(), WriteRow(access));
      if (rc != SUCCESS) return rc;
    }
    return SUCCESS;
  }

 private:
  RowTable rows_;
  size_t rowBytes_ = 0;
};

}  // namespace fx
