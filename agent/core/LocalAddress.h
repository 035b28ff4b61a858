#pragma once

#include <optional>
#include <string>

namespace dovrel::agent {

// This computer's address on its local network and the hardware address that wakes it, as the pairing
// link names them. Read afresh on each call; any thread.
class LocalAddress {
public:
    virtual ~LocalAddress() = default;
    // Dotted IPv4 text, or nothing.
    virtual std::optional<std::string> lanIP() = 0;
    // Six lower-case two-digit hex bytes joined by ":", or nothing.
    virtual std::optional<std::string> mac() = 0;
};

} // namespace dovrel::agent
