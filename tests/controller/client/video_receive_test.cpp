// Sealed video pieces and sound arriving on the client's video port: reassembly into payloads, the
// picture size, the keyframe requests of the gap rule and of oversized frames, a new session's frame
// identifiers, and sound counted, muted and played.
#include <gtest/gtest.h>

#include "SessionFixture.h"
#include "protocol/AudioFrame.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

struct VideoReceiveFixture : SessionFixture {
    int keyframeRequests() const { return sealedCount(wex::ControlType::keyframeRequest); }
    std::size_t pendingFrames() {
        std::size_t n = 0;
        client().runOnClientThread([&](ClientCore& c) { n = c.reassembler().pendingFrames(); });
        return n;
    }
    // Sends frames in order, each after `gap` on the fake clock.
    void sendFrames(std::initializer_list<uint32_t> ids, std::chrono::milliseconds gap = 0ms) {
        for (uint32_t id : ids) {
            if (gap.count() > 0) advance(gap, gap);
            sendPayload(id, videoPayload(id, 640, 360));
            settle();
        }
    }
};

} // namespace

TEST_F(VideoReceiveFixture, PiecesOfAFrameInAnyOrderPublishItsSize) {
    connect();
    WEXClient& c = client();
    const wex::Bytes big = videoPayload(1, 1920, 1080, {wex::Bytes(4500, 0x41)});
    sendPayload(1, big, {4, 2});
    settle();
    EXPECT_EQ(pendingFrames(), 1u);
    EXPECT_EQ(c.remoteSize(), QSizeF(0, 0));
    sendPayload(1, big, {0, 3, 1});
    ASSERT_TRUE(waitUntil([&] { return c.remoteSize() == QSizeF(1920, 1080); }));
    EXPECT_EQ(pendingFrames(), 0u);
    // A header that says width 1 leaves the size alone.
    sendPayload(2, videoPayload(2, 1, 500));
    settle();
    EXPECT_EQ(c.remoteSize(), QSizeF(1920, 1080));
}

TEST_F(VideoReceiveFixture, AMissingFrameAsksForAKeyframeAtMostEveryQuarterSecond) {
    connect();
    ASSERT_TRUE(waitUntil([&] { return keyframeRequests() == 1; })); // the session's first
    // The first payload of the client's life never asks, whatever its identifier.
    sendFrames({10, 11});
    EXPECT_EQ(keyframeRequests(), 1);
    sendFrames({13});
    ASSERT_TRUE(waitUntil([&] { return keyframeRequests() == 2; }));
    // 100 ms later another gap: too soon.
    sendFrames({15}, 100ms);
    EXPECT_EQ(keyframeRequests(), 2);
    // A late frame moves the mark back; the next in line is no gap.
    sendFrames({14, 15}, 100ms);
    EXPECT_EQ(keyframeRequests(), 2);
    sendFrames({20}, 100ms);
    ASSERT_TRUE(waitUntil([&] { return keyframeRequests() == 3; }));
}

TEST_F(VideoReceiveFixture, AFrameOverTheSizeCapIsDroppedAndAsksForAKeyframe) {
    connect();
    ASSERT_TRUE(waitUntil([&] { return keyframeRequests() == 1; }));
    advance(300ms, 300ms);
    // One piece announcing more pieces than any frame may have.
    wex::ByteWriter w;
    wex::FragmentHeader{5, 0, 60000}.encode(w);
    w.raw(wex::Bytes(1000, 1));
    sendDatagram(agent.sealMedia(wex::Stream::video, w.bytes, wex::HeaderFlag::fragment));
    ASSERT_TRUE(waitUntil([&] { return keyframeRequests() == 2; }));
    EXPECT_EQ(pendingFrames(), 0u);
}

TEST_F(VideoReceiveFixture, BadPiecesAreDroppedWithoutHarm) {
    connect();
    WEXClient& c = client();
    const wex::Bytes good = agent.sealMedia(wex::Stream::video, videoPayload(1, 800, 600));
    wex::Bytes tampered = good;
    tampered[tampered.size() - 3] ^= 1;
    sendDatagram(tampered);
    sendDatagram(wex::Bytes(40, 0x57));
    // Fragment flag but no room for the fragment header; a payload that is no video payload.
    sendDatagram(agent.sealMedia(wex::Stream::video, wex::Bytes{1, 2, 3}, wex::HeaderFlag::fragment));
    sendDatagram(agent.sealMedia(wex::Stream::video, wex::Bytes{1, 2, 3}));
    sendDatagram(agent.sealMedia(wex::Stream::input, videoPayload(1, 320, 200)));
    settle();
    EXPECT_EQ(c.remoteSize(), QSizeF(0, 0));
    // The real one still counts, and a replay of it does nothing more.
    sendDatagram(good);
    ASSERT_TRUE(waitUntil([&] { return c.remoteSize() == QSizeF(800, 600); }));
}

