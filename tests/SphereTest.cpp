// Spherize, punch, bending and cylindrical: their own checks in their order, and every pixel
// against a direct evaluation of the remapping (window rows, outside modes and the fold handling
// on the centre's row included).
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

#include "Common/SphereRemaps.h"
#include "EffectCheck.h"
#include "ShortPathPicture.h"

namespace {

using namespace fxtest;

enum Kind { kSpherize, kPunch, kBending, kCylindrical };
const char* const kNames[] = {"spherize", "punch", "bending", "cylindrical"};

struct Params {
  Kind kind;
  int32_t strength;
  uint32_t extra;  // punch: ramp; cylindrical: direction
  POINT center;
  uint32_t fillColor;
  uint32_t flags;
};

int32_t Apply(const Params& c, BitmapRecord* b) {
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
Call Make(Kind kind, int32_t strength, uint32_t extra, POINT center, uint32_t flags) {
  return [=](BitmapRecord* b) { return Apply({kind, strength, extra, center, 0, flags}, b); };
}

TEST(SphereTest, EntryChecksInTheirOrder) {
  const auto bad = ERROR_INV_PARAMETER, out = ERROR_POINT_OUT_OF_RANGE,
             size = ERROR_INV_STRUCT_SIZE;
  const POINT mid{6, 5}, far{13, 5};  // the bitmap is 12 x 10
  // clang-format off
  CheckEntryCases({
      {"spherize: size before strength", StructSize(100), Make(kSpherize, 501, 0, mid, 0), size},
      {"spherize: strength 501", nullptr, Make(kSpherize, 501, 0, mid, 0), out},
      {"spherize: strength 0 first", nullptr, Make(kSpherize, 0, 0, far, 0x13), SUCCESS, kNone},
      {"spherize: centre before flags", nullptr, Make(kSpherize, 500, 0, far, 0x13), out},
      {"spherize: mode 3", nullptr, Make(kSpherize, 500, 0, mid, 0x13), bad},
      {"punch: ramp 1001", nullptr, Make(kPunch, 0, 1001, mid, 0), out},
      {"punch: flags before strength 0", nullptr, Make(kPunch, 0, 0, mid, 0x13), bad},
      {"punch: ramp 0 before the centre", nullptr, Make(kPunch, 200, 0, far, 0x10), SUCCESS, kNone},
      {"bending: strength 0 first", nullptr, Make(kBending, 0, 0, far, 0x300), SUCCESS, kNone},
      {"bending: centre before shape", nullptr, Make(kBending, 300, 0, far, 0x300), out},
      {"bending: shape 0x300", nullptr, Make(kBending, 300, 0, mid, 0x300), bad},
      {"bending: fold bits 0x30", nullptr, Make(kBending, 300, 0, mid, 0x133), bad},
      {"cylindrical: flags before strength", nullptr, Make(kCylindrical, 101, 0, {}, 4), bad},
      {"cylindrical: strength -101", nullptr, Make(kCylindrical, -101, 2, {}, 0), out},
      {"cylindrical: strength 0 first", nullptr, Make(kCylindrical, 0, 2, {}, 0), SUCCESS, kNone},
      {"cylindrical: direction 2", nullptr, Make(kCylindrical, 100, 2, {}, 0), bad},
      {"cylindrical: columns", nullptr, Make(kCylindrical, -100, 1, {}, 0), SUCCESS, kSome},
  });
  // clang-format on
}

// Linear interpolation along row y.
uint32_t Linear(const Snapshot& s, int32_t y, double x, int32_t k) {
  const int32_t ix = int32_t(x), ix1 = std::min(ix + 1, s.width - 1);
  const double p0 = s.at(ix, y, k), p1 = s.at(ix1, y, k);
  return uint32_t(std::clamp<int64_t>(int64_t(p0 + (p1 - p0) * (x - ix)), 0, s.max()));
}

// Direct evaluation of the remapping: every sample of the view, x fastest. The source window of
// output row y holds bitmap rows y - half + i (clamped to the bitmap); with an even N the ring
// has already replaced its oldest row y - half by y + half at index 0.
std::vector<uint32_t> Evaluate(const Snapshot& s, RECT rc, const Params& c,
                               const std::vector<uint32_t>& fill) {
  const double k = std::abs(c.strength) / 100.0;
  const int32_t mode = c.flags & 0xF, rows = rc.bottom - rc.top;
  const bool fold = c.flags & 0x10, alongRows = c.kind == kBending && (c.flags & 0xF00) != 0;
  const int32_t a = (rc.right - rc.left - 1) / 2, b = (rc.bottom - rc.top - 1) / 2;
  const double D = std::sqrt(double(a * a + b * b));
  const int32_t n = std::min(int32_t(D * 0.44 * k) + 3, rows), half = n / 2;
  const POINT mid{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
  const POINT ctr = alongRows ? mid : c.center;
  const bool sliding = n != rows;
  std::vector<uint32_t> out = s.All();
  const auto put = [&](int32_t x, int32_t y, const std::function<uint32_t(int32_t)>& value) {
    for (int32_t kk = 0; kk < std::min(s.step, 3); ++kk)
      out[(size_t(y) * s.width + x) * s.step + kk] = value(kk);
  };
  const auto fillAt = [&](int32_t x, int32_t y) {
    put(x, y, [&](int32_t kk) { return fill[kk]; });
  };
  for (int32_t y = rc.top; y < rc.bottom; ++y) {
    std::vector<int32_t> table(n);
    for (int32_t i = 0; i < n; ++i) {
      const int32_t row = sliding ? (n % 2 == 0 && i == 0 ? y + half : y - half + i) : rc.top + i;
      table[i] = std::clamp(row, 0, s.height - 1);
    }
    const int32_t w = sliding ? half : y - rc.top;
    for (int32_t x = rc.left; x < rc.right; ++x) {
      if (c.kind == kCylindrical) {
        const int32_t A = (rc.right - rc.left) / 2, d = x - mid.x;
        const double q = kPi / (2.0 * A);
        double t = c.strength < 0 ? A * std::sin(d * q) : std::asin(double(d) / A) / q;
        t = (t - d) * k + d;
        if (d == 0 || t * d <= 0) t = d;
        const double sx = mid.x + t >= rc.right ? rc.right - 1 : std::max(mid.x + t, rc.left + 0.0);
        put(x, y, [&](int32_t kk) { return Linear(s, y, sx, kk); });
        continue;
      }
      const int32_t dx = x - ctr.x, dy = y - ctr.y;
      const double r = std::sqrt(double(dx * dx + dy * dy)), th = std::atan2(dy, dx);
      const double co = std::cos(th), si = std::sin(th);
      const double R =
          c.kind != kBending ? std::sqrt(double(a * a) * co * co + double(b * b) * si * si) : D;
      if (r > R) continue;
      const double q = c.kind == kBending ? kPi / (2.0 * D) : kPi / 2.0;
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
      if (sliding && !alongRows) {
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
        return alongRows ? Linear(s, y, sx, kk)
                         : ReferenceBilinear(
                               s, [&](int32_t i) { return table[i]; }, n, sx, sy, kk);
      });
    }
  }
  return out;
}

// Cases that remap columns (bending 0x200, cylindrical direction 1) are built and compared in the
// transposed view 5, where the columns are rows. High flag bits no check looks at are set in
// some cases: they must change nothing.
TEST(SphereTest, PixelsMatchADirectEvaluation) {
  struct Case {
    Scene scene;
    Params call;
  };
  const RECT part{3, 4, 35, 26};
  const Scene rgb24{40, 30, 24, ORDER_BGR}, rgb48{40, 30, 48, ORDER_RGB},
      gray8{40, 30, 8, ORDER_GRAY}, gray16{40, 30, 16, ORDER_GRAY};
  const auto with = [](Scene s, RECT region) {
    s.region = region;
    return s;
  };
  // clang-format off
  const Case cases[] = {
      {rgb24, {kSpherize, 100, 0, {20, 15}, 0, 0}},                             // N 13 of 30
      {rgb48, {kSpherize, -50, 0, {12, 20}, 0x3366CC, 0xFFFFFF01}},             // N 8, even
      {gray16, {kSpherize, 300, 0, {-1, 15}, 0, 0x11}},                         // whole
      {rgb24, {kPunch, -300, 0, {20, 15}, 0xFF00FF, 0x8000FF10}},               // whole
      {with(gray8, part), {kPunch, -250, 0, {18, 14}, 0, 0x12}},                // N = rows 21
      {rgb24, {kBending, 150, 0, {0, 0}, 0x0000FF, 0x10}},                      // N 18
      {gray16, {kBending, -300, 0, {30, 20}, 0, 2}},                            // whole
      {rgb24, {kBending, 300, 0, {5, 5}, 0xFF8000, 0x110}},                     // along rows
      {{30, 40, 8, ORDER_GRAY, {3, 2, 28, 37}, 0, 5},
       {kBending, 250, 0, {5, 5}, 0x202023, 0x210}},                            // along columns
      {rgb24, {kCylindrical, 100, 0, {}, 0, 0}},
      {{30, 40, 64, ORDER_BGR, {4, 3, 22, 24}, 0, 5}, {kCylindrical, -35, 1, {}, 0, 0}},
      // Strength 300 folds the pixels near the centre (at dx = 1, r' = -0.087 of 21 x 15): in
      // mode 0 the centre takes the fill of its row neighbours, of one alone at a border (and
      // one just past the right border fills nothing outside).
      {{21, 15, 24, ORDER_BGR, {0, 0, 20, 15}}, {kSpherize, 300, 0, {20, 7}, 0x3060C0, 0x10}},
      {{21, 15, 24, ORDER_BGR}, {kPunch, -300, 0, {0, 7}, 0x3060C0, 0x10}},
      {{21, 15, 24, ORDER_BGR}, {kBending, 300, 0, {10, 7}, 0x3060C0, 0x11}},
  };
  // clang-format on
  uint32_t seed = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message()
                 << kNames[c.call.kind] << " bpp " << c.scene.bpp << " strength " << c.call.strength
                 << " flags " << c.call.flags);
    Scene scene = c.scene;
    scene.seed = ++seed;
    const int32_t moved = CompareWithReference(
        scene, [&](BitmapRecord* b) { return Apply(c.call, b); },
        FromModel([&](const Snapshot& s, BitmapRecord* b, const RECT& rc) {
          return Evaluate(s, rc, c.call, ReferenceFill(b, c.call.fillColor));
        }));
    EXPECT_EQ(moved > 100, c.scene.region.right - c.scene.region.left != 1);
  }
}

