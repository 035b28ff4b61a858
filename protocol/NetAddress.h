#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/Bytes.h"

namespace wex {

using MACAddress = std::array<uint8_t, 6>;

// Twelve hex digits; ":", "-", "." and blanks may stand anywhere between them.
std::optional<MACAddress> parseMAC(std::string_view text);
// Two lower-case hex digits a byte, joined by ":".
std::string formatMAC(ByteView bytes);

// Exactly four dot-separated decimal numbers of 1 to 3 digits, each 0-255; host order.
std::optional<uint32_t> parseIPv4(std::string_view text);
std::string formatIPv4(uint32_t address);

constexpr uint32_t subnetBroadcast(uint32_t address, uint32_t mask) { return address | ~mask; }
constexpr bool sameSubnet(uint32_t a, uint32_t b, uint32_t mask) { return ((a ^ b) & mask) == 0; }

} // namespace wex
