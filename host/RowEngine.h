// The parallel row engine, shared by the effects' frame and the host's own row operations. Row
// functions compute output rows on worker threads from read-only sources; the calling thread
// makes every host call (row reads, the writes in row order and with them the progress reports)
// in a schedule that does not depend on the number of threads, so pixels, fault points, progress
// values and cancel points are the same at any thread count.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <utility>

#include "host/Host.h"

namespace host {

// Threads used for work called on this thread: the value set with HostSetThreadCount, else
// FXKIT_THREADS, else the machine's cores; at least 1.
int32_t ThreadCount();

// Work of fewer pixels than this runs on the calling thread alone: starting workers costs more
// than it saves. Results never depend on it; tests lower it (per thread) to run small pictures
// on many threads.
int64_t ParallelMinPixels();
void SetParallelMinPixels(int64_t pixels);

// Output rows of a band whose source rows are read before its rows are computed: 64, fewer when
// a row of the band's buffers takes more than 1/64 of 16 MiB, at least 1.
inline constexpr int32_t kMaxBandRows = 64;
inline int32_t BandRows(int64_t bytesPerRow) {
  constexpr int64_t kBudget = int64_t{16} << 20;
  if (bytesPerRow <= 0 || bytesPerRow * kMaxBandRows <= kBudget) return kMaxBandRows;
  return bytesPerRow >= kBudget ? 1 : static_cast<int32_t>(kBudget / bytesPerRow);
}

// A band read in two steps: CheckReadRows makes the checks and fault points of
// HostReadRows(access, rows, first, count) and answers its result, moving no pixel; then
// MoveReadRow moves each row that passed, on any thread, where ReadsStoredRows holds (the view's
// rows are stored rows, which reads only look at). A row moved onto its own stored row (where
// reads and writes move the bytes as they are) is left as it is.
bool ReadsStoredRows(const RowAccess* access);
int32_t CheckReadRows(RowAccess* access, uint8_t* const* rows, int32_t first, int32_t count);
void MoveReadRow(const RowAccess* access, uint8_t* row, int32_t y);
// Where a read of view row y would be a plain copy of its stored row, that stored row (to be
// read in place of the copy, never written); else null.
const uint8_t* StoredRowToRead(const RowAccess* access, int32_t y);

// Reads of rows that are each used only by the row function that computes from them: Read makes
// a band read's checks and fault points and, where ReadsStoredRows holds, leaves the moves to
// Fetch on the computing threads; elsewhere Read is the whole HostReadRows and Fetch does nothing.
class DeferredRowReads {
 public:
  explicit DeferredRowReads(RowAccess* access) : access_(access), moves_(ReadsStoredRows(access)) {}
  // True where Read only checks and each row is moved (or located) later, on any thread.
  bool Defers() const { return moves_; }
  int32_t Read(uint8_t* const* rows, int32_t first, int32_t count) const {
    return moves_ ? CheckReadRows(access_, rows, first, count)
                  : HostReadRows(access_, rows, first, count);
  }
  void Fetch(uint8_t* row, int32_t y) const {
    if (moves_) MoveReadRow(access_, row, y);
  }
  // Where the pixels of row y are for a reader that only looks at them: the stored row itself
  // where the read would be a plain copy of it, else `row` (moved in here where Read left the
  // move, already filled by Read otherwise).
  const uint8_t* Locate(uint8_t* row, int32_t y) const {
    if (!moves_) return row;
    if (const uint8_t* stored = StoredRowToRead(access_, y)) return stored;
    MoveReadRow(access_, row, y);
    return row;
  }
  // Row y into `out`: moved straight in where Read left the move, else copied from `read`, the
  // row Read filled.
  void FetchInto(uint8_t* out, const uint8_t* read, int32_t y, size_t rowBytes) const {
    if (moves_)
      MoveReadRow(access_, out, y);
    else
      std::memcpy(out, read, rowBytes);
  }

