// Intelligent down-scale and up-scale: content-aware resizing by seam carving. A seam is an
// 8-connected path of one pixel per row whose summed energy is least; the down-scale removes
// seams, the up-scale doubles them, so flat areas give way or grow while edges keep their shape.
// An optional mask marks pixels to remove first (energy 0) or to keep (energy 255). The height
// is handled on the bitmap turned a quarter turn.
//
// Extreme inputs and open points, as decided here:
// - The visible size is Width x Height: host records already describe the picture as seen in
//   their orientation. Sizes below 1 become 1 (with a mask a width below 1 means 0: remove the
//   marked pixels).
// - A reduction by fewer than 5 columns removes exactly that many seams. No pass searches more
//   seams than leave one column (removal of marked pixels: at most W - 3, so the trim to
//   W - S - 2 keeps a column); an up-scale pass doubles at most every column once. No result
//   has black columns.
// - When no bottom-row cost is at or below the ceiling, the cheapest bottom-row columns are the
//   candidates (the seam then runs straight up where every predecessor is at the ceiling). A
//   one-row bitmap's only row is its bottom row.
// - Every row of the bitmap takes part. With a region the down-scale writes back through it
//   (pixels outside keep their values, then the trim); the up-scale's new bitmap has no region.
// - Passes read and write the bitmap as seen in its orientation (the host's rows are the
//   picture's rows), so only the up-scale's new bitmap is re-laid for the caller's orientation;
//   the mask is read the same way and never changed. A mask pixel compares as 8-bit blue,
//   green, red whatever its depth (16-bit samples by their high byte, gray as b = g = r); a mask
//   smaller than the bitmap marks only where it overlaps.
// - Rotation results are examined, and a height pass that fails turns the bitmap back first.
//   A bitmap converted to 24 bits for the passes is converted back to its own depth and order
//   on every exit, failures and cancels included.
// - Up-scale height-first with a step count below 1 uses 1.
// - Whole-image host operations and the write-back run with the status callback paused, so the
//   caller sees only the seam progress and a cancel never leaves half-written rows.
#include "Common/IntelligentRescale.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"
#include "host/runtime/Runtime.h"

namespace fx {

// Seam carver -----------------------------------------------------------------------------------
//
// The cost pass defines, for compacted columns k of row y >= 1 in a row of w pixels,
//   M(y, k) = E(y, k) + min(ceiling, left, up, right)
// with left/up/right read from row y - 1 at k - 1, k, k + 1 and the border forms of the first
// and last column. Removing the seam s (s_y in row y, |s_y - s_{y-1}| <= 1) shifts every column
// k >= s_y of row y one place left: the new row holds old cell sigma_y(k) = k + [k >= s_y].
//
// Claim: the new cost at (y, k) equals the old cost at (y, sigma_y(k)) unless k lies in
//   W_y = [min(s_y, s_{y-1} - 1), max(s_y - 1, s_{y-1})]  or within 1 of a column D_{y-1} of
// row y - 1 whose new cost differs from its shifted old cost.
// Proof: the energy moves with its cell, E'(y, k) = E(y, sigma_y(k)). For k < s_y with
// k + 1 < s_{y-1}, and for k >= s_y with k - 1 >= s_{y-1}, sigma_{y-1}(k + d) = sigma_y(k) + d
// for d = -1, 0, 1: the three predecessors are the same cells as before, and they hold the same
// costs when none of k - 1 .. k + 1 is in D_{y-1}. Those k are exactly the ones outside W_y. The
// border forms agree there too: new k = 0 outside W_y has sigma = 0, new k = w - 2 outside W_y
// has sigma = w - 1, and a one-column row (w = 2 before) always has k = 0 inside W_y. Row 0 has
// no predecessors, so D_0 is empty. By induction over the rows, recomputing W_y and the columns
// within 1 of D_{y-1} (one interval covering both) and recording where values changed gives the
// full pass's map exactly. The cost map is never read except through this rule and the
// backtracking, so every seam is the one the full recomputation would choose.

int32_t SeamCarver::Init(const uint8_t* energy, int32_t stride, int32_t width, int32_t height,
                         int32_t maxSeams) {
  if (width < 1 || height < 1 || maxSeams < 0 || maxSeams > width) return ERROR_INV_PARAMETER;
  stride_ = width;
  w_ = width;
  h_ = height;
  seams_ = 0;
  maxSeams_ = maxSeams;
  cells_.Reset(static_cast<int32_t*>(HostAllocMemory(
      static_cast<uint32_t>(height), static_cast<uint32_t>(width) * uint32_t{sizeof(int32_t)},
      __LINE__, __FILE__)));
  log_.Reset(static_cast<int32_t*>(
      HostAllocMemory(static_cast<uint32_t>(height),
                      static_cast<uint32_t>(std::max(maxSeams, 1)) * uint32_t{sizeof(int32_t)},
                      __LINE__, __FILE__)));
  if (!cells_ || !log_ || !offset_.AllocateCleared(static_cast<uint32_t>(height)) ||
      !seam_.AllocateCleared(static_cast<uint32_t>(height)))
    return ERROR_NO_MEMORY;
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* e = energy + int64_t{y} * stride;
    int32_t* row = Row(y);
    for (int32_t x = 0; x < width; ++x) row[x] = e[x] * 257;  // cost = energy in row 0
  }
  FullPass();
  return SUCCESS;
}

