// Row access: a bitmap seen through its orientation as rows of working pixels (8- or 16-bit
// samples; 1 sample for gray, 3 or 4 in blue, green, red(, alpha) order for colour). Palette
// images read as 8-bit colour and are written back to the nearest palette entry.
#include <algorithm>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "host/Host.h"
#include "host/HostInternal.h"

using host::PixelFormat;

namespace {
constexpr int32_t kPaletteCacheSize = 4096;
}

struct RowAccess {
  BitmapRecord* bitmap;
  PixelFormat format;
  host::ViewMap map;
  int32_t width, height;
  int32_t sampleBits, pixelStep, rowBytes;
  bool rgbOrder;  // stored colour samples are red first
  bool writing;
  bool regionLimited;
  const host::HostRegionData* region;
  // Progress of the write phase.
  bool progress;
  int32_t firstPercent, lastPercent, lastReported;
  int64_t progressTotal, progressDone;
  // Nearest-palette-entry cache keyed by 0x00BBGGRR + 1 (0: empty).
  uint32_t cacheKey[kPaletteCacheSize];
  uint8_t cacheIndex[kPaletteCacheSize];
};

namespace {

// Calls op(x, storedRowPointer, storedColumn, storedRow) for every pixel of view row y.
template <class Op>
inline void Walk(const RowAccess& a, int32_t y, Op&& op) {
  const host::ViewMap& m = a.map;
  const int32_t sx = m.sx0 + y * m.yx, sy = m.sy0 + y * m.yy;
  uint8_t* base = a.bitmap->Data;
  const int64_t stride = a.bitmap->BytesPerLine;
  if (m.xy == 0) {
    uint8_t* row = base + sy * stride;
    for (int32_t x = 0; x < a.width; ++x) op(x, row, sx + x * m.xx, sy);
  } else {
    for (int32_t x = 0; x < a.width; ++x) {
      const int32_t rowIndex = sy + x * m.xy;
      op(x, base + rowIndex * stride, sx, rowIndex);
    }
  }
}

inline uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}
inline void Store16(uint8_t* p, uint16_t v) { std::memcpy(p, &v, 2); }

// View rows that are whole stored rows, left to right, in the working layout: a plain copy.
bool IsIdentityLayout(const RowAccess& a) {
  if (a.map.xx != 1 || a.map.xy != 0) return false;
  switch (a.format) {
    case PixelFormat::Gray8:
    case PixelFormat::Gray16: return true;
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
    case PixelFormat::Rgb48:
    case PixelFormat::Rgb64: return !a.rgbOrder;
    default: return false;
  }
}

// View rows that are whole stored rows, left to right, of red-first colour: only the first and
// third samples of each pixel trade places.
bool IsSwappedLayout(const RowAccess& a) {
  if (a.map.xx != 1 || a.map.xy != 0 || !a.rgbOrder) return false;
  switch (a.format) {
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
    case PixelFormat::Rgb48:
    case PixelFormat::Rgb64: return true;
    default: return false;
  }
}

// Copies `width` pixels of N samples of type S, exchanging the first and third samples.
template <class S, int N>
void SwapFirstAndThird(const S* from, S* to, int32_t width) {
  for (int32_t x = 0; x < width; ++x, from += N, to += N) {
    const S first = from[0], second = from[1], third = from[2];
    to[0] = third;
    to[1] = second;
    to[2] = first;
    if constexpr (N == 4) to[3] = from[3];
  }
}

#if defined(__x86_64__)
// Sixteen bytes at a time through a byte shuffle that swaps the first and third samples of the
// whole pixels they hold (5 of 3 bytes, 4 of 4, 2 of 6 or 8); the bytes of a partial pixel at the
// end of a block are rewritten by the next block or by the caller's tail.
__attribute__((target("ssse3"))) int32_t SwapBlocks(const uint8_t* from, uint8_t* to,
                                                      int32_t width, int32_t pixelBytes,
                                                      int32_t sampleBytes) {
  const int32_t perBlock = 16 / pixelBytes;
  alignas(16) uint8_t order[16];
  for (int32_t i = 0; i < 16; ++i) order[i] = static_cast<uint8_t>(i);
  for (int32_t p = 0; p < perBlock; ++p)
    for (int32_t b = 0; b < sampleBytes; ++b) {
      order[p * pixelBytes + b] = static_cast<uint8_t>(p * pixelBytes + 2 * sampleBytes + b);
      order[p * pixelBytes + 2 * sampleBytes + b] = static_cast<uint8_t>(p * pixelBytes + b);
    }
  const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(order));
  int32_t x = 0;
  for (; int64_t{x} * pixelBytes + 16 <= int64_t{width} * pixelBytes; x += perBlock) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + int64_t{x} * pixelBytes));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to + int64_t{x} * pixelBytes),
                     _mm_shuffle_epi8(v, shuffle));
  }
  return x;
}
#endif

