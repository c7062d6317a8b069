// Aging: old film. Every sample is darkened by about a quarter and speckled with random grain,
// and, on request, a mask of vertical and horizontal scratches, dust specks and wandering pits is
// drawn at random and painted over the picture, each kind in its own colour or by inverting the
// pixel. With any of the mask layers the generator is seeded from the calendar time (`--time`),
// so two calls at different times differ; the grain alone continues the thread's sequence.
// The effect works in the bitmap's current orientation.
//
// The mask is drawn on the calling thread in the order the layers are listed. The grain draws
// two numbers per colour sample in row order; each row's first state is the generator's state
// advanced past the rows above it (fxrt::RandAdvance), so rows run on the row engine and give the
// serial sequence's pixels. Afterwards the thread's generator stands where the serial grain
// leaves it, also when a row fails.
//
// Extreme inputs and choices:
// - 16-bit grain: s - ((s & 252) >> 2) + (rand() & 0x1818) + (rand() & 0x1010) saturates at
//   65535 (stored in 16 bits it would wrap white to near black: black specks on bright areas).
// - A scratch start is searched while the mask has a free position; once it has none, the
//   remaining scratches are not drawn. A search that makes 2^31 draws (2^32 calls: the generator
//   is back where it started, so it would repeat forever) also ends the scratches. Ordinary
//   searches are the literal ones.
// - An empty rectangle answers ERROR_EMPTY_RECT before anything is drawn.
// - Dust and pit counts, Wr x Hr x density div 1000, are computed in 64 bits; a mask larger than
//   2^32 - 1 bytes answers ERROR_NO_MEMORY.
// - The layer choice tests the densities as written: a density of 1000 counts even when its
//   layer's flag is clear (its layer is then chosen and, its flag being clear, not drawn).
//   maxPitLength 1 draws walks of no step: no pit. A negative maxPitLength bounds the walks by
//   its magnitude (rand() % maxPitLength in signed arithmetic).
// - A fourth sample keeps its value; colour pixels of three or four samples take three grain
//   pairs, gray pixels one.
#include <algorithm>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr uint32_t kVertical = 0x01, kHorizontal = 0x02, kDust = 0x04, kPits = 0x08;
constexpr uint32_t kScratchColor = 0x10, kDustColor = 0x20, kPitsColor = 0x40;
constexpr uint8_t kScratchMark = 0x01, kDustMark = 0x02, kPitMark = 0x04;

struct AgingArgs {
  uint32_t horzScratchCount, vertScratchCount, maxScratchLength, dustDensity, pitsDensity;
  int32_t maxPitLength;
  uint32_t flags;
  uint32_t colors[3][3];  // scratch, dust, pits: blue, green, red at the working size
};

// Blue, green, red of a prepared colour.
void PrepareColor(const BitmapRecord* bitmap, uint32_t c, bool scratch, uint32_t out[3]) {
  uint32_t r = c & 255, g = (c >> 8) & 255, b = (c >> 16) & 255;
  const int32_t bpp = bitmap->BitsPerPixel;
  const bool gray = HostIsGrayscale(bitmap) != 0;
  const bool shift = bpp == 12 || bpp == 48 || bpp == 64 || (bpp == 16 && (scratch || gray));
  if (shift) r <<= 8, g <<= 8, b <<= 8;
  if ((bpp == 12 || bpp == 16) && gray && (c & 0x04000000u)) r = g = b = c & 0xFFFF;
  if (gray) r = g = b = (b + 5 * g + 2 * r) / 8;
  out[0] = b, out[1] = g, out[2] = r;
}

// The mask of the rectangle, Wr x Hr bytes, and the layers drawn into it.
class AgingMask {
 public:
  AgingMask(uint8_t* mask, uint32_t width, uint32_t height)
      : mask_(mask), w_(width), h_(height), free_(uint64_t{width} * height) {}

  void Draw(const AgingArgs& a) {
    const uint32_t f = a.flags;
    if (a.dustDensity == 1000) {
      if (a.pitsDensity == 1000) {
        if (f & kPits) Pits(a);
      } else if (f & kDust) {
        Dust(a);
      }
    } else if (a.pitsDensity == 1000) {
      if (f & kPits) Pits(a);
    } else {
      if (f & kVertical) Scratches(a, a.vertScratchCount, true);
      if (f & kHorizontal) Scratches(a, a.horzScratchCount, false);
      if (f & kDust) Dust(a);
      if (f & kPits) Pits(a);
    }
  }

