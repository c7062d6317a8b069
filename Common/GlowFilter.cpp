// Glow filter: glowing edges on black. Every sample of the rectangle becomes the mean absolute
// difference between it and the same channel of the dim x dim window around it, times `bright`,
// clipped to the sample maximum; results that do not pass `threshold` become 0. Flat areas go
// black and edges light up, channel by channel. The effect works in the bitmap's current
// orientation.
//
// The window statistics live in per-channel histograms that slide along the row: each step
// removes the leaving column and adds the entering one in every window row, then moves the
// reference value across the histogram, so the cost per pixel grows with dim, not dim². Counts
// and sums per group of 16 values (and, at 16 bits, per high byte) let the reference move skip
// empty and whole groups. Window rows beyond the bitmap repeat its first or last row, columns
// beyond it column 0 or W - 1; a replaced pixel counts once per position it fills.
//
// Extreme inputs and choices:
// - m x bright (8-bit) and bright x D (16-bit) are formed wide, so a large `bright` saturates the
//   picture instead of wrapping it dark; identical wherever the 32-bit products fit.
// - The window sums are exact for every dim: 32-bit counts and 64-bit sums up to dim 65535
//   (dim² - 1 < 2^32), 64-bit counts and 128-bit sums beyond. (32-bit sums of 16-bit samples
//   would wrap from dim 257 on.)
// - A window of at least as many rows as the bitmap is held as the bitmap's rows, each with the
//   number of positions it fills, instead of dim ring rows; the sums are the same.
// - The working pixel step is used for every depth (64-bit pixels are four 16-bit samples), and
//   a fourth sample keeps its value, as everywhere in the library.
// - An empty rectangle writes no row and answers SUCCESS.
#include <algorithm>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

// Counts and sums of ordinary windows (dim <= 65535: fewer than 2^32 positions) and of larger
// ones.
struct NarrowSums {
  using Bin = uint32_t;
  using Count = uint64_t;
  using Sum = uint64_t;
};
struct WideSums {
  using Bin = uint64_t;
  using Count = uint64_t;
  using Sum = unsigned __int128;
};
constexpr uint32_t kNarrowDimMax = 65535;

// Both histograms keep, beside the count of every value, the count and the sum of every group of
// 16 values, so a reference move skips empty and whole groups; the 16-bit one also keeps them per
// high byte, so it skips whole buckets.

// 256 counts, one per 8-bit value, and 16 groups.
template <class Acc>
struct FlatHistogram {
  using Bin = typename Acc::Bin;
  using Count = typename Acc::Count;
  using Sum = typename Acc::Sum;
  Bin bins[256];
  Bin groupN[16];
  Sum groupSum[16];

  void Add(uint32_t v, Bin w) {
    bins[v] += w;
    groupN[v >> 4] += w;
    groupSum[v >> 4] += Sum{v} * w;
  }
  void Remove(uint32_t v, Bin w) {
    bins[v] -= w;
    groupN[v >> 4] -= w;
    groupSum[v >> 4] -= Sum{v} * w;
  }
  Bin At(uint32_t v) const { return bins[v]; }
  // Adds the count and the sum of the values strictly between lo and hi (lo < hi).
  void Between(uint32_t lo, uint32_t hi, Count& n, Sum& s) const {
    for (uint32_t i = lo + 1; i < hi;) {
      const uint32_t g = i >> 4, groupEnd = (i | 15) + 1;
      if (groupN[g] == 0) {
        i = groupEnd;
      } else if ((i & 15) == 0 && groupEnd <= hi) {
        n += groupN[g];
        s += groupSum[g];
        i = groupEnd;
      } else {
        n += bins[i];
        s += Sum{bins[i]} * i;
        ++i;
      }
    }
  }
  void Clear() { std::memset(static_cast<void*>(this), 0, sizeof(*this)); }
};

