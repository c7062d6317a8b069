// The fuzz target's decoder and checks, shared by the libFuzzer entry and the corpus replay.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fxfuzz {

// Decodes one input into a registry call, runs it and checks it; aborts on a violation.
int RunInput(const uint8_t* data, size_t size);

// The inputs of the checked-in seed corpus: every effect slot with its defaults, and with
// parameters at their limits, spoiled records and injected faults.
std::vector<std::vector<uint8_t>> SeedInputs();

}  // namespace fxfuzz
