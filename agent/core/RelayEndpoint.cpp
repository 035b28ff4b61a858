#include "agent/core/RelayEndpoint.h"

#include "protocol/PortText.h"

namespace dovrel::agent {

std::optional<RelayEndpoint> RelayEndpoint::parse(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return RelayEndpoint{std::string(text), 8443};
    const auto port = wex::parsePort(text.substr(colon + 1));
    if (!port) return std::nullopt;
    return RelayEndpoint{std::string(text.substr(0, colon)), *port};
}

} // namespace dovrel::agent
