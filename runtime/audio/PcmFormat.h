#pragma once

#include <cstdint>

namespace dovrel {

// What a stretch of sound is: samples a second per channel, and channels; the samples themselves are
// signed 16-bit and interleaved by channel.
struct PcmFormat {
    uint32_t sampleRate = 0;
    uint8_t channels = 0;
    bool operator==(const PcmFormat&) const = default;
};

} // namespace dovrel
