// The dot and tile effects through `fxkit apply`: a seed (or a fixed tick count) repeats the
// picture, another one changes it; the colored balls' palette is a list of colours whose count
// comes from the list; the puzzle's fit writes the resized picture.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"
#include "tools/fxkit/ImageIO.h"
#include "tools/fxkit/Values.h"

namespace {

namespace fs = std::filesystem;

class CliDotsAndTilesTest : public fxtest::HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    char pattern[] = "/tmp/fxkit-dots-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    fs::remove_all(dir_);
    HostFixture::TearDown();
  }
  // `fxkit apply EFFECT INPUT OUT WORDS...` from "EFFECT INPUT WORDS..." (no quotes in them);
  // the written picture.
  fxcli::ImagePtr Apply(const std::string& words, const std::string& out) {
    const std::string path = (fs::path(dir_) / out).string();
    const size_t second = words.find(' ', words.find(' ') + 1);
    const std::string head = words.substr(0, second);
    const std::string rest = second == std::string::npos ? "" : words.substr(second);
    const std::string command = std::string(FXKIT_CLI_PATH) + " apply " + head + " " + path + rest +
                                " --quiet >/dev/null 2>&1";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
    return fxcli::LoadImage(path);
  }
  std::string dir_;
};

std::vector<uint8_t> Rows(const fxcli::ImagePtr& image) {
  return fxtest::WorkingRows(image->get());
}

TEST_F(CliDotsAndTilesTest, SeedsRepeatThePictureAndPalettesAreColourLists) {
  const struct {
    const char* words;  // between "apply" and the output
    const char* same;   // the option that must repeat the picture
    const char* other;  // and one that must change it
  } cases[] = {
      {"pointillist @card:160x120 dotRadius=3", "--srand=5", "--srand=6"},
      {"colored-balls @card:160x120 ballCount=300", "--srand=5", "--srand=6"},
      {"ring-effect @card:160x120 seed=0", "--tick=1000", "--tick=1001"},
      {"puzzle-effect @card:160x120 seed=0 flags=0x22", "--tick=1000", "--tick=1003"},
      {"dice-effect @card:160x120 seed=0", "--tick=1000", "--tick=1001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    const auto a = Rows(Apply(std::string(c.words) + " " + c.same, "a.png"));
    const auto b = Rows(Apply(std::string(c.words) + " " + c.same, "b.png"));
    const auto other = Rows(Apply(std::string(c.words) + " " + c.other, "c.png"));
    EXPECT_TRUE(a == b) << "the same seed gave another picture";
    EXPECT_FALSE(a == other) << "another seed gave the same picture";
  }

  // palette=0x0000FF,#00FF00 is the list {0x0000FF, 0x00FF00} with count 2: the same picture as
  // the call made with those values.
  const auto written =
      Rows(Apply("colored-balls @card:160x120 palette=0x0000FF,#00FF00 --srand=9", "p.png"));
  const FxEffectDesc* e = FxFindEffect("colored-balls");
  fxcli::EffectArgs args(*e);
  args.Add(fxcli::SplitWords("palette=0x0000FF,#00FF00"));
  const auto& values = args.Values();
  ASSERT_EQ(values.size(), 1u);
  EXPECT_EQ(values[0].count, 2u);
  const auto* list = static_cast<const int32_t*>(values[0].value.ptr);
  EXPECT_EQ(list[0], 0x0000FF);
  EXPECT_EQ(list[1], 0x00FF00);
  const fxcli::ImagePtr card = fxcli::LoadImage("@card:160x120");
  HostSeedRandom(9);
  ASSERT_EQ(FxInvoke(e, card->get(), values.data(), uint32_t(values.size())), SUCCESS);
  EXPECT_TRUE(Rows(card) == written);
}

TEST_F(CliDotsAndTilesTest, FitWritesTheResizedPicture) {
  // 160 x 120 with tiles of 50 x 40: 160 mod 50 = 10 < 25, 3 columns; 3 rows: 150 x 120.
  const fxcli::ImagePtr p =
      Apply("puzzle-effect @card:160x120 tileX=50 tileY=40 flags=0x110", "f.png");
  EXPECT_EQ(p->get()->Width, 150);
  EXPECT_EQ(p->get()->Height, 120);
  const fxcli::ImagePtr d = Apply("dice-effect @card:160x120 tileX=7 tileY=5 flags=0x120", "g.png");
  EXPECT_EQ(d->get()->Width, 161);  // count mode: 160 mod 7 = 6 is not below 3: 161
}

}  // namespace
