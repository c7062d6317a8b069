// Pointillist: repaints the rectangle with round dots. Each dot takes the colour of the pixel at
// its random centre and is stamped with an anti-aliased disc onto a canvas that starts as the
// image itself or as a plain colour. In the shaded mode every dot also carries a hemispherical
// height and a dot pixel is painted only where it stands at least as high as what was painted
// there before, so the dots look like overlapping beads. A draw whose centre still holds the
// centre of an earlier dot (height 255) stamps nothing. The generator is not seeded here: the
// draws continue the thread's sequence, so seeding first gives the same picture on every run. The
// bitmap is processed in its current orientation (dots are round, the view does not matter).
//
// Dots are drawn on the calling thread; whether a draw stamps is decided there too: in the shaded
// mode a centre height of 255 never drops, in the flat mode it drops when a later dot covers the
// centre, so the decision looks at the most recent stamped dot covering the centre (a grid of the
// chunk's dots) or, without one, at the height table as the earlier chunks left it. The canvas
// rows then take the chunk's stamps in parallel (Pointillist.h).
//
// Extreme inputs and open points:
// - dotRadius above 32767 (a mask of (2R + 1)² entries no longer fits 32 bits):
// ERROR_INV_PARAMETER.
//   The masks hold only the offsets that can reach the rectangle from a centre inside it, so a
//   dot far larger than the picture costs no more than the picture.
// - The draw count max(M² div R², 2) (M the longer side) is formed in 64 bits and limited to
//   64 draws per pixel of the rectangle, identical for every rectangle whose longer side is at
//   most 64 times its shorter one; a thin strip gets its dots in bounded time.
// - Progress over a one-row rectangle reports no reading steps (no division by h - 1 = 0); the
//   stamp steps use the draws before the current one, (i × 80) div (n - 1) + 12, which ends at
//   92. The canvas is written through a write preparation (the host needs one; its region
//   variant keeps every pixel outside the region), whose progress runs from 92 to 100.
// - The canvas colour and the dot blends scale by 257 exactly when the working samples are 16
//   bits; gray pixels take one level, (5·green + 2·red + blue + 4) >> 3. Four-sample pixels are
//   painted in their first three samples and keep the fourth.
// - An empty rectangle (a region without pixels) answers ERROR_EMPTY_RECT: centres are drawn
//   modulo its width and height.
// - Centres come from rand() mod w and rand() mod h, so columns and rows from 32768 on never hold
//   a centre (the generator gives 15 bits); dots still reach them.
#include "Common/Pointillist.h"

#include <algorithm>
#include <cmath>

#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"

