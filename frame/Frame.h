// The frame every effect shares: the entry checks, the orientation guard, the rectangle to
// process, the centre-point test, RAII owners for host resources, and the choice of kernel by
// sample size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "fxkit/types.h"
#include "host/Host.h"
#include "host/runtime/Runtime.h"

namespace fx {

// Entry checks ---------------------------------------------------------------------------------

// Null bitmap, or (when testAllocated) Flags bit 0x1 clear: ERROR_NO_BITMAP.
int32_t CheckBitmapPresent(const BitmapRecord* bitmap, bool testAllocated = true);
// StructSize, then Order 2 with 32 bits: the record's layout (exports that check their own
// parameters before Flags bit 0x200 take these two alone).
int32_t CheckRecordLayout(const BitmapRecord* bitmap);
// StructSize, Order 2 with 32 bits, Flags bit 0x200, in that order.
int32_t CheckBitmapRecord(const BitmapRecord* bitmap);
// The canonical bitmap checks: present (and allocated), then the record checks.
int32_t CheckBitmap(const BitmapRecord* bitmap, bool testAllocated = true);

// The rectangle to process: the region's bounds, or the whole bitmap.
RECT ProcessRect(const BitmapRecord* bitmap);
inline bool IsEmpty(const RECT& r) {
  return r.left == r.right || r.top == r.bottom;
}
// The point lies inside the rectangle grown by one pixel on every side.
bool CenterInGrownRect(const RECT& rect, POINT center);

// Saves the orientation, sets 1 for the work, and restores the saved value on every exit.
class OrientationGuard {
 public:
  explicit OrientationGuard(BitmapRecord* bitmap);
  ~OrientationGuard();
  OrientationGuard(const OrientationGuard&) = delete;
  OrientationGuard& operator=(const OrientationGuard&) = delete;

 private:
  BitmapRecord* bitmap_;
  uint8_t saved_;
};

// Switches the thread's status callback off for a whole-image host operation and back after.
class CallbackPause {
 public:
  CallbackPause() { HostExchangeCallback(nullptr, nullptr, &callback_, &userData_); }
  ~CallbackPause() { HostExchangeCallback(callback_, userData_, nullptr, nullptr); }
  CallbackPause(const CallbackPause&) = delete;
  CallbackPause& operator=(const CallbackPause&) = delete;

 private:
  FxStatusCallback callback_ = nullptr;
  void* userData_ = nullptr;
};

// Owners ---------------------------------------------------------------------------------------

// A block from HostAllocMemory, freed on destruction.
template <class T>
class HostBlock {
 public:
  HostBlock() = default;
  ~HostBlock() { Reset(); }
  HostBlock(const HostBlock&) = delete;
  HostBlock& operator=(const HostBlock&) = delete;
  HostBlock(HostBlock&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  HostBlock& operator=(HostBlock&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.p_, nullptr));
    return *this;
  }

