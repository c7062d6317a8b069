// Whole-image filters on working rows: gray levels, a smoothing pre-filter, a channel mix and
// an edge-energy filter. Together (pre-filter, mix, gray, energy) they make the 8-bit energy
// image of the content-aware rescaling, in which a larger value is costlier to remove.
//
// Choices: the pre-filter blends each sample with its 3 x 3 binomial blur (weights 1 2 1 / 2 4 2 /
// 1 2 1, sum 16, rounded) by `strength` percent; the energy is the Sobel gradient magnitude in the
// L1 norm, (|gx| + |gy|) * gain / 800, saturated to the sample maximum (|gx| + |gy| reaches
// 8 x maximum, so gain 100 maps the strongest edge to the maximum). Both read one row above and
// below with the border rows and columns repeated. Every filter works on the picture as seen,
// keeps a fourth (alpha) sample, and writes through the region when the bitmap has one.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <type_traits>

#include "host/Host.h"
#include "host/HostInternal.h"

namespace {

// A row access, its write phase and a few row buffers, released on every path.
class RowScratch {
 public:
  ~RowScratch() {
    for (void* row : rows_)
      if (row) FX_FREE(row);
    HostCloseRowAccess(access_);
  }
  int32_t Open(BitmapRecord* bitmap, int32_t rowCount) {
    int32_t rc = HostOpenRowAccess(bitmap, &access_, 2);
    if (rc != SUCCESS) return rc;
    for (int32_t i = 0; i < rowCount; ++i) {
      rows_[i] = static_cast<uint8_t*>(HostAllocRowBuffer(access_));
      if (!rows_[i]) return ERROR_NO_MEMORY;
    }
    return HostHasRegion(bitmap) ? HostBeginRegionWrite(access_) : HostBeginWrite(access_);
  }
  RowAccess* access() const { return access_; }
  uint8_t* row(int32_t i) const { return rows_[i]; }

 private:
  RowAccess* access_ = nullptr;
  uint8_t* rows_[4] = {};
};

// Runs kernel(up, mid, down, out, width, pixelStep) over every row; up and down repeat the
// border rows. Rows are read before the row above them is written back.
template <template <class> class Kernel, class... Args>
int32_t Neighbourhood(BitmapRecord* bitmap, Args... args) {
  int32_t rc = host::ValidateForAccess(bitmap);
  if (rc != SUCCESS) return rc;
  RowScratch s;
  rc = s.Open(bitmap, 4);
  if (rc != SUCCESS) return rc;
  const int32_t height = bitmap->Height, width = bitmap->Width;
  const int32_t step = HostPixelStep(s.access());
  auto slot = [&](int32_t y) { return s.row(y % 3); };
  for (int32_t y = 0; y < std::min(height, 2); ++y) {
    rc = HostReadRow(s.access(), slot(y), y, 0, nullptr);
    if (rc != SUCCESS) return rc;
  }
  for (int32_t y = 0; y < height; ++y) {
    const uint8_t* up = slot(y > 0 ? y - 1 : y);
    const uint8_t* down = slot(y + 1 < height ? y + 1 : y);
    if (HostSampleBits(s.access()) == 16)
      Kernel<uint16_t>::Row(reinterpret_cast<const uint16_t*>(up),
                            reinterpret_cast<const uint16_t*>(slot(y)),
                            reinterpret_cast<const uint16_t*>(down),
                            reinterpret_cast<uint16_t*>(s.row(3)), width, step, args...);
    else
      Kernel<uint8_t>::Row(up, slot(y), down, s.row(3), width, step, args...);
    rc = HostWriteRow(s.access(), s.row(3), y, 0, 0);
    if (rc != SUCCESS) return rc;
    if (y + 2 < height) {
      rc = HostReadRow(s.access(), slot(y + 2), y + 2, 0, nullptr);
      if (rc != SUCCESS) return rc;
    }
  }
  return SUCCESS;
}

template <class T>
constexpr int32_t kMax = sizeof(T) == 2 ? 65535 : 255;

// Calls pixel(l, c, r) with the sample offsets of the left, centre and right pixel for every x,
// the border columns repeated; kStep samples per pixel.
template <int kStep, class Pixel>
inline void AcrossRow(int32_t width, Pixel&& pixel) {
  if (width == 1) return pixel(0, 0, 0);
  pixel(0, 0, kStep);
  for (int64_t c = kStep, end = int64_t{width - 1} * kStep; c < end; c += kStep)
    pixel(c - kStep, c, c + kStep);
  const int64_t last = int64_t{width - 1} * kStep;
  pixel(last - kStep, last, last);
}

// Calls f(std::integral_constant<int, step>) for the working pixel sizes 1, 3 and 4.
template <class F>
void WithStep(int32_t step, F&& f) {
  if (step == 1) return f(std::integral_constant<int, 1>{});
  if (step == 3) return f(std::integral_constant<int, 3>{});
  return f(std::integral_constant<int, 4>{});
}

template <class T>
struct SmoothKernel {
  static void Row(const T* up, const T* mid, const T* down, T* out, int32_t width, int32_t step,
                  int32_t strength) {
    WithStep(step, [&](auto kStep) {
      AcrossRow<kStep>(width, [&](int64_t l, int64_t c, int64_t r) {
        for (int32_t k = 0; k < std::min<int32_t>(kStep, 3); ++k) {
          const int32_t sum = up[l + k] + 2 * up[c + k] + up[r + k] +
                              2 * (mid[l + k] + 2 * mid[c + k] + mid[r + k]) + down[l + k] +
                              2 * down[c + k] + down[r + k];
          const int32_t blur = (sum + 8) >> 4;
          out[c + k] = static_cast<T>((mid[c + k] * (100 - strength) + blur * strength + 50) / 100);
        }
        if (kStep == 4) out[c + 3] = mid[c + 3];
      });
    });
  }
};

template <class T>
struct EnergyKernel {
  static void Row(const T* up, const T* mid, const T* down, T* out, int32_t width, int32_t step,
                  int64_t gain) {
    WithStep(step, [&](auto kStep) {
      AcrossRow<kStep>(width, [&](int64_t l, int64_t c, int64_t r) {
        for (int32_t k = 0; k < std::min<int32_t>(kStep, 3); ++k) {
          const int32_t gx = (up[r + k] + 2 * mid[r + k] + down[r + k]) -
                             (up[l + k] + 2 * mid[l + k] + down[l + k]);
          const int32_t gy = (down[l + k] + 2 * down[c + k] + down[r + k]) -
                             (up[l + k] + 2 * up[c + k] + up[r + k]);
          const int64_t e = int64_t{std::abs(gx) + std::abs(gy)} * gain / 800;
          out[c + k] = static_cast<T>(std::min<int64_t>(e, kMax<T>));
        }
        if (kStep == 4) out[c + 3] = mid[c + 3];
      });
    });
  }
};

template <class T>
void MixRow(T* row, int32_t width, int32_t step, int64_t wr, int64_t wg, int64_t wb) {
  WithStep(step, [&](auto kStep) {
    for (T* p = row; p < row + int64_t{width} * kStep; p += kStep) {
      const int64_t b = p[0], g = kStep == 1 ? b : p[1], r = kStep == 1 ? b : p[2];
      const T v =
          static_cast<T>(std::clamp<int64_t>((r * wr + g * wg + b * wb + 500) / 1000, 0, kMax<T>));
      for (int32_t k = 0; k < std::min<int32_t>(kStep, 3); ++k) p[k] = v;
    }
  });
}

}  // namespace

