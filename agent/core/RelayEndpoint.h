#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace dovrel::agent {

// One relay region: a host and a port.
struct RelayEndpoint {
    std::string host;
    uint16_t port = 8443;

    // "host" (port 8443) or "host:port", split at the last ":", blanks and tabs trimmed. Nothing for an
    // empty text or a port that is not 0-65535 in decimal; the host may come out empty.
    static std::optional<RelayEndpoint> parse(std::string_view text);
    bool operator==(const RelayEndpoint&) const = default;
};

} // namespace dovrel::agent
