#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/Bytes.h"

namespace wex {

// The codec a video payload announces: its header's H.264 flag set means H.264, clear means HEVC.
enum class VideoCodec { h264, hevc };

// The unit type: H.264 the low 5 bits of the first byte, HEVC bits 1 to 6. -1 for an empty unit.
int nalType(VideoCodec codec, ByteView unit);
// Sequence-level sets: H.264 SPS (7) and PPS (8); HEVC VPS (32), SPS (33) and PPS (34).
bool isParameterSet(VideoCodec codec, ByteView unit);
// A slice a decoder can start at: H.264 IDR (5); HEVC IRAP (16 to 23: BLA, IDR, CRA).
bool isRandomAccessSlice(VideoCodec codec, ByteView unit);

// The units of an Annex B stream, without start codes and without the zero bytes that may trail a
// unit before the next start code. Bytes before the first start code are skipped; empty units too.
std::vector<ByteView> splitAnnexB(ByteView stream);

// One encoded picture, split for the video payload: the picture's own units in stream order, the
// parameter sets it carried ordered VPS, SPS, PPS (units of one kind keep their order), and whether a
// decoder can start at it.
struct SplitPicture {
    std::vector<Bytes> units;
    std::vector<Bytes> parameterSets;
    bool keyframe = false;
};
SplitPicture splitPicture(VideoCodec codec, ByteView annexB);

// The units of one received picture, sorted the way a decoder needs them: the parameter sets set
// aside (a later one of a kind replaces an earlier), the picture's own units in order. H.264 SEI and
// access-unit delimiters are left out; empty units are skipped. Views into the given units.
struct SortedUnits {
    std::optional<ByteView> vps; // HEVC only
    std::optional<ByteView> sps;
    std::optional<ByteView> pps;
    std::vector<ByteView> picture;
    bool randomAccess = false; // a slice a decoder can start at

    // Every set the codec needs: H.264 SPS and PPS; HEVC VPS, SPS and PPS.
    bool hasAllParameterSets(VideoCodec codec) const;
    // Those sets in stream order (VPS, SPS, PPS), or nothing when one is missing.
    std::optional<std::vector<Bytes>> parameterSets(VideoCodec codec) const;
};
SortedUnits sortUnits(VideoCodec codec, const std::vector<Bytes>& units);
// The result points into the units: they must outlive it.
SortedUnits sortUnits(VideoCodec codec, std::vector<Bytes>&& units) = delete;

} // namespace wex
