// Whole-bitmap operations: copies, hand-over of storage between records, format conversion,
// quarter turns, trims and re-laying the storage for another orientation.
//
// Turns, trims and re-layouts move stored pixel values (bit-exact for every depth, palette
// indices included); conversions go through working rows. A trim compacts the rows in place and
// keeps the stride (no new storage), unless a 1- or 4-bit row would start inside a byte. A region
// moves with its pixels; a trim that leaves no pixel of the region drops the region. Geometry works
// on the picture as seen in the bitmap's orientation, and the result is seen in the same
// orientation (the re-layout alone changes it).
//
// Conversion choices: 16-bit samples become 8-bit by rounding (v + 128) / 257 and 8-bit become
// 16-bit by v * 257, so 8 -> 16 -> 8 is lossless; colour becomes gray by (b + 5g + 2r + 4) / 8 at
// the target sample size; a new alpha sample is opaque. A palette target without a given palette
// takes, in this order: the source's palette when it fits, the palette kept on the record from an
// earlier in-place conversion away from a palette depth, the image's own colours when they fit,
// or a fixed uniform palette; pixels map to the nearest entry.
#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "host/Host.h"
#include "host/HostInternal.h"
#include "host/RowEngine.h"

using host::PixelFormat;

namespace {

// The record fields the host copies when one record takes over another's bitmap.
constexpr size_t kFieldsBegin = offsetof(BitmapRecord, Width);
constexpr size_t kFieldsEnd = offsetof(BitmapRecord, Region) + sizeof(HostRegion*);
static_assert(kFieldsEnd <= BITMAP_STRUCT_SIZE_OLD, "host fields must fit the older layout");

bool ValidStructSize(uint32_t s) {
  return s == BITMAP_STRUCT_SIZE || s == BITMAP_STRUCT_SIZE_OLD;
}

// Writes `from` into a caller's record of `structSize` bytes.
void StoreRecord(BitmapRecord* to, const BitmapRecord& from, uint32_t structSize) {
  const size_t bytes =
      structSize == BITMAP_STRUCT_SIZE_OLD ? BITMAP_STRUCT_SIZE_OLD : sizeof(BitmapRecord);
  std::memcpy(to, &from, bytes);
  to->StructSize = structSize;
}

// An integer map between pixel grids: sx = x0 + dx*xx + dy*yx, sy = y0 + dx*xy + dy*yy.
struct Affine {
  int64_t x0, y0, xx, xy, yx, yy;
  void Apply(int64_t dx, int64_t dy, int64_t* sx, int64_t* sy) const {
    *sx = x0 + dx * xx + dy * yx;
    *sy = y0 + dx * xy + dy * yy;
  }
};

// The affine map that agrees with f (itself affine) everywhere.
template <class F>
Affine SampleAffine(F&& f) {
  int64_t ax, ay, bx, by, cx, cy;
  f(0, 0, &ax, &ay);
  f(1, 0, &bx, &by);
  f(0, 1, &cx, &cy);
  return Affine{ax, ay, bx - ax, by - ay, cx - ax, cy - ay};
}

// Inverse of a map whose matrix is a signed permutation (turns, flips, shifts): the transpose.
Affine Inverse(const Affine& a) {
  return Affine{-(a.xx * a.x0 + a.xy * a.y0), -(a.yx * a.x0 + a.yy * a.y0), a.xx, a.yx, a.xy, a.yy};
}

// Sub-byte palette indices (1 and 4 bits per pixel), most significant first.
inline uint8_t GetIndex(const uint8_t* row, int64_t x, int32_t bits) {
  if (bits == 1) return (row[x >> 3] >> (7 - (x & 7))) & 1;
  return (x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4);
}
// The destination row starts zeroed, so bits are only ever set.
inline void OrIndex(uint8_t* row, int64_t x, int32_t bits, uint8_t index) {
  if (bits == 1)
    row[x >> 3] |= static_cast<uint8_t>((index & 1) << (7 - (x & 7)));
  else
    row[x >> 1] |= static_cast<uint8_t>((x & 1) ? (index & 0x0F) : (index << 4));
}

template <int kBytes>
void CopyPixels(uint8_t* out, const uint8_t* in, int64_t inStep, int32_t count) {
  for (int32_t i = 0; i < count; ++i, out += kBytes, in += inStep) std::memcpy(out, in, kBytes);
}

// Fills the new storage: stored pixel (dx, dy) comes from old stored pixel map(dx, dy).
void RemapPixels(const BitmapRecord& old, uint8_t* data, int64_t stride, int32_t width,
                 int32_t height, const Affine& map) {
  const int32_t bits = host::StoredBitsPerPixel(host::FormatOf(old.BitsPerPixel, old.Order));
  const int64_t oldStride = old.BytesPerLine;
  for (int32_t dy = 0; dy < height; ++dy) {
    int64_t sx, sy;
    map.Apply(0, dy, &sx, &sy);
    uint8_t* out = data + dy * stride;
    if (bits < 8) {
      for (int32_t dx = 0; dx < width; ++dx, sx += map.xx, sy += map.xy)
        OrIndex(out, dx, bits, GetIndex(old.Data + sy * oldStride, sx, bits));
      continue;
    }
    const int32_t bytes = bits / 8;
    const uint8_t* in = old.Data + sy * oldStride + sx * bytes;
    const int64_t step = map.xy * oldStride + map.xx * bytes;
    if (step == bytes) {
      std::memcpy(out, in, static_cast<size_t>(width) * bytes);
      continue;
    }
    switch (bytes) {
      case 1:
        CopyPixels<1>(out, in, step, width);
        break;
      case 2:
        CopyPixels<2>(out, in, step, width);
        break;
      case 3:
        CopyPixels<3>(out, in, step, width);
        break;
      case 4:
        CopyPixels<4>(out, in, step, width);
        break;
      case 6:
        CopyPixels<6>(out, in, step, width);
        break;
      default:
        CopyPixels<8>(out, in, step, width);
        break;
    }
  }
}

// The region of the new storage: new stored (dx, dy) is inside when old map(dx, dy) was. Null
// in *out when nothing of the region remains.
int32_t RemapRegion(const host::HostRegionData* r, const Affine& map, int32_t width, int32_t height,
                    host::HostRegionData** out) {
  *out = nullptr;
  const Affine inv = Inverse(map);
  int64_t ax, ay, bx, by;
  inv.Apply(r->bounds.left, r->bounds.top, &ax, &ay);
  inv.Apply(int64_t{r->bounds.right} - 1, int64_t{r->bounds.bottom} - 1, &bx, &by);
  const int64_t left = std::max<int64_t>(std::min(ax, bx), 0);
  const int64_t top = std::max<int64_t>(std::min(ay, by), 0);
  const int64_t right = std::min<int64_t>(std::max(ax, bx) + 1, width);
  const int64_t bottom = std::min<int64_t>(std::max(ay, by) + 1, height);
  if (left >= right || top >= bottom) return SUCCESS;
  RECT bounds{int32_t(left), int32_t(top), int32_t(right), int32_t(bottom)};
  auto inside = [&](int32_t x, int32_t y) {
    int64_t sx, sy;
    map.Apply(x, y, &sx, &sy);
    return host::RegionContainsStored(r, int32_t(sx), int32_t(sy));
  };
  if (r->isMask) {  // shrink to the pixels that remain
    RECT tight{bounds.right, bounds.bottom, bounds.left, bounds.top};
    for (int32_t y = bounds.top; y < bounds.bottom; ++y)
      for (int32_t x = bounds.left; x < bounds.right; ++x)
        if (inside(x, y)) {
          tight.left = std::min(tight.left, x);
          tight.right = std::max(tight.right, x + 1);
          tight.top = std::min(tight.top, y);
          tight.bottom = std::max(tight.bottom, y + 1);
        }
    if (tight.left >= tight.right) return SUCCESS;
    bounds = tight;
  }
  host::HostRegionData* region = host::NewRegion(bounds, r->isMask != 0);
  if (!region) return ERROR_NO_MEMORY;
  if (r->isMask)
    for (int32_t y = bounds.top; y < bounds.bottom; ++y)
      for (int32_t x = bounds.left; x < bounds.right; ++x)
        region->mask[int64_t{y - bounds.top} * region->maskStride + (x - bounds.left)] =
            inside(x, y) ? 1 : 0;
  *out = region;
  return SUCCESS;
}

// Replaces the storage by width x height stored pixels taken through `map`, seen in
// `orientation`. The bitmap is unchanged on failure.
int32_t Relayout(BitmapRecord* b, uint8_t orientation, int32_t width, int32_t height,
                 const Affine& map) {
  const PixelFormat f = host::FormatOf(b->BitsPerPixel, b->Order);
  if (width < 1 || height < 1 || width > host::kMaxDimension || height > host::kMaxDimension)
    return ERROR_HOST_BAD_ARGUMENT;
  const int64_t stride = host::MinimumStride(f, width);
  if (stride > INT32_MAX || stride * height > host::kMaxStorageBytes)
    return ERROR_HOST_BAD_ARGUMENT;
  auto* data = static_cast<uint8_t*>(HostAllocClearedMemory(
      static_cast<uint32_t>(stride), static_cast<uint32_t>(height), __LINE__, __FILE__));
  if (!data) return ERROR_NO_MEMORY;
  RemapPixels(*b, data, stride, width, height, map);
  host::HostRegionData* region = nullptr;
  if (b->Region) {
    int32_t rc = RemapRegion(host::RegionOf(b), map, width, height, &region);
    if (rc != SUCCESS) {
      FX_FREE(data);
      return rc;
    }
    host::DeleteRegion(host::RegionOf(b));
  }
  if ((b->HostFlags & host::kHostOwnsData) && b->Data) FX_FREE(b->Data);
  b->Data = data;
  b->BytesPerLine = static_cast<int32_t>(stride);
  b->HostFlags |= host::kHostOwnsData;
  b->StoredWidth = width;
  b->StoredHeight = height;
  b->Orientation = orientation;
  host::ViewSize(orientation, width, height, &b->Width, &b->Height);
  b->Region = reinterpret_cast<HostRegion*>(region);
  return SUCCESS;
}

// Makes the bitmap hold the picture R of width x height seen in `orientation`, where
// R(x, y) = P(picture(x, y)) and P is the picture as the bitmap is seen now.
int32_t TransformPicture(BitmapRecord* b, uint8_t orientation, int32_t width, int32_t height,
                         const Affine& picture) {
  const int32_t sw = host::IsTransposed(orientation) ? height : width;
  const int32_t sh = host::IsTransposed(orientation) ? width : height;
  const host::ViewMap view = host::MakeViewMap(b->Orientation, b->StoredWidth, b->StoredHeight);
  const Affine map = SampleAffine([&](int64_t dx, int64_t dy, int64_t* sx, int64_t* sy) {
    int32_t x, y;
    host::StoredToView(orientation, sw, sh, int32_t(dx), int32_t(dy), &x, &y);
    int64_t px, py;
    picture.Apply(x, y, &px, &py);
    *sx = view.sx0 + px * view.xx + py * view.yx;
    *sy = view.sy0 + px * view.xy + py * view.yy;
  });
  return Relayout(b, orientation, sw, sh, map);
}

constexpr Affine kIdentity{0, 0, 1, 0, 0, 1};

// Working-row conversion -------------------------------------------------------------------------

inline uint32_t Narrow(uint32_t v) {
  return (v + 128) / 257;
}

// One working row from (inBits, inStep) samples to (outBits, outStep) samples.
void ConvertRow(const uint8_t* in, int32_t inBits, int32_t inStep, uint8_t* out, int32_t outBits,
                int32_t outStep, int32_t width) {
  const auto* in16 = reinterpret_cast<const uint16_t*>(in);
  auto* out16 = reinterpret_cast<uint16_t*>(out);
  const uint32_t inMax = inBits == 16 ? 65535 : 255;
  for (int32_t x = 0; x < width; ++x) {
    uint32_t s[4] = {};
    for (int32_t k = 0; k < inStep; ++k)
      s[k] = inBits == 16 ? in16[int64_t{x} * inStep + k] : in[int64_t{x} * inStep + k];
    uint32_t c[4];  // blue, green, red, alpha at the input size
    if (inStep == 1)
      c[0] = c[1] = c[2] = s[0];
    else
      c[0] = s[0], c[1] = s[1], c[2] = s[2];
    c[3] = inStep == 4 ? s[3] : inMax;
    for (uint32_t& v : c)
      if (inBits != outBits) v = outBits == 16 ? v * 257 : Narrow(v);
    if (outStep == 1) c[0] = (c[0] + 5 * c[1] + 2 * c[2] + 4) / 8;
    for (int32_t k = 0; k < outStep; ++k) {
      if (outBits == 16)
        out16[int64_t{x} * outStep + k] = static_cast<uint16_t>(c[k]);
      else
        out[int64_t{x} * outStep + k] = static_cast<uint8_t>(c[k]);
    }
  }
}

// Blue, green, red of working pixel x as 8-bit values, packed as a COLORREF.
inline COLORREF PixelColour(const uint8_t* row, int32_t bits, int32_t step, int32_t x) {
  uint32_t s[3];
  for (int32_t k = 0; k < 3; ++k) {
    const int32_t i = step == 1 ? 0 : k;
    s[k] = bits == 16 ? Narrow(reinterpret_cast<const uint16_t*>(row)[int64_t{x} * step + i])
                      : row[int64_t{x} * step + i];
  }
  return s[2] | s[1] << 8 | s[0] << 16;
}

// The fixed palettes used when an image has more colours than the depth holds.
void UniformPalette(COLORREF* p, uint32_t n) {
  if (n == 2) {
    p[0] = 0, p[1] = 0xFFFFFF;
  } else if (n == 16) {
    static const COLORREF kSixteen[16] = {
        0x000000, 0x000080, 0x008000, 0x008080, 0x800000, 0x800080, 0x808000, 0xC0C0C0,
        0x808080, 0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000, 0xFF00FF, 0xFFFF00, 0xFFFFFF};
    std::memcpy(p, kSixteen, sizeof(kSixteen));
  } else {
    uint32_t i = 0;  // a 6 x 6 x 6 cube, then a ramp of 40 grays
    for (uint32_t r = 0; r < 6; ++r)
      for (uint32_t g = 0; g < 6; ++g)
        for (uint32_t b = 0; b < 6; ++b) p[i++] = r * 51 | (g * 51) << 8 | (b * 51) << 16;
    for (uint32_t k = 0; i < n; ++i, ++k) {
      uint32_t v = k * 255 / 39;
      p[i] = v | v << 8 | v << 16;
    }
  }
}

// Up to n distinct colours of the image in the order met; false when there are more.
int32_t CollectColours(RowAccess* in, int32_t height, uint8_t* row, COLORREF* palette, uint32_t n,
                       bool* fits) {
  constexpr uint32_t kSlots = 1024;
  uint32_t keys[kSlots] = {};  // colour + 1, 0 for an empty slot
  uint32_t count = 0;
  const int32_t bits = HostSampleBits(in), step = HostPixelStep(in);
  const int32_t width = HostRowBytes(in) / (step * bits / 8);
  *fits = true;
  for (int32_t y = 0; y < height; ++y) {
    int32_t rc = HostReadRow(in, row, y, 0, nullptr);
    if (rc != SUCCESS) return rc;
    for (int32_t x = 0; x < width; ++x) {
      const COLORREF c = PixelColour(row, bits, step, x);
      uint32_t slot = (c * 2654435761u) >> 22;
      while (keys[slot] && keys[slot] != c + 1) slot = (slot + 1) & (kSlots - 1);
      if (keys[slot]) continue;
      if (count == n) {
        *fits = false;
        return SUCCESS;
      }
      keys[slot] = c + 1;
      palette[count++] = c;
    }
  }
  std::fill(palette + count, palette + n, COLORREF{0});
  return SUCCESS;
}

// The bitmap as stored, seen in orientation 1 without its region: a shallow record for reading.
BitmapRecord StoredShadow(const BitmapRecord* b) {
  BitmapRecord s{};
  std::memcpy(&s, b, BITMAP_STRUCT_SIZE_OLD);
  s.StructSize = BITMAP_STRUCT_SIZE;
  s.Orientation = 1;
  s.Width = b->StoredWidth;
  s.Height = b->StoredHeight;
  s.Region = nullptr;
  return s;
}

// Releases a host block, a row access and a bitmap on every path.
struct ConvertScratch {
  RowAccess* in = nullptr;
  RowAccess* out = nullptr;
  void* inRow = nullptr;
  uint8_t* inBand = nullptr;
  uint8_t* outBand = nullptr;
  BitmapRecord made{};
  ~ConvertScratch() {
    if (inRow) FX_FREE(inRow);
    if (inBand) FX_FREE(inBand);
    if (outBand) FX_FREE(outBand);
    HostCloseRowAccess(in);
    HostCloseRowAccess(out);
    HostFreeBitmap(&made);
  }
};

}  // namespace

