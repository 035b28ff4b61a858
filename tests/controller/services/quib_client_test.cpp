#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "AssistantTestSupport.h"
#include "controller/services/ApiJson.h"
#include "controller/services/QuibClient.h"

namespace dovrel::controller::test {
namespace {

struct QuibFixture {
    QCoreApplication& application = app();
    dovrel::test::TempDir dir;
    std::shared_ptr<FakeHttpClient> http = std::make_shared<FakeHttpClient>();
    std::shared_ptr<FakeRelayAccount> account = std::make_shared<FakeRelayAccount>();
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(dir.file("settings.ini"));
    std::shared_ptr<FakeWallClock> clock = std::make_shared<FakeWallClock>();

    std::unique_ptr<QuibClient> make(std::shared_ptr<HttpClient> client, const QUrl& endpoint, bool consent = true) {
        auto quib = std::make_unique<QuibClient>(std::move(client), account, defaults, clock, endpoint);
        quib->setCloudConsent(consent);
        return quib;
    }
    std::unique_ptr<QuibClient> make(bool consent = true) {
        return make(http, QuibClient::endpointFor("quib.example"), consent);
    }
    void signIn(const std::string& host, uint16_t port, const std::string& token = "tok") {
        account->identity = wex::RelayIdentity{"ana", token, host, port};
    }
};

std::optional<QString> rewriteNow(QuibClient& quib, const QString& text, const QString& instruction) {
    std::optional<std::optional<QString>> got;
    quib.rewrite(text, instruction, [&](std::optional<QString> r) { got = std::move(r); });
    EXPECT_TRUE(waitUntil([&] { return got.has_value(); }, 20s));
    return got.value_or(std::nullopt);
}

TEST(QuibClient, GrantThenCloudRequestCarryTheExactPromptsBodyAndHeaders) {
    QuibFixture f;
    f.signIn("relay.example", 8443);
    auto quib = f.make();
    EXPECT_EQ(quib->currentSource(), AssistantSource::proxy);
    std::optional<QString> got;
    quib->rewrite("Hi  there\nbob ", "\n  fix grammar \n", [&](std::optional<QString> r) { got = r; });
    ASSERT_EQ(f.http->sent.size(), 1u);
    const HttpRequest& grant = f.http->sent[0].request;
    EXPECT_EQ(grant.method + " " + grant.url.toString().toUtf8(), "POST https://relay.example:8443/v1/quib/grant");
    EXPECT_EQ(grant.headers, (decltype(grant.headers){{"Authorization", "Bearer tok"}}));
    EXPECT_TRUE(grant.body.isEmpty());
    EXPECT_EQ(grant.timeout, std::chrono::seconds(15));
    f.http->answer(0, 200, R"({"remaining":4,"token":"T-1"})");

    ASSERT_EQ(f.http->sent.size(), 2u);
    const HttpRequest& cloud = f.http->sent[1].request;
    EXPECT_EQ(cloud.method + " " + cloud.url.toString().toUtf8(), "POST https://quib.example/v1/chat/completions");
    EXPECT_EQ(cloud.headers, (decltype(cloud.headers){{"Content-Type", "application/json"}, {"X-App-Token", "T-1"}}));
    EXPECT_EQ(cloud.timeout, std::chrono::seconds(30));
    EXPECT_EQ(quib->requestsInFlight(), 1);
    const QJsonObject body = QJsonDocument::fromJson(cloud.body).object();
    EXPECT_EQ(body.value("model").toString(), "quib-default");
    EXPECT_TRUE(cloud.body.contains("\"max_tokens\":900,")); // an integer, not 900.0
    EXPECT_EQ(body.value("temperature").toDouble(), 0.4);
    EXPECT_EQ(body.value("messages").toArray(),
              (QJsonArray{QJsonObject{{"role", "system"}, {"content", QuibClient::systemPrompt}},
                          QJsonObject{{"role", "user"},
                                      {"content", "Instruction: fix grammar\n\nText to transform:\n\"\"\"\nHi  there\n"
                                                  "bob \n\"\"\"\n\nOutput only the transformed text."}}}));
    EXPECT_TRUE(QuibClient::systemPrompt.contains(QString::fromUtf8("resulting text \xe2\x80\x94 no preamble")));
    EXPECT_EQ(QuibClient::userPrompt("", " write a haiku "),
              "Instruction: write a haiku\n\nWrite the text now. Output only the text.");

    f.http->answer(1, 200, R"({"choices":[{"message":{"content":"  Hi there, Bob.\n"}}]})");
    EXPECT_EQ(got, QString("Hi there, Bob."));
    EXPECT_EQ(quib->remainingToday(), 4);
    EXPECT_EQ(quib->requestsInFlight(), 0);
    EXPECT_FALSE(quib->lastRefusal().has_value());

    f.signIn("relay.example", 443); // the usual port is left out of the grant's address
    quib->rewrite("", "x", [](std::optional<QString>) {});
    EXPECT_EQ(f.http->sent.at(2).request.url.toString(), "https://relay.example/v1/quib/grant");
}

TEST(QuibClient, WithoutConsentOrAccountNothingIsSentAndTheReasonSaysWhy) {
    QuibFixture f;
    f.signIn("relay.example", 8443);
    auto quib = f.make(false);
    EXPECT_EQ(quib->currentSource(), AssistantSource::unavailable);
    EXPECT_TRUE(quib->unavailableReason().contains("Allow"));
    EXPECT_EQ(rewriteNow(*quib, "text", "fix it"), std::nullopt);
    EXPECT_FALSE(quib->lastRefusal().has_value());

    quib->setCloudConsent(true);
    EXPECT_EQ(f.defaults->string(QuibClient::consentKey), "true");
    f.account->identity.reset();
    EXPECT_EQ(quib->currentSource(), AssistantSource::unavailable);
    EXPECT_EQ(quib->unavailableReason(),
              "Sign in to use Quib. Five generations a day, then it resets at midnight UTC.");
    EXPECT_EQ(rewriteNow(*quib, "text", "fix it"), std::nullopt);
    EXPECT_EQ(quib->lastRefusal(), QString("Sign in to use Quib."));
    EXPECT_TRUE(f.http->sent.empty());
}

TEST(QuibClient, UsedUpQuotaComesBackAtTheUtcDayChange) {
    QuibFixture f;
    f.signIn("relay.example", 8443);
    f.clock->at = QDateTime(QDate(2026, 12, 9), QTime(23, 59, 30), Qt::UTC);
    auto quib = f.make();
    quib->rewrite("", "hello", [](std::optional<QString>) {});
    f.http->answer(0, 429, R"({"remaining":0,"error":"Out of generations for today."})");
    EXPECT_EQ(quib->remainingToday(), 0);
    EXPECT_EQ(quib->currentSource(), AssistantSource::unavailable);
    EXPECT_EQ(quib->unavailableReason(), "Out of generations for today.");
    quib->rewrite("", "hello", [](std::optional<QString>) {});
    EXPECT_EQ(f.http->sent.size(), 1u); // no grant is asked for with the quota used up

    f.clock->at = QDateTime(QDate(2026, 12, 10), QTime(0, 0, 1), Qt::UTC);
    EXPECT_EQ(quib->remainingToday(), std::nullopt);
    EXPECT_EQ(quib->currentSource(), AssistantSource::proxy);
    quib->rewrite("", "hello", [](std::optional<QString>) {});
    EXPECT_EQ(f.http->sent.size(), 2u);
}

TEST(QuibClient, CloudAnswersWithoutUsableTextGiveNothing) {
    QuibFixture f;
    f.signIn("relay.example", 8443);
    auto quib = f.make();
    for (const auto& [status, body] :
         std::vector<std::pair<int, QByteArray>>{{-1, {}},
                                                 {500, R"({"choices":[{"message":{"content":"x"}}]})"},
                                                 {200, "not json"},
                                                 {200, R"({"choices":[]})"},
                                                 {200, R"({"choices":["x"]})"},
                                                 {200, R"({"choices":[{"message":{"content":7}}]})"},
                                                 {200, R"({"choices":[{"message":{"content":"  \n "}}]})"}}) {
        std::optional<QString> got = QString("unset");
        f.http->sent.clear();
        quib->rewrite("t", "i", [&](std::optional<QString> r) { got = r; });
        f.http->answer(0, 200, R"({"token":"T"})");
        if (status < 0)
            f.http->sent.at(1).done({QString("timed out"), 0, {}});
        else
            f.http->answer(1, status, body);
        EXPECT_EQ(got, std::nullopt) << body.toStdString();
        EXPECT_EQ(quib->requestsInFlight(), 0);
    }
    EXPECT_FALSE(quib->lastRefusal().has_value()); // cloud failures leave the grant's reason alone
}

// While `shortTimeout` is set, requests leave with a short time-out, so that a held answer times out in
// the test (and only that one: on a busy machine an answer that comes may take longer than that).
struct ShortTimeouts final : HttpClient {
    std::shared_ptr<HttpClient> inner;
    bool shortTimeout = false;
    void send(const HttpRequest& request, std::function<void(const HttpResponse&)> done) override {
        HttpRequest r = request;
        if (shortTimeout) r.timeout = std::chrono::milliseconds(400);
        inner->send(r, std::move(done));
    }
};

TEST(QuibClient, AgainstTheServiceDoubleOverHttps) {
    using Reply = dovrel::test::AccountApiReply;
    QuibFixture f;
    dovrel::test::AccountApiDouble api(f.dir.path());
    f.signIn(api.host(), api.port(), api.addAccount("ana", "pw"));
    auto http = std::make_shared<ShortTimeouts>();
    http->inner = std::make_shared<QtHttpClient>(dovrel::makeSystemResolver(), api.caFile());
    auto quib = f.make(http, *apiUrl("127.0.0.1", api.port(), "/v1/chat/completions"));
    api.setQuibQuota(2);
    api.setAssistantAnswer("Dear Bob,");

    EXPECT_EQ(rewriteNow(*quib, "dear bob", "capitalise"), QString("Dear Bob,"));
    EXPECT_EQ(quib->remainingToday(), 1);
    EXPECT_EQ(api.requests("/v1/chat/completions").at(0).json().value("messages").toArray().size(), 2);

    // Refusals: a body that is not JSON, one without "error", a time-out.
    const std::vector<std::pair<Reply, QString>> refusals{
        {Reply::raw(502, "<html>bad gateway</html>"), "Could not reach the relay."},
        {Reply::json(403, {}), "Quib is unavailable right now."},
        {Reply{200, "{}", {}, true}, "Could not reach the relay."}};
    for (const auto& [reply, reason] : refusals) {
        api.script("/v1/quib/grant", reply);
        http->shortTimeout = reply.hold;
        EXPECT_EQ(rewriteNow(*quib, "", "x"), std::nullopt);
        EXPECT_EQ(quib->lastRefusal(), reason);
    }
    api.releaseHeld();
    http->shortTimeout = false;

    // The last generation of the day, then the relay's 429 the next day.
    EXPECT_EQ(rewriteNow(*quib, "", "x"), QString("Dear Bob,"));
    EXPECT_EQ(quib->remainingToday(), 0);
    api.setQuibQuota(0);
    f.clock->at = f.clock->at.addDays(1);
    EXPECT_EQ(rewriteNow(*quib, "", "x"), std::nullopt);
    EXPECT_EQ(quib->remainingToday(), 0);
    EXPECT_EQ(quib->lastRefusal(), QString("You have used today's generations. Quib resets at midnight UTC."));
}

} // namespace
} // namespace dovrel::controller::test
