#include "protocol/SessionKeys.h"

#include <algorithm>
#include <string_view>

namespace wex {

namespace {
constexpr std::string_view sessionKeysInfo = "WEX/1 session keys";
} // namespace

std::optional<Direction> directionFromRaw(uint8_t raw) {
    if (raw > 1) return std::nullopt;
    return static_cast<Direction>(raw);
}

SessionKeys SessionKeys::derive(ByteView shared, ByteView clientEphPub, ByteView agentEphPub) {
    Bytes both;
    both.reserve(clientEphPub.size() + agentEphPub.size());
    both.insert(both.end(), clientEphPub.begin(), clientEphPub.end());
    both.insert(both.end(), agentEphPub.begin(), agentEphPub.end());
    const auto salt = Crypto::sha256Fixed(both);

    Bytes okm = Crypto::hkdfSha256(shared, salt, asciiView(sessionKeysInfo), 2 * keySize);
    SessionKeys keys;
    std::copy_n(okm.begin(), keySize, keys.c2a.data());
    std::copy_n(okm.begin() + keySize, keySize, keys.a2c.data());
    Crypto::wipe(okm.data(), okm.size());
    return keys;
}

SessionKeys SessionKeys::fromBytes(ByteView c2a, ByteView a2c) {
    const auto c = fixedBytes<keySize>(c2a);
    const auto a = fixedBytes<keySize>(a2c);
    if (!c || !a) throw CryptoError("a session key has 32 bytes");
    return {Key(*c), Key(*a)};
}

WEXNonce wexNonce(Direction direction, Stream stream, uint32_t seq) {
    WEXNonce n{};
    n[0] = static_cast<uint8_t>(direction);
    n[1] = static_cast<uint8_t>(stream);
    n[8] = static_cast<uint8_t>(seq >> 24);
    n[9] = static_cast<uint8_t>(seq >> 16);
    n[10] = static_cast<uint8_t>(seq >> 8);
    n[11] = static_cast<uint8_t>(seq);
    return n;
}

} // namespace wex
