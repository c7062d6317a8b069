// Bitmap ownership and the conversion between stored bitmap formats and file sample layouts.
#include "tools/fxkit/Image.h"

#include <cstring>

namespace fxcli {

Image::Image() {
  std::memset(&record_, 0, sizeof(record_));
  record_.StructSize = BITMAP_STRUCT_SIZE;
}

Image::~Image() {
  HostFreeBitmap(&record_);
}

void Image::Create(int32_t width, int32_t height, int32_t bitsPerPixel, uint32_t order,
                   const std::string& what) {
  if (width < 1 || height < 1) throw UsageError(what + ": zero-sized image");
  if (width > kMaxImageSide || height > kMaxImageSide || int64_t{width} * height > kMaxImagePixels)
    throw UsageError(what + ": image too large (" + std::to_string(width) + "x" +
                     std::to_string(height) + ")");
  HostFreeBitmap(&record_);
  const int32_t rc = HostCreateBitmap(&record_, BITMAP_STRUCT_SIZE, 1, width, height, bitsPerPixel,
                                      order, nullptr, 1, nullptr, 0);
  if (rc != SUCCESS) {
    const char* name = FxResultName(rc);
    throw UsageError(what + ": cannot make a " + std::to_string(width) + "x" +
                     std::to_string(height) + " bitmap (" + (name ? name : "error") + ")");
  }
}

void Image::CopyFrom(BitmapRecord* source, const std::string& what) {
  HostFreeBitmap(&record_);
  const int32_t rc = HostSetOrientation(&record_, source, BITMAP_STRUCT_SIZE, 1, 7);
  if (rc != SUCCESS) {
    std::memset(&record_, 0, sizeof(record_));
    record_.StructSize = BITMAP_STRUCT_SIZE;
    const char* name = FxResultName(rc);
    throw UsageError(what + ": cannot copy the bitmap (" + (name ? name : "error") + ")");
  }
}

namespace {

enum class Stored { Palette, Gray8, Gray12, Gray16, Rgb8, Rgba8, Rgb16, Rgba16, Invalid };

Stored StoredFormat(const BitmapRecord& b) {
  switch (b.BitsPerPixel) {
    case 1:
    case 4:
      return Stored::Palette;
    case 8:
      return b.Order == ORDER_GRAY ? Stored::Gray8 : Stored::Palette;
    case 12:
      return Stored::Gray12;
    case 16:
      return Stored::Gray16;
    case 24:
      return Stored::Rgb8;
    case 32:
      return Stored::Rgba8;
    case 48:
      return Stored::Rgb16;
    case 64:
      return Stored::Rgba16;
    default:
      return Stored::Invalid;
  }
}

uint16_t Load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

// One stored pixel as samples of its own depth: gray in s[0], or r, g, b, a.
struct Pixel {
  uint32_t s[4];
};

Pixel ReadPixel(const BitmapRecord& b, Stored f, const uint8_t* row, int32_t x) {
  const bool rgb = b.Order == ORDER_RGB;
  switch (f) {
    case Stored::Palette: {
      const uint32_t index = b.BitsPerPixel == 1 ? (row[x >> 3] >> (7 - (x & 7))) & 1
                             : b.BitsPerPixel == 4
                                 ? ((x & 1) ? (row[x >> 1] & 0x0F) : (row[x >> 1] >> 4))
                                 : row[x];
      const COLORREF c = index < b.PaletteCount && b.Palette ? b.Palette[index] : 0;
      return Pixel{{c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF, 255}};
    }
    case Stored::Gray8:
      return Pixel{{row[x], 0, 0, 0}};
    case Stored::Gray12: {
      const uint32_t v = Load16(row + 2 * x) & 0x0FFF;
      return Pixel{{(v << 4) | (v >> 8), 0, 0, 0}};
    }
    case Stored::Gray16:
      return Pixel{{Load16(row + 2 * x), 0, 0, 0}};
    case Stored::Rgb8:
    case Stored::Rgba8: {
      const int32_t n = f == Stored::Rgb8 ? 3 : 4;
      const uint8_t* p = row + int64_t{n} * x;
      return Pixel{{p[rgb ? 0 : 2], p[1], p[rgb ? 2 : 0], n == 4 ? p[3] : 255u}};
    }
    case Stored::Rgb16:
    case Stored::Rgba16: {
      const int32_t n = f == Stored::Rgb16 ? 3 : 4;
      const uint8_t* p = row + int64_t{2 * n} * x;
      return Pixel{{Load16(p + (rgb ? 0 : 4)), Load16(p + 2), Load16(p + (rgb ? 4 : 0)),
                    n == 4 ? Load16(p + 6) : 65535u}};
    }
    default:
      return Pixel{{0, 0, 0, 0}};
  }
}

bool IsGray(Stored f) {
  return f == Stored::Gray8 || f == Stored::Gray12 || f == Stored::Gray16;
}
bool Is16(Stored f) {
  return f == Stored::Gray12 || f == Stored::Gray16 || f == Stored::Rgb16 || f == Stored::Rgba16;
}

uint32_t Convert(uint32_t v, int32_t fromBits, int32_t toBits) {
  if (fromBits == toBits) return v;
  return toBits == 16 ? v * 257 : (v * 255 + 32767) / 65535;
}

}  // namespace

SampleLayout NaturalLayout(const BitmapRecord& b) {
  switch (StoredFormat(b)) {
    case Stored::Gray8:
      return {1, 8};
    case Stored::Gray12:
    case Stored::Gray16:
      return {1, 16};
    case Stored::Rgba8:
      return {4, 8};
    case Stored::Rgb16:
      return {3, 16};
    case Stored::Rgba16:
      return {4, 16};
    default:
      return {3, 8};
  }
}

int32_t BitsPerPixelFor(SampleLayout layout) {
  return layout.channels * layout.bits;
}

uint32_t OrderFor(SampleLayout layout) {
  return layout.channels == 1 ? ORDER_GRAY : ORDER_RGB;
}

bool RowsExportAsStored(const BitmapRecord& b, SampleLayout layout, const COLORREF* background) {
  const Stored f = StoredFormat(b);
  const int32_t fromBits = Is16(f) ? 16 : 8;
  const bool flatten =
      background && layout.channels != 4 && (f == Stored::Rgba8 || f == Stored::Rgba16);
  const int32_t storedChannels = f == Stored::Gray8 || f == Stored::Gray16 ? 1
                                 : f == Stored::Rgb8 || f == Stored::Rgb16 ? 3
                                 : f == Stored::Rgba8 || f == Stored::Rgba16 ? 4
                                                                              : 0;
  return !flatten && storedChannels == layout.channels && fromBits == layout.bits &&
         (storedChannels == 1 || b.Order == ORDER_RGB);
}

void ExportRow(const BitmapRecord& b, int32_t y, SampleLayout layout, uint8_t* out,
               const COLORREF* background) {
  const Stored f = StoredFormat(b);
  const int32_t fromBits = Is16(f) ? 16 : 8;
  const bool gray = IsGray(f);
  const uint8_t* row = b.Data + int64_t{y} * b.BytesPerLine;
  auto* out16 = reinterpret_cast<uint16_t*>(out);
  const bool flatten =
      background && layout.channels != 4 && (f == Stored::Rgba8 || f == Stored::Rgba16);
  if (RowsExportAsStored(b, layout, background)) {
    std::memcpy(out, row, size_t(b.StoredWidth) * size_t(layout.channels) * size_t(fromBits / 8));
    return;
  }
  const uint32_t max = fromBits == 16 ? 65535 : 255, scale = fromBits == 16 ? 257 : 1;
  const uint32_t bg[3] = {(background ? *background & 0xFF : 0) * scale,
                          (background ? (*background >> 8) & 0xFF : 0) * scale,
                          (background ? (*background >> 16) & 0xFF : 0) * scale};
  for (int32_t x = 0; x < b.StoredWidth; ++x) {
    Pixel p = ReadPixel(b, f, row, x);
    if (flatten) {
      const uint64_t a = p.s[3];
      for (int k = 0; k < 3; ++k)
        p.s[k] = uint32_t((p.s[k] * a + bg[k] * (max - a) + max / 2) / max);
    }
    uint32_t v[4];
    if (layout.channels == 1) {
      v[0] = gray ? p.s[0] : (p.s[2] + 5 * p.s[1] + 2 * p.s[0] + 4) / 8;
    } else {
      v[0] = p.s[0];
      v[1] = gray ? p.s[0] : p.s[1];
      v[2] = gray ? p.s[0] : p.s[2];
      v[3] = gray ? (fromBits == 16 ? 65535u : 255u) : p.s[3];
    }
    for (int32_t k = 0; k < layout.channels; ++k) {
      const uint32_t s = Convert(v[k], fromBits, layout.bits);
      if (layout.bits == 16)
        out16[int64_t{x} * layout.channels + k] = static_cast<uint16_t>(s);
      else
        out[int64_t{x} * layout.channels + k] = static_cast<uint8_t>(s);
    }
  }
}

ImagePtr NewImageFor(int32_t width, int32_t height, SampleLayout layout, const std::string& what) {
  auto image = std::make_unique<Image>();
  image->Create(width, height, BitsPerPixelFor(layout), OrderFor(layout), what);
  return image;
}

std::vector<uint8_t> NonZeroMask(const BitmapRecord& b) {
  const SampleLayout layout{3, 16};
  const int32_t w = b.StoredWidth, h = b.StoredHeight;
  std::vector<uint8_t> mask(static_cast<size_t>(w) * h);
  std::vector<uint16_t> row(static_cast<size_t>(w) * 3);
  for (int32_t y = 0; y < h; ++y) {
    ExportRow(b, y, layout, reinterpret_cast<uint8_t*>(row.data()));
    for (int32_t x = 0; x < w; ++x)
      mask[size_t(y) * w + x] = (row[3 * x] | row[3 * x + 1] | row[3 * x + 2]) != 0;
  }
  return mask;
}

}  // namespace fxcli