// A two-level histogram of 16-bit values: per high byte a bucket of 256 counts by low byte, 16
// groups, and the number of values in the bucket and their sum. Kept cleared between uses: Clear
// empties only the buckets that hold values (a bucket whose count is 0 holds nothing).
template <class Acc>
struct BucketHistogram {
  using Bin = typename Acc::Bin;
  using Count = typename Acc::Count;
  using Sum = typename Acc::Sum;
  struct Bucket {
    Bin bins[256];
    Bin groupN[16];
    Sum groupSum[16];
    Bin n;
    Sum sum;
  };
  Bucket buckets[256];

  void Add(uint32_t v, Bin w) {
    Bucket& b = buckets[v >> 8];
    const Sum add = Sum{v} * w;
    b.bins[v & 255] += w;
    b.groupN[(v >> 4) & 15] += w;
    b.groupSum[(v >> 4) & 15] += add;
    b.n += w;
    b.sum += add;
  }
  void Remove(uint32_t v, Bin w) {
    Bucket& b = buckets[v >> 8];
    const Sum sub = Sum{v} * w;
    b.bins[v & 255] -= w;
    b.groupN[(v >> 4) & 15] -= w;
    b.groupSum[(v >> 4) & 15] -= sub;
    b.n -= w;
    b.sum -= sub;
  }
  Bin At(uint32_t v) const { return buckets[v >> 8].bins[v & 255]; }
  void Between(uint32_t lo, uint32_t hi, Count& n, Sum& s) const {
    for (uint32_t i = lo + 1; i < hi;) {
      const Bucket& b = buckets[i >> 8];
      const uint32_t bucketEnd = (i | 255) + 1;
      if (b.n == 0) {
        i = bucketEnd;
        continue;
      }
      if ((i & 255) == 0 && bucketEnd <= hi) {
        n += b.n;
        s += b.sum;
        i = bucketEnd;
        continue;
      }
      const uint32_t g = (i >> 4) & 15, groupEnd = (i | 15) + 1;
      if (b.groupN[g] == 0) {
        i = groupEnd;
      } else if ((i & 15) == 0 && groupEnd <= hi) {
        n += b.groupN[g];
        s += b.groupSum[g];
        i = groupEnd;
      } else {
        const Bin c = b.bins[i & 255];
        n += c;
        s += Sum{c} * i;
        ++i;
      }
    }
  }
  void Clear() {
    for (Bucket& b : buckets)
      if (b.n != 0) std::memset(static_cast<void*>(&b), 0, sizeof(b));
  }
};

template <class T, class Acc>
using HistogramFor = std::conditional_t<sizeof(T) == 1, FlatHistogram<Acc>, BucketHistogram<Acc>>;

// A window row and the number of window rows it stands for.
template <class T>
struct WindowRow {
  const T* samples;
  uint64_t weight;
};

struct GlowParams {
  int64_t left, right, lastColumn;
  int64_t hb, ha;  // window reach before and after the reference pixel
  uint64_t q;      // dim² - 1
  uint64_t bright;
  uint32_t threshold;  // at the working sample size
};

inline int64_t Clamp64(int64_t v, int64_t lo, int64_t hi) {
  return v < lo ? lo : (v > hi ? hi : v);
}

// D / q, with 32-bit division whenever the sum fits, as it does for ordinary windows.
inline uint64_t Mean(uint64_t d, uint64_t q) {
  return (d >> 32) == 0 && (q >> 32) == 0 ? uint32_t(d) / uint32_t(q) : d / q;
}
inline uint64_t Mean(unsigned __int128 d, uint64_t q) {
  return static_cast<uint64_t>(d / q);
}

// bright x D / q, saturated at 2^64 - 1 (far above any sample maximum).
inline uint64_t ScaledMean(uint64_t bright, uint64_t d, uint64_t q) {
  uint64_t p;
  if (__builtin_mul_overflow(bright, d, &p)) return UINT64_MAX;  // q < 2^32: quotient >= 2^32
  return p / q;
}
inline uint64_t ScaledMean(uint64_t bright, unsigned __int128 d, uint64_t q) {
  const unsigned __int128 v = static_cast<unsigned __int128>(bright) * d / q;  // < 2^112
  return v >> 64 ? UINT64_MAX : static_cast<uint64_t>(v);
}