namespace {

// The cell of column k in a row of w cells after row `prev` (w >= 1): energy plus
// min(ceiling, left, up, right), the border forms keeping only the neighbours that exist. A
// minimum of packed cells carries the minimum cost.
inline int32_t CellAfter(const int32_t* prev, int32_t k, int32_t w, int32_t cell) {
  int32_t m;
  if (k == w - 1)  // tested after k == 0 in the original order, so a one-column row takes it
    m = k > 0 ? std::min(prev[k - 1], prev[k]) : prev[0];
  else if (k == 0)
    m = std::min(prev[0], prev[1]);
  else
    m = std::min(std::min(prev[k - 1], prev[k]), prev[k + 1]);
  const int32_t energy = cell & 0xFF;
  return (energy + std::min(m >> 8, SeamCarver::kCeiling)) * 256 + energy;
}

// Interior columns 1 .. w - 2, four at a time: cell = (energy + min(m >> 8, ceiling)) * 256 +
// energy with m the least of the three cells above.
typedef int32_t Lanes __attribute__((vector_size(16)));
inline Lanes LoadLanes(const int32_t* p) {
  Lanes v;
  std::memcpy(&v, p, sizeof(v));
  return v;
}
inline Lanes MinLanes(Lanes a, Lanes b) {
  const Lanes less = a < b;
  return (a & less) | (b & ~less);
}

// Recomputes the cells of columns first .. last (0 <= first <= last < w) after row `prev`.
void RecomputeSpan(const int32_t* prev, int32_t* row, int32_t first, int32_t last, int32_t w) {
  int32_t k = first;
  if (k == 0) row[0] = CellAfter(prev, 0, w, row[0]), ++k;
  const int32_t inner = std::min(last, w - 2);
  const Lanes ceiling = {SeamCarver::kCeiling, SeamCarver::kCeiling, SeamCarver::kCeiling,
                         SeamCarver::kCeiling};
  for (; k + 3 <= inner; k += 4) {
    const Lanes m =
        MinLanes(MinLanes(LoadLanes(prev + k - 1), LoadLanes(prev + k)), LoadLanes(prev + k + 1)) >>
        8;
    const Lanes energy = LoadLanes(row + k) & 0xFF;
    const Lanes cell = ((energy + MinLanes(m, ceiling)) << 8) + energy;
    std::memcpy(row + k, &cell, sizeof(cell));
  }
  for (; k <= inner; ++k) {
    const int32_t m = std::min(std::min(prev[k - 1], prev[k]), prev[k + 1]) >> 8;
    const int32_t energy = row[k] & 0xFF;
    row[k] = (energy + std::min(m, SeamCarver::kCeiling)) * 256 + energy;
  }
  for (; k <= last; ++k) row[k] = CellAfter(prev, k, w, row[k]);
}

}  // namespace

void SeamCarver::FullPass() {
  for (int32_t y = 1; y < h_; ++y) RecomputeSpan(Row(y - 1), Row(y), 0, w_ - 1, w_);
}

void SeamCarver::FindSeam() {
  const int32_t w = w_;
  const int32_t* bottom = Row(h_ - 1);
  int32_t cheapest = INT32_MAX;
  for (int32_t k = 0; k < w; ++k) cheapest = std::min(cheapest, bottom[k] >> 8);
  // The columns of least cost: that cost is at or below the ceiling, or, when every cost is
  // beyond it, the cheapest columns compete all the same.
  const int32_t least = cheapest;
  int32_t n = 0;
  for (int32_t k = 0; k < w; ++k) n += (bottom[k] >> 8) == least;
  fxrt::srand(static_cast<uint32_t>(fxrt::_time64(nullptr)));
  int32_t pick = fxrt::rand() % n;
  int32_t c = 0;
  for (int32_t k = 0; k < w; ++k)
    if ((bottom[k] >> 8) == least && pick-- == 0) {
      c = k;
      break;
    }
  int32_t* seam = seam_.get();
  seam[h_ - 1] = c;
  for (int32_t y = h_ - 1; y > 0; --y) {
    const int32_t* prev = Row(y - 1);
    int32_t left, up, right;
    if (c == w - 1) {
      left = prev[c > 0 ? c - 1 : 0] >> 8;
      up = prev[c] >> 8;
      right = kMissing;
    } else if (c == 0) {
      left = kMissing;
      up = prev[0] >> 8;
      right = prev[1] >> 8;
    } else {
      left = prev[c - 1] >> 8;
      up = prev[c] >> 8;
      right = prev[c + 1] >> 8;
    }
    int32_t best = kCeiling, next = c;
    if (left < best) next = c > 0 ? c - 1 : 0, best = left;
    if (up < best) next = c, best = up;
    if (right < best) next = c + 1;
    seam[y - 1] = c = next;
  }
}

