// Parsing of effect parameters from "name=value" words.
#include "tools/fxkit/Values.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tools/fxkit/ImageIO.h"

namespace fxcli {

namespace {

// Record arrays hold at most this many records on the command line.
constexpr int64_t kMaxRecordIndex = 1023;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsPointerKind(FxKind kind) {
  return kind == FX_KIND_RECORD || kind == FX_KIND_INT_ARRAY || kind == FX_KIND_RECORD_ARRAY ||
         kind == FX_KIND_BITMAP;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(separator, start);
    parts.push_back(text.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) return parts;
    start = end + 1;
  }
}

// A 32-bit word from -2^31 .. 2^32 - 1; with `hash`, #RRGGBB is taken as a colour too.
uint32_t ParseWord(std::string_view text, bool hash, const std::string& context,
                   const char* expected) {
  if (hash && !text.empty() && text[0] == '#') {
    uint32_t rgb = 0;
    for (size_t i = 1; i < text.size(); ++i) {
      const int d = HexDigit(text[i]);
      if (d < 0) break;
      rgb = rgb << 4 | uint32_t(d);
      if (i == 6 && text.size() == 7) return (rgb >> 16) | (rgb & 0xFF00) | (rgb & 0xFF) << 16;
    }
    throw UsageError(context + ": expected #RRGGBB");
  }
  int64_t v = 0;
  if (!ParseInt64(text, v)) throw UsageError(context + ": expected " + expected);
  if (v < INT32_MIN || v > int64_t{UINT32_MAX})
    throw UsageError(context + ": does not fit in 32 bits");
  return static_cast<uint32_t>(v);
}

constexpr const char* kInteger = "an integer (decimal or 0x hex)";
constexpr const char* kColour = "a colour (0x00BBGGRR or #RRGGBB)";

int32_t ParseCoordinate(std::string_view text, const std::string& context) {
  int64_t v = 0;
  if (!ParseInt64(text, v)) throw UsageError(context + ": expected a point x,y");
  if (v < INT32_MIN || v > INT32_MAX) throw UsageError(context + ": coordinate out of range");
  return static_cast<int32_t>(v);
}

const char* DefaultBitmapText(FxDefaultRule rule) {
  switch (rule) {
    case FX_DEFAULT_IMAGE_COPY:
      return "(copy of the image)";
    case FX_DEFAULT_TEXTURE:
      return "(built-in texture)";
    case FX_DEFAULT_IMAGE_ITSELF:
      return "(the image itself)";
    default:
      return "null";
  }
}

std::string JoinList(const int32_t* values, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(values[i]);
  return text.empty() ? "null" : text;
}

// "{a=1 b=2}" of a record's fields after its size field; array fields show their values
// (arrays: (record index, field) -> values) or null.
std::string RecordText(const FxRecordDesc& record, const std::map<uint32_t, int64_t>& given,
                       const std::map<std::pair<uint32_t, uint32_t>, std::vector<int32_t>>& arrays,
                       uint32_t index) {
  std::string text = "{";
  for (uint32_t f = 1; f < record.fieldCount; ++f) {
    const FxFieldDesc& field = record.fields[f];
    const auto it = given.find(f);
    std::string value;
    if (field.kind == FX_KIND_INT_ARRAY) {
      const auto list = arrays.find({index, f});
      value = list == arrays.end() ? "null" : JoinList(list->second.data(), list->second.size());
    } else {
      value = FormatScalar(field.kind, it != given.end() ? it->second : field.defaultValue);
    }
    text += (f > 1 ? " " : "") + std::string(field.name) + "=" + value;
  }
  if (const auto it = given.find(0); it != given.end())  // a size named on purpose
    text += std::string(text.size() > 1 ? " " : "") + record.fields[0].name + "=" +
            FormatScalar(record.fields[0].kind, it->second);
  return text + "}";
}

}  // namespace

bool ParseInt64(std::string_view text, int64_t& value) {
  bool negative = false;
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
    negative = text[0] == '-';
    text.remove_prefix(1);
  }
  uint32_t base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
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
  return true;
}

int64_t ParseScalar(FxKind kind, std::string_view text, const std::string& context) {
  switch (kind) {
    case FX_KIND_POINT: {
      const auto parts = Split(text, ',');
      if (parts.size() != 2) throw UsageError(context + ": expected a point x,y");
      const uint32_t x = uint32_t(ParseCoordinate(parts[0], context));
      const uint32_t y = uint32_t(ParseCoordinate(parts[1], context));
      return static_cast<int64_t>(uint64_t{x} | uint64_t{y} << 32);
    }
    case FX_KIND_INT32:
      return static_cast<int32_t>(ParseWord(text, false, context, kInteger));
    case FX_KIND_COLOR:
      return ParseWord(text, true, context, kColour);
    default:
      return ParseWord(text, false, context, kInteger);
  }
}

