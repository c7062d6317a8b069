// The gradient-noise engine of the procedural textures: permutation and gradient tables drawn
// from the seeded generator, per-octave lattice tables over the rectangle's longer side, the
// fade curve and the octave sum, plus the driver and kernel that paint the noise as a blend of two
// colours (shared by clouds and Perlin noise).
#pragma once

#include <cmath>
#include <cstdint>

#include "frame/Frame.h"

namespace fx {

// Entries of the permutation and gradient tables; entries 512 .. 1025 repeat 0 .. 513.
inline constexpr int32_t kNoiseTableSize = 1026;

struct NoiseGradient {
  double x, y;
};

// The permutation P and the unit gradients G of one seed.
class NoiseTables {
 public:
  // Takes both tables from the host; false when either allocation fails.
  bool Allocate();
  // Seeds the generator with `seed` and draws P[i] and G[i] for i = 0 .. 511 in turn.
  void Build(uint32_t seed);
  const int32_t* perm() const { return perm_.get(); }
  const NoiseGradient* grad() const { return grad_.get(); }

 private:
  HostBlock<int32_t> perm_;
  HostBlock<NoiseGradient> grad_;
};

// F(u) = (2|u| - 3)u² + 1: 1 at the lattice point, 0 one cell away.
inline double NoiseFade(double u) {
  return (2.0 * std::fabs(u) - 3.0) * (u * u) + 1.0;
}

// One lattice coordinate t of one octave: the cell's corner indices, their permutation entries,
// the two offsets from the corners and their fade weights.
struct NoiseLatticePoint {
  int32_t i0, i1, p0, p1;
  double f0, f1, w0, w1;
};

// Limits of the exports; the lattice refuses larger values.
inline constexpr uint32_t kNoiseMaxOctaves = 16;
inline constexpr uint32_t kNoiseMaxFrequency = 16;

// The lattice tables of every octave over t = 0 .. length - 1; both axes index the same tables,
// so the cells are square whatever the rectangle's shape.
class NoiseLattice {
 public:
  // false when the tables cannot be allocated or the limits are exceeded; zero octaves need no
  // table and succeed.
  bool Build(const NoiseTables& tables, uint32_t frequency, uint32_t octaves, int32_t length);
  int32_t octaves() const { return octaves_; }
  // Distinct corner indices i0 of octave o over the whole length.
  int32_t CellCount(int32_t o) const { return cellCount_[o]; }
  // Octave o's entries, indexed by t.
  const NoiseLatticePoint* Octave(int32_t o) const { return points_.get() + int64_t{o} * length_; }

 private:
  HostBlock<NoiseLatticePoint> points_;
  int32_t octaves_ = 0;
  int32_t length_ = 0;
  int32_t cellCount_[kNoiseMaxOctaves] = {};
};

// The gradient terms of one lattice cell along a row: the four corners' x components and their
// y products g.y · f_y, which stay the same across the cell.
struct NoiseCell {
  double g00x, g01x, g10x, g11x;
  double t00, t01, t10, t11;
};
// Cells a row can cross in one octave (corner indices are taken modulo 512).
inline constexpr int32_t kNoiseCells = 512;

// out[x] = N(x, y) = 0.58 × (Σ n_o + 0.94) for x = 0 .. count - 1, coordinates relative to the
// rectangle (count and y below the lattice length). `cells` is scratch for kNoiseCells entries.
void NoiseRow(const NoiseTables& tables, const NoiseLattice& lattice, int32_t y, int32_t count,
              NoiseCell* cells, double* out);

// How the noise level is modulated before it is mapped to colours.
enum class NoiseModulation : uint8_t { kRings, kWaves, kContrast, kNone };
// How the mapped colour meets the present sample.
enum class NoiseBlend : uint8_t { kReplace, kDifference, kAverage, kKeep };

struct NoisePaint {
  uint32_t seed = 0;
  uint32_t frequency = 0;
  uint32_t octaves = 0;
  uint32_t opacity = 100;
  COLORREF backColor = 0;
  COLORREF foreColor = 0;
  NoiseModulation modulation = NoiseModulation::kNone;
  int32_t centerX = 0;  // ring centre relative to the rectangle
  int32_t centerY = 0;
  int32_t waveFrequency = 0;  // hundredths
  uint32_t amount = 0;
  NoiseBlend blend8 = NoiseBlend::kReplace;  // blend for 8-bit and for 16-bit working rows
  NoiseBlend blend16 = NoiseBlend::kReplace;
};

// Paints the noise texture over the rectangle to process: tables from the seed, lattice over the
// rectangle's longer side, each row read, shaded and written. Answers SUCCESS, ERROR_NO_MEMORY
// or the host's code.
int32_t PaintNoise(BitmapRecord* bitmap, const NoisePaint& paint);

}  // namespace fx
