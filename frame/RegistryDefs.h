// Helpers for writing effect descriptors next to their exports, and the list of descriptors.
#pragma once

#include <cstddef>
#include <cstdint>

#include "fxkit/registry.h"

namespace fx {

inline constexpr int64_t kAnyInt32Min = INT32_MIN;
inline constexpr int64_t kAnyInt32Max = INT32_MAX;
inline constexpr int64_t kAnyUInt32Max = UINT32_MAX;

constexpr FxParamDesc Param(const char* name, FxKind kind, FxDefaultRule rule, int64_t def,
                            int64_t min, int64_t max, const char* help) {
  return FxParamDesc{name, kind, rule, def, min, max, help, nullptr, nullptr, 0, -1, 0, nullptr, 0};
}

// Signed and unsigned 32-bit integers, flag words and colours with a fixed default.
constexpr FxParamDesc IntParam(const char* name, int32_t def, int64_t min, int64_t max,
                               const char* help) {
  return Param(name, FX_KIND_INT32, FX_DEFAULT_VALUE, def, min, max, help);
}
constexpr FxParamDesc UIntParam(const char* name, uint32_t def, int64_t min, int64_t max,
                                const char* help) {
  return Param(name, FX_KIND_UINT32, FX_DEFAULT_VALUE, def, min, max, help);
}
constexpr FxParamDesc FlagsParam(const char* name, uint32_t def, int64_t min, int64_t max,
                                 const char* help) {
  return Param(name, FX_KIND_FLAGS, FX_DEFAULT_VALUE, def, min, max, help);
}
// A flags-like parameter whose bit fields have names (`mode=average shape=polar`).
template <size_t N>
constexpr FxParamDesc FlagsParam(const char* name, uint32_t def, int64_t min, int64_t max,
                                 const char* help, const FxFlagField (&fields)[N]) {
  FxParamDesc p = Param(name, FX_KIND_FLAGS, FX_DEFAULT_VALUE, def, min, max, help);
  p.flagFields = fields;
  p.flagFieldCount = static_cast<uint32_t>(N);
  return p;
}
// A bit field of a flags parameter and its named values.
template <size_t N>
constexpr FxFlagField FlagField(const char* name, uint32_t mask, const FxFlagValue (&values)[N],
                                const char* help) {
  return FxFlagField{name, mask, values, static_cast<uint32_t>(N), help};
}
constexpr FxParamDesc ColorParam(const char* name, uint32_t def, const char* help) {
  return Param(name, FX_KIND_COLOR, FX_DEFAULT_VALUE, def, 0, kAnyUInt32Max, help);
}
// A point whose default is the centre of the rectangle to process.
constexpr FxParamDesc CenterParam(const char* name, const char* help) {
  return Param(name, FX_KIND_POINT, FX_DEFAULT_CENTER, 0, kAnyInt32Min, kAnyInt32Max, help);
}
// A point with a fixed default.
constexpr FxParamDesc PointParam(const char* name, int32_t x, int32_t y, const char* help) {
  return Param(name, FX_KIND_POINT, FX_DEFAULT_VALUE,
               static_cast<int64_t>(static_cast<uint32_t>(x)) |
                   static_cast<int64_t>(static_cast<uint64_t>(static_cast<uint32_t>(y)) << 32),
               kAnyInt32Min, kAnyInt32Max, help);
}
// An integer whose default is a percentage of the bitmap's width or height.
constexpr FxParamDesc SizeParam(const char* name, FxDefaultRule rule, int32_t percent, int64_t min,
                                int64_t max, const char* help) {
  return Param(name, FX_KIND_INT32, rule, percent, min, max, help);
}
// A pointer to a record, defaulting to the record's field defaults.
constexpr FxParamDesc RecordParam(const char* name, const FxRecordDesc* record, const char* help) {
  FxParamDesc p = Param(name, FX_KIND_RECORD, FX_DEFAULT_ARRAY, 0, 0, 0, help);
  p.record = record;
  return p;
}
// A pointer to `defaultCount` records by default.
constexpr FxParamDesc RecordArrayParam(const char* name, const FxRecordDesc* record,
                                       uint32_t defaultCount, const char* help) {
  FxParamDesc p = Param(name, FX_KIND_RECORD_ARRAY, FX_DEFAULT_ARRAY, 0, 0, 0, help);
  p.record = record;
  p.defaultArrayCount = defaultCount;
  return p;
}
// A pointer to int32 values; element range min .. max. fixedCount: values without a count
// parameter (0 when a count parameter follows).
constexpr FxParamDesc IntArrayParam(const char* name, const int32_t* defaults, uint32_t count,
                                    int64_t min, int64_t max, uint32_t fixedCount,
                                    const char* help) {
  FxParamDesc p = Param(name, FX_KIND_INT_ARRAY, FX_DEFAULT_ARRAY, 0, min, max, help);
  p.defaultArray = defaults;
  p.defaultArrayCount = count;
  p.fixedCount = fixedCount;
  return p;
}
// The count of the array parameter at index arrayIndex; defaults to that array's length.
constexpr FxParamDesc CountParam(const char* name, FxKind kind, int32_t arrayIndex, int64_t min,
                                 int64_t max, const char* help) {
  FxParamDesc p = Param(name, kind, FX_DEFAULT_COUNT, 0, min, max, help);
  p.arrayParam = arrayIndex;
  return p;
}
// A bitmap parameter (mask, texture, bump map).
constexpr FxParamDesc BitmapParam(const char* name, FxDefaultRule rule, const char* help) {
  return Param(name, FX_KIND_BITMAP, rule, 0, 0, 0, help);
}

// Field of a parameter record.
constexpr FxFieldDesc Field(const char* name, FxKind kind, uint32_t offset, int64_t def,
                            int64_t min, int64_t max, const char* help) {
  return FxFieldDesc{name, kind, offset, def, min, max, help, nullptr, 0, 0};
}
// A record field whose bit fields have names (PlasmaInfo.Style: `pattern=rings`).
template <size_t N>
constexpr FxFieldDesc Field(const char* name, FxKind kind, uint32_t offset, int64_t def,
                            int64_t min, int64_t max, const char* help,
                            const FxFlagField (&fields)[N]) {
  return FxFieldDesc{name, kind, offset, def, min, max, help, fields, static_cast<uint32_t>(N), 0};
}
// A pointer field of a parameter record leading to `count` int32 values (min .. max each); null
// by default.
constexpr FxFieldDesc ArrayField(const char* name, uint32_t offset, uint32_t count, int64_t min,
                                 int64_t max, const char* help) {
  return FxFieldDesc{name, FX_KIND_INT_ARRAY, offset, 0, min, max, help, nullptr, 0, count};
}

// An integer parameter with named values (an enum-like word such as `direction`, given one
// field of mask 0xFFFFFFFF named like the parameter).
template <size_t N>
constexpr FxParamDesc Named(FxParamDesc p, const FxFlagField (&fields)[N]) {
  p.flagFields = fields;
  p.flagFieldCount = static_cast<uint32_t>(N);
  return p;
}
// The mask of a field that names values of the whole word.
inline constexpr uint32_t kWholeWord = 0xFFFFFFFFu;

// Argument conversions used by the thunks.
inline int32_t ArgI32(const FxValue& v) {
  return static_cast<int32_t>(v.i);
}
inline uint32_t ArgU32(const FxValue& v) {
  return static_cast<uint32_t>(v.i);
}
template <class T>
inline T* ArgPtr(const FxValue& v) {
  return static_cast<T*>(const_cast<void*>(v.ptr));
}

template <class T, size_t N>
constexpr uint32_t CountOf(const T (&)[N]) {
  return static_cast<uint32_t>(N);
}

// Every effect descriptor, in the order `fxkit list` shows them within a family.
extern const FxEffectDesc* const kEffectList[];
extern const uint32_t kEffectListSize;

}  // namespace fx
