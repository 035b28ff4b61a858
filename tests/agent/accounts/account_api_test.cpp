#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "../../support/ClosedPort.h"
#include "../../support/FakeScheduler.h"
#include "../../support/SilentPort.h"
#include "../../support/TestResolver.h"
#include "AccountsTestSupport.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace dovrel::test;

namespace {

// An AccountApi living on a thread of its own, as it does on the agent's account thread.
struct ApiOnThread {
    explicit ApiOnThread(AccountApi::Options options) {
        queue.sync([&] { api = std::make_unique<AccountApi>(options); });
    }
    ~ApiOnThread() {
        queue.sync([&] { api.reset(); });
    }

    std::optional<ApiOutcome> post(const QUrl& url, const std::string& bearer, const QJsonObject& body) {
        return runOn<ApiOutcome>(queue, [this, url, bearer, body](std::function<void(ApiOutcome)> done) {
            api->post(url, bearer, body, std::move(done));
        });
    }

    SerialQueue queue{"test.account"};
    std::unique_ptr<AccountApi> api;
};

struct AccountApiTest : AccountsFixture {
    QUrl url(const std::string& path) const { return *AccountApi::address(api.host(), api.port(), path); }
};

} // namespace

TEST(AccountApiAddress, HttpsWithThePortUnlessItIs443) {
    EXPECT_EQ(AccountApi::address("api.example.org", 443, "/v1/grant")->toString(), "https://api.example.org/v1/grant");
    EXPECT_EQ(AccountApi::address("api.example.org", 8443, "/v1/share")->toString(),
              "https://api.example.org:8443/v1/share");
    EXPECT_EQ(AccountApi::address("127.0.0.1", 0, "/v1/signin")->toString(), "https://127.0.0.1:0/v1/signin");
    EXPECT_FALSE(AccountApi::address("bad host", 443, "/v1/grant"));
    EXPECT_FALSE(AccountApi::address("", 443, "/v1/grant"));
    EXPECT_FALSE(AccountApi::address("a\nb", 443, "/v1/grant"));
}

TEST_F(AccountApiTest, PostsCompactJsonWithTheBearerOnlyWhenGiven) {
    const std::string token = api.addAccount("amy", "pw");
    ApiOnThread client(apiOptions());

    auto outcome = client.post(url("/v1/grant"), token, QJsonObject{{"ttlHours", 24}, {"replaces", "x"}});
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->ok) << outcome->message;
    outcome = client.post(url("/v1/signin"), "", QJsonObject{{"account", "amy"}, {"password", "pw"}, {"code", ""}});
    ASSERT_TRUE(outcome && outcome->ok);
    EXPECT_EQ(outcome->object.value("token").toString().toStdString(), token);

    const auto seen = api.requests();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].method, "POST");
    EXPECT_EQ(seen[0].path, "/v1/grant");
    EXPECT_EQ(seen[0].header("content-type"), "application/json");
    EXPECT_EQ(seen[0].header("authorization"), "Bearer " + token);
    EXPECT_EQ(seen[0].body, R"({"replaces":"x","ttlHours":24})");
    EXPECT_EQ(seen[1].path, "/v1/signin");
    EXPECT_FALSE(seen[1].hasHeader("authorization"));
    EXPECT_EQ(seen[1].body, R"({"account":"amy","code":"","password":"pw"})");
}

