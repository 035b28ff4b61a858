// The relay registration preambles, the bytes signed for the relay, its replies, share-code lengths and
// which stored relay identities register by account.
#include <string>
#include <variant>

#include <gtest/gtest.h>

#include "TestBytes.h"
#include "protocol/DeviceIdentity.h"
#include "protocol/RelayIdentity.h"
#include "protocol/RelayPreamble.h"
#include "protocol/ShareCode.h"

using namespace wex;
using namespace wex::RelayRegister;
using wex::test::asciiBytes;
using wex::test::hexBytes;

namespace {

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes counting(std::size_t n) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<uint8_t>(i + 1);
    return out;
}

} // namespace

TEST(RelayRegister, VersionOnePreamble) {
    EXPECT_EQ(encode(RelayRole::agent, "ab"), hexBytes("44524c59 01 01 0002 6162"));
    EXPECT_EQ(encode(RelayRole::client, ""), hexBytes("44524c59 01 02 0000"));
    const std::string room(32, 'f');
    EXPECT_EQ(encode(RelayRole::client, room).size(), 40u);
    // A room too long for its count would name another room: nothing is built.
    EXPECT_TRUE(encode(RelayRole::agent, std::string(65536, 'r')).empty());
    EXPECT_EQ(encode(RelayRole::agent, std::string(65535, 'r')).size(), 8u + 65535);
}

TEST(RelayRegister, VersionTwoPreamble) {
    const Bytes key = counting(32);
    const Bytes b = encodeV2(RelayRole::client, "a", "r", "", key);
    EXPECT_EQ(b, cat({hexBytes("44524c59 02 02 0001 61 0001 72 0000 20"), key}));
    EXPECT_EQ(b.size(), 47u);
    EXPECT_TRUE(encodeV2(RelayRole::agent, "a", "r", "t", Bytes(256, 1)).empty());
    EXPECT_EQ(encodeV2(RelayRole::agent, "a", "r", "t", Bytes(255, 1)).size(), 16u + 255);
    EXPECT_TRUE(encodeV2(RelayRole::agent, "a", "r", std::string(65536, 't'), key).empty());
}

TEST(RelayRegister, ChallengeBytesAndSignature) {
    const Bytes nonce = counting(32);
    const Bytes c = challenge(RelayRole::agent, "a", "r", nonce);
    EXPECT_EQ(c, cat({asciiBytes("DRLY-v2"), hexBytes("00 01 00 61 00 72 00"), nonce}));
    EXPECT_EQ(c.size(), 46u);
    // "DRLY-v2" is its seven letters, no terminating NUL of its own before the separator.
    EXPECT_EQ(Bytes(c.begin(), c.begin() + 8), hexBytes("44524c592d763200"));
    const DeviceIdentity id;
    const Bytes sig = id.sign(c);
    EXPECT_EQ(sig.size(), 64u);
    EXPECT_TRUE(DeviceIdentity::verify(sig, c, id.publicKey()));
    EXPECT_NE(challenge(RelayRole::client, "a", "r", nonce), c);
}

TEST(RelayRegister, ParsesNonceReplies) {
    const Bytes tag = asciiBytes("DRLYN");
    const Bytes nonce = counting(32);
    EXPECT_EQ(parsePreamble({}), Preamble{NeedMore{}});
    EXPECT_EQ(parsePreamble(asciiBytes("DRL")), Preamble{NeedMore{}});
    EXPECT_EQ(parsePreamble(asciiBytes("DRX")), Preamble{Passthrough{}});
    EXPECT_EQ(parsePreamble(cat({tag, counting(31)})), Preamble{NeedMore{}});
    EXPECT_EQ(parsePreamble(cat({tag, nonce})), (Preamble{NonceReply{nonce, 37}}));
    EXPECT_EQ(parsePreamble(cat({tag, nonce, counting(8)})), (Preamble{NonceReply{nonce, 37}}));
    for (std::size_t n = 0; n < 37; ++n)
        EXPECT_EQ(parsePreamble(ByteView(cat({tag, nonce})).first(n)), Preamble{NeedMore{}}) << n;
}

