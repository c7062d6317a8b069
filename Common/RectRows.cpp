// The rectangle row table and the shared colour rule.
#include "Common/RectRows.h"

namespace fx {

int32_t ReadRectRows(RowAccess* access, const RECT& rect, RowTable& table) {
  const int64_t count = rect.bottom > rect.top ? int64_t{rect.bottom} - rect.top : 0;
  if (!table.AllocateTable(static_cast<uint32_t>(count)) ||
      !table.AllocateRowsToRead(static_cast<size_t>(HostRowBytes(access)))) {
    table.Free();
    return ERROR_NO_MEMORY;
  }
  return count > 0 ? HostReadRows(access, table.rows(), rect.top, static_cast<int32_t>(count))
                   : SUCCESS;
}

SampleColor PrepareSampleColor(COLORREF colour, int32_t sampleBits, bool gray) {
  const uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  const uint32_t scale = sampleBits == 16 ? 257 : 1;
  if (!gray) return SampleColor{{b * scale, g * scale, r * scale}};
  uint32_t level = ((5 * g + 2 * r + b + 4) >> 3) * scale;
  if (sampleBits == 16 && (colour & 0x04000000u)) level = colour & 0xFFFF;
  return SampleColor{{level, level, level}};
}

}  // namespace fx
