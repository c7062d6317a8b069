// Gradient noise summed over octaves of doubling frequency and halving amplitude, and the
// painter that maps it to a blend of two colours and combines it with the pixels.
//
// The lattice tables make the per-pixel work look-ups and multiplications: each octave's corner
// indices, offsets and fade weights are tabulated once per coordinate, the y entries are taken
// once per row, the four corner gradients (and their products with the y offsets) once per
// lattice cell where a row crosses fewer cells than it has pixels, and the octave's 1/2^o weight
// is a multiplication (exact for a power of two, so identical to the division). Every value is
// formed by the same operations, in the same order, as the pixel-by-pixel definition.
//
// Extreme inputs: lattice tables of more than 2^32 - 1 entries (octaves × longer side) answer
// ERROR_NO_MEMORY instead of wrapping the count; zero octaves allocate no table and succeed. The
// ring distances x − centerX, y − centerY and the wave product (x + y) × waveFrequency are
// formed in 64 bits (identical whenever they fit in 32), so far centres and large frequencies
// keep drawing rings and waves; levels are saturated before they are clamped to the sample range.
#include "Common/Noise.h"

#include <cmath>
#include <cstring>

#include "frame/RowCache.h"

namespace fx {

bool NoiseTables::Allocate() {
  return perm_.Allocate(kNoiseTableSize) && grad_.Allocate(kNoiseTableSize);
}

void NoiseTables::Build(uint32_t seed) {
  int32_t* p = perm_.get();
  NoiseGradient* g = grad_.get();
  fxrt::srand(seed);
  for (int32_t i = 0; i < 512; ++i) {
    p[i] = fxrt::rand() & 0x1FF;
    double gx, gy, s;
    do {
      gx = ((fxrt::rand() & 0x3FF) - 512.0) / 512.0;
      gy = ((fxrt::rand() & 0x3FF) - 512.0) / 512.0;
      s = gx * gx + gy * gy;
    } while (!(s > 0.0 && s <= 1.0));
    const double norm = 1.0 / std::sqrt(s);
    g[i] = NoiseGradient{gx * norm, gy * norm};
  }
  for (int32_t i = 0; i <= 513; ++i) {
    g[512 + i] = g[i];
    p[512 + i] = p[i];
  }
}

bool NoiseLattice::Build(const NoiseTables& tables, uint32_t frequency, uint32_t octaves,
                         int32_t length) {
  points_.Reset();
  octaves_ = 0;
  length_ = length < 0 ? 0 : length;
  if (octaves > kNoiseMaxOctaves || frequency > kNoiseMaxFrequency) return false;
  octaves_ = static_cast<int32_t>(octaves);
  if (octaves == 0 || length_ == 0) return true;
  const uint64_t count = uint64_t{octaves} * static_cast<uint64_t>(length_);
  if (count > UINT32_MAX || !points_.Allocate(static_cast<uint32_t>(count))) return false;

  const int32_t* perm = tables.perm();
  const double l = length_;
  uint32_t scale = 1;  // 2^o
  for (int32_t o = 0; o < octaves_; ++o, scale *= 2) {
    const double cells = static_cast<double>(scale * frequency);
    cellCount_[o] =
        frequency == 0 ? 1 : (scale * frequency < kNoiseCells ? scale * frequency : kNoiseCells);
    NoiseLatticePoint* row = points_.get() + int64_t{o} * length_;
    for (int32_t t = 0; t < length_; ++t) {
      const double pos = cells * (t / l);
      const int32_t cell = static_cast<int32_t>(pos);  // 0 .. 2^19: truncation is exact
      NoiseLatticePoint& e = row[t];
      e.i0 = cell & 511;
      e.i1 = (cell + 1) & 511;
      e.p0 = perm[e.i0];
      e.p1 = perm[e.i1];
      e.f0 = pos - cell;
      e.f1 = e.f0 - 1.0;
      e.w0 = NoiseFade(e.f0);
      e.w1 = NoiseFade(e.f1);
    }
  }
  return true;
}

void NoiseRow(const NoiseTables& tables, const NoiseLattice& lattice, int32_t y, int32_t count,
              NoiseCell* cells, double* out) {
  for (int32_t x = 0; x < count; ++x) out[x] = 0.0;
  const int32_t* perm = tables.perm();
  const NoiseGradient* grad = tables.grad();
  double weight = 1.0;  // 1 / 2^o
  for (int32_t o = 0; o < lattice.octaves(); ++o, weight *= 0.5) {
    const NoiseLatticePoint* points = lattice.Octave(o);
    const NoiseLatticePoint& ly = points[y];
    const int32_t c0 = ly.p0, c1 = ly.p1;
    const double f0y = ly.f0, f1y = ly.f1, w0y = ly.w0, w1y = ly.w1;
    const int32_t used = lattice.CellCount(o);
    if (used <= count) {
      // Fewer cells than pixels: look the gradients up once per cell (i1 = i0 + 1 mod 512).
      for (int32_t i = 0; i < used; ++i) {
        const int32_t j = (i + 1) & 511;
        const NoiseGradient& g00 = grad[perm[i + c0]];
        const NoiseGradient& g01 = grad[perm[i + c1]];
        const NoiseGradient& g10 = grad[perm[j + c0]];
        const NoiseGradient& g11 = grad[perm[j + c1]];
        cells[i] = NoiseCell{g00.x,       g01.x,       g10.x,       g11.x,
                             g00.y * f0y, g01.y * f1y, g10.y * f0y, g11.y * f1y};
      }
      for (int32_t x = 0; x < count; ++x) {
        const NoiseLatticePoint& lx = points[x];
        const NoiseCell& c = cells[lx.i0];
        const double n =
            lx.w0 * w0y * (c.g00x * lx.f0 + c.t00) + lx.w0 * w1y * (c.g01x * lx.f0 + c.t01) +
            lx.w1 * w0y * (c.g10x * lx.f1 + c.t10) + lx.w1 * w1y * (c.g11x * lx.f1 + c.t11);
        out[x] += n * weight;
      }
      continue;
    }
    for (int32_t x = 0; x < count; ++x) {
      const NoiseLatticePoint& lx = points[x];
      const NoiseGradient& g00 = grad[perm[lx.i0 + c0]];
      const NoiseGradient& g01 = grad[perm[lx.i0 + c1]];
      const NoiseGradient& g10 = grad[perm[lx.i1 + c0]];
      const NoiseGradient& g11 = grad[perm[lx.i1 + c1]];
      const double n = lx.w0 * w0y * (g00.x * lx.f0 + g00.y * f0y) +
                       lx.w0 * w1y * (g01.x * lx.f0 + g01.y * f1y) +
                       lx.w1 * w0y * (g10.x * lx.f1 + g10.y * f0y) +
                       lx.w1 * w1y * (g11.x * lx.f1 + g11.y * f1y);
      out[x] += n * weight;
    }
  }
  for (int32_t x = 0; x < count; ++x) out[x] = 0.58 * (out[x] + 0.94);
}

namespace {

// Everything a row of the painter needs, prepared once per call: the modulation, the colour
// ramp t(level) of every shaded sample, and the blend.
template <class T>
class NoiseShader {
 public:
  static constexpr int32_t kMax = SampleTraits<T>::kMax;
  static constexpr double kMaxD = kMax;

