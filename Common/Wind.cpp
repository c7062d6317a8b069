// Wind: draws wind streaks. For every pixel the brightest sample on a straight streak running
// upwind from it is found, and the pixel is mixed between that bright value and its own by how far
// up the streak the bright value lies. Streak lengths are random per line across the wind and
// interpolated between neighbouring lines, which gives the streaky look.
//
// The random line lengths are drawn on the calling thread, in order, before any row is computed;
// rows then run in parallel from a window of source rows (or every row, when the window would
// reach past the bitmap's height), so the result does not depend on the thread count.
//
// Open points and extreme inputs:
// - A line length is rand() mod length + 1, never above 32768, so a streak never reaches past
//   32767 steps: lengths beyond 32768 give exactly the result of 32768, and the window and the
//   offsets are sized for min(length, 32768).
// - The fade weights trunc(j x 100 / q), q = i x 100 / (100 - opacity), are computed where used
//   instead of a (length + 1)^2 table (the same values).
// - The line index of a pixel is kept inside the table of line lengths (it always lies there
//   for pixels of the bitmap; the clamp guards the floating-point edges).
// - The output row starts as the source row, so a fourth sample keeps its value.
#include <cmath>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;
constexpr uint32_t kLongestLine = 32768;  // rand() mod length + 1 never exceeds it

struct WindSetup {
  RECT rect;
  int32_t width, height, pixelStep;
  int32_t opacity;
  double sinT, cosT, base0;  // base = cos θ × (y − H / 2) + base0
  const int32_t* ox;         // column offset of step k
  const int32_t* oy;         // row offset of step k from the pixel's row
  uint32_t reach;            // the last step any streak takes
  int32_t minOx, maxOx;      // the smallest and largest column offsets
  const uint32_t* lengths;   // len_0 .. len_D
  int32_t lineCount;         // D + 1
};

// w[i][j]: the percentage of the pixel's own value kept when the brightest sample lies j steps up
// a streak of length i.
inline int32_t FadeWeight(int32_t opacity, uint32_t i, int32_t j) {
  if (opacity == 100) return 0;
  const double q = static_cast<double>(int64_t{i} * 100) / (100 - opacity);
  return q != 0 ? static_cast<int32_t>(j * 100 / q) : 0;
}

// The brightest pixel over steps first .. last - 1 (ties: the later step), continuing from
// *best; Clamp: the columns may fall outside the bitmap.
template <bool Clamp, class T>
inline void Brightest(const WindSetup& s, const T* const* stepRows, int32_t x, int32_t probe,
                      uint32_t first, uint32_t last, int32_t* best, const T** bright,
                      int32_t* index) {
  for (uint32_t k = first; k < last; ++k) {
    int64_t col = int64_t{x} + s.ox[k];
    if constexpr (Clamp) col = col < 0 ? 0 : (col >= s.width ? s.width - 1 : col);
    const T* p = stepRows[k] + col * s.pixelStep;
    if (int32_t(p[probe]) >= *best) {
      *best = p[probe];
      *bright = p;
      *index = static_cast<int32_t>(k);
    }
  }
}

// One output row; `stepRows` (reach + 1 entries of scratch) gets the source row of every step.
template <class T>
void WindRow(const WindSetup& s, T* const* rows, int32_t rowCount, int32_t w, int32_t y, T* out,
             const T** stepRows) {
  const bool colour = IsColorPixel(s.pixelStep);
  const int32_t samples = colour ? 3 : 1, probe = colour ? 1 : 0;
  const double base = s.cosT * (y - s.height / 2) + s.base0;
  const T* own = rows[w];
  for (uint32_t k = 0; k <= s.reach; ++k) {
    const int64_t row = int64_t{w} + s.oy[k];
    stepRows[k] = rows[row < 0 ? 0 : (row >= rowCount ? rowCount - 1 : row)];
  }
  for (int32_t x = s.rect.left; x < s.rect.right; ++x) {
    const double d = s.sinT * (x - s.width / 2) + base;
    int64_t li = static_cast<int64_t>(d);
    li = li < 0 ? 0 : (li > s.lineCount - 2 ? s.lineCount - 2 : li);
    const double frac = std::fabs(d) - std::trunc(std::fabs(d));
    const uint32_t l1 = s.lengths[li], l2 = s.lengths[li + 1];
    const uint32_t lMax = l1 > l2 ? l1 : l2, lMin = l1 > l2 ? l2 : l1;
    // The brightest pixel over the first lMin steps, then over all lMax.
    const T* brightShort = nullptr;
    int32_t shortIndex = 0, best = -1;
    const bool inside = int64_t{x} + s.minOx >= 0 && int64_t{x} + s.maxOx < s.width;
    if (inside)
      Brightest<false>(s, stepRows, x, probe, 0, lMin, &best, &brightShort, &shortIndex);
    else
      Brightest<true>(s, stepRows, x, probe, 0, lMin, &best, &brightShort, &shortIndex);
    const T* brightLong = brightShort;
    int32_t longIndex = shortIndex;
    if (inside)
      Brightest<false>(s, stepRows, x, probe, lMin, lMax, &best, &brightLong, &longIndex);
    else
      Brightest<true>(s, stepRows, x, probe, lMin, lMax, &best, &brightLong, &longIndex);
    const int32_t a = FadeWeight(s.opacity, lMax, longIndex);
    const int32_t b = FadeWeight(s.opacity, lMin, shortIndex);
    const T* p = own + int64_t{x} * s.pixelStep;
    T* o = out + int64_t{x} * s.pixelStep;
    for (int32_t k = 0; k < samples; ++k) {
      const int64_t u = ((100 - a) * int64_t{brightLong[k]} + a * int64_t{p[k]}) / 100;
      const int64_t v = ((100 - b) * int64_t{brightShort[k]} + b * int64_t{p[k]}) / 100;
      o[k] = static_cast<T>(l1 >= l2 ? u * (1 - frac) + v * frac : v * (1 - frac) + u * frac);
    }
  }
}

