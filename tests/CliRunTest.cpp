// A command line run as a user sees it: Ctrl-C at any point, and the progress bar on a terminal.
#include <pty.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "CliSupport.h"
#include "tools/fxkit/Card.h"
#include "tools/fxkit/ImageIO.h"

namespace {

namespace fs = std::filesystem;
using fxtest::Outcome;
using fxtest::ReadBytes;

class CliRunTest : public fxtest::CliFixture {
 protected:
  void SetUp() override {
    CliFixture::SetUp();
    const fxcli::ImagePtr card = fxcli::MakeCard(320, 240);
    WriteFile("in.png", fxcli::EncodeImage(*card->get(), fxcli::FileFormat::Png));
    WriteFile("in.jpg", fxcli::EncodeImage(*card->get(), fxcli::FileFormat::Jpeg));
  }

  // Runs the binary with a terminal as its standard error and returns what it drew there.
  std::string RunOnTerminal(const std::vector<std::string>& args) const {
    std::vector<std::string> words = {FXKIT_CLI_PATH};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    int master = -1;
    const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
    if (pid == 0) {
      execv(argv[0], argv.data());
      _exit(127);
    }
    std::string screen;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof(buffer))) > 0;) screen.append(buffer, n);
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
    return screen;
  }
};

// Ctrl-C while a file is decoded, while the effect runs (also one that answers a stop with its
// own code) or while the output is encoded: one line, status 130, no output file, and an
// existing output left as it was. The hook raises a real SIGINT at a point of the phase.
TEST_F(CliRunTest, InterruptAnywhereStopsWithStatus130AndNoOutput) {
  struct Case {
    const char* effect;
    const char* input;
    const char* output;
    const char* at;
  };
  const Case cases[] = {
      {"swirl", "in.png", "out.png", "loading:30"}, {"swirl", "in.jpg", "out.png", "loading:30"},
      {"swirl", "in.png", "out.png", "10"},         {"pixelate", "in.png", "out.png", "10"},
      {"swirl", "in.png", "out.png", "saving:50"},  {"swirl", "in.png", "out.jpg", "saving:50"},
      {"swirl", "in.png", "out.ppm", "saving:50"},
  };
  for (const Case& c : cases) {
    for (const bool existing : {false, true}) {
      SCOPED_TRACE(std::string(c.effect) + " " + c.input + " " + c.output + " " + c.at +
                   (existing ? " over an existing file" : ""));
      if (existing) WriteFile(c.output, {'o', 'l', 'd'});
      const Outcome run = Fxkit({"apply", c.effect, Path(c.input), Path(c.output),
                                 std::string("--interrupt-at=") + c.at});
      EXPECT_EQ(run.status, 130);
      EXPECT_EQ(run.err, "fxkit: interrupted\n");
      if (existing)
        EXPECT_EQ(ReadBytes(Path(c.output)), (std::vector<uint8_t>{'o', 'l', 'd'}));
      else
        EXPECT_FALSE(fs::exists(Path(c.output)));
      EXPECT_EQ(Listing().size(), existing ? 3u : 2u) << "a temporary file was left";
      fs::remove(Path(c.output));
    }
  }
}

// On a terminal the bar names each phase; it is cleared at the end, and --quiet draws nothing.
TEST_F(CliRunTest, ProgressShowsLoadingApplyingAndSaving) {
  const std::string screen =
      RunOnTerminal({"apply", "swirl", Path("in.png"), Path("out.png"), "--progress-delay=0"});
  for (const char* phase : {"loading  [", "applying [", "saving   ["})
    EXPECT_NE(screen.find(phase), std::string::npos) << phase << " in " << screen;
  EXPECT_NE(screen.find("100%"), std::string::npos);
  EXPECT_EQ(screen.back(), '\r') << "the line is cleared";
  EXPECT_EQ(RunOnTerminal({"apply", "swirl", Path("in.png"), Path("out.png"), "--quiet",
                           "--progress-delay=0"}),
            "");
}

}  // namespace
