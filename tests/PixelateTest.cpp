// Pixelate: its own checks and flags codes in their order, a direct model of both cell shapes
// (wide average sums included).
#include <algorithm>
#include <cmath>
#include <functional>
#include <map>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

Call Pixelate(int32_t cellWidth, int32_t cellHeight, uint32_t opacity, POINT center,
              uint32_t flags) {
  return [=](BitmapRecord* b) {
    return Fx_PixelateBitmap(b, cellWidth, cellHeight, opacity, center, flags);
  };
}

TEST(PixelateTest, EntryChecksAndFlagsCodes) {
  const auto bad = ERROR_INV_PARAMETER, out = ERROR_POINT_OUT_OF_RANGE, ok = SUCCESS;
  const POINT mid{6, 5};  // the rectangle is 12 x 10
  const auto grid = [&](int32_t w, int32_t h, uint32_t opacity, uint32_t flags) {
    return Pixelate(w, h, opacity, mid, flags);
  };
  // clang-format off
  CheckEntryCases({
      {"0x312 refused", nullptr, grid(3, 4, 100, 0x312), bad},
      {"0x412 accepted", nullptr, grid(3, 4, 100, 0x412), SUCCESS, kSome},
      {"no size or count bits", nullptr, grid(3, 4, 100, 0x012), bad},
      {"bit 12", nullptr, grid(3, 4, 100, 0x1A12), bad},
      {"opacity 0 before the colour", nullptr, grid(3, 4, 0, 0x117), SUCCESS, kNone},
      {"opacity 0 after the flags", nullptr, grid(3, 4, 0, 0x312), bad},
      {"opacity 0 before the cells", nullptr, Pixelate(0, -3, 0, {99, 99}, 0xA22), ok, kNone},
      {"opacity 101", nullptr, grid(3, 4, 101, 0xA12), bad},
      {"colour 3", nullptr, grid(3, 4, 100, 0xA13), bad},
      {"cellWidth 0", nullptr, grid(0, 4, 100, 0xA12), out},
      {"cellHeight negative", nullptr, grid(3, -5, 100, 0xA12), out},
      {"width count 13 > 12", nullptr, grid(13, 4, 100, 0x912), out},
      {"width count 12", nullptr, grid(12, 4, 100, 0x912), SUCCESS, kSome},
      {"height count 11 > 10", nullptr, grid(3, 11, 100, 0x612), out},
      {"huge sizes are lowered", nullptr, grid(0x7FFFFFFF, 0x7FFFFFFF, 100, 0xA12), ok, kSome},
      {"polar sectors 361", nullptr, grid(361, 4, 100, 0x922), out},
      {"polar sectors 360", nullptr, grid(360, 4, 100, 0x922), SUCCESS, kSome},
      {"polar centre right + 1", nullptr, Pixelate(30, 4, 100, {13, 5}, 0xA22), out},
      {"polar centre at right, bottom", nullptr, Pixelate(30, 4, 100, {12, 10}, 0xA22), ok, kSome},
      {"grid ignores the centre", nullptr, Pixelate(3, 4, 100, {99, 99}, 0xA12), ok, kSome},
  });
  // clang-format on
}

struct Params {
  int32_t cellWidth, cellHeight;
  uint32_t opacity;
  POINT center;
  uint32_t flags;
};

