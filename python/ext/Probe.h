// A test effect of the binding's own: one parameter of every kind, and a thunk that records what
// it was called with, so the tests can check the conversion of every kind whatever effects the
// registry holds. It is not in the registry; the module reaches it as "_probe".
#pragma once

#include <cstdint>
#include <vector>

#include "fxkit/registry.h"

namespace fxpy {

struct ProbeCall {
  int32_t width = 0, height = 0, bitsPerPixel = 0;
  uint32_t order = 0;
  int32_t i = 0;
  uint32_t u = 0, flags = 0, color = 0;
  POINT center{};
  std::vector<uint8_t> info;  // the record's bytes; empty when null
  bool infoNull = true;
  std::vector<int32_t> curve;  // curveCount values, when that many are there
  int32_t curveCount = 0;
  bool curveNull = true;
  std::vector<uint8_t> lights;  // lightCount records' bytes
  uint32_t lightCount = 0;
  bool lightsNull = true;
  std::vector<int32_t> corners;
  bool cornersNull = true;
  bool textureNull = true;
  int32_t textureWidth = 0, textureHeight = 0, textureBitsPerPixel = 0;
  uint32_t textureOrder = 0;
  std::vector<uint8_t> textureRows;  // stored rows, packed
  int32_t size = 0;
};

const FxEffectDesc& ProbeEffect();
// The last call of the probe on this thread.
const ProbeCall& LastProbeCall();

}  // namespace fxpy