int32_t HostCopyBitmap(BitmapRecord* destination, BitmapRecord* source, uint32_t structSize) {
  if (!source) return ERROR_NO_BITMAP;
  if (!destination) return ERROR_HOST_BAD_ARGUMENT;
  return HostSetOrientation(destination, source, structSize, source->Orientation, 7);
}

int32_t HostAssignBitmap(BitmapRecord* destination, BitmapRecord* source, uint32_t structSize) {
  if (!destination || !source) return ERROR_NO_BITMAP;
  if (!ValidStructSize(structSize) || !ValidStructSize(destination->StructSize) ||
      !ValidStructSize(source->StructSize))
    return ERROR_INV_STRUCT_SIZE;
  if (destination == source) return SUCCESS;
  HostFreeBitmap(destination);
  std::memcpy(reinterpret_cast<uint8_t*>(destination) + kFieldsBegin,
              reinterpret_cast<const uint8_t*>(source) + kFieldsBegin, kFieldsEnd - kFieldsBegin);
  host::DetachStorage(source);
  return SUCCESS;
}

int32_t HostChangeOrientation(BitmapRecord* destination, BitmapRecord* source, uint32_t structSize,
                              uint32_t orientation) {
  if (!source) return ERROR_NO_BITMAP;
  if (!destination) return ERROR_HOST_BAD_ARGUMENT;
  int32_t rc = host::ValidateForAccess(source);
  if (rc != SUCCESS) return rc;
  if (!host::ValidOrientation(orientation)) return ERROR_HOST_BAD_ARGUMENT;
  if (destination != source) {
    rc = HostCopyBitmap(destination, source, structSize);
    if (rc != SUCCESS) return rc;
  }
  if (destination->Orientation == orientation) return SUCCESS;
  rc = TransformPicture(destination, static_cast<uint8_t>(orientation), destination->Width,
                        destination->Height, kIdentity);
  if (rc != SUCCESS && destination != source) HostFreeBitmap(destination);
  return rc;
}

