// Spherize, punch and bending: entry checks, every pixel against a direct evaluation of the
// remapping (window rows included), the outside modes and fold handling, and the fault paths.
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

enum Kind { kSpherize, kPunch, kBending };
const char* const kNames[] = {"spherize", "punch", "bending"};

struct Call {
  Kind kind;
  int32_t strength;
  uint32_t ramp;  // punch only
  POINT center;
  uint32_t fillColor;
  uint32_t flags;
};

int32_t Apply(const Call& c, BitmapRecord* b) {
  switch (c.kind) {
    case kSpherize:
      return Fx_SpherizeBitmap(b, c.strength, c.center, c.fillColor, c.flags);
    case kPunch:
      return Fx_PunchBitmap(b, c.strength, c.ramp, c.center, c.fillColor, c.flags);
    default:
      return Fx_BendingBitmap(b, c.strength, c.center, c.fillColor, c.flags);
  }
}

class SphereTest : public HostFixture {};

TEST_F(SphereTest, EntryChecksInTheirOrder) {
  struct Case {
    Call call;
    std::function<void(BitmapRecord*)> spoil;
    int32_t expected;
    bool changes;
  };
  const auto none = [](BitmapRecord*) {};
  const auto badSize = [](BitmapRecord* b) { b->StructSize = 100; };
  const POINT mid{6, 5}, out{13, 5};  // the bitmap is 12 x 10
  const Case cases[] = {
      {{kSpherize, 501, 0, mid, 0, 0}, badSize, ERROR_INV_STRUCT_SIZE, false},
      {{kSpherize, 501, 0, mid, 0, 0}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kSpherize, INT32_MIN, 0, mid, 0, 0}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kSpherize, 0, 0, out, 0, 0x13}, none, SUCCESS, false},
      {{kSpherize, 500, 0, out, 0, 0x13}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kSpherize, 500, 0, mid, 0, 0x13}, none, ERROR_INV_PARAMETER, false},
      {{kSpherize, -500, 0, mid, 0, 0x20}, none, ERROR_INV_PARAMETER, false},
      {{kSpherize, -500, 0, {-1, -1}, 0, 0x112}, none, SUCCESS, true},
      {{kPunch, 501, 0, mid, 0, 0}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kPunch, 0, 1001, mid, 0, 0}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kPunch, 100, 0xFFFFFFFF, mid, 0, 0}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kPunch, 0, 0, mid, 0, 0x13}, none, ERROR_INV_PARAMETER, false},
      {{kPunch, 200, 0, out, 0, 0x10}, none, SUCCESS, false},
      {{kPunch, -200, 0, mid, 0, 0}, none, SUCCESS, true},
      {{kPunch, 500, 1000, out, 0, 0}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kBending, -501, 0, mid, 0, 0}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kBending, 0, 0, out, 0, 0x300}, none, SUCCESS, false},
      {{kBending, 300, 0, out, 0, 0x300}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kBending, 300, 0, mid, 0, 0x300}, none, ERROR_INV_PARAMETER, false},
      {{kBending, 300, 0, mid, 0, 0x133}, none, ERROR_INV_PARAMETER, false},
      {{kBending, 300, 0, out, 0, 0x100}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kBending, 300, 0, {12, 10}, 0, 0x1212}, none, SUCCESS, true},
  };
  for (const auto& c : cases) {
    TestBitmap b(12, 10, 24);
    ASSERT_TRUE(b.ok());
    b.FillNoise(7);
    ASSERT_EQ(HostSetOrientation(nullptr, b.get(), 272, 6, 0), SUCCESS);  // work happens in 1
    c.spoil(b.get());
    const auto before = b.Stored();
    EXPECT_EQ(Apply(c.call, b.get()), c.expected)
        << kNames[c.call.kind] << " strength " << c.call.strength << " flags " << c.call.flags;
    EXPECT_EQ(b->Orientation, 6);
    EXPECT_EQ(b.Stored() != before, c.changes) << kNames[c.call.kind] << " " << c.call.strength;
    b->StructSize = 272;
  }
  for (Kind kind : {kSpherize, kPunch, kBending})
    EXPECT_EQ(Apply({kind, 100, 10, {0, 0}, 0, 0}, nullptr), ERROR_NO_BITMAP);
}