FxValue ScalarValue(FxKind kind, int64_t packed) {
  FxValue v{};
  if (kind == FX_KIND_POINT) {
    const uint64_t u = static_cast<uint64_t>(packed);
    v.pt = POINT{static_cast<int32_t>(uint32_t(u)), static_cast<int32_t>(uint32_t(u >> 32))};
  } else {
    v.i = packed;
  }
  return v;
}

std::string FormatScalar(FxKind kind, int64_t packed) {
  char text[40];
  switch (kind) {
    case FX_KIND_POINT: {
      const POINT p = ScalarValue(kind, packed).pt;
      std::snprintf(text, sizeof(text), "%d,%d", p.x, p.y);
      break;
    }
    case FX_KIND_FLAGS:
    case FX_KIND_COLOR:
      std::snprintf(text, sizeof(text), "0x%X", uint32_t(packed));
      break;
    case FX_KIND_UINT32:
      std::snprintf(text, sizeof(text), "%u", uint32_t(packed));
      break;
    default:
      std::snprintf(text, sizeof(text), "%d", int32_t(packed));
      break;
  }
  return text;
}

std::vector<std::string> SplitWords(const char* text) {
  std::vector<std::string> words;
  std::string word;
  for (const char* p = text ? text : ""; *p; ++p) {
    if (*p == ' ' || *p == '\t' || *p == '\n') {
      if (!word.empty()) words.push_back(std::move(word));
      word.clear();
    } else {
      word += *p;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return words;
}

EffectArgs::EffectArgs(const FxEffectDesc& effect) : effect_(effect), slots_(effect.paramCount) {}

std::string EffectArgs::Where(const std::string& word) const {
  return std::string(effect_.shortName) + ": " + word;
}

void EffectArgs::Add(const std::vector<std::string>& words) {
  for (const std::string& w : words) Add(w);
}

void EffectArgs::Add(const std::string& word) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0) throw UsageError(Where(word) + ": expected name=value");
  const std::string name = word.substr(0, eq);
  const std::string_view value = std::string_view(word).substr(eq + 1);
  if (value.empty()) throw UsageError(Where(word) + ": missing value");

  // lights[2].x=...: a field of one record of a record array.
  if (const size_t open = name.find('['); open != std::string::npos) {
    const int32_t p = FxFindParam(&effect_, name.substr(0, open).c_str());
    const size_t close = name.find("].", open);
    if (p < 0 || effect_.params[p].kind != FX_KIND_RECORD_ARRAY || close == std::string::npos)
      throw UsageError(std::string(effect_.shortName) + ": unknown parameter '" + name +
                       "' (see fxkit help " + effect_.shortName + ")");
    int64_t index = -1;
    const std::string indexText = name.substr(open + 1, close - open - 1);
    if (!ParseInt64(indexText, index) || index < 0 || index > kMaxRecordIndex)
      throw UsageError(Where(word) + ": record index must be 0 .. " +
                       std::to_string(kMaxRecordIndex));
    const FxRecordDesc* record = effect_.params[p].record;
    const int32_t f = FxFindField(record, name.substr(close + 2).c_str());
    if (f < 0)
      throw UsageError(Where(word) + ": " + record->name + " has no field '" +
                       name.substr(close + 2) + "'");
    AddField(uint32_t(p), uint32_t(f), index, value, word);
    return;
  }

  // info.TileWidth=...: a field of a record named with its parameter.
  if (const size_t dot = name.find('.'); dot != std::string::npos) {
    const int32_t p = FxFindParam(&effect_, name.substr(0, dot).c_str());
    if (p >= 0 && effect_.params[p].kind == FX_KIND_RECORD) {
      const FxRecordDesc* record = effect_.params[p].record;
      const int32_t f = FxFindField(record, name.substr(dot + 1).c_str());
      if (f < 0)
        throw UsageError(Where(word) + ": " + record->name + " has no field '" +
                         name.substr(dot + 1) + "'");
      AddField(uint32_t(p), uint32_t(f), -1, value, word);
      return;
    }
  }

  const int32_t p = FxFindParam(&effect_, name.c_str());
  if (p < 0) {
    // A bare field name of one of the effect's records.
    int32_t owner = -1, field = -1;
    for (uint32_t i = 0; i < effect_.paramCount; ++i) {
      if (effect_.params[i].kind != FX_KIND_RECORD) continue;
      const int32_t f = FxFindField(effect_.params[i].record, name.c_str());
      if (f < 0) continue;
      if (owner >= 0)
        throw UsageError(Where(word) + ": '" + name + "' is a field of more than one record; " +
                         "write PARAMETER." + name);
      owner = int32_t(i);
      field = f;
    }
    if (owner < 0)
      throw UsageError(std::string(effect_.shortName) + ": unknown parameter '" + name +
                       "' (see fxkit help " + effect_.shortName + ")");
    AddField(uint32_t(owner), uint32_t(field), -1, value, word);
    return;
  }

  const FxParamDesc& param = effect_.params[p];
  Slot& slot = slots_[p];
  if (slot.given) throw UsageError(Where(word) + ": " + name + " given twice");
  if (IsPointerKind(param.kind) && value == "null") {
    slot.given = slot.isNull = true;
    return;
  }
  switch (param.kind) {
    case FX_KIND_RECORD:
      throw UsageError(Where(word) + ": " + name + " is a record; give its fields (" + name +
                       ".FIELD=value or FIELD=value) or null");
    case FX_KIND_RECORD_ARRAY:
      throw UsageError(Where(word) + ": " + name + " is an array of records; give " + name +
                       "[0].FIELD=value ... or null");
    case FX_KIND_INT_ARRAY:
      for (std::string_view element : Split(value, ','))
        slot.list.push_back(static_cast<int32_t>(ParseWord(element, true, Where(word), kInteger)));
      break;
    case FX_KIND_BITMAP:
      try {
        slot.bitmap = LoadImage(std::string(value));
      } catch (const UsageError& e) {
        throw UsageError(std::string(effect_.shortName) + ": " + name + ": " + e.what());
      }
      slot.bitmapSource = std::string(value);
      break;
    default:
      slot.scalar = ParseScalar(param.kind, value, Where(word));
      break;
  }
  slot.given = true;
}

