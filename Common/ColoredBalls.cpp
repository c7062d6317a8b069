// Colored balls: scatters lit balls over the rectangle. Each ball mixes the pixel under its random
// centre with a random palette entry at a random brightness (modulated or blended), is stamped
// with the pointillist's anti-aliased disc (optionally depth-tested against the balls before it)
// and is then lit: a shading mask that models a light above the image plane, at `lightAngle`
// around the ball, blends every ball pixel toward the highlight colour. Radii vary at random
// around `ballRadius`. The canvas is the image itself or a painted background: a plain colour or
// one of four cosine gradients (along x, along y, circular, elliptical) between two colours. The
// generator is not seeded here: the draws continue the thread's sequence. The bitmap is processed
// in its current orientation.
//
// The balls are drawn on the calling thread, their colours and masks made there; the canvas rows
// take them in parallel, in draw order (Pointillist.h). A radius slot's masks are built the first
// time a ball uses it and kept while their memory stays below a budget (beyond it the chunk is
// painted and the masks are built afresh as balls need them).
//
// Extreme inputs and open points:
// - Refused with ERROR_INV_PARAMETER, besides the checks of the effect: a largest radius
//   ballRadius + ballRadius × radiusVariation div 100 of 32768 or more (a mask of (2r + 1)²
//   entries no longer fits 32 bits); a paletteCount of 0 when balls are to be painted; a
//   frequency below -100 (the gradient frequency (frequency + 100) div 100 is an unsigned 32-bit
//   quotient and would wrap); more balls than make ballCount × (the largest ball's mask window
//   within the rectangle) exceed 4000 × the rectangle's pixels (every ball builds or reuses its
//   masks over that window and stamps within it: the limit bounds the work of a call to a few
//   thousand mask points per pixel, also for tiny pictures and very varied radii).
// - Colours (palette, highlight, background) scale by 257 exactly when the working samples are 16
//   bits, so on 8-bit gray bitmaps every level indexes the 256-row product table; gray pixels take
//   one level, (5·green + 2·red + blue + 4) >> 3. Four-sample pixels are painted in their first
//   three samples and keep the fourth.
// - The shading value is limited to the sample maximum (rounding can lift the normalised dot
//   product a hair above 1) and is 0 where the light would coincide with the surface point.
// - Progress: the ball phase's value (i × 70) div (max(ballCount, 2) - 1) + 20 is capped at 90,
//   where the write phase starts (it would pass 90 for small counts); one-row rectangles report no
//   background or reading steps (no division by h - 1 = 0); the canvas is written through a write
//   preparation (its region variant keeps every pixel outside the region), reporting 90 .. 100.
// - An empty rectangle answers ERROR_EMPTY_RECT (centres are drawn modulo its sides). Slots from
//   32768 on are never drawn (rand() gives 15 bits); draws of a radius-0 slot are dropped and
//   drawn again.
// - The gradients take f = (frequency + 100) div 100, the integer quotient of the unsigned 32-bit
//   sum: frequencies within the same hundred give the same gradient.
#include <algorithm>
#include <cmath>

#include "Common/Pointillist.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;
constexpr uint32_t kModulate = 0x1000, kBlend = 0x2000;
constexpr uint32_t kImageCanvas = 0x100, kPaintedCanvas = 0x200;
constexpr uint32_t kFlat = 0x10, kShaded = 0x20;
// The balls may lay at most this many mask windows of the largest ball on every pixel.
constexpr int64_t kMaxWindowsPerPixel = 4000;
constexpr size_t kMaskBudget = size_t{64} << 20;

// A radius slot: its masks (coverage K, height E, shading S) when built.
struct Slot {
  MaskShape shape;
  uint8_t* block = nullptr;  // K (size bytes), E (size bytes), S (size 16-bit values)
  const uint8_t* k() const { return block; }
  const uint8_t* e() const { return block + shape.size(); }
  const uint16_t* s() const { return reinterpret_cast<const uint16_t*>(block + 2 * shape.size()); }
  static size_t Bytes(const MaskShape& m) { return 4 * m.size(); }
};

