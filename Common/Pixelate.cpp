// Pixelate: divides the rectangle into cells and paints every cell with one colour of its own
// pixels, the per-channel maximum, minimum or average, blended with each pixel by an opacity.
// Cells are rectangles of a grid (given by size or by count) or polar cells: angular sectors cut
// by concentric rings around a centre, the central disc being one cell. A first pass gathers the
// cell colours (split into parts with cell tables of their own that are merged at the end, so it
// runs on every thread; every row's read is checked first where the reads leave the moves for
// later), a second pass writes the blended pixels; every failure after the row access is open is
// answered with ERROR_NO_MEMORY.
//
// Extreme inputs: cell sums for the average are 64-bit, so large 16-bit cells average correctly
// instead of wrapping. The polar squares dx² + dy² are formed in 64 bits (identical below 46341
// pixels). The cell map holds one 32-bit cell index per pixel (rectangular cells: one column
// index per column and a cell row per row), so cell counts beyond 65535 need no 16-bit pairs.
// When the polar sectors × rings would outnumber the rectangle's pixels (huge ring counts), the
// cells that pixels actually fall in are numbered compactly instead of allocating every
// (sector, ring) pair; the cells and their colours are the same. A cell table or map whose
// element count does not fit 32 bits gives ERROR_NO_MEMORY.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;

enum CellColour : uint32_t { kMaximum = 0, kMinimum = 1, kAverage = 2 };

constexpr uint32_t kShapeRect = 0x10, kShapePolar = 0x20;
constexpr uint32_t kWidthCount = 0x100, kWidthSize = 0x200, kHeightCount = 0x400,
                   kHeightSize = 0x800;

bool FlagsAccepted(uint32_t flags) {
  if (flags & 0x000FF000u) return false;
  const uint32_t w = flags & (kWidthCount | kWidthSize), h = flags & (kHeightCount | kHeightSize);
  return w == kWidthCount || w == kWidthSize || h == kHeightCount || h == kHeightSize;
}

// Where every pixel of the rectangle falls. Rectangular cells: cell (row, column) with the row
// from y and the column from `column[i]`; polar cells: `map` holds the cell of every pixel.
struct CellLayout {
  uint32_t cellCount = 0;
  uint32_t columns = 0;        // cells per grid row (rectangular)
  double cellHeight = 1;       // ch (rectangular)
  HostBlock<uint32_t> column;  // rectangular: cell column of pixel i
  HostBlock<uint32_t> map;     // polar: cell of pixel (i, y - top), row-major
  bool polar = false;
};

struct Job {
  RECT rect;
  int32_t wr, hr;
  uint32_t mode, opacity;
};

// The cells of one row: base + offsets[i] is the cell of pixel left + i.
struct RowCells {
  const uint32_t* offsets;
  uint32_t base;
};

RowCells CellsOfRow(const CellLayout& layout, const Job& job, int32_t y) {
  const int32_t j = y - job.rect.top;
  if (layout.polar) return {layout.map.get() + static_cast<size_t>(j) * job.wr, 0};
  const auto cellRow = static_cast<uint32_t>(j / layout.cellHeight);
  return {layout.column.get(), cellRow * layout.columns};
}

template <class T, int32_t C, uint32_t Mode>
void GatherRow(const T* pixels, int32_t count, int32_t step, RowCells cells, uint64_t* values,
               uint64_t* counts) {
  for (int32_t i = 0; i < count; ++i) {
    const uint32_t cell = cells.base + cells.offsets[i];
    const T* p = pixels + static_cast<size_t>(i) * step;
    uint64_t* v = values + static_cast<size_t>(cell) * C;
    for (int32_t k = 0; k < C; ++k) {
      if constexpr (Mode == kMaximum) v[k] = std::max<uint64_t>(v[k], p[k]);
      if constexpr (Mode == kMinimum) v[k] = std::min<uint64_t>(v[k], p[k]);
      if constexpr (Mode == kAverage) v[k] += p[k];
    }
    if constexpr (Mode == kAverage) ++counts[cell];
  }
}

