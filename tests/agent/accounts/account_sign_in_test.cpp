#include <filesystem>
#include <set>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "AccountsTestSupport.h"
#include "agent/accounts/AccountSignIn.h"

using namespace dovrel;
using namespace dovrel::agent;
using namespace dovrel::test;
namespace fs = std::filesystem;

namespace {

std::string failureOf(const AccountSignIn::Result& r) {
    const auto* f = std::get_if<AccountSignIn::Failure>(&r);
    return f ? f->message : std::string("(signed in)");
}

struct SignInCalls : AccountsFixture {
    SignInCalls() {
        queue.sync([&] {
            client = std::make_unique<AccountApi>(apiOptions());
            signIns = std::make_unique<AccountSignIn>(*client, config);
        });
    }
    ~SignInCalls() override {
        queue.sync([&] {
            client.reset();
            signIns.reset();
        });
    }

    AccountSignIn::Result signIn(const std::string& account, const std::string& password, bool create = false,
                                 const std::string& invite = "") {
        return *runOn<AccountSignIn::Result>(
            queue, [=, this](auto done) { signIns->signIn(account, password, create, invite, done); });
    }

    SerialQueue queue{"test.account"};
    std::unique_ptr<AccountApi> client;
    std::unique_ptr<AccountSignIn> signIns;
};

mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

} // namespace

TEST_F(SignInCalls, TrimsTheNameKeepsThePasswordAsTypedAndStoresTheAccount) {
    const std::string token = api.addAccount("amy", "  pass word ");
    const auto r = signIn(" \t amy \n", "  pass word ");
    ASSERT_TRUE(std::holds_alternative<AccountSignIn::Account>(r)) << failureOf(r);
    EXPECT_EQ(std::get<AccountSignIn::Account>(r).account, "amy");
    EXPECT_EQ(std::get<AccountSignIn::Account>(r).token, token);

    const auto seen = api.requests();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].path, "/v1/signin");
    EXPECT_EQ(seen[0].header("content-type"), "application/json");
    EXPECT_FALSE(seen[0].hasHeader("authorization"));
    EXPECT_EQ(seen[0].body, R"({"account":"amy","code":"","password":"  pass word "})");

    // relay.json gains the enrolment keys and keeps the rest.
    const QJsonObject file = jsonFile(config.path());
    EXPECT_EQ(file.value("account").toString(), "amy");
    EXPECT_EQ(file.value("token").toString().toStdString(), token);
    EXPECT_TRUE(file.value("lan").toBool());
    EXPECT_EQ(file.value("apiPort").toInt(), api.port());
    EXPECT_EQ(modeOf(config.path()), 0600u);
}

TEST_F(SignInCalls, CreatingGoesToSignupWithTheInvitationCode) {
    api.requireInvitation("INV-7");
    auto r = signIn("bob", "pw", true, "INV-7");
    ASSERT_TRUE(std::holds_alternative<AccountSignIn::Account>(r)) << failureOf(r);
    EXPECT_EQ(api.requests()[0].path, "/v1/signup");
    EXPECT_EQ(api.requests()[0].body, R"({"account":"bob","code":"INV-7","password":"pw"})");

    const std::string before = readText(config.path());
    r = signIn("carol", "pw", true, " INV-7"); // sent unchanged, so refused
    EXPECT_EQ(failureOf(r), "That invitation code is not valid.");
    EXPECT_EQ(api.requests()[1].json().value("code").toString(), " INV-7");
    EXPECT_EQ(failureOf(signIn("bob", "pw", true, "INV-7")), "That account name is taken.");
    EXPECT_EQ(readText(config.path()), before);
}

TEST_F(SignInCalls, TheAnswersAccountNameWinsWhenItHasOne) {
    api.script("/v1/signin", AccountApiReply::raw(200, R"({"token":"tok-1","account":"Amy Smith"})"));
    auto r = signIn("amy", "pw");
    EXPECT_EQ(std::get<AccountSignIn::Account>(r).account, "Amy Smith");
    EXPECT_EQ(jsonFile(config.path()).value("account").toString(), "Amy Smith");
    api.script("/v1/signin", AccountApiReply::raw(200, R"({"token":"tok-2","account":""})"));
    r = signIn(" amy ", "pw");
    EXPECT_EQ(std::get<AccountSignIn::Account>(r).account, "amy");
    api.script("/v1/signin", AccountApiReply::raw(200, R"({"token":"tok-3","account":17})"));
    r = signIn(" amy ", "pw");
    EXPECT_EQ(std::get<AccountSignIn::Account>(r).account, "amy");
    EXPECT_EQ(jsonFile(config.path()).value("token").toString(), "tok-3");
}

