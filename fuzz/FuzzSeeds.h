#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/Bytes.h"

// Every fuzz target's source defines both entry points: libFuzzer calls the first; the seed writer
// (built from the same source) calls the second to start the corpus from real encoder output.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size);
std::vector<wex::Bytes> fuzzSeeds();
