// Perspective: maps the rectangle onto a quadrilateral given by four corners (top-left,
// top-right, bottom-left, bottom-right), as if the picture were seen at an angle. Two separable
// passes: every row is squeezed or stretched into the span the quadrilateral's left and right
// edges cut from it, then every column (the bitmap seen transposed, orientation 5) into the span
// between the top and bottom edges. A pass shrinks with a box filter and enlarges by linear
// interpolation; pixels outside the quadrilateral keep the picture as it was (flags 1, from a
// copy made first) or take the fill colour (flags 2).
//
// Extreme inputs and choices:
// - The corners are checked against the rectangle as seen in orientation 1, the orientation the
//   passes work in, so the orientation is set before the rectangle is read.
// - A rectangle one row high would make the first pass divide by zero: nothing changes, SUCCESS.
// - Writes go through the region variant of the write preparation when the bitmap has a region,
//   so pixels outside a mask keep their values; every output row starts as its source row, so
//   columns outside the rectangle and a fourth sample keep theirs.
// - The box filter sums samples in 64 bits and takes each source span in O(1): prefix sums over
//   the row, the count of positions outside it times the outside value, and the weight total
//   advanced as the plain loop adds 1.0 at a time (rounding only where it crosses a power of
//   two). Source positions are limited to ±2^40 (a nearly empty span divides by almost zero);
//   below that the results are those of the plain loop.
// - An average that comes out negative (a span of negative length weighs pixels negatively)
//   saturates at 0.
#include "Common/QuadWarp.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "frame/RowEngine.h"
#include "fxkit/effects.h"

namespace fx {

double AddOnesAsLoop(double x, int64_t count) {
  while (count > 0) {
    int exponent = 0;
    std::frexp(x, &exponent);  // x < 2^exponent
    const double room = std::ldexp(1.0, exponent) - x;
    int64_t exact = static_cast<int64_t>(std::ceil(room)) - 1;
    if (exact > count) exact = count;
    if (exact > 0) {
      x += static_cast<double>(exact);
      count -= exact;
    }
    if (count > 0) {
      x += 1.0;
      --count;
    }
  }
  return x;
}

namespace {

constexpr uint32_t kKeepOutside = 1, kFillOutside = 2;
constexpr double kSourceLimit = 1099511627776.0;  // 2^40

// What one pass needs to compute its rows. Rows are numbered t from the pass's first row.
struct PassGeometry {
  int32_t pass;   // 0: rows, 1: columns (the bitmap seen transposed)
  int32_t L, R;   // the rectangle's columns in the pass's orientation
  int32_t Wp;     // R - L
  double kL, kR;  // pass 0: the left and right edges' steps per row
  int64_t x0L, x1L;
  // Pass 1: the edges as lines over the columns t, value(t) = slope·t + a - slope·b.
  double sL, sT, sR, sB;
  int64_t aL, bL, aT, bT, aR, bR, aB, bB;
  const int32_t* columnLength;  // pass 1: per column, -1 when never inside
  const int32_t* columnStart;
  bool fill;
  uint32_t fillSamples[3];  // blue, green, red
};

inline double Line(double slope, int32_t t, int64_t a, int64_t b) {
  return slope * t + a - slope * b;
}

// The span of row t: where it starts (s0) and its length (S).
void RowSpan(const PassGeometry& g, int32_t t, double& s0, double& S) {
  if (g.pass == 0) {
    const double xl = g.kL * t + g.x0L, xr = g.kR * t + g.x1L;
    s0 = xl;
    S = xr - xl;
    return;
  }
  const double le = Line(g.sL, t, g.aL, g.bL), to = Line(g.sT, t, g.aT, g.bT);
  const double ri = Line(g.sR, t, g.aR, g.bR), bo = Line(g.sB, t, g.aB, g.bB);
  double end = bo, start = to;
  if (g.sL >= 0) end = std::min(end, le);
  if (g.sR < 0) end = std::min(end, ri);
  if (g.sL < 0) start = std::max(start, le);
  if (g.sR >= 0) start = std::max(start, ri);
  s0 = start;
  S = end - start + 0.00005;
}

// The column tables of the second pass, as the rows of the first pass leave them (later rows
// overwrite earlier ones).
void FillColumnTables(const PassGeometry& g, int32_t hp, int32_t* length, int32_t* start) {
  const int32_t wp = g.Wp;
  for (int32_t t = 0; t < hp; ++t) {
    const double xl = g.kL * t + g.x0L, xr = g.kR * t + g.x1L;
    if (t == 0) {
      const int32_t c0 = static_cast<int32_t>(std::clamp(xl, 0.0, wp - 1.0));
      const int32_t c1 = static_cast<int32_t>(std::clamp(std::ceil(xr), 0.0, wp - 1.0));
      for (int32_t c = c0; c <= c1; ++c) length[c] = hp - 1, start[c] = 0;
      continue;
    }
    const int32_t cl = TruncToInt32(xl);
    if (cl >= 0 && cl < wp) {
      if (g.kL >= 0)
        length[cl] = t, start[cl] = 0;
      else
        length[cl] = hp - 1 - t, start[cl] = t;
    }
    const int32_t cr = TruncToInt32(std::ceil(xr));
    if (cr >= 0 && cr < wp) {
      if (g.kR >= 0)
        length[cr] = hp - 1 - t, start[cr] = t;
      else
        length[cr] = t, start[cr] = 0;
    }
  }
}

inline double LimitSource(double v) {
  if (!(v >= -kSourceLimit)) return -kSourceLimit;  // NaN goes low
  return v > kSourceLimit ? kSourceLimit : v;
}

// The source row's samples over [lo, hi) with the value of the positions outside it.
template <class T>
struct SourceSpan {
  const T* p;
  int32_t step, samples;
  int64_t lo, hi;
  const uint32_t* oc;
  const int64_t* prefix;  // prefix[(j - lo) * 3 + k]: the sum of samples k of lo .. j - 1

