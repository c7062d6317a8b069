/* Creates a 320 x 240 colour bitmap, twists it with Fx_SwirlBitmap and writes it as a PPM. */
#include <stdio.h>

#include "fxkit/fxkit.h"

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : "swirl.ppm";
  BitmapRecord bitmap;
  int32_t rc = HostCreateBitmap(&bitmap, sizeof(BitmapRecord), 1, 320, 240, 24, ORDER_RGB, NULL,
                                1, NULL, 0);
  if (rc != SUCCESS) return fprintf(stderr, "create: %d\n", rc), 1;

  for (int y = 0; y < 240; ++y) {  /* a checkerboard over two gradients */
    uint8_t* row = bitmap.Data + y * bitmap.BytesPerLine;
    for (int x = 0; x < 320; ++x) {
      int check = ((x / 20) + (y / 20)) % 2;
      row[3 * x + 0] = (uint8_t)(check ? 255 : x * 255 / 319);
      row[3 * x + 1] = (uint8_t)(check ? 255 : y * 255 / 239);
      row[3 * x + 2] = (uint8_t)(check ? 64 : 160);
    }
  }

  POINT center = {160, 120};
  rc = Fx_SwirlBitmap(&bitmap, 600, center, 0);
  if (rc != SUCCESS) {
    fprintf(stderr, "Fx_SwirlBitmap failed: %d\n", rc);
    HostFreeBitmap(&bitmap);
    return 1;
  }

  FILE* f = fopen(path, "wb");
  if (!f) return HostFreeBitmap(&bitmap), perror(path), 1;
  fprintf(f, "P6\n320 240\n255\n");
  for (int y = 0; y < 240; ++y) fwrite(bitmap.Data + y * bitmap.BytesPerLine, 3, 320, f);
  fclose(f);
  HostFreeBitmap(&bitmap);
  return 0;
}
