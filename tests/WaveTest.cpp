// The wave family: the table expansion, the table shapes and the triangle reshaping on hand-worked
// tables, the entry checks of the five exports, and every output sample of each effect against a
// direct evaluation of its formulas (tables, displacement, the window of source rows as the ring
// lays it out, the four-neighbour sum through the weight table).
#include <algorithm>
#include <cmath>
#include <functional>

#include "Common/Wave_sfx.h"
#include "EffectCheck.h"

namespace {

using namespace fxtest;

// Host and table builders ---------------------------------------------------------------------

TEST(HostExpandTableTest, WeighsNeighboursByTruncatedTenths) {
  // Tenths 0.8, 1.2, 1.6 and 2.9 round so that the weights are (1, 8), (8, 1), (3, 6) and
  // (1, 9), not tenths.
  const double table[4] = {0, 90, 180, 270};
  double expanded[30];
  HostExpandTable(expanded, table, 30);
  const struct {
    int k;
    double value;
  } cases[] = {{0, 0},    {5, 45},   {8, 80},   {9, 90},   {10, 90},
               {12, 100}, {15, 135}, {16, 150}, {20, 180}, {29, 261}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(expanded[c.k], c.value) << "entry " << c.k;
}

TEST(WaveTablesTest, ShapesOverOnePeriod) {
  // Eight entries over one period, extent 8: steps of 45 degrees; the square divides by 9.
  const double r = std::sqrt(0.5) * 2;
  const struct {
    fx::WaveShape shape;
    bool across;
    double want[9];
  } cases[] = {
      {fx::kWaveSine, false, {0, r, 2, r, 0, -r, -2, -r, 0}},
      {fx::kWaveCosine, false, {2, r, 0, -r, -2, -r, 0, r, 2}},
      {fx::kWaveSine, true, {0, -r, -2, -r, 0, r, 2, r, 0}},
      // 0, 40, ... 320 degrees.
      {fx::kWaveSquare, false, {2, 2, 2, 2, 2, -2, -2, -2, -2}},
      {fx::kWaveSquare, true, {-2, -2, -2, -2, -2, 2, 2, 2, 2}},
  };
  for (const auto& c : cases) {
    double table[9];
    fx::FillWaveTable(table, 8, c.shape, 2.0, 1.0, 8, c.across);
    for (int i = 0; i < 9; ++i)
      EXPECT_NEAR(table[i], c.want[i], 1e-8) << "shape " << c.shape << " entry " << i;
  }
  EXPECT_DOUBLE_EQ(fx::WavePeriods(401, 25, false), 4.0);
  EXPECT_DOUBLE_EQ(fx::WavePeriods(401, 7, true), 7.0);
}

TEST(WaveTablesTest, TriangleThroughTurnsAndCrossings) {
  const double s = std::sqrt(0.5);
  const struct {
    const char* what;
    int n;
    double q;
    bool across;
    std::vector<double> sine;  // n + 1 entries
    std::vector<double> want;  // the n reshaped entries
  } cases[] = {
      {"one period",
       8,
       1,
       false,
       {0, s, 1, s, 1e-10, -s, -1, -s, -2e-10},
       {0, 0.5, 1, 0.5, 0, -0.5, -1, -0.5}},
      {"one period across",
       8,
       1,
       true,
       {0, -s, -1, -s, -1e-10, s, 1, s, 2e-10},
       {0, -0.5, -1, -0.5, 0, 0.5, 1, 0.5}},
      // The last point is the crossing at 4: the closing point -1 follows a quarter (6 / 2)
      // later, at 7; entry 5 lies a third of the way there.
      {"closing after a crossing",
       6,
       0.5,
       false,
       {0, s, 1, s, 1e-10, -s, -1},
       {0, 0.5, 1, 0.5, 0, -1.0 / 3}},
      {"flat", 4, 1, false, {0, 0, 0, 0, 0}, {0, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    std::vector<double> table = c.sine;
    ASSERT_EQ(fx::ReshapeTriangle(table.data(), c.n, c.q, 1.0, c.across), SUCCESS);
    for (int i = 0; i < c.n; ++i) EXPECT_NEAR(table[i], c.want[i], 1e-9) << c.what << " " << i;
  }
}

// Direct evaluations ----------------------------------------------------------------------------

// The fill colour as a working pixel: b, g, r (gray: (b + 5g + 2r) / 8), x 257 at 16 bits.
uint32_t FillSample(const Sample& p, uint32_t colour) {
  const uint32_t r = colour & 255, g = (colour >> 8) & 255, b = (colour >> 16) & 255;
  const uint32_t v = p.s.step == 1 ? (b + 5 * g + 2 * r) / 8 : (p.k == 0 ? b : p.k == 1 ? g : r);
  return p.s.bits == 16 ? v * 257 : v;
}

// The four-neighbour sum: columns trunc(sx) clamped to 0 .. W - 2 and the next, window rows r0
// and r0 + 1 (bitmap rows by rowOf), shares of the hundredths of |sx| and |sw| out of 10000.
uint32_t FourNeighbours(const Sample& p, double sx, double sw, int64_t r0,
                        const std::function<int32_t(int64_t)>& rowOf, uint32_t divisor) {
  const int32_t x0 = static_cast<int32_t>(std::clamp<double>(std::trunc(sx), 0, p.s.width - 2));
  const auto hundredths = [](double v) {
    v = std::fabs(v);
    return static_cast<uint32_t>((v - std::trunc(v)) * 100);
  };
  const uint32_t fx = hundredths(sx), fy = hundredths(sw);
  const int32_t ra = rowOf(r0), rb = rowOf(r0 + 1);
  const uint64_t sum = uint64_t{(100 - fx) * (100 - fy)} * p.s.at(x0, ra, p.k) +
                       uint64_t{fx * (100 - fy)} * p.s.at(x0 + 1, ra, p.k) +
                       uint64_t{(100 - fx) * fy} * p.s.at(x0, rb, p.k) +
                       uint64_t{fx * fy} * p.s.at(x0 + 1, rb, p.k);
  return static_cast<uint32_t>(std::min<uint64_t>(sum / divisor, p.s.max()));
}

uint32_t Divisor(const Sample& p) {
  return p.s.bits == 16 ? 10000 : 9990;
}

// The window of output row y as the ring of N rows gives it after HostCenterRowWindow: window
// index i holds the latest row read into ring slot (t + i) mod N, t = y - top, rows read from
// top - N / 2 on and clamped to the bitmap. Indexes beyond the window are kept inside it.
std::function<int32_t(int64_t)> RingRows(const Sample& p, int64_t n) {
  return [=](int64_t i) {
    i = std::clamp<int64_t>(i, 0, n - 1);
    const int64_t t = p.y - p.rc.top, slot = (t + i) % n;
    int64_t q = 2 * (n / 2) + t;  // the latest read, counted from 0
    q -= ((q - slot) % n + n) % n;
    return static_cast<int32_t>(std::clamp<int64_t>(p.rc.top - n / 2 + q, 0, p.s.height - 1));
  };
}

bool OffBitmap(const Sample& p, double column, double row) {
  return std::trunc(column) > p.s.width || std::trunc(column) < 0 || row < 0 || row > p.s.height;
}

// What the edge mode makes of a pixel whose source is off the bitmap (false: sample it).
bool Outside(const Sample& p, uint32_t flags, uint32_t fillColor, uint32_t* value) {
  if ((flags & 15) == 1) return false;
  *value = (flags & 15) == 0 ? FillSample(p, fillColor) : p.before();
  return true;
}

// A scene and the arguments of one call, compared in each of the three edge modes.
template <class Args>
struct Case {
  const char* what;
  Scene scene;
  Args args;
};
template <class Args>
void CompareCases(const std::vector<Case<Args>>& cases, Call (*call)(const Args&),
                  uint32_t (*expected)(const Sample&, const Args&)) {
  for (const auto& c : cases)
    for (uint32_t mode : {0u, 1u, 2u}) {
      SCOPED_TRACE(::testing::Message() << c.what << ", edge mode " << mode);
      Args a = c.args;
      a.flags = (a.flags & ~15u) | mode;
      EXPECT_GT(
          CompareWithReference(c.scene, call(a), [&](const Sample& p) { return expected(p, a); }),
          0);
    }
}

// Wave ------------------------------------------------------------------------------------------

struct WaveArgs {
  uint32_t amplitude, wavelength;
  int32_t angle;
  uint32_t horizontal, vertical, flags;
};
constexpr uint32_t kFill = 0x3070B0;

Call Wave(const WaveArgs& a) {
  return [=](BitmapRecord* b) {
    return Fx_WaveBitmap(b, a.amplitude, a.wavelength, a.angle, a.horizontal, a.vertical, kFill,
                         a.flags);
  };
}

uint32_t ExpectedWave(const Sample& p, const WaveArgs& w) {
  const int64_t half = static_cast<int64_t>(w.amplitude * 0.707);
  const double a = (w.angle < 0 ? w.angle + 18000 : w.angle) * kPi / 18000.0;
  const double c = std::cos(a), s = std::sin(a);
  const int32_t W = p.s.width, H = p.s.height;
  const int64_t countA = static_cast<int64_t>(std::fabs(W * c) + std::fabs(H * s)) + 1;
  const double wr = p.rc.right - p.rc.left, hr = p.rc.bottom - p.rc.top;
  const double lx = std::fabs(wr * c) + std::fabs(hr * s),
               ly = std::fabs(hr * c) + std::fabs(wr * s);
  const double m = half * 0.707;
  const double P =
      (w.flags & 0xF0) ? w.wavelength : (countA - 1) / ((countA - 1) * w.wavelength / 100.0);
  const uint32_t shape = w.flags & 0xF00;
  const auto table = [&](int64_t i, double amp, double extent, double sign) {
    const double phi = i * P * 2.0 * kPi;
    if (shape == 0x200) return amp * std::sin(phi / (extent + 1)) >= 0 ? sign * amp : -sign * amp;
    return sign * amp * (shape == 0x100 ? std::cos(phi / extent) : std::sin(phi / extent));
  };
  const auto expanded = [&](double position, double amp, double extent, double sign) {
    const int64_t k = static_cast<int64_t>(position * 10.0), i0 = k / 10;
    const double f = k / 10.0 - i0;
    const int w0 = static_cast<int>(10 * (1 - f)), w1 = static_cast<int>(10 * f);
    return (w0 * table(i0, amp, extent, sign) + w1 * table(i0 + 1, amp, extent, sign)) / (w0 + w1);
  };
  const double i = p.x - p.rc.left - wr / 2.0, j = p.y - p.rc.top - hr / 2.0;
  const double u = c * i - s * j + (lx - wr) / 2 + wr / 2.0;
  const double v = s * i + c * j + (ly - hr) / 2 + hr / 2.0;
  const double dA = expanded(u, w.vertical / 100.0 * m, std::trunc(lx), 1);
  const double dB = expanded(v, w.horizontal / 100.0 * m, std::trunc(ly), -1);
  const double sx = s * dA + c * dB + p.x, sw = c * dA - s * dB + half;
  const int64_t wi = static_cast<int64_t>(sw);
  uint32_t value;
  if (OffBitmap(p, sx, double(p.y + wi - half)) && Outside(p, w.flags, kFill, &value)) return value;
  return FourNeighbours(p, sx, sw, wi, RingRows(p, 2 * half + 1), Divisor(p));
}

TEST(WaveTest, EntryChecksInTheirOrder) {
  const auto inv = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"amplitude 1 before the range checks", nullptr, Wave({1, 10, 50000, 500, 0, 0xFFF}), SUCCESS,
       kNone},
      {"wavelength 0", nullptr, Wave({20, 0, 0, 0, 100, 1}), SUCCESS, kNone},
      {"horizontalPercent 101", nullptr, Wave({20, 10, 0, 101, 100, 1}), inv},
      {"angle -18001", nullptr, Wave({20, 10, -18001, 0, 100, 1}), inv},
      {"shape 0x400", nullptr, Wave({20, 10, 0, 0, 100, 0x401}), inv},
      {"edge mode 3", nullptr, Wave({20, 10, 0, 0, 100, 3}), inv},
      {"unit 0x20", nullptr, Wave({20, 10, 0, 0, 100, 0x21}), inv},
      {"wavelength 101 in percent", nullptr, Wave({20, 101, 0, 0, 100, 1}), inv},
      {"150 waves, bits above 11 ignored", nullptr, Wave({20, 150, 0, 0, 100, 0xF0011}), SUCCESS,
       kSome},
  });
}

TEST(WaveTest, MatchesADirectEvaluation) {
  CompareCases<WaveArgs>(
      {
          {"rows shift sideways", {26, 18, 24, ORDER_BGR, {2, 3, 24, 16}}, {12, 30, 0, 100, 0, 0}},
          {"columns shift up and down, window 11 of 17 rows",
           {24, 17, 16, ORDER_GRAY},
           {8, 25, 0, 0, 100, 0}},
          {"cosine at -45 degrees (135) in 3 waves",
           {22, 16, 48, ORDER_BGR, {}, 7},
           {14, 3, -4500, 60, 100, 0x110}},
          {"square at 90 degrees, window beyond the bitmap",
           {20, 12, 32, ORDER_RGB},
           {24, 40, 9000, 100, 50, 0x200}},
      },
      Wave, ExpectedWave);
}

// Radial wave and zigzag around the centre ------------------------------------------------------

struct TurnArgs {
  int32_t amplitude;
  uint32_t wavelength;  // zigzag: waves
  int32_t phase;
  POINT center;
  uint32_t flags;
  uint32_t damping = 0;  // zigzag
};

Call RadWave(const TurnArgs& a) {
  return [=](BitmapRecord* b) {
    return Fx_RadWaveBitmap(b, a.amplitude, a.wavelength, a.phase, a.center, kFill, a.flags);
  };
}
Call ZigZag(const TurnArgs& a) {
  return [=](BitmapRecord* b) {
    return Fx_ZigZagBitmap(b, a.amplitude, a.damping, static_cast<int32_t>(a.wavelength), a.phase,
                           a.center, kFill, a.flags);
  };
}

double Distance(double dx, double dy) {
  return std::sqrt(dx * dx + dy * dy);
}
// trunc(distance) from the centre to the corners of r, the greatest or the least.
int64_t Corner(POINT c, const RECT& r, bool greatest) {
  int64_t best = greatest ? 0 : INT64_MAX;
  for (int32_t x : {r.left, r.right})
    for (int32_t y : {r.top, r.bottom}) {
      const auto d = static_cast<int64_t>(Distance(c.x - x, c.y - y));
      best = greatest ? std::max(best, d) : std::min(best, d);
    }
  return best;
}

// Both effects turn the pixel about the centre by theta and sample the turned position.
uint32_t TurnedSample(const Sample& p, const TurnArgs& a, double theta, int64_t n, bool whole,
                      uint32_t divisor) {
  if (theta < 0) theta = theta + 2 * kPi;
  const double dx = p.x - a.center.x, dy = p.y - a.center.y;
  const double sx = std::cos(theta) * dx - std::sin(theta) * dy + a.center.x;
  const double sy = std::sin(theta) * dx + std::cos(theta) * dy + a.center.y;
  uint32_t value;
  if (OffBitmap(p, sx, std::trunc(sy)) && Outside(p, a.flags, kFill, &value)) return value;
  const double sw = whole ? sy : sy - p.y + n / 2;
  const int64_t r0 =
      std::clamp<int64_t>(static_cast<int64_t>(sw), 0, std::min<int64_t>(n, p.s.height) - 2);
  if (whole)
    return FourNeighbours(
        p, sx, sw, r0, [](int64_t i) { return int32_t(i); }, divisor);
  return FourNeighbours(p, sx, sw, r0, RingRows(p, n), divisor);
}

// N = trunc(sin α × Rb) × 2 + 9, at most the height, α the largest turn.
int64_t TurnWindow(const Sample& p, const TurnArgs& a, double alpha) {
  const int64_t rb = Corner(a.center, RECT{0, 0, p.s.width, p.s.height}, true);
  return std::min<int64_t>(static_cast<int64_t>(std::sin(alpha) * rb) * 2 + 9, p.s.height);
}

uint32_t ExpectedRadWave(const Sample& p, const TurnArgs& a) {
  const uint32_t unit = a.flags & 0xF0;
  const double alpha = unit <= 0x10 ? a.amplitude * 90.0 * kPi / 18000.0 : 0;
  const int64_t n = TurnWindow(p, a, alpha), rr = Corner(a.center, p.rc, true);
  const double P = unit ? a.wavelength : (rr - 1) / ((rr - 1) * a.wavelength / 100.0);
  const double r = Distance(p.x - a.center.x, p.y - a.center.y);
  const double arg = r * (P * 2 * kPi / (rr - 1)) + a.phase * kPi / 18000;
  const double theta = (a.amplitude * 90 / 100 * kPi / 180.0) * std::sin(arg);
  return TurnedSample(p, a, theta, n, n == p.s.height, Divisor(p));
}

uint32_t ExpectedAround(const Sample& p, const TurnArgs& a) {
  const int64_t n = TurnWindow(p, a, a.amplitude * 90.0 * kPi / 18000.0);
  const int64_t rr = Corner(a.center, p.rc, false);
  const double dx = p.x - a.center.x, dy = p.y - a.center.y;
  const double e =
      Distance(dx / ((p.rc.right - p.rc.left) / 2.0), dy / ((p.rc.bottom - p.rc.top) / 2.0));
  const double arg = Distance(dx, dy) * (double(int32_t(a.wavelength)) * 2 * kPi / (rr - 1)) +
                     a.phase * kPi / 18000.0;
  const double damp = std::clamp(1 - (a.damping / 1000.0) * e, 0.0, 1.0);
  const double theta = damp * (a.amplitude * 90 / 100 * kPi / 180.0) * std::sin(arg);
  return TurnedSample(p, a, theta, n, false, 9990);
}

// A one-pixel region, placed in orientation 1 as the effects see the bitmap.
Spoil OnePixelRegion(int32_t x, int32_t y) {
  return [=](BitmapRecord* b) {
    const uint8_t view = b->Orientation;
    HostSetOrientation(nullptr, b, BITMAP_STRUCT_SIZE, 1, 0);
    const RECT r{x, y, x + 1, y + 1};
    EXPECT_EQ(HostSetRegionRect(b, nullptr, &r, 1), SUCCESS);
    HostSetOrientation(nullptr, b, BITMAP_STRUCT_SIZE, view, 0);
  };
}

TEST(RadWaveTest, EntryChecksInTheirOrder) {
  const auto inv = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"amplitude 101", nullptr, RadWave({101, 0, 50000, {99, 99}, 7}), inv},
      {"wavelength 0 before the no-op", nullptr, RadWave({1, 0, 0, {6, 5}, 1}), inv},
      {"amplitude 1", nullptr, RadWave({1, 10, 50000, {99, 99}, 7}), SUCCESS, kNone},
      {"phase 36001", nullptr, RadWave({50, 10, 36001, {6, 5}, 1}), inv},
      {"centre two pixels out", nullptr, RadWave({50, 10, 0, {-2, 5}, 1}), inv},
      {"edge mode 3", nullptr, RadWave({50, 10, 0, {6, 5}, 3}), inv},
      {"flags 0x20, centre one pixel out", nullptr, RadWave({100, 3, 0, {-1, 10}, 0x21}), SUCCESS,
       kSome},
      {"one-pixel rectangle turned about its corner", OnePixelRegion(4, 3),
       RadWave({50, 10, 0, {5, 4}, 1}), SUCCESS, kNone},
  });
}

