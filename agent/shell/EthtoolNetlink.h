#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace dovrel::agent {

// Whether `interface` wakes the computer on a magic packet, asked through the kernel's ethtool netlink
// family, which answers every user (the older ioctl wants administrator rights). Nothing when the
// kernel has no such family or the interface cannot say.
std::optional<bool> ethtoolWakeOnMagicPacket(const std::string& interface);

// The wake-mode bits in the attributes of an ethtool WOL_GET reply (the bytes after the generic netlink
// header), with compact bit sets; nothing when the reply holds none. Checks every length it reads.
std::optional<uint32_t> parseWakeModes(const std::vector<uint8_t>& attributes);

} // namespace dovrel::agent
