// Pairing links: the strict grammar on the raw text, and the edge cases a URL class would get wrong.
#include <gtest/gtest.h>

#include "controller/services/PairLink.h"

using namespace dovrel::controller;

namespace {
const QString id32 = "0123456789abcdef0123456789abcdef";
const QString lan = "dovrel://pair?code=1&host=";
const QString byId = "dovrel://pair?code=1&id=" + id32;
QString creds(const QString& account, const QString& token) {
    return byId + "&account=" + account + "&token=" + token + "&relay=relay.example.net:9443";
}
std::optional<PairLink> parse(const QString& text) { return PairLink::parse(text); }
} // namespace

TEST(PairLink, ALocalLinkWithBlanksAroundParses) {
    const auto link = parse("  dovrel://pair?code=1234&host=10.0.0.5\n");
    ASSERT_TRUE(link);
    EXPECT_EQ(*link, (PairLink{"10.0.0.5", "1234", "Mac", std::nullopt, Device::Kind::mac, {}, {}, {}, {}}));
}

TEST(PairLink, TheAgentsOwnLinkParsesWhole) {
    const auto link =
        parse("dovrel://pair?host=192.168.1.20&code=482913&name=Lab%20%26%20Co%20%E2%80%93%20"
              "r%C3%A9ception&mac=aa:bb:cc:dd:ee:ff&id=" +
              id32.toUpper() + "&relay=relay.dovrel.net:8443&kind=linux&account=team-7&token=dgt1.abc.123-x_y~z");
    ASSERT_TRUE(link);
    EXPECT_EQ(*link,
              (PairLink{"192.168.1.20", "482913", QString::fromUtf8("Lab & Co – réception"), id32, Device::Kind::linux,
                        "team-7", "dgt1.abc.123-x_y~z", "relay.dovrel.net:8443", "aa:bb:cc:dd:ee:ff"}));
    // A hardware address that is not one is left out; the link stands.
    const auto odd = parse("dovrel://pair?host=10.0.0.5&code=1&mac=aa:bb:cc:dd:ee");
    ASSERT_TRUE(odd);
    EXPECT_FALSE(odd->mac);
    QString why;
    EXPECT_FALSE(PairLink::parse("dovrel://pair?host=10.0.0.5&name=Lab", &why));
    EXPECT_EQ(why, "it carries no pairing code");
}

TEST(PairLink, GrammarTable) {
    const std::vector<std::pair<QString, bool>> cases = {
        // a host or a device identifier
        {"dovrel://pair?code=1", false},
        {"dovrel://pair?code=1&host=&id=", false},
        {byId, true},
        {"dovrel://pair?code=1&id=" + id32.left(31), false},
        {byId + "0", false},
        {"dovrel://pair?code=1&id=" + id32.left(31) + "g", false},
        // the code
        {lan + "h&code=" + QString(32, 'a'), true},
        {"dovrel://pair?host=h&code=" + QString(33, 'a'), false},
        {"dovrel://pair?host=h&code=12%2034", false},
        {"dovrel://pair?host=h&code=12%C3%A934", false}, // é is not ASCII
        {"dovrel://pair?host=h&code=1%0D%0A2", false},   // nor is a line break a letter
        {"dovrel://pair?host=h&code=12+34", false},      // "+" stays a plus sign
        // the host
        {lan + "h:0", false},
        {lan + "h:65535", true},
        {lan + "h:65536", false},
        {lan + "h:", false},
        {lan + "-h.example", false},
        {lan + "h-.example", false},
        {lan + "a..b", false},
        {lan + ".a", false},
        {lan + "u@h", false},
        {lan + "h%2Fx", false},
        {lan + "h%5Cx", false},
        {lan + "fe80::1", false},
        {lan + QString(64, 'a'), false},
        // account, token and relay come together
        {creds("abc", "t"), true},
        {creds("ab", "t"), false},
        {creds("Abc", "t"), false},
        {byId + "&account=abc&token=t", false},
        {creds("abc", ""), false},
        {creds("", "t"), false},
        {creds("abc", QString(512, 't')), true},
        {creds("abc", QString(513, 't')), false},
        {creds("abc", "a+b"), false},
        {creds("abc", "a%2Fb"), false},
        {byId + "&relay=relay.example.net:0", false},
        // the first item of a name decides; names match exactly
        {"dovrel://pair?host=h&code=&code=1234", false},
        {"dovrel://pair?host=h&code&code=1234", false},
        {"dovrel://pair?host=h&Code=1", false},
        // scheme and host exactly as written
        {"DOVREL://pair?code=1&host=h", false},
        {"dovrel://PAIR?code=1&host=h", false},
        {"dovrel:pair?code=1&host=h", false},
        {"dovrel://other?code=1&host=h", false},
        {"dovrel://pair/?code=1&host=h#frag", true},
        {"dovrel://me@pair:77?code=1&host=h", true},
        // text that is no URI reference
        {lan + "h&name=a b", false},
        {lan + "h&name=%zz", false},
        {lan + "h&name=%C3", false},
        {"dovrel://pair:x?code=1&host=h", false},
        {"", false},
    };
    for (const auto& [text, ok] : cases)
        EXPECT_EQ(parse(text).has_value(), ok) << text.toStdString();
}

TEST(PairLink, NormalisedValues) {
    EXPECT_EQ(parse("dovrel://pair?code=1&id=" + id32.toUpper())->deviceId, id32);
    EXPECT_EQ(parse("dovrel://pair?host=h&code=Ab-9z")->code, "Ab-9z");
    EXPECT_EQ(parse(lan + "Office-PC.LAN:+08443")->host, "office-pc.lan:8443");
    const auto relayOnly = parse(byId + "&relay=Relay.Example.net");
    EXPECT_EQ(relayOnly->relay, "relay.example.net");
    EXPECT_FALSE(relayOnly->account);
}

TEST(PairLink, KindAndNames) {
    const auto windows = parse(lan + "h&kind=WinDows");
    EXPECT_EQ(windows->kind, Device::Kind::windows);
    EXPECT_EQ(windows->name, "Windows PC");
    EXPECT_EQ(parse(lan + "h&kind=LINUX")->name, "Linux PC");
    EXPECT_EQ(parse(lan + "h&kind=toaster")->kind, Device::Kind::mac);
    EXPECT_EQ(parse(lan + "h&name=%09%20Studio%0A")->name, "Studio");
    EXPECT_EQ(parse(lan + "h&name=%01%E2%80%8B%20%0A")->name, "Mac");
    EXPECT_EQ(parse(lan + "h&name=" + QString(70, 'n'))->name, QString(64, 'n'));
    // Cut by character, not by code unit: each "e" here carries a combining accent.
    EXPECT_EQ(parse(lan + "h&name=" + QString("e%CC%81").repeated(70))->name,
              QString::fromUtf8("e\xCC\x81").repeated(64));
}