TEST_F(SphereTest, BitsAboveTheCheckedOnesAreIgnored) {
  const std::pair<Call, uint32_t> cases[] = {
      {{kSpherize, 200, 0, {9, 7}, 0x123456, 0}, 0x100},  // mode 0, no fold handling
      {{kSpherize, 200, 0, {9, 7}, 0x123456, 0x11}, 0xFFFFFF00},
      {{kPunch, -250, 0, {9, 7}, 0x123456, 0x12}, 0x8000FF00},
      {{kBending, 300, 0, {9, 7}, 0x123456, 0x111}, 0xFFFFF000},
  };
  for (const auto& [call, extra] : cases) {
    TestBitmap plain(19, 15, 24), marked(19, 15, 24);
    plain.FillNoise(3);
    marked.FillNoise(3);
    Call withExtra = call;
    withExtra.flags |= extra;
    ASSERT_EQ(Apply(call, plain.get()), SUCCESS);
    ASSERT_EQ(Apply(withExtra, marked.get()), SUCCESS);
    EXPECT_EQ(marked.Stored(), plain.Stored()) << kNames[call.kind];
  }
}

// Working samples of a bitmap in its current view.
struct Snap {
  std::vector<uint8_t> data;
  int32_t rowBytes, bits, step, width, height;
  explicit Snap(BitmapRecord* b)
      : data(fxtest::WorkingRows(b)), width(b->Width), height(b->Height) {
    RowAccess* a = nullptr;
    EXPECT_EQ(HostOpenRowAccess(b, &a, 2), SUCCESS);
    rowBytes = HostRowBytes(a), bits = HostSampleBits(a), step = HostPixelStep(a);
    HostCloseRowAccess(a);
  }
  uint32_t at(int32_t x, int32_t y, int32_t k) const {
    return fxtest::SampleAt(data, rowBytes, bits, step, x, y, k);
  }
  uint32_t Clamp(double v) const {
    const int64_t i = static_cast<int64_t>(v);
    return static_cast<uint32_t>(std::clamp<int64_t>(i, 0, bits == 16 ? 65535 : 255));
  }
  // Bilinear interpolation over the bitmap rows listed in `table`.
  uint32_t Bilinear(const std::vector<int32_t>& table, double x, double y, int32_t k) const {
    const int32_t n = static_cast<int32_t>(table.size());
    int32_t ix = static_cast<int32_t>(x), iy = static_cast<int32_t>(y);
    const double fx = x - ix, fy = y - iy;
    int32_t ix1 = ix + 1, iy1 = iy + 1;
    if (iy1 <= 0) iy = iy1 = 0;
    if (iy1 >= n) iy = iy1 = n - 1;
    if (ix1 >= width) ix = ix1 = width - 1;
    if (ix1 <= 0) ix = ix1 = 0;
    const double p00 = at(ix, table[iy], k), p01 = at(ix1, table[iy], k);
    const double p10 = at(ix, table[iy1], k), p11 = at(ix1, table[iy1], k);
    return Clamp(((p00 + (p01 - p00) * fx) + (p10 - p00) * fy) +
                 ((p00 + p11 - p01 - p10) * fx) * fy);
  }
  // Linear interpolation along row y.
  uint32_t Linear(int32_t y, double x, int32_t k) const {
    const int32_t ix = static_cast<int32_t>(x), ix1 = std::min(ix + 1, width - 1);
    const double p0 = at(ix, y, k), p1 = at(ix1, y, k);
    return Clamp(p0 + (p1 - p0) * (x - ix));
  }
};

// The fill colour as the working pixels of this bitmap carry it.
std::array<uint32_t, 3> PreparedFill(const BitmapRecord* b, uint32_t colour) {
  const int32_t bpp = b->BitsPerPixel;
  const int shift = bpp == 12 || bpp == 16 || bpp == 48 || bpp == 64 ? 8 : 0;
  uint32_t r = (colour & 0xFF) << shift, g = (colour >> 8 & 0xFF) << shift,
           bl = (colour >> 16 & 0xFF) << shift;
  if (b->Order == ORDER_GRAY) r = g = bl = (bl + 5 * g + 2 * r) / 8;
  return {bl, g, r};
}

