#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "protocol/Bytes.h"

namespace dovrel::controller {

enum class VideoCodec { h264, hevc };

// The units of one received picture, sorted the way the decoder needs them: the parameter sets set
// aside (a later one of a kind replaces an earlier), the picture's own units in order. H.264 SEI and
// access-unit delimiters are left out; empty units are skipped. Views into the given units.
struct SortedUnits {
    std::optional<wex::ByteView> vps; // HEVC only
    std::optional<wex::ByteView> sps;
    std::optional<wex::ByteView> pps;
    std::vector<wex::ByteView> picture;
    bool randomAccess = false; // a slice a decoder can start at (H.264 IDR, HEVC IRAP)

    // Every set the codec needs: H.264 SPS and PPS; HEVC VPS, SPS and PPS.
    bool hasAllParameterSets(VideoCodec codec) const;
    // Those sets in stream order (VPS, SPS, PPS), or nothing when one is missing.
    std::optional<std::vector<wex::Bytes>> parameterSets(VideoCodec codec) const;
};

// H.264: the low 5 bits of the first byte; HEVC: bits 1 to 6. -1 for an empty unit.
int nalType(VideoCodec codec, wex::ByteView unit);

SortedUnits sortUnits(VideoCodec codec, const std::vector<wex::Bytes>& units);
// The result points into the units: they must outlive it.
SortedUnits sortUnits(VideoCodec codec, std::vector<wex::Bytes>&& units) = delete;

} // namespace dovrel::controller
