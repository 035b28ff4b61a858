#pragma once

#include <cstdint>
#include <vector>

#include "protocol/Bytes.h"

namespace dovrel::test {

// Valid grey H.264 pictures of any size without an encoder, as bare NAL units: a keyframe (parameter
// sets, then an I slice of one byte a macroblock: 16000 x 16000 is about 1 MB) and its repeats.
struct TinyH264 {
    static std::vector<wex::Bytes> keyframe(int width, int height);
    // `frameNum`: pictures since the keyframe.
    static std::vector<wex::Bytes> repeat(int width, int height, uint32_t frameNum);
};

} // namespace dovrel::test
