// The client through a scripted TLS relay: registration, the relay's replies, redirects and the
// checks that only the relay path has.
#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "SilentPort.h"
#include "TestAgent.h"
#include "TestRelayStub.h"
#include "controller/client/session/ClientTexts.h"
#include "protocol/ByteWriter.h"
#include "protocol/Frame.h"
#include "tests/support/TestResolver.h"
#include "tests/support/relay/RelayDouble.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::SilentPort;
using dovrel::test::TestAgent;
using dovrel::test::TestCertificate;
using dovrel::test::TestRelayStub;

namespace {

std::string upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

struct RelayFixture : ::testing::Test {
    TestCertificate cert;
    std::unique_ptr<TestRelayStub> relay;
    TestAgent agent;
    std::unique_ptr<ClientFixture> f;

    void SetUp() override {
        app();
        if (!cert.available()) GTEST_SKIP() << cert.reason();
        relay = std::make_unique<TestRelayStub>(cert);
        ASSERT_TRUE(relay->listen());
        ASSERT_TRUE(agent.listen());
        relay->route(agent.deviceId(), &agent);
        f = fixture(false);
    }
    std::unique_ptr<ClientFixture> fixture(bool fakeClock) {
        auto fx = std::make_unique<ClientFixture>(fakeClock);
        fx->config.defaultRelayHost = "localhost";
        fx->config.defaultRelayPort = relay->port();
        fx->config.relayCaFile = cert.caFile();
        return fx;
    }
    WEXClient& client() { return f->client ? *f->client : f->make(); }
    RelayDial dial(std::string room) const { return RelayDial{std::move(room), "Office", {}, {}, {}}; }
    RelayDial accountDial() const {
        return RelayDial{agent.deviceId(), "Office", "acct", "tok", "localhost:" + std::to_string(relay->port())};
    }
};

} // namespace

TEST_F(RelayFixture, PairsThroughTheRelayByRoomThenUsesTheKey) {
    WEXClient& c = client();
    c.connectViaRelay(dial(upper(agent.deviceId())), "123456");
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
    ASSERT_EQ(relay->registrations.size(), 1u);
    const auto& reg = relay->registrations[0];
    EXPECT_EQ(reg.version, 1);
    EXPECT_EQ(reg.role, 2);
    EXPECT_EQ(reg.room, agent.deviceId()); // lower case on the wire, whatever was typed
    EXPECT_EQ(agent.auths.back().authMode, wex::AuthMode::psk);
    EXPECT_EQ(c.agentDeviceId().toStdString(), agent.deviceId());
    ASSERT_TRUE(waitUntil([&] { return !agent.sealedReceived.empty(); }));
    EXPECT_EQ(agent.sealedReceived[0].type, static_cast<uint8_t>(wex::ControlType::keyframeRequest));

    c.disconnectSession();
    ASSERT_TRUE(f->waitPhase(PhaseKind::disconnected));
    c.connectViaRelay(dial(agent.deviceId()));
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
    EXPECT_EQ(agent.auths.back().authMode, wex::AuthMode::keypair);
    EXPECT_EQ(relay->registrations.size(), 2u);
}

TEST_F(RelayFixture, AHostThatDoesNotAnswerGivesWayToTheRelay) {
    const SilentPort silent;
    f = fixture(true);
    f->config.controlPort = silent.port();
    WEXClient& c = client();
    c.connectToMachine("127.0.0.1", "Office", dial(agent.deviceId()), "123456");
    ASSERT_TRUE(waitUntil([&] { return c.phaseKind() == PhaseKind::connecting; }));
    f->advance(2800ms);
    EXPECT_TRUE(relay->registrations.empty()) << "the host has its time to answer first";
    f->advance(400ms);
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
    EXPECT_EQ(relay->registrations.size(), 1u);
    EXPECT_TRUE(c.sessionViaRelay());
}

TEST_F(RelayFixture, ADialEndedBeforeTheHostAnsweredTriesNoRelayAfterwards) {
    const SilentPort silent;
    f = fixture(true);
    f->config.controlPort = silent.port();
    WEXClient& c = client();
    c.connectToMachine("127.0.0.1", "Office", dial(agent.deviceId()), "123456");
    ASSERT_TRUE(waitUntil([&] { return c.phaseKind() == PhaseKind::connecting; }));
    c.disconnectSession();
    ASSERT_TRUE(f->waitPhase(PhaseKind::disconnected));
    f->advance(3200ms);
    pump(200ms);
    EXPECT_TRUE(relay->registrations.empty()) << "the relay was dialled for a dial the user ended";
    EXPECT_EQ(c.phaseKind(), PhaseKind::disconnected);
}

