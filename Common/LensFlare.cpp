// Lens flare: the flare a bright light makes in a camera lens. A glowing core with halo and ring
// sits at the light; a chain of coloured ghost discs and rings lies on the line from the light
// through the centre of the image; a burst of random-length rays surrounds the light. Each of the
// three flare types has its own element table; every element is a circular intensity profile
// blended onto the pixels with a screen blend, element after element in table order.
// Rectangles wider or taller than 520 pixels are drawn at a reduced size on a black scratch
// bitmap that the host enlarges (linear filter) and combines into the rectangle by lightening.
// The rays are drawn by DrawFlareRays (Common/Rays).
//
// Each element's extent (a column and a row span) is worked out once per call; the rows run as
// row functions, each pixel evaluating only the elements whose extent holds it.
//
// Extreme inputs and choices:
// - 8-bit blend: k = trunc(1000a) and (255 - p)·c·k are formed in 64 bits, so a brightness above
//   about 3300 saturates instead of wrapping; identical below it.
// - 16-bit images show the flare of their 8-bit version scaled by 257: colours are widened by 257,
//   and both the element blends and the rays (see Rays.h) gain 257 times the 8-bit step of each
//   sample's level (p / 257), so a 16-bit copy of an 8-bit picture gets exactly 257 times its
//   flare on the direct path (the blends in doubles would run up to 2 % brighter where elements
//   overlap, since the 8-bit blends truncate each step).
// - The reduced path combines the enlarged flare into the rectangle's own size (not the whole
//   bitmap's); every write keeps to the region, masks included, and the light stays where the
//   caller put it, with or without a region. A reduced size that would round to 0 is 1.
// - Element extents and ring squares are converted with saturation, so any brightness is safe.
#include "Common/LensFlare.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "Common/Glows.h"
#include "Common/Rays.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"
#include "host/runtime/Runtime.h"