TEST_F(SignInCalls, EmptyNameOrPasswordAndBadAddressesSendNothing) {
    EXPECT_EQ(failureOf(signIn("", "pw")), "Enter an account name and a password.");
    EXPECT_EQ(failureOf(signIn(" \t\r\n ", "pw")), "Enter an account name and a password.");
    EXPECT_EQ(failureOf(signIn("amy", "")), "Enter an account name and a password.");
    writeText(config.path(), R"({"apiHost": "bad host", "lan": true})");
    EXPECT_EQ(failureOf(signIn("amy", "pw")), "Bad relay address.");
    EXPECT_TRUE(api.requests().empty());
    EXPECT_EQ(readText(config.path()), R"({"apiHost": "bad host", "lan": true})");
}

TEST_F(SignInCalls, RefusalsAndAnswersWithoutATokenLeaveRelayJsonAlone) {
    api.addAccount("amy", "right");
    const std::string before = readText(config.path());
    EXPECT_EQ(failureOf(signIn("amy", "wrong")), "Wrong account name or password."); // the double's own 401
    const std::vector<std::pair<AccountApiReply, std::string>> cases = {
        {AccountApiReply::raw(401, "{}"), "The relay refused (401)."},
        {AccountApiReply::raw(401, R"({"error":["no"]})"), "The relay refused (401)."},
        {AccountApiReply::raw(500, "<html>down</html>"), "The relay refused (500)."},
        {AccountApiReply::raw(200, R"({"token":""})"), "The relay didn't return an account token."},
        {AccountApiReply::raw(200, R"({"account":"amy"})"), "The relay didn't return an account token."},
        {AccountApiReply::raw(200, "token=abc"), "The relay didn't return an account token."},
        // A token that could not be sent back in a header is as good as none.
        {AccountApiReply::raw(200, R"({"token":"abc\r\nX-Evil: 1"})"), "The relay didn't return an account token."},
    };
    for (const auto& [reply, message] : cases) {
        api.script("/v1/signin", reply);
        EXPECT_EQ(failureOf(signIn("amy", "right")), message) << reply.body;
        EXPECT_EQ(readText(config.path()), before) << reply.body;
    }
}

TEST_F(SignInCalls, EachSignInReloadsTheAccountApiAddress) {
    TempDir otherCerts;
    AccountApiDouble other(otherCerts.path());
    other.addAccount("amy", "pw");
    // Point relay.json at the second double without telling anybody: the sign-in reads it afresh.
    writeText(config.path(),
              QJsonDocument(QJsonObject{{"apiHost", "127.0.0.1"}, {"apiPort", other.port()}}).toJson().toStdString());
    queue.sync([&] {
        client.reset();
        signIns.reset();
        auto options = apiOptions();
        options.caFile = other.caFile();
        client = std::make_unique<AccountApi>(options);
        signIns = std::make_unique<AccountSignIn>(*client, config);
    });
    const auto r = signIn("amy", "pw");
    ASSERT_TRUE(std::holds_alternative<AccountSignIn::Account>(r)) << failureOf(r);
    EXPECT_EQ(other.requests().size(), 1u);
    EXPECT_TRUE(api.requests().empty());
    EXPECT_EQ(config.settings().apiPort, other.port());
}

TEST_F(SignInCalls, ARelayJsonThatCannotBeWrittenFailsTheSignIn) {
    api.addAccount("amy", "pw");
    // relay.json is a folder now (and so is the name a broken file would be moved to): unreadable, so the
    // address from the last load stays, and unwritable even for root.
    fs::remove(config.path());
    fs::create_directories(config.path() + "/x");
    fs::create_directories(config.path() + ".invalid/x");
    const auto r = signIn("amy", "pw");
    const std::string message = failureOf(r);
    EXPECT_NE(message.find("relay.json"), std::string::npos) << message;
    EXPECT_EQ(api.requests().size(), 1u); // the relay accepted; this computer stays signed out
    // No temporary file is left beside it.
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(config.directory()))
        names.insert(entry.path().filename());
    EXPECT_EQ(names, (std::set<std::string>{"relay.json", "relay.json.invalid"}));
}

TEST_F(SignInCalls, NoAnswerGivesTheNetworksDescription) {
    api.holdReplies(true);
    queue.sync([&] {
        client.reset();
        signIns.reset();
        auto options = apiOptions();
        options.timeout = std::chrono::milliseconds(200);
        client = std::make_unique<AccountApi>(options);
        signIns = std::make_unique<AccountSignIn>(*client, config);
    });
    EXPECT_EQ(failureOf(signIn("amy", "pw")), "The request timed out.");
    api.releaseHeld();
    EXPECT_FALSE(fs::exists(config.path()) && jsonFile(config.path()).contains("token"));
}
