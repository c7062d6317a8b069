// Drawing on mask bitmaps: a drawing context writing straight into the stored pixels of an 8-bit
// gray or 24/32-bit colour bitmap, solid pens and brushes, Bézier polylines and filled polygons,
// pixel-exact and without anti-aliasing; and the colour of one pixel. The definitions are in
// host/Host.h.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "host/Host.h"
#include "host/HostInternal.h"
#include "host/RowEngine.h"

using host::PixelFormat;

namespace {

constexpr int32_t kMaxPenWidth = 1024;
constexpr int64_t kMaxCoordinate = int64_t{1} << 28;
constexpr int32_t kMaxChords = 4096;

enum class ObjectKind : int32_t { Pen = 1, Brush = 2 };

}  // namespace

struct HostDrawObject {
  ObjectKind kind;
  int32_t width;  // pens
  COLORREF colour;
  int32_t selections;  // contexts it is selected into
  bool stock;          // part of a context, never freed on its own
};

struct HostDC {
  BitmapRecord* bitmap;
  host::ViewMap map;
  int32_t width, height;
  int32_t bytes;  // per stored pixel: 1 gray, 3 or 4 colour
  bool rgb;       // stored colour is red first
  HostDrawObject* pen;
  HostDrawObject* brush;
  HostDrawObject stockPen, stockBrush;
};

namespace {

// The stored bytes of a colour on the context's format.
struct Ink {
  uint8_t v[3];
};

Ink InkFor(const HostDC& dc, COLORREF c) {
  const uint32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
  if (dc.bytes == 1) return Ink{{static_cast<uint8_t>((b + 5 * g + 2 * r + 4) / 8), 0, 0}};
  if (dc.rgb) return Ink{{uint8_t(r), uint8_t(g), uint8_t(b)}};
  return Ink{{uint8_t(b), uint8_t(g), uint8_t(r)}};
}

// Paints view pixels x0 .. x1 (inclusive) of view row y, clipped to the picture.
void Span(const HostDC& dc, int64_t y, int64_t x0, int64_t x1, const Ink& ink) {
  if (y < 0 || y >= dc.height) return;
  x0 = std::max<int64_t>(x0, 0);
  x1 = std::min<int64_t>(x1, dc.width - 1);
  if (x0 > x1) return;
  const host::ViewMap& m = dc.map;
  const int64_t stride = dc.bitmap->BytesPerLine;
  // The stored pixel of view pixel x0, and the step to the next view pixel along the row.
  const int64_t sx = m.sx0 + x0 * m.xx + y * m.yx, sy = m.sy0 + x0 * m.xy + y * m.yy;
  uint8_t* p = dc.bitmap->Data + sy * stride + sx * dc.bytes;
  const int64_t next = m.xx * dc.bytes + m.xy * stride;
  const int64_t count = x1 - x0 + 1;
  if (dc.bytes == 1) {
    if (next == 1) {
      std::memset(p, ink.v[0], static_cast<size_t>(count));
      return;
    }
    if (next == -1) {
      std::memset(p - (count - 1), ink.v[0], static_cast<size_t>(count));
      return;
    }
    for (int64_t i = 0; i < count; ++i, p += next) p[0] = ink.v[0];
    return;
  }
  for (int64_t i = 0; i < count; ++i, p += next) p[0] = ink.v[0], p[1] = ink.v[1], p[2] = ink.v[2];
}

// The pen's footprint: for each row dy in [lo, hi], the columns [left[dy - lo], right[dy - lo]]
// (left > right for an empty row).
struct Stamp {
  int32_t lo = 0, hi = 0;
  int32_t left[kMaxPenWidth], right[kMaxPenWidth];