  // Allocates the ramp; false on failure.
  bool Init(const NoisePaint& p, int32_t pixelStep) {
    paint_ = p;
    blend_ = kMax == 255 ? p.blend8 : p.blend16;
    pixelStep_ = pixelStep;
    samples_ = pixelStep > 1 ? 3 : 1;
    if (!ramp_.Allocate(static_cast<uint32_t>(samples_) * (kMax + 1))) return false;
    double fore[3], back[3];
    Prepare(p.foreColor, pixelStep > 1, fore);
    Prepare(p.backColor, pixelStep > 1, back);
    for (int32_t c = 0; c < samples_; ++c)
      for (int32_t level = 0; level <= kMax; ++level)
        ramp_[c * (kMax + 1) + level] =
            static_cast<T>(static_cast<int32_t>(fore[c] * level + back[c] * (kMax - level)));
    opacity_ = p.opacity;
    opacityFrac_ = p.opacity / 100.0;
    keep_ = (100 - p.opacity) / 100.0;
    return true;
  }

  bool KeepsPixels() const { return blend_ == NoiseBlend::kKeep; }

  // Shades `count` pixels starting at `pixels` from the noise values of row y (relative);
  // `levels` is scratch for count entries.
  void Row(const double* noise, int32_t y, T* pixels, int32_t count, int32_t* levels) const {
    Levels(noise, y, count, levels);
    switch (blend_) {
      case NoiseBlend::kReplace:
        Shade(pixels, count, levels, [](int32_t t, int32_t) { return t; });
        break;
      case NoiseBlend::kDifference:
        Shade(pixels, count, levels, [this](int32_t t, int32_t s) {
          const double d = t > s ? t - s : s - t;
          return static_cast<int32_t>((1.0 - d / kMaxD) * d * opacity_ / 100.0 + keep_ * d);
        });
        break;
      case NoiseBlend::kAverage:
        Shade(pixels, count, levels, [this](int32_t t, int32_t s) {
          return static_cast<int32_t>(keep_ * s + opacityFrac_ * (0.5 * s + t * 0.5));
        });
        break;
      case NoiseBlend::kKeep:
        break;
    }
  }

