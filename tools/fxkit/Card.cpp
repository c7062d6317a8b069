// The test card. Every element is a pure function of the pixel position and the card size, so
// any size draws the same picture scaled, and the card never depends on the random generator.
#include "tools/fxkit/Card.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace fxcli {

namespace {

struct Rgb {
  int r, g, b;
};

// A well-mixed 32-bit hash of the position: the noise patch.
uint32_t Hash(uint32_t x, uint32_t y) {
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  h *= 0x297A2D39u;
  return h ^ (h >> 15);
}

Rgb Hue(double u) {  // full saturation and value; u in [0, 1]
  const double h = u * 6.0;
  const int sector = std::min(5, static_cast<int>(h));
  const int rise = static_cast<int>(std::lround((h - sector) * 255)), fall = 255 - rise;
  switch (sector) {
    case 0:
      return {255, rise, 0};
    case 1:
      return {fall, 255, 0};
    case 2:
      return {0, 255, rise};
    case 3:
      return {0, fall, 255};
    case 4:
      return {rise, 0, 255};
    default:
      return {255, 0, fall};
  }
}

struct Layout {
  int32_t w, h;
  int32_t grid;              // grid spacing
  int32_t barsBottom;        // colour bars above
  int32_t rampTop, rampMid;  // gray ramp, then hue ramp below
  double cx, cy, radius, ring;
  int32_t box, noiseX, checkerX, boxY, checker;
};

Layout MakeLayout(int32_t w, int32_t h) {
  Layout l{};
  const int32_t m = std::min(w, h);
  l.w = w;
  l.h = h;
  l.grid = std::max(4, m / 30);
  l.barsBottom = h / 8;
  l.rampTop = h - h / 8;
  l.rampMid = l.rampTop + (h - l.rampTop) / 2;
  l.cx = w / 2.0;
  l.cy = h / 2.0;
  l.radius = 0.3 * m;
  l.ring = l.radius / 8;
  l.box = static_cast<int32_t>(0.22 * m);
  l.noiseX = static_cast<int32_t>(0.05 * w);
  l.checkerX = static_cast<int32_t>(0.95 * w) - l.box;
  l.boxY = h / 2 - l.box / 2;
  l.checker = std::max(2, l.box / 8);
  return l;
}

Rgb CardPixel(const Layout& l, int32_t x, int32_t y) {
  const double u = l.w > 1 ? double(x) / (l.w - 1) : 0.0;
  const double v = l.h > 1 ? double(y) / (l.h - 1) : 0.0;
  if (y < l.barsBottom) {  // white, yellow, cyan, green, magenta, red, blue, black
    static const Rgb kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                 {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
    return kBars[std::min(7, int(int64_t{x} * 8 / l.w))];
  }
  if (y >= l.rampTop) {
    if (y < l.rampMid) {
      const int g = static_cast<int>(std::lround(u * 255));
      return {g, g, g};
    }
    return Hue(u);
  }
  const bool inBoxRows = y >= l.boxY && y < l.boxY + l.box;
  if (inBoxRows && x >= l.noiseX && x < l.noiseX + l.box) {
    const uint32_t n = Hash(uint32_t(x), uint32_t(y));
    return {int(n & 0xFF), int(n >> 8 & 0xFF), int(n >> 16 & 0xFF)};
  }
  if (inBoxRows && x >= l.checkerX && x < l.checkerX + l.box) {
    const bool dark = (((x - l.checkerX) / l.checker) + ((y - l.boxY) / l.checker)) & 1;
    return dark ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
  }
  const double dx = x + 0.5 - l.cx, dy = y + 0.5 - l.cy;
  const double r = std::sqrt(dx * dx + dy * dy);
  if (r < l.radius) {
    if (std::fabs(dx) < 0.75 || std::fabs(dy) < 0.75) return {255, 0, 0};  // cross-hair
    return static_cast<int>(r / l.ring) % 2 ? Rgb{0, 0, 0} : Rgb{255, 255, 255};
  }
  Rgb c{static_cast<int>(30 + 200 * u), static_cast<int>(40 + 120 * v),
        static_cast<int>(220 - 170 * u)};
  if (x % l.grid == 0 || y % l.grid == 0) c = {(c.r + 255) / 2, (c.g + 255) / 2, (c.b + 255) / 2};
  return c;
}

}  // namespace

bool IsCardName(const std::string& name) {
  return name == "@card" || name.rfind("@card:", 0) == 0;
}

ImagePtr MakeCard(const std::string& name) {
  if (name == "@card") return MakeCard(kCardWidth, kCardHeight);
  const std::string size = name.substr(6);
  const char* p = size.c_str();
  char* end = nullptr;
  errno = 0;
  const long w = std::strtol(p, &end, 10);
  bool ok = end != p && *end == 'x' && std::isdigit(static_cast<unsigned char>(*p));
  long h = 0;
  if (ok) {
    p = end + 1;
    h = std::strtol(p, &end, 10);
    ok = end != p && *end == '\0' && std::isdigit(static_cast<unsigned char>(*p)) && errno == 0;
  }
  if (!ok) throw UsageError(name + ": bad card size (use @card:WxH)");
  if (w < 1 || h < 1 || w > kMaxImageSide || h > kMaxImageSide || int64_t{w} * h > kMaxImagePixels)
    throw UsageError(name + ": card size out of range (1 .. " + std::to_string(kMaxImageSide) +
                     " per side)");
  return MakeCard(static_cast<int32_t>(w), static_cast<int32_t>(h));
}

ImagePtr MakeCard(int32_t width, int32_t height) {
  ImagePtr card = NewImageFor(width, height, SampleLayout{3, 8}, "@card");
  const Layout layout = MakeLayout(width, height);
  for (int32_t y = 0; y < height; ++y) {
    uint8_t* row = card->Row(y);
    for (int32_t x = 0; x < width; ++x) {
      const Rgb c = CardPixel(layout, x, y);
      row[3 * x] = static_cast<uint8_t>(c.r);
      row[3 * x + 1] = static_cast<uint8_t>(c.g);
      row[3 * x + 2] = static_cast<uint8_t>(c.b);
    }
  }
  return card;
}

}  // namespace fxcli
