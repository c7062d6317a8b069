// Mosaic tiles: the image looks laid in tiles. Wavy joint lines (Bézier curves through points with
// random jitter) are drawn on a mask of the rectangle's size filled with the tile colour, either
// as a grid or as rings and rays around a centre; the mask is added to the image with the
// intensity as the weight of both, and add shadow can give the result relief. The draws continue
// the thread's generator sequence in the order below; the joints are laid out on the calling
// thread, the host paints them in bands of the mask on every thread, and the rows are combined in
// parallel.
//
// Open points and extreme inputs:
// - TileWidth or TileHeight 0 is ERROR_INV_PARAMETER for every pattern (a grid step of 0 has no
//   joints to space).
// - The polar centre and limits are checked against the rectangle as the effect works on it (in
//   orientation 1), the same rectangle the joints are drawn in.
// - The squares of the rectangle's size are summed in 64 bits (the same value whenever the sum
//   fits 32 bits). The point buffer holds the joints of a stage, up to 2^18 points (more are
//   drawn in several calls, the same pixels), and at least what the largest joint writes: a
//   ring's 73 points on rectangles whose diagonal is short, the m + 3 points of a grid joint,
//   the rays' points.
// - The mask is added pixel by pixel: its three colour samples (or its gray level) to the three
//   colour samples (or the level) of the image pixel; a fourth sample is kept.
// - With a shadow, the level ShadowParam2 is scaled to the bitmap's sample range (x257 at 16
//   bits), so deep bitmaps get the same look as 8-bit ones.
// - Writes go through the bitmap's region: pixels outside a region mask keep their values.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "Common/TileMask.h"
#include "frame/Frame.h"
#include "frame/RegistryDefs.h"
#include "frame/RowCache.h"
#include "fxkit/effects.h"

namespace fx {
namespace {

constexpr uint32_t kInfoSize = 48;
static_assert(sizeof(MosaicTilesInfo) == kInfoSize);
constexpr double kPi = 3.14159265;
constexpr int32_t kRingPoints = 73;  // 72 points 5 degrees apart and the first again
constexpr int32_t kStageProgress = 25;

// The next value >= v that is 1 modulo 3 (the point count of a Bézier polyline).
int64_t OneModThree(int64_t v) {
  return v + (4 - v % 3) % 3;
}

// The geometry the joints are drawn in.
struct JointLayout {
  int32_t wr, hr;     // the rectangle's size, the mask's size
  int64_t diagonal;   // P - 2 = floor(sqrt(wr² + hr²))
  int64_t nx, ny;     // points of a grid joint along x and along y
  int64_t rays;       // points of a ray
  uint32_t capacity;  // points the buffer holds
};

int64_t Diagonal(int32_t wr, int32_t hr) {
  const int64_t squares = int64_t{wr} * wr + int64_t{hr} * hr;
  return static_cast<int64_t>(std::floor(std::sqrt(static_cast<double>(squares))));
}

JointLayout Layout(int32_t wr, int32_t hr) {
  JointLayout l{wr, hr, Diagonal(wr, hr), 0, 0, 0, 0};
  l.nx = OneModThree((int64_t{wr} + 2) / 3);
  l.ny = OneModThree((int64_t{hr} + 2) / 3);
  l.rays = OneModThree(l.diagonal / 3);
  // A joint along an axis of length n writes (n - 1) / 3 + 3 points.
  const int64_t grid = std::max<int64_t>(int64_t{wr} - 1, int64_t{hr} - 1) / 3 + 3;
  const int64_t most = std::max({l.diagonal + 2, int64_t{kRingPoints}, grid, l.rays});
  l.capacity = static_cast<uint32_t>(most);
  return l;
}

// A grid joint along an axis of length n at cross offset o; the points' coordinates come from
// `place` (along, across). Returns the points written.
template <class Place>
int64_t GridJoint(POINT* points, int64_t n, int64_t o, Place&& place) {
  const int64_t m = (n - 1) / 3;
  for (int64_t q = 0; q < m; ++q) points[q] = place(3 * q, fxrt::rand() % 5 + o + 1);
  const POINT end = place(n + 1, fxrt::rand() % 5 + o + 1);
  points[m] = points[m + 1] = points[m + 2] = end;
  return m + 3;
}

POINT At(int64_t x, int64_t y) {
  return POINT{static_cast<int32_t>(x), static_cast<int32_t>(y)};
}

double Radians(int64_t degrees) {
  return static_cast<double>(degrees) * kPi / 180.0;
}

// Joints gathered for one drawing call: points one joint after the other and each joint's
// count. Drawing them together paints the same pixels as drawing them one by one, and lets the
// host spread the painting over the threads.
class JointBatch {
 public:
  JointBatch(HostDC* dc, POINT* points, uint32_t* counts, uint32_t capacity)
      : dc_(dc), points_(points), counts_(counts), capacity_(capacity) {}