struct Expectation {
  std::vector<uint32_t> samples;  // every sample of the view, x fastest
  std::vector<bool> beyond;       // pixels outside the ellipse or circle
  bool sliding;
};

// Direct evaluation of the remapping for every pixel of the rectangle. The source window of
// output row y holds bitmap rows y - half + i (clamped to the bitmap); with an even N the ring
// has already replaced its oldest row y - half by y + half at index 0.
Expectation Evaluate(const Snap& s, RECT rc, const Call& c, std::array<uint32_t, 3> fill) {
  const double pi = 3.1415926535, k = std::abs(c.strength) / 100.0;
  const int32_t shape = c.flags & 0xF00, mode = c.flags & 0xF;
  const bool fold = c.flags & 0x10, alongRows = c.kind == kBending && shape != 0;
  const bool ellipse = c.kind != kBending;
  const int32_t a = (rc.right - rc.left - 1) / 2, b = (rc.bottom - rc.top - 1) / 2;
  const int32_t rows = rc.bottom - rc.top;
  const double D = std::sqrt(double(a * a + b * b));
  const int32_t n = std::min(int32_t(D * 0.44 * k) + 3, rows), half = n / 2;
  const POINT ctr =
      alongRows ? POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2} : c.center;
  const int32_t nk = s.step == 1 ? 1 : 3;
  Expectation e{{}, std::vector<bool>(size_t(s.width) * s.height), n != rows};
  for (int32_t y = 0; y < s.height; ++y)
    for (int32_t x = 0; x < s.width; ++x)
      for (int32_t kk = 0; kk < s.step; ++kk) e.samples.push_back(s.at(x, y, kk));
  const auto put = [&](int32_t x, int32_t y, const std::function<uint32_t(int32_t)>& value) {
    for (int32_t kk = 0; kk < nk; ++kk)
      e.samples[(size_t(y) * s.width + x) * s.step + kk] = value(kk);
  };
  const auto fillAt = [&](int32_t x, int32_t y) {
    put(x, y, [&](int32_t kk) { return fill[kk]; });
  };
  for (int32_t y = rc.top; y < rc.bottom; ++y) {
    std::vector<int32_t> table(n);
    for (int32_t i = 0; i < n; ++i) {
      const int32_t row = e.sliding ? (n % 2 == 0 && i == 0 ? y + half : y - half + i) : rc.top + i;
      table[i] = std::clamp(row, 0, s.height - 1);
    }
    const int32_t w = e.sliding ? half : y - rc.top;
    for (int32_t x = rc.left; x < rc.right; ++x) {
      const int32_t dx = x - ctr.x, dy = y - ctr.y;
      const double r = std::sqrt(double(dx * dx + dy * dy)),
                   th = std::atan2(double(dy), double(dx));
      const double co = std::cos(th), si = std::sin(th);
      const double R = ellipse ? std::sqrt(double(a * a) * co * co + double(b * b) * si * si) : D;
      if (r > R) {
        e.beyond[size_t(y) * s.width + x] = true;
        continue;
      }
      double rp = 0;
      if (R > 0 && c.kind == kSpherize)
        rp = c.strength > 0 ? (std::asin(r / R) * (R / (pi / 2.0)) - r) * k + r
                            : (R * std::sin(r * (pi / 2.0) / R) - r) * k + r;
      if (R > 0 && c.kind == kPunch)
        rp = c.strength > 0
                 ? (std::sqrt(r * R) - r) * (1.0 - std::exp((-1.0 * c.ramp) / 1000.0 * r)) * k + r
                 : (r * r / R - r) * k + r;
      if (R > 0 && c.kind == kBending) {
        const double q = pi / (2.0 * D);
        rp =
            c.strength > 0 ? (std::asin(r / D) / q - r) * k + r : (D * std::sin(r * q) - r) * k + r;
      }
      if (fold && rp <= 0) {
        if (mode == 2 || (mode == 0 && dx == 0 && dy == 0)) continue;
        if (mode == 0) {
          if (dy == 0 && dx == 1 && x != rc.left) fillAt(x - 1, y);
          if (dy == 0 && dx == -1 && x != rc.right - 1) fillAt(x + 1, y);
          fillAt(x, y);
          continue;
        }
        rp = 0;
      }
      double sx = ctr.x + rp * co;
      const bool inX = rc.left <= sx && sx < rc.right;
      const auto clampX = [&] {
        sx = sx >= rc.right ? rc.right - 1 : (sx < rc.left ? rc.left : sx);
      };
      if (alongRows) {
        if (!inX && mode == 0) fillAt(x, y);
        if (!inX && mode != 1) continue;
        clampX();
        put(x, y, [&](int32_t kk) { return s.Linear(y, sx, kk); });
        continue;
      }
      double sy;
      bool inside;
      if (e.sliding) {
        double d = rp * si - dy;
        inside = inX && rc.top <= y + d && y + d < rc.bottom;
        if (!inside && mode == 1)
          d = y + d >= rc.bottom ? rc.bottom - 1 - y : (y + d < rc.top ? rc.top - y : d);
        sy = w + d;
      } else {
        sy = (w - dy) + rp * si;
        inside = inX && 0 <= sy && sy < n;
        if (!inside && mode == 1) sy = sy >= n ? n - 1 : (sy < 0 ? 0 : sy);
      }
      if (!inside && mode == 0) fillAt(x, y);
      if (!inside && mode != 1) continue;
      if (!inside) clampX();
      put(x, y, [&](int32_t kk) { return s.Bilinear(table, sx, sy, kk); });
    }
  }
  return e;
}

