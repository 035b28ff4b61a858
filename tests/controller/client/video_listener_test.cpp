#include <gtest/gtest.h>

#include <QHostAddress>
#include <QUdpSocket>

#include "ClientTestSupport.h"
#include "FakeScheduler.h"
#include "controller/client/VideoListener.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using namespace std::chrono_literals;
using dovrel::test::FakeScheduler;

namespace {
struct Datagrams : VideoListener::Sink {
    std::vector<wex::Bytes> got;
    void videoDatagram(wex::ByteView d) override { got.emplace_back(d.begin(), d.end()); }
};
} // namespace

TEST(VideoListener, DatagramsArriveWholeAndAHeldPortIsTakenOnceFree) {
    app();
    FakeScheduler clock;
    Datagrams sink;
    QUdpSocket holder;
    ASSERT_TRUE(holder.bind(QHostAddress::Any, 0));
    const uint16_t port = holder.localPort();

    VideoListener listener(sink, clock);
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
