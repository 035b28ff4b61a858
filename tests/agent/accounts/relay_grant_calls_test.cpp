#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "AccountsTestSupport.h"
#include "agent/accounts/RelayGrant.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace dovrel::test;

namespace {

using Grant = RelayGrant::Grant;
template <typename T> using Result = RelayGrant::Result<T>;

std::string failureOf(const auto& result) {
    const auto* f = std::get_if<RelayGrant::Failure>(&result);
    return f ? f->message : std::string("(no failure)");
}

std::vector<std::string> segments(const std::string& token) {
    std::vector<std::string> out;
    std::size_t at = 0;
    for (std::size_t dot; (dot = token.find('.', at)) != std::string::npos; at = dot + 1)
        out.push_back(token.substr(at, dot - at));
    out.push_back(token.substr(at));
    return out;
}

// The grant calls on an account thread of their own, against the double.
struct GrantCalls : AccountsFixture {
    GrantCalls() {
        queue.sync([&] {
            client = std::make_unique<AccountApi>(apiOptions());
            grants = std::make_unique<RelayGrant>(*client, config);
        });
        token = api.addAccount("amy", "pw");
        identity = {"amy", token, "relay.example.org", 8443};
    }
    ~GrantCalls() override {
        queue.sync([&] {
            client.reset();
            grants.reset();
        });
    }

    Result<RelayGrant::Minted> mint(double ttl, const std::string& replacing,
                                    std::optional<wex::RelayIdentity> as = {}) {
        const auto who = as.value_or(identity);
        return *runOn<Result<RelayGrant::Minted>>(queue,
                                                  [=, this](auto done) { grants->mint(who, ttl, replacing, done); });
    }
    Result<RelayGrant::Replaced> replace(const std::optional<Grant>& old, double ttl = 0) {
        return *runOn<Result<RelayGrant::Replaced>>(
            queue, [=, this](auto done) { grants->replace(old, identity, ttl, done); });
    }
    Result<RelayGrant::ShareCode> share(const std::string& payload, std::optional<wex::RelayIdentity> as = {}) {
        const auto who = as.value_or(identity);
        return *runOn<Result<RelayGrant::ShareCode>>(
            queue, [=, this](auto done) { grants->createShareCode(who, payload, 30, 3, done); });
    }
    std::optional<Grant> stored() {
        std::optional<Grant> g;
        queue.sync([&] { g = grants->load(); });
        return g;
    }

    SerialQueue queue{"test.account"};
    std::unique_ptr<AccountApi> client;
    std::unique_ptr<RelayGrant> grants;
    std::string token;
    wex::RelayIdentity identity;
};

} // namespace

TEST_F(GrantCalls, NothingIsSentWhileSignedOutOrWithoutAUsableAddressOrToken) {
    const wex::RelayIdentity signedOut{"", "", "relay.example.org", 8443};
    EXPECT_EQ(failureOf(mint(0, "", signedOut)), "This computer isn't signed in to an account.");
    EXPECT_EQ(failureOf(share("link", signedOut)), "This computer isn't signed in to an account.");
    EXPECT_EQ(failureOf(mint(0, "", wex::RelayIdentity{"amy", "tok\r\nX-Injected: 1", "h", 1})),
              "This computer's account token is damaged; sign in again.");
    EXPECT_EQ(failureOf(mint(std::nan(""), "")), "That lifetime is not valid.");
    EXPECT_EQ(failureOf(mint(std::numeric_limits<double>::infinity(), "")), "That lifetime is not valid.");

    writeText(config.path(), R"({"apiHost": "bad host", "apiPort": 443})");
    config.load();
    EXPECT_EQ(failureOf(mint(0, "")), "Bad relay address.");
    EXPECT_EQ(failureOf(share("link")), "Bad relay address.");
    EXPECT_TRUE(api.requests().empty());
    EXPECT_EQ(stored(), std::nullopt);
}

