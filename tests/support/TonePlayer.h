#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <string>
#include <thread>
#include <vector>

#include <pulse/error.h>
#include <pulse/simple.h>

namespace dovrel::test {

// A sine on each channel of a PulseAudio server's default sink (48 kHz stereo), played on a thread of its
// own for as long as the player lives, as a program playing sound on that computer would. Link
// libpulse-simple.
class TonePlayer {
public:
    struct Tone {
        double hz = 0;
        double amplitude = 0; // 0..1 of full scale
    };

    TonePlayer(const std::string& server, Tone both) : TonePlayer(server, both, both) {}
    TonePlayer(const std::string& server, Tone left, Tone right) {
        const pa_sample_spec format{PA_SAMPLE_S16LE, 48000, 2};
        int err = 0;
        pa_ = pa_simple_new(server.c_str(), "dovrel-test", PA_STREAM_PLAYBACK, nullptr, "tone", &format, nullptr,
                            nullptr, &err);
        if (!pa_) {
            failure_ = std::string("the tone's stream would not open: ") + pa_strerror(err);
            return;
        }
        thread_ = std::thread([this, left, right] {
            const auto sample = [](Tone tone, double t) {
                return static_cast<int16_t>(
                    std::lround(tone.amplitude * 32767 * std::sin(2 * std::numbers::pi * tone.hz * t)));
            };
            std::vector<int16_t> chunk(480 * 2);
            for (uint64_t n = 0; !stop_;) {
                for (std::size_t i = 0; i < 480; ++i, ++n) {
                    const double t = static_cast<double>(n) / 48000;
                    chunk[2 * i] = sample(left, t);
                    chunk[2 * i + 1] = sample(right, t);
                }
                int e = 0;
                if (pa_simple_write(pa_, chunk.data(), chunk.size() * sizeof(int16_t), &e) < 0) return;
            }
        });
    }
    ~TonePlayer() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (pa_) pa_simple_free(pa_);
    }
    TonePlayer(const TonePlayer&) = delete;
    TonePlayer& operator=(const TonePlayer&) = delete;

    bool playing() const { return pa_ != nullptr; }
    const std::string& failure() const { return failure_; }

private:
    pa_simple* pa_ = nullptr;
    std::string failure_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

} // namespace dovrel::test
