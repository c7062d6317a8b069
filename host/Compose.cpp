// Whole-bitmap composition: a copy of a rectangle, resizing, combining one bitmap into a
// rectangle of another, filling with a colour, and the bilinear weight table of the wave family.
// Every operation works on the pictures as seen in their orientations, through working rows, so
// it serves every depth; the definitions are in host/Host.h and include/fxkit/host.h.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/Host.h"
#include "host/HostInternal.h"
#include "host/RowEngine.h"

namespace {

// A row access, with one working row buffer when asked for, released on every path.
class Access {
 public:
  ~Access() {
    if (row_) FX_FREE(row_);
    if (access_) HostCloseRowAccess(access_);
  }
  int32_t Open(BitmapRecord* bitmap, bool withRow = true) {
    int32_t rc = HostOpenRowAccess(bitmap, &access_, 2);
    if (rc != SUCCESS || !withRow) return rc;
    row_ = static_cast<uint8_t*>(HostAllocRowBuffer(access_));
    return row_ ? SUCCESS : ERROR_NO_MEMORY;
  }
  int32_t BeginWrite(const BitmapRecord* bitmap) {
    return HostHasRegion(bitmap) ? HostBeginRegionWrite(access_) : HostBeginWrite(access_);
  }
  RowAccess* get() const { return access_; }
  uint8_t* row() const { return row_; }
  int32_t bits() const { return HostSampleBits(access_); }
  int32_t step() const { return HostPixelStep(access_); }

 private:
  RowAccess* access_ = nullptr;
  uint8_t* row_ = nullptr;
};

uint32_t Sample(const uint8_t* row, int32_t bits, int64_t i) {
  if (bits == 16) {
    uint16_t v;
    std::memcpy(&v, row + 2 * i, 2);
    return v;
  }
  return row[i];
}

void Store(uint8_t* row, int32_t bits, int64_t i, uint32_t v) {
  if (bits == 16) {
    const uint16_t s = static_cast<uint16_t>(v);
    std::memcpy(row + 2 * i, &s, 2);
  } else {
    row[i] = static_cast<uint8_t>(v);
  }
}

// Blue, green, red of working pixel x at the destination's sample size: 8 -> 16 bits by x257,
// 16 -> 8 by (v + 128) / 257, a gray level repeated in all three.
void ColourAt(const uint8_t* row, int32_t bits, int32_t step, int64_t x, int32_t toBits,
              uint32_t out[3]) {
  for (int32_t k = 0; k < 3; ++k) {
    uint32_t v = Sample(row, bits, x * step + (step >= 3 ? k : 0));
    if (bits == 8 && toBits == 16) v *= 257;
    if (bits == 16 && toBits == 8) v = (v + 128) / 257;
    out[k] = v;
  }
}

// Writes blue, green, red into working pixel x; a gray pixel takes (b + 5g + 2r + 4) / 8. A
// fourth sample keeps its value.
void PutColour(uint8_t* row, int32_t bits, int32_t step, int64_t x, const uint32_t c[3]) {
  if (step >= 3) {
    for (int32_t k = 0; k < 3; ++k) Store(row, bits, x * step + k, c[k]);
  } else {
    Store(row, bits, x * step, (c[0] + 5 * c[1] + 2 * c[2] + 4) / 8);
  }
}

// Destination sample d combined with source sample s by a blending operation (host.h).
uint32_t Blend(uint32_t operation, uint32_t d, uint32_t s, uint32_t max) {
  const uint64_t half = max / 2;
  switch (operation) {
    case HOST_COMBINE_SCREEN:
      return max - static_cast<uint32_t>((uint64_t{max - d} * (max - s) + half) / max);
    case HOST_COMBINE_MULTIPLY_NEGATIVE:
      return static_cast<uint32_t>((uint64_t{d} * (max - s) + half) / max);
    case HOST_COMBINE_MULTIPLY:
      return static_cast<uint32_t>((uint64_t{d} * s + half) / max);
    default:  // HOST_COMBINE_LIGHTEN
      return std::max(d, s);
  }
}

// The colour samples (3, or the one gray sample) of n pixels from `in` into `out`, both of the
// same sample size, replaced or lightened (each the larger of the two); a fourth sample keeps its
// value.
template <class T>
void CopyOrLightenSamples(const T* in, int32_t inStep, T* out, int32_t outStep, int64_t n,
                          bool lighten) {
  const int32_t samples = inStep >= 3 ? 3 : 1;
  if (inStep == samples && outStep == samples) {
    const int64_t count = n * samples;
    if (!lighten) {
      std::memcpy(out, in, size_t(count) * sizeof(T));
    } else {
      for (int64_t i = 0; i < count; ++i) out[i] = std::max(out[i], in[i]);
    }
    return;
  }
  for (int64_t x = 0; x < n; ++x)
    for (int32_t k = 0; k < samples; ++k) {
      T& o = out[x * outStep + k];
      const T v = in[x * inStep + k];
      o = lighten ? std::max(o, v) : v;
    }
}

void CopyOrLighten(const uint8_t* in, int32_t inStep, uint8_t* out, int32_t outStep, int64_t n,
                   int32_t bits, bool lighten) {
  if (bits == 16)
    CopyOrLightenSamples(reinterpret_cast<const uint16_t*>(in), inStep,
                         reinterpret_cast<uint16_t*>(out), outStep, n, lighten);
  else
    CopyOrLightenSamples(in, inStep, out, outStep, n, lighten);
}

// Region membership of the source pixels, for operation 48.
bool InSourceRegion(const BitmapRecord* source, int32_t x, int32_t y) {
  return HostIsInRegion(source, x, y) != 0;
}

// A host block of `count` elements, freed on every path.
template <class T>
class Buffer {
 public:
  ~Buffer() {
    if (p_) FX_FREE(p_);
  }
  bool Allocate(int64_t count) {
    if (count < 1 || count > UINT32_MAX) return false;
    p_ = static_cast<T*>(FX_ALLOC_CLEARED(static_cast<uint32_t>(count), sizeof(T)));
    return p_ != nullptr;
  }
  T& operator[](int64_t i) const { return p_[i]; }
  T* get() const { return p_; }

