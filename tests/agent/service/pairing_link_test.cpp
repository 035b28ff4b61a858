#include <gtest/gtest.h>

#include "agent/service/PairingLink.h"

using namespace dovrel::agent;

namespace {

PairingLinkParts parts() {
    PairingLinkParts p;
    p.code = "012345";
    p.name = "Den Box";
    p.mac = "aa:bb:cc:dd:ee:ff";
    p.deviceId = "0123456789abcdef0123456789abcdef";
    p.relayHost = "relay.example";
    p.relayPort = 8443;
    return p;
}

} // namespace

TEST(PairingLink, LayoutWithAndWithoutTheLocalNetwork) {
    EXPECT_EQ(pairingLink(parts()), "dovrel://pair?code=012345&name=Den%20Box&mac=aa:bb:cc:dd:ee:ff"
                                    "&id=0123456789abcdef0123456789abcdef&relay=relay.example:8443&kind=linux");
    auto lan = parts();
    lan.lanEnabled = true;
    lan.lanIP = "10.0.0.5";
    EXPECT_EQ(pairingLink(lan).rfind("dovrel://pair?host=10.0.0.5&code=012345&name=", 0), 0u);
    lan.lanIP.clear();
    EXPECT_EQ(pairingLink(lan).rfind("dovrel://pair?host=127.0.0.1&code=", 0), 0u);
    auto noMac = parts();
    noMac.mac.clear();
    noMac.grantQuery = "&account=ann&token=t0k";
    const std::string link = pairingLink(noMac);
    EXPECT_NE(link.find("&mac=&id="), std::string::npos);
    EXPECT_EQ(link.substr(link.size() - 33), "&kind=linux&account=ann&token=t0k");
}

TEST(PairingLink, PercentEncodingKeepsQueryCharactersAndEscapesTheRest) {
    EXPECT_EQ(percentEncodeQuery("a-Z_0.~!$&'()*+,;=:@/?"), "a-Z_0.~!$&'()*+,;=:@/?");
    EXPECT_EQ(percentEncodeQuery("Ann's Mac #2 100%"), "Ann's%20Mac%20%232%20100%25");
    EXPECT_EQ(percentEncodeQuery("Büro"), "B%C3%BCro");
    EXPECT_EQ(percentEncodeQuery(std::string("a\0b", 3)), "a%00b");
    EXPECT_EQ(percentEncodeQuery(""), "");
}

TEST(PairingLink, TheLoggedLinkHidesTheCodeAndTheToken) {
    auto p = parts();
    p.grantQuery = "&account=ann&token=secret-token";
    EXPECT_EQ(redactedLink(pairingLink(p)),
              "dovrel://pair?code=…redacted…&name=Den%20Box&mac=aa:bb:cc:dd:ee:ff"
              "&id=0123456789abcdef0123456789abcdef&relay=relay.example:8443&kind=linux&account=ann&token=…redacted…");
    // Only parameter names count: a name that ends in "code=" is left alone.
    EXPECT_EQ(redactedLink("dovrel://pair?host=1.2.3.4&code=999999&name=zipcode=1"),
              "dovrel://pair?host=1.2.3.4&code=…redacted…&name=zipcode=1");
}
