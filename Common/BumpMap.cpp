// Bump map: embosses the image with a relief taken from a second bitmap. The bump map's gray
// levels are heights; their gradient gives a surface normal per pixel, a directional light
// (azimuth, elevation) shades it, and the shade scales the image's samples through two shift
// tables that act as brightness offsets. The bump map is laid once at a chosen place or repeated
// over the image; it may be the image itself, in which case a private copy is used.
//
// The shade of every bump pixel is worked out once (a table of the bump map's size, rows in
// parallel), then the image's rows are shaded in parallel; every value is the one the row-by-row
// reading of the bump map gives. The bump map's window rows clamp to 0 .. height - 2, so its last
// row is never read; its columns clamp to the row.
//
// Open points and extreme inputs:
// - The bump map is read as 8-bit gray levels: a colour pixel's level is (b + 5g + 2r + 4) / 8
//   of its working samples, and 16-bit levels become (v + 128) / 257. The height table then
//   replaces level g by the low byte of its entry g.
// - A bump map of fewer than two rows or columns leaves the window's clamp range empty:
//   ERROR_INV_PARAMETER, after the no-op tests.
// - The shift tables hold at least as many entries as the working samples have values (a 1- or
//   4-bit bitmap of gray order would otherwise give 2 or 16 entries for 8-bit samples).
// - Single placement: the bump map's region limits the shaded pixels as the bitmap's own region
//   does (a pixel is shaded when both regions hold it), without changing the bitmap's region. The
//   tiled placement repeats the whole bump map; its region is not consulted.
// - The tables of the bump map's size are host blocks; a bump map of more than 2^32 pixels
//   answers ERROR_NO_MEMORY.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr double kPi = 3.1415926535;
constexpr uint32_t kBumpSize = 52;
static_assert(sizeof(BumpMapInfo) == kBumpSize);
static_assert(offsetof(BumpMapInfo, heightTable) == 44);
constexpr uint16_t kOutside = 0xFFFF;  // shade table: the bump pixel lies outside its region

struct LightVector {
  double l0, l1, l2;
};

// The light vector of the azimuth and elevation (degrees) with divisor n.
LightVector MakeLightVector(int32_t azimuth, uint32_t elevation, uint32_t n) {
  if (azimuth < 0) azimuth += 360;
  const double alpha = azimuth * kPi / 180, epsilon = elevation * kPi / 180;
  const double lift = static_cast<double>(1530 / n);
  return {std::cos(alpha) * std::cos(epsilon) * 255, std::sin(alpha) * std::cos(epsilon) * 255,
          lift * std::sin(epsilon) * 255};
}

// The shade 0 .. 255 of a gradient.
inline uint16_t ShadeOf(const LightVector& l, int32_t gx, int32_t gy) {
  const int32_t d = static_cast<int32_t>(gx * l.l0 + gy * l.l1 + l.l2);
  if (d < 0) return 0;
  const int32_t m = static_cast<int32_t>(std::sqrt(static_cast<double>(gx * gx + gy * gy) + l.l2));
  if (m == 0) return 0;
  const int32_t shade = d / m;
  return static_cast<uint16_t>(shade > 255 ? 255 : shade);
}

