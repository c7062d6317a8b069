// A bitmap of one uniform working value (or a callable's values) for tests that read single
// output pixels back by position, as the effect sees them in orientation 1.
#pragma once

#include <cstring>
#include <functional>

#include "EffectCheck.h"

namespace fxtest {

class Canvas {
 public:
  Canvas(int32_t width, int32_t height, int32_t bpp, uint32_t order = ORDER_BGR)
      : bitmap_(width, height, bpp, order) {}
  BitmapRecord* get() { return bitmap_.get(); }

  // Sets every working sample to value(x, y, k).
  void Fill(const std::function<uint32_t(int32_t, int32_t, int32_t)>& value) {
    const Snapshot s = Snapshot::Of(get());
    std::vector<uint8_t> rows(s.rows.size());
    for (int32_t y = 0; y < s.height; ++y)
      for (int32_t x = 0; x < s.width; ++x)
        for (int32_t k = 0; k < s.step; ++k) {
          uint8_t* at = rows.data() + size_t(y) * s.rowBytes;
          const uint32_t v = value(x, y, k);
          if (s.bits == 16) {
            const uint16_t v16 = static_cast<uint16_t>(v);
            std::memcpy(at + 2 * (size_t(x) * s.step + k), &v16, 2);
          } else {
            at[size_t(x) * s.step + k] = static_cast<uint8_t>(v);
          }
        }
    WriteWorkingRows(get(), rows);
  }
  void Fill(uint32_t value) {
    Fill([=](int32_t, int32_t, int32_t) { return value; });
  }
  Snapshot Take() { return Snapshot::Of(get()); }

 private:
  TestBitmap bitmap_;
};

}  // namespace fxtest