  int64_t Value(int64_t j, int32_t k) const {
    return j < lo || j >= hi ? int64_t{oc[k]} : int64_t{p[j * step + k]};
  }
  // The sum of Value(j, k) for j = a .. b (a <= b).
  int64_t Sum(int64_t a, int64_t b, int32_t k) const {
    const int64_t inLo = std::max(a, lo), inHi = std::min(b, hi - 1);
    int64_t inside = 0, count = 0;
    if (inLo <= inHi) {
      inside = prefix[(inHi - lo + 1) * 3 + k] - prefix[(inLo - lo) * 3 + k];
      count = inHi - inLo + 1;
    }
    return inside + (b - a + 1 - count) * int64_t{oc[k]};
  }
};

template <class T>
inline void WriteOutside(T* pixel, int32_t samples, const uint32_t* oc) {
  for (int32_t k = 0; k < samples; ++k) pixel[k] = static_cast<T>(oc[k]);
}

// Whether row t of a pass, whose span is S long, keeps its pixels: the span covers the whole
// row, or (columns) the rows never reached it.
bool KeepsRow(const PassGeometry& g, int32_t t, double S) {
  return S == g.Wp || (g.pass == 1 && g.columnLength[t] < 0);
}
bool KeepsRow(const PassGeometry& g, int32_t t) {
  double s0, S;
  RowSpan(g, t, s0, S);
  return KeepsRow(g, t, S);
}

// Row t of a pass: `out` starts as the source row p; `copy` is the same row of the picture before
// the call; `prefix` is scratch for (Width + 1) x 3 sums.
template <class T>
void PerspectiveRow(const PassGeometry& g, int32_t t, const T* p, const T* copy, int32_t step,
                    int64_t* prefix, T* out) {
  double s0, S;
  RowSpan(g, t, s0, S);
  int64_t len = 0, start = 0;
  if (g.pass == 1) len = g.columnLength[t], start = g.columnStart[t];
  if (KeepsRow(g, t, S)) return;
  const bool enlarging = S > g.Wp;
  const int64_t lo = g.pass == 0 ? g.L : start + g.L;
  const int64_t hi = g.pass == 0 ? g.R : len + start + g.L + 1;
  const int32_t samples = IsColorPixel(step) ? 3 : 1;
  const double max = SampleTraits<T>::kMax;
  if (!enlarging) {
    for (int32_t k = 0; k < 3; ++k) prefix[k] = 0;
    for (int64_t j = lo; j < hi; ++j)
      for (int32_t k = 0; k < samples; ++k)
        prefix[(j - lo + 1) * 3 + k] = prefix[(j - lo) * 3 + k] + p[j * step + k];
  }
  uint32_t oc[3];
  const SourceSpan<T> span{p, step, samples, lo, hi, oc, prefix};
  int64_t r = lo;
  double w = 1.0;
  for (int32_t i = 0; i < g.Wp; ++i) {
    const int32_t x = g.L + i;
    T* pixel = out + int64_t{x} * step;
    for (int32_t k = 0; k < samples; ++k)
      oc[k] = g.fill ? static_cast<T>(g.fillSamples[k]) : copy[int64_t{x} * step + k];
    const double d = i - s0;
    double src;
    if (g.pass == 0) {
      src = d * (g.Wp - 1) / S + g.L;
    } else if (S == 0) {
      src = static_cast<double>(len + start + g.L);
      if (d >= 0) s0 = g.R;
    } else {
      src = d * len / S + start + g.L;
    }
    src = LimitSource(src);
    if (!(d >= 0 && d < S + 1)) {
      r = static_cast<int64_t>(src);
      WriteOutside(pixel, samples, oc);
      continue;
    }
    const int64_t ip = static_cast<int64_t>(src);
    const double f = src - static_cast<double>(ip);
    if (enlarging) {
      if (src < lo || src >= hi) continue;
      const int64_t ip1 = std::min(ip + 1, hi - 1);
      for (int32_t k = 0; k < samples; ++k) {
        const double v = std::min(p[ip * step + k] * (1 - f) + p[ip1 * step + k] * f, max);
        pixel[k] = static_cast<T>(static_cast<int32_t>(v));
      }
      continue;
    }
    // Box filter: pixels r .. ip, the first with the weight carried from the previous output
    // pixel and the others whole, then pixel ip + 1 (or r, if none was taken) by the fraction.
    int64_t sum[3] = {0, 0, 0};
    double total = 0.0;
    if (r <= ip) {
      for (int32_t k = 0; k < samples; ++k)
        sum[k] += static_cast<int64_t>(static_cast<double>(span.Value(r, k)) * w);
      total += w;
      if (ip > r) {
        for (int32_t k = 0; k < samples; ++k) sum[k] += span.Sum(r + 1, ip, k);
        total = AddOnesAsLoop(total, ip - r);
      }
      r = ip + 1;
    }
    for (int32_t k = 0; k < samples; ++k)
      sum[k] += static_cast<int64_t>(static_cast<double>(span.Value(r, k)) * f);
    total += f;
    w = 1 - f;
    if (total == 0) {
      WriteOutside(pixel, samples, oc);
      continue;
    }
    for (int32_t k = 0; k < samples; ++k) {
      const double v = std::min(static_cast<double>(sum[k]) / total + 0.5, max);
      pixel[k] = v > 0 ? static_cast<T>(static_cast<int32_t>(v)) : T{0};
    }
  }
}

// One pass over rows first .. last - 1 of the bitmap as currently seen: a band of the bitmap's
// rows and then of the copy's is read on this thread, the band's rows are computed by the row
// engine into a band of output rows and written in order; progress between firstPercent and
// lastPercent. Reads and writes go a band at a time, as the column pass sees the bitmap turned.
// Rows that keep their pixels are neither moved nor computed where writing them back as read
// would leave the bitmap as it is; their reads and writes still make every check and fault
// point.
int32_t PerspectivePass(BitmapRecord* bitmap, BitmapRecord* copy, const PassGeometry& g,
                        int32_t first, int32_t last, int32_t firstPercent, int32_t lastPercent) {
  AccessOwner access, copyAccess;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  rc = copyAccess.Open(copy, 2);
  if (rc != SUCCESS) return rc;
  const int32_t step = access.PixelStep();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  const size_t bufferBytes = rowBytes + 4 * size_t(step);
  const int32_t band = std::min(kBandRows, last - first);
  RowTable source, original, output;
  for (RowTable* table : {&source, &original, &output})
    if (!table->AllocateTable(static_cast<uint32_t>(band)) || !table->AllocateRows(bufferBytes))
      return ERROR_NO_MEMORY;
  RowSlots slots;
  if (!slots.Allocate(0, (size_t(bitmap->Width) + 1) * 3 * sizeof(int64_t)))
    return ERROR_NO_MEMORY;
  rc = BeginWritePhaseEx(access, bitmap, firstPercent, lastPercent);
  if (rc != SUCCESS) return rc;
  const bool leaveKept = host::RewritesExactly(access);
  uint8_t keep[kBandRows];

  return WithSampleType(access.SampleBits(), [&](auto sample) -> int32_t {
    using T = decltype(sample);
    for (int32_t y0 = first; y0 < last; y0 += band) {
      const int32_t n = std::min(last - y0, band);
      for (int32_t k = 0; k < n; ++k) keep[k] = leaveKept && KeepsRow(g, y0 + k - first);
      rc = host::ReadRowsKeeping(access, source.rows(), y0, n, keep);
      if (rc != SUCCESS) return rc;
      rc = host::ReadRowsKeeping(copyAccess, original.rows(), y0, n, keep);
      if (rc != SUCCESS) return rc;
      rc = RunRows(
          slots, y0, y0 + n, g.Wp,
          [&](int32_t y, uint8_t*, uint8_t* scratch) {
            if (keep[y - y0]) return;
            const uint8_t* row = source.rows()[y - y0];
            uint8_t* out = output.rows()[y - y0];
            std::memcpy(out, row, rowBytes);
            PerspectiveRow<T>(g, y - first, reinterpret_cast<const T*>(row),
                              reinterpret_cast<const T*>(original.rows()[y - y0]), step,
                              reinterpret_cast<int64_t*>(scratch), reinterpret_cast<T*>(out));
          },
          NoHostCall(), NoWrite());
      if (rc != SUCCESS) return rc;
      rc = host::WriteRowsKeeping(access, output.rows(), y0, n, keep);
      if (rc != SUCCESS) return rc;
    }
    return SUCCESS;
  });
}

// A bitmap copy the effect made, freed on destruction.
class CopyOwner {
 public:
  CopyOwner() { std::memset(&record_, 0, sizeof(record_)); }
  ~CopyOwner() {
    if (made_) HostFreeBitmap(&record_);
  }
  CopyOwner(const CopyOwner&) = delete;
  CopyOwner& operator=(const CopyOwner&) = delete;
  int32_t Make(BitmapRecord* bitmap) {
    const int32_t rc = HostCopyBitmap(&record_, bitmap, BITMAP_STRUCT_SIZE);
    made_ = rc == SUCCESS;
    return rc;
  }
  BitmapRecord* get() { return &record_; }

