// Bricks texture: paints a brick wall over the rectangle. Courses of bricks in mortar joints, each
// course shifted sideways by rowOffset percent of a brick more than the one above, form a height
// field (mortar low, bricks raised with rounded edges, grain and mottle from roughness) that is
// lit as a bump map: its Prewitt gradient shades each pixel with the bump map's light vector.
// Each brick's colour varies from a hash of the seed and the brick, and the lit wall is laid
// over, multiplied with or overlaid on the image, or only its relief applied to the image.
//
// Layout (u, v: the pixel's offset from the rectangle's top-left corner; pitches are a brick
// plus a joint): course j = floor(v / pitchY), row within it vy = v - j·pitchY; the course's
// shift s = floor(j·rowOffset·pitchX / 100) mod pitchX; brick i = floor((u + s) / pitchX),
// column within it ux = u + s - i·pitchX. The first mortarWidth columns and rows of every pitch
// are mortar, so a mortar crossing sits at the rectangle's top-left corner.
//
// Heights, in gray levels: mortar 0; a brick 255·t·(2 - t) with t = min(e / bevel, 1), e the
// pixel's distance (+ 0.5) to the brick's nearest side and bevel = max(1, min(width, height) / 8).
// Roughness ρ = roughness / 100 adds ρ·(12·w + 28·n) to bricks and ρ·36·w to mortar, w the grain
// and n the mottle below. Heights are defined for every position, so the gradient at the
// rectangle's border needs no clamping.
//
// Randomness is a stateless hash, so the wall is the same at any thread count and never touches
// the thread's generator: Mix(h) = the 32-bit avalanche h ^= h >> 16, h *= 0x7FEB352D,
// h ^= h >> 15, h *= 0x846CA68B, h ^= h >> 16, and Hash(a, b, salt) = Mix(Mix(Mix(seed ^ salt) +
// a) + b) in wrapping unsigned arithmetic, mapped to [-1, 1) by (h >> 8) / 2^23 - 1. The grain w
// hashes the pixel (u, v); the mottle n interpolates hashed values on a lattice of 8 pixels
// (columns first, then across, with the weights f²(3 - 2f)); brick (i, j) draws its lightness and
// its three tints.
//
// Light: the bump map's light vector L0 = cos α·cos ε·255, L1 = sin α·cos ε·255, L2 = (1530 /
// depth)·sin ε·255 (integer division; azimuth α gets 360 added when negative). The shade of a
// gradient (gx, gy) is 0 if d = gx·L0 + gy·L1 + L2 < 0, else min(d / sqrt(gx² + gy² + L2), 255)
// (0 when the root is 0), in double precision. The lit colour is the colour times shade / F,
// F = max(the shade of a flat surface, 64): flat areas keep their colour whenever the light is
// higher than a few degrees, and darken smoothly as it sinks to the horizon.
//
// Extreme inputs: sizes are limited to 65535, so pitches, courses and shifts fit 64-bit integers
// for any bitmap; brick and pixel indices enter the hash as their low 32 bits.
#include <cmath>
#include <cstddef>
#include <cstring>

#include "Common/Paint.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;
constexpr uint32_t kMaxSize = 65535;
constexpr int64_t kLattice = 8;  // mottle lattice spacing, pixels
enum BricksBlend : uint32_t { kPaint = 0, kMultiply = 1, kOverlay = 2, kRelief = 3 };
enum Salt : uint32_t {
  kSaltGrain = 0x6A09E667u,
  kSaltMottle = 0xBB67AE85u,
  kSaltBrick = 0x3C6EF372u
};

inline uint32_t Mix(uint32_t h) {
  h ^= h >> 16;
  h *= 0x7FEB352Du;
  h ^= h >> 15;
  h *= 0x846CA68Bu;
  h ^= h >> 16;
  return h;
}
inline uint32_t Hash(uint32_t seed, uint32_t a, uint32_t b, uint32_t salt) {
  return Mix(Mix(Mix(seed ^ salt) + a) + b);
}
inline double Signed(uint32_t h) {
  return (h >> 8) * (1.0 / 8388608.0) - 1.0;
}

