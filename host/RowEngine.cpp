// The worker pool, the thread-count setting and the row hand-out of the parallel row engine.
#include "host/RowEngine.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <mutex>
#include <new>
#include <thread>

namespace {

constexpr int32_t kMaxThreads = 256;
constexpr int64_t kDefaultMinPixels = 1 << 15;

thread_local int32_t tThreads = 0;  // 0: the process default
thread_local int64_t tMinPixels = kDefaultMinPixels;

// Spins until done() holds or 20 us pass, and returns done(). The work a thread waits for
// within a call (a row, the last item of a band) takes microseconds, about what waking a
// sleeping thread costs (far more in a virtual machine), so waits spin this long before they
// sleep.
template <class Done>
bool SpinUntil(Done done) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(20);
  do {
    for (int i = 0; i < 32; ++i) {
      if (done()) return true;
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    }
  } while (std::chrono::steady_clock::now() < until);
  return done();
}

// Waits until `flag` no longer holds `old`.
void AwaitChange(const std::atomic<int32_t>& flag, int32_t old) {
  if (!SpinUntil([&] { return flag.load(std::memory_order_acquire) != old; }))
    flag.wait(old, std::memory_order_acquire);
}

int32_t DefaultThreads() {
  static const int32_t value = [] {
    if (const char* env = std::getenv("FXKIT_THREADS")) {
      char* end = nullptr;
      const long n = std::strtol(env, &end, 10);
      if (end != env && *end == '\0' && n >= 1)
        return static_cast<int32_t>(std::min<long>(n, kMaxThreads));
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return static_cast<int32_t>(std::clamp<unsigned>(cores, 1, kMaxThreads));
  }();
  return value;
}

// Threads shared by every calling thread. Each runs offered jobs; a job is offered to a number
// of threads and withdrawn by its caller, who then waits for the threads still inside it. The
// pool lives until the process ends (its threads never touch a caller's data once withdrawn).
class WorkerPool {
 public:
  using Job = host::detail::PoolTicket;

  static WorkerPool& Get() {
    static WorkerPool* pool = new WorkerPool;  // never destroyed: threads may outlive statics
    return *pool;
  }

  void Post(Job* job) {
    std::lock_guard<std::mutex> lock(mutex_);
    while (started_ < job->offers && started_ < kMaxThreads - 1) {
      std::thread([this] { Serve(); }).detach();
      ++started_;
    }
    queue_.push_back(job);
    posted_.fetch_add(1, std::memory_order_release);
    work_.notify_all();
  }

  void Withdraw(Job* job) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      queue_.erase(std::remove(queue_.begin(), queue_.end(), job), queue_.end());
    }
    // No thread joins any more; those inside finish their last item.
    const auto idle = [job] { return job->active.load(std::memory_order_acquire) == 0; };
    if (SpinUntil(idle)) return;
    std::unique_lock<std::mutex> lock(mutex_);
    idle_.wait(lock, idle);
  }

 private:
  void Serve() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      if (queue_.empty()) {
        // Bands follow each other within tens of microseconds, about what waking a sleeping
        // thread takes: a thread that finished a job looks for the next one a little while
        // before it sleeps.
        const uint64_t seen = posted_.load(std::memory_order_acquire);
        lock.unlock();
        const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(50);
        while (posted_.load(std::memory_order_acquire) == seen &&
               std::chrono::steady_clock::now() < until)
          std::this_thread::yield();
        lock.lock();
      }
      work_.wait(lock, [this] { return !queue_.empty(); });
      Job* job = queue_.front();
      if (--job->offers == 0) queue_.pop_front();
      job->active.fetch_add(1, std::memory_order_relaxed);
      lock.unlock();
      job->run(job->arg);
      lock.lock();
      // The job may be gone once active reaches 0: nothing of it is touched after.
      if (job->active.fetch_sub(1, std::memory_order_acq_rel) == 1) idle_.notify_all();
    }
  }

  std::mutex mutex_;
  std::condition_variable work_, idle_;
  std::deque<Job*> queue_;
  std::atomic<uint64_t> posted_{0};  // jobs ever posted: what a looking thread watches
  int32_t started_ = 0;
};

}  // namespace

void HostSetThreadCount(int32_t threads) {
  tThreads = threads < 0 ? 0 : std::min(threads, kMaxThreads);
}

int32_t HostGetThreadCount(void) {
  return host::ThreadCount();
}

