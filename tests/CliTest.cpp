// The fxkit command line end to end (the built binary, run as a child process).
#include <functional>
#include <tuple>


#include "CliSupport.h"
#include "tools/fxkit/Card.h"
#include "tools/fxkit/Describe.h"
#include "tools/fxkit/ImageIO.h"
#include "tools/fxkit/Values.h"

namespace {

namespace fs = std::filesystem;
using fxtest::Outcome;
using fxtest::ReadText;
using fxtest::WorkingRows;

class CliTest : public fxtest::CliFixture {};

// The same call made in this process: the bitmap the command should have written.
using Prepare = std::function<void(BitmapRecord*)>;
std::vector<uint8_t> Expected(fxcli::Image& image, const char* effect,
                              const std::vector<std::string>& words, const Prepare& prepare) {
  const FxEffectDesc* e = FxFindEffect(effect);
  EXPECT_NE(e, nullptr);
  fxcli::EffectArgs args(*e);
  args.Add(words);
  const uint8_t orientation = image->Orientation;
  if (prepare) prepare(image.get());
  const std::vector<FxNamedValue>& values = args.Values(image.get());
  EXPECT_EQ(FxInvoke(e, image.get(), values.data(), uint32_t(values.size())), SUCCESS);
  HostSetOrientation(nullptr, image.get(), BITMAP_STRUCT_SIZE, orientation, 0);
  return WorkingRows(image.get());
}

TEST_F(CliTest, ApplyWritesWhatTheLibraryComputes) {
  // A 16-bit colour input and a disc-shaped mask, as files.
  fxtest::TestBitmap deep(64, 48, 48, ORDER_RGB);
  deep.FillSmooth();
  WriteFile("deep.ppm", fxcli::EncodeImage(*deep.get(), fxcli::FileFormat::Ppm));
  fxtest::TestBitmap mask(320, 240, 8, ORDER_GRAY);
  std::vector<uint8_t> inside(320 * 240);
  for (int32_t y = 0; y < 240; ++y)
    for (int32_t x = 0; x < 320; ++x) {
      const bool in = (x - 150) * (x - 150) + (y - 125) * (y - 125) < 60 * 60;
      mask->Data[int64_t{y} * mask->BytesPerLine + x] = in ? 200 : 0;
      inside[size_t(y) * 320 + x] = in;
    }
  WriteFile("mask.pgm", fxcli::EncodeImage(*mask.get(), fxcli::FileFormat::Pgm));

  struct Case {
    const char* effect;
    const char* input;
    const char* output;
    std::string args;  // after "apply EFFECT INPUT OUTPUT"; "--" words are options
    Prepare prepare;   // what the options do to the bitmap
    int32_t outputBits;
  };
  const RECT region{150, 100, 250, 150};
  const std::vector<Case> cases = {
      {"swirl", "@card", "s.png", "angle=9000 center=320,240", nullptr, 24},
      {"Fx_SwirlBitmap", "@card:200x150", "s.ppm", "--quiet", nullptr, 24},
      {"swirl", "@card:320x240", "r.png", "--region=100x50+150+100 angle=-3000",
       [&](BitmapRecord* b) { HostSetRegionRect(b, nullptr, &region, 1); }, 24},
      // A negative offset after its '+': the region reaches past the top-left corner, clipped.
      {"swirl", "@card:320x240", "n.png", "--region=100x50+-10+-5 angle=1500 center=40,20",
       [&](BitmapRecord* b) {
         const RECT r{-10, -5, 90, 45};
         HostSetRegionRect(b, nullptr, &r, 1);
       },
       24},
      {"swirl", "@card:320x240", "m.png", "angle=2000 --region-mask=" + Path("mask.pgm"),
       [&](BitmapRecord* b) { HostSetRegionMask(b, inside.data(), 320); }, 24},
      // The input taken as a photo tagged with orientation 6: turned upright, then the effect.
      {"swirl", "@card:320x240", "o.png", "--orientation=6 angle=1500 center=100,200",
       [](BitmapRecord* b) {
         HostSetOrientation(nullptr, b, BITMAP_STRUCT_SIZE, 6, 0);
         HostChangeOrientation(b, b, BITMAP_STRUCT_SIZE, 1);
       },
       24},
      {"swirl", "deep.ppm", "d.png", "angle=2500", nullptr, 48},  // 16-bit stays 16-bit
      // The pixels do not depend on the threads the rows run on.
      {"spherize", "@card:320x240", "t1.png", "--threads=1 strength=300", nullptr, 24},
      {"spherize", "@card:320x240", "t3.png", "--threads=3 strength=300", nullptr, 24},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.output);
    const std::string input = c.input[0] == '@' ? c.input : Path(c.input);
    std::vector<std::string> args = {"apply", c.effect, input, Path(c.output)}, words;
    for (const std::string& a : fxcli::SplitWords(c.args.c_str())) {
      args.push_back(a);
      if (a.rfind("--", 0) != 0) words.push_back(a);
    }
    const Outcome run = Fxkit(args);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.err + run.out, "");
    const fxcli::ImagePtr written = fxcli::LoadImage(Path(c.output));
    EXPECT_EQ(written->get()->BitsPerPixel, c.outputBits);
    const fxcli::ImagePtr reference = fxcli::LoadImage(input);
    const std::vector<uint8_t> original = WorkingRows(reference->get());
    const std::vector<uint8_t> expected = Expected(*reference, c.effect, words, c.prepare);
    EXPECT_NE(expected, original) << "the call changes the image";
    EXPECT_TRUE(WorkingRows(written->get()) == expected) << "written pixels differ";
  }
}

