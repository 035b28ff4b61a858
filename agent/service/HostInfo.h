#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dovrel::agent {

// The computer's primary local network identity, as the pairing link and the window show it. "Primary"
// is the interface of the IPv4 default route; the others follow in the system's order.
struct InterfaceAddress {
    std::string name;
    std::string ipv4; // dotted form
    bool loopback = false;
};

struct InterfaceHardware {
    std::string name;
    std::array<uint8_t, 6> mac{};
    bool loopback = false;
};

// The interface named by the first default route of /proc/net/route's text; empty when there is none.
std::string defaultRouteInterface(std::string_view procNetRoute);

// The first usable IPv4 address, on `primary` first, then elsewhere; loopback and 169.254.x.x are skipped.
std::optional<std::string> choosePrimaryIPv4(const std::vector<InterfaceAddress>& all, const std::string& primary);
// The first hardware address that is not all zeros, on `primary` first, as "aa:bb:cc:dd:ee:ff".
std::optional<std::string> choosePrimaryMAC(const std::vector<InterfaceHardware>& all, const std::string& primary);

// The same for this machine (getifaddrs and /proc/net/route).
std::optional<std::string> primaryLANIP();
std::optional<std::string> primaryMAC();

// The name controllers see: the pretty host name of /etc/machine-info, else the host name, else
// "Computer".
std::string hostDisplayName();

} // namespace dovrel::agent
