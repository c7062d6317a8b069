// Drawing on mask bitmaps: thin lines, pen footprints, Bézier flattening and the even-odd
// polygon fill on hand-drawn pixel maps; colours per format and orientation; the drawing objects'
// lifetime; the colour of one pixel; the gray levels of a row.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "TestSupport.h"

namespace {

using fxtest::HostFixture;
using fxtest::TestBitmap;

class HostDrawingTest : public HostFixture {};

constexpr COLORREF kPenColour = 0xFFFFFF;    // level 255 on gray
constexpr COLORREF kBrushColour = 0x404040;  // level 64

// An 8-bit gray picture drawn on, read back as rows of '#' (pen), 'o' (brush), '.' (untouched).
class Canvas {
 public:
  Canvas(int32_t width, int32_t height, uint8_t orientation = 1)
      : bitmap_(width, height, 8, ORDER_GRAY, orientation), dc_(HostCreateBitmapDC(bitmap_.get())) {
    EXPECT_NE(dc_, nullptr);
  }
  ~Canvas() {
    HostSelectObject(dc_, stockPen_);
    HostSelectObject(dc_, stockBrush_);
    HostDeleteObject(pen_);
    HostDeleteObject(brush_);
    HostDeleteBitmapDC(dc_);
  }
  // A pen of `width` and the brush, selected.
  void Pen(int32_t width) {
    pen_ = HostCreatePen(HOST_PEN_SOLID, width, kPenColour);
    brush_ = HostCreateBrush(kBrushColour);
    stockPen_ = HostSelectObject(dc_, pen_);
    stockBrush_ = HostSelectObject(dc_, brush_);
  }
  HostDC* dc() const { return dc_; }
  BitmapRecord* bitmap() { return bitmap_.get(); }
  std::vector<std::string> Map() {
    const auto rows = fxtest::WorkingRows(bitmap_.get());
    std::vector<std::string> out;
    for (int32_t y = 0; y < bitmap_->Height; ++y) {
      std::string line;
      for (int32_t x = 0; x < bitmap_->Width; ++x) {
        const uint8_t v = rows[size_t(y) * bitmap_->Width + x];
        line += v == 255 ? '#' : v == 64 ? 'o' : v == 0 ? '.' : '?';
      }
      out.push_back(line);
    }
    return out;
  }

 private:
  TestBitmap bitmap_;
  HostDC* dc_;
  HostDrawObject *pen_ = nullptr, *brush_ = nullptr;
  HostDrawObject *stockPen_ = nullptr, *stockBrush_ = nullptr;
};

std::vector<POINT> Points(std::initializer_list<std::pair<int32_t, int32_t>> list) {
  std::vector<POINT> out;
  for (const auto& [x, y] : list) out.push_back(POINT{x, y});
  return out;
}

// Thin lines (a two-point polygon draws the line both ways) and the pen's footprints (a Bézier
// whose four points coincide draws one footprint), drawn by hand.
TEST_F(HostDrawingTest, LinesAndFootprintsOnHandDrawnMaps) {
  struct Case {
    const char* what;
    int32_t width;
    std::vector<POINT> points;
    bool bezier;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"thin line, thirds round half up",
       1,
       Points({{0, 0}, {6, 2}}),
       false,
       {"##......", "..###...", ".....##.", "........"}},
      {"the same line, pen 3: a 3 x 3 square per pixel",
       3,
       Points({{0, 0}, {6, 2}}),
       false,
       {"######..", "########", ".#######", "....####"}},
      {"steep line, y major",
       1,
       Points({{1, 0}, {2, 3}}),
       false,
       {".#......", ".#......", "..#.....", "..#....."}},
      {"pen 2: a 2 x 2 square",
       2,
       Points({{3, 1}, {3, 1}, {3, 1}, {3, 1}}),
       true,
       {"........", "...##...", "...##...", "........"}},
      {"pen 4: corners cut",
       4,
       Points({{3, 2}, {3, 2}, {3, 2}, {3, 2}}),
       true,
       {"........", "...##...", "..####..", "..####..", "...##...", "........"}},
      {"pen 5: a disc",
       5,
       Points({{3, 3}, {3, 3}, {3, 3}, {3, 3}}),
       true,
       {"........", "..###...", ".#####..", ".#####..", ".#####..", "..###...", "........"}},
      {"straight joint, pen 3, clipped at the edges",
       3,
       Points({{0, 2}, {3, 2}, {6, 2}, {9, 2}}),
       true,
       {"........", "########", "########", "########", "........"}},
  };
  for (const Case& c : cases) {
    Canvas canvas(8, static_cast<int32_t>(c.expected.size()));
    canvas.Pen(c.width);
    const auto n = static_cast<uint32_t>(c.points.size());
    if (c.bezier) {
      ASSERT_EQ(HostPolyBezier(canvas.dc(), c.points.data(), n), SUCCESS) << c.what;
    } else {
      ASSERT_EQ(HostPolygon(canvas.dc(), c.points.data(), n), SUCCESS) << c.what;
    }
    EXPECT_EQ(canvas.Map(), c.expected) << c.what;
  }
}

