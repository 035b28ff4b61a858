// The reach time-out and the handshake deadline, on a fake clock: 12 s and 45 s take milliseconds.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "SilentPort.h"
#include "TestAgent.h"
#include "controller/client/session/ClientTexts.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::SilentPort;
using dovrel::test::TestAgent;

namespace {

// A loopback port with nothing listening on it: connections to it are refused. The port stays bound
// (never listened on) while the object lives, so no other test's listener can take it meanwhile.
class ClosedPort {
public:
    ClosedPort() : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof addr;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
            throw std::runtime_error("cannot bind a loopback port");
        port_ = ntohs(addr.sin_port);
    }
    ~ClosedPort() { ::close(fd_); }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    uint16_t port() const { return port_; }

private:
    int fd_;
    uint16_t port_ = 0;
};

struct ClockFixture : ::testing::Test {
    ClientFixture f{true};
    TestAgent agent;

    void SetUp() override {
        app();
        ASSERT_TRUE(agent.listen());
        f.config.controlPort = agent.controlPort();
        f.config.inputPort = agent.inputPort();
    }
    WEXClient& client() { return f.client ? *f.client : f.make(); }
};

} // namespace

TEST_F(ClockFixture, AnAgentNobodyAnswersForIsGivenUpAfterTwelveSeconds) {
    const SilentPort silent;
    f.config.controlPort = silent.port();
    client().connectToHost("127.0.0.1");
    ASSERT_TRUE(waitUntil([&] { return f.status() == "connecting…"; }));
    f.advance(11800ms);
    EXPECT_EQ(f.phase(), PhaseKind::connecting);
    f.advance(400ms);
    ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
    EXPECT_EQ(f.message(), texts::unreachableOnLan("127.0.0.1"));
    EXPECT_EQ(f.status(), "connecting…"); // left as it was
    // Given up means given up: no re-dial, and no later text replaces this one.
    uint64_t gen = 0;
    client().runOnClientThread([&](ClientCore& c) { gen = c.generation(); });
    f.advance(60s, 1s);
    uint64_t after = 0;
    client().runOnClientThread([&](ClientCore& c) { after = c.generation(); });
    EXPECT_EQ(after, gen);
    EXPECT_EQ(f.message(), texts::unreachableOnLan("127.0.0.1"));
}

TEST_F(ClockFixture, AComputerThatRefusesIsNotRunningDovrelAndThatIsSaidAtOnce) {
    const ClosedPort closed;
    f.config.controlPort = closed.port();
    client().connectToMachine("127.0.0.1", "Den", std::nullopt);
    ASSERT_TRUE(f.waitPhase(PhaseKind::rejected)); // no clock moved: the first refusal is the answer
    EXPECT_EQ(f.message(), texts::notRunning("Den", "127.0.0.1"));
}

TEST_F(ClockFixture, TheReachTimeOutChangesNothingOnceTheControlLinkIsUp) {
    agent.helloReply = TestAgent::HelloReply::silent;
    client().connectToHost("127.0.0.1");
    ASSERT_TRUE(waitUntil([&] { return agent.hellos.size() == 1; }));
    f.advance(13s, 500ms);
    EXPECT_EQ(f.phase(), PhaseKind::connecting);
    EXPECT_EQ(f.status(), "handshaking…");
}

TEST_F(ClockFixture, ASilentAgentEndsTheHandshakeAfterFortyFiveSeconds) {
    agent.helloReply = TestAgent::HelloReply::silent;
    client().connectToHost("127.0.0.1");
    ASSERT_TRUE(waitUntil([&] { return agent.hellos.size() == 1; }));
    f.advance(44500ms, 500ms);
    EXPECT_EQ(f.phase(), PhaseKind::connecting);
    f.advance(1s);
    ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
    EXPECT_EQ(f.message(), texts::handshakeStalled(HandshakeStage::dialing));
    EXPECT_EQ(f.status(), "handshake timed out at: no reply to HELLO");
    ASSERT_TRUE(waitUntil([&] { return agent.connectionsEnded == 1; }));
    f.advance(5s, 500ms);
    EXPECT_EQ(agent.connectionsAccepted, 1); // a rejected attempt is not re-dialled
}

