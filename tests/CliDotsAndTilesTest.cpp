// The generator's seed and the tick count through `fxkit apply`: the same option repeats the
// picture, another value changes it; aging's densest scratches end promptly.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"
#include "tools/fxkit/ImageIO.h"

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

TEST_F(CliDotsAndTilesTest, SeedAndTickOptionsRepeatThePicture) {
  const struct {
    const char* words;  // between "apply" and the output
    const char* same;   // the option that must repeat the picture
    const char* other;  // and one that must change it
  } cases[] = {
      {"pointillist @card:160x120 dotRadius=3", "--srand=5", "--srand=6"},
      {"ring-effect @card:160x120 seed=0", "--tick=1000", "--tick=1001"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.words);
    const auto a = Rows(Apply(std::string(c.words) + " " + c.same, "a.png"));
    const auto b = Rows(Apply(std::string(c.words) + " " + c.same, "b.png"));
    const auto other = Rows(Apply(std::string(c.words) + " " + c.other, "c.png"));
    EXPECT_TRUE(a == b) << "the same seed gave another picture";
    EXPECT_FALSE(a == other) << "another seed gave the same picture";
  }
}

// A 17 x 13 picture cannot hold the starts of so many long scratches: the search stops when the
// mask is full. The CPU limit turns a hang into a failure.
TEST_F(CliDotsAndTilesTest, AgingWithEndlessScratchesReturns) {
  const std::string out = (fs::path(dir_) / "old.png").string();
  const std::string command = "ulimit -t 20; " + std::string(FXKIT_CLI_PATH) +
                              " apply aging @card:17x13 " + out +
                              " vertScratchCount=1000000 horzScratchCount=1000000"
                              " maxScratchLength=100000 scratches=both --quiet";
  const int status = std::system(command.c_str());
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << command;
  EXPECT_TRUE(fs::exists(out));
}

}  // namespace