int32_t HostRotateBitmap(BitmapRecord* bitmap, int32_t angle, uint32_t /*flags*/,
                         COLORREF /*fillColor*/) {
  int32_t rc = host::ValidateForAccess(bitmap);
  if (rc != SUCCESS) return rc;
  if (angle % 9000 != 0) return ERROR_HOST_BAD_ARGUMENT;
  const int32_t quarter = ((angle / 9000) % 4 + 4) % 4;  // counter-clockwise quarter turns
  const int64_t w = bitmap->Width, h = bitmap->Height;
  switch (quarter) {
    case 1:  // R(x, y) = P(w - 1 - y, x)
      return TransformPicture(bitmap, bitmap->Orientation, int32_t(h), int32_t(w),
                              Affine{w - 1, 0, 0, 1, -1, 0});
    case 2:  // R(x, y) = P(w - 1 - x, h - 1 - y)
      return TransformPicture(bitmap, bitmap->Orientation, int32_t(w), int32_t(h),
                              Affine{w - 1, h - 1, -1, 0, 0, -1});
    case 3:  // R(x, y) = P(y, h - 1 - x)
      return TransformPicture(bitmap, bitmap->Orientation, int32_t(h), int32_t(w),
                              Affine{0, h - 1, 0, -1, 1, 0});
    default:
      return SUCCESS;
  }
}

