// Unpairing: tell the machine's agent through the relay, forget its key here, once, and only for it.
#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "ClosedPort.h"
#include "TestAgent.h"
#include "TestRelayStub.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::TestAgent;
using dovrel::test::TestCertificate;
using dovrel::test::TestRelayStub;

namespace {

struct UnpairFixture : ::testing::Test {
    TestCertificate cert;
    std::unique_ptr<TestRelayStub> relay;
    TestAgent agent;
    std::unique_ptr<ClientFixture> f;
    std::vector<UnpairOutcome> results;

    void SetUp() override {
        app();
        if (!cert.available()) GTEST_SKIP() << cert.reason();
        relay = std::make_unique<TestRelayStub>(cert);
        ASSERT_TRUE(relay->listen());
        ASSERT_TRUE(agent.listen());
        relay->route(agent.deviceId(), &agent);
    }
    WEXClient& make(bool fakeClock) {
        f = std::make_unique<ClientFixture>(fakeClock);
        f->config.defaultRelayHost = "localhost";
        f->config.defaultRelayPort = relay->port();
        f->config.relayCaFile = cert.caFile();
        f->config.controlPort = agent.controlPort();
        f->config.inputPort = agent.inputPort();
        return f->make();
    }
    wex::Bytes agentKey() const {
        return wex::Bytes(agent.identity().publicKey().begin(), agent.identity().publicKey().end());
    }
    void revoke(const std::string& id, const std::string& host = "") {
        f->client->revokePairing(id, host, "Office", RelayDial{id, "Office", {}, {}, {}},
                                 [this](UnpairOutcome outcome) { results.push_back(outcome); });
    }
};

} // namespace

TEST_F(UnpairFixture, TheAgentIsToldAndTheKeyForgotten) {
    WEXClient& c = make(false);
    c.connectViaRelay(RelayDial{agent.deviceId(), "Office", {}, {}, {}}, "123456");
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
    c.disconnectSession();
    ASSERT_TRUE(f->waitPhase(PhaseKind::disconnected));
    ASSERT_EQ(agent.paired.size(), 1u);

    revoke(agent.deviceId());
    ASSERT_TRUE(waitUntil([&] { return !results.empty(); }));
    EXPECT_EQ(results, std::vector{UnpairOutcome::told});
    EXPECT_TRUE(agent.paired.empty());
    EXPECT_FALSE(c.security().trustedAgent(agent.deviceId()));
    ASSERT_TRUE(f->waitPhase(PhaseKind::disconnected));
    // The status is published right after the phase, as a separate step.
    EXPECT_TRUE(waitUntil([&] { return f->status() == "idle"; })) << f->status();
    pump(1500ms);
    EXPECT_EQ(results.size(), 1u);
    EXPECT_EQ(relay->registrations.size(), 2u); // no re-dial after the unpair
}

TEST_F(UnpairFixture, AnAddressThatRefusesIsToldApartAndAnAgentThatForgotUsNeedsNoMore) {
    WEXClient& c = make(false);
    // Nothing takes the connection there: DOVRELÆ is not running, which is not "did not answer".
    const std::string stopped = "0123456789abcdef0123456789abcdef";
    c.security().trustAgent(wex::Bytes(32, 9), stopped);
    revoke(stopped, "127.0.0.1:" + std::to_string(dovrel::test::closedPort()));
    ASSERT_TRUE(waitUntil([&] { return !results.empty(); }));
    EXPECT_EQ(results, std::vector{UnpairOutcome::refused});
    EXPECT_FALSE(c.security().trustedAgent(stopped));
    ASSERT_TRUE(f->waitPhase(PhaseKind::disconnected));
    EXPECT_TRUE(relay->registrations.empty()) << "a refusal is an answer: the relay is not tried";

    // Paired, then forgotten on the agent's side: nothing is left there to undo.
    results.clear();
    c.connectViaRelay(RelayDial{agent.deviceId(), "Office", {}, {}, {}}, "123456");
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));
    c.disconnectSession();
    ASSERT_TRUE(f->waitPhase(PhaseKind::disconnected));
    agent.paired.clear();
    revoke(agent.deviceId());
    ASSERT_TRUE(waitUntil([&] { return !results.empty(); }));
    EXPECT_EQ(results, std::vector{UnpairOutcome::alreadyForgotten});
    EXPECT_FALSE(c.security().trustedAgent(agent.deviceId()));
}

