#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "../../support/TempHome.h"
#include "agent/core/RelayConfig.h"
#include "protocol/WEXConstants.h"

using namespace dovrel;
using namespace dovrel::agent;
namespace fs = std::filesystem;

namespace {

void writeText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

std::string readText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

const std::string defaultHost(wex::WEX::relayHost);

} // namespace

TEST(RelayConfig, DefaultsWithoutAFile) {
    test::TempDir dir;
    RelayConfig config(dir.str());
    EXPECT_EQ(config.load(), (wex::RelayIdentity{"", "", defaultHost, 8443}));
    const auto s = config.settings();
    EXPECT_TRUE(s.lanEnabled); // the local network is on unless the file turns it off
    EXPECT_FALSE(s.hostPinned);
    EXPECT_EQ(s.apiHost, std::string(wex::WEX::relayApiHost));
    EXPECT_EQ(s.apiPort, 443);
    ASSERT_EQ(s.regions.size(), 2u);
    EXPECT_EQ(s.regions[0].host, defaultHost);
}

TEST(RelayConfig, ReadsKeysByTypeAndPortModulo) {
    test::TempDir dir;
    RelayConfig config(dir.str());
    writeText(config.path(), R"({"lan": false})");
    EXPECT_EQ(config.load(), (wex::RelayIdentity{"", "", defaultHost, 8443}));
    EXPECT_FALSE(config.settings().lanEnabled);

    writeText(config.path(), R"({"port": 70000, "apiPort": "444", "host": "r.example.org", "apiHost": "",
                                 "account": "amy", "token": 5, "regions": ["a.example.org:9000", ""]})");
    EXPECT_EQ(config.load(), (wex::RelayIdentity{"amy", "", "r.example.org", 4464}));
    auto s = config.settings();
    EXPECT_TRUE(s.lanEnabled); // no "lan" key: on
    EXPECT_TRUE(s.hostPinned);
    EXPECT_EQ(s.apiPort, 443);
    EXPECT_EQ(s.apiHost, std::string(wex::WEX::relayApiHost));
    ASSERT_EQ(s.regions.size(), 1u);
    EXPECT_EQ(s.regions[0], (RelayEndpoint{"a.example.org", 9000}));

    writeText(config.path(), R"({"port": "8443", "regions": [], "host": ""})");
    EXPECT_EQ(config.load(), (wex::RelayIdentity{"", "", defaultHost, 8443}));
    EXPECT_EQ(config.settings().regions.size(), 1u); // an empty list keeps what was there
    EXPECT_FALSE(config.settings().hostPinned);

    // A second load after the file went keeps the settings of the first.
    fs::remove(config.path());
    config.load();
    EXPECT_EQ(config.settings().regions.size(), 1u);

    writeText(config.path(), "not json");
    EXPECT_EQ(config.load(), (wex::RelayIdentity{"", "", defaultHost, 8443}));
    writeText(config.path(), "[1, 2]");
    EXPECT_EQ(config.load().host, defaultHost);
}

TEST(RelayConfig, SaveKeepsOtherKeysSortedAndPrivate) {
    test::TempDir dir;
    RelayConfig config(dir.file("nested/Dovrel"));
    fs::create_directories(config.directory());
    writeText(config.path(), R"({"lan": true, "zeta": [1]})");
    config.save("amy", "tok.en");
    const std::string text = readText(config.path());
    EXPECT_LT(text.find("\"account\""), text.find("\"lan\""));
    EXPECT_LT(text.find("\"lan\""), text.find("\"token\""));
    EXPECT_LT(text.find("\"token\""), text.find("\"zeta\""));
    EXPECT_NE(text.find('\n'), std::string::npos); // pretty-printed
    struct stat st {};
    ::stat(config.path().c_str(), &st);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(config.load(), (wex::RelayIdentity{"amy", "tok.en", defaultHost, 8443}));

    config.clear();
    EXPECT_EQ(readText(config.path()).find("account"), std::string::npos);
    EXPECT_NE(readText(config.path()).find("\"lan\""), std::string::npos);
}

TEST(RelayConfig, ClearDeletesAFileWithOnlyEnrolmentAndKeepsJunk) {
    test::TempDir dir;
    RelayConfig config(dir.str());
    config.save("amy", "t");
    config.clear();
    EXPECT_FALSE(fs::exists(config.path()));
    config.clear(); // a missing file is no error

    writeText(config.path(), "{broken");
    config.clear();
    EXPECT_EQ(readText(config.path()), "{broken");
    // Signing in keeps a broken hand-edited file beside the new one instead of overwriting it.
    config.save("amy", "t");
    EXPECT_EQ(readText(config.path() + ".invalid"), "{broken");
    EXPECT_EQ(config.load().account, "amy");
}
