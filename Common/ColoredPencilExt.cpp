// Colored pencil ext: a coloured-pencil drawing made by a pipeline of whole-image operations. A
// glowing-edges copy of the picture (the glow filter) is laid over copies the host has turned
// into pencil strokes, and darkens them along the edges (HOST_COMBINE_MULTIPLY_NEGATIVE).
// - The simple pipeline (flag 0x02) strokes the picture itself along `strokeAngle`: pencil
//   pressure `strokeLevel1`, strokes of `strokeLength` pixels with a pencil's grain, pressure
//   `strokeLevel2`.
// - The split pipeline (flag 0x01) strokes dark and bright pixels apart: a copy holding every
//   pixel with a sample in the lower half of the range (black elsewhere) is hatched at 135
//   degrees, a copy of the pixels with a sample in the upper half at 45 degrees, and the two
//   merge as light does (HOST_COMBINE_SCREEN), so edges between dark and light get crossed
//   hatching.
// - Flag 0x10 lays the drawing over the unfiltered picture (HOST_COMBINE_MULTIPLY).
// Progress is reported in fixed steps between the operations, each of which runs with the
// caller's callback switched off. The effect works in the bitmap's current orientation.
//
// Extreme inputs and choices:
// - The threshold's limits are the glow filter's (255, 4095 on 12-bit gray, 65535 on 16-bit gray
//   and 48/64 bits); they are checked with the other parameters, before anything is copied.
//   `dim` and `bright` go to the glow filter unchecked; its codes (ERROR_INV_PARAMETER for
//   dim 0) pass through before the bitmap is changed.
// - A failed allocation of the progress context answers ERROR_NO_MEMORY.
// - The result applies only inside the region and its mask: every whole-image operation writes
//   through the region of the picture it changes, and the split pipeline's result is combined
//   into the bitmap (HOST_COMBINE_COPY over the rectangle) instead of replacing its storage.
// - The split rows sort every depth by its own range (1 .. max / 2 dark, above it bright); a
//   gray pixel sorts by its one sample. They are written with the callback off, so the progress
//   stays in its fixed steps; the pass that only re-read the copies is left out, its reports (55,
//   57, 70, 73) kept.
// - The bitmap's row access is closed once the rows are split, before any operation replaces
//   pixels under it. A fourth sample keeps its value everywhere.
#include <algorithm>
#include <cstring>

#include "Common/ColoredPencil.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr uint32_t kSplit = 0x01, kSimple = 0x02, kOverPhoto = 0x10;

// The glow filter's threshold limits for this bitmap.
bool GlowThresholdFits(const BitmapRecord* bitmap, uint32_t threshold) {
  const int32_t bpp = bitmap->BitsPerPixel;
  const bool gray = HostIsGrayscale(bitmap) != 0;
  if (bpp == 12 && gray) return threshold <= 4095;
  if ((bpp == 16 && gray) || bpp == 48 || bpp == 64) return threshold <= 65535;
  return threshold <= 255;
}

struct PencilArgs {
  uint32_t dim, bright, threshold, level1;
  int32_t length;
  uint32_t level2;
  int32_t angle;
};

// The progress context and the steps between reports.
class Pipeline {
 public:
  int32_t Begin() {
    if (!context_.AllocateCleared(1)) return ERROR_NO_MEMORY;
    return HostProgressBegin(context_.get());
  }
  int32_t Report(int32_t percent) { return HostProgressReport(context_.get(), percent); }
  // A whole-image operation without the caller's callback, then a report.
  template <class Op>
  int32_t Step(Op&& op, int32_t percent) {
    const int32_t rc = Paused(op);
    return rc != SUCCESS ? rc : Report(percent);
  }

 private:
  HostBlock<HostProgressContext> context_;
};

// Pressure, strokes along `angle` and pressure again, reporting after each.
int32_t Draw(Pipeline& p, BitmapRecord* b, const PencilArgs& a, int32_t angle,
             const int32_t at[3]) {
  int32_t rc = p.Step([&] { return HostPencilAdjust(b, a.level1, 0); }, at[0]);
  if (rc == SUCCESS)
    rc = p.Step([&] { return HostDirectionalFilter(b, a.length, angle, 1); }, at[1]);
  if (rc == SUCCESS) rc = p.Step([&] { return HostPencilAdjust(b, a.level2, 0); }, at[2]);
  return rc;
}

