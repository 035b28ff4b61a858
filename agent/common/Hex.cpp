#include "agent/common/Hex.h"

namespace dovrel::agent {

std::string hex(wex::ByteView bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 0x0F];
    }
    return out;
}

} // namespace dovrel::agent