void SeamCarver::RemoveSeam(bool updateCosts) {
  const int32_t w = w_, nw = w - 1;
  const int32_t* seam = seam_.get();
  int32_t changedLo = 1, changedHi = 0;  // D of the row above, empty
  for (int32_t y = 0; y < h_; ++y) {
    int32_t* row = Row(y);
    const int32_t s = seam[y];
    log_[int64_t{y} * maxSeams_ + seams_] = s;
    // Close the gap from the shorter side; the row's start moves when the left part moves.
    if (s < nw - s) {
      std::memmove(row + 1, row, static_cast<size_t>(s) * sizeof(int32_t));
      ++offset_[y];
      ++row;
    } else {
      std::memmove(row + s, row + s + 1, static_cast<size_t>(nw - s) * sizeof(int32_t));
    }
    if (!updateCosts || !incremental_ || y == 0 || nw == 0) continue;
    const int32_t above = seam[y - 1];
    int32_t lo = std::min(s, above - 1), hi = std::max(s - 1, above);
    if (changedLo <= changedHi) {
      lo = std::min(lo, changedLo - 1);
      hi = std::max(hi, changedHi + 1);
    }
    lo = std::max(lo, 0);
    hi = std::min(hi, nw - 1);
    const int32_t* prev = Row(y - 1);
    // The changed columns lie between the first and the last that change; the span between them
    // is recomputed whole (columns in it that keep their value are rewritten unchanged).
    int32_t first = lo, last = hi;
    while (first <= hi && CellAfter(prev, first, nw, row[first]) == row[first]) ++first;
    if (first > hi) {
      changedLo = 1, changedHi = 0;
      continue;
    }
    while (CellAfter(prev, last, nw, row[last]) == row[last]) --last;
    changedLo = first, changedHi = last;
    RecomputeSpan(prev, row, first, last, nw);
  }
  w_ = nw;
  ++seams_;
  if (updateCosts && !incremental_ && nw > 0) FullPass();
}

int32_t SeamCarver::Columns(int32_t y, int32_t* removed, uint8_t* kept) {
  // A Fenwick tree over the start columns, 1 for each column still present: seam i removed the
  // (log + 1)-th present column of its time.
  const int32_t n = stride_;
  if (!tree_ && !tree_.Allocate(static_cast<uint32_t>(n) + 1)) return ERROR_NO_MEMORY;
  int32_t* t = tree_.get();
  for (int32_t i = 1; i <= n; ++i) t[i] = i & -i;
  int32_t top = 1;
  while (top * 2 <= n) top *= 2;
  if (kept) std::memset(kept, 1, static_cast<size_t>(n));
  const int32_t* log = log_.get() + int64_t{y} * maxSeams_;
  for (int32_t i = 0; i < seams_; ++i) {
    int32_t rank = log[i] + 1, pos = 0;
    for (int32_t bit = top; bit; bit >>= 1)
      if (pos + bit <= n && t[pos + bit] < rank) pos += bit, rank -= t[pos];
    for (int32_t j = pos + 1; j <= n; j += j & -j) --t[j];  // column pos leaves
    if (removed) removed[i] = pos;
    if (kept) kept[pos] = 0;
  }
  return SUCCESS;
}

namespace {

// Passes -----------------------------------------------------------------------------------------

constexpr uint32_t kUnusedColour = 0xFFFFFFFF;

struct MaskColour {
  bool used;
  uint32_t bgr;  // blue << 16 | green << 8 | red, as a COLORREF
};
MaskColour UnpackColour(uint32_t c) {
  return {c != kUnusedColour, c & 0xFFFFFF};
}

// The checks made when a bitmap is opened for a pass.
int32_t CheckForPass(const BitmapRecord* b) {
  if (!b || !(b->Flags & FLAG_ALLOCATED)) return ERROR_INV_PARAMETER;
  if (b->Order == ORDER_GRAY && b->BitsPerPixel == 32) return ERROR_UNSUPPORTED_ORDER;
  return SUCCESS;
}

// A bitmap the pass makes, freed on every path (a no-op once handed over).
struct TempBitmap {
  BitmapRecord record{};
  ~TempBitmap() { HostFreeBitmap(&record); }
};

// Blue, green, red of mask pixel x as a COLORREF of 8-bit values.
inline uint32_t MaskPixel(const uint8_t* row, int32_t bits, int32_t step, int32_t x) {
  uint32_t s[3];
  for (int32_t k = 0; k < 3; ++k) {
    const int64_t i = int64_t{x} * step + (step == 1 ? 0 : k);
    s[k] = bits == 16 ? reinterpret_cast<const uint16_t*>(row)[i] >> 8 : row[i];
  }
  return s[2] | s[1] << 8 | s[0] << 16;
}

// What every pass reads up front: the bitmap's format and its energy image. The bitmap's own rows
// are read once each, when its row is written back (nothing is written before).
class PassInput {
 public:
  int32_t width = 0, height = 0, rowBytes = 0, pixelBytes = 0;
  int32_t maskCount = 0;      // the most removeColor pixels in one row
  HostBlock<uint8_t> energy;  // height rows of width bytes

  // Opens mask and bitmap and reads everything, as seen in the bitmap's orientation.
  int32_t Read(BitmapRecord* bitmap, BitmapRecord* mask, uint32_t removeColor, uint32_t keepColor,
               AccessOwner& access, bool prepareWrite) {
    int32_t rc = mask ? CheckForPass(mask) : SUCCESS;
    if (rc == SUCCESS) rc = CheckForPass(bitmap);
    if (rc == SUCCESS) rc = access.Open(bitmap, 2);
    if (rc != SUCCESS) return rc;
    width = bitmap->Width;
    height = bitmap->Height;
    rowBytes = access.RowBytes();
    pixelBytes = rowBytes / width;
    if (prepareWrite) {
      rc = BeginWritePhase(access, bitmap);
      if (rc != SUCCESS) return rc;
    }
    rc = BuildEnergy(bitmap);
    if (rc == SUCCESS && mask) rc = ApplyMask(mask, removeColor, keepColor);
    return rc;
  }

