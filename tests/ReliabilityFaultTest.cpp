// Every registered effect, with its defaults on small bitmaps, through every failure path: each
// allocation, row read, row write, write preparation and open failed in turn, and a cancel at
// each status report.
#include <cstdio>

#include "TestSupport.h"

namespace {

using fxrel::RegionKind;
using fxrel::Scene;

// The effect with its resolved defaults on a fresh scene bitmap.
class RegistryCall : public fxtest::PreparedCall {
 public:
  RegistryCall(const FxEffectDesc* effect, const Scene& scene) : call_(effect) {
    EXPECT_EQ(fxrel::MakeScene(bitmap_, scene), SUCCESS);
    call_.Resolve(bitmap_.get());
  }
  BitmapRecord* bitmap() override { return bitmap_.get(); }
  int32_t Run() override { return call_.Invoke(bitmap_.get()); }

 private:
  fxrel::Bitmap bitmap_;
  fxrel::EffectCall call_;
};

class ReliabilityFaultTest : public fxtest::HostFixture,
                             public ::testing::WithParamInterface<uint32_t> {};

TEST_P(ReliabilityFaultTest, EveryFailurePathCleansUp) {
  const FxEffectDesc* effect = FxEffectAt(GetParam());
  ASSERT_NE(effect, nullptr);
  const auto& formats = fxrel::Formats();
  auto format = [&](const char* name) {
    for (const auto& f : formats)
      if (std::string(f.name) == name) return f;
    return formats.front();
  };
  // Three shapes of the work: plain colour in a transposed view, deep gray with a rectangle,
  // a palette image upside down with a mask.
  const Scene scenes[] = {
      {format("bgr24"), 12, 9, 6, RegionKind::None, 11},
      {format("gray16"), 12, 9, 1, RegionKind::Rect, 12},
      {format("pal4"), 12, 9, 4, RegionKind::Mask, 13},
  };
  fxtest::SweepOptions options;
  options.effect = effect;
  options.maxPointsPerKind = 80;
  fxtest::SweepStats total;
  for (const Scene& scene : scenes) {
    const std::string label = std::string(effect->shortName) + " " + fxrel::Describe(scene);
    const fxtest::SweepStats s = fxtest::SweepFaults(
        [&]() -> std::unique_ptr<fxtest::PreparedCall> {
          return std::make_unique<RegistryCall>(effect, scene);
        },
        options, label);
    ASSERT_FALSE(HasFailure()) << label;
    EXPECT_GT(s.allocs, 0) << label;
    EXPECT_GT(s.writes, 0) << label;
    EXPECT_GT(s.cancels, 0) << label;
    total.points += s.points;
    total.allocs += s.allocs;
    total.reads += s.reads;
    total.writes += s.writes;
    total.begins += s.begins;
    total.opens += s.opens;
    total.cancels += s.cancels;
  }
  std::printf(
      "[ stats    ] %s: %lld fault points (alloc %lld, read %lld, write %lld, begin %lld, "
      "open %lld, cancel %lld)\n",
      effect->shortName, static_cast<long long>(total.points), static_cast<long long>(total.allocs),
      static_cast<long long>(total.reads), static_cast<long long>(total.writes),
      static_cast<long long>(total.begins), static_cast<long long>(total.opens),
      static_cast<long long>(total.cancels));
}

INSTANTIATE_TEST_SUITE_P(Registry, ReliabilityFaultTest, ::testing::Range(0u, FxEffectCount()),
                         [](const ::testing::TestParamInfo<uint32_t>& info) {
                           return fxrel::TestName(FxEffectAt(info.param));
                         });

}  // namespace
