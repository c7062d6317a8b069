// Roman mosaic: rebuilds the rectangle from small irregular four-sided tiles set in grout. Each
// tile is a polygon filled with the colour of the image under one of its corners, drawn on a mask
// of the rectangle's size filled with the grout colour; the mask then replaces the rectangle, and
// add shadow can give the tiles relief. Layouts: a grid of tiles, concentric rings of tiles around
// the rectangle's centre, or a grid with a disc of rings inside the inscribed circle. The corners'
// jitter continues the thread's generator sequence; everything runs on the calling thread through
// whole-image host operations (drawing, combining, add shadow's rows).
//
// Open points and extreme inputs:
// - The rectangle's limits (half width, half height, half diagonal) are measured as the effect
//   works on it, in orientation 1.
// - A grid step of 0 (tileWidth or tileHeight equal to groutWidth where the step is their
//   difference) is ERROR_INV_PARAMETER. A negative difference wraps as an unsigned step, as the
//   steps compute it: no tile fits and the rectangle becomes grout.
// - Layouts 3 .. 15 leave the image unchanged and answer SUCCESS.
// - The rings of layout 2 are centred on the rectangle to process, also though they are drawn on
//   a copy of the whole bitmap; a layout without any ring brings no disc back.
// - A ring's tile angle is (t + rest / n) / ri with rest / n in integers (the rest of the
//   circumference spread in whole pixels).
// - A tile colour read beyond the bitmap (ring corners past its edge) is that of the nearest
//   pixel; squares of the rectangle's size are formed in 64 bits.
// - With a shadow, the level ShadowParam2 is scaled to the bitmap's sample range (x257 at 16
//   bits), so deep bitmaps get the same look as 8-bit ones.
// - Writes go through the bitmap's region: pixels outside a region mask keep their values.
#include <algorithm>
#include <cmath>

#include "Common/TileMask.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.14159265;
constexpr double kTwoPi = 6.2831853;

enum Layout : uint32_t { kGrid = 0, kRings = 1, kGridWithDisc = 2 };

struct RomanArgs {
  uint32_t tileWidth, tileHeight, groutWidth, direction, level;
  COLORREF grout;
  uint32_t flags;
  uint32_t layout() const { return flags & 0x0F; }
  uint32_t shadow() const { return (flags >> 4) & 0x0F; }
};

// rnd(lo, n): rand() % n + lo, limited to lo .. n.
int32_t Rnd(int32_t lo, int32_t n) {
  const uint32_t v = static_cast<uint32_t>(fxrt::rand() % n + lo);
  return static_cast<int32_t>(std::min(v, static_cast<uint32_t>(n)));
}

// The grid: steps and tile counts along one axis of `size` pixels.
struct Axis {
  uint32_t step = 0, count = 0, offset = 0;
};

uint32_t GridStep(uint32_t tile, uint32_t grout, uint32_t size) {
  return tile < size / 2 - 15u ? tile + grout : tile - grout;
}

Axis GridAxis(uint32_t tile, uint32_t grout, uint32_t size) {
  Axis a;
  a.step = GridStep(tile, grout, size);
  a.count = size / a.step;
  uint32_t rest = size - a.step * a.count;
  if (rest > a.count && a.count != 0) {
    a.step += rest / a.count;
    rest %= a.count;
  }
  a.offset = rest / 2;
  return a;
}

