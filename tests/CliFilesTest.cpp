// The command line's files: outputs replaced only when complete, standard input and output,
// formats by option, ASCII PNM, JPEG quality, and the same pixels from the same command.
#include <sys/stat.h>

#include "CliSupport.h"
#include "tools/fxkit/Card.h"
#include "tools/fxkit/ImageIO.h"

namespace {

namespace fs = std::filesystem;
using fxtest::Outcome;
using fxtest::ReadBytes;

class CliFilesTest : public fxtest::CliFixture {
 protected:
  void SetUp() override {
    CliFixture::SetUp();
    WriteFile("in.png",
              fxcli::EncodeImage(*fxcli::MakeCard(320, 240)->get(), fxcli::FileFormat::Png));
    original_ = ReadBytes(Path("in.png"));
  }
  std::vector<uint8_t> original_;
};

// A write that fails part-way (here the file-size limit, as on a full disk) leaves an existing
// file as it was, even when it is the input, and leaves no partial or temporary file behind.
TEST_F(CliFilesTest, FailedWritesKeepExistingFilesAndLeaveNothingBehind) {
  // A user's shell leaves SIGXFSZ at its default (death); the tool must survive it itself.
  const std::string limit = "ulimit -f 8;";
  for (const char* output : {"in.png", "new.png"}) {
    SCOPED_TRACE(output);
    const Outcome run = Fxkit({"apply", "impressionist", Path("in.png"), Path(output)}, limit);
    EXPECT_EQ(run.status, 2) << run.err;
    EXPECT_NE(run.err.find(std::string(output) + ": cannot write: File too large"),
              std::string::npos)
        << run.err;
    EXPECT_EQ(ReadBytes(Path("in.png")), original_);
    EXPECT_EQ(Listing(), std::vector<std::string>{"in.png"});
  }
}

// A successful write replaces the file whole: through a symbolic link, keeping the permission
// bits of the file it replaces.
TEST_F(CliFilesTest, ReplacingKeepsLinksAndPermissions) {
  WriteFile("target.png", {1, 2, 3});
  ASSERT_EQ(chmod(Path("target.png").c_str(), 0640), 0);
  fs::create_symlink("target.png", Path("link.png"));
  const Outcome run = Fxkit({"apply", "swirl", Path("in.png"), Path("link.png")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(fs::is_symlink(Path("link.png")));
  struct stat info {};
  ASSERT_EQ(stat(Path("target.png").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
  const fxcli::ImagePtr written = fxcli::LoadImage(Path("target.png"));
  EXPECT_EQ(written->get()->Width, 320);
  EXPECT_EQ(Listing(), (std::vector<std::string>{"in.png", "link.png", "target.png"}));
}

// Effects that read the generator or the clocks give the same pixels on every run: without
// options the generator is seeded with 1 and the clocks read 1000000 ms and 1700000000 s.
TEST_F(CliFilesTest, SameCommandSamePixels) {
  const char* words[] = {"newWidth=150", "newHeight=100"};
  const Outcome run = Fxkit(
      {"apply", "intelligent-down-scale", "@card:200x150", Path("a.png"), words[0], words[1]});
  ASSERT_EQ(run.status, 0) << run.err;
  fxcli::ImagePtr expected = fxcli::MakeCard(200, 150);
  const FxEffectDesc* effect = FxFindEffect("intelligent-down-scale");
  const FxNamedValue values[] = {{"newWidth", {150}, 0}, {"newHeight", {100}, 0}};
  HostSeedRandom(1);
  HostFixTickCount(1000000);
  HostFixTime(1700000000);
  ASSERT_EQ(FxInvoke(effect, expected->get(), values, 2), SUCCESS);
  HostReleaseClocks();
  const fxcli::ImagePtr written = fxcli::LoadImage(Path("a.png"));
  EXPECT_EQ(fxtest::WorkingRows(written->get()), fxtest::WorkingRows(expected->get()));

  // Other values change the result on purpose; "now" is accepted for either clock.
  ASSERT_EQ(Fxkit({"apply", "intelligent-down-scale", "@card:200x150", Path("b.png"), words[0],
                   words[1], "--time=1234567", "--tick=now"})
                .status,
            0);
  EXPECT_NE(ReadBytes(Path("a.png")), ReadBytes(Path("b.png")));
  EXPECT_EQ(Fxkit({"apply", "swirl", "@card", Path("c.png"), "--time=now"}).status, 0);
}

// "-" reads standard input and writes standard output (with --format); --format also names the
// format of a path without a known extension.
TEST_F(CliFilesTest, StandardInputOutputAndFormatOption) {
  ASSERT_EQ(Fxkit({"apply", "swirl", Path("in.png"), Path("ref.png")}).status, 0);
  Outcome run = Fxkit({"apply", "swirl", "-", "-", "--format=PNG"}, "", Path("in.png"));
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(std::vector<uint8_t>(run.out.begin(), run.out.end()), ReadBytes(Path("ref.png")));

  run = Fxkit({"apply", "swirl", Path("in.png"), Path("picture"), "--format=jpg"});
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<uint8_t> jpeg = ReadBytes(Path("picture"));
  ASSERT_GE(jpeg.size(), 3u);
  EXPECT_EQ(jpeg[0], 0xFF);
  EXPECT_EQ(jpeg[1], 0xD8);

  struct Bad {
    std::vector<std::string> args;
    const char* culprit;
  };
  const Bad bad[] = {
      {{"apply", "swirl", Path("in.png"), "-"}, "--format"},
      {{"apply", "swirl", Path("in.png"), "-", "--format=tif"}, "--format=tif"},
      {{"apply", "swirl", Path("in.png"), Path("o.png"), "--quality=50"}, "--quality=50"},
      {{"apply", "swirl", Path("in.png"), Path("o.jpg"), "--quality=0"}, "--quality=0"},
      {{"apply", "swirl", Path("in.png"), Path("o.jpg"), "--background=blurple"}, "--background"},
  };
  for (const Bad& b : bad) {
    SCOPED_TRACE(b.culprit);
    run = Fxkit(b.args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find(b.culprit), std::string::npos) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

// --quality reaches the JPEG encoder: the file is the one the encoder makes at that quality.
TEST_F(CliFilesTest, JpegQuality) {
  ASSERT_EQ(Fxkit({"apply", "swirl", Path("in.png"), Path("q30.jpg"), "--quality=30"}).status, 0);
  ASSERT_EQ(Fxkit({"apply", "swirl", Path("in.png"), Path("q92.jpg")}).status, 0);
  fxcli::ImagePtr image = fxcli::LoadImage(Path("in.png"));
  const FxNamedValue none{};
  ASSERT_EQ(FxInvoke(FxFindEffect("swirl"), image->get(), &none, 0), SUCCESS);
  fxcli::EncodeOptions options;
  options.quality = 30;
  EXPECT_EQ(ReadBytes(Path("q30.jpg")),
            fxcli::EncodeImage(*image->get(), fxcli::FileFormat::Jpeg, options));
  EXPECT_LT(ReadBytes(Path("q30.jpg")).size(), ReadBytes(Path("q92.jpg")).size());
}

// 8-bit PPM and PGM files load straight into the bitmap and save straight from it; whatever the
// file, that gives the pixels (or the message) of decoding and encoding the whole file in memory.
TEST_F(CliFilesTest, PnmFilesReadAndWrittenInPlaceMatchTheWholeFileCodec) {
  using namespace std::string_literals;
  auto noise = [](size_t n) {
    std::string bytes(n, '\0');
    for (size_t i = 0; i < n; ++i) bytes[i] = char(i * 2654435761u >> 13);
    return bytes;
  };
  const std::string cases[] = {
      "P6\n5 3\n255\n"s + noise(45),                             // rows padded in the bitmap
      "P6 4 2 255 "s + noise(24) + "trailing",                     // bytes after the samples
      "P5\n# a comment\n7 2\n255\n"s + noise(14),                // gray
      "P6\n#" + std::string(5000, 'x') + "\n2 2\n255\n" + noise(12),  // header beyond 4 KiB
      "P6\n300 40\n255\n"s + noise(36000),                       // several bands of rows
      "P6\n3 3\n255\n"s + noise(26),                             // one byte short
      "P5\n2 2\n1000\n"s + noise(8),                             // other maxvals decode
      "P6\n0 2\n255\n"s,
  };
  int32_t index = 0;
  for (const std::string& file : cases) {
    SCOPED_TRACE(index);
    const std::string name = Path("case" + std::to_string(index++) + ".ppm");
    WriteFile(fs::path(name).filename(), std::vector<uint8_t>(file.begin(), file.end()));
    std::string loadMessage, decodeMessage;
    fxcli::ImagePtr loaded, decoded;
    try {
      loaded = fxcli::LoadImage(name);
    } catch (const fxcli::UsageError& e) {
      loadMessage = e.what();
    }
    try {
      decoded = fxcli::DecodeImage(reinterpret_cast<const uint8_t*>(file.data()), file.size(), name);
    } catch (const fxcli::UsageError& e) {
      decodeMessage = e.what();
    }
    EXPECT_EQ(loadMessage, decodeMessage);
    ASSERT_EQ(loaded == nullptr, decoded == nullptr);
    if (!loaded) continue;
    EXPECT_EQ(fxtest::WorkingRows(loaded->get()), fxtest::WorkingRows(decoded->get()));
    for (const auto format : {fxcli::FileFormat::Ppm, fxcli::FileFormat::Pgm}) {
      const std::string out = Path("out.pnm");
      fxcli::SaveImage(*loaded->get(), out, format, {});
      EXPECT_EQ(ReadBytes(out), fxcli::EncodeImage(*decoded->get(), format));
    }
  }
}

}  // namespace
