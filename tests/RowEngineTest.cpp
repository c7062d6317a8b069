// The parallel row engine: every row (and every ParallelFor item) computed once, rows written in
// order at any thread count, a failing host call stopping the hand-out, several callers sharing
// the pool, and the row window showing each output row the rows the sliding ring always showed.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <map>
#include <thread>
#include <tuple>

#include "TestSupport.h"
#include "frame/RowCache.h"

namespace {

using fxtest::HostFixture;

class RowEngineTest : public HostFixture {};

constexpr size_t kRowBytes = 16;

// Runs rows [first, last) with a compute that stamps the row number and an after() that checks
// the order and the stamp; fails the write of row `failAt` (never when -1).
struct Trace {
  std::vector<std::atomic<int32_t>> computed;
  std::vector<int32_t> written;
  explicit Trace(int32_t rows) : computed(size_t(rows)) {}
};

int32_t RunStamped(int32_t first, int32_t last, int32_t failAt, Trace& trace) {
  fx::RowSlots slots;
  EXPECT_TRUE(slots.Allocate(kRowBytes, 8));
  return fx::RunRows(
      slots, first, last, 1,
      [&](int32_t y, uint8_t* row, uint8_t* scratch) {
        std::memset(scratch, 0xAB, 8);  // scratch is the row's own
        std::memcpy(row, &y, sizeof y);
        trace.computed[size_t(y)].fetch_add(1);
      },
      [](int32_t) { return SUCCESS; },
      [&](int32_t y, uint8_t* row) {
        int32_t stamp;
        std::memcpy(&stamp, row, sizeof stamp);
        EXPECT_EQ(stamp, y);
        trace.written.push_back(y);
        return y == failAt ? ERROR_HOST_INJECTED : SUCCESS;
      });
}

TEST_F(RowEngineTest, ParallelForRunsEveryItemOnceAtAnyThreadCount) {
  for (int32_t threads : {1, 2, 3, 8})
    for (int32_t items : {0, 1, 2, 7, 500}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(items) + " items");
      fxtest::ThreadSetting setting(threads);
      std::vector<std::atomic<int32_t>> runs(size_t(items) + 1);
      fx::ParallelFor(items, 1, [&](int32_t i) { runs[size_t(i)].fetch_add(1); });
      for (int32_t i = 0; i < items; ++i) EXPECT_EQ(runs[size_t(i)].load(), 1) << i;
      EXPECT_EQ(runs[size_t(items)].load(), 0);  // nothing beyond the count
    }
}

TEST_F(RowEngineTest, EveryRowOnceInOrderAtAnyThreadCount) {
  for (int32_t threads : {1, 2, 3, 8}) {
    fxtest::ThreadSetting setting(threads);
    for (int32_t rows : {1, 5, 37, 300}) {
      SCOPED_TRACE(std::to_string(threads) + " threads, " + std::to_string(rows) + " rows");
      Trace trace(rows + 3);
      ASSERT_EQ(RunStamped(3, rows + 3, -1, trace), SUCCESS);
      ASSERT_EQ(trace.written.size(), size_t(rows));
      for (int32_t i = 0; i < rows; ++i) {
        EXPECT_EQ(trace.written[size_t(i)], i + 3);
        EXPECT_EQ(trace.computed[size_t(i + 3)].load(), 1);
      }
    }
  }
}

TEST_F(RowEngineTest, AFailingWriteStopsTheHandOut) {
  for (int32_t threads : {1, 4}) {
    fxtest::ThreadSetting setting(threads);
    Trace trace(400);
    EXPECT_EQ(RunStamped(0, 400, 120, trace), ERROR_HOST_INJECTED);
    EXPECT_EQ(trace.written.size(), 121u);
    // Workers may have run ahead by the slots there are, no further.
    const int32_t limit = 121 + 2 * fx::FrameThreadCount();
    for (int32_t y = limit; y < 400; ++y) EXPECT_EQ(trace.computed[size_t(y)].load(), 0) << y;
  }
}

TEST_F(RowEngineTest, CallersShareThePool) {
  std::vector<std::thread> callers;
  std::atomic<int32_t> failures{0};
  for (int32_t c = 0; c < 4; ++c)
    callers.emplace_back([&] {
      fxtest::ThreadSetting setting(3);
      for (int32_t k = 0; k < 20; ++k) {
        Trace trace(200);
        if (RunStamped(0, 200, -1, trace) != SUCCESS || trace.written.size() != 200)
          failures.fetch_add(1);
      }
    });
  for (auto& t : callers) t.join();
  EXPECT_EQ(failures.load(), 0);
}

