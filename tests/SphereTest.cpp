// Spherize, punch, bending and cylindrical: entry checks, every pixel against a direct
// evaluation of the remapping (window rows included), outside modes and fold handling worked by
// hand, the linear samplers, and the fault paths.
#include <array>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "Common/Samplers.h"
#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

enum Kind { kSpherize, kPunch, kBending, kCylindrical };
const char* const kNames[] = {"spherize", "punch", "bending", "cylindrical"};

struct Call {
  Kind kind;
  int32_t strength;
  uint32_t extra;  // punch: ramp; cylindrical: direction
  POINT center;
  uint32_t fillColor;
  uint32_t flags;
};

int32_t Apply(const Call& c, BitmapRecord* b) {
  switch (c.kind) {
    case kSpherize:
      return Fx_SpherizeBitmap(b, c.strength, c.center, c.fillColor, c.flags);
    case kPunch:
      return Fx_PunchBitmap(b, c.strength, c.extra, c.center, c.fillColor, c.flags);
    case kBending:
      return Fx_BendingBitmap(b, c.strength, c.center, c.fillColor, c.flags);
    default:
      return Fx_CylindricalBitmap(b, c.strength, c.extra, c.flags);
  }
}

// Whether the call remaps columns, which the tests then look at as the rows of view 5.
bool AlongColumns(const Call& c) {
  return c.kind == kCylindrical ? c.extra == 1 : c.kind == kBending && (c.flags & 0xF00) == 0x200;
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
  const auto size100 = [](BitmapRecord* b) { b->StructSize = 100; };
  const auto gray32 = [](BitmapRecord* b) { b->Order = ORDER_GRAY; };
  const POINT mid{6, 5}, out{13, 5};  // the bitmap is 12 x 10
  const Case cases[] = {
      {{kSpherize, 501, 0, mid, 0, 0}, size100, ERROR_INV_STRUCT_SIZE, false},
      {{kSpherize, 501, 0, mid, 0, 0}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kSpherize, INT32_MIN, 0, mid, 0, 0}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kSpherize, 0, 0, out, 0, 0x13}, none, SUCCESS, false},
      {{kSpherize, 500, 0, out, 0, 0x13}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kSpherize, 500, 0, mid, 0, 0x13}, none, ERROR_INV_PARAMETER, false},
      {{kSpherize, -500, 0, mid, 0, 0x20}, none, ERROR_INV_PARAMETER, false},
      {{kSpherize, -500, 0, {-1, -1}, 0, 0x112}, none, SUCCESS, true},
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
      {{kBending, 300, 0, {12, 10}, 0, 0x1212}, none, SUCCESS, true},
      {{kCylindrical, 50, 0, {}, 0, 1}, size100, ERROR_INV_STRUCT_SIZE, false},
      {{kCylindrical, 50, 0, {}, 0, 1}, gray32, ERROR_INV_PARAMETER, false},
      {{kCylindrical, 50, 0, {}, 0, 0}, gray32, ERROR_UNSUPPORTED_ORDER, false},
      {{kCylindrical, 101, 0, {}, 0, 4}, none, ERROR_INV_PARAMETER, false},
      {{kCylindrical, -101, 2, {}, 0, 0}, none, ERROR_POINT_OUT_OF_RANGE, false},
      {{kCylindrical, 0, 2, {}, 0, 0}, none, SUCCESS, false},
      {{kCylindrical, 100, 2, {}, 0, 0}, none, ERROR_INV_PARAMETER, false},
      {{kCylindrical, -100, 1, {}, 0, 0}, none, SUCCESS, true},
  };
  for (const auto& c : cases) {
    TestBitmap b(12, 10, 32);
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
    b->Order = ORDER_BGR;
  }
  for (Kind kind : {kSpherize, kPunch, kBending, kCylindrical})
    EXPECT_EQ(Apply({kind, 100, 0, {0, 0}, 0, 0}, nullptr), ERROR_NO_BITMAP);
}