TEST_F(RelayFixture, AnAccountRegistrationSkipsTheRelaysChallengeBytes) {
    // The nonce is made of a whole plain AuthFail frame: fed to the frame reader, it would refuse the
    // session before the agent said a word.
    wex::ByteWriter fail;
    fail.u16(0);
    fail.u8(2);
    fail.string("fake refusal!!!");
    const wex::Bytes frame = wex::buildFrame(wex::Stream::control, 5, 0, {}, fail.bytes);
    ASSERT_EQ(frame.size(), 32u);
    relay->reply = TestRelayStub::Reply::nonce;
    relay->nonce = frame;
    client().connectViaRelay(accountDial(), "123456");
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
    ASSERT_EQ(relay->registrations.size(), 1u);
    const auto& reg = relay->registrations[0];
    EXPECT_EQ(reg.version, 2);
    EXPECT_EQ(reg.role, 2);
    EXPECT_EQ(reg.account, "acct");
    EXPECT_EQ(reg.token, "tok");
    EXPECT_EQ(reg.room, agent.deviceId());
    EXPECT_TRUE(reg.pubKey.empty());
}

TEST_F(RelayFixture, AReplySplitAcrossManyReadsIsCollectedFirst) {
    relay->reply = TestRelayStub::Reply::nonce;
    relay->replyByteByByte = true;
    client().connectViaRelay(accountDial(), "123456");
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
    EXPECT_EQ(agent.hellos.size(), 1u);
}

TEST_F(RelayFixture, ARedirectIsFollowedToTheOtherNode) {
    TestRelayStub second(cert);
    ASSERT_TRUE(second.listen());
    second.route(agent.deviceId(), &agent);
    relay->reply = TestRelayStub::Reply::redirect;
    relay->redirectTarget = "localhost:" + std::to_string(second.port());
    relay->replyByteByByte = true;
    WEXClient& c = client();
    c.connectViaRelay(accountDial(), "123456");
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
    EXPECT_EQ(relay->registrations.size(), 1u);
    EXPECT_EQ(second.registrations.size(), 1u);
    uint16_t port = 0;
    c.runOnClientThread([&](ClientCore& core) { port = core.relayIdentity().port; });
    EXPECT_EQ(port, second.port());
}

TEST_F(RelayFixture, ARedirectFromARelayThatThenClosesIsStillFollowedAtOnce) {
    // The relay double closes its end right after the redirect, as a real relay does.
    dovrel::test::RelayDouble::Options options;
    options.certFile = cert.certFile();
    options.keyFile = cert.keyFile();
    options.redirects = {"*=localhost:" + std::to_string(relay->port())};
    dovrel::test::RelayDouble redirecting(options);
    std::vector<std::string> statuses;
    WEXClient& c = client();
    QObject::connect(&c, &WEXClient::statusChanged, [&] { statuses.push_back(c.status().toStdString()); });
    RelayDial d = accountDial();
    d.relay = "localhost:" + std::to_string(redirecting.port());
    c.connectViaRelay(d, "123456");
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
    EXPECT_TRUE(redirecting.waitForEvent("redirected"));
    EXPECT_EQ(relay->registrations.size(), 1u);
    // Straight from the redirect to the new node: the old link's close is not taken for a failure.
    const auto followed = std::find(statuses.begin(), statuses.end(), std::string(texts::statusRedirect));
    ASSERT_NE(followed, statuses.end());
    EXPECT_EQ(std::find(followed, statuses.end(), std::string(texts::statusReconnecting)), statuses.end());
}

TEST_F(RelayFixture, AMalformedRedirectIsIgnored) {
    relay->reply = TestRelayStub::Reply::redirect;
    relay->redirectTarget = "localhost";
    client().connectViaRelay(accountDial(), "123456");
    ASSERT_TRUE(waitUntil([&] { return relay->registrations.size() == 1; }));
    pump(1500ms);
    EXPECT_EQ(relay->connectionsAccepted, 1);
    EXPECT_EQ(f->phase(), PhaseKind::connecting);
    EXPECT_TRUE(agent.hellos.empty());
}

