// The transport on its own: listener failures, sends without a client, and the session snapshot that the
// video and audio senders read from other threads.

#include <arpa/inet.h>
#include <atomic>
#include <netinet/in.h>
#include <sys/socket.h>
#include <thread>

#include <gtest/gtest.h>

#include "AgentTestSupport.h"
#include "agent/common/AgentError.h"
#include "agent/net/Transport.h"
#include "protocol/ControlMessages.h"

using namespace dovrel;
using namespace dovrel::test;
using namespace std::chrono_literals;

namespace {

// A socket holding a loopback port, so that the transport finds it taken.
struct HeldPort {
    int fd;
    uint16_t port = 0;
    explicit HeldPort(int type) : fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        if (type == SOCK_STREAM) ::listen(fd, 1);
        socklen_t len = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
        port = ntohs(a.sin_port);
    }
    ~HeldPort() { ::close(fd); }
};

agent::TransportOptions loopbackOn(uint16_t control, uint16_t input) {
    agent::TransportOptions o;
    o.ports = {control, input, 9};
    o.listenAddress = QHostAddress::LocalHost;
    return o;
}

} // namespace

TEST(Transport, APortThatIsTakenMakesStartThrow) {
    qtApp();
    LogCapture log;
    const HeldPort tcp(SOCK_STREAM);
    {
        agent::Transport t(loopbackOn(tcp.port, 0));
        try {
            t.start("Box", "id", true);
            FAIL() << "start succeeded on a taken port";
        } catch (const agent::AgentError& e) {
            EXPECT_EQ(e.kind(), agent::AgentError::Kind::transport);
            EXPECT_EQ(
                std::string(e.what()).rfind("transport: cannot listen on TCP port " + std::to_string(tcp.port), 0), 0u)
                << e.what();
        }
    }
    const HeldPort udp(SOCK_DGRAM);
    agent::Transport t(loopbackOn(0, udp.port));
    try {
        t.start("Box", "id", true);
        FAIL() << "start succeeded on a taken port";
    } catch (const agent::AgentError& e) {
        EXPECT_EQ(std::string(e.what()).rfind("transport: cannot listen on UDP port " + std::to_string(udp.port), 0),
                  0u)
            << e.what();
    }
    EXPECT_EQ(t.controlPort(), 0) << "nothing stays open after a failed start";
}

TEST(Transport, SendsAndDropsWithoutAClientDoNothing) {
    qtApp();
    LogCapture log;
    FakeScheduler clock;
    auto o = loopbackOn(0, 0);
    o.scheduler = &clock;
    agent::Transport t(std::move(o));
    int newConnections = 0;
    t.setCallbacks({[&] { ++newConnections; }, {}, {}, {}});
    t.start("Box", "id", true);
    t.sendControl(wex::Ping{1, 2}.encode(), wex::ControlType::ping);
    t.noteHandshake(agent::Transport::HandshakeStage::hello);
    t.dropClient();
    t.queue().sync([&] { clock.advance(1h); });
    EXPECT_EQ(newConnections, 0);
    EXPECT_EQ(t.sendTarget(), nullptr);
    t.queue().sync([&] {
        EXPECT_FALSE(t.hasSession());
        EXPECT_EQ(t.currentClient(), 0u);
    });
}

TEST(Transport, TheSessionSnapshotIsSafeToUseFromOtherThreadsWhileSessionsComeAndGo) {
    TestController paired;
    AgentHarness h(pairedWith(paired));
    std::atomic<bool> stop = false;
    std::atomic<int> sent = 0;
    std::vector<std::thread> senders;
    struct Join {
        std::atomic<bool>& stop;
        std::vector<std::thread>& threads;
        ~Join() {
            stop = true;
            for (auto& t : threads)
                t.join();
        }
    } join{stop, senders};
    for (int i = 0; i < 4; ++i) {
        senders.emplace_back([&] {
            const wex::Bytes picture(600, 0x42);
            while (!stop) {
                const auto target = h.agent->transport().sendTarget();
                if (!target || !target->route) {
                    std::this_thread::yield();
                    continue;
                }
                const wex::Bytes frame =
                    target->session->sealNext(wex::Stream::video, 1, target->sessionId, 0, picture);
                if (!frame.empty() && target->send(frame, true)) ++sent;
                std::this_thread::sleep_for(200us);
            }
        });
    }
    for (int round = 0; round < 5; ++round) {
        ASSERT_TRUE(h.connect(paired));
        ASSERT_TRUE(paired.authenticateWithKey());
        // Video sealed on other threads reaches this controller and opens with its session.
        const auto video = paired.receiveVideo(2000ms);
        ASSERT_TRUE(video) << "round " << round;
        EXPECT_EQ(video->header.stream, wex::Stream::video);
        EXPECT_EQ(video->plaintext, wex::Bytes(600, 0x42));
        paired.close();
        ASSERT_TRUE(waitUntil([&] { return h.agent->transport().sendTarget() == nullptr; }));
        while (paired.receiveVideo(0ms)) {
        }
    }
    EXPECT_GT(sent.load(), 0);
}