 private:
  uint8_t& At(uint64_t x, uint64_t y) { return mask_[y * w_ + x]; }
  uint32_t Below(uint32_t n) { return static_cast<uint32_t>(fxrt::rand()) % n; }

  void Scratches(const AgingArgs& a, uint32_t count, bool vertical) {
    // 2^31 pairs of draws bring the generator back to its state: the search would repeat.
    constexpr uint64_t kCycle = uint64_t{1} << 31;
    const uint32_t lmax = a.maxScratchLength;
    for (uint32_t i = 0; i < count && !stuck_; ++i) {
      uint32_t x = 0, y = 0;
      for (uint64_t tries = 0;; ++tries) {
        if (free_ == 0 || tries == kCycle) {
          stuck_ = true;
          return;
        }
        y = Below(h_);
        x = Below(w_);
        if (At(x, y) == 0) break;
      }
      const uint64_t length = lmax - Below(lmax / 2);
      const uint64_t end = std::min<uint64_t>((vertical ? y : x) + length, vertical ? h_ : w_);
      for (uint64_t t = vertical ? y : x; t < end; ++t) {
        uint8_t& m = vertical ? At(x, t) : At(t, y);
        if (m == 0) --free_;
        m |= kScratchMark;
      }
    }
  }

  void Dust(const AgingArgs& a) {
    if (a.dustDensity == 1000) {
      std::memset(mask_, kDustMark, size_t(w_) * h_);
      return;
    }
    const uint64_t count = uint64_t{w_} * h_ * a.dustDensity / 1000;
    for (uint64_t i = 0; i < count; ++i) {
      const uint32_t y = Below(h_);
      At(Below(w_), y) |= kDustMark;
    }
  }

  void Pits(const AgingArgs& a) {
    if (a.pitsDensity == 1000) {
      std::memset(mask_, kPitMark, size_t(w_) * h_);
      return;
    }
    const uint64_t count = uint64_t{w_} * h_ * a.pitsDensity / 1000;
    for (uint64_t i = 0; i < count; ++i) {
      uint32_t y = Below(h_);
      uint32_t x = Below(w_);
      const int32_t n = fxrt::rand() % a.maxPitLength;  // signed: never negative
      for (int32_t s = 0; s < n; ++s) {
        if (x >= w_ || y >= h_) break;  // a step below 0 wraps beyond the bounds too
        At(x, y) |= kPitMark;
        const bool across = (fxrt::rand() & 1) != 0;
        const uint32_t move = static_cast<uint32_t>(fxrt::rand() % 3) - 1u;
        if (across)
          x += move;
        else
          y += move;
      }
    }
  }

  uint8_t* mask_;
  uint32_t w_, h_;
  uint64_t free_;  // mask positions still 0 (kept while scratches are drawn)
  bool stuck_ = false;
};

// The grain pair of one sample, continuing `state`.
template <class T>
inline T Grain(uint32_t s, uint32_t& state) {
  constexpr bool kWide = sizeof(T) == 2;
  const uint32_t r1 = static_cast<uint32_t>(fxrt::RandFrom(state));
  const uint32_t r2 = static_cast<uint32_t>(fxrt::RandFrom(state));
  const uint32_t v =
      s - ((s & 252) >> 2) + (r1 & (kWide ? 0x1818u : 24u)) + (r2 & (kWide ? 0x1010u : 16u));
  return static_cast<T>(kWide ? std::min<uint32_t>(v, 65535) : v);  // 8 bits: at most 232
}

struct AgingRow {
  int32_t left, right, step, channels;
  uint32_t width;       // mask row length
  const uint8_t* mask;  // null without layers
  const AgingArgs* args;
};

template <class T>
void AgingKernel(const AgingRow& k, int32_t row, uint32_t state, T* out) {
  constexpr uint32_t max = SampleTraits<T>::kMax;
  const uint8_t* mask = k.mask ? k.mask + size_t(row) * k.width : nullptr;
  const uint32_t flags = k.args->flags;
  for (int64_t x = k.left; x < k.right; ++x) {
    T* p = out + x * k.step;
    for (int32_t c = 0; c < k.channels; ++c) p[c] = Grain<T>(p[c], state);
    const uint8_t m = mask ? mask[x - k.left] : 0;
    if (m == 0) continue;
    const uint32_t paint[3] = {kScratchColor, kDustColor, kPitsColor};
    for (int32_t layer = 0; layer < 3; ++layer) {
      if (!(m & (1u << layer))) continue;
      const uint32_t* color = k.args->colors[layer];
      for (int32_t c = 0; c < k.channels; ++c)
        p[c] = static_cast<T>((flags & paint[layer]) ? color[c] : max - p[c]);
    }
  }
}

