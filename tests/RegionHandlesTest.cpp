// Region handles: a region taken off a bitmap as seen in its view, moved, and set on another
// bitmap holds the same pixels; the queries answer the kind; the release frees the handle.
#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class RegionHandlesTest : public HostFixture {};

TEST_F(RegionHandlesTest, TakenMovedAndSetOnAnotherBitmap) {
  for (bool mask : {false, true}) {
    SCOPED_TRACE(mask ? "mask" : "rectangle");
    TestBitmap source(14, 10, 24, ORDER_BGR, 6);  // regions are answered in the view
    ASSERT_EQ(mask ? fxrel::SetMaskRegion(source.get()) : fxrel::SetRectRegion(source.get()),
              SUCCESS);
    RECT bounds;
    HostGetRegionBounds(source.get(), nullptr, &bounds);
    HostRegionHandle* handle = HostGetRegionHandle(source.get());
    ASSERT_NE(handle, nullptr);
    RECT box;
    EXPECT_EQ(fxrt::GetRgnBox(handle, &box), mask ? 3 : 2);
    EXPECT_TRUE(box.left == bounds.left && box.top == bounds.top && box.right == bounds.right &&
                box.bottom == bounds.bottom);
    EXPECT_EQ(fxrt::OffsetRgn(handle, -box.left + 1, -box.top), mask ? 3 : 2);
    // The target is as large as the bounds plus one column; the region lands one column in.
    TestBitmap target(box.right - box.left + 1, box.bottom - box.top, 8, ORDER_GRAY);
    EXPECT_EQ(HostSetRegion(target.get(), nullptr, handle, 1), SUCCESS);
    EXPECT_EQ(HostReleaseTracked(3, handle), SUCCESS);
    for (int32_t y = 0; y < target->Height; ++y)
      for (int32_t x = 0; x < target->Width; ++x) {
        const bool expected = x >= 1 && HostIsInRegion(source.get(), box.left + x - 1, box.top + y);
        EXPECT_EQ(HostIsInRegion(target.get(), x, y) != 0, expected) << x << "," << y;
      }
  }
}

TEST_F(RegionHandlesTest, EdgeCases) {
  TestBitmap plain(6, 5, 24);
  EXPECT_EQ(HostGetRegionHandle(plain.get()), nullptr);  // no region: no handle
  EXPECT_EQ(fxrt::GetRgnBox(nullptr, nullptr), 0);
  const RECT r{1, 1, 3, 4};
  ASSERT_EQ(HostSetRegionRect(plain.get(), nullptr, &r, 1), SUCCESS);
  HostRegionHandle* handle = HostGetRegionHandle(plain.get());
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(HostReleaseTracked(2, handle), ERROR_HOST_BAD_ARGUMENT);  // kind 3 only
  // Moved off the target entirely: refused, the target's region kept.
  fxrt::OffsetRgn(handle, 100, 0);
  TestBitmap target(6, 5, 24);
  EXPECT_EQ(HostSetRegion(target.get(), nullptr, handle, 1), ERROR_EMPTY_RECT);
  EXPECT_FALSE(HostHasRegion(target.get()));
  // Offsets saturate instead of wrapping.
  fxrt::OffsetRgn(handle, INT32_MAX, INT32_MIN);
  fxrt::OffsetRgn(handle, 0, INT32_MIN);
  RECT box;
  fxrt::GetRgnBox(handle, &box);
  EXPECT_EQ(box.right, INT32_MAX);
  EXPECT_EQ(box.top, INT32_MIN);
  EXPECT_EQ(HostReleaseTracked(3, handle), SUCCESS);
}

}  // namespace
