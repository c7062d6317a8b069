// The named instantiations of the bilinear and linear samplers.
#include "frame/Samplers.h"

namespace fx {

void BilinearSample8(uint8_t* const* rows, double x, double y, int32_t rowCount, int32_t pixelStep,
                     int32_t width, uint8_t* out) {
  BilinearSample<uint8_t>(rows, x, y, rowCount, pixelStep, width, out);
}

void BilinearSample16(uint16_t* const* rows, double x, double y, int32_t rowCount,
                      int32_t pixelStep, int32_t width, uint16_t* out) {
  BilinearSample<uint16_t>(rows, x, y, rowCount, pixelStep, width, out);
}

void LinearSample8(const uint8_t* row, double x, int32_t pixelStep, int32_t width, uint8_t* out) {
  LinearSample<uint8_t>(row, x, pixelStep, width, out);
}

void LinearSample16(const uint16_t* row, double x, int32_t pixelStep, int32_t width,
                    uint16_t* out) {
  LinearSample<uint16_t>(row, x, pixelStep, width, out);
}

}  // namespace fx
