// Plasma: overlays a plasma pattern. Sums of sine waves over the rectangle give every pixel an
// index into a colour table (a rainbow or three sine waves) of one entry per sample value; the
// table colour, weighted by 100 − ImagePercent, is added to the pixel scaled to ImagePercent.
//
// The pattern is computed a row at a time from per-column, per-row and per-diagonal sine tables
// (the same values the pixel-by-pixel formulas give), so no table of the whole rectangle is kept.
//
// Open points and extreme inputs: a null record answers ERROR_NULL_INFO at the record-size check;
// Style bits above 7 are ignored; gray pixels receive the table colour as one level,
// (blue + 5·green + 2·red) / 8, and four-sample pixels keep their fourth sample. An ImagePercent
// above 100 is reset to 0 in the record and the call answers 0 with the bitmap untouched.
#include <cmath>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;
constexpr uint32_t kPlasmaInfoSize = 32;
static_assert(sizeof(PlasmaInfo) == kPlasmaInfoSize);

// One colour table entry: red, green and blue weighted by 100 − ImagePercent, and their gray mix.
struct PlasmaColor {
  uint32_t t0, t1, t2, gray;
};

PlasmaColor Weighted(uint32_t r, uint32_t g, uint32_t b, uint32_t w) {
  PlasmaColor c;
  c.t0 = (r * w + 50) / 100;
  c.t1 = (g * w + 50) / 100;
  c.t2 = (b * w + 50) / 100;
  c.gray = (c.t2 + 5 * c.t1 + 2 * c.t0) / 8;
  return c;
}

void BuildColorTable(PlasmaColor* table, uint32_t n, const PlasmaInfo& info) {
  const uint32_t w = 100 - info.ImagePercent;
  const uint32_t style = info.Style & 0xF0;
  if (style == 0x00) {
    for (uint32_t i = 0; i < n; ++i) {
      const double h = i / static_cast<double>(n - 1) * 359.0;
      const double k = std::floor(h / 60);
      const double f = h / 60 - k, q = 1 - f;
      double rgb[6][3] = {{1, f, 0}, {q, 1, 0}, {0, 1, f}, {0, q, 1}, {f, 0, 1}, {1, 0, q}};
      const double* c = rgb[static_cast<int32_t>(k)];
      const double top = n - 1;
      table[i] = Weighted(static_cast<uint32_t>(c[0] * top), static_cast<uint32_t>(c[1] * top),
                          static_cast<uint32_t>(c[2] * top), w);
    }
    return;
  }
  uint32_t period[3] = {n / 8, n / 4, n / 2};
  if (style == 0x20) period[0] = n / 16, period[1] = n / 2, period[2] = 0;
  if (style == 0x30)
    period[0] = info.RedPeriod, period[1] = info.GreenPeriod, period[2] = info.BluePeriod;
  const double half = n / 2;
  for (uint32_t i = 0; i < n; ++i) {
    uint32_t c[3];
    for (int32_t k = 0; k < 3; ++k)
      c[k] = period[k] ? static_cast<uint32_t>(half + half * std::sin(kPi * i / period[k])) : 0;
    table[i] = Weighted(c[0], c[1], c[2], w);
  }
}

// The pattern of the index table, produced one row at a time.
class PlasmaPattern {
 public:
  bool Prepare(const PlasmaInfo& info, uint32_t n, int32_t cols, int32_t rows) {
    pattern_ = info.Style & 0x0F;
    mask_ = n - 1;
    half_ = n / 2;
    shift_ = info.Shift;
    lambda_ = info.Wavelength / 100.0;
    cols_ = cols;
    rows_ = rows;
    const uint32_t diagonals = cols + rows > 0 ? static_cast<uint32_t>(cols + rows - 1) : 0;
    if (!index_.Allocate(cols) || !colSin_.Allocate(cols) || !colSin2_.Allocate(cols) ||
        !diagSin_.Allocate(diagonals))
      return false;
    for (int32_t x = 0; x < cols; ++x) {
      colSin_[x] = std::sin(x / lambda_);
      colSin2_[x] = std::sin(x / (2 * lambda_));
    }
    // Pattern 2 runs along x + y over λ, pattern 5 over 2λ.
    const double diagLambda = pattern_ == 5 ? 2 * lambda_ : lambda_;
    for (uint32_t s = 0; s < diagonals; ++s) diagSin_[s] = std::sin(s / diagLambda);
    if (pattern_ == 0) {  // vertical stripes: the same indices on every row
      for (int32_t x = 0; x < cols; ++x) index_[x] = Index(Trunc(half_ + half_ * colSin_[x]));
    }
    return true;
  }

