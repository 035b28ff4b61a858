// Against a real, unlocked GNOME Keyring on a private session bus.
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "TestKeyring.h"
#include "controller/client/ClientSecurity.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/platform/KeychainSecretStore.h"
#include "controller/platform/SecretsThread.h"

using namespace dovrel::controller;
using dovrel::test::TempDir;
using dovrel::test::TestKeyring;

namespace {
// One keyring for the whole process: Qt keeps its first session-bus connection for the process's life.
TestKeyring& sharedKeyring() {
    static TestKeyring keyring;
    return keyring;
}

// Runs `fn` where the program runs every keychain call: on one secrets thread for the whole process
// (the keychain library keeps its queue of calls on the thread that used it first).
template <typename F> auto onSecretsThread(F&& fn) -> decltype(fn()) {
    using Result = decltype(fn());
    static SecretsThread thread(std::make_shared<FileSecretStore>(sharedKeyring().onBus("echo -n $HOME")));
    std::optional<Result> result;
    QObject receiver;
    thread.ask<Result>([&](SecretStore&) { return fn(); }, &receiver, [&](Result r) { result = std::move(r); });
    EXPECT_TRUE(test::waitUntil([&] { return result.has_value(); }));
    return result.value_or(Result{});
}

struct KeyringFixture : ::testing::Test {
    TestKeyring& keyring = sharedKeyring(); // first: the bus address must be set before anything talks to a bus
    TempDir dir;
    std::shared_ptr<FileSecretStore> files = std::make_shared<FileSecretStore>(dir.file("secrets"));

    void SetUp() override {
        if (!keyring.available()) GTEST_SKIP() << "no Secret Service can run here: " << keyring.reason();
        test::app();
    }
};
} // namespace

TEST_F(KeyringFixture, ItemsLiveInTheKeyringNotOnDisk) {
    KeychainSecretStore store(files);
    ASSERT_TRUE(KeychainSecretStore::keychainServiceAvailable());
    const wex::Bytes secret = {0, 1, 2, 0xfe, 0xff};
    const SecretWrite w = onSecretsThread([&] { return store.write("com.plovnik.dovrel.test", "item", secret); });
    ASSERT_TRUE(w.ok) << w.message;
    EXPECT_FALSE(std::filesystem::exists(files->itemPath("com.plovnik.dovrel.test", "item")));

    KeychainSecretStore other(std::make_shared<FileSecretStore>(dir.file("elsewhere")));
    const SecretRead r = onSecretsThread([&] { return other.read("com.plovnik.dovrel.test", "item"); });
    ASSERT_EQ(r.outcome, SecretRead::Outcome::found) << r.message;
    EXPECT_EQ(r.data, secret);
    EXPECT_EQ(onSecretsThread([&] { return other.read("com.plovnik.dovrel.test", "missing"); }).outcome,
              SecretRead::Outcome::notFound);

    EXPECT_TRUE(onSecretsThread([&] { return store.remove("com.plovnik.dovrel.test", "item"); }));
    EXPECT_EQ(onSecretsThread([&] { return other.read("com.plovnik.dovrel.test", "item"); }).outcome,
              SecretRead::Outcome::notFound);
}

TEST_F(KeyringFixture, AnItemAnEarlierSessionLeftInTheFileIsFoundAndMovesOnTheNextWrite) {
    ASSERT_TRUE(files->write("svc", "acct", wex::Bytes{7, 7}).ok);
    KeychainSecretStore store(files);
    EXPECT_EQ(onSecretsThread([&] { return store.read("svc", "acct"); }).data, (wex::Bytes{7, 7}));
    ASSERT_TRUE(onSecretsThread([&] { return store.write("svc", "acct", wex::Bytes{8}); }).ok);
    EXPECT_FALSE(std::filesystem::exists(files->itemPath("svc", "acct")));
    EXPECT_EQ(onSecretsThread([&] { return store.read("svc", "acct"); }).data, (wex::Bytes{8}));
}

TEST_F(KeyringFixture, TheControllerIdentitySurvivesRelaunchInTheKeyring) {
    auto defaults = std::make_shared<UserDefaults>(dir.file("DovrelController.ini"));
    KeychainSecretStore store(files);
    const auto first = onSecretsThread([&] { return ClientSecurity::loadIdentity(*defaults, store); });
    EXPECT_TRUE(first.authoritative);
    KeychainSecretStore relaunched(files);
    const auto second = onSecretsThread([&] { return ClientSecurity::loadIdentity(*defaults, relaunched); });
    EXPECT_TRUE(second.authoritative);
    EXPECT_EQ(first.identity.publicKey(), second.identity.publicKey());
    EXPECT_FALSE(
        std::filesystem::exists(files->itemPath(ClientSecurity::identityService, ClientSecurity::identityAccount)));
    // Nothing of the key in the defaults either.
    EXPECT_FALSE(defaults->data(ClientSecurity::legacyIdentityKey));
}