namespace fx {
namespace {

constexpr int32_t kDirectMax = 520;  // rectangles up to this size are drawn directly
constexpr uint32_t kMaxElements = 24;

// kind, size, rim, t, red, green, blue, inner square
constexpr FlareElement kType0[] = {
    {1, 0.02, 0, 0.8, 0, 58, 113, false},           {1, 0.015, 0, 0.4, 1, 100, 180, false},
    {1, 0.008, 0, -0.0112, 56, 140, 106, false},    {2, 0.034, 0.00629, 0.6549, 9, 49, 19, false},
    {2, 0.018, 0.00324, 0.4996, 24, 14, 50, false}, {2, 0.037, 0.00555, 0.4087, 24, 14, 0, false},
    {2, 0.025, 0.00375, -0.2003, 42, 30, 0, false}, {2, 0.025, 0.00375, -0.4103, 15, 45, 17, false},
    {2, 0.058, 0.0087, -0.4503, 20, 14, 10, false}, {2, 0.017, 0.00255, -0.5112, 15, 52, 12, false},
    {2, 0.2, 0.03, -1.496, 9, 40, 20, false},       {2, 0.5, 0.075, -1.496, 29, 14, 10, false},
    {3, 0.075, 0.009, 0.4487, 34, 19, 10, false},   {3, 0.1, 0.012, 1, 14, 26, 10, false},
    {3, 0.039, 0.00468, -1.301, 10, 25, 13, false}, {4, 0.19, 0.0076, 1.309, 19, 10, 27, true},
    {4, 0.195, 0.0078, 1.309, 29, 16, 15, true},    {4, 0.2, 0.008, 1.309, 17, 4, 0, true},
    {4, 0.038, 0.00152, -1.301, 27, 14, 20, true},  {5, 0.03, 0, 0, 239, 239, 239, false},
    {6, 0.078125, 0, 0, 245, 245, 245, false},      {7, 0.1796875, 0, 0, 255, 70, 90, false},
    {8, 0.3359375, 0, 0, 0, 0, 0, false},           {9, 0.084375, 0.0059063, 0, 80, 15, 4, true},
};
constexpr FlareElement kType1[] = {
    {1, 0.12, 0, 0.92, 25, 9, 10, false},
    {1, 0.11, 0, 1, 45, 28, 20, false},
    {1, 0.028, 0, 0.75, 90, 20, 30, false},
    {1, 0.029, 0, 0.59, 85, 12, 70, false},
    {2, 0.045, 0.0144, -2, 4, 40, 44, false},
    {2, 0.042, 0.01302, -2.14, 41, 80, 64, false},
    {2, 0.041, 0.0123, -2.07, 41, 50, 24, false},
    {2, 0.021, 0.0063, -1.8, 40, 21, 24, false},
    {2, 0.021, 0.00714, -1.75, 4, 20, 24, false},
    {2, 0.02, 0.0063, -1.8, 4, 28, 24, false},
    {2, 0.03, 0.006, -0.25, 28, 8, 40, false},
    {2, 0.06, 0.006, -0.25, 20, 18, 40, false},
    {3, 0.2, 0.06, 0.9, 12, 35, 24, false},
    {4, 0.145, 0.0058, 0.9, 19, 36, 15, false},  // the whole ring is evaluated
    {4, 0.15, 0.006, 0.9, 57, 40, 0, true},
    {5, 0.04, 0, 0, 200, 200, 200, false},
    {6, 0.078125, 0, 0, 208, 208, 208, false},
    {7, 0.1796875, 0, 0, 255, 70, 90, false},
    {8, 0.3359375, 0, 0, 0, 0, 0, false},
    {9, 0.084375, 0.0059063, 0, 80, 15, 4, true},
};
constexpr FlareElement kType2[] = {
    {1, 0.02, 0, -0.08, 76, 90, 95, false},        {1, 0.012, 0, -0.38, 50, 55, 55, false},
    {1, 0.012, 0, 0.5, 56, 140, 106, false},       {2, 0.06, 0.0036, 1.85, 29, 22, 22, false},
    {2, 0.01, 0.0005, 1.125, 65, 55, 45, false},   {2, 0.05, 0.01, 1.2, 22, 11, 18, false},
    {2, 0.018, 0.000324, 0.5, 19, 26, 15, false},  {2, 0.015, 0.0045, 1.4, 18, 30, 50, false},
    {2, 0.01, 0.003, 1.3, 18, 30, 50, false},      {2, 0.01, 0.003, 1.325, 8, 30, 50, false},
    {2, 0.042, 0.0021, -0.225, 29, 23, 22, false}, {2, 0.38, 0.0076, -1.78, 19, 23, 22, false},
    {3, 0.09, 0.018, 1.85, 23, 28, 19, false},     {3, 0.045, 0.0045, 2, 23, 28, 19, false},
    {3, 0.1, 0.01, 0.5, 22, 18, 10, false},        {3, 0.2, 0.04, 0.5, 22, 18, 10, false},
    {2, 0.08, 0.0064, -1.5, 9, 16, 5, false},      {2, 0.025, 0.000625, -0.75, 19, 26, 25, false},
    {2, 0.018, 0.000324, 0.5, 9, 16, 5, false},    {5, 0.175, 0, 0, 239, 239, 239, false},
    {6, 0.078125, 0, 0, 245, 245, 245, false},     {7, 0.1796875, 0, 0, 30, 55, 95, false},
    {8, 0.3359375, 0, 0, 0, 0, 0, false},          {9, 0.1, 0.003, 0, 50, 50, 65, true},
};

// Truncation toward zero into a range far beyond any bitmap, for extents and squares.
inline int64_t TruncSpan(double v) {
  constexpr double kLimit = 4.0e18;
  if (v >= kLimit) return int64_t{4000000000000000000};
  if (v <= -kLimit) return -int64_t{4000000000000000000};
  return static_cast<int64_t>(v);
}

// An element placed on the drawing rectangle, its colour at the working sample size.
struct PlacedElement {
  uint32_t kind;
  double size, rim, x, y;
  bool square;
  int64_t sqLeft, sqTop, sqRight, sqBottom;
  uint32_t sample[3];  // blue, green, red
  uint32_t gray;       // (2R + 5G + B + 4) / 8
  int64_t colLo, colHi, rowLo, rowHi;
};

struct FlareScene {
  PlacedElement elements[kMaxElements];
  uint32_t count;
  int32_t left, right;
  int32_t pixelStep;
  uint32_t brightness;
};

void PlaceElements(const RECT& rect, double cx, double cy, uint32_t brightness, uint32_t type,
                   COLORREF color, bool deep, FlareScene& scene) {
  const FlareElement* table = FlareTable(type, &scene.count);
  const int32_t w = rect.right - rect.left, h = rect.bottom - rect.top;
  const double ic = rect.left + w / 2, jc = rect.top + h / 2;
  const double b = brightness / 100.0;
  for (uint32_t i = 0; i < scene.count; ++i) {
    const FlareElement& entry = table[i];
    PlacedElement& e = scene.elements[i];
    e.kind = entry.kind;
    if (entry.kind <= 4) {
      e.x = ic + entry.t * (ic - cx);
      e.y = jc + entry.t * (jc - cy);
    } else {
      e.x = cx;
      e.y = cy;
    }
    e.size = entry.size * w;
    if (entry.kind >= 5 && entry.kind <= 8) e.size = e.size * b;
    e.rim = entry.rim * w;
    uint32_t rgb[3] = {entry.red, entry.green, entry.blue};
    if (entry.kind == 8)
      rgb[0] = color & 0xFF, rgb[1] = (color >> 8) & 0xFF, rgb[2] = (color >> 16) & 0xFF;
    for (uint32_t& k : rgb) k = static_cast<uint32_t>(std::min(k * b, 255.0));
    // The gray level is mixed at 8 bits and widened like the components, so a 16-bit gray picture
    // blends with 257 times its 8-bit version's level.
    e.gray = (2 * rgb[0] + 5 * rgb[1] + rgb[2] + 4) / 8;
    if (deep) {
      for (uint32_t& k : rgb) k *= 257;
      e.gray *= 257;
    }
    e.sample[0] = rgb[2], e.sample[1] = rgb[1], e.sample[2] = rgb[0];
    e.square = entry.square;
    if (e.square) {
      const double s = (e.size - e.rim) / std::sqrt(2.0);
      e.sqLeft = TruncSpan(e.x - s), e.sqTop = TruncSpan(e.y - s);
      e.sqRight = TruncSpan(e.x + s), e.sqBottom = TruncSpan(e.y + s);
    }
    const double reach = entry.kind == 4 || entry.kind == 9 ? e.size + e.size * e.rim : e.size;
    e.colLo = TruncSpan(e.x - reach), e.colHi = TruncSpan(e.x + reach);
    e.rowLo = TruncSpan(e.y - reach), e.rowHi = TruncSpan(e.y + reach);
  }
}

// One output row: every element whose extent holds a pixel, in table order.
template <class T>
void FlareRow(const FlareScene& scene, int32_t y, T* out, const PlacedElement** active) {
  uint32_t n = 0;
  for (uint32_t i = 0; i < scene.count; ++i) {
    const PlacedElement& e = scene.elements[i];
    if (e.rowLo <= y && y <= e.rowHi && e.colLo < scene.right && e.colHi >= scene.left)
      active[n++] = &e;
  }
  if (n == 0) return;
  const bool colour = IsColorPixel(scene.pixelStep);
  const double fy = y;
  for (int32_t x = scene.left; x < scene.right; ++x) {
    T* p = out + int64_t{x} * scene.pixelStep;
    const double fx = x;
    double lastX = 0, lastY = 0, d = -1;
    for (uint32_t i = 0; i < n; ++i) {
      const PlacedElement& e = *active[i];
      if (x < e.colLo || x > e.colHi) continue;
      if (e.square && e.sqLeft <= x && x < e.sqRight && e.sqTop <= y && y < e.sqBottom) continue;
      if (d < 0 || e.x != lastX || e.y != lastY) {
        d = std::hypot(e.x - fx, e.y - fy);
        lastX = e.x, lastY = e.y;
      }
      double a;
      if (!FlareCoverage(e.kind, d, e.size, e.rim, scene.brightness, &a)) continue;
      for (int32_t c = 0; c < (colour ? 3 : 1); ++c) {
        const uint32_t component = colour ? e.sample[c] : e.gray;
        if constexpr (sizeof(T) == 1)
          p[c] = FlareBlend8(p[c], component, a);
        else
          p[c] = FlareBlend16(p[c], component, a);
      }
    }
  }
}

// Draws the flare elements on `target` (its rectangle to process) with the light at (cx, cy).
int32_t DrawFlare(BitmapRecord* target, double cx, double cy, uint32_t brightness, uint32_t type,
                  COLORREF color) {
  AccessOwner access;
  int32_t rc = access.Open(target, 2);
  if (rc != SUCCESS) return rc;
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  HostBlock<FlareScene> scene;
  BandPass pass;
  RowSlots slots;
  if (!scene.Allocate(1) || !pass.Allocate(rowBytes) ||
      !slots.Allocate(rowBytes, kMaxElements * sizeof(const PlacedElement*)))
    return ERROR_NO_MEMORY;
  rc = BeginWritePhaseEx(access, target, 0, 80);
  if (rc != SUCCESS) return rc;
  RECT rect;
  HostGetRegionBounds(target, nullptr, &rect);
  FlareScene& s = scene[0];
  PlaceElements(rect, cx, cy, brightness, type, color, access.SampleBits() == 16, s);
  s.left = rect.left;
  s.right = rect.right;
  s.pixelStep = access.PixelStep();
  s.brightness = brightness;
  rc = WithSampleType(access.SampleBits(), [&](auto sample) -> int32_t {
    using T = decltype(sample);
    return pass.Run(
        access, slots, rect.top, rect.bottom, rect.right - rect.left,
        [](int32_t, int32_t) { return SUCCESS; },
        [&](int32_t y, const uint8_t*, uint8_t* out, uint8_t* scratch) {
          FlareRow(s, y, reinterpret_cast<T*>(out),
                   reinterpret_cast<const PlacedElement**>(scratch));
        });
  });
  if (rc == SUCCESS) HostFinishUpdate(target);
  return rc;
}

// The flare of a large rectangle: drawn at most 520 pixels on its longer side on a black scratch
// bitmap, enlarged to the rectangle and combined into it by lightening.
int32_t DrawReducedFlare(BitmapRecord* bitmap, const RECT& rect, POINT center, uint32_t brightness,
                         uint32_t type, COLORREF color) {
  const int32_t width = rect.right - rect.left, height = rect.bottom - rect.top;
  int32_t rw, rh;
  if (width <= height) {
    rh = kDirectMax;
    rw = static_cast<int32_t>(0.5 + double{kDirectMax} * width / height);
  } else {
    rw = kDirectMax;
    rh = static_cast<int32_t>(0.5 + double{kDirectMax} * height / width);
  }
  rw = std::max(rw, 1), rh = std::max(rh, 1);
  const double cx = double(int64_t{center.x} - rect.left) * rw / width;
  const double cy = double(int64_t{center.y} - rect.top) * rh / height;

  ScratchBitmap scratch;
  COLORREF palette[256];
  HostGetPalette(bitmap, palette, 256);
  const int32_t memoryMode = (bitmap->Flags & 0x4) && !(bitmap->Flags & 0x2) ? 128 : 1;
  int32_t rc;
  {
    CallbackPause pause;
    rc = HostCreateBitmap(&scratch.record, BITMAP_STRUCT_SIZE, memoryMode, rw, rh,
                          bitmap->BitsPerPixel, bitmap->Order, palette, bitmap->Orientation,
                          nullptr, 0);
    if (rc == SUCCESS) rc = HostFillBitmap(&scratch.record, 0);
  }
  if (rc != SUCCESS) return rc;
  rc = DrawFlare(&scratch.record, cx, cy, brightness, type, color);
  if (rc != SUCCESS) return rc;
  CallbackPause pause;
  rc = HostResizeBitmap(&scratch.record, width, height, 4);
  if (rc != SUCCESS) return rc;
  return HostCombineBitmaps(bitmap, rect.left, rect.top, width, height, &scratch.record, 0, 0,
                            HOST_COMBINE_LIGHTEN);
}

struct RaySet {
  int32_t angleStep, thickness;
};
constexpr RaySet kRays[] = {{5, 2}, {7, 2}, {10, 3}};

int32_t LensFlareDriver(BitmapRecord* bitmap, const RECT& rect, POINT center, uint32_t brightness,
                        uint32_t type, COLORREF color) {
  const int32_t width = rect.right - rect.left, height = rect.bottom - rect.top;
  const int32_t rc = width <= kDirectMax && height <= kDirectMax
                         ? DrawFlare(bitmap, center.x, center.y, brightness, type, color)
                         : DrawReducedFlare(bitmap, rect, center, brightness, type, color);
  if (rc != SUCCESS) return rc;
  return DrawFlareRays(bitmap, center, static_cast<int32_t>(width * 0.35), brightness,
                       kRays[type].angleStep, kRays[type].thickness);
}

const FxFlagValue kTypeValues[] = {
    {"zoom", 0, "many small ghosts and rings along the line through the centre"},
    {"wide", 1, "large soft ghosts and a bright ring beyond the centre"},
    {"tele", 2, "a wide white core and distant ghosts"},
};
const FxFlagField kTypeFields[] = {
    FlagField("type", 0x3, kTypeValues, "element table"),
};

const FxParamDesc kLensFlareParams[] = {
    CenterParam("center",
                "position of the light; inside the rectangle (right and bottom excluded)"),
    UIntParam("brightness", 100, 0, kAnyUInt32Max,
              "strength in percent: colours, core sizes and rays scale with it"),
    FlagsParam("type", 0, 0, 2, "flare type: 0 zoom, 1 wide, 2 tele", kTypeFields),
    ColorParam("color", 0x0060A0FF,
               "colour of the halo around the core; bit 26 on 12/16-bit gray takes the high byte "
               "of a 16-bit level"),
};

const FxPreset kLensFlarePresets[] = {
    {"zoom", "type=zoom center=70%,30% brightness=120"},
    {"wide", "type=wide center=25%,55% brightness=110 color=#FFC890"},
    {"tele", "type=tele center=80%,12% brightness=100 color=#90B0FF"},
};

}  // namespace

const FlareElement* FlareTable(uint32_t type, uint32_t* count) {
  switch (type) {
    case 0:
      *count = CountOf(kType0);
      return kType0;
    case 1:
      *count = CountOf(kType1);
      return kType1;
    case 2:
      *count = CountOf(kType2);
      return kType2;
    default:
      *count = 0;
      return nullptr;
  }
}

bool FlareCoverage(uint32_t kind, double d, double s, double w, uint32_t brightness, double* a) {
  double q;
  switch (kind) {
    case 1:
      q = (s - d) / s;
      if (!(q > 0)) return false;
      *a = q * q;
      return true;
    case 2:
      q = (s - d) / w;
      if (!(q > 0)) return false;
      *a = std::min(q, 1.0);
      return true;
    case 3:
      q = (s - d) / w;
      if (!(q > 0)) return false;
      *a = q <= 1 ? q : 1 - 0.12 * q;
      return true;
    case 4:
    case 9:
      q = std::fabs((s - d) / w);
      if (!(q < 1)) return false;
      *a = 1 - q;
      return true;
    case 5:
    case 6:
    case 7:
      q = (s - d) / s;
      if (!(q > 0)) return false;
      *a = q * q * brightness / 100;
      return true;
    case 8:
      q = (s - d) / s;
      if (!(q > 0)) return false;
      *a = q * brightness / 100;
      return true;
    default:
      return false;
  }
}

uint8_t FlareBlend8(uint32_t p, uint32_t c, double a) {
  const int64_t k = TruncSpan(a * 1000);
  const int64_t product = int64_t{255 - int32_t(p)} * int32_t(c);  // 0 .. 65025
  int64_t lifted;  // saturates toward k's sign where it would leave 64 bits
  if (__builtin_mul_overflow(product, k, &lifted)) lifted = k < 0 ? INT64_MIN : INT64_MAX;
  const int64_t v = int64_t{p} + lifted / 255000;
  return static_cast<uint8_t>(std::clamp<int64_t>(v, 0, 255));
}

uint16_t FlareBlend16(uint32_t p, uint32_t c, double a) {
  const uint32_t level = p / 257, blended = FlareBlend8(level, c / 257, a);
  if (blended == level) return static_cast<uint16_t>(p);
  if (blended == 0 || blended == 255) return static_cast<uint16_t>(blended * 257);
  return static_cast<uint16_t>(
      std::clamp<int64_t>(int64_t{p} + 257 * (int64_t{blended} - level), 0, 65535));
}

extern const FxEffectDesc kLensFlareEffect = {
    "lens-flare",
    "Fx_LensFlareBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Paints a camera lens flare: a glowing core and halo, ghosts toward the centre and rays",
    kLensFlareParams,
    CountOf(kLensFlareParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_LensFlareBitmap(b, v[0].pt, ArgU32(v[1]), ArgU32(v[2]), ArgU32(v[3]));
    },
    kLensFlarePresets,
    CountOf(kLensFlarePresets),
    FX_TRAIT_TONES_ONLY | FX_TRAIT_RANDOM | FX_TRAIT_PROGRESS | FX_TRAIT_WHOLE_IMAGE,
};

}  // namespace fx

int32_t Fx_LensFlareBitmap(BitmapRecord* bitmap, POINT center, uint32_t brightness, uint32_t type,
                           uint32_t color) {
  const int32_t rc = fx::CheckBitmapPresent(bitmap, false);
  if (rc != SUCCESS) return rc;
  const int32_t record = fx::CheckBitmapRecord(bitmap);
  if (record != SUCCESS) return record;
  fx::OrientationGuard orientation(bitmap);
  if ((bitmap->BitsPerPixel == 12 || bitmap->BitsPerPixel == 16) && HostIsGrayscale(bitmap) &&
      (color & (1u << 26))) {
    const uint32_t h = (color & 0xFFFF) >> 8;
    color = h | h << 8 | h << 16;
  }
  RECT rect;
  HostGetRegionBounds(bitmap, nullptr, &rect);
  if (!fxrt::PtInRect(&rect, center) || type > 2) return ERROR_INV_PARAMETER;
  return fx::LensFlareDriver(bitmap, rect, center, brightness, type, color);
}