int32_t AgingDriver(BitmapRecord* bitmap, const AgingArgs& a) {
  const RECT rect = ProcessRect(bitmap);
  if (IsEmpty(rect)) return ERROR_EMPTY_RECT;
  const uint32_t wr = static_cast<uint32_t>(rect.right - rect.left);
  const uint32_t hr = static_cast<uint32_t>(rect.bottom - rect.top);
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t step = access.PixelStep();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  RowWindow source;
  RowSlots slots;
  rc = source.AllocateRowByRow(rowBytes, slots);
  if (rc != SUCCESS) return rc;

  HostBlock<uint8_t> mask;
  if (a.flags & (kVertical | kHorizontal | kDust | kPits)) {
    const uint64_t bytes = uint64_t{wr} * hr;
    if (bytes > UINT32_MAX || !mask.AllocateCleared(static_cast<uint32_t>(bytes)))
      return ERROR_NO_MEMORY;
    fxrt::srand(static_cast<uint32_t>(fxrt::_time64(nullptr)));
    AgingMask(mask.get(), wr, hr).Draw(a);
  }

  // Two draws per colour sample, rows in order from the state the layers left.
  const int32_t channels = IsColorPixel(step) ? 3 : 1;
  const uint64_t drawsPerRow = uint64_t{2} * channels * wr;
  const uint32_t first = fxrt::RandState();
  fxrt::srand(fxrt::RandAdvance(first, drawsPerRow * hr));

  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  const AgingRow k{rect.left, rect.right, step, channels, wr, mask.get(), &a};
  rc = WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return source.RunInPlace(
        access, slots, rect.top, rect.bottom, bitmap->Height, wr,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          const int32_t row = y - rect.top;
          AgingKernel<T>(k, row, fxrt::RandAdvance(first, drawsPerRow * uint32_t(row)),
                         reinterpret_cast<T*>(out));
        },
        NoHostCall(), WriteRow(access));
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

constexpr FxFlagValue kScratchValues[] = {
    {"none", 0, "no scratches"},
    {"vertical", kVertical, "vertical scratches (vertScratchCount)"},
    {"horizontal", kHorizontal, "horizontal scratches (horzScratchCount)"},
    {"both", kVertical | kHorizontal, "vertical and horizontal scratches"},
};
constexpr FxFlagValue kDustValues[] = {
    {"off", 0, "no dust"},
    {"on", kDust, "dust specks (dustDensity)"},
};
constexpr FxFlagValue kPitValues[] = {
    {"off", 0, "no pits"},
    {"on", kPits, "wandering pits (pitsDensity, maxPitLength)"},
};
constexpr FxFlagValue kScratchPaint[] = {
    {"invert", 0, "scratched pixels are inverted"},
    {"color", kScratchColor, "scratched pixels take scratchColor"},
};
constexpr FxFlagValue kDustPaint[] = {
    {"invert", 0, "dusty pixels are inverted"},
    {"color", kDustColor, "dusty pixels take dustColor"},
};
constexpr FxFlagValue kPitsPaint[] = {
    {"invert", 0, "pitted pixels are inverted"},
    {"color", kPitsColor, "pitted pixels take pitsColor"},
};
constexpr FxFlagField kAgingFields[] = {
    FlagField("scratches", kVertical | kHorizontal, kScratchValues, "which scratches are drawn"),
    FlagField("dust", kDust, kDustValues, "dust specks"),
    FlagField("pits", kPits, kPitValues, "pits"),
    FlagField("scratchPaint", kScratchColor, kScratchPaint, "how scratches are painted"),
    FlagField("dustPaint", kDustColor, kDustPaint, "how dust is painted"),
    FlagField("pitsPaint", kPitsColor, kPitsPaint, "how pits are painted"),
};

