// The wave family's shared pieces: periods, the table shapes, the triangle reshaping, the weight
// table, the fill pixel and the corner distances. See Wave_sfx.h.
#include "Common/Wave_sfx.h"

#include <algorithm>

namespace fx {

double WavePeriods(int64_t count, uint32_t wavelength, bool unitCount) {
  if (unitCount) return static_cast<double>(wavelength);
  const int64_t span = count - 1;
  // A table of one computed entry has no extent to measure the wavelength against.
  if (span <= 0) return 100.0 / wavelength;
  // The product is formed in 64 bits: it cannot wrap to zero for huge extents or wavelengths.
  const uint64_t product = static_cast<uint64_t>(span) * wavelength;
  return static_cast<double>(span) / (static_cast<double>(product) / 100.0);
}

void FillWaveTable(double* table, int64_t count, WaveShape shape, double amp, double periods,
                   int64_t extent, bool across) {
  // An extent below one pixel truncates to 0; it divides as 1 (the table is then hardly read).
  const double divisor = extent == 0 ? 1.0 : static_cast<double>(extent);
  const double squareDivisor = static_cast<double>(extent + 1);
  for (int64_t i = 0; i <= count; ++i) {
    const double phi = static_cast<double>(i) * periods * 2.0 * kWavePi;
    double v;
    switch (shape) {
      case kWaveCosine:
        v = amp * std::cos(phi / divisor);
        break;
      case kWaveSquare:
        v = amp * std::sin(phi / squareDivisor) >= 0 ? amp : -amp;
        break;
      default:  // sine, and the triangle's starting point
        v = amp * std::sin(phi / divisor);
        break;
    }
    table[i] = across ? -v : v;
  }
}

int32_t ReshapeTriangle(double* table, int64_t n, double q, double a, bool across) {
  struct Point {
    double position, value;
  };
  // Each entry appends at most two points (a turn and a crossing) and one closing point follows:
  // room for every point the scan can find, whatever the periods.
  const int64_t capacity = 2 * n + 1;
  if (capacity > int64_t{UINT32_MAX}) return ERROR_NO_MEMORY;
  HostBlock<Point> points;
  if (!points.Allocate(static_cast<uint32_t>(capacity))) return ERROR_NO_MEMORY;

  int64_t count = 0;
  const auto add = [&](int64_t i) { points[count++] = Point{static_cast<double>(i), table[i]}; };
  bool rising = true, falling = true, seekUp = across, seekDown = !across;
  for (int64_t i = 0; i < n; ++i) {
    const double t0 = table[i], t1 = table[i + 1];
    if (t1 > t0 && rising) {
      add(i);
      rising = false, falling = true;
    }
    if (t1 < 0 && seekDown) {
      add(i);
      seekUp = true, seekDown = false;
    }
    if (t1 > 0 && seekUp) {
      add(i);
      seekUp = false, seekDown = true;
    }
    if (t0 > t1 && falling) {
      add(i);
      rising = true, falling = false;
    }
  }
  if (count > 0 && points[count - 1].position == static_cast<double>(n - 1)) --count;
  // No point (a flat table), or only one on the last entry: the table stays as it is.
  if (count == 0) return SUCCESS;

  // The closing point a quarter period after the last one. A lone point has no point before
  // it; a level of 0 stands in for it.
  const Point last = points[count - 1];
  const double before = count >= 2 ? points[count - 2].value : 0.0;
  const double quarter = n / (q * 4.0);
  const double reach = last.position + quarter;
  const double end = static_cast<double>(n - 1);
  Point closing;
  closing.position = reach > end ? reach : end;
  closing.value = last.value > a / 2 || last.value < -a / 2 ? 0.0 : (before > a / 2 ? -a : a);
  points[count++] = closing;

  // Straight segments between consecutive points, written from entry 0 on.
  int64_t o = 0;
  for (int64_t k = 0; k + 1 < count; ++k) {
    const Point p = points[k], r = points[k + 1];
    const int64_t stop = std::min(TruncSat(r.position), n);
    for (int64_t at = TruncSat(p.position); at < stop && o < n; ++at, ++o)
      table[o] =
          (r.value - p.value) / (r.position - p.position) * (static_cast<double>(o) - p.position) +
          p.value;
  }
  return SUCCESS;
}

bool WaveWeights::Prepare() {
  if (!index_.Allocate(101) || !entries_.Allocate(101 * 101)) return false;
  for (int32_t i = 0; i <= 100; ++i) index_[i] = entries_.get() + i * 101;
  HostFillWeightTable(index_.get());
  return true;
}

WaveFillPixels MakeWaveFill(COLORREF colour, int32_t pixelStep) {
  WaveFillPixels fill;
  HostColorToPixel(fill.s8.s, colour, 8, pixelStep);
  HostColorToPixel(fill.s16.s, colour, 16, pixelStep);
  return fill;
}

int64_t CornerDistance(POINT center, const RECT& corners, bool greatest) {
  const int32_t xs[2] = {corners.left, corners.right}, ys[2] = {corners.top, corners.bottom};
  int64_t best = 0;
  for (int i = 0; i < 4; ++i) {
    const double dx = static_cast<double>(int64_t{center.x} - xs[i & 1]);
    const double dy = static_cast<double>(int64_t{center.y} - ys[i >> 1]);
    const int64_t d = static_cast<int64_t>(std::sqrt(dx * dx + dy * dy));
    if (i == 0 || (greatest ? d > best : d < best)) best = d;
  }
  return best;
}

}  // namespace fx
