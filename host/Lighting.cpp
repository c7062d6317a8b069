// The lighting operations behind Fx_FunctionalLightBitmap: a directional light over the
// picture's relief, a point light and a spot light. Each works row by row on the rectangle to
// process in the bitmap's current view and writes through its region; the definitions are in
// host/Host.h.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "fxkit/effects.h"
#include "host/Host.h"
#include "host/HostInternal.h"

namespace {

constexpr double kPi = 3.1415926535;

// A row access with `count` working row buffers, released on every path.
class Rows {
 public:
  ~Rows() {
    for (uint8_t* row : rows_)
      if (row) FX_FREE(row);
    for (int32_t* gray : grays_)
      if (gray) FX_FREE(gray);
    if (access_) HostCloseRowAccess(access_);
  }
  // A row access with `count` row buffers and, with `window`, three rows of gray levels.
  int32_t Open(BitmapRecord* bitmap, int32_t count, bool window) {
    int32_t rc = HostOpenRowAccess(bitmap, &access_, 2);
    if (rc != SUCCESS) return rc;
    for (int32_t i = 0; i < count; ++i) {
      rows_[i] = static_cast<uint8_t*>(HostAllocRowBuffer(access_));
      if (!rows_[i]) return ERROR_NO_MEMORY;
    }
    for (int32_t i = 0; i < (window ? 3 : 0); ++i) {
      grays_[i] =
          static_cast<int32_t*>(FX_ALLOC(static_cast<uint32_t>(bitmap->Width), sizeof(int32_t)));
      if (!grays_[i]) return ERROR_NO_MEMORY;
    }
    return SUCCESS;
  }
  RowAccess* get() const { return access_; }
  uint8_t* row(int32_t i) const { return rows_[i]; }
  int32_t* gray(int32_t i) const { return grays_[i]; }

 private:
  RowAccess* access_ = nullptr;
  uint8_t* rows_[4] = {};
  int32_t* grays_[3] = {};
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
// `window`, else row y alone.
template <class ShadeAt>
int32_t LightRows(BitmapRecord* bitmap, const FunctionalLightInfo& info, bool window,
                  ShadeAt&& shadeAt) {
  Rows rows;
  int32_t rc = rows.Open(bitmap, window ? 4 : 1, window);
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
  uint8_t* out = rows.row(0);
  // The window: rows y - 1, y and y + 1, clamped to the bitmap, and their gray levels; one new
  // row per output row.
  uint8_t* ring[3] = {rows.row(1), rows.row(2), rows.row(3)};
  int32_t* grays[3] = {rows.gray(0), rows.gray(1), rows.gray(2)};
  for (int32_t y = l.rect.top; y < l.rect.bottom; ++y) {
    if (window) {
      const bool first = y == l.rect.top;
      if (!first) {
        std::rotate(ring, ring + 1, ring + 3);
        std::rotate(grays, grays + 1, grays + 3);
      }
      for (int32_t i = first ? 0 : 2; i < 3; ++i) {
        rc = HostReadRow(access, ring[i], std::clamp(y - 1 + i, 0, l.height - 1), 0, nullptr);
        if (rc != SUCCESS) return rc;
        for (int32_t x = 0; x < l.width; ++x)
          grays[i][x] = l.bits == 16 ? GrayAt(reinterpret_cast<const uint16_t*>(ring[i]), l.step, x)
                                     : GrayAt(ring[i], l.step, x);
      }
      std::memcpy(out, ring[1], size_t(rowBytes));
    } else {
      rc = HostReadRow(access, out, y, 0, nullptr);
      if (rc != SUCCESS) return rc;
    }
    const int32_t* const window3[3] = {grays[0], grays[1], grays[2]};
    for (int32_t x = l.rect.left; x < l.rect.right; ++x) {
      const double s = shadeAt(l, window3, x, y);
      if (l.bits == 16)
        Light(reinterpret_cast<uint16_t*>(out) + int64_t{x} * l.step, samples, l, s);
      else
        Light(out + int64_t{x} * l.step, samples, l, s);
    }
    rc = HostWriteRow(access, out, y, 0, 0);
    if (rc != SUCCESS) return rc;
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
