#include "protocol/Hex.h"

#include <algorithm>

namespace wex {

std::string hexed(ByteView bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out.push_back(digits[b >> 4]);
        out.push_back(digits[b & 0x0f]);
    }
    return out;
}

std::string deviceIdOfKey(ByteView staticPub) {
    return hexed(staticPub.first(std::min<std::size_t>(16, staticPub.size())));
}

} // namespace wex