// p = (opacity × c + (100 - opacity) × p) / 100, limited to the maximum; `values` already hold
// opacity × c.
template <class T, int32_t C>
void BlendRow(T* pixels, int32_t count, int32_t step, RowCells cells, const uint64_t* values,
              uint32_t keep) {
  constexpr uint32_t kMax = SampleTraits<T>::kMax;
  for (int32_t i = 0; i < count; ++i) {
    const uint64_t* v = values + static_cast<size_t>(cells.base + cells.offsets[i]) * C;
    T* p = pixels + static_cast<size_t>(i) * step;
    for (int32_t k = 0; k < C; ++k)
      p[k] = static_cast<T>(std::min((static_cast<uint32_t>(v[k]) + keep * p[k]) / 100, kMax));
  }
}

// Parts of the first pass: each gathers its share of a band's rows into cell values of its own,
// merged afterwards (a maximum, a minimum or a 64-bit sum, exact in any grouping). One part per
// thread, fewer when the parts' tables would exceed 64 MiB.
uint32_t GatherParts(uint32_t cellCount, int32_t channels) {
  const uint64_t bytes = uint64_t{cellCount} * (uint64_t(channels) + 1) * sizeof(uint64_t);
  const uint64_t fit = bytes == 0 ? 1 : (uint64_t{64} << 20) / bytes;
  return static_cast<uint32_t>(std::clamp<uint64_t>(fit, 1, uint64_t(FrameThreadCount())));
}

