#pragma once

#include <cstdint>
#include <vector>

#include "protocol/Bytes.h"

namespace dovrel::test {

// Valid H.264 pictures of any size made without an encoder, as bare NAL units (no start codes):
// constrained baseline, CAVLC, one slice. A keyframe is every macroblock an Intra 16x16 block with DC
// prediction and no residual (one byte a macroblock: a 16000 x 16000 picture is about 1 MB); a repeat
// is every macroblock skipped. Both decode to plain grey.
struct TinyH264 {
    // Sequence and picture parameter sets, then the IDR slice.
    static std::vector<wex::Bytes> keyframe(int width, int height);
    // A P slice that repeats the previous picture; `frameNum` counts the pictures since the keyframe.
    static std::vector<wex::Bytes> repeat(int width, int height, uint32_t frameNum);
};

} // namespace dovrel::test