// The mask procedure both layouts share: a grout-filled mask of the rectangle's size, tiles drawn
// by `draw`, the mask put into `target` at the rectangle, the shadow added.
template <class Draw>
int32_t WithMask(BitmapRecord* target, const RECT& rect, const RomanArgs& args, bool grayRows,
                 Draw&& draw) {
  const int32_t wr = rect.right - rect.left, hr = rect.bottom - rect.top;
  MaskBitmap mask;
  if (!mask.AllocateRecord()) return ERROR_NO_MEMORY;
  int32_t rc = mask.Init(wr, hr);
  if (rc != SUCCESS) return rc;
  {
    CallbackPause pause;
    COLORREF fill = args.grout;
    if (grayRows) {
      const uint32_t r = fill & 0xFF, g = (fill >> 8) & 0xFF, b = (fill >> 16) & 0xFF;
      const uint32_t v = (5 * g + 2 * r + b + 4) >> 3;
      fill = v | v << 8 | v << 16;
    }
    rc = HostAllocBitmapData(mask.get(), 1);
    if (rc == SUCCESS) rc = HostFillBitmap(mask.get(), fill);
    if (rc != SUCCESS) return rc;
  }
  rc = draw(mask.get());
  if (rc != SUCCESS) return rc;
  CallbackPause pause;
  rc = HostCombineBitmaps(target, rect.left, rect.top, wr, hr, mask.get(), 0, 0, HOST_COMBINE_COPY);
  if (rc == SUCCESS && args.shadow() != 0) {
    const uint32_t level = ShadowLevel(target, args.level);
    rc = Fx_AddShadowBitmap(target, args.direction, level, args.shadow() - 1);
  }
  HostFinishUpdate(mask.get());
  HostFinishUpdate(target);
  return rc;
}

// One tile: a polygon of the colour under `corner` of the image (mask coordinates).
int32_t DrawTile(HostDC* dc, const BitmapRecord* image, const RECT& rect, const POINT* corners,
                 const POINT& corner) {
  const COLORREF colour =
      HostGetPixelColor(image, static_cast<int32_t>(int64_t{rect.left} + corner.x),
                        static_cast<int32_t>(int64_t{rect.top} + corner.y));
  Selected pen(dc, HostCreatePen(HOST_PEN_SOLID, 1, colour));
  if (!pen) return ERROR_NO_MEMORY;
  Selected brush(dc, HostCreateBrush(colour));
  if (!brush) return ERROR_NO_MEMORY;
  return HostPolygon(dc, corners, 4);
}

int32_t GridTiles(BitmapRecord* target, BitmapRecord* image, const RECT& rect,
                  const RomanArgs& args, bool grayRows, int32_t first, int32_t last) {
  const uint32_t wr = static_cast<uint32_t>(rect.right - rect.left);
  const uint32_t hr = static_cast<uint32_t>(rect.bottom - rect.top);
  const Axis ax = GridAxis(args.tileWidth, args.groutWidth, wr);
  const Axis ay = GridAxis(args.tileHeight, args.groutWidth, hr);
  const int32_t j = static_cast<int32_t>(std::max<uint32_t>(args.groutWidth / 2, 1));
  AccessOwner access;
  int32_t rc = access.Open(image, 2);
  if (rc != SUCCESS) return rc;
  return WithMask(target, rect, args, grayRows, [&](BitmapRecord* mask) {
    const int64_t tiles = int64_t{ay.count} * ax.count;
    const RECT progress{0, 0, 1, static_cast<int32_t>(std::min<int64_t>(tiles, INT32_MAX))};
    int32_t rc = HostBeginRectWrite(access, first, last, &progress);
    if (rc != SUCCESS) return rc;
    DrawingContext dc(mask);
    if (!dc.get()) return ERROR_NO_MEMORY;
    for (uint32_t i = 0; i < ay.count; ++i)
      for (uint32_t k = 0; k < ax.count; ++k) {
        const int32_t x0 = static_cast<int32_t>(ax.offset + k * ax.step);
        const int32_t x1 = static_cast<int32_t>(ax.offset + (k + 1) * ax.step);
        const int32_t y0 = static_cast<int32_t>(ay.offset + i * ay.step);
        const int32_t y1 = static_cast<int32_t>(ay.offset + (i + 1) * ay.step);
        POINT p[4];
        p[0].x = x0 + Rnd(1, j), p[0].y = y0 + Rnd(1, j);
        p[1].x = x1 - Rnd(1, j), p[1].y = y0 + Rnd(1, j);
        p[2].x = x1 - Rnd(1, j), p[2].y = y1 - Rnd(1, j);
        p[3].x = x0 + Rnd(1, j), p[3].y = y1 - Rnd(1, j);
        rc = DrawTile(dc.get(), image, rect, p, p[0]);
        if (rc == SUCCESS) rc = ProgressStep(access, 1);
        if (rc != SUCCESS) return rc;
      }
    return SUCCESS;
  });
}