void EffectArgs::AddField(uint32_t param, uint32_t field, int64_t index, std::string_view value,
                          const std::string& word) {
  Slot& slot = slots_[param];
  const FxFieldDesc& f = effect_.params[param].record->fields[field];
  if (slot.isNull)
    throw UsageError(Where(word) + ": " + effect_.params[param].name + " was given as null");
  auto& fields = index < 0 ? slot.fields : slot.records[uint32_t(index)];
  if (fields.count(field)) throw UsageError(Where(word) + ": " + f.name + " given twice");
  slot.given = true;
  if (f.kind == FX_KIND_INT_ARRAY) {  // a list of values, or null; the pointer is set by Build
    fields[field] = 0;
    if (value == "null") return;
    auto& list = slot.arrays[{index < 0 ? 0u : uint32_t(index), field}];
    for (std::string_view element : Split(value, ','))
      list.push_back(static_cast<int32_t>(ParseWord(element, true, Where(word), kInteger)));
    return;
  }
  fields[field] = ParseScalar(f.kind, value, Where(word));
}

int64_t EffectArgs::AvailableFor(const FxParamDesc& countParam) const {
  const int32_t a = countParam.arrayParam;
  if (a < 0 || uint32_t(a) >= effect_.paramCount) return -1;
  const FxParamDesc& array = effect_.params[a];
  const Slot& slot = slots_[a];
  if (slot.given) {
    if (slot.isNull) return 0;
    if (array.kind == FX_KIND_INT_ARRAY) return int64_t(slot.list.size());
    if (array.kind == FX_KIND_RECORD_ARRAY)
      return slot.records.empty() ? 0 : int64_t(slot.records.rbegin()->first) + 1;
    return 1;
  }
  if (array.defaultRule != FX_DEFAULT_ARRAY) return 0;
  if (array.kind == FX_KIND_RECORD) return 1;
  return array.defaultArrayCount;
}

