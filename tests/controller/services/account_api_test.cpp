// The account API client against the HTTPS double, the stored relay account, and that no secret
// reaches an error text.
#include <gtest/gtest.h>

#include <QJsonArray>

#include "ServicesTestSupport.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/platform/SecretsThread.h"
#include "controller/services/RelayAccount.h"
#include "tests/support/SilentPort.h"
#include "tests/support/TestResolver.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;
using dovrel::test::AccountApiReply;

namespace {
using SessionResult = ApiResult<RelayAccount::Session>;

struct AccountApiTest : ::testing::Test, ApiDoubleFixture {
    void SetUp() override { app(); }
    std::optional<SessionResult> signIn(const QString& account, const QString& password,
                                        const QString& path = "/v1/signin", const QString& code = "") {
        return await<RelayAccount::Session>(
            [&](auto done) { client->call(path, account, password, code, std::move(done)); });
    }
    std::optional<SessionResult> signInAnswered(AccountApiReply reply) {
        api.script("/v1/signin", std::move(reply));
        return signIn("ann", "pw");
    }
    QString relayOf(const char* relay) {
        const auto r =
            signInAnswered(AccountApiReply::json(200, {{"account", "ann"}, {"token", "t"}, {"relay", relay}}));
        return r->value->relayHost + "|" + QString::number(r->value->relayPort);
    }
};
} // namespace

TEST_F(AccountApiTest, SignsInWithTheLowerCasedNameAndAnEmptyCode) {
    const std::string token = api.addAccount("ann", "Pa ss");
    const auto r = signIn("ANN", "Pa ss");
    ASSERT_TRUE(r && r->isOk()) << (r ? r->failure.message.toStdString() : "no answer");
    EXPECT_EQ(*r->value, (RelayAccount::Session{"ann", QString::fromStdString(token), "relay.default", 8443}));
    const auto sent = api.requests("/v1/signin").at(0);
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.header("content-type"), "application/json");
    EXPECT_EQ(sent.json(), (QJsonObject{{"account", "ann"}, {"password", "Pa ss"}, {"code", ""}}));
}

TEST_F(AccountApiTest, RefusalsAndOddAnswers) {
    EXPECT_EQ(signIn("ann", "nope")->failure,
              (ApiFailure{ApiFailure::Kind::refused, "Wrong account name or password."}));
    EXPECT_EQ(signInAnswered(AccountApiReply::raw(500, "<html>"))->failure.message, "Sign-in failed (500).");
    EXPECT_EQ(signInAnswered(AccountApiReply::raw(200, "not json"))->failure.message,
              "The relay didn't return a token.");
    EXPECT_EQ(signInAnswered(AccountApiReply::json(200, {{"account", "ann"}}))->failure.message,
              "The relay didn't return a token.");
    EXPECT_EQ(signInAnswered(AccountApiReply::json(200, {{"error", "Account locked."}}))->failure.message,
              "Account locked.");
    // A member of the wrong type spoils the whole answer, "error" included.
    EXPECT_EQ(signInAnswered(AccountApiReply::json(401, {{"error", "x"}, {"token", 5}}))->failure.message,
              "Sign-in failed (401).");
    EXPECT_TRUE(signInAnswered(AccountApiReply::json(200, {{"account", ""}, {"token", ""}}))->isOk());
}

TEST_F(AccountApiTest, TheRelayOfASignInAnswer) {
    EXPECT_EQ(relayOf("eu.relay.example:9443"), "eu.relay.example|9443");
    EXPECT_EQ(relayOf("eu.relay.example"), "relay.default|8443");
    EXPECT_EQ(relayOf("a:b:9443"), "relay.default|8443");
    EXPECT_EQ(relayOf(":9443"), "relay.default|8443");
    EXPECT_EQ(relayOf("eu.relay.example:99999"), "relay.default|8443");
}

