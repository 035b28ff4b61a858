#pragma once

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "controller/client/audio/AudioOutput.h"
#include "tests/support/PulseAudioServer.h"
#include "tests/support/TonePlayer.h"

namespace dovrel::bench {

// Sound playing on the agent's computer, for a benchmark of a session: a private PulseAudio server
// (an agent started after it records its sink, through PULSE_SERVER) with a 440 Hz tone playing into
// it all along, and outputs for the client's player that play nothing but count the seconds of sound
// they are given, so that a stretch of the session says how much of its sound arrived.
class SoundArrival {
public:
    using Clock = std::chrono::steady_clock;

    SoundArrival() {
        if (!server_.running()) {
            failure_ = server_.failure();
            return;
        }
        tone_.emplace(server_.server(), test::TonePlayer::Tone{440, 0.5});
        if (!tone_->playing()) failure_ = tone_->failure();
    }

    bool running() const { return failure_.empty(); }
    const std::string& failure() const { return failure_; }

    controller::AudioOutputFactory outputs() {
        return [this](const controller::AudioFormat& format, std::string&) -> std::unique_ptr<controller::AudioOutput> {
            return std::make_unique<Counter>(*this, format);
        };
    }

    // The seconds of sound the player was given within [from, to), against the stretch's length.
    double shareBetween(Clock::time_point from, Clock::time_point to) {
        const std::lock_guard g(lock_);
        double seconds = 0;
        for (const auto& [at, s] : given_)
            if (at >= from && at < to) seconds += s;
        return seconds / std::chrono::duration<double>(to - from).count();
    }

private:
    struct Counter final : controller::AudioOutput {
        Counter(SoundArrival& owner, controller::AudioFormat f) : sound(owner), format(f) {}
        void write(std::span<const int16_t> samples) override {
            const double seconds = static_cast<double>(samples.size() / format.channels) / format.sampleRate;
            const std::lock_guard g(sound.lock_);
            sound.given_.emplace_back(Clock::now(), seconds);
        }
        std::chrono::milliseconds buffered() const override { return {}; }
        bool failed() const override { return false; }
        SoundArrival& sound;
        controller::AudioFormat format;
    };

    test::PulseAudioServer server_;
    std::optional<test::TonePlayer> tone_;
    std::string failure_;
    std::mutex lock_;
    std::vector<std::pair<Clock::time_point, double>> given_;
};

} // namespace dovrel::bench
