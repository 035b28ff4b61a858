// The once-a-second tick of a session on a fake clock: ping, latency, re-dialling a quiet link, asking
// for a keyframe when the picture stands still, the received-byte report and the audio report.
#include <gtest/gtest.h>

#include "SessionFixture.h"
#include "StreamCapture.h"
#include "protocol/AudioFrame.h"
#include "protocol/ControlMessages.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

using LivenessFixture = SessionFixture;

// Moves the client's fake clock by exactly `d`, in one step.
void step(ClientFixture& f, std::chrono::nanoseconds d) {
    f.client->runOnClientThread([&](ClientCore&) { f.fake->advance(std::chrono::duration_cast<dovrel::Duration>(d)); });
    pump(20ms);
}

} // namespace

TEST_F(LivenessFixture, PingsOnceASecondWithAnEmptyClockField) {
    connect();
    EXPECT_EQ(sealedCount(wex::ControlType::ping), 0);
    advance(3s, 500ms);
    ASSERT_TRUE(waitUntil([&] { return sealedCount(wex::ControlType::ping) == 3; }));
    for (const auto& s : agent.sealedReceived)
        if (s.type == static_cast<uint8_t>(wex::ControlType::ping)) {
            EXPECT_EQ(s.plaintext, wex::Bytes(10, 0));
        }
    pump(100ms);
    EXPECT_EQ(sealedCount(wex::ControlType::ping), 3);
}

TEST_F(LivenessFixture, LatencyIsTheRoundTripInWholeMillisecondsFromTheLastPing) {
    agent.answerPings = false;
    connect();
    WEXClient& c = client();
    // Before any ping an answer means nothing.
    agent.sendSealed(wex::ControlType::pong, wex::Pong{0, 0, 5}.encode());
    settle();
    EXPECT_EQ(c.latencyMs(), 0);

    struct Case {
        std::chrono::nanoseconds after;
        int shown;
    };
    step(f, 1s - 1ns);
    int pings = 0;
    for (const Case k : {Case{12900us, 12}, Case{999999us, 999}, Case{0ns, 0}}) {
        step(f, 1ns); // the tick: a ping leaves
        ++pings;
        ASSERT_TRUE(waitUntil([&] { return sealedCount(wex::ControlType::ping) == pings; }));
        if (k.after.count() > 0) step(f, k.after);
        agent.sendSealed(wex::ControlType::pong, wex::Pong{0, 0, 5}.encode());
        ASSERT_TRUE(waitUntil([&] { return c.latencyMs() == k.shown; })) << c.latencyMs();
        // To just before the next tick.
        step(f, 1s - k.after - 1ns);
    }
}

TEST_F(LivenessFixture, AnAnsweringLinkStaysAndAQuietOneIsRedialledOnceEverySixSeconds) {
    agent.refuseWhileInSession = false; // the re-dial replaces the old connection at once
    connect();
    WEXClient& c = client();
    advance(10s, 500ms);
    pump(100ms); // the last answer is in
    EXPECT_EQ(agent.connectionsAccepted, 1);
    EXPECT_EQ(f.phase(), PhaseKind::connected);
    EXPECT_GT(c.latencyMs(), -1);

    agent.answerPings = false;
    const int before = agent.connectionsAccepted;
    // The last answer came at most a second ago: six seconds of silence are not yet too many.
    advance(6s, 500ms);
    EXPECT_EQ(agent.connectionsAccepted, before);
    advance(1500ms, 500ms);
    ASSERT_TRUE(waitUntil([&] { return agent.connectionsAccepted == before + 1; }));
    // The new session answers nothing either: the next re-dial comes six seconds after the last.
    ASSERT_TRUE(waitUntil([&] { return agent.inSession(); }));
    ASSERT_TRUE(waitUntil([&] { return f.phase() == PhaseKind::connected && !c.reconnecting(); }));
    advance(5s, 500ms);
    EXPECT_EQ(agent.connectionsAccepted, before + 1);
    advance(2s, 500ms);
    ASSERT_TRUE(waitUntil([&] { return agent.connectionsAccepted == before + 2; }));
}

TEST_F(LivenessFixture, ASessionThatNeverAnswersIsRedialledToo) {
    // The quiet-link rule starts at AuthOk: a past session's last answer is never taken for this one's,
    // and a session that never answers does not hang on for ever.
    agent.answerPings = false;
    agent.refuseWhileInSession = false;
    connect();
    advance(6s, 500ms);
    EXPECT_EQ(agent.connectionsAccepted, 1);
    advance(1500ms, 500ms);
    ASSERT_TRUE(waitUntil([&] { return agent.connectionsAccepted == 2; }));
    ASSERT_TRUE(waitUntil([&] { return agent.inSession(); }));
}

