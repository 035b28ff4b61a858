// The sign-in sheet's model: when it may send, what it sends (against the HTTPS account API double),
// the four secret items in their order, and what it keeps of the password.
#include <gtest/gtest.h>

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include <QJsonObject>

#include "PairingTestSupport.h"
#include "ViewTestSupport.h"
#include "controller/platform/QtHttpClient.h"
#include "controller/ui/signin/SignInViewModel.h"
#include "tests/support/accountapi/AccountApiDouble.h"

using namespace dovrel::controller;
using namespace dovrel::controller::test;

namespace {

// A secret store in memory that lists its writes in order (made on the secrets thread).
struct RecordingSecrets final : SecretStore {
    std::mutex lock;
    std::vector<std::pair<std::string, std::string>> writes; // item, value
    std::map<std::string, wex::Bytes> items;
    SecretRead read(std::string_view, std::string_view account) override {
        std::lock_guard held(lock);
        const auto it = items.find(std::string(account));
        return it == items.end() ? SecretRead::notFound() : SecretRead::found(it->second);
    }
    SecretWrite write(std::string_view, std::string_view account, wex::ByteView data) override {
        std::lock_guard held(lock);
        items[std::string(account)] = wex::Bytes(data.begin(), data.end());
        writes.emplace_back(account, std::string(data.begin(), data.end()));
        return {true, 0, {}};
    }
    std::vector<std::pair<std::string, std::string>> written() {
        std::lock_guard held(lock);
        return writes;
    }
    bool remove(std::string_view, std::string_view account) override {
        std::lock_guard held(lock);
        items.erase(std::string(account));
        return true;
    }
};

struct SignInTest : ::testing::Test {
    QGuiApplication& application = viewApp(); // before the double, whose thread needs it
    dovrel::test::TempDir dir;
    dovrel::test::AccountApiDouble api{dir.path()};
    AccountApi client{std::make_shared<QtHttpClient>(dovrel::makeSystemResolver(), api.caFile()), "127.0.0.1",
                      api.port(), "relay.default", 8443};
    std::shared_ptr<RecordingSecrets> secrets = std::make_shared<RecordingSecrets>();
    RelayAccount account{std::make_shared<SecretsThread>(secrets), "relay.default", 8443};
    RecordingSignInTarget target;
    SignInViewModel model{client, account, target};

    void fill(const QString& name, const QString& password, const QString& code = {}) {
        model.setAccount(name);
        model.setPassword(password);
        model.setInviteCode(code);
    }
    void submitAndWait() {
        model.submit();
        ASSERT_TRUE(model.busy());
        ASSERT_TRUE(waitFor([&] { return !model.busy(); }));
    }
};

} // namespace

TEST_F(SignInTest, EnabledAtThreeAndEightCharactersAsPeopleCountThem) {
    EXPECT_TRUE(model.creating()) << "the sheet opens on creating an account";
    fill("ab", "12345678");
    EXPECT_FALSE(model.canSubmit());
    fill("abc", "1234567");
    EXPECT_FALSE(model.canSubmit());
    fill("abc", "12345678");
    EXPECT_TRUE(model.canSubmit()) << "an empty signup code is fine";
    fill(" a ", "       x");
    EXPECT_TRUE(model.canSubmit()) << "blanks count";
    // "e" with a combining acute is one character: two of them and a letter make three, not five.
    fill(QString::fromUtf8("e\u0301e\u0301"), "12345678");
    EXPECT_FALSE(model.canSubmit());
    fill(QString::fromUtf8("e\u0301e\u0301x"), QString::fromUtf8("a\u0301b\u0301c\u0301d\u0301e\u0301f\u0301g\u0301"));
    EXPECT_FALSE(model.canSubmit()) << "seven accented letters are seven characters";
    model.submit();
    EXPECT_TRUE(api.requests().empty());
}

