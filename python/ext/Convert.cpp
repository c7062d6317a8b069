// Python values to the registry's named values.
#include "Convert.h"

#include <algorithm>

#include "ScalarText.h"

namespace fxpy {

namespace {

constexpr int64_t kMaxSide = int64_t{1} << 24;  // the host's largest width or height

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

// Runs `f`, turning a value that does not fit into ValueError("<context>: ...").
template <class F>
auto Checked(const std::string& context, F f) {
  try {
    return f();
  } catch (const ValueError& e) {
    throw py::value_error(context + ": " + e.what());
  }
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

int64_t ScalarFromPython(const TextTarget& target, py::handle value, const std::string& context) {
  const FxKind kind = target.kind;
  if (PyUnicode_Check(value.ptr()))
    return Checked(context, [&] { return ParseScalarText(target, value.cast<std::string>()); });
  if (kind == FX_KIND_POINT) {
    if (!IsSequence(value) || py::len(value) != 2)
      throw py::type_error(context + ": expected a point (x, y) or 'x,y', got " + TypeName(value));
    const auto xy = py::reinterpret_borrow<py::sequence>(value);
    const int64_t x = IntFromPython(xy[0], context, "an integer coordinate");
    const int64_t y = IntFromPython(xy[1], context, "an integer coordinate");
    return Checked(context, [&] { return PackPoint(x, y); });
  }
  if (kind == FX_KIND_COLOR && IsSequence(value)) {
    if (py::len(value) != 3)
      throw py::type_error(context + ": expected a colour 0x00BBGGRR, '#RRGGBB' or (r, g, b)");
    const auto rgb = py::reinterpret_borrow<py::sequence>(value);
    int64_t packed = 0;
    for (size_t i = 0; i < 3; ++i) {
      const int64_t c = IntFromPython(rgb[i], context, "an integer colour sample");
      if (c < 0 || c > 255) throw py::value_error(context + ": colour samples are 0 .. 255");
      packed |= c << (8 * i);
    }
    return packed;
  }
  const int64_t v = IntFromPython(
      value, context,
      kind == FX_KIND_COLOR ? "a colour 0x00BBGGRR, '#RRGGBB' or (r, g, b)" : "an integer");
  return Checked(context, [&] { return PackWord(kind, v); });
}

CallValues::CallValues(const FxEffectDesc& effect, const BitmapRecord* bitmap)
    : effect_(effect), bitmap_(bitmap), slots_(effect.paramCount) {}

TextTarget CallValues::Target(uint32_t param, int32_t field) const {
  const FxParamDesc& p = effect_.params[param];
  const FxFieldDesc* f = field >= 0 ? &p.record->fields[field] : nullptr;
  return TextTarget{f ? f->kind : p.kind, &effect_, &p, f, bitmap_};
}

std::string CallValues::Context(const std::string& keyword) const {
  return std::string(effect_.shortName) + ": " + keyword;
}

void CallValues::Add(const std::string& name, py::handle value) {
  const int32_t p = FxFindParam(&effect_, name.c_str());
  if (p >= 0) return SetParam(uint32_t(p), value);

  // A record's field: "param.Field", or the field's bare name when one record has it.
  int32_t owner = -1, field = -1;
  if (const size_t dot = name.find('.'); dot != std::string::npos) {
    const int32_t q = FxFindParam(&effect_, name.substr(0, dot).c_str());
    if (q >= 0 && effect_.params[q].kind == FX_KIND_RECORD) {
      owner = q;
      field = FxFindField(effect_.params[q].record, name.substr(dot + 1).c_str());
      if (field < 0)
        throw py::type_error(Context(name) + ": " + effect_.params[q].record->name +
                             " has no such field");
    }
  } else {
    for (uint32_t i = 0; i < effect_.paramCount; ++i) {
      if (effect_.params[i].kind != FX_KIND_RECORD) continue;
      const int32_t f = FxFindField(effect_.params[i].record, name.c_str());
      if (f < 0) continue;
      if (owner >= 0)
        throw py::type_error(Context(name) + ": a field of more than one record; pass it in the " +
                             "record's dict");
      owner = int32_t(i);
      field = f;
    }
  }
  if (owner < 0) {
    std::string function = effect_.shortName;
    std::replace(function.begin(), function.end(), '-', '_');
    throw py::type_error(Context(name) + ": unknown parameter (see help(fxkit." + function + "))");
  }
  Slot& slot = slots_[owner];
  if (slot.isNull)
    throw py::type_error(Context(name) + ": " + effect_.params[owner].name + " was given as None");
  SetField(uint32_t(owner), uint32_t(field), value, slot.fields, Context(name));
}

void CallValues::SetField(uint32_t param, uint32_t field, py::handle value,
                          std::map<uint32_t, int64_t>& fields, const std::string& context) {
  if (fields.count(field)) throw py::type_error(context + ": field given twice");
  fields[field] = ScalarFromPython(Target(param, int32_t(field)), value, context);
}

void CallValues::SetParam(uint32_t p, py::handle value) {
  const FxParamDesc& param = effect_.params[p];
  Slot& slot = slots_[p];
  const std::string context = Context(param.name);
  if (slot.given) throw py::type_error(context + ": given twice");
  if (value.is_none()) {
    if (!IsPointerKind(param.kind))
      throw py::type_error(context + ": expected a " + FxKindName(param.kind) +
                           " value, got None (leave it out for the default)");
    if (!slot.fields.empty()) throw py::type_error(context + ": given as None and by its fields");
    slot.given = slot.isNull = true;
    return;
  }
  switch (param.kind) {
    case FX_KIND_RECORD: {
      if (!PyDict_Check(value.ptr()))
        throw py::type_error(context + ": expected a dict of " + param.record->name +
                             " fields or None, got " + TypeName(value));
      for (const auto& [key, fieldValue] : py::reinterpret_borrow<py::dict>(value)) {
        if (!PyUnicode_Check(key.ptr())) throw py::type_error(context + ": field names are str");
        const std::string name = key.cast<std::string>();
        const int32_t f = FxFindField(param.record, name.c_str());
        if (f < 0)
          throw py::type_error(context + ": " + param.record->name + " has no field '" + name +
                               "'");
        SetField(p, uint32_t(f), fieldValue, slot.fields, context + "." + name);
      }
      break;
    }
    case FX_KIND_RECORD_ARRAY: {
      if (!IsSequence(value) || PyDict_Check(value.ptr()))
        throw py::type_error(context + ": expected a sequence of dicts of " + param.record->name +
                             " fields or None, got " + TypeName(value));
      const auto records = py::reinterpret_borrow<py::sequence>(value);
      slot.records.resize(py::len(records));
      for (size_t r = 0; r < slot.records.size(); ++r) {
        const std::string where = context + "[" + std::to_string(r) + "]";
        const py::object record = records[r];
        if (!PyDict_Check(record.ptr()))
          throw py::type_error(where + ": expected a dict, got " + TypeName(record));
        for (const auto& [key, fieldValue] : py::reinterpret_borrow<py::dict>(record)) {
          const std::string name = py::str(key);
          const int32_t f = FxFindField(param.record, name.c_str());
          if (f < 0)
            throw py::type_error(where + ": " + param.record->name + " has no field '" + name +
                                 "'");
          SetField(p, uint32_t(f), fieldValue, slot.records[r], where + "." + name);
        }
      }
      break;
    }
    case FX_KIND_INT_ARRAY:
      if (PyUnicode_Check(value.ptr())) {
        slot.list = Checked(
            context, [&] { return ParseListText(Target(p, -1), value.cast<std::string>()); });
      } else {
        if (!IsSequence(value))
          throw py::type_error(context + ": expected a sequence of integers, 'v,v,...' or None, " +
                               "got " + TypeName(value));
        for (const py::handle element : value) {
          const int64_t v = IntFromPython(element, context, "integers");
          slot.list.push_back(
              static_cast<int32_t>(Checked(context, [&] { return PackWord(FX_KIND_INT32, v); })));
        }
      }
      slot.list.reserve(1);  // a valid pointer even for an empty list
      break;
    case FX_KIND_BITMAP:
      slot.bitmap = std::make_unique<HostBitmap>();
      BitmapFromArray(value, context, *slot.bitmap);
      break;
    default:
      slot.scalar = ScalarFromPython(Target(p, -1), value, context);
      break;
  }
  slot.given = true;
}

const std::vector<FxNamedValue>& CallValues::Build() {
  values_.clear();
  for (uint32_t p = 0; p < effect_.paramCount; ++p) {
    const FxParamDesc& param = effect_.params[p];
    Slot& slot = slots_[p];
    if (!slot.given && slot.fields.empty()) continue;
    FxNamedValue v{param.name, FxValue{}, 0};
    if (slot.isNull) {
      v.value.ptr = nullptr;
    } else if (param.kind == FX_KIND_RECORD || param.kind == FX_KIND_RECORD_ARRAY) {
      // Every record starts from its field defaults and size; the given fields go on top.
      const FxRecordDesc& record = *param.record;
      const bool single = param.kind == FX_KIND_RECORD;
      const size_t count = single ? 1 : slot.records.size();
      slot.block.assign(std::max<size_t>(count * record.size, 1), 0);
      for (size_t r = 0; r < count; ++r) {
        uint8_t* base = slot.block.data() + r * record.size;
        FxFillRecordDefaults(&record, base);
        for (const auto& [field, value] : single ? slot.fields : slot.records[r])
          FxStoreField(&record.fields[field], base, value);
      }
      v.value.ptr = slot.block.data();
      v.count = uint32_t(count);
    } else if (param.kind == FX_KIND_INT_ARRAY) {
      if (param.fixedCount && slot.list.size() != param.fixedCount)
        throw py::value_error(Context(param.name) + ": needs exactly " +
                              std::to_string(param.fixedCount) + " values, got " +
                              std::to_string(slot.list.size()));
      v.value.ptr = slot.list.data();
      v.count = uint32_t(slot.list.size());
    } else if (param.kind == FX_KIND_BITMAP) {
      v.value.ptr = slot.bitmap->get();
    } else if (param.kind == FX_KIND_POINT) {
      const auto u = static_cast<uint64_t>(slot.scalar);
      v.value.pt =
          POINT{static_cast<int32_t>(uint32_t(u)), static_cast<int32_t>(uint32_t(u >> 32))};
    } else {
      v.value.i = slot.scalar;
    }
    values_.push_back(v);
  }
  return values_;
}

}  // namespace fxpy