TEST_F(LivenessFixture, AStillPictureAsksForAKeyframeFromTheSecondTickOnAtMostOncePerTick) {
    connect();
    ASSERT_TRUE(waitUntil([&] { return sealedCount(wex::ControlType::keyframeRequest) == 1; })); // at AuthOk
    struct Step {
        std::chrono::milliseconds to;
        int requests;
    };
    // The AuthOk request came from the handshake, not the tick: the tick counts frameless ticks itself.
    std::chrono::milliseconds at{0};
    for (const Step s : {Step{1000ms, 1}, Step{2000ms, 2}, Step{3000ms, 3}, Step{5000ms, 5}}) {
        advance(s.to - at, 250ms);
        at = s.to;
        EXPECT_TRUE(waitUntil([&] { return sealedCount(wex::ControlType::keyframeRequest) >= s.requests; }));
        pump(30ms);
        EXPECT_EQ(sealedCount(wex::ControlType::keyframeRequest), s.requests) << s.to.count();
    }
    for (const auto& r : agent.sealedReceived)
        if (r.type == static_cast<uint8_t>(wex::ControlType::keyframeRequest)) {
            EXPECT_EQ(r.plaintext, (wex::Bytes{0, 1, 0}));
        }
}

TEST_F(LivenessFixture, ReceivedBytesAreReportedOnceASecondAndAddUpToWhatCame) {
    agent.answerPings = false; // nothing arrives after the last tick
    connect();
    WEXClient& c = client();
    int64_t reported = 0;
    int reports = 0;
    QObject::connect(&c, &WEXClient::receivedBytes, &c, [&](qint64 n) {
        reported += n;
        ++reports;
    });
    sendPayload(1, videoPayload(1, 640, 480, {wex::Bytes(3000, 0x41)}));
    settle();
    advance(3s, 500ms);
    pump(50ms);
    int64_t total = 0;
    c.runOnClientThread([&](ClientCore& core) { total = core.rxBytes(); });
    EXPECT_GT(reported, 3000);
    EXPECT_EQ(reported, total);
    EXPECT_GE(reports, 1);
    EXPECT_LE(reports, 3);
}

TEST_F(LivenessFixture, TheAudioReportSaysWhatCameOnceASecondAndThenStartsAgain) {
    connect();
    WEXClient& c = client();
    wex::AudioFrame frame;
    frame.sampleRate = 48000;
    frame.channels = 2;
    frame.pcm.assign(512, 100);
    StreamCapture out(1);
    sendDatagram(agent.sealMedia(wex::Stream::audio, wex::Bytes{0, 0})); // does not decode
    sendDatagram(agent.sealMedia(wex::Stream::audio, frame.encode()));
    sendDatagram(agent.sealMedia(wex::Stream::audio, frame.encode()));
    ASSERT_TRUE(waitUntil([&] { return audio.samples().size() == 1024; }));
    advance(1s, 500ms);
    c.toggleAudio();
    sendDatagram(agent.sealMedia(wex::Stream::audio, frame.encode()));
    pump(200ms);
    advance(1s, 500ms);
    advance(1s, 500ms); // nothing came: no line
    const auto lines = out.text();
    EXPECT_NE(lines.find("[audio] in=3 frames 1024 samples DECODE-FAILED=1\n"), std::string::npos) << lines;
    EXPECT_NE(lines.find("[audio] in=1 frames 0 samples (muted locally)\n"), std::string::npos) << lines;
    EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 2) << lines;
}

TEST_F(LivenessFixture, PiecesWithoutAWholeKeyframeBeforeTheFirstPictureSayTheLinkIsTooSlow) {
    connect();
    WEXClient& c = client();
    wex::VideoNALHeader h;
    h.nalFlags = wex::NALFlags{wex::NALFlag::codecH264, wex::NALFlag::keyframe};
    // Every keyframe loses its last piece, as on a link slower than the picture's budget; then one comes whole.
    for (h.frameId = 1; h.frameId <= 12 && !c.linkTooSlow(); ++h.frameId) {
        sendPayload(h.frameId, wex::encodeVideoNALPayload(h, {wex::Bytes(2500, 0x41)}), {0, 1});
        settle();
        advance(500ms);
    }
    EXPECT_TRUE(c.linkTooSlow());
    sendPayload(h.frameId, wex::encodeVideoNALPayload(h, {wex::Bytes(2500, 0x41)}));
    settle();
    advance(1s);
    EXPECT_TRUE(waitUntil([&] { return !c.linkTooSlow(); }));
}
