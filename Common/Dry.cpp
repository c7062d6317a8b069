// Dry: a dry-brush look. Every pixel takes either the darkest or the brightest value found in the
// size x size window around it, whichever lies closer to its own value (ties go to the darker),
// so flat areas keep their level while edges are pushed to one side and the picture flattens
// into patches. A gray pixel decides by its sample; a colour pixel compares the window's
// per-channel minimum and maximum pixels by their brightness Y = (5 g + 2 r + b + 4) div 8 and
// takes all three samples from the same side. The window of (x, y) covers columns x - hb .. x + ha
// and rows y - hb .. y + ha, hb = (size - 1) div 2, ha = size div 2, edges repeated; the
// reference pixel is the window's row size div 2 (row y for an odd size, y + 1 for an even one).
// The effect works in the bitmap's current orientation.
//
// The window extremes are exact and computed separably per row: the minimum and maximum down the
// window rows for every column the row needs, then along the row with the van Herk / Gil-Werman
// block scheme (a prefix and a suffix run per block of the window's width), so a slide costs the
// same for every size.
//
// Extreme inputs and choices:
// - A window at least as tall as the bitmap is held as the bitmap's rows instead of size ring
//   rows, and its reach along a row is limited to the row's width; the extremes are the same, so
//   any size up to 2^32 - 1 works without allocating size rows.
// - Pixels of four samples (32 and 64 bits per pixel): the first sample is decided on its own by
//   the one-sample rule; what the others get is ours to choose, and the two further colour samples
//   are decided the same way, each on its own, so the picture stays a coloured dry brush; the
//   fourth keeps its value, as everywhere in the library.
// - An empty rectangle writes no row and answers SUCCESS.
#include <algorithm>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

struct DryWindow {
  int64_t left, right, width;  // the rectangle's columns, the bitmap's width
  int64_t hb, ha;              // reach before and after, limited to the width along a row
  int64_t rowsBefore, rowsAfter;
  int32_t height, step, channels, size;
  bool sliding;
  bool perChannel;  // four samples: each colour sample decided on its own
};

// Per-row scratch: column extremes of the span, block runs, and the window extremes.
template <class T>
struct DryScratch {
  T *colMin, *colMax, *prefix, *suffix, *winMin, *winMax;
};

inline size_t AlignUp(size_t n) {
  return (n + 63) / 64 * 64;
}

template <class T>
size_t DryScratchBytes(const DryWindow& w) {
  const size_t c = static_cast<size_t>(w.channels), span = static_cast<size_t>(w.width);
  const size_t run = static_cast<size_t>(w.right - w.left + w.hb + w.ha) * c;
  return 4 * AlignUp(span * c * sizeof(T)) + 2 * AlignUp(run * sizeof(T));
}

template <class T>
DryScratch<T> CarveScratch(const DryWindow& w, uint8_t* scratch) {
  const size_t c = static_cast<size_t>(w.channels), span = static_cast<size_t>(w.width);
  const size_t run = static_cast<size_t>(w.right - w.left + w.hb + w.ha) * c;
  DryScratch<T> s;
  T** spans[] = {&s.colMin, &s.colMax, &s.winMin, &s.winMax};
  for (T** p : spans) {
    *p = reinterpret_cast<T*>(scratch);
    scratch += AlignUp(span * c * sizeof(T));
  }
  s.prefix = reinterpret_cast<T*>(scratch);
  scratch += AlignUp(run * sizeof(T));
  s.suffix = reinterpret_cast<T*>(scratch);
  return s;
}

struct Less {
  template <class T>
  static T Pick(T a, T b) {
    return b < a ? b : a;
  }
};
struct Greater {
  template <class T>
  static T Pick(T a, T b) {
    return b > a ? b : a;
  }
};

