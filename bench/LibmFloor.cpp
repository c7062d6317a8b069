// The libm floor of the trigonometric kernels: exactly the libm calls the literal arithmetic of
// swirl, spherize and radial blur makes for every pixel of a 1920x1080 rectangle with their
// default parameters (centre in the middle), issued one loop per function over a row, with
// nothing else. A kernel's time over its floor says how much of it is work besides libm.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

constexpr int32_t kWidth = 1920, kHeight = 1080, kCx = kWidth / 2, kCy = kHeight / 2;
constexpr double kPi = 3.1415926535;

// Swirl: sqrt, atan2, sincos, sqrt, log, sincos per pixel (sincos: the sine and cosine of one
// angle in one call, the bits of sin and cos).
void FloorSwirl(benchmark::State& state) {
  const double a2 = 960.0 * 960.0, b2 = 540.0 * 540.0, turn = 400 / 180.0;
  std::vector<double> r(kWidth), th(kWidth), c(kWidth), s(kWidth), q(kWidth);
  double sink = 0;
  for (auto _ : state) {
    for (int32_t y = 0; y < kHeight; ++y) {
      const double dy = y - kCy;
      for (int32_t x = 0; x < kWidth; ++x) r[x] = std::sqrt((x - kCx) * double(x - kCx) + dy * dy);
      for (int32_t x = 0; x < kWidth; ++x) th[x] = std::atan2(dy, double(x - kCx)) + kPi;
      for (int32_t x = 0; x < kWidth; ++x) ::sincos(th[x], &s[x], &c[x]);
      for (int32_t x = 0; x < kWidth; ++x) q[x] = std::sqrt(a2 * c[x] * c[x] + b2 * s[x] * s[x]);
      for (int32_t x = 0; x < kWidth; ++x) th[x] += std::log(q[x] / r[x]) * turn;
      for (int32_t x = 0; x < kWidth; ++x) ::sincos(th[x], &s[x], &c[x]);
      for (int32_t x = 0; x < kWidth; ++x) sink += c[x] + s[x];
    }
  }
  benchmark::DoNotOptimize(sink);
}

// Spherize (strength 100, outward): sqrt, atan2, sincos, sqrt, asin per pixel.
void FloorSpherize(benchmark::State& state) {
  const double a2 = 959.0 * 959.0, b2 = 539.0 * 539.0;
  std::vector<double> r(kWidth), th(kWidth), c(kWidth), s(kWidth), q(kWidth);
  double sink = 0;
  for (auto _ : state) {
    for (int32_t y = 0; y < kHeight; ++y) {
      const double dy = y - kCy;
      for (int32_t x = 0; x < kWidth; ++x) r[x] = std::sqrt((x - kCx) * double(x - kCx) + dy * dy);
      for (int32_t x = 0; x < kWidth; ++x) th[x] = std::atan2(dy, double(x - kCx));
      for (int32_t x = 0; x < kWidth; ++x) ::sincos(th[x], &s[x], &c[x]);
      for (int32_t x = 0; x < kWidth; ++x) q[x] = std::sqrt(a2 * c[x] * c[x] + b2 * s[x] * s[x]);
      for (int32_t x = 0; x < kWidth; ++x) sink += std::asin(std::fmin(r[x] / q[x], 1.0));
    }
  }
  benchmark::DoNotOptimize(sink);
}

// Radial blur (length 20, spread 5): atan2 and sqrt per pixel, then sincos per sample, n =
// trunc(r·length / R + 0.5) samples.
void FloorRadialBlur(benchmark::State& state) {
  const double ref = std::sqrt(double(kCx) * kCx + double(kCy) * kCy);
  const double f = 20.0 / std::trunc(ref), theta = std::atan2(5.0, std::trunc(ref) / 20);
  double sink = 0;
  for (auto _ : state) {
    for (int32_t y = 0; y < kHeight; ++y) {
      const double dy = y - kCy;
      for (int32_t x = 0; x < kWidth; ++x) {
        const double phi = std::atan2(dy, double(x - kCx));
        const double r = std::trunc(std::sqrt((x - kCx) * double(x - kCx) + dy * dy));
        const uint32_t n = static_cast<uint32_t>(r * f + 0.5);
        const double step = n ? theta / n : 0;
        for (uint32_t k = 0; k < n; ++k) {
          double c, s;
          ::sincos(phi + step * k, &s, &c);
          sink += c + s;
        }
      }
    }
  }
  benchmark::DoNotOptimize(sink);
}

BENCHMARK(FloorSwirl)->Name("floor/swirl")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FloorSpherize)->Name("floor/spherize")->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(FloorRadialBlur)
    ->Name("floor/radial-blur")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
