#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "protocol/Bytes.h"
#include "protocol/NetAddress.h"

namespace wex::MagicPacket {

inline constexpr std::size_t size = 102;
// The emitter sends every packet to each, in this order.
inline constexpr std::array<uint16_t, 2> ports = {9, 7};

// Six 0xFF bytes, then the hardware address sixteen times.
Bytes bytes(const MACAddress& mac);

} // namespace wex::MagicPacket
