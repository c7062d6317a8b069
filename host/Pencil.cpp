// Pencil drawing on whole images: the colored pencil's two local-contrast copies (the brightest
// neighbour and the neighbourhood's mean), the pencil pressure curve and the directional strokes
// of the extended colored pencil. The definitions are in host/Host.h.
//
// The neighbourhood filters work in place a band of rows at a time: the band's source rows are
// read in one band read (each before any row above it is written), then every output row reduces
// its 2r + 1 source rows down the columns and along x (a maximum over the padded row, or prefix
// sums) on the row engine, starting from its own source row so a fourth sample keeps its value.
// The strokes read the whole picture first. Reads and writes keep their row order and fault
// points whatever the thread count.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

#include "host/Host.h"
#include "host/HostInternal.h"
#include "host/RowEngine.h"

namespace {

// A host block of `count` elements, freed on every path; counts beyond 32 bits fail.
template <class T>
class Block {
 public:
  ~Block() {
    if (p_) FX_FREE(p_);
  }
  bool Allocate(int64_t count) {
    if (count < 1 || count > UINT32_MAX) return false;
    p_ = static_cast<T*>(FX_ALLOC(static_cast<uint32_t>(count), sizeof(T)));
    return p_ != nullptr;
  }
  T* get() const { return p_; }
  T& operator[](int64_t i) const { return p_[i]; }

 private:
  T* p_ = nullptr;
};

// A row access in its write phase (through the region when there is one), with one output row
// when asked for.
class Picture {
 public:
  ~Picture() {
    if (row_) FX_FREE(row_);
    if (access_) HostCloseRowAccess(access_);
  }
  int32_t Open(BitmapRecord* bitmap, bool withRow = true) {
    int32_t rc = host::ValidateForAccess(bitmap);
    if (rc != SUCCESS) return rc;
    rc = HostOpenRowAccess(bitmap, &access_, 2);
    if (rc != SUCCESS) return rc;
    bits_ = HostSampleBits(access_);
    step_ = HostPixelStep(access_);
    rowBytes_ = HostRowBytes(access_);
    if (!withRow) return SUCCESS;
    row_ = static_cast<uint8_t*>(HostAllocRowBuffer(access_));
    return row_ ? SUCCESS : ERROR_NO_MEMORY;
  }
  int32_t BeginWrite(const BitmapRecord* bitmap) {
    return HostHasRegion(bitmap) ? HostBeginRegionWrite(access_) : HostBeginWrite(access_);
  }
  RowAccess* access() const { return access_; }
  uint8_t* row() const { return row_; }
  int32_t bits() const { return bits_; }
  int32_t step() const { return step_; }
  int32_t rowBytes() const { return rowBytes_; }
  // Colour samples per pixel: 3 for colour (a fourth is left alone), 1 for gray.
  int32_t channels() const { return step_ >= 3 ? 3 : 1; }