 private:
  T* p_ = nullptr;
};

// One axis of the resampling filter: for every target position d, taps count[d] source positions
// from first[d] with weights (summing to 1), at most `width` of them.
struct Taps {
  Buffer<int32_t> first, count;
  Buffer<double> weights;
  int32_t width = 0;

  bool Build(int32_t from, int32_t to) {
    const double scale = static_cast<double>(from) / to;
    width = to >= from ? 2 : static_cast<int32_t>(std::ceil(scale)) + 1;
    if (!first.Allocate(to) || !count.Allocate(to) || !weights.Allocate(int64_t{to} * width))
      return false;
    for (int32_t d = 0; d < to; ++d) {
      double* w = weights.get() + int64_t{d} * width;
      if (to >= from) {  // linear interpolation between pixel centres, edges held
        const double s = std::clamp((d + 0.5) * scale - 0.5, 0.0, static_cast<double>(from - 1));
        const int32_t i0 = static_cast<int32_t>(s);
        const double f = s - i0;
        first[d] = i0;
        count[d] = i0 + 1 < from ? 2 : 1;
        w[0] = count[d] == 2 ? 1.0 - f : 1.0;
        w[1] = count[d] == 2 ? f : 0.0;
        continue;
      }
      // Area average: target d covers source [d·scale, (d + 1)·scale).
      const double a = d * scale, b = (d + 1) * scale;
      const int32_t i0 = static_cast<int32_t>(a);
      int32_t n = 0;
      for (int32_t i = i0; i < from && i < b && n < width; ++i, ++n)
        w[n] = (std::min<double>(i + 1, b) - std::max<double>(i, a)) / scale;
      first[d] = i0;
      count[d] = n;
    }
    return true;
  }
};

uint32_t Round(double v, uint32_t max) {
  if (!(v > 0)) return 0;
  const double r = std::floor(v + 0.5);
  return r >= max ? max : static_cast<uint32_t>(r);
}

}  // namespace

