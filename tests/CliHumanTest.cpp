// The command line's human forms end to end: named modes, colour names, relative values and
// presets give the pixels of the numeric forms; a chain gives the pixels of its steps run one
// after another through files; bad values are usage errors named before the image is read;
// the gallery renders a subset. The chain's one progress is checked in-process.
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "TestSupport.h"
#include "tools/fxkit/Chain.h"
#include "tools/fxkit/Describe.h"
#include "tools/fxkit/ImageIO.h"
#include "tools/fxkit/Values.h"

namespace {

namespace fs = std::filesystem;
using fxtest::WorkingRows;

struct Outcome {
  int status = -1;
  std::string out, err;
};

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

class CliHumanTest : public fxtest::HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    char pattern[] = "/tmp/fxkit-cli-human-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    fs::remove_all(dir_);
    HostFixture::TearDown();
  }
  std::string Path(const std::string& name) const { return (fs::path(dir_) / name).string(); }

  // Runs the binary through the shell; the words hold no single quotes.
  Outcome Fxkit(const std::vector<std::string>& args) const {
    std::string command = FXKIT_CLI_PATH;
    for (const std::string& a : args) command += " '" + a + "'";
    command += " >" + Path("stdout.txt") + " 2>" + Path("stderr.txt");
    const int status = std::system(command.c_str());
    Outcome run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(Path("stdout.txt")),
                ReadText(Path("stderr.txt"))};
    fs::remove(Path("stdout.txt"));
    fs::remove(Path("stderr.txt"));
    return run;
  }

  std::vector<uint8_t> Pixels(const std::string& file) const {
    return WorkingRows(fxcli::LoadImage(Path(file))->get());
  }

  std::string dir_;
};

std::vector<std::string> Words(const std::string& text) {
  return fxcli::SplitWords(text.c_str());
}

// The effect run in this process with the numeric words on the input, after `prepare`.
std::vector<uint8_t> Reference(const std::string& input, const char* effect,
                               const std::string& words, const RECT* region) {
  const fxcli::ImagePtr image = fxcli::LoadImage(input);
  if (region) HostSetRegionRect(image->get(), nullptr, region, 1);
  fxcli::EffectArgs args(*FxFindEffect(effect));
  args.Add(Words(words));
  const std::vector<FxNamedValue>& values = args.Values(image->get());
  EXPECT_EQ(FxInvoke(FxFindEffect(effect), image->get(), values.data(), uint32_t(values.size())),
            SUCCESS);
  return WorkingRows(image->get());
}

TEST_F(CliHumanTest, HumanFormsGiveThePixelsOfTheNumericOnes) {
  const RECT region{20, 30, 120, 80};
  const struct {
    std::string args;     // after "apply"; INPUT is @card:320x240, OUTPUT out.png
    const char* effect;   // the reference run
    const char* numeric;  // its words, worked out by hand from the human ones
    const RECT* region = nullptr;
  } cases[] = {
      // 0xA12 with the shape bits 0xF0 set to polar (0x20).
      {"pixelate @card:320x240 out.png mode=average shape=polar", "pixelate", "flags=0xA22"},
      // The preset's words, cellHeight=5%s of 240 replaced by the given 10.
      {"pixelate @card:320x240 out.png --preset=polar cellHeight=10", "pixelate",
       "cellWidth=15 cellHeight=10 flags=0xA22"},
      {"PIXELATE @card:320x240 out.png Mode=MAX widthIs=count heightIs=count cellWidth=24 "
       "cellHeight=16",
       "pixelate", "cellWidth=24 cellHeight=16 flags=0x510"},
      // teal is #008080, in the API's 0x00BBGGRR layout 0x808000.
      {"spherize @card:320x240 out.png strength=250 outside=edge fillColor=teal", "spherize",
       "strength=250 flags=1 fillColor=0x808000"},
      {"spherize @card:320x240 out.png strength=-300 fold=on fillColor=rgb(255,0,0)", "spherize",
       "strength=-300 flags=0x10 fillColor=0xFF"},
      {"cylindrical @card:320x240 out.png strength=80 direction=horizontal", "cylindrical",
       "strength=80 direction=1"},
      // 5% of the shorter side 240, and the rectangle's top-left corner.
      {"zoom-blur @card:320x240 out.png --preset=corner", "zoom-blur", "length=12 center=0,0"},
      // Within the region 100 x 50 at (20, 30): (20 + 25, 30 + 37) and 2% of 100.
      {"ripple @card:320x240 out.png center=25%,75% amplitude=2%w --region=100x50+20+30", "ripple",
       "center=45,67 amplitude=2", &region},
      // Files first.
      {"@card:320x240 out.png swirl angle=900", "swirl", "angle=900"},
  };
  const std::string card = "@card:320x240";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.args);
    std::vector<std::string> args = {"apply"};
    for (const std::string& w : Words(c.args)) args.push_back(w == "out.png" ? Path(w) : w);
    const Outcome run = Fxkit(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::vector<uint8_t> expected = Reference(card, c.effect, c.numeric, c.region);
    EXPECT_NE(expected, WorkingRows(fxcli::LoadImage(card)->get())) << "the call changes nothing";
    EXPECT_TRUE(Pixels("out.png") == expected) << "pixels differ";
  }
}