  // Room for a joint that writes up to `room` points (at most the capacity); draws what is
  // gathered first when it would not fit.
  int32_t Reserve(int64_t room, POINT** at) {
    int32_t rc = SUCCESS;
    if (used_ + room > capacity_) rc = Flush();
    *at = points_ + used_;
    return rc;
  }
  // The joint just written at Reserve's place, drawn with its first `count` points.
  void Add(int64_t count) {
    counts_[lists_++] = static_cast<uint32_t>(count);
    used_ += count;
  }
  int32_t Flush() {
    const int32_t rc = HostPolyPolyBezier(dc_, points_, counts_, lists_);
    used_ = 0;
    lists_ = 0;
    return rc;
  }

 private:
  HostDC* dc_;
  POINT* points_;
  uint32_t* counts_;
  int64_t capacity_;
  int64_t used_ = 0;
  uint32_t lists_ = 0;
};

// Points a batch holds: every joint of the larger stage, at most 2^18 (and at least one joint).
uint32_t BatchCapacity(const MosaicTilesInfo& info, const JointLayout& l) {
  int64_t most;
  if ((info.Flags & 0x0F) == 0)
    most = std::max((l.hr / info.TileHeight + 1) * (l.nx + 2),
                    (l.wr / info.TileWidth + 1) * (l.ny + 2));
  else
    most = std::max(l.diagonal / info.TileHeight * int64_t{kRingPoints},
                    360 / info.TileWidth * l.rays);
  return static_cast<uint32_t>(std::max<int64_t>(l.capacity, std::min<int64_t>(most, 1 << 18)));
}

int32_t DrawGrid(JointBatch& batch, RowAccess* access, const MosaicTilesInfo& info,
                 const JointLayout& l) {
  const int64_t room = l.capacity;
  POINT* points;
  for (int64_t j = 0; j <= l.hr / info.TileHeight; ++j) {
    int32_t rc = batch.Reserve(room, &points);
    if (rc != SUCCESS) return rc;
    const int64_t o = j * info.TileHeight;
    GridJoint(points, l.wr, o, [](int64_t along, int64_t across) { return At(along, across); });
    batch.Add(l.nx);
  }
  int32_t rc = batch.Flush();
  if (rc == SUCCESS) rc = ProgressStep(access, kStageProgress);
  if (rc != SUCCESS) return rc;
  for (int64_t i = 0; i <= l.wr / info.TileWidth; ++i) {
    rc = batch.Reserve(room, &points);
    if (rc != SUCCESS) return rc;
    const int64_t o = i * info.TileWidth;
    GridJoint(points, l.hr, o, [](int64_t along, int64_t across) { return At(across, along); });
    batch.Add(l.ny);
  }
  rc = batch.Flush();
  return rc == SUCCESS ? ProgressStep(access, kStageProgress) : rc;
}

int32_t DrawPolar(JointBatch& batch, RowAccess* access, const MosaicTilesInfo& info,
                  const JointLayout& l) {
  const double cx = static_cast<int32_t>(info.CenterX), cy = static_cast<int32_t>(info.CenterY);
  POINT* points;
  for (int64_t k = 1; k <= l.diagonal / info.TileHeight; ++k) {
    const int32_t rc = batch.Reserve(kRingPoints, &points);
    if (rc != SUCCESS) return rc;
    for (int32_t i = 0; i < kRingPoints - 1; ++i) {
      const double r = static_cast<double>(fxrt::rand() % 5 + k * info.TileHeight + 1);
      const double a = Radians(int64_t{i} * 5);
      points[i] = POINT{TruncToInt32(r * std::cos(a) + cx), TruncToInt32(r * std::sin(a) + cy)};
    }
    points[kRingPoints - 1] = points[0];
    batch.Add(kRingPoints);
  }
  int32_t rc = batch.Flush();
  if (rc == SUCCESS) rc = ProgressStep(access, kStageProgress);
  if (rc != SUCCESS) return rc;
  for (int64_t k = 1; k <= 360 / info.TileWidth; ++k) {
    rc = batch.Reserve(l.rays, &points);
    if (rc != SUCCESS) return rc;
    for (int64_t i = 0; i < l.rays; ++i) {
      const double a = Radians(fxrt::rand() % 3 + k * info.TileWidth + 1);
      const double d = static_cast<double>(3 * i);
      points[i] = POINT{TruncToInt32(d * std::cos(a) + cx), TruncToInt32(d * std::sin(a) + cy)};
    }
    batch.Add(l.rays);
  }
  rc = batch.Flush();
  return rc == SUCCESS ? ProgressStep(access, kStageProgress) : rc;
}

int32_t DrawJoints(BitmapRecord* mask, RowAccess* access, const MosaicTilesInfo& info,
                   const JointLayout& l, POINT* points, uint32_t* counts, uint32_t capacity) {
  const uint32_t pattern = info.Flags & 0x0F;
  if (pattern > 1) return SUCCESS;
  DrawingContext dc(mask);
  if (!dc.get()) return ERROR_NO_MEMORY;
  Selected pen(dc.get(),
               HostCreatePen(HOST_PEN_SOLID, static_cast<int32_t>(info.LineWidth), info.LineColor));
  if (!pen) return ERROR_NO_MEMORY;
  JointBatch batch(dc.get(), points, counts, capacity);
  return pattern == 0 ? DrawGrid(batch, access, info, l) : DrawPolar(batch, access, info, l);
}

// result = p·k + m·k per sample, clamped and truncated; m is the 8-bit mask sample (x257 at 16
// bits). `maskStep` is 1 (gray) or 3.
template <class T>
void CombineRow(T* out, const uint8_t* mask, int32_t left, int32_t width, int32_t step,
                int32_t maskStep, double k) {
  constexpr double kMax = SampleTraits<T>::kMax;
  constexpr uint32_t kScale = sizeof(T) == 2 ? 257 : 1;
  const int32_t samples = IsColorPixel(step) ? 3 : 1;
  T* p = out + int64_t{left} * step;
  for (int32_t x = 0; x < width; ++x, p += step, mask += maskStep)
    for (int32_t s = 0; s < samples; ++s) {
      const double v = p[s] * k + static_cast<double>(mask[s] * kScale) * k;
      p[s] = static_cast<T>(v > kMax ? kMax : v);
    }
}

int32_t Combine(BitmapRecord* bitmap, AccessOwner& access, AccessOwner& maskAccess,
                const RECT& rect, double k) {
  const int32_t hr = rect.bottom - rect.top, wr = rect.right - rect.left;
  const int32_t step = access.PixelStep(), maskStep = maskAccess.PixelStep();
  // The mask's rows: where a read would copy them as stored, each row function takes its row
  // straight from the mask bitmap, and the read only makes its checks.
  RowTable mask;
  if (!mask.AllocateTable(static_cast<uint32_t>(hr)) ||
      !mask.AllocateRowsToRead(static_cast<size_t>(maskAccess.RowBytes())))
    return ERROR_NO_MEMORY;
  const host::DeferredRowReads maskReads(maskAccess);
  if (hr > 0) {
    const int32_t rc = maskReads.Read(mask.rows(), 0, hr);
    if (rc != SUCCESS) return rc;
  }
  const size_t rowBytes = static_cast<size_t>(access.RowBytes());
  RowWindow source;
  RowSlots slots;
  int32_t rc = source.AllocateRowByRow(rowBytes, slots);
  if (rc != SUCCESS) return rc;
  return WithSampleType(access.SampleBits(), [&](auto sample) {
    using T = decltype(sample);
    return source.RunInPlace(
        access, slots, rect.top, rect.bottom, bitmap->Height, wr,
        [&](int32_t y, uint8_t* out, uint8_t*) {
          const int32_t j = y - rect.top;
          CombineRow<T>(reinterpret_cast<T*>(out), maskReads.Locate(mask.rows()[j], j), rect.left,
                        wr, step, maskStep, k);
        },
        NoHostCall(), WriteRow(access));
  });
}

int32_t MosaicDriver(BitmapRecord* bitmap, const MosaicTilesInfo& info) {
  MaskBitmap mask;
  if (!mask.AllocateRecord()) return ERROR_NO_MEMORY;
  RECT rect;
  HostGetProcessRect(bitmap, 0, &rect);
  const JointLayout layout = Layout(rect.right - rect.left, rect.bottom - rect.top);
  // The joints' points and each joint's count, in one block.
  const uint32_t capacity = BatchCapacity(info, layout);
  HostBlock<POINT> points;
  if (!points.Allocate(capacity + (capacity + 1) / 2)) return ERROR_NO_MEMORY;
  auto* counts = reinterpret_cast<uint32_t*>(points.get() + capacity);
  const double k = info.Intensity / 100.0;

  AccessOwner access;
  int32_t rc = access.Open(bitmap, 2);
  if (rc != SUCCESS) return rc;
  AccessOwner maskAccess;
  {
    CallbackPause pause;
    rc = mask.Init(layout.wr, layout.hr);
    if (rc == SUCCESS) rc = HostAllocBitmapData(mask.get(), 1);
    if (rc == SUCCESS) rc = HostFillBitmap(mask.get(), info.TileColor);
    if (rc == SUCCESS && !IsColorPixel(access.PixelStep())) rc = HostGrayscaleBitmap(mask.get(), 8);
    if (rc == SUCCESS) rc = maskAccess.Open(mask.get(), 2);
    if (rc != SUCCESS) return rc;
  }
  // Progress: the rows and two drawing stages of 25 steps each.
  const RECT progress{0, 0, 1, layout.hr + 2 * kStageProgress};
  rc = HostBeginRectWrite(access, 0, 100, &progress);
  if (rc == SUCCESS)
    rc = DrawJoints(mask.get(), access, info, layout, points.get(), counts, capacity);
  if (rc == SUCCESS) rc = Combine(bitmap, access, maskAccess, rect, k);
  if (rc == SUCCESS && (info.Flags >> 4) != 0)
    rc = AddTileShadow(bitmap, info.ShadowParam1, info.ShadowParam2, (info.Flags >> 4) - 1);
  HostFinishUpdate(bitmap);
  return rc;
}

const FxFlagValue kPatterns[] = {
    {"grid", 0x0, "joints in a grid"},
    {"polar", 0x1, "rings and spokes around the centre"},
    {"none", 0x2, "no joints"},
};
const FxFlagValue kShadows[] = {
    {"none", 0x00, "no relief"},
    {"channels", 0x10, "add shadow, each channel by its own edges"},
    {"gray", 0x20, "add shadow by the edges of the gray image"},
};
const FxFlagField kTileFlagFields[] = {
    FlagField("pattern", 0x0F, kPatterns, "how the joints run"),
    FlagField("shadow", 0xF0, kShadows, "relief added to the tiles"),
};

const FxFieldDesc kInfoFields[] = {
    Field("StructSize", FX_KIND_UINT32, offsetof(MosaicTilesInfo, StructSize), kInfoSize, 0,
          kAnyUInt32Max, "record size, 48"),
    Field("Intensity", FX_KIND_UINT32, offsetof(MosaicTilesInfo, Intensity), 85, 0, 100,
          "weight of image and joints, percent"),
    Field("LineWidth", FX_KIND_UINT32, offsetof(MosaicTilesInfo, LineWidth), 3, 1, 15,
          "width of the joints in pixels"),
    Field("TileWidth", FX_KIND_UINT32, offsetof(MosaicTilesInfo, TileWidth), 32, 1, kAnyUInt32Max,
          "grid: pixels between vertical joints; polar: degrees between rays, 1 .. 360"),
    Field("TileHeight", FX_KIND_UINT32, offsetof(MosaicTilesInfo, TileHeight), 24, 1, kAnyUInt32Max,
          "grid: pixels between horizontal joints; polar: pixels between rings, up to the "
          "rectangle's diagonal + 1"),
    Field("CenterX", FX_KIND_UINT32, offsetof(MosaicTilesInfo, CenterX), 0, 0, kAnyUInt32Max,
          "polar: centre, pixels from the rectangle's left edge (0 .. its width)"),
    Field("CenterY", FX_KIND_UINT32, offsetof(MosaicTilesInfo, CenterY), 0, 0, kAnyUInt32Max,
          "polar: centre, pixels from the rectangle's top edge (0 .. its height)"),
    Field("Flags", FX_KIND_FLAGS, offsetof(MosaicTilesInfo, Flags), 0x10, 0, 0x21,
          "bits 0-3 pattern: 0 grid, 1 polar, 2..15 no joints; bits 4-7 shadow: 0 none, 1 per "
          "channel, 2 from the gray image",
          kTileFlagFields),
    Field("ShadowParam1", FX_KIND_UINT32, offsetof(MosaicTilesInfo, ShadowParam1), 7, 0,
          kAnyUInt32Max, "with a shadow: the side the light comes from, 0 .. 7 (7 top-left)"),
    Field("ShadowParam2", FX_KIND_UINT32, offsetof(MosaicTilesInfo, ShadowParam2), 0, 0,
          kAnyUInt32Max, "with a shadow: samples below this level (0 .. 255) stay unshaded"),
    Field("LineColor", FX_KIND_COLOR, offsetof(MosaicTilesInfo, LineColor), 0x000000, 0,
          kAnyUInt32Max, "colour of the joints"),
    Field("TileColor", FX_KIND_COLOR, offsetof(MosaicTilesInfo, TileColor), 0x303030, 0,
          kAnyUInt32Max, "colour of the mask between the joints"),
};

const FxRecordDesc kInfoRecord = {"MosaicTilesInfo", kInfoSize, kInfoFields, CountOf(kInfoFields)};

const FxParamDesc kMosaicParams[] = {
    RecordParam("info", &kInfoRecord, "the tiles: pattern, sizes, joints, colours and shadow"),
    FlagsParam("flags", 0, 0, 0, "reserved, must be 0"),
};

const FxPreset kMosaicPresets[] = {
    {"square-tiles",
     "TileWidth=48 TileHeight=48 LineWidth=4 Intensity=90 LineColor=#000000 TileColor=#181818 "
     "pattern=grid shadow=channels ShadowParam1=7"},
    {"hexagonal-web",
     "pattern=polar shadow=gray TileWidth=60 TileHeight=24 CenterX=50%w CenterY=50%h LineWidth=5 "
     "Intensity=85 "
     "LineColor=#101010 TileColor=#282828 ShadowParam1=5"},
    {"thin-grout",
     "TileWidth=20 TileHeight=14 LineWidth=1 Intensity=100 LineColor=#c0c0c0 "
     "TileColor=#000000 pattern=grid shadow=none"},
};

}  // namespace

extern const FxEffectDesc kMosaicTilesEffect = {
    "mosaic-tiles",
    "Fx_MosaicTilesBitmap",
    FX_FAMILY_ARTISTIC,
    "Lays the image in tiles: wavy jittered joints in a grid or around a centre, with relief",
    kMosaicParams,
    CountOf(kMosaicParams),
    [](BitmapRecord* b, const FxValue* v) {
      return Fx_MosaicTilesBitmap(b, ArgPtr<MosaicTilesInfo>(v[0]), ArgU32(v[1]));
    },
    kMosaicPresets,
    CountOf(kMosaicPresets),
    FX_TRAIT_RANDOM | FX_TRAIT_PROGRESS | FX_TRAIT_TONES_ONLY,
};

}  // namespace fx

