// The share code an agent shows carries its pairing link: not an empty one at start-up, and a fresh
// one once a device has paired with the code (which the pairing killed).
#include <cstdlib>

#include <QJsonDocument>
#include <QJsonObject>

#include "AgentTestSupport.h"
#include "agent/accounts/RelayGrant.h"
#include "agent/core/PairingLink.h"
#include "protocol/Cap.h"
#include "tests/support/accountapi/AccountApiDouble.h"

using namespace dovrel;
using namespace dovrel::test;

namespace {

struct TestCaFile {
    explicit TestCaFile(const std::string& path) { ::setenv("DOVREL_TEST_CA_FILE", path.c_str(), 1); }
    ~TestCaFile() { ::unsetenv("DOVREL_TEST_CA_FILE"); }
};

std::string payloadOf(const AccountApiRequest& r) { return r.json().value("payload").toString().toStdString(); }

// An agent signed in to `account` at the account API double.
AgentHarness::Options signedInAs(const char* account, const std::string& token, const AccountApiDouble& api) {
    AgentHarness::Options o;
    o.relayJson = QJsonDocument(QJsonObject{{"lan", true},
                                            {"host", "127.0.0.1"},
                                            {"port", 9},
                                            {"account", account},
                                            {"token", QString::fromStdString(token)},
                                            {"apiHost", "127.0.0.1"},
                                            {"apiPort", api.port()}})
                      .toJson()
                      .toStdString();
    return o;
}

// Amy's account at the account API double, trusted through its test authority; `options()` signs an
// agent in to it.
struct AmysAccount {
    TempDir certs;
    AccountApiDouble api{certs.path()};
    std::string token = api.addAccount("amy", "pw");
    TestCaFile ca{api.caFile()};
    AgentHarness::Options options() const { return signedInAs("amy", token, api); }
};

} // namespace

TEST(AgentShareCode, ASignedInAgentWithAStoredGrantSharesItsLinkAndAFreshOneAfterAPairing) {
    qtApp();
    AmysAccount amy;
    AccountApiDouble& api = amy.api;
    AgentHarness::Options o = amy.options();
    // A restart with a grant on file: the share code is asked for at once, without minting first.
    const agent::RelayGrant::Grant stored{"g.t.o.k.e.0123456789abcdef.n", "0123456789abcdef", 0};
    o.files = {{".config/Dovrel/grant.json", agent::RelayGrant::encodeFile(stored)}};
    AgentHarness h(o);

    ASSERT_TRUE(waitUntil([&] { return !api.requests("/v1/share").empty(); }, 15000ms));
    const std::string first = payloadOf(api.requests("/v1/share")[0]);
    EXPECT_TRUE(first.starts_with("dovrel://pair?")) << first;
    EXPECT_NE(first.find("code=" + h.code() + "&"), std::string::npos) << first;
    EXPECT_TRUE(first.ends_with("&token=" + stored.token)) << first;
    EXPECT_TRUE(api.requests("/v1/grant").empty()) << "the stored grant is used as it is";

    ASSERT_TRUE(h.connect(h.ctl));
    ASSERT_TRUE(h.ctl.authenticateWithCode(h.code()));
    ASSERT_TRUE(waitUntil([&] { return api.requests("/v1/share").size() == 2; }, 15000ms));
    const std::string second = payloadOf(api.requests("/v1/share")[1]);
    EXPECT_NE(second, first);
    EXPECT_NE(second.find("code=" + h.code() + "&"), std::string::npos) << "the code in force after the pairing";

    // Five wrong codes kill the pairing code too: the share code carrying it is replaced.
    h.ctl.close();
    ASSERT_TRUE(h.log.waitFor("• control connection closed — client gone"));
    const std::string killed = h.code();
    for (int i = 1; i <= 5; ++i) {
        ASSERT_TRUE(h.connect(h.ctl));
        h.ctl.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
        ASSERT_TRUE(h.ctl.awaitHelloAck());
        h.ctl.sendAuthWithCode(killed == "000000" ? "000001" : "000000");
        ASSERT_TRUE(h.log.waitFor("(streak " + std::to_string(i) + ")"));
        h.advance(5200ms); // the refusal's wait and the drop after it
        ASSERT_TRUE(h.ctl.closedByAgent());
    }
    ASSERT_NE(h.code(), killed);
    ASSERT_TRUE(waitUntil([&] { return api.requests("/v1/share").size() == 3; }, 15000ms));
    EXPECT_NE(payloadOf(api.requests("/v1/share")[2]).find("code=" + h.code() + "&"), std::string::npos);
}

TEST(AgentShareCode, TheCodeAShareCodeCarriesPairsForItsThirtyMinutesWithTheWindowClosed) {
    qtApp();
    AmysAccount amy;
    AccountApiDouble& api = amy.api;
    AgentHarness h(amy.options());
    // What a claim at the relay hands out: the code in the link of the share code the window shows.
    const auto claimedCode = [&] {
        const auto shares = api.shares();
        return shares.empty() ? std::string() : agent::pairingCodeOfLink(shares.back().payload);
    };
    ASSERT_TRUE(waitUntil([&] { return !h.model.shareCode().isEmpty(); }, 15000ms));
    h.settle(); // the agent has taken note of the share code
    ASSERT_EQ(claimedCode(), h.code());

    // The window closed 15 minutes ago: the code read off the screen has stopped counting, the share
    // code's has not.
    h.agent->pairingCodeShown(false);
    h.advance(15min);
    ASSERT_TRUE(h.connect(h.ctl));
    ASSERT_TRUE(h.ctl.authenticateWithCode(claimedCode()));
    h.ctl.close();
    ASSERT_TRUE(h.log.waitFor("• control connection closed — client gone"));

    // The pairing killed that code; the fresh share code carries the new one, for 30 minutes and no more.
    ASSERT_TRUE(waitUntil([&] { return api.shares().size() == 2; }, 15000ms));
    ASSERT_TRUE(waitUntil([&] { return h.model.shareCode().toStdString() == api.shares().back().code; }));
    h.settle();
    ASSERT_EQ(claimedCode(), h.code());
    h.advance(30min + 1s);
    TestController late;
    ASSERT_TRUE(h.connect(late));
    late.sendHello(wex::Cap::screenClient, true, wex::AuthMode::psk);
    ASSERT_TRUE(late.awaitHelloAck());
    late.sendAuthWithCode(claimedCode());
    ASSERT_TRUE(h.log.waitFor("• pairing code refused — a code pairs only while"));
    h.advance(250ms);
    const auto r = late.awaitAuthResult();
    ASSERT_TRUE(r && r->fail);
}

TEST(AgentShareCode, SignedOutTheWindowAsksForNoShareCode) {
    AgentHarness h;
    ASSERT_TRUE(waitUntil([&] { return !h.model.pairingURL().isEmpty(); }));
    h.model.createShareCode();
    h.pumpMain();
    EXPECT_FALSE(h.log.has("share code")) << h.log.text();
    EXPECT_TRUE(h.model.grantError().isEmpty());
    EXPECT_FALSE(h.model.grantBusy());
}
