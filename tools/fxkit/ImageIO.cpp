// PNG (libpng), JPEG (libjpeg) and PPM/PGM codecs over memory buffers, and file reading and
// writing. libpng and libjpeg report errors by longjmp: everything that must survive the jump
// lives in a heap-allocated state object created before setjmp, and the jump target only turns
// the recorded message into a UsageError.
#include "tools/fxkit/ImageIO.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

// clang-format off
#include <png.h>
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "tools/fxkit/Card.h"
#include "tools/fxkit/SafeWrite.h"

namespace fxcli {

namespace {

constexpr bool kLittleEndian = std::endian::native == std::endian::little;
// Largest input file read into memory.
constexpr size_t kMaxFileBytes = size_t{1} << 30;
// Deflate expands at most about 1032:1; a PNG holding less compressed data than its rows need
// by that ratio is truncated (or hostile), and is refused before its pixels are allocated.
constexpr double kMaxDeflateRatio = 1100.0;

std::string SizeText(int64_t w, int64_t h) {
  return std::to_string(w) + "x" + std::to_string(h);
}

void CheckDimensions(int64_t w, int64_t h, const std::string& what) {
  if (w < 1 || h < 1) throw UsageError(what + ": zero-sized image (" + SizeText(w, h) + ")");
  if (w > kMaxImageSide || h > kMaxImageSide || w * h > kMaxImagePixels)
    throw UsageError(what + ": image too large (" + SizeText(w, h) + ")");
}

// PNG ------------------------------------------------------------------------------------------

struct PngState {
  png_structp png = nullptr;
  png_infop info = nullptr;
  bool writing = false;
  const uint8_t* data = nullptr;  // reading: the buffer and position
  size_t size = 0, pos = 0;
  std::vector<uint8_t>* out = nullptr;  // writing
  char message[256] = "corrupt PNG data";
  ImagePtr image;
  std::vector<png_bytep> rows;
  std::vector<uint8_t> buffer;
  const IoProgress* progress = nullptr;
  int64_t rowsDone = 0, rowsTotal = 1;
  bool interrupted = false;
  ~PngState() {
    if (writing)
      png_destroy_write_struct(&png, &info);
    else
      png_destroy_read_struct(&png, &info, nullptr);
  }
};

void PngError(png_structp png, png_const_charp message) {
  auto* state = static_cast<PngState*>(png_get_error_ptr(png));
  std::snprintf(state->message, sizeof(state->message), "%s", message);
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

void PngRead(png_structp png, png_bytep out, size_t n) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  if (n > state->size - state->pos) png_error(png, "truncated file");
  std::memcpy(out, state->data + state->pos, n);
  state->pos += n;
}

void PngWrite(png_structp png, png_bytep data, size_t n) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  state->out->insert(state->out->end(), data, data + n);
}

void PngFlush(png_structp) {}

// Called after every row read (every pass of an interlaced image counts its rows).
void PngRowRead(png_structp png, png_uint_32, int) {
  auto* state = static_cast<PngState*>(png_get_io_ptr(png));
  ++state->rowsDone;
  if (*state->progress && !(*state->progress)(int32_t(state->rowsDone * 100 /
                                                      std::max<int64_t>(1, state->rowsTotal)))) {
    state->interrupted = true;
    png_error(png, "interrupted");
  }
}

void ReadPngMeta(png_structp png, png_infop info, ImageMeta& meta) {
  png_charp name = nullptr;
  png_bytep profile = nullptr;
  png_uint_32 length = 0;
  int compression = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &length) && profile)
    meta.icc.assign(profile, profile + length);
  png_bytep exif = nullptr;
  png_uint_32 exifLength = 0;
  if (png_get_eXIf_1(png, info, &exifLength, &exif) && exif)
    meta.exif.assign(exif, exif + exifLength);
  png_uint_32 x = 0, y = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x, &y, &unit) && x > 0 && y > 0)
    meta.resolution = {
        unit == PNG_RESOLUTION_METER ? Resolution::Unit::PerMetre : Resolution::Unit::Aspect, x, y};
}

// Profiles, Exif and density go before the pixels. libpng checks a profile against the image
// (size field, signature, colour space); one it refuses is left out with a warning, not an
// error.
void WritePngMeta(png_structp png, png_infop info, const ImageMeta& meta,
                  std::vector<uint8_t>& exif) {
  png_set_benign_errors(png, 1);
  if (IccFits(meta.icc, png_get_channels(png, info)) && meta.icc.size() <= UINT32_MAX)
    png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE, meta.icc.data(),
                 png_uint_32(meta.icc.size()));
  if (!exif.empty() && exif.size() <= UINT32_MAX)
    png_set_eXIf_1(png, info, png_uint_32(exif.size()), exif.data());
  uint32_t x = 0, y = 0;
  int unit = 0;
  if (PngDensity(meta.resolution, x, y, unit)) png_set_pHYs(png, info, x, y, unit);
}

