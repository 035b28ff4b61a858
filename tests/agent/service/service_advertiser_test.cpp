#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "../../support/AvahiDaemon.h"
#include "../../support/TempHome.h"
#include "agent/net/ServiceAdvertiser.h"

using namespace dovrel;
using namespace std::chrono_literals;

namespace {

// avahi-browse -p lines: "=;iface;proto;name;type;domain;host;address;port;txt..."
std::string browseUntil(const std::string& needle) {
    std::string out;
    for (int i = 0; i < 40; ++i) {
        out = test::runCommand("avahi-browse -rpt _dovrel._tcp 2>/dev/null").output;
        if (out.find(needle) != std::string::npos) return out;
        std::this_thread::sleep_for(250ms);
    }
    return out;
}

} // namespace

TEST(AvahiServiceAdvertiser, PublishesTheTxtRecordAndWithdraws) {
    test::AvahiDaemon daemon;
    if (!daemon.available()) GTEST_SKIP() << "no Avahi daemon: " << daemon.reason();
    test::StdStreamsGuard guard; // the advertiser logs through standard output

    const auto advertiser = agent::makeAvahiAdvertiser();
    const std::string name = "DovrelTest-" + std::to_string(::getpid()); // avahi-browse escapes blanks
    advertiser->publish(name, 47810, wex::DovrelService::txt("0123456789abcdef0123456789abcdef", "Den", true, 1));
    const std::string seen = browseUntil(name);
    ASSERT_NE(seen.find(name), std::string::npos) << seen;
    const auto line = seen.substr(seen.find("=;"));
    EXPECT_NE(line.find(";47810;"), std::string::npos) << line;
    EXPECT_NE(line.find("\"id=0123456789abcdef0123456789abcdef\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"n=Den\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"r=1\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"v=1\""), std::string::npos) << line;

    advertiser->withdraw();
    std::string after;
    for (int i = 0; i < 20; ++i) {
        after = test::runCommand("avahi-browse -rpt _dovrel._tcp 2>/dev/null").output;
        if (after.find(name) == std::string::npos) break;
        std::this_thread::sleep_for(250ms);
    }
    EXPECT_EQ(after.find(name), std::string::npos) << after;
}