// Copies one row between stored and working layouts of a swapped-layout view (either way).
void SwapRow(const RowAccess& a, const void* from, void* to) {
  const int32_t sampleBytes = a.sampleBits / 8;
  int32_t done = 0;
#if defined(__x86_64__)
  static const bool shuffles = __builtin_cpu_supports("ssse3");
  if (shuffles)
    done = SwapBlocks(static_cast<const uint8_t*>(from), static_cast<uint8_t*>(to), a.width,
                      a.pixelStep * sampleBytes, sampleBytes);
#endif
  const int64_t skip = int64_t{done} * a.pixelStep;
  const int32_t rest = a.width - done;
  if (sampleBytes == 2) {
    const auto* f = static_cast<const uint16_t*>(from) + skip;
    auto* t = static_cast<uint16_t*>(to) + skip;
    if (a.pixelStep == 4)
      SwapFirstAndThird<uint16_t, 4>(f, t, rest);
    else
      SwapFirstAndThird<uint16_t, 3>(f, t, rest);
  } else {
    const auto* f = static_cast<const uint8_t*>(from) + skip;
    auto* t = static_cast<uint8_t*>(to) + skip;
    if (a.pixelStep == 4)
      SwapFirstAndThird<uint8_t, 4>(f, t, rest);
    else
      SwapFirstAndThird<uint8_t, 3>(f, t, rest);
  }
}

// The stored row that view row y runs along (row-major views only).
uint8_t* StoredRow(const RowAccess& a, int32_t y) {
  return a.bitmap->Data + int64_t{a.map.sy0 + y * a.map.yy} * a.bitmap->BytesPerLine;
}

uint8_t PaletteIndexAt(const RowAccess& a, const uint8_t* row, int32_t sx) {
  switch (a.format) {
    case PixelFormat::Pal1: return (row[sx >> 3] >> (7 - (sx & 7))) & 1;
    case PixelFormat::Pal4: return (sx & 1) ? (row[sx >> 1] & 0x0F) : (row[sx >> 1] >> 4);
    default: return row[sx];
  }
}

void ReadPixels(const RowAccess& a, int32_t y, void* buffer) {
  auto* out8 = static_cast<uint8_t*>(buffer);
  auto* out16 = static_cast<uint16_t*>(buffer);
  const bool rgb = a.rgbOrder;
  switch (a.format) {
    case PixelFormat::Pal1:
    case PixelFormat::Pal4:
    case PixelFormat::Pal8: {
      const COLORREF* pal = a.bitmap->Palette;
      const uint32_t count = a.bitmap->PaletteCount;
      Walk(a, y, [&](int32_t x, const uint8_t* row, int32_t sx, int32_t) {
        uint8_t index = PaletteIndexAt(a, row, sx);
        COLORREF c = index < count ? pal[index] : 0;
        out8[3 * x] = (c >> 16) & 0xFF;
        out8[3 * x + 1] = (c >> 8) & 0xFF;
        out8[3 * x + 2] = c & 0xFF;
      });
      break;
    }
    case PixelFormat::Gray8:
      Walk(a, y, [&](int32_t x, const uint8_t* row, int32_t sx, int32_t) { out8[x] = row[sx]; });
      break;
    case PixelFormat::Gray12:
      Walk(a, y, [&](int32_t x, const uint8_t* row, int32_t sx, int32_t) {
        uint16_t v = Load16(row + 2 * sx) & 0x0FFF;
        out16[x] = static_cast<uint16_t>(v << 4 | v >> 8);
      });
      break;
    case PixelFormat::Gray16:
      Walk(a, y, [&](int32_t x, const uint8_t* row, int32_t sx, int32_t) { out16[x] = Load16(row + 2 * sx); });
      break;
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32: {
      const int32_t n = a.pixelStep;
      Walk(a, y, [&](int32_t x, const uint8_t* row, int32_t sx, int32_t) {
        const uint8_t* p = row + n * sx;
        uint8_t* o = out8 + n * x;
        o[0] = p[rgb ? 2 : 0];
        o[1] = p[1];
        o[2] = p[rgb ? 0 : 2];
        if (n == 4) o[3] = p[3];
      });
      break;
    }
    case PixelFormat::Rgb48:
    case PixelFormat::Rgb64: {
      const int32_t n = a.pixelStep;
      Walk(a, y, [&](int32_t x, const uint8_t* row, int32_t sx, int32_t) {
        const uint8_t* p = row + 2 * n * sx;
        uint16_t* o = out16 + n * x;
        o[0] = Load16(p + (rgb ? 4 : 0));
        o[1] = Load16(p + 2);
        o[2] = Load16(p + (rgb ? 0 : 4));
        if (n == 4) o[3] = Load16(p + 6);
      });
      break;
    }
    default: break;
  }
}

