#pragma once

#include <cstddef>
#include <cstdint>

#include "protocol/ByteReader.h"
#include "protocol/ByteWriter.h"
#include "protocol/Bytes.h"
#include "protocol/Stream.h"

namespace wex {

// The 12-byte header in front of every frame: magic, version, stream, type, session, length, flags, CRC-8.
struct CommonHeader {
    static constexpr std::size_t size = 12;

    Stream stream = Stream::control;
    uint8_t msgType = 0;
    uint32_t sessionId = 0;
    uint16_t length = 0; // payload bytes, not counting a sealed frame's 16-byte tag
    HeaderFlags flags;

    Bytes encoded() const;
    // Reads the header at the first byte; checks length, magic, version, CRC and stream, in that order.
    static CommonHeader decode(ByteView bytes);

    bool operator==(const CommonHeader&) const = default;
};

// Sequence number and send time; follows the common header of every sealed frame.
struct SeqTimingHeader {
    static constexpr std::size_t size = 8;
    uint32_t seq = 0;
    uint32_t sendTsUs = 0;

    void encode(ByteWriter& w) const;
    static SeqTimingHeader decode(ByteReader& r);
    bool operator==(const SeqTimingHeader&) const = default;
};

// Opens the plaintext of each piece of a fragmented video payload.
struct FragmentHeader {
    static constexpr std::size_t size = 8;
    uint32_t frameId = 0;
    uint16_t fragIndex = 0;
    uint16_t fragCount = 0;

    void encode(ByteWriter& w) const;
    static FragmentHeader decode(ByteReader& r);
    bool operator==(const FragmentHeader&) const = default;
};

} // namespace wex
