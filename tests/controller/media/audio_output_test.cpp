// Remote sound through a private PulseAudio server with a null sink: what the player writes comes out
// of the sink's monitor, at most 200 ms of it is ever held, a lower format plays on in the same stream and
// a higher one makes a new stream, and without a server the output says why at once.
#include <atomic>
#include <cmath>
#include <fstream>
#include <numbers>
#include <thread>

#include <pulse/error.h>
#include <pulse/simple.h>

#include <gtest/gtest.h>

#include "../../support/PulseAudioServer.h"
#include "../../support/ToneMeasure.h"
#include "controller/client/audio/AudioPlayer.h"
#include "controller/client/audio/PulseAudioOutput.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace std::chrono_literals;

namespace {

// The strength of one frequency in a mono signal (Goertzel), relative to full scale.
double strength(const std::vector<double>& x, double hz, double rate) {
    const double w = 2 * std::numbers::pi * hz / rate, k = 2 * std::cos(w);
    double s1 = 0, s2 = 0;
    for (double v : x) {
        const double s = v + k * s1 - s2;
        s2 = s1;
        s1 = s;
    }
    const double power = s1 * s1 + s2 * s2 - k * s1 * s2;
    return 2 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(x.size());
}

// Records the sink's monitor (48 kHz stereo) on its own thread.
class MonitorRecorder {
public:
    explicit MonitorRecorder(const test::PulseAudioServer& server) {
        const pa_sample_spec sampleFormat{PA_SAMPLE_S16LE, 48000, 2};
        pa_buffer_attr attr{static_cast<uint32_t>(-1), static_cast<uint32_t>(-1), static_cast<uint32_t>(-1),
                            static_cast<uint32_t>(-1), 48000 * 4 / 100};
        int err = 0;
        pa_ = pa_simple_new(server.server().c_str(), "dovrel-test", PA_STREAM_RECORD, server.monitor().c_str(),
                            "monitor", &sampleFormat, nullptr, &attr, &err);
        if (!pa_) return;
        thread_ = std::thread([this] {
            std::vector<int16_t> chunk(480 * 2);
            while (!stop_) {
                int e = 0;
                if (pa_simple_read(pa_, chunk.data(), chunk.size() * sizeof(int16_t), &e) < 0) {
                    std::fprintf(stderr, "monitor read failed: %s\n", pa_strerror(e));
                    return;
                }
                const std::lock_guard g(lock_);
                for (std::size_t i = 0; i < chunk.size(); i += 2)
                    left_.push_back(chunk[i] / 32768.0);
            }
        });
    }
    ~MonitorRecorder() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
        if (pa_) pa_simple_free(pa_);
    }
    bool ok() const { return pa_ != nullptr; }
    std::vector<double> left() {
        const std::lock_guard g(lock_);
        return left_;
    }

private:
    pa_simple* pa_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
    std::mutex lock_;
    std::vector<double> left_;
};

struct AudioOutputFixture : ::testing::Test {
    test::PulseAudioServer server;
    void SetUp() override {
        if (!server.available()) GTEST_SKIP() << server.failure();
        ASSERT_TRUE(server.running()) << server.failure();
    }
    // The sample format of each playback stream, as the server lists it.
    std::string streams() {
        std::string out;
        const test::TempDir dir;
        const std::string file = dir.file("sink-inputs");
        auto opts = test::ChildProcess::Options{};
        opts.logFile = file;
        // Read once pactl has written all it will (a busy machine may take a while to start it).
        const auto status =
            test::runProgram({test::findProgram("pactl"), "-s", server.server(), "list", "sink-inputs"}, opts, 30s);
        if (status != 0) return "pactl failed";
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line))
            if (line.find("Sample Specif") != std::string::npos) out += line.substr(line.find(':') + 2) + "\n";
        return out;
    }
};

} // namespace