TEST(ZigZagTest, EntryChecksInTheirOrder) {
  const auto inv = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"waves 0 before the no-op", nullptr, ZigZag({0, 0, 0, {6, 5}, 0}), inv},
      {"amplitude 0", nullptr, ZigZag({0, 5, 50000, {99, 99}, 7, 5000}), SUCCESS, kNone},
      {"damping 1001", nullptr, ZigZag({50, 5, 0, {6, 5}, 0, 1001}), inv},
      {"centre two pixels out", nullptr, ZigZag({50, 5, 0, {6, -2}, 0}), inv},
      {"style 0x20", nullptr, ZigZag({50, 5, 0, {6, 5}, 0x20}), inv},
      {"amplitude 150 around the centre", nullptr, ZigZag({150, 5, 0, {6, 5}, 0}), inv},
      {"amplitude 150 as a pond", nullptr, ZigZag({150, 5, 0, {6, 5}, 0x11}), SUCCESS, kSome},
      {"pond amplitude 1", nullptr, ZigZag({1, 5, 0, {6, 5}, 0x11}), SUCCESS, kNone},
      {"centre a diagonal pixel from a corner", nullptr, ZigZag({80, 5, 0, {1, 1}, 1}), SUCCESS,
       kNone},
      {"centre on the corner", nullptr, ZigZag({80, 5, 0, {0, 0}, 1}), SUCCESS, kSome},
  });
}

