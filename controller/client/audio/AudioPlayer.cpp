#include "controller/client/audio/AudioPlayer.h"

#include <algorithm>

#include "controller/platform/ClientLog.h"

namespace dovrel::controller {

AudioPlayer::AudioPlayer(AudioOutputFactory factory, const Scheduler* clock)
    : factory_(std::move(factory)), clock_(clock) {}

Instant AudioPlayer::now() const { return clock_ ? clock_->now() : std::chrono::steady_clock::now(); }

namespace {

// Whether an output of `output` plays `frame` without losing any of it.
bool holds(AudioFormat output, AudioFormat frame) {
    return output.sampleRate >= frame.sampleRate && output.channels >= frame.channels;
}

} // namespace

void AudioPlayer::play(std::span<const int16_t> pcm, uint32_t sampleRate, uint32_t channels) {
    if (pcm.empty() || channels == 0 || channels > maxChannels) return;
    if (sampleRate == 0 || sampleRate > maxSampleRate) return;
    const std::size_t frames = pcm.size() / channels;
    if (frames == 0) return;
    const AudioFormat frame{sampleRate, static_cast<uint8_t>(channels)};

    std::unique_lock g(lock_);
    if (output_ && output_->failed()) {
        output_.reset();
        format_.reset();
        lastFailure_ = now();
    }
    if (output_ && !holds(*format_, frame)) {
        output_.reset();
        format_.reset();
    }
    if (!output_) {
        if (lastFailure_ && now() - *lastFailure_ < retryAfterFailure) return;
        if (!factory_) return;
        const AudioFormat wanted{std::max(frame.sampleRate, leastOutput.sampleRate),
                                 std::max(frame.channels, leastOutput.channels)};
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
        convert_.reset(); // the sound the last output played ended with it
        ++opened_;
    }
    incoming_ = frame;
    const AudioResampler::Converted converted = convert_.convert(pcm.first(frames * channels), frame, *format_);
    if (!converted.held.empty()) output_->write(converted.held);
    if (!converted.samples.empty()) output_->write(converted.samples);
}

void AudioPlayer::stop() {
    const std::lock_guard g(lock_);
    output_.reset();
    format_.reset();
    incoming_.reset();
    lastFailure_.reset();
    convert_.reset();
}

bool AudioPlayer::running() const {
    const std::lock_guard g(lock_);
    return output_ != nullptr;
}

std::optional<AudioFormat> AudioPlayer::format() const {
    const std::lock_guard g(lock_);
    return format_;
}

std::optional<AudioFormat> AudioPlayer::incoming() const {
    const std::lock_guard g(lock_);
    return incoming_;
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