// The Exif block as written: the pixels are upright, so its orientation says 1.
std::vector<uint8_t> UprightExif(const ImageMeta* meta) {
  if (!meta) return {};
  std::vector<uint8_t> exif = meta->exif;
  SetExifOrientation(exif, 1);
  return exif;
}

ImagePtr DecodePng(const uint8_t* data, size_t size, const std::string& what,
                   const IoProgress& progress) {
  auto state = std::make_unique<PngState>();
  PngState* s = state.get();
  s->data = data;
  s->size = size;
  s->progress = &progress;
  s->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, s, PngError, PngWarning);
  if (!s->png || !(s->info = png_create_info_struct(s->png)))
    throw UsageError(what + ": out of memory");
  if (setjmp(png_jmpbuf(s->png))) {
    if (s->interrupted) throw Interrupted();
    throw UsageError(what + ": " + s->message);
  }

  png_set_read_fn(s->png, s, PngRead);
  png_set_user_limits(s->png, kMaxImageSide, kMaxImageSide);
  png_set_chunk_malloc_max(s->png, size_t{16} << 20);
  png_read_info(s->png, s->info);
  png_uint_32 width = 0, height = 0;
  int bitDepth = 0, colorType = 0;
  png_get_IHDR(s->png, s->info, &width, &height, &bitDepth, &colorType, nullptr, nullptr, nullptr);
  CheckDimensions(width, height, what);
  const double rawBytes = double(height) * (double(png_get_rowbytes(s->png, s->info)) + 1);
  if (rawBytes > kMaxDeflateRatio * double(size))
    throw UsageError(what + ": truncated file (too little data for " + SizeText(width, height) +
                     ")");

  // Palettes become RGB, transparency becomes alpha, and gray with alpha becomes RGBA (there
  // is no gray+alpha bitmap format).
  const bool transparency = png_get_valid(s->png, s->info, PNG_INFO_tRNS) != 0;
  if (colorType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(s->png);
  if (colorType == PNG_COLOR_TYPE_GRAY && bitDepth < 8) png_set_expand_gray_1_2_4_to_8(s->png);
  if (transparency) png_set_tRNS_to_alpha(s->png);
  if (colorType == PNG_COLOR_TYPE_GRAY_ALPHA || (colorType == PNG_COLOR_TYPE_GRAY && transparency))
    png_set_gray_to_rgb(s->png);
  if (bitDepth == 16 && kLittleEndian) png_set_swap(s->png);
  const int passes = png_set_interlace_handling(s->png);
  png_read_update_info(s->png, s->info);
  s->rowsTotal = int64_t{height} * passes;
  png_set_read_status_fn(s->png, PngRowRead);

  const SampleLayout layout{png_get_channels(s->png, s->info), png_get_bit_depth(s->png, s->info)};
  if ((layout.channels != 1 && layout.channels != 3 && layout.channels != 4) ||
      (layout.bits != 8 && layout.bits != 16))
    throw UsageError(what + ": unsupported PNG layout");
  s->image = NewImageFor(int32_t(width), int32_t(height), layout, what);
  if (png_get_rowbytes(s->png, s->info) > size_t(s->image->get()->BytesPerLine))
    throw UsageError(what + ": unsupported PNG layout");
  s->rows.resize(height);
  for (png_uint_32 y = 0; y < height; ++y) s->rows[y] = s->image->Row(int32_t(y));
  png_read_image(s->png, s->rows.data());
  png_read_end(s->png, s->info);  // a file cut before its end chunk is truncated too
  ReadPngMeta(s->png, s->info, s->image->meta);
  return std::move(s->image);
}

// Reports row y of h; throws Interrupted when the callback says stop.
void ReportRow(const IoProgress& progress, int64_t y, int64_t h) {
  if (progress && !progress(int32_t(y * 100 / std::max<int64_t>(1, h)))) throw Interrupted();
}

