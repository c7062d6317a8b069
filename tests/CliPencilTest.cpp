// Colored pencil, colored pencil ext, dry and aging through `fxkit apply`: 8- and 16-bit gray and
// colour files, with a region, a mask and an orientation, against the same calls made in this
// process; and aging's densest scratches ending promptly.
#include <functional>

#include "CliSupport.h"
#include "tools/fxkit/ImageIO.h"
#include "tools/fxkit/Values.h"

namespace {

using fxtest::Outcome;
using fxtest::WorkingRows;

class CliPencilTest : public fxtest::CliFixture {};

using Prepare = std::function<void(BitmapRecord*)>;

// What the command should write: the options' effect on the picture, then the call, with the
// generator and clocks as the command sets them by default.
std::vector<uint8_t> Expected(fxcli::Image& image, const char* effect,
                              const std::vector<std::string>& words, const Prepare& prepare) {
  const FxEffectDesc* e = FxFindEffect(effect);
  EXPECT_NE(e, nullptr);
  fxcli::EffectArgs args(*e);
  args.Add(words);
  const uint8_t orientation = image->Orientation;
  if (prepare) prepare(image.get());
  const std::vector<FxNamedValue>& values = args.Values(image.get());
  HostSeedRandom(1);
  HostFixTickCount(1000000);
  HostFixTime(1700000000);
  EXPECT_EQ(FxInvoke(e, image.get(), values.data(), uint32_t(values.size())), SUCCESS);
  HostSetOrientation(nullptr, image.get(), BITMAP_STRUCT_SIZE, orientation, 0);
  return WorkingRows(image.get());
}

TEST_F(CliPencilTest, EveryDepthRegionMaskAndOrientation) {
  const struct {
    const char* name;
    int32_t bpp;
    uint32_t order;
    fxcli::FileFormat format;
  } files[] = {{"g8.pgm", 8, ORDER_GRAY, fxcli::FileFormat::Pgm},
               {"g16.pgm", 16, ORDER_GRAY, fxcli::FileFormat::Pgm},
               {"c8.ppm", 24, ORDER_RGB, fxcli::FileFormat::Ppm},
               {"c16.ppm", 48, ORDER_RGB, fxcli::FileFormat::Ppm}};
  for (const auto& f : files) {
    fxtest::TestBitmap b(64, 48, f.bpp, f.order);
    b.FillSmooth();
    WriteFile(f.name, fxcli::EncodeImage(*b.get(), f.format));
  }
  fxtest::TestBitmap mask(64, 48, 8, ORDER_GRAY);
  std::vector<uint8_t> inside(64 * 48);
  for (int32_t y = 0; y < 48; ++y)
    for (int32_t x = 0; x < 64; ++x) {
      const bool in = (x - 30) * (x - 30) + (y - 22) * (y - 22) < 18 * 18;
      mask->Data[int64_t{y} * mask->BytesPerLine + x] = in ? 255 : 0;
      inside[size_t(y) * 64 + x] = in;
    }
  WriteFile("mask.pgm", fxcli::EncodeImage(*mask.get(), fxcli::FileFormat::Pgm));

  const RECT region{10, 8, 50, 38};
  const struct {
    std::string option;
    Prepare prepare;
  } options[] = {
      {"", nullptr},
      {"--region=40x30+10+8", [&](BitmapRecord* b) { HostSetRegionRect(b, nullptr, &region, 1); }},
      {"--region-mask=" + Path("mask.pgm"),
       [&](BitmapRecord* b) { HostSetRegionMask(b, inside.data(), 64); }},
      {"--orientation=6",
       [](BitmapRecord* b) {
         HostSetOrientation(nullptr, b, BITMAP_STRUCT_SIZE, 6, 0);
         HostChangeOrientation(b, b, BITMAP_STRUCT_SIZE, 1);
       }},
  };
  const struct {
    const char* effect;
    std::vector<std::string> words;
  } effects[] = {
      {"colored-pencil", {"strength=80", "size=15"}},
      {"colored-pencil-ext", {"pipeline=split", "strokeLength=6", "over=photo"}},
      {"colored-pencil-ext", {"strokeAngle=-3000", "strokeLength=9"}},
      {"dry", {"size=4"}},
      {"aging", {"vertScratchCount=5", "maxScratchLength=30"}},
  };
  size_t turn = 0;  // each effect meets every option on some file
  for (const auto& e : effects) {
    for (size_t i = 0; i < std::size(files); ++i) {
      const auto& option = options[(i + turn) % std::size(options)];
      const std::string input = Path(files[i].name), output = Path("out.png");
      SCOPED_TRACE(std::string(e.effect) + " " + files[i].name + " " + option.option);
      std::vector<std::string> args = {"apply", e.effect, input, output};
      args.insert(args.end(), e.words.begin(), e.words.end());
      if (!option.option.empty()) args.push_back(option.option);
      const Outcome out = Fxkit(args);
      ASSERT_EQ(out.status, 0) << out.err;
      const fxcli::ImagePtr written = fxcli::LoadImage(output);
      const fxcli::ImagePtr reference = fxcli::LoadImage(input);
      EXPECT_EQ(written->get()->BitsPerPixel, reference->get()->BitsPerPixel);
      const std::vector<uint8_t> original = WorkingRows(reference->get());
      const std::vector<uint8_t> expected = Expected(*reference, e.effect, e.words, option.prepare);
      EXPECT_NE(expected, original) << "the call changes the picture";
      EXPECT_TRUE(WorkingRows(written->get()) == expected) << "written pixels differ";
    }
    ++turn;
  }
}

TEST_F(CliPencilTest, AgingWithEndlessScratchesReturns) {
  // A 17 x 13 picture cannot hold the starts of so many long scratches: the search stops when
  // the mask is full. The CPU limit turns a hang into a failure.
  const Outcome out =
      Fxkit({"apply", "aging", "@card:17x13", Path("old.png"), "vertScratchCount=1000000",
             "horzScratchCount=1000000", "maxScratchLength=100000", "scratches=both"},
            "ulimit -t 20;");
  EXPECT_EQ(out.status, 0) << out.err;
  EXPECT_TRUE(std::filesystem::exists(Path("old.png")));
}

}  // namespace