TEST_F(UnpairFixture, AMachineThatDoesNotAnswerIsForgottenAfterFifteenSeconds) {
    WEXClient& c = make(true);
    const std::string absent = "0123456789abcdef0123456789abcdef";
    c.security().trustAgent(wex::Bytes(32, 9), absent);
    revoke(absent);
    ASSERT_TRUE(waitUntil([&] { return relay->registrations.size() == 1; }));
    f->advance(14500ms, 500ms);
    EXPECT_TRUE(results.empty());
    EXPECT_TRUE(c.security().trustedAgent(absent));
    f->advance(1s, 500ms);
    ASSERT_TRUE(waitUntil([&] { return !results.empty(); }));
    EXPECT_EQ(results, std::vector{UnpairOutcome::unanswered});
    EXPECT_FALSE(c.security().trustedAgent(absent));
    ASSERT_TRUE(f->waitPhase(PhaseKind::disconnected));
}

TEST_F(UnpairFixture, AnotherConnectCancelsItAndItsTimeOutLeavesTheNewSessionAlone) {
    WEXClient& c = make(true);
    const std::string absent = "0123456789abcdef0123456789abcdef";
    c.security().trustAgent(wex::Bytes(32, 9), absent);
    revoke(absent);
    ASSERT_TRUE(waitUntil([&] { return relay->registrations.size() == 1; }));

    c.connectToHost("127.0.0.1", "123456");
    ASSERT_TRUE(waitUntil([&] { return !results.empty(); }));
    EXPECT_EQ(results, std::vector{UnpairOutcome::interrupted});
    EXPECT_FALSE(c.security().trustedAgent(absent));
    ASSERT_TRUE(f->waitPhase(PhaseKind::connected));

    f->advance(20s, 1s);
    EXPECT_EQ(f->phase(), PhaseKind::connected);
    EXPECT_EQ(results.size(), 1u);
    EXPECT_TRUE(agent.inSession());
}

TEST_F(UnpairFixture, WithoutTrustOnlyTheLocalKeysGoAndNothingIsDialled) {
    WEXClient& c = make(false);
    f->client->security().defaults().setData("dovrel.agentPub", wex::Bytes(32, 1)); // legacy single key
    c.security().trustAgent(wex::Bytes(32, 2), "somebodyelse");
    revoke("");
    revoke(agent.deviceId());
    pump(500ms);
    EXPECT_TRUE(results.empty());
    EXPECT_TRUE(relay->registrations.empty());
    EXPECT_EQ(c.phaseKind(), PhaseKind::disconnected);
    EXPECT_TRUE(c.security().trustedAgent("somebodyelse"));
}

TEST_F(UnpairFixture, ASecondUnpairEndsTheFirstOne) {
    WEXClient& c = make(true);
    const std::string a = "0123456789abcdef0123456789abcdef", b = "fedcba9876543210fedcba9876543210";
    c.security().trustAgent(wex::Bytes(32, 1), a);
    c.security().trustAgent(wex::Bytes(32, 2), b);
    revoke(a);
    revoke(b);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 1; }));
    EXPECT_EQ(results[0], UnpairOutcome::interrupted);
    EXPECT_FALSE(c.security().trustedAgent(a));
    EXPECT_TRUE(c.security().trustedAgent(b));
    f->advance(16s, 1s);
    ASSERT_TRUE(waitUntil([&] { return results.size() == 2; }));
    EXPECT_FALSE(c.security().trustedAgent(b));
}