TEST_F(RelayFixture, AnAgentThatDoesNotOwnTheRoomIsRefusedBeforeTheCode) {
    TestAgent impostor;
    relay->anyRoom = &impostor;
    client().connectViaRelay(dial("00112233445566778899aabbccddeeff"), "123456");
    ASSERT_TRUE(f->waitPhase(PhaseKind::rejected));
    EXPECT_EQ(f->message(), texts::roomNotOwned);
    EXPECT_EQ(f->status(), "that computer failed verification");
    EXPECT_TRUE(impostor.auths.empty());
    pump(1500ms);
    EXPECT_EQ(relay->connectionsAccepted, 1);
}

// The client reaches the relay's TLS, breaks it off, and dials again rather than registers.
TEST_F(RelayFixture, ARelayWithAnUntrustedCertificateIsNeverTalkedTo) {
    f->config.relayCaFile.clear();
    client().connectViaRelay(dial(agent.deviceId()), "123456");
    ASSERT_TRUE(waitUntil([&] { return f->status() == "reconnecting…"; }));
    ASSERT_TRUE(waitUntil([&] { return relay->handshakesBegun >= 2; }));
    EXPECT_TRUE(relay->registrations.empty());
    EXPECT_TRUE(agent.hellos.empty());
    EXPECT_NE(f->phase(), PhaseKind::connected);
}

// Reached at the address a name gave, the relay must still hold a certificate for that name (the test
// certificate names localhost and 127.0.0.1, not this one): the link fails, as it does for a
// certificate nobody vouches for, rather than waits for a host it cannot reach.
TEST_F(RelayFixture, ARelayReachedByANameItsCertificateDoesNotHoldIsNeverTalkedTo) {
    const auto resolver = std::make_shared<dovrel::test::TestResolver>(
        std::map<std::string, std::vector<std::string>>{{"impostor.test", {"127.0.0.1"}}});
    f->config.resolver = resolver;
    f->config.defaultRelayHost = "impostor.test";
    client().connectViaRelay(dial(agent.deviceId()), "123456");
    ASSERT_TRUE(resolver->waitForAsked(1));
    ASSERT_TRUE(waitUntil([&] { return f->status() == "reconnecting…"; }));
    // Its TLS reached, broken off, and dialled again: a whole attempt went by without a registration.
    ASSERT_TRUE(waitUntil([&] { return relay->handshakesBegun >= 2; }));
    EXPECT_TRUE(relay->registrations.empty());
    EXPECT_TRUE(agent.hellos.empty());
}

TEST_F(RelayFixture, AnEmptyRoomNobodyAnswersForIsGivenUpAfterTwelveSeconds) {
    f = fixture(true);
    client().connectViaRelay(dial("ffeeddccbbaa99887766554433221100"), "123456");
    ASSERT_TRUE(waitUntil([&] { return relay->registrations.size() == 1; }));
    f->advance(11500ms, 500ms);
    EXPECT_EQ(f->phase(), PhaseKind::connecting);
    f->advance(1s, 500ms);
    ASSERT_TRUE(f->waitPhase(PhaseKind::rejected));
    EXPECT_EQ(f->message(), texts::unreachableThroughRelay("Office"));
    ASSERT_TRUE(waitUntil([&] { return relay->connectionsEnded == 1; }));
}

TEST_F(RelayFixture, ANewConnectClosesTheRelayAndTheLanLinksOfTheOldOne) {
    f->config.controlPort = agent.controlPort();
    f->config.inputPort = agent.inputPort();
    WEXClient& c = client();
    c.connectViaRelay(dial(agent.deviceId()), "123456");
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
    // Relay to LAN: the relay stream goes.
    agent.refuseWhileInSession = false;
    c.connectToHost("127.0.0.1");
    ASSERT_TRUE(waitUntil([&] { return relay->connectionsEnded == 1; }));
    // The phase still reads "connected" from the relay session until the new dial is under way: wait
    // for the LAN session's own proof instead.
    ASSERT_TRUE(waitUntil([&] { return agent.auths.size() == 2; }));
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
    EXPECT_EQ(agent.auths.back().authMode, wex::AuthMode::keypair);
    // LAN to relay: the control connection goes.
    const int ended = agent.connectionsEnded;
    c.connectViaRelay(dial(agent.deviceId()));
    ASSERT_TRUE(waitUntil([&] { return agent.connectionsEnded > ended; }));
    ASSERT_TRUE(waitUntil([&] { return relay->registrations.size() == 2; }));
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
}