// Every row of the rectangle through SphereRow's short path and through the literal arithmetic
// alone, from a sliding window of n rows (odd; rows clamped to the picture) or, for n = 0, from
// every row of the rectangle.
template <class T, class Remap>
ShortPathCount CompareSphereShortPath(const Remap& remap, int32_t width, int32_t height,
                                      int32_t step, RECT rect, const fx::RadialOptions& o,
                                      int32_t n) {
  auto rows = ShortPathPicture<T>(width, height, step, static_cast<uint32_t>(width + n));
  const fx::SphereGeometry g = fx::MakeSphereGeometry(rect);
  std::vector<uint8_t> scratch(fx::SphereRowScratch(rect));
  ShortPathCount count;
  for (int32_t y = rect.top; y < rect.bottom; ++y) {
    std::vector<T*> window;
    int32_t w;
    if (n == 0) {
      for (int32_t i = rect.top; i < rect.bottom; ++i) window.push_back(rows[i].data());
      w = y - rect.top;
    } else {
      for (int32_t j = 0; j < n; ++j)
        window.push_back(rows[std::clamp(y - n / 2 + j, 0, height - 1)].data());
      w = n / 2;
    }
    const fx::SphereSources<T> src{window.data(), static_cast<int32_t>(window.size()), w, n != 0};
    std::vector<T> quick = rows[y], literal = rows[y];
    count.literal +=
        fx::SphereRow<T>(g, o, remap, src, y, step, width, quick.data(), scratch.data(), false);
    count.moved +=
        fx::SphereRow<T>(g, o, remap, src, y, step, width, literal.data(), scratch.data(), true);
    for (size_t i = 0; i < quick.size(); ++i) count.differing += quick[i] != literal[i];
  }
  return count;
}