void HostFillWeightTable(HostWeights* const* table) {
  for (int32_t fx = 0; fx <= 100; ++fx)
    for (int32_t fy = 0; fy <= 100; ++fy)
      table[fx][fy] =
          HostWeights{{(100 - fx) * (100 - fy), fx * (100 - fy), (100 - fx) * fy, fx * fy}};
}

int32_t HostCopyBitmapRect(BitmapRecord* destination, BitmapRecord* source, uint32_t structSize,
                           int32_t left, int32_t top, int32_t width, int32_t height) {
  if (!source) return ERROR_NO_BITMAP;
  if (!destination || destination == source) return ERROR_HOST_BAD_ARGUMENT;
  int32_t rc = host::ValidateForAccess(source);
  if (rc != SUCCESS) return rc;
  if (left < 0 || top < 0 || width < 1 || height < 1 || int64_t{left} + width > source->Width ||
      int64_t{top} + height > source->Height)
    return ERROR_HOST_BAD_ARGUMENT;
  rc = HostCopyBitmap(destination, source, structSize);
  if (rc != SUCCESS) return rc;
  HostFreeRegion(destination);
  rc = HostTrimBitmap(destination, left, top, width, height);
  if (rc != SUCCESS) HostFreeBitmap(destination);
  return rc;
}