TEST_F(AudioOutputFixture, WhatIsPlayedComesOutOfTheSink) {
    MonitorRecorder rec(server);
    ASSERT_TRUE(rec.ok());
    // An idle null sink works in blocks of two seconds; once the recorder's first block is in, it
    // works at the recorder's pace, as a real sound card would from the start.
    const auto warm = std::chrono::steady_clock::now() + 5s;
    while (rec.left().empty() && std::chrono::steady_clock::now() < warm)
        std::this_thread::sleep_for(20ms);
    std::string error;
    auto out = PulseAudioOutput::open({48000, 2}, error);
    ASSERT_TRUE(out) << error;
    // A second of 440 Hz, paced like frames arriving from the network.
    for (std::size_t i = 0; i < 100; ++i) {
        out->write(test::toneSamples(440, 0.5, 48000, 2, 480, i * 480));
        std::this_thread::sleep_for(10ms);
        EXPECT_LE(out->buffered(), AudioOutput::maxBuffered);
    }
    // The monitor hands out what it records in blocks of up to two seconds.
    const auto until = std::chrono::steady_clock::now() + 8s;
    const std::size_t enough = rec.left().size() + 48000 * 3 / 2;
    while (rec.left().size() < enough && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(50ms);
    const auto heard = rec.left();
    ASSERT_GT(heard.size(), 48000u);
    // The loudest half second holds the tone, not its neighbours.
    double best = 0;
    std::size_t at = 0;
    for (std::size_t i = 0; i + 24000 <= heard.size(); i += 4800) {
        const double s = strength(
            {heard.begin() + static_cast<std::ptrdiff_t>(i), heard.begin() + static_cast<std::ptrdiff_t>(i + 24000)},
            440, 48000);
        if (s > best) best = s, at = i;
    }
    // Against what was played: a 440 Hz tone at half of full scale, whatever stretches of silence a
    // busy machine left in it.
    const std::vector<double> window(heard.begin() + static_cast<std::ptrdiff_t>(at),
                                     heard.begin() + static_cast<std::ptrdiff_t>(at + 24000));
    const test::HeardTone tone440 = test::measureTone(window, 48000);
    EXPECT_GT(tone440.sounding, 2400u);
    EXPECT_NEAR(tone440.hz, 440, 9);
    EXPECT_NEAR(tone440.peak, 0.5, 0.05);
    EXPECT_GT(best, 10 * strength(window, 1000, 48000));
}

TEST_F(AudioOutputFixture, ABurstKeepsOnlyTheNewestTwoHundredMilliseconds) {
    std::string error;
    auto out = PulseAudioOutput::open({48000, 2}, error);
    ASSERT_TRUE(out) << error;
    out->write(test::toneSamples(440, 0.2, 48000, 2, 96000)); // two seconds at once
    EXPECT_LE(out->buffered(), AudioOutput::maxBuffered + 10ms);
    for (int i = 0; i < 20; ++i)
        out->write(test::toneSamples(440, 0.2, 48000, 2, 4800));
    std::this_thread::sleep_for(50ms);
    EXPECT_LE(out->buffered(), AudioOutput::maxBuffered + 10ms);
    EXPECT_FALSE(out->failed());
}

TEST_F(AudioOutputFixture, ThePlayerKeepsItsStreamWhenTheFormatComesDownAndMakesANewOneForMore) {
    AudioPlayer player(pulseAudioOutputs());
    player.play(test::toneSamples(440, 0.1, 48000, 2, 480), 48000, 2);
    ASSERT_TRUE(player.running());
    EXPECT_EQ(streams(), "s16le 2ch 48000Hz\n");
    player.play(test::toneSamples(440, 0.1, 16000, 1, 160), 16000, 1);
    player.play(test::toneSamples(440, 0.1, 8000, 1, 80), 8000, 1);
    EXPECT_EQ(player.outputsOpened(), 1u);
    EXPECT_EQ(streams(), "s16le 2ch 48000Hz\n");
    player.play(test::toneSamples(440, 0.1, 96000, 2, 960), 96000, 2);
    EXPECT_EQ(player.outputsOpened(), 2u);
    EXPECT_EQ(streams(), "s16le 2ch 96000Hz\n");
    player.stop();
    EXPECT_EQ(streams(), "");
}

TEST(AudioOutputWithoutServer, SaysWhyAtOnce) {
    ::setenv("PULSE_SERVER", "unix:/nonexistent/dovrel/native", 1);
    const auto start = std::chrono::steady_clock::now();
    std::string error;
    auto out = PulseAudioOutput::open({48000, 2}, error);
    ::unsetenv("PULSE_SERVER");
    EXPECT_FALSE(out);
    EXPECT_NE(error.find("no sound server"), std::string::npos) << error;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);

    EXPECT_FALSE(PulseAudioOutput::open({0, 2}, error));
    EXPECT_NE(error.find("cannot play 0 Hz"), std::string::npos) << error;
}
