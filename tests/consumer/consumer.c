/* A program built against an installed fxkit, as an application would: the headers and the
 * shared library come from the install prefix only. It checks that the library it runs with is
 * the version it was built for, then swirls a bitmap through the export and through the
 * registry and expects the same pixels from both. Exit status 0 when everything holds. */
#include <stdio.h>
#include <string.h>

#include "fxkit/fxkit.h"

#ifndef FXKIT_EXPECTED_VERSION
#error "build with -DFXKIT_EXPECTED_VERSION=\"x.y.z\" (the version the package reports)"
#endif

enum { kWidth = 64, kHeight = 48 };

static int MakeBitmap(BitmapRecord* bitmap) {
  if (HostCreateBitmap(bitmap, sizeof(BitmapRecord), 1, kWidth, kHeight, 24, ORDER_RGB, NULL, 1,
                       NULL, 0) != SUCCESS)
    return 0;
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* row = bitmap->Data + y * bitmap->BytesPerLine;
    for (int x = 0; x < kWidth; ++x) {
      row[3 * x + 0] = (uint8_t)(x * 4);
      row[3 * x + 1] = (uint8_t)(y * 5);
      row[3 * x + 2] = (uint8_t)(((x / 8 + y / 8) % 2) * 255);
    }
  }
  return 1;
}

int main(void) {
  char expected[64];
  snprintf(expected, sizeof(expected), "fxkit %s", FXKIT_EXPECTED_VERSION);
  if (strcmp(FxVersion(), expected) != 0) {
    fprintf(stderr, "library reports '%s', the package '%s'\n", FxVersion(), expected);
    return 1;
  }

  BitmapRecord direct, invoked, original;
  if (!MakeBitmap(&direct) || !MakeBitmap(&invoked) || !MakeBitmap(&original)) return 1;
  POINT center = {20, 30};
  int32_t rc = Fx_SwirlBitmap(&direct, 900, center, 0);
  const FxEffectDesc* swirl = FxFindEffect("swirl");
  FxNamedValue values[2] = {{"angle", {0}, 0}, {"center", {0}, 0}};
  values[0].value.i = 900;
  values[1].value.pt = center;
  int32_t rcInvoked = swirl ? FxInvoke(swirl, &invoked, values, 2) : FX_REGISTRY_UNKNOWN_EFFECT;

  int status = 0;
  if (rc != SUCCESS || rcInvoked != SUCCESS) {
    fprintf(stderr, "swirl: export %d, registry %d\n", rc, rcInvoked);
    status = 1;
  } else {
    size_t bytes = (size_t)direct.BytesPerLine * kHeight;
    if (memcmp(direct.Data, invoked.Data, bytes) != 0) {
      fprintf(stderr, "the export and the registry call differ\n");
      status = 1;
    } else if (memcmp(direct.Data, original.Data, bytes) == 0) {
      fprintf(stderr, "swirl left the bitmap unchanged\n");
      status = 1;
    }
  }
  HostFreeBitmap(&direct);
  HostFreeBitmap(&invoked);
  HostFreeBitmap(&original);
  if (HostLiveBlocks() != 0) {
    fprintf(stderr, "%lld host blocks left\n", (long long)HostLiveBlocks());
    status = 1;
  }
  if (status == 0) printf("consumer: %s, %u effects, swirl ok\n", FxVersion(), FxEffectCount());
  return status;
}
