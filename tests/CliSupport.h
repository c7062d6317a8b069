// The command line's test fixture: a temporary directory and the built fxkit binary run as a
// child process through the shell, with its standard output and error captured.
#pragma once

#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"

namespace fxtest {

struct Outcome {
  int status = -1;
  std::string out, err;
};

inline std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline std::vector<uint8_t> ReadBytes(const std::string& path) {
  const std::string text = ReadText(path);
  return std::vector<uint8_t>(text.begin(), text.end());
}

class CliFixture : public HostFixture {
 protected:
  void SetUp() override {
    HostFixture::SetUp();
    char pattern[] = "/tmp/fxkit-cli-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::filesystem::remove_all(dir_);
    HostFixture::TearDown();
  }

  std::string Path(const std::string& name) const {
    return (std::filesystem::path(dir_) / name).string();
  }

  // Runs the binary through the shell (the arguments hold no single quotes). `prefix` is shell
  // text run first in the same shell (limits, traps); `input` is a file given as standard input.
  Outcome Fxkit(const std::vector<std::string>& args, const std::string& prefix = "",
                const std::string& input = "") const {
    std::string command = prefix + " exec " FXKIT_CLI_PATH;
    for (const std::string& a : args) command += " '" + a + "'";
    if (!input.empty()) command += " <'" + input + "'";
    command += " >" + Path("stdout.txt") + " 2>" + Path("stderr.txt");
    const int status = std::system(command.c_str());
    Outcome run{WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadText(Path("stdout.txt")),
                ReadText(Path("stderr.txt"))};
    std::filesystem::remove(Path("stdout.txt"));
    std::filesystem::remove(Path("stderr.txt"));
    return run;
  }

  void WriteFile(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream out(Path(name), std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
  }

  // The names in the directory, sorted.
  std::vector<std::string> Listing() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

}  // namespace fxtest