std::vector<uint8_t> EncodePng(const BitmapRecord& b, const ImageMeta* meta,
                               const IoProgress& progress) {
  std::vector<uint8_t> exif = UprightExif(meta);
  std::vector<uint8_t> out;
  auto state = std::make_unique<PngState>();
  PngState* s = state.get();
  s->writing = true;
  s->out = &out;
  s->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, s, PngError, PngWarning);
  if (!s->png || !(s->info = png_create_info_struct(s->png)))
    throw UsageError("PNG: out of memory");
  if (setjmp(png_jmpbuf(s->png))) throw UsageError(std::string("PNG: ") + s->message);

  const SampleLayout layout = NaturalLayout(b);
  const int colorType = layout.channels == 1   ? PNG_COLOR_TYPE_GRAY
                        : layout.channels == 3 ? PNG_COLOR_TYPE_RGB
                                               : PNG_COLOR_TYPE_RGBA;
  png_set_write_fn(s->png, s, PngWrite, PngFlush);
  png_set_IHDR(s->png, s->info, png_uint_32(b.StoredWidth), png_uint_32(b.StoredHeight),
               layout.bits, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  if (meta) WritePngMeta(s->png, s->info, *meta, exif);
  png_write_info(s->png, s->info);
  if (layout.bits == 16 && kLittleEndian) png_set_swap(s->png);
  s->buffer.resize(size_t(b.StoredWidth) * layout.channels * (layout.bits / 8));
  for (int32_t y = 0; y < b.StoredHeight; ++y) {
    ReportRow(progress, y, b.StoredHeight);
    ExportRow(b, y, layout, s->buffer.data());
    png_write_row(s->png, s->buffer.data());
  }
  png_write_end(s->png, nullptr);
  return out;
}

// JPEG -----------------------------------------------------------------------------------------

struct JpegState {
  jpeg_error_mgr error{};
  jpeg_progress_mgr monitor{};
  const IoProgress* progress = nullptr;
  bool interrupted = false;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX] = "corrupt JPEG data";
  bool truncated = false;
  bool decompressing = false, compressing = false;
  jpeg_decompress_struct in{};
  jpeg_compress_struct out{};
  jpeg_destination_mgr destination{};
  std::vector<uint8_t> encoded, chunk;
  ImagePtr image;
  std::vector<uint8_t> row;
  ~JpegState() {
    if (decompressing) jpeg_destroy_decompress(&in);
    if (compressing) jpeg_destroy_compress(&out);
  }
};

void JpegErrorExit(j_common_ptr cinfo) {
  auto* state = static_cast<JpegState*>(cinfo->client_data);
  cinfo->err->format_message(cinfo, state->message);
  std::longjmp(state->jump, 1);
}

// Warnings are ignored except the premature end of data, which means a truncated file.
void JpegMessage(j_common_ptr cinfo, int level) {
  auto* state = static_cast<JpegState*>(cinfo->client_data);
  if (level < 0 && cinfo->err->msg_code == JWRN_JPEG_EOF) state->truncated = true;
}

// libjpeg's progress monitor: passes over the whole image (progressive files decode most of their
// data inside jpeg_start_decompress), scaled to 0 .. 100.
void JpegMonitor(j_common_ptr cinfo) {
  auto* state = static_cast<JpegState*>(cinfo->client_data);
  const jpeg_progress_mgr* m = cinfo->progress;
  const double total = std::max(1, m->total_passes);
  const double pass = m->pass_limit > 0 ? double(m->pass_counter) / double(m->pass_limit) : 0;
  const int32_t percent = int32_t((m->completed_passes + pass) * 100 / total);
  if (*state->progress && !(*state->progress)(std::min(percent, 100))) {
    state->interrupted = true;
    std::longjmp(state->jump, 1);
  }
}

// The compressor's output goes into a vector the state owns, so an error or a stop part-way
// leaves nothing for anyone else to free.
void JpegDestinationInit(j_compress_ptr cinfo) {
  auto* state = static_cast<JpegState*>(cinfo->client_data);
  state->chunk.resize(size_t{1} << 16);
  cinfo->dest->next_output_byte = state->chunk.data();
  cinfo->dest->free_in_buffer = state->chunk.size();
}

boolean JpegDestinationFull(j_compress_ptr cinfo) {
  auto* state = static_cast<JpegState*>(cinfo->client_data);
  state->encoded.insert(state->encoded.end(), state->chunk.begin(), state->chunk.end());
  cinfo->dest->next_output_byte = state->chunk.data();
  cinfo->dest->free_in_buffer = state->chunk.size();
  return TRUE;
}

void JpegDestinationTerm(j_compress_ptr cinfo) {
  auto* state = static_cast<JpegState*>(cinfo->client_data);
  const size_t used = state->chunk.size() - cinfo->dest->free_in_buffer;
  state->encoded.insert(state->encoded.end(), state->chunk.begin(), state->chunk.begin() + used);
}