uint8_t NearestPaletteIndex(RowAccess& a, uint8_t b, uint8_t g, uint8_t r) {
  uint32_t colour = uint32_t{r} | uint32_t{g} << 8 | uint32_t{b} << 16;
  uint32_t slot = ((colour * 2654435761u) >> 20) & (kPaletteCacheSize - 1);
  if (a.cacheKey[slot] == colour + 1) return a.cacheIndex[slot];
  const COLORREF* pal = a.bitmap->Palette;
  const uint32_t count = std::min<uint32_t>(a.bitmap->PaletteCount, HostPaletteSize(a.bitmap->BitsPerPixel));
  uint32_t best = 0, bestDistance = UINT32_MAX;
  for (uint32_t i = 0; i < count && bestDistance; ++i) {
    int32_t dr = int32_t(pal[i] & 0xFF) - r, dg = int32_t(pal[i] >> 8 & 0xFF) - g,
            db = int32_t(pal[i] >> 16 & 0xFF) - b;
    uint32_t d = uint32_t(dr * dr + dg * dg + db * db);
    if (d < bestDistance) bestDistance = d, best = i;
  }
  a.cacheKey[slot] = colour + 1;
  a.cacheIndex[slot] = static_cast<uint8_t>(best);
  return static_cast<uint8_t>(best);
}

void StorePaletteIndex(PixelFormat f, uint8_t* row, int32_t sx, uint8_t index) {
  if (f == PixelFormat::Pal1) {
    uint8_t bit = uint8_t(0x80 >> (sx & 7));
    row[sx >> 3] = index & 1 ? (row[sx >> 3] | bit) : (row[sx >> 3] & ~bit);
  } else if (f == PixelFormat::Pal4) {
    uint8_t& cell = row[sx >> 1];
    cell = (sx & 1) ? uint8_t((cell & 0xF0) | (index & 0x0F)) : uint8_t((cell & 0x0F) | index << 4);
  } else {
    row[sx] = index;
  }
}

