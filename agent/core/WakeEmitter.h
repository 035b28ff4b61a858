#pragma once

#include <string>
#include <vector>

#include "protocol/LANInterface.h"
#include "protocol/NetAddress.h"

namespace dovrel::agent {

// Puts a wake-on-LAN magic packet on the local networks. The agent answers wake requests through this
// interface so that tests can stand in for the network.
class WakeEmitter {
public:
    virtual ~WakeEmitter() = default;

    // Sends the magic packet for `mac` out of each interface in turn, each time only through that
    // interface: to its directed broadcast and to 255.255.255.255, on every port of MagicPacket::ports.
    // Returns the names of the interfaces on which at least one whole packet went out, in the given
    // order; an interface whose socket cannot be set up is skipped. Any thread; opens and closes one
    // socket per interface within the call.
    virtual std::vector<std::string> send(const wex::MACAddress& mac,
                                          const std::vector<wex::LANInterface>& interfaces) = 0;
};

} // namespace dovrel::agent