 private:
  RowAccess* access_ = nullptr;
  uint8_t* row_ = nullptr;
  int32_t bits_ = 8, step_ = 1, rowBytes_ = 0;
};

// Calls f(uint16_t{}) for 16-bit working samples, else f(uint8_t{}).
template <class F>
int32_t WithSamples(int32_t bits, F&& f) {
  return bits == 16 ? f(uint16_t{}) : f(uint8_t{});
}

template <class T>
constexpr uint32_t kMax = sizeof(T) == 2 ? 65535 : 255;

// The brightest neighbour and the neighbourhood's mean ----------------------------------------

enum class Reduce { Maximum, Mean };

// The largest neighbourhood radius: 1 + size / 10 for sizes up to 100.
constexpr int32_t kMaxRadius = 11;

// Row q of the picture filtered along x into `dst` (width x channels values): the maximum over
// columns x - r .. x + r, or their sum, both clipped to the picture. `pad` holds width + 2r pixels.
template <Reduce kind, class T, class E>
void AlongRow(const T* src, int32_t width, int32_t step, int32_t channels, int32_t r, E* pad,
              E* dst) {
  const int64_t across = int64_t{width} * channels;
  if constexpr (kind == Reduce::Maximum) {
    // Edge pixels repeated r times change no maximum.
    for (int64_t x = -r; x < width + r; ++x) {
      const int64_t sx = std::clamp<int64_t>(x, 0, width - 1);
      for (int32_t k = 0; k < channels; ++k) pad[(x + r) * channels + k] = src[sx * step + k];
    }
    std::memcpy(dst, pad, size_t(across) * sizeof(E));
    for (int32_t o = 1; o <= 2 * r; ++o) {
      const E* p = pad + int64_t{o} * channels;
      InBlocks(across, [&](int64_t i) { dst[i] = std::max(dst[i], p[i]); });
    }
  } else {
    // Prefix sums: pad[x * channels + k] = samples of columns 0 .. x - 1.
    for (int32_t k = 0; k < channels; ++k) pad[k] = 0;
    if (step == channels) {
      for (int64_t i = 0; i < across; ++i) pad[i + channels] = pad[i] + src[i];
    } else {
      for (int64_t x = 0; x < width; ++x)
        for (int32_t k = 0; k < channels; ++k)
          pad[(x + 1) * channels + k] = pad[x * channels + k] + src[x * step + k];
    }
    const auto clipped = [&](int64_t x) {
      const int64_t lo = std::max<int64_t>(x - r, 0), hi = std::min<int64_t>(x + r, width - 1);
      for (int32_t k = 0; k < channels; ++k)
        dst[x * channels + k] = pad[(hi + 1) * channels + k] - pad[lo * channels + k];
    };
    // Columns whose box lies inside the row take one flat loop; the r at each end are clipped.
    const int64_t inFirst = std::min<int64_t>(r, width),
                  inLast = std::max<int64_t>(width - r, inFirst);
    for (int64_t x = 0; x < inFirst; ++x) clipped(x);
    const int64_t ahead = int64_t{r + 1} * channels, behind = int64_t{r} * channels;
    E* inside = dst + inFirst * channels;
    const E *plus = pad + inFirst * channels + ahead, *minus = pad + inFirst * channels - behind;
    InBlocks((inLast - inFirst) * channels, [&](int64_t i) { inside[i] = plus[i] - minus[i]; });
    for (int64_t x = inLast; x < width; ++x) clipped(x);
  }
}

// f(i) for i in [0, count): blocks of 16 let the compiler use vector instructions whatever the
// count (-O2 vectorises only loops whose count it knows).
template <class F>
inline void InBlocks(int64_t count, F&& f) {
  int64_t i = 0;
  for (; i + 16 <= count; i += 16)
    for (int64_t j = i; j < i + 16; ++j) f(j);
  for (; i < count; ++i) f(i);
}

// d[i] = s[i] for the first row of a box, else the maximum or the sum of d[i] and s[i].
template <Reduce kind, class T, class E>
inline void ReduceInto(bool first, const T* __restrict s, E* __restrict d, int64_t count) {
  if (first)
    InBlocks(count, [&](int64_t i) { d[i] = s[i]; });
  else if constexpr (kind == Reduce::Maximum)
    InBlocks(count, [&](int64_t i) { d[i] = std::max<E>(d[i], s[i]); });
  else
    InBlocks(count, [&](int64_t i) { d[i] += s[i]; });
}

// The box filter is separable and exact in either order (a maximum, or a sum in 32 bits), so an
// output row reduces its 2r + 1 source rows down the columns first, then along x. A band of
// output rows y0 .. y1 - 1 needs source rows y0 - r .. y1 - 1 + r (those inside the picture):
// each is read once, in order; the band's rows are then computed on every thread and written in
// row order on this one. Each output row starts as its own source row, so a fourth sample keeps
// its value; a read of the row before its write keeps the schedule of reading it afresh.
template <Reduce kind, class T>
int32_t FilterNeighbourhood(BitmapRecord* bitmap, Picture& pic, int32_t r) {
  // Maxima keep the sample type; sums of at most 23 x 23 samples fit 32 bits.
  using E = std::conditional_t<kind == Reduce::Maximum, T, uint32_t>;
  const int32_t width = bitmap->Width, height = bitmap->Height, step = pic.step();
  const int32_t channels = pic.channels(), rowBytes = pic.rowBytes();
  const int64_t across = int64_t{width} * channels;
  const int32_t band = host::BandRows(rowBytes);
  const int64_t kept = int64_t{band} + 2 * r;  // band row k holds source row y0 - r + k
  const int64_t padCount = (int64_t{width} + 2 * r + 1) * channels;
  Block<uint8_t> source;
  host::RowSlots slots;
  if (!source.Allocate(int64_t{rowBytes} * kept) ||
      !slots.Allocate(size_t(rowBytes), size_t(2 * across + padCount) * sizeof(E)))
    return ERROR_NO_MEMORY;
  int32_t rc = pic.BeginWrite(bitmap);
  if (rc != SUCCESS) return rc;
  const auto sourceRow = [&](int64_t k) { return source.get() + k * rowBytes; };
  int32_t next = 0;  // the next source row to read
  uint8_t* reads[host::kMaxBandRows + 2 * kMaxRadius];
  for (int32_t y0 = 0; y0 < height; y0 += band) {
    const int32_t y1 = std::min(height, y0 + band), base = y0 - r;
    // The rows this band adds, in one band read (the host splits it among the threads).
    const int32_t to = std::min(height, y1 + r), count = to - next;
    for (int32_t k = 0; k < count; ++k) reads[k] = sourceRow(next + k - base);
    if (count > 0) {
      rc = HostReadRows(pic.access(), reads, next, count);
      if (rc != SUCCESS) return rc;
      next = to;
    }
    rc = host::RunRows(
        slots, y0, y1, width * int64_t{2 * r + 1},
        [&](int32_t y, uint8_t* row, uint8_t* scratch) {
          const int32_t first = std::max(y - r, 0), last = std::min(y + r, height - 1);
          E* down = reinterpret_cast<E*>(scratch);  // the columns reduced over the rows
          E* box = down + across;                   // and then along x
          E* pad = box + across;
          for (int32_t q = first; q <= last; ++q) {
            const T* src = reinterpret_cast<const T*>(sourceRow(q - base));
            if (step == channels)
              ReduceInto<kind>(q == first, src, down, across);
            else
              for (int64_t x = 0; x < width; ++x)
                ReduceInto<kind>(q == first, src + x * step, down + x * channels, channels);
          }
          AlongRow<kind>(down, width, channels, channels, r, pad, box);
          std::memcpy(row, sourceRow(y - base), size_t(rowBytes));
          T* out = reinterpret_cast<T*>(row);
          const uint32_t rows = static_cast<uint32_t>(last - first + 1);
          for (int64_t x = 0; x < width; ++x) {
            uint32_t count = 0;
            if constexpr (kind == Reduce::Mean)
              count = rows * static_cast<uint32_t>(std::min<int64_t>(x + r, width - 1) -
                                                   std::max<int64_t>(x - r, 0) + 1);
            for (int32_t k = 0; k < channels; ++k) {
              const E v = box[x * channels + k];
              if constexpr (kind == Reduce::Maximum)
                out[x * step + k] = v;
              else
                out[x * step + k] = static_cast<T>((v + count / 2) / count);
            }
          }
        },
        host::DiscardRead(pic.access(), slots), host::WriteRow(pic.access()));
    if (rc != SUCCESS) return rc;
    // The next band starts `band` rows on: keep the source rows read beyond this band's start.
    const int64_t keep = int64_t{next} - base - band;
    if (keep > 0) std::memmove(sourceRow(0), sourceRow(band), size_t(keep * rowBytes));
  }
  return SUCCESS;
}

template <Reduce kind>
int32_t PencilFilter(BitmapRecord* bitmap, uint32_t size) {
  if (size > 100) return ERROR_HOST_BAD_ARGUMENT;
  Picture pic;
  const int32_t rc = pic.Open(bitmap, false);  // rows go through the bands
  if (rc != SUCCESS) return rc;
  const int32_t r = 1 + static_cast<int32_t>(size / 10);  // at most kMaxRadius
  return WithSamples(pic.bits(), [&](auto sample) {
    return FilterNeighbourhood<kind, decltype(sample)>(bitmap, pic, r);
  });
}

// Strokes -------------------------------------------------------------------------------------

constexpr int32_t kMaxStroke = 256;

uint32_t Hash(uint32_t v) {
  v ^= v >> 16;
  v *= 0x85EBCA6Bu;
  v ^= v >> 13;
  v *= 0xC2B2AE35u;
  v ^= v >> 16;
  return v;
}

struct Stroke {
  int32_t n;
  double c, s;  // cosine and sine of the direction
  int32_t dx[kMaxStroke], dy[kMaxStroke];
  int32_t minDx, maxDx;  // the columns the offsets reach
};

// The stroke's ink factor 0.5 + g at pixel (x, y).
double GrainFactor(const Stroke& st, int64_t x, int64_t y) {
  const auto j = static_cast<int64_t>(std::floor(x * st.s + y * st.c));
  const uint32_t hj = Hash(static_cast<uint32_t>(j));
  const double u = hj / 4294967296.0;
  const auto k = static_cast<int64_t>(std::floor((x * st.c - y * st.s + st.n * u) / st.n));
  return 0.5 + Hash(hj ^ static_cast<uint32_t>(k)) / 4294967296.0;
}

template <class T>
int32_t DrawStrokes(BitmapRecord* bitmap, Picture& pic, const Stroke& st, bool grain) {
  const int32_t width = bitmap->Width, height = bitmap->Height, step = pic.step();
  const int32_t channels = pic.channels(), rowBytes = pic.rowBytes();
  // The whole picture, and output rows on every thread, each with its own table of the
  // stroke's rows in its scratch; the writes stay on this thread in row order.
  Block<uint8_t> picture;
  host::RowSlots slots;
  if (!picture.Allocate(int64_t{height} * rowBytes) ||
      !slots.Allocate(size_t(rowBytes), size_t(st.n) * sizeof(const T*)))
    return ERROR_NO_MEMORY;
  for (int32_t y = 0; y < height; ++y) {
    const int32_t rc =
        HostReadRow(pic.access(), picture.get() + int64_t{y} * rowBytes, y, 0, nullptr);
    if (rc != SUCCESS) return rc;
  }
  int32_t rc = pic.BeginWrite(bitmap);
  if (rc != SUCCESS) return rc;
  const auto rowOf = [&](int64_t y) {
    return reinterpret_cast<const T*>(picture.get() +
                                      std::clamp<int64_t>(y, 0, height - 1) * rowBytes);
  };
  // Columns whose offsets all stay inside the picture need no clamping.
  const int64_t inFirst = std::max<int64_t>(0, -int64_t{st.minDx});
  const int64_t inLast = std::min<int64_t>(width - 1, int64_t{width} - 1 - st.maxDx);
  const uint32_t n = static_cast<uint32_t>(st.n), max = kMax<T>;
  const auto strokeRow = [&](int32_t y, uint8_t* outRow, uint8_t* scratch) {
    const T** rows = reinterpret_cast<const T**>(scratch);
    for (int32_t i = 0; i < st.n; ++i) rows[i] = rowOf(int64_t{y} + st.dy[i]);
    T* out = reinterpret_cast<T*>(outRow);
    std::memcpy(out, rowOf(y), size_t(rowBytes));
    for (int64_t x = 0; x < width; ++x) {
      const bool inside = x >= inFirst && x <= inLast;
      const double f = grain ? GrainFactor(st, x, y) : 1.0;
      for (int32_t k = 0; k < channels; ++k) {
        uint32_t sum = 0;
        if (inside) {
          for (int32_t i = 0; i < st.n; ++i) sum += rows[i][(x + st.dx[i]) * step + k];
        } else {
          for (int32_t i = 0; i < st.n; ++i)
            sum += rows[i][std::clamp<int64_t>(x + st.dx[i], 0, width - 1) * step + k];
        }
        const uint32_t m = (sum + n / 2) / n;
        uint32_t v = m;
        if (grain) {
          const double ink = std::floor((max - m) * f + 0.5);
          v = ink >= max ? 0 : max - static_cast<uint32_t>(ink);
        }
        out[x * step + k] = static_cast<T>(v);
      }
    }
  };
  return host::RunRows(slots, 0, height, int64_t{width} * st.n, strokeRow, host::NoHostCall(),
                       host::WriteRow(pic.access()));
}

}  // namespace