TEST(RadWaveTest, MatchesADirectEvaluation) {
  CompareCases<TurnArgs>(
      {
          {"sliding window of 9 rows",
           {26, 20, 24, ORDER_BGR, {3, 2, 24, 19}},
           {60, 20, 4500, {12, 9}, 0x20}},
          {"whole bitmap", {20, 14, 16, ORDER_GRAY, {}, 7}, {100, 3, -9000, {7, 8}, 0x10}},
          {"percent unit, centre off the rectangle",
           {18, 22, 48, ORDER_BGR},
           {30, 40, 0, {-1, 21}, 0}},
      },
      RadWave, ExpectedRadWave);
}

// Zigzag as pond ripples: a diagonal shift by a damped sine of the elliptical distance.
uint32_t ExpectedPond(const Sample& p, const TurnArgs& a) {
  const double hw = (p.rc.right - p.rc.left) / 2.0, hh = (p.rc.bottom - p.rc.top) / 2.0;
  const int64_t signedHalf = static_cast<int64_t>(a.amplitude * 0.707);
  const int64_t half = std::abs(signedHalf);
  const double e = Distance((p.x - a.center.x) / hw, (p.y - a.center.y) / hh);
  const auto ei = static_cast<uint32_t>(e * 1000);
  if (ei > 1000) return p.before();
  const double s =
      std::sin(ei * (int32_t(a.wavelength) / 100000.0) * (kPi / 2.0) * Distance(hw, hh) +
               a.phase * kPi / 18000.0);
  const double d = ((1000 - (a.damping * ei) / 1000) * (signedHalf / 2.0) * s) / 1000.0;
  const double sx = p.x + d, sw = half + d;
  const int64_t wi = static_cast<int64_t>(sw);
  uint32_t value;
  if (OffBitmap(p, sx, double(p.y + wi - half)) && Outside(p, a.flags, kFill, &value)) return value;
  return FourNeighbours(p, sx, sw, wi, RingRows(p, 2 * half + 1), 9990);
}

