// The whole receive path on real video: the scripted agent encodes the synthetic pattern with the
// agent's encoder, cuts and seals it the agent's way and sends it by UDP; the client opens, joins,
// decodes and shows it, publishes its figures, and maps the pictures' time stamps onto its own clock.
#include <QHostAddress>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include "../../agent/media/MediaTestSupport.h"
#include "../client/ClientTestSupport.h"
#include "PatternChecks.h"
#include "TestAgent.h"
#include "agent/media/LibavVideoEncoder.h"
#include "agent/media/SyntheticSource.h"
#include "agent/media/VideoPacketizer.h"
#include "protocol/VideoPayload.h"

using namespace dovrel;
using namespace dovrel::controller;
using namespace dovrel::controller::test;
using namespace std::chrono_literals;

namespace {

uint64_t monoMicros() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
            .count());
}

struct ClientStreamFixture : ::testing::TestWithParam<bool> {
    ClientFixture f;
    dovrel::test::TestAgent agent;
    dovrel::test::LogCapture log;
    dovrel::test::PictureSink sink;
    QUdpSocket udp;
    std::shared_ptr<VideoSurface> surface = std::make_shared<VideoSurface>();
    std::vector<wex::Bytes> sets;
    uint32_t frameId = 0;
    std::unique_ptr<agent::LibavVideoEncoder> encoder;
    std::shared_ptr<agent::FrameBuffer> canvas;

    void SetUp() override {
        app();
        ASSERT_TRUE(agent.listen());
        f.config.controlPort = agent.controlPort();
        f.config.inputPort = agent.inputPort();
    }

    void connectWithSurface(WEXClient& c) {
        c.attachVideoSurface(surface);
        c.connectToHost("127.0.0.1", "123456");
        ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
        ASSERT_TRUE(waitUntil([&] { return agent.inSession(); }));
    }
    std::ptrdiff_t keyframeRequests() const {
        return std::count_if(agent.sealedReceived.begin(), agent.sealedReceived.end(), [](const auto& m) {
            return m.type == static_cast<uint8_t>(wex::ControlType::keyframeRequest);
        });
    }

    void startEncoder(int w, int h, bool h264, bool repairsLosses = false) {
        agent::VideoEncoderConfig config{w, h, h264, agent::VideoBudget::lan()};
        config.repairsLosses = repairsLosses;
        encoder = std::make_unique<agent::LibavVideoEncoder>(config, sink.callback(),
                                                             agent::LibavVideoEncoder::Hardware::never);
        encoder->start();
        canvas = std::make_shared<agent::FrameBuffer>(agent::PixelFormat::yuv420p, w, h);
    }
    // Paints picture t of the synthetic pattern and encodes it.
    agent::EncodedPicture encodeNext(uint64_t t, bool keyframe) {
        agent::SyntheticSource::paint(*canvas, t);
        const std::size_t before = sink.pictures().size();
        encoder->encode(agent::FrameBuffer::frame(canvas, std::chrono::steady_clock::now()), monoMicros(), keyframe);
        EXPECT_TRUE(sink.waitFor(before + 1));
        return sink.pictures().empty() ? agent::EncodedPicture{} : sink.pictures().back();
    }

    // Sends one encoded picture as the agent's send path does (keyframes and the first pictures of
    // refresh waves behind the parameter sets), with or without its middle piece; returns how many
    // pieces it had.
    // Waits until the client has handed `payloads` payloads to its decoder, and the decoder is done with them.
    bool decoded(uint64_t payloads) {
        const auto handled = [&] {
            uint64_t n = 0;
            f.client->runOnClientThread([&](ClientCore& c) { n = c.decoder().handled(); });
            return n;
        };
        if (!waitUntil([&] { return handled() >= payloads; }, 10s)) return false;
        bool idle = false;
        f.client->runOnClientThread([&](ClientCore& c) { idle = c.decoder().waitIdle(10s); });
        return idle;
    }

