// Human values for the registry: names matched case-insensitively with "did you mean"
// suggestions, integers, sizes and points relative to the picture, colours (hex, rgb(), CSS
// names) and named bit fields, each checked against its kind and the registry's range.
//
// Extreme inputs: percentages have at most 9 integer and 4 decimal digits and are measured in
// 128-bit integers, so no product overflows; a measured value that does not fit the kind is an
// out-of-range error like any other.
#include "frame/RegistryText.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "frame/Frame.h"
#include "fxkit/host.h"

namespace fx {

namespace {

// Record arrays are named with indices 0 .. kMaxRecordIndex.
constexpr int64_t kMaxRecordIndex = 1023;

char Lower(char c) {
  return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

std::string Lowered(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = Lower(c);
  return out;
}

// Optimal string alignment distance (an adjacent transposition counts as one edit).
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
  for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
  for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
  for (size_t i = 1; i <= a.size(); ++i)
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
      d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1])
        d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
    }
  return d[a.size()][b.size()];
}

// "a", "a or b", "a, b or c".
std::string JoinOr(const std::vector<std::string>& items) {
  std::string out;
  for (size_t i = 0; i < items.size(); ++i)
    out += (i == 0 ? "" : i + 1 == items.size() ? " or " : ", ") + items[i];
  return out;
}

// ---- Numbers -------------------------------------------------------------------------------

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = Lower(c);
  return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// "12", "-3.5", "0.25": a percentage in ten-thousandths of a percent.
bool ParsePercent(std::string_view text, int64_t& tenThousandths) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  const size_t dot = text.find('.');
  const std::string_view whole = text.substr(0, dot);
  const std::string_view decimals = dot == std::string_view::npos ? "" : text.substr(dot + 1);
  if (whole.empty() || whole.size() > 9 || decimals.size() > 4 ||
      (dot != std::string_view::npos && decimals.empty()))
    return false;
  int64_t v = 0;
  for (char c : whole) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  for (size_t i = 0; i < 4; ++i) {
    const char c = i < decimals.size() ? decimals[i] : '0';
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  tenThousandths = negative ? -v : v;
  return true;
}

// trunc(percent × length / 100) for a percentage in ten-thousandths.
int64_t Measure(int64_t tenThousandths, int64_t length) {
  const __int128 product = static_cast<__int128>(tenThousandths) * length;
  const __int128 v = product / 1000000;  // truncation toward zero
  if (v > INT64_MAX / 2) return INT64_MAX / 2;
  if (v < INT64_MIN / 2) return INT64_MIN / 2;
  return static_cast<int64_t>(v);
}

// ---- Colours -------------------------------------------------------------------------------

struct NamedColour {
  const char* name;
  uint32_t rgb;  // 0xRRGGBB
};

