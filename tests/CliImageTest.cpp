// Image files and the test card: lossless round trips for every format and depth, hand-made
// files decoded as their bytes say, and bad files refused with a message (never a crash).
#include <cstring>

#include "TestSupport.h"
#include "tools/fxkit/Card.h"
#include "tools/fxkit/ImageIO.h"

namespace {

using fxcli::FileFormat;
using fxcli::UsageError;
using fxtest::TestBitmap;
using fxtest::WorkingRows;

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

fxcli::ImagePtr Decode(const std::vector<uint8_t>& data) {
  return fxcli::DecodeImage(data.data(), data.size(), "test");
}

class CliImageTest : public fxtest::HostFixture {};

TEST_F(CliImageTest, LosslessRoundTrips) {
  struct Case {
    fxtest::Depth depth;
    int32_t decodedBits;  // bits per pixel of the decoded bitmap
    std::vector<FileFormat> formats;
  };
  const std::vector<Case> cases = {
      {{8, ORDER_GRAY, "gray8"}, 8, {FileFormat::Png, FileFormat::Pgm}},
      {{16, ORDER_GRAY, "gray16"}, 16, {FileFormat::Png, FileFormat::Pgm}},
      {{12, ORDER_GRAY, "gray12"}, 16, {FileFormat::Png, FileFormat::Pgm}},
      {{24, ORDER_RGB, "rgb24"}, 24, {FileFormat::Png, FileFormat::Ppm}},
      {{24, ORDER_BGR, "bgr24"}, 24, {FileFormat::Png, FileFormat::Ppm}},
      {{32, ORDER_RGB, "rgb32"}, 32, {FileFormat::Png}},
      {{32, ORDER_BGR, "bgr32"}, 32, {FileFormat::Png}},
      {{48, ORDER_RGB, "rgb48"}, 48, {FileFormat::Png, FileFormat::Ppm}},
      {{48, ORDER_BGR, "bgr48"}, 48, {FileFormat::Png, FileFormat::Ppm}},
      {{64, ORDER_BGR, "bgr64"}, 64, {FileFormat::Png}},
      {{8, ORDER_BGR, "pal8"}, 24, {FileFormat::Png, FileFormat::Ppm}},
      {{4, ORDER_BGR, "pal4"}, 24, {FileFormat::Png, FileFormat::Ppm}},
  };
  for (const Case& c : cases) {
    TestBitmap source(13, 7, c.depth.bitsPerPixel, c.depth.order);
    ASSERT_TRUE(source.ok());
    source.FillNoise(uint32_t(c.depth.bitsPerPixel) * 7 + c.depth.order);
    const std::vector<uint8_t> expected = WorkingRows(source.get());
    for (FileFormat format : c.formats) {
      SCOPED_TRACE(std::string(c.depth.name) + " format " + std::to_string(int(format)));
      const fxcli::ImagePtr decoded = Decode(fxcli::EncodeImage(*source.get(), format));
      EXPECT_EQ(decoded->get()->Width, 13);
      EXPECT_EQ(decoded->get()->Height, 7);
      EXPECT_EQ(decoded->get()->BitsPerPixel, c.decodedBits);
      EXPECT_EQ(decoded->get()->Order, c.depth.order == ORDER_GRAY ? ORDER_GRAY : ORDER_RGB);
      EXPECT_EQ(WorkingRows(decoded->get()), expected);
    }
  }
}

// Conversions where the file cannot hold the bitmap as it is, checked against the working rows.
TEST_F(CliImageTest, ConvertingWrites) {
  for (int32_t bits : {32, 64}) {  // alpha is dropped in PPM
    TestBitmap rgba(9, 5, bits, ORDER_BGR);
    rgba.FillNoise(5);
    const std::vector<uint8_t> in = WorkingRows(rgba.get());
    const fxcli::ImagePtr out = Decode(fxcli::EncodeImage(*rgba.get(), FileFormat::Ppm));
    ASSERT_EQ(out->get()->BitsPerPixel, bits == 32 ? 24 : 48);
    const std::vector<uint8_t> got = WorkingRows(out->get());
    const int32_t sampleBytes = bits / 32;
    for (int32_t p = 0; p < 9 * 5; ++p)
      EXPECT_EQ(0, std::memcmp(&got[size_t(p) * 3 * sampleBytes], &in[size_t(p) * 4 * sampleBytes],
                               size_t(3 * sampleBytes)))
          << p;
  }
  TestBitmap colour(9, 5, 24, ORDER_BGR);
  colour.FillNoise(6);
  const std::vector<uint8_t> in = WorkingRows(colour.get());  // b, g, r per pixel
  const fxcli::ImagePtr gray = Decode(fxcli::EncodeImage(*colour.get(), FileFormat::Pgm));
  ASSERT_EQ(gray->get()->BitsPerPixel, 8);
  const std::vector<uint8_t> levels = WorkingRows(gray->get());
  for (size_t p = 0; p < levels.size(); ++p)
    EXPECT_EQ(levels[p], (in[3 * p] + 5 * in[3 * p + 1] + 2 * in[3 * p + 2] + 4) / 8) << p;

  TestBitmap mono(9, 5, 8, ORDER_GRAY);
  mono.FillNoise(7);
  const std::vector<uint8_t> g = WorkingRows(mono.get());
  const std::vector<uint8_t> rgb =
      WorkingRows(Decode(fxcli::EncodeImage(*mono.get(), FileFormat::Ppm))->get());
  ASSERT_EQ(rgb.size(), 3 * g.size());
  for (size_t p = 0; p < g.size(); ++p)
    for (int k = 0; k < 3; ++k) EXPECT_EQ(rgb[3 * p + k], g[p]) << p;
}

TEST_F(CliImageTest, JpegIsCloseAndEightBit) {
  for (const fxtest::Depth& d :
       {fxtest::Depth{8, ORDER_GRAY, "gray8"}, fxtest::Depth{48, ORDER_RGB, "rgb48"}}) {
    SCOPED_TRACE(d.name);
    TestBitmap source(32, 24, d.bitsPerPixel, d.order);
    // Smooth gradients in every channel: what JPEG keeps well.
    const bool wide = d.bitsPerPixel == 48;
    const int32_t channels = d.order == ORDER_GRAY ? 1 : 3;
    std::vector<uint8_t> smooth;
    for (int32_t y = 0; y < 24; ++y)
      for (int32_t x = 0; x < 32; ++x)
        for (int32_t k = 0; k < channels; ++k) {
          const uint16_t v = uint16_t((k == 0 ? 6 * x : k == 1 ? 9 * y : 4 * (x + y)) + 20);
          const uint16_t s = wide ? uint16_t(v * 257) : v;
          smooth.push_back(uint8_t(s));
          if (wide) smooth.push_back(uint8_t(s >> 8));
        }
    fxtest::WriteWorkingRows(source.get(), smooth);
    const fxcli::ImagePtr decoded = Decode(fxcli::EncodeImage(*source.get(), FileFormat::Jpeg));
    ASSERT_EQ(decoded->get()->BitsPerPixel, d.order == ORDER_GRAY ? 8 : 24);
    const std::vector<uint8_t> got = WorkingRows(decoded->get());
    const std::vector<uint8_t> want = WorkingRows(source.get());
    double error = 0;
    for (size_t i = 0; i < got.size(); ++i) {
      uint16_t w16 = 0;
      if (wide) std::memcpy(&w16, &want[2 * i], 2);
      error += std::abs(double(got[i]) - (wide ? w16 / 257.0 : double(want[i])));
    }
    EXPECT_LT(error / double(got.size()), 2.0);
  }
}

TEST_F(CliImageTest, HandMadeFilesDecodeAsWritten) {
  // 16-bit PPM: big-endian samples; working rows are blue, green, red.
  const fxcli::ImagePtr ppm =
      Decode(Bytes(std::string("P6\n# made by hand\n2 1\n65535\n") +
                   std::string("\x12\x34\x00\x01\xFF\xFE", 6) + std::string(6, '\0')));
  ASSERT_EQ(ppm->get()->BitsPerPixel, 48);
  std::vector<uint8_t> rows = WorkingRows(ppm->get());
  std::vector<uint16_t> samples(rows.size() / 2);
  std::memcpy(samples.data(), rows.data(), rows.size());
  EXPECT_EQ(samples, std::vector<uint16_t>({0xFFFE, 0x0001, 0x1234, 0, 0, 0}));

  struct Case {
    std::string file;
    int32_t bits;
    std::vector<uint32_t> levels;
  };
  const Case cases[] = {
      {std::string("P5 3 1 255 ") + std::string("\x00\x80\xFF", 3), 8, {0, 128, 255}},
      // Other maxvals scale to the full range, rounding; samples above maxval saturate.
      {std::string("P5\n3 1\n1000\n") + std::string("\x01\xF4\x03\xE8\x04\xB0", 6),
       16,
       {32768, 65535, 65535}},
      {std::string("P5\n3 1\n15\n") + std::string("\x07\x0F\x00", 3), 8, {119, 255, 0}},
  };
  for (const Case& c : cases) {
    const fxcli::ImagePtr pgm = Decode(Bytes(c.file));
    ASSERT_EQ(pgm->get()->BitsPerPixel, c.bits);
    ASSERT_EQ(pgm->get()->Order, ORDER_GRAY);
    rows = WorkingRows(pgm->get());
    for (size_t i = 0; i < c.levels.size(); ++i) {
      uint32_t v = rows[i];
      if (c.bits == 16) v = uint32_t(rows[2 * i]) | uint32_t(rows[2 * i + 1]) << 8;
      EXPECT_EQ(v, c.levels[i]) << i;
    }
  }
}

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    crc ^= p[i];
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

// A PNG whose header claims another size, with a valid checksum.
std::vector<uint8_t> WithPngSize(std::vector<uint8_t> png, uint32_t w, uint32_t h) {
  for (int i = 0; i < 4; ++i) {
    png[16 + i] = uint8_t(w >> (24 - 8 * i));
    png[20 + i] = uint8_t(h >> (24 - 8 * i));
  }
  const uint32_t crc = Crc32(&png[12], 17);
  for (int i = 0; i < 4; ++i) png[29 + i] = uint8_t(crc >> (24 - 8 * i));
  return png;
}

TEST_F(CliImageTest, BadFilesAreRefusedWithAMessage) {
  TestBitmap small(6, 4, 24, ORDER_RGB);
  small.FillNoise(9);
  const std::vector<uint8_t> png = fxcli::EncodeImage(*small.get(), FileFormat::Png);
  struct Case {
    std::vector<uint8_t> data;
    const char* message;
  };
  const Case cases[] = {
      {{}, "empty file"},
      {Bytes("hello world"), "not a PNG, JPEG"},
      {Bytes("P3\n1 1\n255\n0 0 0\n"), "not a PNG, JPEG"},
      {Bytes("P6\n0 5\n255\n"), "zero-sized"},
      {Bytes("P6\n70000 2\n255\n"), "too large"},
      {Bytes("P5\n20000 20000\n255\n"), "too large"},
      {Bytes("P5\n99999999999 1\n255\n"), "header"},
      {Bytes("P6\n2 2\n255\nabcde"), "truncated"},
      {Bytes("P6\n2 2\n0\n"), "maxval"},
      {Bytes("P6\n2 2\n65536\n"), "maxval"},
      {Bytes("P6 2"), "header"},
      {Bytes("P6\n2 2 255"), "header"},
      {Bytes("P5\n2 1\n255x\x01\x02"), "header"},
      {WithPngSize(png, 60000, 60000), "too large"},
      {WithPngSize(png, 0, 4), "IHDR"},
      {WithPngSize(png, 5000, 5000), "truncated"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message);
    try {
      Decode(c.data);
      ADD_FAILURE() << "accepted";
    } catch (const UsageError& e) {
      const std::string message = e.what();
      EXPECT_EQ(message.rfind("test: ", 0), 0u) << message;
      EXPECT_NE(message.find(c.message), std::string::npos) << message;
      EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    }
  }
}

// Every strict prefix of a file is refused; every one-byte corruption is either decoded or
// refused. The sanitizer build turns any bad memory access into a failure.
TEST_F(CliImageTest, TruncationAndCorruptionNeverCrash) {
  TestBitmap source(12, 9, 24, ORDER_RGB);
  source.FillSmooth();
  TestBitmap deep(5, 3, 16, ORDER_GRAY);
  deep.FillNoise(2);
  const std::vector<std::vector<uint8_t>> files = {
      fxcli::EncodeImage(*source.get(), FileFormat::Png),
      fxcli::EncodeImage(*source.get(), FileFormat::Jpeg),
      fxcli::EncodeImage(*source.get(), FileFormat::Ppm),
      fxcli::EncodeImage(*deep.get(), FileFormat::Png),
  };
  for (size_t f = 0; f < files.size(); ++f) {
    const std::vector<uint8_t>& file = files[f];
    ASSERT_NO_THROW(Decode(file));
    for (size_t n = 0; n < file.size(); ++n)
      EXPECT_THROW(fxcli::DecodeImage(file.data(), n, "prefix"), UsageError)
          << "file " << f << " prefix " << n;
    for (size_t i = 0; i < file.size(); ++i) {
      std::vector<uint8_t> bad = file;
      bad[i] ^= 0x5A;
      try {
        Decode(bad);
      } catch (const UsageError&) {
      }
    }
  }
}

TEST_F(CliImageTest, OutputFormatsByExtension) {
  struct Case {
    const char* path;
    bool ok;
    FileFormat format;
  };
  const Case cases[] = {
      {"a.png", true, FileFormat::Png},      {"dir.x/A.PNG", true, FileFormat::Png},
      {"a.jpg", true, FileFormat::Jpeg},     {"a.JPEG", true, FileFormat::Jpeg},
      {"a.ppm", true, FileFormat::Ppm},      {"a.pgm", true, FileFormat::Pgm},
      {"a.tif", false, FileFormat::Png},     {"png", false, FileFormat::Png},
      {"a.png.bak", false, FileFormat::Png},
  };
  for (const Case& c : cases) {
    if (c.ok)
      EXPECT_EQ(fxcli::FormatForPath(c.path), c.format) << c.path;
    else
      EXPECT_THROW(fxcli::FormatForPath(c.path), UsageError) << c.path;
  }
}

TEST_F(CliImageTest, CardSizesAndElements) {
  struct Case {
    const char* name;
    int32_t w, h;  // 0: refused
  };
  const Case cases[] = {
      {"@card", 640, 480},   {"@card:32x16", 32, 16}, {"@card:1x1", 1, 1},     {"@card:3x2", 3, 2},
      {"@card:32", 0, 0},    {"@card:x5", 0, 0},      {"@card:5x", 0, 0},      {"@card:0x5", 0, 0},
      {"@card:5x5x5", 0, 0}, {"@card:-5x5", 0, 0},    {"@card:99999x2", 0, 0}, {"@card:+5x5", 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (!c.w) {
      EXPECT_THROW(fxcli::LoadImage(c.name), UsageError);
      continue;
    }
    const fxcli::ImagePtr card = fxcli::LoadImage(c.name);
    EXPECT_EQ(card->get()->Width, c.w);
    EXPECT_EQ(card->get()->Height, c.h);
    EXPECT_EQ(card->get()->BitsPerPixel, 24);
  }

  const fxcli::ImagePtr card = fxcli::MakeCard(640, 480);
  auto rgb = [&](int32_t x, int32_t y) {
    const uint8_t* p = card->Row(y) + 3 * x;
    return uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  };
  const uint32_t bars[8] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                            0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(rgb(40 + 80 * i, 5), bars[i]) << "bar " << i;
}

}  // namespace
