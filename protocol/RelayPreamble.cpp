#include "protocol/RelayPreamble.h"

#include <algorithm>
#include <limits>

#include "protocol/Crypto.h"
#include "protocol/UTF8.h"

namespace wex {

std::optional<RelayRole> relayRoleFromRaw(uint8_t raw) {
    if (raw < 1 || raw > 2) return std::nullopt;
    return static_cast<RelayRole>(raw);
}

namespace RelayRegister {

namespace {

constexpr std::size_t maxStr16 = std::numeric_limits<uint16_t>::max();
constexpr std::size_t tagSize = 5;

void appendText(Bytes& out, std::string_view text) {
    const ByteView b = asciiView(text);
    out.insert(out.end(), b.begin(), b.end());
}

bool startsWith(ByteView bytes, std::string_view prefix) {
    const ByteView p = asciiView(prefix);
    return bytes.size() >= p.size() && std::equal(p.begin(), p.end(), bytes.begin());
}

// Whether the received bytes (fewer than the tag) are the tag's beginning.
bool isTagPrefix(ByteView bytes, std::string_view tag) {
    return std::equal(bytes.begin(), bytes.end(), asciiView(tag).begin());
}

} // namespace

bool appendStr16(Bytes& out, std::string_view text) {
    if (text.size() > maxStr16) return false;
    out.push_back(static_cast<uint8_t>(text.size() >> 8));
    out.push_back(static_cast<uint8_t>(text.size()));
    appendText(out, text);
    return true;
}

Bytes encode(RelayRole role, std::string_view room) {
    Bytes out;
    out.reserve(8 + room.size());
    appendText(out, magic);
    out.push_back(1);
    out.push_back(static_cast<uint8_t>(role));
    if (!appendStr16(out, room)) return {};
    return out;
}

Bytes encodeV2(RelayRole role, std::string_view account, std::string_view room, std::string_view token,
               ByteView pubKey) {
    if (pubKey.size() > maxPubKeySize) return {};
    Bytes out;
    out.reserve(13 + account.size() + room.size() + token.size() + pubKey.size());
    appendText(out, magic);
    out.push_back(2);
    out.push_back(static_cast<uint8_t>(role));
    if (!appendStr16(out, account) || !appendStr16(out, room) || !appendStr16(out, token)) return {};
    out.push_back(static_cast<uint8_t>(pubKey.size()));
    out.insert(out.end(), pubKey.begin(), pubKey.end());
    return out;
}

Bytes challenge(RelayRole role, std::string_view account, std::string_view room, ByteView nonce) {
    Bytes out;
    out.reserve(challengePrefix.size() + 5 + account.size() + room.size() + nonce.size());
    appendText(out, challengePrefix);
    out.push_back(0);
    out.push_back(static_cast<uint8_t>(role));
    out.push_back(0);
    appendText(out, account);
    out.push_back(0);
    appendText(out, room);
    out.push_back(0);
    out.insert(out.end(), nonce.begin(), nonce.end());
    return out;
}

Preamble parsePreamble(ByteView received) {
    const std::size_t n = received.size();
    if (n < tagSize) {
        if (isTagPrefix(received, nonceTag) || isTagPrefix(received, redirectTag)) return NeedMore{};
        return Passthrough{};
    }
    if (startsWith(received, nonceTag)) {
        constexpr std::size_t total = tagSize + nonceSize;
        if (n < total) return NeedMore{};
        const auto nonce = received.subspan(tagSize, nonceSize);
        return NonceReply{Bytes(nonce.begin(), nonce.end()), total};
    }
    if (startsWith(received, redirectTag)) {
        if (n < tagSize + 2) return NeedMore{};
        const std::size_t length = std::size_t{received[5]} << 8 | received[6];
        const std::size_t total = tagSize + 2 + length;
        if (n < total) return NeedMore{};
        return RedirectReply{repairUTF8(received.subspan(tagSize + 2, length)), total};
    }
    return Passthrough{};
}

} // namespace RelayRegister

} // namespace wex
