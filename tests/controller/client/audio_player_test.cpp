// The sound player's rules against a fake sound system: whole sample frames only, an output per format,
// a new one when the rate or channel count changes or the old one broke, and a pause after a failure.
#include <gtest/gtest.h>

#include "FakeScheduler.h"
#include "SessionFixture.h"
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

TEST(AudioPlayer, ANewRateOrChannelCountReplacesTheOutput) {
    FakeAudio sound;
    AudioPlayer player(sound.factory());
    player.play(pcm({1, 2}), 48000, 2);
    player.play(pcm({1, 2}), 48000, 2);
    player.play(pcm({1, 2}), 44100, 2);
    player.play(pcm({1, 2}), 44100, 1);
    player.play(pcm({1, 2}), 44100, 1);
    EXPECT_EQ(sound.opened, (std::vector<AudioFormat>{{48000, 2}, {44100, 2}, {44100, 1}}));
    EXPECT_EQ(player.format(), (AudioFormat{44100, 1}));
    EXPECT_EQ(player.outputsOpened(), 3u);
}

TEST(AudioPlayer, StopClosesAndTheNextFrameOpensWithItsOwnFormat) {
    FakeAudio sound;
    AudioPlayer player(sound.factory());
    player.play(pcm({1, 2}), 48000, 2);
    EXPECT_TRUE(player.running());
    player.stop();
    EXPECT_FALSE(player.running());
    EXPECT_FALSE(player.format());
    player.play(pcm({1, 2, 3}), 16000, 1);
    EXPECT_EQ(sound.opened.back(), (AudioFormat{16000, 1}));
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
