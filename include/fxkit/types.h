/* fxkit: the types every export shares: the bitmap record, result codes, points, rectangles,
 * colours and the export macro. */
#ifndef FXKIT_TYPES_H
#define FXKIT_TYPES_H

#include <stdint.h>

#ifdef __cplusplus
#define FXKIT_EXTERN_C extern "C"
#else
#define FXKIT_EXTERN_C
#endif

/* Every public function is declared with FXKIT_API; everything else stays hidden. */
#define FXKIT_API FXKIT_EXTERN_C __attribute__((visibility("default")))

/* Result codes. Host codes (below) pass through the effects unchanged. */
#define SUCCESS 1
#define ERROR_NO_MEMORY (-1)
#define ERROR_NO_BITMAP (-2)
#define ERROR_POINT_OUT_OF_RANGE (-11)
#define ERROR_INV_PARAMETER (-13)
#define ERROR_EMPTY_RECT (-56)
#define ERROR_INV_STRUCT_SIZE (-789)
#define ERROR_NULL_INFO (-814)
#define ERROR_UNSUPPORTED_FLAG (-1360)
#define ERROR_UNSUPPORTED_ORDER (-1364)

/* Codes of the host layer. */
#define ERROR_HOST_BAD_FORMAT (-2001)    /* depth/order combination the host cannot hold */
#define ERROR_HOST_BAD_RECORD (-2002)    /* record fields inconsistent with its storage */
#define ERROR_HOST_ROW_RANGE (-2003)     /* row number outside 0 .. Height - 1 */
#define ERROR_HOST_WRONG_PHASE (-2004)   /* write before the write phase began, or begun twice */
#define ERROR_HOST_BAD_ARGUMENT (-2005)  /* null handle or buffer, invalid size */
#define ERROR_HOST_INJECTED (-2099)      /* default code of an injected row fault (tests) */
#define ERROR_HOST_CANCELLED (-2100)     /* conventional answer of a callback that cancels */

/* Bits of BitmapRecord.Flags. */
#define FLAG_ALLOCATED 0x1u
#define FLAG_UNSUPPORTED 0x200u

/* Sample orders of BitmapRecord.Order. */
#define ORDER_BGR 0u
#define ORDER_RGB 1u
#define ORDER_GRAY 2u

#define BITMAP_STRUCT_SIZE 272u
#define BITMAP_STRUCT_SIZE_OLD 228u

typedef uint32_t COLORREF; /* red bits 0-7, green 8-15, blue 16-23 */

typedef struct POINT {
  int32_t x;
  int32_t y;
} POINT;

typedef struct RECT {
  int32_t left;
  int32_t top;
  int32_t right; /* exclusive */
  int32_t bottom; /* exclusive */
} RECT;

struct HostRegion;

/* The bitmap description. The first seven fields are what the effects read; the rest belong to
 * the host. Every host field lies inside the first 228 bytes, so a record of the older, shorter
 * layout (StructSize 228) carries everything the host needs. */
typedef struct BitmapRecord {
  uint32_t StructSize;     /* 272, or 228 for the older layout */
  int32_t Width;           /* pixels per row in the current orientation */
  int32_t Height;          /* rows in the current orientation */
  int32_t BitsPerPixel;    /* 1, 4, 8, 12, 16, 24, 32, 48 or 64 */
  uint32_t Flags;          /* FLAG_ALLOCATED, ... */
  uint8_t Orientation;     /* 1..8; 5..8 transpose rows and columns */
  uint8_t Reserved0[3];
  uint32_t Order;          /* ORDER_BGR, ORDER_RGB or ORDER_GRAY */
  int32_t BytesPerLine;    /* stride of the stored rows */
  uint8_t* Data;           /* stored rows, top to bottom, in orientation 1 */
  COLORREF* Palette;       /* colour table of 1-, 4- and 8-bit colour bitmaps */
  uint32_t PaletteCount;   /* entries in Palette */
  int32_t StoredWidth;     /* pixels per stored row */
  int32_t StoredHeight;    /* stored rows */
  uint32_t HostFlags;      /* ownership of Data and Palette (host internal) */
  struct HostRegion* Region; /* the region, or null */
  uint8_t Reserved1[272 - 72];
} BitmapRecord;

#ifdef __cplusplus
static_assert(sizeof(BitmapRecord) == 272, "BitmapRecord must be 272 bytes");
static_assert(sizeof(POINT) == 8, "POINT is passed as one 64-bit value");
#endif

#endif
