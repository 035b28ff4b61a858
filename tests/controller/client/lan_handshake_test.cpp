// The client against the scripted agent on loopback: the handshake, its checks and every refusal.
#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "TestAgent.h"
#include "controller/client/session/ClientTexts.h"
#include "protocol/Cap.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::TestAgent;

namespace {

struct LanFixture : ::testing::Test {
    ClientFixture f;
    TestAgent agent;

    void SetUp() override {
        app();
        ASSERT_TRUE(agent.listen());
        f.config.controlPort = agent.controlPort();
        f.config.inputPort = agent.inputPort();
    }
    WEXClient& client() { return f.client ? *f.client : f.make(); }
    wex::Bytes myKey() {
        const auto& k = client().security().identity().publicKey();
        return wex::Bytes(k.begin(), k.end());
    }
    wex::Bytes agentKey() const {
        return wex::Bytes(agent.identity().publicKey().begin(), agent.identity().publicKey().end());
    }
    bool sawSealed(wex::ControlType type) const {
        for (const auto& s : agent.sealedReceived)
            if (s.type == static_cast<uint8_t>(type)) return true;
        return false;
    }
    // Nothing more happens on the wire for a while: no new connection, no new proof.
    void expectQuiet(int connections, std::size_t auths) {
        pump(1500ms);
        EXPECT_EQ(agent.connectionsAccepted, connections);
        EXPECT_EQ(agent.auths.size(), auths);
    }
};

} // namespace

TEST_F(LanFixture, PairsWithTheCodeThenComesBackWithItsKey) {
    WEXClient& c = client();
    c.connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    EXPECT_EQ(f.status(), "paired ✓ · encrypted");
    ASSERT_EQ(agent.hellos.size(), 1u);
    const wex::Hello& hello = agent.hellos[0];
    EXPECT_EQ(hello.capabilities, 29u);
    EXPECT_EQ(hello.deviceName, "test-controller");
    EXPECT_EQ(wex::Bytes(hello.staticPub.begin(), hello.staticPub.end()), myKey());
    ASSERT_EQ(agent.auths.size(), 1u);
    EXPECT_EQ(agent.auths[0].authMode, wex::AuthMode::psk);
    EXPECT_TRUE(agent.isPaired(myKey()));
    EXPECT_EQ(c.security().trustedAgent(agent.deviceId()), agentKey());
    EXPECT_EQ(c.agentDeviceId().toStdString(), agent.deviceId());

    // The first sealed frame is the keyframe request, with sequence number 0.
    ASSERT_TRUE(waitUntil([&] { return !agent.sealedReceived.empty(); }));
    EXPECT_EQ(agent.sealedReceived[0].type, static_cast<uint8_t>(wex::ControlType::keyframeRequest));
    EXPECT_EQ(agent.sealedReceived[0].seq, 0u);

    c.disconnectSession();
    ASSERT_TRUE(f.waitPhase(PhaseKind::disconnected));
    EXPECT_EQ(f.status(), "idle");
    ASSERT_TRUE(waitUntil([&] { return sawSealed(wex::ControlType::bye); }));

    // A trusted agent is answered with the key, even when a code is typed.
    c.connectToHost("127.0.0.1", "999999");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    ASSERT_EQ(agent.auths.size(), 2u);
    EXPECT_EQ(agent.auths[1].authMode, wex::AuthMode::keypair);
}

TEST_F(LanFixture, ATypedCodeWithSeparatorsAndAStoredCodeBothWork) {
    client().connectToHost("127.0.0.1", " 123-456 ");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));

    ClientFixture g;
    g.config.controlPort = agent.controlPort();
    g.config.inputPort = agent.inputPort();
    g.config.arguments = {"DovrelController", "-pairingCode", "123456"};
    agent.dropClient();
    agent.paired.clear();
    g.make().connectToHost("127.0.0.1");
    ASSERT_TRUE(g.waitPhase(PhaseKind::connected));
    EXPECT_EQ(agent.auths.back().authMode, wex::AuthMode::psk);
}

TEST_F(LanFixture, AnUntrustedAgentWithoutACodeAsksForItAndSendsNoProof) {
    WEXClient& c = client();
    c.connectToHost("127.0.0.1");
    ASSERT_TRUE(f.waitPhase(PhaseKind::needsCode));
    EXPECT_EQ(f.status(), "enter the pairing code");
    expectQuiet(1, 0);
    EXPECT_EQ(c.phaseKind(), PhaseKind::needsCode);

    c.connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    EXPECT_EQ(agent.auths.size(), 1u);
}

TEST_F(LanFixture, AWrongCodeIsRejectedOnceAndNotRedialled) {
    client().connectToHost("127.0.0.1", "000000");
    ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
    EXPECT_EQ(f.message(), texts::codeMismatch);
    EXPECT_EQ(f.status(), "rejected (reason 2)");
    expectQuiet(1, 1);
    EXPECT_FALSE(client().security().trustedAgent(agent.deviceId()));
}