TEST_F(CliTest, EffectErrorsExitOneAndWriteNothing) {
  // Combinations the registry's ranges cannot express: the effect's own code is the final word.
  const std::tuple<const char*, const char*, const char*> cases[] = {
      {"swirl", "center=1000,5", "fxkit: swirl: ERROR_POINT_OUT_OF_RANGE (-11)\n"},
      {"ripple", "center=-5,5", "fxkit: ripple: ERROR_POINT_OUT_OF_RANGE (-11)\n"},
  };
  for (const auto& [effect, word, message] : cases) {
    SCOPED_TRACE(word);
    const Outcome run = Fxkit({"apply", effect, "@card", Path("out.png"), word});
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err, message);
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(Path("out.png")));
  }
}

TEST_F(CliTest, UsageErrorsExitTwoWithOneLineNamingTheCulprit) {
  WriteFile("small.pgm", fxcli::EncodeImage(*fxcli::MakeCard(8, 8)->get(), fxcli::FileFormat::Pgm));
  const std::string out = Path("out.png");
  struct Case {
    std::vector<std::string> args;
    std::string culprit;
  };
  const std::vector<Case> cases = {
      {{"apply", "nope", "@card", out}, "unknown effect 'nope'"},
      {{"apply", "swirl", "@card", out, "foo=1"}, "unknown parameter 'foo'"},
      {{"apply", "swirl", "@card", out, "angle=abc"}, "angle=abc"},
      {{"apply", "swirl", "@card", Path("out.tif")}, "out.tif"},
      {{"apply", "swirl", Path("missing.png"), out}, "missing.png"},
      {{"apply", "swirl", "@card", out, "--region=10x10+700+0"}, "outside the image"},
      {{"apply", "swirl", "@card", out, "--region-mask=" + Path("small.pgm")}, "mask is 8x8"},
      {{"apply", "swirl", "@card", out, "--orientation=0"}, "--orientation=0"},
      {{"apply", "swirl", "@card", out, "--threads=0"}, "--threads=0"},
      {{"apply", "swirl", "@card"}, "OUTPUT"},
      {{"apply", "swirl", "@card", out, "--bogus"}, "--bogus"},
      {{"bogus"}, "unknown command 'bogus'"},
      {{"help", "nope"}, "unknown effect 'nope'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.culprit);
    const Outcome run = Fxkit(c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err.rfind("fxkit: ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find(c.culprit), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(fs::exists(out));
  }
}

TEST_F(CliTest, ListHelpAndVersion) {
  Outcome run = Fxkit({"--version"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, std::string(FxVersion()) + "\n");

  run = Fxkit({"list"});
  EXPECT_EQ(run.status, 0);
  std::string exports;
  for (uint32_t i = 0; i < FxEffectCount(); ++i) {
    const FxEffectDesc* e = FxEffectAt(i);
    SCOPED_TRACE(e->shortName);
    EXPECT_NE(run.out.find(std::string("  ") + e->shortName + " "), std::string::npos);
    exports += std::string(e->exportName) + "\n";
    // The help names each parameter and shows the presets.
    const std::string help = fxcli::EffectHelpText(*e);
    for (uint32_t p = 0; p < e->paramCount; ++p)
      EXPECT_NE(help.find(std::string("  ") + e->params[p].name), std::string::npos)
          << e->params[p].name;
    for (uint32_t p = 0; p < e->presetCount; ++p)
      EXPECT_NE(help.find(e->presets[p].values), std::string::npos);
  }
  EXPECT_EQ(Fxkit({"list", "--exports"}).out, exports);
  EXPECT_EQ(Fxkit({"help", "Fx_SwirlBitmap"}).out, fxcli::EffectHelpText(*FxFindEffect("swirl")));
}

// Every effect with its defaults and every preset succeeds on the card: one picture each, all
// listed on the sheet.
TEST_F(CliTest, GalleryWritesEveryRunAndTheContactSheet) {
  const Outcome run = Fxkit({"gallery", "@card:96x72", Path("g"), "--quiet"});
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("index.html"), std::string::npos);
  const std::string html = ReadText(Path("g/index.html"));
  const fxcli::ImagePtr input = fxcli::LoadImage(Path("g/input.png"));
  for (uint32_t i = 0; i < FxEffectCount(); ++i) {
    const FxEffectDesc* e = FxEffectAt(i);
    for (uint32_t p = 0; p <= e->presetCount; ++p) {
      std::string file = e->shortName;
      if (p) file += "--" + std::string(e->presets[p - 1].name);
      for (char& c : file) c = std::isalnum(uint8_t(c)) ? char(std::tolower(c)) : '-';
      file += ".png";
      EXPECT_TRUE(fs::exists(Path("g/" + file))) << file;
      EXPECT_TRUE(fs::exists(Path("g/thumbs/" + file))) << file;
      EXPECT_NE(html.find("<a href=\"" + file + "\"><img src=\"thumbs/" + file + "\""),
                std::string::npos)
          << file;
      if (p) continue;
      // The defaults change the picture, and keep its size unless the effect resizes.
      const fxcli::ImagePtr picture = fxcli::LoadImage(Path("g/" + file));
      if (!(e->traits & FX_TRAIT_RESIZES)) {
        EXPECT_EQ(picture->get()->Width, 96) << file;
      }
      EXPECT_NE(WorkingRows(picture->get()), WorkingRows(input->get())) << file;
    }
  }
}

}  // namespace
