#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "runtime/audio/PcmFormat.h"

namespace dovrel::controller {

using AudioFormat = PcmFormat;

// One playback stream of the sound system, for one sample rate and channel count of signed 16-bit
// interleaved samples. It keeps little sound in hand: what cannot be heard within `maxBuffered` is
// dropped, oldest first, so a burst of frames or a clock that runs a little fast never builds delay.
class AudioOutput {
public:
    static constexpr std::chrono::milliseconds maxBuffered{200};

    virtual ~AudioOutput() = default;
    // Queues whole sample frames; never blocks.
    virtual void write(std::span<const int16_t> samples) = 0;
    // Sound queued and not yet heard.
    virtual std::chrono::milliseconds buffered() const = 0;
    // The sound system dropped the stream (its server went away); a new output is needed.
    virtual bool failed() const = 0;
};

// Opens an output for the format, or gives nothing with the reason in `error`.
using AudioOutputFactory = std::function<std::unique_ptr<AudioOutput>(const AudioFormat&, std::string& error)>;

} // namespace dovrel::controller
