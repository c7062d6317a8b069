// libFuzzer entry point.
#include "fuzz/FuzzTarget.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return fxfuzz::RunInput(data, size);
}