// The bump map as 8-bit levels (rows 0 .. height - 2) and the shade of every pixel.
class BumpShades {
 public:
  int32_t Build(BitmapRecord* bump, const uint32_t* heightTable, const LightVector& light,
                const RECT* regionArea) {
    width_ = bump->Width;
    height_ = bump->Height;
    const int64_t pixels = int64_t{width_} * height_;
    if (pixels > UINT32_MAX) return ERROR_NO_MEMORY;
    AccessOwner access;
    int32_t rc = access.Open(bump, 18);
    if (rc != SUCCESS) return rc;
    // The levels are read a band of rows at a time (the reads of single rows, in order) and
    // converted on every thread.
    const auto rowBytes = static_cast<size_t>(access.RowBytes());
    const int32_t band = host::BandRows(static_cast<int64_t>(rowBytes));
    if (uint64_t{rowBytes} * band > UINT32_MAX) return ERROR_NO_MEMORY;
    HostBlock<uint8_t> rows;
    if (!rows.Allocate(static_cast<uint32_t>(rowBytes * band)) ||
        !levels_.Allocate(static_cast<uint32_t>(int64_t{width_} * (height_ - 1))) ||
        !shades_.Allocate(static_cast<uint32_t>(pixels)))
      return ERROR_NO_MEMORY;
    const int32_t step = access.PixelStep(), bits = access.SampleBits();
    uint8_t* table[host::kMaxBandRows];
    for (int32_t k = 0; k < band; ++k) table[k] = rows.get() + size_t(k) * rowBytes;
    for (int32_t y0 = 0; y0 < height_ - 1; y0 += band) {
      const int32_t n = std::min(band, height_ - 1 - y0);
      rc = HostReadRows(access, table, y0, n);
      if (rc != SUCCESS) return rc;
      ParallelFor(n, width_, [&](int32_t k) {
        uint8_t* out = levels_.get() + int64_t{y0 + k} * width_;
        if (bits == 16)
          ToLevels(reinterpret_cast<const uint16_t*>(table[k]), step, out, width_);
        else
          ToLevels(table[k], step, out, width_);
        if (heightTable)
          for (int32_t x = 0; x < width_; ++x) out[x] = static_cast<uint8_t>(heightTable[out[x]]);
      });
    }
    HostFinishUpdate(bump);

    // Shade rows in parallel; each finished row is copied into the table on this thread, where
    // the bump map's region is consulted.
    RowSlots slots;
    const size_t shadeBytes = size_t(width_) * sizeof(uint16_t);
    if (!slots.Allocate(shadeBytes, 0)) return ERROR_NO_MEMORY;
    return RunRows(
        slots, 0, height_, width_,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          ShadeRow(light, y, reinterpret_cast<uint16_t*>(out));
        },
        NoHostCall(),
        [&](int32_t y, uint8_t* out) {
          uint16_t* row = shades_.get() + int64_t{y} * width_;
          std::memcpy(row, out, shadeBytes);
          if (regionArea) MarkOutside(bump, *regionArea, y, row);
          return SUCCESS;
        });
  }

  const uint16_t* Row(int32_t y) const { return shades_.get() + int64_t{y} * width_; }
  int32_t width() const { return width_; }
  int32_t height() const { return height_; }

 private:
  template <class T>
  static void ToLevels(const T* row, int32_t step, uint8_t* out, int32_t width) {
    for (int32_t x = 0; x < width; ++x) {
      const T* p = row + int64_t{x} * step;
      uint32_t g = step >= 3 ? (uint32_t{p[0]} + 5 * uint32_t{p[1]} + 2 * uint32_t{p[2]} + 4) / 8
                             : uint32_t{p[0]};
      if (sizeof(T) == 2) g = (g + 128) / 257;
      out[x] = static_cast<uint8_t>(g);
    }
  }

  // The window rows of bump row y clamp to 0 .. height - 2, the columns to 0 .. width - 1.
  void ShadeRow(const LightVector& light, int32_t y, uint16_t* out) const {
    const auto level = [&](int32_t row) {
      row = row < 0 ? 0 : (row > height_ - 2 ? height_ - 2 : row);
      return levels_.get() + int64_t{row} * width_;
    };
    const uint8_t *r0 = level(y - 1), *r2 = level(y + 1), *r1 = level(y);
    const int32_t last = width_ - 1;
    for (int32_t x = 0; x < width_; ++x) {
      const int32_t xl = x > 0 ? x - 1 : 0, xr = x < last ? x + 1 : last;
      const int32_t gx = (r0[xl] + r1[xl] + r2[xl]) - (r0[xr] + r1[xr] + r2[xr]);
      const int32_t gy = (r2[xl] + r2[x] + r2[xr]) - (r0[xl] + r0[x] + r0[xr]);
      out[x] = ShadeOf(light, gx, gy);
    }
  }

  // Single placement: bump pixels of the area outside the bump map's region are not shaded.
  static void MarkOutside(const BitmapRecord* bump, const RECT& area, int32_t y, uint16_t* out) {
    if (y < area.top || y >= area.bottom) return;
    for (int32_t x = area.left; x < area.right; ++x)
      if (!HostIsInRegion(bump, x, y)) out[x] = kOutside;
  }

  int32_t width_ = 0, height_ = 0;
  HostBlock<uint8_t> levels_;
  HostBlock<uint16_t> shades_;
};

// The shift tables OUT and IN.
struct ShiftTables {
  HostBlock<uint32_t> out, in;
  uint32_t count = 0;