uint32_t ExpectedZigZag(const Sample& p, const TurnArgs& a) {
  return (a.flags & 0xF0) ? ExpectedPond(p, a) : ExpectedAround(p, a);
}

TEST(ZigZagTest, MatchesADirectEvaluation) {
  CompareCases<TurnArgs>(
      {
          {"around, an even window of all 16 rows",
           {22, 16, 48, ORDER_BGR},
           {50, 3, 3000, {10, 7}, 0, 400}},
          {"around, a quarter turn in an even window of all 10 rows",
           {20, 10, 24, ORDER_BGR},
           {100, 2, 0, {10, 5}, 0, 0}},
          {"around, sliding window",
           {24, 30, 8, ORDER_GRAY, {1, 2, 23, 28}},
           {8, 4, 0, {11, 14}, 0, 900}},
          {"pond", {26, 20, 24, ORDER_BGR, {2, 1, 25, 19}}, {40, 30, 9000, {12, 9}, 0x10, 300}},
          {"pond turned over, 16-bit gray",
           {20, 18, 16, ORDER_GRAY, {}, 7},
           {-25, 60, 0, {9, 8}, 0x10, 0}},
      },
      ZigZag, ExpectedZigZag);
}

// Zoom wave -------------------------------------------------------------------------------------

struct ZoomArgs {
  uint32_t amplitude, frequency;
  int32_t phase;
  uint32_t inner;
  POINT center;
  uint32_t flags;
};