 private:
  // Pre-filter, channel mix, gray levels and edge energy of a copy of the whole picture.
  int32_t BuildEnergy(BitmapRecord* bitmap) {
    CallbackPause pause;
    TempBitmap copy;
    int32_t rc = HostCopyBitmap(&copy.record, bitmap, BITMAP_STRUCT_SIZE);
    if (rc != SUCCESS) return rc;
    HostFreeRegion(&copy.record);  // the energy covers the whole picture
    BitmapRecord* c = &copy.record;
    if (HostIsGrayscale(bitmap)) {
      rc = HostGrayscaleBitmap(c, 8);
      if (rc == SUCCESS) rc = HostPreFilter(c, 50, 0, 0);
    } else {
      rc = HostPreFilter(c, 50, 0, 0);
      if (rc == SUCCESS) rc = HostChannelMix(c, 333, 333, 334);
      if (rc == SUCCESS) rc = HostGrayscaleBitmap(c, 8);
      if (rc == SUCCESS) rc = HostEnergyFilter(c, 135);
    }
    if (rc != SUCCESS) return rc;
    AccessOwner access;
    rc = access.Open(c, 2);
    if (rc != SUCCESS) return rc;
    if (access.RowBytes() != width || c->Height != height) return ERROR_HOST_BAD_FORMAT;
    energy.Reset(static_cast<uint8_t*>(HostAllocMemory(
        static_cast<uint32_t>(height), static_cast<uint32_t>(width), __LINE__, __FILE__)));
    if (!energy) return ERROR_NO_MEMORY;
    for (int32_t y = 0; y < height; ++y) {
      rc = HostReadRow(access, energy.get() + int64_t{y} * width, y, 0, nullptr);
      if (rc != SUCCESS) return rc;
    }
    return SUCCESS;
  }

  int32_t ApplyMask(BitmapRecord* mask, uint32_t removeColor, uint32_t keepColor) {
    const MaskColour remove = UnpackColour(removeColor), keep = UnpackColour(keepColor);
    AccessOwner access;
    int32_t rc = access.Open(mask, 2);
    if (rc != SUCCESS) return rc;
    HostBlock<uint8_t> row;
    if (!access.AllocRowBuffer(row)) return ERROR_NO_MEMORY;
    const int32_t bits = access.SampleBits(), step = access.PixelStep();
    const int32_t rows = std::min(height, mask->Height), columns = std::min(width, mask->Width);
    for (int32_t y = 0; y < rows; ++y) {
      rc = HostReadRow(access, row.get(), y, 0, nullptr);
      if (rc != SUCCESS) return rc;
      uint8_t* e = energy.get() + int64_t{y} * width;
      int32_t count = 0;
      for (int32_t x = 0; x < columns; ++x) {
        const uint32_t c = MaskPixel(row.get(), bits, step, x);
        if (remove.used && c == remove.bgr) e[x] = 0, ++count;
        if (keep.used && c == keep.bgr) e[x] = 255;
      }
      maskCount = std::max(maskCount, count);
    }
    return SUCCESS;
  }
};

// Copies pixel `from` of src to pixel `to` of dst, pixels of kBytes bytes.
template <int kBytes>
inline void MovePixel(uint8_t* dst, int32_t to, const uint8_t* src, int32_t from) {
  std::memcpy(dst + int64_t{to} * kBytes, src + int64_t{from} * kBytes, kBytes);
}

// Calls f(std::integral_constant<int, bytes>) for the pixel sizes of working rows.
template <class F>
void WithPixelBytes(int32_t bytes, F&& f) {
  switch (bytes) {
    case 1:
      return f(std::integral_constant<int, 1>{});
    case 2:
      return f(std::integral_constant<int, 2>{});
    case 3:
      return f(std::integral_constant<int, 3>{});
    case 4:
      return f(std::integral_constant<int, 4>{});
    case 6:
      return f(std::integral_constant<int, 6>{});
    default:
      return f(std::integral_constant<int, 8>{});
  }
}

// Progress of the down-scale after seam s of S: p-th hundredth reached, or (s + 1) x (100 / S).
class RemovalProgress {
 public:
  explicit RemovalProgress(int32_t seams) : seams_(seams), step_(float(seams) / 100.0f) {}
  int32_t After(HostProgressContext* context, int32_t s) {
    if (seams_ > 100) {
      if (std::floor(step_ * float(p_)) != float(s)) return SUCCESS;
      return HostProgressReport(context, p_++);
    }
    return HostProgressReport(context, int32_t(float(s + 1) * (100.0f / float(seams_))));
  }

