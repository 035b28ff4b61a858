#include <gtest/gtest.h>

#include <QHostAddress>
#include <QUdpSocket>

#include "ClientTestSupport.h"
#include "FakeScheduler.h"
#include "SessionFixture.h"
#include "controller/client/video/VideoListener.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using namespace std::chrono_literals;
using dovrel::test::FakeScheduler;

namespace {
struct Datagrams : VideoListener::Sink {
    std::vector<wex::Bytes> got;
    std::vector<uint16_t> unavailable;
    void videoDatagram(wex::ByteView d) override { got.emplace_back(d.begin(), d.end()); }
    void videoPortUnavailable(uint16_t port) override { unavailable.push_back(port); }
};

// A listener on a fake clock, and a free port held by another socket.
struct HeldPortListener : ::testing::Test {
    bool started = (app(), true); // the application exists before any socket
    FakeScheduler clock;
    Datagrams sink;
    QUdpSocket holder;
    uint16_t port = 0;
    VideoListener listener{sink, clock};
    void SetUp() override {
        ASSERT_TRUE(holder.bind(QHostAddress::Any, 0));
        port = holder.localPort();
    }
};
} // namespace

TEST_F(HeldPortListener, DatagramsArriveWholeAndAHeldPortIsTakenOnceFree) {
    listener.start(port);
    EXPECT_EQ(listener.boundPort(), 0);
    holder.close();
    clock.advance(500ms);
    ASSERT_EQ(listener.boundPort(), port);

    QUdpSocket sender;
    const QByteArray big(1400, 'v');
    sender.writeDatagram(big, QHostAddress::LocalHost, port);
    sender.writeDatagram("a", 1, QHostAddress::LocalHost, port);
    ASSERT_TRUE(waitUntil([&] { return sink.got.size() == 2; }));
    EXPECT_EQ(sink.got[0], wex::Bytes(1400, 'v'));
    EXPECT_EQ(sink.got[1], wex::Bytes{'a'});

    listener.stop();
    EXPECT_EQ(listener.boundPort(), 0);
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

TEST_F(HeldPortListener, APortHeldElsewhereForTwelveSecondsIsGivenUpAndReportedOnce) {
    listener.start(port);
    clock.advance(11s);
    EXPECT_TRUE(sink.unavailable.empty());
    EXPECT_EQ(clock.pendingTimers(), 1u);
    clock.advance(2s);
    EXPECT_EQ(sink.unavailable, std::vector<uint16_t>{port});
    // Nothing keeps trying once it is given up.
    EXPECT_EQ(clock.pendingTimers(), 0u);
    clock.advance(30s);
    EXPECT_EQ(sink.unavailable.size(), 1u);
    EXPECT_EQ(listener.boundPort(), 0);

    // A later start tries afresh and takes the port once it is free.
    holder.close();
    listener.start(port);
    EXPECT_EQ(listener.boundPort(), port);
}

TEST_F(HeldPortListener, StartingAgainOnTheSamePortBindsAtOnce) {
    holder.close();
    listener.start(port);
    ASSERT_EQ(listener.boundPort(), port);
    // The socket let go is closed before the new bind, not when the event loop gets round to it.
    listener.start(port);
    EXPECT_EQ(listener.boundPort(), port);
    EXPECT_EQ(clock.pendingTimers(), 0u);
}

namespace {
struct HeldVideoPort : SessionFixture {
    QUdpSocket holder;
    void SetUp() override {
        SessionFixture::SetUp();
        ASSERT_TRUE(holder.bind(QHostAddress::Any, 0));
        f.config.videoPort = holder.localPort();
    }
};
} // namespace

TEST_F(HeldVideoPort, TheSessionEndsSayingWhichPortIsHeldAndStopsTrying) {
    connect();
    EXPECT_EQ(videoPort(), 0);
    advance(13s, 500ms);
    ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
    EXPECT_NE(f.message().find(std::to_string(holder.localPort())), std::string::npos) << f.message();
    // The agent is told the session is over, and nothing is left retrying.
    EXPECT_TRUE(waitUntil([&] { return sealedCount(wex::ControlType::bye) == 1; }));
    size_t pending = 0;
    client().runOnClientThread([&](ClientCore&) { pending = f.fake->pendingTimers(); });
    EXPECT_EQ(pending, 0u);
}