  bool Build(const BitmapRecord* bitmap, int32_t sampleBits, int32_t brightness,
             int32_t intensity) {
    const int32_t bpp = bitmap->BitsPerPixel;
    int64_t n = bpp >= 48                     ? 65536
                : bitmap->Order != ORDER_GRAY ? 256
                : bpp == 12                   ? 65536
                                              : int64_t{1} << (bpp > 16 ? 16 : bpp);
    const int64_t working = int64_t{1} << sampleBits;
    if (n < working) n = working;
    count = static_cast<uint32_t>(n);
    if (!out.Allocate(count) || !in.Allocate(count)) return false;
    const int64_t sOut = (int64_t{brightness} * n + 500) / 1000;
    const int64_t sIn = (int64_t{intensity} * n + 500) / 1000;
    for (int64_t i = 0; i < n; ++i) {
      const int64_t o = i + sOut, v = i + sIn;
      out[size_t(i)] = static_cast<uint32_t>(o < 0 ? 0 : (o > n - 1 ? n - 1 : o));
      in[size_t(i)] = static_cast<uint32_t>(v < 0 ? 0 : (v > n - 1 ? n - 1 : v));
    }
    return true;
  }
};

// Every sample p of the pixels from column `left` to `right` - 1 becomes
// OUT[min(IN[p] x shade / 255, M)], shade from shadeAt(x); a kOutside shade leaves the pixel.
template <class T, class ShadeAt>
void BumpRow(const ShiftTables& t, int32_t pixelStep, int32_t left, int32_t right, T* out,
             ShadeAt&& shadeAt) {
  constexpr uint32_t kMax = SampleTraits<T>::kMax;
  const int32_t samples = IsColorPixel(pixelStep) ? 3 : 1;
  for (int32_t x = left; x < right; ++x) {
    const uint32_t shade = shadeAt(x);
    if (shade == kOutside) continue;
    T* p = out + int64_t{x} * pixelStep;
    for (int32_t k = 0; k < samples; ++k) {
      const uint32_t v = t.in[p[k]] * shade / 255;
      p[k] = static_cast<T>(t.out[v < kMax ? v : kMax]);
    }
  }
}

// Shades rows top .. bottom - 1 of the bitmap from column left to right - 1 in parallel.
template <class ShadeRowAt>
int32_t ShadeBitmap(BitmapRecord* bitmap, AccessOwner& access, const ShiftTables& tables,
                    const RECT& area, ShadeRowAt&& shadeRowAt) {
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  const int32_t pixelStep = access.PixelStep();
  RowWindow source;
  RowSlots slots;
  int32_t rc = source.AllocateRowByRow(rowBytes, slots);
  if (rc != SUCCESS) return rc;
  return WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return source.RunInPlace(
        access, slots, area.top, area.bottom, bitmap->Height, area.right - area.left,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          BumpRow<T>(tables, pixelStep, area.left, area.right, reinterpret_cast<T*>(out),
                     shadeRowAt(y));
        },
        NoHostCall(), WriteRow(access));
  });
}

inline int32_t Wrap(int64_t v, int32_t n) {
  const int64_t r = v % n;
  return static_cast<int32_t>(r < 0 ? r + n : r);
}