TEST_F(AccountApiTest, PresenceListsLiveMachinesLowerCased) {
    const std::string token = api.addAccount("ann", "pw");
    api.setLive("ann", {"AAAA", "aaaa", "bbbb"});
    const auto live =
        await<std::set<QString>>([&](auto done) { client->presence(QString::fromStdString(token), std::move(done)); });
    ASSERT_TRUE(live && live->isOk());
    EXPECT_EQ(*live->value, (std::set<QString>{"aaaa", "bbbb"}));
    const auto sent = api.requests("/v1/presence").at(0);
    EXPECT_EQ(sent.method, "GET");
    EXPECT_EQ(sent.header("authorization"), "Bearer " + token);

    const auto refused = await<std::set<QString>>([&](auto done) { client->presence("wrong-token", std::move(done)); });
    EXPECT_EQ(refused->failure.message, "Sign in again.");
    EXPECT_FALSE(refused->failure.message.contains("wrong-token"));
    api.script("/v1/presence", AccountApiReply::raw(503, ""));
    EXPECT_EQ(await<std::set<QString>>([&](auto done) { client->presence("t", std::move(done)); })->failure.message,
              "presence 503");
    api.script("/v1/presence", AccountApiReply::json(200, {{"account", "ann"}}));
    EXPECT_TRUE(await<std::set<QString>>([&](auto done) { client->presence("t", std::move(done)); })->value->empty());
}

TEST_F(AccountApiTest, ClaimGivesTheLinkBehindACode) {
    api.addShare("ann", "K4M2-9QXR", "dovrel://pair?code=1&host=h");
    const auto claim = [&](const QString& code) {
        return await<QString>([&](auto done) { client->claim(code, std::move(done)); });
    };
    EXPECT_EQ(*claim("K4M2-9QXR")->value, "dovrel://pair?code=1&host=h");
    EXPECT_EQ(api.requests("/v1/claim").at(0).json(), (QJsonObject{{"code", "K4M2-9QXR"}}));
    EXPECT_EQ(claim("K4M2-9QXR")->failure.message, "That code is unknown or has expired."); // used up
    api.script("/v1/claim", AccountApiReply::json(200, {{"payload", ""}}));
    EXPECT_EQ(claim("x")->failure.message, "That code didn't return a machine.");
    api.script("/v1/claim", AccountApiReply::json(400, {{"error", 7}}));
    EXPECT_EQ(claim("x")->failure.message, "That code didn't work.");
}

TEST_F(AccountApiTest, ATransportFailureIsToldApartAndCarriesNoSecret) {
    // A port nobody listens on: the double's own, once it is gone.
    std::optional<ApiResult<QString>> claimed;
    std::optional<ApiResult<RelayAccount::Session>> signedIn;
    {
        dovrel::test::TempDir other;
        auto gone = std::make_unique<dovrel::test::AccountApiDouble>(other.path());
        AccountApi unreachable(http, "127.0.0.1", gone->port(), "relay.default", 8443);
        gone.reset();
        claimed = await<QString>([&](auto done) { unreachable.claim("SECRETCODE", std::move(done)); });
        signedIn = await<RelayAccount::Session>(
            [&](auto done) { unreachable.call("/v1/signin", "ann", "hunter2", "", std::move(done)); });
    }
    ASSERT_TRUE(claimed && signedIn);
    EXPECT_EQ(claimed->failure.kind, ApiFailure::Kind::transport);
    EXPECT_FALSE(claimed->failure.message.isEmpty());
    EXPECT_FALSE(claimed->failure.message.contains("SECRETCODE"));
    EXPECT_EQ(signedIn->failure.kind, ApiFailure::Kind::transport);
    EXPECT_FALSE(signedIn->failure.message.contains("hunter2"));
}