 private:
  RowAccess* access_;
  bool moves_;
};

// Band reads and writes that leave some rows where they are: every check, fault point and
// progress step of HostReadRows and HostWriteRows, but the rows with keep[k] set are not moved
// (a null keep moves every row), and the caller leaves them unused. Leaving out the write of a
// row read unchanged leaves the bitmap as the write would only where RewritesExactly(access):
// the formats whose reads and writes move or swap whole samples. A palette's write picks the
// first entry of a colour, and 12-bit gray's read drops the top bits of its word.
bool RewritesExactly(const RowAccess* access);
int32_t ReadRowsKeeping(RowAccess* access, uint8_t* const* rows, int32_t first, int32_t count,
                        const uint8_t* keep);
int32_t WriteRowsKeeping(RowAccess* access, const uint8_t* const* rows, int32_t first,
                         int32_t count, const uint8_t* keep);

// Output rows of the row functions: one host block holding 2 x threads row slots (each a row of
// rowBytes and scratchBytes of scratch, both 64-byte aligned) and one discard row for the reads
// that only keep the host schedule. One allocation whatever the thread count, so the fault
// points do not depend on it.
class RowSlots {
 public:
  RowSlots() = default;
  ~RowSlots();
  RowSlots(const RowSlots&) = delete;
  RowSlots& operator=(const RowSlots&) = delete;
  bool Allocate(size_t rowBytes, size_t scratchBytes);
  int32_t count() const { return count_; }
  size_t rowBytes() const { return rowBytes_; }
  uint8_t* Row(int32_t slot) const { return block_ + size_t(slot) * stride_; }
  uint8_t* Scratch(int32_t slot) const { return Row(slot) + rowSpan_; }
  uint8_t* Discard() const { return block_ + size_t(count_) * stride_; }
  std::atomic<int32_t>* ReadyFlags() const {
    return reinterpret_cast<std::atomic<int32_t>*>(Discard() + rowSpan_);
  }

 private:
  uint8_t* block_ = nullptr;
  int32_t count_ = 0;
  size_t rowBytes_ = 0, rowSpan_ = 0, stride_ = 0;
};

namespace detail {

// The shared state of one RunRows call; workers and the calling thread claim rows from it.
struct RowRun {
  int32_t first = 0, count = 0, slots = 0;
  std::atomic<int32_t> next{0};     // the next row index to hand out
  std::atomic<int32_t> emitted{0};  // rows written; row i may start once i < emitted + slots
  std::atomic<bool> stop{false};
  std::atomic<int32_t>* ready = nullptr;  // per slot: the row index it holds once computed
  const RowSlots* rowSlots = nullptr;
  // Computes row index `row` into `out`, with `scratch` of its own.
  void (*compute)(void* context, int32_t row, uint8_t* out, uint8_t* scratch) = nullptr;
  void* context = nullptr;

  // A row index to compute, kFinished when none is left (or the run stopped), kFull when every
  // free slot is taken.
  static constexpr int32_t kFinished = -1, kFull = -2;
  int32_t TryClaim();
  // Computes row i into its slot and marks the slot ready.
  void ComputeRow(int32_t i);
  // The loop of a worker thread.
  static void WorkerLoop(void* run);
};

// A job offered to the process's worker pool: run(arg) on up to `offers` threads.
struct PoolTicket {
  void (*run)(void*) = nullptr;
  void* arg = nullptr;
  int32_t offers = 0;              // threads that may still join
  std::atomic<int32_t> active{0};  // threads inside run
};

// Runs loop(arg) on up to `workers` threads of the process's worker pool until Finish; the pool
// threads start on first use and are shared by every calling thread.
class PoolJob {
 public:
  PoolJob(void (*loop)(void*), void* arg, int32_t workers);
  ~PoolJob() { Finish(); }
  PoolJob(const PoolJob&) = delete;
  PoolJob& operator=(const PoolJob&) = delete;
  // Withdraws the offer and waits until no pool thread runs the job any more.
  void Finish();

