#include <gtest/gtest.h>

#include "agent/core/PairingLink.h"
#include "agent/core/PairingPublisher.h"

using namespace dovrel::agent;

namespace {

PairingLinkParts parts() {
    PairingLinkParts p;
    p.code = "042917";
    p.name = "Den PC";
    p.mac = "aa:bb:cc:dd:ee:ff";
    p.deviceId = "0123456789abcdef0123456789abcdef";
    p.relayHost = "relay.dovrel.net";
    p.relayPort = 8443;
    return p;
}

} // namespace

TEST(PairingLink, WithoutTheLocalNetworkTheCodeComesFirst) {
    EXPECT_EQ(buildPairingLink(parts()), "dovrel://pair?code=042917&name=Den%20PC&mac=aa:bb:cc:dd:ee:ff"
                                         "&id=0123456789abcdef0123456789abcdef&relay=relay.dovrel.net:8443&kind=linux");
}

TEST(PairingLink, WithTheLocalNetworkTheAddressLeads) {
    PairingLinkParts p = parts();
    p.lanHost = pairingLinkHost(std::nullopt);
    p.mac.clear();
    p.relayHost = "relay-eu.dovrel.net";
    p.relayPort = 9443;
    EXPECT_EQ(buildPairingLink(p), "dovrel://pair?host=127.0.0.1&code=042917&name=Den%20PC&mac="
                                   "&id=0123456789abcdef0123456789abcdef&relay=relay-eu.dovrel.net:9443&kind=linux");
    EXPECT_EQ(pairingLinkHost(std::string("10.0.0.5")), "10.0.0.5");
    EXPECT_EQ(pairingLinkHost(std::string()), "127.0.0.1");
}

TEST(PairingLink, ARebuildNamesTheAddressTheMachineHasNowNotTheOneItStartedWith) {
    struct Address final : LocalAddress {
        std::optional<std::string> ip, hw;
        std::optional<std::string> lanIP() override { return ip; }
        std::optional<std::string> mac() override { return hw; }
    };
    auto owned = std::make_unique<Address>();
    Address& address = *owned;
    PairingPublisher publisher(std::move(owned));
    publisher.setDevice({"Den", "0123456789abcdef0123456789abcdef", true});
    const wex::RelayIdentity relay{"", "", "relay.dovrel.net", 8443};
    publisher.publish(publisher.build("042917", relay, "")); // before the network came up
    EXPECT_EQ(publisher.link().rfind("dovrel://pair?host=127.0.0.1&code=042917&name=Den&mac=&", 0), 0u);
    address.ip = "10.77.0.1";
    address.hw = "02:00:0a:4d:00:01";
    EXPECT_EQ(
        publisher.rebuild("042917", relay, "").rfind("dovrel://pair?host=10.77.0.1&code=042917&name=Den&mac=02:", 0),
        0u);
}

TEST(PairingLink, GrantSuffixOnlyWithAccountAndToken) {
    EXPECT_EQ(relayGrantQuery("", "tok"), "");
    EXPECT_EQ(relayGrantQuery("acct", ""), "");
    EXPECT_EQ(relayGrantQuery("my_acct-1", "h.p.s~x-y_z"), "&account=my_acct-1&token=h.p.s~x-y_z");

    PairingLinkParts p = parts();
    p.grantQuery = relayGrantQuery("acct", "g.r.a.n.t.0123456789abcdef.sig");
    const std::string link = buildPairingLink(p);
    EXPECT_TRUE(link.ends_with("&kind=linux&account=acct&token=g.r.a.n.t.0123456789abcdef.sig")) << link;
}

TEST(PairingLink, NamesAreEscapedSoTheyCannotBreakOrForgeParameters) {
    EXPECT_EQ(percentEncodeQueryValue("Anna’s Mac"), "Anna%E2%80%99s%20Mac");
    EXPECT_EQ(percentEncodeQueryValue("a-z.A_Z~0!$'()*+,;:@/?"), "a-z.A_Z~0!$'()*+,;:@/?");
    EXPECT_EQ(percentEncodeQueryValue("%#[]\"<>\\^`{|}"), "%25%23%5B%5D%22%3C%3E%5C%5E%60%7B%7C%7D");
    EXPECT_EQ(percentEncodeQueryValue(std::string("\x00\x7f\xff", 3)), "%00%7F%FF");

    // Bare, "&" and "=" in a name would end it and start a parameter of the name's choosing.
    PairingLinkParts p = parts();
    p.name = "Lab & Co&id=ffffffffffffffffffffffffffffffff";
    const std::string link = buildPairingLink(p);
    EXPECT_NE(link.find("&name=Lab%20%26%20Co%26id%3Dffffffffffffffffffffffffffffffff&mac="), std::string::npos)
        << link;
    EXPECT_EQ(link.find("&id=ffff"), std::string::npos);
}

TEST(PairingLink, RedactsEveryTokenValueForTheLog) {
    const std::string link = "dovrel://pair?code=1&kind=linux&account=acct&token=secret.grant";
    EXPECT_EQ(redactPairingLink(link), "dovrel://pair?code=…redacted…&kind=linux&account=acct&token=…redacted…");
    EXPECT_EQ(redactPairingLink("a?x=1&token=s1&y=2&token=s2&token=&z"), "a?x=1&token=…redacted…&y=2&token=…redacted…"
                                                                         "&token=…redacted…&z");
    EXPECT_EQ(redactPairingLink("dovrel://pair?code=1&kind=linux"), "dovrel://pair?code=…redacted…&kind=linux");
    EXPECT_EQ(redactPairingLink("dovrel://pair?host=1.2.3.4&code=999999&name=zipcode=1"),
              "dovrel://pair?host=1.2.3.4&code=…redacted…&name=zipcode=1");
    EXPECT_EQ(redactPairingLink("no query"), "no query");
    // Only a parameter named token: a name or an account that merely contains the word is kept.
    EXPECT_EQ(redactPairingLink("x?name=token%3Dabc&account=mytoken"), "x?name=token%3Dabc&account=mytoken");

    PairingLinkParts p = parts();
    p.grantQuery = relayGrantQuery("acct", "very.secret.grant.token.x.0123456789abcdef.y");
    const std::string logged = redactPairingLink(buildPairingLink(p));
    EXPECT_EQ(logged.find("secret"), std::string::npos) << logged;
    EXPECT_TRUE(logged.ends_with("&account=acct&token=…redacted…")) << logged;
    EXPECT_EQ(logged.find("code=" + p.code), std::string::npos) << logged;
    EXPECT_NE(logged.find("code=…redacted…"), std::string::npos) << logged;
}
