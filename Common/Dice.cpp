// Dice: cuts the rectangle into a grid of tiles and turns every tile at random like a thrown die:
// each tile is left alone, flipped, mirrored or turned by half a turn; square tiles can also turn
// by a quarter in either direction. The strips that whole tiles leave at the right and bottom are
// thrown as pieces of their own (flips and mirrors only). Optional two-pixel borders come from
// the puzzle's tile-grid painter; with the fit flag the rectangle is first resized so that whole
// tiles fit. The work happens on a working copy of the rectangle that is finally put back.
//
// The throws are drawn on the calling thread in the order the tiles are visited (full tiles row by
// row, the right strip top down, the bottom strip left to right) from the generator seeded with
// `seed` (the tick count when it is 0); every destination row then gathers its pixels from the
// unchanged source rows in parallel, which gives the pixels the tile-by-tile flips, mirrors and
// transposes give.
//
// Extreme inputs and open points:
// - `flags` with neither the size (0x10) nor the count (0x20) bit leaves no tile size:
//   ERROR_INV_PARAMETER. A grid of more than 2^32 - 1 full tiles answers ERROR_NO_MEMORY (the
//   table of throws cannot be held).
// - Tile borders on 16-bit gray data without bit 26 in the colour take the gray mix of the colour
//   scaled by 257; a fourth sample keeps its value.
// - Without a region and with the fit flag, the caller's bitmap takes the new size (and keeps it
//   when a later step fails).
#include <algorithm>
#include <cstring>

#include "Common/Puzzle.h"
#include "frame/RegistryDefs.h"
#include "frame/RowEngine.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

// How a piece turns: the die's face k = rand() mod 4 of the general pass (0 stays, 1 flip, 2
// mirror then flip, 3 mirror) or, for full square tiles, quarter turns for 1 and 3.
enum Turn : uint8_t { kStay, kFlip, kHalfTurn, kMirror, kQuarterMirror, kQuarterFlip };

Turn GeneralTurn(int32_t k) {
  constexpr Turn kTurns[4] = {kStay, kFlip, kHalfTurn, kMirror};
  return kTurns[k & 3];
}
Turn SquareTurn(int32_t k) {
  constexpr Turn kTurns[4] = {kStay, kQuarterMirror, kHalfTurn, kQuarterFlip};
  return kTurns[k & 3];
}

// A piece of the grid at (x, y), w x h, and its turn.
struct Piece {
  int32_t x, y, w, h;
  Turn turn;
};

// The throws: full tiles (fullColumns x fullRows, row by row), the right strip's pieces top down,
// the bottom strip's pieces left to right.
struct Throws {
  int32_t tw, th, rw, rh, fullColumns, fullRows;
  HostBlock<uint8_t> full;
  HostBlock<Piece> right, bottom;
  int32_t rightCount = 0;
};

int32_t Throw(const TileLayout& l, uint32_t seed, Throws& t) {
  t.tw = static_cast<int32_t>(l.tileWidth);
  t.th = static_cast<int32_t>(l.tileHeight);
  t.rw = l.width % t.tw;
  t.rh = l.height % t.th;
  t.fullColumns = (l.width - t.rw) / t.tw;
  t.fullRows = (l.height - t.rh) / t.th;
  const bool square = t.tw == t.th;
  const uint64_t full = uint64_t(t.fullColumns) * uint64_t(t.fullRows);
  const uint32_t rightPieces = t.rw != 0 ? static_cast<uint32_t>(l.height / t.th + 1) : 0;
  const uint32_t bottomPieces = t.rh != 0 ? static_cast<uint32_t>(t.fullColumns) : 0;
  if (full > UINT32_MAX || !t.full.Allocate(static_cast<uint32_t>(full)) ||
      !t.right.Allocate(rightPieces) || !t.bottom.Allocate(bottomPieces))
    return ERROR_NO_MEMORY;

  fxrt::srand(seed != 0 ? seed : fxrt::GetTickCount());
  for (uint64_t i = 0; i < full; ++i) {
    const int32_t k = fxrt::rand() % 4;
    t.full[i] = square ? SquareTurn(k) : GeneralTurn(k);
  }
  if (t.rw != 0) {
    for (int32_t y = 0; y < l.height;) {
      const int32_t k = fxrt::rand();
      const int32_t left = l.height - y;
      const int32_t h = left >= 2 * int64_t{t.th} || left == t.th ? t.th : left;
      t.right[t.rightCount++] = Piece{l.width - t.rw, y, t.rw, h, GeneralTurn(k % 4)};
      y += h;
    }
  }
  for (uint32_t c = 0; c < bottomPieces; ++c)
    t.bottom[c] = Piece{static_cast<int32_t>(c) * t.tw, l.height - t.rh, t.tw, t.rh,
                        GeneralTurn(fxrt::rand() % 4)};
  return SUCCESS;
}