  explicit Stamp(int32_t w) {
    lo = -((w - 1) / 2);
    hi = w / 2;
    const int64_t e = hi + lo, w2 = int64_t{w} * w;  // e = w div 2 - (w - 1) div 2
    for (int32_t dy = lo; dy <= hi; ++dy) {
      int32_t l = 1, r = 0;
      for (int32_t dx = lo; dx <= hi; ++dx) {
        const int64_t a = 2 * int64_t{dx} - e, b = 2 * int64_t{dy} - e;
        if (a * a + b * b > w2) continue;
        if (l > r) l = dx;
        r = dx;
      }
      left[dy - lo] = l, right[dy - lo] = r;
    }
  }
};

// Paints pen footprints along thin lines, on the view rows top .. bottom - 1 only (a band of the
// picture, or all of it). Each footprint paints only what the previous one left unpainted on each
// row: the union is the same, every pixel being the same colour.
class PenPainter {
 public:
  PenPainter(const HostDC& dc, const HostDrawObject& pen, int64_t top, int64_t bottom)
      : dc_(dc),
        stamp_(std::max(pen.width, 1)),
        ink_(InkFor(dc, pen.colour)),
        top_(top),
        bottom_(bottom) {
    reach_ = std::max(-stamp_.lo, stamp_.hi) + 1;
    thin_ = stamp_.lo == 0 && stamp_.hi == 0;
  }
  PenPainter(const HostDC& dc, const HostDrawObject& pen) : PenPainter(dc, pen, 0, dc.height) {}

  // No footprint of a point whose row lies outside [lo, hi] touches the band.
  bool Misses(int64_t lo, int64_t hi) const { return hi + reach_ < top_ || lo - reach_ >= bottom_; }

  void At(int64_t px, int64_t py) {
    if (hasLast_ && px == lastX_ && py == lastY_) return;
    for (int32_t dy = stamp_.lo; dy <= stamp_.hi; ++dy) {
      const int32_t l = stamp_.left[dy - stamp_.lo], r = stamp_.right[dy - stamp_.lo];
      if (l > r) continue;
      const int64_t y = py + dy, a = px + l, b = px + r;
      if (y < top_ || y >= bottom_) continue;
      const int64_t ody = y - lastY_;
      if (!hasLast_ || ody < stamp_.lo || ody > stamp_.hi ||
          stamp_.left[ody - stamp_.lo] > stamp_.right[ody - stamp_.lo]) {
        Span(dc_, y, a, b, ink_);
        continue;
      }
      const int64_t c = lastX_ + stamp_.left[ody - stamp_.lo];
      const int64_t d = lastX_ + stamp_.right[ody - stamp_.lo];
      if (a < c) Span(dc_, y, a, std::min(b, c - 1), ink_);
      if (b > d) Span(dc_, y, std::max(a, d + 1), b, ink_);
    }
    hasLast_ = true, lastX_ = px, lastY_ = py;
  }

  // The thin line from (ax, ay) to (bx, by), only the steps whose footprint can reach the picture.
  void Line(int64_t ax, int64_t ay, int64_t bx, int64_t by) {
    const int64_t dx = bx - ax, dy = by - ay;
    const bool xMajor = std::llabs(dx) >= std::llabs(dy);
    const int64_t major = xMajor ? std::llabs(dx) : std::llabs(dy);
    const int64_t minor = xMajor ? std::llabs(dy) : std::llabs(dx);
    const int64_t majorSign = (xMajor ? dx : dy) < 0 ? -1 : 1;
    const int64_t minorSign = (xMajor ? dy : dx) < 0 ? -1 : 1;
    const int64_t start = xMajor ? ax : ay, other = xMajor ? ay : ax;
    if (xMajor && Misses(std::min(ay, by), std::max(ay, by))) return;
    // Steps i with start + majorSign * i in [low, high]: the columns or band rows a footprint
    // can reach.
    const int64_t low = xMajor ? -reach_ : top_ - reach_;
    const int64_t high = xMajor ? dc_.width - 1 + reach_ : bottom_ - 1 + reach_;
    int64_t first = majorSign > 0 ? low - start : start - high;
    int64_t last = majorSign > 0 ? high - start : start - low;
    first = std::max<int64_t>(first, 0);
    last = std::min(last, major);
    const auto minorAt = [&](int64_t i) {
      return major ? other + minorSign * ((2 * i * minor + major) / (2 * major)) : other;
    };
    if (thin_ && first <= last) {
      // A one-pixel footprint paints the steps themselves: a run of steps on one row at a time.
      for (int64_t i = first; i <= last;) {
        const int64_t o = minorAt(i);
        int64_t j = i;
        if (xMajor)
          while (j < last && minorAt(j + 1) == o) ++j;
        const int64_t a = start + majorSign * i, b = start + majorSign * j;
        if (xMajor) {
          if (o >= top_ && o < bottom_) Span(dc_, o, std::min(a, b), std::max(a, b), ink_);
        } else if (a >= top_ && a < bottom_) {
          Span(dc_, a, o, o, ink_);
        }
        i = j + 1;
      }
      return;
    }
    for (int64_t i = first; i <= last; ++i) {
      const int64_t m = start + majorSign * i, o = minorAt(i);
      if (xMajor)
        At(m, o);
      else
        At(o, m);
    }
  }

