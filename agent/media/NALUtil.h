#pragma once

#include <cstdint>
#include <vector>

#include "protocol/Bytes.h"

namespace dovrel::agent {

enum class VideoCodec { h264, hevc };

// Taking apart what the encoder produces: Annex B byte streams (start codes between units) into bare
// NAL units, which units are parameter sets, and whether a picture is a keyframe. Stateless; any
// thread. Depends on nothing but the byte types, so the controller can use it on received streams.
namespace NALUtil {

// The units of an Annex B stream, without start codes and without the zero bytes that may trail a
// unit before the next start code. Bytes before the first start code are skipped; empty units too.
std::vector<wex::ByteView> splitAnnexB(wex::ByteView stream);

// The unit type: 5 bits for H.264, 6 bits for HEVC; -1 for an empty unit.
int unitType(VideoCodec codec, wex::ByteView unit);

// Sequence-level sets: H.264 SPS (7) and PPS (8); HEVC VPS (32), SPS (33) and PPS (34).
bool isParameterSet(VideoCodec codec, wex::ByteView unit);
// A slice a decoder can start at: H.264 IDR (5); HEVC IRAP (16 to 23: BLA, IDR, CRA).
bool isRandomAccessSlice(VideoCodec codec, wex::ByteView unit);

// One encoded picture, split for the video payload: the picture's own units in stream order, the
// parameter sets it carried ordered VPS, SPS, PPS (units of one kind keep their order), and whether a
// decoder can start at it.
struct SplitPicture {
    std::vector<wex::Bytes> units;
    std::vector<wex::Bytes> parameterSets;
    bool keyframe = false;
};
SplitPicture splitPicture(VideoCodec codec, wex::ByteView annexB);

} // namespace NALUtil
} // namespace dovrel::agent