 private:
  int32_t seams_;
  float step_;
  int32_t p_ = 1;
};

// Progress of an up-scale pass i of n after seam s of S.
class InsertionProgress {
 public:
  InsertionProgress(int32_t seams, int32_t index, int32_t count)
      : seams_(seams),
        index_(index),
        share_(100 / std::max(count, 1)),
        step_(float(seams) / 100.0f) {}
  int32_t After(HostProgressContext* context, int32_t s) {
    if (seams_ > 100) {
      if (std::floor(step_ * float(p_)) != float(s)) return SUCCESS;
      return HostProgressReport(context, p_++);
    }
    return HostProgressReport(
        context, int32_t(float(share_) * float(index_ + 1) * float(s + 1) / float(seams_)));
  }

 private:
  int32_t seams_, index_, share_;
  float step_;
  int32_t p_ = 0;
};

// Seams removed and the width kept by a down-scale pass from w columns to target t (t < w).
void PlanRemoval(int32_t w, int32_t t, int32_t maskCount, int32_t* seams, int32_t* kept) {
  *seams = 0;
  *kept = w;
  if (t == 0) {  // the marked pixels go
    const int32_t s = std::min(maskCount, w - 3);
    if (s > 0) *seams = s, *kept = w - s - 2;
  } else if (w - t >= 5) {
    *seams = w - t - 3;  // |t + 5 - w| + 2; the trim cuts the 3 right-most remaining columns
    *kept = t;
  } else {
    *seams = w - t;
    *kept = t;
  }
}

int32_t RemovalPass(BitmapRecord* bitmap, BitmapRecord* mask, uint32_t removeColor,
                    uint32_t keepColor, int32_t target) {
  AccessOwner access;
  PassInput in;
  int32_t rc = in.Read(bitmap, mask, removeColor, keepColor, access, true);
  if (rc != SUCCESS) return rc;
  int32_t seams, kept;
  PlanRemoval(in.width, target, in.maskCount, &seams, &kept);
  if (seams == 0 && kept == in.width) return SUCCESS;
  SeamCarver carver;
  rc = carver.Init(in.energy.get(), in.width, in.width, in.height, seams);
  if (rc != SUCCESS) return rc;
  in.energy.Reset();
  HostProgressContext progress{};
  rc = HostProgressBegin(&progress);
  if (rc != SUCCESS) return rc;
  RemovalProgress schedule(seams);
  for (int32_t s = 0; s < seams; ++s) {
    carver.FindSeam();
    carver.RemoveSeam(s + 1 < seams);
    rc = schedule.After(&progress, s);
    if (rc != SUCCESS) return rc;
  }
  HostProgressReport(&progress, 100);

  {
    CallbackPause pause;
    HostBlock<uint8_t> source, out, present;
    if (!source.Allocate(static_cast<uint32_t>(in.rowBytes)) ||
        !out.Allocate(static_cast<uint32_t>(in.rowBytes)) ||
        !present.Allocate(static_cast<uint32_t>(in.width)))
      return ERROR_NO_MEMORY;
    const int32_t w = carver.width();
    for (int32_t y = 0; y < in.height; ++y) {
      rc = carver.Columns(y, nullptr, present.get());
      if (rc == SUCCESS) rc = HostReadRow(access, source.get(), y, 0, nullptr);
      if (rc != SUCCESS) return rc;
      const uint8_t* src = source.get();
      WithPixelBytes(in.pixelBytes, [&](auto bytes) {
        int32_t k = 0;
        for (int32_t x = 0; x < in.width; ++x)
          if (present[x]) MovePixel<bytes>(out.get(), k++, src, x);
      });
      std::memset(out.get() + int64_t{w} * in.pixelBytes, 0,
                  static_cast<size_t>(in.rowBytes - int64_t{w} * in.pixelBytes));
      rc = HostWriteRow(access, out.get(), y, 0, 0);
      if (rc != SUCCESS) return rc;
    }
  }
  access.Close();
  CallbackPause pause;
  return HostTrimBitmap(bitmap, 0, 0, kept, bitmap->Height);
}

int32_t InsertionPass(BitmapRecord* bitmap, BitmapRecord* mask, uint32_t removeColor,
                      uint32_t keepColor, int32_t target, int32_t index, int32_t count,
                      HostProgressContext* progress) {
  const uint8_t orientation = bitmap->Orientation;
  AccessOwner access;
  PassInput in;
  int32_t rc = in.Read(bitmap, mask, removeColor, keepColor, access, false);
  if (rc != SUCCESS) return rc;
  // |t + 5 - W + 2| seams, no more than one per column.
  const int32_t seams = static_cast<int32_t>(
      std::min<int64_t>(std::abs(int64_t{target} + 5 - in.width + 2), in.width));
  SeamCarver carver;
  rc = carver.Init(in.energy.get(), in.width, in.width, in.height, seams);
  if (rc != SUCCESS) return rc;
  in.energy.Reset();
  InsertionProgress schedule(seams, index, count);
  for (int32_t s = 0; s < seams; ++s) {
    carver.FindSeam();
    carver.RemoveSeam(s + 1 < seams);
    rc = schedule.After(progress, s);
    if (rc != SUCCESS) return rc;
  }

  // Every seam pixel written twice, into a new bitmap of W + S columns.
  const int32_t wide = in.width + seams;
  TempBitmap fresh;
  // Order 1 and an empty colour table for the 24-bit bitmaps the passes work on; a bitmap the
  // conversion could not change keeps its gray order or its palette.
  const bool gray = bitmap->Order == ORDER_GRAY;
  const uint32_t entries = gray ? 0 : HostPaletteSize(bitmap->BitsPerPixel);
  const COLORREF* table = entries && bitmap->PaletteCount >= entries ? bitmap->Palette : nullptr;
  rc = HostCreateBitmap(&fresh.record, BITMAP_STRUCT_SIZE, 1, wide, in.height, bitmap->BitsPerPixel,
                        gray ? ORDER_GRAY : ORDER_RGB, table, 1, nullptr, 0);
  if (rc != SUCCESS) return rc;
  {
    CallbackPause pause;
    AccessOwner out;
    rc = out.Open(&fresh.record, 2);
    if (rc != SUCCESS) return rc;
    if (out.RowBytes() != int64_t{wide} * in.pixelBytes) return ERROR_HOST_BAD_FORMAT;
    rc = HostBeginWrite(out);
    if (rc != SUCCESS) return rc;
    HostBlock<uint8_t> source, row, present;
    if (!source.Allocate(static_cast<uint32_t>(in.rowBytes)) ||
        !row.Allocate(static_cast<uint32_t>(out.RowBytes())) ||
        !present.Allocate(static_cast<uint32_t>(in.width)))
      return ERROR_NO_MEMORY;
    for (int32_t y = 0; y < in.height; ++y) {
      rc = carver.Columns(y, nullptr, present.get());  // 0: on a seam
      if (rc == SUCCESS) rc = HostReadRow(access, source.get(), y, 0, nullptr);
      if (rc != SUCCESS) return rc;
      const uint8_t* src = source.get();
      WithPixelBytes(in.pixelBytes, [&](auto bytes) {
        int32_t k = 0;
        for (int32_t x = 0; x < in.width; ++x) {
          MovePixel<bytes>(row.get(), k++, src, x);
          if (!present[x]) MovePixel<bytes>(row.get(), k++, src, x);
        }
      });
      rc = HostWriteRow(out, row.get(), y, 0, 0);
      if (rc != SUCCESS) return rc;
    }
    out.Close();
    // The new bitmap is seen in the orientation the caller's had.
    rc = HostChangeOrientation(&fresh.record, &fresh.record, BITMAP_STRUCT_SIZE, orientation);
    if (rc != SUCCESS) return rc;
  }
  access.Close();
  if (bitmap->Flags & FLAG_ALLOCATED) HostFreeBitmap(bitmap);
  rc = HostAssignBitmap(bitmap, &fresh.record, BITMAP_STRUCT_SIZE);
  if (rc != SUCCESS) return rc;
  CallbackPause pause;
  return HostTrimBitmap(bitmap, 0, 0, target, bitmap->Height);
}

// Exports ----------------------------------------------------------------------------------------

// Steps 2 and 3 of both exports: the bitmap and mask records.
int32_t CheckRecords(const BitmapRecord* bitmap, const BitmapRecord* mask) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (bitmap->StructSize != BITMAP_STRUCT_SIZE && bitmap->StructSize != BITMAP_STRUCT_SIZE_OLD)
    return ERROR_INV_STRUCT_SIZE;
  if (!mask) return SUCCESS;
  if (mask->StructSize != BITMAP_STRUCT_SIZE && mask->StructSize != BITMAP_STRUCT_SIZE_OLD)
    return ERROR_INV_STRUCT_SIZE;
  if ((mask->Flags & FLAG_ALLOCATED) &&
      (mask->Width != bitmap->Width || mask->Height != bitmap->Height))
    return ERROR_POINT_OUT_OF_RANGE;
  return SUCCESS;
}

