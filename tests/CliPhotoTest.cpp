// Photos through the command line: turned upright by their Exif orientation (or --orientation),
// written upright, and their ICC profile, Exif block and resolution kept in PNG and JPEG.
#include <cstring>

#include "CliSupport.h"
#include "tools/fxkit/Card.h"
#include "tools/fxkit/ImageIO.h"

namespace {

using fxtest::Outcome;
using fxtest::ReadBytes;
using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v, bool big) {
  b.push_back(uint8_t(big ? v >> 8 : v));
  b.push_back(uint8_t(big ? v : v >> 8));
}
void Put32(Bytes& b, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (big ? 24 - 8 * i : 8 * i)));
}

// A TIFF structure as cameras write it: IFD0 with a make (ASCII at an offset), the orientation
// and a resolution unit, in either byte order.
Bytes ExifTiff(uint32_t orientation, bool big) {
  Bytes t = big ? Bytes{'M', 'M', 0, 42} : Bytes{'I', 'I', 42, 0};
  Put32(t, 8, big);
  Put16(t, 3, big);
  const auto entry = [&](uint32_t tag, uint32_t type, uint32_t count, uint32_t value) {
    Put16(t, tag, big);
    Put16(t, type, big);
    Put32(t, count, big);
    if (type == 3 && count == 1) {
      Put16(t, value, big);
      Put16(t, 0, big);
    } else {
      Put32(t, value, big);
    }
  };
  entry(0x010F, 2, 8, 8 + 2 + 3 * 12 + 4);  // Make, 8 bytes after the IFD
  entry(0x0112, 3, 1, orientation);
  entry(0x0128, 3, 1, 2);
  Put32(t, 0, big);
  for (char c : std::string("fxkit\0\0", 8)) t.push_back(uint8_t(c));
  return t;
}

// The JPEG with an APP1 Exif segment inserted after its SOI marker.
Bytes WithExif(const Bytes& jpeg, const Bytes& tiff) {
  Bytes segment = {0xFF, 0xE1};
  Put16(segment, uint32_t(tiff.size() + 8), true);
  for (char c : std::string("Exif\0\0", 6)) segment.push_back(uint8_t(c));
  segment.insert(segment.end(), tiff.begin(), tiff.end());
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  out.insert(out.end(), segment.begin(), segment.end());
  out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
  return out;
}

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// The PNG with a chunk inserted after IHDR.
Bytes WithChunk(const Bytes& png, const char* type, const Bytes& body) {
  Bytes chunk;
  Put32(chunk, uint32_t(body.size()), true);
  chunk.insert(chunk.end(), type, type + 4);
  chunk.insert(chunk.end(), body.begin(), body.end());
  Put32(chunk, Crc32(chunk.data() + 4, chunk.size() - 4), true);
  Bytes out(png.begin(), png.begin() + 33);  // signature and IHDR
  out.insert(out.end(), chunk.begin(), chunk.end());
  out.insert(out.end(), png.begin() + 33, png.end());
  return out;
}

// A profile libpng accepts for an RGB image: the header (size, 'RGB ', 'XYZ ', 'acsp'), no tags,
// then filler.
Bytes IccProfile(size_t size) {
  Bytes icc(size, 0);
  for (int i = 0; i < 4; ++i) icc[size_t(i)] = uint8_t(size >> (24 - 8 * i));
  icc[8] = 2;
  std::memcpy(&icc[12], "mntrRGB XYZ ", 12);
  std::memcpy(&icc[36], "acsp", 4);
  for (size_t i = 132; i < size; ++i) icc[i] = uint8_t(i * 7);
  return icc;
}