int32_t HostResizeBitmap(BitmapRecord* bitmap, int32_t width, int32_t height, int32_t /*method*/) {
  int32_t rc = host::ValidateForAccess(bitmap);
  if (rc != SUCCESS) return rc;
  if (width < 1 || height < 1) return ERROR_HOST_BAD_ARGUMENT;
  const int32_t fromW = bitmap->Width, fromH = bitmap->Height;
  if (width == fromW && height == fromH) return SUCCESS;

  BitmapRecord made{};
  rc = HostCreateBitmap(&made, BITMAP_STRUCT_SIZE, 1, width, height, bitmap->BitsPerPixel,
                        bitmap->Order, bitmap->Palette, 1, nullptr, 0);
  if (rc != SUCCESS) return rc;
  struct Release {
    BitmapRecord* b;
    ~Release() { HostFreeBitmap(b); }
  } release{&made};
  {
    Access in, out;
    rc = in.Open(bitmap, false);  // rows go through the bands below
    if (rc == SUCCESS) rc = out.Open(&made, false);
    if (rc == SUCCESS) rc = HostBeginWrite(out.get());
    if (rc != SUCCESS) return rc;
    const int32_t bits = in.bits(), step = in.step();
    const uint32_t max = bits == 16 ? 65535 : 255;
    const int32_t samples = step >= 3 ? 3 : 1;
    const int64_t across = int64_t{width} * samples;  // one row resampled along x
    const int32_t inBytes = HostRowBytes(in.get()), outBytes = HostRowBytes(out.get());
    Taps tx, ty;
    if (!tx.Build(fromW, width) || !ty.Build(fromH, height)) return ERROR_NO_MEMORY;
    // A band of target rows needs the source rows its taps reach (first[d] never decreases, so
    // they are one run of rows, and a band shares its first rows with the band before). Each
    // source row is read once, in order, and resampled along x on every thread; the band's
    // rows are then resampled down the columns on every thread and written in row order.
    const int32_t band = host::BandRows(int64_t{ty.width} * across * int64_t{sizeof(double)} +
                                        (step == 4 ? inBytes : 0) + outBytes);
    const auto lastTap = [&](int32_t d0, int32_t d1) {
      int32_t hi = 0;
      for (int32_t d = d0; d < d1; ++d) hi = std::max(hi, ty.first[d] + ty.count[d] - 1);
      return hi;
    };
    int32_t rowsHeld = 1;
    for (int32_t d0 = 0; d0 < height; d0 += band)
      rowsHeld = std::max(rowsHeld, lastTap(d0, std::min(height, d0 + band)) - ty.first[d0] + 1);
    Buffer<uint8_t> raw, nearest;  // source rows as read; for 32/64 bits the nearest rows
    Buffer<double> resampled;      // source rows resampled along x: row r in slot r - base
    host::RowSlots slots;
    if (!raw.Allocate(int64_t{rowsHeld} * inBytes) ||
        !resampled.Allocate(int64_t{rowsHeld} * across) ||
        (step == 4 && !nearest.Allocate(int64_t{band} * inBytes)) ||
        !slots.Allocate(size_t(outBytes), 0))
      return ERROR_NO_MEMORY;
    int32_t base = 0, next = 0;  // slots hold source rows base .. next - 1
    for (int32_t d0 = 0; d0 < height; d0 += band) {
      const int32_t d1 = std::min(height, d0 + band);
      const int32_t lo = ty.first[d0], hi = lastTap(d0, d1);
      if (lo > base) {  // rows before lo are done with
        const int32_t keep = std::max(0, next - lo);
        std::memmove(resampled.get(), resampled.get() + int64_t{lo - base} * across,
                     size_t(int64_t{keep} * across) * sizeof(double));
        base = lo;
        next = std::max(next, lo);
      }
      const int32_t from = next;
      for (; next <= hi; ++next) {
        rc = HostReadRow(in.get(), raw.get() + int64_t{next - base} * inBytes, next, 0, nullptr);
        if (rc != SUCCESS) return rc;
      }
      host::ParallelFor(next - from, across * tx.width, [&](int32_t i) {
        const uint8_t* src = raw.get() + int64_t{from - base + i} * inBytes;
        double* o = resampled.get() + int64_t{from - base + i} * across;
        for (int32_t x = 0; x < width; ++x)
          for (int32_t k = 0; k < samples; ++k) {
            double v = 0;
            for (int32_t t = 0; t < tx.count[x]; ++t)
              v += tx.weights[int64_t{x} * tx.width + t] *
                   Sample(src, bits, int64_t{tx.first[x] + t} * step + k);
            o[int64_t{x} * samples + k] = v;
          }
      });
      if (step == 4) {  // a fourth sample comes from the nearest source pixel
        for (int32_t d = d0; d < d1; ++d) {
          rc = HostReadRow(in.get(), nearest.get() + int64_t{d - d0} * inBytes,
                           static_cast<int32_t>(int64_t{d} * fromH / height), 0, nullptr);
          if (rc != SUCCESS) return rc;
        }
      }
      rc = host::RunRows(
          slots, d0, d1, across * ty.width,
          [&](int32_t d, uint8_t* row, uint8_t*) {
            std::memset(row, 0, size_t(outBytes));
            for (int32_t x = 0; x < width; ++x)
              for (int32_t k = 0; k < samples; ++k) {
                double v = 0;
                for (int32_t n = 0; n < ty.count[d]; ++n)
                  v += ty.weights[int64_t{d} * ty.width + n] *
                       resampled[int64_t{ty.first[d] + n - base} * across + int64_t{x} * samples +
                                 k];
                Store(row, bits, int64_t{x} * step + k, Round(v, max));
              }
            if (step == 4) {
              const uint8_t* near = nearest.get() + int64_t{d - d0} * inBytes;
              for (int32_t x = 0; x < width; ++x)
                Store(row, bits, int64_t{x} * 4 + 3,
                      Sample(near, bits, int64_t{x} * fromW / width * 4 + 3));
            }
          },
          host::NoHostCall(), host::WriteRow(out.get()));
      if (rc != SUCCESS) return rc;
    }
  }
  // Seen as before: the new picture takes the bitmap's orientation, then its place.
  const uint8_t orientation = bitmap->Orientation;
  if (orientation != 1) {
    rc = HostChangeOrientation(&made, &made, BITMAP_STRUCT_SIZE, orientation);
    if (rc != SUCCESS) return rc;
  }
  return HostAssignBitmap(bitmap, &made, bitmap->StructSize);
}

