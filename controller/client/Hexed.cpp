#include "controller/client/Hexed.h"

#include <algorithm>

namespace dovrel::controller {

std::string hexed(wex::ByteView bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0f]);
    }
    return out;
}

std::string agentIdFromKey(wex::ByteView staticPub) {
    return hexed(staticPub.first(std::min<std::size_t>(16, staticPub.size())));
}

wex::FixedBytes<24> nonce24() {
    wex::FixedBytes<24> out{};
    wex::Crypto::fillRandom(out.data(), out.size());
    return out;
}

std::string lowercased(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

} // namespace dovrel::controller
