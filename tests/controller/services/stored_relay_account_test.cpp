// The session client dials the relay with the signed-in account when the machine's link gives none.
#include <gtest/gtest.h>

#include "../client/ClientTestSupport.h"
#include "TestAgent.h"
#include "TestRelayStub.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/platform/SecretsThread.h"
#include "controller/services/RelayAccount.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {
struct StoredAccountTest : ::testing::Test {
    dovrel::test::TestCertificate cert;
    std::unique_ptr<dovrel::test::TestRelayStub> relay;
    dovrel::test::TestAgent agent;
    ClientFixture f;
    std::shared_ptr<RelayAccount> account;

    void SetUp() override {
        if (!cert.available()) GTEST_SKIP() << cert.reason();
        relay = std::make_unique<dovrel::test::TestRelayStub>(cert);
        ASSERT_TRUE(relay->listen());
        ASSERT_TRUE(agent.listen());
        relay->route(agent.deviceId(), &agent);
        account = std::make_shared<RelayAccount>(std::make_shared<SecretsThread>(f.config.secrets), "localhost",
                                                 wex::WEX::relayPort);
        // Nothing listens on the default relay: only the stored account's relay leads anywhere.
        f.config.defaultRelayHost = "localhost";
        f.config.defaultRelayPort = 1;
        f.config.relayCaFile = cert.caFile();
        f.relayAccount = account;
        f.make();
    }
};
} // namespace

TEST_F(StoredAccountTest, ADialWithoutCredentialsUsesTheSignedInAccount) {
    account->save({"ann", "stored-token", "localhost", relay->port()});
    f.client->connectViaRelay(RelayDial{agent.deviceId(), "Office", {}, {}, {}}, "123456");
    ASSERT_TRUE(f.waitPhase(PhaseKind::connected));
    ASSERT_EQ(relay->registrations.size(), 1u);
    EXPECT_EQ(relay->registrations[0].version, 2);
    EXPECT_EQ(relay->registrations[0].account, "ann");
    EXPECT_EQ(relay->registrations[0].token, "stored-token");
}