inline int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

// The bump map's light vector from degrees and its divisor.
struct LightVector {
  double l0, l1, l2;
};
LightVector BumpLightVector(int32_t azimuth, uint32_t elevation, uint32_t divisor) {
  const int32_t az = azimuth < 0 ? azimuth + 360 : azimuth;
  const double alpha = az * kPi / 180, eps = elevation * kPi / 180;
  return LightVector{std::cos(alpha) * std::cos(eps) * 255, std::sin(alpha) * std::cos(eps) * 255,
                     static_cast<double>(1530 / divisor) * std::sin(eps) * 255};
}
inline double BumpShade(const LightVector& l, double gx, double gy) {
  const double d = gx * l.l0 + gy * l.l1 + l.l2;
  if (d < 0) return 0;
  const double m = std::sqrt(gx * gx + gy * gy + l.l2);
  if (m == 0) return 0;
  const double shade = d / m;
  return shade < 255 ? shade : 255;
}

struct Wall {
  int64_t brickW, brickH, mortar, pitchX, pitchY, rowOffset;
  int32_t left, top, width;  // the rectangle
  uint32_t seed;
  double variation, rough, bevel;
  LightVector light;
  double flatShade;  // F
  double opacity;
  uint32_t blend;
  PaintColor brick, mortarColor;
};

// Where a position falls: brick (i, j) at (bx, by) inside it, or mortar.
struct Cell {
  int64_t i, j, bx, by;
  bool mortar;
};
inline Cell Locate(const Wall& w, int64_t u, int64_t v) {
  Cell c;
  c.j = FloorDiv(v, w.pitchY);
  const int64_t vy = v - c.j * w.pitchY;
  int64_t shift = FloorDiv(c.j * w.rowOffset * w.pitchX, 100) % w.pitchX;
  if (shift < 0) shift += w.pitchX;
  const int64_t uu = u + shift;
  c.i = FloorDiv(uu, w.pitchX);
  const int64_t ux = uu - c.i * w.pitchX;
  c.mortar = ux < w.mortar || vy < w.mortar;
  c.bx = ux - w.mortar;
  c.by = vy - w.mortar;
  return c;
}

inline double Grain(const Wall& w, int64_t u, int64_t v) {
  return Signed(Hash(w.seed, static_cast<uint32_t>(u), static_cast<uint32_t>(v), kSaltGrain));
}
inline double Fade(double f) {
  return f * f * (3 - 2 * f);
}

// The mottle's column values of lattice row pair around v, for lattice columns first .. first +
// count - 1: the vertical interpolation, done once per row.
void MottleColumns(const Wall& w, int64_t v, int64_t first, int64_t count, double* columns) {
  const int64_t j = FloorDiv(v, kLattice);
  const double sv = Fade(static_cast<double>(v - j * kLattice) / kLattice);
  for (int64_t k = 0; k < count; ++k) {
    const uint32_t i = static_cast<uint32_t>(first + k);
    const double a = Signed(Hash(w.seed, i, static_cast<uint32_t>(j), kSaltMottle));
    const double b = Signed(Hash(w.seed, i, static_cast<uint32_t>(j + 1), kSaltMottle));
    columns[k] = a + (b - a) * sv;
  }
}
inline double Mottle(int64_t u, int64_t first, const double* columns) {
  const int64_t i = FloorDiv(u, kLattice);
  const double su = Fade(static_cast<double>(u - i * kLattice) / kLattice);
  const double a = columns[i - first], b = columns[i - first + 1];
  return a + (b - a) * su;
}

