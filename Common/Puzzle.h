// Pieces the puzzle and dice effects share: the flags of their tile grids, the working copy of
// the rectangle (with the resize that makes whole tiles fit), and the tile-grid painter that draws
// two-pixel borders along the tile edges.
#pragma once

#include <cstdint>
#include <cstring>

#include "Common/RectRows.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowEngine.h"

namespace fx {

constexpr uint32_t kTileBorders = 0x01;  // draw tile borders
constexpr uint32_t kTileSize = 0x10;     // tileX, tileY are the tile size in pixels
constexpr uint32_t kTileCount = 0x20;    // tileX, tileY are the numbers of columns and rows
constexpr uint32_t kTileFit = 0x100;     // resize first so that whole tiles fit

// Descriptor pieces of the tile grid both effects take.
inline constexpr FxFlagValue kTileBorderValues[] = {
    {"none", 0, "no borders"}, {"draw", kTileBorders, "two-pixel tile borders"}};
inline constexpr FxFlagValue kTileModeValues[] = {
    {"size", kTileSize, "tileX, tileY are the tile size in pixels"},
    {"count", kTileCount, "tileX, tileY are the numbers of columns and rows"}};
constexpr FxParamDesc TileXParam(uint32_t def) {
  return UIntParam(
      "tileX", def, 1, kAnyUInt32Max,
      "columns (count mode) or tile width in pixels (size mode); 1 .. rectangle width");
}
constexpr FxParamDesc TileYParam(uint32_t def) {
  return UIntParam("tileY", def, 1, kAnyUInt32Max,
                   "rows (count mode) or tile height in pixels (size mode); 1 .. rectangle height");
}
constexpr FxParamDesc BorderColorParam() {
  return ColorParam("borderColor", 0x000000,
                    "colour of the borders; on 16-bit gray, bit 26 gives the level in bits 0-15");
}

// The rectangle to process seen as a tile grid. `width`, `height` are the working size W x H
// (the rectangle's, or the fitted size with kTileFit); `tileWidth`, `tileHeight` the tile size;
// `columns`, `rows` the counts as the caller's mode gives them.
struct TileLayout {
  RECT rect;
  int32_t width, height;
  uint32_t tileWidth, tileHeight;
  uint32_t columns, rows;
};

// With kTileFit, the working size that holds whole tiles, along one axis: size mode (`value` is
// the tile size) rounds the count of tiles to the nearest (a remainder of half a tile or more
// adds one) and makes the extent count x tile; count mode (`value` is the count) moves the extent
// to the nearer multiple of the count (a remainder below count div 2 is dropped, else the extent
// grows to the next multiple) and makes the tile extent div count.
void FitAxis(bool countMode, uint32_t value, int32_t& extent, uint32_t& tile, uint32_t& count);

// The working copy of the rectangle: a host record (freed with its storage on every path).
class TileCopy {
 public:
  TileCopy() = default;
  ~TileCopy() { Release(); }
  TileCopy(const TileCopy&) = delete;
  TileCopy& operator=(const TileCopy&) = delete;

  // Allocates the 272-byte record and sets it up empty; false on failure.
  bool Allocate();
  void Release();
  BitmapRecord* get() const { return record_.get(); }

 private:
  HostBlock<BitmapRecord> record_;
};

// Makes `copy` hold the layout's W x H working picture, with the status callback paused: without
// kTileFit the rectangle itself; with it and a region, the rectangle resized to W x H; with it and
// no region, the caller's bitmap is resized to W x H first (it keeps that size) and then copied.
// The host's code on failure.
int32_t MakeTileCopy(BitmapRecord* bitmap, const TileLayout& layout, bool fit, TileCopy& copy);

// Puts the finished copy back into the rectangle at (left, top), W x H, replacing the pixels
// (operation 800; writes keep to the bitmap's region), with the status callback paused.
int32_t CombineTileCopy(BitmapRecord* bitmap, const TileLayout& layout, TileCopy& copy);

// The tile-grid painter over rows of W pixels. Borders are drawn only when both tile sides are
// at least 5 pixels. Rows 0, th, 2th, ..., th - 1, 2th - 1, ... and row 1 are painted whole; in
// every other row the columns 0, tw, 2tw, ..., tw - 1, 2tw - 1, ... and column 1. The colour is
// the shared sample colour (a gray level from bits 0-15 with bit 26 at 16 bits; otherwise the
// gray mix, scaled by 257 at 16 bits); a fourth sample keeps its value.
struct TileGrid {
  bool draw = false;
  int32_t width = 0, height = 0;
  int32_t tileWidth = 1, tileHeight = 1;
  int32_t pixelStep = 1;
  SampleColor color{};
};
TileGrid MakeTileGrid(bool borders, COLORREF colour, int32_t sampleBits, int32_t pixelStep,
                      int32_t width, int32_t height, uint32_t tileWidth, uint32_t tileHeight);

// Paints the borders of row y (0 .. H - 1) into `row`.
template <class T>
void PaintTileGridRow(T* row, int32_t y, const TileGrid& grid) {
  if (!grid.draw) return;
  const bool gray = grid.pixelStep == 1;
  const int32_t step = grid.pixelStep, tw = grid.tileWidth, th = grid.tileHeight;
  const int32_t ry = y % th;
  if (ry == 0 || ry == th - 1 || y == 1) {
    for (int32_t x = 0; x < grid.width; ++x) PutColor(row + int64_t{x} * step, gray, grid.color);
    return;
  }
  PutColor(row, gray, grid.color);
  if (grid.width > 1) PutColor(row + step, gray, grid.color);
  for (int64_t x = tw - 1; x < grid.width; x += tw) {
    PutColor(row + x * step, gray, grid.color);
    if (x + 1 < grid.width) PutColor(row + (x + 1) * step, gray, grid.color);
  }
}

// The last pass of both effects over the copy, whose row access is open in its write phase and
// whose rows are in `source`: every row y starts as source row y, arrange(rows, y, row) lays the
// tiles into it (any thread), the grid (borders: flags bit 0x01) is painted over it and it is
// written back; then the source rows and the access are let go and the copy goes back into the
// rectangle.
template <class Arrange>
int32_t WriteTileRows(BitmapRecord* bitmap, const TileLayout& l, TileCopy& copy,
                      AccessOwner& access, RowTable& source, bool borders, COLORREF borderColor,
                      Arrange&& arrange) {
  const TileGrid grid = MakeTileGrid(borders, borderColor, access.SampleBits(), access.PixelStep(),
                                     l.width, l.height, l.tileWidth, l.tileHeight);
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  RowSlots slots;
  if (!slots.Allocate(rowBytes, 0)) return ERROR_NO_MEMORY;
  const int32_t rc = WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    T* const* rows = reinterpret_cast<T* const*>(source.rows());
    return RunRows(
        slots, 0, l.height, l.width,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          std::memcpy(out, rows[y], rowBytes);
          T* row = reinterpret_cast<T*>(out);
          arrange(rows, y, row);
          PaintTileGridRow(row, y, grid);
        },
        NoHostCall(), WriteRow(access));
  });
  if (rc != SUCCESS) return rc;
  source.Free();
  access.Close();
  return CombineTileCopy(bitmap, l, copy);
}

}  // namespace fx