const FxParamDesc kAgingParams[] = {
    UIntParam("horzScratchCount", 2, 0, kAnyUInt32Max, "number of horizontal scratches"),
    UIntParam("vertScratchCount", 10, 0, kAnyUInt32Max, "number of vertical scratches"),
    UIntParam("maxScratchLength", 300, 0, kAnyUInt32Max,
              "longest scratch in pixels (scratches run Lmax - rand mod (Lmax / 2)); at least 2 "
              "with scratches"),
    UIntParam("dustDensity", 3, 0, 1000,
              "dust specks per thousand pixels (1000 covers everything and draws no other layer)"),
    UIntParam("pitsDensity", 1, 0, 1000,
              "pit walks per thousand pixels (1000 covers everything and draws no other layer)"),
    IntParam("maxPitLength", 12, kAnyInt32Min, kAnyInt32Max,
             "pit walks take rand() % maxPitLength steps; not 0 with pits (1 draws none)"),
    ColorParam("scratchColor", 0xF0F0F0, "colour of the scratches with scratchPaint=color"),
    ColorParam("dustColor", 0x141414, "colour of the dust with dustPaint=color"),
    ColorParam("pitsColor", 0x303030, "colour of the pits with pitsPaint=color"),
    FlagsParam("flags", kVertical | kHorizontal | kDust | kPits | kDustColor | kPitsColor, 0,
               0xFFFF007F,
               "0x01/0x02 vertical/horizontal scratches, 0x04 dust, 0x08 pits; 0x10/0x20/0x40 "
               "paint them in their colours instead of inverting; bits 7-15 must be 0, bits "
               "16-31 are not looked at",
               kAgingFields),
};

const FxPreset kAgingPresets[] = {
    {"old-film",
     "scratches=vertical vertScratchCount=16 maxScratchLength=100%h dust=on dustDensity=2 "
     "dustPaint=color pits=on pitsDensity=1 maxPitLength=16 pitsPaint=color"},
    {"scratched",
     "scratches=both vertScratchCount=40 horzScratchCount=8 maxScratchLength=100%h "
     "scratchPaint=color dust=off pits=off"},
    {"dusty", "scratches=none dust=on dustDensity=12 dustPaint=invert pits=on pitsDensity=3"},
    {"grain", "flags=0"},
};

}  // namespace

extern const FxEffectDesc kAgingEffect = {
    "aging",
    "Fx_AgingBitmap",
    FX_FAMILY_ARTISTIC,
    "Old film: darkened, grainy, with random scratches, dust and pits",
    kAgingParams,
    CountOf(kAgingParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_AgingBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]), ArgU32(v[3]), ArgU32(v[4]),
                            ArgI32(v[5]), ArgU32(v[6]), ArgU32(v[7]), ArgU32(v[8]), ArgU32(v[9]));
    },
    kAgingPresets,
    CountOf(kAgingPresets),
    FX_TRAIT_RANDOM | FX_TRAIT_CLOCK | FX_TRAIT_TONES_ONLY,
};

}  // namespace fx

int32_t Fx_AgingBitmap(BitmapRecord* bitmap, uint32_t horzScratchCount, uint32_t vertScratchCount,
                       uint32_t maxScratchLength, uint32_t dustDensity, uint32_t pitsDensity,
                       int32_t maxPitLength, COLORREF scratchColor, COLORREF dustColor,
                       COLORREF pitsColor, uint32_t flags) {
  using namespace fx;
  int32_t rc = CheckBitmap(bitmap, /*testAllocated=*/false);
  if (rc != SUCCESS) return rc;
  if (!(bitmap->Flags & FLAG_ALLOCATED)) return ERROR_NO_BITMAP;
  if (flags & 0xFF80u) return ERROR_INV_PARAMETER;
  AgingArgs a{horzScratchCount,
              vertScratchCount,
              maxScratchLength,
              dustDensity,
              pitsDensity,
              maxPitLength,
              flags,
              {}};
  const COLORREF colors[3] = {scratchColor, dustColor, pitsColor};
  for (int32_t i = 0; i < 3; ++i)
    if (flags & (kScratchColor << i)) PrepareColor(bitmap, colors[i], i == 0, a.colors[i]);
  if (((flags & (kVertical | kHorizontal)) && maxScratchLength < 2) ||
      ((flags & kDust) && dustDensity > 1000) ||
      ((flags & kPits) && (pitsDensity > 1000 || maxPitLength == 0)))
    return ERROR_INV_PARAMETER;
  return AgingDriver(bitmap, a);
}