// Pixelate written directly: the cell of every pixel as a (row, column) or (sector, ring) pair,
// the cell colours collected in a map, then the blend. Returns every working sample.
std::vector<uint32_t> ModelPixelate(const Snapshot& s, RECT rc, const Params& p) {
  const int32_t wr = rc.right - rc.left, hr = rc.bottom - rc.top;
  const bool widthCount = p.flags & 0x100, heightCount = p.flags & 0x400;
  std::function<std::pair<int64_t, int64_t>(int32_t, int32_t)> cellOf;
  if ((p.flags & 0xF0) == 0x10) {
    const double cw = widthCount ? double(wr) / p.cellWidth : std::min(p.cellWidth, wr);
    const double ch = heightCount ? double(hr) / p.cellHeight : std::min(p.cellHeight, hr);
    cellOf = [=](int32_t x, int32_t y) {
      return std::pair<int64_t, int64_t>(int64_t((y - rc.top) / ch), int64_t((x - rc.left) / cw));
    };
  } else {
    const double angle = widthCount ? 360.0 / p.cellWidth : std::min(p.cellWidth, 360);
    const int64_t dxm = std::max(p.center.x - rc.left, rc.right - p.center.x);
    const int64_t dym = std::max(p.center.y - rc.top, rc.bottom - p.center.y);
    const double bigR = std::sqrt(double(dxm * dxm + dym * dym));
    double ringWidth = heightCount ? bigR / p.cellHeight : p.cellHeight;
    if (!heightCount && int64_t(bigR / p.cellHeight) == 0) ringWidth = bigR;
    const POINT c = p.center;
    cellOf = [=](int32_t x, int32_t y) {
      const int64_t dx = x - c.x, dy = y - c.y;
      double a = std::atan2(double(dy), double(dx)) * (180.0 / kPi);
      if (a < 0) a += 360;
      if (a == 360) a = 0;
      const auto ring = int64_t(std::sqrt(double(dx * dx + dy * dy)) / ringWidth);
      return std::pair<int64_t, int64_t>(ring == 0 ? 0 : int64_t(a / angle), ring);
    };
  }
  const int32_t colours = s.step >= 3 ? 3 : 1, mode = p.flags & 0xF;
  const uint64_t max = s.bits == 16 ? 65535 : 255;
  std::map<std::pair<int64_t, int64_t>, std::vector<uint64_t>> cells;
  std::map<std::pair<int64_t, int64_t>, uint64_t> counts;
  for (int32_t y = rc.top; y < rc.bottom; ++y)
    for (int32_t x = rc.left; x < rc.right; ++x) {
      const auto key = cellOf(x, y);
      auto [it, fresh] = cells.try_emplace(key, colours, mode == 1 ? ~uint64_t{0} : 0);
      ++counts[key];
      for (int32_t k = 0; k < colours; ++k) {
        const uint64_t v = s.at(x, y, k);
        uint64_t& cell = it->second[k];
        cell = mode == 0 ? std::max(cell, v) : mode == 1 ? std::min(cell, v) : cell + v;
      }
    }
  std::vector<uint32_t> out = s.All();
  for (int32_t y = rc.top; y < rc.bottom; ++y)
    for (int32_t x = rc.left; x < rc.right; ++x)
      for (int32_t k = 0; k < colours; ++k) {
        const uint64_t v = s.at(x, y, k);
        const auto key = cellOf(x, y);
        const uint64_t c = cells.at(key)[k] / (mode == 2 ? counts.at(key) : 1);
        out[(size_t(y) * s.width + x) * s.step + k] =
            uint32_t(std::min((p.opacity * c + (100 - p.opacity) * v) / 100, max));
      }
  return out;
}

TEST(PixelateTest, MatchesADirectModelOfBothCellShapes) {
  struct Case {
    const char* what;
    int32_t bpp;
    uint32_t order;
    Params p;
    RECT region = {};
    int32_t width = 23, height = 17;
  };
  const Case cases[] = {
      {"grid sizes, maximum", 24, ORDER_BGR, {5, 4, 100, {}, 0xA10}},
      {"grid counts, minimum", 8, ORDER_GRAY, {3, 2, 50, {}, 0x511}},
      {"grid count x size, average, 12 bits", 12, ORDER_GRAY, {4, 3, 100, {}, 0x912}},
      {"polar sizes, average", 32, ORDER_BGR, {30, 4, 100, {7, 5}, 0xA22}, {2, 1, 20, 15}},
      {"polar ring wider than R, minimum", 64, ORDER_BGR, {5, 1000, 100, {-1, -1}, 0x921}},
      {"polar with 2e9 rings, average", 24, ORDER_RGB, {9, 2000000000, 100, {6, 4}, 0x522}},
      // One cell of 160000 16-bit samples: sums beyond 32 bits still give the true average.
      {"one large 16-bit cell, average", 16, ORDER_GRAY, {1, 1, 100, {}, 0x512}, {}, 400, 400},
      // Cells across bands of rows, gathered in parts.
      {"tall grid, average", 24, ORDER_BGR, {3, 7, 80, {}, 0xA12}, {}, 9, 150},
      {"tall polar, maximum", 48, ORDER_RGB, {40, 9, 100, {4, 70}, 0xA20}, {}, 9, 150},
  };
  for (const auto& c : cases)
    for (const int32_t threads : {1, kManyThreads}) {
      SCOPED_TRACE(::testing::Message() << c.what << ", " << threads << " threads");
      const ThreadSetting setting(threads);
      const int32_t changed = CompareWithReference(
          {c.width, c.height, c.bpp, c.order, c.region, c.p.flags},
          Pixelate(c.p.cellWidth, c.p.cellHeight, c.p.opacity, c.p.center, c.p.flags),
          FromModel([&](const Snapshot& s, BitmapRecord*, const RECT& rc) {
            return ModelPixelate(s, rc, c.p);
          }));
      EXPECT_GT(changed, 20);
    }
}

}  // namespace