void ReadJpegMeta(const jpeg_decompress_struct& in, ImageMeta& meta) {
  std::vector<std::vector<uint8_t>> icc;
  for (jpeg_saved_marker_ptr m = in.marker_list; m; m = m->next) {
    const uint8_t* d = m->data;
    if (m->marker == JPEG_APP0 + 1 && meta.exif.empty() && m->data_length > sizeof(kExifId) &&
        std::memcmp(d, kExifId, sizeof(kExifId)) == 0)
      meta.exif.assign(d + sizeof(kExifId), d + m->data_length);
    if (m->marker == JPEG_APP0 + 2) icc.emplace_back(d, d + m->data_length);
  }
  meta.icc = JoinIccMarkers(icc);
  // A JFIF header without a real density says 0 (aspect) 1:1: nothing worth keeping.
  if (in.saw_JFIF_marker && in.X_density > 0 && in.Y_density > 0 &&
      !(in.density_unit == 0 && in.X_density == in.Y_density))
    meta.resolution = {in.density_unit == 1   ? Resolution::Unit::PerInch
                       : in.density_unit == 2 ? Resolution::Unit::PerCm
                                              : Resolution::Unit::Aspect,
                       in.X_density, in.Y_density};
}

ImagePtr DecodeJpeg(const uint8_t* data, size_t size, const std::string& what,
                    const IoProgress& progress) {
  auto state = std::make_unique<JpegState>();
  JpegState* s = state.get();
  s->in.err = jpeg_std_error(&s->error);
  s->error.error_exit = JpegErrorExit;
  s->error.emit_message = JpegMessage;
  s->in.client_data = s;
  s->progress = &progress;
  s->monitor.progress_monitor = JpegMonitor;
  if (setjmp(s->jump)) {
    if (s->interrupted) throw Interrupted();
    throw UsageError(what + ": " + s->message);
  }
  jpeg_create_decompress(&s->in);
  s->decompressing = true;
  s->in.progress = &s->monitor;
  jpeg_mem_src(&s->in, data, static_cast<unsigned long>(size));
  jpeg_save_markers(&s->in, JPEG_APP0 + 1, 0xFFFF);
  jpeg_save_markers(&s->in, JPEG_APP0 + 2, 0xFFFF);
  jpeg_read_header(&s->in, TRUE);
  CheckDimensions(s->in.image_width, s->in.image_height, what);
  const bool cmyk = s->in.jpeg_color_space == JCS_CMYK || s->in.jpeg_color_space == JCS_YCCK;
  s->in.out_color_space = s->in.num_components == 1 ? JCS_GRAYSCALE : cmyk ? JCS_CMYK : JCS_RGB;
  jpeg_start_decompress(&s->in);
  const SampleLayout layout{cmyk ? 3 : int32_t(s->in.output_components), 8};
  if (layout.channels != 1 && layout.channels != 3)
    throw UsageError(what + ": unsupported JPEG colour space");
  s->image = NewImageFor(int32_t(s->in.output_width), int32_t(s->in.output_height), layout, what);
  if (cmyk) s->row.resize(size_t(s->in.output_width) * 4);
  while (s->in.output_scanline < s->in.output_height) {
    uint8_t* target = s->image->Row(int32_t(s->in.output_scanline));
    JSAMPROW line = cmyk ? s->row.data() : target;
    if (jpeg_read_scanlines(&s->in, &line, 1) != 1) break;
    // Adobe CMYK JPEGs store inverted samples: each channel is c * k / 255.
    if (cmyk)
      for (uint32_t x = 0; x < s->in.output_width; ++x)
        for (int k = 0; k < 3; ++k)
          target[3 * x + k] = uint8_t((s->row[4 * x + k] * s->row[4 * x + 3] + 127) / 255);
  }
  ReadJpegMeta(s->in, s->image->meta);
  jpeg_finish_decompress(&s->in);
  if (s->truncated) throw UsageError(what + ": truncated file");
  return std::move(s->image);
}

// Exif (APP1) and the ICC profile (APP2 chunks) after the JFIF header; an Exif block too large
// for one marker is left out.
void WriteJpegMarkers(jpeg_compress_struct& out, const ImageMeta& meta) {
  const std::vector<uint8_t> exif = UprightExif(&meta);
  if (!exif.empty() && exif.size() + sizeof(kExifId) <= 65533) {
    std::vector<uint8_t> body(kExifId, kExifId + sizeof(kExifId));
    body.insert(body.end(), exif.begin(), exif.end());
    jpeg_write_marker(&out, JPEG_APP0 + 1, body.data(), unsigned(body.size()));
  }
  if (IccFits(meta.icc, out.input_components))
    for (const std::vector<uint8_t>& body : IccMarkers(meta.icc))
      jpeg_write_marker(&out, JPEG_APP0 + 2, body.data(), unsigned(body.size()));
}

