#include <cstdlib>
#include <filesystem>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "ClientTestSupport.h"
#include "controller/platform/FileSecretStore.h"
#include "controller/platform/KeychainSecretStore.h"

using namespace dovrel::controller;
using dovrel::test::TempDir;

namespace {
mode_t modeOf(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return 0;
    return st.st_mode & 0777;
}
} // namespace

TEST(FileSecretStore, ItemsAreOwnerOnlyFilesUnderPrivateFolders) {
    TempDir dir;
    FileSecretStore store(dir.file("Dovrel/secrets"));
    EXPECT_EQ(store.read("com.plovnik.dovrel.identity", "device-identity").outcome, SecretRead::Outcome::notFound);
    const wex::Bytes key(32, 0x42);
    ASSERT_TRUE(store.write("com.plovnik.dovrel.identity", "device-identity", key).ok);
    const std::string path = store.itemPath("com.plovnik.dovrel.identity", "device-identity");
    EXPECT_EQ(path, dir.file("Dovrel/secrets/com.plovnik.dovrel.identity/device-identity"));
    EXPECT_EQ(modeOf(path), 0600u);
    EXPECT_EQ(modeOf(dir.file("Dovrel/secrets")), 0700u);
    EXPECT_EQ(modeOf(dir.file("Dovrel/secrets/com.plovnik.dovrel.identity")), 0700u);

    const auto back = store.read("com.plovnik.dovrel.identity", "device-identity");
    ASSERT_EQ(back.outcome, SecretRead::Outcome::found);
    EXPECT_EQ(back.data, key);
    ASSERT_TRUE(store.write("com.plovnik.dovrel.identity", "device-identity", wex::Bytes{1, 2}).ok);
    EXPECT_EQ(store.read("com.plovnik.dovrel.identity", "device-identity").data, (wex::Bytes{1, 2}));
    EXPECT_TRUE(store.remove("com.plovnik.dovrel.identity", "device-identity"));
    EXPECT_EQ(store.read("com.plovnik.dovrel.identity", "device-identity").outcome, SecretRead::Outcome::notFound);
    EXPECT_TRUE(store.remove("com.plovnik.dovrel.identity", "device-identity"));
}

TEST(FileSecretStore, NamesCannotLeaveTheFolder) {
    TempDir dir;
    FileSecretStore store(dir.file("s"));
    ASSERT_TRUE(store.write("../..", "../x/../y", wex::Bytes{9}).ok);
    ASSERT_TRUE(store.write(".hidden", "", wex::Bytes{8}).ok);
    int files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.path())) {
        const auto rel = std::filesystem::relative(entry.path(), dir.path());
        EXPECT_EQ(*rel.begin(), "s") << rel;
        for (const auto& part : rel)
            EXPECT_TRUE(part != ".." && part != "." && part.string()[0] != '.') << rel;
        files += entry.is_regular_file() ? 1 : 0;
    }
    EXPECT_EQ(files, 2);
    EXPECT_EQ(store.read("../..", "../x/../y").data, wex::Bytes{9});
    EXPECT_EQ(store.read(".hidden", "").data, wex::Bytes{8});
}

TEST(KeychainSecretStore, WithoutASessionBusEverythingGoesToTheFileFallback) {
    // No bus to find a keychain on: the store must say so and keep working with files.
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    ::unsetenv("DISPLAY");
    test::app();
    TempDir dir;
    auto files = std::make_shared<FileSecretStore>(dir.file("secrets"));
    KeychainSecretStore store(files, std::chrono::seconds(5));
    EXPECT_FALSE(KeychainSecretStore::keychainServiceAvailable());
    ::testing::internal::CaptureStderr();
    ASSERT_TRUE(store.write("svc", "acct", wex::Bytes{1, 2, 3}).ok);
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(log.find("[dovrel] secrets: no keyring service on the session bus"), std::string::npos);
    EXPECT_EQ(modeOf(files->itemPath("svc", "acct")), 0600u);
    EXPECT_EQ(store.read("svc", "acct").data, (wex::Bytes{1, 2, 3}));
    EXPECT_TRUE(store.remove("svc", "acct"));
    EXPECT_EQ(store.read("svc", "acct").outcome, SecretRead::Outcome::notFound);

    // The identity store on top of it: a second launch finds the same key in the file.
    auto defaults = std::make_shared<UserDefaults>(dir.file("DovrelController.ini"));
    auto shared = std::make_shared<KeychainSecretStore>(files);
    const ClientSecurity first(defaults, shared);
    const ClientSecurity second(defaults, shared);
    EXPECT_EQ(first.identity().publicKey(), second.identity().publicKey());
    EXPECT_EQ(files->read(ClientSecurity::identityService, ClientSecurity::identityAccount).data,
              first.identity().raw());
}