// Heights of row v for u = -1 .. width (index u + 1).
void HeightRow(const Wall& w, int64_t v, double* columns, double* heights) {
  const int64_t first = FloorDiv(-1, kLattice);
  MottleColumns(w, v, first, FloorDiv(w.width, kLattice) - first + 2, columns);
  for (int64_t u = -1; u <= w.width; ++u) {
    const Cell c = Locate(w, u, v);
    double h;
    if (c.mortar) {
      h = w.rough * 36 * Grain(w, u, v);
    } else {
      int64_t e = c.bx;
      if (w.brickW - 1 - c.bx < e) e = w.brickW - 1 - c.bx;
      if (c.by < e) e = c.by;
      if (w.brickH - 1 - c.by < e) e = w.brickH - 1 - c.by;
      double t = (e + 0.5) / w.bevel;
      if (t > 1) t = 1;
      h = 255 * t * (2 - t) + w.rough * (12 * Grain(w, u, v) + 28 * Mottle(u, first, columns));
    }
    heights[u + 1] = h;
  }
}

// The unlit colour sample k at (u, v).
inline double WallColor(const Wall& w, const Cell& c, int64_t u, int64_t v, double mottle,
                        const double* tint, int32_t k) {
  if (c.mortar) return w.mortarColor.s[k] * (1 + 0.10 * w.rough * Grain(w, u, v));
  return w.brick.s[k] * tint[k] * (1 + 0.12 * w.rough * mottle);
}

// The lightness and tints of brick (i, j), one factor per sample.
void BrickTint(const Wall& w, const Cell& c, bool colour, double* tint) {
  const uint32_t i = static_cast<uint32_t>(c.i), j = static_cast<uint32_t>(c.j);
  const double light = 1 + 0.35 * w.variation * Signed(Hash(w.seed, i, j, kSaltBrick));
  for (uint32_t k = 0; k < 3; ++k) {
    const double t = colour ? Signed(Hash(w.seed, i, j, kSaltBrick + 1 + k)) : 0.0;
    tint[k] = light * (1 + 0.10 * w.variation * t);
  }
}

template <class T>
inline T Combine(const Wall& w, double v, double paint, double factor) {
  constexpr double kMax = SampleTraits<T>::kMax;
  double target;
  switch (w.blend) {
    case kMultiply:
      target = v * paint / kMax;
      break;
    case kOverlay:
      target = v <= kMax / 2 ? 2 * v * paint / kMax : kMax - 2 * (kMax - v) * (kMax - paint) / kMax;
      break;
    case kRelief:
      target = v * factor;
      break;
    default:
      target = paint;
      break;
  }
  if (target > kMax) target = kMax;
  return RoundSample<T>(target * w.opacity + v * (1 - w.opacity));
}

// Scratch of one row: three height rows, the mottle columns of one row.
size_t WallScratchDoubles(int32_t width) {
  return 3 * (size_t(width) + 2) + size_t(width) / kLattice + 4;
}

template <class T>
void WallRow(const Wall& w, int32_t y, int32_t pixelStep, T* out, double* scratch) {
  const size_t span = size_t(w.width) + 2;
  double* above = scratch;
  double* here = above + span;
  double* below = here + span;
  double* columns = below + span;
  const int64_t v = int64_t{y} - w.top;
  HeightRow(w, v - 1, columns, above);
  HeightRow(w, v + 1, columns, below);
  HeightRow(w, v, columns, here);  // leaves this row's mottle columns in place
  const int64_t first = FloorDiv(-1, kLattice);
  const bool colour = IsColorPixel(pixelStep);
  const int32_t count = colour ? 3 : 1;
  double tint[3] = {1, 1, 1};
  int64_t tintI = 0, tintJ = 0;
  bool tinted = false;
  for (int64_t u = 0; u < w.width; ++u) {
    const double gx = (above[u] + here[u] + below[u]) - (above[u + 2] + here[u + 2] + below[u + 2]);
    const double gy =
        (below[u] + below[u + 1] + below[u + 2]) - (above[u] + above[u + 1] + above[u + 2]);
    const double factor = BumpShade(w.light, gx, gy) / w.flatShade;
    const Cell c = Locate(w, u, v);
    double mottle = 0;
    if (!c.mortar) {
      if (!tinted || c.i != tintI || c.j != tintJ) {
        BrickTint(w, c, colour, tint);
        tintI = c.i, tintJ = c.j, tinted = true;
      }
      mottle = Mottle(u, first, columns);
    }
    T* pixel = out + (w.left + u) * pixelStep;
    for (int32_t k = 0; k < count; ++k) {
      const double paint = WallColor(w, c, u, v, mottle, tint, k) * factor;
      pixel[k] = Combine<T>(w, pixel[k], paint, factor);
    }
  }
}

