// Pieces the two colored pencil effects share: a host copy of a bitmap released on every path,
// and a whole-image host operation run with the caller's status callback switched off.
#pragma once

#include <cstdint>

#include "frame/Frame.h"

namespace fx {

// A bitmap record from HostAllocMemory holding a host copy of another bitmap; the copy's storage
// and the record are released on destruction.
class BitmapCopy {
 public:
  BitmapCopy() = default;
  ~BitmapCopy() {
    if (record_) HostFreeBitmap(record_.get());
  }
  BitmapCopy(const BitmapCopy&) = delete;
  BitmapCopy& operator=(const BitmapCopy&) = delete;

  // Copies `source` (pixels, region, orientation): SUCCESS, ERROR_NO_MEMORY or the copy's code.
  int32_t Make(BitmapRecord* source) {
    if (!record_.AllocateCleared(1)) return ERROR_NO_MEMORY;
    CallbackPause pause;
    return HostCopyBitmap(record_.get(), source, BITMAP_STRUCT_SIZE);
  }
  BitmapRecord* get() const { return record_.get(); }

 private:
  HostBlock<BitmapRecord> record_;
};

// Runs a whole-image host operation without the caller's callback (it reports no progress of its
// own, and its row writes do not count as the caller's).
template <class Op>
int32_t Paused(Op&& op) {
  CallbackPause pause;
  return op();
}

}  // namespace fx
