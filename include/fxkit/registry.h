/* fxkit registry: every effect described at run time (names, family, parameters with kinds,
 * defaults and ranges) and a generic call from named values. */
#ifndef FXKIT_REGISTRY_H
#define FXKIT_REGISTRY_H

#include <stddef.h>

#include "fxkit/types.h"

typedef enum FxFamily {
  FX_FAMILY_DISTORTION = 0,
  FX_FAMILY_BLUR_LIGHT_GLOW = 1,
  FX_FAMILY_ARTISTIC = 2, /* artistic, tile and texture */
  FX_FAMILY_PROCEDURAL = 3,
  FX_FAMILY_RESCALING = 4
} FxFamily;

typedef enum FxKind {
  FX_KIND_INT32 = 0,        /* signed 32-bit */
  FX_KIND_UINT32 = 1,       /* unsigned 32-bit */
  FX_KIND_FLAGS = 2,        /* 32-bit flag word */
  FX_KIND_POINT = 3,        /* POINT by value */
  FX_KIND_COLOR = 4,        /* COLORREF 0x00BBGGRR */
  FX_KIND_RECORD = 5,       /* pointer to a record whose first field is its size */
  FX_KIND_INT_ARRAY = 6,    /* pointer to signed 32-bit values (curves, tables, palettes) */
  FX_KIND_RECORD_ARRAY = 7, /* pointer to an array of records (lights) */
  FX_KIND_BITMAP = 8        /* pointer to a BitmapRecord (mask, texture, bump map) */
} FxKind;

/* How a parameter's default is formed when the caller gives no value. */
typedef enum FxDefaultRule {
  FX_DEFAULT_VALUE = 0,          /* defaultValue (scalars, or x | y << 32 for points) */
  FX_DEFAULT_CENTER = 1,         /* point: centre of the rectangle to process */
  FX_DEFAULT_WIDTH_PERCENT = 2,  /* integer: defaultValue percent of the bitmap's width */
  FX_DEFAULT_HEIGHT_PERCENT = 3, /* integer: defaultValue percent of the bitmap's height */
  FX_DEFAULT_NULL = 4,           /* pointer: null */
  FX_DEFAULT_IMAGE_COPY = 5,     /* bitmap: a copy of the bitmap being processed */
  FX_DEFAULT_TEXTURE = 6,        /* bitmap: a generated 128x128 gray texture */
  FX_DEFAULT_ARRAY = 7,          /* arrays: defaultArray; records: the record's field defaults */
  FX_DEFAULT_COUNT = 8,          /* integer: the length of the array parameter arrayParam */
  FX_DEFAULT_IMAGE_ITSELF = 9    /* bitmap: the bitmap being processed itself */
} FxDefaultRule;

/* A named value of a bit field inside a flags-like parameter or record field: `value` is given in
 * the field's own position (already shifted into `mask`). */
typedef struct FxFlagValue {
  const char* name; /* "fill", "edge", "keep" */
  uint32_t value;
  const char* help;
} FxFlagValue;

/* A bit field inside an integer-like parameter or record field (`outside=fill|edge|keep`). A
 * field whose mask is 0xFFFFFFFF names values of the whole word (`direction=vertical`); such a
 * field carries the name of its parameter. */
typedef struct FxFlagField {
  const char* name; /* "outside", "shape", "direction" */
  uint32_t mask;    /* the bits the field occupies */
  const FxFlagValue* values;
  uint32_t valueCount;
  const char* help;
} FxFlagField;

/* One field of a parameter record. Field 0 is the size field. */
typedef struct FxFieldDesc {
  const char* name;
  FxKind kind; /* INT32, UINT32, FLAGS, COLOR, POINT, or INT_ARRAY: a 64-bit pointer (null by
                  default) to arrayCount int32 values */
  uint32_t offset;
  int64_t defaultValue;
  int64_t minValue; /* accepted range (outer bounds); for INT_ARRAY, of each value */
  int64_t maxValue;
  const char* help;
  const FxFlagField* flagFields; /* named bit fields of a flags-like field, or null */
  uint32_t flagFieldCount;
  uint32_t arrayCount; /* INT_ARRAY: the number of values the record's pointer leads to */
} FxFieldDesc;

typedef struct FxRecordDesc {
  const char* name;
  uint32_t size; /* the one size value the export accepts */
  const FxFieldDesc* fields;
  uint32_t fieldCount;
} FxRecordDesc;