std::vector<uint8_t> EncodeJpeg(const BitmapRecord& b, const EncodeOptions& options) {
  const ImageMeta* meta = options.meta;
  const IoProgress& progress = options.progress;
  auto state = std::make_unique<JpegState>();
  JpegState* s = state.get();
  s->out.err = jpeg_std_error(&s->error);
  s->error.error_exit = JpegErrorExit;
  s->out.client_data = s;
  if (setjmp(s->jump)) throw UsageError(std::string("JPEG: ") + s->message);
  jpeg_create_compress(&s->out);
  s->compressing = true;
  s->destination.init_destination = JpegDestinationInit;
  s->destination.empty_output_buffer = JpegDestinationFull;
  s->destination.term_destination = JpegDestinationTerm;
  s->out.dest = &s->destination;
  const SampleLayout layout{NaturalLayout(b).channels == 1 ? 1 : 3, 8};
  s->out.image_width = JDIMENSION(b.StoredWidth);
  s->out.image_height = JDIMENSION(b.StoredHeight);
  s->out.input_components = layout.channels;
  s->out.in_color_space = layout.channels == 1 ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&s->out);
  jpeg_set_quality(&s->out, std::clamp(options.quality, 1, 100), TRUE);
  if (meta) JfifDensity(meta->resolution, s->out.X_density, s->out.Y_density, s->out.density_unit);
  jpeg_start_compress(&s->out, TRUE);
  if (meta) WriteJpegMarkers(s->out, *meta);
  s->row.resize(size_t(b.StoredWidth) * layout.channels);
  for (int32_t y = 0; y < b.StoredHeight; ++y) {
    ReportRow(progress, y, b.StoredHeight);
    ExportRow(b, y, layout, s->row.data(), &options.background);
    JSAMPROW line = s->row.data();
    jpeg_write_scanlines(&s->out, &line, 1);
  }
  jpeg_finish_compress(&s->out);
  return std::move(s->encoded);
}

// PPM / PGM ------------------------------------------------------------------------------------

