#include "tools/fxkit/Metadata.h"

#include <cmath>
#include <cstring>

namespace fxcli {

namespace {

constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kShort = 3;
// Largest ICC data per APP2 marker: 65535 - 2 (length) - 14 (identifier, number, count).
constexpr size_t kIccChunk = 65519;

// Byte order of a TIFF structure; false when the header is not TIFF.
bool TiffOrder(const std::vector<uint8_t>& t, bool& bigEndian) {
  if (t.size() < 8) return false;
  if (t[0] == 'I' && t[1] == 'I' && t[2] == 42 && t[3] == 0)
    bigEndian = false;
  else if (t[0] == 'M' && t[1] == 'M' && t[2] == 0 && t[3] == 42)
    bigEndian = true;
  else
    return false;
  return true;
}

uint32_t Read(const std::vector<uint8_t>& t, size_t at, int bytes, bool big) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) {
    const uint32_t b = t[at + size_t(i)];
    v |= big ? b << (8 * (bytes - 1 - i)) : b << (8 * i);
  }
  return v;
}

// Offset of the orientation entry's value in IFD0, or 0 when absent.
size_t OrientationValueAt(const std::vector<uint8_t>& t, bool& big) {
  if (!TiffOrder(t, big)) return 0;
  const uint64_t ifd = Read(t, 4, 4, big);
  if (ifd + 2 > t.size()) return 0;
  const uint32_t count = Read(t, size_t(ifd), 2, big);
  for (uint32_t i = 0; i < count; ++i) {
    const uint64_t entry = ifd + 2 + uint64_t{12} * i;
    if (entry + 12 > t.size()) return 0;
    if (Read(t, size_t(entry), 2, big) != kOrientationTag) continue;
    if (Read(t, size_t(entry) + 2, 2, big) != kShort || Read(t, size_t(entry) + 4, 4, big) != 1)
      return 0;
    return size_t(entry) + 8;
  }
  return 0;
}

uint32_t Rounded(double v) {
  return v >= 4294967295.0 ? UINT32_MAX : uint32_t(std::lround(v));
}

}  // namespace

int32_t ExifOrientation(const std::vector<uint8_t>& tiff) {
  bool big = false;
  const size_t at = OrientationValueAt(tiff, big);
  if (at == 0) return 0;
  const uint32_t v = Read(tiff, at, 2, big);
  return v >= 1 && v <= 8 ? int32_t(v) : 0;
}

bool SetExifOrientation(std::vector<uint8_t>& tiff, int32_t orientation) {
  bool big = false;
  const size_t at = OrientationValueAt(tiff, big);
  if (at == 0) return false;
  tiff[at + (big ? 0 : 1)] = 0;
  tiff[at + (big ? 1 : 0)] = uint8_t(orientation);
  return true;
}

bool PngDensity(const Resolution& r, uint32_t& x, uint32_t& y, int& unit) {
  switch (r.unit) {
    case Resolution::Unit::None:
      return false;
    case Resolution::Unit::Aspect:
      x = r.x, y = r.y, unit = 0;
      return true;
    case Resolution::Unit::PerInch:
      x = Rounded(r.x / 0.0254), y = Rounded(r.y / 0.0254), unit = 1;
      return true;
    case Resolution::Unit::PerCm:
      x = Rounded(r.x * 100.0), y = Rounded(r.y * 100.0), unit = 1;
      return true;
    case Resolution::Unit::PerMetre:
      x = r.x, y = r.y, unit = 1;
      return true;
  }
  return false;
}

bool JfifDensity(const Resolution& r, uint16_t& x, uint16_t& y, uint8_t& unit) {
  uint32_t wx = r.x, wy = r.y;
  switch (r.unit) {
    case Resolution::Unit::None:
      return false;
    case Resolution::Unit::Aspect:
      unit = 0;
      break;
    case Resolution::Unit::PerInch:
      unit = 1;
      break;
    case Resolution::Unit::PerCm:
      unit = 2;
      break;
    case Resolution::Unit::PerMetre:  // PNG's unit: dots per inch, the usual JPEG form
      wx = Rounded(r.x * 0.0254), wy = Rounded(r.y * 0.0254), unit = 1;
      break;
  }
  if (wx < 1 || wy < 1 || wx > 65535 || wy > 65535) return false;
  x = uint16_t(wx), y = uint16_t(wy);
  return true;
}

bool IccFits(const std::vector<uint8_t>& icc, int32_t channels) {
  if (icc.size() < 20) return false;
  const char* space = reinterpret_cast<const char*>(icc.data() + 16);
  return channels == 1 ? std::memcmp(space, "GRAY", 4) == 0 : std::memcmp(space, "RGB ", 4) == 0;
}

std::vector<std::vector<uint8_t>> IccMarkers(const std::vector<uint8_t>& icc) {
  std::vector<std::vector<uint8_t>> markers;
  const size_t count = (icc.size() + kIccChunk - 1) / kIccChunk;
  if (count == 0 || count > 255) return markers;
  for (size_t i = 0; i < count; ++i) {
    std::vector<uint8_t> body(kIccId, kIccId + sizeof(kIccId));
    body.push_back(uint8_t(i + 1));
    body.push_back(uint8_t(count));
    const size_t from = i * kIccChunk, to = std::min(icc.size(), from + kIccChunk);
    body.insert(body.end(), icc.begin() + std::ptrdiff_t(from), icc.begin() + std::ptrdiff_t(to));
    markers.push_back(std::move(body));
  }
  return markers;
}

std::vector<uint8_t> JoinIccMarkers(const std::vector<std::vector<uint8_t>>& bodies) {
  const size_t header = sizeof(kIccId) + 2;
  std::vector<const std::vector<uint8_t>*> parts;
  for (const std::vector<uint8_t>& b : bodies) {
    if (b.size() < header || std::memcmp(b.data(), kIccId, sizeof(kIccId)) != 0) continue;
    const size_t number = b[sizeof(kIccId)], count = b[sizeof(kIccId) + 1];
    if (number < 1 || number > count) return {};
    if (parts.empty()) parts.assign(count, nullptr);
    if (parts.size() != count || parts[number - 1]) return {};
    parts[number - 1] = &b;
  }
  std::vector<uint8_t> icc;
  for (const std::vector<uint8_t>* p : parts) {
    if (!p) return {};
    icc.insert(icc.end(), p->begin() + std::ptrdiff_t(header), p->end());
  }
  return icc;
}

}  // namespace fxcli