TEST_F(SphereTest, PixelsMatchADirectEvaluation) {
  struct Case {
    int32_t bpp;
    uint32_t order;
    Call call;
    RECT region;  // empty: none
  };
  const RECT none{}, part{3, 4, 35, 26}, tall{14, 0, 26, 30}, odd{2, 3, 37, 28};
  const Case cases[] = {
      {24, ORDER_BGR, {kSpherize, 100, 0, {20, 15}, 0, 0}, none},            // N 13 of 30
      {48, ORDER_RGB, {kSpherize, -50, 0, {12, 20}, 0x3366CC, 1}, none},     // N 8, even
      {8, ORDER_GRAY, {kSpherize, 300, 0, {20, 15}, 0x4080C0, 0x10}, none},  // whole
      {16, ORDER_GRAY, {kSpherize, 300, 0, {-1, 15}, 0, 0x11}, none},        // whole
      {32, ORDER_BGR, {kSpherize, 100, 0, {34, 5}, 0, 2}, part},             // N 10, even
      {64, ORDER_BGR, {kSpherize, -500, 0, {20, 15}, 0x00FF00, 0}, none},    // whole
      {24, ORDER_BGR, {kPunch, -300, 0, {20, 15}, 0xFF00FF, 0x10}, none},    // whole
      {16, ORDER_GRAY, {kPunch, 200, 50, {10, 8}, 0, 1}, none},              // N 23
      {48, ORDER_BGR, {kPunch, -150, 0, {25, 12}, 0x102030, 0}, none},       // N 18
      {8, ORDER_GRAY, {kPunch, -250, 0, {18, 14}, 0, 0x12}, part},           // N = rows 22
      {24, ORDER_RGB, {kPunch, 500, 1000, {35, 26}, 0xFFFFFF, 0x10}, part},  // whole
      {24, ORDER_BGR, {kPunch, -300, 0, {20, 15}, 0, 0}, tall},
      {16,
       ORDER_GRAY,
       {kPunch, 200, 1000, {20, 22}, 0, 1},
       part},  // N 18, below bottom             // N 22, samples index 0
      {24, ORDER_BGR, {kBending, 150, 0, {0, 0}, 0x0000FF, 0x10}, none},    // N 18
      {16, ORDER_GRAY, {kBending, -300, 0, {30, 20}, 0, 2}, none},          // whole
      {8, ORDER_GRAY, {kBending, 120, 0, {22, 16}, 0x808080, 0x12}, part},  // N 12
      {24, ORDER_BGR, {kBending, 300, 0, {5, 5}, 0xFF8000, 0x110}, none},   // along rows
      {48, ORDER_RGB, {kBending, -200, 0, {5, 5}, 0, 0x101}, odd},          // along rows
      {8, ORDER_GRAY, {kBending, 250, 0, {5, 5}, 0x202020, 0x210}, odd},    // along columns
      {64, ORDER_RGB, {kBending, 100, 0, {5, 5}, 0, 0x202}, none},          // along columns
  };
  int slidingCases = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(kNames[c.call.kind]) + " bpp " + std::to_string(c.bpp) + " strength " +
                 std::to_string(c.call.strength) + " flags " + std::to_string(c.call.flags));
    TestBitmap b(40, 30, c.bpp, c.order);
    b.FillNoise(c.bpp + c.call.strength);
    if (c.region.right > c.region.left) {
      ASSERT_EQ(HostSetRegionRect(b.get(), nullptr, &c.region, 1), SUCCESS);
    }
    const uint8_t view = (c.call.flags & 0xF00) == 0x200 ? 5 : 1;  // columns run as rows
    const auto look = [&](uint8_t o) { HostSetOrientation(nullptr, b.get(), 272, o, 0); };
    look(view);
    const Snap before(b.get());
    RECT rc{0, 0, b->Width, b->Height};
    if (HostHasRegion(b.get())) HostGetRegionBounds(b.get(), nullptr, &rc);
    const Expectation e = Evaluate(before, rc, c.call, PreparedFill(b.get(), c.call.fillColor));
    look(1);
    ASSERT_EQ(Apply(c.call, b.get()), SUCCESS);
    look(view);
    const Snap after(b.get());
    look(1);
    slidingCases += e.sliding && (c.call.flags & 0xF00) == 0;
    int moved = 0;
    for (int32_t y = 0; y < after.height; ++y)
      for (int32_t x = 0; x < after.width; ++x)
        for (int32_t k = 0; k < after.step; ++k) {
          const uint32_t got = after.at(x, y, k);
          ASSERT_EQ(got, e.samples[(size_t(y) * after.width + x) * after.step + k])
              << x << "," << y << " sample " << k << (e.sliding ? " sliding" : " whole");
          if (e.beyond[size_t(y) * after.width + x]) {
            ASSERT_EQ(got, before.at(x, y, k));
          }
          moved += got != before.at(x, y, k);
        }
    EXPECT_GT(moved, 100);
  }
  EXPECT_GE(slidingCases, 6);
}

