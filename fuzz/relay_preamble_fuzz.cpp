// Relay replies from arbitrary bytes: the parser never reads past what it was given, its verdicts are
// consistent as more bytes arrive, and the builders and share-code counter take any text.
#include <algorithm>
#include <cstdlib>
#include <string_view>
#include <variant>

#include "FuzzSeeds.h"
#include "protocol/RelayPreamble.h"
#include "protocol/ShareCode.h"

using namespace wex;
using namespace wex::RelayRegister;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const ByteView in(data, size);
    const Preamble whole = parsePreamble(in);
    if (const auto* n = std::get_if<NonceReply>(&whole)) {
        if (n->consumed != 37 || n->nonce.size() != nonceSize || n->consumed > size) std::abort();
    } else if (const auto* r = std::get_if<RedirectReply>(&whole)) {
        if (r->consumed > size || r->consumed < 7) std::abort();
    }
    // A verdict reached on fewer bytes stands once more bytes arrive.
    if (size > 0) {
        const Preamble shorter = parsePreamble(in.first(size - 1));
        if (std::holds_alternative<Passthrough>(shorter) && !std::holds_alternative<Passthrough>(whole)) std::abort();
        if ((std::holds_alternative<NonceReply>(shorter) || std::holds_alternative<RedirectReply>(shorter)) &&
            !(shorter == whole))
            std::abort();
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (shareCodeLength(text) > size) std::abort();
    if (size > 0xFFFF) return 0; // the builders refuse texts their counts cannot say
    const Bytes v1 = encode(RelayRole::client, text);
    if (v1.size() != 8 + size) std::abort();
    const Bytes v2 = encodeV2(RelayRole::agent, text, text, text, in.first(std::min<std::size_t>(size, 32)));
    if (v2.size() != 13 + 3 * size + std::min<std::size_t>(size, 32)) std::abort();
    if (challenge(RelayRole::agent, text, text, in).size() != 12 + 3 * size) std::abort();
    return 0;
}

std::vector<Bytes> fuzzSeeds() {
    const auto text = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
    Bytes nonce = text("DRLYN");
    nonce.resize(37, 0x5A);
    Bytes redirect = text("DRLYR");
    redirect.insert(redirect.end(), {0, 14});
    const Bytes target = text("eu.relay:8443");
    redirect.insert(redirect.end(), target.begin(), target.end());
    redirect.push_back(0x52);
    return {nonce, redirect, text("ABCD-EFGH"), {0x52, 0x01, 0x01}};
}