// Converts the bitmap to 24 bits for the passes unless it is 24-bit order 1, and back to its
// own depth and order when the call ends, on failure and cancel too, so the caller never gets
// a bitmap in another format than it gave. A failed conversion leaves the bitmap as it was; the
// passes work on any working format, and since an up-scale pass makes its new bitmap in order 1,
// the format is compared at the end rather than remembered as converted or not.
class WorkingFormat {
 public:
  explicit WorkingFormat(BitmapRecord* b) : bitmap_(b), bits_(b->BitsPerPixel), order_(b->Order) {
    if (bits_ == 24 && order_ == ORDER_RGB) return;
    CallbackPause pause;
    HostConvertBitmap(b, b, BITMAP_STRUCT_SIZE, 24, ORDER_BGR, nullptr, 0, 0, 0, 0);
  }
  ~WorkingFormat() { Restore(); }
  WorkingFormat(const WorkingFormat&) = delete;
  WorkingFormat& operator=(const WorkingFormat&) = delete;

  // Converts back now when the format differs; the result of that conversion.
  int32_t Restore() {
    if (done_) return SUCCESS;
    done_ = true;
    if (bitmap_->BitsPerPixel == bits_ && bitmap_->Order == order_) return SUCCESS;
    CallbackPause pause;
    return HostConvertBitmap(bitmap_, bitmap_, BITMAP_STRUCT_SIZE, bits_, order_, nullptr, 0, 0,
                             0, 0);
  }

 private:
  BitmapRecord* bitmap_;
  int32_t bits_;
  uint32_t order_;
  bool done_ = false;
};

