#pragma once

#include <cstdint>
#include <vector>

#include "controller/platform/NetworkInterfaces.h"
#include "controller/platform/WakeSender.h"
#include "controller/services/Device.h"

namespace dovrel::controller {

// Wakes a saved machine with a magic packet for its hardware address, broadcast on each of this
// computer's own networks (their directed broadcasts). A machine on another network, behind a router,
// never hears it: only a peer agent on its network can wake it there. Main thread.
class MachineWaker {
public:
    MachineWaker(WakeSender& sender, const NetworkInterfaces& interfaces);

    // The directed broadcasts (host order) the packet went to; empty, and logged, when the machine has
    // no readable hardware address or no network took the packet.
    std::vector<uint32_t> wake(const Device& device);

private:
    WakeSender& sender_;
    const NetworkInterfaces& interfaces_;
};

} // namespace dovrel::controller
