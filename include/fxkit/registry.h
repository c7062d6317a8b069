/* fxkit registry: every effect described at run time (names, family, parameters with kinds,
 * defaults and ranges) and a generic call from named values. */
#ifndef FXKIT_REGISTRY_H
#define FXKIT_REGISTRY_H

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
  FX_DEFAULT_VALUE = 0,         /* defaultValue (scalars, or x | y << 32 for points) */
  FX_DEFAULT_CENTER = 1,        /* point: centre of the rectangle to process */
  FX_DEFAULT_WIDTH_PERCENT = 2, /* integer: defaultValue percent of the bitmap's width */
  FX_DEFAULT_HEIGHT_PERCENT = 3,/* integer: defaultValue percent of the bitmap's height */
  FX_DEFAULT_NULL = 4,          /* pointer: null */
  FX_DEFAULT_IMAGE_COPY = 5,    /* bitmap: a copy of the bitmap being processed */
  FX_DEFAULT_TEXTURE = 6,       /* bitmap: a generated 128x128 gray texture */
  FX_DEFAULT_ARRAY = 7,         /* arrays: defaultArray; records: the record's field defaults */
  FX_DEFAULT_COUNT = 8,         /* integer: the length of the array parameter arrayParam */
  FX_DEFAULT_IMAGE_ITSELF = 9   /* bitmap: the bitmap being processed itself */
} FxDefaultRule;

/* A named value of a bit field inside a flags parameter: `value` is given in the field's own
 * position (already shifted into `mask`). */
typedef struct FxFlagValue {
  const char* name; /* "fill", "edge", "keep" */
  uint32_t value;
  const char* help;
} FxFlagValue;

/* A bit field inside a flags-like parameter or record field (`outside=fill|edge|keep`). */
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
  const FxRecordDesc* record;  /* RECORD and RECORD_ARRAY */
  const int32_t* defaultArray; /* INT_ARRAY with FX_DEFAULT_ARRAY */
  uint32_t defaultArrayCount;  /* values in defaultArray; records in a default RECORD_ARRAY */
  int32_t arrayParam;          /* count parameters: index of the array they count, else -1 */
  uint32_t fixedCount;         /* arrays without a count parameter: the number of values */
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
#define FX_TRAIT_RANDOM 0x1u        /* draws from the thread's generator */
#define FX_TRAIT_CLOCK 0x2u         /* reads the tick count or the calendar time */
#define FX_TRAIT_RESIZES 0x4u       /* may change the bitmap's size or replace its storage */
#define FX_TRAIT_WHOLE_IMAGE 0x8u   /* changes pixels through whole-image host operations, not
                                       only through row writes */
#define FX_TRAIT_PROGRESS 0x10u     /* reports progress of its own besides the row writes */
#define FX_TRAIT_FAILURE_AS_NO_MEMORY 0x20u /* answers failed row operations, write preparations
                                               and cancels with ERROR_NO_MEMORY, not their code */
/* What the effect does with pixels, for front ends that carry an alpha channel beside the
 * colour (the library itself keeps a fourth sample unchanged). Every effect has exactly one. */
#define FX_TRAIT_MOVES_PIXELS 0x40u /* moves or mixes pixels: alpha moves and mixes with them */
#define FX_TRAIT_TONES_ONLY 0x80u   /* changes each pixel's tone in place: alpha is kept */
#define FX_TRAIT_SERIAL 0x100u      /* computes its rows in order on the calling thread (draws
                                       random numbers pixel by pixel, or removes seams one by
                                       one); every other effect spreads its rows over threads */

typedef struct FxEffectDesc {
  const char* shortName;  /* "swirl", "zoom-blur" */
  const char* exportName; /* "Fx_SwirlBitmap" */
  FxFamily family;
  const char* summary;
  const FxParamDesc* params; /* export order, bitmap excluded */
  uint32_t paramCount;
  FxThunk call; /* calls the export with args in export order */
  const FxPreset* presets; /* parameter sets worth showing or measuring besides the defaults */
  uint32_t presetCount;
  uint32_t traits; /* FX_TRAIT_* */
} FxEffectDesc;

typedef struct FxNamedValue {
  const char* name;
  FxValue value;
  uint32_t count; /* arrays: number of values or records given; else 0 */
} FxNamedValue;

/* Registry-level failures of FxInvoke, distinct from the effects' own codes. */
#define FX_REGISTRY_UNKNOWN_PARAMETER (-30001)
#define FX_REGISTRY_DUPLICATE_PARAMETER (-30002)
#define FX_REGISTRY_COUNT_TOO_LARGE (-30003)   /* a count beyond the values of its array */
#define FX_REGISTRY_ARRAY_TOO_SHORT (-30004)   /* fewer values than a fixed-length array holds */
#define FX_REGISTRY_UNKNOWN_EFFECT (-30005)    /* null effect descriptor */

FXKIT_API uint32_t FxEffectCount(void);
FXKIT_API const FxEffectDesc* FxEffectAt(uint32_t index);
/* By short name or export name; null when unknown. */
FXKIT_API const FxEffectDesc* FxFindEffect(const char* name);
FXKIT_API const char* FxFamilyName(FxFamily family);
FXKIT_API const char* FxKindName(FxKind kind);
/* Index of a parameter by name, or -1. */
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
/* Index of a record field by name, or -1. */
FXKIT_API int32_t FxFindField(const FxRecordDesc* record, const char* name);
/* Fills record->size bytes at `out` with the field defaults; field 0 gets the record's size. */
FXKIT_API void FxFillRecordDefaults(const FxRecordDesc* record, void* out);
/* Stores one field value into a record (points as x | y << 32, like FxParamDesc defaults; an
 * INT_ARRAY field takes the bits of the pointer, 0 for null). */
FXKIT_API void FxStoreField(const FxFieldDesc* field, void* record, int64_t value);
/* The default FxInvoke gives a scalar parameter (integer, flags, colour, point) on this bitmap.
 * Returns 1 with *value set, or 0 for records, arrays, bitmaps and counts. */
FXKIT_API int32_t FxScalarDefault(const FxParamDesc* param, BitmapRecord* bitmap, FxValue* value);

#endif