TEST_F(CliHumanTest, AChainEqualsItsStepsRunOneAfterAnother) {
  const std::string in = "@card:160x120";
  ASSERT_EQ(Fxkit({"apply", in, Path("chain.png"), "swirl", "angle=900", "--", "ripple",
                   "--preset=pond", "--quiet", "--", "pixelate", "mode=max"})
                .status,
            0);
  ASSERT_EQ(Fxkit({"apply", "swirl", in, Path("chain2.png"), "angle=900", "+", "ripple",
                   "preset=pond", "+", "pixelate", "mode=max"})
                .status,
            0);
  // ripple's pond amplitude is 1% of the picture it receives: 1 on 160 x 120.
  ASSERT_EQ(Fxkit({"apply", "swirl", in, Path("a.png"), "angle=900"}).status, 0);
  ASSERT_EQ(Fxkit({"apply", "ripple", Path("a.png"), Path("b.png"), "--preset=pond"}).status, 0);
  ASSERT_EQ(Fxkit({"apply", "pixelate", Path("b.png"), Path("c.png"), "mode=max"}).status, 0);
  const std::vector<uint8_t> steps = Pixels("c.png");
  EXPECT_NE(steps, Pixels("b.png"));
  EXPECT_TRUE(Pixels("chain.png") == steps);
  EXPECT_TRUE(Pixels("chain2.png") == steps);

  // A failing step names itself; nothing is written.
  const Outcome run =
      Fxkit({"apply", in, Path("fail.png"), "swirl", "--", "swirl", "center=1000,5"});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "fxkit: swirl: ERROR_POINT_OUT_OF_RANGE (-11)\n");
  EXPECT_FALSE(fs::exists(Path("fail.png")));
}

