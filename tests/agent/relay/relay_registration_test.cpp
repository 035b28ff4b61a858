#include <random>

#include <gtest/gtest.h>

#include "protocol/DeviceIdentity.h"
#include "protocol/RelayPreamble.h"
#include "tests/support/relay/RelayOptions.h"
#include "tests/support/relay/RelayRegistration.h"

using namespace dovrel::test::relay;
using wex::RelayRole;
namespace RR = wex::RelayRegister;

namespace {

wex::Bytes key32(uint8_t first) {
    wex::Bytes k(32);
    for (std::size_t i = 0; i < k.size(); ++i)
        k[i] = static_cast<uint8_t>(first + i);
    return k;
}

wex::Bytes concat(wex::Bytes a, const wex::Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

std::optional<RelayOptions> parseArgs(std::vector<std::string> args, std::string* errorOut = nullptr) {
    args.insert(args.begin(), {"--cert", "c.pem", "--key", "k.pem"});
    std::string error;
    auto o = RelayOptions::parse(args, error);
    if (errorOut) *errorOut = error;
    return o;
}

} // namespace

TEST(RelayRegistration, ReadsBothPreambleVersionsAndLeavesTheStreamBytes) {
    const wex::Bytes v1 = RR::encode(RelayRole::agent, "ab");
    const wex::Bytes stream = {0x52, 0x01, 0x00};
    const auto r1 = parseRegistration(concat(v1, stream));
    ASSERT_TRUE(std::holds_alternative<Registration>(r1));
    EXPECT_EQ(std::get<Registration>(r1), (Registration{1, RelayRole::agent, "", "ab", "", {}, 10}));

    const wex::Bytes key = key32(7);
    const wex::Bytes v2 = RR::encodeV2(RelayRole::client, "acct", "0123456789abcdef0123456789abcdef", "tok", key);
    const auto r2 = parseRegistration(concat(v2, stream));
    ASSERT_TRUE(std::holds_alternative<Registration>(r2));
    EXPECT_EQ(std::get<Registration>(r2),
              (Registration{2, RelayRole::client, "acct", "0123456789abcdef0123456789abcdef", "tok", key, v2.size()}));

    // A controller's key is empty; texts are kept byte for byte, even when not UTF-8.
    const std::string oddRoom("r\xff\x00z", 4);
    const auto r3 = parseRegistration(RR::encodeV2(RelayRole::client, "", oddRoom, "", {}));
    ASSERT_TRUE(std::holds_alternative<Registration>(r3));
    EXPECT_EQ(std::get<Registration>(r3).room, oddRoom);
    EXPECT_TRUE(std::get<Registration>(r3).pubKey.empty());
}

TEST(RelayRegistration, EveryProperPrefixWaitsForMore) {
    for (const wex::Bytes& whole :
         {RR::encode(RelayRole::client, "room"),
          RR::encodeV2(RelayRole::agent, "a", "r", "t.o.k.e.n.0123456789abcdef.x", key32(1))}) {
        for (std::size_t n = 0; n < whole.size(); ++n)
            EXPECT_TRUE(std::holds_alternative<Incomplete>(parseRegistration(wex::ByteView(whole).first(n)))) << n;
        EXPECT_TRUE(std::holds_alternative<Registration>(parseRegistration(whole)));
    }
}

TEST(RelayRegistration, RefusesAsSoonAsTheBytesCannotBeAPreamble) {
    const auto reason = [](const wex::Bytes& b) {
        const auto r = parseRegistration(b);
        return std::holds_alternative<Malformed>(r) ? std::get<Malformed>(r).reason : std::string("(accepted)");
    };
    EXPECT_EQ(reason({'X'}), "bad-magic");
    EXPECT_EQ(reason({'D', 'R', 'L', 'X'}), "bad-magic");
    EXPECT_EQ(reason({0x52, 0x01}), "bad-magic"); // a WEX/1 frame where a preamble belongs
    EXPECT_EQ(reason({'D', 'R', 'L', 'Y', 0}), "bad-version");
    EXPECT_EQ(reason({'D', 'R', 'L', 'Y', 3}), "bad-version");
    EXPECT_EQ(reason({'D', 'R', 'L', 'Y', 1, 0}), "bad-role");
    EXPECT_EQ(reason({'D', 'R', 'L', 'Y', 2, 3}), "bad-role");
}

TEST(RelayRegistration, SurvivesRandomAndMutatedInput) {
    std::mt19937 rng(0xD0E1);
    const wex::Bytes seeds[] = {RR::encode(RelayRole::agent, "0123456789abcdef0123456789abcdef"),
                                RR::encodeV2(RelayRole::agent, "acct", "room", "token", key32(9))};
    for (int i = 0; i < 200000; ++i) {
        wex::Bytes b;
        if (i % 2 == 0) {
            b = seeds[i % 4 / 2];
            const int edits = 1 + static_cast<int>(rng() % 4);
            for (int e = 0; e < edits && !b.empty(); ++e)
                b[rng() % b.size()] = static_cast<uint8_t>(rng());
            b.resize(rng() % (b.size() + 8), static_cast<uint8_t>(rng()));
        } else {
            b.resize(rng() % 64);
            for (auto& x : b)
                x = static_cast<uint8_t>(rng());
            if (b.size() >= 4 && rng() % 2) std::copy(RR::magic.begin(), RR::magic.end(), b.begin());
        }
        const auto r = parseRegistration(b);
        if (const auto* reg = std::get_if<Registration>(&r)) {
            ASSERT_LE(reg->consumed, b.size());
            // What was read re-encodes to exactly the bytes consumed.
            const wex::Bytes again = reg->version == 1
                                         ? RR::encode(reg->role, reg->room)
                                         : RR::encodeV2(reg->role, reg->account, reg->room, reg->token, reg->pubKey);
            ASSERT_EQ(again, wex::Bytes(b.begin(), b.begin() + static_cast<std::ptrdiff_t>(reg->consumed)));
        }
    }
}

TEST(RelayRegistration, RepliesParseAsTheAgentReadsThem) {
    const wex::Bytes nonce = key32(100);
    const auto n = RR::parsePreamble(nonceReply(nonce));
    ASSERT_TRUE(std::holds_alternative<RR::NonceReply>(n));
    EXPECT_EQ(std::get<RR::NonceReply>(n), (RR::NonceReply{nonce, 37}));

    const wex::Bytes redirect = redirectReply("relay-eu.dovrel.net:8443");
    EXPECT_EQ(wex::Bytes(redirect.begin(), redirect.begin() + 7), (wex::Bytes{'D', 'R', 'L', 'Y', 'R', 0x00, 24}));
    const auto r = RR::parsePreamble(redirect);
    ASSERT_TRUE(std::holds_alternative<RR::RedirectReply>(r));
    EXPECT_EQ(std::get<RR::RedirectReply>(r), (RR::RedirectReply{"relay-eu.dovrel.net:8443", 31}));
    EXPECT_TRUE(redirectReply(std::string(65536, 'h')).empty());

    EXPECT_EQ(printable(std::string("a b\\\n\x7f", 6)), "a\\x20b\\x5c\\x0a\\x7f");
}

TEST(RelayOptions, ReadsTheCommandLineAndRefusesWhatItCannotUse) {
    const auto o = parseArgs({"--listen", "::1", "--port", "9443", "--port-file", "/tmp/p", "--challenge", "--redirect",
                              "roomA=relay-b:9443", "--redirect", "*=relay-c:1", "--token", "t1", "--token", "t2",
                              "--token-shape", "--room-key-check", "--preamble-timeout-ms", "250"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->listen, "::1");
    EXPECT_EQ(o->port, 9443);
    EXPECT_EQ(o->portFile, "/tmp/p");
    EXPECT_TRUE(o->challenge && o->tokenShape && o->roomKeyCheck);
    EXPECT_EQ(o->redirects.at("roomA"), "relay-b:9443");
    EXPECT_EQ(o->tokens, (std::set<std::string>{"t1", "t2"}));
    EXPECT_EQ(o->preambleTimeoutMs, 250);

    std::string error;
    EXPECT_FALSE(parseArgs({"--port", "65536"}, &error));
    EXPECT_NE(error.find("--port"), std::string::npos);
    EXPECT_FALSE(parseArgs({"--redirect", "=x:1"}));
    EXPECT_FALSE(parseArgs({"--redirect", "nothing"}));
    EXPECT_FALSE(parseArgs({"--token"}));
    EXPECT_FALSE(parseArgs({"--preamble-timeout-ms", "0"}));
    EXPECT_FALSE(parseArgs({"--bogus"}));
    EXPECT_FALSE(RelayOptions::parse({"--cert", "c.pem"}, error)); // no key
}

TEST(RelayOptions, DecidesRefusalRedirectAndChallengePerRegistration) {
    const auto o = parseArgs(
        {"--token", "listed", "--token-shape", "--challenge", "--room-key-check", "--redirect", "moved=elsewhere:1"});
    ASSERT_TRUE(o);
    const wex::DeviceIdentity id;
    const wex::Bytes key(id.publicKey().begin(), id.publicKey().end());
    static constexpr char hexDigits[] = "0123456789abcdef";
    std::string ownRoom;
    for (std::size_t i = 0; i < 16; ++i)
        ownRoom += {hexDigits[key[i] >> 4], hexDigits[key[i] & 15]};

    Registration agent{2, RelayRole::agent, "acct", ownRoom, "listed", key, 0};
    EXPECT_EQ(o->refusal(agent), "");
    EXPECT_TRUE(o->challenges(agent));
    agent.token = "a.b.c.d.e.0123456789ABCDEF.g";
    EXPECT_EQ(o->refusal(agent), "");
    for (const char* bad :
         {"", "other", "a.b.c.d.e.0123456789abcdeg.g", "a.b.c.d.e.0123456789abcdef", "a.b.c.d.e.0123456789abcdef.g.h",
          "a.b.c..e.0123456789abcdef.g", "a.b.c.d.e.0123456789abcde.g"}) {
        agent.token = bad;
        EXPECT_EQ(o->refusal(agent), "bad-token") << bad;
    }
    agent.token = "listed";
    agent.room = "0123456789abcdef0123456789abcdef";
    EXPECT_EQ(o->refusal(agent), "room-key-mismatch");
    agent.room = ownRoom;
    agent.pubKey.clear();
    EXPECT_EQ(o->refusal(agent), "no-key");

    // A controller registers with an empty key: never challenged, never held to a room key.
    const Registration client{2, RelayRole::client, "acct", "anything", "listed", {}, 0};
    EXPECT_EQ(o->refusal(client), "");
    EXPECT_FALSE(o->challenges(client));
    // Version 1 carries no token and cannot read a reply.
    const Registration legacy{1, RelayRole::agent, "", "moved", "", {}, 0};
    EXPECT_EQ(o->refusal(legacy), "");
    EXPECT_FALSE(o->challenges(legacy));
    EXPECT_FALSE(o->redirectFor(legacy));
    EXPECT_EQ(o->redirectFor({2, RelayRole::client, "acct", "moved", "listed", {}, 0}), "elsewhere:1");
    EXPECT_FALSE(o->redirectFor(client));

    // Without any token rule every token passes.
    const auto open = parseArgs({});
    ASSERT_TRUE(open);
    EXPECT_EQ(open->refusal({2, RelayRole::agent, "acct", "r", "", key, 0}), "");
}

TEST(RelayOptions, RoomsOfDifferentNamespacesNeverMeet) {
    const auto key = [](uint8_t v, const char* account, const char* room) {
        return roomKey({v, RelayRole::agent, account, room, "", {}, 0});
    };
    EXPECT_NE(key(1, "", "r"), key(2, "", "r"));
    EXPECT_NE(key(2, "ab", "c"), key(2, "a", "bc"));
    EXPECT_EQ(key(2, "a", "r"), roomKey({2, RelayRole::client, "a", "r", "other-token", {}, 0}));
}