 private:
  // Colour samples in working-row order (blue, green, red, or one gray level), divided by max.
  static void Prepare(COLORREF c, bool colour, double* out) {
    const int32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    int32_t s[3] = {b, g, r};
    if (!colour) s[0] = (5 * g + 2 * r + b + 4) >> 3;
    for (int32_t k = 0; k < 3; ++k) out[k] = (kMax == 255 ? s[k] : s[k] * 257) / kMaxD;
  }

  // levels[x] = the modulated level of the noise at (x, y), clamped to 0 .. max.
  void Levels(const double* noise, int32_t y, int32_t count, int32_t* levels) const {
    const double amount = paint_.amount;
    switch (paint_.modulation) {
      case NoiseModulation::kRings: {
        const double ringStep = paint_.waveFrequency / 100.0;
        const double dy = static_cast<double>(int64_t{y} - paint_.centerY);
        const double dy2 = dy * dy;
        LevelsWith(noise, count, levels, [&](double v, int32_t x) {
          const double dx = static_cast<double>(int64_t{x} - paint_.centerX);
          return std::sin(ringStep * std::sqrt(dx * dx + dy2)) * v * amount;
        });
        break;
      }
      case NoiseModulation::kWaves:
        LevelsWith(noise, count, levels, [&](double v, int32_t x) {
          const int64_t phase = (int64_t{x} + y) * paint_.waveFrequency;
          return std::sin(static_cast<double>(phase) / 100.0) * v * amount;
        });
        break;
      case NoiseModulation::kContrast: {
        const double offset = paint_.amount / 100.0;
        LevelsWith(noise, count, levels, [&](double v, int32_t) {
          return ((2.0 * kMaxD) / (std::fabs(v) + kMaxD) - 1.0 + offset) * kMaxD;
        });
        break;
      }
      case NoiseModulation::kNone:
        LevelsWith(noise, count, levels, [](double v, int32_t) { return v; });
    }
  }

