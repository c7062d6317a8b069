// What the two tile effects (mosaic tiles, roman mosaic) share: the mask bitmap they draw their
// joints or tiles on, owners for the drawing context and its pens and brushes, and the shadow
// they can add to the result with add shadow.
#pragma once

#include <cstdint>

#include "frame/Frame.h"
#include "fxkit/effects.h"
#include "host/Host.h"

namespace fx {

// A temporary bitmap (the mask, a copy): a 272-byte record from the host and, once the host has
// set it up, its pixels; both released on destruction.
class MaskBitmap {
 public:
  MaskBitmap() = default;
  ~MaskBitmap() {
    if (record_ && initialised_) HostFreeBitmap(record_.get());
  }
  MaskBitmap(const MaskBitmap&) = delete;
  MaskBitmap& operator=(const MaskBitmap&) = delete;

  bool AllocateRecord() { return record_.AllocateCleared(1); }
  // HostInitBitmap at 24 bits: width x height, orientation 1, no pixels yet.
  int32_t Init(int32_t width, int32_t height) {
    const int32_t rc = HostInitBitmap(record_.get(), BITMAP_STRUCT_SIZE, width, height, 24);
    initialised_ = rc == SUCCESS;
    return rc;
  }
  // The host has filled the record (a copy): its pixels are released with it.
  void Adopt() { initialised_ = true; }
  BitmapRecord* get() const { return record_.get(); }

 private:
  HostBlock<BitmapRecord> record_;
  bool initialised_ = false;
};

// A drawing context on a bitmap, released on destruction.
class DrawingContext {
 public:
  explicit DrawingContext(BitmapRecord* bitmap) : dc_(HostCreateBitmapDC(bitmap)) {}
  ~DrawingContext() { HostDeleteBitmapDC(dc_); }
  DrawingContext(const DrawingContext&) = delete;
  DrawingContext& operator=(const DrawingContext&) = delete;
  HostDC* get() const { return dc_; }

 private:
  HostDC* dc_;
};

// A pen or brush selected into a context while it lives: the previous object is selected back and
// the object deleted on destruction. Holds nothing when the object could not be made.
class Selected {
 public:
  Selected(HostDC* dc, HostDrawObject* object) : dc_(dc), object_(object) {
    if (object_) previous_ = HostSelectObject(dc_, object_);
  }
  ~Selected() {
    if (!object_) return;
    HostSelectObject(dc_, previous_);
    HostDeleteObject(object_);
  }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;
  explicit operator bool() const { return object_ != nullptr; }

 private:
  HostDC* dc_;
  HostDrawObject* object_;
  HostDrawObject* previous_ = nullptr;
};

// The shadow level, given for 8-bit samples, on the bitmap's own sample range: x257 for 16-bit
// gray and 48/64-bit colour, the 12-bit widening v << 4 | v >> 4 for 12-bit gray.
inline uint32_t ShadowLevel(const BitmapRecord* bitmap, uint32_t level) {
  const int32_t bpp = bitmap->BitsPerPixel;
  const bool gray = HostIsGrayscale(bitmap) != 0;
  if (bpp == 12 && gray) return level << 4 | level >> 4;
  if ((bpp == 16 && gray) || bpp == 48 || bpp == 64) return level * 257;
  return level;
}

// Fx_AddShadowBitmap over the result, with the host's callback switched off around it.
inline int32_t AddTileShadow(BitmapRecord* bitmap, uint32_t direction, uint32_t level,
                             uint32_t mode) {
  const uint32_t scaled = ShadowLevel(bitmap, level);
  CallbackPause pause;
  return Fx_AddShadowBitmap(bitmap, direction, scaled, mode);
}

// The progress step of the drawing stages: the write phase's progress advanced by `steps` and the
// callback's answer.
inline int32_t ProgressStep(RowAccess* access, int32_t steps) {
  return HostAdvanceProgress(access, steps);
}

}  // namespace fx