TEST_F(GrantCalls, MintSendsTheLifetimeAndReplacesOnlyWhenGivenAndSavesAtOnce) {
    const auto first = mint(0, "");
    ASSERT_TRUE(std::holds_alternative<RelayGrant::Minted>(first)) << failureOf(first);
    const auto& m1 = std::get<RelayGrant::Minted>(first);
    ASSERT_EQ(api.grants().size(), 1u);
    EXPECT_EQ(m1.grant, (Grant{api.grants()[0].token, api.grants()[0].jti, 0}));
    EXPECT_EQ(segments(m1.grant.token).size(), 7u);
    EXPECT_EQ(RelayGrant::cancellableID(m1.grant), m1.grant.jti);
    EXPECT_EQ(m1.replaced, std::nullopt);
    EXPECT_EQ(m1.replaceError, "");
    EXPECT_EQ(stored(), m1.grant);

    const auto second = mint(1.5, "0123456789abcdef"); // unknown to the relay
    ASSERT_TRUE(std::holds_alternative<RelayGrant::Minted>(second));
    const auto& m2 = std::get<RelayGrant::Minted>(second);
    EXPECT_EQ(m2.replaced, false);
    EXPECT_EQ(m2.replaceError, "no live grant 0123456789abcdef on record");
    EXPECT_NEAR(static_cast<double>(m2.grant.expires), static_cast<double>(RelayGrant::nowSeconds() + 5400), 5);
    EXPECT_EQ(stored(), m2.grant);

    const auto seen = api.requests("/v1/grant");
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].body, R"({"ttlHours":0})");
    EXPECT_EQ(seen[0].header("authorization"), "Bearer " + token);
    EXPECT_EQ(seen[1].body, R"({"replaces":"0123456789abcdef","ttlHours":1.5})");
}

TEST_F(GrantCalls, GrantAnswersAreReadKeyByKey) {
    struct Case {
        AccountApiReply reply;
        std::string failure; // empty: minted
        RelayGrant::Minted minted;
    };
    const std::vector<Case> cases = {
        {AccountApiReply::raw(200, R"({"token":"t1"})"), "", {{"t1", "", 0}, std::nullopt, ""}},
        {AccountApiReply::raw(200, R"({"token":"t2","jti":5,"expires":"x","replaced":"yes","replaceError":7})"),
         "",
         {{"t2", "", 0}, std::nullopt, ""}},
        {AccountApiReply::raw(
             200, R"({"token":"t3","jti":"j","expires":1900000000.9,"replaced":false,"replaceError":"gone"})"),
         "",
         {{"t3", "j", 1900000000}, false, "gone"}},
        {AccountApiReply::raw(200, R"({"token":"t4","replaced":true})"), "", {{"t4", "", 0}, true, ""}},
        {AccountApiReply::raw(200, R"({"jti":"j"})"), "The relay didn't return access.", {}},
        {AccountApiReply::raw(200, R"({"token":5})"), "The relay didn't return access.", {}},
        {AccountApiReply::raw(200, R"({"token":""})"), "The relay didn't return access.", {}},
        {AccountApiReply::raw(200, "<html>"), "The relay didn't return access.", {}},
        {AccountApiReply::raw(401, R"({"error":"Token revoked."})"), "Token revoked.", {}},
        {AccountApiReply::raw(503, R"({"error":null})"), "The relay refused (503).", {}},
        {AccountApiReply::raw(500, "busy"), "The relay refused (500).", {}},
    };
    std::optional<Grant> last;
    for (std::size_t i = 0; i < cases.size(); ++i) {
        api.script("/v1/grant", cases[i].reply);
        const auto r = mint(24, "");
        if (cases[i].failure.empty()) {
            ASSERT_TRUE(std::holds_alternative<RelayGrant::Minted>(r)) << i << " " << failureOf(r);
            const auto& m = std::get<RelayGrant::Minted>(r);
            EXPECT_EQ(m.grant, cases[i].minted.grant) << i;
            EXPECT_EQ(m.replaced, cases[i].minted.replaced) << i;
            EXPECT_EQ(m.replaceError, cases[i].minted.replaceError) << i;
            last = m.grant;
        } else {
            EXPECT_EQ(failureOf(r), cases[i].failure) << i;
        }
        // A refused call leaves the file with the last grant the relay issued.
        EXPECT_EQ(stored(), last) << i;
    }
}