void WritePixels(RowAccess& a, int32_t y, const void* buffer) {
  const auto* in8 = static_cast<const uint8_t*>(buffer);
  const auto* in16 = static_cast<const uint16_t*>(buffer);
  const bool rgb = a.rgbOrder;
  const host::HostRegionData* region = a.regionLimited ? a.region : nullptr;
  auto inside = [region](int32_t sx, int32_t sy) {
    return !region || host::RegionContainsStored(region, sx, sy);
  };
  switch (a.format) {
    case PixelFormat::Pal1:
    case PixelFormat::Pal4:
    case PixelFormat::Pal8:
      Walk(a, y, [&](int32_t x, uint8_t* row, int32_t sx, int32_t sy) {
        if (!inside(sx, sy)) return;
        const uint8_t* p = in8 + 3 * x;
        StorePaletteIndex(a.format, row, sx, NearestPaletteIndex(a, p[0], p[1], p[2]));
      });
      break;
    case PixelFormat::Gray8:
      Walk(a, y, [&](int32_t x, uint8_t* row, int32_t sx, int32_t sy) {
        if (inside(sx, sy)) row[sx] = in8[x];
      });
      break;
    case PixelFormat::Gray12:
      Walk(a, y, [&](int32_t x, uint8_t* row, int32_t sx, int32_t sy) {
        if (inside(sx, sy)) Store16(row + 2 * sx, in16[x] >> 4);
      });
      break;
    case PixelFormat::Gray16:
      Walk(a, y, [&](int32_t x, uint8_t* row, int32_t sx, int32_t sy) {
        if (inside(sx, sy)) Store16(row + 2 * sx, in16[x]);
      });
      break;
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32: {
      const int32_t n = a.pixelStep;
      Walk(a, y, [&](int32_t x, uint8_t* row, int32_t sx, int32_t sy) {
        if (!inside(sx, sy)) return;
        uint8_t* p = row + n * sx;
        const uint8_t* i = in8 + n * x;
        p[rgb ? 2 : 0] = i[0];
        p[1] = i[1];
        p[rgb ? 0 : 2] = i[2];
        if (n == 4) p[3] = i[3];
      });
      break;
    }
    case PixelFormat::Rgb48:
    case PixelFormat::Rgb64: {
      const int32_t n = a.pixelStep;
      Walk(a, y, [&](int32_t x, uint8_t* row, int32_t sx, int32_t sy) {
        if (!inside(sx, sy)) return;
        uint8_t* p = row + 2 * n * sx;
        const uint16_t* i = in16 + n * x;
        Store16(p + (rgb ? 4 : 0), i[0]);
        Store16(p + 2, i[1]);
        Store16(p + (rgb ? 0 : 4), i[2]);
        if (n == 4) Store16(p + 6, i[3]);
      });
      break;
    }
    default: break;
  }
}

// Rows the write phase is expected to cover: the region's bounds or the whole view.
int64_t ProcessRows(const RowAccess& a) {
  RECT r;
  HostGetRegionBounds(a.bitmap, nullptr, &r);
  return std::max<int64_t>(1, int64_t{r.bottom} - r.top);
}

int32_t StartWrite(RowAccess* a, bool regionVariant, bool progress, int32_t first, int32_t last,
                   int64_t total) {
  if (!a) return ERROR_HOST_BAD_ARGUMENT;
  int32_t code;
  if (host::FaultOnBegin(&code)) return code;
  if (a->writing) return ERROR_HOST_WRONG_PHASE;
  a->writing = true;
  a->regionLimited = regionVariant && a->region;
  a->progress = progress;
  a->firstPercent = first;
  a->lastPercent = std::max(first, last);
  a->lastReported = -1;
  a->progressTotal = std::max<int64_t>(1, total);
  a->progressDone = 0;
  return SUCCESS;
}

int32_t Advance(RowAccess* a, int64_t steps) {
  if (!a->progress) return SUCCESS;
  a->progressDone += steps;
  int64_t span = int64_t{a->lastPercent} - a->firstPercent;
  int64_t done = std::clamp<int64_t>(a->progressDone, 0, a->progressTotal);
  int32_t percent = static_cast<int32_t>(a->firstPercent + span * done / a->progressTotal);
  if (percent == a->lastReported) return SUCCESS;
  a->lastReported = percent;
  return HostReportStatus(percent);
}

}  // namespace

