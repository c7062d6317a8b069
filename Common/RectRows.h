// Pieces shared by the ring, puzzle, dice and fragment effects: the rectangle row table (one
// working row per row of a rectangle, index 0 = its top row, read before any output row is
// written, so that it keeps the unchanged source while the effect writes its results) and the
// colour rule of the ring's fill and the tile borders.
#pragma once

#include <cstdint>

#include "frame/Frame.h"

namespace fx {

// Allocates a table of rect.bottom - rect.top rows of HostRowBytes bytes in `table` and reads
// bitmap rows top .. bottom - 1 into entries 0 ..; ERROR_NO_MEMORY (the rows taken are released)
// or the first read's code other than SUCCESS. An empty rectangle gives an empty table.
int32_t ReadRectRows(RowAccess* access, const RECT& rect, RowTable& table);

// Releases every row of the table and the table itself (the table's destructor does the same).
inline void FreeRectRows(RowTable& table) {
  table.Free();
}

// A colour in working samples: blue, green, red in c[0], c[1], c[2] for colour pixels; for gray
// pixels (one sample) all three hold the level (5·green + 2·red + blue + 4) >> 3. With 16-bit
// samples each value is multiplied by 257, except that a gray level is bits 0-15 of the colour
// when bit 26 (0x04000000) is set.
struct SampleColor {
  uint32_t c[3];
};
SampleColor PrepareSampleColor(COLORREF colour, int32_t sampleBits, bool gray);

// Writes the colour into the first three samples of a colour pixel or the first of a gray pixel;
// a fourth sample keeps its value.
template <class T>
inline void PutColor(T* pixel, bool gray, const SampleColor& color) {
  pixel[0] = static_cast<T>(color.c[0]);
  if (gray) return;
  pixel[1] = static_cast<T>(color.c[1]);
  pixel[2] = static_cast<T>(color.c[2]);
}

}  // namespace fx