TEST_F(AccountApiTest, OnlyStatus200SucceedsAndErrorTextsComeFromTheAnswer) {
    struct Case {
        AccountApiReply reply;
        bool ok;
        std::string message;
        int keys;
    };
    AccountApiReply redirect = AccountApiReply::raw(302, "");
    redirect.headers.push_back({"Location", "https://127.0.0.1:1/elsewhere"});
    const std::vector<Case> cases = {
        {AccountApiReply::raw(200, R"({"a":1})"), true, "", 1},
        {AccountApiReply::raw(200, "not json at all"), true, "", 0}, // counts as an empty object
        {AccountApiReply::raw(200, "[1,2]"), true, "", 0},
        {AccountApiReply::raw(200, R"({"error":"ignored on success"})"), true, "", 1},
        {AccountApiReply::raw(401, R"({"error":"Nope."})"), false, "Nope.", 0},
        {AccountApiReply::raw(401, R"({"error":5})"), false, "The relay refused (401).", 0},
        {AccountApiReply::raw(500, "<html>oops</html>"), false, "The relay refused (500).", 0},
        {AccountApiReply::raw(404, ""), false, "The relay refused (404).", 0},
        {AccountApiReply::raw(201, R"({"token":"t"})"), false, "The relay refused (201).", 0},
        {AccountApiReply::raw(403, R"({"error":"line one\n• forged log line"})"), false, "line one • forged log line",
         0},
        {redirect, false, "The relay refused (302).", 0}, // never followed: the bearer stays here
    };
    ApiOnThread client(apiOptions());
    for (std::size_t i = 0; i < cases.size(); ++i) {
        api.script("/v1/test", cases[i].reply);
        const auto outcome = client.post(url("/v1/test"), "tok", QJsonObject{});
        ASSERT_TRUE(outcome) << i;
        EXPECT_EQ(outcome->ok, cases[i].ok) << i << " " << outcome->message;
        EXPECT_EQ(outcome->message, cases[i].message) << i;
        EXPECT_EQ(outcome->object.size(), cases[i].keys) << i;
    }
    EXPECT_EQ(api.requests().size(), cases.size()); // the redirect was not followed
}

TEST_F(AccountApiTest, NoAnswerGivesTheNetworksOwnDescription) {
    {
        ApiOnThread client(apiOptions());
        const auto refused = client.post(*AccountApi::address("127.0.0.1", closedPort(), "/v1/grant"), "t", {});
        ASSERT_TRUE(refused);
        EXPECT_FALSE(refused->ok);
        EXPECT_FALSE(refused->message.empty());
        EXPECT_EQ(refused->message.find("The relay refused"), std::string::npos);
    }
    {
        // Without the test authority the certificate is not trusted: nothing is sent over it.
        ApiOnThread client(AccountApi::Options{});
        const auto untrusted = client.post(url("/v1/grant"), "t", QJsonObject{{"ttlHours", 0}});
        ASSERT_TRUE(untrusted);
        EXPECT_FALSE(untrusted->ok);
        EXPECT_FALSE(untrusted->message.empty());
        EXPECT_TRUE(api.requests().empty());
    }
}

TEST_F(AccountApiTest, GivesUpAfterTwentySecondsOnItsClock) {
    FakeScheduler clock;
    auto options = apiOptions();
    options.scheduler = &clock;
    ApiOnThread client(options);
    api.holdReplies(true);

    Awaited<ApiOutcome> result;
    client.queue.post([&, cb = result.callback()] { client.api->post(url("/v1/grant"), "t", {}, cb); });
    ASSERT_TRUE(api.waitForHeld(1));
    client.queue.sync([&] { clock.advance(std::chrono::milliseconds(19999)); });
    EXPECT_FALSE(result.get(50ms));
    client.queue.sync([&] { clock.advance(std::chrono::milliseconds(1)); });
    const auto outcome = result.get();
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->ok);
    EXPECT_EQ(outcome->message, "The request timed out.");
    api.releaseHeld(); // the late answer finds nobody waiting
    client.queue.sync([&] { EXPECT_EQ(client.api->outstanding(), 0u); });
}