// A curved segment against the flattening written out: N = ceil(L / 2) chords between the rounded
// points B(i / N), each a thin line (the Bresenham rule with half rounded up).
TEST_F(HostDrawingTest, BezierFlatteningFollowsItsDefinition) {
  const POINT p[4] = {{1, 1}, {1, 12}, {12, 12}, {12, 1}};
  Canvas canvas(14, 14);
  canvas.Pen(1);
  ASSERT_EQ(HostPolyBezier(canvas.dc(), p, 4), SUCCESS);

  std::vector<std::string> expected(14, std::string(14, '.'));
  const auto plot = [&](int64_t x, int64_t y) { expected[y][x] = '#'; };
  const int32_t legs = 11 + 11 + 11, chords = (legs + 1) / 2;  // 17
  int64_t px = 1, py = 1;
  for (int32_t i = 1; i <= chords; ++i) {
    const double t = double(i) / chords, u = 1 - t;
    const double bx = u * u * u * 1 + 3 * u * u * t * 1 + 3 * u * t * t * 12 + t * t * t * 12;
    const double by = u * u * u * 1 + 3 * u * u * t * 12 + 3 * u * t * t * 12 + t * t * t * 1;
    const int64_t qx = std::llround(std::floor(bx + 0.5)), qy = std::llround(std::floor(by + 0.5));
    const int64_t dx = qx - px, dy = qy - py, ax = std::llabs(dx), ay = std::llabs(dy);
    const int64_t major = std::max(ax, ay), minor = std::min(ax, ay);
    for (int64_t k = 0; k <= major; ++k) {
      const int64_t along = major ? (2 * k * minor + major) / (2 * major) : 0;
      if (ax >= ay)
        plot(px + (dx < 0 ? -k : k), py + (dy < 0 ? -along : along));
      else
        plot(px + (dx < 0 ? -along : along), py + (dy < 0 ? -k : k));
    }
    px = qx, py = qy;
  }
  EXPECT_EQ(canvas.Map(), expected);
  // The curve runs from the first point to the last.
  EXPECT_EQ(expected[1][1], '#');
  EXPECT_EQ(expected[1][12], '#');
}