int32_t SimplePipeline(BitmapRecord* bitmap, const PencilArgs& a) {
  Pipeline p;
  int32_t rc = p.Begin();
  if (rc != SUCCESS) return rc;
  BitmapCopy glow;
  rc = glow.Make(bitmap);
  if (rc == SUCCESS) rc = p.Report(15);
  if (rc == SUCCESS)
    rc = p.Step([&] { return Fx_GlowFilterBitmap(glow.get(), a.dim, a.bright, a.threshold, 0); },
                30);
  const int32_t at[3] = {45, 60, 75};
  if (rc == SUCCESS) rc = Draw(p, bitmap, a, a.angle, at);
  if (rc != SUCCESS) return rc;
  RECT r;
  HostGetRegionBounds(bitmap, nullptr, &r);
  rc = p.Report(90);
  if (rc != SUCCESS) return rc;
  return p.Step(
      [&] {
        return HostCombineBitmaps(bitmap, r.left, r.top, r.right - r.left, r.bottom - r.top,
                                  glow.get(), r.left, r.top, HOST_COMBINE_MULTIPLY_NEGATIVE);
      },
      100);
}

// The dark copy keeps pixels with a sample in 1 .. half, the bright copy those with a sample
// above half; the other pixels turn black in the colour samples.
template <class T>
void SplitRow(const T* row, T* dark, T* bright, int32_t width, int32_t step) {
  constexpr uint32_t half = sizeof(T) == 2 ? 32767 : 127;
  const int32_t channels = IsColorPixel(step) ? 3 : 1;
  for (int64_t x = 0; x < width; ++x) {
    bool isDark = false, isBright = false;
    for (int32_t k = 0; k < channels; ++k) {
      const uint32_t v = row[x * step + k];
      isDark |= v >= 1 && v <= half;
      isBright |= v > half;
    }
    for (int32_t k = 0; k < channels; ++k) {
      if (!isDark) dark[x * step + k] = 0;
      if (!isBright) bright[x * step + k] = 0;
    }
  }
}

// Splits the rows of the rectangle into the dark and bright copies (reports 5 .. 20).
int32_t SplitRows(Pipeline& p, BitmapRecord* bitmap, const RECT& r, BitmapCopy& dark,
                  BitmapCopy& bright) {
  AccessOwner in, outDark, outBright;
  HostBlock<uint8_t> row, darkRow, brightRow;
  int32_t rc = in.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  if (!in.AllocRowBuffer(row)) return ERROR_NO_MEMORY;
  rc = p.Report(5);
  if (rc == SUCCESS) rc = p.Report(8);
  if (rc == SUCCESS) rc = dark.Make(bitmap);
  if (rc == SUCCESS) rc = p.Report(10);
  if (rc == SUCCESS) rc = outDark.Open(dark.get(), 2);
  if (rc == SUCCESS) rc = outDark.AllocRowBuffer(darkRow) ? p.Report(13) : ERROR_NO_MEMORY;
  if (rc == SUCCESS) rc = bright.Make(bitmap);
  if (rc == SUCCESS) rc = p.Report(15);
  if (rc == SUCCESS) rc = outBright.Open(bright.get(), 2);
  if (rc == SUCCESS) rc = p.Report(17);
  if (rc == SUCCESS) rc = outBright.AllocRowBuffer(brightRow) ? p.Report(20) : ERROR_NO_MEMORY;
  if (rc != SUCCESS) return rc;

  CallbackPause pause;  // the copies' row writes are no progress of the caller's
  rc = BeginWritePhase(outDark, dark.get());
  if (rc == SUCCESS) rc = BeginWritePhase(outBright, bright.get());
  if (rc != SUCCESS) return rc;
  const size_t rowBytes = static_cast<size_t>(in.RowBytes());
  const int32_t width = bitmap->Width, step = in.PixelStep();
  for (int32_t y = r.top; y < r.bottom; ++y) {
    rc = HostReadRow(in, row.get(), y, 0, nullptr);
    if (rc != SUCCESS) return rc;
    std::memcpy(darkRow.get(), row.get(), rowBytes);
    std::memcpy(brightRow.get(), row.get(), rowBytes);
    if (in.SampleBits() == 16)
      SplitRow(reinterpret_cast<const uint16_t*>(row.get()),
               reinterpret_cast<uint16_t*>(darkRow.get()),
               reinterpret_cast<uint16_t*>(brightRow.get()), width, step);
    else
      SplitRow(row.get(), darkRow.get(), brightRow.get(), width, step);
    rc = HostWriteRow(outDark, darkRow.get(), y, 0, 0);
    if (rc == SUCCESS) rc = HostWriteRow(outBright, brightRow.get(), y, 0, 0);
    if (rc != SUCCESS) return rc;
  }
  return SUCCESS;
}