namespace fx {

// Shared with the colored balls ------------------------------------------------------------------

MaskShape ClipMask(uint32_t r, int32_t w, int32_t h) {
  MaskShape s;
  s.r = static_cast<int32_t>(std::min<uint32_t>(r, kMaxDotRadius));
  s.hx = std::min(s.r, std::max(w - 1, 0));
  s.hy = std::min(s.r, std::max(h - 1, 0));
  return s;
}

void BuildCoverageMask(const MaskShape& s, uint8_t* k) {
  std::memset(k, 0, s.size());
  const int64_t r = s.r, r2 = r * r;
  for (int32_t dy = -s.hy; dy <= s.hy; ++dy)
    for (int32_t dx = -s.hx; dx <= s.hx; ++dx)
      if (int64_t{dx} * dx + int64_t{dy} * dy <= r2) k[s.at(dx, dy)] = 255;
  const auto raise = [&](int64_t dx, int64_t dy, double w) {
    if (dx < -s.hx || dx > s.hx || dy < -s.hy || dy > s.hy) return;
    uint8_t& v = k[s.at(static_cast<int32_t>(dx), static_cast<int32_t>(dy))];
    v = static_cast<uint8_t>(std::min(255.0 * w + v, 255.0));
  };
  const auto raiseEight = [&](int64_t i, int64_t j, double w) {
    for (int64_t a : {i, -i})
      for (int64_t b : {j, -j}) raise(a, b, w);
    for (int64_t a : {j, -j})
      for (int64_t b : {i, -i}) raise(a, b, w);
  };
  const auto raiseSixteen = [&](int64_t i, double y) {
    const auto fy = static_cast<int64_t>(y);
    const int64_t cy = std::min(fy + 1, r);
    raiseEight(i, fy, static_cast<double>(cy) - y);
    raiseEight(i, cy, y - static_cast<double>(fy));
  };
  // Every point the steps raise has ±i as a coordinate: once i passes the clipped window, no
  // later step (the final one included) reaches it, so the steps stop there.
  const int64_t reach = std::max(s.hx, s.hy);
  int64_t i = 1;
  double y = std::sqrt(static_cast<double>(r2 - 1));
  while (y > static_cast<double>(i)) {
    if (i > reach) return;
    raiseSixteen(i, y);
    ++i;
    y = std::sqrt(static_cast<double>(r2 - i * i));
  }
  if (i > reach) return;
  if (y == static_cast<double>(i)) {
    for (int64_t a : {i, -i})
      for (int64_t b : {i, -i})
        if (a >= -s.hx && a <= s.hx && b >= -s.hy && b <= s.hy)
          k[s.at(static_cast<int32_t>(a), static_cast<int32_t>(b))] = 255;
  } else {
    raiseSixteen(i, y);
  }
}

void BuildHeightMask(const MaskShape& s, const uint8_t* k, uint8_t* e) {
  const int64_t r2 = int64_t{s.r} * s.r;
  for (int32_t dy = -s.hy; dy <= s.hy; ++dy)
    for (int32_t dx = -s.hx; dx <= s.hx; ++dx) {
      const size_t at = s.at(dx, dy);
      const int64_t q = r2 - int64_t{dx} * dx - int64_t{dy} * dy;
      e[at] = k[at] != 0 && q > 0
                  ? static_cast<uint8_t>(254 * std::sqrt(static_cast<double>(q)) / s.r)
                  : 0;
    }
}

void BuildProductTable(uint8_t* table) {
  for (uint32_t a = 0; a < 256; ++a)
    for (uint32_t b = 0; b < 256; ++b) table[a * 256 + b] = static_cast<uint8_t>(a * b / 255);
}

DotColor SplitDotColor(COLORREF colour, bool gray, bool deep) {
  const uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
  const uint32_t scale = deep ? 257 : 1;
  if (gray) {
    const uint32_t level = ((5 * g + 2 * r + b + 4) >> 3) * scale;
    return DotColor{{level, level, level}};
  }
  return DotColor{{b * scale, g * scale, r * scale}};
}

int32_t DotCanvas::Allocate(RowAccess* access, const RECT& r) {
  rect = r;
  w = r.right - r.left;
  h = r.bottom - r.top;
  step = HostPixelStep(access);
  sampleBits = HostSampleBits(access);
  rowBytes = static_cast<size_t>(HostRowBytes(access));
  const size_t bytes = rowBytes + 4 * size_t(step) * size_t(sampleBits / 8);
  const uint64_t cells = uint64_t(w) * uint64_t(h);
  if (!source.AllocateTable(static_cast<uint32_t>(h)) || !source.AllocateRows(bytes) ||
      !canvas.AllocateTable(static_cast<uint32_t>(h)) || !canvas.AllocateRows(bytes) ||
      cells > UINT32_MAX || !heights.AllocateCleared(static_cast<uint32_t>(cells)))
    return ERROR_NO_MEMORY;
  return SUCCESS;
}

// Row i is read, then (from row 1 on) the progress reported. A report that repeats the last
// percentage does nothing, so the rows up to the next one that changes it go in one band read.
int32_t ReadCanvasSource(RowAccess* access, DotCanvas& canvas, HostProgressContext* progress,
                         int32_t scale, int32_t base) {
  const auto percentAt = [&](int32_t i) {
    return static_cast<int32_t>(int64_t{i} * scale / (canvas.h - 1)) + base;
  };
  for (int32_t i = 0; i < canvas.h;) {
    int32_t end = i;  // the last row of the run: the first whose report may do something
    while (end < canvas.h - 1 &&
           (end == 0 || (progress->started && percentAt(end) == progress->lastPercent)))
      ++end;
    int32_t rc = HostReadRows(access, canvas.source.rows() + i, canvas.rect.top + i, end - i + 1);
    if (rc != SUCCESS) return rc;
    if (end > 0) rc = HostProgressReport(progress, percentAt(end));
    if (rc != SUCCESS) return rc;
    i = end + 1;
  }
  return SUCCESS;
}

int32_t WriteCanvas(RowAccess* access, const BitmapRecord* bitmap, const DotCanvas& canvas,
                    int32_t first) {
  const int32_t rc = BeginWritePhaseEx(access, bitmap, first, 100);
  if (rc != SUCCESS || canvas.h <= 0) return rc;
  return HostWriteRows(access, canvas.canvas.rows(), canvas.rect.top, canvas.h);
}

int32_t StampPass::Allocate(int32_t h) {
  h_ = h;
  bands_ = (h + kStampBand - 1) / kStampBand;
  capacity_ = std::max<uint32_t>(kChunkEntries, static_cast<uint32_t>(bands_) + 1);
  if (!first_.Allocate(kChunkStamps) || !last_.Allocate(kChunkStamps) ||
      !offsets_.Allocate(static_cast<uint32_t>(bands_) + 1) || !entryBlock_.Allocate(capacity_) ||
      !slots_.Allocate(0, 0))
    return ERROR_NO_MEMORY;
  return SUCCESS;
}

void StampPass::SortIntoBands() {
  std::fill_n(offsets_.get(), bands_ + 1, 0u);
  for (uint32_t i = 0; i < count_; ++i)
    for (int32_t b = first_[i] / kStampBand; b <= last_[i] / kStampBand; ++b) ++offsets_[b + 1];
  for (int32_t b = 0; b < bands_; ++b) offsets_[b + 1] += offsets_[b];
  // Fill in draw order; offsets_[b] runs ahead while band b fills, then is restored.
  for (uint32_t i = 0; i < count_; ++i)
    for (int32_t b = first_[i] / kStampBand; b <= last_[i] / kStampBand; ++b)
      entryBlock_[offsets_[b]++] = i;
  for (int32_t b = bands_; b > 0; --b) offsets_[b] = offsets_[b - 1];
  offsets_[0] = 0;
}

namespace {

constexpr uint32_t kCanvasImage = 1, kCanvasColor = 2;
constexpr uint32_t kFlat = 0x10, kShaded = 0x20;
constexpr uint32_t kNone = UINT32_MAX;
// At most this many draws per pixel of the rectangle.
constexpr int64_t kMaxDrawsPerPixel = 64;

struct Dot {
  int32_t x, y;
  uint16_t c[3];
};

struct DotMasks {
  MaskShape shape;
  const uint8_t* k;
  const uint8_t* e;
};

// Stamp `d`'s row y (|y - d.y| <= hy) onto canvas row `row` (pixel 0 at the rectangle's left)
// and its heights.
template <class T, int32_t C, bool Shaded, class Blend>
void StampDotRow(const Dot& d, int32_t y, const DotMasks& m, int32_t w, int32_t step, T* row,
                 uint8_t* heights, const Blend& blend) {
  const MaskShape& s = m.shape;
  const int32_t dy = y - d.y;
  const int32_t x0 = std::max(0, d.x - s.hx), x1 = std::min(w - 1, d.x + s.hx);
  const size_t base = s.at(0, dy) - size_t(d.x);  // mask index of column xx is base + xx
  for (int32_t xx = x0; xx <= x1; ++xx) {
    const uint32_t a = m.k[base + xx];
    if (a == 0) continue;
    const uint8_t e = m.e[base + xx];
    if (Shaded && e < heights[xx]) continue;
    heights[xx] = xx == d.x && dy == 0 ? 255 : e;
    T* p = row + int64_t{xx} * step;
    if (a == 255) {  // full coverage: both blends give the dot's colour itself
      for (int32_t k = 0; k < C; ++k) p[k] = static_cast<T>(d.c[k]);
      continue;
    }
    for (int32_t k = 0; k < C; ++k) p[k] = blend(d.c[k], p[k], a);
  }
}

// The grid of the current chunk's stamped dots, newest first in each cell, to find the most
// recent dot whose coverage reaches a pixel.
class DotGrid {
 public:
  int32_t Allocate(const MaskShape& s, int32_t w, int32_t h) {
    // Cells at least as wide as a dot: the dots covering a pixel lie in at most 2 x 2 cells.
    cell_ = std::max(8, 2 * std::max(s.hx, s.hy) + 1);
    columns_ = (w + cell_ - 1) / cell_;
    const int64_t cells = int64_t(columns_) * ((h + cell_ - 1) / cell_);
    if (cells > UINT32_MAX || !head_.Allocate(static_cast<uint32_t>(cells)) ||
        !next_.Allocate(StampPass::kChunkStamps))
      return ERROR_NO_MEMORY;
    cells_ = cells;
    Clear();
    return SUCCESS;
  }
  void Clear() { std::fill_n(head_.get(), cells_, kNone); }
  void Add(uint32_t index, int32_t x, int32_t y) {
    uint32_t& head = head_[Cell(x / cell_, y / cell_)];
    next_[index] = head;
    head = index;
  }
  // Calls visit(index) for the dots of every cell overlapping columns x0 .. x1 and rows
  // y0 .. y1, newest first within a cell, until visit answers false.
  template <class Visit>
  void Near(int32_t x0, int32_t x1, int32_t y0, int32_t y1, Visit&& visit) const {
    for (int32_t cy = y0 / cell_; cy <= y1 / cell_; ++cy)
      for (int32_t cx = x0 / cell_; cx <= x1 / cell_; ++cx)
        for (uint32_t i = head_[Cell(cx, cy)]; i != kNone; i = next_[i])
          if (!visit(i)) break;
  }

