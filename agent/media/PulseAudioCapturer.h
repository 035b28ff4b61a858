#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "agent/media/AudioCapturer.h"

namespace dovrel::agent {

// System audio from PulseAudio (or PipeWire's pulse server): a record stream of the default output's
// monitor, 48 kHz stereo s16, delivered in buffers of 256 sample frames (5.3 ms) on its own thread
// with its own main loop. The server is found as every PulseAudio client finds it ($PULSE_SERVER,
// then the user's runtime directory).
class PulseAudioCapturer final : public AudioCapturer {
public:
    static constexpr uint32_t sampleRate = 48000;
    static constexpr uint8_t channels = 2;
    static constexpr std::size_t framesPerBuffer = 256;

    explicit PulseAudioCapturer(std::string source = "@DEFAULT_MONITOR@");
    ~PulseAudioCapturer() override;

    void start(Callback cb) override;
    void stop() override;
    bool running() const override;

private:
    struct Loop;
    std::string source_;
    std::shared_ptr<Loop> loop_;
    std::thread thread_;
};

} // namespace dovrel::agent