// Row j of `piece` as its turn shows it, from the source rows into `out`.
template <class T>
void TurnPieceRow(T* const* source, const Piece& p, int32_t j, int32_t step, T* out) {
  const int64_t w = p.w, h = p.h;
  T* to = out + int64_t{p.x} * step;
  const auto put = [&](int64_t i, int64_t sx, int64_t sy) {
    const T* from = source[p.y + sy] + (p.x + sx) * step;
    std::memcpy(to + i * step, from, sizeof(T) * size_t(step));
  };
  switch (p.turn) {
    case kStay:
      return;
    case kFlip:
      std::memcpy(to, source[p.y + h - 1 - j] + int64_t{p.x} * step, sizeof(T) * size_t(w * step));
      return;
    case kHalfTurn:
      for (int64_t i = 0; i < w; ++i) put(i, w - 1 - i, h - 1 - j);
      return;
    case kMirror:
      for (int64_t i = 0; i < w; ++i) put(i, w - 1 - i, j);
      return;
    case kQuarterMirror:  // transpose, then mirror
      for (int64_t i = 0; i < w; ++i) put(i, j, w - 1 - i);
      return;
    case kQuarterFlip:  // transpose, then flip
      for (int64_t i = 0; i < w; ++i) put(i, h - 1 - j, i);
      return;
  }
}

template <class T>
void DiceRow(T* const* source, int32_t y, const TileLayout& l, const Throws& t, int32_t step,
             T* out) {
  if (y < l.height - t.rh) {
    const int32_t r = y / t.th, j = y - r * t.th;
    for (int32_t c = 0; c < t.fullColumns; ++c) {
      const Piece p{c * t.tw, r * t.th, t.tw, t.th,
                    static_cast<Turn>(t.full[size_t(r) * t.fullColumns + c])};
      TurnPieceRow(source, p, j, step, out);
    }
  } else {
    for (int32_t c = 0; c < t.fullColumns; ++c)
      TurnPieceRow(source, t.bottom[c], y - t.bottom[c].y, step, out);
  }
  if (t.rightCount > 0) {
    const Piece& p = t.right[std::min(y / t.th, t.rightCount - 1)];
    TurnPieceRow(source, p, y - p.y, step, out);
  }
}

struct DiceJob {
  TileLayout layout;
  uint32_t seed, flags;
  COLORREF borderColor;
};

int32_t ThrowPass(BitmapRecord* bitmap, const DiceJob& job, TileCopy& copy) {
  const TileLayout& l = job.layout;
  AccessOwner access;
  int32_t rc = access.Open(copy.get(), 2);
  if (rc != SUCCESS) return rc;
  const int32_t step = access.PixelStep();
  const RECT work{0, 0, l.width, l.height};
  rc = HostBeginRectWrite(access, 0, 100, &work);
  if (rc != SUCCESS) return rc;
  RowTable source;
  rc = ReadRectRows(access, work, source);
  if (rc != SUCCESS) return rc;

  Throws throws;
  rc = Throw(l, job.seed, throws);
  if (rc != SUCCESS) return rc;
  return WriteTileRows(bitmap, l, copy, access, source, (job.flags & kTileBorders) != 0,
                       job.borderColor, [&](auto* const* rows, int32_t y, auto* row) {
                         DiceRow(rows, y, l, throws, step, row);
                       });
}