bool IsSpace(uint8_t c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

// Reads one header number after whitespace and comments; false at the end of the data or on a
// character that does not start a number.
bool PnmNumber(const uint8_t* data, size_t size, size_t& pos, int64_t& value) {
  while (pos < size) {
    if (data[pos] == '#') {
      while (pos < size && data[pos] != '\n' && data[pos] != '\r') ++pos;
    } else if (IsSpace(data[pos])) {
      ++pos;
    } else {
      break;
    }
  }
  if (pos >= size || data[pos] < '0' || data[pos] > '9') return false;
  value = 0;
  while (pos < size && data[pos] >= '0' && data[pos] <= '9') {
    value = value * 10 + (data[pos++] - '0');
    if (value > INT32_MAX) return false;
  }
  return true;
}

// A PPM or PGM header read up to the single whitespace before the samples: the kind, checked
// dimensions and maxval, the row layout and the bytes of samples the picture needs.
struct PnmHeader {
  bool color, ascii;
  int64_t width, height, maxval;
  size_t pos;  // the first sample byte
  SampleLayout layout;
  int64_t needed;
};

// Throws UsageError for a bad header; `complete` false instead answers false when the data ends
// inside the header (the caller has only the file's first bytes).
bool ReadPnmHeader(const uint8_t* data, size_t size, const std::string& what, PnmHeader& h,
                   bool complete = true) {
  h.color = data[1] == '6' || data[1] == '3';
  h.ascii = data[1] == '2' || data[1] == '3';
  const std::string kind = h.color ? "PPM" : "PGM";
  size_t pos = 2;
  h.width = h.height = h.maxval = 0;
  const bool numbers = PnmNumber(data, size, pos, h.width) &&
                       PnmNumber(data, size, pos, h.height) && PnmNumber(data, size, pos, h.maxval);
  if (!complete && (!numbers || pos >= size)) return false;
  if (!numbers) throw UsageError(what + ": bad or truncated " + kind + " header");
  if (pos >= size || !IsSpace(data[pos])) throw UsageError(what + ": bad " + kind + " header");
  h.pos = pos + 1;  // the single whitespace character before the samples
  CheckDimensions(h.width, h.height, what);
  if (h.maxval < 1 || h.maxval > 65535)
    throw UsageError(what + ": bad maxval " + std::to_string(h.maxval) + " (1 .. 65535)");
  h.layout = SampleLayout{h.color ? 3 : 1, h.maxval > 255 ? 16 : 8};
  const int64_t rowSamples = h.width * h.layout.channels;
  // Every binary sample takes its bytes; every decimal one a digit and a separator.
  h.needed = h.ascii ? rowSamples * h.height * 2 - 1 : rowSamples * (h.layout.bits / 8) * h.height;
  return true;
}

std::string TruncatedPnm(const std::string& what, const PnmHeader& h) {
  return what + ": truncated file (" + SizeText(h.width, h.height) + " needs " +
         std::to_string(h.needed) + " bytes of samples)";
}

// P5/P6 hold binary samples (two big-endian bytes above maxval 255), P2/P3 decimal numbers.
ImagePtr DecodePnm(const uint8_t* data, size_t size, const std::string& what,
                   const IoProgress& progress) {
  PnmHeader h;
  ReadPnmHeader(data, size, what, h);
  const bool ascii = h.ascii;
  const int64_t width = h.width, height = h.height, maxval = h.maxval;
  const SampleLayout layout = h.layout;
  const int64_t sampleBytes = layout.bits / 8;
  const int64_t rowSamples = width * layout.channels;
  size_t pos = h.pos;
  if (int64_t(size - pos) < h.needed) throw UsageError(TruncatedPnm(what, h));
  ImagePtr image = NewImageFor(int32_t(width), int32_t(height), layout, what);
  const uint32_t full = layout.bits == 16 ? 65535u : 255u;
  const uint8_t* p = data + pos;
  for (int32_t y = 0; y < height; ++y) {
    ReportRow(progress, y, height);
    uint8_t* row = image->Row(y);
    if (!ascii && layout.bits == 8 && maxval == 255) {  // the file's bytes are the row's
      std::memcpy(row, p, size_t(rowSamples));
      p += rowSamples;
      continue;
    }
    for (int64_t i = 0; i < rowSamples; ++i) {
      uint32_t v = 0;
      if (ascii) {
        int64_t number = 0;
        if (!PnmNumber(data, size, pos, number))
          throw UsageError(what + ": truncated or bad sample in row " + std::to_string(y));
        v = uint32_t(std::min<int64_t>(number, maxval));
      } else {
        v = layout.bits == 16 ? uint32_t(p[0]) << 8 | p[1] : p[0];
        p += sampleBytes;
      }
      // Other maxvals are scaled to the full range, rounding; samples above maxval saturate.
      if (uint32_t(maxval) != full)
        v = v >= uint32_t(maxval) ? full : (v * full + uint32_t(maxval) / 2) / uint32_t(maxval);
      if (layout.bits == 16) {
        const uint16_t sample = uint16_t(v);
        std::memcpy(row + 2 * i, &sample, 2);
      } else {
        row[i] = uint8_t(v);
      }
    }
  }
  return image;
}

std::string PnmHeaderText(const BitmapRecord& b, bool color, int32_t bits) {
  return std::string(color ? "P6\n" : "P5\n") + std::to_string(b.StoredWidth) + " " +
         std::to_string(b.StoredHeight) + "\n" + (bits == 16 ? "65535" : "255") + "\n";
}

std::vector<uint8_t> EncodePnm(const BitmapRecord& b, bool color, const EncodeOptions& options) {
  const SampleLayout layout{color ? 3 : 1, NaturalLayout(b).bits};
  const std::string header = PnmHeaderText(b, color, layout.bits);
  const size_t rowBytes = size_t(b.StoredWidth) * layout.channels * (layout.bits / 8);
  std::vector<uint8_t> out(header.begin(), header.end());
  out.reserve(out.size() + rowBytes * b.StoredHeight);
  std::vector<uint8_t> row(rowBytes);
  for (int32_t y = 0; y < b.StoredHeight; ++y) {
    ReportRow(options.progress, y, b.StoredHeight);
    ExportRow(b, y, layout, row.data(), &options.background);
    if (layout.bits == 16)
      for (size_t i = 0; i < rowBytes; i += 2) {
        uint16_t v;
        std::memcpy(&v, &row[i], 2);
        row[i] = uint8_t(v >> 8);
        row[i + 1] = uint8_t(v);
      }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

std::string Lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

bool EndsWith(const std::string& s, const char* suffix) {
  const size_t n = std::strlen(suffix);
  return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// A descriptor closed when it goes (standard input is only borrowed).
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd, bool owned = true) : fd_(fd), owned_(owned) {}
  ~FileDescriptor() {
    if (owned_ && fd_ >= 0) close(fd_);
  }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
  bool owned_;
};

// Reads up to `bytes` into `to`, stopping early only at the end of the file: the count read, or
// -1 with errno set.
ssize_t ReadUpTo(int fd, uint8_t* to, size_t bytes) {
  size_t done = 0;
  while (done < bytes) {
    const ssize_t n = read(fd, to + done, bytes - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    done += size_t(n);
  }
  return ssize_t(done);
}

// A file's bytes; "-" reads standard input. A regular file is read straight into a buffer of
// its size; pipes and files that grow while read are read in chunks until the end.
std::vector<uint8_t> ReadFile(const std::string& path) {
  const bool standardInput = path == "-";
  const FileDescriptor file(standardInput ? STDIN_FILENO : open(path.c_str(), O_RDONLY | O_CLOEXEC),
                            !standardInput);
  const int fd = file.get();
  if (fd < 0) throw UsageError(path + ": " + std::strerror(errno));
  struct stat info {};
  size_t expected = size_t{1} << 16;
  if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
    if (uint64_t(info.st_size) > kMaxFileBytes) throw UsageError(path + ": file too large");
    expected = size_t(info.st_size) + 1;  // one spare byte sees the end in the same pass
  }
  std::vector<uint8_t> data(expected);
  size_t size = 0;
  for (;;) {
    const ssize_t n = ReadUpTo(fd, data.data() + size, data.size() - size);
    if (n < 0) throw UsageError(path + ": " + std::strerror(errno));
    size += size_t(n);
    if (size < data.size()) break;  // the end of the file
    if (size > kMaxFileBytes) throw UsageError(path + ": file too large");
    data.resize(size * 2);
  }
  if (size > kMaxFileBytes) throw UsageError(path + ": file too large");
  data.resize(size);
  return data;
}

}  // namespace

FileFormat FormatForPath(const std::string& path) {
  if (path == "-") throw UsageError("-: standard output needs --format=png, jpg, ppm or pgm");
  const std::string lower = Lower(path);
  if (EndsWith(lower, ".png")) return FileFormat::Png;
  if (EndsWith(lower, ".jpg") || EndsWith(lower, ".jpeg")) return FileFormat::Jpeg;
  if (EndsWith(lower, ".ppm")) return FileFormat::Ppm;
  if (EndsWith(lower, ".pgm")) return FileFormat::Pgm;
  throw UsageError(path + ": unknown output format (use .png, .jpg, .ppm or .pgm)");
}

FileFormat FormatForName(const std::string& name) {
  const std::string lower = Lower(name);
  if (lower == "png") return FileFormat::Png;
  if (lower == "jpg" || lower == "jpeg") return FileFormat::Jpeg;
  if (lower == "ppm") return FileFormat::Ppm;
  if (lower == "pgm") return FileFormat::Pgm;
  throw UsageError("--format=" + name + ": expected png, jpg, ppm or pgm");
}

ImagePtr DecodeImage(const uint8_t* data, size_t size, const std::string& what,
                     const IoProgress& progress) {
  if (size == 0) throw UsageError(what + ": empty file");
  if (size >= 8 && png_sig_cmp(data, 0, 8) == 0) return DecodePng(data, size, what, progress);
  if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF)
    return DecodeJpeg(data, size, what, progress);
  if (size >= 2 && data[0] == 'P' && data[1] >= '2' && data[1] <= '6' && data[1] != '4')
    return DecodePnm(data, size, what, progress);
  throw UsageError(what + ": not a PNG, JPEG, PPM (P3, P6) or PGM (P2, P5) file");
}

