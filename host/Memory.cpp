// Host memory: every block carries a header so frees can be checked and live blocks counted;
// the per-thread fault plan can make the N-th allocation or row operation fail.
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "host/Host.h"
#include "host/HostInternal.h"

namespace {

constexpr uint64_t kLiveMagic = 0x4658424C4F434B31ull;  // "FXBLOCK1"
constexpr uint64_t kDeadMagic = 0x4658424C4F434B30ull;
constexpr size_t kMaxBlockBytes = size_t{1} << 36;

struct alignas(16) BlockHeader {
  uint64_t magic;
  uint64_t bytes;
};

std::atomic<int64_t> gLiveBlocks{0};

thread_local HostFaultPlan tPlan;
thread_local HostFaultCounts tCounts;

bool Hit(int64_t count, int64_t at) {
  if (at <= 0 || count != at) return false;
  tCounts.hitWhilePaused = !host::StatusCallbackInstalled();
  return true;
}

}  // namespace

namespace host {

void* CountedAlloc(size_t bytes, bool cleared) {
  if (bytes > kMaxBlockBytes) return nullptr;
  // calloc knows when fresh pages are already zero and skips clearing them.
  auto* header = static_cast<BlockHeader*>(cleared ? std::calloc(1, sizeof(BlockHeader) + bytes)
                                                   : std::malloc(sizeof(BlockHeader) + bytes));
  if (!header) return nullptr;
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

void HostSetFaultPlan(const HostFaultPlan& plan) {
  tPlan = plan;
  tCounts = HostFaultCounts{};
}

HostFaultCounts HostGetFaultCounts() { return tCounts; }