Call ZoomWave(const ZoomArgs& a) {
  return [=](BitmapRecord* b) {
    return Fx_ZoomWaveBitmap(b, a.amplitude, a.frequency, a.phase, a.inner, a.center, kFill,
                             a.flags);
  };
}

uint32_t ExpectedZoomWave(const Sample& p, const ZoomArgs& a) {
  const int64_t R = Corner(a.center, p.rc, true), half = (2 * int64_t{a.amplitude} + 3) / 2;
  const double base = double(R * a.inner / 100);
  const double dx = p.x - a.center.x, dy = p.y - a.center.y;
  double theta = std::atan2(dy, dx);
  if (theta < 0) theta = theta + 2 * kPi;
  const double d = double(a.amplitude) / R * ((R - base) / R * Distance(dx, dy) + base) *
                   std::sin(theta * a.frequency + a.phase * kPi / 18000.0);
  const double sx = p.x + d * std::cos(theta), sw = half + d * std::sin(theta);
  const int64_t wi = static_cast<int64_t>(sw);
  uint32_t value;
  if (OffBitmap(p, sx, double(p.y - half + wi)) && Outside(p, a.flags, kFill, &value)) return value;
  return FourNeighbours(p, sx, sw, wi, RingRows(p, 2 * half + 1), Divisor(p));
}