// The output sample of a window with total absolute difference d.
template <class T, class Sum>
inline T GlowValue(const GlowParams& g, Sum d) {
  if constexpr (sizeof(T) == 1) {
    const uint64_t m = Mean(d, g.q);  // at most 255
    uint64_t v = m * g.bright;
    if (v > 255) v = 255;
    return static_cast<T>(v > g.threshold ? v : 0);
  } else {
    uint64_t v = ScaledMean(g.bright, d, g.q);
    if (v > 65535) v = 65535;
    return static_cast<T>(v >= g.threshold ? v : 0);
  }
}

// Channel c of one output row: the window rows, the row holding the reference values, and the
// cleared histogram (left cleared again).
template <class T, class Acc>
void GlowChannel(const GlowParams& g, const WindowRow<T>* rows, int32_t rowCount, const T* ref,
                 int32_t c, int32_t step, HistogramFor<T, Acc>& h, T* out) {
  using Bin = typename Acc::Bin;
  using Count = typename Acc::Count;
  using Sum = typename Acc::Sum;
  uint32_t v = ref[g.left * step + c];
  Count below = 0, above = 0;
  Sum sumBelow = 0, sumAbove = 0;
  const auto join = [&](uint32_t p, Bin w) {
    h.Add(p, w);
    if (p < v) {
      below += w;
      sumBelow += Sum{p} * w;
    } else if (p > v) {
      above += w;
      sumAbove += Sum{p} * w;
    }
  };
  const auto leave = [&](uint32_t p, Bin w) {
    h.Remove(p, w);
    if (p < v) {
      below -= w;
      sumBelow -= Sum{p} * w;
    } else if (p > v) {
      above -= w;
      sumAbove -= Sum{p} * w;
    }
  };
  const auto emit = [&](int64_t x) {
    const Sum d = (Sum{below} * v - sumBelow) + (sumAbove - Sum{above} * v);
    out[x * step + c] = GlowValue<T>(g, d);
  };

  // The window of the first pixel: columns left - hb .. left + ha, edge columns repeated.
  const int64_t lo = g.left - g.hb, hi = g.left + g.ha;
  const int64_t c0 = std::max<int64_t>(lo, 0), c1 = std::min(hi, g.lastColumn);
  for (int32_t r = 0; r < rowCount; ++r) {
    const T* s = rows[r].samples;
    for (int64_t x = c0; x <= c1; ++x) {
      const uint64_t fills = 1 + (x == c0 ? c0 - lo : 0) + (x == c1 ? hi - c1 : 0);
      join(s[x * step + c], static_cast<Bin>(rows[r].weight * fills));
    }
  }
  emit(g.left);

  for (int64_t x = g.left + 1; x < g.right; ++x) {
    const int64_t gone = Clamp64(x - g.hb - 1, 0, g.lastColumn) * step + c;
    const int64_t come = Clamp64(x + g.ha, 0, g.lastColumn) * step + c;
    if (gone != come) {
      for (int32_t r = 0; r < rowCount; ++r) {
        const uint32_t a = rows[r].samples[gone], b = rows[r].samples[come];
        if (a == b) continue;
        const Bin w = static_cast<Bin>(rows[r].weight);
        leave(a, w);
        join(b, w);
      }
    }
    // The reference moves: values strictly between change sides, values equal to the old
    // reference join the side they now fall on, values equal to the new one leave theirs.
    const uint32_t vn = ref[x * step + c];
    if (vn > v) {
      Count n = 0;
      Sum s = 0;
      h.Between(v, vn, n, s);
      const Bin atOld = h.At(v), atNew = h.At(vn);
      below += n + atOld;
      sumBelow += s + Sum{v} * atOld;
      above -= n + atNew;
      sumAbove -= s + Sum{vn} * atNew;
    } else if (vn < v) {
      Count n = 0;
      Sum s = 0;
      h.Between(vn, v, n, s);
      const Bin atOld = h.At(v), atNew = h.At(vn);
      above += n + atOld;
      sumAbove += s + Sum{v} * atOld;
      below -= n + atNew;
      sumBelow -= s + Sum{vn} * atNew;
    }
    v = vn;
    emit(x);
  }
  h.Clear();
}