 private:
  const HostDC& dc_;
  Stamp stamp_;
  Ink ink_;
  int64_t top_, bottom_;
  int32_t reach_ = 1;
  bool thin_ = false;  // a one-pixel footprint: Line paints runs and never calls At
  bool hasLast_ = false;
  int64_t lastX_ = 0, lastY_ = 0;
};

bool PointsInRange(const POINT* points, uint32_t count) {
  for (uint32_t i = 0; i < count; ++i)
    if (std::llabs(points[i].x) > kMaxCoordinate || std::llabs(points[i].y) > kMaxCoordinate)
      return false;
  return true;
}

// ceil(a / b) for b > 0.
int64_t CeilDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return q + ((a % b != 0) && (a > 0));
}

HostDrawObject* NewObject(ObjectKind kind, int32_t width, COLORREF colour) {
  auto* o = static_cast<HostDrawObject*>(FX_ALLOC(1, sizeof(HostDrawObject)));
  if (!o) return nullptr;
  *o = HostDrawObject{kind, width, colour, 0, false};
  return o;
}

uint8_t To8(uint32_t v16) {
  return static_cast<uint8_t>((v16 + 128) / 257);
}

uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

}  // namespace

HostDC* HostCreateBitmapDC(BitmapRecord* bitmap) {
  if (host::ValidateForAccess(bitmap) != SUCCESS) return nullptr;
  const PixelFormat f = host::FormatOf(bitmap->BitsPerPixel, bitmap->Order);
  if (f != PixelFormat::Gray8 && f != PixelFormat::Rgb24 && f != PixelFormat::Rgb32) return nullptr;
  auto* dc = static_cast<HostDC*>(FX_ALLOC(1, sizeof(HostDC)));
  if (!dc) return nullptr;
  dc->bitmap = bitmap;
  dc->map = host::MakeViewMap(bitmap->Orientation, bitmap->StoredWidth, bitmap->StoredHeight);
  dc->width = bitmap->Width;
  dc->height = bitmap->Height;
  dc->bytes = f == PixelFormat::Gray8 ? 1 : (f == PixelFormat::Rgb24 ? 3 : 4);
  dc->rgb = bitmap->Order == ORDER_RGB;
  dc->stockPen = HostDrawObject{ObjectKind::Pen, 1, 0x000000, 1, true};
  dc->stockBrush = HostDrawObject{ObjectKind::Brush, 0, 0xFFFFFF, 1, true};
  dc->pen = &dc->stockPen;
  dc->brush = &dc->stockBrush;
  return dc;
}

void HostDeleteBitmapDC(HostDC* dc) {
  if (!dc) return;
  --dc->pen->selections;
  --dc->brush->selections;
  FX_FREE(dc);
}

HostDrawObject* HostCreatePen(int32_t style, int32_t width, COLORREF colour) {
  if (style != HOST_PEN_SOLID || width > kMaxPenWidth) return nullptr;
  return NewObject(ObjectKind::Pen, std::max(width, 1), colour);
}

HostDrawObject* HostCreateBrush(COLORREF colour) {
  return NewObject(ObjectKind::Brush, 0, colour);
}

HostDrawObject* HostSelectObject(HostDC* dc, HostDrawObject* object) {
  if (!dc || !object) return nullptr;
  HostDrawObject*& slot = object->kind == ObjectKind::Pen ? dc->pen : dc->brush;
  HostDrawObject* previous = slot;
  --previous->selections;
  ++object->selections;
  slot = object;
  return previous;
}

int32_t HostDeleteObject(HostDrawObject* object) {
  if (!object) return ERROR_HOST_BAD_ARGUMENT;
  if (object->stock) return SUCCESS;
  if (object->selections > 0) return ERROR_HOST_BAD_ARGUMENT;
  FX_FREE(object);
  return SUCCESS;
}

