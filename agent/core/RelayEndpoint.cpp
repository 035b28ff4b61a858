#include "agent/core/RelayEndpoint.h"

namespace dovrel::agent {

std::optional<RelayEndpoint> RelayEndpoint::parse(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return RelayEndpoint{std::string(text), 8443};
    const std::string_view digits = text.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return std::nullopt;
    uint32_t port = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') return std::nullopt;
        port = port * 10 + static_cast<uint32_t>(c - '0');
    }
    if (port > 65535) return std::nullopt;
    return RelayEndpoint{std::string(text.substr(0, colon)), static_cast<uint16_t>(port)};
}

} // namespace dovrel::agent