// The geometry of the window rows for output row y.
struct GlowWindow {
  uint32_t dim;
  int32_t height;
  bool sliding;
  int64_t hb, ha;
};

// Lists the window rows of output row y (rows[w] is row y) and returns the reference row.
template <class T>
const T* ListWindowRows(const GlowWindow& win, T* const* rows, int32_t w, int32_t y,
                        WindowRow<T>* list, int32_t& count) {
  const bool even = win.dim % 2 == 0;
  if (win.sliding) {
    // The sliding window's rows in its own layout (see RowWindow); each fills one position.
    const int32_t n = static_cast<int32_t>(win.dim);
    for (int32_t i = 0; i < n; ++i) list[i] = WindowRow<T>{rows[i], 1};
    count = n;
    if (!even) return rows[w];
    return rows[w + 1 < n ? w + 1 : 0];  // row y + 1: index h + 1, or 0 when dim is 2
  }
  // Whole mode: rows[r] is bitmap row r; the window's rows y - hb .. y + ha, clamped.
  const int64_t lo = y - win.hb, hi = y + win.ha, last = win.height - 1;
  const int64_t r0 = std::max<int64_t>(lo, 0), r1 = std::min(hi, last);
  count = 0;
  for (int64_t r = r0; r <= r1; ++r) {
    const uint64_t fills = 1 + (r == r0 ? r0 - lo : 0) + (r == r1 ? hi - r1 : 0);
    list[count++] = WindowRow<T>{rows[r], fills};
  }
  return rows[even ? std::min<int64_t>(y + 1, last) : y];
}

int32_t GlowDriver(BitmapRecord* bitmap, uint32_t dim, uint32_t bright, uint32_t threshold) {
  RECT rect;
  HostGetRegionBounds(bitmap, nullptr, &rect);
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t height = bitmap->Height, step = access.PixelStep();
  const int32_t channels = std::min(step, 3);
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());

  GlowWindow win{dim, height, dim < static_cast<uint32_t>(height), (int64_t{dim} - 1) / 2,
                 int64_t{dim} / 2};
  RowWindow window;
  rc = win.sliding ? window.AllocateSliding(static_cast<int32_t>(dim), rowBytes)
                   : window.AllocateWhole(height, rowBytes);
  if (rc != SUCCESS) return rc;

  GlowParams g{};
  g.left = rect.left;
  g.right = rect.right;
  g.lastColumn = int64_t{bitmap->Width} - 1;
  g.hb = win.hb;
  g.ha = win.ha;
  g.q = uint64_t{dim} * dim - 1;
  g.bright = bright;
  g.threshold = threshold;
  const bool wide = dim > kNarrowDimMax;
  const int32_t listRows = win.sliding ? static_cast<int32_t>(dim) : height;

  return WithSampleType(access.SampleBits(), [&](auto sample) -> int32_t {
    using T = decltype(sample);
    const auto run = [&](auto acc) -> int32_t {
      using Acc = decltype(acc);
      using Histogram = HistogramFor<T, Acc>;
      const size_t listBytes = (size_t(listRows) * sizeof(WindowRow<T>) + 63) / 64 * 64;
      RowSlots slots;
      if (!slots.Allocate(rowBytes, window.ViewBytes() + listBytes + sizeof(Histogram)))
        return ERROR_NO_MEMORY;
      for (int32_t i = 0; i < slots.count(); ++i)  // histograms start cleared
        std::memset(slots.Scratch(i) + window.ViewBytes() + listBytes, 0, sizeof(Histogram));
      int32_t rc = BeginWritePhase(access, bitmap);
      if (rc != SUCCESS) return rc;
      if (!window.sliding()) {
        rc = window.ReadWhole(access, 0);
        if (rc != SUCCESS) return rc;
      }
      rc = window.Run(
          access, slots, rect.top, rect.bottom, height, 0, rect.right - rect.left,
          [&](int32_t y, uint8_t* const* source, int32_t w, uint8_t* out, uint8_t* scratch) {
            std::memcpy(out, source[w], rowBytes);
            if (g.right <= g.left) return;
            auto* list = reinterpret_cast<WindowRow<T>*>(scratch);
            auto* histogram = reinterpret_cast<Histogram*>(scratch + listBytes);
            int32_t count = 0;
            const T* ref =
                ListWindowRows(win, reinterpret_cast<T* const*>(source), w, y, list, count);
            for (int32_t c = 0; c < channels; ++c)
              GlowChannel<T, Acc>(g, list, count, ref, c, step, *histogram,
                                  reinterpret_cast<T*>(out));
          },
          NoHostCall(), WriteRow(access));
      if (rc == SUCCESS) HostFinishUpdate(bitmap);
      return rc;
    };
    return wide ? run(WideSums{}) : run(NarrowSums{});
  });
}