int32_t HostOpenRowAccess(BitmapRecord* bitmap, RowAccess** handle, int32_t /*mode*/) {
  if (!handle) return ERROR_HOST_BAD_ARGUMENT;
  *handle = nullptr;
  int32_t code;
  if (host::FaultOnOpen(&code)) return code;
  int32_t rc = host::ValidateForAccess(bitmap);
  if (rc != SUCCESS) return rc;
  auto* a = static_cast<RowAccess*>(FX_ALLOC(1, sizeof(RowAccess)));
  if (!a) return ERROR_NO_MEMORY;
  std::memset(a, 0, sizeof(RowAccess));
  a->bitmap = bitmap;
  a->format = host::FormatOf(bitmap->BitsPerPixel, bitmap->Order);
  a->map = host::MakeViewMap(bitmap->Orientation, bitmap->StoredWidth, bitmap->StoredHeight);
  a->width = bitmap->Width;
  a->height = bitmap->Height;
  a->sampleBits = host::WorkingSampleBits(a->format);
  a->pixelStep = host::WorkingPixelStep(a->format);
  a->rowBytes = a->width * a->pixelStep * (a->sampleBits / 8);
  a->rgbOrder = bitmap->Order == ORDER_RGB;
  a->region = host::RegionOf(bitmap);
  *handle = a;
  return SUCCESS;
}

void HostCloseRowAccess(RowAccess* handle) {
  if (handle) FX_FREE(handle);
}

int32_t HostSampleBits(const RowAccess* a) { return a ? a->sampleBits : 8; }
int32_t HostPixelStep(const RowAccess* a) { return a ? a->pixelStep : 1; }
int32_t HostRowBytes(const RowAccess* a) { return a ? a->rowBytes : 0; }

void* HostAllocRowBuffer(RowAccess* a) {
  if (!a) return nullptr;
  // Four spare pixels of the widest sample beyond the row, as callers may clear that much.
  uint32_t bytes = static_cast<uint32_t>(a->rowBytes + 4 * a->pixelStep * (a->sampleBits / 8));
  return HostAllocMemory(bytes, 1, __LINE__, __FILE__);
}

int32_t HostReadRow(RowAccess* a, void* buffer, int32_t row, int32_t /*reserved*/, void* /*unused*/) {
  if (!a || !buffer) return ERROR_HOST_BAD_ARGUMENT;
  int32_t code;
  if (host::FaultOnRead(&code)) return code;
  if (row < 0 || row >= a->height) return ERROR_HOST_ROW_RANGE;
  if (IsIdentityLayout(*a))
    std::memcpy(buffer, StoredRow(*a, row), a->rowBytes);
  else if (IsSwappedLayout(*a))
    SwapRow(*a, StoredRow(*a, row), buffer);
  else
    ReadPixels(*a, row, buffer);
  return SUCCESS;
}

int32_t HostWriteRow(RowAccess* a, const void* buffer, int32_t row, int32_t /*reserved*/,
                     int32_t /*unused*/) {
  if (!a || !buffer) return ERROR_HOST_BAD_ARGUMENT;
  int32_t code;
  if (host::FaultOnWrite(&code)) return code;
  if (!a->writing) return ERROR_HOST_WRONG_PHASE;
  if (row < 0 || row >= a->height) return ERROR_HOST_ROW_RANGE;
  if (!a->regionLimited && IsIdentityLayout(*a))
    std::memcpy(StoredRow(*a, row), buffer, a->rowBytes);
  else if (!a->regionLimited && IsSwappedLayout(*a))
    SwapRow(*a, buffer, StoredRow(*a, row));
  else
    WritePixels(*a, row, buffer);
  return Advance(a, 1);
}

int32_t HostBeginWrite(RowAccess* a) {
  return StartWrite(a, false, true, 1, 100, a ? ProcessRows(*a) : 1);
}
int32_t HostBeginRegionWrite(RowAccess* a) {
  return StartWrite(a, true, true, 1, 100, a ? ProcessRows(*a) : 1);
}
int32_t HostBeginWriteEx(RowAccess* a, int32_t first, int32_t last) {
  return StartWrite(a, false, true, first, last, a ? ProcessRows(*a) : 1);
}
int32_t HostBeginRegionWriteEx(RowAccess* a, int32_t first, int32_t last) {
  return StartWrite(a, true, true, first, last, a ? ProcessRows(*a) : 1);
}
int32_t HostBeginRectWrite(RowAccess* a, int32_t first, int32_t last, const RECT* rect) {
  int64_t rows = rect ? int64_t{rect->bottom} - rect->top : 1;
  return StartWrite(a, true, true, first, last, rows);
}

int32_t HostAdvanceProgress(RowAccess* a, int32_t steps) {
  if (!a) return ERROR_HOST_BAD_ARGUMENT;
  return Advance(a, steps);
}