// The rows the sliding ring of n rows showed output row y: pre-filled from top - n/2, one row
// read per output row, rotated so that view[i] = ring[(i + start) mod n].
std::vector<int32_t> RingView(int32_t n, int32_t top, int32_t y, int32_t height) {
  const int32_t h = n / 2;
  std::vector<int32_t> ring(size_t(n), -1), view(static_cast<size_t>(n));
  int32_t source = top - h, slot = 0, start = 0;
  for (int32_t row = top;;) {
    ring[size_t(slot)] = std::clamp(source, 0, height - 1);
    ++source;
    if (++slot == n) slot = 0;
    if (source < top + h + 1) continue;
    if (row == y) break;
    ++row;
    if (++start == n) start = 0;
  }
  for (int32_t i = 0; i < n; ++i) view[size_t(i)] = ring[size_t((i + start) % n)];
  return view;
}

TEST_F(RowEngineTest, SlidingWindowShowsTheRingsRows) {
  const int32_t height = 600;  // more than two bands of short rows
  fxtest::TestBitmap bitmap(4, height, 8, ORDER_GRAY);
  for (int32_t y = 0; y < height; ++y) {  // the row number in the first two pixels
    bitmap->Data[int64_t{y} * bitmap->BytesPerLine] = uint8_t(y);
    bitmap->Data[int64_t{y} * bitmap->BytesPerLine + 1] = uint8_t(y >> 8);
  }
  const auto number = [](const uint8_t* row) { return row[0] | row[1] << 8; };
  for (int32_t threads : {1, 3}) {
    fxtest::ThreadSetting setting(threads);
    for (int32_t n : {1, 2, 5, 6, 9}) {
      for (const auto& span : {std::pair{0, height}, std::pair{7, 590}}) {
        SCOPED_TRACE("n " + std::to_string(n) + " rows " + std::to_string(span.first) + ".." +
                     std::to_string(span.second));
        RowAccess* access = nullptr;
        ASSERT_EQ(HostOpenRowAccess(bitmap.get(), &access, 2), SUCCESS);
        fx::RowWindow window;
        ASSERT_EQ(window.AllocateSliding(n, kRowBytes), SUCCESS);
        fx::RowSlots slots;
        ASSERT_TRUE(slots.Allocate(kRowBytes, window.ViewBytes() + sizeof(int32_t) * 16));
        std::vector<std::vector<int32_t>> seen(static_cast<size_t>(height));
        std::vector<int32_t> centre(size_t(height), -1);
        ASSERT_EQ(HostBeginWrite(access), SUCCESS);
        const int32_t rc = window.Run(
            access, slots, span.first, span.second, height, 0, 1,
            [&](int32_t y, uint8_t* const* rows, int32_t w, uint8_t*, uint8_t*) {
              for (int32_t i = 0; i < n; ++i) seen[size_t(y)].push_back(number(rows[i]));
              centre[size_t(y)] = number(rows[w]);
            },
            fx::NoHostCall(), [](int32_t, uint8_t*) { return SUCCESS; });
        HostCloseRowAccess(access);
        ASSERT_EQ(rc, SUCCESS);
        for (int32_t y = span.first; y < span.second; ++y) {
          EXPECT_EQ(seen[size_t(y)], RingView(n, span.first, y, height)) << "row " << y;
          EXPECT_EQ(centre[size_t(y)], y) << "the row of y is at index n / 2";
        }
      }
    }
  }
}

// For its lifetime: the status callback records every report (when watched) and the n-th read
// or write fails. Finish ends both and answers the operation counts.
class FaultWatch {
 public:
  FaultWatch(bool watched, bool write, int64_t n) {
    if (watched)
      HostExchangeCallback(
          [](int32_t percent, void* into) {
            static_cast<std::vector<int32_t>*>(into)->push_back(percent);
            return SUCCESS;
          },
          &reports, nullptr, nullptr);
    HostFaultPlan plan;
    (write ? plan.failWriteAt : plan.failReadAt) = n;
    HostSetFaultPlan(plan);
  }
  ~FaultWatch() { Finish(); }
  HostFaultCounts Finish() {
    const HostFaultCounts counts = HostGetFaultCounts();
    HostSetFaultPlan(HostFaultPlan{});
    HostExchangeCallback(nullptr, nullptr, nullptr, nullptr);
    return counts;
  }
  std::vector<int32_t> reports;
};

