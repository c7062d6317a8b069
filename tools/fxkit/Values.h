// Effect parameters from the command line's "name=value" words into the registry's named
// values: integers (decimal or 0x hex, negative allowed), points "x,y", colours (0x00BBGGRR or
// #RRGGBB), records by their fields, integer arrays "v,v,v", record arrays "lights[0].x=10",
// bitmaps (a file or @card) and "null" for any pointer. The benchmarks parse presets with it.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tools/fxkit/Image.h"

namespace fxcli {

// Decimal or 0x hex with an optional sign; false on anything else or beyond 64 bits.
bool ParseInt64(std::string_view text, int64_t& value);

// One value of a scalar kind (INT32, UINT32, FLAGS, COLOR, POINT). 32-bit kinds accept
// -2^31 .. 2^32 - 1 and keep the 32-bit pattern (sign-extended for INT32, zero-extended for the
// others), so -1 and 0xFFFFFFFF are the same word. Colours also take #RRGGBB. Points come back
// packed as x | y << 32 (each coordinate a signed 32-bit value). Throws UsageError("<context>:
// ...") on a bad value.
int64_t ParseScalar(FxKind kind, std::string_view text, const std::string& context);
// The FxValue of a packed scalar.
FxValue ScalarValue(FxKind kind, int64_t packed);
// A packed scalar as the command line writes it (hex for flags and colours, "x,y" for points).
std::string FormatScalar(FxKind kind, int64_t packed);

// The words of a preset's values string.
std::vector<std::string> SplitWords(const char* text);

// The parameters given for one call of an effect. Owns the records, arrays and bitmaps the
// named values point to.
class EffectArgs {
 public:
  explicit EffectArgs(const FxEffectDesc& effect);
  EffectArgs(const EffectArgs&) = delete;
  EffectArgs& operator=(const EffectArgs&) = delete;

  // Adds one "name=value" word. Throws UsageError("<effect>: ...") naming the word: unknown
  // names, bad values, a parameter or field given twice, an array index out of range.
  void Add(const std::string& word);
  void Add(const std::vector<std::string>& words);

  // Builds the records and arrays and returns the named values for FxInvoke. Throws UsageError
  // when a count exceeds the values of its array or a fixed-length array has the wrong length.
  const std::vector<FxNamedValue>& Values();

  // Every parameter as the call sees it on `bitmap`: given values, and defaults as FxInvoke
  // forms them ("angle=400 center=320,240 flags=0x0").
  std::string Describe(BitmapRecord* bitmap);

 private:
  struct Slot {
    bool given = false;
    bool isNull = false;  // a pointer parameter given as "null"
    int64_t scalar = 0;
    std::vector<int32_t> list;
    std::map<uint32_t, int64_t> fields;                       // record: field -> value
    std::map<uint32_t, std::map<uint32_t, int64_t>> records;  // record array
    // Values of the array fields given: (record index, field) -> values.
    std::map<std::pair<uint32_t, uint32_t>, std::vector<int32_t>> arrays;
    ImagePtr bitmap;
    std::string bitmapSource;
    std::vector<uint8_t> block;  // the built record(s)
  };

  void AddField(uint32_t param, uint32_t field, int64_t index, std::string_view value,
                const std::string& word);
  std::string Where(const std::string& word) const;
  // Elements available to a count parameter's array (-1 without an array).
  int64_t AvailableFor(const FxParamDesc& countParam) const;
  void Build(uint32_t param);

  const FxEffectDesc& effect_;
  std::vector<Slot> slots_;
  std::vector<FxNamedValue> values_;
};

}  // namespace fxcli