namespace {

bool IsBezierList(const POINT* points, uint32_t count) {
  return points && count != 0 && (count - 1) % 3 == 0 && PointsInRange(points, count);
}

// Flattens the Bézier polyline into chords and paints them. A segment lies within the hull of
// its four points, and its chords' ends within half a pixel of it: a segment whose points all
// lie a pixel beyond the band's reach is skipped.
void PaintBeziers(PenPainter& pen, const POINT* points, uint32_t count) {
  for (uint32_t j = 0; j + 3 < count; j += 3) {
    const POINT* p = points + j;
    const int64_t lo = std::min({p[0].y, p[1].y, p[2].y, p[3].y});
    const int64_t hi = std::max({p[0].y, p[1].y, p[2].y, p[3].y});
    if (pen.Misses(lo - 1, hi + 1)) continue;
    int64_t legs = 0;
    for (int32_t k = 0; k < 3; ++k)
      legs += std::max(std::llabs(int64_t{p[k + 1].x} - p[k].x),
                       std::llabs(int64_t{p[k + 1].y} - p[k].y));
    const int64_t n = std::clamp<int64_t>((legs + 1) / 2, 1, kMaxChords);
    int64_t px = p[0].x, py = p[0].y;
    for (int64_t i = 1; i <= n; ++i) {
      const double t = static_cast<double>(i) / static_cast<double>(n), u = 1.0 - t;
      const double bx =
          u * u * u * p[0].x + 3 * u * u * t * p[1].x + 3 * u * t * t * p[2].x + t * t * t * p[3].x;
      const double by =
          u * u * u * p[0].y + 3 * u * u * t * p[1].y + 3 * u * t * t * p[2].y + t * t * t * p[3].y;
      const int64_t qx = static_cast<int64_t>(std::floor(bx + 0.5));
      const int64_t qy = static_cast<int64_t>(std::floor(by + 0.5));
      pen.Line(px, py, qx, qy);
      px = qx, py = qy;
    }
  }
}

}  // namespace

int32_t HostPolyBezier(HostDC* dc, const POINT* points, uint32_t count) {
  if (!dc || !IsBezierList(points, count)) return ERROR_HOST_BAD_ARGUMENT;
  PenPainter pen(*dc, *dc->pen);
  PaintBeziers(pen, points, count);
  return SUCCESS;
}

int32_t HostPolyPolyBezier(HostDC* dc, const POINT* points, const uint32_t* counts,
                           uint32_t lists) {
  if (!dc || (lists != 0 && !counts)) return ERROR_HOST_BAD_ARGUMENT;
  size_t total = 0;
  for (uint32_t i = 0; i < lists; ++i) {
    if (!IsBezierList(points ? points + total : nullptr, counts[i])) return ERROR_HOST_BAD_ARGUMENT;
    total += counts[i];
  }
  // Bands of view rows, each painted by one thread with every list clipped to it: the pixels
  // are the union of the same footprints, and no two threads write the same one.
  const int32_t threads = host::ThreadCount();
  const int32_t bands = threads > 1 ? std::min(4 * threads, std::max(dc->height, 1)) : 1;
  const int64_t rows = (int64_t{dc->height} + bands - 1) / bands;
  host::ParallelFor(bands, int64_t{dc->width} * rows, [&](int32_t band) {
    PenPainter pen(*dc, *dc->pen, band * rows, std::min<int64_t>((band + 1) * rows, dc->height));
    size_t at = 0;
    for (uint32_t i = 0; i < lists; ++i) {
      PaintBeziers(pen, points + at, counts[i]);
      at += counts[i];
    }
  });
  return SUCCESS;
}

