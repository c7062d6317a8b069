// Every registered effect, with its defaults and its presets on small bitmaps, through every
// failure path: each allocation, row read, row write, write preparation and open failed in turn,
// and a cancel at each status report.
#include <cstdio>

#include "TestSupport.h"
#ifdef FXKIT_CLI_PATH
#include "tools/fxkit/Values.h"
#endif

namespace {

using fxrel::FormatNamed;
using fxrel::RegionKind;

class ReliabilityFaultTest : public fxtest::HostFixture,
                             public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ReliabilityFaultTest, EveryFailurePathCleansUp) {
  const FxEffectDesc* effect = FxEffectAt(GetParam());
  // Three shapes of the work: plain colour in a transposed view, deep gray with a rectangle,
  // a palette image upside down with a mask.
  const fxrel::Scene scenes[] = {
      {FormatNamed("bgr24"), 12, 9, 6, RegionKind::None, 11},
      {FormatNamed("gray16"), 12, 9, 1, RegionKind::Rect, 12},
      {FormatNamed("pal4"), 12, 9, 4, RegionKind::Mask, 13},
  };
  // Every fault point falls where it does, and leaves the same pixels, at any thread count. The
  // sanitizer build runs the many-thread pass alone (the plain build compares the two).
#ifdef FXKIT_SANITIZED
  constexpr int kFirstPass = 1;
#else
  constexpr int kFirstPass = 0;
#endif
  fxtest::SweepStats byThreads[2];
  for (int t = kFirstPass; t < 2; ++t) {
    fxtest::ThreadSetting threads(t == 0 ? 1 : fxtest::kManyThreads);
    fxtest::SweepStats& total = byThreads[t];
    for (const fxrel::Scene& scene : scenes) {
      total += fxtest::SweepFaults(effect, scene);
      ASSERT_FALSE(HasFailure()) << fxrel::Describe(scene);
    }
#ifdef FXKIT_CLI_PATH  // presets reach paths the defaults do not (e.g. pixelate's polar cells)
    // Large enough for every preset's cell counts and radii.
    const fxrel::Scene presetScene{FormatNamed("bgr24"), 64, 48, 6, RegionKind::None, 14};
    // Sizes relative to the picture are measured on the picture itself.
    fxrel::Bitmap card;
    ASSERT_EQ(fxrel::MakeScene(card, presetScene), SUCCESS);
    for (uint32_t k = 0; k < effect->presetCount; ++k) {
      fxcli::EffectArgs args(*effect);
      args.Add(fxcli::SplitWords(effect->presets[k].values));
      total += fxtest::SweepFaults(effect, presetScene, args.Values(card.get()));
      ASSERT_FALSE(HasFailure()) << "preset " << effect->presets[k].name;
    }
#endif
  }
  const fxtest::SweepStats& total = byThreads[1];
  if (kFirstPass == 0) {
    EXPECT_EQ(byThreads[0].Summary(), total.Summary());
    EXPECT_TRUE(byThreads[0].trace == total.trace)
        << "codes, pixels or progress differ between 1 and " << fxtest::kManyThreads << " threads";
  }
  // A sweep that failed nothing proves nothing.
  EXPECT_GT(total.allocs, 0);
  EXPECT_GT(total.writes, 0);
  EXPECT_GT(total.cancels, 0);
  std::printf("[ stats    ] %s: %s, at %s%d threads\n", effect->shortName, total.Summary().c_str(),
              kFirstPass == 0 ? "1 and " : "", fxtest::kManyThreads);
}

INSTANTIATE_TEST_SUITE_P(Registry, ReliabilityFaultTest, ::testing::Range(0u, FxEffectCount()),
                         fxtest::EffectName);

}  // namespace