// A host given by name is asked at the address the resolver gives, with the name in the Host header and
// on the certificate: another name for the same address is refused before anything is sent, and a name
// without addresses fails in the network's words. A lookup that never answers still gives up on the clock.
TEST_F(AccountApiTest, AHostByNameIsAskedAtItsAddressAndItsCertificateMustNameIt) {
    const std::string token = api.addAccount("amy", "pw");
    auto options = apiOptions();
    options.resolver = std::make_shared<TestResolver>(std::map<std::string, std::vector<std::string>>{
        {"localhost", {"127.0.0.1"}}, {"impostor.test", {"127.0.0.1"}}});
    {
        ApiOnThread client(options);
        const auto byName =
            client.post(*AccountApi::address("localhost", api.port(), "/v1/grant"), token, {{"ttlHours", 24}});
        ASSERT_TRUE(byName);
        EXPECT_TRUE(byName->ok) << byName->message;
        ASSERT_EQ(api.requests().size(), 1u);
        EXPECT_EQ(api.requests()[0].header("host"), "localhost:" + std::to_string(api.port()));

        const auto impostor = client.post(*AccountApi::address("impostor.test", api.port(), "/v1/grant"), token, {});
        ASSERT_TRUE(impostor);
        EXPECT_FALSE(impostor->ok);
        EXPECT_EQ(api.requests().size(), 1u);
        const auto nowhere = client.post(*AccountApi::address("nowhere.test", api.port(), "/v1/grant"), token, {});
        ASSERT_TRUE(nowhere);
        EXPECT_EQ(nowhere->message, "Host nowhere.test not found");
    }
    FakeScheduler clock;
    options.scheduler = &clock;
    const auto held = std::make_shared<TestResolver>(std::map<std::string, std::vector<std::string>>{}, true);
    options.resolver = held;
    ApiOnThread client(options);
    Awaited<ApiOutcome> result;
    client.queue.post([&, cb = result.callback()] {
        client.api->post(*AccountApi::address("stuck.test", api.port(), "/v1/grant"), token, {}, cb);
    });
    ASSERT_TRUE(held->waitForAsked(1));
    client.queue.sync([&] { clock.advance(std::chrono::seconds(20)); });
    const auto outcome = result.get();
    ASSERT_TRUE(outcome);
    EXPECT_EQ(outcome->message, "The request timed out.");
    held->release();
}

// A name's addresses are tried in turn within the request's time: one that refuses at once, then one that
// swallows what is sent to it (as an IPv6 address does on a network without IPv6), which has only its
// share of the time, and the one that answers gets the rest.
TEST_F(AccountApiTest, AnAddressThatRefusesOrSwallowsPacketsGivesWayToTheNext) {
    const std::string token = api.addAccount("amy", "pw");
    const SilentPort swallows("127.0.0.2", api.port());
    auto options = apiOptions();
    options.timeout = 6s;
    options.resolver = std::make_shared<TestResolver>(
        std::map<std::string, std::vector<std::string>>{{"localhost", {"127.0.0.3", "127.0.0.2", "127.0.0.1"}}});
    ApiOnThread client(options);
    const auto outcome =
        client.post(*AccountApi::address("localhost", api.port(), "/v1/grant"), token, {{"ttlHours", 24}});
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->ok) << outcome->message;
    EXPECT_EQ(api.requests().size(), 1u);
}

TEST_F(AccountApiTest, RefusesAnOversizedAnswer) {
    auto options = apiOptions();
    options.maxAnswerBytes = 4096;
    ApiOnThread client(options);
    api.script("/v1/share", AccountApiReply::raw(200, R"({"code":")" + std::string(100000, 'A') + R"("})"));
    const auto outcome = client.post(url("/v1/share"), "t", {});
    ASSERT_TRUE(outcome);
    EXPECT_FALSE(outcome->ok);
    EXPECT_EQ(outcome->message, "The relay's answer was too large.");
}

TEST_F(AccountApiTest, AnswersStillOutstandingAreAbandonedOnDestruction) {
    api.holdReplies(true);
    std::atomic<int> calls = 0;
    {
        ApiOnThread client(apiOptions());
        client.queue.post([&] { client.api->post(url("/v1/grant"), "t", {}, [&](ApiOutcome) { ++calls; }); });
        ASSERT_TRUE(api.waitForHeld(1));
    }
    api.releaseHeld();
    EXPECT_EQ(calls, 0);
}
