// Mutated and random input through every decoder of the account work: grant.json and the answers of
// /v1/grant, /v1/share, /v1/signin and /v1/signup. Nothing may crash, and what is accepted must hold up:
// a grant always has a token, a code is never empty, a stored grant round-trips exactly.

#include <random>
#include <string>
#include <vector>

#include <QJsonDocument>

#include <gtest/gtest.h>

#include "agent/accounts/AccountApi.h"
#include "agent/accounts/AccountSignIn.h"
#include "agent/accounts/RelayGrant.h"

using namespace dovrel;
using namespace dovrel::agent;

namespace {

const std::vector<std::string> seeds = {
    R"({"expires":0,"jti":"fedcba9876543210","token":"aa.bb.cc.dd.ee.0123456789abcdef.ff"})",
    R"({"token":"t","jti":"0123456789abcdef","expires":1767625440,"replaced":false,"replaceError":"gone"})",
    R"({"token":"t","expires":1.5e9,"replaced":true})",
    R"({"code":"K7QD-2MZP","expires":1767625440})",
    R"({"code":"","expires":"x"})",
    R"({"account":"amy","token":"dat.0123"})",
    R"({"error":"Wrong account name or password."})",
    R"([{"token":"t"}])",
    R"({"token":"\u0000\n\t","account":"\ud83d\ude00"})",
    R"({"expires":-9223372036854775808,"token":"x"})",
};

const std::vector<std::string> fragments = {
    "{",           "}",       "[",     "]",    "\"",    ":",         ",",
    "null",        "true",    "false", "-0",   "1e999", "\"token\"", "\"code\"",
    "\"expires\"", "\"jti\"", "\\u00", "\xff", "\xc3",  "0.000001",  "18446744073709551616"};

std::string mutate(std::string s, std::mt19937_64& rng) {
    const int steps = 1 + static_cast<int>(rng() % 4);
    for (int i = 0; i < steps; ++i) {
        const std::size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
        switch (rng() % 5) {
        case 0:
            if (!s.empty() && at < s.size()) s[at] = static_cast<char>(rng());
            break;
        case 1: s.insert(at, fragments[rng() % fragments.size()]); break;
        case 2:
            if (at < s.size()) s.erase(at, 1 + rng() % 8);
            break;
        case 3: s.resize(at); break;
        default: s.insert(at, 1, static_cast<char>(rng() % 128)); break;
        }
    }
    return s;
}

void check(const std::string& input) {
    const int64_t now = 1'700'000'000;
    const auto* bytes = reinterpret_cast<const uint8_t*>(input.data());
    if (const auto g = RelayGrant::decodeFile(wex::ByteView(bytes, input.size()), now)) {
        ASSERT_FALSE(g->token.empty());
        ASSERT_TRUE(g->expires == 0 || g->expires >= now);
        const std::string again = RelayGrant::encodeFile(*g);
        const auto back =
            RelayGrant::decodeFile(wex::ByteView(reinterpret_cast<const uint8_t*>(again.data()), again.size()), now);
        ASSERT_EQ(back, g) << input;
        (void)RelayGrant::cancellableID(*g);
    }
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(input));
    const QJsonObject answer = doc.isObject() ? doc.object() : QJsonObject();
    const auto minted = RelayGrant::readGrantAnswer(answer);
    if (const auto* m = std::get_if<RelayGrant::Minted>(&minted)) {
        ASSERT_FALSE(m->grant.token.empty());
        for (const char c : m->replaceError)
            ASSERT_GE(static_cast<unsigned char>(c), 0x20);
    } else {
        ASSERT_EQ(std::get<RelayGrant::Failure>(minted).message, RelayGrant::noAccess);
    }
    const auto share = RelayGrant::readShareAnswer(answer);
    if (const auto* s = std::get_if<RelayGrant::ShareCode>(&share)) {
        ASSERT_FALSE(s->code.empty());
    }
    const auto signedIn = AccountSignIn::readAnswer(answer, "amy");
    if (const auto* a = std::get_if<AccountSignIn::Account>(&signedIn)) {
        ASSERT_FALSE(a->token.empty());
        ASSERT_TRUE(AccountApi::isHeaderSafe(a->token));
        ASSERT_FALSE(a->account.empty());
    }
}

} // namespace

TEST(AccountDecoders, SurviveMutatedAndRandomInput) {
    std::mt19937_64 rng(0xD0B12E1);
    for (const auto& seed : seeds)
        check(seed);
    for (int i = 0; i < 30000; ++i) {
        std::string input = mutate(seeds[rng() % seeds.size()], rng);
        if (i % 10 == 0) {
            input.clear();
            const std::size_t n = rng() % 64;
            for (std::size_t k = 0; k < n; ++k)
                input += static_cast<char>(rng());
        }
        check(input);
        if (::testing::Test::HasFatalFailure()) return;
    }
}

TEST(AccountDecoders, PrintableTextsHaveNoControlCharacters) {
    EXPECT_EQ(AccountApi::printable("a\nb\r\tc\x7f"
                                    "d"),
              "a b  c d");
    EXPECT_EQ(AccountApi::printable("zoë — ok"), "zoë — ok");
    EXPECT_TRUE(AccountApi::isHeaderSafe("dat.0123-_~+/="));
    EXPECT_FALSE(AccountApi::isHeaderSafe("a b"));
    EXPECT_FALSE(AccountApi::isHeaderSafe("a\r\nX-Evil: 1"));
    EXPECT_FALSE(AccountApi::isHeaderSafe("zoë"));
}