// The rings of tiles around the rectangle's centre. `inscribed` keeps them inside the inscribed
// circle; `disc` receives the bounding rectangle of the last ring (mask coordinates), empty
// without rings.
int32_t RingTiles(BitmapRecord* target, BitmapRecord* image, const RECT& rect,
                  const RomanArgs& args, bool grayRows, bool inscribed, int32_t first, int32_t last,
                  RECT* disc) {
  const int64_t wr = int64_t{rect.right} - rect.left, hr = int64_t{rect.bottom} - rect.top;
  const int32_t t = static_cast<int32_t>(args.tileWidth);
  const int32_t g = static_cast<int32_t>(std::max<uint32_t>(args.groutWidth, 2));
  const int32_t cx = static_cast<int32_t>(wr / 2), cy = static_cast<int32_t>(hr / 2);
  const int64_t radius =
      inscribed ? std::min(wr, hr) / 2
                : static_cast<int64_t>(std::sqrt(static_cast<double>(wr * wr + hr * hr))) / 2;
  const int32_t rings = static_cast<int32_t>(radius / (t + 2 * g));
  // The tiles of ring i: ri, ro and the tile count n (at least 1: c >= 6(t + g) > t + 2g).
  struct Ring {
    int32_t ri, ro, n, rest;
  };
  const auto ring = [&](int32_t i) {
    Ring r;
    r.ri = (i + 1) * t + (2 * i + 1) * g;
    r.ro = r.ri + t + g;
    const auto c = static_cast<int32_t>(kTwoPi * r.ri);
    r.n = c / (t + 2 * g);
    r.rest = c % (t + 2 * g);
    return r;
  };
  int64_t total = 0;
  for (int32_t i = 0; i < rings; ++i) total += ring(i).n;
  *disc = RECT{0, 0, 0, 0};
  if (rings > 0) {
    const int32_t ro = ring(rings - 1).ro;
    *disc = RECT{cx - ro - g, cy - ro - g, cx + ro + g, cy + ro + g};
  }
  AccessOwner access;
  int32_t rc = access.Open(image, 2);
  if (rc != SUCCESS) return rc;
  return WithMask(target, rect, args, grayRows, [&](BitmapRecord* mask) {
    const RECT progress{0, 0, 1, static_cast<int32_t>(std::min<int64_t>(total, INT32_MAX))};
    int32_t rc = HostBeginRectWrite(access, first, last, &progress);
    if (rc != SUCCESS) return rc;
    DrawingContext dc(mask);
    if (!dc.get()) return ERROR_NO_MEMORY;
    const auto corner = [&](double angle, int32_t r) {
      return POINT{static_cast<int32_t>(std::floor(cx + r * std::cos(angle))),
                   static_cast<int32_t>(std::floor(cy + r * std::sin(angle)))};
    };
    for (int32_t i = 0; i < rings; ++i) {
      const Ring r = ring(i);
      const double ri = r.ri;
      const double at = (t + r.rest / r.n) / ri, ag = g / ri;
      const double s = Rnd(0, 360) * kPi / 180.0;
      for (int32_t m = 0; m < r.n; ++m) {
        double a = s + m * at + (2 * m + 1) * ag, b = a + at;
        POINT q[4];
        a -= Rnd(0, g / 2) / ri;
        q[0] = corner(a, r.ri - Rnd(2, g));
        a -= Rnd(0, g / 2) / ri;
        q[1] = corner(a, r.ro - Rnd(2, g));
        b += Rnd(0, g / 2) / ri;
        q[2] = corner(b, r.ro - Rnd(2, g));
        b += Rnd(0, g / 2) / ri;
        q[3] = corner(b, r.ri - Rnd(2, g));
        rc = DrawTile(dc.get(), image, rect, q, q[3]);
        if (rc == SUCCESS) rc = ProgressStep(access, 1);
        if (rc != SUCCESS) return rc;
      }
    }
    return SUCCESS;
  });
}