// Hand-worked pixels on the centre row of a 21 x 15 rectangle (a = 10, b = 7, centre row 7).
// Strength 300 folds every pixel within about 0.3 R of the centre (at dx = 1, r' = -0.087), so
// the centre and its row neighbours get the fill (mode 0), the centre's colour (mode 1) or stay
// (mode 2). A centre on the first or last column is filled by its one neighbour alone.
TEST_F(SphereTest, FoldHandlingOnTheCentreRow) {
  const uint32_t fillColor = 0x3060C0;  // working B, G, R = C0, 60, 30
  const Call calls[] = {{kSpherize, 300, 0, {}, fillColor, 0},
                        {kPunch, -300, 0, {}, fillColor, 0},
                        {kBending, 300, 0, {}, fillColor, 0},
                        {kBending, 300, 0, {}, fillColor, 0x100}};  // about (10, 7) always
  for (Call call : calls)
    for (int32_t cx : {10, 0, 20})
      for (uint32_t mode : {0u, 1u, 2u}) {
        if ((call.flags & 0xF00) && cx != 10) continue;
        call.flags = (call.flags & 0xF00) | 0x10 | mode;
        call.center = POINT{cx, 7};
        TestBitmap b(21, 15, 24);
        b.FillNoise(11);
        const Snap s(b.get());
        ASSERT_EQ(Apply(call, b.get()), SUCCESS);
        const Snap t(b.get());
        for (int32_t x = std::max(cx - 1, 0); x <= std::min(cx + 1, 20); ++x)
          for (int32_t k = 0; k < 3; ++k) {
            const uint32_t want = mode == 0   ? (fillColor >> (16 - 8 * k)) & 0xFF
                                  : mode == 1 ? s.at(cx, 7, k)  // the centre's own colour
                                              : s.at(x, 7, k);
            EXPECT_EQ(t.at(x, 7, k), want)
                << kNames[call.kind] << " centre " << cx << " mode " << mode << " x " << x;
          }
      }
}

