#include "protocol/RelayRedirect.h"

#include <charconv>
#include <vector>

namespace wex {

std::optional<RedirectTarget> parseRelayRedirect(std::string_view text) {
    std::vector<std::string_view> pieces;
    while (!text.empty()) {
        const std::size_t colon = text.find(':');
        const std::string_view piece = text.substr(0, colon);
        if (!piece.empty()) pieces.push_back(piece);
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    if (pieces.size() != 2) return std::nullopt;
    const std::string_view port = pieces[1];
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), value);
    if (ec != std::errc() || end != port.data() + port.size() || value > 65535) return std::nullopt;
    return RedirectTarget{std::string(pieces[0]), static_cast<uint16_t>(value)};
}

} // namespace wex