// Layout 2: rings inside the inscribed circle on a copy of the bitmap, the grid on the bitmap,
// then the disc of rings brought back from the copy.
int32_t GridWithDisc(BitmapRecord* bitmap, const RECT& rect, const RomanArgs& args, bool grayRows) {
  MaskBitmap copy;  // a record the host fills, released with its pixels
  if (!copy.AllocateRecord()) return ERROR_NO_MEMORY;
  int32_t rc;
  {
    CallbackPause pause;
    rc = HostCopyBitmapRect(copy.get(), bitmap, BITMAP_STRUCT_SIZE, 0, 0, bitmap->Width,
                            bitmap->Height);
  }
  if (rc != SUCCESS) return rc;
  copy.Adopt();
  RECT disc;
  rc = RingTiles(copy.get(), bitmap, rect, args, grayRows, true, 0, 49, &disc);
  if (rc == SUCCESS) rc = GridTiles(bitmap, bitmap, rect, args, grayRows, 50, 100);
  if (rc != SUCCESS || disc.right <= disc.left) return rc;
  fxrt::OffsetRect(&disc, rect.left, rect.top);
  CallbackPause pause;
  rc = HostSetRegionRect(copy.get(), nullptr, &disc, 1);
  if (rc == SUCCESS)
    rc = HostCombineBitmaps(bitmap, disc.left, disc.top, disc.right - disc.left,
                            disc.bottom - disc.top, copy.get(), disc.left, disc.top,
                            HOST_COMBINE_COPY_SOURCE_REGION);
  HostFreeRegion(copy.get());
  return rc;
}

int32_t RomanDriver(BitmapRecord* bitmap, const RECT& rect, const RomanArgs& args) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const bool grayRows = !IsColorPixel(access.PixelStep());
  access.Close();
  RECT disc;
  switch (args.layout()) {
    case kGrid:
      return GridTiles(bitmap, bitmap, rect, args, grayRows, 0, 100);
    case kRings:
      return RingTiles(bitmap, bitmap, rect, args, grayRows, false, 0, 100, &disc);
    case kGridWithDisc:
      return GridWithDisc(bitmap, rect, args, grayRows);
    default:
      return SUCCESS;
  }
}

const FxFlagValue kLayouts[] = {
    {"grid", 0x0, "a grid of tiles"},
    {"rings", 0x1, "rings of tiles around the centre"},
    {"grid-disc", 0x2, "a grid with a disc of rings in the middle"},
};
const FxFlagValue kShadows[] = {
    {"none", 0x00, "no shadow"},
    {"channels", 0x10, "add shadow, each channel by its own edges"},
    {"gray", 0x20, "add shadow by the edges of the gray image"},
};
const FxFlagField kFlagFields[] = {
    FlagField("layout", 0x0F, kLayouts, "how the tiles are laid; 3 .. 15 lay none"),
    FlagField("shadow", 0xF0, kShadows, "relief added to the tiles"),
};

const FxParamDesc kRomanParams[] = {
    UIntParam("tileWidth", 3, 2, kAnyUInt32Max,
              "tile width in pixels, 2 .. half the rectangle's width (rings: 2 .. a quarter of "
              "its diagonal)"),
    UIntParam("tileHeight", 3, 2, kAnyUInt32Max,
              "grid tile height in pixels, 2 .. half the rectangle's height"),
    UIntParam("groutWidth", 1, 1, 15, "width of the grout between tiles"),
    UIntParam("ShadowParam1", 7, 0, kAnyUInt32Max,
              "with a shadow: the side the light comes from, 0 .. 7 (7 top-left)"),
    UIntParam("ShadowParam2", 0, 0, kAnyUInt32Max,
              "with a shadow: samples below this level (0 .. 255) stay unshaded"),
    ColorParam("groutColor", 0x404040, "colour of the grout"),
    FlagsParam("flags", 0x00, 0, 34,
               "bits 0-3 layout: 0 grid, 1 rings, 2 grid with a disc of rings, 3 .. 15 none; "
               "bits 4-7 shadow: 0 none, 1 per channel, 2 from the gray image",
               kFlagFields),
};