// A one-row window reads each row on the thread that computes it (in place: straight into the
// output row), a wider one reads each band while the band before is computed, and without a
// status callback the computing thread writes the rows. The n-th read or write failing must leave
// the code, the operation counts and the stored rows of the calls one by one: the window's first
// rows, then a band's new rows, then its rows' writes.
TEST_F(RowEngineTest, WindowFaultsFallAsWithOneCallAStep) {
  const int32_t height = 300;  // two bands of short rows
  const int32_t band = fx::SlidingBandRows(kRowBytes);
  ASSERT_LT(band, height);
  // Output pixel i mixes the window's first, middle and last rows.
  const auto mix = [](const uint8_t* first, const uint8_t* mid, const uint8_t* last, uint8_t* to) {
    for (size_t i = 0; i < kRowBytes; ++i) to[i] = uint8_t(first[i] + 2 * mid[i] + 3 * last[i]);
  };
  const auto run = [&](int32_t size, bool inPlace, bool window, bool watched, bool write,
                       int64_t n) {
    // Rows as long as the slots', so rows whose write is a plain copy are computed in the bitmap.
    fxtest::TestBitmap bitmap(int32_t(kRowBytes), height, 8, ORDER_GRAY);
    for (int32_t y = 0; y < height; ++y)
      bitmap->Data[int64_t{y} * bitmap->BytesPerLine] = uint8_t(y * 7);
    RowAccess* access = nullptr;
    EXPECT_EQ(HostOpenRowAccess(bitmap.get(), &access, 2), SUCCESS);
    EXPECT_EQ(HostBeginWrite(access), SUCCESS);
    FaultWatch watch(watched, write, n);
    int32_t rc = SUCCESS;
    const int32_t h = size / 2;
    if (window) {
      fx::RowWindow rows;
      fx::RowSlots slots;
      if (size == 1) {
        EXPECT_EQ(rows.AllocateRowByRow(kRowBytes, slots), SUCCESS);
      } else {
        EXPECT_EQ(rows.AllocateSliding(size, kRowBytes), SUCCESS);
        EXPECT_TRUE(slots.Allocate(kRowBytes, rows.ViewBytes()));
      }
      if (inPlace) {
        rc = rows.RunInPlace(
            access, slots, 0, height, height, 1,
            [&](int32_t, uint8_t* out, uint8_t*) { mix(out, out, out, out); }, fx::NoHostCall(),
            fx::WriteRow(access));
      } else {
        rc = rows.Run(
            access, slots, 0, height, height, 0, 1,
            [&](int32_t, uint8_t* const* at, int32_t w, uint8_t* out, uint8_t*) {
              mix(at[0], at[w], at[size - 1], out);
            },
            fx::NoHostCall(), fx::WriteRow(access));
      }
    } else {
      std::map<int32_t, std::vector<uint8_t>> in;  // by window row, unclamped
      const auto read = [&](int32_t c) {
        in[c].resize(kRowBytes);
        return HostReadRow(access, in[c].data(), std::clamp(c, 0, height - 1), 0, nullptr);
      };
      for (int32_t c = h + 1 - size; c < h && rc == SUCCESS; ++c) rc = read(c);
      std::vector<uint8_t> out(kRowBytes);
      for (int32_t y0 = 0; y0 < height && rc == SUCCESS; y0 += band) {
        const int32_t y1 = std::min(height, y0 + band);
        for (int32_t c = y0 + h; c < y1 + h && rc == SUCCESS; ++c) rc = read(c);
        for (int32_t y = y0; y < y1 && rc == SUCCESS; ++y) {
          mix(in[y - h].data(), in[y].data(), in[y + h].data(), out.data());
          rc = HostWriteRow(access, out.data(), y, 0, 0);
        }
      }
    }
    const HostFaultCounts counts = watch.Finish();
    HostCloseRowAccess(access);
    std::vector<uint8_t> stored(bitmap->Data,
                                bitmap->Data + int64_t{height} * bitmap->BytesPerLine);
    return std::tuple{rc, counts.reads, counts.writes, stored, watch.reports};
  };
  for (int32_t threads : {1, 3}) {
    fxtest::ThreadSetting setting(threads);
    for (const auto& [size, inPlace] :
         {std::pair{1, false}, std::pair{1, true}, std::pair{5, false}})
      for (const bool watched : {true, false})
        for (const bool write : {false, true})
          for (int64_t n = 1; n <= height + size; ++n) {
            SCOPED_TRACE(::testing::Message()
                         << threads << " threads, window " << size
                         << (inPlace ? " in place, " : ", ") << (watched ? "" : "no ")
                         << "callback, " << (write ? "write " : "read ") << n);
            ASSERT_EQ(run(size, inPlace, true, watched, write, n),
                      run(size, inPlace, false, watched, write, n));
          }
  }
}