int32_t HostCombineBitmaps(BitmapRecord* destination, int32_t left, int32_t top, int32_t width,
                           int32_t height, BitmapRecord* source, int32_t sourceLeft,
                           int32_t sourceTop, uint32_t operation) {
  if (!destination || !source) return ERROR_NO_BITMAP;
  if (destination == source) return ERROR_HOST_BAD_ARGUMENT;
  const bool blend = operation == HOST_COMBINE_LIGHTEN || operation == HOST_COMBINE_SCREEN ||
                     operation == HOST_COMBINE_MULTIPLY_NEGATIVE ||
                     operation == HOST_COMBINE_MULTIPLY;
  if (operation != HOST_COMBINE_COPY && operation != HOST_COMBINE_COPY_SOURCE_REGION && !blend)
    return ERROR_HOST_BAD_ARGUMENT;
  int32_t rc = host::ValidateForAccess(destination);
  if (rc == SUCCESS) rc = host::ValidateForAccess(source);
  if (rc != SUCCESS) return rc;
  // The rectangle, clipped to both pictures.
  int64_t x0 = std::max<int64_t>({0, -int64_t{left}, -int64_t{sourceLeft}});
  int64_t y0 = std::max<int64_t>({0, -int64_t{top}, -int64_t{sourceTop}});
  int64_t x1 = std::min<int64_t>(
      {width, int64_t{destination->Width} - left, int64_t{source->Width} - sourceLeft});
  int64_t y1 = std::min<int64_t>(
      {height, int64_t{destination->Height} - top, int64_t{source->Height} - sourceTop});
  if (x1 <= x0 || y1 <= y0) return SUCCESS;

  Access in, out;
  rc = in.Open(source, false);  // rows go through the bands below
  if (rc == SUCCESS) rc = out.Open(destination, false);
  if (rc == SUCCESS) rc = out.BeginWrite(destination);
  if (rc != SUCCESS) return rc;
  const int32_t inBits = in.bits(), inStep = in.step(), outBits = out.bits(), outStep = out.step();
  const uint32_t max = outBits == 16 ? 65535 : 255;
  // A band of rows at a time: the band's source rows and then its destination rows are read, the
  // destination rows are combined in place, and the band is written, with the row reads' and
  // writes' faults and progress in that order; each row is read, combined and written by one
  // thread, in one hand-out a band (host::ReadCombineWrite).
  const int32_t inBytes = HostRowBytes(in.get()), outBytes = HostRowBytes(out.get());
  const int32_t band = host::BandRows(int64_t{inBytes} + outBytes);
  Buffer<uint8_t> sources, destinations;
  if (!sources.Allocate(int64_t{band} * inBytes) ||
      !destinations.Allocate(int64_t{band} * outBytes))
    return ERROR_NO_MEMORY;
  uint8_t* sourceRows[host::kMaxBandRows];
  uint8_t* destinationRows[host::kMaxBandRows];
  for (int32_t k = 0; k < band; ++k) {
    sourceRows[k] = sources.get() + int64_t{k} * inBytes;
    destinationRows[k] = destinations.get() + int64_t{k} * outBytes;
  }
  // Pictures of one sample size, both colour or both gray, copy or lighten sample by sample: the
  // colour conversions are then the identity (a gray level repeated three times comes back
  // through (b + 5g + 2r + 4) / 8 unchanged).
  const bool alike = inBits == outBits && (inStep >= 3) == (outStep >= 3);
  const bool direct =
      alike && (operation == HOST_COMBINE_COPY || operation == HOST_COMBINE_LIGHTEN);
  const auto combineRow = [&](int32_t y, uint8_t* row, const uint8_t* inRow) {
    const int32_t sy = static_cast<int32_t>(sourceTop + y);
    if (direct) {
      CopyOrLighten(inRow + (sourceLeft + x0) * inStep * (inBits / 8), inStep,
                    row + (left + x0) * outStep * (outBits / 8), outStep, x1 - x0, inBits,
                    operation == HOST_COMBINE_LIGHTEN);
      return;
    }
    for (int64_t x = x0; x < x1; ++x) {
      const int64_t sx = sourceLeft + x, dx = left + x;
      if (operation == HOST_COMBINE_COPY_SOURCE_REGION &&
          !InSourceRegion(source, static_cast<int32_t>(sx), sy))
        continue;
      uint32_t c[3];
      ColourAt(inRow, inBits, inStep, sx, outBits, c);
      if (blend) {
        if (outStep < 3) {  // gray: the source's level blended with the destination's
          const uint32_t level = (c[0] + 5 * c[1] + 2 * c[2] + 4) / 8;
          Store(row, outBits, dx, Blend(operation, Sample(row, outBits, dx), level, max));
          continue;
        }
        uint32_t d[3];
        ColourAt(row, outBits, outStep, dx, outBits, d);
        for (int32_t k = 0; k < 3; ++k) c[k] = Blend(operation, d[k], c[k], max);
      }
      PutColour(row, outBits, outStep, dx, c);
    }
  };
  for (int32_t b0 = static_cast<int32_t>(y0); b0 < y1; b0 += band) {
    const int32_t b1 = static_cast<int32_t>(std::min<int64_t>(y1, int64_t{b0} + band));
    rc = host::ReadCombineWrite(
        in.get(), sourceRows, sourceTop + b0, out.get(), destinationRows, top + b0, b1 - b0,
        [&](int32_t k) { combineRow(b0 + k, destinationRows[k], sourceRows[k]); });
    if (rc != SUCCESS) return rc;
  }
  return SUCCESS;
}