// A quarter turn, the work on the turned bitmap, and the turn back, also when the work fails.
template <class Work>
int32_t OnTurnedBitmap(BitmapRecord* bitmap, Work&& work) {
  int32_t rc;
  {
    CallbackPause pause;
    rc = HostRotateBitmap(bitmap, 9000, 1, 0);
  }
  if (rc != SUCCESS) return rc;
  rc = work();
  CallbackPause pause;
  const int32_t back = HostRotateBitmap(bitmap, -9000, 1, 0);
  return rc != SUCCESS ? rc : back;
}

// Passes of the up-scale for one axis: from `size` to `goal` in steps of at most size / steps.
template <class Pass>
int32_t GrowAxis(int32_t size, int32_t goal, int32_t steps, bool split, Pass&& pass) {
  int32_t current = size, n = 0, d = goal - size;
  if (goal - size > size / steps) {
    d = std::max(size / steps, 1);
    n = (goal - size) / d;
  }
  for (int32_t i = 0; i < n; ++i) {
    const int32_t rc = pass(current + d, split ? i : 0, split ? n : 1);
    if (rc != SUCCESS) return rc;
    current += d;
  }
  return current != goal ? pass(goal, 0, 1) : SUCCESS;
}

const FxParamDesc kDownScaleParams[] = {
    BitmapParam("maskBitmap", FX_DEFAULT_NULL,
                "optional mask of the same size; its pixels of removeColor go first, those of "
                "keepColor stay"),
    ColorParam("removeColor", kUnusedColour,
               "mask colour of the pixels to remove first; 0xFFFFFFFF: not used"),
    ColorParam("keepColor", kUnusedColour,
               "mask colour of the pixels to keep; 0xFFFFFFFF: not used"),
    SizeParam("newWidth", FX_DEFAULT_WIDTH_PERCENT, 75, kAnyInt32Min, kAnyInt32Max,
              "requested width; at most the width, below 1 is 1 (with a mask: remove the marked "
              "pixels, as does the full width)"),
    SizeParam("newHeight", FX_DEFAULT_HEIGHT_PERCENT, 100, kAnyInt32Min, kAnyInt32Max,
              "requested height; at most the height; ignored with a mask"),
    IntParam("order", 0, kAnyInt32Min, kAnyInt32Max,
             "0: width first, 1: height first; other values change nothing"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kDownScalePresets[] = {
    {"square", "newWidth=480 newHeight=480"},
    {"height-first", "newWidth=560 newHeight=360 order=1"},
};

const FxParamDesc kUpScaleParams[] = {
    BitmapParam("maskBitmap", FX_DEFAULT_NULL,
                "optional mask of the same size; its pixels of removeColor are doubled first, "
                "those of keepColor avoided"),
    ColorParam("removeColor", kUnusedColour,
               "mask colour of the pixels to double first; 0xFFFFFFFF: not used"),
    ColorParam("keepColor", kUnusedColour,
               "mask colour of the pixels to keep; 0xFFFFFFFF: not used"),
    SizeParam("newWidth", FX_DEFAULT_WIDTH_PERCENT, 125, kAnyInt32Min, kAnyInt32Max,
              "requested width, clamped to width .. 2 x width - 1"),
    IntParam("widthSteps", 1, 1, kAnyInt32Max,
             "passes a large width growth is split into (growth per pass at most width / steps)"),
    SizeParam("newHeight", FX_DEFAULT_HEIGHT_PERCENT, 100, kAnyInt32Min, kAnyInt32Max,
              "requested height, clamped to height .. 2 x height - 1; ignored with a mask"),
    IntParam("heightSteps", 1, 1, kAnyInt32Max, "the same as widthSteps for the height"),
    IntParam("order", 0, kAnyInt32Min, kAnyInt32Max,
             "0: width first, 1: height first; other values change nothing"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

// Sized for a full-HD picture; smaller ones clamp to just under twice their size.
const FxPreset kUpScalePresets[] = {
    {"wide-in-steps", "newWidth=2400 widthSteps=4"},
    {"both-axes", "newWidth=2400 newHeight=1350 heightSteps=2"},
};

constexpr uint32_t kRescaleTraits =
    FX_TRAIT_RESIZES | FX_TRAIT_CLOCK | FX_TRAIT_RANDOM | FX_TRAIT_PROGRESS | FX_TRAIT_WHOLE_IMAGE;

}  // namespace

extern const FxEffectDesc kIntelligentDownScaleEffect = {
    "intelligent-down-scale",
    "Fx_IntelligentDownScaleBitmap",
    FX_FAMILY_RESCALING,
    "Narrows and lowers the image by removing its least visible seams",
    kDownScaleParams,
    CountOf(kDownScaleParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_IntelligentDownScaleBitmap(b, ArgPtr<BitmapRecord>(v[0]), ArgU32(v[1]),
                                           ArgU32(v[2]), ArgI32(v[3]), ArgI32(v[4]), ArgI32(v[5]),
                                           ArgU32(v[6]));
    },
    kDownScalePresets,
    CountOf(kDownScalePresets),
    kRescaleTraits | FX_TRAIT_MOVES_PIXELS | FX_TRAIT_SERIAL,
};

extern const FxEffectDesc kIntelligentUpScaleEffect = {
    "intelligent-up-scale",
    "Fx_IntelligentUpScaleBitmap",
    FX_FAMILY_RESCALING,
    "Widens and heightens the image by doubling its least visible seams",
    kUpScaleParams,
    CountOf(kUpScaleParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_IntelligentUpScaleBitmap(b, ArgPtr<BitmapRecord>(v[0]), ArgU32(v[1]), ArgU32(v[2]),
                                         ArgI32(v[3]), ArgI32(v[4]), ArgI32(v[5]), ArgI32(v[6]),
                                         ArgI32(v[7]), ArgU32(v[8]));
    },
    kUpScalePresets,
    CountOf(kUpScalePresets),
    kRescaleTraits | FX_TRAIT_MOVES_PIXELS | FX_TRAIT_SERIAL,
};

}  // namespace fx

int32_t Fx_IntelligentDownScaleBitmap(BitmapRecord* bitmap, BitmapRecord* maskBitmap,
                                      uint32_t removeColor, uint32_t keepColor, int32_t newWidth,
                                      int32_t newHeight, int32_t order, uint32_t flags) {
  if (flags != 0) return ERROR_INV_PARAMETER;
  int32_t rc = fx::CheckRecords(bitmap, maskBitmap);
  if (rc != SUCCESS) return rc;
  if (newWidth == bitmap->Width && newHeight == bitmap->Height) return SUCCESS;
  fx::WorkingFormat format(bitmap);
  newWidth = std::min(newWidth, bitmap->Width);
  newHeight = std::min(newHeight, bitmap->Height);
  if (newWidth < 1) newWidth = maskBitmap ? 0 : 1;
  if (newHeight < 1) newHeight = 1;
  if (maskBitmap) {
    newHeight = bitmap->Height;
    order = 0;
    if (newWidth == bitmap->Width) newWidth = 0;
  }
  auto width = [&] {
    return bitmap->Width > newWidth
               ? fx::RemovalPass(bitmap, maskBitmap, removeColor, keepColor, newWidth)
               : SUCCESS;
  };
  auto height = [&] {
    if (bitmap->Height <= newHeight) return SUCCESS;
    return fx::OnTurnedBitmap(bitmap, [&] {
      return fx::RemovalPass(bitmap, nullptr, removeColor, keepColor, newHeight);
    });
  };
  if (order == 0 || order == 1) {
    rc = order == 0 ? width() : height();
    if (rc != SUCCESS) return rc;
    rc = order == 0 ? height() : width();
    if (rc != SUCCESS) return rc;
  }
  return format.Restore();
}

int32_t Fx_IntelligentUpScaleBitmap(BitmapRecord* bitmap, BitmapRecord* maskBitmap,
                                    uint32_t removeColor, uint32_t keepColor, int32_t newWidth,
                                    int32_t widthSteps, int32_t newHeight, int32_t heightSteps,
                                    int32_t order, uint32_t flags) {
  if (flags != 0) return ERROR_INV_PARAMETER;
  int32_t rc = fx::CheckRecords(bitmap, maskBitmap);
  if (rc != SUCCESS) return rc;
  if (newWidth == bitmap->Width && newHeight == bitmap->Height) return SUCCESS;
  fx::WorkingFormat format(bitmap);
  const int32_t w = bitmap->Width, h = bitmap->Height;
  newWidth =
      static_cast<int32_t>(std::max<int64_t>(std::min<int64_t>(newWidth, 2 * int64_t{w} - 1), w));
  newHeight =
      static_cast<int32_t>(std::max<int64_t>(std::min<int64_t>(newHeight, 2 * int64_t{h} - 1), h));
  if (maskBitmap) {
    if (maskBitmap->Height != h && maskBitmap->Width != w &&
        maskBitmap->BitsPerPixel != bitmap->BitsPerPixel)
      return ERROR_INV_PARAMETER;
    widthSteps = heightSteps = 1;
    newHeight = h;
    order = 0;
  }
  if (order != 0 && order != 1) return format.Restore();
  if (order == 0 && (widthSteps < 1 || heightSteps < 1)) return ERROR_INV_PARAMETER;
  widthSteps = std::max(widthSteps, 1);
  heightSteps = std::max(heightSteps, 1);
  const bool split = order == 0;
  HostProgressContext progress{};
  auto widthPhase = [&] {
    if (bitmap->Width >= newWidth) return SUCCESS;
    auto pass = [&](int32_t target, int32_t index, int32_t count) {
      return fx::InsertionPass(bitmap, maskBitmap, removeColor, keepColor, target, index, count,
                               &progress);
    };
    if (maskBitmap) return pass(newWidth, 0, 1);
    return fx::GrowAxis(bitmap->Width, newWidth, widthSteps, split, pass);
  };
  auto heightPhase = [&] {
    if (bitmap->Height >= newHeight) return SUCCESS;
    return fx::OnTurnedBitmap(bitmap, [&] {
      return fx::GrowAxis(bitmap->Width, newHeight, heightSteps, split,
                          [&](int32_t target, int32_t index, int32_t count) {
                            return fx::InsertionPass(bitmap, nullptr, removeColor, keepColor,
                                                     target, index, count, &progress);
                          });
    });
  };
  rc = HostProgressBegin(&progress);
  if (rc != SUCCESS) return rc;
  rc = order == 0 ? widthPhase() : heightPhase();
  if (rc != SUCCESS) return rc;
  rc = HostProgressBegin(&progress);
  if (rc != SUCCESS) return rc;
  rc = order == 0 ? heightPhase() : widthPhase();
  if (rc != SUCCESS) return rc;
  return format.Restore();
}
