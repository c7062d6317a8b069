// Add shadow: gives edges a raised, shadowed look as if lit from one of eight directions. Every
// sample gets a directional 3 x 3 derivative of the image (mode 0, per channel) or of its gray
// version (mode 1, the same value for the whole pixel) added, so the edges facing the light
// brighten and the others darken; samples below `level` are left alone. The mosaic effects call
// it on their tiles.
//
// The rows above and below the output row are clamped to the bitmap, the columns left and right
// of it to the row (edge replication); the window is the original image, so every output row is
// computed from unchanged rows. The effect works in the bitmap's own orientation.
//
// Open points and extreme inputs: the gray version of a colour row (mode 1) is the host's gray
// mix (b + 5g + 2r + 4) / 8 of the working samples, at 8 and 16 bits alike; a gray pixel is its
// own level. A fourth sample (32 and 64 bits) is neither read nor written. Sums of at most eight
// 16-bit samples fit in 32 bits, so nothing wraps.
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

// Weights of the rows above (0), at (1) and below (2) the pixel, columns left, centre, right.
using Kernel = int32_t[3][3];
constexpr Kernel kKernels[8] = {
    {{-1, 0, 1}, {-2, 0, 2}, {0, 0, 0}},   // 0: (aR - aL) + 2(bR - bL)
    {{0, 1, 2}, {-1, 0, 1}, {-2, -1, 0}},  // 1: aX + 2aR + bR - bL - 2cL - cX
    {{1, 2, 1}, {0, 0, 0}, {-1, -2, -1}},  // 2: aL + 2aX + aR - cL - 2cX - cR
    {{2, 1, 0}, {1, 0, -1}, {0, -1, -2}},  // 3: 2aL + aX + bL - bR - cX - 2cR
    {{1, 0, -1}, {2, 0, -2}, {0, 0, 0}},   // 4: (aL - aR) + 2(bL - bR)
    {{0, -1, -2}, {1, 0, -1}, {2, 1, 0}},  // 5: -2aR - aX + bL - bR + 2cL + cX
    {{-1, -2, -1}, {0, 0, 0}, {1, 2, 1}},  // 6: -aL - 2aX - aR + cL + 2cX + cR
    {{-2, -1, 0}, {-1, 0, 1}, {0, 1, 2}},  // 7: -2aL - aX - bL + bR + cX + 2cR
};

struct ShadowSetup {
  int32_t left, right;  // the rectangle's columns
  int32_t width;        // the bitmap's
  int32_t pixelStep;
  uint32_t level;
  uint32_t direction;
  bool gray;  // mode 1
};

// The derivative at positions l, x, r of the three rows (any element type).
template <int Dir, class S>
inline int32_t Derivative(const S* a, const S* b, const S* c, int64_t l, int64_t x, int64_t r) {
  constexpr const Kernel& k = kKernels[Dir];
  return k[0][0] * int32_t(a[l]) + k[0][1] * int32_t(a[x]) + k[0][2] * int32_t(a[r]) +
         k[1][0] * int32_t(b[l]) + k[1][1] * int32_t(b[x]) + k[1][2] * int32_t(b[r]) +
         k[2][0] * int32_t(c[l]) + k[2][1] * int32_t(c[x]) + k[2][2] * int32_t(c[r]);
}

template <class T>
inline T AddClamped(T p, int32_t g) {
  const int32_t v = int32_t(p) + g;
  return static_cast<T>(v < 0 ? 0 : (v > SampleTraits<T>::kMax ? SampleTraits<T>::kMax : v));
}

// Gray levels of columns first .. last - 1 of a working row.
template <class T>
void GrayLevels(const T* row, int32_t pixelStep, int32_t first, int32_t last, int32_t* out) {
  if (!IsColorPixel(pixelStep)) {
    for (int32_t x = first; x < last; ++x) out[x] = row[x];
    return;
  }
  for (int32_t x = first; x < last; ++x) {
    const T* p = row + int64_t{x} * pixelStep;
    out[x] = (int32_t(p[0]) + 5 * int32_t(p[1]) + 2 * int32_t(p[2]) + 4) / 8;
  }
}

