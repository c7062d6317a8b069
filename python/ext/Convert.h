// Python values to the registry's named values: image arrays, scalars (integers, tuples, text in
// the command line's syntax), records as dicts, arrays as sequences, bitmaps as arrays.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "Pixels.h"
#include "ScalarText.h"
#include "fxkit/fxkit.h"

namespace fxpy {

namespace py = pybind11;

// The layout of an image array: uint8 or uint16 samples in native byte order, shaped H x W,
// H x W x 3 or H x W x 4, with 1 .. 2^24 rows and columns. Throws TypeError (not an array, other
// dtype) or ValueError (other shape), naming `what`.
PixelLayout ArrayLayout(const py::handle& object, const std::string& what);

// A bitmap of the binding's own holding a copy of the array (any strides).
void BitmapFromArray(const py::handle& object, const std::string& what, HostBitmap& bitmap);

// The keyword values of one call as named values. Owns the records, arrays and bitmaps they
// point to. Unknown names and wrong types raise TypeError, values that do not fit ValueError;
// messages start with "<effect>: <keyword>".
class CallValues {
 public:
  // `bitmap`: the bitmap the effect will run on (its size and region), for text values.
  CallValues(const FxEffectDesc& effect, const BitmapRecord* bitmap);
  CallValues(const CallValues&) = delete;
  CallValues& operator=(const CallValues&) = delete;

  // A parameter by name; a field of a record parameter as "param.Field" or by its bare name
  // (as on the command line) when only one record has it.
  void Add(const std::string& name, py::handle value);
  // The named values of everything given, ready for FxInvoke.
  const std::vector<FxNamedValue>& Build();

 private:
  struct Slot {
    bool given = false;   // the parameter itself was given (not only fields of it)
    bool isNull = false;  // a pointer parameter given as None
    int64_t scalar = 0;
    std::vector<int32_t> list;
    std::map<uint32_t, int64_t> fields;                // record: field -> value
    std::vector<std::map<uint32_t, int64_t>> records;  // record array
    std::unique_ptr<HostBitmap> bitmap;
    std::vector<uint8_t> block;  // the built record(s)
  };

  void SetParam(uint32_t param, py::handle value);
  void SetField(uint32_t param, uint32_t field, py::handle value,
                std::map<uint32_t, int64_t>& fields, const std::string& context);
  std::string Context(const std::string& keyword) const;
  TextTarget Target(uint32_t param, int32_t field) const;

  const FxEffectDesc& effect_;
  const BitmapRecord* bitmap_;
  std::vector<Slot> slots_;
  std::vector<FxNamedValue> values_;
};

// An integer from a Python int or anything with __index__ (numpy integers); TypeError for other
// types (floats, text), ValueError beyond 64 bits.
int64_t IntFromPython(py::handle value, const std::string& context, const char* expected);
// One scalar of target.kind from an integer, text, a point (x, y) or a colour (r, g, b).
int64_t ScalarFromPython(const TextTarget& target, py::handle value, const std::string& context);

}  // namespace fxpy
