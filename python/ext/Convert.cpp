// Python values to the registry's named values.
#include "Convert.h"

#include <algorithm>
#include <string_view>

namespace fxpy {

namespace {

constexpr int64_t kMaxSide = int64_t{1} << 24;  // the host's largest width or height
constexpr size_t kMessageSize = 512;

std::string TypeName(py::handle value) {
  return Py_TYPE(value.ptr())->tp_name;
}

bool IsSequence(py::handle value) {
  return PySequence_Check(value.ptr()) && !PyUnicode_Check(value.ptr()) &&
         !PyBytes_Check(value.ptr()) && !PyByteArray_Check(value.ptr());
}

bool IsPointerKind(FxKind kind) {
  return kind == FX_KIND_RECORD || kind == FX_KIND_INT_ARRAY || kind == FX_KIND_RECORD_ARRAY ||
         kind == FX_KIND_BITMAP;
}

bool SameOwner(const FxTarget& a, const FxTarget& b) {
  return a.param == b.param && a.field == b.field && a.index == b.index;
}
bool SameTarget(const FxTarget& a, const FxTarget& b) {
  return SameOwner(a, b) && a.flagField == b.flagField;
}

// The elements of an array's text: split at commas outside parentheses, so rgb(r,g,b) stays
// whole (as the command line splits them).
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

// The words of a preset's values.
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

int64_t PackPoint(int64_t x, int64_t y, const std::string& context) {
  if (x < INT32_MIN || x > INT32_MAX || y < INT32_MIN || y > INT32_MAX)
    throw py::value_error(context + ": point coordinate out of the 32-bit range");
  return static_cast<int64_t>(uint64_t{static_cast<uint32_t>(x)} |
                              uint64_t{static_cast<uint32_t>(y)} << 32);
}

int64_t Extend(FxKind kind, uint32_t word) {
  return kind == FX_KIND_INT32 ? int64_t{static_cast<int32_t>(word)} : int64_t{word};
}

}  // namespace

PixelLayout ArrayLayout(const py::handle& object, const std::string& what) {
  if (!py::isinstance<py::array>(object))
    throw py::type_error(what + ": expected a numpy array, got " + TypeName(object));
  const auto array = py::reinterpret_borrow<py::array>(object);
  const int32_t sampleBytes = py::isinstance<py::array_t<uint8_t>>(object)    ? 1
                              : py::isinstance<py::array_t<uint16_t>>(object) ? 2
                                                                              : 0;
  if (!sampleBytes)
    throw py::type_error(what + ": expected uint8 or uint16 samples, got dtype " +
                         std::string(py::str(array.dtype())));
  const int32_t channels = array.ndim() == 2 ? 1 : array.ndim() == 3 ? int32_t(array.shape(2)) : 0;
  PixelLayout layout;
  if (!LayoutFor(channels, sampleBytes, layout))
    throw py::value_error(what + ": expected an H x W, H x W x 3 or H x W x 4 array, got shape " +
                          std::string(py::str(py::cast(std::vector<py::ssize_t>(
                              array.shape(), array.shape() + array.ndim())))));
  if (array.shape(0) < 1 || array.shape(1) < 1 || array.shape(0) > kMaxSide ||
      array.shape(1) > kMaxSide)
    throw py::value_error(what + ": height and width must be 1 .. " + std::to_string(kMaxSide));
  return layout;
}

void BitmapFromArray(const py::handle& object, const std::string& what, HostBitmap& bitmap) {
  const PixelLayout layout = ArrayLayout(object, what);
  const py::array rows = py::array::ensure(object, py::array::c_style);
  if (!rows) throw py::error_already_set();
  const auto height = int32_t(rows.shape(0)), width = int32_t(rows.shape(1));
  const int32_t rc = bitmap.Create(width, height, layout);
  if (rc != SUCCESS)
    throw py::value_error(what + ": no bitmap for this array (" +
                          std::string(FxResultName(rc) ? FxResultName(rc) : "?") + ")");
  CopyRowsIn(static_cast<const uint8_t*>(rows.data()), layout.RowBytes(width), *bitmap.get());
}

int64_t IntFromPython(py::handle value, const std::string& context, const char* expected) {
  if (PyUnicode_Check(value.ptr()) || PyFloat_Check(value.ptr()) || !PyIndex_Check(value.ptr()))
    throw py::type_error(context + ": expected " + expected + ", got " + TypeName(value));
  const py::object index = py::reinterpret_steal<py::object>(PyNumber_Index(value.ptr()));
  if (!index) throw py::error_already_set();
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(index.ptr(), &overflow);
  if (overflow)
    throw py::value_error(context + ": " + std::string(py::str(index)) +
                          " does not fit in 32 bits");
  if (v == -1 && PyErr_Occurred()) throw py::error_already_set();
  return v;
}

int64_t PackWord(FxKind kind, int64_t value, const std::string& context) {
  if (value < INT32_MIN || value > int64_t{UINT32_MAX})
    throw py::value_error(context + ": " + std::to_string(value) + " does not fit in 32 bits");
  return Extend(kind, static_cast<uint32_t>(value));
}

CallValues::CallValues(const FxEffectDesc& effect, BitmapRecord* bitmap)
    : effect_(effect), bitmap_(bitmap), slots_(effect.paramCount) {}

std::string CallValues::Where(const std::string& name) const {
  return std::string(effect_.shortName) + ": " + name;
}

void CallValues::Add(const std::string& name, py::handle value) {
  AddValue(name, value, false);
}

void CallValues::AddValue(const std::string& name, py::handle value, bool preset) {
  std::string lower = name;
  for (char& c : lower) c = char(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  if (!preset && lower == "preset" && FxFindParam(&effect_, name.c_str()) < 0)
    return AddPreset(value);

  char message[kMessageSize];
  FxTarget target;
  if (FxResolveName(&effect_, name.c_str(), &target, message, sizeof(message)) != SUCCESS) {
    std::string text = message;
    if (text.find("(did you mean") == std::string::npos) {
      std::string function = effect_.shortName;
      std::replace(function.begin(), function.end(), '-', '_');
      text += " (see help(fxkit." + function + "))";
    }
    throw py::type_error(text);
  }
  const FxParamDesc& param = effect_.params[target.param];
  if (target.field < 0 && target.flagField < 0 && IsPointerKind(param.kind))
    return AddWhole(target, name, value, preset);
  Word w = ScalarWord(target, name, value);
  w.preset = preset;
  AddScalar(std::move(w));
}

void CallValues::AddPreset(py::handle value) {
  if (!PyUnicode_Check(value.ptr()))
    throw py::type_error(Where("preset") + ": expected a preset's name, got " + TypeName(value));
  const std::string name = value.cast<std::string>();
  char message[kMessageSize];
  const FxPreset* preset = FxFindPreset(&effect_, name.c_str(), message, sizeof(message));
  if (!preset) throw py::value_error(message);
  if (!preset_.empty()) throw py::type_error(Where("preset") + ": given twice");
  preset_ = preset->name;
  for (const std::string& word : SplitWords(preset->values)) {
    const size_t eq = word.find('=');
    AddValue(word.substr(0, eq), py::str(eq == std::string::npos ? "" : word.substr(eq + 1)), true);
  }
}

std::vector<int32_t> CallValues::IntList(const FxTarget& target, py::handle value,
                                         const std::string& context, bool parseInts) const {
  std::vector<int32_t> list;
  char message[kMessageSize];
  // Text elements are read as the command line reads an array's elements.
  auto element = [&](const std::string& text) {
    FxParsed parsed;
    if (FxParseValue(&effect_, &target, text.c_str(), bitmap_, &parsed, message, sizeof(message)) !=
        SUCCESS)
      throw py::value_error(message);
    list.push_back(static_cast<int32_t>(parsed.value));
  };
  if (PyUnicode_Check(value.ptr())) {
    for (const std::string& e : SplitElements(value.cast<std::string>())) element(e);
    return list;
  }
  if (!IsSequence(value))
    throw py::type_error(context + ": expected a sequence of integers, 'v,v,...' or None, " +
                         "got " + TypeName(value));
  for (const py::handle e : value) {
    if (PyUnicode_Check(e.ptr()))
      element(e.cast<std::string>());
    else if (parseInts)
      element(std::to_string(IntFromPython(e, context, "an integer")));
    else
      list.push_back(static_cast<int32_t>(
          PackWord(FX_KIND_INT32, IntFromPython(e, context, "integers"), context)));
  }
  return list;
}

CallValues::Word CallValues::ScalarWord(const FxTarget& target, const std::string& name,
                                        py::handle value) const {
  const FxParamDesc& param = effect_.params[target.param];
  const FxFieldDesc* field = target.field >= 0 ? &param.record->fields[target.field] : nullptr;
  const FxKind kind = field ? field->kind : param.kind;
  const uint32_t flagFieldCount = field ? field->flagFieldCount : param.flagFieldCount;
  const std::string context = Where(name);
  Word w{name, target, 0, 0xFFFFFFFFu, false, {}};

  if (kind == FX_KIND_INT_ARRAY) {  // a record's array field: None, 'v,v,...' or integers
    if (value.is_none() || (PyUnicode_Check(value.ptr()) && value.cast<std::string>() == "null"))
      return w;
    w.list = IntList(target, value, context, true);
    if (w.list.size() != field->arrayCount)
      throw py::value_error(context + ": needs exactly " + std::to_string(field->arrayCount) +
                            " values, got " + std::to_string(w.list.size()));
    return w;
  }
  if (PyUnicode_Check(value.ptr())) {
    const std::string text = value.cast<std::string>();
    FxParsed parsed{0, 0, 0};
    char message[kMessageSize];
    const int32_t rc =
        FxParseValue(&effect_, &target, text.c_str(), bitmap_, &parsed, message, sizeof(message));
    // A whole value of something with named bit fields is judged with the fields set on it.
    const bool composed = target.flagField < 0 && flagFieldCount > 0 &&
                          rc == FX_REGISTRY_OUT_OF_RANGE && parsed.mask != 0;
    if (rc != SUCCESS && !composed) throw py::value_error(message);
    w.value = parsed.value;
    w.mask = parsed.mask;
    return w;
  }
  if (target.flagField >= 0) {
    const FxFlagField& f = (field ? field->flagFields : param.flagFields)[target.flagField];
    std::string names;
    for (uint32_t v = 0; v < f.valueCount; ++v)
      names += std::string(v ? ", '" : "'") + f.values[v].name + "'";
    throw py::type_error(context + ": expected one of " + names + ", got " + TypeName(value));
  }
  if (kind == FX_KIND_POINT) {
    if (!IsSequence(value) || py::len(value) != 2)
      throw py::type_error(context + ": expected a point (x, y) or 'x,y', got " + TypeName(value));
    const auto xy = py::reinterpret_borrow<py::sequence>(value);
    const int64_t x = IntFromPython(xy[0], context, "an integer coordinate");
    const int64_t y = IntFromPython(xy[1], context, "an integer coordinate");
    w.value = PackPoint(x, y, context);
    return w;
  }
  if (kind == FX_KIND_COLOR && IsSequence(value)) {
    if (py::len(value) != 3)
      throw py::type_error(context + ": expected a colour 0x00BBGGRR, '#RRGGBB' or (r, g, b)");
    const auto rgb = py::reinterpret_borrow<py::sequence>(value);
    for (size_t i = 0; i < 3; ++i) {
      const int64_t c = IntFromPython(rgb[i], context, "an integer colour sample");
      if (c < 0 || c > 255) throw py::value_error(context + ": colour samples are 0 .. 255");
      w.value |= c << (8 * i);
    }
    return w;
  }
  const int64_t v = IntFromPython(
      value, context,
      kind == FX_KIND_COLOR ? "a colour 0x00BBGGRR, '#RRGGBB' or (r, g, b)" : "an integer");
  w.value = PackWord(kind, v, context);
  return w;
}

void CallValues::AddWhole(const FxTarget& target, const std::string& name, py::handle value,
                          bool preset) {
  const FxParamDesc& param = effect_.params[target.param];
  Slot& slot = slots_[target.param];
  const std::string context = Where(name);
  const bool isNull =
      value.is_none() || (PyUnicode_Check(value.ptr()) && value.cast<std::string>() == "null");
  // A record given as a dict is a set of field values, merged with the others given.
  if (param.kind == FX_KIND_RECORD && !isNull) {
    if (!PyDict_Check(value.ptr()))
      throw py::type_error(context + ": expected a dict of " + param.record->name +
                           " fields or None, got " + TypeName(value));
    return AddFields(param.name, -1, value, preset);
  }
  if (slot.given || Sets(target.param)) {
    if (preset) return;  // a keyword given on its own wins over the preset's
    if (!slot.preset) throw py::type_error(context + ": given twice");
    slot = Slot{};
    std::erase_if(words_, [&](const Word& w) { return w.target.param == target.param; });
  }
  slot.given = true;
  slot.preset = preset;
  if (isNull) {
    slot.isNull = true;
    return;
  }
  switch (param.kind) {
    case FX_KIND_RECORD_ARRAY: {
      if (!IsSequence(value) || PyDict_Check(value.ptr()))
        throw py::type_error(context + ": expected a sequence of dicts of " + param.record->name +
                             " fields or None, got " + TypeName(value));
      const auto records = py::reinterpret_borrow<py::sequence>(value);
      slot.records = uint32_t(py::len(records));
      for (uint32_t r = 0; r < slot.records; ++r) {
        const py::object record = records[r];
        if (!PyDict_Check(record.ptr()))
          throw py::type_error(context + "[" + std::to_string(r) + "]: expected a dict, got " +
                               TypeName(record));
        AddFields(param.name, int32_t(r), record, preset);
      }
      break;
    }
    case FX_KIND_INT_ARRAY: {
      slot.list = IntList(target, value, context, false);
      slot.list.reserve(1);  // a valid pointer even for an empty list
      break;
    }
    default:  // FX_KIND_BITMAP
      if (PyUnicode_Check(value.ptr()))
        throw py::type_error(context + ": expected a numpy array (the module reads no files)");
      slot.bitmap = std::make_unique<HostBitmap>();
      BitmapFromArray(value, context, *slot.bitmap);
      break;
  }
}

void CallValues::AddFields(const std::string& param, int32_t index, py::handle dict, bool preset) {
  const std::string owner = index < 0 ? param : param + "[" + std::to_string(index) + "]";
  for (const auto& [key, value] : py::reinterpret_borrow<py::dict>(dict)) {
    if (!PyUnicode_Check(key.ptr())) throw py::type_error(Where(owner) + ": field names are str");
    const std::string name = owner + "." + key.cast<std::string>();
    char message[kMessageSize];
    FxTarget target;
    if (FxResolveName(&effect_, name.c_str(), &target, message, sizeof(message)) != SUCCESS)
      throw py::type_error(message);
    Word w = ScalarWord(target, name, value);
    w.preset = preset;
    AddScalar(std::move(w));
  }
}

void CallValues::AddScalar(Word w) {
  const FxParamDesc& param = effect_.params[w.target.param];
  Slot& slot = slots_[w.target.param];
  if (slot.isNull) {
    if (w.preset) return;
    if (!slot.preset)
      throw py::type_error(Where(w.name) + ": " + param.name + " was given as None");
    slot = Slot{};
  }
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
      if (same) throw py::type_error(Where(w.name) + ": given twice");
    }
    ++it;
  }
  words_.push_back(std::move(w));
}

