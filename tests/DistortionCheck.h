// Checks shared by the inverse-mapping distortion tests: the entry table run on two
// orientations, a snapshot of the working rows, a plain re-derivation of the bilinear sample,
// and the comparison of every pixel with an independent evaluation.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace fxtest {

using Call = std::function<int32_t(BitmapRecord*)>;

// Runs call on a 12 x 9 32-bit bitmap spoiled by `spoil`, in orientations 1 and 6: the code must
// be `expected`, the orientation must come back, and a failure must leave the pixels alone.
struct EntryCase {
  const char* what;
  std::function<void(BitmapRecord*)> spoil;
  Call call;
  int32_t expected;
};
inline void CheckEntryCases(const std::vector<EntryCase>& cases) {
  for (const auto& c : cases) {
    for (uint8_t orientation : {1, 6}) {
      TestBitmap b(12, 9, 32, ORDER_BGR);
      ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, orientation, 0), SUCCESS);
      b.FillNoise(7);
      if (c.spoil) c.spoil(b.get());
      const auto before = b.Stored();
      EXPECT_EQ(c.call(b.get()), c.expected) << c.what << " orientation " << int(orientation);
      EXPECT_EQ(b->Orientation, orientation) << c.what;
      if (c.expected != SUCCESS) {
        EXPECT_EQ(b.Stored(), before) << c.what;
      }
      b->StructSize = 272;
      b->Flags |= FLAG_ALLOCATED;
    }
  }
}

struct Snapshot {
  std::vector<uint8_t> rows;
  int32_t rowBytes = 0, bits = 8, step = 1, width = 0, height = 0;

  static Snapshot Of(BitmapRecord* bitmap) {
    Snapshot s;
    RowAccess* a = nullptr;
    EXPECT_EQ(HostOpenRowAccess(bitmap, &a, 2), SUCCESS);
    s.rowBytes = HostRowBytes(a), s.bits = HostSampleBits(a), s.step = HostPixelStep(a);
    HostCloseRowAccess(a);
    s.width = bitmap->Width, s.height = bitmap->Height;
    s.rows = WorkingRows(bitmap);
    return s;
  }
  uint32_t at(int32_t x, int32_t y, int32_t k) const {
    return SampleAt(rows, rowBytes, bits, step, x, y, k);
  }
  int32_t max() const { return bits == 16 ? 65535 : 255; }
};

// Sample k at (x, y) where y indexes a table of rowCount rows and tableRow maps a table index to
// the bitmap row it holds: truncation, edge clamping and the order of the sums as defined.
inline int32_t ReferenceBilinear(const Snapshot& s, const std::function<int32_t(int32_t)>& tableRow,
                                 int32_t rowCount, double x, double y, int32_t k) {
  int32_t ix = static_cast<int32_t>(x), iy = static_cast<int32_t>(y);
  const double fx = x - ix, fy = y - iy;
  int32_t ix1 = ix + 1, iy1 = iy + 1;
  if (iy1 <= 0)
    iy = iy1 = 0;
  else if (iy1 >= rowCount)
    iy = iy1 = rowCount - 1;
  if (ix1 >= s.width)
    ix = ix1 = s.width - 1;
  else if (ix1 <= 0)
    ix = ix1 = 0;
  const int32_t p00 = s.at(ix, tableRow(iy), k), p01 = s.at(ix1, tableRow(iy), k);
  const int32_t p10 = s.at(ix, tableRow(iy1), k), p11 = s.at(ix1, tableRow(iy1), k);
  const double v =
      ((p00 + (p01 - p00) * fx) + (p10 - p00) * fy) + ((p00 + p11 - p01 - p10) * fx) * fy;
  const int64_t t = static_cast<int64_t>(v);
  return static_cast<int32_t>(t < 0 ? 0 : (t > s.max() ? s.max() : t));
}

// A COLORREF as the distortions prepare it, {b, g, r}: deep depths scale by 256, bit 26 gives a
// 16-bit gray level directly on 12/16-bit gray, gray bitmaps mix (b + 5g + 2r) / 8.
inline std::vector<uint32_t> ReferenceFill(BitmapRecord* bitmap, uint32_t c) {
  uint32_t r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255;
  const int32_t bpp = bitmap->BitsPerPixel;
  const bool gray = bitmap->Order == ORDER_GRAY;
  if (bpp == 12 || bpp == 16 || bpp == 48 || bpp == 64) {
    r *= 256, g *= 256, b *= 256;
    if (gray && bpp <= 16 && (c & (1u << 26))) r = g = b = c & 0xFFFF;
  }
  if (gray) r = g = b = (b + 5 * g + 2 * r) / 8;
  return {b, g, r};
}

// A width x height bitmap of smooth content, with a rectangular region unless `region` is empty.
struct Scene {
  int32_t width, height, bpp;
  uint32_t order;
  RECT region;
};

// Builds the scene, runs call (which must succeed) and compares every sample: colour samples
// inside the rectangle with expected(snapshot, rect, x, y, k), everything else with the
// original. Returns the number of samples that changed.
using Expected =
    std::function<uint32_t(const Snapshot&, BitmapRecord*, const RECT&, int32_t, int32_t, int32_t)>;
inline int32_t CompareWithReference(const Scene& scene, const Call& call,
                                    const Expected& expected) {
  TestBitmap b(scene.width, scene.height, scene.bpp, scene.order);
  b.FillSmooth();
  RECT rc{0, 0, scene.width, scene.height};
  if (scene.region.right > scene.region.left) {
    EXPECT_EQ(HostSetRegionRect(b.get(), nullptr, &scene.region, 1), SUCCESS);
    rc = scene.region;
  }
  const Snapshot s = Snapshot::Of(b.get());
  EXPECT_EQ(call(b.get()), SUCCESS);
  const auto after = WorkingRows(b.get());
  int32_t changed = 0;
  for (int32_t y = 0; y < scene.height; ++y)
    for (int32_t x = 0; x < scene.width; ++x)
      for (int32_t k = 0; k < s.step; ++k) {
        const bool inRect = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
        const uint32_t got = SampleAt(after, s.rowBytes, s.bits, s.step, x, y, k);
        const uint32_t want = inRect && k < 3 ? expected(s, b.get(), rc, x, y, k) : s.at(x, y, k);
        if (got != want) {
          ADD_FAILURE() << "pixel " << x << "," << y << " sample " << k << ": " << got
                        << " instead of " << want;
          return changed;
        }
        changed += got != s.at(x, y, k);
      }
  return changed;
}

// The fault-path sweep on a small noisy 9 x 7 bitmap; returns the fault points exercised.
inline int64_t SweepSmall(int32_t bpp, uint32_t order, uint8_t orientation, const Call& call,
                          const char* label) {
  const auto make = [=] {
    auto b = std::make_unique<TestBitmap>(9, 7, bpp, order, orientation);
    b->FillNoise(3);
    return b;
  };
  return SweepFaults(make, call, label).points;
}

}  // namespace fxtest