// One output row: `a`, `b`, `c` are the rows above, at and below it; every colour (or gray)
// sample of the rectangle's columns is written to `out`.
template <int Dir, class T>
void ShadowRow(const ShadowSetup& s, const T* a, const T* b, const T* c, T* out, int32_t* scratch) {
  const int32_t step = s.pixelStep, last = s.width - 1;
  if (s.gray) {
    // Gray levels of the columns the rectangle's pixels and their neighbours use.
    const int32_t first = s.left > 0 ? s.left - 1 : 0;
    const int32_t end = s.right < s.width ? s.right + 1 : s.width;
    int32_t* ga = scratch;
    int32_t* gb = ga + s.width;
    int32_t* gc = gb + s.width;
    GrayLevels(a, step, first, end, ga);
    GrayLevels(b, step, first, end, gb);
    GrayLevels(c, step, first, end, gc);
    const int32_t samples = IsColorPixel(step) ? 3 : 1;
    for (int32_t x = s.left; x < s.right; ++x) {
      const T* q = b + int64_t{x} * step;
      T* p = out + int64_t{x} * step;
      if (uint32_t{q[0]} < s.level) {
        for (int32_t k = 0; k < samples; ++k) p[k] = q[k];
        continue;
      }
      const int32_t g = Derivative<Dir>(ga, gb, gc, x > 0 ? x - 1 : 0, x, x < last ? x + 1 : last);
      for (int32_t k = 0; k < samples; ++k) p[k] = AddClamped(q[k], g);
    }
    return;
  }
  const int32_t samples = IsColorPixel(step) ? 3 : 1;
  for (int32_t x = s.left; x < s.right; ++x) {
    const int64_t at = int64_t{x} * step;
    const int64_t l = int64_t{x > 0 ? x - 1 : 0} * step,
                  r = int64_t{x < last ? x + 1 : last} * step;
    for (int32_t k = 0; k < samples; ++k) {
      const T p = b[at + k];
      out[at + k] =
          uint32_t{p} < s.level ? p : AddClamped(p, Derivative<Dir>(a, b, c, l + k, at + k, r + k));
    }
  }
}

template <class T>
void ShadowRowFor(const ShadowSetup& s, const T* a, const T* b, const T* c, T* out,
                  int32_t* scratch) {
  switch (s.direction) {
    case 0:
      return ShadowRow<0>(s, a, b, c, out, scratch);
    case 1:
      return ShadowRow<1>(s, a, b, c, out, scratch);
    case 2:
      return ShadowRow<2>(s, a, b, c, out, scratch);
    case 3:
      return ShadowRow<3>(s, a, b, c, out, scratch);
    case 4:
      return ShadowRow<4>(s, a, b, c, out, scratch);
    case 5:
      return ShadowRow<5>(s, a, b, c, out, scratch);
    case 6:
      return ShadowRow<6>(s, a, b, c, out, scratch);
    default:
      return ShadowRow<7>(s, a, b, c, out, scratch);
  }
}