int32_t WallDriver(BitmapRecord* bitmap, const RECT& rect, Wall& w, uint32_t brickColor,
                   uint32_t mortarColor) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t sampleBits = access.SampleBits(), pixelStep = access.PixelStep();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  w.brick = PreparePaint(brickColor, sampleBits, pixelStep);
  w.mortarColor = PreparePaint(mortarColor, sampleBits, pixelStep);
  RowWindow source;
  RowSlots slots;
  rc = source.AllocateRowByRow(rowBytes, slots, WallScratchDoubles(w.width) * sizeof(double));
  if (rc != SUCCESS) return rc;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  return WithSampleType(sampleBits, [&](auto sample) {
    using T = decltype(sample);
    return source.RunInPlace(
        access, slots, rect.top, rect.bottom, bitmap->Height, w.width,
        [&](int32_t y, uint8_t* out, uint8_t* scratch) {
          WallRow<T>(w, y, pixelStep, reinterpret_cast<T*>(out),
                     reinterpret_cast<double*>(scratch));
        },
        NoHostCall(), WriteRow(access));
  });
}

constexpr FxFlagValue kBlendValues[] = {
    {"paint", kPaint, "the lit wall painted over the image"},
    {"multiply", kMultiply, "the lit wall multiplied with the image"},
    {"overlay", kOverlay, "the lit wall overlaid: the image's contrast over the wall's colours"},
    {"relief", kRelief, "only the wall's relief: the image's own colours lit by it"},
};
constexpr FxFlagField kBricksFlagFields[] = {
    FlagField("blend", 0x0F, kBlendValues, "how the wall combines with the image"),
};

const FxParamDesc kBricksParams[] = {
    UIntParam("brickWidth", 64, 1, kMaxSize, "width of a brick, pixels"),
    UIntParam("brickHeight", 24, 1, kMaxSize, "height of a brick (a course), pixels"),
    UIntParam("mortarWidth", 4, 0, kMaxSize, "width of the mortar joints, pixels"),
    UIntParam("rowOffset", 50, 0, 100,
              "sideways shift of each course against the one above, percent of a brick (50: "
              "running bond, 0: stack bond)"),
    ColorParam("brickColor", 0x2A48A8, "colour of the bricks"),
    ColorParam("mortarColor", 0xA0B0B8, "colour of the mortar"),
    UIntParam("colorVariation", 40, 0, 100, "how much the bricks' colours differ, percent"),
    UIntParam("roughness", 40, 0, 100, "grain and mottle of the surface, percent"),
    UIntParam("seed", 1, 0, kAnyUInt32Max, "seed of the colour variation and the roughness"),
    IntParam("azimuth", 135, -360, 360,
             "direction the light comes from, degrees (0 right, 90 top, 180 left)"),
    UIntParam("elevation", 45, 0, 180, "height of the light above the wall, degrees"),
    UIntParam("depth", 6, 1, 100, "depth of the relief; the light's height is divided by it"),
    UIntParam("opacity", 100, 0, 100, "opacity of the wall, percent; 0 does nothing"),
    FlagsParam("flags", 0, 0, 3,
               "bits 0-3: 0 painted over, 1 multiplied, 2 overlaid, 3 relief only",
               kBricksFlagFields),
};