int32_t HostGrayscaleBitmap(BitmapRecord* bitmap, int32_t bitsPerPixel) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (bitsPerPixel != 8 && bitsPerPixel != 12 && bitsPerPixel != 16) return ERROR_HOST_BAD_ARGUMENT;
  return HostConvertBitmap(bitmap, bitmap, bitmap->StructSize, bitsPerPixel, ORDER_GRAY, nullptr, 0,
                           0, 0, 0);
}

int32_t HostPreFilter(BitmapRecord* bitmap, int32_t strength, int32_t /*reserved1*/,
                      int32_t /*reserved2*/) {
  return Neighbourhood<SmoothKernel>(bitmap, std::clamp(strength, 0, 100));
}

int32_t HostEnergyFilter(BitmapRecord* bitmap, int32_t gain) {
  return Neighbourhood<EnergyKernel>(bitmap, int64_t{std::max(gain, 0)});
}

int32_t HostChannelMix(BitmapRecord* bitmap, int32_t redWeight, int32_t greenWeight,
                       int32_t blueWeight) {
  int32_t rc = host::ValidateForAccess(bitmap);
  if (rc != SUCCESS) return rc;
  RowScratch s;
  rc = s.Open(bitmap, 1);
  if (rc != SUCCESS) return rc;
  const int32_t step = HostPixelStep(s.access());
  for (int32_t y = 0; y < bitmap->Height; ++y) {
    rc = HostReadRow(s.access(), s.row(0), y, 0, nullptr);
    if (rc != SUCCESS) return rc;
    if (HostSampleBits(s.access()) == 16)
      MixRow(reinterpret_cast<uint16_t*>(s.row(0)), bitmap->Width, step, redWeight, greenWeight,
             blueWeight);
    else
      MixRow(s.row(0), bitmap->Width, step, redWeight, greenWeight, blueWeight);
    rc = HostWriteRow(s.access(), s.row(0), y, 0, 0);
    if (rc != SUCCESS) return rc;
  }
  return SUCCESS;
}