int32_t AddShadowDriver(BitmapRecord* bitmap, uint32_t direction, uint32_t level, uint32_t mode) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const RECT rect = ProcessRect(bitmap);
  ShadowSetup s{rect.left, rect.right, bitmap->Width, access.PixelStep(),
                level,     direction,  mode == 1};
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());

  // Rows y - 1, y and y + 1, clamped to the bitmap.
  RowWindow window;
  rc = window.AllocateSliding(3, rowBytes);
  if (rc != SUCCESS) return rc;
  const size_t grayBytes = s.gray ? 3 * size_t(s.width) * sizeof(int32_t) : 0;
  RowSlots slots;
  if (!slots.Allocate(rowBytes, window.ViewBytes() + grayBytes)) return ERROR_NO_MEMORY;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;

  rc = WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return window.Run(
        access, slots, rect.top, rect.bottom, bitmap->Height, rect.top, rect.right - rect.left,
        [&](int32_t, uint8_t* const* rows, int32_t w, uint8_t* out, uint8_t* scratch) {
          auto* to = reinterpret_cast<T*>(out);
          const auto* at = reinterpret_cast<const T*>(rows[w]);
          CopyAroundColumns(to, at, rowBytes, rect.left, rect.right, s.pixelStep);
          ShadowRowFor<T>(s, reinterpret_cast<const T*>(rows[w - 1]), at,
                          reinterpret_cast<const T*>(rows[w + 1]), to,
                          reinterpret_cast<int32_t*>(scratch));
        },
        NoHostCall(), WriteRow(access));
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

const FxFlagValue kDirections[] = {
    {"left", 0, "light from the left"},   {"bottom-left", 1, "light from the lower left"},
    {"bottom", 2, "light from below"},    {"bottom-right", 3, "light from the lower right"},
    {"right", 4, "light from the right"}, {"top-right", 5, "light from the upper right"},
    {"top", 6, "light from above"},       {"top-left", 7, "light from the upper left"},
};
const FxFlagField kDirectionFields[] = {
    FlagField("direction", 0x7, kDirections, "the side the light comes from"),
};
const FxFlagValue kModes[] = {
    {"channels", 0, "each channel shaded by its own edges"},
    {"gray", 1, "every sample of a pixel shaded by the edges of the gray image"},
};
const FxFlagField kModeFields[] = {
    FlagField("mode", 0x1, kModes, "what the edges are taken from"),
};

const FxParamDesc kAddShadowParams[] = {
    FlagsParam("direction", 7, 0, 7,
               "side the light comes from, 0 .. 7: left, bottom-left, bottom, bottom-right, "
               "right, top-right, top, top-left; edges facing it brighten",
               kDirectionFields),
    UIntParam("level", 0, 0, 65535,
              "samples below it are left alone; below 256 (4096 on 12-bit gray) except on 16-bit "
              "gray and 48/64-bit colour"),
    FlagsParam("mode", 0, 0, 1,
               "0: each channel shaded by its own edges; 1: all samples by the gray image's edges",
               kModeFields),
};

const FxPreset kAddShadowPresets[] = {
    {"raised-gray", "direction=top-left mode=gray"},
    {"from-below", "direction=bottom"},
    {"highlights-only", "direction=top-right level=96 mode=gray"},
};

}  // namespace

extern const FxEffectDesc kAddShadowEffect = {
    "add-shadow",
    "Fx_AddShadowBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Gives edges a raised, shadowed look, as if lit from one of eight directions",
    kAddShadowParams,
    CountOf(kAddShadowParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_AddShadowBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]));
    },
    kAddShadowPresets,
    CountOf(kAddShadowPresets),
    FX_TRAIT_TONES_ONLY,
};

}  // namespace fx

int32_t Fx_AddShadowBitmap(BitmapRecord* bitmap, uint32_t direction, uint32_t level,
                           uint32_t mode) {
  int32_t rc = fx::CheckBitmap(bitmap, false);
  if (rc != SUCCESS) return rc;
  const int32_t bpp = bitmap->BitsPerPixel;
  const bool gray = HostIsGrayscale(bitmap) != 0;
  if (bpp == 12 && gray) {
    if (level >= 4096) return ERROR_INV_PARAMETER;
  } else if ((bpp == 16 && gray) || bpp == 48 || bpp == 64) {
    if (level > 65535) return ERROR_INV_PARAMETER;
  } else if (level >= 256) {
    return ERROR_INV_PARAMETER;
  }
  if (direction >= 8 || mode >= 2) return ERROR_INV_PARAMETER;
  return fx::AddShadowDriver(bitmap, direction, level, mode);
}
