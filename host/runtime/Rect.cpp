// RECT and POINT helpers. Coordinates are formed in 64 bits and saturated, so extreme rectangles
// never overflow.
#include <algorithm>
#include <cstdint>

#include "host/runtime/Runtime.h"

namespace {
int32_t Saturate(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}
}  // namespace

namespace fxrt {

int32_t SetRect(RECT* rect, int32_t left, int32_t top, int32_t right, int32_t bottom) {
  if (!rect) return 0;
  *rect = RECT{left, top, right, bottom};
  return 1;
}

int32_t CopyRect(RECT* destination, const RECT* source) {
  if (!destination || !source) return 0;
  *destination = *source;
  return 1;
}

int32_t InflateRect(RECT* rect, int32_t dx, int32_t dy) {
  if (!rect) return 0;
  rect->left = Saturate(int64_t{rect->left} - dx);
  rect->top = Saturate(int64_t{rect->top} - dy);
  rect->right = Saturate(int64_t{rect->right} + dx);
  rect->bottom = Saturate(int64_t{rect->bottom} + dy);
  return 1;
}

int32_t OffsetRect(RECT* rect, int32_t dx, int32_t dy) {
  if (!rect) return 0;
  rect->left = Saturate(int64_t{rect->left} + dx);
  rect->top = Saturate(int64_t{rect->top} + dy);
  rect->right = Saturate(int64_t{rect->right} + dx);
  rect->bottom = Saturate(int64_t{rect->bottom} + dy);
  return 1;
}

int32_t IsRectEmpty(const RECT* rect) {
  return !rect || rect->right <= rect->left || rect->bottom <= rect->top;
}

int32_t IntersectRect(RECT* destination, const RECT* a, const RECT* b) {
  if (!destination || !a || !b) return 0;
  RECT r{std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
         std::min(a->bottom, b->bottom)};
  if (IsRectEmpty(&r)) {
    *destination = RECT{0, 0, 0, 0};
    return 0;
  }
  *destination = r;
  return 1;
}

int32_t PtInRect(const RECT* rect, POINT point) {
  if (!rect) return 0;
  return point.x >= rect->left && point.x < rect->right && point.y >= rect->top &&
         point.y < rect->bottom;
}

}  // namespace fxrt