int32_t HostTrimBitmap(BitmapRecord* bitmap, int32_t left, int32_t top, int32_t width,
                       int32_t height) {
  int32_t rc = host::ValidateForAccess(bitmap);
  if (rc != SUCCESS) return rc;
  if (left < 0 || top < 0 || width < 1 || height < 1 || int64_t{left} + width > bitmap->Width ||
      int64_t{top} + height > bitmap->Height)
    return ERROR_HOST_BAD_ARGUMENT;
  if (width == bitmap->Width && height == bitmap->Height) return SUCCESS;
  // The kept part is a rectangle of the storage too; the rows are compacted where they lie
  // (the stride stays) unless a sub-byte row would have to start inside a byte.
  const host::ViewMap view =
      host::MakeViewMap(bitmap->Orientation, bitmap->StoredWidth, bitmap->StoredHeight);
  const int32_t ax = view.sx0 + left * view.xx + top * view.yx;
  const int32_t ay = view.sy0 + left * view.xy + top * view.yy;
  const int32_t bx = view.sx0 + (left + width - 1) * view.xx + (top + height - 1) * view.yx;
  const int32_t by = view.sy0 + (left + width - 1) * view.xy + (top + height - 1) * view.yy;
  const int32_t ox = std::min(ax, bx), oy = std::min(ay, by);
  const int32_t sw = std::abs(bx - ax) + 1, sh = std::abs(by - ay) + 1;
  const int32_t bits =
      host::StoredBitsPerPixel(host::FormatOf(bitmap->BitsPerPixel, bitmap->Order));
  if (int64_t{ox} * bits % 8 != 0)
    return TransformPicture(bitmap, bitmap->Orientation, width, height,
                            Affine{left, top, 1, 0, 0, 1});
  host::HostRegionData* region = nullptr;
  if (bitmap->Region) {
    rc = RemapRegion(host::RegionOf(bitmap), Affine{ox, oy, 1, 0, 0, 1}, sw, sh, &region);
    if (rc != SUCCESS) return rc;
    host::DeleteRegion(host::RegionOf(bitmap));
  }
  const int64_t stride = bitmap->BytesPerLine, bytes = (int64_t{sw} * bits + 7) / 8;
  for (int32_t i = 0; i < sh; ++i)
    std::memmove(bitmap->Data + i * stride,
                 bitmap->Data + (oy + i) * stride + int64_t{ox} * bits / 8, size_t(bytes));
  bitmap->StoredWidth = sw;
  bitmap->StoredHeight = sh;
  host::ViewSize(bitmap->Orientation, sw, sh, &bitmap->Width, &bitmap->Height);
  bitmap->Region = reinterpret_cast<HostRegion*>(region);
  return SUCCESS;
}