// Sets the first sample (gray) or the first three samples of every pixel of a working row to the
// pixel's; the values are held in locals, since the row's stores could otherwise alias them.
template <class T>
void PaintRow(T* row, int32_t width, int32_t step, const T* pixel) {
  const T first = pixel[0];
  if (step == 1) {
    std::fill_n(row, width, first);
    return;
  }
  const T second = pixel[1], third = pixel[2];
  for (int64_t x = 0; x < width; ++x) {
    T* p = row + x * step;
    p[0] = first;
    p[1] = second;
    p[2] = third;
  }
}

int32_t HostFillBitmap(BitmapRecord* bitmap, COLORREF colour) {
  int32_t rc = host::ValidateForAccess(bitmap);
  if (rc != SUCCESS) return rc;
  Access a;
  rc = a.Open(bitmap, false);
  if (rc == SUCCESS) rc = a.BeginWrite(bitmap);
  if (rc != SUCCESS) return rc;
  const int32_t bits = a.bits(), step = a.step();
  // The colour's samples once; each pixel takes them and keeps a fourth sample it has.
  uint16_t pixel16[3];
  uint8_t pixel8[3];
  HostColorToPixel(bits == 16 ? static_cast<void*>(pixel16) : pixel8, colour, bits, step);
  // A band of rows at a time: read, painted and written back, each row by one thread.
  const int32_t rowBytes = HostRowBytes(a.get());
  const int32_t band = std::min(host::BandRows(rowBytes), bitmap->Height);  // Height >= 1
  Buffer<uint8_t> buffer;
  if (!buffer.Allocate(int64_t{band} * rowBytes)) return ERROR_NO_MEMORY;
  uint8_t* rows[host::kMaxBandRows];
  for (int32_t k = 0; k < band; ++k) rows[k] = buffer.get() + int64_t{k} * rowBytes;
  for (int32_t y0 = 0; y0 < bitmap->Height; y0 += band) {
    const int32_t n = std::min(band, bitmap->Height - y0);
    rc = host::ReadCombineWrite(nullptr, nullptr, 0, a.get(), rows, y0, n, [&](int32_t k) {
      if (bits == 16)
        PaintRow(reinterpret_cast<uint16_t*>(rows[k]), bitmap->Width, step, pixel16);
      else
        PaintRow(rows[k], bitmap->Width, step, pixel8);
    });
    if (rc != SUCCESS) return rc;
  }
  return SUCCESS;
}
