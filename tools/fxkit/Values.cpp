// Parsing of effect parameters from "name=value" words.
#include "tools/fxkit/Values.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "frame/RegistryText.h"
#include "tools/fxkit/ImageIO.h"

namespace fxcli {

namespace {

constexpr size_t kMessageSize = 512;

bool IsPointerKind(FxKind kind) {
  return kind == FX_KIND_RECORD || kind == FX_KIND_INT_ARRAY || kind == FX_KIND_RECORD_ARRAY ||
         kind == FX_KIND_BITMAP;
}

// The elements of an array: split at commas outside parentheses, so rgb(r,g,b) stays whole.
std::vector<std::string> SplitElements(std::string_view text) {
  std::vector<std::string> parts(1);
  int depth = 0;
  for (char c : text) {
    if (c == '(') ++depth;
    if (c == ')') --depth;
    if (c == ',' && depth == 0)
      parts.emplace_back();
    else
      parts.back() += c;
  }
  return parts;
}

const char* DefaultBitmapText(FxDefaultRule rule) {
  switch (rule) {
    case FX_DEFAULT_IMAGE_COPY:
      return "(copy of the image)";
    case FX_DEFAULT_TEXTURE:
      return "(built-in texture)";
    default:
      return "null";
  }
}

std::string JoinList(const int32_t* values, size_t count) {
  std::string text;
  for (size_t i = 0; i < count; ++i) text += (i ? "," : "") + std::to_string(values[i]);
  return text.empty() ? "null" : text;
}

bool SameOwner(const FxTarget& a, const FxTarget& b) {
  return a.param == b.param && a.field == b.field && a.index == b.index;
}
bool SameTarget(const FxTarget& a, const FxTarget& b) {
  return SameOwner(a, b) && a.flagField == b.flagField;
}

// A 32-bit word extended as FxNamedValue carries it for the kind.
int64_t Extend(FxKind kind, uint32_t word) {
  return kind == FX_KIND_INT32 ? int64_t{static_cast<int32_t>(word)} : int64_t{word};
}

// A library message, with a pointer to the help when it suggests nothing.
std::string WithHelp(const char* message, const FxEffectDesc& effect) {
  std::string text = message;
  if (text.find("(did you mean") == std::string::npos)
    text += std::string(" (see fxkit help ") + effect.shortName + ")";
  return text;
}

}  // namespace

bool ParseInt64(std::string_view text, int64_t& value) {
  bool pattern = false;
  return fx::ParseInteger(text, value, pattern);
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
  AddWord(word, false);
}

void EffectArgs::AddPreset(const std::string& name) {
  char message[kMessageSize];
  const FxPreset* preset = FxFindPreset(&effect_, name.c_str(), message, sizeof(message));
  if (!preset) throw UsageError(message);
  if (!preset_.empty())
    throw UsageError(Where("preset=" + name) + ": preset " + preset_ + " already given");
  preset_ = preset->name;
  for (const std::string& w : SplitWords(preset->values)) AddWord(w, true);
}

void EffectArgs::AddWord(const std::string& word, bool preset) {
  const size_t eq = word.find('=');
  if (eq == std::string::npos || eq == 0) throw UsageError(Where(word) + ": expected name=value");
  const std::string name = word.substr(0, eq);
  const std::string value = word.substr(eq + 1);
  if (value.empty()) throw UsageError(Where(word) + ": missing value");
  std::string lower = name;
  for (char& c : lower) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (!preset && lower == "preset" && FxFindParam(&effect_, name.c_str()) < 0) {
    AddPreset(value);
    return;
  }

  char message[kMessageSize];
  FxTarget target;
  if (FxResolveName(&effect_, name.c_str(), &target, message, sizeof(message)) != SUCCESS)
    throw UsageError(WithHelp(message, effect_));
  const FxParamDesc& param = effect_.params[target.param];
  Slot& slot = slots_[target.param];

  if (target.field < 0 && target.flagField < 0 && IsPointerKind(param.kind)) {
    if (slot.given || Sets(target.param)) {
      if (preset) return;  // a word given on its own wins over the preset's
      if (!slot.preset) throw UsageError(Where(word) + ": " + name + " given twice");
      slot = Slot{};
      std::erase_if(words_, [&](const Word& w) { return w.target.param == target.param; });
    }
    if (value == "null") {
      slot.given = slot.isNull = true;
      slot.preset = preset;
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
        for (const std::string& element : SplitElements(value)) {
          FxParsed parsed;
          const int32_t rc = FxParseValue(&effect_, &target, element.c_str(), nullptr, &parsed,
                                          message, sizeof(message));
          if (rc != SUCCESS && rc != FX_REGISTRY_NEEDS_BITMAP) throw UsageError(message);
          slot.elements.push_back(element);
        }
        break;
      default:  // FX_KIND_BITMAP
        try {
          slot.bitmap = LoadImage(value);
        } catch (const UsageError& e) {
          throw UsageError(std::string(effect_.shortName) + ": " + name + ": " + e.what());
        }
        slot.bitmapSource = value;
        break;
    }
    slot.given = true;
    slot.preset = preset;
    return;
  }

  if (slot.isNull) {
    if (preset) return;
    if (!slot.preset) throw UsageError(Where(word) + ": " + param.name + " was given as null");
    slot = Slot{};
  }
  Word w{word, target, value, FxParsed{}, false, preset, false, {}, {}};
  w.parsed.mask = 0;
  if (target.field >= 0 && param.record->fields[target.field].kind == FX_KIND_INT_ARRAY) {
    w.array = true;
    if (value != "null")
      for (const std::string& element : SplitElements(value)) {
        FxParsed parsed;
        const int32_t rc = FxParseValue(&effect_, &target, element.c_str(), nullptr, &parsed,
                                        message, sizeof(message));
        if (rc == FX_REGISTRY_NEEDS_BITMAP)
          w.relative = true;
        else if (rc != SUCCESS)
          throw UsageError(message);
        w.elements.push_back(element);
      }
    AddScalar(std::move(w));
    return;
  }
  const int32_t rc =
      FxParseValue(&effect_, &target, value.c_str(), nullptr, &w.parsed, message, sizeof(message));
  // A whole word of something with named fields is judged once the fields are set on it.
  const bool composed = target.flagField < 0 && FieldsOf(target).second > 0 &&
                        rc == FX_REGISTRY_OUT_OF_RANGE && w.parsed.mask != 0;
  if (rc == FX_REGISTRY_NEEDS_BITMAP)
    w.relative = true;
  else if (rc != SUCCESS && !composed)
    throw UsageError(message);
  AddScalar(std::move(w));
}

void EffectArgs::AddScalar(Word w) {
  const std::string name = w.word.substr(0, w.word.find('='));
  for (auto it = words_.begin(); it != words_.end();) {
    const Word& e = *it;
    const bool same = SameTarget(e.target, w.target);
    // A whole value given on its own also overrides the preset's named fields of it.
    const bool wholeOverFields =
        SameOwner(e.target, w.target) && ((!w.preset && e.preset && w.target.flagField < 0) ||
                                          (w.preset && !e.preset && e.target.flagField < 0));
    if (same || wholeOverFields) {
      if (w.preset && !e.preset) return;
      if (e.preset && !w.preset) {
        it = words_.erase(it);
        continue;
      }
      if (same) throw UsageError(Where(w.word) + ": " + name + " given twice");
    }
    ++it;
  }
  words_.push_back(std::move(w));
}

bool EffectArgs::Relative() const {
  for (const Word& w : words_)
    if (w.relative) return true;
  char message[kMessageSize];
  for (uint32_t p = 0; p < effect_.paramCount; ++p) {
    const FxTarget target{int32_t(p), -1, -1, -1};
    for (const std::string& e : slots_[p].elements)
      if (FxParseValue(&effect_, &target, e.c_str(), nullptr, nullptr, message, sizeof(message)) ==
          FX_REGISTRY_NEEDS_BITMAP)
        return true;
  }
  return false;
}

bool EffectArgs::Sets(int32_t param) const {
  for (const Word& w : words_)
    if (w.target.param == param) return true;
  return slots_[param].given;
}

uint32_t EffectArgs::RecordsGiven(int32_t param) const {
  uint32_t count = 0;
  for (const Word& w : words_)
    if (w.target.param == param && w.target.index >= 0)
      count = std::max(count, uint32_t(w.target.index) + 1);
  return count;
}

int64_t EffectArgs::Measure(const Word& w, BitmapRecord* bitmap) const {
  if (!w.relative) return w.parsed.value;
  char message[kMessageSize];
  FxParsed parsed;
  if (FxParseValue(&effect_, &w.target, w.value.c_str(), bitmap, &parsed, message,
                   sizeof(message)) != SUCCESS)
    throw UsageError(message);
  return parsed.value;
}

EffectArgs::Word* EffectArgs::ArrayWord(const FxTarget& owner, BitmapRecord* bitmap) {
  for (Word& w : words_) {
    if (!w.array || !SameOwner(w.target, owner)) continue;
    const FxFieldDesc& field = effect_.params[owner.param].record->fields[owner.field];
    char message[kMessageSize];
    w.list.clear();
    for (const std::string& e : w.elements) {
      FxParsed parsed;
      if (FxParseValue(&effect_, &w.target, e.c_str(), bitmap, &parsed, message, sizeof(message)) !=
          SUCCESS)
        throw UsageError(message);
      w.list.push_back(static_cast<int32_t>(parsed.value));
    }
    if (!w.elements.empty() && w.list.size() != field.arrayCount)
      throw UsageError(std::string(effect_.shortName) + ": " + field.name + " needs exactly " +
                       std::to_string(field.arrayCount) + " values, got " +
                       std::to_string(w.list.size()));
    return &w;
  }
  return nullptr;
}

std::pair<const FxFlagField*, uint32_t> EffectArgs::FieldsOf(const FxTarget& owner) const {
  const FxParamDesc& param = effect_.params[owner.param];
  if (owner.field < 0) return {param.flagFields, param.flagFieldCount};
  const FxFieldDesc& field = param.record->fields[owner.field];
  return {field.flagFields, field.flagFieldCount};
}

int64_t EffectArgs::Compose(const FxTarget& owner, int64_t base, BitmapRecord* bitmap) const {
  const FxParamDesc& param = effect_.params[owner.param];
  const FxKind kind = owner.field >= 0 ? param.record->fields[owner.field].kind : param.kind;
  int64_t value = base;
  bool given = false;
  for (const Word& w : words_)
    if (SameOwner(w.target, owner) && w.target.flagField < 0) {
      value = Measure(w, bitmap);
      given = true;
    }
  bool named = false;
  uint32_t word = static_cast<uint32_t>(value);
  for (const Word& w : words_)
    if (SameOwner(w.target, owner) && w.target.flagField >= 0) {
      word = (word & ~w.parsed.mask) | static_cast<uint32_t>(w.parsed.value);
      named = true;
    }
  if (!named && !(given && FieldsOf(owner).second > 0)) return value;
  // Named fields may compose a word outside the range: checked as if given whole.
  char text[16], message[kMessageSize];
  std::snprintf(text, sizeof(text), "0x%X", word);
  const FxTarget whole{owner.param, owner.field, owner.index, -1};
  if (FxParseValue(&effect_, &whole, text, bitmap, nullptr, message, sizeof(message)) != SUCCESS)
    throw UsageError(message);
  return Extend(kind, word);
}

int64_t EffectArgs::AvailableFor(const FxParamDesc& countParam) const {
  const int32_t a = countParam.arrayParam;
  if (a < 0 || uint32_t(a) >= effect_.paramCount) return -1;
  const FxParamDesc& array = effect_.params[a];
  const Slot& slot = slots_[a];
  if (slot.isNull) return 0;
  if (array.kind == FX_KIND_INT_ARRAY && slot.given) return int64_t(slot.elements.size());
  if (array.kind == FX_KIND_RECORD_ARRAY && Sets(a)) return RecordsGiven(a);
  if (array.kind == FX_KIND_RECORD) return 1;
  if (array.defaultRule != FX_DEFAULT_ARRAY) return 0;
  return array.defaultArrayCount;
}

void EffectArgs::Build(uint32_t p, BitmapRecord* bitmap) {
  const FxParamDesc& param = effect_.params[p];
  Slot& slot = slots_[p];
  FxNamedValue v{param.name, FxValue{}, 0};
  if (slot.isNull) {
    v.value.ptr = nullptr;
  } else if (param.kind == FX_KIND_RECORD || param.kind == FX_KIND_RECORD_ARRAY) {
    // Every record starts from the field defaults and its size; the given fields go on top.
    const FxRecordDesc& record = *param.record;
    const bool single = param.kind == FX_KIND_RECORD;
    const uint32_t count = single ? 1 : RecordsGiven(int32_t(p));
    slot.block.assign(size_t(count) * record.size, 0);
    for (uint32_t r = 0; r < count; ++r) {
      uint8_t* base = slot.block.data() + size_t(r) * record.size;
      FxFillRecordDefaults(&record, base);
      for (uint32_t f = 0; f < record.fieldCount; ++f) {
        const FxTarget owner{int32_t(p), int32_t(f), single ? -1 : int32_t(r), -1};
        if (record.fields[f].kind == FX_KIND_INT_ARRAY) {  // points at the values given
          if (const Word* w = ArrayWord(owner, bitmap); w && !w->list.empty())
            FxStoreField(&record.fields[f], base,
                         static_cast<int64_t>(reinterpret_cast<intptr_t>(w->list.data())));
          continue;
        }
        bool given = false;
        for (const Word& w : words_) given |= SameOwner(w.target, owner);
        if (given)
          FxStoreField(&record.fields[f], base,
                       Compose(owner, record.fields[f].defaultValue, bitmap));
      }
    }
    v.value.ptr = slot.block.data();
    v.count = count;
  } else if (param.kind == FX_KIND_INT_ARRAY) {
    if (param.fixedCount && slot.elements.size() != param.fixedCount)
      throw UsageError(std::string(effect_.shortName) + ": " + param.name + " needs exactly " +
                       std::to_string(param.fixedCount) + " values, got " +
                       std::to_string(slot.elements.size()));
    slot.list.clear();
    const FxTarget target{int32_t(p), -1, -1, -1};
    char message[kMessageSize];
    for (const std::string& e : slot.elements) {
      FxParsed parsed;
      if (FxParseValue(&effect_, &target, e.c_str(), bitmap, &parsed, message, sizeof(message)) !=
          SUCCESS)
        throw UsageError(message);
      slot.list.push_back(static_cast<int32_t>(parsed.value));
    }
    v.value.ptr = slot.list.data();
    v.count = uint32_t(slot.list.size());
  } else if (param.kind == FX_KIND_BITMAP) {
    v.value.ptr = slot.bitmap->get();
  } else {
    FxValue def{};
    int64_t base = 0;
    if (FxScalarDefault(&param, bitmap, &def))
      base = param.kind == FX_KIND_POINT ? static_cast<int64_t>(uint64_t{uint32_t(def.pt.x)} |
                                                                uint64_t{uint32_t(def.pt.y)} << 32)
                                         : def.i;
    const int64_t scalar = Compose(FxTarget{int32_t(p), -1, -1, -1}, base, bitmap);
    v.value = ScalarValue(param.kind, scalar);
    if (param.defaultRule == FX_DEFAULT_COUNT) {
      const int64_t available = AvailableFor(param);
      const int64_t count =
          param.kind == FX_KIND_INT32 ? int64_t{int32_t(scalar)} : int64_t{uint32_t(scalar)};
      if (available >= 0 && count > available)
        throw UsageError(std::string(effect_.shortName) + ": " + param.name + "=" +
                         std::to_string(count) + " is more than the " + std::to_string(available) +
                         " value(s) of " + effect_.params[param.arrayParam].name);
    }
  }
  values_.push_back(v);
}

const std::vector<FxNamedValue>& EffectArgs::Values(BitmapRecord* bitmap) {
  values_.clear();
  for (uint32_t p = 0; p < effect_.paramCount; ++p)
    if (Sets(int32_t(p))) Build(p, bitmap);
  return values_;
}

std::string EffectArgs::ValueText(const FxFlagField* fields, uint32_t fieldCount, const char* name,
                                  FxKind kind, int64_t value) const {
  char named[kMessageSize];
  if (kind != FX_KIND_POINT &&
      FxFormatNamed(fields, fieldCount, uint32_t(value), nullptr, named, sizeof(named)))
    return named;
  return std::string(name) + "=" + FormatScalar(kind, value);
}

std::string EffectArgs::Describe(BitmapRecord* bitmap) {
  // "{a=1 b=2}" of a record's fields after its size field (named at the end when given).
  auto recordText = [&](uint32_t p, int32_t index) {
    const FxRecordDesc& record = *effect_.params[p].record;
    std::string text = "{";
    for (uint32_t n = 1; n <= record.fieldCount; ++n) {
      const uint32_t f = n % record.fieldCount;  // the size field last
      const FxFieldDesc& field = record.fields[f];
      const FxTarget owner{int32_t(p), int32_t(f), index, -1};
      bool given = false;
      for (const Word& w : words_) given |= SameOwner(w.target, owner);
      if (f == 0 && !given) continue;
      if (field.kind == FX_KIND_INT_ARRAY) {
        const Word* w = ArrayWord(owner, bitmap);
        text += (text.size() > 1 ? " " : "") + std::string(field.name) + "=" +
                (w ? JoinList(w->list.data(), w->list.size()) : "null");
        continue;
      }
      const int64_t value = given ? Compose(owner, field.defaultValue, bitmap) : field.defaultValue;
      text += (text.size() > 1 ? " " : "") +
              ValueText(field.flagFields, field.flagFieldCount, field.name, field.kind, value);
    }
    return text + "}";
  };

  std::string text;
  auto add = [&](const std::string& word) { text += (text.empty() ? "" : " ") + word; };
  for (uint32_t p = 0; p < effect_.paramCount; ++p) {
    const FxParamDesc& param = effect_.params[p];
    const Slot& slot = slots_[p];
    const std::string name = param.name;
    if (slot.isNull) {
      add(name + "=null");
    } else if (param.kind == FX_KIND_RECORD) {
      add(name + "=" + recordText(p, -1));
    } else if (param.kind == FX_KIND_RECORD_ARRAY) {
      const uint32_t count = Sets(int32_t(p))                        ? RecordsGiven(int32_t(p))
                             : param.defaultRule == FX_DEFAULT_ARRAY ? param.defaultArrayCount
                                                                     : 0;
      if (count == 0) add(name + "=null");
      for (uint32_t r = 0; r < count; ++r)
        add(name + "[" + std::to_string(r) + "]=" + recordText(p, Sets(int32_t(p)) ? r : -2));
    } else if (param.kind == FX_KIND_INT_ARRAY) {
      add(name + "=" +
          (slot.given ? JoinList(slot.list.data(), slot.list.size())
           : param.defaultRule == FX_DEFAULT_ARRAY
               ? JoinList(param.defaultArray, param.defaultArrayCount)
               : "null"));
    } else if (param.kind == FX_KIND_BITMAP) {
      add(name + "=" + (slot.given ? slot.bitmapSource : DefaultBitmapText(param.defaultRule)));
    } else {
      FxValue scalar{};
      int64_t base = 0;
      if (FxScalarDefault(&param, bitmap, &scalar))
        base = param.kind == FX_KIND_POINT
                   ? static_cast<int64_t>(uint64_t{uint32_t(scalar.pt.x)} |
                                          uint64_t{uint32_t(scalar.pt.y)} << 32)
                   : scalar.i;
      else if (param.defaultRule == FX_DEFAULT_COUNT)
        base = std::max<int64_t>(0, AvailableFor(param));
      const int64_t value = Compose(FxTarget{int32_t(p), -1, -1, -1}, base, bitmap);
      add(ValueText(param.flagFields, param.flagFieldCount, param.name, param.kind, value));
    }
  }
  return text;
}

}  // namespace fxcli