// The CSS colour names.
constexpr NamedColour kCssColours[] = {
    {"aliceblue", 0xF0F8FF},
    {"antiquewhite", 0xFAEBD7},
    {"aqua", 0x00FFFF},
    {"aquamarine", 0x7FFFD4},
    {"azure", 0xF0FFFF},
    {"beige", 0xF5F5DC},
    {"bisque", 0xFFE4C4},
    {"black", 0x000000},
    {"blanchedalmond", 0xFFEBCD},
    {"blue", 0x0000FF},
    {"blueviolet", 0x8A2BE2},
    {"brown", 0xA52A2A},
    {"burlywood", 0xDEB887},
    {"cadetblue", 0x5F9EA0},
    {"chartreuse", 0x7FFF00},
    {"chocolate", 0xD2691E},
    {"coral", 0xFF7F50},
    {"cornflowerblue", 0x6495ED},
    {"cornsilk", 0xFFF8DC},
    {"crimson", 0xDC143C},
    {"cyan", 0x00FFFF},
    {"darkblue", 0x00008B},
    {"darkcyan", 0x008B8B},
    {"darkgoldenrod", 0xB8860B},
    {"darkgray", 0xA9A9A9},
    {"darkgreen", 0x006400},
    {"darkgrey", 0xA9A9A9},
    {"darkkhaki", 0xBDB76B},
    {"darkmagenta", 0x8B008B},
    {"darkolivegreen", 0x556B2F},
    {"darkorange", 0xFF8C00},
    {"darkorchid", 0x9932CC},
    {"darkred", 0x8B0000},
    {"darksalmon", 0xE9967A},
    {"darkseagreen", 0x8FBC8F},
    {"darkslateblue", 0x483D8B},
    {"darkslategray", 0x2F4F4F},
    {"darkslategrey", 0x2F4F4F},
    {"darkturquoise", 0x00CED1},
    {"darkviolet", 0x9400D3},
    {"deeppink", 0xFF1493},
    {"deepskyblue", 0x00BFFF},
    {"dimgray", 0x696969},
    {"dimgrey", 0x696969},
    {"dodgerblue", 0x1E90FF},
    {"firebrick", 0xB22222},
    {"floralwhite", 0xFFFAF0},
    {"forestgreen", 0x228B22},
    {"fuchsia", 0xFF00FF},
    {"gainsboro", 0xDCDCDC},
    {"ghostwhite", 0xF8F8FF},
    {"gold", 0xFFD700},
    {"goldenrod", 0xDAA520},
    {"gray", 0x808080},
    {"green", 0x008000},
    {"greenyellow", 0xADFF2F},
    {"grey", 0x808080},
    {"honeydew", 0xF0FFF0},
    {"hotpink", 0xFF69B4},
    {"indianred", 0xCD5C5C},
    {"indigo", 0x4B0082},
    {"ivory", 0xFFFFF0},
    {"khaki", 0xF0E68C},
    {"lavender", 0xE6E6FA},
    {"lavenderblush", 0xFFF0F5},
    {"lawngreen", 0x7CFC00},
    {"lemonchiffon", 0xFFFACD},
    {"lightblue", 0xADD8E6},
    {"lightcoral", 0xF08080},
    {"lightcyan", 0xE0FFFF},
    {"lightgoldenrodyellow", 0xFAFAD2},
    {"lightgray", 0xD3D3D3},
    {"lightgreen", 0x90EE90},
    {"lightgrey", 0xD3D3D3},
    {"lightpink", 0xFFB6C1},
    {"lightsalmon", 0xFFA07A},
    {"lightseagreen", 0x20B2AA},
    {"lightskyblue", 0x87CEFA},
    {"lightslategray", 0x778899},
    {"lightslategrey", 0x778899},
    {"lightsteelblue", 0xB0C4DE},
    {"lightyellow", 0xFFFFE0},
    {"lime", 0x00FF00},
    {"limegreen", 0x32CD32},
    {"linen", 0xFAF0E6},
    {"magenta", 0xFF00FF},
    {"maroon", 0x800000},
    {"mediumaquamarine", 0x66CDAA},
    {"mediumblue", 0x0000CD},
    {"mediumorchid", 0xBA55D3},
    {"mediumpurple", 0x9370DB},
    {"mediumseagreen", 0x3CB371},
    {"mediumslateblue", 0x7B68EE},
    {"mediumspringgreen", 0x00FA9A},
    {"mediumturquoise", 0x48D1CC},
    {"mediumvioletred", 0xC71585},
    {"midnightblue", 0x191970},
    {"mintcream", 0xF5FFFA},
    {"mistyrose", 0xFFE4E1},
    {"moccasin", 0xFFE4B5},
    {"navajowhite", 0xFFDEAD},
    {"navy", 0x000080},
    {"oldlace", 0xFDF5E6},
    {"olive", 0x808000},
    {"olivedrab", 0x6B8E23},
    {"orange", 0xFFA500},
    {"orangered", 0xFF4500},
    {"orchid", 0xDA70D6},
    {"palegoldenrod", 0xEEE8AA},
    {"palegreen", 0x98FB98},
    {"paleturquoise", 0xAFEEEE},
    {"palevioletred", 0xDB7093},
    {"papayawhip", 0xFFEFD5},
    {"peachpuff", 0xFFDAB9},
    {"peru", 0xCD853F},
    {"pink", 0xFFC0CB},
    {"plum", 0xDDA0DD},
    {"powderblue", 0xB0E0E6},
    {"purple", 0x800080},
    {"rebeccapurple", 0x663399},
    {"red", 0xFF0000},
    {"rosybrown", 0xBC8F8F},
    {"royalblue", 0x4169E1},
    {"saddlebrown", 0x8B4513},
    {"salmon", 0xFA8072},
    {"sandybrown", 0xF4A460},
    {"seagreen", 0x2E8B57},
    {"seashell", 0xFFF5EE},
    {"sienna", 0xA0522D},
    {"silver", 0xC0C0C0},
    {"skyblue", 0x87CEEB},
    {"slateblue", 0x6A5ACD},
    {"slategray", 0x708090},
    {"slategrey", 0x708090},
    {"snow", 0xFFFAFA},
    {"springgreen", 0x00FF7F},
    {"steelblue", 0x4682B4},
    {"tan", 0xD2B48C},
    {"teal", 0x008080},
    {"thistle", 0xD8BFD8},
    {"tomato", 0xFF6347},
    {"turquoise", 0x40E0D0},
    {"violet", 0xEE82EE},
    {"wheat", 0xF5DEB3},
    {"white", 0xFFFFFF},
    {"whitesmoke", 0xF5F5F5},
    {"yellow", 0xFFFF00},
    {"yellowgreen", 0x9ACD32},
};

// 0xRRGGBB to the API's 0x00BBGGRR.
uint32_t ColorRef(uint32_t rgb) {
  return (rgb >> 16 & 0xFF) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
}