// Flag bits that no check looks at change nothing; 0x100 is spherize's mode 0 without folding.
TEST_F(SphereTest, UncheckedFlagBitsAreIgnored) {
  const std::pair<Call, uint32_t> cases[] = {
      {{kSpherize, 200, 0, {9, 7}, 0x123456, 0}, 0x100},
      {{kSpherize, 200, 0, {9, 7}, 0x123456, 0x11}, 0xFFFFFF00},
      {{kPunch, -250, 0, {9, 7}, 0x123456, 0x12}, 0x8000FF00},
      {{kBending, 300, 0, {9, 7}, 0x123456, 0x111}, 0xFFFFF000},
  };
  for (const auto& [call, extra] : cases) {
    TestBitmap plain(19, 15, 24), marked(19, 15, 24);
    plain.FillNoise(3);
    marked.FillNoise(3);
    ASSERT_EQ(Apply(call, plain.get()), SUCCESS);
    ASSERT_EQ(Apply({call.kind, call.strength, 0, call.center, call.fillColor, call.flags | extra},
                    marked.get()),
              SUCCESS);
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
    return uint32_t(std::clamp<int64_t>(int64_t(v), 0, bits == 16 ? 65535 : 255));
  }
  // Bilinear interpolation over the bitmap rows listed in `table`.
  uint32_t Bilinear(const std::vector<int32_t>& table, double x, double y, int32_t k) const {
    const int32_t n = int32_t(table.size());
    int32_t ix = int32_t(x), iy = int32_t(y), ix1 = ix + 1, iy1 = iy + 1;
    const double fx = x - ix, fy = y - iy;
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
    const int32_t ix = int32_t(x), ix1 = std::min(ix + 1, width - 1);
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
  const int32_t mode = c.flags & 0xF, rows = rc.bottom - rc.top;
  const bool fold = c.flags & 0x10, alongRows = c.kind == kBending && (c.flags & 0xF00) != 0;
  const int32_t a = (rc.right - rc.left - 1) / 2, b = (rc.bottom - rc.top - 1) / 2;
  const double D = std::sqrt(double(a * a + b * b));
  const int32_t n = std::min(int32_t(D * 0.44 * k) + 3, rows), half = n / 2;
  const POINT mid{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
  const POINT ctr = alongRows ? mid : c.center;
  Expectation e{{}, std::vector<bool>(size_t(s.width) * s.height), n != rows};
  for (int32_t y = 0; y < s.height; ++y)
    for (int32_t x = 0; x < s.width; ++x)
      for (int32_t kk = 0; kk < s.step; ++kk) e.samples.push_back(s.at(x, y, kk));
  const auto put = [&](int32_t x, int32_t y, const std::function<uint32_t(int32_t)>& value) {
    for (int32_t kk = 0; kk < std::min(s.step, 3); ++kk)
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
      if (c.kind == kCylindrical) {
        const int32_t A = (rc.right - rc.left) / 2, d = x - mid.x;
        const double q = pi / (2.0 * A);
        double t = c.strength < 0 ? A * std::sin(d * q) : std::asin(double(d) / A) / q;
        t = (t - d) * k + d;
        if (d == 0 || t * d <= 0) t = d;
        const double sx = mid.x + t >= rc.right ? rc.right - 1 : std::max(mid.x + t, rc.left + 0.0);
        put(x, y, [&](int32_t kk) { return s.Linear(y, sx, kk); });
        continue;
      }
      const int32_t dx = x - ctr.x, dy = y - ctr.y;
      const double r = std::sqrt(double(dx * dx + dy * dy)), th = std::atan2(dy, dx);
      const double co = std::cos(th), si = std::sin(th);
      const double R =
          c.kind != kBending ? std::sqrt(double(a * a) * co * co + double(b * b) * si * si) : D;
      if (r > R) {
        e.beyond[size_t(y) * s.width + x] = true;
        continue;
      }
      const double q = c.kind == kBending ? pi / (2.0 * D) : pi / 2.0;
      const double ramp = (-1.0 * c.extra) / 1000.0;
      double rp = 0;
      if (R > 0 && c.kind == kSpherize)
        rp = c.strength > 0 ? (std::asin(r / R) * (R / q) - r) * k + r
                            : (R * std::sin(r * q / R) - r) * k + r;
      if (R > 0 && c.kind == kPunch)
        rp = c.strength > 0 ? (std::sqrt(r * R) - r) * (1.0 - std::exp(ramp * r)) * k + r
                            : (r * r / R - r) * k + r;
      if (R > 0 && c.kind == kBending)
        rp =
            c.strength > 0 ? (std::asin(r / D) / q - r) * k + r : (D * std::sin(r * q) - r) * k + r;
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
      double sx = ctr.x + rp * co, sy = 0;
      bool inside = rc.left <= sx && sx < rc.right;
      if (e.sliding && !alongRows) {
        double d = rp * si - dy;
        inside = inside && rc.top <= y + d && y + d < rc.bottom;
        if (!inside && mode == 1)
          d = y + d >= rc.bottom ? rc.bottom - 1 - y : (y + d < rc.top ? rc.top - y : d);
        sy = w + d;
      } else if (!alongRows) {
        sy = (w - dy) + rp * si;
        inside = inside && 0 <= sy && sy < n;
        if (!inside && mode == 1) sy = sy >= n ? n - 1 : (sy < 0 ? 0 : sy);
      }
      if (!inside && mode == 0) fillAt(x, y);
      if (!inside && mode != 1) continue;
      if (!inside) sx = sx >= rc.right ? rc.right - 1 : (sx < rc.left ? rc.left : sx);
      put(x, y, [&](int32_t kk) {
        return alongRows ? s.Linear(y, sx, kk) : s.Bilinear(table, sx, sy, kk);
      });
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
      {24, ORDER_BGR, {kPunch, -300, 0, {20, 15}, 0, 0}, tall},              // N 22: index 0
      {16, ORDER_GRAY, {kPunch, 200, 1000, {20, 22}, 0, 1}, part},           // N 18: below
      {24, ORDER_BGR, {kBending, 150, 0, {0, 0}, 0x0000FF, 0x10}, none},     // N 18
      {16, ORDER_GRAY, {kBending, -300, 0, {30, 20}, 0, 2}, none},           // whole
      {8, ORDER_GRAY, {kBending, 120, 0, {22, 16}, 0x808080, 0x12}, part},   // N 12
      {24, ORDER_BGR, {kBending, 300, 0, {5, 5}, 0xFF8000, 0x110}, none},    // along rows
      {48, ORDER_RGB, {kBending, -200, 0, {5, 5}, 0, 0x101}, odd},           // along rows
      {8, ORDER_GRAY, {kBending, 250, 0, {5, 5}, 0x202020, 0x210}, odd},     // along columns
      {64, ORDER_RGB, {kBending, 100, 0, {5, 5}, 0, 0x202}, none},           // along columns
      {24, ORDER_BGR, {kCylindrical, 100, 0, {}, 0, 0}, none},
      {48, ORDER_RGB, {kCylindrical, -70, 0, {}, 0, 0}, odd},
      {8, ORDER_GRAY, {kCylindrical, 45, 1, {}, 0, 0}, none},
      {32, ORDER_BGR, {kCylindrical, 80, 0, {}, 0, 0}, {5, 2, 28, 19}},
      {64, ORDER_BGR, {kCylindrical, -35, 1, {}, 0, 0}, {3, 4, 24, 22}},
      {16, ORDER_GRAY, {kCylindrical, 90, 0, {}, 0, 0}, {12, 3, 13, 20}},  // one column: A = 0
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
    const uint8_t view = AlongColumns(c.call) ? 5 : 1;
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
    slidingCases += e.sliding && c.call.kind != kCylindrical && (c.call.flags & 0xF00) == 0;
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
    EXPECT_EQ(moved > 100, rc.right - rc.left > 1);
  }
  EXPECT_GE(slidingCases, 8);
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
    for (int32_t k = 0; k < 3; ++k) {
      for (int32_t x = 14; x <= 19; ++x) {
        const uint32_t want = mode == 0 ? (k == 2 ? 255u : 0u) : s.at(mode == 1 ? 20 : x, 7, k);
        EXPECT_EQ(t.at(x, 7, k), want) << "mode " << mode << " x " << x;
      }
      EXPECT_EQ(t.at(13, 7, k), s.at(20, 7, k)) << "mode " << mode;
    }
  }
}

// Linear samples worked by hand on a row of three four-sample pixels and on a gray row.
TEST_F(SphereTest, LinearSamplesByHand) {
  const uint8_t colour[] = {10, 200, 0, 77, 20, 100, 50, 88, 60, 0, 255, 99};  // B, G, R, A
  const std::pair<double, std::array<uint8_t, 3>> cases[] = {
      {0.0, {10, 200, 0}},  {1.5, {40, 50, 152}}, {0.25, {12, 175, 12}},
      {2.9, {60, 0, 255}},  // the last pixel has no right neighbour
      {-0.5, {5, 250, 0}},  // extrapolated, then clamped
      {-1.0, {10, 200, 0}}, {1e12, {60, 0, 255}}, {NAN, {10, 200, 0}},  // held at the ends
  };
  for (const auto& [x, want] : cases) {
    uint8_t out[4] = {1, 2, 3, 4};
    fx::LinearSample8(colour, x, 4, 3, out);
    EXPECT_EQ((std::array<uint8_t, 4>{out[0], out[1], out[2], out[3]}),
              (std::array<uint8_t, 4>{want[0], want[1], want[2], 4}))
        << x;
  }
  const uint16_t gray[] = {65535, 1000, 3};
  for (const auto& [x, want] : {std::pair{0.5, 33267}, {-0.25, 65535}, {1.75, 252}, {2.0, 3}}) {
    uint16_t out[2] = {7, 7};
    fx::LinearSample16(gray, x, 1, 3, out);
    EXPECT_EQ(out[0], want) << x;
    EXPECT_EQ(out[1], 7);
  }
}

TEST_F(SphereTest, EveryFailurePathCleansUp) {
  const std::pair<Call, int32_t> cases[] = {
      {{kSpherize, 100, 0, {4, 3}, 0, 0x10}, 24},  // sliding window
      {{kSpherize, -500, 0, {4, 3}, 0, 1}, 16},    // whole rectangle
      {{kPunch, -300, 0, {4, 3}, 0, 0x10}, 48},    {{kPunch, 300, 100, {4, 3}, 0, 0}, 8},
      {{kBending, 200, 0, {4, 3}, 0, 0}, 24},      {{kBending, 200, 0, {4, 3}, 0, 0x100}, 16},
      {{kBending, -200, 0, {4, 3}, 0, 0x201}, 32}, {{kCylindrical, 60, 0, {}, 0, 0}, 64},
      {{kCylindrical, -60, 1, {}, 0, 0}, 8},
  };
  for (const auto& [call, bpp] : cases) {
    auto stats = fxtest::SweepFaults(
        [bpp] {
          const uint32_t order = bpp == 16 || bpp == 8 ? ORDER_GRAY : ORDER_BGR;
          auto b = std::make_unique<TestBitmap>(8, 7, bpp, order, 4);
          b->FillNoise(3);
          return b;
        },
        [call](BitmapRecord* b) { return Apply(call, b); }, kNames[call.kind]);
    EXPECT_GT(stats.points, 10);
  }
}

}  // namespace
