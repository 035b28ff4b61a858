#include "protocol/NetAddress.h"

#include <vector>

namespace wex {

std::optional<MACAddress> parseMAC(std::string_view text) {
    std::vector<uint8_t> nibbles;
    // Any byte outside ASCII belongs to a character that is neither digit nor separator.
    for (char c : text) {
        if (c >= '0' && c <= '9') nibbles.push_back(static_cast<uint8_t>(c - '0'));
        else if (c >= 'a' && c <= 'f') nibbles.push_back(static_cast<uint8_t>(c - 'a' + 10));
        else if (c >= 'A' && c <= 'F') nibbles.push_back(static_cast<uint8_t>(c - 'A' + 10));
        else if (c == ':' || c == '-' || c == '.' || c == ' ') continue;
        else return std::nullopt;
        if (nibbles.size() > 12) return std::nullopt;
    }
    if (nibbles.size() != 12) return std::nullopt;
    MACAddress mac{};
    for (std::size_t i = 0; i < 6; ++i) mac[i] = static_cast<uint8_t>(nibbles[2 * i] << 4 | nibbles[2 * i + 1]);
    return mac;
}

std::string formatMAC(ByteView bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i) out += ':';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0x0F];
    }
    return out;
}

std::optional<uint32_t> parseIPv4(std::string_view text) {
    uint32_t address = 0;
    int parts = 0;
    std::size_t start = 0;
    while (true) {
        const std::size_t dot = text.find('.', start);
        const std::string_view piece = text.substr(start, dot == std::string_view::npos ? text.npos : dot - start);
        if (++parts > 4 || piece.empty() || piece.size() > 3) return std::nullopt;
        uint32_t value = 0;
        for (char c : piece) {
            if (c < '0' || c > '9') return std::nullopt;
            value = value * 10 + static_cast<uint32_t>(c - '0');
        }
        if (value > 255) return std::nullopt;
        address = address << 8 | value;
        if (dot == std::string_view::npos) break;
        start = dot + 1;
    }
    if (parts != 4) return std::nullopt;
    return address;
}

std::string formatIPv4(uint32_t address) {
    return std::to_string(address >> 24) + "." + std::to_string((address >> 16) & 0xFF) + "." +
           std::to_string((address >> 8) & 0xFF) + "." + std::to_string(address & 0xFF);
}

} // namespace wex