void EffectArgs::Build(uint32_t p) {
  const FxParamDesc& param = effect_.params[p];
  Slot& slot = slots_[p];
  FxNamedValue v{param.name, FxValue{}, 0};
  if (slot.isNull) {
    v.value.ptr = nullptr;
  } else if (param.kind == FX_KIND_RECORD || param.kind == FX_KIND_RECORD_ARRAY) {
    // Every record starts from the field defaults and its size; the given fields go on top.
    const FxRecordDesc& record = *param.record;
    const bool single = param.kind == FX_KIND_RECORD;
    const uint32_t count = single ? 1 : slot.records.rbegin()->first + 1;
    slot.block.assign(size_t(count) * record.size, 0);
    for (uint32_t r = 0; r < count; ++r) {
      uint8_t* base = slot.block.data() + size_t(r) * record.size;
      FxFillRecordDefaults(&record, base);
      const auto it = slot.records.find(r);
      const std::map<uint32_t, int64_t>* fields = single                     ? &slot.fields
                                                  : it != slot.records.end() ? &it->second
                                                                             : nullptr;
      if (fields)
        for (const auto& [field, value] : *fields) FxStoreField(&record.fields[field], base, value);
    }
    // Array fields point at the values given for them.
    for (auto& [key, list] : slot.arrays) {
      const FxFieldDesc& field = record.fields[key.second];
      if (list.size() != field.arrayCount)
        throw UsageError(std::string(effect_.shortName) + ": " + field.name + " needs exactly " +
                         std::to_string(field.arrayCount) + " values, got " +
                         std::to_string(list.size()));
      FxStoreField(&field, slot.block.data() + size_t(key.first) * record.size,
                   static_cast<int64_t>(reinterpret_cast<intptr_t>(list.data())));
    }
    v.value.ptr = slot.block.data();
    v.count = count;
  } else if (param.kind == FX_KIND_INT_ARRAY) {
    if (param.fixedCount && slot.list.size() != param.fixedCount)
      throw UsageError(std::string(effect_.shortName) + ": " + param.name + " needs exactly " +
                       std::to_string(param.fixedCount) + " values, got " +
                       std::to_string(slot.list.size()));
    v.value.ptr = slot.list.data();
    v.count = uint32_t(slot.list.size());
  } else if (param.kind == FX_KIND_BITMAP) {
    v.value.ptr = slot.bitmap->get();
  } else {
    v.value = ScalarValue(param.kind, slot.scalar);
    if (param.defaultRule == FX_DEFAULT_COUNT) {
      const int64_t available = AvailableFor(param);
      const int64_t count = param.kind == FX_KIND_INT32 ? int64_t{int32_t(slot.scalar)}
                                                        : int64_t{uint32_t(slot.scalar)};
      if (available >= 0 && count > available)
        throw UsageError(std::string(effect_.shortName) + ": " + param.name + "=" +
                         std::to_string(count) + " is more than the " + std::to_string(available) +
                         " value(s) of " + effect_.params[param.arrayParam].name);
    }
  }
  values_.push_back(v);
}

const std::vector<FxNamedValue>& EffectArgs::Values() {
  values_.clear();
  for (uint32_t p = 0; p < effect_.paramCount; ++p)
    if (slots_[p].given) Build(p);
  return values_;
}

std::string EffectArgs::Describe(BitmapRecord* bitmap) {
  std::string text;
  for (uint32_t p = 0; p < effect_.paramCount; ++p) {
    const FxParamDesc& param = effect_.params[p];
    const Slot& slot = slots_[p];
    std::string value;
    FxValue scalar{};
    if (slot.isNull) {
      value = "null";
    } else if (param.kind == FX_KIND_RECORD) {
      value = RecordText(*param.record, slot.fields, slot.arrays, 0);
    } else if (param.kind == FX_KIND_RECORD_ARRAY) {
      const int64_t count = slot.given ? int64_t(slot.records.rbegin()->first) + 1
                            : param.defaultRule == FX_DEFAULT_ARRAY ? param.defaultArrayCount
                                                                    : 0;
      if (count == 0) value = "null";
      const std::map<uint32_t, int64_t> none;
      for (int64_t r = 0; r < count; ++r) {
        const auto it = slot.records.find(uint32_t(r));
        value += std::string(r ? " " : "") + param.name + "[" + std::to_string(r) + "]=" +
                 RecordText(*param.record, it != slot.records.end() ? it->second : none,
                            slot.arrays, uint32_t(r));
      }
      if (count > 0) {
        text += (text.empty() ? "" : " ") + value;
        continue;
      }
    } else if (param.kind == FX_KIND_INT_ARRAY) {
      value = slot.given ? JoinList(slot.list.data(), slot.list.size())
              : param.defaultRule == FX_DEFAULT_ARRAY
                  ? JoinList(param.defaultArray, param.defaultArrayCount)
                  : "null";
    } else if (param.kind == FX_KIND_BITMAP) {
      value = slot.given ? slot.bitmapSource : DefaultBitmapText(param.defaultRule);
    } else if (slot.given) {
      value = FormatScalar(param.kind, slot.scalar);
    } else if (param.defaultRule == FX_DEFAULT_COUNT) {
      value = std::to_string(std::max<int64_t>(0, AvailableFor(param)));
    } else if (FxScalarDefault(&param, bitmap, &scalar)) {
      const int64_t packed = param.kind == FX_KIND_POINT
                                 ? static_cast<int64_t>(uint64_t{uint32_t(scalar.pt.x)} |
                                                        uint64_t{uint32_t(scalar.pt.y)} << 32)
                                 : scalar.i;
      value = FormatScalar(param.kind, packed);
    }
    text += std::string(text.empty() ? "" : " ") + param.name + "=" + value;
  }
  return text;
}

}  // namespace fxcli