bool CallValues::Sets(int32_t param) const {
  for (const Word& w : words_)
    if (w.target.param == param) return true;
  return slots_[param].given;
}

uint32_t CallValues::RecordsGiven(int32_t param) const {
  uint32_t count = slots_[param].records;
  for (const Word& w : words_)
    if (w.target.param == param && w.target.index >= 0)
      count = std::max(count, uint32_t(w.target.index) + 1);
  return count;
}

int64_t CallValues::Compose(const FxTarget& owner, int64_t base) const {
  const FxParamDesc& param = effect_.params[owner.param];
  const FxKind kind = owner.field >= 0 ? param.record->fields[owner.field].kind : param.kind;
  int64_t value = base;
  for (const Word& w : words_)
    if (SameOwner(w.target, owner) && w.target.flagField < 0) value = w.value;
  if (kind == FX_KIND_POINT) return value;
  uint32_t word = static_cast<uint32_t>(value);
  bool named = false;
  for (const Word& w : words_)
    if (SameOwner(w.target, owner) && w.target.flagField >= 0) {
      word = (word & ~w.mask) | static_cast<uint32_t>(w.value);
      named = true;
    }
  return named ? Extend(kind, word) : value;
}

const std::vector<FxNamedValue>& CallValues::Build() {
  values_.clear();
  for (uint32_t p = 0; p < effect_.paramCount; ++p) {
    if (!Sets(int32_t(p))) continue;
    const FxParamDesc& param = effect_.params[p];
    Slot& slot = slots_[p];
    FxNamedValue v{param.name, FxValue{}, 0};
    if (slot.isNull) {
      v.value.ptr = nullptr;
    } else if (param.kind == FX_KIND_RECORD || param.kind == FX_KIND_RECORD_ARRAY) {
      // Every record starts from its field defaults and size; the given fields go on top.
      const FxRecordDesc& record = *param.record;
      const bool single = param.kind == FX_KIND_RECORD;
      const uint32_t count = single ? 1 : RecordsGiven(int32_t(p));
      slot.block.assign(std::max<size_t>(size_t(count) * record.size, 1), 0);
      for (uint32_t r = 0; r < count; ++r) {
        uint8_t* base = slot.block.data() + size_t(r) * record.size;
        FxFillRecordDefaults(&record, base);
        for (uint32_t f = 0; f < record.fieldCount; ++f) {
          const FxTarget owner{int32_t(p), int32_t(f), single ? -1 : int32_t(r), -1};
          if (record.fields[f].kind == FX_KIND_INT_ARRAY) {  // points at the values given
            for (const Word& w : words_)
              if (SameOwner(w.target, owner) && !w.list.empty())
                FxStoreField(&record.fields[f], base,
                             static_cast<int64_t>(reinterpret_cast<intptr_t>(w.list.data())));
            continue;
          }
          if (std::any_of(words_.begin(), words_.end(),
                          [&](const Word& w) { return SameOwner(w.target, owner); }))
            FxStoreField(&record.fields[f], base, Compose(owner, record.fields[f].defaultValue));
        }
      }
      v.value.ptr = slot.block.data();
      v.count = count;
    } else if (param.kind == FX_KIND_INT_ARRAY) {
      if (param.fixedCount && slot.list.size() != param.fixedCount)
        throw py::value_error(Where(param.name) + ": needs exactly " +
                              std::to_string(param.fixedCount) + " values, got " +
                              std::to_string(slot.list.size()));
      v.value.ptr = slot.list.data();
      v.count = uint32_t(slot.list.size());
    } else if (param.kind == FX_KIND_BITMAP) {
      v.value.ptr = slot.bitmap->get();
    } else {
      FxValue def{};
      int64_t base = 0;
      if (FxScalarDefault(&param, bitmap_, &def))
        base = param.kind == FX_KIND_POINT
                   ? static_cast<int64_t>(uint64_t{uint32_t(def.pt.x)} |
                                          uint64_t{uint32_t(def.pt.y)} << 32)
                   : def.i;
      const int64_t scalar = Compose(FxTarget{int32_t(p), -1, -1, -1}, base);
      if (param.kind == FX_KIND_POINT) {
        const auto u = static_cast<uint64_t>(scalar);
        v.value.pt =
            POINT{static_cast<int32_t>(uint32_t(u)), static_cast<int32_t>(uint32_t(u >> 32))};
      } else {
        v.value.i = scalar;
      }
    }
    values_.push_back(v);
  }
  return values_;
}

}  // namespace fxpy