int32_t HostPencilFilterA(BitmapRecord* bitmap, uint32_t size) {
  return PencilFilter<Reduce::Maximum>(bitmap, size);
}

int32_t HostPencilFilterB(BitmapRecord* bitmap, uint32_t size) {
  return PencilFilter<Reduce::Mean>(bitmap, size);
}

int32_t HostPencilAdjust(BitmapRecord* bitmap, uint32_t value, int32_t reserved) {
  if (value > 1000 || reserved != 0) return ERROR_HOST_BAD_ARGUMENT;
  Picture pic;
  int32_t rc = pic.Open(bitmap);
  if (rc != SUCCESS) return rc;
  return WithSamples(pic.bits(), [&](auto sample) -> int32_t {
    using T = decltype(sample);
    constexpr uint32_t max = kMax<T>;
    Block<T> curve;  // sample -> sample
    if (!curve.Allocate(int64_t{max} + 1)) return ERROR_NO_MEMORY;
    const double power = value == 0 ? 0 : 500.0 / value;
    for (uint32_t s = 0; s <= max; ++s) {
      uint32_t ink = 0;
      if (value != 0) {
        const double v = std::floor(max * std::pow(double(max - s) / max, power) + 0.5);
        ink = v >= max ? max : static_cast<uint32_t>(v);
      }
      curve[s] = static_cast<T>(max - ink);
    }
    int32_t rc = pic.BeginWrite(bitmap);
    if (rc != SUCCESS) return rc;
    const int32_t step = pic.step(), channels = pic.channels();
    for (int32_t y = 0; y < bitmap->Height; ++y) {
      rc = HostReadRow(pic.access(), pic.row(), y, 0, nullptr);
      if (rc != SUCCESS) return rc;
      T* row = reinterpret_cast<T*>(pic.row());
      for (int64_t x = 0; x < bitmap->Width; ++x)
        for (int32_t k = 0; k < channels; ++k) row[x * step + k] = curve[row[x * step + k]];
      rc = HostWriteRow(pic.access(), pic.row(), y, 0, 0);
      if (rc != SUCCESS) return rc;
    }
    return SUCCESS;
  });
}

