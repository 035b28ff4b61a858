#include "agent/media/AudioLinkFormat.h"

#include <array>

#include "agent/media/LinkAudio.h"

namespace dovrel::agent {

namespace {

// Dearest first, each taking less of the link than the one before it.
constexpr std::array<PcmFormat, 8> ladder{
    {{48000, 2}, {32000, 2}, {24000, 2}, {32000, 1}, {24000, 1}, {16000, 1}, {12000, 1}, {8000, 1}}};

// A sealed audio frame around its samples: the frame's header (12), sequence number and time (8), the
// AudioFrame's own header (9) and the tag (16).
constexpr int64_t frameOverhead = 12 + 8 + 9 + 16;

} // namespace

int64_t AudioLinkFormat::bitRate(PcmFormat format) {
    constexpr auto perFrame = static_cast<int64_t>(LinkAudio::framesPerChunk);
    const int64_t frameBytes = frameOverhead + perFrame * format.channels * 2;
    return frameBytes * 8 * format.sampleRate / perFrame;
}

PcmFormat AudioLinkFormat::forRate(int64_t linkBitRate, int64_t fullBitRate) {
    if (linkBitRate >= fullBitRate) return full;
    for (const PcmFormat& format : ladder)
        if (bitRate(format) * 4 <= linkBitRate) return format;
    return least;
}

} // namespace dovrel::agent