template <class T, int32_t C>
int32_t RunPasses(RowAccess* access, BitmapRecord* bitmap, const Job& job, const CellLayout& layout,
                  int32_t step) {
  const uint32_t parts = GatherParts(layout.cellCount, C);
  const uint64_t partValues = uint64_t{layout.cellCount} * C;
  const size_t rowBytes = static_cast<size_t>(HostRowBytes(access));
  const int32_t band = host::BandRows(static_cast<int64_t>(rowBytes));
  HostBlock<uint64_t> values, counts;
  HostBlock<uint8_t> rows;  // a band of source rows
  if (partValues * parts > UINT32_MAX || uint64_t{layout.cellCount} * parts > UINT32_MAX ||
      !values.Allocate(static_cast<uint32_t>(partValues * parts)))
    return ERROR_NO_MEMORY;
  std::fill_n(values.get(), size_t(partValues * parts),
              job.mode == kMinimum ? uint64_t{0xFFFFFFFFu} : uint64_t{0});
  if (job.mode == kAverage && !counts.AllocateCleared(layout.cellCount * parts))
    return ERROR_NO_MEMORY;
  // A band of rows, and at least one row per part.
  const uint32_t rowCount = std::max(uint32_t(band), parts);
  if (uint64_t{rowBytes} * rowCount > UINT32_MAX ||
      !rows.Allocate(static_cast<uint32_t>(rowBytes * rowCount)))
    return ERROR_NO_MEMORY;

  // Gathers rows [y0, y1), the pixels of row y at rowOf(part, y). Each part takes the rows one at
  // a time as it gets to them, so a thread that starts late leaves its share to the others
  // instead of holding them up at the end.
  const auto gather = [&](int32_t y0, int32_t y1, auto&& rowOf) {
    std::atomic<int32_t> next{y0};
    ParallelFor(static_cast<int32_t>(parts), int64_t{y1 - y0} * job.wr / parts, [&](int32_t part) {
      uint64_t* v = values.get() + partValues * uint32_t(part);
      uint64_t* c = job.mode == kAverage ? counts.get() + size_t{layout.cellCount} * part : nullptr;
      for (int32_t y; (y = next.fetch_add(1, std::memory_order_relaxed)) < y1;) {
        const T* pixels =
            reinterpret_cast<const T*>(rowOf(part, y)) + static_cast<size_t>(job.rect.left) * step;
        const RowCells cells = CellsOfRow(layout, job, y);
        if (job.mode == kMaximum)
          GatherRow<T, C, kMaximum>(pixels, job.wr, step, cells, v, nullptr);
        else if (job.mode == kMinimum)
          GatherRow<T, C, kMinimum>(pixels, job.wr, step, cells, v, nullptr);
        else
          GatherRow<T, C, kAverage>(pixels, job.wr, step, cells, v, c);
      }
    });
  };
  const host::DeferredRowReads reads(access);
  uint8_t* bandRows[host::kMaxBandRows];
  for (int32_t k = 0; k < band; ++k) bandRows[k] = rows.get() + size_t(k) * rowBytes;
  for (int32_t y0 = job.rect.top; y0 < job.rect.bottom; y0 += band) {
    const int32_t y1 = std::min(job.rect.bottom, y0 + band);
    if (reads.Read(bandRows, y0, y1 - y0) != SUCCESS) return ERROR_NO_MEMORY;
    if (!reads.Defers()) gather(y0, y1, [&](int32_t, int32_t y) { return bandRows[y - y0]; });
  }
  // Where the reads only checked, every row is gathered in one run once all checks passed:
  // straight from the bitmap where its rows are stored as read, else moved into the part's row.
  if (reads.Defers())
    gather(job.rect.top, job.rect.bottom, [&](int32_t part, int32_t y) {
      return reads.Locate(rows.get() + size_t(part) * rowBytes, y);
    });
  // The parts merged into the first, then the final cell colours, premultiplied by the opacity;
  // a range of cells at a time on every thread. Only cells that hold pixels are ever read; a
  // minimum cell without pixels keeps its start value, limited to the maximum.
  constexpr uint64_t kMax = SampleTraits<T>::kMax;
  constexpr uint32_t kCellsPerItem = 4096;
  const uint32_t cellCount = layout.cellCount;
  ParallelFor(static_cast<int32_t>((uint64_t{cellCount} + kCellsPerItem - 1) / kCellsPerItem),
              int64_t{kCellsPerItem} * parts, [&](int32_t item) {
                const uint32_t first = uint32_t(item) * kCellsPerItem;
                const uint32_t last = std::min(cellCount, first + kCellsPerItem);
                for (uint32_t cell = first; cell < last; ++cell) {
                  uint64_t* into = values.get() + size_t{cell} * C;
                  for (uint32_t part = 1; part < parts; ++part) {
                    const uint64_t* v = into + partValues * part;
                    for (int32_t k = 0; k < C; ++k)
                      into[k] = job.mode == kMaximum   ? std::max(into[k], v[k])
                                : job.mode == kMinimum ? std::min(into[k], v[k])
                                                       : into[k] + v[k];
                    if (job.mode == kAverage)
                      counts[cell] += counts[size_t{cellCount} * part + cell];
                  }
                  for (int32_t k = 0; k < C; ++k) {
                    uint64_t& v = into[k];
                    if (job.mode == kAverage) v = counts[cell] ? v / counts[cell] : 0;
                    v = job.opacity * std::min(v, kMax);
                  }
                }
              });

  // The second pass blends rows in parallel, a band of source rows at a time.
  RowWindow source;
  RowSlots slots;
  if (source.AllocateRowByRow(rowBytes, slots) != SUCCESS) return ERROR_NO_MEMORY;
  if (BeginWritePhase(access, bitmap) != SUCCESS) return ERROR_NO_MEMORY;
  const uint32_t keep = 100 - job.opacity;
  const int32_t rc = source.RunInPlace(
      access, slots, job.rect.top, job.rect.bottom, bitmap->Height, job.wr,
      [&](int32_t y, uint8_t* out, uint8_t*) {
        BlendRow<T, C>(reinterpret_cast<T*>(out) + static_cast<size_t>(job.rect.left) * step,
                       job.wr, step, CellsOfRow(layout, job, y), values.get(), keep);
      },
      NoHostCall(), WriteRow(access));
  return rc == SUCCESS ? SUCCESS : ERROR_NO_MEMORY;
}