// A clamped band read gives what the single-row reads it replaces give: the same rows, the same
// code and the same number of reads when the N-th read fails.
TEST_F(RowEngineTest, ClampedBandReadsAsSingleRowsDo) {
  const int32_t height = 40;
  fxtest::TestBitmap bitmap(4, height, 8, ORDER_GRAY);
  for (int32_t y = 0; y < height; ++y) bitmap->Data[int64_t{y} * bitmap->BytesPerLine] = uint8_t(y);
  const auto read = [&](int64_t from, int32_t count, int64_t failAt, bool band) {
    std::vector<std::vector<uint8_t>> rows(size_t(count), std::vector<uint8_t>(kRowBytes, 0xEE));
    std::vector<uint8_t*> table;
    for (auto& row : rows) table.push_back(row.data());
    RowAccess* access = nullptr;
    EXPECT_EQ(HostOpenRowAccess(bitmap.get(), &access, 2), SUCCESS);
    HostFaultPlan plan;
    plan.failReadAt = failAt;
    HostSetFaultPlan(plan);
    int32_t rc = SUCCESS;
    if (band) {
      rc = fx::ReadClampedRows(access, table.data(), from, count, height);
    } else {
      for (int32_t k = 0; k < count && rc == SUCCESS; ++k)
        rc = HostReadRow(access, table[size_t(k)],
                         static_cast<int32_t>(std::clamp<int64_t>(from + k, 0, height - 1)), 0,
                         nullptr);
    }
    const int64_t reads = HostGetFaultCounts().reads;
    HostSetFaultPlan(HostFaultPlan{});
    HostCloseRowAccess(access);
    return std::tuple{rc, reads, rows};
  };
  for (int32_t threads : {1, 3}) {
    fxtest::ThreadSetting setting(threads);
    for (const auto& [from, count] : {std::pair<int64_t, int32_t>{-3, 6},
                                      {30, 16},
                                      {-5, 50},
                                      {4, 20},
                                      {45, 3},
                                      {-9, 4},
                                      {0, 0}})
      for (int64_t failAt = 0; failAt <= count; ++failAt) {
        SCOPED_TRACE("from " + std::to_string(from) + " count " + std::to_string(count) +
                     " fail at " + std::to_string(failAt));
        EXPECT_EQ(read(from, count, failAt, true), read(from, count, failAt, false));
      }
  }
}

}  // namespace