TEST_F(GrantCalls, ReplaceCancelsTheOldGrantByItsIdentifier) {
    // No old grant: nothing to revoke, no "replaces".
    auto r = replace(std::nullopt);
    ASSERT_TRUE(std::holds_alternative<RelayGrant::Replaced>(r));
    const Grant g1 = std::get<RelayGrant::Replaced>(r).grant;
    EXPECT_TRUE(std::get<RelayGrant::Replaced>(r).cancelled);
    EXPECT_FALSE(api.requests("/v1/grant").back().json().contains("replaces"));

    // By jti: the relay revokes it.
    r = replace(g1, 12);
    ASSERT_TRUE(std::holds_alternative<RelayGrant::Replaced>(r));
    EXPECT_TRUE(std::get<RelayGrant::Replaced>(r).cancelled);
    EXPECT_EQ(std::get<RelayGrant::Replaced>(r).reason, std::nullopt);
    EXPECT_EQ(api.requests("/v1/grant").back().json().value("replaces").toString().toStdString(), g1.jti);
    EXPECT_TRUE(api.grants()[0].revoked);

    // An answer without "jti": the next replace takes the identifier from the token's sixth segment.
    api.setGrantIdsInAnswers(false);
    r = replace(std::get<RelayGrant::Replaced>(r).grant);
    const Grant noJti = std::get<RelayGrant::Replaced>(r).grant;
    EXPECT_EQ(noJti.jti, "");
    r = replace(noJti);
    ASSERT_TRUE(std::holds_alternative<RelayGrant::Replaced>(r));
    EXPECT_TRUE(std::get<RelayGrant::Replaced>(r).cancelled);
    EXPECT_EQ(api.requests("/v1/grant").back().json().value("replaces").toString().toStdString(),
              segments(noJti.token)[5]);
    EXPECT_TRUE(api.grants()[2].revoked);

    // An old grant without any identifier: the new grant is issued and saved all the same.
    r = replace(Grant{"opaque-token", "", 0});
    ASSERT_TRUE(std::holds_alternative<RelayGrant::Replaced>(r));
    const auto& noId = std::get<RelayGrant::Replaced>(r);
    EXPECT_FALSE(noId.cancelled);
    EXPECT_EQ(noId.reason, "the previous QR code had no id on record, so it could not be cancelled");
    EXPECT_FALSE(api.requests("/v1/grant").back().json().contains("replaces"));
    EXPECT_EQ(stored(), noId.grant);

    // The relay does not know the identifier: "replaced" false with its "replaceError".
    r = replace(Grant{"opaque", "00000000000000aa", 0});
    ASSERT_TRUE(std::holds_alternative<RelayGrant::Replaced>(r));
    EXPECT_FALSE(std::get<RelayGrant::Replaced>(r).cancelled);
    EXPECT_EQ(std::get<RelayGrant::Replaced>(r).reason,
              "the relay could not cancel the previous QR code (no live grant 00000000000000aa on record)");

    // A refused mint is passed on.
    api.script("/v1/grant", AccountApiReply::raw(429, R"({"error":"Slow down."})"));
    EXPECT_EQ(failureOf(replace(Grant{"opaque", "", 0})), "Slow down.");
}

TEST_F(GrantCalls, ShareCodesCarryThePayloadAndReadCodeAndExpiry) {
    const std::string link = "dovrel://pair?code=123456&name=Test%20Box&kind=linux&account=amy&token=a.b";
    auto r = share(link);
    ASSERT_TRUE(std::holds_alternative<RelayGrant::ShareCode>(r)) << failureOf(r);
    ASSERT_EQ(api.shares().size(), 1u);
    EXPECT_EQ(std::get<RelayGrant::ShareCode>(r).code, api.shares()[0].code);
    EXPECT_EQ(std::get<RelayGrant::ShareCode>(r).expires, api.shares()[0].expires);
    EXPECT_EQ(api.shares()[0].payload, link);
    const auto seen = api.requests("/v1/share");
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].header("authorization"), "Bearer " + token);
    EXPECT_EQ(seen[0].body, R"({"payload":")" + link + R"(","ttlMinutes":30,"uses":3})");

    api.script("/v1/share", AccountApiReply::raw(200, R"({"code":"AB12"})"));
    r = share(link);
    EXPECT_EQ(std::get<RelayGrant::ShareCode>(r).code, "AB12");
    EXPECT_EQ(std::get<RelayGrant::ShareCode>(r).expires, 0);
    api.script("/v1/share", AccountApiReply::raw(200, R"({"code":"AB12","expires":1800000000.7})"));
    EXPECT_EQ(std::get<RelayGrant::ShareCode>(share(link)).expires, 1800000000);
    for (const char* body : {R"({"code":""})", R"({"code":12})", R"({"expires":5})", "code: AB12"}) {
        api.script("/v1/share", AccountApiReply::raw(200, body));
        EXPECT_EQ(failureOf(share(link)), "The relay didn't return a code.") << body;
    }
    api.script("/v1/share", AccountApiReply::raw(402, R"({"error":"Out of share codes."})"));
    EXPECT_EQ(failureOf(share(link)), "Out of share codes.");
    api.script("/v1/share", AccountApiReply::raw(402, "{}"));
    EXPECT_EQ(failureOf(share(link)), "The relay refused (402).");
}
