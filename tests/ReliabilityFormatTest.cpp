// Every registered effect with its defaults on every stored format, without a region, with a
// rectangle and with a mask, in orientations 1, 4 and 6: SUCCESS, nothing outside the region
// changed, and the same output from a second run on several threads with the same generator and
// clocks.
#include <cstdio>

#include "TestSupport.h"

namespace {

using fxrel::RegionKind;

class ReliabilityFormatTest : public fxtest::HostFixture,
                              public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ReliabilityFormatTest, EveryFormatRegionAndOrientation) {
  const FxEffectDesc* effect = FxEffectAt(GetParam());
  int32_t combinations = 0, changed = 0, failures = 0;
  for (const fxrel::Format& format : fxrel::Formats())
    for (RegionKind region : {RegionKind::None, RegionKind::Rect, RegionKind::Mask})
      for (uint8_t orientation : {1, 4, 6}) {
        const fxrel::Scene scene{format, 12, 9, orientation, region, 100u + combinations++};
        const std::string where = std::string(effect->shortName) + " " + fxrel::Describe(scene);
        fxrel::Bitmap first, second;
        ASSERT_EQ(fxrel::MakeScene(first, scene), SUCCESS) << where;
        ASSERT_EQ(fxrel::MakeScene(second, scene), SUCCESS) << where;
        const std::vector<uint8_t> input = fxrel::StoredBytes(first.get());
        fxrel::EffectCall call(effect), again(effect);
        int32_t rc = 0, rcAgain = 0;
        {
          fxtest::ThreadSetting threads(1);
          EXPECT_EQ(fxrel::InvokeChecked(call, first.get(), &rc), "") << where;
        }
        EXPECT_EQ(rc, SUCCESS) << where;
        // The same input again, on several threads and with other generator and clock values
        // unless the effect's traits say it reads them.
        {
          fxtest::ThreadSetting threads(fxtest::kManyThreads);
          EXPECT_EQ(fxrel::InvokeChecked(again, second.get(), &rcAgain, 1), "") << where;
        }
        EXPECT_EQ(rcAgain, rc) << where;
        const std::vector<uint8_t> output = fxrel::StoredBytes(first.get());
        EXPECT_TRUE(output == fxrel::StoredBytes(second.get()))
            << where << ": a second run gave other pixels";
        changed += output != input || first->Width != scene.width || first->Height != scene.height;
        if (HasFailure() && ++failures >= 6) return;
      }
  EXPECT_GT(changed, 0) << effect->shortName << ": the defaults changed no bitmap";
  std::printf("[ stats    ] %s: %d formats x regions x orientations, %d changed the pixels\n",
              effect->shortName, combinations, changed);
}

INSTANTIATE_TEST_SUITE_P(Registry, ReliabilityFormatTest, ::testing::Range(0u, FxEffectCount()),
                         fxtest::EffectName);

}  // namespace