// Rectangular grid: cw and ch are the cell width and height in pixels (fractional for counts).
int32_t LayOutGrid(const Job& job, double cw, double ch, CellLayout& layout) {
  const auto nRows = static_cast<uint32_t>(job.hr / ch);
  const auto nCols = static_cast<uint32_t>(job.wr / cw);
  const uint64_t cells = (uint64_t{nRows} + 1) * (uint64_t{nCols} + 1);
  if (cells > UINT32_MAX) return ERROR_NO_MEMORY;
  layout.cellCount = static_cast<uint32_t>(cells);
  layout.columns = nCols + 1;
  layout.cellHeight = ch;
  if (!layout.column.Allocate(static_cast<uint32_t>(job.wr))) return ERROR_NO_MEMORY;
  for (int32_t i = 0; i < job.wr; ++i) layout.column[i] = static_cast<uint32_t>(i / cw);
  return SUCCESS;
}

// Numbers the distinct keys of `keys` 0, 1, ... in increasing order and writes each pixel's
// number to `map`; the count of distinct keys goes to `cellCount`.
int32_t NumberCells(const uint64_t* keys, size_t pixels, uint32_t* map, uint32_t& cellCount) {
  HostBlock<uint64_t> sorted;
  if (!sorted.Allocate(static_cast<uint32_t>(pixels))) return ERROR_NO_MEMORY;
  std::copy_n(keys, pixels, sorted.get());
  std::sort(sorted.get(), sorted.get() + pixels);
  uint64_t* end = std::unique(sorted.get(), sorted.get() + pixels);
  for (size_t p = 0; p < pixels; ++p)
    map[p] = static_cast<uint32_t>(std::lower_bound(sorted.get(), end, keys[p]) - sorted.get());
  cellCount = static_cast<uint32_t>(end - sorted.get());
  return SUCCESS;
}

// Polar cells around `center`: sectors of `sectorAngle` degrees cut by rings.
int32_t LayOutPolar(const Job& job, double sectorAngle, int32_t cellHeight, bool heightIsCount,
                    POINT center, CellLayout& layout) {
  const RECT& r = job.rect;
  const int64_t dxMax = std::max(int64_t{center.x} - r.left, int64_t{r.right} - center.x);
  const int64_t dyMax = std::max(int64_t{center.y} - r.top, int64_t{r.bottom} - center.y);
  const double bigR = std::sqrt(static_cast<double>(dxMax * dxMax + dyMax * dyMax));

  const auto nSectors = static_cast<uint32_t>(360.0 / sectorAngle);
  double ringWidth;
  uint32_t nRings;
  if (heightIsCount) {
    ringWidth = bigR / cellHeight;
    nRings = static_cast<uint32_t>(cellHeight);
  } else {
    ringWidth = cellHeight;
    nRings = static_cast<uint32_t>(bigR / cellHeight);
  }
  if (nRings == 0) {
    nRings = 1;
    ringWidth = bigR;
  }

  const size_t pixels = static_cast<size_t>(job.wr) * static_cast<size_t>(job.hr);
  if (pixels > UINT32_MAX) return ERROR_NO_MEMORY;
  const uint64_t ringsPerSector = uint64_t{nRings} + 1;
  const uint64_t dense = (uint64_t{nSectors} + 1) * ringsPerSector;
  const bool compact = dense > std::max<uint64_t>(pixels, 65536);
  layout.polar = true;
  if (!layout.map.Allocate(static_cast<uint32_t>(pixels))) return ERROR_NO_MEMORY;
  HostBlock<uint64_t> keys;
  if (compact && !keys.Allocate(static_cast<uint32_t>(pixels))) return ERROR_NO_MEMORY;

  // Every pixel's cell on its own, the rows on every thread.
  const double toDegrees = 180.0 / kPi;
  ParallelFor(job.hr, job.wr, [&](int32_t j) {
    const int32_t y = r.top + j;
    const int64_t dy = int64_t{y} - center.y;
    size_t p = static_cast<size_t>(j) * static_cast<size_t>(job.wr);
    for (int32_t x = r.left; x < r.right; ++x, ++p) {
      const int64_t dx = int64_t{x} - center.x;
      const double dist = std::sqrt(static_cast<double>(dy * dy + dx * dx));
      double a = std::atan2(static_cast<double>(dy), static_cast<double>(dx)) * toDegrees;
      if (a < 0) a = a + 360;
      if (a == 360) a = 0;
      const auto ring = static_cast<uint32_t>(dist / ringWidth);
      const uint32_t sector = ring == 0 ? 0 : static_cast<uint32_t>(a / sectorAngle);
      const uint64_t key = sector * ringsPerSector + ring;
      if (compact)
        keys[p] = key;
      else
        layout.map[p] = static_cast<uint32_t>(key);
    }
  });
  if (!compact) {
    layout.cellCount = static_cast<uint32_t>(dense);
    return SUCCESS;
  }
  return NumberCells(keys.get(), pixels, layout.map.get(), layout.cellCount);
}

