// Checks shared by the effect tests: entry tables, a snapshot of the working rows, plain
// re-derivations of the bilinear sample and of the prepared fill colour, and the comparison of
// every sample of a call's output with an independent evaluation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "TestSupport.h"

namespace fxtest {

// π as the effects' formulas write it.
inline constexpr double kPi = 3.1415926535;

using Call = std::function<int32_t(BitmapRecord*)>;
using Spoil = std::function<void(BitmapRecord*)>;

inline Spoil StructSize(uint32_t size) {
  return [=](BitmapRecord* b) { b->StructSize = size; };
}

// One row of an entry table: `call` on a noisy 32-bit bitmap, 12 x 10 as the effect sees it in
// orientation 1 (held in orientation 6), spoiled by `spoil`, must answer `expected`. A failure
// must leave the pixels alone; `changes` says what a success does to them.
enum Changes { kAny, kNone, kSome };
struct EntryCase {
  const char* what;
  Spoil spoil;
  Call call;
  int32_t expected;
  Changes changes = kAny;
};
inline void CheckEntryCases(const std::vector<EntryCase>& cases) {
  for (const auto& c : cases) {
    TestBitmap b(10, 12, 32, ORDER_BGR, 6);
    b.FillNoise(7);
    const BitmapRecord intact = *b.get();
    const auto before = b.Stored();
    if (c.spoil) c.spoil(b.get());
    const int32_t rc = c.call(b.get());
    EXPECT_EQ(rc, c.expected) << c.what;
    EXPECT_EQ(b->Orientation, 6) << c.what;
    b->StructSize = intact.StructSize, b->Flags = intact.Flags, b->Order = intact.Order;
    const bool changed = b.Stored() != before;
    if (rc != SUCCESS || c.changes != kAny) {
      EXPECT_EQ(changed, rc == SUCCESS && c.changes == kSome) << c.what;
    }
  }
}

// The working rows of a bitmap in its current view, with their format.
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
  // Every sample, x fastest and the samples of a pixel innermost: a model's starting point.
  std::vector<uint32_t> All() const {
    std::vector<uint32_t> out;
    for (int32_t y = 0; y < height; ++y)
      for (int32_t x = 0; x < width; ++x)
        for (int32_t k = 0; k < step; ++k) out.push_back(at(x, y, k));
    return out;
  }
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
// The same over a table of the rectangle's rows, y counted from its top.
inline int32_t ReferenceBilinear(const Snapshot& s, const RECT& rc, double x, double y, int32_t k) {
  return ReferenceBilinear(
      s, [&](int32_t i) { return rc.top + i; }, rc.bottom - rc.top, x, y, k);
}

// A COLORREF as the effects prepare it, {b, g, r}: deep depths scale by 256; bit 26 gives a
// 16-bit gray level directly on 12/16-bit gray (at every depth with `literalAnywhere`, its high
// byte at 8 bits); gray bitmaps mix (b + 5g + 2r) / 8.
inline std::vector<uint32_t> ReferenceFill(BitmapRecord* bitmap, uint32_t c,
                                           bool literalAnywhere = false) {
  uint32_t r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255;
  const int32_t bpp = bitmap->BitsPerPixel;
  const bool gray = bitmap->Order == ORDER_GRAY;
  const bool deep = bpp == 12 || bpp == 16 || bpp == 48 || bpp == 64;
  if (deep) r *= 256, g *= 256, b *= 256;
  if ((c & (1u << 26)) && (literalAnywhere || (gray && bpp <= 16 && deep)))
    r = g = b = deep ? c & 0xFFFF : (c & 0xFFFF) / 256;
  if (gray) r = g = b = (b + 5 * g + 2 * r) / 8;
  return {b, g, r};
}

// A width x height bitmap (as seen in `view`, where it is built, called and compared) of smooth
// content or noise from `seed`, with a rectangular region unless `region` is empty. (Masks and
// the rest of the region plumbing belong to the frame and are swept by the reliability suites.)
struct Scene {
  int32_t width, height, bpp;
  uint32_t order;
  RECT region{};
  uint32_t seed = 0;  // 0: smooth content
  uint8_t view = 1;
};

// What an expectation sees of one sample: the snapshot before the call, the bitmap, the bounds
// of the region (or the whole view) and the sample's position.
struct Sample {
  const Snapshot& s;
  BitmapRecord* bitmap;
  const RECT& rc;
  int32_t x, y, k;
  uint32_t before() const { return s.at(x, y, k); }
};
using Expected = std::function<uint32_t(const Sample&)>;

// Builds the scene, runs call (which must succeed) and compares every sample: colour samples
// inside the region with expected(sample), everything else with the original. 12-bit values are
// compared as stored. Returns the number of samples that changed.
inline int32_t CompareWithReference(const Scene& scene, const Call& call,
                                    const Expected& expected) {
  TestBitmap b(scene.width, scene.height, scene.bpp, scene.order, scene.view);
  if (scene.seed)
    b.FillNoise(scene.seed);
  else
    b.FillSmooth();
  const bool region = scene.region.right > scene.region.left;
  const RECT rc = region ? scene.region : RECT{0, 0, b->Width, b->Height};
  if (region) {
    EXPECT_EQ(HostSetRegionRect(b.get(), nullptr, &rc, 1), SUCCESS);
  }
  const Snapshot s = Snapshot::Of(b.get());
  EXPECT_EQ(call(b.get()), SUCCESS);
  EXPECT_EQ(b->Orientation, scene.view);
  const auto after = WorkingRows(b.get());
  int32_t changed = 0;
  for (int32_t y = 0; y < s.height; ++y)
    for (int32_t x = 0; x < s.width; ++x)
      for (int32_t k = 0; k < s.step; ++k) {
        const uint32_t got = SampleAt(after, s.rowBytes, s.bits, s.step, x, y, k);
        const bool inside = x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
        uint32_t want = inside && k < 3 ? expected(Sample{s, b.get(), rc, x, y, k}) : s.at(x, y, k);
        if (scene.bpp == 12) want = (want >> 4) << 4 | want >> 12;
        if (got != want) {
          ADD_FAILURE() << "pixel " << x << "," << y << " sample " << k << ": " << got
                        << " instead of " << want;
          return changed;
        }
        changed += got != s.at(x, y, k);
      }
  return changed;
}

// An expectation built once for the whole view (every sample, ordered as Snapshot::All).
inline Expected FromModel(
    std::function<std::vector<uint32_t>(const Snapshot&, BitmapRecord*, const RECT&)> model) {
  auto values = std::make_shared<std::vector<uint32_t>>();
  return [=](const Sample& p) {
    if (values->empty()) *values = model(p.s, p.bitmap, p.rc);
    return (*values)[(size_t(p.y) * p.s.width + p.x) * p.s.step + p.k];
  };
}

}  // namespace fxtest
