// The gallery: every registered effect with its defaults and its presets on one input, one PNG
// per run and an index.html contact sheet (effect, parameters used, time taken, result code).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fxcli {

struct GalleryOptions {
  std::string input = "@card";
  std::string outDir = "gallery";
  // The generator and the clocks are fixed for every run, so a gallery is reproducible.
  uint32_t seed = 1;
  uint32_t tick = 1000000;
  int64_t time = 1700000000;
  // Only these effects, by name, separated by commas (empty: every effect).
  std::string only;
};

struct GalleryRun {
  std::string effect;  // short name
  std::string preset;  // "defaults" or the preset's name
  std::string params;  // every parameter as the call saw it
  std::string file;    // PNG written (empty when the run failed)
  std::string error;   // a preset that does not parse, or an output that cannot be written
  int32_t code = 0;    // the effect's result (0 when it did not run)
  double milliseconds = 0;
};

// Runs the gallery, writing OUTDIR/input.png, one PNG per successful run and OUTDIR/index.html;
// reports each run on `log` (null: silent). Throws UsageError when the input cannot be read or
// the directory cannot be made.
std::vector<GalleryRun> RunGallery(const GalleryOptions& options, std::FILE* log);

}  // namespace fxcli
