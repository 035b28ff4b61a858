#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace dovrel::controller {

// One IPv4 address of an interface that is up and not a loopback; address and mask in host order.
struct InterfaceAddress {
    uint32_t address = 0;
    uint32_t mask = 0;
    bool operator==(const InterfaceAddress&) const = default;
};

// This computer's network interfaces, as the reachability poll needs them.
class NetworkInterfaces {
public:
    virtual ~NetworkInterfaces() = default;
    // Nothing when the system cannot list its interfaces.
    virtual std::optional<std::vector<InterfaceAddress>> ipv4Addresses() const = 0;
};

// The system's own list (getifaddrs).
class SystemNetworkInterfaces final : public NetworkInterfaces {
public:
    std::optional<std::vector<InterfaceAddress>> ipv4Addresses() const override;
};

} // namespace dovrel::controller
