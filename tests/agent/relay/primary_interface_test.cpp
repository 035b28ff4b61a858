#include <map>

#include <gtest/gtest.h>

#include "agent/net/PrimaryInterface.h"
#include "protocol/NetAddress.h"

using namespace dovrel::agent;

namespace {

uint32_t ip(const char* text) { return *wex::parseIPv4(text); }

const char* routeHeader = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

} // namespace

TEST(PrimaryInterface, DefaultRouteIsTheUpZeroRouteWithTheLowestMetric) {
    const std::string table = std::string(routeHeader) +
                              "docker0\t000011AC\t00000000\t0001\t0\t0\t0\t0000FFFF\t0\t0\t0\n"
                              "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                              "eth0\t00000000\t0100A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
                              "down0\t00000000\t0100A8C0\t0002\t0\t0\t1\t00000000\t0\t0\t0\n"
                              "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
    EXPECT_EQ(defaultRouteInterface(table), "eth0");
    EXPECT_FALSE(defaultRouteInterface(std::string(routeHeader) +
                                       "eth0\t0000A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n"));
    EXPECT_FALSE(defaultRouteInterface(""));
    EXPECT_FALSE(defaultRouteInterface("not a routing table\neth0 00000000 0 3 0 0 0 00000000\n"));
    EXPECT_FALSE(defaultRouteInterface(std::string(routeHeader) + "eth0\tzz\t0\t0003\t0\t0\t0\t00000000\n"));
}

TEST(PrimaryInterface, LANAddressPrefersTheDefaultRoutesInterface) {
    const std::vector<InterfaceAddress> list = {
        {"lo", ip("127.0.0.1"), true},
        {"docker0", ip("172.17.0.1"), false},
        {"wlan0", ip("169.254.3.4"), false},
        {"wlan0", ip("192.168.1.20"), false},
    };
    EXPECT_EQ(primaryLANIP(list, std::string("wlan0")), "192.168.1.20");
    EXPECT_EQ(primaryLANIP(list, std::nullopt), "172.17.0.1"); // without a default route: the first usable
    EXPECT_EQ(primaryLANIP(list, std::string("gone0")), "172.17.0.1");
    // Loopback and link-local addresses never count, whatever interface they are on.
    EXPECT_FALSE(
        primaryLANIP({{"lo", ip("127.0.0.1"), true}, {"eth0", ip("169.254.9.9"), false}}, std::string("eth0")));
    EXPECT_FALSE(primaryLANIP({}, std::nullopt));
}

TEST(PrimaryInterface, HardwareAddressSkipsUnreadableMalformedAndZero) {
    const std::map<std::string, std::string> sys = {{"eth0", "00:00:00:00:00:00"},
                                                    {"eth1", "garbage"},
                                                    {"wlan0", "A4:5E:60:0B:0C:0D"},
                                                    {"eth2", "02:00:00:00:00:01"}};
    const HardwareAddressReader read = [&](const std::string& name) -> std::optional<std::string> {
        const auto it = sys.find(name);
        if (it == sys.end()) return std::nullopt;
        return it->second;
    };
    EXPECT_EQ(primaryMAC(std::string("eth0"), {"missing", "eth1", "wlan0", "eth2"}, read), "a4:5e:60:0b:0c:0d");
    EXPECT_EQ(primaryMAC(std::string("eth2"), {"wlan0"}, read), "02:00:00:00:00:01");
    EXPECT_FALSE(primaryMAC(std::nullopt, {"eth0", "eth1"}, read));
}

TEST(PrimaryInterface, ThisMachineGivesAWellFormedAnswerOrNone) {
    if (const auto address = primaryLANIP()) {
        EXPECT_TRUE(wex::parseIPv4(*address)) << *address;
        EXPECT_NE(address->rfind("127.", 0), 0u) << *address;
    }
    if (const auto mac = primaryMAC()) {
        EXPECT_EQ(mac->size(), 17u);
        EXPECT_EQ(wex::formatMAC(*wex::parseMAC(*mac)), *mac);
    }
}

TEST(PrimaryInterface, HardwareAddressIsThatOfTheInterfaceHoldingTheLinksAddress) {
    const HardwareAddressReader read = [](const std::string& name) -> std::optional<std::string> {
        if (name == "veth0") return "02:42:ac:11:00:02";
        if (name == "enp3s0") return "3c:7c:3f:00:00:01";
        return std::nullopt;
    };
    // No default route: the link names veth0's address, and veth0 wakes the machine, though a physical
    // card comes first in name order; a tunnel without a hardware address leaves it to the card.
    const std::vector<InterfaceAddress> list = {{"lo", ip("127.0.0.1"), true}, {"veth0", ip("10.77.0.1"), false}};
    EXPECT_EQ(primaryMAC(list, std::nullopt, {"enp3s0"}, read), "02:42:ac:11:00:02");
    EXPECT_EQ(primaryMAC({{"tun0", ip("10.8.0.2"), false}}, std::nullopt, {"enp3s0"}, read), "3c:7c:3f:00:00:01");
}