const FxPreset kRomanPresets[] = {
    {"roman-floor",
     "tileWidth=12 tileHeight=12 groutWidth=3 groutColor=#d8d0c0 layout=grid shadow=channels "
     "ShadowParam1=7"},
    {"rings",
     "tileWidth=14 groutWidth=3 groutColor=#303030 layout=rings shadow=gray ShadowParam1=7"},
    {"medallion",
     "tileWidth=10 tileHeight=10 groutWidth=2 groutColor=#e0e0e0 layout=grid-disc shadow=none"},
};

}  // namespace

extern const FxEffectDesc kRomanMosaicEffect = {
    "roman-mosaic",
    "Fx_RomanMosaicBitmap",
    FX_FAMILY_ARTISTIC,
    "Rebuilds the image from small jittered tiles in grout, in a grid, rings or both",
    kRomanParams,
    CountOf(kRomanParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_RomanMosaicBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]), ArgU32(v[3]),
                                  ArgU32(v[4]), ArgU32(v[5]), ArgU32(v[6]));
    },
    kRomanPresets,
    CountOf(kRomanPresets),
    FX_TRAIT_RANDOM | FX_TRAIT_PROGRESS | FX_TRAIT_WHOLE_IMAGE | FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_RomanMosaicBitmap(BitmapRecord* bitmap, uint32_t tileWidth, uint32_t tileHeight,
                             uint32_t groutWidth, uint32_t ShadowParam1, uint32_t ShadowParam2,
                             uint32_t groutColor, uint32_t flags) {
  using namespace fx;
  if (!bitmap) return ERROR_NO_BITMAP;
  if (const int32_t rc = fx::CheckRecordLayout(bitmap); rc != SUCCESS) return rc;
  OrientationGuard orientation(bitmap);
  RECT rect;
  HostGetProcessRect(bitmap, 0, &rect);
  const int64_t wr = int64_t{rect.right} - rect.left, hr = int64_t{rect.bottom} - rect.top;
  const int64_t hw = wr / 2, hh = hr / 2;
  const int64_t hd =
      static_cast<int64_t>(std::sqrt(static_cast<double>(hw * hw + hh * hh)) + 1.0) / 2;
  const RomanArgs args{tileWidth,    tileHeight, groutWidth, ShadowParam1,
                       ShadowParam2, groutColor, flags};
  if (flags >= 35) return ERROR_INV_PARAMETER;
  const uint32_t layout = args.layout();
  const auto within = [](uint32_t v, int64_t hi) { return v >= 2 && v <= hi; };
  if (layout == kGrid && (!within(tileWidth, hw) || !within(tileHeight, hh)))
    return ERROR_INV_PARAMETER;
  if ((layout == kRings || layout == kGridWithDisc) && !within(tileWidth, hd))
    return ERROR_INV_PARAMETER;
  if (layout == kGridWithDisc && !within(tileHeight, hh)) return ERROR_INV_PARAMETER;
  if (groutWidth < 1 || groutWidth > 15) return ERROR_INV_PARAMETER;
  if (args.shadow() != 0) {
    if (ShadowParam1 >= 8 || ShadowParam2 >= 256) return ERROR_INV_PARAMETER;
    // Add shadow refuses such a bitmap: refused here, before any pixel changes.
    if (bitmap->Flags & FLAG_UNSUPPORTED) return ERROR_UNSUPPORTED_FLAG;
  }
  if ((layout == kGrid || layout == kGridWithDisc) &&
      (GridStep(tileWidth, groutWidth, static_cast<uint32_t>(wr)) == 0 ||
       GridStep(tileHeight, groutWidth, static_cast<uint32_t>(hr)) == 0))
    return ERROR_INV_PARAMETER;
  return RomanDriver(bitmap, rect, args);
}