int32_t HostDirectionalFilter(BitmapRecord* bitmap, int32_t amount, int32_t angle, int32_t mode) {
  if (mode != 0 && mode != 1) return ERROR_HOST_BAD_ARGUMENT;
  const int64_t length = amount < 0 ? -int64_t{amount} : int64_t{amount};
  Picture pic;
  int32_t rc = pic.Open(bitmap, false);  // rows go through the row slots
  if (rc != SUCCESS || length <= 1) return rc;
  Stroke st{};
  st.n = static_cast<int32_t>(std::min<int64_t>(length, kMaxStroke));
  const double theta = angle * 3.1415926535 / 18000;
  st.c = std::cos(theta);
  st.s = std::sin(theta);
  for (int32_t i = 0; i < st.n; ++i) {
    const double t = i - (st.n - 1) / 2.0;
    st.dx[i] = static_cast<int32_t>(std::floor(t * st.c + 0.5));
    st.dy[i] = static_cast<int32_t>(std::floor(-t * st.s + 0.5));
    st.minDx = std::min(st.minDx, st.dx[i]);
    st.maxDx = std::max(st.maxDx, st.dx[i]);
  }
  return WithSamples(pic.bits(), [&](auto sample) {
    return DrawStrokes<decltype(sample)>(bitmap, pic, st, mode == 1);
  });
}