// Shading S: the light at distance L = r + r div 2 from the centre, 45 degrees above the image
// plane at azimuth theta; S = M × (v · n) / |v| (n the unit normal, v the way to the light) where
// the ball's surface stands over the pixel, else 0.
void BuildShadingMask(const MaskShape& m, const uint8_t* k, int32_t lightAngle, uint32_t max,
                      uint16_t* s) {
  const int64_t r = m.r, r2 = r * r;
  const double e = 45 * kPi / 180, theta = lightAngle * kPi / 18000;
  const double l = static_cast<double>(r + r / 2);
  const double lz = l * std::cos(e), lx = l * std::sin(e) * std::cos(theta),
               ly = l * std::sin(e) * std::sin(theta);
  const double rr = static_cast<double>(r);
  for (int32_t dy = -m.hy; dy <= m.hy; ++dy)
    for (int32_t dx = -m.hx; dx <= m.hx; ++dx) {
      const size_t at = m.at(dx, dy);
      const int64_t q = r2 - int64_t{dx} * dx - int64_t{dy} * dy;
      s[at] = 0;
      if (k[at] == 0 || q <= 0) continue;
      const double z = std::sqrt(static_cast<double>(q));
      const double vx = lx - dx, vy = ly - dy, vz = lz - z;
      const double len = std::sqrt(vx * vx + vy * vy + vz * vz);
      if (!(len > 0)) continue;
      const double dot = vx * (dx / rr) + vy * (dy / rr) + vz * (z / rr);
      const double v = std::max(0.0, max * dot / len);
      s[at] = static_cast<uint16_t>(std::min(v, static_cast<double>(max)));
    }
}

// The slots rmin .. rmax and their masks, built on demand within the memory budget.
class Slots {
 public:
  ~Slots() { Evict(); }
  int32_t Allocate(uint32_t rmin, uint32_t count) {
    rmin_ = rmin;
    count_ = count;
    return slots_.AllocateCleared(count) ? SUCCESS : ERROR_NO_MEMORY;
  }
  uint32_t radius(uint32_t k) const { return rmin_ + k; }
  const Slot& operator[](uint32_t k) const { return slots_[k]; }
  bool built(uint32_t k) const { return slots_[k].block != nullptr; }
  // Whether building slot k fits the budget beside the masks already built.
  bool Fits(const MaskShape& m) const {
    return used_ == 0 || used_ + Slot::Bytes(m) <= kMaskBudget;
  }
  int32_t Build(uint32_t k, const MaskShape& m, int32_t lightAngle, uint32_t max) {
    const size_t bytes = Slot::Bytes(m);
    if (bytes > UINT32_MAX) return ERROR_NO_MEMORY;
    Slot& slot = slots_[k];
    slot.shape = m;
    slot.block = static_cast<uint8_t*>(FX_ALLOC(static_cast<uint32_t>(bytes), 1));
    if (!slot.block) return ERROR_NO_MEMORY;
    HostMemSet(slot.block, 0, bytes);
    uint8_t* base = slot.block;
    BuildCoverageMask(m, base);
    BuildHeightMask(m, base, base + m.size());
    BuildShadingMask(m, base, lightAngle, max, reinterpret_cast<uint16_t*>(base + 2 * m.size()));
    used_ += bytes;
    return SUCCESS;
  }
  void Evict() {
    for (uint32_t k = 0; k < count_ && slots_; ++k)
      if (slots_[k].block) FX_FREE(slots_[k].block), slots_[k].block = nullptr;
    used_ = 0;
  }

 private:
  HostBlock<Slot> slots_;
  uint32_t rmin_ = 0, count_ = 0;
  size_t used_ = 0;
};

struct Ball {
  int32_t x, y;
  uint32_t slot;
  uint16_t u[3];
};

struct BallsJob {
  int32_t ballCount, lightAngle, frequency;
  uint32_t ballRadius, radiusVariation;
  COLORREF highlight, back1, back2;
  const COLORREF* palette;
  uint32_t paletteCount, brightness, brightnessVariation, flags;
};