int32_t SplitPipeline(BitmapRecord* bitmap, const PencilArgs& a) {
  Pipeline p;
  int32_t rc = p.Begin();
  if (rc != SUCCESS) return rc;
  RECT r;
  HostGetRegionBounds(bitmap, nullptr, &r);
  BitmapCopy dark, bright, glow;
  rc = SplitRows(p, bitmap, r, dark, bright);
  if (rc == SUCCESS) rc = p.Report(20);
  if (rc == SUCCESS) rc = p.Report(33);
  if (rc == SUCCESS) rc = glow.Make(bitmap);
  if (rc == SUCCESS) rc = p.Report(35);
  if (rc == SUCCESS)
    rc = p.Step([&] { return Fx_GlowFilterBitmap(glow.get(), a.dim, a.bright, a.threshold, 0); },
                38);
  const int32_t darkAt[3] = {40, 43, 45}, brightAt[3] = {48, 50, 53};
  if (rc == SUCCESS) rc = Draw(p, dark.get(), a, 13500, darkAt);
  if (rc == SUCCESS) rc = Draw(p, bright.get(), a, 4500, brightAt);
  for (const int32_t percent : {55, 57, 70, 73, 85})
    if (rc == SUCCESS) rc = p.Report(percent);
  if (rc != SUCCESS) return rc;
  const auto combine = [&](BitmapRecord* to, BitmapRecord* from, uint32_t operation) {
    return [=] {
      return HostCombineBitmaps(to, r.left, r.top, r.right - r.left, r.bottom - r.top, from, r.left,
                                r.top, operation);
    };
  };
  rc = p.Step(combine(dark.get(), bright.get(), HOST_COMBINE_SCREEN), 90);
  if (rc == SUCCESS)
    rc = p.Step(combine(dark.get(), glow.get(), HOST_COMBINE_MULTIPLY_NEGATIVE), 95);
  if (rc == SUCCESS) rc = p.Step(combine(bitmap, dark.get(), HOST_COMBINE_COPY), 100);
  return rc;
}

constexpr FxFlagValue kPipelineValues[] = {
    {"split", kSplit, "dark and bright pixels hatched apart, at 135 and 45 degrees"},
    {"simple", kSimple, "the picture stroked along strokeAngle"},
};
constexpr FxFlagValue kOverValues[] = {
    {"paper", 0, "the drawing alone"},
    {"photo", kOverPhoto, "the drawing laid over the unfiltered picture (multiplied)"},
};
constexpr FxFlagField kPencilExtFields[] = {
    FlagField("pipeline", kSplit | kSimple, kPipelineValues, "how the strokes are drawn"),
    FlagField("over", kOverPhoto, kOverValues, "what the drawing lies on"),
};

