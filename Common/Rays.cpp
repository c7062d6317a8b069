// Reference distance and window allocation of the ray blurs, and the lens flare's rays.
#include "Common/Rays.h"

#include <algorithm>
#include <cmath>

#include "host/runtime/Runtime.h"

namespace fx {

uint32_t RayReferenceDistance(const RECT& rect, POINT center) {
  const int64_t toRight = int64_t{rect.right} - center.x, toLeft = int64_t{center.x} - rect.left;
  const int64_t toBottom = int64_t{rect.bottom} - center.y, toTop = int64_t{center.y} - rect.top;
  const int64_t dx = toRight > toLeft ? toRight : toLeft;
  const int64_t dy = toBottom > toTop ? toBottom : toTop;
  const double d = std::sqrt(
      static_cast<double>(static_cast<uint64_t>(dx * dx) + static_cast<uint64_t>(dy * dy)));
  return d >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(d);
}

int32_t RayPass::Open(BitmapRecord* bitmap, int64_t requestedRows) {
  const int32_t rc = access_.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  height_ = bitmap->Height;
  const size_t rowBytes = size_t(access_.RowBytes()) + 4 * size_t(access_.PixelStep());
  return requestedRows >= height_
             ? rows_.AllocateWhole(height_, rowBytes)
             : rows_.AllocateSliding(static_cast<int32_t>(requestedRows), rowBytes);
}

namespace {

constexpr double kRayPi = 3.14;  // the rays' own constant

// Lightens sample k of pixel x in `row` by k / 2000 of brightness percent of its headroom.
template <class T>
inline void LightPixel(T* row, int64_t x, int32_t pixelStep, int32_t channels, uint64_t brightness,
                       int32_t k) {
  constexpr uint64_t kMax = SampleTraits<T>::kMax;
  T* p = row + x * pixelStep;
  for (int32_t c = 0; c < channels; ++c) {
    const uint64_t v = p[c];
    const uint64_t gain = brightness * static_cast<uint64_t>(k) * (kMax - v);
    // 16-bit samples gain in steps of 257 what their 8-bit level would.
    const uint64_t lit = sizeof(T) == 1 ? v + gain / 1000000 : v + gain / 257000000 * 257;
    p[c] = static_cast<T>(lit < kMax ? lit : kMax);
  }
}

struct RayBand {
  uint8_t* const* rows;  // band rows top' .. bottom' - 1
  int32_t rowCount;
  int32_t left, right, bottom;  // the rectangle's columns and its bottom
  double cx, cy;                // the centre, cy relative to the band
  int32_t pixelStep, channels;
  uint64_t brightness;
  HostWeights* const* weights;
};

// The part of one line of length L at the angle of cosine cosPhi and sine sinPhi that falls on
// band rows [r0, r1). Every pixel's lightenings come in line order and, within a line, in step
// order, so lines painted one after another over separate row ranges give the pixels of lines
// painted over the whole band.
template <class T>
void PaintLine(const RayBand& b, double cosPhi, double sinPhi, int32_t length, int32_t r0,
               int32_t r1) {
  // Steps whose upper row lies in [r0 - 1, r1), widened by two steps against rounding; each step
  // is still checked exactly.
  int64_t from = 0, to = length;
  if (sinPhi > 1e-6 || sinPhi < -1e-6) {
    const double a = (r0 - 1 - b.cy) / sinPhi, c = (r1 - b.cy) / sinPhi;
    const double lo = std::min(a, c) - 2, hi = std::max(a, c) + 2;
    if (lo > from) from = lo < to ? static_cast<int64_t>(lo) : to;
    if (hi < to) to = hi > from ? static_cast<int64_t>(hi) + 1 : from;
  }
  for (auto r = static_cast<int32_t>(from); r < to; ++r) {
    const double px = b.cx + r * cosPhi, py = b.cy + r * sinPhi;
    if (!(px >= b.left && px <= b.right && py >= 0 && py <= b.bottom - 1 && py <= b.rowCount - 2))
      continue;
    const int64_t iy = static_cast<int64_t>(py);
    const bool upperHere = iy >= r0 && iy < r1;
    const bool lowerHere = iy + 1 >= r0 && iy + 1 < r1 && py != b.bottom;
    if (!upperHere && !lowerHere) continue;
    const double ax = std::fabs(px), ay = std::fabs(py);
    const int64_t ix = static_cast<int64_t>(px);
    const HostWeights& w = b.weights[static_cast<int32_t>(100 * (ax - static_cast<int64_t>(ax)))]
                                    [static_cast<int32_t>(100 * (ay - static_cast<int64_t>(ay)))];
    const int32_t f0 = static_cast<int32_t>((1 - static_cast<double>(r) / length) * 2000);
    const int32_t f1 = static_cast<int32_t>((1 - static_cast<double>(r + 1) / length) * 2000);
    const bool first = ix < b.right, second = ix + 1 < b.right;
    if (upperHere) {
      T* upper = reinterpret_cast<T*>(b.rows[iy]);
      if (first) LightPixel(upper, ix, b.pixelStep, b.channels, b.brightness, f0 * w.w[0] / 10000);
      if (second)
        LightPixel(upper, ix + 1, b.pixelStep, b.channels, b.brightness, f1 * w.w[1] / 10000);
    }
    if (lowerHere) {
      T* lower = reinterpret_cast<T*>(b.rows[iy + 1]);
      if (first) LightPixel(lower, ix, b.pixelStep, b.channels, b.brightness, f0 * w.w[2] / 10000);
      if (second)
        LightPixel(lower, ix + 1, b.pixelStep, b.channels, b.brightness, f1 * w.w[3] / 10000);
    }
  }
}

}  // namespace

int32_t DrawFlareRays(BitmapRecord* bitmap, POINT center, int32_t radius, uint32_t brightness,
                      int32_t angleStep, int32_t thickness) {
  if (!bitmap) return ERROR_NO_BITMAP;
  RECT rect;
  HostGetRegionBounds(bitmap, nullptr, &rect);
  if (!fxrt::PtInRect(&rect, center) || angleStep < 1 || thickness < 0 || radius < 0)
    return ERROR_INV_PARAMETER;
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t top = static_cast<int32_t>(std::max<int64_t>(rect.top, int64_t{center.y} - radius));
  const int32_t bottom =
      static_cast<int32_t>(std::min<int64_t>(rect.bottom, int64_t{center.y} + radius));
  const int32_t rowCount = std::max(bottom - top, 0);

  HostBlock<HostWeights*> weights;
  HostBlock<HostWeights> entries;
  if (!weights.Allocate(101) || !entries.Allocate(101 * 101)) return ERROR_NO_MEMORY;
  for (int32_t i = 0; i <= 100; ++i) weights[i] = entries.get() + i * 101;
  HostFillWeightTable(weights.get());

  const int64_t lines = (int64_t{thickness} + 1) * 360 / angleStep;
  // Every line's direction and length, drawn first: the lines are painted once all are drawn.
  struct Line {
    double cosPhi, sinPhi;
    int32_t length;
  };
  HostBlock<Line> drawn;
  const int64_t count = (359 / int64_t{angleStep} + 1) * (int64_t{thickness} + 1);
  if (count > UINT32_MAX || !drawn.Allocate(static_cast<uint32_t>(std::max<int64_t>(count, 1))))
    return ERROR_NO_MEMORY;
  const RECT progress{0, top, 0,
                      static_cast<int32_t>(std::min<int64_t>(bottom + lines, INT32_MAX))};
  rc = HostBeginRectWrite(access, 81, 100, &progress);
  if (rc != SUCCESS) return rc;
  const int32_t pixelStep = access.PixelStep();
  RowTable band;
  if (!band.AllocateTable(static_cast<uint32_t>(rowCount)) ||
      !band.AllocateRows(size_t(access.RowBytes()) + 4 * size_t(pixelStep)))
    return ERROR_NO_MEMORY;
  if (rowCount > 0) {
    rc = HostReadRows(access, band.rows(), top, rowCount);
    if (rc != SUCCESS) return rc;
  }

  const RayBand b{band.rows(),
                  rowCount,
                  rect.left,
                  rect.right,
                  rect.bottom,
                  static_cast<double>(center.x),
                  static_cast<double>(int64_t{center.y} - top),
                  pixelStep,
                  IsColorPixel(pixelStep) ? 3 : 1,
                  brightness,
                  weights.get()};
  // The band is written only once every line is painted, so drawing every length (with its
  // progress step) before painting shows the same numbers, progress and cancel points.
  int64_t n = 0;
  for (int64_t group = 0; group < 360; group += angleStep)
    for (int64_t a = group; a <= group + thickness; ++a) {
      const int32_t draw = fxrt::rand();
      const double phi = static_cast<double>(a - 45) * kRayPi / 180;
      drawn[n++] = {std::cos(phi), std::sin(phi), radius > 0 ? draw % radius : 0};
      rc = HostAdvanceProgress(access, 1);
      if (rc != SUCCESS) return rc;
    }
  // The band in strips of rows, each painted with every line in order.
  constexpr int32_t kStripRows = 16;
  const int32_t strips = (rowCount + kStripRows - 1) / kStripRows;
  WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    ParallelFor(strips, int64_t{kStripRows} * radius, [&](int32_t i) {
      const int32_t r0 = i * kStripRows, r1 = std::min(rowCount, r0 + kStripRows);
      for (int64_t k = 0; k < n; ++k)
        PaintLine<T>(b, drawn[k].cosPhi, drawn[k].sinPhi, drawn[k].length, r0, r1);
    });
    return SUCCESS;
  });
  if (rowCount > 0) {
    rc = HostWriteRows(access, band.rows(), top, rowCount);
    if (rc != SUCCESS) return rc;
  }
  HostFinishUpdate(bitmap);
  return SUCCESS;
}

}  // namespace fx