// #RGB, #RRGGBB, rgb(R,G,B) or a CSS name. False when the text has none of these forms.
bool ParseColourForm(std::string_view text, uint32_t& colour) {
  if (!text.empty() && text[0] == '#') {
    const std::string_view hex = text.substr(1);
    if (hex.size() != 3 && hex.size() != 6) return false;
    uint32_t rgb = 0;
    for (char c : hex) {
      const int d = HexDigit(c);
      if (d < 0) return false;
      rgb = hex.size() == 3 ? rgb << 8 | uint32_t(d) * 0x11 : rgb << 4 | uint32_t(d);
    }
    colour = ColorRef(rgb);
    return true;
  }
  const std::string lower = Lowered(text);
  if (lower.rfind("rgb(", 0) == 0 && lower.back() == ')') {
    std::string_view inner = std::string_view(lower).substr(4, lower.size() - 5);
    uint32_t rgb = 0;
    for (int k = 0; k < 3; ++k) {
      const size_t comma = inner.find(',');
      if ((k < 2) != (comma != std::string_view::npos)) return false;
      std::string_view part = inner.substr(0, comma);
      while (!part.empty() && part.front() == ' ') part.remove_prefix(1);
      while (!part.empty() && part.back() == ' ') part.remove_suffix(1);
      if (part.empty() || part.size() > 3) return false;
      uint32_t v = 0;
      for (char c : part) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + uint32_t(c - '0');
      }
      if (v > 255) return false;
      rgb = rgb << 8 | v;
      if (comma != std::string_view::npos) inner.remove_prefix(comma + 1);
    }
    colour = ColorRef(rgb);
    return true;
  }
  for (const NamedColour& c : kCssColours)
    if (lower == c.name) {
      colour = ColorRef(c.rgb);
      return true;
    }
  return false;
}

std::vector<std::string> CssNames() {
  std::vector<std::string> names;
  for (const NamedColour& c : kCssColours) names.push_back(c.name);
  return names;
}

// ---- Names ---------------------------------------------------------------------------------

// Index of the first entry whose name matches, exactly if any does, else case-insensitively.
template <class Name>
int32_t FindName(uint32_t count, Name&& nameAt, std::string_view name) {
  for (int pass = 0; pass < 2; ++pass)
    for (uint32_t i = 0; i < count; ++i) {
      const char* n = nameAt(i);
      if (n && (pass == 0 ? name == n : SameName(name, n))) return static_cast<int32_t>(i);
    }
  return -1;
}

int32_t FindFlagField(const FxFlagField* fields, uint32_t count, std::string_view name) {
  return FindName(
      count, [&](uint32_t i) { return fields[i].name; }, name);
}

const FxRecordDesc* RecordOf(const FxParamDesc& p) {
  return (p.kind == FX_KIND_RECORD || p.kind == FX_KIND_RECORD_ARRAY) ? p.record : nullptr;
}

// What a target points at: kind, range and bit fields of the parameter or record field.
struct TargetInfo {
  FxKind kind;
  int64_t min, max;
  const FxFlagField* fields;
  uint32_t fieldCount;
  const char* name;  // the parameter's or field's own name
  std::string display;
};

bool Describe(const FxEffectDesc& e, const FxTarget& t, TargetInfo& info) {
  if (t.param < 0 || uint32_t(t.param) >= e.paramCount) return false;
  const FxParamDesc& p = e.params[t.param];
  if (t.field >= 0) {
    const FxRecordDesc* r = RecordOf(p);
    if (!r || uint32_t(t.field) >= r->fieldCount) return false;
    const FxFieldDesc& f = r->fields[t.field];
    info = TargetInfo{f.kind, f.minValue, f.maxValue, f.flagFields, f.flagFieldCount, f.name, ""};
    if (f.kind == FX_KIND_INT_ARRAY) info.kind = FX_KIND_INT32;  // one element
    info.display =
        p.kind == FX_KIND_RECORD_ARRAY
            ? std::string(p.name) + "[" + (t.index >= 0 ? Decimal(t.index) : "") + "]." + f.name
            : std::string(f.name);
  } else {
    info =
        TargetInfo{p.kind, p.minValue, p.maxValue, p.flagFields, p.flagFieldCount, p.name, p.name};
    if (p.kind == FX_KIND_INT_ARRAY) info.kind = FX_KIND_INT32;  // one element
  }
  if (t.flagField >= 0) {
    if (uint32_t(t.flagField) >= info.fieldCount) return false;
    info.display = info.fields[t.flagField].name;
  }
  return true;
}

std::vector<std::string> ValueNames(const FxFlagField& field) {
  std::vector<std::string> names;
  for (uint32_t v = 0; v < field.valueCount; ++v) names.push_back(field.values[v].name);
  return names;
}

// The whole-word field of a parameter or record field: the one named like it.
const FxFlagField* WholeWordField(const TargetInfo& info) {
  const int32_t k = FindFlagField(info.fields, info.fieldCount, info.name);
  return k >= 0 ? &info.fields[k] : nullptr;
}

int32_t FindValueName(const FxFlagField& field, std::string_view text) {
  return FindName(
      field.valueCount, [&](uint32_t i) { return field.values[i].name; }, text);
}

// Every name an effect answers to, for suggestions.
std::vector<std::string> EffectNames(const FxEffectDesc& e) {
  std::vector<std::string> names;
  auto addFields = [&](const FxFlagField* fields, uint32_t count, const char* owner) {
    for (uint32_t k = 0; k < count; ++k)
      if (!SameName(fields[k].name, owner)) names.push_back(fields[k].name);
  };
  for (uint32_t i = 0; i < e.paramCount; ++i) {
    const FxParamDesc& p = e.params[i];
    names.push_back(p.name);
    addFields(p.flagFields, p.flagFieldCount, p.name);
    if (p.kind == FX_KIND_RECORD && p.record)
      for (uint32_t f = 1; f < p.record->fieldCount; ++f) {
        names.push_back(p.record->fields[f].name);
        addFields(p.record->fields[f].flagFields, p.record->fields[f].flagFieldCount,
                  p.record->fields[f].name);
      }
  }
  return names;
}