const FxParamDesc kColoredPencilExtParams[] = {
    UIntParam("dim", 3, 1, kAnyUInt32Max,
              "glow window side in pixels for the edge lines; 1 draws no edge glow (0 is refused)"),
    UIntParam("bright", 6, 0, kAnyUInt32Max, "gain of the edge lines (the glow filter's bright)"),
    UIntParam("threshold", 24, 0, 65535,
              "edges weaker than this draw no line; up to 255 on 8-bit images, 4095 on 12-bit "
              "gray, 65535 on 16-bit gray and 48/64-bit colour"),
    UIntParam("strokeLevel1", 300, 0, 1000,
              "pencil pressure before the strokes: 500 keeps the tones, more darkens, 0 is white"),
    IntParam("strokeLength", 12, kAnyInt32Min, kAnyInt32Max,
             "stroke length in pixels (sign ignored, at most 256; 0 or 1 draws no strokes)"),
    UIntParam("strokeLevel2", 500, 0, 1000,
              "pencil pressure after the strokes: 500 keeps them, more darkens, 0 is white"),
    IntParam("strokeAngle", 4500, -18000, 18000,
             "simple pipeline: stroke direction in hundredths of a degree, counter-clockwise"),
    FlagsParam("flags", kSimple, 1, kAnyUInt32Max,
               "0x01 split pipeline, else 0x02 simple (one of them is required); 0x10 lays the "
               "drawing over the picture; other bits are not looked at",
               kPencilExtFields),
};

const FxPreset kColoredPencilExtPresets[] = {
    {"split", "pipeline=split strokeLength=2.5%s strokeLevel1=250 strokeLevel2=500"},
    {"sketch", "pipeline=simple strokeLength=3%s strokeAngle=3000 strokeLevel1=200 bright=10"},
    {"over-photo",
     "pipeline=simple over=photo strokeLevel1=100 strokeLevel2=250 strokeAngle=-4500"},
};

}  // namespace

extern const FxEffectDesc kColoredPencilExtEffect = {
    "colored-pencil-ext",
    "Fx_ColoredPencilBitmapExt",
    FX_FAMILY_ARTISTIC,
    "A coloured-pencil drawing of strokes with a pencil's grain, outlined along the edges",
    kColoredPencilExtParams,
    CountOf(kColoredPencilExtParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_ColoredPencilBitmapExt(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]), ArgU32(v[3]),
                                       ArgI32(v[4]), ArgU32(v[5]), ArgI32(v[6]), ArgU32(v[7]));
    },
    kColoredPencilExtPresets,
    CountOf(kColoredPencilExtPresets),
    FX_TRAIT_MOVES_PIXELS | FX_TRAIT_WHOLE_IMAGE | FX_TRAIT_PROGRESS,
};

}  // namespace fx

int32_t Fx_ColoredPencilBitmapExt(BitmapRecord* bitmap, uint32_t dim, uint32_t bright,
                                  uint32_t threshold, uint32_t strokeLevel1, int32_t strokeLength,
                                  uint32_t strokeLevel2, int32_t strokeAngle, uint32_t flags) {
  using namespace fx;
  if (!bitmap) return ERROR_INV_PARAMETER;
  if (bitmap->StructSize != BITMAP_STRUCT_SIZE && bitmap->StructSize != BITMAP_STRUCT_SIZE_OLD)
    return ERROR_INV_STRUCT_SIZE;
  if (bitmap->Flags & FLAG_UNSUPPORTED) return ERROR_UNSUPPORTED_FLAG;
  const bool split = (flags & kSplit) != 0;
  if (!GlowThresholdFits(bitmap, threshold) || strokeLevel1 > 1000 || strokeLevel2 > 1000 ||
      (!split && (strokeAngle < -18000 || strokeAngle > 18000)))
    return ERROR_INV_PARAMETER;
  if (!split && !(flags & kSimple)) return ERROR_INV_PARAMETER;

  const PencilArgs args{dim,          bright,       threshold,  strokeLevel1,
                        strokeLength, strokeLevel2, strokeAngle};
  BitmapCopy photo;
  if (flags & kOverPhoto) {
    const int32_t rc = photo.Make(bitmap);
    if (rc != SUCCESS) return rc;
  }
  int32_t rc = split ? SplitPipeline(bitmap, args) : SimplePipeline(bitmap, args);
  if (rc != SUCCESS || !(flags & kOverPhoto)) return rc;
  return Paused([&] {
    return HostCombineBitmaps(bitmap, 0, 0, bitmap->Width, bitmap->Height, photo.get(), 0, 0,
                              HOST_COMBINE_MULTIPLY);
  });
}