// The highlight blends toward colour h by t / M.
struct Highlight8 {
  const uint8_t* table;
  uint8_t operator()(uint32_t h, uint32_t s, uint32_t t) const {
    return static_cast<uint8_t>(
        std::min<uint32_t>(table[h * 256 + t] + table[s * 256 + 255 - t], 255));
  }
};
struct Highlight16 {
  uint16_t operator()(uint32_t h, uint32_t s, uint32_t t) const {
    // h·t + s·(65535 - t) <= 65535², so 32 bits hold the sum exactly.
    return static_cast<uint16_t>(std::min<uint32_t>((h * t + s * (65535 - t)) / 65535, 65535));
  }
};

// Ball `b`'s row y onto canvas row `row` (pixel 0 at the rectangle's left) and its heights.
template <class T, int32_t C, bool Shaded, class Blend, class Light>
void StampBallRow(const Ball& b, int32_t y, const Slot& slot, int32_t w, int32_t step, T* row,
                  uint8_t* heights, const DotColor& highlight, const Blend& blend,
                  const Light& light) {
  const MaskShape& m = slot.shape;
  const int32_t dy = y - b.y;
  if (dy < -m.hy || dy > m.hy) return;
  const int32_t x0 = std::max(0, b.x - m.hx), x1 = std::min(w - 1, b.x + m.hx);
  const size_t base = m.at(0, dy) - size_t(b.x);
  const uint8_t* k = slot.k();
  const uint8_t* e = slot.e();
  const uint16_t* s = slot.s();
  for (int32_t xx = x0; xx <= x1; ++xx) {
    const uint32_t a = k[base + xx];
    if (a == 0) continue;
    T* p = row + int64_t{xx} * step;
    const uint8_t height = e[base + xx];
    if (!Shaded || height >= heights[xx]) {
      heights[xx] = xx == b.x && dy == 0 ? 255 : height;
      if (a == 255) {  // full coverage: both blends give the ball's colour itself
        for (int32_t c = 0; c < C; ++c) p[c] = static_cast<T>(b.u[c]);
      } else {
        for (int32_t c = 0; c < C; ++c) p[c] = blend(b.u[c], p[c], a);
      }
    }
    const uint32_t t = s[base + xx];
    for (int32_t c = 0; c < C; ++c) p[c] = light(highlight.c[c], p[c], t);
  }
}

// The painted background weight g of pixel (xx, yy) for styles 2 .. 5.
struct Gradient {
  uint32_t style;
  int32_t w, h;
  double f, g0, halfD, k2;
  HostBlock<uint32_t> columns;  // style 2: g of every column

  // trunc((cos(arg) + 1) × G0)
  uint32_t Wave(double arg) const { return static_cast<uint32_t>((std::cos(arg) + 1) * g0); }
  uint32_t At(int32_t xx, int32_t yy) const {
    switch (style) {
      case 2:
        return columns[xx];
      case 3:
        return Wave(f * kPi * yy / h);
      default: {
        const double cx = static_cast<double>(int64_t{xx} - w / 2);
        const double cy = static_cast<double>(int64_t{yy} - h / 2);
        double d;
        if (style == 4) {
          d = std::sqrt(cx * cx + cy * cy) / halfD;
        } else {
          const double ww = static_cast<double>(int64_t{w} * w);
          const double hh = static_cast<double>(int64_t{h} * h);
          d = std::sqrt(cx * cx / (k2 * ww / 4) + cy * cy / (k2 * hh / 4));
        }
        return d < 1 ? Wave(f * kPi * d) : 0;
      }
    }
  }
};