// Pixel (x, y) of the picture a viewer shows, in the stored pixels of a file tagged with
// `orientation` (stored size sw x sh); Exif's definitions of the eight values.
std::pair<int32_t, int32_t> StoredPixel(int32_t orientation, int32_t x, int32_t y, int32_t sw,
                                        int32_t sh) {
  switch (orientation) {
    case 2:
      return {sw - 1 - x, y};
    case 3:
      return {sw - 1 - x, sh - 1 - y};
    case 4:
      return {x, sh - 1 - y};
    case 5:
      return {y, x};
    case 6:
      return {y, sh - 1 - x};
    case 7:
      return {sw - 1 - y, sh - 1 - x};
    case 8:
      return {sw - 1 - y, x};
    default:
      return {x, y};
  }
}

class CliPhotoTest : public fxtest::CliFixture {
 protected:
  // The picture a viewer shows for stored pixels `stored` tagged with `orientation`.
  static std::vector<uint8_t> Shown(BitmapRecord* stored, int32_t orientation) {
    const int32_t sw = stored->Width, sh = stored->Height;
    const bool turned = orientation >= 5;
    const int32_t w = turned ? sh : sw, h = turned ? sw : sh;
    const std::vector<uint8_t> rows = fxtest::WorkingRows(stored);
    std::vector<uint8_t> shown;
    for (int32_t y = 0; y < h; ++y)
      for (int32_t x = 0; x < w; ++x) {
        const auto [px, py] = StoredPixel(orientation, x, y, sw, sh);
        for (int k = 0; k < 3; ++k) shown.push_back(rows[(size_t(py) * sw + px) * 3 + k]);
      }
    return shown;
  }
};

// A photo tagged with each orientation comes out as a viewer shows it, with the tag set to 1 and
// the rest of its Exif block unchanged. A swirl of angle 0 changes no pixel.
TEST_F(CliPhotoTest, ExifOrientationTurnsPhotosUpright) {
  const fxcli::ImagePtr card = fxcli::MakeCard(24, 16);
  const Bytes jpeg = fxcli::EncodeImage(*card->get(), fxcli::FileFormat::Jpeg);
  const fxcli::ImagePtr stored = fxcli::DecodeImage(jpeg.data(), jpeg.size(), "jpeg");
  const Bytes png = fxcli::EncodeImage(*card->get(), fxcli::FileFormat::Png);
  for (int32_t orientation = 1; orientation <= 8; ++orientation) {
    for (const bool asPng : {false, true}) {
      SCOPED_TRACE(std::to_string(orientation) + (asPng ? " png" : " jpeg"));
      const Bytes tiff = ExifTiff(uint32_t(orientation), !asPng);
      WriteFile("in", asPng ? WithChunk(png, "eXIf", tiff) : WithExif(jpeg, tiff));
      const Outcome run = Fxkit({"apply", "swirl", Path("in"), Path("out.png"), "angle=0"});
      ASSERT_EQ(run.status, 0) << run.err;
      const Bytes out = ReadBytes(Path("out.png"));
      const fxcli::ImagePtr written = fxcli::DecodeImage(out.data(), out.size(), "out");
      EXPECT_EQ(written->get()->Width, orientation >= 5 ? 16 : 24);
      EXPECT_EQ(fxtest::WorkingRows(written->get()),
                Shown(asPng ? card->get() : stored->get(), orientation));
      EXPECT_EQ(written->meta.exif, ExifTiff(1, !asPng));
    }
  }
}