// The brush fills the centres inside by the even-odd rule (a scanline meets an edge on
// [min y, max y), a centre at or right of the crossing counts), then the pen draws the outline.
TEST_F(HostDrawingTest, PolygonFillIsEvenOddAtPixelCentres) {
  {
    Canvas canvas(10, 10);
    canvas.Pen(1);
    const auto triangle = Points({{0, 0}, {8, 0}, {0, 8}});
    ASSERT_EQ(HostPolygon(canvas.dc(), triangle.data(), 3), SUCCESS);
    const std::vector<std::string> expected = {
        "#########.", "#oooooo#..", "#ooooo#...", "#oooo#....", "#ooo#.....",
        "#oo#......", "#o#.......", "##........", "#.........", "..........",
    };
    EXPECT_EQ(canvas.Map(), expected);
  }
  {
    // A square traced twice crosses every scanline four times: even-odd leaves it empty.
    Canvas canvas(7, 7);
    canvas.Pen(1);
    const auto twice = Points({{0, 0}, {5, 0}, {5, 5}, {0, 5}, {0, 0}, {5, 0}, {5, 5}, {0, 5}});
    ASSERT_EQ(HostPolygon(canvas.dc(), twice.data(), 8), SUCCESS);
    const std::vector<std::string> expected = {
        "######.", "#....#.", "#....#.", "#....#.", "#....#.", "######.", ".......",
    };
    EXPECT_EQ(canvas.Map(), expected);
  }
  {
    // Many vertices (a ring of 100 points): the crossings of a scanline live on the host heap.
    Canvas canvas(40, 40);
    canvas.Pen(1);
    std::vector<POINT> ring;
    for (int32_t i = 0; i < 100; ++i)
      ring.push_back(POINT{static_cast<int32_t>(std::lround(20 + 15 * std::cos(i * 0.0628))),
                           static_cast<int32_t>(std::lround(20 + 15 * std::sin(i * 0.0628)))});
    ASSERT_EQ(HostPolygon(canvas.dc(), ring.data(), 100), SUCCESS);
    const auto map = canvas.Map();
    EXPECT_EQ(map[20][20], 'o');
    EXPECT_EQ(map[20][2], '.');
  }
}

