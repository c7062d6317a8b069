// Host memory: every block carries a header so frees can be checked and live blocks counted;
// the per-thread fault plan can make the N-th allocation or row operation fail. Freed blocks of
// 1 KiB or more are held for reuse (see HostTrimMemory).
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define FX_POISON_HELD 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define FX_POISON_HELD 1
#endif
#ifdef FX_POISON_HELD
#include <sanitizer/asan_interface.h>
#endif

#include "host/Host.h"
#include "host/HostInternal.h"
#include "host/RowEngine.h"

namespace {

constexpr uint64_t kLiveMagic = 0x4658424C4F434B31ull;  // "FXBLOCK1"
constexpr uint64_t kDeadMagic = 0x4658424C4F434B30ull;
constexpr size_t kMaxBlockBytes = size_t{1} << 36;

struct alignas(16) BlockHeader {
  uint64_t magic;
  uint64_t bytes;     // asked for
  uint64_t capacity;  // usable bytes after the header: the size class of a block of 1 KiB or more
  BlockHeader* next;  // the next held block of its class
};

std::atomic<int64_t> gLiveBlocks{0};

// Freed blocks of 1 KiB or more kept for reuse, by size class: [2^k, 2^(k+1)) is cut into four
// classes of 2^(k-2) bytes each, so a block is at most a quarter larger than asked for (and the
// pages never touched cost nothing). A block that would take the held bytes past the limit is
// freed instead.
class HeldBlocks {
 public:
  static constexpr size_t kMinBytes = 1024;
  static constexpr size_t kMaxTotal = size_t{128} << 20;

  // The class of a block of `bytes` (kMinBytes or more) and the class's size.
  static int ClassOf(size_t bytes, size_t* classBytes) {
    const int k = 63 - __builtin_clzll(bytes);  // 2^k <= bytes < 2^(k+1)
    const size_t quarter = size_t{1} << (k - 2);
    const size_t parts = (bytes + quarter - 1) >> (k - 2);  // 4 .. 8
    *classBytes = parts * quarter;
    return 4 * k + static_cast<int>(parts) - 4;  // parts == 8 is the next power's first class
  }

  BlockHeader* Take(int cls) {
    std::lock_guard<std::mutex> lock(mutex_);
    BlockHeader* header = heads_[cls];
    if (!header) return nullptr;
    heads_[cls] = header->next;
    total_ -= header->capacity;
    Unpoison(header);
    return header;
  }

  void Put(BlockHeader* header) {
    size_t ignored;
    const int cls = ClassOf(header->capacity, &ignored);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (total_ + header->capacity <= kMaxTotal) {
        header->next = heads_[cls];
        heads_[cls] = header;
        total_ += header->capacity;
        Poison(header);
        return;
      }
    }
    std::free(header);
  }

  int64_t Trim() {
    BlockHeader* list = nullptr;
    int64_t bytes = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (BlockHeader*& head : heads_)
        while (BlockHeader* h = head) {
          head = h->next;
          h->next = list;
          list = h;
        }
      bytes = static_cast<int64_t>(total_);
      total_ = 0;
    }
    while (BlockHeader* h = list) {
      list = h->next;
      Unpoison(h);
      std::free(h);
    }
    return bytes;
  }

 private:
  static void Poison([[maybe_unused]] BlockHeader* header) {
#ifdef FX_POISON_HELD
    ASAN_POISON_MEMORY_REGION(header + 1, header->capacity);
#endif
  }
  static void Unpoison([[maybe_unused]] BlockHeader* header) {
#ifdef FX_POISON_HELD
    ASAN_UNPOISON_MEMORY_REGION(header + 1, header->capacity);
#endif
  }

  std::mutex mutex_;
  BlockHeader* heads_[4 * 64] = {};
  size_t total_ = 0;
};

HeldBlocks& Held() {
  static HeldBlocks* held = new HeldBlocks;  // never destroyed: other statics may free late
  return *held;
}

thread_local HostFaultPlan tPlan;
thread_local HostFaultCounts tCounts;

bool Hit(int64_t count, int64_t at) {
  if (at <= 0 || count != at) return false;
  tCounts.hitWhilePaused = !host::StatusCallbackInstalled();
  return true;
}