// --orientation=N treats the input as tagged N, overriding its own tag; a resizing effect then
// works on the upright picture (width 30 of a picture 60 high stays 60 high).
TEST_F(CliPhotoTest, OrientationOptionTreatsTheInputAsTagged) {
  const fxcli::ImagePtr card = fxcli::MakeCard(60, 40);
  WriteFile("in.jpg",
            WithExif(fxcli::EncodeImage(*card->get(), fxcli::FileFormat::Jpeg), ExifTiff(3, true)));
  Outcome run =
      Fxkit({"apply", "swirl", Path("in.jpg"), Path("out.png"), "angle=0", "--orientation=6"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Bytes jpeg = ReadBytes(Path("in.jpg"));
  const fxcli::ImagePtr stored = fxcli::DecodeImage(jpeg.data(), jpeg.size(), "in");
  EXPECT_EQ(fxtest::WorkingRows(fxcli::LoadImage(Path("out.png"))->get()), Shown(stored->get(), 6));

  run = Fxkit({"apply", "intelligent-down-scale", "@card:60x40", Path("small.png"), "newWidth=30",
               "--orientation=6"});
  ASSERT_EQ(run.status, 0) << run.err;
  const fxcli::ImagePtr small = fxcli::LoadImage(Path("small.png"));
  EXPECT_EQ(small->get()->Width, 30);
  EXPECT_EQ(small->get()->Height, 60);
}

// The ICC profile, the Exif block and the resolution survive PNG -> PNG, PNG -> JPEG and
// JPEG -> PNG; a profile too large for one JPEG marker is split and joined. 300 dots per inch
// are 11811 per metre (300 / 0.0254 = 11811.02), and back 11811 * 0.0254 = 299.9994 -> 300.
TEST_F(CliPhotoTest, ProfileExifAndResolutionAreKept) {
  const fxcli::ImagePtr card = fxcli::MakeCard(32, 24);
  const Bytes icc = IccProfile(70000);
  const Bytes exif = ExifTiff(1, false);
  // The iCCP chunk (zlib-compressed) comes from the encoder; pHYs and eXIf are made here.
  fxcli::ImageMeta withIcc;
  withIcc.icc = icc;
  fxcli::EncodeOptions options;
  options.meta = &withIcc;
  Bytes phys;
  Put32(phys, 11811, true);
  Put32(phys, 11811, true);
  phys.push_back(1);
  const Bytes png = WithChunk(
      WithChunk(fxcli::EncodeImage(*card->get(), fxcli::FileFormat::Png, options), "pHYs", phys),
      "eXIf", exif);
  WriteFile("in.png", png);
  ASSERT_EQ(Fxkit({"apply", "swirl", Path("in.png"), Path("out.png")}).status, 0);
  ASSERT_EQ(Fxkit({"apply", "swirl", Path("in.png"), Path("out.jpg")}).status, 0);
  ASSERT_EQ(Fxkit({"apply", "swirl", Path("out.jpg"), Path("back.png")}).status, 0);
  for (const char* name : {"out.png", "out.jpg", "back.png"}) {
    SCOPED_TRACE(name);
    const Bytes bytes = ReadBytes(Path(name));
    const fxcli::ImagePtr image = fxcli::DecodeImage(bytes.data(), bytes.size(), name);
    EXPECT_EQ(image->meta.icc, icc);
    EXPECT_EQ(image->meta.exif, exif);
    const std::string text(bytes.begin(), bytes.end());
    if (name[4] == 'j') {
      // JFIF APP0: "JFIF\0", version 1.01 or 1.02, unit 1 (per inch), 300 x 300.
      const size_t at = text.find(std::string("JFIF\0", 5));
      ASSERT_NE(at, std::string::npos);
      EXPECT_EQ(text.substr(at + 7, 5), std::string("\x01\x01\x2C\x01\x2C", 5));
      EXPECT_NE(text.find("ICC_PROFILE"), text.rfind("ICC_PROFILE")) << "two APP2 chunks";
    } else {
      EXPECT_NE(text.find(std::string("pHYs\0\0\x2E\x23\0\0\x2E\x23\x01", 13)), std::string::npos);
    }
  }
  // A profile of another colour space (a CMYK file's, after conversion to RGB) is not written.
  withIcc.icc = IccProfile(400);
  std::memcpy(&withIcc.icc[16], "CMYK", 4);
  for (const fxcli::FileFormat format : {fxcli::FileFormat::Png, fxcli::FileFormat::Jpeg}) {
    const Bytes encoded = fxcli::EncodeImage(*card->get(), format, options);
    EXPECT_TRUE(fxcli::DecodeImage(encoded.data(), encoded.size(), "cmyk")->meta.icc.empty());
  }
}

}  // namespace