template <class T>
int32_t PaintCanvas(const BallsJob& job, DotCanvas& cv, const uint8_t* product,
                    HostProgressContext* progress) {
  const bool gray = !IsColorPixel(cv.step), deep = cv.sampleBits == 16;
  const uint32_t style = job.flags & 0xF;
  const bool painted = (job.flags & 0xF00) == kPaintedCanvas;
  const DotColor c1 = SplitDotColor(job.back1, gray, deep),
                 c2 = SplitDotColor(job.back2, gray, deep);
  const int32_t w = cv.w, h = cv.h, samples = gray ? 1 : 3;
  Gradient grad{style, w, h, 0, deep ? 32767.5 : 127.5, 0, 0, {}};
  if (painted && style >= 2) {
    const double d = std::sqrt(static_cast<double>(int64_t{w} * w + int64_t{h} * h));
    const double m = std::min(w, h);
    grad.halfD = d / 2;
    grad.k2 = (d / 2) * 2 / m;
    grad.k2 = grad.k2 * grad.k2;
    grad.f = static_cast<double>((static_cast<uint32_t>(job.frequency) + 100u) / 100u);
    if (style == 2) {
      if (!grad.columns.Allocate(static_cast<uint32_t>(w))) return ERROR_NO_MEMORY;
      for (int32_t xx = 0; xx < w; ++xx) grad.columns[xx] = grad.Wave(grad.f * kPi * xx / w);
    }
    for (int32_t yy = 1; yy < h; ++yy) {
      const int32_t rc =
          HostProgressReport(progress, static_cast<int32_t>(int64_t{yy} * 5 / (h - 1)) + 15);
      if (rc != SUCCESS) return rc;
    }
  }
  RowSlots slots;
  if (!slots.Allocate(0, 0)) return ERROR_NO_MEMORY;
  const uint32_t top = deep ? 65535 : 255;
  return RunRows(
      slots, 0, h, w,
      [&](int32_t yy, uint8_t*, uint8_t*) {
        std::memcpy(cv.canvas.rows()[yy], cv.source.rows()[yy], cv.rowBytes);
        if (!painted) return;
        T* row = reinterpret_cast<T*>(cv.canvas.rows()[yy]) + int64_t{cv.rect.left} * cv.step;
        for (int32_t xx = 0; xx < w; ++xx) {
          T* p = row + int64_t{xx} * cv.step;
          if (style == 1) {
            for (int32_t k = 0; k < samples; ++k) p[k] = static_cast<T>(c1.c[k]);
            continue;
          }
          const uint32_t g = grad.At(xx, yy);
          for (int32_t k = 0; k < samples; ++k) {
            if constexpr (sizeof(T) == 1)
              p[k] = static_cast<T>(std::min<uint32_t>(
                  product[c1.c[k] * 256 + g] + product[c2.c[k] * 256 + 255 - g], 255));
            else
              p[k] = static_cast<T>(
                  std::min<uint32_t>((c1.c[k] * g + c2.c[k] * (top - g)) / top, top));
          }
        }
      },
      NoHostCall(), NoWrite());
}

// Ball colour U of one sample from the source sample p, palette sample q and brightness b.
inline uint32_t MixBall(bool modulate, uint64_t p, uint64_t q, uint64_t b, uint64_t max) {
  const uint64_t u = modulate ? p * (q + b) / max : (p * (max - b) + q * b) / max;
  return static_cast<uint32_t>(std::min(u, max));
}

