// Row access: a bitmap seen through its orientation as rows of working pixels (8- or 16-bit
// samples; 1 sample for gray, 3 or 4 in blue, green, red(, alpha) order for colour). Palette
// images read as 8-bit colour and are written back to the nearest palette entry.
#include <algorithm>
#include <cstring>
#include <type_traits>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "host/Host.h"
#include "host/HostInternal.h"
#include "host/RowEngine.h"

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

// Calls op(k, x, storedRowPointer, storedColumn, storedRow) for the pixels x0 <= x < x1 of view
// rows y0 + k, 0 <= k < n. A turned view's row runs down a stored column, so there the band is
// walked one stored row at a time, where its rows' pixels lie side by side, rather than moving
// to another stored row at every pixel.
template <class Op>
inline void WalkRows(const RowAccess& a, int32_t y0, int32_t n, int32_t x0, int32_t x1, Op&& op) {
  const host::ViewMap m = a.map;  // a copy: stores through the rows cannot change it
  uint8_t* base = a.bitmap->Data;
  const int64_t stride = a.bitmap->BytesPerLine;
  if (m.xy == 0) {
    for (int32_t k = 0; k < n; ++k) {
      const int32_t y = y0 + k, sx = m.sx0 + y * m.yx, sy = m.sy0 + y * m.yy;
      uint8_t* row = base + sy * stride;
      for (int32_t x = x0; x < x1; ++x) op(k, x, row, sx + x * m.xx, sy);
    }
  } else {  // a turned view (yy = 0): view column x is stored row sy0 + x·xy
    for (int32_t x = x0; x < x1; ++x) {
      const int32_t rowIndex = m.sy0 + x * m.xy;
      uint8_t* row = base + rowIndex * stride;
      for (int32_t k = 0, sx = m.sx0 + y0 * m.yx; k < n; ++k, sx += m.yx)
        op(k, x, row, sx, rowIndex);
    }
  }
}

// A sample of type S (uint8_t or uint16_t) at p, which need not be aligned.
template <class S>
inline S LoadSample(const uint8_t* p) {
  S v;
  std::memcpy(&v, p, sizeof v);
  return v;
}
template <class S>
inline void StoreSample(uint8_t* p, S v) {
  std::memcpy(p, &v, sizeof v);
}

// The colour formats: three or four samples of a byte or a word each.
bool IsColourFormat(PixelFormat f) {
  return f == PixelFormat::Rgb24 || f == PixelFormat::Rgb32 || f == PixelFormat::Rgb48 ||
         f == PixelFormat::Rgb64;
}

// Gray whose stored samples are the working samples.
bool IsWholeGray(PixelFormat f) {
  return f == PixelFormat::Gray8 || f == PixelFormat::Gray16;
}

// View rows that are whole stored rows, left to right, in the working layout: a plain copy.
bool IsIdentityLayout(const RowAccess& a) {
  return a.map.xx == 1 && a.map.xy == 0 &&
         (IsWholeGray(a.format) || (IsColourFormat(a.format) && !a.rgbOrder));
}

// View rows that are whole stored rows, left to right, of red-first colour: only the first and
// third samples of each pixel trade places.
bool IsSwappedLayout(const RowAccess& a) {
  return a.map.xx == 1 && a.map.xy == 0 && a.rgbOrder && IsColourFormat(a.format);
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
__attribute__((target("ssse3"))) int32_t SwapBlocks(const uint8_t* from, uint8_t* to, int32_t width,
                                                    int32_t pixelBytes, int32_t sampleBytes) {
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
    const __m128i v =
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + int64_t{x} * pixelBytes));
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
    case PixelFormat::Pal1:
      return (row[sx >> 3] >> (7 - (sx & 7))) & 1;
    case PixelFormat::Pal4:
      return (sx & 1) ? (row[sx >> 1] & 0x0F) : (row[sx >> 1] >> 4);
    default:
      return row[sx];
  }
}