TEST(ZoomWaveTest, EntryChecksAndADirectEvaluation) {
  const auto inv = ERROR_INV_PARAMETER;
  CheckEntryCases({
      {"amplitude 0", nullptr, ZoomWave({0, 1, 0, 0, {6, 5}, 0}), inv},
      {"innerPercent 101", nullptr, ZoomWave({4, 4, 0, 101, {6, 5}, 0}), inv},
      {"flags 0x10", nullptr, ZoomWave({4, 4, 0, 0, {6, 5}, 0x10}), inv},
      {"centre out before the no-op", nullptr, ZoomWave({1, 1, 0, 0, {14, 5}, 0}), inv},
      {"amplitude 1, frequency 1", nullptr, ZoomWave({1, 1, 0, 0, {6, 5}, 0}), SUCCESS, kNone},
      {"amplitude 1, frequency 2", nullptr, ZoomWave({1, 2, 0, 0, {6, 5}, 1}), SUCCESS, kSome},
  });
  CompareCases<ZoomArgs>(
      {
          {"star from the middle",
           {26, 20, 24, ORDER_BGR, {2, 3, 24, 18}},
           {6, 5, 0, 0, {12, 10}, 0}},
          {"same shift everywhere, 16-bit gray",
           {20, 16, 16, ORDER_GRAY, {}, 7},
           {3, 4, 4500, 100, {4, 12}, 0}},
          {"window beyond the bitmap", {16, 10, 64, ORDER_BGR}, {30, 3, -9000, 40, {16, 0}, 0}},
      },
      ZoomWave, ExpectedZoomWave);
}

