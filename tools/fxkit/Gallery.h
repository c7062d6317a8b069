// The gallery: every registered effect (or the ones asked for) with its defaults and its presets
// on one input. One PNG per run and a thumbnail of it; index.html shows the thumbnails by effect
// with each effect's summary, links them to the full pictures and captions each with the
// command that makes it; the timings go to a table of their own at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fxkit/fxkit.h"

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
  std::string effect;   // short name
  std::string preset;   // "defaults" or the preset's name
  std::string command;  // the fxkit command that makes the picture
  std::string words;    // the preset's words ("" for the defaults)
  std::string params;   // every parameter as the call saw it, as words
  std::string file;     // PNG written (empty when the run failed)
  std::string thumb;    // its thumbnail, relative to the output directory
  std::string error;    // a preset that does not parse, or an output that cannot be written
  int32_t code = 0;     // the effect's result (0 when it did not run)
  double milliseconds = 0;
};

// The effects --only names, in list order; every effect for an empty list. Throws UsageError
// for a name that is no effect (with suggestions).
std::vector<const FxEffectDesc*> GalleryEffects(const std::string& only);

// Runs the gallery, writing OUTDIR/input.png, one PNG and one thumbnail (OUTDIR/thumbs/) per
// successful run and OUTDIR/index.html; reports each run on `log` (null: silent). Throws
// UsageError when the input cannot be read, --only names an unknown effect or the directory
// cannot be made.
std::vector<GalleryRun> RunGallery(const GalleryOptions& options, std::FILE* log);

}  // namespace fxcli