 private:
  BitmapRecord record_;
  bool made_ = false;
};

// Fill samples {blue, green, red}: a gray bitmap takes the rounded mix in blue alone; gray and
// 48/64-bit bitmaps scale by 257. The kernels take them at their sample size, where an 8-bit
// gray level scaled by 257 keeps its low byte: the level itself.
void PrepareFill(const BitmapRecord* bitmap, uint32_t colour, uint32_t* samples) {
  uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  if (HostIsGrayscale(bitmap)) b = (2 * r + 5 * g + b + 4) / 8, r = g = 0;
  const int32_t bpp = bitmap->BitsPerPixel;
  if (bitmap->Order == ORDER_GRAY || bpp == 48 || bpp == 64) r *= 257, g *= 257, b *= 257;
  samples[0] = b, samples[1] = g, samples[2] = r;
}

// Corners are absolute coordinates: the default and the presets keep to what every picture the
// sweeps and the gallery use holds (the default fits 9 x 12 regions, the presets 32 x 48).
const int32_t kDefaultCorners[] = {3, 4, 7, 4, 2, 8, 8, 8};

const FxFlagValue kOutsideValues[] = {
    {"keep", kKeepOutside, "the picture as it was before the call"},
    {"fill", kFillOutside, "the fill colour"},
};
const FxFlagField kPerspectiveFlags[] = {
    FlagField("outside", 0x3, kOutsideValues, "what pixels outside the quadrilateral show"),
};

const FxParamDesc kPerspectiveParams[] = {
    IntArrayParam("corners", kDefaultCorners, CountOf(kDefaultCorners), kAnyInt32Min, kAnyInt32Max,
                  8,
                  "x0,y0,x1,y1,x2,y2,x3,y3: top-left, top-right, bottom-left, bottom-right "
                  "corners of the quadrilateral, inside the rectangle (right and bottom "
                  "included); x0 < x1, x2 < x3, y0 < y2, y1 < y3"),
    ColorParam("fillColor", 0, "colour outside the quadrilateral (flags 2)"),
    FlagsParam("flags", kKeepOutside, 1, 2,
               "outside the quadrilateral: 1 the picture as it was, 2 the fill colour",
               kPerspectiveFlags),
};

const FxPreset kPerspectivePresets[] = {
    {"keystone", "corners=12.5%w,0,87.5%w,0,0,100%h,100%w,100%h outside=fill fillColor=#101010"},
    {"tilted-page", "corners=9%w,6%h,94%w,0,0,79%h,97%w,88%h outside=fill fillColor=#F0F0E8"},
    {"inner-corner", "corners=0,0,100%w,0,0,100%h,62%w,65%h"},
};

}  // namespace

extern const FxEffectDesc kPerspectiveEffect = {
    "perspective",
    "Fx_PerspectiveBitmap",
    FX_FAMILY_DISTORTION,
    "Maps the rectangle onto a quadrilateral given by four corners, as seen in perspective",
    kPerspectiveParams,
    CountOf(kPerspectiveParams),
    [](BitmapRecord* b, const FxValue* v) {
      // The eight integers are the four points' x and y, as the export reads them.
      const auto* xy = ArgPtr<const int32_t>(v[0]);
      POINT corners[4];
      if (xy) std::memcpy(corners, xy, sizeof(corners));
      return Fx_PerspectiveBitmap(b, xy ? corners : nullptr, ArgU32(v[1]), ArgU32(v[2]));
    },
    kPerspectivePresets,
    CountOf(kPerspectivePresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_PerspectiveBitmap(BitmapRecord* bitmap, const POINT* corners, uint32_t fillColor,
                             uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  if (!corners) return ERROR_INV_PARAMETER;
  int64_t x[4], y[4];
  for (int i = 0; i < 4; ++i) x[i] = corners[i].x, y[i] = corners[i].y;
  if (!(x[0] < x[1] && y[0] < y[2] && y[1] < y[3] && x[2] < x[3])) return ERROR_INV_PARAMETER;
  if (flags != fx::kKeepOutside && flags != fx::kFillOutside) return ERROR_INV_PARAMETER;
  fx::PassGeometry g{};
  g.fill = flags == fx::kFillOutside;
  if (g.fill) fx::PrepareFill(bitmap, fillColor, g.fillSamples);
  fx::OrientationGuard orientation(bitmap);
  RECT rect{};
  HostGetRegionBounds(bitmap, nullptr, &rect);
  for (int i = 0; i < 4; ++i)
    if (x[i] < rect.left || x[i] > rect.right || y[i] < rect.top || y[i] > rect.bottom)
      return ERROR_INV_PARAMETER;
  const int32_t wp = rect.right - rect.left, hp = rect.bottom - rect.top;
  if (hp == 1) return HostNothingToDo();

  fx::HostBlock<int32_t> length, start;
  if (!length.Allocate(static_cast<uint32_t>(wp)) || !start.Allocate(static_cast<uint32_t>(wp)))
    return ERROR_NO_MEMORY;
  HostMemSet(length.get(), 0xFF, size_t(wp) * sizeof(int32_t));  // -1: never inside
  HostMemSet(start.get(), 0xFF, size_t(wp) * sizeof(int32_t));
  fx::CopyOwner copy;
  rc = copy.Make(bitmap);
  if (rc != SUCCESS) return rc;

  // Rows: each squeezed between the left and the right edge.
  g.pass = 0;
  g.L = rect.left, g.R = rect.right, g.Wp = wp;
  g.kL = static_cast<double>(x[2] - x[0]) / (hp - 1);
  g.kR = static_cast<double>(x[3] - x[1]) / (hp - 1);
  g.x0L = x[0] - rect.left, g.x1L = x[1] - rect.left;
  fx::FillColumnTables(g, hp, length.get(), start.get());
  rc = fx::PerspectivePass(bitmap, copy.get(), g, rect.top, rect.bottom, 0, 50);
  if (rc != SUCCESS) return rc;

  // Columns: each squeezed between the top and the bottom edge, with the lengths and starts the
  // rows left.
  HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, 5, 0);
  HostSetOrientation(nullptr, copy.get(), BITMAP_STRUCT_SIZE, 5, 0);
  const auto slope = [](int64_t ya, int64_t yb, int64_t xa, int64_t xb) {
    return xa == xb ? 1.0 : static_cast<double>(ya - yb) / static_cast<double>(xa - xb);
  };
  g.pass = 1;
  g.L = rect.top, g.R = rect.bottom, g.Wp = hp;
  g.sL = slope(y[0], y[2], x[0], x[2]), g.sT = slope(y[1], y[0], x[1], x[0]);
  g.sR = slope(y[3], y[1], x[3], x[1]), g.sB = slope(y[3], y[2], x[3], x[2]);
  g.aL = y[2] - rect.top, g.bL = x[2] - rect.left;
  g.aT = y[0] - rect.top, g.bT = x[0] - rect.left;
  g.aR = y[1] - rect.top, g.bR = x[1] - rect.left;
  g.aB = y[2] - rect.top, g.bB = x[2] - rect.left;
  g.columnLength = length.get();
  g.columnStart = start.get();
  return fx::PerspectivePass(bitmap, copy.get(), g, rect.left, rect.right, 50, 100);
}
