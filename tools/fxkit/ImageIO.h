// Image files for the command line: PNG (8/16-bit gray, RGB, RGBA), JPEG, and binary PPM/PGM
// with maxval 255 or 65535, plus the built-in test card as an input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/fxkit/Image.h"

namespace fxcli {

enum class FileFormat { Png, Jpeg, Ppm, Pgm };

// Progress of decoding or encoding, 0 .. 100. Answering false stops the work: Interrupted is
// thrown.
using IoProgress = std::function<bool(int32_t percent)>;

// The format an output path asks for by its extension (.png, .jpg, .jpeg, .ppm, .pgm, any
// case). Throws UsageError naming the path for any other.
FileFormat FormatForPath(const std::string& path);

// Decodes a PNG, JPEG, PPM or PGM image held in memory, recognised by its first bytes, with its
// ICC profile, Exif block and resolution (Image::meta); the pixels are as stored, whatever the
// Exif orientation says. Gray
// becomes 8 or 16 bpp (Order 2); RGB 24 or 48 bpp and RGBA 32 or 64 bpp, red first (Order 1);
// palette PNGs become RGB (RGBA with transparency); gray+alpha PNGs become RGBA. Bad data
// (wrong magic, truncation, zero or absurd size, corrupt streams) throws UsageError("<what>:
// ...") and never crashes.
ImagePtr DecodeImage(const uint8_t* data, size_t size, const std::string& what,
                     const IoProgress& progress = {});

// Encodes the bitmap's stored pixels (the orientation-1 layout). PNG keeps the depth (8 or 16
// bits per sample) and alpha; PPM writes colour and PGM gray at 8 or 16 bits (maxval 255 or
// 65535, big-endian samples); JPEG writes 8-bit gray or RGB at the options' quality. Formats
// without alpha get a picture with alpha flattened onto the options' background.
// The format a --format value names (png, jpg, jpeg, ppm, pgm, any case); throws UsageError.
FileFormat FormatForName(const std::string& name);

struct EncodeOptions {
  int32_t quality = 92;              // JPEG quality, 1 .. 100
  COLORREF background = 0x00FFFFFF;  // JPEG, PPM, PGM: alpha is laid over this colour
  // PNG and JPEG keep its ICC profile, Exif block (orientation written as 1: pixels are always
  // written upright) and resolution.
  const ImageMeta* meta = nullptr;
  IoProgress progress;
};
std::vector<uint8_t> EncodeImage(const BitmapRecord& bitmap, FileFormat format,
                                 const EncodeOptions& options = {});

// An input: "@card", "@card:WxH", "-" (standard input) or a file path. The picture is turned
// upright as its Exif orientation says (or `orientation` 1 .. 8 when given, as if the file said
// so): the bitmap's stored rows are the rows a viewer shows, the Exif block then says 1, and the
// resolution follows a quarter turn.
struct LoadOptions {
  IoProgress progress;
  int32_t orientation = 0;
};
ImagePtr LoadImage(const std::string& name, const LoadOptions& options = {});
// Writes the bitmap to `path` ("-": standard output) in the format its extension names,
// through WriteFileSafely: an existing file survives every failure. Throws UsageError on
// failure.
void SaveImage(const BitmapRecord& bitmap, const std::string& path);
// The same in a given format with options; the write is abandoned (Interrupted) when the
// progress callback answers false.
void SaveImage(const BitmapRecord& bitmap, const std::string& path, FileFormat format,
               const EncodeOptions& options);

}  // namespace fxcli
