// Colored pencil: the look of a coloured-pencil drawing. Flat areas are pushed toward white paper
// while strokes of local contrast keep their colour or darken. Two host copies of the bitmap give
// each sample its local contrast: copy A holds the brightest neighbour, copy B the neighbourhood's
// mean (HostPencilFilterA/B, neighbourhood set by `size`). With p the sample, a and b the copies'
// samples, d = 0 when a < p, else max(|a - p|, |b - p|); a sample with d = 0 keeps its value, any
// other moves by strength percent of t = (max - p) w - d p / max, w = 1 / (d / sqrt(p + 1) / K + 1)
// (K = 3 at 8 bits, 48 at 16), truncated and held to the sample range. Every channel is
// independent. The effect works in the bitmap's current orientation.
//
// Rows are read a band at a time on the calling thread (bitmap, copy B, copy A, row by row) and
// computed on the row engine; where the views' rows are stored rows, the reads' checks are taken
// there and the thread that computes a row moves the bitmap's row straight into the output row
// and reads the copies' rows where they are stored (as read) or moves them in. The 8-bit kernel
// looks its results up in a table of every (p, d).
//
// Extreme inputs and choices:
// - Both copies' results are checked (not only the second's): a failed first copy ends the call
//   with its code instead of filtering an empty record.
// - Only the rectangle's columns are computed; the region write kept the others anyway.
// - A fourth sample (32 and 64 bits per pixel) keeps its value, as everywhere in the library.
// - An empty rectangle changes nothing and answers SUCCESS before anything is copied.
#include "Common/ColoredPencil.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

template <class T>
struct PencilTraits;
template <>
struct PencilTraits<uint8_t> {
  static constexpr uint32_t kMax = 255;
  static constexpr double kK = 3;
};
template <>
struct PencilTraits<uint16_t> {
  static constexpr uint32_t kMax = 65535;
  static constexpr double kK = 48;
};

// The new value of sample p with local contrast d; root[p] = sqrt(p + 1).
template <class T>
inline T PencilSample(uint32_t p, uint32_t d, uint32_t strength, const double* root) {
  constexpr uint32_t max = PencilTraits<T>::kMax;
  if (d == 0) return static_cast<T>(p);  // w = 0 and t = 0: the value stays
  const double w = 1 / (d / root[p] / PencilTraits<T>::kK + 1);
  const double t = (max - p) * w - static_cast<double>(uint64_t{d} * p) / double{max};
  const int32_t v = TruncToInt32(p + strength / 100.0 * t);
  return static_cast<T>(std::clamp<int32_t>(v, 0, max));
}

// The local contrast of sample p against the copies' samples a and b.
inline uint32_t Contrast(int32_t p, int32_t a, int32_t b) {
  if (a < p) return 0;
  return static_cast<uint32_t>(std::max(a - p, std::abs(b - p)));
}

struct PencilRow {
  int32_t left, right, step, channels;
  uint32_t strength;
  const double* root;    // sqrt(p + 1) for every sample value
  const uint8_t* table;  // 8 bits: the result of every (p, d), p * 256 + d
};

template <class T>
void PencilKernel(const PencilRow& k, const T* a, const T* b, T* out) {
  for (int64_t x = k.left; x < k.right; ++x)
    for (int32_t c = 0; c < k.channels; ++c) {
      const int64_t i = x * k.step + c;
      const uint32_t p = out[i], d = Contrast(p, a[i], b[i]);
      if constexpr (sizeof(T) == 1)
        out[i] = k.table[p * 256 + d];
      else
        out[i] = PencilSample<T>(p, d, k.strength, k.root);
    }
}

