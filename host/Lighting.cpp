// The lighting operations behind Fx_FunctionalLightBitmap: a directional light over the
// picture's relief, a point light and a spot light. Each works on the rectangle to process in
// the bitmap's current view, a band of rows at a time (read, lit on the row engine, written in
// row order), and writes through its region; the definitions are in host/Host.h.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "fxkit/effects.h"
#include "host/Host.h"
#include "host/HostInternal.h"
#include "host/RowEngine.h"

namespace {

constexpr double kPi = 3.1415926535;

// A row access and the band's source rows: band() + n - 1 rows of the working pixels and, with a
// window, their gray levels; released on every path.
class Rows {
 public:
  ~Rows() {
    if (pixels_) FX_FREE(pixels_);
    if (grays_) FX_FREE(grays_);
    if (access_) HostCloseRowAccess(access_);
  }
  int32_t Open(BitmapRecord* bitmap, int32_t n, bool window) {
    int32_t rc = HostOpenRowAccess(bitmap, &access_, 2);
    if (rc != SUCCESS) return rc;
    rowBytes_ = HostRowBytes(access_);
    width_ = bitmap->Width;
    band_ = host::BandRows(rowBytes_ + (window ? int64_t{width_} * int64_t{sizeof(int32_t)} : 0));
    count_ = band_ + n - 1;
    pixels_ = static_cast<uint8_t*>(
        FX_ALLOC(static_cast<uint32_t>(count_), static_cast<uint32_t>(rowBytes_)));
    if (!pixels_) return ERROR_NO_MEMORY;
    if (window) {
      grays_ = static_cast<int32_t*>(
          FX_ALLOC(static_cast<uint32_t>(count_) * static_cast<uint32_t>(width_), sizeof(int32_t)));
      if (!grays_) return ERROR_NO_MEMORY;
    }
    return slots_.Allocate(size_t(rowBytes_), 0) ? SUCCESS : ERROR_NO_MEMORY;
  }
  RowAccess* get() const { return access_; }
  const host::RowSlots& slots() const { return slots_; }
  int32_t count() const { return count_; }
  // Output rows a band covers: its source rows are read before its rows are computed.
  int32_t band() const { return band_; }
  // Band row k (0 .. count - 1) and its gray levels.
  uint8_t* row(int32_t k) const { return pixels_ + size_t(k) * size_t(rowBytes_); }
  int32_t* gray(int32_t k) const { return grays_ + size_t(k) * size_t(width_); }
  // Moves the last `keep` rows (and gray levels) of the first `used` to the front.
  void Keep(int32_t used, int32_t keep) {
    std::memmove(row(0), row(used - keep), size_t(keep) * size_t(rowBytes_));
    if (grays_)
      std::memmove(gray(0), gray(used - keep), size_t(keep) * size_t(width_) * sizeof(int32_t));
  }

