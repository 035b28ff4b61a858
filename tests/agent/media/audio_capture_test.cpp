#include <atomic>
#include <mutex>

#include <gtest/gtest.h>

#include "../../support/PulseAudioServer.h"
#include "../../support/ToneMeasure.h"
#include "../../support/TonePlayer.h"
#include "../../support/XvfbServer.h"
#include "MediaTestSupport.h"
#include "agent/common/AgentError.h"
#include "agent/media/PulseAudioCapturer.h"
#include "agent/media/X11ScreenCapturer.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace std::chrono_literals;

namespace {

constexpr double leftHz = 1000, rightHz = 1500;
constexpr double leftAmplitude = 0.5, rightAmplitude = 0.25;

// Interleaved stereo samples as they arrive, with what came with them.
struct Recording {
    std::mutex lock;
    std::vector<int16_t> samples;
    std::vector<std::size_t> sizes;
    uint32_t rate = 0;
    uint8_t channels = 0;
    std::string thread;
    AudioCapturer::Callback callback() {
        return [this](std::span<const int16_t> s, uint32_t r, uint8_t c) {
            const std::lock_guard g(lock);
            samples.insert(samples.end(), s.begin(), s.end());
            sizes.push_back(s.size());
            rate = r;
            channels = c;
            thread = test::currentThreadName();
        };
    }
    std::size_t frames() {
        const std::lock_guard g(lock);
        return samples.size() / 2;
    }
};

// One channel of the last `frames` frames, measured over the samples that sound.
test::HeardTone measure(const std::vector<int16_t>& interleaved, int channel, std::size_t frames) {
    const std::size_t total = interleaved.size() / 2;
    const std::span<const int16_t> last(interleaved.data() + (total - frames) * 2, frames * 2);
    return test::measureTone(last, 2, static_cast<std::size_t>(channel), 48000);
}

} // namespace

class PulseAudioCapture : public ::testing::Test {
protected:
    static void SetUpTestSuite() { pulse_ = new test::PulseAudioServer(); }
    static void TearDownTestSuite() {
        delete pulse_;
        pulse_ = nullptr;
    }
    void SetUp() override {
        if (!pulse_->available()) GTEST_SKIP() << "no sound server for audio tests: " << pulse_->failure();
        ASSERT_TRUE(pulse_->running()) << pulse_->failure();
    }
    static test::PulseAudioServer* pulse_;
    test::LogCapture log_;
};

test::PulseAudioServer* PulseAudioCapture::pulse_ = nullptr;

TEST_F(PulseAudioCapture, RecordsWhatIsPlayedThroughTheDefaultOutput) {
    Recording rec;
    PulseAudioCapturer capturer;
    capturer.start(rec.callback());
    EXPECT_TRUE(capturer.running());
    test::TonePlayer tone(pulse_->server(), {leftHz, leftAmplitude}, {rightHz, rightAmplitude});
    ASSERT_TRUE(tone.playing()) << tone.failure();
    // 0.3 s of the tone once it has surely reached the monitor.
    const std::size_t startFrames = rec.frames();
    ASSERT_TRUE(test::waitUntil([&] { return rec.frames() > startFrames + 48000 * 6 / 10; }, 5s));
    capturer.stop();
    EXPECT_FALSE(capturer.running());

    const std::lock_guard g(rec.lock);
    EXPECT_EQ(rec.rate, 48000u);
    EXPECT_EQ(rec.channels, 2);
    EXPECT_EQ(rec.thread, "dovrel.capture.");
    for (const std::size_t n : rec.sizes)
        ASSERT_EQ(n, 512u); // 256 frames of two channels each
    const test::HeardTone left = measure(rec.samples, 0, 14400), right = measure(rec.samples, 1, 14400);
    EXPECT_NEAR(left.hz, leftHz, leftHz * 0.02);
    EXPECT_NEAR(right.hz, rightHz, rightHz * 0.02);
    EXPECT_NEAR(left.peak, leftAmplitude, leftAmplitude * 0.05);
    EXPECT_NEAR(right.peak, rightAmplitude, rightAmplitude * 0.05);
}

TEST_F(PulseAudioCapture, NothingArrivesAfterStopAndItCanStartAgain) {
    Recording rec;
    PulseAudioCapturer capturer;
    capturer.start(rec.callback());
    ASSERT_TRUE(test::waitUntil([&] { return rec.frames() > 2048; }));
    capturer.stop();
    const std::size_t stopped = rec.frames();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(rec.frames(), stopped);
    capturer.start(rec.callback());
    ASSERT_TRUE(test::waitUntil([&] { return rec.frames() > stopped + 2048; }));
}

TEST_F(PulseAudioCapture, AMissingServerOrSourceIsAClearError) {
    PulseAudioCapturer noSource("no_such_sink.monitor");
    try {
        noSource.start([](std::span<const int16_t>, uint32_t, uint8_t) {});
        FAIL();
    } catch (const AgentError& e) {
        EXPECT_EQ(std::string(e.what()), "capture: PulseAudio cannot record no_such_sink.monitor: No such entity");
    }
    EXPECT_FALSE(noSource.running());

    test::TempDir nowhere;
    ::setenv("PULSE_SERVER", ("unix:" + nowhere.file("none")).c_str(), 1);
    PulseAudioCapturer noServer;
    const auto begun = std::chrono::steady_clock::now();
    try {
        noServer.start([](std::span<const int16_t>, uint32_t, uint8_t) {});
        FAIL();
    } catch (const AgentError& e) {
        EXPECT_EQ(std::string(e.what()), "capture: PulseAudio: Connection refused");
    }
    EXPECT_LT(std::chrono::steady_clock::now() - begun, 2s);
    ::setenv("PULSE_SERVER", pulse_->server().c_str(), 1);
}

TEST_F(PulseAudioCapture, TheScreenCapturerDeliversSystemAudioBesideTheFrames) {
    test::XvfbServer xvfb(320, 240);
    if (!xvfb.available()) GTEST_SKIP() << xvfb.failure();
    ASSERT_TRUE(xvfb.running()) << xvfb.failure();
    std::atomic<int> frames{0};
    Recording rec; // outlives the capturer, whose threads write into it
    X11ScreenCapturer capturer([&](const CapturedFrame&) { ++frames; }, {xvfb.display(), nullptr, nullptr});
    capturer.setOnAudio(rec.callback());
    capturer.start(0);
    test::TonePlayer tone(pulse_->server(), {leftHz, leftAmplitude}, {rightHz, rightAmplitude});
    const std::size_t startFrames = rec.frames();
    ASSERT_TRUE(test::waitUntil([&] { return rec.frames() > startFrames + 48000 / 2; }, 5s));
    EXPECT_GT(frames.load(), 0);
    EXPECT_EQ(capturer.audioRefusedAt(), std::nullopt);
    {
        const std::lock_guard g(rec.lock);
        EXPECT_NEAR(measure(rec.samples, 0, 9600).hz, leftHz, leftHz * 0.02);
    }
}