typedef struct FxParamDesc {
  const char* name; /* as the export documents it */
  FxKind kind;
  FxDefaultRule defaultRule;
  int64_t defaultValue;
  int64_t minValue; /* accepted range (outer bounds); for arrays, of each element */
  int64_t maxValue;
  const char* help;
  const FxRecordDesc* record;    /* RECORD and RECORD_ARRAY */
  const int32_t* defaultArray;   /* INT_ARRAY with FX_DEFAULT_ARRAY */
  uint32_t defaultArrayCount;    /* values in defaultArray; records in a default RECORD_ARRAY */
  int32_t arrayParam;            /* count parameters: index of the array they count, else -1 */
  uint32_t fixedCount;           /* arrays without a count parameter: the number of values */
  const FxFlagField* flagFields; /* named bit fields of a flags-like parameter, or null */
  uint32_t flagFieldCount;
} FxParamDesc;

/* A value for one parameter. Records, arrays and bitmaps are passed by pointer. */
typedef union FxValue {
  int64_t i;
  POINT pt;
  const void* ptr;
} FxValue;

typedef int32_t (*FxThunk)(BitmapRecord* bitmap, const FxValue* args);

/* A telling parameter set: values in the command line's syntax, "angle=2000 center=100,80". */
typedef struct FxPreset {
  const char* name;
  const char* values;
} FxPreset;

/* Traits of an effect that callers and test harnesses need to know. */
#define FX_TRAIT_RANDOM 0x1u  /* draws from the thread's generator */
#define FX_TRAIT_CLOCK 0x2u   /* reads the tick count or the calendar time */
#define FX_TRAIT_RESIZES 0x4u /* may change the bitmap's size or replace its storage */
#define FX_TRAIT_WHOLE_IMAGE                                                               \
  0x8u                          /* changes pixels through whole-image host operations, not \
                                   only through row writes */
#define FX_TRAIT_PROGRESS 0x10u /* reports progress of its own besides the row writes */
#define FX_TRAIT_FAILURE_AS_NO_MEMORY                        \
  0x20u /* answers failed row operations, write preparations \
           and cancels with ERROR_NO_MEMORY, not their code */
/* What the effect does with pixels, for front ends that carry an alpha channel beside the
 * colour (the library itself keeps a fourth sample unchanged). Every effect has exactly one. */
#define FX_TRAIT_MOVES_PIXELS 0x40u /* moves or mixes pixels: alpha moves and mixes with them */
#define FX_TRAIT_TONES_ONLY 0x80u   /* changes each pixel's tone in place: alpha is kept */
#define FX_TRAIT_SERIAL                                             \
  0x100u /* computes its rows in order on the calling thread (plots \
            curves step by step, or removes seams one by one);      \
            every other effect spreads its rows over threads */

typedef struct FxEffectDesc {
  const char* shortName;  /* "swirl", "zoom-blur" */
  const char* exportName; /* "Fx_SwirlBitmap" */
  FxFamily family;
  const char* summary;
  const FxParamDesc* params; /* export order, bitmap excluded */
  uint32_t paramCount;
  FxThunk call;            /* calls the export with args in export order */
  const FxPreset* presets; /* parameter sets worth showing or measuring besides the defaults */
  uint32_t presetCount;
  uint32_t traits; /* FX_TRAIT_* */
} FxEffectDesc;

typedef struct FxNamedValue {
  const char* name;
  FxValue value;
  uint32_t count; /* arrays: number of values or records given; else 0 */
} FxNamedValue;

/* Registry-level failures, distinct from the effects' own codes. */
#define FX_REGISTRY_UNKNOWN_PARAMETER (-30001)
#define FX_REGISTRY_DUPLICATE_PARAMETER (-30002)
#define FX_REGISTRY_COUNT_TOO_LARGE (-30003) /* a count beyond the values of its array */
#define FX_REGISTRY_ARRAY_TOO_SHORT (-30004) /* fewer values than a fixed-length array holds */
#define FX_REGISTRY_UNKNOWN_EFFECT (-30005)  /* null or unknown effect */
#define FX_REGISTRY_BAD_VALUE (-30006)       /* text that is no value of the parameter's kind */
#define FX_REGISTRY_OUT_OF_RANGE (-30007)    /* a value outside its kind or the registry range */
#define FX_REGISTRY_NEEDS_BITMAP (-30008)    /* a valid relative value, but no bitmap to measure */
#define FX_REGISTRY_AMBIGUOUS_NAME (-30009)  /* a bare field name several records share */
#define FX_REGISTRY_UNKNOWN_PRESET (-30010)

