// Gradient noise summed over octaves of doubling frequency and halving amplitude, and the
// painter that maps it to a blend of two colours and combines it with the pixels.
//
// The lattice tables make the per-pixel work look-ups and multiplications: each octave's
// corner indices, offsets and fade weights are tabulated once per coordinate, the y entries are
// taken once per row, and the octave's 1/2^o weight is a multiplication (exact for a power of
// two, so identical to the division).
//
// Extreme inputs: lattice tables of more than 2^32 - 1 entries (octaves × longer side) answer
// ERROR_NO_MEMORY instead of wrapping the count; zero octaves allocate no table and succeed. The
// ring distances x − centerX, y − centerY and the wave product (x + y) × waveFrequency are
// formed in 64 bits (identical whenever they fit in 32), so far centres and large frequencies
// keep drawing rings and waves; levels are saturated before they are clamped to the sample range.
#include "Common/Noise.h"

#include <cmath>

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
  octaves_ = static_cast<int32_t>(octaves);
  length_ = length < 0 ? 0 : length;
  if (octaves == 0 || length_ == 0) return true;
  const uint64_t count = uint64_t{octaves} * static_cast<uint64_t>(length_);
  if (count > UINT32_MAX || !points_.Allocate(static_cast<uint32_t>(count))) return false;

  const int32_t* perm = tables.perm();
  const double l = length_;
  uint32_t scale = 1;  // 2^o
  for (int32_t o = 0; o < octaves_; ++o, scale *= 2) {
    const double cells = static_cast<double>(scale * frequency);
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
              double* out) {
  for (int32_t x = 0; x < count; ++x) out[x] = 0.0;
  const int32_t* perm = tables.perm();
  const NoiseGradient* grad = tables.grad();
  double weight = 1.0;  // 1 / 2^o
  for (int32_t o = 0; o < lattice.octaves(); ++o, weight *= 0.5) {
    const NoiseLatticePoint* points = lattice.Octave(o);
    const NoiseLatticePoint& ly = points[y];
    const int32_t c0 = ly.p0, c1 = ly.p1;
    const double f0y = ly.f0, f1y = ly.f1, w0y = ly.w0, w1y = ly.w1;
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

// Everything a row of the painter needs, prepared once per call.
template <class T>
struct NoiseShader {
  static constexpr int32_t kMax = SampleTraits<T>::kMax;
  static constexpr double kMaxD = kMax;

  NoiseModulation modulation;
  NoiseBlend blend;
  int32_t samples;  // colour samples shaded per pixel: 1 (gray) or 3; a fourth is kept
  int32_t pixelStep;
  double fore[3];  // prepared colour sample / max
  double back[3];
  double opacity;      // percent
  double opacityFrac;  // opacity / 100
  double keep;         // (100 - opacity) / 100
  int64_t centerX, centerY;
  int32_t waveFrequency;
  double ringStep;  // waveFrequency / 100
  double amount;
  double offset;  // amount / 100

  // Colour samples in working-row order: blue, green, red, or one gray level.
  static void Prepare(COLORREF c, bool colour, double* out) {
    const int32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
    int32_t s[3] = {b, g, r};
    if (!colour) s[0] = (5 * g + 2 * r + b + 4) >> 3;
    for (int32_t k = 0; k < 3; ++k) out[k] = (kMax == 255 ? s[k] : s[k] * 257) / kMaxD;
  }

  NoiseShader(const NoisePaint& p, int32_t step) {
    modulation = p.modulation;
    blend = kMax == 255 ? p.blend8 : p.blend16;
    pixelStep = step;
    samples = step > 1 ? 3 : 1;
    Prepare(p.foreColor, step > 1, fore);
    Prepare(p.backColor, step > 1, back);
    opacity = p.opacity;
    opacityFrac = p.opacity / 100.0;
    keep = (100 - p.opacity) / 100.0;
    centerX = p.centerX;
    centerY = p.centerY;
    waveFrequency = p.waveFrequency;
    ringStep = p.waveFrequency / 100.0;
    amount = p.amount;
    offset = p.amount / 100.0;
  }

  // The modulated level of noise value `noise` at (x, y), clamped to 0 .. max.
  int32_t Level(double noise, int32_t x, double dy2, int32_t y) const {
    double v = std::floor(kMaxD * noise);
    switch (modulation) {
      case NoiseModulation::kRings: {
        const double dx = static_cast<double>(x - centerX);
        const double r = std::sqrt(dx * dx + dy2);
        v = std::sin(ringStep * r) * v * amount;
        break;
      }
      case NoiseModulation::kWaves: {
        const int64_t phase = (int64_t{x} + y) * waveFrequency;
        v = std::sin(static_cast<double>(phase) / 100.0) * v * amount;
        break;
      }
      case NoiseModulation::kContrast:
        v = ((2.0 * kMaxD) / (std::fabs(v) + kMaxD) - 1.0 + offset) * kMaxD;
        break;
      case NoiseModulation::kNone:
        break;
    }
    const int32_t level = TruncToInt32(v);
    return level < 0 ? 0 : (level > kMax ? kMax : level);
  }

  int32_t Blend(int32_t t, int32_t s) const {
    switch (blend) {
      case NoiseBlend::kReplace:
        return t;
      case NoiseBlend::kDifference: {
        const double d = t > s ? t - s : s - t;
        return static_cast<int32_t>((1.0 - d / kMaxD) * d * opacity / 100.0 + keep * d);
      }
      case NoiseBlend::kAverage:
        return static_cast<int32_t>(keep * s + opacityFrac * (0.5 * s + t * 0.5));
      case NoiseBlend::kKeep:
        break;
    }
    return s;
  }

  // Shades `count` pixels starting at `pixels` from the noise values of row y (relative).
  void Row(const double* noise, int32_t y, T* pixels, int32_t count) const {
    const double dy = static_cast<double>(y - centerY);
    const double dy2 = dy * dy;
    for (int32_t x = 0; x < count; ++x) {
      const int32_t level = Level(noise[x], x, dy2, y);
      const double lv = level, rest = kMax - level;
      T* px = pixels + int64_t{x} * pixelStep;
      for (int32_t c = 0; c < samples; ++c) {
        const int32_t t = static_cast<int32_t>(fore[c] * lv + back[c] * rest);
        px[c] = static_cast<T>(Blend(t, px[c]));
      }
    }
  }
};

template <class T>
int32_t GenerateNoise(RowAccess* access, const NoiseTables& tables, const RECT& rect,
                      const NoisePaint& paint) {
  const int32_t cols = rect.right - rect.left, rows = rect.bottom - rect.top;
  NoiseLattice lattice;
  if (!lattice.Build(tables, paint.frequency, paint.octaves, cols > rows ? cols : rows))
    return ERROR_NO_MEMORY;
  const int32_t pixelStep = HostPixelStep(access);
  const NoiseShader<T> shader(paint, pixelStep);

  HostBlock<uint8_t> row;
  row.Reset(static_cast<uint8_t*>(HostAllocRowBuffer(access)));
  HostBlock<double> noise;
  if (!row || !noise.Allocate(static_cast<uint32_t>(cols))) return ERROR_NO_MEMORY;
  T* first = reinterpret_cast<T*>(row.get()) + int64_t{rect.left} * pixelStep;
  return ProcessRows(access, rect.top, rect.bottom, row.get(), [&](int32_t y) {
    if (shader.blend == NoiseBlend::kKeep) return;
    NoiseRow(tables, lattice, y - rect.top, cols, noise.get());
    shader.Row(noise.get(), y - rect.top, first, cols);
  });
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
    return GenerateNoise<decltype(sample)>(access, tables, rect, paint);
  });
  HostFinishUpdate(bitmap);
  return rc;
}

}  // namespace fx