// Window extremes along the row: out[x - left] = Pick over columns x - hb .. x + ha (clamped) of
// col, where col holds the columns from c0 on. Blocks of L = hb + ha + 1 positions of the
// extended row (position j is column left - hb + j): prefix runs from each block's start,
// suffix runs to its end; a window starting at j is suffix[j] with prefix[j + L - 1].
template <class Op, class T>
void AlongRow(const DryWindow& w, const T* col, int64_t c0, T* prefix, T* suffix, T* out) {
  const int64_t c = w.channels, length = w.hb + w.ha + 1;
  const int64_t count = w.right - w.left + length - 1, last = w.width - 1;
  const auto at = [&](int64_t j) {
    return col + (std::clamp<int64_t>(w.left - w.hb + j, 0, last) - c0) * c;
  };
  for (int64_t j = 0; j < count; ++j) {
    const T* e = at(j);
    T* p = prefix + j * c;
    if (j % length == 0)
      for (int64_t k = 0; k < c; ++k) p[k] = e[k];
    else
      for (int64_t k = 0; k < c; ++k) p[k] = Op::Pick(p[k - c], e[k]);
  }
  for (int64_t j = count - 1; j >= 0; --j) {
    const T* e = at(j);
    T* s = suffix + j * c;
    if (j == count - 1 || (j + 1) % length == 0)
      for (int64_t k = 0; k < c; ++k) s[k] = e[k];
    else
      for (int64_t k = 0; k < c; ++k) s[k] = Op::Pick(s[k + c], e[k]);
  }
  for (int64_t x = 0; x < w.right - w.left; ++x)
    for (int64_t k = 0; k < c; ++k)
      out[x * c + k] = Op::Pick(suffix[x * c + k], prefix[(x + length - 1) * c + k]);
}

template <class T>
inline int32_t Brightness(const T* p) {
  return (5 * int32_t{p[1]} + 2 * int32_t{p[2]} + int32_t{p[0]} + 4) / 8;
}

// Output row y: `rows` holds the window rows, `ref` the reference row, out a copy of row y.
template <class T>
void DryRow(const DryWindow& w, T* const* rows, int32_t rowCount, const T* ref, T* out,
            const DryScratch<T>& s) {
  if (w.right <= w.left) return;
  const int64_t c = w.channels, step = w.step;
  const int64_t c0 = std::max<int64_t>(w.left - w.hb, 0);
  const int64_t c1 = std::min<int64_t>(w.right - 1 + w.ha, w.width - 1);
  const int64_t span = c1 - c0 + 1;
  for (int32_t r = 0; r < rowCount; ++r) {
    const T* src = rows[r] + c0 * step;
    if (step == c) {
      if (r == 0) {
        std::memcpy(s.colMin, src, size_t(span * c) * sizeof(T));
        std::memcpy(s.colMax, src, size_t(span * c) * sizeof(T));
        continue;
      }
      for (int64_t i = 0; i < span * c; ++i) {
        s.colMin[i] = std::min(s.colMin[i], src[i]);
        s.colMax[i] = std::max(s.colMax[i], src[i]);
      }
    } else {
      for (int64_t x = 0; x < span; ++x)
        for (int64_t k = 0; k < c; ++k) {
          const T v = src[x * step + k];
          T& lo = s.colMin[x * c + k];
          T& hi = s.colMax[x * c + k];
          lo = r == 0 ? v : std::min(lo, v);
          hi = r == 0 ? v : std::max(hi, v);
        }
    }
  }
  AlongRow<Less>(w, s.colMin, c0, s.prefix, s.suffix, s.winMin);
  AlongRow<Greater>(w, s.colMax, c0, s.prefix, s.suffix, s.winMax);
  for (int64_t x = w.left; x < w.right; ++x) {
    const T* lo = s.winMin + (x - w.left) * c;
    const T* hi = s.winMax + (x - w.left) * c;
    const T* m = ref + x * step;
    T* o = out + x * step;
    if (c == 1 || w.perChannel) {
      for (int64_t k = 0; k < c; ++k) {
        const int32_t v = m[k];
        o[k] = std::abs(hi[k] - v) >= std::abs(lo[k] - v) ? lo[k] : hi[k];
      }
      continue;
    }
    const int32_t ym = Brightness(m);
    const T* pick = std::abs(Brightness(hi) - ym) >= std::abs(Brightness(lo) - ym) ? lo : hi;
    for (int64_t k = 0; k < 3; ++k) o[k] = pick[k];
  }
}