// Free-hand wave --------------------------------------------------------------------------------

struct FreeHandArgs {
  std::vector<int32_t> curve;
  uint32_t amount, wavelength;
  int32_t angle;
  uint32_t flags;
};

Call FreeHand(const FreeHandArgs& a) {
  return [=](BitmapRecord* b) {
    return Fx_FreeHandWaveBitmap(b, a.curve.data(), uint32_t(a.curve.size()), a.amount,
                                 a.wavelength, a.angle, kFill, a.flags);
  };
}

uint32_t ExpectedFreeHand(const Sample& p, const FreeHandArgs& f) {
  double most = 0;
  for (int32_t v : f.curve) most = std::max(most, double(f.amount) * std::fabs(double(v)));
  const int64_t half = (static_cast<int64_t>(most / 100000) * 2 + 5) / 2;
  const double a = (f.angle + 27000) * kPi / 18000.0, c = std::cos(a), s = std::sin(a);
  const int64_t count =
      static_cast<int64_t>(std::fabs(p.s.width * c) + std::fabs(p.s.height * s)) + 1;
  const double wr = p.rc.right - p.rc.left, hr = p.rc.bottom - p.rc.top;
  const double lx = std::fabs(wr * c) + std::fabs(hr * s);
  const int64_t lr = static_cast<int64_t>(lx) + 1;
  const double P =
      (f.flags & 0xF0) ? f.wavelength : (count - 1) / ((count - 1) * f.wavelength / 100.0);
  const auto table = [&](int64_t i) {
    const double x = std::fabs(i * P / (lr - 1));
    const double q = (f.curve.size() - 1) * (x - std::trunc(x)), t = q - std::trunc(q);
    const size_t j = static_cast<size_t>(q);
    return (f.amount / 100.0) * ((1 - t) * f.curve[j] + t * f.curve[j + 1]) / 1000.0;
  };
  const double u =
      c * (p.x - p.rc.left - wr / 2.0) - s * (p.y - p.rc.top - hr / 2.0) + (lx - wr) / 2 + wr / 2.0;
  const int64_t k = static_cast<int64_t>(u * 10.0), i0 = k / 10;
  const int w0 = static_cast<int>(10 * (1 - (k / 10.0 - i0))),
            w1 = static_cast<int>(10 * (k / 10.0 - i0));
  const double dA = (w0 * table(i0) + w1 * table(i0 + 1)) / (w0 + w1);
  const double sx = p.x + s * dA, sw = half + c * dA;
  const int64_t wi = static_cast<int64_t>(sw);
  uint32_t value;
  if (OffBitmap(p, sx, double(p.y + wi - half)) && Outside(p, f.flags, kFill, &value)) return value;
  return FourNeighbours(p, sx, sw, wi, RingRows(p, 2 * half + 1), 10000);
}