TEST(RelayAccountStore, ReadsTheFourItemsOnceAndWritesBehindItsCopy) {
    app();
    dovrel::test::TempDir dir;
    auto secrets = std::make_shared<FileSecretStore>(dir.file("secrets"));
    const auto launch = [&] {
        auto account = std::make_unique<RelayAccount>(std::make_shared<SecretsThread>(secrets), "relay.default", 8443);
        EXPECT_TRUE(waitUntil([&] { return account->loaded(); }));
        return account;
    };
    auto account = launch();
    EXPECT_FALSE(account->current());
    account->save({"ann", "tok", "eu.relay", 9443});
    EXPECT_EQ(account->current(), (RelayAccount::Session{"ann", "tok", "eu.relay", 9443}));
    EXPECT_EQ(account->storedRelayIdentity(), (wex::RelayIdentity{"ann", "tok", "eu.relay", 9443}));
    account.reset(); // quitting at once still keeps the sign-in
    account = launch();
    EXPECT_EQ(account->current(), (RelayAccount::Session{"ann", "tok", "eu.relay", 9443}));

    // Nothing reads the items again while the program runs; the next launch reads them as they are.
    secrets->write(RelayAccount::service, "relayPort", wex::Bytes{'n', 'i', 'n', 'e'});
    secrets->remove(RelayAccount::service, "relayHost");
    EXPECT_EQ(account->current()->relayPort, 9443);
    account = launch();
    EXPECT_EQ(account->current(), (RelayAccount::Session{"ann", "tok", "relay.default", 8443}));
    secrets->remove(RelayAccount::service, "token");
    EXPECT_FALSE(launch()->current());

    account->signOut();
    account->signOut(); // items already gone
    EXPECT_FALSE(account->current());
    account.reset();
    EXPECT_EQ(secrets->read(RelayAccount::service, "account").outcome, SecretRead::Outcome::notFound);
}

// A service named by host is asked at the address the resolver gives, with the name in the Host header
// and on the certificate, so another name for that address is refused; a lookup that never answers fails
// the request within its time.
TEST(QtHttpClientByName, AsksTheNamesAddressAndHoldsItsCertificateToTheName) {
    app();
    dovrel::test::TempDir dir;
    dovrel::test::AccountApiDouble api{dir.path()};
    QtHttpClient http(std::make_shared<dovrel::test::TestResolver>(std::map<std::string, std::vector<std::string>>{
                          {"localhost", {"127.0.0.1"}}, {"impostor.test", {"127.0.0.1"}}}),
                      api.caFile());
    const auto get = [&](HttpClient& client, const char* host, std::chrono::milliseconds timeout = 20s) {
        std::optional<HttpResponse> got;
        HttpRequest request;
        request.url = QUrl(QString("https://%1:%2/v1/presence").arg(host).arg(api.port()));
        request.timeout = timeout;
        client.send(request, [&](const HttpResponse& r) { got = r; });
        waitUntil([&] { return got.has_value(); }, 15s);
        return got;
    };
    const auto byName = get(http, "localhost");
    ASSERT_TRUE(byName && byName->isAnswer()) << (byName ? byName->transportError->toStdString() : "no answer");
    ASSERT_EQ(api.requests().size(), 1u);
    EXPECT_EQ(api.requests()[0].header("host"), "localhost:" + std::to_string(api.port()));
    const auto impostor = get(http, "impostor.test");
    ASSERT_TRUE(impostor);
    EXPECT_FALSE(impostor->isAnswer());
    EXPECT_EQ(api.requests().size(), 1u);

    // A first address that swallows what is sent to it has only its share of the time-out.
    const dovrel::test::SilentPort swallows("127.0.0.2", api.port());
    QtHttpClient second(std::make_shared<dovrel::test::TestResolver>(
                            std::map<std::string, std::vector<std::string>>{{"localhost", {"127.0.0.2", "127.0.0.1"}}}),
                        api.caFile());
    const auto atTheSecond = get(second, "localhost", 6s);
    ASSERT_TRUE(atTheSecond && atTheSecond->isAnswer())
        << (atTheSecond ? atTheSecond->transportError->toStdString() : "no answer");
    EXPECT_EQ(api.requests().size(), 2u);

    const auto held =
        std::make_shared<dovrel::test::TestResolver>(std::map<std::string, std::vector<std::string>>{}, true);
    QtHttpClient stuck(held, api.caFile());
    const auto late = get(stuck, "stuck.test", 200ms);
    ASSERT_TRUE(late);
    EXPECT_FALSE(late->isAnswer());
    held->release();
}