// The short path of spherize, punch and spherical bending decides a pixel only when its bounds
// prove the literal arithmetic's result (fill, keep or sample); over millions of pixels in every
// outside mode, with and without fold handling, in sliding and whole windows and every sample
// size, every sample is equal, and nearly every pixel is decided by the short path.
TEST(SphereTest, ShortPathGivesTheLiteralSamples) {
  enum Remaps { kSpherizeOut, kSpherizeIn, kPunchOut, kPunchIn, kBendOut, kBendIn };
  struct Case {
    const char* name;
    Remaps remap;
    double k;
    int32_t width, height, step;
    bool wide;  // 16-bit samples
    RECT rect;
    POINT center;
    int32_t mode;
    bool fold;
    int32_t window;     // rows of a sliding window; 0: the whole rectangle
    double maxLiteral;  // the largest share of moved pixels left to the literal arithmetic
  };
  // clang-format off
  const Case cases[] = {
      {"spherize 100", kSpherizeOut, 1, 800, 600, 3, false, {0, 0, 800, 600}, {400, 300},
       fx::kOutsideFill, false, 127, 0.02},
      {"spherize 500 edge", kSpherizeOut, 5, 640, 480, 4, false, {0, 0, 640, 480}, {100, 400},
       fx::kOutsideEdge, false, 0, 0.02},
      {"spherize 150, centre past the right edge", kSpherizeOut, 1.5, 320, 240, 3, false,
       {0, 0, 320, 240}, {320, 120}, fx::kOutsideEdge, false, 0, 0.02},
      {"spherize -250 fold keep", kSpherizeIn, 2.5, 640, 480, 3, true, {20, 30, 600, 470},
       {310, 250}, fx::kOutsideKeep, true, 0, 0.02},
      {"spherize -500 fold fill", kSpherizeIn, 5, 480, 360, 1, false, {0, 0, 480, 360},
       {240, 180}, fx::kOutsideFill, true, 0, 0.02},
      {"punch 400 edge", kPunchOut, 4, 640, 480, 3, false, {0, 0, 640, 480}, {320, 240},
       fx::kOutsideEdge, false, 0, 0.02},
      {"punch -300 fold edge", kPunchIn, 3, 640, 480, 3, true, {0, 0, 640, 480}, {320, 240},
       fx::kOutsideEdge, true, 0, 0.02},
      {"punch -100 fill", kPunchIn, 1, 300, 700, 4, true, {0, 0, 300, 700}, {-1, 700},
       fx::kOutsideFill, false, 101, 0.02},
      {"bending 100", kBendOut, 1, 800, 600, 3, false, {0, 0, 800, 600}, {400, 300},
       fx::kOutsideFill, false, 211, 0.02},
      {"bending -500 fold edge", kBendIn, 5, 640, 480, 1, true, {0, 0, 640, 480}, {200, 100},
       fx::kOutsideEdge, true, 0, 0.02},
      {"one row high", kSpherizeOut, 2, 900, 3, 3, false, {0, 0, 900, 3}, {450, 1},
       fx::kOutsideEdge, false, 0, 1},
      {"three pixels", kPunchIn, 5, 3, 3, 3, false, {0, 0, 3, 3}, {1, 1}, fx::kOutsideFill, true,
       0, 1},
  };
  // clang-format on
  int64_t compared = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const fx::RadialOptions o{c.center, c.mode, c.fold, {40, 170, 230}};
    const fx::SphereGeometry g = fx::MakeSphereGeometry(c.rect);
    const bool out = c.remap % 2 == 0;
    auto run = [&](const auto& remap) {
      return c.wide ? CompareSphereShortPath<uint16_t>(remap, c.width, c.height, c.step, c.rect, o,
                                                       c.window)
                    : CompareSphereShortPath<uint8_t>(remap, c.width, c.height, c.step, c.rect, o,
                                                      c.window);
    };
    ShortPathCount n;
    if (c.remap <= kSpherizeIn)
      n = run(fx::SpherizeRemap{c.k, out});
    else if (c.remap <= kPunchIn)
      n = run(fx::PunchRemap{c.k, -0.02, out});
    else
      n = run(fx::MakeBendRemap(g, c.k, out));
    EXPECT_EQ(n.differing, 0);
    EXPECT_LE(n.literal, c.maxLiteral * n.moved) << n.literal << " of " << n.moved;
    compared += n.moved;
  }
  EXPECT_GT(compared, 2000000);
}

}  // namespace
