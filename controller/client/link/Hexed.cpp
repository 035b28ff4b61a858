#include "controller/client/link/Hexed.h"

#include <algorithm>

namespace dovrel::controller {

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
