#include <filesystem>
#include <fstream>
#include <regex>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "../../support/TempHome.h"
#include "agent/core/SecurityStore.h"
#include "runtime/AtomicFile.h"

using namespace dovrel;
using namespace dovrel::agent;
namespace fs = std::filesystem;

namespace {

mode_t modeOf(const std::string& path) {
    struct stat st{};
    ::stat(path.c_str(), &st);
    return st.st_mode & 0777;
}

void writeBytes(const std::string& path, const wex::Bytes& b) {
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

wex::Bytes key(uint8_t fill) { return wex::Bytes(32, fill); }

} // namespace

TEST(SecurityStore, FirstStartCreatesFolderKeyAndCode) {
    test::TempDir home;
    const std::string dir = home.file(".dovrel");
    test::StdStreamsGuard guard;
    SecurityStore store(dir);
    EXPECT_EQ(modeOf(dir), 0700u);
    wex::Bytes raw;
    ASSERT_TRUE(readWholeFile(dir + "/agent.key", raw));
    EXPECT_EQ(raw.size(), 32u);
    EXPECT_EQ(modeOf(dir + "/agent.key"), 0600u);
    EXPECT_FALSE(fs::exists(dir + "/paired"));
    EXPECT_TRUE(std::regex_match(store.pairingCode(), std::regex("[0-9]{6}")));

    // The same key comes back on the next start: the device identifier stays.
    SecurityStore again(dir);
    EXPECT_EQ(again.identity().publicKey(), store.identity().publicKey());
}

TEST(SecurityStore, UnusableKeyIsMovedAsideAndReplaced) {
    test::TempDir home;
    const std::string dir = home.file(".dovrel");
    fs::create_directories(dir);
    writeBytes(dir + "/agent.key", wex::Bytes(31, 7));
    writeBytes(dir + "/agent.key.unreadable", wex::Bytes(5, 1)); // an earlier one is kept
    test::StdStreamsGuard guard;
    SecurityStore store(dir);
    wex::Bytes moved;
    ASSERT_TRUE(readWholeFile(dir + "/agent.key.unreadable.2", moved));
    EXPECT_EQ(moved, wex::Bytes(31, 7));
    wex::Bytes fresh;
    ASSERT_TRUE(readWholeFile(dir + "/agent.key", fresh));
    EXPECT_EQ(fresh.size(), 32u);
}

TEST(SecurityStore, PairedFileKeepsWholeKeysAndChangesOnlyWhenNeeded) {
    test::TempDir home;
    const std::string dir = home.file(".dovrel");
    fs::create_directories(dir);
    wex::Bytes seventy = key(1);
    const wex::Bytes second = key(2);
    seventy.insert(seventy.end(), second.begin(), second.end());
    seventy.insert(seventy.end(), {9, 9, 9, 9, 9, 9});
    writeBytes(dir + "/paired", seventy);
    ::chmod((dir + "/paired").c_str(), 0644);
    test::StdStreamsGuard guard;
    SecurityStore store(dir);
    ASSERT_EQ(store.pairedPubs().size(), 2u);
    EXPECT_EQ(modeOf(dir + "/paired"), 0600u);
    EXPECT_TRUE(store.isPaired(key(2)));
    EXPECT_FALSE(store.isPaired(wex::Bytes(31, 2)));

    store.pair(key(2)); // already listed
    EXPECT_EQ(store.pairedPubs().size(), 2u);
    store.pair(key(3));
    store.unpair(key(1));
    wex::Bytes onDisk;
    ASSERT_TRUE(readWholeFile(dir + "/paired", onDisk));
    wex::Bytes expected = key(2);
    const wex::Bytes third = key(3);
    expected.insert(expected.end(), third.begin(), third.end());
    EXPECT_EQ(onDisk, expected);

    // Unpairing an unknown key writes nothing: a read-only file would show an attempted write.
    const auto before = fs::last_write_time(dir + "/paired");
    store.unpair(key(4));
    EXPECT_EQ(fs::last_write_time(dir + "/paired"), before);
}

TEST(SecurityStore, RandomBytesAndCodes) {
    EXPECT_TRUE(randomBytes(0).empty());
    EXPECT_EQ(randomBytes(24).size(), 24u);
    EXPECT_NE(randomBytes(24), randomBytes(24));
    for (int i = 0; i < 200; ++i) EXPECT_EQ(SecurityStore::newPairingCode().size(), 6u);
}