TEST_F(SignInTest, CreatingAnAccountStoresTheFourItemsInOrderAndForgetsThePassword) {
    api.requireInvitation("WELCOME");
    fill("Ada", "correct horse", "WELCOME");
    model.submit();
    EXPECT_EQ(model.actionTitle(), "Working…");
    EXPECT_FALSE(model.canSubmit());
    // What the fields hold once the request is on its way does not reach it.
    fill("mallory", "another password", "NOPE");
    model.setCreating(false);
    ASSERT_TRUE(waitFor([&] { return !model.busy(); }));
    ASSERT_EQ(target.sessions.size(), 1u) << model.error().toStdString();
    const auto sent = api.requests("/v1/signup");
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(sent[0].json(), (QJsonObject{{"account", "ada"}, {"password", "correct horse"}, {"code", "WELCOME"}}));
    EXPECT_TRUE(api.requests("/v1/signin").empty());

    const auto& s = target.sessions[0];
    EXPECT_EQ(s.account, "ada");
    ASSERT_TRUE(waitFor([&] { return secrets->written().size() == 4u; }));
    const auto writes = secrets->written();
    EXPECT_EQ(writes[0], (std::pair<std::string, std::string>{"account", "ada"}));
    EXPECT_EQ(writes[1], (std::pair<std::string, std::string>{"token", s.token.toStdString()}));
    EXPECT_EQ(writes[2].first, "relayHost");
    EXPECT_EQ(writes[3], (std::pair<std::string, std::string>{"relayPort", "8443"}));
    EXPECT_EQ(account.current(), s);
    EXPECT_TRUE(model.password().isEmpty()) << "no password stays filled in after it was used";

    // Signed out and opened again: nothing of the last sheet is left.
    account.signOut();
    model.begin();
    EXPECT_TRUE(model.account().isEmpty());
    EXPECT_TRUE(model.password().isEmpty());
    EXPECT_TRUE(model.inviteCode().isEmpty());
    EXPECT_TRUE(model.creating());
}

TEST_F(SignInTest, SigningInSendsAnEmptyCodeAndARefusalKeepsTheFields) {
    api.addAccount("ada", "correct horse");
    fill("ada", "wrong password", "WELCOME");
    model.setCreating(false);
    EXPECT_EQ(model.actionTitle(), "Sign in");
    ASSERT_NO_FATAL_FAILURE(submitAndWait());
    EXPECT_EQ(api.requests("/v1/signin").at(0).json().value("code"), "");
    EXPECT_EQ(model.error(), "Wrong account name or password.");
    EXPECT_TRUE(model.fieldsRefused()) << "the fields show the refusal";
    EXPECT_EQ(model.password(), "wrong password");
    EXPECT_TRUE(secrets->written().empty());
    EXPECT_TRUE(target.sessions.empty());

    model.setPassword("correct horse!");
    EXPECT_FALSE(model.error().isEmpty()) << "editing does not clear the error";
    model.setCreating(true);
    EXPECT_TRUE(model.error().isEmpty()) << "switching modes does";
    EXPECT_FALSE(model.fieldsRefused());
    model.setCreating(false);
    EXPECT_TRUE(model.error().isEmpty());

    api.script("/v1/signin", dovrel::test::AccountApiReply::raw(500, "<html>"));
    ASSERT_NO_FATAL_FAILURE(submitAndWait());
    EXPECT_EQ(model.error(), "Sign-in failed (500).");
    model.setPassword("correct horse");
    model.submit();
    EXPECT_TRUE(model.error().isEmpty()) << "a new attempt clears the error first";
    ASSERT_TRUE(waitFor([&] { return !target.sessions.empty(); }));
}

TEST_F(SignInTest, ASuccessAfterTheSheetClosedStillStoresAndReports) {
    api.addAccount("ada", "correct horse");
    api.holdReplies(true);
    fill("ada", "correct horse");
    model.setCreating(false);
    model.submit();
    ASSERT_TRUE(waitFor([&] { return api.heldCount() == 1; }));
    model.skip();
    EXPECT_EQ(target.skips, 1);
    api.holdReplies(false);
    api.releaseHeld();
    ASSERT_TRUE(waitFor([&] { return !target.sessions.empty(); }));
    EXPECT_TRUE(account.current().has_value());
}
