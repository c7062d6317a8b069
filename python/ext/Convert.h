// Python values to the registry's named values: image arrays, scalars (integers, tuples, text in
// the command line's syntax), records as dicts, arrays as sequences, bitmaps as arrays. Names and
// text go through the library's reading of human values (FxResolveName, FxParseValue), the one
// the command line uses, so a keyword takes every "name=value" word the tool takes.
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <string>
#include <vector>

#include "Pixels.h"
#include "fxkit/fxkit.h"

namespace fxpy {

namespace py = pybind11;

// The layout of an image array: uint8 or uint16 samples in native byte order, shaped H x W,
// H x W x 3 or H x W x 4, with 1 .. 2^24 rows and columns. Throws TypeError (not an array, other
// dtype) or ValueError (other shape), naming `what`.
PixelLayout ArrayLayout(const py::handle& object, const std::string& what);

// A bitmap of the binding's own holding a copy of the array (any strides).
void BitmapFromArray(const py::handle& object, const std::string& what, HostBitmap& bitmap);

// An integer from a Python int or anything with __index__ (numpy integers); TypeError for other
// types (floats, text), ValueError beyond 64 bits.
int64_t IntFromPython(py::handle value, const std::string& context, const char* expected);
// A 32-bit kind's word from an integer in -2^31 .. 2^32 - 1, the pattern the command line passes:
// sign-extended for INT32, zero-extended otherwise (-1 and 0xFFFFFFFF are the same word).
// ValueError beyond that range.
int64_t PackWord(FxKind kind, int64_t value, const std::string& context);

// The keyword values of one call as named values. Owns the records, arrays and bitmaps they
// point to. Unknown names and wrong types raise TypeError, values that do not fit ValueError;
// messages start with "<effect>: ".
class CallValues {
 public:
  // `bitmap`: the bitmap the effect will run on; relative values are measured on it (its region).
  CallValues(const FxEffectDesc& effect, BitmapRecord* bitmap);
  CallValues(const CallValues&) = delete;
  CallValues& operator=(const CallValues&) = delete;

  // One keyword: any name FxResolveName knows (a parameter, "param.Field", a bare record field,
  // "param[i].Field", a named bit field such as outside=), or preset=NAME when no parameter has
  // that name. The preset's words count unless a keyword sets the same thing.
  void Add(const std::string& name, py::handle value);
  // The named values of everything given, ready for FxInvokeEx: named bit fields set on the
  // parameter's (or field's) default or its whole value.
  const std::vector<FxNamedValue>& Build();

 private:
  // A scalar value: a parameter, a record field or a named bit field of either.
  struct Word {
    std::string name;  // as given, for messages
    FxTarget target;
    int64_t value = 0;
    uint32_t mask = 0xFFFFFFFFu;  // the bits a named bit field sets
    bool preset = false;
    std::vector<int32_t> list;  // a record's array field: its values (empty: null)
  };
  // A pointer parameter given as a whole: null, an integer array, a record array, a bitmap.
  struct Slot {
    bool given = false;
    bool preset = false;
    bool isNull = false;
    std::vector<int32_t> list;
    uint32_t records = 0;  // records of a record array given as a sequence
    std::unique_ptr<HostBitmap> bitmap;
    std::vector<uint8_t> block;  // the built record(s)
  };

  void AddValue(const std::string& name, py::handle value, bool preset);
  void AddPreset(py::handle value);
  void AddWhole(const FxTarget& target, const std::string& name, py::handle value, bool preset);
  void AddFields(const std::string& param, int32_t index, py::handle dict, bool preset);
  void AddScalar(Word w);
  Word ScalarWord(const FxTarget& target, const std::string& name, py::handle value) const;
  // The integers of an array: text 'v,v,...' or a sequence of ints and strs, strs read as the
  // command line reads an array's elements; ints too when `parseInts` (checked against the
  // target's kind and range), else packed as 32-bit words.
  std::vector<int32_t> IntList(const FxTarget& target, py::handle value, const std::string& context,
                               bool parseInts) const;
  // True when the parameter's slot or a word sets it.
  bool Sets(int32_t param) const;
  uint32_t RecordsGiven(int32_t param) const;
  // `base` with the owner's whole word and named bit fields on top.
  int64_t Compose(const FxTarget& owner, int64_t base) const;
  std::string Where(const std::string& name) const;

  const FxEffectDesc& effect_;
  BitmapRecord* bitmap_;
  std::vector<Word> words_;
  std::vector<Slot> slots_;
  std::string preset_;
  std::vector<FxNamedValue> values_;
};

}  // namespace fxpy