std::vector<std::string> RecordNames(const FxRecordDesc& r) {
  std::vector<std::string> names;
  for (uint32_t f = 0; f < r.fieldCount; ++f) {
    names.push_back(r.fields[f].name);
    for (uint32_t k = 0; k < r.fields[f].flagFieldCount; ++k)
      names.push_back(r.fields[f].flagFields[k].name);
  }
  return names;
}

// A record field or a bit field of one of its fields, by name. False when neither exists.
bool FindInRecord(const FxRecordDesc& r, std::string_view name, FxTarget& t) {
  const int32_t f = FindName(
      r.fieldCount, [&](uint32_t i) { return r.fields[i].name; }, name);
  if (f >= 0) {
    t.field = f;
    return true;
  }
  for (uint32_t i = 0; i < r.fieldCount; ++i) {
    const int32_t k = FindFlagField(r.fields[i].flagFields, r.fields[i].flagFieldCount, name);
    if (k >= 0) {
      t.field = int32_t(i);
      t.flagField = k;
      return true;
    }
  }
  return false;
}

int32_t Refuse(int32_t code, char* message, size_t size, const std::string& text) {
  WriteMessage(message, size, text);
  return code;
}

// A bare name: a parameter, then a field of one of the records, then a bit field of a parameter
// or of a record field; exact names in every category before case-insensitive ones. Returns
// SUCCESS, FX_REGISTRY_AMBIGUOUS_NAME or FX_REGISTRY_UNKNOWN_PARAMETER (no message).
int32_t ResolveBare(const FxEffectDesc& e, std::string_view name, FxTarget& t,
                    std::string& ambiguous) {
  for (int pass = 0; pass < 2; ++pass) {
    auto same = [&](const char* n) { return n && (pass == 0 ? name == n : SameName(name, n)); };
    for (uint32_t i = 0; i < e.paramCount; ++i)
      if (same(e.params[i].name)) {
        t.param = int32_t(i);
        return SUCCESS;
      }
    std::vector<FxTarget> found;
    for (uint32_t i = 0; i < e.paramCount; ++i) {
      const FxParamDesc& p = e.params[i];
      if (p.kind != FX_KIND_RECORD || !p.record) continue;
      for (uint32_t f = 0; f < p.record->fieldCount; ++f)
        if (same(p.record->fields[f].name))
          found.push_back(FxTarget{int32_t(i), int32_t(f), -1, -1});
    }
    if (found.empty())
      for (uint32_t i = 0; i < e.paramCount; ++i) {
        const FxParamDesc& p = e.params[i];
        for (uint32_t k = 0; k < p.flagFieldCount; ++k)
          if (same(p.flagFields[k].name) && !SameName(p.flagFields[k].name, p.name))
            found.push_back(FxTarget{int32_t(i), -1, -1, int32_t(k)});
        if (p.kind != FX_KIND_RECORD || !p.record) continue;
        for (uint32_t f = 0; f < p.record->fieldCount; ++f) {
          const FxFieldDesc& field = p.record->fields[f];
          for (uint32_t k = 0; k < field.flagFieldCount; ++k)
            if (same(field.flagFields[k].name) && !SameName(field.flagFields[k].name, field.name))
              found.push_back(FxTarget{int32_t(i), int32_t(f), -1, int32_t(k)});
        }
      }
    if (found.size() > 1) {
      ambiguous = std::string(name);
      return FX_REGISTRY_AMBIGUOUS_NAME;
    }
    if (found.size() == 1) {
      t = found[0];
      return SUCCESS;
    }
  }
  return FX_REGISTRY_UNKNOWN_PARAMETER;
}

// ---- Values --------------------------------------------------------------------------------

struct ParseContext {
  const FxEffectDesc& effect;
  const TargetInfo& info;
  std::string_view text;
  BitmapRecord* bitmap;
  bool element;  // one element of an integer array

  std::string Word() const { return info.display + "=" + std::string(text); }
  std::string Prefix() const { return std::string(effect.shortName) + ": " + Word(); }
};

struct Result {
  int32_t code;
  std::string message;
  bool filled = false;  // an out-of-range value within its kind was left in the output
};

Result Ok() {
  return Result{SUCCESS, ""};
}

Result Bad(const ParseContext& c, const std::string& expected, const std::string& hint = "") {
  return Result{FX_REGISTRY_BAD_VALUE, c.Prefix() + ": expected " + expected + hint};
}

Result NeedsBitmap(const ParseContext& c) {
  return Result{FX_REGISTRY_NEEDS_BITMAP,
                c.Prefix() + " is relative to the picture; there is no picture to measure"};
}