const FxPreset kBricksPresets[] = {
    {"red-wall",
     "brickWidth=10%w brickHeight=4%h mortarWidth=0.8%s brickColor=#A83A28 mortarColor=#B8B0A0 "
     "colorVariation=50 roughness=50 depth=4"},
    {"painted-over",
     "brickWidth=12%w brickHeight=5%h mortarWidth=1%s blend=overlay opacity=85 "
     "brickColor=#C05030 mortarColor=#D0D0C8 roughness=60"},
    {"relief",
     "brickWidth=8%w brickHeight=3.5%h mortarWidth=0.6%s blend=relief roughness=30 depth=8 "
     "elevation=40"},
};

}  // namespace

extern const FxEffectDesc kBricksTextureEffect = {
    "bricks-texture",
    "Fx_BricksTextureBitmap",
    FX_FAMILY_ARTISTIC,
    "Paints a lit brick wall over the image, or lends it the wall's relief",
    kBricksParams,
    CountOf(kBricksParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_BricksTextureBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]), ArgU32(v[3]),
                                    ArgU32(v[4]), ArgU32(v[5]), ArgU32(v[6]), ArgU32(v[7]),
                                    ArgU32(v[8]), ArgI32(v[9]), ArgU32(v[10]), ArgU32(v[11]),
                                    ArgU32(v[12]), ArgU32(v[13]));
    },
    kBricksPresets,
    CountOf(kBricksPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_BricksTextureBitmap(BitmapRecord* bitmap, uint32_t brickWidth, uint32_t brickHeight,
                               uint32_t mortarWidth, uint32_t rowOffset, uint32_t brickColor,
                               uint32_t mortarColor, uint32_t colorVariation, uint32_t roughness,
                               uint32_t seed, int32_t azimuth, uint32_t elevation, uint32_t depth,
                               uint32_t opacity, uint32_t flags) {
  int32_t rc = fx::CheckBitmap(bitmap);
  if (rc != SUCCESS) return rc;
  if (flags > fx::kRelief) return ERROR_INV_PARAMETER;
  if (brickWidth < 1 || brickWidth > fx::kMaxSize || brickHeight < 1 ||
      brickHeight > fx::kMaxSize || mortarWidth > fx::kMaxSize || rowOffset > 100 ||
      colorVariation > 100 || roughness > 100 || azimuth < -360 || azimuth > 360 ||
      elevation > 180 || depth < 1 || depth > 100 || opacity > 100)
    return ERROR_INV_PARAMETER;
  if (opacity == 0) {
    HostNothingToDo();
    return SUCCESS;
  }
  fx::OrientationGuard orientation(bitmap);
  const RECT rect = fx::ProcessRect(bitmap);
  if (fx::IsEmpty(rect)) return ERROR_EMPTY_RECT;
  fx::Wall w{};
  w.brickW = brickWidth;
  w.brickH = brickHeight;
  w.mortar = mortarWidth;
  w.pitchX = int64_t{brickWidth} + mortarWidth;
  w.pitchY = int64_t{brickHeight} + mortarWidth;
  w.rowOffset = rowOffset;
  w.left = rect.left;
  w.top = rect.top;
  w.width = rect.right - rect.left;
  w.seed = seed;
  w.variation = colorVariation / 100.0;
  w.rough = roughness / 100.0;
  const double shorter = brickWidth < brickHeight ? brickWidth : brickHeight;
  w.bevel = shorter / 8 > 1 ? shorter / 8 : 1.0;
  w.light = fx::BumpLightVector(azimuth, elevation, depth);
  const double flat = fx::BumpShade(w.light, 0, 0);
  w.flatShade = flat > 64 ? flat : 64.0;
  w.opacity = opacity / 100.0;
  w.blend = flags;
  return fx::WallDriver(bitmap, rect, w, brickColor, mortarColor);
}
