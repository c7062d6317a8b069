// The seam search shared by the content-aware down-scale and up-scale: a cumulative cost map over
// an 8-bit energy image, kept in compacted columns (the remaining pixels of each row, left to
// right) and brought up to date after every removed seam.
#pragma once

#include <cstdint>

#include "frame/Frame.h"

namespace fx {

class SeamCarver {
 public:
  static constexpr int32_t kCeiling = 1000000;  // cap of a predecessor's cost
  static constexpr int32_t kMissing = 2000000;  // a neighbour beyond the row's border

  // Allocates the tables for a width x height energy image (one byte per pixel, rows `stride`
  // bytes apart) and up to maxSeams seams, and runs the first cost pass. ERROR_NO_MEMORY when a
  // table cannot be had; ERROR_INV_PARAMETER for an empty image or maxSeams beyond the width.
  int32_t Init(const uint8_t* energy, int32_t stride, int32_t width, int32_t height,
               int32_t maxSeams);

  int32_t width() const { return w_; }  // remaining columns
  int32_t height() const { return h_; }
  int32_t seams() const { return seams_; }  // seams removed so far

  // Picks the next seam: the bottom-row columns of least cost (at or below the ceiling when any
  // is), one of them by srand(_time64) and rand, then the path up with ties to the left, then the
  // middle. seam()[y] is its compacted column in row y. Needs width() >= 1 and seams() <
  // maxSeams.
  void FindSeam();
  const int32_t* seam() const { return seam_.get(); }

  // Takes the seam's pixel out of every row. With updateCosts, the cost map is then what a full
  // pass over the remaining pixels gives: recomputed only where it can differ, or everywhere
  // when set_incremental(false).
  void RemoveSeam(bool updateCosts = true);
  void set_incremental(bool incremental) { incremental_ = incremental; }

  // Cost of compacted column k of row y.
  int32_t Cost(int32_t y, int32_t k) const { return Row(y)[k] >> 8; }

  // For row y: removed[i] = the column (in the image the search began with) that seam i took,
  // for every seam removed so far; kept[x] = 1 for the columns still there, else 0. Either may be
  // null. ERROR_NO_MEMORY when the working table cannot be had.
  int32_t Columns(int32_t y, int32_t* removed, uint8_t* kept);

 private:
  // A cell packs cost << 8 | energy: a cell compares as its cost, ties aside.
  int32_t* Row(int32_t y) const { return cells_.get() + int64_t{y} * stride_ + offset_[y]; }
  void FullPass();

  HostBlock<int32_t> cells_;  // h rows of `stride_` cells; row y's live cells start at offset_[y]
  HostBlock<int32_t> offset_;
  HostBlock<int32_t> seam_;  // the seam found last
  HostBlock<int32_t> log_;   // row y, seam i: compacted column log_[y * maxSeams + i]
  HostBlock<int32_t> tree_;  // order-statistic tree of Columns
  int32_t stride_ = 0, w_ = 0, h_ = 0, seams_ = 0, maxSeams_ = 0;
  bool incremental_ = true;
};

}  // namespace fx
