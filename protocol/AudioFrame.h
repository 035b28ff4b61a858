#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/Bytes.h"

namespace wex {

// The audio stream's payload (message type 1): signed 16-bit PCM, channels interleaved. The two header
// integers are big-endian like everything else; the samples are the protocol's one little-endian field.
struct AudioFrame {
    static constexpr std::size_t headerSize = 9;

    uint32_t sampleRate = 0; // per channel
    uint8_t channels = 0;
    std::vector<int16_t> pcm; // all samples of all channels

    // One pass into a buffer reserved at its final size (9 + 2 x samples).
    Bytes encode() const;
    // Fails with truncated when the announced samples are not all there, before reserving for them.
    static AudioFrame decode(ByteView payload);
    bool operator==(const AudioFrame&) const = default;
};

} // namespace wex