struct PixelateArgs {
  int32_t cellWidth, cellHeight;
  uint32_t opacity;
  POINT center;
  uint32_t flags;
  RECT rect;
  double cw, ch;  // rectangular: cell size; polar: cw is the sector angle
};

int32_t PixelateDriver(BitmapRecord* bitmap, const PixelateArgs& args) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t step = access.PixelStep();

  const Job job{args.rect, args.rect.right - args.rect.left, args.rect.bottom - args.rect.top,
                args.flags & 0xF, args.opacity};
  CellLayout layout;
  rc = (args.flags & 0xF0) == kShapePolar
           ? LayOutPolar(job, args.cw, args.cellHeight, (args.flags & kHeightCount) != 0,
                         args.center, layout)
           : LayOutGrid(job, args.cw, args.ch, layout);
  if (rc != SUCCESS) return ERROR_NO_MEMORY;

  return WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return IsColorPixel(step) ? RunPasses<T, 3>(access, bitmap, job, layout, step)
                              : RunPasses<T, 1>(access, bitmap, job, layout, step);
  });
}

// Rectangular cell size along one axis from a size or a count; SUCCESS or the range error.
int32_t GridCellSize(int32_t value, bool isCount, int32_t extent, double& size) {
  if (isCount) {
    if (value > extent) return ERROR_POINT_OUT_OF_RANGE;
    size = static_cast<double>(extent) / value;
  } else {
    size = std::min(value, extent);
  }
  return SUCCESS;
}

constexpr FxFlagValue kModeValues[] = {
    {"max", kMaximum, "the per-channel maximum of the cell"},
    {"min", kMinimum, "the per-channel minimum of the cell"},
    {"average", kAverage, "the per-channel average of the cell"},
};
constexpr FxFlagValue kShapeValues[] = {
    {"grid", kShapeRect, "rectangles of a grid"},
    {"polar", kShapePolar, "sectors cut by rings around the centre"},
};
constexpr FxFlagValue kWidthValues[] = {
    {"size", kWidthSize, "cellWidth is a width in pixels (polar: a sector angle in degrees)"},
    {"count", kWidthCount, "cellWidth is a number of columns (polar: of sectors)"},
};
constexpr FxFlagValue kHeightValues[] = {
    {"size", kHeightSize, "cellHeight is a height in pixels (polar: a ring width)"},
    {"count", kHeightCount, "cellHeight is a number of rows (polar: of rings)"},
};
constexpr FxFlagField kPixelateFlagFields[] = {
    FlagField("mode", 0x00F, kModeValues, "the colour a cell is painted with"),
    FlagField("shape", 0x0F0, kShapeValues, "the cells' shape"),
    FlagField("widthIs", kWidthCount | kWidthSize, kWidthValues, "what cellWidth counts"),
    FlagField("heightIs", kHeightCount | kHeightSize, kHeightValues, "what cellHeight counts"),
};