    std::size_t send(const agent::EncodedPicture& pic, bool h264, int w, int h, bool loseMiddle = false) {
        wex::VideoNALHeader header;
        std::vector<wex::Bytes> nals;
        if (pic.parameterSets) sets = *pic.parameterSets;
        if (pic.keyframe || pic.refresh) {
            header.nalFlags = wex::NALFlags{wex::NALFlag::keyframe, wex::NALFlag::config};
            nals = sets;
        }
        if (h264) header.nalFlags.insert(wex::NALFlag::codecH264);
        nals.insert(nals.end(), pic.units.begin(), pic.units.end());
        header.frameId = ++frameId;
        header.ptsUs = static_cast<uint32_t>(pic.ptsUs);
        header.width = static_cast<uint16_t>(w);
        header.height = static_cast<uint16_t>(h);
        const wex::Bytes payload = wex::encodeVideoNALPayload(header, nals);
        uint32_t seq = 0;
        uint16_t port = 0;
        f.client->runOnClientThread([&](ClientCore& c) { port = c.boundVideoPort(); });
        const auto pieces = agent::VideoPacketizer::pieces(frameId, payload, seq);
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            if (loseMiddle && i == pieces.size() / 2) continue;
            const auto& piece = pieces[i];
            const wex::Bytes sealed = agent.sealMedia(wex::Stream::video, piece.plaintext, piece.flags);
            udp.writeDatagram(reinterpret_cast<const char*>(sealed.data()), static_cast<qint64>(sealed.size()),
                              QHostAddress::LocalHost, port);
        }
        return pieces.size();
    }
};

} // namespace

TEST_P(ClientStreamFixture, TheSyntheticPatternStreamedTheAgentsWayIsShownPictureByPicture) {
    const bool h264 = GetParam();
    const int w = 1280, h = 720;
    WEXClient& c = f.make();
    int bestFps = 0;
    QObject::connect(&c, &WEXClient::fpsChanged, [&] { bestFps = std::max(bestFps, c.fps()); });
    c.attachVideoSurface(surface);
    c.connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    ASSERT_TRUE(waitUntil([&] { return agent.inSession(); }));

    agent::LibavVideoEncoder enc({w, h, h264, agent::VideoBudget::lan()}, sink.callback(),
                                 agent::LibavVideoEncoder::Hardware::never);
    enc.start();
    auto buffer = std::make_shared<agent::FrameBuffer>(agent::PixelFormat::yuv420p, w, h);
    // Each picture is sent once the one before it is shown: what is checked is that every picture of
    // the stream arrives, decodes and shows, not how fast a busy machine manages it (bench/ measures
    // that).
    constexpr uint64_t pictures = 90;
    for (uint64_t t = 0; t < pictures; ++t) {
        agent::SyntheticSource::paint(*buffer, t);
        const std::size_t before = sink.pictures().size();
        enc.encode(agent::FrameBuffer::frame(buffer, std::chrono::steady_clock::now()), monoMicros(), t == 0);
        ASSERT_TRUE(sink.waitFor(before + 1));
        send(sink.pictures().back(), h264, w, h);
        ASSERT_TRUE(waitUntil([&] { return c.displayedFrames() == t + 1; }, 10s)) << t << " " << c.displayedFrames();
    }
    EXPECT_TRUE(c.hasFirstFrame());
    EXPECT_EQ(c.remoteSize(), QSizeF(w, h));
    // The liveness tick published the rate of a second in which pictures were shown.
    ASSERT_TRUE(waitUntil([&] { return bestFps > 0; }, 3s));

    const auto p = surface->latest();
    ASSERT_TRUE(p);
    EXPECT_EQ(p->width, w);
    EXPECT_EQ(p->height, h);
    EXPECT_TRUE(p->whole);
    expectGreyRamp(*p);

    // The scripted agent's clock is the monotonic one in microseconds, like the time stamps it sent:
    // the client's estimate of the offset is off by at most half a ping's round trip, which a busy
    // machine can stretch, but never by seconds.
    ASSERT_TRUE(waitUntil([&] { return c.agentClockOffsetUs().has_value(); }, 3s));
    EXPECT_LT(std::abs(*c.agentClockOffsetUs()), 1'000'000);
    const auto age = c.pictureAgeUs(p->ptsUs, p->decodedAt);
    ASSERT_TRUE(age);
    EXPECT_GT(*age, -1'000'000);
    EXPECT_LT(*age, 10'000'000);
}

TEST_P(ClientStreamFixture, AMissingFrameLeavesThePictureMovingAndAsksForAKeyframe) {
    const bool h264 = GetParam();
    const int w = 640, h = 360;
    WEXClient& c = f.make();
    connectWithSurface(c);
    if (HasFatalFailure()) return;

    startEncoder(w, h, h264);
    uint64_t shown = 0;
    std::ptrdiff_t asked = 0;
    for (uint64_t t = 0; t < 12; ++t) {
        const agent::EncodedPicture pic = encodeNext(t, t == 0);
        if (HasFailure()) return;
        if (t == 5) {
            ++frameId; // lost on the way
            asked = keyframeRequests();
            continue;
        }
        send(pic, h264, w, h);
        ++shown;
        ASSERT_TRUE(decoded(shown)) << t;
    }
    // H.264 stands in for the lost picture with a copy of the one before: every picture after the gap
    // was shown, concealed. HEVC stands in for it with a grey one: the last good picture stays. Either
    // way the agent was asked for a keyframe.
    EXPECT_EQ(c.displayedFrames(), h264 ? 11u : 5u);
    ASSERT_TRUE(surface->latest());
    EXPECT_EQ(surface->latest()->whole, !h264);
    EXPECT_TRUE(waitUntil([&] { return keyframeRequests() > asked; }));
}

