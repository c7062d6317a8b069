// What the registry's generic call and its reading of human values share: the rectangle the
// effects see, the check of a value against its kind and range, and the one-line messages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fxkit/registry.h"

namespace fx {

// The bitmap's whole rectangle and the rectangle to process as the effects see them: in
// orientation 1. A record with an orientation code outside 1 .. 8 is measured as it stands (the
// export will refuse it), so the record is never left changed.
struct Extent {
  RECT whole, process;
};
Extent ExtentInOrientationOne(BitmapRecord* bitmap);

// A 32-bit value as the export's parameter receives it, when `value` fits the kind: INT32 takes
// -2^31 .. 2^31 - 1, UINT32 0 .. 2^32 - 1, FLAGS and COLOR any bit pattern -2^31 .. 2^32 - 1.
// `word` is the value as the export's type reads it (signed for INT32, unsigned otherwise).
bool FitsKind(FxKind kind, int64_t value, int64_t& word);
// The value fits its kind and its word lies within min .. max.
bool InKindAndRange(FxKind kind, int64_t value, int64_t min, int64_t max);
// "-500..500", "0x110..0xFFF00FFF" (flags and colours in hex).
std::string RangeText(FxKind kind, int64_t min, int64_t max);
// Decimal or 0x hex with an optional sign, within 64 bits. `pattern`: an unsigned hex literal of
// at most 8 digits, which 32-bit kinds take as a bit pattern.
bool ParseInteger(std::string_view text, int64_t& value, bool& pattern);
// A decimal number. (std::to_string and the std algorithms that allocate would instantiate
// library templates the shared object exports; the registry keeps to its own.)
std::string Decimal(int64_t value);
// A value as the registry writes it in messages: hex for flags and colours, "x,y" for points.
std::string ValueText(FxKind kind, int64_t value);

// ASCII case-insensitive equality.
bool SameName(std::string_view a, std::string_view b);
// Up to three of `candidates` close to `typed` (edit distance or containment, case-insensitive),
// nearest first, as " (did you mean a, b or c?)", or "" when none is close.
std::string Suggestion(std::string_view typed, const std::vector<std::string>& candidates);

// Copies `text` into a caller's buffer (null or zero-sized: nothing), always terminated.
void WriteMessage(char* message, size_t size, const std::string& text);

}  // namespace fx
