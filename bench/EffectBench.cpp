// Every registered effect on a 1920x1080 image at 24 and 48 bits, with its defaults and its
// presets, reporting megapixels per second.
#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "fxkit/fxkit.h"
#include "tools/fxkit/Values.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

// A photo-like test image: smooth gradients, edges and texture, so no effect hits a fast path.
void Paint(BitmapRecord* b) {
  const int32_t bytesPerSample = b->BitsPerPixel == 48 ? 2 : 1;
  for (int32_t y = 0; y < b->Height; ++y) {
    uint8_t* row = b->Data + int64_t{y} * b->BytesPerLine;
    for (int32_t x = 0; x < b->Width; ++x) {
      const uint32_t texture = (uint32_t(x) * 2654435761u ^ uint32_t(y) * 40503u) >> 27;
      const uint32_t v[3] = {(x * 255u) / kWidth + texture, (y * 255u) / kHeight,
                             (((x / 64) + (y / 64)) & 1) ? 200u : 60u};
      for (int32_t k = 0; k < 3; ++k) {
        const uint32_t s = v[k] > 255 ? 255 : v[k];
        if (bytesPerSample == 2) {
          const uint16_t s16 = static_cast<uint16_t>(s * 257);
          std::memcpy(row + (x * 3 + k) * 2, &s16, 2);
        } else {
          row[x * 3 + k] = static_cast<uint8_t>(s);
        }
      }
    }
  }
}

struct Scenario {
  const FxEffectDesc* effect;
  int32_t bitsPerPixel;
  const char* preset;  // values in command-line syntax, or null for the defaults
  int32_t threads;
};

void RunEffect(benchmark::State& state, Scenario scenario) {
  fxcli::EffectArgs args(*scenario.effect);
  try {
    if (scenario.preset) args.Add(fxcli::SplitWords(scenario.preset));
  } catch (const fxcli::UsageError& e) {
    state.SkipWithError(e.what());
    return;
  }
  const std::vector<FxNamedValue>& values = args.Values();
  BitmapRecord pristine{}, work{};
  if (HostCreateBitmap(&pristine, 272, 1, kWidth, kHeight, scenario.bitsPerPixel, ORDER_BGR,
                       nullptr, 1, nullptr, 0) != SUCCESS) {
    state.SkipWithError("cannot create the bitmap");
    return;
  }
  Paint(&pristine);
  int32_t rc = SUCCESS;
  HostSetThreadCount(scenario.threads);
  for (auto _ : state) {
    state.PauseTiming();
    HostFreeBitmap(&work);
    HostSetOrientation(&work, &pristine, 272, 1, 7);  // a fresh copy every run
    HostSeedRandom(1);
    HostFixTickCount(1000);
    HostFixTime(1700000000);
    state.ResumeTiming();
    rc = FxInvoke(scenario.effect, &work, values.data(), static_cast<uint32_t>(values.size()));
  }
  HostSetThreadCount(0);
  HostFreeBitmap(&work);
  HostFreeBitmap(&pristine);
  if (rc != SUCCESS) state.SkipWithError(("result " + std::to_string(rc)).c_str());
  state.counters["Mpix"] = benchmark::Counter(double(kWidth) * kHeight / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

// Names: "swirl/24/t1" for the defaults on one thread, "swirl:strong/48/t2" for a preset on all
// of a two-core machine's threads.
void RegisterAll() {
  const int32_t cores = HostGetThreadCount();
  for (uint32_t i = 0; i < FxEffectCount(); ++i) {
    const FxEffectDesc* effect = FxEffectAt(i);
    for (uint32_t p = 0; p <= effect->presetCount; ++p) {
      const FxPreset* preset = p ? &effect->presets[p - 1] : nullptr;
      for (int32_t bits : {24, 48})
        for (int32_t threads : {1, cores}) {
          std::string name = effect->shortName;
          if (preset) name.append(":").append(preset->name);
          name.append("/").append(std::to_string(bits));
          name.append("/t").append(std::to_string(threads));
          benchmark::RegisterBenchmark(
              name.c_str(), RunEffect,
              Scenario{effect, bits, preset ? preset->values : nullptr, threads})
              ->Unit(benchmark::kMillisecond)
              ->UseRealTime();
          if (cores == 1) break;
        }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  RegisterAll();
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