// The value checked against the kind and range; `measured` tells a relative value.
Result Checked(const ParseContext& c, int64_t value, bool measured, FxParsed& out) {
  int64_t word = 0;
  const bool fits = FitsKind(c.info.kind, value, word);
  if (fits) out.value = c.info.kind == FX_KIND_INT32 ? word : int64_t{static_cast<uint32_t>(word)};
  if (!fits || word < c.info.min || word > c.info.max) {
    const std::string range = RangeText(c.info.kind, c.info.min, c.info.max);
    if (measured)
      return Result{FX_REGISTRY_OUT_OF_RANGE,
                    c.Prefix() + " is " + Decimal(value) + " on this picture, outside " + range,
                    fits};
    return Result{FX_REGISTRY_OUT_OF_RANGE, c.Prefix() + " is outside " + range, fits};
  }
  return Ok();
}

// A relative integer "N%w", "N%h", "N%s". False when the text has another form.
bool RelativeForm(std::string_view text, int64_t& percent, char& axis) {
  if (text.size() < 3 || text[text.size() - 2] != '%') return false;
  axis = Lower(text.back());
  if (axis != 'w' && axis != 'h' && axis != 's') return false;
  return ParsePercent(text.substr(0, text.size() - 2), percent);
}

Result ParseWhole(const ParseContext& c, FxParsed& out) {
  const FxFlagField* whole = c.element ? nullptr : WholeWordField(c.info);
  if (whole) {
    const int32_t v = FindValueName(*whole, c.text);
    if (v >= 0) return Checked(c, whole->values[v].value, false, out);
  }
  int64_t percent = 0;
  char axis = 0;
  if (RelativeForm(c.text, percent, axis)) {
    out.relative = 1;
    if (!c.bitmap) return NeedsBitmap(c);
    const RECT r = ExtentInOrientationOne(c.bitmap).process;
    const int64_t w = int64_t{r.right} - r.left, h = int64_t{r.bottom} - r.top;
    const int64_t length = axis == 'w' ? w : axis == 'h' ? h : std::min(w, h);
    return Checked(c, Measure(percent, length), true, out);
  }
  int64_t value = 0;
  bool pattern = false;
  if (ParseInteger(c.text, value, pattern)) {
    if (pattern)
      value = c.info.kind == FX_KIND_INT32 ? int64_t{static_cast<int32_t>(value)} : value;
    return Checked(c, value, false, out);
  }
  uint32_t colour = 0;
  if (c.element && !c.text.empty() && (c.text[0] == '#' || SameName(c.text.substr(0, 4), "rgb(")) &&
      ParseColourForm(c.text, colour))
    return Checked(c, static_cast<int32_t>(colour), false, out);
  std::string expected = "an integer (decimal or 0x hex, or N%w, N%h, N%s of the picture)";
  if (!whole) return Bad(c, expected);
  const std::vector<std::string> names = ValueNames(*whole);
  return Bad(c, JoinOr(names) + " or " + expected, Suggestion(c.text, names));
}

Result ParseColour(const ParseContext& c, FxParsed& out) {
  int64_t value = 0;
  bool pattern = false;
  if (ParseInteger(c.text, value, pattern)) return Checked(c, value, false, out);
  uint32_t colour = 0;
  if (ParseColourForm(c.text, colour)) return Checked(c, colour, false, out);
  const bool named = !c.text.empty() && c.text[0] != '#' && !SameName(c.text.substr(0, 4), "rgb(");
  return Bad(c, "a colour (0x00BBGGRR, #RRGGBB, #RGB, rgb(R,G,B) 0..255 or a CSS name)",
             named ? Suggestion(c.text, CssNames()) : "");
}

Result ParsePoint(const ParseContext& c, FxParsed& out) {
  const size_t comma = c.text.find(',');
  const char* expected = "a point X,Y (each a number, or P% of the picture's width or height)";
  if (comma == std::string_view::npos || c.text.find(',', comma + 1) != std::string_view::npos)
    return Bad(c, expected);
  int64_t xy[2];
  bool relative = false, needsBitmap = false;
  RECT r{};
  for (int k = 0; k < 2; ++k) {
    const std::string_view part = k == 0 ? c.text.substr(0, comma) : c.text.substr(comma + 1);
    int64_t percent = 0, value = 0;
    bool pattern = false;
    if (!part.empty() && part.back() == '%' &&
        ParsePercent(part.substr(0, part.size() - 1), percent)) {
      relative = true;
      if (!c.bitmap) {
        needsBitmap = true;
        continue;
      }
      r = ExtentInOrientationOne(c.bitmap).process;
      xy[k] = k == 0 ? r.left + Measure(percent, int64_t{r.right} - r.left)
                     : r.top + Measure(percent, int64_t{r.bottom} - r.top);
    } else if (ParseInteger(part, value, pattern)) {
      xy[k] = value;
    } else {
      return Bad(c, expected);
    }
  }
  out.relative = relative;
  if (needsBitmap) return NeedsBitmap(c);
  const int64_t lo = std::max<int64_t>(c.info.min, INT32_MIN),
                hi = std::min<int64_t>(c.info.max, INT32_MAX);
  for (int k = 0; k < 2; ++k)
    if (xy[k] < lo || xy[k] > hi) {
      const std::string range = Decimal(lo) + ".." + Decimal(hi);
      if (relative)
        return Result{FX_REGISTRY_OUT_OF_RANGE, c.Prefix() + " is " + Decimal(xy[0]) + "," +
                                                    Decimal(xy[1]) + " on this picture, outside " +
                                                    range};
      return Result{FX_REGISTRY_OUT_OF_RANGE, c.Prefix() + " is outside " + range};
    }
  out.value = static_cast<int64_t>(uint64_t{static_cast<uint32_t>(xy[0])} |
                                   uint64_t{static_cast<uint32_t>(xy[1])} << 32);
  return Ok();
}

