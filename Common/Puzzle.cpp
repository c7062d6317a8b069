// Puzzle: cuts the rectangle into a grid of rectangular tiles, optionally shuffles them at random
// and optionally draws two-pixel borders along the tile edges, like a jigsaw puzzle. The tiles are
// given by count or by size; with the fit flag the rectangle is first resized (the host's resize:
// linear when growing, area average when shrinking) so that whole tiles fit. The work happens on
// a working copy of the rectangle that is finally put back over the rectangle.
//
// The shuffle draws its permutations on the calling thread, in order, each from the generator
// seeded anew with `seed` (or the tick count when it is 0); the destination rows are then composed
// from the unchanged source rows in parallel (every tile copy of the permutation is a whole-pixel
// move, so a row gathers its pieces from the source tiles mapped onto it). Progress and cancel
// points are those of the tile-by-tile copy: one step per permutation entry and per tile. The
// permutations are drawn (with their progress steps) whether or not the shuffle is asked for.
//
// Extreme inputs and open points:
// - A grid of more than 2^32 - 1 tiles answers ERROR_NO_MEMORY (its tables cannot be held).
// - The permutation index (rand() × rand()) mod count uses the unsigned 32-bit product (it never
//   exceeds 2^30). The progress range 2.5·n + H steps is saturated to 32 bits.
// - A count grid whose tiles do not reach the last columns or rows (e.g. 11 columns of count 4:
//   four tiles of 2 and a partial tile of 1) leaves those pixels in place.
// - Tile borders on 16-bit gray data without bit 26 in the colour take the gray mix of the colour
//   scaled by 257 (the ring effect's rule); a fourth sample keeps its value.
// - Without a region and with the fit flag, the caller's bitmap takes the new size (and keeps it
//   when a later step fails).
#include "Common/Puzzle.h"

#include <algorithm>
#include <cstring>

#include "frame/RegistryDefs.h"
#include "frame/RowEngine.h"
#include "fxkit/effects.h"

namespace fx {

// Shared with the dice effect -------------------------------------------------------------------

void FitAxis(bool countMode, uint32_t value, int32_t& extent, uint32_t& tile, uint32_t& count) {
  const uint32_t e = static_cast<uint32_t>(extent);
  if (countMode) {
    count = value;
    const uint32_t r = e % count;
    const uint32_t fitted = r < count / 2 ? e - r : e + (count - r);
    extent = static_cast<int32_t>(fitted);
    tile = fitted / count;
  } else {
    tile = value;
    count = e / tile + (e % tile >= tile / 2 ? 1 : 0);
    extent = static_cast<int32_t>(uint64_t{count} * tile);
  }
}

bool TileCopy::Allocate() {
  if (!record_.Allocate(1)) return false;
  HostMemSet(record_.get(), 0, sizeof(BitmapRecord));
  HostInitBitmap(record_.get(), BITMAP_STRUCT_SIZE, 0, 0, 0);
  return true;
}

void TileCopy::Release() {
  if (!record_) return;
  if (record_.get()->Flags & FLAG_ALLOCATED) {
    HostFreeBitmap(record_.get());
    HostFinishUpdate(record_.get());
  }
  record_.Reset();
}

int32_t MakeTileCopy(BitmapRecord* bitmap, const TileLayout& layout, bool fit, TileCopy& copy) {
  const RECT& r = layout.rect;
  const int32_t w = r.right - r.left, h = r.bottom - r.top;
  CallbackPause pause;
  if (!fit) return HostCopyBitmapRect(copy.get(), bitmap, BITMAP_STRUCT_SIZE, r.left, r.top, w, h);
  if (HostHasRegion(bitmap)) {
    const int32_t rc =
        HostCopyBitmapRect(copy.get(), bitmap, BITMAP_STRUCT_SIZE, r.left, r.top, w, h);
    if (rc != SUCCESS) return rc;
    return HostResizeBitmap(copy.get(), layout.width, layout.height, 4);
  }
  const int32_t rc = HostResizeBitmap(bitmap, layout.width, layout.height, 4);
  if (rc != SUCCESS) return rc;
  return HostCopyBitmapRect(copy.get(), bitmap, BITMAP_STRUCT_SIZE, r.left, r.top, layout.width,
                            layout.height);
}

int32_t CombineTileCopy(BitmapRecord* bitmap, const TileLayout& layout, TileCopy& copy) {
  CallbackPause pause;
  return HostCombineBitmaps(bitmap, layout.rect.left, layout.rect.top, layout.width, layout.height,
                            copy.get(), 0, 0, HOST_COMBINE_COPY);
}

TileGrid MakeTileGrid(bool borders, COLORREF colour, int32_t sampleBits, int32_t pixelStep,
                      int32_t width, int32_t height, uint32_t tileWidth, uint32_t tileHeight) {
  TileGrid grid;
  grid.draw = borders && tileWidth >= 5 && tileHeight >= 5;
  grid.width = width;
  grid.height = height;
  grid.tileWidth = static_cast<int32_t>(std::min<uint32_t>(tileWidth, INT32_MAX));
  grid.tileHeight = static_cast<int32_t>(std::min<uint32_t>(tileHeight, INT32_MAX));
  grid.pixelStep = pixelStep;
  grid.color = PrepareSampleColor(colour, sampleBits, pixelStep == 1);
  return grid;
}

namespace {

constexpr uint32_t kShuffle = 0x02;

// The permutation of `count` entries: identity, then for each i a swap with (rand() × rand())
// mod count, each followed by one progress step. The generator is seeded anew for each table.
int32_t MakePermutation(RowAccess* access, uint32_t count, uint32_t seed, HostBlock<uint32_t>& p) {
  if (count == 0) return SUCCESS;
  if (!p.Allocate(count)) return ERROR_NO_MEMORY;
  for (uint32_t i = 0; i < count; ++i) p[i] = i;
  fxrt::srand(seed != 0 ? seed : fxrt::GetTickCount());
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t a = static_cast<uint32_t>(fxrt::rand());
    const uint32_t j = a * static_cast<uint32_t>(fxrt::rand()) % count;
    std::swap(p[i], p[j]);
    const int32_t rc = HostAdvanceProgress(access, 1);
    if (rc != SUCCESS) return rc;
  }
  return SUCCESS;
}

// Where every destination tile takes its pixels from: map[r * columns + c] is the source tile
// (index sr * columns + sc) of destination tile (c, r); the identity where nothing moves.
struct TileMoves {
  uint32_t columns, rows;
  HostBlock<uint32_t> map;
};

// Records the moves of the shuffle in the tile-by-tile order, one progress step per tile.
class MoveRecorder {
 public:
  MoveRecorder(RowAccess* access, TileMoves& moves) : access_(access), moves_(moves) {}
  int32_t Move(uint32_t dc, uint32_t dr, uint32_t sc, uint32_t sr) {
    moves_.map[size_t{dr} * moves_.columns + dc] = sr * moves_.columns + sc;
    return HostAdvanceProgress(access_, 1);
  }