TEST(FreeHandWaveTest, EntryChecksAndADirectEvaluation) {
  const auto inv = ERROR_INV_PARAMETER;
  const FreeHandArgs saw{{0, 1000}, 1000, 20, 0, 1};
  CheckEntryCases({
      {"one value", nullptr, FreeHand({{1000}, 100, 20, 0, 1}), inv},
      {"no curve", nullptr,
       [](BitmapRecord* b) { return Fx_FreeHandWaveBitmap(b, nullptr, 2, 100, 10, 0, 0, 0); }, inv},
      {"amount 0", nullptr, FreeHand({{0, 1000}, 0, 20, 0, 1}), inv},
      {"angle 36001", nullptr, FreeHand({{0, 1000}, 100, 20, 36001, 1}), inv},
      {"unit 0x20", nullptr, FreeHand({{0, 1000}, 100, 20, 0, 0x21}), inv},
      {"a flat curve", nullptr, FreeHand({{0, 0, 0}, 100, 20, 0, 1}), SUCCESS, kNone},
      {"wavelength 500 waves", nullptr, FreeHand({{0, 1000}, 100, 500, -36000, 0x12}), SUCCESS},
  });
  CompareCases<FreeHandArgs>(
      {
          // A saw-tooth of up to 10 pixels running down the image.
          {"saw-tooth down the image", {24, 20, 24, ORDER_BGR, {1, 2, 22, 19}}, saw},
          {"rounded curve at 60 degrees in 3 waves, 16-bit gray",
           {22, 18, 16, ORDER_GRAY, {}, 7},
           {{0, 7000, 10000, 7000, 0, -7000, -10000, -7000, 0}, 60, 3, 6000, 0x10}},
          {"steep curve, window beyond the bitmap",
           {18, 12, 48, ORDER_BGR},
           {{-90000, 40000, 0, 120000}, 100, 50, -13500, 0}},
      },
      FreeHand, ExpectedFreeHand);
}

}  // namespace
