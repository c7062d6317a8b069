// Impressionist: its own checks in their order, and every pixel and the number of draws against
// a direct model of the scatter.
#include <algorithm>
#include <map>

#include "EffectCheck.h"

namespace {

using namespace fxtest;

Call Impressionist(uint32_t h, uint32_t v, uint32_t flags = 0) {
  return [=](BitmapRecord* b) { return Fx_ImpressionistBitmap(b, h, v, flags); };
}

TEST(ImpressionistTest, EntryChecksInTheirOrder) {
  CheckEntryCases({
      {"bitmap before the lengths", StructSize(0), Impressionist(0, 0), ERROR_INV_STRUCT_SIZE},
      {"both lengths 0", nullptr, Impressionist(0, 0), ERROR_INV_PARAMETER},
      {"one length 0", nullptr, Impressionist(0, 4), SUCCESS, kSome},
  });
}

// The generator, drawn independently of the library's.
struct Lcg {
  uint32_t state;
  uint32_t Next() {
    state = state * 214013u + 2531011u;
    return (state >> 16) & 0x7FFFu;
  }
};

int32_t Displacement(uint32_t n, uint32_t r) {
  return r % 2 == 0 ? int32_t(r % (n / 2 + 2)) : -int32_t(r % ((n - 1) / 2 + 1));
}

// The scatter written directly: every source row s from top - half on is scattered along the
// row as it is read; output row y, produced once rows up to y + half are read, takes pixel x from
// scattered row y + d. Returns expected[y][x][k] for the colour samples (others unchanged). Beyond
// 65535 the vertical displacements no longer depend on the reach and the window stops growing.
std::vector<uint32_t> ModelScatter(const Snapshot& s, RECT rc, uint32_t h, uint32_t v, Lcg& g) {
  h = std::max(h, 1u);
  v = std::clamp(v, 1u, 65535u);
  const int64_t half = ((v & ~1u) + 3) / 2;
  const int32_t colours = s.step >= 3 ? 3 : 1;
  std::map<int64_t, std::vector<uint32_t>> scattered;
  std::vector<uint32_t> out = s.All();
  int64_t next = rc.top - half;
  for (int32_t y = rc.top; y < rc.bottom; ++y) {
    for (; next <= y + half; ++next) {
      const int32_t row = int32_t(std::clamp<int64_t>(next, 0, s.height - 1));
      auto& line = scattered[next];
      line.assign(size_t(s.width) * colours, 0);
      for (int32_t x = rc.left; x < rc.right; ++x) {
        const int64_t sx =
            std::clamp<int64_t>(x + int64_t(Displacement(h, g.Next())), 0, s.width - 1);
        for (int32_t k = 0; k < colours; ++k) line[x * colours + k] = s.at(int32_t(sx), row, k);
      }
    }
    for (int32_t x = rc.left; x < rc.right; ++x) {
      const auto& line = scattered.at(y + Displacement(v, g.Next()));
      for (int32_t k = 0; k < colours; ++k)
        out[(size_t(y) * s.width + x) * s.step + k] = line[x * colours + k];
    }
  }
  return out;
}

TEST(ImpressionistTest, MatchesADirectModelOfTheScatterAndItsDraws) {
  struct Case {
    Scene scene;
    uint32_t h, v;
    uint8_t orientation;  // of the call; the model works in orientation 1
  };
  const Case cases[] = {
      {{23, 17, 24, ORDER_BGR, {}, 7}, 5, 5, 1},
      {{15, 11, 48, ORDER_RGB, {3, 2, 12, 9}, 11}, 9, 4, 1},
      {{9, 13, 16, ORDER_GRAY, {}, 99}, 3, 0, 6},
      {{11, 8, 64, ORDER_BGR, {}, 2}, 12, 12, 1},             // window taller than the image
      {{6, 5, 8, ORDER_GRAY, {}, 22}, 3, 0xFFFFFFFFu, 1},     // the largest window
      {{5, 150, 24, ORDER_BGR, {0, 3, 5, 141}, 8}, 4, 9, 1},  // several bands of rows
      {{4, 140, 32, ORDER_BGR, {}, 31}, 2, 40, 1},            // a window over bands
  };
  for (const auto& c : cases)
    for (const int32_t threads : {1, kManyThreads}) {
      SCOPED_TRACE(::testing::Message() << "bpp " << c.scene.bpp << " h " << c.h << " v " << c.v
                                        << " threads " << threads);
      const ThreadSetting setting(threads);
      Lcg g{c.scene.seed};
      int32_t next = 0;
      const int32_t moved = CompareWithReference(
          c.scene,
          [&](BitmapRecord* b) {
            HostSetOrientation(nullptr, b, 272, c.orientation, 0);
            HostSeedRandom(c.scene.seed);
            const int32_t rc = Fx_ImpressionistBitmap(b, c.h, c.v, 0);
            next = HostRandom();
            HostSetOrientation(nullptr, b, 272, 1, 0);
            return rc;
          },
          FromModel([&](const Snapshot& s, BitmapRecord*, const RECT& rc) {
            return ModelScatter(s, rc, c.h, c.v, g);
          }));
      EXPECT_EQ(next, int32_t(g.Next())) << "a different number of draws";
      EXPECT_GT(moved, 10);
    }
}

}  // namespace
