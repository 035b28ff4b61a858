// Pairing links: the strict grammar on the raw text, and the edge cases a URL class would get wrong.
#include <gtest/gtest.h>

#include "controller/services/PairLink.h"

using namespace dovrel::controller;

namespace {
const QString id32 = "0123456789abcdef0123456789abcdef";

std::optional<PairLink> parse(const QString& text) { return PairLink::parse(text); }
bool ok(const QString& text) { return parse(text).has_value(); }
QString relayQuery(const QString& account, const QString& token) {
    return "&account=" + account + "&token=" + token + "&relay=relay.example.net:9443";
}
} // namespace

TEST(PairLink, ALocalLinkWithBlanksAroundParses) {
    const auto link = parse("  dovrel://pair?code=1234&host=10.0.0.5\n");
    ASSERT_TRUE(link);
    EXPECT_EQ(link->host, "10.0.0.5");
    EXPECT_EQ(link->code, "1234");
    EXPECT_EQ(link->name, "Mac");
    EXPECT_EQ(link->kind, Device::Kind::mac);
    EXPECT_FALSE(link->deviceId);
    EXPECT_FALSE(link->account);
    EXPECT_FALSE(link->relay);
}

TEST(PairLink, TheAgentsOwnLinkParsesWhole) {
    const auto link =
        parse("dovrel://pair?host=192.168.1.20&code=482913&name=Lab%20%26%20Co%20%E2%80%93%20"
              "r%C3%A9ception&mac=aa:bb:cc:dd:ee:ff&id=" +
              id32.toUpper() + "&relay=relay.dovrel.net:8443&kind=linux" + "&account=team-7&token=dgt1.abc.123-x_y~z");
    ASSERT_TRUE(link);
    EXPECT_EQ(link->name, QString::fromUtf8("Lab & Co – réception"));
    EXPECT_EQ(link->deviceId, id32);
    EXPECT_EQ(link->kind, Device::Kind::linux);
    EXPECT_EQ(link->relay, "relay.dovrel.net:8443");
    EXPECT_EQ(link->account, "team-7");
    EXPECT_EQ(link->token, "dgt1.abc.123-x_y~z");
}

TEST(PairLink, NeedsAHostOrADeviceIdentifier) {
    EXPECT_FALSE(ok("dovrel://pair?code=1234"));
    EXPECT_FALSE(ok("dovrel://pair?code=1234&host=&id="));
    EXPECT_TRUE(ok("dovrel://pair?code=1234&id=" + id32));
}

TEST(PairLink, DeviceIdentifierRules) {
    EXPECT_FALSE(ok("dovrel://pair?code=1&id=" + id32.left(31)));
    EXPECT_FALSE(ok("dovrel://pair?code=1&id=" + id32 + "0"));
    EXPECT_FALSE(ok("dovrel://pair?code=1&id=" + id32.left(31) + "g"));
    EXPECT_EQ(parse("dovrel://pair?code=1&id=" + id32.toUpper())->deviceId, id32);
}

TEST(PairLink, CodeRules) {
    EXPECT_TRUE(ok("dovrel://pair?host=h&code=" + QString(32, 'a')));
    EXPECT_FALSE(ok("dovrel://pair?host=h&code=" + QString(33, 'a')));
    EXPECT_FALSE(ok("dovrel://pair?host=h&code=12%2034"));
    EXPECT_FALSE(ok("dovrel://pair?host=h&code=12%C3%A934")); // é is not ASCII
    EXPECT_FALSE(ok("dovrel://pair?host=h&code=1%0D%0A2"));   // nor is a line break a letter
    EXPECT_EQ(parse("dovrel://pair?host=h&code=Ab-9z")->code, "Ab-9z");
    // A plus sign is a plus sign, not a blank, and not allowed in a code.
    EXPECT_FALSE(ok("dovrel://pair?host=h&code=12+34"));
}

TEST(PairLink, HostRules) {
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=h:0"));
    EXPECT_EQ(parse("dovrel://pair?code=1&host=h:65535")->host, "h:65535");
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=h:65536"));
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=h:"));
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=-h.example"));
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=h-.example"));
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=a..b"));
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=.a"));
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=u@h"));
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=h%2Fx"));
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=h%5Cx"));
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=fe80::1"));
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=" + QString(64, 'a')));
    EXPECT_EQ(parse("dovrel://pair?code=1&host=Office-PC.LAN:+08443")->host, "office-pc.lan:8443");
}