// With strength -500 the centre row's pixels at dx = 4 .. 9 take sources beyond the right edge:
// r' = (10·sin(dx·(pi/2)/10) - dx)·5 + dx gives sx = 23.4, 25.4, 26.5, 26.6, 25.6, 23.4 for dx
// 4 .. 9, while dx = 3 gives 20.7 (between column 20 and the clamped 21: pixel 20).
TEST_F(SphereTest, OutsideModesOnTheCentreRow) {
  for (uint32_t mode : {0u, 1u, 2u}) {
    TestBitmap b(21, 15, 24);
    b.FillNoise(12);
    const Snap s(b.get());
    ASSERT_EQ(Fx_SpherizeBitmap(b.get(), -500, POINT{10, 7}, 0x0000FF, mode), SUCCESS);
    const Snap t(b.get());
    for (int32_t x = 14; x <= 19; ++x)
      for (int32_t k = 0; k < 3; ++k) {
        const uint32_t want = mode == 0 ? (k == 2 ? 255u : 0u) : s.at(mode == 1 ? 20 : x, 7, k);
        EXPECT_EQ(t.at(x, 7, k), want) << "mode " << mode << " x " << x;
      }
    for (int32_t k = 0; k < 3; ++k) EXPECT_EQ(t.at(13, 7, k), s.at(20, 7, k)) << "mode " << mode;
  }
}

TEST_F(SphereTest, RegionMaskKeepsOutsidePixels) {
  for (Kind kind : {kSpherize, kPunch, kBending}) {
    TestBitmap b(30, 24, 24);
    b.FillNoise(4);
    std::vector<uint8_t> mask(30 * 24);
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 30; ++x) mask[y * 30 + x] = (x + y) % 3 != 0 && x > 4;
    ASSERT_EQ(HostSetRegionMask(b.get(), mask.data(), 30), SUCCESS);
    const Snap s(b.get());
    ASSERT_EQ(Apply({kind, -300, 0, {16, 12}, 0xFFFFFF, 0}, b.get()), SUCCESS);
    const Snap t(b.get());
    int moved = 0;
    for (int y = 0; y < 24; ++y)
      for (int x = 0; x < 30; ++x)
        for (int k = 0; k < 3; ++k) {
          if (!mask[y * 30 + x]) {
            ASSERT_EQ(t.at(x, y, k), s.at(x, y, k)) << kNames[kind];
          }
          moved += t.at(x, y, k) != s.at(x, y, k);
        }
    EXPECT_GT(moved, 50) << kNames[kind];
  }
}

TEST_F(SphereTest, EveryFailurePathCleansUp) {
  const std::pair<Call, int32_t> cases[] = {
      {{kSpherize, 100, 0, {4, 3}, 0, 0x10}, 24},  // sliding window
      {{kSpherize, -500, 0, {4, 3}, 0, 1}, 16},    // whole rectangle
      {{kPunch, -300, 0, {4, 3}, 0, 0x10}, 48},    {{kPunch, 300, 100, {4, 3}, 0, 0}, 8},
      {{kBending, 200, 0, {4, 3}, 0, 0}, 24},      {{kBending, 200, 0, {4, 3}, 0, 0x100}, 16},
      {{kBending, -200, 0, {4, 3}, 0, 0x201}, 32},
  };
  for (const auto& [call, bpp] : cases) {
    auto stats = fxtest::SweepFaults(
        [bpp] {
          auto b = std::make_unique<TestBitmap>(8, 7, bpp,
                                                bpp == 16 || bpp == 8 ? ORDER_GRAY : ORDER_BGR, 4);
          b->FillNoise(3);
          return b;
        },
        [call](BitmapRecord* b) { return Apply(call, b); }, kNames[call.kind]);
    EXPECT_GT(stats.points, 10);
  }
}

}  // namespace
