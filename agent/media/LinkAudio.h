#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "agent/media/AudioLinkFormat.h"
#include "runtime/audio/AudioResampler.h"

namespace dovrel::agent {

// Captured sound on its way to the link: converted to the format the link's rate calls for
// (AudioLinkFormat) and cut into frames of 256 sample frames. Sound the capture already makes in that
// format goes as it comes, a buffer's last frame holding the rest; converted sound waits until it fills
// a frame, since a frame of a few milliseconds at a low rate would spend a fifth of its bytes on its
// headers. A new format takes effect with the next buffer, and the frames of the old one end where the
// new one's begin: the stream runs on without a gap (AudioResampler).
//
// The format is set and read from any thread; `add` and `reset` on one thread at a time.
class LinkAudio {
public:
    static constexpr std::size_t framesPerChunk = 256;
    using FrameOut = std::function<void(std::span<const int16_t> pcm, PcmFormat format)>;

    // The format for `linkBitRate` on a link whose full budget is `fullBitRate`.
    void setFormatFor(int64_t linkBitRate, int64_t fullBitRate);
    PcmFormat format() const { return format_.load(std::memory_order_relaxed); }
    // What the sound takes on the link while it is captured, in bits a second.
    int64_t bitRate() const { return AudioLinkFormat::bitRate(format()); }

    // One captured buffer of `captured`'s format; each frame it completes goes to `out`, in order.
    void add(std::span<const int16_t> samples, PcmFormat captured, const FrameOut& out);
    // Drops what waits: the next buffer begins a stream of its own.
    void reset();

private:
    // Sends the waiting frames, the last one short unless `wholeOnly`.
    void send(bool wholeOnly, const FrameOut& out);

    std::atomic<PcmFormat> format_{AudioLinkFormat::full};
    AudioResampler resampler_;
    std::vector<int16_t> waiting_;
    PcmFormat waitingFormat_{};
};

} // namespace dovrel::agent
