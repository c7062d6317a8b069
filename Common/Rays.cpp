// Reference distance and window allocation of the ray blurs.
#include "Common/Rays.h"

#include <cmath>

namespace fx {

uint32_t RayReferenceDistance(const RECT& rect, POINT center) {
  const int64_t toRight = int64_t{rect.right} - center.x, toLeft = int64_t{center.x} - rect.left;
  const int64_t toBottom = int64_t{rect.bottom} - center.y, toTop = int64_t{center.y} - rect.top;
  const int64_t dx = toRight > toLeft ? toRight : toLeft;
  const int64_t dy = toBottom > toTop ? toBottom : toTop;
  const double d = std::sqrt(
      static_cast<double>(static_cast<uint64_t>(dx * dx) + static_cast<uint64_t>(dy * dy)));
  return d >= 4294967295.0 ? UINT32_MAX : static_cast<uint32_t>(d);
}

int32_t RayPass::Open(BitmapRecord* bitmap, int64_t requestedRows) {
  const int32_t rc = access_.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  height_ = bitmap->Height;
  const size_t rowBytes = size_t(access_.RowBytes()) + 4 * size_t(access_.PixelStep());
  return requestedRows >= height_ ? rows_.AllocateWhole(height_, rowBytes)
                                  : rows_.AllocateSliding(static_cast<int32_t>(requestedRows), rowBytes);
}

}  // namespace fx