 private:
  PoolTicket ticket_{};
  bool posted_ = false;
};

// Drives the rows of `run` on the calling thread: before(y) and after(y, row) are the host calls
// of row y, in row order; rows are computed by the pool and, while it waits, the calling thread.
int32_t DriveRows(RowRun& run, const RowSlots& slots, int32_t (*before)(void*, int32_t),
                  int32_t (*after)(void*, int32_t, uint8_t*), void* context, int32_t workers);

// Host calls that follow a run's own on the calling thread (typically the next band's read).
// Where the run's host calls all come before its rows are computed, they are made while the pool
// computes the rows; otherwise once the run is over.
struct Ahead {
  int32_t (*call)(void*) = nullptr;
  void* context = nullptr;
  bool ran = false;
  int32_t result = 0;
  void Run() {
    ran = true;
    result = call(context);
  }
};

// Computes rows 0 .. count - 1 of `run`, claimed one at a time by the calling thread and up to
// `workers` pool threads, each thread in a slot of its own; then(context, y, row), when given,
// follows each row on the thread that computed it. With `into`, row y is computed straight into
// into(context, y) instead, and `then` is not called. `ahead`, when given, runs on the calling
// thread once the pool threads are offered the rows, before it joins them.
void ComputeRows(RowRun& run, const RowSlots& slots, int32_t count, int32_t workers,
                 void (*then)(void*, int32_t, uint8_t*), void* context,
                 uint8_t* (*into)(void*, int32_t) = nullptr, Ahead* ahead = nullptr);

// The rows of `run` where row y's host calls are a read of row y from `reads` into the discard row
// (when readsToo) and then the write of its computed row to `writes`. Where nothing can stop the
// writes between two rows, the calling thread makes every check and fault point of those calls in
// their order, then each row that passes is computed and written by one thread, and the progress
// advances by the rows written: true, with the result in *result. The read itself is left out, as
// nothing uses its bytes, and rows whose write is a plain copy are computed in the stored row.
// false, having done nothing, where the rows must go through DriveRows. `ahead`, when given,
// runs while the rows are computed if every check passed: only the run's progress report follows
// then, and a cancel there still ends the call with its code (ahead's reads change no pixel).
bool DriveWrittenRows(RowRun& run, const RowSlots& slots, bool readsToo, RowAccess* reads,
                      RowAccess* writes, int32_t workers, int32_t* result, Ahead* ahead = nullptr);

// The shared state of one ParallelFor call: items are claimed in runs of `chunk` neighbours.
struct ForRun {
  int32_t count = 0;
  int32_t chunk = 1;  // items claimed at a time: a run of neighbours, one atomic step
  std::atomic<int64_t> next{0};
  void (*body)(void* context, int32_t item) = nullptr;
  void* context = nullptr;
  static void Loop(void* run);
};

// Runs the items of `run` on up to `workers` pool threads and the calling thread; returns when
// every item is done. `ahead`, when given, runs on the calling thread before it joins the items.
void DriveItems(ForRun& run, int32_t workers, Ahead* ahead = nullptr);

// Pool threads worth starting for `items` items of `pixelsPerItem` pixels each (0: none).
int32_t WorkersFor(int32_t items, int64_t pixelsPerItem);

}  // namespace detail

// Runs body(i) for every i in [0, count), on the worker pool and the calling thread in any
// order. Like a row function, body touches only its own output and read-only data: no host
// call, no random draw, no allocation.
template <class Body>
void ParallelFor(int32_t count, int64_t pixelsPerItem, Body&& body) {
  if (count <= 0) return;
  detail::ForRun run;
  run.count = count;
  run.context = &body;
  run.body = [](void* c, int32_t i) { (*static_cast<std::remove_reference_t<Body>*>(c))(i); };
  detail::DriveItems(run, detail::WorkersFor(count, pixelsPerItem));
}

// A before() that reads row y into the discard row: the read a serial driver made to fetch the
// output row, kept so faults and cancels fall where they always did.
struct DiscardReadFn {
  RowAccess* access;
  const RowSlots* slots;
  int32_t operator()(int32_t y) const {
    return HostReadRow(access, slots->Discard(), y, 0, nullptr);
  }
};
// A before() without a host call.
struct NoHostCallFn {
  int32_t operator()(int32_t) const { return SUCCESS; }
};
// An after() for rows whose results stay where their row function put them: no host call.
struct NoWriteFn {
  int32_t operator()(int32_t, uint8_t*) const { return SUCCESS; }
};
// An after() that writes the computed row as row y.
struct WriteRowFn {
  RowAccess* access;
  int32_t operator()(int32_t y, uint8_t* row) const { return HostWriteRow(access, row, y, 0, 0); }
};
inline DiscardReadFn DiscardRead(RowAccess* access, const RowSlots& slots) {
  return {access, &slots};
}
inline NoHostCallFn NoHostCall() {
  return {};
}
inline NoWriteFn NoWrite() {
  return {};
}
inline WriteRowFn WriteRow(RowAccess* access) {
  return {access};
}

namespace detail {
// RunRows, with the host calls that follow the run's in `ahead` (may be null).
template <class Compute, class Before, class After>
int32_t RunRowsAhead(const RowSlots& slots, int32_t first, int32_t last, int64_t pixelsPerRow,
                     Compute&& compute, Before&& before, After&& after, Ahead* ahead) {
  if (last <= first) return SUCCESS;
  struct Context {
    const RowSlots& slots;
    Compute& compute;
    Before& before;
    After& after;
    int32_t first;
  } context{slots, compute, before, after, first};

  RowRun run;
  run.first = first;
  run.count = last - first;
  run.slots = slots.count();
  run.ready = slots.ReadyFlags();
  run.rowSlots = &slots;
  run.context = &context;
  run.compute = [](void* c, int32_t i, uint8_t* out, uint8_t* scratch) {
    auto& ctx = *static_cast<Context*>(c);
    ctx.compute(ctx.first + i, out, scratch);
  };
  const int32_t workers = WorkersFor(run.count, pixelsPerRow);
  using B = std::decay_t<Before>;
  if constexpr (std::is_same_v<B, NoHostCallFn> && std::is_same_v<std::decay_t<After>, NoWriteFn>) {
    ComputeRows(run, slots, run.count, workers, nullptr, nullptr, nullptr,
                ahead);  // in any order
    return SUCCESS;
  }
  if constexpr (std::is_same_v<std::decay_t<After>, WriteRowFn> &&
                (std::is_same_v<B, NoHostCallFn> || std::is_same_v<B, DiscardReadFn>)) {
    constexpr bool readsToo = std::is_same_v<B, DiscardReadFn>;
    RowAccess* reads = nullptr;
    if constexpr (readsToo) reads = before.access;
    int32_t rc = SUCCESS;
    if (DriveWrittenRows(run, slots, readsToo, reads, after.access, workers, &rc, ahead)) return rc;
  }
  return DriveRows(
      run, slots, [](void* c, int32_t y) { return static_cast<Context*>(c)->before(y); },
      [](void* c, int32_t y, uint8_t* row) { return static_cast<Context*>(c)->after(y, row); },
      &context, workers);
}
}  // namespace detail

// Rows [first, last). compute(y, row, scratch) fills the output row of y (any thread, any order: it
// may touch only that row, that scratch and read-only data; no host call, no random draw, no
// allocation). The row holds nothing of use on entry: it is a slot, or where the write would be a
// plain copy, the bitmap's stored row itself, and only its rowBytes bytes may be touched. On the
// calling thread, in row order, before(y) runs before row y is written (a host read that keeps the
// schedule, or nothing) and after(y, row) writes it. Stops handing out rows at the first code other
// than SUCCESS from either, waits for the rows in flight and returns that code. pixelsPerRow sizes
// the work against ParallelMinPixels. With NoHostCall and NoWrite the rows run in any order; with
// WriteRow after NoHostCall or DiscardRead they may go through DriveWrittenRows.
template <class Compute, class Before, class After>
int32_t RunRows(const RowSlots& slots, int32_t first, int32_t last, int64_t pixelsPerRow,
                Compute&& compute, Before&& before, After&& after) {
  return detail::RunRowsAhead(slots, first, last, pixelsPerRow, compute, before, after, nullptr);
}

// ahead() makes the host calls that follow the run's on the calling thread, typically the read of
// the next band into rows the run does not touch, of bitmap rows it does not write. It runs once
// the run has succeeded, or while the rows are computed where every check of the run's host calls
// comes first and passed (only its progress report follows), so the calling thread reads while
// the pool computes.
// Returns the run's code, and where that is SUCCESS, ahead's.
template <class Compute, class Before, class After, class Next>
int32_t RunRows(const RowSlots& slots, int32_t first, int32_t last, int64_t pixelsPerRow,
                Compute&& compute, Before&& before, After&& after, Next&& ahead) {
  detail::Ahead next;
  next.context = const_cast<void*>(static_cast<const void*>(&ahead));
  next.call = [](void* c) { return (*static_cast<std::remove_reference_t<Next>*>(c))(); };
  const int32_t rc =
      detail::RunRowsAhead(slots, first, last, pixelsPerRow, compute, before, after, &next);
  if (rc != SUCCESS) return rc;
  return next.ran ? next.result : ahead();
}

}  // namespace host