Result ParseFlagField(const ParseContext& c, const FxFlagField& field, FxParsed& out) {
  const int32_t v = FindValueName(field, c.text);
  if (v < 0) {
    const std::vector<std::string> names = ValueNames(field);
    return Bad(c, JoinOr(names), Suggestion(c.text, names));
  }
  out.value = field.values[v].value & field.mask;
  out.mask = field.mask;
  return Ok();
}

}  // namespace

bool ParseInteger(std::string_view text, int64_t& value, bool& pattern) {
  bool negative = false, sign = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    sign = true;
    text.remove_prefix(1);
  }
  uint32_t base = 10;
  if (text.size() > 2 && text[0] == '0' && Lower(text[1]) == 'x') {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  uint64_t magnitude = 0;
  for (char c : text) {
    const int d = base == 16 ? HexDigit(c) : (c >= '0' && c <= '9' ? c - '0' : -1);
    if (d < 0) return false;
    if (magnitude > (uint64_t{1} << 63) / base) return false;
    magnitude = magnitude * base + uint64_t(d);
    if (magnitude > (uint64_t{1} << 63)) return false;
  }
  if (!negative && magnitude > uint64_t{INT64_MAX}) return false;
  value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  pattern = base == 16 && !sign && text.size() <= 8;
  return true;
}

// ---- Shared pieces ---------------------------------------------------------------------------

Extent ExtentInOrientationOne(BitmapRecord* bitmap) {
  if (!bitmap || bitmap->StructSize < BITMAP_STRUCT_SIZE_OLD) return Extent{};
  const uint8_t saved = bitmap->Orientation;
  const bool switchView = saved >= 2 && saved <= 8;
  if (switchView) HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, 1, 0);
  Extent e{RECT{0, 0, bitmap->Width, bitmap->Height}, ProcessRect(bitmap)};
  if (switchView) HostSetOrientation(nullptr, bitmap, BITMAP_STRUCT_SIZE, saved, 0);
  return e;
}

bool FitsKind(FxKind kind, int64_t value, int64_t& word) {
  switch (kind) {
    case FX_KIND_INT32:
      if (value < INT32_MIN || value > INT32_MAX) return false;
      word = value;
      return true;
    case FX_KIND_UINT32:
      if (value < 0 || value > int64_t{UINT32_MAX}) return false;
      word = value;
      return true;
    default:
      if (value < INT32_MIN || value > int64_t{UINT32_MAX}) return false;
      word = static_cast<uint32_t>(value);
      return true;
  }
}

bool InKindAndRange(FxKind kind, int64_t value, int64_t min, int64_t max) {
  int64_t word = 0;
  return FitsKind(kind, value, word) && word >= min && word <= max;
}

std::string RangeText(FxKind kind, int64_t min, int64_t max) {
  char text[64];
  if ((kind == FX_KIND_FLAGS || kind == FX_KIND_COLOR) && min >= 0)
    std::snprintf(text, sizeof(text), "0x%llX..0x%llX", static_cast<unsigned long long>(min),
                  static_cast<unsigned long long>(max));
  else
    std::snprintf(text, sizeof(text), "%lld..%lld", static_cast<long long>(min),
                  static_cast<long long>(max));
  return text;
}

std::string ValueText(FxKind kind, int64_t value) {
  char text[64];
  if (kind == FX_KIND_POINT) {
    const uint64_t u = static_cast<uint64_t>(value);
    std::snprintf(text, sizeof(text), "%d,%d", static_cast<int32_t>(static_cast<uint32_t>(u)),
                  static_cast<int32_t>(static_cast<uint32_t>(u >> 32)));
  } else if ((kind == FX_KIND_FLAGS || kind == FX_KIND_COLOR) && value >= INT32_MIN &&
             value <= int64_t{UINT32_MAX}) {
    std::snprintf(text, sizeof(text), "0x%X", static_cast<uint32_t>(value));
  } else {
    std::snprintf(text, sizeof(text), "%lld", static_cast<long long>(value));
  }
  return text;
}

std::string Decimal(int64_t value) {
  char text[24];
  std::snprintf(text, sizeof(text), "%lld", static_cast<long long>(value));
  return text;
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

std::string Suggestion(std::string_view typed, const std::vector<std::string>& candidates) {
  const std::string t = Lowered(typed);
  if (t.empty()) return "";
  // Close in spelling (one edit up to 3 letters, two up to 8, three beyond), or containing
  // what was typed.
  const size_t limit = t.size() <= 3 ? 1 : t.size() <= 8 ? 2 : 3;
  std::vector<std::pair<size_t, size_t>> close;  // distance, candidate
  for (size_t i = 0; i < candidates.size(); ++i) {
    const std::string c = Lowered(candidates[i]);
    if (c == t) continue;
    const size_t d = EditDistance(t, c);
    const bool contains = t.size() >= 3 && c.find(t) != std::string::npos;
    if (d <= limit || contains) close.emplace_back(d, i);
  }
  // Nearest first, in the candidates' order among equals.
  std::vector<std::string> picked;
  size_t farthest = 0;
  for (const auto& [distance, i] : close) farthest = std::max(farthest, distance);
  for (size_t d = 0; d <= farthest && picked.size() < 3; ++d)
    for (const auto& [distance, i] : close)
      if (distance == d && picked.size() < 3 &&
          std::find(picked.begin(), picked.end(), candidates[i]) == picked.end())
        picked.push_back(candidates[i]);
  return picked.empty() ? "" : " (did you mean " + JoinOr(picked) + "?)";
}

void WriteMessage(char* message, size_t size, const std::string& text) {
  if (!message || size == 0) return;
  const size_t n = std::min(size - 1, text.size());
  std::memcpy(message, text.data(), n);
  message[n] = '\0';
}

}  // namespace fx

