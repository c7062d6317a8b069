// One run of `fxkit apply`: one effect, or several applied in turn to the same picture without
// intermediate files, each with its own words and preset:
//   fxkit apply swirl in.jpg out.jpg angle=900 -- vignette -- wind
//   fxkit apply in.jpg out.jpg swirl --preset=strong -- ripple preset=pond amplitude=2%s
// Steps are separated by "--" (or "+"); each step after the first starts with its effect.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/fxkit/Alpha.h"
#include "tools/fxkit/Values.h"

namespace fxcli {

// The effect a command line names, case-insensitively; UsageError with suggestions otherwise.
const FxEffectDesc& FindEffectOrThrow(const std::string& name);

// Lets the files come first: when EFFECT names no effect but OUTPUT does (or EFFECT looks like
// a file and OUTPUT does not), "INPUT OUTPUT EFFECT" is rotated into "EFFECT INPUT OUTPUT".
void NormaliseApplyOrder(std::string& effect, std::string& input, std::string& output);

// Rewrites the arguments of `fxkit apply` in place before the option parser sees them: a "--"
// between steps becomes "+" (which the parser passes on as a word), and "--preset=NAME" or
// "--preset NAME" becomes the word "preset=NAME" at the end of its step's words. Other commands
// are left alone.
void PrepareApplyArguments(int& argc, char** argv);

class Chain {
 public:
  // `effect` and the words after INPUT OUTPUT, separators included. Checks every step's effect
  // and words (and, when none is relative to the picture, the values they build) before any
  // image is read; throws UsageError naming the culprit.
  Chain(const std::string& effect, const std::vector<std::string>& words);

  // Applies the steps in turn to `bitmap`, relative values measured on the picture each step
  // receives, with one progress over the whole chain (step i of n reports i/n .. (i+1)/n of the
  // status callback installed by the caller). Returns SUCCESS or the first other result of an
  // effect (failedEffect() names it). Values the registry refuses throw UsageError. Each step
  // runs through InvokeWithAlpha (Alpha.h), `setup` seeding the generator and clocks before
  // every run.
  int32_t Run(BitmapRecord* bitmap, const RunSetup& setup = nullptr);

  size_t size() const { return steps_.size(); }
  const FxEffectDesc& effect(size_t step) const { return *steps_[step].effect; }
  EffectArgs& args(size_t step) { return *steps_[step].args; }
  // Short name of the effect whose result Run returned ("" before a failure).
  const char* failedEffect() const { return failed_; }

 private:
  struct Step {
    const FxEffectDesc* effect;
    std::unique_ptr<EffectArgs> args;
  };
  std::vector<Step> steps_;
  const char* failed_ = "";
};

}  // namespace fxcli
