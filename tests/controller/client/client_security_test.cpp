#include <filesystem>
#include <map>

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "TempHome.h"
#include "controller/client/link/ClientSecurity.h"
#include "controller/platform/UserDefaults.h"

using namespace dovrel::controller;
using dovrel::test::TempDir;

namespace {

// A secret store whose answers a test can dictate.
class MemorySecretStore final : public SecretStore {
public:
    std::map<std::string, wex::Bytes> items;
    std::optional<int> readFailure;  // every read fails with this code
    std::optional<int> writeFailure; // every write fails with this code
    int writes = 0;

    SecretRead read(std::string_view s, std::string_view a) override {
        if (readFailure) return SecretRead::failed(*readFailure, "locked");
        const auto it = items.find(key(s, a));
        return it == items.end() ? SecretRead::notFound() : SecretRead::found(it->second);
    }
    SecretWrite write(std::string_view s, std::string_view a, wex::ByteView d) override {
        ++writes;
        if (writeFailure) return {false, *writeFailure, "refused"};
        items[key(s, a)] = wex::Bytes(d.begin(), d.end());
        return {true, 0, {}};
    }
    bool remove(std::string_view s, std::string_view a) override {
        items.erase(key(s, a));
        return true;
    }
    wex::Bytes* identity() {
        const auto it = items.find(key(ClientSecurity::identityService, ClientSecurity::identityAccount));
        return it == items.end() ? nullptr : &it->second;
    }

private:
    static std::string key(std::string_view s, std::string_view a) { return std::string(s) + "|" + std::string(a); }
};

struct SecurityFixture : ::testing::Test {
    TempDir dir;
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(dir.file("conf/DovrelController.ini"));
    std::shared_ptr<MemorySecretStore> store = std::make_shared<MemorySecretStore>();

    std::unique_ptr<ClientSecurity> launch() { return std::make_unique<ClientSecurity>(defaults, store); }
};

} // namespace

TEST_F(SecurityFixture, FirstLaunchStoresANewKeyThatTheNextLaunchReads) {
    const auto first = launch();
    EXPECT_TRUE(first->identityIsAuthoritative());
    ASSERT_NE(store->identity(), nullptr);
    EXPECT_EQ(*store->identity(), first->identity().raw());
    const auto second = launch();
    EXPECT_EQ(second->identity().publicKey(), first->identity().publicKey());
    EXPECT_EQ(store->writes, 1);
}

TEST_F(SecurityFixture, LegacyDefaultsKeyMovesIntoTheSecretStoreOnce) {
    const wex::DeviceIdentity legacy;
    defaults->setData(ClientSecurity::legacyIdentityKey, legacy.raw());
    ::testing::internal::CaptureStderr();
    const auto first = launch();
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(first->identity().publicKey(), legacy.publicKey());
    EXPECT_NE(log.find("[dovrel] identity: identity migrated from UserDefaults to the Keychain"), std::string::npos);
    EXPECT_FALSE(defaults->data(ClientSecurity::legacyIdentityKey));
    ASSERT_NE(store->identity(), nullptr);
    EXPECT_EQ(*store->identity(), legacy.raw());

    ::testing::internal::CaptureStderr();
    const auto second = launch();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(second->identity().publicKey(), legacy.publicKey());
}

TEST_F(SecurityFixture, AStoredKeyWinsAndTheLegacyCopyIsRemovedSilently) {
    const wex::DeviceIdentity stored, legacy;
    store->write(ClientSecurity::identityService, ClientSecurity::identityAccount, stored.raw());
    defaults->setData(ClientSecurity::legacyIdentityKey, legacy.raw());
    ::testing::internal::CaptureStderr();
    const auto s = launch();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(s->identity().publicKey(), stored.publicKey());
    EXPECT_FALSE(defaults->data(ClientSecurity::legacyIdentityKey));
}

TEST_F(SecurityFixture, AnItemOfTheWrongSizeIsReplacedByANewKey) {
    store->write(ClientSecurity::identityService, ClientSecurity::identityAccount, wex::Bytes(31, 7));
    const auto s = launch();
    EXPECT_TRUE(s->identityIsAuthoritative());
    ASSERT_NE(store->identity(), nullptr);
    EXPECT_EQ(*store->identity(), s->identity().raw());
}

TEST_F(SecurityFixture, AnUnreadableStoreGivesAThrowawayKeyAndOverwritesNothing) {
    const wex::DeviceIdentity real;
    store->write(ClientSecurity::identityService, ClientSecurity::identityAccount, real.raw());
    store->readFailure = 9;
    const int writesBefore = store->writes;
    ::testing::internal::CaptureStderr();
    const auto s = launch();
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_FALSE(s->identityIsAuthoritative());
    EXPECT_NE(s->identity().publicKey(), real.publicKey());
    EXPECT_EQ(store->writes, writesBefore);
    EXPECT_EQ(*store->identity(), real.raw());
    EXPECT_NE(log.find("identity unreadable (OSStatus 9) - throwaway key for this launch, nothing overwritten"),
              std::string::npos);
    EXPECT_EQ(ClientSecurity::loadIdentity(*defaults, *store).unreadable, "locked");
}

TEST_F(SecurityFixture, AKeyMachinesTrustIsNotReplacedWhenTheStoreFindsNone) {
    // A locked keychain whose prompt was dismissed answers "no item" for the key it keeps.
    defaults->setData(std::string(ClientSecurity::agentPubPrefix) + "abcd", wex::Bytes(32, 1));
    const auto s = launch();
    EXPECT_FALSE(s->identityIsAuthoritative());
    EXPECT_EQ(store->writes, 0);
    EXPECT_EQ(store->identity(), nullptr);
    EXPECT_TRUE(ClientSecurity::loadIdentity(*defaults, *store).unreadable);
}