int32_t Fx_MosaicTilesBitmap(BitmapRecord* bitmap, MosaicTilesInfo* info, uint32_t flags) {
  using namespace fx;
  if (!bitmap) return ERROR_NO_BITMAP;
  if (bitmap->StructSize != BITMAP_STRUCT_SIZE && bitmap->StructSize != BITMAP_STRUCT_SIZE_OLD)
    return ERROR_INV_STRUCT_SIZE;
  if (flags != 0) return ERROR_INV_PARAMETER;
  if (bitmap->Order == ORDER_GRAY && bitmap->BitsPerPixel == 32) return ERROR_UNSUPPORTED_ORDER;
  if (!info) return ERROR_INV_PARAMETER;
  if (info->StructSize != kInfoSize) return ERROR_INV_STRUCT_SIZE;
  OrientationGuard orientation(bitmap);
  RECT rect;
  HostGetProcessRect(bitmap, 0, &rect);
  const int64_t wr = int64_t{rect.right} - rect.left, hr = int64_t{rect.bottom} - rect.top;
  if (info->Flags >= 34 || info->Intensity > 100 || info->LineWidth == 0 || info->LineWidth > 15)
    return ERROR_INV_PARAMETER;
  if (info->TileWidth == 0 || info->TileHeight == 0) return ERROR_INV_PARAMETER;
  if (info->Flags & 0x1) {
    const int32_t cx = static_cast<int32_t>(info->CenterX);
    const int32_t cy = static_cast<int32_t>(info->CenterY);
    const auto d = static_cast<int64_t>(std::sqrt(static_cast<double>(wr * wr + hr * hr)) + 1.0);
    if (cx < 0 || cx > wr || cy < 0 || cy > hr || info->TileHeight > d || info->TileWidth > 360)
      return ERROR_INV_PARAMETER;
  }
  if (info->Flags & 0x30) {
    if (info->ShadowParam1 > 7 || info->ShadowParam2 > 255) return ERROR_INV_PARAMETER;
    // Add shadow refuses such a bitmap: refused here, before any pixel changes.
    if (bitmap->Flags & FLAG_UNSUPPORTED) return ERROR_UNSUPPORTED_FLAG;
  }
  return MosaicDriver(bitmap, *info);
}