template <class T, int32_t C>
int32_t ThrowBalls(const BallsJob& job, DotCanvas& cv, Slots& slots, uint32_t slotCount,
                   const uint8_t* product, HostProgressContext* progress) {
  const int32_t w = cv.w, h = cv.h;
  const bool gray = C == 1, deep = sizeof(T) == 2, shaded = (job.flags & 0xF0) == kShaded;
  const bool modulate = (job.flags & 0xF000) == kModulate;
  const uint32_t max = deep ? 65535 : 255;
  const DotColor highlight = SplitDotColor(job.highlight, gray, deep);
  const uint32_t brightness = job.brightness;
  const int64_t spread = int64_t{brightness} * job.brightnessVariation / 100;

  StampPass pass;
  HostBlock<Ball> balls;
  if (pass.Allocate(h) != SUCCESS || !balls.Allocate(StampPass::kChunkStamps))
    return ERROR_NO_MEMORY;
  const auto run = [&]() {
    const auto stamp = [&](const auto& blend, const auto& light) {
      return pass.Run(w, [&](uint32_t i, int32_t y) {
        const Ball& b = balls[i];
        T* row = reinterpret_cast<T*>(cv.canvas.rows()[y]) + int64_t{cv.rect.left} * cv.step;
        if (shaded)
          StampBallRow<T, C, true>(b, y, slots[b.slot], w, cv.step, row, cv.HeightRow(y), highlight,
                                   blend, light);
        else
          StampBallRow<T, C, false>(b, y, slots[b.slot], w, cv.step, row, cv.HeightRow(y),
                                    highlight, blend, light);
      });
    };
    if constexpr (sizeof(T) == 1)
      return stamp(Blend8{product}, Highlight8{product});
    else
      return stamp(Blend16{}, Highlight16{});
  };

  const int64_t lastStep = std::max(job.ballCount, 2) - 1;
  for (int32_t i = 0; i < job.ballCount;) {
    const int32_t x = fxrt::rand() % w;
    const int32_t y = fxrt::rand() % h;
    const auto k = static_cast<uint32_t>(fxrt::rand()) % slotCount;
    const uint32_t radius = slots.radius(k);
    if (radius == 0) continue;
    const auto j = static_cast<uint32_t>(fxrt::rand()) % job.paletteCount;
    int64_t b = brightness + (int64_t{fxrt::rand() % 201 - 100} * spread) / 100;
    b = std::clamp<int64_t>(b, 0, max);
    ++i;

    const MaskShape shape = ClipMask(radius, w, h);
    if (!slots.built(k)) {
      if (!slots.Fits(shape)) {  // paint what uses the masks, then start afresh
        int32_t rc = run();
        if (rc != SUCCESS) return rc;
        slots.Evict();
      }
      const int32_t rc = slots.Build(k, shape, job.lightAngle, max);
      if (rc != SUCCESS) return rc;
    }
    const int32_t y0 = std::max(0, y - shape.hy), y1 = std::min(h - 1, y + shape.hy);
    if (!pass.Fits(y0, y1)) {
      const int32_t rc = run();
      if (rc != SUCCESS) return rc;
    }
    const T* p = cv.SourcePixel<T>(x, y);
    const DotColor q = SplitDotColor(job.palette[j], gray, deep);
    Ball& ball = balls[pass.count()];
    ball.x = x;
    ball.y = y;
    ball.slot = k;
    for (int32_t c = 0; c < 3; ++c)
      ball.u[c] = static_cast<uint16_t>(
          MixBall(modulate, p[c < C ? c : 0], q.c[c], static_cast<uint64_t>(b), max));
    pass.Add(y0, y1);
    const int32_t percent =
        static_cast<int32_t>(std::min<int64_t>(i * int64_t{70} / lastStep + 20, 90));
    const int32_t rc = HostProgressReport(progress, percent);
    if (rc != SUCCESS) return rc;
  }
  return run();
}

int32_t BallsDriver(BitmapRecord* bitmap, const BallsJob& job, uint32_t rmin, uint32_t rmax) {
  HostBlock<HostProgressContext> progress;
  if (!progress.AllocateCleared(1)) return ERROR_NO_MEMORY;
  int32_t rc = HostProgressBegin(progress.get());
  if (rc != SUCCESS) return rc;
  AccessOwner access;
  rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t bits = access.SampleBits(), step = access.PixelStep();

  // The slots, reported as they would be built; their masks are made when balls use them.
  const uint32_t slotCount = rmax - rmin + 1;
  Slots slots;
  if (slots.Allocate(rmin, slotCount) != SUCCESS) return ERROR_NO_MEMORY;
  for (uint32_t k = 0; k < slotCount; ++k) {
    if (slotCount == 1) {
      rc = HostProgressReport(progress.get(), 10);
    } else if (k != 0) {
      rc = HostProgressReport(progress.get(),
                              static_cast<int32_t>(uint64_t{k} * 10 / (slotCount - 1)));
    }
    if (rc != SUCCESS) return rc;
  }

  RECT rect{};
  HostGetRegionBounds(bitmap, nullptr, &rect);
  if (rect.right <= rect.left || rect.bottom <= rect.top) return ERROR_EMPTY_RECT;
  HostBlock<uint8_t> product;
  if (bits != 16) {
    if (!product.Allocate(256 * 256)) return ERROR_NO_MEMORY;
    BuildProductTable(product.get());
  }
  DotCanvas cv;
  rc = cv.Allocate(access, rect);
  if (rc == SUCCESS) rc = ReadCanvasSource(access, cv, progress.get(), 5, 10);
  if (rc != SUCCESS) return rc;

  rc = WithSampleType(bits, [&](auto sample) {
    using T = decltype(sample);
    int32_t r = PaintCanvas<T>(job, cv, product.get(), progress.get());
    if (r != SUCCESS) return r;
    return IsColorPixel(step)
               ? ThrowBalls<T, 3>(job, cv, slots, slotCount, product.get(), progress.get())
               : ThrowBalls<T, 1>(job, cv, slots, slotCount, product.get(), progress.get());
  });
  if (rc != SUCCESS) return rc;
  return WriteCanvas(access, bitmap, cv, 90);
}