FXKIT_API uint32_t FxEffectCount(void);
FXKIT_API const FxEffectDesc* FxEffectAt(uint32_t index);
/* By short name or export name, exactly or else case-insensitively; null when unknown. */
FXKIT_API const FxEffectDesc* FxFindEffect(const char* name);
FXKIT_API const char* FxFamilyName(FxFamily family);
FXKIT_API const char* FxKindName(FxKind kind);
/* Index of a parameter by name (exactly, else case-insensitively), or -1. */
FXKIT_API int32_t FxFindParam(const FxEffectDesc* effect, const char* name);
/* Calls the effect on the bitmap with the named values; unnamed parameters take their defaults.
 * Records given are passed to the export as copies, so what an export writes into its record
 * (the vignette's softness) stays out of the values and repeated calls see the same values.
 * Returns the export's result, or a FX_REGISTRY_* code when the values do not fit the effect. */
FXKIT_API int32_t FxInvoke(const FxEffectDesc* effect, BitmapRecord* bitmap,
                           const FxNamedValue* values, uint32_t valueCount);

/* The name of a result code: "SUCCESS", "ERROR_POINT_OUT_OF_RANGE", "ERROR_HOST_CANCELLED",
 * "FX_REGISTRY_COUNT_TOO_LARGE", ...; null for a code without a name. */
FXKIT_API const char* FxResultName(int32_t code);
/* Index of a record field by name (exactly, else case-insensitively), or -1. */
FXKIT_API int32_t FxFindField(const FxRecordDesc* record, const char* name);
/* Fills record->size bytes at `out` with the field defaults; field 0 gets the record's size. */
FXKIT_API void FxFillRecordDefaults(const FxRecordDesc* record, void* out);
/* Stores one field value into a record (points as x | y << 32, like FxParamDesc defaults; an
 * INT_ARRAY field takes the bits of the pointer, 0 for null). */
FXKIT_API void FxStoreField(const FxFieldDesc* field, void* record, int64_t value);
/* The default FxInvoke gives a scalar parameter (integer, flags, colour, point) on this bitmap.
 * Returns 1 with *value set, or 0 for records, arrays, bitmaps and counts. */
FXKIT_API int32_t FxScalarDefault(const FxParamDesc* param, BitmapRecord* bitmap, FxValue* value);

/* ---- Human values ----------------------------------------------------------------------------
 * The forms people type, shared by the command line and the bindings. Names are matched exactly
 * first, then case-insensitively. Every function that can refuse writes one line into
 * `message` (may be null; always terminated when messageSize > 0) that names the effect, the
 * parameter and what was expected, with "did you mean" suggestions for unknown names:
 *   "spherize: strength=600 is outside -500..500"
 *   "swirl: unknown parameter 'angel' (did you mean angle?)"
 *
 * Values (FxParseValue):
 * - integers: decimal, or 0x hex; an unsigned hex literal of up to 8 digits is a 32-bit pattern
 *   (0xFFFFFFFF is -1 for a signed parameter); decimal values are numbers and must fit the kind.
 *   Flag words and colours take any value from -2^31 to 2^32 - 1 as a bit pattern.
 * - relative integers: N%w, N%h, N%s: N percent (up to 4 decimals, sign allowed) of the width,
 *   height or shorter side of the rectangle to process (the region's bounds, else the bitmap),
 *   measured in orientation 1 as the effects see it; the product is truncated toward zero.
 * - points: X,Y; each coordinate absolute or P% (P percent of the rectangle's width for X, height
 *   for Y, from its left or top edge: 50%,50% is the centre, truncated toward zero).
 * - colours: 0x00BBGGRR or decimal integers, #RGB, #RRGGBB, rgb(R,G,B) with R, G, B in 0..255,
 *   and the CSS colour names (white, teal, rebeccapurple, ...).
 * - named values: the value names of a parameter's or record field's bit fields; a parameter with
 *   a whole-word field (mask 0xFFFFFFFF) also takes that field's names for its own value.
 * Values are checked against the kind and the registry range; relative values once measured. */

/* What a name sets: a parameter, a field of its record(s), or a named bit field of either. */
typedef struct FxTarget {
  int32_t param;     /* parameter index */
  int32_t field;     /* record field index, or -1 */
  int32_t index;     /* record-array index given as name[i].Field, or -1 */
  int32_t flagField; /* bit field of the parameter or record field, or -1 for the whole value */
} FxTarget;