int32_t HostConvertBitmap(BitmapRecord* destination, BitmapRecord* source, uint32_t structSize,
                          int32_t bitsPerPixel, uint32_t order, const COLORREF* palette,
                          uint32_t paletteCount, uint32_t /*flags*/, int32_t /*reserved1*/,
                          int32_t /*reserved2*/) {
  if (!source) return ERROR_NO_BITMAP;
  if (!destination) return ERROR_HOST_BAD_ARGUMENT;
  int32_t rc = host::ValidateForAccess(source);
  if (rc != SUCCESS) return rc;
  if (!ValidStructSize(structSize)) return ERROR_INV_STRUCT_SIZE;
  const PixelFormat target = host::FormatOf(bitsPerPixel, order);
  const PixelFormat from = host::FormatOf(source->BitsPerPixel, source->Order);
  if (target == PixelFormat::Invalid) return ERROR_HOST_BAD_FORMAT;
  if (!palette && source->BitsPerPixel == bitsPerPixel && source->Order == order)
    return destination == source ? SUCCESS : HostCopyBitmap(destination, source, structSize);

  ConvertScratch s;
  BitmapRecord shadow = StoredShadow(source);
  rc = HostOpenRowAccess(&shadow, &s.in, 2);
  if (rc != SUCCESS) return rc;
  s.inRow = HostAllocRowBuffer(s.in);
  if (!s.inRow) return ERROR_NO_MEMORY;

  COLORREF table[256];
  const COLORREF* use = nullptr;
  if (host::IsPaletteFormat(target)) {
    const uint32_t n = HostPaletteSize(bitsPerPixel);
    use = table;
    auto take = [&](const COLORREF* p, uint32_t count) {
      std::fill(table, table + n, COLORREF{0});
      std::memcpy(table, p, std::min(count, n) * sizeof(COLORREF));
    };
    bool fits = false;
    if (palette) {
      take(palette, paletteCount);
    } else if (source->Palette && host::IsPaletteFormat(from) && source->PaletteCount <= n) {
      take(source->Palette, source->PaletteCount);
    } else if (source->Palette && source->PaletteCount == n) {
      take(source->Palette, n);
    } else {
      rc = CollectColours(s.in, shadow.Height, static_cast<uint8_t*>(s.inRow), table, n, &fits);
      if (rc != SUCCESS) return rc;
      if (!fits) UniformPalette(table, n);
    }
  }
  rc = HostCreateBitmap(&s.made, BITMAP_STRUCT_SIZE, 1, shadow.Width, shadow.Height, bitsPerPixel,
                        order, use, 1, nullptr, 0);
  if (rc != SUCCESS) return rc;
  rc = HostOpenRowAccess(&s.made, &s.out, 2);
  if (rc != SUCCESS) return rc;
  // A band of rows is read, converted on every thread and written; the band's rows are laid out
  // one after another in one block each way.
  const uint32_t inBytes = static_cast<uint32_t>(HostRowBytes(s.in));
  const uint32_t outBytes = static_cast<uint32_t>(HostRowBytes(s.out));
  const int32_t band = std::min(host::BandRows(int64_t{inBytes} + outBytes), shadow.Height);
  s.inBand = static_cast<uint8_t*>(FX_ALLOC(static_cast<uint32_t>(band), inBytes));
  s.outBand = static_cast<uint8_t*>(FX_ALLOC(static_cast<uint32_t>(band), outBytes));
  if (!s.inBand || !s.outBand) return ERROR_NO_MEMORY;
  uint8_t* inRows[64];
  uint8_t* outRows[64];
  for (int32_t k = 0; k < band; ++k)
    inRows[k] = s.inBand + size_t(k) * inBytes, outRows[k] = s.outBand + size_t(k) * outBytes;
  rc = HostBeginWrite(s.out);
  if (rc != SUCCESS) return rc;
  const int32_t inBits = HostSampleBits(s.in), inStep = HostPixelStep(s.in);
  const int32_t outBits = HostSampleBits(s.out), outStep = HostPixelStep(s.out);
  for (int32_t y0 = 0; y0 < shadow.Height; y0 += band) {
    const int32_t n = std::min(band, shadow.Height - y0);
    rc = HostReadRows(s.in, inRows, y0, n);
    if (rc != SUCCESS) return rc;
    host::ParallelFor(n, shadow.Width, [&](int32_t k) {
      ConvertRow(inRows[k], inBits, inStep, outRows[k], outBits, outStep, shadow.Width);
    });
    rc = HostWriteRows(s.out, outRows, y0, n);
    if (rc != SUCCESS) return rc;
  }
  HostSetOrientation(nullptr, &s.made, BITMAP_STRUCT_SIZE, source->Orientation, 0);

  if (destination == source) {
    // A palette the new depth does not use stays on the record for a later conversion back.
    if (!host::IsPaletteFormat(target) && source->Palette) {
      s.made.Palette = source->Palette;
      s.made.PaletteCount = source->PaletteCount;
      s.made.HostFlags |= source->HostFlags & host::kHostOwnsPalette;
      source->Palette = nullptr;
      source->HostFlags &= ~host::kHostOwnsPalette;
    }
    s.made.Region = source->Region;
    source->Region = nullptr;
    return HostAssignBitmap(source, &s.made, BITMAP_STRUCT_SIZE);
  }
  if (source->Region) {
    host::HostRegionData* region = host::CloneRegion(host::RegionOf(source));
    if (!region) return ERROR_NO_MEMORY;
    s.made.Region = reinterpret_cast<HostRegion*>(region);
  }
  StoreRecord(destination, s.made, structSize);
  s.made = BitmapRecord{};  // the destination owns it now
  return SUCCESS;
}