TEST_F(SecurityFixture, AFailedMigrationKeepsTheLegacyCopyForTheNextLaunch) {
    const wex::DeviceIdentity legacy;
    defaults->setData(ClientSecurity::legacyIdentityKey, legacy.raw());
    store->writeFailure = 7;
    ::testing::internal::CaptureStderr();
    const auto s = launch();
    const std::string log = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(s->identity().publicKey(), legacy.publicKey());
    EXPECT_TRUE(s->identityIsAuthoritative());
    EXPECT_EQ(defaults->data(ClientSecurity::legacyIdentityKey), legacy.raw());
    EXPECT_NE(log.find("SecItemAdd failed (OSStatus 7)"), std::string::npos);
    EXPECT_NE(log.find("Keychain write failed - identity left in UserDefaults, will retry next launch"),
              std::string::npos);
}

TEST_F(SecurityFixture, DeviceIdIsSixteenStableBytesAndAWrongLengthIsReplaced) {
    const auto s = launch();
    const auto id = s->deviceId();
    EXPECT_EQ(s->deviceId(), id);
    EXPECT_EQ(launch()->deviceId(), id);
    defaults->setData(ClientSecurity::deviceIdKey, wex::Bytes(15, 1));
    const auto fresh = s->deviceId();
    EXPECT_NE(fresh, id);
    EXPECT_EQ(defaults->data(ClientSecurity::deviceIdKey)->size(), 16u);
}

TEST_F(SecurityFixture, TrustIsPerMachineAndIgnoresLetterCase) {
    const auto s = launch();
    const wex::Bytes a(32, 0xaa), b(32, 0xbb);
    s->trustAgent(a, "ABCDEF");
    EXPECT_EQ(s->trustedAgent("abcdef"), a);
    EXPECT_EQ(s->trustedAgent("AbCdEf"), a);
    EXPECT_FALSE(s->trustedAgent("other"));
    EXPECT_TRUE(defaults->data("dovrel.agentPub.abcdef"));
    s->trustAgent(b, "other");
    s->forgetAgent("ABCDEF");
    EXPECT_FALSE(s->trustedAgent("abcdef"));
    EXPECT_EQ(s->trustedAgent("other"), b);
    s->trustAgent(a, "");
    EXPECT_FALSE(s->trustedAgent(""));
}

TEST_F(SecurityFixture, TheLegacySingleKeyStandsForEveryMachineUntilTheFirstPerMachineKey) {
    const wex::Bytes legacy(32, 0x11), mine(32, 0x22);
    defaults->setData(ClientSecurity::legacyAgentPubKey, legacy);
    const auto s = launch();
    EXPECT_EQ(s->trustedAgent("anything"), legacy);
    EXPECT_FALSE(s->trustedAgent(""));
    // Forgetting a machine without its own key removes the legacy key.
    s->forgetAgent("nobody");
    EXPECT_FALSE(s->trustedAgent("anything"));

    defaults->setData(ClientSecurity::legacyAgentPubKey, legacy);
    s->trustAgent(mine, "m1");
    EXPECT_FALSE(defaults->data(ClientSecurity::legacyAgentPubKey));
    EXPECT_FALSE(s->trustedAgent("m2"));
    defaults->setData(ClientSecurity::legacyAgentPubKey, legacy);
    EXPECT_FALSE(s->trustedAgent("m2")); // a per-machine key exists: the legacy one no longer stands in
}

TEST_F(SecurityFixture, PairingCodeComesFromDefaultsOrTheLaunchAndEmptyMeansNone) {
    auto s = launch();
    EXPECT_FALSE(s->pairingCode());
    defaults->setString(ClientSecurity::pairingCodeKey, "");
    EXPECT_FALSE(s->pairingCode());
    defaults->setString(ClientSecurity::pairingCodeKey, "654321");
    EXPECT_EQ(s->pairingCode(), "654321");
    auto withArgs = std::make_shared<UserDefaults>(defaults->path(),
                                                   QStringList{"DovrelController", "-demo", "-pairingCode", "111222"});
    ClientSecurity fromLaunch(withArgs, store);
    EXPECT_EQ(fromLaunch.pairingCode(), "111222");
}

TEST(UserDefaults, FileIsOwnerOnlyAndValuesRoundTrip) {
    TempDir dir;
    const std::string path = dir.file("cfg/Dovrel/DovrelController.ini");
    UserDefaults d(path);
    EXPECT_FALSE(d.data("dovrel.deviceId"));
    const wex::Bytes bin = {0, 1, 0xff, '\n', '=', '@'};
    ASSERT_TRUE(d.setData("dovrel.agentPub.abc", bin));
    ASSERT_TRUE(d.setString("pairingCode", "12 34"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(std::filesystem::path(path).parent_path().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    UserDefaults again(path);
    EXPECT_EQ(again.data("dovrel.agentPub.abc"), bin);
    EXPECT_EQ(again.string("pairingCode"), "12 34");
    const auto keys = again.keys();
    EXPECT_EQ(keys.size(), 2u);
    ASSERT_TRUE(again.remove("pairingCode"));
    EXPECT_FALSE(d.string("pairingCode"));
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(UserDefaults, AWorldReadableFileIsMadeOwnerOnlyOnTheNextWrite) {
    TempDir dir;
    const std::string path = dir.file("DovrelController.ini");
    { UserDefaults(path).setString("a", "b"); }
    ::chmod(path.c_str(), 0644);
    UserDefaults(path).setString("c", "d");
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}
