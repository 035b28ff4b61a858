#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace wex {

// The relay node a redirect reply names.
struct RedirectTarget {
    std::string host;
    uint16_t port = 0;
    bool operator==(const RedirectTarget&) const = default;
};

// A redirect's "host:port" text split at ":" with empty pieces dropped must give exactly a host and a
// decimal port of 0 to 65535. Anything else (no port, a port too large, signed or not decimal, a host
// with a colon of its own such as a bracketed IPv6 literal) gives nothing, and the redirect is ignored.
std::optional<RedirectTarget> parseRelayRedirect(std::string_view text);

} // namespace wex
