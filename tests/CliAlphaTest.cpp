// Pictures with alpha through the command line. Effects that move or mix pixels move and mix
// the alpha with the colour, computed as the same effect on the premultiplied colour and on the
// alpha plane; effects that change tones keep the alpha; formats without alpha get the picture
// flattened onto a background.
#include <cmath>
#include <cstring>

#include "CliSupport.h"
#include "tools/fxkit/ImageIO.h"
#include "tools/fxkit/Values.h"

namespace {

using fxtest::Outcome;
using fxtest::TestBitmap;
using Samples = std::vector<uint32_t>;

// Working samples as numbers (8- or 16-bit), and back.
Samples Read(BitmapRecord* b, bool deep) {
  const std::vector<uint8_t> rows = fxtest::WorkingRows(b);
  Samples s(rows.size() / (deep ? 2 : 1));
  for (size_t i = 0; i < s.size(); ++i) {
    uint16_t v = rows[i];
    if (deep) std::memcpy(&v, &rows[2 * i], 2);
    s[i] = v;
  }
  return s;
}

void Write(BitmapRecord* b, const Samples& s, bool deep) {
  std::vector<uint8_t> rows(s.size() * (deep ? 2 : 1));
  for (size_t i = 0; i < s.size(); ++i) {
    const uint16_t v = uint16_t(s[i]);
    if (deep)
      std::memcpy(&rows[2 * i], &v, 2);
    else
      rows[i] = uint8_t(v);
  }
  fxtest::WriteWorkingRows(b, rows);
}

// A logo: an opaque red disc with a soft edge and a half-transparent blue bar, on a transparent
// background whose hidden colour is bright green. Working order blue, green, red, alpha.
Samples Logo(int32_t w, int32_t h, uint32_t max) {
  Samples s;
  for (int32_t y = 0; y < h; ++y)
    for (int32_t x = 0; x < w; ++x) {
      const double d = std::sqrt(double((x - w / 2) * (x - w / 2) + (y - h / 2) * (y - h / 2)));
      const double edge = std::clamp(w / 4.0 + 2 - d, 0.0, 4.0) / 4.0;  // 1 inside, 0 outside
      uint32_t a = uint32_t(edge * max), b = 30 * max / 255, g = 40 * max / 255,
               r = 200 * max / 255;
      if (a == 0 && y > h / 5 && y < h / 4 && (x / 4) % 2) a = max / 2, b = max, r = g = 0;
      if (a == 0) b = 0, g = max, r = 0;
      s.insert(s.end(), {b, g, r, a});
    }
  return s;
}

void Invoke(const char* effect, BitmapRecord* b, const std::string& words, const RECT* region) {
  if (region) {
    ASSERT_EQ(HostSetRegionRect(b, nullptr, region, 1), SUCCESS);
  }
  const FxEffectDesc* e = FxFindEffect(effect);
  fxcli::EffectArgs args(*e);
  args.Add(fxcli::SplitWords(words.c_str()));
  const std::vector<FxNamedValue>& values = args.Values();
  HostSeedRandom(1);
  ASSERT_EQ(FxInvoke(e, b, values.data(), uint32_t(values.size())), SUCCESS);
}

// The effect on the premultiplied colour c * a / max (rounded) and on the alpha plane, the
// colour then divided by the new alpha (rounded, at most max; 0 where the alpha is 0). A pixel
// whose premultiplied colour and alpha come back unchanged keeps its input samples.
Samples Reference(const char* effect, const Samples& in, int32_t w, int32_t h, bool deep,
                  const std::string& words, const std::string& alphaWords, const RECT* region) {
  const uint32_t max = deep ? 65535 : 255;
  TestBitmap colour(w, h, deep ? 48 : 24, ORDER_RGB), alpha(w, h, deep ? 16 : 8, ORDER_GRAY);
  Samples c, a;
  for (size_t p = 0; p < in.size() / 4; ++p) {
    for (int k = 0; k < 3; ++k) c.push_back((in[4 * p + k] * in[4 * p + 3] + max / 2) / max);
    a.push_back(in[4 * p + 3]);
  }
  const Samples premultiplied = c;
  Write(colour.get(), c, deep);
  Write(alpha.get(), a, deep);
  Invoke(effect, colour.get(), words, region);
  Invoke(effect, alpha.get(), alphaWords, region);
  c = Read(colour.get(), deep);
  a = Read(alpha.get(), deep);
  Samples out;
  for (size_t p = 0; p < a.size(); ++p) {
    const bool same = a[p] == in[4 * p + 3] && c[3 * p] == premultiplied[3 * p] &&
                      c[3 * p + 1] == premultiplied[3 * p + 1] &&
                      c[3 * p + 2] == premultiplied[3 * p + 2];
    for (int k = 0; k < 3; ++k)
      out.push_back(same        ? in[4 * p + k]
                    : a[p] == 0 ? 0
                                : std::min(max, (c[3 * p + k] * max + a[p] / 2) / a[p]));
    out.push_back(a[p]);
  }
  return out;
}

class CliAlphaTest : public fxtest::CliFixture {};

TEST_F(CliAlphaTest, MovingEffectsMoveAndMixTheAlphaWithTheColour) {
  const int32_t w = 64, h = 48;
  const RECT region{10, 5, 40, 30};
  struct Case {
    const char* effect;
    std::string words, alphaWords;  // the alpha run's fill colours are opaque
    bool deep;
    const RECT* region;
  };
  const Case cases[] = {
      {"swirl", "angle=9000", "angle=9000", false, nullptr},
      {"swirl", "angle=9000", "angle=9000", true, nullptr},
      {"swirl", "angle=-6000", "angle=-6000", false, &region},
      {"radial-blur", "", "", false, nullptr},
      {"radial-blur", "", "", true, nullptr},
      {"pixelate", "", "", false, nullptr},
      {"impressionist", "", "", false, nullptr},
      {"ripple", "amplitude=15 frequency=8 flags=0 fillColor=#204080",
       "amplitude=15 frequency=8 flags=0 fillColor=0xFFFFFF", false, nullptr},
      {"ripple", "amplitude=15 frequency=8 flags=0 fillColor=#204080",
       "amplitude=15 frequency=8 flags=0 fillColor=0x400FFFF", true, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.effect) + " " + c.words + (c.deep ? " 64 bpp" : " 32 bpp") +
                 (c.region ? " region" : ""));
    const uint32_t max = c.deep ? 65535 : 255;
    TestBitmap logo(w, h, c.deep ? 64 : 32, ORDER_RGB);
    const Samples in = Logo(w, h, max);
    Write(logo.get(), in, c.deep);
    WriteFile("logo.png", fxcli::EncodeImage(*logo.get(), fxcli::FileFormat::Png));
    std::vector<std::string> args = {"apply", c.effect, Path("logo.png"), Path("out.png")};
    for (const std::string& word : fxcli::SplitWords(c.words.c_str())) args.push_back(word);
    if (c.region) args.push_back("--region=30x25+10+5");
    const Outcome run = Fxkit(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const fxcli::ImagePtr written = fxcli::LoadImage(Path("out.png"));
    ASSERT_EQ(written->get()->BitsPerPixel, c.deep ? 64 : 32);
    const Samples out = Read(written->get(), c.deep);
    EXPECT_EQ(out, Reference(c.effect, in, w, h, c.deep, c.words, c.alphaWords, c.region));
    // What a viewer sees: the alpha moved, and no visible pixel shows the hidden green.
    size_t moved = 0, green = 0;
    for (size_t p = 0; p < out.size() / 4; ++p) {
      moved += out[4 * p + 3] != in[4 * p + 3];
      green += out[4 * p + 3] > 0 && out[4 * p + 1] > max / 2;
    }
    EXPECT_GT(moved, 0u);
    EXPECT_EQ(green, 0u) << "visible pixels show the hidden colour";
  }
}

// A fill colour is opaque paint: on a wholly transparent picture only the filled pixels appear.
TEST_F(CliAlphaTest, FillColoursAreOpaque) {
  TestBitmap clear(40, 30, 32, ORDER_RGB);
  Samples in;
  for (int i = 0; i < 40 * 30; ++i) in.insert(in.end(), {uint32_t(i % 256), 255, 9, 0});
  Write(clear.get(), in, false);
  WriteFile("clear.png", fxcli::EncodeImage(*clear.get(), fxcli::FileFormat::Png));
  ASSERT_EQ(Fxkit({"apply", "ripple", Path("clear.png"), Path("out.png"), "amplitude=15",
                   "frequency=8", "flags=0", "fillColor=#204080"})
                .status,
            0);
  const Samples out = Read(fxcli::LoadImage(Path("out.png"))->get(), false);
  size_t filled = 0;
  for (size_t p = 0; p < out.size() / 4; ++p) {
    const Samples pixel(out.begin() + std::ptrdiff_t(4 * p),
                        out.begin() + std::ptrdiff_t(4 * p + 4));
    if (out[4 * p + 3] == 0) continue;
    ++filled;
    EXPECT_EQ(pixel, (Samples{0x80, 0x40, 0x20, 255})) << p;
  }
  EXPECT_GT(filled, 0u);
}

// Effects that change tones keep the alpha as it is; a picture opaque everywhere stays opaque
// and its colour is what the effect makes of it without alpha.
TEST_F(CliAlphaTest, ToneEffectsAndOpaquePicturesKeepTheirAlpha) {
  const int32_t w = 48, h = 36;
  TestBitmap logo(w, h, 32, ORDER_RGB);
  const Samples in = Logo(w, h, 255);
  Write(logo.get(), in, false);
  WriteFile("logo.png", fxcli::EncodeImage(*logo.get(), fxcli::FileFormat::Png));
  ASSERT_EQ(Fxkit({"apply", "clouds", Path("logo.png"), Path("tones.png")}).status, 0);
  Invoke("clouds", logo.get(), "", nullptr);
  EXPECT_EQ(Read(fxcli::LoadImage(Path("tones.png"))->get(), false), Read(logo.get(), false));

  Samples opaque = in;
  for (size_t p = 3; p < opaque.size(); p += 4) opaque[p] = 255;
  Write(logo.get(), opaque, false);
  WriteFile("opaque.png", fxcli::EncodeImage(*logo.get(), fxcli::FileFormat::Png));
  ASSERT_EQ(Fxkit({"apply", "radial-blur", Path("opaque.png"), Path("out.png")}).status, 0);
  TestBitmap colour(w, h, 24, ORDER_RGB);
  Samples rgb;
  for (size_t p = 0; p < opaque.size(); p += 4)
    rgb.insert(rgb.end(), {opaque[p], opaque[p + 1], opaque[p + 2]});
  Write(colour.get(), rgb, false);
  Invoke("radial-blur", colour.get(), "", nullptr);
  rgb = Read(colour.get(), false);
  const Samples out = Read(fxcli::LoadImage(Path("out.png"))->get(), false);
  for (size_t p = 0; p < out.size() / 4; ++p) {
    EXPECT_EQ(Samples(out.begin() + std::ptrdiff_t(4 * p), out.begin() + std::ptrdiff_t(4 * p + 4)),
              (Samples{rgb[3 * p], rgb[3 * p + 1], rgb[3 * p + 2], 255}))
        << p;
  }
}

// JPEG, PPM and PGM have no alpha: the picture is laid over --background (white by default),
// (c * a + bg * (255 - a) + 127) / 255, instead of showing the colour hidden under transparent
// pixels.
TEST_F(CliAlphaTest, FormatsWithoutAlphaFlattenOntoTheBackground) {
  const int32_t w = 40, h = 30;
  TestBitmap logo(w, h, 32, ORDER_RGB);
  const Samples in = Logo(w, h, 255);
  Write(logo.get(), in, false);
  WriteFile("logo.png", fxcli::EncodeImage(*logo.get(), fxcli::FileFormat::Png));
  ASSERT_EQ(Fxkit({"apply", "swirl", Path("logo.png"), Path("out.ppm"), "angle=0",
                   "--background=#102080"})
                .status,
            0);
  const uint32_t navy[3] = {0x80, 0x20, 0x10};  // blue, green, red
  Samples expected;
  for (size_t p = 0; p < in.size() / 4; ++p)
    for (int k = 0; k < 3; ++k)
      expected.push_back((in[4 * p + k] * in[4 * p + 3] + navy[k] * (255 - in[4 * p + 3]) + 127) /
                         255);
  EXPECT_EQ(Read(fxcli::LoadImage(Path("out.ppm"))->get(), false), expected);

  ASSERT_EQ(Fxkit({"apply", "swirl", Path("logo.png"), Path("out.jpg"), "angle=0"}).status, 0);
  const Samples jpeg = Read(fxcli::LoadImage(Path("out.jpg"))->get(), false);
  for (int k = 0; k < 3; ++k) EXPECT_GT(jpeg[k], 245u) << "a transparent corner is white";
}

}  // namespace
