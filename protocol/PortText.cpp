#include "protocol/PortText.h"

namespace wex {

std::optional<uint16_t> parsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value > 65535) return std::nullopt;
    return static_cast<uint16_t>(value);
}

} // namespace wex
