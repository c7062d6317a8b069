// Image files and the test card: lossless round trips for every format and depth, hand-made
// files decoded as their bytes say, and bad files refused with a message (never a crash).
#include <cstring>
#include <tuple>

#include "TestSupport.h"
#include "tools/fxkit/Card.h"
#include "tools/fxkit/ImageIO.h"

namespace {

using fxcli::FileFormat;
using fxcli::UsageError;
using fxtest::TestBitmap;
using fxtest::WorkingRows;
using namespace std::string_literals;

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

fxcli::ImagePtr Decode(const std::vector<uint8_t>& data) {
  return fxcli::DecodeImage(data.data(), data.size(), "test");
}

class CliImageTest : public fxtest::HostFixture {};

// Working sample i of a snapshot whose samples are `bytes` wide (1, or 2 in native order).
uint32_t Sample(const std::vector<uint8_t>& rows, int bytes, size_t i) {
  uint16_t v = rows[i];
  if (bytes == 2) std::memcpy(&v, &rows[2 * i], 2);
  return v;
}

// Every stored format through every lossless file format. PNG keeps the picture as it is; PPM
// repeats gray in its three samples; PGM keeps (b + 5 g + 2 r + 4) / 8 of colour. Both lay a
// colour with alpha a over white first: (c * a + max * (max - a) + max / 2) / max.
TEST_F(CliImageTest, RoundTripsThroughPngPpmAndPgm) {
  for (const fxtest::Depth& d : fxtest::AllDepths()) {
    TestBitmap source(13, 7, d.bitsPerPixel, d.order);
    ASSERT_TRUE(source.ok());
    source.FillNoise(uint32_t(d.bitsPerPixel) * 7 + d.order);
    const std::vector<uint8_t> in = WorkingRows(source.get());
    const int wide = d.bitsPerPixel == 12 || d.bitsPerPixel == 16 || d.bitsPerPixel >= 48 ? 2 : 1;
    const int inStep = d.order == ORDER_GRAY                          ? 1
                       : d.bitsPerPixel == 32 || d.bitsPerPixel == 64 ? 4
                                                                      : 3;
    for (FileFormat format : {FileFormat::Png, FileFormat::Ppm, FileFormat::Pgm}) {
      SCOPED_TRACE(std::string(d.name) + " format " + std::to_string(int(format)));
      const int outStep = format == FileFormat::Png ? inStep : format == FileFormat::Ppm ? 3 : 1;
      const fxcli::ImagePtr decoded = Decode(fxcli::EncodeImage(*source.get(), format));
      EXPECT_EQ(decoded->get()->Width, 13);
      EXPECT_EQ(decoded->get()->Height, 7);
      EXPECT_EQ(decoded->get()->BitsPerPixel, 8 * wide * outStep);
      EXPECT_EQ(decoded->get()->Order, outStep == 1 ? ORDER_GRAY : ORDER_RGB);
      const std::vector<uint8_t> out = WorkingRows(decoded->get());
      const uint32_t max = wide == 2 ? 65535 : 255;
      for (size_t p = 0; p < 13 * 7; ++p) {
        const auto at = [&](int k) {
          const uint32_t c = Sample(in, wide, p * inStep + k);
          if (inStep < 4 || outStep == 4) return c;
          const uint32_t a = Sample(in, wide, p * inStep + 3);
          return (c * a + max * (max - a) + max / 2) / max;
        };
        for (int k = 0; k < outStep; ++k)
          ASSERT_EQ(Sample(out, wide, p * outStep + k),
                    inStep == 1    ? at(0)
                    : outStep == 1 ? (at(0) + 5 * at(1) + 2 * at(2) + 4) / 8
                                   : at(k))
              << p << " " << k;
      }
    }
  }
}

TEST_F(CliImageTest, JpegIsCloseAndEightBit) {
  for (const auto& [bits, order] : {std::pair{8, ORDER_GRAY}, std::pair{48, ORDER_RGB}}) {
    SCOPED_TRACE(bits);
    const int wide = bits == 48 ? 2 : 1, channels = order == ORDER_GRAY ? 1 : 3;
    // Smooth gradients in every channel: what JPEG keeps well.
    std::vector<uint8_t> smooth;
    for (int32_t i = 0; i < 32 * 24 * channels; ++i) {
      const int32_t x = i / channels % 32, y = i / channels / 32, k = i % channels;
      const uint16_t v = uint16_t((20 + (3 + k) * x + (5 - k) * y) * (wide == 2 ? 257 : 1));
      smooth.insert(smooth.end(), reinterpret_cast<const uint8_t*>(&v),
                    reinterpret_cast<const uint8_t*>(&v) + wide);
    }
    TestBitmap source(32, 24, bits, order);
    fxtest::WriteWorkingRows(source.get(), smooth);
    const fxcli::ImagePtr decoded = Decode(fxcli::EncodeImage(*source.get(), FileFormat::Jpeg));
    ASSERT_EQ(decoded->get()->BitsPerPixel, 8 * channels);
    const std::vector<uint8_t> got = WorkingRows(decoded->get());
    double error = 0;
    for (size_t i = 0; i < got.size(); ++i)
      error += std::abs(got[i] - Sample(smooth, wide, i) / (wide == 2 ? 257.0 : 1.0));
    EXPECT_LT(error / double(got.size()), 2.0);
  }
}

TEST_F(CliImageTest, HandMadeFilesDecodeAsWritten) {
  struct Case {
    std::string file;
    int32_t bits;
    std::vector<uint32_t> samples;  // working samples: blue, green, red for colour
  };
  const Case cases[] = {
      // 16-bit PPM: big-endian samples.
      {"P6\n# made by hand\n2 1\n65535\n\x12\x34\x00\x01\xFF\xFE\0\0\0\0\0\0"s,
       48,
       {0xFFFE, 0x0001, 0x1234, 0, 0, 0}},
      // Other maxvals scale to the full range, rounding; samples above maxval saturate.
      {"P5\n3 1\n1000\n\x01\xF4\x03\xE8\x04\xB0"s, 16, {32768, 65535, 65535}},
      // ASCII: decimal samples with any whitespace, comments too, scaled the same way.
      {"P3\n# plain\n2 1\n255\n255 0 10\n  1 2\t3\n"s, 24, {10, 0, 255, 3, 2, 1}},
      {"P2 3 1 1000 500 1000 1200"s, 16, {32768, 65535, 65535}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bits);
    const fxcli::ImagePtr image = Decode(Bytes(c.file));
    ASSERT_EQ(image->get()->BitsPerPixel, c.bits);
    EXPECT_EQ(image->get()->Order, c.bits >= 24 ? ORDER_RGB : ORDER_GRAY);
    const std::vector<uint8_t> rows = WorkingRows(image->get());
    for (size_t i = 0; i < c.samples.size(); ++i)
      EXPECT_EQ(Sample(rows, c.bits == 8 || c.bits == 24 ? 1 : 2, i), c.samples[i]) << i;
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
      {Bytes("P6\n0 5\n255\n"), "zero-sized"},
      {Bytes("P6\n70000 2\n255\n"), "too large"},
      {Bytes("P5\n99999999999 1\n255\n"), "header"},
      {Bytes("P6\n2 2\n255\nabcde"), "truncated"},
      {Bytes("P6\n2 2\n65536\n"), "maxval"},
      {Bytes("P6\n2 2 255"), "header"},
      {Bytes("P2\n2 2\n255\n1 2 3"), "truncated"},
      {Bytes("P3\n1 1\n255\n1 x 3\n"), "bad sample"},
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
  const std::vector<std::vector<uint8_t>> files = {
      fxcli::EncodeImage(*source.get(), FileFormat::Png),
      fxcli::EncodeImage(*source.get(), FileFormat::Jpeg),
      fxcli::EncodeImage(*source.get(), FileFormat::Ppm),
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
  const std::pair<const char*, FileFormat> known[] = {
      {"a.png", FileFormat::Png},   {"dir.x/A.PNG", FileFormat::Png}, {"a.jpg", FileFormat::Jpeg},
      {"a.JPEG", FileFormat::Jpeg}, {"a.ppm", FileFormat::Ppm},       {"a.pgm", FileFormat::Pgm}};
  for (const auto& [path, format] : known) EXPECT_EQ(fxcli::FormatForPath(path), format) << path;
  for (const char* path : {"a.tif", "png", "a.png.bak"})
    EXPECT_THROW(fxcli::FormatForPath(path), UsageError) << path;
}

TEST_F(CliImageTest, CardSizesAndBars) {
  const std::tuple<const char*, int32_t, int32_t> sizes[] = {
      {"@card", 640, 480}, {"@card:32x16", 32, 16}, {"@card:1x1", 1, 1}};
  for (const auto& [name, w, h] : sizes) {
    const fxcli::ImagePtr card = fxcli::LoadImage(name);
    EXPECT_EQ(card->get()->Width, w) << name;
    EXPECT_EQ(card->get()->Height, h) << name;
    EXPECT_EQ(card->get()->BitsPerPixel, 24) << name;
  }
  for (const char* name : {"@card:32", "@card:5x", "@card:0x5", "@card:-5x5", "@card:99999x2"})
    EXPECT_THROW(fxcli::LoadImage(name), UsageError) << name;

  const fxcli::ImagePtr card = fxcli::MakeCard(640, 480);
  const uint32_t bars[8] = {0xFFFFFF, 0xFFFF00, 0x00FFFF, 0x00FF00,
                            0xFF00FF, 0xFF0000, 0x0000FF, 0x000000};
  for (int i = 0; i < 8; ++i) {
    const uint8_t* p = card->Row(5) + 3 * (40 + 80 * i);  // red first
    EXPECT_EQ(uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2], bars[i]) << "bar " << i;
  }
}

}  // namespace