 private:
  RowAccess* access_ = nullptr;
  uint8_t* pixels_ = nullptr;
  int32_t* grays_ = nullptr;
  int32_t count_ = 0, band_ = 1, rowBytes_ = 0, width_ = 0;
  host::RowSlots slots_;
};

// What every operation shares: the colour, the strengths and the rectangle.
struct Lighting {
  double color[3];  // the light's colour samples, 0 .. 255 (gray pixels: sample 0)
  double intensity, ambient;
  RECT rect;
  int32_t width, height, step, bits;
};

// Sample p under light s (0 .. 1): p × (ambient + intensity × s × c / 255) / 100, clipped to the
// sample range and truncated.
template <class T>
inline void Light(T* pixel, int32_t samples, const Lighting& l, double s) {
  constexpr double kMax = sizeof(T) == 1 ? 255.0 : 65535.0;
  for (int32_t k = 0; k < samples; ++k) {
    const double f = (l.ambient + l.intensity * s * l.color[k] / 255.0) / 100.0;
    const double v = pixel[k] * f;
    pixel[k] = static_cast<T>(v >= kMax ? kMax : (v > 0 ? v : 0));
  }
}

// The gray level of working pixel x: the sample, or (b + 5g + 2r + 4) / 8.
template <class T>
inline int32_t GrayAt(const T* row, int32_t step, int32_t x) {
  const T* p = row + int64_t{x} * step;
  if (step < 3) return p[0];
  return (int32_t(p[0]) + 5 * int32_t(p[1]) + 2 * int32_t(p[2]) + 4) / 8;
}

// Directional: the relief's normal against the light vector.
struct Directional {
  double lx, ly, lz;
};

// rows: the gray levels of rows y - 1, y and y + 1; twiceMax: 2M.
double DirectionalShade(const Directional& d, const Lighting& l, const int32_t* const* rows,
                        int32_t x, double twiceMax) {
  const int32_t *a = rows[0], *b = rows[1], *c = rows[2];
  const int32_t xl = x > 0 ? x - 1 : 0, xr = x < l.width - 1 ? x + 1 : l.width - 1;
  const int32_t gx = (a[xr] + 2 * b[xr] + c[xr]) - (a[xl] + 2 * b[xl] + c[xl]);
  const int32_t gy = (c[xl] + 2 * c[x] + c[xr]) - (a[xl] + 2 * a[x] + a[xr]);
  const double nx = -gx / twiceMax, ny = -gy / twiceMax;
  const double s = (nx * d.lx + ny * d.ly + d.lz) / std::sqrt(nx * nx + ny * ny + 1.0);
  return s > 0 ? s : 0;
}

// Point and spot: the fade over the radius.
struct Source {
  double x, y, radius, exponent;
  double axisX, axisY;  // spot: the beam's direction
  double half, edge;    // spot: half the opening and the soft part of it, radians
  bool spot;
};

double SourceShade(const Source& src, int32_t x, int32_t y) {
  const double dx = x - src.x, dy = y - src.y;
  const double d = std::hypot(dx, dy);
  if (!(d < src.radius)) return 0;
  const double fade = src.exponent == 0 ? 1.0 : std::pow(1.0 - d / src.radius, src.exponent);
  if (!src.spot || d == 0) return fade;
  const double cosine = (dx * src.axisX + dy * src.axisY) / d;
  const double phi = std::acos(std::clamp(cosine, -1.0, 1.0));
  if (phi > src.half) return 0;
  if (phi <= src.half - src.edge) return fade;
  return fade * (src.half - phi) / src.edge;
}

// Runs the rows of the rectangle: shade(rows, x, y) for every pixel, rows y - 1 .. y + 1 when
// `window`, else row y alone. Source rows are read a band at a time (rows y - 1 .. y + 1
// clamped to the bitmap, in the order a sliding window reads them), then the band's rows are
// shaded on every thread and written in row order on this one.
template <class ShadeAt>
int32_t LightRows(BitmapRecord* bitmap, const FunctionalLightInfo& info, bool window,
                  ShadeAt&& shadeAt) {
  const int32_t n = window ? 3 : 1, h = n / 2;
  Rows rows;
  int32_t rc = rows.Open(bitmap, n, window);
  if (rc != SUCCESS) return rc;
  RowAccess* access = rows.get();
  Lighting l{};
  HostGetRegionBounds(bitmap, nullptr, &l.rect);
  l.width = bitmap->Width;
  l.height = bitmap->Height;
  l.step = HostPixelStep(access);
  l.bits = HostSampleBits(access);
  l.intensity = info.intensity;
  l.ambient = info.ambient;
  const int32_t samples = l.step >= 3 ? 3 : 1;
  uint8_t colour[4] = {0, 0, 0, 0};
  HostColorToPixel(colour, info.color, 8, samples);
  for (int32_t k = 0; k < 3; ++k) l.color[k] = colour[k < samples ? k : 0];
  rc = HostHasRegion(bitmap) ? HostBeginRegionWrite(access) : HostBeginWrite(access);
  if (rc != SUCCESS) return rc;

  const int32_t rowBytes = HostRowBytes(access);
  const auto clampRow = [&](int64_t q) {
    return static_cast<int32_t>(std::clamp<int64_t>(q, 0, l.height - 1));
  };
  // Band row k holds bitmap row y0 - h + k (clamped); reads rows [from, to) of the band.
  const auto read = [&](int32_t y0, int32_t from, int32_t to) {
    for (int32_t k = from; k < to; ++k) {
      const int32_t rc =
          HostReadRow(access, rows.row(k), clampRow(int64_t{y0} - h + k), 0, nullptr);
      if (rc != SUCCESS) return rc;
    }
    if (window)
      host::ParallelFor(to - from, l.width, [&](int32_t i) {
        const uint8_t* src = rows.row(from + i);
        int32_t* gray = rows.gray(from + i);
        for (int32_t x = 0; x < l.width; ++x)
          gray[x] = l.bits == 16 ? GrayAt(reinterpret_cast<const uint16_t*>(src), l.step, x)
                                 : GrayAt(src, l.step, x);
      });
    return SUCCESS;
  };
  const int32_t top = l.rect.top, bottom = l.rect.bottom;
  if (top < bottom) {
    rc = read(top, 0, n - 1);
    if (rc != SUCCESS) return rc;
  }
  for (int32_t y0 = top; y0 < bottom; y0 += rows.band()) {
    const int32_t y1 = std::min(bottom, y0 + rows.band());
    rc = read(y0, n - 1, y1 - y0 + n - 1);
    if (rc != SUCCESS) return rc;
    rc = host::RunRows(
        rows.slots(), y0, y1, l.width,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          const int32_t k = y - y0;
          std::memcpy(out, rows.row(k + h), size_t(rowBytes));
          const int32_t* const window3[3] = {window ? rows.gray(k) : nullptr,
                                             window ? rows.gray(k + 1) : nullptr,
                                             window ? rows.gray(k + 2) : nullptr};
          for (int32_t x = l.rect.left; x < l.rect.right; ++x) {
            const double s = shadeAt(l, window3, x, y);
            if (l.bits == 16)
              Light(reinterpret_cast<uint16_t*>(out) + int64_t{x} * l.step, samples, l, s);
            else
              Light(out + int64_t{x} * l.step, samples, l, s);
          }
        },
        host::NoHostCall(), host::WriteRow(access));
    if (rc != SUCCESS) return rc;
    rows.Keep(y1 - y0 + n - 1, n - 1);
  }
  return SUCCESS;
}

