#include <gtest/gtest.h>

#include "controller/client/session/Endpoints.h"
#include "controller/client/session/PairingCodeInput.h"
#include "protocol/PairingCode.h"

using namespace dovrel::controller;

namespace {
const std::string defHost = "relay.example";
wex::RelayIdentity choose(std::optional<std::string> a, std::optional<std::string> t, std::optional<std::string> r,
                          std::optional<wex::RelayIdentity> stored = std::nullopt) {
    return chooseRelayIdentity(a, t, r, stored, defHost, 8443);
}
} // namespace

TEST(Endpoints, LinkCredentialsPickTheirRelayElseTheStoredAccountElseTheDefaults) {
    EXPECT_EQ(choose("acct", "tok", "eu.relay:9000"), (wex::RelayIdentity{"acct", "tok", "eu.relay", 9000}));
    EXPECT_EQ(choose("acct", "tok", "eu.relay:"), (wex::RelayIdentity{"acct", "tok", "eu.relay", 8443}));
    EXPECT_EQ(choose("acct", "tok", "eu.relay:abc"), (wex::RelayIdentity{"acct", "tok", "eu.relay", 8443}));
    EXPECT_EQ(choose("acct", "tok", "eu.relay"), (wex::RelayIdentity{"acct", "tok", defHost, 8443}));
    EXPECT_EQ(choose("acct", "tok", std::nullopt), (wex::RelayIdentity{"acct", "tok", defHost, 8443}));
    EXPECT_EQ(choose("acct", "tok", "v6:host:9001"), (wex::RelayIdentity{"acct", "tok", "v6:host", 9001}));

    const wex::RelayIdentity stored{"me", "secret", "mine.relay", 444};
    EXPECT_EQ(choose("acct", "", "eu.relay:9000", stored), stored);
    EXPECT_EQ(choose(std::nullopt, "tok", "eu.relay:9000", stored), stored);
    EXPECT_EQ(choose("acct", "", "eu.relay:9000"), (wex::RelayIdentity{"", "", defHost, 8443}));
}

TEST(Endpoints, LanTargetsDialTheHostAndTakeANamedPort) {
    EXPECT_EQ(parseLanTarget("10.0.0.5"), (LanTarget{"10.0.0.5", std::nullopt}));
    EXPECT_EQ(parseLanTarget("10.0.0.5:47810"), (LanTarget{"10.0.0.5", 47810}));
    EXPECT_EQ(parseLanTarget("studio.local:5000"), (LanTarget{"studio.local", 5000}));
    EXPECT_EQ(parseLanTarget("studio.local:x"), (LanTarget{"studio.local", std::nullopt}));
    EXPECT_EQ(parseLanTarget("studio.local:0"), (LanTarget{"studio.local", std::nullopt}));
    EXPECT_EQ(parseLanTarget("fe80::1"), (LanTarget{"fe80::1", std::nullopt}));
    EXPECT_EQ(parseLanTarget("[fe80::1]:47810"), (LanTarget{"fe80::1", 47810}));
}

TEST(PairingCodeInput, SeparatorsGoAndEverythingElseStays) {
    EXPECT_EQ(normalizedPairingCode("123 456"), "123456");
    EXPECT_EQ(normalizedPairingCode(" 12-34_56\n"), "123456");
    EXPECT_EQ(normalizedPairingCode("abC1.2"), "abC1.2");
    // The key still depends on the code's exact characters otherwise.
    EXPECT_EQ(wex::pairingCodeKey(normalizedPairingCode("123 456")), wex::pairingCodeKey("123456"));
    EXPECT_NE(wex::pairingCodeKey(normalizedPairingCode("abc")), wex::pairingCodeKey(normalizedPairingCode("ABC")));
}