TEST_F(LanFixture, EveryRefusalReasonGetsItsTextAndEndsTheAttempt) {
    struct Case {
        uint8_t reason;
        std::string message;
        std::string expectText;
        std::string expectStatus;
    };
    const std::vector<Case> cases = {
        {1, "", std::string(texts::codeMismatch), "rejected (reason 1)"},
        {2, "", std::string(texts::codeMismatch), "rejected (reason 2)"},
        {4, "Update DOVRELÆ", "Update DOVRELÆ", "rejected (reason 4)"},
        {5, "", std::string(texts::alreadyInUse), "busy"},
        {5, "Someone else is on", "Someone else is on", "busy"},
        {6, "", std::string(texts::codeMismatch), "rejected (reason 6)"},
        {6, "Access was revoked", "Access was revoked", "rejected (reason 6)"},
        {9, "what", std::string(texts::codeMismatch), "rejected (reason 0)"}, // unknown reason: undecodable
    };
    for (const Case& k : cases) {
        SCOPED_TRACE("reason " + std::to_string(k.reason) + " '" + k.message + "'");
        TestAgent a;
        ASSERT_TRUE(a.listen());
        a.authReply = TestAgent::AuthReply::fail;
        a.failReason = k.reason;
        a.failMessage = k.message;
        ClientFixture g;
        g.config.controlPort = a.controlPort();
        g.config.inputPort = a.inputPort();
        g.make().connectToHost("127.0.0.1", "123456");
        ASSERT_TRUE(g.waitPhase(PhaseKind::rejected));
        EXPECT_EQ(g.message(), k.expectText);
        EXPECT_EQ(g.status(), k.expectStatus);
        pump(1300ms);
        EXPECT_EQ(a.connectionsAccepted, 1);
        EXPECT_EQ(g.phase(), PhaseKind::rejected);
    }
}

TEST_F(LanFixture, NotPairedAnymoreAsksForTheCodeInsteadOfLooping) {
    // We still trust the agent, but it has forgotten us.
    WEXClient& c = client();
    c.security().trustAgent(agentKey(), agent.deviceId());
    c.connectToHost("127.0.0.1");
    ASSERT_TRUE(f.waitPhase(PhaseKind::needsCode));
    EXPECT_EQ(f.status(), "enter the pairing code");
    ASSERT_EQ(agent.auths.size(), 1u);
    EXPECT_EQ(agent.auths[0].authMode, wex::AuthMode::keypair);
    expectQuiet(1, 1);
    // The trust stays until a code-proven session replaces it.
    EXPECT_EQ(c.security().trustedAgent(agent.deviceId()), agentKey());

    c.connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    ASSERT_EQ(agent.auths.size(), 2u);
    EXPECT_EQ(agent.auths[1].authMode, wex::AuthMode::psk); // straight to the code, no second key proof
    EXPECT_EQ(c.security().trustedAgent(agent.deviceId()), agentKey());
}

TEST_F(LanFixture, NotPairedAnymoreWithACodeRedialsAfterAPauseAndPairs) {
    WEXClient& c = client();
    c.security().trustAgent(agentKey(), agent.deviceId());
    c.connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(waitUntil([&] { return agent.auths.size() == 1; }));
    EXPECT_EQ(agent.auths[0].authMode, wex::AuthMode::keypair);
    ASSERT_TRUE(waitUntil([&] { return f.status() == "re-pairing…"; }));
    pump(700ms);
    EXPECT_EQ(agent.connectionsAccepted, 1) << "the re-dial waits at least a second";
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    EXPECT_EQ(agent.connectionsAccepted, 2);
    ASSERT_EQ(agent.auths.size(), 2u);
    EXPECT_EQ(agent.auths[1].authMode, wex::AuthMode::psk);
}

TEST_F(LanFixture, AnAgentWhoseKeyChangedIsRefused) {
    WEXClient& c = client();
    const wex::Bytes other(32, 0x33);
    c.security().trustAgent(other, agent.deviceId());
    agent.paired.push_back(myKey());
    c.connectToHost("127.0.0.1");
    ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
    EXPECT_EQ(f.message(), texts::identityChanged);
    EXPECT_EQ(f.status(), "agent key mismatch - refusing");
    EXPECT_EQ(c.security().trustedAgent(agent.deviceId()), other);
    expectQuiet(1, 1);
}

TEST_F(LanFixture, ATamperedChannelBindingIsRefusedBeforeAnyProof) {
    agent.helloReply = TestAgent::HelloReply::tamperChanbind;
    client().connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::rejected));
    EXPECT_EQ(f.message(), texts::tampered);
    EXPECT_EQ(f.status(), "channel-binding mismatch - possible relay MITM");
    expectQuiet(1, 0);
}