  // I[y][x] for x = 0 .. cols − 1, computed into `out` (cols entries) unless every row has the
  // same indices.
  const uint32_t* Row(int32_t y, uint32_t* out) const {
    const double h = half_;
    const double rowSin = std::sin(y / lambda_);
    const double dyc = y - rows_ / 2;
    switch (pattern_) {
      case 0:
        return index_.get();
      case 1: {
        const uint32_t i = Index(Trunc(h + h * rowSin));
        for (int32_t x = 0; x < cols_; ++x) out[x] = i;
        break;
      }
      case 2:
        for (int32_t x = 0; x < cols_; ++x) out[x] = Index(Trunc(h + h * diagSin_[x + y]));
        break;
      case 3:
        for (int32_t x = 0; x < cols_; ++x)
          out[x] = Index(Trunc(h + h * colSin_[x] + h + h * rowSin) / 2);
        break;
      case 4:
        for (int32_t x = 0; x < cols_; ++x) {
          const double dxc = x - cols_ / 2;
          const double dc = std::sqrt(dxc * dxc + dyc * dyc);
          out[x] = Index(Trunc(h + h * std::sin(dc / lambda_)));
        }
        break;
      case 5:
        for (int32_t x = 0; x < cols_; ++x) {
          const double d0 = std::sqrt(static_cast<double>(x) * x + static_cast<double>(y) * y);
          out[x] = Index(Trunc(h + h * colSin2_[x] + h + h * rowSin + h + h * diagSin_[x + y] + h +
                               h * std::sin(d0 / lambda_)) /
                         4);
        }
        break;
      default:
        for (int32_t x = 0; x < cols_; ++x) {
          const double dxc = x - cols_ / 2;
          const double dc = std::sqrt(dxc * dxc + dyc * dyc);
          const double d0 = std::sqrt(static_cast<double>(x) * x + static_cast<double>(y) * y);
          out[x] = Index(Trunc(h + h * colSin2_[x] + h + h * rowSin + h +
                               h * std::sin(dc / lambda_) + h + h * std::sin(d0 / lambda_)) /
                         4);
        }
        break;
    }
    return out;
  }

 private:
  static uint32_t Trunc(double v) { return static_cast<uint32_t>(v); }  // v in 0 .. 4n
  uint32_t Index(uint32_t v) const { return (v + shift_) & mask_; }

  uint32_t pattern_ = 0, mask_ = 0, half_ = 0, shift_ = 0;
  double lambda_ = 1;
  int32_t cols_ = 0, rows_ = 0;
  HostBlock<uint32_t> index_;
  HostBlock<double> colSin_, colSin2_, diagSin_;
};

template <class T>
void PlasmaRow(const PlasmaColor* table, const uint32_t* index, uint32_t keep, int32_t pixelStep,
               T* pixels, int32_t count) {
  constexpr uint32_t kMax = SampleTraits<T>::kMax;
  const auto add = [keep](uint32_t s, uint32_t t) {
    const uint32_t v = (s * keep + 50) / 100 + t;
    return static_cast<T>(v < kMax ? v : kMax);
  };
  if (pixelStep == 1) {
    for (int32_t x = 0; x < count; ++x) pixels[x] = add(pixels[x], table[index[x]].gray);
    return;
  }
  for (int32_t x = 0; x < count; ++x) {
    const PlasmaColor& e = table[index[x]];
    T* px = pixels + int64_t{x} * pixelStep;
    px[0] = add(px[0], e.t2);
    px[1] = add(px[1], e.t1);
    px[2] = add(px[2], e.t0);
  }
}

