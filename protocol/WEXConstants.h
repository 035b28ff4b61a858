#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace wex {

// The largest payload a frame header can describe: its length field has 16 bits.
inline constexpr std::size_t maxFramePayload = 65535;

namespace WEX {

inline constexpr uint8_t protocolMajor = 1;
inline constexpr uint8_t headerMagic = 0x52; // "R"
inline constexpr uint16_t controlPort = 47810; // TCP
inline constexpr uint16_t videoPort = 47811;   // UDP, agent to controller
inline constexpr uint16_t inputPort = 47812;   // UDP, controller to agent
inline constexpr std::string_view relayHost = "relay.dovrel.net";
inline constexpr uint16_t relayPort = 8443;
inline constexpr std::string_view relayApiHost = "api.dovrel.net";
inline constexpr uint16_t relayApiPort = 443;
// Declared for peers; our packetizer cuts video at 1000 bytes and no component times reassembly.
inline constexpr int fragmentBudget = 1200;
inline constexpr int reassemblyTimeoutMs = 200;

// "https://host", with ":port" unless the port is 443.
std::string apiBase(std::string_view host, uint16_t port);

} // namespace WEX
} // namespace wex