using fx::Refuse;

const FxEffectDesc* FxLookupEffect(const char* name, char* message, size_t messageSize) {
  if (const FxEffectDesc* e = FxFindEffect(name)) {
    fx::WriteMessage(message, messageSize, "");
    return e;
  }
  std::vector<std::string> names;
  for (uint32_t i = 0; i < FxEffectCount(); ++i) names.push_back(FxEffectAt(i)->shortName);
  const std::string typed = name ? name : "";
  fx::WriteMessage(message, messageSize,
                   "unknown effect '" + typed + "'" + fx::Suggestion(typed, names));
  return nullptr;
}

int32_t FxResolveName(const FxEffectDesc* effect, const char* name, FxTarget* target, char* message,
                      size_t messageSize) {
  if (!effect) return Refuse(FX_REGISTRY_UNKNOWN_EFFECT, message, messageSize, "no effect");
  const std::string prefix = std::string(effect->shortName) + ": ";
  const std::string_view n = name ? name : "";
  FxTarget t{-1, -1, -1, -1};
  auto unknown = [&](const std::string& what, const std::vector<std::string>& candidates,
                     std::string_view typed) {
    return Refuse(FX_REGISTRY_UNKNOWN_PARAMETER, message, messageSize,
                  prefix + what + fx::Suggestion(typed, candidates));
  };

  // lights[2].x: a field of one record of an array of records.
  if (const size_t open = n.find('['); open != std::string_view::npos) {
    const int32_t p = FxFindParam(effect, std::string(n.substr(0, open)).c_str());
    const size_t close = n.find("].", open);
    if (p < 0 || effect->params[p].kind != FX_KIND_RECORD_ARRAY || !effect->params[p].record ||
        close == std::string_view::npos)
      return unknown("unknown parameter '" + std::string(n) + "'", fx::EffectNames(*effect),
                     n.substr(0, open));
    int64_t index = -1;
    bool pattern = false;
    const std::string_view indexText = n.substr(open + 1, close - open - 1);
    if (indexText.empty() || indexText[0] < '0' || indexText[0] > '9' ||
        !fx::ParseInteger(indexText, index, pattern) || index > fx::kMaxRecordIndex)
      return Refuse(FX_REGISTRY_UNKNOWN_PARAMETER, message, messageSize,
                    prefix + std::string(n) + ": record index must be 0 .. " +
                        fx::Decimal(fx::kMaxRecordIndex));
    const FxRecordDesc& record = *effect->params[p].record;
    t.param = p;
    t.index = static_cast<int32_t>(index);
    if (!fx::FindInRecord(record, n.substr(close + 2), t))
      return unknown(
          std::string(record.name) + " has no field '" + std::string(n.substr(close + 2)) + "'",
          fx::RecordNames(record), n.substr(close + 2));
    if (target) *target = t;
    fx::WriteMessage(message, messageSize, "");
    return SUCCESS;
  }

  // info.TileWidth, flags.mode: a record field or bit field named with its parameter.
  if (const size_t dot = n.find('.'); dot != std::string_view::npos) {
    const int32_t p = FxFindParam(effect, std::string(n.substr(0, dot)).c_str());
    if (p >= 0) {
      const FxParamDesc& param = effect->params[p];
      const std::string_view rest = n.substr(dot + 1);
      t.param = p;
      bool found = false;
      if (param.kind == FX_KIND_RECORD && param.record) {
        found = fx::FindInRecord(*param.record, rest, t);
        if (!found)
          return unknown(
              std::string(param.record->name) + " has no field '" + std::string(rest) + "'",
              fx::RecordNames(*param.record), rest);
      } else {
        t.flagField = fx::FindFlagField(param.flagFields, param.flagFieldCount, rest);
        found = t.flagField >= 0;
      }
      if (found) {
        if (target) *target = t;
        fx::WriteMessage(message, messageSize, "");
        return SUCCESS;
      }
    }
  }

  std::string ambiguous;
  const int32_t rc = fx::ResolveBare(*effect, n, t, ambiguous);
  if (rc == FX_REGISTRY_AMBIGUOUS_NAME)
    return Refuse(rc, message, messageSize,
                  prefix + "'" + ambiguous +
                      "' is a field of more than one record; write PARAMETER." + ambiguous);
  if (rc != SUCCESS)
    return unknown("unknown parameter '" + std::string(n) + "'", fx::EffectNames(*effect), n);
  if (target) *target = t;
  fx::WriteMessage(message, messageSize, "");
  return SUCCESS;
}