// Clears a reused block; a large one on every thread, as a picture-sized clear takes longer than
// handing it out.
void ClearBlock(uint8_t* block, size_t bytes) {
  constexpr size_t kPart = size_t{256} << 10;
  const size_t parts = (bytes + kPart - 1) / kPart;
  if (parts < 4 || parts > INT32_MAX) {
    std::memset(block, 0, bytes);
    return;
  }
  host::ParallelFor(static_cast<int32_t>(parts), int64_t{kPart}, [&](int32_t i) {
    const size_t at = size_t(i) * kPart;
    std::memset(block + at, 0, std::min(kPart, bytes - at));
  });
}

}  // namespace

namespace host {

void* CountedAlloc(size_t bytes, bool cleared) {
  if (bytes > kMaxBlockBytes) return nullptr;
  size_t capacity = bytes;
  BlockHeader* header = nullptr;
  if (bytes >= HeldBlocks::kMinBytes &&
      (header = Held().Take(HeldBlocks::ClassOf(bytes, &capacity))) != nullptr) {
    if (cleared) ClearBlock(reinterpret_cast<uint8_t*>(header + 1), bytes);
  } else {
    // calloc knows when fresh pages are already zero and skips clearing them.
    const size_t total = sizeof(BlockHeader) + capacity;
    header = static_cast<BlockHeader*>(cleared ? std::calloc(1, total) : std::malloc(total));
    if (!header) return nullptr;
    header->capacity = capacity;
  }
  header->magic = kLiveMagic;
  header->bytes = bytes;
  gLiveBlocks.fetch_add(1, std::memory_order_relaxed);
  return header + 1;
}

void CountedFree(void* block) {
  if (!block) return;
  auto* header = static_cast<BlockHeader*>(block) - 1;
  if (header->magic != kLiveMagic) std::abort();  // double free or foreign pointer
  header->magic = kDeadMagic;
  gLiveBlocks.fetch_sub(1, std::memory_order_relaxed);
  if (header->capacity >= HeldBlocks::kMinBytes)
    Held().Put(header);
  else
    std::free(header);
}

bool FaultOnAlloc() { return Hit(++tCounts.allocs, tPlan.failAllocAt); }

bool FaultOnRead(int32_t* code) {
  *code = tPlan.code;
  return Hit(++tCounts.reads, tPlan.failReadAt);
}
bool FaultOnWrite(int32_t* code) {
  *code = tPlan.code;
  return Hit(++tCounts.writes, tPlan.failWriteAt);
}
bool FaultOnBegin(int32_t* code) {
  *code = tPlan.code;
  return Hit(++tCounts.begins, tPlan.failBeginAt);
}
bool FaultOnOpen(int32_t* code) {
  *code = tPlan.code;
  return Hit(++tCounts.opens, tPlan.failOpenAt);
}

}  // namespace host

void* HostAllocMemory(uint32_t count, uint32_t size, int32_t /*line*/, const char* /*unit*/) {
  if (host::FaultOnAlloc()) return nullptr;
  return host::CountedAlloc(static_cast<size_t>(count) * size);
}

void* HostAllocClearedMemory(uint32_t count, uint32_t size, int32_t /*line*/,
                             const char* /*unit*/) {
  if (host::FaultOnAlloc()) return nullptr;
  return host::CountedAlloc(static_cast<size_t>(count) * size, true);
}

void HostFreeMemory(void* block, int32_t /*line*/, const char* /*unit*/) {
  host::CountedFree(block);
}

void HostMemSet(void* block, int value, size_t count) {
  if (block && count) std::memset(block, value, count);
}

void HostMemCopy(void* destination, const void* source, size_t count) {
  if (destination && source && count) std::memmove(destination, source, count);
}

int64_t HostLiveBlocks(void) { return gLiveBlocks.load(); }

int64_t HostTrimMemory(void) { return Held().Trim(); }

void HostSetFaultPlan(const HostFaultPlan& plan) {
  tPlan = plan;
  tCounts = HostFaultCounts{};
}

HostFaultCounts HostGetFaultCounts() { return tCounts; }
