#pragma once

#include <optional>
#include <string_view>

#include "agent/net/RelayEndpoint.h"

namespace dovrel::agent {

// The node a relay's redirect reply names: the text split at ":" with empty pieces dropped must give
// exactly a host and a decimal port of 0 to 65535. Anything else (no port, a port too large or not
// decimal, a host with a colon of its own such as a bracketed IPv6 literal) gives nothing, and the
// redirect is ignored.
std::optional<RelayEndpoint> parseRedirectTarget(std::string_view text);

} // namespace dovrel::agent
