// Pieces the pointillist and colored-balls effects share: the anti-aliased coverage mask and the
// hemispherical height mask of a dot, the 8-bit product table, the canvas they stamp on (source
// rows, canvas rows and the height of what was painted last at every pixel), the stamp pass that
// applies a list of stamps to the canvas rows in parallel, and the colour split of their colours.
//
// Stamps are drawn on the calling thread in the effect's order and collected in chunks. A chunk's
// pass runs bands of canvas rows as row functions: a band applies, in draw order, every stamp of
// the chunk that reaches it, over the stamp's rows in the band. A pixel and its height are touched
// only by the stamps covering it, in the order they were drawn, so the canvas is the one stamping
// dot after dot would paint.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RowEngine.h"

namespace fx {

// Radii from this one on are refused: the mask of (2r + 1)² entries no longer fits 32 bits.
constexpr uint32_t kMaxDotRadius = 32767;

// The part of a dot's masks that can land inside a w x h rectangle from a centre inside it:
// offsets |dx| <= hx = min(r, w - 1) and |dy| <= hy = min(r, h - 1). Rows for dy = -hy .. hy,
// columns for dx = -hx .. hx.
struct MaskShape {
  int32_t r = 0, hx = 0, hy = 0;
  int32_t stride() const { return 2 * hx + 1; }
  size_t size() const { return size_t(2 * hx + 1) * size_t(2 * hy + 1); }
  size_t at(int32_t dx, int32_t dy) const { return size_t(dy + hy) * stride() + size_t(dx + hx); }
};
MaskShape ClipMask(uint32_t r, int32_t w, int32_t h);

// Coverage K with a = 255: every (dx, dy) with dx² + dy² <= r² gets 255; the edge is then
// anti-aliased column by column: for i = 1, 2, ... while y = sqrt(r² - i²) > i, with fy = trunc(y),
// cy = min(fy + 1, r), the eight points (±i, ±fy), (±fy, ±i) are raised by 255·(cy - y) and the
// eight points (±i, ±cy), (±cy, ±i) by 255·(y - fy) (each raise truncated and limited to 255; a
// point listed twice is raised twice); afterwards, if y equals i the four points (±i, ±i) get 255,
// else the sixteen raises are made once more with the final i and y. `k` gets shape.size() values.
void BuildCoverageMask(const MaskShape& shape, uint8_t* k);

// Height E: 254·sqrt(r² - dx² - dy²) / r (truncated) where K is not 0 and the root's argument is
// positive, else 0.
void BuildHeightMask(const MaskShape& shape, const uint8_t* k, uint8_t* e);

// T[a][b] = (a × b) div 255 for a, b in 0 .. 255, 256 rows of 256 bytes.
void BuildProductTable(uint8_t* table);

// A colour split into working samples: blue, green, red for colour pixels, the gray level
// (5·green + 2·red + blue + 4) >> 3 in all three for gray pixels; multiplied by 257 when the
// working samples are 16 bits. (The scale follows the working sample size, so the level of an
// 8-bit gray bitmap stays an index of the product table.)
struct DotColor {
  uint32_t c[3];
};
DotColor SplitDotColor(COLORREF colour, bool gray, bool deep);

// The 8-bit and 16-bit coverage blends: toward colour c by a / 255.
struct Blend8 {
  const uint8_t* table;
  uint8_t operator()(uint32_t c, uint32_t s, uint32_t a) const {
    return static_cast<uint8_t>(
        std::min<uint32_t>(table[c * 256 + a] + table[s * 256 + 255 - a], 255));
  }
};
struct Blend16 {
  uint16_t operator()(uint32_t c, uint32_t s, uint32_t a) const {
    return static_cast<uint16_t>(std::min<uint32_t>((c * a + s * (255 - a)) / 255, 65535));
  }
};

// The rectangle held whole: source rows and canvas rows (each the full working row plus four
// spare pixels, index 0 = the rectangle's top row) and the height table (w bytes per row, zero).
struct DotCanvas {
  RECT rect{};
  int32_t w = 0, h = 0, step = 1, sampleBits = 8;
  size_t rowBytes = 0;
  RowTable source, canvas;
  HostBlock<uint8_t> heights;

  int32_t Allocate(RowAccess* access, const RECT& rect);
  uint8_t* HeightRow(int32_t y) const { return heights.get() + size_t(y) * size_t(w); }
  template <class T>
  T* SourcePixel(int32_t x, int32_t y) const {
    return reinterpret_cast<T*>(source.rows()[y]) + (int64_t{rect.left} + x) * step;
  }
};

// Reads rows top .. bottom - 1 into the source rows, reporting (index × scale) div (h - 1) + base
// after every row but the first.
int32_t ReadCanvasSource(RowAccess* access, DotCanvas& canvas, HostProgressContext* progress,
                         int32_t scale, int32_t base);

// Writes the canvas rows back as rows top .. bottom - 1 (the write preparation, made here, keeps
// the pixels outside the region and reports progress from `first` to 100 percent).
int32_t WriteCanvas(RowAccess* access, const BitmapRecord* bitmap, const DotCanvas& canvas,
                    int32_t first);

// Stamps in chunks: the rows each stamp reaches, and per band of kStampBand canvas rows the
// stamps that reach into it, in draw order.
class StampPass {
 public:
  static constexpr int32_t kStampBand = 16;
  static constexpr uint32_t kChunkStamps = 1u << 16;
  static constexpr uint32_t kChunkEntries = 1u << 20;

  // For a canvas of h rows; ERROR_NO_MEMORY on failure.
  int32_t Allocate(int32_t h);
  uint32_t count() const { return count_; }
  // Whether a stamp reaching rows y0 .. y1 still fits into the chunk.
  bool Fits(int32_t y0, int32_t y1) const {
    return count_ < kChunkStamps && entries_ + Bands(y0, y1) <= capacity_;
  }
  void Add(int32_t y0, int32_t y1) {
    first_[count_] = y0;
    last_[count_] = y1;
    entries_ += Bands(y0, y1);
    ++count_;
  }
  // Applies the chunk to rows 0 .. h - 1, apply(i, y) doing stamp i's part of row y: the bands of
  // kStampBand rows run in parallel, each taking its stamps in draw order, every stamp over its
  // rows in the band. Then empties the chunk.
  template <class Apply>
  int32_t Run(int64_t pixelsPerRow, Apply&& apply) {
    SortIntoBands();
    const int32_t rc = RunRows(
        slots_, 0, bands_, pixelsPerRow * kStampBand,
        [&](int32_t b, uint8_t*, uint8_t*) {
          const int32_t top = b * kStampBand, bottom = std::min(h_, top + kStampBand) - 1;
          for (uint32_t e = offsets_[b]; e < offsets_[b + 1]; ++e) {
            const uint32_t i = entryBlock_[e];
            const int32_t y1 = std::min(last_[i], bottom);
            for (int32_t y = std::max(first_[i], top); y <= y1; ++y) apply(i, y);
          }
        },
        NoHostCall(), NoWrite());
    count_ = 0;
    entries_ = 0;
    return rc;
  }

 private:
  static uint32_t Bands(int32_t y0, int32_t y1) {
    return static_cast<uint32_t>(y1 / kStampBand - y0 / kStampBand + 1);
  }
  void SortIntoBands();

  int32_t h_ = 0, bands_ = 0;
  uint32_t count_ = 0, entries_ = 0, capacity_ = 0;
  HostBlock<int32_t> first_, last_;
  HostBlock<uint32_t> offsets_, entryBlock_;
  RowSlots slots_;
};

}  // namespace fx
