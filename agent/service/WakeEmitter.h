#pragma once

#include <memory>
#include <string>
#include <vector>

#include "protocol/LANInterface.h"
#include "protocol/NetAddress.h"

namespace dovrel::agent {

// Puts a wake-on-LAN magic packet on the chosen interfaces. Called on "dovrel.net".
class WakeEmitter {
public:
    virtual ~WakeEmitter() = default;
    // The names of the interfaces on which the packet went out, in the order given.
    virtual std::vector<std::string> send(const wex::MACAddress& mac, const std::vector<wex::LANInterface>& on) = 0;
};

// Until the real emitter is built: sends nothing, says so in the log, and reports no interface, so the
// controller is told the wake signal could not be put on the network.
std::unique_ptr<WakeEmitter> makeUnbuiltWakeEmitter();

} // namespace dovrel::agent
