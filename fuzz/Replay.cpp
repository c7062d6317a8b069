// Replays fuzz inputs without libFuzzer, so the plain and sanitizer test builds run the seed
// corpus and every regression input: `fxkit_fuzz_replay PATH...` (files or directories), or
// `fxkit_fuzz_replay --write-seeds DIR` to write the seed corpus.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/FuzzTarget.h"

namespace fs = std::filesystem;

namespace {

int WriteSeeds(const fs::path& dir) {
  fs::create_directories(dir);
  const auto seeds = fxfuzz::SeedInputs();
  for (size_t i = 0; i < seeds.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "seed-%03zu", i);
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(seeds[i].data()),
              static_cast<std::streamsize>(seeds[i].size()));
  }
  std::printf("%zu seeds written to %s\n", seeds.size(), dir.c_str());
  return 0;
}

void Replay(const fs::path& file, size_t* count) {
  std::ifstream in(file, std::ios::binary);
  const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
  fxfuzz::RunInput(data.data(), data.size());
  ++*count;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--write-seeds") return WriteSeeds(argv[2]);
  size_t count = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path path = argv[i];
    if (fs::is_directory(path)) {
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(path))
        if (entry.is_regular_file() && entry.path().filename().string()[0] != '.' &&
            entry.path().extension() != ".md")
          files.push_back(entry.path());
      std::sort(files.begin(), files.end());
      for (const auto& f : files) Replay(f, &count);
    } else {
      Replay(path, &count);
    }
  }
  std::printf("%zu fuzz inputs replayed\n", count);
  return count > 0 ? 0 : 1;
}