int32_t TiledDriver(BitmapRecord* bitmap, BitmapRecord* bump, const BumpMapInfo& info,
                    const uint32_t* heightTable) {
  RECT bounds, target, moved{0, 0, bitmap->Width, bitmap->Height};
  HostGetRegionBounds(bitmap, nullptr, &bounds);
  fxrt::OffsetRect(&moved, info.destX, info.destY);
  if (!fxrt::IntersectRect(&target, &moved, &bounds)) target = RECT{0, 0, 0, 0};
  const int64_t originX = info.destX < 0 ? -int64_t{info.destX} : 0;
  const int64_t originY = -int64_t{info.destY};

  BumpShades shades;
  int32_t rc = shades.Build(bump, heightTable,
                            MakeLightVector(info.azimuth, info.elevation, info.depth), nullptr);
  if (rc != SUCCESS) return rc;
  AccessOwner access;
  rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  ShiftTables tables;
  if (!tables.Build(bitmap, access.SampleBits(), info.brightness, info.intensity))
    return ERROR_NO_MEMORY;
  rc = HostBeginRectWrite(access, 1, 100, &bounds);
  if (rc != SUCCESS) return rc;

  const int32_t bw = shades.width(), bh = shades.height();
  const int32_t startX = Wrap(info.bumpX, bw), startY = Wrap(info.bumpY, bh);
  rc = ShadeBitmap(bitmap, access, tables, target, [&](int32_t y) {
    const uint16_t* row = shades.Row(Wrap(y + originY + startY, bh));
    return [row, originX, startX, bw](int32_t x) { return row[Wrap(x + originX + startX, bw)]; };
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

int32_t SingleDriver(BitmapRecord* bitmap, BitmapRecord* bump, const BumpMapInfo& info,
                     const uint32_t* heightTable) {
  RECT bitmapBounds, bumpBounds;
  HostGetRegionBounds(bitmap, nullptr, &bitmapBounds);
  HostGetRegionBounds(bump, nullptr, &bumpBounds);
  // Both corners move together until neither offset is negative.
  int64_t dl = info.destX, dt = info.destY, sl = info.bumpX, st = info.bumpY;
  if (dl < 0 || sl < 0) {
    const int64_t m = dl < sl ? dl : sl;
    dl -= m, sl -= m;
  }
  if (dt < 0 || st < 0) {
    const int64_t m = dt < st ? dt : st;
    dt -= m, st -= m;
  }
  const int64_t w = std::min<int64_t>(bitmapBounds.right - dl,
                                      std::min<int64_t>(bumpBounds.right, sl + bitmap->Width) - sl);
  const int64_t h = std::min<int64_t>(
      bitmapBounds.bottom - dt, std::min<int64_t>(bumpBounds.bottom, st + bitmap->Height) - st);
  if (w <= 0 || h <= 0) return SUCCESS;
  const RECT area{static_cast<int32_t>(dl), static_cast<int32_t>(dt), static_cast<int32_t>(dl + w),
                  static_cast<int32_t>(dt + h)};
  const RECT bumpArea{static_cast<int32_t>(sl), static_cast<int32_t>(st),
                      static_cast<int32_t>(sl + w), static_cast<int32_t>(st + h)};

  BumpShades shades;
  int32_t rc =
      shades.Build(bump, heightTable, MakeLightVector(info.azimuth, info.elevation, info.depth),
                   HostHasRegion(bump) ? &bumpArea : nullptr);
  if (rc != SUCCESS) return rc;
  AccessOwner access;
  rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  ShiftTables tables;
  if (!tables.Build(bitmap, access.SampleBits(), info.brightness, info.intensity))
    return ERROR_NO_MEMORY;
  rc = BeginWritePhase(access, bitmap);
  if (rc != SUCCESS) return rc;
  const int32_t shiftX = bumpArea.left - area.left;
  rc = ShadeBitmap(bitmap, access, tables, area, [&](int32_t y) {
    const uint16_t* row = shades.Row(y - area.top + bumpArea.top);
    return [row, shiftX](int32_t x) { return row[x + shiftX]; };
  });
  if (rc == SUCCESS) HostFinishUpdate(bitmap);
  return rc;
}

// A private copy of the bitmap for use as its own bump map, freed on every path.
class PrivateCopy {
 public:
  ~PrivateCopy() {
    if (record_) {
      HostFreeBitmap(record_.get());
      record_.Reset();
    }
  }
  int32_t Make(BitmapRecord* bitmap) {
    if (!record_.Allocate(1)) return ERROR_NO_MEMORY;
    if (HostSetOrientation(record_.get(), bitmap, bitmap->StructSize, bitmap->Orientation, 7) !=
        SUCCESS) {
      record_.Reset();
      return ERROR_NO_MEMORY;
    }
    return SUCCESS;
  }
  BitmapRecord* get() const { return record_.get(); }

 private:
  HostBlock<BitmapRecord> record_;
};

// Descriptors ----------------------------------------------------------------------------------

#define BUMP_FIELD(name) offsetof(BumpMapInfo, name)
const FxFieldDesc kBumpFields[] = {
    Field("size", FX_KIND_UINT32, BUMP_FIELD(size), kBumpSize, 0, kAnyUInt32Max, "record size, 52"),
    Field("azimuth", FX_KIND_INT32, BUMP_FIELD(azimuth), 135, kAnyInt32Min, kAnyInt32Max,
          "direction of the light, degrees (0 right, 90 down); beyond -360 .. 360 a no-op"),
    Field("elevation", FX_KIND_UINT32, BUMP_FIELD(elevation), 30, 0, kAnyUInt32Max,
          "height of the light, degrees; above 180 a no-op"),
    Field("depth", FX_KIND_UINT32, BUMP_FIELD(depth), 12, 0, kAnyUInt32Max,
          "relief depth: the light's height is divided by it; 0 a no-op"),
    Field("bumpX", FX_KIND_INT32, BUMP_FIELD(bumpX), 0, kAnyInt32Min, kAnyInt32Max,
          "start column inside the bump map; beyond -its width .. its width a no-op"),
    Field("bumpY", FX_KIND_INT32, BUMP_FIELD(bumpY), 0, kAnyInt32Min, kAnyInt32Max,
          "start row inside the bump map; beyond -its height .. its height a no-op"),
    Field("destX", FX_KIND_INT32, BUMP_FIELD(destX), 0, kAnyInt32Min, kAnyInt32Max,
          "column of the relief in the bitmap; beyond -Width .. Width a no-op"),
    Field("destY", FX_KIND_INT32, BUMP_FIELD(destY), 0, kAnyInt32Min, kAnyInt32Max,
          "row of the relief in the bitmap; beyond -Height .. Height a no-op"),
    Field("tile", FX_KIND_UINT32, BUMP_FIELD(tile), 0, 0, kAnyUInt32Max,
          "non-zero: the bump map repeats over the bitmap; 0: laid once"),
    Field("brightness", FX_KIND_INT32, BUMP_FIELD(brightness), 200, -1000, 1000,
          "output shift, thousandths of the sample range"),
    Field("intensity", FX_KIND_INT32, BUMP_FIELD(intensity), 0, -1000, 1000,
          "input shift, thousandths of the sample range"),
    ArrayField("heightTable", BUMP_FIELD(heightTable), 256, kAnyInt32Min, kAnyInt32Max,
               "null, or 256 values: the low byte of value g replaces bump level g"),
};
#undef BUMP_FIELD

const FxRecordDesc kBumpRecord = {"BumpMapInfo", kBumpSize, kBumpFields, CountOf(kBumpFields)};

const FxParamDesc kBumpParams[] = {
    BitmapParam("bumpBitmap", FX_DEFAULT_IMAGE_ITSELF,
                "the relief: its gray levels are heights; a file or @card (default: the image "
                "itself, through a private copy)"),
    RecordParam("info", &kBumpRecord, "the light, placement and shifts: fields by name"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kBumpPresets[] = {
    {"emboss-self", "azimuth=135 elevation=30 depth=12 brightness=200 tile=0"},
    {"deep-relief", "azimuth=-45 elevation=45 depth=30 brightness=350 tile=0"},
    {"tiled-card",
     "bumpBitmap=@card:64x48 tile=1 azimuth=90 elevation=40 depth=10 "
     "brightness=150 bumpX=-10 destY=5"},
};

}  // namespace

extern const FxEffectDesc kBumpMapEffect = {
    "bump-map",
    "Fx_BumpMapBitmap",
    FX_FAMILY_BLUR_LIGHT_GLOW,
    "Embosses the image with the relief of a bump map's gray levels, lit from one direction",
    kBumpParams,
    CountOf(kBumpParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_BumpMapBitmap(b, ArgPtr<BitmapRecord>(v[0]), ArgPtr<BumpMapInfo>(v[1]),
                              ArgU32(v[2]));
    },
    kBumpPresets,
    CountOf(kBumpPresets),
    FX_TRAIT_TONES_ONLY,
};

}  // namespace fx

int32_t Fx_BumpMapBitmap(BitmapRecord* bitmap, BitmapRecord* bumpBitmap, BumpMapInfo* info,
                         uint32_t flags) {
  if (flags != 0) return ERROR_INV_PARAMETER;
  for (BitmapRecord* b : {bitmap, bumpBitmap}) {
    const int32_t rc = fx::CheckBitmap(b, false);
    if (rc != SUCCESS) return rc;
  }
  if (!info) return ERROR_NULL_INFO;
  if (info->size != fx::kBumpSize) return ERROR_INV_STRUCT_SIZE;
  if (info->brightness < -1000 || info->brightness > 1000 || info->intensity < -1000 ||
      info->intensity > 1000)
    return ERROR_INV_PARAMETER;
  const auto outside = [](int32_t v, int32_t limit) {
    return int64_t{v} < -int64_t{limit} || v > limit;
  };
  if (outside(info->destX, bitmap->Width) || outside(info->destY, bitmap->Height) ||
      outside(info->bumpX, bumpBitmap->Width) || outside(info->bumpY, bumpBitmap->Height) ||
      info->azimuth < -360 || info->azimuth > 360 || info->elevation > 180 || info->depth == 0) {
    HostNothingToDo();
    return SUCCESS;
  }
  if (bumpBitmap->Width < 2 || bumpBitmap->Height < 2) return ERROR_INV_PARAMETER;
  fx::OrientationGuard orientation(bitmap);
  fx::PrivateCopy copy;
  if (bumpBitmap == bitmap) {
    const int32_t rc = copy.Make(bitmap);
    if (rc != SUCCESS) return rc;
    bumpBitmap = copy.get();
  }
  const uint32_t* heightTable;
  std::memcpy(&heightTable, reinterpret_cast<const uint8_t*>(info) + 44, sizeof(heightTable));
  return info->tile ? fx::TiledDriver(bitmap, bumpBitmap, *info, heightTable)
                    : fx::SingleDriver(bitmap, bumpBitmap, *info, heightTable);
}
