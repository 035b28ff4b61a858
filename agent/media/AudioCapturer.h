#pragma once

#include <cstdint>
#include <functional>
#include <span>

namespace dovrel::agent {

// Records what the machine plays (system audio) as interleaved 16-bit samples.
class AudioCapturer {
public:
    using Callback = std::function<void(std::span<const int16_t> samples, uint32_t sampleRate, uint8_t channels)>;

    virtual ~AudioCapturer() = default;

    // Starts recording and returns once the stream runs; buffers then reach `cb` on the capturer's
    // own thread ("dovrel.capture.audio"). A running recording is stopped first. Throws AgentError
    // (capture) with the reason when the stream cannot start.
    virtual void start(Callback cb) = 0;
    // Stops recording; when it returns no callback runs or will run. Not from inside the callback.
    virtual void stop() = 0;
    // Whether the stream is still delivering (false after stop() or when the sound server went away).
    virtual bool running() const = 0;
};

} // namespace dovrel::agent