TEST_F(ClockFixture, TheDeadlineNamesTheProofThatWentUnanswered) {
    {
        agent.authReply = TestAgent::AuthReply::silent;
        client().connectToHost("127.0.0.1", "123456");
        ASSERT_TRUE(waitUntil([&] { return agent.auths.size() == 1; }));
        f.advance(46s, 1s);
        ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
        EXPECT_EQ(f.message(), texts::handshakeStalled(HandshakeStage::sentPskAuth));
        EXPECT_EQ(f.status(), "handshake timed out at: no reply to the pairing code");
    }
    {
        ClientFixture g{true};
        g.config.controlPort = agent.controlPort();
        g.config.inputPort = agent.inputPort();
        WEXClient& c = g.make();
        const auto& k = identityOf(c).publicKey();
        agent.paired.push_back(wex::Bytes(k.begin(), k.end()));
        c.security().trustAgent(wex::Bytes(agent.identity().publicKey().begin(), agent.identity().publicKey().end()),
                                agent.deviceId());
        c.connectToHost("127.0.0.1");
        ASSERT_TRUE(waitUntil([&] { return agent.auths.size() == 2; }));
        EXPECT_EQ(agent.auths[1].authMode, wex::AuthMode::keypair);
        g.advance(46s, 1s);
        ASSERT_TRUE(g.waitPhase(PhaseKind::rejected));
        EXPECT_EQ(g.message(), texts::handshakeStalled(HandshakeStage::sentKeypairAuth));
        EXPECT_EQ(g.status(), "handshake timed out at: no reply to this device's key");
    }
}

TEST_F(ClockFixture, ReDialsWithinAnAttemptDoNotMoveTheDeadline) {
    // Every answer fails the identity check, so the client re-dials every second and says Hello
    // each time; the deadline still falls 45 s after the first one.
    agent.helloReply = TestAgent::HelloReply::foreignDeviceId;
    client().connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(waitUntil([&] { return agent.hellos.size() == 1; }));
    f.advance(44s, 250ms);
    EXPECT_EQ(f.phase(), PhaseKind::connecting);
    EXPECT_GT(agent.hellos.size(), 10u);
    f.advance(1500ms, 250ms);
    ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
    EXPECT_EQ(f.message(), texts::handshakeStalled(HandshakeStage::dialing));
    const std::size_t hellos = agent.hellos.size();
    f.advance(5s, 250ms);
    EXPECT_EQ(agent.hellos.size(), hellos);
}

TEST_F(ClockFixture, TheDeadlineLeavesAClientWaitingForItsCodeAlone) {
    client().connectToHost("127.0.0.1");
    ASSERT_TRUE(f.waitPhase(PhaseKind::needsCode));
    f.advance(50s, 1s);
    EXPECT_EQ(f.phase(), PhaseKind::needsCode);
    EXPECT_EQ(f.status(), "enter the pairing code");
}

TEST_F(ClockFixture, AClientWaitingForItsCodeLetsTheConnectionGoAndDialsNoMore) {
    // The agent drops an unfinished handshake for any newer connection (a reachability probe's too): one
    // held open would be dialled again, and asked for the code again, in circles.
    client().connectToHost("127.0.0.1");
    ASSERT_TRUE(f.waitPhase(PhaseKind::needsCode));
    ASSERT_TRUE(waitUntil([&] { return agent.connectionsEnded == 1; })) << "the connection was kept";
    agent.dropClient();
    f.advance(20s, 500ms);
    EXPECT_EQ(agent.hellos.size(), 1u);
    EXPECT_EQ(f.phase(), PhaseKind::needsCode);
}

TEST_F(ClockFixture, TheDeadlineNeverReplacesARefusalOrTouchesASession) {
    agent.authReply = TestAgent::AuthReply::fail;
    agent.failReason = 5;
    client().connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
    f.advance(50s, 1s);
    EXPECT_EQ(f.message(), texts::alreadyInUse);
    EXPECT_EQ(f.status(), "busy");

    ClientFixture g{true};
    g.config.controlPort = agent.controlPort();
    g.config.inputPort = agent.inputPort();
    agent.authReply = TestAgent::AuthReply::verify;
    agent.dropClient();
    g.make().connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(g.waitPhase(PhaseKind::connected));
    g.advance(50s, 1s);
    EXPECT_EQ(g.phase(), PhaseKind::connected);
}

TEST_F(ClockFixture, CancellingThePairingStopsEveryReDial) {
    agent.helloReply = TestAgent::HelloReply::foreignDeviceId;
    client().connectToHost("127.0.0.1");
    ASSERT_TRUE(waitUntil([&] { return agent.hellos.size() == 1; }));
    client().cancelPairing();
    ASSERT_TRUE(f.waitPhase(PhaseKind::disconnected));
    f.advance(10s, 250ms);
    EXPECT_EQ(agent.hellos.size(), 1u);
    EXPECT_EQ(agent.connectionsAccepted, 1);
}