  // Allocates count elements (not cleared); false on failure.
  bool Allocate(uint32_t count, int32_t line = __builtin_LINE(),
                const char* unit = __builtin_FILE()) {
    Reset(static_cast<T*>(HostAllocMemory(count, sizeof(T), line, unit)));
    return p_ != nullptr;
  }
  // Allocates count elements and zero-fills them; false on failure.
  bool AllocateCleared(uint32_t count, int32_t line = __builtin_LINE(),
                       const char* unit = __builtin_FILE()) {
    if (!Allocate(count, line, unit)) return false;
    HostMemSet(p_, 0, size_t{count} * sizeof(T));
    return true;
  }
  void Reset(T* p = nullptr) {
    if (p_) HostFreeMemory(p_, __LINE__, __FILE__);
    p_ = p;
  }
  T* Release() { return std::exchange(p_, nullptr); }
  T* get() const { return p_; }
  T& operator[](size_t i) const { return p_[i]; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// A row access, closed on destruction.
class AccessOwner {
 public:
  AccessOwner() = default;
  ~AccessOwner() { Close(); }
  AccessOwner(const AccessOwner&) = delete;
  AccessOwner& operator=(const AccessOwner&) = delete;

  int32_t Open(BitmapRecord* bitmap, int32_t mode = 2) {
    Close();
    return HostOpenRowAccess(bitmap, &handle_, mode);
  }
  void Close() {
    if (handle_) HostCloseRowAccess(handle_);
    handle_ = nullptr;
  }
  RowAccess* get() const { return handle_; }
  operator RowAccess*() const { return handle_; }
  int32_t SampleBits() const { return HostSampleBits(handle_); }
  int32_t PixelStep() const { return HostPixelStep(handle_); }
  int32_t RowBytes() const { return HostRowBytes(handle_); }
  // One working row from HostAllocRowBuffer into `buffer`; false on failure.
  bool AllocRowBuffer(HostBlock<uint8_t>& buffer) const {
    buffer.Reset(static_cast<uint8_t*>(HostAllocRowBuffer(handle_)));
    return static_cast<bool>(buffer);
  }

 private:
  RowAccess* handle_ = nullptr;
};

// A table of `count` row buffers; every non-null row and the table are freed on destruction.
class RowTable {
 public:
  RowTable() = default;
  ~RowTable() { Free(); }
  RowTable(const RowTable&) = delete;
  RowTable& operator=(const RowTable&) = delete;

  // Allocates and zero-fills the table; rows stay null until AllocateRows.
  bool AllocateTable(uint32_t count);
  // Allocates and zero-fills every row of rowBytes bytes, in table order.
  bool AllocateRows(size_t rowBytes);
  // Allocates every row as AllocateRows does but leaves them unfilled: for rows that are read
  // into before any use, where clearing them would be wasted work.
  bool AllocateRowsToRead(size_t rowBytes);
  void Free();
  uint8_t** rows() const { return table_.get(); }
  uint32_t count() const { return count_; }

 private:
  HostBlock<uint8_t*> table_;
  uint32_t count_ = 0;
};

// Write phase -----------------------------------------------------------------------------------

// HostBeginRegionWrite when the bitmap has a region, else HostBeginWrite.
int32_t BeginWritePhase(RowAccess* access, const BitmapRecord* bitmap);
int32_t BeginWritePhaseEx(RowAccess* access, const BitmapRecord* bitmap, int32_t first,
                          int32_t last);

// Kernel choice ---------------------------------------------------------------------------------

template <class T>
struct SampleTraits;
template <>
struct SampleTraits<uint8_t> {
  static constexpr int32_t kMax = 255;
  static constexpr int32_t kWeightDivisor = 9990;  // weight tables sum to about 10000
};
template <>
struct SampleTraits<uint16_t> {
  static constexpr int32_t kMax = 65535;
  static constexpr int32_t kWeightDivisor = 10000;
};

// Calls f(uint16_t{}) when the working rows carry 16-bit samples, else f(uint8_t{}).
template <class F>
decltype(auto) WithSampleType(int32_t sampleBits, F&& f) {
  if (sampleBits == 16) return f(uint16_t{});
  return f(uint8_t{});
}

// A working pixel of three or more samples is colour (blue, green, red first); one is gray.
inline bool IsColorPixel(int32_t pixelStep) {
  return pixelStep >= 3;
}

// What a row function that writes the colour (or gray) samples of columns [left, right) leaves
// of output row `out`: the bytes around those columns, copied from `source`, and where a pixel
// has a fourth sample the function keeps, the whole row. T is the sample type.
template <class T>
void CopyAroundColumns(T* out, const T* source, size_t rowBytes, int32_t left, int32_t right,
                       int32_t pixelStep) {
  const size_t begin = size_t(left) * size_t(pixelStep) * sizeof(T);
  const size_t end = size_t(right) * size_t(pixelStep) * sizeof(T);
  if (pixelStep != (IsColorPixel(pixelStep) ? 3 : 1) || begin > end || end > rowBytes) {
    std::memcpy(out, source, rowBytes);
    return;
  }
  std::memcpy(out, source, begin);
  std::memcpy(reinterpret_cast<uint8_t*>(out) + end, reinterpret_cast<const uint8_t*>(source) + end,
              rowBytes - end);
}

// Arithmetic ------------------------------------------------------------------------------------

// Truncation toward zero of a double, saturated to the int32 range (NaN gives 0). Identical to a
// plain conversion for every value the conversion defines.
inline int32_t TruncToInt32(double v) {
  if (v >= 2147483647.0) return INT32_MAX;
  if (v <= -2147483648.0) return INT32_MIN;
  if (v != v) return 0;
  return static_cast<int32_t>(v);
}

// Products and sums formed in 32 bits, wrapping as the original integer arithmetic did.
inline int32_t Mul32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int32_t Add32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t Sub32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}

}  // namespace fx
