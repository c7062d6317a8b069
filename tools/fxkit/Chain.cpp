// Chains of effects on one picture, and the argument forms that lead to them.
#include "tools/fxkit/Chain.h"

#include <cstring>
#include <deque>

namespace fxcli {

namespace {

bool IsSeparator(const std::string& word) {
  return word == "+" || word == "--";
}

bool LooksLikeFile(const std::string& s) {
  return s == "-" || (!s.empty() && s[0] == '@') || s.find('.') != std::string::npos ||
         s.find('/') != std::string::npos;
}

// Reports one step's progress as its share of the whole chain to the callback that was
// installed before, and puts that callback back when it goes.
class StepProgress {
 public:
  StepProgress() { HostExchangeCallback(&StepProgress::Report, this, &outer_, &outerUser_); }
  ~StepProgress() { HostExchangeCallback(outer_, outerUser_, nullptr, nullptr); }
  StepProgress(const StepProgress&) = delete;
  StepProgress& operator=(const StepProgress&) = delete;

  void Enter(size_t step, size_t steps) {
    step_ = int64_t(step);
    steps_ = int64_t(steps);
  }

 private:
  static int32_t Report(int32_t percent, void* user) {
    auto* self = static_cast<StepProgress*>(user);
    if (!self->outer_) return SUCCESS;
    const int64_t p = percent < 0 ? 0 : percent > 100 ? 100 : percent;
    return self->outer_(int32_t((self->step_ * 100 + p) / self->steps_), self->outerUser_);
  }

  FxStatusCallback outer_ = nullptr;
  void* outerUser_ = nullptr;
  int64_t step_ = 0, steps_ = 1;
};

}  // namespace

const FxEffectDesc& FindEffectOrThrow(const std::string& name) {
  char message[512];
  const FxEffectDesc* effect = FxLookupEffect(name.c_str(), message, sizeof(message));
  if (effect) return *effect;
  std::string text = message;
  if (text.find("(did you mean") == std::string::npos) text += " (see fxkit list)";
  throw UsageError(text);
}

void NormaliseApplyOrder(std::string& effect, std::string& input, std::string& output) {
  if (FxFindEffect(effect.c_str())) return;
  if (FxFindEffect(output.c_str()) || (LooksLikeFile(effect) && !LooksLikeFile(output))) {
    std::string named = std::move(output);
    output = std::move(input);
    input = std::move(effect);
    effect = std::move(named);
  }
}

void PrepareApplyArguments(int& argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "apply") != 0) return;
  static std::deque<std::string> storage;  // the rewritten words live as long as the process
  std::vector<char*> out(argv, argv + 2);
  std::vector<char*> step, presets;
  auto endStep = [&] {
    out.insert(out.end(), step.begin(), step.end());
    out.insert(out.end(), presets.begin(), presets.end());
    step.clear();
    presets.clear();
  };
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--") {
      endStep();
      out.push_back(const_cast<char*>("+"));
    } else if (arg.rfind("--preset=", 0) == 0) {
      storage.push_back(arg.substr(2));
      presets.push_back(storage.back().data());
    } else if (arg == "--preset" && i + 1 < argc) {
      storage.push_back(std::string("preset=") + argv[++i]);
      presets.push_back(storage.back().data());
    } else {
      step.push_back(argv[i]);
    }
  }
  endStep();
  for (size_t i = 0; i < out.size(); ++i) argv[i] = out[i];
  argc = int(out.size());
  argv[argc] = nullptr;
}

Chain::Chain(const std::string& effect, const std::vector<std::string>& words) {
  steps_.push_back(Step{&FindEffectOrThrow(effect), nullptr});
  steps_.back().args = std::make_unique<EffectArgs>(*steps_.back().effect);
  bool expectEffect = false;
  for (const std::string& word : words) {
    if (IsSeparator(word)) {
      if (expectEffect) throw UsageError("an empty step between two '--'");
      expectEffect = true;
      continue;
    }
    if (expectEffect) {
      steps_.push_back(Step{&FindEffectOrThrow(word), nullptr});
      steps_.back().args = std::make_unique<EffectArgs>(*steps_.back().effect);
      expectEffect = false;
      continue;
    }
    const Step& step = steps_.back();
    if (word.find('=') == std::string::npos && FxFindEffect(word.c_str()))
      throw UsageError(std::string(step.effect->shortName) + ": " + word +
                       ": expected name=value (to chain " + word + ", separate the steps with --)");
    step.args->Add(word);
  }
  if (expectEffect) throw UsageError("an effect is missing after the last '--'");
  // Counts and named fields are checked now unless they need the picture.
  for (Step& s : steps_)
    if (!s.args->Relative()) s.args->Values(nullptr);
}

int32_t Chain::Run(BitmapRecord* bitmap, const RunSetup& setup) {
  StepProgress progress;
  for (size_t i = 0; i < steps_.size(); ++i) {
    const Step& s = steps_[i];
    const std::vector<FxNamedValue>& values = s.args->Values(bitmap);
    progress.Enter(i, steps_.size());
    FxReport report{};
    const int32_t rc = InvokeWithAlpha(*s.effect, bitmap, values.data(), uint32_t(values.size()),
                                       setup, FX_INVOKE_CHECK_RANGES, &report);
    if (rc <= FX_REGISTRY_UNKNOWN_PARAMETER && rc >= FX_REGISTRY_UNKNOWN_PRESET)
      throw UsageError(report.message[0]
                           ? report.message
                           : std::string(s.effect->shortName) + ": " + FxResultName(rc));
    if (rc != SUCCESS) {
      failed_ = s.effect->shortName;
      return rc;
    }
  }
  return SUCCESS;
}

}  // namespace fxcli