TEST_F(VideoReceiveFixture, ANewSessionStartsWithAnEmptyTableAndNoGap) {
    agent.refuseWhileInSession = false;
    connect();
    WEXClient& c = client();
    // The old session's frames are pending when the link is replaced; their identifiers lie so far apart
    // that none makes another one's missing pieces count as lost.
    for (uint32_t id = 900; id < 910; ++id)
        sendPayload(id * 2000, videoPayload(id * 2000, 640, 360, {wex::Bytes(2500, 0x41)}), {0});
    settle();
    EXPECT_EQ(pendingFrames(), 10u);
    c.disconnectSession();
    ASSERT_TRUE(f.waitPhase(PhaseKind::disconnected));
    agent.dropClient();
    connect();
    EXPECT_EQ(pendingFrames(), 0u);
    // Each session asked for a keyframe at its start, and for nothing else.
    ASSERT_TRUE(waitUntil([&] { return keyframeRequests() == 2; }));
    const int requests = keyframeRequests();
    // Its frames start at 1 again: complete at once, and 1 after the old frames is no gap.
    sendPayload(1, videoPayload(1, 1280, 720, {wex::Bytes(2500, 0x41)}));
    ASSERT_TRUE(waitUntil([&] { return c.remoteSize() == QSizeF(1280, 720); }));
    sendFrames({2, 3});
    pump(50ms);
    EXPECT_EQ(keyframeRequests(), requests);
}

TEST_F(VideoReceiveFixture, SoundIsCountedAlwaysAndPlayedUnlessMuted) {
    connect();
    WEXClient& c = client();
    wex::AudioFrame frame;
    frame.sampleRate = 48000;
    frame.channels = 2;
    frame.pcm = {1, -1, 2, -2, 3}; // two whole sample frames and one stray sample
    sendDatagram(agent.sealMedia(wex::Stream::audio, frame.encode()));
    ASSERT_TRUE(waitUntil([&] { return audio.samples().size() == 4; }));
    EXPECT_EQ(audio.samples(), (std::vector<int16_t>{1, -1, 2, -2}));
    ASSERT_EQ(audio.opened.size(), 1u);
    EXPECT_EQ(audio.opened[0], (AudioFormat{48000, 2}));

    c.toggleAudio();
    EXPECT_TRUE(c.audioMuted());
    sendDatagram(agent.sealMedia(wex::Stream::audio, frame.encode()));
    settle();
    EXPECT_EQ(audio.samples().size(), 4u);
    bool running = true;
    c.runOnClientThread([&](ClientCore& core) { running = core.audioPlayer().running(); });
    EXPECT_FALSE(running);

    // Unmuted, the next frame opens a new output.
    c.toggleAudio();
    frame.pcm = {7, 8};
    sendDatagram(agent.sealMedia(wex::Stream::audio, frame.encode()));
    ASSERT_TRUE(waitUntil([&] { return audio.samples().size() == 6; }));
    ASSERT_EQ(audio.opened.size(), 2u);
    EXPECT_EQ(audio.samples().back(), 8);
}

TEST_F(VideoReceiveFixture, ASoundServerThatTakesItsTimeHoldsUpNothingElse) {
    // The sound server answers only when the test lets it.
    struct Gate {
        std::mutex lock;
        std::condition_variable changed;
        bool opening = false, answer = false;
    };
    auto gate = std::make_shared<Gate>();
    f.config.audioOutputs = [gate, inner = audio.factory()](const AudioFormat& format,
                                                            std::string& error) -> std::unique_ptr<AudioOutput> {
        std::unique_lock lk(gate->lock);
        gate->opening = true;
        gate->changed.notify_all();
        gate->changed.wait_for(lk, 20s, [&] { return gate->answer; });
        return inner(format, error);
    };
    connect();
    wex::AudioFrame frame;
    frame.sampleRate = 48000;
    frame.channels = 2;
    frame.pcm = {1, -1};
    sendDatagram(agent.sealMedia(wex::Stream::audio, frame.encode()));
    {
        std::unique_lock lk(gate->lock);
        ASSERT_TRUE(gate->changed.wait_for(lk, 10s, [&] { return gate->opening; }));
    }
    // While the output is still being opened, control messages are handled.
    wex::DisplayList list;
    list.displays.push_back(wex::DisplayInfo{});
    agent.sendSealed(wex::ControlType::displayList, list.encode());
    const bool handled = waitUntil([&] { return client().displays().size() == 1; });
    {
        const std::lock_guard g(gate->lock);
        gate->answer = true;
    }
    gate->changed.notify_all();
    EXPECT_TRUE(handled);
    ASSERT_TRUE(waitUntil([&] { return audio.samples().size() == 2; }));
}
