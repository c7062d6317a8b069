// The samplers shared by the effects, worked by hand at their edges.
#include <array>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "TestSupport.h"
#include "frame/Samplers.h"
#include "frame/ShortMath.h"

namespace {

class FrameTest : public fxtest::HostFixture {};

// The samplers worked by hand where effects rarely take them: between and beyond the edges,
// outside the value range, at absurd coordinates. Bilinear: a table of two 3-pixel gray rows.
TEST_F(FrameTest, SamplersAtTheirEdgesByHand) {
  const struct {
    double x, y;
    int expected;
    std::array<uint8_t, 6> rows = {100, 200, 50, 0, 255, 90};
  } bilinear[] = {
      {0.5, 0.5, 138},  // (100 + 200 + 0 + 255) / 4 = 138.75
      {-0.5, 0, 50},    // 100 - (200 - 100) / 2
      {1, 7.5, 255},    // below the table: the last row
      {0, -0.5, 150},   // between -1 and 0: extrapolated, 100 - (0 - 100) / 2
      {-0.9, 0, 255, {255, 250, 0, 255, 255, 0}},  // 259.5 clamped
      {1e300, -1e300, 0, {255, 250, 0, 255, 255, 0}},
      {NAN, 0, 255, {255, 250, 0, 255, 255, 0}},
  };
  for (const auto& c : bilinear) {
    uint8_t r[2][3] = {{c.rows[0], c.rows[1], c.rows[2]}, {c.rows[3], c.rows[4], c.rows[5]}};
    uint8_t *rows[2] = {r[0], r[1]}, out = 0;
    fx::BilinearSample<uint8_t>(rows, c.x, c.y, 2, 1, 3, &out);
    EXPECT_EQ(out, c.expected) << c.x << "," << c.y;
  }
  // Linear: three four-sample pixels (the fourth is never written), then a gray 16-bit row.
  const uint8_t colour[] = {10, 200, 0, 77, 20, 100, 50, 88, 60, 0, 255, 99};
  const std::pair<double, std::array<uint8_t, 3>> linear[] = {
      {1.5, {40, 50, 152}},
      {-0.5, {5, 250, 0}},
      {1e12, {60, 0, 255}},
      {NAN, {10, 200, 0}},
  };
  for (const auto& [x, want] : linear) {
    uint8_t out[4] = {1, 2, 3, 4};
    fx::LinearSample8(colour, x, 4, 3, out);
    EXPECT_EQ((std::array<uint8_t, 4>{out[0], out[1], out[2], out[3]}),
              (std::array<uint8_t, 4>{want[0], want[1], want[2], 4}))
        << x;
  }
  const uint16_t gray[] = {65535, 1000, 3};
  for (const auto& [x, want] : {std::pair{0.5, 33267}, {-0.25, 65535}, {1.75, 252}}) {
    uint16_t out = 7;
    fx::LinearSample16(gray, x, 1, 3, &out);
    EXPECT_EQ(out, want) << x;
  }
}

// A colour sample is the one-sample sample of each of its first three planes, whatever the
// position (inside, between and beyond the edges, extrapolated, far away), at both depths; a
// fourth sample is left as it was.
template <class T>
void ColourSamplesMatchTheirPlanes(int32_t step, uint32_t seed) {
  constexpr int32_t kWidth = 7, kRows = 5;
  std::mt19937 random(seed);
  std::uniform_int_distribution<uint32_t> level(0, fx::SampleTraits<T>::kMax);
  std::vector<std::vector<T>> colour(kRows, std::vector<T>(kWidth * step));
  std::vector<std::vector<std::vector<T>>> planes(3, std::vector<std::vector<T>>(kRows));
  for (int32_t r = 0; r < kRows; ++r) {
    for (T& v : colour[r]) v = static_cast<T>(level(random));
    for (int32_t k = 0; k < 3; ++k)
      for (int32_t x = 0; x < kWidth; ++x) planes[k][r].push_back(colour[r][x * step + k]);
  }
  auto pointers = [](std::vector<std::vector<T>>& rows) {
    std::vector<T*> p;
    for (auto& row : rows) p.push_back(row.data());
    return p;
  };
  const std::vector<T*> colourRows = pointers(colour);
  std::uniform_real_distribution<double> position(-3.0, 10.0);
  for (int32_t i = 0; i < 20000; ++i) {
    const double x = i % 97 == 0 ? 1e15 * (i % 2 ? 1 : -1) : position(random);
    const double y = i % 89 == 0 ? -1e15 : position(random);
    T out[4] = {1, 2, 3, 4};
    fx::BilinearSample<T>(colourRows.data(), x, y, kRows, step, kWidth, out);
    for (int32_t k = 0; k < 3; ++k) {
      std::vector<T*> planeRows = pointers(planes[k]);
      T want = 0;
      fx::BilinearSample<T>(planeRows.data(), x, y, kRows, 1, kWidth, &want);
      ASSERT_EQ(out[k], want) << "step " << step << " sample " << k << " at " << x << "," << y;
    }
    ASSERT_EQ(out[3], 4);
  }
}

TEST_F(FrameTest, ColourSamplesAreTheSamplesOfEachPlane) {
  ColourSamplesMatchTheirPlanes<uint8_t>(3, 1);
  ColourSamplesMatchTheirPlanes<uint8_t>(4, 2);
  ColourSamplesMatchTheirPlanes<uint16_t>(3, 3);
  ColourSamplesMatchTheirPlanes<uint16_t>(4, 4);
}

// The short paths' sine and cosine stay within their stated bound of libm's (itself within a
// unit of the last place) over four million arguments of every magnitude up to the reach, and
// beyond the reach, at infinities and NaN give libm's own values.
TEST(ShortMathTest, SinCosStaysWithinItsBound) {
  std::mt19937_64 random(7);
  std::vector<double> t;
  for (double magnitude : {1e-3, 1.0, 4.0, 100.0, 1e4, fx::kSinCosReach})
    for (int i = 0; i < 700000; ++i)
      t.push_back((static_cast<double>(random() >> 11) * 0x1p-52 - 1) * magnitude);
  for (int k = -64; k <= 64; ++k) {  // the edges of the quadrants, where the reduction turns
    t.push_back(k * 0.7853981633974483);
    t.push_back(std::nextafter(k * 0.7853981633974483, 1e9));
  }
  const double beyond[] = {
      std::nextafter(fx::kSinCosReach, 1e300), -3e6, 1e300, INFINITY, -INFINITY, NAN};
  t.insert(t.end(), std::begin(beyond), std::end(beyond));
  std::vector<double> s(t.size()), c(t.size());
  fx::SinCosRow(t.data(), s.data(), c.data(), static_cast<int32_t>(t.size()));
  double worst = 0;
  int64_t beyondChecked = 0;
  for (size_t i = 0; i < t.size(); ++i) {
    double ls, lc;
    ::sincos(t[i], &ls, &lc);
    if (!(std::abs(t[i]) <= fx::kSinCosReach)) {
      EXPECT_TRUE((s[i] == ls || (std::isnan(s[i]) && std::isnan(ls))) &&
                  (c[i] == lc || (std::isnan(c[i]) && std::isnan(lc))))
          << t[i];
      ++beyondChecked;
      continue;
    }
    worst = std::max({worst, std::abs(s[i] - ls), std::abs(c[i] - lc)});
  }
  EXPECT_LE(worst, fx::kSinCosError / 5) << "libm errs by a unit of the last place at most";
  EXPECT_EQ(beyondChecked, 6);
  // Two lanes and (where the processor has them) four give the same bits as the row.
  const int32_t n = static_cast<int32_t>(t.size());
  for (int32_t lanes : {2, 4}) {
#if defined(__x86_64__)
    if (lanes == 4 && !__builtin_cpu_supports("avx2")) continue;
#else
    if (lanes == 4) continue;  // the four-lane path exists only for x86-64
#endif
    std::vector<double> s2(t.size()), c2(t.size());
    int32_t done = lanes == 2
                       ? fx::shortmath::SinCosGroups<2>(t.data(), s2.data(), c2.data(), n)
                       : fx::shortmath::SinCosGroupsOfFour(t.data(), s2.data(), c2.data(), n);
    EXPECT_GT(done, n - lanes);
    for (; done < n; ++done) ::sincos(t[done], &s2[done], &c2[done]);
    EXPECT_EQ(std::memcmp(s2.data(), s.data(), s.size() * sizeof(double)), 0) << lanes;
    EXPECT_EQ(std::memcmp(c2.data(), c.data(), c.size() * sizeof(double)), 0) << lanes;
  }
}

// A nearest-pixel decision from an interval holds for every coordinate in it: the interval's
// ends, its middle and the doubles next to them give the decided index, over a million
// intervals of every width, crowded near pixel boundaries, zero and the last pixel; narrow
// intervals away from the boundaries are decided.
TEST(ShortMathTest, NearestIndexDecisionsHoldAcrossTheirInterval) {
  std::mt19937_64 random(11);
  const double widths[] = {0, 1e-12, 1e-9, 1e-6, 0.01, 0.4, 3};
  int64_t decided = 0, narrowAway = 0, narrowAwayDecided = 0;
  for (int i = 0; i < 1000000; ++i) {
    const int64_t last = static_cast<int64_t>(random() % 3000);
    const double e = widths[random() % std::size(widths)];
    const double unit = static_cast<double>(random() >> 11) * 0x1p-53;  // [0, 1)
    double s;
    switch (random() % 4) {
      case 0:  // anywhere around the span
        s = unit * (last + 4.0) - 2.0;
        break;
      case 1:  // at a pixel boundary k - 0.5, nudged by a few units of the last place
        s = std::nextafter(static_cast<double>(random() % (last + 2)) - 0.5,
                           random() % 2 ? 1e9 : -1e9);
        break;
      case 2:  // near 0 and 0.5
        s = (unit - 0.5) * 2e-9 + (random() % 2 ? 0.5 : 0.0);
        break;
      default:  // near the last pixel's edges
        s = static_cast<double>(last) + (random() % 2 ? 0.5 : -0.5) + (unit - 0.5) * 1e-8;
        break;
    }
    int64_t index = -1;
    const bool ok = fx::NearestIndexWithin(s, e, last, &index);
    const double frac = s + 0.5 - std::floor(s + 0.5);
    if (e <= 1e-9 && frac > 1e-6 && frac < 1 - 1e-6 && std::abs(s + 0.5) > 1e-6) {
      ++narrowAway;
      narrowAwayDecided += ok;
    }
    if (!ok) continue;
    ++decided;
    for (double t : {s - e, s - e / 2, s, s + e / 2, s + e, std::nextafter(s - e, -1e9),
                     std::nextafter(s + e, 1e9)}) {
      if (t < s - e || t > s + e) continue;  // a neighbour outside a zero-width interval
      ASSERT_EQ(fx::NearestIndex(t, last), index) << "s " << s << " e " << e << " at " << t;
    }
  }
  EXPECT_GT(decided, 500000);
  EXPECT_EQ(narrowAwayDecided, narrowAway);
  int64_t index = -1;
  EXPECT_FALSE(fx::NearestIndexWithin(NAN, 0, 10, &index));
  EXPECT_FALSE(fx::NearestIndexWithin(3.2, INFINITY, 10, &index));
  EXPECT_TRUE(fx::NearestIndexWithin(-INFINITY, 0.5, 10, &index));
  EXPECT_EQ(index, 0);
  EXPECT_EQ(fx::NearestIndex(NAN, 10), 0);
  EXPECT_EQ(fx::NearestIndex(1e300, 10), 10);
}

}  // namespace