/* A parsed value, ready for FxNamedValue (parameters) or FxStoreField (record fields). */
typedef struct FxParsed {
  int64_t value;     /* 32-bit kinds: the export's word, sign-extended for INT32 and zero-extended
                        otherwise; points: x | y << 32; bit fields: the bits within `mask` */
  uint32_t mask;     /* the bits the value sets: a bit field's mask, else 0xFFFFFFFF. Combine a
                        bit field into a word with (word & ~mask) | value */
  uint32_t relative; /* 1 when the text was relative to the bitmap */
} FxParsed;

/* Finds an effect by short or export name, case-insensitively; null with a message
 * ("unknown effect 'swril' (did you mean swirl?)") when there is none. */
FXKIT_API const FxEffectDesc* FxLookupEffect(const char* name, char* message, size_t messageSize);

/* Resolves a name for one effect: "param", "param.Field", a record field by its bare name,
 * "param[i].Field" for arrays of records, or the name of a bit field of a parameter or a record
 * field ("mode", "Style"'s "pattern"). SUCCESS, FX_REGISTRY_UNKNOWN_PARAMETER or
 * FX_REGISTRY_AMBIGUOUS_NAME (with the message). A record, record array, integer array or bitmap
 * parameter named as a whole resolves too; FxParseValue then refuses it unless it is an integer
 * array (one element is parsed). */
FXKIT_API int32_t FxResolveName(const FxEffectDesc* effect, const char* name, FxTarget* target,
                                char* message, size_t messageSize);

/* Parses the text of one value for a resolved target: a scalar parameter, a record field, a bit
 * field, or one element of an integer array. `bitmap` (may be null) measures relative values;
 * without it a valid relative value answers FX_REGISTRY_NEEDS_BITMAP, so callers can check
 * everything else before an image is at hand. A value that fits its kind but not the registry
 * range is still stored in `out` (with FX_REGISTRY_OUT_OF_RANGE), so a caller setting named bit
 * fields on top of it can check the composed word instead. Returns SUCCESS, FX_REGISTRY_BAD_VALUE,
 * FX_REGISTRY_OUT_OF_RANGE, FX_REGISTRY_NEEDS_BITMAP or FX_REGISTRY_UNKNOWN_PARAMETER (a bad
 * target), with the message. */
FXKIT_API int32_t FxParseValue(const FxEffectDesc* effect, const FxTarget* target, const char* text,
                               BitmapRecord* bitmap, FxParsed* out, char* message,
                               size_t messageSize);

/* Writes a value of a flags-like parameter or record field as its named bit fields, one
 * "name=value" per field, separated by spaces ("mode=average shape=grid"). Fields whose bits
 * equal `skipEqualTo`'s are left out when skipEqualTo is not null. Returns 1, or 0 when the value
 * has bits no named value describes (`out` then holds ""). */
FXKIT_API int32_t FxFormatNamed(const FxFlagField* fields, uint32_t fieldCount, uint32_t value,
                                const uint32_t* skipEqualTo, char* out, size_t outSize);

/* A colour in any of the forms above (integers 0x00BBGGRR, #RGB, #RRGGBB, rgb(R,G,B), CSS
 * names), for values outside any effect (a background). SUCCESS or FX_REGISTRY_BAD_VALUE with
 * the message. */
FXKIT_API int32_t FxParseColor(const char* text, COLORREF* colour, char* message,
                               size_t messageSize);

/* A preset of the effect by name, case-insensitively; null with a message ("swirl: unknown
 * preset 'strnog' (did you mean strong?)"). */
FXKIT_API const FxPreset* FxFindPreset(const FxEffectDesc* effect, const char* name, char* message,
                                       size_t messageSize);

/* What FxInvokeEx refused: the parameter (and record field or element) and one line naming it.
 * All indices are -1 and the message empty when the registry refused nothing (the export then
 * ran, and its result is the final word). */
typedef struct FxReport {
  int32_t param;
  int32_t field;
  int32_t element; /* array element or record index */
  char message[256];
} FxReport;

/* FxInvokeEx options. */
#define FX_INVOKE_CHECK_RANGES                                     \
  0x1u /* refuse given values outside their kind or registry range \
          (FX_REGISTRY_OUT_OF_RANGE) before calling the export:    \
          scalars, counts, record fields, array elements */

/* FxInvoke with options and a report of the value the registry refused (report may be null). */
FXKIT_API int32_t FxInvokeEx(const FxEffectDesc* effect, BitmapRecord* bitmap,
                             const FxNamedValue* values, uint32_t valueCount, uint32_t options,
                             FxReport* report);

#endif
