// Glass effect: the image as seen through a wall of glass blocks. The rectangle is cut into
// blocks of a (possibly fractional) width and height, the first row and column of blocks half as
// large, and every block shows its surroundings shrunk to half size about its centre: along each
// axis the source advances by two pixels per output pixel and steps back by the block size at
// every block boundary, one pixel more whenever the fractional parts of the block size add up
// past a whole pixel. Columns and rows map independently, so both maps are tabled once; the rows
// run in parallel over a window of source rows around each output row.
//
// Open points and extreme inputs:
// - The half sizes that limit the block sizes are measured on the rectangle as the effect works
//   on it (in orientation 1).
// - The output row starts as the bitmap's row, so a fourth sample keeps its value; writes go
//   through the bitmap's region, so pixels outside a region mask keep theirs.
// - Source rows above the bitmap read its first row and rows below it its last (the window is
//   clamped to the bitmap); a source row at or below the rectangle's bottom is the output row
//   itself, a source column left of the rectangle its left column and one at or past its right
//   the output pixel's own column.
#include <cmath>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

// The map of one axis: for each output position from `first` to `end` - 1 the source position the
// block rule gives (the counter s before the edge rules of the two axes are applied).
void BlockMap(double size, int32_t first, int32_t end, int32_t* out) {
  const double whole = std::trunc(size), part = size - whole;
  int64_t s = first;
  double next = size / 2 + first;
  auto boundary = static_cast<int64_t>(next);
  double f = size / 2 - std::trunc(size / 2);
  const auto step = static_cast<int64_t>(whole);
  for (int64_t x = first; x < end; ++x) {
    if (x >= boundary) {
      s -= step;
      next += size;
      boundary = static_cast<int64_t>(next);
      if (std::trunc(f) != std::trunc(f + part)) --s;
      f += part;
    }
    // |s - x| stays within about a block, so it fits 32 bits beside x.
    out[x - first] = static_cast<int32_t>(s);
    s += 2;
  }
}

struct GlassMaps {
  RECT rect;
  HostBlock<int32_t> columns;  // source column of every rectangle column
  HostBlock<int32_t> rows;     // window offset of the source row of every rectangle row
};

int32_t BuildMaps(GlassMaps& m, double w, double h, int32_t half) {
  const RECT& r = m.rect;
  const auto cols = static_cast<uint32_t>(r.right - r.left);
  const auto lines = static_cast<uint32_t>(r.bottom - r.top);
  if (!m.columns.Allocate(cols) || !m.rows.Allocate(lines)) return ERROR_NO_MEMORY;
  BlockMap(w, r.left, r.right, m.columns.get());
  for (uint32_t i = 0; i < cols; ++i) {
    const int32_t s = m.columns[i], x = r.left + static_cast<int32_t>(i);
    m.columns[i] = s < r.left ? r.left : (s < r.right ? s : x);
  }
  BlockMap(h, r.top, r.bottom, m.rows.get());
  for (uint32_t i = 0; i < lines; ++i) {
    const int32_t t = m.rows[i], y = r.top + static_cast<int32_t>(i);
    int64_t d = t >= r.bottom ? 0 : int64_t{t} - y;
    if (d < -half) d = -half;  // index 0 of the window
    if (d > half) d = half;
    m.rows[i] = static_cast<int32_t>(d);
  }
  return SUCCESS;
}

template <class T>
void GlassRow(const GlassMaps& m, T* const* window, int32_t centre, int32_t row, int32_t step,
              T* out) {
  const T* source = window[centre + m.rows[row]];
  const int32_t samples = IsColorPixel(step) ? 3 : 1;
  const int32_t cols = m.rect.right - m.rect.left;
  T* p = out + int64_t{m.rect.left} * step;
  for (int32_t i = 0; i < cols; ++i, p += step) {
    const T* s = source + int64_t{m.columns[i]} * step;
    for (int32_t k = 0; k < samples; ++k) p[k] = s[k];
  }
}