const FxParamDesc kPixelateParams[] = {
    IntParam("cellWidth", 8, 1, kAnyInt32Max,
             "cell width in pixels or number of columns; polar: sector angle in degrees or "
             "number of sectors (by widthIs)"),
    IntParam("cellHeight", 8, 1, kAnyInt32Max,
             "cell height in pixels or number of rows; polar: ring width in pixels or number of "
             "rings (by heightIs)"),
    UIntParam("opacity", 100, 0, 100, "share of the cell colour in percent; 0 does nothing"),
    CenterParam("center", "centre of the polar cells; inside the rectangle grown by one pixel"),
    FlagsParam("flags", 0xA12, 0x110, 0xFFF00FFF,
               "the cell colour, the cells' shape and what the sizes count; bits 12-19 must be "
               "0, bits 20-31 are not looked at",
               kPixelateFlagFields),
};

const FxPreset kPixelatePresets[] = {
    {"polar", "cellWidth=15 cellHeight=5%s shape=polar"},
    {"grid-count-max", "cellWidth=24 cellHeight=16 mode=max widthIs=count heightIs=count"},
    {"soft-min", "cellWidth=2.5%s cellHeight=2.5%s opacity=50 mode=min"},
};

}  // namespace

extern const FxEffectDesc kPixelateEffect = {
    "pixelate",
    "Fx_PixelateBitmap",
    FX_FAMILY_ARTISTIC,
    "Paints grid or polar cells with their maximum, minimum or average colour",
    kPixelateParams,
    CountOf(kPixelateParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_PixelateBitmap(b, ArgI32(v[0]), ArgI32(v[1]), ArgU32(v[2]), v[3].pt, ArgU32(v[4]));
    },
    kPixelatePresets,
    CountOf(kPixelatePresets),
    FX_TRAIT_FAILURE_AS_NO_MEMORY | FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_PixelateBitmap(BitmapRecord* bitmap, int32_t cellWidth, int32_t cellHeight,
                          uint32_t opacity, POINT center, uint32_t flags) {
  using namespace fx;
  int32_t rc = CheckBitmap(bitmap);
  if (rc != SUCCESS) return rc;
  if (!FlagsAccepted(flags)) return ERROR_INV_PARAMETER;
  const uint32_t shape = flags & 0xF0;
  if (shape != kShapeRect && shape != kShapePolar) return ERROR_INV_PARAMETER;
  if (opacity == 0) return SUCCESS;
  if (opacity > 100) return ERROR_INV_PARAMETER;
  if ((flags & 0xF) > kAverage) return ERROR_INV_PARAMETER;

  OrientationGuard orientation(bitmap);
  PixelateArgs args{cellWidth, cellHeight, opacity, center, flags, {}, 0, 0};
  if (HostHasRegion(bitmap)) {
    HostGetRegionBounds(bitmap, nullptr, &args.rect);
    if (IsEmpty(args.rect)) return ERROR_EMPTY_RECT;
  } else {
    args.rect = RECT{0, 0, bitmap->Width, bitmap->Height};
  }
  if (cellWidth < 1 || cellHeight < 1) return ERROR_POINT_OUT_OF_RANGE;

  const bool widthIsCount = (flags & kWidthCount) != 0;
  if (shape == kShapeRect) {
    if (!widthIsCount && cellWidth == 1 && cellHeight == 1) return SUCCESS;
    rc = GridCellSize(cellWidth, widthIsCount, args.rect.right - args.rect.left, args.cw);
    if (rc != SUCCESS) return rc;
    rc = GridCellSize(cellHeight, (flags & kHeightCount) != 0, args.rect.bottom - args.rect.top,
                      args.ch);
    if (rc != SUCCESS) return rc;
  } else {
    if (widthIsCount) {
      if (static_cast<uint32_t>(cellWidth) > 360) return ERROR_POINT_OUT_OF_RANGE;
      args.cw = 360.0 / cellWidth;
    } else {
      args.cw = std::min(cellWidth, 360);
    }
    if (!CenterInGrownRect(args.rect, center)) return ERROR_POINT_OUT_OF_RANGE;
  }
  return PixelateDriver(bitmap, args);
}
