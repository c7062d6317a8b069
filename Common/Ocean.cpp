// Ocean: the lower half of the rectangle becomes a rippled water reflection of its upper half.
// Output row t (counted below the middle line) blends its own pixels with row e of the mirrored
// upper half, e = t + trunc(a·cos(t·frequency / (Hr − 1)·2π)), shifted sideways by
// trunc(a·sin(i·frequency / (Wr − 1)·2π)) at column i; the amplitude a = trunc(amplitude·t / half)
// grows from the middle line to the bottom, and the blend weight f = t / half moves the mix from
// the reflection to the pixel (or the other way round with fadeOut). The upper half is read once
// and mirrored; the lower rows run in parallel.
//
// Open points and extreme inputs:
// - amplitude above 2^31 − 1 is ERROR_INV_PARAMETER: the shifts a·cos and a·sin would no longer
//   fit the integer conversion.
// - A rectangle one pixel wide has no horizontal wave (the shift is 0); the column is the
//   rectangle's either way.
// - The sine of every column does not depend on the row, so it is tabled once; shifted positions
//   are formed in 64 bits before they are clamped.
// - The output row starts as the bitmap's row, so a fourth sample keeps its value; writes go
//   through the bitmap's region, so pixels outside a region mask keep theirs.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;

struct OceanWave {
  RECT rect;
  int32_t half;
  uint32_t amplitude;
  double rowFrequency;  // frequency / (Hr − 1)
  bool fadeOut;
  const double* columnSine;  // sin(i·frequency / (Wr − 1)·2π) for every column i
};

// Row t's source entry of the mirrored table and its weights.
struct OceanRow {
  int64_t entry;
  uint32_t a;
  double f, g;
};

OceanRow RowOf(const OceanWave& w, int32_t y) {
  OceanRow r;
  int64_t t = int64_t{y} - (int64_t{w.rect.top} + w.half);
  if (w.half % 2 == 0) ++t;
  r.f = static_cast<double>(t) / w.half;
  r.a = static_cast<uint32_t>(w.amplitude * r.f);
  r.g = 1 - r.f;
  const double shift = r.a * std::cos(t * w.rowFrequency * 2 * kPi);
  r.entry = std::clamp<int64_t>(t + TruncToInt32(shift), 0, w.half - 1);
  return r;
}

template <class T>
void OceanKernel(const OceanWave& w, const OceanRow& r, const T* mirror, int32_t step, T* out) {
  constexpr double kMax = SampleTraits<T>::kMax;
  const int32_t samples = IsColorPixel(step) ? 3 : 1;
  const double own = w.fadeOut ? r.f : r.g, reflected = w.fadeOut ? r.g : r.f;
  for (int32_t x = w.rect.left; x < w.rect.right; ++x) {
    const int32_t i = x - w.rect.left;
    const int64_t sx =
        std::clamp<int64_t>(int64_t{x} + TruncToInt32(r.a * w.columnSine[i]), w.rect.left,
                            w.rect.right - 1);
    T* o = out + int64_t{x} * step;
    const T* s = mirror + sx * step;
    for (int32_t k = 0; k < samples; ++k) {
      const double v = own * o[k] + reflected * s[k];
      o[k] = static_cast<T>(v < 0 ? 0 : (v > kMax ? kMax : v));
    }
  }
}

int32_t OceanDriver(BitmapRecord* bitmap, const RECT& rect, uint32_t amplitude, uint32_t frequency,
                    int32_t fadeOut) {
  const int32_t wr = rect.right - rect.left, hr = rect.bottom - rect.top;
  const int32_t half = (hr + 1) / 2;
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t step = access.PixelStep();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  // The upper half, top row first (one band read): mirrored entry e, counted up from the row just
  // above the middle, is table row half - 1 - e.
  RowTable mirror;
  if (!mirror.AllocateTable(static_cast<uint32_t>(half)) ||
      !mirror.AllocateRows(rowBytes + 4 * size_t(step)))
    return ERROR_NO_MEMORY;
  rc = HostReadRows(access, mirror.rows(), rect.top, half);
  if (rc != SUCCESS) return rc;
  HostBlock<double> sine;
  if (!sine.Allocate(static_cast<uint32_t>(wr))) return ERROR_NO_MEMORY;
  const double columnFrequency = wr > 1 ? static_cast<double>(frequency) / (wr - 1) : 0.0;
  for (int32_t i = 0; i < wr; ++i) sine[i] = std::sin(i * columnFrequency * 2 * kPi);
  const OceanWave wave{rect,         half,
                       amplitude,    hr > 1 ? static_cast<double>(frequency) / (hr - 1) : 0.0,
                       fadeOut != 0, sine.get()};

  const RECT lower{rect.left, rect.top + half, rect.right, rect.bottom};
  RowWindow source;
  RowSlots slots;
  rc = source.AllocateRowByRow(rowBytes, slots);
  if (rc != SUCCESS) return rc;
  rc = HostBeginRectWrite(access, 0, 100, &lower);
  if (rc != SUCCESS) return rc;
  rc = WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return source.RunInPlace(
        access, slots, lower.top, lower.bottom, bitmap->Height, wr,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          const OceanRow r = RowOf(wave, y);
          OceanKernel<T>(wave, r, reinterpret_cast<const T*>(mirror.rows()[half - 1 - r.entry]),
                         step, reinterpret_cast<T*>(out));
        },
        NoHostCall(), WriteRow(access));
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

const FxParamDesc kOceanParams[] = {
    UIntParam("amplitude", 6, 0, kAnyInt32Max, "ripple amplitude in pixels at the bottom row"),
    UIntParam("frequency", 12, 0, kAnyUInt32Max,
              "number of waves across the width and along the height"),
    IntParam("fadeOut", 0, kAnyInt32Min, kAnyInt32Max,
             "0: the reflection grows towards the bottom; other values: it is strongest at the "
             "middle line and fades towards the bottom"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kOceanPresets[] = {
    {"lake", "amplitude=4 frequency=18 fadeOut=1"},
    {"choppy", "amplitude=14 frequency=30"},
    {"calm-mirror", "amplitude=1 frequency=60 fadeOut=1"},
};

}  // namespace

extern const FxEffectDesc kOceanEffect = {
    "ocean",
    "Fx_OceanBitmap",
    FX_FAMILY_ARTISTIC,
    "Turns the lower half into a rippled water reflection of the upper half",
    kOceanParams,
    CountOf(kOceanParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_OceanBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgI32(v[2]), ArgU32(v[3]));
    },
    kOceanPresets,
    CountOf(kOceanPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_OceanBitmap(BitmapRecord* bitmap, uint32_t amplitude, uint32_t frequency,
                       int32_t fadeOut, uint32_t flags) {
  using namespace fx;
  if (flags != 0) return ERROR_INV_PARAMETER;
  int32_t rc = CheckBitmap(bitmap);
  if (rc != SUCCESS) return rc;
  if (amplitude > static_cast<uint32_t>(INT32_MAX)) return ERROR_INV_PARAMETER;
  OrientationGuard orientation(bitmap);
  const RECT rect = ProcessRect(bitmap);
  if (IsEmpty(rect)) return ERROR_INV_PARAMETER;
  return OceanDriver(bitmap, rect, amplitude, frequency, fadeOut);
}
