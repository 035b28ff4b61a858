#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/RelayIdentity.h"

namespace dovrel::controller {

// Which relay credentials and node a relay connection uses. Account and token come from a pairing
// link when it carries both; then the node is its "host:port" relay text (port 8443 when the port is
// missing or not a number; the default node when the text has no colon). Without link credentials the
// stored relay account serves, else no account on the default node.
wex::RelayIdentity chooseRelayIdentity(const std::optional<std::string>& qrAccount,
                                       const std::optional<std::string>& qrToken,
                                       const std::optional<std::string>& qrRelay,
                                       const std::optional<wex::RelayIdentity>& storedAccount,
                                       const std::string& defaultHost, uint16_t defaultPort);

// The agent's address on the local network as a pairing link or a user gives it: "host",
// "host:port" or "[v6]:port". The port, when one is named, replaces the control port; an address with
// several colons and no brackets is an IPv6 literal and is dialled whole.
struct LanTarget {
    std::string host;
    std::optional<uint16_t> port;
    bool operator==(const LanTarget&) const = default;
};
LanTarget parseLanTarget(std::string_view text);

} // namespace dovrel::controller