bool ValidAngle(int32_t hundredths) {
  return hundredths >= -36000 && hundredths <= 36000;
}

}  // namespace

int32_t HostFunctionalLightA(BitmapRecord* bitmap, const FunctionalLightInfo* info) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (!info) return ERROR_HOST_BAD_ARGUMENT;
  if (!ValidAngle(info->azimuth) || info->elevation > 9000) return ERROR_INV_PARAMETER;
  const double alpha = info->azimuth * kPi / 18000.0, epsilon = info->elevation * kPi / 18000.0;
  const Directional d{std::cos(epsilon) * std::cos(alpha), -std::cos(epsilon) * std::sin(alpha),
                      std::sin(epsilon)};
  return LightRows(bitmap, *info, true,
                   [&](const Lighting& l, const int32_t* const* rows, int32_t x, int32_t) {
                     return DirectionalShade(d, l, rows, x, l.bits == 16 ? 131070.0 : 510.0);
                   });
}

namespace {

int32_t SourceLight(BitmapRecord* bitmap, const FunctionalLightInfo& info, bool spot) {
  Source src{};
  src.x = info.x;
  src.y = info.y;
  src.radius = info.radius;
  src.exponent = info.falloff / 100.0;
  src.spot = spot;
  if (spot) {
    const double beta = info.azimuth * kPi / 18000.0;
    src.axisX = std::cos(beta);
    src.axisY = -std::sin(beta);
    src.half = info.coneAngle * kPi / 36000.0;
    src.edge = src.half * info.softness / 100.0;
  }
  return LightRows(bitmap, info, false,
                   [&](const Lighting&, const int32_t* const*, int32_t x, int32_t y) {
                     return SourceShade(src, x, y);
                   });
}

}  // namespace

int32_t HostFunctionalLightB(BitmapRecord* bitmap, const FunctionalLightInfo* info) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (!info) return ERROR_HOST_BAD_ARGUMENT;
  if (info->falloff > 1000) return ERROR_INV_PARAMETER;
  return SourceLight(bitmap, *info, false);
}

int32_t HostFunctionalLightC(BitmapRecord* bitmap, const FunctionalLightInfo* info) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (!info) return ERROR_HOST_BAD_ARGUMENT;
  if (!ValidAngle(info->azimuth) || info->falloff > 1000 || info->coneAngle > 36000 ||
      info->softness > 100)
    return ERROR_INV_PARAMETER;
  return SourceLight(bitmap, *info, true);
}