 private:
  RowAccess* access_;
  TileMoves& moves_;
};

struct PuzzleJob {
  TileLayout layout;
  uint32_t seed, flags;
  COLORREF borderColor;
};

// The tile grid's classes: full tiles, a partial last column (width W mod tw) and a partial last
// row (height H mod th).
struct TileClasses {
  bool partialColumn, partialRow;
  uint32_t fullColumns, fullRows;
  uint32_t lastWidth, lastHeight;
};

TileClasses ClassesOf(const TileLayout& l) {
  TileClasses k;
  k.lastWidth = static_cast<uint32_t>(l.width) % l.tileWidth;
  k.lastHeight = static_cast<uint32_t>(l.height) % l.tileHeight;
  k.partialColumn = k.lastWidth != 0;
  k.partialRow = k.lastHeight != 0;
  k.fullColumns = k.partialColumn ? l.columns - 1 : l.columns;
  k.fullRows = k.partialRow ? l.rows - 1 : l.rows;
  return k;
}

// The permutations of the category, in order: the full tiles, then the partial column's tiles,
// then the partial row's.
struct Permutations {
  HostBlock<uint32_t> full, column, row;
};

int32_t MakePermutations(RowAccess* access, const TileClasses& k, uint32_t seed, Permutations& p) {
  int32_t rc = MakePermutation(access, k.fullColumns * k.fullRows, seed, p.full);
  if (rc == SUCCESS && k.partialColumn) rc = MakePermutation(access, k.fullRows, seed, p.column);
  if (rc == SUCCESS && k.partialRow) rc = MakePermutation(access, k.fullColumns, seed, p.row);
  return rc;
}

// The tile moves of the shuffle in the tile-by-tile order, one progress step per tile (and one
// more before the corner tile, which stays in place).
int32_t MakeMoves(RowAccess* access, const TileLayout& l, const TileClasses& k,
                  const Permutations& p, TileMoves& moves) {
  MoveRecorder record(access, moves);
  const uint32_t fc = k.fullColumns, full = k.fullColumns * k.fullRows;
  int32_t rc = SUCCESS;
  for (uint32_t i = 0; i < full && rc == SUCCESS; ++i)
    rc = record.Move(i % fc, i / fc, p.full[i] % fc, p.full[i] / fc);
  if (k.partialColumn)
    for (uint32_t i = 0; i < k.fullRows && rc == SUCCESS; ++i)
      rc = record.Move(l.columns - 1, i, l.columns - 1, p.column[i]);
  if (k.partialRow)
    for (uint32_t i = 0; i < fc && rc == SUCCESS; ++i)
      rc = record.Move(i, l.rows - 1, p.row[i], l.rows - 1);
  if (k.partialColumn && k.partialRow && rc == SUCCESS) {
    rc = HostAdvanceProgress(access, 1);
    if (rc == SUCCESS) rc = record.Move(l.columns - 1, l.rows - 1, l.columns - 1, l.rows - 1);
  }
  return rc;
}

// Destination row y from the source rows: every tile of the row's tile row copies its slice.
template <class T>
void ComposeRow(T* const* source, int32_t y, const TileLayout& l, const TileClasses& k,
                const TileMoves& moves, int32_t step, T* out) {
  const uint32_t tw = l.tileWidth, th = l.tileHeight;
  const uint32_t r = static_cast<uint32_t>(y) / th, j = static_cast<uint32_t>(y) % th;
  // Rows below the last tile row, or below a partial row's height, keep their pixels.
  if (r >= moves.rows || (k.partialRow && r == moves.rows - 1 && j >= k.lastHeight)) return;
  for (uint32_t c = 0; c < moves.columns; ++c) {
    const uint32_t s = moves.map[size_t{r} * moves.columns + c];
    const uint32_t sc = s % moves.columns, sr = s / moves.columns;
    if (sc == c && sr == r) continue;
    const uint32_t width = c == moves.columns - 1 && k.partialColumn ? k.lastWidth : tw;
    const T* from = source[size_t{sr} * th + j] + size_t{sc} * tw * step;
    std::memcpy(out + size_t{c} * tw * step, from, size_t{width} * step * sizeof(T));
  }
}

int32_t MainPass(BitmapRecord* bitmap, const PuzzleJob& job, TileCopy& copy) {
  const TileLayout& l = job.layout;
  AccessOwner access;
  int32_t rc = access.Open(copy.get(), 2);
  if (rc != SUCCESS) return rc;
  const uint64_t n = uint64_t{l.rows} * l.columns;
  if (n > UINT32_MAX) return ERROR_NO_MEMORY;  // tables of n entries cannot be held
  const RECT range{0, 0, 1, TruncToInt32(2.5 * static_cast<double>(n) + l.height)};
  rc = HostBeginRectWrite(access, 0, 100, &range);
  if (rc == SUCCESS) rc = HostAdvanceProgress(access, TruncToInt32(0.5 * static_cast<double>(n)));
  if (rc != SUCCESS) return rc;
  HostFinishUpdate(copy.get());

  const TileClasses classes = ClassesOf(l);
  Permutations permutations;
  rc = MakePermutations(access, classes, job.seed, permutations);
  if (rc != SUCCESS) return rc;

  RowTable source;
  rc = ReadRectRows(access, RECT{0, 0, l.width, l.height}, source);
  if (rc != SUCCESS) return rc;
  TileMoves moves{l.columns, l.rows, {}};
  const bool shuffle = (job.flags & kShuffle) != 0;
  if (shuffle) {
    if (!moves.map.Allocate(static_cast<uint32_t>(n))) return ERROR_NO_MEMORY;
    for (uint32_t i = 0; i < n; ++i) moves.map[i] = i;
    rc = MakeMoves(access, l, classes, permutations, moves);
    if (rc != SUCCESS) return rc;
  }
  const int32_t step = access.PixelStep();
  return WriteTileRows(bitmap, l, copy, access, source, (job.flags & kTileBorders) != 0,
                       job.borderColor, [&](auto* const* rows, int32_t y, auto* row) {
                         if (shuffle) ComposeRow(rows, y, l, classes, moves, step, row);
                       });
}

int32_t PuzzleDriver(BitmapRecord* bitmap, const PuzzleJob& args) {
  {
    AccessOwner probe;  // the working format, as the copy will have it
    const int32_t rc = probe.Open(bitmap, 2);
    if (rc != SUCCESS) return rc;
  }
  PuzzleJob job = args;
  TileLayout& l = job.layout;
  const bool countMode = (job.flags & kTileCount) != 0, fit = (job.flags & kTileFit) != 0;
  const uint32_t tileX = l.tileWidth, tileY = l.tileHeight;
  TileCopy copy;
  if (!copy.Allocate()) return ERROR_NO_MEMORY;
  if (fit) {
    FitAxis(countMode, tileX, l.width, l.tileWidth, l.columns);
    FitAxis(countMode, tileY, l.height, l.tileHeight, l.rows);
  } else if (countMode) {
    l.columns = tileX;
    l.rows = tileY;
    l.tileWidth = static_cast<uint32_t>(l.width) / l.columns;
    l.tileHeight = static_cast<uint32_t>(l.height) / l.rows;
    l.columns += static_cast<uint32_t>(l.width) % l.columns != 0;
    l.rows += static_cast<uint32_t>(l.height) % l.rows != 0;
  } else {
    l.columns = (static_cast<uint32_t>(l.width) + tileX - 1) / tileX;
    l.rows = (static_cast<uint32_t>(l.height) + tileY - 1) / tileY;
  }
  int32_t rc = MakeTileCopy(bitmap, l, fit, copy);
  if (rc != SUCCESS) return rc;
  rc = MainPass(bitmap, job, copy);
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

constexpr FxFlagValue kShuffleValues[] = {{"none", 0, "tiles keep their places"},
                                          {"shuffle", kShuffle, "tiles change places at random"}};
constexpr FxFlagValue kFitValues[] = {
    {"none", 0, "keep the size; partial tiles at the right and bottom"},
    {"fit", kTileFit, "resize first so that whole tiles fit"}};
constexpr FxFlagField kPuzzleFields[] = {
    FlagField("borders", kTileBorders, kTileBorderValues, "tile borders"),
    FlagField("shuffle", kShuffle, kShuffleValues, "shuffle the tiles"),
    FlagField("tiles", kTileSize | kTileCount, kTileModeValues, "meaning of tileX and tileY"),
    FlagField("fit", kTileFit, kFitValues,
              "resize the rectangle (the whole bitmap without a region) to whole tiles"),
};

const FxParamDesc kPuzzleParams[] = {
    TileXParam(6),
    TileYParam(4),
    UIntParam("seed", 1, 0, 500, "seed of the shuffle; 0 seeds from the tick count"),
    FlagsParam("flags", 0x23, 0x10, 0x123,
               "0x01 borders, 0x02 shuffle, 0x10 size or 0x20 count (exactly one), 0x100 resize "
               "so that whole tiles fit",
               kPuzzleFields),
    BorderColorParam(),
};

const FxPreset kPuzzlePresets[] = {
    {"shuffled-borders",
     "tileX=8 tileY=6 tiles=count borders=draw shuffle=shuffle borderColor=white seed=11"},
    {"fitted-squares",
     "tileX=12%s tileY=12%s tiles=size fit=fit borders=draw shuffle=shuffle "
     "seed=3"},
    {"grid-only", "tileX=10 tileY=8 tiles=count borders=draw shuffle=none borderColor=#202020"},
};

}  // namespace

extern const FxEffectDesc kPuzzleEffect = {
    "puzzle-effect",
    "Fx_PuzzleEffectBitmap",
    FX_FAMILY_ARTISTIC,
    "Cuts the image into tiles, shuffles them at random and draws tile borders",
    kPuzzleParams,
    CountOf(kPuzzleParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_PuzzleEffectBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]), ArgU32(v[3]),
                                   ArgU32(v[4]));
    },
    kPuzzlePresets,
    CountOf(kPuzzlePresets),
    FX_TRAIT_RANDOM | FX_TRAIT_CLOCK | FX_TRAIT_WHOLE_IMAGE | FX_TRAIT_RESIZES | FX_TRAIT_PROGRESS |
        FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_PuzzleEffectBitmap(BitmapRecord* bitmap, uint32_t tileX, uint32_t tileY, uint32_t seed,
                              uint32_t flags, uint32_t borderColor) {
  using namespace fx;
  const int32_t rc = CheckBitmap(bitmap, /*testAllocated=*/false);
  if (rc != SUCCESS) return rc;
  OrientationGuard orientation(bitmap);
  RECT rect{};
  HostGetRegionBounds(bitmap, nullptr, &rect);
  const int64_t width = int64_t{rect.right} - rect.left, height = int64_t{rect.bottom} - rect.top;
  const uint32_t mode = flags & (kTileSize | kTileCount);
  if (tileX < 1 || tileX > width || tileY < 1 || tileY > height || seed > 500 ||
      (mode != kTileSize && mode != kTileCount) || flags > 0x123)
    return ERROR_INV_PARAMETER;
  PuzzleJob job{};
  job.layout.rect = rect;
  job.layout.width = static_cast<int32_t>(width);
  job.layout.height = static_cast<int32_t>(height);
  job.layout.tileWidth = tileX;
  job.layout.tileHeight = tileY;
  job.seed = seed;
  job.flags = flags;
  job.borderColor = borderColor;
  return PuzzleDriver(bitmap, job);
}