int32_t DryDriver(BitmapRecord* bitmap, uint32_t size) {
  RECT rect;
  HostGetRegionBounds(bitmap, nullptr, &rect);
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t height = bitmap->Height, step = access.PixelStep();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  DryWindow w{};
  w.left = rect.left;
  w.right = rect.right;
  w.width = bitmap->Width;
  w.rowsBefore = (int64_t{size} - 1) / 2;
  w.rowsAfter = int64_t{size} / 2;
  // Along a row a reach beyond the width clamps to the same columns.
  w.hb = std::min(w.rowsBefore, w.width);
  w.ha = std::min(w.rowsAfter, w.width);
  w.height = height;
  w.step = step;
  w.channels = IsColorPixel(step) ? 3 : 1;
  w.perChannel = step == 4;
  w.sliding = size < static_cast<uint32_t>(height);
  w.size = w.sliding ? static_cast<int32_t>(size) : height;
  RowWindow window;
  rc =
      w.sliding ? window.AllocateSliding(w.size, rowBytes) : window.AllocateWhole(height, rowBytes);
  if (rc != SUCCESS) return rc;

  return WithSampleType(access.SampleBits(), [&](auto sample) -> int32_t {
    using T = decltype(sample);
    RowSlots slots;
    if (!slots.Allocate(rowBytes, window.ViewBytes() + DryScratchBytes<T>(w)))
      return ERROR_NO_MEMORY;
    int32_t rc = BeginWritePhaseEx(access, bitmap, 0, 100);
    if (rc != SUCCESS) return rc;
    if (!window.sliding()) {
      rc = window.ReadWhole(access, 0);
      if (rc != SUCCESS) return rc;
    }
    const bool even = size % 2 == 0;
    rc = window.Run(
        access, slots, rect.top, rect.bottom, height, 0, rect.right - rect.left,
        [&](int32_t y, uint8_t* const* source, int32_t at, uint8_t* out, uint8_t* scratch) {
          std::memcpy(out, source[at], rowBytes);
          T* const* rows = reinterpret_cast<T* const*>(source);
          const DryScratch<T> s = CarveScratch<T>(w, scratch);
          if (w.sliding) {
            // Sliding layout (RowWindow): row y at index at; for an even size row y + 1 follows
            // it, or sits at index 0 when the window has two rows.
            const T* ref = even ? rows[at + 1 < w.size ? at + 1 : 0] : rows[at];
            DryRow<T>(w, rows, w.size, ref, reinterpret_cast<T*>(out), s);
            return;
          }
          const int64_t r0 = std::max<int64_t>(y - w.rowsBefore, 0);
          const int64_t r1 = std::min<int64_t>(y + w.rowsAfter, height - 1);
          const T* ref = rows[std::min<int64_t>(y + (even ? 1 : 0), height - 1)];
          DryRow<T>(w, rows + r0, static_cast<int32_t>(r1 - r0 + 1), ref, reinterpret_cast<T*>(out),
                    s);
        },
        NoHostCall(), WriteRow(access));
    if (rc == SUCCESS) HostFinishUpdate(bitmap);
    return rc;
  });
}

const FxParamDesc kDryParams[] = {
    UIntParam("size", 5, 1, kAnyUInt32Max,
              "side of the square window in pixels; 1 does nothing (0 is refused)"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kDryPresets[] = {
    {"fine", "size=7"},
    {"poster", "size=2.1%s"},
    {"blocks", "size=4%s"},
};

}  // namespace

extern const FxEffectDesc kDryEffect = {
    "dry",
    "Fx_DryBitmap",
    FX_FAMILY_ARTISTIC,
    "A dry-brush look: each pixel takes its window's darkest or brightest value, the closer one",
    kDryParams,
    CountOf(kDryParams),
    [](BitmapRecord* b, const FxValue* v) { return Fx_DryBitmap(b, ArgU32(v[0]), ArgU32(v[1])); },
    kDryPresets,
    CountOf(kDryPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_DryBitmap(BitmapRecord* bitmap, uint32_t size, uint32_t flags) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (const int32_t rc = fx::CheckRecordLayout(bitmap); rc != SUCCESS) return rc;
  if (flags != 0) return ERROR_INV_PARAMETER;
  if (bitmap->Flags & FLAG_UNSUPPORTED) return ERROR_UNSUPPORTED_FLAG;
  if (size == 0) return ERROR_INV_PARAMETER;
  if (size == 1) return HostNothingToDo();
  return fx::DryDriver(bitmap, size);
}
