// The sound player's rules against a fake sound system: whole sample frames only, one output for every
// rate and channel count the agent sends, played on as one stream when they change, a new output when a
// frame needs more or the old one broke, and a pause after a failure.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "FakeScheduler.h"
#include "SessionFixture.h"
#include "ToneMeasure.h"
#include "controller/client/audio/AudioPlayer.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {
std::vector<int16_t> pcm(std::initializer_list<int16_t> s) { return s; }
} // namespace

TEST(AudioPlayer, PlaysWholeSampleFramesAndIgnoresFramesItCannotPlay) {
    FakeAudio sound;
    AudioPlayer player(sound.factory());
    struct Case {
        std::vector<int16_t> samples;
        uint32_t rate, channels;
        std::vector<int16_t> played;
    };
    const std::vector<Case> cases = {
        {pcm({1, 2, 3, 4, 5}), 48000, 2, pcm({1, 2, 3, 4})}, // the stray fifth sample is not played
        {pcm({9}), 48000, 2, {}},                            // fewer samples than channels
        {{}, 48000, 2, {}},
        {pcm({1, 2}), 48000, 0, {}},
        {pcm({1, 2}), 0, 2, {}},
        {pcm({1, 2}), 48000, 40, {}}, // more channels than the sound system takes
        {pcm({-32768, 32767}), 48000, 2, pcm({-32768, 32767})},
    };
    std::vector<int16_t> expected;
    for (const auto& c : cases) {
        player.play(c.samples, c.rate, c.channels);
        expected.insert(expected.end(), c.played.begin(), c.played.end());
        EXPECT_EQ(sound.samples(), expected);
    }
    EXPECT_EQ(sound.opened.size(), 1u);
}

TEST(AudioPlayer, LowerRatesAndFewerChannelsPlayIntoTheOutputAndOnlyMoreReplacesIt) {
    FakeAudio sound;
    AudioPlayer player(sound.factory());
    player.play(pcm({1, 2}), 48000, 2);
    player.play(pcm({1, 2, 3}), 16000, 1);
    player.play(pcm({1, 2}), 44100, 2);
    player.play(pcm({1}), 8000, 1);
    EXPECT_EQ(sound.opened, (std::vector<AudioFormat>{{48000, 2}}));
    EXPECT_EQ(player.incoming(), (AudioFormat{8000, 1}));
    // More than the output plays: an output of that format, which then keeps the lesser ones too.
    player.play(pcm({1, 2}), 96000, 2);
    player.play(pcm({1, 2, 3, 4, 5, 6}), 48000, 6);
    player.play(pcm({1, 2}), 16000, 2);
    EXPECT_EQ(sound.opened, (std::vector<AudioFormat>{{48000, 2}, {96000, 2}, {48000, 6}}));
    EXPECT_EQ(player.format(), (AudioFormat{48000, 6}));
    EXPECT_EQ(player.outputsOpened(), 3u);
}

TEST(AudioPlayer, StopClosesAndTheNextFrameOpensAFreshOutput) {
    FakeAudio sound;
    AudioPlayer player(sound.factory());
    player.play(pcm({1, 2}), 96000, 2);
    EXPECT_TRUE(player.running());
    player.stop();
    EXPECT_FALSE(player.running());
    EXPECT_FALSE(player.format());
    EXPECT_FALSE(player.incoming());
    player.play(pcm({1, 2, 3}), 16000, 1);
    EXPECT_EQ(sound.opened.back(), (AudioFormat{48000, 2}));
    EXPECT_EQ(player.incoming(), (AudioFormat{16000, 1}));
}

TEST(AudioPlayer, AToneWhoseFormatChangesMidStreamPlaysOnWithoutAGapOrAStep) {
    FakeAudio sound;
    AudioPlayer player(sound.factory());
    // The agent's formats as its link slows down and recovers, frames of 10 ms, a fifth of a second each.
    const std::vector<AudioFormat> formats = {{48000, 2}, {32000, 2}, {16000, 1}, {8000, 1}, {24000, 1}, {48000, 2}};
    double seconds = 0;
    for (const AudioFormat f : formats) {
        const std::size_t frames = f.sampleRate / 100;
        const auto at = static_cast<std::size_t>(std::lround(seconds * f.sampleRate));
        for (std::size_t i = 0; i < 20; ++i, seconds += static_cast<double>(frames) / f.sampleRate)
            player.play(dovrel::test::toneSamples(440, 0.5, f.sampleRate, f.channels, frames, at + i * frames),
                        f.sampleRate, f.channels);
    }
    ASSERT_EQ(sound.opened.size(), 1u);
    const std::vector<int16_t> played = sound.samples();
    // All of it, at 48 kHz stereo, but what the last conversion still holds.
    EXPECT_NEAR(static_cast<double>(played.size()) / 2 / 48000, seconds, 1e-3);
    for (std::size_t c = 0; c < 2; ++c) {
        const dovrel::test::HeardTone t = dovrel::test::measureTone(played, 2, c, 48000);
        EXPECT_NEAR(t.hz, 440, 2);
        EXPECT_NEAR(t.peak, 0.5, 0.015);
    }
    // No sample jumps much further than the tone moves in a sample's time: a lost or repeated sample, or
    // a step between two formats, would.
    const double most = 0.5 * 2 * std::numbers::pi * 440 / 48000 * 1.05 + 0.02;
    for (std::size_t i = 2; i < played.size(); i += 2)
        ASSERT_LE(std::abs(played[i] - played[i - 2]) / 32767.0, most) << "at " << i / 2;
}

TEST(AudioPlayer, AFailedOutputIsTriedAgainAfterASecondNotOnEveryFrame) {
    dovrel::test::FakeScheduler clock;
    FakeAudio sound;
    sound.refuse = true;
    AudioPlayer player(sound.factory(), &clock);
    for (int i = 0; i < 50; ++i) {
        player.play(pcm({1, 2}), 48000, 2);
        clock.advance(10ms);
    }
    EXPECT_EQ(sound.attempts, 1);
    clock.advance(600ms);
    player.play(pcm({1, 2}), 48000, 2);
    EXPECT_EQ(sound.attempts, 2);
    sound.refuse = false;
    clock.advance(1s);
    player.play(pcm({1, 2}), 48000, 2);
    EXPECT_TRUE(player.running());

    // The sound server goes away under a running output: it is dropped, and a new one waits a second.
    sound.breakOutputs = true;
    player.play(pcm({1, 2}), 48000, 2);
    EXPECT_FALSE(player.running());
    sound.breakOutputs = false;
    clock.advance(1001ms);
    player.play(pcm({3, 4}), 48000, 2);
    EXPECT_TRUE(player.running());
    EXPECT_EQ(sound.opened.size(), 2u);
}