namespace host {

int32_t ThreadCount() {
  return tThreads > 0 ? tThreads : DefaultThreads();
}

int64_t ParallelMinPixels() {
  return tMinPixels;
}

void SetParallelMinPixels(int64_t pixels) {
  tMinPixels = pixels;
}

RowSlots::~RowSlots() {
  if (block_) HostFreeMemory(block_, __LINE__, __FILE__);
}

bool RowSlots::Allocate(size_t rowBytes, size_t scratchBytes) {
  constexpr size_t kAlign = 64;
  const auto round = [](size_t n) { return (n + kAlign - 1) / kAlign * kAlign; };
  count_ = 2 * ThreadCount();
  rowBytes_ = rowBytes;
  rowSpan_ = round(rowBytes);
  stride_ = rowSpan_ + round(scratchBytes);
  const size_t total =
      size_t(count_) * stride_ + rowSpan_ + size_t(count_) * sizeof(std::atomic<int32_t>) + kAlign;
  if (total > UINT32_MAX) return false;
  auto* block = static_cast<uint8_t*>(
      HostAllocClearedMemory(static_cast<uint32_t>(total), 1, __LINE__, __FILE__));
  if (!block) return false;
  if (block_) HostFreeMemory(block_, __LINE__, __FILE__);
  block_ = block;
  for (int32_t i = 0; i < count_; ++i) new (&ReadyFlags()[i]) std::atomic<int32_t>(-1);
  return true;
}

namespace detail {

int32_t RowRun::TryClaim() {
  int32_t i = next.load(std::memory_order_relaxed);
  for (;;) {
    if (stop.load(std::memory_order_acquire) || i >= count) return kFinished;
    if (i >= emitted.load(std::memory_order_acquire) + slots) return kFull;
    if (next.compare_exchange_weak(i, i + 1, std::memory_order_acq_rel)) return i;
  }
}

void RowRun::ComputeRow(int32_t i) {
  const int32_t slot = i % slots;
  compute(context, i, rowSlots->Row(slot), rowSlots->Scratch(slot));
  ready[slot].store(i, std::memory_order_release);
  ready[slot].notify_all();
}

void RowRun::WorkerLoop(void* arg) {
  RowRun& run = *static_cast<RowRun*>(arg);
  for (;;) {
    const int32_t seen = run.emitted.load(std::memory_order_acquire);
    const int32_t i = run.TryClaim();
    if (i == kFinished) return;
    if (i == kFull) {
      AwaitChange(run.emitted, seen);
      continue;
    }
    run.ComputeRow(i);
  }
}

PoolJob::PoolJob(void (*loop)(void*), void* arg, int32_t workers) {
  if (workers <= 0) return;
  ticket_.run = loop;
  ticket_.arg = arg;
  ticket_.offers = workers;
  WorkerPool::Get().Post(&ticket_);
  posted_ = true;
}

void PoolJob::Finish() {
  if (!posted_) return;
  WorkerPool::Get().Withdraw(&ticket_);
  posted_ = false;
}

int32_t DriveRows(RowRun& run, const RowSlots& slots, int32_t (*before)(void*, int32_t),
                  int32_t (*after)(void*, int32_t, uint8_t*), void* context, int32_t workers) {
  for (int32_t s = 0; s < run.slots; ++s) run.ready[s].store(-1, std::memory_order_relaxed);
  PoolJob pool(&RowRun::WorkerLoop, &run, workers);
  int32_t rc = SUCCESS;
  for (int32_t i = 0; i < run.count && rc == SUCCESS; ++i) {
    const int32_t y = run.first + i, slot = i % run.slots;
    rc = before(context, y);
    if (rc != SUCCESS) break;
    for (;;) {
      const int32_t held = run.ready[slot].load(std::memory_order_acquire);
      if (held == i) break;
      const int32_t j = run.TryClaim();
      if (j >= 0)
        run.ComputeRow(j);
      else
        AwaitChange(run.ready[slot], held);
    }
    rc = after(context, y, slots.Row(slot));
    run.emitted.store(i + 1, std::memory_order_release);
    run.emitted.notify_all();
  }
  if (rc != SUCCESS) {
    run.stop.store(true, std::memory_order_release);
    run.emitted.store(run.count + run.slots, std::memory_order_release);
    run.emitted.notify_all();
  }
  pool.Finish();
  return rc;
}

void ComputeRows(RowRun& run, const RowSlots& slots, int32_t count, int32_t workers,
                 void (*then)(void*, int32_t, uint8_t*), void* context,
                 uint8_t* (*into)(void*, int32_t), Ahead* ahead) {
  struct Items {
    RowRun& run;
    const RowSlots& slots;
    int32_t count;
    void (*then)(void*, int32_t, uint8_t*);
    void* context;
    uint8_t* (*into)(void*, int32_t);
    std::atomic<int32_t> next{0};
  } items{run, slots, count, then, context, into};
  ForRun job;
  job.count = std::min(workers + 1, slots.count());
  job.context = &items;
  job.body = [](void* c, int32_t item) {
    Items& it = *static_cast<Items*>(c);
    for (int32_t i; (i = it.next.fetch_add(1, std::memory_order_relaxed)) < it.count;) {
      const int32_t y = it.run.first + i;
      if (it.into) {
        it.run.compute(it.run.context, i, it.into(it.context, y), it.slots.Scratch(item));
        continue;
      }
      it.run.compute(it.run.context, i, it.slots.Row(item), it.slots.Scratch(item));
      if (it.then) it.then(it.context, y, it.slots.Row(item));
    }
  };
  DriveItems(job, std::min(workers, job.count - 1), ahead);
}

void ForRun::Loop(void* arg) {
  ForRun& run = *static_cast<ForRun*>(arg);
  for (int64_t i; (i = run.next.fetch_add(run.chunk, std::memory_order_relaxed)) < run.count;) {
    const auto end = static_cast<int32_t>(std::min<int64_t>(i + run.chunk, run.count));
    for (auto k = static_cast<int32_t>(i); k < end; ++k) run.body(run.context, k);
  }
}

void DriveItems(ForRun& run, int32_t workers, Ahead* ahead) {
  // Eight runs per thread keep the threads busy to the end. Items claimed one by one (a row
  // copy takes well under a microsecond) spent their time passing the counter between cores,
  // and interleaved rows defeat each core's prefetching.
  run.chunk = std::max(1, run.count / (8 * (workers + 1)));
  PoolJob pool(&ForRun::Loop, &run, workers);
  if (ahead) ahead->Run();
  ForRun::Loop(&run);
  pool.Finish();
}

int32_t WorkersFor(int32_t items, int64_t pixelsPerItem) {
  if (int64_t{items} * pixelsPerItem < ParallelMinPixels()) return 0;
  const int32_t threads = ThreadCount();
  return (threads < items ? threads : items) - 1;
}

}  // namespace detail
}  // namespace host