int32_t ColoredPencilDriver(BitmapRecord* bitmap, uint32_t strength, uint32_t size) {
  RECT rect;
  HostGetRegionBounds(bitmap, nullptr, &rect);
  if (IsEmpty(rect)) return SUCCESS;
  BitmapCopy a, b;
  int32_t rc = a.Make(bitmap);
  if (rc == SUCCESS) rc = b.Make(bitmap);
  if (rc != SUCCESS) return rc;

  AccessOwner accessB, accessA, access;
  rc = accessB.Open(b.get(), 2);
  if (rc == SUCCESS) rc = accessA.Open(a.get(), 2);
  if (rc == SUCCESS) rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t bits = access.SampleBits(), step = access.PixelStep();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  // The band's rows of the bitmap, copy B and copy A.
  const uint64_t bandBytes = uint64_t{3} * kBandRows * rowBytes;
  HostBlock<uint8_t> band;
  HostBlock<double> root;
  HostBlock<uint8_t> table;
  RowSlots slots;
  const uint32_t values = bits == 16 ? 65536 : 256;
  if (bandBytes > UINT32_MAX || !band.Allocate(static_cast<uint32_t>(bandBytes)) ||
      !root.Allocate(values) || (bits != 16 && !table.Allocate(256 * 256)) ||
      !slots.Allocate(rowBytes, 0))
    return ERROR_NO_MEMORY;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;

  rc = Paused([&] { return HostPencilFilterB(b.get(), size); });
  if (rc == SUCCESS) rc = Paused([&] { return HostPencilFilterA(a.get(), size); });
  if (rc != SUCCESS) return rc;

  for (uint32_t p = 0; p < values; ++p) root[p] = std::sqrt(p + 1.0);
  if (bits != 16)
    for (uint32_t p = 0; p < 256; ++p)
      for (uint32_t d = 0; d < 256; ++d)
        table[p * 256 + d] = PencilSample<uint8_t>(p, d, strength, root.get());
  const PencilRow k{rect.left, rect.right, step,       IsColorPixel(step) ? 3 : 1,
                    strength,  root.get(), table.get()};

  // Each row's three reads take their checks and fault points on this thread, in order; where
  // the view's rows are stored rows, the rows are then moved in by the thread that computes them.
  const host::DeferredRowReads reads[] = {host::DeferredRowReads(access),
                                          host::DeferredRowReads(accessB),
                                          host::DeferredRowReads(accessA)};
  return WithSampleType(bits, [&](auto sample) -> int32_t {
    using T = decltype(sample);
    for (int32_t y0 = rect.top; y0 < rect.bottom; y0 += kBandRows) {
      const int32_t y1 = std::min(rect.bottom, y0 + kBandRows);
      const auto at = [&](int32_t y, int32_t copy) {
        return band.get() + (size_t(y - y0) * 3 + copy) * rowBytes;
      };
      for (int32_t y = y0; y < y1; ++y)
        for (int32_t copy = 0; copy < 3; ++copy) {
          uint8_t* const row[] = {at(y, copy)};
          if (const int32_t rc = reads[copy].Read(row, y, 1); rc != SUCCESS) return rc;
        }
      const int32_t rc = RunRows(
          slots, y0, y1, rect.right - rect.left,
          [&](int32_t y, uint8_t* out, uint8_t*) {
            reads[0].FetchInto(out, at(y, 0), y, rowBytes);
            PencilKernel<T>(k, reinterpret_cast<const T*>(reads[2].Locate(at(y, 2), y)),
                            reinterpret_cast<const T*>(reads[1].Locate(at(y, 1), y)),
                            reinterpret_cast<T*>(out));
          },
          NoHostCall(), WriteRow(access));
      if (rc != SUCCESS) return rc;
    }
    HostFinishUpdate(bitmap);
    return SUCCESS;
  });
}

const FxParamDesc kColoredPencilParams[] = {
    UIntParam("strength", 70, 0, 100,
              "how far samples move toward the pencil look, percent; 0 does nothing"),
    UIntParam("size", 10, 0, 100,
              "neighbourhood of the local contrast: a square of side 2 (1 + size / 10) + 1 pixels"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kColoredPencilPresets[] = {
    {"soft", "strength=45 size=0"},
    {"hard", "strength=100 size=20"},
    {"bold", "strength=85 size=60"},
};

}  // namespace

extern const FxEffectDesc kColoredPencilEffect = {
    "colored-pencil",
    "Fx_ColoredPencilBitmap",
    FX_FAMILY_ARTISTIC,
    "A coloured-pencil drawing: flat areas whiten like paper, edges keep their colour or darken",
    kColoredPencilParams,
    CountOf(kColoredPencilParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_ColoredPencilBitmap(b, ArgU32(v[0]), ArgU32(v[1]), ArgU32(v[2]));
    },
    kColoredPencilPresets,
    CountOf(kColoredPencilPresets),
    FX_TRAIT_MOVES_PIXELS,
};

}  // namespace fx

int32_t Fx_ColoredPencilBitmap(BitmapRecord* bitmap, uint32_t strength, uint32_t size,
                               uint32_t flags) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (const int32_t rc = fx::CheckRecordLayout(bitmap); rc != SUCCESS) return rc;
  if (flags != 0) return ERROR_INV_PARAMETER;
  if (strength == 0) {
    HostNothingToDo();
    return SUCCESS;
  }
  if (bitmap->Flags & FLAG_UNSUPPORTED) return ERROR_UNSUPPORTED_FLAG;
  if (strength > 100 || size > 100) return ERROR_INV_PARAMETER;
  return fx::ColoredPencilDriver(bitmap, strength, size);
}
