#include "controller/client/audio/AudioPlayer.h"

#include "controller/platform/ClientLog.h"

namespace dovrel::controller {

AudioPlayer::AudioPlayer(AudioOutputFactory factory, const Scheduler* clock)
    : factory_(std::move(factory)), clock_(clock) {}

Instant AudioPlayer::now() const { return clock_ ? clock_->now() : std::chrono::steady_clock::now(); }

void AudioPlayer::play(std::span<const int16_t> pcm, uint32_t sampleRate, uint32_t channels) {
    if (pcm.empty() || channels == 0 || channels > maxChannels) return;
    if (sampleRate == 0 || sampleRate > maxSampleRate) return;
    const std::size_t frames = pcm.size() / channels;
    if (frames == 0) return;
    const AudioFormat wanted{sampleRate, static_cast<uint8_t>(channels)};

    std::unique_lock g(lock_);
    if (output_ && output_->failed()) {
        output_.reset();
        format_.reset();
        lastFailure_ = now();
    }
    if (output_ && format_ != wanted) {
        output_.reset();
        format_.reset();
    }
    if (!output_) {
        if (lastFailure_ && now() - *lastFailure_ < retryAfterFailure) return;
        if (!factory_) return;
        // Reaching the sound server may take a while: the figures stay readable meanwhile.
        g.unlock();
        std::string error;
        auto output = factory_(wanted, error);
        g.lock();
        if (!output) {
            if (!lastFailure_) clientLog("audio: cannot play the remote sound - " + error);
            lastFailure_ = now();
            return;
        }
        output_ = std::move(output);
        lastFailure_.reset();
        format_ = wanted;
        ++opened_;
    }
    output_->write(pcm.first(frames * channels));
}

void AudioPlayer::stop() {
    const std::lock_guard g(lock_);
    output_.reset();
    format_.reset();
    lastFailure_.reset();
}

bool AudioPlayer::running() const {
    const std::lock_guard g(lock_);
    return output_ != nullptr;
}

std::optional<AudioFormat> AudioPlayer::format() const {
    const std::lock_guard g(lock_);
    return format_;
}

uint64_t AudioPlayer::outputsOpened() const {
    const std::lock_guard g(lock_);
    return opened_;
}

std::chrono::milliseconds AudioPlayer::buffered() const {
    const std::lock_guard g(lock_);
    return output_ ? output_->buffered() : std::chrono::milliseconds{0};
}

} // namespace dovrel::controller