TEST(PairLink, KindAndDefaultNames) {
    const auto windows = parse("dovrel://pair?code=1&host=h&kind=WinDows");
    EXPECT_EQ(windows->kind, Device::Kind::windows);
    EXPECT_EQ(windows->name, "Windows PC");
    EXPECT_EQ(parse("dovrel://pair?code=1&host=h&kind=LINUX")->name, "Linux PC");
    const auto other = parse("dovrel://pair?code=1&host=h&kind=toaster");
    EXPECT_EQ(other->kind, Device::Kind::mac);
    EXPECT_EQ(other->name, "Mac");
}

TEST(PairLink, AccountTokenAndRelayComeTogether) {
    const QString base = "dovrel://pair?code=1&id=" + id32;
    EXPECT_TRUE(ok(base + relayQuery("abc", "t")));
    EXPECT_FALSE(ok(base + relayQuery("ab", "t")));
    EXPECT_FALSE(ok(base + relayQuery("Abc", "t")));
    EXPECT_FALSE(ok(base + "&account=abc&token=t"));
    EXPECT_FALSE(ok(base + relayQuery("abc", "")));
    EXPECT_FALSE(ok(base + relayQuery("", "t")));
    EXPECT_TRUE(ok(base + relayQuery("abc", QString(512, 't'))));
    EXPECT_FALSE(ok(base + relayQuery("abc", QString(513, 't'))));
    EXPECT_FALSE(ok(base + relayQuery("abc", "a+b")));
    EXPECT_FALSE(ok(base + relayQuery("abc", "a%2Fb")));
    const auto relayOnly = parse(base + "&relay=Relay.Example.net");
    ASSERT_TRUE(relayOnly);
    EXPECT_EQ(relayOnly->relay, "relay.example.net");
    EXPECT_FALSE(relayOnly->account);
    EXPECT_FALSE(ok(base + "&relay=relay.example.net:0"));
}

TEST(PairLink, NamesAreCleaned) {
    EXPECT_EQ(parse("dovrel://pair?code=1&host=h&name=%09%20Studio%0A")->name, "Studio");
    EXPECT_EQ(parse("dovrel://pair?code=1&host=h&name=%01%E2%80%8B%20%0A")->name, "Mac");
    EXPECT_EQ(parse("dovrel://pair?code=1&host=h&name=" + QString(70, 'n'))->name, QString(64, 'n'));
    // Sixty-four characters, each an "e" with a combining accent: cut by character, not by code unit.
    const QString accented = QString::fromUtf8("e\xCC\x81").repeated(70);
    const QString encoded = QString("e%CC%81").repeated(70);
    EXPECT_EQ(parse("dovrel://pair?code=1&host=h&name=" + encoded)->name, accented.left(128));
}

TEST(PairLink, TheFirstItemOfANameDecides) {
    EXPECT_FALSE(ok("dovrel://pair?host=h&code=&code=1234"));
    EXPECT_FALSE(ok("dovrel://pair?host=h&code&code=1234"));
    EXPECT_EQ(parse("dovrel://pair?host=h&code=1&code=2")->code, "1");
    // Names are matched exactly: "Code" is another key.
    EXPECT_FALSE(ok("dovrel://pair?host=h&Code=1"));
}

TEST(PairLink, SchemeAndHostAreMatchedExactly) {
    EXPECT_FALSE(ok("DOVREL://pair?code=1&host=h"));
    EXPECT_FALSE(ok("dovrel://PAIR?code=1&host=h"));
    EXPECT_FALSE(ok("dovrel:pair?code=1&host=h"));
    EXPECT_FALSE(ok("dovrel://other?code=1&host=h"));
    EXPECT_TRUE(ok("dovrel://pair/?code=1&host=h#frag"));
    EXPECT_TRUE(ok("dovrel://me@pair:77?code=1&host=h"));
}

TEST(PairLink, TextThatIsNoUriFails) {
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=h&name=a b")); // a bare blank
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=h&name=%zz")); // a broken escape
    EXPECT_FALSE(ok("dovrel://pair?code=1&host=h&name=%C3")); // not UTF-8
    EXPECT_FALSE(ok("dovrel://pair:x?code=1&host=h"));        // a port that is not a number
    EXPECT_FALSE(ok(""));
}