TEST_F(LanFixture, AnIdentifierNotDerivedFromTheKeyKeepsThePhaseAndRedials) {
    agent.helloReply = TestAgent::HelloReply::foreignDeviceId;
    client().connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(waitUntil([&] { return agent.connectionsAccepted >= 2; }, 4s));
    EXPECT_EQ(f.phase(), PhaseKind::connecting);
    EXPECT_TRUE(agent.auths.empty());
}

TEST_F(LanFixture, AnAgentProofThatDoesNotVerifyLeavesTheSessionUnmade) {
    agent.authReply = TestAgent::AuthReply::badAgentProof;
    client().connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(waitUntil([&] { return f.status() == "that computer failed verification"; }));
    EXPECT_EQ(f.phase(), PhaseKind::handshaking);
    EXPECT_FALSE(client().security().trustedAgent(agent.deviceId()));
    pump(300ms);
    EXPECT_TRUE(agent.sealedReceived.empty());
}

TEST_F(LanFixture, AnEphemeralKeyNoOneCanAgreeWithIsIgnored) {
    agent.helloReply = TestAgent::HelloReply::badEphemeralKey;
    client().connectToHost("127.0.0.1", "123456");
    pump(800ms);
    EXPECT_EQ(f.phase(), PhaseKind::connecting);
    EXPECT_TRUE(agent.auths.empty());
}

TEST_F(LanFixture, ASecondControllerIsToldTheMachineIsBusy) {
    client().connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    ClientFixture g;
    g.config.controlPort = agent.controlPort();
    g.config.inputPort = agent.inputPort();
    g.make().connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(g.waitPhase(PhaseKind::rejected));
    EXPECT_EQ(g.message(), "This Mac already has a session in progress.");
    EXPECT_EQ(g.status(), "busy");
    EXPECT_EQ(f.phase(), PhaseKind::connected);
}

TEST_F(LanFixture, DisconnectWithoutASessionSendsNothingAndEndsIdle) {
    agent.helloReply = TestAgent::HelloReply::silent;
    WEXClient& c = client();
    c.connectToHost("127.0.0.1");
    ASSERT_TRUE(waitUntil([&] { return agent.hellos.size() == 1; }));
    c.disconnectSession();
    ASSERT_TRUE(f.waitPhase(PhaseKind::disconnected));
    // The status is published in a post of its own, after the phase's.
    EXPECT_TRUE(waitUntil([&] { return f.status() == "idle"; })) << f.status();
    ASSERT_TRUE(waitUntil([&] { return agent.connectionsEnded == 1; }));
    EXPECT_TRUE(agent.sealedReceived.empty());
    pump(1300ms);
    EXPECT_EQ(agent.connectionsAccepted, 1);
}

TEST_F(LanFixture, ANewConnectClosesThePreviousSessionsLinks) {
    client().connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    TestAgent second;
    ASSERT_TRUE(second.listen());
    client().connectToHost("127.0.0.1:" + QString::number(second.controlPort()), "123456");
    ASSERT_TRUE(waitUntil([&] { return second.inSession(); }));
    ASSERT_TRUE(waitUntil([&] { return agent.connectionsEnded == 1; }));
    EXPECT_TRUE(sawSealed(wex::ControlType::bye));
    pump(1300ms);
    EXPECT_EQ(agent.connectionsAccepted, 1);
    EXPECT_EQ(client().agentDeviceId().toStdString(), second.deviceId());
}

TEST_F(LanFixture, AHostWithAPortDialsThatHostAndPort) {
    f.config.controlPort = 1; // nothing there: only the port in the text can work
    WEXClient& c = client();
    c.connectToHost("127.0.0.1:" + QString::number(agent.controlPort()), "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    EXPECT_EQ(c.agentDeviceId().toStdString(), agent.deviceId());
    std::string host;
    c.runOnClientThread([&](ClientCore& core) { host = core.host(); });
    EXPECT_EQ(host, "127.0.0.1");
}

TEST_F(LanFixture, AFreshClientIsIdleWithItsDefaults) {
    WEXClient& c = client();
    EXPECT_EQ(c.phaseKind(), PhaseKind::disconnected);
    EXPECT_EQ(f.status(), "idle");
    EXPECT_EQ(c.remoteBounds(), QSizeF(1280, 720));
    std::string host;
    uint32_t caps = 0;
    c.runOnClientThread([&](ClientCore& core) {
        host = core.host();
        caps = core.advertisedCaps();
    });
    EXPECT_EQ(host, "127.0.0.1");
    EXPECT_EQ(caps, 29u);
    EXPECT_EQ(wex::Cap::screenClient, 29u);
}