int32_t DiceDriver(BitmapRecord* bitmap, const DiceJob& args) {
  DiceJob job = args;
  TileLayout& l = job.layout;
  const bool countMode = (job.flags & kTileCount) != 0, fit = (job.flags & kTileFit) != 0;
  const uint32_t tileX = l.tileWidth, tileY = l.tileHeight;
  TileCopy copy;
  if (!copy.Allocate()) return ERROR_NO_MEMORY;
  if (fit) {
    FitAxis(countMode, tileX, l.width, l.tileWidth, l.columns);
    FitAxis(countMode, tileY, l.height, l.tileHeight, l.rows);
  } else if (countMode) {
    l.tileWidth = static_cast<uint32_t>(l.width) / tileX;
    l.tileHeight = static_cast<uint32_t>(l.height) / tileY;
  }
  int32_t rc = MakeTileCopy(bitmap, l, fit, copy);
  if (rc != SUCCESS) return rc;
  rc = ThrowPass(bitmap, job, copy);
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

constexpr FxFlagValue kFitValues[] = {
    {"none", 0, "keep the size; the strips left at the right and bottom are thrown as pieces"},
    {"fit", kTileFit, "resize first so that whole tiles fit"}};
constexpr FxFlagField kDiceFields[] = {
    FlagField("borders", kTileBorders, kTileBorderValues, "tile borders"),
    FlagField("tiles", kTileSize | kTileCount, kTileModeValues, "meaning of tileX and tileY"),
    FlagField("fit", kTileFit, kFitValues,
              "resize the rectangle (the whole bitmap without a region) to whole tiles"),
};

const FxParamDesc kDiceParams[] = {
    TileXParam(5),
    TileYParam(4),
    UIntParam("seed", 1, 0, 500, "seed of the throws; 0 seeds from the tick count"),
    FlagsParam("flags", 0x21, 0x10, 289,
               "0x01 borders, 0x10 size or 0x20 count (exactly one), 0x100 resize so that whole "
               "tiles fit",
               kDiceFields),
    BorderColorParam(),
};

const FxPreset kDicePresets[] = {
    {"dice", "tileX=12%s tileY=12%s tiles=size borders=draw borderColor=white seed=5"},
    {"thrown-strips", "tileX=11%s tileY=7%s tiles=size borders=none seed=9"},
    {"fitted-count", "tileX=10 tileY=7 tiles=count fit=fit borders=draw seed=2"},
};

}  // namespace

extern const FxEffectDesc kDiceEffect = {
    "dice-effect",
    "Fx_DiceEffectBitmap",
    FX_FAMILY_ARTISTIC,
    "Turns every tile of a grid at random like a thrown die, with optional borders",
    kDiceParams,
    CountOf(kDiceParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_DiceEffectBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]), ArgU32(v[3]),
                                 ArgU32(v[4]));
    },
    kDicePresets,
    CountOf(kDicePresets),
    FX_TRAIT_RANDOM | FX_TRAIT_CLOCK | FX_TRAIT_WHOLE_IMAGE | FX_TRAIT_RESIZES |
        FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_DiceEffectBitmap(BitmapRecord* bitmap, uint32_t tileX, uint32_t tileY, uint32_t seed,
                            uint32_t flags, uint32_t borderColor) {
  using namespace fx;
  const int32_t rc = CheckBitmap(bitmap, /*testAllocated=*/false);
  if (rc != SUCCESS) return rc;
  OrientationGuard orientation(bitmap);
  RECT rect{};
  HostGetRegionBounds(bitmap, nullptr, &rect);
  const int64_t width = int64_t{rect.right} - rect.left, height = int64_t{rect.bottom} - rect.top;
  const uint32_t mode = flags & (kTileSize | kTileCount);
  if (mode == (kTileSize | kTileCount) || flags == 0 || flags >= 290 || tileX == 0 ||
      tileX > width || tileY == 0 || tileY > height || seed > 500)
    return ERROR_INV_PARAMETER;
  if (mode == 0) return ERROR_INV_PARAMETER;  // no tile size
  DiceJob job{};
  job.layout.rect = rect;
  job.layout.width = static_cast<int32_t>(width);
  job.layout.height = static_cast<int32_t>(height);
  job.layout.tileWidth = tileX;
  job.layout.tileHeight = tileY;
  job.seed = seed;
  job.flags = flags;
  job.borderColor = borderColor;
  return DiceDriver(bitmap, job);
}