std::vector<uint8_t> EncodeImage(const BitmapRecord& bitmap, FileFormat format,
                                 const EncodeOptions& options) {
  std::vector<uint8_t> bytes;
  switch (format) {
    case FileFormat::Png:
      bytes = EncodePng(bitmap, options.meta, options.progress);
      break;
    case FileFormat::Jpeg:
      bytes = EncodeJpeg(bitmap, options);
      break;
    case FileFormat::Ppm:
    case FileFormat::Pgm:
      bytes = EncodePnm(bitmap, format == FileFormat::Ppm, options);
      break;
  }
  if (options.progress && !options.progress(100)) throw Interrupted();
  return bytes;
}

namespace {

// Re-lays the pixels so the stored rows are the picture as a viewer turns it.
void TurnUpright(Image& image, int32_t orientation, const std::string& what) {
  if (orientation < 2 || orientation > 8) return;
  BitmapRecord* b = image.get();
  int32_t rc = HostSetOrientation(nullptr, b, BITMAP_STRUCT_SIZE, uint32_t(orientation), 0);
  if (rc == SUCCESS) rc = HostChangeOrientation(b, b, BITMAP_STRUCT_SIZE, 1);
  if (rc != SUCCESS) {
    const char* name = FxResultName(rc);
    throw UsageError(what + ": cannot turn the picture upright (" + (name ? name : "error") + ")");
  }
  SetExifOrientation(image.meta.exif, 1);
  if (orientation >= 5) std::swap(image.meta.resolution.x, image.meta.resolution.y);
}

}  // namespace