TEST_F(HostDrawingTest, ColoursFormatsOrientationAndRefusals) {
  // A colour on gray is the gray mix with rounding; on colour, its samples in the stored order.
  const COLORREF orange = 0x0080FF;  // r 255, g 128, b 0: (0 + 640 + 510 + 4) / 8 = 144
  const struct {
    int32_t bpp;
    uint32_t order;
    std::vector<uint32_t> expected;  // working samples of the drawn pixel
  } formats[] = {
      {8, ORDER_GRAY, {144}},
      {24, ORDER_BGR, {0, 128, 255}},
      {24, ORDER_RGB, {0, 128, 255}},
      {32, ORDER_RGB, {0, 128, 255, 77}},  // the fourth byte is left alone
  };
  for (const auto& f : formats) {
    TestBitmap b(5, 4, f.bpp, f.order, 6);  // drawn as seen in orientation 6
    std::memset(b->Data, 77, size_t(b->BytesPerLine) * b->StoredHeight);
    HostDC* dc = HostCreateBitmapDC(b.get());
    ASSERT_NE(dc, nullptr);
    HostDrawObject* pen = HostCreatePen(HOST_PEN_SOLID, 0, orange);  // width 0 draws as 1
    HostDrawObject* stock = HostSelectObject(dc, pen);
    const POINT dot[4] = {{3, 1}, {3, 1}, {3, 1}, {3, 1}};
    ASSERT_EQ(HostPolyBezier(dc, dot, 4), SUCCESS);
    EXPECT_EQ(HostDeleteObject(pen), ERROR_HOST_BAD_ARGUMENT) << "a selected pen stays";
    EXPECT_EQ(HostSelectObject(dc, stock), pen);
    EXPECT_EQ(HostDeleteObject(pen), SUCCESS);
    HostDeleteBitmapDC(dc);
    const auto rows = fxtest::WorkingRows(b.get());
    const int32_t step = static_cast<int32_t>(f.expected.size()), rowBytes = 5 * step;
    for (int32_t y = 0; y < 4; ++y)
      for (int32_t x = 0; x < 5; ++x)
        for (int32_t k = 0; k < step; ++k) {
          const uint32_t want = x == 3 && y == 1 ? f.expected[k] : 77;
          EXPECT_EQ(rows[size_t(y) * rowBytes + x * step + k], want)
              << f.bpp << " bits at " << x << "," << y;
        }
  }
  // Formats without a context, bad point lists.
  TestBitmap deep(4, 4, 48, ORDER_BGR), palette(4, 4, 8, ORDER_BGR), gray(4, 4, 8, ORDER_GRAY);
  EXPECT_EQ(HostCreateBitmapDC(deep.get()), nullptr);
  EXPECT_EQ(HostCreateBitmapDC(palette.get()), nullptr);
  EXPECT_EQ(HostCreatePen(1, 1, 0), nullptr);
  HostDC* dc = HostCreateBitmapDC(gray.get());
  const POINT far[4] = {{0, 0}, {1 << 29, 0}, {0, 0}, {0, 0}};
  const POINT two[2] = {{0, 0}, {3, 3}};
  EXPECT_EQ(HostPolyBezier(dc, far, 4), ERROR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(HostPolyBezier(dc, two, 2), ERROR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(HostPolygon(dc, two, 1), ERROR_HOST_BAD_ARGUMENT);
  // Far outside but within range: clipped, nothing drawn, and quickly.
  HostDrawObject* white = HostCreatePen(HOST_PEN_SOLID, 3, 0xFFFFFF);
  HostDrawObject* stock = HostSelectObject(dc, white);
  const POINT outside[4] = {{-100000, -5}, {100000, -5}, {-100000, -5}, {100000, -5}};
  EXPECT_EQ(HostPolyBezier(dc, outside, 4), SUCCESS);
  HostSelectObject(dc, stock);
  EXPECT_EQ(HostDeleteObject(white), SUCCESS);
  HostDeleteBitmapDC(dc);
  EXPECT_EQ(fxtest::WorkingRows(gray.get()), std::vector<uint8_t>(16, 0));
}

// The picture drawn is the same as seen in every orientation: a wide pen's spans and a polygon's
// fill, on gray and colour, read back in the view, equal the drawing in orientation 1.
TEST_F(HostDrawingTest, DrawingsAreTheSameInEveryOrientation) {
  const struct {
    int32_t bpp;
    uint32_t order;
  } formats[] = {{8, ORDER_GRAY}, {24, ORDER_BGR}, {32, ORDER_RGB}};
  const POINT curve[4] = {{-2, 1}, {14, 12}, {25, -3}, {42, 6}};
  const POINT shape[4] = {{2, 12}, {37, 14}, {30, 28}, {4, 26}};
  for (const auto& f : formats) {
    std::vector<uint8_t> upright;
    for (uint8_t orientation = 1; orientation <= 8; ++orientation) {
      TestBitmap b(40, 30, f.bpp, f.order, orientation);
      HostDC* dc = HostCreateBitmapDC(b.get());
      ASSERT_NE(dc, nullptr);
      HostDrawObject* pen = HostCreatePen(HOST_PEN_SOLID, 4, 0x3080F0);
      HostDrawObject* brush = HostCreateBrush(0x3080F0);
      HostDrawObject* stockPen = HostSelectObject(dc, pen);
      HostDrawObject* stockBrush = HostSelectObject(dc, brush);
      ASSERT_EQ(HostPolyBezier(dc, curve, 4), SUCCESS);
      ASSERT_EQ(HostPolygon(dc, shape, 4), SUCCESS);
      HostSelectObject(dc, stockPen);
      HostSelectObject(dc, stockBrush);
      EXPECT_EQ(HostDeleteObject(pen), SUCCESS);
      EXPECT_EQ(HostDeleteObject(brush), SUCCESS);
      HostDeleteBitmapDC(dc);
      const auto rows = fxtest::WorkingRows(b.get());
      // Every pixel is the background or the pen's colour: (0x30 + 5 x 0x80 + 2 x 0xF0 + 4) / 8
      // on gray, the samples blue first on colour; a fourth sample is left alone.
      const std::vector<uint8_t> ink =
          f.bpp == 8 ? std::vector<uint8_t>{0x92} : std::vector<uint8_t>{0x30, 0x80, 0xF0};
      const size_t step = f.bpp / 8;
      for (size_t at = 0; at < rows.size(); at += step) {
        const std::vector<uint8_t> pixel(rows.begin() + at, rows.begin() + at + ink.size());
        EXPECT_TRUE(pixel == ink || pixel == std::vector<uint8_t>(ink.size(), 0))
            << f.bpp << " bits, orientation " << int(orientation) << ", sample " << at;
      }
      if (orientation == 1) {
        upright = rows;
        EXPECT_GT(std::count(rows.begin(), rows.end(), 0), 0);
        EXPECT_LT(std::count(rows.begin(), rows.end(), 0), static_cast<long>(rows.size()) * 3 / 4);
      } else {
        EXPECT_EQ(rows, upright) << f.bpp << " bits, orientation " << int(orientation);
      }
    }
  }
}

// Many polylines drawn in one call paint what drawing them one by one paints, at any thread
// count (the bands split the rows between threads) and in a turned view: long joints across the
// picture both ways, a ring, lists reaching outside, a single point and a wide pen. A refused
// list leaves the picture untouched.
TEST_F(HostDrawingTest, PolylinesDrawnTogetherMatchOneByOne) {
  std::vector<POINT> points;
  std::vector<uint32_t> counts;
  auto add = [&](std::vector<POINT> list) {
    counts.push_back(static_cast<uint32_t>(list.size()));
    points.insert(points.end(), list.begin(), list.end());
  };
  std::vector<POINT> across, down, ring;
  for (int32_t i = 0; i <= 3 * 108; i += 3) across.push_back({i - 5, 100 + (i * 7) % 5});
  for (int32_t i = 0; i <= 3 * 78; i += 3) down.push_back({150 + (i * 5) % 7, i - 9});
  for (int32_t i = 0; i < 72; ++i)
    ring.push_back({static_cast<int32_t>(120 + 90 * std::cos(i * 0.0872664626)),
                    static_cast<int32_t>(105 + 90 * std::sin(i * 0.0872664626))});
  ring.push_back(ring.front());
  add(across);
  add(down);
  add(ring);
  add({{-40, -40}, {400, 30}, {-60, 260}, {330, 230}});
  add({{77, 3}});
  add({{60, 60}, {60, 60}, {60, 60}, {60, 60}});
  for (int32_t width : {1, 9}) {
    std::vector<uint8_t> expected;
    for (int32_t threads : {0, 1, 2, 3, 5}) {
      HostSetThreadCount(threads == 0 ? 1 : threads);
      Canvas c(301, 211, 6);
      c.Pen(width);
      if (threads == 0) {
        size_t at = 0;
        for (uint32_t n : counts) {
          ASSERT_EQ(HostPolyBezier(c.dc(), points.data() + at, n), SUCCESS);
          at += n;
        }
        expected = fxtest::WorkingRows(c.bitmap());
        EXPECT_GT(std::count(expected.begin(), expected.end(), 255), 1000) << width;
        continue;
      }
      ASSERT_EQ(HostPolyPolyBezier(c.dc(), points.data(), counts.data(),
                                   static_cast<uint32_t>(counts.size())),
                SUCCESS);
      EXPECT_EQ(fxtest::WorkingRows(c.bitmap()), expected)
          << "pen " << width << ", " << threads << " threads";
    }
  }
  HostSetThreadCount(3);
  Canvas c(301, 211);
  c.Pen(3);
  std::vector<uint32_t> bad = counts;
  bad[3] = 2;  // two points of the fourth list and the rest shifted: refused before drawing
  EXPECT_EQ(HostPolyPolyBezier(c.dc(), points.data(), bad.data(), uint32_t(bad.size())),
            ERROR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(HostPolyPolyBezier(c.dc(), points.data(), nullptr, 1), ERROR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(HostPolyPolyBezier(c.dc(), nullptr, counts.data(), 1), ERROR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(HostPolyPolyBezier(nullptr, points.data(), counts.data(), 1), ERROR_HOST_BAD_ARGUMENT);
  EXPECT_EQ(HostPolyPolyBezier(c.dc(), nullptr, nullptr, 0), SUCCESS);
  const auto untouched = fxtest::WorkingRows(c.bitmap());
  EXPECT_EQ(std::count(untouched.begin(), untouched.end(), 0), 301 * 211);
  HostSetThreadCount(0);
}

TEST_F(HostDrawingTest, PixelColourOfEveryFormat) {
  const struct {
    int32_t bpp;
    uint32_t order;
    std::vector<uint8_t> stored;  // the first pixel's stored bytes
    COLORREF expected;
  } cases[] = {
      {8, ORDER_GRAY, {0x5A}, 0x5A5A5A},
      // 16-bit samples become (v + 128) / 257: 0x1234 = 4660 -> 18.
      {16, ORDER_GRAY, {0x34, 0x12}, 0x121212},
      // 12-bit 0xABC widens to 0xABCA = 43978 -> 171.
      {12, ORDER_GRAY, {0xBC, 0x0A}, 0xABABAB},
      {24, ORDER_BGR, {0x01, 0x02, 0x03}, 0x010203},
      {24, ORDER_RGB, {0x01, 0x02, 0x03}, 0x030201},
      // Blue 0xFFFF -> 255, green 0x8000 -> 128, red 0x0100 -> 1.
      {48, ORDER_BGR, {0xFF, 0xFF, 0x00, 0x80, 0x00, 0x01}, 0xFF8001},
  };
  for (const auto& c : cases) {
    TestBitmap b(3, 2, c.bpp, c.order);
    std::memcpy(b->Data, c.stored.data(), c.stored.size());
    EXPECT_EQ(HostGetPixelColor(b.get(), 0, 0), c.expected) << c.bpp << " bits";
    // Positions beyond the picture take the nearest pixel.
    EXPECT_EQ(HostGetPixelColor(b.get(), -7, -1), c.expected) << c.bpp << " bits";
  }
  TestBitmap palette(3, 2, 8, ORDER_BGR);
  palette->Data[palette->BytesPerLine + 2] = 5;  // the last pixel, reached from beyond the corner
  EXPECT_EQ(HostGetPixelColor(palette.get(), 9, 9), palette->Palette[5] & 0xFFFFFF);
  BitmapRecord none{};
  EXPECT_EQ(HostGetPixelColor(&none, 0, 0), 0xFFFFFFFFu);
}

// Gray levels of working rows: the host's gray mix with its rounding term, gray pixels as they
// are, at both sample sizes.
TEST_F(HostDrawingTest, GrayRowIsTheHostsGrayMix) {
  const uint8_t colour8[6] = {10, 20, 30, 255, 255, 254};  // (10 + 100 + 60 + 4) / 8 = 21
  uint8_t gray8[2] = {};
  HostGrayRow(colour8, 8, 3, 2, gray8);
  EXPECT_EQ(gray8[0], 21);
  EXPECT_EQ(gray8[1], (255 + 5 * 255 + 2 * 254 + 4) / 8);
  // Four samples: the fourth is not mixed. (1000 + 10000 + 6000 + 4) / 8 = 2125.
  const uint16_t colour16[8] = {1000, 2000, 3000, 65535, 7, 7, 7, 0};
  uint16_t gray16[2] = {};
  HostGrayRow(colour16, 16, 4, 2, gray16);
  EXPECT_EQ(gray16[0], 2125);
  EXPECT_EQ(gray16[1], 7);
  const uint16_t levels[3] = {5, 60000, 65535};
  uint16_t same[3] = {};
  HostGrayRow(levels, 16, 1, 3, same);
  EXPECT_EQ(std::vector<uint16_t>(same, same + 3), std::vector<uint16_t>(levels, levels + 3));
}

}  // namespace
