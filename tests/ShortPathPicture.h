// Pictures and counts for the tests that compare an effect's short path with its literal
// arithmetic row by row.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

namespace fxtest {

// A picture of `width` pixels of `step` samples per row: flat blocks with sharp edges (the
// test card's kind), slow ramps (blends that land near whole values) and noise, a third each.
template <class T>
std::vector<std::vector<T>> ShortPathPicture(int32_t width, int32_t height, int32_t step,
                                             uint32_t seed) {
  std::mt19937 random(seed);
  const int32_t max = sizeof(T) == 1 ? 255 : 65535;
  std::vector<std::vector<T>> rows(height, std::vector<T>(size_t(width) * step));
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x)
      for (int32_t k = 0; k < step; ++k) {
        int32_t v;
        if (y < height / 3)
          v = ((x / 37 + y / 23 + k) % 4) * max / 3;
        else if (y < 2 * height / 3)
          v = (x * 3 + y + k * 50) % (max + 1);
        else
          v = static_cast<int32_t>(random() % uint32_t(max + 1));
        rows[y][size_t(x) * step + k] = static_cast<T>(v);
      }
  return rows;
}

// Pixels the literal arithmetic moved, pixels the short path left to it, and samples on which
// the two runs differ.
struct ShortPathCount {
  int64_t moved = 0, literal = 0, differing = 0;
};

}  // namespace fxtest