constexpr FxFlagValue kColourValues[] = {
    {"modulate", kModulate, "pixel x (palette + brightness)"},
    {"blend", kBlend, "pixel and palette blended by brightness"}};
constexpr FxFlagValue kCanvasValues[] = {
    {"image", kImageCanvas, "balls over the image"},
    {"painted", kPaintedCanvas, "balls over a painted background (background field)"}};
constexpr FxFlagValue kBallValues[] = {{"flat", kFlat, "later balls cover earlier ones"},
                                       {"shaded", kShaded, "a ball covers only what lies lower"}};
constexpr FxFlagValue kBackgroundValues[] = {
    {"plain", 1, "backColor1"},
    {"x", 2, "cosine gradient along x"},
    {"y", 3, "cosine gradient along y"},
    {"circle", 4, "circular cosine gradient about the centre"},
    {"ellipse", 5, "elliptical cosine gradient about the centre"}};
constexpr FxFlagField kBallsFields[] = {
    FlagField("colour", 0xF000, kColourValues, "how a ball's colour is made"),
    FlagField("canvas", 0xF00, kCanvasValues, "what the balls are painted on"),
    FlagField("balls", 0xF0, kBallValues, "ball style"),
    FlagField("background", 0xF, kBackgroundValues, "painted background (canvas=painted)"),
};

const int32_t kDefaultPalette[] = {0x3030E0, 0x30C0F0, 0x40C040, 0xE0A030, 0xC040A0, 0xF0F0F0};

const FxParamDesc kBallsParams[] = {
    IntParam("ballCount", 800, kAnyInt32Min, kAnyInt32Max,
             "number of balls; 0 or less paints none; at most 4000 x the rectangle's pixels / "
             "the largest ball's mask window"),
    UIntParam("ballRadius", 12, 1, kMaxDotRadius,
              "mean ball radius in pixels; the largest radius must stay below 32768"),
    UIntParam("radiusVariation", 50, 0, 100, "spread of the radii in percent of ballRadius"),
    IntParam("lightAngle", 22500, kAnyInt32Min, kAnyInt32Max,
             "direction of the light in hundredths of a degree: 0 right, 9000 below, 27000 above"),
    ColorParam("highlightColor", 0xFFFFFF, "colour the lit side of every ball turns to"),
    ColorParam("backColor1", 0x000000, "painted background: plain colour or first gradient colour"),
    ColorParam("backColor2", 0x503010, "painted background: second gradient colour"),
    IntArrayParam("palette", kDefaultPalette, CountOf(kDefaultPalette), kAnyInt32Min, kAnyInt32Max,
                  0, "ball colours 0x00BBGGRR: palette=0x0000FF,0x00FF00,..."),
    CountParam("paletteCount", FX_KIND_UINT32, 7, 0, kAnyUInt32Max,
               "palette entries used (default: the list's length); 0 only without balls"),
    UIntParam("brightness", 140, 0, 65535,
              "base brightness of the colour mix: 0 .. 255 (0 .. 65535 on 16-bit and gray "
              "bitmaps, 0 .. 4095 at 12 bits)"),
    UIntParam("brightnessVariation", 30, 0, 100, "random spread of the brightness in percent"),
    IntParam("frequency", 0, -100, kAnyInt32Max,
             "gradient frequency: the gradients run (frequency + 100) div 100 half-waves"),
    FlagsParam("flags", 0x2121, 0x1110, kAnyUInt32Max,
               "0x1000 modulate or 0x2000 blend; 0x100 image or 0x200 painted canvas; 0x10 flat "
               "or 0x20 shaded balls; with 0x200 bits 0-3: 1 plain, 2 along x, 3 along y, 4 "
               "circle, 5 ellipse; bits above 15 are ignored",
               kBallsFields),
};