TEST_F(CliHumanTest, BadValuesAreUsageErrorsNamedBeforeTheImageIsRead) {
  // The input does not exist: every value error below is found before it is opened.
  const std::string missing = Path("missing.png"), out = Path("out.png");
  const struct {
    std::vector<std::string> args;
    const char* message;
  } cases[] = {
      {{"apply", "spherize", missing, out, "strength=600"},
       "fxkit: spherize: strength=600 is outside -500..500"},
      {{"apply", "swirl", missing, out, "angle=3000000000"},
       "fxkit: swirl: angle=3000000000 is outside -2147483648..2147483647"},
      {{"apply", "swirl", missing, out, "flags=1"}, "fxkit: swirl: flags=1 is outside 0x0..0x0"},
      {{"apply", "zoom-blur", missing, out, "length=-1"},
       "fxkit: zoom-blur: length=-1 is outside 0..4294967295"},
      {{"apply", "pixelate", missing, out, "flags=0", "shape=grid"},
       "fxkit: pixelate: flags=0x10 is outside 0x110..0xFFF00FFF"},
      {{"apply", "swril", missing, out}, "fxkit: unknown effect 'swril' (did you mean swirl?)"},
      {{"apply", missing, out, "swril"}, "fxkit: unknown effect 'swril' (did you mean swirl?)"},
      {{"apply", "swirl", missing, out, "angel=5"},
       "fxkit: swirl: unknown parameter 'angel' (did you mean angle?)"},
      {{"apply", "pixelate", missing, out, "mode=avrage"},
       "fxkit: pixelate: mode=avrage: expected max, min or average (did you mean average?)"},
      {{"apply", "spherize", missing, out, "fillColor=whte"}, "(did you mean white?)"},
      {{"apply", "swirl", missing, out, "--preset=strnog"},
       "fxkit: swirl: unknown preset 'strnog' (did you mean strong?)"},
      {{"apply", "swirl", missing, out, "--preset=strong", "preset=reverse"},
       "fxkit: swirl: preset=strong: preset reverse already given"},
      {{"apply", "swirl", missing, out, "angle=1", "ANGLE=2"}, "ANGLE given twice"},
      {{"apply", "swirl", missing, out, "--", "nope"}, "fxkit: unknown effect 'nope'"},
      {{"apply", "swirl", missing, out, "--"}, "an effect is missing after the last '--'"},
      {{"apply", "swirl", missing, out, "ripple"}, "separate the steps with --"},
      {{"help", "swril"}, "fxkit: unknown effect 'swril' (did you mean swirl?)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    const Outcome run = Fxkit(c.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_EQ(run.err.find("missing.png"), std::string::npos) << run.err;
  }
  // A relative value is measured once the picture is read, and still refused by name.
  const Outcome run = Fxkit({"apply", "pixelate", "@card:64x48", out, "cellWidth=1%s"});
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "fxkit: pixelate: cellWidth=1%s is 0 on this picture, outside 1..2147483647\n");
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliHumanTest, GalleryRendersOnlyTheEffectsAskedFor) {
  const Outcome run =
      Fxkit({"gallery", "@card:96x72", Path("g"), "--only", "Ripple, swirl", "--quiet"});
  ASSERT_EQ(run.status, 0) << run.err;
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(Path("g")))
    if (entry.is_regular_file()) files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files,
            (std::vector<std::string>{"index.html", "input.png", "ripple--fill.png",
                                      "ripple--pond.png", "ripple--splash.png", "ripple.png",
                                      "swirl--reverse.png", "swirl--strong.png", "swirl.png"}));
  const std::string html = ReadText(Path("g/index.html"));
  // In the order asked for, each captioned with the command that makes it.
  EXPECT_LT(html.find("<h2>ripple</h2>"), html.find("<h2>swirl</h2>"));
  EXPECT_NE(html.find("<code>fxkit apply ripple @card:96x72 ripple--pond.png --preset=pond</code>"),
            std::string::npos);
  EXPECT_EQ(html.find("pixelate"), std::string::npos);
  // A thumbnail is at most 320 wide: the card's own size here.
  EXPECT_EQ(fxcli::LoadImage(Path("g/thumbs/swirl.png"))->get()->Width, 96);

  const Outcome unknown = Fxkit({"gallery", "@card:96x72", Path("h"), "--only", "swirl,ripel"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_EQ(unknown.err, "fxkit: unknown effect 'ripel' (did you mean ripple?)\n");
}

// The help lists every named field with its names, and the presets as they are written.
TEST(CliHumanHelpTest, HelpListsTheNamedFields) {
  for (uint32_t i = 0; i < FxEffectCount(); ++i) {
    const FxEffectDesc& e = *FxEffectAt(i);
    const std::string help = fxcli::EffectHelpText(e);
    auto expectFields = [&](const FxFlagField* fields, uint32_t count) {
      for (uint32_t k = 0; k < count; ++k) {
        std::string names = std::string(fields[k].name) + "=";
        for (uint32_t v = 0; v < fields[k].valueCount; ++v)
          names += (v ? "|" : "") + std::string(fields[k].values[v].name);
        EXPECT_NE(help.find(names), std::string::npos) << e.shortName << ": " << names;
      }
    };
    for (uint32_t p = 0; p < e.paramCount; ++p) {
      expectFields(e.params[p].flagFields, e.params[p].flagFieldCount);
      if (e.params[p].kind == FX_KIND_RECORD)
        for (uint32_t f = 0; f < e.params[p].record->fieldCount; ++f)
          expectFields(e.params[p].record->fields[f].flagFields,
                       e.params[p].record->fields[f].flagFieldCount);
    }
    for (uint32_t p = 0; p < e.presetCount; ++p)
      EXPECT_NE(help.find(e.presets[p].values), std::string::npos) << e.presets[p].name;
  }
}

// Every preset measures within its ranges from a thumbnail to a 12-megapixel photo.
class PresetSizeTest : public fxtest::HostFixture {};

TEST_F(PresetSizeTest, EveryPresetFitsPicturesOfEverySize) {
  for (const auto& [w, h] : {std::pair{96, 72}, {640, 480}, {480, 640}, {4000, 3000}}) {
    fxtest::TestBitmap picture(w, h, 8, ORDER_GRAY);
    ASSERT_TRUE(picture.ok());
    for (uint32_t i = 0; i < FxEffectCount(); ++i) {
      const FxEffectDesc& e = *FxEffectAt(i);
      for (uint32_t p = 0; p < e.presetCount; ++p) {
        fxcli::EffectArgs args(e);
        EXPECT_NO_THROW({
          args.AddPreset(e.presets[p].name);
          args.Values(picture.get());
        }) << e.shortName
           << " " << e.presets[p].name << " on " << w << "x" << h;
      }
    }
  }
}

// The chain's steps share one progress: rising, each step within its share, 100 at the end.
class ChainProgressTest : public fxtest::HostFixture {};

std::vector<int32_t> gPercents;
int32_t Record(int32_t percent, void*) {
  gPercents.push_back(percent);
  return SUCCESS;
}

TEST_F(ChainProgressTest, OneProgressOverTheSteps) {
  fxcli::Chain chain("swirl", Words("angle=900 + ripple amplitude=3 + swirl angle=-500"));
  ASSERT_EQ(chain.size(), 3u);
  fxtest::TestBitmap b(64, 48, 24, ORDER_BGR);
  b.FillNoise(9);
  gPercents.clear();
  FxStatusCallback previous = nullptr;
  void* previousUser = nullptr;
  HostExchangeCallback(&Record, nullptr, &previous, &previousUser);
  const int32_t rc = chain.Run(b.get());
  HostExchangeCallback(previous, previousUser, nullptr, nullptr);
  ASSERT_EQ(rc, SUCCESS);
  ASSERT_FALSE(gPercents.empty());
  EXPECT_TRUE(std::is_sorted(gPercents.begin(), gPercents.end()));
  EXPECT_EQ(gPercents.back(), 100);
  // Each effect reports up to 100 of its own: the first step ends at a third of the whole.
  EXPECT_NE(std::find(gPercents.begin(), gPercents.end(), 33), gPercents.end());
  EXPECT_NE(std::find(gPercents.begin(), gPercents.end(), 66), gPercents.end());
  EXPECT_EQ(std::count(gPercents.begin(), gPercents.end(), 100), 1);
}

}  // namespace
