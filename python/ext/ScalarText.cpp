// The command line's value syntax, read for the Python binding.
#include "ScalarText.h"

#include <string>

namespace fxpy {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decimal or 0x hex with an optional sign; false on anything else or beyond 64 bits.
bool ParseInt64(std::string_view text, int64_t& value) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  uint64_t base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t magnitude = 0;
  for (char c : text) {
    const int d = base == 16 ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0 || magnitude > (uint64_t{1} << 63) / base) return false;
    magnitude = magnitude * base + uint64_t(d);
    if (magnitude > (uint64_t{1} << 63)) return false;
  }
  if (!negative && magnitude > uint64_t{INT64_MAX}) return false;
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  return true;
}

int64_t ParseInteger(std::string_view text, const char* expected) {
  int64_t v = 0;
  if (!ParseInt64(text, v))
    throw ValueError("expected " + std::string(expected) + ", got '" + std::string(text) + "'");
  return v;
}

// #RRGGBB as a COLORREF (red in the low byte).
int64_t ParseHashColour(std::string_view text) {
  uint32_t rgb = 0;
  bool ok = text.size() == 7;
  for (size_t i = 1; ok && i < text.size(); ++i) {
    const int d = HexDigit(text[i]);
    ok = d >= 0;
    rgb = rgb << 4 | uint32_t(d < 0 ? 0 : d);
  }
  if (!ok) throw ValueError("expected #RRGGBB, got '" + std::string(text) + "'");
  return (rgb >> 16) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
}

}  // namespace

int64_t PackWord(FxKind kind, int64_t value) {
  if (value < INT32_MIN || value > int64_t{UINT32_MAX})
    throw ValueError(std::to_string(value) + " does not fit in 32 bits");
  const uint32_t word = static_cast<uint32_t>(value);
  return kind == FX_KIND_INT32 ? int64_t{static_cast<int32_t>(word)} : int64_t{word};
}

int64_t PackPoint(int64_t x, int64_t y) {
  if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX)
    throw ValueError("point coordinate out of the 32-bit range");
  return static_cast<int64_t>(uint64_t{static_cast<uint32_t>(x)} |
                              uint64_t{static_cast<uint32_t>(y)} << 32);
}

int64_t ParseScalarText(const TextTarget& target, std::string_view text) {
  const FxKind kind = target.kind;
  switch (kind) {
    case FX_KIND_POINT: {
      const size_t comma = text.find(',');
      if (comma == std::string_view::npos || text.find(',', comma + 1) != std::string_view::npos)
        throw ValueError("expected a point x,y, got '" + std::string(text) + "'");
      return PackPoint(ParseInteger(text.substr(0, comma), "a point x,y"),
                       ParseInteger(text.substr(comma + 1), "a point x,y"));
    }
    case FX_KIND_COLOR:
      if (!text.empty() && text[0] == '#') return ParseHashColour(text);
      return PackWord(kind, ParseInteger(text, "a colour (0x00BBGGRR or #RRGGBB)"));
    default:
      return PackWord(kind, ParseInteger(text, "an integer (decimal or 0x hex)"));
  }
}

std::vector<int32_t> ParseListText(const TextTarget& target, std::string_view text) {
  TextTarget element = target;
  element.kind = FX_KIND_COLOR;  // a 32-bit word, #RRGGBB allowed
  std::vector<int32_t> values;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(',', start);
    values.push_back(static_cast<int32_t>(ParseScalarText(
        element, text.substr(start, end == std::string_view::npos ? end : end - start))));
    if (end == std::string_view::npos) return values;
    start = end + 1;
  }
}

}  // namespace fxpy