const FxPreset kBallsPresets[] = {
    {"beads-on-black",
     "ballCount=1500 ballRadius=10 colour=blend canvas=painted balls=shaded "
     "background=plain backColor1=black"},
    {"bubbles-gradient",
     "ballCount=300 ballRadius=28 radiusVariation=80 colour=modulate canvas=painted balls=shaded "
     "background=circle backColor1=#FFE0A0 backColor2=#203050 brightness=60"},
    {"candy",
     "ballCount=2000 ballRadius=8 radiusVariation=30 colour=blend canvas=image "
     "balls=flat brightness=200"},
};

}  // namespace

extern const FxEffectDesc kColoredBallsEffect = {
    "colored-balls",
    "Fx_ColoredBallsBitmap",
    FX_FAMILY_ARTISTIC,
    "Scatters lit balls coloured from the image and a palette over the image or a background",
    kBallsParams,
    CountOf(kBallsParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_ColoredBallsBitmap(b, ArgI32(v[0]), ArgU32(v[1]), ArgU32(v[2]), ArgI32(v[3]),
                                   ArgU32(v[4]), ArgU32(v[5]), ArgU32(v[6]),
                                   ArgPtr<const COLORREF>(v[7]), ArgU32(v[8]), ArgU32(v[9]),
                                   ArgU32(v[10]), ArgI32(v[11]), ArgU32(v[12]));
    },
    kBallsPresets,
    CountOf(kBallsPresets),
    FX_TRAIT_RANDOM | FX_TRAIT_PROGRESS | FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_ColoredBallsBitmap(BitmapRecord* bitmap, int32_t ballCount, uint32_t ballRadius,
                              uint32_t radiusVariation, int32_t lightAngle, uint32_t highlightColor,
                              uint32_t backColor1, uint32_t backColor2, const COLORREF* palette,
                              uint32_t paletteCount, uint32_t brightness,
                              uint32_t brightnessVariation, int32_t frequency, uint32_t flags) {
  using namespace fx;
  const int32_t rc = CheckBitmap(bitmap, /*testAllocated=*/false);
  if (rc != SUCCESS) return rc;
  if (ballRadius == 0 || radiusVariation > 100 || brightnessVariation > 100 || !palette)
    return ERROR_INV_PARAMETER;
  const uint64_t spread = uint64_t{ballRadius} * radiusVariation / 100;
  const uint64_t rmax = ballRadius + spread;
  if (rmax > kMaxDotRadius || (paletteCount == 0 && ballCount > 0) || frequency < -100)
    return ERROR_INV_PARAMETER;
  RECT rect{};
  HostGetRegionBounds(bitmap, nullptr, &rect);
  const int64_t w = int64_t{rect.right} - rect.left, h = int64_t{rect.bottom} - rect.top;
  if (w > 0 && h > 0) {  // an empty rectangle is answered by the driver
    const int64_t window =
        (2 * std::min<int64_t>(rmax, w - 1) + 1) * (2 * std::min<int64_t>(rmax, h - 1) + 1);
    if (ballCount > kMaxWindowsPerPixel * w * h / window) return ERROR_INV_PARAMETER;
  }
  const uint32_t colour = flags & 0xF000, canvas = flags & 0xF00, balls = flags & 0xF0;
  if ((colour != kModulate && colour != kBlend) ||
      (canvas != kImageCanvas && canvas != kPaintedCanvas) || (balls != kFlat && balls != kShaded))
    return ERROR_INV_PARAMETER;
  if (canvas == kPaintedCanvas && ((flags & 0xF) < 1 || (flags & 0xF) > 5))
    return ERROR_INV_PARAMETER;
  const int32_t bpp = bitmap->BitsPerPixel;
  const bool wide = bitmap->Order == ORDER_GRAY || bpp == 48 || bpp == 64;
  if (wide ? brightness > 65535 || (bpp == 12 && brightness >= 4096) : brightness > 255)
    return ERROR_INV_PARAMETER;
  if (bpp == 12) brightness *= 16;
  const BallsJob job{ballCount,      lightAngle,          frequency,  ballRadius, radiusVariation,
                     highlightColor, backColor1,          backColor2, palette,    paletteCount,
                     brightness,     brightnessVariation, flags};
  return BallsDriver(bitmap, job, ballRadius - static_cast<uint32_t>(spread),
                     static_cast<uint32_t>(rmax));
}