const FxParamDesc kGlowFilterParams[] = {
    UIntParam("dim", 3, 1, kAnyUInt32Max,
              "side of the square window in pixels; 1 does nothing (0 is refused)"),
    UIntParam("bright", 10, 0, kAnyUInt32Max,
              "gain on the mean difference between a sample and its window"),
    UIntParam("threshold", 20, 0, 65535,
              "results below it turn black; up to 255 on 8-bit images, 4095 on 12-bit gray, "
              "65535 on 16-bit gray and 48/64-bit colour"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kGlowFilterPresets[] = {
    {"neon", "dim=3 bright=14 threshold=40"},
    {"soft", "dim=7 bright=6 threshold=10"},
    {"fine", "dim=2 bright=20 threshold=60"},
};

}  // namespace

extern const FxEffectDesc kGlowFilterEffect = {
    "glow-filter",
    "Fx_GlowFilterBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Turns the image into glowing edges on black: each sample's mean difference from its window",
    kGlowFilterParams,
    CountOf(kGlowFilterParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_GlowFilterBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]), ArgU32(v[3]));
    },
    kGlowFilterPresets,
    CountOf(kGlowFilterPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_GlowFilterBitmap(BitmapRecord* bitmap, uint32_t dim, uint32_t bright, uint32_t threshold,
                            uint32_t flags) {
  if (bitmap && bitmap->StructSize != BITMAP_STRUCT_SIZE &&
      bitmap->StructSize != BITMAP_STRUCT_SIZE_OLD)
    return ERROR_INV_STRUCT_SIZE;
  if (flags != 0) return ERROR_INV_PARAMETER;
  if (!bitmap) return ERROR_NO_BITMAP;
  const int32_t rc = fx::CheckBitmapRecord(bitmap);
  if (rc != SUCCESS) return rc;
  if (dim == 0) return ERROR_INV_PARAMETER;
  if (dim == 1) return HostNothingToDo();
  const int32_t bpp = bitmap->BitsPerPixel;
  const bool gray = HostIsGrayscale(bitmap) != 0;
  if (bpp == 12 && gray) {
    if (threshold > 4095) return ERROR_INV_PARAMETER;
    threshold = threshold * 16 + 15;
  } else if ((bpp == 16 && gray) || bpp == 48 || bpp == 64) {
    if (threshold > 65535) return ERROR_INV_PARAMETER;
  } else if (threshold > 255) {
    return ERROR_INV_PARAMETER;
  }
  return fx::GlowDriver(bitmap, dim, bright, threshold);
}
