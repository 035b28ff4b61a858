#include <regex>

#include <gtest/gtest.h>

#include "agent/service/HostInfo.h"

using namespace dovrel::agent;

TEST(HostInfo, TheDefaultRouteNamesThePrimaryInterface) {
    const char* route = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
                        "wlan0\t0000A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n"
                        "eth1\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n";
    EXPECT_EQ(defaultRouteInterface(route), "eth1");
    EXPECT_EQ(defaultRouteInterface("Iface\tDestination\n"), "");
    EXPECT_EQ(defaultRouteInterface(""), "");
}

TEST(HostInfo, PrimaryAddressPrefersTheDefaultRouteAndSkipsLoopbackAndLinkLocal) {
    const std::vector<InterfaceAddress> all = {
        {"lo", "127.0.0.1", true},
        {"docker0", "172.17.0.1", false},
        {"eth0", "169.254.3.4", false},
        {"eth0", "192.168.1.20", false},
    };
    EXPECT_EQ(choosePrimaryIPv4(all, "eth0"), "192.168.1.20");
    EXPECT_EQ(choosePrimaryIPv4(all, "wlan0"), "172.17.0.1");
    EXPECT_EQ(choosePrimaryIPv4({{"lo", "127.0.0.1", true}, {"eth0", "169.254.9.9", false}}, "eth0"), std::nullopt);
}

TEST(HostInfo, PrimaryHardwareAddressSkipsAllZerosAndLoopback) {
    const std::vector<InterfaceHardware> all = {
        {"lo", {0, 0, 0, 0, 0, 0}, true},
        {"eth0", {0, 0, 0, 0, 0, 0}, false},
        {"wlan0", {0xaa, 0xbb, 0xcc, 0x01, 0x02, 0x0f}, false},
        {"eth1", {0x02, 0, 0, 0, 0, 1}, false},
    };
    EXPECT_EQ(choosePrimaryMAC(all, "eth0"), "aa:bb:cc:01:02:0f");
    EXPECT_EQ(choosePrimaryMAC(all, "eth1"), "02:00:00:00:00:01");
    EXPECT_EQ(choosePrimaryMAC({{"lo", {1, 2, 3, 4, 5, 6}, true}}, ""), std::nullopt);
}

TEST(HostInfo, ThisMachineHasANameAndWellFormedAddresses) {
    EXPECT_FALSE(hostDisplayName().empty());
    if (const auto ip = primaryLANIP()) {
        EXPECT_TRUE(std::regex_match(*ip, std::regex(R"(\d+\.\d+\.\d+\.\d+)")));
    }
    if (const auto mac = primaryMAC()) {
        EXPECT_TRUE(std::regex_match(*mac, std::regex("([0-9a-f]{2}:){5}[0-9a-f]{2}")));
    }
}