int32_t FxParseValue(const FxEffectDesc* effect, const FxTarget* target, const char* text,
                     BitmapRecord* bitmap, FxParsed* out, char* message, size_t messageSize) {
  if (!effect) return Refuse(FX_REGISTRY_UNKNOWN_EFFECT, message, messageSize, "no effect");
  fx::TargetInfo info{};
  if (!target || !fx::Describe(*effect, *target, info))
    return Refuse(FX_REGISTRY_UNKNOWN_PARAMETER, message, messageSize,
                  std::string(effect->shortName) + ": no such parameter");
  const FxParamDesc& param = effect->params[target->param];
  const fx::ParseContext c{*effect, info, text ? text : "", bitmap,
                           target->field < 0 && param.kind == FX_KIND_INT_ARRAY};
  FxParsed parsed{0, 0xFFFFFFFFu, 0};
  fx::Result r;
  if (target->flagField >= 0) {
    r = fx::ParseFlagField(c, info.fields[target->flagField], parsed);
  } else if (target->field < 0 &&
             (param.kind == FX_KIND_RECORD || param.kind == FX_KIND_RECORD_ARRAY ||
              param.kind == FX_KIND_BITMAP)) {
    r = fx::Result{FX_REGISTRY_BAD_VALUE, std::string(effect->shortName) + ": " + param.name +
                                              " takes no single value (" + FxKindName(param.kind) +
                                              ")"};
  } else if (info.kind == FX_KIND_POINT) {
    r = fx::ParsePoint(c, parsed);
  } else if (info.kind == FX_KIND_COLOR) {
    r = fx::ParseColour(c, parsed);
  } else {
    r = fx::ParseWhole(c, parsed);
  }
  fx::WriteMessage(message, messageSize, r.message);
  if (out && (r.code == SUCCESS || r.code == FX_REGISTRY_NEEDS_BITMAP || r.filled)) *out = parsed;
  return r.code;
}

int32_t FxFormatNamed(const FxFlagField* fields, uint32_t fieldCount, uint32_t value,
                      const uint32_t* skipEqualTo, char* out, size_t outSize) {
  std::string text;
  uint32_t covered = 0;
  for (uint32_t k = 0; fields && k < fieldCount; ++k) {
    const FxFlagField& f = fields[k];
    const uint32_t bits = value & f.mask;
    int32_t named = -1;
    for (uint32_t v = 0; v < f.valueCount && named < 0; ++v)
      if ((f.values[v].value & f.mask) == bits) named = int32_t(v);
    if (named < 0) {
      fx::WriteMessage(out, outSize, "");
      return 0;
    }
    covered |= f.mask;
    if (skipEqualTo && (*skipEqualTo & f.mask) == bits) continue;
    text += (text.empty() ? "" : " ") + std::string(f.name) + "=" + f.values[named].name;
  }
  if ((value & ~covered) != 0 || !fields || fieldCount == 0) {
    fx::WriteMessage(out, outSize, "");
    return 0;
  }
  fx::WriteMessage(out, outSize, text);
  return 1;
}

const FxPreset* FxFindPreset(const FxEffectDesc* effect, const char* name, char* message,
                             size_t messageSize) {
  if (!effect) {
    fx::WriteMessage(message, messageSize, "no effect");
    return nullptr;
  }
  const std::string_view n = name ? name : "";
  const int32_t k = fx::FindName(
      effect->presetCount, [&](uint32_t i) { return effect->presets[i].name; }, n);
  if (k >= 0) {
    fx::WriteMessage(message, messageSize, "");
    return &effect->presets[k];
  }
  std::vector<std::string> names;
  for (uint32_t i = 0; i < effect->presetCount; ++i) names.push_back(effect->presets[i].name);
  std::string hint = fx::Suggestion(n, names);
  if (hint.empty()) {
    hint = " (presets:";
    for (size_t i = 0; i < names.size(); ++i) hint += (i ? ", " : " ") + names[i];
    hint += names.empty() ? " none)" : ")";
  }
  fx::WriteMessage(
      message, messageSize,
      std::string(effect->shortName) + ": unknown preset '" + std::string(n) + "'" + hint);
  return nullptr;
}

int32_t FxParseColor(const char* text, COLORREF* colour, char* message, size_t messageSize) {
  const std::string_view t = text ? std::string_view(text) : std::string_view();
  int64_t value = 0, word = 0;
  bool pattern = false;
  uint32_t parsed = 0;
  if (fx::ParseInteger(t, value, pattern) && fx::FitsKind(FX_KIND_COLOR, value, word)) {
    parsed = static_cast<uint32_t>(word);
  } else if (!fx::ParseColourForm(t, parsed)) {
    return fx::Refuse(FX_REGISTRY_BAD_VALUE, message, messageSize,
                      std::string(t) +
                          ": expected a colour (0x00BBGGRR, #RRGGBB, #RGB, rgb(R,G,B) 0..255 or a "
                          "CSS name)" +
                          fx::Suggestion(t, fx::CssNames()));
  }
  if (colour) *colour = parsed;
  fx::WriteMessage(message, messageSize, "");
  return SUCCESS;
}
