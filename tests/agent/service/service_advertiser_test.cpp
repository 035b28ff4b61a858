#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "../../support/AvahiDaemon.h"
#include "../../support/TempHome.h"
#include "agent/net/ServiceAdvertiser.h"

using namespace dovrel;
using namespace std::chrono_literals;

namespace {

// One look at the services on the network. A resolution can stall while other programs' services come
// and go on the shared daemon: each look is cut off after a few seconds and the caller looks again.
std::string browse() { return test::runCommand("timeout 5 avahi-browse -rpt _dovrel._tcp 2>/dev/null").output; }

// avahi-browse -p lines: "=;iface;proto;name;type;domain;host;address;port;txt..."
std::string browseUntil(const std::string& needle) {
    std::string out;
    for (int i = 0; i < 40; ++i) {
        out = browse();
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
    // Other programs may advertise the same service type meanwhile: our line is the resolved one with
    // our name.
    std::string line;
    for (std::size_t at = 0; at < seen.size();) {
        const std::size_t end = std::min(seen.find('\n', at), seen.size());
        const std::string one = seen.substr(at, end - at);
        if (one.starts_with("=;") && one.find(name) != std::string::npos) line = one;
        at = end + 1;
    }
    ASSERT_FALSE(line.empty()) << seen;
    EXPECT_NE(line.find(";47810;"), std::string::npos) << line;
    EXPECT_NE(line.find("\"id=0123456789abcdef0123456789abcdef\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"n=Den\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"r=1\""), std::string::npos) << line;
    EXPECT_NE(line.find("\"v=1\""), std::string::npos) << line;

    advertiser->withdraw();
    std::string after;
    for (int i = 0; i < 20; ++i) {
        after = browse();
        if (after.find(name) == std::string::npos) break;
        std::this_thread::sleep_for(250ms);
    }
    EXPECT_EQ(after.find(name), std::string::npos) << after;
}
