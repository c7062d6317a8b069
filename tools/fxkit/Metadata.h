// What an image file says besides its pixels and the command line keeps: the ICC colour profile,
// the Exif block (its orientation read and rewritten here with a minimal TIFF walk) and the
// resolution. PNG (iCCP, eXIf, pHYs) and JPEG (APP2 ICC_PROFILE, APP1 Exif, JFIF density) carry
// all three; PPM and PGM carry none.
#pragma once

#include <cstdint>
#include <vector>

namespace fxcli {

// Pixel density. PNG states it per metre, JPEG per inch or per centimetre; either may give only
// the aspect ratio. The unit read is kept, and converted only when the output format lacks it.
struct Resolution {
  enum class Unit : uint8_t { None, Aspect, PerInch, PerCm, PerMetre };
  Unit unit = Unit::None;
  uint32_t x = 0, y = 0;
  bool operator==(const Resolution&) const = default;
};

struct ImageMeta {
  std::vector<uint8_t> icc;   // the ICC profile, whole
  std::vector<uint8_t> exif;  // the Exif TIFF structure ("II*\0" or "MM\0*" first)
  Resolution resolution;
};

// The Exif orientation (1 .. 8) stored in IFD0 of a TIFF structure, or 0 when there is none or
// it is out of range. Never reads outside `tiff`.
int32_t ExifOrientation(const std::vector<uint8_t>& tiff);
// Rewrites the orientation tag's value in place; false when the tag is absent.
bool SetExifOrientation(std::vector<uint8_t>& tiff, int32_t orientation);

// The density in pixels per metre for PNG (unit 1), rounded; an aspect ratio as it is (unit 0).
// False when there is no density.
bool PngDensity(const Resolution& r, uint32_t& x, uint32_t& y, int& unit);
// The JFIF density: unit 1 (per inch) or 2 (per cm), or 0 for an aspect ratio; values that
// do not fit in 16 bits are refused. False when there is none to write.
bool JfifDensity(const Resolution& r, uint16_t& x, uint16_t& y, uint8_t& unit);

// An ICC profile split into APP2 marker bodies ("ICC_PROFILE\0", sequence number, count, data)
// and joined back from the bodies of a file (in sequence order; empty when incomplete).
std::vector<std::vector<uint8_t>> IccMarkers(const std::vector<uint8_t>& icc);
std::vector<uint8_t> JoinIccMarkers(const std::vector<std::vector<uint8_t>>& bodies);

// True when the profile describes pixels of `channels` samples: its colour space (bytes 16-19)
// is 'GRAY' for 1 and 'RGB ' for 3 or 4 (alpha beside colour). Profiles of other spaces (CMYK
// files are converted to RGB) would misdescribe the pixels written.
bool IccFits(const std::vector<uint8_t>& icc, int32_t channels);

// The identifier before the TIFF structure in a JPEG APP1 Exif marker.
inline constexpr char kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
inline constexpr char kIccId[12] = {'I', 'C', 'C', '_', 'P', 'R', 'O', 'F', 'I', 'L', 'E', 0};

}  // namespace fxcli
