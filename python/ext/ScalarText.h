// Parameter values written as text, in the command line's syntax, and the 32-bit word rule both
// text and Python integers follow. The binding reads every string value here: this is the one
// place to hand text to the library's own value parser once the registry offers one.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "fxkit/registry.h"

namespace fxpy {

// A value that does not fit its parameter; the message says what was expected.
class ValueError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// A 32-bit kind's value from an integer in -2^31 .. 2^32 - 1, kept as the 32-bit pattern the
// command line passes: sign-extended for INT32, zero-extended for the others (so -1 and
// 0xFFFFFFFF are the same word). Throws ValueError beyond that range.
int64_t PackWord(FxKind kind, int64_t value);
// A point packed as x | y << 32 (both signed 32-bit); throws ValueError outside int32.
int64_t PackPoint(int64_t x, int64_t y);

// Where a text value goes: all a parser may need to read it (the parameter's named flag fields,
// the record field, the bitmap's size for relative values). Only `kind` is read today.
struct TextTarget {
  FxKind kind = FX_KIND_INT32;
  const FxEffectDesc* effect = nullptr;
  const FxParamDesc* param = nullptr;
  const FxFieldDesc* field = nullptr;  // a field of a record parameter, else null
  const BitmapRecord* bitmap = nullptr;
};

// One scalar (INT32, UINT32, FLAGS, COLOR, POINT) from text: integers in decimal or 0x hex with
// an optional sign, colours also #RRGGBB, points "x,y". Packed as above.
int64_t ParseScalarText(const TextTarget& target, std::string_view text);
// An integer list "v,v,v" (each as an INT32 word; #RRGGBB allowed, as palettes use).
std::vector<int32_t> ParseListText(const TextTarget& target, std::string_view text);

}  // namespace fxpy
