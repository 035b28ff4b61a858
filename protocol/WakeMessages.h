#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "protocol/Bytes.h"
#include "protocol/NetAddress.h"

namespace wex {

// Control message 32: wake the machine with this hardware address on the agent's network.
struct WakePeerRequest {
    static constexpr uint8_t version = 1;
    static constexpr uint8_t flagAllInterfaces = 0x01;
    static constexpr std::size_t maxNameBytes = 64;

    uint16_t reqId = 0;
    MACAddress mac{};
    uint32_t ipv4 = 0; // host order; 0 when unknown
    uint8_t flags = 0;
    std::string name;

    bool allInterfaces() const { return flags & flagAllInterfaces; }

    // The name is cut to its first 64 bytes, even inside a character; the reader repairs that. A longer
    // name from a peer is cut the same way when decoded.
    Bytes encode() const;
    static WakePeerRequest decode(ByteView payload);
    bool operator==(const WakePeerRequest&) const = default;
};

// Control message 33: what became of a wake request.
struct WakePeerAck {
    static constexpr uint8_t version = 1;
    static constexpr std::size_t maxDetailBytes = 160;

    enum class Status : uint8_t { sent = 0, noRoute = 1, sendFailed = 2, throttled = 3, badRequest = 4 };

    uint16_t reqId = 0;
    uint8_t status = 0; // kept as received, known or not
    uint8_t interfaces = 0;
    std::string detail;

    std::optional<Status> statusCase() const;
    std::string humanReason() const;

    Bytes encode() const;
    static WakePeerAck decode(ByteView payload);
    bool operator==(const WakePeerAck&) const = default;
};

} // namespace wex