TEST_P(ClientStreamFixture, AKeyframeMissingAPieceInItsMiddleIsShownConcealedAndAsksForAKeyframe) {
    const bool h264 = GetParam();
    // The agent's HEVC encoder makes one slice of a picture: a keyframe that lost a piece keeps nothing
    // but its parameter sets, and the pictures after it wait for the next one. (x265 cuts slices only by
    // holding every picture back until the next one; the encoder says why it does not.)
    if (!h264) GTEST_SKIP() << "one slice per HEVC picture";
    const int w = 640, h = 360;
    WEXClient& c = f.make();
    connectWithSurface(c);
    if (HasFatalFailure()) return;

    startEncoder(w, h, h264);
    std::ptrdiff_t asked = 0;
    for (uint64_t t = 0; t < 12; ++t) {
        const agent::EncodedPicture pic = encodeNext(t, t == 0 || t == 5);
        if (HasFailure()) return;
        if (t == 5) {
            // The second keyframe loses a piece from its middle; it is given up when the next frame
            // begins to arrive.
            ASSERT_TRUE(pic.keyframe);
            asked = keyframeRequests();
            ASSERT_GE(send(pic, h264, w, h, true), 3u);
            continue;
        }
        send(pic, h264, w, h);
        ASSERT_TRUE(waitUntil([&] { return c.displayedFrames() == t + 1; }, 10s)) << t << " " << c.displayedFrames();
    }
    // Every picture was shown, the damaged keyframe too; the picture is concealed, and the agent was
    // asked for a keyframe.
    EXPECT_EQ(c.displayedFrames(), 12u);
    ASSERT_TRUE(surface->latest());
    EXPECT_FALSE(surface->latest()->whole);
    EXPECT_TRUE(waitUntil([&] { return keyframeRequests() > asked; }));
}

TEST_P(ClientStreamFixture, APictureLostOnTheWayIsRepairedByTheRefreshWavesWithoutAKeyframe) {
    const bool h264 = GetParam();
    const int w = 640, h = 360;
    WEXClient& c = f.make();
    connectWithSurface(c);
    if (HasFatalFailure()) return;

    startEncoder(w, h, h264, true);
    const int period = encoder->refreshPeriod();
    ASSERT_GT(period, 0);
    constexpr uint64_t lost = 5;
    std::optional<uint64_t> wholeAgainAt;
    for (uint64_t t = 0; t < lost + 3 * static_cast<uint64_t>(period) && !wholeAgainAt; ++t) {
        const agent::EncodedPicture pic = encodeNext(t, t == 0);
        if (HasFailure()) return;
        EXPECT_TRUE(t == 0 || !pic.keyframe) << "the agent's encoder sent a keyframe nobody asked for at " << t;
        if (t == lost) {
            ++frameId;
            continue;
        }
        send(pic, h264, w, h);
        ASSERT_TRUE(decoded(t < lost ? t + 1 : t)) << t;
        // H.264 conceals the lost picture and shows every one after it; HEVC, which stands in for it with
        // grey, shows none until the waves have repaired the picture: the one before the loss (numbered
        // `lost`, as numbers start at 1) stays.
        const auto p = surface->latest();
        ASSERT_TRUE(p);
        const bool current = p->frameId == frameId;
        if (h264 || t < lost) {
            EXPECT_TRUE(current) << t;
        } else {
            EXPECT_TRUE(current ? p->whole : p->frameId == lost) << t;
        }
        if (t > lost && p->whole && current) wholeAgainAt = t;
    }
    // Whole again, and right, within the wave under way and the next one.
    ASSERT_TRUE(wholeAgainAt) << "never whole again";
    EXPECT_LE(*wholeAgainAt, lost + 2 * static_cast<uint64_t>(period));
    expectGreyRamp(*surface->latest());
}

INSTANTIATE_TEST_SUITE_P(Software, ClientStreamFixture, ::testing::Values(true, false),
                         [](const auto& p) { return p.param ? "H264" : "HEVC"; });
