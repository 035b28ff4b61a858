#include "agent/media/CaptureAudio.h"

#include <exception>
#include <string>

#include "agent/common/AgentLog.h"
#include "agent/common/Diag.h"
#include "agent/media/PulseAudioCapturer.h"

namespace dovrel::agent {

CaptureAudio::CaptureAudio(std::shared_ptr<AudioCapturer> audio, Scheduler* clock)
    : audio_(audio ? std::move(audio) : std::make_shared<PulseAudioCapturer>()), clock_(clock) {}

void CaptureAudio::start(AudioCapturer::Callback onAudio) {
    const Instant at = clock_ ? clock_->now() : std::chrono::steady_clock::now();
    if (refusedAt_ && at - *refusedAt_ < retryAfter) return; // refused lately: video only
    try {
        audio_->start([cb = std::move(onAudio)](std::span<const int16_t> samples, uint32_t rate, uint8_t channels) {
            Diag::stamp(Diag::Stamp::lastStreamAt, std::chrono::steady_clock::now());
            cb(samples, rate, channels);
        });
        refusedAt_.reset();
    } catch (const std::exception& e) {
        refusedAt_ = at;
        print(std::string("⚠︎ the stream would not start WITH audio (") + e.what() +
              ") — starting it video-only so the screen still works");
        print("• capture started VIDEO-ONLY — this computer is refusing system audio right now");
    }
}

void CaptureAudio::stop() { audio_->stop(); }

} // namespace dovrel::agent
