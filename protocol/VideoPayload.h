#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/Bytes.h"
#include "protocol/FlagSet.h"

namespace wex {

enum class NALFlag : uint8_t {
    keyframe = 0x01,  // a decoder can start here
    config = 0x02,    // the NAL list begins with the parameter sets
    annexB = 0x04,    // declared; our NAL units are bare
    eos = 0x08,       // declared
    codecH264 = 0x10, // H.264; HEVC when absent
};
using NALFlags = FlagSet<NALFlag>;

// The 20 bytes in front of the NAL units of one encoded picture.
struct VideoNALHeader {
    static constexpr std::size_t size = 20;

    uint32_t ptsUs = 0;
    uint32_t frameId = 0;
    uint8_t displayId = 0;
    NALFlags nalFlags;
    uint16_t width = 0;
    uint16_t height = 0;
    uint32_t inputWatermark = 0;
    uint16_t nalCount = 0;

    void encode(ByteWriter& w) const;
    static VideoNALHeader decode(ByteReader& r);
    bool operator==(const VideoNALHeader&) const = default;
};

struct VideoNALPayload {
    VideoNALHeader header;
    std::vector<Bytes> nals;
    bool operator==(const VideoNALPayload&) const = default;
};

// (u32 length, bytes) for each unit, in order.
Bytes packNALs(const std::vector<Bytes>& nals);
std::vector<Bytes> unpackNALs(ByteReader& r, uint32_t count);

// Writes the header with nalCount set to the real number of units, then the units.
Bytes encodeVideoNALPayload(const VideoNALHeader& header, const std::vector<Bytes>& nals);
VideoNALPayload decodeVideoNALPayload(ByteView payload);

} // namespace wex