// Calls f(step, redFirst, sample) with the colour pixel's samples (3 or 4), sample order and
// sample type (uint8_t or uint16_t) as constants, so the per-pixel loops below are compiled for
// each layout.
template <class F>
void WithColourLayout(const RowAccess& a, F&& f) {
  using Three = std::integral_constant<int32_t, 3>;
  using Four = std::integral_constant<int32_t, 4>;
  const auto withSample = [&](auto step, auto redFirst) {
    if (a.format == PixelFormat::Rgb48 || a.format == PixelFormat::Rgb64)
      f(step, redFirst, uint16_t{});
    else
      f(step, redFirst, uint8_t{});
  };
  if (a.rgbOrder)
    a.pixelStep == 4 ? withSample(Four{}, std::true_type{}) : withSample(Three{}, std::true_type{});
  else
    a.pixelStep == 4 ? withSample(Four{}, std::false_type{})
                     : withSample(Three{}, std::false_type{});
}

// Pixels x0 .. x1 - 1 of view rows y0 .. y0 + rowCount - 1 into rows[0 .. rowCount - 1], in the
// working layout.
void ReadPixels(const RowAccess& a, int32_t y0, int32_t rowCount, int32_t x0, int32_t x1,
                uint8_t* const* rows) {
  const auto out8 = [rows](int32_t k) { return rows[k]; };
  const auto out16 = [rows](int32_t k) { return reinterpret_cast<uint16_t*>(rows[k]); };
  switch (a.format) {
    case PixelFormat::Pal1:
    case PixelFormat::Pal4:
    case PixelFormat::Pal8: {
      const COLORREF* pal = a.bitmap->Palette;
      const uint32_t count = a.bitmap->PaletteCount;
      WalkRows(a, y0, rowCount, x0, x1,
               [&](int32_t k, int32_t x, const uint8_t* row, int32_t sx, int32_t) {
                 uint8_t index = PaletteIndexAt(a, row, sx);
                 COLORREF c = index < count ? pal[index] : 0;
                 out8(k)[3 * x] = (c >> 16) & 0xFF;
                 out8(k)[3 * x + 1] = (c >> 8) & 0xFF;
                 out8(k)[3 * x + 2] = c & 0xFF;
               });
      break;
    }
    case PixelFormat::Gray8:
      WalkRows(a, y0, rowCount, x0, x1,
               [&](int32_t k, int32_t x, const uint8_t* row, int32_t sx, int32_t) {
                 out8(k)[x] = row[sx];
               });
      break;
    case PixelFormat::Gray12:
      WalkRows(a, y0, rowCount, x0, x1,
               [&](int32_t k, int32_t x, const uint8_t* row, int32_t sx, int32_t) {
                 uint16_t v = LoadSample<uint16_t>(row + 2 * sx) & 0x0FFF;
                 out16(k)[x] = static_cast<uint16_t>(v << 4 | v >> 8);
               });
      break;
    case PixelFormat::Gray16:
      WalkRows(a, y0, rowCount, x0, x1,
               [&](int32_t k, int32_t x, const uint8_t* row, int32_t sx, int32_t) {
                 out16(k)[x] = LoadSample<uint16_t>(row + 2 * sx);
               });
      break;
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
    case PixelFormat::Rgb48:
    case PixelFormat::Rgb64:
      WithColourLayout(a, [&](auto step, auto redFirst, auto sample) {
        using S = decltype(sample);
        constexpr int32_t n = decltype(step)::value, z = sizeof(S);
        constexpr int32_t blue = decltype(redFirst)::value ? 2 : 0;
        WalkRows(a, y0, rowCount, x0, x1,
                 [&](int32_t k, int32_t x, const uint8_t* row, int32_t sx, int32_t) {
                   const uint8_t* p = row + z * n * sx;
                   S* o = reinterpret_cast<S*>(rows[k]) + n * x;
                   o[0] = LoadSample<S>(p + z * blue);
                   o[1] = LoadSample<S>(p + z);
                   o[2] = LoadSample<S>(p + z * (2 - blue));
                   if (n == 4) o[3] = LoadSample<S>(p + z * 3);
                 });
      });
      break;
    default:
      break;
  }
}

