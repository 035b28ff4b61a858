#include "protocol/PairingCode.h"

#include <string>

namespace wex {

namespace {
constexpr std::string_view pairingPrefix = "WEX-pair-v1:";
} // namespace

FixedBytes<32> pairingCodeKey(std::string_view code) {
    std::string input;
    input.reserve(pairingPrefix.size() + code.size());
    input.append(pairingPrefix).append(code);
    const auto key = Crypto::sha256Fixed(asciiView(input));
    Crypto::wipe(input.data(), input.size());
    return key;
}

} // namespace wex
