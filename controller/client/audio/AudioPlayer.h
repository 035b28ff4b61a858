#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>

#include "controller/client/audio/AudioOutput.h"
#include "runtime/Scheduler.h"
#include "runtime/audio/AudioResampler.h"

namespace dovrel::controller {

// Plays the remote machine's sound. The first frame after a stop opens an output of at least 48 kHz
// stereo, the agent's own format, or of the frame's when that has more. The agent lowers its rate and
// channel count while its link is slow and raises them again after; frames of a lower rate or fewer
// channels than the output are converted into it as one stream (AudioResampler), so such changes play
// on without a gap, and only a frame of a higher rate or more channels replaces the output with one of
// its own format. An output that cannot be opened is tried again after a second, not on every frame.
// `play` and `stop` on one thread at a time (the session's audio thread); the figures from any thread,
// also while an output is being opened.
class AudioPlayer {
public:
    static constexpr std::chrono::seconds retryAfterFailure{1};
    static constexpr AudioFormat leastOutput{48000, 2};
    // Channel counts and rates the sound system takes.
    static constexpr uint32_t maxChannels = 32;
    static constexpr uint32_t maxSampleRate = 384000;

    explicit AudioPlayer(AudioOutputFactory factory, const Scheduler* clock = nullptr);

    // `pcm` holds signed 16-bit samples interleaved by channel; a trailing partial sample frame is not
    // played. Frames without samples, without channels or of an impossible format are ignored.
    void play(std::span<const int16_t> pcm, uint32_t sampleRate, uint32_t channels);
    // Closes the output; the next frame opens a new one.
    void stop();

    bool running() const;
    // The output's format, and the format of the last frame played into it.
    std::optional<AudioFormat> format() const;
    std::optional<AudioFormat> incoming() const;
    uint64_t outputsOpened() const;
    std::chrono::milliseconds buffered() const;

private:
    Instant now() const;

    AudioOutputFactory factory_;
    const Scheduler* clock_;
    mutable std::mutex lock_;
    std::unique_ptr<AudioOutput> output_;
    std::optional<AudioFormat> format_;
    std::optional<AudioFormat> incoming_;
    AudioResampler convert_; // used by `play` and `stop` only
    std::optional<Instant> lastFailure_;
    uint64_t opened_ = 0;
};

} // namespace dovrel::controller
