#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "protocol/Bytes.h"

namespace dovrel::controller {

// Sends wake-on-LAN packets as UDP broadcasts on this computer's networks.
class WakeSender {
public:
    virtual ~WakeSender() = default;
    // The packet to `broadcast` (host order) on every wake port, leaving from the local address `source`
    // (host order); true when at least one datagram was handed to the kernel.
    virtual bool sendBroadcast(const wex::Bytes& packet, uint32_t source, uint32_t broadcast) = 0;
};

// Plain UDP datagrams to `ports`, in that order (the wake ports 9 and 7; tests name free ones).
std::unique_ptr<WakeSender> makeUdpWakeSender(std::vector<uint16_t> ports);

} // namespace dovrel::controller