int32_t GlassDriver(BitmapRecord* bitmap, const RECT& rect, double w, double h) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t step = access.PixelStep();
  const auto n = static_cast<int32_t>(2 * std::ceil(h) + 1);
  GlassMaps maps;
  maps.rect = rect;
  rc = BuildMaps(maps, w, h, n / 2);
  if (rc != SUCCESS) return rc;
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  RowWindow window;
  rc = window.AllocateSliding(n, rowBytes + 4 * size_t(step));
  if (rc != SUCCESS) return rc;
  RowSlots slots;
  if (!slots.Allocate(rowBytes, window.ViewBytes())) return ERROR_NO_MEMORY;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  rc = WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return window.Run(
        access, slots, rect.top, rect.bottom, bitmap->Height, rect.top, rect.right - rect.left,
        [&](int32_t y, uint8_t* const* rows, int32_t centre, uint8_t* out, uint8_t*) {
          const auto* from = reinterpret_cast<T* const*>(rows);
          auto* to = reinterpret_cast<T*>(out);
          CopyAroundColumns(to, from[centre], rowBytes, rect.left, rect.right, step);
          GlassRow<T>(maps, from, centre, y - rect.top, step, to);
        },
        NoHostCall(), WriteRow(access));
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

// The block size along one axis: a count of blocks over the rectangle (`countMode`), a size in
// pixels (`sizeMode`), anything else refused.
int32_t BlockSize(uint32_t mode, uint32_t countMode, uint32_t sizeMode, int32_t value, int32_t half,
                  double* size) {
  if (mode == countMode) {
    if (value < 2) return ERROR_INV_PARAMETER;
    *size = static_cast<double>(half * 2) / value;
    return SUCCESS;
  }
  if (mode == sizeMode) {
    *size = value;
    return SUCCESS;
  }
  return ERROR_INV_PARAMETER;
}

const FxFlagValue kWidthModes[] = {
    {"count", 0x1, "blockWidth is the number of blocks across"},
    {"size", 0x2, "blockWidth is the block width in pixels"},
};
const FxFlagValue kHeightModes[] = {
    {"count", 0x10, "blockHeight is the number of blocks down"},
    {"size", 0x20, "blockHeight is the block height in pixels"},
};
const FxFlagField kFlagFields[] = {
    FlagField("width", 0x0F, kWidthModes, "how blockWidth is read"),
    FlagField("height", 0xF0, kHeightModes, "how blockHeight is read"),
};

const FxParamDesc kGlassParams[] = {
    IntParam("blockWidth", 3, kAnyInt32Min, kAnyInt32Max,
             "block width in pixels or number of blocks across; 1 .. half the rectangle's width"),
    IntParam("blockHeight", 3, kAnyInt32Min, kAnyInt32Max,
             "block height in pixels or number of blocks down; 1 .. half the rectangle's height"),
    FlagsParam("flags", 0x22, 0x11, 0xFFFF0022,
               "1 or 2: blockWidth is a count or a size; 0x10 or 0x20: blockHeight likewise",
               kFlagFields),
};

const FxPreset kGlassPresets[] = {
    {"frosted-blocks", "blockWidth=6 blockHeight=6 width=size height=size"},
    {"glass-wall", "blockWidth=16 blockHeight=16 width=size height=size"},
    {"panes", "blockWidth=12 blockHeight=8 width=count height=count"},
};

}  // namespace

extern const FxEffectDesc kGlassEffectEffect = {
    "glass-effect",
    "Fx_GlassEffectBitmap",
    FX_FAMILY_ARTISTIC,
    "Shows the image through glass blocks, each shrinking its surroundings to half size",
    kGlassParams,
    CountOf(kGlassParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_GlassEffectBitmap(b, ArgI32(v[0]), ArgI32(v[1]), ArgU32(v[2]));
    },
    kGlassPresets,
    CountOf(kGlassPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_GlassEffectBitmap(BitmapRecord* bitmap, int32_t blockWidth, int32_t blockHeight,
                             uint32_t flags) {
  using namespace fx;
  int32_t rc = CheckBitmap(bitmap, /*testAllocated=*/false);
  if (rc != SUCCESS) return rc;
  if (!(bitmap->Flags & FLAG_ALLOCATED)) return ERROR_NO_BITMAP;
  OrientationGuard orientation(bitmap);
  const RECT rect = ProcessRect(bitmap);
  const int32_t hw = (rect.right - rect.left) / 2, hh = (rect.bottom - rect.top) / 2;
  if (blockWidth == 0 || blockHeight == 0 || blockWidth > hw || blockHeight > hh)
    return ERROR_INV_PARAMETER;
  double w = 0, h = 0;
  rc = BlockSize(flags & 0xFF0F, 1, 2, blockWidth, hw, &w);
  if (rc == SUCCESS) rc = BlockSize(flags & 0xFFF0, 0x10, 0x20, blockHeight, hh, &h);
  if (rc != SUCCESS) return rc;
  if (w <= 1 || h <= 1) return HostNothingToDo();
  if (IsEmpty(rect)) return ERROR_EMPTY_RECT;
  return GlassDriver(bitmap, rect, w, h);
}