// Band reads and writes that leave kept rows where they are: with the kept rows read and written
// back unchanged, every read or write failure leaves the code, the operation counts, the
// progress reports and the stored bytes of the plain band calls, in every format that rewrites
// exactly and seen upright or turned; the kept rows' buffers are never touched.
TEST_F(RowEngineTest, KeptRowsFaultsFallAsWithEveryRowMoved) {
  const int32_t width = 9, height = 12;
  const std::vector<uint8_t> keep = {1, 0, 0, 1, 1, 0, 1, 1, 1, 0, 0, 1, 1};  // a view row each
  int32_t exactViews = 0;
  for (const fxtest::Depth& depth : fxtest::AllDepths())
    for (const uint8_t orientation : {uint8_t{1}, uint8_t{6}}) {
      const auto run = [&](bool keeping, bool watched, bool write, int64_t n) {
        fxtest::TestBitmap bitmap(width, height, depth.bitsPerPixel, depth.order, orientation);
        bitmap.FillNoise(7);
        RowAccess* access = nullptr;
        EXPECT_EQ(HostOpenRowAccess(bitmap.get(), &access, 2), SUCCESS);
        EXPECT_EQ(HostBeginWrite(access), SUCCESS);
        const int32_t rows = bitmap->Height, rowBytes = HostRowBytes(access);
        std::vector<std::vector<uint8_t>> buffers(size_t(rows),
                                                  std::vector<uint8_t>(size_t(rowBytes), 0xEE));
        std::vector<uint8_t*> table;
        for (auto& b : buffers) table.push_back(b.data());
        FaultWatch watch(watched, write, n);
        const uint8_t* flags = keeping ? keep.data() : nullptr;
        int32_t rc = host::ReadRowsKeeping(access, table.data(), 0, rows, flags);
        if (rc == SUCCESS) {
          for (int32_t y = 0; y < rows; ++y)
            if (!keep[size_t(y)])
              for (uint8_t& v : buffers[size_t(y)]) v = uint8_t(v * 5 + 3);
          rc = host::WriteRowsKeeping(access, table.data(), 0, rows, flags);
        }
        const HostFaultCounts counts = watch.Finish();
        HostCloseRowAccess(access);
        for (int32_t y = 0; keeping && y < rows; ++y) {
          if (keep[size_t(y)]) {
            EXPECT_EQ(buffers[size_t(y)], std::vector<uint8_t>(size_t(rowBytes), 0xEE)) << y;
          }
        }
        return std::tuple{rc, counts.reads, counts.writes, bitmap.Stored(), watch.reports};
      };
      {
        fxtest::TestBitmap probe(width, height, depth.bitsPerPixel, depth.order, orientation);
        RowAccess* access = nullptr;
        ASSERT_EQ(HostOpenRowAccess(probe.get(), &access, 2), SUCCESS);
        const bool exact = host::RewritesExactly(access);
        HostCloseRowAccess(access);
        if (!exact) continue;
        ++exactViews;
      }
      for (const bool watched : {true, false})
        for (const bool write : {false, true})
          for (int64_t n = 0; n <= height + 1; ++n) {
            SCOPED_TRACE(::testing::Message() << depth.name << " orientation " << int(orientation)
                                              << ", " << (watched ? "" : "no ") << "callback, "
                                              << (write ? "write " : "read ") << n);
            ASSERT_EQ(run(true, watched, write, n), run(false, watched, write, n));
          }
    }
  EXPECT_EQ(exactViews, 20);  // gray8, gray16 and the eight colour formats, upright and turned
}

// Writing back rows as read leaves the stored bytes as they were in exactly the formats that say
// so; the others show why they do not: a palette with a colour twice maps the second entry to
// the first, and 12-bit gray drops the top bits of its words.
TEST_F(RowEngineTest, RewritesExactlyHoldsWhereARoundTripKeepsTheBytes) {
  for (const fxtest::Depth& depth : fxtest::AllDepths())
    for (const uint8_t orientation : {uint8_t{1}, uint8_t{6}}) {
      SCOPED_TRACE(::testing::Message() << depth.name << " orientation " << int(orientation));
      fxtest::TestBitmap bitmap(7, 5, depth.bitsPerPixel, depth.order, orientation);
      bitmap.FillNoise(3);
      if (bitmap->PaletteCount > 1) {
        bitmap->Palette[1] = bitmap->Palette[0];
        bitmap->Data[0] = depth.bitsPerPixel == 8 ? 1 : (depth.bitsPerPixel == 4 ? 0x11 : 0x40);
      }
      if (depth.bitsPerPixel == 12) bitmap->Data[1] |= 0xF0;
      const std::vector<uint8_t> before = bitmap.Stored();
      RowAccess* access = nullptr;
      ASSERT_EQ(HostOpenRowAccess(bitmap.get(), &access, 2), SUCCESS);
      ASSERT_EQ(HostBeginWrite(access), SUCCESS);
      std::vector<std::vector<uint8_t>> buffers(size_t(bitmap->Height),
                                                std::vector<uint8_t>(size_t(HostRowBytes(access))));
      std::vector<uint8_t*> table;
      for (auto& b : buffers) table.push_back(b.data());
      EXPECT_EQ(HostReadRows(access, table.data(), 0, bitmap->Height), SUCCESS);
      EXPECT_EQ(HostWriteRows(access, table.data(), 0, bitmap->Height), SUCCESS);
      const bool exact = host::RewritesExactly(access);
      HostCloseRowAccess(access);
      EXPECT_EQ(bitmap.Stored() == before, exact);
    }
}
