#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "agent/media/AudioCapturer.h"
#include "runtime/Scheduler.h"

namespace dovrel::agent {

// The system audio that goes with a capturer's pictures, started with each capture and stopped with it.
// When audio will not start, the capture goes on video-only and audio is not tried again for
// `retryAfter`: a sound server that refuses once tends to refuse again, and every try holds up the
// capture's start. Every audio buffer stamps Diag's lastStreamAt. Used under the capturer's own
// lifecycle lock, one call at a time.
class CaptureAudio {
public:
    static constexpr std::chrono::seconds retryAfter{600};

    // `audio` null: PulseAudio's "@DEFAULT_MONITOR@"; `clock` null: the real clock.
    CaptureAudio(std::shared_ptr<AudioCapturer> audio, Scheduler* clock);

    // Starts audio unless it was refused lately; a refusal is logged and leaves the capture video-only.
    void start(AudioCapturer::Callback onAudio);
    void stop();
    // When audio last failed to start; nullopt when it may be tried.
    std::optional<Instant> refusedAt() const { return refusedAt_; }

private:
    std::shared_ptr<AudioCapturer> audio_;
    Scheduler* clock_;
    std::optional<Instant> refusedAt_;
};

} // namespace dovrel::agent