int32_t WindDriver(BitmapRecord* bitmap, uint32_t length, int32_t angle, uint32_t opacity) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t width = bitmap->Width, height = bitmap->Height;
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  const uint32_t reach = length < kLongestLine ? length : kLongestLine;

  const double theta = angle * kPi / 18000;
  const double sinT = std::sin(theta), cosT = std::cos(theta);
  const int64_t lines =
      static_cast<int64_t>(std::fabs(height * cosT) + std::fabs(width * sinT)) + 3;
  if (lines + 1 > int64_t{UINT32_MAX}) return ERROR_NO_MEMORY;

  // The window: rows y - reach .. y + reach, or every row of the bitmap.
  const int64_t n = 2 * int64_t{reach} + 1;
  RowWindow window;
  rc = n >= height ? window.AllocateWhole(height, rowBytes)
                   : window.AllocateSliding(static_cast<int32_t>(n), rowBytes);
  if (rc != SUCCESS) return rc;
  HostBlock<int32_t> ox, oy;
  HostBlock<uint32_t> lengths;
  RowSlots slots;
  if (!ox.Allocate(reach + 1) || !oy.Allocate(reach + 1) ||
      !lengths.Allocate(static_cast<uint32_t>(lines + 1)) ||
      !slots.Allocate(rowBytes, window.ViewBytes() + size_t(reach + 1) * sizeof(void*)))
    return ERROR_NO_MEMORY;
  for (uint32_t i = 0; i <= reach; ++i) {
    ox[i] = static_cast<int32_t>(cosT * i);
    oy[i] = static_cast<int32_t>(-sinT * i);
  }
  for (int64_t i = 0; i <= lines; ++i)
    lengths[size_t(i)] = static_cast<uint32_t>(fxrt::rand()) % length + 1;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  RECT rect;
  HostGetRegionBounds(bitmap, nullptr, &rect);
  if (!window.sliding()) {
    rc = window.ReadWhole(access, 0);
    if (rc != SUCCESS) return rc;
  }

  WindSetup s{};
  s.rect = rect;
  s.width = width;
  s.height = height;
  s.pixelStep = access.PixelStep();
  s.opacity = static_cast<int32_t>(opacity);
  s.sinT = sinT;
  s.cosT = cosT;
  s.base0 = static_cast<double>(
      static_cast<int64_t>((std::fabs(height * cosT) + std::fabs((width - 1) * sinT) - height) / 2 +
                           height / 2) +
      1);
  s.ox = ox.get();
  s.oy = oy.get();
  s.reach = reach;
  s.minOx = s.maxOx = 0;
  for (uint32_t i = 0; i <= reach; ++i) {
    s.minOx = ox[i] < s.minOx ? ox[i] : s.minOx;
    s.maxOx = ox[i] > s.maxOx ? ox[i] : s.maxOx;
  }
  s.lengths = lengths.get();
  s.lineCount = static_cast<int32_t>(lines + 1);
  const int32_t rowCount = window.sliding() ? window.size() : height;

  rc = WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return window.Run(
        access, slots, rect.top, rect.bottom, height, 0, rect.right - rect.left,
        [&](int32_t y, uint8_t* const* rows, int32_t w, uint8_t* out, uint8_t* scratch) {
          std::memcpy(out, rows[w], rowBytes);
          WindRow<T>(s, reinterpret_cast<T* const*>(rows), rowCount, w, y,
                     reinterpret_cast<T*>(out), reinterpret_cast<const T**>(scratch));
        },
        NoHostCall(), WriteRow(access));
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

const FxParamDesc kWindParams[] = {
    UIntParam("length", 30, 1, kAnyUInt32Max, "longest streak in pixels; 1 and 2 do nothing"),
    IntParam("angle", 0, -36000, 36000,
             "wind direction, hundredths of a degree: 0 from the left, 9000 from below, 18000 "
             "from the right"),
    UIntParam("opacity", 60, 0, 100, "how strongly the streaks cover the pixel (100 fully)"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kWindPresets[] = {
    {"gale-from-left", "length=80 angle=0 opacity=100"},
    {"breeze-from-right", "length=20 angle=18000 opacity=40"},
    {"updraft", "length=45 angle=9000 opacity=70"},
};

}  // namespace

extern const FxEffectDesc kWindEffect = {
    "wind",
    "Fx_WindBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Smears bright parts along the wind in streaks of random length",
    kWindParams,
    CountOf(kWindParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_WindBitmap(b, ArgU32(v[0]), ArgI32(v[1]), ArgU32(v[2]), ArgU32(v[3]));
    },
    kWindPresets,
    CountOf(kWindPresets),
    FX_TRAIT_RANDOM | FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_WindBitmap(BitmapRecord* bitmap, uint32_t length, int32_t angle, uint32_t opacity,
                      uint32_t flags) {
  if (flags != 0) return ERROR_INV_PARAMETER;
  int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  if (length == 0 || angle < -36000 || angle > 36000 || opacity > 100) return ERROR_INV_PARAMETER;
  if (angle < 0) angle += 36000;
  if (length < 3) return HostNothingToDo();
  const int32_t working = angle == 0 ? angle - 18000 : angle + 18000;
  fx::OrientationGuard orientation(bitmap);
  return fx::WindDriver(bitmap, length, working, opacity);
}