int32_t PlasmaDriver(BitmapRecord* bitmap, const PlasmaInfo& info) {
  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  const int32_t sampleBits = access.SampleBits(), pixelStep = access.PixelStep();
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  RECT rect;
  HostGetRegionBounds(bitmap, nullptr, &rect);
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;

  const uint32_t n = sampleBits == 16 ? 65536 : 256;
  const int32_t cols = rect.right - rect.left, rows = rect.bottom - rect.top;
  HostBlock<PlasmaColor> table;
  PlasmaPattern pattern;
  if (!table.Allocate(n) || !pattern.Prepare(info, n, cols, rows)) return ERROR_NO_MEMORY;
  BuildColorTable(table.get(), n, info);
  RowWindow source;
  RowSlots slots;
  rc = source.AllocateRowByRow(rowBytes, slots, size_t(cols) * sizeof(uint32_t));
  if (rc != SUCCESS) return rc;

  rc = WithSampleType(sampleBits, [&](auto sample) {
    using T = decltype(sample);
    return source.RunInPlace(
        access, slots, rect.top, rect.bottom, bitmap->Height, cols,
        [&](int32_t y, uint8_t* out, uint8_t* scratch) {
          const uint32_t* index = pattern.Row(y - rect.top, reinterpret_cast<uint32_t*>(scratch));
          PlasmaRow<T>(table.get(), index, info.ImagePercent, pixelStep,
                       reinterpret_cast<T*>(out) + int64_t{rect.left} * pixelStep, cols);
        },
        NoHostCall(), WriteRow(access));
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

constexpr FxFlagValue kPatternValues[] = {
    {"vertical", 0, "vertical stripes"},
    {"horizontal", 1, "horizontal stripes"},
    {"diagonal", 2, "diagonal stripes"},
    {"plaid", 3, "vertical and horizontal stripes crossed"},
    {"rings", 4, "rings around the centre"},
    {"corner", 5, "stripes mixed with rings around the top-left corner"},
    {"center", 6, "stripes mixed with rings around the centre and the corner"},
};
constexpr FxFlagValue kColorValues[] = {
    {"rainbow", 0x00, "a hue sweep"},
    {"bands", 0x10, "three sine waves, periods an eighth, a quarter and half the table"},
    {"warm", 0x20, "red and green sine waves, no blue"},
    {"periods", 0x30, "sine waves of RedPeriod, GreenPeriod and BluePeriod"},
};
constexpr FxFlagField kStyleFields[] = {
    FlagField("pattern", 0x0F, kPatternValues, "the plasma's pattern"),
    FlagField("colors", 0xF0, kColorValues, "the colour table"),
};

const FxFieldDesc kPlasmaFields[] = {
    Field("StructSize", FX_KIND_UINT32, offsetof(PlasmaInfo, StructSize), kPlasmaInfoSize, 0,
          kAnyUInt32Max, "record size, 32"),
    Field("RedPeriod", FX_KIND_UINT32, offsetof(PlasmaInfo, RedPeriod), 96, 0, 65535,
          "colour style 0x30: period of the red wave in table entries (0: no red)"),
    Field("GreenPeriod", FX_KIND_UINT32, offsetof(PlasmaInfo, GreenPeriod), 40, 0, 65535,
          "colour style 0x30: period of the green wave"),
    Field("BluePeriod", FX_KIND_UINT32, offsetof(PlasmaInfo, BluePeriod), 160, 0, 65535,
          "colour style 0x30: period of the blue wave"),
    Field("ImagePercent", FX_KIND_UINT32, offsetof(PlasmaInfo, ImagePercent), 40, 0, 100,
          "share of the pixel kept; the plasma colours are weighted by the rest"),
    Field("Shift", FX_KIND_UINT32, offsetof(PlasmaInfo, Shift), 0, 0, 65535,
          "offset added to every pattern index (cycles the colours)"),
    Field("Wavelength", FX_KIND_UINT32, offsetof(PlasmaInfo, Wavelength), 2000, 1, kAnyUInt32Max,
          "wavelength of the pattern waves in hundredths of a pixel"),
    Field("Style", FX_KIND_FLAGS, offsetof(PlasmaInfo, Style), 0x06, 0, 0x36,
          "bits 0-3 pattern 0..6; bits 4-7 colours: 0x00 rainbow, 0x10, 0x20 fixed waves, 0x30 "
          "the periods above",
          kStyleFields),
};

const FxRecordDesc kPlasmaRecord = {"PlasmaInfo", kPlasmaInfoSize, kPlasmaFields,
                                    CountOf(kPlasmaFields)};

const FxParamDesc kPlasmaParams[] = {
    RecordParam("info", &kPlasmaRecord, "the plasma's pattern, colours and mix"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kPlasmaPresets[] = {
    {"rings", "pattern=rings colors=rainbow Wavelength=250%s ImagePercent=30"},
    {"stripes", "pattern=plaid colors=bands Wavelength=187.5%s ImagePercent=50 Shift=64"},
    {"custom",
     "pattern=corner colors=periods RedPeriod=40 GreenPeriod=70 BluePeriod=0 Wavelength=417%s "
     "ImagePercent=20"},
};

}  // namespace

extern const FxEffectDesc kPlasmaFilterEffect = {
    "plasma-filter",
    "Fx_PlasmaFilterBitmap",
    FX_FAMILY_PROCEDURAL,
    "Adds a plasma of sine-wave colours to the image",
    kPlasmaParams,
    CountOf(kPlasmaParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_PlasmaFilterBitmap(b, ArgPtr<PlasmaInfo>(v[0]), ArgU32(v[1]));
    },
    kPlasmaPresets,
    CountOf(kPlasmaPresets),
    FX_TRAIT_TONES_ONLY,
};

}  // namespace fx

int32_t Fx_PlasmaFilterBitmap(BitmapRecord* bitmap, PlasmaInfo* info, uint32_t flags) {
  if (!bitmap) return ERROR_NO_BITMAP;
  if (const int32_t rc = fx::CheckRecordLayout(bitmap); rc != SUCCESS) return rc;
  if (flags != 0) return ERROR_INV_PARAMETER;
  if (bitmap->Flags & FLAG_UNSUPPORTED) return ERROR_UNSUPPORTED_FLAG;
  if (!info) return ERROR_NULL_INFO;
  if (info->StructSize != fx::kPlasmaInfoSize) return ERROR_INV_STRUCT_SIZE;
  const uint32_t style = info->Style & 0xF0;
  if (info->Wavelength == 0 || (info->Style & 0x0F) >= 7) return ERROR_INV_PARAMETER;
  if (style != 0x00 && style != 0x10 && style != 0x20 && style != 0x30) return ERROR_INV_PARAMETER;
  const int32_t bpp = bitmap->BitsPerPixel;
  const uint32_t max = bpp == 12 ? 4095 : (bpp == 16 || bpp == 48 || bpp == 64) ? 65535 : 255;
  if (info->Shift > max) return ERROR_INV_PARAMETER;
  if (style == 0x30 && (info->RedPeriod > max || info->GreenPeriod > max || info->BluePeriod > max))
    return ERROR_INV_PARAMETER;
  if (info->ImagePercent > 100) {
    info->ImagePercent = 0;
    return 0;
  }
  fx::OrientationGuard orientation(bitmap);
  return fx::PlasmaDriver(bitmap, *info);
}
