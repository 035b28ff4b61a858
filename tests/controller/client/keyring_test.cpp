// Against a real, unlocked GNOME Keyring on a private session bus.
#include <filesystem>
#include <optional>

#include <gtest/gtest.h>

#include "ClientTestSupport.h"
#include "TestKeyring.h"
#include "controller/client/link/ClientSecurity.h"
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
    const SecretWrite w = store.write("com.plovnik.dovrel.test", "item", secret);
    ASSERT_TRUE(w.ok) << w.message;
    EXPECT_FALSE(std::filesystem::exists(files->itemPath("com.plovnik.dovrel.test", "item")));

    KeychainSecretStore other(std::make_shared<FileSecretStore>(dir.file("elsewhere")));
    const SecretRead r = other.read("com.plovnik.dovrel.test", "item");
    ASSERT_EQ(r.outcome, SecretRead::Outcome::found) << r.message;
    EXPECT_EQ(r.data, secret);
    EXPECT_EQ(other.read("com.plovnik.dovrel.test", "missing").outcome, SecretRead::Outcome::notFound);

    EXPECT_TRUE(store.remove("com.plovnik.dovrel.test", "item"));
    EXPECT_EQ(other.read("com.plovnik.dovrel.test", "item").outcome, SecretRead::Outcome::notFound);
}

TEST_F(KeyringFixture, AnItemAnEarlierSessionLeftInTheFileIsFoundAndMovesOnTheNextWrite) {
    ASSERT_TRUE(files->write("svc", "acct", wex::Bytes{7, 7}).ok);
    KeychainSecretStore store(files);
    EXPECT_EQ(store.read("svc", "acct").data, (wex::Bytes{7, 7}));
    ASSERT_TRUE(store.write("svc", "acct", wex::Bytes{8}).ok);
    EXPECT_FALSE(std::filesystem::exists(files->itemPath("svc", "acct")));
    EXPECT_EQ(store.read("svc", "acct").data, (wex::Bytes{8}));
}

TEST_F(KeyringFixture, TheControllerIdentitySurvivesRelaunchInTheKeyring) {
    auto defaults = std::make_shared<UserDefaults>(dir.file("DovrelController.ini"));
    // Read where the program reads it: on the secrets thread, the keychain's jobs turning on this one.
    const auto launch = [&] {
        SecretsThread secrets(std::make_shared<KeychainSecretStore>(files));
        std::optional<ClientSecurity::IdentityLoad> loaded;
        QObject receiver;
        secrets.ask<ClientSecurity::IdentityLoad>(
            [&](SecretStore& keychain) { return ClientSecurity::loadIdentity(*defaults, keychain); }, &receiver,
            [&](ClientSecurity::IdentityLoad l) { loaded = std::move(l); });
        EXPECT_TRUE(test::waitUntil([&] { return loaded.has_value(); }));
        return loaded.value_or(ClientSecurity::IdentityLoad{});
    };
    const auto first = launch();
    const auto second = launch();
    EXPECT_TRUE(first.authoritative && second.authoritative);
    EXPECT_EQ(first.identity.publicKey(), second.identity.publicKey());
    EXPECT_FALSE(
        std::filesystem::exists(files->itemPath(ClientSecurity::identityService, ClientSecurity::identityAccount)));
    // Nothing of the key in the defaults either.
    EXPECT_FALSE(defaults->data(ClientSecurity::legacyIdentityKey));
}