uint8_t NearestPaletteIndex(RowAccess& a, uint8_t b, uint8_t g, uint8_t r) {
  uint32_t colour = uint32_t{r} | uint32_t{g} << 8 | uint32_t{b} << 16;
  uint32_t slot = ((colour * 2654435761u) >> 20) & (kPaletteCacheSize - 1);
  if (a.cacheKey[slot] == colour + 1) return a.cacheIndex[slot];
  const COLORREF* pal = a.bitmap->Palette;
  const uint32_t count =
      std::min<uint32_t>(a.bitmap->PaletteCount, HostPaletteSize(a.bitmap->BitsPerPixel));
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

// Pixels x0 .. x1 - 1 of rows[0 .. rowCount - 1] into view rows y0 .. y0 + rowCount - 1, inside
// the region when the write is limited.
void WritePixels(RowAccess& a, int32_t y0, int32_t rowCount, int32_t x0, int32_t x1,
                 const uint8_t* const* rows) {
  const auto in8 = [rows](int32_t k) { return rows[k]; };
  const auto in16 = [rows](int32_t k) { return reinterpret_cast<const uint16_t*>(rows[k]); };
  const host::HostRegionData* region = a.regionLimited ? a.region : nullptr;
  auto inside = [region](int32_t sx, int32_t sy) {
    return !region || host::RegionContainsStored(region, sx, sy);
  };
  switch (a.format) {
    case PixelFormat::Pal1:
    case PixelFormat::Pal4:
    case PixelFormat::Pal8:
      WalkRows(a, y0, rowCount, x0, x1,
               [&](int32_t k, int32_t x, uint8_t* row, int32_t sx, int32_t sy) {
                 if (!inside(sx, sy)) return;
                 const uint8_t* p = in8(k) + 3 * x;
                 StorePaletteIndex(a.format, row, sx, NearestPaletteIndex(a, p[0], p[1], p[2]));
               });
      break;
    case PixelFormat::Gray8:
      WalkRows(a, y0, rowCount, x0, x1,
               [&](int32_t k, int32_t x, uint8_t* row, int32_t sx, int32_t sy) {
                 if (inside(sx, sy)) row[sx] = in8(k)[x];
               });
      break;
    case PixelFormat::Gray12:
      WalkRows(a, y0, rowCount, x0, x1,
               [&](int32_t k, int32_t x, uint8_t* row, int32_t sx, int32_t sy) {
                 if (inside(sx, sy)) StoreSample<uint16_t>(row + 2 * sx, in16(k)[x] >> 4);
               });
      break;
    case PixelFormat::Gray16:
      WalkRows(a, y0, rowCount, x0, x1,
               [&](int32_t k, int32_t x, uint8_t* row, int32_t sx, int32_t sy) {
                 if (inside(sx, sy)) StoreSample<uint16_t>(row + 2 * sx, in16(k)[x]);
               });
      break;
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
    case PixelFormat::Rgb48:
    case PixelFormat::Rgb64:
      WithColourLayout(a, [&](auto step, auto redFirst, auto sample) {
        using S = decltype(sample);
        constexpr int32_t n = decltype(step)::value, z = sizeof(S);
        constexpr int32_t blue = decltype(redFirst)::value ? 2 : 0;
        WalkRows(a, y0, rowCount, x0, x1,
                 [&](int32_t k, int32_t x, uint8_t* row, int32_t sx, int32_t sy) {
                   if (!inside(sx, sy)) return;
                   uint8_t* p = row + z * n * sx;
                   const S* i = reinterpret_cast<const S*>(rows[k]) + n * x;
                   StoreSample<S>(p + z * blue, i[0]);
                   StoreSample<S>(p + z, i[1]);
                   StoreSample<S>(p + z * (2 - blue), i[2]);
                   if (n == 4) StoreSample<S>(p + z * 3, i[3]);
                 });
      });
      break;
    default:
      break;
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

// The write phase's percentage once `steps` more rows are written.
int32_t PercentAfter(const RowAccess& a, int64_t steps) {
  const int64_t span = int64_t{a.lastPercent} - a.firstPercent;
  const int64_t done = std::clamp<int64_t>(a.progressDone + steps, 0, a.progressTotal);
  return static_cast<int32_t>(a.firstPercent + span * done / a.progressTotal);
}

int32_t Advance(RowAccess* a, int64_t steps) {
  if (!a->progress) return SUCCESS;
  const int32_t percent = PercentAfter(*a, steps);
  a->progressDone += steps;
  if (percent == a->lastReported) return SUCCESS;
  a->lastReported = percent;
  return HostReportStatus(percent);
}

// Transfers of view rows y0 .. y0 + count - 1 to and from working rows: whole-row copies where the
// view's rows are stored rows, the band walk otherwise. A band of many rows is shared among the
// row engine's threads, by rows or, in a turned view, by stored rows; each part touches only its
// own bytes. Palette writes stay on the calling thread, as they share a cache of nearest entries.
template <class Part>
void SplitBand(const RowAccess& a, int32_t count, bool byColumns, Part&& part) {
  constexpr int32_t kParts = 32;
  if (count == 1) {  // a single row, as HostReadRow and HostWriteRow move them: no hand-out
    part(0, 1, 0, a.width);
    return;
  }
  if (!byColumns) {
    host::ParallelFor(count, a.width, [&](int32_t k) { part(k, k + 1, 0, a.width); });
    return;
  }
  const int32_t parts = std::min(kParts, a.width);
  host::ParallelFor(parts, int64_t{count} * (a.width / parts), [&](int32_t i) {
    part(0, count, static_cast<int32_t>(int64_t{a.width} * i / parts),
         static_cast<int32_t>(int64_t{a.width} * (i + 1) / parts));
  });
}

void ReadBand(const RowAccess& a, int32_t y0, int32_t count, uint8_t* const* rows) {
  if (IsIdentityLayout(a)) {
    SplitBand(a, count, false, [&](int32_t k0, int32_t k1, int32_t, int32_t) {
      for (int32_t k = k0; k < k1; ++k)
        if (const uint8_t* stored = StoredRow(a, y0 + k); stored != rows[k])
          std::memcpy(rows[k], stored, a.rowBytes);
    });
  } else if (IsSwappedLayout(a)) {
    SplitBand(a, count, false, [&](int32_t k0, int32_t k1, int32_t, int32_t) {
      for (int32_t k = k0; k < k1; ++k) SwapRow(a, StoredRow(a, y0 + k), rows[k]);
    });
  } else {
    SplitBand(a, count, a.map.xy != 0, [&](int32_t k0, int32_t k1, int32_t x0, int32_t x1) {
      ReadPixels(a, y0 + k0, k1 - k0, x0, x1, rows + k0);
    });
  }
}

// Palette writes share the access's nearest-colour cache, so they run on one thread.
bool WritesOnOneThread(const RowAccess& a) {
  return a.format == PixelFormat::Pal1 || a.format == PixelFormat::Pal4 ||
         a.format == PixelFormat::Pal8;
}

// Whether each row written through `a` may be written by the thread that made it: nothing can
// stop the writes between two rows (no status callback watches the progress), a view row is a
// stored row (a view row down a stored column shares bytes with its neighbours) and the writes
// share no palette cache.
bool WritesOnAnyThread(const RowAccess& a) {
  return a.map.xy == 0 && !WritesOnOneThread(a) && !(a.progress && host::StatusCallbackInstalled());
}

void WriteBand(RowAccess& a, int32_t y0, int32_t count, const uint8_t* const* rows) {
  if (!a.regionLimited && IsIdentityLayout(a)) {
    SplitBand(a, count, false, [&](int32_t k0, int32_t k1, int32_t, int32_t) {
      for (int32_t k = k0; k < k1; ++k) std::memcpy(StoredRow(a, y0 + k), rows[k], a.rowBytes);
    });
  } else if (!a.regionLimited && IsSwappedLayout(a)) {
    SplitBand(a, count, false, [&](int32_t k0, int32_t k1, int32_t, int32_t) {
      for (int32_t k = k0; k < k1; ++k) SwapRow(a, rows[k], StoredRow(a, y0 + k));
    });
  } else if (WritesOnOneThread(a)) {
    WritePixels(a, y0, count, 0, a.width, rows);
  } else {
    SplitBand(a, count, a.map.xy != 0, [&](int32_t k0, int32_t k1, int32_t x0, int32_t x1) {
      WritePixels(a, y0 + k0, k1 - k0, x0, x1, rows + k0);
    });
  }
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

int32_t HostSampleBits(const RowAccess* a) {
  return a ? a->sampleBits : 8;
}
int32_t HostPixelStep(const RowAccess* a) {
  return a ? a->pixelStep : 1;
}
int32_t HostRowBytes(const RowAccess* a) {
  return a ? a->rowBytes : 0;
}

void* HostAllocRowBuffer(RowAccess* a) {
  if (!a) return nullptr;
  // Four spare pixels of the widest sample beyond the row, as callers may clear that much.
  uint32_t bytes = static_cast<uint32_t>(a->rowBytes + 4 * a->pixelStep * (a->sampleBits / 8));
  return HostAllocMemory(bytes, 1, __LINE__, __FILE__);
}

int32_t HostReadRow(RowAccess* a, void* buffer, int32_t row, int32_t /*reserved*/,
                    void* /*unused*/) {
  uint8_t* const rows[] = {static_cast<uint8_t*>(buffer)};
  return HostReadRows(a, rows, row, 1);
}

int32_t HostWriteRow(RowAccess* a, const void* buffer, int32_t row, int32_t /*reserved*/,
                     int32_t /*unused*/) {
  const uint8_t* const rows[] = {static_cast<const uint8_t*>(buffer)};
  return HostWriteRows(a, rows, row, 1);
}

namespace {

// The checks of reading (or writing) rows k .. end - 1 of a band from `first`, one fault point
// each, in order: *passed is the first row that fails (or end), the result that row's code.
template <class Row>
int32_t CheckRows(const RowAccess& a, const Row* rows, int32_t first, int32_t k, int32_t end,
                  bool write, int32_t* passed) {
  int32_t rc = SUCCESS;
  for (int32_t code; k < end; ++k) {
    const int64_t row = int64_t{first} + k;
    if (!rows[k])
      rc = ERROR_HOST_BAD_ARGUMENT;
    else if (write ? host::FaultOnWrite(&code) : host::FaultOnRead(&code))
      rc = code;
    else if (write && !a.writing)
      rc = ERROR_HOST_WRONG_PHASE;
    else if (row < 0 || row >= a.height)
      rc = ERROR_HOST_ROW_RANGE;
    if (rc != SUCCESS) break;
  }
  *passed = k;
  return rc;
}
int32_t CheckReads(const RowAccess& a, uint8_t* const* rows, int32_t first, int32_t count,
                   int32_t* passed) {
  return CheckRows(a, rows, first, 0, count, false, passed);
}
int32_t CheckWrites(const RowAccess& a, const uint8_t* const* rows, int32_t first, int32_t k,
                    int32_t end, int32_t* passed) {
  return CheckRows(a, rows, first, k, end, true, passed);
}

// Calls move(r0, r1) for each run [r0, r1) of rows in [from, to) whose keep flag is clear; a
// null keep makes [from, to) one run.
template <class Move>
void MovedRuns(const uint8_t* keep, int32_t from, int32_t to, Move&& move) {
  for (int32_t r0 = from; r0 < to;) {
    if (keep && keep[r0]) {
      ++r0;
      continue;
    }
    int32_t r1 = r0 + 1;
    while (r1 < to && !(keep && keep[r1])) ++r1;
    move(r0, r1);
    r0 = r1;
  }
}

// HostReadRows and HostWriteRows, leaving the rows with keep[k] set where they are.
int32_t ReadRows(RowAccess* a, uint8_t* const* rows, int32_t first, int32_t count,
                 const uint8_t* keep) {
  if (!a || !rows || count < 0) return ERROR_HOST_BAD_ARGUMENT;
  int32_t k = 0;
  const int32_t rc = CheckReads(*a, rows, first, count, &k);
  MovedRuns(keep, 0, k,
            [&](int32_t r0, int32_t r1) { ReadBand(*a, first + r0, r1 - r0, rows + r0); });
  return rc;
}

int32_t WriteRows(RowAccess* a, const uint8_t* const* rows, int32_t first, int32_t count,
                  const uint8_t* keep) {
  if (!a || !rows || count < 0) return ERROR_HOST_BAD_ARGUMENT;
  for (int32_t k = 0; k < count;) {
    // A run ends at the first row whose progress step reports: the status callback may stop the
    // work there, and the rows after it must then stay unwritten. Without a callback nothing can
    // stop it, and the band goes in one run.
    int32_t end = a->progress && host::StatusCallbackInstalled() ? k + 1 : count;
    while (end < count && PercentAfter(*a, end - k) == a->lastReported) ++end;
    int32_t m = k;
    const int32_t rc = CheckWrites(*a, rows, first, k, end, &m);
    if (m > k) {
      MovedRuns(keep, k, m,
                [&](int32_t r0, int32_t r1) { WriteBand(*a, first + r0, r1 - r0, rows + r0); });
      const int32_t reported = Advance(a, m - k);
      if (reported != SUCCESS) return reported;
    }
    if (rc != SUCCESS) return rc;
    k = end;
  }
  return SUCCESS;
}

}  // namespace

int32_t HostReadRows(RowAccess* a, uint8_t* const* rows, int32_t first, int32_t count) {
  return ReadRows(a, rows, first, count, nullptr);
}

int32_t HostWriteRows(RowAccess* a, const uint8_t* const* rows, int32_t first, int32_t count) {
  return WriteRows(a, rows, first, count, nullptr);
}

namespace host {

int32_t ReadCombineWriteRows(RowAccess* in, uint8_t* const* inRows, int32_t inFirst, RowAccess* out,
                             uint8_t* const* outRows, int32_t outFirst, int32_t count,
                             void (*combine)(void*, int32_t), void* context) {
  // Where a row's write cannot go on the thread that made it, or the source is seen turned, the
  // three calls, one after another.
  const bool together = (!in || (inRows && ReadsStoredRows(in))) && out && outRows && count >= 0 &&
                        WritesOnAnyThread(*out);
  if (!together) {
    int32_t rc = in ? HostReadRows(in, inRows, inFirst, count) : SUCCESS;
    if (rc == SUCCESS) rc = HostReadRows(out, outRows, outFirst, count);
    if (rc != SUCCESS) return rc;
    ParallelFor(count, out->width, [&](int32_t k) { combine(context, k); });
    return HostWriteRows(out, outRows, outFirst, count);
  }
  // Every fault point and check of the three calls, in their order, then the rows that the
  // writes reach, each read, combined and written by one thread.
  int32_t passed = 0;
  int32_t rc = in ? CheckReads(*in, inRows, inFirst, count, &passed) : SUCCESS;
  if (rc == SUCCESS) rc = CheckReads(*out, outRows, outFirst, count, &passed);
  if (rc != SUCCESS) return rc;
  rc = CheckWrites(*out, outRows, outFirst, 0, count, &passed);
  ParallelFor(passed, out->width, [&](int32_t k) {
    if (in) ReadBand(*in, inFirst + k, 1, inRows + k);
    ReadBand(*out, outFirst + k, 1, outRows + k);
    combine(context, k);
    WriteBand(*out, outFirst + k, 1, outRows + k);
  });
  if (passed > 0) {
    const int32_t reported = Advance(out, passed);
    if (reported != SUCCESS) return reported;
  }
  return rc;
}

bool ReadsStoredRows(const RowAccess* access) {
  return access && access->map.xy == 0;
}

int32_t CheckReadRows(RowAccess* access, uint8_t* const* rows, int32_t first, int32_t count) {
  if (!access || !rows || count < 0) return ERROR_HOST_BAD_ARGUMENT;
  int32_t passed = 0;
  return CheckReads(*access, rows, first, count, &passed);
}

void MoveReadRow(const RowAccess* access, uint8_t* row, int32_t y) {
  ReadBand(*access, y, 1, &row);
}

const uint8_t* StoredRowToRead(const RowAccess* access, int32_t y) {
  return access && IsIdentityLayout(*access) ? StoredRow(*access, y) : nullptr;
}

bool RewritesExactly(const RowAccess* access) {
  return access && (IsWholeGray(access->format) || IsColourFormat(access->format));
}

int32_t ReadRowsKeeping(RowAccess* access, uint8_t* const* rows, int32_t first, int32_t count,
                        const uint8_t* keep) {
  return ReadRows(access, rows, first, count, keep);
}

int32_t WriteRowsKeeping(RowAccess* access, const uint8_t* const* rows, int32_t first,
                         int32_t count, const uint8_t* keep) {
  return WriteRows(access, rows, first, count, keep);
}

namespace detail {

bool DriveWrittenRows(RowRun& run, const RowSlots& slots, bool readsToo, RowAccess* reads,
                      RowAccess* writes, int32_t workers, int32_t* result, Ahead* ahead) {
  if (!writes || (readsToo && !reads) || !WritesOnAnyThread(*writes)) return false;
  // Each row's read check, then its write check, in row order, up to the first that fails.
  uint8_t* const discard[] = {slots.Discard()};
  const uint8_t* const any[] = {slots.Row(0)};
  int32_t rc = SUCCESS, passed = 0, k = 0;
  for (; passed < run.count; ++passed) {
    const int32_t y = run.first + passed;
    if (readsToo && (rc = CheckReads(*reads, discard, y, 1, &k)) != SUCCESS) break;
    if ((rc = CheckWrites(*writes, any, y, 0, 1, &k)) != SUCCESS) break;
  }
  // Rows 0 .. passed - 1, each written by the thread that computed it. Where the write would be
  // a plain copy into the stored row, the row is computed there and the copy left out.
  const bool inPlace = !writes->regionLimited && IsIdentityLayout(*writes) &&
                       slots.rowBytes() == static_cast<size_t>(writes->rowBytes);
  const auto write = [](void* a, int32_t y, uint8_t* row) {
    WriteBand(*static_cast<RowAccess*>(a), y, 1, &row);
  };
  const auto stored = [](void* a, int32_t y) { return StoredRow(*static_cast<RowAccess*>(a), y); };
  ComputeRows(run, slots, passed, workers, inPlace ? nullptr : +write, writes,
              inPlace ? +stored : nullptr, rc == SUCCESS ? ahead : nullptr);
  if (passed > 0) {
    const int32_t reported = Advance(writes, passed);
    if (reported != SUCCESS) rc = reported;
  }
  *result = rc;
  return true;
}

}  // namespace detail
}  // namespace host

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