namespace {

// A binary PPM or PGM of maxval 255 in a regular file whose rows the bitmap stores back to back
// (no padding): the samples are the stored bytes, so they are read straight into the bitmap, a
// band of rows at a time, without holding the file in memory. nullptr for anything else (or a
// header longer than the first read), which the caller reads whole and decodes with its full
// checks and messages.
ImagePtr LoadRawPnm(const std::string& path, const IoProgress& progress) {
  const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  const int fd = file.get();
  if (fd < 0) return nullptr;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) return nullptr;
  uint8_t head[4096];
  const ssize_t got = ReadUpTo(fd, head, sizeof(head));
  if (got < 0) throw UsageError(path + ": " + std::strerror(errno));
  const size_t have = size_t(got);
  // Fills [to, to + bytes) from the bytes already read past `used`, then from the file.
  auto fill = [&](uint8_t* to, size_t bytes, size_t& used) -> bool {
    const size_t spare = std::min(bytes, have - used);
    std::memcpy(to, head + used, spare);
    used += spare;
    return ReadUpTo(fd, to + spare, bytes - spare) == ssize_t(bytes - spare);
  };
  if (have < 3 || head[0] != 'P' || (head[1] != '5' && head[1] != '6')) return nullptr;
  PnmHeader h;
  if (!ReadPnmHeader(head, have, path, h, false) || h.maxval != 255) return nullptr;
  if (int64_t(info.st_size) - int64_t(h.pos) < h.needed) return nullptr;
  ImagePtr image = NewImageFor(int32_t(h.width), int32_t(h.height), h.layout, path);
  const size_t rowBytes = size_t(h.width) * size_t(h.layout.channels);
  if (size_t(image->get()->BytesPerLine) != rowBytes) return nullptr;  // padded stored rows
  constexpr int32_t kBand = 64;
  size_t used = h.pos;
  for (int32_t y = 0; y < h.height; y += kBand) {
    const int32_t rows = int32_t(std::min<int64_t>(kBand, h.height - y));
    for (int32_t k = 0; k < rows; ++k) ReportRow(progress, y + k, h.height);
    if (!fill(image->Row(y), rowBytes * size_t(rows), used))
      throw UsageError(TruncatedPnm(path, h));  // the file shrank while read
  }
  return image;
}

}  // namespace

ImagePtr LoadImage(const std::string& name, const LoadOptions& options) {
  ImagePtr image;
  if (IsCardName(name)) {
    image = MakeCard(name);
  } else {
    if (name != "-") image = LoadRawPnm(name, options.progress);
    if (!image) {
      const std::vector<uint8_t> data = ReadFile(name);
      image = DecodeImage(data.data(), data.size(), name == "-" ? "standard input" : name,
                          options.progress);
    }
    if (options.progress && !options.progress(100)) throw Interrupted();
  }
  TurnUpright(*image, options.orientation ? options.orientation : ExifOrientation(image->meta.exif),
              name);
  return image;
}

void SaveImage(const BitmapRecord& bitmap, const std::string& path) {
  SaveImage(bitmap, path, FormatForPath(path), {});
}

void SaveImage(const BitmapRecord& bitmap, const std::string& path, FileFormat format,
               const EncodeOptions& options) {
  const auto cancelled = [&] { return options.progress && !options.progress(100); };
  // An 8-bit PPM or PGM whose stored rows are already the file's rows, back to back, is the
  // header and the bitmap's bytes: written from the bitmap without an encoded copy.
  const bool pnm = format == FileFormat::Ppm || format == FileFormat::Pgm;
  const SampleLayout layout{format == FileFormat::Ppm ? 3 : 1, 8};
  const size_t rowBytes = size_t(bitmap.StoredWidth) * size_t(layout.channels);
  if (pnm && NaturalLayout(bitmap).bits == 8 && size_t(bitmap.BytesPerLine) == rowBytes &&
      RowsExportAsStored(bitmap, layout, &options.background)) {
    const std::string header = PnmHeaderText(bitmap, format == FileFormat::Ppm, 8);
    for (int32_t y = 0; y < bitmap.StoredHeight; ++y)
      ReportRow(options.progress, y, bitmap.StoredHeight);
    if (options.progress && !options.progress(100)) throw Interrupted();
    const std::vector<std::span<const uint8_t>> pieces{
        {reinterpret_cast<const uint8_t*>(header.data()), header.size()},
        {bitmap.Data, rowBytes * size_t(bitmap.StoredHeight)}};
    return WriteFileSafely(path, pieces, cancelled);
  }
  std::vector<uint8_t> bytes;
  try {
    bytes = EncodeImage(bitmap, format, options);
  } catch (const UsageError& e) {
    throw UsageError(path + ": " + e.what());
  }
  WriteFileSafely(path, bytes, cancelled);
}

}  // namespace fxcli