TEST(RelayRegister, ParsesRedirectReplies) {
    const Bytes full = cat({asciiBytes("DRLYR"), hexBytes("0005"), asciiBytes("h:443")});
    EXPECT_EQ(parsePreamble(full), (Preamble{RedirectReply{"h:443", 12}}));
    EXPECT_EQ(parsePreamble(cat({full, asciiBytes("more")})), (Preamble{RedirectReply{"h:443", 12}}));
    for (std::size_t n = 0; n < full.size(); ++n)
        EXPECT_EQ(parsePreamble(ByteView(full).first(n)), Preamble{NeedMore{}}) << n;
    EXPECT_EQ(parsePreamble(cat({asciiBytes("DRLYR"), hexBytes("0000")})), (Preamble{RedirectReply{"", 7}}));
    EXPECT_EQ(parsePreamble(cat({asciiBytes("DRLYR"), hexBytes("0002 ff41")})), (Preamble{RedirectReply{"\xEF\xBF\xBD"
                                                                                                        "A",
                                                                                                        9}}));
}

TEST(RelayRegister, EverythingElsePassesThrough) {
    EXPECT_EQ(parsePreamble(hexBytes("52")), Preamble{Passthrough{}}) << "a WEX/1 header begins with 0x52";
    EXPECT_EQ(parsePreamble(hexBytes("52 01 01 02 00 00 00 01 00 10 00 aa")), Preamble{Passthrough{}});
    EXPECT_EQ(parsePreamble(asciiBytes("DRLYX")), Preamble{Passthrough{}});
    EXPECT_EQ(parsePreamble(asciiBytes("DRLY")), Preamble{NeedMore{}});
    EXPECT_EQ(parsePreamble(asciiBytes("DRLYNO")), Preamble{NeedMore{}});
    EXPECT_EQ(parsePreamble(asciiBytes("drlyn")), Preamble{Passthrough{}});
}

TEST(RelayRegister, AppendStr16) {
    Bytes out = {9};
    EXPECT_TRUE(appendStr16(out, "h\xC3\xA9"));
    EXPECT_EQ(out, hexBytes("09 0003 68c3a9"));
    EXPECT_FALSE(appendStr16(out, std::string(65536, 'x')));
    EXPECT_EQ(out.size(), 6u) << "nothing appended";
}

TEST(RelayRole, RawValues) {
    EXPECT_EQ(relayRoleFromRaw(1), RelayRole::agent);
    EXPECT_EQ(relayRoleFromRaw(2), RelayRole::client);
    EXPECT_FALSE(relayRoleFromRaw(0));
    EXPECT_FALSE(relayRoleFromRaw(3));
}

TEST(ShareCode, CountsCharactersWithoutSeparators) {
    EXPECT_EQ(shareCodeLength("ABCD-EFGH"), 8u);
    EXPECT_EQ(shareCodeLength(" ab_c "), 3u);
    EXPECT_EQ(shareCodeLength(""), 0u);
    EXPECT_EQ(shareCodeLength("--__-"), 0u);
    EXPECT_EQ(shareCodeLength("AB\tCD EF GH"), 8u);
    // User-perceived characters: e + combining acute is one, a flag is one, a bad byte is one.
    EXPECT_EQ(shareCodeLength("e\xCC\x81-x"), 2u);
    EXPECT_EQ(shareCodeLength("\xF0\x9F\x87\xA9\xF0\x9F\x87\xAA"), 1u);
    EXPECT_EQ(shareCodeLength("A\xFF"
                              "B"),
              3u);
    EXPECT_EQ(shareCodeLength("\r\n"), 1u);
}

TEST(RelayIdentity, OnlyAnAccountMakesItAccountScoped) {
    EXPECT_FALSE((RelayIdentity{"", "tok", "relay.example", 8443}).isAccountScoped());
    EXPECT_TRUE((RelayIdentity{"me@example", "", "relay.example", 8443}).isAccountScoped());
}
