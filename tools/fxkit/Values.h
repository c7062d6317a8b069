// Effect parameters from the command line's "name=value" words into the registry's named
// values. Names and scalar values go through the library's reading of human values
// (FxResolveName, FxParseValue: named bit fields, relative sizes and points, colour forms, range
// checks, suggestions); this layer adds what only a command line has: records by their fields,
// integer arrays "v,v,v", record arrays "lights[0].x=10", bitmaps (a file or @card), "null" for
// any pointer, presets, and words given twice. The benchmarks and tests parse presets with it.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tools/fxkit/Image.h"

namespace fxcli {

// Decimal or 0x hex with an optional sign; false on anything else or beyond 64 bits.
bool ParseInt64(std::string_view text, int64_t& value);

// The FxValue of a packed scalar (points packed as x | y << 32).
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
  // names (with suggestions), bad or out-of-range values, a parameter or field given twice, an
  // array index out of range. "preset=NAME" applies a preset as AddPreset does.
  void Add(const std::string& word);
  void Add(const std::vector<std::string>& words);
  // Applies a registry preset: its words count as given unless a word given in Add, before or
  // after, sets the same thing (a whole value also overrides the preset's named fields of it).
  void AddPreset(const std::string& name);

  // True when a value is relative to the picture (N%w, X%,Y% ...): Values needs the bitmap.
  bool Relative() const;

  // Builds the records and arrays and returns the named values for FxInvoke, relative values
  // measured on `bitmap`. Named bit fields are set on top of the parameter's default or its
  // whole value. Throws UsageError when a count exceeds the values of its array, a fixed-length
  // array has the wrong length, a relative value has no bitmap or measures out of range, or a
  // word composed of named fields is out of range. May be called again (rebuilds everything).
  const std::vector<FxNamedValue>& Values(BitmapRecord* bitmap = nullptr);

  // Every parameter as the call sees it on `bitmap`, as words the command line takes: given
  // values and defaults as FxInvoke forms them, flag words by their named fields where every
  // bit has a name ("angle=400 center=320,240 flags=0x0", "mode=average shape=grid ...").
  std::string Describe(BitmapRecord* bitmap);

 private:
  // A scalar word: a parameter, a record field or a named bit field of either.
  struct Word {
    std::string word;  // as given, for messages
    FxTarget target;
    std::string value;
    FxParsed parsed;
    bool relative = false;
    bool preset = false;
    // An array field of a record: its values as given ("null": none) and as measured.
    bool array = false;
    std::vector<std::string> elements;
    std::vector<int32_t> list;
  };
  // A pointer parameter given as a whole: an integer array, a bitmap, or null.
  struct Slot {
    bool given = false;
    bool preset = false;
    bool isNull = false;
    std::vector<std::string> elements;  // integer array, as given
    std::vector<int32_t> list;          // integer array, measured
    ImagePtr bitmap;
    std::string bitmapSource;
    std::vector<uint8_t> block;  // the built record(s)
  };

  void AddWord(const std::string& word, bool preset);
  void AddScalar(Word w);
  std::string Where(const std::string& word) const;
  // The parsed value of a word, measured on `bitmap` when relative.
  int64_t Measure(const Word& w, BitmapRecord* bitmap) const;
  // A parameter's or record field's value: `base`, its whole word if given, its named fields.
  int64_t Compose(const FxTarget& owner, int64_t base, BitmapRecord* bitmap) const;
  // An array field's word measured on `bitmap` (its list filled), or null when not given.
  Word* ArrayWord(const FxTarget& owner, BitmapRecord* bitmap);
  // The named bit fields of a parameter or record field.
  std::pair<const FxFlagField*, uint32_t> FieldsOf(const FxTarget& owner) const;
  // Whether any word or slot sets this parameter.
  bool Sets(int32_t param) const;
  // Records of a record array given by index: the highest index + 1, or 0.
  uint32_t RecordsGiven(int32_t param) const;
  int64_t AvailableFor(const FxParamDesc& countParam) const;
  void Build(uint32_t param, BitmapRecord* bitmap);
  std::string ValueText(const FxFlagField* fields, uint32_t fieldCount, const char* name,
                        FxKind kind, int64_t value) const;

  const FxEffectDesc& effect_;
  std::vector<Word> words_;
  std::vector<Slot> slots_;
  std::string preset_;
  std::vector<FxNamedValue> values_;
};

}  // namespace fxcli
