#include <regex>

#include <gtest/gtest.h>

#include "agent/common/HostInfo.h"
#include "agent/net/PrimaryInterface.h"

using namespace dovrel::agent;

// The selection rules are covered with made-up machines in the primary-interface tests; this one
// checks what this machine really yields.
TEST(HostInfo, ThisMachineHasANameAndWellFormedAddresses) {
    EXPECT_FALSE(hostDisplayName().empty());
    if (const auto ip = primaryLANIP()) {
        EXPECT_TRUE(std::regex_match(*ip, std::regex(R"(\d+\.\d+\.\d+\.\d+)")));
    }
    if (const auto mac = primaryMAC()) {
        EXPECT_TRUE(std::regex_match(*mac, std::regex("([0-9a-f]{2}:){5}[0-9a-f]{2}")));
    }
}