int32_t HostPolygon(HostDC* dc, const POINT* points, uint32_t count) {
  if (!dc || !points || count < 2 || !PointsInRange(points, count)) return ERROR_HOST_BAD_ARGUMENT;
  // Crossings of one scanline: at most one per edge.
  int64_t local[64];
  int64_t* cross = local;
  if (count > 64) {
    cross = static_cast<int64_t*>(FX_ALLOC(count, sizeof(int64_t)));
    if (!cross) return ERROR_NO_MEMORY;
  }
  int64_t top = points[0].y, bottom = points[0].y;
  for (uint32_t i = 1; i < count; ++i)
    top = std::min<int64_t>(top, points[i].y), bottom = std::max<int64_t>(bottom, points[i].y);
  const Ink fill = InkFor(*dc, dc->brush->colour);
  for (int64_t y = std::max<int64_t>(top, 0); y < bottom && y < dc->height; ++y) {
    uint32_t n = 0;
    for (uint32_t i = 0; i < count; ++i) {
      const POINT& a = points[i];
      const POINT& b = points[i + 1 < count ? i + 1 : 0];
      const POINT& lo = a.y < b.y ? a : b;
      const POINT& hi = a.y < b.y ? b : a;
      if (lo.y == hi.y || y < lo.y || y >= hi.y) continue;
      // The first centre at or right of X = lo.x + (y - lo.y)(hi.x - lo.x) / (hi.y - lo.y).
      const int64_t dy = int64_t{hi.y} - lo.y;
      cross[n++] = CeilDiv(int64_t{lo.x} * dy + (y - lo.y) * (int64_t{hi.x} - lo.x), dy);
    }
    std::sort(cross, cross + n);
    for (uint32_t k = 0; k + 1 < n; k += 2) Span(*dc, y, cross[k], cross[k + 1] - 1, fill);
  }
  if (cross != local) FX_FREE(cross);
  PenPainter pen(*dc, *dc->pen);
  for (uint32_t i = 0; i < count; ++i) {
    const POINT& a = points[i];
    const POINT& b = points[i + 1 < count ? i + 1 : 0];
    pen.Line(a.x, a.y, b.x, b.y);
  }
  return SUCCESS;
}

COLORREF HostGetPixelColor(const BitmapRecord* bitmap, int32_t x, int32_t y) {
  if (host::ValidateForAccess(bitmap) != SUCCESS) return 0xFFFFFFFFu;
  x = std::clamp(x, 0, bitmap->Width - 1);
  y = std::clamp(y, 0, bitmap->Height - 1);
  const host::ViewMap m =
      host::MakeViewMap(bitmap->Orientation, bitmap->StoredWidth, bitmap->StoredHeight);
  const int64_t sx = m.sx0 + int64_t{x} * m.xx + int64_t{y} * m.yx;
  const int64_t sy = m.sy0 + int64_t{x} * m.xy + int64_t{y} * m.yy;
  const uint8_t* row = bitmap->Data + sy * bitmap->BytesPerLine;
  const PixelFormat f = host::FormatOf(bitmap->BitsPerPixel, bitmap->Order);
  const bool rgb = bitmap->Order == ORDER_RGB;
  uint32_t r = 0, g = 0, b = 0;
  switch (f) {
    case PixelFormat::Pal1:
    case PixelFormat::Pal4:
    case PixelFormat::Pal8: {
      const uint32_t index = f == PixelFormat::Pal1 ? (row[sx >> 3] >> (7 - (sx & 7))) & 1
                             : f == PixelFormat::Pal4
                                 ? ((sx & 1) ? row[sx >> 1] & 0x0F : row[sx >> 1] >> 4)
                                 : row[sx];
      return index < bitmap->PaletteCount ? bitmap->Palette[index] & 0xFFFFFF : 0;
    }
    case PixelFormat::Gray8:
      r = g = b = row[sx];
      break;
    case PixelFormat::Gray12: {
      const uint32_t v = Load16(row + 2 * sx) & 0x0FFF;
      r = g = b = To8(v << 4 | v >> 8);
      break;
    }
    case PixelFormat::Gray16:
      r = g = b = To8(Load16(row + 2 * sx));
      break;
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32: {
      const uint8_t* p = row + sx * (f == PixelFormat::Rgb24 ? 3 : 4);
      b = p[rgb ? 2 : 0], g = p[1], r = p[rgb ? 0 : 2];
      break;
    }
    case PixelFormat::Rgb48:
    case PixelFormat::Rgb64: {
      const uint8_t* p = row + sx * (f == PixelFormat::Rgb48 ? 6 : 8);
      b = To8(Load16(p + (rgb ? 4 : 0))), g = To8(Load16(p + 2)),
      r = To8(Load16(p + (rgb ? 0 : 4)));
      break;
    }
    default:
      return 0xFFFFFFFFu;
  }
  return r | g << 8 | b << 16;
}
