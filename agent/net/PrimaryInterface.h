#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "agent/core/LocalAddress.h"

namespace dovrel::agent {

// This computer's address on its local network and the hardware address that wakes it, for the
// pairing link and the menu window. The network that matters is the one the default route leaves by,
// and on a machine without one the network of the first usable address; the hardware address is that
// of the interface holding the address the link names. The pure functions below take what they read
// as arguments so that tests can hand in any machine.

// One IPv4 entry of the interface list, in system order.
struct InterfaceAddress {
    std::string name;
    uint32_t ipv4 = 0; // host order
    bool loopback = false;
    bool operator==(const InterfaceAddress&) const = default;
};

// The interface of the best IPv4 default route (destination and mask 0, up; lowest metric, first on a
// tie) in the text of /proc/net/route; nothing when there is none or the text is not that table.
std::optional<std::string> defaultRouteInterface(std::string_view procNetRoute);

// First a usable address on `preferred` (the default route's interface), then on any other interface
// in list order; usable means not loopback and not link-local 169.254.x.x. The entry, or nothing.
std::optional<InterfaceAddress> primaryLANInterface(const std::vector<InterfaceAddress>& addresses,
                                                    const std::optional<std::string>& preferred);
// The same entry's address as dotted text.
std::optional<std::string> primaryLANIP(const std::vector<InterfaceAddress>& addresses,
                                        const std::optional<std::string>& preferred);

// Reads /sys/class/net/<name>/address for an interface; nothing when it cannot be read.
using HardwareAddressReader = std::function<std::optional<std::string>(const std::string& name)>;

// The hardware address of the first candidate that has one that is six bytes and not all zero, as six
// lower-case two-digit hex bytes joined by ":"; `preferred` is tried before `others`.
std::optional<std::string> primaryMAC(const std::optional<std::string>& preferred,
                                      const std::vector<std::string>& others, const HardwareAddressReader& read);

// The hardware address that wakes the machine at primaryLANIP(addresses, defaultRoute): that of the
// interface holding that address, then of the default route's interface, then of `physical` in order.
std::optional<std::string> primaryMAC(const std::vector<InterfaceAddress>& addresses,
                                      const std::optional<std::string>& defaultRoute,
                                      const std::vector<std::string>& physical, const HardwareAddressReader& read);

// The same on this machine: getifaddrs, /proc/net/route and /sys/class/net. The hardware address falls
// back to the physical interfaces (those with a device behind them) in name order, so that a bridge or
// container interface does not stand in for the network card when the address's own has none.
std::vector<InterfaceAddress> systemInterfaceAddresses();
std::optional<std::string> systemDefaultRouteInterface();
std::optional<std::string> primaryLANIP();
std::optional<std::string> primaryMAC();

// The two above, behind the agent's port.
std::unique_ptr<LocalAddress> makeSystemLocalAddress();

} // namespace dovrel::agent