 private:
  size_t Cell(int32_t cx, int32_t cy) const { return size_t(cy) * size_t(columns_) + size_t(cx); }
  int32_t cell_ = 1, columns_ = 0;
  int64_t cells_ = 0;
  HostBlock<uint32_t> head_, next_;
};

struct PointillistJob {
  uint32_t radius;
  COLORREF color;
  bool shaded, colorCanvas;
};

template <class T, int32_t C>
int32_t StampDots(const PointillistJob& job, DotCanvas& cv, const DotMasks& masks,
                  const uint8_t* product, HostProgressContext* progress) {
  const MaskShape& s = masks.shape;
  const int32_t w = cv.w, h = cv.h;
  StampPass pass;
  DotGrid grid;
  HostBlock<Dot> dots;
  if (pass.Allocate(h) != SUCCESS || grid.Allocate(s, w, h) != SUCCESS ||
      !dots.Allocate(StampPass::kChunkStamps))
    return ERROR_NO_MEMORY;

  const auto run = [&]() {
    const auto stamp = [&](const auto& blend) {
      return pass.Run(w, [&](uint32_t i, int32_t y) {
        T* row = reinterpret_cast<T*>(cv.canvas.rows()[y]) + int64_t{cv.rect.left} * cv.step;
        if (job.shaded)
          StampDotRow<T, C, true>(dots[i], y, masks, w, cv.step, row, cv.HeightRow(y), blend);
        else
          StampDotRow<T, C, false>(dots[i], y, masks, w, cv.step, row, cv.HeightRow(y), blend);
      });
    };
    int32_t rc;
    if constexpr (sizeof(T) == 1)
      rc = stamp(Blend8{product});
    else
      rc = stamp(Blend16{});
    grid.Clear();
    return rc;
  };
  // Whether the height at the centre (x, y) is 255, as stamping every earlier dot would leave it.
  const auto centreHeld = [&](int32_t x, int32_t y) {
    bool held = false;
    if (job.shaded) {  // a centre keeps 255: no dot stands higher
      if (cv.HeightRow(y)[x] == 255) return true;
      grid.Near(x, x, y, y, [&](uint32_t i) {
        held = dots[i].x == x && dots[i].y == y;
        return !held;
      });
      return held;
    }
    uint32_t latest = kNone;  // the most recent dot of the chunk that covers (x, y)
    grid.Near(std::max(0, x - s.hx), std::min(w - 1, x + s.hx), std::max(0, y - s.hy),
              std::min(h - 1, y + s.hy), [&](uint32_t i) {
                if (latest != kNone && i < latest) return false;
                const int32_t dx = x - dots[i].x, dy = y - dots[i].y;
                if (dx < -s.hx || dx > s.hx || dy < -s.hy || dy > s.hy) return true;
                if (masks.k[s.at(dx, dy)] == 0) return true;
                latest = i;
                return false;
              });
    if (latest != kNone) return dots[latest].x == x && dots[latest].y == y;
    return cv.HeightRow(y)[x] == 255;
  };

  const int64_t longer = std::max(w, h), r = job.radius;
  const int64_t n = std::min(std::max<int64_t>(longer * longer / (r * r), 2),
                             std::max<int64_t>(kMaxDrawsPerPixel * w * h, 2));
  for (int64_t it = 0; it < n; ++it) {
    const int32_t x = fxrt::rand() % w;
    const int32_t y = fxrt::rand() % h;
    if (centreHeld(x, y)) continue;
    const int32_t y0 = std::max(0, y - s.hy), y1 = std::min(h - 1, y + s.hy);
    if (!pass.Fits(y0, y1)) {
      const int32_t rc = run();
      if (rc != SUCCESS) return rc;
    }
    const uint32_t index = pass.count();
    const T* src = cv.SourcePixel<T>(x, y);
    Dot& d = dots[index];
    d = Dot{x, y, {src[0], src[0], src[0]}};
    if (C == 3) d.c[1] = src[1], d.c[2] = src[2];
    pass.Add(y0, y1);
    grid.Add(index, x, y);
    const int32_t rc = HostProgressReport(progress, static_cast<int32_t>(it * 80 / (n - 1)) + 12);
    if (rc != SUCCESS) return rc;
  }
  return run();
}

int32_t PointillistDriver(BitmapRecord* bitmap, const PointillistJob& job) {
  HostBlock<HostProgressContext> progress;
  if (!progress.AllocateCleared(1)) return ERROR_NO_MEMORY;
  int32_t rc = HostProgressBegin(progress.get());
  if (rc != SUCCESS) return rc;
  AccessOwner access;
  rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t bits = access.SampleBits(), step = access.PixelStep();
  RECT rect{};
  HostGetRegionBounds(bitmap, nullptr, &rect);
  if (rect.right <= rect.left || rect.bottom <= rect.top) return ERROR_EMPTY_RECT;

  const MaskShape shape = ClipMask(job.radius, rect.right - rect.left, rect.bottom - rect.top);
  HostBlock<uint8_t> maskBlock, product;
  if (2 * shape.size() > UINT32_MAX || !maskBlock.Allocate(static_cast<uint32_t>(2 * shape.size())))
    return ERROR_NO_MEMORY;
  const DotMasks masks{shape, maskBlock.get(), maskBlock.get() + shape.size()};
  BuildCoverageMask(shape, maskBlock.get());
  BuildHeightMask(shape, masks.k, maskBlock.get() + shape.size());
  rc = HostProgressReport(progress.get(), 2);
  if (rc != SUCCESS) return rc;

  if (bits != 16) {
    if (!product.Allocate(256 * 256)) return ERROR_NO_MEMORY;
    BuildProductTable(product.get());
  }
  DotCanvas cv;
  rc = cv.Allocate(access, rect);
  if (rc == SUCCESS) rc = ReadCanvasSource(access, cv, progress.get(), 10, 2);
  if (rc != SUCCESS) return rc;

  const bool gray = !IsColorPixel(step);
  const DotColor paint = SplitDotColor(job.color, gray, bits == 16);
  ParallelFor(cv.h, cv.w, [&](int32_t i) {
    std::memcpy(cv.canvas.rows()[i], cv.source.rows()[i], cv.rowBytes);
    if (!job.colorCanvas) return;
    WithSampleType(bits, [&](auto sample) {
      using T = decltype(sample);
      T* row = reinterpret_cast<T*>(cv.canvas.rows()[i]);
      for (int64_t x = rect.left; x < rect.right; ++x)
        for (int32_t k = 0; k < (gray ? 1 : 3); ++k) row[x * step + k] = static_cast<T>(paint.c[k]);
    });
  });

  rc = WithSampleType(bits, [&](auto sample) {
    using T = decltype(sample);
    return gray ? StampDots<T, 1>(job, cv, masks, product.get(), progress.get())
                : StampDots<T, 3>(job, cv, masks, product.get(), progress.get());
  });
  if (rc != SUCCESS) return rc;
  return WriteCanvas(access, bitmap, cv, 92);
}

constexpr FxFlagValue kCanvasValues[] = {{"image", kCanvasImage, "dots over the image"},
                                         {"color", kCanvasColor, "dots over a canvas of `color`"}};
constexpr FxFlagValue kDotValues[] = {
    {"flat", kFlat, "later dots cover earlier ones"},
    {"shaded", kShaded, "beads: a dot pixel covers only what lies lower"}};
constexpr FxFlagField kPointillistFields[] = {
    FlagField("canvas", 0xF, kCanvasValues, "what the dots are painted on"),
    FlagField("dots", 0xF0, kDotValues, "dot style"),
};

const FxParamDesc kPointillistParams[] = {
    UIntParam("dotRadius", 4, 1, kMaxDotRadius, "dot radius in pixels"),
    ColorParam("color", 0xFFFFFF, "canvas colour with canvas=color (flags bits 0-3 = 2)"),
    FlagsParam("flags", 0x11, 0x11, kAnyUInt32Max,
               "bits 0-3: 1 dots over the image, 2 over a canvas of `color`; bits 4-7: 0x10 flat "
               "dots, 0x20 shaded beads; higher bits are ignored",
               kPointillistFields),
};

const FxPreset kPointillistPresets[] = {
    {"fine", "dotRadius=2 canvas=image dots=flat"},
    {"coarse", "dotRadius=9 canvas=image dots=flat"},
    {"beads-on-black", "dotRadius=6 color=black canvas=color dots=shaded"},
    {"paper", "dotRadius=4 color=#F4EEDC canvas=color dots=flat"},
};

}  // namespace

extern const FxEffectDesc kPointillistEffect = {
    "pointillist",
    "Fx_PointillistBitmap",
    FX_FAMILY_ARTISTIC,
    "Repaints the image with round dots of the colour under their random centres",
    kPointillistParams,
    CountOf(kPointillistParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_PointillistBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]));
    },
    kPointillistPresets,
    CountOf(kPointillistPresets),
    FX_TRAIT_RANDOM | FX_TRAIT_PROGRESS | FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_PointillistBitmap(BitmapRecord* bitmap, uint32_t dotRadius, uint32_t color,
                             uint32_t flags) {
  using namespace fx;
  const int32_t rc = CheckBitmap(bitmap, /*testAllocated=*/false);
  if (rc != SUCCESS) return rc;
  const uint32_t canvas = flags & 0xF, dots = flags & 0xF0;
  if (dotRadius == 0 || (canvas != kCanvasImage && canvas != kCanvasColor) ||
      (dots != kFlat && dots != kShaded))
    return ERROR_INV_PARAMETER;
  if (dotRadius > kMaxDotRadius) return ERROR_INV_PARAMETER;
  return PointillistDriver(
      bitmap, PointillistJob{dotRadius, color, dots == kShaded, canvas == kCanvasColor});
}