  template <class Modulate>
  static void LevelsWith(const double* noise, int32_t count, int32_t* levels, Modulate&& modulate) {
    for (int32_t x = 0; x < count; ++x) {
      const int32_t level = TruncToInt32(modulate(std::floor(kMaxD * noise[x]), x));
      levels[x] = level < 0 ? 0 : (level > kMax ? kMax : level);
    }
  }

  template <class Blend>
  void Shade(T* pixels, int32_t count, const int32_t* levels, Blend&& blend) const {
    const T* ramp = ramp_.get();
    for (int32_t x = 0; x < count; ++x) {
      T* px = pixels + int64_t{x} * pixelStep_;
      for (int32_t c = 0; c < samples_; ++c)
        px[c] = static_cast<T>(blend(ramp[c * (kMax + 1) + levels[x]], px[c]));
    }
  }

  NoisePaint paint_;
  NoiseBlend blend_ = NoiseBlend::kReplace;
  int32_t pixelStep_ = 1;
  int32_t samples_ = 1;  // colour samples shaded per pixel: 1 (gray) or 3; a fourth is kept
  double opacity_ = 0, opacityFrac_ = 0, keep_ = 1;  // percent, / 100, (100 - opacity) / 100
  HostBlock<T> ramp_;                                // t for every level, per sample
};

template <class T>
int32_t GenerateNoise(RowAccess* access, int32_t height, const NoiseTables& tables,
                      const RECT& rect, const NoisePaint& paint) {
  const int32_t cols = rect.right - rect.left, rows = rect.bottom - rect.top;
  NoiseLattice lattice;
  if (!lattice.Build(tables, paint.frequency, paint.octaves, cols > rows ? cols : rows))
    return ERROR_NO_MEMORY;
  const int32_t pixelStep = HostPixelStep(access);
  NoiseShader<T> shader;
  if (!shader.Init(paint, pixelStep)) return ERROR_NO_MEMORY;
  const size_t rowBytes = static_cast<size_t>(HostRowBytes(access));
  // Scratch of a row: the noise values, the lattice cells and the levels.
  const size_t noiseBytes = (size_t(cols) * sizeof(double) + 63) / 64 * 64;
  const size_t cellBytes = kNoiseCells * sizeof(NoiseCell);
  RowWindow source;
  RowSlots slots;
  const int32_t rc = source.AllocateRowByRow(
      rowBytes, slots, noiseBytes + cellBytes + size_t(cols) * sizeof(int32_t));
  if (rc != SUCCESS) return rc;
  return source.RunInPlace(
      access, slots, rect.top, rect.bottom, height, cols,
      [&](int32_t y, uint8_t* out, uint8_t* scratch) {
        if (shader.KeepsPixels()) return;
        auto* noise = reinterpret_cast<double*>(scratch);
        auto* cells = reinterpret_cast<NoiseCell*>(scratch + noiseBytes);
        auto* levels = reinterpret_cast<int32_t*>(scratch + noiseBytes + cellBytes);
        NoiseRow(tables, lattice, y - rect.top, cols, cells, noise);
        shader.Row(noise, y - rect.top, reinterpret_cast<T*>(out) + int64_t{rect.left} * pixelStep,
                   cols, levels);
      },
      NoHostCall(), WriteRow(access));
}

}  // namespace

int32_t PaintNoise(BitmapRecord* bitmap, const NoisePaint& paint) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  NoiseTables tables;
  if (!tables.Allocate()) return ERROR_NO_MEMORY;
  const int32_t sampleBits = access.SampleBits();
  tables.Build(paint.seed);

  RECT rect;
  HostGetProcessRect(bitmap, 0, &rect);
  rc = BeginWritePhaseEx(access, bitmap, 1, 100);
  if (rc != SUCCESS) return rc;
  rc = WithSampleType(sampleBits, [&](auto sample) {
    return GenerateNoise<decltype(sample)>(access, bitmap->Height, tables, rect, paint);
  });
  HostFinishUpdate(bitmap);
  return rc;
}

}  // namespace fx
