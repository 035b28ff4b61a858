#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/NetAddress.h"

namespace wex {

// An IPv4 interface a wake packet can leave on; address and mask in host order.
struct LANInterface {
    std::string name;
    uint32_t address = 0;
    uint32_t mask = 0;

    uint32_t directedBroadcast() const { return subnetBroadcast(address, mask); }
    bool operator==(const LANInterface&) const = default;
};

// Up, broadcast-capable, running, not loopback, with a non-zero address and mask; empty when the
// system cannot list its interfaces.
std::vector<LANInterface> lanInterfaces();

// The interfaces whose subnet holds `target`; when none does (or target is 0), all of them if
// `allInterfaces`, else none.
std::vector<LANInterface> eligibleInterfaces(uint32_t target, bool allInterfaces);
std::vector<LANInterface> eligibleInterfaces(const std::vector<LANInterface>& usable, uint32_t target,
                                             bool allInterfaces);

bool isOnSameLAN(uint32_t target);
bool isOnSameLAN(const std::vector<LANInterface>& usable, uint32_t target);

} // namespace wex
